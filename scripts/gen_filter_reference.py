#!/usr/bin/env python3
"""Writes tests/gnr_picture/floatpic_reference.inc: seeded float and integer
pictures with what numpy/scipy compute for them: element-wise arithmetic in
single precision, float to integer conversions, the box mean (uniform_filter of
the data over uniform_filter of ones, constant mode: the mean of the window's
samples inside the picture), the Gaussian smooth with the same normalisation,
the in-picture median, the Immerkaer noise estimate and the Gaussian kernel.

Run from the repository root:  /usr/bin/python3 scripts/gen_filter_reference.py
"""
import math
import os

import numpy as np
from scipy import ndimage

OUT = os.path.join(os.path.dirname(__file__), "..", "tests", "gnr_picture", "floatpic_reference.inc")
rng = np.random.default_rng(20261210)
f32 = np.float32


def fmt(v):
    v = float(v)
    if math.isnan(v):
        return "kNaN"
    if math.isinf(v):
        return "kInf" if v > 0 else "-kInf"
    return repr(float(f32(v))) + "f" if "." in repr(float(f32(v))) or "e" in repr(float(f32(v))) else repr(float(f32(v))) + ".0f"


def farr(name, a):
    return "static const float %s[] = {%s};\n" % (name, ", ".join(fmt(x) for x in np.asarray(a, dtype=np.float32).ravel()))


def darr(name, a):
    return "static const double %s[] = {%s};\n" % (name, ", ".join(repr(float(x)) for x in np.asarray(a).ravel()))


def uarr(name, a, ctype):
    return "static const %s %s[] = {%s};\n" % (ctype, name, ", ".join(str(int(x)) for x in np.asarray(a).ravel()))


# ---------------------------------------------------------------------------
# Arithmetic and conversions (single precision, element-wise)
# ---------------------------------------------------------------------------
W, H, C = 11, 7, 3
A = (rng.random((H, W, C)) * 2000 - 500).astype(f32)
B = (rng.random((H, W, C)) * 40 - 20).astype(f32)
B[1, 2, 0] = 0
B[3, 4, 1] = np.nan
B[5, 6, 2] = 0
A[2, 3, 1] = 0
A[4, 5, 2] = np.nan
A[6, 1, 0] = np.inf
A[0, 8, 2] = -3.4028235e38
cst = f32(3.5)
with np.errstate(all="ignore"):
    add = A + B
    sub = A - B
    mul = A * B
    div = np.where((B == 0) | np.isnan(B), f32(0), A / np.where((B == 0) | np.isnan(B), f32(1), B)).astype(f32)
    addc = A + cst
    mulc = A * cst
    subc = cst - A
    divc = np.where((A == 0) | np.isnan(A), f32(0), cst / np.where((A == 0) | np.isnan(A), f32(1), A)).astype(f32)
    minc = np.where(A < cst, A, cst).astype(f32)
    maxc = np.where(A > cst, A, cst).astype(f32)
    absa = np.abs(A)


def to_int(src, bits, fmin, fmax, stretch):
    M = (1 << bits) - 1
    scale = f32(M) / (f32(fmax) - f32(fmin)) if stretch else f32(1)
    with np.errstate(all="ignore"):
        v = ((src.astype(f32) - f32(fmin)) * f32(scale)).astype(f32)
        x = v.astype(np.float64) + 0.5
    x = np.where(np.isnan(x), 0.0, x)
    x = np.clip(x, 0.0, float(M))
    return np.trunc(x).astype(np.int64)


def fill_pic(src, bits, lo, hi, invert):
    """FillPicByFloat: (s - lo) * (M / (hi - lo)) in single precision, NaN and
    negatives 0, above M M, optionally M - v, truncated."""
    M = f32((1 << bits) - 1)
    scale = f32(M / (f32(hi) - f32(lo)))
    with np.errstate(all="ignore"):
        v = ((src.astype(f32) - f32(lo)) * scale).astype(f32)
    v = np.where(v > 0, v, f32(0)).astype(f32)
    v = np.where(v < M, v, M).astype(f32)
    if invert:
        v = (M - v).astype(f32)
    return np.trunc(v.astype(np.float64)).astype(np.int64)


conv8s = to_int(A, 8, -50.0, 1100.0, True)
conv8n = to_int(A, 8, 10.0, 0.0, False)
conv12s = to_int(A, 12, -500.0, 1500.0, True)

# ---------------------------------------------------------------------------
# Filters on one-component pictures
# ---------------------------------------------------------------------------
FW, FH = 23, 17
P = (rng.random((FH, FW)) * 1000).astype(f32)


def box(img, size):
    data = ndimage.uniform_filter(img.astype(np.float64), size=size, mode="constant", cval=0.0)
    ones = ndimage.uniform_filter(np.ones_like(img, dtype=np.float64), size=size, mode="constant", cval=0.0)
    res = data / ones
    # The window reaches size // 2 back and size - size // 2 - 1 forward.
    direct = ndimage.correlate(img.astype(np.float64), np.ones((size, size)), mode="constant") / ndimage.correlate(
        np.ones_like(img, dtype=np.float64), np.ones((size, size)), mode="constant")
    assert np.allclose(res, direct, rtol=1e-12, atol=1e-9)
    return res


def get_gauss(size, sigma):
    e = float(f32(2.71828))
    c = (size - 1) * 0.5
    k = np.zeros((size, size), dtype=f32)
    for i in range(size):
        for j in range(size):
            r = math.sqrt((j - c) ** 2 + (i - c) ** 2) / float(sigma)
            k[i, j] = f32(math.pow(e, -(r * r)) * (1.0 / (float(sigma) * 2.5066280138863846)))
    return (k / k.max()).astype(f32)


def gauss(img, size):
    K = get_gauss(size, f32(size) * f32(0.33333334)).astype(np.float64)
    data = ndimage.correlate(img.astype(np.float64), K, mode="constant", cval=0.0)
    norm = ndimage.correlate(np.ones_like(img, dtype=np.float64), K, mode="constant", cval=0.0)
    return data / norm


def median(img, size):
    h = size // 2
    out = np.zeros_like(img)
    hh, ww = img.shape
    for y in range(hh):
        for x in range(ww):
            win = img[max(0, y - h):min(hh, y - h + size), max(0, x - h):min(ww, x - h + size)].ravel()
            out[y, x] = np.sort(win)[len(win) // 2]
    return out


def immerkaer(img):
    hh, ww = img.shape
    if hh < 3 or ww < 3:
        return 0.0
    m = np.array([[1, -2, 1], [-2, 4, -2], [1, -2, 1]], dtype=np.float64)
    conv = ndimage.correlate(img.astype(np.float64), m, mode="constant")[1:-1, 1:-1]
    return 0.2088856895525836 / ((ww - 2) * (hh - 2)) * np.abs(conv).sum()


BOX_SIZES = [2, 3, 5, 8, 30]
GAUSS_SIZES = [3, 4, 5, 9]
MEDIAN_SIZES = [3, 4, 5]

# Integer pictures: 8-bit and 12-bit.
IW, IH = 19, 13
P8 = rng.integers(0, 256, size=(IH, IW)).astype(np.int64)
P12 = rng.integers(0, 4096, size=(IH, IW)).astype(np.int64)


def int_box(img, size):
    s = ndimage.correlate(img, np.ones((size, size), dtype=np.int64), mode="constant")
    n = ndimage.correlate(np.ones_like(img), np.ones((size, size), dtype=np.int64), mode="constant")
    return s // n


with open(OUT, "w") as f:
    f.write("// Generated by scripts/gen_filter_reference.py (numpy/scipy); do not edit.\n")
    f.write("// Arithmetic pictures: %d x %d pixels of %d components.\n" % (W, H, C))
    f.write("static constexpr unsigned kArW = %d, kArH = %d, kArC = %d;\n" % (W, H, C))
    f.write(farr("kArA", A))
    f.write(farr("kArB", B))
    for name, a in [("kArAdd", add), ("kArSub", sub), ("kArMul", mul), ("kArDiv", div), ("kArAddC", addc),
                    ("kArMulC", mulc), ("kArSubC", subc), ("kArDivC", divc), ("kArMinC", minc), ("kArMaxC", maxc),
                    ("kArAbs", absa)]:
        f.write(farr(name, a))
    f.write("static constexpr float kArConst = 3.5f;\n")
    f.write(uarr("kConv8Stretch", conv8s, "unsigned char"))
    f.write(uarr("kConv8Plain", conv8n, "unsigned char"))
    f.write(uarr("kConv12Stretch", conv12s, "unsigned short"))
    f.write("// Filter picture: %d x %d, one component.\n" % (FW, FH))
    f.write("static constexpr unsigned kFW = %d, kFH = %d;\n" % (FW, FH))
    f.write(farr("kFilterSrc", P))
    for s in BOX_SIZES:
        f.write(darr("kBox%d" % s, box(P, s)))
    for s in GAUSS_SIZES:
        f.write(darr("kGauss%d" % s, gauss(P, s)))
        f.write(farr("kGetGauss%d" % s, get_gauss(s, f32(s) * f32(0.33333334))))
    for s in MEDIAN_SIZES:
        f.write(farr("kMedian%d" % s, median(P, s)))
    f.write("static constexpr double kImmerkaer = %r;\n" % immerkaer(P))
    f.write("struct FilterCase { unsigned size; const double* expect; };\n")
    f.write("static const FilterCase kBoxCases[] = {%s};\n" % ", ".join("{%d, kBox%d}" % (s, s) for s in BOX_SIZES))
    f.write("static const FilterCase kGaussCases[] = {%s};\n" % ", ".join("{%d, kGauss%d}" % (s, s) for s in GAUSS_SIZES))
    f.write("struct MedianCase { unsigned size; const float* expect; };\n")
    f.write("static const MedianCase kMedianCases[] = {%s};\n" % ", ".join("{%d, kMedian%d}" % (s, s) for s in MEDIAN_SIZES))
    f.write("struct GetGaussCase { unsigned size; const float* expect; };\n")
    f.write("static const GetGaussCase kGetGaussCases[] = {%s};\n" % ", ".join("{%d, kGetGauss%d}" % (s, s) for s in GAUSS_SIZES))
    f.write("// Integer pictures: %d x %d, one component, 8 and 12 bits.\n" % (IW, IH))
    f.write("static constexpr unsigned kIW = %d, kIH = %d;\n" % (IW, IH))
    f.write(uarr("kInt8Src", P8, "unsigned char"))
    f.write(uarr("kInt12Src", P12, "unsigned short"))
    for s in (3, 5, 8):
        f.write(uarr("kInt8Box%d" % s, int_box(P8, s), "unsigned char"))
        f.write(uarr("kInt12Box%d" % s, int_box(P12, s), "unsigned short"))
    f.write("struct IntBoxCase { unsigned size; const unsigned char* e8; const unsigned short* e12; };\n")
    f.write("static const IntBoxCase kIntBoxCases[] = {%s};\n" % ", ".join("{%d, kInt8Box%d, kInt12Box%d}" % (s, s, s) for s in (3, 5, 8)))
    f.write(farr("kInt8AsFloat", P8.astype(f32)))
    f.write(farr("kInt12AsFloat", P12.astype(f32)))
    f.write(uarr("kFill8", fill_pic(A, 8, -50.0, 1100.0, False), "unsigned char"))
    f.write(uarr("kFill8Inverted", fill_pic(A, 8, -50.0, 1100.0, True), "unsigned char"))
    f.write(uarr("kFill12", fill_pic(A, 12, -500.0, 1500.0, False), "unsigned short"))
    f.write("static constexpr double kImmerkaer8 = %r;\n" % immerkaer(P8.astype(np.float64)))
    f.write("static constexpr double kImmerkaer12 = %r;\n" % immerkaer(P12.astype(np.float64)))
