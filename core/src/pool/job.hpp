#pragma once

// Jobs: the units of work that queues hold, the outcome a task leaves
// behind, and the job that lives in the frame of the thread waiting for it.

#include <cstddef>
#include <exception>
#include <limits>
#include <optional>
#include <type_traits>
#include <utility>

#include "pool/bookkeeping.hpp"

namespace orven::pool {

// Index of the worker that created a job; outside callers have none.
inline constexpr std::size_t no_worker = std::numeric_limits<std::size_t>::max();

// A unit of work that sits in a queue until some thread runs it.  Jobs are
// owned by the stack frame that waits for them (a join or an outside
// caller); queues only hold pointers, and the owner never leaves before the
// job has run, so a queued job is always alive.
class Job {
public:
    explicit Job(std::size_t origin) noexcept : origin_(origin) {}
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Runs the work and signals completion; the job may be destroyed by its
    // owner as soon as completion is signalled.  `migrated` tells whether it
    // runs on another thread than the one that offered it.
    virtual void execute(bool migrated) noexcept = 0;

    std::size_t origin() const noexcept { return origin_; }

protected:
    ~Job() = default;

private:
    std::size_t origin_;
};

// Stands in for the result of a task that returns nothing.
struct Unit {};

template <class T>
using ResultOf = std::conditional_t<std::is_void_v<T>, Unit, T>;

// What a task left behind: its result, or the failure that ended it.  The
// task boundary catches everything, so that the failure can travel to the
// thread that waits for the task and be raised there, unchanged.
template <class R>
class TaskOutcome {
public:
    template <class F, class... Args>
    void run(F& task, Args&&... args) noexcept {
        try {
            if constexpr (std::is_void_v<std::invoke_result_t<F&, Args...>>) {
                task(std::forward<Args>(args)...);
                value_.emplace();
            } else {
                value_.emplace(task(std::forward<Args>(args)...));
            }
        } catch (...) {
            failure_ = std::current_exception();
        }
    }

    bool failed() const noexcept { return failure_ != nullptr; }
    const std::exception_ptr& failure() const noexcept { return failure_; }

    // The result, or the task's failure raised again.
    R take() {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        if (!value_) {
            bookkeeping_failed();  // asked for a result before the task ran
        }
        return std::move(*value_);
    }

private:
    std::optional<R> value_;
    std::exception_ptr failure_;
};

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
