// Run-length operations that use standard containers report exhausted memory by
// their result (-3, -9, a null record or an empty blob) and leave their outputs as
// the failure handling says; no exception leaves them. The global operator new of
// this test binary can be told to fail from the n-th allocation of the calling
// thread on; it is off (plain malloc) everywhere else.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "replaced_operator_new.h"
#include "rle_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <new>
#include <random>
#include <vector>

namespace {

// Allocations still allowed on this thread before every further one fails; -1: off.
thread_local long t_allowed = -1;
thread_local bool t_failed = false;

} // namespace

void* TestNewBlock(std::size_t n)
{
    if (t_allowed == 0) {
        t_failed = true;
        return nullptr;
    }
    if (t_allowed > 0) --t_allowed;
    return std::malloc(n ? n : 1);
}

using namespace rletest;
using API = CKzRLEPicBufAPI;

namespace {

struct FailFrom {
    explicit FailFrom(long n)
    {
        t_failed = false;
        t_allowed = n;
    }
    ~FailFrom() { t_allowed = -1; }
};

struct Pic {
    SKzRLEPicBuf p{};
    explicit Pic(bool painted = true) { API::Init(&p, 0, painted); }
    ~Pic() { API::Free(&p); }
};

// A 48 x 40 mask of scattered pixels and small blobs: many runs and objects.
struct Mask {
    SKzPicBuf pic{};
    Mask()
    {
        CKzPicBufAPI::Init(&pic);
        CKzPicBufAPI::Reinit(&pic, 48, 40, 0, 8, 1, true);
        std::mt19937 rng(7);
        for (unsigned i = 0; i < pic.uiSize; ++i) pic.pData[i] = (rng() % 3 == 0) ? u8(1 + rng() % 4) : 0;
    }
    ~Mask() { CKzPicBufAPI::Free(&pic); }
};

const Obj kUntidy{5, 2, 1, 9, 4, 0, {{4, {{2, 3}, {3, 5}}}, {1, {{6, 4}}}, {2, {{2, 2}, {7, 3}}}, {3, {{2, 8}}}}};
const Obj kRing{6, 12, 1, 16, 5, 0x40, {{1, {{12, 5}}}, {2, {{12, 1}, {16, 1}}}, {3, {{12, 1}, {16, 1}}}, {4, {{12, 5}}}}};

} // namespace

TEST(RleAllocation, FailuresAreReportedNotThrown)
{
    Mask mask;
    // A picture the failing operations may change; a copy shows what they kept.
    Pic objects;
    MakePainted(&objects.p, 48, 40, {kUntidy, kRing, kUntidy});
    ASSERT_EQ(+objects.p.uiObjectCount, 3u);
    Pic runs(false);
    ASSERT_EQ(API::ConvertPicBufToNonPaintedRLE(&runs.p, &mask.pic), KZ_OK);

    struct Case {
        const char* name;
        std::vector<int> failures; // results allowed when an allocation failed
        bool keepsOutput;          // a failure leaves the output picture as it was
        std::function<int(SKzRLEPicBuf* out)> op;
    };
    const std::vector<int> mem{KZ_ERR_OUT_OF_MEMORY}, memOrFail{KZ_ERR_OUT_OF_MEMORY, KZ_ERR_FAILED};
    auto freshObject = [&](SKzRLEPicBuf* out) { return API::FindObjectByIndex(out, 0); };
    const Case cases[] = {
        {"labelling, 8-connected", mem, true, [&](SKzRLEPicBuf* o) { return API::ConvertPicBufToPaintedRLE(o, &mask.pic, 8); }},
        {"labelling, 4-connected, by value", mem, true,
         [&](SKzRLEPicBuf* o) { return API::ConvertPicBufToPaintedRLE(o, &mask.pic, 2u, 4u); }},
        {"grouping by value", mem, true, [&](SKzRLEPicBuf* o) { return API::ConvertIndexedPicBufToPaintedRLE(o, &mask.pic); }},
        {"label-picture builder", mem, true,
         [&](SKzRLEPicBuf* o) { return API::ConvertIndexedPicBufToPaintedRLE(o, &mask.pic, 6u); }},
        {"run list to objects", mem, true, [&](SKzRLEPicBuf* o) { return API::ConvertRLEToPaintedRLE(o, &runs.p); }},
        {"run list saved as objects", {0}, true,
         [&](SKzRLEPicBuf*) {
             const unsigned long n = API::SaveToMemory(&runs.p, nullptr);
             return n == 0 ? 0 : n > 28 ? KZ_OK + 1 : -100;
         }},
        {"painting", {}, true,
         [&](SKzRLEPicBuf* o) {
             SKzPicBuf img;
             CKzPicBufAPI::Init(&img);
             CKzPicBufAPI::Reinit(&img, 48, 40, 0, 8, 1, true);
             const int r = API::ConvertRLEToPicBuf(&img, o, 0);
             CKzPicBufAPI::Free(&img);
             return r;
         }},
        {"adding a copy", memOrFail, true, [&](SKzRLEPicBuf* o) { return API::AddObject(o, freshObject(o), nullptr); }},
        {"adding a clipped copy", memOrFail, false,
         [&](SKzRLEPicBuf* o) {
             API::Reinit(o, 6, 3);
             const kz_result r = API::AddObjectCutDims(o, freshObject(o), false, nullptr);
             return r != KZ_OK && o->uiObjectCount != 3 ? -100 : r;
         }},
        {"deleting a list", memOrFail, true,
         [&](SKzRLEPicBuf* o) {
             unsigned at[] = {0, 2};
             return API::DeleteObject(o, at, 2);
         }},
        {"deleting by state", memOrFail, true, [&](SKzRLEPicBuf* o) { return API::DeleteObjectsWithStatus(o, 0x40); }},
        {"copying by state", memOrFail, false,
         [&](SKzRLEPicBuf* o) { return API::CopyObjectsWithStatus(o, &objects.p, 0, 0x40); }},
        {"copying except ids", memOrFail, false,
         [&](SKzRLEPicBuf* o) {
             unsigned ids[] = {6};
             return API::CopyObjectsExcept(o, objects.p, ids, 1);
         }},
        {"cutting a rectangle", mem, true, [&](SKzRLEPicBuf* o) { return API::CutRectangle(o, &objects.p, 3, 2, 12, 2); }},
        {"shape records", {-1, 0}, true,
         [&](SKzRLEPicBuf* o) {
             int missing = 0;
             for (auto op : {ObjectComplement, RLEFillHolesOnObject}) {
                 SKzRLEObject* r = op(freshObject(o));
                 missing += r == nullptr;
                 CKzAlloc::Free(r);
             }
             unsigned counts[4];
             API::OuterProjections(freshObject(o), counts, 48);
             API::Projections(freshObject(o), counts, 48);
             return missing ? -1 : 0;
         }},
        {"nearest outline", {}, true,
         [&](SKzRLEPicBuf* o) {
             double d = 0;
             API::HitTestVisibleEx(o, 4.5, 2.5, 1.0, nullptr, nullptr, &d);
             return 0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool completed = false;
        for (long n = 0; n < 200 && !completed; ++n) {
            Pic out;
            ASSERT_EQ(API::Copy(&out.p, &objects.p), KZ_OK);
            Pic before;
            ASSERT_EQ(API::Copy(&before.p, &out.p), KZ_OK);
            int r = 0;
            bool failed = false;
            {
                FailFrom fail(n);
                try {
                    r = c.op(&out.p);
                } catch (...) {
                    ADD_FAILURE() << "exception after " << n << " allocations";
                }
                failed = t_failed;
            }
            if (!failed) {
                EXPECT_GE(r, 0) << n;
                completed = true;
                continue;
            }
            if (!c.failures.empty()) {
                EXPECT_NE(std::find(c.failures.begin(), c.failures.end(), r), c.failures.end()) << n << ": " << r;
            }
            if (c.keepsOutput && r != 0) {
                EXPECT_TRUE(API::IsEqual(&out.p, &before.p)) << n;
            }
        }
        EXPECT_TRUE(completed);
    }

    // The builder itself: a table it cannot allocate makes both steps report it.
    {
        FailFrom fail(0);
        CKzRLEPicBufBuilder builder(1000);
        EXPECT_TRUE(t_failed);
        EXPECT_EQ(builder.ReadPicBuf_Impl<unsigned char>(mask.pic), KZ_ERR_OUT_OF_MEMORY);
        Pic out;
        EXPECT_EQ(builder.WriteRLEPicBuf(out.p), KZ_ERR_OUT_OF_MEMORY);
        EXPECT_EQ(+out.p.uiObjectCount, 0u);
    }
}
