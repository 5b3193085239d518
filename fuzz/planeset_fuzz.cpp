// Loads a plane set from arbitrary bytes with the plane-set loaders, then
// runs selection, extraction, building, merging, colours, the hash and the
// modality conversions on it with a component mask and a count taken from
// the input. Every write must stay inside the arrays the operations own or
// are given.
//
// Input: byte 0 a count n, bytes 1..8 a 64-bit component mask, byte 9 flags,
// the rest a lite-variant blob whose first level holds the plane set.
#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzRangeMask.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

typedef SKzPicturePlanes PS;

// Sets larger than this skip the quadratic and the per-component work.
const unsigned kMaxPlanes = 512;
const unsigned kMaxComponents = 1u << 16;

struct Owned {
    PS s;
    ~Owned() { PS::Free(s); }
};

void Load(PS& s, const uint8_t* data, size_t size)
{
    CKzLiteVariantR r;
    if (size) r.SetData(data, (unsigned long)size, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    r.Reset();
    if (r.GetCurrentType() == eKzLVLevel) r.CurrentLevelBegin();
    PS::LoadFromLiteVariant(s, r);
}

void Colours(PS& s, CKzRangeMask* m, bool useColors)
{
    if (s.uiCompCount == 0 || s.uiCompCount > kMaxComponents) return;
    // Exactly the entries the set announces: writes past them are caught.
    std::unique_ptr<unsigned[]> out(new unsigned[s.uiCompCount]);
    PS::GetPlaneColors(s, out.get(), m, useColors, nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 10) return 0;
    const unsigned n = data[0];
    uint64_t word;
    std::memcpy(&word, data + 1, 8);
    const uint8_t flags = data[9];
    Owned src;
    Load(src.s, data + 10, size - 10);
    if (src.s.uiCount > kMaxPlanes) return 0;

    CKzRangeMask m;
    const unsigned long words[2] = {(unsigned long)word, (unsigned long)(word ^ 0x5555555555555555ull)};
    m.SetMask(64 + (flags & 7), words);
    const bool redFirst = flags & 8, useColors = flags & 16, unique = flags & 32;

    PS::FullMask(src.s);
    for (unsigned i = 0; i <= src.s.uiCount; ++i) {
        CKzRangeMask pm;
        PS::PlaneMask(src.s, i, pm);
        PS::PlaneMask(src.s, i);
        PS::PlaneStartingComp(src.s, i);
    }
    const unsigned planes = PS::MaskedPlaneCount(src.s, m);
    PS::MaskedCompCount(src.s, m);
    const unsigned samples = PS::MaskedSampleCount(src.s, m);

    // Extraction into a set allocated smaller than asked for, and exactly.
    {
        Owned dst;
        if (PS::Alloc(dst.s, planes > 1 ? planes - (flags & 64 ? 1 : 0) : planes, samples) == 0)
            PS::ExtractPlanes(dst.s, src.s, m, redFirst);
        unsigned h0 = 0;
        dst.s.GetHash(h0);
    }
    {
        Owned dst;
        PS::ExtractPlanesEx(dst.s, src.s, m, redFirst);
        unsigned h = n;
        dst.s.GetHash(h);
        Owned ex;
        PS::ExpandRGBPlanes(ex.s, src.s, m);
    }
    {
        Owned dst;
        PS::Alloc(dst.s, src.s.uiCount, 1);
        std::vector<unsigned> order(src.s.uiCount + 3);
        for (size_t j = 0; j < order.size(); ++j) order[j] = (unsigned)((j * 7 + n) % (src.s.uiCount + 1));
        PS::ExtractReorderedPlanes(dst.s, src.s, order.data(), false);
        Owned three;
        PS::Alloc(three.s, 3, 1);
        PS::ExtractReorderedPlanes(three.s, src.s, order.data(), true);
    }

    // Building and merging on deep copies.
    {
        Owned a;
        PS::Copy(a.s, src.s);
        PS::MergePlanes(a.s, a.s, unique);
        PS::MergePlanes(a.s, src.s, m, unique);
        if (a.s.uiCount) {
            PS::CopyPlane(a.s, n % a.s.uiCount, src.s, n % (src.s.uiCount ? src.s.uiCount : 1));
            PS::AddPlane(a.s, src.s, n);
            PS::AddPlane(a.s, a.s, 0);
        }
        Owned b;
        PS::Copy(b.s, a.s, n % (a.s.uiCount + 1));
        PS::IsEqual(a.s, b.s);
        PS::IsCompatible(a.s, b.s);
        for (unsigned i = 0; i < a.s.uiCount && i < 8; ++i) PS::IsPlaneEqual(a.s, i, src.s, i);
        PS::Swap(a.s, b.s);
        Colours(a.s, &m, useColors);
        Colours(b.s, nullptr, useColors);
        PS::MakeCompatible(b.s, (unsigned)(word >> 32) % (flags & 128 ? 0x80000000u : 70u));
        PS::MakeMono(a.s);
        PS::MakeRGB(a.s);
    }

    // Queries and conversions.
    Colours(src.s, &m, useColors);
    Colours(src.s, nullptr, !useColors);
    unsigned h = (unsigned)word;
    src.s.GetHash(h);
    src.s.IsQIRA();
    src.s.IsSpectral();
    PS::GetNonTransmittedPlanesCount(src.s, &m);
    PS::GetNonTransmittedChannelCount(src.s, nullptr);
    PS::GetExposureTime(src.s);
    switch (n % 6) {
    case 0: src.s.ConvertToSpectral(); break;
    case 1: src.s.ConvertToNonSpectral(); break;
    case 2: src.s.ConvertToQIRA(); break;
    case 3: src.s.ConvertToNonQIRA(); break;
    case 4: src.s.ConvertToHDR(); break;
    default: PS::CheckForSameNames(src.s); break;
    }
    return 0;
}
