"""Recipe: a long job in chunks, with a tqdm progress bar.

    python3 examples/progress_in_chunks.py [records] [chunk]

One call cannot report progress: it returns when every record is done.
Calling orven on successive chunks of the records gives a bar that moves,
and the same values to the bit as one call (each series is computed on its
own).
Chunks worth a few tenths of a second keep the bar lively without losing
the pool's parallelism within each call.
"""

import sys

import numpy as np
from tqdm import tqdm

import orven


def example_records(count, seed=5):
    rng = np.random.default_rng(seed)
    return [{"signal": rng.standard_normal(int(rng.integers(100, 3000)))} for _ in range(count)]


def extract_with_progress(records, chunk=500, **tqdm_options):
    """orven.extract_features(records), chunk by chunk, with a progress bar."""
    result = []
    with tqdm(total=len(records), unit="record", **tqdm_options) as bar:
        for start in range(0, len(records), chunk):
            part = orven.extract_features(records[start:start + chunk])
            result.extend(part)
            bar.update(len(part))
    return result


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    chunk = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    records = example_records(count)
    result = extract_with_progress(records, chunk)
    lengths = sum(features["signal"]["length"] for features in result)
    print(f"{len(result)} records, {lengths:.0f} values in chunks of {chunk}")


if __name__ == "__main__":
    main()
