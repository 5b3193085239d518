// Spectral LUT blocks: the per-component offset, gain, gamma and colour the
// spectral rendering kernels read, from the spectral parameter classes or the
// older LUT parameters; conversions of the older parameters into the classes
// and of visibility masks between components and spectral groups.
#include "gnr_picture/CKzPicBufAPI.h"

#include "gnr_picture/CKzLutParam.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/SKzLutParam.h"
#include "gnr_system/CKzRangeMask.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr unsigned kMax = SKzLutParam::kMaxComponents;
constexpr u32 kWhite = 0x00FFFFFFu;

bool HasGradient(i64 g) { return g >= 1 && g <= 255 && u64(g) < SKzLut::GetPredefLutsCount(); }

// Offsets, gains and colours of every component.
struct Block {
    std::vector<double> offset, gain;
    std::vector<u32> colour;
    explicit Block(unsigned n) : offset(n, 0.0), gain(n, 1.0), colour(n, kWhite) {}
};

// Shapes the LUT, makes a fresh parametric block and writes the values.
int Write(SKzLut* lut, unsigned bits, unsigned comps, bool shared, const Block& b, double gamma)
{
    const int shaped = shared ? SKzLut::check_luts_spectral_ex(*lut, u8(bits), u8(comps), 8, 3)
                              : SKzLut::check_luts(*lut, u8(bits), u8(comps), 8, 3);
    if (shaped) return shaped;
    if (SKzLut::ReinitParametric(*lut) != KZ_OK || !lut->pParametric) return KZ_ERR_OUT_OF_MEMORY;
    for (unsigned c = 0; c < lut->uiInComp; ++c) {
        SKzLutParametric& p = lut->pParametric[c];
        p.dOffset = c < comps ? -b.offset[c] : 0.0;
        p.dGain = c < comps ? b.gain[c] : 0.0;
        p.dGamma = gamma;
        p.uiColor = c < comps ? b.colour[c] : 0;
    }
    lut->maskComp.SetSize(comps);
    lut->maskComp.Set();
    return KZ_OK;
}

// The components of ordinary channel j take slot `slot + j` scaled by
// (0.5 / norm) / n_o.
template <class P>
void Ordinary(Block& b, const P& p, unsigned firstSlot, double norm)
{
    unsigned* sizes = nullptr;
    p.GetComponentSizes(&sizes);
    const unsigned S = p.GetSpectralChannelCount(), K = p.GetChannelCount(), comps = p.GetComponentCount();
    const unsigned ns = p.GetSpectralComponentCount();
    if (!sizes || ns >= comps) return;
    const double f = (0.5 / norm) / double(comps - ns);
    unsigned c = ns;
    for (unsigned ch = S; ch < K; ++ch)
        for (unsigned k = 0; k < sizes[ch] && c < comps; ++k, ++c) {
            b.offset[c] = p.GetOffset(firstSlot + ch - S) * f;
            b.gain[c] = p.GetGain(firstSlot + ch - S) * f;
            b.colour[c] = kWhite;
        }
}

// Checks shared by the class-based builders: the component count fits the
// records and the spectral components lie within it.
template <class P>
bool Shape(const P& p, double norm)
{
    const unsigned comps = p.GetComponentCount();
    return comps > 0 && comps <= kMax && p.GetSpectralComponentCount() <= comps && norm > 0 &&
           std::isfinite(norm);
}

} // namespace

int CKzPicBufAPI::CreateLutsSpectralTrueColor(SKzLut* lut, CKzLutParamSpectralTrueColor* param, unsigned* colours,
                                              double norm)
{
    if (!lut || !param || !Shape(*param, norm)) return KZ_ERR_FAILED;
    const unsigned comps = param->GetComponentCount(), ns = param->GetSpectralComponentCount();
    Block b(comps);
    const bool ordinary = param->GetChannelCount() > param->GetSpectralChannelCount();
    for (unsigned c = 0; c < ns; ++c) {
        b.offset[c] = param->GetOffset(0);
        b.gain[c] = ordinary ? param->GetGain(0) * 0.5 / norm : param->GetGain(0) / norm;
    }
    Ordinary(b, *param, 1, norm);
    for (unsigned c = 0; c < comps; ++c) b.colour[c] = colours ? colours[c] : kWhite;
    if (int r = Write(lut, param->GetBpc(), comps, HasGradient(param->GetGradient()), b, param->GetGamma())) return r;
    lut->iPredefLut = param->GetGradient() & 0xFF;
    return KZ_OK;
}

int CKzPicBufAPI::CreateLutsSpectralCustomColor(SKzLut* lut, CKzLutParamSpectralCustomColor* param, double norm)
{
    if (!lut || !param || !Shape(*param, norm)) return KZ_ERR_FAILED;
    const unsigned comps = param->GetComponentCount(), ns = param->GetSpectralComponentCount();
    const unsigned N = param->GetNodeCount();
    Block b(comps);
    // Nodes spread over the spectral components; without any there is
    // nothing to spread them over.
    if (N > 1 && ns > 0) {
        std::vector<unsigned> pos(N);
        for (unsigned k = 0; k < N; ++k) pos[k] = unsigned(u64(k) * (ns - 1) / (N - 1));
        for (unsigned k = 0; k + 1 < N; ++k) {
            const double o0 = param->GetOffset(k), o1 = param->GetOffset(k + 1);
            const double g0 = param->GetGain(k), g1 = param->GetGain(k + 1);
            const double span = double(pos[k + 1] - pos[k]);
            for (unsigned c = pos[k]; c < pos[k + 1]; ++c) {
                b.offset[c] = o0 + (o1 - o0) * double(c - pos[k]) / span;
                b.gain[c] = g0 + (g1 - g0) * double(c - pos[k]) / span;
            }
        }
        b.offset[pos[N - 1]] = param->GetOffset(N - 1);
        b.gain[pos[N - 1]] = param->GetGain(N - 1);
    } else {
        for (unsigned c = 0; c < ns; ++c) {
            b.offset[c] = param->GetOffset(0);
            b.gain[c] = param->GetGain(0);
        }
    }
    for (unsigned c = 0; c < ns; ++c) b.gain[c] /= norm;
    Ordinary(b, *param, N, norm);
    param->GetCompColors(b.colour.data());
    return Write(lut, param->GetBpc(), comps, false, b, param->GetGamma());
}

int CKzPicBufAPI::CreateLutsSpectralGrouped(SKzLut* lut, CKzLutParamSpectralGrouped* param, double norm)
{
    if (!lut || !param || !Shape(*param, norm)) return KZ_ERR_FAILED;
    const unsigned comps = param->GetComponentCount(), ns = param->GetSpectralComponentCount();
    const unsigned G = param->GetGroupCount();
    unsigned* sizes = nullptr;
    param->GetGroupSizes(&sizes);
    if (G > 0 && !sizes) return KZ_ERR_FAILED;
    u64 total = 0;
    for (unsigned g = 0; g < G; ++g) {
        if (sizes[g] == 0) return KZ_ERR_FAILED;
        total += sizes[g];
    }
    if (total > ns) return KZ_ERR_FAILED;
    Block b(comps);
    // Spectral components past the last group do not render.
    for (unsigned c = 0; c < ns; ++c) b.offset[c] = 0.0, b.gain[c] = 0.0, b.colour[c] = 0;
    unsigned c = 0;
    for (unsigned g = 0; g < G; ++g)
        for (unsigned k = 0; k < sizes[g]; ++k, ++c) {
            b.offset[c] = param->GetOffset(g);
            b.gain[c] = param->GetGain(g) * double(ns) / (double(sizes[g]) * double(G)) / norm;
            b.colour[c] = param->GetColor(g);
        }
    Ordinary(b, *param, G, norm);
    return Write(lut, param->GetBpc(), comps, false, b, param->GetGamma());
}

int CKzPicBufAPI::CreateLutsSpectral(SKzLut* lut, SKzLutParam* param, unsigned* colours, unsigned spectralComps,
                                     unsigned comps, double norm)
{
    if (!lut || !param || comps == 0 || comps > kMax || spectralComps > comps || !(norm > 0) || !std::isfinite(norm))
        return KZ_ERR_FAILED;
    // The block follows the table's components; a LUT without a table takes
    // the component count.
    if (lut->pLut && lut->uiInComp != comps) return KZ_ERR_FAILED;
    if (!lut->pLut) lut->uiInComp = u8(comps);
    SKzLutParam::SKzLUTDataSpectral& s = param->sLutDataSpectral;
    lut->iPredefLut = s.uiSpectralColorMode == 3 && param->uiGradient <= 255 ? int(param->uiGradient) : -1;
    if (s.uiCompCount != spectralComps) s.uiCompCount = spectralComps;

    double offset[kMax] = {}, gain[kMax];
    std::fill(gain, gain + kMax, 1.0);
    s.GetCompOffsetAndGains(offset, gain);
    if (s.uiSpectralColorMode == 2 && spectralComps > 0) {
        const unsigned limit = std::min(spectralComps, lut->maskComp.GetSize());
        unsigned visible = 0;
        for (unsigned c = 0; c < limit; ++c) visible += lut->maskComp.Get(c) ? 1 : 0;
        u32 last[kMax];
        std::fill(last, last + kMax, spectralComps - 1);
        const unsigned groups = std::min(s.GetAllGroupCount(last, true), kMax);
        for (unsigned g = 0, first = 0; g < groups && first < spectralComps; ++g) {
            const unsigned end = std::min(last[g], spectralComps - 1);
            if (end < first) continue;
            if (lut->maskComp.Get(first)) {
                const double scale = double(visible) / (double(end - first + 1) * double(groups));
                for (unsigned c = first; c <= end; ++c) gain[c] *= scale;
            }
            first = end + 1;
        }
    }
    const unsigned bits = lut->uiInBpc;
    for (unsigned c = spectralComps; c < comps; ++c) {
        offset[c] = double(param->GetMinSrc(c, bits)) - double(param->GetMinDst(c, bits));
        const double src = param->GetCompMaxSrcDbl(c);
        gain[c] = 0.5 * (src > 0 ? param->GetCompMaxDstDbl(c) / src : 100000.0);
    }
    const double spectralScale = spectralComps < comps ? 0.5 / norm : 1.0 / norm;
    for (unsigned c = 0; c < spectralComps; ++c) gain[c] *= spectralScale;

    if (SKzLut::ReinitParametric(*lut) != KZ_OK || !lut->pParametric) return KZ_ERR_OUT_OF_MEMORY;
    for (unsigned c = 0; c < lut->uiInComp; ++c) {
        SKzLutParametric& p = lut->pParametric[c];
        p.dOffset = -offset[c];
        p.dGain = gain[c];
        p.dGamma = param->dGammaSrc;
        p.uiColor = colours ? colours[c] : kWhite;
    }
    return KZ_OK;
}

namespace {

// Offset and gain of an ordinary channel i of the older parameters: its
// effective source minimum, and destination over source maximum.
void OrdinarySlot(SKzLutParam& src, unsigned i, unsigned bits, double& offset, double& gain)
{
    offset = double(src.GetMinSrc(i, bits));
    const double mx = double(src.GetMaxSrc(i, bits));
    gain = mx > 0 ? double(src.GetMaxDst(i, bits)) / mx : 100000.0;
}

} // namespace

int CKzPicBufAPI::ConvertOldLutParamToLutSpectralTrueColor(CKzLutParamSpectralTrueColor* dst, SKzLutParam* src,
                                                           unsigned S, unsigned K, unsigned comps,
                                                           unsigned* compSizes, unsigned bits)
{
    if (!dst || !src) return KZ_ERR_FAILED;
    dst->Reinit(S, K, comps, compSizes, bits);
    if (!compSizes && S != K) return KZ_ERR_FAILED;
    for (unsigned i = S; i < K; ++i) {
        double o, g;
        OrdinarySlot(*src, i, bits, o, g);
        dst->SetOffset(i - S + 1, o);
        dst->SetGain(i - S + 1, g);
    }
    dst->SetOffset(0, src->sLutDataSpectral.GetOffset(0));
    dst->SetGain(0, src->sLutDataSpectral.GetGain(0));
    dst->SetGamma(src->dGammaSrc);
    dst->SetGradient(int(src->uiGradient));
    return KZ_OK;
}

int CKzPicBufAPI::ConvertOldLutParamToLutSpectralCustomColor(CKzLutParamSpectralCustomColor* dst, SKzLutParam* src,
                                                             unsigned S, unsigned K, unsigned comps,
                                                             unsigned* compSizes, unsigned bits)
{
    if (!dst || !src) return KZ_ERR_FAILED;
    SKzLutParam::SKzLUTDataSpectral& s = src->sLutDataSpectral;
    const unsigned groups = std::min(s.GetAllGroupCount(nullptr, true), kMax);
    dst->Reinit(groups, S, K, comps, compSizes, bits);
    if (!compSizes && S != K) return KZ_ERR_FAILED;
    const unsigned N = dst->GetNodeCount();
    for (unsigned i = S; i < K; ++i) {
        double o, g;
        OrdinarySlot(*src, i, bits, o, g);
        dst->SetOffset(N + i - S, o);
        dst->SetGain(N + i - S, g);
    }
    for (unsigned k = 0; k < N; ++k) {
        dst->SetOffset(k, s.GetOffset(k));
        dst->SetGain(k, s.GetGain(k));
        if (s.puiColorCustom && k < s.uiLength) dst->SetColor(k, s.puiColorCustom[k]);
    }
    dst->SetGamma(src->dGammaSrc);
    return KZ_OK;
}

int CKzPicBufAPI::ConvertOldLutParamToLutSpectralGrouped(CKzLutParamSpectralGrouped* dst, SKzLutParam* src,
                                                         unsigned S, unsigned K, unsigned comps, unsigned* compSizes,
                                                         unsigned bits)
{
    if (!dst || !src) return KZ_ERR_FAILED;
    SKzLutParam::SKzLUTDataSpectral& s = src->sLutDataSpectral;
    const unsigned n = std::min(s.uiCompCount, kMax);
    u32 last[kMax];
    std::fill(last, last + kMax, n ? n - 1 : 0);
    unsigned G = std::min(s.GetAllGroupCount(last, true), kMax);
    if (n == 0) G = 0;
    std::vector<unsigned> sizes(G ? G : 1, 1);
    for (unsigned g = 0; g < G; ++g) {
        const unsigned prev = g ? last[g - 1] : 0;
        sizes[g] = g ? (last[g] > prev ? last[g] - prev : 0) : last[0] + 1;
    }
    dst->Reinit(G, sizes.data(), S, K, comps, compSizes, bits);
    if (!compSizes && S != K) return KZ_ERR_FAILED;
    const unsigned Gd = dst->GetGroupCount();
    for (unsigned i = S; i < K; ++i) {
        double o, g;
        OrdinarySlot(*src, i, bits, o, g);
        dst->SetOffset(Gd + i - S, o);
        dst->SetGain(Gd + i - S, g);
    }
    for (unsigned g = 0; g < Gd; ++g) {
        dst->SetOffset(g, s.GetOffset(g));
        dst->SetGain(g, s.GetGain(g));
        if (s.puiColorGroup && g < s.uiLength) dst->SetColor(g, s.puiColorGroup[g]);
    }
    dst->SetGamma(src->dGammaSrc);
    return KZ_OK;
}

int CKzPicBufAPI::ComponentMaskToSpectralGroupMask(CKzRangeMask& dst, const CKzRangeMask& src, SKzLutParam& param,
                                                   unsigned comps)
{
    const SKzLutParam::SKzLUTDataSpectral& s = param.sLutDataSpectral;
    if (s.uiSpectralColorMode != 1 && s.uiSpectralColorMode != 2) return KZ_ERR_FAILED;
    const unsigned groups = std::min(s.uiGroupCount, kMax);
    const bool extra = s.uiCompCount < comps;
    dst.SetSize(groups + (extra ? 1 : 0));
    dst.Reset();
    for (unsigned c = 0; c < comps && c < kMax; ++c) {
        const unsigned g = param.sCompLutParam[c].uiGroup;
        if (src.Get(c) && g < groups) dst.Set(g, true);
    }
    if (extra) dst.Set(groups, src.Get(comps - 1));
    return KZ_OK;
}

int CKzPicBufAPI::SpectralGroupMaskToComponentMask(CKzRangeMask& dst, const CKzRangeMask& src, SKzLutParam& param,
                                                   unsigned comps)
{
    const SKzLutParam::SKzLUTDataSpectral& s = param.sLutDataSpectral;
    if (s.uiSpectralColorMode != 1 && s.uiSpectralColorMode != 2) return KZ_ERR_FAILED;
    const unsigned groups = std::min(s.uiGroupCount, kMax);
    dst.SetSize(comps);
    dst.Reset();
    const unsigned spectral = std::min({s.uiCompCount, comps, kMax});
    for (unsigned c = 0; c < spectral; ++c) {
        const unsigned g = param.sCompLutParam[c].uiGroup;
        if (g < groups && src.Get(g)) dst.Set(c, true);
    }
    const bool others = src.GetSize() > groups && src.Get(groups);
    for (unsigned c = spectral; c < comps; ++c)
        if (others) dst.Set(c, true);
    return KZ_OK;
}
