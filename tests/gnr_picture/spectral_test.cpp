#include "gnr_picture/KzSpectral.h"

#include "gnr_picture/KzProcessorCount.h"
#include "gnr_picture/KzProcessorCountInternal.h"
#include "gnr_picture/SKzLut.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Fixtures: a parametric LUT, pictures ending at a guard page, palettes
// ---------------------------------------------------------------------------

struct Lut {
    SKzLut lut;
    Lut(unsigned comps, unsigned bits)
    {
        EXPECT_EQ(SKzLut::Alloc(lut, u8(bits > 16 ? 16 : bits), u8(comps), 8, 3), 0);
        EXPECT_EQ(SKzLut::ReinitParametric(lut), 0);
        for (unsigned k = 0; k < comps; ++k)
            lut.pParametric[k] = SKzLutParametric{0.0, 1.0, 1.0, 0x00FFFFFFu};
        lut.iPredefLut = -1;
    }
    ~Lut() { SKzLut::Free(lut); }
    void Visible(std::initializer_list<unsigned> comps) { Visible(std::vector<unsigned>(comps)); }
    void Visible(const std::vector<unsigned>& comps)
    {
        for (unsigned k = 0; k < lut.uiInComp; ++k)
            lut.maskComp.Set(k, false);
        for (unsigned k : comps)
            lut.maskComp.Set(k, true);
    }
    void SetExp(bool over, uint32_t value)
    {
        SKzLutExpColor*& rec = over ? lut.pOverExpColor : lut.pUnderExpColor;
        std::free(rec);
        rec = static_cast<SKzLutExpColor*>(std::calloc(1, SKzLut::kExpColorBytes));
        rec->red = value & 0xFF;
        rec->green = (value >> 8) & 0xFF;
        rec->blue = (value >> 16) & 0xFF;
        rec->flag = (value >> 24) & 0xFF;
    }
};

// A block whose last byte is followed by an inaccessible page: any read past
// the picture faults.
struct Guarded {
    unsigned char* base = nullptr;
    size_t mapped = 0;
    unsigned char* data = nullptr;
    explicit Guarded(size_t bytes)
    {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        const size_t body = (bytes + page - 1) / page * page;
        mapped = body + page;
        base = static_cast<unsigned char*>(
            mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base + body, page, PROT_NONE);
        data = base + body - bytes;
    }
    ~Guarded() { munmap(base, mapped); }
};

// A palette pushed onto the registry for one test; its index is the entry.
struct TestPalette {
    std::vector<u8> table = std::vector<u8>(768);
    SKzLut::SKzPredefLut entry;
    int index;
    TestPalette()
    {
        for (int i = 0; i < 256; ++i) {
            table[3 * i] = u8(255 - i);        // red
            table[3 * i + 1] = u8((i * 7) & 0xFF);  // green
            table[3 * i + 2] = u8(i / 2);      // blue
        }
        entry.pTable = table.data();
        entry.eId = SKzLut::EKzPredefLut(SKzLut::vecPredefLuts.size());
        index = int(SKzLut::vecPredefLuts.size());
        SKzLut::vecPredefLuts.push_back(&entry);
    }
    ~TestPalette() { SKzLut::vecPredefLuts.pop_back(); }
};

struct ThreadsOverride {
    explicit ThreadsOverride(int n) { kzthreads::SetProcessorCountOverride(n); }
    ~ThreadsOverride() { kzthreads::SetProcessorCountOverride(0); }
};

// ---------------------------------------------------------------------------
// Scalar reference, written from the rules: run, marking, tree sums of eight
// (or four) channel products, scale, gamma, clamp, palette.
// ---------------------------------------------------------------------------

struct Run {
    unsigned first = 0, L = 0, n = 0;
};

Run RunOf(const SKzLut& lut, unsigned nComps)
{
    Run r;
    int first = -1, last = -1;
    for (unsigned k = 0; k < nComps; ++k)
        if (lut.maskComp.Get(k)) {
            if (first < 0)
                first = int(k);
            last = int(k);
        }
    if (first >= 0) {
        r.first = unsigned(first);
        r.L = unsigned(last - first + 1);
        r.n = (r.L + 7) / 8 * 8;
    } else {
        r.first = nComps;
    }
    return r;
}

float Lane(uint32_t colour, int c)
{
    return float((colour >> (8 * c)) & 0xFF) * 0.003921569f;
}

unsigned char Clamp(float w)
{
    if (std::isnan(w) || w > 255.0f)
        w = 255.0f;
    if (w < 0.0f)
        w = 0.0f;
    return (unsigned char)(int)w;
}

// Tree sum of a step's products, lane c.
float Tree(const float* p, int B)
{
    if (B == 8)
        return ((p[0] + p[1]) + (p[2] + p[3])) + ((p[4] + p[5]) + (p[6] + p[7]));
    return (p[0] + p[1]) + (p[2] + p[3]);
}

template <class S>
void RefRenderVector(std::vector<unsigned char>& out, unsigned dstStride, const S* src, unsigned srcStride,
                     unsigned bits, unsigned nComps, const SKzLut& lut, unsigned width, unsigned rows,
                     const u8* palette)
{
    const Run run = RunOf(lut, nComps);
    const unsigned M = (1u << bits) - 1;
    const float scale = 1.0f / float(M);
    float gamma = float(lut.pParametric[0].dGamma);
    if (std::isnan(gamma))
        gamma = 1.0f;
    const SKzLutExpColor* ov = lut.pOverExpColor;
    const SKzLutExpColor* un = lut.pUnderExpColor;
    auto triple = [&](const SKzLutExpColor* rec, unsigned j, unsigned char* o) {
        if (rec->flag == 0) {
            o[0] = rec->blue, o[1] = rec->green, o[2] = rec->red;
        } else {
            const uint32_t c = lut.pParametric[run.first + j].uiColor;
            o[0] = u8(255 - ((c >> 16) & 0xFF)), o[1] = u8(255 - ((c >> 8) & 0xFF)), o[2] = u8(255 - (c & 0xFF));
        }
    };
    for (unsigned r = 0; r < rows; ++r)
        for (unsigned x = 0; x < width; ++x) {
            const S* s = reinterpret_cast<const S*>(reinterpret_cast<const char*>(src) + size_t(r) * srcStride) +
                         size_t(x) * nComps + run.first;
            unsigned char* o = out.data() + size_t(r) * dstStride + 3 * x;
            bool done = false;
            for (unsigned j = 0; j < run.L && !done && (ov || un); ++j) {
                if (!lut.maskComp.Get(run.first + j))
                    continue;
                if (un && s[j] == 0)
                    triple(un, j, o), done = true;
                else if (ov && unsigned(s[j]) == M)
                    triple(ov, j, o), done = true;
            }
            if (done)
                continue;
            float S3[3] = {0, 0, 0};
            for (unsigned step = 0; step < run.n; step += 8)
                for (int c = 0; c < 3; ++c) {
                    float p[8];
                    for (int l = 0; l < 8; ++l) {
                        const unsigned j = step + l;
                        p[l] = 0.0f;
                        if (j < run.L && lut.maskComp.Get(run.first + j)) {
                            const SKzLutParametric& q = lut.pParametric[run.first + j];
                            const float val = (float(s[j]) + float(q.dOffset)) * float(q.dGain);
                            p[l] = Lane(q.uiColor, c) * val;
                        }
                    }
                    S3[c] += Tree(p, 8);
                }
            float w[3];
            for (int c = 0; c < 3; ++c) {
                float v = S3[c] * scale;
                if (gamma != 1.0f && v > 0.0f)
                    v = powf(v, gamma);
                w[c] = v * 255.0f;
            }
            unsigned char b = Clamp(w[2]), g = Clamp(w[1]), rd = Clamp(w[0]);
            if (palette)
                b = palette[3 * b + 2], g = palette[3 * g + 1], rd = palette[3 * rd];
            o[0] = b, o[1] = g, o[2] = rd;
        }
}

template <class S>
std::vector<S> RandomPicture(unsigned stride, unsigned rows, unsigned bits, std::mt19937& rng, int special)
{
    std::vector<S> p(size_t(stride) / sizeof(S) * rows);
    const unsigned M = (1u << bits) - 1;
    for (S& v : p) {
        const unsigned pick = rng() % 16;
        if (special && pick == 0)
            v = 0;
        else if (special && pick == 1)
            v = S(M);
        else if (special && pick == 2 && sizeof(S) == 2)
            v = S(0xFFFF);  // above the depth: never marked, adds its full value
        else
            v = S(rng() % (M + 1));
    }
    return p;
}

void RandomParams(Lut& l, std::mt19937& rng)
{
    for (unsigned k = 0; k < l.lut.uiInComp; ++k) {
        SKzLutParametric& p = l.lut.pParametric[k];
        p.dOffset = double(int(rng() % 41) - 20) * 1.5;
        p.dGain = 0.25 + double(rng() % 16) * 0.125;
        p.dGamma = k == 0 ? std::array<double, 4>{1.0, 0.5, 1.7, NAN}[rng() % 4] : 2.0;
        p.uiColor = uint32_t(rng() & 0xFFFFFF);
    }
}

// ---------------------------------------------------------------------------
// Vector render members
// ---------------------------------------------------------------------------

struct MaskCase {
    const char* name;
    std::vector<unsigned> visible;
};

TEST(SpectralRender, VectorMembersMatchTheScalarRuleOnEveryMaskMarkingAndPalette)
{
    std::mt19937 rng(7);
    const unsigned nComps = 10, width = 13, rows = 9;
    const std::vector<MaskCase> masks = {
        {"all", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}}, {"component 3 only", {3}}, {"gaps", {1, 4, 8}}, {"none", {}},
        {"run of nine", {1, 9}}};
    TestPalette pal;
    for (unsigned bits : {8u, 6u, 12u, 16u}) {
        for (const MaskCase& m : masks)
            for (int marks = 0; marks < 6; ++marks)
                for (bool withPalette : {false, true}) {
                    Lut l(nComps, bits);
                    RandomParams(l, rng);
                    l.Visible(m.visible);
                    if (marks & 1)
                        l.SetExp(true, marks == 5 ? 0x01000000u : 0x00123456u);
                    if (marks & 2)
                        l.SetExp(false, marks == 3 ? 0x01000000u : 0x00654321u);
                    if (marks == 4)
                        l.SetExp(true, 0x01ABCDEFu);
                    l.lut.iPredefLut = withPalette ? pal.index : -1;
                    const unsigned dstStride = width * 3 + 5;
                    std::vector<unsigned char> want(size_t(dstStride) * rows, 0xEE), got = want;
                    if (bits <= 8) {
                        const unsigned srcStride = width * nComps + 3;
                        auto src = RandomPicture<unsigned char>(srcStride, rows, bits, rng, 1);
                        RefRenderVector(want, dstStride, src.data(), srcStride, bits, nComps, l.lut, width, rows,
                                        withPalette ? pal.table.data() : nullptr);
                        ASSERT_EQ(spect_render_Nx8_3x8_sse_overexp_underexp(got.data(), dstStride, src.data(), bits,
                                                                            srcStride, nComps, &l.lut, width,
                                                                            width * rows + 4),
                                  0);
                    } else {
                        const unsigned srcStride = width * nComps * 2 + 6;
                        auto src = RandomPicture<unsigned short>(srcStride, rows, bits, rng, 1);
                        RefRenderVector(want, dstStride, src.data(), srcStride, bits, nComps, l.lut, width, rows,
                                        withPalette ? pal.table.data() : nullptr);
                        ASSERT_EQ(spect_render_Nx16_3x8_sse_overexp_underexp(got.data(), dstStride, src.data(), bits,
                                                                             srcStride, nComps, &l.lut, width,
                                                                             width * rows),
                                  0);
                    }
                    ASSERT_EQ(got, want) << bits << " bits, mask " << m.name << ", marks " << marks << ", palette "
                                         << withPalette;
                }
    }
}

TEST(SpectralRender, DocumentedExamples)
{
    // One 8-bit white channel: 64 gives 64 with gamma 1, 127 with gamma 0.5.
    for (auto [gamma, want] : {std::pair{1.0, 64}, std::pair{0.5, 127}}) {
        Lut l(1, 8);
        l.lut.pParametric[0].dGamma = gamma;
        unsigned char src[1] = {64}, dst[3] = {};
        ASSERT_EQ(spect_render_Nx8_3x8_sse_overexp_underexp(dst, 3, src, 8, 1, 1, &l.lut, 1, 1), 0);
        EXPECT_EQ(dst[0], want);
        EXPECT_EQ(dst[1], want);
        EXPECT_EQ(dst[2], want);
    }
    // Both exposure colours: channel 2 at M then 5 at 0 paints over triple 2;
    // channel 2 at 0 and 5 at M paints under triple 2.
    {
        Lut l(8, 12);
        l.SetExp(true, 0x00030201u);   // red 1, green 2, blue 3
        l.SetExp(false, 0x00060504u);  // red 4, green 5, blue 6
        unsigned short src[16] = {};
        for (unsigned short& v : src)
            v = 100;
        src[2] = 4095, src[5] = 0;
        src[8 + 2] = 0, src[8 + 5] = 4095;
        unsigned char dst[6] = {};
        ASSERT_EQ(spect_render_Nx16_3x8_sse_overexp_underexp(dst, 6, src, 12, 32, 8, &l.lut, 2, 2), 0);
        EXPECT_EQ(std::vector<int>(dst, dst + 3), (std::vector<int>{3, 2, 1}));
        EXPECT_EQ(std::vector<int>(dst + 3, dst + 6), (std::vector<int>{6, 5, 4}));
    }
    // Complementary marking of a red channel paints blue 255, green 255, red 0.
    {
        Lut l(1, 8);
        l.lut.pParametric[0].uiColor = 0x000000FF;
        l.SetExp(true, 0x01000000u);
        unsigned char src[1] = {255}, dst[3] = {};
        spect_render_Nx8_3x8_sse_overexp_underexp(dst, 3, src, 8, 1, 1, &l.lut, 1, 1);
        EXPECT_EQ(std::vector<int>(dst, dst + 3), (std::vector<int>{255, 255, 0}));
    }
    // A 16-bit sample above M is not marked; one equal to M is.
    {
        Lut l(1, 12);
        l.SetExp(true, 0x00000009u);
        unsigned short src[2] = {0xFFFF, 4095};
        unsigned char dst[6] = {};
        spect_render_Nx16_3x8_sse_overexp_underexp(dst, 6, src, 12, 4, 1, &l.lut, 2, 2);
        EXPECT_EQ(std::vector<int>(dst, dst + 3), (std::vector<int>{255, 255, 255}));
        EXPECT_EQ(std::vector<int>(dst + 3, dst + 6), (std::vector<int>{0, 0, 9}));
    }
    // No visible component: black, or palette entry 0; a palette index equal
    // to the registry's size means no palette.
    {
        TestPalette pal;
        Lut l(3, 8);
        l.Visible({});
        unsigned char src[3] = {10, 20, 30}, dst[3] = {1, 1, 1};
        spect_render_Nx8_3x8_sse_overexp_underexp(dst, 3, src, 8, 3, 3, &l.lut, 1, 1);
        EXPECT_EQ(std::vector<int>(dst, dst + 3), (std::vector<int>{0, 0, 0}));
        l.lut.iPredefLut = pal.index;
        spect_render_Nx8_3x8_sse_overexp_underexp(dst, 3, src, 8, 3, 3, &l.lut, 1, 1);
        EXPECT_EQ(std::vector<int>(dst, dst + 3), (std::vector<int>{pal.table[2], pal.table[1], pal.table[0]}));
        l.lut.iPredefLut = int(SKzLut::vecPredefLuts.size());
        spect_render_Nx8_3x8_sse_overexp_underexp(dst, 3, src, 8, 3, 3, &l.lut, 1, 1);
        EXPECT_EQ(std::vector<int>(dst, dst + 3), (std::vector<int>{0, 0, 0}));
    }
}

TEST(SpectralRender, RefusedArgumentsAndEmptyCountsWriteNothing)
{
    Lut l(4, 8);
    unsigned char src[64] = {}, dst[48];
    std::memset(dst, 0xAB, sizeof dst);
    struct Case {
        const char* what;
        std::function<int()> call;
        int code;
    } cases[] = {
        {"null LUT", [&] { return spect_render_Nx8_3x8_sse_overexp_underexp(dst, 12, src, 8, 16, 4, nullptr, 4, 4); }, -4},
        {"more components than inputs",
         [&] { return spect_render_Nx8_3x8_float(dst, 12, src, 8, 16, 5, &l.lut, 3, 3); }, -4},
        {"bits 0", [&] { return spect_render_Nx8_3x8_sse_overexp_underexp(dst, 12, src, 0, 16, 4, &l.lut, 4, 4); }, -4},
        {"bits 9 in the 8-bit member",
         [&] { return spect_render_Nx8_3x8_float_overexp(dst, 12, src, 9, 16, 4, &l.lut, 4, 4); }, -4},
        {"bits 8 in the 16-bit member",
         [&] {
             return spect_render_Nx16_3x8_sse_overexp_underexp(dst, 12, reinterpret_cast<unsigned short*>(src), 8,
                                                              16, 4, &l.lut, 2, 2);
         },
         -4},
        {"bits 17", [&] { return spect_render_Nx16_3x8_float(dst, 12, reinterpret_cast<unsigned short*>(src), 17, 16, 4, &l.lut, 2, 2); }, -4},
        {"count below width", [&] { return spect_render_Nx8_3x8_sse_overexp_underexp(dst, 12, src, 8, 16, 4, &l.lut, 4, 3); }, 0},
        {"width 0", [&] { return spect_render_Nx8_3x8_float(dst, 12, src, 8, 16, 4, &l.lut, 0, 3); }, 0},
        {"float count below width", [&] { return spect_render_NxFloat_3x8_float(dst, 12, reinterpret_cast<float*>(src), 16, 1, &l.lut, 4, 3, 0, 1); }, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.code) << c.what;
        for (unsigned char b : dst)
            ASSERT_EQ(b, 0xAB) << c.what;
    }
    SKzLut::FreeParametric(l.lut);
    EXPECT_EQ(spect_render_Nx8_3x8_float(dst, 12, src, 8, 16, 4, &l.lut, 4, 4), -4);
    EXPECT_EQ(spect_render_NxFloat_3x8_float(dst, 12, reinterpret_cast<float*>(src), 16, 4, &l.lut, 1, 1, 0, 1), -4);
}

// ---------------------------------------------------------------------------
// Portable and float render members
// ---------------------------------------------------------------------------

template <class S>
void RefRenderPortable(std::vector<unsigned char>& out, unsigned dstStride, const S* src, unsigned srcStride,
                       unsigned bits, unsigned nComps, const SKzLut& lut, unsigned width, unsigned rows,
                       bool markOver, const u8* palette)
{
    const Run run = RunOf(lut, nComps);
    const unsigned M = (1u << bits) - 1;
    const float k = (1.0f / float(M)) * 255.0f;
    for (unsigned r = 0; r < rows; ++r)
        for (unsigned x = 0; x < width; ++x) {
            const S* s = reinterpret_cast<const S*>(reinterpret_cast<const char*>(src) + size_t(r) * srcStride) +
                         size_t(x) * nComps + run.first;
            unsigned char* o = out.data() + size_t(r) * dstStride + 3 * x;
            float S3[3] = {0, 0, 0};
            bool painted = false;
            for (unsigned j = 0; j < run.L && !painted; ++j) {
                if (!lut.maskComp.Get(run.first + j))
                    continue;
                if (markOver && lut.pOverExpColor && unsigned(s[j]) == M) {
                    o[0] = lut.pOverExpColor->blue, o[1] = lut.pOverExpColor->green, o[2] = lut.pOverExpColor->red;
                    painted = true;
                    break;
                }
                const SKzLutParametric& q = lut.pParametric[run.first + j];
                const float t = (float(s[j]) + float(q.dOffset)) * float(q.dGain);
                for (int c = 0; c < 3; ++c)
                    S3[c] += t * Lane(q.uiColor, c);
            }
            if (painted)
                continue;
            unsigned char b = Clamp(S3[2] * k), g = Clamp(S3[1] * k), rd = Clamp(S3[0] * k);
            if (palette)
                b = palette[3 * b + 2], g = palette[3 * g + 1], rd = palette[3 * rd];
            o[0] = b, o[1] = g, o[2] = rd;
        }
}

TEST(SpectralRender, PortableMembersMatchTheScalarRule)
{
    std::mt19937 rng(11);
    TestPalette pal;
    const unsigned nComps = 6, width = 7, rows = 5;
    for (unsigned bits : {8u, 5u, 12u, 16u})
        for (bool over : {false, true})
            for (bool withColour : {false, true}) {
                Lut l(nComps, bits);
                RandomParams(l, rng);
                l.Visible({1, 2, 4});
                if (withColour)
                    l.SetExp(true, 0x01445566u);  // the flag is not consulted here
                l.SetExp(false, 0x00111111u);      // no under marking in these members
                l.lut.iPredefLut = over ? pal.index : -1;
                const unsigned dstStride = width * 3;
                std::vector<unsigned char> want(size_t(dstStride) * rows, 0x5A), got = want;
                if (bits <= 8) {
                    const unsigned srcStride = width * nComps + 1;
                    auto src = RandomPicture<unsigned char>(srcStride, rows, bits, rng, 1);
                    RefRenderPortable(want, dstStride, src.data(), srcStride, bits, nComps, l.lut, width, rows, over,
                                      over ? pal.table.data() : nullptr);
                    ASSERT_EQ((over ? spect_render_Nx8_3x8_float_overexp : spect_render_Nx8_3x8_float)(
                                  got.data(), dstStride, src.data(), bits, srcStride, nComps, &l.lut, width,
                                  width * rows),
                              0);
                } else {
                    const unsigned srcStride = width * nComps * 2 + 2;
                    auto src = RandomPicture<unsigned short>(srcStride, rows, bits, rng, 1);
                    RefRenderPortable(want, dstStride, src.data(), srcStride, bits, nComps, l.lut, width, rows, over,
                                      over ? pal.table.data() : nullptr);
                    ASSERT_EQ((over ? spect_render_Nx16_3x8_float_overexp : spect_render_Nx16_3x8_float)(
                                  got.data(), dstStride, src.data(), bits, srcStride, nComps, &l.lut, width,
                                  width * rows),
                              0);
                }
                ASSERT_EQ(got, want) << bits << " " << over << " " << withColour;
            }
}

void RefRenderFloat(std::vector<unsigned char>& out, unsigned dstStride, const float* src, unsigned srcStride,
                    unsigned nComps, const SKzLut& lut, unsigned width, unsigned rows, float mn, float mx)
{
    const Run run = RunOf(lut, nComps);
    if ((std::isnan(mn) ? 0.0f : mn) == 0.0f && (std::isnan(mx) ? 0.0f : mx) == 0.0f)
        mx = 1.0f;
    float range = mx - std::min(mn, 0.0f);
    if (!(range > 0.0f) || !std::isfinite(range))
        range = 1.0f;
    const float inv = 1.0f / range, k = 255.0f * inv;
    for (unsigned r = 0; r < rows; ++r)
        for (unsigned x = 0; x < width; ++x) {
            const float* s = src + (size_t(r) * srcStride) / 4 + size_t(x) * nComps + run.first;
            float A[3] = {0, 0, 0};
            for (unsigned j = 0; j < run.L; ++j) {
                if (!lut.maskComp.Get(run.first + j))
                    continue;
                const SKzLutParametric& q = lut.pParametric[run.first + j];
                const float t = (s[j] + float(q.dOffset)) * float(q.dGain);
                const float g = float(q.dGamma);
                const float y = (!std::isnan(g) && g != 1.0f && t * inv > 0.0f) ? powf(t * inv, g) * 255.0f : t * k;
                for (int c = 0; c < 3; ++c) {
                    const float p = Lane(q.uiColor, c) * y;
                    A[c] = (A[c] + p) - (A[c] * 0.003921569f) * p;
                }
            }
            unsigned char* o = out.data() + size_t(r) * dstStride + 3 * x;
            o[0] = Clamp(A[2]), o[1] = Clamp(A[1]), o[2] = Clamp(A[0]);
        }
}

TEST(SpectralRender, FloatMemberScreenBlendsWithEachChannelsGamma)
{
    std::mt19937 rng(5);
    const unsigned nComps = 5, width = 9, rows = 4;
    for (auto [mn, mx] : {std::pair{0.0f, 0.0f}, std::pair{-10.0f, 10.0f}, std::pair{0.0f, 100.0f},
                          std::pair{5.0f, 5.0f}, std::pair{NAN, 0.0f}, std::pair{3.0f, -4.0f}}) {
        Lut l(nComps, 16);
        RandomParams(l, rng);
        for (unsigned k = 0; k < nComps; ++k)
            l.lut.pParametric[k].dGamma = std::array<double, 4>{1.0, 0.5, 2.5, NAN}[k % 4];
        l.Visible({0, 2, 3, 4});
        const unsigned srcStride = width * nComps * 4 + 6;  // not a whole number of floats
        std::vector<float> src(size_t(srcStride) * rows / 4 + 8);
        std::uniform_real_distribution<float> d(-12.0f, 40.0f);
        for (float& v : src)
            v = d(rng);
        std::vector<unsigned char> want(size_t(width) * 3 * rows), got(want.size());
        RefRenderFloat(want, width * 3, src.data(), srcStride, nComps, l.lut, width, rows, mn, mx);
        ASSERT_EQ(spect_render_NxFloat_3x8_float(got.data(), width * 3, src.data(), srcStride, nComps, &l.lut, width,
                                                 uint64_t(width) * rows, mn, mx),
                  0);
        EXPECT_EQ(got, want) << mn << " " << mx;
    }
    // min = max = 0: the range is 1, so 0.5 of a white channel renders 127.
    Lut l(1, 16);
    float half = 0.5f;
    unsigned char dst[3];
    spect_render_NxFloat_3x8_float(dst, 3, &half, 4, 1, &l.lut, 1, 1, 0.0f, 0.0f);
    EXPECT_EQ(std::vector<int>(dst, dst + 3), (std::vector<int>{127, 127, 127}));
    // -10 .. 10: range 20, so 10 renders 127.
    float ten = 10.0f;
    spect_render_NxFloat_3x8_float(dst, 3, &ten, 4, 1, &l.lut, 1, 1, -10.0f, 10.0f);
    EXPECT_EQ(dst[0], 127);
}

// ---------------------------------------------------------------------------
// Statistics
// ---------------------------------------------------------------------------

template <class S, class F>
std::vector<std::array<float, 3>> RefPlainValues(const S* src, unsigned srcStride, unsigned nComps, unsigned width,
                                                 unsigned rows, const unsigned* colours, const F* flags, float scale,
                                                 int B)
{
    std::vector<std::array<float, 3>> out;
    const unsigned n = (nComps + 7) / 8 * 8;
    for (unsigned r = 0; r < rows; ++r)
        for (unsigned x = 0; x < width; ++x) {
            const S* s = reinterpret_cast<const S*>(reinterpret_cast<const char*>(src) + size_t(r) * srcStride) +
                         size_t(x) * nComps;
            std::array<float, 3> v{};
            for (int c = 0; c < 3; ++c) {
                float sum = 0;
                for (unsigned step = 0; step < n; step += unsigned(B)) {
                    float p[8] = {};
                    for (int l = 0; l < B; ++l) {
                        const unsigned j = step + l;
                        if (j >= nComps)
                            continue;
                        float val;
                        if constexpr (std::is_same_v<S, float>) {
                            uint32_t bits;
                            std::memcpy(&bits, &s[j], 4);
                            bits &= flags[j];
                            std::memcpy(&val, &bits, 4);
                        } else {
                            val = float(unsigned(s[j]) & unsigned(flags[j]));
                        }
                        p[l] = Lane(colours[j], c) * val;
                    }
                    sum += Tree(p, B);
                }
                v[c] = sum * scale;
            }
            out.push_back(v);
        }
    return out;
}

template <class S>
std::vector<std::array<float, 3>> RefExValues(const S* src, unsigned srcStride, unsigned nComps, unsigned width,
                                              unsigned rows, const SKzLut& lut, float scale, int B)
{
    std::vector<std::array<float, 3>> out;
    const Run run = RunOf(lut, nComps);
    for (unsigned r = 0; r < rows; ++r)
        for (unsigned x = 0; x < width; ++x) {
            const S* s = reinterpret_cast<const S*>(reinterpret_cast<const char*>(src) + size_t(r) * srcStride) +
                         size_t(x) * nComps + run.first;
            std::array<float, 3> v{};
            for (int c = 0; c < 3; ++c) {
                float sum = 0;
                for (unsigned step = 0; step < run.n; step += unsigned(B)) {
                    float p[8] = {};
                    for (int l = 0; l < B; ++l) {
                        const unsigned j = step + l;
                        if (j < run.L && lut.maskComp.Get(run.first + j)) {
                            const SKzLutParametric& q = lut.pParametric[run.first + j];
                            p[l] = Lane(q.uiColor, c) * ((float(s[j]) + float(q.dOffset)) * float(q.dGain));
                        }
                    }
                    sum += Tree(p, B);
                }
                v[c] = sum * scale;
            }
            out.push_back(v);
        }
    return out;
}

std::array<double, 3> RefMax(const std::vector<std::array<float, 3>>& values)
{
    float m[3] = {0, 0, 0};
    for (const auto& v : values)
        for (int c = 0; c < 3; ++c)
            if (v[c] > m[c])
                m[c] = v[c];
    return {m[2], m[1], m[0]};
}

std::vector<unsigned> RefHist(const std::vector<std::array<float, 3>>& values)
{
    std::vector<unsigned> h(768, 0);  // blue, green, red
    for (const auto& v : values)
        for (int c = 0; c < 3; ++c) {
            float b = v[c] + 0.5f;
            if (std::isnan(b) || b > 255.0f)
                b = 255.0f;
            if (b < 0.0f)
                b = 0.0f;
            h[size_t(2 - c) * 256 + unsigned(int(b))]++;
        }
    return h;
}

TEST(SpectralStatisticsThreads, EveryMemberMatchesTheScalarRuleOnAnyTeamSize)
{
    std::mt19937 rng(3);
    const unsigned nComps = 10, width = 11, rows = 13;
    std::vector<unsigned> colours(nComps);
    for (unsigned& c : colours)
        c = rng() & 0xFFFFFF;
    std::vector<unsigned char> flags8(nComps);
    std::vector<unsigned short> flags16(nComps);
    std::vector<unsigned> flags32(nComps);
    for (unsigned j = 0; j < nComps; ++j) {
        flags8[j] = j % 3 == 0 ? 0 : (j == 4 ? 0x0F : 0xFF);
        flags16[j] = j % 3 == 0 ? 0 : (j == 4 ? 0x00FF : 0xFFFF);
        flags32[j] = j % 3 == 0 ? 0 : 0xFFFFFFFFu;
    }
    const unsigned stride8 = width * nComps + 3, stride16 = width * nComps * 2 + 2, strideF = width * nComps * 4 + 8;
    auto p8 = RandomPicture<unsigned char>(stride8, rows, 8, rng, 0);
    auto p16 = RandomPicture<unsigned short>(stride16, rows, 12, rng, 1);
    std::vector<float> pf(size_t(strideF) / 4 * rows);
    std::uniform_real_distribution<float> d(-2.0f, 9.0f);
    for (float& v : pf)
        v = d(rng);
    Lut l(nComps, 12);
    RandomParams(l, rng);
    l.Visible({2, 5, 6});  // the run is 2 .. 6, 3 and 4 add nothing
    // The ex members divide by the members of the whole mask, those past the
    // picture's components included (a fresh LUT's mask is the library's full mask).
    const float V = float(l.lut.maskComp.GetCount(-1));
    ASSERT_GT(V, 3.0f);
    const float M12 = 4095.0f, range = 9.0f;

    const auto plain8 = RefPlainValues(p8.data(), stride8, nComps, width, rows, colours.data(), flags8.data(),
                                       float((255.0 / 255.0) * 1.5), 8);
    const auto plain16 = RefPlainValues(p16.data(), stride16, nComps, width, rows, colours.data(), flags16.data(),
                                        float((255.0 / 4095.0) * 0.75), 8);
    const auto plainF = RefPlainValues(pf.data(), strideF, nComps, width, rows, colours.data(), flags32.data(),
                                       float(2.0 * (255.0 / double(range))), 4);
    const auto ex8 = RefExValues(p8.data(), stride8, nComps, width, rows, l.lut, 255.0f / (V * 255.0f), 8);
    const auto ex16 = RefExValues(p16.data(), stride16, nComps, width, rows, l.lut, 255.0f / (V * M12), 8);
    const auto exF = RefExValues(pf.data(), strideF, nComps, width, rows, l.lut, 255.0f / (V * range), 4);

    for (int team : {1, 2, 3, 7, 64}) {
        ThreadsOverride t(team);
        double m[3];
        ASSERT_EQ(spect_getmaxrgb_Nx8_sse(m, p8.data(), stride8, 8, nComps, width, width * rows, colours.data(),
                                          flags8.data(), 1.5),
                  0);
        EXPECT_EQ((std::array<double, 3>{m[0], m[1], m[2]}), RefMax(plain8)) << team;
        ASSERT_EQ(spect_getmaxrgb_Nx16_sse(m, p16.data(), stride16, 12, nComps, width, width * rows, colours.data(),
                                           flags16.data(), 0.75),
                  0);
        EXPECT_EQ((std::array<double, 3>{m[0], m[1], m[2]}), RefMax(plain16)) << team;
        ASSERT_EQ(spect_getmaxrgb_NxFloat_sse(m, pf.data(), strideF, 0.0f, 9.0f, nComps, width,
                                              uint64_t(width) * rows, colours.data(), flags32.data(), 2.0),
                  0);
        EXPECT_EQ((std::array<double, 3>{m[0], m[1], m[2]}), RefMax(plainF)) << team;
        ASSERT_EQ(spect_getmaxrgbex_Nx8_sse(m, p8.data(), stride8, 8, nComps, width, width * rows, &l.lut), 0);
        EXPECT_EQ((std::array<double, 3>{m[0], m[1], m[2]}), RefMax(ex8)) << team;
        ASSERT_EQ(spect_getmaxrgbex_Nx16_sse(m, p16.data(), stride16, 12, nComps, width, width * rows, &l.lut), 0);
        EXPECT_EQ((std::array<double, 3>{m[0], m[1], m[2]}), RefMax(ex16)) << team;
        ASSERT_EQ(spect_getmaxrgbex_NxFloat_sse(m, pf.data(), strideF, 0.0f, 9.0f, nComps, width,
                                                uint64_t(width) * rows, &l.lut),
                  0);
        EXPECT_EQ((std::array<double, 3>{m[0], m[1], m[2]}), RefMax(exF)) << team;

        std::vector<unsigned> h(768, 1);  // the members add to what is there
        ASSERT_EQ(spect_gethistorgb_NxFloat_sse(h.data(), h.data() + 256, h.data() + 512, pf.data(), strideF, 0.0f,
                                                9.0f, nComps, width, uint64_t(width) * rows, colours.data(),
                                                flags32.data(), 2.0),
                  0);
        std::vector<unsigned> want = RefHist(plainF);
        for (unsigned& v : want)
            ++v;
        EXPECT_EQ(h, want) << team;
        std::fill(h.begin(), h.end(), 0u);
        ASSERT_EQ(spect_gethistorgbex_NxFloat_sse(h.data(), h.data() + 256, h.data() + 512, pf.data(), strideF, 0.0f,
                                                  9.0f, nComps, width, uint64_t(width) * rows, &l.lut),
                  0);
        EXPECT_EQ(h, RefHist(exF)) << team;
    }
}

TEST(SpectralStatistics, DocumentedExamples)
{
    double m[3] = {9, 9, 9};
    unsigned white = 0xFFFFFF;
    // count below width: maxima 0, histograms untouched.
    unsigned char one[4] = {255, 255, 255, 255};
    unsigned char ff = 0xFF;
    EXPECT_EQ(spect_getmaxrgb_Nx8_sse(m, one, 4, 8, 1, 4, 3, &white, &ff, 1.0), 0);
    EXPECT_EQ(m[0] + m[1] + m[2], 0.0);
    // one white 8-bit channel at 255: 255 in each colour.
    EXPECT_EQ(spect_getmaxrgb_Nx8_sse(m, one, 4, 8, 1, 4, 4, &white, &ff, 1.0), 0);
    EXPECT_EQ(m[0], 255.0);
    EXPECT_EQ(m[2], 255.0);
    // all flags 0: maxima 0, and the float histogram counts every pixel in bin 0.
    unsigned char zero = 0;
    spect_getmaxrgb_Nx8_sse(m, one, 4, 8, 1, 4, 4, &white, &zero, 1.0);
    EXPECT_EQ(m[1], 0.0);
    float fs[6] = {0.5f, -1.0f, 0.5f, 0.5f, 0.5f, 0.5f};
    unsigned flagsOff = 0, flagsOn = 0xFFFFFFFFu;
    std::vector<unsigned> h(768, 0);
    spect_gethistorgb_NxFloat_sse(h.data(), h.data() + 256, h.data() + 512, fs, 4, 0, 1, 1, 1, 1, &white, &flagsOff, 1);
    EXPECT_EQ(h[0] + h[256] + h[512], 3u);
    // min 0, max 1, sample 0.5: v = 127.5, bin 128.
    std::fill(h.begin(), h.end(), 0u);
    spect_gethistorgb_NxFloat_sse(h.data(), h.data() + 256, h.data() + 512, fs, 4, 0, 1, 1, 1, 1, &white, &flagsOn, 1);
    EXPECT_EQ(h[128] + h[256 + 128] + h[512 + 128], 3u);
    // a sample of -1 with min -1, max 1 counts in bin 0.
    std::fill(h.begin(), h.end(), 0u);
    spect_gethistorgb_NxFloat_sse(h.data(), h.data() + 256, h.data() + 512, fs + 1, 4, -1, 1, 1, 1, 1, &white, &flagsOn, 1);
    EXPECT_EQ(h[0], 1u);
    // six float components are all summed: (6 x 0.5) x 255 / 6 ... with white
    // colours and factor 1 over range 6 the sum of 0.5 x 6 renders 127.5.
    std::vector<unsigned> whites(6, white), ons(6, 0xFFFFFFFFu);
    float six[6] = {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
    spect_getmaxrgb_NxFloat_sse(m, six, 24, 0, 6, 6, 1, 1, whites.data(), ons.data(), 1);
    EXPECT_NEAR(m[0], 127.5, 0.01);
    // 16-bit flag 0x00FF keeps the low 8 bits.
    unsigned short s16 = 0x1234, f16 = 0x00FF;
    spect_getmaxrgb_Nx16_sse(m, &s16, 2, 16, 1, 1, 1, &white, &f16, 65535.0 / 255.0);
    EXPECT_NEAR(m[0], 0x34, 1e-3);
    // ex member with V = 0: maxima 0 and every pixel in bin 0.
    Lut l(4, 16);
    l.Visible({});
    float f4[4] = {1, 2, 3, 4};
    spect_getmaxrgbex_NxFloat_sse(m, f4, 16, 0, 4, 4, 1, 1, &l.lut);
    EXPECT_EQ(m[0] + m[1] + m[2], 0.0);
    std::fill(h.begin(), h.end(), 0u);
    EXPECT_EQ(spect_gethistorgbex_NxFloat_sse(h.data(), h.data() + 256, h.data() + 512, f4, 16, 0, 4, 4, 1, 1, &l.lut), 0);
    EXPECT_EQ(h[0] + h[256] + h[512], 3u);
    // Refused: a LUT without parametric block, depths outside the member.
    SKzLut::FreeParametric(l.lut);
    EXPECT_EQ(spect_getmaxrgbex_NxFloat_sse(m, f4, 16, 0, 4, 4, 1, 1, &l.lut), -4);
    EXPECT_EQ(spect_getmaxrgb_Nx16_sse(m, &s16, 2, 8, 1, 1, 1, &white, &f16, 1), -4);
    EXPECT_EQ(spect_getmaxrgb_Nx8_sse(m, one, 4, 0, 1, 4, 4, &white, &ff, 1.0), -4);
}

TEST(SpectralStatistics, MinMaxMeanOfSixteenBitChannels)
{
    const unsigned nComps = 3, width = 4, rows = 3;
    std::vector<unsigned short> src(nComps * width * rows);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = (unsigned short)((i * 37) % 1000);
    unsigned short flags[3] = {1, 0, 0xFFFF};
    unsigned colours[3] = {0x0000FF, 0x00FF00, 0xFF0000};
    double mins[3], maxs[3], sums[3];
    unsigned char mc[3];
    ASSERT_EQ(spect_getminmaxmean_Nx16_float(mins, maxs, sums, mc, src.data(), width * nComps * 2, 0, nComps, width,
                                             width * rows, colours, flags, 1.0 / 1000.0),
              0);
    for (unsigned j : {0u, 2u}) {
        double mn = 1e300, mx = 0, sm = 0;
        for (unsigned p = 0; p < width * rows; ++p) {
            mn = std::min(mn, double(src[p * nComps + j]));
            mx = std::max(mx, double(src[p * nComps + j]));
            sm += src[p * nComps + j];
        }
        EXPECT_EQ(mins[j], mn);
        EXPECT_EQ(maxs[j], mx);
        EXPECT_EQ(sums[j], sm);
    }
    EXPECT_EQ(mins[1], 3.4028234663852886e38);  // flag 0: initial values
    EXPECT_EQ(maxs[1], 0.0);
    // The largest rendered colour: per pixel C_c = sum over counted channels
    // of colour x sample, times k = scale x 255, limited to 0..255.
    const float k = float(1.0 / 1000.0 * 255.0);
    float P[3] = {0, 0, 0};
    for (unsigned p = 0; p < width * rows; ++p)
        for (int c = 0; c < 3; ++c) {
            float C = 0;
            for (unsigned j : {0u, 2u})
                C += Lane(colours[j], c) * float(src[p * nComps + j]);
            P[c] = std::max(P[c], std::min(255.0f, std::max(0.0f, C * k)));
        }
    EXPECT_EQ(mc[0], (unsigned char)int(P[2]));
    EXPECT_EQ(mc[1], 0);
    EXPECT_EQ(mc[2], (unsigned char)int(P[0]));
    EXPECT_GT(mc[0], 0);
    // mins null, maxs given: maxs still starts from 0.
    double maxs2[3] = {-5, -5, -5};
    ASSERT_EQ(spect_getminmaxmean_Nx16_float(nullptr, maxs2, nullptr, nullptr, src.data(), width * nComps * 2, 0,
                                             nComps, width, width * rows, nullptr, flags, 1.0),
              0);
    EXPECT_EQ(maxs2[0], maxs[0]);
    EXPECT_EQ(maxs2[1], 0.0);
}

// ---------------------------------------------------------------------------
// Guard pages and threads
// ---------------------------------------------------------------------------

TEST(SpectralGuard, EveryMemberReadsOnlyInsideAPictureEndingAtAGuardPage)
{
    const unsigned nComps = 5, width = 7, rows = 3;
    Lut l(nComps, 12);
    l.Visible({0, 4});
    l.SetExp(true, 0x00010203u);
    l.SetExp(false, 0x00040506u);
    Guarded g8(size_t(width) * nComps * rows), g16(size_t(width) * nComps * rows * 2),
        gf(size_t(width) * nComps * rows * 4);
    std::memset(g8.data, 7, size_t(width) * nComps * rows);
    std::memset(g16.data, 0, size_t(width) * nComps * rows * 2);
    std::memset(gf.data, 0, size_t(width) * nComps * rows * 4);
    auto* s16 = reinterpret_cast<unsigned short*>(g16.data);
    auto* sf = reinterpret_cast<float*>(gf.data);
    std::vector<unsigned char> dst(width * 3 * rows);
    std::vector<unsigned> colours(nComps, 0xFFFFFF), f32(nComps, 0xFFFFFFFFu);
    std::vector<unsigned char> f8(nComps, 0xFF);
    std::vector<unsigned short> f16(nComps, 0xFFFF);
    std::vector<unsigned> h(768);
    double m[3];
    const unsigned c = width * rows;
    EXPECT_EQ(spect_render_Nx8_3x8_sse_overexp_underexp(dst.data(), width * 3, g8.data, 8, width * nComps, nComps, &l.lut, width, c), 0);
    EXPECT_EQ(spect_render_Nx16_3x8_sse_overexp_underexp(dst.data(), width * 3, s16, 12, width * nComps * 2, nComps, &l.lut, width, c), 0);
    EXPECT_EQ(spect_render_Nx8_3x8_float_overexp(dst.data(), width * 3, g8.data, 8, width * nComps, nComps, &l.lut, width, c), 0);
    EXPECT_EQ(spect_render_Nx16_3x8_float(dst.data(), width * 3, s16, 12, width * nComps * 2, nComps, &l.lut, width, c), 0);
    EXPECT_EQ(spect_render_NxFloat_3x8_float(dst.data(), width * 3, sf, width * nComps * 4, nComps, &l.lut, width, c, 0, 1), 0);
    EXPECT_EQ(spect_getmaxrgb_Nx8_sse(m, g8.data, width * nComps, 8, nComps, width, c, colours.data(), f8.data(), 1), 0);
    EXPECT_EQ(spect_getmaxrgb_Nx16_sse(m, s16, width * nComps * 2, 12, nComps, width, c, colours.data(), f16.data(), 1), 0);
    EXPECT_EQ(spect_getmaxrgb_NxFloat_sse(m, sf, width * nComps * 4, 0, 1, nComps, width, c, colours.data(), f32.data(), 1), 0);
    EXPECT_EQ(spect_getmaxrgbex_Nx8_sse(m, g8.data, width * nComps, 8, nComps, width, c, &l.lut), 0);
    EXPECT_EQ(spect_getmaxrgbex_Nx16_sse(m, s16, width * nComps * 2, 12, nComps, width, c, &l.lut), 0);
    EXPECT_EQ(spect_getmaxrgbex_NxFloat_sse(m, sf, width * nComps * 4, 0, 1, nComps, width, c, &l.lut), 0);
    EXPECT_EQ(spect_gethistorgb_NxFloat_sse(h.data(), h.data() + 256, h.data() + 512, sf, width * nComps * 4, 0, 1, nComps, width, c, colours.data(), f32.data(), 1), 0);
    EXPECT_EQ(spect_gethistorgbex_NxFloat_sse(h.data(), h.data() + 256, h.data() + 512, sf, width * nComps * 4, 0, 1, nComps, width, c, &l.lut), 0);
    EXPECT_EQ(spect_getminmaxmean_Nx16_float(nullptr, nullptr, nullptr, nullptr, s16, width * nComps * 2, 0, nComps, width, c, colours.data(), f16.data(), 1), 0);
}

TEST(SpectralThreads, RenderingIsTheSameForEveryBandSplit)
{
    std::mt19937 rng(19);
    const unsigned nComps = 8, width = 64, rows = 37;
    Lut l(nComps, 16);
    RandomParams(l, rng);
    l.SetExp(false, 0x00203040u);
    const unsigned stride = width * nComps * 2;
    auto src = RandomPicture<unsigned short>(stride, rows, 16, rng, 1);
    std::vector<unsigned char> first;
    for (int team : {1, 2, 3, 7, 0, 100}) {
        ThreadsOverride t(team);
        std::vector<unsigned char> dst(width * 3 * rows, 0);
        ASSERT_EQ(spect_render_Nx16_3x8_sse_overexp_underexp(dst.data(), width * 3, src.data(), 16, stride, nComps,
                                                             &l.lut, width, width * rows),
                  0);
        if (first.empty())
            first = dst;
        else
            EXPECT_EQ(dst, first) << "team " << team;
    }
    // Fewer rows than processors: one band per row; one row: no thread.
    ThreadsOverride t(16);
    std::vector<unsigned char> dst(width * 3 * 2, 0);
    ASSERT_EQ(spect_render_Nx16_3x8_sse_overexp_underexp(dst.data(), width * 3, src.data(), 16, stride, nComps,
                                                         &l.lut, width, width * 2),
              0);
    EXPECT_TRUE(std::equal(dst.begin(), dst.end(), first.begin()));
}
}  // namespace
