"""orven_frames.rolling_features against orven.extract_features: random
frames of every kind and key type, random windows, every window's
readings cut out here by the definitions in plain Python and compared to
the bit; and every argument error."""

import datetime
import math

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import orven
import orven_frames
from helpers import bits
from test_frames import FRAME_KINDS, columns_of, frame_of, library, make_rows, plain, table_columns

FEATURES = orven_frames.FEATURES
KEY_TYPES = ["int", "str", "category", "composite"]
# Readings that stress the kernel's shortcuts: signed zeros, infinities,
# subnormals, huge values.
SPECIAL = [0.0, -0.0, math.inf, -math.inf, 5e-324, -5e-324, 1e308, -1e308, 2.5]


def spiced(rows, rng):
    """Some readings replaced by special values."""
    out = []
    for key, name, time, value in rows:
        if not (isinstance(value, float) and math.isnan(value)) and rng.random() < 0.3:
            value = float(rng.choice(SPECIAL))
        out.append((key, name, time, value))
    return out


def raw_time(time, mode):
    """A row's time as the result holds it: in seconds for datetimes (the
    frame's unit is microseconds), a quarter for floats."""
    return time / 4 if mode == "float" else time * 10 ** 6 if mode == "datetime" else time


def time_windows(times, span, every, min_length):
    """(end, first, last) of the time windows of sorted `times`."""
    if every is None:
        ends = sorted(set(times))
    else:
        def first_multiple(t):
            k = math.ceil(t / every)
            while (k - 1) * every >= t:
                k -= 1
            while k * every < t:
                k += 1
            return k
        ends = [k * every for k in range(first_multiple(times[0]), first_multiple(times[-1]) + 1)] if times else []
    windows = []
    for end in ends:
        held = [i for i, t in enumerate(times) if end - span < t <= end]
        if len(held) >= max(min_length, 0) and (held or min_length == 0):
            begin = held[0] if held else 0
            windows.append((end, begin, begin + len(held)))
    return windows


def count_windows(times, size, step, min_length):
    windows = []
    for j in range(step - 1, len(times), step):
        begin = max(0, j - size + 1)
        if j + 1 - begin >= min_length:
            windows.append((times[j], begin, j + 1))
    return windows


def expected_windows(rows, names, wide_input, mode, nan, shape):
    """[(key, kind, end, readings)] in result order, or the key of the
    first series the call must refuse."""
    series = {}
    for index, (key, name, time, value) in enumerate(rows):
        for kind, v in (value.items() if wide_input else [(name, value)]):
            series.setdefault((key, kind), []).append((raw_time(time, mode), index, v))
    result = []
    for key in sorted(series, key=lambda k: (k[0], "" if k[1] is None else k[1])):
        readings = [(t, v) for t, _, v in sorted(series[key])]
        if nan == "drop":
            readings = [(t, v) for t, v in readings if not math.isnan(v)]
        times = [t for t, _ in readings]
        if "size" in shape:
            windows = count_windows(times, shape["size"], shape["step"], shape["min_length"])
        else:
            windows = time_windows(times, shape["raw_span"], shape["raw_every"], shape["min_length"])
        for end, begin, stop in windows:
            values = [v for _, v in readings[begin:stop]]
            if len(values) > 1 and any(math.isnan(v) for v in values):
                return None, key
            result.append((key, end, values))
    return result, None


def span_argument(seconds, mode, rng):
    """A span or every in the argument's accepted forms."""
    if seconds is None:
        return None
    if mode == "datetime":
        forms = [datetime.timedelta(seconds=seconds), np.timedelta64(seconds * 1000, "ms")]
        try:
            import pandas as pd
        except ImportError:  # the mapping runs without pandas installed
            pass
        else:
            forms.append(pd.Timedelta(seconds=seconds))
        return forms[int(rng.integers(0, len(forms)))]
    return seconds / 4 if mode == "float" else seconds


@pytest.mark.parametrize("frame_kind", FRAME_KINDS)
@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(seed=st.integers(0, 2 ** 32 - 1), ids=st.integers(0, 6), kinds=st.integers(0, 2),
       key_type=st.sampled_from(KEY_TYPES), time_mode=st.sampled_from(["int", "float", "datetime"]),
       wide_input=st.booleans(), nan=st.sampled_from(["raise", "drop"]),
       nan_share=st.sampled_from([0.0, 0.0, 0.05, 0.3]),
       windows=st.one_of(
           st.fixed_dictionaries({"size": st.integers(1, 12), "step": st.integers(1, 4),
                                  "min_length": st.integers(0, 5)}),
           st.fixed_dictionaries({"span": st.integers(1, 4), "every": st.sampled_from([None, 1, 2, 3]),
                                  "min_length": st.integers(0, 3)})))
def test_every_window_matches_orven_on_its_readings(frame_kind, seed, ids, kinds, key_type, time_mode,
                                                    wide_input, nan, nan_share, windows):
    library(frame_kind)
    if wide_input:
        kinds = max(kinds, 1)
    rng = np.random.default_rng(seed ^ 0x70)
    rows, names = make_rows(seed, ids, kinds, key_type, time_mode, nan_share, wide_input)
    if not wide_input:
        rows = spiced(rows, rng)
    columns = columns_of(rows, names, key_type, time_mode, kinds, wide_input)
    frame = frame_of(columns, frame_kind, key_type, rng)
    id_names = ["id_a", "id_b"] if key_type == "composite" else ["id"]
    shape = dict(windows)
    arguments = dict(id=id_names, time="time", value=list(names) if wide_input else "value",
                     kind="kind" if kinds and not wide_input else None, nan=nan,
                     min_length=shape["min_length"])
    if "size" in shape:
        arguments.update(size=shape["size"], step=shape["step"])
    else:
        scale = {"int": 1, "float": 0.25, "datetime": 10 ** 6}[time_mode]
        shape["raw_span"] = shape["span"] * scale
        shape["raw_every"] = None if shape["every"] is None else shape["every"] * scale
        arguments.update(span=span_argument(shape["span"], time_mode, rng),
                         every=span_argument(shape["every"], time_mode, rng))
    expected, refused = expected_windows(rows, names, wide_input, time_mode, nan, shape)
    if expected is None:
        with pytest.raises(ValueError, match="holds NaN in the series .*, in the window ending at"):
            orven_frames.rolling_features(frame, **arguments)
        return
    table = table_columns(orven_frames.rolling_features(frame, **arguments))
    has_kind = kinds > 0 or wide_input
    assert list(table) == [*id_names, *(["kind"] if has_kind else []), "time", *FEATURES]
    assert len(table["time"]) == len(expected)

    def id_of(key):
        return tuple(key[0]) if key_type == "composite" else (key[0],)

    def end_of(end):
        if time_mode == "datetime":
            return datetime.datetime(1970, 1, 1) + datetime.timedelta(microseconds=end)
        return end

    got_keys = [tuple(plain(v) for v in k) for k in zip(*(table[n] for n in id_names))]
    assert got_keys == [id_of(key) for key, _, _ in expected]
    if has_kind:
        assert [plain(k) for k in table["kind"]] == [key[1] for key, _, _ in expected]
    assert [plain(t) for t in table["time"]] == [end_of(end) for _, end, _ in expected]
    want = orven.extract_features([{"w": np.array(values, dtype=np.float64)} for _, _, values in expected])
    for row, features in enumerate(want):
        for name in FEATURES:
            got = table[name][row]
            assert got is not None and bits(float(got)) == bits(features["w"][name]), (row, name, got)


# ------------------------------------------------------------------ errors

def frame(**columns):
    base = {"id": np.array([1, 1, 2]), "t": np.array([0, 1, 2]), "value": np.array([1.0, 2.0, 3.0])}
    base.update(columns)
    return base


DATES = np.array(["2024-01-01", "2024-01-02", "2024-01-03"], dtype="datetime64[s]")

ERRORS = [
    # (frame, arguments, exception, exact text)
    (frame(), dict(), ValueError, "exactly one of size and span must be given"),
    (frame(), dict(size=3, span=2), ValueError, "exactly one of size and span must be given"),
    (frame(), dict(size=3, every=2), ValueError, "every can only be given with span"),
    (frame(), dict(span=3, step=2), ValueError, "step can only be given with size"),
    (frame(), dict(size=0), ValueError, "size must be at least 1, not 0"),
    (frame(), dict(size=2, step=0), ValueError, "step must be at least 1, not 0"),
    (frame(), dict(size=2.0), TypeError, "size must be an integer, not float"),
    (frame(), dict(size=True), TypeError, "size must be an integer, not bool"),
    (frame(), dict(size=2, min_length=-1), ValueError, "min_length must be at least 0, not -1"),
    (frame(), dict(span=0), ValueError, "span must be above zero, not 0"),
    (frame(), dict(span=-1.5), ValueError, "span is not a whole number of the unit (1) of time column 't'"),
    (frame(), dict(span=2, every=-3), ValueError, "every must be above zero, not -3"),
    (frame(), dict(span=2.5), ValueError, "span is not a whole number of the unit (1) of time column 't'"),
    (frame(), dict(span="2"), TypeError,
     "span must be a number (a numeric time column) or a timedelta (a date or datetime time column), not str"),
    (frame(), dict(span=datetime.timedelta(seconds=1)), TypeError,
     "span is a timedelta, but time column 't' holds numbers: give a number"),
    (frame(t=np.array([0.0, 1.0, 2.0])), dict(span=math.inf), ValueError, "span must be finite, not inf"),
    (frame(t=DATES), dict(span=3), TypeError,
     "span is a number, but time column 't' holds dates or datetimes: give a timedelta"),
    (frame(t=DATES), dict(span=datetime.timedelta(milliseconds=1500)), ValueError,
     "span is not a whole number of the unit (s) of time column 't'"),
    (frame(t=DATES), dict(span=np.timedelta64(1, "M")), TypeError,
     "span must be a number (a numeric time column) or a timedelta (a date or datetime time column), "
     "not timedelta64"),
    (frame(t=DATES), dict(span=np.timedelta64(-2, "s")), ValueError, "span must be above zero, not -2"),
    (frame(), dict(size=2, nan="keep"), ValueError, "nan must be 'raise' or 'drop', not 'keep'"),
    (frame(), dict(size=2, time="nope"), ValueError, "the frame has no column 'nope'"),
    (frame(t=np.array([0.0, np.nan, 1.0])), dict(size=2), ValueError, "time column 't' holds NaN"),
    (frame(value=np.array([1.0, np.nan, 3.0])), dict(size=2), ValueError,
     "value holds NaN in the series id=1, in the window ending at 1"),
    (frame(value=np.array([1.0, np.nan, 3.0]), t=DATES), dict(span=np.timedelta64(2, "D")), ValueError,
     "value holds NaN in the series id=1, in the window ending at datetime.datetime(2024, 1, 2, 0, 0)"),
    (frame(t=np.array([0.0, math.inf, 1.0])), dict(span=1.0), ValueError,
     "the series id=1 cannot be cut into windows: the time of reading 1 is not finite"),
    (frame(t=np.array([0, 2 ** 63 - 2, 1])), dict(span=1, every=2 ** 62), ValueError,
     "the series id=1 cannot be cut into windows: a window end 2 * 4611686018427387904 lies beyond the "
     "range of int64 times"),
]


@pytest.mark.parametrize("columns, arguments, error, text", ERRORS)
def test_error_texts(columns, arguments, error, text):
    arguments = dict(dict(id="id", time="t", value="value"), **arguments)
    with pytest.raises(error) as raised:
        orven_frames.rolling_features(columns, **arguments)
    assert str(raised.value) == text
