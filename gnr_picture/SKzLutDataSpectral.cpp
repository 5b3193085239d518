// Spectral colour data of LUT parameters: groups (nodes) with colours,
// offsets and gains, spread over the channels of a spectral picture.
#include "gnr_picture/SKzLutParam.h"

#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/KzLutColour.h"
#include "gnr_system/CKzRangeMask.h"

#include <algorithm>
#include <new>

using Spectral = SKzLutParam::SKzLUTDataSpectral;

namespace {

constexpr u32 kMax = SKzLutParam::kMaxComponents;
constexpr u32 kBlue = 0x00FF0000u;
constexpr u32 kDefaultColours[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};
constexpr u32 kWhite = 0x00FFFFFFu;
constexpr u32 kLow24 = 0x00FFFFFFu;

double* NewValue(double v)
{
    double* p = new (std::nothrow) double[1];
    if (p) *p = v;
    return p;
}

template <class T>
T* NewArray(u32 n)
{
    return n ? new (std::nothrow) T[n] : nullptr;
}

// Modes 0 and 3 hold one value; 1 and 2 one per group.
bool SingleMode(u32 m) { return m == 0 || m == 3; }
bool GroupMode(u32 m) { return m == 1 || m == 2; }

u32 DimColour(u32 c)
{
    unsigned char h, s, i, r, g, b;
    CKzPicMemAPI::ConvertColorRGB8toHSI8(h, s, i, u8(c), u8(c >> 8), u8(c >> 16));
    CKzPicMemAPI::ConvertColorHSI8toRGB8(r, g, b, h, u8(2 * s / 3), u8(2 * i / 3));
    return u32(r) | u32(g) << 8 | u32(b) << 16;
}

} // namespace

Spectral::SKzLUTDataSpectral(SKzLutParam* owner)
    : pdOffset{NewValue(0.0), nullptr, nullptr, NewValue(0.0)},
      pdGain{NewValue(1.0), nullptr, nullptr, NewValue(1.0)},
      puiColorCustom(nullptr),
      puiColorGroup(nullptr),
      uiLength(0),
      uiGroupCount(3),
      pOwner(owner),
      uiCompCount(0),
      uiSpectralColorMode(0)
{
}

Spectral::SKzLUTDataSpectral(const SKzLUTDataSpectral& other) : SKzLUTDataSpectral(nullptr) { *this = other; }

Spectral::~SKzLUTDataSpectral()
{
    release();
    for (int m : {0, 3}) {
        delete[] pdOffset[m];
        delete[] pdGain[m];
    }
}

void Spectral::release()
{
    for (int m : {1, 2}) {
        delete[] pdOffset[m];
        delete[] pdGain[m];
        pdOffset[m] = pdGain[m] = nullptr;
    }
    delete[] puiColorCustom;
    delete[] puiColorGroup;
    puiColorCustom = puiColorGroup = nullptr;
    uiLength = 0;
}

Spectral& Spectral::operator=(const SKzLUTDataSpectral& other)
{
    if (this == &other) return *this;
    uiCompCount = std::min(other.uiCompCount, kMax);
    uiGroupCount = std::min(other.uiGroupCount, kMax);
    uiSpectralColorMode = other.uiSpectralColorMode;
    for (int m : {0, 3}) {
        if (other.pdOffset[m]) {
            if (!pdOffset[m]) pdOffset[m] = NewValue(0.0);
            if (pdOffset[m]) *pdOffset[m] = *other.pdOffset[m];
        }
        if (other.pdGain[m]) {
            if (!pdGain[m]) pdGain[m] = NewValue(1.0);
            if (pdGain[m]) *pdGain[m] = *other.pdGain[m];
        }
    }
    const u32 len = other.puiColorCustom ? std::min(other.uiLength, kMax) : 0;
    if (len != uiLength || !puiColorCustom) {
        release();
        if (len) {
            double* o1 = NewArray<double>(len);
            double* o2 = NewArray<double>(len);
            double* g1 = NewArray<double>(len);
            double* g2 = NewArray<double>(len);
            u32* cc = NewArray<u32>(len);
            u32* cg = NewArray<u32>(len);
            if (o1 && o2 && g1 && g2 && cc && cg) {
                pdOffset[1] = o1, pdOffset[2] = o2, pdGain[1] = g1, pdGain[2] = g2;
                puiColorCustom = cc, puiColorGroup = cg;
                uiLength = len;
            } else {
                delete[] o1, delete[] o2, delete[] g1, delete[] g2, delete[] cc, delete[] cg;
            }
        }
    }
    for (u32 i = 0; i < uiLength; ++i) {
        for (int m : {1, 2}) {
            pdOffset[m][i] = other.pdOffset[m] ? other.pdOffset[m][i] : 0.0;
            pdGain[m][i] = other.pdGain[m] ? other.pdGain[m][i] : 1.0;
        }
        puiColorCustom[i] = other.puiColorCustom[i];
        puiColorGroup[i] = other.puiColorGroup ? other.puiColorGroup[i] : kBlue;
    }
    return *this;
}

int Spectral::Realloc(u32 count)
{
    count = std::min(count, kMax);
    const bool have = puiColorCustom != nullptr && uiLength > 0;
    if (have && count == uiLength) return KZ_OK;
    const u32 old = have ? uiLength : 0;
    if (count == 0) {
        release();
        return KZ_OK;
    }
    double* o[2] = {NewArray<double>(count), NewArray<double>(count)};
    double* g[2] = {NewArray<double>(count), NewArray<double>(count)};
    u32* cc = NewArray<u32>(count);
    u32* cg = NewArray<u32>(count);
    if (!o[0] || !o[1] || !g[0] || !g[1] || !cc || !cg) {
        delete[] o[0], delete[] o[1], delete[] g[0], delete[] g[1], delete[] cc, delete[] cg;
        return KZ_ERR_OUT_OF_MEMORY;
    }
    const u32 keep = std::min(old, count);
    for (u32 i = 0; i < count; ++i) {
        for (int m = 0; m < 2; ++m) {
            o[m][i] = i < keep && pdOffset[m + 1] ? pdOffset[m + 1][i] : 0.0;
            g[m][i] = i < keep && pdGain[m + 1] ? pdGain[m + 1][i] : 1.0;
        }
        cc[i] = i < keep ? puiColorCustom[i] : kBlue;
        cg[i] = i < keep && puiColorGroup ? puiColorGroup[i] : kBlue;
    }
    if (old == 0) {
        for (u32 i = 0; i < std::min(count, 3u); ++i) cc[i] = cg[i] = kDefaultColours[i];
    }
    release();
    pdOffset[1] = o[0], pdOffset[2] = o[1], pdGain[1] = g[0], pdGain[2] = g[1];
    puiColorCustom = cc, puiColorGroup = cg;
    uiLength = count;
    return KZ_OK;
}

namespace {

// Channels whose groups the owner's records give (none without an owner).
u32 Channels(const Spectral& s) { return s.pOwner ? std::min(s.uiCompCount, kMax) : 0; }

// Runs of equal groups over the channels; every run but the last records its
// last channel in last (when given).
u32 WalkRuns(const Spectral& s, u32* last)
{
    const u32 n = Channels(s);
    u32 j = 0, prev = 0;
    for (u32 k = 0; k < n; ++k) {
        const u32 g = s.pOwner->sCompLutParam[k].uiGroup;
        if (k == 0 || g != prev) {
            if (k > 0 && last) last[j - 1] = k - 1;
            ++j;
            prev = g;
        }
    }
    return j;
}

} // namespace

void Spectral::spreadEvenly(u32 groups, u32* last)
{
    const u32 n = Channels(*this);
    if (n == 0 || groups == 0) return;
    u32 l = 0;
    for (u32 k = 0; k < n; ++k) {
        while (l + 1 < groups && k >= (double)n / groups * (l + 1)) {
            if (last && k > 0) last[l] = k - 1;
            ++l;
        }
        pOwner->sCompLutParam[k].uiGroup = l;
    }
}

u32 Spectral::GetAllGroupCount(u32* last, bool regroup)
{
    const u32 n = Channels(*this);
    if (n == 0) return uiGroupCount;
    u32 j = WalkRuns(*this, last);
    if (j != uiGroupCount && regroup) {
        uiGroupCount = std::min(n, 3u);
        Realloc(uiGroupCount);
        if (puiColorCustom)
            for (u32 i = 0; i < std::min(uiGroupCount, uiLength); ++i)
                puiColorCustom[i] = puiColorGroup[i] = kDefaultColours[i];
        if (last) last[0] = 0;
        spreadEvenly(uiGroupCount, last);
        j = uiGroupCount;
    }
    if (last && j > 0) {
        if (j == 1)
            last[0] = n - 1;
        else if (last[j - 2] < n - 1)
            last[j - 1] = n - 1;
    }
    return uiGroupCount;
}

u32 Spectral::sync()
{
    const u32 g = std::min(GetAllGroupCount(nullptr, false), kMax);
    Realloc(g);
    return g;
}

u32 Spectral::groupEnds(u32* ends)
{
    const u32 n = Channels(*this);
    if (n == 0) return 0;
    std::fill(ends, ends + kMax, n - 1);
    const u32 used = std::min({WalkRuns(*this, ends), uiGroupCount, kMax});
    if (used > 0) ends[used - 1] = n - 1;
    return used;
}

void Spectral::GetEnabledGroupMask(CKzRangeMask& mask)
{
    const u32 g = sync();
    mask.SetSize(uiGroupCount);
    mask.Reset();
    for (u32 i = 0; i < g && i < uiLength; ++i)
        if (puiColorGroup && (puiColorGroup[i] >> 24) == 0) mask.Set(i, true);
}

u32 Spectral::GetSpectralGroupCount()
{
    CKzRangeMask m;
    GetEnabledGroupMask(m);
    return m.GetCount();
}

void Spectral::GetComponentEnabledGroupMask(CKzRangeMask& mask)
{
    const u32 g = sync();
    mask.SetSize(uiCompCount);
    mask.Reset();
    u32 ends[kMax];
    const u32 used = std::min({groupEnds(ends), g, uiLength});
    for (u32 l = 0; l < used; ++l) {
        if ((puiColorGroup[l] >> 24) != 0) continue;
        for (u32 k = l ? ends[l - 1] + 1 : 0; k <= ends[l]; ++k) mask.Set(k, true);
    }
}

void Spectral::EnableGroup(u32 i, bool enable)
{
    const u32 g = sync();
    if (i >= g || i >= uiLength || !puiColorCustom) return;
    if (enable) {
        puiColorCustom[i] &= kLow24;
        puiColorGroup[i] &= kLow24;
    } else {
        puiColorCustom[i] |= 0xFF000000u;
        puiColorGroup[i] |= 0xFF000000u;
    }
}

bool Spectral::IsGroupEnabled(u32 i)
{
    const u32 g = sync();
    return i < g && i < uiLength && puiColorGroup && (puiColorGroup[i] >> 24) == 0;
}

void Spectral::SetOffset(u32 i, double x)
{
    const u32 g = sync();
    const u32 m = uiSpectralColorMode;
    if (i >= g) return;
    if (SingleMode(m)) {
        if (!pdOffset[m]) pdOffset[m] = NewValue(0.0);
        if (pdOffset[m]) *pdOffset[m] = x;
    } else if (GroupMode(m) && i < uiLength && pdOffset[m]) {
        pdOffset[m][i] = x;
    }
}

void Spectral::SetGain(u32 i, double x)
{
    const u32 g = sync();
    const u32 m = uiSpectralColorMode;
    if (i >= g) return;
    if (SingleMode(m)) {
        if (!pdGain[m]) pdGain[m] = NewValue(1.0);
        if (pdGain[m]) *pdGain[m] = x;
    } else if (GroupMode(m) && i < uiLength && pdGain[m]) {
        pdGain[m][i] = x;
    }
}

double Spectral::GetOffset(u32 i)
{
    const u32 g = sync();
    const u32 m = uiSpectralColorMode;
    if (i >= g) return -1.0;
    if (SingleMode(m)) return pdOffset[m] ? *pdOffset[m] : 0.0;
    if (GroupMode(m) && i < uiLength && pdOffset[m]) return pdOffset[m][i];
    return -1.0;
}

double Spectral::GetGain(u32 i)
{
    const u32 g = sync();
    const u32 m = uiSpectralColorMode;
    if (i >= g) return -1.0;
    if (SingleMode(m)) return pdGain[m] ? *pdGain[m] : 1.0;
    if (GroupMode(m) && i < uiLength && pdGain[m]) return pdGain[m][i];
    return -1.0;
}

void Spectral::SetColor(u32 i, u32 colour)
{
    const u32 g = sync();
    if (i >= g || i >= uiLength || !puiColorCustom) return;
    if (uiSpectralColorMode == 1)
        puiColorCustom[i] = colour;
    else if (uiSpectralColorMode == 2)
        puiColorGroup[i] = colour;
}

void Spectral::Reset(u32 i)
{
    SetOffset(i, 0.0);
    SetGain(i, 1.0);
}

void Spectral::Reset()
{
    const u32 g = sync();
    for (u32 i = 0; i < g; ++i) Reset(i);
}

void Spectral::InterpolateVals(const double* nodes, double* out, u32 count, const u32* positions)
{
    if (!nodes || !out || count == 0) return;
    if (count == 1) {
        out[0] = nodes[0];
        return;
    }
    if (!positions) return;
    out[0] = nodes[0];
    for (u32 s = 0; s + 1 < count; ++s) {
        const u32 p0 = positions[s], p1 = positions[s + 1];
        for (u32 j = p0; j < p1; ++j)
            out[j] = (1.0 / double(p1 - p0)) * (nodes[s + 1] - nodes[s]) * double(j - p0) + nodes[s];
    }
    out[positions[count - 1]] = nodes[count - 1];
}

void Spectral::GetCompOffsetAndGains(double* offsets, double* gains)
{
    const u32 n = std::min(uiCompCount, kMax);
    if (n == 0) return;
    const u32 m = uiSpectralColorMode;
    double off = 0.0, gain = 1.0;
    if (SingleMode(m)) {
        if (pdOffset[m]) off = *pdOffset[m];
        if (pdGain[m]) gain = *pdGain[m];
    }
    if (offsets) std::fill(offsets, offsets + n, off);
    if (gains) std::fill(gains, gains + n, gain);
    if (!GroupMode(m)) return;
    const u32 g = sync();
    if (g == 0 || uiLength < g || !pdOffset[m] || !pdGain[m]) return;
    if (m == 1) {
        if (g == 1) {
            if (offsets) std::fill(offsets, offsets + n, pdOffset[1][0]);
            if (gains) std::fill(gains, gains + n, pdGain[1][0]);
            return;
        }
        u32 pos[kMax];
        for (u32 k = 0; k < g; ++k) pos[k] = u32(u64(k) * (n - 1) / (g - 1));
        if (offsets) InterpolateVals(pdOffset[1], offsets, g, pos);
        if (gains) InterpolateVals(pdGain[1], gains, g, pos);
        return;
    }
    u32 ends[kMax];
    const u32 used = std::min(groupEnds(ends), g);
    for (u32 l = 0; l < used; ++l)
        for (u32 k = l ? ends[l - 1] + 1 : 0; k <= ends[l]; ++k) {
            if (offsets) offsets[k] = pdOffset[2][l];
            if (gains) gains[k] = pdGain[2][l];
        }
}

void Spectral::GetCompColors(u32* colours, bool keepFlag, bool dimDisabled)
{
    const u32 n = std::min(uiCompCount, kMax);
    if (!colours || n == 0) return;
    const u32 g = sync();
    std::fill(colours, colours + n, kWhite);
    const bool arrays = g > 0 && uiLength >= g && puiColorCustom && puiColorGroup;
    if (arrays && uiSpectralColorMode != 2) {
        if (g == 1) {
            std::fill(colours, colours + n, puiColorCustom[0]);
        } else {
            const double step = double(n - 1) / double(g - 1);
            u32 next = 0;
            for (u32 k = 0; k + 1 < g; ++k) {
                const double pk = step * k, pk1 = step * (k + 1);
                // The last segment always closes on the last channel.
                const i64 end = k + 2 == g ? i64(n) - 1 : std::min<i64>(KzTruncToInt64(pk1), i64(n) - 1);
                const u32 a = puiColorCustom[k] & kLow24, b = puiColorCustom[k + 1] & kLow24;
                for (; i64(next) <= end; ++next) {
                    const double d = pk1 - pk;
                    i64 w = 0;
                    if (d > 0) w = std::clamp<i64>(KzTruncToInt64((double(next) - pk) * 70000 / d), 0, 65536);
                    colours[next] = InterpolateColorHSI8(a, b, int(w));
                }
            }
        }
    } else if (arrays) {
        u32 ends[kMax];
        const u32 used = std::min(groupEnds(ends), g);
        for (u32 l = 0; l < used; ++l) {
            u32 c = puiColorGroup[l];
            if (dimDisabled && (c >> 24) != 0) c = DimColour(c);
            for (u32 k = l ? ends[l - 1] + 1 : 0; k <= ends[l]; ++k) colours[k] = c;
        }
    }
    if (!keepFlag)
        for (u32 k = 0; k < n; ++k) colours[k] &= kLow24;
}

u32 Spectral::GetCompColor(u32 i, bool keepFlag)
{
    if (i >= std::min(uiCompCount, kMax)) return kWhite;
    u32 colours[kMax];
    GetCompColors(colours, keepFlag, false);
    return colours[i];
}

bool Spectral::IsAbleToInsertGroup(u32 position)
{
    GetAllGroupCount(nullptr, true);
    return uiCompCount > uiGroupCount && position <= uiGroupCount;
}

bool Spectral::IsAbleToRemoveGroup(u32 i)
{
    const u32 g = GetAllGroupCount(nullptr, false);
    return g > 1 && i < g;
}

int Spectral::RemoveGroup(u32 i, u32* newCount)
{
    const u32 g = std::min(GetAllGroupCount(nullptr, false), kMax);
    if (g <= 1 || i >= g) return KZ_ERR_FAILED;
    double off[2][kMax], gain[2][kMax];
    u32 cc[kMax], cg[kMax];
    for (u32 k = 0; k < g; ++k) {
        const bool have = k < uiLength;
        for (int m = 0; m < 2; ++m) {
            off[m][k] = have && pdOffset[m + 1] ? pdOffset[m + 1][k] : 0.0;
            gain[m][k] = have && pdGain[m + 1] ? pdGain[m + 1][k] : 1.0;
        }
        cc[k] = have && puiColorCustom ? puiColorCustom[k] : kBlue;
        cg[k] = have && puiColorGroup ? puiColorGroup[k] : kBlue;
    }
    if (Realloc(g - 1) != KZ_OK || uiLength != g - 1) return KZ_ERR_FAILED;
    for (u32 k = 0; k + 1 < g; ++k) {
        const u32 from = k < i ? k : k + 1;
        for (int m = 0; m < 2; ++m) {
            pdOffset[m + 1][k] = off[m][from];
            pdGain[m + 1][k] = gain[m][from];
        }
        puiColorCustom[k] = cc[from];
        puiColorGroup[k] = cg[from];
    }
    spreadEvenly(g - 1, nullptr);
    if (newCount) *newCount = g - 1;
    uiGroupCount = g - 1;
    return KZ_OK;
}
