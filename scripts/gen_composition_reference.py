#!/usr/bin/env python3
"""Writes tests/gnr_picture/composition_reference.inc: expected destination
buffers of the channel-composition, exposure-marking and bit-unpacking
kernels, computed here independently of the library with numpy.

The formulas are written out from their definitions:
  screen blend S(a, b) = a + b - floor(a b / 255)   (not a table)
  B(a, b) = a + b - floor(a b / M), M = 2^bits - 1, kept as a 16-bit word
  R(a, b) = trunc((a + b) + (0.5 - sqrt(a b))) in float64
  add composition with h = trunc(gain 255 + 0.5) by the x86 rule
  marker rule: first visible component at 0 (under) or at the top (over)
  unpack modes 0 (set), 1 (OR), 2 (AND) on the bytes of a pixel.

Inputs (pictures, colour tables in both layouts, mask words, records, bit
rows) are not stored: both sides derive them from a stateless hash of
(seed, tag, index) (splitmix64 finaliser), so only the case parameters and
the expected bytes are written. The C++ test rebuilds the same inputs.

Run from the repository root with Debian's python3:
    /usr/bin/python3 scripts/gen_composition_reference.py
"""
import math
import os

import numpy as np

OUT = os.path.join(os.path.dirname(__file__), "..", "tests", "gnr_picture", "composition_reference.inc")
M64 = (1 << 64) - 1
GAINS = [1.0, 0.37, 2.5, -1.0, float("nan"), 1e300, 0.0, 1e-3, 7.0]


def mix(z):
    """splitmix64 finaliser on a numpy uint64 array (wrapping arithmetic)."""
    z = z + np.uint64(0x9E3779B97F4A7C15)
    z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
    z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
    return z ^ (z >> np.uint64(31))


def H(seed, tag, idx):
    """Hash of (seed, tag) and each index of idx (array-like) as uint64."""
    with np.errstate(over="ignore"):
        base = mix(np.array([(seed * 1000003 + tag) & M64], dtype=np.uint64))[0]
        return mix(np.asarray(idx, dtype=np.uint64) ^ base)


def H1(seed, tag, i):
    return int(H(seed, tag, [i])[0])


# ---------------------------------------------------------------------------
# Inputs
# ---------------------------------------------------------------------------

def samples(seed, n, width, rows, top, hostile):
    """rows x width x n samples; a few exactly 0 or top; with hostile set (9..16-bit
    sources only) some raw 16-bit values, above the depth."""
    t = H(seed, 2, np.arange(rows * width * n)).astype(object)
    out = []
    for v in t:
        sel = v & 7
        if sel == 0:
            out.append(0)
        elif sel == 1:
            out.append(top)
        elif sel == 2 and hostile and top > 255:
            out.append((v >> 8) & 0xFFFF)
        else:
            out.append((v >> 8) & top)
    return np.array(out, dtype=np.int64).reshape(rows, width, n)


def table(seed, tid, nrows, out_mask):
    """nrows x 3 colour table number tid."""
    v = H(seed, 100 + tid, np.arange(nrows * 3)) & np.uint64(out_mask)
    return v.astype(np.int64).reshape(nrows, 3)


def mask_words(seed, n, kind, tag=4):
    nw = n // 64 + 2
    words = []
    for w in range(nw):
        r = H1(seed, tag, w)
        if kind == 0:
            x = M64
        elif kind == 1:
            x = r
        elif kind == 2:
            x = 0
        else:
            x = r
            for b in range(64):
                k = w * 64 + b
                if k >= n:
                    x |= 1 << b       # bits at and above n set
                elif kind == 4:
                    x |= 1 << b       # first n bits set: full
        words.append(x)
    return words


def bit(words, k):
    return (words[k >> 6] >> (k & 63)) & 1


def record(seed, tag, kind):
    """None, or (blue, green, red, flag)."""
    if kind == 0:
        return None
    r = H1(seed, tag, 0)
    flag = 0 if kind == 1 else (((r >> 24) & 0xFF) | 1)
    return (r & 0xFF, (r >> 8) & 0xFF, (r >> 16) & 0xFF, flag)


def dst_init(seed, nbytes):
    return (H(seed, 1, np.arange(nbytes)) & np.uint64(0xFF)).astype(np.uint8)


# ---------------------------------------------------------------------------
# Formulas
# ---------------------------------------------------------------------------

def S(a, b):
    return a + b - (a * b) // 255


def Bl(a, b, m):
    return (a + b - (a * b) // m) & 0xFFFF


def R(a, b):
    a = a.astype(np.float64)
    b = b.astype(np.float64)
    return ((a + b) + (0.5 - np.sqrt(a * b))).astype(np.int64)


def x86_trunc32(x):
    if x != x or x >= 2147483648.0 or x <= -2147483649.0:
        return -2147483648
    return int(x)


def gain_h(g):
    if not g >= 0:
        return 0
    return x86_trunc32(g * 255.0 + 0.5) & 0xFFFFFFFF


# ---------------------------------------------------------------------------
# Cases
# ---------------------------------------------------------------------------

class Case:
    def __init__(self, member, kind, n, bits=8, width=7, rows=3, layout=0, mask=0, addmask=0, gain=0,
                 over=0, under=0, hostile=0, seed=1, off=0, mode=0):
        self.__dict__.update(dict(member=member, kind=kind, n=n, bits=bits, width=width, rows=rows,
                                  layout=layout, mask=mask, addmask=addmask, gain=gain, over=over,
                                  under=under, hostile=hostile, seed=seed, off=off, mode=mode))


def fixed_count(member):
    c = member.split("_")[1].split("x")[0]
    return None if c in ("N", "Iter1") else int(c)


def compose(c):
    """Composition kinds: c8 / c16 (8-bit out, S), w16 (16-bit out, B or R)."""
    src16 = c.kind != "c8"
    top = 255 if not src16 else (1 << c.bits) - 1
    n = c.n
    nrows_tab = 256 if not src16 else (1 << c.bits)
    out16 = c.kind == "w16"
    out_mask = 0xFF if not out16 else top
    ob = 2 if out16 else 1
    stride = 3 * c.width * ob + 2 * ob
    buf = dst_init(c.seed, stride * (c.rows + 1)).copy()
    if n == 0:
        return 0, buf
    tabs = {}
    T = []
    for k in range(n):
        tid = k if c.layout == 0 else 0
        if tid not in tabs:
            tabs[tid] = table(c.seed, tid, nrows_tab, out_mask)
        T.append(tabs[tid])
    s = samples(c.seed, n, c.width, c.rows, top, c.hostile)
    idx = s & top                      # samples index the tables masked to the depth
    fc = fixed_count(c.member)
    words = mask_words(c.seed, n, c.mask)
    if fc == 1:
        vis = [0]
    elif fc is not None:
        low = (1 << fc) - 1
        full = (words[0] & low) == low
        vis = [k for k in range(n) if full or (words[0] >> k) & 1]
    else:
        full = all(bit(words, k) for k in range(n))
        vis = [k for k in range(n) if full or bit(words, k)]
    marking = "_overexp" in c.member or "_underexp" in c.member
    over = record(c.seed, 6, c.over) if "overexp" in c.member else None
    under = record(c.seed, 7, c.under) if "underexp" in c.member else None
    if marking and n > 192 and (over or under):
        return -2, buf
    if out16 and fc not in (None, 1) and not (1 <= c.bits <= 16):
        return -4, buf
    res = np.zeros((c.rows, c.width, 3), dtype=np.int64)
    for r in range(c.rows):
        C = [T[k][idx[r, :, k]] for k in range(n)]
        if not vis:
            acc = np.zeros((c.width, 3), dtype=np.int64)
        else:
            acc = C[vis[0]].copy()
            for k in vis[1:]:
                if not out16:
                    acc = S(acc, C[k])
                elif fc is None:
                    acc = R(acc, C[k])
                else:
                    acc = Bl(acc, C[k], top)
        decided = np.zeros(c.width, dtype=bool)
        for k in vis:
            sk = s[r, :, k]
            for rec, test in ((under, sk == 0), (over, sk >= top)):
                if rec is None:
                    continue
                if rec[3]:
                    colour = 255 - T[k][top]
                else:
                    colour = np.array(rec[:3])
                m = ~decided & test
                acc[m] = colour
                decided |= m
        res[r] = acc
    for r in range(c.rows):
        row = res[r].reshape(-1)
        if ob == 1:
            buf[r * stride:r * stride + 3 * c.width] = row.astype(np.uint8)
        else:
            buf[r * stride:r * stride + 6 * c.width] = row.astype("<u2").view(np.uint8)
    return 0, buf


def add(c):
    src16 = c.kind == "add16"
    top = 255 if not src16 else (1 << c.bits) - 1
    n = c.n
    stride = 3 * c.width + 2
    buf = dst_init(c.seed, stride * (c.rows + 1)).copy()
    nrows_tab = 256 if not src16 else (1 << c.bits)
    T = [table(c.seed, k if c.layout == 0 else 0, nrows_tab, 0xFF) for k in range(n)]
    s = samples(c.seed, n, c.width, c.rows, top, c.hostile)
    idx = s & top
    words = mask_words(c.seed, n, c.mask)
    addw = mask_words(c.seed, n, c.addmask, tag=5)
    full = all(bit(words, k) for k in range(n))
    vis = [k for k in range(n) if full or bit(words, k)]
    addl = [k for k in vis if bit(addw, k)]
    other = [k for k in vis if not bit(addw, k)]
    if not vis:
        return 0, buf
    over = None
    if c.member.endswith("_overexp") and c.over:
        r = H1(c.seed, 6, 0)
        over = (r & 0xFF, (r >> 8) & 0xFF, (r >> 16) & 0xFF)
    h = gain_h(GAINS[c.gain])
    na, no = len(addl), len(other)
    for r in range(c.rows):
        for x in range(c.width):
            p = s[r, x]
            if over is not None and any(p[k] >= top for k in vis):
                out = list(over)
            else:
                out = []
                for ch in range(3):
                    A = 0
                    if na:
                        sm = sum(int(T[k][idx[r, x, k], ch]) for k in addl)
                        q = (h * sm) // na
                        A = min(255, q // 255)
                    if no:
                        o = A // (no + 1) + sum(int(T[k][idx[r, x, k], ch]) // (no + 1) for k in other)
                    else:
                        o = A
                    out.append(o)
            buf[r * stride + 3 * x:r * stride + 3 * x + 3] = out
    return 0, buf


def iter1(c):
    stride = 3 * c.width + 2
    buf = dst_init(c.seed, stride * (c.rows + 1)).copy()
    T = table(c.seed, 0, 256, 0xFF)
    s = samples(c.seed, c.n, c.width, c.rows, 255, 0)
    for r in range(c.rows):
        d = buf[r * stride:r * stride + 3 * c.width].astype(np.int64).reshape(c.width, 3)
        col = T[s[r, :, 0]]
        buf[r * stride:r * stride + 3 * c.width] = S(d, col).reshape(-1).astype(np.uint8)
    return 0, buf


def unpack(c):
    sb = 2 if c.member.endswith("16") else 1
    comps = c.member.split("_")[-1].split("x")[0]
    n = c.n if comps == "N" else int(comps)
    pb = n * sb
    stride = c.width * pb + 3
    buf = dst_init(c.seed, stride * (c.rows + 1)).copy()
    if c.mode > 2:
        return -2, buf
    if c.off > 7:
        return -4, buf
    bstride = (c.off + c.width + 7) // 8 + 1
    bits = (H(c.seed, 8, np.arange(bstride * (c.rows + 1))) & np.uint64(0xFF)).astype(np.int64)
    value = (H(c.seed, 9, np.arange(max(pb, 1))) & np.uint64(0xFF)).astype(np.uint8)[:pb]
    for r in range(c.rows):
        for x in range(c.width):
            i = c.off + x
            b = (bits[r * bstride + i // 8] >> (7 - i % 8)) & 1
            d = buf[r * stride + x * pb:r * stride + (x + 1) * pb]
            if c.mode == 0:
                d[:] = value if b else 0
            elif c.mode == 1:
                if b:
                    d[:] = d | value
            else:
                d[:] = (d & value) if b else 0
    return 0, buf


def cases():
    out = []
    seed = [1000]

    def add_case(*a, **k):
        seed[0] += 1
        k.setdefault("seed", seed[0])
        out.append(Case(*a, **k))

    # Composition into 8-bit true colour, with and without marking.
    ou_pairs = [(0, 0), (1, 0), (0, 1), (1, 1), (2, 1), (1, 2), (2, 2), (2, 0), (0, 2)]
    for kind, sfx, bitsl in (("c8", "x8_3x8", [8]), ("c16", "x16_3x8", [9, 12, 16, 10])):
        for count in ["1", "2", "3", "4", "5", "6", "N"]:
            ns = [int(count)] if count != "N" else [1, 3, 9, 70, 0]
            masks = [0] if count == "1" else [0, 1, 2, 3, 4]
            for n in ns:
                for tag in ["", "_overexp", "_underexp", "_overexp_underexp"]:
                    member = "mapcomp_" + count + sfx + tag
                    pairs = [(0, 0)]
                    if tag == "_overexp":
                        pairs = [(0, 0), (1, 0), (2, 0)]
                    elif tag == "_underexp":
                        pairs = [(0, 0), (0, 1), (0, 2)]
                    elif tag:
                        pairs = ou_pairs
                    for m in masks:
                        for (o, u) in pairs:
                            if tag == "_overexp_underexp" and (o, u) in ((0, 0), (2, 0), (0, 2)) and m not in (0, 1):
                                continue
                            i = len(out)
                            bits = bitsl[i % len(bitsl)]
                            if bits == 16 and n > 6:
                                bits = 12
                            hostile = 1 if (kind == "c16" and tag) else 0
                            add_case(member, kind, n, bits=bits, layout=i % 2, mask=m, over=o, under=u,
                                     hostile=hostile)
                            if kind == "c16" and not tag:
                                # The depth-taking entry on samples with bits above the depth.
                                add_case("KzMapCompDepth_" + count + sfx, kind, n, bits=bits, layout=i % 2, mask=m,
                                         hostile=1)
    # 16-bit outputs: B for 2..6, R for N, the colour for 1.
    for count in ["1", "2", "3", "4", "5", "6", "N"]:
        ns = [int(count)] if count != "N" else [1, 2, 9, 70, 0]
        masks = [0] if count == "1" else [0, 1, 2, 3, 4]
        for n in ns:
            for m in masks:
                i = len(out)
                bits = [12, 9, 16, 11][i % 4]
                if bits == 16 and n > 6:
                    bits = 12
                reads = count not in ("1", "N")
                add_case("mapcomp_" + count + "x16_3x16", "w16", n, bits=bits, layout=i % 2, mask=m,
                         hostile=1 if reads else 0)
                if not reads:
                    add_case("KzMapCompDepth_" + count + "x16_3x16", "w16", n, bits=bits, layout=i % 2, mask=m,
                             hostile=1)
    # Add composition.
    for kind, member, bits in (("add8", "mapcomp_Nx8_3x8_add", 8), ("add8", "mapcomp_Nx8_3x8_add_overexp", 8),
                               ("add16", "mapcomp_Nx16_3x8_add", 12), ("add16", "mapcomp_Nx16_3x8_add_overexp", 12),
                               ("add16", "KzMapCompDepth_Nx16_3x8_add", 10)):
        for n in [1, 3, 9, 70]:
            for m in [0, 1, 2, 4]:
                for am in [0, 1, 2]:
                    i = len(out)
                    hostile = 1 if (member.startswith("Kz") or member == "mapcomp_Nx16_3x8_add_overexp") else 0
                    add_case(member, kind, n, bits=bits, layout=i % 2, mask=m, addmask=am, gain=i % len(GAINS),
                             over=1 + i % 2 if "overexp" in member else 0, hostile=hostile)
    # One blend pass.
    for n in [1, 3, 4]:
        add_case("mapcomp_Iter1x8_3x8", "iter", n)
    # Wide rows: several chunks, packed tables and the row-pointer path.
    for member, kind, n, m, o, u in (("mapcomp_1x8_3x8", "c8", 1, 0, 0, 0), ("mapcomp_3x8_3x8", "c8", 3, 0, 0, 0),
                                     ("mapcomp_3x8_3x8", "c8", 3, 1, 0, 0), ("mapcomp_Nx8_3x8", "c8", 4, 3, 0, 0),
                                     ("mapcomp_Nx8_3x8", "c8", 9, 1, 0, 0),
                                     ("mapcomp_3x8_3x8_overexp_underexp", "c8", 3, 1, 2, 1),
                                     ("mapcomp_Nx16_3x8", "c16", 5, 1, 0, 0),
                                     ("mapcomp_4x16_3x8_overexp_underexp", "c16", 4, 0, 1, 2),
                                     ("mapcomp_3x16_3x16", "w16", 3, 0, 0, 0),
                                     ("mapcomp_Nx16_3x16", "w16", 3, 1, 0, 0)):
        add_case(member, kind, n, bits=12 if kind != "c8" else 8, width=520, rows=2, layout=len(out) % 2, mask=m,
                 over=o, under=u, hostile=1 if member.endswith("underexp") else 0)
    # Unpacking.
    for member in ["unpack_bin_to_1x8", "unpack_bin_to_3x8", "unpack_bin_to_4x8", "unpack_bin_to_Nx8",
                   "unpack_bin_to_1x16", "unpack_bin_to_3x16", "unpack_bin_to_4x16", "unpack_bin_to_Nx16"]:
        for mode in [0, 1, 2, 3]:
            for off in [0, 3, 7, 8]:
                for width in [3, 13, 35]:
                    if (mode == 3 or off == 8) and width != 13:
                        continue
                    if width == 35 and off == 3 and mode == 1 and member.endswith("16"):
                        continue
                    add_case(member, "unpack", 5 if "Nx" in member else 0, width=width, rows=2, off=off, mode=mode)
    return out


def compute(c):
    if c.kind in ("c8", "c16", "w16"):
        return compose(c)
    if c.kind in ("add8", "add16"):
        return add(c)
    if c.kind == "iter":
        return iter1(c)
    return unpack(c)


def main():
    lines = ["// Generated by scripts/gen_composition_reference.py; do not edit.",
             "// member, kind, n, bits, width, rows, layout, mask, addmask, gain, over, under, hostile, seed,",
             "// bit offset, mode, expected result, expected destination buffer (hex)."]
    for c in cases():
        res, buf = compute(c)
        lines.append('{"%s", "%s", %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d,\n "%s"},'
                     % (c.member, c.kind, c.n, c.bits, c.width, c.rows, c.layout, c.mask, c.addmask, c.gain,
                        c.over, c.under, c.hostile, c.seed, c.off, c.mode, res, bytes(buf).hex()))
    with open(OUT, "w") as f:
        f.write("\n".join(lines) + "\n")
    print("wrote", OUT, len(lines) - 3, "cases")


if __name__ == "__main__":
    main()
