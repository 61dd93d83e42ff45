#include "features/minimal/kernels/nan_scan.hpp"

#include <cstddef>

#include "features/common/element_read.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::minimal::kernels {

bool holds_nan(common::SeriesView series) {
    const double* x = series.data();
    const std::size_t n = series.size();
    std::size_t i = 0;
    // Eight elements per test: the unordered compares are cheap, the branch
    // is what costs.
    for (; n - i >= 8; i += 8) {
        const lanes::Pair a = lanes::load(x + i);
        const lanes::Pair b = lanes::load(x + i + 2);
        const lanes::Pair c = lanes::load(x + i + 4);
        const lanes::Pair d = lanes::load(x + i + 6);
        const lanes::Mask nan = lanes::either(lanes::either(lanes::is_nan(a), lanes::is_nan(b)),
                                              lanes::either(lanes::is_nan(c), lanes::is_nan(d)));
        if (lanes::bits(nan) != 0) {
            return true;
        }
    }
    for (; i < n; ++i) {
        const double value = common::element_at(x, i);
        if (value != value) {
            return true;
        }
    }
    return false;
}

}  // namespace orven::features::minimal::kernels
