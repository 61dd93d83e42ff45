#include "features/rolling/count_windows.hpp"

#include <algorithm>
#include <string>

#include "fatal/fatal_error.hpp"

namespace orven::features::rolling {
namespace {

// Window k (from 1) ends after reading k * step - 1 and holds
// min(size, k * step) readings; the first k kept is the least whose window
// holds min_length, so the kept ones are k = first .. readings / step.
std::size_t first_kept(CountWindowShape shape) {
    return std::max<std::size_t>(1, shape.min_length / shape.step +
                                        (shape.min_length % shape.step != 0 ? 1 : 0));
}

void check(CountWindowShape shape) {
    if (shape.size == 0 || shape.step == 0) {
        fatal::raise("count windows need a size and a step of at least one reading");
    }
}

}  // namespace

std::size_t count_window_total(std::size_t readings, CountWindowShape shape) {
    check(shape);
    if (shape.min_length > shape.size) {
        return 0;
    }
    const std::size_t last = readings / shape.step;
    const std::size_t first = first_kept(shape);
    return last >= first ? last - first + 1 : 0;
}

void count_windows(std::size_t readings, CountWindowShape shape, std::span<Window> out) {
    if (out.size() != count_window_total(readings, shape)) {
        fatal::raise("count_windows: room for " + std::to_string(out.size()) + " windows, not " +
                     std::to_string(count_window_total(readings, shape)));
    }
    std::size_t end = first_kept(shape) * shape.step;
    for (Window& window : out) {
        window = Window{end - std::min(shape.size, end), end};
        end += shape.step;
    }
}

}  // namespace orven::features::rolling
