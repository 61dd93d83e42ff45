#pragma once

// The compute stage of a frame call: work started on the process-wide
// pool with the interpreter released, waited for in steps of about a
// percent where there is a progress report, each step's count handed to
// it.  The same for series (extract_features) and windows
// (rolling_features): the work object need only say when its first n
// items are ready (wait_for) and raise its failure at the end (finish).

#include <Python.h>

#include <algorithm>
#include <cstddef>

#include "call/signal_poll.hpp"
#include "python/failure.hpp"
#include "python/released_interpreter.hpp"

namespace orven::bindings::frames {

// Called attached to the interpreter: progress(done, total) is called
// before, in steps, and after, when `progress` is not null.  start() makes
// the work object (its inputs must be memory the call owns); it runs and
// is waited for without the interpreter.  An exception raised by a handler
// or by progress stops the call: no further item starts, and that
// exception is returned.  Throws pool::Interrupted as the waits do.
template <class Start>
errors::Status work_with_progress(std::size_t total, call::SignalPoll& signals, PyObject* progress,
                                  Start&& start) {
    signals.report_progress(progress, total);
    errors::Status started = signals.report_now();
    if (!started.ok()) return started;
    if (total > 0) {
        {
            const python::ReleasedInterpreter released;
            auto work = start();
            // Without a progress report, one wait: every step would cost a
            // wake-up of this thread and two switches of thread (the
            // signal handlers are polled on time either way).
            const std::size_t step = progress == nullptr ? total : std::max<std::size_t>(total / 100, 1);
            for (std::size_t ready = std::min(step, total);; ready = std::min(ready + step, total)) {
                if (!work.wait_for(ready)) break;
                signals.set_done(ready);
                if (ready == total) break;
            }
            work.finish();
        }
        // A handler that raised as the last item finished: the work is
        // complete, but the exception is the call's outcome all the same.
        if (signals.interruption().cancelled()) return signals.take_raised();
    }
    return signals.report_now();
}

}  // namespace orven::bindings::frames
