#include "features/rolling/lane_sums.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "features/common/element_read.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::rolling {
namespace {

using minimal::kernels::lanes;

// Pairs of lanes in flight: with an addition's latency of 3 to 4 cycles and
// two additions per cycle, the deviation pass (one chain per window) needs
// about eight chains, the first pass (two per window) about four windows.
constexpr std::size_t pair_count = 4;
constexpr std::size_t lane_count = 2 * pair_count;

// Which window each lane is summing and how far it has come.  A lane
// without a window reads along with a busy one (its sums are dropped), so
// that every run of the loop can treat all lanes alike.
class LaneSchedule {
public:
    LaneSchedule(const double* series, std::span<const Window> windows)
        : series_(series), windows_(windows) {
        std::fill(std::begin(window_), std::end(window_), idle);
        std::fill(std::begin(left_), std::end(left_), idle);
    }

    // Gives each lane without a window the next one that holds a reading,
    // calling start(lane, window) for it; false once no lane has one.
    template <class Start>
    bool fill(Start start) {
        const double* busy = nullptr;
        for (std::size_t lane = 0; lane < lane_count; ++lane) {
            if (window_[lane] == idle) {
                while (next_ < windows_.size() && windows_[next_].size() == 0) ++next_;
                if (next_ < windows_.size()) {
                    window_[lane] = next_;
                    cursor_[lane] = series_ + windows_[next_].begin;
                    left_[lane] = windows_[next_].size();
                    start(lane, next_);
                    ++next_;
                }
            }
            if (window_[lane] != idle) busy = cursor_[lane];
        }
        if (busy == nullptr) return false;
        for (std::size_t lane = 0; lane < lane_count; ++lane) {
            if (window_[lane] == idle) cursor_[lane] = busy;
        }
        return true;
    }

    // How many readings every lane can take before one of them finishes.
    std::size_t steps() const { return *std::min_element(std::begin(left_), std::end(left_)); }

    const double* const* cursors() const { return cursor_; }

    // Moves every lane on by `steps` readings, calling finish(lane, window)
    // for each window that is then complete.
    template <class Finish>
    void advance(std::size_t steps, Finish finish) {
        for (std::size_t lane = 0; lane < lane_count; ++lane) {
            cursor_[lane] += steps;
            if (window_[lane] == idle) continue;
            left_[lane] -= steps;
            if (left_[lane] == 0) {
                finish(lane, window_[lane]);
                window_[lane] = idle;
                left_[lane] = idle;
            }
        }
    }

private:
    static constexpr std::size_t idle = std::numeric_limits<std::size_t>::max();

    const double* series_;
    std::span<const Window> windows_;
    std::size_t next_ = 0;
    const double* cursor_[lane_count] = {};
    std::size_t left_[lane_count];
    std::size_t window_[lane_count];
};

// Reading k of the windows in lanes 2p and 2p + 1, side by side.
inline lanes::Pair readings(const double* const* at, std::size_t p, std::size_t k) {
    return lanes::pair(common::element_at(at[2 * p], k), common::element_at(at[2 * p + 1], k));
}

inline void store(double* to, lanes::Pair pair) {
    lanes::store_low(to, pair);
    lanes::store_high(to + 1, pair);
}

// `steps` readings into every lane's S and R.
void run_first(const double* const* at, std::size_t steps, double* sums, double* squares) {
    lanes::Pair s[pair_count];
    lanes::Pair r[pair_count];
    for (std::size_t p = 0; p < pair_count; ++p) {
        s[p] = lanes::load(sums + 2 * p);
        r[p] = lanes::load(squares + 2 * p);
    }
    for (std::size_t k = 0; k < steps; ++k) {
        for (std::size_t p = 0; p < pair_count; ++p) {
            const lanes::Pair value = readings(at, p, k);
            s[p] = lanes::add(s[p], value);
            r[p] = lanes::add(r[p], lanes::multiply(value, value));
        }
    }
    for (std::size_t p = 0; p < pair_count; ++p) {
        store(sums + 2 * p, s[p]);
        store(squares + 2 * p, r[p]);
    }
}

// `steps` readings into every lane's Q.
void run_deviations(const double* const* at, std::size_t steps, const double* means, double* totals) {
    lanes::Pair q[pair_count];
    lanes::Pair m[pair_count];
    for (std::size_t p = 0; p < pair_count; ++p) {
        q[p] = lanes::load(totals + 2 * p);
        m[p] = lanes::load(means + 2 * p);
    }
    for (std::size_t k = 0; k < steps; ++k) {
        for (std::size_t p = 0; p < pair_count; ++p) {
            const lanes::Pair deviation = lanes::subtract(readings(at, p, k), m[p]);
            q[p] = lanes::add(q[p], lanes::multiply(deviation, deviation));
        }
    }
    for (std::size_t p = 0; p < pair_count; ++p) store(totals + 2 * p, q[p]);
}

}  // namespace

void first_sums(const double* series, std::span<const Window> windows, double* sums,
                double* squares) {
    LaneSchedule schedule(series, windows);
    double lane_sums[lane_count];
    double lane_squares[lane_count];
    const auto start = [&](std::size_t lane, std::size_t) {
        lane_sums[lane] = -0.0;
        lane_squares[lane] = -0.0;
    };
    const auto finish = [&](std::size_t lane, std::size_t window) {
        sums[window] = lane_sums[lane];
        squares[window] = lane_squares[lane];
    };
    while (schedule.fill(start)) {
        const std::size_t steps = schedule.steps();
        run_first(schedule.cursors(), steps, lane_sums, lane_squares);
        schedule.advance(steps, finish);
    }
}

void deviation_sums(const double* series, std::span<const Window> windows, const double* means,
                    double* deviations) {
    LaneSchedule schedule(series, windows);
    double lane_means[lane_count] = {};
    double lane_totals[lane_count];
    const auto start = [&](std::size_t lane, std::size_t window) {
        lane_means[lane] = means[window];
        lane_totals[lane] = -0.0;
    };
    const auto finish = [&](std::size_t lane, std::size_t window) {
        deviations[window] = lane_totals[lane];
    };
    while (schedule.fill(start)) {
        const std::size_t steps = schedule.steps();
        run_deviations(schedule.cursors(), steps, lane_means, lane_totals);
        schedule.advance(steps, finish);
    }
}

}  // namespace orven::features::rolling
