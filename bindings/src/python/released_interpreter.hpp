#pragma once

// The one way this library lets go of the interpreter and takes it back.
//
// A thread releases the interpreter for a scope in which it touches no
// Python object: it waits for the pool on memory the call holds, or for a
// lock that another thread may hold while it needs the interpreter.  Code
// inside such a scope that must run Python (the signal handlers and the
// progress callback that a poll runs) takes the interpreter back for its
// own length with attached(), wherever it is called from: the scope a
// thread is in is recorded per thread, so a poll needs to know nothing of
// who released the interpreter, or whether anybody did.
//
// This stands in for PyGILState_Ensure, which serves the main interpreter
// only: the library serves whichever interpreter imported it first (see
// call/module_setup.hpp), and here the thread state to restore is the one
// the thread itself saved.

#include <Python.h>

namespace orven::bindings::python {

class ReleasedInterpreter {
public:
    // Call attached to the interpreter, never directly inside another scope
    // of the same thread (only inside attached() code, which is attached).
    ReleasedInterpreter() noexcept : state_(PyEval_SaveThread()) { current_scope_ = this; }
    ~ReleasedInterpreter() {
        current_scope_ = nullptr;
        PyEval_RestoreThread(state_);
    }
    ReleasedInterpreter(const ReleasedInterpreter&) = delete;
    ReleasedInterpreter& operator=(const ReleasedInterpreter&) = delete;

    // Runs `code` attached to the interpreter: taken back for its length
    // when this thread is inside a scope, as it is otherwise.
    template <class Code>
    static decltype(auto) attached(Code&& code) {
        if (current_scope_ == nullptr) {
            return code();
        }
        const Retaken retaken(*current_scope_);
        return code();
    }

private:
    // The interpreter taken back for a scope of attached(): the thread is
    // then in no released scope until it lets go again.
    class Retaken {
    public:
        explicit Retaken(ReleasedInterpreter& scope) noexcept : scope_(scope) {
            PyEval_RestoreThread(scope_.state_);
            current_scope_ = nullptr;
        }
        ~Retaken() {
            current_scope_ = &scope_;
            scope_.state_ = PyEval_SaveThread();
        }
        Retaken(const Retaken&) = delete;
        Retaken& operator=(const Retaken&) = delete;

    private:
        ReleasedInterpreter& scope_;
    };

    // The scope this thread is in, or null while it is attached.
    static inline constinit thread_local ReleasedInterpreter* current_scope_ = nullptr;

    PyThreadState* state_;
};

}  // namespace orven::bindings::python
