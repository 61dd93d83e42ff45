"""Cost of series that are views of one buffer against the same series as
separate arrays, at growing counts (one worker: RAYON_NUM_THREADS=1).
"""
import sys, time, numpy as np, orven
for count in (2500, 5000, 10000, 20000):
    buf = np.random.default_rng(1).normal(size=count * 10)
    views = [{"c0": buf[i*10:(i+1)*10]} for i in range(count)]
    copies = [{"c0": buf[i*10:(i+1)*10].copy()} for i in range(count)]
    res = {}
    for name, data in (("views", views), ("arrays", copies)):
        best = 1e9
        for _ in range(3):
            s = time.perf_counter(); orven.extract_features(data); best = min(best, time.perf_counter() - s)
        res[name] = best
    print(f"{count:6d} series: views {res['views']:.3f} s ({res['views']/count*1e6:.1f} us/series), arrays {res['arrays']:.4f} s, ratio {res['views']/res['arrays']:.0f}x")
r = orven.extract_features(copies[:1])
print("one result record, bytes of python objects:", sys.getsizeof(r[0]) + sys.getsizeof(r[0]["c0"]) + sum(sys.getsizeof(v) for v in r[0]["c0"].values()) + sys.getsizeof("c0"))
