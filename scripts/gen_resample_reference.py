#!/usr/bin/python3
"""Writes tests/gnr_picture/resample_reference.inc: block starts of the
box-averaging reduction and reductions of seeded pictures, computed here with
numpy from the definitions (round-half-up block size, error diffusion of the
remainder, centred sparse samples, truncating mean); tap lists of the
filtered stretch (widened support, clamping, normalisation with the
shortfall on the middle tap, single-tap fallback) and the filtered passes and
their two-pass compositions (integer >> 10, float32 accumulation in tap
order, validity), for rectangles and for display with flips, scrolls and
data windows."""
import math
import os

import numpy as np


def block_starts(s, n):
    g = math.floor(s / n + 0.5)
    r = s - n * g
    step = abs(r / n)
    sign = 1 if r > 0 else -1
    e = np.zeros(n, dtype=np.int64)
    acc, t = 0.0, 0
    for k in range(n):
        if acc >= 0.5 and abs(t) <= abs(r):
            e[k] = sign
            t += sign
            acc = (acc - 1.0) + step
        else:
            acc = acc + step
    e[n - 1] += r - t
    e[0] = 0
    return g, np.arange(n, dtype=np.int64) * g + np.cumsum(e)


def offsets(g):
    s = g // 10 + 1
    first = ((g - 1) % s + 1) // 2
    return np.array([first + k * s for k in range(g) if k * s < g], dtype=np.int64)


def lcg_picture(w, h, c, seed, maxv):
    # x <- x * 1103515245 + 12345 (mod 2^32); sample = (x >> 16) % (maxv + 1)
    out = np.zeros(w * h * c, dtype=np.int64)
    x = seed
    for i in range(out.size):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (x >> 16) % (maxv + 1)
    return out.reshape(h, w, c)


def reduce(pic, dw, dh):
    h, w, c = pic.shape
    gx, cols = block_starts(w, dw)
    gy, rows = block_starts(h, dh)
    ox, oy = offsets(gx), offsets(gy)
    xs = cols[:, None] + ox[None, :]
    ys = rows[:, None] + oy[None, :]
    block = pic[ys[:, :, None, None], xs[None, None, :, :], :]  # dh, ny, dw, nx, c
    sums = block.sum(axis=(1, 3))
    return sums // (len(ox) * len(oy))


START_CASES = [(1000, 300), (1000, 400), (37, 11), (100, 40), (1003, 7), (65535, 257), (12, 12), (9, 17), (5, 1)]
REDUCE_CASES = [  # w, h, comps, seed, max, dw, dh
    (97, 61, 1, 11, 255, 13, 9),
    (97, 61, 3, 12, 255, 40, 25),
    (250, 130, 1, 13, 65535, 9, 4),
    (64, 48, 5, 14, 4095, 30, 23),
]




# ---------------------------------------------------------------------------
# Filtered stretch
# ---------------------------------------------------------------------------

F32 = np.float32
INVALID = F32(-3.4028235e38)


def f_triangle(x):
    a = abs(x)
    return 1.0 - a if a < 1.0 else 0.0


def f_bell(x):
    a = abs(x)
    if a < 0.5:
        return 0.75 - x * x
    if a < 1.5:
        t = a - 1.5
        return 0.5 * (t * t)
    return 0.0


def taps_for(n, s, support, f, o, S, step, scale, rnd, centre, fallback, window=None):
    """Tap lists [(offset, weight), ...] per destination index; an empty list
    stands for the background pixel (windowed only)."""
    W = math.ceil(support * s) if s > 1 else support
    inv = 1.0 / s
    out = []
    for j in range(n):
        c = centre(j)
        lo = math.floor(c - W / 2.0 - 2.0)
        hi = math.ceil(c + W / 2.0 + 2.0)
        taps = []
        for k in range(lo, hi + 1):
            if window is not None and not (window[0] <= k < window[1]):
                continue
            v = f((k - c) * inv) * inv if s > 1 else f(k - c)
            if not v > 0:
                continue
            w = int(v * scale + 0.5) if rnd else int(v * scale)
            a = min(max(o + k, 0), S - 1)
            taps.append([(a - o) * step, w])
        total = sum(w for _, w in taps)
        if not taps or total == 0:
            p = math.trunc(fallback(j))
            if window is not None and not (window[0] <= p < window[1]):
                out.append([])
                continue
            a = min(max(o + p, 0), S - 1)
            out.append([((a - o) * step, scale)])
            continue
        ws = [w * scale // total for _, w in taps]
        ws[len(ws) // 2] += scale - sum(ws)
        out.append([(taps[i][0], ws[i]) for i in range(len(taps))])
    return out


def rect_taps(n, m, o, S, step, support, f, scale, rnd):
    s = m / n
    return taps_for(n, s, support, f, o, S, step, scale, rnd, lambda j: (j + 0.5) * s - 0.5, lambda j: (j + 0.5) * s)


def accumulate(flat, base, lists, C, kind, validity=False):
    """One destination pixel per list: C samples from flat[base + off + k]."""
    res = []
    for taps in lists:
        px = []
        for k in range(C):
            if validity:
                acc, used = F32(0), 0
                for off, w in taps:
                    x = flat[base + off + k]
                    if x > INVALID:
                        used += w
                        acc = F32(acc + F32(F32(w) * x))
                px.append(F32(acc / F32(used)) if used else INVALID)
            elif kind == "int":
                px.append(sum(int(flat[base + off + k]) * w for off, w in taps) >> 10)
            else:
                acc = F32(0)
                for off, w in taps:
                    acc = F32(acc + F32(flat[base + off + k] * F32(w)))
                px.append(F32(acc * F32(2.0 ** (-16 if kind == "f16" else -10))))
        res.append(px)
    return res


def lcg_values(count, seed):
    x = seed
    out = []
    for _ in range(count):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out.append(x >> 16)
    return out


def seeded_flat(ty, w, h, c, seed, maxv, row_samples):
    """Flat sample array of h rows of row_samples samples (padding zero)."""
    vals = lcg_values(w * h * c, seed)
    flat = [F32(0) if ty in ("f32", "val") else 0] * (row_samples * h)
    i = 0
    for y in range(h):
        for x in range(w * c):
            v = vals[i]
            i += 1
            if ty in ("f32", "val"):
                fv = F32(((v % 20001) - 10000) / 64.0)
                if ty == "val" and v % 7 == 0:
                    fv = INVALID
                flat[y * row_samples + x] = fv
            else:
                flat[y * row_samples + x] = v % (maxv + 1)
    return flat


def filtered_rect(ty, c, use_bell, sw, sh, pad, rect, dw, dh, seed, maxv):
    """Returns (horizontal pass of the rectangle's rows, two-pass result)."""
    ssize = 1 if ty == "u8" else (2 if ty == "u16" else 4)
    stride = sw * c * ssize + pad  # bytes, a multiple of the sample size
    rs = stride // ssize
    flat = seeded_flat(ty, sw, sh, c, seed, maxv, rs)
    l, t, rw, rh = rect
    D = 3 if use_bell else 2
    f = f_bell if use_bell else f_triangle
    kind = "int" if ty in ("u8", "u16") else "f16"
    scale, rnd = (1024, True) if kind == "int" else (65536, False)
    validity = ty == "val"
    # Horizontal pass over rows base..: source width is the picture's for
    # integers, row samples / components for floats.
    S = sw if kind == "int" else rs // c
    hl = rect_taps(dw, rw, l, S, c, D, f, scale, rnd)

    def horz(row0, rows):
        out = []
        for y in range(row0, row0 + rows):
            out.extend(accumulate(flat, y * rs + l * c, hl, c, kind, validity))
        return out  # rows x dw pixels

    direct = horz(t, rh)
    # Composition.
    E = math.ceil(D * (rh / dh)) if rh > dh else D
    above = min(E, t)
    below = min(E, sh - t - rh)
    G = rh + above + below
    mid = horz(t - above, G)
    midflat = [v for px in mid for v in px]
    vl = rect_taps(dh, rh, above, G, dw * c, D, f, scale, rnd)
    out = [[None] * (dw * c) for _ in range(dh)]
    for x in range(dw):
        col = accumulate(midflat, above * dw * c + x * c, vl, c, kind, validity)
        for i in range(dh):
            out[i][x * c:(x + 1) * c] = col[i]
    return [v for px in direct for v in px], [v for row in out for v in row]


def filtered_display(ty, c, use_bell, sw, sh, pad, zw, zh, sx, sy, dw, dh, flip_h, flip_v, window, bg, seed, maxv):
    ssize = 1 if ty == "u8" else (2 if ty == "u16" else 4)
    rs = (sw * c * ssize + pad) // ssize
    flat = seeded_flat(ty, sw, sh, c, seed, maxv, rs)
    D = 3 if use_bell else 2
    f = f_bell if use_bell else f_triangle
    kind = "int" if ty in ("u8", "u16") else "f10"
    r = sh / zh
    first = math.floor(sy * r)
    m = math.ceil(dh * r)
    if first + m > sh:
        m = sh - first
    E = math.ceil(D * r) if r > 1 else D
    above = min(E, first)
    below = min(E, sh - first - m)
    top, bottom = first - above, first + m + below
    if bottom <= top:
        return [0] * (dw * dh * c)
    s = sw / zw
    if window is None:
        def hc(j):
            q = dw - 1 - j if flip_h else j
            return (q + 0.5) * s + (s * sx - 0.5)
        hl = taps_for(dw, s, D, f, 0, sw, c, 1024, True, hc, lambda j: hc(j) + 0.5)
    else:
        wl, wt, ww, wh = window
        hl = taps_for(dw, s, D, f, 0, sw, c, 1024, True, lambda j: ((j + 0.5) * s + s * sx) - 0.5,
                      lambda j: (j + 0.5) * s + s * sx, (wl, wl + ww))
    mid = []
    for y in range(top, bottom):
        if window is not None and not (window[1] <= y < window[1] + window[3]):
            mid.extend([list(bg)] * dw)
            continue
        for taps in hl:
            if not taps:
                mid.append(list(bg))
            else:
                mid.extend(accumulate(flat, y * rs, [taps], c, kind))
    midflat = [v for px in mid for v in px]

    def vc(i):
        q = dh - 1 - i if flip_v else i
        return (q + 0.5) * r + ((r * sy - 0.5) - top)
    vl = taps_for(dh, r, D, f, 0, bottom - top, dw * c, 1024, True, vc, lambda i: vc(i) + 0.5)
    out = [[None] * (dw * c) for _ in range(dh)]
    for x in range(dw):
        col = accumulate(midflat, x * c, vl, c, kind)
        for i in range(dh):
            out[i][x * c:(x + 1) * c] = col[i]
    return [v for row in out for v in row]


TAP_CASES = [  # m, n, bell, float
    (30, 10, False, False), (30, 10, False, True), (7, 3, False, False), (2, 4, False, False),
    (9, 9, True, False), (9, 9, True, True), (9, 9, False, False), (13, 5, True, False), (5, 13, True, True),
    (4100, 2, False, False), (3100, 2, True, False), (100000, 1, True, True), (131073, 1, False, True),
]

RECT_CASES = [  # type, comps, bell, srcW, srcH, pad bytes, (l, t, w, h), dstW, dstH, seed, max
    ("u8", 1, False, 23, 17, 5, (0, 0, 23, 17), 46, 34, 21, 255),
    ("u8", 3, True, 23, 17, 3, (2, 3, 15, 11), 7, 5, 22, 255),
    ("u8", 4, False, 19, 13, 1, (1, 1, 17, 11), 25, 6, 23, 255),
    ("u16", 1, True, 40, 30, 6, (5, 4, 30, 20), 9, 7, 24, 65535),
    ("u16", 3, False, 16, 12, 2, (0, 2, 16, 9), 16, 27, 25, 4095),
    ("u16", 2, True, 12, 10, 4, (3, 0, 9, 10), 20, 4, 26, 65535),
    ("f32", 1, True, 21, 15, 8, (1, 2, 19, 12), 8, 30, 27, 0),
    ("f32", 3, False, 14, 11, 4, (0, 0, 14, 11), 29, 5, 28, 0),
    ("f32", 2, True, 10, 9, 12, (2, 1, 7, 8), 13, 3, 29, 0),
    ("val", 1, True, 20, 16, 4, (0, 1, 20, 14), 11, 31, 30, 0),
    ("val", 1, False, 15, 12, 0, (2, 0, 12, 12), 31, 5, 31, 0),
]

DISPLAY_CASES = [  # type, comps, bell, srcW, srcH, pad, zoomW, zoomH, scrollX, scrollY, dstW, dstH, flipH,
    # flipV, window (l, t, w, h) or None, background, seed, max
    ("u8", 1, False, 20, 16, 3, 40, 32, 5, 7, 17, 13, False, False, None, None, 41, 255),
    ("u8", 3, True, 20, 16, 1, 13, 11, 2, 1, 9, 8, True, False, None, None, 42, 255),
    ("u16", 1, True, 24, 18, 2, 24, 18, 3, 4, 12, 10, False, True, None, None, 43, 65535),
    ("u16", 4, False, 16, 14, 0, 37, 29, 30, 20, 12, 14, True, True, None, None, 44, 4095),
    ("f32", 1, True, 18, 14, 4, 50, 41, 9, 33, 16, 12, True, True, None, None, 45, 0),
    ("f32", 3, False, 18, 14, 8, 7, 6, 1, 0, 7, 6, False, True, None, None, 46, 0),
    ("u8", 1, True, 24, 20, 5, 24, 20, 0, 0, 24, 20, False, False, (4, 3, 13, 11), (201,), 47, 255),
    ("u8", 3, False, 20, 16, 2, 45, 38, 6, 9, 28, 30, False, False, (3, 2, 11, 9), (1, 2, 3), 48, 255),
    ("u16", 1, True, 30, 24, 6, 11, 9, 1, 2, 10, 7, False, False, (7, 5, 12, 11), (4000,), 49, 65535),
    ("u16", 2, True, 20, 16, 0, 20, 16, 0, 5, 20, 12, False, False, (0, 0, 20, 16), (9, 8), 50, 4095),
    ("u8", 1, False, 16, 12, 3, 32, 24, 0, 20, 10, 10, False, False, None, None, 51, 255),
]


def lit(v):
    if isinstance(v, (np.floating, float)):
        return float(v).hex()
    return str(int(v))


def filtered_lines(lines):
    lines.append("")
    lines.append("struct TapRef { unsigned m, n; bool bell, isFloat; std::vector<std::vector<long>> lists; };")
    lines.append("const TapRef kTapRef[] = {")
    for m, n, use_bell, is_float in TAP_CASES:
        lists = rect_taps(n, m, 0, m, 1, 3 if use_bell else 2, f_bell if use_bell else f_triangle,
                          65536 if is_float else 1024, not is_float)
        body = ", ".join("{%s}" % ", ".join("%d, %d" % (o, w) for o, w in taps) for taps in lists)
        lines.append("    {%d, %d, %s, %s, {%s}}," % (m, n, str(use_bell).lower(), str(is_float).lower(), body))
    lines.append("};")
    lines.append("")
    lines.append("struct FilteredRectRef { const char* type; unsigned comps; bool bell; unsigned srcW, srcH, pad, "
                 "l, t, w, h, dstW, dstH, seed, maxValue; std::vector<double> horz, out; };")
    lines.append("const FilteredRectRef kFilteredRectRef[] = {")
    for ty, c, use_bell, sw, sh, pad, rect, dw, dh, seed, maxv in RECT_CASES:
        horz, out = filtered_rect(ty, c, use_bell, sw, sh, pad, rect, dw, dh, seed, maxv)
        lines.append('    {"%s", %d, %s, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d,' %
                     (ty, c, str(use_bell).lower(), sw, sh, pad, rect[0], rect[1], rect[2], rect[3], dw, dh, seed,
                      maxv))
        lines.append("     {%s}," % ", ".join(lit(v) for v in horz))
        lines.append("     {%s}}," % ", ".join(lit(v) for v in out))
    lines.append("};")
    lines.append("")
    lines.append("struct FilteredDisplayRef { const char* type; unsigned comps; bool bell; unsigned srcW, srcH, pad, "
                 "zoomW, zoomH, scrollX, scrollY, dstW, dstH; bool flipH, flipV, windowed; unsigned winL, winT, "
                 "winW, winH; std::vector<unsigned> background; unsigned seed, maxValue; std::vector<double> out; };")
    lines.append("const FilteredDisplayRef kFilteredDisplayRef[] = {")
    for (ty, c, use_bell, sw, sh, pad, zw, zh, sx, sy, dw, dh, fh, fv, win, bg, seed, maxv) in DISPLAY_CASES:
        out = filtered_display(ty, c, use_bell, sw, sh, pad, zw, zh, sx, sy, dw, dh, fh, fv, win, bg, seed, maxv)
        w4 = win if win is not None else (0, 0, 0, 0)
        lines.append('    {"%s", %d, %s, %d, %d, %d, %d, %d, %d, %d, %d, %d, %s, %s, %s, %d, %d, %d, %d, {%s}, %d, %d,'
                     % (ty, c, str(use_bell).lower(), sw, sh, pad, zw, zh, sx, sy, dw, dh, str(fh).lower(),
                        str(fv).lower(), str(win is not None).lower(), w4[0], w4[1], w4[2], w4[3],
                        ", ".join(str(v) for v in (bg or ())), seed, maxv))
        lines.append("     {%s}}," % ", ".join(lit(v) for v in out))
    lines.append("};")


def main():
    lines = ["// Generated by scripts/gen_resample_reference.py; do not edit.", ""]
    lines.append("struct StartsRef { unsigned s, n; std::vector<long> starts; };")
    lines.append("const StartsRef kStartsRef[] = {")
    for s, n in START_CASES:
        _, st = block_starts(s, n)
        lines.append("    {%d, %d, {%s}}," % (s, n, ", ".join(str(int(v)) for v in st)))
    lines.append("};")
    lines.append("")
    lines.append("struct ReduceRef { unsigned w, h, comps, seed, maxValue, dw, dh; std::vector<unsigned> out; };")
    lines.append("const ReduceRef kReduceRef[] = {")
    for w, h, c, seed, maxv, dw, dh in REDUCE_CASES:
        out = reduce(lcg_picture(w, h, c, seed, maxv), dw, dh).reshape(-1)
        lines.append("    {%d, %d, %d, %d, %d, %d, %d, {%s}}," % (w, h, c, seed, maxv, dw, dh,
                                                               ", ".join(str(int(v)) for v in out)))
    lines.append("};")
    filtered_lines(lines)
    path = os.path.join(os.path.dirname(__file__), "..", "tests", "gnr_picture", "resample_reference.inc")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
