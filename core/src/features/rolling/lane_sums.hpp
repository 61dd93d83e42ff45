#pragma once

// The sums that the features of a window are made of, for many windows of
// one series at once.  Each window's sum is its own single accumulator,
// starting at -0.0 and adding the window's readings in index order, exactly
// as minimal::compute forms it for the window's slice; but the windows are
// independent chains, so several run side by side, one per vector lane:
// the two lanes of a pair of doubles, and four pairs to hide the addition's
// latency.  No window is copied out.  Eight consecutive windows go
// together in one of three ways:
//
//  - a group: one length, begins evenly spaced (count windows, time
//    windows over regular times).  All lanes run start to finish together;
//    windows one reading apart read a pair of lanes with one load.
//  - a ragged group: lengths that differ by at most 64.  All lanes run
//    together over the shortest; the readings left are laid out side by
//    side, each lane's row padded past its window's end with a value that
//    leaves its sums unchanged (-0.0 for S and R, the window's own mean for
//    Q, where that mean is finite).
//  - streams, for anything else: a lane that finishes its window takes the
//    next and starts afresh, its sums swapped lane-wise in registers.
//
// Cost: four additions per reading per window over both passes (S, R, and
// Q's difference and sum), two per cycle over two lanes: about one cycle
// per reading per window in groups (measured within a tenth of that),
// half as much again in streams, whose lanes are read apart.

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
