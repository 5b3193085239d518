// Painting run-length pictures back into integer and 1-bit pictures. Every run is clipped
// to the destination, so a damaged or oversized object never writes outside it.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/internal/KzRLEWalk.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <exception>
#include <vector>

namespace {

template <class T>
void Span(const SKzPicBuf* pic, u32 y, u32 x, u32 len, T v)
{
    if (y >= pic->uiHeight || x >= pic->uiWidth || len == 0) return;
    u64 end = u64(x) + len;
    if (end > pic->uiWidth) end = pic->uiWidth;
    T* row = reinterpret_cast<T*>(pic->pData + u64(y) * pic->uiWidthBytes);
    if constexpr (sizeof(T) == 1)
        std::memset(row + x, v, size_t(end - x));
    else
        for (u64 i = x; i < end; ++i) row[i] = v;
}

template <class T>
void PaintAll(const SKzPicBuf* pic, const SKzRLEPicBuf* rle, u32 value, u32 bits)
{
    const u32 sampleMask = sizeof(T) == 4 ? 0xFFFFFFFFu : (1u << (8 * sizeof(T))) - 1;
    const u32 allOnes = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    if (rle->bPainted) {
        kzrle::ForEachObject(rle, [&](SKzRLEObject* o, u32) {
            u32 v = value ? value : o->uiId;
            // An id whose sample bits are all zero would read back as background.
            if (!value && (v & sampleMask) == 0) v = allOnes;
            const T sv = T(v);
            kzrle::ForEachRow(o, [&](const SKzRowSegment* row, const SKzSegment* runs) {
                for (u32 k = 0; k < row->uiRunCount; ++k) Span<T>(pic, row->uiY, runs[k].uiX, runs[k].uiLength, sv);
                return true;
            });
            return true;
        });
        return;
    }
    if (!rle->pRuns) return;
    const u32 fallback = bits <= 16 ? allOnes : 0xFFFFFFu;
    const T sv = T(value ? value : fallback);
    for (u32 i = 0; i < rle->uiRunCount; ++i) {
        const SKzRLERun& r = rle->pRuns[i];
        Span<T>(pic, r.uiY, r.uiX, r.uiLength, sv);
    }
}

// Fills `bytes` bytes (a multiple of the sample size) with the repeated sample
// pattern. Short runs dominate labelled masks, so instead of a library call per run
// this uses a few wide overlapping stores that stay inside the run.

inline void FillPattern(u8* p, u64 bytes, u64 pattern)
{
    if (bytes >= 16) {
        // Built in registers: a vector assembled through memory would stall every
        // run on a failed store-to-load forward.
        const __m128i v = _mm_set1_epi64x(i64(pattern));
        auto put = [&](u64 at) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p + at), v); };
        // Size classes with overlapping head and tail stores: no loop below 64 bytes.
        if (bytes <= 32) {
            put(0);
            put(bytes - 16);
        } else if (bytes <= 64) {
            put(0);
            put(16);
            put(bytes - 32);
            put(bytes - 16);
        } else {
            for (u64 i = 0; i + 64 < bytes; i += 64) {
                put(i);
                put(i + 16);
                put(i + 32);
                put(i + 48);
            }
            put(bytes - 64);
            put(bytes - 48);
            put(bytes - 32);
            put(bytes - 16);
        }
    } else if (bytes >= 8) {
        std::memcpy(p, &pattern, 8);
        std::memcpy(p + bytes - 8, &pattern, 8);
    } else if (bytes >= 4) {
        const u32 v = u32(pattern);
        std::memcpy(p, &v, 4);
        std::memcpy(p + bytes - 4, &v, 4);
    } else if (bytes >= 2) {
        const u16 v = u16(pattern);
        std::memcpy(p, &v, 2);
        std::memcpy(p + bytes - 2, &v, 2);
    } else if (bytes) {
        *p = u8(pattern);
    }
}

template <class T>
u64 Pattern(T v)
{
    u64 p = 0;
    for (unsigned i = 0; i < 8 / sizeof(T); ++i) p |= u64(v) << (8 * sizeof(T) * i);
    return p;
}

// Row fills of the sweep. The library's memset is quick for byte samples on any
// processor; with AVX-512 two masked stores paint a run of up to 128 bytes without
// a call or a branch on its length. A branch at 64 bytes would be mispredicted for
// a good part of the runs of a labelled picture, each costing far more than the
// second store, which for a shorter run has an empty mask.
struct FillLib {
    static KZ_ALWAYS_INLINE void Run(u8* p, u64 bytes, u64 pattern, bool bytePattern)
    {
        if (bytePattern)
            std::memset(p, u8(pattern), size_t(bytes));
        else
            FillPattern(p, bytes, pattern);
    }
};

struct FillAvx512 {
    KZ_TARGET_AVX512 static inline void Run(u8* p, u64 bytes, u64 pattern, bool)
    {
        const __m512i v = _mm512_set1_epi64(i64(pattern));
        if (__builtin_expect(bytes <= 128, 1)) {
            // A bit count of 64 or more (up to 255) leaves every bit set.
            _mm512_mask_storeu_epi8(p, _bzhi_u64(~0ull, unsigned(bytes)), v);
            _mm512_mask_storeu_epi8(p + 64, _bzhi_u64(~0ull, unsigned(bytes > 64 ? bytes - 64 : 0)), v);
            return;
        }
        u64 i = 0;
        for (; i + 64 <= bytes; i += 64) _mm512_storeu_si512(p + i, v);
        if (i < bytes) _mm512_storeu_si512(p + bytes - 64, v);
    }
};

// Painted form in one pass over the picture: row by row, each row is cleared and
// then the runs of the objects crossing it are painted in block order, so every
// pixel ends with the last object's value exactly as when objects are painted one
// after another, while the picture is written once and each row stays in cache.
// Needs objects in ascending top order (labelled and loaded pictures have it);
// returns false without touching the picture otherwise.
template <class T, class Fill>
KZ_ALWAYS_INLINE bool PaintSweep(const SKzPicBuf* pic, const SKzRLEPicBuf* rle, u32 value, u32 bits)
{
    const u32 sampleMask = sizeof(T) == 4 ? 0xFFFFFFFFu : (1u << (8 * sizeof(T))) - 1;
    const u32 allOnes = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    struct Active {
        const u8* obj;
        u64 next; // offset of the next row record
        u64 size;
        u32 rowsLeft;
        u64 pattern;
    };
    std::vector<Active> pending, active;
    try {
        pending.reserve(rle->uiObjectCount < 65536 ? rle->uiObjectCount : 65536);
        i64 lastTop = INT64_MIN;
        bool ordered = true;
        kzrle::ForEachObject(rle, [&](SKzRLEObject* o, u32) {
            if (o->iTop < lastTop) {
                ordered = false;
                return false;
            }
            lastTop = o->iTop;
            if (o->uiRowCount == 0) return true;
            u32 v = value ? value : o->uiId;
            if (!value && (v & sampleMask) == 0) v = allOnes;
            pending.push_back(
                {reinterpret_cast<const u8*>(o), kzrle::kObjHeader, o->uiSize, o->uiRowCount, Pattern<T>(T(v))});
            return true;
        });
        if (!ordered) return false;
        active.reserve(256);
    } catch (const std::exception&) {
        return false;
    }
    const u32 w = pic->uiWidth, h = pic->uiHeight;
    const u64 stride = pic->uiWidthBytes, total = pic->uiSize;
    size_t enter = 0;
    for (u32 y = 0; y < h; ++y) {
        u8* rowBytes = pic->pData + u64(y) * stride;
        const u64 rowStart = u64(y) * stride;
        // Cleared with the sweep's own wide stores: for rows of a few kilobytes the
        // library's memset takes a string-store path, which profiles showed as the
        // largest cost of the sweep on some processors.
        Fill::Run(rowBytes, stride < total - rowStart ? stride : total - rowStart, 0, false);
        while (enter < pending.size() && i64(reinterpret_cast<const SKzRLEObject*>(pending[enter].obj)->iTop) <= i64(y)) {
            try {
                active.push_back(pending[enter]);
            } catch (const std::exception&) {
                return false; // cannot happen after reserve in practice; the caller repaints
            }
            ++enter;
        }
        T* row = reinterpret_cast<T*>(rowBytes);
        size_t keep = 0;
        for (size_t i = 0; i < active.size(); ++i) {
            Active a = active[i];
            // The row records of y are painted now. A record above y means the
            // object's rows are out of order (a damaged object): the sweep could
            // then not keep the block order of overlapping pixels, so it gives up
            // and the caller paints object after object.
            while (a.rowsLeft) {
                if (a.next + sizeof(SKzRowSegment) > a.size) {
                    a.rowsLeft = 0;
                    break;
                }
                SKzRowSegment head;
                std::memcpy(&head, a.obj + a.next, sizeof head);
                if (head.uiY > y) break;
                if (head.uiY < y) return false;
                const u64 bytes = sizeof(SKzRowSegment) + u64(head.uiRunCount) * sizeof(SKzSegment);
                if (a.next + bytes > a.size) {
                    a.rowsLeft = 0;
                    break;
                }
                const SKzSegment* runs = reinterpret_cast<const SKzSegment*>(a.obj + a.next + sizeof(SKzRowSegment));
                for (u32 k = 0; k < head.uiRunCount; ++k) {
                    const u32 x = runs[k].uiX;
                    if (x >= w) continue;
                    const u32 len = runs[k].uiLength < w - x ? runs[k].uiLength : w - x;
                    Fill::Run(reinterpret_cast<u8*>(row + x), u64(len) * sizeof(T), a.pattern, sizeof(T) == 1);
                }
                a.next += bytes;
                --a.rowsLeft;
            }
            if (a.rowsLeft) active[keep++] = a;
        }
        active.resize(keep);
    }
    // Objects still waiting have rows below the picture; one that also holds a
    // row inside it has its rows out of order, and is painted the careful way.
    auto rowsInside = [&](const Active& a) {
        u64 next = a.next;
        for (u32 left = a.rowsLeft; left; --left) {
            if (next + sizeof(SKzRowSegment) > a.size) return false;
            SKzRowSegment head;
            std::memcpy(&head, a.obj + next, sizeof head);
            if (head.uiY < h) return true;
            next += sizeof(SKzRowSegment) + u64(head.uiRunCount) * sizeof(SKzSegment);
        }
        return false;
    };
    for (const Active& a : active)
        if (rowsInside(a)) return false;
    for (size_t i = enter; i < pending.size(); ++i)
        if (rowsInside(pending[i])) return false;
    if (u64(h) * stride < total) std::memset(pic->pData + u64(h) * stride, 0, size_t(total - u64(h) * stride));
    return true;
}

template <class T>
KZ_TARGET_AVX512 __attribute__((noinline)) bool PaintSweepAvx512(const SKzPicBuf* pic, const SKzRLEPicBuf* rle,
                                                                 u32 value, u32 bits)
{
    return PaintSweep<T, FillAvx512>(pic, rle, value, bits);
}

// One dispatch per call.
template <class T>
bool PaintSweepBest(const SKzPicBuf* pic, const SKzRLEPicBuf* rle, u32 value, u32 bits)
{
    if (KzCpuIsa() == KzIsa::Avx512) return PaintSweepAvx512<T>(pic, rle, value, bits);
    return PaintSweep<T, FillLib>(pic, rle, value, bits);
}

} // namespace

kz_result CKzRLEPicBufAPI::ConvertRLEToPicBuf(SKzPicBuf* pic, const SKzRLEPicBuf* rle, unsigned value)
{
    if (!pic || !rle || !pic->pData || pic->uiSize == 0 || pic->uiComp != 1) return KZ_ERR_FAILED;
    if (pic->uiWidth < rle->uiWidth || pic->uiHeight < rle->uiHeight) return KZ_ERR_FAILED;
    const u32 bits = pic->uiBpc;
    const u32 sample = bits == 0 ? 0 : bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : 0;
    if (sample && pic->uiHeight &&
        (u64(pic->uiWidthBytes) < u64(pic->uiWidth) * sample ||
         u64(pic->uiWidthBytes) * (pic->uiHeight - 1) + u64(pic->uiWidth) * sample > pic->uiSize))
        return KZ_ERR_FAILED;
    if (rle->bPainted) {
        bool done = false;
        switch (sample) {
        case 1: done = PaintSweepBest<u8>(pic, rle, value, bits); break;
        case 2: done = PaintSweepBest<u16>(pic, rle, value, bits); break;
        case 4: done = PaintSweepBest<u32>(pic, rle, value, bits); break;
        default: break;
        }
        if (done) return KZ_OK;
    }
    std::memset(pic->pData, 0, size_t(pic->uiSize));
    switch (sample) {
    case 1: PaintAll<u8>(pic, rle, value, bits); break;
    case 2: PaintAll<u16>(pic, rle, value, bits); break;
    case 4: PaintAll<u32>(pic, rle, value, bits); break;
    default: break;
    }
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::ConvertRLEToPicBuf(SKzPicBuf* pic, const SKzRLEPicBuf* rle)
{
    return ConvertRLEToPicBuf(pic, rle, 0);
}

namespace {

// Sets bits x .. x + len - 1 of row y, clipped to the bit picture.
void BitSpan(SKzBinPicBuf* bin, u32 y, u32 x, u32 len)
{
    if (y >= bin->uiHeight || x >= bin->uiWidth || len == 0) return;
    u64 end = u64(x) + len;
    if (end > bin->uiWidth) end = bin->uiWidth;
    u8* row = bin->pData + u64(y) * bin->uiWidthBytes;
    u64 first = x / 8, last = (end - 1) / 8;
    const u8 head = u8(0xFFu >> (x % 8));
    const u8 tail = u8(0xFFu << (7 - (end - 1) % 8));
    if (first == last) {
        row[first] |= u8(head & tail);
        return;
    }
    row[first] |= head;
    if (last > first + 1) std::memset(row + first + 1, 0xFF, size_t(last - first - 1));
    row[last] |= tail;
}

bool BinGeometryOk(const SKzBinPicBuf* bin)
{
    if (!bin || !bin->pData || bin->uiSize == 0) return false;
    if (bin->uiHeight && (u64(bin->uiWidthBytes) * 8 < bin->uiWidth ||
                          u64(bin->uiWidthBytes) * (bin->uiHeight - 1) + (u64(bin->uiWidth) + 7) / 8 > bin->uiSize))
        return false;
    return true;
}

bool BinUsable(const SKzBinPicBuf* bin, const SKzRLEPicBuf* rle)
{
    if (!rle || !BinGeometryOk(bin)) return false;
    return bin->uiWidth >= rle->uiWidth && bin->uiHeight >= rle->uiHeight;
}

template <class Keep>
kz_result PaintBits(SKzBinPicBuf* bin, const SKzRLEPicBuf* rle, Keep keep)
{
    if (!BinUsable(bin, rle)) return KZ_ERR_FAILED;
    std::memset(bin->pData, 0, bin->uiSize);
    if (rle->bPainted) {
        kzrle::ForEachObject(rle, [&](SKzRLEObject* o, u32) {
            if (keep(o)) CKzRLEPicBufAPI::ExtractRLEObjectToBinPicBuf(bin, o);
            return true;
        });
    } else if (rle->pRuns) {
        for (u32 i = 0; i < rle->uiRunCount; ++i) BitSpan(bin, rle->pRuns[i].uiY, rle->pRuns[i].uiX, rle->pRuns[i].uiLength);
    }
    return KZ_OK;
}

template <class T>
void PaintVisible(const SKzPicBuf* pic, const SKzRLEPicBuf* rle, u32 value)
{
    const u32 sampleMask = sizeof(T) == 1 ? 0xFFu : 0xFFFFu;
    if (rle->bPainted) {
        kzrle::ForEachObject(rle, [&](SKzRLEObject* o, u32) {
            if (o->uiState & 0x40) return true;
            u32 v = value ? value : o->uiId;
            if (!value && (v & sampleMask) == 0) v = sampleMask;
            const T sv = T(v);
            kzrle::ForEachRow(o, [&](const SKzRowSegment* row, const SKzSegment* runs) {
                for (u32 k = 0; k < row->uiRunCount; ++k) Span<T>(pic, row->uiY, runs[k].uiX, runs[k].uiLength, sv);
                return true;
            });
            return true;
        });
        return;
    }
    if (!rle->pRuns) return;
    const T sv = T(value ? value : sampleMask);
    for (u32 i = 0; i < rle->uiRunCount; ++i)
        Span<T>(pic, rle->pRuns[i].uiY, rle->pRuns[i].uiX, rle->pRuns[i].uiLength, sv);
}

} // namespace

kz_result CKzRLEPicBufAPI::ConvertVisibleRLEToPicBuf(SKzPicBuf* pic, SKzRLEPicBuf* rle, unsigned value)
{
    if (!pic || !rle || !pic->pData || pic->uiSize == 0 || pic->uiComp != 1) return KZ_ERR_FAILED;
    if (pic->uiWidth < rle->uiWidth || pic->uiHeight < rle->uiHeight) return KZ_ERR_FAILED;
    const u32 bits = pic->uiBpc;
    // Only byte and word samples have a visible painting.
    if (bits != 8 && bits != 16) return KZ_ERR_NOT_SUPPORTED;
    const u32 sample = bits / 8;
    if (pic->uiHeight && (u64(pic->uiWidthBytes) < u64(pic->uiWidth) * sample ||
                          u64(pic->uiWidthBytes) * (pic->uiHeight - 1) + u64(pic->uiWidth) * sample > pic->uiSize))
        return KZ_ERR_FAILED;
    if (sample == 1)
        PaintVisible<u8>(pic, rle, value);
    else
        PaintVisible<u16>(pic, rle, value);
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::ConvertVisibleRLEToPicBuf(SKzPicBuf* pic, SKzRLEPicBuf* rle)
{
    return ConvertVisibleRLEToPicBuf(pic, rle, 0);
}

kz_result CKzRLEPicBufAPI::ConvertRLEToBinPicBuf(SKzBinPicBuf* bin, const SKzRLEPicBuf* rle)
{
    return PaintBits(bin, rle, [](const SKzRLEObject*) { return true; });
}

kz_result CKzRLEPicBufAPI::ConvertVisibleRLEToBinPicBuf(SKzBinPicBuf* bin, SKzRLEPicBuf* rle)
{
    return PaintBits(bin, rle, [](const SKzRLEObject* o) { return (o->uiState & 0x40) == 0; });
}

kz_result CKzRLEPicBufAPI::ConvertAndFilterRLEToBinPicBuf(SKzBinPicBuf* bin, SKzRLEPicBuf* rle, unsigned required,
                                                          unsigned excluded)
{
    return PaintBits(bin, rle, [=](const SKzRLEObject* o) {
        return (o->uiState & required) == required && (o->uiState & excluded) == 0;
    });
}

void CKzRLEPicBufAPI::ExtractRLEObjectToBinPicBuf(SKzBinPicBuf* bin, SKzRLEObject* obj)
{
    if (!obj || !BinGeometryOk(bin)) return;
    kzrle::ForEachRow(obj, [&](const SKzRowSegment* row, const SKzSegment* runs) {
        for (u32 k = 0; k < row->uiRunCount; ++k) BitSpan(bin, row->uiY, runs[k].uiX, runs[k].uiLength);
        return true;
    });
}
