#pragma once

#include <Python.h>

namespace orven::bindings::frames {

// _native.group_features(keys, has_kind, values, time, drop_nan, progress):
// the private worker behind orven_frames.extract_features, which has
// already checked and normalised every argument.
//
//   keys      tuple of key columns, ids first, then the kind if has_kind:
//               ("int", array, null_value | None, ranks | None, null_text, order_text)
//               ("object", array, nulls tuple, null_text, order_text)
//               ("arrow", exporter of one column, null_text, order_text)
//   values    tuple of 1-D contiguous float64 arrays of equal length: one
//             (long input) or one per kind (wide input)
//   time      None, or ("int" | "float", array, null_value | None, null_text, nan_text)
//
// Returns (id_rows, id_of_series, kind_rows, kind_of_series, features,
// nan_series, nan_column): bytearrays of int64 (a row holding each
// distinct id, ascending; each series' id; the same for kinds, or, for
// wide input, each series' value column) and of float64 (feature f of
// series s at f * series + s); then, when a series of two or more readings
// holds NaN and drop_nan is false, the first such series and its value
// column (features then left unset), else -1 and -1.
PyObject* group_features_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargsf) noexcept;

}  // namespace orven::bindings::frames
