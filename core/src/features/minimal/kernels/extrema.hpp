#pragma once

#include <cmath>
#include <limits>

namespace orven::features::minimal::kernels {

// Running maximum, minimum and absolute maximum of the elements folded so
// far.  A NaN never enters an accumulator (every comparison with it is
// false), and since they start at -inf / +inf they are never NaN, so a step
// needs no NaN test of the accumulator.  On a tie (+0.0 against -0.0) the
// accumulator stays: which zero is returned depends on the fold order.
struct Extrema {
    double maximum = -std::numeric_limits<double>::infinity();
    double minimum = std::numeric_limits<double>::infinity();
    double absolute_maximum = -std::numeric_limits<double>::infinity();

    void step(double value) {
        maximum = value > maximum ? value : maximum;
        minimum = value < minimum ? value : minimum;
        const double magnitude = std::fabs(value);
        absolute_maximum = magnitude > absolute_maximum ? magnitude : absolute_maximum;
    }
};

}  // namespace orven::features::minimal::kernels
