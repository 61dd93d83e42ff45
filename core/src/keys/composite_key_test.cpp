// The composite key against a plain lexicographic reference: random key
// columns of random ranges (products below 2^32, above it, and above 2^64,
// which densifies between folds), some given as provisional codes with
// tables, settled with and without a final densify.  Rows must fall in
// one bucket exactly where their tuples of codes are equal, buckets must
// ascend as the tuples do, and bucket values must ascend with the buckets.

#include "keys/composite_key.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "keys/direct_range.hpp"

namespace orven::keys {
namespace {

bool never_stop(void*) noexcept { return false; }

// Codes in [0, range) for every row, drawn from `used` of them; given
// either as they are or as provisional codes with one table per half.
KeyCodes random_column(const std::vector<std::uint32_t>& codes, std::uint64_t range, bool provisional,
                       std::mt19937_64& rng) {
    const std::size_t rows = codes.size();
    KeyCodes column;
    column.codes = memory::row_buffer<std::uint32_t>(rows);
    column.range = range;
    if (!provisional) {
        std::copy(codes.begin(), codes.end(), column.codes.get());
        return column;
    }
    // Each half numbers its codes 0, 1, ... as met; its table gives them back.
    for (const std::size_t half : {0, 1}) {
        const std::size_t begin = rows * half / 2;
        const std::size_t end = rows * (half + 1) / 2;
        std::vector<std::uint32_t> table;
        std::vector<std::uint32_t> order(rows + 1);
        std::iota(order.begin(), order.end(), 0u);
        std::shuffle(order.begin(), order.end(), rng);
        for (std::size_t r = begin; r < end; ++r) {
            const auto found = std::find(table.begin(), table.end(), codes[r]);
            column.codes[r] = static_cast<std::uint32_t>(found - table.begin());
            if (found == table.end()) table.push_back(codes[r]);
        }
        column.tables.push_back(table);
        column.parts.push_back(KeyCodes::Part{begin, end, half});
    }
    return column;
}

TEST(CompositeKeyTest, BucketsOrderAndGroupRowsAsTheirTuplesOfCodes) {
    std::mt19937_64 rng(3);
    pool::Interruption never(&never_stop, nullptr);
    const std::uint64_t ranges[] = {1, 2, 7, 1000, 1u << 20, std::uint64_t{1} << 31, std::uint64_t{3} << 30};
    for (const std::size_t rows : {std::size_t{500}, std::size_t{300'000}}) {
        for (int trial = 0; trial < 12; ++trial) {
            const std::size_t columns = 1 + rng() % 4;
            std::vector<std::vector<std::uint32_t>> tuples(columns, std::vector<std::uint32_t>(rows));
            CompositeKey key(rows);
            for (std::size_t c = 0; c < columns; ++c) {
                const std::uint64_t range = ranges[rng() % std::size(ranges)];
                // Few codes of a wide range, or any.
                std::vector<std::uint32_t> used(1 + rng() % 50);
                for (std::uint32_t& code : used) code = static_cast<std::uint32_t>(rng() % range);
                for (std::size_t r = 0; r < rows; ++r) {
                    tuples[c][r] = trial % 2 == 0 ? used[rng() % used.size()] : static_cast<std::uint32_t>(rng() % range);
                }
                key.fold(random_column(tuples[c], range, rng() % 2 == 0 && rows < 1000, rng), never);
            }
            key.finish(trial % 3 == 0 ? 1 : direct_range_limit(rows), never);

            const auto bucket = [&](std::size_t r) {
                return key.narrow() ? std::uint64_t{key.narrow_keys()[r]} : key.wide_keys()[r];
            };
            const auto tuple_less = [&](std::size_t a, std::size_t b) {
                for (std::size_t c = 0; c < columns; ++c) {
                    if (tuples[c][a] != tuples[c][b]) return tuples[c][a] < tuples[c][b];
                }
                return false;
            };
            std::vector<std::size_t> order(rows);
            std::iota(order.begin(), order.end(), std::size_t{0});
            std::sort(order.begin(), order.end(), tuple_less);
            for (std::size_t i = 0; i < rows; ++i) {
                ASSERT_LT(bucket(order[i]), key.bucket_count());
                if (i == 0) continue;
                const bool tied = !tuple_less(order[i - 1], order[i]);
                if (tied) {
                    ASSERT_EQ(bucket(order[i - 1]), bucket(order[i]));
                } else {
                    ASSERT_LT(bucket(order[i - 1]), bucket(order[i]));
                    ASSERT_LT(key.bucket_value(bucket(order[i - 1])), key.bucket_value(bucket(order[i])));
                }
            }
        }
    }
}

}  // namespace
}  // namespace orven::keys
