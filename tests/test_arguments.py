"""Binding of the one argument `data`, the shapes of `data` that are
accepted (a length the sequence reports is only a hint), and every refusal
of the conversion with its exact text."""

import collections
import sys
import types

import numpy as np
import pytest

import orven
from helpers import FEATURE_ORDER

F = "extract_features()"
GOOD = np.array([1.0, 2.0, 3.0, 4.0])
PREFIX = "argument 'data': "


def exact_type_error(call, text):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert str(info.value) == text
    return info.value


# ------------------------------------------------------------ argument binding

@pytest.mark.parametrize(
    "args, kwargs, text",
    [
        ((), {}, F + " missing 1 required positional argument: 'data'"),
        (([], []), {}, F + " takes 1 positional arguments but 2 were given"),
        (([], [], []), {}, F + " takes 1 positional arguments but 3 were given"),
        # too many positionals is decided before any keyword is looked at
        (([], []), {"datum": 1}, F + " takes 1 positional arguments but 2 were given"),
        (([],), {"data": []}, F + " got multiple values for argument 'data'"),
        ((), {"datum": []}, F + " got an unexpected keyword argument 'datum'"),
        ((), {"Data": []}, F + " got an unexpected keyword argument 'Data'"),
        # keywords are walked in the order given
        ((), {"data": [], "datum": []}, F + " got an unexpected keyword argument 'datum'"),
        ((), {"datum": [], "data": []}, F + " got an unexpected keyword argument 'datum'"),
        (([],), {"datum": [], "data": []}, F + " got an unexpected keyword argument 'datum'"),
        (([],), {"data": [], "datum": []}, F + " got multiple values for argument 'data'"),
        # a keyword whose name is not valid UTF-8 is just another unknown name
        ((), {"\ud800": []}, F + " got an unexpected keyword argument '\ud800'"),
    ],
)
def test_argument_binding_errors(args, kwargs, text):
    exact_type_error(lambda: orven.extract_features(*args, **kwargs), text)


def test_binding_errors_come_before_conversion():
    # `data` is bad too, but the binding error wins.
    exact_type_error(lambda: orven.extract_features("x", "y"),
                     F + " takes 1 positional arguments but 2 were given")


def test_data_by_keyword_works_like_by_position():
    data = [{"a": GOOD}]
    by_position = orven.extract_features(data)
    assert orven.extract_features(data=data) == by_position
    assert orven.extract_features(**{"data": data}) == by_position
    assert by_position[0]["a"]["sum_values"] == 10.0


# ------------------------------------------------------ accepted shapes of data

class IndexedSequence:
    """A sequence by __len__ and __getitem__ only."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]


class SequenceWithBrokenLen(IndexedSequence):
    def __len__(self):
        raise RuntimeError("no length here")


def object_array(items):
    array = np.empty(len(items), dtype=object)
    for i, item in enumerate(items):
        array[i] = item
    return array


@pytest.mark.parametrize(
    "make",
    [
        pytest.param(list, id="list"),
        pytest.param(tuple, id="tuple"),
        pytest.param(object_array, id="object-ndarray"),
        pytest.param(IndexedSequence, id="custom-sequence"),
        pytest.param(SequenceWithBrokenLen, id="sequence-whose-len-fails"),
        pytest.param(collections.deque, id="deque"),
    ],
)
def test_sequences_of_dicts_are_accepted(make):
    records = [{"a": GOOD}, {}, {"b": GOOD[:2], "c": GOOD}]
    result = orven.extract_features(make(records))
    assert type(result) is list
    assert [list(r) for r in result] == [["a"], [], ["b", "c"]]
    assert result[2]["b"]["mean"] == 1.5
    assert list(result[2]["c"]) == list(FEATURE_ORDER)


@pytest.mark.parametrize(
    "data, expected",
    [([], []), ((), []), ([{}], [{}]), ([{}, {}], [{}, {}])],
)
def test_empty_inputs(data, expected):
    assert orven.extract_features(data) == expected


def test_dict_subclasses_are_accepted():
    ordered = collections.OrderedDict([("z", GOOD), ("y", GOOD)])
    default = collections.defaultdict(list, {"x": GOOD})
    result = orven.extract_features([ordered, default])
    assert list(result[0]) == ["z", "y"] and list(result[1]) == ["x"]


# ------------------------------------------------------------ conversion errors

def generator():
    yield {"a": GOOD}


class Outer:
    class Inner:
        pass


REFUSALS = [
    # data itself
    ("str", lambda: "abc", PREFIX + "Can't extract `str` to `Vec`"),
    ("empty-str", lambda: "", PREFIX + "Can't extract `str` to `Vec`"),
    ("str-subclass", lambda: type("S", (str,), {})("x"), PREFIX + "Can't extract `str` to `Vec`"),
    ("dict", lambda: {"a": GOOD}, PREFIX + "'dict' object cannot be cast as 'Sequence'"),
    ("None", lambda: None, PREFIX + "'NoneType' object cannot be cast as 'Sequence'"),
    ("generator", lambda: generator(), PREFIX + "'generator' object cannot be cast as 'Sequence'"),
    ("set", lambda: {1, 2}, PREFIX + "'set' object cannot be cast as 'Sequence'"),
    ("int", lambda: 5, PREFIX + "'int' object cannot be cast as 'Sequence'"),
    ("float-array", lambda: GOOD, PREFIX + "'float64' object cannot be cast as 'dict'"),
    # items
    ("list-item", lambda: [[1.0, 2.0]], PREFIX + "'list' object cannot be cast as 'dict'"),
    ("int-item", lambda: [{"a": GOOD}, 1], PREFIX + "'int' object cannot be cast as 'dict'"),
    ("bytes", lambda: b"ab", PREFIX + "'int' object cannot be cast as 'dict'"),
    ("mappingproxy-item", lambda: [types.MappingProxyType({"a": GOOD})],
     PREFIX + "'mappingproxy' object cannot be cast as 'dict'"),
    # the qualified name of the type, not its bare name
    ("nested-class-item", lambda: [Outer.Inner()],
     PREFIX + "'Outer.Inner' object cannot be cast as 'dict'"),
    # keys
    ("int-key", lambda: [{1: GOOD}], PREFIX + "'int' object cannot be cast as 'str'"),
    ("bytes-key", lambda: [{b"a": GOOD}], PREFIX + "'bytes' object cannot be cast as 'str'"),
    ("None-key", lambda: [{"a": GOOD, None: GOOD}], PREFIX + "'NoneType' object cannot be cast as 'str'"),
    # values
    ("list-value", lambda: [{"a": [1.0, 2.0]}], PREFIX + "'list' object cannot be cast as 'ndarray'"),
    ("float-value", lambda: [{"a": 1.0}], PREFIX + "'float' object cannot be cast as 'ndarray'"),
    ("None-value", lambda: [{"a": None}], PREFIX + "'NoneType' object cannot be cast as 'ndarray'"),
    ("2d", lambda: [{"a": np.zeros((2, 3))}], PREFIX + "'ndarray' object cannot be cast as 'ndarray'"),
    ("2d-one-row", lambda: [{"a": np.zeros((1, 3))}], PREFIX + "'ndarray' object cannot be cast as 'ndarray'"),
    ("0d", lambda: [{"a": np.array(1.0)}], PREFIX + "'ndarray' object cannot be cast as 'ndarray'"),
    ("float32", lambda: [{"a": GOOD.astype(np.float32)}], PREFIX + "'ndarray' object cannot be cast as 'ndarray'"),
    ("int64", lambda: [{"a": np.arange(4)}], PREFIX + "'ndarray' object cannot be cast as 'ndarray'"),
    ("object", lambda: [{"a": GOOD.astype(object)}], PREFIX + "'ndarray' object cannot be cast as 'ndarray'"),
    ("complex", lambda: [{"a": GOOD.astype(complex)}], PREFIX + "'ndarray' object cannot be cast as 'ndarray'"),
    ("byte-swapped", lambda: [{"a": GOOD.astype(">f8")}], PREFIX + "'ndarray' object cannot be cast as 'ndarray'"),
    ("float64-scalar", lambda: [{"a": np.float64(1.0)}], PREFIX + "'float64' object cannot be cast as 'ndarray'"),
    # the first refusal in walk order decides: key before its value
    ("bad-key-before-bad-value", lambda: [{"a": GOOD, 2: "not an array"}],
     PREFIX + "'int' object cannot be cast as 'str'"),
    ("bad-value-before-bad-key", lambda: [{"a": "x", 2: GOOD}],
     PREFIX + "'str' object cannot be cast as 'ndarray'"),
    ("bad-item-after-bad-value", lambda: [{"a": 1}, 5], PREFIX + "'int' object cannot be cast as 'ndarray'"),
]


@pytest.mark.parametrize("make, text", [r[1:] for r in REFUSALS], ids=[r[0] for r in REFUSALS])
def test_conversion_refusals(make, text):
    exact_type_error(lambda: orven.extract_features(make()), text)


def test_lone_surrogate_key_raises_unicode_encode_error_unprefixed():
    with pytest.raises(UnicodeEncodeError) as info:
        orven.extract_features([{"ok": GOOD, "bad\ud800": GOOD}])
    assert not str(info.value).startswith(PREFIX)
    assert "surrogate" in str(info.value)


# --------------------------------------------------------- the contiguity rule

STRIDED = np.arange(10.0)[::2]
REVERSED = np.arange(10.0)[::-1]
NOT_CONTIGUOUS = "The given array is not contiguous"


@pytest.mark.parametrize(
    "data, exception, text",
    [
        pytest.param([{"a": STRIDED}], TypeError, NOT_CONTIGUOUS, id="strided"),
        pytest.param([{"a": REVERSED}], TypeError, NOT_CONTIGUOUS, id="reversed"),
        pytest.param([{"a": GOOD, "b": STRIDED}, {"c": GOOD}], TypeError, NOT_CONTIGUOUS,
                     id="after-good-items"),
        pytest.param([{"a": np.arange(12.0).reshape(3, 4)[:, 0]}], TypeError, NOT_CONTIGUOUS,
                     id="column-of-2d"),
        # every item is converted before any array is viewed, so a later
        # conversion error is reported instead (and it has the prefix)
        pytest.param([{"a": STRIDED}, 7], TypeError, PREFIX + "'int' object cannot be cast as 'dict'",
                     id="later-bad-item-wins"),
        pytest.param([{"a": STRIDED}, {"b": np.zeros(3, np.float32)}], TypeError,
                     PREFIX + "'ndarray' object cannot be cast as 'ndarray'", id="later-bad-value-wins"),
        pytest.param([{"a": STRIDED}, {5: GOOD}], TypeError,
                     PREFIX + "'int' object cannot be cast as 'str'", id="later-bad-key-wins"),
        pytest.param([{"a": STRIDED}, {"b\udfff": GOOD}], UnicodeEncodeError, None,
                     id="later-unicode-error-wins"),
    ],
)
def test_contiguity_is_checked_after_all_items_are_converted(data, exception, text):
    with pytest.raises(exception) as info:
        orven.extract_features(data)
    assert type(info.value) is exception
    if text is not None:
        assert str(info.value) == text


def test_stepped_view_of_length_one_is_contiguous():
    view = np.arange(10.0)[3:4:5]
    [record] = orven.extract_features([{"a": view}])
    assert record["a"]["sum_values"] == 3.0


# ------------------------------------------------- errors raised by iteration

class Boom(TypeError):
    pass


class RaisingSequence:
    def __init__(self, error):
        self.error = error

    def __len__(self):
        return 2

    def __getitem__(self, index):
        if index == 0:
            return {"a": GOOD}
        raise self.error


def test_exact_type_error_from_iteration_is_prefixed_and_keeps_its_cause():
    cause = ValueError("root cause")
    error = TypeError("boom")
    error.__cause__ = cause
    raised = exact_type_error(lambda: orven.extract_features(RaisingSequence(error)), PREFIX + "boom")
    assert raised is not error
    assert raised.__cause__ is cause


@pytest.mark.parametrize(
    "error",
    [Boom("subclass passes unchanged"), ValueError("not a type error"), KeyError("k")],
    ids=["TypeError-subclass", "ValueError", "KeyError"],
)
def test_other_errors_from_iteration_pass_unchanged(error):
    with pytest.raises(type(error)) as info:
        orven.extract_features(RaisingSequence(error))
    assert info.value is error


def test_calls_after_errors_still_work():
    for bad in ("abc", [{"a": STRIDED}], [{1: GOOD}], None):
        with pytest.raises(TypeError):
            orven.extract_features(bad)
    assert orven.extract_features([{"a": GOOD}])[0]["a"]["maximum"] == 4.0


# ------------------------------------- a reported length is only a hint


class Boasting:
    """Claims an absurd length but holds one record."""

    def __init__(self, length):
        self.length = length

    def __len__(self):
        return self.length

    def __getitem__(self, index):
        if index > 0:
            raise IndexError(index)
        return {"a": np.array([1.0, 2.0])}


@pytest.mark.parametrize("length", [10**15, 2**62, sys.maxsize, 0])
def test_absurd_lengths_do_not_end_the_process(length):
    [record] = orven.extract_features(Boasting(length))
    assert record["a"]["sum_values"] == 3.0
