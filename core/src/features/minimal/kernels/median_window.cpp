#include "features/minimal/kernels/median_window.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "features/common/element_read.hpp"
#include "features/minimal/kernels/middle_selection.hpp"
#include "memory/buffer.hpp"

namespace orven::features::minimal::kernels {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// A fixed scramble of the stratum index (splitmix64's finaliser), so that
// the sample does not beat in step with a periodic series.
std::uint64_t scramble(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

}  // namespace

std::size_t median_sample_size(std::size_t n) {
    if (n < windowed_median_threshold) {
        return 0;
    }
    // Sampling s elements costs about s; the window then holds about
    // 3n / sqrt(s) elements to select from; (0.75 n)^(2/3) balances the two.
    return static_cast<std::size_t>(std::cbrt(0.75 * static_cast<double>(n)) *
                                    std::cbrt(0.75 * static_cast<double>(n)));
}

MedianWindow median_window(common::SeriesView series) {
    const std::size_t n = series.size();
    const std::size_t s = median_sample_size(n);
    if (s == 0) {
        return {-inf, inf};
    }
    const std::size_t stratum = n / s;
    const auto room = memory::uninitialized_buffer<double>(3 * s);
    double* sample = room.get();
    for (std::size_t i = 0; i < s; ++i) {
        sample[i] = common::element_at(series, i * stratum + scramble(i) % stratum);
    }
    // The middle rank of the series maps to this rank of the sample; the
    // sample rank of a fixed quantile has a standard deviation of at most
    // sqrt(s) / 2, and the bounds sit three of those away.
    const double centre = static_cast<double>(n / 2) * static_cast<double>(s) / static_cast<double>(n);
    const double margin = 1.5 * std::sqrt(static_cast<double>(s)) + 1.0;
    const double low_rank = std::floor(centre - margin);
    const double high_rank = std::ceil(centre + margin);
    // Selection scrambles its buffers, so each bound works on a fresh copy.
    auto order_statistic = [&](double rank) {
        double* work = sample + s;
        std::copy(sample, sample + s, work);
        return select_middle(work, work + s, s, static_cast<std::size_t>(rank), false).lower;
    };
    return MedianWindow{
        low_rank >= 0.0 ? order_statistic(low_rank) : -inf,
        high_rank < static_cast<double>(s) ? order_statistic(high_rank) : inf,
    };
}

}  // namespace orven::features::minimal::kernels
