"""How NumPy arrays are taken in: which arrays are admitted and read in
place, how NumPy and its array API are reached, and what happens when they
cannot be."""

import sys

import numpy as np
import pytest

import orven
from helpers import run_python

NUMPY_MAJOR = int(np.__version__.split(".")[0])
CORE = "numpy._core" if NUMPY_MAJOR >= 2 else "numpy.core"


def features(array):
    return orven.extract_features([{"x": array}])[0]["x"]


class Float64Subclass(np.ndarray):
    pass


# Admitted arrays, with the data the statistics must see.
ADMITTED = [
    pytest.param(lambda: np.array([3.0, -1.0, 2.5]), [3.0, -1.0, 2.5], id="plain"),
    pytest.param(lambda: np.array([], dtype=np.float64), [], id="empty"),
    pytest.param(lambda: np.array([1.0, 2.0, 3.0]).view(Float64Subclass), [1.0, 2.0, 3.0], id="subclass"),
    # The raw buffer is read: masked values count.
    pytest.param(lambda: np.ma.masked_array([1.0, 20.0, 3.0], mask=[False, True, False]),
                 [1.0, 20.0, 3.0], id="masked-array"),
    pytest.param(lambda: np.arange(12.0)[4:7], [4.0, 5.0, 6.0], id="offset-slice"),
    pytest.param(lambda: np.arange(12.0)[5::4][:1], [5.0], id="stepped-length-one"),
    pytest.param(lambda: np.asfortranarray(np.arange(3.0)), [0.0, 1.0, 2.0], id="fortran-order"),
    pytest.param(lambda: np.arange(12.0).reshape(3, 4)[1], [4.0, 5.0, 6.0, 7.0], id="row-of-2d"),
    pytest.param(lambda: np.array([1.0, 2.0], dtype="=f8"), [1.0, 2.0], id="explicit-native-order"),
]


@pytest.mark.parametrize("make, values", ADMITTED)
def test_admitted_arrays_are_read_in_place(make, values):
    array = make()
    result = features(array)
    assert result["length"] == float(len(values))
    assert result["sum_values"] == sum(values, -0.0)
    if values:
        assert (result["minimum"], result["maximum"]) == (min(values), max(values))


def test_read_only_array_is_admitted():
    array = np.array([2.0, 4.0])
    array.flags.writeable = False
    assert features(array)["mean"] == 3.0


def test_array_data_is_not_copied_and_references_are_kept_balanced():
    array = np.array([1.0, 2.0, 3.0])
    before = sys.getrefcount(array)
    first = orven.extract_features([{"a": array, "b": array}, {"a": array}])
    array[0] = 10.0
    second = features(array)
    assert (first[0]["b"]["sum_values"], second["sum_values"]) == (6.0, 15.0)
    assert sys.getrefcount(array) == before


@pytest.mark.parametrize("make", [
    pytest.param(lambda: np.arange(6.0)[::-1], id="reversed"),
    pytest.param(lambda: np.arange(6.0)[::2], id="stepped"),
    pytest.param(lambda: np.arange(12.0).reshape(3, 4)[:, 1], id="column-of-2d"),
])
def test_non_contiguous_arrays_pass_intake_and_fail_at_view_time(make):
    array = make()
    with pytest.raises(TypeError) as caught:
        orven.extract_features([{"x": array}])
    assert str(caught.value) == "The given array is not contiguous"


# --- Reaching NumPy (each in a fresh process: the lookups happen once) ---

def test_calls_without_values_never_import_numpy():
    run_python("""
    import sys
    import orven
    assert orven.extract_features([]) == []
    assert orven.extract_features([{}, {}]) == [{}, {}]
    assert not any(name == "numpy" or name.startswith("numpy.") for name in sys.modules)
    """)


def test_the_multiarray_module_of_the_running_numpy_is_used():
    run_python("""
    import sys
    import numpy as np
    import orven
    orven.extract_features([{"x": np.arange(2.0)}])
    assert hasattr(sys.modules["%s.multiarray"], "_RUST_NUMPY_BORROW_CHECKING_API")
    if %d >= 2:
        assert not any(name == "numpy.core" or name.startswith("numpy.core.") for name in sys.modules)
    """ % (CORE, NUMPY_MAJOR))


NUMPY_FAILURE = "Failed to access NumPy array API capsule: PyErr { type: "


@pytest.mark.parametrize("break_numpy, restore, message_start", [
    pytest.param("sys.modules['numpy'] = None", "del sys.modules['numpy']",
                 NUMPY_FAILURE + "<class 'ModuleNotFoundError'>, value: ModuleNotFoundError(",
                 id="numpy-missing"),
    pytest.param("import numpy; saved = numpy.__version__; numpy.__version__ = 'not a version'",
                 "numpy.__version__ = saved",
                 NUMPY_FAILURE + "<class 'ValueError'>, value: ValueError(", id="unreadable-version"),
    pytest.param("import numpy; saved = numpy.__version__; numpy.__version__ = '256.0.0'",
                 "numpy.__version__ = saved",
                 NUMPY_FAILURE + "<class 'OverflowError'>, value: OverflowError('out of range integral type "
                                 "conversion attempted'), traceback: None }", id="major-above-255"),
    pytest.param("import %s.multiarray as m; saved = m._ARRAY_API; m._ARRAY_API = 5" % CORE,
                 "m._ARRAY_API = saved",
                 NUMPY_FAILURE + "<class 'TypeError'>, value: TypeError(\"'int' object cannot be cast as "
                                 "'PyCapsule'\"), traceback: None }", id="array-api-not-a-capsule"),
    pytest.param("import %s.multiarray as m; saved = m._ARRAY_API; del m._ARRAY_API" % CORE,
                 "m._ARRAY_API = saved",
                 NUMPY_FAILURE + "<class 'AttributeError'>, value: AttributeError(", id="array-api-missing"),
])
def test_unreachable_numpy_is_fatal_and_retried_on_the_next_call(break_numpy, restore, message_start):
    run_python(f"""
    import sys
    import orven
    {break_numpy}
    try:
        orven.extract_features([{{"x": 1.0}}])
    except BaseException as error:
        assert type(error).__name__ == "PanicException", repr(error)
        message = error.args[0]
    else:
        raise AssertionError("the call succeeded")
    assert message.startswith({message_start!r}), message
    {restore}
    import numpy as np
    assert orven.extract_features([{{"x": np.arange(3.0)}}])[0]["x"]["sum_values"] == 3.0
    """)
