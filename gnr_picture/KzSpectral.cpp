#pragma GCC optimize("O3", "fp-contract=off")
// Spectral rendering and statistics.
//
// Sums are single precision in a fixed order, so every processor and every
// band split gives the same bytes: the integer members add the products of
// eight run channels as ((p0 + p1) + (p2 + p3)) + ((p4 + p5) + (p6 + p7)) and
// then add that step into the running sum; the float statistics do the same
// with four channels, (p0 + p1) + (p2 + p3). Channels that are not visible,
// and the padding of the run, add nothing. Only the samples of the run's real
// channels are read, so no read passes the end of a pixel or of the picture.
#include "gnr_picture/KzSpectral.h"

#include "gnr_picture/KzProcessorCount.h"
#include "gnr_picture/KzWorkerThreads.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

typedef float v4 __attribute__((vector_size(16)));

constexpr float kByteToUnit = 0.003921569f;

template <class T>
T* Alloc(size_t count)
{
    return static_cast<T*>(std::malloc(std::max<size_t>(1, count) * sizeof(T)));
}

// Colour vector of a 0x00BBGGRR value: red, green, blue, fourth byte, each x 1/255.
void ColourVector(float* out, uint32_t colour)
{
    for (int i = 0; i < 4; ++i)
        out[i] = float((colour >> (8 * i)) & 0xFF) * kByteToUnit;
}

const unsigned char* Palette(const SKzLut* lut)
{
    const int index = lut->iPredefLut;
    if (index < 0 || size_t(index) >= SKzLut::vecPredefLuts.size())
        return nullptr;
    const SKzLut::SKzPredefLut* entry = SKzLut::vecPredefLuts[size_t(index)];
    return entry != nullptr ? entry->pTable : nullptr;
}

// Byte of a rendered value: at most 255 (not a number: 255), at least 0,
// truncated toward zero.
inline unsigned char ToByte(float w)
{
    if (!(w <= 255.0f))
        w = 255.0f;
    if (w < 0.0f)
        w = 0.0f;
    return static_cast<unsigned char>(static_cast<int>(w));
}

inline void Store(unsigned char* out, float red, float green, float blue, const unsigned char* palette)
{
    unsigned char b = ToByte(blue), g = ToByte(green), r = ToByte(red);
    if (palette != nullptr) {
        b = palette[3 * b + 2];
        g = palette[3 * g + 1];
        r = palette[3 * r];
    }
    out[0] = b;
    out[1] = g;
    out[2] = r;
}

inline bool IsNotOne(float gamma)
{
    return !std::isnan(gamma) && gamma != 1.0f;
}

// Sum of the run channels of one pixel in steps of B channels; value(j)
// gives channel j's value (0 for channels that add nothing).
template <int B, class Value>
inline v4 StepSum(const v4* colours, unsigned padded, Value&& value)
{
    v4 acc = {0, 0, 0, 0};
    for (unsigned step = 0; step < padded; step += B) {
        v4 p[B];
        for (int l = 0; l < B; ++l)
            p[l] = colours[step + l] * value(step + l);
        if constexpr (B == 8)
            acc += ((p[0] + p[1]) + (p[2] + p[3])) + ((p[4] + p[5]) + (p[6] + p[7]));
        else
            acc += (p[0] + p[1]) + (p[2] + p[3]);
    }
    return acc;
}

// Row split: T = min(processors, rows) bands, band j of rows
// floor(j rows / T) .. floor((j + 1) rows / T) - 1; band 0 runs on the calling
// thread, the others on threads started here (or on the calling thread when
// one cannot start), so every row is always covered.
unsigned BandCount(unsigned rows)
{
    const int p = KZ_GetProcessorCount();
    return (p >= 1 && rows >= 1) ? std::min(unsigned(p), rows) : 1u;
}

// The processor count is read once per call (BandCount), so the band split,
// the band records and the result slots always agree.
template <class Band>
int SplitRows(unsigned rows, unsigned T, Band&& band)
{
    auto firstRow = [&](unsigned j) { return unsigned(uint64_t(j) * rows / T); };
    kzthreads::RunTasks(T, [&](unsigned j) { band(j, firstRow(j), (j + 1 == T ? rows : firstRow(j + 1)) - 1); });
    return KZ_OK;
}

unsigned RowCount(uint64_t count, unsigned width)
{
    if (width == 0)
        return 0;
    const uint64_t rows = count / width;
    return rows > 0xFFFFFFFFull ? 0xFFFFFFFFu : unsigned(rows);
}

template <class S>
inline const S* Row(const S* src, unsigned stride, unsigned r)
{
    return reinterpret_cast<const S*>(reinterpret_cast<const unsigned char*>(src) + size_t(r) * stride);
}

// Float range of a float picture: both 0 means 0..1; a range that is not
// above 0 or not finite counts as 1.
float FloatRange(float min, float max)
{
    const float mn = std::isnan(min) ? 0.0f : min;
    const float mx = std::isnan(max) ? 0.0f : max;
    if (mn == 0.0f && mx == 0.0f)
        max = 1.0f;
    const float range = max - std::min(min, 0.0f);
    return (range > 0.0f && std::isfinite(range)) ? range : 1.0f;
}

bool LutUsable(const SKzLut* lut, unsigned nComps)
{
    return lut != nullptr && lut->pParametric != nullptr && nComps <= lut->uiInComp;
}

// The arrays of one call, released on every path.
template <class T>
struct Arrays {
    T* mask = nullptr;
    unsigned first = 0, padded = 0;
    float* colours = nullptr;
    float* offsets = nullptr;
    float* gains = nullptr;
    float* gammas = nullptr;
    unsigned char* over = nullptr;
    unsigned char* under = nullptr;
    bool withGammas = false;
    ~Arrays()
    {
        if (withGammas)
            finish_arrays<T>(mask, colours, offsets, gains, gammas);
        else
            finish_arrays<T>(mask, colours, offsets, gains, over, under);
    }
};

// --------------------------------------------------------------------------
// Vector render members
// --------------------------------------------------------------------------

template <class S, class T>
void RenderBand(unsigned firstRow, unsigned lastRow, unsigned width, unsigned char* dst, unsigned dstStride,
                const S* src, unsigned srcStride, unsigned nComps, const T* mask, unsigned first, unsigned padded,
                const float* colours, const float* offsets, const float* gains, float gamma, float scale,
                const unsigned char* palette, const unsigned char* over, const unsigned char* under, unsigned top)
{
    const v4* col = reinterpret_cast<const v4*>(colours);
    const bool powered = IsNotOne(gamma);
    // Channels past the last visible one are padding (mask 0): never read.
    unsigned real = padded;
    while (real > 0 && mask[real - 1] == 0)
        --real;
    for (unsigned r = firstRow; r <= lastRow; ++r) {
        const S* row = Row(src, srcStride, r);
        unsigned char* out = dst + size_t(r) * dstStride;
        for (unsigned x = 0; x < width; ++x, out += 3) {
            const S* s = row + size_t(x) * nComps + first;
            if (over != nullptr || under != nullptr) {
                const unsigned char* paint = nullptr;
                for (unsigned j = 0; j < real && paint == nullptr; ++j) {
                    if (mask[j] == 0)
                        continue;
                    if (under != nullptr && s[j] == 0)
                        paint = under + 3 * j;
                    else if (over != nullptr && unsigned(s[j]) == top)
                        paint = over + 3 * j;
                }
                if (paint != nullptr) {
                    out[0] = paint[0];
                    out[1] = paint[1];
                    out[2] = paint[2];
                    continue;
                }
            }
            const v4 sum = StepSum<8>(col, padded, [&](unsigned j) {
                return j < real && mask[j] != 0 ? (float(s[j]) + offsets[j]) * gains[j] : 0.0f;
            });
            float v[3];
            for (int c = 0; c < 3; ++c) {
                v[c] = sum[c] * scale;
                if (powered && v[c] > 0.0f)
                    v[c] = powf(v[c], gamma);
            }
            Store(out, v[0] * 255.0f, v[1] * 255.0f, v[2] * 255.0f, palette);
        }
    }
}

template <class S, class T>
int RenderVector(unsigned char* dst, unsigned dstStride, S* src, unsigned bits, unsigned srcStride, unsigned nComps,
                 SKzLut* lut, unsigned width, unsigned count, unsigned loBits, unsigned hiBits,
                 void* (*threadproc)(SKzSpectBand*))
{
    if (!LutUsable(lut, nComps) || bits < loBits || bits > hiBits)
        return KZ_ERR_INVALID_ARG;
    const unsigned rows = RowCount(count, width);
    if (rows == 0)
        return KZ_OK;
    const unsigned char* palette = Palette(lut);
    Arrays<T> a;
    if (prepare_arrays<T>(a.mask, a.first, a.padded, a.colours, a.offsets, a.gains, lut, nComps, a.over, a.under) !=
        0)
        return KZ_ERR_OUT_OF_MEMORY;
    const unsigned M = (1u << bits) - 1;
    const float scale = 1.0f / float(M);
    const float gamma = float(lut->pParametric[0].dGamma);
    __m128iEx top, ones;
    top.v = sizeof(S) == 1 ? _mm_set1_epi8(char(M)) : _mm_set1_epi16(short(M));
    ones.v = _mm_set1_epi32(-1);
    // Without room for the band records every row is drawn on the calling thread.
    unsigned team = BandCount(rows);
    SKzSpectBand* bands = nullptr;
    if (team > 1) {
        bands = static_cast<SKzSpectBand*>(std::malloc(sizeof(SKzSpectBand) * team));
        if (bands == nullptr)
            team = 1;
    }
    struct FreeBands {
        SKzSpectBand* p;
        ~FreeBands() { std::free(p); }
    } freeBands{bands};
    return SplitRows(rows, team, [&](unsigned j, unsigned r0, unsigned r1) {
        if (j == 0) {
            RenderBand<S, T>(r0, r1, width, dst, dstStride, src, srcStride, nComps, a.mask, a.first, a.padded,
                             a.colours, a.offsets, a.gains, gamma, scale, palette, a.over, a.under, M);
            return;
        }
        SKzSpectBand& b = bands[j];
        b = SKzSpectBand{};
        b.pDst = dst;
        b.uiDstStride = dstStride;
        b.pSrc = src;
        b.uiSrcStride = srcStride;
        b.uiComps = nComps;
        b.pMask = a.mask;
        b.uiFirst = a.first;
        b.uiPadded = a.padded;
        b.pColors = a.colours;
        b.pOffsets = a.offsets;
        b.pGains = a.gains;
        b.fGamma = gamma;
        b.fScale = scale;
        b.pPalette = const_cast<unsigned char*>(palette);
        b.pTop = &top;
        b.pOnes = &ones;
        b.pOver = a.over;
        b.pUnder = a.under;
        b.uiWidth = width;
        b.uiFirstRow = r0;
        b.uiLastRow = r1;
        threadproc(&b);
    });
}

// Top value M of a band: lane 0 of its top-value vector.
template <class S>
unsigned TopOf(const __m128iEx* top)
{
    S lanes[16 / sizeof(S)];
    std::memcpy(lanes, &top->v, sizeof lanes);
    return lanes[0];
}

// --------------------------------------------------------------------------
// Portable render members
// --------------------------------------------------------------------------

template <class S, class T>
int RenderPortable(unsigned char* dst, unsigned dstStride, const S* src, unsigned bits, unsigned srcStride,
                   unsigned nComps, SKzLut* lut, unsigned width, unsigned count, unsigned loBits, unsigned hiBits,
                   bool markOver)
{
    if (!LutUsable(lut, nComps) || bits < loBits || bits > hiBits)
        return KZ_ERR_INVALID_ARG;
    const unsigned rows = RowCount(count, width);
    if (rows == 0)
        return KZ_OK;
    const unsigned char* palette = Palette(lut);
    Arrays<T> a;
    a.withGammas = true;
    if (prepare_arrays<T>(a.mask, a.first, a.padded, a.colours, a.offsets, a.gains, a.gammas, lut, nComps) != 0)
        return KZ_ERR_OUT_OF_MEMORY;
    const unsigned M = (1u << bits) - 1;
    const float k = (1.0f / float(M)) * 255.0f;
    const SKzLutExpColor* overColour = markOver ? lut->pOverExpColor : nullptr;
    const v4* col = reinterpret_cast<const v4*>(a.colours);
    unsigned real = a.padded;
    while (real > 0 && a.mask[real - 1] == 0)
        --real;
    for (unsigned r = 0; r < rows; ++r) {
        const S* row = Row(src, srcStride, r);
        unsigned char* out = dst + size_t(r) * dstStride;
        for (unsigned x = 0; x < width; ++x, out += 3) {
            const S* s = row + size_t(x) * nComps + a.first;
            v4 sum = {0, 0, 0, 0};
            bool painted = false;
            for (unsigned j = 0; j < real; ++j) {
                if (a.mask[j] == 0)
                    continue;
                if (overColour != nullptr && unsigned(s[j]) == M) {
                    out[0] = overColour->blue;
                    out[1] = overColour->green;
                    out[2] = overColour->red;
                    painted = true;
                    break;
                }
                const float t = (float(s[j]) + a.offsets[j]) * a.gains[j];
                sum += t * col[j];
            }
            if (!painted)
                Store(out, sum[0] * k, sum[1] * k, sum[2] * k, palette);
        }
    }
    return KZ_OK;
}

// --------------------------------------------------------------------------
// Statistics
// --------------------------------------------------------------------------

// Channel value of a plain member: the sample ANDed with its flag.
template <class S, class F>
inline float FlaggedValue(S sample, F flag)
{
    if constexpr (std::is_same_v<S, float>) {
        uint32_t bits;
        std::memcpy(&bits, &sample, 4);
        bits &= flag;
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    } else {
        return float(unsigned(sample) & unsigned(flag));
    }
}

inline void KeepMax(v4& slot, v4 v)
{
    for (int c = 0; c < 4; ++c)
        if (v[c] > slot[c])
            slot[c] = v[c];
}

// Runs a band walk whose per-pixel values raise the band's maximum slot.
template <class Walk>
void MaxIntoSlot(__m128Ex* slot, Walk&& walk)
{
    v4 m = reinterpret_cast<v4&>(slot->v);
    walk([&](v4 v) { KeepMax(m, v); });
    reinterpret_cast<v4&>(slot->v) = m;
}

inline void Count(unsigned* blue, unsigned* green, unsigned* red, v4 v)
{
    auto bin = [](float x) {
        x += 0.5f;
        if (!(x <= 255.0f))
            x = 255.0f;
        if (x < 0.0f)
            x = 0.0f;
        return unsigned(int(x));
    };
    ++red[bin(v[0])];
    ++green[bin(v[1])];
    ++blue[bin(v[2])];
}

// Plain members: channels 0 .. padded - 1 of each pixel, value = sample AND flag.
template <int B, class S, class F, class Sink>
void PlainBand(unsigned r0, unsigned r1, unsigned width, const S* src, unsigned srcStride, unsigned nComps,
               const F* flags, unsigned padded, const float* colours, float scale, Sink&& sink)
{
    const v4* col = reinterpret_cast<const v4*>(colours);
    const unsigned real = std::min(nComps, padded);
    for (unsigned r = r0; r <= r1; ++r) {
        const S* row = Row(src, srcStride, r);
        for (unsigned x = 0; x < width; ++x) {
            const S* s = row + size_t(x) * nComps;
            const v4 sum = StepSum<B>(col, padded, [&](unsigned j) {
                return j < real ? FlaggedValue<S, F>(s[j], flags[j]) : 0.0f;
            });
            sink(sum * scale);
        }
    }
}

// ex members: visible channels of the run from `first`, value = (s + offset) x gain.
template <int B, class S, class T, class Sink>
void ExBand(unsigned r0, unsigned r1, unsigned width, const S* src, unsigned srcStride, unsigned nComps,
            const T* mask, unsigned first, unsigned padded, const float* colours, const float* offsets,
            const float* gains, float scale, Sink&& sink)
{
    const v4* col = reinterpret_cast<const v4*>(colours);
    unsigned real = padded;
    while (real > 0 && mask[real - 1] == 0)
        --real;
    for (unsigned r = r0; r <= r1; ++r) {
        const S* row = Row(src, srcStride, r);
        for (unsigned x = 0; x < width; ++x) {
            const S* s = row + size_t(x) * nComps + first;
            const v4 sum = StepSum<B>(col, padded, [&](unsigned j) {
                return j < real && mask[j] != 0 ? (float(s[j]) + offsets[j]) * gains[j] : 0.0f;
            });
            sink(sum * scale);
        }
    }
}

// Plain channel arrays: n = 8 ceil(N / 8) channels from component 0.
template <class S>
struct PlainArrays {
    S* mask = nullptr;
    float* colours = nullptr;
    unsigned padded = 0;
    ~PlainArrays()
    {
        std::free(mask);
        std::free(colours);
    }
    bool Build(unsigned nComps, const unsigned* colourValues, const S* flags)
    {
        padded = 8 * ((nComps + 7) / 8);
        mask = Alloc<S>(size_t(padded) + 8);
        colours = Alloc<float>(size_t(padded) * 4);
        if (mask == nullptr || colours == nullptr)
            return false;
        std::memset(mask, 0, (size_t(padded) + 8) * sizeof(S));
        std::memset(colours, 0, size_t(padded) * 4 * sizeof(float));
        for (unsigned j = 0; j < nComps; ++j) {
            mask[j] = flags != nullptr ? flags[j] : S(0);
            if (colourValues != nullptr)
                ColourVector(colours + 4 * size_t(j), colourValues[j]);
        }
        return true;
    }
};

// Maximum members: one slot per band, merged after the joins.
template <class Fn>
int MaxOverBands(double* maxOut, unsigned rows, Fn&& band)
{
    // Without room for a slot per band one band on the calling thread
    // measures every row into a slot of its own.
    __m128Ex single;
    unsigned slots = BandCount(rows);
    __m128Ex* slot = slots > 1 ? static_cast<__m128Ex*>(std::aligned_alloc(16, sizeof(__m128Ex) * slots)) : nullptr;
    if (slot == nullptr)
        slots = 1;
    struct FreeSlots {
        __m128Ex* p;
        ~FreeSlots() { std::free(p); }
    } freeSlots{slot};
    if (slot == nullptr)
        slot = &single;
    for (unsigned i = 0; i < slots; ++i)
        slot[i].v = _mm_setzero_ps();
    const int r = SplitRows(rows, slots, [&](unsigned j, unsigned r0, unsigned r1) { band(j, r0, r1, &slot[j]); });
    if (r == KZ_OK) {
        float best[4] = {0, 0, 0, 0};
        for (unsigned i = 0; i < slots; ++i) {
            float lanes[4];
            std::memcpy(lanes, &slot[i].v, sizeof lanes);
            for (int c = 0; c < 4; ++c)
                best[c] = std::max(best[c], lanes[c]);
        }
        maxOut[0] = best[2];
        maxOut[1] = best[1];
        maxOut[2] = best[0];
    }
    return r;
}

// Histogram members: band 0 counts into the caller's arrays, band j into a
// private block; blocks are added in band order after the joins.
template <class Fn>
int HistOverBands(unsigned* blue, unsigned* green, unsigned* red, unsigned rows, Fn&& band)
{
    // Without room for the private blocks one band on the calling thread
    // counts every row straight into the caller's histograms.
    unsigned T = BandCount(rows);
    unsigned* blocks = nullptr;
    if (T > 1) {
        blocks = static_cast<unsigned*>(std::calloc(size_t(T - 1) * 768, sizeof(unsigned)));
        if (blocks == nullptr)
            T = 1;
    }
    const int r = SplitRows(rows, T, [&](unsigned j, unsigned r0, unsigned r1) {
        if (j == 0)
            band(r0, r1, blue, green, red);
        else {
            unsigned* b = blocks + size_t(j - 1) * 768;
            band(r0, r1, b, b + 256, b + 512);
        }
    });
    if (r == KZ_OK)
        for (unsigned j = 1; j < T; ++j) {
            const unsigned* b = blocks + size_t(j - 1) * 768;
            for (int i = 0; i < 256; ++i) {
                blue[i] += b[i];
                green[i] += b[256 + i];
                red[i] += b[512 + i];
            }
        }
    std::free(blocks);
    return r;
}

void ZeroMax(double* maxOut)
{
    maxOut[0] = maxOut[1] = maxOut[2] = 0.0;
}

template <class S, class F>
int GetMaxPlain(double* maxOut, const S* src, unsigned srcStride, unsigned nComps, unsigned width, uint64_t count,
                const unsigned* colours, const F* flags, float scale,
                void (*calc)(unsigned, unsigned, unsigned, S*, unsigned, unsigned, F*, unsigned, float*, float,
                             __m128Ex*))
{
    const unsigned rows = RowCount(count, width);
    if (rows == 0) {
        ZeroMax(maxOut);
        return KZ_OK;
    }
    PlainArrays<F> a;
    if (!a.Build(nComps, colours, flags))
        return KZ_ERR_OUT_OF_MEMORY;
    return MaxOverBands(maxOut, rows, [&](unsigned, unsigned r0, unsigned r1, __m128Ex* slot) {
        calc(r0, r1, width, const_cast<S*>(src), srcStride, nComps, a.mask, a.padded, a.colours, scale, slot);
    });
}

template <class S, class T>
int GetMaxEx(double* maxOut, const S* src, unsigned srcStride, unsigned nComps, unsigned width, uint64_t count,
             SKzLut* lut, float scaleBase,
             void (*calc)(unsigned, unsigned, unsigned, S*, unsigned, unsigned, T*, unsigned, unsigned, float*, float*,
                          float*, float, __m128Ex*))
{
    const unsigned rows = RowCount(count, width);
    const unsigned V = lut->maskComp.GetCount(-1);
    if (rows == 0 || V == 0) {
        ZeroMax(maxOut);
        return KZ_OK;
    }
    Arrays<T> a;
    if (prepare_arrays<T>(a.mask, a.first, a.padded, a.colours, a.offsets, a.gains, lut, nComps, a.over, a.under) !=
        0)
        return KZ_ERR_OUT_OF_MEMORY;
    const float scale = 255.0f / (float(V) * scaleBase);
    return MaxOverBands(maxOut, rows, [&](unsigned, unsigned r0, unsigned r1, __m128Ex* slot) {
        calc(r0, r1, width, const_cast<S*>(src), srcStride, nComps, a.mask, a.first, a.padded, a.colours, a.offsets,
             a.gains, scale, slot);
    });
}
}  // namespace

// --------------------------------------------------------------------------
// Channel preparation
// --------------------------------------------------------------------------

namespace {
template <class T>
int PrepareCommon(T*& mask, unsigned& first, unsigned& padded, float*& colours, float*& offsets, float*& gains,
                  float** gammas, const SKzLut* lut, unsigned nComps, unsigned& runLength)
{
    unsigned f = nComps;
    for (unsigned k = 0; k < nComps; ++k)
        if (lut->maskComp.Get(k)) {
            f = k;
            break;
        }
    unsigned L = 0;
    if (f < nComps) {
        unsigned last = f;
        for (unsigned k = nComps; k-- > 0;)
            if (lut->maskComp.Get(k)) {
                last = k;
                break;
            }
        L = last - f + 1;
    }
    const unsigned n = 8 * ((L + 7) / 8);
    mask = Alloc<T>(size_t(n) + 8 / sizeof(T) + 1);
    colours = Alloc<float>(size_t(n) * 4);
    offsets = Alloc<float>(n);
    gains = Alloc<float>(n);
    if (gammas != nullptr)
        *gammas = Alloc<float>(n);
    if (mask == nullptr || colours == nullptr || offsets == nullptr || gains == nullptr ||
        (gammas != nullptr && *gammas == nullptr)) {
        std::free(mask);
        std::free(colours);
        std::free(offsets);
        std::free(gains);
        if (gammas != nullptr) {
            std::free(*gammas);
            *gammas = nullptr;
        }
        mask = nullptr;
        colours = offsets = gains = nullptr;
        return KZ_ERR_OUT_OF_MEMORY;
    }
    std::memset(mask, 0, (size_t(n) + 8 / sizeof(T) + 1) * sizeof(T));
    for (unsigned j = 0; j < n; ++j) {
        if (j < L) {
            const SKzLutParametric& p = lut->pParametric[f + j];
            ColourVector(colours + 4 * size_t(j), p.uiColor);
            offsets[j] = float(p.dOffset);
            gains[j] = float(p.dGain);
            if (gammas != nullptr)
                (*gammas)[j] = float(p.dGamma);
            mask[j] = lut->maskComp.Get(f + j) ? T(~T(0)) : T(0);
        } else {
            std::memset(colours + 4 * size_t(j), 0, 4 * sizeof(float));
            offsets[j] = 0.0f;
            gains[j] = 1.0f;
            if (gammas != nullptr)
                (*gammas)[j] = 1.0f;
        }
    }
    first = f;
    padded = n;
    runLength = L;
    return KZ_OK;
}

unsigned char* Triples(const SKzLutExpColor* record, const SKzLut* lut, unsigned first, unsigned L, unsigned n)
{
    unsigned char* t = static_cast<unsigned char*>(std::calloc(std::max(1u, n) * 3, 1));
    if (t == nullptr)
        return nullptr;
    for (unsigned j = 0; j < L; ++j) {
        unsigned char* e = t + 3 * size_t(j);
        if (record->flag == 0) {
            e[0] = record->blue;
            e[1] = record->green;
            e[2] = record->red;
        } else {
            const uint32_t c = lut->pParametric[first + j].uiColor;  // 0x00BBGGRR
            e[0] = static_cast<unsigned char>(255 - ((c >> 16) & 0xFF));
            e[1] = static_cast<unsigned char>(255 - ((c >> 8) & 0xFF));
            e[2] = static_cast<unsigned char>(255 - (c & 0xFF));
        }
    }
    return t;
}
}  // namespace

template <class T>
int prepare_arrays(T*& mask, unsigned int& first, unsigned int& padded, float*& colours, float*& offsets,
                   float*& gains, SKzLut* lut, unsigned int nComps, unsigned char*& over, unsigned char*& under)
{
    unsigned L = 0;
    if (PrepareCommon<T>(mask, first, padded, colours, offsets, gains, nullptr, lut, nComps, L) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    bool failed = false;
    if (lut->pOverExpColor != nullptr) {
        over = Triples(lut->pOverExpColor, lut, first, L, padded);
        failed |= over == nullptr;
    }
    if (lut->pUnderExpColor != nullptr) {
        under = Triples(lut->pUnderExpColor, lut, first, L, padded);
        failed |= under == nullptr;
    }
    if (failed) {
        finish_arrays<T>(mask, colours, offsets, gains, over, under);
        mask = nullptr;
        colours = offsets = gains = nullptr;
        over = under = nullptr;
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

template <class T>
int prepare_arrays(T*& mask, unsigned int& first, unsigned int& padded, float*& colours, float*& offsets,
                   float*& gains, float*& gammas, SKzLut* lut, unsigned int nComps)
{
    unsigned L = 0;
    gammas = nullptr;
    return PrepareCommon<T>(mask, first, padded, colours, offsets, gains, &gammas, lut, nComps, L);
}

template <class T>
void finish_arrays(T* mask, float* colours, float* offsets, float* gains, unsigned char* over, unsigned char* under)
{
    std::free(mask);
    std::free(colours);
    std::free(offsets);
    std::free(gains);
    std::free(over);
    std::free(under);
}

template <class T>
void finish_arrays(T* mask, float* colours, float* offsets, float* gains, float* gammas)
{
    std::free(mask);
    std::free(colours);
    std::free(offsets);
    std::free(gains);
    std::free(gammas);
}

template KZ_EXPORT int prepare_arrays<unsigned char>(unsigned char*&, unsigned&, unsigned&, float*&, float*&, float*&,
                                                     SKzLut*, unsigned, unsigned char*&, unsigned char*&);
template KZ_EXPORT int prepare_arrays<unsigned short>(unsigned short*&, unsigned&, unsigned&, float*&, float*&,
                                                      float*&, SKzLut*, unsigned, unsigned char*&, unsigned char*&);
template KZ_EXPORT int prepare_arrays<unsigned int>(unsigned int*&, unsigned&, unsigned&, float*&, float*&, float*&,
                                                    SKzLut*, unsigned, unsigned char*&, unsigned char*&);
template KZ_EXPORT int prepare_arrays<unsigned char>(unsigned char*&, unsigned&, unsigned&, float*&, float*&, float*&,
                                                     float*&, SKzLut*, unsigned);
template KZ_EXPORT int prepare_arrays<unsigned short>(unsigned short*&, unsigned&, unsigned&, float*&, float*&,
                                                      float*&, float*&, SKzLut*, unsigned);
template KZ_EXPORT void finish_arrays<unsigned char>(unsigned char*, float*, float*, float*, unsigned char*,
                                                     unsigned char*);
template KZ_EXPORT void finish_arrays<unsigned short>(unsigned short*, float*, float*, float*, unsigned char*,
                                                      unsigned char*);
template KZ_EXPORT void finish_arrays<unsigned int>(unsigned int*, float*, float*, float*, unsigned char*,
                                                    unsigned char*);
template KZ_EXPORT void finish_arrays<unsigned char>(unsigned char*, float*, float*, float*, float*);
template KZ_EXPORT void finish_arrays<unsigned short>(unsigned short*, float*, float*, float*, float*);

// --------------------------------------------------------------------------
// Render: band functions, thread entries, kernels
// --------------------------------------------------------------------------

void spect_render_Nx8_3x8_sse_overexp_underexp_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width,
                                                    unsigned char* dst, unsigned int dstStride, unsigned char* src,
                                                    unsigned int srcStride, unsigned int nComps, unsigned char* mask,
                                                    unsigned int first, unsigned int padded, float* colours,
                                                    float* offsets, float* gains, float gamma, float scale,
                                                    unsigned char* palette, unsigned char* over,
                                                    unsigned char* under, __m128iEx* top, __m128iEx* ones)
{
    RenderBand<unsigned char, unsigned char>(firstRow, lastRow, width, dst, dstStride, src, srcStride, nComps, mask,
                                             first, padded, colours, offsets, gains, gamma, scale, palette, over,
                                             under, TopOf<unsigned char>(top));
}

void spect_render_Nx16_3x8_sse_overexp_underexp_calc(unsigned int firstRow, unsigned int lastRow,
                                                     unsigned int width, unsigned char* dst, unsigned int dstStride,
                                                     unsigned short* src, unsigned int srcStride,
                                                     unsigned int nComps, unsigned short* mask, unsigned int first,
                                                     unsigned int padded, float* colours, float* offsets,
                                                     float* gains, float gamma, float scale, unsigned char* palette,
                                                     unsigned char* over, unsigned char* under, __m128iEx* top,
                                                     __m128iEx* ones)
{
    RenderBand<unsigned short, unsigned short>(firstRow, lastRow, width, dst, dstStride, src, srcStride, nComps,
                                               mask, first, padded, colours, offsets, gains, gamma, scale, palette,
                                               over, under, TopOf<unsigned short>(top));
}

void* spect_render_Nx8_3x8_sse_overexp_underexp_threadproc(SKzSpectBand* b)
{
    spect_render_Nx8_3x8_sse_overexp_underexp_calc(
        b->uiFirstRow, b->uiLastRow, b->uiWidth, b->pDst, b->uiDstStride, static_cast<unsigned char*>(b->pSrc),
        b->uiSrcStride, b->uiComps, static_cast<unsigned char*>(b->pMask), b->uiFirst, b->uiPadded, b->pColors,
        b->pOffsets, b->pGains, b->fGamma, b->fScale, b->pPalette, b->pOver, b->pUnder, b->pTop, b->pOnes);
    return nullptr;
}

void* spect_render_Nx16_3x8_sse_overexp_underexp_threadproc(SKzSpectBand* b)
{
    spect_render_Nx16_3x8_sse_overexp_underexp_calc(
        b->uiFirstRow, b->uiLastRow, b->uiWidth, b->pDst, b->uiDstStride, static_cast<unsigned short*>(b->pSrc),
        b->uiSrcStride, b->uiComps, static_cast<unsigned short*>(b->pMask), b->uiFirst, b->uiPadded, b->pColors,
        b->pOffsets, b->pGains, b->fGamma, b->fScale, b->pPalette, b->pOver, b->pUnder, b->pTop, b->pOnes);
    return nullptr;
}

int spect_render_Nx8_3x8_sse_overexp_underexp(unsigned char* dst, unsigned int dstStride, unsigned char* src,
                                              unsigned int bits, unsigned int srcStride, unsigned int nComps,
                                              SKzLut* lut, unsigned int width, unsigned int count)
{
    return RenderVector<unsigned char, unsigned char>(dst, dstStride, src, bits, srcStride, nComps, lut, width, count,
                                                      1, 8, spect_render_Nx8_3x8_sse_overexp_underexp_threadproc);
}

int spect_render_Nx16_3x8_sse_overexp_underexp(unsigned char* dst, unsigned int dstStride, unsigned short* src,
                                               unsigned int bits, unsigned int srcStride, unsigned int nComps,
                                               SKzLut* lut, unsigned int width, unsigned int count)
{
    return RenderVector<unsigned short, unsigned short>(dst, dstStride, src, bits, srcStride, nComps, lut, width,
                                                        count, 9, 16,
                                                        spect_render_Nx16_3x8_sse_overexp_underexp_threadproc);
}

int spect_render_Nx8_3x8_float_overexp(unsigned char* dst, unsigned int dstStride, unsigned char* src,
                                       unsigned int bits, unsigned int srcStride, unsigned int nComps, SKzLut* lut,
                                       unsigned int width, unsigned int count)
{
    return RenderPortable<unsigned char, unsigned char>(dst, dstStride, src, bits, srcStride, nComps, lut, width,
                                                        count, 1, 8, true);
}

int spect_render_Nx16_3x8_float_overexp(unsigned char* dst, unsigned int dstStride, unsigned short* src,
                                        unsigned int bits, unsigned int srcStride, unsigned int nComps, SKzLut* lut,
                                        unsigned int width, unsigned int count)
{
    return RenderPortable<unsigned short, unsigned short>(dst, dstStride, src, bits, srcStride, nComps, lut, width,
                                                          count, 9, 16, true);
}

int spect_render_Nx8_3x8_float(unsigned char* dst, unsigned int dstStride, unsigned char* src, unsigned int bits,
                               unsigned int srcStride, unsigned int nComps, SKzLut* lut, unsigned int width,
                               unsigned int count)
{
    return RenderPortable<unsigned char, unsigned char>(dst, dstStride, src, bits, srcStride, nComps, lut, width,
                                                        count, 1, 8, false);
}

int spect_render_Nx16_3x8_float(unsigned char* dst, unsigned int dstStride, unsigned short* src, unsigned int bits,
                                unsigned int srcStride, unsigned int nComps, SKzLut* lut, unsigned int width,
                                unsigned int count)
{
    return RenderPortable<unsigned short, unsigned short>(dst, dstStride, src, bits, srcStride, nComps, lut, width,
                                                          count, 9, 16, false);
}

int spect_render_NxFloat_3x8_float(unsigned char* dst, unsigned int dstStride, float* src, unsigned int srcStride,
                                   unsigned int nComps, SKzLut* lut, unsigned int width, unsigned long long count,
                                   float min, float max)
{
    if (!LutUsable(lut, nComps))
        return KZ_ERR_INVALID_ARG;
    const uint64_t rows64 = width == 0 ? 0 : count / width;
    if (rows64 == 0)
        return KZ_OK;
    const unsigned rows = rows64 > 0x7FFFFFFFull ? 0x7FFFFFFFu : unsigned(rows64);
    const unsigned char* palette = Palette(lut);
    Arrays<unsigned char> a;
    a.withGammas = true;
    if (prepare_arrays<unsigned char>(a.mask, a.first, a.padded, a.colours, a.offsets, a.gains, a.gammas, lut,
                                      nComps) != 0)
        return KZ_ERR_OUT_OF_MEMORY;
    const float range = FloatRange(min, max);
    const float inv = 1.0f / range;
    const float k = 255.0f * inv;
    const v4* col = reinterpret_cast<const v4*>(a.colours);
    unsigned real = a.padded;
    while (real > 0 && a.mask[real - 1] == 0)
        --real;
    for (unsigned r = 0; r < rows; ++r) {
        const float* row = src + (uint64_t(r) * srcStride) / 4;
        unsigned char* out = dst + size_t(r) * dstStride;
        for (unsigned x = 0; x < width; ++x, out += 3) {
            const float* s = row + size_t(x) * nComps + a.first;
            v4 acc = {0, 0, 0, 0};
            for (unsigned j = 0; j < real; ++j) {
                if (a.mask[j] == 0)
                    continue;
                const float t = (s[j] + a.offsets[j]) * a.gains[j];
                const float g = a.gammas[j];
                float y;
                // A non-positive base is left unpowered, as the integer kernels treat their sums.
                if (IsNotOne(g) && t * inv > 0.0f)
                    y = powf(t * inv, g) * 255.0f;
                else
                    y = t * k;
                const v4 p = col[j] * y;
                acc = (acc + p) - (acc * kByteToUnit) * p;
            }
            Store(out, acc[0], acc[1], acc[2], palette);
        }
    }
    return KZ_OK;
}

// --------------------------------------------------------------------------
// Statistics: band functions, thread entries, kernels
// --------------------------------------------------------------------------

void spect_getmaxrgb_Nx8_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width, unsigned char* src,
                                  unsigned int srcStride, unsigned int nComps, unsigned char* mask,
                                  unsigned int padded, float* colours, float scale, __m128Ex* slot)
{
    MaxIntoSlot(slot, [&](auto keep) { PlainBand<8>(firstRow, lastRow, width, src, srcStride, nComps, mask, padded, colours, scale, keep); });
}

void spect_getmaxrgb_Nx16_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width,
                                   unsigned short* src, unsigned int srcStride, unsigned int nComps,
                                   unsigned short* mask, unsigned int padded, float* colours, float scale,
                                   __m128Ex* slot)
{
    MaxIntoSlot(slot, [&](auto keep) { PlainBand<8>(firstRow, lastRow, width, src, srcStride, nComps, mask, padded, colours, scale, keep); });
}

void spect_getmaxrgb_NxFloat_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width, float* src,
                                      unsigned int srcStride, unsigned int nComps, unsigned int* mask,
                                      unsigned int padded, float* colours, float scale, __m128Ex* slot)
{
    MaxIntoSlot(slot, [&](auto keep) { PlainBand<4>(firstRow, lastRow, width, src, srcStride, nComps, mask, padded, colours, scale, keep); });
}

void spect_getmaxrgbex_Nx8_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width,
                                    unsigned char* src, unsigned int srcStride, unsigned int nComps,
                                    unsigned char* mask, unsigned int first, unsigned int padded, float* colours,
                                    float* offsets, float* gains, float scale, __m128Ex* slot)
{
    MaxIntoSlot(slot, [&](auto keep) { ExBand<8>(firstRow, lastRow, width, src, srcStride, nComps, mask, first, padded, colours, offsets, gains, scale, keep); });
}

void spect_getmaxrgbex_Nx16_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width,
                                     unsigned short* src, unsigned int srcStride, unsigned int nComps,
                                     unsigned short* mask, unsigned int first, unsigned int padded, float* colours,
                                     float* offsets, float* gains, float scale, __m128Ex* slot)
{
    MaxIntoSlot(slot, [&](auto keep) { ExBand<8>(firstRow, lastRow, width, src, srcStride, nComps, mask, first, padded, colours, offsets, gains, scale, keep); });
}

void spect_getmaxrgbex_NxFloat_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width, float* src,
                                        unsigned int srcStride, unsigned int nComps, unsigned int* mask,
                                        unsigned int first, unsigned int padded, float* colours, float* offsets,
                                        float* gains, float scale, __m128Ex* slot)
{
    MaxIntoSlot(slot, [&](auto keep) { ExBand<4>(firstRow, lastRow, width, src, srcStride, nComps, mask, first, padded, colours, offsets, gains, scale, keep); });
}

void spect_gethistorgb_NxFloat_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width, float* src,
                                        unsigned int srcStride, unsigned int nComps, unsigned int* mask,
                                        unsigned int padded, float* colours, float scale, unsigned int* histBlue,
                                        unsigned int* histGreen, unsigned int* histRed)
{
    PlainBand<4>(firstRow, lastRow, width, src, srcStride, nComps, mask, padded, colours, scale,
                 [&](v4 v) { Count(histBlue, histGreen, histRed, v); });
}

void spect_gethistorgbex_NxFloat_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width,
                                          float* src, unsigned int srcStride, unsigned int nComps, unsigned int* mask,
                                          unsigned int first, unsigned int padded, float* colours, float* offsets,
                                          float* gains, float scale, unsigned int* histBlue, unsigned int* histGreen,
                                          unsigned int* histRed)
{
    ExBand<4>(firstRow, lastRow, width, src, srcStride, nComps, mask, first, padded, colours, offsets, gains, scale,
              [&](v4 v) { Count(histBlue, histGreen, histRed, v); });
}

#define KZ_MAX_THREADPROC(name, S, T)                                                                             \
    void* name##_threadproc(SKzSpectBand* b)                                                                       \
    {                                                                                                              \
        name##_calc(b->uiFirstRow, b->uiLastRow, b->uiWidth, static_cast<S*>(b->pSrc), b->uiSrcStride, b->uiComps, \
                    static_cast<T*>(b->pMask), b->uiPadded, b->pColors, b->fScale, b->pMaxSlot);                   \
        return nullptr;                                                                                            \
    }
KZ_MAX_THREADPROC(spect_getmaxrgb_Nx8_sse, unsigned char, unsigned char)
KZ_MAX_THREADPROC(spect_getmaxrgb_Nx16_sse, unsigned short, unsigned short)
KZ_MAX_THREADPROC(spect_getmaxrgb_NxFloat_sse, float, unsigned int)
#undef KZ_MAX_THREADPROC

#define KZ_MAXEX_THREADPROC(name, S, T)                                                                            \
    void* name##_threadproc(SKzSpectBand* b)                                                                       \
    {                                                                                                              \
        name##_calc(b->uiFirstRow, b->uiLastRow, b->uiWidth, static_cast<S*>(b->pSrc), b->uiSrcStride, b->uiComps, \
                    static_cast<T*>(b->pMask), b->uiFirst, b->uiPadded, b->pColors, b->pOffsets, b->pGains,        \
                    b->fScale, b->pMaxSlot);                                                                       \
        return nullptr;                                                                                            \
    }
KZ_MAXEX_THREADPROC(spect_getmaxrgbex_Nx8_sse, unsigned char, unsigned char)
KZ_MAXEX_THREADPROC(spect_getmaxrgbex_Nx16_sse, unsigned short, unsigned short)
KZ_MAXEX_THREADPROC(spect_getmaxrgbex_NxFloat_sse, float, unsigned int)
#undef KZ_MAXEX_THREADPROC

void* spect_gethistorgb_NxFloat_sse_threadproc(SKzSpectBand* b)
{
    spect_gethistorgb_NxFloat_sse_calc(b->uiFirstRow, b->uiLastRow, b->uiWidth, static_cast<float*>(b->pSrc),
                                       b->uiSrcStride, b->uiComps, static_cast<unsigned int*>(b->pMask), b->uiPadded,
                                       b->pColors, b->fScale, b->pHisto, b->pHisto + 256, b->pHisto + 512);
    return nullptr;
}

void* spect_gethistorgbex_NxFloat_sse_threadproc(SKzSpectBand* b)
{
    spect_gethistorgbex_NxFloat_sse_calc(b->uiFirstRow, b->uiLastRow, b->uiWidth, static_cast<float*>(b->pSrc),
                                         b->uiSrcStride, b->uiComps, static_cast<unsigned int*>(b->pMask), b->uiFirst,
                                         b->uiPadded, b->pColors, b->pOffsets, b->pGains, b->fScale, b->pHisto,
                                         b->pHisto + 256, b->pHisto + 512);
    return nullptr;
}

namespace {
// Runs a statistics band: band 0 through its band function, the others
// through the thread entry with a band record (the record of band j lives in
// the calling frame until the joins).
SKzSpectBand BandRecord(void* src, unsigned srcStride, unsigned nComps, void* mask, unsigned first, unsigned padded,
                        float* colours, float* offsets, float* gains, float scale, unsigned width, unsigned r0,
                        unsigned r1)
{
    SKzSpectBand b{};
    b.pSrc = src;
    b.uiSrcStride = srcStride;
    b.uiComps = nComps;
    b.pMask = mask;
    b.uiFirst = first;
    b.uiPadded = padded;
    b.pColors = colours;
    b.pOffsets = offsets;
    b.pGains = gains;
    b.fScale = scale;
    b.uiWidth = width;
    b.uiFirstRow = r0;
    b.uiLastRow = r1;
    return b;
}
}  // namespace

int spect_getmaxrgb_Nx8_sse(double* maxOut, unsigned char* src, unsigned int srcStride, unsigned int bits,
                            unsigned int nComps, unsigned int width, unsigned int count, unsigned int* colours,
                            unsigned char* flags, double factor)
{
    if (bits < 1 || bits > 8)
        return KZ_ERR_INVALID_ARG;
    const float scale = float((255.0 / double((1u << bits) - 1)) * factor);
    return GetMaxPlain<unsigned char, unsigned char>(maxOut, src, srcStride, nComps, width, count, colours, flags, scale,
                                         spect_getmaxrgb_Nx8_sse_calc);
}

int spect_getmaxrgb_Nx16_sse(double* maxOut, unsigned short* src, unsigned int srcStride, unsigned int bits,
                             unsigned int nComps, unsigned int width, unsigned int count, unsigned int* colours,
                             unsigned short* flags, double factor)
{
    if (bits < 9 || bits > 16)
        return KZ_ERR_INVALID_ARG;
    const float scale = float((255.0 / double((1u << bits) - 1)) * factor);
    return GetMaxPlain<unsigned short, unsigned short>(maxOut, src, srcStride, nComps, width, count, colours, flags, scale,
                                          spect_getmaxrgb_Nx16_sse_calc);
}

int spect_getmaxrgb_NxFloat_sse(double* maxOut, float* src, unsigned int srcStride, float min, float max,
                                unsigned int nComps, unsigned int width, unsigned long long count,
                                unsigned int* colours, unsigned int* flags, double factor)
{
    const float scale = float(factor * (255.0 / double(FloatRange(min, max))));
    return GetMaxPlain<float, unsigned int>(maxOut, src, srcStride, nComps, width, count, colours, flags, scale,
                                            spect_getmaxrgb_NxFloat_sse_calc);
}

int spect_getmaxrgbex_Nx8_sse(double* maxOut, unsigned char* src, unsigned int srcStride, unsigned int bits,
                              unsigned int nComps, unsigned int width, unsigned int count, SKzLut* lut)
{
    if (!LutUsable(lut, nComps) || bits < 1 || bits > 8)
        return KZ_ERR_INVALID_ARG;
    return GetMaxEx<unsigned char, unsigned char>(maxOut, src, srcStride, nComps, width, count, lut,
                                                  float((1u << bits) - 1), spect_getmaxrgbex_Nx8_sse_calc);
}

int spect_getmaxrgbex_Nx16_sse(double* maxOut, unsigned short* src, unsigned int srcStride, unsigned int bits,
                               unsigned int nComps, unsigned int width, unsigned int count, SKzLut* lut)
{
    if (!LutUsable(lut, nComps) || bits < 9 || bits > 16)
        return KZ_ERR_INVALID_ARG;
    return GetMaxEx<unsigned short, unsigned short>(maxOut, src, srcStride, nComps, width, count, lut,
                                                    float((1u << bits) - 1), spect_getmaxrgbex_Nx16_sse_calc);
}

int spect_getmaxrgbex_NxFloat_sse(double* maxOut, float* src, unsigned int srcStride, float min, float max,
                                  unsigned int nComps, unsigned int width, unsigned long long count, SKzLut* lut)
{
    if (!LutUsable(lut, nComps))
        return KZ_ERR_INVALID_ARG;
    return GetMaxEx<float, unsigned int>(maxOut, src, srcStride, nComps, width, count, lut, FloatRange(min, max),
                                         spect_getmaxrgbex_NxFloat_sse_calc);
}

int spect_gethistorgb_NxFloat_sse(unsigned int* histBlue, unsigned int* histGreen, unsigned int* histRed,
                                  float* src, unsigned int srcStride, float min, float max, unsigned int nComps,
                                  unsigned int width, unsigned long long count, unsigned int* colours,
                                  unsigned int* flags, double factor)
{
    const unsigned rows = RowCount(count, width);
    if (rows == 0)
        return KZ_OK;
    const float scale = float(factor * (255.0 / double(FloatRange(min, max))));
    PlainArrays<unsigned int> a;
    if (!a.Build(nComps, colours, flags))
        return KZ_ERR_OUT_OF_MEMORY;
    return HistOverBands(histBlue, histGreen, histRed, rows,
                         [&](unsigned r0, unsigned r1, unsigned* b, unsigned* g, unsigned* r) {
                             if (b == histBlue) {
                                 spect_gethistorgb_NxFloat_sse_calc(r0, r1, width, src, srcStride, nComps, a.mask,
                                                                    a.padded, a.colours, scale, b, g, r);
                                 return;
                             }
                             SKzSpectBand rec = BandRecord(src, srcStride, nComps, a.mask, 0, a.padded,
                                                                 a.colours, nullptr, nullptr, scale, width, r0, r1);
                             rec.pHisto = b;
                             spect_gethistorgb_NxFloat_sse_threadproc(&rec);
                         });
}

int spect_gethistorgbex_NxFloat_sse(unsigned int* histBlue, unsigned int* histGreen, unsigned int* histRed,
                                    float* src, unsigned int srcStride, float min, float max, unsigned int nComps,
                                    unsigned int width, unsigned long long count, SKzLut* lut)
{
    if (!LutUsable(lut, nComps))
        return KZ_ERR_INVALID_ARG;
    const unsigned rows = RowCount(count, width);
    if (rows == 0)
        return KZ_OK;
    const unsigned V = lut->maskComp.GetCount(-1);
    if (V == 0) {
        // Nothing to measure: every pixel counts in bin 0.
        const uint64_t pixels = uint64_t(rows) * width;
        histBlue[0] += unsigned(pixels);
        histGreen[0] += unsigned(pixels);
        histRed[0] += unsigned(pixels);
        return KZ_OK;
    }
    Arrays<unsigned int> a;
    if (prepare_arrays<unsigned int>(a.mask, a.first, a.padded, a.colours, a.offsets, a.gains, lut, nComps, a.over,
                                     a.under) != 0)
        return KZ_ERR_OUT_OF_MEMORY;
    const float scale = 255.0f / (float(V) * FloatRange(min, max));
    return HistOverBands(histBlue, histGreen, histRed, rows,
                         [&](unsigned r0, unsigned r1, unsigned* b, unsigned* g, unsigned* r) {
                             if (b == histBlue) {
                                 spect_gethistorgbex_NxFloat_sse_calc(r0, r1, width, src, srcStride, nComps, a.mask,
                                                                      a.first, a.padded, a.colours, a.offsets,
                                                                      a.gains, scale, b, g, r);
                                 return;
                             }
                             SKzSpectBand rec =
                                 BandRecord(src, srcStride, nComps, a.mask, a.first, a.padded, a.colours,
                                                  a.offsets, a.gains, scale, width, r0, r1);
                             rec.pHisto = b;
                             spect_gethistorgbex_NxFloat_sse_threadproc(&rec);
                         });
}

int spect_getminmaxmean_Nx16_float(double* mins, double* maxs, double* sums, unsigned char* maxColour,
                                   unsigned short* src, unsigned int srcStride, unsigned int reserved,
                                   unsigned int nComps, unsigned int width, unsigned int count,
                                   unsigned int* colours, unsigned short* flags, double scale)
{
    (void)reserved;
    const unsigned n = 8 * ((nComps + 7) / 8);
    std::vector<float> col, rowMin, rowMax, rowSum;
    try {
        col.assign(size_t(n) * 4, 0.0f);
        rowMin.resize(n);
        rowMax.resize(n);
        rowSum.resize(n);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    if (colours != nullptr)
        for (unsigned j = 0; j < nComps; ++j)
            ColourVector(col.data() + 4 * size_t(j), colours[j]);
    for (unsigned j = 0; j < nComps; ++j) {
        if (mins)
            mins[j] = 3.4028234663852886e38;
        if (maxs)
            maxs[j] = 0.0;
        if (sums)
            sums[j] = 0.0;
    }
    const unsigned rows = width == 0 ? 0 : count / width;
    if (int(rows) <= 0) {
        if (maxColour)
            maxColour[0] = maxColour[1] = maxColour[2] = 0;
        return KZ_OK;
    }
    const float k = float(scale * 255.0);
    float P[3] = {0, 0, 0};  // red, green, blue
    for (unsigned r = 0; r < rows; ++r) {
        std::fill(rowMin.begin(), rowMin.end(), 3.4028235e38f);
        std::fill(rowMax.begin(), rowMax.end(), 0.0f);
        std::fill(rowSum.begin(), rowSum.end(), 0.0f);
        const unsigned short* row = Row(src, srcStride, r);
        for (unsigned x = 0; x < width; ++x) {
            const unsigned short* s = row + size_t(x) * nComps;
            float C[3] = {0, 0, 0};
            for (unsigned j = 0; j < nComps; ++j) {
                if (flags == nullptr || flags[j] == 0)
                    continue;
                const float v = float(s[j]);
                rowMin[j] = std::min(rowMin[j], v);
                rowMax[j] = std::max(rowMax[j], v);
                rowSum[j] += v;
                if (colours != nullptr)
                    for (int c = 0; c < 3; ++c)
                        C[c] += col[4 * size_t(j) + c] * v;
            }
            for (int c = 0; c < 3; ++c) {
                float w = C[c] * k;
                w = std::min(w, 255.0f);
                w = std::max(w, 0.0f);
                P[c] = std::max(P[c], w);
            }
        }
        for (unsigned j = 0; j < nComps; ++j) {
            if (flags == nullptr || flags[j] == 0)
                continue;
            if (mins)
                mins[j] = std::min(mins[j], double(rowMin[j]));
            if (maxs)
                maxs[j] = std::max(maxs[j], double(rowMax[j]));
            if (sums)
                sums[j] += double(rowSum[j]);
        }
    }
    if (maxColour) {
        maxColour[0] = static_cast<unsigned char>(int(P[2]));
        maxColour[1] = static_cast<unsigned char>(int(P[1]));
        maxColour[2] = static_cast<unsigned char>(int(P[0]));
    }
    return KZ_OK;
}

// The band record is handed to host-visible thread entries: its layout is fixed.
static_assert(sizeof(__m128iEx) == 16 && alignof(__m128iEx) == 16);
static_assert(sizeof(__m128Ex) == 16 && alignof(__m128Ex) == 16);
static_assert(offsetof(SKzSpectBand, pDst) == 0);
static_assert(offsetof(SKzSpectBand, uiDstStride) == 8);
static_assert(offsetof(SKzSpectBand, pSrc) == 16);
static_assert(offsetof(SKzSpectBand, uiSrcStride) == 24);
static_assert(offsetof(SKzSpectBand, uiComps) == 28);
static_assert(offsetof(SKzSpectBand, pMask) == 32);
static_assert(offsetof(SKzSpectBand, uiFirst) == 40);
static_assert(offsetof(SKzSpectBand, uiPadded) == 44);
static_assert(offsetof(SKzSpectBand, pColors) == 48);
static_assert(offsetof(SKzSpectBand, pOffsets) == 56);
static_assert(offsetof(SKzSpectBand, pGains) == 64);
static_assert(offsetof(SKzSpectBand, fGamma) == 72);
static_assert(offsetof(SKzSpectBand, fScale) == 76);
static_assert(offsetof(SKzSpectBand, pPalette) == 80);
static_assert(offsetof(SKzSpectBand, pTop) == 88);
static_assert(offsetof(SKzSpectBand, pOnes) == 96);
static_assert(offsetof(SKzSpectBand, pOver) == 104);
static_assert(offsetof(SKzSpectBand, pUnder) == 112);
static_assert(offsetof(SKzSpectBand, uiWidth) == 120);
static_assert(offsetof(SKzSpectBand, uiFirstRow) == 124);
static_assert(offsetof(SKzSpectBand, uiLastRow) == 128);
static_assert(offsetof(SKzSpectBand, pMaxSlot) == 136);
static_assert(offsetof(SKzSpectBand, pHisto) == 144);
static_assert(sizeof(SKzSpectBand) == 152);
