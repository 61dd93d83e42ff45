#pragma once

#include <Python.h>

namespace orven::bindings::frames {

// _native.time_key_codes(call): the composite key of a FrameCall's key
// columns (_seam.py), made as group_features makes it (each column read by
// its reader, folded in, settled for counting), and timed.  Returns
// (bucket_count, seconds).  For the benchmarks (bench/frames_keys.py):
// what the key stage of a call costs, apart from the grouping and the
// features.
PyObject* time_key_codes_entry(PyObject* module, PyObject* call) noexcept;

}  // namespace orven::bindings::frames
