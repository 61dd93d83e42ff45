#pragma once

// Rows numbered by hash partitions, for columns of many distinct values:
// every pass streams through memory, and every lookup goes to a table
// small enough for the cache.
//
// Algorithm: radix partitioning, as in partitioned hash joins (P. A.
// Boncz, S. Manegold and M. L. Kersten, "Database architecture optimized
// for the new bottleneck: memory access", VLDB 1999), in four passes on
// the pool.  (1) Each row's partition, the top bits of its value's hash
// (4 to 8 of them, by the column's length), is written down and counted
// per task.  (2) The rows are scattered into
// partition order, stable by task: integers as their values, strings of
// up to 15 bytes as their bytes, longer ones as their row numbers.  (3) Each partition numbers its values in a dictionary of
// its own, writing the codes over what it scattered; the partitions'
// dictionaries, whose values are disjoint, are merged into one numbering
// in value order (task_numbering.hpp), and each partition rewrites its
// codes as ranks.  (4) The scatter is replayed: each
// task walks its rows again and takes every row's rank from its
// partition's next code, so the codes come back in row order without a
// row number stored.
//
// Cost: about 40 bytes of memory traffic a row for integers, all of it
// sequential save the 256 write streams of the scatter; a lookup a row in
// a table of the partition's values.  Worst case: values whose hashes
// share their top bits (none, with a finalising hash) would fall in one
// partition, as large as the whole.  Memory: 1 byte a row for the
// partitions and 8 (integers) or 16 (strings) for the scatter, beside the
// codes themselves.

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "keys/integer_dictionary.hpp"
#include "keys/key_codes.hpp"
#include "pool/row_blocks.hpp"
#include "keys/string_dictionary.hpp"
#include "keys/task_numbering.hpp"
#include "memory/row_buffer.hpp"
#include "pool/row_passes.hpp"

namespace orven::keys {

// What a row carries through the scatter, for each kind of dictionary,
// and how its code is written over it afterwards.
template <class Dictionary>
struct Carried;

// Integers travel as themselves.
template <>
struct Carried<IntegerDictionary> {
    using Value = std::uint64_t;
    template <class KeyOf>
    static Value carry(const KeyOf& key_of, std::size_t row) noexcept {
        return key_of(row);
    }
    template <class KeyOf>
    static std::uint32_t code_of(IntegerDictionary& dictionary, const KeyOf&, const Value& value) {
        return dictionary.code_of(value);
    }
    static void set_code(Value& value, std::uint32_t code) noexcept { value = code; }
    static std::uint32_t code(const Value& value) noexcept { return static_cast<std::uint32_t>(value); }
};

// Strings of up to 15 bytes travel as their bytes, the length in the
// high word's top byte (the 16th byte, which they lack), so that the
// partition pass reads them in sequence; longer ones as their row, marked
// by 0xff there, and are read again from the column.
template <>
struct Carried<StringDictionary> {
    struct Value {
        std::uint64_t low;
        std::uint64_t high;
    };
    static constexpr std::uint64_t bytes_below_top = (std::uint64_t{1} << 56) - 1;
    static constexpr std::uint64_t long_mark = 0xff;

    template <class KeyOf>
    static Value carry(const KeyOf& key_of, std::size_t row) noexcept {
        const std::string_view text = key_of(row);
        if (text.size() > 15) return Value{row, long_mark << 56};
        const ShortKey key = ShortKey::copy(text.data(), static_cast<std::uint32_t>(text.size()));
        return Value{key.low, key.high | (std::uint64_t{key.length} << 56)};
    }
    template <class KeyOf>
    static std::uint32_t code_of(StringDictionary& dictionary, const KeyOf& key_of, const Value& value) {
        const std::uint64_t length = value.high >> 56;
        if (length == long_mark) return dictionary.code_of(key_of(static_cast<std::size_t>(value.low)));
        return dictionary.code_of(ShortKey{value.low, value.high & bytes_below_top, static_cast<std::uint32_t>(length)});
    }
    static void set_code(Value& value, std::uint32_t code) noexcept { value.low = code; }
    static std::uint32_t code(const Value& value) noexcept { return static_cast<std::uint32_t>(value.low); }
};

inline constexpr int most_partition_bits = 8;

template <class Dictionary, class KeyOf>
KeyCodes numbered_by_partitions(std::size_t rows, memory::RowBuffer<std::uint32_t> codes, KeyOf key_of,
                                pool::Interruption& interruption,
                                std::vector<typename Dictionary::Key>* sorted = nullptr) {
    using Carrier = Carried<Dictionary>;
    using Value = typename Carrier::Value;
    // Partitions of about 2^14 rows, so of at most as many values, from 16
    // to 256 of them: fewer for short columns, whose fixed costs (a
    // dictionary and a merge share a partition) would otherwise dominate.
    const auto partition_bits =
        static_cast<unsigned>(std::clamp<int>(std::bit_width(rows >> 14), 4, most_partition_bits));
    const std::size_t partitions = std::size_t{1} << partition_bits;
    using Counts = std::array<std::size_t, std::size_t{1} << most_partition_bits>;

    const std::size_t tasks = pool::piece_count(rows);
    auto partition = memory::row_buffer<std::uint8_t>(rows);
    std::vector<Counts> counts(tasks);
    pool::run_tasks(tasks, [&](std::size_t t, const pool::Checkpoint& checkpoint) {
        Counts count{};
        std::uint8_t* const part = partition.get();
        pool::for_each_block(pool::piece_rows(rows, tasks, t), checkpoint, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r) {
                const auto p = static_cast<std::uint8_t>(Dictionary::hash(key_of(r)) >> (64 - partition_bits));
                part[r] = p;
                ++count[p];
            }
        });
        counts[t] = count;
    }, interruption);

    // Partition p's rows from task 0, then task 1, ...: where each task's
    // share of each partition starts, and where each partition starts.
    std::vector<Counts> starts(tasks);
    std::vector<std::size_t> partition_start(partitions + 1, 0);
    std::size_t at = 0;
    for (std::size_t p = 0; p < partitions; ++p) {
        partition_start[p] = at;
        for (std::size_t t = 0; t < tasks; ++t) {
            starts[t][p] = at;
            at += counts[t][p];
        }
    }
    partition_start[partitions] = at;

    auto scattered = memory::row_buffer<Value>(rows);
    pool::run_tasks(tasks, [&](std::size_t t, const pool::Checkpoint& checkpoint) {
        Counts next = starts[t];
        const std::uint8_t* const part = partition.get();
        Value* const target = scattered.get();
        pool::for_each_block(pool::piece_rows(rows, tasks, t), checkpoint, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r) target[next[part[r]]++] = Carrier::carry(key_of, r);
        });
    }, interruption);

    // Each partition's codes are written over what it scattered, in place.
    TaskNumbering<Dictionary> numbering(partitions);
    pool::run_tasks(partitions, [&](std::size_t p, const pool::Checkpoint& checkpoint) {
        Dictionary& dictionary = numbering.dictionary(p);
        Value* const carried = scattered.get();
        pool::for_each_block(pool::RowRange{partition_start[p], partition_start[p + 1]}, checkpoint,
                       [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                Carrier::set_code(carried[i], Carrier::code_of(dictionary, key_of, carried[i]));
            }
        });
    }, interruption);

    KeyCodes ranks;
    finish_numbering(numbering, ranks, interruption, sorted);
    pool::run_tasks(partitions, [&](std::size_t p, const pool::Checkpoint&) {
        const std::uint32_t* const rank = ranks.tables[p].data();
        Value* const carried = scattered.get();
        for (std::size_t i = partition_start[p]; i < partition_start[p + 1]; ++i) {
            Carrier::set_code(carried[i], rank[Carrier::code(carried[i])]);
        }
    }, interruption);

    pool::run_tasks(tasks, [&](std::size_t t, const pool::Checkpoint& checkpoint) {
        Counts next = starts[t];
        const std::uint8_t* const part = partition.get();
        const Value* const ranked = scattered.get();
        std::uint32_t* const target = codes.get();
        pool::for_each_block(pool::piece_rows(rows, tasks, t), checkpoint, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r) target[r] = Carrier::code(ranked[next[part[r]]++]);
        });
    }, interruption);

    KeyCodes out;
    out.codes = std::move(codes);
    out.range = ranks.range;
    return out;
}

}  // namespace orven::keys
