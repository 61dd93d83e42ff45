#include "frames/integer_dictionary.hpp"

#include <algorithm>
#include <numeric>

namespace orven::bindings::frames {

void IntegerDictionary::rehash(std::size_t capacity) {
    slots_.assign(capacity, empty);
    mask_ = capacity - 1;
    for (std::uint32_t code = 0; code < keys_.size(); ++code) {
        std::size_t slot = detail::mix(keys_[code]) & mask_;
        while (slots_[slot] != empty) slot = (slot + 1) & mask_;
        slots_[slot] = code;
    }
}

std::vector<std::uint32_t> IntegerDictionary::ranks() const {
    std::vector<std::uint32_t> order(keys_.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return keys_[a] < keys_[b]; });
    std::vector<std::uint32_t> rank(keys_.size());
    for (std::uint32_t place = 0; place < order.size(); ++place) rank[order[place]] = place;
    return rank;
}

}  // namespace orven::bindings::frames
