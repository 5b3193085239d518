// Integer picture life cycle: strides, sample sizes, reshaping and release.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct PicGuard {
    SKzPicBuf pic;
    PicGuard() { CKzPicBufAPI::Init(&pic); }
    ~PicGuard() { CKzPicBufAPI::Free(&pic); }
};

void ExpectEmpty(const SKzPicBuf& p)
{
    EXPECT_EQ(p.uiWidth, 0u);
    EXPECT_EQ(p.uiHeight, 0u);
    EXPECT_EQ(p.uiWidthBytes, 0u);
    EXPECT_EQ(p.uiBpc, 0u);
    EXPECT_EQ(p.uiComp, 0u);
    EXPECT_EQ(p.uiSize, 0u);
    EXPECT_EQ(p.pData, nullptr);
}

TEST(PicBuf, CompSizeTable)
{
    const unsigned expect[] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 4};
    for (unsigned b = 0; b < std::size(expect); ++b)
        EXPECT_EQ(CKzPicBufAPI::CalcCompSize(b), expect[b]) << b;
    EXPECT_EQ(CKzPicBufAPI::CalcCompSize(24), 4u);
    EXPECT_EQ(CKzPicBufAPI::CalcCompSize(32), 4u);
    EXPECT_EQ(CKzPicBufAPI::CalcCompSize(33), 8u);
    EXPECT_EQ(CKzPicBufAPI::CalcCompSize(64), 8u);
    EXPECT_EQ(CKzPicBufAPI::CalcCompSize(65), 0u);
    EXPECT_EQ(CKzPicBufAPI::CalcCompSize(0xFFFFFFFFu), 0u);
}

TEST(PicBuf, WidthBytes)
{
    struct Case {
        unsigned w, bits, comps, align, expect;
    } cases[] = {
        {3, 8, 1, 4, 4},       {3, 12, 3, 4, 20},         {5, 24, 1, 4, 20},   {3, 0, 1, 4, 0},
        {100, 16, 3, 4, 600},  {7, 8, 1, 1, 7},           {7, 8, 1, 16, 16},   {0, 8, 3, 4, 0},
        {1, 40, 1, 4, 8},      {3, 8, 1, 0, 0},           // alignment 0
        {0x40000000u, 8, 4, 4, 0},                          // 2^32 bytes: does not fit
        {0x3FFFFFFFu, 8, 4, 4, 0xFFFFFFFCu},                // the largest that fits
        {0xFFFFFFFFu, 64, 0xFFFFFFFFu, 4, 0},              // 2^67: no wrap to a small stride
        {0xFFFFFFFDu, 8, 1, 8, 0},                          // rounding up passes 2^32
    };
    for (const Case& c : cases)
        EXPECT_EQ(CKzPicBufAPI::CalcWidthBytes(c.w, c.bits, c.comps, c.align), c.expect)
            << c.w << " " << c.bits << " " << c.comps << " " << c.align;
}

TEST(PicBuf, BitMaskAndCheck)
{
    EXPECT_EQ(CKzPicBufAPI::GetBitMask(12), 4095u);
    EXPECT_EQ(CKzPicBufAPI::GetBitMask(32), 0u);
    EXPECT_EQ(CKzPicBufAPI::GetBitMask(0), 0u);
    EXPECT_EQ(CKzPicBufAPI::GetBitMask(31), 0x7FFFFFFFu);
    EXPECT_EQ(CKzPicBufAPI::GetBitMask(33), 1u);
    EXPECT_EQ(g_pucBits[0], 0x80);
    EXPECT_EQ(g_pucBits[7], 0x01);
}

TEST(PicBuf, CheckOptions)
{
    SKzPicBuf a{}, b{};
    a.uiWidth = b.uiWidth = 10;
    a.uiHeight = b.uiHeight = 5;
    a.uiBpc = b.uiBpc = 8;
    a.uiComp = b.uiComp = 3;
    a.uiWidthBytes = 32;
    b.uiWidthBytes = 64;  // never compared
    for (int o = 0; o <= 6; ++o)
        EXPECT_TRUE(CKzPicBufAPI::Check(&a, &b, CKzPicBufAPI::CheckOptions(o))) << o;
    EXPECT_FALSE(CKzPicBufAPI::Check(&a, &b, CKzPicBufAPI::CheckOptions(7)));
    EXPECT_FALSE(CKzPicBufAPI::Check(&a, nullptr, CKzPicBufAPI::eCheckComp));
    EXPECT_FALSE(CKzPicBufAPI::Check(nullptr, &b, CKzPicBufAPI::eCheckComp));
    // Which options see which difference: size, bits, components.
    struct Diff {
        void (*make)(SKzPicBuf&);
        bool expect[7];
    } diffs[] = {
        {[](SKzPicBuf& p) { p.uiWidth = 11; }, {false, false, false, false, true, true, true}},
        {[](SKzPicBuf& p) { p.uiHeight = 4; }, {false, false, false, false, true, true, true}},
        {[](SKzPicBuf& p) { p.uiBpc = 12; }, {true, false, false, true, true, false, false}},
        {[](SKzPicBuf& p) { p.uiComp = 1; }, {true, true, false, false, false, true, false}},
    };
    for (const Diff& d : diffs) {
        SKzPicBuf c = b;
        d.make(c);
        for (int o = 0; o <= 6; ++o)
            EXPECT_EQ(CKzPicBufAPI::Check(&a, &c, CKzPicBufAPI::CheckOptions(o)), d.expect[o]) << o;
    }
}

TEST(PicBuf, ReinitShapesAndZeroes)
{
    PicGuard g;
    ExpectEmpty(g.pic);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&g.pic, 100, 10, 0, 16, 3, true), 0);
    EXPECT_EQ(g.pic.uiWidth, 100u);
    EXPECT_EQ(g.pic.uiHeight, 10u);
    EXPECT_EQ(g.pic.uiWidthBytes, 600u);
    EXPECT_EQ(g.pic.uiBpc, 16u);
    EXPECT_EQ(g.pic.uiComp, 3u);
    EXPECT_EQ(g.pic.uiSize, 6000u);
    ASSERT_NE(g.pic.pData, nullptr);
    for (size_t i = 0; i < 6000; ++i)
        ASSERT_EQ(g.pic.pData[i], 0) << i;
    for (size_t i = 0; i < 6000; ++i)
        g.pic.pData[i] = uint8_t(i * 13);
    // Smaller shape: the leading bytes survive.
    ASSERT_EQ(CKzPicBufAPI::Reinit(&g.pic, 10, 10, 0, 8, 1, false), 0);
    EXPECT_EQ(g.pic.uiWidthBytes, 12u);
    EXPECT_EQ(g.pic.uiSize, 120u);
    for (size_t i = 0; i < 120; ++i)
        ASSERT_EQ(g.pic.pData[i], uint8_t(i * 13)) << i;
    // A given stride is kept as it is.
    ASSERT_EQ(CKzPicBufAPI::Reinit(&g.pic, 10, 3, 1024, 8, 1, true), 0);
    EXPECT_EQ(g.pic.uiWidthBytes, 1024u);
    EXPECT_EQ(g.pic.uiSize, 3072u);
    g.pic.pData[3071] = 1;  // the sanitizer preset checks the block's size
    // Released pictures take a new shape afresh.
    CKzPicBufAPI::Free(&g.pic);
    EXPECT_EQ(g.pic.pData, nullptr);
    EXPECT_EQ(g.pic.uiSize, 3072u);
    EXPECT_EQ(g.pic.uiWidth, 10u);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&g.pic, 5, 24, 0, 24, 1, true), 0);
    EXPECT_EQ(g.pic.uiWidthBytes, 20u);
    EXPECT_EQ(g.pic.uiBpc, 24u);
}

TEST(PicBuf, ReinitWithoutBlockEndsEmpty)
{
    struct Case {
        unsigned w, h, stride, bits, comps;
    } cases[] = {
        {0, 10, 0, 8, 1},                        // width 0
        {10, 0, 0, 8, 1},                        // height 0
        {10, 10, 0, 0, 1},                       // bits 0
        {10, 10, 0, 8, 0},                       // no component
        {0x40000000u, 2, 0, 8, 4},               // default stride does not fit 32 bits
        {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 8, 1},  // 2^64 bytes
        {0x1000000u, 0x10000u, 0, 64, 1},            // 2^43 bytes: beyond any real frame
    };
    for (const Case& c : cases) {
        PicGuard g;
        ASSERT_EQ(CKzPicBufAPI::Reinit(&g.pic, 4, 4, 0, 8, 1, false), 0);
        EXPECT_EQ(CKzPicBufAPI::Reinit(&g.pic, c.w, c.h, c.stride, c.bits, c.comps, true), -3)
            << c.w << "x" << c.h;
        ExpectEmpty(g.pic);
        CKzPicBufAPI::Free(&g.pic);
        ExpectEmpty(g.pic);
    }
}

TEST(PicBuf, ReinitRefusesImpossibleShapesUnchanged)
{
    struct Case {
        unsigned w, h, stride, bits, comps;
    } cases[] = {
        {10, 10, 0, 65, 1},       // bits beyond 64
        {10, 10, 9, 8, 1},        // stride below the row
        {10, 10, 59, 16, 3},      // 60-byte rows
        {0xFFFFFFFFu, 1, 0xFFFFFFFFu, 16, 1},
    };
    for (const Case& c : cases) {
        PicGuard g;
        ASSERT_EQ(CKzPicBufAPI::Reinit(&g.pic, 4, 4, 0, 8, 1, true), 0);
        const SKzPicBuf before = g.pic;
        EXPECT_EQ(CKzPicBufAPI::Reinit(&g.pic, c.w, c.h, c.stride, c.bits, c.comps, true), -4);
        EXPECT_EQ(std::memcmp(&before, &g.pic, sizeof before), 0);
    }
}

TEST(PicBuf, FileEngineUse)
{
    // Init, Reinit with the file's stride, test the block, Free on every path.
    SKzPicBuf pic;
    std::memset(&pic, 0x5A, sizeof pic);
    CKzPicBufAPI::Init(&pic);
    ExpectEmpty(pic);
    const unsigned stride = CKzPicBufAPI::CalcWidthBytes(641, 12, 1, 4);
    EXPECT_EQ(stride, 1284u);
    CKzPicBufAPI::Reinit(&pic, 641, 480, stride, 12, 1, false);
    ASSERT_NE(pic.pData, nullptr);
    EXPECT_EQ(pic.uiSize, 1284u * 480);
    std::memset(pic.pData, 1, pic.uiSize);
    CKzPicBufAPI::Free(&pic);
    CKzPicBufAPI::Free(&pic);
    EXPECT_EQ(pic.pData, nullptr);
}

// CopyComponent between interleaved pictures, against a direct per-sample copy.
TEST(PicMem, CopyComponentTable)
{
    struct Case {
        unsigned bits, dstComps, dstIdx, srcComps, srcIdx, width, rows;
    } cases[] = {
        {8, 1, 0, 3, 2, 17, 3},  {8, 4, 3, 1, 0, 9, 2},   {8, 5, 1, 7, 6, 33, 4},
        {12, 1, 0, 3, 1, 17, 3}, {16, 3, 2, 3, 0, 65, 2}, {9, 2, 1, 5, 4, 5, 5},
    };
    for (const Case& c : cases) {
        const unsigned sb = c.bits > 8 ? 2 : 1;
        const unsigned srcStride = c.width * c.srcComps * sb + 6;
        const unsigned dstStride = c.width * c.dstComps * sb + 2;
        std::vector<uint8_t> src(srcStride * c.rows), dst(dstStride * c.rows + 16), ref;
        for (size_t i = 0; i < src.size(); ++i)
            src[i] = uint8_t(i * 37 + 11);
        for (size_t i = 0; i < dst.size(); ++i)
            dst[i] = uint8_t(i * 5 + 3);
        ref = dst;
        for (unsigned r = 0; r < c.rows; ++r)
            for (unsigned x = 0; x < c.width; ++x)
                std::memcpy(&ref[r * dstStride + (x * c.dstComps + c.dstIdx) * sb],
                            &src[r * srcStride + (x * c.srcComps + c.srcIdx) * sb], sb);
        ASSERT_EQ(CKzPicMemAPI::CopyComponent(dst.data(), c.dstComps, dstStride, c.dstIdx, src.data(), c.srcComps,
                                              srcStride, c.srcIdx, c.bits, c.width, c.width * c.rows + c.width - 1),
                  0);
        EXPECT_EQ(dst, ref) << c.bits << " " << c.srcComps << "->" << c.dstComps;
    }
}

TEST(PicMem, CopyComponentCodes)
{
    uint8_t a[64] = {}, b[64] = {};
    struct Case {
        unsigned bits, dstComps, dstIdx, srcComps, srcIdx, width, count;
        int code;
    } cases[] = {
        {8, 3, 0, 3, 0, 0, 4, 0},    {8, 3, 0, 3, 0, 4, 0, 0},   {7, 3, 0, 3, 0, 4, 4, -2},
        {17, 3, 0, 3, 0, 4, 4, -2},  {0, 3, 0, 3, 0, 4, 4, -2},  {8, 3, 3, 3, 0, 4, 4, -4},
        {16, 3, 0, 2, 2, 4, 4, -4},  {8, 0, 0, 3, 0, 4, 4, -4},  {7, 3, 9, 3, 0, 0, 4, 0},
    };
    for (const Case& c : cases) {
        std::memset(a, 0xEE, sizeof a);
        EXPECT_EQ(CKzPicMemAPI::CopyComponent(a, c.dstComps, 24, c.dstIdx, b, c.srcComps, 24, c.srcIdx, c.bits,
                                              c.width, c.count),
                  c.code);
        for (uint8_t v : a)
            ASSERT_EQ(v, 0xEE);
    }
}

TEST(PicMem, ExtractAndStoreComponent)
{
    const uint16_t src[6] = {1, 2, 3, 4, 5, 6};  // two 3-component 12-bit pixels
    uint16_t one[2] = {}, three[6] = {9, 9, 9, 9, 9, 9};
    ASSERT_EQ(CKzPicMemAPI::ExtractComponent(one, 4, const_cast<uint16_t*>(src), 3, 12, 1, 12, 2, 2), 0);
    EXPECT_EQ(one[0], 2);
    EXPECT_EQ(one[1], 5);
    ASSERT_EQ(CKzPicMemAPI::StoreComponent(three, 3, 12, 2, one, 4, 12, 2, 2), 0);
    const uint16_t expect[6] = {9, 9, 2, 9, 9, 5};
    EXPECT_EQ(std::memcmp(three, expect, sizeof expect), 0);
    EXPECT_EQ(CKzPicMemAPI::ExtractComponent(one, 4, const_cast<uint16_t*>(src), 3, 12, 3, 12, 2, 2), -4);
}

} // namespace
