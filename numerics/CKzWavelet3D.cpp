#pragma GCC optimize("O3", "fp-contract=off")
// One-level 3D wavelet transform of float volumes.
#include "numerics/CKzWavelet.h"

#include "gnr_picture/KzProcessorCount.h"
#include "gnr_system/CKzAlloc.h"
#include "numerics/KzWaveletInternal.h"
#include "numerics/KzWaveletLines.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

using namespace kzwavelet;

namespace {
constexpr int kLanes = 16;

enum class Form { Double, Float, Image8 };

// Every array the call obtains; on failure the outputs it allocated are
// released and their pointers nulled, the caller's own arrays stay.
struct Arrays3D {
    std::vector<float**> ownedOutputs;
    std::vector<void*> scratch;
    bool failed = false;

    float* Scratch(size_t bytes)
    {
        void* p = failed ? nullptr : AllocNoZero(bytes);
        if (p == nullptr)
            failed = true;
        else
            scratch.push_back(p);
        return static_cast<float*>(p);
    }
    void Output(float*& out, size_t bytes)
    {
        if (failed || out != nullptr)
            return;
        out = static_cast<float*>(AllocNoZero(bytes));
        if (out == nullptr)
            failed = true;
        else
            ownedOutputs.push_back(&out);
    }
    void DropOutputs()
    {
        for (float** p : ownedOutputs) {
            CKzAlloc::Free(*p);
            *p = nullptr;
        }
        ownedOutputs.clear();
    }
    ~Arrays3D()
    {
        for (void* p : scratch)
            CKzAlloc::Free(p);
    }
};

// Threads of an Image8 pass: thread t of T takes outer indexes t, t + T, ...
// The calling thread is thread 0; a thread that cannot be started has its
// indexes done by the calling thread. Results do not depend on T.
template <class F>
void RunRegion(unsigned T, F&& body)
{
    if (T <= 1) {
        body(0u, 1u);
        return;
    }
    std::vector<std::thread> workers;
    std::vector<unsigned> leftOver;
    try {
        workers.reserve(T - 1);
        leftOver.reserve(T - 1);
    } catch (...) {
        for (unsigned t = 0; t < T; ++t)
            body(t, T);
        return;
    }
    for (unsigned t = 1; t < T; ++t) {
        try {
            workers.emplace_back([&body, t, T] { body(t, T); });
        } catch (const std::system_error&) {
            leftOver.push_back(t);
        }
    }
    body(0u, T);
    for (unsigned t : leftOver)
        body(t, T);
    for (auto& th : workers)
        th.join();
}

unsigned TeamSize(Form form, size_t outer)
{
    if (form != Form::Image8)
        return 1;
    const size_t p = size_t(std::max(1, KZ_GetProcessorCount()));
    return unsigned(std::max<size_t>(1, std::min(p, outer)));
}

template <class FT>
bool Check(Form form, unsigned L, int& code)
{
    if (form == Form::Image8 && L != 8) {
        code = KZ_ERR_NOT_SUPPORTED;
        return false;
    }
    if (L < 2 || (L & 1)) {
        code = KZ_ERR_FAILED;
        return false;
    }
    return true;
}

template <class FT, class A, Form form>
int Decompose(float** const* outs, unsigned& w2, unsigned& h2, unsigned& d2, const float* vol, unsigned w, unsigned h,
              unsigned d, const FT* F1, const FT* F2, unsigned L)
{
    int code = KZ_OK;
    if (!Check<FT>(form, L, code))
        return code;
    if (L > h || L > w || L > d)
        return KZ_ERR_FAILED;
    if ((w & 1) || (h & 1) || (d & 1))
        return KZ_ERR_NOT_SUPPORTED;
    const size_t W2 = w / 2, H2 = h / 2, D2 = d / 2;
    const unsigned T = TeamSize(form, std::max<size_t>(d, H2));
    size_t bandBytes = 0, xBytes = 0, yBytes = 0, extBytes = 0;
    const size_t longest = std::max({size_t(w), size_t(h), size_t(d)});
    if (!SizeProduct(bandBytes, W2, H2, D2, sizeof(float)) || !SizeProduct(xBytes, W2, h, d, sizeof(float)) ||
        !SizeProduct(yBytes, W2, H2, d, sizeof(float)) ||
        !SizeProduct(extBytes, AnalysisExtent(longest, L), kLanes, sizeof(float), T))
        return KZ_ERR_FAILED;
    w2 = unsigned(W2);
    h2 = unsigned(H2);
    d2 = unsigned(D2);

    Arrays3D arrays;
    for (int i = 0; i < 8; ++i)
        arrays.Output(*outs[i], bandBytes);
    float* A2 = arrays.Scratch(xBytes);
    float* A1 = arrays.Scratch(xBytes);
    float* B[4];
    for (float*& b : B)
        b = arrays.Scratch(yBytes);
    float* ext = arrays.Scratch(extBytes);
    if (arrays.failed) {
        arrays.DropOutputs();
        return KZ_ERR_FAILED;
    }
    float* const o[8] = {*outs[0], *outs[1], *outs[2], *outs[3], *outs[4], *outs[5], *outs[6], *outs[7]};
    const size_t extPerThread = AnalysisExtent(longest, L) * kLanes;
    const ptrdiff_t pw2 = ptrdiff_t(W2), plane2 = ptrdiff_t(W2 * H2);

    // X pass, by plane: rows of w samples into A2 (F2) and A1 (F1).
    RunRegion(TeamSize(form, d), [&](unsigned t, unsigned team) {
        float* e = ext + t * extPerThread;
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            for (size_t z = t; z < d; z += team)
                AnalyzeLines<float, A, FT, kLanes>(vol + z * w * h, w, 1, h, w, A2 + z * h * W2, A1 + z * h * W2,
                                                   pw2, 1, F2, F1, L, e);
        });
    });
    // Y passes, by plane: columns of h samples.
    const float* ySrc[2] = {A2, A1};
    for (int s = 0; s < 2; ++s) {
        float* lo = B[2 * s];
        float* hi = B[2 * s + 1];
        const float* src = ySrc[s];
        RunRegion(TeamSize(form, d), [&](unsigned t, unsigned team) {
            float* e = ext + t * extPerThread;
            KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
                for (size_t z = t; z < d; z += team)
                    AnalyzeLines<float, A, FT, kLanes>(src + z * h * W2, 1, pw2, W2, h, lo + z * H2 * W2,
                                                       hi + z * H2 * W2, 1, pw2, F2, F1, L, e);
            });
        });
    }
    // Z pass, by row of the half height: lines of d samples into all eight.
    RunRegion(TeamSize(form, H2), [&](unsigned t, unsigned team) {
        float* e = ext + t * extPerThread;
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            for (size_t y = t; y < H2; y += team)
                for (int s = 0; s < 4; ++s)
                    AnalyzeLines<float, A, FT, kLanes>(B[s] + y * W2, 1, plane2, W2, d, o[2 * s] + y * W2,
                                                       o[2 * s + 1] + y * W2, 1, plane2, F2, F1, L, e);
        });
    });
    return KZ_OK;
}

template <class FT, class A, Form form>
int Reconstruct(float*& vol, unsigned& w, unsigned& h, unsigned& d, float* const* o, unsigned w2, unsigned h2,
                unsigned d2, const FT* F1, const FT* F2, unsigned L)
{
    int code = KZ_OK;
    if (!Check<FT>(form, L, code))
        return code;
    if (2ull * w2 < L || 2ull * h2 < L || 2ull * d2 < L)
        return KZ_ERR_FAILED;
    const size_t W = 2ull * w2, H = 2ull * h2, D = 2ull * d2;
    const unsigned T = TeamSize(form, std::max<size_t>(D, h2));
    size_t outBytes = 0, cBytes = 0, dBytes = 0, extBytes = 0;
    const size_t longest = std::max({size_t(w2), size_t(h2), size_t(d2)});
    if (W > 0xFFFFFFFFull || H > 0xFFFFFFFFull || D > 0xFFFFFFFFull ||
        !SizeProduct(outBytes, W, H, D, sizeof(float)) || !SizeProduct(cBytes, w2, h2, D, sizeof(float)) ||
        !SizeProduct(dBytes, w2, H, D, sizeof(float)) ||
        !SizeProduct(extBytes, SynthesisExtent(longest, L), kLanes, sizeof(float), 2ull * T))
        return KZ_ERR_FAILED;
    w = unsigned(W);
    h = unsigned(H);
    d = unsigned(D);

    Arrays3D arrays;
    FT* rev = reinterpret_cast<FT*>(arrays.Scratch(2 * sizeof(FT) * L));
    float* C[4];
    for (float*& c : C)
        c = arrays.Scratch(cBytes);
    float* D2a = arrays.Scratch(dBytes);
    float* D1a = arrays.Scratch(dBytes);
    float* ext = arrays.Scratch(extBytes);
    arrays.Output(vol, outBytes);
    if (arrays.failed) {
        arrays.DropOutputs();
        return KZ_ERR_FAILED;
    }
    for (unsigned j = 0; j < L; ++j) {
        rev[j] = F2[L - 1 - j];
        rev[L + j] = F1[L - 1 - j];
    }
    const FT* R2 = rev;
    const FT* R1 = rev + L;
    const size_t extPerThread = SynthesisExtent(longest, L) * kLanes;
    const ptrdiff_t pw2 = ptrdiff_t(w2), plane2 = ptrdiff_t(size_t(w2) * h2);
    constexpr bool single = form == Form::Image8;
    float* out = vol;

    // Z synthesis, by row of the half height: (o0, o1) -> C22, (o2, o3) -> C21, ...
    RunRegion(TeamSize(form, h2), [&](unsigned t, unsigned team) {
        float* ea = ext + 2 * t * extPerThread;
        float* eb = ea + extPerThread;
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            for (size_t y = t; y < h2; y += team)
                for (int s = 0; s < 4; ++s)
                    SynthLines<float, A, FT, kLanes, single>(o[2 * s] + y * w2, o[2 * s + 1] + y * w2, 1, plane2, w2,
                                                             d2, C[s] + y * w2, 1, plane2, R2, R1, L, ea, eb);
        });
    });
    // Y synthesis, by plane: (C22, C21) -> D2, (C12, C11) -> D1.
    for (int s = 0; s < 2; ++s) {
        float* dst = s == 0 ? D2a : D1a;
        const float* first = C[2 * s];
        const float* second = C[2 * s + 1];
        RunRegion(TeamSize(form, D), [&](unsigned t, unsigned team) {
            float* ea = ext + 2 * t * extPerThread;
            float* eb = ea + extPerThread;
            KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
                for (size_t z = t; z < D; z += team)
                    SynthLines<float, A, FT, kLanes, single>(first + z * h2 * w2, second + z * h2 * w2, 1, pw2, w2,
                                                             h2, dst + z * H * w2, 1, pw2, R2, R1, L, ea, eb);
            });
        });
    }
    // X synthesis, by plane: (D2, D1) -> the volume.
    RunRegion(TeamSize(form, D), [&](unsigned t, unsigned team) {
        float* ea = ext + 2 * t * extPerThread;
        float* eb = ea + extPerThread;
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            for (size_t z = t; z < D; z += team)
                SynthLines<float, A, FT, kLanes, single>(D2a + z * H * w2, D1a + z * H * w2, pw2, 1, H, w2,
                                                         out + z * W * H, ptrdiff_t(W), 1, R2, R1, L, ea, eb);
        });
    });
    return KZ_OK;
}
}  // namespace

int CKzWavelet3D::WaveletDecompositionImage(float*& o0, float*& o1, float*& o2, float*& o3, float*& o4, float*& o5,
                                            float*& o6, float*& o7, unsigned int& w2, unsigned int& h2,
                                            unsigned int& d2, float* volume, unsigned int w, unsigned int h,
                                            unsigned int d, double* F1, double* F2, unsigned int L)
{
    float** const outs[8] = {&o0, &o1, &o2, &o3, &o4, &o5, &o6, &o7};
    return Decompose<double, double, Form::Double>(outs, w2, h2, d2, volume, w, h, d, F1, F2, L);
}
int CKzWavelet3D::WaveletDecompositionImage(float*& o0, float*& o1, float*& o2, float*& o3, float*& o4, float*& o5,
                                            float*& o6, float*& o7, unsigned int& w2, unsigned int& h2,
                                            unsigned int& d2, float* volume, unsigned int w, unsigned int h,
                                            unsigned int d, float* F1, float* F2, unsigned int L)
{
    float** const outs[8] = {&o0, &o1, &o2, &o3, &o4, &o5, &o6, &o7};
    return Decompose<float, float, Form::Float>(outs, w2, h2, d2, volume, w, h, d, F1, F2, L);
}
int CKzWavelet3D::WaveletDecompositionImage8(float*& o0, float*& o1, float*& o2, float*& o3, float*& o4,
                                             float*& o5, float*& o6, float*& o7, unsigned int& w2, unsigned int& h2,
                                             unsigned int& d2, float* volume, unsigned int w, unsigned int h,
                                             unsigned int d, float* F1, float* F2, unsigned int L)
{
    float** const outs[8] = {&o0, &o1, &o2, &o3, &o4, &o5, &o6, &o7};
    return Decompose<float, float, Form::Image8>(outs, w2, h2, d2, volume, w, h, d, F1, F2, L);
}

int CKzWavelet3D::WaveletReconstructionImage(float*& volume, unsigned int& w, unsigned int& h, unsigned int& d,
                                             float* o0, float* o1, float* o2, float* o3, float* o4, float* o5,
                                             float* o6, float* o7, unsigned int w2, unsigned int h2,
                                             unsigned int d2, double* F1, double* F2, unsigned int L)
{
    float* const o[8] = {o0, o1, o2, o3, o4, o5, o6, o7};
    return Reconstruct<double, double, Form::Double>(volume, w, h, d, o, w2, h2, d2, F1, F2, L);
}
int CKzWavelet3D::WaveletReconstructionImage(float*& volume, unsigned int& w, unsigned int& h, unsigned int& d,
                                             float* o0, float* o1, float* o2, float* o3, float* o4, float* o5,
                                             float* o6, float* o7, unsigned int w2, unsigned int h2,
                                             unsigned int d2, float* F1, float* F2, unsigned int L)
{
    float* const o[8] = {o0, o1, o2, o3, o4, o5, o6, o7};
    return Reconstruct<float, float, Form::Float>(volume, w, h, d, o, w2, h2, d2, F1, F2, L);
}
int CKzWavelet3D::WaveletReconstructionImage8(float*& volume, unsigned int& w, unsigned int& h, unsigned int& d,
                                              float* o0, float* o1, float* o2, float* o3, float* o4, float* o5,
                                              float* o6, float* o7, unsigned int w2, unsigned int h2,
                                              unsigned int d2, float* F1, float* F2, unsigned int L)
{
    float* const o[8] = {o0, o1, o2, o3, o4, o5, o6, o7};
    return Reconstruct<float, float, Form::Image8>(volume, w, h, d, o, w2, h2, d2, F1, F2, L);
}

int CKzWavelet3D::ConstructInverseFilter(double* destination, double* source, unsigned int n)
{
    return ::ConstructInverseFilter(destination, source, n);
}
int CKzWavelet3D::ConstructInverseFilter(float* destination, float* source, unsigned int n)
{
    for (unsigned int j = 0; j < n; ++j)
        destination[j] = source[n - 1 - j];
    return KZ_OK;
}
int CKzWavelet3D::FreeBuf(float* array)
{
    if (array == nullptr)
        return KZ_ERR_FAILED;
    CKzAlloc::Free(array);
    return KZ_OK;
}
