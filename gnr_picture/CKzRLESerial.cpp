// Serialised run-length pictures: the byte blob (version 3 written, 1-3 read) and its
// zlib-compressed wrapper. Blobs come from files written elsewhere, so every record
// is walked only as far as reading it safely needs, and loaded as stored.
#include "gnr_picture/CKzRLEPicBufAPI.h"

#include "gnr_system/CKzAlloc.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr u64 kBlobHeader = 28;
constexpr u32 kVersion = 3;
// The largest coordinate a pixel may have: boxes are signed 32-bit.
constexpr u64 kMaxCoord = 0x7FFFFFFF;

// What a blob may inflate to when nothing tells its picture's size: a fixed
// allowance for any real picture plus a multiple of the stream, far below the
// 1032:1 deflate can reach with runs of zeros.
constexpr u64 kInflateFixed = u64(64) << 20;
constexpr u64 kInflateRatio = 32;

u64 InflateCap(u64 streamBytes)
{
    if (streamBytes > (UINT64_MAX - kInflateFixed) / kInflateRatio) return UINT64_MAX;
    return kInflateFixed + kInflateRatio * streamBytes;
}

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

// Walks the n bytes of records of a blob whose record headers take `hdr` bytes and
// checks what reading them safely needs: exactly `count` records tile the bytes,
// every record holds its header and the picture's custom bytes, and (withRows) its
// row records and their runs lie inside it, before the custom bytes, with every
// pixel in the signed 32-bit plane a bounding box can describe. Everything else is
// taken as stored: rows in any order, overlapping runs, empty rows and runs, any
// box and last-row offset. `newBytes` receives the size once converted to 36-byte
// headers.
bool ScanRecords(const u8* data, u64 n, u32 count, u32 custom, u32 hdr, bool withRows, u64* newBytes)
{
    const u64 minSize = u64(hdr) + custom;
    u64 off = 0, converted = 0;
    u32 records = 0;
    while (off < n) {
        if (records == count) return false;
        if (off + hdr > n) return false;
        const u8* rec = data + off;
        const u64 size = Rd(rec + 20);
        if (size < minSize || size > n - off) return false;
        if (withRows) {
            const u32 rows = Rd(rec + 24);
            const u64 rowsEnd = size - custom;
            u64 p = hdr;
            for (u32 r = 0; r < rows; ++r) {
                if (p + 8 > rowsEnd) return false;
                const u64 y = Rd(rec + p);
                const u64 runs = Rd(rec + p + 4);
                if (runs > (rowsEnd - p - 8) / 8) return false;
                const u8* run = rec + p + 8;
                for (u64 k = 0; k < runs; ++k) {
                    const u64 x = Rd(run + 8 * k), len = Rd(run + 8 * k + 4);
                    if (len && (y > kMaxCoord || x + len - 1 > kMaxCoord)) return false;
                }
                p += 8 + 8 * runs;
            }
        }
        converted += size - (hdr - 36);
        off += size;
        ++records;
    }
    if (records != count) return false;
    *newBytes = converted;
    return true;
}

// Gives an object whose pixels are not all inside its box (an empty box, one never
// filled in, one that is wrong) the extent of its pixels as box. Larger boxes stay:
// the shape operations keep the box of the object they started from. The record
// has passed ScanRecords.
void FixBox(u8* rec, u32 custom)
{
    const u64 size = Rd(rec + 20), rowsEnd = size - custom;
    const u32 rows = Rd(rec + 24);
    i64 l = INT64_MAX, t = INT64_MAX, r = INT64_MIN, b = INT64_MIN;
    u64 p = 36;
    for (u32 i = 0; i < rows && p + 8 <= rowsEnd; ++i) {
        const i64 y = Rd(rec + p);
        const u32 runs = Rd(rec + p + 4);
        for (u32 k = 0; k < runs; ++k) {
            const i64 x = Rd(rec + p + 8 + 8 * u64(k)), len = Rd(rec + p + 12 + 8 * u64(k));
            if (!len) continue;
            l = std::min(l, x);
            r = std::max(r, x + len - 1);
            t = std::min(t, y);
            b = std::max(b, y);
        }
        p += 8 + 8 * u64(runs);
    }
    if (r == INT64_MIN) return; // no pixels: the box is whatever was stored
    const i64 bl = i32(Rd(rec + 4)), bt = i32(Rd(rec + 8)), br = i32(Rd(rec + 12)), bb = i32(Rd(rec + 16));
    if (bl <= l && bt <= t && br >= r && bb >= b) return;
    Wr(rec + 4, u32(l));
    Wr(rec + 8, u32(t));
    Wr(rec + 12, u32(r));
    Wr(rec + 16, u32(b));
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

namespace {

// Inflates a zlib stream into a CKzAlloc block of at most `limit` bytes that grows
// with the output, so a length word that lies costs nothing. Null when the stream
// is damaged or cut, inflates to more than limit or to nothing, or memory runs out.
u8* InflateBounded(const u8* in, u64 inLen, u64 limit, u64* outLen)
{
    *outLen = 0;
    if (limit == 0) return nullptr;
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (inflateInit(&zs) != Z_OK) return nullptr;
    constexpr u64 kChunk = u64(1) << 30; // zlib counts in 32 bits
    u64 cap = std::min(limit, std::max<u64>(u64(64) << 10, 2 * inLen));
    u8* out = static_cast<u8*>(CKzAlloc::Alloc(0, size_t(cap)));
    u64 inPos = 0, outPos = 0;
    bool ok = out != nullptr;
    while (ok) {
        if (zs.avail_in == 0 && inPos < inLen) {
            const u64 chunk = std::min(inLen - inPos, kChunk);
            zs.next_in = const_cast<Bytef*>(in + inPos);
            zs.avail_in = uInt(chunk);
            inPos += chunk;
        }
        if (outPos == cap && cap < limit) {
            const u64 grown = std::min(limit, cap * 2);
            void* p = CKzAlloc::ReAlloc(out, size_t(grown), 0);
            if (!p) {
                ok = false;
                break;
            }
            out = static_cast<u8*>(p);
            cap = grown;
        }
        // With the block at its limit, one byte of scratch tells whether more follows.
        u8 probe = 0;
        const bool probing = outPos == cap;
        zs.next_out = probing ? &probe : out + outPos;
        zs.avail_out = probing ? 1u : uInt(std::min(cap - outPos, kChunk));
        const uInt room = zs.avail_out;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        const u64 made = room - zs.avail_out;
        if (probing && made) {
            ok = false;
            break;
        }
        outPos += made;
        if (rc == Z_STREAM_END) break;
        if (rc == Z_OK) continue;
        // Anything else: a damaged stream, or one that ends before its end marker.
        ok = false;
    }
    inflateEnd(&zs);
    if (!ok || outPos == 0) {
        CKzAlloc::Free(out);
        return nullptr;
    }
    if (outPos < cap) {
        if (void* p = CKzAlloc::ReAlloc(out, size_t(outPos), 0)) out = static_cast<u8*>(p);
    }
    *outLen = outPos;
    return out;
}

// The first bytes of a stream's output (at most n), without keeping the rest.
u64 InflateHead(const u8* in, u64 inLen, u8* head, u64 n)
{
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (inflateInit(&zs) != Z_OK) return 0;
    zs.next_in = const_cast<Bytef*>(in);
    zs.avail_in = uInt(std::min<u64>(inLen, u64(1) << 30));
    zs.next_out = head;
    zs.avail_out = uInt(n);
    while (zs.avail_out) {
        const int rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK) break;
    }
    const u64 got = n - zs.avail_out;
    inflateEnd(&zs);
    return got;
}

} // namespace

void* CKzRLEPicBufAPI::LoadFromMemoryUncompressRaw(unsigned, void* blob, unsigned long size, unsigned long* rawSize)
{
    if (rawSize) *rawSize = 0;
    if (!blob || size < 4) return nullptr;
    const u8* b = static_cast<const u8*>(blob);
    const u64 want = Rd(b), stream = u64(size) - 4;
    // A length word beyond the cap is refused before anything is allocated; below
    // it memory follows what the stream really holds.
    if (want == 0 || want > InflateCap(stream)) return nullptr;
    u64 got = 0;
    u8* out = InflateBounded(b + 4, stream, want, &got);
    if (!out) return nullptr;
    if (rawSize) *rawSize = static_cast<unsigned long>(got);
    return out;
}

kz_result CKzRLEPicBufAPI::LoadFromMemoryUncompress(SKzRLEPicBuf* pic, unsigned flag, void* blob, unsigned long size)
{
    if (pic && blob && size >= 4 && pic->uiWidth && pic->uiHeight) {
        // A picture of known size bounds its blob: every pixel its own object of one
        // row and one run is the most any set of disjoint objects can take.
        const u8* b = static_cast<const u8*>(blob);
        u8 head[kBlobHeader];
        if (InflateHead(b + 4, u64(size) - 4, head, kBlobHeader) == kBlobHeader) {
            const u64 perPixel = 36 + 8 + 8 + u64(Rd(head + 24));
            const u64 pixels = u64(pic->uiWidth) * pic->uiHeight;
            const bool fits = pixels <= (UINT64_MAX - kBlobHeader) / perPixel &&
                              u64(Rd(b)) <= kBlobHeader + pixels * perPixel;
            if (!fits) {
                LeaveEmpty(pic, pic->uiWidth, pic->uiHeight, pic->uiCustomDataBytes);
                return KZ_ERR_FAILED;
            }
        }
    }
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
    u64 newBytes = 0;
    if (!ScanRecords(b + kBlobHeader, n, count, custom, hdr, true, &newBytes)) return fail();

    u8* block = nullptr;
    u32 legacy = 0xFF000000u;
    u64 lastOffset = 0;
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
            FixBox(dst, custom);
            lastOffset = out;
            in += size0;
            out += size0 - d;
        }
    }
    CKzAlloc::Free(pic->pObjects);
    pic->pObjects = reinterpret_cast<SKzRLEObject*>(block);
    pic->bPainted = true;
    pic->uiWidth = width;
    pic->uiHeight = height;
    pic->uiObjectCount = count;
    pic->uiDataBytes = u32(newBytes);
    // The offset of the last record as found: walks stop there, so a stored one
    // that disagrees is not kept.
    pic->uiLastObjectOffset = u32(count > 1 ? lastOffset : 0);
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
    // Any blob that loads has its states rewritten: only the records' tiling matters.
    u64 newBytes = 0;
    if (!ScanRecords(b + kBlobHeader, n, count, custom, hdr, false, &newBytes)) return KZ_ERR_FAILED;
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
