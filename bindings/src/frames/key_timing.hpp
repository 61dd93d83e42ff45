#pragma once

#include <Python.h>

namespace orven::bindings::frames {

// _native.time_key_codes(keys, rows): the composite key of `rows` rows of
// the described key columns (the descriptions group_features takes), made
// as a frame call makes it (each column read by its reader, folded in,
// settled for counting), and timed.  Returns (bucket_count, seconds).
// For the benchmarks (bench/frames_keys.py): what the key stage of a call
// costs, apart from the grouping and the features.
PyObject* time_key_codes_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargsf) noexcept;

}  // namespace orven::bindings::frames
