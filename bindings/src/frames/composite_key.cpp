#include "frames/composite_key.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "frames/integer_dictionary.hpp"
#include "frames/released_interpreter.hpp"
#include "frames/row_tasks.hpp"

namespace orven::bindings::frames {

using memory::RowBuffer;
using memory::row_buffer;
namespace {

constexpr std::uint64_t narrow_range = std::uint64_t{1} << 32;

// target[r] = combine(r) for every row, on the pool.
template <class Out, class Combine>
void for_rows(std::size_t rows, Out* target, Combine combine, pool::Interruption& interruption) {
    const std::size_t pieces = piece_count(rows);
    run_released_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
        const RowRange range = piece_rows(rows, pieces, p);
        for (std::size_t r = range.begin; r < range.end; ++r) {
            if ((r - range.begin) % rows_between_checks == 0 && checkpoint.stop()) return;
            target[r] = combine(r);
        }
    }, interruption);
}

// target[r] = combine(r, code of row r) for every row, on the pool, the
// column's codes read through its tables where it has them.
template <class Out, class Combine>
void for_codes(std::size_t rows, const KeyCodes& column, Out* target, Combine combine,
               pool::Interruption& interruption) {
    const std::uint32_t* codes = column.codes.get();
    if (column.parts.empty()) {
        for_rows(rows, target, [&](std::size_t r) { return combine(r, codes[r]); }, interruption);
        return;
    }
    // Every part cut into tasks of about a piece each.
    struct Range {
        std::size_t begin;
        std::size_t end;
        const std::uint32_t* table;
    };
    const std::size_t most = std::max<std::size_t>(rows / piece_count(rows) + 1, rows_between_checks);
    std::vector<Range> ranges;
    for (const KeyCodes::Part& part : column.parts) {
        for (std::size_t at = part.begin; at < part.end; at += most) {
            ranges.push_back(Range{at, std::min(at + most, part.end), column.tables[part.table].data()});
        }
    }
    run_released_tasks(ranges.size(), [&](std::size_t i, const Checkpoint& checkpoint) {
        const Range range = ranges[i];
        for (std::size_t r = range.begin; r < range.end; ++r) {
            if ((r - range.begin) % rows_between_checks == 0 && checkpoint.stop()) return;
            target[r] = combine(r, range.table[codes[r]]);
        }
    }, interruption);
}

}  // namespace

void CompositeKey::fold(KeyCodes codes, pool::Interruption& interruption) {
    values_.clear();
    const std::uint64_t range = codes.range == 0 ? 1 : codes.range;
    if (!folded_) {
        // The first column's codes become the keys, renumbered in place.
        std::uint32_t* keys = codes.codes.get();
        if (!codes.parts.empty()) {
            for_codes(rows_, codes, keys, [](std::size_t, std::uint32_t code) { return code; }, interruption);
        }
        narrow_ = std::move(codes.codes);
        range_ = range;
        folded_ = true;
        return;
    }
    if (range_ > std::numeric_limits<std::uint64_t>::max() / range) {
        densify(interruption);
        values_.clear();
    }
    if (narrow() && range_ * range <= narrow_range) {
        std::uint32_t* keys = narrow_.get();
        const auto scale = static_cast<std::uint32_t>(range);
        for_codes(rows_, codes, keys, [&](std::size_t r, std::uint32_t code) { return keys[r] * scale + code; },
                  interruption);
    } else if (narrow()) {
        wide_ = row_buffer<std::uint64_t>(rows_);
        const std::uint32_t* keys = narrow_.get();
        for_codes(rows_, codes, wide_.get(),
                  [&](std::size_t r, std::uint32_t code) { return std::uint64_t{keys[r]} * range + code; },
                  interruption);
        narrow_.reset();
    } else {
        std::uint64_t* keys = wide_.get();
        for_codes(rows_, codes, keys, [&](std::size_t r, std::uint32_t code) { return keys[r] * range + code; },
                  interruption);
    }
    range_ *= range;
    spare_ = std::move(codes.codes);
}

void CompositeKey::densify(pool::Interruption& interruption) {
    IntegerDictionary dictionary;
    RowBuffer<std::uint32_t> dense = spare_ ? std::move(spare_) : row_buffer<std::uint32_t>(rows_);
    {
        const ReleasedInterpreter released;
        for (std::size_t r = 0; r < rows_; ++r) {
            if (r % rows_between_checks == 0) poll_on_caller(interruption);
            dense[r] = dictionary.code_of(narrow() ? narrow_[r] : wide_[r]);
        }
    }
    const std::vector<std::uint32_t> rank = dictionary.ranks();
    values_.assign(dictionary.size(), 0);
    for (std::uint32_t code = 0; code < rank.size(); ++code) values_[rank[code]] = dictionary.keys()[code];
    std::uint32_t* keys = dense.get();
    for_rows(rows_, keys, [&](std::size_t r) { return rank[keys[r]]; }, interruption);
    if (narrow()) {
        spare_ = std::move(narrow_);
    }
    wide_.reset();
    narrow_ = std::move(dense);
    range_ = dictionary.size();
}

void CompositeKey::finish(std::uint64_t limit, pool::Interruption& interruption) {
    if (!folded_) {
        // No key column at all: every row in one group.
        narrow_ = row_buffer<std::uint32_t>(rows_);
        std::memset(narrow_.get(), 0, rows_ * sizeof(std::uint32_t));
        range_ = 1;
        folded_ = true;
    }
    if (range_ > limit && range_ > 1) densify(interruption);
}

}  // namespace orven::bindings::frames
