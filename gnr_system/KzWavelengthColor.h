// Display colours of light of a given wavelength: two piecewise-linear ramps,
// a rainbow colour table, a colour-science conversion to sRGB, and the
// conversion of a spectrum to chromaticity and of chromaticity to linear RGB.
// Colours are 0x00BBGGRR (red in the low byte).
#pragma once

#include "gnr_system/kz_base.h"

// The CIE 1931 2-degree colour-matching functions as hosts see them: a count
// and a pointer to that many rows of (wavelength nm, xbar, ybar, zbar).
struct SKzColorMatchingFunction {
    kz_uint32 uiCount;
    const double (*pEntries)[4];
};

// Chromaticities of a colour system's primaries and white point.
struct colourSystem {
    const char* name;  // not read here
    double xRed, yRed;
    double xGreen, yGreen;
    double xBlue, yBlue;
    double xWhite, yWhite;
    double gamma;  // not read here
};

extern "C" {
KZ_EXPORT extern const SKzColorMatchingFunction g_ColorMatchingFunction_CIE2deg;
// Wavelength of the line spectrum that simple_spectrum describes.
KZ_EXPORT extern double g_dWavelength;

// Colour of a wavelength (nm) by piecewise-linear ramps; 0, or -4 for null.
// A wavelength that is not a number leaves the colour unchanged.
KZ_EXPORT int KZ_RGBFromWavelength(unsigned int* colour, double wavelength);
KZ_EXPORT int KZ_RGBFromWavelength2(unsigned int* colour, double wavelength);
// Fills `count` entries with a rainbow from magenta to blue; needs at least
// 6 entries (fewer, or a null table, gives -4 and writes nothing).
KZ_EXPORT int KZ_RGBRainbowColorTable(unsigned int* table, unsigned int count);
// sRGB of monochromatic light, scaled so the strongest channel is 255; black
// outside 360..830 nm. 0, or -4 for null.
KZ_EXPORT int KZ_sRGBFromWavelength(unsigned int* colour, double wavelength);
// Chromaticity (x, y, z) of a spectrum sampled at 380..780 nm in 5 nm steps.
KZ_EXPORT void spectrum_to_xyz(double (*spectrum)(double), double* x, double* y, double* z);
// Linear RGB of a chromaticity in the colour system (white gives 1, 1, 1).
KZ_EXPORT void xyz_to_rgb(colourSystem* system, double x, double y, double z, double* r, double* g, double* b);
// 1.0 at g_dWavelength, else 0.0.
KZ_EXPORT double simple_spectrum(double wavelength);
}

// The generated tables (KzWavelengthColorTable.cpp).
extern const double g_adCIE1931_2deg_1nm[471][4];
extern const double g_adCIE1931_2deg_5nm[81][3];
