// Colour-table builders: colour ramps, colours and palettes shaped by a tone
// LUT, and the exposure marker records.
#include "gnr_picture/CKzPredefLUTs.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/KzLutColour.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Rgb {
    u32 r, g, b;
};
Rgb Split(u32 c) { return {c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF}; }

void PutBgr8(u8* p, u32 b, u32 g, u32 r)
{
    p[0] = u8(b);
    p[1] = u8(g);
    p[2] = u8(r);
}

void PutBgr16(u8* p, u64 b, u64 g, u64 r)
{
    const u16 w[3] = {u16(b), u16(g), u16(r)};
    std::memcpy(p, w, sizeof w);
}

bool IsRowColour(const SKzLut& lut)
{
    return lut.pLut && lut.uiInComp == 1 && lut.uiOutComp == 3 && lut.uiInBpc >= 1 && lut.uiInBpc <= 16 &&
           static_cast<u8**>(lut.pLut)[0];
}

// A flat tone LUT whose samples fit the input depth: bytes up to 8 input
// bits, words for 9 to 16.
bool IsFlatTone(const SKzLut& src, u8 inBits)
{
    return src.pLut && src.uiInComp == 1 && src.uiOutComp == 1 && src.uiInBpc == inBits && src.uiOutBpc >= 1 &&
           src.uiOutBpc <= 16 && (src.uiOutBpc > 8) == (inBits > 8);
}

u32 ToneAt(const SKzLut& src, size_t v, size_t col = 0, size_t cols = 1)
{
    if (src.uiOutBpc > 8) {
        u16 w;
        const u8* base = cols > 1 ? static_cast<u8**>(src.pLut)[0] : static_cast<const u8*>(src.pLut);
        std::memcpy(&w, base + 2 * (v * cols + col), 2);
        return w;
    }
    const u8* base = cols > 1 ? static_cast<u8**>(src.pLut)[0] : static_cast<const u8*>(src.pLut);
    return base[v * cols + col];
}

// Component k's block of a colour LUT (one input: the row block).
u8* ComponentBlock(const SKzLut& lut, size_t k)
{
    if (lut.uiInComp == 1)
        return static_cast<u8**>(lut.pLut)[0];
    return static_cast<u8***>(lut.pLut)[k][0];
}

const u8* PaletteTable(int palette)
{
    if (palette < 0 || size_t(palette) >= SKzLut::vecPredefLuts.size() || !SKzLut::vecPredefLuts[size_t(palette)])
        return nullptr;
    return SKzLut::vecPredefLuts[size_t(palette)]->pTable;
}

// The palette-through-tone family. wideOk lets 9-16-bit outputs through.
bool PaletteThroughTone(SKzLut& lut, const SKzLut& src, int palette, bool windowed, u32 low, u32 high, u32 min,
                        u32 max, bool wideOk)
{
    if (!IsRowColour(lut) || !IsFlatTone(src, lut.uiInBpc))
        return false;
    const bool wide = lut.uiOutBpc > 8;
    if (!(lut.uiOutBpc == 8 || (wideOk && wide && lut.uiOutBpc <= 16)))
        return false;
    const u64 n = u64(1) << lut.uiInBpc;
    const u64 outRange = u64(1) << lut.uiOutBpc;
    const double stretch = double(i64(max) - i64(min)) / double(n);
    u8* block = static_cast<u8**>(lut.pLut)[0];
    const size_t e = wide ? 6 : 3;
    for (u64 v = 0; v < n; ++v) {
        u8* out = block + v * e;
        if (windowed && (v < low || v > high)) {
            const u64 grey = v * outRange / n;
            if (wide)
                PutBgr16(out, grey, grey, grey);
            else
                PutBgr8(out, u32(grey), u32(grey), u32(grey));
            continue;
        }
        const u32 s = ToneAt(src, v);
        u32 p = s;
        if (windowed)
            p = u32(std::max<i32>(KzTruncToInt32(double(s) * stretch + double(min) + 0.5), 0));
        if (wide) {
            const u64 w = CKzPredefLUTs::GetLUTEntry(palette, p, u32(n), u32(outRange));
            PutBgr16(out, w & 0xFFFF, (w >> 16) & 0xFFFF, (w >> 32) & 0xFFFF);
        } else {
            const u32 c = CKzPredefLUTs::GetLUTEntry(palette, p, u32(n));
            PutBgr8(out, c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
        }
    }
    return true;
}

kz_result SpectFill(SKzLut& lut, size_t first, size_t last, const SKzLut& src, int palette)
{
    if (!lut.pLut || lut.uiOutComp != 3 || lut.uiOutBpc != 8 || lut.uiInComp < 2 || last > lut.uiInComp ||
        lut.uiInBpc < 1 || lut.uiInBpc > 16 || !IsFlatTone(src, lut.uiInBpc))
        return KZ_OK;
    const u8* pal = PaletteTable(palette);
    const size_t n = size_t(1) << lut.uiInBpc;
    for (size_t k = first; k < last; ++k) {
        u8* block = ComponentBlock(lut, k);
        for (size_t v = 0; v < n; ++v) {
            const size_t e = std::min<size_t>(size_t(ToneAt(src, v)) * 256 / n, 255);
            if (pal)
                PutBgr8(block + 3 * v, pal[3 * e + 2], pal[3 * e + 1], pal[3 * e]);
            else
                PutBgr8(block + 3 * v, u32(e), u32(e), u32(e));
        }
    }
    return KZ_OK;
}

void PutMarker(u8* p, u32 c) { PutBgr8(p, (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

kz_result SetExp(SKzLut& lut, SKzLutExpColor*& rec, const u32* colour)
{
    std::free(rec);
    rec = nullptr;
    if (!colour || *colour == 0)
        return KZ_OK;
    if (lut.uiOutComp != 3 || lut.uiOutBpc > 16)
        return KZ_ERR_NOT_SUPPORTED;
    const Rgb c = Split(*colour);
    const u32 flag = *colour >> 24;
    const u64 scale = u64(1) << lut.uiOutBpc;
    const u16 words[4] = {u16(c.b * scale / 256), u16(c.g * scale / 256), u16(c.r * scale / 256), u16(flag)};
    auto* block = static_cast<u8*>(std::calloc(1, SKzLut::kExpColorBytes));
    if (!block)
        return KZ_ERR_OUT_OF_MEMORY;
    if (lut.uiOutBpc <= 8) {
        for (int i = 0; i < 4; ++i)
            block[i] = u8(words[i]);
    } else {
        std::memcpy(block, words, sizeof words);
    }
    rec = reinterpret_cast<SKzLutExpColor*>(block);
    return KZ_OK;
}

kz_result SetExpArr(SKzLut& lut, SKzLutExpColor*& rec, const void* record, u32 bits)
{
    // The record of a 9-16-bit depth is four words: all eight bytes decide
    // whether it marks anything (a pure 16-bit red has zero low bytes).
    const size_t bytes = bits > 8 ? 8 : 4;
    static const u8 zero[8] = {};
    if (!record || std::memcmp(record, zero, bytes) == 0) {
        std::free(rec);
        rec = nullptr;
        return KZ_OK;
    }
    if (bits != lut.uiOutBpc)
        return KZ_ERR_INVALID_ARG;
    if (lut.uiOutComp != 3 || bits > 16)
        return KZ_ERR_NOT_SUPPORTED;
    if (!rec) {
        rec = static_cast<SKzLutExpColor*>(std::calloc(1, SKzLut::kExpColorBytes));
        if (!rec)
            return KZ_ERR_OUT_OF_MEMORY;
    }
    std::memcpy(rec, record, bytes);
    return KZ_OK;
}

}  // namespace

kz_result SKzLut::CreateColorTable(SKzLut& lut, u32 colour)
{
    if (!IsRowColour(lut) || lut.uiOutBpc > 8 || lut.uiOutBpc == 0)
        return KZ_ERR_INVALID_ARG;
    const Rgb c = Split(colour);
    const u64 last = (u64(1) << lut.uiInBpc) - 1;
    u8* block = static_cast<u8**>(lut.pLut)[0];
    for (u64 v = 0; v <= last; ++v)
        PutBgr8(block + 3 * v, u32(v * c.b / last), u32(v * c.g / last), u32(v * c.r / last));
    return KZ_OK;
}

kz_result SKzLut::CreateColorTableEx(SKzLut& lut, u32 colour, SKzLut* source, bool over, u32 overColour,
                                     bool under, u32 underColour)
{
    if (!source)
        return CreateColorTable(lut, colour);
    if (!IsRowColour(lut) || lut.uiOutBpc != 8)
        return KZ_ERR_INVALID_ARG;
    // The source must be a tone LUT of this input depth with 1 or 3 outputs.
    const SKzLut& s = *source;
    if (!s.pLut || s.uiInComp != 1 || s.uiInBpc != lut.uiInBpc || (s.uiOutComp != 1 && s.uiOutComp != 3) ||
        s.uiOutBpc < 1 || s.uiOutBpc > 16 || (s.uiOutBpc > 8) != (lut.uiInBpc > 8) ||
        (s.uiOutComp == 3 && !static_cast<u8**>(s.pLut)[0]))
        return KZ_ERR_INVALID_ARG;
    const Rgb c = Split(colour);
    const u64 last = (u64(1) << lut.uiInBpc) - 1;
    u8* block = static_cast<u8**>(lut.pLut)[0];
    for (u64 v = 0; v <= last; ++v) {
        u8* out = block + 3 * v;
        u64 t[3];
        for (size_t k = 0; k < 3; ++k)
            t[k] = ToneAt(s, v, s.uiOutComp == 3 ? k : 0, s.uiOutComp);
        const bool anyLast = t[0] == last || t[1] == last || t[2] == last;
        const bool anyZero = t[0] == 0 || t[1] == 0 || t[2] == 0;
        if (over && anyLast)
            PutMarker(out, overColour);
        else if (under && anyZero)
            PutMarker(out, underColour);
        else
            PutBgr8(out, u32(t[0] * c.b / last), u32(t[1] * c.g / last), u32(t[2] * c.r / last));
    }
    return KZ_OK;
}

kz_result SKzLut::CreateMultiColorTable(SKzLut& lut, u32* colours, u8 count)
{
    return CreateMultiColorTableEx(lut, colours, count, nullptr, false, 0, false, 0);
}

kz_result SKzLut::CreateMultiColorTableEx(SKzLut& lut, u32* colours, u8 count, SKzLut* source, bool over,
                                          u32 overColour, bool under, u32 underColour)
{
    if (!colours || !lut.pLut || count != lut.uiInComp || lut.uiOutComp != 3 || lut.uiOutBpc == 0 ||
        lut.uiOutBpc > 16 || lut.uiInBpc < 1 || lut.uiInBpc > 16)
        return KZ_ERR_INVALID_ARG;
    const size_t m = lut.uiInComp;
    if (source) {
        const SKzLut& s = *source;
        if (!s.pLut || s.uiInBpc != lut.uiInBpc || s.uiOutBpc != lut.uiInBpc || s.uiOutComp != m ||
            s.uiInComp != 1 || (m > 1 && !static_cast<u8**>(s.pLut)[0]))
            return KZ_ERR_INVALID_ARG;
    }
    const bool wide = lut.uiOutBpc > 8;
    const u64 last = (u64(1) << lut.uiInBpc) - 1;
    const u64 u = (u64(1) << lut.uiOutBpc) - 1;
    const size_t e = wide ? 6 : 3;
    for (size_t k = 0; k < m; ++k) {
        Rgb c = Split(colours[k]);
        if (wide)
            c = {u32(u * c.r / 255), u32(u * c.g / 255), u32(u * c.b / 255)};
        u8* block = ComponentBlock(lut, k);
        if (!block)
            return KZ_ERR_INVALID_ARG;
        for (u64 v = 0; v <= last; ++v) {
            u8* out = block + v * e;
            const u64 s = source ? ToneAt(*source, v, k, m) : v;
            if (wide) {
                PutBgr16(out, s * c.b / last, s * c.g / last, s * c.r / last);
            } else if (source && over && s == last) {
                PutMarker(out, overColour);
            } else if (source && under && s == 0) {
                PutMarker(out, underColour);
            } else {
                PutBgr8(out, u32(s * c.b / last), u32(s * c.g / last), u32(s * c.r / last));
            }
        }
    }
    return KZ_OK;
}

kz_result SKzLut::CreateRainbowLUTTable(SKzLut& lut, SKzLut& source, int palette)
{
    PaletteThroughTone(lut, source, palette, false, 0, 0, 0, 0, false);
    return KZ_OK;
}

kz_result SKzLut::CreateRainbowLUTTable2(SKzLut& lut, SKzLut& source, int palette, u32 low, u32 high, u32 min,
                                         u32 max)
{
    PaletteThroughTone(lut, source, palette, true, low, high, min, max, false);
    return KZ_OK;
}

void CKzPredefLUTs::CreatePredefLUTTable(SKzLut& lut, SKzLut& source, int palette)
{
    PaletteThroughTone(lut, source, palette, false, 0, 0, 0, 0, true);
}

void CKzPredefLUTs::CreatePredefLUTTable2(SKzLut& lut, SKzLut& source, int palette, u32 low, u32 high, u32 min,
                                          u32 max)
{
    PaletteThroughTone(lut, source, palette, true, low, high, min, max, true);
}

kz_result SKzLut::CreateRainbowLUTTableSpect_1Channel(SKzLut& lut, u32 comp, SKzLut& source, int palette)
{
    if (comp >= lut.uiInComp)
        return KZ_OK;
    return SpectFill(lut, comp, size_t(comp) + 1, source, palette);
}

kz_result SKzLut::CreateRainbowLUTTableSpect_SameChannels(SKzLut& lut, SKzLut& source, int palette)
{
    return SpectFill(lut, 0, lut.uiInComp, source, palette);
}

kz_result SKzLut::SetOverExpColor(SKzLut& lut, u32* colour) { return SetExp(lut, lut.pOverExpColor, colour); }
kz_result SKzLut::SetUnderExpColor(SKzLut& lut, u32* colour) { return SetExp(lut, lut.pUnderExpColor, colour); }
kz_result SKzLut::SetOverExpColorArr(SKzLut& lut, void* record, u32 bits)
{
    return SetExpArr(lut, lut.pOverExpColor, record, bits);
}
kz_result SKzLut::SetUnderExpColorArr(SKzLut& lut, void* record, u32 bits)
{
    return SetExpArr(lut, lut.pUnderExpColor, record, bits);
}

kz_result SKzLut::CreateComposedTable(SKzLut& lut, SKzLut& colourLut, SKzLut& toneLut)
{
    const SKzLut& c = colourLut;
    const SKzLut& t = toneLut;
    if (!lut.pLut || !c.pLut || !t.pLut || lut.uiInComp != c.uiInComp || lut.uiOutComp != c.uiOutComp ||
        lut.uiOutComp != 3 || lut.uiInBpc != c.uiInBpc || lut.uiOutBpc != c.uiOutBpc || t.uiInBpc != c.uiInBpc ||
        t.uiOutBpc != c.uiInBpc || c.uiInBpc < 1 || c.uiInBpc > 16 || t.uiInComp == 0 || t.uiOutComp == 0)
        return KZ_ERR_INVALID_ARG;
    // Which shape: one-input colour through a flat or 3-output tone, or an
    // M-input colour through a one-input tone of M outputs.
    const size_t m = c.uiInComp;
    const bool flatTone = t.uiInComp == 1 && t.uiOutComp == 1 && m == 1;
    const bool perOutput = m == 1 && t.uiInComp == 1 && t.uiOutComp == 3;
    const bool perComp = m > 1 && t.uiInComp == 1 && t.uiOutComp == m;
    if (!flatTone && !perOutput && !perComp)
        return KZ_ERR_INVALID_ARG;
    lut.maskComp = c.maskComp;
    if (kz_result r = SetOverExpColorArr(lut, c.pOverExpColor, c.uiOutBpc))
        return r;
    if (kz_result r = SetUnderExpColorArr(lut, c.pUnderExpColor, c.uiOutBpc))
        return r;
    if (lut.uiOutBpc > 16 || lut.uiOutBpc == 0)
        return KZ_ERR_NOT_SUPPORTED;
    const size_t n = size_t(1) << c.uiInBpc;
    const size_t b = lut.uiOutBpc > 8 ? 2 : 1;
    const size_t e = 3 * b;
    // The colour table is read after lut is written: copy it when they share
    // a table.
    std::vector<u8> copy;
    const u8* colourBlocks[256];
    for (size_t k = 0; k < m; ++k)
        colourBlocks[k] = ComponentBlock(c, k);
    if (c.pLut == lut.pLut) {
        copy.resize(m * n * e);
        for (size_t k = 0; k < m; ++k) {
            std::memcpy(copy.data() + k * n * e, colourBlocks[k], n * e);
            colourBlocks[k] = copy.data() + k * n * e;
        }
    }
    const size_t toneCols = t.uiOutComp;
    for (size_t k = 0; k < m; ++k) {
        u8* out = ComponentBlock(lut, k);
        if (!out || !colourBlocks[k])
            return KZ_ERR_INVALID_ARG;
        for (size_t v = 0; v < n; ++v) {
            if (flatTone) {
                const size_t s = std::min<size_t>(ToneAt(t, v), n - 1);
                std::memcpy(out + v * e, colourBlocks[k] + s * e, e);
            } else if (perOutput) {
                for (size_t o = 0; o < 3; ++o) {
                    const size_t s = std::min<size_t>(ToneAt(t, v, o, toneCols), n - 1);
                    std::memcpy(out + v * e + o * b, colourBlocks[0] + s * e + o * b, b);
                }
            } else {
                const size_t s = std::min<size_t>(ToneAt(t, v, k, toneCols), n - 1);
                std::memcpy(out + v * e, colourBlocks[k] + s * e, e);
            }
        }
    }
    return KZ_OK;
}

u32 InterpolateColorHSI8(u32 colourA, u32 colourB, int weight)
{
    const i64 w = std::clamp<i64>(weight, 0, 65536);
    u8 hA, sA, iA, hB, sB, iB;
    CKzPicMemAPI::ConvertColorRGB8toHSI8(hA, sA, iA, u8(colourA), u8(colourA >> 8), u8(colourA >> 16));
    CKzPicMemAPI::ConvertColorRGB8toHSI8(hB, sB, iB, u8(colourB), u8(colourB >> 8), u8(colourB >> 16));
    const i64 in = iA + (i64(iB) - iA) * w / 65536;
    const i64 sat = sA + (i64(sB) - sA) * w / 65536;
    // The hue circle has 255 steps; more than 127 apart, go through 255/0.
    i64 d = i64(hB) - hA;
    if (d > 127)
        d -= 255;
    else if (d < -127)
        d += 255;
    const i64 hue = ((hA + d * w / 65536) % 255 + 255) % 255;
    u8 r, g, b;
    CKzPicMemAPI::ConvertColorHSI8toRGB8(r, g, b, u8(hue), u8(std::clamp<i64>(sat, 0, 255)),
                                         u8(std::clamp<i64>(in, 0, 255)));
    const u32 m = std::max({r, g, b});
    if (m == 0)
        return 0;
    return (u32(r) * 255 / m) | (u32(g) * 255 / m) << 8 | (u32(b) * 255 / m) << 16;
}
