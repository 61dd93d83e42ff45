#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"
#include "pool/job.hpp"
#include "pool/latch.hpp"

namespace orven::extractor {

// The features of every series (values[i] for series[i], as
// extract_features_into computes them), computed on the process-wide pool
// while the thread that started the work goes on with other things, and
// readable in order as they become ready: the thread that turns results into
// objects of its own can do so while the workers compute the rest.
//
// Start it from a thread outside the pool.  Both spans must outlive the
// object, and nothing may write `values` or read a value before wait_for
// says it is ready.  The object waits for the workers before it goes, on
// every path.
class ExtractionInProgress {
public:
    ExtractionInProgress(std::span<const features::common::SeriesView> series,
                         std::span<features::minimal::FeatureValues> values);
    // Waits for the end of the work unless finish() did; a failure left
    // unraised is dropped.
    ~ExtractionInProgress();
    ExtractionInProgress(const ExtractionInProgress&) = delete;
    ExtractionInProgress& operator=(const ExtractionInProgress&) = delete;

    // Blocks until values[0, count) are all written (true), or until the
    // work has ended without writing them all, because a series failed
    // (false: finish() raises the failure).
    bool wait_for(std::size_t count) noexcept;

    // Waits for the end of the work and raises its failure, if any.
    void finish();

    // Series per unit of progress: small enough that the reader starts
    // early, large enough that the signals cost nothing next to the work.
    static constexpr std::size_t block_size = 256;

private:
    // The pool's task: every block computed, each flagged when done.
    struct Task {
        ExtractionInProgress* self;
        void operator()(bool) const { self->run(); }
    };
    void run();
    void signal() noexcept;

    std::span<const features::common::SeriesView> series_;
    std::span<features::minimal::FeatureValues> values_;
    std::size_t block_count_;
    std::unique_ptr<std::atomic<bool>[]> block_done_;
    std::unique_ptr<pool::Unit[]> block_slots_;
    // Bumped after every block and at the end; the reader sleeps on it.
    std::atomic<std::uint32_t> events_{0};
    std::atomic<bool> ended_{false};
    // Blocks the reader has seen done, all of them from the first on.
    std::size_t ready_blocks_ = 0;
    bool finished_ = false;
    Task task_{this};
    pool::LockLatch& latch_;
    pool::StackJob<Task, pool::LockLatch> job_;
};

}  // namespace orven::extractor
