#pragma once

#include <limits>

#include "features/minimal/kernels/extrema.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::minimal::kernels {

// The block phase of the extrema: four partial results per extremum, fed
// one block of four consecutive elements at a time, partial j taking
// element j of every block.  Partials 0 and 1 live in one pair of lanes and
// 2 and 3 in another; a block holding a NaN is refused whole, and one test
// covers its four elements.
//
// lanes::maximum(a, b) yields a where a > b and b otherwise (b also on a tie
// or a NaN), which is exactly step(acc, v) = v > acc ? v : acc as
// maximum(v, acc), and join(p, q) = p > q ? p : q as maximum(p, q);
// likewise minimum.
class ExtremaBlocks {
public:
    // Whether a block, given as its elements (0, 1) and (2, 3), holds a NaN.
    static bool holds_nan(lanes::Pair low, lanes::Pair high) {
        return lanes::bits(lanes::either(lanes::is_nan(low), lanes::is_nan(high))) != 0;
    }

    // Folds a block without NaN, given as its elements (0, 1) and (2, 3).
    void fold(lanes::Pair low, lanes::Pair high) {
        max_low_ = lanes::maximum(low, max_low_);
        max_high_ = lanes::maximum(high, max_high_);
        min_low_ = lanes::minimum(low, min_low_);
        min_high_ = lanes::minimum(high, min_high_);
        abs_low_ = lanes::maximum(lanes::magnitude(low), abs_low_);
        abs_high_ = lanes::maximum(lanes::magnitude(high), abs_high_);
    }

    // Joins the partials: A = join(P2, P0), B = join(P3, P1), then
    // join(B, A).  (P2, P3) against (P0, P1) gives (A, B) in one operation.
    Extrema joined() const {
        return Extrema{
            lanes::maximum_across(lanes::maximum(max_high_, max_low_)),
            lanes::minimum_across(lanes::minimum(min_high_, min_low_)),
            lanes::maximum_across(lanes::maximum(abs_high_, abs_low_)),
        };
    }

private:
    static constexpr double inf = std::numeric_limits<double>::infinity();

    lanes::Pair max_low_ = lanes::splat(-inf);
    lanes::Pair max_high_ = lanes::splat(-inf);
    lanes::Pair min_low_ = lanes::splat(inf);
    lanes::Pair min_high_ = lanes::splat(inf);
    lanes::Pair abs_low_ = lanes::splat(-inf);
    lanes::Pair abs_high_ = lanes::splat(-inf);
};

}  // namespace orven::features::minimal::kernels
