// Colour spaces against an independent numpy computation of the same
// formulas (scripts/gen_colour_reference.py), plus the scale helpers.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/internal/KzPicKernelFamilies.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

#include "colour_reference.inc"

struct PicGuard {
    SKzPicBuf pic;
    PicGuard() { CKzPicBufAPI::Init(&pic); }
    ~PicGuard() { CKzPicBufAPI::Free(&pic); }
};

// The reference pixels as a picture of `rows` rows (the pixel list split evenly).
void Fill(SKzPicBuf& p, const unsigned short* px, unsigned bits)
{
    const unsigned rows = 8, w = kColourPixels / rows;
    ASSERT_EQ(CKzPicBufAPI::Reinit(&p, w, rows, 0, bits, 3, true), 0);
    for (unsigned i = 0; i < kColourPixels * 3; ++i) {
        const unsigned r = i / (w * 3), k = i % (w * 3);
        if (bits <= 8)
            p.pData[size_t(r) * p.uiWidthBytes + k] = uint8_t(px[i]);
        else
            reinterpret_cast<uint16_t*>(p.pData + size_t(r) * p.uiWidthBytes)[k] = px[i];
    }
}

::testing::AssertionResult Matches(const SKzPicBuf& p, const unsigned short* want, const unsigned short* in)
{
    const unsigned w = p.uiWidth;
    for (unsigned i = 0; i < kColourPixels * 3; ++i) {
        const unsigned r = i / (w * 3), k = i % (w * 3);
        const unsigned got = p.uiBpc <= 8 ? p.pData[size_t(r) * p.uiWidthBytes + k]
                                          : reinterpret_cast<const uint16_t*>(p.pData + size_t(r) * p.uiWidthBytes)[k];
        if (got != want[i])
            return ::testing::AssertionFailure() << "pixel " << i / 3 << " (" << in[i - i % 3] << ", "
                                                 << in[i - i % 3 + 1] << ", " << in[i - i % 3 + 2] << ") component "
                                                 << i % 3 << ": got " << got << ", want " << want[i];
    }
    return ::testing::AssertionSuccess();
}

using ConvFn = kz_result (*)(SKzPicBuf*, SKzPicBuf*);

struct Case {
    const char* name;
    ConvFn fn;
    const unsigned short* want[3];  // 8, 12, 16 bits
};

const Case kCases[] = {
    {"RGBtoIHS", CKzPicBufAPI::ConvertRGBtoIHS, {kRgbToIhs8, kRgbToIhs12, kRgbToIhs16}},
    {"IHStoRGB", CKzPicBufAPI::ConvertIHStoRGB, {kIhsToRgb8, kIhsToRgb12, kIhsToRgb16}},
    {"RGBtoYCrCb", CKzPicBufAPI::ConvertRGBtoYCrCb, {kRgbToYcc8, kRgbToYcc12, kRgbToYcc16}},
    {"YCrCbtoRGB", CKzPicBufAPI::ConvertYCrCbtoRGB, {kYccToRgb8, kYccToRgb12, kYccToRgb16}},
};

TEST(Colour, ConversionsMatchTheReference)
{
    const unsigned short* inputs[3] = {kColourIn8, kColourIn12, kColourIn16};
    const unsigned depths[3] = {8, 12, 16};
    // Every instruction-set path gives the same results.
    struct IsaRestore {
        ~IsaRestore() { KzIsaLimit().store(int(KzIsa::Avx512)); }
    } restore;
    for (KzIsa isa : {KzIsa::Avx512, KzIsa::Avx2, KzIsa::Base})
    for (const Case& c : kCases)
        for (int d = 0; d < 3; ++d) {
            KzIsaLimit().store(int(isa));
            SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(depths[d]) + " bits, instruction set " +
                         std::to_string(int(isa)));
            PicGuard src, dst;
            Fill(src.pic, inputs[d], depths[d]);
            Fill(dst.pic, inputs[d], depths[d]);
            CKzPicBufAPI::Clear(&dst.pic);
            const kz_result r = c.fn(&dst.pic, &src.pic);
            if (depths[d] == 12 && !kKzPicHaveDepth) {
                EXPECT_EQ(r, -2);  // waits for the shift kernels
                continue;
            }
            ASSERT_EQ(r, 0);
            EXPECT_TRUE(Matches(dst.pic, c.want[d], inputs[d]));
            // In place (destination = source) gives the same.
            ASSERT_EQ(c.fn(&src.pic, &src.pic), 0);
            EXPECT_TRUE(Matches(src.pic, c.want[d], inputs[d]));
        }
}

TEST(Colour, StatedPixels)
{
    struct Px {
        uint8_t r, g, b, i, s, h;
    } cases[] = {
        {255, 0, 0, 85, 255, 0}, {0, 255, 0, 85, 255, 85}, {0, 0, 255, 85, 255, 170}, {100, 100, 100, 100, 0, 0},
    };
    for (const Px& c : cases) {
        unsigned char h, s, i;
        CKzPicMemAPI::ConvertColorRGB8toHSI8(h, s, i, c.r, c.g, c.b);
        EXPECT_EQ(i, c.i);
        EXPECT_EQ(s, c.s);
        EXPECT_EQ(h, c.h) << int(c.r) << " " << int(c.g) << " " << int(c.b);
    }
    unsigned char r, g, b;
    CKzPicMemAPI::ConvertColorHSI8toRGB8(r, g, b, 0, 0, 100);
    EXPECT_EQ(r + g * 256 + b * 65536, 100 + 100 * 256 + 100 * 65536);
    CKzPicMemAPI::ConvertColorHSI8toRGB8(r, g, b, 77, 200, 0);  // intensity 0: black
    EXPECT_EQ(r + g + b, 0);
    // The single-colour forms follow the picture rules.
    for (unsigned p = 0; p < kColourPixels; ++p) {
        const unsigned short* in = &kColourIn8[p * 3];  // blue, green, red
        CKzPicMemAPI::ConvertColorRGB8toHSI8(b, g, r, uint8_t(in[2]), uint8_t(in[1]), uint8_t(in[0]));
        EXPECT_EQ(r, kRgbToIhs8[p * 3]);      // intensity
        EXPECT_EQ(g, kRgbToIhs8[p * 3 + 1]);  // saturation
        EXPECT_EQ(b, kRgbToIhs8[p * 3 + 2]);  // hue
        CKzPicMemAPI::ConvertColorHSI8toRGB8(r, g, b, uint8_t(in[2]), uint8_t(in[1]), uint8_t(in[0]));
        EXPECT_EQ(b, kIhsToRgb8[p * 3]);
        EXPECT_EQ(g, kIhsToRgb8[p * 3 + 1]);
        EXPECT_EQ(r, kIhsToRgb8[p * 3 + 2]);
    }
    // White: Y 255, Cr and Cb 128.
    PicGuard pic;
    ASSERT_EQ(CKzPicBufAPI::Reinit(&pic.pic, 1, 1, 0, 8, 3, false), 0);
    std::memset(pic.pic.pData, 255, 3);
    ASSERT_EQ(CKzPicBufAPI::ConvertRGBtoYCrCb(&pic.pic, &pic.pic), 0);
    EXPECT_EQ(pic.pic.pData[0], 255);
    EXPECT_EQ(pic.pic.pData[1], 128);
    EXPECT_EQ(pic.pic.pData[2], 128);
}

TEST(Colour, RefusedShapes)
{
    PicGuard a, b;
    ASSERT_EQ(CKzPicBufAPI::Reinit(&a.pic, 4, 4, 0, 8, 1, true), 0);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&b.pic, 4, 4, 0, 8, 1, true), 0);
    for (const Case& c : kCases)
        EXPECT_EQ(c.fn(&a.pic, &b.pic), -9) << c.name;  // one component
    ASSERT_EQ(CKzPicBufAPI::Reinit(&a.pic, 4, 4, 0, 8, 3, true), 0);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&b.pic, 4, 5, 0, 8, 3, true), 0);
    EXPECT_EQ(CKzPicBufAPI::ConvertRGBtoIHS(&a.pic, &b.pic), -9);  // sizes differ
    ASSERT_EQ(CKzPicBufAPI::Reinit(&b.pic, 4, 4, 0, 20, 3, true), 0);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&a.pic, 4, 4, 0, 20, 3, true), 0);
    EXPECT_EQ(CKzPicBufAPI::ConvertRGBtoYCrCb(&a.pic, &b.pic), -9);  // no 20-bit transform
    EXPECT_EQ(CKzPicBufAPI::ConvertRGBtoYCrCb(nullptr, &b.pic), -9);
}

TEST(Colour, AcosTable)
{
    double* t = CreateAcosLUTs();
    ASSERT_NE(t, nullptr);
    EXPECT_DOUBLE_EQ(t[0], M_PI);
    EXPECT_EQ(t[10000], 0.0);
    EXPECT_DOUBLE_EQ(t[5000], M_PI / 2);
    EXPECT_DOUBLE_EQ(t[2500], std::acos(-0.5));
    std::free(t);
    EXPECT_EQ(g_AcosLUTs, nullptr);  // the library never assigns it
}

// Eight threads convert to IHS at once with no host table: the table the
// conversions build for themselves is built once and shared safely.
TEST(ColourThreads, EightThreadsConvertWithoutHostTable)
{
    ASSERT_EQ(g_AcosLUTs, nullptr);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&failures] {
            SKzPicBuf src, dst;
            CKzPicBufAPI::Init(&src);
            CKzPicBufAPI::Init(&dst);
            const unsigned rows = 8, w = kColourPixels / rows;
            if (CKzPicBufAPI::Reinit(&src, w, rows, 0, 8, 3, false) != 0 ||
                CKzPicBufAPI::Reinit(&dst, w, rows, 0, 8, 3, false) != 0) {
                ++failures;
                return;
            }
            for (unsigned i = 0; i < kColourPixels * 3; ++i)
                src.pData[size_t(i / (w * 3)) * src.uiWidthBytes + i % (w * 3)] = uint8_t(kColourIn8[i]);
            for (int rep = 0; rep < 20; ++rep) {
                if (CKzPicBufAPI::ConvertRGBtoIHS(&dst, &src) != 0) {
                    ++failures;
                    break;
                }
                for (unsigned i = 0; i < kColourPixels * 3; ++i)
                    if (dst.pData[size_t(i / (w * 3)) * dst.uiWidthBytes + i % (w * 3)] != kRgbToIhs8[i]) {
                        ++failures;
                        break;
                    }
            }
            CKzPicBufAPI::Free(&src);
            CKzPicBufAPI::Free(&dst);
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(g_AcosLUTs, nullptr);
}

TEST(Colour, HostTableIsUsedAsIs)
{
    // A host table of all zeros makes every hue come from theta 0.
    std::vector<double> zeros(10001, 0.0);
    g_AcosLUTs = zeros.data();
    unsigned char h, s, i;
    CKzPicMemAPI::ConvertColorRGB8toHSI8(h, s, i, 0, 255, 0);
    g_AcosLUTs = nullptr;
    EXPECT_EQ(h, 0);
    CKzPicMemAPI::ConvertColorRGB8toHSI8(h, s, i, 0, 255, 0);
    EXPECT_EQ(h, 85);
}

TEST(Colour, ScaleHelpers)
{
    EXPECT_EQ(CKzPicMemAPI::CalcUintToDbl(4095, 12), 255.9375);
    EXPECT_EQ(CKzPicMemAPI::CalcDblToUint(255.9375, 12), 4095u);
    EXPECT_EQ(CKzPicMemAPI::CalcUintMax(16), 65535u);
    EXPECT_EQ(CKzPicMemAPI::CalcUintMax(32), 0u);
    EXPECT_EQ(CKzPicMemAPI::CalcUintToDbl(200, 7), 200.0);
    EXPECT_EQ(CKzPicMemAPI::CalcUintToDbl(200, 8), 200.0);
    EXPECT_EQ(CKzPicMemAPI::CalcDblToUint(3.9, 5), 3u);
    EXPECT_EQ(CKzPicMemAPI::CalcDblToUint(-3.9, 12), 0u);
    EXPECT_EQ(CKzPicMemAPI::CalcDblToUint(NAN, 12), 0u);
    EXPECT_EQ(CKzPicMemAPI::CalcDblToUint(1e30, 16), 0xFFFFFFFFu);
    EXPECT_TRUE(CKzPicMemAPI::IsCPU_SSE2());
    EXPECT_EQ(CKzPicMemAPI::pdRGBOptWeights[1], 0.59);
    EXPECT_EQ(CKzPicMemAPI::pdRGBStdWeights[3], 0.0);
    EXPECT_EQ(CKzPicMemAPI::s_piCPUInfo[0], -1);
}

TEST(Colour, BgrToRgbSwapsFirstAndThird)
{
    uint8_t p8[2][9] = {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}};
    CKzPicMemAPI::ConvertBGRtoRGB(p8, 4, 8, 9, 2, 2);  // 4 components, 2 pixels a row
    const uint8_t want8[2][9] = {{3, 2, 1, 4, 7, 6, 5, 8, 9}, {12, 11, 10, 13, 16, 15, 14, 17, 18}};
    EXPECT_EQ(std::memcmp(p8, want8, sizeof p8), 0);
    uint16_t p16[6] = {1, 2, 3, 4, 5, 6};
    CKzPicMemAPI::ConvertBGRtoRGB(p16, 3, 12, 12, 2, 1);
    const uint16_t want16[6] = {3, 2, 1, 6, 5, 4};
    EXPECT_EQ(std::memcmp(p16, want16, sizeof p16), 0);
    uint8_t two[4] = {1, 2, 3, 4};
    CKzPicMemAPI::ConvertBGRtoRGB(two, 2, 8, 4, 2, 1);  // below 3 components: nothing
    EXPECT_EQ(two[0], 1);
    CKzPicMemAPI::ConvertBGRtoRGB(p16, 3, 20, 12, 2, 1);
    EXPECT_EQ(p16[0], 3);
}

} // namespace
