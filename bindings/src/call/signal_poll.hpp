#pragma once

// Signals and Ctrl-C while a call waits for the pool.  The waiting thread
// asks its poll every pool::poll_interval (pool/interruption.hpp): the poll
// runs the interpreter's signal handlers, taking the interpreter back for
// them where the thread released it, and, when the call reports progress,
// then calls progress(done, total).  Once a handler or the callback raises
// (KeyboardInterrupt from Ctrl-C), the interruption is cancelled for good:
// no further block starts, the running ones end, and the call raises that
// exception unchanged once everything it holds is released.  There is no
// partial result.

#include <Python.h>

#include <cstddef>

#include "pool/interruption.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::call {

class SignalPoll {
public:
    SignalPoll() noexcept = default;
    // The handlers then run with the collector switched as the caller left
    // it, not as `pause` keeps it while the call builds its result.
    explicit SignalPoll(python::CollectorPause& pause) noexcept : pause_(&pause) {}
    SignalPoll(const SignalPoll&) = delete;
    SignalPoll& operator=(const SignalPoll&) = delete;

    pool::Interruption& interruption() noexcept { return interruption_; }

    // From now on every poll also calls progress(done, total), done being
    // the last count given to set_done().
    void report_progress(PyObject* progress, std::size_t total) noexcept {
        progress_ = progress;
        total_ = total;
    }
    void set_done(std::size_t done) noexcept { done_ = done; }
    // progress(done, total) at once, attached to the interpreter: the
    // moments a poll would not catch (the first and the last).
    errors::Status report_now();

    // The exception a handler or the callback raised, once the interruption
    // is cancelled.
    errors::ErrorValue take_raised() { return errors::ErrorValue::from_object(std::move(raised_)); }

private:
    static bool poll(void* context) noexcept;
    bool handler_raised() noexcept;
    bool progress_raised() noexcept;

    python::CollectorPause* pause_ = nullptr;
    PyObject* progress_ = nullptr;
    std::size_t total_ = 0;
    std::size_t done_ = 0;
    python::PyRef raised_;
    pool::Interruption interruption_{&SignalPoll::poll, this};
};

}  // namespace orven::bindings::call
