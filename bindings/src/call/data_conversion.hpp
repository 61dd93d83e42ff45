#pragma once

#include <Python.h>

#include "call/array_map.hpp"
#include "python/failure.hpp"

namespace orven::bindings::call {

// The argument `data` (a sequence of dicts, not a str) as the call's array
// maps, in its order.  Failures carry the "argument 'data': " wrapping.
errors::Result<ArrayMapList> convert_data(PyObject* data);

}  // namespace orven::bindings::call
