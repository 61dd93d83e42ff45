#pragma once

#include <Python.h>

#include "python/failure.hpp"

namespace orven::bindings::call {

// Binds the vectorcall arguments of extract_features(data): `data` by
// position or by keyword, nothing else.  Returns `data` (borrowed).
errors::Result<PyObject*> bind_data_argument(PyObject* const* args, Py_ssize_t positional_count,
                                             PyObject* keyword_names);

}  // namespace orven::bindings::call
