#pragma once

// The process-wide pool: created on first use with the worker count that
// the environment and the available CPUs settle on, never destroyed, and
// started afresh in a forked child (given that the program runs the fork
// functions below around fork()).

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "pool/thread_pool.hpp"

namespace orven::pool {

// The once-state of a process-wide pool: not created until first asked
// for, then either running for good or failed for good.  The process has
// one (see global_pool()); tests make their own with a factory of their
// choosing.
class GlobalPoolCell {
public:
    using Factory = std::function<std::unique_ptr<ThreadPool>()>;

    explicit GlobalPoolCell(Factory factory) : factory_(std::move(factory)) {}
    GlobalPoolCell(const GlobalPoolCell&) = delete;
    GlobalPoolCell& operator=(const GlobalPoolCell&) = delete;

    // The pool, created on the first call; a thread that asks during the
    // creation waits for it.  If creation failed, now or on any earlier
    // call, raises a fatal error that begins "The global thread pool has
    // not been initialized." and never tries again.
    ThreadPool& get();

    // Fork handling: the creation lock is held across fork() so that the
    // child finds it in a known state; the child then starts with no pool
    // and abandons the parent's, whose threads do not exist there.
    void before_fork() noexcept;
    void after_fork_in_parent() noexcept;
    void after_fork_in_child() noexcept;

private:
    Factory factory_;
    std::mutex creation_;
    std::atomic<ThreadPool*> ready_{nullptr};
    std::unique_ptr<ThreadPool> pool_;
    std::optional<std::string> failure_;
};

// The pool of this process, sized by RAYON_NUM_THREADS, RAYON_RS_NUM_CPUS
// or the available CPUs as read when it is created.  Never destroyed: its
// workers run until the process ends.  Raises the fatal error of a failed
// creation.
ThreadPool& global_pool();

// What global_pool() is created with: reads the settings and the CPU count
// now and starts that many workers (or throws PoolCreationError).
std::unique_ptr<ThreadPool> create_global_pool();

// What fork() must do to the process-wide pool.  The pool registers no
// handlers of its own: the program that embeds it runs these from its one
// set of fork handlers, in the order it states there.
void before_fork() noexcept;
void after_fork_in_parent() noexcept;
void after_fork_in_child() noexcept;

}  // namespace orven::pool
