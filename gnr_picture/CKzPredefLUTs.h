// Predefined false-colour palettes: the exported palette tables (256 red,
// green, blue triples each) and the look-ups that sample a palette by its
// registry index. The registry itself is SKzLut::vecPredefLuts, filled once by
// SKzLut::InitPredefLuts.
//
// An index outside the registry (every index before InitPredefLuts) names a
// palette without table: look-ups then act as a grey ramp.
#pragma once

#include "gnr_picture/SKzLut.h"
#include "gnr_system/kz_base.h"

// Bytes of one palette table.
inline constexpr size_t kKzPaletteBytes = 768;

// The settable palette (starts as the grey ramp; not in the registry).
KZ_EXPORT extern u8 Custom_Luts[768];
// The registered palettes. They are writable: the registry points at them.
KZ_EXPORT extern u8 CA_RainbowContrast_Luts[768];
KZ_EXPORT extern u8 RedHot_Luts[768];
KZ_EXPORT extern u8 YellowPale_Luts[768];
KZ_EXPORT extern u8 MagentaHot_Luts[768];
KZ_EXPORT extern u8 GreenFireBlue_Luts[768];
KZ_EXPORT extern u8 RedFire_Luts[768];
KZ_EXPORT extern u8 GreenFire_Luts[768];
KZ_EXPORT extern u8 LemonHot_Luts[768];
KZ_EXPORT extern u8 Brown_Luts[768];
KZ_EXPORT extern u8 CA_Iron_Luts[768];
KZ_EXPORT extern u8 CA_Rainbow_Luts[768];

class KZ_EXPORT CKzPredefLUTs {
public:
    CKzPredefLUTs() {}

    // Copy 768 bytes into / out of Custom_Luts. Null pointers are ignored.
    static void SetCustomLUTs(const u8* table);
    static void GetCustomLUTs(u8* table);

    // Component comp (0 red, 1 green, 2 blue; clamped to 2) of palette entry
    // `entry` (clamped to 255) of registry palette n.
    static u32 GetLUTEntryComp(int n, u32 entry, u32 comp);
    // The colour of palette n at `value` of a range of `range` values (entry
    // value * 256 / range, clamped to 255; range 0 uses entry 0), packed as
    // red << 16 | green << 8 | blue.
    static u32 GetLUTEntry(int n, u32 value, u32 range);
    // The same colour with each channel scaled to max (channel * max / 256):
    // blue in bits 0-15, green 16-31, red 32-47, the words of a 16-bit colour
    // LUT entry. max 256 gives the packed form above.
    static u64 GetLUTEntry(int n, u32 value, u32 range, u32 max);

    // A palette sampled through a flat tone LUT into a 1-input colour LUT of
    // 8 or 9 to 16 output bits (see SKzLut::CreateRainbowLUTTable); other
    // shapes are left alone.
    static void CreatePredefLUTTable(SKzLut& lut, SKzLut& source, int palette);
    static void CreatePredefLUTTable2(SKzLut& lut, SKzLut& source, int palette, u32 low, u32 high, u32 min, u32 max);
};
