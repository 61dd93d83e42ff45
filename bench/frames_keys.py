"""What coding one key column costs on the frame path, kind by kind, beside a
floor: one read of the column's data.

    python3 frames_keys.py [--rows N] [--repeat N] [--kinds a,b,...] [--baseline PYTHONPATH]

Each key column of N rows (default 6 M) holds few distinct values (3, as
kinds have) or many (1 M ids), with the rows sorted (ids grouped) or
shuffled.  Timed: the Python side of the call (the frame adapter turning the
column into what the native part reads), then the native key stage as a
frame call runs it (each column read by its reader, folded into the
composite key, settled for counting) through orven_frames._native's timing
hook.  The floor is one NumPy reduction over the column's bytes: its values
for NumPy columns, the pointer array for object columns, the offsets and
data buffers for Arrow strings, the codes for categoricals.  Each thread
count runs in a child process of its own (RAYON_NUM_THREADS is read once per
process); every figure is the best of N runs.  Prints ns per row and ratios
to the floor; nothing passes or fails.  With --baseline, the same children
run again with that PYTHONPATH (another build of orven and orven_frames
that has the timing hook), and the ratio baseline / this build is printed
beside each figure.
"""

import argparse
import json
import os
import subprocess
import sys
import time

import numpy as np

THREADS = [1, 2]
DISTINCT = [3, 1_000_000]
ORDERS = ["sorted", "shuffled"]


def strings(distinct):
    return np.array([f"sensor_{i:07d}" for i in range(distinct)], dtype=object)


# Each kind: (frame library, builder of the column from the codes and the
# number of distinct values).  The codes' order is the values' order.
def kinds():
    import pandas as pd
    import polars as pl
    import pyarrow as pa

    minute = np.timedelta64(1, "m")
    return {
        "int64 narrow": ("mapping", lambda c, d: c.astype(np.int64)),
        "int64 stride 1000003": ("mapping", lambda c, d: c.astype(np.int64) * 1_000_003 - 7),
        "datetime64[ns] minutes": ("mapping",
                                   lambda c, d: np.datetime64("1990-01-01", "ns") + c.astype(np.int64) * minute),
        "int64 random": ("mapping", lambda c, d: np.sort(np.random.default_rng(1).integers(0, 2 ** 62, d))[c]),
        "float64": ("mapping", lambda c, d: c * 0.5 + 0.25),
        "float64 integral": ("mapping", lambda c, d: c.astype(np.float64)),
        "object str": ("mapping", lambda c, d: strings(d)[c]),
        "pandas str (pandas 3 default)": ("pandas", lambda c, d: pd.Series(strings(d)[c], dtype="str")),
        "pandas categorical": ("pandas", lambda c, d: pd.Series(pd.Categorical.from_codes(c, strings(d).astype(str)))),
        "polars String": ("polars", lambda c, d: pl.Series(strings(d)[c].tolist(), dtype=pl.String)),
        "polars Categorical": ("polars", lambda c, d: pl.Series(strings(d)[c].tolist(), dtype=pl.Categorical)),
        "pyarrow string": ("pyarrow", lambda c, d: pa.array(strings(d)[c], type=pa.string())),
        "pyarrow string_view": ("pyarrow", lambda c, d: pa.array(strings(d)[c], type=pa.string_view())),
        "pyarrow dictionary": ("pyarrow", lambda c, d: pa.DictionaryArray.from_arrays(
            pa.array(c.astype(np.int32)), pa.array(strings(d).astype(str)))),
        "composite 2 x int64 (densify)": ("mapping", None),
    }


def codes_of(rows, distinct, order, seed=3):
    rng = np.random.default_rng(seed)
    codes = rng.integers(0, distinct, rows)
    # Every value present, so that the distinct count is as stated.
    codes[:distinct] = np.arange(distinct)
    if order == "sorted":
        codes.sort()
    else:
        rng.shuffle(codes)
    return codes


def frame_of(library, column):
    if library == "pandas":
        import pandas as pd
        return pd.DataFrame({"key": column})
    if library == "polars":
        import polars as pl
        return pl.DataFrame({"key": column})
    if library == "pyarrow":
        import pyarrow as pa
        return pa.table({"key": column})
    return {"key": column}


def floor_bytes(library, column):
    """The arrays whose bytes one read of the column goes through."""
    import pyarrow as pa
    if library == "mapping":
        return [column.view(np.uint64) if column.dtype != object else np.zeros(len(column), np.uint64)]
    if library == "pandas":
        if column.dtype == "category":
            return [np.asarray(column.cat.codes)]
        column = column.array.__arrow_array__()
    if library == "polars":
        column = column.to_arrow()
    if isinstance(column, pa.ChunkedArray):
        chunks = column.chunks
    else:
        chunks = [column]
    arrays = []
    for chunk in chunks:
        if isinstance(chunk, pa.DictionaryArray):
            chunk = chunk.indices
        for buffer in chunk.buffers()[1:]:
            if buffer is not None:
                arrays.append(np.frombuffer(buffer, dtype=np.uint8))
    return arrays


def read_once(arrays):
    for array in arrays:
        words = array[: len(array) // 8 * 8].view(np.uint64)
        np.bitwise_or.reduce(words)


def best(run, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def child(rows, repeat, wanted):
    import orven_frames
    from orven_frames import _kinds, _seam

    native = orven_frames._native
    results = []
    for name, (library, build) in kinds().items():
        if wanted and name not in wanted:
            continue
        for distinct in DISTINCT:
            # Six rows a value at least, as the shapes of 6 M rows have.
            distinct = min(distinct, max(1, rows // 6))
            for order in ORDERS:
                codes = codes_of(rows, distinct, order)
                if build is None:
                    # Two columns of about 2**17 values each, their product past 2**32.
                    side = max(2, int(np.sqrt(distinct)) * 128)
                    first, second = (codes * 7919) % side, (codes * 104729 + 1) % side
                    frame = {"a": first.astype(np.int64), "b": second.astype(np.int64)}
                    names, arrays = ["a", "b"], [frame["a"].view(np.uint64), frame["b"].view(np.uint64)]
                else:
                    column = build(codes, distinct)
                    frame = frame_of(library, column)
                    names, arrays = ["key"], floor_bytes(library, column)
                adapter = _kinds.adapter_for(frame)
                prep = best(lambda: [adapter.key("id", n) for n in names], repeat)
                described = _seam.FrameCall(
                    ids=[adapter.key("id", n) for n in names], kind=None,
                    values=[_seam.ValueColumn("value", np.zeros(rows))], time=None, drop_nan=False,
                    nan_message=None, wide=False, progress=None)
                buckets, _ = native.time_key_codes(described)
                native_seconds = min(native.time_key_codes(described)[1] for _ in range(repeat))
                floor = best(lambda: read_once(arrays), repeat)
                results.append(dict(kind=name, distinct=distinct, order=order, buckets=buckets,
                                    prep=prep, native=native_seconds, floor=floor))
                del frame, adapter, described
    print(json.dumps(results))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=6_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--kinds", default="")
    parser.add_argument("--child", type=int, default=0)
    parser.add_argument("--baseline", default="")
    args = parser.parse_args()
    wanted = [k for k in args.kinds.split(",") if k]
    if args.child:
        child(args.rows, args.repeat, wanted)
        return

    def run_children(pythonpath):
        results = {}
        for threads in THREADS:
            env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
            if pythonpath is not None:
                env["PYTHONPATH"] = pythonpath
            out = subprocess.run([sys.executable, __file__, "--child", str(threads), "--rows", str(args.rows),
                                  "--repeat", str(args.repeat), "--kinds", args.kinds],
                                 env=env, check=True, capture_output=True, text=True).stdout
            results[threads] = json.loads(out.strip().splitlines()[-1])
        return results

    by_threads = run_children(None)
    baseline = run_children(args.baseline) if args.baseline else None

    rows = args.rows
    print(f"{rows:,} rows; ns per row, best of {args.repeat}; floor = one NumPy read of the column's bytes")
    header = (f"{'kind':<30} {'distinct':>9} {'order':>8} | {'python':>7} | {'1 thread':>8} {'x floor':>7} | "
              f"{'2 threads':>9} {'x floor':>7} {'speedup':>7}")
    if baseline:
        header += f" | {'was 1 thr':>9} {'x':>5} {'was 2 thr':>9} {'x':>5}"
    print(header)
    print("-" * len(header))
    ratios = {1: [], 2: []}
    for index, (one, two) in enumerate(zip(by_threads[1], by_threads[2])):
        floor = min(one["floor"], two["floor"])
        per_row = lambda seconds: seconds * 1e9 / rows
        ratios[1].append((one["native"] / floor, one["kind"], one["distinct"], one["order"]))
        ratios[2].append((two["native"] / floor, two["kind"], two["distinct"], two["order"]))
        print(f"{one['kind']:<30} {one['distinct']:>9,} {one['order']:>8} | {per_row(one['prep']):>7.2f} | "
              f"{per_row(one['native']):>8.2f} {one['native'] / floor:>7.1f} | "
              f"{per_row(two['native']):>9.2f} {two['native'] / floor:>7.1f} {one['native'] / two['native']:>7.2f}",
              end="")
        if baseline:
            # Python side included: the baseline may do in Python what this build does natively.
            was = [baseline[t][index]["native"] + baseline[t][index]["prep"] for t in THREADS]
            now = [one["native"] + one["prep"], two["native"] + two["prep"]]
            print(f" | {per_row(was[0]):>9.2f} {was[0] / now[0]:>5.1f} {per_row(was[1]):>9.2f} {was[1] / now[1]:>5.1f}",
                  end="")
        print()
    for threads in THREADS:
        worst = max(ratios[threads])
        top = min(ratios[threads])
        print(f"{threads} thread(s): native key stage / floor, best {top[0]:.1f} ({top[1]}, {top[2]:,}, {top[3]}), "
              f"worst {worst[0]:.1f} ({worst[1]}, {worst[2]:,}, {worst[3]})")


if __name__ == "__main__":
    main()
