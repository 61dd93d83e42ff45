#pragma once

// The borrow registry: the record through which NumPy-using extension
// modules of one process share one set of borrows on array memory.  Its
// layout and calling convention are an interface between independently
// built modules: never change them.
//
// The capsule's name, the layout, and the texts of the failures that go
// with it ("...: AlreadyBorrowed", "Unexpected return code ... from borrow
// checking API", "Interal borrow checking API error", their spelling
// included) are those of rust-numpy's registry, which extension modules
// built on it publish and look for: whichever module of a process comes
// first publishes the one registry every other uses, so that no module
// writes to an array another is reading, and a refusal reads the same in
// all of them.

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "borrow/borrow_state.hpp"

namespace orven::bindings::borrow {

// Name of the capsule (and of the multiarray module's attribute holding it).
inline constexpr const char* registry_capsule_name = "_RUST_NUMPY_BORROW_CHECKING_API";

// Results of the acquire operations.
inline constexpr int borrow_granted = 0;
inline constexpr int borrow_conflicts = -1;
inline constexpr int borrow_not_writeable = -2;

extern "C" {
using AcquireOperation = int (*)(void* flags, PyObject* array);
using ReleaseOperation = void (*)(void* flags, PyObject* array);
}

struct RegistryHeader {
    std::uint64_t version;           // protocol version; at least 1
    void* flags;                     // opaque registry state, first argument of every operation
    AcquireOperation acquire;        // shared borrow
    AcquireOperation acquire_mut;    // exclusive borrow
    ReleaseOperation release;        // drop a shared borrow
    ReleaseOperation release_mut;    // drop an exclusive borrow
};

static_assert(sizeof(RegistryHeader) == 48);
static_assert(alignof(RegistryHeader) == 8);
static_assert(offsetof(RegistryHeader, version) == 0);
static_assert(offsetof(RegistryHeader, flags) == 8);
static_assert(offsetof(RegistryHeader, acquire) == 16);
static_assert(offsetof(RegistryHeader, acquire_mut) == 24);
static_assert(offsetof(RegistryHeader, release) == 32);
static_assert(offsetof(RegistryHeader, release_mut) == 40);

// The header this process uses: the one another module published on NumPy's
// multiarray module, or our own, published there when none was.  Found once
// per process; a failure is fatal and the next need tries again.
const RegistryHeader& registry_header();

// ------------------------------------------------- borrows of admitted arrays

// Where a view lives in the registry: its base address and key, computed
// from the array's fields as they are now.
struct Place {
    const void* base;
    BorrowKey key;

    friend bool operator==(const Place&, const Place&) = default;
};

// The place of an ndarray (or subclass instance).  Needs the array API
// loaded (any array that passed intake has loaded it).
Place place_of(PyObject* array);

// The state of the registry this process published, or null while it has
// published none.
RegistryState* published_state() noexcept;

// Whether `registry` is the one this process published.
bool is_ours(const RegistryHeader& registry) noexcept;

// Takes one shared borrow of `array`, whose place was computed just before.
// Our own registry records exactly `place`; another module's computes its
// own from the array, which has not changed in between.  Returns the
// acquire operation's code.
int acquire_shared_at(const RegistryHeader& registry, PyObject* array, const Place& place);

// Drops the shared borrow that acquire_shared_at took at `place`, whatever
// the caller's code did to the array object since.  Our own registry drops
// exactly `place`, never reading the array again.  Another module's
// registry can only be given the array itself and computes the place anew:
// if the array no longer has the place it was borrowed at, that registry
// would not know the borrow (and might fail on it), so it is not called and
// the borrow stays there.  Returns whether the borrow was dropped.
bool release_shared_at(const RegistryHeader& registry, PyObject* array, const Place& place);

}  // namespace orven::bindings::borrow
