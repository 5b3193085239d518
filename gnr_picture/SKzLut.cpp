#include "gnr_picture/SKzLut.h"

#include <cstdlib>
#include <cstddef>
#include <cstring>

namespace {

constexpr unsigned kMaxInBits = 16;
constexpr unsigned kMaxOutBits = 32;

size_t SampleBytes(u8 outBits) { return (size_t(outBits) + 7) / 8; }
size_t EntryBytes(u8 outBits, u8 outComps) { return size_t(outComps) * SampleBytes(outBits); }
size_t EntryCount(u8 inBits) { return size_t(1) << inBits; }

// Releases a table of the given counts; the layout follows from them.
void FreeTable(void* table, u8 inComps, u8 outComps)
{
    if (!table)
        return;
    if (inComps <= 1 && outComps <= 1) {
        std::free(table);
    } else if (inComps <= 1) {
        void** rows = static_cast<void**>(table);
        std::free(rows[0]);
        std::free(rows);
    } else {
        void*** comps = static_cast<void***>(table);
        void** rows = comps[0];
        if (rows)
            std::free(rows[0]);
        std::free(rows);
        std::free(comps);
    }
}

// Allocates the shared layout (inComps >= 2): M component pointers naming one
// array of n row pointers over one zeroed block. -9 when the component array
// fails, -3 for the later allocations.
kz_result AllocShared(SKzLut& lut, size_t n, size_t e)
{
    const size_t m = lut.uiInComp;
    void*** comps = static_cast<void***>(std::malloc(m * sizeof(void**)));
    if (!comps)
        return KZ_ERR_FAILED;
    void** rows = static_cast<void**>(std::malloc(n * sizeof(void*)));
    if (!rows) {
        std::free(comps);
        return KZ_ERR_OUT_OF_MEMORY;
    }
    u8* block = static_cast<u8*>(std::calloc(n, e));
    if (!block) {
        std::free(rows);
        std::free(comps);
        return KZ_ERR_OUT_OF_MEMORY;
    }
    for (size_t v = 0; v < n; ++v)
        rows[v] = block + v * e;
    for (size_t k = 0; k < m; ++k)
        comps[k] = rows;
    lut.pLut = comps;
    return KZ_OK;
}

// Allocates the unshared layout of the LUT's counts.
kz_result AllocTable(SKzLut& lut)
{
    const size_t n = EntryCount(lut.uiInBpc);
    const size_t e = EntryBytes(lut.uiOutBpc, lut.uiOutComp);
    if (lut.uiInComp == 1 && lut.uiOutComp == 1) {
        void* block = std::calloc(n, e);
        if (!block)
            return KZ_ERR_OUT_OF_MEMORY;
        lut.pLut = block;
        return KZ_OK;
    }
    if (lut.uiInComp == 1) {
        void** rows = static_cast<void**>(std::malloc(n * sizeof(void*)));
        u8* block = static_cast<u8*>(std::calloc(n, e));
        if (!rows || !block) {
            std::free(rows);
            std::free(block);
            return KZ_ERR_OUT_OF_MEMORY;
        }
        for (size_t v = 0; v < n; ++v)
            rows[v] = block + v * e;
        lut.pLut = rows;
        return KZ_OK;
    }
    const size_t m = lut.uiInComp;
    void*** comps = static_cast<void***>(std::malloc(m * sizeof(void**)));
    void** rows = static_cast<void**>(std::malloc(m * n * sizeof(void*)));
    u8* block = static_cast<u8*>(std::calloc(m * n, e));
    if (!comps || !rows || !block) {
        std::free(comps);
        std::free(rows);
        std::free(block);
        return KZ_ERR_OUT_OF_MEMORY;
    }
    for (size_t k = 0; k < m; ++k) {
        comps[k] = rows + k * n;
        for (size_t v = 0; v < n; ++v)
            rows[k * n + v] = block + (k * n + v) * e;
    }
    lut.pLut = comps;
    return KZ_OK;
}

void ReleaseExposure(SKzLut& lut)
{
    std::free(lut.pOverExpColor);
    std::free(lut.pUnderExpColor);
    lut.pOverExpColor = nullptr;
    lut.pUnderExpColor = nullptr;
}

bool SameCounts(const SKzLut& lut, u8 inBits, u8 inComps, u8 outBits, u8 outComps)
{
    return lut.uiInBpc == inBits && lut.uiInComp == inComps && lut.uiOutBpc == outBits &&
           lut.uiOutComp == outComps;
}

// Start of the sample block of a table.
const u8* BlockOf(const SKzLut& lut)
{
    if (!lut.pLut)
        return nullptr;
    if (lut.uiInComp <= 1 && lut.uiOutComp <= 1)
        return static_cast<const u8*>(lut.pLut);
    if (lut.uiInComp <= 1)
        return static_cast<const u8* const*>(lut.pLut)[0];
    const u8* const* rows = static_cast<const u8* const* const*>(lut.pLut)[0];
    return rows ? rows[0] : nullptr;
}

} // namespace

SKzLut::SKzLut()
    : pLut(nullptr), uiInBpc(0), uiInComp(0), uiOutBpc(0), uiOutComp(0), pOverExpColor(nullptr),
      pUnderExpColor(nullptr), pParametric(nullptr), iPredefLut(-1)
{
}

kz_result SKzLut::Alloc(SKzLut& lut, u8 inBits, u8 inComps, u8 outBits, u8 outComps)
{
    lut.uiInBpc = inBits;
    lut.uiInComp = inComps;
    lut.uiOutBpc = outBits;
    lut.uiOutComp = outComps;
    lut.pOverExpColor = nullptr;
    lut.pUnderExpColor = nullptr;
    lut.maskComp.Reset();
    lut.maskComp = CKzRangeMask::FULL_MASK;
    lut.pParametric = nullptr;
    lut.pLut = nullptr;
    if (outComps == 0 || inComps == 0)
        return KZ_ERR_FAILED;
    if (inBits > kMaxInBits || outBits > kMaxOutBits)
        return KZ_ERR_INVALID_ARG;
    return AllocTable(lut);
}

kz_result SKzLut::AllocSingle(SKzLut& lut, u8 inBits, u8 outBits) { return Alloc(lut, inBits, 1, outBits, 1); }

kz_result SKzLut::AllocColor(SKzLut& lut, u8 inBits, u8 outBits) { return Alloc(lut, inBits, 1, outBits, 3); }

kz_result SKzLut::CustomSpectralLutAlloc(SKzLut& lut, u8 inBits, u8 inComps, u8 outBits, u8 outComps)
{
    // The parametric block holds one record per input component: a block
    // sized for another count would be read past its end.
    if (lut.pParametric && lut.uiInComp != inComps)
        FreeParametric(lut);
    lut.uiInBpc = inBits;
    lut.uiInComp = inComps;
    lut.uiOutBpc = outBits;
    lut.uiOutComp = outComps;
    lut.pOverExpColor = nullptr;
    lut.pUnderExpColor = nullptr;
    lut.pLut = nullptr;
    if (outComps == 0 || inComps == 0)
        return KZ_ERR_FAILED;
    if (inBits > kMaxInBits || outBits > kMaxOutBits)
        return KZ_ERR_INVALID_ARG;
    if (inComps == 1)
        return AllocTable(lut);
    return AllocShared(lut, EntryCount(inBits), EntryBytes(outBits, outComps));
}

void SKzLut::Free(SKzLut& lut)
{
    FreeTable(lut.pLut, lut.uiInComp, lut.uiOutComp);
    lut.pLut = nullptr;
    ReleaseExposure(lut);
    FreeParametric(lut);
}

kz_result SKzLut::ReinitParametric(SKzLut& lut)
{
    FreeParametric(lut);
    if (lut.uiInComp == 0)
        return KZ_OK;
    lut.pParametric = static_cast<SKzLutParametric*>(std::malloc(size_t(lut.uiInComp) * sizeof(SKzLutParametric)));
    return lut.pParametric ? KZ_OK : KZ_ERR_OUT_OF_MEMORY;
}

void SKzLut::FreeParametric(SKzLut& lut)
{
    std::free(lut.pParametric);
    lut.pParametric = nullptr;
}

bool SKzLut::IsShared(const SKzLut& lut)
{
    if (!lut.pLut || lut.uiInComp < 2)
        return false;
    const void* const* comps = static_cast<const void* const*>(lut.pLut);
    return comps[0] == comps[1];
}

size_t SKzLut::TableBlockBytes(const SKzLut& lut)
{
    if (!lut.pLut)
        return 0;
    const size_t one = EntryCount(lut.uiInBpc) * EntryBytes(lut.uiOutBpc, lut.uiOutComp);
    if (lut.uiInComp <= 1 || IsShared(lut))
        return one;
    return one * lut.uiInComp;
}

kz_result SKzLut::check_luts(SKzLut& lut, u8 inBits, u8 inComps, u8 outBits, u8 outComps)
{
    if (lut.pLut && SameCounts(lut, inBits, inComps, outBits, outComps) && !IsShared(lut))
        return KZ_OK;
    if (lut.pLut)
        Free(lut);
    return Alloc(lut, inBits, inComps, outBits, outComps);
}

kz_result SKzLut::check_luts_spectral_ex(SKzLut& lut, u8 inBits, u8 inComps, u8 outBits, u8 outComps)
{
    if (lut.pLut && SameCounts(lut, inBits, inComps, outBits, outComps) && IsShared(lut))
        return KZ_OK;
    if (lut.pLut)
        Free(lut);
    return CustomSpectralLutAlloc(lut, inBits, inComps, outBits, outComps);
}

void SKzLut::Copy(SKzLut& dst, const SKzLut& src)
{
    if (&dst == &src || src.uiInComp == 0 || src.uiOutComp == 0)
        return;
    const size_t srcBytes = TableBlockBytes(src);
    const size_t dstBytes = TableBlockBytes(dst);
    if (src.pLut) {
        // Only between tables of the same shape that hold the source's block.
        if (!dst.pLut || dst.uiInComp != src.uiInComp || dst.uiOutComp != src.uiOutComp ||
            dst.uiInBpc != src.uiInBpc || dst.uiOutBpc != src.uiOutBpc || dstBytes < srcBytes)
            return;
        std::memcpy(const_cast<u8*>(BlockOf(dst)), BlockOf(src), srcBytes);
    }
    dst.maskComp = src.maskComp;
    if (src.pParametric) {
        if (!dst.pParametric && ReinitParametric(dst) != KZ_OK)
            return;
        if (dst.pParametric) {
            const size_t n = src.uiInComp < dst.uiInComp ? src.uiInComp : dst.uiInComp;
            std::memcpy(dst.pParametric, src.pParametric, n * sizeof(SKzLutParametric));
        }
    } else if (dst.pParametric) {
        FreeParametric(dst);
    }
}

// The composition and spectral kernels read these records by offset.
static_assert(offsetof(SKzLutParametric, dOffset) == 0);
static_assert(offsetof(SKzLutParametric, dGain) == 8);
static_assert(offsetof(SKzLutParametric, dGamma) == 16);
static_assert(offsetof(SKzLutParametric, uiColor) == 24);
static_assert(sizeof(SKzLutParametric) == 32);
static_assert(offsetof(SKzLut, pLut) == 0);
static_assert(offsetof(SKzLut, uiInBpc) == 8);
static_assert(offsetof(SKzLut, uiInComp) == 9);
static_assert(offsetof(SKzLut, uiOutBpc) == 10);
static_assert(offsetof(SKzLut, uiOutComp) == 11);
static_assert(offsetof(SKzLut, maskComp) == 16);
static_assert(offsetof(SKzLut, pOverExpColor) == 48);
static_assert(offsetof(SKzLut, pUnderExpColor) == 56);
static_assert(offsetof(SKzLut, pParametric) == 64);
static_assert(offsetof(SKzLut, iPredefLut) == 72);
static_assert(sizeof(SKzLut) == 80);
