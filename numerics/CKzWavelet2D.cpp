#pragma GCC optimize("O3", "fp-contract=off")
// One-level 2D wavelet transform of double pictures.
#include "numerics/CKzWavelet.h"

#include "numerics/KzWaveletInternal.h"
#include "numerics/KzWaveletLines.h"

#include <cstdlib>

using namespace kzwavelet;

namespace {
constexpr int kLanes = 8;

// The filter length is checked before anything else: the periodic extension
// copies L/2 - 1 samples, which an odd or short filter would get wrong.
bool FilterLengthValid(unsigned int L)
{
    return L >= 2 && (L & 1) == 0;
}

struct Scratch2D {
    double* blocks[4] = {};
    ~Scratch2D()
    {
        for (double* p : blocks)
            std::free(p);
    }
};
}  // namespace

int CKzWavelet2D::WaveletDecompositionImage(double*& a, double*& b, double*& c, double*& d, unsigned int& w2,
                                            unsigned int& h2, double* picture, unsigned int w, unsigned int h,
                                            double* F1, double* F2, unsigned int L)
{
    if (!FilterLengthValid(L) || L > h || L > w)
        return KZ_ERR_FAILED;
    if ((w & 1) || (h & 1))
        return KZ_ERR_NOT_SUPPORTED;
    const size_t W2 = w / 2, H2 = h / 2;
    size_t bandBytes = 0, midBytes = 0, rowExt = 0, colExt = 0;
    if (!SizeProduct(bandBytes, W2, H2, sizeof(double)) || !SizeProduct(midBytes, size_t(h), W2, sizeof(double)) ||
        !SizeProduct(rowExt, AnalysisExtent(w, L), kLanes, sizeof(double)) ||
        !SizeProduct(colExt, AnalysisExtent(h, L), kLanes, sizeof(double)))
        return KZ_ERR_FAILED;
    w2 = unsigned(W2);
    h2 = unsigned(H2);

    Scratch2D s;
    for (int i = 0; i < 4; ++i) {
        s.blocks[i] = static_cast<double*>(Malloc(i < 2 ? midBytes : (i == 2 ? rowExt : colExt)));
        if (s.blocks[i] == nullptr)
            return KZ_ERR_FAILED;
    }
    // Outputs the call allocated stay with the caller even when a later one
    // fails: the caller releases them with FreeBuf.
    for (double** out : {&a, &b, &c, &d}) {
        if (*out == nullptr) {
            *out = static_cast<double*>(Malloc(bandBytes));
            if (*out == nullptr)
                return KZ_ERR_FAILED;
        }
    }
    double* rowsF2 = s.blocks[0];
    double* rowsF1 = s.blocks[1];
    double *A = a, *Bb = b, *C = c, *D = d;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        // Rows: h lines of w samples into two h x w2 arrays.
        AnalyzeLines<double, double, double, kLanes>(picture, w, 1, h, w, rowsF2, rowsF1, ptrdiff_t(W2), 1, F2, F1,
                                                     L, s.blocks[2]);
        // Columns: w2 lines of h samples of each array into the sub-bands.
        AnalyzeLines<double, double, double, kLanes>(rowsF2, 1, ptrdiff_t(W2), W2, h, A, Bb, 1, ptrdiff_t(W2), F2,
                                                     F1, L, s.blocks[3]);
        AnalyzeLines<double, double, double, kLanes>(rowsF1, 1, ptrdiff_t(W2), W2, h, C, D, 1, ptrdiff_t(W2), F2,
                                                     F1, L, s.blocks[3]);
    });
    return KZ_OK;
}

int CKzWavelet2D::WaveletReconstructionImage(double*& picture, unsigned int& w, unsigned int& h, double* a,
                                             double* b, double* c, double* d, unsigned int w2, unsigned int h2,
                                             double* F1, double* F2, unsigned int L)
{
    if (!FilterLengthValid(L) || 2ull * w2 < L || 2ull * h2 < L)
        return KZ_ERR_FAILED;
    const size_t W = 2ull * w2, H = 2ull * h2;
    size_t outBytes = 0, midBytes = 0, ext = 0;
    const size_t longest = std::max<size_t>(w2, h2);
    if (W > 0xFFFFFFFFull || H > 0xFFFFFFFFull || !SizeProduct(outBytes, W, H, sizeof(double)) ||
        !SizeProduct(midBytes, H, size_t(w2), sizeof(double)) ||
        !SizeProduct(ext, SynthesisExtent(longest, L), kLanes, sizeof(double)))
        return KZ_ERR_FAILED;
    w = unsigned(W);
    h = unsigned(H);

    Scratch2D s;
    for (int i = 0; i < 4; ++i) {
        s.blocks[i] = static_cast<double*>(Malloc(i < 2 ? midBytes : ext));
        if (s.blocks[i] == nullptr)
            return KZ_ERR_FAILED;
    }
    double* rev = static_cast<double*>(Malloc(2 * sizeof(double) * L));
    if (rev == nullptr)
        return KZ_ERR_FAILED;
    ConstructInverseFilter(rev, F2, L);
    ConstructInverseFilter(rev + L, F1, L);
    if (picture == nullptr) {
        picture = static_cast<double*>(Malloc(outBytes));
        if (picture == nullptr) {
            std::free(rev);
            return KZ_ERR_FAILED;
        }
    }
    const double* R2 = rev;
    const double* R1 = rev + L;
    double* colsF1 = s.blocks[0];  // rows analysed with F1: from c and d
    double* colsF2 = s.blocks[1];  // rows analysed with F2: from a and b
    double* out = picture;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        SynthLines<double, double, double, kLanes, false>(c, d, 1, ptrdiff_t(w2), w2, h2, colsF1, 1, ptrdiff_t(w2), R2,
                                                          R1, L, s.blocks[2], s.blocks[3]);
        SynthLines<double, double, double, kLanes, false>(a, b, 1, ptrdiff_t(w2), w2, h2, colsF2, 1, ptrdiff_t(w2), R2,
                                                          R1, L, s.blocks[2], s.blocks[3]);
        SynthLines<double, double, double, kLanes, false>(colsF2, colsF1, ptrdiff_t(w2), 1, H, w2, out,
                                                          ptrdiff_t(W), 1, R2, R1, L, s.blocks[2], s.blocks[3]);
    });
    std::free(rev);
    return KZ_OK;
}

int CKzWavelet2D::ConstructInverseFilter(double* destination, double* source, unsigned int n)
{
    return ::ConstructInverseFilter(destination, source, n);
}

int CKzWavelet2D::FreeBuf(double* array)
{
    if (array == nullptr)
        return KZ_ERR_FAILED;
    std::free(array);
    return KZ_OK;
}
