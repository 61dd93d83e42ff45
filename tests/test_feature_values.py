"""The values that come back through the module, compared bit for bit with a
small pure-Python reference.  Python floats are IEEE 754 doubles and every
operation below is rounded by itself, in the order the statistics define, so
the reference gives the exact bits the module must return."""

import gc
import math
import random

import numpy as np
import pytest

import orven
from helpers import (
    ANY_NAN,
    INF,
    QUIET_NAN,
    FEATURE_ORDER,
    from_bits,
    mismatches,
    reference_features,
)

# ----------------------------------------------------------------- reference

# The reference itself lives in helpers.py, shared with the fuzz.

# ------------------------------------------------------------- random series

SPECIAL_VALUES = [
    0.0, -0.0, INF, -INF,
    5e-324, -5e-324, 1e-310, -2.5e-312, 2.2250738585072014e-308, -2.225073858507201e-308,
    1.7976931348623157e308, -1.7976931348623157e308, 1.7e308, -1.7e308, 1e308, 9e307,
    1.0, -1.0, 0.1, 0.2, 0.3, 1e16, -1e16, 1e100, -1e100, 3.0, 0.5,
]

NAN_VALUES = [
    math.nan,
    from_bits(0xFFF8000000000000),  # negative quiet NaN
    from_bits(0x7FF8000000000123),  # quiet NaN with a payload
    from_bits(0x7FF0000000000001),  # signalling NaN
]


def draw_value(rng, profile, pool):
    if pool and rng.random() < 0.15:
        return rng.choice(pool)  # repeated values
    if profile == "plain":
        return rng.uniform(-1e3, 1e3)
    if profile == "zeros":
        return rng.choice([0.0, -0.0, 0.0, -0.0, 1.0, -1.0, 5e-324, -5e-324])
    if profile == "huge":
        return rng.choice([1.0, -1.0]) * rng.uniform(1e306, 1.7976931348623157e308)
    # "special": mostly special values, some ordinary ones
    if rng.random() < 0.6:
        return rng.choice(SPECIAL_VALUES)
    return rng.gauss(0.0, 1.0) * 10.0 ** rng.randint(-320, 300)


def random_series(rng, length, profile):
    pool = []
    values = []
    for _ in range(length):
        v = draw_value(rng, profile, pool)
        values.append(v)
        pool.append(v)
    return values


PROFILES = ["plain", "special", "zeros", "huge"]


def series_batch(seed, profile):
    rng = random.Random(f"{seed}-{profile}")
    lengths = list(range(0, 24)) + [rng.randint(24, 300) for _ in range(40)]
    return [random_series(rng, n, profile) for n in lengths]


def check_through_module(all_series, columns_per_record=3):
    """Packs the series into records of a few columns each, calls the module
    once and compares every feature of every column with the reference."""
    records, expected = [], []
    for start in range(0, len(all_series), columns_per_record):
        chunk = all_series[start : start + columns_per_record]
        records.append({f"c{k}": np.array(s, dtype=np.float64) for k, s in enumerate(chunk)})
        expected.append({f"c{k}": reference_features(s) for k, s in enumerate(chunk)})
    result = orven.extract_features(records)
    assert isinstance(result, list) and len(result) == len(records)
    problems = []
    for index, (want_record, got_record) in enumerate(zip(expected, result)):
        assert type(got_record) is dict
        assert list(got_record) == list(want_record)
        for column, want in want_record.items():
            got = got_record[column]
            assert type(got) is dict and list(got) == list(FEATURE_ORDER)
            problems += mismatches(want, got, f"record {index} {column}")
    assert not problems, "\n".join(problems[:30])


@pytest.mark.parametrize("profile", PROFILES)
@pytest.mark.parametrize("seed", range(8))
def test_random_series_match_reference_bit_for_bit(seed, profile):
    check_through_module(series_batch(seed, profile))


def test_single_element_nan_series_pass_through():
    # A lone NaN is never compared by the median, so it comes back as it is.
    all_series = [[v] for v in NAN_VALUES]
    check_through_module(all_series, columns_per_record=2)


def test_long_series_match_reference():
    rng = random.Random(20240601)
    all_series = [
        random_series(rng, 100_000, "plain"),
        random_series(rng, 4_099, "special"),
        random_series(rng, 10_000, "zeros"),
        random_series(rng, 2_001, "huge"),
    ]
    check_through_module(all_series, columns_per_record=2)


# ------------------------------------------------------ documented examples

E = ANY_NAN
EXAMPLES = [
    # values, {feature: expected}
    ([1.0, 2.0, 3.0, 4.0], dict(absolute_maximum=4.0, mean=2.5, median=2.5, variance=1.25,
                                standard_deviation=1.118033988749895, length=4.0, maximum=4.0,
                                minimum=1.0, root_mean_square=2.7386127875258306,
                                sum_values=10.0)),
    ([], dict(absolute_maximum=-INF, mean=E, median=QUIET_NAN, variance=QUIET_NAN,
              standard_deviation=QUIET_NAN, length=0.0, maximum=-INF, minimum=INF,
              root_mean_square=E, sum_values=-0.0)),
    ([0.1, 0.2, 0.3], dict(sum_values=0.6000000000000001, mean=0.20000000000000004)),
    ([1.0, 1e100, 1.0, -1e100], dict(sum_values=0.0)),
    ([3.0, 4.0], dict(root_mean_square=3.5355339059327378)),
    ([-0.0], dict(sum_values=-0.0, root_mean_square=0.0, absolute_maximum=0.0)),
    ([0.0, -0.0], dict(maximum=0.0, median=0.0)),
    ([-0.0, 0.0], dict(maximum=-0.0, minimum=-0.0)),
    ([-1.0, 0.0, -0.0, -1.0], dict(maximum=-0.0)),
    ([1.0, -0.0, 0.0, 1.0], dict(minimum=0.0)),
    ([0.0, -0.0, 1.0], dict(median=-0.0)),
    ([-0.0, 0.0, 1.0], dict(median=0.0)),
    ([-0.0, -0.0], dict(median=-0.0)),
    ([1.7e308, 1.7e308], dict(median=INF)),
    ([INF, -INF], dict(median=E, variance=E)),
    ([-3.0, 2.0], dict(absolute_maximum=3.0)),
    ([-INF], dict(absolute_maximum=INF)),
    ([5.0], dict(variance=0.0, standard_deviation=0.0)),
]


@pytest.mark.parametrize("values, expected", EXAMPLES, ids=[repr(v) for v, _ in EXAMPLES])
def test_documented_examples(values, expected):
    [record] = orven.extract_features([{"x": np.array(values, dtype=np.float64)}])
    got = record["x"]
    problems = mismatches({**got, **expected}, got, repr(values))
    assert not problems, "\n".join(problems)
    # The reference agrees with the documented value too, so a fault in the
    # reference cannot hide a fault in the module.
    assert not mismatches({**got, **expected}, reference_features(values), "reference")


# ------------------------------------------------------------- key order

def test_record_keys_follow_the_callers_column_order():
    names = ["zeta", "alpha", "", "température", "数据", "📈", "mid", "a" * 300]
    rng = np.random.default_rng(7)
    record = {name: rng.normal(size=5) for name in names}
    reversed_record = {name: record[name] for name in reversed(names)}
    first, second = orven.extract_features([record, reversed_record])
    assert list(first) == names
    assert list(second) == names[::-1]
    for features in list(first.values()) + list(second.values()):
        assert list(features) == list(FEATURE_ORDER)


def test_keys_are_plain_str_with_the_same_text():
    class Name(str):
        pass

    [record] = orven.extract_features([{Name("col"): np.arange(3.0)}])
    [key] = record
    assert type(key) is str and key == "col"
    assert all(type(name) is str for name in record["col"])


@pytest.mark.parametrize("enabled", [True, False])
def test_the_collector_setting_of_the_caller_is_kept(enabled):
    data = [{"x": np.arange(float(i % 5))} for i in range(5000)]
    was = gc.isenabled()
    try:
        (gc.enable if enabled else gc.disable)()
        result = orven.extract_features(data)
        assert gc.isenabled() == enabled
        with pytest.raises(TypeError):
            orven.extract_features(data + [{"x": [1.0]}])
        assert gc.isenabled() == enabled
    finally:
        (gc.enable if was else gc.disable)()
    # The result is a normal object graph: a collection keeps all of it.
    gc.collect()
    assert [record["x"]["length"] for record in result] == [float(i % 5) for i in range(5000)]


def test_many_records_keep_their_order_and_empty_records_stay_empty():
    rng = np.random.default_rng(11)
    records = []
    for i in range(300):
        if i % 7 == 0:
            records.append({})
        else:
            records.append({f"r{i}": rng.normal(size=i % 13), "tag": np.full(3, float(i))})
    result = orven.extract_features(records)
    assert len(result) == len(records)
    for i, (record, out) in enumerate(zip(records, result)):
        assert list(out) == list(record)
        if record:
            assert out["tag"]["mean"] == float(i)
            assert out[f"r{i}"]["length"] == float(i % 13)


def test_same_dict_and_same_array_may_repeat():
    shared = np.array([1.0, 5.0, 2.0])
    record = {"a": shared, "b": shared}
    result = orven.extract_features([record, record, {"c": shared}])
    assert len(result) == 3
    for out in (result[0]["a"], result[0]["b"], result[1]["a"], result[2]["c"]):
        assert out["median"] == 2.0 and out["sum_values"] == 8.0
