#pragma once

// The driver: the ten features of every series of a call, computed on the
// process-wide pool into one flat array of result slots.
//
// The series are cut into blocks of consecutive series, the unit of both
// parallel work and progress: a block ends after `block_size` series or once
// it holds `block_elements` elements, so that many short series cost one
// signal per block while a few long ones still spread over every worker.
// Nothing is allocated per series, per record or per column; series data is
// read in place.

#include <cstddef>
#include <span>
#include <vector>

#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"
#include "pool/interruption.hpp"
#include "pool/thread_pool.hpp"

namespace orven::extractor {

// values[i] receives the features of series[i], computed on the pool while
// the thread that started the work goes on with other things, and readable
// in order as they become ready: the thread that turns results into objects
// of its own can do so while the workers compute the rest.
//
// Start it from a thread outside the pool (the first start of the process
// creates the pool, also for no series at all).  Both spans must outlive
// the object, and nothing may write `values` or read a value before
// wait_for says it is ready.  The object waits for the workers before it
// goes, on every path (except in a child forked meanwhile, where they are
// gone).  Every value has the same bits whatever the number of workers.
//
// A failure of one series (the median's refusal of NaN) ends its block;
// the other blocks still run, and finish() raises the failure.  With an
// interruption, the waits poll it (pool::Batch says how); once it is
// cancelled no further block starts, and finish() raises pool::Interrupted.
class ExtractionInProgress {
public:
    ExtractionInProgress(std::span<const features::common::SeriesView> series,
                         std::span<features::minimal::FeatureValues> values,
                         pool::Interruption* interruption = nullptr);
    ExtractionInProgress(const ExtractionInProgress&) = delete;
    ExtractionInProgress& operator=(const ExtractionInProgress&) = delete;

    // Blocks until values[0, count) are all written (true), or until the
    // work has ended without writing them all, because a series failed, or
    // the call was interrupted (false: finish() raises the failure).
    bool wait_for(std::size_t count);

    // Waits for the end of the work and raises its failure, if any.
    void finish() { batch_.finish(); }

    static constexpr std::size_t block_size = 256;
    static constexpr std::size_t block_elements = std::size_t{1} << 16;

private:
    struct RunBlock {
        ExtractionInProgress* self;
        void operator()(std::size_t block) const;
    };

    std::size_t block_begin(std::size_t block) const noexcept {
        return block == 0 ? 0 : block_ends_[block - 1];
    }

    std::span<const features::common::SeriesView> series_;
    std::span<features::minimal::FeatureValues> values_;
    // Where each block's series end (exclusive), in series order.
    std::vector<std::size_t> block_ends_;
    // Blocks the reader has seen done, all of them from the first on.
    std::size_t ready_blocks_ = 0;
    RunBlock run_block_{this};
    pool::Batch batch_;
};

}  // namespace orven::extractor
