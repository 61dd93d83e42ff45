"""orven_frames.extract_features as a call: its error texts, the interpreter
released while the workers compute, Ctrl-C, the progress bar, and the
orven module left as it was."""

import sys
import threading
import time

import numpy as np
import pytest

import orven
import orven_frames
from helpers import run_python
from registry_client import Registry


def mapping(**columns):
    base = {"id": np.array([1, 1, 2]), "value": np.array([1.0, 2.0, 3.0])}
    base.update(columns)
    return base


def polars_frame(**columns):
    pl = pytest.importorskip("polars")
    return pl.DataFrame(columns)


def arrow_table(**columns):
    pa = pytest.importorskip("pyarrow")
    return pa.table(columns)


def pandas_frame(**columns):
    pd = pytest.importorskip("pandas")
    return pd.DataFrame(columns)


ERRORS = [
    # (frame builder, arguments, exception, exact text)
    (lambda: mapping(), dict(id="nope", value="value"), ValueError, "the frame has no column 'nope'"),
    (lambda: mapping(), dict(id="id", value="value", nan="keep"), ValueError,
     "nan must be 'raise' or 'drop', not 'keep'"),
    (lambda: mapping(), dict(id="id", value=["value"], kind="id"), ValueError,
     "kind must be None when value is a list of columns (wide input)"),
    (lambda: mapping(), dict(id="id", value=[]), ValueError, "value must name at least one column"),
    (lambda: mapping(), dict(id=[], value="value"), ValueError, "id must name at least one column"),
    (lambda: mapping(), dict(id="id", value="id"), ValueError,
     "column 'id' is named more than once among id, kind, time and value"),
    (lambda: mapping(value=np.array([True, False, True])), dict(id="id", value="value"), TypeError,
     "value column 'value' has type bool; expected float64, float32 or integers of at most 2**53"),
    (lambda: mapping(value=np.array([1, 2, 2 ** 53 + 1])), dict(id="id", value="value"), ValueError,
     "value column 'value' holds integers beyond 2**53, which float64 cannot hold exactly"),
    (lambda: mapping(id=np.array(["a", None, "b"], dtype=object)), dict(id="id", value="value"), ValueError,
     "id column 'id' holds a null"),
    (lambda: mapping(k=np.array(["a", float("nan"), "b"], dtype=object)), dict(id="id", kind="k", value="value"),
     ValueError, "kind column 'k' holds a null"),
    (lambda: mapping(id=np.array(["a", 1, "b"], dtype=object)), dict(id="id", value="value"), TypeError,
     "id column 'id' holds values that cannot be put in order"),
    (lambda: mapping(id=np.array([1 + 2j, 1j, 2j])), dict(id="id", value="value"), TypeError,
     "id column 'id' has type complex128, which cannot be used as a key"),
    (lambda: mapping(t=np.array([0.0, np.nan, 1.0])), dict(id="id", time="t", value="value"), ValueError,
     "time column 't' holds NaN"),
    (lambda: mapping(t=np.array(["2024-01-01", "NaT", "2024-01-02"], dtype="datetime64[s]")),
     dict(id="id", time="t", value="value"), ValueError, "time column 't' holds a null"),
    (lambda: mapping(t=np.array([True, False, True])), dict(id="id", time="t", value="value"), TypeError,
     "time column 't' has type bool; expected integers, floats, dates or datetimes"),
    (lambda: mapping(other=np.arange(2.0)), dict(id="id", value="value"), ValueError,
     "the arrays of the mapping are not all of one length"),
    (lambda: mapping(other=[1.0, 2.0, 3.0]), dict(id="id", value="value"), TypeError,
     "column 'other' of the mapping is not a 1-D NumPy array"),
    (lambda: [1, 2, 3], dict(id="id", value="value"), TypeError,
     "frame must be a pandas.DataFrame, a polars.DataFrame, a pyarrow.Table or a mapping of column "
     "name to 1-D NumPy array, not list"),
    (lambda: mapping(value=np.array([1.0, np.nan, 3.0])), dict(id="id", value="value"), ValueError,
     "value holds NaN in the series id=1"),
    (lambda: polars_frame(id=[1, None, 2], value=[1.0, 2.0, 3.0]), dict(id="id", value="value"), ValueError,
     "id column 'id' holds a null"),
    (lambda: polars_frame(id=[1, 1, 2], value=[1.0, None, 3.0]), dict(id="id", value="value"), ValueError,
     "value holds NaN in the series id=1"),
    (lambda: arrow_table(id=[1, 1, 2], k=["a", None, "b"], value=[1.0, 2.0, 3.0]),
     dict(id="id", kind="k", value="value"), ValueError, "kind column 'k' holds a null"),
    (lambda: pandas_frame(id=[1, 1, 2], value=["x", "y", "z"]), dict(id="id", value="value"), TypeError,
     "value column 'value' has type str; expected float64, float32 or integers of at most 2**53"),
]


@pytest.mark.parametrize("build, arguments, error, text", ERRORS)
def test_error_texts(build, arguments, error, text):
    frame = build()
    with pytest.raises(error) as raised:
        orven_frames.extract_features(frame, **arguments)
    assert str(raised.value) == text


# The frame path takes a shared borrow of every array it reads, in the
# registry that NumPy-using extension modules share: one that another
# module holds for writing is refused, and the borrows already taken are
# given back.
@pytest.mark.parametrize("role, name", [("id", "id"), ("kind", "k"), ("time", "t"), ("value", "value")])
def test_an_array_borrowed_for_writing_elsewhere_is_refused(role, name):
    orven.extract_features([{"x": np.arange(3.0)}])  # the registry found or published
    registry = Registry()
    frame = mapping(k=np.array(["a", "b", "a"], dtype=object), t=np.array([3, 1, 2]))
    assert registry.acquire_mut(frame[name]) == 0
    try:
        with pytest.raises(ValueError) as raised:
            orven_frames.extract_features(frame, id="id", kind="k", time="t", value="value")
    finally:
        registry.release_mut(frame[name])
    assert str(raised.value) == f"{role} column {name!r} is borrowed for writing by another extension module"
    assert all(registry.is_free(column) for column in frame.values())
    table = orven_frames.extract_features(frame, id="id", kind="k", time="t", value="value")
    assert list(table["sum_values"]) == [1.0, 2.0, 3.0]


def test_progress_without_tqdm_is_a_clear_import_error(monkeypatch):
    monkeypatch.setitem(sys.modules, "tqdm", None)
    with pytest.raises(ImportError) as raised:
        orven_frames.extract_features(mapping(), id="id", value="value", progress=True)
    assert str(raised.value) == "progress=True needs tqdm, which is not installed (pip install tqdm)"


@pytest.mark.parametrize("rolling", [False, True])
def test_progress_bar_reaches_the_count_of_series_or_windows(capsys, rolling):
    pytest.importorskip("tqdm")
    ids = 3000
    frame = {"id": np.repeat(np.arange(ids), 4), "time": np.tile(np.arange(4), ids), "value": np.arange(4.0 * ids)}
    if rolling:
        table = orven_frames.rolling_features(frame, id="id", time="time", value="value", size=2, progress=True)
    else:
        table = orven_frames.extract_features(frame, id="id", value="value", progress=True)
    rows = len(table["id"])
    assert rows == (4 * ids if rolling else ids)
    assert f"{rows}/{rows}" in capsys.readouterr().err


def long_frame(series=8, length=1_500_000):
    rng = np.random.default_rng(1)
    return {"id": np.repeat(np.arange(series), length), "value": rng.normal(size=series * length)}


def test_other_threads_run_while_the_workers_compute():
    frame = long_frame()
    beats = []
    stop = threading.Event()

    def beat():
        while not stop.is_set():
            beats.append(time.perf_counter())

    other = threading.Thread(target=beat)
    other.start()
    try:
        time.sleep(0.05)
        start = time.perf_counter()
        orven_frames.extract_features(frame, id="id", value="value")
        end = time.perf_counter()
    finally:
        stop.set()
        other.join()
    inside = [t for t in beats if start < t < end]
    # A call that kept the interpreter throughout would leave at most a
    # beat or two inside its window, one that kept it while it grouped the
    # rows a long stretch without any.
    assert len(inside) > 1000, (len(inside), end - start)
    longest = max(b - a for a, b in zip([start, *inside], [*inside, end]))
    assert longest < 0.4 * (end - start), (longest, end - start)


HOSTILE_KEY = """
    import sys, warnings
    import numpy as np
    import orven_frames

    warnings.simplefilter("ignore", DeprecationWarning)
    change = sys.argv[1]
    rows = 200_000
    columns = {"id": np.empty(rows, dtype=object), "value": np.arange(rows, dtype=np.float64),
               "t": np.arange(rows, dtype=np.int64)}

    class Key:
        fired = False
        def __init__(self, k): self.k = k
        def __eq__(self, other): return self.k == other.k
        def __lt__(self, other): return self.k < other.k
        def __hash__(self):
            if not Key.fired:
                Key.fired = True
                name, how = change.split(":")
                array = columns[name]
                if how == "resize":
                    array.resize(10, refcheck=False)
                elif how == "owner-data":
                    array.base.data = memoryview(np.empty(rows, dtype=array.dtype))
                else:
                    array.data = memoryview(np.empty(rows, dtype=array.dtype))
            return hash(self.k)

    if change.endswith("owner-data"):
        columns["value"] = columns["value"][:]  # a view: its owner is changed
    keys = [Key(k) for k in range(7)]
    for row in range(rows):
        columns["id"][row] = keys[row % 7]
    try:
        orven_frames.extract_features(columns, id="id", value="value", time="t")
        print("OUTCOME a result")
    except Exception as error:
        print("OUTCOME", type(error).__name__, str(error).splitlines()[0])
"""


# A key's hashing is caller code run in the middle of a call; it may not
# free what the call reads.  NumPy refuses to resize an array the call
# holds; NumPy 1.x still lets code assign `data`, which the call notices.
@pytest.mark.parametrize("change, outcome", [
    ("id:resize", "ValueError cannot resize an array that references or is referenced"),
    ("value:resize", "ValueError cannot resize an array that references or is referenced"),
    ("t:resize", "ValueError cannot resize an array that references or is referenced"),
    ("id:data", "ValueError id column 'id' changed while the call was reading it"),
    ("value:data", "ValueError value column 'value' changed while the call was reading it"),
    ("t:data", "ValueError time column 't' changed while the call was reading it"),
    ("value:owner-data", "ValueError value column 'value' changed while the call was reading it"),
])
def test_key_code_cannot_free_what_the_call_reads(change, outcome):
    if change.endswith("data") and np.lib.NumpyVersion(np.__version__) >= "2.0.0":
        pytest.skip("NumPy 2 has no `data` setter")
    child = run_python(HOSTILE_KEY.replace("sys.argv[1]", repr(change)))
    assert f"OUTCOME {outcome}" in child.stdout, child.stdout + child.stderr


CTRL_C = """
    import os, signal, subprocess, sys, time
    import numpy as np
    import orven_frames

    # A shell that starts the test runner in the background hands it SIGINT
    # ignored, and Python keeps an inherited SIG_IGN: put Ctrl-C back.
    signal.signal(signal.SIGINT, signal.default_int_handler)

    rng = np.random.default_rng(3)
    frame = {"id": np.repeat(np.arange(400_000), 10), "kind": np.tile(np.array(["a", "b"], dtype=object), 2_000_000),
             "time": np.arange(4_000_000), "value": rng.normal(size=4_000_000)}
    CALL
    sender = subprocess.Popen(
        [sys.executable, "-c",
         "import os, signal, sys, time; time.sleep(float(sys.argv[2])); "
         "print(time.time(), flush=True); os.kill(int(sys.argv[1]), signal.SIGINT)",
         str(os.getpid()), sys.argv[1]],
        stdout=subprocess.PIPE, text=True)
    caught = None
    try:
        deadline = time.time() + 20
        while time.time() < deadline:
            CALL
    except KeyboardInterrupt:
        caught = time.time()
    sent = float(sender.communicate()[0])
    print("LATENCY", caught - sent if caught else "none")
    again = orven_frames.extract_features({"id": np.zeros(5, dtype=np.int64), "value": np.arange(5.0)},
                                          id="id", value="value")
    assert again["sum_values"][0] == 10.0
"""


CALLS = {
    "extract_features": 'orven_frames.extract_features(frame, id="id", kind="kind", value="value")',
    "rolling_features": 'orven_frames.rolling_features(frame, id="id", kind="kind", time="time", value="value", size=50)',
}


@pytest.mark.parametrize("call, delay", [("extract_features", "0.3"), ("extract_features", "0.45"),
                                         ("extract_features", "0.6"), ("rolling_features", "0.45")])
def test_ctrl_c_stops_a_call_promptly_and_the_next_call_works(call, delay):
    program = CTRL_C.replace("sys.argv[1]]", f"{delay!r}]").replace("CALL", CALLS[call])
    child = run_python(program, {"RAYON_NUM_THREADS": "1"}, timeout=120)
    text = child.stdout.split("LATENCY", 1)[1].split()[0]
    assert text != "none", "no KeyboardInterrupt at all"
    print(f"\nKeyboardInterrupt {float(text):.3f} s after SIGINT")
    # The aim is under 0.1 s; the bound leaves room for a shared machine.
    assert float(text) < 0.5


def test_orven_is_left_as_it_was():
    run_python("""
        import orven
        before = (sorted(vars(orven)), list(orven.__all__), orven.__doc__, orven.extract_features)
        import orven_frames
        assert (sorted(vars(orven)), list(orven.__all__), orven.__doc__, orven.extract_features) == before
        assert orven_frames._native.__file__ == orven.__file__
        assert orven_frames._native.__name__ == "orven_frames._native"
    """)
