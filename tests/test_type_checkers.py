"""The installed type information: mypy and pyright, run on small programs
outside the source tree, must accept a correct use of `orven` and flag each
misuse with the error a user would see.  Both resolve `orven` from this
interpreter's site-packages, so these tests check what a `pip install`
ships, not the files in the repository."""

import importlib.util
import json
import re
import shutil
import subprocess
import sys
import textwrap

import pytest

CORRECT = """
    from typing import reveal_type

    import numpy as np
    import orven

    records = [{"a": np.array([1.0, 2.0, 4.0])}, {"b": np.zeros(3)}]
    result = orven.extract_features(records)
    median: float = result[0]["a"]["median"]
    for record in result:
        for column, features in record.items():
            print(column.upper(), features["variance"] + features["length"])
    reveal_type(result)
"""

# One misuse per line; the checkers must report each on its own line.
MISUSES = {
    "wrong_result_type": 'label: str = orven.extract_features(records)[0]["a"]["median"]',
    "unknown_feature": 'orven.extract_features(records)[0]["a"]["medain"]',
    "record_not_in_a_list": "orven.extract_features(records[0])",
    "integer_array": 'orven.extract_features([{"a": np.arange(3)}])',
}
MISUSE_PROGRAM = "\n".join(
    [
        "import numpy as np",
        "import numpy.typing as npt",
        "import orven",
        "records: list[dict[str, npt.NDArray[np.float64]]] = []",
        *MISUSES.values(),
    ]
)
FIRST_MISUSE_LINE = 5

# What each checker says about each misuse (a fragment of its message).
EXPECTED = {
    "mypy": {
        "wrong_result_type": r'Incompatible types in assignment \(expression has type "float", variable has type "str"\)',
        "unknown_feature": r'TypedDict "Features" has no key "medain"',
        "record_not_in_a_list": r'Argument 1 to "extract_features" has incompatible type "dict\[str, ndarray',
        "integer_array": r'incompatible type .*signedinteger.*; expected .*float64',
    },
    "pyright": {
        "wrong_result_type": r'Type "float" is not assignable to declared type "str"',
        "unknown_feature": r'"medain" is not a defined key in "Features"',
        "record_not_in_a_list": r'Argument of type "dict\[str, NDArray\[float64\]\]" cannot be assigned to parameter "data"',
        "integer_array": r'cannot be assigned to parameter "data".*"int_?" is not a subtype of "float64"',
    },
}


def checker_command(name):
    pytest.importorskip(name, reason=f"{name} is not installed (pip install .[typing])")
    if name == "mypy":
        return [sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                "--output", "json", "program.py"]
    return [sys.executable, "-m", "pyright", "--outputjson",
            "--pythonpath", sys.executable, "program.py"]


def check(name, directory, source):
    """Runs the checker on `source` as program.py in `directory`; returns its
    exit status, its raw output and its messages as a dict from line number
    (1-based) to a list of (severity, message text)."""
    (directory / "program.py").write_text(textwrap.dedent(source))
    completed = subprocess.run(checker_command(name), cwd=directory,
                               capture_output=True, text=True, timeout=300)
    output = completed.stdout + completed.stderr
    messages = {}
    if name == "mypy":
        for line in completed.stdout.splitlines():
            item = json.loads(line)
            messages.setdefault(item["line"], []).append((item["severity"], item["message"]))
    else:
        for item in json.loads(completed.stdout)["generalDiagnostics"]:
            line = item["range"]["start"]["line"] + 1
            messages.setdefault(line, []).append((item["severity"], item["message"]))
    return completed.returncode, output, messages


@pytest.fixture(scope="module")
def installed_stub():
    found = importlib.util.find_spec("orven-stubs")
    if found is None:
        pytest.fail("the stub package orven-stubs is not installed beside orven")
    return found


@pytest.mark.parametrize("name", ["mypy", "pyright"])
def test_correct_use_type_checks(name, tmp_path, installed_stub):
    code, output, messages = check(name, tmp_path, CORRECT)
    # (mypy's JSON mode exits with 1 on the reveal_type note alone.)
    assert code in (0, 1), output
    assert not [text for kind, text in sum(messages.values(), []) if kind == "error"], output
    revealed = [text for kind, text in sum(messages.values(), [])
                if kind in ("note", "information")]
    # The result is the precise type, not Any (which a missing stub gives).
    assert len(revealed) == 1, output
    assert re.search(r"list\[dict\[str, (TypedDict\(orven\.)?Features", revealed[0]), output


@pytest.mark.parametrize("name", ["mypy", "pyright"])
def test_misuses_are_flagged(name, tmp_path, installed_stub):
    code, output, by_line = check(name, tmp_path, MISUSE_PROGRAM)
    assert code != 0, output
    for offset, misuse in enumerate(MISUSES):
        line = FIRST_MISUSE_LINE + offset
        errors = [text for kind, text in by_line.get(line, []) if kind == "error"]
        assert any(re.search(EXPECTED[name][misuse], text, re.DOTALL) for text in errors), (
            f"{misuse} (line {line}) not flagged as expected by {name}:\n{output}")
    assert set(by_line) == set(range(FIRST_MISUSE_LINE, FIRST_MISUSE_LINE + len(MISUSES))), output


def test_stub_matches_the_module(installed_stub):
    """The stub declares what the module exports and the feature names it
    returns: those of their one source, in its order."""
    import ast

    import numpy as np

    import orven
    import orven_frames

    (location,) = installed_stub.submodule_search_locations
    with open(f"{location}/__init__.pyi", encoding="utf-8") as stub:
        tree = ast.parse(stub.read())
    functions = {node.name for node in tree.body if isinstance(node, ast.FunctionDef)}
    assert functions == set(orven.__all__)
    features = next(node for node in tree.body
                    if isinstance(node, ast.ClassDef) and node.name == "Features")
    declared = [node.target.id for node in features.body if isinstance(node, ast.AnnAssign)]
    returned = orven.extract_features([{"x": np.array([1.0, 2.0])}])[0]["x"]
    assert declared == list(orven_frames.FEATURES) == list(returned)
    assert all(type(value) is float for value in returned.values())


FRAMES_PROGRAM = """
    from typing import reveal_type

    import numpy as np
    import pandas as pd
    import polars as pl
    import pyarrow as pa
    import orven_frames

    columns = {"id": np.array([1, 1, 2]), "value": np.array([1.0, 2.0, 3.0])}
    reveal_type(orven_frames.extract_features(pd.DataFrame(columns), id="id", value="value"))
    reveal_type(orven_frames.extract_features(pl.DataFrame(columns), id="id", value="value"))
    table = pa.table({"id": pa.array([1, 1, 2]), "value": pa.array([1.0, 2.0, 3.0])})
    reveal_type(orven_frames.extract_features(table, id=["id"], value="value", wide=True))
    reveal_type(orven_frames.extract_features(columns, id="id", value="value", nan="drop"))
    orven_frames.extract_features(columns, id="id", value="value", nan="keep")
    reveal_type(orven_frames.rolling_features(pl.DataFrame(columns), id="id", time="id", value="value", size=2))
    orven_frames.rolling_features(columns, id="id", time="id", value="value", span="2")
"""


@pytest.mark.parametrize("name", ["mypy", "pyright"])
def test_frames_results_are_typed_by_frame_kind(name, tmp_path):
    # pandas and pyarrow are typed through their stub packages (the typing extra).
    for library in ("pandas", "polars", "pyarrow", "pandas-stubs", "pyarrow-stubs"):
        # Stub packages have no importable module: found by name, and only
        # a missing one goes through importorskip (whose skip the suite's
        # settings may turn into a failure).
        if importlib.util.find_spec(library) is None:
            pytest.importorskip(library, reason=f"{library} is not installed (pip install .[recipes,typing])")
    code, output, messages = check(name, tmp_path, FRAMES_PROGRAM)
    revealed = {line: text for line, items in messages.items() for kind, text in items
                if kind in ("note", "information")}
    errors = {line for line, items in messages.items() for kind, _ in items if kind == "error"}
    assert [re.search(pattern, revealed.get(line, "")) is not None for line, pattern in [
        # pyright names the classes without their modules.
        (11, r"^(?!.*polars).*\bDataFrame\b"), (12, r"^(?!.*pandas).*\bDataFrame\b"), (14, r"\bTable\b"),
        (15, r"dict\[str, .*ndarray"), (17, r"^(?!.*pandas).*\bDataFrame\b")]] == [True] * 5, output
    assert errors == {16, 18}, output  # the misuses: an unknown nan policy, a span of the wrong type
