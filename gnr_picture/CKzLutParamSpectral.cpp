// LUT parameter classes of spectral pictures. The three classes share their
// shape handling, comparison and lite-variant form through a view of their
// members (Parts), which differ only in the colour and group-size arrays.
#include "gnr_picture/CKzLutParam.h"

#include "gnr_picture/KzLutColour.h"
#include "gnr_picture/KzLutParamLite.h"
#include "gnr_system/CKzLiteVariant.h"

#include <algorithm>
#include <new>

namespace kzlutparam {

enum Kind { kTrueColor, kCustomColor, kGrouped };

// The members of one object.
struct Parts {
    Kind kind;
    unsigned& bpc;
    unsigned* nodes;  // node or group count; null for the true-colour class
    unsigned& spectral;
    unsigned& channels;
    unsigned& comps;
    unsigned*& counts;
    double*& offsets;
    double*& gains;
    unsigned** colours;     // null for the true-colour class
    unsigned** groupSizes;  // grouped class only
    double& gamma;

    unsigned Nodes() const { return nodes ? *nodes : 0; }
};

} // namespace kzlutparam

using kzlutparam::Parts;
using kzlutparam::Kind;
using kzlutparam::kTrueColor;
using kzlutparam::kCustomColor;
using kzlutparam::kGrouped;

namespace {

constexpr unsigned kMaxCounts = CKzLutParamMCH::kMaxCounts;
constexpr unsigned kWhite = 0x00FFFFFFu;

unsigned SlotCount(Kind kind, unsigned nodes, unsigned spectral, unsigned channels)
{
    return (kind == kTrueColor ? 1 : nodes) + channels - spectral;
}

unsigned Slots(const Parts& p)
{
    if (p.channels < p.spectral) return 0;
    return SlotCount(p.kind, p.Nodes(), p.spectral, p.channels);
}

template <class T>
T* NewArray(unsigned n, T fill)
{
    if (!n) return nullptr;
    T* a = new (std::nothrow) T[n];
    if (a) std::fill(a, a + n, fill);
    return a;
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

void Release(Parts& p)
{
    delete[] p.counts;
    delete[] p.offsets;
    delete[] p.gains;
    p.counts = nullptr;
    p.offsets = p.gains = nullptr;
    if (p.colours) {
        delete[] *p.colours;
        *p.colours = nullptr;
    }
    if (p.groupSizes) {
        delete[] *p.groupSizes;
        *p.groupSizes = nullptr;
    }
    p.spectral = p.channels = p.comps = 0;
    if (p.nodes) *p.nodes = 0;
}

void Empty(Parts& p)
{
    p.bpc = p.spectral = p.channels = p.comps = 0;
    if (p.nodes) *p.nodes = 0;
    p.counts = nullptr;
    p.offsets = p.gains = nullptr;
    if (p.colours) *p.colours = nullptr;
    if (p.groupSizes) *p.groupSizes = nullptr;
    p.gamma = 1.0;
}

unsigned SpectralComponents(const unsigned* counts, unsigned spectral)
{
    u64 n = 0;
    if (counts)
        for (unsigned k = 0; k < spectral; ++k) n += counts[k];
    return unsigned(std::min<u64>(n, UINT32_MAX));
}

// Takes every member of src (same class).
void Assign(Parts& d, const Parts& s)
{
    const unsigned slots = Slots(s);
    const unsigned nodes = s.Nodes();
    unsigned *counts, *colours = nullptr, *sizes = nullptr;
    double *off, *gain;
    // Every copy is attempted (each result is released below either way).
    bool ok =
        (int(Dup(counts, s.counts, s.channels)) & int(Dup(off, s.offsets, slots)) & int(Dup(gain, s.gains, slots))) != 0;
    if (s.colours) ok &= Dup(colours, *s.colours, nodes);
    if (s.groupSizes) ok &= Dup(sizes, *s.groupSizes, nodes);
    Release(d);
    d.gamma = s.gamma;
    d.bpc = s.bpc;
    if (!ok) {
        delete[] counts, delete[] off, delete[] gain, delete[] colours, delete[] sizes;
        return;  // no memory: the object is left empty
    }
    d.spectral = s.spectral;
    d.channels = s.channels;
    d.comps = s.comps;
    if (d.nodes) *d.nodes = nodes;
    d.counts = counts, d.offsets = off, d.gains = gain;
    if (d.colours) *d.colours = colours;
    if (d.groupSizes) *d.groupSizes = sizes;
}

int Reinit(Parts& p, unsigned nodes, const unsigned* groupSizes, unsigned S, unsigned K, unsigned comps,
           const unsigned* compSizes, unsigned bits)
{
    if (bits < 8 || S > K || K > kMaxCounts || comps > kMaxCounts || nodes > kMaxCounts) return KZ_ERR_FAILED;
    if (compSizes && comps != 0) {
        u64 sum = 0;
        for (unsigned k = 0; k < K; ++k) sum += compSizes[k];
        if (sum != comps) return KZ_ERR_FAILED;
    }
    if (p.kind != kTrueColor) nodes = std::min(nodes, S);
    const bool newCounts = comps != p.comps || K != p.channels;
    const unsigned* after = compSizes ? compSizes : newCounts ? nullptr : p.counts;
    const unsigned spectralComps = SpectralComponents(after, S);
    const unsigned slots = SlotCount(p.kind, nodes, S, K);
    const bool keep = (p.offsets || Slots(p) == 0) && p.channels >= p.spectral && K - S == p.channels - p.spectral &&
                      (p.kind == kTrueColor || nodes == p.Nodes()) && p.bpc != 0;
    const bool takeSizes = p.kind == kGrouped && nodes > 0 && (!keep || groupSizes);
    if (takeSizes) {
        if (!groupSizes) return KZ_ERR_FAILED;
        u64 sum = 0;
        for (unsigned g = 0; g < nodes; ++g) {
            if (groupSizes[g] == 0) return KZ_ERR_FAILED;
            sum += groupSizes[g];
        }
        if (sum > spectralComps) return KZ_ERR_FAILED;
    }

    // Everything new is allocated before anything changes.
    unsigned* counts = newCounts ? NewArray<unsigned>(K, 0) : p.counts;
    double* off = keep ? p.offsets : NewArray<double>(slots, 0.0);
    double* gain = keep ? p.gains : NewArray<double>(slots, 1.0);
    unsigned* colours = p.colours && !keep ? NewArray<unsigned>(nodes, kWhite) : nullptr;
    unsigned* sizes = takeSizes && !(keep && p.groupSizes && *p.groupSizes) ? NewArray<unsigned>(nodes, 1u) : nullptr;
    const bool failed = (newCounts && K && !counts) || (!keep && slots && (!off || !gain)) ||
                        (p.colours && !keep && nodes && !colours) ||
                        (takeSizes && !(keep && p.groupSizes && *p.groupSizes) && !sizes);
    if (failed) {
        if (newCounts) delete[] counts;
        if (!keep) delete[] off, delete[] gain;
        delete[] colours;
        delete[] sizes;
        return KZ_ERR_FAILED;
    }
    if (newCounts) {
        delete[] p.counts;
        p.counts = counts;
        p.comps = comps;
    }
    if (compSizes)
        for (unsigned k = 0; k < K; ++k) p.counts[k] = compSizes[k];
    if (!keep) {
        delete[] p.offsets;
        delete[] p.gains;
        p.offsets = off;
        p.gains = gain;
        if (p.colours) {
            delete[] *p.colours;
            *p.colours = colours;
        }
        if (p.groupSizes) {
            delete[] *p.groupSizes;
            *p.groupSizes = nullptr;
        }
    }
    if (p.groupSizes) {
        if (sizes) {
            delete[] *p.groupSizes;
            *p.groupSizes = sizes;
        }
        if (takeSizes) std::copy(groupSizes, groupSizes + nodes, *p.groupSizes);
    }
    p.bpc = bits;
    p.channels = K;
    p.spectral = S;
    if (p.nodes) *p.nodes = nodes;
    return KZ_OK;
}

bool Compare(const Parts& a, const Parts& b)
{
    if (a.bpc != b.bpc || a.spectral != b.spectral || a.channels != b.channels || a.comps != b.comps ||
        a.gamma != b.gamma || a.Nodes() != b.Nodes())
        return false;
    const unsigned slots = Slots(a);
    if (slots != Slots(b)) return false;
    for (unsigned i = 0; i < slots; ++i) {
        const double oa = a.offsets ? a.offsets[i] : 0.0, ob = b.offsets ? b.offsets[i] : 0.0;
        const double ga = a.gains ? a.gains[i] : 1.0, gb = b.gains ? b.gains[i] : 1.0;
        if (oa != ob || ga != gb) return false;
    }
    for (unsigned i = 0; i < a.Nodes(); ++i) {
        if (a.colours && *a.colours && *b.colours && (*a.colours)[i] != (*b.colours)[i]) return false;
        if (a.groupSizes && *a.groupSizes && *b.groupSizes && (*a.groupSizes)[i] != (*b.groupSizes)[i]) return false;
    }
    if (a.counts && b.counts)
        for (unsigned k = 0; k < a.channels; ++k)
            if (a.counts[k] != b.counts[k]) return false;
    return true;
}

bool IsUnit(const Parts& p)
{
    if (p.gamma != 1.0) return false;
    if (!p.offsets || !p.gains) return true;
    for (unsigned i = 0; i < Slots(p); ++i)
        if (p.gains[i] != 1.0 || p.offsets[i] != 0.0) return false;
    return true;
}

void SetUnit(Parts& p)
{
    p.gamma = 1.0;
    if (!p.offsets || !p.gains) return;
    for (unsigned i = 0; i < Slots(p); ++i) {
        p.gains[i] = 1.0;
        p.offsets[i] = 0.0;
    }
}

const wchar_t* ClassName(Kind k)
{
    return k == kTrueColor ? L"CKzLutParamSpectralTrueColor"
                           : k == kCustomColor ? L"CKzLutParamSpectralCustomColor" : L"CKzLutParamSpectralGrouped";
}

void UnnamedU32(CKzLiteVariantW& w, unsigned v, const wchar_t* name)
{
    if (w.LevelBegin(L"") != KZ_OK) return;
    w.Set(v, name);
    w.LevelEnd();
}

int Save(const Parts& p, CKzLiteVariantW& w)
{
    if (w.LevelBegin(ClassName(p.kind)) != KZ_OK) return KZ_ERR_FAILED;
    w.Set(1, L"version");
    w.Set(p.bpc, L"m_uiBpc");
    w.Set(p.channels, L"m_uiChannelCount");
    if (p.kind == kCustomColor) w.Set(p.Nodes(), L"m_uiNodeCount");
    if (p.kind == kGrouped) w.Set(p.Nodes(), L"m_uiGroupCount");
    w.Set(p.comps, L"m_uiCompCount");
    for (unsigned k = 0; k < p.channels; ++k) UnnamedU32(w, p.counts ? p.counts[k] : 0u, L"puiComp");
    if (p.kind == kGrouped)
        for (unsigned g = 0; g < p.Nodes(); ++g)
            UnnamedU32(w, *p.groupSizes ? (*p.groupSizes)[g] : 1u, L"uiGroupSize");
    w.Set(p.spectral, L"m_uiSpectralChannelCount");
    w.Set(p.gamma, L"dGamma");
    if (p.colours)
        for (unsigned g = 0; g < p.Nodes(); ++g) UnnamedU32(w, *p.colours ? (*p.colours)[g] : kWhite, L"uiColor");
    for (unsigned i = 0; i < Slots(p); ++i) {
        if (w.LevelBegin(L"") != KZ_OK) continue;
        w.Set(p.gains ? p.gains[i] : 1.0, L"dGain");
        w.Set(p.offsets ? p.offsets[i] : 0.0, L"dOffset");
        w.LevelEnd();
    }
    w.LevelEnd();
    return KZ_OK;
}

int Load(Parts& p, CKzLiteVariantR& r)
{
    if (r.LevelBegin(ClassName(p.kind)) != KZ_OK) return KZ_ERR_FAILED;
    const unsigned S = r.Get(L"m_uiSpectralChannelCount", 0u);
    const unsigned K = r.Get(L"m_uiChannelCount", 0u);
    const unsigned comps = r.Get(L"m_uiCompCount", 0u);
    const unsigned bits = r.Get(L"m_uiBpc", 0u);
    const unsigned N = p.kind == kCustomColor ? r.Get(L"m_uiNodeCount", 0u)
                       : p.kind == kGrouped   ? r.Get(L"m_uiGroupCount", 0u)
                                              : 0u;
    if (K > kMaxCounts || N > kMaxCounts) {
        r.LevelEnd();
        return KZ_ERR_FAILED;
    }
    // Unnamed levels: K channel counts, G group sizes (grouped), then after
    // the gamma N node or G group colours, then the slots.
    const unsigned sizeLevels = p.kind == kGrouped ? N : 0;
    unsigned counts[kMaxCounts] = {};
    unsigned sizes[kMaxCounts];
    std::fill(sizes, sizes + kMaxCounts, 1u);
    kzlutparam::ForEachUnnamedLevel(r, [&](unsigned i) {
        if (i < K)
            counts[i] = r.Get(L"puiComp", 0u);
        else if (i - K < sizeLevels)
            sizes[i - K] = r.Get(L"uiGroupSize", 1u);
        else
            return false;
        return true;
    });
    if (Reinit(p, N, sizes, S, K, comps, counts, bits) != KZ_OK) {
        r.LevelEnd();
        return KZ_ERR_FAILED;
    }
    p.gamma = r.Get(L"dGamma", 1.0);
    const unsigned colourBase = K + sizeLevels;
    const unsigned colourLevels = p.kind == kTrueColor ? 0 : N;
    const unsigned slotBase = colourBase + colourLevels;
    const unsigned slots = Slots(p);
    kzlutparam::ForEachUnnamedLevel(r, [&](unsigned i) {
        if (i < colourBase) return true;
        if (i < slotBase) {
            if (p.colours && *p.colours && i - colourBase < p.Nodes())
                (*p.colours)[i - colourBase] = r.Get(L"uiColor", kWhite);
            return true;
        }
        const unsigned s = i - slotBase;
        if (s >= slots) return false;
        p.gains[s] = r.Get(L"dGain", 1.0);
        p.offsets[s] = r.Get(L"dOffset", 0.0);
        return true;
    });
    r.LevelEnd();
    return KZ_OK;
}

double GetSlot(const double* a, unsigned slots, unsigned i, double neutral) { return a && i < slots ? a[i] : neutral; }

int SetSlot(double* a, unsigned slots, unsigned i, double v)
{
    if (!a || i >= slots) return KZ_ERR_FAILED;
    a[i] = v;
    return KZ_OK;
}

} // namespace

// ---- the three classes -----------------------------------------------------------

Parts CKzLutParamSpectralTrueColor::parts() const
{
    auto& m = const_cast<CKzLutParamSpectralTrueColor&>(*this);
    return Parts{kTrueColor, m.m_uiBpc,   nullptr, m.m_uiSpectralChannelCount, m.m_uiChannelCount, m.m_uiCompCount,
                 m.m_puiComp, m.m_pdOffset, m.m_pdGain, nullptr, nullptr, m.m_dGamma};
}

Parts CKzLutParamSpectralCustomColor::parts() const
{
    auto& m = const_cast<CKzLutParamSpectralCustomColor&>(*this);
    return Parts{kCustomColor, m.m_uiBpc,     &m.m_uiNodeCount, m.m_uiSpectralChannelCount,
                 m.m_uiChannelCount, m.m_uiCompCount, m.m_puiComp, m.m_pdOffset, m.m_pdGain,
                 &m.m_puiColor, nullptr, m.m_dGamma};
}

Parts CKzLutParamSpectralGrouped::parts() const
{
    auto& m = const_cast<CKzLutParamSpectralGrouped&>(*this);
    return Parts{kGrouped,           m.m_uiBpc,       &m.m_uiGroupCount, m.m_uiSpectralChannelCount,
                 m.m_uiChannelCount, m.m_uiCompCount, m.m_puiComp,       m.m_pdOffset,
                 m.m_pdGain,         &m.m_puiColor,   &m.m_puiGroupSize, m.m_dGamma};
}

// What the three classes share.
#define KZ_SPECTRAL_COMMON(Class)                                                                    \
    Class::Class(const Class& other) : Class() { *this = other; }                                  \
    Class::~Class() { Free(); }                                                                      \
    void Class::Free()                                                                               \
    {                                                                                                \
        Parts p = parts();                                                                           \
        Release(p);                                                                                  \
    }                                                                                                \
    Class& Class::operator=(const Class& o)                                                          \
    {                                                                                                \
        if (this == &o) return *this;                                                                \
        Parts d = parts();                                                                           \
        Assign(d, o.parts());                                                                        \
        return *this;                                                                                \
    }                                                                                                \
    int Class::GetComponentSizes(unsigned** out) const                                               \
    {                                                                                                \
        if (!out) return KZ_ERR_FAILED;                                                              \
        *out = m_puiComp;                                                                            \
        return KZ_OK;                                                                                \
    }                                                                                                \
    unsigned Class::GetSpectralComponentCount() const                                                \
    {                                                                                                \
        return SpectralComponents(m_puiComp, std::min(m_uiSpectralChannelCount, m_uiChannelCount));  \
    }                                                                                                \
    unsigned Class::GetSlotCount() const { return m_pdOffset && m_pdGain ? Slots(parts()) : 0; }     \
    double Class::GetOffset(unsigned i) const { return GetSlot(m_pdOffset, GetSlotCount(), i, 0.0); } \
    double Class::GetGain(unsigned i) const { return GetSlot(m_pdGain, GetSlotCount(), i, 1.0); }     \
    int Class::SetOffset(unsigned i, double v) { return SetSlot(m_pdOffset, GetSlotCount(), i, v); }  \
    int Class::SetGain(unsigned i, double v) { return SetSlot(m_pdGain, GetSlotCount(), i, v); }      \
    int Class::SetGamma(double g)                                                                    \
    {                                                                                                \
        m_dGamma = g;                                                                                \
        return KZ_OK;                                                                                \
    }                                                                                                \
    bool Class::CompareWith(const Class& o) const { return Compare(parts(), o.parts()); }            \
    bool Class::IsUnit() const { return ::IsUnit(parts()); }                                         \
    void Class::SetUnit()                                                                            \
    {                                                                                                \
        Parts p = parts();                                                                           \
        ::SetUnit(p);                                                                                \
    }                                                                                                \
    int Class::SaveToLiteVariant(CKzLiteVariantW& w) const { return Save(parts(), w); }              \
    int Class::LoadFromLiteVariant(CKzLiteVariantR& r)                                               \
    {                                                                                                \
        Parts p = parts();                                                                           \
        return Load(p, r);                                                                           \
    }

KZ_SPECTRAL_COMMON(CKzLutParamSpectralTrueColor)
KZ_SPECTRAL_COMMON(CKzLutParamSpectralCustomColor)
KZ_SPECTRAL_COMMON(CKzLutParamSpectralGrouped)

// ---- true colour ---------------------------------------------------------------------

CKzLutParamSpectralTrueColor::CKzLutParamSpectralTrueColor() { Init(); }

CKzLutParamSpectralTrueColor::CKzLutParamSpectralTrueColor(unsigned spectral, unsigned channels, unsigned comps,
                                                           unsigned* compSizes, unsigned bits)
{
    Init();
    Reinit(spectral, channels, comps, compSizes, bits);
}

void CKzLutParamSpectralTrueColor::Init()
{
    Parts p = parts();
    Empty(p);
    m_iGradient = -1;
}

int CKzLutParamSpectralTrueColor::Reinit(unsigned spectral, unsigned channels, unsigned comps, unsigned* compSizes,
                                         unsigned bits)
{
    Parts p = parts();
    return ::Reinit(p, 0, nullptr, spectral, channels, comps, compSizes, bits);
}

int CKzLutParamSpectralTrueColor::SetGradient(int gradient)
{
    m_iGradient = gradient;
    return KZ_OK;
}

// ---- custom colours --------------------------------------------------------------------

CKzLutParamSpectralCustomColor::CKzLutParamSpectralCustomColor() { Init(); }

CKzLutParamSpectralCustomColor::CKzLutParamSpectralCustomColor(unsigned nodes, unsigned spectral, unsigned channels,
                                                               unsigned comps, unsigned* compSizes, unsigned bits)
{
    Init();
    Reinit(nodes, spectral, channels, comps, compSizes, bits);
}

void CKzLutParamSpectralCustomColor::Init()
{
    Parts p = parts();
    Empty(p);
}

int CKzLutParamSpectralCustomColor::Reinit(unsigned nodes, unsigned spectral, unsigned channels, unsigned comps,
                                           unsigned* compSizes, unsigned bits)
{
    Parts p = parts();
    return ::Reinit(p, nodes, nullptr, spectral, channels, comps, compSizes, bits);
}

unsigned CKzLutParamSpectralCustomColor::GetColor(unsigned i) const
{
    return i < m_uiNodeCount && m_puiColor ? m_puiColor[i] : kWhite;
}

void CKzLutParamSpectralCustomColor::SetColor(unsigned i, unsigned c)
{
    if (i < m_uiNodeCount && m_puiColor) m_puiColor[i] = c;
}

int CKzLutParamSpectralCustomColor::GetCompColors(unsigned* out) const
{
    if (!out) return KZ_ERR_FAILED;
    const unsigned total = m_uiCompCount;
    if (total == 0) return KZ_OK;
    const unsigned n = GetSpectralComponentCount();
    const unsigned N = m_puiColor ? m_uiNodeCount : 0;
    if (N == 1) {
        for (unsigned i = 0; i < n && i < total; ++i) out[i] = m_puiColor[0];
    } else if (N > 1 && n > 0) {
        const double step = double(n - 1) / double(N - 1);
        unsigned next = 0;
        for (unsigned k = 0; k + 1 < N && next < total; ++k) {
            const double pk = step * k, pk1 = step * (k + 1);
            // The last segment always closes on the last spectral component.
            const i64 end = k + 2 == N ? i64(n) - 1 : std::min<i64>(KzTruncToInt64(pk1), i64(n) - 1);
            const unsigned a = m_puiColor[k] & kWhite, b = m_puiColor[k + 1] & kWhite;
            for (; i64(next) <= end && next < total; ++next) {
                const double d = pk1 - pk;
                i64 w = 0;
                if (d > 0) w = std::clamp<i64>(KzTruncToInt64((double(next) - pk) * 70000 / d), 0, 65536);
                out[next] = InterpolateColorHSI8(a, b, int(w));
            }
        }
    }
    for (unsigned i = n; i < total; ++i) out[i] = kWhite;
    return KZ_OK;
}

// ---- grouped ---------------------------------------------------------------------------

CKzLutParamSpectralGrouped::CKzLutParamSpectralGrouped() { Init(); }

CKzLutParamSpectralGrouped::CKzLutParamSpectralGrouped(unsigned groups, unsigned* groupSizes, unsigned spectral,
                                                       unsigned channels, unsigned comps, unsigned* compSizes,
                                                       unsigned bits)
{
    Init();
    Reinit(groups, groupSizes, spectral, channels, comps, compSizes, bits);
}

void CKzLutParamSpectralGrouped::Init()
{
    Parts p = parts();
    Empty(p);
}

int CKzLutParamSpectralGrouped::Reinit(unsigned groups, unsigned* groupSizes, unsigned spectral, unsigned channels,
                                       unsigned comps, unsigned* compSizes, unsigned bits)
{
    Parts p = parts();
    return ::Reinit(p, groups, groupSizes, spectral, channels, comps, compSizes, bits);
}

int CKzLutParamSpectralGrouped::GetGroupSizes(unsigned** out) const
{
    if (!out) return KZ_ERR_FAILED;
    *out = m_puiGroupSize;
    return KZ_OK;
}

unsigned CKzLutParamSpectralGrouped::GetColor(unsigned i) const
{
    return i < m_uiGroupCount && m_puiColor ? (m_puiColor[i] & kWhite) : kWhite;
}

void CKzLutParamSpectralGrouped::SetColor(unsigned i, unsigned c)
{
    if (i < m_uiGroupCount && m_puiColor) m_puiColor[i] = c;
}
