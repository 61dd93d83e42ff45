#pragma once

// The interpreter released for a scope: other Python threads run while the
// calling thread waits for work on memory that stays valid without it (the
// call's own buffers, pinned columns, held Arrow batches).  Code inside the
// scope touches no Python object; a poll that must (signal handlers, the
// progress bar) takes the interpreter for its own length with
// InterpreterHeld.

#include <Python.h>

namespace orven::bindings::frames {

class ReleasedInterpreter {
public:
    ReleasedInterpreter() noexcept : state_(PyEval_SaveThread()) {}
    ~ReleasedInterpreter() { PyEval_RestoreThread(state_); }
    ReleasedInterpreter(const ReleasedInterpreter&) = delete;
    ReleasedInterpreter& operator=(const ReleasedInterpreter&) = delete;

private:
    PyThreadState* state_;
};

// The interpreter held for a scope, whether or not the thread had released
// it: PyGILState restores the thread's own state where it was released and
// does nothing where it was held.
class InterpreterHeld {
public:
    InterpreterHeld() noexcept : state_(PyGILState_Ensure()) {}
    ~InterpreterHeld() { PyGILState_Release(state_); }
    InterpreterHeld(const InterpreterHeld&) = delete;
    InterpreterHeld& operator=(const InterpreterHeld&) = delete;

private:
    PyGILState_STATE state_;
};

}  // namespace orven::bindings::frames
