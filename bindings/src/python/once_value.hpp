#pragma once

#include <Python.h>
#include <pthread.h>

#include <atomic>
#include <mutex>
#include <optional>

#include "python/failure.hpp"
#include "python/released_interpreter.hpp"

namespace orven::bindings::python {

// What every once-value shares, whatever its type: the lock its fill runs
// under, and the bookkeeping that lets a forked child use it.
//
// A fill runs Python code (imports) while it holds the lock, so another
// thread may fork() in the middle of it.  The child has only the forking
// thread, and the lock would stay held by a thread that no longer exists.
// Every once-value is therefore on a process-wide list, and after a fork
// the child re-creates the lock of each one whose fill was under way in
// another thread (rearm_once_values_after_fork); that fill never finished in
// the child, so the value is still empty there and the child's first need
// fills it again.  A fill under way in the forking thread itself goes on
// normally in the child.  (Taking the locks before forking instead would
// deadlock: fork() is called with the interpreter held, which a fill may be
// waiting for.)
class OnceSlot {
public:
    OnceSlot(const OnceSlot&) = delete;
    OnceSlot& operator=(const OnceSlot&) = delete;

protected:
    // Joins the process-wide list (once-values are never destroyed before
    // the process ends, so it is never left).
    OnceSlot() noexcept;
    ~OnceSlot() = default;

    // The lock, taken by the thread that will fill, which it records.
    class FillLock {
    public:
        explicit FillLock(OnceSlot& slot) : slot_(slot), lock_(slot.mutex_) {
            slot_.filler_.store(::pthread_self(), std::memory_order_relaxed);
            slot_.filling_.store(true, std::memory_order_relaxed);
        }
        ~FillLock() { slot_.filling_.store(false, std::memory_order_relaxed); }
        FillLock(const FillLock&) = delete;
        FillLock& operator=(const FillLock&) = delete;

    private:
        OnceSlot& slot_;
        std::unique_lock<std::mutex> lock_;
    };

    std::atomic<bool> filled_{false};

private:
    friend void rearm_once_values_after_fork() noexcept;

    std::mutex mutex_;
    std::atomic<bool> filling_{false};
    std::atomic<pthread_t> filler_{};
    OnceSlot* next_ = nullptr;
};

// In a forked child: makes every once-value usable again (see OnceSlot).
// Run from the module's fork handlers.
void rearm_once_values_after_fork() noexcept;

// A process-wide value filled on first need and never cleared.  A fill that
// fails (error value or fatal error) leaves it empty for the next attempt.
//
// A thread that must wait for another thread's fill detaches from the
// interpreter first: the filling thread may need the interpreter (imports
// run Python code), and waiting on the lock while attached would deadlock.
// The filling thread itself runs the fill attached.
template <class T>
class OnceValue : private OnceSlot {
public:
    // The value, or null while it is not filled.
    const T* get() const noexcept {
        return filled_.load(std::memory_order_acquire) ? &*value_ : nullptr;
    }

    // The value, running `fill` (a callable returning errors::Result<T>)
    // when no thread has filled it yet.  Call attached to the interpreter.
    template <class Fill>
    errors::Result<const T*> get_or_try_fill(Fill&& fill) {
        if (const T* value = get()) {
            return value;
        }
        std::optional<FillLock> lock;
        {
            const ReleasedInterpreter released;
            lock.emplace(static_cast<OnceSlot&>(*this));
        }
        if (const T* value = get()) {
            return value;
        }
        errors::Result<T> filled = fill();
        if (!filled.ok()) {
            return std::move(filled).error();
        }
        value_.emplace(std::move(filled).value());
        filled_.store(true, std::memory_order_release);
        return &*value_;
    }

private:
    std::optional<T> value_;
};

}  // namespace orven::bindings::python
