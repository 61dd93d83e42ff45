#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace orven::pool {

// Puts idle workers to sleep and wakes them, without ever losing a wake-up.
//
// A worker that found nothing to do declares itself sleepy, takes a
// snapshot of the announcement counter, searches once more, and then sleeps
// on its own condition variable only if no announcement came since.  A
// thread that pushed a job announces it, bumping the counter, but only
// while some worker is sleepy: in a busy pool, offering a job costs a fence
// and a read, not a write to a line that every worker shares.  The fences
// on both sides order "push, then look for sleepy workers" against "become
// sleepy, then look for jobs": one of the two sees the other.  Between the
// counter and the sleeper count the same holds with sequentially
// consistent operations: either the sleeper sees the new count or the
// announcer sees the sleeper.
//
// A waker claims a particular sleeper by clearing its `asleep` flag, so two
// announcements never spend themselves on the same worker.  A worker that
// wakes for another reason while also being claimed passes the claim on.
class SleepCoordinator {
public:
    explicit SleepCoordinator(std::size_t workers);

    // Called after a job was pushed to any queue: wakes one sleeping worker.
    void announce_work() noexcept;

    // A worker about to sleep: returns the snapshot to pass to sleep(), to
    // be taken before the worker's last search for work.
    std::uint64_t get_sleepy() noexcept;
    // The last search found work after all: the worker stays awake.
    void stay_awake() noexcept { sleepy_.fetch_sub(1); }

    // Blocks worker `index`, which got sleepy with `snapshot`, until it is
    // woken, `stop` is set, or work was announced since `snapshot` (in
    // which case it returns at once).  The worker is awake afterwards.
    void sleep(std::size_t index, std::uint64_t snapshot,
               const std::atomic<bool>& stop) noexcept;

    // Wakes worker `index` if it sleeps: called after setting a flag that
    // worker may be sleeping on.
    void wake_worker(std::size_t index) noexcept;

    // Wakes every worker, after a flag they all watch was set.
    void wake_all() noexcept;

private:
    struct alignas(64) Slot {
        std::mutex mutex;
        std::condition_variable wake;
        std::atomic<bool> asleep{false};
    };

    bool wake_one() noexcept;
    bool claim(std::size_t index) noexcept;

    std::size_t count_;
    std::unique_ptr<Slot[]> slots_;
    std::atomic<std::uint64_t> announced_{0};
    std::atomic<std::size_t> sleepy_{0};
    std::atomic<std::size_t> sleepers_{0};
    std::atomic<std::size_t> next_to_wake_{0};
};

}  // namespace orven::pool
