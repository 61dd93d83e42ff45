"""How failures become Python exceptions: the PyErr rendering inside fatal
messages, placeholders for objects that cannot be printed, type names in
cast errors, and which exceptions coming back from Python are resumed as
the fatal failure they were."""

import json
import os
import sys

import numpy as np
import pytest

import orven
from helpers import MEDIAN_NAN_MESSAGE, run_python

TESTS_DIR = os.path.dirname(os.path.abspath(__file__))
GOOD = np.array([1.0, 2.0])
PREFIX = "argument 'data': "
BANNER = (
    "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n"
)


class RaisingSequence:
    """A sequence of one dict whose __len__ or __getitem__ raises `error`."""

    def __init__(self, error, where="__getitem__"):
        self.error = error
        self.where = where

    def __len__(self):
        if self.where == "__len__":
            raise self.error
        return 1

    def __getitem__(self, index):
        if self.where == "__getitem__":
            raise self.error
        if index > 0:
            raise IndexError(index)
        return {"a": GOOD}


def real_panic():
    try:
        orven.extract_features([{"a": np.array([1.0, float("nan")])}])
    except BaseException as error:  # noqa: BLE001 - PanicException is the point
        return error
    raise AssertionError("the NaN median did not fail")


# ------------------------------------------------------- the PyErr rendering

# The first use of NumPy fails inside a child, and the fatal message carries
# the rendering of the import error.  The fake NumPy's one line holds a
# double quote and a backslash, which the traceback field must escape.
BROKEN_NUMPY_SOURCE = "raise RuntimeError('no \"numpy\" here\\tsorry')\n"

FIRST_ARRAY_USE = """
    import json, sys
    {setup}
    import orven
    try:
        orven.extract_features([{{"a": [1.0]}}])
    except BaseException as error:
        print(json.dumps([type(error).__name__, error.args]))
    print(json.dumps(getattr(sys, "unraisable_seen", None)))
"""


def broken_numpy_path(tmp_path):
    package = tmp_path / "numpy"
    package.mkdir()
    (package / "__init__.py").write_text(BROKEN_NUMPY_SOURCE)
    return str(package / "__init__.py")


def first_array_use(*setup_lines):
    child = run_python(FIRST_ARRAY_USE.format(setup="\n    ".join(setup_lines)))
    outcome, unraisable = (json.loads(line) for line in child.stdout.splitlines())
    name, args = outcome
    assert name == "PanicException", child.stderr
    assert len(args) == 1
    return args[0], unraisable, child.stderr


def test_rendering_with_a_traceback_escapes_it_as_a_quoted_string(tmp_path):
    path = broken_numpy_path(tmp_path)
    message, _, stderr = first_array_use(f"sys.path.insert(0, {str(tmp_path)!r})")
    assert message == (
        "Failed to access NumPy array API capsule: PyErr { type: <class 'RuntimeError'>, "
        "value: RuntimeError('no \"numpy\" here\\tsorry'), "
        'traceback: Some("Traceback (most recent call last):\\n  File \\"' + path
        + '\\", line 1, in <module>\\n'
        '    raise RuntimeError(\'no \\"numpy\\" here\\\\tsorry\')\\n") }'
    )
    # The same text is the failure report's message.
    assert "\n" + message + "\n" in stderr


def test_rendering_without_a_traceback():
    message, _, _ = first_array_use("sys.modules['numpy'] = None")
    assert message == (
        "Failed to access NumPy array API capsule: PyErr { "
        "type: <class 'ModuleNotFoundError'>, "
        "value: ModuleNotFoundError('import of numpy halted; None in sys.modules'), "
        "traceback: None }"
    )


def test_unformattable_traceback_goes_to_the_unraisable_hook(tmp_path):
    broken_numpy_path(tmp_path)
    message, unraisable, _ = first_array_use(
        f"sys.path.insert(0, {str(tmp_path)!r})",
        "def hook(report):",
        "    sys.unraisable_seen = [report.exc_type.__name__, type(report.object).__name__]",
        "sys.unraisablehook = hook",
        "sys.modules['traceback'] = None",
    )
    prefix = (
        "Failed to access NumPy array API capsule: PyErr { type: <class 'RuntimeError'>, "
        "value: RuntimeError('no \"numpy\" here\\tsorry'), "
        'traceback: Some("<unformattable <traceback object at 0x'
    )
    assert message.startswith(prefix), message
    assert message.endswith('>>") }'), message
    assert unraisable == ["ModuleNotFoundError", "traceback"]


# ------------------------------------------------ objects inside messages


class Unprintable:
    def __str__(self):
        raise ValueError("no text for you")


def test_unprintable_argument_error_gets_a_placeholder(monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    original = TypeError(Unprintable())
    with pytest.raises(TypeError) as info:
        orven.extract_features(RaisingSequence(original))
    assert type(info.value) is TypeError
    assert str(info.value) == PREFIX + "<unprintable TypeError object>"
    assert info.value is not original
    # The wrapped error shows neither a cause nor the discarded original.
    assert info.value.__cause__ is None and info.value.__suppress_context__
    assert [(report.exc_type, report.object) for report in seen] == [(ValueError, original)]


def test_argument_error_text_keeps_lone_surrogates():
    with pytest.raises(TypeError) as info:
        orven.extract_features(RaisingSequence(TypeError("bad \ud800 text")))
    assert str(info.value) == PREFIX + "bad \ud800 text"


# ---------------------------------------------------- type names in cast errors


class Outer:
    class Inner:
        pass


Lone = type("Lone", (), {})
Lone.__qualname__ = "Lone\ud800Name"


@pytest.mark.parametrize(
    "data, text",
    [
        (Outer.Inner(), "'Outer.Inner' object cannot be cast as 'Sequence'"),
        ([Outer.Inner()], "'Outer.Inner' object cannot be cast as 'dict'"),
        ([{Outer.Inner(): GOOD}], "'Outer.Inner' object cannot be cast as 'str'"),
        ([{"a": Outer.Inner()}], "'Outer.Inner' object cannot be cast as 'ndarray'"),
        # A qualified name that has no UTF-8 form is converted lossily.
        ([Lone()], "'Lone\ufffd\ufffd\ufffdName' object cannot be cast as 'dict'"),
    ],
    ids=["Sequence", "dict", "str", "ndarray", "lossy"],
)
def test_cast_errors_name_the_qualified_type_name(data, text):
    with pytest.raises(TypeError) as info:
        orven.extract_features(data)
    assert type(info.value) is TypeError
    assert str(info.value) == PREFIX + text


# ----------------------------------------- PanicExceptions coming back from Python


def test_like_named_exception_of_another_module_is_not_resumed(capfd):
    ours = type(real_panic())
    capfd.readouterr()
    lookalike = type("PanicException", (BaseException,), {"__module__": "pyo3_runtime"})
    error = lookalike("not from this process")
    with pytest.raises(BaseException) as info:
        orven.extract_features(RaisingSequence(error))
    assert info.value is error and type(info.value) is not ours
    assert "resuming a panic" not in capfd.readouterr().err


def test_panic_from_a_length_that_would_be_ignored_is_still_resumed():
    # A failing __len__ is normally ignored (it only sizes a reservation),
    # but a PanicException of ours is the earlier failure continuing.
    child = run_python(
        f"""
        import sys
        import numpy as np
        import orven
        sys.path.insert(0, {TESTS_DIR!r})
        from test_failure_translation import RaisingSequence, real_panic

        caught = real_panic()
        sys.stderr.write("@@resume@@\\n")
        sys.stderr.flush()
        try:
            orven.extract_features(RaisingSequence(caught, where="__len__"))
        except BaseException as error:
            print(type(error) is type(caught), error is caught, error.args == caught.args)
        print(orven.extract_features(RaisingSequence(ValueError(), where="__len__"))[0]["a"]["sum_values"])
        """
    )
    assert child.stdout.split() == ["True", "False", "True", "3.0"]
    after = child.stderr.split("@@resume@@\n", 1)[1]
    assert after.startswith(BANNER), after
    assert after.rstrip().endswith("PanicException: " + MEDIAN_NAN_MESSAGE)
    assert "panicked at" not in after
