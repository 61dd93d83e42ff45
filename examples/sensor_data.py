"""Synthetic sensor readings in long format, as they usually arrive: one row
per reading with the columns id (a machine), kind (a sensor), time and
value, rows in no particular order.  Used by the recipes in this folder."""

import numpy as np

KINDS = ("pressure", "temperature", "vibration")


def long_columns(machines, seed=7, min_length=5, max_length=60):
    """The columns of a long-format table as NumPy arrays (shuffled rows)."""
    rng = np.random.default_rng(seed)
    ids, kinds, times, values = [], [], [], []
    for machine in range(machines):
        for kind in KINDS:
            n = int(rng.integers(min_length, max_length + 1))
            ids.append(np.full(n, machine, dtype=np.int64))
            kinds.append(np.full(n, kind, dtype=object))
            times.append(rng.permutation(n).astype(np.int64))
            values.append(rng.normal(20.0 + machine, 1.0 + len(kind) % 3, n))
    order = rng.permutation(sum(len(part) for part in ids))
    return {
        "id": np.concatenate(ids)[order],
        "kind": np.concatenate(kinds)[order],
        "time": np.concatenate(times)[order],
        "value": np.concatenate(values)[order],
    }
