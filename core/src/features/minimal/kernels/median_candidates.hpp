#pragma once

#include <cstddef>

#include "features/minimal/kernels/median_window.hpp"

namespace orven::features::minimal::kernels {

// Collects the elements of a series that fall inside a median window and
// counts those below it, one element at a time, so that a pass that reads
// the series for another purpose can feed it too.  No branch depends on the
// data: every element is stored, and the count advances when it belongs.
class MedianCandidates {
public:
    // `out` has room for every element of the series.
    MedianCandidates(MedianWindow window, double* out) : window_(window), out_(out) {}

    void take(double value) {
        out_[kept_] = value;
        kept_ += (value >= window_.low) & (value <= window_.high);
        below_ += value < window_.low;
    }

    MedianWindow window() const { return window_; }
    std::size_t kept() const { return kept_; }
    std::size_t below() const { return below_; }

private:
    MedianWindow window_;
    double* out_;
    std::size_t kept_ = 0;
    std::size_t below_ = 0;
};

}  // namespace orven::features::minimal::kernels
