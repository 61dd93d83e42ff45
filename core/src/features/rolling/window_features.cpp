#include "features/rolling/window_features.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "fatal/fatal_error.hpp"
#include "features/common/element_read.hpp"
#include "features/minimal/compute.hpp"
#include "features/minimal/kernels/middle_selection.hpp"
#include "features/minimal/kernels/moments.hpp"
#include "features/minimal/kernels/short_median.hpp"
#include "features/minimal/kernels/two_lanes.hpp"
#include "features/rolling/block_extrema.hpp"
#include "features/rolling/lane_sums.hpp"
#include "memory/buffer.hpp"

namespace orven::features::rolling {
namespace {

using minimal::kernels::lanes;

// Checks that the windows lie within the series in order, and returns the
// readings they hold together.
std::size_t checked_readings(std::size_t readings, std::span<const Window> windows) {
    std::size_t held = 0;
    Window last{0, 0};
    for (const Window window : windows) {
        if (window.begin > window.end || window.end > readings || window.begin < last.begin ||
            window.end < last.end) {
            fatal::raise("rolling windows out of order or past the series: [" +
                         std::to_string(window.begin) + ", " + std::to_string(window.end) +
                         ") after [" + std::to_string(last.begin) + ", " +
                         std::to_string(last.end) + ") in " + std::to_string(readings) +
                         " readings");
        }
        held += window.size();
        last = window;
    }
    return held;
}

double count_of(Window window) {
    return static_cast<double>(static_cast<std::uint64_t>(window.size()));
}

// The features from the sums, their quotients and roots, and the order
// statistics, in feature_names order.
minimal::FeatureValues assemble(Window window, double sum, double mean, double variance,
                                double deviation, double root_mean_square, double median,
                                minimal::kernels::Extrema extrema) {
    return minimal::FeatureValues{
        extrema.absolute_maximum,
        mean,
        median,
        variance,
        deviation,
        count_of(window),
        extrema.maximum,
        extrema.minimum,
        root_mean_square,
        sum,
    };
}

// Two windows' counts side by side.
lanes::Pair counts_of(std::span<const Window> batch, std::size_t i) {
    return lanes::pair(count_of(batch[i]), count_of(batch[i + 1]));
}

void store(double* to, lanes::Pair pair) {
    lanes::store_low(to, pair);
    lanes::store_high(to + 1, pair);
}

// means[i] = S / N, two windows a division, as minimal::compute forms it.
void divide_means(std::span<const Window> batch, const double* sums, double* means) {
    std::size_t i = 0;
    for (; i + 2 <= batch.size(); i += 2) {
        store(means + i, lanes::divide(lanes::load(sums + i), counts_of(batch, i)));
    }
    if (i < batch.size()) means[i] = lanes::divide(sums[i], count_of(batch[i]));
}

// Q / N, its root and the root of R / N, two windows at a time: in place
// of Q, into `roots`, and in place of R.  (Quotients of windows that hold
// nothing are never read.)
void divide_moments(std::span<const Window> batch, double* deviations, double* roots,
                    double* squares) {
    std::size_t i = 0;
    for (; i + 2 <= batch.size(); i += 2) {
        const lanes::Pair counts = counts_of(batch, i);
        const lanes::Pair variances = lanes::divide(lanes::load(deviations + i), counts);
        store(deviations + i, variances);
        store(roots + i, lanes::square_root(variances));
        store(squares + i,
              lanes::square_root(lanes::divide(lanes::load(squares + i), counts)));
    }
    if (i < batch.size()) {
        const double count = count_of(batch[i]);
        deviations[i] = deviations[i] / count;
        roots[i] = std::sqrt(deviations[i]);
        squares[i] = std::sqrt(lanes::divide(squares[i], count));
    }
}

// The extrema of the window held: its ends, unless an end is a zero and
// zeros of both signs are held, where only the block procedure can say
// which zero it returns.
minimal::kernels::Extrema held_extrema(const SortedWindow& sorted, common::SeriesView window) {
    const double lowest = sorted.lowest();
    const double highest = sorted.highest();
    if ((lowest == 0.0 || highest == 0.0) && sorted.holds_both_zeros()) {
        return block_extrema(window);
    }
    const double low_magnitude = std::fabs(lowest);
    const double high_magnitude = std::fabs(highest);
    return minimal::kernels::Extrema{
        highest,
        lowest,
        high_magnitude > low_magnitude ? high_magnitude : low_magnitude,
    };
}

// Windows per batch: at most batch_windows, fewer for long windows, so
// that a batch is about four million reading-additions at most (a few
// milliseconds); at least enough for every lane.
std::size_t batch_size(std::size_t windows, std::size_t readings) {
    const std::size_t length = std::max<std::size_t>(readings / windows, 1);
    return std::clamp<std::size_t>((std::size_t{1} << 22) / length, 16,
                                   WindowFeatures::batch_windows);
}

}  // namespace

// Sliding costs a search and a move per reading that enters, about
// log2(w) + w / 64 (the move runs at memory-copy speed); selecting costs a
// copy and a few passes over the whole window, about 4w / 3 on that scale
// (the crossing points measured for w from 10 to 3000 fit it within a
// factor of 1.4).
bool WindowFeatures::slides(std::span<const Window> windows, std::size_t readings) {
    if (windows.size() < 2) return false;
    const std::size_t length = std::max<std::size_t>(readings / windows.size(), 2);
    const std::size_t advance =
        (windows.back().end - windows.front().end) / (windows.size() - 1);
    const std::size_t log_length = static_cast<std::size_t>(std::bit_width(length));
    return 4 * advance * (64 * log_length + length) <= 3 * 64 * length;
}

double WindowFeatures::selected_median(common::SeriesView window) {
    const std::size_t n = window.size();
    if (n <= minimal::kernels::short_median_limit) {
        return minimal::kernels::short_median(window);
    }
    if (2 * n > selection_room_) {
        selection_room_ = 2 * n;
        selection_ = memory::uninitialized_buffer<double>(selection_room_);
    }
    double* values = selection_.get();
    common::copy_elements(window, values);
    const bool pair = n % 2 == 0;
    const std::size_t rank = pair ? n / 2 - 1 : n / 2;
    const minimal::kernels::MiddleValues middle =
        minimal::kernels::select_middle(values, values + n, n, rank, pair);
    return minimal::kernels::median_from_middle(window, middle, rank, pair);
}

void WindowFeatures::compute_batch(const double* x, std::span<const Window> batch,
                                   std::span<minimal::FeatureValues> out, bool sliding) {
    double* sums = sums_.get();
    double* squares = sums + batch_windows;
    double* means = squares + batch_windows;
    double* deviations = means + batch_windows;
    double* roots = deviations + batch_windows;
    first_sums(x, batch, sums, squares);
    divide_means(batch, sums, means);
    deviation_sums(x, batch, means, deviations);
    divide_moments(batch, deviations, roots, squares);

    for (std::size_t i = 0; i < batch.size(); ++i) {
        const Window window = batch[i];
        const common::SeriesView slice(x + window.begin, window.size());
        for (; read_ < window.end; ++read_) {
            const double value = common::element_at(x, read_);
            if (value != value) {
                latest_nan_ = read_;
                seen_nan_ = true;
            }
        }
        if (sliding) sorted_.slide(x, window);
        if (window.size() == 0 || (seen_nan_ && latest_nan_ >= window.begin)) {
            out[i] = minimal::compute(slice);
            continue;
        }
        double median = 0.0;
        minimal::kernels::Extrema extrema;
        if (sliding) {
            median = sorted_.median();
            extrema = held_extrema(sorted_, slice);
        } else {
            median = selected_median(slice);
            extrema = block_extrema(slice);
        }
        out[i] = assemble(window, sums[i], means[i], deviations[i], roots[i], squares[i], median,
                          extrema);
    }
}

bool WindowFeatures::compute(common::SeriesView series, std::span<const Window> windows,
                             std::span<minimal::FeatureValues> out,
                             const pool::Interruption* interruption) {
    if (out.size() != windows.size()) {
        fatal::raise("rolling features: " + std::to_string(windows.size()) + " windows but " +
                     std::to_string(out.size()) + " result slots");
    }
    const std::size_t readings = checked_readings(series.size(), windows);
    if (windows.empty()) return true;
    if (!sums_) sums_ = memory::uninitialized_buffer<double>(5 * batch_windows);
    const bool sliding =
        forced_ == Order::chosen ? slides(windows, readings) : forced_ == Order::sliding;
    sorted_.forget();
    read_ = windows.front().begin;
    seen_nan_ = false;
    const std::size_t batch = batch_size(windows.size(), readings);
    for (std::size_t first = 0; first < windows.size(); first += batch) {
        if (interruption != nullptr && interruption->cancelled()) return false;
        const std::size_t count = std::min(batch, windows.size() - first);
        compute_batch(series.data(), windows.subspan(first, count), out.subspan(first, count),
                      sliding);
    }
    return true;
}

}  // namespace orven::features::rolling
