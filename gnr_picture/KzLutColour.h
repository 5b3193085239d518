// Library-internal colour helpers of the LUT builders.
#pragma once

#include "gnr_system/kz_base.h"

// Colour between a (weight 0) and b (weight 65536, clamped) in hue,
// saturation and intensity, brightest channel stretched to 255. Hues more
// than half a turn apart go the short way round. Colours are 0x00BBGGRR.
u32 InterpolateColorHSI8(u32 colourA, u32 colourB, int weight);
