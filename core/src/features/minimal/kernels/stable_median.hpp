#pragma once

#include <cstddef>
#include <memory>

#include "features/common/series_view.hpp"
#include "features/minimal/kernels/median_candidates.hpp"
#include "features/minimal/kernels/median_window.hpp"

namespace orven::features::minimal::kernels {

// The median of a series in which no element is NaN (a single element may
// be), with the bits that a stable ascending sort followed by picking the
// middle element, or halving the sum of the middle two, would give.
//
// No sort: a window around the middle is estimated from a sample, the
// elements inside it are gathered into the working copy while the series is
// read (by whatever pass feeds `candidates()`), and a selection among them
// finds the middle values.  A zero in the middle gets its sign from the
// stable order: the zeros stand there in series order right after the
// negative elements.  The series is never written.
class StableMedian {
public:
    explicit StableMedian(common::SeriesView series);

    // With a window of the caller's choosing.  Any window gives the same
    // median: one that misses the middle only costs a second selection.
    StableMedian(common::SeriesView series, MedianWindow window);

    // Feed every element of the series, in index order, exactly once.
    MedianCandidates& candidates() { return candidates_; }

    double finish();

private:
    common::SeriesView series_;
    std::size_t capacity_;
    std::unique_ptr<double[]> copy_;
    MedianCandidates candidates_;
};

// StableMedian with a pass of its own.
double stable_median(common::SeriesView series);

}  // namespace orven::features::minimal::kernels
