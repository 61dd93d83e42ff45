"""Shared helpers for the black-box tests of the `orven` module."""

import math
import os
import struct
import subprocess
import sys
import textwrap

FEATURE_ORDER = (
    "absolute_maximum",
    "mean",
    "median",
    "variance",
    "standard_deviation",
    "length",
    "maximum",
    "minimum",
    "root_mean_square",
    "sum_values",
)

MEDIAN_NAN_MESSAGE = "called `Option::unwrap()` on a `None` value"
MEDIAN_LOCATION = "core/src/features/minimal/functional:19:44"
BACKTRACE_HINT = "RUST_BACKTRACE=1"


def bits(value):
    """The IEEE 754 bit pattern of a Python float."""
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def from_bits(pattern):
    return struct.unpack("<d", struct.pack("<Q", pattern))[0]


def describe(value):
    return f"{value!r} (0x{bits(value):016x})"


def run_python(code, env_updates=(), *, timeout=120, preexec_fn=None, check=True):
    """Runs `code` (dedented) in a fresh interpreter, this one's executable,
    and returns the completed process; fails unless it exits with 0 when
    `check` is set.  `env_updates` maps names to values, None removing a
    name; the pool and backtrace settings of this process are never
    inherited unless given.  The child can import this module."""
    env = dict(os.environ)
    # The child can import these helpers too.
    here = os.path.dirname(os.path.abspath(__file__))
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [here, env.get("PYTHONPATH")]))
    for name in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS", "RUST_BACKTRACE"):
        env.pop(name, None)
    for name, value in dict(env_updates).items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    completed = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=env,
        capture_output=True,
        text=True,
        timeout=timeout,
        preexec_fn=preexec_fn,
    )
    if check and completed.returncode != 0:
        raise AssertionError(
            f"child exited with {completed.returncode}\n"
            f"--- stdout ---\n{completed.stdout}\n--- stderr ---\n{completed.stderr}"
        )
    return completed


def is_nan(value):
    return isinstance(value, float) and math.isnan(value)


def as_bits(result):
    """A result of extract_features with every float replaced by its bit
    pattern, so that results holding NaN compare equal when identical."""
    return [
        {column: {name: bits(value) for name, value in features.items()}
         for column, features in record.items()}
        for record in result
    ]
