"""Features of whole frames: a long- or wide-format table in, a feature
table of the same kind out, grouped and computed natively in one call.

    import orven_frames
    table = orven_frames.extract_features(frame, id="id", kind="kind",
                                          time="time", value="value")

The values are those of orven.extract_features on the same series, to the
bit.  See extract_features for the arguments.
"""

import numpy as np

from . import _kinds, _native_loader, _seam, _texts

__all__ = ["extract_features", "release_memory", "FEATURES"]

_native = _native_loader.load()

# The features of every series, in orven's order, as the native core names
# them.
FEATURES = _native.FEATURES


def _names(argument):
    if isinstance(argument, (list, tuple)):
        return list(argument), True
    return [argument], False


def _progress_reporter():
    try:
        from tqdm import tqdm
    except ImportError:
        raise ImportError(_texts.no_tqdm()) from None
    state = {}

    def report(done, total):
        bar = state.get("bar")
        if bar is None:
            bar = state["bar"] = tqdm(total=total, unit="series")
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
