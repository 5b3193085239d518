#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "rle_test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace rletest;
using API = CKzRLEPicBufAPI;

namespace {

struct Pic {
    SKzRLEPicBuf p{};
    explicit Pic(bool painted = true, unsigned custom = 0) { API::Init(&p, custom, painted); }
    ~Pic() { API::Free(&p); }
};

struct RunT {
    uint32_t y, x, len;
    bool operator==(const RunT& o) const { return y == o.y && x == o.x && len == o.len; }
};

std::vector<RunT> RunsOf(const SKzRLEPicBuf& p)
{
    std::vector<RunT> v;
    for (uint32_t i = 0; i < p.uiRunCount; ++i) v.push_back({p.pRuns[i].uiY, p.pRuns[i].uiX, p.pRuns[i].uiLength});
    return v;
}

} // namespace

TEST(RleForms, LineAdders)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> line;
        std::vector<RunT> want;
    } cases[] = {
        {"two runs, last reaches the end", {0, 1, 1, 0, 1, 1}, {{0, 1, 2}, {0, 4, 2}}},
        {"last column only", {0, 0, 0, 0, 0, 9}, {{0, 5, 1}}},
        {"full", {1, 1, 1, 1, 1, 1}, {{0, 0, 6}}},
        {"empty", {0, 0, 0, 0, 0, 0}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pic p(false);
        API::Reinit(&p.p, 6, 3);
        auto line = c.line;
        ASSERT_EQ(addLine8ToNonPaintedRLE(&p.p, 0, line.data()), KZ_OK);
        EXPECT_EQ(RunsOf(p.p), c.want);
        EXPECT_EQ(p.p.pRowIndex[0].uiCount, c.want.size());
        std::vector<uint16_t> wide(c.line.begin(), c.line.end());
        for (auto& s : wide) s = s ? 0x1000 : 0;
        ASSERT_EQ(addLine16ToNonPaintedRLE(&p.p, 2, wide.data()), KZ_OK);
        EXPECT_EQ(+p.p.uiRunCount, 2 * c.want.size());
        if (!c.want.empty()) EXPECT_EQ(p.p.pRowIndex[2].uiFirst, c.want.size());
    }
    Pic p(false);
    API::Reinit(&p.p, 6, 3);
    std::vector<uint8_t> line{1, 0, 1, 0, 0, 0};
    EXPECT_EQ(addLine8ToNonPaintedRLE(&p.p, 1, line.data()), KZ_OK);
    EXPECT_EQ(addLine8ToNonPaintedRLE(&p.p, 1, line.data()), KZ_ERR_FAILED); // again
    EXPECT_EQ(addLine8ToNonPaintedRLE(&p.p, 0, line.data()), KZ_ERR_FAILED); // out of order
    EXPECT_EQ(addLine8ToNonPaintedRLE(&p.p, 3, line.data()), KZ_ERR_FAILED); // out of range
    EXPECT_EQ(+p.p.uiRunCount, 2u);
    // Many runs: the list grows past its first block.
    Pic big(false);
    API::Reinit(&big.p, 2000, 2);
    std::vector<uint8_t> comb(2000);
    for (size_t i = 0; i < comb.size(); i += 2) comb[i] = 1;
    ASSERT_EQ(addLine8ToNonPaintedRLE(&big.p, 0, comb.data()), KZ_OK);
    ASSERT_EQ(addLine8ToNonPaintedRLE(&big.p, 1, comb.data()), KZ_OK);
    EXPECT_EQ(+big.p.uiRunCount, 2000u);
    EXPECT_EQ(big.p.pRuns[1999].uiX, 1998u);
    EXPECT_GE(+big.p.uiRunBytes, 2000u * 16);
}

TEST(RleForms, PaintedToNonPaintedInterleavesRuns)
{
    Pic painted;
    MakePainted(&painted.p, 12, 4,
                {{1, 0, 0, 9, 2, 0x40, {{0, {{0, 2}}}, {2, {{8, 2}}}}},
                 {2, 3, 0, 6, 3, 0, {{0, {{3, 1}, {5, 2}}}, {3, {{3, 4}}}}}},
                5);
    ASSERT_EQ(+painted.p.uiObjectCount, 2u);
    Pic np(false);
    ASSERT_EQ(API::ConvertRLEToNonPaintedRLE(&np.p, &painted.p), KZ_OK);
    EXPECT_FALSE(np.p.bPainted);
    EXPECT_EQ(+np.p.uiCustomDataBytes, 0u);
    const std::vector<RunT> want{{0, 0, 2}, {0, 3, 1}, {0, 5, 2}, {2, 8, 2}, {3, 3, 4}};
    EXPECT_EQ(RunsOf(np.p), want);
    const uint32_t counts[] = {3, 0, 1, 1}, firsts[] = {0, 3, 3, 4};
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(np.p.pRowIndex[y].uiCount, counts[y]) << y;
        EXPECT_EQ(np.p.pRowIndex[y].uiFirst, firsts[y]) << y;
    }
    // In place gives the same.
    Pic same;
    ASSERT_EQ(API::Copy(&same.p, &painted.p), KZ_OK);
    ASSERT_EQ(API::ConvertRLEToNonPaintedRLE(&same.p, &same.p), KZ_OK);
    EXPECT_TRUE(API::IsEqual(&same.p, &np.p));
    // Back to painted: 8-connected components, ids in raster order.
    Pic back;
    ASSERT_EQ(API::ConvertRLEToPaintedRLE(&back.p, &np.p), KZ_OK);
    EXPECT_TRUE(back.p.bPainted);
    EXPECT_EQ(+back.p.uiObjectCount, 5u); // (0,0) (3,0) (5,0) (8,2) (3,3): none touch
    EXPECT_FALSE(np.p.bPainted);          // source kept

    // One object to its own picture reaching from the origin.
    Obj o{7, 10, 20, 12, 25, 0, {{20, {{10, 3}}}, {25, {{11, 1}}}}};
    Pic one;
    MakePainted(&one.p, 40, 40, {o});
    Pic objPic(false);
    ASSERT_EQ(API::ConvertRLEObjectToNonPaintedRLE(&objPic.p, +one.p.pObjects), KZ_OK);
    EXPECT_EQ(+objPic.p.uiWidth, 13u);
    EXPECT_EQ(+objPic.p.uiHeight, 26u);
    EXPECT_EQ(RunsOf(objPic.p), (std::vector<RunT>{{20, 10, 3}, {25, 11, 1}}));
    EXPECT_EQ(API::ConvertRLEObjectToNonPaintedRLE(nullptr, +one.p.pObjects), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(API::ConvertRLEObjectToNonPaintedRLE(&objPic.p, nullptr), KZ_ERR_INVALID_ARG);
    one.p.pObjects->iRight = -5;
    EXPECT_EQ(API::ConvertRLEObjectToNonPaintedRLE(&objPic.p, +one.p.pObjects), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(+objPic.p.uiWidth, 13u); // kept
}

TEST(RleForms, NonPaintedLabellingMatchesPictureLabelling)
{
    std::mt19937 rng(4242);
    struct Case {
        unsigned w, h, percent, bits;
    } cases[] = {{50, 40, 35, 8}, {33, 70, 60, 12}, {80, 5, 50, 8}, {10, 10, 0, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.percent << "%");
        SKzPicBuf img;
        CKzPicBufAPI::Init(&img);
        ASSERT_EQ(CKzPicBufAPI::Reinit(&img, c.w, c.h, 0, c.bits, 1, true), KZ_OK);
        for (unsigned y = 0; y < c.h; ++y) {
            if (y % 7 == 3) continue; // empty rows break components
            for (unsigned x = 0; x < c.w; ++x)
                if (rng() % 100 < c.percent) {
                    if (c.bits <= 8)
                        img.pData[size_t(y) * img.uiWidthBytes + x] = 1;
                    else
                        reinterpret_cast<uint16_t*>(img.pData + size_t(y) * img.uiWidthBytes)[x] = 0x800;
                }
        }
        Pic direct, np(false), viaPicture;
        ASSERT_EQ(API::ConvertPicBufToPaintedRLE(&direct.p, &img, 8), KZ_OK);
        ASSERT_EQ(API::ConvertPictureToRLE(&np.p, &img), KZ_OK);
        EXPECT_FALSE(np.p.bPainted);
        ASSERT_EQ(API::ConvertPictureToRLE(&viaPicture.p, &img), KZ_OK);
        EXPECT_TRUE(API::IsEqual(&direct.p, &viaPicture.p));
        // Serialising the non-painted picture stores its components.
        std::vector<uint8_t> a(API::SaveToMemory(&direct.p, nullptr)), b(API::SaveToMemory(&np.p, nullptr));
        API::SaveToMemory(&direct.p, a.data());
        API::SaveToMemory(&np.p, b.data());
        EXPECT_EQ(a, b);
        EXPECT_FALSE(np.p.bPainted);
        ASSERT_EQ(API::ConvertRLEToPaintedRLE(&np.p), KZ_OK);
        EXPECT_TRUE(API::IsEqual(&direct.p, &np.p));
        CKzPicBufAPI::Free(&img);
    }
}

TEST(RleForms, DiagonalRunsSerialiseAsOneObject)
{
    Pic np(false);
    API::Reinit(&np.p, 6, 2);
    std::vector<uint8_t> r0{1, 1, 0, 0, 0, 0}, r1{0, 0, 1, 0, 0, 1};
    ASSERT_EQ(addLine8ToNonPaintedRLE(&np.p, 0, r0.data()), KZ_OK);
    ASSERT_EQ(addLine8ToNonPaintedRLE(&np.p, 1, r1.data()), KZ_OK);
    std::vector<uint8_t> got(API::SaveToMemory(&np.p, nullptr));
    API::SaveToMemory(&np.p, got.data());
    EXPECT_EQ(got, Blob(3, 6, 2,
                        {{1, 0, 0, 2, 1, 0, {{0, {{0, 2}}}, {1, {{2, 1}}}}},
                         {2, 5, 1, 5, 1, 0, {{1, {{5, 1}}}}}}));
}

// Heights come from files: a blob loaded without a preset size may claim up to
// 2^32 rows, and the non-painted form indexes every row. Such heights are refused
// instead of allocated, and the input is kept.
TEST(RleForms, HugeHeightsAreRefusedNotAllocated)
{
    const uint32_t heights[] = {0xFFFFFFFFu, 0x80000000u, (1u << 24) + 1};
    for (uint32_t h : heights) {
        SCOPED_TRACE(h);
        auto blob = Blob(3, 8, h, {{1, 2, 5, 4, 5, 0, {{5, {{2, 3}}}}}});
        Pic painted;
        ASSERT_EQ(API::LoadFromMemory(&painted.p, blob.data(), blob.size()), KZ_OK);
        ASSERT_EQ(+painted.p.uiHeight, h);

        Pic np(false);
        API::Reinit(&np.p, 3, 3);
        EXPECT_EQ(API::ConvertRLEToNonPaintedRLE(&np.p, &painted.p), KZ_ERR_FAILED);
        EXPECT_EQ(+np.p.uiHeight, 3u);
        EXPECT_TRUE(np.p.pRowIndex != nullptr);

        EXPECT_EQ(API::ConvertRLEToNonPaintedRLE(&painted.p), KZ_ERR_FAILED);
        EXPECT_TRUE(painted.p.bPainted);
        EXPECT_EQ(+painted.p.uiObjectCount, 1u);

        // A non-painted picture cannot take such a height: Reinit leaves it empty.
        Pic direct(false);
        API::Reinit(&direct.p, 4, h);
        EXPECT_EQ(+direct.p.uiHeight, 0u);
        EXPECT_TRUE(direct.p.pRowIndex == nullptr);
    }

    // One object whose box reaches far down asks for a picture of that height.
    Pic far;
    MakePainted(&far.p, 8, 8, {{1, 0, 0, 1, 0, 0, {{0, {{0, 2}}}}}});
    ASSERT_EQ(+far.p.uiObjectCount, 1u);
    far.p.pObjects->iBottom = 0x7FFFFFFE;
    Pic objPic(false);
    EXPECT_EQ(API::ConvertRLEObjectToNonPaintedRLE(&objPic.p, +far.p.pObjects), KZ_ERR_FAILED);

    // Up to the bound the conversion works.
    auto ok = Blob(3, 8, 4096, {{1, 2, 5, 4, 5, 0, {{5, {{2, 3}}}}}});
    Pic tall;
    ASSERT_EQ(API::LoadFromMemory(&tall.p, ok.data(), ok.size()), KZ_OK);
    ASSERT_EQ(API::ConvertRLEToNonPaintedRLE(&tall.p), KZ_OK);
    EXPECT_EQ(RunsOf(tall.p), (std::vector<RunT>{{5, 2, 3}}));
}
