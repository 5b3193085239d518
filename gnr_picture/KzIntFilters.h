// Neighbourhood operations on integer pictures of 8 or 9..16 bits (box mean,
// local contrast, noise estimate, border fade), interval and rectangle
// placement, small float kernels, and the float building blocks of
// anisotropic-diffusion denoising. The picture-level entry points are static
// members of CKzPicBufAPI; these are the free functions beside them.
//
// Every picture is addressed through its own stride. Samples of up to 8 bits
// are bytes, 9..16 bits 16-bit words.
#pragma once

#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_system/kz_base.h"

struct SKzFloatPicBuf;

// Rectangle with inclusive right and bottom.
struct SKzIRect {
    i32 left;
    i32 top;
    i32 right;
    i32 bottom;
};

// One-component box means: the window's in-picture sum (64-bit exact)
// divided by its in-picture sample count, truncated. size < 2: -2; pictures
// of other sizes, components or depths, or without their block: -9; no
// scratch memory: -3.
KZ_EXPORT kz_result SmoothSquare_1x8(SKzPicBuf* dst, SKzPicBuf* src, int size);
KZ_EXPORT kz_result SmoothSquare_1x16(SKzPicBuf* dst, SKzPicBuf* src, int size);
// One-component local contrast engines (fixed point, factor in 1/1024).
KZ_EXPORT kz_result LocalContrast_1x8(SKzPicBuf* dst, SKzPicBuf* src, int size, double factor, bool smooth);
KZ_EXPORT kz_result LocalContrast_1x16(SKzPicBuf* dst, SKzPicBuf* src, int size, double factor, bool smooth);
// Minimum and maximum of values[from .. to - 1]; for from >= to 255 (65535)
// and 0.
KZ_EXPORT void FillAllMem1x8MinMax(int from, int to, unsigned char* values, unsigned char* out);
KZ_EXPORT void FillAllMem1x8Min(int from, int to, unsigned char* values, unsigned char* out);
KZ_EXPORT void FillAllMem1x8Max(int from, int to, unsigned char* values, unsigned char* out);
KZ_EXPORT void FillAllMem1x16MinMax(int from, int to, unsigned short* values, unsigned short* out);
KZ_EXPORT void FillAllMem1x16Min(int from, int to, unsigned short* values, unsigned short* out);
KZ_EXPORT void FillAllMem1x16Max(int from, int to, unsigned short* values, unsigned short* out);
KZ_EXPORT int compare1x16(const void* a, const void* b);
KZ_EXPORT double GetImmerkaerNoiseEstimation1x8(SKzPicBuf* pic);
KZ_EXPORT double GetImmerkaerNoiseEstimation1x16(SKzPicBuf* pic);
// Border fade of integer pictures (8 bits or fewer: bytes; 9..16: words;
// deeper pictures are left alone).
KZ_EXPORT void ExpandAndSmoothToBordersAPI(SKzPicBuf* pic, unsigned n);
KZ_EXPORT void ExpandAndSmoothToBordersAPI_x8(SKzPicBuf* pic, unsigned n);
KZ_EXPORT void ExpandAndSmoothToBordersAPI_x16(SKzPicBuf* pic, unsigned n);
KZ_EXPORT kz_result RegularizeRow(int& from, int& to, SKzPicBuf* pic);
KZ_EXPORT kz_result RegularizeColumn(int& from, int& to, SKzPicBuf* pic);
KZ_EXPORT kz_result RegularizeIRect(SKzIRect& rect, SKzPicBuf* pic);
// Bilinear resampling of a srcSize x srcSize kernel to dstWidth x dstHeight,
// normalised to sum 1 (nothing for srcSize 0 or dstHeight 0).
KZ_EXPORT void StretchFloat2DKernel(float* dst, float* src, unsigned dstWidth, unsigned dstHeight, unsigned srcSize);
// A rotationally symmetric pattern of outSize rows of size values from one
// column of a size x size array, normalised; nothing unless outSize / 2 < size.
KZ_EXPORT void GetPlaneCutAiry(float* dst, float* src, unsigned size, unsigned outSize, unsigned offset);
// Does nothing.
KZ_EXPORT void GeneratePSFOrtho(float*, unsigned, unsigned, double, double, double, unsigned);

// --- Anisotropic-diffusion building blocks (one-component pictures) ---------
// The one-component denoiser: no denoising is built; it copies src to dst
// and returns -2.
KZ_EXPORT kz_result AdiffDenoise_x1(SKzPicBuf* dst, SKzPicBuf* src, double, double, unsigned, unsigned);
// Not built: -2, nothing written.
KZ_EXPORT kz_result KernelConvolution(SKzFloatPicBuf*, SKzFloatPicBuf*, SKzFloatPicBuf*);
KZ_EXPORT void GenerateGauss(SKzFloatPicBuf* kernel, double sigma);
KZ_EXPORT void Uint8ToFloat(SKzFloatPicBuf* dst, SKzPicBuf* src);
KZ_EXPORT void Uint16ToFloat(SKzFloatPicBuf* dst, SKzPicBuf* src);
KZ_EXPORT void FloatToUint8(SKzPicBuf* dst, SKzFloatPicBuf* src);
KZ_EXPORT void FloatToUint16(SKzPicBuf* dst, SKzFloatPicBuf* src);
KZ_EXPORT void GetGradientFloat2(SKzFloatPicBuf* grad, SKzFloatPicBuf* src);
KZ_EXPORT void GetInnerCMK(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, float k, unsigned, SKzFloatPicBuf* grad);
KZ_EXPORT void GenerateAB(SKzFloatPicBuf* west, SKzFloatPicBuf* diagH, SKzFloatPicBuf* east, SKzFloatPicBuf* north,
                          SKzFloatPicBuf* diagV, SKzFloatPicBuf* south, SKzFloatPicBuf* g);
KZ_EXPORT void GenerateAB_X(SKzFloatPicBuf* west, SKzFloatPicBuf* diagH, SKzFloatPicBuf* east,
                            SKzFloatPicBuf* north, SKzFloatPicBuf* diagV, SKzFloatPicBuf* south, SKzFloatPicBuf* g);
// dst = a + b; returns the last sum (0 for an empty picture).
KZ_EXPORT float AddMid(SKzFloatPicBuf* dst, SKzFloatPicBuf* a, SKzFloatPicBuf* b);
KZ_EXPORT void MakeDeltaAndAdd(SKzFloatPicBuf* dst, SKzFloatPicBuf* north, SKzFloatPicBuf* west,
                               SKzFloatPicBuf* centre, SKzFloatPicBuf* east, SKzFloatPicBuf* south, float tau,
                               SKzFloatPicBuf* u);
