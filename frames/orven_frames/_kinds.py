"""The four kinds of frame: how each gives its columns to the native part,
and how each builds its result from whole columns.  pandas, polars and
pyarrow are imported only when such a frame is passed."""

import sys
from collections.abc import Mapping

import numpy as np

from . import _numpy_columns as cols
from . import _texts


def adapter_for(frame):
    """The adapter of `frame`'s kind; TypeError for anything else."""
    module = type(frame).__module__.partition(".")[0]
    if module == "pandas" and "pandas" in sys.modules:
        import pandas as pd
        if isinstance(frame, pd.DataFrame):
            return PandasFrame(frame)
    if module == "polars" and "polars" in sys.modules:
        import polars as pl
        if isinstance(frame, pl.DataFrame):
            return PolarsFrame(frame)
    if module == "pyarrow" and "pyarrow" in sys.modules:
        import pyarrow as pa
        if isinstance(frame, pa.Table):
            return ArrowTable(frame)
    if isinstance(frame, Mapping):
        return ArrayMapping(frame)
    raise TypeError(_texts.frame_type(frame))


def python_scalar(value):
    return value.item() if isinstance(value, np.generic) else value


# ---------------------------------------------------------------- mapping

class ArrayMapping:
    def __init__(self, mapping):
        self.columns = dict(mapping)
        length = None
        for name, array in self.columns.items():
            if not isinstance(array, np.ndarray) or array.ndim != 1:
                raise TypeError(_texts.mapping_column(name))
            if length is not None and len(array) != length:
                raise ValueError(_texts.mapping_lengths())
            length = len(array)

    def has(self, name):
        return name in self.columns

    def key(self, role, name):
        return cols.key(role, name, self.columns[name])

    def values(self, name):
        return cols.values(name, self.columns[name])

    def time(self, name):
        return cols.time(name, self.columns[name])

    def take(self, name, rows):
        return self.columns[name][rows]

    def time_unit(self, name):
        return cols.time_unit(self.columns[name].dtype)

    def time_values(self, name, raw):
        return cols.as_dtype(raw, self.columns[name].dtype)

    def scalar(self, name, row):
        return python_scalar(self.columns[name][row])

    def labels(self, values):
        return np.asarray(values, dtype=object)

    def feature(self, array, present=None):
        return array

    def build(self, columns):
        return dict(columns)


# ----------------------------------------------------------------- pandas

class PandasFrame:
    def __init__(self, frame):
        import pandas as pd
        self.pd = pd
        self.frame = frame

    def has(self, name):
        try:
            return name in self.frame.columns
        except TypeError:
            return False

    def column(self, name):
        column = self.frame[name]
        if isinstance(column, self.pd.DataFrame):
            raise ValueError(_texts.repeated_column(name))
        return column

    def arrow_of(self, column):
        """The pyarrow data behind a pyarrow-backed column, or None."""
        array = column.array
        if hasattr(array, "__arrow_array__") and type(array).__name__.startswith("Arrow"):
            return array.__arrow_array__()
        return None

    def key(self, role, name):
        pd = self.pd
        column = self.column(name)
        dtype = column.dtype
        if isinstance(dtype, pd.CategoricalDtype):
            codes = column.cat.codes.to_numpy()
            categories = dtype.categories
            order = np.arange(len(categories)) if dtype.ordered else categories.argsort()
            return cols.int_key(role, name, codes, -1, cols.ranks_of(order))
        if pd.api.types.is_datetime64_any_dtype(dtype) or pd.api.types.is_timedelta64_dtype(dtype):
            return cols.int_key(role, name, column.array.asi8, cols.NAT)
        arrow = self.arrow_of(column)
        if arrow is not None:
            return ArrowTable.key_of(role, name, arrow)
        if isinstance(dtype, np.dtype):
            if dtype.kind == "O":
                return cols.object_key(role, name, column.to_numpy(), (pd.NA, pd.NaT))
            return cols.key(role, name, column.to_numpy())
        if column.hasnans:
            raise ValueError(_texts.null_in(role, name))
        if isinstance(dtype, pd.StringDtype):
            return cols.object_key(role, name, column.to_numpy(dtype=object), (pd.NA, pd.NaT))
        if dtype.kind in "iubf":
            return cols.key(role, name, column.to_numpy(dtype=dtype.numpy_dtype))
        codes, _ = pd.factorize(column, sort=True)
        return cols.int_key(role, name, codes.astype(np.int64, copy=False), -1)

    def values(self, name):
        column = self.column(name)
        dtype = column.dtype
        if isinstance(dtype, np.dtype):
            return cols.values(name, column.to_numpy())
        numpy_dtype = getattr(dtype, "numpy_dtype", None)
        if numpy_dtype is not None and numpy_dtype.kind in "iuf":
            if numpy_dtype.kind in "iu" and len(column.dropna()):
                cols.check_exact(name, int(column.min()), int(column.max()))
            return column.to_numpy(dtype=np.float64, na_value=np.nan)
        raise TypeError(_texts.value_type(name, dtype))

    def time(self, name):
        pd = self.pd
        column = self.column(name)
        dtype = column.dtype
        if pd.api.types.is_datetime64_any_dtype(dtype) or pd.api.types.is_timedelta64_dtype(dtype):
            return cols.time(name, np.asarray(column.array.asi8).view("M8[ns]"))
        if isinstance(dtype, np.dtype):
            return cols.time(name, column.to_numpy())
        numpy_dtype = getattr(dtype, "numpy_dtype", None)
        if numpy_dtype is not None and numpy_dtype.kind in "iuf":
            if column.hasnans:
                raise ValueError(_texts.null_in("time", name))
            return cols.time(name, column.to_numpy(dtype=numpy_dtype))
        raise TypeError(_texts.time_type(name, dtype))

    def take(self, name, rows):
        return self.column(name).array.take(rows)

    def time_unit(self, name):
        dtype = self.column(name).dtype
        if self.pd.api.types.is_datetime64_any_dtype(dtype) or self.pd.api.types.is_timedelta64_dtype(dtype):
            return getattr(dtype, "unit", None) or np.datetime_data(dtype)[0]
        return None

    def time_values(self, name, raw):
        pd = self.pd
        dtype = self.column(name).dtype
        unit = self.time_unit(name)
        if unit is not None:
            letter = "m" if pd.api.types.is_timedelta64_dtype(dtype) else "M"
            values = pd.Series(raw.view(f"{letter}8[{unit}]"))
            tz = getattr(dtype, "tz", None)
            return (values.dt.tz_localize("UTC").dt.tz_convert(tz) if tz is not None else values).array
        if isinstance(dtype, np.dtype):
            return cols.as_dtype(raw, dtype)
        return pd.array(raw.astype(dtype.numpy_dtype), dtype=dtype)

    def scalar(self, name, row):
        return python_scalar(self.column(name).iloc[row])

    def labels(self, values):
        return np.asarray(values, dtype=object)

    def feature(self, array, present=None):
        return array

    def build(self, columns):
        # Columns go in one by one: names may repeat types pandas would
        # otherwise try to align.  They are the call's own new arrays, so
        # the frame takes them over rather than copying them.
        frame = self.pd.DataFrame({index: column for index, (_, column) in enumerate(columns)}, copy=False)
        frame.columns = [name for name, _ in columns]
        return frame


# ----------------------------------------------------------------- polars

class PolarsFrame:
    def __init__(self, frame):
        import polars as pl
        self.pl = pl
        self.frame = frame

    def has(self, name):
        return isinstance(name, str) and name in self.frame.columns

    def column(self, name):
        return self.frame.get_column(name)

    def key(self, role, name):
        pl = self.pl
        column = self.column(name)
        dtype = column.dtype
        if column.null_count():
            raise ValueError(_texts.null_in(role, name))
        if dtype == pl.String or dtype == pl.Categorical:
            return cols.arrow_key(role, name, column)
        if isinstance(dtype, pl.Enum):
            ranks = np.arange(len(dtype.categories), dtype=np.uint32)
            return cols.int_key(role, name, column.to_physical().to_numpy(), None, ranks)
        if dtype == pl.Boolean:
            return cols.int_key(role, name, column.cast(pl.UInt8).to_numpy())
        if dtype.is_integer():
            return cols.int_key(role, name, column.to_numpy())
        if dtype.is_temporal():
            return cols.int_key(role, name, column.to_physical().to_numpy())
        if dtype.is_float():
            return cols.key(role, name, column.to_numpy())
        try:
            ranks = (column.rank("dense") - 1).cast(pl.UInt32)
        except Exception:
            raise TypeError(_texts.key_type(role, name, dtype)) from None
        return cols.int_key(role, name, ranks.to_numpy())

    def values(self, name):
        pl = self.pl
        column = self.column(name)
        dtype = column.dtype
        if dtype == pl.Float64:
            return cols.values(name, column.to_numpy())
        if dtype == pl.Float32:
            return column.cast(pl.Float64).to_numpy()
        if dtype.is_integer():
            if column.len() > column.null_count():
                cols.check_exact(name, int(column.min()), int(column.max()))
            return column.cast(pl.Float64).to_numpy()
        raise TypeError(_texts.value_type(name, dtype))

    def time(self, name):
        pl = self.pl
        column = self.column(name)
        dtype = column.dtype
        if column.null_count():
            raise ValueError(_texts.null_in("time", name))
        if dtype.is_temporal():
            return cols.time(name, column.to_physical().cast(pl.Int64).to_numpy())
        if dtype.is_integer() or dtype.is_float():
            return cols.time(name, column.to_numpy())
        raise TypeError(_texts.time_type(name, dtype))

    def take(self, name, rows):
        return self.column(name).gather(rows)

    def time_unit(self, name):
        pl = self.pl
        dtype = self.column(name).dtype
        if dtype == pl.Date:
            return "D"
        if isinstance(dtype, (pl.Datetime, pl.Duration)):
            return dtype.time_unit
        if dtype.is_temporal():
            return "ns"
        return None

    def time_values(self, name, raw):
        pl = self.pl
        dtype = self.column(name).dtype
        if dtype == pl.Date:
            return pl.Series(raw.astype(np.int32)).cast(dtype)
        return pl.Series(raw).cast(dtype)

    def scalar(self, name, row):
        return self.column(name)[int(row)]

    def labels(self, values):
        return self.pl.Series(values)

    def feature(self, array, present=None):
        series = self.pl.Series(array)
        if present is not None and not present.all():
            series = series.scatter(np.flatnonzero(~present), None)
        return series

    def build(self, columns):
        return self.pl.DataFrame([column.alias(name) if isinstance(column, self.pl.Series)
                                  else self.pl.Series(name, column) for name, column in columns])


# ---------------------------------------------------------------- pyarrow

class ArrowTable:
    def __init__(self, table):
        import pyarrow as pa
        self.pa = pa
        self.table = table

    def has(self, name):
        return isinstance(name, str) and name in self.table.column_names

    def column(self, name):
        if self.table.column_names.count(name) > 1:
            raise ValueError(_texts.repeated_column(name))
        return self.table.column(name)

    @staticmethod
    def physical(column):
        """A temporal column seen as the integers it stores."""
        import pyarrow as pa
        physical = pa.int32() if column.type.bit_width == 32 else pa.int64()
        return pa.chunked_array([chunk.view(physical) for chunk in column.chunks], type=physical)

    @staticmethod
    def key_of(role, name, column):
        import pyarrow as pa
        import pyarrow.compute as pc
        if isinstance(column, pa.Array):
            column = pa.chunked_array([column])
        kind = column.type
        if column.null_count:
            raise ValueError(_texts.null_in(role, name))
        if pa.types.is_dictionary(kind):
            kind_of_values = kind.value_type
            if (pa.types.is_string(kind_of_values) or pa.types.is_large_string(kind_of_values)
                    or pa.types.is_string_view(kind_of_values)):
                return cols.arrow_key(role, name, column)
            column = column.cast(kind_of_values)
            kind = column.type
        if pa.types.is_string(kind) or pa.types.is_large_string(kind) or pa.types.is_string_view(kind):
            return cols.arrow_key(role, name, column)
        if pa.types.is_integer(kind):
            return cols.int_key(role, name, column.to_numpy())
        if pa.types.is_boolean(kind):
            return cols.int_key(role, name, column.cast(pa.uint8()).to_numpy())
        if pa.types.is_temporal(kind):
            return cols.int_key(role, name, ArrowTable.physical(column).to_numpy())
        if pa.types.is_floating(kind):
            return cols.key(role, name, column.to_numpy())
        try:
            ranks = pc.subtract(pc.rank(column.combine_chunks(), tiebreaker="dense"), 1)
        except (pa.ArrowException, TypeError):
            raise TypeError(_texts.key_type(role, name, kind)) from None
        return cols.int_key(role, name, ranks.to_numpy())

    def key(self, role, name):
        return self.key_of(role, name, self.column(name))

    def values(self, name):
        pa = self.pa
        import pyarrow.compute as pc
        column = self.column(name)
        kind = column.type
        if pa.types.is_float64(kind):
            return cols.values(name, column.to_numpy())
        if pa.types.is_float32(kind) or pa.types.is_float16(kind):
            return column.cast(pa.float64()).to_numpy()
        if pa.types.is_integer(kind):
            bounds = pc.min_max(column)
            if bounds["min"].is_valid:
                cols.check_exact(name, bounds["min"].as_py(), bounds["max"].as_py())
            return column.cast(pa.float64()).to_numpy()
        raise TypeError(_texts.value_type(name, kind))

    def time(self, name):
        pa = self.pa
        column = self.column(name)
        kind = column.type
        if column.null_count:
            raise ValueError(_texts.null_in("time", name))
        if pa.types.is_temporal(kind):
            return cols.time(name, self.physical(column).to_numpy().astype(np.int64))
        if pa.types.is_integer(kind) or pa.types.is_floating(kind):
            return cols.time(name, column.to_numpy())
        raise TypeError(_texts.time_type(name, kind))

    def take(self, name, rows):
        pa = self.pa
        column = self.column(name)
        try:
            return column.take(pa.array(rows))
        except pa.ArrowNotImplementedError:
            # Types without a take kernel (string views): through a type that has one.
            return column.cast(pa.large_string()).take(pa.array(rows)).cast(column.type)

    def scalar(self, name, row):
        return self.column(name)[int(row)].as_py()

    def time_unit(self, name):
        pa = self.pa
        kind = self.column(name).type
        if pa.types.is_date32(kind):
            return "D"
        if pa.types.is_date64(kind):
            return "ms"
        if pa.types.is_temporal(kind):
            return getattr(kind, "unit", "ns")
        return None

    def time_values(self, name, raw):
        pa = self.pa
        kind = self.column(name).type
        if pa.types.is_temporal(kind):
            width = np.int32 if kind.bit_width == 32 else np.int64
            return pa.array(raw.astype(width)).view(kind)
        return pa.array(raw).cast(kind)

    def labels(self, values):
        return self.pa.array(values)

    def feature(self, array, present=None):
        if present is not None and not present.all():
            return self.pa.array(array, mask=~present)
        return self.pa.array(array)

    def build(self, columns):
        return self.pa.table([column for _, column in columns], names=[name for name, _ in columns])
