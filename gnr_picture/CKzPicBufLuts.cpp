// Display LUTs of one- and multichannel and true-colour pictures from their
// LUT parameters: one tone curve per component (shared between components
// whose curves are equal), coloured by a component colour, a predefined
// palette or the RGB channel colours.
#include "gnr_picture/CKzPicBufAPI.h"

#include "gnr_picture/CKzLutParam.h"
#include "gnr_picture/CKzPredefLUTs.h"
#include "gnr_picture/KzLutParamLite.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/SKzLutParam.h"

#include <vector>

namespace {

constexpr u32 kWhite = 0x00FFFFFFu;
// Blue, green and red for components 0, 1 and 2 (0x00BBGGRR).
constexpr u32 kRgbColours[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};

// A gradient selects a palette only when it names a registry entry; any other
// value (also every value before InitPredefLuts) means no gradient.
bool HasGradient(i64 g) { return g >= 1 && g <= 255 && u64(g) < SKzLut::GetPredefLutsCount(); }

u32 Full(unsigned bits) { return kzlutparam::FullValue(bits); }

// A LUT that lives for one call.
struct TempLut {
    SKzLut lut;
    TempLut() = default;
    TempLut(const TempLut&) = delete;
    ~TempLut() { SKzLut::Free(lut); }
};

// Tone value v of a flat tone LUT (bytes up to 8 bits, words above).
u32 ToneAt(const SKzLut& t, size_t v)
{
    return t.uiOutBpc > 8 ? static_cast<const u16*>(t.pLut)[v] : static_cast<const u8*>(t.pLut)[v];
}

// Entry row v of component c of a 3-output, 8-bit colour LUT.
u8* Entry(SKzLut& lut, unsigned c, size_t v)
{
    if (lut.uiInComp == 1) return static_cast<u8**>(lut.pLut)[0] + 3 * v;
    return static_cast<u8***>(lut.pLut)[c][0] + 3 * v;
}

// The tone curve of one component: source minimum .. maximum onto dstMin ..
// dstMax with a gamma.
struct Curve {
    u32 min, max, dstMin, dstMax;
    double gamma;
    bool operator==(const Curve& o) const { return min == o.min && max == o.max && gamma == o.gamma; }
};

// Flat tone LUTs for every component, equal curves sharing one table.
// owner[c] is the component whose table c uses.
struct Tones {
    std::vector<TempLut> luts;
    std::vector<unsigned> owner;

    // 0, or -3 when a table cannot be allocated.
    int Build(const std::vector<Curve>& curves, unsigned bits)
    {
        const size_t n = curves.size();
        luts = std::vector<TempLut>(n);
        owner.assign(n, ~0u);
        for (size_t c = 0; c < n; ++c) {
            if (owner[c] != ~0u) continue;
            owner[c] = unsigned(c);
            for (size_t d = c + 1; d < n; ++d)
                if (owner[d] == ~0u && curves[d] == curves[c]) owner[d] = unsigned(c);
            SKzLut& t = luts[c].lut;
            if (SKzLut::check_luts(t, u8(bits), 1, u8(bits), 1) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
            // A window of no width leaves the curve at 0.
            SKzLut::CreateGammaTable(t, 0, i32(curves[c].min), i32(curves[c].dstMin), i32(curves[c].max),
                                     i32(curves[c].dstMax), curves[c].gamma);
        }
        return KZ_OK;
    }
    const SKzLut& Of(unsigned c) const { return luts[owner[c]].lut; }
    bool AllShared() const
    {
        for (unsigned o : owner)
            if (o != 0) return false;
        return true;
    }
};

// Component colours scaled by their tone values.
void ColourByTone(SKzLut& lut, const Tones& tones, const u32* colours, unsigned comps, unsigned bits)
{
    const size_t n = size_t(1) << bits;
    const u32 last = Full(bits);
    for (unsigned c = 0; c < comps; ++c) {
        const SKzLut& t = tones.Of(c);
        const u32 colour = colours ? colours[c] : kWhite;
        const u32 R = colour & 0xFF, G = (colour >> 8) & 0xFF, B = (colour >> 16) & 0xFF;
        u8* e = Entry(lut, c, 0);
        for (size_t v = 0; v < n; ++v, e += 3) {
            const u32 s = ToneAt(t, v);
            e[0] = u8(B * s / last);
            e[1] = u8(G * s / last);
            e[2] = u8(R * s / last);
        }
    }
}

// Every component's tone value sampled in a palette.
void PaletteByTone(SKzLut& lut, const Tones& tones, unsigned comps, unsigned bits, int gradient)
{
    const size_t n = size_t(1) << bits;
    for (unsigned c = 0; c < comps; ++c) {
        const SKzLut& t = tones.Of(c);
        u8* e = Entry(lut, c, 0);
        for (size_t v = 0; v < n; ++v, e += 3) {
            const u32 p = CKzPredefLUTs::GetLUTEntry(gradient, ToneAt(t, v), u32(n));
            e[0] = u8(p);
            e[1] = u8(p >> 8);
            e[2] = u8(p >> 16);
        }
    }
}

void FullMaskIfEmpty(SKzLut& lut, unsigned comps)
{
    if (lut.maskComp.GetSize() != 0) return;
    lut.maskComp.SetSize(comps);
    lut.maskComp.Set();
}

// One component: a tone curve, then a palette or a colour.
int SingleComponent(SKzLut& lut, const Curve& curve, bool outsideLow, bool windowedGradient, int gradient,
                    u32 colour, unsigned bits)
{
    TempLut t;
    if (SKzLut::check_luts(t.lut, u8(bits), 1, u8(bits), 1) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
    if (outsideLow)
        SKzLut::CreateGammaTable2(t.lut, 0, i32(curve.min), i32(curve.dstMin), i32(curve.max), i32(curve.dstMax),
                                  curve.gamma);
    else
        SKzLut::CreateGammaTable(t.lut, 0, i32(curve.min), i32(curve.dstMin), i32(curve.max), i32(curve.dstMax),
                                 curve.gamma);
    if (HasGradient(gradient)) {
        if (windowedGradient)
            return SKzLut::CreateRainbowLUTTable2(lut, t.lut, gradient, curve.dstMin, curve.dstMax, curve.min,
                                                  curve.max);
        return SKzLut::CreateRainbowLUTTable(lut, t.lut, gradient);
    }
    return SKzLut::CreateColorTableEx(lut, colour, &t.lut, false, 0, false, 0);
}

} // namespace

int CKzPicBufAPI::CreateLutsMCH(SKzLut* lut, CKzLutParamMCH* param, unsigned* colours)
{
    if (!lut || !param) return KZ_ERR_FAILED;
    const unsigned n = param->GetComponentCount();
    unsigned* sizes = nullptr;
    param->GetComponentSizes(&sizes);
    const unsigned channels = param->GetChannelCount();
    if (n > 255) return KZ_ERR_FAILED;
    if (n >= 2) {
        if (!sizes) return KZ_ERR_FAILED;
        u64 sum = 0;
        for (unsigned k = 0; k < channels; ++k) sum += sizes[k];
        if (sum != n) return KZ_ERR_FAILED;
    }
    const unsigned bits = param->GetBpc();
    if (bits < 8 || bits > 16) return KZ_ERR_FAILED;
    const unsigned comps = n < 1 ? 1 : n;
    if (int r = SKzLut::check_luts(*lut, u8(bits), u8(comps), 8, 3)) return r;
    const u32 full = Full(bits);
    const int gradient = param->GetGradient();

    int result = KZ_OK;
    if (comps == 1) {
        const Curve curve{param->GetMin(0), param->GetMax(0), 0, full, param->GetGamma(0)};
        const u32 colour = n == 0 || !colours ? kWhite : colours[0];
        const CKzLutParamMCH::EKzLutOutside outside = param->GetOutside();
        result = SingleComponent(*lut, curve, outside == CKzLutParamMCH::eLutOutsideLow,
                                 outside == CKzLutParamMCH::eLutOutsideGradientWindow, gradient, colour, bits);
    } else {
        std::vector<Curve> curves(comps);
        unsigned c = 0;
        for (unsigned k = 0; k < channels; ++k)
            for (unsigned j = 0; j < sizes[k] && c < comps; ++j, ++c)
                curves[c] = Curve{param->GetMin(k), param->GetMax(k), 0, full, param->GetGamma(k)};
        Tones tones;
        if ((result = tones.Build(curves, bits)) == KZ_OK) ColourByTone(*lut, tones, colours, comps, bits);
    }
    FullMaskIfEmpty(*lut, comps);
    if (comps == 1 && HasGradient(gradient)) lut->maskComp.Set(0, true);
    return result;
}

int CKzPicBufAPI::CreateLutsMCH(SKzLut* lut, SKzLutParam* param, unsigned bits, unsigned comps, unsigned* colours,
                                bool spectral, bool keepMask, SKzLut* source)
{
    if (!lut || bits == 0 || bits > 16 || comps > 255) return KZ_ERR_FAILED;
    const bool white = comps == 0;
    if (white) comps = 1;
    std::vector<u32> palette(comps, kWhite);
    if (colours && !white)
        for (unsigned c = 0; c < comps; ++c) palette[c] = colours[c];

    const int gradient = param ? int(param->uiGradient) : 0;
    const bool hasGradient = param && HasGradient(param->uiGradient);
    const bool greySpectral = spectral && param && param->sLutDataSpectral.uiSpectralColorMode == 3 && hasGradient;
    const int shaped = greySpectral ? SKzLut::check_luts_spectral_ex(*lut, u8(bits), u8(comps), 8, 3)
                                    : SKzLut::check_luts(*lut, u8(bits), u8(comps), 8, 3);
    if (shaped) return shaped;

    int result = KZ_OK;
    if (param && comps == 1) {
        const Curve curve{param->GetMinSrc(bits), param->GetMaxSrc(bits), param->GetMinDst(bits),
                          param->GetMaxDst(bits), param->dGammaSrc};
        result = SingleComponent(*lut, curve, param->uiOutside == 1, param->uiOutside == 2, gradient, palette[0], bits);
    } else if (param) {
        std::vector<Curve> curves(comps);
        for (unsigned c = 0; c < comps; ++c)
            curves[c] = Curve{param->GetMinSrc(c, bits), param->GetMaxSrc(c, bits), param->GetMinDst(c, bits),
                              param->GetMaxDst(c, bits), param->GetGammaSrc(c)};
        Tones tones;
        result = tones.Build(curves, bits);
        if (result == KZ_OK) {
            if (greySpectral) {
                if (tones.AllShared()) {
                    SKzLut::CreateRainbowLUTTableSpect_SameChannels(*lut, tones.luts[0].lut, gradient);
                } else {
                    for (unsigned c = 0; c < comps; ++c)
                        SKzLut::CreateRainbowLUTTableSpect_1Channel(*lut, c, const_cast<SKzLut&>(tones.Of(c)),
                                                                    gradient);
                }
            } else if (hasGradient) {
                PaletteByTone(*lut, tones, comps, bits, gradient);
            } else {
                ColourByTone(*lut, tones, palette.data(), comps, bits);
            }
        }
    } else if (source && source->pLut) {
        result = SKzLut::CreateMultiColorTableEx(*lut, palette.data(), u8(comps), source, false, 0, false, 0);
        if (result != KZ_OK && source->uiOutComp != lut->uiInComp && source->uiInBpc == lut->uiInBpc) {
            // A source of another shape is taken over as it is.
            if (source->uiInComp != lut->uiInComp || source->uiOutComp != lut->uiOutComp) {
                SKzLut::Free(*lut);
                if (int r = SKzLut::Alloc(*lut, source->uiInBpc, source->uiInComp, source->uiOutBpc, source->uiOutComp))
                    return r;
            }
            SKzLut::Copy(*lut, *source);
            result = KZ_OK;
        }
    } else {
        result = SKzLut::CreateMultiColorTable(*lut, palette.data(), u8(comps));
    }
    FullMaskIfEmpty(*lut, comps);
    if (!keepMask && param && comps == 1 && hasGradient) lut->maskComp.Set(0, true);
    return result;
}

int CKzPicBufAPI::CreateLutsMono(SKzLut* lut, SKzLutParam* param, unsigned bits, unsigned* colour, SKzLut* source)
{
    u32 white = kWhite;
    return CreateLutsMCH(lut, param, bits, 1, colour ? colour : &white, false, false, source);
}

int CKzPicBufAPI::CreateLutsRGB(SKzLut* lut, CKzLutParamRGB* param, unsigned visibleMask, bool channelColours)
{
    if (!lut || !param) return KZ_ERR_FAILED;
    const unsigned mask = visibleMask & 7;
    const unsigned visible = (mask & 1) + ((mask >> 1) & 1) + ((mask >> 2) & 1);
    if (visible == 3) channelColours = true;
    u32 colours[3];
    for (unsigned i = 0; i < 3; ++i)
        colours[i] = (mask >> i) & 1 ? (channelColours ? kRgbColours[i] : kWhite) : 0;
    const unsigned bits = param->GetBpc();
    if (bits < 8 || bits > 16) return KZ_ERR_FAILED;

    TempLut temp;
    SKzLut* target = lut;
    unsigned outBits = 8;
    if (channelColours) {
        if (int r = SKzLut::check_luts(*lut, u8(bits), 1, 8, 3)) return r;
    } else {
        if (int r = SKzLut::check_luts(*lut, u8(bits), 3, 8, 3)) return r;
        if (SKzLut::Alloc(temp.lut, u8(bits), 1, u8(bits), 3) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
        target = &temp.lut;
        outBits = bits;
    }
    for (unsigned i = 0; i < 3; ++i) {
        if (visible == 3 || ((mask >> i) & 1))
            SKzLut::CreateGammaTable(*target, u8(i), i32(param->GetMin(i)), 0, i32(param->GetMax(i)),
                                     i32(param->GetMaxDst(i, outBits)), param->GetGamma(i));
        else
            SKzLut::CreateLinearTable(*target, u8(i), 0, 0, i32(Full(bits)), 0);
    }
    int result = KZ_OK;
    if (!channelColours) result = SKzLut::CreateMultiColorTableEx(*lut, colours, 3, &temp.lut, false, 0, false, 0);
    // The mask keeps every bit the caller gave, not only the three channels.
    lut->maskComp.SetMask((unsigned long)visibleMask);
    return result;
}

int CKzPicBufAPI::CreateLutsRGB(SKzLut* lut, SKzLutParam* param, unsigned bits, SKzLut* source, CKzRangeMask* visible,
                                bool channelColours)
{
    if (!lut || bits == 0 || bits > 16) return KZ_ERR_FAILED;
    unsigned shown = 3;
    if (!visible) {
        channelColours = true;
    } else {
        shown = 0;
        for (unsigned i = 0; i < 3; ++i) shown += visible->Get(i) ? 1 : 0;
        if (shown == 3) channelColours = true;
    }
    const bool partly = visible && shown <= 2 && param;
    u32 colours[3] = {kRgbColours[0], kRgbColours[1], kRgbColours[2]};
    if (visible)
        for (unsigned i = 0; i < 3; ++i)
            colours[i] = visible->Get(i) ? (channelColours ? kRgbColours[i] : kWhite) : 0;
    const unsigned inputs = (partly && channelColours) || (!partly && param) ? 1 : 3;
    if (int r = SKzLut::check_luts(*lut, u8(bits), u8(inputs), 8, 3)) return r;

    int result = KZ_OK;
    if (param) {
        TempLut temp;
        SKzLut* target = lut;
        unsigned outBits = 8;
        if (visible && !channelColours) {
            if (SKzLut::Alloc(temp.lut, u8(bits), 1, u8(bits), 3) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
            target = &temp.lut;
            outBits = bits;
        }
        for (unsigned i = 0; i < 3; ++i) {
            if (shown == 3 || visible->Get(i))
                SKzLut::CreateGammaTable(*target, u8(i), i32(param->GetMinSrc(i, bits)),
                                         i32(param->GetMinDst(i, outBits)), i32(param->GetMaxSrc(i, bits)),
                                         i32(param->GetMaxDst(i, outBits)), param->GetGammaSrc(i));
            else
                SKzLut::CreateLinearTable(*target, u8(i), 0, 0, i32(Full(bits)), 0);
        }
        if (target != lut) result = SKzLut::CreateMultiColorTableEx(*lut, colours, 3, &temp.lut, false, 0, false, 0);
    } else if (source && source->pLut) {
        result = SKzLut::CreateMultiColorTableEx(*lut, colours, 3, source, false, 0, false, 0);
    } else {
        result = SKzLut::CreateMultiColorTable(*lut, colours, 3);
    }
    if (visible)
        lut->maskComp = *visible;
    else
        FullMaskIfEmpty(*lut, 3);
    return result;
}

int CKzPicBufAPI::ConvertOldLutParamToLutParamMCH(CKzLutParamMCH* dst, SKzLutParam* src, unsigned channels,
                                                  unsigned comps, unsigned* compSizes, unsigned bits)
{
    if (!dst || !src) return KZ_ERR_FAILED;
    if (int r = dst->Reinit(channels, comps, compSizes, bits)) return r;
    if (comps < 2) {
        dst->SetMin(0, src->GetMinSrc(bits));
        dst->SetMax(0, src->GetMaxSrc(bits));
        dst->SetGamma(0, src->dGammaSrc);
        dst->SetGradient(int(src->uiGradient));
        dst->SetOutside(CKzLutParamMCH::EKzLutOutside(src->uiOutside));
        return KZ_OK;
    }
    unsigned* sizes = compSizes;
    if (!sizes) dst->GetComponentSizes(&sizes);
    u64 first = 0;
    for (unsigned k = 0; k < channels; ++k) {
        const u32 j = u32(std::min<u64>(first, UINT32_MAX));
        dst->SetMin(k, src->GetMinSrc(j, bits));
        dst->SetMax(k, src->GetMaxSrc(j, bits));
        dst->SetGamma(k, src->GetGammaSrc(j));
        first += sizes ? sizes[k] : 0;
    }
    return KZ_OK;
}

int CKzPicBufAPI::ConvertOldLutParamToLutParamRGB(CKzLutParamRGB* dst, SKzLutParam* src, unsigned bits)
{
    if (!dst || !src) return KZ_ERR_FAILED;
    if (int r = dst->Reinit(bits)) return r;
    for (unsigned i = 0; i < 3; ++i) {
        dst->SetMin(i, src->GetMinSrc(i, bits));
        dst->SetMax(i, src->GetMaxSrc(i, bits));
        dst->SetMaxDst(i, src->GetMaxDst(i, bits));
        dst->SetGamma(i, src->GetGammaSrc(i));
    }
    return KZ_OK;
}
