#pragma once

// How each module of this library comes to be: `orven` and
// `orven_frames._native`, two initialisers of one shared object.
//
// Single-phase initialisation: one module object per process, made on the
// first import and returned again on later ones.  The modules keep
// process-wide state (the pool, the borrows of calls in flight, the
// one-time values, the module objects themselves) that cannot be shared
// between interpreters, so the library serves one interpreter of a
// process: the first that imports either module.  Every other is refused
// with ImportError "PyO3 modules do not yet support subinterpreters, see
// https://github.com/PyO3/pyo3/issues/576", the text that extension
// modules of that convention give, so that code which expects their
// refusal meets the same one here.
//
// Before anything else, an initialiser installs the fork handlers
// (call/fork_handlers.hpp) that keep the process-wide state sound.

#include <Python.h>

#include "python/failure.hpp"
#include "python/handles.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::call {

class ModuleOfProcess {
public:
    // Fills a freshly made module object (its functions and attributes).
    using Fill = errors::Status (*)(PyObject* module);

    // `definition` has static storage, like the module object it describes.
    ModuleOfProcess(PyModuleDef& definition, Fill fill) noexcept : definition_(definition), fill_(fill) {}
    ModuleOfProcess(const ModuleOfProcess&) = delete;
    ModuleOfProcess& operator=(const ModuleOfProcess&) = delete;

    // What the module's PyInit function returns: the module object, made
    // on the process's first import, or the ImportError above.
    errors::Result<python::PyRef> initialise();

private:
    errors::Result<PyObject*> create() const;

    PyModuleDef& definition_;
    Fill fill_;
    // Holds its reference for the life of the process: the definitions
    // have no free function and the module objects are never released.
    python::OnceValue<PyObject*> module_;
};

}  // namespace orven::bindings::call
