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
};

// Arc-cosine table of 10001 doubles, entry i = acos(i * 0.0002 - 1), that a
// host may set once before converting to intensity-saturation-hue; while it
// is null the conversions use a table of their own. Never written by the
// library.
KZ_EXPORT extern double* g_AcosLUTs;
// A new table for g_AcosLUTs (80008 bytes from CKzAlloc, owned by the
// caller); null when it cannot be allocated.
KZ_EXPORT double* CreateAcosLUTs();
