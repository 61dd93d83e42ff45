#pragma once

// NumPy as this module sees it at run time.  NumPy's headers are not used:
// the layouts below are our own mirrors of what NumPy publishes, the array
// API comes from the "_ARRAY_API" capsule of NumPy's multiarray module, and
// which module that is depends on the running NumPy's version.

#include <Python.h>

#include <bit>
#include <cstdint>

#include "python/failure.hpp"

namespace orven::bindings::numpy {

// ----------------------------------------------------------- the array
// The leading fields of NumPy's array object.  The mirror starts with the
// interpreter's own object header, which keeps every field in place on both
// the default and the free-threaded interpreter builds (their object headers
// differ in size).

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

// ----------------------------------------------------- the descriptor
// NumPy 2 widened the element size to a pointer-sized field and moved it,
// so the layout to read depends on the API feature version of the NumPy
// that runs.

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

// The kind ('i', 'u', 'b', 'f', 'O', ...) and the type character (the
// element as the struct module writes it: 'd', 'q', 'l', 'I', '?', 'O',
// ...) of `descriptor`: the same fields in both layouts.
inline char kind_of(PyObject* descriptor) noexcept {
    return reinterpret_cast<const DescriptorNumpy1*>(descriptor)->kind;
}
inline char type_character(PyObject* descriptor) noexcept {
    return reinterpret_cast<const DescriptorNumpy1*>(descriptor)->type;
}

// Whether the elements of `descriptor` are in the machine's byte order
// ('=' native, '|' none to speak of, '<' and '>' explicit).
inline bool native_byte_order(PyObject* descriptor) noexcept {
    const char order = reinterpret_cast<const DescriptorNumpy1*>(descriptor)->byteorder;
    return order != (std::endian::native == std::endian::little ? '>' : '<');
}

// ------------------------------------------------------ the array API

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

// Imports NumPy's multiarray module (a new reference): "numpy._core.multiarray"
// since NumPy 2, "numpy.core.multiarray" before, decided once per process
// from the running NumPy's version.  A failure is returned and nothing cached.
errors::Result<python::PyRef> import_multiarray_module();

// -------------------------------------------------------- admission

// Whether `value` is a one-dimensional ndarray (or subclass instance) of
// native 64-bit floats.  Loads NumPy's array API on first use (fatal when
// it cannot be had).
bool is_float64_vector(PyObject* value);

}  // namespace orven::bindings::numpy
