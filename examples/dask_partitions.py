"""Recipe: a long-format table too big for one process, spread over a Dask
cluster, one orven_frames call per partition.

    python3 examples/dask_partitions.py [machines] [partitions]

A dask.dataframe of readings (id, kind, time, value) is shuffled on the id,
so that every series lies within one partition, and each partition goes
through orven_frames.extract_features on a distributed.LocalCluster of two
worker processes.  Every value is computed by the same sequential rules
from the same series, so the gathered table equals one single-process call
to the bit (checked below; the program exits with 1 if it does not).  That
holds when the time column orders each series fully (no equal times within
a series): the shuffle may change the frame order of rows, which is what
orders readings of equal time.

A call releases the interpreter while the workers compute, so a worker
process with several threads runs the grouping of one partition while
another partition's features are computed, and keeps answering its
heartbeat.  Each worker process has its own orven pool of one thread per
CPU; with several worker processes on one machine, set RAYON_NUM_THREADS
in their environment so they do not oversubscribe.
"""

import hashlib
import sys

import numpy as np
import pandas as pd

import orven_frames
from sensor_data import long_columns

COLUMNS = dict(id="id", kind="kind", time="time", value="value")


def extract_on_cluster(client, frame, partitions):
    import dask.dataframe as dd

    readings = dd.from_pandas(frame, npartitions=partitions).shuffle("id", npartitions=partitions)
    meta = orven_frames.extract_features(frame.iloc[:0], **COLUMNS)
    table = readings.map_partitions(orven_frames.extract_features, meta=meta, **COLUMNS)
    gathered = table.compute(scheduler=client)
    return gathered.sort_values(["id", "kind"], kind="stable").reset_index(drop=True)


def table_digest(table):
    """SHA-256 of the ids, kinds and every feature's bit pattern, in order:
    equal digests mean equal tables to the bit."""
    digest = hashlib.sha256()
    digest.update(np.ascontiguousarray(table["id"].to_numpy(np.int64)).tobytes())
    digest.update("\n".join(map(str, table["kind"])).encode())
    for name in orven_frames.FEATURES:
        digest.update(np.ascontiguousarray(table[name].to_numpy(np.float64)).tobytes())
    return digest.hexdigest()


def main():
    from distributed import Client, LocalCluster

    machines = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    partitions = int(sys.argv[2]) if len(sys.argv) > 2 else 8
    frame = pd.DataFrame(long_columns(machines))
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        gathered = extract_on_cluster(client, frame, partitions)
    single = orven_frames.extract_features(frame, **COLUMNS)
    print(f"{len(frame)} readings, {len(gathered)} series in {partitions} partitions on 2 workers")
    print(f"table digest {table_digest(gathered)}")
    identical = table_digest(gathered) == table_digest(single)
    print(f"identical to one single-process call: {'yes' if identical else 'NO'}")
    return 0 if identical else 1


if __name__ == "__main__":
    sys.exit(main())
