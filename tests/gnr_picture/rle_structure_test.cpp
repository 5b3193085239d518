#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "rle_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace rletest;
using API = CKzRLEPicBufAPI;

namespace {

struct Pic {
    SKzRLEPicBuf p{};
    explicit Pic(bool painted = true, unsigned custom = 0) { API::Init(&p, custom, painted); }
    ~Pic() { API::Free(&p); }
};

// Square of side n at (x0, y0) with an optional missing pixel.
Obj Square(uint32_t id, uint32_t x0, uint32_t y0, uint32_t n, int holeX = -1, int holeY = -1)
{
    Obj o{id, int32_t(x0), int32_t(y0), int32_t(x0 + n - 1), int32_t(y0 + n - 1), 0, {}};
    for (uint32_t y = y0; y < y0 + n; ++y) {
        Row row{y, {}};
        if (int(y) == holeY)
            row.runs = {{x0, uint32_t(holeX) - x0}, {uint32_t(holeX) + 1, x0 + n - uint32_t(holeX) - 1}};
        else
            row.runs = {{x0, n}};
        o.rows.push_back(row);
    }
    return o;
}

} // namespace

TEST(RleStructure, InitSetsEveryFieldAndFreeKeepsShape)
{
    SKzRLEPicBuf p;
    std::memset(&p, 0xAB, sizeof p);
    API::Init(&p, 12, false);
    EXPECT_EQ(+p.uiWidth, 0u);
    EXPECT_EQ(+p.uiObjectCount, 0u);
    EXPECT_EQ(+p.uiCustomDataBytes, 12u);
    EXPECT_FALSE(p.bPainted);
    EXPECT_EQ(+p.pRuns, nullptr);
    EXPECT_EQ(+p.pRowIndex, nullptr);
    EXPECT_EQ(+p.pObjects, nullptr);
    EXPECT_EQ(+p.uiLegacyWord, 0xFF000000u);
    API::Reinit(&p, 7, 5);
    ASSERT_NE(+p.pRowIndex, nullptr);
    p.pRowIndex[4] = {3, 9};
    API::Reinit(&p, 7, 8); // rows kept, new rows zero
    EXPECT_EQ(p.pRowIndex[4].uiCount, 3u);
    EXPECT_EQ(p.pRowIndex[4].uiFirst, 9u);
    for (int y = 5; y < 8; ++y) EXPECT_EQ(p.pRowIndex[y].uiCount + p.pRowIndex[y].uiFirst, 0u);
    API::Free(&p);
    EXPECT_EQ(+p.pRowIndex, nullptr);
    EXPECT_EQ(+p.uiWidth, 7u);
    EXPECT_EQ(+p.uiHeight, 8u);
    EXPECT_FALSE(p.bPainted);
    API::Init(nullptr, 0, true);
    API::Reinit(nullptr, 1, 1);
    API::Free(nullptr);
    EXPECT_EQ(API::GetNextRLEObject(nullptr, nullptr), nullptr);
}

TEST(RleStructure, CopyAndEquality)
{
    Pic a, b, np(false), np2(false);
    MakePainted(&a.p, 20, 10, {Square(1, 1, 1, 2), Square(2, 5, 5, 3)}, 4);
    ASSERT_EQ(+a.p.uiObjectCount, 2u);
    EXPECT_EQ(API::Copy(&b.p, &a.p), KZ_OK);
    EXPECT_TRUE(API::IsEqual(&a.p, &b.p));
    EXPECT_NE(+b.p.pObjects, +a.p.pObjects);
    reinterpret_cast<uint8_t*>(b.p.pObjects)[40] ^= 1; // one changed byte
    EXPECT_FALSE(API::IsEqual(&a.p, &b.p));
    EXPECT_EQ(API::Copy(&a.p, &a.p), KZ_OK);
    EXPECT_EQ(+a.p.uiObjectCount, 2u);
    EXPECT_EQ(API::Copy(nullptr, &a.p), KZ_ERR_FAILED);
    EXPECT_EQ(API::Copy(&a.p, nullptr), KZ_ERR_FAILED);

    // Empty painted and empty non-painted pictures.
    Pic e1, e2;
    API::Reinit(&e1.p, 4, 4);
    API::Reinit(&e2.p, 4, 4);
    EXPECT_TRUE(API::IsEqual(&e1.p, &e2.p));
    API::Reinit(&np.p, 4, 3);
    EXPECT_FALSE(API::IsEqual(&e1.p, &np.p));
    EXPECT_FALSE(API::IsEqualType(&e1.p, &np.p));
    EXPECT_FALSE(API::IsEqualSize(&e1.p, &np.p));
    EXPECT_EQ(API::Copy(&np2.p, &np.p), KZ_OK);
    EXPECT_FALSE(np2.p.bPainted);
    ASSERT_NE(+np2.p.pRowIndex, nullptr);
    EXPECT_EQ(np2.p.pRowIndex[2].uiCount, 0u);
    EXPECT_TRUE(API::IsEqual(&np.p, &np2.p));

    // Non-painted with runs.
    np.p.pRuns = static_cast<SKzRLERun*>(CKzAlloc::Alloc(1, 2 * sizeof(SKzRLERun)));
    np.p.pRuns[0] = {0, 1, 0, 2};
    np.p.pRuns[1] = {0, 2, 1, 3};
    np.p.uiRunCount = 2;
    np.p.pRowIndex[1] = {1, 0};
    np.p.pRowIndex[2] = {1, 1};
    EXPECT_FALSE(API::IsEqual(&np.p, &np2.p));
    EXPECT_EQ(API::Copy(&np2.p, &np.p), KZ_OK);
    EXPECT_TRUE(API::IsEqual(&np.p, &np2.p));
    np2.p.pRowIndex[2].uiFirst = 0;
    EXPECT_FALSE(API::IsEqual(&np.p, &np2.p));

    API::ForceEqualSizeAndType(&b.p, &np.p);
    EXPECT_FALSE(b.p.bPainted);
    EXPECT_EQ(+b.p.uiHeight, 3u);
    EXPECT_EQ(+b.p.uiRunCount, 0u);
    Pic c;
    API::Reinit(&c.p, 9, 9);
    API::ForceEqualSizeAndTypeIfDestEmpty(&c.p, &np.p); // not empty: unchanged
    EXPECT_TRUE(c.p.bPainted);
    EXPECT_EQ(+c.p.uiWidth, 9u);
}

TEST(RleStructure, WalksAndLookups)
{
    Pic p(true, 8);
    MakePainted(&p.p, 30, 30, {Square(5, 0, 0, 2), Square(7, 10, 0, 1), Square(5, 20, 0, 3)}, 8);
    ASSERT_EQ(+p.p.uiObjectCount, 3u);
    SKzRLEObject* o0 = API::GetNextRLEObject(&p.p, nullptr);
    SKzRLEObject* o1 = API::GetNextRLEObject(&p.p, o0);
    SKzRLEObject* o2 = API::GetNextRLEObject(&p.p, o1);
    ASSERT_TRUE(o0 && o1 && o2);
    EXPECT_EQ(API::GetNextRLEObject(&p.p, o2), nullptr);
    EXPECT_EQ(+o1->uiId, 7u);
    EXPECT_EQ(API::FindObjectByIndex(&p.p, 2), o2);
    EXPECT_EQ(API::FindObjectByIndex(&p.p, 3), nullptr);
    EXPECT_EQ(API::FindObjectByObjectID(&p.p, 5), o0);
    EXPECT_EQ(API::FindObjectByObjectID(&p.p, 6), nullptr);
    EXPECT_EQ(API::FindObjectByObjectIDCycle(&p.p, nullptr, 5), o0);
    EXPECT_EQ(API::FindObjectByObjectIDCycle(&p.p, o0, 5), o2);
    EXPECT_EQ(API::FindObjectByObjectIDCycle(&p.p, o2, 5), o0);
    EXPECT_EQ(API::FindObjectByObjectIDCycle(&p.p, o1, 7), o1); // the only one: itself
    EXPECT_EQ(static_cast<uint8_t*>(API::FindObjectsCustomDataByObjectID(&p.p, 7)),
              reinterpret_cast<uint8_t*>(o1) + o1->uiSize - 8);
    EXPECT_EQ(API::GetCustomDataPtr(o1), reinterpret_cast<uint8_t*>(o1) + o1->uiSize);
    // Rows: three in the 3x3 square, the walk ends at the last.
    int rows = 0;
    for (SKzRowSegment* r = API::GetNextRowSegment(o2, nullptr); r; r = API::GetNextRowSegment(o2, r)) {
        EXPECT_EQ(+r->uiY, uint32_t(rows));
        ++rows;
    }
    EXPECT_EQ(rows, 3);

    Pic e;
    EXPECT_EQ(API::FindObjectByIndex(&e.p, 0), nullptr);
    EXPECT_EQ(API::GetNextRLEObject(&e.p, nullptr), nullptr);
    EXPECT_EQ(API::FindObjectByObjectIDCycle(&e.p, nullptr, 1), nullptr);
    Pic nocustom;
    MakePainted(&nocustom.p, 30, 30, {Square(5, 0, 0, 2)});
    EXPECT_EQ(API::FindObjectsCustomDataByObjectID(&nocustom.p, 5), nullptr);
}

TEST(RleStructure, WalksStopAtDamagedRecords)
{
    Pic p;
    MakePainted(&p.p, 30, 30, {Square(1, 0, 0, 2), Square(2, 10, 0, 2)});
    ASSERT_EQ(+p.p.uiObjectCount, 2u);
    // A count larger than the block holds, and a record size below its header.
    p.p.uiObjectCount = 1000;
    EXPECT_EQ(API::FindObjectByIndex(&p.p, 2), nullptr);
    EXPECT_FALSE(API::HitTest(&p.p, 29, 29, nullptr, nullptr));
    SKzRLEObject* second = API::FindObjectByIndex(&p.p, 1);
    ASSERT_NE(second, nullptr);
    second->uiSize = 4;
    EXPECT_EQ(API::FindObjectByObjectID(&p.p, 2), nullptr);
    EXPECT_EQ(API::GetNextRLEObject(&p.p, API::FindObjectByIndex(&p.p, 0)), nullptr);
    p.p.pObjects->uiSize = 0;
    EXPECT_EQ(API::FindObjectByObjectID(&p.p, 1), nullptr);
}

TEST(RleStructure, HitTests)
{
    // Object with a skipped row: rows 0 and 2 only, box rows 0..2.
    Obj gappy{9, 0, 0, 3, 2, 0, {{0, {{0, 2}}}, {2, {{1, 3}}}}};
    Obj a = Square(1, 10, 10, 2);
    Obj b = Square(2, 10, 10, 3);
    struct Case {
        const char* name;
        uint32_t stateA, stateB;
        bool visible;
        uint32_t x, y;
        bool hit;
        unsigned index;
    };
    const Case cases[] = {
        {"first in block order", 0, 0, false, 10, 10, true, 1},
        {"hidden still hit", 0x40, 0, false, 10, 10, true, 1},
        {"only second covers", 0, 0, false, 12, 12, true, 2},
        {"outside all", 0, 0, false, 13, 10, false, 0},
        {"visible no preference", 0, 0, true, 10, 10, true, 1},
        {"visible prefers bit 1", 0, 1, true, 11, 11, true, 2},
        {"visible first preferred", 1, 1, true, 11, 11, true, 1},
        {"visible skips hidden", 0x40, 0, true, 10, 10, true, 2},
        {"visible all hidden", 0x40, 0x40, true, 10, 10, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Obj aa = a, bb = b;
        aa.state = c.stateA;
        bb.state = c.stateB;
        Pic p;
        MakePainted(&p.p, 40, 40, {gappy, aa, bb});
        ASSERT_EQ(+p.p.uiObjectCount, 3u);
        unsigned idx = 77;
        SKzRLEObject* o = nullptr;
        bool hit = c.visible ? API::HitTestVisible(&p.p, c.x, c.y, &idx, &o) : API::HitTest(&p.p, c.x, c.y, &idx, &o);
        EXPECT_EQ(hit, c.hit);
        if (c.hit) {
            EXPECT_EQ(idx, c.index);
            EXPECT_EQ(o, API::FindObjectByIndex(&p.p, c.index));
        } else {
            EXPECT_EQ(idx, 77u);
        }
    }
    // Rows are matched by their y, not by their position.
    Pic p;
    MakePainted(&p.p, 40, 40, {gappy});
    SKzRLEObject* g = API::FindObjectByIndex(&p.p, 0);
    ASSERT_NE(g, nullptr);
    struct Px {
        uint32_t x, y;
        bool in;
    } pxs[] = {{0, 0, true}, {1, 0, true}, {2, 0, false}, {1, 1, false}, {0, 2, false}, {1, 2, true}, {3, 2, true}, {4, 2, false}};
    for (const Px& q : pxs) EXPECT_EQ(API::HitTestRLEObject(g, q.x, q.y), q.in) << q.x << "," << q.y;
    EXPECT_FALSE(API::HitTestRLEObject(nullptr, 0, 0));
}

TEST(RleStructure, HitTestVisibleExMeasuresBoundaryDistance)
{
    struct Case {
        const char* name;
        Obj obj;
        double x, y, zoom;
        bool found;
        double dist;
    };
    const Case cases[] = {
        {"corner", Square(1, 10, 10, 3), 10, 10, 1, true, 0},
        {"centre", Square(1, 10, 10, 3), 11.5, 11.5, 1, true, 1.5},
        {"beyond widened box", Square(1, 10, 10, 3), 32, 10, 1, false, 0},
        {"tiny zoom", Square(1, 10, 10, 3), 10, 10, 0.00001, false, 0},
        {"hole rim", Square(1, 0, 0, 5, 2, 2), 2.5, 2.5, 1, true, 0.5},
        {"zoomed out tolerance", Square(1, 10, 10, 3), 24.5, 10, 0.5, true, 11.5},
        {"zoomed in too far", Square(1, 10, 10, 3), 16, 10, 4, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pic p;
        MakePainted(&p.p, 40, 40, {c.obj});
        ASSERT_EQ(+p.p.uiObjectCount, 1u);
        double d = -1;
        unsigned idx = 9;
        SKzRLEObject* o = nullptr;
        EXPECT_EQ(API::HitTestVisibleEx(&p.p, c.x, c.y, c.zoom, &idx, &o, &d), c.found);
        if (c.found) {
            EXPECT_NEAR(d, c.dist, 1e-12);
            EXPECT_EQ(idx, 0u);
            EXPECT_EQ(o, +p.p.pObjects);
        } else {
            EXPECT_EQ(d, -1);
        }
    }
    // Nearer object wins; hidden ones are skipped; equal distance keeps the first.
    Obj near = Square(1, 20, 20, 2), far = Square(2, 10, 10, 3);
    Pic p;
    MakePainted(&p.p, 40, 40, {far, near});
    unsigned idx = 0;
    double d = 0;
    EXPECT_TRUE(API::HitTestVisibleEx(&p.p, 19, 19, 1, &idx, nullptr, &d));
    EXPECT_EQ(idx, 1u);
    EXPECT_DOUBLE_EQ(d, 1.0);
    API::FindObjectByIndex(&p.p, 1)->uiState = 0x40;
    EXPECT_TRUE(API::HitTestVisibleEx(&p.p, 19, 19, 1, &idx, nullptr, &d));
    EXPECT_EQ(idx, 0u);
    EXPECT_DOUBLE_EQ(d, 6.0);
    EXPECT_FALSE(API::HitTestVisibleEx(nullptr, 1, 1, 1, nullptr, nullptr, nullptr));
}

TEST(RleStructure, KeptEntriesDoNothing)
{
    Pic p;
    MakePainted(&p.p, 10, 10, {Square(1, 0, 0, 2)});
    Pic q;
    ASSERT_EQ(API::Copy(&q.p, &p.p), KZ_OK);
    EXPECT_EQ(API::TraceRLE(&p.p), KZ_OK);
    API::ContourPoints(&p.p);
    API::ContourPoints(p.p.pObjects);
    unsigned long n = 5;
    API::ContourPoints(p.p.pObjects, n);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(DebugCheckRleObject(nullptr), 1);
    EXPECT_TRUE(API::IsEqual(&p.p, &q.p));
}
