"""From a long-format frame to the finished feature table: orven_frames
next to pandas, polars and DuckDB, on row orders and shapes that suit a
counting sort and on ones that do not, with a native floor beside them.

    python3 frames_compare.py [--shapes a,b,...] [--tools a,b,...] [--repeat N] [--rounds R]
                              [--check]

Shapes (a long frame id, kind, time, value unless said otherwise; "random
order" means time order, the series in one random order at every step):

    sensors           20,000 ids x 3 kinds x 100 readings (6 M rows), time
                      order, the series in ascending order at every step
    sensors-random    the same readings, the series in random order
    sensors-shuffled  the same readings, rows shuffled entirely (time out
                      of order)
    tiny              100,000 ids x 1 kind x 10 readings, random order
    long              10 ids x 2 kinds x 10^6 readings, random order
    skewed            about 10 M rows in series whose lengths are
                      log-uniform from 10 to 10^5 (3 kinds an id), random
                      order
    strings           sensors with string ids ("sensor-000123"), rows
                      shuffled
    wide              20,000 ids x 100 readings, one value column per kind
                      (pressure, temperature, vibration), no kind column,
                      random order; orven_frames is called with wide=True
                      and every peer gives one row per id
    nan               sensors-random with 0.5% of the readings NaN, dropped
                      (orven_frames nan="drop"; pandas' aggregates skip NaN
                      and length counts the others; polars and DuckDB
                      filter NaN out before grouping)

Kinds are strings.  Frames are built before the clock starts; the clock
covers everything from the frame to the finished table.  Every peer
computes the same ten aggregates (population variance and standard
deviation) grouping directly, which needs no time order; orven_frames is
also given the time column and sorts only the series found out of order.
Each (tool, thread count) runs in a child process of its own, since pools
are sized once per process: one warm-up call (libraries loaded, pools
started), then the best of N calls.  With --rounds R the tools take R
turns and each cell keeps its best.  pandas computes on one thread
whatever the setting, so it runs at one thread only and its time stands in
both columns.

The floor (tool "floor", bench/floor.c, compiled here with cc -O2 into
build/bench/) is the least any such call must do, timed natively: one read
of every byte of every key and time column as the pandas frame holds them
(int64 numbers; Arrow large_string offsets and data for strings, kinds
included) and one scatter of every value into a buffer of (rows x value
columns) doubles, already written once before the clock, at each value's
position in (id, kind, time) order; the positions are worked out before the
clock and read (8 bytes a value) by the scatter, which is the value
column's one read.  The rows are split into equal slices over the thread
count with POSIX threads; the clock includes starting and joining them.

Prints per shape and thread count every tool's time, the gain from the
second worker, fastest peer / orven_frames for the pandas and the polars
frame, orven_frames / floor, and at the end the worst and best case of each
ratio over all shapes.  --check instead compares, on a small frame of each
shape, every peer's table with orven_frames' (the same groups, every
feature within 1e-9 relative) and says where they differ.  Figures only;
nothing passes or fails.  The machine may be shared: the best of N is
taken, and ratios are of times measured in the same run.
"""

import argparse
import ctypes
import hashlib
import json
import os
import subprocess
import sys
import time
from dataclasses import dataclass, field

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "bench")
CACHE = os.path.join(BUILD, "frames-cache")

FEATURES = ("absolute_maximum", "mean", "median", "variance", "standard_deviation",
            "length", "maximum", "minimum", "root_mean_square", "sum_values")
KIND_NAMES = ["pressure", "temperature", "vibration"]
OURS = ["orven_frames[pandas]", "orven_frames[polars]"]
PEERS = ["pandas", "polars", "duckdb"]
TOOLS = OURS + PEERS + ["floor"]
THREADS = [1, 2]
SINGLE_THREADED = {"pandas"}


@dataclass
class Shape:
    description: str
    ids: int
    kinds: int
    readings: int = 0           # readings per series, or 0 for skewed lengths
    order: str = "random"       # "ascending", "random" or "shuffled"
    strings: bool = False       # string ids
    wide: bool = False          # one value column per kind, no kind column
    nan: float = 0.0            # share of NaN readings, dropped
    small: dict = field(default_factory=dict)  # the check's sizes

    def keys(self):
        return ["id"] if self.wide else ["id", "kind"]

    def values(self):
        return KIND_NAMES[:self.kinds] if self.wide else ["value"]

    def arguments(self):
        """orven_frames.extract_features' arguments for this shape."""
        arguments = dict(id="id", time="time", nan="drop" if self.nan else "raise")
        if self.wide:
            arguments.update(value=self.values(), wide=True)
        else:
            arguments.update(kind="kind", value="value")
        return arguments


SHAPES = {
    "sensors": Shape("20,000 ids x 3 kinds x 100 readings, time order, series in ascending order",
                     20_000, 3, 100, order="ascending", small=dict(ids=300, readings=20)),
    "sensors-random": Shape("20,000 ids x 3 kinds x 100 readings, time order, series in random order",
                            20_000, 3, 100, small=dict(ids=300, readings=20)),
    "sensors-shuffled": Shape("20,000 ids x 3 kinds x 100 readings, rows shuffled",
                              20_000, 3, 100, order="shuffled", small=dict(ids=300, readings=20)),
    "tiny": Shape("100,000 ids x 1 kind x 10 readings, random order", 100_000, 1, 10,
                  small=dict(ids=2_000)),
    "long": Shape("10 ids x 2 kinds x 10^6 readings, random order", 10, 2, 1_000_000,
                  small=dict(ids=2, readings=20_000)),
    "skewed": Shape("series lengths log-uniform from 10 to 10^5, 3 kinds an id, random order",
                    0, 3, 0, small=dict(rows=100_000, longest=10_000)),
    "strings": Shape("20,000 string ids x 3 kinds x 100 readings, rows shuffled",
                     20_000, 3, 100, order="shuffled", strings=True, small=dict(ids=300, readings=20)),
    "wide": Shape("20,000 ids x 100 readings x 3 value columns (wide input), random order",
                  20_000, 3, 100, wide=True, small=dict(ids=300, readings=20)),
    "nan": Shape("20,000 ids x 3 kinds x 100 readings, 0.5% NaN dropped, random order",
                 20_000, 3, 100, nan=0.005, small=dict(ids=300, readings=20)),
}
SKEWED_ROWS = 10_000_000


# ------------------------------------------------------------------ data

def skewed_lengths(rng, kinds, rows, longest):
    """Lengths log-uniform from 10 to `longest`, kinds at a time, for as
    many ids as fit in `rows` readings."""
    lengths = np.round(10.0 ** rng.uniform(1.0, np.log10(longest), size=kinds * (rows // 10 + 1)))
    lengths = lengths.astype(np.int64)
    per_id = lengths.reshape(-1, kinds).sum(axis=1)
    ids = max(1, int(np.searchsorted(np.cumsum(per_id), rows, side="right")))
    return lengths[:ids * kinds]


def generate(shape, small, seed=5):
    """The shape's columns as numbers: id and kind as int64 codes, time,
    and the value column(s)."""
    rng = np.random.default_rng(seed)
    kinds = 1 if shape.wide else shape.kinds
    if shape.readings:
        ids = small.get("ids", shape.ids) if small is not None else shape.ids
        readings = small.get("readings", shape.readings) if small is not None else shape.readings
        lengths = np.full(ids * kinds, readings, dtype=np.int64)
    else:
        sizes = small if small is not None else dict(rows=SKEWED_ROWS, longest=100_000)
        lengths = skewed_lengths(rng, kinds, sizes["rows"], sizes["longest"])
    series = len(lengths)
    # The order in which the series follow each other at every time step.
    rank_order = np.arange(series) if shape.order == "ascending" else rng.permutation(series)
    series_of_row = np.repeat(rank_order, lengths[rank_order])
    starts = np.cumsum(lengths[rank_order]) - lengths[rank_order]
    time_col = np.arange(len(series_of_row), dtype=np.int64) - np.repeat(starts, lengths[rank_order])
    # Time-major: stable on time keeps the series' order at every step.
    order = np.argsort(time_col, kind="stable")
    if shape.order == "shuffled":
        order = rng.permutation(order)
    series_of_row, time_col = series_of_row[order], time_col[order]
    rows = len(time_col)
    data = {"id": series_of_row // kinds, "time": time_col}
    if not shape.wide:
        data["kind"] = series_of_row % kinds
    for name in shape.values():
        value = rng.normal(20.0, 5.0, rows)
        if shape.nan:
            value[rng.random(rows) < shape.nan] = np.nan
            if small is not None:
                # One series with nothing but NaN: what each tool makes
                # of a series that dropping leaves empty.
                value[series_of_row == series_of_row[0]] = np.nan
        data[name] = value
    return data


def numbers(shape_name, small=False):
    """generate()'s columns, from a cache in build/ (made once, by the
    parent, so that the children only load them)."""
    shape = SHAPES[shape_name]
    if small:
        return generate(shape, shape.small)
    # Named by the shape's description, so that a changed shape is made anew.
    fingerprint = hashlib.sha1(repr((shape, SKEWED_ROWS)).encode()).hexdigest()[:12]
    path = os.path.join(CACHE, f"{shape_name}-{fingerprint}.npz")
    if not os.path.exists(path):
        os.makedirs(CACHE, exist_ok=True)
        partial = path + f".{os.getpid()}.npz"
        np.savez(partial, **generate(shape, None))
        os.replace(partial, path)
    with np.load(path) as stored:
        return {name: stored[name] for name in stored.files}


def id_names(count):
    return np.array([f"sensor-{i:06d}" for i in range(count)], dtype=object)


def columns(shape_name, data):
    """The frame's columns as a user would hand them to pandas or polars:
    kinds (and string ids) as object arrays of Python strings."""
    shape = SHAPES[shape_name]
    out = {}
    out["id"] = id_names(int(data["id"].max()) + 1)[data["id"]] if shape.strings else data["id"]
    if not shape.wide:
        out["kind"] = np.array(KIND_NAMES, dtype=object)[data["kind"]]
    out["time"] = data["time"]
    for name in shape.values():
        out[name] = data[name]
    return out


def build(tool, data):
    if tool in ("orven_frames[pandas]", "pandas"):
        import pandas as pd
        return pd.DataFrame(data)
    if tool in ("orven_frames[polars]", "polars"):
        import polars as pl
        return pl.DataFrame(data)
    import pyarrow as pa
    return pa.table({name: pa.array(column) for name, column in data.items()})


def head(data, share=0.01):
    rows = max(1, int(len(data["time"]) * share))
    return {name: column[:rows] for name, column in data.items()}


# ----------------------------------------------------------------- tools

def runner(tool, frame, shape, threads):
    """A function that makes `tool`'s table from `frame`."""
    keys, values = shape.keys(), shape.values()

    def prefix(name):
        return f"{name}__" if shape.wide else ""

    if tool.startswith("orven_frames"):
        import orven_frames
        arguments = shape.arguments()
        return lambda: orven_frames.extract_features(frame, **arguments)
    if tool == "pandas":
        def run():
            extra = {}
            for name in values:
                extra[f"{name}:absolute"] = frame[name].abs()
                extra[f"{name}:square"] = frame[name] ** 2
            grouped = frame.assign(**extra).groupby(keys, sort=True)
            aggregations = {}
            for name in values:
                p = prefix(name)
                aggregations[p + "absolute_maximum"] = (f"{name}:absolute", "max")
                aggregations[p + "mean"] = (name, "mean")
                aggregations[p + "median"] = (name, "median")
                # size counts NaN readings, count does not.
                aggregations[p + "length"] = (name, "count" if shape.nan else "size")
                aggregations[p + "maximum"] = (name, "max")
                aggregations[p + "minimum"] = (name, "min")
                aggregations[p + "sum_values"] = (name, "sum")
                aggregations[p + ":mean_square"] = (f"{name}:square", "mean")
            table = grouped.agg(**aggregations)
            for name in values:
                p = prefix(name)
                table[p + "variance"] = grouped[name].var(ddof=0)
                table[p + "standard_deviation"] = grouped[name].std(ddof=0)
                table[p + "root_mean_square"] = np.sqrt(table.pop(p + ":mean_square"))
            return table.reset_index()
        return run
    if tool == "polars":
        import polars as pl
        aggregates = []
        for name in values:
            v, p = pl.col(name), prefix(name)
            aggregates += [
                v.abs().max().alias(p + "absolute_maximum"), v.mean().alias(p + "mean"),
                v.median().alias(p + "median"), v.var(ddof=0).alias(p + "variance"),
                v.std(ddof=0).alias(p + "standard_deviation"), v.len().alias(p + "length"),
                v.max().alias(p + "maximum"), v.min().alias(p + "minimum"),
                (v * v).mean().sqrt().alias(p + "root_mean_square"), v.sum().alias(p + "sum_values")]
        if shape.nan:
            # NaN is a value to polars, not a missing one.
            return lambda: frame.filter(pl.col("value").is_not_nan()).group_by(keys).agg(aggregates).sort(keys)
        return lambda: frame.group_by(keys).agg(aggregates).sort(keys)
    if tool == "duckdb":
        import duckdb
        connection = duckdb.connect()
        connection.execute(f"SET threads = {threads}")
        selected = []
        for name in values:
            p = prefix(name)
            selected += [f'max(abs("{name}")) AS "{p}absolute_maximum"', f'avg("{name}") AS "{p}mean"',
                         f'median("{name}") AS "{p}median"', f'var_pop("{name}") AS "{p}variance"',
                         f'stddev_pop("{name}") AS "{p}standard_deviation"', f'count(*) AS "{p}length"',
                         f'max("{name}") AS "{p}maximum"', f'min("{name}") AS "{p}minimum"',
                         f'sqrt(avg("{name}" * "{name}")) AS "{p}root_mean_square"',
                         f'sum("{name}") AS "{p}sum_values"']
        where = " WHERE NOT isnan(value)" if shape.nan else ""
        group = ", ".join(keys)
        query = f"SELECT {group}, {', '.join(selected)} FROM frame{where} GROUP BY {group} ORDER BY {group}"
        connection.register("frame", frame)
        return lambda: connection.sql(query).to_arrow_table()
    raise ValueError(tool)


# ----------------------------------------------------------------- floor

def floor_library():
    """bench/floor.c built into build/bench/ (again when the source is newer)."""
    source = os.path.join(ROOT, "bench", "floor.c")
    library = os.path.join(BUILD, "libfloor.so")
    if not os.path.exists(library) or os.path.getmtime(library) < os.path.getmtime(source):
        os.makedirs(BUILD, exist_ok=True)
        partial = f"{library}.{os.getpid()}"
        subprocess.run([os.environ.get("CC", "cc"), "-O2", "-shared", "-fPIC", "-pthread", source, "-o", partial],
                       check=True)
        os.replace(partial, library)
    return library


def group_positions(data, shape):
    """Every value's position in (id, kind, time) order, one int64 array
    per value column; ties in time keep frame order."""
    keys = [data["time"], data["id"]] if shape.wide else [data["time"], data["kind"], data["id"]]
    order = np.lexsort(keys)
    rows = len(order)
    rank = np.empty(rows, dtype=np.int64)
    rank[order] = np.arange(rows, dtype=np.int64)
    if not shape.wide:
        return [rank]
    # Wide: the values of one id lie column after column.
    counts = np.bincount(data["id"])
    starts = np.cumsum(counts) - counts
    ids = data["id"]
    within = rank - starts[ids]
    width = len(shape.values())
    return [width * starts[ids] + k * counts[ids] + within for k in range(width)]


def floor_buffers(shape_name, data):
    """The byte buffers that the floor reads: the key and time columns as
    the pandas frame holds them."""
    import pyarrow as pa
    shape = SHAPES[shape_name]
    frame_columns = columns(shape_name, data)
    buffers = []
    for name in shape.keys() + ["time"]:
        column = frame_columns[name]
        if column.dtype == object:
            # pandas holds strings as Arrow large_string: offsets and data.
            array = pa.array(column, type=pa.large_string())
            buffers += [np.frombuffer(b, dtype=np.uint8) for b in array.buffers()[1:] if b is not None]
        else:
            buffers.append(np.ascontiguousarray(column).view(np.uint8))
    return buffers


def floor_child(shape_name, threads, repeat):
    shape = SHAPES[shape_name]
    data = numbers(shape_name)
    library = ctypes.CDLL(floor_library())
    library.floor_run.restype = ctypes.c_double
    reads = floor_buffers(shape_name, data)
    values = [np.ascontiguousarray(data[name]) for name in shape.values()]
    dest = group_positions(data, shape)
    rows = len(data["time"])
    out = np.empty(rows * len(values))
    out.fill(0.0)  # every page touched before the clock
    sink = ctypes.c_uint64()
    pointers = (ctypes.c_void_p * len(reads))(*[r.ctypes.data for r in reads])
    sizes = (ctypes.c_int64 * len(reads))(*[r.nbytes for r in reads])
    value_pointers = (ctypes.c_void_p * len(values))(*[v.ctypes.data for v in values])
    dest_pointers = (ctypes.c_void_p * len(dest))(*[d.ctypes.data for d in dest])

    def run():
        return library.floor_run(threads, pointers, sizes, len(reads), value_pointers, dest_pointers,
                                 len(values), ctypes.c_int64(rows), out.ctypes.data_as(ctypes.c_void_p),
                                 ctypes.byref(sink))

    run()
    return min(run() for _ in range(repeat))


# ----------------------------------------------------------------- runs

def child(tool, shape_name, threads, repeat):
    if tool == "floor":
        print(json.dumps({"seconds": floor_child(shape_name, threads, repeat)}))
        return
    shape = SHAPES[shape_name]
    data = columns(shape_name, numbers(shape_name))
    run = runner(tool, build(tool, data), shape, threads)
    run()  # warm: libraries loaded, pools started, the allocator's pages in hand
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    print(json.dumps({"seconds": best}))


def measure(tool, shape, threads, repeat):
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads), POLARS_MAX_THREADS=str(threads),
               OMP_NUM_THREADS=str(threads))
    completed = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", tool, shape,
                                str(threads), str(repeat)], env=env, capture_output=True, text=True, check=False)
    if completed.returncode != 0:
        sys.stderr.write(f"{tool} on {shape} at {threads} thread(s) failed:\n{completed.stderr}")
        return float("nan")
    return json.loads(completed.stdout.strip().splitlines()[-1])["seconds"]


def ratio_text(value):
    return f"{value:>11.2f}x" if value == value else f"{'-':>12}"


def compare(shapes, tools, repeat, rounds):
    if "floor" in tools:
        floor_library()
    print(f"best of {repeat} runs per cell{f' in each of {rounds} rounds' if rounds > 1 else ''}, seconds from "
          f"frame to finished table; pandas runs on one thread (its time repeated at 2)")
    ratios = {}  # name -> [(value, shape, threads)]
    ours = [t for t in tools if t in OURS]
    peers = [t for t in tools if t in PEERS]
    for shape_name in shapes:
        shape = SHAPES[shape_name]
        data = numbers(shape_name)
        rows = len(data["time"])
        series = len(np.unique(data["id"])) * (1 if shape.wide else len(np.unique(data["kind"])))
        del data
        print(f"\n{shape_name}: {shape.description} ({rows:,} rows, {series:,} ids x kinds)")
        print(f"{'tool':<40}" + "".join(f"{f'{t} thread' + ('s' if t > 1 else ''):>12}" for t in THREADS)
              + f"{'2nd worker':>12}")
        times = {}
        # Rounds take turns over the tools, so that a busy spell of the
        # machine falls on several tools rather than on one.
        for round_index in range(rounds):
            for tool in tools:
                if tool in SINGLE_THREADED:
                    measured = [measure(tool, shape_name, 1, repeat)] * len(THREADS)
                else:
                    measured = [measure(tool, shape_name, t, repeat) for t in THREADS]
                # min() would keep a failure's NaN only where nothing else was measured.
                times[tool] = [np.nanmin([a, b]) if a == a or b == b else a
                               for a, b in zip(times.get(tool, measured), measured)]
        for tool in tools:
            gain = times[tool][0] / times[tool][1] if tool not in SINGLE_THREADED else float("nan")
            print(f"{tool:<40}" + "".join(f"{s:>12.4f}" for s in times[tool]) + ratio_text(gain), flush=True)
            if tool in OURS:
                ratios.setdefault(f"2nd worker gain, {tool}", []).append((gain, shape_name, 2))
        for our in ours:
            if peers:
                line = []
                for i, t in enumerate(THREADS):
                    value = np.nanmin([times[p][i] for p in peers]) / times[our][i]
                    line.append(value)
                    ratios.setdefault(f"fastest peer / {our}", []).append((value, shape_name, t))
                print(f"{'fastest peer / ' + our:<40}" + "".join(ratio_text(v) for v in line))
        if "floor" in tools:
            for our in ours:
                line = []
                for i, t in enumerate(THREADS):
                    value = times[our][i] / times["floor"][i]
                    line.append(value)
                    ratios.setdefault(f"{our} / floor", []).append((value, shape_name, t))
                print(f"{our + ' / floor':<40}" + "".join(ratio_text(v) for v in line))
    if ratios:
        print(f"\nover all shapes (shape, threads){'':<12}{'worst':>30}{'best':>30}")
        for name, cases in ratios.items():
            cases = [c for c in cases if c[0] == c[0]]
            if not cases:
                continue
            # For orven_frames / floor the larger is the worse; for the rest the smaller.
            pick_worst = max if name.endswith("/ floor") else min
            pick_best = min if name.endswith("/ floor") else max
            worst = pick_worst(cases, key=lambda c: c[0])
            best = pick_best(cases, key=lambda c: c[0])
            print(f"{name:<44}" + "".join(f"{f'{c[0]:.2f}x ({c[1]}, {c[2]})':>30}" for c in (worst, best)))


# ----------------------------------------------------------------- check

def long_table(result, shape):
    """Any tool's result as a pandas frame (id, kind, the ten features),
    sorted by id and kind."""
    import pandas as pd
    if hasattr(result, "to_pandas"):
        table = result.to_pandas()
    elif isinstance(result, dict):
        table = pd.DataFrame(result)
    else:
        table = result
    if shape.wide:
        parts = []
        for name in shape.values():
            part = table[["id"] + [f"{name}__{f}" for f in FEATURES]].copy()
            part.columns = ["id"] + list(FEATURES)
            part.insert(1, "kind", name)
            parts.append(part)
        table = pd.concat(parts)
    table = table[["id", "kind", *FEATURES]].copy()
    table["id"] = table["id"].astype(str)
    table["kind"] = table["kind"].astype(str)
    return table.sort_values(["id", "kind"]).reset_index(drop=True)


def differences(ours, theirs, keys=("id", "kind"), tolerance=1e-9):
    """What tells `theirs` from `ours`: rows (by `keys`) on one side only,
    and the features that differ on the rows both have."""
    notes = []
    keys = list(keys)
    key_ours = set(zip(*(ours[k] for k in keys)))
    key_theirs = set(zip(*(theirs[k] for k in keys)))
    if key_ours - key_theirs:
        notes.append(f"{len(key_ours - key_theirs)} row(s) missing, e.g. {sorted(key_ours - key_theirs)[0]}")
    if key_theirs - key_ours:
        notes.append(f"{len(key_theirs - key_ours)} row(s) extra, e.g. {sorted(key_theirs - key_ours)[0]}")
    common = ours.merge(theirs, on=keys, suffixes=("", ":theirs"))
    for feature in FEATURES:
        a = common[feature].to_numpy(dtype=np.float64)
        b = common[feature + ":theirs"].to_numpy(dtype=np.float64)
        with np.errstate(invalid="ignore"):
            same = (a == b) | (np.isnan(a) & np.isnan(b))
            close = np.abs(a - b) <= tolerance * np.maximum(np.abs(a), np.abs(b))
        bad = ~(same | close)
        if bad.any():
            i = int(np.flatnonzero(bad)[0])
            at = ", ".join(str(common[k].iloc[i]) for k in keys)
            notes.append(f"{feature} differs in {int(bad.sum())} row(s), e.g. ({at}): "
                         f"{float(a[i])!r} vs {float(b[i])!r}")
    return notes


def check(shapes, tools):
    peers = [t for t in tools if t in PEERS or t == "orven_frames[polars]"]
    print("each tool's table against orven_frames[pandas] on a small frame of each shape "
          "(same groups, every feature within 1e-9 relative)")
    for shape_name in shapes:
        shape = SHAPES[shape_name]
        data = columns(shape_name, numbers(shape_name, small=True))
        ours = long_table(runner("orven_frames[pandas]", build("orven_frames[pandas]", data), shape, 1)(), shape)
        emptied = ", one series all NaN" if shape.nan else ""
        print(f"\n{shape_name} ({len(data['time']):,} rows, {len(ours):,} groups{emptied})")
        for tool in peers:
            result = runner(tool, build(tool, data), shape, 1)()
            notes = differences(ours, long_table(result, shape))
            print(f"  {tool:<22}" + ("same groups, every feature within 1e-9" if not notes else "; ".join(notes)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shapes", default=",".join(SHAPES))
    parser.add_argument("--tools", default=",".join(TOOLS))
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--rounds", type=int, default=1, help="turns over all tools, the best kept")
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--child", nargs=4, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child[0], args.child[1], int(args.child[2]), int(args.child[3]))
        return
    shapes, tools = args.shapes.split(","), args.tools.split(",")
    for name in shapes:
        if name not in SHAPES:
            parser.error(f"unknown shape {name!r}; known: {', '.join(SHAPES)}")
    for name in tools:
        if name not in TOOLS:
            parser.error(f"unknown tool {name!r}; known: {', '.join(TOOLS)}")
    if args.check:
        check(shapes, tools)
    else:
        compare(shapes, tools, args.repeat, args.rounds)


if __name__ == "__main__":
    main()
