#pragma once

#include <cstddef>

#include "features/minimal/kernels/median_window.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::minimal::kernels {

// Collects the elements of a series that fall inside a median window and
// counts those below it, one element at a time, so that a pass that reads
// the series for another purpose can feed it too.  No branch depends on the
// data: every element is stored, and the count advances when it belongs.
class MedianCandidates {
public:
    // `out` has room for every element of the series.
    MedianCandidates(MedianWindow window, double* out)
        : window_(window),
          low_(lanes::splat(window.low)),
          high_(lanes::splat(window.high)),
          out_(out) {}

    void take(double value) {
        out_[kept_] = value;
        kept_ += (value >= window_.low) & (value <= window_.high);
        below_ += value < window_.low;
    }

    // Two consecutive elements at once, in their order.
    void take_pair(lanes::Pair pair) {
        const int mask = lanes::bits(
            lanes::both(lanes::greater_equal(pair, low_), lanes::less_equal(pair, high_)));
        lanes::store_low(out_ + kept_, pair);
        kept_ += static_cast<std::size_t>(mask & 1);
        lanes::store_high(out_ + kept_, pair);
        kept_ += static_cast<std::size_t>(mask >> 1);
        below_lanes_ = lanes::count(below_lanes_, lanes::less(pair, low_));
    }

    MedianWindow window() const { return window_; }
    std::size_t kept() const { return kept_; }
    std::size_t below() const {
        return below_ + lanes::total(below_lanes_);
    }

private:
    MedianWindow window_;
    lanes::Pair low_;
    lanes::Pair high_;
    double* out_;
    std::size_t kept_ = 0;
    std::size_t below_ = 0;
    lanes::Tally below_lanes_ = lanes::zero_tally();
};

}  // namespace orven::features::minimal::kernels
