"""From a long-format frame to the finished feature table: orven_frames
next to pandas, polars and DuckDB.

    python3 frames_compare.py [--shapes sensors,tiny,long] [--repeat N]

Each shape is a long frame (id, kind, time, value) with rows in time order
and the ids interleaved, kinds as strings.  Frames are built before the
clock starts; the clock covers everything from the frame to the finished
table.  Every peer computes the same ten aggregates (population variance
and standard deviation) grouping directly, which keeps each group's rows in
frame order; orven_frames is also given the time column, checks the order
and finds nothing to sort.  Each (tool, thread count) runs in a child
process of its own, since pools are sized once per process, and reports
the best of N runs.  Prints times and ratios; nothing passes or fails.
"""

import argparse
import json
import os
import subprocess
import sys
import time

import numpy as np

SHAPES = {
    # name: (ids, kinds, readings per series)
    "sensors": (20_000, 3, 100),
    "tiny": (100_000, 1, 10),
    "long": (10, 2, 1_000_000),
}
KIND_NAMES = ["pressure", "temperature", "vibration"]
TOOLS = ["orven_frames[pandas]", "orven_frames[polars]", "pandas", "polars", "duckdb"]
PEERS = ["pandas", "polars", "duckdb"]
THREADS = [1, 2]


def columns(shape, seed=5):
    ids, kinds, readings = SHAPES[shape]
    rng = np.random.default_rng(seed)
    rows = ids * kinds * readings
    # Time-major: every reading of every series at t = 0, then t = 1, ...
    time_col = np.repeat(np.arange(readings, dtype=np.int64), ids * kinds)
    id_col = np.tile(np.repeat(np.arange(ids, dtype=np.int64), kinds), readings)
    kind_col = np.tile(np.array(KIND_NAMES[:kinds], dtype=object), ids * readings)
    return {"id": id_col, "kind": kind_col, "time": time_col, "value": rng.normal(20.0, 5.0, rows)}


def build(tool, data):
    if tool in ("orven_frames[pandas]", "pandas"):
        import pandas as pd
        return pd.DataFrame(data)
    if tool in ("orven_frames[polars]", "polars"):
        import polars as pl
        return pl.DataFrame(data)
    import pyarrow as pa
    return pa.table({name: (column.astype(str) if column.dtype == object else column)
                     for name, column in data.items()})


def runner(tool, frame):
    if tool.startswith("orven_frames"):
        import orven_frames
        return lambda: orven_frames.extract_features(frame, id="id", kind="kind", time="time", value="value")
    if tool == "pandas":
        def run():
            grouped = frame.assign(absolute=frame["value"].abs(), square=frame["value"] ** 2).groupby(
                ["id", "kind"], sort=True)
            table = grouped.agg(absolute_maximum=("absolute", "max"), mean=("value", "mean"),
                                median=("value", "median"), length=("value", "size"),
                                maximum=("value", "max"), minimum=("value", "min"),
                                sum_values=("value", "sum"), mean_square=("square", "mean"))
            table["variance"] = grouped["value"].var(ddof=0)
            table["standard_deviation"] = grouped["value"].std(ddof=0)
            table["root_mean_square"] = np.sqrt(table.pop("mean_square"))
            return table.reset_index()
        return run
    if tool == "polars":
        import polars as pl
        v = pl.col("value")
        return lambda: frame.group_by(["id", "kind"]).agg(
            v.abs().max().alias("absolute_maximum"), v.mean().alias("mean"), v.median().alias("median"),
            v.var(ddof=0).alias("variance"), v.std(ddof=0).alias("standard_deviation"),
            v.len().alias("length"), v.max().alias("maximum"), v.min().alias("minimum"),
            (v * v).mean().sqrt().alias("root_mean_square"), v.sum().alias("sum_values")).sort(["id", "kind"])
    if tool == "duckdb":
        import duckdb
        connection = duckdb.connect()
        connection.execute(f"SET threads = {os.environ['BENCH_THREADS']}")
        connection.register("frame", frame)
        query = ("SELECT id, kind, max(abs(value)), avg(value), median(value), var_pop(value), "
                 "stddev_pop(value), count(*), max(value), min(value), sqrt(avg(value * value)), "
                 "sum(value) FROM frame GROUP BY id, kind ORDER BY id, kind")
        return lambda: connection.execute(query).to_arrow_table()
    raise ValueError(tool)


def child(tool, shape, repeat):
    frame = build(tool, columns(shape))
    run = runner(tool, frame)
    run()  # warm: pools started, libraries loaded
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    print(json.dumps({"seconds": best}))


def measure(tool, shape, threads, repeat):
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads), POLARS_MAX_THREADS=str(threads),
               BENCH_THREADS=str(threads), OMP_NUM_THREADS=str(threads))
    completed = subprocess.run([sys.executable, __file__, "--child", tool, shape, str(repeat)],
                               env=env, capture_output=True, text=True, check=False)
    if completed.returncode != 0:
        sys.stderr.write(completed.stderr)
        return float("nan")
    return json.loads(completed.stdout.strip().splitlines()[-1])["seconds"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--shapes", default=",".join(SHAPES))
    parser.add_argument("--tools", default=",".join(TOOLS))
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--child", nargs=3)
    args = parser.parse_args()
    if args.child:
        child(args.child[0], args.child[1], int(args.child[2]))
        return
    tools = args.tools.split(",")
    print(f"best of {args.repeat} runs per cell, seconds from frame to finished table")
    for shape in args.shapes.split(","):
        ids, kinds, readings = SHAPES[shape]
        print(f"\n{shape}: {ids:,} ids x {kinds} kinds x {readings:,} readings ({ids * kinds * readings:,} rows)")
        print(f"{'tool':<22}" + "".join(f"{f'{t} thread' + ('s' if t > 1 else ''):>12}" for t in THREADS))
        times = {tool: [measure(tool, shape, t, args.repeat) for t in THREADS] for tool in tools}
        for tool in tools:
            print(f"{tool:<22}" + "".join(f"{s:>12.4f}" for s in times[tool]))
        peers = [tool for tool in tools if tool in PEERS]
        for ours in (tool for tool in tools if tool.startswith("orven_frames")):
            if not peers:
                break
            ratios = []
            for i, _ in enumerate(THREADS):
                fastest = min(times[p][i] for p in peers)
                ratios.append(fastest / times[ours][i])
            print(f"{'fastest peer / ' + ours.split('[')[1][:-1]:<22}" + "".join(f"{r:>11.2f}x" for r in ratios))
        for ours in (tool for tool in tools if tool.startswith("orven_frames")):
            print(f"{'2nd thread gain ' + ours.split('[')[1][:-1]:<22}{times[ours][0] / times[ours][1]:>23.2f}x")


if __name__ == "__main__":
    main()
