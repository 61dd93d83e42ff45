#pragma once

// Signals during the passes over the rows: polling runs the interpreter's
// signal handlers (taking the interpreter for it where the waiting thread
// released it), and once one raises (KeyboardInterrupt for Ctrl-C) the
// call stops and raises that.

#include <Python.h>

#include "frames/released_interpreter.hpp"
#include "pool/interruption.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {

// Runs the interpreter's signal handlers (call it with the interpreter
// held).  True when one raised; its exception is then moved into `raised`.
inline bool handler_raised(python::PyRef& raised) noexcept {
    if (PyErr_CheckSignals() == 0) return false;
    raised = python::PyRef::steal(python::get_raised_exception());
    return true;
}

class CallSignals {
public:
    pool::Interruption& interruption() noexcept { return interruption_; }

    // The exception a handler raised, once the call was interrupted.
    errors::ErrorValue take_raised() { return errors::ErrorValue::from_object(std::move(raised_)); }

private:
    static bool poll(void* context) noexcept {
        const InterpreterHeld held;
        return handler_raised(static_cast<CallSignals*>(context)->raised_);
    }

    python::PyRef raised_;
    pool::Interruption interruption_{&CallSignals::poll, this};
};

}  // namespace orven::bindings::frames
