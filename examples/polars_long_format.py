"""Recipe: features of a long-format polars DataFrame, back as a polars frame.

    python3 examples/polars_long_format.py [machines]

The same as the pandas recipe: sort once, find where (id, kind) changes,
cut the value column there with NumPy, one record per id.  The wide result
has an id column and one column per kind and feature, named "kind/feature".
"""

import sys

import numpy as np
import polars as pl

import orven
from sensor_data import long_columns


def long_to_records(frame, id_col="id", kind_col="kind", time_col="time", value_col="value"):
    """(ids, records): one record per id, kind -> its values in time order."""
    frame = frame.sort([id_col, kind_col, time_col], maintain_order=True)
    if frame.height == 0:
        return [], []
    starts = frame.select(
        ((pl.col(id_col) != pl.col(id_col).shift()) | (pl.col(kind_col) != pl.col(kind_col).shift()))
        .fill_null(True)
        .arg_true()
    ).to_series().to_numpy()
    values = np.ascontiguousarray(frame[value_col].cast(pl.Float64).to_numpy())
    keys = frame.select(id_col, kind_col)[starts.tolist()]
    record_ids, records = [], []
    for key, kind, series in zip(keys[id_col].to_list(), keys[kind_col].to_list(),
                                 np.split(values, starts[1:])):
        if not record_ids or record_ids[-1] != key:
            record_ids.append(key)
            records.append({})
        records[-1][kind] = series
    return record_ids, records


def features_to_wide(ids, result, id_name="id"):
    """A polars frame: the id column, then "kind/feature" columns (null where
    an id lacks a kind)."""
    rows = [
        {id_name: key, **{f"{kind}/{name}": value for kind, features in record.items()
                          for name, value in features.items()}}
        for key, record in zip(ids, result)
    ]
    return pl.from_dicts(rows, infer_schema_length=None)


def extract_wide(frame):
    ids, records = long_to_records(frame)
    return features_to_wide(ids, orven.extract_features(records))


def main():
    machines = int(sys.argv[1]) if len(sys.argv) > 1 else 4
    frame = pl.DataFrame(long_columns(machines))
    wide = extract_wide(frame)
    print(f"{frame.height} readings -> {wide.height} ids x {wide.width - 1} kind/feature columns")
    print(wide.select("id", pl.col("^.*/mean$")))


if __name__ == "__main__":
    main()
