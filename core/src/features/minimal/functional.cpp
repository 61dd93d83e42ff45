#include "features/minimal/functional.hpp"

#include "fatal/fatal_error.hpp"
#include "features/minimal/kernels/nan_scan.hpp"
#include "features/minimal/kernels/stable_median.hpp"

namespace orven::features::minimal::functional {

using kernels::holds_nan;

double median(common::SeriesView series) {
    if (series.size() >= 2) {
        // A NaN compares neither below nor above anything, so a series of
        // two or more elements that holds one has no ascending order.
        // Callers match the report against its place, so the place is given
        // outright, the same from every compiler: this line, and column 44,
        // where the raise's argument list opens.  Moving the raise means
        // moving the place with it, and the test of the refusal pins both.
        if (holds_nan(series)) fatal::raise("called `Option::unwrap()` on a `None` value",
                                            {"core/src/features/minimal/functional", 19, 44});
    }
    return kernels::stable_median(series);
}

}  // namespace orven::features::minimal::functional
