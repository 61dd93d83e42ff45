"""Recipe: more records than one process should handle, spread over a Dask
cluster, one orven call per partition.

    python3 examples/dask_partitions.py [records] [records_per_partition]

A dask.bag of (id, record) pairs is cut into partitions; each worker calls
orven.extract_features once per partition and the results are gathered in
id order.  Every value is computed by the same sequential rules whatever
the partitioning, so the gathered table equals one single-process call to
the bit (checked below; the program exits with 1 if it does not).

Choosing the partition size: one call holds the interpreter of its worker
until the whole partition is done, and the worker cannot answer its
heartbeat or feed the dashboard meanwhile.  Aim for calls of about 0.1 to
1 s: time one call on a sample (`seconds_per_record` below) and divide.
Much shorter calls waste time on scheduling; calls of many seconds make a
worker look dead to the scheduler.  Each worker process has its own orven
pool of one thread per CPU; with several worker processes on one machine,
set RAYON_NUM_THREADS in their environment so they do not oversubscribe.
"""

import hashlib
import sys
import time

import numpy as np

import orven


def example_records(count, seed=11):
    """`count` records of three series of varying length, with their ids."""
    rng = np.random.default_rng(seed)
    return [
        (f"unit-{index:05d}", {
            "current": rng.normal(5.0, 0.2, int(rng.integers(50, 400))),
            "speed": rng.gamma(2.0, 300.0, int(rng.integers(50, 400))),
            "load": rng.uniform(0.0, 1.0, int(rng.integers(1, 50))),
        })
        for index in range(count)
    ]


def seconds_per_record(records, sample=200):
    """Wall time of one call, per record, on the first `sample` records."""
    chunk = records[:sample]
    orven.extract_features(chunk[:1])  # the first call starts the pool
    start = time.perf_counter()
    orven.extract_features(chunk)
    return (time.perf_counter() - start) / max(len(chunk), 1)


def partition_size_for(records, target_seconds=0.3):
    """Records per partition for calls of about `target_seconds`."""
    return max(1, int(target_seconds / max(seconds_per_record(records), 1e-9)))


def extract_partition(pairs):
    """One orven call for a whole partition of (id, record) pairs."""
    pairs = list(pairs)
    result = orven.extract_features([record for _, record in pairs])
    return [(key, features) for (key, _), features in zip(pairs, result)]


def extract_on_cluster(client, pairs, records_per_partition):
    import dask.bag as db

    bag = db.from_sequence(pairs, partition_size=records_per_partition)
    gathered = bag.map_partitions(extract_partition).compute(scheduler=client)
    return sorted(gathered, key=lambda item: item[0]), bag.npartitions


def table_digest(pairs):
    """SHA-256 of every id, column, feature name and value bit pattern, in
    order: equal digests mean equal tables to the bit."""
    digest = hashlib.sha256()
    for key, features in pairs:
        digest.update(key.encode())
        for column, values in features.items():
            digest.update(column.encode())
            for name, value in values.items():
                digest.update(name.encode())
                digest.update(np.float64(value).tobytes())
    return digest.hexdigest()


def main():
    from distributed import Client, LocalCluster

    count = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    pairs = example_records(count)
    per_partition = int(sys.argv[2]) if len(sys.argv) > 2 else partition_size_for(
        [record for _, record in pairs])
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        gathered, partitions = extract_on_cluster(client, pairs, per_partition)
    single = extract_partition(sorted(pairs, key=lambda item: item[0]))
    print(f"{len(gathered)} records in {partitions} partitions of up to {per_partition} on 2 workers")
    print(f"table digest {table_digest(gathered)}")
    identical = table_digest(gathered) == table_digest(single)
    print(f"identical to one single-process call: {'yes' if identical else 'NO'}")
    return 0 if identical else 1


if __name__ == "__main__":
    sys.exit(main())
