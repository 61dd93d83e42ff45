#include "features/rolling/lane_sums.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>

#include "features/common/element_read.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::rolling {
namespace {

using minimal::kernels::lanes;
using Pair = lanes::Pair;

// Pairs of lanes in flight: an addition takes 3 to 4 cycles and two can
// start per cycle, so four independent chains of pairs keep the adders
// busy (measured: two pairs are a third slower, six no faster).
constexpr std::size_t pair_count = 4;
constexpr std::size_t lane_count = 2 * pair_count;

// What a lane adds up from each reading: `sums` accumulators per lane, and
// a centre that the first pass does not use.
struct FirstPass {
    static constexpr std::size_t sums = 2;
    // What a lane past its window's end takes so that its sums stay as
    // they are: S + (-0.0) == S for every S, NaN included, and R (at least
    // +0.0 after one reading) gains (-0.0)^2 = +0.0.
    static double padding(double) { return -0.0; }
    static bool paddable(double) { return true; }
    // S += x, R += x * x.
    static void take(Pair (&acc)[sums], Pair value, Pair) {
        acc[0] = lanes::add(acc[0], value);
        acc[1] = lanes::add(acc[1], lanes::multiply(value, value));
    }
};

struct DeviationPass {
    static constexpr std::size_t sums = 1;
    // The mean itself: (mean - mean)^2 = +0.0 for a finite mean, and Q is
    // at least +0.0 after one reading.  (A window whose mean is not finite
    // is never padded.)
    static double padding(double mean) { return mean; }
    static bool paddable(double mean) { return std::isfinite(mean); }
    // Q += (x - mean)^2.
    static void take(Pair (&acc)[sums], Pair value, Pair mean) {
        const Pair deviation = lanes::subtract(value, mean);
        acc[0] = lanes::add(acc[0], lanes::multiply(deviation, deviation));
    }
};

// Where a pass writes its sums and reads its centres, by window.
template <class Pass>
struct Slots {
    double* out[Pass::sums];
    const double* centres;  // nullptr: none

    double centre(std::size_t window) const { return centres == nullptr ? 0.0 : centres[window]; }
};

template <class Pass>
using PairSums = Pair[pair_count][Pass::sums];

// ---- windows of one length whose begins are evenly spaced -------------------

// Eight windows side by side (window j starts at first + j * stride), all
// `length` readings long: each lane runs start to finish together with the
// others, so nothing is scheduled.  Windows one reading apart (count
// windows at every reading) read each pair of lanes with one load.
constexpr std::size_t group = lane_count;

bool starts_group(std::span<const Window> windows, std::size_t at) {
    if (windows.size() - at < group) return false;
    const Window first = windows[at];
    if (first.size() == 0) return false;
    const std::size_t stride = windows[at + 1].begin - first.begin;
    for (std::size_t j = 1; j < group; ++j) {
        const Window window = windows[at + j];
        if (window.size() != first.size() || window.begin != first.begin + j * stride) return false;
    }
    return true;
}

template <class Pass, bool adjacent>
void run_group(const double* first, std::size_t stride, std::size_t length, const Slots<Pass>& slots,
               std::size_t window) {
    PairSums<Pass> acc;
    Pair centre[pair_count];
    for (std::size_t p = 0; p < pair_count; ++p) {
        for (std::size_t j = 0; j < Pass::sums; ++j) acc[p][j] = lanes::splat(-0.0);
        centre[p] = lanes::pair(slots.centre(window + 2 * p), slots.centre(window + 2 * p + 1));
    }
    for (std::size_t k = 0; k < length; ++k) {
        for (std::size_t p = 0; p < pair_count; ++p) {
            const Pair value =
                adjacent ? lanes::load(first + 2 * p + k)
                         : lanes::pair(common::element_at(first, 2 * p * stride + k),
                                       common::element_at(first, (2 * p + 1) * stride + k));
            Pass::take(acc[p], value, centre[p]);
        }
    }
    for (std::size_t p = 0; p < pair_count; ++p) {
        for (std::size_t j = 0; j < Pass::sums; ++j) {
            lanes::store_low(slots.out[j] + window + 2 * p, acc[p][j]);
            lanes::store_high(slots.out[j] + window + 2 * p + 1, acc[p][j]);
        }
    }
}

template <class Pass>
void sum_group(const double* series, std::span<const Window> windows, std::size_t at,
               const Slots<Pass>& slots) {
    const Window first = windows[at];
    const std::size_t stride = windows[at + 1].begin - first.begin;
    if (stride == 1) {
        run_group<Pass, true>(series + first.begin, 1, first.size(), slots, at);
    } else {
        run_group<Pass, false>(series + first.begin, stride, first.size(), slots, at);
    }
}

// ---- windows of nearly one length ---------------------------------------

// Eight windows whose lengths differ by a few readings (time windows over
// irregular times): all lanes run together over the shortest length, each
// from its own begin; the few readings each lane has left are then laid
// out side by side in a small table, a lane's row padded past its end with
// a value that leaves its sums as they are, and run together too.  No lane
// waits and none is rescheduled.
constexpr std::size_t most_left_over = 64;

template <class Pass>
bool starts_ragged_group(std::span<const Window> windows, std::size_t at, const Slots<Pass>& slots) {
    if (windows.size() - at < group) return false;
    std::size_t shortest = windows[at].size();
    std::size_t longest = shortest;
    for (std::size_t j = 0; j < group; ++j) {
        const std::size_t length = windows[at + j].size();
        shortest = std::min(shortest, length);
        longest = std::max(longest, length);
        if (!Pass::paddable(slots.centre(at + j))) return false;
    }
    return shortest > 0 && longest - shortest <= most_left_over;
}

template <class Pass>
void run_ragged_group(const double* series, std::span<const Window> windows, std::size_t at,
                      const Slots<Pass>& slots) {
    const double* from[lane_count];
    std::size_t shortest = windows[at].size();
    std::size_t longest = shortest;
    for (std::size_t lane = 0; lane < lane_count; ++lane) {
        const Window window = windows[at + lane];
        from[lane] = series + window.begin;
        shortest = std::min(shortest, window.size());
        longest = std::max(longest, window.size());
    }
    PairSums<Pass> acc;
    Pair centre[pair_count];
    for (std::size_t p = 0; p < pair_count; ++p) {
        for (std::size_t j = 0; j < Pass::sums; ++j) acc[p][j] = lanes::splat(-0.0);
        centre[p] = lanes::pair(slots.centre(at + 2 * p), slots.centre(at + 2 * p + 1));
    }
    for (std::size_t k = 0; k < shortest; ++k) {
        for (std::size_t p = 0; p < pair_count; ++p) {
            const Pair value = lanes::pair(common::element_at(from[2 * p], k),
                                           common::element_at(from[2 * p + 1], k));
            Pass::take(acc[p], value, centre[p]);
        }
    }
    const std::size_t rest = longest - shortest;
    double table[most_left_over * lane_count];
    for (std::size_t lane = 0; lane < lane_count; ++lane) {
        const std::size_t own = windows[at + lane].size() - shortest;
        const double padding = Pass::padding(slots.centre(at + lane));
        for (std::size_t k = 0; k < rest; ++k) {
            table[k * lane_count + lane] =
                k < own ? common::element_at(from[lane], shortest + k) : padding;
        }
    }
    for (std::size_t k = 0; k < rest; ++k) {
        for (std::size_t p = 0; p < pair_count; ++p) {
            Pass::take(acc[p], lanes::load(table + k * lane_count + 2 * p), centre[p]);
        }
    }
    for (std::size_t p = 0; p < pair_count; ++p) {
        for (std::size_t j = 0; j < Pass::sums; ++j) {
            lanes::store_low(slots.out[j] + at + 2 * p, acc[p][j]);
            lanes::store_high(slots.out[j] + at + 2 * p + 1, acc[p][j]);
        }
    }
}

// ---- windows of any lengths ------------------------------------------------

// Each lane sums one window; the loop runs all lanes until the first of
// them is complete, and that lane takes the next window and starts afresh.
// The sums stay in registers throughout: a finished lane's value is read
// off its register and its accumulator replaced lane-wise.  A lane left
// without a window reads along with a busy one, its sums dropped.
template <class Pass>
class Streams {
public:
    Streams(const double* series, std::span<const Window> windows, const Slots<Pass>& slots)
        : series_(series), windows_(windows), slots_(slots) {}

    void run() {
        for (std::size_t p = 0; p < pair_count; ++p) {
            for (std::size_t j = 0; j < Pass::sums; ++j) acc_[p][j] = lanes::splat(-0.0);
            for (std::size_t half = 0; half < 2; ++half) take_next(2 * p + half);
            centre_[p] = lanes::pair(centre_of(2 * p), centre_of(2 * p + 1));
        }
        while (follow_busy()) {
            const std::size_t steps = *std::min_element(std::begin(left_), std::end(left_));
            step(steps);
            for (std::size_t p = 0; p < pair_count; ++p) finish_pair(p, steps);
        }
    }

private:
    static constexpr std::size_t idle = std::numeric_limits<std::size_t>::max();

    double centre_of(std::size_t lane) const {
        return window_[lane] == idle ? 0.0 : slots_.centre(window_[lane]);
    }

    // Gives the lane the next window that holds a reading, or makes it idle.
    void take_next(std::size_t lane) {
        while (next_ < windows_.size() && windows_[next_].size() == 0) ++next_;
        if (next_ == windows_.size()) {
            window_[lane] = idle;
            left_[lane] = idle;
            return;
        }
        window_[lane] = next_;
        cursor_[lane] = series_ + windows_[next_].begin;
        left_[lane] = windows_[next_].size();
        ++next_;
    }

    // Points idle lanes at a busy one's readings; false when none is busy.
    bool follow_busy() {
        const double* busy = nullptr;
        for (std::size_t lane = 0; lane < lane_count; ++lane) {
            if (window_[lane] != idle) busy = cursor_[lane];
        }
        if (busy == nullptr) return false;
        for (std::size_t lane = 0; lane < lane_count; ++lane) {
            if (window_[lane] == idle) cursor_[lane] = busy;
        }
        return true;
    }

    void step(std::size_t steps) {
        const double* at[lane_count];
        std::copy(std::begin(cursor_), std::end(cursor_), at);
        PairSums<Pass> acc;
        for (std::size_t p = 0; p < pair_count; ++p) {
            for (std::size_t j = 0; j < Pass::sums; ++j) acc[p][j] = acc_[p][j];
        }
        for (std::size_t k = 0; k < steps; ++k) {
            for (std::size_t p = 0; p < pair_count; ++p) {
                const Pair value = lanes::pair(common::element_at(at[2 * p], k),
                                               common::element_at(at[2 * p + 1], k));
                Pass::take(acc[p], value, centre_[p]);
            }
        }
        for (std::size_t p = 0; p < pair_count; ++p) {
            for (std::size_t j = 0; j < Pass::sums; ++j) acc_[p][j] = acc[p][j];
        }
        for (std::size_t lane = 0; lane < lane_count; ++lane) cursor_[lane] += steps;
    }

    // After `steps` readings: writes out the pair's lanes that are complete
    // and starts them on their next windows.
    void finish_pair(std::size_t p, std::size_t steps) {
        for (std::size_t half = 0; half < 2; ++half) {
            const std::size_t lane = 2 * p + half;
            if (window_[lane] == idle || (left_[lane] -= steps) != 0) continue;
            for (std::size_t j = 0; j < Pass::sums; ++j) {
                const Pair sums = acc_[p][j];
                slots_.out[j][window_[lane]] = half == 0 ? lanes::low(sums) : lanes::high(sums);
                acc_[p][j] = half == 0 ? lanes::pair(-0.0, lanes::high(sums))
                                       : lanes::pair(lanes::low(sums), -0.0);
            }
            take_next(lane);
            const double centre = centre_of(lane);
            centre_[p] = half == 0 ? lanes::pair(centre, lanes::high(centre_[p]))
                                   : lanes::pair(lanes::low(centre_[p]), centre);
        }
    }

    const double* series_;
    std::span<const Window> windows_;
    Slots<Pass> slots_;
    std::size_t next_ = 0;
    PairSums<Pass> acc_;
    Pair centre_[pair_count];
    const double* cursor_[lane_count] = {};
    std::size_t left_[lane_count];
    std::size_t window_[lane_count];
};

// Groups where the windows allow, ragged groups where they nearly do,
// streams in between.
template <class Pass>
void run_pass(const double* series, std::span<const Window> windows, const Slots<Pass>& slots) {
    std::size_t at = 0;
    while (at < windows.size()) {
        if (starts_group(windows, at)) {
            sum_group(series, windows, at, slots);
            at += group;
            continue;
        }
        if (starts_ragged_group(windows, at, slots)) {
            run_ragged_group(series, windows, at, slots);
            at += group;
            continue;
        }
        std::size_t end = at + 1;
        while (end < windows.size() && !starts_group(windows, end) &&
               !starts_ragged_group(windows, end, slots)) {
            ++end;
        }
        // The streams write slots by their index in the span they are given.
        Slots<Pass> shifted = slots;
        for (std::size_t j = 0; j < Pass::sums; ++j) shifted.out[j] += at;
        if (shifted.centres != nullptr) shifted.centres += at;
        Streams<Pass>(series, windows.subspan(at, end - at), shifted).run();
        at = end;
    }
}

}  // namespace

void first_sums(const double* series, std::span<const Window> windows, double* sums,
                double* squares) {
    run_pass(series, windows, Slots<FirstPass>{{sums, squares}, nullptr});
}

void deviation_sums(const double* series, std::span<const Window> windows, const double* means,
                    double* deviations) {
    run_pass(series, windows, Slots<DeviationPass>{{deviations}, means});
}

}  // namespace orven::features::rolling
