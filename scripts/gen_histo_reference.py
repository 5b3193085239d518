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
    """Two thresholds: the listed bin counts step coarsely, every other count
    bin by bin. Three thresholds: the same, except that 8192 and 32768 bins
    keep the next listed count's step (a search bin by bin would not end)."""
    listed = {1024: 0, 4096: 1, 16384: 2, 65536: 3}
    if bins in listed:
        return (3, 9, 27, 81)[listed[bins]] if three else (2, 4, 8, 16)[listed[bins]]
    if not three or bins <= 2048:
        return 1
    return 27 if bins <= 16384 else 81


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


def class_mean(m, w):
    return np.where(w <= 1e-10, m, m / np.where(w <= 1e-10, 1, w))


def otsu3(P, M):
    # Per first threshold, every (second, third) pair at once; the first
    # largest value in (second, third) order wins, as in the loops.
    N = len(P)
    s = step(N, True)
    Pa, Ma = np.array(P), np.array(M)
    PT, MT = P[N - 1], M[N - 1]
    best, out = 0.0, (0, 0, 0)
    t1 = 0
    while t1 + s < N:
        w0, m0 = P[t1], M[t1]
        part0 = w0 * mean(m0, w0) * mean(m0, w0)
        grid = np.arange(t1 + s, N, s)
        t2 = grid[grid + s < N]
        if len(t2):
            w1, m1 = Pa[t2] - P[t1], Ma[t2] - M[t1]
            mu1 = class_mean(m1, w1)
            part1 = (part0 + w1 * mu1 * mu1)[:, None]
            w2, m2 = Pa[grid][None, :] - Pa[t2][:, None], Ma[grid][None, :] - Ma[t2][:, None]
            w3, m3 = (PT - Pa[grid])[None, :], (MT - Ma[grid])[None, :]
            mu2, mu3 = class_mean(m2, w2), class_mean(m3, w3)
            sigma = part1 + w2 * mu2 * mu2 + w3 * mu3 * mu3
            sigma[grid[None, :] <= t2[:, None]] = -1.0
            k = int(np.argmax(sigma))
            i2, i3 = divmod(k, len(grid))
            if sigma[i2, i3] > best:
                best, out = float(sigma[i2, i3]), (t1, int(t2[i2]), int(grid[i3]))
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


# Clusters of seven bins (counts 40, 60, 80, 100, 80, 60, 40) at the given
# centres: the two- and three-threshold searches for every bin count from
# 512 to 32768, the listed ones stepping coarsely and the others not.
CLUSTERS = ((9, (75, 250, 425), (45, 200, 350, 475)),
            (10, (151, 501, 851), (90, 400, 700, 950)),
            (11, (301, 1003, 1701), (180, 800, 1400, 1900)),
            (12, (601, 2007, 3403), (360, 1600, 2800, 3800)),
            (13, (1201, 4013, 6805), (720, 3200, 5600, 7600)),
            (15, (4801, 16051, 27203), (2880, 12800, 22400, 30400)))


def cluster_counts(bits, centres):
    counts = np.zeros(1 << bits, np.int64)
    for c in centres:
        for d in range(-3, 4):
            counts[c + d] = 100 - 20 * abs(d)
    return counts


def otsu2_vector(P, M):
    # The two-threshold search with every second threshold of one first
    # threshold at once (the loop form above is too slow for 32768 bins).
    N = len(P)
    s = step(N, False)
    Pa, Ma = np.array(P), np.array(M)
    PT, MT = P[N - 1], M[N - 1]
    best, out = 0.0, (0, 0)
    t1 = 0
    while t1 + s < N:
        w0, m0 = P[t1], M[t1]
        part0 = w0 * mean(m0, w0) * mean(m0, w0)
        t2 = np.arange(t1 + s, N, s)
        w1, m1 = Pa[t2] - P[t1], Ma[t2] - M[t1]
        w2, m2 = PT - Pa[t2], MT - Ma[t2]
        mu1, mu2 = class_mean(m1, w1), class_mean(m2, w2)
        sigma = part0 + w1 * mu1 * mu1 + w2 * mu2 * mu2
        k = int(np.argmax(sigma))
        if sigma[k] > best:
            best, out = float(sigma[k]), (t1, int(t2[k]))
        t1 += s
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
    lines += ["", "struct OtsuClusterReference {",
              "    unsigned bits; unsigned centres2[3], centres3[4]; unsigned otsu2[2], otsu3[3];", "};",
              "static const OtsuClusterReference kOtsuClusterReference[] = {"]
    for bits, c2, c3 in CLUSTERS:
        o2 = otsu2_vector(*cumulative([int(v) for v in cluster_counts(bits, c2)]))
        o3 = otsu3(*cumulative([int(v) for v in cluster_counts(bits, c3)]))
        if bits <= 11:
            assert o2 == otsu2(*cumulative([int(v) for v in cluster_counts(bits, c2)]))
        lines.append(f"    {{{bits}, {{{', '.join(map(str, c2))}}}, {{{', '.join(map(str, c3))}}}, "
                     f"{{{o2[0]}, {o2[1]}}}, {{{o3[0]}, {o3[1]}, {o3[2]}}}}},")
    lines.append("};")
    with open(OUT, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
