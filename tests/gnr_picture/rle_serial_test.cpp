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

TEST(RleSerial, HostileBlobsAreRefusedBeforeAnythingIsKept)
{
    using Mut = std::function<void(std::vector<uint8_t>&)>;
    struct Case {
        const char* name;
        Mut mutate;
        bool presetOnly = false; // a fault only against a preset size
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
        {"row without runs", [](auto& b) { Set(b, 68, 0); }},
        {"run of length zero", [](auto& b) { Set(b, 76, 0); }},
        {"run past 32 bits", [](auto& b) { Set(b, 148, 0xFFFFFFFFu); }},
        {"rows not ascending", [](auto& b) { Set(b, 80, 0); }},
        {"runs overlapping", [](auto& b) { Set(b, 148, 6); }},
        {"run left of box", [](auto& b) { Set(b, 140, 4); }},
        {"run right of box", [](auto& b) { Set(b, 152, 3); }},
        {"row above box", [](auto& b) { Set(b, 132, 4); }},
        {"row count too large", [](auto& b) { Set(b, 52, 3); }},
        {"row count too small", [](auto& b) { Set(b, 52, 1); }},
        {"run count past record", [](auto& b) { Set(b, 84, 0x20000000u); }},
        {"last row offset wrong", [](auto& b) { Set(b, 56, 36); }},
        {"custom bytes not carried", [](auto& b) { Set(b, 24, 8); }},
        {"wider than preset", [](auto& b) { Set(b, 4, 51); }, true},
        {"taller than preset", [](auto& b) { Set(b, 8, 51); }, true},
    };
    // The untouched blob loads, with and without a preset size.
    {
        auto b = TwoObjects();
        Pic p;
        API::Reinit(&p.p, 50, 50);
        EXPECT_EQ(API::LoadFromMemory(&p.p, b.data(), b.size()), KZ_OK);
        EXPECT_EQ(+p.p.uiWidth, 10u);
        EXPECT_EQ(API::ResetBinObjStatesInMemory(b.data(), b.size(), 1, 1, nullptr), KZ_OK);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (uint32_t preset : {0u, 50u}) {
            if (c.presetOnly && preset == 0) {
                auto b = TwoObjects();
                c.mutate(b);
                Pic p;
                EXPECT_EQ(API::LoadFromMemory(&p.p, b.data(), b.size()), KZ_OK);
                EXPECT_EQ(p.p.uiWidth + p.p.uiHeight, 61u);
                continue;
            }
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
            unsigned long len = 0;
            void* z = API::SaveToMemoryCompressRaw(b.data(), b.size(), 6, 1, &len);
            ASSERT_NE(z, nullptr);
            Pic q;
            API::Reinit(&q.p, preset, preset);
            EXPECT_EQ(API::LoadFromMemoryUncompress(&q.p, 1, z, len), KZ_ERR_FAILED);
            EXPECT_EQ(+q.p.uiObjectCount, 0u);
            CKzAlloc::Free(z);
        }
        // State rewriting refuses what it cannot walk and leaves the blob alone.
        if (c.presetOnly) continue;
        auto b = TwoObjects();
        c.mutate(b);
        if (b.size() >= 28 && (Get(b, 0) == 3) && uint64_t(Get(b, 16)) + 28 <= b.size()) {
            const auto before = b;
            bool changed = true;
            EXPECT_EQ(API::ResetBinObjStatesInMemory(b.data(), b.size(), 0xFFFFFFFFu, 0, &changed), KZ_ERR_FAILED);
            EXPECT_EQ(b, before);
        }
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
        {"length word too large", [](auto& b) { Set(b, 0, 157); }},
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
