#pragma once

// Python objects inside message texts.  Formatting a message must not fail
// because an object misbehaves: a failing str()/repr() is handed to the
// interpreter's unraisable-exception hook and a placeholder stands in.

#include <Python.h>

#include <string>

#include "python/py_ref.hpp"

namespace orven::bindings::errors {

// str(object) as a str object, or the placeholder if str() fails.
python::PyRef str_object(PyObject* object);

// str(object), lossily UTF-8; "<unprintable T object>" if str() fails.
std::string str_text(PyObject* object);

// repr(object), lossily UTF-8; "<unprintable T object>" if repr() fails.
std::string repr_text(PyObject* object);

// The type's __qualname__, lossily UTF-8; "<failed to extract type name>"
// when it cannot be had.
std::string qualified_name_text(PyTypeObject* type);

}  // namespace orven::bindings::errors
