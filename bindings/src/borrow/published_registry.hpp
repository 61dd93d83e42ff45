#pragma once

// Publishing our own borrow registry, for a process in which no module has
// published one yet.

#include <Python.h>

#include "borrow/registry_header.hpp"
#include "python/failure.hpp"

namespace orven::bindings::borrow {

// Creates an empty registry, wraps its header in a capsule (which frees the
// registry when it goes) and sets that capsule as the registry attribute of
// `multiarray`.  The returned header lives for the rest of the process: a
// reference to the capsule is kept and never dropped.
errors::Result<const RegistryHeader*> publish_registry(PyObject* multiarray);

}  // namespace orven::bindings::borrow
