// Wavelet filter banks (Coiflet and Daubechies scaling filters) and one-level
// separable 2D and 3D discrete wavelet transforms with periodic extension.
//
// The transforms take their two analysis filters as plain arrays: F2 is
// normally a bank's stored (low-pass) filter and F1 its quadrature mirror
// (high-pass). Outputs passed in as null pointers are allocated by the call
// and released by the caller with the class's FreeBuf.
#pragma once

#include "gnr_system/kz_base.h"

// Coiflet filters, grades 1..5 (6 x grade taps). The stored tables sum to 2;
// every filter handed out is scaled by 0.7071.
class KZ_EXPORT CKzCoiflets2DWave {
public:
    // The stored table of a grade, null outside 1..5.
    static const double* GetGradePtr(int grade);
    // The stored filter x 0.7071 into `filter` (allocated with malloc when
    // null); the tap count goes to *taps. 0, or -9 for a bad grade, a failed
    // allocation or a null tap-count pointer.
    static int GetMotherWavelet(double*& filter, int* taps, int grade);
    // The quadrature mirror: element i = (-1)^i x stored[n - 1 - i] x 0.7071.
    static int GetFatherWavelet(double*& filter, int* taps, int grade);
    // Releases a bank-allocated filter and nulls the pointer; -9 for null.
    static int FreeWavelet(double*& filter);
};

// Orthonormal minimum-phase Daubechies filters, grades 1..38 (2 x grade
// taps), in double and single precision, handed out unscaled.
class KZ_EXPORT CKzDaubechies2DWave {
public:
    static const double* GetGradePtr(int grade);
    static const float* GetGradePtrF(int grade);
    static int GetMotherWavelet(double*& filter, int* taps, int grade);
    static int GetMotherWavelet(float*& filter, int* taps, int grade);
    static int GetFatherWavelet(double*& filter, int* taps, int grade);
    static int GetFatherWavelet(float*& filter, int* taps, int grade);
    static int FreeWavelet(double*& filter);
    static int FreeWavelet(float*& filter);
};

// Sum of a[i] x b[i], accumulated in index order from 0.0.
KZ_EXPORT double ScalarMulti(double* a, double* b, unsigned int n);
// destination[j] = source[n - 1 - j]; returns 0.
KZ_EXPORT int ConstructInverseFilter(double* destination, double* source, unsigned int n);

// One level of the 2D transform of a packed w x h picture of doubles into
// four (w / 2) x (h / 2) sub-bands: a = rows F2, columns F2; b = rows F2,
// columns F1; c = rows F1, columns F2; d = rows F1, columns F1.
// Results: 0, -2 (odd size), -9 (filter length odd, below 2 or longer than a
// side; sizes that overflow; failed allocation).
class KZ_EXPORT CKzWavelet2D {
public:
    static int WaveletDecompositionImage(double*& a, double*& b, double*& c, double*& d,
                                         unsigned int& w2, unsigned int& h2, double* picture,
                                         unsigned int w, unsigned int h, double* F1, double* F2,
                                         unsigned int L);
    // Rebuilds the 2 w2 x 2 h2 picture; F1 and F2 are the analysis filters.
    static int WaveletReconstructionImage(double*& picture, unsigned int& w, unsigned int& h,
                                          double* a, double* b, double* c, double* d,
                                          unsigned int w2, unsigned int h2, double* F1, double* F2,
                                          unsigned int L);
    static int ConstructInverseFilter(double* destination, double* source, unsigned int n);
    // Releases an output array (the caller's pointer is left as it is); -9 for null.
    static int FreeBuf(double* array);
};

// One level of the 3D transform of a packed w x h x d volume of floats into
// eight sub-bands o0..o7; sub-band i is analysed with F1 along x when bit 2 of
// i is set, along y when bit 1 is set and along z when bit 0 is set (F2
// otherwise). The Image8 forms take eight-tap float filters (else -2) and run
// their passes on all processors; the others run on the calling thread.
class KZ_EXPORT CKzWavelet3D {
public:
    static int WaveletDecompositionImage(float*& o0, float*& o1, float*& o2, float*& o3,
                                         float*& o4, float*& o5, float*& o6, float*& o7,
                                         unsigned int& w2, unsigned int& h2, unsigned int& d2,
                                         float* volume, unsigned int w, unsigned int h, unsigned int d,
                                         double* F1, double* F2, unsigned int L);
    static int WaveletDecompositionImage(float*& o0, float*& o1, float*& o2, float*& o3,
                                         float*& o4, float*& o5, float*& o6, float*& o7,
                                         unsigned int& w2, unsigned int& h2, unsigned int& d2,
                                         float* volume, unsigned int w, unsigned int h, unsigned int d,
                                         float* F1, float* F2, unsigned int L);
    static int WaveletDecompositionImage8(float*& o0, float*& o1, float*& o2, float*& o3,
                                          float*& o4, float*& o5, float*& o6, float*& o7,
                                          unsigned int& w2, unsigned int& h2, unsigned int& d2,
                                          float* volume, unsigned int w, unsigned int h, unsigned int d,
                                          float* F1, float* F2, unsigned int L);
    static int WaveletReconstructionImage(float*& volume, unsigned int& w, unsigned int& h,
                                          unsigned int& d, float* o0, float* o1, float* o2, float* o3,
                                          float* o4, float* o5, float* o6, float* o7, unsigned int w2,
                                          unsigned int h2, unsigned int d2, double* F1, double* F2,
                                          unsigned int L);
    static int WaveletReconstructionImage(float*& volume, unsigned int& w, unsigned int& h,
                                          unsigned int& d, float* o0, float* o1, float* o2, float* o3,
                                          float* o4, float* o5, float* o6, float* o7, unsigned int w2,
                                          unsigned int h2, unsigned int d2, float* F1, float* F2,
                                          unsigned int L);
    static int WaveletReconstructionImage8(float*& volume, unsigned int& w, unsigned int& h,
                                           unsigned int& d, float* o0, float* o1, float* o2, float* o3,
                                           float* o4, float* o5, float* o6, float* o7, unsigned int w2,
                                           unsigned int h2, unsigned int d2, float* F1, float* F2,
                                           unsigned int L);
    static int ConstructInverseFilter(double* destination, double* source, unsigned int n);
    static int ConstructInverseFilter(float* destination, float* source, unsigned int n);
    // Releases an output array with CKzAlloc::Free; -9 for null.
    static int FreeBuf(float* array);
};
