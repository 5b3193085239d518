// Coiflet and Daubechies filter banks.
#include "numerics/CKzWavelet.h"

#include "gnr_system/CKzAlloc.h"
#include "numerics/KzWaveletInternal.h"

#include <array>
#include <atomic>
#include <cstdlib>

namespace {
#include "numerics/KzWaveletTables.inc"

template <size_t N>
constexpr std::array<float, N> ToFloat(const double (&table)[N])
{
    std::array<float, N> out{};
    for (size_t i = 0; i < N; ++i)
        out[i] = static_cast<float>(table[i]);
    return out;
}

#define KZ_DAUB_FLOAT(n) constexpr auto kDaubF##n = ToFloat(kDaub##n);
KZ_DAUB_FLOAT(1) KZ_DAUB_FLOAT(2) KZ_DAUB_FLOAT(3) KZ_DAUB_FLOAT(4) KZ_DAUB_FLOAT(5) KZ_DAUB_FLOAT(6)
KZ_DAUB_FLOAT(7) KZ_DAUB_FLOAT(8) KZ_DAUB_FLOAT(9) KZ_DAUB_FLOAT(10) KZ_DAUB_FLOAT(11) KZ_DAUB_FLOAT(12)
KZ_DAUB_FLOAT(13) KZ_DAUB_FLOAT(14) KZ_DAUB_FLOAT(15) KZ_DAUB_FLOAT(16) KZ_DAUB_FLOAT(17) KZ_DAUB_FLOAT(18)
KZ_DAUB_FLOAT(19) KZ_DAUB_FLOAT(20) KZ_DAUB_FLOAT(21) KZ_DAUB_FLOAT(22) KZ_DAUB_FLOAT(23) KZ_DAUB_FLOAT(24)
KZ_DAUB_FLOAT(25) KZ_DAUB_FLOAT(26) KZ_DAUB_FLOAT(27) KZ_DAUB_FLOAT(28) KZ_DAUB_FLOAT(29) KZ_DAUB_FLOAT(30)
KZ_DAUB_FLOAT(31) KZ_DAUB_FLOAT(32) KZ_DAUB_FLOAT(33) KZ_DAUB_FLOAT(34) KZ_DAUB_FLOAT(35) KZ_DAUB_FLOAT(36)
KZ_DAUB_FLOAT(37) KZ_DAUB_FLOAT(38)
#undef KZ_DAUB_FLOAT

const double* const kDaubTables[38] = {
    kDaub1, kDaub2, kDaub3, kDaub4, kDaub5, kDaub6, kDaub7, kDaub8, kDaub9, kDaub10,
    kDaub11, kDaub12, kDaub13, kDaub14, kDaub15, kDaub16, kDaub17, kDaub18, kDaub19, kDaub20,
    kDaub21, kDaub22, kDaub23, kDaub24, kDaub25, kDaub26, kDaub27, kDaub28, kDaub29, kDaub30,
    kDaub31, kDaub32, kDaub33, kDaub34, kDaub35, kDaub36, kDaub37, kDaub38};
const float* const kDaubTablesF[38] = {
    kDaubF1.data(), kDaubF2.data(), kDaubF3.data(), kDaubF4.data(), kDaubF5.data(),
    kDaubF6.data(), kDaubF7.data(), kDaubF8.data(), kDaubF9.data(), kDaubF10.data(),
    kDaubF11.data(), kDaubF12.data(), kDaubF13.data(), kDaubF14.data(), kDaubF15.data(),
    kDaubF16.data(), kDaubF17.data(), kDaubF18.data(), kDaubF19.data(), kDaubF20.data(),
    kDaubF21.data(), kDaubF22.data(), kDaubF23.data(), kDaubF24.data(), kDaubF25.data(),
    kDaubF26.data(), kDaubF27.data(), kDaubF28.data(), kDaubF29.data(), kDaubF30.data(),
    kDaubF31.data(), kDaubF32.data(), kDaubF33.data(), kDaubF34.data(), kDaubF35.data(),
    kDaubF36.data(), kDaubF37.data(), kDaubF38.data()};
const double* const kCoifTables[5] = {kCoif1, kCoif2, kCoif3, kCoif4, kCoif5};

// The Coiflet scale is the four-digit constant, not 1/sqrt(2): hosts compare
// against results made with it.
constexpr double kCoifScale = 0.7071;

// Fills `filter` with the table (mirror: (-1)^i x table[n - 1 - i]) times
// `scale`; allocates it when null.
template <class T, class S>
int Deliver(T*& filter, int* taps, const S* table, int n, bool mirror, double scale, bool scaled)
{
    if (table == nullptr || taps == nullptr)
        return KZ_ERR_FAILED;
    *taps = n;
    if (filter == nullptr) {
        filter = static_cast<T*>(kzwavelet::Malloc(sizeof(T) * size_t(n)));
        if (filter == nullptr)
            return KZ_ERR_FAILED;
    }
    for (int i = 0; i < n; ++i) {
        T v = mirror ? T(table[n - 1 - i]) : T(table[i]);
        if (mirror && (i & 1))
            v = -v;
        filter[i] = scaled ? T(v * scale) : v;
    }
    return KZ_OK;
}

template <class T>
int Release(T*& filter)
{
    if (filter == nullptr)
        return KZ_ERR_FAILED;
    std::free(filter);
    filter = nullptr;
    return KZ_OK;
}

std::atomic<int> g_failAfter{0};

bool InjectFailure()
{
    int n = g_failAfter.load(std::memory_order_relaxed);
    while (n > 0) {
        if (g_failAfter.compare_exchange_weak(n, n - 1, std::memory_order_relaxed))
            return n == 1;
    }
    return false;
}
}  // namespace

namespace kzwavelet {
void FailAllocationAfter(int n)
{
    g_failAfter.store(n < 0 ? 0 : n, std::memory_order_relaxed);
}
void* Malloc(size_t bytes)
{
    return InjectFailure() ? nullptr : std::malloc(bytes);
}
void* AllocNoZero(size_t bytes)
{
    return InjectFailure() ? nullptr : CKzAlloc::Alloc(0, bytes);
}
}  // namespace kzwavelet

const double* CKzCoiflets2DWave::GetGradePtr(int grade)
{
    return grade >= 1 && grade <= 5 ? kCoifTables[grade - 1] : nullptr;
}
int CKzCoiflets2DWave::GetMotherWavelet(double*& filter, int* taps, int grade)
{
    return Deliver(filter, taps, GetGradePtr(grade), 6 * grade, false, kCoifScale, true);
}
int CKzCoiflets2DWave::GetFatherWavelet(double*& filter, int* taps, int grade)
{
    return Deliver(filter, taps, GetGradePtr(grade), 6 * grade, true, kCoifScale, true);
}
int CKzCoiflets2DWave::FreeWavelet(double*& filter)
{
    return Release(filter);
}

const double* CKzDaubechies2DWave::GetGradePtr(int grade)
{
    return grade >= 1 && grade <= 38 ? kDaubTables[grade - 1] : nullptr;
}
const float* CKzDaubechies2DWave::GetGradePtrF(int grade)
{
    return grade >= 1 && grade <= 38 ? kDaubTablesF[grade - 1] : nullptr;
}
int CKzDaubechies2DWave::GetMotherWavelet(double*& filter, int* taps, int grade)
{
    return Deliver(filter, taps, GetGradePtr(grade), 2 * grade, false, 1.0, false);
}
int CKzDaubechies2DWave::GetMotherWavelet(float*& filter, int* taps, int grade)
{
    return Deliver(filter, taps, GetGradePtrF(grade), 2 * grade, false, 1.0, false);
}
int CKzDaubechies2DWave::GetFatherWavelet(double*& filter, int* taps, int grade)
{
    return Deliver(filter, taps, GetGradePtr(grade), 2 * grade, true, 1.0, false);
}
int CKzDaubechies2DWave::GetFatherWavelet(float*& filter, int* taps, int grade)
{
    return Deliver(filter, taps, GetGradePtrF(grade), 2 * grade, true, 1.0, false);
}
int CKzDaubechies2DWave::FreeWavelet(double*& filter)
{
    return Release(filter);
}
int CKzDaubechies2DWave::FreeWavelet(float*& filter)
{
    return Release(filter);
}

double ScalarMulti(double* a, double* b, unsigned int n)
{
    double sum = 0.0;
    for (unsigned int i = 0; i < n; ++i)
        sum += a[i] * b[i];
    return sum;
}

int ConstructInverseFilter(double* destination, double* source, unsigned int n)
{
    for (unsigned int j = 0; j < n; ++j)
        destination[j] = source[n - 1 - j];
    return KZ_OK;
}
