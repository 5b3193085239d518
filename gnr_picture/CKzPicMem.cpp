// Raw-memory dispatch: one selection of the kernel per call, by sample depth
// and component count.
#include "gnr_picture/CKzPicMemAPI.h"

#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/KzKernels.h"
#include "gnr_picture/KzKernelsB.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/internal/KzPicKernelFamilies.h"

#if KZ_PIC_HAVE_DEPTH_KERNELS || KZ_PIC_HAVE_LUTMAP_KERNELS || KZ_PIC_HAVE_HISTO_KERNELS
#include "gnr_picture/KzKernelsC.h"
#include "gnr_picture/internal/KzKernelsInternalK1.h"
#endif
#if KZ_PIC_HAVE_UNPACK_KERNELS
#include "gnr_picture/KzKernelsCompose.h"
#endif

#include <cstring>

namespace {

enum class Depth { None, D8, D16, D32 };

// Container class of a sample depth: bits 1..7 have no kernel unless an
// operation says otherwise.
Depth DepthOf(unsigned bits)
{
    if (bits == 8)
        return Depth::D8;
    if (bits >= 9 && bits <= 16)
        return Depth::D16;
    if (bits >= 17 && bits <= 32)
        return Depth::D32;
    return Depth::None;
}

bool Empty(unsigned width, unsigned count) { return width == 0 || count == 0; }

// Bits that make the whole-row kernels use the picture layout's container
// (1, 2, 4 or 8 bytes); 0 for depths without one.
unsigned ContainerBits(unsigned bits) { return 8 * CKzPicBufAPI::CalcCompSize(bits); }

// Fixed-count member (1, 3, 4) or the N member.
enum class Count { C1, C3, C4, N };
Count CountOf(unsigned comps)
{
    switch (comps) {
    case 1:
        return Count::C1;
    case 3:
        return Count::C3;
    case 4:
        return Count::C4;
    default:
        return Count::N;
    }
}

// The common rule over a family stem##_{1,3,4,N}x{8,16} whose members take
// (dst, dstStride, src, srcStride, consts, comps, bits, width, count).
#define KZ_CONST_TEMPLATE(stem, C8, C16)                                                                  \
    do {                                                                                                  \
        if (Empty(width, count))                                                                          \
            return KZ_OK;                                                                                 \
        const Depth d = DepthOf(bits);                                                                    \
        if (d != Depth::D8 && d != Depth::D16)                                                            \
            return KZ_ERR_NOT_SUPPORTED;                                                                  \
        if (!dst || !src || !consts)                                                                      \
            return KZ_ERR_FAILED;                                                                         \
        if (comps == 0)                                                                                   \
            return KZ_ERR_NOT_SUPPORTED;                                                                  \
        const auto* c8 = reinterpret_cast<const C8*>(consts);                                             \
        const auto* c16 = reinterpret_cast<const C16*>(consts);                                           \
        if (d == Depth::D8) {                                                                             \
            switch (CountOf(comps)) {                                                                     \
            case Count::C1:                                                                               \
                return stem##_1x8(dst, dstStride, src, srcStride, c8, 1, 8, width, count);                \
            case Count::C3:                                                                               \
                return stem##_3x8(dst, dstStride, src, srcStride, c8, 3, 8, width, count);                \
            case Count::C4:                                                                               \
                return stem##_4x8(dst, dstStride, src, srcStride, c8, 4, 8, width, count);                \
            default:                                                                                      \
                return stem##_Nx8(dst, dstStride, src, srcStride, c8, comps, 8, width, count);            \
            }                                                                                             \
        }                                                                                                 \
        switch (CountOf(comps)) {                                                                         \
        case Count::C1:                                                                                   \
            return stem##_1x16(dst, dstStride, src, srcStride, c16, 1, bits, width, count);               \
        case Count::C3:                                                                                   \
            return stem##_3x16(dst, dstStride, src, srcStride, c16, 3, bits, width, count);               \
        case Count::C4:                                                                                   \
            return stem##_4x16(dst, dstStride, src, srcStride, c16, 4, bits, width, count);               \
        default:                                                                                          \
            return stem##_Nx16(dst, dstStride, src, srcStride, c16, comps, bits, width, count);           \
        }                                                                                                 \
    } while (0)

// LUT format checks shared by the LUT operations.
bool HasTable(const SKzLut* lut) { return lut && lut->pLut; }

// Bytes of one output sample of the LUT, as the kernels read its entries.
unsigned LutOutBytes(const SKzLut& lut) { return CKzPicBufAPI::CalcCompSize(lut.uiOutBpc); }

bool HasExposure(const SKzLut& lut) { return lut.pOverExpColor || lut.pUnderExpColor; }

} // namespace

// ---------------------------------------------------------------------------
// Unpacking
// ---------------------------------------------------------------------------

kz_result CKzPicMemAPI::UnpackFromBinary(void* dst, unsigned comps, unsigned bits, unsigned long value,
                                         unsigned dstStride, const void* bitRows, unsigned bitOffset,
                                         unsigned bitStride, unsigned width, unsigned count, unsigned mode)
{
    // The pixel is read from the value's bytes: it must fit them.
    const unsigned long long pixelBytes = (unsigned long long)comps * CKzPicBufAPI::CalcCompSize(bits);
    if (pixelBytes > sizeof value)
        return KZ_ERR_FAILED;
    unsigned char pixel[sizeof value];
    std::memcpy(pixel, &value, sizeof value);
    return UnpackFromBinary(dst, comps, bits, static_cast<const void*>(pixel), dstStride, bitRows, bitOffset,
                            bitStride, width, count, mode);
}

kz_result CKzPicMemAPI::UnpackFromBinary(void* dst, unsigned comps, unsigned bits, const void* pixel,
                                         unsigned dstStride, const void* bitRows, unsigned bitOffset,
                                         unsigned bitStride, unsigned width, unsigned count, unsigned mode)
{
    if (Empty(width, count))
        return KZ_OK;
    const Depth d = DepthOf(bits);
    if ((d != Depth::D8 && d != Depth::D16) || comps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !bitRows || !pixel)
        return KZ_ERR_FAILED;
#if KZ_PIC_HAVE_UNPACK_KERNELS
    const u8* rows = static_cast<const u8*>(bitRows) + bitOffset / 8;
    const unsigned off = bitOffset % 8;
    if (d == Depth::D8) {
        switch (CountOf(comps)) {
        case Count::C1:
            return unpack_bin_to_1x8(dst, pixel, dstStride, rows, off, bitStride, width, count, mode);
        case Count::C3:
            return unpack_bin_to_3x8(dst, pixel, dstStride, rows, off, bitStride, width, count, mode);
        case Count::C4:
            return unpack_bin_to_4x8(dst, pixel, dstStride, rows, off, bitStride, width, count, mode);
        default:
            return unpack_bin_to_Nx8(dst, comps, pixel, dstStride, rows, off, bitStride, width, count, mode);
        }
    }
    switch (CountOf(comps)) {
    case Count::C1:
        return unpack_bin_to_1x16(dst, pixel, dstStride, rows, off, bitStride, width, count, mode);
    case Count::C3:
        return unpack_bin_to_3x16(dst, pixel, dstStride, rows, off, bitStride, width, count, mode);
    case Count::C4:
        return unpack_bin_to_4x16(dst, pixel, dstStride, rows, off, bitStride, width, count, mode);
    default:
        return unpack_bin_to_Nx16(dst, comps, pixel, dstStride, rows, off, bitStride, width, count, mode);
    }
#else
    (void)dstStride;
    (void)bitOffset;
    (void)bitStride;
    (void)mode;
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

// ---------------------------------------------------------------------------
// Constant operations
// ---------------------------------------------------------------------------

kz_result CKzPicMemAPI::MaxConstAndClip(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                        const void* consts, unsigned comps, unsigned bits, unsigned width,
                                        unsigned count)
{
    KZ_CONST_TEMPLATE(maxconstandclip, u8, u16);
}

kz_result CKzPicMemAPI::MinConstAndClip(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                        const void* consts, unsigned comps, unsigned bits, unsigned width,
                                        unsigned count)
{
    KZ_CONST_TEMPLATE(minconstandclip, u8, u16);
}

kz_result CKzPicMemAPI::AddConstAndClip(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                        const int* consts, unsigned comps, unsigned bits, unsigned width,
                                        unsigned count)
{
    KZ_CONST_TEMPLATE(addconstandclip, int, int);
}

kz_result CKzPicMemAPI::AddConstRotate(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                       const int* consts, unsigned comps, unsigned bits, unsigned width,
                                       unsigned count)
{
    KZ_CONST_TEMPLATE(addconstrotate, int, int);
}

kz_result CKzPicMemAPI::SubConstAndClip(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                        const int* consts, unsigned comps, unsigned bits, unsigned width,
                                        unsigned count)
{
    KZ_CONST_TEMPLATE(subconstandclip, int, int);
}

kz_result CKzPicMemAPI::MulConstAndClip(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                        const double* consts, unsigned comps, unsigned bits, unsigned width,
                                        unsigned count)
{
    KZ_CONST_TEMPLATE(mulconstandclip, double, double);
}

kz_result CKzPicMemAPI::DivConstAndClip(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                        const double* consts, unsigned comps, unsigned bits, unsigned width,
                                        unsigned count)
{
    if (!Empty(width, count) && DepthOf(bits) == Depth::D32) {
        if (!dst || !src || !consts)
            return KZ_ERR_FAILED;
        if (comps == 0)
            return KZ_ERR_NOT_SUPPORTED;
        return divconstandclip_Nx32(dst, dstStride, src, srcStride, consts, comps, bits, width, count);
    }
    KZ_CONST_TEMPLATE(divconstandclip, double, double);
}

kz_result CKzPicMemAPI::MaskOut(void* buffer, unsigned stride, unsigned mask, unsigned comps, unsigned bits,
                                unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    const Depth d = DepthOf(bits);
    if ((d != Depth::D8 && d != Depth::D16) || comps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!buffer)
        return KZ_ERR_FAILED;
    if (d == Depth::D8) {
        if (comps == 1)
            return maskout_1x8(buffer, stride, mask, width, count);
        if (comps == 3)
            return maskout_3x8(buffer, stride, mask, width, count);
        return maskout_Nx8(buffer, stride, mask, comps, width, count);
    }
    if (comps == 1)
        return maskout_1x16(buffer, stride, mask, width, count);
    if (comps == 3)
        return maskout_3x16(buffer, stride, mask, width, count);
    return maskout_Nx16(buffer, stride, mask, comps, width, count);
}

// ---------------------------------------------------------------------------
// Histograms
// ---------------------------------------------------------------------------

kz_result CKzPicMemAPI::GetHistogram(void** hists, unsigned counterBytes, const void* src, unsigned srcStride,
                                     unsigned comps, unsigned bits, unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    const Depth d = DepthOf(bits);
    if ((d != Depth::D8 && d != Depth::D16) || comps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!src || !hists)
        return KZ_ERR_FAILED;
    for (unsigned k = 0; k < comps; ++k)
        if (!hists[k])
            return KZ_ERR_FAILED;
#if KZ_PIC_HAVE_HISTO_KERNELS
    void* const* set = hists;
    if (d == Depth::D8) {
        switch (CountOf(comps)) {
        case Count::C1:
            return gethistogram_1x8(hists[0], counterBytes, src, srcStride, 1, 1, width, count);
        case Count::C3:
            return gethistogram_3x8(set, counterBytes, src, srcStride, 1, 1, width, count);
        case Count::C4:
            return gethistogram_4x8(set, counterBytes, src, srcStride, 1, 1, width, count);
        default:
            return gethistogram_Nx8(set, counterBytes, src, comps, srcStride, 1, 1, width, count);
        }
    }
    switch (CountOf(comps)) {
    case Count::C1:
        return gethistogram_1x16(hists[0], counterBytes, src, srcStride, 1, 1, bits, width, count);
    case Count::C3:
        return gethistogram_3x16(set, counterBytes, src, srcStride, 1, 1, bits, width, count);
    case Count::C4:
        return gethistogram_4x16(set, counterBytes, src, srcStride, 1, 1, bits, width, count);
    default:
        return gethistogram_Nx16(set, counterBytes, src, comps, srcStride, 1, 1, bits, width, count);
    }
#else
    (void)counterBytes;
    (void)srcStride;
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

kz_result CKzPicMemAPI::GetHistogramEx(void** hists, void* intensity, unsigned counterBytes, const void* src,
                                       unsigned srcStride, unsigned comps, unsigned bits, unsigned xStep,
                                       unsigned yStep, unsigned width, unsigned count)
{
    if (!src)
        return KZ_ERR_FAILED;
    if (Empty(width, count))
        return KZ_OK;
    const Depth d = DepthOf(bits);
    if ((d != Depth::D8 && d != Depth::D16) || comps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!intensity || (comps > 1 && !hists))
        return KZ_ERR_FAILED;
    if (comps > 1)
        for (unsigned k = 0; k < comps; ++k)
            if (!hists[k])
                return KZ_ERR_FAILED;
#if KZ_PIC_HAVE_HISTO_KERNELS
    void* const* set = hists;
    if (d == Depth::D8) {
        switch (CountOf(comps)) {
        case Count::C1:
            return gethistogram_1x8(intensity, counterBytes, src, srcStride, xStep, yStep, width, count);
        case Count::C3:
            return gethistogramint_3x8(set, intensity, counterBytes, src, srcStride, xStep, yStep, width, count);
        case Count::C4:
            return gethistogramint_4x8(set, intensity, counterBytes, src, srcStride, xStep, yStep, width, count);
        default:
            return gethistogramint_Nx8(set, intensity, counterBytes, src, comps, srcStride, xStep, yStep, width,
                                       count);
        }
    }
    switch (CountOf(comps)) {
    case Count::C1:
        return gethistogram_1x16(intensity, counterBytes, src, srcStride, xStep, yStep, bits, width, count);
    case Count::C3:
        return gethistogramint_3x16(set, intensity, counterBytes, src, srcStride, xStep, yStep, bits, width,
                                    count);
    case Count::C4:
        return gethistogramint_4x16(set, intensity, counterBytes, src, srcStride, xStep, yStep, bits, width,
                                    count);
    default:
        return gethistogramint_Nx16(set, intensity, counterBytes, src, comps, srcStride, xStep, yStep, bits,
                                    width, count);
    }
#else
    (void)counterBytes;
    (void)srcStride;
    (void)xStep;
    (void)yStep;
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

kz_result CKzPicMemAPI::GetHistogramDiv(void** hists, unsigned counterBytes, unsigned histBits, const void* src,
                                        unsigned srcStride, unsigned comps, unsigned srcBits, unsigned width,
                                        unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    const Depth d = DepthOf(srcBits);
    if ((d != Depth::D16 && d != Depth::D32) || comps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (histBits > srcBits)
        return KZ_ERR_INVALID_ARG;
    if (!src || !hists)
        return KZ_ERR_FAILED;
    for (unsigned k = 0; k < comps; ++k)
        if (!hists[k])
            return KZ_ERR_FAILED;
#if KZ_PIC_HAVE_HISTO_KERNELS
    void* const* set = hists;
    if (d == Depth::D16) {
        if (comps == 1)
            return gethistogramdiv_1x16(hists[0], counterBytes, histBits, src, srcStride, 1, 1, srcBits, width,
                                        count);
        if (comps == 3)
            return gethistogramdiv_3x16(set, counterBytes, histBits, src, srcStride, 1, 1, srcBits, width, count);
        return gethistogramdiv_Nx16(set, counterBytes, histBits, src, comps, srcStride, 1, 1, srcBits, width,
                                    count);
    }
    if (comps == 1)
        return gethistogramdiv_1x32(hists[0], counterBytes, histBits, src, srcStride, 1, 1, srcBits, width, count);
    if (comps == 3)
        return gethistogramdiv_3x32(set, counterBytes, histBits, src, srcStride, 1, 1, srcBits, width, count);
    return gethistogramdiv_Nx32(set, counterBytes, histBits, src, comps, srcStride, 1, 1, srcBits, width, count);
#else
    (void)counterBytes;
    (void)srcStride;
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

kz_result CKzPicMemAPI::AddHisto(const void* srcIntensity, const void* const* srcRows, void* dstIntensity,
                                 void* const* dstRows, unsigned bits, unsigned comps, unsigned counterBytes)
{
    // An intensity or a row on one side only would be added into nothing.
    if (srcIntensity && !dstIntensity)
        return KZ_ERR_FAILED;
    if (srcRows && (!dstRows || srcRows[0] != srcIntensity))
        for (unsigned k = 0; k < comps; ++k)
            if (!srcRows[k] || !dstRows || !dstRows[k])
                return KZ_ERR_FAILED;
    if (bits > 32)
        return KZ_ERR_INVALID_ARG;
#if KZ_PIC_HAVE_HISTO_KERNELS
    return histo_add(srcIntensity, srcRows, dstIntensity, dstRows, bits, kz_int32(comps), counterBytes);
#else
    (void)counterBytes;
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

// ---------------------------------------------------------------------------
// Copies, blends, fills
// ---------------------------------------------------------------------------

kz_result CKzPicMemAPI::Copy(void* dst, unsigned dstStride, const void* src, unsigned srcStride, unsigned comps,
                             unsigned bits, unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    const unsigned cb = ContainerBits(bits);
    if (cb == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    return copy(dst, dstStride, src, srcStride, comps, cb, width, count);
}

kz_result CKzPicMemAPI::BlendTwoBuffers(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                        const unsigned char (*table)[256], unsigned comps, unsigned bits,
                                        unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    const unsigned cb = ContainerBits(bits);
    if (cb == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !src || !table)
        return KZ_ERR_FAILED;
    return blend_two(dst, dstStride, src, srcStride, &table[0][0], comps, cb, width, count);
}

kz_result CKzPicMemAPI::CopyMask(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                 unsigned comps, unsigned bits, const void* mask, unsigned maskBits,
                                 unsigned maskStride, unsigned width, unsigned count, int key, bool in)
{
    if (Empty(width, count))
        return KZ_OK;
    if (maskBits > 16)
        return KZ_ERR_INVALID_ARG;
    const unsigned cb = ContainerBits(bits);
    if (cb == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !src || !mask)
        return KZ_ERR_FAILED;
    if (maskBits <= 8)
        return in ? copymask_8_in(dst, dstStride, src, srcStride, comps, cb, mask, maskStride, width, count, key)
                  : copymask_8_out(dst, dstStride, src, srcStride, comps, cb, mask, maskStride, width, count, key);
    if (comps == 3 && bits <= 8)
        return in ? copymask_16_3x8_in(dst, dstStride, src, srcStride, mask, maskStride, width, count, key)
                  : copymask_16_3x8_out(dst, dstStride, src, srcStride, mask, maskStride, width, count, key);
    return in ? copymask_16_in(dst, dstStride, src, srcStride, comps, cb, mask, maskStride, width, count, key)
              : copymask_16_out(dst, dstStride, src, srcStride, comps, cb, mask, maskStride, width, count, key);
}

kz_result CKzPicMemAPI::SetValue(void* buffer, unsigned comps, unsigned bits, unsigned stride, const void* value,
                                 unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    const Depth d = DepthOf(bits);
    if ((d != Depth::D8 && d != Depth::D16) || comps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!buffer || !value)
        return KZ_ERR_FAILED;
    return d == Depth::D8 ? set_Nx8(buffer, comps, stride, value, width, count)
                          : set_Nx16(buffer, comps, stride, value, width, count);
}

kz_result CKzPicMemAPI::SetComponentValue(void* buffer, unsigned comps, unsigned bits, unsigned stride,
                                          unsigned compIdx, unsigned value, unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    const Depth d = DepthOf(bits);
    if (d != Depth::D8 && d != Depth::D16)
        return KZ_ERR_NOT_SUPPORTED;
    if (compIdx >= comps)
        return KZ_ERR_INVALID_ARG;
    if (!buffer)
        return KZ_ERR_FAILED;
    return d == Depth::D8 ? setcomponent_Nx8(buffer, comps, stride, compIdx, int32_t(value), width, count)
                          : setcomponent_Nx16(buffer, comps, stride, compIdx, int32_t(value), width, count);
}

// ---------------------------------------------------------------------------
// LUTs
// ---------------------------------------------------------------------------

kz_result CKzPicMemAPI::ApplyLuts(void* dst, unsigned dstStride, const void* src, unsigned srcStride, SKzLut* lut,
                                  unsigned comps, unsigned bits, unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    if (!lut || lut->uiInComp > 1)
        return KZ_ERR_NOT_SUPPORTED;
    if (bits == 0 || bits > 16 || comps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    // The table must cover the samples and hold entries of the samples' size.
    if (!HasTable(lut) || lut->uiInComp != 1 || lut->uiInBpc != bits ||
        LutOutBytes(*lut) != CKzPicBufAPI::CalcCompSize(bits))
        return KZ_ERR_INVALID_ARG;
    if (lut->uiOutComp != 1 && lut->uiOutComp != comps)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    const bool d8 = bits <= 8;
    if (lut->uiOutComp == 1) {
        if (d8) {
            const u8* t = static_cast<const u8*>(lut->pLut);
            if (comps == 3)
                return applyluts_3x8_lut1(dst, dstStride, src, srcStride, t, 3, bits, width, count);
            if (comps == 4)
                return applyluts_4x8_lut1(dst, dstStride, src, srcStride, t, 4, bits, width, count);
            return applyluts_Nx8_lut1(dst, dstStride, src, srcStride, t, comps, bits, width, count);
        }
        const u16* t = static_cast<const u16*>(lut->pLut);
        if (comps == 3)
            return applyluts_3x16_lut1(dst, dstStride, src, srcStride, t, 3, bits, width, count);
        if (comps == 4)
            return applyluts_4x16_lut1(dst, dstStride, src, srcStride, t, 4, bits, width, count);
        return applyluts_Nx16_lut1(dst, dstStride, src, srcStride, t, comps, bits, width, count);
    }
    if (d8) {
        const u8* const* t = static_cast<const u8* const*>(lut->pLut);
        if (comps == 3) {
            if (HasExposure(*lut))
                return applyluts_3x8_overexp_underexp(dst, dstStride, src, srcStride, t, lut->pOverExpColor,
                                                      lut->pUnderExpColor, 3, bits, width, count);
            return applyluts_3x8(dst, dstStride, src, srcStride, t, 3, bits, width, count);
        }
        if (comps == 4)
            return applyluts_4x8(dst, dstStride, src, srcStride, t, 4, bits, width, count);
        return applyluts_Nx8(dst, dstStride, src, srcStride, t, comps, bits, width, count);
    }
    const u16* const* t = static_cast<const u16* const*>(lut->pLut);
    if (comps == 3)
        return applyluts_3x16(dst, dstStride, src, srcStride, t, 3, bits, width, count);
    if (comps == 4)
        return applyluts_4x16(dst, dstStride, src, srcStride, t, 4, bits, width, count);
    return applyluts_Nx16(dst, dstStride, src, srcStride, t, comps, bits, width, count);
}

kz_result CKzPicMemAPI::ConvertBitDepthViaLuts(void* dst, unsigned dstBits, unsigned dstStride, const void* src,
                                               unsigned srcBits, unsigned srcStride, SKzLut* lut, unsigned comps,
                                               unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    if (dstBits == srcBits)
        return ApplyLuts(dst, dstStride, src, srcStride, lut, comps, srcBits, width, count);
    const Depth ds = DepthOf(srcBits), dd = DepthOf(dstBits);
    if ((ds != Depth::D8 && ds != Depth::D16) || (dd != Depth::D8 && dd != Depth::D16) || comps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!HasTable(lut) || lut->uiInComp != 1 || lut->uiInBpc != srcBits ||
        LutOutBytes(*lut) != CKzPicBufAPI::CalcCompSize(dstBits) ||
        (lut->uiOutComp != 1 && lut->uiOutComp != comps))
        return KZ_ERR_INVALID_ARG;
    if (!dst || !src)
        return KZ_ERR_FAILED;
#if KZ_PIC_HAVE_DEPTH_KERNELS
    const bool flat = lut->uiOutComp == 1;
    const void* t = lut->pLut;
    using T8 = const u8*;
    using R8 = const u8* const*;
    using T16 = const u16*;
    using R16 = const u16* const*;
    const unsigned sb = srcBits;
    if (ds == Depth::D16 && dd == Depth::D8) {
        switch (CountOf(comps)) {
        case Count::C1:
            return convertbitdepthvialuts_1x16_to_1x8_depth(dst, dstStride, src, srcStride, T8(t), width, count, sb);
        case Count::C3:
            if (flat) {
                if (lut->pOverExpColor)
                    return convertbitdepthvialuts_3x16_to_3x8_lut1_overexp(dst, dstStride, src, sb, srcStride, T8(t),
                                                                           lut->pOverExpColor, width, count);
                return convertbitdepthvialuts_3x16_to_3x8_lut1_depth(dst, dstStride, src, sb, srcStride, T8(t), width,
                                                                     count, sb);
            }
            if (HasExposure(*lut))
                return convertbitdepthvialuts_3x16_to_3x8_overexp_underexp(
                    dst, dstStride, src, sb, srcStride, R8(t), lut->pOverExpColor, lut->pUnderExpColor, width, count);
            return convertbitdepthvialuts_3x16_to_3x8_depth(dst, dstStride, src, sb, srcStride, R8(t), width, count,
                                                            sb);
        case Count::C4:
            return flat ? convertbitdepthvialuts_4x16_to_4x8_lut1_depth(dst, dstStride, src, srcStride, T8(t), width,
                                                                        count, sb)
                        : convertbitdepthvialuts_4x16_to_4x8_depth(dst, dstStride, src, srcStride, R8(t), width,
                                                                   count, sb);
        default:
            return flat ? convertbitdepthvialuts_Nx16_to_Nx8_lut1_depth(dst, dstStride, src, srcStride, T8(t), comps,
                                                                        width, count, sb)
                        : convertbitdepthvialuts_Nx16_to_Nx8_depth(dst, dstStride, src, srcStride, R8(t), comps,
                                                                   width, count, sb);
        }
    }
    if (ds == Depth::D8) {
        switch (CountOf(comps)) {
        case Count::C1:
            return convertbitdepthvialuts_1x8_to_1x16_depth(dst, dstStride, src, srcStride, T16(t), width, count, sb);
        case Count::C3:
            return flat ? convertbitdepthvialuts_3x8_to_3x16_lut1_depth(dst, dstStride, src, srcStride, T16(t),
                                                                        width, count, sb)
                        : convertbitdepthvialuts_3x8_to_3x16_depth(dst, dstStride, src, srcStride, R16(t), width,
                                                                   count, sb);
        case Count::C4:
            return flat ? convertbitdepthvialuts_4x8_to_4x16_lut1_depth(dst, dstStride, src, srcStride, T16(t),
                                                                        width, count, sb)
                        : convertbitdepthvialuts_4x8_to_4x16_depth(dst, dstStride, src, srcStride, R16(t), width,
                                                                   count, sb);
        default:
            return flat ? convertbitdepthvialuts_Nx8_to_Nx16_lut1_depth(dst, dstStride, src, srcStride, T16(t),
                                                                        comps, width, count, sb)
                        : convertbitdepthvialuts_Nx8_to_Nx16_depth(dst, dstStride, src, srcStride, R16(t), comps,
                                                                   width, count, sb);
        }
    }
    switch (CountOf(comps)) {
    case Count::C1:
        return convertbitdepthvialuts_1x16_to_1x16_depth(dst, dstStride, src, srcStride, T16(t), width, count, sb);
    case Count::C3:
        return flat ? convertbitdepthvialuts_3x16_to_3x16_lut1_depth(dst, dstStride, src, srcStride, T16(t), width,
                                                                     count, sb)
                    : convertbitdepthvialuts_3x16_to_3x16_depth(dst, dstStride, src, srcStride, R16(t), width, count,
                                                                sb);
    case Count::C4:
        return flat ? convertbitdepthvialuts_4x16_to_4x16_lut1_depth(dst, dstStride, src, srcStride, T16(t), width,
                                                                     count, sb)
                    : convertbitdepthvialuts_4x16_to_4x16_depth(dst, dstStride, src, srcStride, R16(t), width, count,
                                                                sb);
    default:
        return flat ? convertbitdepthvialuts_Nx16_to_Nx16_lut1_depth(dst, dstStride, src, srcStride, T16(t), comps,
                                                                     width, count, sb)
                    : convertbitdepthvialuts_Nx16_to_Nx16_depth(dst, dstStride, src, srcStride, R16(t), comps, width,
                                                                count, sb);
    }
#else
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

kz_result CKzPicMemAPI::MapValueToComponents(void* dst, unsigned dstComps, unsigned dstBits, unsigned dstStride,
                                             const void* src, unsigned srcBits, unsigned srcStride, SKzLut* lut,
                                             unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    const Depth ds = DepthOf(srcBits), dd = DepthOf(dstBits);
    if ((ds != Depth::D8 && ds != Depth::D16) || (dd != Depth::D8 && dd != Depth::D16) || dstComps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    // The table must cover the source's values and hold destination samples.
    if (!HasTable(lut) || lut->uiInComp != 1 || lut->uiInBpc != srcBits || lut->uiOutBpc != dstBits)
        return KZ_ERR_INVALID_ARG;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    const unsigned outs = lut->uiOutComp;
    if (ds == Depth::D8 && dd == Depth::D8) {
        if (dstComps == 3 && outs == 3) {
#if KZ_PIC_HAVE_LUTMAP_KERNELS
            return mapvialuts_val8_to_3x8_lut3_depth(dst, dstStride, src, srcStride,
                                                     static_cast<const u8* const*>(lut->pLut), width, count, 8);
#else
            return KZ_ERR_NOT_SUPPORTED;
#endif
        }
        if (dstComps == 3 && outs == 1) {
#if KZ_PIC_HAVE_LUTMAP_KERNELS
            return mapvialuts_val8_to_3x8_lut1_depth(dst, dstStride, src, srcStride,
                                                     static_cast<const u8*>(lut->pLut), width, count, 8);
#else
            return KZ_ERR_NOT_SUPPORTED;
#endif
        }
        if (outs == 1 && dstComps == 1)
            return applyluts_1x8(dst, dstStride, src, srcStride, static_cast<const u8*>(lut->pLut), 1, 8, width,
                                 count);
        if (outs == dstComps) {
#if KZ_PIC_HAVE_LUTMAP_KERNELS
            return mapvialuts_val8_to_Nx8_depth(dst, dstComps, dstStride, src, srcStride,
                                                static_cast<const u8* const*>(lut->pLut), width, count, 8);
#else
            return KZ_ERR_NOT_SUPPORTED;
#endif
        }
        return KZ_ERR_INVALID_ARG;
    }
    if (ds == Depth::D16 && dstComps == 3) {
        if (outs != 3)
            return KZ_ERR_INVALID_ARG;
#if KZ_PIC_HAVE_LUTMAP_KERNELS
        if (dd == Depth::D8)
            return mapvialuts_val16_to_3x8_depth(dst, dstStride, src, srcStride,
                                                 static_cast<const u8* const*>(lut->pLut), width, count, srcBits);
        return mapvialuts_val16_to_3x16_depth(dst, dstStride, src, srcStride,
                                              static_cast<const u16* const*>(lut->pLut), width, count, srcBits);
#else
        return KZ_ERR_NOT_SUPPORTED;
#endif
    }
    if (ds != Depth::D16 || dd != Depth::D16)
        return KZ_ERR_NOT_SUPPORTED;
    if (outs == 1 && dstComps == 1)
        return applyluts_1x16(dst, dstStride, src, srcStride, static_cast<const u16*>(lut->pLut), 1, srcBits, width,
                              count);
    if (outs == dstComps) {
#if KZ_PIC_HAVE_LUTMAP_KERNELS
        return mapvialuts_val16_to_Nx16_depth(dst, dstComps, dstStride, src, srcStride,
                                              static_cast<const u16* const*>(lut->pLut), width, count, srcBits);
#else
        return KZ_ERR_NOT_SUPPORTED;
#endif
    }
    return KZ_ERR_INVALID_ARG;
}

kz_result CKzPicMemAPI::ExtractComponentViaLuts(void* dst, unsigned dstComps, unsigned dstBits, unsigned dstStride,
                                                const void* src, unsigned srcComps, unsigned srcBits,
                                                unsigned srcStride, unsigned srcIdx, SKzLut* lut, unsigned width,
                                                unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    if (!HasTable(lut) || lut->uiInBpc != srcBits || lut->uiOutBpc != dstBits)
        return KZ_ERR_INVALID_ARG;
    if (dstBits > 8)
        return KZ_ERR_NOT_SUPPORTED;
    const Depth ds = DepthOf(srcBits);
    if (srcBits > 8 && ds != Depth::D16)
        return KZ_ERR_NOT_SUPPORTED;
    if (srcBits == 0 || dstBits == 0 || dstComps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (srcIdx >= srcComps)
        return KZ_ERR_INVALID_ARG;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    const bool s16 = srcBits > 8;
    const unsigned ins = lut->uiInComp, outs = lut->uiOutComp;
    const bool marks = HasExposure(*lut);
#if KZ_PIC_HAVE_LUTMAP_KERNELS
    const auto* over = lut->pOverExpColor;
    const auto* under = lut->pUnderExpColor;
    const unsigned sb = srcBits;
    if (ins == 1 && outs == 1) {
        const u8* t = static_cast<const u8*>(lut->pLut);
        if (dstComps == 1)
            return s16 ? component_lut1_Nx16_to_1x8_depth(dst, dstStride, src, srcComps, srcStride, srcIdx, t, width,
                                                          count, sb)
                       : component_lut1_Nx8_to_1x8_depth(dst, dstStride, src, srcComps, srcStride, srcIdx, t, width,
                                                         count, sb);
        if (dstComps != 3)
            return s16 ? component_lut1_Nx16_to_Nx8_depth(dst, dstComps, dstStride, src, srcComps, srcStride, srcIdx,
                                                          t, width, count, sb)
                       : component_lut1_Nx8_to_Nx8_depth(dst, dstComps, dstStride, src, srcComps, srcStride, srcIdx,
                                                         t, width, count, sb);
        if (marks)
            return s16 ? component_lut1_Nx16_to_3x8_overexp_underexp(dst, dstStride, src, srcComps, sb, srcStride,
                                                                     srcIdx, t, over, under, width, count)
                       : component_lut1_Nx8_to_3x8_overexp_underexp_depth(dst, dstStride, src, srcComps, srcStride,
                                                                          srcIdx, t, over, under, width, count, sb);
        return s16 ? component_lut1_Nx16_to_3x8_depth(dst, dstStride, src, srcComps, sb, srcStride, srcIdx, t, width,
                                                      count, sb)
                   : component_lut1_Nx8_to_3x8_depth(dst, dstStride, src, srcComps, srcStride, srcIdx, t, width, count,
                                                     sb);
    }
    if (outs != dstComps || (ins != 1 && ins != srcComps))
        return KZ_ERR_INVALID_ARG;
    // One input: the row-pointer table; one per input: component srcIdx's.
    const u8* const* t = ins == 1 ? static_cast<const u8* const*>(lut->pLut)
                                  : static_cast<const u8* const* const*>(lut->pLut)[srcIdx];
    if (dstComps == 3) {
        if (marks)
            return s16 ? component_lut3_Mx16_to_3x8_overexp_underexp(dst, dstStride, src, srcComps, sb, srcStride,
                                                                     srcIdx, t, over, under, width, count)
                       : component_lut3_Mx8_to_3x8_overexp_underexp_depth(dst, dstStride, src, srcComps, srcStride,
                                                                          srcIdx, t, over, under, width, count, sb);
        return s16 ? component_lut3_Mx16_to_3x8_depth(dst, dstStride, src, srcComps, sb, srcStride, srcIdx, t, width,
                                                      count, sb)
                   : component_lut3_Mx8_to_3x8_depth(dst, dstStride, src, srcComps, srcStride, srcIdx, t, width, count,
                                                     sb);
    }
    return s16 ? component_lutN_Mx16_to_Nx8_depth(dst, dstComps, dstStride, src, srcComps, srcStride, srcIdx, t,
                                                  width, count, sb)
               : component_lutN_Mx8_to_Nx8_depth(dst, dstComps, dstStride, src, srcComps, srcStride, srcIdx, t, width,
                                                 count, sb);
#else
    (void)s16;
    (void)marks;
    if ((ins == 1 && outs == 1) || (outs == dstComps && (ins == 1 || ins == srcComps)))
        return KZ_ERR_NOT_SUPPORTED;
    return KZ_ERR_INVALID_ARG;
#endif
}

// ---------------------------------------------------------------------------
// Depth and component count
// ---------------------------------------------------------------------------

kz_result CKzPicMemAPI::ConvertBitDepthViaShifts(void* dst, unsigned dstBits, unsigned dstStride, const void* src,
                                                 unsigned srcBits, unsigned srcStride, unsigned comps,
                                                 unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    if (dstBits == srcBits)
        return Copy(dst, dstStride, src, srcStride, comps, srcBits, width, count);
    const Depth ds = DepthOf(srcBits), dd = DepthOf(dstBits);
    if ((ds != Depth::D8 && ds != Depth::D16) || (dd != Depth::D8 && dd != Depth::D16) || comps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !src)
        return KZ_ERR_FAILED;
#if KZ_PIC_HAVE_DEPTH_KERNELS
    if (ds == Depth::D8)
        return convert_Nx8_to_Nx16(dst, dstBits, dstStride, src, srcStride, comps, width, count);
    if (dd == Depth::D8)
        return convert_Nx16_to_Nx8(dst, dstStride, src, srcBits, srcStride, comps, width, count);
    return convert_Nx16_to_Nx16(dst, dstBits, dstStride, src, srcBits, srcStride, comps, width, count);
#else
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

kz_result CKzPicMemAPI::ChangeBitDepth(void* dst, unsigned dstBits, unsigned dstStride, const void* src,
                                       unsigned srcBits, unsigned srcStride, unsigned comps, unsigned width,
                                       unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    if (dstBits == 0 || dstBits > 32 || srcBits == 0 || srcBits > 32 || comps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !src)
        return KZ_ERR_FAILED;
#if KZ_PIC_HAVE_DEPTH_KERNELS
    const unsigned sb = srcBits;
    if (dstBits <= 8) {
        if (comps == 1)
            return changebitdepth_1xN_to_1x08(dst, dstStride, src, srcStride, sb, width, count);
        if (comps == 3)
            return changebitdepth_3xN_to_3x08(dst, dstStride, src, srcStride, sb, width, count);
        return changebitdepth_NxM_to_Nx08(dst, dstStride, src, srcStride, sb, comps, width, count);
    }
    if (dstBits <= 16) {
        if (comps == 1)
            return changebitdepth_1xN_to_1x16(dst, dstStride, src, srcStride, sb, width, count);
        if (comps == 3)
            return changebitdepth_3xN_to_3x16(dst, dstStride, src, srcStride, sb, width, count);
        return changebitdepth_NxM_to_Nx16(dst, dstStride, src, srcStride, sb, comps, width, count);
    }
    if (comps == 1)
        return changebitdepth_1xN_to_1x32(dst, dstStride, src, srcStride, sb, width, count);
    if (comps == 3)
        return changebitdepth_3xN_to_3x32(dst, dstStride, src, srcStride, sb, width, count);
    return changebitdepth_NxM_to_Nx32(dst, dstStride, src, srcStride, sb, comps, width, count);
#else
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

kz_result CKzPicMemAPI::CollapseComponents(void* dst, unsigned dstStride, const void* src, unsigned srcComps,
                                           unsigned srcStride, const double* weights, unsigned bits,
                                           unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    if (srcComps == 1)
        return Copy(dst, dstStride, src, srcStride, 1, bits, width, count);
    const Depth d = DepthOf(bits);
    if ((d != Depth::D8 && d != Depth::D16) || srcComps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    if (d == Depth::D8) {
        if (srcComps == 3)
            return convert_3x8_to_1x8(dst, dstStride, src, srcStride, weights, width, count);
        if (srcComps == 4)
            return convert_4x8_to_1x8(dst, dstStride, src, srcStride, weights, width, count);
        return convert_Nx8_to_1x8(dst, dstStride, src, srcComps, srcStride, weights, width, count);
    }
    if (srcComps == 3)
        return convert_3x16_to_1x16(dst, dstStride, src, srcStride, weights, width, count);
    if (srcComps == 4)
        return convert_4x16_to_1x16(dst, dstStride, src, srcStride, weights, width, count);
    return convert_Nx16_to_1x16(dst, dstStride, src, srcComps, srcStride, weights, width, count);
}

kz_result CKzPicMemAPI::ExpandComponent(void* dst, unsigned dstComps, unsigned dstStride, const void* src,
                                        unsigned srcStride, unsigned bits, unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    if (dstComps == 1)
        return Copy(dst, dstStride, src, srcStride, 1, bits, width, count);
    const Depth d = DepthOf(bits);
    if ((d != Depth::D8 && d != Depth::D16) || dstComps == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    if (d == Depth::D8)
        return dstComps == 3 ? convert_1x8_to_3x8(dst, dstStride, src, srcStride, width, count)
                             : convert_1x8_to_Nx8(dst, dstComps, dstStride, src, srcStride, width, count);
    return dstComps == 3 ? convert_1x16_to_3x16(dst, dstStride, src, srcStride, width, count)
                         : convert_1x16_to_Nx16(dst, dstComps, dstStride, src, srcStride, width, count);
}

kz_result CKzPicMemAPI::CopyComponent(void* dst, unsigned dstComps, unsigned dstStride, unsigned dstIdx, void* src,
                                      unsigned srcComps, unsigned srcStride, unsigned srcIdx, unsigned bits,
                                      unsigned width, unsigned count)
{
    if (Empty(width, count))
        return KZ_OK;
    const Depth d = DepthOf(bits);
    if (d != Depth::D8 && d != Depth::D16)
        return KZ_ERR_NOT_SUPPORTED;
    if (dstIdx >= dstComps || srcIdx >= srcComps)
        return KZ_ERR_INVALID_ARG;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    if (d == Depth::D8)
        return copycomponent_Nx8_to_Nx8(dst, dstComps, dstStride, dstIdx, src, srcComps, srcStride, srcIdx, width,
                                        count);
    return copycomponent_Nx16_to_Nx16(dst, dstComps, dstStride, dstIdx, src, srcComps, srcStride, srcIdx, width,
                                      count);
}

kz_result CKzPicMemAPI::ExtractComponent(void* dst, unsigned dstStride, void* src, unsigned srcComps,
                                         unsigned srcStride, unsigned srcIdx, unsigned bits, unsigned width,
                                         unsigned count)
{
    return CopyComponent(dst, 1, dstStride, 0, src, srcComps, srcStride, srcIdx, bits, width, count);
}

kz_result CKzPicMemAPI::StoreComponent(void* dst, unsigned dstComps, unsigned dstStride, unsigned dstIdx,
                                       void* src, unsigned srcStride, unsigned bits, unsigned width,
                                       unsigned count)
{
    return CopyComponent(dst, dstComps, dstStride, dstIdx, src, 1, srcStride, 0, bits, width, count);
}
