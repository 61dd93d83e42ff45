#include "features/rolling/rolling_in_progress.hpp"

#include <algorithm>
#include <bit>
#include <string>
#include <vector>

#include "fatal/fatal_error.hpp"
#include "features/rolling/window_features.hpp"
#include "pool/global_pool.hpp"

namespace orven::features::rolling {
namespace {

// A window's cost in reading-additions: its readings, and what every
// window costs besides (its search, its features, its slot).
constexpr std::size_t window_overhead = 32;

// The cost of one window of a series, estimated from its first, middle
// and last windows: the cut then costs O(series + blocks) on the calling
// thread rather than a pass over every window, which would hold the
// workers back for milliseconds on a call of millions.
std::size_t window_cost(const SeriesWindows& one) {
    const std::span<const Window> windows = one.windows;
    if (windows.empty()) return window_overhead;
    const std::size_t readings =
        windows.front().size() + windows[windows.size() / 2].size() + windows.back().size();
    return readings / 3 + window_overhead;
}

struct CallSize {
    std::size_t windows = 0;
    std::size_t cost = 0;
};

CallSize size_of(std::span<const SeriesWindows> series) {
    CallSize size;
    for (const SeriesWindows& one : series) {
        size.windows += one.windows.size();
        size.cost += one.windows.size() * window_cost(one);
    }
    return size;
}

template <class Block>
std::vector<Block> cut_into_blocks(std::span<const SeriesWindows> series, std::size_t results,
                                   std::size_t block_cost) {
    const CallSize size = size_of(series);
    if (size.windows != results) {
        fatal::raise("RollingInProgress: " + std::to_string(size.windows) + " windows but " +
                     std::to_string(results) + " result slots");
    }
    block_cost = std::max<std::size_t>(block_cost, 1);
    std::vector<Block> blocks;
    std::size_t flat = 0;
    std::size_t cost = block_cost;  // the first window opens a block
    for (std::size_t s = 0; s < series.size(); ++s) {
        const std::size_t count = series[s].windows.size();
        const std::size_t each = window_cost(series[s]);
        for (std::size_t w = 0; w < count;) {
            if (cost >= block_cost) {
                if (!blocks.empty()) blocks.back().flat_end = flat;
                blocks.push_back(Block{s, w, flat, flat});
                cost = 0;
            }
            // As many of this series' windows as the block has room for.
            const std::size_t room = (block_cost - cost + each - 1) / each;
            const std::size_t taken = std::min(count - w, room);
            w += taken;
            flat += taken;
            cost += taken * each;
        }
    }
    if (!blocks.empty()) blocks.back().flat_end = flat;
    return blocks;
}

std::size_t default_block_cost(std::span<const SeriesWindows> series, std::size_t workers) {
    const CallSize size = size_of(series);
    const std::size_t typical = size.windows == 0 ? 0 : size.cost / size.windows;
    return RollingInProgress::block_cost_for(size.cost, typical, workers);
}

}  // namespace

// A few blocks per worker for balance and a progress bar that moves, each
// at most about a millisecond of work unless its windows are long: then
// large enough that sorting its first window (w log w) is a small part.
std::size_t RollingInProgress::block_cost_for(std::size_t total_cost, std::size_t typical_length,
                                              std::size_t workers) {
    const std::size_t balanced = total_cost / (8 * std::max<std::size_t>(workers, 1));
    const std::size_t bounded = std::clamp<std::size_t>(balanced, std::size_t{1} << 16,
                                                        std::size_t{1} << 22);
    const std::size_t log_length =
        static_cast<std::size_t>(std::bit_width(std::max<std::size_t>(typical_length, 2)));
    return std::max(bounded, 32 * typical_length * log_length);
}

RollingInProgress::RollingInProgress(std::span<const SeriesWindows> series, FeatureColumns out,
                                     pool::Interruption* interruption)
    : RollingInProgress(series, out, interruption, pool::global_pool(),
                        default_block_cost(series, pool::global_pool().num_threads())) {}

RollingInProgress::RollingInProgress(std::span<const SeriesWindows> series, FeatureColumns out,
                                     pool::Interruption* interruption, pool::ThreadPool& pool,
                                     std::size_t block_cost)
    : series_(series),
      out_(out),
      interruption_(interruption),
      blocks_(cut_into_blocks<Block>(series, out.windows, block_cost)),
      batch_(pool, blocks_.size(), run_block_, interruption) {}

// Windows of a block computed at a time, as records, before they go to
// their columns: few enough to stay in cache, many enough that restarting
// the sliding state (one sort of the first window) is a small part.
constexpr std::size_t windows_at_a_time = 4096;

void RollingInProgress::RunBlock::operator()(std::size_t index) const {
    const Block block = self->blocks_[index];
    WindowFeatures kernel;
    std::vector<minimal::FeatureValues> records(std::min(windows_at_a_time, block.flat_end - block.flat_begin));
    std::size_t flat = block.flat_begin;
    std::size_t first = block.window;
    for (std::size_t s = block.series; flat < block.flat_end; ++s, first = 0) {
        const SeriesWindows& one = self->series_[s];
        const std::size_t count = std::min(one.windows.size() - first, block.flat_end - flat);
        for (std::size_t done = 0; done < count;) {
            const std::size_t now = std::min(records.size(), count - done);
            const std::span<minimal::FeatureValues> out(records.data(), now);
            if (!kernel.compute(one.values, one.windows.subspan(first + done, now), out, self->interruption_)) {
                return;  // cancelled: finish() raises Interrupted
            }
            for (std::size_t i = 0; i < now; ++i) self->out_.put(flat + done + i, records[i]);
            done += now;
        }
        flat += count;
    }
}

bool RollingInProgress::wait_for(std::size_t count) {
    std::size_t needed = ready_blocks_;
    while (needed < blocks_.size() && blocks_[needed].flat_begin < count) {
        ++needed;
    }
    if (!batch_.wait_for_blocks(ready_blocks_, needed)) {
        return false;
    }
    ready_blocks_ = needed;
    return true;
}

}  // namespace orven::features::rolling
