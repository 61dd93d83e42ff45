#!/usr/bin/env bash
# Rolling windows from a long frame: orven_frames.rolling_features next to
# polars, pandas and DuckDB window functions, at one and two threads
# (bench/rolling_compare.py; --cut adds the naive way through
# orven.extract_features).  The interpreter, and which orven is measured,
# as bench/frames_env.sh says.  Prints figures; nothing here passes or fails.
#
#   bash bench/rolling_compare.sh [python] [extra arguments for rolling_compare.py]
#   ORVEN_BENCH_SKIP_INSTALL=1 PYTHONPATH=$PWD/build/dev/bindings:$PWD/frames bash bench/rolling_compare.sh
set -euo pipefail
# The first argument is the interpreter unless it is an option.
INTERPRETER=""
if [[ $# -gt 0 && "$1" != -* ]]; then
    INTERPRETER="$1"
    shift
fi
source "$(dirname "${BASH_SOURCE[0]}")/frames_env.sh" "$INTERPRETER"
cd "$ROOT/bench"
"$BENCH_PYTHON" rolling_compare.py "$@"
