#include "gnr_metaformats/CKzOpticalFilterSpectrum.h"
#include "gnr_metaformats/KzMetaInternal.h"
#include "gnr_system/KzWavelengthColor.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

using PT = SKzOFSpectrumPoint;

const SKzOFSpectrumPoint CKzOpticalFilterSpectrum::m_sInvalid = {};
const double CKzOpticalFilterSpectrum::dWlEps = 1.0;

namespace {

bool IsSymEnd(const PT& p) { return p.eType == PT::eOFPointBandEnd || p.eType == PT::eOFPointLine; }
bool IsSymStart(const PT& p) { return p.eType == PT::eOFPointBandStart || p.eType == PT::eOFPointLine; }

PT* NewPoints(unsigned n)
{
    if (n == 0) return nullptr;
    return new (std::nothrow) PT[n]();
}

} // namespace

// ---- point persistence ------------------------------------------------------

kz_result SKzOFSpectrumPoint::SaveToVariant(CKzVariant& node, const SKzOFSpectrumPoint& p)
{
    kzmeta::BeginStruct(node, "RKzOFSpectrumPoint");
    node[L"eType"] = static_cast<unsigned int>(p.eType);
    node[L"dWavelength"] = p.dWavelength;
    node[L"dTValue"] = p.dTValue;
    return KZ_OK;
}

kz_result SKzOFSpectrumPoint::LoadFromVariant(SKzOFSpectrumPoint& p, const CKzVariant& node)
{
    if (!kzmeta::IsRunType(node, "RKzOFSpectrumPoint")) return KZ_ERR_INVALID_ARG;
    p.eType = static_cast<EKzOFSpectrumPointType>(node[L"eType"].GetKz_uint32());
    p.dTValue = node[L"dTValue"].GetDouble();
    p.dWavelength = node[L"dWavelength"].GetDouble();
    if (p.dWavelength == 0.0) p.dWavelength = node[L"uiWavelength"].GetDouble();
    return KZ_OK;
}

kz_result SKzOFSpectrumPoint::SaveToVariantNew(CKzLiteVariantW& w, const SKzOFSpectrumPoint& p)
{
    w.Set(static_cast<unsigned int>(p.eType), L"eType");
    w.Set(p.dWavelength, L"dWavelength");
    return w.Set(p.dTValue, L"dTValue");
}

kz_result SKzOFSpectrumPoint::LoadFromVariantNew(SKzOFSpectrumPoint& p, CKzLiteVariantR& r)
{
    p.eType = static_cast<EKzOFSpectrumPointType>(r.Get(L"eType", 0u));
    p.dWavelength = r.Get(L"dWavelength", 0.0);
    if (p.dWavelength == 0.0) p.dWavelength = static_cast<double>(r.Get(L"uiWavelength", 0));
    p.dTValue = r.Get(L"dTValue", 0.0);
    return KZ_OK;
}

// ---- construction -------------------------------------------------------------

CKzOpticalFilterSpectrum::CKzOpticalFilterSpectrum() : m_uiCount(0), m_pPoints(nullptr), bPoints(false) {}

CKzOpticalFilterSpectrum::CKzOpticalFilterSpectrum(unsigned int n) : m_uiCount(0), m_pPoints(nullptr), bPoints(false)
{
    Reset(n);
}

CKzOpticalFilterSpectrum::CKzOpticalFilterSpectrum(double* wavelengths, double* values, unsigned int n)
    : m_uiCount(0), m_pPoints(nullptr), bPoints(false)
{
    if (n == 0 || !wavelengths || !values || !Reset(n)) return;
    for (unsigned i = 0; i < n; ++i) {
        m_pPoints[i].eType = PT::eOFPointMeasured;
        m_pPoints[i].dWavelength = wavelengths[i];
        m_pPoints[i].dTValue = values[i];
    }
    bPoints = true;
}

CKzOpticalFilterSpectrum::CKzOpticalFilterSpectrum(double wavelength, SKzOFSpectrumPoint::EKzOFSpectrumPointType type)
    : m_uiCount(0), m_pPoints(nullptr), bPoints(false)
{
    if (!Reset(1)) return;
    m_pPoints[0].eType = type;
    m_pPoints[0].dWavelength = wavelength;
    m_pPoints[0].dTValue = 1.0;
    bPoints = type == PT::eOFPointMeasured;
}

CKzOpticalFilterSpectrum::CKzOpticalFilterSpectrum(const CKzOpticalFilterSpectrum& other)
    : m_uiCount(0), m_pPoints(nullptr), bPoints(other.bPoints)
{
    if (Reset(other.m_uiCount) && m_uiCount)
        std::memcpy(m_pPoints, other.m_pPoints, sizeof(PT) * m_uiCount);
}

CKzOpticalFilterSpectrum& CKzOpticalFilterSpectrum::operator=(const CKzOpticalFilterSpectrum& other)
{
    if (this == &other) return *this;
    PT* p = NewPoints(other.m_uiCount);
    if (other.m_uiCount && !p) return *this;   // out of memory: unchanged
    if (other.m_uiCount) std::memcpy(p, other.m_pPoints, sizeof(PT) * other.m_uiCount);
    delete[] m_pPoints;
    m_pPoints = p;
    m_uiCount = other.m_uiCount;
    bPoints = other.bPoints;
    return *this;
}

CKzOpticalFilterSpectrum::~CKzOpticalFilterSpectrum() { delete[] m_pPoints; }

bool CKzOpticalFilterSpectrum::Reset(unsigned int n)
{
    delete[] m_pPoints;
    m_pPoints = nullptr;
    m_uiCount = 0;
    if (n == 0) return true;
    m_pPoints = NewPoints(n);
    if (!m_pPoints) return false;
    m_uiCount = n;
    return true;
}

const SKzOFSpectrumPoint* CKzOpticalFilterSpectrum::GetPoint(unsigned int i) const
{
    return i < m_uiCount ? &m_pPoints[i] : &m_sInvalid;
}

// ---- editing ------------------------------------------------------------------

bool CKzOpticalFilterSpectrum::KindFits(const SKzOFSpectrumPoint& p) const
{
    if (m_uiCount == 0) return true;
    return (p.eType == PT::eOFPointMeasured) == bPoints;
}

kz_result CKzOpticalFilterSpectrum::AddPoint(SKzOFSpectrumPoint& p)
{
    return InsertPoint(p, m_uiCount);
}

kz_result CKzOpticalFilterSpectrum::InsertPoint(SKzOFSpectrumPoint& p, unsigned int index)
{
    if (index > m_uiCount || !KindFits(p) || m_uiCount == 0xFFFFFFFFu) return KZ_ERR_INVALID_ARG;
    PT* np = NewPoints(m_uiCount + 1);
    if (!np) return KZ_ERR_OUT_OF_MEMORY;
    const PT copy = p;   // p may be one of this spectrum's points
    if (index) std::memcpy(np, m_pPoints, sizeof(PT) * index);
    np[index] = copy;
    if (m_uiCount > index) std::memcpy(np + index + 1, m_pPoints + index, sizeof(PT) * (m_uiCount - index));
    if (m_uiCount == 0) bPoints = copy.eType == PT::eOFPointMeasured;
    delete[] m_pPoints;
    m_pPoints = np;
    ++m_uiCount;
    return KZ_OK;
}

kz_result CKzOpticalFilterSpectrum::RemovePoint(unsigned int index)
{
    if (index >= m_uiCount) return KZ_ERR_INVALID_ARG;
    std::memmove(m_pPoints + index, m_pPoints + index + 1, sizeof(PT) * (m_uiCount - index - 1));
    --m_uiCount;
    if (m_uiCount == 0) {
        delete[] m_pPoints;
        m_pPoints = nullptr;
    }
    return KZ_OK;
}

kz_result CKzOpticalFilterSpectrum::FindNearestPoint(double wavelength, unsigned int& index)
{
    if (m_uiCount == 0) return KZ_ERR_NOT_FOUND;
    if (!(wavelength >= m_pPoints[0].dWavelength && wavelength <= m_pPoints[m_uiCount - 1].dWavelength))
        return KZ_ERR_NOT_FOUND;
    unsigned best = 0;
    double bestD = 0;
    bool have = false;
    for (unsigned i = 0; i < m_uiCount; ++i) {
        const double d = (m_pPoints[i].dWavelength - wavelength) * (m_pPoints[i].dWavelength - wavelength);
        if (!have || d < bestD) {
            best = i;
            bestD = d;
            have = !std::isnan(d);
        }
    }
    index = best;
    return KZ_OK;
}

// ---- evaluation ---------------------------------------------------------------

kz_result CKzOpticalFilterSpectrum::GetPeakAndFwhm(double& peak, double& low, double& high) const
{
    const unsigned n = m_uiCount;
    const PT* p = m_pPoints;
    if (bPoints) {
        if (n == 0) return KZ_ERR_INVALID_ARG;
        unsigned a = 0;
        for (unsigned i = 1; i < n; ++i)
            if (p[i].dTValue > p[a].dTValue) a = i;
        const double mx = p[a].dTValue;
        unsigned b = a;
        while (b + 1 < n && p[b + 1].dTValue == mx) ++b;
        peak = (p[a].dWavelength + p[b].dWavelength) / 2;
        const double half = mx / 2;
        bool haveHigh = false, haveLow = false;
        double h = 0, l = 0;
        for (unsigned i = b; i < n; ++i)
            if (p[i].dTValue < half) {
                h = p[i].dWavelength;
                haveHigh = true;
                break;
            }
        for (unsigned i = a + 1; i-- > 0;)
            if (p[i].dTValue < half) {
                l = p[i].dWavelength;
                haveLow = true;
                break;
            }
        if (!haveHigh || !haveLow) return KZ_ERR_NOT_FOUND;
        low = l;
        high = h;
        return KZ_OK;
    }
    unsigned i = 0;
    while (i < n) {
        if (p[i].eType == PT::eOFPointBandStart) {
            if (i + 1 < n && p[i + 1].eType == PT::eOFPointBandEnd) {
                peak = (p[i].dWavelength + p[i + 1].dWavelength) / 2;
                low = p[i].dWavelength;
                high = p[i + 1].dWavelength;
                return KZ_OK;
            }
            i += 2;   // an unmatched start goes together with the point after it
            continue;
        }
        if (p[i].eType == PT::eOFPointLine) {
            peak = low = high = p[i].dWavelength;
            return KZ_OK;
        }
        ++i;
    }
    return KZ_ERR_NOT_FOUND;
}

unsigned int CKzOpticalFilterSpectrum::TabbedCount(bool ex) const
{
    if (bPoints || m_uiCount == 0) return m_uiCount;
    u64 n = 0;
    for (unsigned i = 0; i < m_uiCount; ++i) {
        switch (m_pPoints[i].eType) {
        case PT::eOFPointBandStart:
        case PT::eOFPointBandEnd: n += ex ? 1 : 2; break;
        case PT::eOFPointLine: n += 3; break;
        default: break;
        }
    }
    return n > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<unsigned>(n);
}

unsigned int CKzOpticalFilterSpectrum::GetTabbedPointCount() { return TabbedCount(false); }
unsigned int CKzOpticalFilterSpectrum::GetTabbedPointCountEx() { return TabbedCount(true); }

kz_result CKzOpticalFilterSpectrum::TabbedCurve(double* w, double* v, unsigned int capacity, bool ex) const
{
    if (!w || !v) return KZ_ERR_INVALID_ARG;
    if (bPoints || m_uiCount == 0) {
        const unsigned n = m_uiCount < capacity ? m_uiCount : capacity;
        for (unsigned i = 0; i < n; ++i) {
            w[i] = m_pPoints[i].dWavelength;
            v[i] = m_pPoints[i].dTValue;
        }
        return KZ_OK;
    }
    unsigned k = 0;
    auto put = [&](double wl, double val) {
        if (k < capacity) {
            w[k] = wl;
            v[k] = val;
            ++k;
        }
    };
    for (unsigned i = 0; i < m_uiCount && k < capacity; ++i) {
        const PT& p = m_pPoints[i];
        switch (p.eType) {
        case PT::eOFPointBandStart:
            if (ex) put(p.dWavelength, p.dTValue);
            else {
                put(p.dWavelength - dWlEps, 0);
                put(p.dWavelength, 100);
            }
            break;
        case PT::eOFPointBandEnd:
            if (ex) put(p.dWavelength, p.dTValue);
            else {
                put(p.dWavelength, 100);
                put(p.dWavelength + dWlEps, 0);
            }
            break;
        case PT::eOFPointLine:
            put(p.dWavelength - dWlEps, 0);
            put(p.dWavelength, 100);
            put(p.dWavelength + dWlEps, 0);
            break;
        default: break;
        }
    }
    return KZ_OK;
}

kz_result CKzOpticalFilterSpectrum::GetTabbedCurve(double* w, double* v, unsigned int capacity)
{
    return TabbedCurve(w, v, capacity, false);
}

kz_result CKzOpticalFilterSpectrum::GetTabbedCurveEx(double* w, double* v, unsigned int capacity)
{
    return TabbedCurve(w, v, capacity, true);
}

kz_result CKzOpticalFilterSpectrum::GetWavelenghtRange(double& low, double& high)
{
    if (m_uiCount == 0) return KZ_ERR_FAILED;
    const PT& f = m_pPoints[0];
    const PT& l = m_pPoints[m_uiCount - 1];
    low = f.dWavelength;
    high = l.dWavelength;
    if (!bPoints) {
        if (IsSymStart(f)) low -= dWlEps;
        if (IsSymEnd(l)) high += dWlEps;
    }
    return KZ_OK;
}

kz_result CKzOpticalFilterSpectrum::GetWavelenghtRangeExact(double& low, double& high)
{
    if (m_uiCount == 0) return KZ_ERR_FAILED;
    low = m_pPoints[0].dWavelength;
    high = m_pPoints[m_uiCount - 1].dWavelength;
    return KZ_OK;
}

CKzOpticalFilterSpectrum& CKzOpticalFilterSpectrum::Combine(CKzOpticalFilterSpectrum other, double maxGap, double* gap)
{
    if (m_uiCount == 0) {
        *this = other;
        if (gap) *gap = 0;
        return *this;
    }
    if (other.m_uiCount == 0) return *this;
    CKzOpticalFilterSpectrum a(*this);
    if (a.m_uiCount != m_uiCount) return *this;   // out of memory
    CKzOpticalFilterSpectrum result;
    PT* A = a.m_pPoints;
    PT* B = other.m_pPoints;
    const unsigned na = a.m_uiCount, nb = other.m_uiCount;
    bool insideA = A[0].eType == PT::eOFPointBandEnd;
    bool insideB = B[0].eType == PT::eOFPointBandEnd;
    unsigned i = 0, j = 0;
    while (i < na && j < nb) {
        if (gap) {
            double d = -1;
            bool have = false;
            if (A[i].dWavelength < B[j].dWavelength && IsSymEnd(A[i]) && IsSymStart(B[j])) {
                d = B[j].dWavelength - A[i].dWavelength;
                have = true;
            } else if (B[j].dWavelength < A[i].dWavelength && IsSymEnd(B[j]) && IsSymStart(A[i])) {
                d = A[i].dWavelength - B[j].dWavelength;
                have = true;
            }
            if (have && (*gap < 0 || *gap > d)) *gap = d;
        }
        if (maxGap > 0) {
            if (A[i].dWavelength < B[j].dWavelength && IsSymEnd(A[i]) && IsSymStart(B[j]) &&
                B[j].dWavelength - A[i].dWavelength <= maxGap)
                B[j].dWavelength = A[i].dWavelength - 1.0;
            if (B[j].dWavelength < A[i].dWavelength && IsSymEnd(B[j]) && IsSymStart(A[i]) &&
                A[i].dWavelength - B[j].dWavelength <= maxGap)
                A[i].dWavelength = B[j].dWavelength - 1.0;
        }
        const bool fromA = A[i].dWavelength < B[j].dWavelength;
        PT cur = fromA ? A[i] : B[j];
        if (fromA ? insideB : insideA) {
            if (maxGap > 0) cur.dWavelength += maxGap;
            result.AddPoint(cur);   // a point of the other kind than the first is dropped
            if (gap) *gap = 0;
        }
        bool& inside = fromA ? insideA : insideB;
        switch (cur.eType) {
        case PT::eOFPointBandStart: inside = true; break;
        case PT::eOFPointBandEnd: inside = false; break;
        case PT::eOFPointMeasured: inside = fromA ? i + 1 < na : j + 1 < nb; break;
        default: break;
        }
        if (fromA) ++i;
        else ++j;
    }
    if (!gap || *gap == 0) {
        // Swap in the result: no copy that could fail.
        std::swap(m_pPoints, result.m_pPoints);
        std::swap(m_uiCount, result.m_uiCount);
        bPoints = result.bPoints;
    }
    return *this;
}

CKzOpticalFilterSpectrum& CKzOpticalFilterSpectrum::Combine(CKzOpticalFilterSpectrum& other, bool bridge)
{
    double gap = -1.0;
    CKzOpticalFilterSpectrum copy(*this);
    copy.Combine(CKzOpticalFilterSpectrum(other), 0.0, &gap);
    if (bridge && gap > 0) return Combine(CKzOpticalFilterSpectrum(other), gap, nullptr);
    *this = copy;
    return *this;
}

kz_result CKzOpticalFilterSpectrum::GetRGBColor(unsigned int& colour)
{
    if (m_uiCount == 0) {
        colour = 0;
        return KZ_OK;
    }
    if (!bPoints) return KZ_ERR_NOT_SUPPORTED;
    double r = 0, g = 0, b = 0, sum = 0;
    for (unsigned i = 0; i < m_uiCount; ++i) {
        unsigned int c = 0;
        KZ_RGBFromWavelength(&c, m_pPoints[i].dWavelength);
        const double v = m_pPoints[i].dTValue;
        r += (c & 0xFF) * v;
        g += ((c >> 8) & 0xFF) * v;
        b += ((c >> 16) & 0xFF) * v;
        sum += v;
    }
    if (!(sum > 0) || !std::isfinite(sum)) {
        colour = 0;
        return KZ_OK;
    }
    auto channel = [sum](double x) -> unsigned {
        const double q = std::trunc(x / sum);
        if (!(q > 0)) return 0;
        return q >= 255 ? 255u : static_cast<unsigned>(q);
    };
    colour = channel(r) | channel(g) << 8 | channel(b) << 16;
    return KZ_OK;
}

namespace {

// Integral over [a, b] of the product of two linear functions given by their
// values at both ends.
inline double LinearProduct(double a, double b, double fa, double fb, double ga, double gb)
{
    const double h = b - a;
    const double df = fb - fa, dg = gb - ga;
    // f(a + t h) g(a + t h) = fa ga + (fa dg + df ga) t + df dg t^2, t in [0, 1]
    return h * (fa * ga + (fa * dg + df * ga) / 2 + df * dg / 3);
}

double Compand(double v)
{
    return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

} // namespace

kz_result CKzOpticalFilterSpectrum::GetsRGBColor(unsigned int& colour)
{
    if (m_uiCount == 0) {
        colour = 0;
        return KZ_OK;
    }
    if (!bPoints) return KZ_ERR_NOT_SUPPORTED;
    const double(*cie)[4] = g_adCIE1931_2deg_1nm;
    const int rows = 471;
    const double first = cie[0][0], last = cie[rows - 1][0];
    double X = 0, Y = 0, Z = 0;
    for (unsigned k = 0; k + 1 < m_uiCount; ++k) {
        const double w0 = m_pPoints[k].dWavelength, w1 = m_pPoints[k + 1].dWavelength;
        const double t0 = m_pPoints[k].dTValue, t1 = m_pPoints[k + 1].dTValue;
        if (!std::isfinite(w0) || !std::isfinite(w1) || !(w0 < w1)) continue;
        const double lo = w0 > first ? w0 : first;
        const double hi = w1 < last ? w1 : last;
        if (!(lo < hi)) continue;
        auto T = [&](double x) { return t0 + (t1 - t0) * (x - w0) / (w1 - w0); };
        int row = static_cast<int>(std::floor(lo - first));
        if (row < 0) row = 0;
        if (row > rows - 2) row = rows - 2;
        for (; row < rows - 1; ++row) {
            const double r0 = cie[row][0], r1 = cie[row + 1][0];
            const double a = lo > r0 ? lo : r0;
            const double b = hi < r1 ? hi : r1;
            if (a >= hi) break;
            if (!(a < b)) continue;
            const double ta = T(a), tb = T(b);
            const double u = (a - r0) / (r1 - r0), v = (b - r0) / (r1 - r0);
            double ca[3], cb[3];
            for (int c = 0; c < 3; ++c) {
                ca[c] = cie[row][c + 1] + (cie[row + 1][c + 1] - cie[row][c + 1]) * u;
                cb[c] = cie[row][c + 1] + (cie[row + 1][c + 1] - cie[row][c + 1]) * v;
            }
            X += LinearProduct(a, b, ta, tb, ca[0], cb[0]);
            Y += LinearProduct(a, b, ta, tb, ca[1], cb[1]);
            Z += LinearProduct(a, b, ta, tb, ca[2], cb[2]);
        }
    }
    double rgb[3] = {
        3.24071 * X - 1.53726 * Y - 0.498571 * Z,
        -0.969258 * X + 1.87599 * Y + 0.0415557 * Z,
        0.0556352 * X - 0.203996 * Y + 1.05707 * Z,
    };
    for (double& c : rgb) c = Compand(c);
    double mx = rgb[0];
    if (rgb[1] > mx) mx = rgb[1];
    if (rgb[2] > mx) mx = rgb[2];
    if (!(mx > 0) || !std::isfinite(mx)) {
        colour = 0;
        return KZ_OK;
    }
    unsigned bytes[3];
    for (int c = 0; c < 3; ++c) {
        double v = rgb[c] / mx;
        if (!(v > 0)) v = 0;
        if (v > 1) v = 1;
        bytes[c] = static_cast<unsigned>(static_cast<int>(v * 255 + 0.5));
    }
    colour = bytes[0] | bytes[1] << 8 | bytes[2] << 16;
    return KZ_OK;
}

// ---- spectrum persistence -----------------------------------------------------

kz_result CKzOpticalFilterSpectrum::SaveToVariant(CKzVariant& node, const CKzOpticalFilterSpectrum& s)
{
    kzmeta::BeginStruct(node, "RKzOpticalFilterSpectrum");
    node[L"uiCount"] = s.m_uiCount;
    CKzVariant& list = kzmeta::ListMember(node, L"pPoint");
    wchar_t name[32];
    if (s.m_uiCount == 0) {
        SKzOFSpectrumPoint::SaveToVariant(kzmeta::AppendChild(list, L"Point0"), m_sInvalid);
    }
    for (unsigned i = 0; i < s.m_uiCount; ++i) {
        swprintf(name, 32, L"Point%u", i);
        if (SKzOFSpectrumPoint::SaveToVariant(kzmeta::AppendChild(list, name), s.m_pPoints[i]) != KZ_OK)
            kzmeta::Failure(__LINE__);
    }
    node[L"bPoints"] = s.bPoints;
    return KZ_OK;
}

kz_result CKzOpticalFilterSpectrum::LoadFromVariant(CKzOpticalFilterSpectrum& s, const CKzVariant& node)
{
    if (!kzmeta::IsRunType(node, "RKzOpticalFilterSpectrum")) return KZ_ERR_INVALID_ARG;
    s.Reset(0);
    const unsigned stored = node[L"uiCount"].GetKz_uint32();
    const CKzVariant& list = node[L"pPoint"];
    const int children = list.GetCount();
    if (stored != 0 && children > 0 && s.Reset(static_cast<unsigned>(children))) {
        for (int i = 0; i < children; ++i) {
            const CKzVariant* c = list.IndexPtr(i);
            if (!c || SKzOFSpectrumPoint::LoadFromVariant(s.m_pPoints[i], *c) != KZ_OK) {
                s.m_pPoints[i] = SKzOFSpectrumPoint();
                kzmeta::Failure(__LINE__);
            }
        }
    }
    s.bPoints = node[L"bPoints"].GetBool();
    return KZ_OK;
}

kz_result CKzOpticalFilterSpectrum::SaveToVariantNew(CKzLiteVariantW& w, const CKzOpticalFilterSpectrum& s)
{
    w.Set(s.m_uiCount, L"uiCount");
    if (w.LevelBegin(L"pPoint") == KZ_OK) {
        wchar_t name[32];
        for (unsigned i = 0; i < s.m_uiCount; ++i) {
            swprintf(name, 32, L"Point%u", i);
            if (w.LevelBegin(name) != KZ_OK) {
                kzmeta::Failure(__LINE__);
                continue;
            }
            SKzOFSpectrumPoint::SaveToVariantNew(w, s.m_pPoints[i]);
            w.LevelEnd();
        }
        w.LevelEnd();
    }
    return w.Set(s.bPoints, L"bPoints");
}

kz_result CKzOpticalFilterSpectrum::LoadFromVariantNew(CKzOpticalFilterSpectrum& s, CKzLiteVariantR& r)
{
    s.Reset(0);
    const unsigned stored = r.Get(L"uiCount", 0u);
    if (stored != 0 && r.LevelBegin(L"pPoint") == KZ_OK) {
        const unsigned present = kzmeta::CountRecords(r);
        const unsigned n = stored < present ? stored : present;
        if (n && s.Reset(n)) {
            for (unsigned i = 0; i < n && r.IsNextValue(); ++i) {
                if (r.CurrentLevelBegin() == KZ_OK) {
                    SKzOFSpectrumPoint::LoadFromVariantNew(s.m_pPoints[i], r);
                    r.LevelEnd();
                }
                if (r.NextValue() != KZ_OK) break;
            }
        }
        r.LevelEnd();
    }
    s.bPoints = r.Get(L"bPoints", false);
    return KZ_OK;
}
