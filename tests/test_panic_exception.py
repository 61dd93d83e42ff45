"""Fatal errors inside a call: the PanicException that reaches Python, the
failure report on standard error, and the module staying usable."""

import re

import numpy as np
import pytest

import orven
from helpers import BACKTRACE_HINT, MEDIAN_LOCATION, MEDIAN_NAN_MESSAGE, bits, from_bits, run_python

NAN = float("nan")
REPORT = re.compile(
    r"panicked at " + re.escape(MEDIAN_LOCATION) + r":\n" + re.escape(MEDIAN_NAN_MESSAGE) + r"\n"
)
DOC_TAIL = (
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n"
)


def catch(call):
    """Returns ("Exception" | "BaseException" | "nothing", exception)."""
    try:
        try:
            call()
        except Exception as error:  # noqa: BLE001 - the point of the test
            return "Exception", error
    except BaseException as error:
        return "BaseException", error
    return "nothing", None


def with_nan(length, position):
    values = np.arange(float(length))
    values[position] = NAN
    return values


FAILING_INPUTS = {
    "two-elements": lambda: [{"a": np.array([1.0, NAN])}],
    "nan-first": lambda: [{"a": with_nan(50, 0)}],
    "nan-last-of-long": lambda: [{"a": with_nan(5000, 4999)}],
    "nan-in-one-of-many-columns": lambda: [
        {f"c{i}": (with_nan(30, 7) if i == 5 else np.arange(30.0)) for i in range(9)}
    ],
    "nan-in-one-of-many-records": lambda: [
        {"a": with_nan(40, 20) if i == 123 else np.arange(40.0)} for i in range(400)
    ],
    "nan-in-several-records": lambda: [
        {"a": with_nan(10, i % 10) if i % 17 == 0 else np.arange(10.0)} for i in range(200)
    ],
}


@pytest.mark.parametrize("make", FAILING_INPUTS.values(), ids=FAILING_INPUTS.keys())
def test_median_nan_raises_panic_exception(make):
    data = make()
    kind, error = catch(lambda: orven.extract_features(data))
    assert kind == "BaseException", "PanicException must not be caught by `except Exception`"
    assert type(error).__name__ == "PanicException"
    assert type(error).__module__ == "pyo3_runtime"
    assert error.args == (MEDIAN_NAN_MESSAGE,)
    assert str(error) == MEDIAN_NAN_MESSAGE
    # The next call on the same pool runs normally.
    [record] = orven.extract_features([{"a": np.array([4.0, 1.0, 3.0, 2.0])}])
    assert record["a"]["median"] == 2.5


def test_panic_exception_type():
    errors = []
    for _ in range(2):
        _, error = catch(lambda: orven.extract_features([{"a": np.array([NAN, NAN])}]))
        errors.append(error)
    panic_type = type(errors[0])
    assert type(errors[1]) is panic_type, "the type is created once per process"
    assert panic_type.__bases__ == (BaseException,)
    assert not issubclass(panic_type, Exception)
    assert panic_type.__qualname__ == "PanicException"
    doc = panic_type.__doc__
    assert doc.startswith("\n") and doc.endswith(DOC_TAIL)
    assert "\n\n" + DOC_TAIL in doc
    # Not placed in any module's namespace.
    import sys

    assert "pyo3_runtime" not in sys.modules
    assert not hasattr(orven, "PanicException")


def test_nan_alone_is_not_refused():
    lone = from_bits(0xFFF8000000000123)
    [record] = orven.extract_features([{"a": np.array([lone]), "b": np.array([])}])
    # The lone NaN comes back as it is; the empty series' median is the
    # quiet NaN with its sign bit clear.
    assert bits(record["a"]["median"]) == bits(lone)
    assert bits(record["b"]["median"]) == 0x7FF8000000000000


SCRIPT = """
    import sys
    import numpy as np
    import orven

    def mark(text):
        sys.stdout.flush()
        sys.stderr.write("@@" + text + "@@\\n")
        sys.stderr.flush()

    def fail(data):
        try:
            orven.extract_features(data)
        except BaseException as error:
            assert type(error).__name__ == "PanicException", repr(error)
            assert error.args == ({message!r},), error.args
        else:
            raise SystemExit("the call did not fail")

    one = [{{"a": np.array([1.0, float("nan")])}}]
    many = [{{"a": np.array([float(i), float("nan")])}} for i in range(64)]
    mark("first")
    fail(one)
    mark("second")
    fail(one)
    mark("workers")
    fail(many)
    mark("after")
    print(orven.extract_features([{{"a": np.array([1.0, 3.0])}}])[0]["a"]["median"])
"""


def sections(stderr):
    parts = re.split(r"@@(\w+)@@\n", stderr)
    return dict(zip(parts[1::2], parts[2::2]))


@pytest.mark.parametrize(
    "backtrace_setting, hint_expected",
    [(None, True), ("0", True), ("1", False)],
    ids=["unset", "RUST_BACKTRACE=0", "RUST_BACKTRACE=1"],
)
def test_failure_report_on_stderr(backtrace_setting, hint_expected):
    child = run_python(
        SCRIPT.format(message=MEDIAN_NAN_MESSAGE),
        {"RUST_BACKTRACE": backtrace_setting, "RAYON_NUM_THREADS": "2"},
    )
    assert child.stdout.strip() == "2.0"
    parts = sections(child.stderr)
    assert set(parts) == {"first", "second", "workers", "after"}, child.stderr

    # One report per failure, each whole and naming the median's location.
    # On the workers a failing piece skips the rest of its records, so up
    # to one report per failing record.
    assert len(REPORT.findall(parts["first"])) == 1, parts["first"]
    assert len(REPORT.findall(parts["second"])) == 1, parts["second"]
    worker_reports = len(REPORT.findall(parts["workers"]))
    assert 1 <= worker_reports <= 64, parts["workers"]
    assert parts["workers"].count("panicked at") == worker_reports, parts["workers"]
    assert parts["after"] == ""

    # The backtrace hint comes with the first report of the process only.
    assert parts["first"].count(BACKTRACE_HINT) == (1 if hint_expected else 0)
    assert BACKTRACE_HINT not in parts["second"] + parts["workers"]
    if not hint_expected:
        assert "backtrace" in parts["first"].lower()


def test_panic_raised_again_from_python_is_resumed():
    child = run_python(
        """
        import sys
        import numpy as np
        import orven

        try:
            orven.extract_features([{"a": np.array([2.0, float("nan")])}])
        except BaseException as error:
            caught = error

        class Replays:
            def __len__(self):
                return 1

            def __getitem__(self, index):
                raise caught

        sys.stderr.write("@@resume@@\\n")
        sys.stderr.flush()
        try:
            orven.extract_features(Replays())
        except BaseException as error:
            assert type(error) is type(caught), repr(error)
            assert error is not caught
            assert error.args == caught.args, error.args
            print("resumed")
        """
    )
    assert child.stdout.strip() == "resumed"
    after = child.stderr.split("@@resume@@\n", 1)[1]
    assert after.startswith(
        "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
        "Python stack trace below:\n"
    ), after
    assert "Traceback (most recent call last):" in after
    assert "PanicException: " + MEDIAN_NAN_MESSAGE in after
    # Resuming writes no new failure report.
    assert "panicked at" not in after
