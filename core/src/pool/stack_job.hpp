#pragma once

#include <cstddef>
#include <type_traits>

#include "pool/job.hpp"
#include "pool/task_outcome.hpp"

namespace orven::pool {

// A job that lives in the frame of the thread waiting for it.  It refers to
// its task and to the latch that signals its completion; the waiting frame
// keeps both alive until the latch is set (or until it ran the job itself).
template <class F, class Latch>
class StackJob final : public Job {
public:
    using Result = ResultOf<std::invoke_result_t<F&, bool>>;

    StackJob(F& task, Latch& latch, std::size_t origin) noexcept
        : Job(origin), task_(task), latch_(latch) {}

    // Run by whichever thread took the job from a queue.
    void execute(bool migrated) noexcept override {
        outcome_.run(task_, migrated);
        Latch& latch = latch_;
        latch.set();  // the last touch: the owner may now destroy this job
    }

    // Run by the owner, which took its own job back before anyone stole it.
    void run_here() noexcept { outcome_.run(task_, false); }

    TaskOutcome<Result>& outcome() noexcept { return outcome_; }

private:
    F& task_;
    Latch& latch_;
    TaskOutcome<Result> outcome_;
};

}  // namespace orven::pool
