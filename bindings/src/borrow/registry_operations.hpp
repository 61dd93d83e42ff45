#pragma once

// The four operations of the borrow registry that we publish.  Other
// extension modules call them through the registry header, so they keep C
// linkage and the platform's standard calling convention.  `flags` is the
// header's state pointer (a RegistryState).  Called attached to the
// interpreter, with an ndarray (or subclass instance).

#include <Python.h>

namespace orven::bindings::borrow {

extern "C" {
// 0 granted, -1 when an exclusive borrow of a conflicting view is held.
int acquire_shared(void* flags, PyObject* array) noexcept;
// 0 granted, -1 when any borrow of a conflicting view is held, -2 when the
// array is not writeable.
int acquire_mut_shared(void* flags, PyObject* array) noexcept;
void release_shared(void* flags, PyObject* array) noexcept;
void release_mut_shared(void* flags, PyObject* array) noexcept;
}

}  // namespace orven::bindings::borrow
