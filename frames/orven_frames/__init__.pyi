# Type information for orven_frames: the result is a table of the kind the
# frame is, so each frame kind has its own overload.

import datetime
from collections.abc import Mapping, Sequence
from typing import Any, Final, Literal, overload

import numpy as np
import pandas as pd
import polars as pl
import pyarrow as pa
from numpy.typing import NDArray

__all__: Final[list[str]]

# The features of every series, in orven's order.
FEATURES: Final[tuple[str, ...]]

Columns = str | Sequence[str]
NanPolicy = Literal["raise", "drop"]

def release_memory() -> int:
    """Give back the memory kept between calls; the number of bytes released."""

@overload
def extract_features(
    frame: pd.DataFrame, *, id: Columns, value: Columns, kind: str | None = None, time: str | None = None,
    wide: bool = False, nan: NanPolicy = "raise", progress: bool = False,
) -> pd.DataFrame: ...
@overload
def extract_features(
    frame: pl.DataFrame, *, id: Columns, value: Columns, kind: str | None = None, time: str | None = None,
    wide: bool = False, nan: NanPolicy = "raise", progress: bool = False,
) -> pl.DataFrame: ...
@overload
def extract_features(
    frame: Mapping[str, NDArray[Any]], *, id: Columns, value: Columns, kind: str | None = None,
    time: str | None = None, wide: bool = False, nan: NanPolicy = "raise", progress: bool = False,
) -> dict[str, NDArray[Any]]: ...
# Last: mypy sees pyarrow, which ships no types it reads, as Any.
@overload
def extract_features(
    frame: pa.Table, *, id: Columns, value: Columns, kind: str | None = None, time: str | None = None,
    wide: bool = False, nan: NanPolicy = "raise", progress: bool = False,
) -> pa.Table:
    """The ten features of every series of `frame`, as a table of its kind.

    frame: a pandas.DataFrame, polars.DataFrame, pyarrow.Table, or a mapping
        of column name to 1-D NumPy array (all of one length).
    id: the id column, or a list of columns for a composite id.
    value: the value column (long format), or a list of columns, one per
        kind (wide format; kind must then be None).
    kind: None, or the column that tells the series of one id apart.
    time: None (each series in frame order), or the column of integers,
        floats, dates or datetimes to order each series by; equal times keep
        their frame order.
    wide: False for one row per (id, kind) present, sorted by id then kind:
        the id column(s), the kind column, then the ten features.  True for
        one row per id with a column "<kind>__<feature>" per kind and
        feature (NaN, or null in polars and pyarrow, where an id lacks a
        kind).
    nan: "raise" (a NaN or null in a series of two or more readings is a
        ValueError naming the series) or "drop" (such readings are removed
        first; a series left empty gets the empty series' features).
    progress: True for a tqdm progress bar over the series.

    The values are those of orven.extract_features on the same series, to
    the bit; variance and standard_deviation are population figures.
    """

# A window's length or spacing: a number for a numeric time column, a
# timedelta for a date or datetime one.
Length = int | float | datetime.timedelta | np.timedelta64 | pd.Timedelta

@overload
def rolling_features(
    frame: pd.DataFrame, *, id: Columns, time: str, value: Columns, kind: str | None = None,
    size: int | None = None, step: int = 1, span: Length | None = None, every: Length | None = None,
    min_length: int = 1, nan: NanPolicy = "raise", progress: bool = False,
) -> pd.DataFrame: ...
@overload
def rolling_features(
    frame: pl.DataFrame, *, id: Columns, time: str, value: Columns, kind: str | None = None,
    size: int | None = None, step: int = 1, span: Length | None = None, every: Length | None = None,
    min_length: int = 1, nan: NanPolicy = "raise", progress: bool = False,
) -> pl.DataFrame: ...
@overload
def rolling_features(
    frame: Mapping[str, NDArray[Any]], *, id: Columns, time: str, value: Columns, kind: str | None = None,
    size: int | None = None, step: int = 1, span: Length | None = None, every: Length | None = None,
    min_length: int = 1, nan: NanPolicy = "raise", progress: bool = False,
) -> dict[str, NDArray[Any]]: ...
@overload
def rolling_features(
    frame: pa.Table, *, id: Columns, time: str, value: Columns, kind: str | None = None,
    size: int | None = None, step: int = 1, span: Length | None = None, every: Length | None = None,
    min_length: int = 1, nan: NanPolicy = "raise", progress: bool = False,
) -> pa.Table:
    """The ten features of every window of every series of `frame`: one row
    per window, sorted by id, kind and the window's end (the id column(s),
    the kind column, the time column holding the end, the ten features).
    Count windows with size (and step); time windows with span (and every).
    Each window's values are those of orven.extract_features on its
    readings, to the bit."""
