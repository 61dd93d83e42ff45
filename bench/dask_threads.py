"""One Dask worker process with one thread against one with two, each
partition through orven_frames.extract_features.

    python3 dask_threads.py [partitions] [repeat]

The readings (the sensors shape of frames_compare.py) are persisted on the
worker before the clock starts; the clock covers computing the features of
every partition and gathering them.  A call releases the interpreter while
its features are computed, so with two threads one partition is grouped
while another's features are computed.  The worker's orven pool has two
workers in both cases.  Prints the best of N times and the gain; nothing
passes or fails.
"""

import os
import sys
import time

import frames_compare as fc

COLUMNS = dict(id="id", kind="kind", time="time", value="value")


def run(threads, partitions, repeat):
    import dask.dataframe as dd
    import pandas as pd
    from distributed import Client, LocalCluster, wait

    import orven_frames

    frame = pd.DataFrame(fc.columns("sensors"))
    meta = orven_frames.extract_features(frame.iloc[:0], **COLUMNS)
    with LocalCluster(n_workers=1, threads_per_worker=threads, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        readings = dd.from_pandas(frame.sort_values("id", kind="stable"), npartitions=partitions)
        readings = client.persist(readings)
        wait(readings)
        table = readings.map_partitions(orven_frames.extract_features, meta=meta, **COLUMNS)
        table.compute()  # warm: libraries loaded, pool started in the worker
        best = float("inf")
        for _ in range(repeat):
            start = time.perf_counter()
            table.compute()
            best = min(best, time.perf_counter() - start)
    return best


def main():
    partitions = int(sys.argv[1]) if len(sys.argv) > 1 else 16
    repeat = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    os.environ.setdefault("RAYON_NUM_THREADS", "2")  # inherited by the worker process
    one = run(1, partitions, repeat)
    two = run(2, partitions, repeat)
    print(f"Dask, one worker process, sensors shape in {partitions} partitions, best of {repeat}:")
    print(f"  1 thread   {one:.3f} s")
    print(f"  2 threads  {two:.3f} s")
    print(f"  gain from the second thread {one / two:.2f}x")


if __name__ == "__main__":
    main()
