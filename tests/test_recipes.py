"""The recipes in examples/: their tables are checked against a plain
per-group reference, each program runs as a user would run it, and every
route gives the same values to the bit as direct calls of orven."""

import hashlib
import importlib
import math
import os
import struct
import subprocess
import sys

import numpy as np
import pytest

import orven
import orven_frames

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples")


def recipe(name, *needs):
    """Imports examples/<name>.py, skipping when a library it needs is absent."""
    for library in needs:
        pytest.importorskip(library, reason=f"{library} is not installed (pip install .[recipes])")
    if EXAMPLES not in sys.path:
        sys.path.insert(0, EXAMPLES)
    return importlib.import_module(name)


def run_example(name, *args):
    completed = subprocess.run([sys.executable, os.path.join(EXAMPLES, name), *map(str, args)],
                               capture_output=True, text=True, timeout=300)
    assert completed.returncode == 0, completed.stdout + completed.stderr
    return completed


def bits(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def reference_series(columns):
    """(id, kind) -> values in time order, built row by row from the table."""
    rows = sorted(zip(columns["id"].tolist(), columns["kind"].tolist(),
                      columns["time"].tolist(), columns["value"].tolist()))
    series = {}
    for key, kind, _, value in rows:
        series.setdefault((key, kind), []).append(value)
    return series


def long_table(library, columns):
    if library == "pandas":
        import pandas as pd
        return pd.DataFrame(columns)
    import polars as pl
    return pl.DataFrame(columns)


# Tables where the grouping is easy to get wrong: one row, one id, ids whose
# kinds interleave, ids that lack a kind, series of one value, ties of id
# across kinds at a boundary.
def edge_columns():
    return {
        "one_row": dict(id=[3], kind=["a"], time=[0], value=[1.5]),
        "one_id_two_kinds": dict(id=[1, 1, 1, 1], kind=["b", "a", "b", "a"], time=[1, 0, 0, 1],
                                 value=[4.0, -0.0, 3.0, 2.0]),
        "missing_kind": dict(id=[2, 1, 1, 2], kind=["a", "a", "b", "a"], time=[5, 2, 9, 1],
                             value=[1.0, 2.0, 3.0, 4.0]),
        "same_kind_next_id": dict(id=[1, 2, 1, 2], kind=["a", "a", "a", "a"], time=[0, 0, 1, 1],
                                  value=[1.0, 10.0, 2.0, 20.0]),
    }


def wide_cells(library, wide):
    """(id, kind, feature) -> value of a recipe's wide table; missing cells
    (an id without that kind: NaN in pandas, null in polars) left out."""
    cells = {}
    rows = wide.to_dict("records") if library == "pandas" else wide.iter_rows(named=True)
    for row in rows:
        for column, value in row.items():
            if column == "id" or value is None or (library == "pandas" and math.isnan(value)):
                continue
            kind, name = column.split("__")
            cells[(row["id"], kind, name)] = value
    return cells


@pytest.mark.parametrize("library", ["pandas", "polars"])
@pytest.mark.parametrize("case", ["generated", *edge_columns()])
def test_wide_table_matches_direct_calls(library, case):
    module = recipe(f"{library}_long_format", library)
    if case == "generated":
        columns = recipe("sensor_data").long_columns(5, seed=9)
    else:
        columns = {name: np.array(values, dtype=object if name == "kind" else None)
                   for name, values in edge_columns()[case].items()}
        columns["value"] = columns["value"].astype(np.float64)
    wide = module.extract_wide(long_table(library, columns))
    cells = wide_cells(library, wide)
    expected = {}
    for (key, kind), values in reference_series(columns).items():
        features = orven.extract_features([{kind: np.array(values)}])[0][kind]
        for name, value in features.items():
            expected[(key, kind, name)] = value
    # A series of one NaN has NaN features: those cells are present too.
    assert set(cells) | {c for c, v in expected.items() if math.isnan(v)} == set(expected)
    for cell, value in expected.items():
        if cell in cells:
            assert bits(cells[cell]) == bits(value), cell
    ids = wide["id"].to_list()
    assert ids == sorted({key for key, _ in reference_series(columns)})


@pytest.mark.parametrize("name, library", [("pandas_long_format.py", "pandas"),
                                           ("polars_long_format.py", "polars")])
def test_frame_recipes_run(name, library):
    pytest.importorskip(library, reason=f"{library} is not installed (pip install .[recipes])")
    out = run_example(name, 3).stdout
    # sensor_data gives three kinds per machine; ten features each.
    assert out.splitlines()[0].endswith("3 ids x 30 kind__feature columns")
    assert "temperature" in out and "vibration" in out


def test_progress_recipe_equals_one_call_and_reports_progress(capsys):
    module = recipe("progress_in_chunks", "tqdm")
    records = module.example_records(37, seed=2)
    chunked = module.extract_with_progress(records, chunk=5, ascii=True, mininterval=0)
    direct = orven.extract_features(records)
    assert [[{k: bits(v) for k, v in f.items()} for f in r.values()] for r in chunked] == \
           [[{k: bits(v) for k, v in f.items()} for f in r.values()] for r in direct]
    bar = capsys.readouterr().err
    assert "37/37" in bar and "35/37" in bar  # moved chunk by chunk
    out = run_example("progress_in_chunks.py", 300, 64).stdout
    assert out.startswith("300 records, ")


def test_dask_recipe_gathers_the_single_process_table():
    pytest.importorskip("dask.dataframe", reason="dask is not installed (pip install .[recipes])")
    pytest.importorskip("distributed", reason="distributed is not installed (pip install .[recipes])")
    machines, partitions = 60, 5
    columns = recipe("sensor_data").long_columns(machines)
    # An independent digest, series by series, in the recipe's format.
    series = reference_series(columns)
    features = [orven.extract_features([{kind: np.array(values)}])[0][kind]
                for (_, kind), values in series.items()]
    digest = hashlib.sha256()
    digest.update(np.array([key for key, _ in series], dtype=np.int64).tobytes())
    digest.update("\n".join(kind for _, kind in series).encode())
    for name in orven_frames.FEATURES:
        digest.update(np.array([f[name] for f in features], dtype=np.float64).tobytes())
    out = run_example("dask_partitions.py", machines, partitions).stdout
    assert f"{len(series)} series in {partitions} partitions on 2 workers" in out
    assert f"table digest {digest.hexdigest()}" in out
    assert "identical to one single-process call: yes" in out
