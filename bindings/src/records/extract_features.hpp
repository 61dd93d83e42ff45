#pragma once

#include <Python.h>

namespace orven::bindings::records {

// extract_features(data), in the interpreter's fast calling convention with
// keywords.  Returns a new list, or null with an exception pending.
PyObject* extract_features_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                                 PyObject* keyword_names) noexcept;

}  // namespace orven::bindings::records
