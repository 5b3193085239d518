// Building plane sets: fitting a set to a component count, standard mono and
// colour sets, copies of planes, and merging sets. Every replaced array is
// built completely before the old one is released, so a set may be merged
// with itself or copied from itself.
#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_metaformats/KzPlaneSetOps.h"

#include <map>

using namespace kzplanes;

namespace {

// Sets larger than this are refused by the file readers; a request to fit
// one empties the set instead of allocating millions of planes.
const unsigned kMaxCompatibleComponents = 65536;

// s rebuilt as the given planes (each of `comps` components) and one
// default sample setting; description and representation stay.
int Rebuild(SKzPicturePlanes& s, unsigned planes, kz_uint32 comps, kz_uint32 total)
{
    SKzPicturePlaneDesc* p = NewPlanes(planes);
    if (planes && !p) return KZ_ERR_OUT_OF_MEMORY;
    SKzSampleSetting* q = NewSamples(1);
    if (!q) {
        SKzPicturePlaneDesc::FreeArray(p);
        return KZ_ERR_OUT_OF_MEMORY;
    }
    for (unsigned i = 0; i < planes; ++i) p[i].uiCompCount = comps;
    ReplacePlanes(s, p, planes);
    ReplaceSamples(s, q, 1);
    s.uiCompCount = total;
    return KZ_OK;
}

int Shape(const SKzPicturePlanes& s)
{
    if (s.uiCount == 1 && s.pPlanes[0].uiCompCount == 1) return 1;
    if (s.uiCount == 1 && s.pPlanes[0].uiCompCount == 3) return 2;
    return 4;
}

bool IsLoneUnnamedMono(const SKzPicturePlanes& s)
{
    return PlaneCount(s) == 1 && s.pPlanes[0].uiCompCount == 1 && s.pPlanes[0].sDescription.IsEmpty();
}

} // namespace

int SKzPicturePlanes::MakeCompatible(SKzPicturePlanes& s, unsigned n)
{
    if (PlaneCount(s) && s.uiCompCount && s.uiCompCount == n) return Shape(s);
    if (n > kMaxCompatibleComponents) {
        Free(s);
        return 4;
    }
    int r;
    if (n == 1)
        r = Rebuild(s, 1, 1, 1);
    else if (n == 3)
        r = Rebuild(s, 1, 3, 3);
    else
        r = Rebuild(s, n, 1, n);
    if (r != KZ_OK) return r;
    return n == 1 ? 1 : n == 3 ? 2 : 4;
}

int SKzPicturePlanes::MakeMono(SKzPicturePlanes& s)
{
    int r = Rebuild(s, 1, 1, 1);
    if (r != KZ_OK) return r;
    s.pPlanes[0].uiColor = 0xFFFFFF;
    s.pPlanes[0].sDescription = L"Mono";
    s.eRepresentation = 0;
    return KZ_OK;
}

int SKzPicturePlanes::MakeRGB(SKzPicturePlanes& s)
{
    int r = Rebuild(s, 1, 3, 3);
    if (r != KZ_OK) return r;
    s.pPlanes[0].uiColor = 0xFFFFFF;
    s.pPlanes[0].uiModalityMask = 0x2;
    s.pPlanes[0].sDescription = L"Brightfield";
    s.eRepresentation = 0;
    return KZ_OK;
}

int SKzPicturePlanes::Copy(SKzPicturePlanes& dst, const SKzPicturePlanes& src, unsigned n)
{
    const unsigned srcPlanes = PlaneCount(src);
    if (srcPlanes == 0 || srcPlanes < n) return KZ_ERR_INVALID_ARG;
    SKzPicturePlaneDesc* planes = NewPlanes(n);
    if (n && !planes) return KZ_ERR_OUT_OF_MEMORY;
    kz_uint64 comps = 0;
    for (unsigned i = 0; i < n; ++i) {
        CopyDesc(planes[i], src.pPlanes[i]);
        comps += planes[i].uiCompCount;
    }
    const unsigned srcSamples = SampleCount(src);
    // Distinct sample indexes in order of first use; an index naming no
    // sample setting of src gets a default one.
    IndexMap newIndex;
    std::vector<kz_uint32> oldOf;
    SKzSampleSetting* samples = nullptr;
    if (srcSamples) {
        try {
            for (unsigned i = 0; i < n; ++i) {
                auto it = newIndex.find(planes[i].uiSampleIndex);
                if (it == newIndex.end()) {
                    it = newIndex.emplace(planes[i].uiSampleIndex, (kz_uint32)oldOf.size()).first;
                    oldOf.push_back(planes[i].uiSampleIndex);
                }
                planes[i].uiSampleIndex = it->second;
            }
        } catch (...) {
            SKzPicturePlaneDesc::FreeArray(planes);
            return KZ_ERR_OUT_OF_MEMORY;
        }
        samples = NewSamples((unsigned)oldOf.size());
        if (!oldOf.empty() && !samples) {
            SKzPicturePlaneDesc::FreeArray(planes);
            return KZ_ERR_OUT_OF_MEMORY;
        }
        for (size_t q = 0; q < oldOf.size(); ++q)
            if (oldOf[q] < srcSamples) CopySample(samples[q], src.pSamples[oldOf[q]]);
    }
    // Everything read from src is built: dst may be src itself.
    const kz_uint32 representation = src.eRepresentation;
    const CKzStringW description = src.sDescription;
    ReplacePlanes(dst, planes, n);
    dst.uiCompCount = Clamp32(comps);
    dst.eRepresentation = representation;
    dst.sDescription = description;
    if (!srcSamples) return KZ_ERR_INVALID_ARG;
    ReplaceSamples(dst, samples, (unsigned)oldOf.size());
    return KZ_OK;
}

int SKzPicturePlanes::CopyPlane(SKzPicturePlanes& dst, unsigned i, const SKzPicturePlanes& src, unsigned j)
{
    if (i >= PlaneCount(dst) || j >= PlaneCount(src)) return KZ_ERR_FAILED;
    SKzPicturePlaneDesc plane;
    CopyDesc(plane, src.pPlanes[j]);
    const SKzSampleSetting* from = src.GetPlaneSettings(j);
    const kz_uint32 s = dst.pPlanes[i].uiSampleIndex;
    const unsigned dstSamples = SampleCount(dst);
    bool shared = s >= dstSamples;
    for (unsigned k = 0; k < PlaneCount(dst) && !shared; ++k)
        if (k != i && dst.pPlanes[k].uiSampleIndex == s) shared = true;
    if (!shared) {
        if (from)
            CopySample(dst.pSamples[s], *from);
        else {
            SKzSampleSetting fresh;
            CopySample(dst.pSamples[s], fresh);
        }
        plane.uiSampleIndex = s;
    } else {
        if (dstSamples == UINT_MAX) return KZ_ERR_OUT_OF_MEMORY;
        SKzSampleSetting* samples = NewSamples(dstSamples + 1);
        if (!samples) return KZ_ERR_OUT_OF_MEMORY;
        for (unsigned k = 0; k < dstSamples; ++k) CopySample(samples[k], dst.pSamples[k]);
        if (from) CopySample(samples[dstSamples], *from);
        ReplaceSamples(dst, samples, dstSamples + 1);
        plane.uiSampleIndex = dstSamples;
    }
    CopyDesc(dst.pPlanes[i], plane);
    return KZ_OK;
}

int SKzPicturePlanes::AddPlane(SKzPicturePlanes& dst, const SKzPicturePlanes& src, unsigned j)
{
    if (j >= PlaneCount(src)) return KZ_ERR_INVALID_ARG;
    const unsigned oldPlanes = PlaneCount(dst), oldSamples = SampleCount(dst);
    if (oldPlanes == UINT_MAX || oldSamples == UINT_MAX) return KZ_ERR_OUT_OF_MEMORY;
    const SKzSampleSetting* from = src.GetPlaneSettings(j);
    long found = -1;
    if (from)
        for (unsigned k = 0; k < oldSamples && found < 0; ++k)
            if (SKzSampleSetting::Compare(dst.pSamples[k], *from)) found = k;
    SKzPicturePlaneDesc* planes = NewPlanes(oldPlanes + 1);
    if (!planes) return KZ_ERR_OUT_OF_MEMORY;
    for (unsigned k = 0; k < oldPlanes; ++k) CopyDesc(planes[k], dst.pPlanes[k]);
    CopyDesc(planes[oldPlanes], src.pPlanes[j]);
    if (found >= 0) {
        planes[oldPlanes].uiSampleIndex = (kz_uint32)found;
    } else {
        SKzSampleSetting* samples = NewSamples(oldSamples + 1);
        if (!samples) {
            SKzPicturePlaneDesc::FreeArray(planes);
            return KZ_ERR_OUT_OF_MEMORY;
        }
        for (unsigned k = 0; k < oldSamples; ++k) CopySample(samples[k], dst.pSamples[k]);
        if (from) CopySample(samples[oldSamples], *from);
        planes[oldPlanes].uiSampleIndex = from ? oldSamples : 0;
        ReplaceSamples(dst, samples, oldSamples + 1);
    }
    const kz_uint64 comps = (kz_uint64)dst.uiCompCount + planes[oldPlanes].uiCompCount;
    ReplacePlanes(dst, planes, oldPlanes + 1);
    dst.uiCompCount = Clamp32(comps);
    return KZ_OK;
}

unsigned SKzPicturePlanes::MergePlanes(SKzPicturePlanes& dst, SKzPicturePlanes& src, bool uniqueNames)
{
    if (IsLoneUnnamedMono(dst)) dst.pPlanes[0].sDescription = L"Mono";
    const unsigned dp = PlaneCount(dst), ds = SampleCount(dst);
    const unsigned sp = PlaneCount(src), ss = SampleCount(src);
    const kz_uint64 planeTotal = (kz_uint64)dp + sp, sampleTotal = (kz_uint64)ds + ss;
    if (planeTotal > UINT_MAX || sampleTotal > UINT_MAX) return dp;
    const bool srcMono = IsLoneUnnamedMono(src);
    SKzPicturePlaneDesc* planes = NewPlanes((unsigned)planeTotal);
    if (planeTotal && !planes) return dp;
    SKzSampleSetting* samples = NewSamples((unsigned)sampleTotal);
    if (sampleTotal && !samples) {
        SKzPicturePlaneDesc::FreeArray(planes);
        return dp;
    }
    for (unsigned k = 0; k < dp; ++k) CopyDesc(planes[k], dst.pPlanes[k]);
    for (unsigned k = 0; k < sp; ++k) {
        SKzPicturePlaneDesc& p = planes[dp + k];
        CopyDesc(p, src.pPlanes[k]);
        kz_uint64 index = (kz_uint64)ds + p.uiSampleIndex;
        if (index > sampleTotal - 1) index = sampleTotal ? sampleTotal - 1 : 0;
        p.uiSampleIndex = (kz_uint32)index;
    }
    for (unsigned k = 0; k < ds; ++k) CopySample(samples[k], dst.pSamples[k]);
    for (unsigned k = 0; k < ss; ++k) CopySample(samples[ds + k], src.pSamples[k]);
    if (srcMono) planes[dp].sDescription = L"Mono";
    const kz_uint64 comps = (kz_uint64)dst.uiCompCount + src.uiCompCount;
    ReplacePlanes(dst, planes, (unsigned)planeTotal);
    ReplaceSamples(dst, samples, (unsigned)sampleTotal);
    dst.uiCompCount = Clamp32(comps);
    if (uniqueNames) CheckForSameNames(dst);
    return PlaneCount(dst);
}

unsigned SKzPicturePlanes::MergePlanes(SKzPicturePlanes& dst, SKzPicturePlanes& src, CKzRangeMask& m,
                                       bool uniqueNames)
{
    const unsigned sp = PlaneCount(src), ss = SampleCount(src);
    // First pass: what the mask adds.
    kz_uint64 addPlanes = 0, addComps = 0, start = 0;
    IndexMap newIndex;  // source sample index -> slot after the old ones
    try {
        for (unsigned p = 0; p < sp; ++p) {
            const Selection sel = Classify(m, start, src.pPlanes[p].uiCompCount);
            start += src.pPlanes[p].uiCompCount;
            unsigned gave = sel.kind == Selection::kFull ? 1 : sel.partCount;
            if (!gave) continue;
            addPlanes += gave;
            addComps += sel.kind == Selection::kFull ? src.pPlanes[p].uiCompCount : sel.partCount;
            const kz_uint32 d = src.pPlanes[p].uiSampleIndex;
            if (d < ss && !newIndex.count(d)) newIndex.emplace(d, (kz_uint32)newIndex.size());
        }
    } catch (...) {
        return PlaneCount(dst);
    }
    if (addPlanes == 0) return PlaneCount(dst);
    if (IsLoneUnnamedMono(dst)) dst.pPlanes[0].sDescription = L"Mono";
    const bool srcMono = IsLoneUnnamedMono(src);
    const unsigned dp = PlaneCount(dst), ds = SampleCount(dst);
    const kz_uint64 planeTotal = dp + addPlanes, sampleTotal = ds + (kz_uint64)newIndex.size();
    if (planeTotal > UINT_MAX || sampleTotal > UINT_MAX) return dp;
    SKzPicturePlaneDesc* planes = NewPlanes((unsigned)planeTotal);
    if (!planes) return dp;
    SKzSampleSetting* samples = NewSamples((unsigned)sampleTotal);
    if (sampleTotal && !samples) {
        SKzPicturePlaneDesc::FreeArray(planes);
        return dp;
    }
    for (unsigned k = 0; k < dp; ++k) CopyDesc(planes[k], dst.pPlanes[k]);
    for (unsigned k = 0; k < ds; ++k) CopySample(samples[k], dst.pSamples[k]);
    // Second pass: the planes themselves.
    kz_uint64 k = dp;
    start = 0;
    std::vector<bool> copied(newIndex.size(), false);
    for (unsigned p = 0; p < sp && k < planeTotal; ++p) {
        const SKzPicturePlaneDesc& from = src.pPlanes[p];
        const Selection sel = Classify(m, start, from.uiCompCount);
        start += from.uiCompCount;
        const kz_uint64 first = k;
        if (sel.kind == Selection::kFull) {
            CopyDesc(planes[k++], from);
        } else if (sel.kind == Selection::kPart) {
            for (unsigned c = 0; c < 3 && k < planeTotal; ++c)
                if (sel.parts & (1u << c)) MakeSplit(planes[k++], from, c);
        }
        if (k == first) continue;
        const kz_uint32 d = from.uiSampleIndex;
        if (d >= ss) continue;  // no sample setting: the copied index stays
        const kz_uint32 slot = newIndex[d];
        if (!copied[slot]) {
            CopySample(samples[ds + slot], src.pSamples[d]);
            copied[slot] = true;
        }
        for (kz_uint64 q = first; q < k; ++q) planes[q].uiSampleIndex = ds + slot;
    }
    if (srcMono) planes[dp].sDescription = L"Mono";
    const kz_uint64 comps = (kz_uint64)dst.uiCompCount + addComps;
    ReplacePlanes(dst, planes, (unsigned)planeTotal);
    ReplaceSamples(dst, samples, (unsigned)sampleTotal);
    dst.uiCompCount = Clamp32(comps);
    if (uniqueNames) CheckForSameNames(dst);
    return PlaneCount(dst);
}

bool SKzPicturePlanes::CheckForSameNames(SKzPicturePlanes& s)
{
    bool changed = false;
    const unsigned n = PlaneCount(s);
    for (unsigned i = 0; i < n; ++i) {
        const CKzStringW name = s.pPlanes[i].sDescription;
        int number = 1;
        for (unsigned k = i + 1; k < n; ++k) {
            if (!s.pPlanes[k].sDescription.Equals(name)) continue;
            s.pPlanes[k].sDescription.AddChar(L' ').AddInt(++number);
        }
        if (number > 1) {
            s.pPlanes[i].sDescription.AddChar(L' ').AddInt(1);
            changed = true;
        }
    }
    return changed;
}

void SKzPicturePlanes::Swap(SKzPicturePlanes& a, SKzPicturePlanes& b)
{
    if (&a == &b) return;
    SKzPicturePlanes t(a);
    a = b;
    b = t;
}
