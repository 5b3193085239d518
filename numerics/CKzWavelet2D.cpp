#pragma GCC optimize("O3", "fp-contract=off")
// One-level 2D wavelet transform of double pictures.
#include "numerics/CKzWavelet.h"

#include "numerics/KzWaveletInternal.h"
#include "numerics/KzWaveletLines.h"

#include <algorithm>
#include <cstdlib>

using namespace kzwavelet;

namespace {
// Columns lie side by side in memory: a group of kWide of them is gathered
// at once, several cache lines of each row at each visit. Rows are filtered
// along memory, kRow outputs at once.
constexpr int kWide = 32;
constexpr int kRow = 16;

// The filter length is checked before anything else: the periodic extension
// copies L/2 - 1 samples, which an odd or short filter would get wrong.
bool FilterLengthValid(unsigned int L)
{
    return L >= 2 && (L & 1) == 0;
}

// Line buffers of one call, released on every path. The intermediate
// results of both directions live in the output arrays (see below), so the
// only scratch is a few lines long.
struct Scratch2D {
    double* block = nullptr;
    ~Scratch2D() { std::free(block); }
};
}  // namespace

// The row pass writes the rows analysed with F2 into a (rows 0 .. h2 - 1) and
// b (rows h2 .. h - 1), those analysed with F1 into c and d: the four bands
// together hold exactly the h x w intermediate picture. The column pass then
// reads each group of columns whole (its upper half from a, its lower half
// from b) before it overwrites those columns with the final bands.
int CKzWavelet2D::WaveletDecompositionImage(double*& a, double*& b, double*& c, double*& d, unsigned int& w2,
                                            unsigned int& h2, double* picture, unsigned int w, unsigned int h,
                                            double* F1, double* F2, unsigned int L)
{
    if (!FilterLengthValid(L) || L > h || L > w)
        return KZ_ERR_FAILED;
    if ((w & 1) || (h & 1))
        return KZ_ERR_NOT_SUPPORTED;
    const size_t W2 = w / 2, H2 = h / 2;
    size_t bandBytes = 0, extBytes = 0;
    if (!SizeProduct(bandBytes, W2, H2, sizeof(double)) ||
        !SizeProduct(extBytes, std::max(AnalysisExtent(h, L) * kWide, AnalyzeRowsWork(w, L, kRow)), sizeof(double)))
        return KZ_ERR_FAILED;
    w2 = unsigned(W2);
    h2 = unsigned(H2);

    Scratch2D s;
    s.block = static_cast<double*>(Malloc(extBytes));
    if (s.block == nullptr)
        return KZ_ERR_FAILED;
    // Outputs the call allocated stay with the caller even when a later one
    // fails: the caller releases them with FreeBuf.
    for (double** out : {&a, &b, &c, &d}) {
        if (*out == nullptr) {
            *out = static_cast<double*>(Malloc(bandBytes));
            if (*out == nullptr)
                return KZ_ERR_FAILED;
        }
    }
    double *A = a, *Bb = b, *C = c, *D = d;
    double* ext = s.block;
    const ptrdiff_t pw2 = ptrdiff_t(W2);
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        // Rows: the upper and the lower half of the picture.
        AnalyzeRows<double, double, double, kRow>(picture, w, H2, w, A, C, pw2, F2, F1, L, ext);
        AnalyzeRows<double, double, double, kRow>(picture + H2 * w, w, H2, w, Bb, D, pw2, F2, F1, L, ext);
        // Columns of h samples, in place.
        AnalyzeLines<double, double, double, kWide>(A, 1, pw2, W2, h, A, Bb, 1, pw2, F2, F1, L, ext, Bb, H2);
        AnalyzeLines<double, double, double, kWide>(C, 1, pw2, W2, h, C, D, 1, pw2, F2, F1, L, ext, D, H2);
    });
    return KZ_OK;
}

// The column pass writes its two h x w2 results side by side into the output
// picture: row y of the F2 row branch (from a and b) in the first w2 samples
// of output row y, that of the F1 branch (from c and d) in the last w2. The
// row pass reads each group of rows whole before it overwrites them.
int CKzWavelet2D::WaveletReconstructionImage(double*& picture, unsigned int& w, unsigned int& h, double* a,
                                             double* b, double* c, double* d, unsigned int w2, unsigned int h2,
                                             double* F1, double* F2, unsigned int L)
{
    if (!FilterLengthValid(L) || 2ull * w2 < L || 2ull * h2 < L)
        return KZ_ERR_FAILED;
    const size_t W = 2ull * w2, H = 2ull * h2;
    size_t outBytes = 0, ext = 0;
    if (W > 0xFFFFFFFFull || H > 0xFFFFFFFFull || !SizeProduct(outBytes, W, H, sizeof(double)) ||
        !SizeProduct(ext, SynthesisExtent(h2, L), kWide))
        return KZ_ERR_FAILED;
    ext = std::max(ext, SynthRowsWork(w2, L, kRow));
    w = unsigned(W);
    h = unsigned(H);

    // Two line buffers and the two reversed filters.
    Scratch2D s;
    s.block = static_cast<double*>(Malloc(sizeof(double) * (2 * ext + 2 * size_t(L))));
    if (s.block == nullptr)
        return KZ_ERR_FAILED;
    double* extA = s.block;
    double* extB = extA + ext;
    double* rev = extB + ext;
    ConstructInverseFilter(rev, F2, L);
    ConstructInverseFilter(rev + L, F1, L);
    if (picture == nullptr) {
        picture = static_cast<double*>(Malloc(outBytes));
        if (picture == nullptr)
            return KZ_ERR_FAILED;
    }
    const double* R2 = rev;
    const double* R1 = rev + L;
    double* out = picture;
    const ptrdiff_t pw2 = ptrdiff_t(w2), pW = ptrdiff_t(W);
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        SynthLines<double, double, double, kWide, false>(c, d, 1, pw2, w2, h2, out + w2, 1, pW, R2, R1, L, extA,
                                                          extB);
        SynthLines<double, double, double, kWide, false>(a, b, 1, pw2, w2, h2, out, 1, pW, R2, R1, L, extA, extB);
        SynthRows<double, double, double, kRow, false>(out, out + w2, pW, H, w2, out, pW, R2, R1, L, extA, extB);
    });
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
