"""What listening for Ctrl-C costs a call, and how soon it answers.

    python3 bench/interrupt_cost.py [--rounds N]

Prints (1) the time of a call of 100,000 records of one ten-element column,
where the calling thread waits for the pool in many short stretches (the
median and quartiles of --rounds calls), and (2) the time from SIGINT to
KeyboardInterrupt on a call of several seconds.  Run it against two builds
(PYTHONPATH) to compare them; it asserts nothing."""

import argparse
import os
import signal
import statistics
import subprocess
import sys
import time

import numpy as np

import orven


def call_times(rounds):
    rng = np.random.default_rng(1)
    data = [{"x": rng.normal(size=10)} for _ in range(100_000)]
    orven.extract_features(data)  # pool started, registry published
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        orven.extract_features(data)
        times.append(time.perf_counter() - start)
    return times


def interrupt_latency(seconds=4.0, after=1.0):
    series = np.random.default_rng(2).normal(size=1 << 20)
    orven.extract_features([{"s": series}])
    start = time.perf_counter()
    orven.extract_features([{"s": series}])
    per_record = time.perf_counter() - start
    data = [{"s": series} for _ in range(max(4, int(seconds * os.cpu_count() / per_record)))]
    # Sent by another process: a thread of this one would need the
    # interpreter, which the calling thread keeps for the whole call.
    sender = subprocess.Popen(
        [sys.executable, "-c",
         "import os, signal, sys, time; time.sleep(float(sys.argv[2])); "
         "print(time.time(), flush=True); os.kill(int(sys.argv[1]), signal.SIGINT)",
         str(os.getpid()), str(after)],
        stdout=subprocess.PIPE, text=True)
    caught = None
    try:
        orven.extract_features(data)
        sender.wait()
        time.sleep(0.01)  # a signal the call did not act on is taken here
    except KeyboardInterrupt:
        caught = time.time()
    sent = float(sender.communicate()[0])
    return caught - sent


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=15)
    args = parser.parse_args()
    times = call_times(args.rounds)
    q1, median, q3 = statistics.quantiles(times, n=4)
    print(f"100,000 x 1 x 10: median {median * 1e3:.1f} ms (quartiles {q1 * 1e3:.1f} .. {q3 * 1e3:.1f} ms)"
          f" over {args.rounds} calls")
    latencies = [interrupt_latency() for _ in range(3)]
    print("SIGINT -> KeyboardInterrupt: " + ", ".join(f"{x:.3f} s" for x in latencies))


if __name__ == "__main__":
    main()
