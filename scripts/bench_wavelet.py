#!/usr/bin/env python3
"""Runs bench/wavelet_bench and times pywt on the same sizes in the same run.

Ratio = pywt time / our time (above 1: ours is faster). pywt runs on one
thread; the Image8 forms use every processor, the other forms one.
Usage: scripts/bench_wavelet.py [path to wavelet_bench]
Needs Debian's python3-pywt (scripts/deps.sh ref).
"""
import json
import os
import subprocess
import sys
import timeit

import numpy as np
import pywt

HERE = os.path.dirname(os.path.abspath(__file__))
exe = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "default", "bench", "wavelet_bench")
ours = json.loads(subprocess.run([exe, "--benchmark_format=json", "--benchmark_min_time=0.5"],
                                 check=True, capture_output=True, text=True).stdout)
mine = {"/".join(b["name"].split("/")[:2]): b["real_time"] for b in ours["benchmarks"]}  # milliseconds


def best(fn, n=5):
    return min(timeit.repeat(fn, number=1, repeat=n)) * 1000.0


rng = np.random.default_rng(1)
pic = rng.integers(0, 4096, (2048, 2048)).astype(np.float64)
vol = rng.integers(0, 4096, (256, 256, 256)).astype(np.float32)
c = pywt.Wavelet("coif2")
peers = {}
for name, wav in (("db4", "db4"), ("coif2", c)):
    coeffs = pywt.dwt2(pic, wav, mode="periodization")
    peers["Wavelet2D/dwt2_" + name] = best(lambda: pywt.dwt2(pic, wav, mode="periodization"))
    peers["Wavelet2D/idwt2_" + name] = best(lambda: pywt.idwt2(coeffs, wav, mode="periodization"))
coeffs3 = pywt.dwtn(vol, "db4", mode="periodization")
t_dwtn = best(lambda: pywt.dwtn(vol, "db4", mode="periodization"), 3)
t_idwtn = best(lambda: pywt.idwtn(coeffs3, "db4", mode="periodization"), 3)
peers.update({"Wavelet3D/dwtn_double": t_dwtn, "Wavelet3D/idwtn_double": t_idwtn,
              "Wavelet3D/dwtn_image8": t_dwtn, "Wavelet3D/idwtn_image8": t_idwtn})
print("%-26s %10s %10s %8s" % ("transform", "ours ms", "pywt ms", "ratio"))
for key, peer in peers.items():
    m = mine.get(key)
    if m is None:
        continue
    print("%-26s %10.2f %10.2f %8.2f" % (key, m, peer, peer / m))
