// One differential for every way a key column becomes codes: on random
// columns of integers (narrow, strided, wide), floats, byte strings and
// code points, at sizes coded by one task and by many, the codes must be
// equal exactly where the values are and ordered as a std::map orders them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "keys/float_codes.hpp"
#include "keys/integer_codes.hpp"
#include "keys/string_dictionary.hpp"
#include "keys/row_numbering.hpp"
#include "keys/utf8.hpp"

namespace orven::keys {
namespace {

bool never_stop(void*) noexcept { return false; }

// Row r's code, read through its part's table where the codes have tables.
std::vector<std::uint32_t> final_codes(const KeyCodes& codes, std::size_t rows) {
    std::vector<std::uint32_t> out(codes.codes.get(), codes.codes.get() + rows);
    for (const KeyCodes::Part& part : codes.parts) {
        for (std::size_t r = part.begin; r < part.end; ++r) out[r] = codes.tables[part.table][out[r]];
    }
    return out;
}

// Codes equal iff values equal, and ascending as the values are under `less`.
template <class V, class Less = std::less<V>>
void expect_codes_follow_values(const std::vector<V>& values, const KeyCodes& codes, Less less = {}) {
    const std::vector<std::uint32_t> got = final_codes(codes, values.size());
    std::map<V, std::uint32_t, Less> code_of(less);
    for (std::size_t r = 0; r < values.size(); ++r) {
        ASSERT_LT(got[r], codes.range);
        const auto [at, added] = code_of.emplace(values[r], got[r]);
        ASSERT_EQ(at->second, got[r]) << "row " << r << ": one value, two codes";
    }
    std::int64_t previous = -1;
    for (const auto& [value, code] : code_of) {
        ASSERT_GT(static_cast<std::int64_t>(code), previous) << "codes out of the values' order";
        previous = code;
    }
}

// Rows drawn from `distinct` values, in runs (as sorted frames have) or shuffled.
template <class V>
std::vector<V> rows_of(const std::vector<V>& distinct, std::size_t rows, bool runs, std::mt19937_64& rng) {
    std::vector<V> out(rows);
    for (std::size_t r = 0; r < rows; ++r) out[r] = distinct[runs ? r * distinct.size() / rows : rng() % distinct.size()];
    return out;
}

constexpr std::size_t serial_rows = 1000;
constexpr std::size_t parallel_rows = 400'000;

TEST(KeyCodingTest, IntegerCodesFollowTheValuesHoweverTheySpread) {
    std::mt19937_64 rng(7);
    pool::Interruption never(&never_stop, nullptr);
    for (const std::size_t rows : {serial_rows, parallel_rows}) {
        for (const std::size_t distinct : {std::size_t{3}, rows / 4}) {
            // Narrow in runs, strided (days in nanoseconds, a prime), wide
            // shuffled, wide sorted.
            for (int spread = 0; spread < 5; ++spread) {
                const std::int64_t step = spread == 1 ? 86'400'000'000'000 : spread == 2 ? 1'000'003 : 1;
                std::vector<std::int64_t> values(distinct);
                for (std::size_t i = 0; i < distinct; ++i) {
                    const auto base = static_cast<std::int64_t>(i) - static_cast<std::int64_t>(distinct / 2);
                    values[i] = spread >= 3 ? static_cast<std::int64_t>(rng()) : base * step - 5;
                }
                if (spread == 4) std::sort(values.begin(), values.end());
                const std::vector<std::int64_t> column = rows_of(values, rows, spread == 0 || spread == 4, rng);
                CodedColumn coded = integer_codes<std::int64_t>(column, std::nullopt, never);
                ASSERT_EQ(coded.outcome, CodingOutcome::coded);
                expect_codes_follow_values(column, coded.codes);
                std::vector<std::uint64_t> unsigned_column(column.begin(), column.end());
                coded = integer_codes<std::uint64_t>(unsigned_column, std::nullopt, never);
                expect_codes_follow_values(unsigned_column, coded.codes);
                // The null is found wherever it is.
                std::vector<std::int64_t> with_null = column;
                with_null[rng() % rows] = std::numeric_limits<std::int64_t>::min();
                coded = integer_codes<std::int64_t>(with_null, std::numeric_limits<std::int64_t>::min(), never);
                EXPECT_EQ(coded.outcome, CodingOutcome::null_found);
            }
        }
    }
}

TEST(KeyCodingTest, FloatCodesTakeBothZerosAsOneAndNaNAsNull) {
    std::mt19937_64 rng(11);
    pool::Interruption never(&never_stop, nullptr);
    const double awkward[] = {0.0, -0.0, 1.0, -1.0, 2.5, std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::denorm_min(),
                              -std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max(),
                              -std::numeric_limits<double>::max(), 9007199254740992.0, 9007199254740994.0};
    // -0.0 and 0.0 compare equal, as the codes must.
    const auto less = [](double a, double b) { return a < b; };
    for (const std::size_t rows : {serial_rows, parallel_rows}) {
        for (const bool integers : {true, false}) {
            std::vector<double> values;
            for (std::size_t i = 0; i < rows / 8; ++i) {
                values.push_back(integers ? std::trunc(static_cast<double>(rng() % 100000) - 50000.0)
                                          : awkward[rng() % std::size(awkward)] * static_cast<double>(1 + rng() % 6));
            }
            values.push_back(-0.0);
            values.push_back(0.0);
            const std::vector<double> column = rows_of(values, rows, false, rng);
            CodedColumn coded = float_codes<double>(column, never);
            ASSERT_EQ(coded.outcome, CodingOutcome::coded);
            expect_codes_follow_values(column, coded.codes, less);
            const std::vector<float> narrow(column.begin(), column.end());
            coded = float_codes<float>(narrow, never);
            expect_codes_follow_values(narrow, coded.codes, [](float a, float b) { return a < b; });
            std::vector<double> with_nan = column;
            with_nan[rng() % rows] = std::nan("");
            EXPECT_EQ(float_codes<double>(with_nan, never).outcome, CodingOutcome::null_found);
        }
    }
}

// Bytes from a small alphabet (zero and 0xff among it) over shared
// prefixes of many lengths, so that ties run across several words.
std::string random_bytes(std::mt19937_64& rng) {
    static const std::string prefixes[] = {"", "a", "sensor_", "sensor_00000000", std::string(20, 'x')};
    std::string text = prefixes[rng() % std::size(prefixes)];
    const std::size_t length = rng() % 12;
    for (std::size_t i = 0; i < length; ++i) text.push_back("\0\x01az\x7f\x80\xff"[rng() % 7]);
    return text;
}

TEST(KeyCodingTest, StringNumberingFollowsByteOrder) {
    std::mt19937_64 rng(13);
    pool::Interruption never(&never_stop, nullptr);
    for (const std::size_t rows : {serial_rows, parallel_rows}) {
        for (const std::size_t distinct : {std::size_t{5}, rows / 3}) {
            std::vector<std::string> values(distinct);
            for (std::string& value : values) value = random_bytes(rng);
            const std::vector<std::string> column = rows_of(values, rows, false, rng);
            const KeyCodes coded = number_rows<StringDictionary>(
                rows, memory::row_buffer<std::uint32_t>(rows), [&](std::size_t r) { return std::string_view(column[r]); },
                never);
            expect_codes_follow_values(column, coded);
        }
    }
}

// Python's order of str: code point by code point, lone surrogates included.
TEST(KeyCodingTest, TextAsUtf8NumbersInCodePointOrder) {
    std::mt19937_64 rng(17);
    pool::Interruption never(&never_stop, nullptr);
    const std::uint32_t points[] = {0, 0x41, 0x7f, 0x80, 0xe9, 0xff, 0x100, 0x7ff, 0x800, 0xd7ff,
                                    0xd800, 0xdbff, 0xdc00, 0xdfff, 0xe000, 0xfffd, 0xffff, 0x10000, 0x1f600, 0x10ffff};
    std::vector<std::u32string> values(5000);
    for (std::u32string& value : values) {
        const std::size_t length = rng() % 6;
        for (std::size_t i = 0; i < length; ++i) value.push_back(points[rng() % std::size(points)]);
    }
    const std::vector<std::u32string> column = rows_of(values, parallel_rows, false, rng);
    std::vector<std::string> bytes(column.size());
    for (std::size_t r = 0; r < column.size(); ++r) units_as_utf8(column[r].data(), column[r].size(), bytes[r]);
    const KeyCodes coded = number_rows<StringDictionary>(
        column.size(), memory::row_buffer<std::uint32_t>(column.size()),
        [&](std::size_t r) { return std::string_view(bytes[r]); }, never);
    expect_codes_follow_values(column, coded);
}

}  // namespace
}  // namespace orven::keys
