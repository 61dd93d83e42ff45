#include "features/minimal/kernels/short_median.hpp"

#include <array>
#include <string>

#include "fatal/fatal_error.hpp"
#include "features/common/element_read.hpp"
#include "features/minimal/kernels/middle_selection.hpp"
#include "features/minimal/kernels/moments.hpp"

namespace orven::features::minimal::kernels {

double short_median(common::SeriesView series) {
    const std::size_t n = series.size();
    if (n == 0) {
        return positive_quiet_nan;
    }
    if (n == 1) {
        return common::element_at(series, 0);
    }
    if (n > short_median_limit) {
        // The stack copy has room for short series only; callers dispatch
        // on the limit, so getting here is a fault of ours, not of the data.
        fatal::raise("short median called with " + std::to_string(n) + " elements");
    }
    // The copy and the selection's scratch.
    std::array<double, 2 * short_median_limit> room;
    common::copy_elements(series, room.data());

    const bool pair = n % 2 == 0;
    const std::size_t rank = pair ? n / 2 - 1 : n / 2;  // the lower middle
    const MiddleValues middle =
        select_middle(room.data(), room.data() + short_median_limit, n, rank, pair);
    return median_from_middle(series, middle, rank, pair);
}

}  // namespace orven::features::minimal::kernels
