#include "keys/composite_key.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "keys/integer_dictionary.hpp"
#include "pool/row_blocks.hpp"
#include "keys/row_numbering.hpp"
#include "pool/row_passes.hpp"

namespace orven::keys {
namespace {

using memory::RowBuffer;
using memory::row_buffer;

constexpr std::uint64_t narrow_range = std::uint64_t{1} << 32;

// A row range read through one table (or none).
struct TableRange {
    std::size_t begin;
    std::size_t end;
    const std::uint32_t* table;
};

// The column's rows cut into tasks of about a piece each, none crossing
// from one table to another.
std::vector<TableRange> table_ranges(std::size_t rows, const KeyCodes& column) {
    std::vector<TableRange> ranges;
    const std::size_t most = std::max<std::size_t>(rows / pool::piece_count(rows) + 1, pool::rows_between_checks);
    const auto cut = [&](std::size_t begin, std::size_t end, const std::uint32_t* table) {
        for (std::size_t at = begin; at < end; at += most) ranges.push_back(TableRange{at, std::min(at + most, end), table});
    };
    if (column.parts.empty()) {
        cut(0, rows, nullptr);
    } else {
        for (const KeyCodes::Part& part : column.parts) cut(part.begin, part.end, column.tables[part.table].data());
    }
    return ranges;
}

// target[r] = combine(r, code of row r) for every row, on the pool, the
// column's codes read through its tables where it has them.
template <class Out, class Combine>
void for_codes(std::size_t rows, const KeyCodes& column, Out* target, Combine combine,
               pool::Interruption& interruption) {
    const std::uint32_t* codes = column.codes.get();
    const std::vector<TableRange> ranges = table_ranges(rows, column);
    pool::run_tasks(ranges.size(), [&](std::size_t i, const pool::Checkpoint& checkpoint) {
        const TableRange range = ranges[i];
        const std::uint32_t* const table = range.table;
        pool::for_each_block(pool::RowRange{range.begin, range.end}, checkpoint, [&](std::size_t begin, std::size_t end) {
            if (table != nullptr) {
                for (std::size_t r = begin; r < end; ++r) target[r] = combine(r, table[codes[r]]);
            } else {
                for (std::size_t r = begin; r < end; ++r) target[r] = combine(r, codes[r]);
            }
        });
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
        for_codes(rows_, codes, keys, [keys, scale](std::size_t r, std::uint32_t code) { return keys[r] * scale + code; },
                  interruption);
    } else if (narrow()) {
        wide_ = row_buffer<std::uint64_t>(rows_);
        const std::uint32_t* keys = narrow_.get();
        for_codes(rows_, codes, wide_.get(),
                  [keys, range](std::size_t r, std::uint32_t code) { return std::uint64_t{keys[r]} * range + code; },
                  interruption);
        narrow_.reset();
    } else {
        std::uint64_t* keys = wide_.get();
        for_codes(rows_, codes, keys, [keys, range](std::size_t r, std::uint32_t code) { return keys[r] * range + code; },
                  interruption);
    }
    range_ *= range;
    spare_ = std::move(codes.codes);
}

void CompositeKey::densify(pool::Interruption& interruption) {
    RowBuffer<std::uint32_t> dense = spare_ ? std::move(spare_) : row_buffer<std::uint32_t>(rows_);
    std::vector<std::uint64_t> sorted;
    KeyCodes numbered;
    if (narrow()) {
        const std::uint32_t* keys = narrow_.get();
        numbered = number_rows<IntegerDictionary>(
            rows_, std::move(dense), [keys](std::size_t r) { return std::uint64_t{keys[r]}; }, interruption, &sorted);
    } else {
        const std::uint64_t* keys = wide_.get();
        numbered = number_rows<IntegerDictionary>(
            rows_, std::move(dense), [keys](std::size_t r) { return keys[r]; }, interruption, &sorted);
    }
    // The ranks written over the provisional codes, in place.
    std::uint32_t* codes = numbered.codes.get();
    for_codes(rows_, numbered, codes, [](std::size_t, std::uint32_t rank) { return rank; }, interruption);
    if (narrow()) spare_ = std::move(narrow_);
    wide_.reset();
    narrow_ = std::move(numbered.codes);
    range_ = numbered.range;
    values_ = std::move(sorted);
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

}  // namespace orven::keys
