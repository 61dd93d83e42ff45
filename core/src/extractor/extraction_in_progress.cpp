#include "extractor/extraction_in_progress.hpp"

#include <algorithm>

#include "fatal/fatal_error.hpp"
#include "features/minimal/oop/minimal_feature_set.hpp"
#include "pool/global_pool.hpp"
#include "pool/parallel_map.hpp"
#include "pool/thread_pool.hpp"

namespace orven::extractor {

ExtractionInProgress::ExtractionInProgress(std::span<const features::common::SeriesView> series,
                                           std::span<features::minimal::FeatureValues> values)
    : series_(series),
      values_(values),
      block_count_((series.size() + block_size - 1) / block_size),
      block_done_(std::make_unique<std::atomic<bool>[]>(block_count_)),
      block_slots_(std::make_unique<pool::Unit[]>(block_count_)),
      latch_(pool::LockLatch::of_this_thread()),
      job_(task_, latch_, pool::no_worker) {
    if (series.size() != values.size()) {
        fatal::raise("ExtractionInProgress: " + std::to_string(series.size()) + " series but " +
                     std::to_string(values.size()) + " result slots");
    }
    // Made (or its failure raised) here, on the starting thread, as for any
    // other first use of the pool; then handed the work like a caller that
    // waits, except that this one comes back later.
    pool::ThreadPool& pool = pool::global_pool();
    pool.injector().push_newest(job_);
    pool.sleep().announce_work();
}

ExtractionInProgress::~ExtractionInProgress() {
    if (!finished_) {
        latch_.wait_and_reset();
    }
}

void ExtractionInProgress::signal() noexcept {
    events_.fetch_add(1, std::memory_order_release);
    events_.notify_all();
}

void ExtractionInProgress::run() {
    struct EndSignal {
        ExtractionInProgress& self;
        ~EndSignal() {
            self.ended_.store(true, std::memory_order_release);
            self.signal();
        }
    } end_signal{*this};
    // Stateless, and shared read-only by every thread of the call.
    const features::minimal::oop::MinimalFeatureSet feature_set{};
    pool::parallel_map_into(std::span(block_slots_.get(), block_count_), [&](std::size_t block) {
        const std::size_t begin = block * block_size;
        const std::size_t end = std::min(begin + block_size, series_.size());
        for (std::size_t i = begin; i < end; ++i) {
            values_[i] = feature_set.compute(series_[i]);
        }
        block_done_[block].store(true, std::memory_order_release);
        signal();
        return pool::Unit{};
    });
}

bool ExtractionInProgress::wait_for(std::size_t count) noexcept {
    const std::size_t needed = std::min((count + block_size - 1) / block_size, block_count_);
    while (ready_blocks_ < needed) {
        if (block_done_[ready_blocks_].load(std::memory_order_acquire)) {
            ++ready_blocks_;
            continue;
        }
        const std::uint32_t seen = events_.load(std::memory_order_acquire);
        if (block_done_[ready_blocks_].load(std::memory_order_acquire)) {
            continue;
        }
        if (ended_.load(std::memory_order_acquire)) {
            return false;
        }
        events_.wait(seen, std::memory_order_acquire);
    }
    return true;
}

void ExtractionInProgress::finish() {
    latch_.wait_and_reset();
    finished_ = true;
    job_.outcome().take();
}

}  // namespace orven::extractor
