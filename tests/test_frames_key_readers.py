"""Key columns the native readers take apart from the interpreter: object
columns of str (read by content, in code point order, lone surrogates and
characters beyond the BMP among them), anything else in an object column
(read by the interpreter instead), and floats (-0.0 equals 0.0, NaN is a
null).  Each column is grouped as Python's sorted() and == group it, at a
size one task codes and at one of many tasks and many distinct values."""

import numpy as np
import pytest

import orven_frames

CHARACTERS = ["a", "z", "é", "ÿ", "Ā", "\u07ff", "\u0800", "\ud7ff", "\ud800", "\udbff", "\udc00", "\udfff",
              "\ue000", "\uffff", "\U00010000", "\U0001f600", "\U0010ffff", "\x00", "sensor_"]


class Text(str):
    """A str subclass: the column then goes to the interpreter's reader."""


def random_texts(rng, count):
    return ["".join(rng.choice(CHARACTERS, int(rng.integers(0, 5)))) for _ in range(count)]


def column(kind, rng, distinct, rows):
    if kind in ("str", "str with a subclass", "str with an int"):
        values = list(dict.fromkeys(random_texts(rng, distinct)))
        if kind == "str with a subclass":
            values[0] = Text(values[0])
        elif kind == "str with an int":
            values[0] = 7
        array = np.empty(len(values), dtype=object)
        array[:] = values
    else:
        values = rng.normal(0, 1, distinct).round(int(rng.integers(0, 4)))
        values[:4] = [-0.0, 0.0, np.inf, -np.inf]
        array = values
    return array[rng.integers(0, len(array), rows)]


@pytest.mark.parametrize("kind", ["str", "str with a subclass", "str with an int", "float", "float with NaN"])
@pytest.mark.parametrize("distinct, rows", [(50, 1_000), (100_000, 300_000)])
def test_keys_group_and_sort_as_python_does(kind, distinct, rows):
    rng = np.random.default_rng(distinct + len(kind))
    keys = column(kind, rng, distinct, rows)
    if kind == "float with NaN":
        keys[rows // 2] = np.nan
    frame = {"key": keys, "value": np.ones(rows)}
    if kind == "str with an int":
        with pytest.raises(TypeError, match="holds values that cannot be put in order"):
            orven_frames.extract_features(frame, id="key", value="value")
        return
    if kind == "float with NaN":
        with pytest.raises(ValueError, match="id column 'key' holds a null"):
            orven_frames.extract_features(frame, id="key", value="value")
        return
    table = orven_frames.extract_features(frame, id="key", value="value")
    counts = {}
    for key in keys.tolist():
        counts[key] = counts.get(key, 0) + 1
    expected = sorted(counts)
    assert table["key"].tolist() == expected
    assert table["length"].tolist() == [counts[k] for k in expected]
