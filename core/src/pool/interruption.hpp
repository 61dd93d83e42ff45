#pragma once

// Interrupting a call from the thread that waits for it.  That thread is
// not a worker: it hands the work to the pool and blocks.  With an
// interruption it wakes every poll_interval to ask the caller's poll
// function whether to stop (the caller's language runtime may have a
// signal to act on); once the poll says so, the call is cancelled: pieces
// stop taking new elements, the tasks already running end, and the parallel
// map raises Interrupted instead of returning a result.

#include <atomic>
#include <chrono>

namespace orven::pool {

// How often a waiting thread asks its poll function.
inline constexpr std::chrono::milliseconds poll_interval{20};

// Raised by a parallel map whose interruption was cancelled.  Not a
// std::exception: it is no failure, and only the owner of the
// interruption expects it.
struct Interrupted {};

class Interruption {
public:
    // `poll(context)` returns true when the call must stop.  It is called
    // only on the thread that waits for the pool, and never after it
    // returned true.
    using Poll = bool (*)(void* context) noexcept;

    Interruption(Poll poll, void* context) noexcept : poll_(poll), context_(context) {}
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    // Asks the poll function, unless the call is cancelled already.
    void poll() noexcept {
        if (!cancelled() && poll_(context_)) {
            cancelled_.store(true, std::memory_order_relaxed);
        }
    }

    // Read by every piece before each element: a relaxed load, since a
    // piece that misses the flag for a moment only maps one more element.
    bool cancelled() const noexcept { return cancelled_.load(std::memory_order_relaxed); }

private:
    Poll poll_;
    void* context_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace orven::pool
