#include "gnr_picture/CKzPicMemAPI.h"

#include "gnr_picture/KzKernelsB.h"

namespace {

enum class Depth { None, D8, D16, D32 };

// Container class of a sample depth as the dispatch sees it: bits 1..7 have
// no kernel unless an operation says otherwise.
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

} // namespace

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
