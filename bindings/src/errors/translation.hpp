#pragma once

// How failures cross the boundary: fetching the interpreter's pending
// exception, the cast error, rendering a Python error inside a fatal
// error's message, interpreter calls that may not fail, and the entry-point
// wrapper that turns error values and fatal errors into exceptions.

#include <Python.h>

#include <source_location>
#include <string>
#include <string_view>

#include "errors/error_value.hpp"
#include "python/py_ref.hpp"

namespace orven::bindings::errors {

// Takes the pending exception after an interpreter call has signalled
// failure.  SystemError "attempted to fetch exception but none was set" when
// nothing is pending.  A PanicException of this process, raised again from
// Python, does not come back: it continues as a fatal error.
ErrorValue fetch();

// TypeError "'<qualname of value's type>' object cannot be cast as '<target>'",
// its text formed when it is raised.
ErrorValue cast_error(PyObject* value, PyObject* target);

// "PyErr { type: ..., value: ..., traceback: ... }" for the given error.
std::string render(ErrorValue error);

// Fatal error with the message `prefix` + ": " + the rendering of `error`.
[[noreturn]] void fatal_with_error(std::string_view prefix, ErrorValue error,
                                   std::source_location where = std::source_location::current());

// For interpreter calls treated as unable to fail (creating str, float,
// list, dict): passes a non-null result through as an owned reference;
// on null prints the pending error and raises "Python API call failed".
python::PyRef infallible(PyObject* result,
                         std::source_location where = std::source_location::current());

// The process-wide pyo3_runtime.PanicException type (borrowed; created on
// first use).
PyObject* panic_exception_type();

// Runs the body of an entry point.  Body: () -> Result<python::PyRef>.
// Returns a new reference, or null with exactly one exception pending.
// Defined in entry_point.hpp.

}  // namespace orven::bindings::errors
