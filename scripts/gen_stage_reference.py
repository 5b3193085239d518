#!/usr/bin/env python3
"""Writes tests/w32_qorfilesdk/stage_reference.inc: reference values for the
stage-alignment fits and the stage coordinates of pixels, computed with numpy
from the formulas of the fits, independently of the library.

Fits, by the number n of point pairs (x, y source; X, Y destination):
  n = 1  translation by the difference of the pair;
  n = 2  rotation by the angle between the two difference vectors and scale
         by the ratio of their lengths, translated by the first pair's
         difference;
  n = 3  affine: D . S^-1 with S the negated source points over a row of ones;
  n = 4  projective by the four-point basis method on the negated sources;
  n >= 5 least squares: the right singular vector of the smallest singular
         value of the 2n x 9 system (numpy.linalg.svd), normalised here so
         that its largest entry in magnitude is positive (the sign of a
         singular vector is arbitrary; the test normalises alike).
Each case also maps a few probe points through the fitted transform.

Stage coordinates: a file of 64 x 48 pixels whose experiment is an
XY-position loop (4 points, point 1 not valid, relative to a reference point,
with Z) over a Z stack (5 steps of 1.5, mode 0, home index 2), frame-0
metadata with a calibration, aspect and a rotated camera-to-stage matrix,
recorded "X" data for frames 0..3 and "Z" data for frames 0..9, and an
alignment of five pairs (least squares). For each query (frame, pixel x,
pixel y) the stage X, Y, Z follow the rules of the local metadata and the
pixel offset from the frame centre.

Run from the repository root:  /usr/bin/python3 scripts/gen_stage_reference.py
"""
import math
import os
import numpy as np

OUT = os.path.join(os.path.dirname(__file__), "..", "tests", "w32_qorfilesdk", "stage_reference.inc")


def f(x):
    return repr(float(x))


def arr(values):
    return "{" + ", ".join(f(v) for v in values) + "}"


def fit(pairs):
    n = len(pairs)
    x = [p[0] for p in pairs]
    y = [p[1] for p in pairs]
    X = [p[2] for p in pairs]
    Y = [p[3] for p in pairs]
    if n == 1:
        return np.array([[1, 0, X[0] - x[0]], [0, 1, Y[0] - y[0]], [0, 0, 1]], dtype=float)
    if n == 2:
        ang = math.atan2(Y[1] - Y[0], X[1] - X[0]) - math.atan2(y[1] - y[0], x[1] - x[0])
        s = math.hypot(X[1] - X[0], Y[1] - Y[0]) / math.hypot(x[1] - x[0], y[1] - y[0])
        c, sn = math.cos(ang), math.sin(ang)
        return np.array([[s * c, -s * sn, X[0] - x[0]], [s * sn, s * c, Y[0] - y[0]], [0, 0, 1]])
    if n == 3:
        S = np.array([[-x[0], -x[1], -x[2]], [-y[0], -y[1], -y[2]], [1, 1, 1]], dtype=float)
        D = np.array([X[:3], Y[:3]], dtype=float)
        top = D @ np.linalg.inv(S)
        return np.vstack([top, [0, 0, 1]])
    if n == 4:
        C = np.array([[-x[0], -x[1], -x[2]], [-y[0], -y[1], -y[2]], [1, 1, 1]], dtype=float)
        lam = np.linalg.solve(C, np.array([-x[3], -y[3], 1.0]))
        A = C * lam[np.newaxis, :]
        B = np.array([X[:3], Y[:3], [1, 1, 1]], dtype=float)
        mu = np.linalg.solve(B, np.array([X[3], Y[3], 1.0]))
        Bp = B * mu[np.newaxis, :]
        return Bp @ np.linalg.inv(A)
    rows = []
    for i in range(n):
        rows.append([-x[i], -y[i], 1, 0, 0, 0, X[i] * x[i], X[i] * y[i], -X[i]])
        rows.append([0, 0, 0, -x[i], -y[i], 1, Y[i] * x[i], Y[i] * y[i], -Y[i]])
    A = np.array(rows, dtype=float)
    _, s, vh = np.linalg.svd(A)
    v = vh[-1]
    # The smallest singular value must be separated, or the vector is not unique.
    assert s[-1] < 0.5 * s[-2], s
    return normalise(v.reshape(3, 3))


def normalise(m):
    k = np.argmax(np.abs(m.ravel()))
    return m if m.ravel()[k] > 0 else -m


def transform(m, px, py):
    w = m[2, 0] * px + m[2, 1] * py + m[2, 2]
    return ((m[0, 0] * px + m[0, 1] * py + m[0, 2]) / w, (m[1, 0] * px + m[1, 1] * py + m[1, 2]) / w)


PROBES = [(0.0, 0.0), (12.5, -3.25), (-40.0, 17.0), (101.0, 55.5)]


def fit_cases(rng):
    cases = []
    for n in range(1, 7):
        for variant in range(2):
            src = np.round(rng.uniform(-100, 100, size=(n, 2)), 3)
            if n >= 4:
                # A projective map of the negated sources plus a little noise
                # for the least-squares cases.
                H = np.array([[1.2, -0.3, 15.0], [0.25, 0.9, -7.0], [0.001 * (variant + 1), -0.0015, 1.0]])
                dst = []
                for (sx, sy) in src:
                    X, Y = transform(H, -sx, -sy)
                    dst.append((X, Y))
                dst = np.array(dst)
                if n >= 5:
                    dst = dst + rng.normal(0, 0.05, size=dst.shape)
                dst = np.round(dst, 4)
            else:
                dst = np.round(rng.uniform(-100, 100, size=(n, 2)), 3)
            pairs = [(src[i, 0], src[i, 1], dst[i, 0], dst[i, 1]) for i in range(n)]
            m = fit(pairs)
            mapped = [transform(m, px, py) for (px, py) in PROBES]
            cases.append((pairs, m, mapped))
    return cases


# ---- stage coordinates ------------------------------------------------------

W, H = 64, 48
XY_X = [1000.0, 1100.0, 1200.0, 1300.0]
XY_Y = [500.0, 450.0, 400.0, 350.0]
XY_Z = [3.0, 4.0, 5.0, 6.0]
XY_VALID = [True, False, True, True]
REF_X, REF_Y = 10.0, 20.0
Z_COUNT, Z_STEP = 5, 1.5
Z_HOME = (Z_COUNT - 1) // 2   # mode 0: the middle step
MD = dict(x=100.0, y=200.0, z=7.0, cal=0.65, aspect=1.1)
ANGLE = math.radians(30.0)
CT11, CT12 = 1.02 * math.cos(ANGLE), -1.02 * math.sin(ANGLE)
CT21, CT22 = 1.02 * math.sin(ANGLE), 1.02 * math.cos(ANGLE)
REC_X = {i: 2000.0 + 10.0 * i for i in range(4)}
REC_Z = {i: -1.0 - 0.25 * i for i in range(10)}
ALIGN = [(0.0, 0.0, 3.0, -2.0), (1000.0, 0.0, 1004.0, 7.0), (0.0, 1000.0, -6.0, 1001.0),
         (1000.0, 1000.0, 998.0, 1009.0), (500.0, 250.0, 501.5, 252.0)]
FRAMES = 3 * Z_COUNT
QUERIES = [(0, 0, 0), (0, 32, 24), (3, 64, 48), (3, 64, 48), (4, 10, 40), (7, 200, 5),
           (9, 63, 47), (10, 0, 47), (14, 33, 1), (12, 70, 100)]


def stage(frame, px, py, m):
    k, zpos = frame // Z_COUNT, frame % Z_COUNT
    useX, useZ = frame in REC_X, frame in REC_Z
    x, y, z = MD["x"], MD["y"], MD["z"]
    applied = False
    if not useX:
        valid = [i for i in range(4) if XY_VALID[i]]
        item = valid[k]
        x, y, z = XY_X[item] - REF_X, XY_Y[item] - REF_Y, XY_Z[item]
        applied = True
    if not useZ:
        if applied:
            z -= Z_HOME * Z_STEP
        z += zpos * Z_STEP
    if useX:
        x = REC_X[frame]
    if useZ:
        z = REC_Z[frame]
    dx = (min(W, px) - W * 0.5) * MD["cal"]
    dy = (min(H, py) - H * 0.5) * MD["aspect"] * MD["cal"]
    sx = CT11 * dx + CT12 * dy + x
    sy = CT21 * dx + CT22 * dy + y
    ax, ay = transform(m, sx, sy)
    return ax, ay, z


def main():
    rng = np.random.RandomState(20261210)
    lines = ["// Generated by scripts/gen_stage_reference.py (numpy %s); do not edit." % np.__version__, ""]
    lines.append("struct StageFitCase { unsigned n; double pairs[6][4]; double m[9]; double mapped[4][2]; };")
    lines.append("static const double kStageProbes[4][2] = {%s};" %
                 ", ".join("{%s, %s}" % (f(a), f(b)) for a, b in PROBES))
    lines.append("static const StageFitCase kStageFitCases[] = {")
    for pairs, m, mapped in fit_cases(rng):
        p = ", ".join(arr(q) for q in pairs)
        mp = ", ".join("{%s, %s}" % (f(a), f(b)) for a, b in mapped)
        lines.append("    {%d, {%s}, %s, {%s}}," % (len(pairs), p, arr(m.ravel()), mp))
    lines.append("};")
    lines.append("")
    m = fit(ALIGN)
    lines.append("// Scenario of the stage-coordinate test (see the script for its rules).")
    lines.append("static const unsigned kStageW = %d, kStageH = %d, kStageFrames = %d;" % (W, H, FRAMES))
    lines.append("static const double kStageXYX[4] = %s;" % arr(XY_X))
    lines.append("static const double kStageXYY[4] = %s;" % arr(XY_Y))
    lines.append("static const double kStageXYZ[4] = %s;" % arr(XY_Z))
    lines.append("static const bool kStageXYValid[4] = {%s};" % ", ".join("true" if v else "false" for v in XY_VALID))
    lines.append("static const double kStageRefX = %s, kStageRefY = %s;" % (f(REF_X), f(REF_Y)))
    lines.append("static const unsigned kStageZCount = %d;" % Z_COUNT)
    lines.append("static const double kStageZStep = %s;" % f(Z_STEP))
    lines.append("static const double kStageMdX = %s, kStageMdY = %s, kStageMdZ = %s, kStageCal = %s, kStageAspect = %s;"
                 % (f(MD["x"]), f(MD["y"]), f(MD["z"]), f(MD["cal"]), f(MD["aspect"])))
    lines.append("static const double kStageCT[4] = {%s, %s, %s, %s};  // CT11, CT12, CT21, CT22"
                 % (f(CT11), f(CT12), f(CT21), f(CT22)))
    lines.append("static const double kStageRecX[%d] = %s;" % (len(REC_X), arr(REC_X[i] for i in range(len(REC_X)))))
    lines.append("static const double kStageRecZ[%d] = %s;" % (len(REC_Z), arr(REC_Z[i] for i in range(len(REC_Z)))))
    lines.append("static const double kStageAlign[5][4] = {%s};" % ", ".join(arr(a) for a in ALIGN))
    lines.append("struct StageQuery { int frame; unsigned px, py; double x, y, z; };")
    lines.append("static const StageQuery kStageQueries[] = {")
    for (fr, px, py) in QUERIES:
        sx, sy, sz = stage(fr, px, py, m)
        lines.append("    {%d, %d, %d, %s, %s, %s}," % (fr, px, py, f(sx), f(sy), f(sz)))
    lines.append("};")
    # The same queries without alignment.
    ident = np.eye(3)
    lines.append("static const StageQuery kStageQueriesUnaligned[] = {")
    for (fr, px, py) in QUERIES:
        sx, sy, sz = stage(fr, px, py, ident)
        lines.append("    {%d, %d, %d, %s, %s, %s}," % (fr, px, py, f(sx), f(sy), f(sz)))
    lines.append("};")
    with open(OUT, "w") as fh:
        fh.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
