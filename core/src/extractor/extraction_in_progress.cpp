#include "extractor/extraction_in_progress.hpp"

#include <algorithm>
#include <string>

#include "fatal/fatal_error.hpp"
#include "features/minimal/oop/minimal_feature_set.hpp"
#include "pool/global_pool.hpp"
#include "pool/parallel_map.hpp"

namespace orven::extractor {
namespace {

std::vector<std::size_t> cut_into_blocks(std::span<const features::common::SeriesView> series) {
    std::vector<std::size_t> ends;
    std::size_t in_block = 0;
    std::size_t elements = 0;
    for (std::size_t i = 0; i < series.size(); ++i) {
        ++in_block;
        elements += series[i].size();
        if (in_block == ExtractionInProgress::block_size ||
            elements >= ExtractionInProgress::block_elements) {
            ends.push_back(i + 1);
            in_block = 0;
            elements = 0;
        }
    }
    if (in_block > 0) {
        ends.push_back(series.size());
    }
    return ends;
}

}  // namespace

ExtractionInProgress::ExtractionInProgress(std::span<const features::common::SeriesView> series,
                                           std::span<features::minimal::FeatureValues> values,
                                           pool::Interruption* interruption)
    : series_(series),
      values_(values),
      interruption_(interruption),
      block_ends_(cut_into_blocks(series)),
      block_done_(std::make_unique<std::atomic<bool>[]>(block_ends_.size())),
      block_slots_(std::make_unique<pool::Unit[]>(block_ends_.size())),
      next_poll_(std::chrono::steady_clock::now() + pool::poll_interval),
      job_(task_, latch_, pool::no_worker) {
    if (series.size() != values.size()) {
        fatal::raise("ExtractionInProgress: " + std::to_string(series.size()) + " series but " +
                     std::to_string(values.size()) + " result slots");
    }
    // Made (or its failure raised) here, on the starting thread, as for any
    // other first use of the pool; then handed the work like a caller that
    // waits, except that this one comes back later.
    pool_ = &pool::global_pool();
    pool_->injector().push_newest(job_);
    pool_->sleep().announce_work();
}

ExtractionInProgress::~ExtractionInProgress() {
    if (finished_ || pool_ == nullptr || pool_->abandoned()) {
        return;
    }
    latch_.wait_and_reset();
}

void ExtractionInProgress::signal() noexcept {
    // The reader checks the flags under the mutex before it sleeps, so
    // passing through the mutex here means it cannot miss this signal.
    { const std::lock_guard lock(mutex_); }
    changed_.notify_all();
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
    pool::parallel_map_into(
        std::span(block_slots_.get(), block_ends_.size()),
        [&](std::size_t block) {
            const std::size_t begin = block == 0 ? 0 : block_ends_[block - 1];
            for (std::size_t i = begin; i < block_ends_[block]; ++i) {
                values_[i] = feature_set.compute(series_[i]);
            }
            block_done_[block].store(true, std::memory_order_release);
            signal();
            return pool::Unit{};
        },
        interruption_);
}

void ExtractionInProgress::poll() {
    if (interruption_ != nullptr) {
        interruption_->poll();
    }
    if (pool_->abandoned()) {
        // The poll ran code that forked, and this is the child: the work
        // will never run here, and nothing that runs refers to it.
        fatal::raise("the worker pool was lost to fork() in the middle of this call");
    }
}

void ExtractionInProgress::poll_when_due() {
    const auto now = std::chrono::steady_clock::now();
    if (now >= next_poll_) {
        next_poll_ = now + pool::poll_interval;
        poll();
    }
}

// The clock is read once per block the reader passes, and after each sleep:
// often enough to poll on time whether the workers or the reader are behind,
// rarely enough to cost nothing next to a block's work.
bool ExtractionInProgress::wait_for(std::size_t count) {
    const auto done = [&] { return block_done_[ready_blocks_].load(std::memory_order_acquire); };
    while (ready_blocks_ < block_ends_.size() &&
           (ready_blocks_ == 0 ? 0 : block_ends_[ready_blocks_ - 1]) < count) {
        if (done()) {
            ++ready_blocks_;
            if (interruption_ != nullptr) {
                poll_when_due();
                if (cancelled()) {
                    return false;
                }
            }
            continue;
        }
        {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, pool::poll_interval, [&] {
                return done() || ended_.load(std::memory_order_acquire);
            });
        }
        if (done()) {
            continue;
        }
        if (ended_.load(std::memory_order_acquire)) {
            return false;
        }
        poll_when_due();
        if (cancelled()) {
            return false;
        }
    }
    return true;
}

void ExtractionInProgress::finish() {
    while (!latch_.wait_for_and_reset(pool::poll_interval)) {
        poll();
    }
    finished_ = true;
    job_.outcome().take();
}

}  // namespace orven::extractor
