"""Shared helpers for the black-box tests of the `orven` module."""

import math
import os
import struct
import subprocess
import sys
import textwrap

# The ten feature names in orven's order, from their one source: the native
# core, which exports them through the frame package.
from orven_frames import FEATURES as FEATURE_ORDER

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


# ------------------------------------------------------------------ reference
# A small pure-Python reference of the ten features.  Python floats are IEEE
# 754 doubles and every operation below is rounded by itself, in the order the
# statistics define, so the reference gives the exact bits the module must
# return.

QUIET_NAN = from_bits(0x7FF8000000000000)  # the NaN with its sign bit clear
INF = math.inf


class AnyNaN:
    """Marks a result that must be a NaN whose sign and payload are not
    fixed: one that arithmetic made, such as the quotient -0.0 / 0.0 of the
    empty series or the sum inf + -inf.  The floating-point unit decides its
    bits (x86-64 sets the sign of the NaN an invalid operation makes, AArch64
    clears it, and which operand's NaN an operation passes on is not fixed
    either), so only NaN-ness is compared.  NaNs that no arithmetic touched
    (the quiet NaN given for the empty series, a lone element handed back)
    are compared to the bit like every other value."""


ANY_NAN = AnyNaN()


def computed(value):
    """A value that arithmetic made, as the comparison sees it."""
    return ANY_NAN if value != value else value


def sequential_sum(terms):
    total = -0.0
    for term in terms:
        total = total + term
    return total


def extreme(values, start, better, absolute=False):
    """Maximum (better = >), minimum (better = <) or absolute maximum by the
    four-block procedure, signed zeros included."""

    def step(acc, v):
        if acc != acc:
            return v
        return v if better(v, acc) else acc

    def join(p, q):
        if q != q:
            return p
        return p if better(p, q) else q

    mapped = [abs(v) for v in values] if absolute else list(values)
    n = len(values)
    if n == 0:
        return start
    if n < 4:
        acc = start
        for v in mapped:
            acc = step(acc, v)
        return acc
    partial = [start] * 4
    i = 0
    while i + 3 < n:
        if any(v != v for v in values[i : i + 4]):
            break
        for j in range(4):
            partial[j] = step(partial[j], mapped[i + j])
        i += 4
    acc = join(join(partial[3], partial[1]), join(partial[2], partial[0]))
    for v in mapped[i:]:
        acc = step(acc, v)
    return acc


def reference_median(values):
    n = len(values)
    if n == 0:
        return QUIET_NAN
    if n == 1:
        return values[0]
    if any(v != v for v in values):
        return None  # refused
    ordered = sorted(values)  # stable; -0.0 and +0.0 compare equal
    h = n // 2
    if n % 2:
        return ordered[h]
    return computed((ordered[h - 1] + ordered[h]) * 0.5)


def reference_features(values):
    """The ten features of one series, or None where the median refuses."""
    median = reference_median(values)
    if median is None:
        return None
    n = len(values)
    count = float(n)
    total = sequential_sum(values)
    if n == 0:
        mean = ANY_NAN
        variance = QUIET_NAN
        standard_deviation = QUIET_NAN
        root_mean_square = ANY_NAN
    else:
        mean = total / count
        deviations = sequential_sum((v - mean) * (v - mean) for v in values)
        variance = deviations / count
        # math.sqrt of a NaN gives that NaN back, as the IEEE square root does.
        standard_deviation = computed(math.sqrt(variance))
        root_mean_square = computed(math.sqrt(sequential_sum(v * v for v in values) / count))
        mean, variance = computed(mean), computed(variance)
    return {
        "absolute_maximum": extreme(values, -INF, lambda a, b: a > b, absolute=True),
        "mean": mean,
        "median": median,
        "variance": variance,
        "standard_deviation": standard_deviation,
        "length": count,
        "maximum": extreme(values, -INF, lambda a, b: a > b),
        "minimum": extreme(values, INF, lambda a, b: a < b),
        "root_mean_square": root_mean_square,
        "sum_values": computed(total),
    }


def mismatches(expected, actual, label):
    """What differs between two sets of the ten features, each compared to
    the bit, except that ANY_NAN (on either side) asks only for a NaN."""
    found = []
    for name in FEATURE_ORDER:
        want, got = expected[name], actual[name]
        if got is ANY_NAN:  # the reference as the actual side
            want, got = got, want
        if got is ANY_NAN:
            continue
        if not isinstance(got, float):
            found.append(f"{label} {name}: not a float: {got!r}")
        elif want is ANY_NAN:
            if not math.isnan(got):
                found.append(f"{label} {name}: want a NaN, got {describe(got)}")
        elif bits(want) != bits(got):
            found.append(f"{label} {name}: want {describe(want)}, got {describe(got)}")
    return found


def records_running(records, action, hook):
    """`records` as a sequence whose walk runs `action` (caller code) after
    the first record: from a list subclass's `__iter__` ("iter"), or from
    the finaliser of garbage made there, which the collector runs when the
    walk goes on ("finaliser").  The collection is set off by allocations
    of the iterator's own, made until it came: the module itself makes
    tracked objects only once per process, and pauses the collector while
    it makes results, so a collection of its setting off is left to chance."""
    collected = []

    class Finaliser:
        def __init__(self):
            self.cycle = self

        def __del__(self):
            collected.append(True)
            action()

    class Records(list):
        def __iter__(self):
            for index, record in enumerate(list.__iter__(self)):
                if index == 1:
                    if hook == "iter":
                        action()
                    elif hook == "finaliser":
                        Finaliser()
                    else:
                        raise ValueError(hook)
                yield record
                if index == 1 and hook == "finaliser":
                    held = []
                    while not collected and len(held) < 1_000_000:
                        held.append([])

    return Records(records)
