// Integer pictures: the shape record, the picture that owns one sample block,
// the 1-bit picture, and the static functions that shape, copy and combine
// them.
//
// Samples of a pixel are interleaved in component order; row r starts at
// pData + r * uiWidthBytes. A sample takes CalcCompSize(uiBpc) bytes (1 for
// 1..8 bits, 2 for 9..16, 4 for 17..32, 8 for 33..64) and holds its value in
// the low bits. Three-component true-colour pictures are blue, green, red.
#pragma once

#include "gnr_system/kz_base.h"

struct SKzLut;
struct SKzHisto;
struct SKzLutParam;
struct SKzFloatPicBuf;
class CKzLutParamMCH;
class CKzLutParamRGB;
class CKzLutParamSpectralTrueColor;
class CKzLutParamSpectralCustomColor;
class CKzLutParamSpectralGrouped;
class CKzRangeMask;

// Picture shape.
struct SKzPicBufDesc {
    u32 uiWidth;
    u32 uiHeight;
    u32 uiWidthBytes;  // row stride in bytes
    u8 uiBpc;          // significant bits per sample
    u32 uiComp;        // samples per pixel
};

// A picture: the shape, then the block it owns. uiSize is always
// uiHeight * uiWidthBytes. Copying the structure copies the pointer only.
struct SKzPicBuf : SKzPicBufDesc {
    u64 uiSize;
    u8* pData;
};

// 1-bit picture: pixel (x, y) is bit 7 - x % 8 of byte pData[y * uiWidthBytes + x / 8].
struct SKzBinPicBuf {
    u32 uiWidth;
    u32 uiHeight;
    u32 uiWidthBytes;
    u32 uiSize;
    u8* pData;
};

// The single-bit masks 0x80 .. 0x01, indexed by x % 8.
extern "C" KZ_EXPORT const unsigned char g_pucBits[8];

class KZ_EXPORT CKzPicBufAPI {
public:
    enum CheckOptions {
        eCheckSize = 0,
        eCheckSizeBpc = 1,
        eCheckSizeBpcComp = 2,
        eCheckSizeComp = 3,
        eCheckComp = 4,
        eCheckBpc = 5,
        eCheckBpcComp = 6,
    };

    // Every field zero; allocates nothing.
    static kz_result Init(SKzPicBuf* pic);
    // False for a null picture or an unknown option; else whether the fields
    // the option names are equal (the stride is never compared).
    static bool Check(const SKzPicBuf* a, const SKzPicBuf* b, CheckOptions option);
    // width * comps * CalcCompSize(bits) rounded up to a multiple of
    // alignment, computed in 64 bits; 0 when the result does not fit 32 bits
    // or the alignment is 0.
    static unsigned CalcWidthBytes(unsigned width, unsigned bits, unsigned comps, unsigned alignment);
    // Bytes of one sample: 0, 1, 2, 4 or 8 (0 for bits 0 and above 64).
    static unsigned CalcCompSize(unsigned bits);
    // New shape and a block of uiSize bytes (the old block resized, contents
    // kept up to the smaller size). Stride 0: the default stride with rows
    // aligned to 4 bytes. -4 (picture unchanged) for bits above 64 or a given
    // stride below the row's bytes; -3 with every field zeroed when no block
    // can be had, also for a shape of 0 bytes or a row that does not fit 32
    // bits.
    static kz_result Reinit(SKzPicBuf* pic, unsigned width, unsigned height, unsigned stride, unsigned bits,
                            unsigned comps, bool zero);
    // Releases the block; the shape stays. Safe on a null block.
    static kz_result Free(SKzPicBuf* pic);
    // 2^bits - 1 in 32 bits (shift count modulo 32).
    static unsigned GetBitMask(unsigned bits);

    // Samples between pictures of equal bits and components: one block copy
    // for equal shapes, else the top-left overlap row by row. -9 for other
    // bits or components or a missing block.
    static kz_result Copy(SKzPicBuf* dst, SKzPicBuf* src);
    // Reinit of dst to src's shape with the default stride, then Copy.
    static kz_result ReinitAndCopy(SKzPicBuf* dst, SKzPicBuf* src);
    // Pictures of equal bits and any component counts, over the overlap:
    // trailing components dropped, missing ones set to 0.
    static kz_result CopyComp(SKzPicBuf* dst, SKzPicBuf* src);
    // A rectangle of width x height pixels from (srcX, srcY) to (dstX, dstY).
    // -9 for other bits or components, -4 for a rectangle outside either
    // picture.
    static kz_result CopyRect(unsigned dstX, unsigned dstY, unsigned width, unsigned height, SKzPicBuf* dst,
                              unsigned srcX, unsigned srcY, SKzPicBuf* src);
    // Byte-wise AND / OR of the source block into the destination block; -4
    // unless width, height, stride and size are equal.
    static kz_result And(SKzPicBuf* dst, SKzPicBuf* src);
    static kz_result Or(SKzPicBuf* dst, SKzPicBuf* src);
    // Zero-fills the block.
    static kz_result Clear(SKzPicBuf* pic);
    // Paints a 1-bit picture of the same size: the value's low bytes (or the
    // pixel bytes the pointer names) where a bit is set, 0 elsewhere. -9 for
    // another size, a pixel wider than the value, or a bit block too small
    // for its shape.
    static kz_result Unpack(SKzPicBuf* dst, SKzBinPicBuf* bin, unsigned long value);
    static kz_result Unpack(SKzPicBuf* dst, SKzBinPicBuf* bin, void* pixel);

    // Colour spaces of 3-component pictures, blue-green-red on the one side
    // and intensity-saturation-hue or Y-Cr-Cb on the other, at 8 or 9..16
    // bits (the latter transformed at 16 bits). -9 for other shapes or
    // depths; the depth conversion's code when it fails.
    static kz_result ConvertRGBtoIHS(SKzPicBuf* dst, SKzPicBuf* src);
    static kz_result ConvertIHStoRGB(SKzPicBuf* dst, SKzPicBuf* src);
    static kz_result ConvertRGBtoYCrCb(SKzPicBuf* dst, SKzPicBuf* src);
    static kz_result ConvertYCrCbtoRGB(SKzPicBuf* dst, SKzPicBuf* src);

    // --- Display -------------------------------------------------------------
    // An 8-bit 3-component destination gets the true-colour rendering; equal
    // shapes with a one-input LUT of the pictures' bits get the LUT applied; a
    // one-component source is mapped into the destination's components.
    // -4 for a null picture, different sizes or a missing LUT; -2 otherwise.
    static kz_result ApplyLuts(SKzPicBuf* dst, SKzPicBuf* src, SKzLut* lut);
    // The whole source resampled into the whole destination (mode as
    // CKzPicMemAPI::EKzPicStretchMode); -9 for other bits or components.
    static kz_result Stretch(SKzPicBuf* dst, SKzPicBuf* src, unsigned mode);

    // --- Arithmetic ----------------------------------------------------------
    // New depth (scaled by shifting) and component count (a single component
    // copied into every component, or the plain mean of several copied into
    // each). -2 for counts neither side of which is 1 or 3, for 3 or more
    // components into more, and for depths other than 8 and 9..16; -3 when the
    // result cannot be allocated. On failure the picture is unchanged.
    static kz_result ConvertBpcAndComp(SKzPicBuf* pic, unsigned bits, unsigned comps);
    // Every pixel set to the values (one per component, cut to the sample
    // type); -2 for depths other than 8 and 9..16.
    static kz_result AssignConst(SKzPicBuf* pic, unsigned* values);
    // One constant per component; dst and src may be the same picture. -9 for
    // pictures of different shape; otherwise the dispatch's code.
    static kz_result AddConst(SKzPicBuf* dst, SKzPicBuf* src, int* c);
    static kz_result AddConstRotate(SKzPicBuf* dst, SKzPicBuf* src, int* c);
    static kz_result SubConst(SKzPicBuf* dst, SKzPicBuf* src, int* c);
    static kz_result MinConst(SKzPicBuf* dst, SKzPicBuf* src, unsigned* c);
    static kz_result MaxConst(SKzPicBuf* dst, SKzPicBuf* src, unsigned* c);
    static kz_result MultConst(SKzPicBuf* dst, SKzPicBuf* src, double* c);
    static kz_result DivConst(SKzPicBuf* dst, SKzPicBuf* src, double* c);
    // Sample by sample over the overlap of the three pictures, the sources of
    // equal bits; results rescaled between 8 and 9..16 bits and clamped to the
    // destination's range. -9 for null pictures, different source bits or
    // depths below 8; -2 above 16.
    static kz_result MinComp(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b);
    static kz_result MaxComp(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b);
    static kz_result AbsDif(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b);
    static kz_result Addition(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b);
    // a - b (b - a with reverse), 0 where negative.
    static kz_result Subtract(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b, int reverse);
    // About (a percent + b (100 - percent)) / 100; -4 for a percent outside
    // 0..100; the three pictures of equal bits and components.
    static kz_result WeightedAddition(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b, int percent);
    // Masked forms: 8-bit masks (null: set everywhere) that cover the overlap
    // (else -9); both set: the operation, only maskB: b, otherwise a.
    static kz_result AbsDif(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* maskA, SKzPicBuf* b, SKzPicBuf* maskB);
    static kz_result WeightedAddition(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* maskA, SKzPicBuf* b,
                                      SKzPicBuf* maskB, int percent);

    // --- Integer filters (each picture through its own stride) -----------------
    // Box mean over size x size (windows clipped to the picture). size <= 1 or
    // other shapes: -9; more than 16 bits: -2.
    static kz_result SmoothSquare(SKzPicBuf* dst, SKzPicBuf* src, int size);
    // Local contrast around the running envelopes; size limited to 2..the
    // smaller side - 1 (even) and written back. Three components: on the
    // intensity only. Pictures above 16 bits: 0, nothing done; -3 when a
    // temporary cannot be had (destination unchanged).
    static kz_result LocalContrast_Tailed(SKzPicBuf* dst, SKzPicBuf* src, int& size, double factor, bool smooth);
    // The same in overlapping tiles of at most 1000 pixels a side.
    static kz_result LocalContrast(SKzPicBuf* dst, SKzPicBuf* src, int& size, double factor, bool smooth);
    // count components from `first`, each with its own size, factor and
    // smoothing; -9 for a range outside the picture.
    static kz_result LocalContrastComp_Tailed(SKzPicBuf* dst, SKzPicBuf* src, unsigned first, unsigned count,
                                              int* sizes, double* factors, bool* smooth);
    static void GetImmerkaerNoiseEstimation(SKzPicBuf* pic, double* sigma);
    // Denoising of every component (or of the luminance-chroma form of a
    // colour picture); src is never modified. The one-component denoiser is
    // not built: -2 with dst a copy of src.
    static kz_result AdiffDenoise(SKzPicBuf* dst, SKzPicBuf* src, double, double, unsigned, unsigned);
    static kz_result AdiffDenoise_RGB(SKzPicBuf* dst, SKzPicBuf* src, double, double, unsigned, unsigned);

    // Display LUTs (bits in, 8-bit blue, green, red out) from LUT parameters:
    // a tone curve per component, coloured by the component colours (null:
    // white), a predefined palette (a gradient naming a registry entry) or
    // the RGB channel colours. -9 for null required pointers, depths outside
    // 8..16 (0 or above 16 for the older parameters, before the LUT is
    // touched) or per-channel counts that do not add up; -3 when a
    // temporary tone LUT cannot be allocated; else the builders' codes.
    static int CreateLutsMCH(SKzLut* lut, CKzLutParamMCH* param, unsigned* colours);
    static int CreateLutsMCH(SKzLut* lut, SKzLutParam* param, unsigned bits, unsigned comps, unsigned* colours,
                             bool spectral, bool keepMask, SKzLut* source);
    static int CreateLutsMono(SKzLut* lut, SKzLutParam* param, unsigned bits, unsigned* colour, SKzLut* source);
    // Bit i of visibleMask (bits 0 to 2) shows component i.
    static int CreateLutsRGB(SKzLut* lut, CKzLutParamRGB* param, unsigned visibleMask, bool channelColours);
    static int CreateLutsRGB(SKzLut* lut, SKzLutParam* param, unsigned bits, SKzLut* source, CKzRangeMask* visible,
                             bool channelColours);
    // The newer parameter classes from the older parameters; the code of
    // their Reinit.
    static int ConvertOldLutParamToLutParamMCH(CKzLutParamMCH* dst, SKzLutParam* src, unsigned channels,
                                               unsigned comps, unsigned* compSizes, unsigned bits);
    static int ConvertOldLutParamToLutParamRGB(CKzLutParamRGB* dst, SKzLutParam* src, unsigned bits);

    // Spectral LUT blocks: a fresh parametric block (offset negated, gain,
    // gamma, colour per component) in a LUT of the parameters' shape; the
    // spectral gains are divided by norm (> 0). -9 for null pointers, more
    // than 192 components, a norm that is not positive, or group sizes that
    // are missing, 0 or larger than the spectral components together.
    static int CreateLutsSpectralTrueColor(SKzLut* lut, CKzLutParamSpectralTrueColor* param, unsigned* colours,
                                           double norm);
    static int CreateLutsSpectralCustomColor(SKzLut* lut, CKzLutParamSpectralCustomColor* param, double norm);
    static int CreateLutsSpectralGrouped(SKzLut* lut, CKzLutParamSpectralGrouped* param, double norm);
    // From the older parameters: only the parametric block and the palette
    // index are written (the LUT's table, when it has one, must have comps
    // inputs).
    static int CreateLutsSpectral(SKzLut* lut, SKzLutParam* param, unsigned* colours, unsigned spectralComps,
                                  unsigned comps, double norm);
    static int ConvertOldLutParamToLutSpectralTrueColor(CKzLutParamSpectralTrueColor* dst, SKzLutParam* src,
                                                        unsigned spectral, unsigned channels, unsigned comps,
                                                        unsigned* compSizes, unsigned bits);
    static int ConvertOldLutParamToLutSpectralCustomColor(CKzLutParamSpectralCustomColor* dst, SKzLutParam* src,
                                                          unsigned spectral, unsigned channels, unsigned comps,
                                                          unsigned* compSizes, unsigned bits);
    static int ConvertOldLutParamToLutSpectralGrouped(CKzLutParamSpectralGrouped* dst, SKzLutParam* src,
                                                      unsigned spectral, unsigned channels, unsigned comps,
                                                      unsigned* compSizes, unsigned bits);
    // Visibility between components and spectral groups (colour modes 1 and
    // 2 only, else -9 and dst unchanged).
    static int ComponentMaskToSpectralGroupMask(CKzRangeMask& dst, const CKzRangeMask& src, SKzLutParam& param,
                                                unsigned comps);
    static int SpectralGroupMaskToComponentMask(CKzRangeMask& dst, const CKzRangeMask& src, SKzLutParam& param,
                                                unsigned comps);

    // Auto-contrast. Percentages are in percent of the pixel count (row 0's
    // total); a cut asks for at least one pixel. The range search over rows
    // firstRow .. endRow - 1 finds the low cut from bin 0 up and the high cut
    // from the top down (several rows: the first row to reach the count),
    // and the middle between them; low >= high becomes high - 1 .. high, or
    // the full range. -9 for a null histogram or both low and high null, or
    // rows out of range.
    static int GetHistoRange(SKzHisto* histo, unsigned firstRow, unsigned endRow, unsigned* low, unsigned* high,
                             unsigned* middle, double lowPercent, double highPercent, unsigned* lowRow,
                             unsigned* highRow);
    static int GetHistoRange(SKzHisto* histo, unsigned firstRow, unsigned endRow, unsigned* low, unsigned* high,
                             unsigned* middle, double percent, unsigned* lowRow, unsigned* highRow);
    // Per-component cuts of a picture (a fresh histogram); -4 for a null
    // picture, one without pixels or components, or both outputs null; -2
    // above 16 bits.
    static int FindLowHighInHistogram(SKzPicBuf* pic, unsigned* lows, unsigned* highs, double lowPercent,
                                      double highPercent);
    // Cuts into the older parameters, or (param null) linear contrast LUTs
    // of one input and one output per component. -9 for a picture without
    // pixels, -2 above 16 bits.
    static int GetAutoContrast(SKzLutParam* param, SKzLut* lut, SKzPicBuf* pic, double lowPercent,
                               double highPercent, bool combined, bool fullRange);
    // Global (AutoContrast) or per-component range and gamma of the older
    // parameters from a histogram; gammas from the middle level within
    // [0.5, 2]. The unnamed double is not read.
    static int AutoContrast(SKzLutParam* param, SKzHisto* histo, unsigned* lows, bool autoLow, bool autoHigh,
                            bool autoGamma, double, double lowPercent, double highPercent);
    static int AutoOneCompContrast(SKzLutParam* param, unsigned firstComp, unsigned endComp, SKzHisto* histo,
                                   bool autoLow, bool autoHigh, bool autoGamma, double lowPercent,
                                   double highPercent);
    static int AutoOneCompContrast(SKzLutParam* param, unsigned firstComp, unsigned endComp, SKzHisto* histo,
                                   unsigned* lows, bool autoLow, bool autoHigh, bool autoGamma, double lowPercent,
                                   double highPercent);
    // Channel ranges of the parameter classes from a histogram (all of a
    // channel's rows together; RGB: rows 0 to 2 for all three channels).
    static int GetAutoContrastMCH(CKzLutParamMCH* param, SKzHisto* histo, bool autoLow, bool autoHigh,
                                  double lowPercent, double highPercent);
    static int GetAutoContrastRGB(CKzLutParamRGB* param, SKzHisto* histo, bool autoLow, bool autoHigh,
                                  double lowPercent, double highPercent);

    // dst = src through a tone curve from x0 to x1 onto 0 .. 2^bits - 1:
    // type 0 linear, 1 histogram equalisation, 2 logarithmic, 3 exponential
    // (one component only), 4 gamma, 5 gamma with the outside at 0. -9 for
    // pictures of different shapes, without pixels or with blocks shorter
    // than their shapes; -2 (dst unchanged) above 16 bits or for another
    // type; else the code of applying the LUT.
    static int Contrast(SKzPicBuf* dst, SKzPicBuf* src, int type, int x0, int x1, double gamma);

    // Offsets and gains of the spectral parameter classes: the ordinary
    // channels from the picture's histogram, the spectral slots so that the
    // brightest rendered channel reaches 255 (gain 50 for a black
    // rendering). -9 when bits or component count differ from the picture's
    // or a required pointer is null; -2 above 16 bits.
    static int GetAutoContrastSpectralTrueColor(CKzLutParamSpectralTrueColor* param, unsigned* colours,
                                                SKzPicBuf* pic, bool autoLow, bool autoHigh, double lowPercent,
                                                double highPercent);
    static int GetAutoContrastSpectralCustomColor(CKzLutParamSpectralCustomColor* param, SKzPicBuf* pic,
                                                  bool autoLow, bool autoHigh, double lowPercent, double highPercent);
    static int GetAutoContrastSpectralGrouped(CKzLutParamSpectralGrouped* param, SKzPicBuf* pic, bool autoLow,
                                              bool autoHigh, double lowPercent, double highPercent);
    // Offsets and gains of the older parameters' spectral data (and, with a
    // histogram, the ranges of the ordinary components) for the visible
    // spectral components of a picture; group -1 measures every visible
    // group of a grouped set alone, group g >= 0 only group g. colours holds
    // one colour per picture component. -9 for a null picture or colours, a
    // picture of no or more than 192 components or fewer than the spectral
    // data's; -2 above 16 bits; else the measurement's code. The float form
    // measures between the picture's value range and also writes offsets
    // (the largest low of the rendering).
    static int GetLutParamSpectAutocontrast(SKzLutParam& param, SKzPicBuf* pic, CKzRangeMask& visible, int group,
                                            unsigned* colours, SKzHisto* histo, bool autoLow, bool autoHigh,
                                            double lowPercent, double highPercent);
    static int GetLutParamSpectAutocontrast(SKzLutParam& param, SKzFloatPicBuf* pic, CKzRangeMask& visible,
                                            int group, unsigned* colours, SKzHisto* histo, bool autoLow,
                                            bool autoHigh, double lowPercent, double highPercent);
};

// Arc-cosine table of 10001 doubles, entry i = acos(i * 0.0002 - 1), that a
// host may set once before converting to intensity-saturation-hue; while it
// is null the conversions use a table of their own. Never written by the
// library.
KZ_EXPORT extern double* g_AcosLUTs;
// A new table for g_AcosLUTs (80008 bytes from CKzAlloc, owned by the
// caller); null when it cannot be allocated.
KZ_EXPORT double* CreateAcosLUTs();
