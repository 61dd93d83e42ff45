#pragma once

#include <cstddef>

#include "features/common/element_read.hpp"
#include "features/common/series_view.hpp"
#include "features/minimal/kernels/extrema.hpp"
#include "features/minimal/kernels/extrema_blocks.hpp"
#include "features/minimal/kernels/pass_parts.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::minimal::kernels {

// What one read of a series yields; fields that were not asked for keep
// their start values.
struct FirstPassResult {
    double sum = -0.0;             // every sum starts at -0.0, so the empty sum is -0.0
    double sum_of_squares = -0.0;
    Extrema extrema;
    // A NaN was met.  Only tracked with stop_at_nan; for a series of two or
    // more elements the pass then stopped there and the rest is incomplete.
    bool holds_nan = false;
};

// One pass over the series in index order.  The two sums are separate
// single accumulators, each adding strictly in index order; they are
// independent chains, so one loop runs both at the cost of one.  The
// extrema follow the four-block procedure: full blocks until one holds a
// NaN, join the partials, then step through every element not yet folded.
template <PassParts parts>
FirstPassResult first_pass(common::SeriesView series) {
    const double* x = series.data();
    const std::size_t n = series.size();
    FirstPassResult result;
    double sum = -0.0;
    double squares = -0.0;
    auto add = [&](double value) {
        if constexpr (parts.sum) {
            sum = lanes::add(sum, value);
        }
        if constexpr (parts.sum_of_squares) {
            squares += value * value;
        }
    };
    // The same for two elements held side by side: the squares are formed
    // side by side (each rounded on its own, as above), the additions still
    // one after the other.
    auto add_pair = [&](lanes::Pair pair) {
        if constexpr (parts.sum) {
            sum = lanes::add(sum, lanes::low(pair));
            sum = lanes::add(sum, lanes::high(pair));
        }
        if constexpr (parts.sum_of_squares) {
            const lanes::Pair square = lanes::multiply(pair, pair);
            squares += lanes::low(square);
            squares += lanes::high(square);
        }
    };

    std::size_t i = 0;
    if constexpr (parts.extrema) {
        ExtremaBlocks blocks;
        for (; n - i >= 4; i += 4) {
            const lanes::Pair low = lanes::load(x + i);
            const lanes::Pair high = lanes::load(x + i + 2);
            if (ExtremaBlocks::holds_nan(low, high)) {
                break;
            }
            blocks.fold(low, high);
            add_pair(low);
            add_pair(high);
        }
        result.extrema = blocks.joined();
        if constexpr (parts.stop_at_nan) {
            if (n - i >= 4) {  // the block phase ended at a NaN, and n >= 4
                result.holds_nan = true;
                return result;
            }
        }
    }
    for (; i < n; ++i) {
        const double value = common::element_at(x, i);
        if constexpr (parts.stop_at_nan) {
            if (value != value) {
                result.holds_nan = true;
                if (n >= 2) {
                    return result;
                }
            }
        }
        add(value);
        if constexpr (parts.extrema) {
            result.extrema.step(value);
        }
    }
    result.sum = sum;
    result.sum_of_squares = squares;
    return result;
}

}  // namespace orven::features::minimal::kernels
