#pragma once

#include <Python.h>

namespace orven::bindings::numpy {

// Whether `value` is a one-dimensional ndarray (or subclass instance) of
// native 64-bit floats.  Loads NumPy's array API on first use (fatal when
// it cannot be had).
bool is_float64_vector(PyObject* value);

}  // namespace orven::bindings::numpy
