#include "features/rolling/refused_windows.hpp"

#include "features/common/element_read.hpp"

namespace orven::features::rolling {

std::size_t first_refused_window(common::SeriesView series, std::span<const Window> windows) {
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::size_t read = 0;
    std::size_t latest_nan = none;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const Window window = windows[i];
        for (; read < window.end; ++read) {
            const double value = common::element_at(series, read);
            if (value != value) latest_nan = read;
        }
        if (window.size() >= 2 && latest_nan != none && latest_nan >= window.begin) {
            return i;
        }
    }
    return windows.size();
}

}  // namespace orven::features::rolling
