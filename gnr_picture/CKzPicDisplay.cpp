// Display conversion (true colour through LUTs, composition, spectral
// statistics) and the resampling dispatch.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/internal/KzPicBands.h"
#include "gnr_picture/internal/KzPicKernelFamilies.h"
#include "gnr_system/CKzAlloc.h"

#if KZ_PIC_HAVE_COMPOSE_KERNELS
#include "gnr_picture/KzKernelsCompose.h"
#include "gnr_picture/internal/KzKernelsComposeInternal.h"
#endif
#if KZ_PIC_HAVE_SPECTRAL_KERNELS
#include "gnr_picture/KzSpectral.h"
#endif
#include "gnr_picture/KzStretch.h"
#include "gnr_picture/internal/KzStretchTwoPass.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Composition and spectral kernels handle at most this many components.
constexpr unsigned kMaxComposedComps = 192;

bool Empty(unsigned width, unsigned count) { return width == 0 || count == 0; }

// The visible-component mask of the LUT as three 64-bit words covering
// every component a composition kernel may read (at most 192).
void MaskWords(const SKzLut& lut, unsigned comps, unsigned long words[3])
{
    words[0] = words[1] = words[2] = 0;
    for (unsigned k = 0; k < comps && k < kMaxComposedComps; ++k)
        if (lut.maskComp.Get(k))
            words[k / 64] |= 1ul << (k % 64);
}

} // namespace

// ---------------------------------------------------------------------------
// True colour
// ---------------------------------------------------------------------------

kz_result CKzPicMemAPI::ConvertToTrueColor(void* dst, unsigned dstStride, void* src, unsigned srcComps,
                                           unsigned srcBits, unsigned srcStride, unsigned width, unsigned count,
                                           SKzLut* lut)
{
    if (Empty(width, count))
        return KZ_OK;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    if (!lut) {
        if (srcComps == 1) {
            if (srcBits == 8)
                return ExpandComponent(dst, 3, dstStride, src, srcStride, 8, width, count);
            // Down to 8 bits into a temporary plane, then into the three components.
            const size_t rows = count / width;
            u8* plane = static_cast<u8*>(CKzAlloc::Alloc(0, rows * width));
            if (!plane)
                return KZ_ERR_OUT_OF_MEMORY;
            kz_result r = ConvertBitDepthViaShifts(plane, 8, width, src, srcBits, srcStride, 1, width, count);
            if (r == KZ_OK)
                r = ExpandComponent(dst, 3, dstStride, plane, width, 8, width, count);
            CKzAlloc::Free(plane);
            return r;
        }
        if (srcComps == 3)
            return srcBits == 8 ? Copy(dst, dstStride, src, srcStride, 3, 8, width, count)
                                : ConvertBitDepthViaShifts(dst, 8, dstStride, src, srcBits, srcStride, 3, width,
                                                           count);
        return KZ_ERR_INVALID_ARG;
    }
    if (lut->uiOutBpc != 8)
        return KZ_ERR_INVALID_ARG;
    const unsigned visible = lut->maskComp.GetCount(-1);
    if (visible == 0) {
        const u8 black[3] = {0, 0, 0};
        return SetValue(dst, 3, 8, dstStride, black, width, count);
    }
    if (visible == 1 && !lut->pParametric) {
        unsigned first = 0;
        if (lut->maskComp.GetFirst(&first) == KZ_OK) {
            if (first >= srcComps)
                return KZ_ERR_INVALID_ARG;
            return ExtractComponentViaLuts(dst, 3, 8, dstStride, src, srcComps, srcBits, srcStride, first, lut,
                                           width, count);
        }
    }
    if (lut->uiInComp > 1)
        return MapComponentsMToN(dst, 3, 8, dstStride, src, srcComps, srcBits, srcStride, lut, width, count);
    if (srcComps == 1)
        return MapValueToComponents(dst, 3, 8, dstStride, src, srcBits, srcStride, lut, width, count);
    if (srcComps == 3)
        return ConvertBitDepthViaLuts(dst, 8, dstStride, src, srcBits, srcStride, lut, 3, width, count);
    return KZ_ERR_INVALID_ARG;
}

kz_result CKzPicMemAPI::MapComponentsMToN(void* dst, unsigned dstComps, unsigned dstBits, unsigned dstStride,
                                          void* src, unsigned srcComps, unsigned srcBits, unsigned srcStride,
                                          SKzLut* lut, unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    if (!lut || !lut->pLut || lut->uiInBpc != srcBits || lut->uiInComp != srcComps || lut->uiOutBpc != dstBits ||
        lut->uiOutComp != dstComps)
        return KZ_ERR_INVALID_ARG;
    if (srcComps == 0 || srcComps > kMaxComposedComps)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    const bool s8 = srcBits == 8, s16 = srcBits >= 9 && srcBits <= 16;
    // Byte sources index tables of 256 rows: only 8-bit tables fit them.
    if (dstBits == 8) {
        if (dstComps != 3 || !(s8 || s16))
            return KZ_ERR_NOT_SUPPORTED;
        if (lut->pParametric) {
#if KZ_PIC_HAVE_SPECTRAL_KERNELS
            return s8 ? spect_render_Nx8_3x8_sse_overexp_underexp(static_cast<u8*>(dst), dstStride,
                                                                  static_cast<u8*>(src), srcBits, srcStride, srcComps,
                                                                  lut, width, count)
                      : spect_render_Nx16_3x8_sse_overexp_underexp(static_cast<u8*>(dst), dstStride,
                                                                   static_cast<u16*>(src), srcBits, srcStride,
                                                                   srcComps, lut, width, count);
#else
            return KZ_ERR_NOT_SUPPORTED;
#endif
        }
#if KZ_PIC_HAVE_COMPOSE_KERNELS
        unsigned long mask[3];
        MaskWords(*lut, srcComps, mask);
        u8* d = static_cast<u8*>(dst);
        const bool marks = lut->pOverExpColor || lut->pUnderExpColor;
        const SKzLutExpColor* over = lut->pOverExpColor;
        const SKzLutExpColor* under = lut->pUnderExpColor;
        if (s8) {
            const u8* s = static_cast<const u8*>(src);
            if (srcComps == 1) {
                KzRowLut8 t = static_cast<KzRowLut8>(lut->pLut);
                return marks ? mapcomp_1x8_3x8_overexp_underexp(d, dstStride, s, srcStride, t, over, under, width, count)
                             : mapcomp_1x8_3x8(d, dstStride, s, srcStride, t, width, count);
            }
            KzCompLut8 t = static_cast<KzCompLut8>(lut->pLut);
            switch (srcComps) {
#define KZ_MAPCOMP8(n)                                                                                         \
    case n:                                                                                                    \
        return marks ? mapcomp_##n##x8_3x8_overexp_underexp(d, dstStride, s, srcStride, t, mask, over, under, \
                                                            width, count)                                      \
                     : mapcomp_##n##x8_3x8(d, dstStride, s, srcStride, t, mask, width, count);
                KZ_MAPCOMP8(2)
                KZ_MAPCOMP8(3)
                KZ_MAPCOMP8(4)
                KZ_MAPCOMP8(5)
                KZ_MAPCOMP8(6)
#undef KZ_MAPCOMP8
            default:
                return marks ? mapcomp_Nx8_3x8_overexp_underexp(d, dstStride, s, srcComps, srcStride, t, mask, over,
                                                                under, width, count)
                             : mapcomp_Nx8_3x8(d, dstStride, s, srcComps, srcStride, t, mask, width, count);
            }
        }
        const u16* s = static_cast<const u16*>(src);
        if (srcComps == 1) {
            KzRowLut8 t = static_cast<KzRowLut8>(lut->pLut);
            return marks ? mapcomp_1x16_3x8_overexp_underexp(d, dstStride, s, srcBits, srcStride, t, over,
                                                                    under, width, count)
                         : KzMapCompDepth_1x16_3x8(d, dstStride, s, srcBits, srcStride, t, width, count);
        }
        KzCompLut8 t = static_cast<KzCompLut8>(lut->pLut);
        switch (srcComps) {
#define KZ_MAPCOMP16(n)                                                                                            \
    case n:                                                                                                        \
        return marks ? mapcomp_##n##x16_3x8_overexp_underexp(d, dstStride, s, srcBits, srcStride, t, mask, \
                                                                    over, under, width, count)                     \
                     : KzMapCompDepth_##n##x16_3x8(d, dstStride, s, srcBits, srcStride, t, mask, width, count);
            KZ_MAPCOMP16(2)
            KZ_MAPCOMP16(3)
            KZ_MAPCOMP16(4)
            KZ_MAPCOMP16(5)
            KZ_MAPCOMP16(6)
#undef KZ_MAPCOMP16
        default:
            return marks ? mapcomp_Nx16_3x8_overexp_underexp(d, dstStride, s, srcBits, srcComps, srcStride, t,
                                                                    mask, over, under, width, count)
                         : KzMapCompDepth_Nx16_3x8(d, dstStride, s, srcBits, srcStride, srcComps, t, mask, width,
                                                   count);
        }
#else
        return KZ_ERR_NOT_SUPPORTED;
#endif
    }
    if (dstBits >= 9 && dstBits <= 16 && dstComps == 3 && s16) {
#if KZ_PIC_HAVE_COMPOSE_KERNELS
        unsigned long mask[3];
        MaskWords(*lut, srcComps, mask);
        u16* d = static_cast<u16*>(dst);
        const u16* s = static_cast<const u16*>(src);
        if (srcComps == 1)
            return KzMapCompDepth_1x16_3x16(d, dstStride, s, srcStride, srcBits, static_cast<KzRowLut16>(lut->pLut),
                                            width, count);
        KzCompLut16 t = static_cast<KzCompLut16>(lut->pLut);
        switch (srcComps) {
        case 2:
            return mapcomp_2x16_3x16(d, dstStride, s, srcStride, srcBits, t, mask, width, count);
        case 3:
            return mapcomp_3x16_3x16(d, dstStride, s, srcStride, srcBits, t, mask, width, count);
        case 4:
            return mapcomp_4x16_3x16(d, dstStride, s, srcStride, srcBits, t, mask, width, count);
        case 5:
            return mapcomp_5x16_3x16(d, dstStride, s, srcStride, srcBits, t, mask, width, count);
        case 6:
            return mapcomp_6x16_3x16(d, dstStride, s, srcStride, srcBits, t, mask, width, count);
        default:
            return KzMapCompDepth_Nx16_3x16(d, dstStride, s, srcComps, srcStride, srcBits, t, mask, width, count);
        }
#else
        return KZ_ERR_NOT_SUPPORTED;
#endif
    }
    return KZ_ERR_NOT_SUPPORTED;
}

kz_result CKzPicMemAPI::SpetralGetMaxRGB(double* out, void* src, unsigned srcStride, unsigned bits, unsigned comps,
                                         unsigned width, unsigned count, unsigned* colours, unsigned short* flags,
                                         double factor)
{
    if (!src)
        return KZ_ERR_FAILED;
    if (comps > kMaxComposedComps || bits == 0 || bits > 16)
        return KZ_ERR_NOT_SUPPORTED;
    if (Empty(width, count))
        return KZ_OK;
    if (!out || !colours || !flags || comps == 0)
        return KZ_ERR_FAILED;
#if KZ_PIC_HAVE_SPECTRAL_KERNELS
    if (bits <= 8) {
        u8 byteFlags[kMaxComposedComps];
        for (unsigned k = 0; k < comps; ++k)
            byteFlags[k] = flags[k] ? 0xFF : 0;
        return spect_getmaxrgb_Nx8_sse(out, static_cast<u8*>(src), srcStride, bits, comps, width, count, colours,
                                       byteFlags, factor);
    }
    return spect_getmaxrgb_Nx16_sse(out, static_cast<u16*>(src), srcStride, bits, comps, width, count, colours, flags,
                                    factor);
#else
    (void)srcStride;
    (void)factor;
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

kz_result CKzPicMemAPI::SpetralGetMaxRGBEx(double* out, void* src, unsigned srcStride, unsigned bits,
                                           unsigned comps, unsigned width, unsigned count, SKzLut* lut)
{
    if (!src)
        return KZ_ERR_FAILED;
    if (comps > kMaxComposedComps || bits == 0 || bits > 16)
        return KZ_ERR_NOT_SUPPORTED;
    if (Empty(width, count))
        return KZ_OK;
    // The LUT's parametric block holds one record per component.
    if (!out || !lut || !lut->pParametric || lut->uiInComp != comps || comps == 0)
        return KZ_ERR_INVALID_ARG;
#if KZ_PIC_HAVE_SPECTRAL_KERNELS
    return bits <= 8 ? spect_getmaxrgbex_Nx8_sse(out, static_cast<u8*>(src), srcStride, bits, comps, width, count, lut)
                     : spect_getmaxrgbex_Nx16_sse(out, static_cast<u16*>(src), srcStride, bits, comps, width, count,
                                                  lut);
#else
    (void)srcStride;
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

// ---------------------------------------------------------------------------
// Resampling
// ---------------------------------------------------------------------------

namespace {

unsigned SampleBytesOf(unsigned bits) { return bits == 8 ? 1 : (bits >= 9 && bits <= 16 ? 2 : 0); }

#if KZ_PIC_HAVE_QUICK_STRETCH_KERNELS
// Nearest-neighbour members by component count: 1, 3, or any other.
template <class T>
kz_result QuickRect(void* dst, unsigned comps, unsigned dstStride, unsigned bits, unsigned dstW, unsigned dstH,
                    const void* src, unsigned srcStride, unsigned srcW, unsigned srcH, unsigned l, unsigned t,
                    unsigned w, unsigned h)
{
    T* d = static_cast<T*>(dst);
    T* s = static_cast<T*>(const_cast<void*>(src));
    if (comps == 1)
        return stretch_quick_1<T>(d, 1, dstStride, bits, dstW, dstH, s, srcStride, srcW, srcH, l, t, w, h);
    if (comps == 3)
        return stretch_quick_3<T>(d, 3, dstStride, bits, dstW, dstH, s, srcStride, srcW, srcH, l, t, w, h);
    return stretch_quick<T>(d, comps, dstStride, bits, dstW, dstH, s, srcStride, srcW, srcH, l, t, w, h);
}

template <class T>
kz_result QuickDisplayEx(void* dst, unsigned dstW, unsigned dstH, unsigned comps, unsigned dstStride, unsigned bits,
                         unsigned zoomW, unsigned zoomH, unsigned sx, unsigned sy, const void* origin, unsigned winL,
                         unsigned winT, unsigned winW, unsigned winH, unsigned srcW, unsigned srcH, unsigned srcStride,
                         void* background)
{
    T* d = static_cast<T*>(dst);
    T* s = static_cast<T*>(const_cast<void*>(origin));
    if (comps == 1)
        return stretch_quick_display_ex_1<T>(d, dstW, dstH, 1, dstStride, bits, zoomW, zoomH, sx, sy, s, winL, winT,
                                             winW, winH, srcW, srcH, srcStride, background);
    if (comps == 3)
        return stretch_quick_display_ex_3<T>(d, dstW, dstH, 3, dstStride, bits, zoomW, zoomH, sx, sy, s, winL, winT,
                                             winW, winH, srcW, srcH, srcStride, background);
    return stretch_quick_display_ex<T>(d, dstW, dstH, comps, dstStride, bits, zoomW, zoomH, sx, sy, s, winL, winT,
                                       winW, winH, srcW, srcH, srcStride, background);
}
#endif

// Box reduction members by component count: 1, 3, or any other (up to 64).
template <class T>
kz_result BoxReduce(void* dst, unsigned comps, unsigned dstStride, unsigned bits, unsigned dstW, unsigned dstH,
                    void* src, unsigned srcStride, unsigned w, unsigned h)
{
    T* d = static_cast<T*>(dst);
    T* s = static_cast<T*>(src);
    if (comps == 1)
        return stretch_hybrid_mt_1<T>(d, dstStride, dstW, dstH, s, srcStride, w, h, 1, bits);
    if (comps == 3)
        return stretch_hybrid_mt_3<T>(d, dstStride, dstW, dstH, s, srcStride, w, h, 3, bits);
    return stretch_hybrid_mt_N<T>(d, dstStride, dstW, dstH, s, srcStride, w, h, comps, bits);
}

} // namespace

kz_result CKzPicMemAPI::Stretch(void* dst, unsigned comps, unsigned dstStride, unsigned bits, unsigned dstW,
                                unsigned dstH, void* src, unsigned srcStride, unsigned srcW, unsigned srcH,
                                unsigned rectL, unsigned rectT, unsigned rectW, unsigned rectH,
                                EKzPicStretchMode mode)
{
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    if (rectW == 0 || rectH == 0 || u64(rectL) + rectW > srcW || u64(rectT) + rectH > srcH)
        return KZ_ERR_INVALID_ARG;
    const unsigned sb = SampleBytesOf(bits);
    if (sb == 0 || comps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    int m = int(mode);
    if (m == 4) {
        const bool reduce = double(rectW) / dstW > 2.0 && double(rectH) / dstH > 2.0 && rectH == srcH &&
                            rectL == 0 && rectT == 0 && u32(rectW * rectH) >= 1000000u;
        m = reduce ? 5 : 2;
    }
    if (m == 5) {
        // The box reduction needs blocks of at least one pixel (and at most 64
        // components in its general member); otherwise the bell filter.
        const double bx = std::floor(double(rectW) / dstW + 0.5), by = std::floor(double(rectH) / dstH + 0.5);
        if (bx < 1 || by < 1 || (comps != 1 && comps != 3 && comps > 64))
            m = 2;
    }
    if (m == 5)
        return sb == 1 ? BoxReduce<u8>(dst, comps, dstStride, bits, dstW, dstH, src, srcStride, rectW, rectH)
                       : BoxReduce<u16>(dst, comps, dstStride, bits, dstW, dstH, src, srcStride, rectW, rectH);
    if (m != 2 && m != 3) {
#if KZ_PIC_HAVE_QUICK_STRETCH_KERNELS
        return sb == 1 ? QuickRect<u8>(dst, comps, dstStride, bits, dstW, dstH, src, srcStride, srcW, srcH, rectL,
                                       rectT, rectW, rectH)
                       : QuickRect<u16>(dst, comps, dstStride, bits, dstW, dstH, src, srcStride, srcW, srcH, rectL,
                                        rectT, rectW, rectH);
#else
        return KZ_ERR_NOT_SUPPORTED;
#endif
    }
    // Bell (mode 2) or triangle (mode 3): two filtered passes.
    return sb == 1 ? KzFilteredStretch<u8>(static_cast<u8*>(dst), comps, dstStride, bits, dstW, dstH,
                                           static_cast<u8*>(src), srcStride, srcW, srcH, rectL, rectT, rectW, rectH,
                                           m == 2)
                   : KzFilteredStretch<u16>(static_cast<u16*>(dst), comps, dstStride, bits, dstW, dstH,
                                            static_cast<u16*>(src), srcStride, srcW, srcH, rectL, rectT, rectW,
                                            rectH, m == 2);
}

kz_result CKzPicMemAPI::StretchDisplayEx(void* dst, unsigned dstW, unsigned dstH, unsigned comps, unsigned dstStride,
                                         unsigned bits, unsigned zoomW, unsigned zoomH, unsigned scrollX,
                                         unsigned scrollY, void* src, unsigned winL, unsigned winT, unsigned winW,
                                         unsigned winH, unsigned srcW, unsigned srcH, unsigned srcStride,
                                         EKzPicStretchMode mode, void* background)
{
    if (zoomW == 0 || zoomH == 0)
        return KZ_ERR_FAILED;
    if (u64(winL) + winW > srcW || u64(winT) + winH > srcH)
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    const unsigned sb = SampleBytesOf(bits);
    if (sb == 0 || comps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !background || (winW && winH && !src))
        return KZ_ERR_FAILED;
    // The kernels address the source from the picture's origin.
    const u8* origin = static_cast<const u8*>(src) - size_t(winT) * srcStride - size_t(winL) * comps * sb;
    const int m = int(mode);
    if (m != 2 && m != 3) {
#if KZ_PIC_HAVE_QUICK_STRETCH_KERNELS
        return sb == 1 ? QuickDisplayEx<u8>(dst, dstW, dstH, comps, dstStride, bits, zoomW, zoomH, scrollX, scrollY,
                                            origin, winL, winT, winW, winH, srcW, srcH, srcStride, background)
                       : QuickDisplayEx<u16>(dst, dstW, dstH, comps, dstStride, bits, zoomW, zoomH, scrollX, scrollY,
                                             origin, winL, winT, winW, winH, srcW, srcH, srcStride, background);
#else
        (void)origin;
        return KZ_ERR_NOT_SUPPORTED;
#endif
    }
    const double r = double(srcH) / zoomH;
    const double firstD = std::floor(double(scrollY) * r);
    u64 n = u64(std::ceil(double(dstH) * r));
    if (firstD >= srcH || n == 0) {
        // No source row in view: the background everywhere.
        if (dstW > 0xFFFFFFFFu / dstH) {
            for (unsigned y = 0; y < dstH; ++y) {
                const kz_result res = SetValue(static_cast<u8*>(dst) + size_t(y) * dstStride, comps, bits, dstStride,
                                               background, dstW, dstW);
                if (res != KZ_OK)
                    return res;
            }
            return KZ_OK;
        }
        return SetValue(dst, comps, bits, dstStride, background, dstW, dstW * dstH);
    }
    // Bell (mode 2) or triangle (mode 3): windowed horizontal pass over the
    // band in view, then the vertical pass.
    u8* o = const_cast<u8*>(origin);
    return sb == 1 ? KzFilteredDisplayEx<u8>(static_cast<u8*>(dst), dstW, dstH, comps, dstStride, bits, zoomW, zoomH,
                                             scrollX, scrollY, o, winL, winT, winW, winH, srcW, srcH, srcStride,
                                             m == 2, background)
                   : KzFilteredDisplayEx<u16>(static_cast<u16*>(dst), dstW, dstH, comps, dstStride, bits, zoomW, zoomH,
                                              scrollX, scrollY, reinterpret_cast<u16*>(o), winL, winT, winW, winH,
                                              srcW, srcH, srcStride, m == 2, background);
}

// ---------------------------------------------------------------------------
// Picture-level entries
// ---------------------------------------------------------------------------

kz_result CKzPicBufAPI::ApplyLuts(SKzPicBuf* dst, SKzPicBuf* src, SKzLut* lut)
{
    if (!dst || !src || dst->uiWidth != src->uiWidth || dst->uiHeight != src->uiHeight)
        return KZ_ERR_INVALID_ARG;
    const u32 w = dst->uiWidth;
    auto rowsOf = [](SKzPicBuf* p, u32 r0) { return p->pData + size_t(r0) * p->uiWidthBytes; };
    if (dst->uiComp == 3 && dst->uiBpc == 8)
        return KzForRowBands(w, dst->uiHeight, [&](u32 r0, u32 rows) {
            return CKzPicMemAPI::ConvertToTrueColor(rowsOf(dst, r0), dst->uiWidthBytes, rowsOf(src, r0), src->uiComp,
                                                    src->uiBpc, src->uiWidthBytes, w, w * rows, lut);
        });
    if (!lut)
        return KZ_ERR_INVALID_ARG;
    if (dst->uiComp == src->uiComp && dst->uiBpc == src->uiBpc && lut->uiInComp == 1 && lut->uiOutBpc == src->uiBpc)
        return KzForRowBands(w, dst->uiHeight, [&](u32 r0, u32 rows) {
            return CKzPicMemAPI::ApplyLuts(rowsOf(dst, r0), dst->uiWidthBytes, rowsOf(src, r0), src->uiWidthBytes, lut,
                                           src->uiComp, src->uiBpc, w, w * rows);
        });
    if (src->uiComp == 1)
        return KzForRowBands(w, dst->uiHeight, [&](u32 r0, u32 rows) {
            return CKzPicMemAPI::MapValueToComponents(rowsOf(dst, r0), dst->uiComp, dst->uiBpc, dst->uiWidthBytes,
                                                      rowsOf(src, r0), src->uiBpc, src->uiWidthBytes, lut, w,
                                                      w * rows);
        });
    return KZ_ERR_NOT_SUPPORTED;
}

kz_result CKzPicBufAPI::Stretch(SKzPicBuf* dst, SKzPicBuf* src, unsigned mode)
{
    if (!Check(dst, src, eCheckBpcComp))
        return KZ_ERR_FAILED;
    return CKzPicMemAPI::Stretch(dst->pData, dst->uiComp, dst->uiWidthBytes, dst->uiBpc, dst->uiWidth, dst->uiHeight,
                                 src->pData, src->uiWidthBytes, src->uiWidth, src->uiHeight, 0, 0, src->uiWidth,
                                 src->uiHeight, CKzPicMemAPI::EKzPicStretchMode(mode));
}
