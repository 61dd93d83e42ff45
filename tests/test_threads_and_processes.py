"""The worker pool as seen from Python: how many threads it starts for the
settings in the environment, calls from several Python threads at once, and
processes forked after the pool exists."""

import os
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import orven
from helpers import as_bits, run_python

COUNT_WORKERS = """
    import os
    import numpy as np
    import orven

    def threads():
        return len(os.listdir("/proc/self/task"))

    data = {data}
    before = threads()
    result = orven.extract_features(data)
    after_first = threads()
    orven.extract_features([{{"a": np.arange(100.0)}} for _ in range(50)])
    after_second = threads()
    print(after_first - before, after_second - after_first)
"""


def count_workers(env, data="[{'a': np.arange(10.0)}]", preexec_fn=None):
    child = run_python(COUNT_WORKERS.format(data=data), env, preexec_fn=preexec_fn)
    created, later = map(int, child.stdout.split())
    assert later == 0, "the pool is created once and never grows"
    return created


def cgroup_cpu_limit():
    """The CPU quota of this process's control group, if one is set."""
    try:
        with open("/proc/self/cgroup", encoding="utf-8") as handle:
            lines = handle.read().splitlines()
    except OSError:
        return None
    for line in lines:
        _, controllers, path = line.split(":", 2)
        if controllers == "":
            candidates = [("/sys/fs/cgroup" + path, "cpu.max")]
        elif "cpu" in controllers.split(","):
            candidates = [("/sys/fs/cgroup/cpu" + path, "cpu.cfs_quota_us"),
                          ("/sys/fs/cgroup/cpu,cpuacct" + path, "cpu.cfs_quota_us")]
        else:
            continue
        for directory, name in candidates:
            try:
                with open(os.path.join(directory, name), encoding="utf-8") as handle:
                    text = handle.read().split()
            except OSError:
                continue
            if name == "cpu.max":
                if text and text[0] != "max":
                    return max(1, int(text[0]) // int(text[1]))
            else:
                quota = int(text[0])
                if quota > 0:
                    with open(os.path.join(directory, "cpu.cfs_period_us"), encoding="utf-8") as h:
                        return max(1, quota // int(h.read()))
    return None


def available_cpus():
    cpus = len(os.sched_getaffinity(0))
    limit = cgroup_cpu_limit()
    return cpus if limit is None else min(cpus, limit)


@pytest.mark.parametrize(
    "num_threads, rs_num_cpus, expected",
    [
        ("3", None, 3),
        ("4", "2", 4),
        ("+4", None, 4),
        ("1", None, 1),
        ("+0001", None, 1),
        # invalid values count as unset, so RAYON_RS_NUM_CPUS decides
        ("-1", "2", 2),
        ("abc", "2", 2),
        ("4a", "2", 2),
        (" 4", "2", 2),
        ("4 ", "2", 2),
        ("", "2", 2),
        ("+", "2", 2),
        ("18446744073709551616", "2", 2),  # does not fit 64 bits
        (None, "3", 3),
        (None, "+2", 2),
    ],
)
def test_worker_count_from_environment(num_threads, rs_num_cpus, expected):
    env = {"RAYON_NUM_THREADS": num_threads, "RAYON_RS_NUM_CPUS": rs_num_cpus}
    assert count_workers(env) == expected


@pytest.mark.parametrize(
    "env",
    [
        {},
        {"RAYON_NUM_THREADS": "0"},
        # 0 means the available CPUs and skips RAYON_RS_NUM_CPUS
        {"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "5"},
        # an invalid RAYON_RS_NUM_CPUS is ignored
        {"RAYON_RS_NUM_CPUS": "0"},
        {"RAYON_RS_NUM_CPUS": "x"},
        {"RAYON_NUM_THREADS": "no", "RAYON_RS_NUM_CPUS": "-3"},
    ],
    ids=["unset", "zero", "zero-skips-rs", "rs-zero", "rs-letters", "both-invalid"],
)
def test_default_worker_count_is_the_available_cpus(env):
    assert count_workers(env) == available_cpus()


def test_default_worker_count_follows_the_affinity_mask():
    first_cpu = min(os.sched_getaffinity(0))
    created = count_workers({}, preexec_fn=lambda: os.sched_setaffinity(0, {first_cpu}))
    assert created == 1


def test_an_empty_call_creates_the_pool():
    assert count_workers({"RAYON_NUM_THREADS": "3"}, data="[]") == 3


def test_no_threads_before_the_first_call():
    child = run_python(
        """
        import os
        before = len(os.listdir("/proc/self/task"))
        import orven
        orven.extract_features  # touch it
        after = len(os.listdir("/proc/self/task"))
        print(after - before)
        """,
        {"RAYON_NUM_THREADS": "3"},
    )
    assert child.stdout.strip() == "0"


# ------------------------------------------------------ several Python threads

def make_records(seed, count):
    rng = np.random.default_rng(seed)
    return [
        {f"c{j}": rng.normal(size=int(rng.integers(0, 200))) for j in range(int(rng.integers(0, 5)))}
        for _ in range(count)
    ]


def test_python_threads_calling_at_once_get_their_own_results():
    inputs = [make_records(seed, 40) for seed in range(8)]
    expected = [as_bits(orven.extract_features(records)) for records in inputs]
    barrier = threading.Barrier(8)

    def work(index):
        barrier.wait()
        outcomes = []
        for _ in range(25):
            outcomes.append(as_bits(orven.extract_features(inputs[index])) == expected[index])
        return all(outcomes)

    with ThreadPoolExecutor(max_workers=8) as pool:
        assert all(pool.map(work, range(8)))


def test_python_threads_mixing_failures_and_successes():
    good = make_records(99, 30)
    expected = as_bits(orven.extract_features(good))
    bad = [{"a": np.array([1.0, np.nan])}]
    barrier = threading.Barrier(6)

    def work(index):
        barrier.wait()
        for round_ in range(20):
            if (index + round_) % 2:
                try:
                    orven.extract_features(bad)
                except BaseException as error:  # noqa: BLE001
                    if type(error).__name__ != "PanicException":
                        raise
                else:
                    return False
            elif as_bits(orven.extract_features(good)) != expected:
                return False
        return True

    with ThreadPoolExecutor(max_workers=6) as pool:
        assert all(pool.map(work, range(6)))


# -------------------------------------------------------------------- fork

FORK_SCRIPT = """
    import os
    import sys
    import numpy as np
    import orven

    from helpers import as_bits

    data = [{"a": np.arange(float(n)), "b": np.linspace(-1.0, 1.0, n + 3)} for n in range(64)]
    expected = as_bits(orven.extract_features(data))  # the pool exists from here on
    assert len(expected) == 64

    pid = os.fork()
    if pid == 0:
        try:
            ok = all(as_bits(orven.extract_features(data)) == expected for _ in range(5))
            ok = ok and orven.extract_features([{"z": np.array([2.0, 4.0])}])[0]["z"]["mean"] == 3.0
            os._exit(0 if ok else 3)
        except BaseException:
            os._exit(4)
    _, status = os.waitpid(pid, 0)
    # The parent is unaffected.
    assert as_bits(orven.extract_features(data)) == expected
    print(os.waitstatus_to_exitcode(status))
"""


@pytest.mark.parametrize("workers", ["1", "2", "4"])
def test_forked_child_completes(workers):
    child = run_python(FORK_SCRIPT, {"RAYON_NUM_THREADS": workers}, timeout=120)
    assert child.stdout.strip() == "0", child.stderr


MULTIPROCESSING_SCRIPT = """
    import multiprocessing
    import numpy as np
    import orven

    def work(n):
        data = [{"x": np.arange(float(n) + 1.0)}] * 3
        return orven.extract_features(data)[2]["x"]["sum_values"]

    if __name__ == "__main__":
        assert work(3) == 6.0  # create the pool in the parent
        context = multiprocessing.get_context("fork")
        with context.Pool(2) as pool:
            results = pool.map(work, range(20))
        assert results == [n * (n + 1) / 2 for n in range(20)], results
        print("ok")
"""


def test_multiprocessing_fork_pool():
    child = run_python(MULTIPROCESSING_SCRIPT, {"RAYON_NUM_THREADS": "2"}, timeout=120)
    assert child.stdout.strip() == "ok"
