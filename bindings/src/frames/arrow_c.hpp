#pragma once

// The Arrow C data and stream interfaces, as the Arrow project publishes
// them (these layouts are a stable ABI), and owners that release what a
// producer handed over.

#include <cstdint>
#include <utility>

namespace orven::bindings::frames::arrow {

struct ArrowSchema {
    const char* format;
    const char* name;
    const char* metadata;
    std::int64_t flags;
    std::int64_t n_children;
    ArrowSchema** children;
    ArrowSchema* dictionary;
    void (*release)(ArrowSchema*);
    void* private_data;
};

struct ArrowArray {
    std::int64_t length;
    std::int64_t null_count;
    std::int64_t offset;
    std::int64_t n_buffers;
    std::int64_t n_children;
    const void** buffers;
    ArrowArray** children;
    ArrowArray* dictionary;
    void (*release)(ArrowArray*);
    void* private_data;
};

struct ArrowArrayStream {
    int (*get_schema)(ArrowArrayStream*, ArrowSchema* out);
    int (*get_next)(ArrowArrayStream*, ArrowArray* out);
    const char* (*get_last_error)(ArrowArrayStream*);
    void (*release)(ArrowArrayStream*);
    void* private_data;
};

// Owns one released-on-destruction struct of the three kinds above: only
// the base struct is released, never its children.
template <class Struct>
class Owned {
public:
    Owned() noexcept { value_.release = nullptr; }
    // Takes over `source`, leaving it marked released.
    explicit Owned(Struct& source) noexcept : value_(source) { source.release = nullptr; }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { reset(); }

    Struct* get() noexcept { return &value_; }
    Struct* operator->() noexcept { return &value_; }
    bool released() const noexcept { return value_.release == nullptr; }
    void reset() noexcept {
        if (value_.release != nullptr) value_.release(&value_);
        value_.release = nullptr;
    }

private:
    Struct value_{};
};

}  // namespace orven::bindings::frames::arrow
