// Look-up table of the picture library: a table from input sample values to
// output samples, plus what the display kernels read beside it (visible
// components, exposure marker colours, per-component spectral parameters and
// a predefined palette index).
//
// Table layouts (n = 2^uiInBpc, b = (uiOutBpc + 7) / 8 bytes per sample,
// e = uiOutComp * b bytes per entry):
//  - flat (1 in, 1 out): pLut is one block of n samples;
//  - row pointers (1 in, N out): pLut is an array of n pointers; pointer 0
//    is the start of one block of n * e bytes, pointer v = block + v * e;
//  - per component (M in): pLut is an array of M pointers into one array of
//    M * n row pointers over one block of M * n * e bytes; component k's rows
//    start at byte k * n * e;
//  - shared per component (CustomSpectralLutAlloc, M in): the M component
//    pointers all name one array of n row pointers over one n * e block.
// Every table is one contiguous block behind its pointers.
//
// The structure owns nothing by itself: its destructor releases only the
// mask; the table, the exposure records and the parametric block go with
// Free, which every holder calls before the structure goes. Copying the
// structure by value copies the pointers.
#pragma once

#include "gnr_picture/KzKernelCommon.h"
#include "gnr_system/CKzRangeMask.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/kz_base.h"

#include <vector>

// Spectral rendering parameters of one input component.
struct SKzLutParametric {
    double dOffset;
    double dGain;
    double dGamma;
    u32 uiColor;  // 0x00BBGGRR
};

struct SKzHisto;

struct KZ_EXPORT SKzLut {
    void* pLut;
    u8 uiInBpc;
    u8 uiInComp;
    u8 uiOutBpc;
    u8 uiOutComp;
    CKzRangeMask maskComp;
    // Exposure marker records. Each is an 8-byte block: four bytes blue,
    // green, red, flag for outputs of up to 8 bits, four 16-bit words for 9
    // to 16 bits; the marking kernels read the first four bytes.
    SKzLutExpColor* pOverExpColor;
    SKzLutExpColor* pUnderExpColor;
    SKzLutParametric* pParametric;
    i32 iPredefLut;

    // Bytes of one exposure record.
    static constexpr size_t kExpColorBytes = 8;

    // Predefined palettes: tables of 256 red, green, blue triples (768 bytes).
    enum EKzPredefLut : i32 {
        ePredefLutDefault = 0,
        ePredefLutRainbow,
        ePredefLutIron,
        ePredefLutGreenFire,
        ePredefLutGreenFireBlue,
        ePredefLutRedFire,
        ePredefLutRedHot,
        ePredefLutMagentaHot,
        ePredefLutBrown,
        ePredefLutLemonHot,
        ePredefLutYellowPale,
        ePredefLutRainbowContrast,
        ePredefLutRainbowDark,
    };
    struct SKzPredefLut {
        CKzStringW wsName;
        EKzPredefLut eId;
        u8* pTable;
    };
    // The process-wide palette registry, entry i with eId i. Empty until the
    // host's first InitPredefLuts; until then no index names a palette.
    static std::vector<SKzPredefLut*> vecPredefLuts;

    // Fills the registry once (thread-safe); later calls change nothing. 0;
    // -3 when memory runs out (the registry stays empty, a later call retries).
    static kz_result InitPredefLuts();
    // Registry entries: 0 before InitPredefLuts, then 13.
    static u32 GetPredefLutsCount();
    // The display name of registry entry index; -6 beyond the registry (the
    // name unchanged).
    static kz_result GetPredefLutDescr(CKzStringW& name, u32 index);
    // Fill an 8-bit, 1-input, 3-output colour LUT from a palette (entries
    // blue, green, red). -4 for another shape, -6 for an index beyond the
    // registry, -9 for an entry without table or (Ex) no entry with that id.
    static kz_result CreatePredefLut(SKzLut& lut, u32 index);
    static kz_result CreatePredefLutEx(SKzLut& lut, EKzPredefLut id);
    // Copies 768 bytes into the settable palette Custom_Luts.
    static void SetCustomLut(const u8* table);

    // Tone curves over the window x0..x1 (outputs y0 and y1 at its ends),
    // written into an allocated LUT: flat, row-pointer (comp below the output
    // count fills that column, any other comp every column) and, for
    // CreateGammaTable, per-component with one output (comp 255 fills every
    // input component). -4 for x0 >= x1, another layout or comp, input bits
    // 0 or above 16, output bits 0 or above 16; nothing is written then.
    static kz_result CreateLinearTable(SKzLut& lut, u8 comp, i32 x0, i32 y0, i32 x1, i32 y1);
    static kz_result CreateLinearTable2(SKzLut& lut, u8 comp, i32 x0, i32 y0, i32 x1, i32 y1);
    static kz_result CreateGammaTable(SKzLut& lut, u8 comp, i32 x0, i32 y0, i32 x1, i32 y1, double gamma);
    static kz_result CreateGammaTable2(SKzLut& lut, u8 comp, i32 x0, i32 y0, i32 x1, i32 y1, double gamma);
    // Flat LUTs only (comp is ignored).
    static kz_result CreateLogaritmicTable_1_1(SKzLut& lut, u8 comp, i32 x0, i32 y0, i32 x1, i32 y1);
    static kz_result CreateExpTable_1_1(SKzLut& lut, u8 comp, i32 x0, i32 y0, i32 x1, i32 y1);
    // Histogram equalisation; input, output and histogram depths equal. A
    // histogram without counts gives the identity table.
    static kz_result CreateEqualizingTable_1_1(SKzLut& lut, u8 comp, const SKzHisto* histogram);

    // Colour LUTs (entries blue, green, red; colours 0x00BBGGRR) shaped by an
    // optional tone LUT (source) of the same input depth.
    static kz_result CreateColorTable(SKzLut& lut, u32 colour);
    static kz_result CreateColorTableEx(SKzLut& lut, u32 colour, SKzLut* source, bool over, u32 overColour,
                                        bool under, u32 underColour);
    static kz_result CreateMultiColorTable(SKzLut& lut, u32* colours, u8 count);
    static kz_result CreateMultiColorTableEx(SKzLut& lut, u32* colours, u8 count, SKzLut* source, bool over,
                                             u32 overColour, bool under, u32 underColour);
    // A predefined palette sampled through a flat tone LUT (8-bit outputs).
    // The windowed form is grey outside low..high and stretches min..max of
    // the palette over the tone inside it.
    static kz_result CreateRainbowLUTTable(SKzLut& lut, SKzLut& source, int palette);
    static kz_result CreateRainbowLUTTable2(SKzLut& lut, SKzLut& source, int palette, u32 low, u32 high, u32 min,
                                            u32 max);
    // The same into one / every input component of a per-component colour LUT.
    static kz_result CreateRainbowLUTTableSpect_1Channel(SKzLut& lut, u32 comp, SKzLut& source, int palette);
    static kz_result CreateRainbowLUTTableSpect_SameChannels(SKzLut& lut, SKzLut& source, int palette);
    // Exposure marker records from a colour (null or 0 clears) or from a
    // ready record of the given output depth (null or all-zero clears).
    static kz_result SetOverExpColor(SKzLut& lut, u32* colour);
    static kz_result SetUnderExpColor(SKzLut& lut, u32* colour);
    static kz_result SetOverExpColorArr(SKzLut& lut, void* record, u32 bits);
    static kz_result SetUnderExpColorArr(SKzLut& lut, void* record, u32 bits);
    // lut = colourLut applied after toneLut (mask and exposure records from
    // colourLut). -4 for mismatched shapes, -2 above 16 output bits.
    static kz_result CreateComposedTable(SKzLut& lut, SKzLut& colourLut, SKzLut& toneLut);

    SKzLut();

    // Stores the counts, nulls the exposure and parametric pointers (without
    // releasing them), makes the mask the full mask and allocates a
    // zero-filled table in the layout the counts select. 0; -9 for a zero
    // component count; -4 for input bits above 16 or output bits above 32;
    // -3 when memory runs out (no table then).
    static kz_result Alloc(SKzLut& lut, u8 inBits, u8 inComps, u8 outBits, u8 outComps);
    static kz_result AllocSingle(SKzLut& lut, u8 inBits, u8 outBits);
    static kz_result AllocColor(SKzLut& lut, u8 inBits, u8 outBits);
    // The shared per-component layout (one table for every input component);
    // keeps the mask, and the parametric block unless the input component
    // count changes. One input component gives Alloc's layout.
    static kz_result CustomSpectralLutAlloc(SKzLut& lut, u8 inBits, u8 inComps, u8 outBits, u8 outComps);
    // Releases the table, the exposure records and the parametric block; the
    // counts, mask and palette index stay. Safe to call twice.
    static void Free(SKzLut& lut);
    // A new, uninitialised parametric block of uiInComp records; -3 when it
    // cannot be allocated (the pointer is then null).
    static kz_result ReinitParametric(SKzLut& lut);
    static void FreeParametric(SKzLut& lut);
    // Keep the LUT when it already has this shape (not shared / shared),
    // else Free and allocate it anew.
    static kz_result check_luts(SKzLut& lut, u8 inBits, u8 inComps, u8 outBits, u8 outComps);
    static kz_result check_luts_spectral_ex(SKzLut& lut, u8 inBits, u8 inComps, u8 outBits, u8 outComps);
    // Table contents, mask and parametric block from src into dst. The table
    // is copied only between LUTs of equal counts whose destination block is
    // at least the source's; otherwise nothing changes.
    static void Copy(SKzLut& dst, const SKzLut& src);

    // True for the shared per-component layout.
    static bool IsShared(const SKzLut& lut);
    // Bytes of the table's sample block (0 without a table).
    static size_t TableBlockBytes(const SKzLut& lut);
};
