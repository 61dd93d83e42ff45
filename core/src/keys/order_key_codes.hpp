#pragma once

// A column coded by its order keys (order_keys.hpp), three ways by how they
// spread.  One pass finds their least and greatest, their common step
// (stride.hpp) and whether they never descend; where the range divided by
// the step is below the direct limit (direct_range.hpp), a second pass
// writes each row's place in it (codes with gaps, as indexed directly);
// where the keys ascend (a frame sorted by them), a second pass numbers
// their runs; otherwise the rows are numbered by dictionaries
// (row_numbering.hpp).  Every pass runs on the pool.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "keys/coded_column.hpp"
#include "keys/direct_range.hpp"
#include "keys/integer_dictionary.hpp"
#include "pool/row_blocks.hpp"
#include "keys/stride.hpp"
#include "keys/row_numbering.hpp"
#include "memory/row_buffer.hpp"
#include "pool/row_passes.hpp"

namespace orven::keys {

// The least and greatest order key of some rows, and their step.
struct KeyBounds {
    std::uint64_t low = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t high = 0;
    Stride stride;
    bool null = false;

    bool empty() const noexcept { return low > high; }
};

// What one pass over a column's order keys finds: their bounds, and
// whether they never descend (a frame sorted by the key), with what the
// numbering of such a column by its runs needs of each piece.
struct KeySurvey {
    struct Piece {
        KeyBounds bounds;
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        // Rows whose key differs from the row before, within the piece.
        std::uint64_t changes = 0;
        bool ascending = true;
    };

    KeyBounds all;
    bool ascending = true;
    std::vector<Piece> pieces;
};

// The survey of rows [0, rows) in pool::piece_count(rows) pieces.
// `key_of` and `is_null` are called by value on the workers: they should
// capture the column's pointer, not a reference to it.
template <class KeyOf, class IsNull>
KeySurvey key_survey(std::size_t rows, KeyOf key_of, IsNull is_null, pool::Interruption& interruption) {
    const std::size_t count = pool::piece_count(rows);
    KeySurvey survey;
    survey.pieces.resize(count);
    pool::run_tasks(count, [&](std::size_t p, const pool::Checkpoint& checkpoint) {
        const pool::RowRange range = pool::piece_rows(rows, count, p);
        if (range.begin == range.end) return;
        const std::uint64_t first = key_of(range.begin);
        KeySurvey::Piece piece{KeyBounds{first, first, Stride(), false}, first, first, 0, true};
        const bool whole = pool::for_each_block(range, checkpoint, [&](std::size_t begin, std::size_t end) {
            // In locals for the loop: the compiler keeps them in registers.
            std::uint64_t low = piece.bounds.low;
            std::uint64_t high = piece.bounds.high;
            Stride stride = piece.bounds.stride;
            bool null = piece.bounds.null;
            std::uint64_t previous = piece.last;
            std::uint64_t changes = piece.changes;
            bool ascending = piece.ascending;
            for (std::size_t r = begin; r < end; ++r) {
                null |= is_null(r);
                const std::uint64_t key = key_of(r);
                low = std::min(low, key);
                high = std::max(high, key);
                ascending &= key >= previous;
                changes += key != previous ? 1 : 0;
                previous = key;
                // Once the step is 1 every difference is a multiple of it.
                if (stride.step() != 1) stride.include(key >= first ? key - first : first - key);
            }
            piece = KeySurvey::Piece{KeyBounds{low, high, stride, null}, first, previous, changes, ascending};
        });
        if (whole) survey.pieces[p] = piece;
    }, interruption);
    const KeySurvey::Piece* before = nullptr;
    for (const KeySurvey::Piece& piece : survey.pieces) {
        if (piece.bounds.empty()) continue;
        survey.all.low = std::min(survey.all.low, piece.bounds.low);
        survey.all.high = std::max(survey.all.high, piece.bounds.high);
        survey.all.null |= piece.bounds.null;
        survey.ascending &= piece.ascending && (before == nullptr || before->last <= piece.first);
        before = &piece;
    }
    // Every key is first + a multiple of its piece's step, and every first
    // differs from the least by a multiple of the step sought.
    for (const KeySurvey::Piece& piece : survey.pieces) {
        if (piece.bounds.empty()) continue;
        survey.all.stride.include(piece.bounds.stride.step());
        survey.all.stride.include(piece.first - survey.all.low);
    }
    return survey;
}

// Codes of a column whose keys never descend: each row's code is the
// number of its run of equal keys, dense and in order.  Each piece starts
// from the runs of the pieces before it, known from the survey.
template <class KeyOf>
KeyCodes numbered_by_runs(std::size_t rows, memory::RowBuffer<std::uint32_t> codes, KeyOf key_of,
                          const KeySurvey& survey, pool::Interruption& interruption) {
    const std::size_t count = survey.pieces.size();
    std::vector<std::uint32_t> first_run(count, 0);
    std::uint64_t runs = 0;
    const KeySurvey::Piece* before = nullptr;
    for (std::size_t p = 0; p < count; ++p) {
        const KeySurvey::Piece& piece = survey.pieces[p];
        if (piece.bounds.empty()) continue;
        if (before == nullptr || before->last != piece.first) ++runs;
        first_run[p] = static_cast<std::uint32_t>(runs - 1);
        runs += piece.changes;
        before = &piece;
    }
    std::uint32_t* const target = codes.get();
    pool::run_tasks(count, [&](std::size_t p, const pool::Checkpoint& checkpoint) {
        const pool::RowRange range = pool::piece_rows(rows, count, p);
        if (range.begin == range.end) return;
        std::uint32_t run = first_run[p];
        std::uint64_t previous = survey.pieces[p].first;
        pool::for_each_block(range, checkpoint, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r) {
                const std::uint64_t key = key_of(r);
                run += key != previous ? 1u : 0u;
                previous = key;
                target[r] = run;
            }
        });
    }, interruption);
    KeyCodes out;
    out.codes = std::move(codes);
    out.range = runs;
    return out;
}

// Codes of rows [0, rows) by their order keys; null_found for a null row.
template <class KeyOf, class IsNull>
CodedColumn coded_by_order_keys(std::size_t rows, KeyOf key_of, IsNull is_null,
                                pool::Interruption& interruption) {
    CodedColumn out;
    auto codes = memory::row_buffer<std::uint32_t>(rows);
    if (rows == 0) {
        out.codes.codes = std::move(codes);
        return out;
    }
    const KeySurvey survey = key_survey(rows, key_of, is_null, interruption);
    const KeyBounds& bounds = survey.all;
    if (bounds.null) {
        out.outcome = CodingOutcome::null_found;
        return out;
    }
    const Stride stride = bounds.stride.step() == 0 ? Stride(1) : bounds.stride;
    const std::uint64_t last = stride.quotient(bounds.high - bounds.low);
    if (last < direct_range_limit(rows)) {
        std::uint32_t* target = codes.get();
        const std::size_t pieces = pool::piece_count(rows);
        const std::uint64_t low = bounds.low;
        pool::run_tasks(pieces, [&](std::size_t p, const pool::Checkpoint& checkpoint) {
            pool::for_each_block(pool::piece_rows(rows, pieces, p), checkpoint, [&](std::size_t begin, std::size_t end) {
                for (std::size_t r = begin; r < end; ++r) {
                    target[r] = static_cast<std::uint32_t>(stride.quotient(key_of(r) - low));
                }
            });
        }, interruption);
        out.codes.codes = std::move(codes);
        out.codes.range = last + 1;
        return out;
    }
    if (survey.ascending) {
        out.codes = numbered_by_runs(rows, std::move(codes), key_of, survey, interruption);
        return out;
    }
    out.codes = number_rows<IntegerDictionary>(rows, std::move(codes), key_of, interruption);
    return out;
}

}  // namespace orven::keys
