"""orven_frames.extract_features against orven.extract_features: random
frames of every kind, key type and layout, grouped here row by row in
plain Python, every value compared to the bit."""

import datetime
import math

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import orven
import orven_frames
from helpers import bits

FEATURES = orven_frames.FEATURES
KIND_NAMES = ["pressure", "temp", "a-kind-name-longer-than-sixteen", "é-ünïcode"]
FRAME_KINDS = ["mapping", "pandas", "polars", "pyarrow"]
KEY_TYPES = ["int", "wide-int", "str", "category", "datetime", "bool", "composite"]
TIME_MODES = ["none", "int", "float", "datetime"]


def library(kind):
    if kind != "mapping":
        pytest.importorskip(kind)


# ------------------------------------------------------------ random tables

def id_values(key_type, count, rng):
    """`count` distinct ids of one type, as Python values (tuples when composite)."""
    if key_type == "int":
        return [int(v) for v in rng.choice(np.arange(-50, 50), count, replace=False)]
    if key_type == "wide-int":
        return [int(v) for v in rng.choice(2 ** 62, count, replace=False) - 2 ** 61]
    if key_type in ("str", "category"):
        return [f"{'x' * int(rng.integers(0, 20))}id{v}" for v in rng.choice(1000, count, replace=False)]
    if key_type == "datetime":
        base = datetime.datetime(2024, 1, 1)
        return [base + datetime.timedelta(microseconds=int(v) * 977)
                for v in rng.choice(10 ** 6, count, replace=False)]
    if key_type == "bool":
        return [False, True][:count]
    return [(int(a), f"p{b}") for a, b in zip(rng.integers(0, 3, count), rng.choice(100, count, replace=False))]


def make_rows(seed, ids, kinds, key_type, time_mode, nan_share, wide_input):
    """The table as rows: (id, kind, time, value or {kind: value}), in a
    random frame order.  kinds == 0: no kind column."""
    rng = np.random.default_rng(seed)
    if key_type == "bool":
        ids = min(ids, 2)
    names = KIND_NAMES[:max(kinds, 1)]
    rows = []
    for key in id_values(key_type, ids, rng):
        # Some ids lack some kinds; series of one reading are common.
        present = [name for name in names if wide_input or kinds == 0 or rng.random() < 0.75]
        for name in [None] if wide_input or kinds == 0 else present:
            for _ in range(int(rng.choice([1, 1, 2, 3, int(rng.integers(4, 40))]))):
                # Few distinct times: ties within a series.
                time = int(rng.integers(0, 6))
                if wide_input:
                    value = {n: reading(rng, nan_share) for n in names}
                else:
                    value = reading(rng, nan_share)
                rows.append((key, name, time, value))
    order = rng.permutation(len(rows))
    return [rows[i] for i in order], names


def reading(rng, nan_share):
    if rng.random() < nan_share:
        return math.nan
    return float(rng.choice([rng.normal(0, 100), -0.0, 0.0, 1.5, float(rng.integers(-5, 5))]))


def time_column(times, mode):
    times = np.array(times, dtype=np.int64)
    if mode == "float":
        return times.astype(np.float64) / 4
    if mode == "datetime":
        return times.astype("datetime64[s]").astype("datetime64[us]")
    return times


def key_column(values, key_type):
    if key_type in ("int", "wide-int"):
        return np.array(values, dtype=np.int64)
    if key_type == "bool":
        return np.array(values, dtype=bool)
    if key_type == "datetime":
        return np.array(values, dtype="datetime64[us]")
    return np.array(values, dtype=object)


def columns_of(rows, names, key_type, time_mode, kinds, wide_input):
    """The table as named NumPy columns: id (or id_a, id_b), kind, time,
    value (or one column per kind)."""
    columns = {}
    if key_type == "composite":
        columns["id_a"] = np.array([r[0][0] for r in rows], dtype=np.int64)
        columns["id_b"] = np.array([r[0][1] for r in rows], dtype=object)
    else:
        columns["id"] = key_column([r[0] for r in rows], key_type)
    if kinds and not wide_input:
        columns["kind"] = np.array([r[1] for r in rows], dtype=object)
    if time_mode != "none":
        columns["time"] = time_column([r[2] for r in rows], time_mode)
    if wide_input:
        for name in names:
            columns[name] = np.array([r[3][name] for r in rows], dtype=np.float64)
    else:
        columns["value"] = np.array([r[3] for r in rows], dtype=np.float64)
    return columns


def frame_of(columns, frame_kind, key_type, rng):
    """The columns as a frame of `frame_kind`; strings and categoricals
    take each library's usual forms, picked at random."""
    categorical = {"id", "id_b"} if key_type == "category" else set()
    if frame_kind == "mapping":
        return columns
    if frame_kind == "pandas":
        import pandas as pd
        frame = pd.DataFrame({name: pd.Series(column, dtype="category" if name in categorical else
                                               (object if column.dtype == object and rng.random() < 0.5
                                                else None))
                              for name, column in columns.items()})
        return frame
    if frame_kind == "polars":
        import polars as pl
        series = []
        for name, column in columns.items():
            s = pl.Series(name, column.tolist() if column.dtype == object else column)
            series.append(s.cast(pl.Categorical) if name in categorical else s)
        return pl.DataFrame(series)
    import pyarrow as pa
    arrays = {}
    for name, column in columns.items():
        if column.dtype == object:
            kind = [pa.string(), pa.large_string(), pa.string_view()][int(rng.integers(0, 3))]
            array = pa.array(column.tolist(), type=kind)
            if name in categorical:
                array = array.dictionary_encode()
        else:
            array = pa.array(column)
        # Several chunks, some sliced: every batch and offset must count.
        cut = int(rng.integers(0, len(column) + 1))
        arrays[name] = pa.chunked_array([array[:cut], array[cut:]], type=array.type)
    return pa.table(arrays)


# ---------------------------------------------------------------- reference

def expected_series(rows, names, wide_input, time_mode, nan):
    """(id, kind) -> values, in result order: ids then kinds sorted, each
    series in time order with ties in frame order (None: the call raises)."""
    series = {}
    for index, (key, name, time, value) in enumerate(rows):
        items = value.items() if wide_input else [(name, value)]
        for kind, v in items:
            series.setdefault((key, kind), []).append((time if time_mode != "none" else 0, index, v))
    result = {}
    for key in sorted(series, key=lambda k: (k[0], "" if k[1] is None else k[1])):
        values = [v for _, _, v in sorted(series[key])]
        if nan == "drop":
            values = [v for v in values if not math.isnan(v)]
        elif len(values) > 1 and any(math.isnan(v) for v in values):
            return None, key
        result[key] = values
    return result, None


def reference_features(values):
    return orven.extract_features([{"s": np.array(values, dtype=np.float64)}])[0]["s"]


def as_list(column):
    if hasattr(column, "to_pylist"):
        return column.to_pylist()
    if hasattr(column, "to_list"):
        return column.to_list()
    return column.tolist()


def table_columns(table):
    """name -> list of Python values, for any of the four result kinds."""
    if isinstance(table, dict):
        return {name: as_list(column) for name, column in table.items()}
    if hasattr(table, "column_names"):
        return {name: as_list(table.column(name)) for name in table.column_names}
    return {name: as_list(table[name]) for name in table.columns}


def plain(value):
    if isinstance(value, np.generic):
        value = value.item()
    if hasattr(value, "to_pydatetime"):
        value = value.to_pydatetime()
    return value


def same_bits(got, want):
    if got is None:
        return False
    return bits(float(got)) == bits(want)


# ------------------------------------------------------------------- driver

# The frame kind outside hypothesis: a library that is missing skips its
# own cases only.
@pytest.mark.parametrize("frame_kind", FRAME_KINDS)
@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(seed=st.integers(0, 2 ** 32 - 1), ids=st.integers(0, 12), kinds=st.integers(0, 3),
       key_type=st.sampled_from(KEY_TYPES),
       time_mode=st.sampled_from(TIME_MODES), wide_input=st.booleans(), wide=st.booleans(),
       nan=st.sampled_from(["raise", "drop"]), nan_share=st.sampled_from([0.0, 0.0, 0.05, 0.3]))
def test_matches_orven_on_the_same_series(frame_kind, seed, ids, kinds, key_type, time_mode, wide_input,
                                          wide, nan, nan_share):
    library(frame_kind)
    if wide_input:
        kinds = max(kinds, 1)
    rng = np.random.default_rng(seed ^ 0x5eed)
    rows, names = make_rows(seed, ids, kinds, key_type, time_mode, nan_share, wide_input)
    columns = columns_of(rows, names, key_type, time_mode, kinds, wide_input)
    frame = frame_of(columns, frame_kind, key_type, rng)
    id_names = ["id_a", "id_b"] if key_type == "composite" else "id"
    arguments = dict(id=id_names, value=list(names) if wide_input else "value",
                     kind="kind" if kinds and not wide_input else None,
                     time="time" if time_mode != "none" else None, wide=wide, nan=nan)
    expected, offending = expected_series(rows, names, wide_input, time_mode, nan)
    if expected is None:
        with pytest.raises(ValueError) as raised:
            orven_frames.extract_features(frame, **arguments)
        key, kind = offending
        column = kind if wide_input else "value"
        described = [("id", key)]
        if key_type == "composite":
            described = [("id_a", key[0]), ("id_b", key[1])]
        if kind is not None:
            described.append(("kind", kind))
        prefix = f"{column} holds NaN in the series "
        if key_type == "datetime":
            assert str(raised.value).startswith(prefix + "id=")
        else:
            assert str(raised.value) == prefix + ", ".join(f"{n}={v!r}" for n, v in described)
        return
    table = table_columns(orven_frames.extract_features(frame, **arguments))
    id_columns = id_names if isinstance(id_names, list) else [id_names]
    keys = list(expected)
    has_kind = kinds > 0 or wide_input
    def id_of(key):
        return list(key[0]) if key_type == "composite" else [key[0]]

    if not wide:
        kind_name = "kind"
        assert list(table) == [*id_columns, *([kind_name] if has_kind else []), *FEATURES]
        got_keys = list(zip(*(table[name] for name in id_columns)))
        assert [tuple(map(plain, k)) for k in got_keys] == [tuple(id_of(k)) for k in keys]
        if has_kind:
            assert list(map(plain, table[kind_name])) == [k[1] for k in keys]
        for row, key in enumerate(keys):
            want = reference_features(expected[key])
            for name in FEATURES:
                assert same_bits(table[name][row], want[name]), (key, name, table[name][row], want[name])
        return

    distinct_ids = sorted({k[0] for k in keys})
    got_ids = list(zip(*(table[name] for name in id_columns)))
    assert [tuple(map(plain, k)) for k in got_ids] == [tuple(id_of((i, None))) for i in distinct_ids]
    if not has_kind:
        assert list(table) == [*id_columns, *FEATURES]
        for row, key in enumerate(keys):
            want = reference_features(expected[key])
            for name in FEATURES:
                assert same_bits(table[name][row], want[name]), (key, name)
        return
    kinds_present = sorted({k[1] for k in keys}) if not wide_input else sorted(names)
    assert list(table) == [*id_columns, *(f"{kind}__{name}" for kind in kinds_present for name in FEATURES)]
    for row, key in enumerate(distinct_ids):
        for kind in kinds_present:
            for name in FEATURES:
                cell = table[f"{kind}__{name}"][row]
                if (key, kind) in expected:
                    want = reference_features(expected[(key, kind)])[name]
                    assert same_bits(cell, want), (key, kind, name)
                elif frame_kind in ("polars", "pyarrow"):
                    assert cell is None
                else:
                    assert math.isnan(cell)


# --------------------------------------------------------- larger frames

def reference_table(columns, id_names, kind, time):
    """Result order and features, from NumPy's sorts: (key codes, features)."""
    codes = [np.unique(columns[name], return_inverse=True)[1].reshape(-1) for name in id_names]
    if kind is not None:
        codes.append(np.unique(columns[kind], return_inverse=True)[1].reshape(-1))
    rows = len(columns[id_names[0]])
    sort_keys = [np.arange(rows)]
    if time is not None:
        sort_keys.append(columns[time])
    order = np.lexsort(sort_keys + codes[::-1])
    key = np.stack([c[order] for c in codes], axis=1)
    cuts = np.flatnonzero((key[1:] != key[:-1]).any(axis=1)) + 1 if rows else np.array([], dtype=int)
    values = columns["value"][order]
    series = np.split(values, cuts) if rows else []
    result = orven.extract_features([{"s": s} for s in series])
    return key[np.concatenate(([0], cuts)).astype(int)] if rows else key, [r["s"] for r in result]


@pytest.mark.parametrize("ids, kinds, readings, wide_ids, shuffled", [
    (3000, 3, 30, False, True),      # many groups, out of order: partitioned, each group sorted
    (5, 2, 30000, False, False),     # few long groups across many tasks, already in order
    (5, 2, 30000, False, True),      # few long groups, out of order
    (1500, 2, 40, True, True),       # 64-bit ids in a composite key: renumbered densely
])
@pytest.mark.parametrize("frame_kind", ["mapping", "pandas", "polars"])
def test_larger_frames_match_orven(ids, kinds, readings, wide_ids, shuffled, frame_kind):
    library(frame_kind)
    rng = np.random.default_rng(ids * 7 + readings)
    rows = ids * kinds * readings
    id_values = rng.choice(2 ** 62, ids, replace=False) if wide_ids else rng.permutation(ids) * 3 - 7
    columns = {
        "id": np.repeat(id_values, kinds * readings).astype(np.int64),
        "kind": np.tile(np.array(KIND_NAMES[:kinds], dtype=object), ids * readings),
        "time": rng.integers(0, readings // 2 + 1, rows).astype(np.int64),
        "value": rng.normal(0, 10, rows),
    }
    id_names = ["id"]
    if wide_ids:
        columns["id2"] = rng.choice(2 ** 62, rows // readings, replace=True).repeat(readings).astype(np.int64)
        id_names = ["id", "id2"]
    if shuffled:
        order = rng.permutation(rows)
        columns = {name: column[order] for name, column in columns.items()}
    else:
        columns["time"] = np.sort(columns["time"])
    untouched = {name: column.copy() for name, column in columns.items()}
    frame = frame_of(columns, frame_kind, "int", rng)
    table = table_columns(orven_frames.extract_features(frame, id=id_names, kind="kind", time="time",
                                                        value="value"))
    key, features = reference_table(columns, id_names, "kind", "time")
    # The caller's columns are never modified.
    assert all(np.array_equal(columns[name], untouched[name]) for name in columns)
    assert len(table["mean"]) == len(features)
    for position, name in enumerate(id_names):
        assert np.array_equal(np.array(table[name]), np.unique(columns[name])[key[:, position]])
    for name in FEATURES:
        assert np.array_equal(np.array(table[name], dtype=np.float64).view(np.uint64),
                              np.array([f[name] for f in features]).view(np.uint64)), name
