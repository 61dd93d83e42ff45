#pragma once

// A caller's column read in place through the buffer protocol.  What the
// column is (data, length, element format) is taken once, when the view is
// made, and the view keeps the exporting object alive.
//
// An export alone does not pin a NumPy array's memory: resize(refcheck=
// False) frees it all the same.  NumPy refuses any resize of an array that
// has a weak reference, though, so the view also holds one on the array
// that owns the memory (the column itself, or the array at the end of its
// chain of bases).  Code of the caller's that runs during the call (a key's
// __hash__ or __eq__, a signal handler, another thread) then cannot free
// what the call reads.  NumPy 1.x still lets such code assign an array's
// `data` attribute, which frees the old memory: still_as_viewed() tells,
// and the call checks it after running caller code and before reading on.

#include <Python.h>

#include <cstddef>
#include <string>
#include <utility>

#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {

class ColumnBuffer {
public:
    // A one-dimensional, contiguous buffer of `object`; TypeError `message`
    // when it has none or it is not one run of elements.
    static errors::Result<ColumnBuffer> view(PyObject* object, const std::string& message);

    ColumnBuffer() noexcept = default;
    ColumnBuffer(ColumnBuffer&& other) noexcept
        : view_(other.view_), held_(std::exchange(other.held_, false)), pin_(std::move(other.pin_)) {}
    ColumnBuffer& operator=(ColumnBuffer&& other) noexcept {
        if (this != &other) {
            release();
            view_ = other.view_;
            held_ = std::exchange(other.held_, false);
            pin_ = std::move(other.pin_);
        }
        return *this;
    }
    ColumnBuffer(const ColumnBuffer&) = delete;
    ColumnBuffer& operator=(const ColumnBuffer&) = delete;
    ~ColumnBuffer() { release(); }

    const void* data() const noexcept { return view_.buf; }
    std::size_t size() const noexcept { return held_ ? static_cast<std::size_t>(view_.shape[0]) : 0; }
    std::size_t item_size() const noexcept { return static_cast<std::size_t>(view_.itemsize); }
    // The struct-module format character of the elements, byte-order
    // prefix dropped ('d', 'q', 'B', '?', 'O', ...).
    char format() const noexcept;

    template <class T>
    const T* as() const noexcept {
        return static_cast<const T*>(view_.buf);
    }

    // Whether the exporting array still has the data and length it had
    // when the view was made (always true for other exporters, whose
    // memory the export itself keeps).  Hold the interpreter to ask.
    bool still_as_viewed() const noexcept;

private:
    void release() noexcept {
        if (held_) {
            PyBuffer_Release(&view_);
            held_ = false;
        }
        pin_ = python::PyRef();
    }

    Py_buffer view_{};
    bool held_ = false;
    // A weak reference to the NumPy array owning the memory, or empty.
    python::PyRef pin_;
};

}  // namespace orven::bindings::frames
