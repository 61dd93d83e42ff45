# Type information for the `orven` extension module.  The module is a single
# compiled file with no Python package around it, so its types ship as this
# stub-only package, which type checkers find by the name `orven-stubs`.

from collections.abc import Mapping, Sequence
from typing import Final, TypedDict

import numpy as np
from numpy.typing import NDArray

__all__: Final[list[str]]

class Features(TypedDict):
    """The ten summary features of one series, in this order."""

    absolute_maximum: float
    mean: float
    median: float
    variance: float
    standard_deviation: float
    length: float
    maximum: float
    minimum: float
    root_mean_square: float
    sum_values: float

def extract_features(
    data: Sequence[Mapping[str, NDArray[np.float64]]],
) -> list[dict[str, Features]]:
    """Ten summary features of every series of every record.

    `data` is a sequence of records; each record is a dict from column name
    to a one-dimensional, contiguous, native-endian float64 NumPy array.
    Returns one dict per record, in order: column name (in the record's
    order) to a dict of the features absolute_maximum, mean, median,
    variance, standard_deviation, length, maximum, minimum,
    root_mean_square and sum_values, all floats (length too).

    variance and standard_deviation are the population figures (ddof=0,
    divided by n), not pandas' default ddof=1.  Every value is the same to
    the bit whatever the number of worker threads.  An empty series gives
    length 0.0 and a NaN mean, median and variance.

    Raises:
        TypeError: `data` is not a sequence of dicts of str to 1-D float64
            arrays, or an array is not contiguous.
        pyo3_runtime.PanicException: a series of two or more values holds a
            NaN (it has no median), or an array is borrowed for writing by
            another extension.  It derives from BaseException, not
            Exception: `except Exception` does not catch it.  The whole call
            fails; no partial result is returned.
    """
