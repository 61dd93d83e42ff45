"""Recipe: features of a long-format pandas DataFrame, as a wide table.

    python3 examples/pandas_long_format.py [machines]

The input has one row per reading: id, kind, time, value, in no particular
order.  One call groups the rows by id and kind, puts each series in time
order and computes its features natively; the result has one row per id and
a column "<kind>__<feature>" for each kind and feature.
"""

import sys

import pandas as pd

import orven_frames
from sensor_data import long_columns


def extract_wide(frame):
    return orven_frames.extract_features(frame, id="id", kind="kind", time="time", value="value",
                                         wide=True)


def main():
    machines = int(sys.argv[1]) if len(sys.argv) > 1 else 4
    frame = pd.DataFrame(long_columns(machines))
    wide = extract_wide(frame)
    print(f"{len(frame)} readings -> {wide.shape[0]} ids x {wide.shape[1] - 1} kind__feature columns")
    with pd.option_context("display.width", 120, "display.max_columns", 8):
        print(wide[["id", *(column for column in wide.columns if column.endswith("__mean"))]])


if __name__ == "__main__":
    main()
