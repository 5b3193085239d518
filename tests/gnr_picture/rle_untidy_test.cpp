// Objects from files and hosts need not keep rows ascending or runs apart: every
// operation treats such an object as the set of its pixels, exactly like the tidy
// object with the same pixels, and stays inside its buffers (the sanitizer build
// runs these cases too).
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "rle_test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

using namespace rletest;
using API = CKzRLEPicBufAPI;

namespace {

constexpr unsigned kW = 16, kH = 12;
using Grid = std::array<std::array<bool, kW>, kH>;

struct Pic {
    SKzRLEPicBuf p{};
    Pic() { API::Init(&p, 0, true); }
    ~Pic() { API::Free(&p); }
};

struct Img {
    SKzPicBuf p{};
    Img(unsigned w = kW, unsigned h = kH)
    {
        CKzPicBufAPI::Init(&p);
        CKzPicBufAPI::Reinit(&p, w, h, 0, 8, 1, true);
    }
    ~Img() { CKzPicBufAPI::Free(&p); }
    std::vector<uint8_t> Bytes() const { return {p.pData, p.pData + p.uiSize}; }
};

struct Bits {
    std::vector<uint8_t> data = std::vector<uint8_t>(2 * kH, 0);
    SKzBinPicBuf b{kW, kH, 2, unsigned(2 * kH), data.data()};
    Grid Pixels() const
    {
        Grid g{};
        for (unsigned y = 0; y < kH; ++y)
            for (unsigned x = 0; x < kW; ++x) g[y][x] = (data[y * 2 + x / 8] >> (7 - x % 8)) & 1;
        return g;
    }
};

// The pixels an object's runs cover, read straight from its description.
Grid Rasterise(const Obj& o)
{
    Grid g{};
    for (const Row& r : o.rows)
        for (const Run& run : r.runs)
            for (uint32_t x = run.x; x < run.x + run.len; ++x) g[r.y][x] = true;
    return g;
}

// The tidy object of a pixel set: ascending rows, maximal runs.
Obj Tidy(const Obj& like, const Grid& g)
{
    Obj o = like;
    o.rows.clear();
    for (uint32_t y = 0; y < kH; ++y) {
        Row row{y, {}};
        for (uint32_t x = 0; x < kW;) {
            if (!g[y][x]) {
                ++x;
                continue;
            }
            const uint32_t s = x;
            while (x < kW && g[y][x]) ++x;
            row.runs.push_back({s, x - s});
        }
        if (!row.runs.empty()) o.rows.push_back(row);
    }
    return o;
}

Grid PixelsOf(SKzRLEObject* obj)
{
    Bits bits;
    if (obj) API::ExtractRLEObjectToBinPicBuf(&bits.b, obj);
    return bits.Pixels();
}

// A ring with a hole at (6, 5), stored in several untidy ways; each box is the
// pixels' extent.
const Obj kCases[] = {
    // rows descending
    {7, 4, 3, 8, 7, 0, {{7, {{4, 5}}}, {6, {{4, 5}}}, {5, {{4, 2}, {7, 2}}}, {4, {{4, 5}}}, {3, {{4, 5}}}}},
    // runs overlapping and repeated
    {7, 4, 3, 8, 7, 0, {{3, {{4, 3}, {5, 4}}}, {4, {{4, 5}, {4, 5}}}, {5, {{4, 2}, {7, 2}}}, {6, {{6, 3}, {4, 3}}}, {7, {{4, 5}}}}},
    // a row stored twice, each holding part of it
    {7, 4, 3, 8, 7, 0, {{3, {{4, 5}}}, {5, {{4, 2}}}, {4, {{4, 5}}}, {5, {{7, 2}}}, {6, {{4, 5}}}, {7, {{4, 5}}}}},
    // runs touching, descending in x
    {7, 4, 3, 8, 7, 0, {{3, {{7, 2}, {4, 3}}}, {4, {{4, 1}, {5, 4}}}, {5, {{7, 2}, {4, 2}}}, {6, {{4, 5}}}, {7, {{4, 5}}}}},
    // empty runs and rows mixed in, one far outside the picture
    {7, 4, 3, 8, 7, 0, {{9, {}}, {3, {{4, 5}, {3000, 0}}}, {4, {{4, 5}}}, {5, {{4, 2}, {0, 0}, {7, 2}}}, {6, {{4, 5}}}, {7, {{4, 5}}}, {2, {}}}},
    // two pieces, rows interleaved, touching the picture's edges
    {9, 0, 0, 15, 11, 0, {{11, {{10, 6}}}, {0, {{0, 3}}}, {10, {{12, 4}, {10, 3}}}, {1, {{1, 2}, {0, 1}}}}},
};

} // namespace

TEST(RleUntidy, EveryOperationSeesThePixels)
{
    int index = 0;
    for (const Obj& untidy : kCases) {
        SCOPED_TRACE(index++);
        const Grid pixels = Rasterise(untidy);
        const Obj tidy = Tidy(untidy, pixels);
        Pic a, b;
        MakePainted(&a.p, kW, kH, {untidy});
        MakePainted(&b.p, kW, kH, {tidy});
        ASSERT_EQ(+a.p.uiObjectCount, 1u);
        ASSERT_EQ(+b.p.uiObjectCount, 1u);
        SKzRLEObject* oa = API::FindObjectByIndex(&a.p, 0);
        SKzRLEObject* ob = API::FindObjectByIndex(&b.p, 0);
        ASSERT_NE(oa, nullptr);
        ASSERT_NE(ob, nullptr);
        EXPECT_EQ(PixelsOf(oa), pixels);

        // Painting, as ids, as visible objects and as bits.
        Img ia, ib;
        ASSERT_EQ(API::ConvertRLEToPicBuf(&ia.p, &a.p, 0), KZ_OK);
        ASSERT_EQ(API::ConvertRLEToPicBuf(&ib.p, &b.p, 0), KZ_OK);
        EXPECT_EQ(ia.Bytes(), ib.Bytes());
        Img va, vb;
        ASSERT_EQ(API::ConvertVisibleRLEToPicBuf(&va.p, &a.p, 0), KZ_OK);
        ASSERT_EQ(API::ConvertVisibleRLEToPicBuf(&vb.p, &b.p, 0), KZ_OK);
        EXPECT_EQ(va.Bytes(), vb.Bytes());
        Bits ba;
        ASSERT_EQ(API::ConvertRLEToBinPicBuf(&ba.b, &a.p), KZ_OK);
        EXPECT_EQ(ba.Pixels(), pixels);

        // Hit tests at every pixel, and the nearest outline around the object.
        for (unsigned y = 0; y < kH; ++y)
            for (unsigned x = 0; x < kW; ++x) {
                EXPECT_EQ(API::HitTest(&a.p, x, y, nullptr, nullptr), pixels[y][x]) << x << "," << y;
                EXPECT_EQ(API::HitTestVisible(&a.p, x, y, nullptr, nullptr), pixels[y][x]) << x << "," << y;
                EXPECT_EQ(API::HitTestRLEObject(oa, x, y), pixels[y][x]) << x << "," << y;
                for (double zoom : {1.0, 4.0}) {
                    double da = -1, db = -1;
                    const bool fa = API::HitTestVisibleEx(&a.p, x + 0.25, y + 0.5, zoom, nullptr, nullptr, &da);
                    const bool fb = API::HitTestVisibleEx(&b.p, x + 0.25, y + 0.5, zoom, nullptr, nullptr, &db);
                    EXPECT_EQ(fa, fb) << x << "," << y;
                    EXPECT_EQ(da, db) << x << "," << y;
                }
            }

        // Shape operations.
        for (auto op : {ObjectComplement, RLEFillHolesOnObject}) {
            SKzRLEObject* ra = op(oa);
            SKzRLEObject* rb = op(ob);
            ASSERT_NE(ra, nullptr);
            ASSERT_NE(rb, nullptr);
            EXPECT_EQ(PixelsOf(ra), PixelsOf(rb));
            EXPECT_EQ(ra->iLeft, rb->iLeft);
            EXPECT_EQ(ra->iBottom, rb->iBottom);
            CKzAlloc::Free(ra);
            CKzAlloc::Free(rb);
        }
        unsigned ca[4], cb[4];
        API::Projections(oa, ca, kW);
        API::Projections(ob, cb, kW);
        EXPECT_EQ(std::vector<unsigned>(ca, ca + 4), std::vector<unsigned>(cb, cb + 4));
        API::OuterProjections(oa, ca, kW);
        API::OuterProjections(ob, cb, kW);
        EXPECT_EQ(std::vector<unsigned>(ca, ca + 4), std::vector<unsigned>(cb, cb + 4));

        // Cut to a rectangle, and copied clipped into a smaller picture.
        Pic cutA, cutB;
        API::Reinit(&cutA.p, kW, kH);
        API::Reinit(&cutB.p, kW, kH);
        ASSERT_EQ(API::CutRectangle(&cutA.p, &a.p, 2, 1, 11, 6), KZ_OK);
        ASSERT_EQ(API::CutRectangle(&cutB.p, &b.p, 2, 1, 11, 6), KZ_OK);
        EXPECT_TRUE(API::IsEqual(&cutA.p, &cutB.p));
        Pic clipA, clipB;
        API::Reinit(&clipA.p, 7, 6);
        API::Reinit(&clipB.p, 7, 6);
        ASSERT_EQ(API::AddObjectCutDims(&clipA.p, oa, true, nullptr), KZ_OK);
        ASSERT_EQ(API::AddObjectCutDims(&clipB.p, ob, true, nullptr), KZ_OK);
        EXPECT_TRUE(API::IsEqual(&clipA.p, &clipB.p));

        // Through the run list and back.
        Pic np;
        API::Init(&np.p, 0, false);
        ASSERT_EQ(API::ConvertRLEToNonPaintedRLE(&np.p, &a.p), KZ_OK);
        Bits bn;
        ASSERT_EQ(API::ConvertRLEToBinPicBuf(&bn.b, &np.p), KZ_OK);
        EXPECT_EQ(bn.Pixels(), pixels);
        Pic back;
        ASSERT_EQ(API::ConvertRLEToPaintedRLE(&back.p, &np.p), KZ_OK);
        Bits bb;
        ASSERT_EQ(API::ConvertRLEToBinPicBuf(&bb.b, &back.p), KZ_OK);
        EXPECT_EQ(bb.Pixels(), pixels);

        // Editing keeps the record as stored.
        Pic ed;
        ASSERT_EQ(API::Copy(&ed.p, &a.p), KZ_OK);
        ASSERT_EQ(API::AddObject(&ed.p, oa, nullptr), KZ_OK);
        ASSERT_EQ(API::DeleteObject(&ed.p, 0u), KZ_OK);
        SKzRLEObject* moved = API::FindObjectByIndex(&ed.p, 0);
        ASSERT_NE(moved, nullptr);
        EXPECT_EQ(PixelsOf(moved), pixels);
        EXPECT_EQ(moved->uiSize, oa->uiSize);
    }
}
