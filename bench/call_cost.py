"""What one extract_features call costs per series, at 1, 2 and 7 workers.

    python bench/call_cost.py [--quick] [--builds DIR [DIR ...]]

For each shape it prints the best wall time of several calls, the
microseconds per series, the nanoseconds per value, and the speedup of each
worker count over one worker.  The pool's size is fixed once per process, so
every (build, worker count) pair runs in a child process of its own, with
the interpreter that runs this script.

Without --builds the children import the orven that this interpreter finds.
With --builds, each DIR (a directory holding a built orven module, such as
build/dev/bindings) is put first on the children's path; the builds take
turns round by round, so that a busy machine slows them alike, and each
build's figures are also given as a ratio to the first build's (below 1:
faster).  Figures only: nothing here passes or fails.
"""

import argparse
import json
import os
import subprocess
import sys

# (label, how the series are made)
SHAPES = [
    ("tiny: 100,000 x 10", "tiny"),
    ("records: 20,000 x 5 columns x 200", "records"),
    ("long: 20 x 1,000,000", "long"),
    ("uneven: 2,000 of 10 to 200,000", "uneven"),
]
WORKERS = [1, 2, 7]

CHILD = r"""
import json, sys, time
import numpy as np
import orven

shape, repetitions = sys.argv[1], int(sys.argv[2])
rng = np.random.default_rng(8)
if shape == "tiny":
    data = [{"x": rng.normal(size=10)} for _ in range(100_000)]
elif shape == "records":
    data = [{f"c{c}": rng.normal(size=200) for c in range(5)} for _ in range(20_000)]
elif shape == "long":
    data = [{"x": rng.normal(size=1_000_000)} for _ in range(20)]
else:
    lengths = np.exp(rng.uniform(np.log(10), np.log(200_000), 2_000)).astype(int)
    data = [{"x": rng.normal(size=n)} for n in lengths]
series = sum(len(record) for record in data)
values = sum(a.size for record in data for a in record.values())
orven.extract_features(data)  # pool started, one-time values filled
best = float("inf")
for _ in range(repetitions):
    start = time.perf_counter()
    orven.extract_features(data)
    best = min(best, time.perf_counter() - start)
print(json.dumps({"seconds": best, "series": series, "values": values}))
"""


def run_child(build, shape, workers, repetitions):
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    env.pop("RAYON_RS_NUM_CPUS", None)
    if build is not None:
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [build, env.get("PYTHONPATH")]))
    out = subprocess.run([sys.executable, "-c", CHILD, shape, str(repetitions)],
                         env=env, check=True, capture_output=True, text=True).stdout
    return json.loads(out.splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer rounds and calls")
    parser.add_argument("--builds", nargs="+", metavar="DIR", help="module directories to compare")
    args = parser.parse_args()
    builds = args.builds or [None]
    rounds, repetitions = (1, 2) if args.quick else (3, 5)

    print(f"{os.cpu_count()} CPUs; best of {rounds} rounds x {repetitions} calls")
    for label, shape in SHAPES:
        print(f"\n{label}")
        best = {}
        for _ in range(rounds):
            for workers in WORKERS:
                for build in builds:
                    figures = run_child(build, shape, workers, repetitions)
                    key = (build, workers)
                    if key not in best or figures["seconds"] < best[key]["seconds"]:
                        best[key] = figures
        for build in builds:
            if build is not None:
                print(f"  {build}")
            for workers in WORKERS:
                f = best[(build, workers)]
                speedup = best[(build, 1)]["seconds"] / f["seconds"]
                line = (f"    {workers} worker{'s' if workers > 1 else ' '}: {f['seconds'] * 1e3:9.2f} ms"
                        f"  {f['seconds'] * 1e6 / f['series']:8.3f} us/series"
                        f"  {f['seconds'] * 1e9 / max(f['values'], 1):7.3f} ns/value"
                        f"  x{speedup:4.2f} over 1 worker")
                if build != builds[0]:
                    line += f"  ratio to first build {f['seconds'] / best[(builds[0], workers)]['seconds']:.3f}"
                print(line)


if __name__ == "__main__":
    main()
