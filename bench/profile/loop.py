"""Calls extract_features on one shape over and over, for a sampling profiler.

    RAYON_NUM_THREADS=1 perf record -e cpu-clock -g python loop.py LENGTH [views|arrays] [RECORDS] [SECONDS]
"""
import sys, time
import numpy as np, orven
N = 100_000
length = int(sys.argv[1]); views = len(sys.argv) > 2 and sys.argv[2] == "views"
count = int(sys.argv[3]) if len(sys.argv) > 3 else N
buf = np.random.default_rng(1).normal(size=count * length)
data = [{"c0": buf[i*length:(i+1)*length] if views else buf[i*length:(i+1)*length].copy()} for i in range(count)]
orven.extract_features(data)
s = time.perf_counter(); calls = 0
while time.perf_counter() - s < float(sys.argv[4] if len(sys.argv) > 4 else 6):
    r = orven.extract_features(data); del r; calls += 1
print(f"{calls} calls, {(time.perf_counter()-s)/calls*1e3:.1f} ms per call", file=sys.stderr)
