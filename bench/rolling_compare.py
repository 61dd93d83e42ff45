"""Rolling windows over a long-format frame: orven_frames.rolling_features
next to polars, pandas and DuckDB window functions, and optionally the
naive way (every window cut out and passed to orven.extract_features).

    python3 rolling_compare.py [--cases a,b,...] [--tools a,b,...] [--repeat N]
                               [--rounds R] [--limit SECONDS] [--cut] [--check]

Cases (1,000 ids x 2 kinds, or 100 x 2; rows in time order, the series in
one random order at every step; kinds are strings):

    count100         windows of 100 readings ending at every reading,
                     2,000 series x 1,000 readings (2 M windows)
    count100-step10  the same windows ending at every 10th reading (the
                     10th, 20th, ...; 200,000 windows)
    count1000        windows of 1,000 readings at every reading, 200 series
                     x 10,000 readings (2 M windows)
    every            time windows span=1000, every=100 over irregular
                     integer times (gaps of 1 to 20, about 95 readings a
                     window), 2,000 series x 1,000 readings (about 210,000
                     windows)

The windows: a count window (size N, step S) ends at readings S-1, 2S-1, ...
of a series and holds the N readings ending there, fewer at the start; a
time window ends at each multiple of `every` from the first at or after
the series' first time to the first at or after its last, and holds the
readings with end - span < time <= end; windows with no reading are left
out.  The result is one row per window, sorted by id, kind and end: id,
kind, time (the end) and the ten features (population variance and
standard deviation).

The tools and how each is made to compute those windows (all inside the
clock, from the frame to the finished table):

    orven_frames[pandas|polars]  rolling_features(frame, id, kind, time,
                     value, size=, step=) or (span=, every=) on a pandas
                     or a polars frame ("not available" while the function
                     does not exist)
    pandas           groupby(id, kind).rolling(N, min_periods=1) on each of
                     value, |value| and value^2 (the frame is already in
                     time order within every series); every 10th reading
                     kept by groupby().cumcount(), since groupby rolling has
                     no step; time windows by marker rows: a NaN-valued row
                     at every window end, placed after the readings of the
                     same time, a time-based rolling "1000ns" with
                     closed="right" on the times taken as nanoseconds (NaN
                     is skipped by every rolling aggregate, and counted out
                     of the length), and the marker rows kept
    polars[expr]     sort by id, kind, time, then rolling_* expressions
                     .over(id, kind) with min_samples=1; every 10th kept by
                     int_range().over() % 10
    polars[rolling]  DataFrame.rolling on the reading's index in its series
                     with period "100i" (or "1000i"), group_by id, kind
    polars[dynamic]  group_by_dynamic, closed="right", label="right": for
                     count windows on the reading's index with every="10i",
                     period="100i", offset="-91i"; for time windows on the
                     time with every="100i", period="1000i", offset="-1000i";
                     in both the windows past the definition's last end,
                     which group_by_dynamic also gives while they hold
                     readings, are filtered out
    duckdb           window aggregates over WINDOW (PARTITION BY id, kind
                     ORDER BY time ROWS BETWEEN N-1 PRECEDING AND CURRENT
                     ROW); every 10th by QUALIFY row_number() % 10 = 0;
                     time windows by marker rows (NULL values, one per
                     window end, made with range() over each series' first
                     and last time) and RANGE BETWEEN 999 PRECEDING AND
                     CURRENT ROW, which is end - 1000 < time <= end for
                     integer times
    cut              (with --cut) sort by id, kind, time in pandas, the
                     window bounds in NumPy, a record {"value": view} per
                     window and one orven.extract_features call; the clock
                     stops at its list of dicts (no table is built)

polars[dynamic] runs on count windows with a step above 1 and on time
windows; polars[expr] and polars[rolling] on count windows only (their
windows end at every reading, not at the multiples of `every`).

Each (tool, thread count) runs in a child process of its own: one warm-up
call on the check's small frame, then the best of N on the case's frame; a
child past --limit seconds is stopped and shown as such.  With --rounds R
the tools take R turns and each cell keeps its best.  pandas and cut
compute on one thread whatever the setting: they run at one thread only
and their time stands in both columns.  Prints times, fastest peer /
orven_frames and the second worker's gain; figures only, nothing passes or
fails.  --check computes every case on a small frame with every tool and
compares each table with a plain-NumPy reference of the windows above (the
same rows, the same lengths, every feature within 1e-9 relative).  The
machine may be shared: the best of N is taken, and ratios are of times
measured in the same run.
"""

import argparse
import json
import os
import subprocess
import sys
import time
from dataclasses import dataclass, field

import numpy as np

import frames_compare as fc

FEATURES = fc.FEATURES
KEYS = ["id", "kind"]
KIND_NAMES = ["pressure", "temperature"]
OURS = ["orven_frames[pandas]", "orven_frames[polars]"]
PEERS = ["pandas", "polars[expr]", "polars[rolling]", "polars[dynamic]", "duckdb"]
TOOLS = OURS + PEERS
THREADS = [1, 2]
SINGLE_THREADED = {"pandas", "cut"}


@dataclass
class Case:
    description: str
    ids: int
    readings: int
    size: int = 0
    step: int = 1
    span: int = 0
    every: int = 0
    small: dict = field(default_factory=dict)

    def count(self):
        return self.size > 0

    def arguments(self):
        """orven_frames.rolling_features' arguments."""
        arguments = dict(id="id", kind="kind", time="time", value="value")
        if self.count():
            arguments.update(size=self.size, step=self.step)
        else:
            arguments.update(span=self.span, every=self.every)
        return arguments


CASES = {
    "count100": Case("windows of 100 readings at every reading, 2,000 series x 1,000 readings",
                     1_000, 1_000, size=100, small=dict(ids=3, readings=350)),
    "count100-step10": Case("windows of 100 readings at every 10th reading, 2,000 series x 1,000 readings",
                            1_000, 1_000, size=100, step=10, small=dict(ids=3, readings=355)),
    "count1000": Case("windows of 1,000 readings at every reading, 200 series x 10,000 readings",
                      100, 10_000, size=1_000, small=dict(ids=2, readings=2_600)),
    "every": Case("time windows span=1000 every=100, irregular times, 2,000 series x 1,000 readings",
                  1_000, 1_000, span=1_000, every=100, small=dict(ids=3, readings=400)),
}


def applies(tool, case):
    if tool in ("polars[expr]", "polars[rolling]"):
        return case.count()
    if tool == "polars[dynamic]":
        return not case.count() or case.step > 1
    return True


# ------------------------------------------------------------------ data

def columns(case, small=False, seed=11):
    """id (int64), kind (Python strings), time (int64), value: rows in time
    order, the series in one random order at every step."""
    rng = np.random.default_rng(seed)
    ids = case.small["ids"] if small else case.ids
    readings = case.small["readings"] if small else case.readings
    series = ids * len(KIND_NAMES)
    rank = rng.permutation(series)  # the series' place among those of one time
    series_of_row = np.repeat(np.arange(series), readings)
    if case.count():
        times = np.tile(np.arange(readings, dtype=np.int64), series)
    else:
        gaps = rng.integers(1, 21, size=(series, readings))
        gaps[:, 0] = rng.integers(0, 100, size=series)
        if small:
            # A gap longer than two spans: windows with no reading, left out.
            gaps[0, readings // 2] = 2 * case.span + case.every // 2
        times = np.cumsum(gaps, axis=1).reshape(-1).astype(np.int64)
    order = np.lexsort((rank[series_of_row], times))
    series_of_row, times = series_of_row[order], times[order]
    return {"id": series_of_row // len(KIND_NAMES),
            "kind": np.array(KIND_NAMES, dtype=object)[series_of_row % len(KIND_NAMES)],
            "time": times, "value": rng.normal(20.0, 5.0, len(times))}


def build(tool, data):
    if tool in ("orven_frames[pandas]", "pandas", "cut"):
        import pandas as pd
        return pd.DataFrame(data)
    if tool.startswith("orven_frames[polars]") or tool.startswith("polars"):
        import polars as pl
        return pl.DataFrame(data)
    import pyarrow as pa
    return pa.table({name: pa.array(column) for name, column in data.items()})


def window_ends(first, last, every):
    """Per series the multiples of `every` from the first >= first to the
    first >= last: (ends, how many of them each series has)."""
    low = -(-first // every) * every
    high = -(-last // every) * every
    counts = (high - low) // every + 1
    starts = np.repeat(np.cumsum(counts) - counts, counts)
    return np.repeat(low, counts) + every * (np.arange(counts.sum()) - starts), counts


# ----------------------------------------------------------------- tools

def runner(tool, frame, case, threads):
    """A function that makes `tool`'s table from `frame`."""
    N, S, D, E = case.size, case.step, case.span, case.every
    if tool.startswith("orven_frames"):
        import orven_frames
        arguments = case.arguments()
        return lambda: orven_frames.rolling_features(frame, **arguments)
    if tool == "pandas":
        return pandas_runner(frame, case)
    if tool.startswith("polars"):
        return polars_runner(tool, frame, case)
    if tool == "duckdb":
        import duckdb
        connection = duckdb.connect()
        connection.execute(f"SET threads = {threads}")
        connection.register("frame", frame)
        aggregates = ("max(abs(value)) OVER w AS absolute_maximum, avg(value) OVER w AS mean, "
                      "median(value) OVER w AS median, var_pop(value) OVER w AS variance, "
                      "stddev_pop(value) OVER w AS standard_deviation, count(value) OVER w AS length, "
                      "max(value) OVER w AS maximum, min(value) OVER w AS minimum, "
                      "sqrt(avg(value * value) OVER w) AS root_mean_square, sum(value) OVER w AS sum_values")
        if case.count():
            qualify = (f"QUALIFY row_number() OVER (PARTITION BY id, kind ORDER BY time) % {S} = 0 "
                       if S > 1 else "")
            query = (f"SELECT id, kind, time, {aggregates} FROM frame "
                     f"WINDOW w AS (PARTITION BY id, kind ORDER BY time ROWS BETWEEN {N - 1} PRECEDING "
                     f"AND CURRENT ROW) {qualify}ORDER BY id, kind, time")
        else:
            query = (f"WITH bounds AS (SELECT id, kind, min(time) AS first, max(time) AS last FROM frame "
                     f"GROUP BY id, kind), "
                     f"ends AS (SELECT id, kind, unnest(range((first + {E - 1}) // {E} * {E}, "
                     f"(last + {E - 1}) // {E} * {E} + 1, {E})) AS time FROM bounds), "
                     f"marked AS (SELECT id, kind, time, value, false AS marker FROM frame UNION ALL "
                     f"SELECT id, kind, time, NULL::DOUBLE, true FROM ends) "
                     f"SELECT id, kind, time, {aggregates} FROM marked "
                     f"WINDOW w AS (PARTITION BY id, kind ORDER BY time RANGE BETWEEN {D - 1} PRECEDING "
                     f"AND CURRENT ROW) QUALIFY marker AND count(value) OVER w >= 1 ORDER BY id, kind, time")
        return lambda: connection.sql(query).to_arrow_table()
    if tool == "cut":
        return cut_runner(frame, case)
    raise ValueError(tool)


def pandas_runner(frame, case):
    import pandas as pd
    N, S, D, E = case.size, case.step, case.span, case.every

    def table_of(grouped, roll):
        v = roll("value")
        return pd.DataFrame({
            "absolute_maximum": roll("absolute").max(), "mean": v.mean(), "median": v.median(),
            "variance": v.var(ddof=0), "standard_deviation": v.std(ddof=0), "length": v.count(),
            "maximum": v.max(), "minimum": v.min(), "root_mean_square": np.sqrt(roll("square").mean()),
            "sum_values": v.sum()})

    if case.count():
        def run():
            f = frame.assign(absolute=frame["value"].abs(), square=frame["value"] ** 2)
            grouped = f.groupby(KEYS, sort=True)
            table = table_of(grouped, lambda name: grouped[name].rolling(N, min_periods=1))
            rows = table.index.get_level_values(-1).to_numpy()
            table = table.reset_index(level=-1, drop=True).reset_index()
            table.insert(2, "time", frame["time"].to_numpy()[rows])
            if S > 1:
                table = table[grouped.cumcount().to_numpy()[rows] % S == S - 1].reset_index(drop=True)
            return table
        return run

    def run():
        bounds = frame.groupby(KEYS, sort=True)["time"].agg(["min", "max"])
        ends, counts = window_ends(bounds["min"].to_numpy(), bounds["max"].to_numpy(), E)
        markers = pd.DataFrame({"id": np.repeat(bounds.index.get_level_values(0).to_numpy(), counts),
                                "kind": np.repeat(bounds.index.get_level_values(1).to_numpy(), counts),
                                "time": ends, "value": np.nan, "marker": True})
        marked = pd.concat([frame.assign(marker=False), markers], ignore_index=True)
        # A marker after the readings of its own time, which its window holds.
        marked = marked.sort_values([*KEYS, "time", "marker"], kind="stable", ignore_index=True)
        marked = marked.assign(absolute=marked["value"].abs(), square=marked["value"] ** 2)
        marked.index = pd.DatetimeIndex(marked["time"].to_numpy().view("M8[ns]"))
        grouped = marked.groupby(KEYS, sort=True)
        table = table_of(grouped, lambda name: grouped[name].rolling(f"{D}ns", closed="right"))
        # Groups come in key order and keep their rows' order, which is
        # `marked`'s: the rows line up.
        keep = marked["marker"].to_numpy() & (table["length"].to_numpy() >= 1)
        table = table.reset_index(drop=True)[keep].reset_index(drop=True)
        chosen = marked[keep]
        for i, name in enumerate([*KEYS, "time"]):
            table.insert(i, name, chosen[name].to_numpy())
        return table
    return run


def polars_runner(tool, frame, case):
    import polars as pl
    N, S, D, E = case.size, case.step, case.span, case.every
    v = pl.col("value")
    plain = [v.abs().max().alias("absolute_maximum"), v.mean().alias("mean"), v.median().alias("median"),
             v.var(ddof=0).alias("variance"), v.std(ddof=0).alias("standard_deviation"),
             v.len().alias("length"), v.max().alias("maximum"), v.min().alias("minimum"),
             (v * v).mean().sqrt().alias("root_mean_square"), v.sum().alias("sum_values")]
    order = ["id", "kind", "time", *FEATURES]
    if tool == "polars[expr]":
        m = dict(window_size=N, min_samples=1)
        rolled = [v.abs().rolling_max(**m).alias("absolute_maximum"), v.rolling_mean(**m).alias("mean"),
                  v.rolling_median(**m).alias("median"), v.rolling_var(**m, ddof=0).alias("variance"),
                  v.rolling_std(**m, ddof=0).alias("standard_deviation"),
                  (pl.int_range(pl.len()) + 1).clip(upper_bound=N).alias("length"),
                  v.rolling_max(**m).alias("maximum"), v.rolling_min(**m).alias("minimum"),
                  (v * v).rolling_mean(**m).sqrt().alias("root_mean_square"), v.rolling_sum(**m).alias("sum_values")]

        def run():
            table = frame.sort([*KEYS, "time"]).select(*KEYS, "time", *[e.over(KEYS) for e in rolled])
            if S > 1:
                table = table.filter(pl.int_range(pl.len()).over(KEYS) % S == S - 1)
            return table
        return run
    if tool == "polars[rolling]":
        def run():
            table = (frame.sort([*KEYS, "time"]).with_columns(reading=pl.int_range(pl.len()).over(KEYS))
                     .rolling("reading", period=f"{N}i", group_by=KEYS)
                     .agg(pl.col("time").last(), *plain))
            if S > 1:
                table = table.filter(pl.col("reading") % S == S - 1)
            return table.select(order)
        return run
    if tool == "polars[dynamic]" and case.count():
        def run():
            table = (frame.sort([*KEYS, "time"])
                     .with_columns(reading=pl.int_range(pl.len()).over(KEYS), last=(pl.len() - 1).over(KEYS))
                     .group_by_dynamic("reading", every=f"{S}i", period=f"{N}i", offset=f"{S - 1 - N}i",
                                       closed="right", label="right", group_by=KEYS)
                     .agg(pl.col("time").last(), pl.col("last").first(), *plain))
            return table.filter(pl.col("reading") <= pl.col("last")).select(order)
        return run
    if tool == "polars[dynamic]":
        def run():
            table = (frame.sort([*KEYS, "time"]).with_columns(last=pl.col("time").max().over(KEYS))
                     .group_by_dynamic("time", every=f"{E}i", period=f"{D}i", offset=f"{-D}i",
                                       closed="right", label="right", group_by=KEYS)
                     .agg(pl.col("last").first(), *plain))
            # The last end is the first multiple at or after the last time.
            return table.filter(pl.col("time") - E < pl.col("last")).select(order)
        return run
    raise ValueError(tool)


def cut_runner(frame, case):
    import orven
    N, S, D, E = case.size, case.step, case.span, case.every

    def run():
        ordered = frame.sort_values([*KEYS, "time"], kind="stable")
        values = ordered["value"].to_numpy()
        sizes = ordered.groupby(KEYS, sort=False).size().to_numpy()
        starts = np.cumsum(sizes) - sizes
        if case.count():
            per = sizes // S
            first = np.repeat(starts, per)
            ends = first + S * (np.arange(per.sum()) - np.repeat(np.cumsum(per) - per, per)) + S - 1
            low, high = np.maximum(first, ends - N + 1), ends + 1
        else:
            times = ordered["time"].to_numpy()
            series = np.repeat(np.arange(len(sizes)), sizes)
            # Series-major keys, so that one searchsorted finds every bound.
            key = series * (1 << 40) + times
            ends, counts = window_ends(times[starts], times[starts + sizes - 1], E)
            base = np.repeat(np.arange(len(sizes)), counts) * (1 << 40)
            low = np.searchsorted(key, base + ends - D, side="right")
            high = np.searchsorted(key, base + ends, side="right")
            keep = high > low
            low, high = low[keep], high[keep]
        records = [{"value": values[a:b]} for a, b in zip(low.tolist(), high.tolist())]
        return orven.extract_features(records)
    return run


# ----------------------------------------------------------------- reference

def reference(data, case):
    """The windows by their definitions, one series and one window at a
    time, in plain NumPy."""
    import pandas as pd
    kinds = np.unique(data["kind"], return_inverse=True)[1]
    order = np.lexsort((data["time"], kinds, data["id"]))
    ids, kind, times, values = (data[n][order] for n in ("id", "kind", "time", "value"))
    boundaries = np.flatnonzero((np.diff(ids) != 0) | (kind[1:] != kind[:-1])) + 1
    rows = []
    for part in np.split(np.arange(len(ids)), boundaries):
        t, v = times[part], values[part]
        if case.count():
            windows = [(t[j], v[max(0, j - case.size + 1):j + 1]) for j in range(case.step - 1, len(v), case.step)]
        else:
            ends, _ = window_ends(np.array([t[0]]), np.array([t[-1]]), case.every)
            windows = [(e, v[(t > e - case.span) & (t <= e)]) for e in ends]
        for end, w in windows:
            if len(w) == 0:
                continue
            rows.append((ids[part[0]], kind[part[0]], end, np.max(np.abs(w)), np.mean(w), np.median(w),
                         np.var(w), np.std(w), len(w), np.max(w), np.min(w), np.sqrt(np.mean(w * w)), np.sum(w)))
    return pd.DataFrame(rows, columns=["id", "kind", "time", *FEATURES])


def normalised(result):
    """Any tool's table as a pandas frame id (str), kind (str), time,
    features, sorted by id, kind and time."""
    import pandas as pd
    if isinstance(result, list):
        raise TypeError("a list of features has no keys")
    table = result.to_pandas() if hasattr(result, "to_pandas") else pd.DataFrame(result)
    table = table[["id", "kind", "time", *FEATURES]].copy()
    table["id"] = table["id"].astype(str)
    table["kind"] = table["kind"].astype(str)
    table["time"] = table["time"].astype(np.int64)
    return table.sort_values(["id", "kind", "time"]).reset_index(drop=True)


def cut_table(features, expected):
    """The cut tool's list of feature dicts, keyed by the reference's rows
    (the windows come in the same order when they are the same)."""
    import pandas as pd
    table = pd.DataFrame([f["value"] for f in features])
    if len(table) != len(expected):
        return table
    for i, name in enumerate(["id", "kind", "time"]):
        table.insert(i, name, expected[name].to_numpy())
    return table


def check(cases, tools):
    import orven_frames
    print("each tool's table against a plain-NumPy reference of the windows on a small frame "
          "(same rows, same lengths, every feature within 1e-9 relative)")
    for name in cases:
        case = CASES[name]
        data = columns(case, small=True)
        expected = normalised(reference(data, case))
        print(f"\n{name} ({len(data['time']):,} rows, {len(expected):,} windows)")
        for tool in tools:
            if not applies(tool, case):
                continue
            if tool in OURS and not hasattr(orven_frames, "rolling_features"):
                print(f"  {tool:<22}not available (orven_frames has no rolling_features)")
                continue
            result = runner(tool, build(tool, data), case, 1)()
            if tool == "cut":
                table = cut_table(result, expected)
                if len(table) != len(expected):
                    print(f"  {tool:<22}{len(table)} windows, the reference has {len(expected)}")
                    continue
            else:
                table = normalised(result)
            notes = fc.differences(expected, table, keys=("id", "kind", "time"))
            print(f"  {tool:<22}" + ("same rows and lengths, every feature within 1e-9" if not notes
                                      else "; ".join(notes)))


# ----------------------------------------------------------------- runs

def child(tool, name, threads, repeat):
    case = CASES[name]
    if tool in OURS:
        import orven_frames
        if not hasattr(orven_frames, "rolling_features"):
            print(json.dumps({"missing": True}))
            return
    runner(tool, build(tool, columns(case, small=True)), case, threads)()  # libraries loaded, pools started
    run = runner(tool, build(tool, columns(case)), case, threads)
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    print(json.dumps({"seconds": best}))


NOT_AVAILABLE, STOPPED, FAILED = "not available", "stopped", "failed"


def measure(tool, name, threads, repeat, limit):
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads), POLARS_MAX_THREADS=str(threads),
               OMP_NUM_THREADS=str(threads))
    try:
        completed = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", tool, name, str(threads),
                                    str(repeat)], env=env, capture_output=True, text=True, check=False,
                                   timeout=limit)
    except subprocess.TimeoutExpired:
        return STOPPED
    if completed.returncode != 0:
        sys.stderr.write(f"{tool} on {name} at {threads} thread(s) failed:\n{completed.stderr}")
        return FAILED
    outcome = json.loads(completed.stdout.strip().splitlines()[-1])
    return NOT_AVAILABLE if outcome.get("missing") else outcome["seconds"]


def cell(value):
    return f"{value:>14.3f}" if isinstance(value, float) else f"{value:>14}"


def better(a, b):
    """The better of two outcomes of one cell: the shorter time, or a time
    over a failure."""
    if isinstance(a, float) and isinstance(b, float):
        return min(a, b)
    return a if isinstance(a, float) or not isinstance(b, float) else b


def compare(cases, tools, repeat, limit, rounds):
    print(f"best of {repeat} runs per cell{f' in each of {rounds} rounds' if rounds > 1 else ''}, seconds from "
          f"frame to finished table, a child stopped after {limit:.0f} s; pandas and cut run on one thread "
          f"(their time repeated at 2)")
    ours = [t for t in tools if t in OURS]
    for name in cases:
        case = CASES[name]
        print(f"\n{name}: {case.description}")
        print(f"{'tool':<34}" + "".join(f"{f'{t} thread' + ('s' if t > 1 else ''):>14}" for t in THREADS)
              + f"{'2nd worker':>14}")
        times = {}
        # Rounds take turns over the tools, so that a busy spell of the
        # machine falls on several tools rather than on one.
        for round_index in range(rounds):
            for tool in tools:
                if not applies(tool, case):
                    measured = ["n/a"] * len(THREADS)
                elif tool in SINGLE_THREADED:
                    measured = [measure(tool, name, 1, repeat, limit)] * len(THREADS)
                else:
                    measured = [measure(tool, name, t, repeat, limit) for t in THREADS]
                times[tool] = [better(a, b) for a, b in zip(times[tool], measured)] if tool in times else measured
                if round_index + 1 < rounds:
                    continue
                numbers = all(isinstance(s, float) for s in times[tool])
                gain = (f"{times[tool][0] / times[tool][1]:>13.2f}x" if numbers and tool not in SINGLE_THREADED
                        else f"{'-':>14}")
                print(f"{tool:<34}" + "".join(cell(s) for s in times[tool]) + gain, flush=True)
        peers = [t for t in tools if t in PEERS]
        for our in ours:
            line = []
            for i, _ in enumerate(THREADS):
                measured = [times[p][i] for p in peers if isinstance(times[p][i], float)]
                if measured and isinstance(times[our][i], float):
                    line.append(f"{min(measured) / times[our][i]:>13.2f}x")
                else:
                    line.append(f"{'-':>14}")
            print(f"{'fastest peer / ' + our:<34}" + "".join(line))
        if "cut" in tools:
            for our in ours:
                if isinstance(times[our][0], float) and isinstance(times["cut"][0], float):
                    print(f"{'cut / ' + our:<34}" + "".join(f"{times['cut'][i] / times[our][i]:>13.2f}x"
                                                            for i, _ in enumerate(THREADS)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cases", default=",".join(CASES))
    parser.add_argument("--tools", default=",".join(TOOLS))
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--limit", type=float, default=180.0, help="seconds a child may take")
    parser.add_argument("--rounds", type=int, default=1, help="turns over all tools, the best kept")
    parser.add_argument("--cut", action="store_true", help="also time the naive way")
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--child", nargs=4, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child[0], args.child[1], int(args.child[2]), int(args.child[3]))
        return
    cases, tools = args.cases.split(","), args.tools.split(",")
    if args.cut and "cut" not in tools:
        tools.append("cut")
    for name in cases:
        if name not in CASES:
            parser.error(f"unknown case {name!r}; known: {', '.join(CASES)}")
    for name in tools:
        if name not in TOOLS + ["cut"]:
            parser.error(f"unknown tool {name!r}; known: {', '.join(TOOLS + ['cut'])}")
    if args.check:
        check(cases, tools)
    else:
        compare(cases, tools, args.repeat, args.limit, args.rounds)


if __name__ == "__main__":
    main()
