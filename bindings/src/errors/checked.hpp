#pragma once

#include <Python.h>

#include "errors/error_value.hpp"
#include "errors/translation.hpp"
#include "python/py_ref.hpp"

namespace orven::bindings::errors {

// Owns the new reference an interpreter call returned, or fetches the
// error it raised when it returned null.
inline Result<python::PyRef> checked(PyObject* result) {
    if (result == nullptr) {
        return fetch();
    }
    return python::PyRef::steal(result);
}

}  // namespace orven::bindings::errors
