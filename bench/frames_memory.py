"""Peak memory that one orven_frames call adds, in bytes per row.

    python3 frames_memory.py [--shapes a,b,...] [--rolling a,b,...]

For each shape of frames_compare.py and each frame kind, a fresh process
builds the frame, makes one call on its first 1% of rows (libraries
loaded, pool started), resets the kernel's record of its peak resident
size, makes the call, and reports (peak - resident before the call) / rows
(a row of the wide shape holds three readings).  This counts every
allocation of the call, native and Python alike, the result included.

The same for one orven_frames.rolling_features call on the cases of
rolling_compare.py with windows of 100 readings (count100: 2,000 series x
1,000 readings, a window at every reading) and of 1,000 (count1000: 200 x
10,000), per reading; its result alone has a row of 13 numbers per window,
so at one window a reading about 104 bytes of it are the result's.  The
warm-up call there is on the check's small frame.  Skipped, with a message,
while orven_frames has no rolling_features.

Figures only; Linux only (it reads /proc/self).
"""

import argparse
import json
import os
import subprocess
import sys

import frames_compare as fc
import rolling_compare as rc

KINDS = ["mapping", "pandas", "polars"]
ROLLING = ["count100", "count1000"]


def status(field):
    with open("/proc/self/status") as text:
        for line in text:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(field)


def peak_of(call, frame, warm, arguments, rows):
    call(warm, **arguments)
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")
    before = status("VmRSS")
    table = call(frame, **arguments)
    peak = status("VmHWM")
    del table
    return (peak - before) / rows


def frame_of(kind, data):
    # The mapping keeps its kinds (and string ids) as Python strings (object arrays).
    return data if kind == "mapping" else fc.build(f"orven_frames[{kind}]", data)


def child(what, name, kind):
    import orven_frames

    if what == "shape":
        data = fc.columns(name, fc.numbers(name))
        per_row = peak_of(orven_frames.extract_features, frame_of(kind, data), frame_of(kind, fc.head(data)),
                          fc.SHAPES[name].arguments(), len(data["time"]))
    else:
        case = rc.CASES[name]
        data = rc.columns(case)
        per_row = peak_of(orven_frames.rolling_features, frame_of(kind, data),
                          frame_of(kind, rc.columns(case, small=True)), case.arguments(), len(data["time"]))
    print(json.dumps({"per_row": per_row}))


def table(what, names):
    for name in names:
        cells = []
        for kind in KINDS:
            completed = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", what, name, kind],
                                       capture_output=True, text=True, env=dict(os.environ, RAYON_NUM_THREADS="2"))
            if completed.returncode != 0:
                sys.stderr.write(completed.stderr)
                cells.append("failed")
                continue
            cells.append(f"{json.loads(completed.stdout)['per_row']:.1f}")
        print(f"{name:<18}" + "".join(f"{cell:>10}" for cell in cells), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shapes", default=",".join(fc.SHAPES))
    parser.add_argument("--rolling", default=",".join(ROLLING))
    parser.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(*args.child)
        return
    shapes = [s for s in args.shapes.split(",") if s]
    cases = [c for c in args.rolling.split(",") if c]
    if shapes:
        for shape in shapes:
            fc.numbers(shape)  # the cache made once, here
        print("extract_features: peak extra bytes per row of one call (resident size, whole process)")
        print(f"{'shape':<18}" + "".join(f"{kind:>10}" for kind in KINDS))
        table("shape", shapes)
    if cases:
        import orven_frames
        if not hasattr(orven_frames, "rolling_features"):
            print("\nrolling_features: skipped, orven_frames has no rolling_features yet")
            return
        print("\nrolling_features: peak extra bytes per reading of one call (resident size, whole process)")
        print(f"{'case':<18}" + "".join(f"{kind:>10}" for kind in KINDS))
        table("rolling", cases)


if __name__ == "__main__":
    main()
