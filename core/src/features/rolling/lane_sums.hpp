#pragma once

// The sums that the features of a window are made of, for many windows of
// one series at once.  Each window's sum is its own single accumulator,
// starting at -0.0 and adding the window's readings in index order, exactly
// as minimal::compute forms it for the window's slice; but the windows are
// independent chains, so several run side by side, one per vector lane,
// the lanes of a pair of doubles and several pairs to hide the addition's
// latency.  A lane that finishes its window takes the next one and starts
// afresh, so windows of any lengths keep every lane busy; nothing is padded
// and no window is copied out.
//
// Cost: one addition per reading per window for each sum, spread over the
// lanes: at best (all lanes busy, additions at full throughput) a quarter
// of the latency-bound cost of the window's own sequential loop.

#include <cstddef>
#include <span>

#include "features/rolling/window.hpp"

namespace orven::features::rolling {

// For each window i that holds a reading: sums[i] = S, the sum of its
// readings, and squares[i] = R, the sum of their squares (each square
// rounded before it is added).  The slots of empty windows are left alone.
void first_sums(const double* series, std::span<const Window> windows, double* sums,
                double* squares);

// For each window i that holds a reading: deviations[i] = Q, the sum of the
// squared deviations of its readings from means[i] (each difference and
// square rounded on its own).
void deviation_sums(const double* series, std::span<const Window> windows, const double* means,
                    double* deviations);

}  // namespace orven::features::rolling
