#pragma once

#include <Python.h>

namespace orven::bindings::borrow {

// The object that owns an array's memory, as far as the registry is
// concerned: the chain of base arrays is followed to the first base that is
// not an ndarray, or to the last array when the chain ends.  Views of one
// buffer thus share one base address.
const void* base_address(PyObject* array, PyTypeObject* ndarray_type) noexcept;

}  // namespace orven::bindings::borrow
