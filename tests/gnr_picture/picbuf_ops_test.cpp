// Whole-picture and rectangle copies, component-count copies, byte-wise
// combination, clearing and 1-bit painting.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/internal/KzPicKernelFamilies.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct PicGuard {
    SKzPicBuf pic;
    PicGuard() { CKzPicBufAPI::Init(&pic); }
    PicGuard(unsigned w, unsigned h, unsigned bits, unsigned comps, unsigned stride = 0, uint8_t seed = 1)
    {
        CKzPicBufAPI::Init(&pic);
        EXPECT_EQ(CKzPicBufAPI::Reinit(&pic, w, h, stride, bits, comps, false), 0);
        for (size_t i = 0; i < pic.uiSize; ++i)
            pic.pData[i] = uint8_t(i * 29 + seed * 71 + 5);
    }
    ~PicGuard() { CKzPicBufAPI::Free(&pic); }
    uint8_t* px(unsigned x, unsigned y)
    {
        return pic.pData + size_t(y) * pic.uiWidthBytes + size_t(x) * pic.uiComp * CKzPicBufAPI::CalcCompSize(pic.uiBpc);
    }
};

std::vector<uint8_t> Bytes(const SKzPicBuf& p) { return std::vector<uint8_t>(p.pData, p.pData + p.uiSize); }

TEST(PicBufOps, CopyWholeAndOverlap)
{
    {  // equal shapes: every byte, padding included
        PicGuard a(10, 4, 12, 3, 0, 1), b(10, 4, 12, 3, 0, 2);
        ASSERT_EQ(CKzPicBufAPI::Copy(&b.pic, &a.pic), 0);
        EXPECT_EQ(Bytes(b.pic), Bytes(a.pic));
    }
    {  // larger into smaller: the top-left overlap, the rest kept
        PicGuard big(9, 6, 8, 3, 0, 1), small(5, 3, 8, 3, 20, 2);
        const std::vector<uint8_t> before = Bytes(small.pic);
        ASSERT_EQ(CKzPicBufAPI::Copy(&small.pic, &big.pic), 0);
        for (unsigned y = 0; y < 3; ++y) {
            EXPECT_EQ(std::memcmp(small.px(0, y), big.px(0, y), 15), 0) << y;
            EXPECT_EQ(std::memcmp(small.px(5, y), &before[y * 20 + 15], 5), 0) << y;
        }
    }
    PicGuard a(4, 4, 8, 3), b(4, 4, 8, 1), c(4, 4, 12, 3);
    EXPECT_EQ(CKzPicBufAPI::Copy(&a.pic, &b.pic), -9);
    EXPECT_EQ(CKzPicBufAPI::Copy(&a.pic, &c.pic), -9);
    EXPECT_EQ(CKzPicBufAPI::Copy(&a.pic, nullptr), -9);
    SKzPicBuf noBlock = a.pic;
    noBlock.pData = nullptr;
    EXPECT_EQ(CKzPicBufAPI::Copy(&noBlock, &a.pic), -9);
}

TEST(PicBufOps, ReinitAndCopyTakesTheDefaultStride)
{
    PicGuard src(1000, 3, 8, 1, 1024, 3), dst;
    ASSERT_EQ(CKzPicBufAPI::ReinitAndCopy(&dst.pic, &src.pic), 0);
    EXPECT_EQ(dst.pic.uiWidthBytes, 1000u);
    for (unsigned y = 0; y < 3; ++y)
        EXPECT_EQ(std::memcmp(dst.px(0, y), src.px(0, y), 1000), 0);
}

TEST(PicBufOps, CopyCompAddsZerosOrDrops)
{
    PicGuard three(5, 2, 16, 3, 0, 1), four(5, 2, 16, 4, 0, 2);
    ASSERT_EQ(CKzPicBufAPI::CopyComp(&four.pic, &three.pic), 0);
    for (unsigned y = 0; y < 2; ++y)
        for (unsigned x = 0; x < 5; ++x) {
            EXPECT_EQ(std::memcmp(four.px(x, y), three.px(x, y), 6), 0);
            uint16_t fourth;
            std::memcpy(&fourth, four.px(x, y) + 6, 2);
            EXPECT_EQ(fourth, 0);
        }
    PicGuard back(5, 2, 16, 3, 0, 7);
    ASSERT_EQ(CKzPicBufAPI::CopyComp(&back.pic, &four.pic), 0);
    for (unsigned y = 0; y < 2; ++y)
        EXPECT_EQ(std::memcmp(back.px(0, y), three.px(0, y), 30), 0);
    PicGuard other(5, 2, 8, 4);
    EXPECT_EQ(CKzPicBufAPI::CopyComp(&other.pic, &three.pic), -9);
}

TEST(PicBufOps, CopyRect)
{
    struct Case {
        unsigned dx, dy, w, h, sx, sy;
        int code;
    } cases[] = {
        {0, 0, 8, 3, 0, 2, 0},  // whole rows, same stride: one block
        {2, 1, 3, 2, 4, 3, 0},  {7, 5, 1, 1, 0, 0, 0},  {0, 0, 0, 0, 8, 6, 0},
        {6, 0, 3, 1, 0, 0, -4},  // past the destination's right edge
        {0, 5, 1, 2, 0, 0, -4},  // past its bottom
        {0, 0, 2, 2, 7, 0, -4},  // past the source
        {0, 0, 1, 1, 0, 6, -4},  {0xFFFFFFFFu, 0, 2, 1, 0, 0, -4},  // no wrap-around
    };
    for (const Case& c : cases) {
        PicGuard dst(8, 6, 12, 3, 0, 1), src(8, 6, 12, 3, 0, 2);
        std::vector<uint8_t> want = Bytes(dst.pic);
        if (c.code == 0)
            for (unsigned y = 0; y < c.h; ++y)
                std::memcpy(&want[size_t(c.dy + y) * dst.pic.uiWidthBytes + c.dx * 6], src.px(c.sx, c.sy + y), c.w * 6);
        EXPECT_EQ(CKzPicBufAPI::CopyRect(c.dx, c.dy, c.w, c.h, &dst.pic, c.sx, c.sy, &src.pic), c.code)
            << c.dx << "," << c.dy << " " << c.w << "x" << c.h;
        EXPECT_EQ(Bytes(dst.pic), want);
    }
    PicGuard a(4, 4, 8, 3), b(4, 4, 8, 4);
    EXPECT_EQ(CKzPicBufAPI::CopyRect(0, 0, 1, 1, &a.pic, 0, 0, &b.pic), -9);
}

TEST(PicBufOps, AndOrClear)
{
    PicGuard a(6, 3, 8, 3, 0, 1), b(6, 3, 8, 3, 0, 2);
    std::vector<uint8_t> want = Bytes(a.pic);
    for (size_t i = 0; i < want.size(); ++i)
        want[i] &= b.pic.pData[i];
    ASSERT_EQ(CKzPicBufAPI::And(&a.pic, &b.pic), 0);
    EXPECT_EQ(Bytes(a.pic), want);
    for (size_t i = 0; i < want.size(); ++i)
        want[i] |= b.pic.pData[i];
    ASSERT_EQ(CKzPicBufAPI::Or(&a.pic, &b.pic), 0);
    EXPECT_EQ(Bytes(a.pic), want);
    // Different height, or same size with another stride: refused, unchanged.
    PicGuard tall(6, 4, 8, 3), padded(6, 3, 8, 3, 24);
    EXPECT_EQ(CKzPicBufAPI::And(&a.pic, &tall.pic), -4);
    EXPECT_EQ(CKzPicBufAPI::Or(&a.pic, &padded.pic), -4);
    EXPECT_EQ(CKzPicBufAPI::Or(&a.pic, nullptr), -4);
    EXPECT_EQ(Bytes(a.pic), want);
    ASSERT_EQ(CKzPicBufAPI::Clear(&a.pic), 0);
    EXPECT_EQ(Bytes(a.pic), std::vector<uint8_t>(a.pic.uiSize, 0));
    EXPECT_EQ(CKzPicBufAPI::Clear(nullptr), -9);
}

TEST(PicBufOps, UnpackPaintsBits)
{
    PicGuard pic(10, 3, 8, 3);
    std::vector<uint8_t> bits = {0xA0, 0x40, 0xFF, 0xFF, 0x01, 0x80};  // rows of 2 bytes
    SKzBinPicBuf bin{10, 3, 2, 6, bits.data()};
    const int r = CKzPicBufAPI::Unpack(&pic.pic, &bin, 0x030201ul);
    if (!kKzPicHaveUnpack) {
        EXPECT_EQ(r, -2);
    } else {
        ASSERT_EQ(r, 0);
        for (unsigned y = 0; y < 3; ++y)
            for (unsigned x = 0; x < 10; ++x) {
                const bool set = bits[y * 2 + x / 8] & g_pucBits[x % 8];
                const uint8_t want[3] = {uint8_t(set ? 1 : 0), uint8_t(set ? 2 : 0), uint8_t(set ? 3 : 0)};
                EXPECT_EQ(std::memcmp(pic.px(x, y), want, 3), 0) << x << "," << y;
            }
    }
    // Refusals come before any kernel.
    PicGuard wide(10, 3, 32, 3);
    EXPECT_EQ(CKzPicBufAPI::Unpack(&wide.pic, &bin, 1ul), -9);  // 12 bytes a pixel
    SKzBinPicBuf other{9, 3, 2, 6, bits.data()};
    EXPECT_EQ(CKzPicBufAPI::Unpack(&pic.pic, &other, 1ul), -9);
    SKzBinPicBuf shortBlock{10, 3, 2, 5, bits.data()};
    EXPECT_EQ(CKzPicBufAPI::Unpack(&pic.pic, &shortBlock, 1ul), -9);
    SKzBinPicBuf narrowRows{10, 3, 1, 6, bits.data()};
    EXPECT_EQ(CKzPicBufAPI::Unpack(&pic.pic, &narrowRows, 1ul), -9);
    SKzBinPicBuf noData{10, 3, 2, 6, nullptr};
    EXPECT_EQ(CKzPicBufAPI::Unpack(&pic.pic, &noData, 1ul), -9);
    EXPECT_EQ(CKzPicBufAPI::Unpack(&pic.pic, &bin, static_cast<void*>(nullptr)), -9);
}

} // namespace
