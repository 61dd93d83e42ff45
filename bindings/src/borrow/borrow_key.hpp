#pragma once

// What a view of an array's memory can touch, as far as the borrow rules
// need to know.

#include <Python.h>

#include <compare>
#include <cstdint>

namespace orven::bindings::borrow {

struct BorrowKey {
    std::uintptr_t range_start;  // first byte the view can touch
    std::uintptr_t range_end;    // one past the last byte
    std::uintptr_t data;         // the view's data pointer
    std::intptr_t gcd_strides;   // gcd of the strides (see strides_gcd)

    friend bool operator==(const BorrowKey&, const BorrowKey&) = default;
    friend auto operator<=>(const BorrowKey&, const BorrowKey&) = default;
};

// Greatest common divisor, never negative; gcd(0, x) is |x|.
std::intptr_t gcd(std::intptr_t a, std::intptr_t b) noexcept;

// The strides folded with gcd from first to last: one stride stays as it
// is (sign included), no strides give 1.
std::intptr_t strides_gcd(const Py_ssize_t* strides, int nd) noexcept;

// The key of an ndarray (or subclass instance), its element size read in
// the descriptor layout of the NumPy that reports `feature_version`.
BorrowKey borrow_key(PyObject* array, unsigned feature_version) noexcept;

// Whether two views can touch a common element: their byte ranges overlap
// and their data pointers lie a multiple of their strides' gcd apart.
bool conflicts(const BorrowKey& a, const BorrowKey& b) noexcept;

}  // namespace orven::bindings::borrow
