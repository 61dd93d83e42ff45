#include "features/minimal/functional.hpp"

#include <algorithm>

#include "fatal/fatal_error.hpp"
#include "features/common/element_read.hpp"
#include "features/minimal/kernels/moments.hpp"
#include "features/minimal/kernels/two_lanes.hpp"
#include "memory/buffer.hpp"

namespace orven::features::minimal::functional {

double median(common::SeriesView series) {
    const std::size_t n = series.size();
    const auto sorted = memory::uninitialized_buffer<double>(n);
    common::copy_elements(series, sorted.get());
    std::stable_sort(sorted.get(), sorted.get() + n, [](double a, double b) {
        static_assert(__LINE__ + 1 == 19, "the refusal states its own line");
        if (a != a || b != b) [[unlikely]] fatal::raise(
            "called `Option::unwrap()` on a `None` value",
            {"core/src/features/minimal/functional", 19, 44});
        return a < b;
    });
    if (n == 0) {
        return kernels::positive_quiet_nan;
    }
    const std::size_t h = n / 2;
    if (n % 2 == 1) {
        return sorted[h];
    }
    return kernels::lanes::multiply(kernels::lanes::add(sorted[h - 1], sorted[h]), 0.5);
}

}  // namespace orven::features::minimal::functional
