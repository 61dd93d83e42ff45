#pragma once

// The interpreter released for a scope: other Python threads run while the
// calling thread waits for work on memory that the call owns.  Python
// objects may be touched only inside reattached(), which takes the
// interpreter back for the length of one function.

#include <Python.h>

#include <utility>

namespace orven::bindings::frames {

class ReleasedInterpreter {
public:
    ReleasedInterpreter() noexcept : state_(PyEval_SaveThread()) {}
    ~ReleasedInterpreter() { PyEval_RestoreThread(state_); }
    ReleasedInterpreter(const ReleasedInterpreter&) = delete;
    ReleasedInterpreter& operator=(const ReleasedInterpreter&) = delete;

    // Runs `body` holding the interpreter, and releases it again after.
    template <class Body>
    decltype(auto) reattached(Body&& body) {
        struct Release {
            PyThreadState*& state;
            ~Release() { state = PyEval_SaveThread(); }
        };
        PyEval_RestoreThread(state_);
        const Release again{state_};
        return std::forward<Body>(body)();
    }

private:
    PyThreadState* state_;
};

}  // namespace orven::bindings::frames
