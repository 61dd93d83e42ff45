#pragma once

// Handles on interpreter objects: the owning reference, and the few
// interpreter facilities whose form differs between the CPython versions we
// build for (3.11 to 3.14, default and free-threaded builds).  Everything
// else is called directly.

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

// The pending exception as one object (traceback attached), clearing it;
// null when nothing is pending.  Returns a new reference.
inline PyObject* get_raised_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    // 3.11 keeps the pending exception as a (type, value, traceback) triple,
    // possibly not yet normalised into an instance.
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return nullptr;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    const PyRef owned_type = PyRef::steal(type);
    const PyRef owned_traceback = PyRef::steal(traceback);
    if (owned_traceback && value != nullptr) {
        PyException_SetTraceback(value, owned_traceback.get());
    }
    return value;
#endif
}

// Makes `exception` (an exception instance) the pending exception, taking
// over the caller's reference.
inline void set_raised_exception(PyObject* exception) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception);
#else
    PyObject* type = Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception)));
    PyObject* traceback = PyException_GetTraceback(exception);
    PyErr_Restore(type, exception, traceback);
#endif
}

// Exclusive access to one object's internal state for the lifetime of the
// guard.  Only the free-threaded build needs it: with a global interpreter
// lock, the lock itself already serialises every access.
class CriticalSection {
public:
#ifdef Py_GIL_DISABLED
    explicit CriticalSection(PyObject* object) noexcept { PyCriticalSection_Begin(&section_, object); }
    ~CriticalSection() { PyCriticalSection_End(&section_); }
#else
    explicit CriticalSection(PyObject*) noexcept {}
#endif

    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

private:
#ifdef Py_GIL_DISABLED
    PyCriticalSection section_;
#endif
};

// Tells a free-threaded interpreter whether the module needs its global
// lock.  Other builds have the lock anyway and no such declaration.
// Returns -1 with an exception pending on failure.
inline int declare_gil_requirement([[maybe_unused]] PyObject* module,
                                   [[maybe_unused]] bool needs_gil) noexcept {
#ifdef Py_GIL_DISABLED
    return PyUnstable_Module_SetGIL(module, needs_gil ? Py_MOD_GIL_USED : Py_MOD_GIL_NOT_USED);
#else
    return 0;
#endif
}

// Holds off the cyclic garbage collector while a large result is built.
// Building a result of many dicts would otherwise run young collections
// over and over, each walking the dicts made so far, none of which can be
// garbage yet.  The collector is switched off for the guard's lifetime and
// back on afterwards only if it was on before.  The only Python code that
// runs meanwhile is what lifted() runs (the signal handlers that a waiting
// call polls), and it runs with the collector as the caller left it: other
// threads that such code lets run see the caller's setting, and a setting
// the code makes (gc.disable(), gc.enable()) is the one restored at the end.
// The free-threaded build has no such guarantee (other threads run
// alongside and may read or set the switch at any time), so there the guard
// does nothing.
class CollectorPause {
public:
#ifdef Py_GIL_DISABLED
    // Not defaulted: a guard object that is made and never used is the point.
    CollectorPause() noexcept {}
#else
    CollectorPause() noexcept : was_enabled_(PyGC_Disable() != 0) {}
    ~CollectorPause() {
        if (was_enabled_) {
            PyGC_Enable();
        }
    }
#endif
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;

    // Runs `code` with the collector switched as the caller had it, then
    // pauses it again, taking the switch as `code` left it for the end.
    template <class Code>
    decltype(auto) lifted(Code&& code) {
#ifndef Py_GIL_DISABLED
        if (was_enabled_) {
            PyGC_Enable();
        }
        struct Repause {
            CollectorPause& pause;
            ~Repause() { pause.was_enabled_ = PyGC_Disable() != 0; }
        } repause{*this};
#endif
        return code();
    }

private:
#ifndef Py_GIL_DISABLED
    bool was_enabled_;
#endif
};

}  // namespace orven::bindings::python
