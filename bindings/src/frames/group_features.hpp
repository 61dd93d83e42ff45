#pragma once

// _native.group_features(call): the private worker behind
// orven_frames.extract_features, which has already checked and normalised
// every argument.  The seam between the two is described once from each
// side: here, and in orven_frames/_seam.py, whose classes the call is made
// of.  Everything is read by attribute name (frame_call.hpp).
//
//   call.ids          tuple of KeyColumn, the id columns in order
//   call.kind         KeyColumn, or None
//   call.values       tuple of ValueColumn: one (long input), or one per
//                     kind in the kinds' order (wide input, kind None)
//   call.time         TimeColumn, or None
//   call.drop_nan     NaN readings are removed first; else a series of two
//                     or more readings holding NaN is refused with
//                     ValueError(call.nan_message(id_row, kind_row, value))
//                     (kind_row -1 without a kind column; value the place
//                     of the series' value column)
//   call.wide         the result laid out one row per id (below)
//   call.progress     None, or progress(done, total), called as the
//                     features are computed
//
//   KeyColumn         array: a 1-D C-contiguous NumPy array in native byte
//                     order of integers, booleans, floats or objects, or None;
//                     arrow: None, or an object whose __arrow_c_stream__
//                     gives one column of strings or a dictionary of them;
//                     exactly one of the two.  null_value (integers): the
//                     value that stands for null, or None; ranks
//                     (integers): None, or uint32 ranks, each value being a
//                     category number whose place in order is ranks[value];
//                     nulls (objects): a tuple of objects that count as
//                     null besides None and float NaN
//   ValueColumn       array: float64, as above
//   TimeColumn        array: int64 or float64, as above; null_value: for
//                     int64, the value that stands for null, or None
//   every column      texts: the column's messages, attributes null,
//                     unorderable, changed, borrowed, nan and arrow (str)
//
// Every array is held for the call, pinned (call/held_array.hpp); one that
// another module holds for writing is ValueError(texts.borrowed).
//
// Returns a dict of bytearrays.  Each series is one (id, kind) present, in
// the order of the ids, then the kinds; the kinds are those of the kind
// column, else the value columns (one for long input without a kind).
//   not wide: "id_rows" int64, for each series a row holding its id;
//             "kinds" int64, for each series a row holding its kind (the
//             place of its value column without a kind column);
//             "features" float64, feature f of series s at f * series + s
//   wide:     "id_rows" int64, a row holding each distinct id;
//             "kinds" int64, a row holding each distinct kind (the places
//             of the value columns without a kind column);
//             "features" float64, feature f of kind k for id i at
//             (k * 10 + f) * ids + i, NaN where the id has no such series;
//             "present" uint8, 1 at k * ids + i where it has
// Features are in the order of _native.FEATURES.

#include <Python.h>

namespace orven::bindings::frames {

PyObject* group_features_entry(PyObject* module, PyObject* call) noexcept;

}  // namespace orven::bindings::frames
