// The grouping against a plain reference: a stable sort of the row
// indices by (key, time).  Random keys of few and many groups, narrow and
// wide (beyond 32 bits, densified), rows in random, sorted and reversed
// order, times with ties, out of order and with -0.0 next to +0.0, sizes
// on both sides of the switch between the two paths; every value column
// must come out bit for bit in the reference's order, with NaN payloads
// kept.  Null and NaN times must be reported.

#include "grouping/group_rows.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "keys/direct_range.hpp"

namespace orven::grouping {
namespace {

bool never_stop(void*) noexcept { return false; }

keys::CompositeKey make_key(const std::vector<std::uint64_t>& values, pool::Interruption& never) {
    const std::size_t rows = values.size();
    keys::CompositeKey key(rows);
    // Two columns of 32 bits whose product may pass 2^32.
    for (const unsigned part : {1u, 0u}) {
        keys::KeyCodes column;
        column.codes = memory::row_buffer<std::uint32_t>(rows);
        std::uint64_t range = 1;
        for (std::size_t r = 0; r < rows; ++r) {
            column.codes[r] = static_cast<std::uint32_t>(values[r] >> (32 * part));
            range = std::max<std::uint64_t>(range, std::uint64_t{column.codes[r]} + 1);
        }
        column.range = range;
        key.fold(std::move(column), never);
    }
    key.finish(keys::direct_range_limit(rows), never);
    return key;
}

std::uint64_t bucket_of(const keys::CompositeKey& key, std::size_t r) {
    return key.narrow() ? key.narrow_keys()[r] : key.wide_keys()[r];
}

TEST(GroupRowsTest, MatchesAStableSortByKeyThenTime) {
    std::mt19937_64 rng(11);
    pool::Interruption never(&never_stop, nullptr);
    const std::uint64_t spans[] = {1, 3, 4096, 5000, 200'000, std::uint64_t{1} << 40};
    for (const std::size_t rows : {std::size_t{1}, std::size_t{700}, std::size_t{70'000}, std::size_t{300'000}}) {
        for (int trial = 0; trial < 24; ++trial) {
            const std::uint64_t span = spans[trial % std::size(spans)];
            const int order = (trial / 6) % 3;  // random, sorted, reversed
            const int time_kind = trial % 4;    // none, int, float, float with ties of +-0
            std::vector<std::uint64_t> values(rows);
            std::vector<std::uint64_t> drawn(std::min<std::uint64_t>(span, 1 + rng() % 60'000));
            for (auto& v : drawn) v = rng() % span;
            for (auto& v : values) v = drawn[rng() % drawn.size()];
            if (order == 1) std::sort(values.begin(), values.end());
            if (order == 2) std::sort(values.rbegin(), values.rend());
            std::vector<std::int64_t> ints(rows);
            std::vector<double> floats(rows);
            const bool in_order = rng() % 2 == 0;
            for (std::size_t r = 0; r < rows; ++r) {
                ints[r] = in_order ? static_cast<std::int64_t>(r / 3) : static_cast<std::int64_t>(rng() % 50) - 25;
                floats[r] = time_kind == 3 ? (rng() % 2 ? 0.0 : -0.0) * static_cast<double>(rng() % 3)
                                           : static_cast<double>(ints[r]) * 0.5;
            }
            // A value column of random bits (NaN payloads among them) and
            // one of the rows themselves.
            std::vector<double> bits(rows), row_numbers(rows);
            for (std::size_t r = 0; r < rows; ++r) {
                bits[r] = std::bit_cast<double>(rng());
                row_numbers[r] = static_cast<double>(r);
            }
            keys::CompositeKey key = make_key(values, never);
            TimeColumn time;
            if (time_kind == 1) {
                time.kind = TimeColumn::Kind::integer;
                time.integers = ints.data();
            } else if (time_kind >= 2) {
                time.kind = TimeColumn::Kind::floating;
                time.floats = floats.data();
            }
            std::vector<std::size_t> reference(rows);
            std::iota(reference.begin(), reference.end(), std::size_t{0});
            std::stable_sort(reference.begin(), reference.end(), [&](std::size_t a, std::size_t b) {
                if (bucket_of(key, a) != bucket_of(key, b)) return bucket_of(key, a) < bucket_of(key, b);
                if (time_kind == 1) return ints[a] < ints[b];
                if (time_kind >= 2) return floats[a] < floats[b];
                return false;
            });
            std::vector<double> out_bits(rows), out_rows(rows);
            const double* sources[] = {bits.data(), row_numbers.data()};
            double* targets[] = {out_bits.data(), out_rows.data()};
            const GroupedRows grouped = group_rows(key, time, sources, targets, never);
            ASSERT_EQ(grouped.time_problem, GroupedRows::TimeProblem::none);
            bool any_nan = false;
            for (std::size_t i = 0; i < rows; ++i) {
                ASSERT_EQ(out_rows[i], static_cast<double>(reference[i])) << "rows " << rows << " trial " << trial;
                ASSERT_EQ(std::bit_cast<std::uint64_t>(out_bits[i]), std::bit_cast<std::uint64_t>(bits[reference[i]]));
                any_nan |= std::isnan(bits[i]);
            }
            if (any_nan) {
                ASSERT_TRUE(grouped.any_nan);
            }
            std::size_t at = 0;
            for (std::uint64_t b = 0; b < grouped.buckets; ++b) {
                ASSERT_EQ(grouped.start[b], at);
                const std::size_t end = at + grouped.size(b);
                if (end > at) {
                    ASSERT_EQ(grouped.first_row[b],
                              static_cast<std::int64_t>(*std::min_element(reference.begin() + at, reference.begin() + end)));
                }
                at = end;
            }
            ASSERT_EQ(at, rows);

            // A bad time anywhere is reported.
            if (time_kind != 0 && rows > 1) {
                keys::CompositeKey again = make_key(values, never);
                const std::size_t bad = rng() % rows;
                if (time_kind == 1) {
                    time.has_null_value = true;
                    time.null_value = ints[bad];
                } else {
                    floats[bad] = std::nan("");
                }
                const GroupedRows refused = group_rows(again, time, sources, targets, never);
                ASSERT_EQ(refused.time_problem,
                          time_kind == 1 ? GroupedRows::TimeProblem::null : GroupedRows::TimeProblem::nan);
            }
        }
    }
}

}  // namespace
}  // namespace orven::grouping
