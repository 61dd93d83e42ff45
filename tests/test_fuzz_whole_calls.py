"""Whole calls with generated data, compared bit for bit with the plain Python
reference: records of varying number and width, series rich in signed zeros,
infinities, subnormals, huge and repeated values, and now and then a NaN.
The run is bounded and reproducible: a fixed number of examples drawn from a
derandomised generator, with no example database carried between runs."""

import math

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import orven
from helpers import (
    FEATURE_ORDER,
    MEDIAN_NAN_MESSAGE,
    from_bits,
    mismatches,
    reference_features,
)

BOUNDED = settings(
    max_examples=200,
    derandomize=True,
    database=None,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)

SPECIAL = [
    0.0, -0.0, math.inf, -math.inf,
    5e-324, -5e-324, 1e-310, -2.5e-312, 2.2250738585072014e-308, -2.225073858507201e-308,
    1.7976931348623157e308, -1.7976931348623157e308, 1.7e308, -1.7e308, 8.98846567431158e307,
    1.0, -1.0, 0.1, 0.2, 0.3, 0.5, 3.0, 1e16, -1e16, 1e100, -1e100,
]
NANS = [
    math.nan,
    from_bits(0xFFF8000000000000),
    from_bits(0x7FF8000000000123),
    from_bits(0x7FF0000000000001),
]

values = st.one_of(
    st.sampled_from(SPECIAL),
    st.floats(allow_nan=False),
    st.floats(min_value=-2.3e-308, max_value=2.3e-308, allow_nan=False),  # subnormals
    st.floats(min_value=1e300, max_value=1.7976931348623157e308).flatmap(
        lambda v: st.sampled_from([v, -v])),
)


@st.composite
def series(draw):
    pool = draw(st.lists(values, min_size=1, max_size=4))
    element = st.one_of(values, st.sampled_from(pool))  # repeated values
    length = draw(st.one_of(st.integers(0, 12), st.integers(13, 300)))
    items = draw(st.lists(element, min_size=length, max_size=length))
    # About one series in twelve holds a NaN somewhere.
    if items and draw(st.integers(0, 11)) == 0:
        items[draw(st.integers(0, len(items) - 1))] = draw(st.sampled_from(NANS))
    return items


names = st.text(alphabet="abcxyzé数_0", max_size=4)
records = st.lists(st.dictionaries(names, series(), max_size=5), max_size=7)


def panics_on_median(all_series):
    return any(len(s) >= 2 and any(v != v for v in s) for s in all_series)


@BOUNDED
@given(records)
def test_whole_calls_match_the_reference_bit_for_bit(data):
    arrays = [{name: np.array(s, dtype=np.float64) for name, s in record.items()} for record in data]
    every_series = [s for record in data for s in record.values()]
    if panics_on_median(every_series):
        with pytest.raises(BaseException) as caught:
            orven.extract_features(arrays)
        assert type(caught.value).__name__ == "PanicException", repr(caught.value)
        assert str(caught.value) == MEDIAN_NAN_MESSAGE
        return
    result = orven.extract_features(arrays)
    assert type(result) is list and len(result) == len(data)
    problems = []
    for index, (record, got_record) in enumerate(zip(data, result)):
        assert type(got_record) is dict and list(got_record) == list(record)
        for name, s in record.items():
            got = got_record[name]
            assert list(got) == list(FEATURE_ORDER)
            problems += mismatches(reference_features(s), got, f"record {index} {name!r}")
    assert not problems, "\n".join(problems[:20])


@BOUNDED
@given(st.lists(st.sampled_from(NANS + SPECIAL), min_size=1, max_size=1), st.integers(1, 40))
def test_a_lone_value_comes_back_as_it_is_whatever_surrounds_it(lone, width):
    # A single value, NaN included, is never compared by the median, so it
    # never refuses, beside any number of ordinary columns.
    record = {f"c{k}": np.arange(float(k)) for k in range(width)}
    record["lone"] = np.array(lone, dtype=np.float64)
    [got] = orven.extract_features([record])
    problems = mismatches(reference_features(lone), got["lone"], "lone")
    assert not problems, "\n".join(problems)
    for k in range(width):
        assert got[f"c{k}"]["length"] == float(k)
