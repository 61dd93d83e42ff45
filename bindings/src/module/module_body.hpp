#pragma once

#include <Python.h>

#include "python/failure.hpp"

namespace orven::bindings::module {

// Fills a freshly created module object: the function extract_features and
// its name in __all__.
errors::Status run_module_body(PyObject* module);

}  // namespace orven::bindings::module
