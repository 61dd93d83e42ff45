#!/usr/bin/env bash
# End-to-end comparison of orven with polars and DuckDB on the same values.
# The peers live only in the benchmark's own virtual environment; orven is
# installed from this working tree.  Prints figures; nothing here passes or
# fails.  Usage: [PYTHON=python3.x] bash bench/compare.sh [extra arguments for
# compare.py]; the virtual environment is made with $PYTHON (python3 by default).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PYTHON="${PYTHON:-python3}"
VENV="$ROOT/build/bench-venv"
if [[ ! -x "$VENV/bin/python" ]]; then
    "$PYTHON" -m venv "$VENV"
    "$VENV/bin/python" -m pip install --quiet numpy polars duckdb
fi
if [[ "${ORVEN_BENCH_SKIP_INSTALL:-0}" != 1 ]]; then
    (cd "$ROOT" && "$VENV/bin/python" -m pip install --quiet .)
fi
cd "$ROOT/bench"
exec "$VENV/bin/python" compare.py "$@"
