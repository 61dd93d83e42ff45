"""One Dask worker process with one thread against one with two, each
partition through orven_frames.extract_features.

    python3 dask_threads.py [partitions] [repeat]

The readings (the sensors shape of frames_compare.py, cut by id into
partitions) are made on the worker itself and persisted there before the
clock starts, so that no frame travels with the task graph; the clock
covers computing the features of every partition and gathering them.  A
call releases the interpreter while it goes through the rows and computes,
so with two threads one partition's Python work (Dask's, pandas', the
frame's columns in and out) overlaps another's native passes.  The
worker's orven pool has two workers in both cases.  Prints the best and
the median of N times and the gains; nothing passes or fails.
"""

import os
import statistics
import sys
import time

import numpy as np

import frames_compare as fc

COLUMNS = dict(id="id", kind="kind", time="time", value="value")


def partition(index, partitions):
    """Rows of the sensors shape whose id falls in the index-th of
    `partitions` equal id ranges, in time order."""
    import pandas as pd
    shape = fc.SHAPES["sensors"]
    ids, kinds, readings = shape.ids, shape.kinds, shape.readings
    low, high = ids * index // partitions, ids * (index + 1) // partitions
    count = high - low
    rng = np.random.default_rng(index)
    return pd.DataFrame({
        "id": np.tile(np.repeat(np.arange(low, high, dtype=np.int64), kinds), readings),
        "kind": np.tile(np.array(fc.KIND_NAMES[:kinds], dtype=object), count * readings),
        "time": np.repeat(np.arange(readings, dtype=np.int64), count * kinds),
        "value": rng.normal(20.0, 5.0, count * kinds * readings),
    })


def run(threads, partitions, repeat):
    import dask.dataframe as dd
    from distributed import Client, LocalCluster, wait

    import orven_frames

    meta = orven_frames.extract_features(partition(0, partitions).iloc[:0], **COLUMNS)
    with LocalCluster(n_workers=1, threads_per_worker=threads, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        readings = dd.from_map(partition, range(partitions), partitions=partitions,
                               meta=partition(0, partitions).iloc[:0])
        readings = client.persist(readings)
        wait(readings)
        times = []
        for run_index in range(repeat + 1):
            # A name of its own for every run: with the same task keys, the
            # scheduler may hand back results still held from the last run.
            table = readings.map_partitions(orven_frames.extract_features, meta=meta,
                                            token=f"orven-features-{threads}-{run_index}", **COLUMNS)
            start = time.perf_counter()
            table.compute()
            if run_index > 0:  # the first warms up: libraries loaded, pool started
                times.append(time.perf_counter() - start)
    return min(times), statistics.median(times)


def main():
    partitions = int(sys.argv[1]) if len(sys.argv) > 1 else 16
    repeat = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    os.environ.setdefault("RAYON_NUM_THREADS", "2")  # inherited by the worker process
    one = run(1, partitions, repeat)
    two = run(2, partitions, repeat)
    print(f"Dask, one worker process, sensors shape in {partitions} partitions, {repeat} runs:")
    print(f"  1 thread   best {one[0]:.3f} s, median {one[1]:.3f} s")
    print(f"  2 threads  best {two[0]:.3f} s, median {two[1]:.3f} s")
    print(f"  gain from the second thread {one[0] / two[0]:.2f}x (best), {one[1] / two[1]:.2f}x (median)")


if __name__ == "__main__":
    main()
