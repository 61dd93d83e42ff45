"""Features of whole frames: a long- or wide-format table in, a feature
table of the same kind out, grouped and computed natively in one call.

    import orven_frames
    table = orven_frames.extract_features(frame, id="id", kind="kind",
                                          time="time", value="value")

The values are those of orven.extract_features on the same series, to the
bit.  See extract_features for the arguments.
"""

import datetime
import math
from fractions import Fraction

import numpy as np

from . import _kinds, _native_loader, _seam, _texts

__all__ = ["extract_features", "rolling_features", "release_memory", "FEATURES"]

_native = _native_loader.load()

# The features of every series, in orven's order, as the native core names
# them.
FEATURES = _native.FEATURES


def _names(argument):
    if isinstance(argument, (list, tuple)):
        return list(argument), True
    return [argument], False


def _progress_reporter(unit="series"):
    try:
        from tqdm import tqdm
    except ImportError:
        raise ImportError(_texts.no_tqdm()) from None
    state = {}

    def report(done, total):
        bar = state.get("bar")
        if bar is None:
            bar = state["bar"] = tqdm(total=total, unit=unit)
        bar.update(done - bar.n)

    def close():
        if "bar" in state:
            state["bar"].close()

    return report, close


def _check_columns(adapter, ids, kind, time, values):
    named = [*ids, *([kind] if kind is not None else []), *([time] if time is not None else []), *values]
    seen = []
    for name in named:
        if not adapter.has(name):
            raise ValueError(_texts.missing_column(name))
        if name in seen:
            raise ValueError(_texts.repeated_column(name))
        seen.append(name)


def release_memory():
    """Give back the memory kept between calls; the number of bytes released.

    Calls keep their large buffers for the next call of a similar size, so
    that it need not have the system supply and clear fresh pages.  What is
    kept is at most what the last calls used; it is given back by itself
    after a few seconds without a call, and by this function at once.
    """
    return _native.release_memory()


def _roles(frame, id, value, kind, time):
    """The frame's adapter and the columns of each role, checked: ids,
    values (a list: wide input) and whether the input is wide."""
    adapter = _kinds.adapter_for(frame)
    ids, _ = _names(id)
    values, wide_input = _names(value)
    if not ids:
        raise ValueError(_texts.no_id_columns())
    if not values:
        raise ValueError(_texts.no_value_columns())
    if wide_input and kind is not None:
        raise ValueError(_texts.kind_with_wide_input())
    _check_columns(adapter, ids, kind, time, values)
    return adapter, ids, values, wide_input


def extract_features(frame, *, id, value, kind=None, time=None, wide=False, nan="raise",
                     progress=False):
    """The ten features of every series of `frame`, as a table of its kind.

    frame: a pandas.DataFrame, polars.DataFrame, pyarrow.Table, or a mapping
        of column name to 1-D NumPy array.
    id: the id column, or a list of columns for a composite id.
    value: the value column (long format), or a list of columns, one per
        kind (wide format; kind must then be None).
    kind: None, or the column that tells the series of one id apart.
    time: None (each series in frame order), or the column to order each
        series by; rows with equal times keep their frame order.
    wide: False for one row per (id, kind); True for one row per id with a
        column "<kind>__<feature>" per kind and feature.
    nan: "raise" (a NaN or null in a series of two or more readings is a
        ValueError) or "drop" (such readings are removed first).
    progress: True for a tqdm progress bar over the series.
    """
    if nan not in ("raise", "drop"):
        raise ValueError(_texts.bad_nan_policy(nan))
    adapter, ids, values, wide_input = _roles(frame, id, value, kind, time)
    report, close = _progress_reporter() if progress else (None, lambda: None)

    if wide_input:
        values = sorted(values)
    # Read in this order: the first column refused is the one reported.
    key_columns = [adapter.key("id", name) for name in ids]
    kind_column = adapter.key("kind", kind) if kind is not None else None
    time_column = adapter.time(time) if time is not None else None
    call = _seam.FrameCall(
        ids=key_columns,
        kind=kind_column,
        values=[_seam.ValueColumn(name, adapter.values(name)) for name in values],
        time=time_column,
        drop_nan=nan == "drop",
        nan_message=lambda id_row, kind_row, value: _nan_message(adapter, ids, kind, values, wide_input,
                                                                 id_row, kind_row, value),
        wide=wide,
        progress=report,
    )
    try:
        result = _native.group_features(call)
    finally:
        close()
    if wide:
        return _one_row_per_id(adapter, result, ids, kind, values, wide_input)
    return _one_row_per_series(adapter, result, ids, kind, values, wide_input)


def _nan_message(adapter, ids, kind, values, wide_input, id_row, kind_row, value):
    """The refusal of a series holding NaN, named by its keys as the frame
    holds them."""
    described = [(name, adapter.scalar(name, id_row)) for name in ids]
    if kind is not None:
        described.append((kind, adapter.scalar(kind, kind_row)))
    elif wide_input:
        described.append(("kind", values[value]))
    return _texts.nan_in_series(values[value], described)


def _one_row_per_series(adapter, result, ids, kind, values, wide_input):
    id_rows = _seam.bytes_as(result["id_rows"], np.int64)
    kinds = _seam.bytes_as(result["kinds"], np.int64)
    features = _seam.bytes_as(result["features"], np.float64, (len(FEATURES), len(id_rows)))
    columns = [(name, adapter.take(name, id_rows)) for name in ids]
    if kind is not None:
        columns.append((kind, adapter.take(kind, kinds)))
    elif wide_input:
        columns.append(("kind", adapter.labels(np.asarray(values, dtype=object)[kinds])))
    columns += [(name, adapter.feature(features[f])) for f, name in enumerate(FEATURES)]
    return adapter.build(columns)


def _one_row_per_id(adapter, result, ids, kind, values, wide_input):
    id_rows = _seam.bytes_as(result["id_rows"], np.int64)
    kinds = _seam.bytes_as(result["kinds"], np.int64)
    shape = (len(kinds), len(FEATURES), len(id_rows))
    features = _seam.bytes_as(result["features"], np.float64, shape)
    present = _seam.bytes_as(result["present"], np.bool_, shape[::2])
    columns = [(name, adapter.take(name, id_rows)) for name in ids]
    if kind is None and not wide_input:
        # No kind: one series per id, its features under their own names.
        columns += [(name, adapter.feature(features[0, f])) for f, name in enumerate(FEATURES)]
        return adapter.build(columns)
    labels = [adapter.scalar(kind, row) for row in kinds] if kind is not None else values
    for k, label in enumerate(labels):
        for f, name in enumerate(FEATURES):
            columns.append((f"{label}__{name}", adapter.feature(features[k, f], present[k])))
    return adapter.build(columns)


# ---------------------------------------------------------------- rolling

# Nanoseconds per unit of NumPy's fixed-length time units.
_NANOSECONDS = {"W": 604_800 * 10 ** 9, "D": 86_400 * 10 ** 9, "h": 3_600 * 10 ** 9, "m": 60 * 10 ** 9,
                "s": 10 ** 9, "ms": 10 ** 6, "us": 10 ** 3, "ns": 1, "ps": Fraction(1, 10 ** 3),
                "fs": Fraction(1, 10 ** 6), "as": Fraction(1, 10 ** 9)}
_INT64_MAX = 2 ** 63 - 1


def _count(argument, value, least):
    if isinstance(value, (bool, np.timedelta64)) or not isinstance(value, (int, np.integer)):
        raise TypeError(_texts.not_a_count(argument, value))
    if value < least:
        raise ValueError(_texts.count_below(argument, value, least))
    return int(value)


def _is_timedelta(value):
    return isinstance(value, (datetime.timedelta, np.timedelta64))


def _is_number(value):
    # (numpy.timedelta64 is a numpy.integer.)
    return (not isinstance(value, (bool, np.timedelta64))
            and isinstance(value, (int, float, np.integer, np.floating)))


def _nanoseconds(argument, value):
    """A timedelta as an exact number of nanoseconds (a Fraction)."""
    if hasattr(value, "asm8"):  # pandas.Timedelta, in its own unit
        value = value.asm8
    if isinstance(value, datetime.timedelta):
        return Fraction(value // datetime.timedelta(microseconds=1) * 1_000)
    if np.isnat(value):
        raise ValueError(_texts.not_positive(argument, value))
    unit, count = np.datetime_data(value.dtype)
    if unit not in _NANOSECONDS:
        # Years and months have no fixed length.
        raise TypeError(_texts.bad_window_length(argument, value))
    return Fraction(int(value.astype(np.int64))) * count * _NANOSECONDS[unit]


def _window_length(argument, value, name, unit, floating):
    """span or every in the time column's own numbers: int for int64
    times (datetimes in their unit), float for float64."""
    if value is None:
        return None
    if unit is None:
        if _is_timedelta(value):
            raise TypeError(_texts.timedelta_for_numbers(argument, name))
        if not _is_number(value):
            raise TypeError(_texts.bad_window_length(argument, value))
        if floating:
            value = float(value)
            if not math.isfinite(value):
                raise ValueError(_texts.not_finite(argument, value))
        elif isinstance(value, (float, np.floating)):
            if not math.isfinite(value):
                raise ValueError(_texts.not_finite(argument, value))
            if not float(value).is_integer():
                raise ValueError(_texts.not_whole(argument, name, "1"))
            value = int(value)
        else:
            value = int(value)
    else:
        if _is_number(value):
            raise TypeError(_texts.number_for_datetimes(argument, name))
        if not _is_timedelta(value):
            raise TypeError(_texts.bad_window_length(argument, value))
        exact = _nanoseconds(argument, value) / _NANOSECONDS[unit]
        if exact.denominator != 1:
            raise ValueError(_texts.not_whole(argument, name, unit))
        value = int(exact)
    if not value > 0:
        raise ValueError(_texts.not_positive(argument, value))
    if not floating and value > _INT64_MAX:
        raise ValueError(_texts.too_large(argument))
    return value


def rolling_features(frame, *, id, time, value, kind=None, size=None, step=1, span=None, every=None,
                     min_length=1, nan="raise", progress=False):
    """The ten features of every window of every series of `frame`, as a
    table of its kind: one row per window, sorted by id, kind, then the
    window's end.

    frame, id, value, kind, nan, progress: as for extract_features (progress
        counts windows).  With value a list of columns (wide input), each
        column is a series of its own, told apart by a column "kind" holding
        the column's name, as extract_features does.
    time: the column each series is ordered by (equal times keep frame
        order); the result's time column, under the same name and type,
        holds each window's end.
    size, step: count windows.  A window ends at readings step-1, 2*step-1,
        ... of a series (from 0) and holds the `size` readings ending there
        (fewer at the start); its end is the time of its last reading.
    span, every: time windows, numbers for a numeric time column, timedeltas
        (datetime.timedelta, numpy.timedelta64, pandas.Timedelta) for a date
        or datetime one.  Without every a window ends at each distinct time
        t of the series and holds the readings with t - span < time <= t;
        with it, windows end at the multiples of every (since 1970-01-01 for
        datetimes) from the first at or after the series' first time to the
        first at or after its last.
    min_length: windows holding fewer readings are left out.
    nan: "raise" (a NaN in a window of two or more readings is a ValueError
        naming the series and the window's end) or "drop" (NaN readings are
        removed before the windows are formed).

    Every window's values are those of orven.extract_features on the
    window's readings, to the bit.
    """
    if nan not in ("raise", "drop"):
        raise ValueError(_texts.bad_nan_policy(nan))
    if (size is None) == (span is None):
        raise ValueError(_texts.size_or_span())
    if every is not None and span is None:
        raise ValueError(_texts.every_without_span())
    if span is not None and step != 1:
        raise ValueError(_texts.step_without_size())
    if size is not None:
        size = _count("size", size, 1)
        step = _count("step", step, 1)
    min_length = _count("min_length", min_length, 0)
    adapter, ids, values, wide_input = _roles(frame, id, value, kind, time)

    if wide_input:
        values = sorted(values)
    key_columns = [adapter.key("id", name) for name in ids]
    kind_column = adapter.key("kind", kind) if kind is not None else None
    time_column = adapter.time(time)
    floating = time_column.array.dtype == np.float64
    unit = adapter.time_unit(time)
    if span is not None:
        span = _window_length("span", span, time, unit, floating)
        every = _window_length("every", every, time, unit, floating)
    report, close = _progress_reporter("windows") if progress else (None, lambda: None)

    def end_label(end):
        return _kinds.python_scalar(adapter.time_values(time, np.array([end]))[0]) if unit else end

    def series_keys(id_row, kind_row, place):
        described = [(name, adapter.scalar(name, id_row)) for name in ids]
        if kind is not None:
            described.append((kind, adapter.scalar(kind, kind_row)))
        elif wide_input:
            described.append(("kind", values[place]))
        return described

    call = _seam.RollingCall(
        ids=key_columns,
        kind=kind_column,
        values=[_seam.ValueColumn(name, adapter.values(name)) for name in values],
        time=time_column,
        drop_nan=nan == "drop",
        nan_message=lambda id_row, kind_row, place, end: _texts.nan_in_window(
            values[place], series_keys(id_row, kind_row, place), end_label(end)),
        window_message=lambda id_row, kind_row, place, why: _texts.unwindowable_series(
            series_keys(id_row, kind_row, place), why),
        progress=report,
        size=size, step=step, span=span, every=every, min_length=min_length,
    )
    try:
        result = _native.rolling_features(call)
    finally:
        close()
    id_rows = _seam.bytes_as(result["id_rows"], np.int64)
    kinds = _seam.bytes_as(result["kinds"], np.int64)
    ends = _seam.bytes_as(result["ends"], np.float64 if floating else np.int64)
    # One contiguous column per feature, as the workers wrote them: the
    # frame libraries take them over without a copy.
    features = _seam.bytes_as(result["features"], np.float64, (len(FEATURES), len(id_rows)))
    columns = [(name, adapter.take(name, id_rows)) for name in ids]
    if kind is not None:
        columns.append((kind, adapter.take(kind, kinds)))
    elif wide_input:
        columns.append(("kind", adapter.labels(np.asarray(values, dtype=object)[kinds])))
    columns.append((time, adapter.time_values(time, ends)))
    columns += [(name, adapter.feature(features[f])) for f, name in enumerate(FEATURES)]
    return adapter.build(columns)
