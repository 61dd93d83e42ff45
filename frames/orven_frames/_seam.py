"""The seam between orven_frames and its native part.

extract_features hands one FrameCall to _native.group_features(call); the
native part reads it, its columns and their texts by attribute name.  The
same structure is described from the native side beside the entry
(bindings/src/frames/group_features.hpp).

FrameCall
    ids          tuple of KeyColumn, the id columns in order
    kind         KeyColumn, or None
    values       tuple of ValueColumn: one (long input), or one per kind in
                 the kinds' order (wide input, kind None)
    time         TimeColumn, or None
    drop_nan     NaN readings are removed first; else a series of two or
                 more readings holding NaN is refused with
                 ValueError(nan_message(id_row, kind_row, value)): rows of
                 the frame holding the series' id and kind (kind_row -1
                 without a kind column), value the place of its value column
    wide         the result laid out one row per id
    progress     None, or progress(done, total), called as features are made

KeyColumn    array (integers, booleans, float32/float64 or objects) or arrow (an object
             whose __arrow_c_stream__ gives one column of strings, or a
             dictionary of them), exactly one of the two; for integers
             null_value (the value standing for null, or None) and ranks
             (None, or uint32: each value is a category number whose place
             in order is ranks[value]); for objects nulls (objects that
             count as null besides None and float NaN)
ValueColumn  array: float64
TimeColumn   array: int64 or float64; null_value for int64, or None
Every array is one-dimensional, C-contiguous, in native byte order, all of
one length.  Every column has texts, a ColumnTexts.

The native part returns a dict of bytearrays.  Each series is one (id,
kind) present, ordered by id, then kind; the kinds are those of the kind
column, else the value columns (one for long input without a kind).
    not wide: "id_rows" int64, for each series a row holding its id;
              "kinds" int64, for each series a row holding its kind (the
              place of its value column without a kind column);
              "features" float64, shape (10, series)
    wide:     "id_rows" int64, a row holding each distinct id;
              "kinds" int64, a row holding each distinct kind (the places of
              the value columns without a kind column);
              "features" float64, shape (kinds, 10, ids), NaN where an id
              has no series of the kind; "present" bool, shape (kinds, ids)
Features are in the order of FEATURES.
"""

import numpy as np

from . import _texts


class ColumnTexts:
    """What the native part raises about one column."""

    __slots__ = ("null", "unorderable", "changed", "borrowed", "nan", "arrow")

    def __init__(self, role, name):
        self.null = _texts.null_in(role, name)
        self.unorderable = _texts.unorderable(role, name)
        self.changed = _texts.changed(role, name)
        self.borrowed = _texts.borrowed(role, name)
        self.nan = _texts.holds_nan(role, name)
        self.arrow = _texts.unreadable_arrow()


def plain(array, dtype=None):
    """`array` as the native part reads it: 1-D, C-contiguous, native byte
    order; the caller's array itself where it already is."""
    dtype = np.dtype(array.dtype if dtype is None else dtype)
    if not dtype.isnative:
        dtype = dtype.newbyteorder("=")
    return np.ascontiguousarray(array, dtype=dtype)


class KeyColumn:
    __slots__ = ("array", "arrow", "null_value", "ranks", "nulls", "texts")

    def __init__(self, role, name, *, array=None, arrow=None, null_value=None, ranks=None, nulls=()):
        self.array = None if array is None else plain(array)
        self.arrow = arrow
        self.null_value = null_value
        self.ranks = None if ranks is None else plain(ranks, np.uint32)
        self.nulls = tuple(nulls)
        self.texts = ColumnTexts(role, name)


class ValueColumn:
    __slots__ = ("array", "texts")

    def __init__(self, name, array):
        self.array = plain(array, np.float64)
        self.texts = ColumnTexts("value", name)


class TimeColumn:
    __slots__ = ("array", "null_value", "texts")

    def __init__(self, name, array, null_value=None):
        self.array = plain(array)
        self.null_value = null_value
        self.texts = ColumnTexts("time", name)


class FrameCall:
    __slots__ = ("ids", "kind", "values", "time", "drop_nan", "nan_message", "wide", "progress")

    def __init__(self, *, ids, kind, values, time, drop_nan, nan_message, wide, progress):
        self.ids = tuple(ids)
        self.kind = kind
        self.values = tuple(values)
        self.time = time
        self.drop_nan = drop_nan
        self.nan_message = nan_message
        self.wide = wide
        self.progress = progress


def bytes_as(data, dtype, shape=-1):
    return np.frombuffer(data, dtype=dtype).reshape(shape)


class RollingCall(FrameCall):
    """A FrameCall (time required, wide False) and its windows, for
    _native.rolling_features (described in bindings/src/frames/rolling_features.hpp):
    size/step (count windows) or span/every (time windows, in the time
    column's own numbers: int for int64 times, float for float64),
    min_length, and window_message(id_row, kind_row, value, why) beside
    nan_message(id_row, kind_row, value, end)."""

    __slots__ = ("size", "step", "span", "every", "min_length", "window_message")

    def __init__(self, *, size, step, span, every, min_length, window_message, **frame):
        super().__init__(wide=False, **frame)
        self.size = size
        self.step = step
        self.span = span
        self.every = every
        self.min_length = min_length
        self.window_message = window_message
