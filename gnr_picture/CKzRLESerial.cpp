// Serialised run-length pictures: the byte blob (version 3 written, 1-3 read) and its
// zlib-compressed wrapper. Blobs come from files written elsewhere, so every record
// is checked before anything is kept.
#include "gnr_picture/CKzRLEPicBufAPI.h"

#include "gnr_system/CKzAlloc.h"

#include <zlib.h>

#include <cstring>

namespace {

constexpr u64 kBlobHeader = 28;
constexpr u32 kVersion = 3;

u32 Rd(const u8* p)
{
    u32 v;
    std::memcpy(&v, p, 4);
    return v;
}

void Wr(u8* p, u32 v) { std::memcpy(p, &v, 4); }

// Header length of a stored object record for a blob version, 0 for an unknown one.
u32 RecordHeader(u32 version)
{
    switch (version) {
    case 1: return 49;
    case 2: return 44;
    case 3: return 36;
    default: return 0;
    }
}

// Checks that n bytes of records tile exactly into `count` well-formed records of
// header length `hdr`. Returns false on the first fault; `lastOffset` receives the
// offset of the last record and `newBytes` the size once converted to 36-byte headers.
bool ValidateRecords(const u8* data, u64 n, u32 count, u32 custom, u32 hdr, u64* lastOffset, u64* newBytes)
{
    const u64 minSize = u64(hdr) + custom;
    u64 off = 0, last = 0, converted = 0;
    u32 records = 0;
    while (off < n) {
        if (records == count) return false;
        if (off + hdr > n) return false;
        const u8* rec = data + off;
        const u64 size = Rd(rec + 20);
        if (size < minSize || size > n - off) return false;
        const i64 left = i32(Rd(rec + 4)), top = i32(Rd(rec + 8));
        const i64 right = i32(Rd(rec + 12)), bottom = i32(Rd(rec + 16));
        const u32 rows = Rd(rec + 24);
        const u64 lastRow = Rd(rec + 28);
        const u64 rowsEnd = size - custom;
        u64 p = hdr, lastRowSeen = hdr;
        i64 prevY = -1;
        for (u32 r = 0; r < rows; ++r) {
            if (p + 8 > rowsEnd) return false;
            const i64 y = Rd(rec + p);
            const u64 runs = Rd(rec + p + 4);
            if (runs == 0) return false;
            if (y <= prevY || y < top || y > bottom) return false;
            if (runs > (rowsEnd - p - 8) / 8) return false;
            lastRowSeen = p;
            const u8* run = rec + p + 8;
            i64 prevEnd = -1; // one past the previous run
            for (u64 k = 0; k < runs; ++k) {
                const i64 x = Rd(run + 8 * k), len = Rd(run + 8 * k + 4);
                if (len == 0) return false;
                const i64 end = x + len;
                if (end > i64(0x100000000LL)) return false;
                if (x < prevEnd || x < left || end - 1 > right) return false;
                prevEnd = end;
            }
            prevY = y;
            p += 8 + 8 * runs;
        }
        if (p != rowsEnd || lastRow != lastRowSeen) return false;
        last = off;
        converted += size - (hdr - 36);
        off += size;
        ++records;
    }
    if (records != count) return false;
    *lastOffset = last;
    *newBytes = converted;
    return true;
}

void LeaveEmpty(SKzRLEPicBuf* pic, u32 width, u32 height, u32 custom)
{
    CKzAlloc::Free(pic->pObjects);
    pic->pObjects = nullptr;
    pic->bPainted = true;
    pic->uiObjectCount = 0;
    pic->uiDataBytes = 0;
    pic->uiLastObjectOffset = 0;
    pic->uiCustomDataBytes = custom;
    pic->uiWidth = width;
    pic->uiHeight = height;
}

} // namespace

unsigned long CKzRLEPicBufAPI::SaveToMemory(SKzRLEPicBuf* pic, void* out)
{
    if (!pic) return 0;
    if (!pic->bPainted) {
        // Stored as its 8-connected components, through a temporary.
        SKzRLEPicBuf tmp;
        Init(&tmp, pic->uiCustomDataBytes, true);
        if (ConvertRLEToPaintedRLE(&tmp, pic) != KZ_OK) {
            Free(&tmp);
            return 0;
        }
        const unsigned long n = SaveToMemory(&tmp, out);
        Free(&tmp);
        return n;
    }
    const u64 n = pic->pObjects ? pic->uiDataBytes : 0;
    if (out) {
        u8* o = static_cast<u8*>(out);
        Wr(o + 0, kVersion);
        Wr(o + 4, pic->uiWidth);
        Wr(o + 8, pic->uiHeight);
        Wr(o + 12, n ? pic->uiObjectCount : 0);
        Wr(o + 16, u32(n));
        Wr(o + 20, n ? pic->uiLastObjectOffset : 0);
        Wr(o + 24, pic->uiCustomDataBytes);
        if (n) std::memcpy(o + kBlobHeader, pic->pObjects, n);
    }
    return static_cast<unsigned long>(n + kBlobHeader);
}

void* CKzRLEPicBufAPI::SaveToMemoryCompressRaw(void* data, unsigned long size, int level, unsigned,
                                               unsigned long* outSize)
{
    if (outSize) *outSize = 0;
    // The length word holds 32 bits: a longer blob could not be read back.
    if ((!data && size) || size > 0xFFFFFFFFul) return nullptr;
    const double capD = double(size) * 1.2 + 16.0;
    uLongf cap = uLongf(capD);
    const uLongf bound = compressBound(size);
    if (cap < bound) cap = bound;
    u8* blob = static_cast<u8*>(CKzAlloc::Alloc(0, size_t(cap) + 4));
    if (!blob) return nullptr;
    uLongf streamLen = cap;
    static const Bytef kEmpty = 0;
    const int rc = compress2(blob + 4, &streamLen, data ? static_cast<const Bytef*>(data) : &kEmpty, size, level);
    if (rc != Z_OK) {
        CKzAlloc::Free(blob);
        return nullptr;
    }
    Wr(blob, u32(size));
    if (outSize) *outSize = streamLen + 4;
    return blob;
}

void* CKzRLEPicBufAPI::SaveToMemoryCompress(SKzRLEPicBuf* pic, int level, unsigned flag, unsigned long* outSize)
{
    if (outSize) *outSize = 0;
    const unsigned long len = SaveToMemory(pic, nullptr);
    if (len == 0) return nullptr;
    void* raw = CKzAlloc::Alloc(0, len);
    if (!raw) return nullptr;
    SaveToMemory(pic, raw);
    void* blob = SaveToMemoryCompressRaw(raw, len, level, flag, outSize);
    CKzAlloc::Free(raw);
    return blob;
}

void* CKzRLEPicBufAPI::LoadFromMemoryUncompressRaw(unsigned, void* blob, unsigned long size, unsigned long* rawSize)
{
    if (rawSize) *rawSize = 0;
    if (!blob || size < 4) return nullptr;
    const u8* b = static_cast<const u8*>(blob);
    const u64 want = Rd(b);
    // Deflate cannot expand beyond about 1032:1; a larger length word is a lie, and
    // is refused before allocating for it.
    if (want == 0 || want > 1032ull * (u64(size) - 4) + 64) return nullptr;
    void* out = CKzAlloc::Alloc(0, size_t(want));
    if (!out) return nullptr;
    uLongf got = uLongf(want);
    const int rc = uncompress(static_cast<Bytef*>(out), &got, b + 4, uLong(size - 4));
    if (rc != Z_OK || got != want) {
        CKzAlloc::Free(out);
        return nullptr;
    }
    if (rawSize) *rawSize = got;
    return out;
}

kz_result CKzRLEPicBufAPI::LoadFromMemoryUncompress(SKzRLEPicBuf* pic, unsigned flag, void* blob, unsigned long size)
{
    unsigned long rawSize = 0;
    void* raw = LoadFromMemoryUncompressRaw(flag, blob, size, &rawSize);
    if (!raw) return KZ_ERR_OUT_OF_MEMORY;
    const kz_result rc = LoadFromMemory(pic, raw, rawSize);
    CKzAlloc::Free(raw);
    return rc;
}

kz_result CKzRLEPicBufAPI::LoadFromMemory(SKzRLEPicBuf* pic, void* blob, unsigned long size)
{
    if (!pic) return KZ_ERR_FAILED;
    const u32 oldW = pic->uiWidth, oldH = pic->uiHeight, oldCustom = pic->uiCustomDataBytes;
    auto fail = [&]() {
        LeaveEmpty(pic, oldW, oldH, oldCustom);
        return KZ_ERR_FAILED;
    };
    if (!blob || size <= 3) return fail();
    const u8* b = static_cast<const u8*>(blob);
    const u32 version = Rd(b);
    const u32 hdr = RecordHeader(version);
    if (!hdr || size < kBlobHeader) return fail();
    const u32 width = Rd(b + 4), height = Rd(b + 8), count = Rd(b + 12), n = Rd(b + 16), custom = Rd(b + 24);
    if (u64(size) < u64(n) + kBlobHeader) return fail();
    // A size preset by the caller bounds what the blob may claim.
    if (oldW && oldH && (width > oldW || height > oldH)) return fail();
    u64 lastOffset = 0, newBytes = 0;
    if (!ValidateRecords(b + kBlobHeader, n, count, custom, hdr, &lastOffset, &newBytes)) return fail();

    u8* block = nullptr;
    u32 legacy = 0xFF000000u;
    if (newBytes) {
        block = static_cast<u8*>(CKzAlloc::Alloc(0, size_t(newBytes)));
        if (!block) return fail();
        const u32 d = hdr - 36;
        u64 in = 0, out = 0;
        for (u32 i = 0; i < count; ++i) {
            const u8* src = b + kBlobHeader + in;
            u8* dst = block + out;
            const u32 size0 = Rd(src + 20);
            std::memcpy(dst, src, 36);
            Wr(dst + 20, size0 - d);
            Wr(dst + 28, Rd(src + 28) - d);
            if (version == 1) legacy = Rd(src + 36);
            std::memcpy(dst + 36, src + hdr, size0 - hdr);
            in += size0;
            out += size0 - d;
        }
        // The converted offset of the last record, from a walk of the new block.
        u64 walk = 0, lastConv = 0;
        for (u32 i = 0; i < count; ++i) {
            lastConv = walk;
            walk += Rd(block + walk + 20);
        }
        lastOffset = lastConv;
    }
    CKzAlloc::Free(pic->pObjects);
    pic->pObjects = reinterpret_cast<SKzRLEObject*>(block);
    pic->bPainted = true;
    pic->uiWidth = width;
    pic->uiHeight = height;
    pic->uiObjectCount = count;
    pic->uiDataBytes = u32(newBytes);
    pic->uiLastObjectOffset = u32(lastOffset);
    pic->uiCustomDataBytes = custom;
    pic->uiLegacyWord = legacy;
    return KZ_OK;
}

int CKzRLEPicBufAPI::GetObjectCountFromMemory(void* blob, unsigned long size)
{
    if (!blob || size <= 3) return KZ_ERR_FAILED;
    const u8* b = static_cast<const u8*>(blob);
    if (!RecordHeader(Rd(b)) || size <= 27) return -1;
    // Every record takes at least 36 of the 2^32 data bytes, so a count that does
    // not fit an int is damage, and must not come back as a negative count.
    const u32 count = Rd(b + 12);
    return count > 0x7FFFFFFFu ? KZ_ERR_FAILED : int(count);
}

kz_result CKzRLEPicBufAPI::ResetBinObjStatesInMemory(void* blob, unsigned long size, unsigned mask, unsigned value,
                                                     bool* changed)
{
    if (!blob || size < 4) return KZ_ERR_FAILED;
    if (changed) *changed = false;
    u8* b = static_cast<u8*>(blob);
    const u32 hdr = RecordHeader(Rd(b));
    if (!hdr) return -1;
    if (size <= 27) return KZ_OK;
    const u32 count = Rd(b + 12), n = Rd(b + 16), custom = Rd(b + 24);
    if (u64(size) < u64(n) + kBlobHeader) return KZ_OK;
    u64 lastOffset = 0, newBytes = 0;
    if (!ValidateRecords(b + kBlobHeader, n, count, custom, hdr, &lastOffset, &newBytes)) return KZ_ERR_FAILED;
    u64 off = kBlobHeader;
    for (u32 i = 0; i < count; ++i) {
        const u32 state = Rd(b + off + 32);
        const u32 next = (value & mask) | (state & ~mask);
        if (next != state) {
            Wr(b + off + 32, next);
            if (changed) *changed = true;
        }
        off += Rd(b + off + 20);
    }
    return KZ_OK;
}
