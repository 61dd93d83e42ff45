"""Caller code that runs in the middle of a call and works against it:
arrays changed after they were admitted, containers that lie, mutation and
re-entry mid-call, unaligned memory, names that fail to render.  Whatever
the caller does, the call computes on what it admitted or raises an ordinary
exception, never reads outside the admitted bytes, never aborts, and leaves
nothing borrowed.  Each case that could crash runs in a fresh interpreter."""

import gc

import numpy as np
import pytest

import orven
from helpers import MEDIAN_NAN_MESSAGE, as_bits, run_python

# ------------------------------------------- arrays changed after admission

# The child builds `target` (the array admitted), `owner` (the array owning
# its memory) and `original` (the values admitted), changes one of them from
# a hook between the first record and the rest, and reports the outcome.
CHANGED_ARRAY = """
    import numpy as np
    import orven
    from helpers import records_running
    from registry_client import Registry

    MUTATION = {mutation!r}
    HOOK = {hook!r}
    REFUSED_LATER = {refused_later!r}

    calling = False
    owner = np.array([1.0, 5.0, -2.0, 4.0, 0.5, 7.0, 3.0, -1.0])
    if MUTATION in ("strides", "owner-resize"):
        target = owner[:4]
    else:
        target = owner.copy() if MUTATION == "resize" else owner[:4].copy()
        owner = target
    original = target.tolist()
    fired = []

    def mutate():
        fired.append(calling)
        if MUTATION == "dtype":
            target.dtype = np.float32
        elif MUTATION == "strides":
            target.strides = (16,)
        elif MUTATION == "shape":
            target.shape = (2, len(original) // 2)
        elif MUTATION == "resize":
            target.resize(1 << 20, refcheck=False)
        elif MUTATION == "owner-resize":
            owner.resize(1 << 20, refcheck=False)

    records = [{{"x": target}}, {{"y": np.arange(3.0)}}]
    if REFUSED_LATER:
        records.append({{"z": [1.0, 2.0]}})

    if HOOK == "list-subclass-iter":
        data = records_running(records, mutate, "iter")
    elif HOOK == "sequence-getitem":
        class Records:
            def __len__(self):
                return len(records)
            def __getitem__(self, index):
                if index == 1:
                    mutate()
                return records[index]
        data = Records()
    elif HOOK == "finaliser":
        data = records_running(records, mutate, "finaliser")

    calling = True
    try:
        orven.extract_features(data)
    except Exception as error:
        outcome = type(error).__name__ + ": " + str(error)
    else:
        outcome = "a result"
    finally:
        calling = False
    assert fired == [True], "the hook did not run in the middle of the call: " + repr(fired)
    registry = Registry()
    assert registry.is_free(owner), "the owner stays borrowed"
    assert registry.is_free(target), "the changed array stays borrowed"
    [again] = orven.extract_features([{{"x": np.array(original)}}])
    assert again["x"]["sum_values"] == sum(original)
    print("OUTCOME", outcome)
"""

HOOKS = ["list-subclass-iter", "sequence-getitem", "finaliser"]
CHANGED_ARRAY_CASES = [
    pytest.param(mutation, hook, refused_later, id=f"{mutation}-{hook}-{'refused' if refused_later else 'computed'}")
    for mutation in ("dtype", "strides", "shape", "resize", "owner-resize")
    for hook in HOOKS
    for refused_later in (False, True)
]
# A refusal met while converting the data comes first; else the changed
# array is refused before anything reads it (a resize without the reference
# check has freed its memory).
REFUSED_LATER_TEXT = "TypeError: argument 'data': 'list' object cannot be cast as 'ndarray'"
CHANGED_TEXT = ("TypeError: The array of column 'x' in record 0 changed while the call was "
                "reading the data (its buffer, shape, strides or dtype)")


@pytest.mark.parametrize("mutation, hook, refused_later", CHANGED_ARRAY_CASES)
def test_an_array_changed_after_admission(mutation, hook, refused_later):
    child = run_python(
        CHANGED_ARRAY.format(mutation=mutation, hook=hook, refused_later=refused_later),
        timeout=60,
        check=False,
    )
    expected = REFUSED_LATER_TEXT if refused_later else CHANGED_TEXT
    assert child.returncode == 0 and f"OUTCOME {expected}\n" in child.stdout, (
        f"exit {child.returncode}\n--- stdout ---\n{child.stdout}\n--- stderr ---\n{child.stderr[-3000:]}"
    )


# ------------------------------------------------------------ unaligned memory

def unaligned(values, offset):
    """A contiguous float64 array whose data sits `offset` bytes off an
    eight-byte boundary (NumPy's ALIGNED flag false)."""
    buffer = bytearray(8 * len(values) + 8)
    start = offset - (np.frombuffer(buffer, np.uint8).ctypes.data % 8)
    start %= 8
    array = np.ndarray((len(values),), "<f8", buffer=buffer, offset=start)
    array[...] = values
    return array


UNALIGNED = """
    import numpy as np
    import orven
    from helpers import as_bits
    from test_hostile_input import unaligned

    rng = np.random.default_rng(5)
    for length in (1, 2, 3, 4, 5, 7, 8, 9, 16, 31, 64, 257, 4099):
        for offset in (1, 2, 3, 4, 7):
            values = rng.normal(size=length) * 10.0 ** rng.integers(-300, 300, size=length)
            values[:: 5] = -0.0
            array = unaligned(values, offset)
            assert not array.flags.aligned and array.flags.c_contiguous
            got = orven.extract_features([{"u": array, "a": np.array(values)}])
            [record] = as_bits(got)
            assert record["u"] == record["a"], (length, offset)
    print("DONE")
"""


def test_unaligned_arrays_give_the_values_of_an_aligned_copy():
    # Run apart: reading them as aligned doubles is undefined behaviour, which
    # the sanitizer build turns into the end of the process.
    child = run_python(UNALIGNED, timeout=120, check=False)
    assert child.returncode == 0 and "DONE" in child.stdout, child.stderr[:1500]


# ------------------------------------------------- names that fail to render

KEYWORD_NAME = """
    import numpy as np
    import orven

    try:
        orven.extract_features([{{"a": np.array([1.0, np.nan])}}])
    except BaseException as caught:
        panic = caught
    problem = {{"panic": panic, "value-error": ValueError("no text"), "recursion": RecursionError()}}[{kind!r}]

    class Name(str):
        def __str__(self):
            raise problem
        def __repr__(self):
            raise problem

    try:
        orven.extract_features([], **{{Name("bogus"): 1}})
    except BaseException as error:
        chain = []
        while error is not None:
            chain.append(type(error).__name__)
            error = error.__context__ or error.__cause__
        print("RAISED", " ".join(chain))
    else:
        print("NOT RAISED")
    assert orven.extract_features([{{"a": np.arange(3.0)}}])[0]["a"]["sum_values"] == 3.0
"""


@pytest.mark.parametrize("kind", ["panic", "value-error", "recursion"])
def test_a_keyword_name_that_cannot_be_rendered_raises_instead_of_aborting(kind):
    child = run_python(KEYWORD_NAME.format(kind=kind), timeout=60, check=False)
    assert child.returncode == 0, f"exit {child.returncode}\n{child.stderr[-3000:]}"
    assert "NOT RAISED" not in child.stdout
    raised = child.stdout.split("RAISED", 1)[1].split()
    expected = {"panic": "PanicException", "value-error": "ValueError", "recursion": "RecursionError"}[kind]
    assert raised[0] in ("TypeError", expected), raised
    # The error of the rendering replaces the TypeError or accompanies it as
    # its context; an ordinary one may instead go to the unraisable hook,
    # but it is never lost.
    if kind == "panic":
        assert expected in raised, raised
    else:
        assert expected in raised or expected in child.stderr, (raised, child.stderr)


# --------------------------------------------------- containers that lie

class LyingLength:
    """A sequence whose length says one thing and whose items another."""

    def __init__(self, records, length):
        self.records, self.length = records, length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, index):
        return self.records[index]


RECORDS = [{"a": np.arange(5.0)}, {"b": np.array([2.0, -0.0, 8.0])}, {}]


@pytest.mark.parametrize(
    "length",
    [0, 1, 2**62, 2**63 - 1, ValueError("no length"), OverflowError("too long")],
    ids=["zero", "one", "huge", "max", "raising", "overflow"],
)
def test_a_length_that_lies_changes_nothing(length):
    want = as_bits(orven.extract_features(RECORDS))
    assert as_bits(orven.extract_features(LyingLength(RECORDS, length))) == want


class Stop(BaseException):
    pass


@pytest.mark.parametrize("stop", [KeyboardInterrupt, SystemExit, Stop], ids=lambda t: t.__name__)
def test_a_length_that_raises_to_stop_is_not_taken_for_a_missing_hint(stop):
    # A Ctrl-C that lands in __len__ must stop the call like anywhere else.
    raised = stop("from __len__")
    with pytest.raises(stop) as caught:
        orven.extract_features(LyingLength(RECORDS, raised))
    assert caught.value is raised


def test_a_negative_length_is_refused_like_python_refuses_it():
    with pytest.raises(ValueError, match="__len__"):
        len(LyingLength(RECORDS, -1))
    # The length is only a hint: either the same refusal or the records.
    try:
        result = orven.extract_features(LyingLength(RECORDS, -1))
    except ValueError:
        return
    assert as_bits(result) == as_bits(orven.extract_features(RECORDS))


class Shrinking(list):
    """A list that changes under its own iteration."""

    def __init__(self, records, change):
        super().__init__(records)
        self.change = change

    def __iter__(self):
        index = 0
        while index < len(self):
            if index == 1:
                self.change(self)
                if index >= len(self):
                    return
            yield list.__getitem__(self, index)
            index += 1


LIST_CHANGES = {
    "cleared": (lambda s: s.clear(), 1),
    "appended": (lambda s: s.append({"late": np.ones(2)}), 4),
    "replaced": (lambda s: s.__setitem__(1, {"new": np.ones(4)}), 3),
}


@pytest.mark.parametrize("change, records", LIST_CHANGES.values(), ids=LIST_CHANGES.keys())
def test_a_list_changed_mid_call_gives_the_records_iteration_saw(change, records):
    data = Shrinking(list(RECORDS), change)
    result = orven.extract_features(data)
    assert len(result) == records
    assert result[0]["a"]["sum_values"] == 10.0
    gc.collect()


class OwnHash(str):
    """A str whose hash and equality are its own, so that a dict can hold it
    beside another key of the same text."""

    def __hash__(self):
        return id(self)

    def __eq__(self, other):
        return self is other


@pytest.mark.parametrize("first, second", [(OwnHash, OwnHash), (str, OwnHash), (OwnHash, str)],
                         ids=["both-own", "str-then-own", "own-then-str"])
def test_two_keys_with_the_same_text_are_refused(first, second):
    from registry_client import Registry

    arrays = [np.arange(3.0), np.arange(4.0), np.arange(5.0)]
    record = {first("b"): arrays[0], "a": arrays[1], second("b"): arrays[2]}
    assert len(record) == 3
    with pytest.raises(TypeError) as caught:
        orven.extract_features([{"c": np.ones(2)}, record])
    assert str(caught.value) == "argument 'data': record 1 has two keys with the text 'b'"
    registry = Registry()
    assert all(registry.is_free(array) for array in arrays)


class SubDict(dict):
    def __iter__(self):
        raise AssertionError("a dict is walked, not iterated")

    def items(self):
        raise AssertionError("a dict is walked, not asked for items")


def test_dict_and_list_subclasses_are_read_as_what_they_hold():
    class SubList(list):
        pass

    data = SubList([SubDict(a=np.arange(4.0)), SubDict()])
    result = orven.extract_features(data)
    assert [list(r) for r in result] == [["a"], []]
    assert result[0]["a"]["median"] == 1.5


# ------------------------------------------------------------- re-entry

REENTRANT = """
    import numpy as np
    import orven
    from helpers import records_running

    inner = []
    calling = False

    def reenter():
        inner.append((calling, orven.extract_features([{{"i": np.arange(4.0)}}])[0]["i"]["sum_values"]))

    records = [{{"a": np.arange(5.0)}}, {{"b": np.arange(3.0)}}]
    calling = True
    result = orven.extract_features(records_running(records, reenter, {hook!r}))
    calling = False
    # Both calls give their own values: the inner one runs while the outer
    # one is still reading its data, and shares nothing with it.
    assert [r[k]["sum_values"] for r, k in zip(result, "ab")] == [10.0, 3.0]
    assert inner == [(True, 6.0)], inner
    assert orven.extract_features([{{"a": np.arange(3.0)}}])[0]["a"]["sum_values"] == 3.0
    print("DONE")
"""


@pytest.mark.parametrize("hook", ["iter", "finaliser"])
def test_a_call_made_from_inside_a_call(hook):
    child = run_python(REENTRANT.format(hook=hook), timeout=60, check=False)
    assert child.returncode == 0 and "DONE" in child.stdout, f"exit {child.returncode}\n{child.stderr[-3000:]}"


def test_dicts_changed_mid_call_give_what_each_held_when_it_was_read():
    first = {"a": np.arange(5.0), "b": np.ones(2)}
    later = {"c": np.arange(3.0)}

    class Records(list):
        def __iter__(self):
            for index, record in enumerate(list.__iter__(self)):
                if index == 1:
                    # The first record was read already, the last not yet.
                    del first["b"]
                    first["new"] = np.ones(7)
                    later["c"] = np.arange(4.0)
                    later["d"] = np.full(2, 2.5)
                yield record

    result = orven.extract_features(Records([first, {}, later]))
    assert [list(r) for r in result] == [["a", "b"], [], ["c", "d"]]
    assert result[0]["b"]["sum_values"] == 2.0
    assert result[2]["c"]["sum_values"] == 6.0 and result[2]["d"]["mean"] == 2.5
