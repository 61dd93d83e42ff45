"""The borrow registry shared with other NumPy-using extension modules,
exercised the way such a module would: through the capsule on NumPy's
multiarray module, its 48-byte header and its four C functions."""

import pathlib
import sys
import textwrap

import numpy as np
import pytest

import orven
from helpers import MEDIAN_NAN_MESSAGE, run_python
from registry_client import ATTRIBUTE, CAPSULE_NAME, Registry, capsule_name, multiarray_module

ALREADY_BORROWED = "called `Result::unwrap()` on an `Err` value: AlreadyBorrowed"
GRANTED, CONFLICT, NOT_WRITEABLE = 0, -1, -2


def panic_message(call):
    with pytest.raises(BaseException) as caught:
        call()
    assert type(caught.value).__name__ == "PanicException"
    assert type(caught.value).__module__ == "pyo3_runtime"
    return caught.value.args[0]


@pytest.fixture(scope="module")
def registry():
    # The first admitted array makes orven find or publish the registry.
    orven.extract_features([{"x": np.arange(3.0)}])
    return Registry()


def test_published_registry_header(registry):
    capsule = getattr(multiarray_module(), ATTRIBUTE)
    assert type(capsule).__name__ == "PyCapsule"
    assert capsule_name(capsule) == CAPSULE_NAME
    assert registry.header.version == 1
    assert registry.header.flags
    assert all(getattr(registry.header, name) for name in ("acquire", "acquire_mut", "release", "release_mut"))


def test_exclusive_borrow_by_another_module_refuses_the_call(registry):
    held = np.arange(8.0)
    other = np.arange(4.0)
    assert registry.acquire_mut(held) == GRANTED
    try:
        refcounts = sys.getrefcount(held), sys.getrefcount(other)
        message = panic_message(lambda: orven.extract_features([{"a": other}, {"b": other, "c": held}]))
        assert message == ALREADY_BORROWED
        assert (sys.getrefcount(held), sys.getrefcount(other)) == refcounts
        # The array admitted before the refusal was released on the way out.
        assert registry.is_free(other)
        # An overlapping view is held off too, a disjoint one is not.
        assert panic_message(lambda: orven.extract_features([{"a": held[2:5]}])) == ALREADY_BORROWED
    finally:
        registry.release_mut(held)
    assert orven.extract_features([{"a": held}])[0]["a"]["sum_values"] == 28.0


def test_shared_borrows_only_block_exclusive_ones(registry):
    array = np.arange(5.0)
    assert registry.acquire(array) == GRANTED
    try:
        assert orven.extract_features([{"a": array, "b": array}, {"c": array}])[1]["c"]["length"] == 5.0
        assert registry.acquire_mut(array) == CONFLICT
    finally:
        registry.release(array)
    assert registry.is_free(array)


def _successful(arrays):
    orven.extract_features([{"a": arrays[0], "b": arrays[0]}, {"a": arrays[1]}])


def _refused_value(arrays):
    with pytest.raises(TypeError):
        orven.extract_features([{"a": arrays[0]}, {"a": arrays[1], "b": [1.0]}])


def _not_contiguous(arrays):
    with pytest.raises(TypeError, match="not contiguous"):
        orven.extract_features([{"a": arrays[0], "b": arrays[1][::2]}])


def _median_panics(arrays):
    arrays[1][0] = np.nan
    assert panic_message(lambda: orven.extract_features([{"a": arrays[0]}, {"a": arrays[1]}])) == MEDIAN_NAN_MESSAGE


@pytest.mark.parametrize("call", [_successful, _refused_value, _not_contiguous, _median_panics])
def test_no_borrow_outlives_a_call(registry, call):
    arrays = [np.arange(6.0), np.arange(6.0)]
    refcounts = [sys.getrefcount(array) for array in arrays]
    call(arrays)
    assert all(registry.is_free(array) for array in arrays)
    assert [sys.getrefcount(array) for array in arrays] == refcounts


def test_shared_counts_and_their_release(registry):
    array = np.arange(4.0)
    for _ in range(3):
        assert registry.acquire(array) == GRANTED
    assert registry.acquire_mut(array) == CONFLICT
    for remaining in (2, 1):
        registry.release(array)
        assert registry.acquire_mut(array) == CONFLICT, f"{remaining} shared borrows left"
    registry.release(array)
    assert registry.is_free(array)


def test_exclusive_borrow_excludes_everything_on_its_view(registry):
    array = np.arange(4.0)
    assert registry.acquire_mut(array) == GRANTED
    assert registry.acquire(array) == CONFLICT
    assert registry.acquire_mut(array) == CONFLICT
    registry.release_mut(array)
    assert registry.acquire(array) == GRANTED
    registry.release(array)
    assert registry.is_free(array)


def test_read_only_arrays_take_shared_borrows_only(registry):
    array = np.arange(4.0)
    array.flags.writeable = False
    assert registry.acquire_mut(array) == NOT_WRITEABLE
    assert registry.acquire(array) == GRANTED
    registry.release(array)
    assert orven.extract_features([{"a": array}])[0]["a"]["maximum"] == 3.0


BASE = np.arange(12.0)
GRID = BASE.reshape(3, 4)


def zero_strided(dtype, offset, length=4):
    """A view of BASE whose every element sits at byte `offset`."""
    return np.ndarray((length,), dtype, buffer=BASE, offset=offset, strides=(0,))


# Pairs of views of one buffer, and whether they can touch a common element.
VIEW_PAIRS = [
    pytest.param(BASE[:6], BASE[6:], False, id="adjacent-halves"),
    pytest.param(BASE[:7], BASE[6:], True, id="overlapping-halves"),
    pytest.param(BASE[::2], BASE[1::2], False, id="interleaved"),
    pytest.param(BASE[::2], BASE[::3], True, id="steps-2-and-3"),
    pytest.param(BASE[::-1], BASE, True, id="reversed"),
    pytest.param(BASE[::-2], BASE[::2], False, id="reversed-odd-and-even"),
    pytest.param(BASE[::-2], BASE[1::2], True, id="reversed-odd-and-odd"),
    pytest.param(GRID[:, 0], GRID[:, 1], False, id="two-columns"),
    pytest.param(GRID[:, 1], GRID[1], True, id="column-and-row"),
    pytest.param(GRID[:, ::2], GRID[:, 1::2], False, id="2d-interleaved"),
    # Only zero strides: each view touches the one element at its data
    # pointer, and the gcd gives no divisor to test.
    pytest.param(zero_strided(np.float64, 24), zero_strided(np.float64, 32), False, id="zero-next-elements"),
    pytest.param(zero_strided(np.float64, 24), zero_strided(np.int32, 28), True, id="zero-unaligned-overlap"),
    pytest.param(zero_strided(np.float64, 24), zero_strided(np.int32, 24), True, id="zero-same-start"),
    pytest.param(zero_strided(np.float64, 24), zero_strided(np.int32, 28, 0), False, id="zero-empty-inside"),
    # One zero gcd: the other view's strides decide.
    pytest.param(zero_strided(np.float64, 24), BASE[::2], False, id="zero-and-even-elements"),
    pytest.param(zero_strided(np.float64, 24), BASE[1::2], True, id="zero-and-odd-elements"),
]


@pytest.mark.parametrize("first, second, conflict", VIEW_PAIRS)
def test_conflicts_between_views_of_one_buffer(registry, first, second, conflict):
    expected = CONFLICT if conflict else GRANTED
    for a, b in ((first, second), (second, first)):
        assert registry.acquire_mut(a) == GRANTED
        try:
            assert registry.acquire_mut(b) == expected
            if expected == GRANTED:
                registry.release_mut(b)
            assert registry.acquire(b) == expected
            if expected == GRANTED:
                registry.release(b)
        finally:
            registry.release_mut(a)
        # Shared borrows of both never conflict with each other.
        assert registry.acquire(a) == GRANTED
        assert registry.acquire(b) == GRANTED
        registry.release(a)
        registry.release(b)
    assert registry.is_free(BASE)


def test_base_is_found_through_a_foreign_buffer(registry):
    buffer = bytearray(80)
    whole = np.frombuffer(buffer)
    assert registry.acquire_mut(whole) == GRANTED
    try:
        assert registry.acquire(whole[2:4]) == CONFLICT
        assert registry.acquire(whole[:0]) == GRANTED
        registry.release(whole[:0])
    finally:
        registry.release_mut(whole)
    assert registry.is_free(whole[2:4])


def test_separate_arrays_never_conflict(registry):
    first, second = np.arange(3.0), np.arange(3.0)
    assert registry.acquire_mut(first) == GRANTED
    assert registry.acquire_mut(second) == GRANTED
    registry.release_mut(first)
    registry.release_mut(second)


MANY = 20_000


@pytest.mark.parametrize("held_at", [0, MANY // 2, MANY - 1], ids=["first", "middle", "last"])
def test_exclusive_borrow_among_many_views_of_one_buffer(registry, held_at):
    # Windows of ten values cut from one buffer, as a long-format column
    # is cut into series; another module writes to one slice of them.
    buffer = np.arange(MANY * 10.0)
    windows = [buffer[i * 10 : (i + 1) * 10] for i in range(MANY)]
    held = buffer[held_at * 10 + 3 : held_at * 10 + 5]
    assert registry.acquire_mut(held) == GRANTED
    try:
        data = [{"x": window} for window in windows]
        assert panic_message(lambda: orven.extract_features(data)) == ALREADY_BORROWED
        # Every view but the one that overlaps the written slice is granted.
        others = data[:held_at] + data[held_at + 1 :]
        results = orven.extract_features(others)
        assert len(results) == MANY - 1
        sums = [result["x"]["sum_values"] for result in results]
        assert sums == [float(window.sum()) for window in windows if window is not windows[held_at]]
        # Shared borrows held alongside, many of them, do not hide the
        # exclusive one from a later overlapping request.
        for window in windows[::1000]:
            assert registry.acquire(window) == (CONFLICT if window is windows[held_at] else GRANTED)
        assert registry.acquire(buffer) == CONFLICT
        for window in windows[::1000]:
            if window is not windows[held_at]:
                registry.release(window)
    finally:
        registry.release_mut(held)
    assert registry.is_free(buffer)
    # And a shared borrow among many still blocks an exclusive one.
    for window in windows:
        assert registry.acquire(window) == GRANTED
    try:
        assert registry.acquire_mut(held) == CONFLICT
        assert registry.acquire_mut(buffer[MANY * 10 :]) == GRANTED
        registry.release_mut(buffer[MANY * 10 :])
    finally:
        for window in windows:
            registry.release(window)
    assert registry.is_free(buffer)


# --- Registries met on the multiarray module (each in a fresh process) ---

FAKE_PRELUDE = """
    import numpy as np
    import orven
    from registry_client import ATTRIBUTE, FakeRegistry, multiarray_module

    def panic_message(call):
        try:
            call()
        except BaseException as error:
            assert type(error).__name__ == "PanicException", repr(error)
            return error.args[0]
        raise AssertionError("no PanicException")
"""


def run_with_tests_path(code):
    """Runs `code` after the prelude in a fresh interpreter."""
    tests = str(pathlib.Path(__file__).parent)
    path = f"import sys; sys.path.insert(0, {tests!r})\n"
    return run_python(path + textwrap.dedent(FAKE_PRELUDE) + textwrap.dedent(code))


def test_registry_published_before_ours_is_used():
    run_with_tests_path("""
    fake = FakeRegistry(version=2)
    fake.publish()
    a, b = np.arange(3.0), np.arange(4.0)
    result = orven.extract_features([{"x": a, "y": b}, {"x": a}])
    assert result[1]["x"]["sum_values"] == 3.0
    assert getattr(multiarray_module(), ATTRIBUTE) is fake.capsule
    kinds = [kind for kind, _ in fake.calls]
    assert kinds == ["acquire"] * 3 + ["release"] * 3, kinds
    acquired = sorted(id(array) for kind, array in fake.calls if kind == "acquire")
    released = sorted(id(array) for kind, array in fake.calls if kind == "release")
    assert acquired == released == sorted([id(a), id(b), id(a)])
    """)


@pytest.mark.parametrize("mutation, released", [
    # Nothing about the borrow changed: the foreign registry gets it back.
    ("values", True),
    # The array now sits at another place than the one it was borrowed at:
    # the foreign registry would not know that borrow, so it keeps it.
    ("dtype", False),
    ("strides", False),
])
def test_a_foreign_registry_is_released_what_it_granted(mutation, released):
    CHANGED = ("The array of column 'c' in record 0 changed while the call was reading the data "
               "(its buffer, shape, strides or dtype)")
    run_with_tests_path(f"""
    fake = FakeRegistry()
    fake.publish()
    owner = np.arange(8.0)
    changed, other = owner[:4], np.arange(3.0)

    class Records(list):
        def __iter__(self):
            for index, record in enumerate(list.__iter__(self)):
                if index == 1:
                    if {mutation!r} == "values":
                        owner[7] = 5.0  # beside the view, not in it
                    elif {mutation!r} == "dtype":
                        changed.dtype = np.float32
                    else:
                        changed.strides = (16,)
                yield record

    try:
        outcome = orven.extract_features(Records([{{"c": changed}}, {{"o": other}}]))[0]["c"]["sum_values"]
    except TypeError as error:
        outcome = str(error)  # a changed array is not read
    assert outcome == (6.0 if {released!r} else {CHANGED!r}), outcome
    released = [id(array) for kind, array in fake.calls if kind == "release"]
    assert id(other) in released
    assert (id(changed) in released) == {released!r}, fake.calls
    """)


@pytest.mark.parametrize("code, message", [
    (-1, "called `Result::unwrap()` on an `Err` value: AlreadyBorrowed"),
    (7, "Unexpected return code 7 from borrow checking API"),
    (-2, "Unexpected return code -2 from borrow checking API"),
])
def test_refusals_of_a_foreign_registry(code, message):
    run_with_tests_path(f"""
    fake = FakeRegistry(acquire_result={code})
    fake.publish()
    a = np.arange(3.0)
    assert panic_message(lambda: orven.extract_features([{{"x": a}}])) == {message!r}
    assert [kind for kind, _ in fake.calls] == ["acquire"]
    """)


PREFIX = "Interal borrow checking API error: PyErr { type: "


@pytest.mark.parametrize("setup, message", [
    ("multiarray_module()._RUST_NUMPY_BORROW_CHECKING_API = 3",
     PREFIX + "<class 'TypeError'>, value: TypeError(\"'int' object cannot be cast as 'PyCapsule'\"), "
              "traceback: None }"),
    ("FakeRegistry(name=b'another_name').publish()",
     PREFIX + "<class 'ValueError'>, value: ValueError('PyCapsule_GetPointer called with incorrect name'), "
              "traceback: None }"),
    ("FakeRegistry(version=0).publish()",
     PREFIX + "<class 'TypeError'>, value: TypeError('Version 0 of the borrow checking API is not "
              "supported by this module.'), traceback: None }"),
])
def test_unusable_registries_are_fatal_and_not_cached(setup, message):
    run_with_tests_path(f"""
    {setup}
    a = np.arange(3.0)
    assert panic_message(lambda: orven.extract_features([{{"x": a}}])) == {message!r}
    delattr(multiarray_module(), ATTRIBUTE)
    assert orven.extract_features([{{"x": a}}])[0]["x"]["sum_values"] == 3.0
    from registry_client import Registry
    assert Registry().header.version == 1
    """)


def test_registry_is_published_on_the_first_admitted_array():
    run_with_tests_path("""
    module = multiarray_module()
    assert not hasattr(module, ATTRIBUTE)
    orven.extract_features([{}, {}])
    assert not hasattr(module, ATTRIBUTE)
    try:
        orven.extract_features([{"x": [1.0]}])
    except TypeError:
        pass
    assert not hasattr(module, ATTRIBUTE)
    orven.extract_features([{"x": np.arange(2.0)}])
    from registry_client import Registry
    assert Registry().header.version == 1
    """)
