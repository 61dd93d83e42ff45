"""Prints a backtrace for each malloc of one small call (two records of ten
values, one worker); the addresses resolve with addr2line against the
unstripped module of the wheel build directory.

    RAYON_NUM_THREADS=1 LD_PRELOAD=$PWD/malloc_count.so python trace.py $PWD/malloc_count.so
"""
import ctypes, sys
import numpy as np, orven
lib = ctypes.CDLL(sys.argv[1])
data = [{"c0": np.arange(10.0)} for _ in range(2)]
orven.extract_features(data)
lib.orven_malloc_trace(1); r = orven.extract_features(data); lib.orven_malloc_trace(0)
for line in open("/proc/self/maps"):
    if "orven.cpython" in line and " 00000000 " in line:
        print("BASE", line.split("-")[0], line.split()[-1], file=sys.stderr); break
