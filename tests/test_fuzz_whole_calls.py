"""Whole calls at scale, compared bit for bit with the plain Python reference
and between worker counts.

Each call holds 300 to 1,000 series in records of one to seven columns, so
its series span several blocks of work and several workers; their lengths
sit on and around every size where the computation changes its way (the
first few, the short median's 20 and 256, the windowed median's 2,048, a
block's 65,536 elements) and at random between; their values are rich in
signed zeros, infinities, subnormals, huge and repeated values.  NaNs go
into calls of their own (one in four): as lone elements, which are handed
back, or inside a longer series, which the median refuses for the whole
call.  Every call runs in three fresh interpreters, with 1, 2 and 7 workers;
their results must be identical to the bit, and equal to the reference.

The data are seeded NumPy draws, so a run is reproducible; the number of
calls is 64 times ORVEN_DIFFERENTIAL_SCALE (1 by default, a fraction allowed)."""

import hashlib
import math
import os
import pickle

import numpy as np
from hypothesis import given, settings
from hypothesis import strategies as st

import orven
from helpers import (
    FEATURE_ORDER,
    MEDIAN_NAN_MESSAGE,
    from_bits,
    mismatches,
    reference_features,
    run_python,
)

# Eight calls at least, so that every kind of call and every block length
# is met (under emulation a fraction of the default may be all there is
# time for).
CALLS = max(8, round(64 * float(os.environ.get("ORVEN_DIFFERENTIAL_SCALE", "1"))))
WORKER_COUNTS = (1, 2, 7)

SWITCH_LENGTHS = [*range(0, 6), 19, 20, 21, 255, 256, 257, 2047, 2048, 2049]
BLOCK_LENGTHS = [65535, 65536, 65537]

SPECIAL = np.array([
    0.0, -0.0, math.inf, -math.inf,
    5e-324, -5e-324, 1e-310, -2.5e-312, 2.2250738585072014e-308, -2.225073858507201e-308,
    1.7976931348623157e308, -1.7976931348623157e308, 1.7e308, -1.7e308, 8.98846567431158e307,
    1.0, -1.0, 0.1, 0.2, 0.3, 0.5, 3.0, 1e16, -1e16, 1e100, -1e100,
])
NANS = np.array([
    math.nan,
    from_bits(0xFFF8000000000000),
    from_bits(0x7FF8000000000123),
    from_bits(0x7FF0000000000001),  # signalling
])
NAMES = ["a", "b", "c", "", "température", "数据", "📈", "x" * 40]


def draw_values(rng, length):
    """One series, its values drawn in one of a few manners."""
    manner = rng.integers(7)
    if manner == 0:  # ordinary values
        values = rng.normal(size=length) * 10.0 ** rng.integers(-3, 4)
    elif manner == 1:  # every magnitude, subnormals and overflowing squares included
        values = rng.normal(size=length) * 10.0 ** rng.integers(-323, 308, size=length)
    elif manner == 2:  # signed zeros among few other values
        values = rng.choice(np.array([0.0, -0.0, 0.0, -0.0, 1.0, -1.0, 5e-324, -5e-324]), size=length)
    elif manner == 3:  # special values, infinities included
        values = rng.choice(SPECIAL, size=length)
    elif manner == 4:  # huge values, whose sums overflow
        values = rng.choice([-1.0, 1.0], size=length) * rng.uniform(1e306, 1.7976931348623157e308, size=length)
    elif manner == 5:  # long runs of a few values
        values = rng.choice(np.concatenate([SPECIAL[4:], rng.normal(size=3)]), size=rng.integers(1, 5))
        values = rng.choice(values, size=length)
    else:  # sorted, either way
        values = np.sort(rng.normal(size=length))
        values = values if rng.integers(2) else values[::-1].copy()
    if length and rng.integers(4) == 0:  # repeats of its own values
        picks = rng.integers(length, size=length // 4 + 1)
        values[rng.integers(length, size=picks.size)] = values[picks]
    return values


def differential_call(index):
    """Call `index` of the run: its kind and its records."""
    kind = ("plain", "plain", "plain", "lone-nan" if index % 8 == 3 else "refused")[index % 4]
    rng = np.random.default_rng([2024, index])
    count = int(rng.integers(300, 1001))
    lengths = SWITCH_LENGTHS + [BLOCK_LENGTHS[index % 3]]
    random_count = count - len(lengths)
    short = rng.integers(0, 64, size=random_count)
    longer = np.exp(rng.uniform(0.0, math.log(5000.0), size=random_count)).astype(int)
    lengths += np.where(rng.random(random_count) < 0.8, short, longer).tolist()
    rng.shuffle(lengths)
    series = [draw_values(rng, n) for n in lengths]
    if kind == "lone-nan":
        series += [NANS[rng.integers(NANS.size)].reshape(1).copy() for _ in range(20)]
    elif kind == "refused":
        candidates = [s for s in series if s.size >= 2]
        victim = candidates[rng.integers(len(candidates))]
        victim[rng.integers(victim.size)] = NANS[rng.integers(NANS.size)]
    records = []
    while series:
        width = int(rng.integers(1, 8))
        names = rng.choice(NAMES, size=min(width, len(series)), replace=False)
        records.append({str(name): series.pop() for name in names})
    return kind, records


def differential_calls():
    return [differential_call(index) for index in range(CALLS)]


def digest(calls):
    """What the calls hold, so that parent and children know they agree."""
    hashed = hashlib.sha256()
    for _, records in calls:
        for record in records:
            for name, values in record.items():
                hashed.update(name.encode())
                hashed.update(values.tobytes())
    return hashed.hexdigest()


# Each child makes the calls anew from their seeds and writes, per call,
# the bits of every feature of every column in the records' order, or the
# exception it raised.
CHILD = """
    import pickle
    import numpy as np
    import orven
    from helpers import FEATURE_ORDER
    from test_fuzz_whole_calls import differential_calls, digest

    calls = differential_calls()
    outcomes = []
    for _, records in calls:
        try:
            result = orven.extract_features(records)
        except BaseException as error:
            outcomes.append((type(error).__name__, str(error)))
            continue
        same_columns = [set(got) == set(record) for got, record in zip(result, records)]
        values = [got[name][feature] for got, record in zip(result, records)
                  for name in record for feature in FEATURE_ORDER]
        bits = np.array(values, dtype=np.float64).view(np.uint64)
        outcomes.append((len(result) == len(records) and all(same_columns), bits.tobytes()))
    with open({path!r}, "wb") as out:
        pickle.dump((digest(calls), outcomes), out)
"""


def test_whole_calls_agree_across_worker_counts_and_with_the_reference(tmp_path):
    calls = differential_calls()
    lengths = {values.size for _, records in calls for record in records for values in record.values()}
    assert {*SWITCH_LENGTHS, *BLOCK_LENGTHS} <= lengths
    runs = {}
    for workers in WORKER_COUNTS:
        path = tmp_path / f"workers-{workers}.pickle"
        run_python(CHILD.format(path=str(path)), {"RAYON_NUM_THREADS": str(workers)}, timeout=600)
        with open(path, "rb") as source:
            runs[workers] = pickle.load(source)
    assert {seen for seen, _ in runs.values()} == {digest(calls)}, "the children made other data"
    first = runs[WORKER_COUNTS[0]][1]
    for workers in WORKER_COUNTS[1:]:
        differ = [i for i, (a, b) in enumerate(zip(first, runs[workers][1])) if a != b]
        assert not differ, f"{workers} workers differ from 1 in calls {differ}"

    problems = []
    for index, ((kind, records), outcome) in enumerate(zip(calls, first)):
        if kind == "refused":
            assert outcome == ("PanicException", MEDIAN_NAN_MESSAGE), (index, outcome[:2])
            continue
        complete, raw = outcome
        assert complete is True, (index, outcome[:2])
        rows = np.frombuffer(raw, dtype=np.uint64).reshape(-1, len(FEATURE_ORDER)).tolist()
        columns = [(r, name, values) for r, record in enumerate(records) for name, values in record.items()]
        for (r, name, values), row in zip(columns, rows):
            got = {feature: from_bits(pattern) for feature, pattern in zip(FEATURE_ORDER, row)}
            problems += mismatches(reference_features(values.tolist()), got,
                                   f"call {index} record {r} {name!r} (length {values.size})")
    assert not problems, "\n".join(problems[:20])


@settings(max_examples=200, derandomize=True, database=None, deadline=None)
@given(st.lists(st.sampled_from(NANS.tolist() + SPECIAL.tolist()), min_size=1, max_size=1),
       st.integers(1, 40))
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
