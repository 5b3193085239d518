#pragma GCC optimize("O3", "fp-contract=off")
// One-level 3D wavelet transform of float volumes.
#include "numerics/CKzWavelet.h"

#include "gnr_picture/KzProcessorCount.h"
#include "gnr_picture/KzWorkerThreads.h"
#include "gnr_system/CKzAlloc.h"
#include "numerics/KzWaveletInternal.h"
#include "numerics/KzWaveletLines.h"

#include <algorithm>
#include <cstdint>

using namespace kzwavelet;

namespace {
// Lines along y and z lie side by side in memory: a group of kWide of them
// is gathered at once, several cache lines at each visit. Rows along x are
// filtered along memory, kRow outputs at once.
constexpr int kWide = 64;
constexpr int kRow = 32;

enum class Form { Double, Float, Image8 };

// The arrays the call obtains: the outputs it allocated (at most eight) and
// one scratch block. Unless the call keeps its results, the outputs it
// allocated are released and their pointers nulled; the caller's own arrays
// stay. The scratch block is always released.
struct Arrays3D {
    float** owned[8] = {};
    int nOwned = 0;
    void* scratch = nullptr;
    bool failed = false;
    bool keep = false;

    void* Scratch(size_t bytes)
    {
        if (!failed) {
            scratch = AllocNoZero(bytes);
            failed = scratch == nullptr;
        }
        return scratch;
    }
    void Output(float*& out, size_t bytes)
    {
        if (failed || out != nullptr)
            return;
        out = static_cast<float*>(AllocNoZero(bytes));
        if (out == nullptr)
            failed = true;
        else
            owned[nOwned++] = &out;
    }
    ~Arrays3D()
    {
        CKzAlloc::Free(scratch);
        if (keep)
            return;
        for (int i = 0; i < nOwned; ++i) {
            CKzAlloc::Free(*owned[i]);
            *owned[i] = nullptr;
        }
    }
};

// Floats of a part of the scratch block, rounded up to whole cache lines.
inline size_t Lines64(size_t floats)
{
    return (floats + 15) & ~size_t(15);
}

// Threads of an Image8 pass: thread t of T takes outer indexes t, t + T, ...
// The calling thread is thread 0; a thread that cannot be started has its
// indexes done by the calling thread. Results do not depend on T.
template <class F>
void RunRegion(unsigned T, F&& body)
{
    kzthreads::RunTasks(T, [&body, T](unsigned t) { body(t, T); });
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

// Passes of the decomposition, with the memory they need beyond the outputs:
// 1. X and Y, plane by plane: the rows of plane z are analysed into two
//    w2 x h plane buffers of the thread (A2 with F2, A1 with F1), whose
//    columns are then analysed into plane z of B22, B21 (from A2) and B12,
//    B11 (from A1). Each B array is w2 x h2 x d, the size of two sub-bands:
//    its planes below d2 are kept in o[2s] and the others in o[2s + 1].
// 2. Z, by row of the half height: every line along z of B_s is read whole
//    from the pair (o[2s], o[2s + 1]) before the pair's samples on that line
//    are overwritten with the two sub-bands.
// The arithmetic and its order are those of three separate passes over
// whole intermediate volumes; only where the intermediates live differs.
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
    // Per thread: the two plane buffers and one line buffer, which serves the
    // lines along y and z (floats) and the rows along x (sums of type A).
    size_t bandBytes = 0, planeFloats = 0, lineFloats = 0, rowFloats = 0, perThread = 0, scratchBytes = 0;
    if (!SizeProduct(bandBytes, W2, H2, D2, sizeof(float)) || !SizeProduct(planeFloats, W2, h) ||
        !SizeProduct(lineFloats, AnalysisExtent(std::max(h, d), L), kWide) ||
        !SizeProduct(rowFloats, AnalyzeRowsWork(w, L, kRow), sizeof(A) / sizeof(float)) ||
        planeFloats > (SIZE_MAX >> 3) || lineFloats > (SIZE_MAX >> 3) ||
        !SizeProduct(perThread, 2 * Lines64(planeFloats) + Lines64(std::max(lineFloats, rowFloats)), 1) ||
        !SizeProduct(scratchBytes, perThread, T, sizeof(float)))
        return KZ_ERR_FAILED;
    w2 = unsigned(W2);
    h2 = unsigned(H2);
    d2 = unsigned(D2);

    Arrays3D arrays;
    for (int i = 0; i < 8; ++i)
        arrays.Output(*outs[i], bandBytes);
    float* const scratch = static_cast<float*>(arrays.Scratch(scratchBytes));
    if (arrays.failed)
        return KZ_ERR_FAILED;
    arrays.keep = true;
    float* const o[8] = {*outs[0], *outs[1], *outs[2], *outs[3], *outs[4], *outs[5], *outs[6], *outs[7]};
    const ptrdiff_t pw2 = ptrdiff_t(W2), plane2 = ptrdiff_t(W2 * H2);

    // Pass 1 by plane z.
    RunRegion(TeamSize(form, d), [&](unsigned t, unsigned team) {
        float* A2 = scratch + t * perThread;
        float* A1 = A2 + Lines64(planeFloats);
        float* e = A1 + Lines64(planeFloats);
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            for (size_t z = t; z < d; z += team) {
                AnalyzeRows<float, A, FT, kRow>(vol + z * w * h, w, h, w, A2, A1, pw2, F2, F1, L,
                                                reinterpret_cast<A*>(e));
                const size_t k = z < D2 ? z : z - D2;
                const int hiHalf = z < D2 ? 0 : 1;
                for (int s = 0; s < 2; ++s)
                    AnalyzeLines<float, A, FT, kWide>(s == 0 ? A2 : A1, 1, pw2, W2, h,
                                                       o[4 * s + hiHalf] + k * plane2,
                                                       o[4 * s + 2 + hiHalf] + k * plane2, 1, pw2, F2, F1, L, e);
            }
        });
    });
    // Pass 2 by row y of the half height: lines of d samples into all eight.
    RunRegion(TeamSize(form, H2), [&](unsigned t, unsigned team) {
        float* e = scratch + t * perThread + 2 * Lines64(planeFloats);
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            for (size_t y = t; y < H2; y += team)
                for (int s = 0; s < 4; ++s)
                    AnalyzeLines<float, A, FT, kWide>(o[2 * s] + y * W2, 1, plane2, W2, d, o[2 * s] + y * W2,
                                                       o[2 * s + 1] + y * W2, 1, plane2, F2, F1, L, e,
                                                       o[2 * s + 1] + y * W2, D2);
        });
    });
    return KZ_OK;
}

// Passes of the reconstruction, with the memory they need beyond the output:
// 1. Z, by row of the half height: the pairs (o0, o1), (o2, o3), (o4, o5),
//    (o6, o7) give C22, C21, C12 and C11 of w2 x h2 x d samples each. Plane z
//    of C_s is kept in the output volume at plane z, offset s x w2 x h2: the
//    four fill the plane exactly.
// 2. Y and X, plane by plane: plane z of C22 and C21 gives the w2 x h plane
//    buffer D2 of the thread, C12 and C11 give D1, and the rows of D2 and D1
//    give plane z of the output, which is written only after its C planes
//    have been read.
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
    // Per thread: the two plane buffers and two line buffers, which serve the
    // lines along z and y and the rows along x.
    size_t outBytes = 0, planeFloats = 0, extFloats = 0, perThread = 0, scratchFloats = 0, scratchBytes = 0;
    if (W > 0xFFFFFFFFull || H > 0xFFFFFFFFull || D > 0xFFFFFFFFull ||
        !SizeProduct(outBytes, W, H, D, sizeof(float)) || !SizeProduct(planeFloats, w2, H) ||
        !SizeProduct(extFloats, SynthesisExtent(std::max(h2, d2), L), kWide) || planeFloats > (SIZE_MAX >> 3) ||
        !SizeProduct(extFloats, std::max(extFloats, SynthRowsWork(w2, L, kRow)), 1) || extFloats > (SIZE_MAX >> 3) ||
        !SizeProduct(perThread, 2 * Lines64(planeFloats) + 2 * Lines64(extFloats), 1) ||
        !SizeProduct(scratchFloats, perThread, T) ||
        __builtin_add_overflow(scratchFloats, Lines64(2 * sizeof(FT) * L / sizeof(float)), &scratchFloats) ||
        !SizeProduct(scratchBytes, scratchFloats, sizeof(float)))
        return KZ_ERR_FAILED;
    w = unsigned(W);
    h = unsigned(H);
    d = unsigned(D);

    Arrays3D arrays;
    float* const scratch = static_cast<float*>(arrays.Scratch(scratchBytes));
    arrays.Output(vol, outBytes);
    if (arrays.failed)
        return KZ_ERR_FAILED;
    arrays.keep = true;
    FT* rev = reinterpret_cast<FT*>(scratch + perThread * T);
    for (unsigned j = 0; j < L; ++j) {
        rev[j] = F2[L - 1 - j];
        rev[L + j] = F1[L - 1 - j];
    }
    const FT* R2 = rev;
    const FT* R1 = rev + L;
    const ptrdiff_t pw2 = ptrdiff_t(w2), plane2 = ptrdiff_t(size_t(w2) * h2), planeOut = ptrdiff_t(W * H);
    constexpr bool single = form == Form::Image8;
    float* out = vol;

    // Pass 1 by row y of the half height.
    RunRegion(TeamSize(form, h2), [&](unsigned t, unsigned team) {
        float* ea = scratch + t * perThread + 2 * Lines64(planeFloats);
        float* eb = ea + Lines64(extFloats);
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            for (size_t y = t; y < h2; y += team)
                for (int s = 0; s < 4; ++s)
                    SynthLines<float, A, FT, kWide, single>(o[2 * s] + y * w2, o[2 * s + 1] + y * w2, 1, plane2, w2,
                                                             d2, out + s * plane2 + y * w2, 1, planeOut, R2, R1, L, ea,
                                                             eb);
        });
    });
    // Pass 2 by plane z.
    RunRegion(TeamSize(form, D), [&](unsigned t, unsigned team) {
        float* D2p = scratch + t * perThread;
        float* D1p = D2p + Lines64(planeFloats);
        float* ea = D1p + Lines64(planeFloats);
        float* eb = ea + Lines64(extFloats);
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            for (size_t z = t; z < D; z += team) {
                float* plane = out + z * W * H;
                SynthLines<float, A, FT, kWide, single>(plane, plane + plane2, 1, pw2, w2, h2, D2p, 1, pw2, R2, R1,
                                                         L, ea, eb);
                SynthLines<float, A, FT, kWide, single>(plane + 2 * plane2, plane + 3 * plane2, 1, pw2, w2, h2, D1p,
                                                         1, pw2, R2, R1, L, ea, eb);
                SynthRows<float, A, FT, kRow, single>(D2p, D1p, pw2, H, w2, plane, ptrdiff_t(W), R2, R1, L, ea, eb);
            }
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
