#pragma once

// Our own mirrors of NumPy's element-type descriptor.  NumPy 2 widened the
// element size to a pointer-sized field and moved it, so the layout to read
// depends on the API feature version of the NumPy that runs.

#include <Python.h>

#include <cstdint>

namespace orven::bindings::numpy {

// First API feature version of NumPy 2.
inline constexpr unsigned numpy2_feature_version = 18;

struct DescriptorNumpy1 {
    PyObject_HEAD
    PyTypeObject* typeobj;
    char kind;
    char type;
    char byteorder;
    char flags;
    int type_num;
    int elsize;
    int alignment;
};

struct DescriptorNumpy2 {
    PyObject_HEAD
    PyTypeObject* typeobj;
    char kind;
    char type;
    char byteorder;
    char former_flags;
    int type_num;
    std::uint64_t flags;
    Py_ssize_t elsize;
    Py_ssize_t alignment;
};

// The element size in bytes of `descriptor`, read in the layout of the
// NumPy whose API reports `feature_version`.
inline Py_ssize_t element_size(PyObject* descriptor, unsigned feature_version) noexcept {
    if (feature_version >= numpy2_feature_version) {
        return reinterpret_cast<const DescriptorNumpy2*>(descriptor)->elsize;
    }
    return reinterpret_cast<const DescriptorNumpy1*>(descriptor)->elsize;
}

}  // namespace orven::bindings::numpy
