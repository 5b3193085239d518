#!/usr/bin/env python3
"""Writes tests/gnr_picture/histo_reference.inc: seeded one-component
histograms with their cut points (by counter, by running count, by fraction of
the pixels, and the two-sided running cut) and their one, two and three Otsu
thresholds, computed here by a separate Python version of the rules.

Run from the repository root:  /usr/bin/python3 scripts/gen_histo_reference.py
"""
import os

import numpy as np

OUT = os.path.join(os.path.dirname(__file__), "..", "tests", "gnr_picture", "histo_reference.inc")


def first_from_bottom(counts, passes, running, none):
    s = 0
    for v, c in enumerate(counts):
        s = s + c if running else c
        if passes(s):
            return v
    return none


def first_from_top(counts, passes, running, none):
    s = 0
    for v in range(len(counts) - 1, -1, -1):
        s = s + counts[v] if running else counts[v]
        if passes(s):
            return v
    return none


def cuts(counts, low_count, high_count, frac_low, frac_high, pixels, sum_count):
    n = len(counts) - 1
    freq = (first_from_bottom(counts, lambda s: s >= low_count, False, n),
            first_from_top(counts, lambda s: s >= high_count, False, 0))
    absolute = (first_from_bottom(counts, lambda s: s >= low_count, True, n),
                first_from_top(counts, lambda s: s >= high_count, True, 0))
    tl = max(1, int(frac_low * pixels + 0.5))
    th = max(1, int(frac_high * pixels + 0.5))
    frac = (first_from_bottom(counts, lambda s: s > tl, True, n), first_from_top(counts, lambda s: s > th, True, 0))
    lo = first_from_bottom(counts, lambda s: s > sum_count, True, n)
    hi = first_from_top(counts, lambda s: s > sum_count, True, 0)
    if lo == hi:
        if hi == 0:
            hi = 1
        else:
            lo = hi - 1
    return freq + absolute + frac + (lo, hi)


def mean(m, w):
    return m if w <= 1e-10 else m / w


def cumulative(counts):
    total = float(sum(counts))
    P, M = [], []
    p = m = 0.0
    for v, c in enumerate(counts):
        pv = float(c) / total
        p += pv
        m += float(v) * pv
        P.append(p)
        M.append(m)
    return P, M


def step(bins, three):
    if bins < 1024:
        return 1
    k = 0 if bins == 1024 else 1 if bins <= 4096 else 2 if bins <= 16384 else 3
    return (3, 9, 27, 81)[k] if three else (2, 4, 8, 16)[k]


def otsu1(P, M):
    n = len(P) - 1
    PT, MT = P[n], M[n]
    best, out = 0.0, 0
    for j in range(n):
        t = j + 1
        w0, m0, w1, m1 = P[j], M[j], PT - P[t], MT - M[t]
        mu0, mu1 = mean(m0, w0), mean(m1, w1)
        a, b = mu1 - (m0 + m1), mu0 - (m0 + m1)
        sigma = w1 * a * a + w0 * b * b
        if sigma > best:
            best, out = sigma, t
    return (out,)


def otsu2(P, M):
    N = len(P)
    s = step(N, False)
    PT, MT = P[N - 1], M[N - 1]
    best, out = 0.0, (0, 0)
    t1 = 0
    while t1 + s < N:
        w0, m0 = P[t1], M[t1]
        part0 = w0 * mean(m0, w0) * mean(m0, w0)
        t2 = t1 + s
        while t2 < N:
            w1, m1 = P[t2] - P[t1], M[t2] - M[t1]
            w2, m2 = PT - P[t2], MT - M[t2]
            mu1, mu2 = mean(m1, w1), mean(m2, w2)
            sigma = part0 + w1 * mu1 * mu1 + w2 * mu2 * mu2
            if sigma > best:
                best, out = sigma, (t1, t2)
            t2 += s
        t1 += s
    return out


def otsu3(P, M):
    N = len(P)
    s = step(N, True)
    Pa, Ma = np.array(P), np.array(M)
    PT, MT = P[N - 1], M[N - 1]
    best, out = 0.0, (0, 0, 0)
    t1 = 0
    while t1 + s < N:
        w0, m0 = P[t1], M[t1]
        part0 = w0 * mean(m0, w0) * mean(m0, w0)
        t2 = t1 + s
        while t2 + s < N:
            w1, m1 = P[t2] - P[t1], M[t2] - M[t1]
            mu1 = mean(m1, w1)
            part1 = part0 + w1 * mu1 * mu1
            t3 = np.arange(t2 + s, N, s)
            w2, m2 = Pa[t3] - P[t2], Ma[t3] - M[t2]
            w3, m3 = PT - Pa[t3], MT - Ma[t3]
            mu2 = np.where(w2 <= 1e-10, m2, m2 / np.where(w2 <= 1e-10, 1, w2))
            mu3 = np.where(w3 <= 1e-10, m3, m3 / np.where(w3 <= 1e-10, 1, w3))
            sigma = part1 + w2 * mu2 * mu2 + w3 * mu3 * mu3
            k = int(np.argmax(sigma))
            if sigma[k] > best:
                best, out = float(sigma[k]), (t1, t2, int(t3[k]))
            t2 += s
        t1 += s
    return out


def histograms(rng):
    out = []
    for bits, kind in ((8, "bimodal"), (8, "trimodal"), (8, "sparse"), (10, "trimodal"), (12, "bimodal"),
                       (12, "noise"), (11, "trimodal")):
        n = 1 << bits
        x = np.arange(n)
        if kind == "bimodal":
            f = 900 * np.exp(-((x - n * 0.2) / (n * 0.05)) ** 2) + 500 * np.exp(-((x - n * 0.78) / (n * 0.08)) ** 2)
        elif kind == "trimodal":
            f = (700 * np.exp(-((x - n * 0.15) / (n * 0.04)) ** 2) + 400 * np.exp(-((x - n * 0.5) / (n * 0.06)) ** 2)
                 + 600 * np.exp(-((x - n * 0.85) / (n * 0.05)) ** 2))
        elif kind == "sparse":
            f = np.zeros(n)
            f[rng.integers(0, n, 12)] = rng.integers(1, 5000, 12)
        else:
            f = rng.integers(0, 50, n).astype(float)
        counts = rng.poisson(f).astype(np.int64)
        out.append((bits, [int(c) for c in counts]))
    return out


def main():
    rng = np.random.default_rng(5106)
    lines = ["// Generated by scripts/gen_histo_reference.py (a separate Python version of the rules); do not edit.",
             "struct HistoReference {",
             "    unsigned bits; const unsigned* counts;",
             "    unsigned lowCount, highCount; double lowFraction, highFraction; unsigned rectW, rectH, sumCount;",
             "    unsigned freqLow, freqHigh, absLow, absHigh, fracLow, fracHigh, sumLow, sumHigh;",
             "    unsigned otsu1, otsu2[2], otsu3[3];", "};", ""]
    entries = []
    for i, (bits, counts) in enumerate(histograms(rng)):
        total = sum(counts)
        low_count, high_count = 300 + 37 * i, 200 + 11 * i
        frac_low, frac_high = 0.01 * (i + 1), 0.005 * (i + 2)
        rect_w, rect_h = 100 + i, total // (100 + i) + 1
        sum_count = total // 50
        c = cuts(counts, low_count, high_count, frac_low, frac_high, rect_w * rect_h, sum_count)
        P, M = cumulative(counts)
        o1, o2, o3 = otsu1(P, M), otsu2(P, M), otsu3(P, M)
        lines.append(f"static const unsigned kHistoCounts{i}[] = {{{', '.join(map(str, counts))}}};")
        entries.append(f"    {{{bits}, kHistoCounts{i}, {low_count}, {high_count}, {frac_low!r}, {frac_high!r}, {rect_w}, "
                       f"{rect_h}, {sum_count}, {', '.join(map(str, c))}, {o1[0]}, {{{o2[0]}, {o2[1]}}}, "
                       f"{{{o3[0]}, {o3[1]}, {o3[2]}}}}},")
    lines.append("static const HistoReference kHistoReference[] = {")
    lines += entries
    lines.append("};")
    with open(OUT, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
