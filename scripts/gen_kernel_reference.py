#!/usr/bin/env python3
"""Writes tests/gnr_picture/kernel_reference.inc: inputs and expected outputs
of the depth-conversion, float, tone-mapping and histogram kernels, computed
with numpy independently of the library.

Inputs come from numpy's RandomState(20261210); pictures are stored without
row padding (the C++ test copies them into padded pictures). Integer results
use numpy's wrapping unsigned arithmetic; float results follow the kernels'
precision rules: float32 where the curves use single precision (numpy float32
scalars round every operation), double through Python's math module (the C
library's log, log10 and pow, as the kernels call them).

Run from the repository root:  /usr/bin/python3 scripts/gen_kernel_reference.py
"""
import math
import os
import numpy as np

OUT = os.path.join(os.path.dirname(__file__), "..", "tests", "gnr_picture", "kernel_reference.inc")
rng = np.random.RandomState(20261210)
W, H = 13, 4
lines = []


def emit(ctype, name, values):
    vals = [int(v) for v in np.asarray(values).ravel()]
    body = ", ".join(str(v) + ("u" if ctype.startswith("uint") else "") for v in vals)
    lines.append(f"static const {ctype} {name}[] = {{{body}}};")


def emit_hist(name, counts):
    # Non-zero counters only, as (index, count) pairs.
    counts = np.asarray(counts).ravel()
    nz = np.nonzero(counts)[0]
    pairs = np.stack([nz, counts[nz]], axis=1) if len(nz) else np.zeros((0, 2), dtype=np.int64)
    emit("uint32_t", name, pairs if len(nz) else [0, 0])
    lines.append(f"constexpr size_t {name}_pairs = {len(nz)};")


def emit_float(name, values):
    vals = np.asarray(values, dtype=np.float32).ravel()
    # Bit patterns, so the C++ side reads the very same floats.
    body = ", ".join(f"0x{int(v.view(np.uint32)):08X}u" for v in vals)
    lines.append(f"static const uint32_t {name}[] = {{{body}}};")


# --- shifts and containers ---------------------------------------------------
s16 = rng.randint(0, 65536, size=(H, W * 3)).astype(np.uint64)
s16[0, :4] = [4095, 2048, 4096, 0xFFFF]
emit("uint16_t", "kShiftSrc16", s16)
emit("uint8_t", "kShift16to8_12", (s16 >> 4) & 0xFF)                      # srcBits 12
emit("uint16_t", "kShift16to16_10to12", (s16 << 2) & 0xFFFF)             # 10 -> 12
emit("uint16_t", "kShift16to16_12to10", s16 >> 2)                         # 12 -> 10
emit("uint8_t", "kChange16to08", s16 & 0xFF)
s8 = rng.randint(0, 256, size=(H, W * 3)).astype(np.uint64)
emit("uint8_t", "kShiftSrc8", s8)
emit("uint16_t", "kShift8to16_12", (s8 << 4) & 0xFFFF)                   # dstBits 12
emit("uint16_t", "kShift8to16_16", (s8 << 8) & 0xFFFF)                   # dstBits 16

# --- LUT, 12-bit frame holding bits above its depth --------------------------
lut = rng.randint(0, 256, size=4096).astype(np.uint64)
emit("uint8_t", "kLut12to8", lut)
emit("uint8_t", "kLutOut12to8", lut[(s16 & 4095).astype(np.int64)])

# --- linear functions, 3 x 32 to 3 x 16 (12 bits) and 3 x 8 -----------------
s32 = rng.randint(0, 2**32, size=(H, W * 3), dtype=np.uint64)
funcs = np.array([[1, 0, 16, 0], [3, 1000, 7, 5], [70000, 2**40, 3, 2**63]], dtype=np.uint64)
emit("uint32_t", "kLinSrc", s32)
emit("uint64_t", "kLinFuncs", funcs)
out16 = np.zeros_like(s32)
out8 = np.zeros_like(s32)
with np.errstate(over="ignore"):
    for k in range(3):
        m, o, d, a = funcs[k]
        v = s32[:, k::3]
        q = (v * m - o) // d + a
        out16[:, k::3] = np.minimum(q & np.uint64(0xFFFF), np.uint64(4095))
        out8[:, k::3] = q & np.uint64(0xFF)
emit("uint16_t", "kLinOut16_12", out16)
emit("uint8_t", "kLinOut8", out8)

# --- integer to float ---------------------------------------------------------
N = 5
si = rng.randint(0, 65536, size=(H, W * N)).astype(np.uint16)
emit("uint16_t", "kToFloatSrc", si)
mean = np.zeros((H, W), dtype=np.float32)
inv = np.float32(1.0) / np.float32(N)
for r in range(H):
    for x in range(W):
        acc = np.float32(0.0)
        for k in range(N):
            acc = np.float32(acc + np.float32(si[r, x * N + k]))
        mean[r, x] = np.float32(acc * inv)
emit_float("kToFloatMean", mean)

# --- float to integer ---------------------------------------------------------
fv = rng.uniform(-20.0, 700.0, size=(H, W * 3)).astype(np.float32)
fv[0, :6] = [254.6, 300.0, 1.49, -2.0, 510.4, 600.0]
emit_float("kFromFloatSrc", fv)


def from_float(v, M):
    t = float(v) + 0.5
    if not (t > 0.0):
        return 0
    return int(min(t, float(M)))


emit("uint8_t", "kFromFloat8", [from_float(v, 255) for v in fv.ravel()])
emit("uint16_t", "kFromFloat16_9", [from_float(v, 511) for v in fv.ravel()])

# --- tone maps (rows without gaps, 3 components) ------------------------------
tw, th, tc = 9, 3, 3
L = rng.uniform(0.0, 1.0, size=(th, tw * tc)).astype(np.float32) ** 3 * np.float32(800.0)
L = L.astype(np.float32)
L[0, 0] = 0.0
L[1, 4] = -1.0
emit_float("kToneSrc", L)
f32 = np.float32


def extremes(k):
    vals = L[:, k::tc].ravel()
    mn, mx = f32(1e30), f32(0.0)
    for v in vals:
        if v > mx:
            mx = v
        if v < mn and v > 0:
            mn = v
    return mn, mx


def limit(y, M):
    if not (y >= 0.0):
        return 0
    return M if y > M else int(y)


def tone(kind, M, p_arg=0):
    out = np.zeros((th, tw * tc), dtype=np.int64)
    for k in range(tc):
        lmin, lmax = extremes(k)
        s = f32(1.0) / np.sqrt(f32(lmin * lmax))
        q = f32(f32(f32(30.0) / f32(M)) * lmax) / lmin
        c = f32(M) / f32(math.log10(float(f32(1.0) + lmax)))
        rl = f32(1.0) / lmax
        pp = f32(p_arg)
        for r in range(th):
            for x in range(tw):
                v = L[r, x * tc + k]
                if kind == "tumblin":
                    p = f32(f32(f32(0.5) * f32(f32(v * s) - f32(1.0))) + f32(1.0)) * q
                    y = (float(M) * float(v) * float(p)) / ((float(p) - 1.0) * float(v) + float(lmax))
                elif kind == "param":
                    y = (float(M) * float(pp) * float(v)) / ((float(pp) - 1.0) * float(v) + float(lmax))
                else:
                    t = f32(v * rl)
                    with np.errstate(invalid="ignore"):
                        try:
                            yd = float(c) * math.log(1.0 + float(v)) / math.log(
                                2.0 + 8.0 * math.pow(float(t), 0.23446525633335114))
                        except ValueError:
                            yd = float("nan")
                    y = float(f32(yd))
                out[r, x * tc + k] = limit(y, M)
    return out


emit("uint8_t", "kToneTumblin8", tone("tumblin", 255))
emit("uint16_t", "kToneTumblin16", tone("tumblin", 65535))
emit("uint8_t", "kToneParamTumblin8_3", tone("param", 255, 3))
emit("uint8_t", "kToneDrago8", tone("drago", 255))
emit("uint16_t", "kToneDrago16", tone("drago", 65535))

# --- histograms ---------------------------------------------------------------
hw, hh = 23, 9
h8 = rng.randint(0, 256, size=(hh, hw * 3)).astype(np.int64)
emit("uint8_t", "kHistSrc8", h8)
ps, rs = 2, 3
sel = h8[::rs, :].reshape(-1, hw, 3)[:, ::ps, :]
for k in range(3):
    emit_hist(f"kHist3x8_steps_{k}", np.bincount(sel[:, :, k].ravel(), minlength=256))
# Intensity of 3 x 8 with the mask plane (byte per pixel).
hm = (rng.randint(0, 3, size=(hh, hw)) == 0).astype(np.int64) * rng.randint(1, 256, size=(hh, hw))
emit("uint8_t", "kHistMask", hm)
px = h8.reshape(hh, hw, 3)
keep = hm != 0
for k in range(3):
    emit_hist(f"kHistBin3x8_{k}", np.bincount(px[:, :, k][keep], minlength=256))
emit_hist("kHistBin3x8_int", np.bincount((px.sum(axis=2) // 3)[keep], minlength=256))
# 5 x 16 at 12 bits with bits above the depth; component and intensity.
NC = 5
h16 = rng.randint(0, 65536, size=(hh, hw * NC)).astype(np.int64)
emit("uint16_t", "kHistSrc16", h16)
idx = (h16 & 4095).reshape(hh, hw, NC)
for k in range(NC):
    emit_hist(f"kHistInt5x16_{k}", np.bincount(idx[:, :, k].ravel(), minlength=4096))
emit_hist("kHistInt5x16_int", np.bincount((idx.sum(axis=2) // NC).ravel(), minlength=4096))
# Reduced depth: 12-bit samples (masked) into 7-bit histograms.
for k in range(NC):
    emit_hist(f"kHistDiv_{k}", np.bincount((idx[:, :, k] >> 5).ravel(), minlength=128))
# Joint 16-bit at 12 bits: components 4 and 1.
a = (idx[:, :, 4] >> 4).ravel()
b = (idx[:, :, 1] >> 4).ravel()
emit_hist("kHist2d16", np.bincount(a * 256 + b, minlength=65536))

with open(OUT, "w") as fh:
    fh.write("// Generated by scripts/gen_kernel_reference.py; do not edit.\n")
    fh.write(f"// Pictures are {W} x {H} (3 components unless named), tone maps {tw} x {th} x {tc},\n")
    fh.write(f"// histograms {hw} x {hh}.\n")
    fh.write("namespace kref {\n")
    fh.write(f"constexpr uint32_t kW = {W}, kH = {H}, kToneW = {tw}, kToneH = {th}, kToneC = {tc};\n")
    fh.write(f"constexpr uint32_t kHistW = {hw}, kHistH = {hh}, kHistPixStep = {ps}, kHistRowStep = {rs};\n")
    fh.write("\n".join(lines))
    fh.write("\n} // namespace kref\n")
print("wrote", OUT)
