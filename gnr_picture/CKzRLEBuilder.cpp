// Label-picture builder: object i from label i, whether its pixels touch or not.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"

#include <cstring>
#include <new>
#include <stdexcept>

// Without memory for its table the builder stays without entries, and reading or
// writing then reports -3: no exception leaves the library.
CKzRLEPicBufBuilder::CKzRLEPicBufBuilder(unsigned maxLabel)
{
    try {
        m_entries.resize(size_t(maxLabel) + 1);
    } catch (const std::exception&) {
        m_entries.clear();
    }
}

template <class T>
int CKzRLEPicBufBuilder::ReadPicBuf_Impl(const SKzPicBuf& pic)
{
    if (m_entries.empty()) return KZ_ERR_OUT_OF_MEMORY;
    m_width = pic.uiWidth;
    m_height = pic.uiHeight;
    const u64 maxLabel = m_entries.size() - 1;
    auto add = [&](u32 v, u32 x, u32 y, u32 len) {
        if (v == 0 || v > maxLabel) return;
        Entry& e = m_entries[v];
        if (e.lastY != y) {
            ++e.rows;
            e.lastY = y;
        }
        e.segments.push_back({x, y, len});
    };
    try {
        for (u32 y = 0; y < m_height; ++y) {
            const T* row = reinterpret_cast<const T*>(pic.pData + u64(y) * pic.uiWidthBytes);
            u32 x = 0;
            while (x < m_width) {
                const T v = row[x];
                const u32 start = x;
                while (x < m_width && row[x] == v) ++x;
                add(u32(v), start, y, x - start);
            }
        }
    } catch (const std::exception&) {
        // The segments recorded so far are released; nothing half-read is kept.
        for (Entry& e : m_entries) e = Entry();
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return 0;
}

template int CKzRLEPicBufBuilder::ReadPicBuf_Impl<unsigned char>(const SKzPicBuf&);
template int CKzRLEPicBufBuilder::ReadPicBuf_Impl<unsigned short>(const SKzPicBuf&);
template int CKzRLEPicBufBuilder::ReadPicBuf_Impl<unsigned int>(const SKzPicBuf&);

int CKzRLEPicBufBuilder::WriteRLEPicBuf(SKzRLEPicBuf& rle) const
{
    if (m_entries.empty()) return KZ_ERR_OUT_OF_MEMORY;
    const u64 maxLabel = m_entries.size() - 1;
    const u64 custom = rle.uiCustomDataBytes;
    u64 total = maxLabel * (custom + 36);
    for (u64 i = 1; i <= maxLabel; ++i) total += 8 * (u64(m_entries[i].rows) + m_entries[i].segments.size());
    if (total > 0xFFFFFFFFull) return KZ_ERR_OUT_OF_MEMORY;
    u8* block = nullptr;
    if (total) {
        block = static_cast<u8*>(CKzAlloc::Alloc(1, size_t(total)));
        if (!block) return KZ_ERR_OUT_OF_MEMORY;
    }
    u64 off = 0, lastOff = 0;
    for (u64 i = 1; i <= maxLabel; ++i) {
        const Entry& e = m_entries[i];
        u8* rec = block + off;
        SKzRLEObject hdr{u32(i), 2147483647, 2147483647, i32(-2147483647 - 1), i32(-2147483647 - 1),
                         u32(custom + 36 + 8 * (u64(e.rows) + e.segments.size())), e.rows, 36, 0};
        u64 p = 36, rowAt = 0;
        u32 curY = 0;
        bool haveRow = false;
        for (const CKzSegment& s : e.segments) {
            if (!haveRow || s.y != curY) {
                rowAt = p;
                const SKzRowSegment row{s.y, 0};
                std::memcpy(rec + p, &row, 8);
                p += 8;
                curY = s.y;
                haveRow = true;
                hdr.uiLastRowOffset = u32(rowAt);
            }
            u32 n;
            std::memcpy(&n, rec + rowAt + 4, 4);
            ++n;
            std::memcpy(rec + rowAt + 4, &n, 4);
            const SKzSegment seg{s.x, s.length};
            std::memcpy(rec + p, &seg, 8);
            p += 8;
            if (i32(s.x) < hdr.iLeft) hdr.iLeft = i32(s.x);
            if (i32(s.x + s.length - 1) > hdr.iRight) hdr.iRight = i32(s.x + s.length - 1);
            if (i32(s.y) < hdr.iTop) hdr.iTop = i32(s.y);
            if (i32(s.y) > hdr.iBottom) hdr.iBottom = i32(s.y);
        }
        std::memcpy(rec, &hdr, sizeof hdr);
        lastOff = off;
        off += hdr.uiSize;
    }
    // The new block is complete: release the old contents and take it.
    if (!rle.bPainted) CKzRLEPicBufAPI::Free(&rle);
    rle.bPainted = true;
    CKzRLEPicBufAPI::Free(&rle);
    CKzRLEPicBufAPI::Reinit(&rle, m_width, m_height);
    rle.pObjects = reinterpret_cast<SKzRLEObject*>(block);
    rle.uiObjectCount = u32(maxLabel);
    rle.uiDataBytes = u32(total);
    rle.uiLastObjectOffset = maxLabel > 1 ? u32(lastOff) : 0;
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::ConvertIndexedPicBufToPaintedRLE(SKzRLEPicBuf* rle, SKzPicBuf* pic, unsigned maxLabel)
{
    if (!rle) return KZ_OK;
    if (!pic) return KZ_ERR_FAILED;
    if (maxLabel == 0xFFFFFFFFu) return KZ_ERR_INVALID_ARG;
    const u32 bits = pic->uiBpc;
    const u32 sample = bits == 8 ? 1 : bits == 16 ? 2 : bits == 32 ? 4 : 0;
    if (!sample) return KZ_ERR_INVALID_ARG;
    if (pic->uiComp != 1) return KZ_ERR_FAILED;
    if (pic->uiWidth && pic->uiHeight &&
        (!pic->pData || u64(pic->uiWidthBytes) < u64(pic->uiWidth) * sample ||
         u64(pic->uiWidthBytes) * (pic->uiHeight - 1) + u64(pic->uiWidth) * sample > pic->uiSize))
        return KZ_ERR_FAILED;
    try {
        CKzRLEPicBufBuilder builder(maxLabel);
        const int read = sample == 1   ? builder.ReadPicBuf_Impl<unsigned char>(*pic)
                         : sample == 2 ? builder.ReadPicBuf_Impl<unsigned short>(*pic)
                                       : builder.ReadPicBuf_Impl<unsigned int>(*pic);
        if (read != KZ_OK) return read;
        return builder.WriteRLEPicBuf(*rle);
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    } catch (const std::length_error&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}
