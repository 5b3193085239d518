// Internal helpers of the plane-set operations: component selection of a
// plane, array building that never releases an array before its replacement
// exists, and the split planes of a colour plane.
#pragma once

#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_system/CKzRangeMask.h"

#include <climits>
#include <map>
#include <new>
#include <vector>

namespace kzplanes {

// Sample index -> new index. The comparator keeps the container's code out
// of the library's exported symbols.
struct __attribute__((visibility("hidden"))) IndexLess {
    bool operator()(kz_uint32 a, kz_uint32 b) const { return a < b; }
};
typedef std::map<kz_uint32, kz_uint32, IndexLess> IndexMap;

// How a component mask selects a plane.
struct Selection {
    enum Kind { kNone, kPart, kFull } kind;
    unsigned parts;      // bits 0..2: components 0, 1, 2 of the plane selected
    unsigned partCount;  // number of those bits
};

// Plane of `count` components from `start`: fully selected when every one of
// its components is a member (a plane without components has an empty range
// and counts as fully selected), not selected when none is.
Selection Classify(const CKzRangeMask& m, kz_uint64 start, kz_uint32 count);

inline kz_uint32 Clamp32(kz_uint64 v) { return v > UINT_MAX ? UINT_MAX : (kz_uint32)v; }

// Planes of a set (0 when the array is missing).
inline unsigned PlaneCount(const SKzPicturePlanes& s) { return s.pPlanes ? s.uiCount : 0; }
inline unsigned SampleCount(const SKzPicturePlanes& s) { return s.pSamples ? s.uiSampleCount : 0; }

// Arrays allocated the way the plane sets allocate and release them.
SKzSampleSetting* NewSamples(unsigned n);
void DeleteSamples(SKzSampleSetting* p);
SKzPicturePlaneDesc* NewPlanes(unsigned n);

// dst becomes a one-component copy of src with the colour and name of
// component k: 0 blue, 1 green, 2 red; any other k keeps src's.
void MakeSplit(SKzPicturePlaneDesc& dst, const SKzPicturePlaneDesc& src, unsigned k);

// Copies that accept const sources (the copy functions take them by reference).
inline void CopyDesc(SKzPicturePlaneDesc& dst, const SKzPicturePlaneDesc& src)
{
    SKzPicturePlaneDesc::Copy(dst, const_cast<SKzPicturePlaneDesc&>(src));
}
inline void CopySample(SKzSampleSetting& dst, const SKzSampleSetting& src)
{
    if (&dst != &src) SKzSampleSetting::Copy(dst, const_cast<SKzSampleSetting&>(src));
}

// Replaces s's plane array by p of n planes (the old one is released).
void ReplacePlanes(SKzPicturePlanes& s, SKzPicturePlaneDesc* p, unsigned n);
void ReplaceSamples(SKzPicturePlanes& s, SKzSampleSetting* p, unsigned n);

} // namespace kzplanes
