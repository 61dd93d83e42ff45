#pragma once

// The text of an exact str read in place, by any thread, while the
// interpreter is held by the thread that waits for it and runs no Python
// code (so no object the caller's array holds can change or go): a str is
// immutable, and reading its type, length, kind and data touches no
// reference count.  Subclasses are not read here, since they may define
// their own equality and order.

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "keys/utf8.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {

// One str's code points, each a code unit of `width` bytes (CPython keeps
// every str in the narrowest width that holds its largest code point).
struct PythonText {
    const void* units = nullptr;
    std::size_t length = 0;
    unsigned width = 1;
    bool ascii = false;
};

// False for anything but an exact str (on 3.11, one already in its
// canonical form, which a str made through the legacy API may not be yet).
inline bool read_exact_str(PyObject* object, PythonText& text) noexcept {
    if (!Py_IS_TYPE(object, &PyUnicode_Type)) return false;
#if PY_VERSION_HEX < 0x030C0000
    if (!PyUnicode_IS_READY(object)) return false;
#endif
    text.units = PyUnicode_DATA(object);
    text.length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(object));
    text.width = static_cast<unsigned>(PyUnicode_KIND(object));
    text.ascii = PyUnicode_IS_ASCII(object) != 0;
    return true;
}

// The text's bytes as generalised UTF-8 (keys/utf8.hpp): an ASCII str's
// own bytes, any other's written into `scratch`.
inline std::string_view utf8_of(const PythonText& text, std::string& scratch) {
    if (text.ascii) return std::string_view(static_cast<const char*>(text.units), text.length);
    switch (text.width) {
        case 1: keys::units_as_utf8(static_cast<const std::uint8_t*>(text.units), text.length, scratch); break;
        case 2: keys::units_as_utf8(static_cast<const std::uint16_t*>(text.units), text.length, scratch); break;
        default: keys::units_as_utf8(static_cast<const std::uint32_t*>(text.units), text.length, scratch); break;
    }
    return scratch;
}

// Whether holding the interpreter keeps every other thread from running
// Python code: always, save in a free-threaded interpreter whose global
// lock was switched off (PYTHON_GIL=0) despite the module asking for it.
inline bool interpreter_is_exclusive() noexcept {
#ifdef Py_GIL_DISABLED
    PyObject* check = PySys_GetObject("_is_gil_enabled");
    if (check == nullptr) return false;
    const python::PyRef enabled = python::PyRef::steal(PyObject_CallNoArgs(check));
    if (!enabled) {
        PyErr_Clear();
        return false;
    }
    return enabled.get() == Py_True;
#else
    return true;
#endif
}

}  // namespace orven::bindings::frames
