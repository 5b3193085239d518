// Plane sets and component masks: which planes a selection holds, and the
// plane sets that describe only the selected components.
#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_metaformats/KzPlaneSetOps.h"

#include <map>

using namespace kzplanes;

namespace kzplanes {

Selection Classify(const CKzRangeMask& m, kz_uint64 start, kz_uint32 count)
{
    Selection sel{Selection::kNone, 0, 0};
    if (count == 0) {
        sel.kind = Selection::kFull;
        return sel;
    }
    const kz_uint64 size = m.GetSize();
    if (start >= size) return sel;
    const kz_uint64 inside = size - start < count ? size - start : count;
    const unsigned chosen = m.Sum((unsigned)start, (unsigned)inside);
    if (chosen == 0) return sel;
    if (inside == count && chosen == count) {
        sel.kind = Selection::kFull;
        return sel;
    }
    sel.kind = Selection::kPart;
    for (unsigned k = 0; k < 3 && k < count && start + k < size; ++k) {
        if (m.Get((unsigned)(start + k))) {
            sel.parts |= 1u << k;
            ++sel.partCount;
        }
    }
    return sel;
}

SKzSampleSetting* NewSamples(unsigned n)
{
    if (n == 0) return nullptr;
    try {
        return new (std::nothrow) SKzSampleSetting[n];
    } catch (...) {
        return nullptr;
    }
}

void DeleteSamples(SKzSampleSetting* p) { delete[] p; }

SKzPicturePlaneDesc* NewPlanes(unsigned n)
{
    SKzPicturePlaneDesc* p = nullptr;
    if (n == 0 || SKzPicturePlaneDesc::AllocArray(p, n) != KZ_OK) return nullptr;
    return p;
}

void MakeSplit(SKzPicturePlaneDesc& dst, const SKzPicturePlaneDesc& src, unsigned k)
{
    static const kz_uint32 colours[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    static const wchar_t* const names[3] = {L"Blue", L"Green", L"Red"};
    CopyDesc(dst, src);
    dst.uiCompCount = 1;
    if (k < 3) {
        dst.uiColor = colours[k];
        dst.sDescription = names[k];
    }
}

void ReplacePlanes(SKzPicturePlanes& s, SKzPicturePlaneDesc* p, unsigned n)
{
    SKzPicturePlaneDesc* old = s.pPlanes;
    s.pPlanes = p;
    s.uiCount = p ? n : 0;
    if (old && old != p) SKzPicturePlaneDesc::FreeArray(old);
}

void ReplaceSamples(SKzPicturePlanes& s, SKzSampleSetting* p, unsigned n)
{
    SKzSampleSetting* old = s.pSamples;
    s.pSamples = p;
    s.uiSampleCount = p ? n : 0;
    if (old && old != p) DeleteSamples(old);
}

} // namespace kzplanes

kz_uint64 SKzPicturePlanes::FullMask(SKzPicturePlanes& s)
{
    return s.uiCompCount >= 64 ? ~0ull : (1ull << s.uiCompCount) - 1;
}

CKzRangeMask& SKzPicturePlanes::FullMask(SKzPicturePlanes& s, CKzRangeMask& m)
{
    m.SetSize(s.uiCompCount);
    m.Set();
    return m;
}

kz_uint64 SKzPicturePlanes::PlaneStartingComp(SKzPicturePlanes& s, unsigned i)
{
    kz_uint64 start = 0;
    const unsigned n = i < PlaneCount(s) ? i : PlaneCount(s);
    for (unsigned p = 0; p < n; ++p) start += s.pPlanes[p].uiCompCount;
    return start;
}

CKzRangeMask& SKzPicturePlanes::PlaneMask(SKzPicturePlanes& s, unsigned i, CKzRangeMask& m)
{
    if (i >= PlaneCount(s)) {
        m.Reset();  // past the planes: emptied, its size kept
        return m;
    }
    m.SetSize(s.uiCompCount);
    m.Reset();
    const kz_uint64 start = PlaneStartingComp(s, i);
    const kz_uint32 count = s.pPlanes[i].uiCompCount;
    if (count == 0 || start >= s.uiCompCount) return m;
    const kz_uint64 last = start + count - 1;
    m.SetRange((unsigned)start, last >= s.uiCompCount ? s.uiCompCount - 1 : (unsigned)last, 1);
    return m;
}

kz_uint64 SKzPicturePlanes::PlaneMask(SKzPicturePlanes& s, unsigned i)
{
    if (i >= PlaneCount(s)) return 0;
    const kz_uint64 start = PlaneStartingComp(s, i);
    kz_uint64 end = start + s.pPlanes[i].uiCompCount;
    if (end > s.uiCompCount) end = s.uiCompCount;
    if (end > 64) end = 64;
    if (start >= end) return 0;
    const kz_uint64 upTo = end >= 64 ? ~0ull : (1ull << end) - 1;
    return upTo & ~((1ull << start) - 1);
}

unsigned SKzPicturePlanes::MaskedPlaneCount(SKzPicturePlanes& s, CKzRangeMask& m)
{
    kz_uint64 n = 0, start = 0;
    for (unsigned p = 0; p < PlaneCount(s); ++p) {
        const Selection sel = Classify(m, start, s.pPlanes[p].uiCompCount);
        n += sel.kind == Selection::kFull ? 1 : sel.partCount;
        start += s.pPlanes[p].uiCompCount;
    }
    return Clamp32(n);
}

unsigned SKzPicturePlanes::MaskedCompCount(SKzPicturePlanes& s, CKzRangeMask& m)
{
    kz_uint64 n = 0, start = 0;
    for (unsigned p = 0; p < PlaneCount(s); ++p) {
        const kz_uint32 count = s.pPlanes[p].uiCompCount;
        const Selection sel = Classify(m, start, count);
        n += sel.kind == Selection::kFull ? count : sel.partCount;
        start += count;
    }
    return Clamp32(n);
}

unsigned SKzPicturePlanes::MaskedSampleCount(SKzPicturePlanes& s, CKzRangeMask& m)
{
    const unsigned samples = SampleCount(s);
    if (samples == 0) return 0;
    std::vector<bool> used;
    try {
        used.assign(samples, false);
    } catch (...) {
        return 0;
    }
    unsigned n = 0;
    kz_uint64 start = 0;
    for (unsigned p = 0; p < PlaneCount(s); ++p) {
        const kz_uint32 count = s.pPlanes[p].uiCompCount;
        const kz_uint64 size = m.GetSize();
        // At least one selected component.
        bool any = false;
        if (count && start < size) any = m.Sum((unsigned)start, (unsigned)(size - start < count ? size - start : count)) != 0;
        start += count;
        const kz_uint32 d = s.pPlanes[p].uiSampleIndex;
        if (any && d < samples && !used[d]) {
            used[d] = true;
            ++n;
        }
    }
    return n;
}

unsigned SKzPicturePlanes::ExtractPlanes(SKzPicturePlanes& dst, SKzPicturePlanes& src, CKzRangeMask& m, bool redFirst)
{
    dst.uiCompCount = 0;
    const unsigned srcPlanes = PlaneCount(src), room = PlaneCount(dst);
    if (srcPlanes == 0 || room == 0) return 0;
    const unsigned srcSamples = SampleCount(src), dstSamples = SampleCount(dst);
    IndexMap newIndex;  // source sample index -> new index, by first use
    unsigned k = 0;
    kz_uint64 comps = 0, start = 0;
    static const unsigned forward[3] = {0, 1, 2}, backward[3] = {2, 1, 0};
    for (unsigned p = 0; p < srcPlanes && k < room; ++p) {
        const SKzPicturePlaneDesc& sp = src.pPlanes[p];
        const Selection sel = Classify(m, start, sp.uiCompCount);
        start += sp.uiCompCount;
        const unsigned first = k;
        if (sel.kind == Selection::kFull) {
            CopyDesc(dst.pPlanes[k++], sp);
            comps += sp.uiCompCount;
        } else if (sel.kind == Selection::kPart) {
            const unsigned* order = redFirst ? backward : forward;
            for (unsigned o = 0; o < 3 && k < room; ++o) {
                if (!(sel.parts & (1u << order[o]))) continue;
                MakeSplit(dst.pPlanes[k++], sp, order[o]);
                ++comps;
            }
        }
        if (k == first) continue;
        const kz_uint32 d = sp.uiSampleIndex;
        if (d >= srcSamples) continue;  // no sample setting: the copied index stays
        auto it = newIndex.find(d);
        if (it == newIndex.end()) {
            it = newIndex.emplace(d, (kz_uint32)newIndex.size()).first;
            if (it->second < dstSamples) CopySample(dst.pSamples[it->second], src.pSamples[d]);
        }
        const kz_uint32 index = it->second < dstSamples ? it->second : 0;
        for (unsigned q = first; q < k; ++q) dst.pPlanes[q].uiSampleIndex = index;
    }
    dst.uiCompCount = Clamp32(comps);
    return k;
}

namespace {

// One plane of a rebuilt set: a whole source plane, or one component of it.
struct Taken {
    unsigned plane;
    bool split;
    unsigned colour;  // colour and name index of a split plane (3: the source's own)
};

// Builds dst's arrays from the planes taken: copies, with the sample settings
// they use renumbered in order of first use. Nothing of dst is released
// until everything is built.
unsigned Rebuild(SKzPicturePlanes& dst, const SKzPicturePlanes& src, const std::vector<Taken>& taken,
                 bool withSamples)
{
    const unsigned n = (unsigned)taken.size();
    SKzPicturePlaneDesc* planes = NewPlanes(n);
    if (n && !planes) return PlaneCount(dst);
    IndexMap newIndex;
    std::vector<kz_uint32> oldOf;
    kz_uint64 comps = 0;
    for (unsigned k = 0; k < n; ++k) {
        const SKzPicturePlaneDesc& sp = src.pPlanes[taken[k].plane];
        if (taken[k].split)
            MakeSplit(planes[k], sp, taken[k].colour);
        else
            CopyDesc(planes[k], sp);
        comps += planes[k].uiCompCount;
        if (!withSamples) continue;
        auto it = newIndex.find(sp.uiSampleIndex);
        if (it == newIndex.end()) {
            it = newIndex.emplace(sp.uiSampleIndex, (kz_uint32)oldOf.size()).first;
            oldOf.push_back(sp.uiSampleIndex);
        }
        planes[k].uiSampleIndex = it->second;
    }
    if (withSamples) {
        SKzSampleSetting* samples = NewSamples((unsigned)oldOf.size());
        if (!oldOf.empty() && !samples) {
            SKzPicturePlaneDesc::FreeArray(planes);
            return PlaneCount(dst);
        }
        for (size_t q = 0; q < oldOf.size(); ++q)
            if (oldOf[q] < SampleCount(src)) CopySample(samples[q], src.pSamples[oldOf[q]]);
        ReplaceSamples(dst, samples, (unsigned)oldOf.size());
    }
    ReplacePlanes(dst, planes, n);
    if (withSamples) dst.uiCompCount = Clamp32(comps);
    return PlaneCount(dst);
}

} // namespace

unsigned SKzPicturePlanes::ExtractPlanesEx(SKzPicturePlanes& dst, SKzPicturePlanes& src, CKzRangeMask& m,
                                           bool redFirst)
{
    std::vector<Taken> taken;
    kz_uint64 start = 0;
    const kz_uint64 size = m.GetSize();
    try {
        for (unsigned p = 0; p < PlaneCount(src); ++p) {
            const kz_uint32 count = src.pPlanes[p].uiCompCount;
            const Selection sel = Classify(m, start, count);
            if (sel.kind == Selection::kFull) {
                taken.push_back({p, false, 3});
            } else if (sel.kind == Selection::kPart) {
                // Only members of the mask can be selected: the walk ends at its size.
                for (kz_uint64 j = 0; j < count && start + j < size; ++j) {
                    if (!m.Get((unsigned)(start + j))) continue;
                    unsigned colour = j < 3 ? (redFirst ? 2 - (unsigned)j : (unsigned)j) : 3;
                    taken.push_back({p, true, colour});
                }
            }
            start += count;
        }
    } catch (...) {
        return PlaneCount(dst);
    }
    return Rebuild(dst, src, taken, true);
}

int SKzPicturePlanes::ExtractReorderedPlanes(SKzPicturePlanes& dst, SKzPicturePlanes& src, const unsigned* order,
                                             bool split)
{
    if (!order) return KZ_ERR_FAILED;
    if (!split) {
        if (dst.uiCount != src.uiCount) return KZ_ERR_FAILED;
        const unsigned n = PlaneCount(src);
        if (n != src.uiCount || PlaneCount(dst) != n) return KZ_ERR_FAILED;
        for (unsigned j = 0; j < n; ++j)
            if (order[j] >= n) return KZ_ERR_FAILED;
        const unsigned samples = SampleCount(src);
        SKzSampleSetting* copies = NewSamples(samples);
        if (samples && !copies) return KZ_ERR_OUT_OF_MEMORY;
        SKzPicturePlaneDesc* planes = NewPlanes(n);
        if (n && !planes) {
            DeleteSamples(copies);
            return KZ_ERR_OUT_OF_MEMORY;
        }
        kz_uint64 comps = 0;
        for (unsigned j = 0; j < n; ++j) {
            CopyDesc(planes[j], src.pPlanes[order[j]]);
            comps += planes[j].uiCompCount;
        }
        for (unsigned q = 0; q < samples; ++q) CopySample(copies[q], src.pSamples[q]);
        ReplacePlanes(dst, planes, n);
        ReplaceSamples(dst, copies, samples);
        dst.uiCompCount = Clamp32(comps);
        return KZ_OK;
    }
    if (PlaneCount(src) != 1 || src.pPlanes[0].uiCompCount != 3) return KZ_ERR_FAILED;
    if (PlaneCount(dst) < 3 || SampleCount(dst) < 1) return KZ_ERR_FAILED;
    SKzPicturePlaneDesc plane;
    CopyDesc(plane, src.pPlanes[0]);
    for (unsigned j = 0; j < 3; ++j) MakeSplit(dst.pPlanes[j], plane, order[j] < 3 ? order[j] : 3);
    dst.uiCount = 3;
    dst.uiCompCount = 3;
    if (plane.uiSampleIndex < SampleCount(src)) {
        CopySample(dst.pSamples[0], src.pSamples[plane.uiSampleIndex]);
        for (unsigned j = 0; j < 3; ++j) dst.pPlanes[j].uiSampleIndex = 0;
    }
    return KZ_OK;
}

unsigned SKzPicturePlanes::ExpandRGBPlanes(SKzPicturePlanes& dst, SKzPicturePlanes& src, CKzRangeMask& m)
{
    std::vector<Taken> taken;
    kz_uint64 start = 0;
    try {
        for (unsigned p = 0; p < PlaneCount(src); ++p) {
            const kz_uint32 count = src.pPlanes[p].uiCompCount;
            if (count == 1) {
                taken.push_back({p, false, 3});
            } else if (count == 3) {
                bool any = false;
                for (unsigned k = 0; k < 3; ++k)
                    if (start + k < m.GetSize() && m.Get((unsigned)(start + k))) any = true;
                if (!any)
                    taken.push_back({p, false, 3});
                else
                    for (unsigned k = 0; k < 3; ++k) taken.push_back({p, true, k});
            }
            start += count;
        }
    } catch (...) {
        return PlaneCount(dst);
    }
    return Rebuild(dst, src, taken, false);
}
