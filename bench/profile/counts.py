"""Allocations per series and garbage-collector time of one call.

    LD_PRELOAD=$PWD/malloc_count.so python counts.py $PWD/malloc_count.so

With PYTHONMALLOC=malloc the Python objects are counted too.
"""
import ctypes, gc, sys, time
import numpy as np, orven
lib = ctypes.CDLL(sys.argv[1])
counts = (ctypes.c_long * 4)()
def snap():
    lib.orven_malloc_counts(counts); return list(counts)
N = 100_000
for length in (0, 10):
    buf = np.random.default_rng(1).normal(size=N * length)
    data = [{"c0": buf[i*length:(i+1)*length].copy()} for i in range(N)]
    orven.extract_features(data[:10])
    gc_time = [0.0, 0]; t0 = [0.0]
    def cb(phase, info):
        if phase == "start": t0[0] = time.perf_counter()
        else: gc_time[0] += time.perf_counter() - t0[0]; gc_time[1] += 1
    gc.callbacks.append(cb)
    a = snap(); s = time.perf_counter(); r = orven.extract_features(data); e = time.perf_counter(); b = snap()
    gc.callbacks.remove(cb)
    d = [y - x for x, y in zip(a, b)]
    print(f"length {length}: call {e-s:.3f} s; per series malloc {d[0]/N:.2f} free {d[1]/N:.2f} realloc {d[2]/N:.2f} calloc {d[3]/N:.2f}; gc runs {gc_time[1]} taking {gc_time[0]*1e3:.1f} ms")
    del r
    gc.disable(); s = time.perf_counter(); r = orven.extract_features(data); e = time.perf_counter(); gc.enable()
    print(f"   same call with gc disabled: {e-s:.3f} s")
    del r
