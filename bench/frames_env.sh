# Sourced by frames_compare.sh and rolling_compare.sh: sets BENCH_PYTHON to
# an interpreter that has the peers (pandas, polars, pyarrow, DuckDB, Dask)
# and the orven to be measured.
#
# By default that is the benchmark's own virtual environment,
# build/frames-bench-venv, made with $1 (default $PYTHON, or python3), with orven
# installed into it from this working tree.  Two variables change that:
#   ORVEN_BENCH_SKIP_INSTALL=1  orven is not installed: the module that the
#       interpreter finds is measured, e.g. a build of this tree through
#       PYTHONPATH=build/dev/bindings:frames
#   ORVEN_BENCH_PYTHON=PATH     this interpreter instead of the virtual
#       environment (it must have the peers already; nothing is installed
#       into it, so ORVEN_BENCH_SKIP_INSTALL=1 is implied)
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [[ -n "${ORVEN_BENCH_PYTHON:-}" ]]; then
    BENCH_PYTHON="$ORVEN_BENCH_PYTHON"
else
    VENV="$ROOT/build/frames-bench-venv"
    if [[ ! -x "$VENV/bin/python" ]]; then
        "${1:-${PYTHON:-python3}}" -m venv "$VENV"
        "$VENV/bin/python" -m pip install --quiet numpy pandas polars pyarrow duckdb "dask[dataframe]" distributed
    fi
    BENCH_PYTHON="$VENV/bin/python"
    if [[ "${ORVEN_BENCH_SKIP_INSTALL:-0}" != 1 ]]; then
        (cd "$ROOT" && "$BENCH_PYTHON" -m pip install --quiet .)
    fi
fi
# Say which build is measured; stop here if there is none.
(cd "$ROOT/bench" && "$BENCH_PYTHON" -c 'import orven, orven_frames, sys
print(f"measuring orven from {orven.__file__}, orven_frames from {orven_frames.__file__}, Python {sys.version.split()[0]}")') || {
    echo "no orven_frames for $BENCH_PYTHON: build it and set PYTHONPATH, or leave ORVEN_BENCH_SKIP_INSTALL unset" >&2
    exit 1
}
