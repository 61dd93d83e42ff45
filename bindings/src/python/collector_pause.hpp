#pragma once

// Holds off the cyclic garbage collector while a large result is built.

#include <Python.h>

namespace orven::bindings::python {

// Building a result of many dicts would otherwise run young collections
// over and over, each walking the dicts made so far, none of which can be
// garbage yet.  The collector is switched off for the guard's lifetime and
// back on afterwards only if it was on before.  Holding the interpreter,
// and running no Python code in between, no other thread can see the
// switch.  The free-threaded build has no such guarantee (other threads run
// alongside and may read or set the switch), so there the guard does
// nothing.
class CollectorPause {
public:
#ifdef Py_GIL_DISABLED
    // Not defaulted: a guard object that is made and never used is the point.
    CollectorPause() noexcept {}
#else
    CollectorPause() noexcept : was_enabled_(PyGC_Disable() != 0) {}
    ~CollectorPause() {
        if (was_enabled_) {
            PyGC_Enable();
        }
    }
#endif
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;

private:
#ifndef Py_GIL_DISABLED
    bool was_enabled_;
#endif
};

}  // namespace orven::bindings::python
