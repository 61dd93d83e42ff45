"""Quick start: compute the ten summary features of synthetic sensor series.

    python3 examples/quickstart.py [records]

Builds its own example data (no files needed): a list of records, one per
machine, each mapping a sensor name to a NumPy float64 series; then calls
orven.extract_features once and prints the features of a few series and the
time the call took.
"""

import sys
import time

import numpy as np

import orven


def example_records(count, seed=2024):
    """One record per machine: three sensors with series of varying length."""
    rng = np.random.default_rng(seed)
    records = []
    for machine in range(count):
        n = int(rng.integers(200, 2000))
        t = np.linspace(0.0, 10.0, n)
        records.append(
            {
                "temperature": 20.0 + 0.3 * machine + np.sin(t) + rng.normal(0.0, 0.1, n),
                "pressure": 101.3 + rng.normal(0.0, 0.5, n).cumsum() / np.sqrt(n),
                "vibration": rng.standard_t(3, n) * (1.0 + machine % 5),
            }
        )
    return records


def show(result, picks):
    """One row per feature, one column per picked (record, column) series."""
    headers = [f"[{index}] {column}" for index, column in picks]
    print(f"{'feature':<20}" + "".join(f"{header:>18}" for header in headers))
    for name in result[picks[0][0]][picks[0][1]]:
        values = [result[index][column][name] for index, column in picks]
        print(f"{name:<20}" + "".join(f"{value:>18.6g}" for value in values))


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    records = example_records(count)
    samples = sum(series.size for record in records for series in record.values())

    started = time.perf_counter()
    result = orven.extract_features(records)  # also starts the worker pool
    first = time.perf_counter() - started
    started = time.perf_counter()
    orven.extract_features(records)
    again = time.perf_counter() - started

    last = len(result) - 1
    show(result, [(0, "temperature"), (0, "vibration"), (last, "pressure")])
    print()
    print(f"{len(records)} records, {samples:,} samples")
    print(f"first call (starts the worker pool): {first * 1e3:8.1f} ms")
    print(f"second call:                         {again * 1e3:8.1f} ms"
          f"  ({samples / again / 1e6:.0f} M samples/s)")


if __name__ == "__main__":
    main()
