#include "keys/integer_dictionary.hpp"

#include "keys/ranks.hpp"
#include "keys/value_order.hpp"

namespace orven::keys {

void IntegerDictionary::rehash(std::size_t capacity) {
    slots_.assign(capacity, empty);
    mask_ = capacity - 1;
    for (std::uint32_t code = 0; code < keys_.size(); ++code) {
        std::size_t slot = mix(keys_[code]) & mask_;
        while (slots_[slot] != empty) slot = (slot + 1) & mask_;
        slots_[slot] = code;
    }
}

std::vector<std::uint32_t> IntegerDictionary::order_of(std::span<const std::uint64_t> keys) {
    return integer_order(keys);
}

std::vector<std::uint32_t> IntegerDictionary::ranks() const { return ranks_from_order(order_of(keys_)); }

}  // namespace orven::keys
