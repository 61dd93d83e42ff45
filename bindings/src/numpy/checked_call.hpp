#pragma once

#include <Python.h>

#include "errors/error_value.hpp"
#include "errors/translation.hpp"
#include "python/py_ref.hpp"

namespace orven::bindings::numpy {

// Owns the new reference an interpreter call returned, or takes the error
// it raised when it returned null.
inline errors::Result<python::PyRef> checked_call(PyObject* result) {
    if (result == nullptr) {
        return errors::fetch();
    }
    return python::PyRef::steal(result);
}

}  // namespace orven::bindings::numpy
