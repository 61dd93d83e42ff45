"""NumPy arrays as the native part reads them (_seam): key columns as codes
or objects, value columns as float64, time columns as int64 or float64.
Shared by every frame kind; each hands over NumPy arrays where it can."""

import numpy as np

from . import _seam, _texts

NAT = np.iinfo(np.int64).min
EXACT_LIMIT = 2 ** 53


def int_key(role, name, array, null_value=None, ranks=None):
    return _seam.KeyColumn(role, name, array=array, null_value=null_value, ranks=ranks)


def object_key(role, name, array, nulls=()):
    return _seam.KeyColumn(role, name, array=array, nulls=nulls)


def arrow_key(role, name, exporter):
    return _seam.KeyColumn(role, name, arrow=exporter)


def ranks_of(order):
    """uint32 ranks from the order that sorts some categories."""
    ranks = np.empty(len(order), dtype=np.uint32)
    ranks[np.asarray(order, dtype=np.intp)] = np.arange(len(order), dtype=np.uint32)
    return ranks


def sorted_codes(role, name, array):
    """Codes of a column no native reader handles, from np.unique."""
    if array.dtype.kind == "f" and np.isnan(array).any():
        raise ValueError(_texts.null_in(role, name))
    try:
        _, inverse = np.unique(array, return_inverse=True)
    except TypeError:
        raise TypeError(_texts.unorderable(role, name)) from None
    return int_key(role, name, inverse.reshape(-1))


def key(role, name, array):
    kind = array.dtype.kind
    if kind in "iub":
        return int_key(role, name, array)
    if kind in "mM":
        return int_key(role, name, array.view(np.int64), NAT)
    if kind == "O":
        return object_key(role, name, array)
    if kind == "f" and array.dtype.itemsize <= 8:
        # Read natively as float32 or float64 (NaN is the null).
        narrow = np.float32 if array.dtype.itemsize <= 4 else np.float64
        return int_key(role, name, array.astype(narrow, copy=False))
    if kind in "fUS":
        return sorted_codes(role, name, array)
    raise TypeError(_texts.key_type(role, name, array.dtype))


def check_exact(name, low, high):
    if low < -EXACT_LIMIT or high > EXACT_LIMIT:
        raise ValueError(_texts.value_too_wide(name))


def values(name, array):
    kind = array.dtype.kind
    if array.dtype == np.float64:
        return np.ascontiguousarray(array)
    if array.dtype == np.float32:
        return array.astype(np.float64)
    if kind in "iu":
        if array.size:
            check_exact(name, int(array.min()), int(array.max()))
        return array.astype(np.float64)
    raise TypeError(_texts.value_type(name, array.dtype))


def time(name, array):
    kind = array.dtype.kind
    if kind in "mM":
        return _seam.TimeColumn(name, array.view(np.int64), NAT)
    if kind == "i" or (kind == "u" and (array.size == 0 or int(array.max()) < 2 ** 63)):
        return _seam.TimeColumn(name, array.astype(np.int64, copy=False))
    if kind == "f":
        return _seam.TimeColumn(name, array.astype(np.float64, copy=False))
    raise TypeError(_texts.time_type(name, array.dtype))


def time_unit(dtype):
    """The unit of a datetime or timedelta dtype, None for numbers."""
    return np.datetime_data(dtype)[0] if dtype.kind in "mM" else None


def as_dtype(raw, dtype):
    """int64 or float64 times in `dtype`, the time column's own."""
    if dtype.kind in "mM":
        return raw.view(np.int64).view(dtype) if dtype.itemsize == 8 else raw.astype(dtype)
    return raw.astype(dtype)
