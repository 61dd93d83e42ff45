#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>
#include <optional>

#include "python/failure.hpp"

namespace orven::bindings::python {

// A process-wide value filled on first need and never cleared.  A fill that
// fails (error value or fatal error) leaves it empty for the next attempt.
//
// A thread that must wait for another thread's fill detaches from the
// interpreter first: the filling thread may need the interpreter (imports
// run Python code), and waiting on the lock while attached would deadlock.
// The filling thread itself runs the fill attached.
template <class T>
class OnceValue {
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
        PyThreadState* saved = PyEval_SaveThread();
        std::unique_lock lock(mutex_);
        PyEval_RestoreThread(saved);
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
    std::mutex mutex_;
    std::atomic<bool> filled_{false};
    std::optional<T> value_;
};

}  // namespace orven::bindings::python
