#pragma once

// The key of every row as one integer: the codes of the key columns
// combined in mixed radix, the first column the most significant, so that
// ordering the integers orders the rows by the first column, then the
// second, and so on.  When the product of the columns' ranges would not fit
// in 64 bits, or the final range is too wide to count directly, the
// integers are renumbered densely (keeping their order) first.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orven::bindings::frames {

class CompositeKey {
public:
    explicit CompositeKey(std::size_t rows);

    // Appends a column: `codes[r]` in [0, range) for every row r.
    void fold(const std::uint32_t* codes, std::uint64_t range);

    // Settles the key for counting: afterwards every row's key is below
    // bucket_count() <= max(limit, 1), and bucket_value(b) gives the
    // combined value that bucket b stands for.
    void finish(std::uint64_t limit);

    std::size_t rows() const noexcept { return rows_; }
    const std::uint64_t* keys() const noexcept { return keys_.get(); }
    std::uint64_t bucket_count() const noexcept { return range_; }
    std::uint64_t bucket_value(std::uint64_t bucket) const noexcept {
        return values_.empty() ? bucket : values_[bucket];
    }

private:
    // Renumbers the keys 0, 1, ... in ascending order of their values.
    void densify();

    std::size_t rows_;
    std::unique_ptr<std::uint64_t[]> keys_;
    std::uint64_t range_ = 1;
    bool folded_ = false;
    // Sorted distinct combined values, once densified after the last fold.
    std::vector<std::uint64_t> values_;
};

}  // namespace orven::bindings::frames
