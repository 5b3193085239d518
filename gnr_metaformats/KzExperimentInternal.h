// Internal helpers of the experiment levels: arrays, per-period child lists
// and the channel-set parts of a spectral loop.
#pragma once

#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/KzExperimentCommon.h"
#include "gnr_metaformats/SKzPicturePlaneDesc.h"

#include <new>

namespace kzexp {

typedef SKzExperiment::SKzExpAutoFocus AutoFocus;
typedef SKzExperiment::SKzExpTimeLoop TimeLoop;
typedef SKzExperiment::SKzExpNETimeLoop NETimeLoop;
typedef SKzExperiment::SKzExpXYPosLoop XYPosLoop;
typedef SKzExperiment::SKzExpXYDiscrLoop XYDiscrLoop;
typedef SKzExperiment::SKzExpZStackLoop ZStackLoop;
typedef SKzExperiment::SKzExpPolarLoop PolarLoop;
typedef SKzExperiment::SKzExpSpectLoop SpectLoop;
typedef SKzExperiment::SKzExpCustomLoop CustomLoop;
typedef SKzExperiment::SKzLIDesc LIDesc;
typedef NETimeLoop::SKzSubLoopsDefinition SubLoops;

// A value-initialised (zeroed) array of n elements; null for 0 or when
// memory runs out.
template <class T>
T* NewArray(u64 n)
{
    if (n == 0 || n > (u64)0x7FFFFFFFFFFFFFFF / sizeof(T)) return nullptr;
    return new (std::nothrow) T[(size_t)n]();
}

// A zero-filled child pointer array (CKzAlloc block); null for 0.
SKzExperiment** NewChildArray(u64 n);

// The arrays a loader creates for stored loop counts. A loop keeps its stored
// count and gets that many entries, zeros where elements are missing; a count
// whose arrays would pass kMaxLoadArrayBytes (2^24 doubles) is no acquisition
// but a damaged level, refused before anything is allocated. The bound holds
// for all arrays one load of a tree creates together, so that many levels
// cannot add up to more; no plausible experiment comes near it.
const u64 kMaxLoadArrayBytes = (u64)1 << 27;
// Bytes of one item of each loop with per-item arrays.
const u64 kXYPosItemBytes = 4 * sizeof(double) + sizeof(CKzStringW);
const u64 kXYDiscrItemBytes = 2 * sizeof(kz_uint32) + sizeof(double);
const u64 kPeriodItemBytes = sizeof(TimeLoop) + 2 * sizeof(CKzStringW) + sizeof(bool) + sizeof(SubLoops);
const u64 kChannelItemBytes =
    sizeof(SKzPicturePlaneDesc) + sizeof(AutoFocus) + 2 * sizeof(CKzStringW) + sizeof(kz_int32);

struct LoadBudget {
    u64 left = kMaxLoadArrayBytes;
    u32 refused = 0;   // levels refused as damaged
    // True when `count` items of `itemBytes` each fit; otherwise the level is
    // counted as damaged and nothing may be allocated for it.
    bool Take(u64 count, u64 itemBytes)
    {
        if (count > left / itemBytes) {
            ++refused;
            return false;
        }
        left -= count * itemBytes;
        return true;
    }
};

// The per-item arrays of the position loops. New gives a loop holding no
// arrays n zeroed entries in each; when one of them cannot be created none is
// kept (all null) and the result is false. Free releases them, leaving null.
// Neither touches uiCount.
bool NewItemArrays(XYPosLoop& l, u64 n);
void FreeItemArrays(XYPosLoop& l);
bool NewItemArrays(XYDiscrLoop& l, u64 n);
void FreeItemArrays(XYDiscrLoop& l);

// A cleared period record.
void ClearPeriod(TimeLoop& p);

// Destroys the per-period child levels of a non-equidistant time loop with
// their pointer arrays and releases pSubLoops.
void FreeSubLoops(NETimeLoop& l);

// Channel-set parts of a spectral loop.
// Init: an empty channel set; with count > 0 count planes with `samples`
// sample settings and the per-channel arrays. 0; -3 when an array other than
// the channel set cannot be created.
int SpectInit(SpectLoop& l, u32 count, u32 samples);
// Releases the channel set and the per-channel arrays; count 0.
void SpectUninit(SpectLoop& l);
// One-level copy into a loop holding nothing. 0; -3.
int SpectCopy(SpectLoop& dst, const SpectLoop& src);
// "uLoopPars" records of a spectral loop.
void SpectWrite(CKzLiteVariantW& w, const SpectLoop& l);
void SpectRead(CKzLiteVariantR& r, SpectLoop& l, LoadBudget& budget);

} // namespace kzexp
