#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"
#include "pool/interruption.hpp"
#include "pool/job.hpp"
#include "pool/latch.hpp"
#include "pool/thread_pool.hpp"

namespace orven::extractor {

// The features of every series (values[i] for series[i], as
// extract_features_into computes them), computed on the process-wide pool
// while the thread that started the work goes on with other things, and
// readable in order as they become ready: the thread that turns results into
// objects of its own can do so while the workers compute the rest.
//
// The series are cut into blocks of consecutive series, the unit of both
// parallel work and progress: a block ends after `block_size` series or once
// it holds `block_elements` elements, so that many short series cost one
// signal per block while a few long ones still spread over every worker.
//
// Start it from a thread outside the pool.  Both spans must outlive the
// object, and nothing may write `values` or read a value before wait_for
// says it is ready.  The object waits for the workers before it goes, on
// every path (except in a child forked meanwhile, where they are gone).
//
// With an interruption, every wait of the starting thread wakes each
// pool::poll_interval to poll it; once it is cancelled no further block
// starts, the waits end, and finish() raises pool::Interrupted.
class ExtractionInProgress {
public:
    ExtractionInProgress(std::span<const features::common::SeriesView> series,
                         std::span<features::minimal::FeatureValues> values,
                         pool::Interruption* interruption = nullptr);
    // Waits for the end of the work unless finish() did; a failure left
    // unraised is dropped.
    ~ExtractionInProgress();
    ExtractionInProgress(const ExtractionInProgress&) = delete;
    ExtractionInProgress& operator=(const ExtractionInProgress&) = delete;

    // Blocks until values[0, count) are all written (true), or until the
    // work has ended without writing them all, because a series failed, or
    // the call was interrupted (false: finish() raises the failure).
    bool wait_for(std::size_t count);

    // Waits for the end of the work and raises its failure, if any
    // (pool::Interrupted for an interrupted call).
    void finish();

    static constexpr std::size_t block_size = 256;
    static constexpr std::size_t block_elements = std::size_t{1} << 16;

private:
    // The pool's task: every block computed, each flagged when done.
    struct Task {
        ExtractionInProgress* self;
        void operator()(bool) const { self->run(); }
    };
    void run();
    void signal() noexcept;
    // Asks the interruption (if any); raises if this process is a child
    // forked while the call ran, whose pool will never run the work.
    void poll();
    // poll(), once pool::poll_interval has passed since the last one.
    void poll_when_due();
    bool cancelled() const noexcept {
        return interruption_ != nullptr && interruption_->cancelled();
    }

    std::span<const features::common::SeriesView> series_;
    std::span<features::minimal::FeatureValues> values_;
    pool::Interruption* interruption_;
    // Where each block's series end (exclusive), in series order.
    std::vector<std::size_t> block_ends_;
    std::unique_ptr<std::atomic<bool>[]> block_done_;
    std::unique_ptr<pool::Unit[]> block_slots_;
    std::atomic<bool> ended_{false};
    // The reader sleeps on these between signals.
    std::mutex mutex_;
    std::condition_variable changed_;
    // Blocks the reader has seen done, all of them from the first on.
    std::size_t ready_blocks_ = 0;
    std::chrono::steady_clock::time_point next_poll_;
    bool finished_ = false;
    Task task_{this};
    // A latch of its own: a poll may run caller code that makes another
    // call on this thread, which must not share this one's latch.
    pool::LockLatch latch_;
    pool::StackJob<Task, pool::LockLatch> job_;
    pool::ThreadPool* pool_ = nullptr;
};

}  // namespace orven::extractor
