// Whole-buffer operations: compare, copy, fill and byte-wise blend, one block
// operation per row.
#pragma GCC optimize("O3", "fp-contract=off")
#include "gnr_picture/KzKernels.h"

namespace {

// Diagnostics name this source by its stable library path.
constexpr const char* kConvertsFile = "gnr_picture/converts";

// Bytes of one sample's container: 1 up to 8 bits, 2 for 9..16, 4 for 17..32.
// (Rounding bits up to whole bytes would give 3 for 17..24-bit samples and
// miss a quarter of every row of 32-bit words.)
inline uint64_t ContainerBytes(kz_uint32 bits)
{
    if (bits == 0)
        return 0;
    if (bits <= 8)
        return 1;
    if (bits <= 16)
        return 2;
    if (bits <= 32)
        return 4;
    return (uint64_t(bits) + 7) / 8;
}

// Pixel row length in bytes; 64-bit so that no count wraps.
inline uint64_t RowLength(kz_uint32 components, kz_uint32 bits, kz_uint32 width)
{
    return uint64_t(components) * width * ContainerBytes(bits);
}

// The row length actually processed: the pixel row, cut to the row bytes with
// one diagnostic per call when it does not fit.
inline size_t FittedRow(uint64_t length, kz_uint32 rowBytes, int line)
{
    if (length > rowBytes) {
        KZ_PrintFailure(kConvertsFile, line);
        return rowBytes;
    }
    return size_t(length);
}

} // namespace

KZ_CAPI int compare(const void* first, kz_uint32 firstRowBytes, const void* second, kz_uint32 secondRowBytes,
                    kz_uint32 components, kz_uint32 bits, kz_uint32 width, kz_uint32 count)
{
    const size_t rows = KzRowCount(width, count);
    const size_t len = size_t(RowLength(components, bits, width));
    if (len == 0)
        return 0;
    for (size_t r = 0; r < rows; ++r) {
        const int c = std::memcmp(KzRow<u8>(first, firstRowBytes, r), KzRow<u8>(second, secondRowBytes, r), len);
        if (c != 0)
            return c < 0 ? -1 : 1;
    }
    return 0;
}

KZ_CAPI int copy(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, kz_uint32 components,
                 kz_uint32 bits, kz_uint32 width, kz_uint32 count)
{
    const size_t rows = KzRowCount(width, count);
    if (rows == 0)
        return 0;
    const size_t len = FittedRow(RowLength(components, bits, width), dstRowBytes, 51);
    if (len == 0)
        return 0;
    // Rows that follow each other without padding in both pictures are one
    // block: the system's copy then picks its own way for large blocks
    // (non-temporal stores past the caches). Only where that gives what the
    // row-by-row copy gives: the destination not above an overlapping source.
    if (len == dstRowBytes && len == srcRowBytes && rows > 1) {
        const uintptr_t d = reinterpret_cast<uintptr_t>(dst), s = reinterpret_cast<uintptr_t>(src);
        const size_t total = rows * len;
        if (d <= s || s + total <= d) {
            std::memmove(dst, src, total);
            return 0;
        }
    }
    for (size_t r = 0; r < rows; ++r)
        std::memmove(KzRow<u8>(dst, dstRowBytes, r), KzRow<u8>(src, srcRowBytes, r), len);
    return 0;
}

KZ_CAPI int set(void* pic, kz_uint32 rowBytes, int value, kz_uint32 components, kz_uint32 bits, kz_uint32 width,
                kz_uint32 count)
{
    const size_t rows = KzRowCount(width, count);
    if (rows == 0)
        return 0;
    const size_t len = FittedRow(RowLength(components, bits, width), rowBytes, 76);
    if (len == 0)
        return 0;
    for (size_t r = 0; r < rows; ++r)
        std::memset(KzRow<u8>(pic, rowBytes, r), value & 0xFF, len);
    return 0;
}

KZ_CAPI int blend_two(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const u8* table,
                      kz_uint32 components, kz_uint32 bits, kz_uint32 width, kz_uint32 count)
{
    const size_t rows = KzRowCount(width, count);
    if (rows == 0)
        return 0;
    const size_t len = FittedRow(RowLength(components, bits, width), dstRowBytes, 103);
    if (len == 0 || !table)
        return 0;
    for (size_t r = 0; r < rows; ++r) {
        u8* d = KzRow<u8>(dst, dstRowBytes, r);
        const u8* s = KzRow<u8>(src, srcRowBytes, r);
        for (size_t i = 0; i < len; ++i)
            d[i] = table[size_t(d[i]) * 256 + s[i]];
    }
    return 0;
}
