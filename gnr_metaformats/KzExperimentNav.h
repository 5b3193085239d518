// Internal helpers of the experiment tree queries: saturating 64-bit
// arithmetic, walk limits and shared selections.
#pragma once

#include "gnr_metaformats/SKzExperiment.h"

#include <string>

namespace kzexp {

typedef kz_uint64 u64;
typedef kz_uint32 u32;

// Frame counts saturate here.
const u64 kFrameCap = 0xFFFFFFFFull;
// Recursions over a tree stop this deep; paths end after this many levels.
const int kMaxTreeDepth = 1024;
const int kMaxPathLength = 1024;

inline u64 SatU32(u64 a) { return a > kFrameCap ? kFrameCap : a; }
// Sums and products of values kept at or below kFrameCap never overflow.
inline u64 SatAdd(u64 a, u64 b) { return SatU32(SatU32(a) + SatU32(b)); }
inline u64 SatMul(u64 a, u64 b) { return SatU32(SatU32(a) * SatU32(b)); }

// Home-based Z-stack modes (2, 3, 6, 7) count the home from one end of the
// range: false for the other modes.
inline bool ZHomeEnd(const SKzExperiment::SKzExpZStackLoop& l, double& end)
{
    switch (l.iType) {
    case 2:
    case 3:
        end = l.bZInverted ? l.dZHigh : l.dZLow;
        return true;
    case 6:
    case 7:
        end = l.bZInverted ? l.dZLow : l.dZHigh;
        return true;
    default:
        return false;
    }
}

// The child a spectral level continues with: the first with the largest
// uiCount among those serving its valid channels (item 0 without any).
const SKzExperiment* SpectralChild(const SKzExperiment& lv);

// Frames of a tree, saturated at kFrameCap.
u64 FrameCount(const SKzExperiment* tree);
// Frames of a tree counting only its first `levels` levels: each item of the
// last level counted stands for one frame (0 levels: 1).
u64 FrameCount(const SKzExperiment* tree, u64 levels);

// Channel identity: name, optical-configuration name (key 0), colour.
struct SpectKey {
    std::wstring name, oc;
    u32 colour;
    bool operator==(const SpectKey& o) const { return colour == o.colour && name == o.name && oc == o.oc; }
};
SpectKey SpectChannelKey(const SKzPicturePlanes& set, u32 plane);
// Channels of a spectral level usable for matching: the loop's count bounded
// by the set's planes; 0 for anything else.
u32 SpectChannels(const SKzExperiment* level);
// A channel's item flag (flags are read only below the item count).
bool SpectValid(const SKzExperiment& level, u32 channel);

} // namespace kzexp
