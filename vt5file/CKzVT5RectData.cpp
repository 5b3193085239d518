// Rectangle reads (a frame viewed at a virtual size, nearest neighbour at
// pixel centres, reading only the rows needed) and component reads.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_system/CKzLiteVariant.h"
#include "vt5file/CKzVT5InputFile.h"
#include "vt5file/KzVT5Names.h"

namespace {

// Source index of output index i of a virtual axis: the source pixel whose
// span holds the centre of virtual pixel `at`, clamped to the last one:
// min(floor((at + 0.5) * size / virtualSize), size - 1), computed exactly.
inline u64 SourceIndex(u64 at, u32 size, u32 virtualSize)
{
    const unsigned __int128 num = (unsigned __int128)(2 * (unsigned __int128)at + 1) * size;
    const u64 q = (u64)(num / (2 * (unsigned __int128)virtualSize));
    return std::min<u64>(q, (u64)size - 1);
}

template <size_t N>
inline void GatherFixed(u8* dst, const u8* row, const u64* cols, u32 width)
{
    for (u32 i = 0; i < width; ++i)
        std::memcpy(dst + (size_t)i * N, row + cols[i], N);
}

void Gather(u8* dst, const u8* row, const u64* cols, u32 width, u64 pixel)
{
    switch (pixel) {
    case 1:
        for (u32 i = 0; i < width; ++i)
            dst[i] = row[cols[i]];
        return;
    case 2: GatherFixed<2>(dst, row, cols, width); return;
    case 3: GatherFixed<3>(dst, row, cols, width); return;
    case 4: GatherFixed<4>(dst, row, cols, width); return;
    case 6: GatherFixed<6>(dst, row, cols, width); return;
    case 8: GatherFixed<8>(dst, row, cols, width); return;
    default:
        for (u32 i = 0; i < width; ++i)
            std::memcpy(dst + (size_t)(i * pixel), row + cols[i], (size_t)pixel);
    }
}

}  // namespace

u32 CKzVT5InputFile_V02::rectSampleBytes(u32 bpcInMemory, i32 pixelType)
{
    if (bpcInMemory == 0)
        return 0;
    if (bpcInMemory <= 8)
        return 1;
    if (bpcInMemory <= 16)
        return 2;
    if (bpcInMemory == 32 && pixelType == 2)
        return 4;
    return 0;
}

int CKzVT5InputFile_V02::rectCopy(u32 seq, const SRectSource& src, u32 virtualWidth, u32 virtualHeight, u32 x, u32 y,
                                  u32 width, u32 height, void* buffer, u32 rowBytes, KzImageProgressFn progress,
                                  void* user)
{
    if (virtualWidth == 0 || virtualHeight == 0 || src.uiWidth == 0 || src.uiHeight == 0)
        return KZ_ERR_FAILED;
    const u64 pixel = (u64)src.uiComp * src.uiSampleBytes;
    if (pixel == 0 || (u64)rowBytes < (u64)width * pixel || (u64)src.uiWidthBytes < (u64)src.uiWidth * pixel)
        return KZ_ERR_FAILED;
    if (width == 0 || height == 0)
        return KZ_OK;
    if (!buffer)
        return KZ_ERR_INVALID_ARG;
    try {
        std::vector<u64> cols(width);
        for (u32 i = 0; i < width; ++i)
            cols[i] = SourceIndex((u64)x + i, src.uiWidth, virtualWidth) * pixel;
        std::vector<u8> row;
        const std::string name = frameName(seq);
        SKzChunkHeader header;
        std::memset(&header, 0, sizeof(header));
        if (!src.pRows) {
            // The chunk is checked as a whole-frame read checks it: a header
            // that disagrees with the map, or a chunk that is not the time
            // and one raw frame (a deflated stream, say), is not served.
            if (const int r = frameHeader(name, header); r != KZ_OK)
                return r;
            if (header.uiDataLength != 8 + (u64)src.uiWidthBytes * src.uiHeight)
                return KZ_ERR_FAILED;
            row.resize(src.uiWidthBytes);
        }
        u64 loaded = ~0ull;
        u8* out = static_cast<u8*>(buffer);
        for (u32 j = 0; j < height; ++j) {
            if (progress && progress((double)j / (double)height, user))
                return KZ_ERR_TRUNCATED;
            const u64 r = SourceIndex((u64)y + j, src.uiHeight, virtualHeight);
            const u8* rowData;
            if (src.pRows) {
                rowData = src.pRows + r * src.uiWidthBytes;
            } else {
                if (r != loaded) {
                    const int g = m_Chunker.GetChunkPartTo(header, row.data(), r * src.uiWidthBytes + 8,
                                                           src.uiWidthBytes, name.c_str());
                    if (g != KZ_OK)
                        return g;
                    loaded = r;
                }
                rowData = row.data();
            }
            Gather(out + (u64)j * rowBytes, rowData, cols.data(), width, pixel);
        }
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

int CKzVT5InputFile_V02::GetRectData(u32 seq, u32 virtualWidth, u32 virtualHeight, u32 x, u32 y, u32 width,
                                     u32 height, void* buffer, u32 rowBytes, int, KzImageProgressFn progress,
                                     void* user)
{
    Lock lock(m_Lock);
    if (const int r = ensureLayout(); r != KZ_OK)
        return r;
    if (m_iCompression != 2)
        return KZ_ERR_NOT_SUPPORTED;
    const u32 sb = rectSampleBytes(m_Layout.uiBpcInMemory, m_Layout.ePixelType);
    if (sb == 0)
        return KZ_ERR_NOT_SUPPORTED;
    const SRectSource src{m_Layout.uiWidth, m_Layout.uiHeight, m_Layout.uiWidthBytes, m_Layout.uiComp, sb, nullptr};
    return rectCopy(seq, src, virtualWidth, virtualHeight, x, y, width, height, buffer, rowBytes, progress, user);
}

int CKzVT5InputFile_V03::GetRectData(u32 seq, u32 virtualWidth, u32 virtualHeight, u32 x, u32 y, u32 width,
                                     u32 height, void* buffer, u32 rowBytes, int unused, KzImageProgressFn progress,
                                     void* user)
{
    Lock lock(m_Lock);
    if (const int r = ensureLayout(); r != KZ_OK)
        return r;
    if (m_iCompression == 2)
        return CKzVT5InputFile_V02::GetRectData(seq, virtualWidth, virtualHeight, x, y, width, height, buffer,
                                                rowBytes, unused, progress, user);
    if (m_iCompression != 0 || width != virtualWidth || height != virtualHeight)
        return KZ_ERR_NOT_SUPPORTED;
    const u32 sb = rectSampleBytes(m_Layout.uiBpcInMemory, m_Layout.ePixelType);
    if (sb == 0)
        return KZ_ERR_NOT_SUPPORTED;

    // The whole virtual picture of a deflated frame comes from the thumbnail.
    CKzLiteVariantR lr;
    if (m_Chunker.GetChunk(lr, vt5names::Custom(vt5names::kCustomData, L"Thumbnail_V1_0").c_str()) != KZ_OK)
        return KZ_ERR_NOT_SUPPORTED;
    lr.Reset();
    if (lr.LevelBegin(L"Thumbnail") != KZ_OK)
        return KZ_ERR_NOT_SUPPORTED;
    const u32 comp = lr.Get(L"uiComp", 0u);
    const u32 bpc = lr.Get(L"uiBpc", 0u);
    const u32 wb = lr.Get(L"uiWidthBytes", 0u);
    const u32 h = lr.Get(L"uiHeight", 0u);
    const u32 w = lr.Get(L"uiWidth", 0u);
    unsigned long size = 0;
    const void* data = lr.Get(L"pData", &size);
    const u32 tsb = rectSampleBytes(bpc > 248 ? 0 : (bpc + 7) / 8 * 8, m_Layout.ePixelType);
    // A thumbnail must hold samples the caller's buffer is shaped for, and
    // all of its rows.
    if (comp != m_Layout.uiComp || tsb != sb || !data || (u64)size < (u64)h * wb)
        return KZ_ERR_NOT_SUPPORTED;
    SKzPicBuf pic;
    CKzPicBufAPI::Init(&pic);
    if (CKzPicBufAPI::Reinit(&pic, w, h, wb, bpc, comp, false) != KZ_OK || !pic.pData) {
        CKzPicBufAPI::Free(&pic);
        return KZ_ERR_OUT_OF_MEMORY;
    }
    std::memcpy(pic.pData, data, (size_t)std::min<u64>(size, pic.uiSize));
    const SRectSource src{pic.uiWidth, pic.uiHeight, pic.uiWidthBytes, pic.uiComp, tsb, pic.pData};
    const int r = rectCopy(seq, src, virtualWidth, virtualHeight, x, y, width, height, buffer, rowBytes, progress, user);
    CKzPicBufAPI::Free(&pic);
    return r;
}

int CKzVT5InputFile_V02::GetComponentData(u32 seq, u32 component, void* buffer, u32 rowBytes, u32 components)
{
    Lock lock(m_Lock);
    if (const int r = ensureLayout(); r != KZ_OK)
        return r;
    if (!buffer || component >= m_Layout.uiComp)
        return KZ_ERR_INVALID_ARG;
    const u32 bits = m_Layout.uiBpcSignificant;
    if ((u64)m_Layout.uiWidth * m_Layout.uiComp * CKzPicBufAPI::CalcCompSize(bits) > m_Layout.uiWidthBytes)
        return KZ_ERR_FAILED;
    // The frame must be there, and plausible, before its picture is allocated.
    if (const int c = CheckFrameChunk(seq); c != KZ_OK)
        return c;
    SKzPicBuf pic;
    CKzPicBufAPI::Init(&pic);
    int r = CKzPicBufAPI::Reinit(&pic, m_Layout.uiWidth, m_Layout.uiHeight, m_Layout.uiWidthBytes, bits,
                                 m_Layout.uiComp, false);
    if (r == KZ_OK && (!pic.pData || pic.uiSize < frameBytes()))
        r = KZ_ERR_OUT_OF_MEMORY;
    if (r == KZ_OK)
        r = GetData(seq, pic.pData, nullptr, nullptr);
    if (r == KZ_OK) {
        // Bands of rows whose pixel count fits the copy's 32-bit count.
        const u32 w = m_Layout.uiWidth;
        const u32 bandRows = std::max<u32>(1, (u32)std::min<u64>(m_Layout.uiHeight, UINT_MAX / w));
        for (u32 row = 0; row < m_Layout.uiHeight && r == KZ_OK; row += bandRows) {
            const u32 rows = std::min(bandRows, m_Layout.uiHeight - row);
            u8* dst = static_cast<u8*>(buffer) + (u64)row * rowBytes;
            u8* src = pic.pData + (u64)row * m_Layout.uiWidthBytes;
            r = CKzPicMemAPI::CopyComponent(dst, components, rowBytes, 0, src, m_Layout.uiComp,
                                            m_Layout.uiWidthBytes, component, bits, w, rows * w);
        }
    }
    CKzPicBufAPI::Free(&pic);
    return r;
}
