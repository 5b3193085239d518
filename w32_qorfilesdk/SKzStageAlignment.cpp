// Stage alignment fits and the placement of a frame on the stage.
#include "w32_qorfilesdk/SKzStageAlignment.h"

#include "gnr_system/CKzDateTime.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzVariantText.h"
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "numerics/CKzMatrix.h"

#include <cmath>
#include <cstring>

namespace {

void SetIdentity(double m[3][3])
{
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m[r][c] = r == c ? 1.0 : 0.0;
}

// A fit is taken only when every entry is a number: a transform of NaN or
// infinities would turn every converted coordinate into garbage.
bool AllFinite(const double m[3][3])
{
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            if (!std::isfinite(m[r][c])) return false;
    return true;
}

// 3 x 3 matrix [[a0, a1, a2], [b0, b1, b2], [1, 1, 1]].
CKzMatrix ThreeColumns(double a0, double a1, double a2, double b0, double b1, double b2)
{
    CKzMatrix m(3, 3);
    if (!m.IsValid()) return m;
    m[0][0] = a0, m[0][1] = a1, m[0][2] = a2;
    m[1][0] = b0, m[1][1] = b1, m[1][2] = b2;
    m[2][0] = m[2][1] = m[2][2] = 1.0;
    return m;
}

// The columns of m multiplied by the entries of the column vector s.
void ScaleColumns(CKzMatrix& m, const CKzMatrix& s)
{
    for (unsigned r = 0; r < 3; ++r)
        for (unsigned c = 0; c < 3; ++c) m[r][c] *= s[c][0];
}

CKzMatrix Column3(double a, double b, double c)
{
    CKzMatrix v(3, 1);
    if (v.IsValid()) v[0][0] = a, v[1][0] = b, v[2][0] = c;
    return v;
}

typedef SKzStageAlignment::SKzCoordinates Pair;

kz_result FitTranslation(const Pair& p, double m[3][3])
{
    SetIdentity(m);
    m[0][2] = p.DstX - p.SrcX;
    m[1][2] = p.DstY - p.SrcY;
    return KZ_OK;
}

kz_result FitSimilarity(const Pair& p0, const Pair& p1, double m[3][3])
{
    const double sx = p1.SrcX - p0.SrcX, sy = p1.SrcY - p0.SrcY;
    const double dx = p1.DstX - p0.DstX, dy = p1.DstY - p0.DstY;
    if ((sx == 0.0 && sy == 0.0) || (dx == 0.0 && dy == 0.0)) return KZ_ERR_FAILED;
    const double angle = std::atan2(dy, dx) - std::atan2(sy, sx);
    const double s = std::hypot(dx, dy) / std::hypot(sx, sy);
    const double c = std::cos(angle), n = std::sin(angle);
    m[0][0] = s * c, m[0][1] = -s * n, m[0][2] = p0.DstX - p0.SrcX;
    m[1][0] = s * n, m[1][1] = s * c, m[1][2] = p0.DstY - p0.SrcY;
    m[2][0] = 0.0, m[2][1] = 0.0, m[2][2] = 1.0;
    return KZ_OK;
}

kz_result FitAffine(const Pair* p, double m[3][3])
{
    const CKzMatrix s = ThreeColumns(-p[0].SrcX, -p[1].SrcX, -p[2].SrcX, -p[0].SrcY, -p[1].SrcY, -p[2].SrcY);
    const CKzMatrix si = s.Inv();
    if (!si.IsValid()) return KZ_ERR_FAILED;
    CKzMatrix d(2, 3);
    if (!d.IsValid()) return KZ_ERR_OUT_OF_MEMORY;
    for (unsigned c = 0; c < 3; ++c) d[0][c] = p[c].DstX, d[1][c] = p[c].DstY;
    const CKzMatrix r = d * si;
    if (!r.IsValid()) return KZ_ERR_OUT_OF_MEMORY;
    for (unsigned c = 0; c < 3; ++c) m[0][c] = r[0][c], m[1][c] = r[1][c];
    m[2][0] = 0.0, m[2][1] = 0.0, m[2][2] = 1.0;
    return KZ_OK;
}

// Four points: the maps from the projective basis onto the source (negated)
// and onto the destination points, the second after the inverse of the first.
kz_result FitProjective(const Pair* p, double m[3][3])
{
    CKzMatrix a = ThreeColumns(-p[0].SrcX, -p[1].SrcX, -p[2].SrcX, -p[0].SrcY, -p[1].SrcY, -p[2].SrcY);
    const CKzMatrix ai = a.Inv();
    if (!ai.IsValid()) return KZ_ERR_FAILED;
    const CKzMatrix lambda = ai * Column3(-p[3].SrcX, -p[3].SrcY, 1.0);
    if (!lambda.IsValid()) return KZ_ERR_OUT_OF_MEMORY;
    ScaleColumns(a, lambda);

    CKzMatrix b = ThreeColumns(p[0].DstX, p[1].DstX, p[2].DstX, p[0].DstY, p[1].DstY, p[2].DstY);
    const CKzMatrix bi = b.Inv();
    if (!bi.IsValid()) return KZ_ERR_FAILED;
    const CKzMatrix mu = bi * Column3(p[3].DstX, p[3].DstY, 1.0);
    if (!mu.IsValid()) return KZ_ERR_OUT_OF_MEMORY;
    ScaleColumns(b, mu);

    const CKzMatrix aInv = a.Inv();
    if (!aInv.IsValid()) return KZ_ERR_FAILED;
    const CKzMatrix r = b * aInv;
    if (!r.IsValid()) return KZ_ERR_OUT_OF_MEMORY;
    for (unsigned i = 0; i < 3; ++i)
        for (unsigned j = 0; j < 3; ++j) m[i][j] = r[i][j];
    return KZ_OK;
}

// Five and more pairs: the right singular vector of the smallest singular
// value of the 2n x 9 system (the values sorted, so it is V's last column).
kz_result FitLeastSquares(const std::vector<Pair>& p, double m[3][3])
{
    const u64 rows = 2 * (u64)p.size();
    if (rows > 0xFFFFFFFFull) return KZ_ERR_FAILED;
    CKzMatrix a((unsigned)rows, 9);
    if (!a.IsValid()) return KZ_ERR_OUT_OF_MEMORY;
    for (size_t i = 0; i < p.size(); ++i) {
        const double x = p[i].SrcX, y = p[i].SrcY, X = p[i].DstX, Y = p[i].DstY;
        double* r0 = a[(unsigned)(2 * i)];
        double* r1 = a[(unsigned)(2 * i + 1)];
        const double e0[9] = {-x, -y, 1.0, 0.0, 0.0, 0.0, X * x, X * y, -X};
        const double e1[9] = {0.0, 0.0, 0.0, -x, -y, 1.0, Y * x, Y * y, -Y};
        std::memcpy(r0, e0, sizeof e0);
        std::memcpy(r1, e1, sizeof e1);
    }
    CKzMatrix w, v;
    a.Svd(w, v, true);
    if (!v.IsValid() || v.Rows() != 9 || v.Columns() != 9) return KZ_ERR_FAILED;
    for (unsigned k = 0; k < 9; ++k) m[k / 3][k % 3] = v[k][8];
    return KZ_OK;
}

} // namespace

SKzStageAlignment::SKzStageAlignment() { SetIdentity(m_dTransform); }

SKzStageAlignment::~SKzStageAlignment() = default;

kz_result SKzStageAlignment::CalculateMatrixFromSettings(double* residual)
{
    const size_t n = m_aCoordinates.size();
    if (n == 0) return KZ_ERR_FAILED;
    double m[3][3];
    kz_result r;
    try {
        switch (n) {
        case 1: r = FitTranslation(m_aCoordinates[0], m); break;
        case 2: r = FitSimilarity(m_aCoordinates[0], m_aCoordinates[1], m); break;
        case 3: r = FitAffine(m_aCoordinates.data(), m); break;
        case 4: r = FitProjective(m_aCoordinates.data(), m); break;
        default: r = FitLeastSquares(m_aCoordinates, m); break;
        }
    } catch (...) {
        r = KZ_ERR_OUT_OF_MEMORY;
    }
    if (r != KZ_OK) return r == KZ_ERR_OUT_OF_MEMORY ? r : KZ_ERR_FAILED;
    if (!AllFinite(m)) return KZ_ERR_FAILED;
    std::memcpy(m_dTransform, m, sizeof m);
    if (residual) *residual = 0.0;
    return KZ_OK;
}

kz_result SKzStageAlignment::SaveToLiteVariant(CKzLiteVariantW& w) const
{
    if (w.LevelBegin(L"SKzStageAlignment") != KZ_OK) return KZ_OK;
    if (!m_aCoordinates.empty() && w.LevelBegin(L"SKzCoordinates") == KZ_OK) {
        for (const Pair& p : m_aCoordinates) {
            if (w.LevelBegin(L"") != KZ_OK) break;
            w.Set(p.SrcX, L"SrcX");
            w.Set(p.SrcY, L"SrcY");
            w.Set(p.DstX, L"DstX");
            w.Set(p.DstY, L"DstY");
            w.LevelEnd();
        }
        w.LevelEnd();
    }
    w.LevelEnd();
    return KZ_OK;
}

kz_result SKzStageAlignment::LoadFromLiteVariant(CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"SKzStageAlignment") != KZ_OK) return KZ_OK;
    m_aCoordinates.clear();
    if (r.LevelBegin(L"SKzCoordinates") == KZ_OK) {
        r.FirstValue();
        // Bounded by the records present, not by any stored count.
        while (r.IsNextValue()) {
            if (r.CurrentLevelBegin() == KZ_OK) {
                Pair p;
                p.SrcX = r.Get(L"SrcX", 0.0);
                p.SrcY = r.Get(L"SrcY", 0.0);
                p.DstX = r.Get(L"DstX", 0.0);
                p.DstY = r.Get(L"DstY", 0.0);
                r.LevelEnd();
                try {
                    m_aCoordinates.push_back(p);
                } catch (...) {
                    break;
                }
            }
            if (r.NextValue() != KZ_OK) break;
        }
        r.LevelEnd();
    }
    r.LevelEnd();
    return KZ_OK;
}

kz_result ProjectiveTransform(CKzPointBase<double> pt, const double m[3][3], CKzPointBase<double>& result)
{
    if (!m) return KZ_ERR_INVALID_ARG;
    const double w = m[2][0] * pt.x + m[2][1] * pt.y + m[2][2];
    if (w == 0.0) return KZ_ERR_INVALID_ARG;
    result.x = (m[0][0] * pt.x + m[0][1] * pt.y + m[0][2]) / w;
    result.y = (m[1][0] * pt.x + m[1][1] * pt.y + m[1][2]) / w;
    return KZ_OK;
}

kz_result AdjustCameraMatrixForScanAreaRotation(double& m11, double& m12, double& m21, double& m22, double angle)
{
    if (angle == 0.0) return KZ_OK;
    const double s = std::sin(angle), c = std::cos(angle);
    const double a11 = c * m11 + s * m12, a12 = c * m12 - s * m11;
    const double a21 = c * m21 + s * m22, a22 = c * m22 - s * m21;
    m11 = a11, m12 = a12, m21 = a21, m22 = a22;
    return KZ_OK;
}

namespace {

// The item an XY-position level serves at a loop position: with item-valid
// flags the position counts valid items only. False when none matches.
bool XYItem(const SKzExperiment& level, u32 position, u32& item)
{
    const u32 n = level.uLoopPars.sXYPosLoop.uiCount;
    if (!level.pItemValid) {
        if (position >= n) return false;
        item = position;
        return true;
    }
    u32 k = 0;
    for (u32 i = 0; i < n; ++i) {
        if (!level.pItemValid[i]) continue;
        if (k == position) {
            item = i;
            return true;
        }
        ++k;
    }
    return false;
}

// The Julian day of a date-time moved by whole milliseconds; an absolute time
// that is no valid date-time is left as it is.
double MoveJulianDay(double jdn, kz_int64 ms)
{
    CKzDateTime t;
    t.Set(jdn);
    if (!t.IsValid()) return jdn;
    kz_int64 v;
    if (__builtin_add_overflow(t.GetValue(), ms, &v)) return jdn;
    CKzDateTime moved(v);
    return moved.GetJulianDayNumber();
}

} // namespace

kz_result FillLocalMetadata(const u32* positions, SKzPictureMetadata& md, const SKzExperiment* experiment,
                            double time, double x, double y, double z, bool useX, bool useY, bool useZ)
{
    const kz_int64 d = kzvariant::DoubleToI64(time - md.dTimeMSec);
    md.dTimeAbsolute = MoveJulianDay(md.dTimeAbsolute, d);
    md.dTimeMSec = time;

    if (experiment) {
        // The positions cover the levels of the path CalcPosFromIdx walks.
        const u32 levels = CKzExperimentAPI::GetExperimentCount(experiment);
        bool xyApplied = false;
        const SKzExperiment* level = experiment;
        for (u32 i = 0; i < levels && level; ++i) {
            const u32 pos = positions ? positions[i] : 0;
            if (level->eType == SKzExperiment::eExpXYPosLoop && !useX && !useY) {
                const SKzExperiment::SKzExpXYPosLoop& l = level->uLoopPars.sXYPosLoop;
                u32 item;
                if (XYItem(*level, pos, item)) {
                    if (l.dPosX) md.dXPos = l.dPosX[item] - (l.bRelativeXY ? l.dReferenceX : 0.0);
                    if (l.dPosY) md.dYPos = l.dPosY[item] - (l.bRelativeXY ? l.dReferenceY : 0.0);
                    if (l.bUseZ && l.dPosZ) md.dZPos = l.dPosZ[item];
                }
                xyApplied = true;
            } else if (level->eType == SKzExperiment::eExpZStackLoop && !useZ) {
                const SKzExperiment::SKzExpZStackLoop& l = level->uLoopPars.sZStackLoop;
                double step = l.dZStep;
                if (!(step > 0.0)) CKzExperimentAPI::GetZStackStepSize(level, &step);
                const bool down = l.iType > 3;
                if (xyApplied) {
                    u32 home = 0;
                    CKzExperimentAPI::GetZStackSizeMax(experiment, &home);
                    md.dZPos += (down ? 1.0 : -1.0) * (double)home * step;
                }
                md.dZPos += (down ? -1.0 : 1.0) * (double)pos * step;
            }
            level = CKzExperimentAPI::GetNextLevelExperiment(level, pos);
        }
    }
    if (useX) md.dXPos = x;
    if (useY) md.dYPos = y;
    if (useZ) md.dZPos = z;
    return KZ_OK;
}
