#include "frames/composite_key.hpp"

#include <limits>

#include "frames/integer_dictionary.hpp"
#include "memory/buffer.hpp"

namespace orven::bindings::frames {

CompositeKey::CompositeKey(std::size_t rows)
    : rows_(rows), keys_(memory::uninitialized_buffer<std::uint64_t>(rows)) {}

void CompositeKey::fold(const std::uint32_t* codes, std::uint64_t range) {
    values_.clear();
    if (range == 0) range = 1;
    if (!folded_) {
        for (std::size_t r = 0; r < rows_; ++r) keys_[r] = codes[r];
        range_ = range;
        folded_ = true;
        return;
    }
    if (range_ > std::numeric_limits<std::uint64_t>::max() / range) {
        densify();
        values_.clear();
    }
    for (std::size_t r = 0; r < rows_; ++r) keys_[r] = keys_[r] * range + codes[r];
    range_ *= range;
}

void CompositeKey::densify() {
    IntegerDictionary dictionary;
    auto provisional = memory::uninitialized_buffer<std::uint32_t>(rows_);
    for (std::size_t r = 0; r < rows_; ++r) provisional[r] = dictionary.code_of(keys_[r]);
    const std::vector<std::uint32_t> rank = dictionary.ranks();
    values_.assign(dictionary.size(), 0);
    for (std::uint32_t code = 0; code < rank.size(); ++code) values_[rank[code]] = dictionary.keys()[code];
    for (std::size_t r = 0; r < rows_; ++r) keys_[r] = rank[provisional[r]];
    range_ = dictionary.size();
}

void CompositeKey::finish(std::uint64_t limit) {
    if (!folded_) {
        // No key column at all: every row in one group.
        for (std::size_t r = 0; r < rows_; ++r) keys_[r] = 0;
        range_ = 1;
        folded_ = true;
    }
    if (range_ > limit && range_ > 1) densify();
}

}  // namespace orven::bindings::frames
