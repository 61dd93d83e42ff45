"""Peak memory that one orven_frames call adds, in bytes per row.

    python3 frames_memory.py [shape,shape,...]

For each shape of frames_compare.py and each frame kind, a fresh process
builds the frame, makes one call on its first 1% of rows (libraries
loaded, pool started),
resets the kernel's record of its peak resident size, makes the call, and
reports (peak - resident before the call) / rows (a row of the wide shape
holds three readings).  This counts every
allocation of the call, native and Python alike, the result included.
Figures only; Linux only (it reads /proc/self).
"""

import json
import os
import subprocess
import sys

import frames_compare as fc

KINDS = ["mapping", "pandas", "polars"]


def status(field):
    with open("/proc/self/status") as text:
        for line in text:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(field)


def child(shape, kind):
    import orven_frames

    data = fc.columns(shape, fc.numbers(shape))
    # The mapping keeps its kinds (and string ids) as Python strings (object arrays).
    frame = data if kind == "mapping" else fc.build(f"orven_frames[{kind}]", data)
    arguments = fc.SHAPES[shape].arguments()
    orven_frames.extract_features(fc.head(data), **arguments)
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")
    before = status("VmRSS")
    table = orven_frames.extract_features(frame, **arguments)
    peak = status("VmHWM")
    rows = len(data["time"])
    print(json.dumps({"per_row": (peak - before) / rows, "rows": rows}))


def main():
    if len(sys.argv) == 3:
        child(sys.argv[1], sys.argv[2])
        return
    shapes = sys.argv[1].split(",") if len(sys.argv) == 2 else list(fc.SHAPES)
    for shape in shapes:
        fc.numbers(shape)  # the cache made once, here
    print("peak extra bytes per row of one call (resident size, whole process)")
    print(f"{'shape':<18}" + "".join(f"{kind:>10}" for kind in KINDS))
    for shape in shapes:
        cells = []
        for kind in KINDS:
            completed = subprocess.run([sys.executable, __file__, shape, kind], capture_output=True,
                                       text=True, env=dict(os.environ, RAYON_NUM_THREADS="2"))
            if completed.returncode != 0:
                sys.stderr.write(completed.stderr)
                cells.append("failed")
                continue
            cells.append(f"{json.loads(completed.stdout)['per_row']:.1f}")
        print(f"{shape:<18}" + "".join(f"{cell:>10}" for cell in cells), flush=True)


if __name__ == "__main__":
    main()
