// Internal helpers of the experiment levels: arrays, per-period child lists
// and the channel-set parts of a spectral loop.
#pragma once

#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/KzExperimentCommon.h"

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
void SpectRead(CKzLiteVariantR& r, SpectLoop& l);

} // namespace kzexp
