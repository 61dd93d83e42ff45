#pragma once

#include <cstddef>
#include <limits>

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

}  // namespace orven::pool
