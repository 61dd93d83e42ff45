#pragma once

// A caller's column read in place through the buffer protocol.  The export
// pins the memory (a NumPy array cannot be resized while it is exported),
// and what the column is (data, length, element format) is taken once, when
// the view is made.  Read it only while holding the interpreter: then no
// other thread can drop the object that owns the memory.

#include <Python.h>

#include <cstddef>
#include <string>
#include <utility>

#include "python/failure.hpp"

namespace orven::bindings::frames {

class ColumnBuffer {
public:
    // A one-dimensional, contiguous buffer of `object`; TypeError `message`
    // when it has none or it is not one run of elements.
    static errors::Result<ColumnBuffer> view(PyObject* object, const std::string& message);

    ColumnBuffer() noexcept = default;
    ColumnBuffer(ColumnBuffer&& other) noexcept : view_(other.view_), held_(std::exchange(other.held_, false)) {}
    ColumnBuffer& operator=(ColumnBuffer&& other) noexcept {
        if (this != &other) {
            release();
            view_ = other.view_;
            held_ = std::exchange(other.held_, false);
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

private:
    void release() noexcept {
        if (held_) {
            PyBuffer_Release(&view_);
            held_ = false;
        }
    }

    Py_buffer view_{};
    bool held_ = false;
};

}  // namespace orven::bindings::frames
