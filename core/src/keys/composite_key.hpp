#pragma once

// The key of every row as one integer: the codes of the key columns
// combined in mixed radix, the first column the most significant, so that
// ordering the integers orders the rows by the first column, then the
// second, and so on.  The keys stay 32 bits wide while their range allows
// (the first column's codes become the keys, and later columns fold into
// them in place); wider products use 64 bits.  When a product would not
// fit in 64 bits, or the final range is too wide to count directly, the
// keys are renumbered densely (keeping their order) first, by dictionaries
// on the pool (task_numbering.hpp).  Every pass runs on the pool; the
// caller releases whatever it holds around them.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "keys/key_codes.hpp"
#include "memory/row_buffer.hpp"
#include "pool/interruption.hpp"

namespace orven::keys {

class CompositeKey {
public:
    explicit CompositeKey(std::size_t rows) noexcept : rows_(rows) {}

    // Appends a column (codes[r] in [0, range) for every row r).
    void fold(KeyCodes codes, pool::Interruption& interruption);

    // Settles the key for counting: afterwards every row's key is below
    // bucket_count() <= max(limit, 1), and bucket_value(b) gives the
    // combined value that bucket b stands for.  The grouping passes
    // direct_range_limit(rows) (direct_range.hpp).
    void finish(std::uint64_t limit, pool::Interruption& interruption);

    std::size_t rows() const noexcept { return rows_; }
    bool narrow() const noexcept { return !wide_; }
    const std::uint32_t* narrow_keys() const noexcept { return narrow_.get(); }
    const std::uint64_t* wide_keys() const noexcept { return wide_.get(); }
    std::uint64_t bucket_count() const noexcept { return range_; }
    std::uint64_t bucket_value(std::uint64_t bucket) const noexcept {
        return values_.empty() ? bucket : values_[bucket];
    }

    // A buffer of one 32-bit word per row that the key no longer needs
    // (a folded column's codes), or null: fresh memory costs a page fault
    // per page, so the grouping reuses it.
    memory::RowBuffer<std::uint32_t> take_spare() noexcept { return std::move(spare_); }

private:
    // Renumbers the keys 0, 1, ... in ascending order of their values,
    // into 32-bit keys.
    void densify(pool::Interruption& interruption);

    std::size_t rows_;
    memory::RowBuffer<std::uint32_t> narrow_;
    memory::RowBuffer<std::uint64_t> wide_;
    memory::RowBuffer<std::uint32_t> spare_;
    std::uint64_t range_ = 1;
    bool folded_ = false;
    // Sorted distinct combined values, once densified after the last fold.
    std::vector<std::uint64_t> values_;
};

}  // namespace orven::keys
