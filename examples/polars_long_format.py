"""Recipe: features of a long-format polars DataFrame, back as a polars frame.

    python3 examples/polars_long_format.py [machines]

The same as the pandas recipe: one call from the long frame (id, kind, time,
value) to a wide polars frame with an id column and one column per kind and
feature, named "<kind>__<feature>" (null where an id lacks a kind).
"""

import sys

import polars as pl

import orven_frames
from sensor_data import long_columns


def extract_wide(frame):
    return orven_frames.extract_features(frame, id="id", kind="kind", time="time", value="value",
                                         wide=True)


def main():
    machines = int(sys.argv[1]) if len(sys.argv) > 1 else 4
    frame = pl.DataFrame(long_columns(machines))
    wide = extract_wide(frame)
    print(f"{frame.height} readings -> {wide.height} ids x {wide.width - 1} kind__feature columns")
    print(wide.select("id", pl.col("^.*__mean$")))


if __name__ == "__main__":
    main()
