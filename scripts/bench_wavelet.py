#!/usr/bin/env python3
"""Runs bench/wavelet_bench and times pywt on the same sizes, interleaved.

Each round runs our benchmark program once and then times pywt, so both see
the same load; the ratio of a round is pywt time / our time (above 1: ours is
faster). After all rounds it prints, per transform, the ratio of every round
and their minimum, median and maximum, and the floor (one read of the input
and one write of the output, the least any design does) beside our time.
pywt runs on one thread; the Image8 forms use every processor the process
may run on, the other forms one.

Usage: scripts/bench_wavelet.py [--rounds N] [--cpus LIST] [path to wavelet_bench]
  --cpus 4-7   pins this script, our program and pywt to those processors
Needs Debian's python3-pywt (scripts/deps.sh ref).
"""
import argparse
import json
import os
import statistics
import subprocess
import timeit

import numpy as np
import pywt

HERE = os.path.dirname(os.path.abspath(__file__))
ap = argparse.ArgumentParser()
ap.add_argument("exe", nargs="?", default=os.path.join(HERE, "..", "build", "default", "bench", "wavelet_bench"))
ap.add_argument("--rounds", type=int, default=3)
ap.add_argument("--cpus", default=None, help="processor list such as 4-7 or 0,2,4")
args = ap.parse_args()


def cpu_list(text):
    cpus = set()
    for part in text.split(","):
        a, _, b = part.partition("-")
        cpus.update(range(int(a), int(b or a) + 1))
    return cpus


if args.cpus:
    os.sched_setaffinity(0, cpu_list(args.cpus))


def ours():
    out = subprocess.run([args.exe, "--benchmark_format=json", "--benchmark_min_time=0.5"],
                         check=True, capture_output=True, text=True).stdout
    return {"/".join(b["name"].split("/")[:2]): b["real_time"] for b in json.loads(out)["benchmarks"]}  # ms


def best(fn, n=5):
    return min(timeit.repeat(fn, number=1, repeat=n)) * 1000.0


rng = np.random.default_rng(1)
pic = rng.integers(0, 4096, (2048, 2048)).astype(np.float64)
vol = rng.integers(0, 4096, (256, 256, 256)).astype(np.float32)
coif2 = pywt.Wavelet("coif2")
coeffs = {name: pywt.dwt2(pic, wav, mode="periodization") for name, wav in (("db4", "db4"), ("coif2", coif2))}
coeffs3 = pywt.dwtn(vol, "db4", mode="periodization")


def peers():
    t = {}
    for name, wav in (("db4", "db4"), ("coif2", coif2)):
        t["Wavelet2D/dwt2_" + name] = best(lambda: pywt.dwt2(pic, wav, mode="periodization"))
        if name == "db4":  # ours with the bands allocated by the call, as pywt allocates its own
            t["Wavelet2D/dwt2alloc_db4"] = t["Wavelet2D/dwt2_db4"]
        t["Wavelet2D/idwt2_" + name] = best(lambda: pywt.idwt2(coeffs[name], wav, mode="periodization"))
    t_dwtn = best(lambda: pywt.dwtn(vol, "db4", mode="periodization"), 3)
    t_idwtn = best(lambda: pywt.idwtn(coeffs3, "db4", mode="periodization"), 3)
    t.update({"Wavelet3D/dwtn_double": t_dwtn, "Wavelet3D/idwtn_double": t_idwtn,
              "Wavelet3D/dwtn_image8": t_dwtn, "Wavelet3D/idwtn_image8": t_idwtn})
    return t


FLOOR = {"dwt2": "Floor2D/dwt2_floor", "dwt2alloc": "Floor2D/dwt2_floor", "idwt2": "Floor2D/idwt2_floor",
         "dwtn": "Floor3D/dwtn_floor", "idwtn": "Floor3D/idwtn_floor"}
rounds = []
for r in range(args.rounds):
    mine = ours()
    theirs = peers()
    rounds.append((mine, theirs))
    print("round %d: " % (r + 1) + "  ".join(
        "%s %.2f" % (k.split("/")[1], theirs[k] / mine[k]) for k in theirs if k in mine), flush=True)

print()
print("%-24s %9s %9s %9s  %-20s %6s %6s %6s" % ("transform", "ours ms", "pywt ms", "floor ms", "ratio per round",
                                              "min", "median", "max"))
for key in rounds[0][1]:
    if key not in rounds[0][0]:
        continue
    ratios = [t[key] / m[key] for m, t in rounds]
    floor_key = FLOOR[key.split("/")[1].split("_")[0]]
    floor = statistics.median(m.get(floor_key, float("nan")) for m, _ in rounds)
    print("%-24s %9.2f %9.2f %9.2f  %-20s %6.2f %6.2f %6.2f" % (
        key, statistics.median(m[key] for m, _ in rounds), statistics.median(t[key] for _, t in rounds), floor,
        " ".join("%.2f" % x for x in ratios), min(ratios), statistics.median(ratios), max(ratios)))
