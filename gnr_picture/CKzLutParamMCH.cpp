// LUT parameter classes of multichannel and true-colour pictures.
#include "gnr_picture/CKzLutParam.h"

#include "gnr_picture/KzLutParamLite.h"
#include "gnr_system/CKzLiteVariant.h"

#include <algorithm>
#include <new>

using kzlutparam::FullValue;
using kzlutparam::Rescale;

namespace {

bool BitsOk(unsigned bits) { return bits >= 8 && bits <= 31; }

template <class T>
T* NewArray(unsigned n)
{
    return n ? new (std::nothrow) T[n]() : nullptr;
}

template <class T>
bool Dup(T*& out, const T* src, unsigned n)
{
    out = nullptr;
    if (!n || !src) return true;
    out = new (std::nothrow) T[n];
    if (!out) return false;
    std::copy(src, src + n, out);
    return true;
}

} // namespace

// ---- CKzLutParamMCH -------------------------------------------------------------

CKzLutParamMCH::CKzLutParamMCH() { Init(); }

CKzLutParamMCH::CKzLutParamMCH(unsigned channels, unsigned comps, unsigned* compSizes, unsigned bits)
{
    Init();
    Reinit(channels, comps, compSizes, bits);
}

CKzLutParamMCH::CKzLutParamMCH(const CKzLutParamMCH& other)
{
    Init();
    *this = other;
}

CKzLutParamMCH::~CKzLutParamMCH() { Free(); }

void CKzLutParamMCH::Init()
{
    m_uiBpc = m_uiChannelCount = m_uiCompCount = 0;
    m_puiComp = m_puiMin = m_puiMax = nullptr;
    m_pdGamma = nullptr;
    m_eOutside = eLutOutsideClamp;
    m_iGradient = 0;
}

void CKzLutParamMCH::Free()
{
    delete[] m_puiComp;
    delete[] m_puiMin;
    delete[] m_puiMax;
    delete[] m_pdGamma;
    m_puiComp = m_puiMin = m_puiMax = nullptr;
    m_pdGamma = nullptr;
    m_uiChannelCount = m_uiCompCount = 0;
}

CKzLutParamMCH& CKzLutParamMCH::operator=(const CKzLutParamMCH& o)
{
    if (this == &o) return *this;
    const unsigned n = o.m_uiChannelCount;
    unsigned *comp, *mn, *mx;
    double* g;
    // Every copy is attempted (each result is released below either way).
    const bool ok = (int(Dup(comp, o.m_puiComp, n)) & int(Dup(mn, o.m_puiMin, n)) & int(Dup(mx, o.m_puiMax, n)) &
                     int(Dup(g, o.m_pdGamma, n))) != 0;
    Free();
    m_uiBpc = o.m_uiBpc;
    m_eOutside = o.m_eOutside;
    m_iGradient = o.m_iGradient;
    if (!ok) {
        delete[] comp, delete[] mn, delete[] mx, delete[] g;
        return *this;  // no memory: the object is left empty
    }
    m_puiComp = comp, m_puiMin = mn, m_puiMax = mx, m_pdGamma = g;
    m_uiChannelCount = n;
    m_uiCompCount = o.m_uiCompCount;
    return *this;
}

int CKzLutParamMCH::Reinit(unsigned n, unsigned c, unsigned* s, unsigned b)
{
    if (!BitsOk(b) || n > kMaxCounts || c > kMaxCounts) return KZ_ERR_FAILED;
    if (s && c != 0) {
        u64 sum = 0;
        for (unsigned k = 0; k < n; ++k) sum += s[k];
        if (sum != c) return KZ_ERR_FAILED;
    }
    unsigned* mn = NewArray<unsigned>(n);
    unsigned* mx = NewArray<unsigned>(n);
    double* g = NewArray<double>(n);
    const bool newCounts = c != m_uiCompCount || n != m_uiChannelCount;
    unsigned* counts = newCounts ? NewArray<unsigned>(n) : m_puiComp;
    if (n && (!mn || !mx || !g || !counts)) {
        delete[] mn, delete[] mx, delete[] g;
        if (newCounts) delete[] counts;
        return KZ_ERR_FAILED;
    }
    if (s)
        for (unsigned k = 0; k < n; ++k) counts[k] = s[k];
    const unsigned keep = m_uiBpc ? std::min(m_uiChannelCount, n) : 0;
    for (unsigned k = 0; k < n; ++k) {
        if (k < keep) {
            mn[k] = Rescale(m_puiMin[k], m_uiBpc, b);
            mx[k] = Rescale(m_puiMax[k], m_uiBpc, b);
            g[k] = m_pdGamma[k];
        } else {
            mn[k] = 0;
            mx[k] = FullValue(b);
            g[k] = 1.0;
        }
    }
    delete[] m_puiMin;
    delete[] m_puiMax;
    delete[] m_pdGamma;
    m_puiMin = mn, m_puiMax = mx, m_pdGamma = g;
    if (newCounts) {
        delete[] m_puiComp;
        m_puiComp = counts;
        m_uiCompCount = c;
    }
    m_uiChannelCount = n;
    m_uiBpc = b;
    return KZ_OK;
}

bool CKzLutParamMCH::CompareWith(const CKzLutParamMCH& o) const
{
    if (m_uiBpc != o.m_uiBpc || m_uiChannelCount != o.m_uiChannelCount || m_uiCompCount != o.m_uiCompCount ||
        m_iGradient != o.m_iGradient || m_eOutside != o.m_eOutside)
        return false;
    for (unsigned k = 0; k < m_uiChannelCount; ++k) {
        if (GetMin(k) != o.GetMin(k) || GetMax(k) != o.GetMax(k) || GetGamma(k) != o.GetGamma(k)) return false;
        if (m_puiComp && o.m_puiComp && m_puiComp[k] != o.m_puiComp[k]) return false;
    }
    return true;
}

int CKzLutParamMCH::GetComponentSizes(unsigned** out) const
{
    if (!out) return KZ_ERR_FAILED;
    *out = m_puiComp;
    return KZ_OK;
}

unsigned CKzLutParamMCH::GetMin(unsigned ch) const { return ch < m_uiChannelCount && m_puiMin ? m_puiMin[ch] : 0; }

unsigned CKzLutParamMCH::GetMax(unsigned ch) const
{
    return ch < m_uiChannelCount && m_puiMax ? m_puiMax[ch] : FullValue(m_uiBpc);
}

double CKzLutParamMCH::GetGamma(unsigned ch) const
{
    return ch < m_uiChannelCount && m_pdGamma ? m_pdGamma[ch] : 1.0;
}

int CKzLutParamMCH::SetMin(unsigned ch, unsigned value)
{
    if (ch >= m_uiChannelCount || !m_puiMin) return KZ_ERR_FAILED;
    m_puiMin[ch] = std::min(value, FullValue(m_uiBpc));
    return KZ_OK;
}

int CKzLutParamMCH::SetMax(unsigned ch, unsigned value)
{
    if (ch >= m_uiChannelCount || !m_puiMax) return KZ_ERR_FAILED;
    m_puiMax[ch] = std::min(value, FullValue(m_uiBpc));
    return KZ_OK;
}

int CKzLutParamMCH::SetGamma(unsigned ch, double gamma)
{
    if (ch >= m_uiChannelCount || !m_pdGamma) return KZ_ERR_FAILED;
    m_pdGamma[ch] = gamma;
    return KZ_OK;
}

int CKzLutParamMCH::SetGradient(int gradient)
{
    m_iGradient = gradient;
    return KZ_OK;
}

int CKzLutParamMCH::SetOutside(EKzLutOutside outside)
{
    m_eOutside = outside;
    return KZ_OK;
}

bool CKzLutParamMCH::IsUnit() const
{
    if (!m_uiChannelCount || !m_puiMin || !m_puiMax || !m_pdGamma) return true;
    for (unsigned k = 0; k < m_uiChannelCount; ++k)
        if (m_puiMin[k] != 0 || m_puiMax[k] != FullValue(m_uiBpc) || m_pdGamma[k] != 1.0) return false;
    return true;
}

void CKzLutParamMCH::SetUnit()
{
    if (!m_puiMin || !m_puiMax || !m_pdGamma) return;
    for (unsigned k = 0; k < m_uiChannelCount; ++k) {
        m_puiMin[k] = 0;
        m_puiMax[k] = FullValue(m_uiBpc);
        m_pdGamma[k] = 1.0;
    }
}

int CKzLutParamMCH::SaveToLiteVariant(CKzLiteVariantW& w) const
{
    if (w.LevelBegin(L"CKzLutParamMCH") != KZ_OK) return KZ_ERR_FAILED;
    w.Set(1, L"version");
    w.Set(m_uiChannelCount, L"m_uiChannelCount");
    w.Set(m_uiCompCount, L"m_uiCompCount");
    for (unsigned k = 0; k < m_uiChannelCount; ++k) {
        if (w.LevelBegin(L"") != KZ_OK) continue;
        w.Set(m_puiComp ? m_puiComp[k] : 0u, L"puiComp");
        w.LevelEnd();
    }
    w.Set(m_uiBpc, L"m_uiBpc");
    for (unsigned k = 0; k < m_uiChannelCount; ++k) {
        if (w.LevelBegin(L"") != KZ_OK) continue;
        w.Set(GetMin(k), L"uiMin");
        w.Set(GetMax(k), L"uiMax");
        w.Set(GetGamma(k), L"dGamma");
        w.LevelEnd();
    }
    w.LevelEnd();
    return KZ_OK;
}

int CKzLutParamMCH::LoadFromLiteVariant(CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"CKzLutParamMCH") != KZ_OK) return KZ_ERR_FAILED;
    const unsigned n = r.Get(L"m_uiChannelCount", 0u);
    const unsigned bits = r.Get(L"m_uiBpc", 0u);
    const unsigned c = r.Get(L"m_uiCompCount", 0u);
    if (n > kMaxCounts) {
        r.LevelEnd();
        return KZ_ERR_FAILED;
    }
    unsigned counts[kMaxCounts] = {};
    kzlutparam::ForEachUnnamedLevel(r, [&](unsigned i) {
        if (i >= n) return false;
        counts[i] = r.Get(L"puiComp", 0u);
        return true;
    });
    if (Reinit(n, c, counts, bits) != KZ_OK) {
        r.LevelEnd();
        return KZ_ERR_FAILED;
    }
    const unsigned full = FullValue(bits);
    kzlutparam::ForEachUnnamedLevel(r, [&](unsigned i) {
        if (i < n) return true;
        const unsigned k = i - n;
        if (k >= n) return false;
        m_puiMin[k] = r.Get(L"uiMin", 0u);
        m_puiMax[k] = r.Get(L"uiMax", full);
        m_pdGamma[k] = r.Get(L"dGamma", 1.0);
        return true;
    });
    r.LevelEnd();
    return KZ_OK;
}

// ---- CKzLutParamRGB ---------------------------------------------------------------

CKzLutParamRGB::CKzLutParamRGB() { Init(); }

CKzLutParamRGB::CKzLutParamRGB(unsigned bits)
{
    Init();
    Reinit(bits);
}

void CKzLutParamRGB::Init()
{
    m_uiBpc = 0;
    for (int i = 0; i < 3; ++i) {
        m_uiMin[i] = m_uiMax[i] = m_uiMaxDst[i] = 0;
        m_dGamma[i] = 1.0;
    }
}

void CKzLutParamRGB::Free() { m_uiBpc = 0; }

int CKzLutParamRGB::Reinit(unsigned b)
{
    if (m_uiBpc == 0) {
        for (int i = 0; i < 3; ++i) {
            m_uiMin[i] = 0;
            m_uiMax[i] = m_uiMaxDst[i] = FullValue(b);
            m_dGamma[i] = 1.0;
        }
    }
    if (!BitsOk(b)) return KZ_ERR_FAILED;
    if (m_uiBpc != 0 && m_uiBpc != b) {
        for (int i = 0; i < 3; ++i) {
            m_uiMin[i] = Rescale(m_uiMin[i], m_uiBpc, b);
            m_uiMax[i] = Rescale(m_uiMax[i], m_uiBpc, b);
            m_uiMaxDst[i] = Rescale(m_uiMaxDst[i], m_uiBpc, b);
        }
    }
    m_uiBpc = b;
    return KZ_OK;
}

bool CKzLutParamRGB::CompareWith(const CKzLutParamRGB& o) const
{
    if (m_uiBpc != o.m_uiBpc) return false;
    for (int i = 0; i < 3; ++i)
        if (m_uiMin[i] != o.m_uiMin[i] || m_uiMax[i] != o.m_uiMax[i] || m_uiMaxDst[i] != o.m_uiMaxDst[i] ||
            m_dGamma[i] != o.m_dGamma[i])
            return false;
    return true;
}

unsigned CKzLutParamRGB::GetMin(unsigned i) const { return i < 3 ? m_uiMin[i] : 0; }
unsigned CKzLutParamRGB::GetMax(unsigned i) const { return i < 3 ? m_uiMax[i] : FullValue(m_uiBpc); }
unsigned CKzLutParamRGB::GetMaxDst(unsigned i) const { return i < 3 ? m_uiMaxDst[i] : FullValue(m_uiBpc); }

unsigned CKzLutParamRGB::GetMaxDst(unsigned i, unsigned bits) const
{
    const u32 full = FullValue(bits);
    const u32 own = FullValue(m_uiBpc);
    if (i > 2 || own == 0) return full;
    return kzlutparam::RoundU32(double(full) * (double(m_uiMaxDst[i]) / double(own)));
}

double CKzLutParamRGB::GetGamma(unsigned i) const { return i < 3 ? m_dGamma[i] : 1.0; }

int CKzLutParamRGB::SetMin(unsigned i, unsigned v)
{
    if (i > 2) return KZ_ERR_FAILED;
    m_uiMin[i] = std::min(v, FullValue(m_uiBpc));
    return KZ_OK;
}

int CKzLutParamRGB::SetMax(unsigned i, unsigned v)
{
    if (i > 2) return KZ_ERR_FAILED;
    m_uiMax[i] = std::min(v, FullValue(m_uiBpc));
    return KZ_OK;
}

int CKzLutParamRGB::SetMaxDst(unsigned i, unsigned v)
{
    if (i > 2) return KZ_ERR_FAILED;
    m_uiMaxDst[i] = std::min(v, FullValue(m_uiBpc));
    return KZ_OK;
}

int CKzLutParamRGB::SetGamma(unsigned i, double g)
{
    if (i > 2) return KZ_ERR_FAILED;
    m_dGamma[i] = g;
    return KZ_OK;
}

bool CKzLutParamRGB::IsUnit() const
{
    for (int i = 0; i < 3; ++i)
        if (m_uiMin[i] != 0 || m_uiMax[i] != FullValue(m_uiBpc) || m_uiMaxDst[i] != m_uiMax[i] || m_dGamma[i] != 1.0)
            return false;
    return true;
}

void CKzLutParamRGB::SetUnit()
{
    for (int i = 0; i < 3; ++i) {
        m_uiMin[i] = 0;
        m_uiMax[i] = m_uiMaxDst[i] = FullValue(m_uiBpc);
        m_dGamma[i] = 1.0;
    }
}

int CKzLutParamRGB::SaveToLiteVariant(CKzLiteVariantW& w) const
{
    if (w.LevelBegin(L"CKzLutParamRGB") != KZ_OK) return KZ_ERR_FAILED;
    w.Set(1, L"version");
    w.Set(m_uiBpc, L"m_uiBpc");
    for (int i = 0; i < 3; ++i) {
        if (w.LevelBegin(L"") != KZ_OK) continue;
        w.Set(m_uiMin[i], L"uiMin");
        w.Set(m_uiMax[i], L"uiMax");
        w.Set(m_dGamma[i], L"dGamma");
        w.LevelEnd();
    }
    w.LevelEnd();
    return KZ_OK;
}

int CKzLutParamRGB::LoadFromLiteVariant(CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"CKzLutParamRGB") != KZ_OK) return KZ_ERR_FAILED;
    const unsigned bits = r.Get(L"m_uiBpc", 0u);
    // Stored bits this class refuses leave the object as it was.
    if (!BitsOk(bits)) {
        r.LevelEnd();
        return KZ_ERR_FAILED;
    }
    Reinit(bits);
    const unsigned full = FullValue(m_uiBpc);
    kzlutparam::ForEachUnnamedLevel(r, [&](unsigned i) {
        if (i >= 3) return false;
        m_uiMin[i] = r.Get(L"uiMin", 0u);
        m_uiMax[i] = r.Get(L"uiMax", full);
        m_dGamma[i] = r.Get(L"dGamma", 1.0);
        return true;
    });
    r.LevelEnd();
    return KZ_OK;
}
