#pragma once

#include <Python.h>

#include "call/array_map.hpp"
#include "python/failure.hpp"

namespace orven::bindings::call {

// One item of `data` (a dict or subclass) as its columns: each key a str,
// copied as UTF-8; each value admitted as a NumPy array.  The entries are
// checked in the dict's order, each key before its value.
errors::Result<ArrayMap> convert_record(PyObject* item);

}  // namespace orven::bindings::call
