#pragma once

// The parts of NumPy's array API table that intake and the borrow registry
// use, taken from the "_ARRAY_API" capsule of NumPy's multiarray module.

#include <Python.h>

namespace orven::bindings::numpy {

// Type number of native 64-bit floats.
inline constexpr int npy_double = 12;

struct ArrayApi {
    PyTypeObject* ndarray_type;
    // New reference to the descriptor of a type number.
    PyObject* (*descr_from_type)(int type_number);
    // Nonzero when the two descriptors describe the same element type.
    unsigned char (*equiv_types)(PyObject* first, PyObject* second);
    // The C API feature version of the running NumPy.
    unsigned feature_version;
};

// The table, loaded once per process on first need.  When NumPy or its
// capsule cannot be had this is a fatal error, and the next need tries again.
const ArrayApi& array_api();

// The object is an ndarray or an instance of a subclass.
bool is_ndarray(PyObject* object);

}  // namespace orven::bindings::numpy
