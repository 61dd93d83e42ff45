#pragma once

// pyo3_runtime.PanicException: what a fatal error becomes at an entry point.
// Derived from BaseException, so that `except Exception` does not swallow it.

#include <Python.h>

#include <string>

#include "errors/error_value.hpp"

namespace orven::bindings::errors {

// PanicException(message), the type created now if this is its first use.
ErrorValue panic_exception(std::string message);

// Whether `type` is this process's PanicException (not a like-named type of
// another module).  Never creates the type: before it exists, nothing can be
// an instance of it.
bool is_panic_exception_type(PyObject* type) noexcept;

}  // namespace orven::bindings::errors
