#pragma once

// A NumPy array that a call reads in place, held from the moment the call
// takes it until the call lets it go.  Both entry points hold every array
// they read this way.
//
// Each held array has one shared borrow in the borrow registry that the
// NumPy-using extension modules of a process share (borrow/registry.hpp),
// so an array that another module holds for writing is refused; how the
// refusal reads is each entry point's own.
//
// What the array is (its data, length, stride, element type and its place
// in the registry) is taken once, when it is held: code of the caller's
// that runs later in the call (a finaliser, a key's __hash__, a signal
// handler, another thread) may change the array object, and the release of
// the borrow does not follow it there.  Such code may even free the memory
// (a resize, of the array or of the array owning its memory), so before the
// call reads the data after caller code ran, it asks unchanged().
//
// Pinned (the frame path): the call also holds a weak reference to the
// array that owns the memory, and NumPy refuses to resize an array that has
// one, so caller code cannot free the memory that way; NumPy 1.x still lets
// it assign `data`, which unchanged() tells.  orven does not pin: there a
// resize succeeds, and the call finds it afterwards and raises its
// documented TypeError.

#include <Python.h>

#include <cstddef>

#include "borrow/in_flight_calls.hpp"
#include "borrow/registry.hpp"
#include "numpy/abi.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::call {

// The borrows of one call: made before its first array is held, ended
// after the last is let go.  Borrows that calls of threads lost to a fork
// left in another module's registry go back first.
class CallBorrows {
public:
    CallBorrows() { borrow::release_orphaned_borrows(); }
    borrow::InFlightCall& record() noexcept { return record_; }

private:
    borrow::InFlightCall record_;
};

enum class Pinning { none, against_resize };

// How an entry point refuses an array that another module holds for
// writing: make(context) gives the failure, or raises a fatal error.
struct Refusal {
    errors::ErrorValue (*make)(const void* context);
    const void* context = nullptr;
};

class HeldArray {
public:
    // Holds `array`, an ndarray (or subclass instance) whose kind the entry
    // point has checked; `refusal` when another module holds it for
    // writing.  An unusable borrow registry, or an answer it should never
    // give, is a fatal error; the weak reference of a pin may fail like any
    // object.
    static errors::Result<HeldArray> hold(PyObject* array, CallBorrows& borrows, Pinning pinning,
                                          const Refusal& refusal);

    HeldArray(HeldArray&& other) noexcept = default;
    HeldArray& operator=(HeldArray&& other) noexcept;
    HeldArray(const HeldArray&) = delete;
    HeldArray& operator=(const HeldArray&) = delete;
    // Releases the borrow, then drops the references.
    ~HeldArray();

    // Whether the array still has the data pointer, shape, stride and
    // element type it was held with, its memory the same holder, and the
    // array owning that memory, if another, the same extent (a pin keeps
    // the owner from being resized, not from having its `data` assigned).
    // Attached to the interpreter.
    bool unchanged() const;

    // The array as held.
    const char* data() const noexcept { return snapshot_.data; }
    std::size_t size() const noexcept { return snapshot_.count; }
    // C- or Fortran-contiguous, with data.
    bool contiguous() const noexcept { return snapshot_.contiguous; }
    // What an element is.
    struct Element {
        char kind;       // 'i', 'u', 'b', 'f', 'O', ...
        char type;       // as the struct module writes it: 'd', 'q', 'l', 'I', '?', 'O', ...
        bool native;     // in the machine's byte order
        Py_ssize_t size;

        friend bool operator==(const Element&, const Element&) = default;
    };
    const Element& element() const noexcept { return snapshot_.element; }

private:
    struct Snapshot {
        const char* data;
        std::size_t count;
        bool contiguous;
        borrow::Place place;
        Py_ssize_t stride;
        // The descriptor, and what it says: an array given another
        // descriptor may still hold the same elements.  The pointer is only
        // compared with (the array holds the descriptor, the call does not).
        const PyObject* descr;
        Element element;
        // The array that owns the memory, when it is another one (else
        // null), and its extent: resizing it frees the memory under the
        // view without touching the view.
        const PyObject* owner;
        borrow::BorrowKey owner_key;
    };

    HeldArray(python::PyRef array, python::PyRef pin, const borrow::RegistryHeader& registry,
              borrow::InFlightCall& record, std::size_t slot, const Snapshot& snapshot) noexcept
        : array_(std::move(array)),
          pin_(std::move(pin)),
          registry_(&registry),
          record_(&record),
          slot_(slot),
          snapshot_(snapshot) {}
    static Snapshot take_snapshot(PyObject* array, const numpy::ArrayApi& api);
    bool same_fields(const numpy::ArrayApi& api) const;
    bool same_memory_holder(const numpy::ArrayApi& api) const;
    void release_borrow() noexcept;

    python::PyRef array_;
    // A weak reference to the array owning the memory, or empty.
    python::PyRef pin_;
    const borrow::RegistryHeader* registry_ = nullptr;
    borrow::InFlightCall* record_ = nullptr;
    std::size_t slot_ = 0;
    Snapshot snapshot_{};
};

}  // namespace orven::bindings::call
