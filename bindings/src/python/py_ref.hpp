#pragma once

#include <Python.h>

#include <utility>

namespace orven::bindings::python {

// Owns one strong reference to a Python object (or nothing).  Every
// reference the module keeps beyond a single expression lives in one of
// these, so that every path out of a call, fatal errors included, drops it.
// Must only be destroyed by a thread attached to the interpreter.
class PyRef {
public:
    PyRef() noexcept = default;

    // Takes over a new reference (the result of most C API calls).
    static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
    // Adds a reference of its own to a borrowed one.
    static PyRef borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    ~PyRef() { reset(); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Hands the reference to the caller (for return values and stealing APIs).
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    // Another strong reference to the same object.
    [[nodiscard]] PyRef clone() const noexcept { return borrow(object_); }

    void reset() noexcept { Py_CLEAR(object_); }

private:
    explicit PyRef(PyObject* object) noexcept : object_(object) {}

    PyObject* object_ = nullptr;
};

}  // namespace orven::bindings::python
