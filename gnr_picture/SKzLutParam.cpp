// LUT parameters: ranges, per-component refinements, comparison and the
// variant form.
#include "gnr_picture/SKzLutParam.h"

#include "gnr_picture/KzKernelCommon.h"
#include "gnr_system/CKzRangeMask.h"
#include "gnr_system/CKzVariant.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace {

constexpr u32 kMax = SKzLutParam::kMaxComponents;
using Spectral_t = SKzLutParam::SKzLUTDataSpectral;
constexpr double kF = 1.5259021896696422e-05;  // 1 / 65535

// 2^bits - 1 as a double (bits beyond 63 as 2^64 - 1).
double Full(u32 bits) { return bits >= 64 ? 18446744073709551615.0 : double((u64(1) << bits) - 1); }

// trunc(x + 0.5), clamped to the unsigned 32-bit range.
u32 Round(double x)
{
    const i64 v = KzTruncToInt64(x + 0.5);
    return u32(std::clamp<i64>(v, 0, i64(UINT32_MAX)));
}

u32 Trunc(double x) { return u32(std::clamp<i64>(KzTruncToInt64(x), 0, i64(UINT32_MAX))); }

// A 16-bit fraction from x of full scale: trunc(x * 65535), clamped.
u16 Fraction(double x) { return u16(std::clamp<i64>(KzTruncToInt64(x * 65535), 0, 65535)); }

double Clamp01(double x) { return x < 0.0 ? 0.0 : x > 1.0 ? 1.0 : x; }

// Effective low end of a component fraction c within the global lo..hi.
double EffMin(u16 c, u16 lo, u16 hi) { return Clamp01((c * kF * (double(hi) - double(lo)) + lo) * kF); }
double EffMax(u16 c, u16 lo, u16 hi)
{
    return Clamp01((double(hi) - (65535.0 - c) * (double(hi) - double(lo)) * kF) * kF);
}

bool GammaClose(double a, double b) { return std::fabs(a - b) <= 0.001; }

const SKzCompLutParam kDefaultComp;

} // namespace

SKzCompLutParam::SKzCompLutParam()
    : uiMinSrc(0), uiMaxSrc(65535), dGammaSrc(1.0), uiMinDst(0), uiMaxDst(65535), uiGroup(0), fMinSrc(0.0f),
      fMaxSrc(1.0f)
{
}

SKzRatioDesc::SKzRatioDesc() : uiNumer(0), uiDenom(0), uiNumOffset(0), uiDenOffset(0), dMin(0.0), dMax(2.0) {}

SKzLutParam::SKzLutParam()
    : uiGradient(0), uiOutside(0), sLutDataSpectral(this), uiMinSrc(0), uiMaxSrc(65535), dGammaSrc(1.0),
      uiMinDst(0), uiMaxDst(65535), bFloatSrc(false), fMinSrc(0.0f), fMaxSrc(1.0f), bColorOverExp(false),
      uiOverExpColor(255), bColorUnderExp(false), uiUnderExpColor(0), uiColorSpace(0), uiRepresentation(0),
      uiLutComponentCount(0)
{
}

SKzLutParam::SKzLutParam(const SKzLutParam& other) : SKzLutParam() { *this = other; }

SKzLutParam& SKzLutParam::operator=(const SKzLutParam& other)
{
    if (this == &other) return *this;
    uiGradient = other.uiGradient;
    uiOutside = other.uiOutside;
    sLutDataSpectral = other.sLutDataSpectral;  // keeps its owner
    uiMinSrc = other.uiMinSrc;
    uiMaxSrc = other.uiMaxSrc;
    dGammaSrc = other.dGammaSrc;
    uiMinDst = other.uiMinDst;
    uiMaxDst = other.uiMaxDst;
    bFloatSrc = other.bFloatSrc;
    fMinSrc = other.fMinSrc;
    fMaxSrc = other.fMaxSrc;
    std::copy(other.sCompLutParam, other.sCompLutParam + kMax, sCompLutParam);
    bColorOverExp = other.bColorOverExp;
    uiOverExpColor = other.uiOverExpColor;
    bColorUnderExp = other.bColorUnderExp;
    uiUnderExpColor = other.uiUnderExpColor;
    uiColorSpace = other.uiColorSpace;
    uiRepresentation = other.uiRepresentation;
    uiLutComponentCount = other.uiLutComponentCount;
    return *this;
}

int SKzLutParam::CompatibleCopy(const SKzLutParam& other)
{
    if (uiColorSpace == other.uiColorSpace && uiRepresentation == other.uiRepresentation &&
        uiLutComponentCount == other.uiLutComponentCount &&
        sLutDataSpectral.uiCompCount == other.sLutDataSpectral.uiCompCount)
        *this = other;
    sLutDataSpectral.GetAllGroupCount(nullptr, true);
    return KZ_OK;
}

void SKzLutParam::PartialCopyIndependendOnEnable(const SKzLutParam& other)
{
    bColorOverExp = other.bColorOverExp;
    uiOverExpColor = other.uiOverExpColor;
    bColorUnderExp = other.bColorUnderExp;
    uiUnderExpColor = other.uiUnderExpColor;
    uiGradient = other.uiGradient;
    uiOutside = other.uiOutside;
}

void SKzLutParam::Init(u32 colourSpace, u32 representation, u32 lutComps, u32 comps)
{
    uiColorSpace = colourSpace;
    uiRepresentation = representation;
    if (colourSpace == 1) {
        uiLutComponentCount = 1;
        sLutDataSpectral.uiCompCount = 1;
    } else {
        uiLutComponentCount = std::min(lutComps, kMax);
        sLutDataSpectral.uiCompCount = std::min(comps, kMax);
    }
}

const SKzCompLutParam& SKzLutParam::comp(u32 i) const { return i < kMax ? sCompLutParam[i] : kDefaultComp; }

// ---- global ranges ----------------------------------------------------------

double SKzLutParam::GetMinSrcDbl() const { return bFloatSrc ? fMinSrc : uiMinSrc * kF; }
double SKzLutParam::GetMaxSrcDbl() const { return bFloatSrc ? fMaxSrc : uiMaxSrc * kF; }
u32 SKzLutParam::GetMinSrc(u32 bits) const { return bFloatSrc ? Trunc(fMinSrc) : Round(uiMinSrc * kF * Full(bits)); }
u32 SKzLutParam::GetMaxSrc(u32 bits) const { return bFloatSrc ? Trunc(fMaxSrc) : Round(uiMaxSrc * kF * Full(bits)); }

void SKzLutParam::SetMinSrcDbl(double x)
{
    if (bFloatSrc)
        fMinSrc = float(x);
    else
        uiMinSrc = Fraction(x);
}

void SKzLutParam::SetMaxSrcDbl(double x)
{
    if (bFloatSrc)
        fMaxSrc = float(x);
    else
        uiMaxSrc = Fraction(x);
}

double SKzLutParam::GetMinDstDbl() const { return uiMinDst * kF; }
double SKzLutParam::GetMaxDstDbl() const { return uiMaxDst * kF; }
u32 SKzLutParam::GetMinDst(u32 bits) const { return Round(uiMinDst * kF * Full(bits)); }
u32 SKzLutParam::GetMaxDst(u32 bits) const { return Round(uiMaxDst * kF * Full(bits)); }
void SKzLutParam::SetMinDstDbl(double x) { uiMinDst = Fraction(x); }
void SKzLutParam::SetMaxDstDbl(double x) { uiMaxDst = Fraction(x); }

// ---- a component's own values ------------------------------------------------

double SKzLutParam::GetCompMinSrcDbl(u32 i) const { return bFloatSrc ? comp(i).fMinSrc : comp(i).uiMinSrc * kF; }
double SKzLutParam::GetCompMaxSrcDbl(u32 i) const { return bFloatSrc ? comp(i).fMaxSrc : comp(i).uiMaxSrc * kF; }

u32 SKzLutParam::GetCompMinSrc(u32 i, u32 bits) const
{
    return Round(GetCompMinSrcDbl(i) * (bFloatSrc ? double(fMaxSrc) : Full(bits)));
}

u32 SKzLutParam::GetCompMaxSrc(u32 i, u32 bits) const
{
    return Round(GetCompMaxSrcDbl(i) * (bFloatSrc ? double(fMaxSrc) : Full(bits)));
}

void SKzLutParam::SetCompMinSrcDbl(u32 i, double x)
{
    if (i >= kMax) return;
    if (bFloatSrc)
        sCompLutParam[i].fMinSrc = float(x);
    else
        sCompLutParam[i].uiMinSrc = Fraction(x);
}

void SKzLutParam::SetCompMaxSrcDbl(u32 i, double x)
{
    if (i >= kMax) return;
    if (bFloatSrc)
        sCompLutParam[i].fMaxSrc = float(x);
    else
        sCompLutParam[i].uiMaxSrc = Fraction(x);
}

double SKzLutParam::GetCompGammaSrc(u32 i) const { return comp(i).dGammaSrc; }

void SKzLutParam::SetCompGammaSrc(u32 i, double x)
{
    if (i < kMax) sCompLutParam[i].dGammaSrc = x;
}

double SKzLutParam::GetCompMinDstDbl(u32 i) const { return comp(i).uiMinDst * kF; }
double SKzLutParam::GetCompMaxDstDbl(u32 i) const { return comp(i).uiMaxDst * kF; }
u32 SKzLutParam::GetCompMinDst(u32 i, u32 bits) const { return Round(GetCompMinDstDbl(i) * Full(bits)); }
u32 SKzLutParam::GetCompMaxDst(u32 i, u32 bits) const { return Round(GetCompMaxDstDbl(i) * Full(bits)); }

void SKzLutParam::SetCompMinDstDbl(u32 i, double x)
{
    if (i < kMax) sCompLutParam[i].uiMinDst = Fraction(x);
}

void SKzLutParam::SetCompMaxDstDbl(u32 i, double x)
{
    if (i < kMax) sCompLutParam[i].uiMaxDst = Fraction(x);
}

// ---- effective values of a component -----------------------------------------

double SKzLutParam::GetMinSrcDbl(u32 i) const
{
    return bFloatSrc ? comp(i).fMinSrc : EffMin(comp(i).uiMinSrc, uiMinSrc, uiMaxSrc);
}

double SKzLutParam::GetMaxSrcDbl(u32 i) const
{
    return bFloatSrc ? comp(i).fMaxSrc : EffMax(comp(i).uiMaxSrc, uiMinSrc, uiMaxSrc);
}

u32 SKzLutParam::GetMinSrc(u32 i, u32 bits) const
{
    return Round(GetMinSrcDbl(i) * (bFloatSrc ? double(fMaxSrc) : Full(bits)));
}

u32 SKzLutParam::GetMaxSrc(u32 i, u32 bits) const
{
    return Round(GetMaxSrcDbl(i) * (bFloatSrc ? double(fMaxSrc) : Full(bits)));
}

float SKzLutParam::GetMinSrcFlt(u32 i, u32 bits) const
{
    if (bFloatSrc) return float(GetMinSrcDbl(i)) * (fMaxSrc - fMinSrc) + fMinSrc;
    return float(GetMinSrcDbl(i) * Full(bits));
}

float SKzLutParam::GetMaxSrcFlt(u32 i, u32 bits) const
{
    if (bFloatSrc) return float(GetMaxSrcDbl(i)) * (fMaxSrc - fMinSrc) + fMinSrc;
    return float(GetMaxSrcDbl(i) * Full(bits));
}

double SKzLutParam::GetGammaSrc(u32 i) const { return comp(i).dGammaSrc * dGammaSrc; }
double SKzLutParam::GetMinDstDbl(u32 i) const { return EffMin(comp(i).uiMinDst, uiMinDst, uiMaxDst); }
double SKzLutParam::GetMaxDstDbl(u32 i) const { return EffMax(comp(i).uiMaxDst, uiMinDst, uiMaxDst); }
u32 SKzLutParam::GetMinDst(u32 i, u32 bits) const { return Round(GetMinDstDbl(i) * Full(bits)); }
u32 SKzLutParam::GetMaxDst(u32 i, u32 bits) const { return Round(GetMaxDstDbl(i) * Full(bits)); }

// ---- identity, folding, comparison --------------------------------------------

bool SKzLutParam::IsUnit() const
{
    const bool src = bFloatSrc ? (fMinSrc == 0.0f && fMaxSrc == 1.0f) : (uiMinSrc == 0 && uiMaxSrc == 65535);
    if (!src || uiMinDst != 0 || uiMaxDst != 65535 || !GammaClose(1.0, dGammaSrc)) return false;
    for (const SKzCompLutParam& c : sCompLutParam) {
        const bool s = bFloatSrc ? (c.fMinSrc == 0.0f && c.fMaxSrc == 1.0f) : (c.uiMinSrc == 0 && c.uiMaxSrc == 65535);
        if (!s || !GammaClose(1.0, c.dGammaSrc) || c.uiMinDst != 0 || c.uiMaxDst != 65535) return false;
    }
    return true;
}

void SKzLutParam::SetUnit()
{
    uiMinSrc = 0;
    uiMaxSrc = 65535;
    uiMinDst = 0;
    uiMaxDst = 65535;
    fMinSrc = 0.0f;
    fMaxSrc = 1.0f;
    dGammaSrc = 1.0;
    sLutDataSpectral.Reset();
    for (SKzCompLutParam& c : sCompLutParam) {
        c.uiMinSrc = 0;
        c.uiMaxSrc = 65535;
        c.dGammaSrc = 1.0;
        c.uiMinDst = 0;
        c.uiMaxDst = 65535;
        c.fMinSrc = 0.0f;
        c.fMaxSrc = 1.0f;
    }
}

void SKzLutParam::GlobalParamToComponent()
{
    for (u32 i = 0; i < kMax; ++i) {
        const double mn = GetMinSrcDbl(i), mx = GetMaxSrcDbl(i);
        const double dmn = GetMinDstDbl(i), dmx = GetMaxDstDbl(i), g = GetGammaSrc(i);
        SKzCompLutParam& c = sCompLutParam[i];
        c.uiMinSrc = Fraction(mn);
        c.uiMaxSrc = Fraction(mx);
        c.uiMinDst = Fraction(dmn);
        c.uiMaxDst = Fraction(dmx);
        c.dGammaSrc = g;
        c.fMinSrc = float(mn * fMaxSrc);
        c.fMaxSrc = float(mx * fMaxSrc);
    }
    uiMinSrc = 0;
    uiMaxSrc = 65535;
    uiMinDst = 0;
    uiMaxDst = 65535;
    dGammaSrc = 1.0;
    fMinSrc = 0.0f;
    fMaxSrc = 1.0f;
    if (bFloatSrc) SetUnit();
}

bool SKzLutParam::CompareWith(SKzLutParam& o)
{
    if (bFloatSrc != o.bFloatSrc) return false;
    if (bFloatSrc ? (fMinSrc != o.fMinSrc || fMaxSrc != o.fMaxSrc) : (uiMinSrc != o.uiMinSrc || uiMaxSrc != o.uiMaxSrc))
        return false;
    if (!GammaClose(dGammaSrc, o.dGammaSrc) || uiMinDst != o.uiMinDst || uiMaxDst != o.uiMaxDst ||
        uiGradient != o.uiGradient || uiOutside != o.uiOutside || bColorOverExp != o.bColorOverExp ||
        uiOverExpColor != o.uiOverExpColor || bColorUnderExp != o.bColorUnderExp ||
        uiUnderExpColor != o.uiUnderExpColor)
        return false;
    const Spectral_t& a = sLutDataSpectral;
    const Spectral_t& b = o.sLutDataSpectral;
    if (a.uiGroupCount != b.uiGroupCount || a.uiSpectralColorMode != b.uiSpectralColorMode) return false;
    for (u32 i = 0; i < kMax; ++i) {
        const SKzCompLutParam& x = sCompLutParam[i];
        const SKzCompLutParam& y = o.sCompLutParam[i];
        if (bFloatSrc ? (x.fMinSrc != y.fMinSrc || x.fMaxSrc != y.fMaxSrc)
                      : (x.uiMinSrc != y.uiMinSrc || x.uiMaxSrc != y.uiMaxSrc))
            return false;
        if (!GammaClose(x.dGammaSrc, y.dGammaSrc) || x.uiMinDst != y.uiMinDst || x.uiMaxDst != y.uiMaxDst ||
            x.uiGroup != y.uiGroup)
            return false;
    }
    const u32 m = a.uiSpectralColorMode;
    if (m == 1 || m == 2) {
        if (a.pdOffset[m] && b.pdOffset[m] && a.pdGain[m] && b.pdGain[m]) {
            const u32 n = std::min({a.uiGroupCount, a.uiLength, b.uiLength});
            for (u32 i = 0; i < n; ++i)
                if (a.pdOffset[m][i] != b.pdOffset[m][i] || a.pdGain[m][i] != b.pdGain[m][i]) return false;
        }
    } else if (m == 0 || m == 3) {
        const double ao = a.pdOffset[m] ? *a.pdOffset[m] : 0.0, bo = b.pdOffset[m] ? *b.pdOffset[m] : 0.0;
        const double ag = a.pdGain[m] ? *a.pdGain[m] : 1.0, bg = b.pdGain[m] ? *b.pdGain[m] : 1.0;
        if (ao != bo || ag != bg) return false;
    }
    return true;
}

bool SKzLutParam::IsGroupMask(const CKzRangeMask& mask, u32* first)
{
    if (sLutDataSpectral.uiGroupCount == 0 || sLutDataSpectral.uiSpectralColorMode != 2) return false;
    u32 f = 0;
    mask.GetFirst(&f);  // an empty mask starts at 0
    if (first) *first = f;
    const u32 end = std::min(mask.GetSize(), kMax);
    if (f >= end) return true;
    const u32 group = sCompLutParam[f].uiGroup;
    for (u32 i = f; i < end && mask.Get(i); ++i)
        if (sCompLutParam[i].uiGroup != group) return false;
    return true;
}

// ---- variant form ---------------------------------------------------------------

namespace {

CKzVariant& Add(CKzVariant& list, const CKzVariant& value) { return list.Append(value); }
CKzVariant U32(u32 v, const wchar_t* name) { return CKzVariant((unsigned int)v, CKzStringW(name)); }
CKzVariant Dbl(double v, const wchar_t* name) { return CKzVariant(v, CKzStringW(name)); }
CKzVariant Flag(bool v, const wchar_t* name) { return CKzVariant(v, CKzStringW(name)); }

// An empty list node named name.
CKzVariant Node(const wchar_t* name)
{
    CKzVariant v{CKzListVariant(), CKzStringW(name)};
    return v;
}

void Empty(CKzVariant& v)
{
    const bool old = v.EnableTypeChange(true);
    v.MakeNull();
    v = CKzListVariant();
    v.EnableTypeChange(old);
}

template <class T>
void ReadU(const CKzVariant& v, const wchar_t* name, T& out)
{
    if (const CKzVariant* c = v.SearchFixedOneLevel(name)) out = T(c->GetKz_uint32());
}

void ReadD(const CKzVariant& v, const wchar_t* name, double& out)
{
    if (const CKzVariant* c = v.SearchFixedOneLevel(name)) out = c->GetDouble();
}

void ReadB(const CKzVariant& v, const wchar_t* name, bool& out)
{
    if (const CKzVariant* c = v.SearchFixedOneLevel(name)) out = c->GetBool();
}

} // namespace

int SKzLutParam::SaveToVariant(CKzVariant& v, const SKzLutParam& p)
{
    const bool old = v.EnableTypeChange(true);
    v.MakeNull();
    v = CKzListVariant();
    Add(v, U32(p.uiGradient, L"uiGradient"));
    Add(v, U32(p.uiOutside, L"uiOutside"));
    Add(v, U32(p.uiMinSrc, L"uiMinSrc"));
    Add(v, U32(p.uiMaxSrc, L"uiMaxSrc"));
    Add(v, Dbl(p.dGammaSrc, L"dGammaSrc"));
    Add(v, U32(p.uiMinDst, L"uiMinDst"));
    Add(v, U32(p.uiMaxDst, L"uiMaxDst"));
    Add(v, U32(p.uiColorSpace, L"uiColorSpace"));
    Add(v, U32(p.uiRepresentation, L"uiRepresentation"));
    Add(v, U32(p.uiLutComponentCount, L"uiLutComponentCount"));
    const SKzLUTDataSpectral& s = p.sLutDataSpectral;
    Add(v, U32(s.uiGroupCount, L"uiGroupCount"));

    const u32 comps = std::min(s.uiCompCount, kMax);
    const u32 records = comps == 0 ? kMax : std::min(std::max(3u, comps + 1), kMax);
    CKzVariant& list = Add(v, Node(L"sCompLutParam"));
    for (u32 i = 0; i < records; ++i) {
        CKzStringW name;
        name.Format(L"a%02i", int(i));
        CKzVariant& r = Add(list, Node(name.GetString()));
        const SKzCompLutParam& c = p.sCompLutParam[i];
        Add(r, U32(c.uiMinSrc, L"uiMinSrc"));
        Add(r, U32(c.uiMaxSrc, L"uiMaxSrc"));
        Add(r, Dbl(c.dGammaSrc, L"dGammaSrc"));
        Add(r, U32(c.uiMinDst, L"uiMinDst"));
        Add(r, U32(c.uiMaxDst, L"uiMaxDst"));
        Add(r, U32(c.uiGroup, L"uiGroup"));
    }

    CKzVariant& sp = Add(v, Node(L"sLutDataSpectral"));
    if (s.pdGain[0]) Add(sp, Dbl(*s.pdGain[0], L"dGainTrueColor"));
    if (s.pdOffset[0]) Add(sp, Dbl(*s.pdOffset[0], L"dOffsetTrueColor"));
    if (s.pdGain[3]) Add(sp, Dbl(*s.pdGain[3], L"dGainGrayScale"));
    if (s.pdOffset[3]) Add(sp, Dbl(*s.pdOffset[3], L"dOffsetGrayScale"));
    Add(sp, U32(s.uiSpectralColorMode, L"uiSpectralColorMode"));
    const u32 len = s.puiColorCustom ? std::min(s.uiLength, kMax) : 0;
    for (u32 i = 0; i < len; ++i) {
        CKzStringW name;
        name.Format(L"aGroup%02i", int(i));
        CKzVariant& g = Add(sp, Node(name.GetString()));
        Add(g, U32(s.puiColorGroup ? s.puiColorGroup[i] : 0u, L"uiColorGroup"));
        Add(g, U32(s.puiColorCustom[i], L"uiColorCustom"));
        Add(g, Dbl(s.pdGain[1] ? s.pdGain[1][i] : 1.0, L"dGainCustom"));
        Add(g, Dbl(s.pdOffset[1] ? s.pdOffset[1][i] : 0.0, L"dOffsetCustom"));
        Add(g, Dbl(s.pdGain[2] ? s.pdGain[2][i] : 1.0, L"dGainGrouped"));
        Add(g, Dbl(s.pdOffset[2] ? s.pdOffset[2][i] : 0.0, L"dOffsetGrouped"));
    }

    Add(v, Flag(p.bColorOverExp, L"bColorOverExp"));
    Add(v, U32(p.uiOverExpColor, L"uiOverExpColor"));
    Add(v, Flag(p.bColorUnderExp, L"bColorUnderExp"));
    Add(v, U32(p.uiUnderExpColor, L"uiUnderExpColor"));
    v.EnableTypeChange(old);
    return KZ_OK;
}

int SKzLutParam::LoadFromVariant(SKzLutParam& p, const CKzVariant& v)
{
    SKzLUTDataSpectral& s = p.sLutDataSpectral;
    ReadU(v, L"uiGradient", p.uiGradient);
    ReadU(v, L"uiOutside", p.uiOutside);
    ReadU(v, L"uiMinSrc", p.uiMinSrc);
    ReadU(v, L"uiMaxSrc", p.uiMaxSrc);
    ReadD(v, L"dGammaSrc", p.dGammaSrc);
    ReadU(v, L"uiMinDst", p.uiMinDst);
    ReadU(v, L"uiMaxDst", p.uiMaxDst);
    ReadU(v, L"uiGroupCount", s.uiGroupCount);
    s.uiGroupCount = std::min(s.uiGroupCount, kMax);
    ReadU(v, L"uiColorSpace", p.uiColorSpace);
    ReadU(v, L"uiRepresentation", p.uiRepresentation);
    ReadU(v, L"uiLutComponentCount", p.uiLutComponentCount);
    p.uiLutComponentCount = std::min(p.uiLutComponentCount, kMax);

    if (const CKzVariant* list = v.SearchFixedOneLevel(L"sCompLutParam")) {
        for (u32 i = 0; i < kMax; ++i) {
            CKzStringW name;
            name.Format(L"a%02i", int(i));
            const CKzVariant* r = list->SearchFixedOneLevel(name.GetString());
            if (!r) continue;
            SKzCompLutParam& c = p.sCompLutParam[i];
            ReadU(*r, L"uiMinSrc", c.uiMinSrc);
            ReadU(*r, L"uiMaxSrc", c.uiMaxSrc);
            ReadD(*r, L"dGammaSrc", c.dGammaSrc);
            ReadU(*r, L"uiMinDst", c.uiMinDst);
            ReadU(*r, L"uiMaxDst", c.uiMaxDst);
            ReadU(*r, L"uiGroup", c.uiGroup);
        }
    }

    if (const CKzVariant* sp = v.SearchFixedOneLevel(L"sLutDataSpectral")) {
        s.Realloc(s.uiGroupCount);
        if (s.pdGain[0]) ReadD(*sp, L"dGainTrueColor", *s.pdGain[0]);
        if (s.pdOffset[0]) ReadD(*sp, L"dOffsetTrueColor", *s.pdOffset[0]);
        if (s.pdGain[3]) ReadD(*sp, L"dGainGrayScale", *s.pdGain[3]);
        if (s.pdOffset[3]) ReadD(*sp, L"dOffsetGrayScale", *s.pdOffset[3]);
        ReadU(*sp, L"uiSpectralColorMode", s.uiSpectralColorMode);
        const u32 len = s.puiColorCustom ? s.uiLength : 0;
        for (u32 i = 0; i < len; ++i) {
            CKzStringW name;
            name.Format(L"aGroup%02i", int(i));
            const CKzVariant* g = sp->SearchFixedOneLevel(name.GetString());
            if (!g) continue;
            ReadU(*g, L"uiColorGroup", s.puiColorGroup[i]);
            ReadU(*g, L"uiColorCustom", s.puiColorCustom[i]);
            ReadD(*g, L"dGainCustom", s.pdGain[1][i]);
            ReadD(*g, L"dOffsetCustom", s.pdOffset[1][i]);
            ReadD(*g, L"dGainGrouped", s.pdGain[2][i]);
            ReadD(*g, L"dOffsetGrouped", s.pdOffset[2][i]);
        }
    }

    ReadB(v, L"bColorOverExp", p.bColorOverExp);
    ReadU(v, L"uiOverExpColor", p.uiOverExpColor);
    ReadB(v, L"bColorUnderExp", p.bColorUnderExp);
    ReadU(v, L"uiUnderExpColor", p.uiUnderExpColor);
    return KZ_OK;
}

int SKzLutParam::SaveToVariant(CKzVariant& v, const SKzRatioDesc& d)
{
    Empty(v);
    const bool old = v.EnableTypeChange(true);
    Add(v, U32(d.uiNumer, L"uiNumer"));
    Add(v, U32(d.uiDenom, L"uiDenom"));
    Add(v, U32(d.uiNumOffset, L"uiNumOffset"));
    Add(v, U32(d.uiDenOffset, L"uiDenOffset"));
    Add(v, Dbl(d.dMin, L"dMin"));
    Add(v, Dbl(d.dMax, L"dMax"));
    v.EnableTypeChange(old);
    return KZ_OK;
}

int SKzLutParam::LoadFromVariant(SKzRatioDesc& d, const CKzVariant& v)
{
    ReadU(v, L"uiNumer", d.uiNumer);
    ReadU(v, L"uiDenom", d.uiDenom);
    ReadD(v, L"dMin", d.dMin);
    ReadD(v, L"dMax", d.dMax);
    d.uiNumOffset = 0;
    d.uiDenOffset = 0;
    return KZ_OK;
}
