#pragma once

// The vector operations of the kernels: two doubles side by side.  This is
// the one place that knows about a processor's vector instructions; every
// kernel reaches them through `lanes`, which is SSE2 on x86-64 and plain C++
// everywhere else (or anywhere, with ORVEN_PORTABLE_LANES defined).  Both
// give the same bits for every input: each operation below is defined by its
// plain form, and the SSE2 instruction chosen for it computes exactly that,
// NaN and signed zeros included.
//
// Arithmetic that can make a NaN out of numbers (inf - inf, 0 * inf, 0 / 0)
// goes through these functions too, scalar ones included: x86-64 makes the
// quiet NaN with the sign bit set there, other processors (AArch64) the one
// with it clear, and the results are defined as x86-64 gives them.  A NaN
// operand is passed on, the first one if both are NaN, made quiet.

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if (defined(__x86_64__) || defined(_M_X64)) && !defined(ORVEN_PORTABLE_LANES)
#define ORVEN_LANES_SSE2 1
#include <emmintrin.h>
#endif

namespace orven::features::minimal::kernels {

// Plain C++: what every operation means.
struct PortableLanes {

struct Pair {
    double lane[2];
};
// A lane's mask is all ones where a comparison holds, zero elsewhere.
struct Mask {
    std::uint64_t lane[2];
};
// Two independent counters.
struct Tally {
    std::uint64_t lane[2];
};

// The NaN that x86-64 makes from numbers alone.
static double made_nan() { return std::bit_cast<double>(std::uint64_t{0xfff8000000000000}); }
// What x86-64 gives for a NaN result of a with b.
[[gnu::cold, gnu::noinline]] static double nan_result(double a, double b) {
    constexpr std::uint64_t quiet = std::uint64_t{1} << 51;
    if (a != a) return std::bit_cast<double>(std::bit_cast<std::uint64_t>(a) | quiet);
    if (b != b) return std::bit_cast<double>(std::bit_cast<std::uint64_t>(b) | quiet);
    return made_nan();
}
static double add(double a, double b) {
    const double r = a + b;
    if (r != r) [[unlikely]] return nan_result(a, b);
    return r;
}
static double subtract(double a, double b) {
    const double r = a - b;
    if (r != r) [[unlikely]] return nan_result(a, b);
    return r;
}
static double multiply(double a, double b) {
    const double r = a * b;
    if (r != r) [[unlikely]] return nan_result(a, b);
    return r;
}
static double divide(double a, double b) {
    const double r = a / b;
    if (r != r) [[unlikely]] return nan_result(a, b);
    return r;
}

// Reads two consecutive elements from any byte address.
static Pair load(const double* from) {
    Pair pair;
    std::memcpy(pair.lane, reinterpret_cast<const unsigned char*>(from), sizeof pair.lane);
    return pair;
}
static Pair splat(double value) { return {{value, value}}; }
// Two values that need not lie side by side in memory.
static Pair pair(double low, double high) { return {{low, high}}; }
static double low(Pair pair) { return pair.lane[0]; }
static double high(Pair pair) { return pair.lane[1]; }
static void store_low(double* to, Pair pair) { *to = pair.lane[0]; }
static void store_high(double* to, Pair pair) { *to = pair.lane[1]; }

static Pair add(Pair a, Pair b) {
    return {{add(a.lane[0], b.lane[0]), add(a.lane[1], b.lane[1])}};
}
static Pair subtract(Pair a, Pair b) {
    return {{subtract(a.lane[0], b.lane[0]), subtract(a.lane[1], b.lane[1])}};
}
static Pair multiply(Pair a, Pair b) {
    return {{multiply(a.lane[0], b.lane[0]), multiply(a.lane[1], b.lane[1])}};
}
static Pair divide(Pair a, Pair b) {
    return {{divide(a.lane[0], b.lane[0]), divide(a.lane[1], b.lane[1])}};
}
// The correctly rounded root; of a value below zero, the made NaN.
static double square_root(double a) {
    const double r = std::sqrt(a);
    if (r != r) [[unlikely]] return nan_result(a, a);
    return r;
}
static Pair square_root(Pair a) { return {{square_root(a.lane[0]), square_root(a.lane[1])}}; }

// a > b ? a : b, lane by lane: b on a tie (+0.0 against -0.0) and whenever
// either is NaN.
static double maximum(double a, double b) { return a > b ? a : b; }
// a < b ? a : b, lane by lane, likewise b on a tie or NaN.
static double minimum(double a, double b) { return a < b ? a : b; }
static Pair maximum(Pair a, Pair b) {
    return {{maximum(a.lane[0], b.lane[0]), maximum(a.lane[1], b.lane[1])}};
}
static Pair minimum(Pair a, Pair b) {
    return {{minimum(a.lane[0], b.lane[0]), minimum(a.lane[1], b.lane[1])}};
}
// maximum(high, low) and minimum(high, low) of one pair.
static double maximum_across(Pair pair) { return maximum(pair.lane[1], pair.lane[0]); }
static double minimum_across(Pair pair) { return minimum(pair.lane[1], pair.lane[0]); }

// Each lane with its sign bit cleared (NaN payloads kept).
static Pair magnitude(Pair pair) {
    constexpr std::uint64_t no_sign = ~(std::uint64_t{1} << 63);
    return {{std::bit_cast<double>(std::bit_cast<std::uint64_t>(pair.lane[0]) & no_sign),
             std::bit_cast<double>(std::bit_cast<std::uint64_t>(pair.lane[1]) & no_sign)}};
}

static std::uint64_t mask_of(bool holds) { return holds ? ~std::uint64_t{0} : 0; }
static Mask is_nan(Pair p) {
    return {{mask_of(p.lane[0] != p.lane[0]), mask_of(p.lane[1] != p.lane[1])}};
}
static Mask less(Pair a, Pair b) {
    return {{mask_of(a.lane[0] < b.lane[0]), mask_of(a.lane[1] < b.lane[1])}};
}
static Mask less_equal(Pair a, Pair b) {
    return {{mask_of(a.lane[0] <= b.lane[0]), mask_of(a.lane[1] <= b.lane[1])}};
}
static Mask greater_equal(Pair a, Pair b) {
    return {{mask_of(a.lane[0] >= b.lane[0]), mask_of(a.lane[1] >= b.lane[1])}};
}
static Mask both(Mask a, Mask b) { return {{a.lane[0] & b.lane[0], a.lane[1] & b.lane[1]}}; }
static Mask either(Mask a, Mask b) { return {{a.lane[0] | b.lane[0], a.lane[1] | b.lane[1]}}; }
// Bit j set where lane j's mask is.
static int bits(Mask mask) {
    return static_cast<int>((mask.lane[0] >> 63) | ((mask.lane[1] >> 63) << 1));
}

static Tally zero_tally() { return {{0, 0}}; }
// Advances each counter whose lane's mask is set.
static Tally count(Tally tally, Mask mask) {
    return {{tally.lane[0] - mask.lane[0], tally.lane[1] - mask.lane[1]}};
}
static std::size_t total(Tally tally) { return static_cast<std::size_t>(tally.lane[0] + tally.lane[1]); }

};

#if defined(ORVEN_LANES_SSE2)
struct Sse2Lanes {

using Pair = __m128d;
using Mask = __m128d;
using Tally = __m128i;

static Pair load(const double* from) { return _mm_loadu_pd(from); }
static Pair splat(double value) { return _mm_set1_pd(value); }
static Pair pair(double low, double high) { return _mm_set_pd(high, low); }
static double low(Pair pair) { return _mm_cvtsd_f64(pair); }
static double high(Pair pair) { return _mm_cvtsd_f64(_mm_unpackhi_pd(pair, pair)); }
static void store_low(double* to, Pair pair) { _mm_storel_pd(to, pair); }
static void store_high(double* to, Pair pair) { _mm_storeh_pd(to, pair); }

static double add(double a, double b) { return a + b; }
static double subtract(double a, double b) { return a - b; }
static double multiply(double a, double b) { return a * b; }
static double divide(double a, double b) { return a / b; }

static Pair add(Pair a, Pair b) { return _mm_add_pd(a, b); }
static Pair subtract(Pair a, Pair b) { return _mm_sub_pd(a, b); }
static Pair multiply(Pair a, Pair b) { return _mm_mul_pd(a, b); }
static Pair divide(Pair a, Pair b) { return _mm_div_pd(a, b); }
static Pair square_root(Pair a) { return _mm_sqrt_pd(a); }

// maxpd(a, b) yields a where a > b and b otherwise; minpd likewise with <.
static double maximum(double a, double b) { return _mm_cvtsd_f64(_mm_max_sd(_mm_set_sd(a), _mm_set_sd(b))); }
static double minimum(double a, double b) { return _mm_cvtsd_f64(_mm_min_sd(_mm_set_sd(a), _mm_set_sd(b))); }
static Pair maximum(Pair a, Pair b) { return _mm_max_pd(a, b); }
static Pair minimum(Pair a, Pair b) { return _mm_min_pd(a, b); }
static double maximum_across(Pair pair) {
    return _mm_cvtsd_f64(_mm_max_sd(_mm_unpackhi_pd(pair, pair), pair));
}
static double minimum_across(Pair pair) {
    return _mm_cvtsd_f64(_mm_min_sd(_mm_unpackhi_pd(pair, pair), pair));
}

static Pair magnitude(Pair pair) { return _mm_andnot_pd(_mm_set1_pd(-0.0), pair); }

static Mask is_nan(Pair pair) { return _mm_cmpunord_pd(pair, pair); }
static Mask less(Pair a, Pair b) { return _mm_cmplt_pd(a, b); }
static Mask less_equal(Pair a, Pair b) { return _mm_cmple_pd(a, b); }
static Mask greater_equal(Pair a, Pair b) { return _mm_cmpge_pd(a, b); }
static Mask both(Mask a, Mask b) { return _mm_and_pd(a, b); }
static Mask either(Mask a, Mask b) { return _mm_or_pd(a, b); }
static int bits(Mask mask) { return _mm_movemask_pd(mask); }

static Tally zero_tally() { return _mm_setzero_si128(); }
// A set lane's all-ones mask is -1: subtracting it counts one.
static Tally count(Tally tally, Mask mask) { return _mm_sub_epi64(tally, _mm_castpd_si128(mask)); }
static std::size_t total(Tally tally) {
    return static_cast<std::size_t>(_mm_cvtsi128_si64(tally)) +
           static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(tally, tally)));
}

};

using lanes = Sse2Lanes;
#else
using lanes = PortableLanes;
#endif

}  // namespace orven::features::minimal::kernels
