#pragma once

// _native.rolling_features(call): the private worker behind
// orven_frames.rolling_features, which has already checked and normalised
// every argument (orven_frames/_seam.py describes the call).  It is a
// FrameCall (group_features.hpp) whose time column is required, plus the
// windows' shape:
//
//   call.size         None (time windows), or the readings a window holds
//   call.step         count windows end at every step-th reading
//   call.span         time windows: the span in the time column's own
//                     numbers (int for int64 times, float for float64)
//   call.every        None, or where time windows end, as span
//   call.min_length   windows holding fewer readings are left out
//   call.window_message  window_message(id_row, kind_row, value, why): the
//                     ValueError text for a series whose times cannot be
//                     windowed (not finite, or a window end out of range)
//   call.nan_message  nan_message(id_row, kind_row, value, end), end the
//                     refused window's end as an int or float of the time
//                     column's numbers
//
// Returns a dict of bytearrays, one entry per window, windows ordered by
// id, then kind, then end: "id_rows" int64 (a row holding its id),
// "kinds" int64 (a row holding its kind, or the place of its value
// column without a kind column), "ends" (int64 or float64 like the time
// column: the window's end), "features" float64, feature f of window w at
// f * windows + w (one contiguous column per feature, which pandas, polars
// and pyarrow take over without a copy).

#include <Python.h>

namespace orven::bindings::frames {

PyObject* rolling_features_entry(PyObject* module, PyObject* call) noexcept;

}  // namespace orven::bindings::frames
