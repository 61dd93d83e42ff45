#include "features/minimal/kernels/first_pass.hpp"

#include <cstddef>

#include "features/common/element_read.hpp"
#include "features/minimal/kernels/extrema_blocks.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::minimal::kernels {

FirstPassResult first_pass(common::SeriesView series) {
    const double* x = series.data();
    const std::size_t n = series.size();
    FirstPassResult result;
    double sum = -0.0;
    double squares = -0.0;
    // Two elements held side by side: the squares are formed side by side
    // (each rounded on its own), the additions still one after the other.
    auto add_pair = [&](lanes::Pair pair) {
        sum = lanes::add(sum, lanes::low(pair));
        sum = lanes::add(sum, lanes::high(pair));
        const lanes::Pair square = lanes::multiply(pair, pair);
        squares += lanes::low(square);
        squares += lanes::high(square);
    };

    std::size_t i = 0;
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
    if (n - i >= 4) {  // the block phase ended at a NaN, and n >= 4
        result.holds_nan = true;
        return result;
    }
    for (; i < n; ++i) {
        const double value = common::element_at(x, i);
        if (value != value) {
            result.holds_nan = true;
            if (n >= 2) {
                return result;
            }
        }
        sum = lanes::add(sum, value);
        squares += value * value;
        result.extrema.step(value);
    }
    result.sum = sum;
    result.sum_of_squares = squares;
    return result;
}

}  // namespace orven::features::minimal::kernels
