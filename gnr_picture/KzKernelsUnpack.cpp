// Expansion of 1-bit pictures (most significant bit first) into 8-bit or
// 16-bit pictures. The three modes are bitwise, so they act on the bytes of a
// pixel whatever its sample size; pixels are read and written with memcpy and
// any row bytes work.
#pragma GCC optimize("O3", "fp-contract=off")
#include "gnr_picture/KzKernelsCompose.h"

#include <array>

#include <immintrin.h>

namespace {

// Byte j of entry b is 0xFF when bit 7 - j of b is set: eight one-byte pixels
// of one bit byte, first pixel in the lowest address.
constexpr std::array<uint64_t, 256> MakeExpand()
{
    std::array<uint64_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b)
        for (unsigned j = 0; j < 8; ++j)
            if (b & (0x80u >> j))
                t[b] |= uint64_t(0xFF) << (8 * j);
    return t;
}
constexpr std::array<uint64_t, 256> kExpand = MakeExpand();

// Eight bit bytes (64 one-byte pixels) as one 64-bit mask, pixel i at bit
// i: the bits of each byte reversed.
inline uint64_t PixelMask64(const u8* b)
{
    uint64_t x;
    std::memcpy(&x, b, 8);
    x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
    x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
    x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
    return x;
}

// Whole bit bytes of a one-byte-pixel row: 64 pixels per step with a mask
// register (AVX-512) or 32 by a byte shuffle and compare (AVX2). Returns the
// bit bytes done; the caller finishes the rest.
KZ_TARGET_AVX512 __attribute__((noinline)) size_t ExpandBytesAvx512(u8* d, const u8* b, size_t whole, u8 value,
                                                                     uint32_t mode)
{
    const __m512i v = _mm512_set1_epi8(char(value));
    size_t j = 0;
    for (; j + 8 <= whole; j += 8) {
        const __mmask64 m = _cvtu64_mask64(PixelMask64(b + j));
        u8* o = d + 8 * j;
        if (mode == 0)
            _mm512_storeu_si512(o, _mm512_maskz_mov_epi8(m, v));
        else if (mode == 1)
            _mm512_storeu_si512(o, _mm512_or_si512(_mm512_loadu_si512(o), _mm512_maskz_mov_epi8(m, v)));
        else
            _mm512_storeu_si512(o, _mm512_and_si512(_mm512_loadu_si512(o), _mm512_maskz_mov_epi8(m, v)));
    }
    return j;
}

KZ_TARGET_AVX2 __attribute__((noinline)) size_t ExpandBytesAvx2(u8* d, const u8* b, size_t whole, u8 value,
                                                                 uint32_t mode)
{
    const __m256i v = _mm256_set1_epi8(char(value));
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2,
                                            3, 3, 3, 3, 3, 3, 3, 3);
    const __m256i sel = _mm256_setr_epi8(char(0x80), 0x40, 0x20, 0x10, 8, 4, 2, 1, char(0x80), 0x40, 0x20, 0x10, 8, 4,
                                         2, 1, char(0x80), 0x40, 0x20, 0x10, 8, 4, 2, 1, char(0x80), 0x40, 0x20, 0x10,
                                         8, 4, 2, 1);
    size_t j = 0;
    for (; j + 4 <= whole; j += 4) {
        int32_t four;
        std::memcpy(&four, b + j, 4);
        const __m256i bytes = _mm256_shuffle_epi8(_mm256_set1_epi32(four), spread);
        const __m256i m = _mm256_cmpeq_epi8(_mm256_and_si256(bytes, sel), sel);
        const __m256i px = _mm256_and_si256(m, v);
        u8* o = d + 8 * j;
        if (mode == 0)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), px);
        else if (mode == 1)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o),
                                _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(o)), px));
        else
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o),
                                _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(o)), px));
    }
    return j;
}

inline bool BitAt(const u8* row, size_t i) { return (row[i >> 3] >> (7 - (i & 7))) & 1u; }

// One pixel of pb bytes under bit b.
KZ_ALWAYS_INLINE void ApplyPixel(u8* d, const u8* v, size_t pb, bool b, uint32_t mode)
{
    switch (mode) {
    case 0:
        if (b)
            std::memcpy(d, v, pb);
        else
            std::memset(d, 0, pb);
        break;
    case 1:
        if (b)
            for (size_t j = 0; j < pb; ++j)
                d[j] = u8(d[j] | v[j]);
        break;
    default:
        if (b)
            for (size_t j = 0; j < pb; ++j)
                d[j] = u8(d[j] & v[j]);
        else
            std::memset(d, 0, pb);
        break;
    }
}

// PB: pixel bytes when fixed, 0 for a run-time size.
template <size_t PB>
KZ_ALWAYS_INLINE void UnpackRow(KzIsa isa, u8* d, const u8* bitRow, uint32_t off, size_t width, const u8* v,
                                size_t pbRun, uint32_t mode)
{
    const size_t pb = PB ? PB : pbRun;
    size_t x = 0;
    if constexpr (PB == 1) {
        // Pixels of the first, partial byte one by one; then eight pixels per
        // bit byte as one 64-bit word.
        const size_t head = off ? std::min<size_t>(width, 8 - off) : 0;
        for (; x < head; ++x)
            ApplyPixel(d + x, v, 1, BitAt(bitRow, off + x), mode);
        const u8* b = bitRow + (off ? 1 : 0);
        const uint64_t vb = uint64_t(v[0]) * 0x0101010101010101ull;
        const size_t whole = (width - x) / 8;
        u8* dd = d + x;
        size_t j0 = 0;
        if (isa == KzIsa::Avx512)
            j0 = ExpandBytesAvx512(dd, b, whole, v[0], mode);
        else if (isa == KzIsa::Avx2)
            j0 = ExpandBytesAvx2(dd, b, whole, v[0], mode);
        if (mode == 0) {
            for (size_t j = j0; j < whole; ++j) {
                const uint64_t w = kExpand[b[j]] & vb;
                std::memcpy(dd + 8 * j, &w, 8);
            }
        } else if (mode == 1) {
            for (size_t j = j0; j < whole; ++j) {
                uint64_t w;
                std::memcpy(&w, dd + 8 * j, 8);
                w |= kExpand[b[j]] & vb;
                std::memcpy(dd + 8 * j, &w, 8);
            }
        } else {
            for (size_t j = j0; j < whole; ++j) {
                uint64_t w;
                std::memcpy(&w, dd + 8 * j, 8);
                w &= kExpand[b[j]] & vb;
                std::memcpy(dd + 8 * j, &w, 8);
            }
        }
        x += 8 * whole;
    }
    for (; x < width; ++x)
        ApplyPixel(d + x * pb, v, pb, BitAt(bitRow, off + x), mode);
}

template <size_t PB>
int Unpack(void* dst, size_t pixelBytes, const void* value, kz_uint32 dstStride, const u8* bits, kz_uint32 bitOffset,
           kz_uint32 bitsStride, kz_uint32 width, kz_uint64 count, kz_uint32 mode)
{
    if (mode > 2)
        return KZ_ERR_NOT_SUPPORTED;
    if (bitOffset > 7)
        return KZ_ERR_INVALID_ARG;
    if (width == 0 || count < width || pixelBytes == 0)
        return KZ_OK;
    const uint64_t rows = count / width;
    // The pixel value is read once, before any row is written.
    KzScratch scratch;
    u8* v = scratch.Get<u8>(pixelBytes);
    if (!v)
        return KZ_ERR_OUT_OF_MEMORY;
    std::memcpy(v, value, pixelBytes);
    KzRunIsa([&](KzIsa isa) KZ_INLINE_LAMBDA {
        for (uint64_t r = 0; r < rows; ++r)
            UnpackRow<PB>(isa, static_cast<u8*>(dst) + r * size_t(dstStride), bits + r * size_t(bitsStride), bitOffset,
                          width, v, pixelBytes, mode);
    });
    return KZ_OK;
}

}  // namespace

#define KZC_UNPACK_DEF(name, PB)                                                                               \
    KZ_CAPI int name(void* dst, const void* value, kz_uint32 dstStride, const u8* bits, kz_uint32 bitOffset,   \
                     kz_uint32 bitsStride, kz_uint32 width, kz_uint64 count, kz_uint32 mode)                   \
    {                                                                                                          \
        return Unpack<PB>(dst, PB, value, dstStride, bits, bitOffset, bitsStride, width, count, mode);         \
    }
#define KZC_UNPACKN_DEF(name, SB)                                                                              \
    KZ_CAPI int name(void* dst, kz_uint32 nComps, const void* value, kz_uint32 dstStride, const u8* bits,      \
                     kz_uint32 bitOffset, kz_uint32 bitsStride, kz_uint32 width, kz_uint64 count,              \
                     kz_uint32 mode)                                                                           \
    {                                                                                                          \
        return Unpack<0>(dst, size_t(nComps) * SB, value, dstStride, bits, bitOffset, bitsStride, width,       \
                         count, mode);                                                                         \
    }

KZC_UNPACK_DEF(unpack_bin_to_1x8, 1)
KZC_UNPACK_DEF(unpack_bin_to_3x8, 3)
KZC_UNPACK_DEF(unpack_bin_to_4x8, 4)
KZC_UNPACKN_DEF(unpack_bin_to_Nx8, 1)
KZC_UNPACK_DEF(unpack_bin_to_1x16, 2)
KZC_UNPACK_DEF(unpack_bin_to_3x16, 6)
KZC_UNPACK_DEF(unpack_bin_to_4x16, 8)
KZC_UNPACKN_DEF(unpack_bin_to_Nx16, 2)
