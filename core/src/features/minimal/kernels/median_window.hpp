#pragma once

#include <cstddef>

#include "features/common/series_view.hpp"

namespace orven::features::minimal::kernels {

// A value range expected to hold the middle of a series: the median's
// selection only needs the elements inside it and the count of those
// below it.
struct MedianWindow {
    double low;   // inclusive
    double high;  // inclusive
};

// Series shorter than this are selected on whole; the window is then
// unbounded.
inline constexpr std::size_t windowed_median_threshold = 2048;

// How many elements a series of n contributes to its sample (0 below the
// threshold).
std::size_t median_sample_size(std::size_t n);

// The window for a series without NaN, from a stratified sample of it: one
// element from each of `sample_size` equal strata, at a pseudo-random but
// fixed place in its stratum.  Its bounds are order statistics of the
// sample a few standard deviations either side of the sample's middle, so
// that the series' middle ranks fall inside with high probability; where a
// bound would lie past the sample's end it is infinite and cannot miss.
// Below the threshold the window is unbounded.  The sample and the
// selection's room take 3 * median_sample_size(n) doubles of their own
// (std::bad_alloc when they cannot be had).
MedianWindow median_window(common::SeriesView series);

}  // namespace orven::features::minimal::kernels
