#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic", "fp-contract=off")
// Masked copies, fills and single-component operations.
//
// Masked copies of one-sample pixels run as a branch-free select over the
// row (destination = selected ? source : destination), which the compiler
// vectorises; unselected pixels keep their values. Wider pixels are copied as
// runs of selected pixels, one block copy per run, the runs found several
// mask samples at a time. Fills write
// the first row by doubling block copies and copy it to the other rows.
// Single-component loops are instantiated for the common component counts
// (1, 3, 4) so that their strides are constants, with a generic member for
// every other count.

#include "gnr_picture/KzKernelsB.h"
#include "gnr_picture/KzKernelsBCommon.h"

#include <cstring>
#include <immintrin.h>

namespace {

// ---------------------------------------------------------------------------
// Masked copies
// ---------------------------------------------------------------------------

// Key as a mask sample, or false when no mask sample can equal it.
template <class M>
inline bool MaskKey(int32_t key, M* out) noexcept
{
    if (key < 0 || uint64_t(key) > std::numeric_limits<M>::max())
        return false;
    *out = M(key);
    return true;
}

// Select over pixels of one element of E: destination = selected ? source :
// destination, as a bit blend so that both loads are unconditional and the
// loop vectorises.
template <class E, class M, bool In>
KZB_INLINE void SelectRow(E* d, const E* s, const M* m, size_t width, M key) noexcept
{
    for (size_t x = 0; x < width; ++x) {
        const E sel = E(E(0) - E((m[x] == key) == In));
        const E sv = s[x], dv = d[x];
        d[x] = E((sv & sel) | (dv & E(~sel)));
    }
}

// Mask samples packed into a 64-bit word, and the word of the key repeated.
template <class M>
constexpr uint64_t LaneOnes() noexcept
{
    return sizeof(M) == 1 ? 0x0101010101010101ull : 0x0001000100010001ull;
}

// Position of the first pixel at or after x (below width) whose selection
// equals `want`. Eight (8-bit mask) or four (16-bit mask) mask samples are
// tested at once, so long runs cost a fraction of a cycle a pixel.
template <class M, bool In>
KZB_INLINE size_t NextWithSelection(const M* m, size_t x, size_t width, M key, bool want) noexcept
{
    constexpr size_t lanes = 8 / sizeof(M);
    constexpr uint64_t ones = LaneOnes<M>();
    constexpr uint64_t highs = ones << (8 * sizeof(M) - 1);
    const uint64_t keys = uint64_t(key) * ones;
    // Selected means "equal to the key" for In, "different" for Out.
    const bool wantEqual = want == In;
    while (x + lanes <= width) {
        uint64_t v;
        std::memcpy(&v, m + x, 8);
        const uint64_t diff = v ^ keys; // a zero lane is a sample equal to the key
        const bool anyEqual = ((diff - ones) & ~diff & highs) != 0;
        const bool allEqual = diff == 0;
        if (wantEqual ? anyEqual : !allEqual)
            break;
        x += lanes;
    }
    while (x < width && ((m[x] == key) == In) != want)
        ++x;
    return x;
}

// Runs of selected pixels of pixelBytes bytes each, one block copy a run.
template <class M, bool In>
KZB_INLINE void RunCopyRow(uint8_t* d, const uint8_t* s, const M* m, size_t width, M key,
                           size_t pixelBytes) noexcept
{
    size_t x = 0;
    while (x < width) {
        const size_t start = NextWithSelection<M, In>(m, x, width, key, true);
        x = NextWithSelection<M, In>(m, start, width, key, false);
        if (x > start)
            std::memmove(d + start * pixelBytes, s + start * pixelBytes, (x - start) * pixelBytes);
    }
}

template <class E, size_t G, class M, bool In>
KZB_INLINE int CopyMaskImpl(void* dst, uint32_t dRB, const void* src, uint32_t sRB, const void* mask,
                            uint32_t mRB, size_t groups, uint32_t width, uint32_t count, M key) noexcept
{
    const size_t rows = KzRowCount(width, count);
    for (size_t r = 0; r < rows; ++r) {
        E* d = KzRow<E>(dst, dRB, r);
        const E* s = KzRow<E>(src, sRB, r);
        const M* m = KzRow<M>(mask, mRB, r);
        if constexpr (G == 1)
            SelectRow<E, M, In>(d, s, m, width, key);
        else
            RunCopyRow<M, In>(reinterpret_cast<uint8_t*>(d), reinterpret_cast<const uint8_t*>(s), m,
                              width, key, groups * sizeof(E));
    }
    return KZ_OK;
}

KZB_MULTIVERSION(template <class E KZB_COMMA size_t G KZB_COMMA class M KZB_COMMA bool In>, CopyMask,
                 (void* dst, uint32_t dRB, const void* src, uint32_t sRB, const void* mask,
                  uint32_t mRB, size_t groups, uint32_t width, uint32_t count, M key),
                 <E KZB_COMMA G KZB_COMMA M KZB_COMMA In>(dst, dRB, src, sRB, mask, mRB, groups,
                                                          width, count, key))

// Pixels of P bytes (2 to 32) with AVX-512, 64 pixels a step: the mask
// samples' compare gives one bit a pixel; a byte vector of those bits is
// spread to the 64 x P pixel bytes by P byte permutes (byte b of vector k
// takes pixel (64 k + b) / P), whose sign bits are the byte masks of P masked
// stores of the source. Blocks selected whole or not at all are copied or
// skipped without permutes, so fragmented masks cost the same per pixel as
// solid ones and no run of one or two pixels costs a call. The last pixels
// of a row are copied one by one.
// GCC 12's permute intrinsic header trips -Wmaybe-uninitialized on its own
// placeholder operand.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
template <size_t P, class M, bool In>
KZ_TARGET_AVX512 __attribute__((noinline)) void CopyMaskPixelsAvx512(void* dst, uint32_t dRB, const void* src,
                                                                      uint32_t sRB, const void* mask,
                                                                      uint32_t mRB, uint32_t width, size_t rows,
                                                                      M key) noexcept
{
    alignas(64) uint8_t idx[P][64];
    for (unsigned k = 0; k < P; ++k)
        for (unsigned j = 0; j < 64; ++j)
            idx[k][j] = uint8_t((64 * k + j) / P);
    const __m512i keys = sizeof(M) == 1 ? _mm512_set1_epi8(char(key)) : _mm512_set1_epi16(short(key));
    for (size_t r = 0; r < rows; ++r) {
        uint8_t* d = KzRow<uint8_t>(dst, dRB, r);
        const uint8_t* s = KzRow<uint8_t>(src, sRB, r);
        const M* m = KzRow<M>(mask, mRB, r);
        size_t x = 0;
        for (; width - x >= 64; x += 64) {
            uint64_t eq;
            if constexpr (sizeof(M) == 1) {
                eq = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(m + x), keys);
            } else {
                const uint64_t lo = _mm512_cmpeq_epi16_mask(_mm512_loadu_si512(m + x), keys);
                const uint64_t hi = _mm512_cmpeq_epi16_mask(_mm512_loadu_si512(m + x + 32), keys);
                eq = lo | (hi << 32);
            }
            const uint64_t sel = In ? eq : ~eq;
            if (sel == 0)
                continue;
            const size_t o = x * P;
            if (sel == ~uint64_t(0)) {
                for (size_t k = 0; k < P; ++k)
                    _mm512_storeu_si512(d + o + 64 * k, _mm512_loadu_si512(s + o + 64 * k));
                continue;
            }
            const __m512i bits = _mm512_movm_epi8(sel);
            for (size_t k = 0; k < P; ++k) {
                const __mmask64 bytes =
                    _mm512_movepi8_mask(_mm512_permutexvar_epi8(_mm512_load_si512(idx[k]), bits));
                _mm512_mask_storeu_epi8(d + o + 64 * k, bytes, _mm512_loadu_si512(s + o + 64 * k));
            }
        }
        for (; x < width; ++x)
            if ((m[x] == key) == In)
                std::memcpy(d + x * P, s + x * P, P);
    }
}
#pragma GCC diagnostic pop

// The block-wise path for pixel sizes it has a member for; false otherwise.
template <class M, bool In>
bool CopyMaskPixels(size_t pixelBytes, void* dst, uint32_t dRB, const void* src, uint32_t sRB,
                    const void* mask, uint32_t mRB, uint32_t width, size_t rows, M key) noexcept
{
#define KZ_COPYMASK_P(P)                                                                                   \
    case P:                                                                                                \
        CopyMaskPixelsAvx512<P, M, In>(dst, dRB, src, sRB, mask, mRB, width, rows, key);                   \
        return true;
    switch (pixelBytes) {
        KZ_COPYMASK_P(2)
        KZ_COPYMASK_P(3)
        KZ_COPYMASK_P(4)
        KZ_COPYMASK_P(5)
        KZ_COPYMASK_P(6)
        KZ_COPYMASK_P(8)
        KZ_COPYMASK_P(9)
        KZ_COPYMASK_P(10)
        KZ_COPYMASK_P(12)
        KZ_COPYMASK_P(16)
    default:
        return false;
    }
#undef KZ_COPYMASK_P
}

// Every row copied whole (an _out copy whose key no mask sample can take).
template <class E>
int CopyAllRows(void* dst, uint32_t dRB, const void* src, uint32_t sRB, size_t groups,
                uint32_t width, uint32_t count) noexcept
{
    const size_t rows = KzRowCount(width, count);
    const size_t bytes = size_t(width) * groups * sizeof(E);
    for (size_t r = 0; r < rows; ++r)
        std::memmove(KzRow<E>(dst, dRB, r), KzRow<E>(src, sRB, r), bytes);
    return KZ_OK;
}

template <class E, class M, bool In>
int CopyMaskGroups(void* dst, uint32_t dRB, const void* src, uint32_t sRB, size_t groups,
                   const void* mask, uint32_t mRB, uint32_t width, uint32_t count,
                   int32_t key) noexcept
{
    if (KzRowCount(width, count) == 0 || groups == 0)
        return KZ_OK;
    M k;
    if (!MaskKey<M>(key, &k))
        return In ? KZ_OK : CopyAllRows<E>(dst, dRB, src, sRB, groups, width, count);
    // Pixels of several samples: the block-wise vector path, unless the
    // destination overlaps the source or the mask (runs are then copied one
    // at a time, each as a whole, with the mask read just before).
    if (groups > 1 && KzCpuIsa() == KzIsa::Avx512) {
        const size_t rows = KzRowCount(width, count);
        const size_t pixelBytes = groups * sizeof(E);
        const uintptr_t d0 = reinterpret_cast<uintptr_t>(dst), s0 = reinterpret_cast<uintptr_t>(src);
        const uintptr_t dEnd = d0 + (rows - 1) * dRB + size_t(width) * pixelBytes;
        const uintptr_t sEnd = s0 + (rows - 1) * sRB + size_t(width) * pixelBytes;
        const uintptr_t m0 = reinterpret_cast<uintptr_t>(mask);
        const uintptr_t mEnd = m0 + (rows - 1) * mRB + size_t(width) * sizeof(M);
        if ((dEnd <= s0 || sEnd <= d0) && (dEnd <= m0 || mEnd <= d0) &&
            CopyMaskPixels<M, In>(pixelBytes, dst, dRB, src, sRB, mask, mRB, width, rows, k))
            return KZ_OK;
    }
    // One-sample pixels: a vectorised select. Wider pixels: block copies of
    // runs of selected pixels (label masks select regions).
    if (groups == 1)
        return CopyMask<E, 1, M, In>(dst, dRB, src, sRB, mask, mRB, groups, width, count, k);
    return CopyMask<E, 0, M, In>(dst, dRB, src, sRB, mask, mRB, groups, width, count, k);
}

// Pixel of nComp samples of (bits + 7) / 8 bytes each: 1-, 2- and 4-byte
// samples are moved as such; 3-byte and wider samples as bytes.
template <class M, bool In>
int CopyMaskBits(void* dst, uint32_t dRB, const void* src, uint32_t sRB, uint32_t nComp,
                 uint32_t bits, const void* mask, uint32_t mRB, uint32_t width, uint32_t count,
                 int32_t key) noexcept
{
    const size_t bytesPerSample = (size_t(bits) + 7) / 8;
    const size_t n = nComp;
    switch (bytesPerSample) {
    case 0:
        return KZ_OK;
    case 1:
        return CopyMaskGroups<uint8_t, M, In>(dst, dRB, src, sRB, n, mask, mRB, width, count, key);
    case 2:
        return CopyMaskGroups<uint16_t, M, In>(dst, dRB, src, sRB, n, mask, mRB, width, count, key);
    case 4:
        return CopyMaskGroups<uint32_t, M, In>(dst, dRB, src, sRB, n, mask, mRB, width, count, key);
    default: {
        size_t groups;
        if (!KzMulSize(n, bytesPerSample, &groups))
            return KZ_ERR_INVALID_ARG;
        return CopyMaskGroups<uint8_t, M, In>(dst, dRB, src, sRB, groups, mask, mRB, width, count,
                                              key);
    }
    }
}

} // namespace

#define KZB_COPYMASK_CALL dst, dstRowBytes, src, srcRowBytes, nComp, bits, mask, maskRowBytes, width, count, key
KZ_CAPI int copymask_8_in(KZ_COPYMASK_ARGS) { return CopyMaskBits<uint8_t, true>(KZB_COPYMASK_CALL); }
KZ_CAPI int copymask_8_out(KZ_COPYMASK_ARGS) { return CopyMaskBits<uint8_t, false>(KZB_COPYMASK_CALL); }
KZ_CAPI int copymask_16_in(KZ_COPYMASK_ARGS) { return CopyMaskBits<uint16_t, true>(KZB_COPYMASK_CALL); }
KZ_CAPI int copymask_16_out(KZ_COPYMASK_ARGS) { return CopyMaskBits<uint16_t, false>(KZB_COPYMASK_CALL); }
KZ_CAPI int copymask_16_3x8_in(KZ_COPYMASK3_ARGS)
{
    return CopyMaskGroups<uint8_t, uint16_t, true>(dst, dstRowBytes, src, srcRowBytes, 3, mask,
                                                   maskRowBytes, width, count, key);
}
KZ_CAPI int copymask_16_3x8_out(KZ_COPYMASK3_ARGS)
{
    return CopyMaskGroups<uint8_t, uint16_t, false>(dst, dstRowBytes, src, srcRowBytes, 3, mask,
                                                    maskRowBytes, width, count, key);
}

// ---------------------------------------------------------------------------
// Fills
// ---------------------------------------------------------------------------

namespace {

// Every pixel receives the nComp samples at value: the first row is built by
// doubling block copies, every other row is a copy of it.
template <class T>
int SetPixels(void* buf, uint32_t nComp, uint32_t rowBytes, const void* value, uint32_t width,
              uint32_t count) noexcept
{
    const size_t rows = KzRowCount(width, count);
    if (rows == 0 || nComp == 0)
        return KZ_OK;
    const size_t pixelBytes = size_t(nComp) * sizeof(T);
    const size_t rowLen = pixelBytes * width;
    uint8_t* first = reinterpret_cast<uint8_t*>(KzRow<T>(buf, rowBytes, 0));
    std::memmove(first, value, pixelBytes);
    for (size_t filled = pixelBytes; filled < rowLen;) {
        const size_t n = filled < rowLen - filled ? filled : rowLen - filled;
        std::memcpy(first + filled, first, n);
        filled += n;
    }
    for (size_t r = 1; r < rows; ++r)
        std::memmove(KzRow<T>(buf, rowBytes, r), first, rowLen);
    return KZ_OK;
}

template <class T, size_t FixedN>
KZB_INLINE int ChangeImpl(void* buf, uint32_t nComp, uint32_t rowBytes, const T* nv, const T* ov,
                          uint32_t width, uint32_t count) noexcept
{
    const size_t nc = FixedN ? FixedN : nComp;
    const size_t rows = KzRowCount(width, count);
    for (size_t r = 0; r < rows; ++r) {
        T* p = KzRow<T>(buf, rowBytes, r);
        if constexpr (FixedN == 1) {
            const T o = ov[0], v = nv[0];
            for (size_t x = 0; x < width; ++x)
                p[x] = p[x] == o ? v : p[x];
        } else if constexpr (FixedN != 0) {
            // Pixels rarely match: compare, and store only on a match. The
            // values are held in locals, which no picture store can change.
            T o[FixedN], v[FixedN];
            for (size_t k = 0; k < FixedN; ++k) {
                o[k] = ov[k];
                v[k] = nv[k];
            }
            for (size_t x = 0; x < width; ++x) {
                T* q = p + x * FixedN;
                bool eq = q[0] == o[0];
                for (size_t k = 1; k < FixedN; ++k)
                    eq = eq & (q[k] == o[k]);
                if (eq)
                    for (size_t k = 0; k < FixedN; ++k)
                        q[k] = v[k];
            }
        } else {
            for (size_t x = 0; x < width; ++x) {
                T* q = p + x * nc;
                if (std::memcmp(q, ov, nc * sizeof(T)) == 0)
                    std::memcpy(q, nv, nc * sizeof(T));
            }
        }
    }
    return KZ_OK;
}

KZB_MULTIVERSION(template <class T KZB_COMMA size_t FixedN>, Change,
                 (void* buf, uint32_t nComp, uint32_t rowBytes, const T* nv, const T* ov,
                  uint32_t width, uint32_t count),
                 <T KZB_COMMA FixedN>(buf, nComp, rowBytes, nv, ov, width, count))

// Three-byte pixels with AVX-512, 64 pixels (three vectors) per step, so the
// loads stay on the row's 64-byte grid. Byte compares against the old value
// in each of the three byte phases give a bit per byte; a pixel matches where
// its three bits are set (pixels at bytes 63 and 126 span two vectors), and
// masked stores write newValue into just those pixels. The row's last bytes
// are handled 21 pixels at a time with loads and stores masked to the row, so
// no byte outside it is read or written.
KZ_TARGET_AVX512 __attribute__((noinline)) void Change3x8Avx512(void* buf, uint32_t rowBytes,
                                                                 const uint8_t* nv, const uint8_t* ov,
                                                                 uint32_t width, size_t rows) noexcept
{
    alignas(64) uint8_t op[3][64], np[3][64];
    uint64_t starts[3] = {0, 0, 0};
    for (unsigned k = 0; k < 3; ++k)
        for (unsigned j = 0; j < 64; ++j) {
            op[k][j] = ov[(k + j) % 3];
            np[k][j] = nv[(k + j) % 3];
            if ((k + j) % 3 == 0)
                starts[k] |= uint64_t(1) << j;
        }
    const __m512i o0 = _mm512_load_si512(op[0]), o1 = _mm512_load_si512(op[1]),
                  o2 = _mm512_load_si512(op[2]);
    const __m512i n0 = _mm512_load_si512(np[0]), n1 = _mm512_load_si512(np[1]),
                  n2 = _mm512_load_si512(np[2]);
    const uint64_t s0 = starts[0], s1 = starts[1], s2 = starts[2];
    constexpr uint64_t kStarts = 0x1249249249249249ull; // bits 0, 3, ..., 60
    constexpr uint64_t kStep = (uint64_t(1) << 63) - 1; // 63 bytes
    const size_t n = size_t(width) * 3;
    for (size_t r = 0; r < rows; ++r) {
        uint8_t* p = KzRow<uint8_t>(buf, rowBytes, r);
        size_t o = 0;
        for (; n - o >= 192; o += 192) {
            const uint64_t e0 = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p + o), o0);
            const uint64_t e1 = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p + o + 64), o1);
            const uint64_t e2 = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p + o + 128), o2);
            const uint64_t m0 = e0 & ((e0 >> 1) | (e1 << 63)) & ((e0 >> 2) | (e1 << 62)) & s0;
            const uint64_t m1 = e1 & ((e1 >> 1) | (e2 << 63)) & ((e1 >> 2) | (e2 << 62)) & s1;
            const uint64_t m2 = e2 & (e2 >> 1) & (e2 >> 2) & s2;
            if (m0 | m1 | m2) {
                _mm512_mask_storeu_epi8(p + o, m0 | (m0 << 1) | (m0 << 2), n0);
                _mm512_mask_storeu_epi8(p + o + 64, m1 | (m1 << 1) | (m1 << 2) | (m0 >> 63) | (m0 >> 62), n1);
                _mm512_mask_storeu_epi8(p + o + 128, m2 | (m2 << 1) | (m2 << 2) | (m1 >> 63) | (m1 >> 62), n2);
            }
        }
        for (; o < n; o += 63) {
            const uint64_t lm = n - o >= 63 ? kStep : (uint64_t(1) << (n - o)) - 1;
            const __m512i v = _mm512_maskz_loadu_epi8(lm, p + o);
            const uint64_t eq = _mm512_mask_cmpeq_epi8_mask(lm, v, o0);
            const uint64_t m = eq & (eq >> 1) & (eq >> 2) & kStarts;
            if (m)
                _mm512_mask_storeu_epi8(p + o, m | (m << 1) | (m << 2), n0);
        }
    }
}

// A pixel equal to oldValue in all nComp samples becomes newValue. The values
// are copied first: they may be unaligned or lie inside the picture.
template <class T>
int ChangePixels(void* buf, uint32_t nComp, uint32_t rowBytes, const void* newValue,
                 const void* oldValue, uint32_t width, uint32_t count) noexcept
{
    if (KzRowCount(width, count) == 0 || nComp == 0)
        return KZ_OK;
    KzScratch mem;
    T* vals = mem.Get<T>(size_t(nComp) * 2);
    if (!vals)
        return KZ_ERR_OUT_OF_MEMORY;
    std::memcpy(vals, newValue, size_t(nComp) * sizeof(T));
    std::memcpy(vals + nComp, oldValue, size_t(nComp) * sizeof(T));
    if constexpr (sizeof(T) == 1) {
        if (nComp == 3 && KzCpuIsa() == KzIsa::Avx512) {
            Change3x8Avx512(buf, rowBytes, vals, vals + 3, width, KzRowCount(width, count));
            return KZ_OK;
        }
    }
    switch (nComp) {
    case 1: return Change<T, 1>(buf, nComp, rowBytes, vals, vals + 1, width, count);
    case 3: return Change<T, 3>(buf, nComp, rowBytes, vals, vals + 3, width, count);
    case 4: return Change<T, 4>(buf, nComp, rowBytes, vals, vals + 4, width, count);
    default: return Change<T, 0>(buf, nComp, rowBytes, vals, vals + nComp, width, count);
    }
}

} // namespace

KZ_CAPI int set_Nx8(void* buf, uint32_t nComp, uint32_t rowBytes, const void* value, uint32_t width,
                    uint32_t count)
{
    return SetPixels<uint8_t>(buf, nComp, rowBytes, value, width, count);
}
KZ_CAPI int set_Nx16(void* buf, uint32_t nComp, uint32_t rowBytes, const void* value,
                     uint32_t width, uint32_t count)
{
    return SetPixels<uint16_t>(buf, nComp, rowBytes, value, width, count);
}
KZ_CAPI int change_Nx8(void* buf, uint32_t nComp, uint32_t rowBytes, const void* newValue,
                       const void* oldValue, uint32_t width, uint32_t count)
{
    return ChangePixels<uint8_t>(buf, nComp, rowBytes, newValue, oldValue, width, count);
}
KZ_CAPI int change_Nx16(void* buf, uint32_t nComp, uint32_t rowBytes, const void* newValue,
                        const void* oldValue, uint32_t width, uint32_t count)
{
    return ChangePixels<uint16_t>(buf, nComp, rowBytes, newValue, oldValue, width, count);
}

// ---------------------------------------------------------------------------
// Single-component operations
// ---------------------------------------------------------------------------

namespace {

// Component selection and shift of one call; strides are the component
// counts (template constants where they are 1, 3 or 4, else dc / sc).
struct CompParams {
    size_t dc = 0, sc = 0;     // component counts (strides in samples)
    size_t di = 0, si = 0;     // component indexes
    const void* mask = nullptr;
    uint32_t maskRowBytes = 0;
    uint32_t key = 0;          // mask key (fits the mask sample)
    unsigned shift = 0;        // convertcomponent: shift amount, capped at 31
    bool left = false;         // convertcomponent: shift direction
};

enum class CompOp { Copy, CopyMaskIn, CopyMaskOut, Convert };

template <class TD, class TS, class M, CompOp Op, size_t DC, size_t SC>
KZB_INLINE int CompImpl(void* dst, uint32_t dRB, const void* src, uint32_t sRB, uint32_t width,
                        uint32_t count, const CompParams& p) noexcept
{
    const size_t dc = DC ? DC : p.dc, sc = SC ? SC : p.sc;
    const size_t rows = KzRowCount(width, count);
    const unsigned sh = p.shift;
    const bool left = p.left;
    const M key = M(p.key);
    for (size_t r = 0; r < rows; ++r) {
        TD* d = KzRow<TD>(dst, dRB, r) + p.di;
        const TS* s = KzRow<TS>(src, sRB, r) + p.si;
        if constexpr (Op == CompOp::Copy) {
            for (size_t x = 0; x < width; ++x)
                d[x * dc] = TD(s[x * sc]);
        } else if constexpr (Op == CompOp::Convert) {
            if (left) {
                for (size_t x = 0; x < width; ++x)
                    d[x * dc] = TD(uint32_t(s[x * sc]) << sh);
            } else {
                for (size_t x = 0; x < width; ++x)
                    d[x * dc] = TD(uint32_t(s[x * sc]) >> sh);
            }
        } else {
            constexpr bool in = Op == CompOp::CopyMaskIn;
            const M* m = KzRow<M>(p.mask, p.maskRowBytes, r);
            for (size_t x = 0; x < width; ++x) {
                const TD sel = TD(TD(0) - TD((m[x] == key) == in));
                const TD sv = TD(s[x * sc]), dv = d[x * dc];
                d[x * dc] = TD((sv & sel) | (dv & TD(~sel)));
            }
        }
    }
    return KZ_OK;
}

KZB_MULTIVERSION(template <class TD KZB_COMMA class TS KZB_COMMA class M KZB_COMMA CompOp Op KZB_COMMA
                               size_t DC KZB_COMMA size_t SC>,
                 Comp,
                 (void* dst, uint32_t dRB, const void* src, uint32_t sRB, uint32_t width,
                  uint32_t count, const CompParams& p),
                 <TD KZB_COMMA TS KZB_COMMA M KZB_COMMA Op KZB_COMMA DC KZB_COMMA SC>(
                     dst, dRB, src, sRB, width, count, p))

// Picks the constant-stride instantiation for the common component counts.
template <class TD, class TS, class M, CompOp Op, size_t DC>
int CompBySrc(void* dst, uint32_t dRB, const void* src, uint32_t sRB, uint32_t width,
              uint32_t count, const CompParams& p) noexcept
{
    switch (p.sc) {
    case 1: return Comp<TD, TS, M, Op, DC, 1>(dst, dRB, src, sRB, width, count, p);
    case 3: return Comp<TD, TS, M, Op, DC, 3>(dst, dRB, src, sRB, width, count, p);
    case 4: return Comp<TD, TS, M, Op, DC, 4>(dst, dRB, src, sRB, width, count, p);
    default: return Comp<TD, TS, M, Op, DC, 0>(dst, dRB, src, sRB, width, count, p);
    }
}

template <class TD, class TS, class M, CompOp Op>
int CompDispatch(void* dst, uint32_t dRB, const void* src, uint32_t sRB, uint32_t width,
                 uint32_t count, const CompParams& p) noexcept
{
    switch (p.dc) {
    case 1: return CompBySrc<TD, TS, M, Op, 1>(dst, dRB, src, sRB, width, count, p);
    case 3: return CompBySrc<TD, TS, M, Op, 3>(dst, dRB, src, sRB, width, count, p);
    case 4: return CompBySrc<TD, TS, M, Op, 4>(dst, dRB, src, sRB, width, count, p);
    default: return CompBySrc<TD, TS, M, Op, 0>(dst, dRB, src, sRB, width, count, p);
    }
}

inline bool CompArgs(CompParams& p, uint32_t dstComp, uint32_t dstIdx, uint32_t srcComp,
                     uint32_t srcIdx) noexcept
{
    if (!KzComponentIndexValid(dstIdx, dstComp) || !KzComponentIndexValid(srcIdx, srcComp))
        return false;
    p.dc = dstComp;
    p.sc = srcComp;
    p.di = dstIdx;
    p.si = srcIdx;
    return true;
}

template <class T>
int CopyComponent(void* dst, uint32_t dstComp, uint32_t dRB, uint32_t dstIdx, const void* src,
                  uint32_t srcComp, uint32_t sRB, uint32_t srcIdx, uint32_t width,
                  uint32_t count) noexcept
{
    CompParams p;
    if (!CompArgs(p, dstComp, dstIdx, srcComp, srcIdx))
        return KZ_ERR_INVALID_ARG;
    if (KzRowCount(width, count) == 0)
        return KZ_OK;
    return CompDispatch<T, T, uint8_t, CompOp::Copy>(dst, dRB, src, sRB, width, count, p);
}

template <class T, class M, bool In>
int CopyComponentMask(void* dst, uint32_t dstComp, uint32_t dRB, uint32_t dstIdx, const void* src,
                      uint32_t srcComp, uint32_t sRB, uint32_t srcIdx, const void* mask,
                      uint32_t mRB, uint32_t width, uint32_t count, int32_t key) noexcept
{
    CompParams p;
    if (!CompArgs(p, dstComp, dstIdx, srcComp, srcIdx))
        return KZ_ERR_INVALID_ARG;
    if (KzRowCount(width, count) == 0)
        return KZ_OK;
    M k;
    if (!MaskKey<M>(key, &k)) {
        // No mask sample equals the key: _in selects nothing, _out everything.
        if (In)
            return KZ_OK;
        return CompDispatch<T, T, M, CompOp::Copy>(dst, dRB, src, sRB, width, count, p);
    }
    p.mask = mask;
    p.maskRowBytes = mRB;
    p.key = k;
    constexpr CompOp op = In ? CompOp::CopyMaskIn : CompOp::CopyMaskOut;
    return CompDispatch<T, T, M, op>(dst, dRB, src, sRB, width, count, p);
}

// Shift left by dstBits - srcBits when the destination is deeper, else right
// by srcBits - dstBits, in every member (a negative shift count is never
// formed); shifts of 32 and more give the same result as 31 once the value is
// cut to the container.
template <class TD, class TS>
int ConvertComponent(void* dst, uint32_t dstComp, uint32_t dRB, uint32_t dstIdx, uint32_t dstBits,
                     const void* src, uint32_t srcComp, uint32_t sRB, uint32_t srcIdx,
                     uint32_t srcBits, uint32_t width, uint32_t count) noexcept
{
    CompParams p;
    if (!CompArgs(p, dstComp, dstIdx, srcComp, srcIdx))
        return KZ_ERR_INVALID_ARG;
    if (KzRowCount(width, count) == 0)
        return KZ_OK;
    p.left = dstBits > srcBits;
    const uint32_t diff = p.left ? dstBits - srcBits : srcBits - dstBits;
    p.shift = diff > 31 ? 31 : diff;
    return CompDispatch<TD, TS, uint8_t, CompOp::Convert>(dst, dRB, src, sRB, width, count, p);
}

template <class T, size_t FixedN>
KZB_INLINE int SetCompImpl(void* buf, uint32_t nComp, uint32_t rowBytes, uint32_t idx, T value,
                           uint32_t width, uint32_t count) noexcept
{
    const size_t nc = FixedN ? FixedN : nComp;
    const size_t rows = KzRowCount(width, count);
    for (size_t r = 0; r < rows; ++r) {
        T* p = KzRow<T>(buf, rowBytes, r) + idx;
        for (size_t x = 0; x < width; ++x)
            p[x * nc] = value;
    }
    return KZ_OK;
}

KZB_MULTIVERSION(template <class T KZB_COMMA size_t FixedN>, SetComp,
                 (void* buf, uint32_t nComp, uint32_t rowBytes, uint32_t idx, T value,
                  uint32_t width, uint32_t count),
                 <T KZB_COMMA FixedN>(buf, nComp, rowBytes, idx, value, width, count))

// One component of three-byte pixels with AVX-512: a masked store of the
// value per 64 bytes of row. The row's byte phase modulo 3 advances by one
// per vector, so three precomputed masks cover every vector; no other byte
// is read or written.
KZ_TARGET_AVX512 __attribute__((noinline)) void SetComp3x8Avx512(void* buf, uint32_t rowBytes,
                                                                  uint32_t idx, uint8_t value,
                                                                  uint32_t width, size_t rows) noexcept
{
    uint64_t m[3] = {0, 0, 0};
    for (unsigned ph = 0; ph < 3; ++ph)
        for (unsigned j = 0; j < 64; ++j)
            if ((ph + j) % 3 == idx)
                m[ph] |= uint64_t(1) << j;
    const __m512i v = _mm512_set1_epi8(char(value));
    const size_t n = size_t(width) * 3;
    for (size_t r = 0; r < rows; ++r) {
        uint8_t* p = KzRow<uint8_t>(buf, rowBytes, r);
        size_t o = 0;
        for (; o + 192 <= n; o += 192) {
            _mm512_mask_storeu_epi8(p + o, m[0], v);
            _mm512_mask_storeu_epi8(p + o + 64, m[1], v);
            _mm512_mask_storeu_epi8(p + o + 128, m[2], v);
        }
        for (unsigned ph = 0; o < n; o += 64, ++ph) {
            const uint64_t lm = n - o >= 64 ? ~uint64_t(0) : (uint64_t(1) << (n - o)) - 1;
            _mm512_mask_storeu_epi8(p + o, m[ph] & lm, v);
        }
    }
}

template <class T>
int SetComponent(void* buf, uint32_t nComp, uint32_t rowBytes, uint32_t idx, int32_t value,
                 uint32_t width, uint32_t count) noexcept
{
    if (!KzComponentIndexValid(idx, nComp))
        return KZ_ERR_INVALID_ARG;
    if (KzRowCount(width, count) == 0)
        return KZ_OK;
    const T v = T(uint32_t(value)); // low 8 or 16 bits
    if constexpr (sizeof(T) == 1) {
        if (nComp == 3 && KzCpuIsa() == KzIsa::Avx512) {
            SetComp3x8Avx512(buf, rowBytes, idx, v, width, KzRowCount(width, count));
            return KZ_OK;
        }
    }
    switch (nComp) {
    case 1: return SetComp<T, 1>(buf, nComp, rowBytes, idx, v, width, count);
    case 3: return SetComp<T, 3>(buf, nComp, rowBytes, idx, v, width, count);
    case 4: return SetComp<T, 4>(buf, nComp, rowBytes, idx, v, width, count);
    default: return SetComp<T, 0>(buf, nComp, rowBytes, idx, v, width, count);
    }
}

// First difference of the two components in row order, as a signed value.
// Blocks of pixels are first tested for any difference with an OR of XORs (a
// vectorised reduction); only the block holding the first difference is
// searched pixel by pixel.
template <class T, size_t AC, size_t BC>
KZB_INLINE int CompareCompImpl(const void* a, uint32_t aComp, uint32_t aRB, uint32_t aIdx,
                           const void* b, uint32_t bComp, uint32_t bRB, uint32_t bIdx,
                           uint32_t width, uint32_t count) noexcept
{
    constexpr size_t kBlock = 64;
    const size_t ac = AC ? AC : aComp, bc = BC ? BC : bComp;
    const size_t rows = KzRowCount(width, count);
    for (size_t r = 0; r < rows; ++r) {
        const T* pa = KzRow<T>(a, aRB, r) + aIdx;
        const T* pb = KzRow<T>(b, bRB, r) + bIdx;
        for (size_t x0 = 0; x0 < width; x0 += kBlock) {
            const size_t n = width - x0 < kBlock ? width - x0 : kBlock;
            const T* qa = pa + x0 * ac;
            const T* qb = pb + x0 * bc;
            T any = 0;
            for (size_t x = 0; x < n; ++x)
                any |= T(qa[x * ac] ^ qb[x * bc]);
            if (!any)
                continue;
            for (size_t x = 0; x < n; ++x) {
                const T va = qa[x * ac], vb = qb[x * bc];
                if (va != vb)
                    return int(va) - int(vb);
            }
        }
    }
    return 0;
}

KZB_MULTIVERSION(template <class T KZB_COMMA size_t AC KZB_COMMA size_t BC>, CompareComp,
                 (const void* a, uint32_t aComp, uint32_t aRB, uint32_t aIdx, const void* b,
                  uint32_t bComp, uint32_t bRB, uint32_t bIdx, uint32_t width, uint32_t count),
                 <T KZB_COMMA AC KZB_COMMA BC>(a, aComp, aRB, aIdx, b, bComp, bRB, bIdx, width,
                                               count))

template <class T>
int CompareComponent(const void* a, uint32_t aComp, uint32_t aRB, uint32_t aIdx, const void* b,
                     uint32_t bComp, uint32_t bRB, uint32_t bIdx, uint32_t width,
                     uint32_t count) noexcept
{
    if (!KzComponentIndexValid(aIdx, aComp) || !KzComponentIndexValid(bIdx, bComp))
        return KZ_ERR_INVALID_ARG;
    // Constant strides for pictures of equal common component counts.
    if (aComp == bComp) {
        switch (aComp) {
        case 1: return CompareComp<T, 1, 1>(a, aComp, aRB, aIdx, b, bComp, bRB, bIdx, width, count);
        case 3: return CompareComp<T, 3, 3>(a, aComp, aRB, aIdx, b, bComp, bRB, bIdx, width, count);
        case 4: return CompareComp<T, 4, 4>(a, aComp, aRB, aIdx, b, bComp, bRB, bIdx, width, count);
        default: break;
        }
    }
    return CompareComp<T, 0, 0>(a, aComp, aRB, aIdx, b, bComp, bRB, bIdx, width, count);
}

} // namespace

#define KZB_COPYCOMP_CALL dst, dstComp, dstRowBytes, dstIdx, src, srcComp, srcRowBytes, srcIdx
KZ_CAPI int copycomponent_Nx8_to_Nx8(KZ_COPYCOMP_ARGS)
{
    return CopyComponent<uint8_t>(KZB_COPYCOMP_CALL, width, count);
}
KZ_CAPI int copycomponent_Nx16_to_Nx16(KZ_COPYCOMP_ARGS)
{
    return CopyComponent<uint16_t>(KZB_COPYCOMP_CALL, width, count);
}

#define KZB_DEF_COPYCOMPMASK(name, T, M, In)                                                       \
    KZ_CAPI int name(KZ_COPYCOMPMASK_ARGS)                                                        \
    {                                                                                              \
        return CopyComponentMask<T, M, In>(KZB_COPYCOMP_CALL, mask, maskRowBytes, width, count,    \
                                           key);                                                   \
    }
KZB_DEF_COPYCOMPMASK(copycomponentmask_8_Nx8_in, uint8_t, uint8_t, true)
KZB_DEF_COPYCOMPMASK(copycomponentmask_8_Nx8_out, uint8_t, uint8_t, false)
KZB_DEF_COPYCOMPMASK(copycomponentmask_8_Nx16_in, uint16_t, uint8_t, true)
KZB_DEF_COPYCOMPMASK(copycomponentmask_8_Nx16_out, uint16_t, uint8_t, false)
KZB_DEF_COPYCOMPMASK(copycomponentmask_16_Nx8_in, uint8_t, uint16_t, true)
KZB_DEF_COPYCOMPMASK(copycomponentmask_16_Nx8_out, uint8_t, uint16_t, false)
KZB_DEF_COPYCOMPMASK(copycomponentmask_16_Nx16_in, uint16_t, uint16_t, true)
KZB_DEF_COPYCOMPMASK(copycomponentmask_16_Nx16_out, uint16_t, uint16_t, false)

#define KZB_CONVCOMP_CALL dst, dstComp, dstRowBytes, dstIdx, dstBits, src, srcComp, srcRowBytes, srcIdx, srcBits, width, count
KZ_CAPI int convertcomponent_8_to_8(KZ_CONVCOMP_ARGS)
{
    return ConvertComponent<uint8_t, uint8_t>(KZB_CONVCOMP_CALL);
}
KZ_CAPI int convertcomponent_8_to_16(KZ_CONVCOMP_ARGS)
{
    return ConvertComponent<uint16_t, uint8_t>(KZB_CONVCOMP_CALL);
}
KZ_CAPI int convertcomponent_16_to_8(KZ_CONVCOMP_ARGS)
{
    return ConvertComponent<uint8_t, uint16_t>(KZB_CONVCOMP_CALL);
}
KZ_CAPI int convertcomponent_16_to_16(KZ_CONVCOMP_ARGS)
{
    return ConvertComponent<uint16_t, uint16_t>(KZB_CONVCOMP_CALL);
}

KZ_CAPI int setcomponent_Nx8(void* buf, uint32_t nComp, uint32_t rowBytes, uint32_t idx,
                             int32_t value, uint32_t width, uint32_t count)
{
    return SetComponent<uint8_t>(buf, nComp, rowBytes, idx, value, width, count);
}
KZ_CAPI int setcomponent_Nx16(void* buf, uint32_t nComp, uint32_t rowBytes, uint32_t idx,
                              int32_t value, uint32_t width, uint32_t count)
{
    return SetComponent<uint16_t>(buf, nComp, rowBytes, idx, value, width, count);
}

KZ_CAPI int comparecomponent_Nx8_to_Nx8(KZ_CMPCOMP_ARGS)
{
    return CompareComponent<uint8_t>(a, aComp, aRowBytes, aIdx, b, bComp, bRowBytes, bIdx, width,
                                     count);
}
KZ_CAPI int comparecomponent_Nx16_to_Nx16(KZ_CMPCOMP_ARGS)
{
    return CompareComponent<uint16_t>(a, aComp, aRowBytes, aIdx, b, bComp, bRowBytes, bIdx, width,
                                      count);
}
