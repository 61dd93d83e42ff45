"""End-to-end cost of one extract_features call next to polars and DuckDB.

    python3 compare.py [--quick] [--only orven|polars|duckdb]

For each shape (records x columns x values per series) it prints, for orven
at 1 and 2 workers and for polars' ``group_by().agg`` and DuckDB's
``GROUP BY`` at 1 and 2 threads, the best wall time of several calls, the
microseconds per series, the million values per second, and the ratio of
orven's time to each peer's (below 1: orven is faster).  The peers compute
the same ten aggregates over the same values in long format (a group key
and a value column); their frames are built before the clock starts and
their output stays columnar.

The size of orven's pool and of polars' pool is fixed once per process, so
every (engine, thread count) pair runs in a subprocess of its own.  Figures
only: nothing here passes or fails.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

# (label, records, columns, values per series, series as views of one buffer)
SHAPES = [
    ("100,000 x 1 x 0", 100_000, 1, 0, False),
    ("100,000 x 1 x 10", 100_000, 1, 10, False),
    ("20,000 x 1 x 10 views", 20_000, 1, 10, True),
    ("100,000 x 1 x 10 views", 100_000, 1, 10, True),
    ("20,000 x 5 x 200", 20_000, 5, 200, False),
    ("10,000 x 1 x 1,000", 10_000, 1, 1_000, False),
]
ENGINES = ["orven", "polars", "duckdb"]
THREADS = [1, 2]

# Best of this many calls, fewer once a shape has taken this long.
REPETITIONS = 5
BUDGET_SECONDS = 2.0


def values_for(records, columns, length, seed=8):
    """One long buffer holding every series, record-major then column-major."""
    rng = np.random.default_rng(seed)
    return rng.normal(0.0, 1e3, records * columns * length)


def best_time(call, repetitions, budget):
    best = float("inf")
    spent = 0.0
    for _ in range(repetitions):
        start = time.perf_counter()
        call()
        elapsed = time.perf_counter() - start
        best = min(best, elapsed)
        spent += elapsed
        if spent > budget:
            break
    return best


def orven_setup(records, columns, length, views):
    buffer = values_for(records, columns, length)
    names = [f"c{index}" for index in range(columns)]
    data = []
    position = 0
    for _ in range(records):
        record = {}
        for name in names:
            piece = buffer[position : position + length]
            # A view borrows the one buffer; a copy owns its own memory.
            record[name] = piece if views else piece.copy()
            position += length
        data.append(record)
    import orven

    return lambda: orven.extract_features(data)


def long_format(records, columns, length):
    values = values_for(records, columns, length)
    keys = np.repeat(np.arange(records * columns, dtype=np.int64), length)
    return keys, values


def polars_setup(records, columns, length, views):
    import polars as pl

    keys, values = long_format(records, columns, length)
    frame = pl.DataFrame({"k": keys, "v": values})
    v = pl.col("v")
    aggregates = [
        v.abs().max().alias("absolute_maximum"),
        v.mean().alias("mean"),
        v.median().alias("median"),
        v.var(ddof=0).alias("variance"),
        v.std(ddof=0).alias("standard_deviation"),
        v.len().alias("length"),
        v.max().alias("maximum"),
        v.min().alias("minimum"),
        (v * v).mean().sqrt().alias("root_mean_square"),
        v.sum().alias("sum_values"),
    ]
    return lambda: frame.group_by("k").agg(aggregates)


def duckdb_setup(records, columns, length, views, threads):
    import duckdb
    import polars as pl

    keys, values = long_format(records, columns, length)
    connection = duckdb.connect()
    connection.execute(f"SET threads = {threads}")
    # The table is loaded into DuckDB's own storage before timing, through
    # a Parquet file (which needs no further Python package).
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "long.parquet")
        pl.DataFrame({"k": keys, "v": values}).write_parquet(path)
        connection.execute(f"CREATE TABLE t AS SELECT * FROM read_parquet('{path}')")
    query = (
        "SELECT k, max(abs(v)), avg(v), median(v), var_pop(v), stddev_pop(v), count(v), "
        "max(v), min(v), sqrt(avg(v * v)), sum(v) FROM t GROUP BY k"
    )
    return lambda: connection.execute(query).fetchnumpy()


def run_worker(engine, threads, quick, skip):
    results = {}
    for label, records, columns, length, views in SHAPES:
        if any(part in label for part in skip):
            continue
        if quick and views and records > 20_000:
            continue
        if engine != "orven" and (views or length == 0):
            # Long format has no notion of views; zero-length series have
            # no rows at all.
            continue
        if engine == "orven":
            call = orven_setup(records, columns, length, views)
        elif engine == "polars":
            call = polars_setup(records, columns, length, views)
        else:
            call = duckdb_setup(records, columns, length, views, threads)
        # The first call warms up the pool, the imports and fresh memory;
        # one that already took the whole budget stands as the only figure.
        start = time.perf_counter()
        call()
        first = time.perf_counter() - start
        if first > BUDGET_SECONDS:
            results[label] = first
        else:
            results[label] = best_time(call, 1 if quick else REPETITIONS, BUDGET_SECONDS)
    json.dump(results, sys.stdout)


def environment_for(engine, threads):
    env = dict(os.environ)
    if engine == "orven":
        env["RAYON_NUM_THREADS"] = str(threads)
    elif engine == "polars":
        env["POLARS_MAX_THREADS"] = str(threads)
    return env


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="one call per shape, skip 100,000 views")
    parser.add_argument("--only", choices=ENGINES, action="append")
    parser.add_argument("--skip", action="append", default=[], metavar="SHAPE",
                        help="leave out the shapes whose label contains SHAPE, e.g. '100,000 x 1 x 10 views'")
    parser.add_argument("--worker", choices=ENGINES, help=argparse.SUPPRESS)
    parser.add_argument("--threads", type=int, default=1, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        run_worker(args.worker, args.threads, args.quick, args.skip)
        return

    engines = args.only or ENGINES
    times = {}
    for engine in engines:
        for threads in THREADS:
            command = [sys.executable, __file__, "--worker", engine, "--threads", str(threads)]
            if args.quick:
                command.append("--quick")
            for part in args.skip:
                command += ["--skip", part]
            output = subprocess.run(
                command, env=environment_for(engine, threads), check=True, capture_output=True, text=True
            ).stdout
            times[(engine, threads)] = json.loads(output)

    print(f"{'shape':<24}{'thr':>4}{'engine':>8}{'best s':>10}{'us/series':>11}{'Mval/s':>9}"
          f"{'orven/peer':>12}")
    for label, records, columns, length, _ in SHAPES:
        if not any(label in result for result in times.values()):
            continue
        series = records * columns
        for threads in THREADS:
            mine = times.get(("orven", threads), {}).get(label)
            for engine in engines:
                seconds = times[(engine, threads)].get(label)
                if seconds is None:
                    continue
                rate = f"{series * length / seconds / 1e6:9.1f}" if length else f"{'-':>9}"
                ratio = f"{mine / seconds:12.2f}" if engine != "orven" and mine else f"{'':>12}"
                print(f"{label:<24}{threads:>4}{engine:>8}{seconds:10.4f}"
                      f"{seconds / series * 1e6:11.3f}{rate}{ratio}")
        print()


if __name__ == "__main__":
    main()
