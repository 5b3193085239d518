#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "rle_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <zlib.h>

using namespace rletest;
using API = CKzRLEPicBufAPI;

namespace {

struct Pic {
    SKzRLEPicBuf p{};
    explicit Pic(bool painted = true, unsigned custom = 0) { API::Init(&p, custom, painted); }
    ~Pic() { API::Free(&p); }
};

void Set(std::vector<uint8_t>& v, size_t at, uint32_t x) { std::memcpy(v.data() + at, &x, 4); }

// Two objects; record A at blob offset 28 (68 bytes), record B at 96 (60 bytes).
const Obj kA{1, 0, 0, 3, 1, 0, {{0, {{0, 2}}}, {1, {{1, 3}}}}};
const Obj kB{2, 5, 5, 9, 5, 0x40, {{5, {{5, 2}, {8, 2}}}}};

std::vector<uint8_t> TwoObjects() { return Blob(3, 10, 10, {kA, kB}); }

// Loads `blob` compressed, as a file stores it, into q sized preset x preset
// before; the load's result. A blob that cannot be compressed fails the test
// and gives kNotCompressed, which no load gives.
constexpr kz_result kNotCompressed = -1000;
kz_result LoadCompressed(Pic& q, const std::vector<uint8_t>& blob, uint32_t preset)
{
    unsigned long len = 0;
    void* z = API::SaveToMemoryCompressRaw(const_cast<uint8_t*>(blob.data()), blob.size(), 6, 1, &len);
    if (!z) {
        ADD_FAILURE() << "the blob could not be compressed";
        return kNotCompressed;
    }
    API::Reinit(&q.p, preset, preset);
    const kz_result rc = API::LoadFromMemoryUncompress(&q.p, 1, z, len);
    CKzAlloc::Free(z);
    return rc;
}

} // namespace

TEST(RleSerial, EmptyPictureIsTheBareHeader)
{
    Pic p(true, 6);
    API::Reinit(&p.p, 17, 9);
    ASSERT_EQ(API::SaveToMemory(&p.p, nullptr), 28u);
    std::vector<uint8_t> out(28, 0xEE);
    ASSERT_EQ(API::SaveToMemory(&p.p, out.data()), 28u);
    const uint32_t want[] = {3, 17, 9, 0, 0, 0, 6};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(Get(out, 4 * i), want[i]) << i;
    Pic q(true, 6);
    ASSERT_EQ(API::LoadFromMemory(&q.p, out.data(), out.size()), KZ_OK);
    EXPECT_TRUE(API::IsEqual(&p.p, &q.p));
    EXPECT_EQ(+q.p.pObjects, nullptr);
}

TEST(RleSerial, SavesTheObjectBlockUnchangedAndRoundTripsCompressed)
{
    const auto blob = TwoObjects();
    ASSERT_EQ(blob.size(), 156u);
    Pic p;
    ASSERT_EQ(API::LoadFromMemory(&p.p, const_cast<uint8_t*>(blob.data()), blob.size()), KZ_OK);
    EXPECT_EQ(+p.p.uiObjectCount, 2u);
    EXPECT_EQ(+p.p.uiDataBytes, 128u);
    EXPECT_EQ(+p.p.uiLastObjectOffset, 68u);
    EXPECT_EQ(+p.p.uiLegacyWord, 0xFF000000u);
    std::vector<uint8_t> out(API::SaveToMemory(&p.p, nullptr));
    ASSERT_EQ(out.size(), blob.size());
    API::SaveToMemory(&p.p, out.data());
    EXPECT_EQ(out, blob);

    for (int level : {-1, 0, 1, 6, 9}) {
        SCOPED_TRACE(level);
        unsigned long len = 0;
        void* z = API::SaveToMemoryCompress(&p.p, level, 1, &len);
        ASSERT_NE(z, nullptr);
        EXPECT_EQ(Get(std::vector<uint8_t>(static_cast<uint8_t*>(z), static_cast<uint8_t*>(z) + 4), 0), 156u);
        // The stream after the length word is a plain zlib stream of the blob.
        std::vector<uint8_t> raw(156);
        uLongf rawLen = raw.size();
        ASSERT_EQ(uncompress(raw.data(), &rawLen, static_cast<uint8_t*>(z) + 4, len - 4), Z_OK);
        EXPECT_EQ(raw, blob);
        Pic q;
        API::Reinit(&q.p, 10, 10);
        EXPECT_EQ(API::LoadFromMemoryUncompress(&q.p, 1, z, len), KZ_OK);
        EXPECT_TRUE(API::IsEqual(&p.p, &q.p));
        CKzAlloc::Free(z);
    }
    unsigned long len = 99;
    EXPECT_EQ(API::SaveToMemoryCompress(&p.p, 42, 1, &len), nullptr); // bad level
    EXPECT_EQ(len, 0u);
}

TEST(RleSerial, OlderVersionsConvertTheirRecordHeaders)
{
    // One row with one run, no custom data: 44 + 16 = 60 bytes in version 2.
    const Obj one{4, 1, 1, 2, 1, 0x11, {{1, {{1, 2}}}}};
    const Obj two{5, 0, 3, 0, 4, 0, {{3, {{0, 1}}}, {4, {{0, 1}}}}};
    struct Case {
        uint32_t version;
        uint32_t extra;
        uint32_t legacy;
    } cases[] = {{2, 0x12345678, 0xFF000000u}, {1, 0xCAFEF00D, 0xCAFEF00D}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        auto blob = Blob(c.version, 8, 8, {one, two}, 0, c.extra);
        const uint32_t hdr = c.version == 1 ? 49 : 44;
        EXPECT_EQ(Get(blob, 28 + 20), hdr + 16);
        EXPECT_EQ(Get(blob, 28 + 28), hdr);
        Pic p;
        ASSERT_EQ(API::LoadFromMemory(&p.p, blob.data(), blob.size()), KZ_OK);
        // The same objects built directly as current records.
        Pic want;
        MakePainted(&want.p, 8, 8, {one, two});
        SKzRLEObject* o = API::FindObjectByIndex(&p.p, 0);
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(+o->uiSize, 52u);
        EXPECT_EQ(+o->uiLastRowOffset, 36u);
        EXPECT_EQ(+o->uiState, 0x11u);
        EXPECT_EQ(+p.p.uiLastObjectOffset, 52u);
        EXPECT_EQ(+p.p.uiLegacyWord, c.legacy);
        EXPECT_TRUE(API::IsEqual(&p.p, &want.p));
        EXPECT_TRUE(API::HitTest(&p.p, 0, 4, nullptr, nullptr));
    }
    // Version 1: the word of the last record wins.
    auto b1 = Blob(1, 8, 8, {one, two}, 0, 7);
    Set(b1, 28 + 36, 1111);
    Pic p;
    ASSERT_EQ(API::LoadFromMemory(&p.p, b1.data(), b1.size()), KZ_OK);
    EXPECT_EQ(+p.p.uiLegacyWord, 7u);
}

TEST(RleSerial, BlobsThatCannotBeReadSafelyAreRefused)
{
    using Mut = std::function<void(std::vector<uint8_t>&)>;
    struct Case {
        const char* name;
        Mut mutate;
    };
    const Case cases[] = {
        {"three bytes", [](auto& b) { b.resize(3); }},
        {"unknown version", [](auto& b) { Set(b, 0, 4); }},
        {"version zero", [](auto& b) { Set(b, 0, 0); }},
        {"shorter than header", [](auto& b) { b.resize(20); }},
        {"data beyond blob", [](auto& b) { Set(b, 16, 200); }},
        {"data not tiled", [](auto& b) { Set(b, 16, 132); b.resize(b.size() + 4); }},
        {"count too large", [](auto& b) { Set(b, 12, 3); }},
        {"count too small", [](auto& b) { Set(b, 12, 1); }},
        {"record below header", [](auto& b) { Set(b, 48, 20); }},
        {"record size zero", [](auto& b) { Set(b, 48, 0); }},
        {"record past data", [](auto& b) { Set(b, 116, 64); }},
        {"row count past record", [](auto& b) { Set(b, 52, 3); }},
        {"run count past record", [](auto& b) { Set(b, 84, 0x20000000u); }},
        {"custom bytes not carried", [](auto& b) { Set(b, 24, 8); }},
        {"run past the signed plane", [](auto& b) { Set(b, 148, 0xFFFFFFFFu); }},
        {"row past the signed plane", [](auto& b) { Set(b, 132, 0x80000000u); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (uint32_t preset : {0u, 50u}) {
            auto b = TwoObjects();
            c.mutate(b);
            Pic p;
            API::Reinit(&p.p, preset, preset);
            EXPECT_EQ(API::LoadFromMemory(&p.p, b.data(), b.size()), KZ_ERR_FAILED);
            EXPECT_TRUE(p.p.bPainted);
            EXPECT_EQ(+p.p.pObjects, nullptr);
            EXPECT_EQ(+p.p.uiObjectCount, 0u);
            EXPECT_EQ(+p.p.uiDataBytes, 0u);
            EXPECT_EQ(+p.p.uiWidth, preset);
            EXPECT_EQ(+p.p.uiHeight, preset);
            // Compressed, the same blob fails the same way after inflating.
            Pic q;
            EXPECT_EQ(LoadCompressed(q, b, preset), KZ_ERR_FAILED);
            EXPECT_EQ(+q.p.uiObjectCount, 0u);
        }
        // State rewriting refuses records it cannot walk and leaves the blob alone.
        auto b = TwoObjects();
        c.mutate(b);
        if (b.size() >= 28 && (Get(b, 0) == 3) && uint64_t(Get(b, 16)) + 28 <= b.size()) {
            const auto before = b;
            bool changed = true;
            const kz_result rc = API::ResetBinObjStatesInMemory(b.data(), b.size(), 0xFFFFFFFFu, 0, &changed);
            // Faults inside the records do not keep their states from being rewritten.
            if (rc == KZ_OK) {
                EXPECT_TRUE(changed);
                EXPECT_EQ(Get(b, 28 + 32), 0u);
            } else {
                EXPECT_EQ(rc, KZ_ERR_FAILED);
                EXPECT_EQ(b, before);
            }
        }
    }
}

// Records a reader can walk load as stored, whatever their rows, runs, boxes and
// offsets say: only a box that does not hold the object's pixels is replaced by
// their extent. Their states can be rewritten in place, and what loads saves back
// to the same bytes apart from a replaced box.
TEST(RleSerial, WalkableRecordsLoadAsStored)
{
    using Mut = std::function<void(std::vector<uint8_t>&)>;
    struct Box {
        int32_t l, t, r, b;
    };
    struct Case {
        const char* name;
        Mut mutate;
        Box a, b; // boxes after loading
    };
    const Box boxA{0, 0, 3, 1}, boxB{5, 5, 9, 5};
    const Case cases[] = {
        {"unchanged", [](auto&) {}, boxA, boxB},
        {"row repeated", [](auto& b) { Set(b, 80, 0); }, boxA, boxB},
        {"rows descending", [](auto& b) { Set(b, 64, 1); Set(b, 80, 0); }, boxA, boxB},
        {"runs overlapping", [](auto& b) { Set(b, 148, 6); }, boxA, boxB},
        {"runs descending", [](auto& b) { Set(b, 140, 8); Set(b, 148, 5); }, boxA, boxB},
        {"run left of box", [](auto& b) { Set(b, 140, 4); }, boxA, {4, 5, 9, 5}},
        {"run right of box", [](auto& b) { Set(b, 152, 3); }, boxA, {5, 5, 10, 5}},
        {"row above box", [](auto& b) { Set(b, 132, 4); }, boxA, {5, 4, 9, 4}},
        {"box never filled", [](auto& b) { for (int i = 0; i < 4; ++i) Set(b, 100 + 4 * i, 0); }, boxA, boxB},
        {"box empty", [](auto& b) { Set(b, 100, 0x7FFFFFFF); Set(b, 108, 0x80000000u); }, boxA, boxB},
        {"box larger than pixels", [](auto& b) { Set(b, 100, 1); Set(b, 112, 7); }, boxA, {1, 5, 9, 7}},
        {"row without runs", [](auto& b) { Set(b, 68, 0); }, boxA, boxB},
        {"run of length zero", [](auto& b) { Set(b, 76, 0); }, boxA, boxB},
        {"row count too small", [](auto& b) { Set(b, 52, 1); }, boxA, boxB},
        {"last row offset wrong", [](auto& b) { Set(b, 56, 36); }, boxA, boxB},
        {"last object offset wrong", [](auto& b) { Set(b, 20, 0); }, boxA, boxB},
        {"wider and taller than preset", [](auto& b) { Set(b, 4, 51); Set(b, 8, 52); }, boxA, boxB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto blob = TwoObjects();
        c.mutate(blob);
        for (uint32_t preset : {0u, 50u}) {
            Pic p;
            API::Reinit(&p.p, preset, preset);
            ASSERT_EQ(API::LoadFromMemory(&p.p, blob.data(), blob.size()), KZ_OK);
            EXPECT_EQ(+p.p.uiObjectCount, 2u);
            EXPECT_EQ(+p.p.uiDataBytes, 128u);
            EXPECT_EQ(+p.p.uiLastObjectOffset, 68u);
            EXPECT_EQ(+p.p.uiWidth, Get(blob, 4));
            EXPECT_EQ(+p.p.uiHeight, Get(blob, 8));
            const Box want[2] = {c.a, c.b};
            for (unsigned i = 0; i < 2; ++i) {
                const SKzRLEObject* o = API::FindObjectByIndex(&p.p, i);
                ASSERT_NE(o, nullptr);
                EXPECT_EQ(o->iLeft, want[i].l) << i;
                EXPECT_EQ(o->iTop, want[i].t) << i;
                EXPECT_EQ(o->iRight, want[i].r) << i;
                EXPECT_EQ(o->iBottom, want[i].b) << i;
            }
            // Saved back: the stored bytes, the boxes as loaded and the offset found.
            std::vector<uint8_t> out(API::SaveToMemory(&p.p, nullptr));
            ASSERT_EQ(out.size(), blob.size());
            API::SaveToMemory(&p.p, out.data());
            auto expect = blob;
            Set(expect, 20, 68);
            for (unsigned i = 0; i < 2; ++i) {
                const size_t at = i ? 96 : 28;
                Set(expect, at + 4, uint32_t(want[i].l));
                Set(expect, at + 8, uint32_t(want[i].t));
                Set(expect, at + 12, uint32_t(want[i].r));
                Set(expect, at + 16, uint32_t(want[i].b));
            }
            EXPECT_EQ(out, expect);
            // The same through the compressed form, which a preset size bounds.
            Pic q;
            EXPECT_EQ(LoadCompressed(q, blob, preset), KZ_OK);
            EXPECT_TRUE(API::IsEqual(&p.p, &q.p));
        }
        auto b = blob;
        bool changed = false;
        EXPECT_EQ(API::ResetBinObjStatesInMemory(b.data(), b.size(), 0x40, 0x40, &changed), KZ_OK);
        EXPECT_TRUE(changed);
        EXPECT_EQ(Get(b, 28 + 32), 0x40u);
        EXPECT_EQ(Get(b, 96 + 32), 0x40u);
    }
}

// An object a host builds run by run leaves the box to its caller; one stored
// without it loads with the extent of its pixels.
TEST(RleSerial, HostBuiltObjectWithoutBoxLoads)
{
    for (unsigned custom : {0u, 4u}) {
        SCOPED_TRACE(custom);
        SKzRLEObject* objects[4] = {};
        unsigned caps[4] = {};
        ASSERT_EQ(add_RLE_item_FromPainted(objects, caps, 3, 4, 6, 2, custom), KZ_OK);
        ASSERT_EQ(add_RLE_item_FromPainted(objects, caps, 3, 2, 1, 3, custom), KZ_OK); // a row above
        ASSERT_EQ(add_RLE_item_FromPainted(objects, caps, 3, 2, 2, 5, custom), KZ_OK); // overlapping
        Pic p(true, custom);
        API::Reinit(&p.p, 10, 10);
        ASSERT_EQ(API::AddObjectKeepID(&p.p, objects[3], nullptr), KZ_OK);
        CKzAlloc::Free(objects[3]);
        unsigned long len = 0;
        void* z = API::SaveToMemoryCompress(&p.p, 6, 1, &len);
        ASSERT_NE(z, nullptr);
        Pic q(true, custom);
        API::Reinit(&q.p, 10, 10);
        ASSERT_EQ(API::LoadFromMemoryUncompress(&q.p, 1, z, len), KZ_OK);
        CKzAlloc::Free(z);
        ASSERT_EQ(+q.p.uiObjectCount, 1u);
        const SKzRLEObject* o = API::FindObjectByIndex(&q.p, 0);
        EXPECT_EQ(o->uiId, 3u);
        EXPECT_EQ(o->iLeft, 1);
        EXPECT_EQ(o->iTop, 2);
        EXPECT_EQ(o->iRight, 7);
        EXPECT_EQ(o->iBottom, 4);
        // Painted back, the object holds exactly its pixels.
        SKzPicBuf img;
        CKzPicBufAPI::Init(&img);
        ASSERT_EQ(CKzPicBufAPI::Reinit(&img, 10, 10, 0, 8, 1, true), KZ_OK);
        ASSERT_EQ(API::ConvertRLEToPicBuf(&img, &q.p, 0), KZ_OK);
        unsigned set = 0;
        for (unsigned y = 0; y < 10; ++y)
            for (unsigned x = 0; x < 10; ++x) {
                const bool in = (y == 4 && x >= 6 && x <= 7) || (y == 2 && x >= 1 && x <= 6);
                EXPECT_EQ(img.pData[y * img.uiWidthBytes + x], in ? 3 : 0) << x << "," << y;
                set += in;
                EXPECT_EQ(API::HitTest(&q.p, x, y, nullptr, nullptr), in) << x << "," << y;
            }
        EXPECT_EQ(set, 8u);
        CKzPicBufAPI::Free(&img);
    }
}

TEST(RleSerial, CompressedBlobFaults)
{
    const auto blob = TwoObjects();
    unsigned long len = 0;
    void* z = API::SaveToMemoryCompressRaw(const_cast<uint8_t*>(blob.data()), blob.size(), 6, 1, &len);
    ASSERT_NE(z, nullptr);
    const std::vector<uint8_t> good(static_cast<uint8_t*>(z), static_cast<uint8_t*>(z) + len);
    CKzAlloc::Free(z);
    using Mut = std::function<void(std::vector<uint8_t>&)>;
    struct Case {
        const char* name;
        Mut mutate;
    } cases[] = {
        {"length word too small", [](auto& b) { Set(b, 0, 155); }},
        {"length word beyond any expansion", [](auto& b) { Set(b, 0, 0xFFFFFFF0u); }},
        {"length word zero", [](auto& b) { Set(b, 0, 0); }},
        {"stream cut", [](auto& b) { b.resize(b.size() - 3); }},
        {"stream damaged", [](auto& b) { b[6] ^= 0x5A; b[7] ^= 0xA5; }},
        {"no stream", [](auto& b) { b.resize(4); }},
        {"three bytes", [](auto& b) { b.resize(3); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto b = good;
        c.mutate(b);
        unsigned long raw = 77;
        EXPECT_EQ(API::LoadFromMemoryUncompressRaw(1, b.data(), b.size(), &raw), nullptr);
        EXPECT_EQ(raw, 0u);
        Pic p;
        EXPECT_EQ(API::LoadFromMemoryUncompress(&p.p, 1, b.data(), b.size()), KZ_ERR_OUT_OF_MEMORY);
        EXPECT_EQ(+p.p.uiObjectCount, 0u);
    }
    unsigned long raw = 0;
    auto b = good;
    void* out = API::LoadFromMemoryUncompressRaw(1, b.data(), b.size(), &raw);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(raw, 156u);
    EXPECT_EQ(std::memcmp(out, blob.data(), 156), 0);
    CKzAlloc::Free(out);
}

TEST(RleSerial, ObjectCountAndStateRewriting)
{
    struct CountCase {
        std::vector<uint8_t> blob;
        int want;
    };
    auto header = Blob(3, 4, 4, {});
    Set(header, 12, 5);
    auto v4 = header;
    Set(v4, 0, 4);
    // Counts that do not fit an int cannot be real (each record takes 36 of at most
    // 2^32 bytes) and must not come back as negative numbers.
    auto largest = header, above = header, all = header;
    Set(largest, 12, 0x7FFFFFFFu);
    Set(above, 12, 0x80000000u);
    Set(all, 12, 0xFFFFFFFFu);
    const CountCase counts[] = {
        {{3, 0, 0}, KZ_ERR_FAILED},
        {std::vector<uint8_t>(header.begin(), header.begin() + 20), -1},
        {v4, -1},
        {header, 5},
        {TwoObjects(), 2},
        {largest, 0x7FFFFFFF},
        {above, KZ_ERR_FAILED},
        {all, KZ_ERR_FAILED},
    };
    for (const auto& c : counts) {
        auto b = c.blob;
        EXPECT_EQ(API::GetObjectCountFromMemory(b.data(), b.size()), c.want);
    }

    struct StateCase {
        const char* name;
        uint32_t version, stateA, stateB, mask, value;
        bool changed;
        uint32_t wantA, wantB;
    } cases[] = {
        {"hide all, one was shown", 3, 0, 0x40, 0x40, 0x40, true, 0x40, 0x40},
        {"hide all, all hidden", 3, 0x41, 0x40, 0x40, 0x40, false, 0x41, 0x40},
        {"show all", 3, 0x41, 0x40, 0x40, 0, true, 0x01, 0},
        {"other bits kept", 2, 0x8F0, 0x40, 0x0F, 0x05, true, 0x8F5, 0x45},
        {"version 1", 1, 0x40, 0x40, 0x40, 0, true, 0, 0},
    };
    for (const StateCase& c : cases) {
        SCOPED_TRACE(c.name);
        Obj a = kA, b = kB;
        a.state = c.stateA;
        b.state = c.stateB;
        auto blob = Blob(c.version, 10, 10, {a, b});
        const uint32_t hdr = c.version == 1 ? 49 : c.version == 2 ? 44 : 36;
        bool changed = !c.changed;
        EXPECT_EQ(API::ResetBinObjStatesInMemory(blob.data(), blob.size(), c.mask, c.value, &changed), KZ_OK);
        EXPECT_EQ(changed, c.changed);
        EXPECT_EQ(Get(blob, 28 + 32), c.wantA);
        EXPECT_EQ(Get(blob, 28 + Get(blob, 28 + 20) + 32), c.wantB);
        (void)hdr;
    }
    std::vector<uint8_t> tiny{3, 0, 0};
    EXPECT_EQ(API::ResetBinObjStatesInMemory(tiny.data(), tiny.size(), 1, 1, nullptr), KZ_ERR_FAILED);
    auto v4b = TwoObjects();
    Set(v4b, 0, 9);
    EXPECT_EQ(API::ResetBinObjStatesInMemory(v4b.data(), v4b.size(), 1, 1, nullptr), -1);
    auto shortData = TwoObjects();
    Set(shortData, 16, 500); // header does not cover the data: nothing done
    bool changed = true;
    EXPECT_EQ(API::ResetBinObjStatesInMemory(shortData.data(), shortData.size(), 0x40, 0, &changed), KZ_OK);
    EXPECT_FALSE(changed);
    EXPECT_EQ(Get(shortData, 96 + 32), 0x40u);
}

// What a compressed blob may inflate to: a picture of known size holds at most one
// object of one row and one run (plus the custom bytes) per pixel, and without a
// size a cap far below what a hostile stream of zeros could unfold to holds. A
// stream that ends before its length word loads with what it holds.
TEST(RleSerial, InflationIsBoundedBeforeAllocating)
{
    const Obj one{1, 0, 0, 1, 0, 0, {{0, {{0, 2}}}}};
    const auto small = Blob(3, 2, 2, {one}, 100); // 180 bytes
    const uint32_t smallBound = 28 + 4 * (52 + 100);
    std::vector<uint8_t> zeros(size_t(16) << 20, 0);
    struct Case {
        const char* name;
        const std::vector<uint8_t>* raw;
        uint32_t lengthWord;
        uint32_t preset;        // 0: no size known
        kz_result load;         // LoadFromMemoryUncompress
        unsigned long inflated; // LoadFromMemoryUncompressRaw, 0 for refused
    };
    const Case cases[] = {
        {"exact", &small, 180, 2, KZ_OK, 180},
        {"stream shorter than its length word", &small, smallBound, 2, KZ_OK, 180},
        {"beyond what the picture holds", &small, smallBound + 1, 2, KZ_ERR_FAILED, 180},
        {"no size known", &small, smallBound + 1, 0, KZ_OK, 180},
        {"stream longer than its length word", &small, 179, 0, KZ_ERR_OUT_OF_MEMORY, 0},
        {"zeros within the cap", &zeros, uint32_t(zeros.size()), 0, KZ_ERR_FAILED, zeros.size()},
        {"zeros beyond a 40 x 30 picture", &zeros, uint32_t(zeros.size()), 40, KZ_ERR_FAILED, zeros.size()},
        {"4 GiB claimed", &zeros, 0xFFFFFFFFu, 0, KZ_ERR_OUT_OF_MEMORY, 0},
        {"4 GiB claimed for a 40 x 30 picture", &zeros, 0xFFFFFFFFu, 40, KZ_ERR_FAILED, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned long len = 0;
        void* z = API::SaveToMemoryCompressRaw(const_cast<uint8_t*>(c.raw->data()), c.raw->size(), 9, 1, &len);
        ASSERT_NE(z, nullptr);
        std::memcpy(z, &c.lengthWord, 4);
        unsigned long raw = 0;
        void* out = API::LoadFromMemoryUncompressRaw(1, z, len, &raw);
        EXPECT_EQ(raw, c.inflated);
        EXPECT_EQ(out != nullptr, c.inflated != 0);
        if (out && c.raw == &small) EXPECT_EQ(std::memcmp(out, small.data(), small.size()), 0);
        CKzAlloc::Free(out);
        Pic p(true);
        API::Reinit(&p.p, c.preset, c.preset ? (c.preset == 40 ? 30 : c.preset) : 0);
        EXPECT_EQ(API::LoadFromMemoryUncompress(&p.p, 1, z, len), c.load);
        if (c.load == KZ_OK) {
            EXPECT_EQ(+p.p.uiObjectCount, 1u);
            EXPECT_EQ(+p.p.uiCustomDataBytes, 100u);
        } else {
            EXPECT_EQ(+p.p.pObjects, nullptr);
        }
        CKzAlloc::Free(z);
    }
}
