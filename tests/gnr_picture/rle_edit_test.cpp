// Editing the object set of painted run-length pictures.
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "rle_test_support.h"

#include <gtest/gtest.h>

#include <vector>

using namespace rletest;
using API = CKzRLEPicBufAPI;

namespace {

struct Pic {
    SKzRLEPicBuf p{};
    explicit Pic(bool painted = true, unsigned custom = 0) { API::Init(&p, custom, painted); }
    ~Pic() { API::Free(&p); }
};

// Object i: a one-pixel object at (i, i) with the given id and state.
Obj Dot(uint32_t id, uint32_t state, uint32_t at)
{
    return {id, int32_t(at), int32_t(at), int32_t(at), int32_t(at), state, {{at, {{at, 1}}}}};
}

struct Seen {
    uint32_t id, state;
    bool operator==(const Seen& o) const { return id == o.id && state == o.state; }
};

std::vector<Seen> Objects(const SKzRLEPicBuf& p)
{
    std::vector<Seen> v;
    for (SKzRLEObject* o = API::GetNextRLEObject(&p, nullptr); o; o = API::GetNextRLEObject(&p, o))
        v.push_back({o->uiId, o->uiState});
    return v;
}

// The counters agree with the block: the serialised form of the picture must load
// (the loader checks every size and offset) and come back equal.
void ExpectConsistent(SKzRLEPicBuf* p)
{
    const unsigned long n = API::SaveToMemory(p, nullptr);
    std::vector<uint8_t> blob(n);
    API::SaveToMemory(p, blob.data());
    Pic back(true, p->uiCustomDataBytes);
    ASSERT_EQ(API::LoadFromMemory(&back.p, blob.data(), blob.size()), KZ_OK);
    EXPECT_TRUE(API::IsEqual(&back.p, p));
    uint64_t sum = 0, last = 0;
    uint32_t count = 0;
    for (SKzRLEObject* o = API::GetNextRLEObject(p, nullptr); o; o = API::GetNextRLEObject(p, o)) {
        last = sum;
        sum += o->uiSize;
        ++count;
    }
    EXPECT_EQ(count, +p->uiObjectCount);
    EXPECT_EQ(sum, +p->uiDataBytes);
    EXPECT_EQ(count > 1 ? last : 0, +p->uiLastObjectOffset);
}

void MakeFive(Pic& pic, const uint32_t (&states)[5], uint32_t custom = 0)
{
    std::vector<Obj> objs;
    for (uint32_t i = 0; i < 5; ++i) objs.push_back(Dot(10 + i, states[i], i));
    MakePainted(&pic.p, 10, 10, objs, custom);
    ASSERT_EQ(+pic.p.uiObjectCount, 5u);
}

} // namespace

TEST(RleEdit, Deletions)
{
    const uint32_t states[5] = {0, 5, 5, 0, 5};
    struct Case {
        const char* name;
        kz_result (*act)(SKzRLEPicBuf*);
        kz_result rc;
        std::vector<uint32_t> ids; // remaining, in block order
    } cases[] = {
        {"by status", [](SKzRLEPicBuf* p) { return API::DeleteObjectsWithStatus(p, 5); }, KZ_OK, {10, 13}},
        {"status compares the whole word", [](SKzRLEPicBuf* p) { return API::DeleteObjectsWithStatus(p, 4); }, KZ_OK,
         {10, 11, 12, 13, 14}},
        {"list 1 2 4",
         [](SKzRLEPicBuf* p) {
             unsigned idx[] = {1, 2, 4};
             return API::DeleteObject(p, idx, 3);
         },
         KZ_OK, {10, 13}},
        {"list 0 1 2 3 4",
         [](SKzRLEPicBuf* p) {
             unsigned idx[] = {0, 1, 2, 3, 4};
             return API::DeleteObject(p, idx, 5);
         },
         KZ_OK, {}},
        {"list 0 3",
         [](SKzRLEPicBuf* p) {
             unsigned idx[] = {0, 3};
             return API::DeleteObject(p, idx, 2);
         },
         KZ_OK, {11, 12, 14}},
        {"list not ascending",
         [](SKzRLEPicBuf* p) {
             unsigned idx[] = {2, 1};
             return API::DeleteObject(p, idx, 2);
         },
         KZ_ERR_INVALID_ARG, {10, 11, 12, 13, 14}},
        {"list repeats",
         [](SKzRLEPicBuf* p) {
             unsigned idx[] = {1, 1};
             return API::DeleteObject(p, idx, 2);
         },
         KZ_ERR_INVALID_ARG, {10, 11, 12, 13, 14}},
        {"list out of range",
         [](SKzRLEPicBuf* p) {
             unsigned idx[] = {3, 5};
             return API::DeleteObject(p, idx, 2);
         },
         KZ_ERR_INVALID_ARG, {10, 11, 12, 13, 14}},
        {"last by position", [](SKzRLEPicBuf* p) { return API::DeleteObject(p, 4u); }, KZ_OK, {10, 11, 12, 13}},
        {"first by position", [](SKzRLEPicBuf* p) { return API::DeleteObject(p, 0u); }, KZ_OK, {11, 12, 13, 14}},
        {"position = count", [](SKzRLEPicBuf* p) { return API::DeleteObject(p, 5u); }, KZ_ERR_FAILED,
         {10, 11, 12, 13, 14}},
        {"by id", [](SKzRLEPicBuf* p) { return API::DeleteObjectWithID(p, 12); }, KZ_OK, {10, 11, 13, 14}},
        {"absent id", [](SKzRLEPicBuf* p) { return API::DeleteObjectWithID(p, 99); }, KZ_ERR_FAILED,
         {10, 11, 12, 13, 14}},
        {"range middle",
         [](SKzRLEPicBuf* p) {
             unsigned off[6];
             uint32_t i = 0, at = 0;
             for (SKzRLEObject* o = API::GetNextRLEObject(p, nullptr); o; o = API::GetNextRLEObject(p, o))
                 off[i++] = at, at += o->uiSize;
             off[5] = 0xFFFFFFFFu;
             return API::DeleteObject(p, 1, 2, off);
         },
         KZ_OK, {10, 13, 14}},
        {"range to the end",
         [](SKzRLEPicBuf* p) {
             unsigned off[6] = {0, 52, 104, 156, 208, 0xFFFFFFFFu};
             return API::DeleteObject(p, 3, 2, off);
         },
         KZ_OK, {10, 11, 12}},
        {"range beyond the count (index + count wraps in 32 bits)",
         [](SKzRLEPicBuf* p) {
             unsigned off[6] = {0, 52, 104, 156, 208, 0xFFFFFFFFu};
             return API::DeleteObject(p, 2, 0xFFFFFFFFu, off);
         },
         KZ_ERR_FAILED, {10, 11, 12, 13, 14}},
        {"stale offset table",
         [](SKzRLEPicBuf* p) {
             unsigned off[6] = {0, 40, 104, 156, 208, 0xFFFFFFFFu};
             return API::DeleteObject(p, 1, 1, off);
         },
         KZ_ERR_FAILED, {10, 11, 12, 13, 14}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pic pic;
        MakeFive(pic, states);
        EXPECT_EQ(c.act(&pic.p), c.rc);
        std::vector<uint32_t> ids;
        for (const Seen& s : Objects(pic.p)) ids.push_back(s.id);
        EXPECT_EQ(ids, c.ids);
        ExpectConsistent(&pic.p);
    }

    // With custom bytes the records move whole, custom bytes included.
    Pic custom(true, 6);
    MakeFive(custom, states, 6);
    for (uint32_t i = 0; i < 5; ++i) {
        auto* data = static_cast<uint8_t*>(API::FindObjectsCustomDataByObjectID(&custom.p, 10 + i));
        ASSERT_NE(data, nullptr);
        data[5] = uint8_t(0xA0 + i);
    }
    ASSERT_EQ(API::DeleteObjectsWithStatus(&custom.p, 5), KZ_OK);
    EXPECT_EQ(static_cast<uint8_t*>(API::FindObjectsCustomDataByObjectID(&custom.p, 13))[5], 0xA3);
    ExpectConsistent(&custom.p);

    // The only object, and a picture not in painted form.
    Pic one;
    MakePainted(&one.p, 4, 4, {Dot(1, 0, 0)});
    EXPECT_EQ(API::DeleteObject(&one.p, 0u), KZ_OK);
    EXPECT_EQ(+one.p.uiObjectCount, 0u);
    EXPECT_EQ(+one.p.uiDataBytes, 0u);
    EXPECT_EQ(+one.p.uiLastObjectOffset, 0u);
    EXPECT_EQ(API::DeleteObjectWithID(&one.p, 1), KZ_ERR_FAILED);
    Pic np(false);
    unsigned idx[] = {0};
    EXPECT_EQ(API::DeleteObjectsWithStatus(&np.p, 0), KZ_ERR_FAILED);
    EXPECT_EQ(API::DeleteObject(&np.p, idx, 1), KZ_ERR_FAILED);
}

TEST(RleEdit, Adding)
{
    Pic src;
    MakePainted(&src.p, 10, 10, {Dot(3, 0x40, 1), Dot(7, 0x01, 2)}, 4);
    SKzRLEObject* first = API::FindObjectByIndex(&src.p, 0);
    static_cast<uint8_t*>(API::GetCustomDataPtr(first))[-1] = 0x5A;
    // Kept apart: adding to src moves its block.
    std::vector<uint8_t> firstRec(reinterpret_cast<uint8_t*>(first), reinterpret_cast<uint8_t*>(first) + first->uiSize);

    Pic pic(true, 4);
    API::Reinit(&pic.p, 10, 10);
    unsigned index = 99;
    SKzRLEObject* added = nullptr;
    ASSERT_EQ(API::AddObject(&pic.p, first, &index, &added), KZ_OK);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(added->uiId, 1u); // empty picture: id 1
    EXPECT_EQ(static_cast<uint8_t*>(API::GetCustomDataPtr(added))[-1], 0x5A);
    EXPECT_EQ(first->uiId, 3u); // the given record is not changed
    ASSERT_EQ(API::AddObject(&src.p, first, &index), KZ_OK);
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(Objects(src.p), (std::vector<Seen>{{3, 0x40}, {7, 1}, {8, 0x40}})); // ids 3 and 7: 8
    ExpectConsistent(&src.p);
    first = reinterpret_cast<SKzRLEObject*>(firstRec.data());

    // A record of the picture's own block: copied before the block grows.
    for (int i = 0; i < 20; ++i) ASSERT_EQ(API::AddObjectKeepID(&src.p, src.p.pObjects, nullptr), KZ_OK);
    EXPECT_EQ(+src.p.uiObjectCount, 23u);
    EXPECT_EQ(API::FindObjectByIndex(&src.p, 22)->uiId, 3u);
    ExpectConsistent(&src.p);

    // Refusals: nulls, a non-painted picture, records too short for the picture.
    Pic np(false);
    EXPECT_EQ(API::AddObjectKeepID(nullptr, first, nullptr), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(API::AddObjectKeepID(&pic.p, nullptr, nullptr), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(API::AddObject(&np.p, first, nullptr), KZ_ERR_FAILED);
    Pic bigger(true, 32);
    EXPECT_EQ(API::AddObject(&bigger.p, first, nullptr), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(+bigger.p.uiObjectCount, 0u);

    // Reserved room.
    Pic room(true, 4);
    EXPECT_EQ(API::PreAllocate(&room.p, 0), KZ_OK);
    EXPECT_EQ(API::AddObjectNoAllocate(&room.p, first, nullptr), KZ_ERR_FAILED); // no block yet
    const uint32_t size = first->uiSize;
    ASSERT_EQ(API::PreAllocate(&room.p, 3 * size), KZ_OK);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(API::AddObjectNoAllocate(&room.p, first, &added), KZ_OK) << i;
        EXPECT_EQ(added->uiId, 3u);
    }
    EXPECT_EQ(+room.p.uiLastObjectOffset, 2 * size);
    ExpectConsistent(&room.p);
    EXPECT_EQ(API::PreAllocate(&room.p, 3 * size - 1), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(API::AddObjectNoAllocate(&room.p, nullptr, nullptr), KZ_ERR_FAILED);
    // Past the room the block really has: refused, whatever the caller believes.
    unsigned long spare = 0;
    while (API::AddObjectNoAllocate(&room.p, first, nullptr) == KZ_OK) ++spare;
    EXPECT_LT(spare, 8u);
    ExpectConsistent(&room.p);
}

TEST(RleEdit, AddingClippedToThePicture)
{
    struct Case {
        const char* name;
        Obj obj;
        bool keepId;
        kz_result rc;
        bool adds;
        int32_t l, t, r, b;
        std::vector<Row> rows;
    } cases[] = {
        {"run starting left of 0", {5, -2, 0, 3, 0, 9, {{0, {{0xFFFFFFFEu, 6}}}}}, true, KZ_OK, true, 0, 0, 3, 0,
         {{0, {{0, 4}}}}},
        {"rows -1 and 0", {5, 1, -1, 2, 0, 9, {{0xFFFFFFFFu, {{1, 2}}}, {0, {{1, 2}}}}}, true, KZ_OK, true, 1, 0, 2, 0,
         {{0, {{1, 2}}}}},
        {"right and bottom cut",
         {5, 7, 7, 12, 10, 9, {{7, {{11, 1}}}, {8, {{7, 2}, {10, 3}}}, {9, {{8, 5}}}, {10, {{7, 1}}}}}, false, KZ_OK,
         true, 7, 8, 9, 9, {{8, {{7, 2}}}, {9, {{8, 2}}}}},
        {"entirely outside", {5, 10, 0, 12, 0, 0, {{0, {{10, 3}}}}}, true, KZ_OK, false, 0, 0, 0, 0, {}},
        {"outside above", {5, 0, -3, 1, -1, 0, {{0xFFFFFFFDu, {{0, 2}}}}}, true, KZ_OK, false, 0, 0, 0, 0, {}},
        {"nothing left inside", {5, -3, 0, 12, 1, 0, {{0, {{0xFFFFFFFDu, 2}, {11, 2}}}}}, true, KZ_OK, false, 0, 0, 0,
         0, {}},
        {"no rows", {5, 0, 0, 1, 1, 0, {}}, true, KZ_OK, false, 0, 0, 0, 0, {}},
        {"entirely inside", {5, 2, 2, 3, 3, 9, {{2, {{2, 2}}}, {3, {{2, 1}}}}}, true, KZ_OK, true, 2, 2, 3, 3,
         {{2, {{2, 2}}}, {3, {{2, 1}}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The record may lie partly outside any picture; it is built by hand.
        std::vector<uint8_t> rec = Record(c.obj);
        auto* obj = reinterpret_cast<SKzRLEObject*>(rec.data());

        Pic pic;
        MakePainted(&pic.p, 10, 10, {Dot(5, 0, 9), Dot(2, 0, 8)});
        SKzRLEObject* added = nullptr;
        EXPECT_EQ(API::AddObjectCutDims(&pic.p, obj, c.keepId, &added), c.rc);
        EXPECT_EQ(+pic.p.uiObjectCount, c.adds ? 3u : 2u);
        if (c.adds) {
            ASSERT_NE(added, nullptr);
            EXPECT_EQ(added, API::FindObjectByIndex(&pic.p, 2)); // the copy, not the first with its id
            auto want = Record({c.keepId ? 5u : 6u, c.l, c.t, c.r, c.b, 9, c.rows});
            ASSERT_EQ(+added->uiSize, want.size());
            EXPECT_EQ(std::vector<uint8_t>(reinterpret_cast<uint8_t*>(added),
                                           reinterpret_cast<uint8_t*>(added) + added->uiSize),
                      want);
        }
        ExpectConsistent(&pic.p);
    }

    // A picture with custom bytes: the clipped copy carries them so the block stays walkable.
    std::vector<uint8_t> rec = Record({4, -1, 0, 1, 0, 0, {{0, {{0xFFFFFFFFu, 3}}}}}, 3);
    rec[rec.size() - 1] = 0x77;
    Pic withCustom(true, 5);
    API::Reinit(&withCustom.p, 4, 4);
    SKzRLEObject* added = nullptr;
    ASSERT_EQ(API::AddObjectCutDims(&withCustom.p, reinterpret_cast<SKzRLEObject*>(rec.data()), true, &added), KZ_OK);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(+added->uiSize, 36u + 16u + 5u);
    const uint8_t* custom = static_cast<uint8_t*>(API::GetCustomDataPtr(added)) - 5;
    EXPECT_EQ(std::vector<uint8_t>(custom, custom + 5), (std::vector<uint8_t>{0, 0, 0x77, 0, 0}));
    ExpectConsistent(&withCustom.p);
    EXPECT_EQ(API::AddObjectCutDims(nullptr, added, true, nullptr), KZ_ERR_INVALID_ARG);
}

TEST(RleEdit, CopyingBetweenPictures)
{
    Pic src;
    MakePainted(&src.p, 10, 10, {Dot(4, 0x40, 0), Dot(9, 0x01, 1), Dot(4, 0x00, 2), Dot(6, 0x41, 3)});

    Pic all;
    API::Reinit(&all.p, 10, 10);
    EXPECT_EQ(API::CopyObjectsExcept(&all.p, src.p, nullptr, 0), KZ_OK); // null list: nothing
    EXPECT_EQ(+all.p.uiObjectCount, 0u);
    unsigned none[] = {0};
    EXPECT_EQ(API::CopyObjectsExcept(&all.p, src.p, none, 0), KZ_OK);
    EXPECT_TRUE(API::IsEqual(&all.p, &src.p));

    Pic except;
    unsigned ids[] = {4, 7};
    EXPECT_EQ(API::CopyObjectsExcept(&except.p, src.p, ids, 2), KZ_OK);
    EXPECT_EQ(Objects(except.p), (std::vector<Seen>{{9, 1}, {6, 0x41}}));

    Pic visible;
    EXPECT_EQ(API::CopyObjectsWithStatus(&visible.p, &src.p, 0, 0x40), KZ_OK);
    EXPECT_EQ(Objects(visible.p), (std::vector<Seen>{{1, 1}, {2, 0}}));
    ExpectConsistent(&visible.p);

    // Into itself: only the objects present at the start.
    EXPECT_EQ(API::CopyObjectsWithStatus(&src.p, &src.p, 0x40, 0x40), KZ_OK);
    EXPECT_EQ(Objects(src.p), (std::vector<Seen>{{4, 0x40}, {9, 1}, {4, 0}, {6, 0x41}, {10, 0x40}, {11, 0x41}}));
    ExpectConsistent(&src.p);

    Pic np(false);
    EXPECT_EQ(API::CopyObjectsWithStatus(&np.p, &src.p, 0, 0), KZ_ERR_FAILED);
    EXPECT_EQ(API::CopyObjectsWithStatus(&visible.p, &np.p, 0, 0), KZ_ERR_FAILED);
    EXPECT_EQ(API::CopyObjectsExcept(&np.p, src.p, none, 0), KZ_ERR_FAILED);

    SKzRLEObject* a = API::FindObjectByIndex(&src.p, 0);
    SKzRLEObject* b = API::FindObjectByIndex(&src.p, 1);
    API::CopyObjectAttributes(a, b);
    EXPECT_EQ(+a->uiState, 1u);
    EXPECT_EQ(+a->uiId, 4u);
}

TEST(RleEdit, RectangleTest)
{
    struct Case {
        const char* name;
        Obj obj;
        bool want;
    } cases[] = {
        {"3 x 2 block", {1, 2, 3, 4, 4, 0, {{3, {{2, 3}}}, {4, {{2, 3}}}}}, true},
        {"3 x 2 block marked not rectangular", {1, 2, 3, 4, 4, 0x800, {{3, {{2, 3}}}, {4, {{2, 3}}}}}, false},
        {"L shape", {1, 2, 3, 4, 4, 0, {{3, {{2, 1}}}, {4, {{2, 3}}}}}, false},
        {"single pixel", {1, 0, 0, 0, 0, 0, {{0, {{0, 1}}}}}, true},
        {"row missing", {1, 0, 3, 1, 5, 0, {{3, {{0, 2}}}, {5, {{0, 2}}}}}, false},
        {"two runs in the first row", {1, 0, 0, 4, 0, 0, {{0, {{0, 2}, {3, 2}}}}}, false},
        {"two runs in a later row", {1, 0, 0, 4, 1, 0, {{0, {{0, 5}}}, {1, {{0, 2}, {3, 2}}}}}, false},
        {"shifted row", {1, 0, 0, 5, 1, 0, {{0, {{0, 5}}}, {1, {{1, 5}}}}}, false},
        {"no rows", {1, 0, 0, 0, 0, 0, {}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto rec = Record(c.obj);
        EXPECT_EQ(API::IsRectangular(reinterpret_cast<SKzRLEObject*>(rec.data())), c.want);
    }
    EXPECT_FALSE(API::IsRectangular(nullptr));
    // A record claiming more rows than it holds is not a whole rectangle.
    auto rec = Record({1, 0, 0, 1, 1, 0, {{0, {{0, 2}}}}});
    reinterpret_cast<SKzRLEObject*>(rec.data())->uiRowCount = 2;
    EXPECT_FALSE(API::IsRectangular(reinterpret_cast<SKzRLEObject*>(rec.data())));
}
