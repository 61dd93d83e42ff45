#pragma once

// A held key column (call/held_array.hpp) as the key readers see it: its
// elements in place, what they are, and whether caller code has changed
// the array since it was held.  A view: the call holds the array.

#include <cstddef>

#include "call/held_array.hpp"

namespace orven::bindings::frames {

class ColumnBuffer {
public:
    ColumnBuffer() noexcept = default;
    explicit ColumnBuffer(const call::HeldArray& array) noexcept;

    const void* data() const noexcept { return array_ != nullptr ? array_->data() : nullptr; }
    std::size_t size() const noexcept { return array_ != nullptr ? array_->size() : 0; }
    std::size_t item_size() const noexcept { return item_size_; }
    // The struct-module format character of the elements ('q', 'l', 'B',
    // '?', 'O', ...).
    char format() const noexcept { return format_; }

    template <class T>
    const T* as() const noexcept {
        return static_cast<const T*>(data());
    }

    // Whether the array is as it was held (HeldArray::unchanged).  Hold
    // the interpreter to ask.
    bool still_as_viewed() const { return array_ == nullptr || array_->unchanged(); }

private:
    const call::HeldArray* array_ = nullptr;
    std::size_t item_size_ = 0;
    char format_ = '\0';
};

}  // namespace orven::bindings::frames
