#pragma once

// Passes over the rows of a table spread over the process-wide pool as a
// flat list of tasks, while the calling thread waits and polls its
// interruption.  Nothing here knows of an interpreter: a caller that holds
// one releases it around the pass (or around a whole stage of passes) and
// takes it back only inside its poll function.

#include <algorithm>
#include <cstddef>

#include "pool/global_pool.hpp"
#include "pool/interruption.hpp"
#include "pool/thread_pool.hpp"

namespace orven::pool {

// Rows a task handles between two looks at the interruption: at memory
// speed this is well under a millisecond, so a cancelled call stops soon.
inline constexpr std::size_t rows_between_checks = std::size_t{1} << 16;

// Asked by a task every rows_between_checks rows whether to stop: the
// waiting thread polls and sets the flag, the workers read it.
class Checkpoint {
public:
    explicit Checkpoint(const Interruption& interruption) noexcept : interruption_(interruption) {}
    bool stop() const noexcept { return interruption_.cancelled(); }

private:
    const Interruption& interruption_;
};

// How many tasks a pass over `rows` rows is cut into: a few per worker,
// none of fewer than about rows_between_checks rows.
inline std::size_t piece_count(std::size_t rows) {
    const std::size_t most = 4 * global_pool().num_threads();
    return std::clamp<std::size_t>(rows / rows_between_checks, 1, std::max<std::size_t>(most, 1));
}

// The rows of piece `piece` of `pieces`: [begin, end).
struct RowRange {
    std::size_t begin;
    std::size_t end;
};
inline RowRange piece_rows(std::size_t rows, std::size_t pieces, std::size_t piece) noexcept {
    return RowRange{rows * piece / pieces, rows * (piece + 1) / pieces};
}

// For a pass that runs on the calling thread itself: polls, and throws
// Interrupted once the interruption is cancelled.
inline void poll_on_caller(Interruption& interruption) {
    interruption.poll();
    if (interruption.cancelled()) throw Interrupted{};
}

// task(i, checkpoint) for every i in [0, count), as one batch of blocks on
// the pool; the calling thread waits and polls.  Raises the first failure
// of a task, or Interrupted once the interruption is cancelled (a task that
// sees its checkpoint stop may return early).
template <class Task>
void run_tasks(std::size_t count, Task&& task, Interruption& interruption) {
    if (count == 0) return;
    const Checkpoint checkpoint(interruption);
    auto run_block = [&](std::size_t i) { task(i, checkpoint); };
    {
        Batch batch(global_pool(), count, run_block, &interruption);
        batch.finish();
    }
    if (interruption.cancelled()) throw Interrupted{};
}

}  // namespace orven::pool
