// The two-lane operations mean what the kernels rely on (the second operand
// wins a tie of zeros and any NaN), and every implementation the build has
// gives the same bits.

#include "features/minimal/kernels/two_lanes.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace orven::features::minimal::kernels {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }
double from_bits(std::uint64_t value) { return std::bit_cast<double>(value); }

// Values where implementations part ways if they part at all.
[[maybe_unused]] std::vector<double> palette() {
    std::vector<double> values = {
        0.0, -0.0, 1.0, -1.0, 2.5, -2.5, inf, -inf,
        5e-324, -5e-324, 2.2250738585072014e-308, -2.2250738585072009e-308,
        1.7976931348623157e308, -1.7976931348623157e308,
        from_bits(0x7ff8000000000000ULL),  // quiet NaN
        from_bits(0xfff8000000000001ULL),  // negative quiet NaN with a payload
    };
    std::mt19937_64 engine(11);
    for (int i = 0; i < 6; ++i) values.push_back(from_bits(engine()));  // any bits at all
    return values;
}

// Everything one implementation computes from the lanes (a, b) and (c, d),
// as bits.  The first pair is loaded from an odd byte address.
template <typename L>
std::vector<std::uint64_t> outcomes(double a, double b, double c, double d) {
    unsigned char bytes[1 + 2 * sizeof(double)];
    std::memcpy(bytes + 1, &a, sizeof a);
    std::memcpy(bytes + 1 + sizeof a, &b, sizeof b);
    const double second[2] = {c, d};
    const typename L::Pair x = L::load(reinterpret_cast<const double*>(bytes + 1));
    const typename L::Pair z = L::load(second);
    std::vector<std::uint64_t> out;
    auto pair = [&](typename L::Pair p) {
        double stored[2];
        L::store_low(stored, p);
        L::store_high(stored + 1, p);
        for (const double value : {L::low(p), L::high(p), stored[0], stored[1]}) {
            out.push_back(bits(value));
        }
    };
    pair(x);
    pair(L::splat(c));
    pair(L::pair(b, c));
    // Where two NaNs meet in arithmetic, which payload survives is up to
    // the processor (and to the compiler's operand order), so only the NaN
    // is compared there; a single NaN operand propagates its own bits.
    auto arithmetic = [&](typename L::Pair p, double x0, double z0, double x1, double z1) {
        const double lanes_of[2] = {L::low(p), L::high(p)};
        const bool both_nan[2] = {x0 != x0 && z0 != z0, x1 != x1 && z1 != z1};
        for (int i = 0; i < 2; ++i) {
            out.push_back(both_nan[i] ? std::uint64_t{lanes_of[i] != lanes_of[i]} : bits(lanes_of[i]));
        }
    };
    arithmetic(L::add(x, z), a, c, b, d);
    arithmetic(L::subtract(x, z), a, c, b, d);
    arithmetic(L::multiply(x, z), a, c, b, d);
    arithmetic(L::divide(x, z), a, c, b, d);
    arithmetic(L::square_root(x), a, a, b, b);
    for (const auto& [p, q] : {std::pair{a, c}, std::pair{b, d}, std::pair{a, -a}, std::pair{c, 0.0}}) {
        const typename L::Pair scalars =
            L::load(std::array<double, 2>{L::add(p, q), L::subtract(p, q)}.data());
        arithmetic(scalars, p, q, p, q);
        const typename L::Pair more =
            L::load(std::array<double, 2>{L::multiply(p, q), L::divide(p, q)}.data());
        arithmetic(more, p, q, p, q);
    }
    pair(L::maximum(x, z));
    pair(L::minimum(x, z));
    pair(L::magnitude(x));
    out.push_back(bits(L::maximum_across(x)));
    out.push_back(bits(L::minimum_across(x)));
    for (const auto mask : {L::is_nan(x), L::less(x, z), L::less_equal(x, z), L::greater_equal(x, z),
                            L::both(L::less_equal(x, z), L::greater_equal(x, z)),
                            L::either(L::less(x, z), L::is_nan(z))}) {
        out.push_back(static_cast<std::uint64_t>(L::bits(mask)));
    }
    typename L::Tally tally = L::zero_tally();
    tally = L::count(tally, L::less(x, z));
    tally = L::count(tally, L::is_nan(x));
    tally = L::count(tally, L::greater_equal(z, x));
    out.push_back(L::total(tally));
    return out;
}

TEST(TwoLanes, TheSecondOperandWinsTiesAndNaNAndMadeNaNsAreNegative) {
    const double nan = from_bits(0x7ff8000000000000ULL);
    const double negative_nan = from_bits(0xfff8000000000001ULL);
    struct Case {
        double a, b, maximum, minimum;
    };
    const Case cases[] = {
        {0.0, -0.0, -0.0, -0.0},  {-0.0, 0.0, 0.0, 0.0},
        {nan, 1.0, 1.0, 1.0},     {1.0, negative_nan, negative_nan, negative_nan},
        {nan, negative_nan, negative_nan, negative_nan},
        {2.0, 1.0, 2.0, 1.0},     {-inf, inf, inf, -inf},
    };
    for (const Case& c : cases) {
        const lanes::Pair a = lanes::splat(c.a);
        const lanes::Pair b = lanes::splat(c.b);
        for (const double lane : {lanes::low(lanes::maximum(a, b)), lanes::high(lanes::maximum(a, b))}) {
            EXPECT_EQ(bits(lane), bits(c.maximum)) << c.a << " max " << c.b;
        }
        for (const double lane : {lanes::low(lanes::minimum(a, b)), lanes::high(lanes::minimum(a, b))}) {
            EXPECT_EQ(bits(lane), bits(c.minimum)) << c.a << " min " << c.b;
        }
        // Across one pair: maximum(high, low).
        const double pair[2] = {c.b, c.a};
        EXPECT_EQ(bits(lanes::maximum_across(lanes::load(pair))), bits(c.maximum));
        EXPECT_EQ(bits(lanes::minimum_across(lanes::load(pair))), bits(c.minimum));
    }
    // A NaN made from numbers has the sign bit set, as x86-64 makes it at
    // run time.  The operands are hidden from the compiler, which folds
    // constants and moves negations its own way, NaN signs regardless.
    volatile double hidden[4] = {inf, -inf, 0.0, -0.0};
    const double i = hidden[0];
    const double minus_i = hidden[1];
    const double z = hidden[2];
    const double minus_z = hidden[3];
    const double made[] = {
        lanes::subtract(i, i),
        lanes::add(minus_i, i),
        lanes::multiply(z, i),
        lanes::divide(minus_z, z),
        lanes::low(lanes::subtract(lanes::splat(i), lanes::splat(i))),
        lanes::high(lanes::multiply(lanes::splat(i), lanes::splat(minus_z))),
    };
    for (std::size_t k = 0; k < std::size(made); ++k) {
        EXPECT_EQ(bits(made[k]), 0xfff8000000000000ULL) << "operation " << k;
    }
    const double signs[2] = {-0.0, negative_nan};
    const lanes::Pair magnitude = lanes::magnitude(lanes::load(signs));
    EXPECT_EQ(bits(lanes::low(magnitude)), 0u);
    EXPECT_EQ(bits(lanes::high(magnitude)), 0x7ff8000000000001ULL);
}

TEST(TwoLanes, CountsAndMasksFollowTheLanes) {
    const double values[2] = {1.0, from_bits(0x7ff8000000000000ULL)};
    const lanes::Pair x = lanes::load(values);
    const lanes::Pair two = lanes::splat(2.0);
    EXPECT_EQ(lanes::bits(lanes::is_nan(x)), 2);
    EXPECT_EQ(lanes::bits(lanes::less(x, two)), 1);
    EXPECT_EQ(lanes::bits(lanes::greater_equal(x, two)), 0);
    EXPECT_EQ(lanes::bits(lanes::either(lanes::less(x, two), lanes::is_nan(x))), 3);
    lanes::Tally tally = lanes::zero_tally();
    for (int i = 0; i < 5; ++i) tally = lanes::count(tally, lanes::either(lanes::less(x, two), lanes::is_nan(x)));
    tally = lanes::count(tally, lanes::is_nan(x));
    EXPECT_EQ(lanes::total(tally), 11u);
}

#if defined(ORVEN_LANES_SSE2)
TEST(TwoLanes, PlainCodeGivesTheBitsOfSse2) {
    const std::vector<double> values = palette();
    std::size_t compared = 0;
    for (const double a : values) {
        for (const double b : values) {
            for (const double c : {values[0], values[1], values[6], values[14], a, b}) {
                const double d = values[(compared * 7) % values.size()];
                ASSERT_EQ(outcomes<PortableLanes>(a, b, c, d), outcomes<Sse2Lanes>(a, b, c, d))
                    << "lanes (" << a << ", " << b << ") against (" << c << ", " << d << ")";
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, values.size() * values.size() * 6);
}
#endif

}  // namespace
}  // namespace orven::features::minimal::kernels
