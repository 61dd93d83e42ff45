"""Repeated calls, successful and failing, leave no reference and no memory
behind.  The memory check is deliberately loose: it catches a leak of the
results or of the per-call structures, not small allocator noise."""

import gc
import os
import sys

import numpy as np
import pytest

import orven

GOOD_A = np.linspace(-5.0, 5.0, 101)
GOOD_B = np.arange(17.0)
WITH_NAN = np.array([1.0, 2.0, np.nan, 4.0])
STRIDED = np.arange(20.0)[::2]
KEY = "column-key"


def failing_panic():
    orven.extract_features([{"a": GOOD_A, KEY: WITH_NAN}, {"b": GOOD_B}])


def failing_contiguity():
    orven.extract_features([{"a": GOOD_A}, {"s": STRIDED, "b": GOOD_B}])


def failing_later_item():
    orven.extract_features([{"a": GOOD_A, "b": GOOD_B}, {"c": GOOD_A}, 5])


def failing_later_value():
    orven.extract_features([{"a": GOOD_A, "b": GOOD_B}, {"c": [1.0]}])


def succeeding():
    result = orven.extract_features([{"a": GOOD_A, KEY: GOOD_B}, {"b": GOOD_B, "a": GOOD_A}])
    assert result[1]["b"]["sum_values"] == 136.0


CALLS = {
    "success": (succeeding, None),
    "panic": (failing_panic, BaseException),
    "not-contiguous": (failing_contiguity, TypeError),
    "later-bad-item": (failing_later_item, TypeError),
    "later-bad-value": (failing_later_value, TypeError),
}
WATCHED = {"GOOD_A": GOOD_A, "GOOD_B": GOOD_B, "WITH_NAN": WITH_NAN, "STRIDED": STRIDED, "KEY": KEY}


@pytest.mark.parametrize("call, raises", CALLS.values(), ids=CALLS.keys())
def test_reference_counts_are_unchanged(call, raises):
    def run():
        if raises is None:
            call()
        else:
            with pytest.raises(raises):
                call()

    run()  # first use fills the process-wide caches
    gc.collect()
    before = {name: sys.getrefcount(obj) for name, obj in WATCHED.items()}
    for _ in range(200):
        run()
    gc.collect()
    after = {name: sys.getrefcount(obj) for name, obj in WATCHED.items()}
    assert after == before


def test_result_is_owned_only_by_the_caller():
    result = orven.extract_features([{"a": GOOD_A}])
    # The same shape built in Python has the same counts: nothing else holds
    # a reference to the list or to the dicts in it.
    built = [{"a": {"mean": 0.0}}]
    assert sys.getrefcount(result) == sys.getrefcount(built)
    assert sys.getrefcount(result[0]) == sys.getrefcount(built[0])
    assert sys.getrefcount(result[0]["a"]) == sys.getrefcount(built[0]["a"])


def resident_bytes():
    with open("/proc/self/statm", encoding="ascii") as handle:
        return int(handle.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_memory_stays_flat_over_many_calls():
    rng = np.random.default_rng(5)
    data = [{f"c{j}": rng.normal(size=100) for j in range(3)} for _ in range(20)]
    bad = data + [{"s": STRIDED}]

    def burst(count):
        for i in range(count):
            result = orven.extract_features(data)
            assert len(result) == 20
            if i % 4 == 0:
                with pytest.raises(TypeError):
                    orven.extract_features(bad)
        del result
        gc.collect()

    burst(300)  # warm up allocators and caches
    start = resident_bytes()
    burst(3000)
    growth = resident_bytes() - start
    # Leaking the results alone would cost over 100 MiB here.
    assert growth < 24 * 1024 * 1024, f"resident memory grew by {growth / 2**20:.1f} MiB"
