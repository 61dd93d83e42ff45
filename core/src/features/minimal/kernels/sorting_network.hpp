#pragma once

// Short ranges of doubles sorted by a fixed network of compare-exchanges:
// Batcher's odd-even merge sort (K. E. Batcher, "Sorting networks and
// their applications", AFIPS 1968) on 4, 8 or 16 places, the range padded
// with +inf.  Every comparison is a min and a max, no branch depends on
// the data, and every place has a fixed index, so the values stay in
// registers: on short random series this beats insertion sort, whose
// branches are mispredicted about once an element.  Sizes: 5, 19 and 63
// compare-exchanges.
//
// Only values come out: the min and max of two equal values (+0.0 and
// -0.0) may both be the same one, so the zeros' signs are not kept, as the
// selection that uses this promises.  No NaN may be among the values.

#include <array>
#include <cstddef>
#include <limits>
#include <utility>

#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::minimal::kernels {
namespace detail {

struct Exchange {
    std::size_t low;
    std::size_t high;
};

// Calls visit(low, high) for each compare-exchange of the odd-even merge
// sort of n = 2^k places, in order, as its iterative form gives them.
template <std::size_t n, class Visit>
constexpr void for_each_exchange(Visit visit) {
    for (std::size_t p = 1; p < n; p *= 2) {
        for (std::size_t k = p; k >= 1; k /= 2) {
            for (std::size_t j = k % p; j + k < n; j += 2 * k) {
                for (std::size_t i = 0; i < k && i + j + k < n; ++i) {
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p)) visit(i + j, i + j + k);
                }
            }
        }
    }
}

template <std::size_t n>
constexpr auto odd_even_merge_network() {
    constexpr std::size_t size = [] {
        std::size_t count = 0;
        for_each_exchange<n>([&](std::size_t, std::size_t) { ++count; });
        return count;
    }();
    std::array<Exchange, size> out{};
    std::size_t at = 0;
    for_each_exchange<n>([&](std::size_t low, std::size_t high) { out[at++] = Exchange{low, high}; });
    return out;
}

template <std::size_t n>
inline constexpr auto network = odd_even_merge_network<n>();

template <std::size_t n>
void sort_places(double* values, std::size_t count) noexcept {
    std::array<double, n> place;
    for (std::size_t i = 0; i < n; ++i) place[i] = i < count ? values[i] : std::numeric_limits<double>::infinity();
    [&]<std::size_t... e>(std::index_sequence<e...>) {
        const auto exchange = [&](Exchange x) {
            const double a = place[x.low];
            const double b = place[x.high];
            place[x.low] = lanes::minimum(a, b);
            place[x.high] = lanes::maximum(a, b);
        };
        (exchange(network<n>[e]), ...);
    }(std::make_index_sequence<network<n>.size()>{});
    for (std::size_t i = 0; i < count; ++i) values[i] = place[i];
}

}  // namespace detail

inline constexpr std::size_t network_sorted_range = 16;

// Sorts values[0, count), count <= network_sorted_range, by value.
inline void network_sort(double* values, std::size_t count) noexcept {
    if (count <= 4) {
        detail::sort_places<4>(values, count);
    } else if (count <= 8) {
        detail::sort_places<8>(values, count);
    } else {
        detail::sort_places<16>(values, count);
    }
}

}  // namespace orven::features::minimal::kernels
