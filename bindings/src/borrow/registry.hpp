#pragma once

// The borrow registry: the record through which NumPy-using extension
// modules of one process share one set of borrows on array memory.  Its
// layout and calling convention are an interface between independently
// built modules: never change them.

#include <Python.h>

#include <cstddef>
#include <cstdint>

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

// The header if it was found or published already, else null.
const RegistryHeader* registry_header_if_ready() noexcept;

}  // namespace orven::bindings::borrow
