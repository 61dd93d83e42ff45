#pragma once

// The driver: the features of every window of every series of a call,
// computed on the process-wide pool into one flat array, series after
// series, each series' windows in order.
//
// The windows of all series are cut into blocks of consecutive windows by
// their cost (a window's readings plus a fixed part, estimated per series
// from a few of its windows), a block crossing
// series boundaries where series are short and a long series' windows
// split over several blocks; each block rebuilds its sliding state at its
// start (one sort of its first window), so blocks are made large enough
// next to that sort.  Blocks are the unit of parallel work and of progress;
// within a block the kernel looks at the interruption after every batch of
// windows, a few milliseconds apart at most.  Every value has the same bits
// whatever the number of workers or the cut.

#include <cstddef>
#include <span>
#include <vector>

#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"
#include "features/rolling/window.hpp"
#include "pool/interruption.hpp"
#include "pool/thread_pool.hpp"

namespace orven::features::rolling {

// The features of many windows stored by feature: feature f of window w
// at data[f * windows + w], so that each feature is one contiguous column
// that a frame library can take over without a copy.
struct FeatureColumns {
    double* data = nullptr;
    std::size_t windows = 0;

    void put(std::size_t window, const minimal::FeatureValues& values) const noexcept {
        for (std::size_t f = 0; f < minimal::feature_count; ++f) data[f * windows + window] = values[f];
    }
};

// One series and its windows.
struct SeriesWindows {
    common::SeriesView values;
    std::span<const Window> windows;
};

// `out` receives the features of series[0]'s windows, then series[1]'s,
// and so on; readable in order as they become ready (wait_for), so that
// the caller can drive a progress bar or turn results into objects while
// the workers compute the rest.  Start it from a thread outside the pool.
// The series, their windows and `out` must outlive the object, and
// nothing may write `out` or read a window's features before wait_for
// says they are ready.  The object waits for the workers before it goes.
//
// A failure (the median's refusal of a window with a NaN) ends its block;
// the others still run and finish() raises it.  With an interruption, the
// waits poll it; once it is cancelled no further block starts, running
// blocks stop at their next batch, and finish() raises pool::Interrupted.
class RollingInProgress {
public:
    RollingInProgress(std::span<const SeriesWindows> series, FeatureColumns out,
                      pool::Interruption* interruption = nullptr);
    // The same on a given pool with blocks of about `block_cost` (tests).
    RollingInProgress(std::span<const SeriesWindows> series, FeatureColumns out,
                      pool::Interruption* interruption, pool::ThreadPool& pool, std::size_t block_cost);
    RollingInProgress(const RollingInProgress&) = delete;
    RollingInProgress& operator=(const RollingInProgress&) = delete;

    // Blocks until the features of windows [0, count) are all written (true), or until the
    // work has ended without writing them (false: finish() raises why).
    bool wait_for(std::size_t count);

    // How many windows, from the first, wait_for has seen written.
    std::size_t ready() const noexcept {
        return ready_blocks_ == 0 ? 0 : blocks_[ready_blocks_ - 1].flat_end;
    }

    // Waits for the end of the work and raises its failure, if any.
    void finish() { batch_.finish(); }

    // The block cost the process-wide pool gets for a call of this total
    // cost whose windows cost about `typical_length` each.
    static std::size_t block_cost_for(std::size_t total_cost, std::size_t typical_length,
                                      std::size_t workers);

private:
    // Where a block starts, and where in the flat result it ends.
    struct Block {
        std::size_t series;
        std::size_t window;
        std::size_t flat_begin;
        std::size_t flat_end;
    };

    struct RunBlock {
        RollingInProgress* self;
        void operator()(std::size_t block) const;
    };

    std::span<const SeriesWindows> series_;
    FeatureColumns out_;
    pool::Interruption* interruption_;
    std::vector<Block> blocks_;
    std::size_t ready_blocks_ = 0;
    RunBlock run_block_{this};
    pool::Batch batch_;
};

}  // namespace orven::features::rolling
