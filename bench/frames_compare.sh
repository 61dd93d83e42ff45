#!/usr/bin/env bash
# From a long frame to the finished feature table: orven_frames next to
# pandas, polars and DuckDB, at one and two threads, on row orders and
# shapes that suit its grouping and on ones that do not, with a native
# floor (bench/frames_compare.py); one Dask worker process with one thread
# against one with two (bench/dask_threads.py); the peak memory of a call
# (bench/frames_memory.py).  The interpreter, and which orven is measured,
# as bench/frames_env.sh says (by default a virtual environment of the
# benchmark's own, made with the interpreter given, with orven installed
# from this working tree).  Prints figures; nothing here passes or fails.
#
#   bash bench/frames_compare.sh [python] [extra arguments for frames_compare.py]
#   ORVEN_BENCH_SKIP_INSTALL=1 PYTHONPATH=$PWD/build/dev/bindings:$PWD/frames bash bench/frames_compare.sh
set -euo pipefail
# The first argument is the interpreter unless it is an option.
INTERPRETER=""
if [[ $# -gt 0 && "$1" != -* ]]; then
    INTERPRETER="$1"
    shift
fi
source "$(dirname "${BASH_SOURCE[0]}")/frames_env.sh" "$INTERPRETER"
cd "$ROOT/bench"
"$BENCH_PYTHON" frames_compare.py "$@"
for argument in "$@"; do
    [[ "$argument" == --check ]] && exit 0  # a check times nothing
done
echo
"$BENCH_PYTHON" dask_threads.py
echo
"$BENCH_PYTHON" frames_memory.py
