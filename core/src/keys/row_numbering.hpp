#pragma once

// A column's rows numbered densely in value order, on the pool, two ways
// by how many distinct values they hold.
//
// Few: each task numbers its consecutive rows in a dictionary of its own
// (task_numbering.hpp); the tables stay in cache and a row costs one
// lookup.  Many: a table of a million values lies far out of cache, where
// every lookup waits for memory (some 200 ns on a virtual machine with
// nested paging), so once a task's dictionary outgrows `cache_values` the
// rows are numbered by partitions instead (partitioned_numbering.hpp),
// each small enough for the cache, at the price of a few more passes that
// all stream through memory.  The work the first way did is dropped: a
// task meets at most a block of rows past the limit before it stops.
// Rows in runs of one value (a frame sorted by id) stay with the first
// way however many values they hold: a run's rows after its first find
// their value's slot in cache, so only one lookup a value waits, fewer
// than the partitions' passes cost; a task whose rows repeat the one
// before at least every other row counts as such.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "keys/key_codes.hpp"
#include "keys/partitioned_numbering.hpp"
#include "pool/row_blocks.hpp"
#include "keys/task_numbering.hpp"
#include "memory/row_buffer.hpp"
#include "pool/row_passes.hpp"

namespace orven::keys {

// The most distinct values a task's dictionary takes before the rows are
// numbered by partitions: a table of them (about 24 bytes a value) then
// lies in a core's second-level cache or just beyond it, where a lookup a
// row still costs less than the partitioning's four passes (measured on
// 6 M rows of 20,000 to 65,000 distinct strings or wide integers: 5-25%
// faster than partitions from 2^14 values on, never slower).
inline constexpr std::size_t cache_values = std::size_t{1} << 16;

// Rows [0, rows) numbered: codes[r] for the value key_of(r), provisional
// codes read through the result's tables.  `key_of` is called on the
// workers and should capture the column's pointer by value.  With
// `sorted` (integer keys), the distinct keys in ascending order too.
template <class Dictionary, class KeyOf>
KeyCodes number_rows(std::size_t rows, memory::RowBuffer<std::uint32_t> codes, KeyOf key_of,
                     pool::Interruption& interruption, std::vector<typename Dictionary::Key>* sorted = nullptr) {
    // One task a worker: the more tasks, the more often a value is met in
    // several and merged more than once.
    TaskNumbering<Dictionary> numbering(std::min(pool::piece_count(rows), pool::global_pool().num_threads()));
    const std::size_t tasks = numbering.tasks();
    std::uint32_t* const out = codes.get();
    std::atomic<bool> many{false};
    pool::run_tasks(tasks, [&](std::size_t t, const pool::Checkpoint& checkpoint) {
        Dictionary& dictionary = numbering.dictionary(t);
        const pool::RowRange range = pool::piece_rows(rows, tasks, t);
        if (range.begin == range.end) return;
        auto previous = key_of(range.begin);
        std::size_t repeats = 0;
        pool::for_each_block(range, checkpoint, [&](std::size_t begin, std::size_t end) {
            if (many.load(std::memory_order_relaxed)) return;
            std::size_t repeated = 0;
            for (std::size_t r = begin; r < end; ++r) {
                const auto key = key_of(r);
                // Counted without a branch: on shuffled rows it would
                // mispredict at every row.
                repeated += key == previous ? 1 : 0;
                previous = key;
                out[r] = dictionary.code_of(key);
            }
            repeats += repeated;
            if (dictionary.size() > cache_values && 2 * repeats < end - range.begin) {
                many.store(true, std::memory_order_relaxed);
            }
        });
    }, interruption);
    if (many.load(std::memory_order_relaxed)) {
        return numbered_by_partitions<Dictionary>(rows, std::move(codes), key_of, interruption, sorted);
    }
    for (std::size_t t = 0; t < tasks; ++t) {
        const pool::RowRange range = pool::piece_rows(rows, tasks, t);
        numbering.add_rows(range.begin, range.end, t);
    }
    KeyCodes result;
    finish_numbering(numbering, result, interruption, sorted);
    result.codes = std::move(codes);
    return result;
}

}  // namespace orven::keys
