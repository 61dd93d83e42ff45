#!/usr/bin/env bash
# From a long frame to the finished feature table: orven_frames next to
# pandas, polars and DuckDB, at one and two threads (bench/frames_compare.py),
# and one Dask worker process with one thread against one with two
# (bench/dask_threads.py).  The peers live only in the benchmark's own
# virtual environment, made with the interpreter given (default python3);
# orven is installed from this working tree.  Prints figures; nothing here
# passes or fails.
#
#   bash bench/frames_compare.sh [python] [extra arguments for frames_compare.py]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PYTHON="${1:-${PYTHON:-python3}}"
shift || true
VENV="$ROOT/build/frames-bench-venv"
if [[ ! -x "$VENV/bin/python" ]]; then
    "$PYTHON" -m venv "$VENV"
    "$VENV/bin/python" -m pip install --quiet numpy pandas polars pyarrow duckdb "dask[dataframe]" distributed
fi
if [[ "${ORVEN_BENCH_SKIP_INSTALL:-0}" != 1 ]]; then
    (cd "$ROOT" && "$VENV/bin/python" -m pip install --quiet .)
fi
cd "$ROOT/bench"
"$VENV/bin/python" frames_compare.py "$@"
echo
"$VENV/bin/python" dask_threads.py
echo
"$VENV/bin/python" frames_memory.py
