#pragma once

#include <Python.h>

#include "python/failure.hpp"

namespace orven::bindings::call {

// collections.abc.Sequence (borrowed), imported on first need and kept for
// the life of the process.  It only names the expected type in the message
// that refuses a non-sequence; the test itself is PySequence_Check.
errors::Result<PyObject*> sequence_type();

}  // namespace orven::bindings::call
