#pragma once

// Our own mirror of the leading fields of NumPy's array object, as NumPy
// publishes them.  NumPy is only reached at run time, so its headers are not
// used; the mirror starts with the interpreter's own object header, which
// keeps every field in place on both the default and the free-threaded
// interpreter builds (their object headers differ in size).

#include <Python.h>

#include <cstdint>

namespace orven::bindings::numpy {

struct ArrayObject {
    PyObject_HEAD
    char* data;
    int nd;
    Py_ssize_t* dimensions;  // nd extents
    Py_ssize_t* strides;     // nd strides, in bytes
    PyObject* base;          // the object owning the memory, or null
    PyObject* descr;         // the element type's descriptor
    int flags;
};

// Array flag bits.
inline constexpr int c_contiguous_flag = 0x1;
inline constexpr int fortran_contiguous_flag = 0x2;
inline constexpr int writeable_flag = 0x400;

// Only for objects already known to be ndarrays (or subclasses).
inline ArrayObject* as_array(PyObject* object) noexcept {
    return reinterpret_cast<ArrayObject*>(object);
}

}  // namespace orven::bindings::numpy
