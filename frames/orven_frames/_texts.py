"""Every message the frame path raises, in one place: the package's own
and those the native part raises, which it is handed with each column
(_seam.ColumnTexts).  Only the native part's internal errors, which a
correct call never meets, are worded there (TypeError "group_features:
...", SystemError)."""


def missing_column(name):
    return f"the frame has no column {name!r}"


def null_in(role, name):
    return f"{role} column {name!r} holds a null"


def changed(role, name):
    return f"{role} column {name!r} changed while the call was reading it"


def holds_nan(role, name):
    return f"{role} column {name!r} holds NaN"


def borrowed(role, name):
    return f"{role} column {name!r} is borrowed for writing by another extension module"


def unreadable_arrow():
    """The start of the text; the native part adds why."""
    return "cannot read the column's Arrow data: "


def unorderable(role, name):
    return f"{role} column {name!r} holds values that cannot be put in order"


def key_type(role, name, dtype):
    return f"{role} column {name!r} has type {dtype}, which cannot be used as a key"


def value_type(name, dtype):
    return (f"value column {name!r} has type {dtype}; expected float64, float32 "
            f"or integers of at most 2**53")


def value_too_wide(name):
    return f"value column {name!r} holds integers beyond 2**53, which float64 cannot hold exactly"


def time_type(name, dtype):
    return (f"time column {name!r} has type {dtype}; expected integers, floats, "
            f"dates or datetimes")


def nan_in_series(column, keys):
    described = ", ".join(f"{name}={value!r}" for name, value in keys)
    return f"{column} holds NaN in the series {described}"


def bad_nan_policy(policy):
    return f"nan must be 'raise' or 'drop', not {policy!r}"


def kind_with_wide_input():
    return "kind must be None when value is a list of columns (wide input)"


def no_value_columns():
    return "value must name at least one column"


def no_id_columns():
    return "id must name at least one column"


def frame_type(frame):
    return (f"frame must be a pandas.DataFrame, a polars.DataFrame, a pyarrow.Table or a "
            f"mapping of column name to 1-D NumPy array, not {type(frame).__name__}")


def mapping_column(name):
    return f"column {name!r} of the mapping is not a 1-D NumPy array"


def mapping_lengths():
    return "the arrays of the mapping are not all of one length"


def repeated_column(name):
    return f"column {name!r} is named more than once among id, kind, time and value"


def no_tqdm():
    return "progress=True needs tqdm, which is not installed (pip install tqdm)"


def nan_in_window(column, keys, end):
    described = ", ".join(f"{name}={value!r}" for name, value in keys)
    return f"{column} holds NaN in the series {described}, in the window ending at {end!r}"


def unwindowable_series(keys, why):
    described = ", ".join(f"{name}={value!r}" for name, value in keys)
    return f"the series {described} cannot be cut into windows: {why}"


def not_a_count(argument, value):
    return f"{argument} must be an integer, not {type(value).__name__}"


def count_below(argument, value, least):
    return f"{argument} must be at least {least}, not {value!r}"


def size_or_span():
    return "exactly one of size and span must be given"


def every_without_span():
    return "every can only be given with span"


def step_without_size():
    return "step can only be given with size"


def not_positive(argument, value):
    return f"{argument} must be above zero, not {value!r}"


def bad_window_length(argument, value):
    return (f"{argument} must be a number (a numeric time column) or a timedelta "
            f"(a date or datetime time column), not {type(value).__name__}")


def timedelta_for_numbers(argument, name):
    return f"{argument} is a timedelta, but time column {name!r} holds numbers: give a number"


def number_for_datetimes(argument, name):
    return f"{argument} is a number, but time column {name!r} holds dates or datetimes: give a timedelta"


def not_whole(argument, name, unit):
    return f"{argument} is not a whole number of the unit ({unit}) of time column {name!r}"


def not_finite(argument, value):
    return f"{argument} must be finite, not {value!r}"


def too_large(argument):
    return f"{argument} lies beyond the range of the time column's int64 times"


def native_not_found(name, path):
    return f"cannot load {name} from {path}"
