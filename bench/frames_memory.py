"""Peak memory that one orven_frames call adds, in bytes per row.

    python3 frames_memory.py

For each shape of frames_compare.py and each frame kind, a fresh process
builds the frame, makes one small call (libraries loaded, pool started),
resets the kernel's record of its peak resident size, makes the call, and
reports (peak - resident before the call) / rows.  This counts every
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

    data = fc.columns(shape)
    # The mapping keeps its kinds as Python strings (an object array).
    frame = data if kind == "mapping" else fc.build(f"orven_frames[{kind}]", data)
    arguments = dict(id="id", kind="kind", time="time", value="value")
    small = {name: column[:1000] for name, column in data.items()}
    orven_frames.extract_features(small, **arguments)
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")
    before = status("VmRSS")
    table = orven_frames.extract_features(frame, **arguments)
    peak = status("VmHWM")
    rows = len(data["value"])
    print(json.dumps({"per_row": (peak - before) / rows, "series": len(table["mean"]), "rows": rows}))


def main():
    if len(sys.argv) == 3:
        child(sys.argv[1], sys.argv[2])
        return
    print("peak extra bytes per row of one call (resident size, whole process)")
    print(f"{'shape':<10}" + "".join(f"{kind:>10}" for kind in KINDS))
    for shape in fc.SHAPES:
        cells = []
        for kind in KINDS:
            completed = subprocess.run([sys.executable, __file__, shape, kind], capture_output=True,
                                       text=True, env=dict(os.environ, RAYON_NUM_THREADS="2"))
            if completed.returncode != 0:
                sys.stderr.write(completed.stderr)
                cells.append("failed")
                continue
            cells.append(f"{json.loads(completed.stdout)['per_row']:.1f}")
        print(f"{shape:<10}" + "".join(f"{cell:>10}" for cell in cells))


if __name__ == "__main__":
    main()
