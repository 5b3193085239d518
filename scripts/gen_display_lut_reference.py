#!/usr/bin/env python3
"""Writes tests/gnr_picture/display_lut_reference.inc: every entry of display
LUTs built from seeded multichannel parameter sets (1 to 3 channels, gradients,
outside modes) and RGB parameter sets (every visible mask, with and without
channel colours), computed here from the formulas: the tone curve of each
channel, then the colour scaling, the palette through the tone, or the RGB
channel curves. The tone curves and palettes come from gen_lut_reference.py.

Run from the repository root:  /usr/bin/python3 scripts/gen_display_lut_reference.py
"""
import os
import random
import sys

import numpy as np

sys.dont_write_bytecode = True

sys.path.insert(0, os.path.dirname(__file__))
import gen_lut_reference as ref  # noqa: E402

OUT = os.path.join(os.path.dirname(__file__), "..", "tests", "gnr_picture", "display_lut_reference.inc")

PALETTES = [ref.palette(ref.GREY)] + [ref.palette(k) for _, k in ref.KNOTS]
PALETTES.append(ref.rainbow_dark(PALETTES[1]))


def has_gradient(g):
    return 1 <= g <= 255 and g < len(PALETTES)


def colour_entry(colour, s, last):
    r, g, b = colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF
    return [b * s // last, g * s // last, r * s // last]


def palette_entry(gradient, p, n):
    c = ref.lut_entry(PALETTES[gradient], p, n, None)
    return [c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF]


def mch_lut(bits, sizes, ranges, gradient, outside, colours):
    """Entries (blue, green, red) of every component, component by component."""
    n = 1 << bits
    full = n - 1
    comps = sum(sizes)
    if comps <= 1:
        lo, hi, g = ranges[0]
        kind = "gamma2" if outside == 1 else "gamma"
        t = ref.tone(kind, bits, bits, lo, 0, hi, full, g)
        if has_gradient(gradient):
            if outside == 2:
                stretch = float(hi - lo) / float(n)
                return [[palette_entry(gradient, max(ref.trunc32(float(t[v]) * stretch + float(lo) + 0.5), 0), n)
                         for v in range(n)]]
            return [[palette_entry(gradient, t[v], n) for v in range(n)]]
        colour = colours[0] if comps == 1 else 0xFFFFFF
        return [[colour_entry(colour, t[v], full) for v in range(n)]]
    out = []
    c = 0
    for k, size in enumerate(sizes):
        lo, hi, g = ranges[k]
        t = ref.tone("gamma", bits, bits, lo, 0, hi, full, g)
        for _ in range(size):
            out.append([colour_entry(colours[c], t[v], full) for v in range(n)])
            c += 1
    return out


def rescale_dst(dst, own_bits, bits):
    own = (1 << own_bits) - 1
    return ref.trunc32(float((1 << bits) - 1) * (float(dst) / float(own)) + 0.5)


def rgb_lut(bits, ranges, max_dst, mask, channel_colours):
    n = 1 << bits
    full = n - 1
    visible = [(mask >> i) & 1 for i in range(3)]
    if sum(visible) == 3:
        channel_colours = True
    out_bits = 8 if channel_colours else bits
    curves = []
    for i in range(3):
        lo, hi, g = ranges[i]
        if sum(visible) == 3 or visible[i]:
            curves.append(ref.tone("gamma", bits, out_bits, lo, 0, hi, rescale_dst(max_dst[i], bits, out_bits), g))
        else:
            curves.append([0] * n)
    if channel_colours:
        return [[[curves[0][v], curves[1][v], curves[2][v]] for v in range(n)]]
    colours = [0xFFFFFF if visible[i] else 0 for i in range(3)]
    return [[colour_entry(colours[k], curves[k][v], full) for v in range(n)] for k in range(3)]


def flat(lut):
    return [x for comp in lut for entry in comp for x in entry]


def runs(lut):
    """Every entry of every component, in order, as runs of equal entries:
    (length, blue | green << 8 | red << 16)."""
    out = []
    for comp in lut:
        for b, g, r in comp:
            packed = b | (g << 8) | (r << 16)
            if out and out[-1][1] == packed:
                out[-1][0] += 1
            else:
                out.append([1, packed])
    return out


class RunTable:
    """All cases' runs in one array; each case names its first run and count."""

    def __init__(self):
        self.items = []

    def add(self, lut):
        first = len(self.items)
        self.items.extend(runs(lut))
        return first, len(self.items) - first

    def write(self, f, name):
        f.write("static const unsigned %s[][2] = {\n" % name)
        for i in range(0, len(self.items), 8):
            f.write("    " + " ".join("{%d, 0x%06xu}," % (n, p) for n, p in self.items[i:i + 8]) + "\n")
        f.write("};\n")


def mch_cases(rnd):
    cases = []
    # The stated example: one 8-bit component, full range, gamma 1, red.
    cases.append((8, [1], [(0, 255, 1.0)], 0, 0, [0x0000FF]))
    cases.append((8, [1, 1], [(10, 200, 1.0), (10, 200, 1.0)], 0, 0, [0x808080, 0x00FF00]))
    cases.append((8, [1], [(0, 255, 1.0)], 300, 0, [0x123456]))
    for gradient in (0, 1, 5, 12, 13, 20, -1):
        for outside in (0, 1, 2):
            bits = rnd.choice([8, 10, 12])
            full = (1 << bits) - 1
            lo = rnd.randrange(0, full // 2)
            hi = rnd.randrange(lo + 1, full + 1)
            cases.append((bits, [1], [(lo, hi, rnd.choice([0.5, 1.0, 1.8]))], gradient, outside,
                          [rnd.randrange(0, 1 << 24)]))
    for _ in range(24):
        bits = rnd.choice([8, 9, 12, 16])
        full = (1 << bits) - 1
        channels = rnd.randrange(1, 4)
        sizes = [rnd.randrange(1, 3) for _ in range(channels)]
        ranges = []
        for _ in range(channels):
            lo = rnd.randrange(0, full // 2)
            ranges.append((lo, rnd.randrange(lo + 1, full + 1), rnd.choice([0.45, 1.0, 1.0, 2.2])))
        if channels > 1 and rnd.random() < 0.4:
            ranges[-1] = ranges[0]  # equal curves share a tone table
        cases.append((bits, sizes, ranges, rnd.choice([0, 3]), rnd.randrange(0, 3),
                      [rnd.randrange(0, 1 << 24) for _ in range(sum(sizes))]))
    return cases


def rgb_cases(rnd):
    cases = []
    for mask in range(8):
        for channel_colours in (False, True):
            bits = rnd.choice([8, 12, 16])
            full = (1 << bits) - 1
            ranges, max_dst = [], []
            for _ in range(3):
                lo = rnd.randrange(0, full // 2)
                hi = rnd.randrange(lo + 1, full + 1)
                ranges.append((lo, hi, rnd.choice([0.6, 1.0, 1.4])))
                max_dst.append(rnd.choice([full, hi, rnd.randrange(1, full + 1)]))
            cases.append((bits, ranges, max_dst, mask | rnd.choice([0, 8, 0xF0]), channel_colours))
    return cases


def main():
    rnd = random.Random(5107)
    with open(OUT, "w") as f:
        f.write("// Generated by scripts/gen_display_lut_reference.py; do not edit.\n")
        table = RunTable()
        f.write("// Every entry of every LUT is held in the run tables below: runs of equal\n"
                "// entries {length, blue | green << 8 | red << 16}, component after\n"
                "// component, each LUT from run `run` on for `runs` runs.\n")
        f.write("struct RefMchLut {\n    unsigned bits, channels;\n    unsigned sizes[3], min[3], max[3];\n"
                "    double gamma[3];\n    int gradient, outside;\n    unsigned colours[6];\n"
                "    unsigned long long hash;  // FNV-1a over blue, green, red of every entry\n"
                "    unsigned first[3], last[3];  // component 0's entries 0 and n - 1\n"
                "    unsigned run, runs;\n};\n")
        f.write("static const RefMchLut kRefMchLuts[] = {\n")
        for bits, sizes, ranges, gradient, outside, colours in mch_cases(rnd):
            lut = mch_lut(bits, sizes, ranges, gradient, outside, colours)
            first, count = table.add(lut)
            pad = lambda xs, k, z: list(xs) + [z] * (k - len(xs))  # noqa: E731
            f.write("    {%d, %d, {%s}, {%s}, {%s}, {%s}, %d, %d, {%s}, 0x%xull, {%s}, {%s}, %d, %d},\n" % (
                bits, len(sizes), ", ".join(map(str, pad(sizes, 3, 0))),
                ", ".join(str(r[0]) for r in pad(ranges, 3, (0, 0, 1.0))),
                ", ".join(str(r[1]) for r in pad(ranges, 3, (0, 0, 1.0))),
                ", ".join(repr(r[2]) for r in pad(ranges, 3, (0, 0, 1.0))), gradient, outside,
                ", ".join("0x%06xu" % c for c in pad(colours, 6, 0)), ref.fnv(flat(lut)),
                ", ".join(map(str, lut[0][0])), ", ".join(map(str, lut[0][-1])), first, count))
        f.write("};\n\n")
        f.write("struct RefRgbLut {\n    unsigned bits;\n    unsigned min[3], max[3], maxDst[3];\n"
                "    double gamma[3];\n    unsigned mask;\n    bool channelColours;\n"
                "    unsigned long long hash;\n    unsigned inputs;\n    unsigned run, runs;\n};\n")
        f.write("static const RefRgbLut kRefRgbLuts[] = {\n")
        for bits, ranges, max_dst, mask, cc in rgb_cases(rnd):
            lut = rgb_lut(bits, ranges, max_dst, mask & 7, cc)
            first, count = table.add(lut)
            f.write("    {%d, {%s}, {%s}, {%s}, {%s}, 0x%x, %s, 0x%xull, %d, %d, %d},\n" % (
                bits, ", ".join(str(r[0]) for r in ranges), ", ".join(str(r[1]) for r in ranges),
                ", ".join(map(str, max_dst)), ", ".join(repr(r[2]) for r in ranges), mask,
                "true" if cc else "false", ref.fnv(flat(lut)), len(lut), first, count))
        f.write("};\n\n")
        table.write(f, "kRefLutRuns")
        write_end_to_end(f)


def range_search(row, low_pct, high_pct, total):
    """Low and high cuts of one histogram row: the first bin whose running
    count from the bottom reaches the low count and the last whose running
    count from the top reaches the high count; low >= high is repaired."""
    m = len(row) - 1

    def count(pct):
        return max(1, int(float(total) * (pct * 0.01)))
    up = np.cumsum(row)
    down = np.cumsum(row[::-1])[::-1]
    lows = np.nonzero(up >= count(low_pct))[0]
    highs = np.nonzero(down >= count(high_pct))[0]
    lo = int(lows[0]) if len(lows) else m + 1
    hi = int(highs[-1]) if len(highs) else -1
    if lo >= hi:
        if 0 < hi < m:
            lo = hi - 1
        else:
            lo, hi = 0, m
    return lo, hi


def screen(a, b):
    return a + b - (a * b) // 255


def write_end_to_end(f):
    """A seeded 12-bit picture of three one-component channels: cuts from
    each channel's histogram, a linear ramp per channel, colour scaling by the
    channel colours, and the screen-blend composition into blue, green, red."""
    rng = np.random.default_rng(5108)
    w, h, bits = 32, 24, 12
    m = (1 << bits) - 1
    centres = [(900, 150), (2000, 500), (3200, 250)]
    pic = np.stack([np.clip(rng.normal(c, s, size=(h, w)), 0, m).astype(np.int64) for c, s in centres], axis=-1)
    pic[0, 0] = [0, m, 7]  # the ends of the range occur
    colours = [0x0000FF, 0x00FF00, 0xFF8000]
    low_pct, high_pct = 1.0, 0.5
    cuts = []
    for k in range(3):
        row = np.bincount(pic[..., k].ravel(), minlength=m + 1)
        cuts.append(range_search(row, low_pct, high_pct, w * h))
    out = np.zeros((h, w, 3), dtype=np.int64)
    for y in range(h):
        for x in range(w):
            acc = None
            for k in range(3):
                lo, hi = cuts[k]
                t = ref.tone("gamma", bits, bits, lo, 0, hi, m, 1.0)[pic[y, x, k]]
                c = colour_entry(colours[k], t, m)
                acc = c if acc is None else [screen(acc[i], c[i]) for i in range(3)]
            out[y, x] = acc
    f.write("\n// End to end: auto-contrast, display LUT and composition of a 12-bit frame.\n")
    f.write("static const unsigned kE2EWidth = %d, kE2EHeight = %d;\n" % (w, h))
    f.write("static const double kE2ELowPercent = %r, kE2EHighPercent = %r;\n" % (low_pct, high_pct))
    f.write("static const unsigned kE2EColours[3] = {%s};\n" % ", ".join("0x%06xu" % c for c in colours))
    f.write("static const unsigned kE2ECuts[3][2] = {%s};\n" % ", ".join("{%d, %d}" % c for c in cuts))
    f.write("static const unsigned short kE2EPicture[] = {\n")
    flat_pic = pic.ravel().tolist()
    for i in range(0, len(flat_pic), 24):
        f.write("    " + ", ".join(map(str, flat_pic[i:i + 24])) + ",\n")
    f.write("};\nstatic const unsigned char kE2ETrueColour[] = {\n")
    flat_out = out.ravel().tolist()
    for i in range(0, len(flat_out), 24):
        f.write("    " + ", ".join(map(str, flat_out[i:i + 24])) + ",\n")
    f.write("};\n")


if __name__ == "__main__":
    main()
