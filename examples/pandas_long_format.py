"""Recipe: features of a long-format pandas DataFrame, as a wide table.

    python3 examples/pandas_long_format.py [machines]

The input has one row per reading: id, kind, time, value.  orven wants one
float64 array per (id, kind) in time order, grouped into one record per id.
Sorting once and cutting the value column at the group boundaries gives
those arrays as views of one buffer, with no Python work per row; the loop
left runs once per series.  The result comes back as a DataFrame indexed by
id, with a column for each (kind, feature).
"""

import sys

import numpy as np
import pandas as pd

import orven
from sensor_data import long_columns


def long_to_records(frame, id_col="id", kind_col="kind", time_col="time", value_col="value"):
    """(ids, records): one record per id, kind -> its values in time order."""
    frame = frame.sort_values([id_col, kind_col, time_col], kind="stable")
    ids = frame[id_col].to_numpy()
    kinds = frame[kind_col].to_numpy()
    # One contiguous float64 buffer; the series are slices of it.
    values = np.ascontiguousarray(frame[value_col].to_numpy(dtype=np.float64))
    if len(values) == 0:
        return [], []
    cuts = np.flatnonzero((ids[1:] != ids[:-1]) | (kinds[1:] != kinds[:-1])) + 1
    starts = np.concatenate(([0], cuts))
    record_ids, records = [], []
    for start, series in zip(starts, np.split(values, cuts)):
        if not record_ids or record_ids[-1] != ids[start]:
            record_ids.append(ids[start])
            records.append({})
        records[-1][str(kinds[start])] = series
    return record_ids, records


def features_to_wide(ids, result, id_name="id"):
    """A DataFrame indexed by id with columns (kind, feature); a kind that an
    id lacks gives NaN in its row."""
    rows = {
        key: {(kind, name): value for kind, features in record.items()
              for name, value in features.items()}
        for key, record in zip(ids, result)
    }
    wide = pd.DataFrame.from_dict(rows, orient="index")
    wide.columns = pd.MultiIndex.from_tuples(wide.columns, names=["kind", "feature"])
    wide.index.name = id_name
    return wide


def extract_wide(frame):
    ids, records = long_to_records(frame)
    return features_to_wide(ids, orven.extract_features(records))


def main():
    machines = int(sys.argv[1]) if len(sys.argv) > 1 else 4
    frame = pd.DataFrame(long_columns(machines))
    wide = extract_wide(frame)
    print(f"{len(frame)} readings -> {wide.shape[0]} ids x {wide.shape[1]} (kind, feature) columns")
    with pd.option_context("display.width", 120, "display.max_columns", 8):
        print(wide.xs("mean", axis=1, level="feature"))


if __name__ == "__main__":
    main()
