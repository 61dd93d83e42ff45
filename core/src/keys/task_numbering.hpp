#pragma once

// Values numbered on the pool: each task codes its rows into a dictionary
// of its own, as the values come (no task waits for another), and the
// dictionaries are merged afterwards into one numbering in value order.
//
// Algorithm: the merge is a sample sort (W. D. Frazer and A. C. McKellar,
// "Samplesort", JACM 17(3), 1970) of the tasks' distinct values.  Splitters
// taken from a sample of them cut the value space into partitions of about
// equal counts; each partition, a task of its own, collects its values from
// every dictionary, sorts them by radix (value_order.hpp) and numbers them
// in order, a value met by several tasks (side by side once sorted) once.
// A value's rank is then its partition's offset plus its place within the
// partition, and each task's table maps its codes to ranks.
//
// Cost: the row pass is one lookup a row in a table of the task's distinct
// values; the merge reads each task's distinct values a few times, finds
// each one's partition among the splitters, and sorts them, all on the
// pool.  Worst case: every value is met by every task, so the merge sorts
// tasks x distinct values.  Memory: the dictionaries, about 24 bytes a
// distinct value of each task for integers, and the tables.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <type_traits>
#include <vector>

#include "keys/key_codes.hpp"
#include "keys/ranks.hpp"
#include "pool/row_passes.hpp"

namespace orven::keys {

template <class Dictionary>
class TaskNumbering {
public:
    using Key = typename Dictionary::Key;

    explicit TaskNumbering(std::size_t tasks) : dictionaries_(std::max<std::size_t>(tasks, 1)) {}

    std::size_t tasks() const noexcept { return dictionaries_.size(); }

    Dictionary& dictionary(std::size_t task) noexcept { return dictionaries_[task]; }

    // Rows [begin, end) of the codes hold codes of dictionary `task`.
    void add_rows(std::size_t begin, std::size_t end, std::size_t task) {
        if (begin < end) parts_.push_back(KeyCodes::Part{begin, end, task});
    }

    // The tables that turn every task's codes into ranks, the parts added,
    // and the number of distinct values, into `out`.
    void finish_into(KeyCodes& out, pool::Interruption& interruption) { finish(out, interruption, nullptr); }

    // The same, and the distinct values in ascending order into `sorted`
    // (integer keys only: a text would outlive the bytes it points to).
    void finish_into(KeyCodes& out, pool::Interruption& interruption, std::vector<Key>& sorted)
        requires std::is_integral_v<Key>
    {
        finish(out, interruption, &sorted);
    }

private:
    void finish(KeyCodes& out, pool::Interruption& interruption, std::vector<Key>* sorted) {
        if (tasks() == 1) {
            const Dictionary& only = dictionaries_[0];
            std::vector<Key> keys(only.size());
            for (std::uint32_t code = 0; code < keys.size(); ++code) keys[code] = only.key(code);
            const std::vector<std::uint32_t> order = Dictionary::order_of(keys);
            if (sorted != nullptr) {
                sorted->resize(order.size());
                for (std::size_t place = 0; place < order.size(); ++place) (*sorted)[place] = keys[order[place]];
            }
            out.tables.push_back(ranks_from_order(order));
            out.range = only.size();
        } else {
            merge_into(out, interruption, sorted);
        }
        out.parts = std::move(parts_);
    }

    // Fewer distinct values than this in all: one partition.
    static constexpr std::size_t serial_merge_limit = std::size_t{1} << 14;
    static constexpr std::size_t samples_per_partition = 16;

    std::size_t partition_count(std::size_t values) const {
        if (values < serial_merge_limit) return 1;
        return std::min<std::size_t>(16 * pool::global_pool().num_threads(), values / serial_merge_limit + 1);
    }

    // Up to `partitions - 1` distinct splitters, ascending, from values
    // spread evenly over every dictionary's codes.
    std::vector<Key> splitters(std::size_t partitions, std::size_t values) const {
        if (partitions < 2) return {};
        std::vector<Key> sample;
        const std::size_t wanted = partitions * samples_per_partition;
        for (const Dictionary& dictionary : dictionaries_) {
            const std::size_t share = std::max<std::size_t>(1, wanted * dictionary.size() / values);
            const std::size_t step = std::max<std::size_t>(1, dictionary.size() / share);
            for (std::size_t code = step / 2; code < dictionary.size(); code += step) {
                sample.push_back(dictionary.key(static_cast<std::uint32_t>(code)));
            }
        }
        std::sort(sample.begin(), sample.end());
        sample.erase(std::unique(sample.begin(), sample.end()), sample.end());
        std::vector<Key> chosen;
        for (std::size_t p = 1; p < partitions; ++p) {
            const Key& candidate = sample[p * sample.size() / partitions];
            if (chosen.empty() || chosen.back() < candidate) chosen.push_back(candidate);
        }
        return chosen;
    }

    // One task's codes listed partition by partition.
    struct Buckets {
        std::vector<std::uint32_t> codes;
        std::vector<std::size_t> starts;  // partitions + 1 entries
        std::span<const std::uint32_t> of(std::size_t p) const noexcept {
            return std::span(codes).subspan(starts[p], starts[p + 1] - starts[p]);
        }
    };

    // The partition of `key`: how many splitters are at or below it.  For
    // integers a count over all of them, free of branches (a binary
    // search mispredicts about every other step on random keys).
    static std::uint32_t partition_of(std::span<const Key> splitters, const Key& key) noexcept {
        if constexpr (std::is_integral_v<Key>) {
            std::uint32_t below = 0;
            for (const Key& splitter : splitters) below += splitter <= key ? 1u : 0u;
            return below;
        } else {
            return static_cast<std::uint32_t>(std::upper_bound(splitters.begin(), splitters.end(), key) -
                                              splitters.begin());
        }
    }

    static Buckets bucket(const Dictionary& dictionary, std::span<const Key> splitters) {
        const std::size_t partitions = splitters.size() + 1;
        std::vector<std::uint32_t> partition(dictionary.size());
        Buckets buckets;
        buckets.starts.assign(partitions + 1, 0);
        for (std::uint32_t code = 0; code < dictionary.size(); ++code) {
            const std::uint32_t p = partition_of(splitters, dictionary.key(code));
            partition[code] = p;
            ++buckets.starts[p + 1];
        }
        for (std::size_t p = 0; p < partitions; ++p) buckets.starts[p + 1] += buckets.starts[p];
        std::vector<std::size_t> next(buckets.starts.begin(), buckets.starts.end() - 1);
        buckets.codes.resize(dictionary.size());
        for (std::uint32_t code = 0; code < dictionary.size(); ++code) buckets.codes[next[partition[code]]++] = code;
        return buckets;
    }

    void merge_into(KeyCodes& out, pool::Interruption& interruption, std::vector<Key>* sorted) {
        const std::size_t task_count = tasks();
        std::size_t values = 0;
        for (const Dictionary& dictionary : dictionaries_) values += dictionary.size();
        const std::vector<Key> cuts = splitters(partition_count(values), values);
        const std::size_t partitions = cuts.size() + 1;

        std::vector<Buckets> buckets(task_count);
        std::vector<std::vector<std::uint32_t>> tables(task_count);
        pool::run_tasks(task_count, [&](std::size_t t, const pool::Checkpoint&) {
            buckets[t] = bucket(dictionaries_[t], cuts);
            tables[t].resize(dictionaries_[t].size());
        }, interruption);

        // Each partition sorts its values, those of every task together,
        // and numbers them in order, a value met by several tasks once:
        // tables[t][code] is then the value's place within its partition.
        std::vector<std::size_t> sizes(partitions);
        std::vector<std::vector<Key>> sorted_parts(sorted != nullptr ? partitions : 0);
        pool::run_tasks(partitions, [&](std::size_t p, const pool::Checkpoint&) {
            std::vector<Key> keys;
            std::vector<Source> sources;
            for (std::size_t t = 0; t < task_count; ++t) {
                for (const std::uint32_t code : buckets[t].of(p)) {
                    keys.push_back(dictionaries_[t].key(code));
                    sources.push_back(Source{static_cast<std::uint32_t>(t), code});
                }
            }
            const std::vector<std::uint32_t> order = Dictionary::order_of(keys);
            std::size_t distinct = 0;
            for (std::size_t place = 0; place < order.size(); ++place) {
                const std::uint32_t i = order[place];
                const bool new_value = place == 0 || !(keys[order[place - 1]] == keys[i]);
                if (new_value) {
                    ++distinct;
                    if (sorted != nullptr) sorted_parts[p].push_back(keys[i]);
                }
                tables[sources[i].task][sources[i].code] = static_cast<std::uint32_t>(distinct - 1);
            }
            sizes[p] = distinct;
        }, interruption);

        std::vector<std::uint32_t> offsets(partitions);
        std::size_t total = 0;
        for (std::size_t p = 0; p < partitions; ++p) {
            offsets[p] = static_cast<std::uint32_t>(total);
            total += sizes[p];
        }
        pool::run_tasks(task_count, [&](std::size_t t, const pool::Checkpoint&) {
            for (std::size_t p = 1; p < partitions; ++p) {
                for (const std::uint32_t code : buckets[t].of(p)) tables[t][code] += offsets[p];
            }
        }, interruption);
        if (sorted != nullptr) {
            sorted->clear();
            sorted->reserve(total);
            for (const std::vector<Key>& part : sorted_parts) sorted->insert(sorted->end(), part.begin(), part.end());
        }
        out.tables = std::move(tables);
        out.range = total;
    }

    // Where a value in a partition's sort came from.
    struct Source {
        std::uint32_t task;
        std::uint32_t code;
    };

    std::vector<Dictionary> dictionaries_;
    std::vector<KeyCodes::Part> parts_;
};

// numbering.finish_into(out, ...), with the sorted values where asked
// for and the keys are integers.
template <class Dictionary>
void finish_numbering(TaskNumbering<Dictionary>& numbering, KeyCodes& out, pool::Interruption& interruption,
                      std::vector<typename Dictionary::Key>* sorted) {
    if constexpr (std::is_integral_v<typename Dictionary::Key>) {
        if (sorted != nullptr) {
            numbering.finish_into(out, interruption, *sorted);
            return;
        }
    }
    numbering.finish_into(out, interruption);
}

}  // namespace orven::keys
