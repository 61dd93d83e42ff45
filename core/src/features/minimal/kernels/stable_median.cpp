#include "features/minimal/kernels/stable_median.hpp"

#include "features/common/element_read.hpp"
#include "features/minimal/kernels/middle_selection.hpp"
#include "features/minimal/kernels/moments.hpp"
#include "memory/buffer.hpp"

namespace orven::features::minimal::kernels {
namespace {

// Room for the working copy: the candidates, and the selection's scratch
// behind them when the series is short (a short series is selected whole).
std::size_t capacity_for(std::size_t n) {
    return n < windowed_median_threshold ? 2 * n : n;
}

}  // namespace

StableMedian::StableMedian(common::SeriesView series, MedianWindow window)
    : series_(series),
      capacity_(capacity_for(series.size())),
      copy_(memory::uninitialized_buffer<double>(capacity_)),
      candidates_(window, copy_.get()) {}

double StableMedian::finish() {
    const std::size_t n = series_.size();
    if (n == 0) {
        return positive_quiet_nan;
    }
    if (n == 1) {
        return common::element_at(series_, 0);
    }
    const bool pair = n % 2 == 0;
    const std::size_t rank = pair ? n / 2 - 1 : n / 2;  // the lower middle

    const MedianWindow window = candidates_.window();
    const std::size_t below = candidates_.below();
    const std::size_t kept = candidates_.kept();
    const bool bracketed = below <= rank && below + kept > rank + (pair ? 1 : 0);

    MiddleValues middle{};
    if (bracketed && window.low == window.high) {
        // Every candidate has the window's one value (or is a zero of
        // either sign, settled below): a series with long runs of a value.
        middle = {window.low, window.low};
    } else {
        double* values = copy_.get();
        std::size_t count = kept;
        std::size_t local_rank = rank - below;
        if (!bracketed) {
            // The sample misjudged the middle: select among all elements.
            common::copy_elements(series_, values);
            count = n;
            local_rank = rank;
        }
        std::unique_ptr<double[]> more_room;
        double* scratch = values + count;
        if (2 * count > capacity_) {
            more_room = memory::uninitialized_buffer<double>(count);
            scratch = more_room.get();
        }
        middle = select_middle(values, scratch, count, local_rank, pair);
    }

    return median_from_middle(series_, middle, rank, pair);
}

}  // namespace orven::features::minimal::kernels
