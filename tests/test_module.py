"""The module object: its attributes, the signature of its function,
re-import, and the refusal of sub-interpreters."""

import importlib
import inspect
import sys

import pytest

import orven
from helpers import run_python


def test_module_attributes():
    assert orven.__name__ == "orven"
    assert type(orven.__all__) is list
    assert orven.__all__ == ["extract_features"]
    assert isinstance(orven.__doc__, str) and orven.__doc__.strip()
    public = sorted(name for name in vars(orven) if not name.startswith("_"))
    assert public == ["extract_features"]


@pytest.mark.parametrize(
    "attribute, expected",
    [
        ("__name__", "extract_features"),
        ("__qualname__", "extract_features"),
        ("__text_signature__", "(data)"),
        ("__doc__", None),
        ("__module__", "orven"),
    ],
)
def test_function_attributes(attribute, expected):
    assert getattr(orven.extract_features, attribute) == expected


def test_function_is_a_builtin_bound_to_the_module():
    function = orven.extract_features
    assert type(function).__name__ == "builtin_function_or_method"
    assert function.__self__ is orven
    signature = inspect.signature(function)
    assert list(signature.parameters) == ["data"]
    [parameter] = signature.parameters.values()
    assert parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
    assert parameter.default is inspect.Parameter.empty


@pytest.mark.parametrize(
    "reimport",
    [
        pytest.param(lambda: __import__("orven"), id="import-statement"),
        pytest.param(lambda: importlib.import_module("orven"), id="importlib"),
    ],
)
def test_reimport_returns_the_same_module(reimport):
    original = sys.modules["orven"]
    function = original.extract_features
    del sys.modules["orven"]
    try:
        again = reimport()
    finally:
        restored = sys.modules.setdefault("orven", original)
    assert again is original
    assert restored is original
    # The module body did not run again.
    assert again.extract_features is function
    assert again.__all__ == ["extract_features"]


def test_reimport_in_a_fresh_process():
    child = run_python(
        """
        import sys, importlib
        import orven
        first = orven
        for _ in range(3):
            del sys.modules["orven"]
            import orven
            assert orven is first
            del sys.modules["orven"]
            assert importlib.import_module("orven") is first
        assert first.__all__ == ["extract_features"], first.__all__
        print("same")
        """
    )
    assert child.stdout.strip() == "same"


# Runs inside the sub-interpreter; IMPORT and RESULT_PATH are filled in by
# the test.
IMPORT_IN_SUBINTERPRETER = """
try:
    IMPORT
except ImportError as error:
    outcome = "ImportError: " + str(error)
except BaseException as error:
    outcome = "other: " + type(error).__name__ + ": " + str(error)
else:
    outcome = "imported"
with open(RESULT_PATH, "w", encoding="utf-8") as handle:
    handle.write(outcome)
"""

# Each module of the shared object, the frame path's loaded straight from
# the file (as its package does, but without importing orven first).
IMPORTS = {
    "orven": "import orven",
    "orven_frames._native": (
        "import importlib.util; "
        "found = importlib.util.spec_from_file_location("
        "'orven_frames._native', importlib.util.find_spec('orven').origin); "
        "found.loader.exec_module(importlib.util.module_from_spec(found))"
    ),
}

SUBINTERPRETER = """
try:
    import orven
except ImportError as error:
    outcome = "ImportError: " + str(error)
except BaseException as error:
    outcome = "other: " + type(error).__name__ + ": " + str(error)
else:
    outcome = "imported"
with open(RESULT_PATH, "w", encoding="utf-8") as handle:
    handle.write(outcome)
"""

SUBINTERPRETER = """
    import orven  # the main interpreter owns the module

    try:
        import _interpreters as interpreters  # 3.13 and later

        interpreter = interpreters.create("legacy")
    except ImportError:
        import _xxsubinterpreters as interpreters  # 3.11 and 3.12

        interpreter = interpreters.create(isolated=False)
    interpreters.run_string(interpreter, SCRIPT)
    interpreters.destroy(interpreter)
    # The main interpreter still has its module.
    import numpy as np
    print(orven.extract_features([{"a": np.arange(3.0)}])[0]["a"]["sum_values"])
"""


@pytest.mark.parametrize("module", IMPORTS)
def test_subinterpreter_is_refused(tmp_path, module):
    # A legacy (non-isolated) configuration, so that the interpreter itself
    # lets a single-phase module load and the refusal is the module's own.
    try:
        importlib.import_module("_interpreters")
    except ImportError:
        pytest.importorskip("_xxsubinterpreters", reason="no sub-interpreter support in this build")
    result = tmp_path / "outcome.txt"
    script = IMPORT_IN_SUBINTERPRETER.replace("IMPORT", IMPORTS[module]).replace(
        "RESULT_PATH", repr(str(result)))
    child = run_python(SUBINTERPRETER.replace("SCRIPT", repr(script)))
    assert child.stdout.strip() == "3.0"
    outcome = result.read_text(encoding="utf-8")
    assert outcome.startswith(
        "ImportError: PyO3 modules do not yet support subinterpreters, see "
    ), outcome
    assert len(outcome) > len("ImportError: PyO3 modules do not yet support subinterpreters, see ")
