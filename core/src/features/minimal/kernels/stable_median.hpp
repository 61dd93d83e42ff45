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
// No sort: the elements inside a window around the middle (median_window
// estimates one from a sample) are gathered into the working copy while the
// series is read, by whatever pass feeds `candidates()`, and select_middle
// finds the middle values among them.  A zero in the middle gets its sign
// from the stable order: the zeros stand there in series order right after
// the negative elements.  The series is never written.
class StableMedian {
public:
    // Any window gives the same median: one that misses the middle only
    // costs a second selection, among all elements.  The working copy is
    // allocated here, and its failure is std::bad_alloc.
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

}  // namespace orven::features::minimal::kernels
