#pragma once

// The kernel: the ten features of every window of one series, each with the
// bits of minimal::compute on that window's slice, in one pass along the
// series without copying a window out.
//
// The windows go in batches.  For a batch, the sums S and R of every window
// run side by side in vector lanes (lane_sums.hpp), then the means, then the
// sums of squared deviations Q the same way; the mean, variance, standard
// deviation and root mean square follow from them exactly as
// minimal::compute forms them.  The median and extrema come from one of two
// places, chosen for the whole call by how far apart the windows start:
//
//  - sliding (windows that overlap much): the window's readings held in the
//    stable order and slid along the series (sorted_window.hpp).  The
//    median is read off its middle, the minimum and maximum off its ends,
//    the absolute maximum from the two ends' magnitudes.  That is the block
//    procedure's result too, except where an extreme is zero and zeros of
//    both signs are held: there the block procedure itself is run on the
//    window (block_extrema.hpp).
//  - selecting (windows far apart): each window's median selected from a
//    copy, as minimal::compute selects it, and its extrema by the block
//    procedure.
//
// A window that holds nothing or holds a NaN is left to minimal::compute
// itself (which refuses two or more readings with a NaN, with its fatal
// error, as orven.extract_features would).
//
// Cost per window of w readings: the sums are the floor, four additions
// per reading (S, R, and Q's difference and sum) that no shortcut may
// regroup, spread over eight lanes at two additions per cycle: about w
// cycles.  Sliding adds a search and a move of about w / 3 doubles per
// reading that enters or leaves; selecting, a copy and an O(w) selection.
// Worst case: a window that does not overlap the one before while sliding
// (a gap in time) is sorted afresh, O(w log w).  Memory: one double per
// reading of the longest window, a few per window of a batch, and the
// selection's room (two per reading of the longest window); reused from
// call to call.

#include <cstddef>
#include <memory>
#include <span>

#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"
#include "features/rolling/sorted_window.hpp"
#include "features/rolling/window.hpp"
#include "pool/interruption.hpp"

namespace orven::features::rolling {

class WindowFeatures {
public:
    // Windows in a batch: enough to keep every lane busy, few enough that
    // a batch of long windows still ends well within an interruption's
    // patience.
    static constexpr std::size_t batch_windows = 128;

    // out[i] = minimal::compute(the slice of windows[i]) for every i.
    // Looks at the interruption after every batch: false if it was
    // cancelled before every window was done (the rest of `out` is then
    // unwritten).  Windows must lie within the series, begins and ends
    // never decreasing.
    bool compute(common::SeriesView series, std::span<const Window> windows,
                 std::span<minimal::FeatureValues> out,
                 const pool::Interruption* interruption = nullptr);

    // How the median and extrema are found: chosen from the windows
    // themselves unless a caller (a test) says.
    enum class Order { chosen, sliding, selecting };
    void force(Order order) noexcept { forced_ = order; }

private:
    // `readings`: those the windows hold together.
    static bool slides(std::span<const Window> windows, std::size_t readings);
    void compute_batch(const double* x, std::span<const Window> batch,
                       std::span<minimal::FeatureValues> out, bool sliding);
    double selected_median(common::SeriesView window);

    Order forced_ = Order::chosen;
    SortedWindow sorted_;
    // The batch's sums, means and roots, in five arrays of batch_windows.
    std::unique_ptr<double[]> sums_;
    // The selection's copy and scratch.
    std::unique_ptr<double[]> selection_;
    std::size_t selection_room_ = 0;
    // Where the latest NaN read stands, and how far the series was read.
    std::size_t read_ = 0;
    std::size_t latest_nan_ = 0;
    bool seen_nan_ = false;
};

}  // namespace orven::features::rolling
