#include "memory/block_cache.hpp"

#include <array>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace orven::memory::block_cache {
namespace {

constexpr std::size_t huge_page = std::size_t{2} << 20;

// Held blocks of more than this over the size asked for are not handed
// out for it: they would keep idle memory in use.
constexpr std::size_t slack_divisor = 4;

// Fixed room for held blocks, so that holding one never allocates (nor
// takes malloc's locks) under our lock; a call uses a handful.
constexpr std::size_t slots = 32;

constexpr auto idle_limit = std::chrono::seconds(4);
constexpr auto idle_poll = std::chrono::milliseconds(500);

using Clock = std::chrono::steady_clock;

struct Held {
    void* block = nullptr;
    std::size_t bytes = 0;
    // The busy period (time with a block in use) that last took it.
    unsigned long long period = 0;
};

struct State {
    std::mutex lock;
    std::array<Held, slots> held{};
    std::size_t held_count = 0;
    std::size_t in_use = 0;
    unsigned long long period = 1;
    Clock::time_point last_use{};
    bool waiter_running = false;
};

// Never destroyed: the idle waiter may still be asleep at exit, and blocks
// may be given back by static destructors of other libraries' objects.
State& state() {
    alignas(State) static unsigned char storage[sizeof(State)];
    static State* const made = ::new (static_cast<void*>(storage)) State();
    return *made;
}

void* fresh(std::size_t bytes) {
    void* block = std::aligned_alloc(huge_page, bytes);
    if (block == nullptr) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
    // Advice only: without huge pages the block works the same.
    ::madvise(block, bytes, MADV_HUGEPAGE);
#endif
    return block;
}

// Moves the held blocks that `keep` rejects into `out`; returns how many.
template <class Keep>
std::size_t remove_held(State& s, std::array<Held, slots>& out, Keep keep) noexcept {
    std::size_t removed = 0;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < s.held_count; ++i) {
        if (keep(s.held[i])) {
            s.held[kept++] = s.held[i];
        } else {
            out[removed++] = s.held[i];
        }
    }
    s.held_count = kept;
    return removed;
}

std::size_t free_all(const std::array<Held, slots>& blocks, std::size_t count) noexcept {
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::free(blocks[i].block);
        bytes += blocks[i].bytes;
    }
    return bytes;
}

void wait_for_idle() noexcept {
    State& s = state();
    for (;;) {
        std::this_thread::sleep_for(idle_poll);
        std::array<Held, slots> out{};
        std::size_t count = 0;
        bool done = false;
        {
            std::lock_guard guard(s.lock);
            if (s.in_use == 0 && Clock::now() - s.last_use >= idle_limit) {
                count = remove_held(s, out, [](const Held&) { return false; });
            }
            if (s.held_count == 0) {
                s.waiter_running = false;
                done = true;
            }
        }
        free_all(out, count);
        if (done) return;
    }
}

void start_waiter() noexcept {
    try {
        std::thread(&wait_for_idle).detach();
    } catch (...) {
        // No thread: what is held is given back now instead.
        State& s = state();
        {
            std::lock_guard guard(s.lock);
            s.waiter_running = false;
        }
        release_all();
    }
}

}  // namespace

void* take(std::size_t bytes, std::size_t* granted) {
    const std::size_t rounded = (bytes + huge_page - 1) / huge_page * huge_page;
    State& s = state();
    {
        std::lock_guard guard(s.lock);
        std::size_t best = slots;
        for (std::size_t i = 0; i < s.held_count; ++i) {
            const std::size_t size = s.held[i].bytes;
            if (size >= rounded && size - rounded <= rounded / slack_divisor &&
                (best == slots || size < s.held[best].bytes)) {
                best = i;
            }
        }
        if (best != slots) {
            void* block = s.held[best].block;
            *granted = s.held[best].bytes;
            s.held[best] = s.held[--s.held_count];
            s.in_use += *granted;
            s.last_use = Clock::now();
            return block;
        }
        s.in_use += rounded;
    }
    try {
        void* block = fresh(rounded);
        *granted = rounded;
        return block;
    } catch (...) {
        std::lock_guard guard(s.lock);
        s.in_use -= rounded < s.in_use ? rounded : s.in_use;
        throw;
    }
}

void give(void* block, std::size_t granted) noexcept {
    State& s = state();
    std::array<Held, slots> out{};
    std::size_t count = 0;
    bool start = false;
    bool kept = false;
    {
        std::lock_guard guard(s.lock);
        // A block taken before a fork may come back in the child, whose
        // count of blocks in use began again at nothing.
        s.in_use -= granted < s.in_use ? granted : s.in_use;
        s.last_use = Clock::now();
        if (s.held_count < slots) {
            s.held[s.held_count++] = Held{block, granted, s.period};
            kept = true;
        }
        if (s.in_use == 0) {
            // The end of a busy period: what neither it nor the one before
            // took is not needed.  Two, since one call of the frame path
            // may be more than one native step with nothing in use between.
            const unsigned long long period = s.period++;
            count = remove_held(s, out, [&](const Held& held) { return held.period + 1 >= period; });
        }
        if (s.held_count != 0 && !s.waiter_running) {
            s.waiter_running = true;
            start = true;
        }
    }
    if (!kept) std::free(block);
    free_all(out, count);
    if (start) start_waiter();
}

std::size_t release_all() noexcept {
    State& s = state();
    std::array<Held, slots> out{};
    std::size_t count = 0;
    {
        std::lock_guard guard(s.lock);
        count = remove_held(s, out, [](const Held&) { return false; });
    }
    return free_all(out, count);
}

std::size_t held_bytes() noexcept {
    State& s = state();
    std::lock_guard guard(s.lock);
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < s.held_count; ++i) bytes += s.held[i].bytes;
    return bytes;
}

void before_fork() noexcept { state().lock.lock(); }

void after_fork_in_parent() noexcept { state().lock.unlock(); }

void after_fork_in_child() noexcept {
    // The forking thread holds the lock (before_fork); the idle waiter is
    // not in the child.  Blocks in use by the parent's other threads never
    // come back here, so the count of blocks in use starts again.
    State& s = state();
    std::array<Held, slots> out{};
    const std::size_t count = remove_held(s, out, [](const Held&) { return false; });
    s.in_use = 0;
    s.waiter_running = false;
    s.lock.unlock();
    free_all(out, count);
}

}  // namespace orven::memory::block_cache
