#pragma once

#include <cstddef>

#include "features/common/element_read.hpp"
#include "features/common/series_view.hpp"
#include "features/minimal/kernels/extrema.hpp"
#include "features/minimal/kernels/extrema_blocks.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::rolling {

// The extrema of a window without NaN exactly as minimal::compute's first
// pass finds them (four partials over blocks of four, joined, then the
// readings past the last block), so that which zero a maximum or minimum of
// zero is comes out the same: where that depends on the zeros' places, the
// running order of a sliding window cannot tell.  O(w), two pairs of
// lanes per block.
inline minimal::kernels::Extrema block_extrema(common::SeriesView window) {
    using minimal::kernels::lanes;
    const double* x = window.data();
    const std::size_t n = window.size();
    minimal::kernels::ExtremaBlocks blocks;
    std::size_t i = 0;
    for (; n - i >= 4; i += 4) {
        blocks.fold(lanes::load(x + i), lanes::load(x + i + 2));
    }
    minimal::kernels::Extrema extrema = blocks.joined();
    for (; i < n; ++i) {
        extrema.step(common::element_at(x, i));
    }
    return extrema;
}

}  // namespace orven::features::rolling
