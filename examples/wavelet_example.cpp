// Decomposes a small picture with the Daubechies grade-4 filters and rebuilds it.
#include "numerics/CKzWavelet.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main()
{
    double* lo = nullptr;  // the bank's stored (low-pass) filter
    double* hi = nullptr;  // its quadrature mirror (high-pass)
    int taps = 0;
    if (CKzDaubechies2DWave::GetMotherWavelet(lo, &taps, 4) != 0 ||
        CKzDaubechies2DWave::GetFatherWavelet(hi, &taps, 4) != 0)
        return 1;

    const unsigned w = 64, h = 32;
    std::vector<double> picture(w * h);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            picture[y * w + x] = 100.0 + 50.0 * std::sin(x * 0.2) * std::cos(y * 0.3);

    double *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;  // allocated by the call
    unsigned w2 = 0, h2 = 0;
    if (CKzWavelet2D::WaveletDecompositionImage(a, b, c, d, w2, h2, picture.data(), w, h, hi, lo, unsigned(taps)) != 0)
        return 1;
    double detail = 0;
    for (unsigned i = 0; i < w2 * h2; ++i)
        detail += std::fabs(d[i]);
    std::printf("decomposed %ux%u into four %ux%u sub-bands; mean |diagonal detail| %.3g\n", w, h, w2, h2,
                detail / (w2 * h2));

    double* back = nullptr;
    unsigned rw = 0, rh = 0;
    if (CKzWavelet2D::WaveletReconstructionImage(back, rw, rh, a, b, c, d, w2, h2, hi, lo, unsigned(taps)) != 0)
        return 1;
    double worst = 0;
    for (unsigned i = 0; i < w * h; ++i)
        worst = std::fmax(worst, std::fabs(back[i] - picture[i]));
    std::printf("reconstructed %ux%u; largest difference %.3g\n", rw, rh, worst);

    for (double* p : {a, b, c, d, back})
        CKzWavelet2D::FreeBuf(p);
    CKzDaubechies2DWave::FreeWavelet(lo);
    CKzDaubechies2DWave::FreeWavelet(hi);
    return worst < 1e-9 ? 0 : 1;
}
