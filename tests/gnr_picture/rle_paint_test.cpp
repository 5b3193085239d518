#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "kernel_test_support.h"
#include "rle_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

using namespace rletest;
using API = CKzRLEPicBufAPI;

namespace {

struct Pic {
    SKzRLEPicBuf p{};
    explicit Pic(bool painted = true) { API::Init(&p, 0, painted); }
    ~Pic() { API::Free(&p); }
};

struct Bits {
    std::vector<uint8_t> bytes;
    SKzBinPicBuf b{};
    Bits(unsigned w, unsigned h, uint8_t fill = 0)
    {
        b.uiWidth = w;
        b.uiHeight = h;
        b.uiWidthBytes = (w + 7) / 8;
        bytes.assign(size_t(b.uiWidthBytes) * h, fill);
        b.uiSize = unsigned(bytes.size());
        b.pData = bytes.data();
    }
};

Obj Line(uint32_t id, uint32_t y, uint32_t x, uint32_t len, uint32_t state = 0)
{
    return {id, int32_t(x), int32_t(y), int32_t(x + len - 1), int32_t(y), state, {{y, {{x, len}}}}};
}

} // namespace

TEST(RlePaint, BitRuns)
{
    struct Case {
        const char* name;
        uint32_t x, len;
        std::vector<uint8_t> want; // bytes of row 0
    } cases[] = {
        {"single bit at 7", 7, 1, {0x01, 0, 0, 0}},
        {"across a byte edge", 6, 4, {0x03, 0xC0, 0, 0}},
        {"whole bytes", 8, 16, {0, 0xFF, 0xFF, 0}},
        {"inside one byte", 2, 3, {0x38, 0, 0, 0}},
        {"clipped at the width", 28, 100, {0, 0, 0, 0x0F}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pic p;
        MakePainted(&p.p, 32, 2, {Line(1, 0, c.x, c.len)});
        ASSERT_EQ(+p.p.uiObjectCount, 1u);
        Bits bits(32, 2, 0xAA);
        ASSERT_EQ(API::ConvertRLEToBinPicBuf(&bits.b, &p.p), KZ_OK);
        EXPECT_EQ(std::vector<uint8_t>(bits.bytes.begin(), bits.bytes.begin() + 4), c.want);
        EXPECT_EQ(std::vector<uint8_t>(bits.bytes.begin() + 4, bits.bytes.end()), std::vector<uint8_t>(4, 0));
    }
}

TEST(RlePaint, FiltersAndVisibility)
{
    Pic p;
    MakePainted(&p.p, 8, 4,
                {Line(1, 0, 0, 8, 0x00), Line(2, 1, 0, 8, 0x01), Line(3, 2, 0, 8, 0x41), Line(256, 3, 0, 8, 0x40)});
    ASSERT_EQ(+p.p.uiObjectCount, 4u);
    struct Case {
        const char* name;
        int which; // 0 all, 1 visible, 2 filter
        unsigned required, excluded;
        uint8_t rows[4];
    } cases[] = {
        {"all", 0, 0, 0, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"visible", 1, 0, 0, {0xFF, 0xFF, 0, 0}},
        {"filter 1 not 0x40", 2, 0x01, 0x40, {0, 0xFF, 0, 0}},
        {"filter none", 2, 0, 0, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"filter 0x40", 2, 0x40, 0, {0, 0, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bits bits(8, 4, 0x5A);
        kz_result rc = c.which == 0   ? API::ConvertRLEToBinPicBuf(&bits.b, &p.p)
                       : c.which == 1 ? API::ConvertVisibleRLEToBinPicBuf(&bits.b, &p.p)
                                      : API::ConvertAndFilterRLEToBinPicBuf(&bits.b, &p.p, c.required, c.excluded);
        ASSERT_EQ(rc, KZ_OK);
        for (int y = 0; y < 4; ++y) EXPECT_EQ(bits.bytes[y], c.rows[y]) << y;
    }
    // Visible painting into integer pictures keeps other pixels; ids with no bits in
    // the sample paint all ones.
    SKzPicBuf img;
    CKzPicBufAPI::Init(&img);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&img, 8, 4, 0, 8, 1, true), KZ_OK);
    img.pData[3 * img.uiWidthBytes] = 9;
    p.p.pObjects->uiId = 512; // first object
    ASSERT_EQ(API::ConvertVisibleRLEToPicBuf(&img, &p.p), KZ_OK);
    EXPECT_EQ(img.pData[0], 255);
    EXPECT_EQ(img.pData[img.uiWidthBytes], 2);
    EXPECT_EQ(img.pData[2 * img.uiWidthBytes], 0);
    EXPECT_EQ(img.pData[3 * img.uiWidthBytes], 9);
    EXPECT_EQ(API::ConvertVisibleRLEToPicBuf(&img, &p.p, 7), KZ_OK);
    EXPECT_EQ(img.pData[0], 7);
    CKzPicBufAPI::Free(&img);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&img, 7, 4, 0, 8, 1, true), KZ_OK);
    EXPECT_EQ(API::ConvertVisibleRLEToPicBuf(&img, &p.p), KZ_ERR_FAILED); // narrower
    CKzPicBufAPI::Free(&img);
    Bits narrow(7, 4, 0x11);
    EXPECT_EQ(API::ConvertRLEToBinPicBuf(&narrow.b, &p.p), KZ_ERR_FAILED);
    EXPECT_EQ(narrow.bytes[0], 0x11);
    // One object, not cleared first.
    Bits one(8, 4, 0);
    one.bytes[3] = 0x80;
    API::ExtractRLEObjectToBinPicBuf(&one.b, API::FindObjectByIndex(&p.p, 1));
    EXPECT_EQ(one.bytes, (std::vector<uint8_t>{0, 0xFF, 0, 0x80}));
}

namespace {

// A painted picture over records as given (not checked as a load would check them).
void SetObjects(SKzRLEPicBuf* p, uint32_t w, uint32_t h, const std::vector<Obj>& objs)
{
    std::vector<uint8_t> block;
    uint32_t last = 0;
    for (const Obj& o : objs) {
        last = uint32_t(block.size());
        auto r = Record(o);
        block.insert(block.end(), r.begin(), r.end());
    }
    API::Free(p);
    API::Init(p, 0, true);
    p->uiWidth = w;
    p->uiHeight = h;
    if (block.empty()) return;
    p->pObjects = static_cast<SKzRLEObject*>(CKzAlloc::Alloc(0, block.size()));
    std::memcpy(p->pObjects, block.data(), block.size());
    p->uiObjectCount = uint32_t(objs.size());
    p->uiDataBytes = uint32_t(block.size());
    p->uiLastObjectOffset = objs.size() > 1 ? last : 0;
}

// Object after object in block order, every run clipped: what painting must give.
std::vector<uint32_t> PaintByObjects(const std::vector<Obj>& objs, uint32_t w, uint32_t h, uint32_t bits,
                                     uint32_t value)
{
    std::vector<uint32_t> out(size_t(w) * h, 0);
    const uint32_t sampleMask = bits <= 8 ? 0xFFu : bits <= 16 ? 0xFFFFu : 0xFFFFFFFFu;
    for (const Obj& o : objs) {
        uint32_t v = value ? value : o.id;
        if (!value && (v & sampleMask) == 0) v = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
        v &= sampleMask;
        for (const Row& row : o.rows)
            for (const Run& r : row.runs)
                for (uint64_t x = r.x; x < uint64_t(r.x) + r.len; ++x)
                    if (row.y < h && x < w) out[size_t(row.y) * w + size_t(x)] = v;
    }
    return out;
}

} // namespace

// A tight picture of w x h samples inside a block with guard bytes on both
// sides. Painting objects into it must give what painting object after object
// gives, pixel for pixel, and leave the guards untouched.
struct GuardedPicture {
    uint32_t w, h, bits, sample;
    size_t guard;
    std::vector<uint8_t> block;
    SKzPicBuf pic{};
    GuardedPicture(uint32_t width, uint32_t height, uint32_t sampleBits, size_t guardBytes)
        : w(width), h(height), bits(sampleBits), sample(sampleBits / 8), guard(guardBytes),
          block(2 * guardBytes + size_t(width) * (sampleBits / 8) * height)
    {
        pic.uiWidth = w;
        pic.uiHeight = h;
        pic.uiWidthBytes = w * sample;
        pic.uiBpc = uint8_t(bits);
        pic.uiComp = 1;
        pic.uiSize = uint64_t(w) * sample * h;
        pic.pData = block.data() + guard;
    }
    GuardedPicture(const GuardedPicture&) = delete;
    GuardedPicture& operator=(const GuardedPicture&) = delete;

    void ExpectPaintsLikeObjects(const std::vector<Obj>& objs)
    {
        Pic rle;
        SetObjects(&rle.p, w, h, objs);
        std::memset(block.data(), 0x5C, block.size());
        ASSERT_EQ(API::ConvertRLEToPicBuf(&pic, &rle.p), KZ_OK);
        const auto want = PaintByObjects(objs, w, h, bits, 0);
        for (size_t i = 0; i < guard; ++i) {
            ASSERT_EQ(block[i], 0x5C) << "before the buffer " << i;
            ASSERT_EQ(block[guard + pic.uiSize + i], 0x5C) << "after the buffer " << i;
        }
        for (uint32_t py = 0; py < h; ++py)
            for (uint32_t px = 0; px < w; ++px) {
                const uint8_t* at = pic.pData + size_t(py) * pic.uiWidthBytes + size_t(px) * sample;
                uint32_t got = 0;
                std::memcpy(&got, at, sample);
                ASSERT_EQ(got, want[size_t(py) * w + px]) << px << "," << py;
            }
    }
};

// Painting goes row by row over all objects at once (with wide masked stores where
// the processor has them); it must equal painting object after object, overlaps,
// clipping, skipped rows, damaged row order and unordered blocks included.
TEST(RlePaint, RowSweepEqualsObjectOrderOnEveryPath)
{
    std::mt19937 rng(77);
    auto randomObjects = [&](uint32_t w, bool ordered) {
        std::vector<Obj> objs;
        const int n = 1 + int(rng() % 12);
        int32_t top = 0;
        for (int i = 0; i < n; ++i) {
            top += int32_t(rng() % 4);
            Obj o{uint32_t(rng() % 3 == 0 ? 256 * (1 + rng() % 3) : 1 + rng() % 300), 0, top, 0, top, 0, {}};
            uint32_t y = uint32_t(top);
            const int rows = 1 + int(rng() % 10);
            for (int r = 0; r < rows; ++r) {
                Row row{y, {}};
                uint32_t x = rng() % 8;
                const int runs = 1 + int(rng() % 4);
                for (int k = 0; k < runs && x < w + 20; ++k) {
                    const uint32_t len = 1 + rng() % 70;
                    row.runs.push_back({x, len});
                    x += len + 1 + rng() % 9;
                }
                o.rows.push_back(row);
                y += 1 + (rng() % 5 == 0); // a skipped row now and then
            }
            o.b = int32_t(y);
            o.r = int32_t(w + 40);
            objs.push_back(o);
        }
        if (rng() % 4 == 0 && objs[0].rows.size() > 1) std::swap(objs[0].rows.front(), objs[0].rows.back());
        if (!ordered) std::shuffle(objs.begin(), objs.end(), rng);
        return objs;
    };
    kzt::ForEachIsa([&] {
        for (int i = 0; i < 120; ++i) {
            SCOPED_TRACE(i);
            const uint32_t w = 1 + rng() % 150, h = 1 + rng() % 40;
            const uint32_t bits = (i % 3 == 0) ? 8 : (i % 3 == 1) ? 12 : 16;
            const uint32_t value = (i % 5 == 0) ? 9 : 0;
            auto objs = randomObjects(w, i % 4 != 3);
            Pic rle;
            SetObjects(&rle.p, w, h, objs);
            SKzPicBuf pic;
            CKzPicBufAPI::Init(&pic);
            const unsigned stride = (i % 2) ? 0 : unsigned((w * (bits <= 8 ? 1 : 2) + 13) & ~1u);
            ASSERT_EQ(CKzPicBufAPI::Reinit(&pic, w, h, stride, bits, 1, false), KZ_OK);
            std::memset(pic.pData, 0xA5, pic.uiSize); // painting clears everything first
            ASSERT_EQ(API::ConvertRLEToPicBuf(&pic, &rle.p, value), KZ_OK);
            const auto want = PaintByObjects(objs, w, h, bits, value);
            for (uint32_t y = 0; y < h; ++y) {
                const uint8_t* row = pic.pData + size_t(y) * pic.uiWidthBytes;
                for (uint32_t x = 0; x < w; ++x) {
                    uint32_t got = bits <= 8 ? row[x] : uint32_t(reinterpret_cast<const uint16_t*>(row)[x]);
                    ASSERT_EQ(got, want[size_t(y) * w + x]) << x << "," << y;
                }
                const size_t used = size_t(w) * (bits <= 8 ? 1 : 2);
                const size_t rowEnd = std::min<size_t>(pic.uiWidthBytes, pic.uiSize - size_t(y) * pic.uiWidthBytes);
                for (size_t b = used; b < rowEnd; ++b) ASSERT_EQ(row[b], 0) << "padding " << y;
            }
            CKzPicBufAPI::Free(&pic);
        }
    });
}

// Every run length up to past two wide stores, at every offset within a store, with
// neighbours of other objects touching it on both sides (painted before and after
// it), in a middle row and in the last row of a tight buffer, and clipped at the row
// end. Guard bytes around the buffer catch a store running past it.
TEST(RlePaint, RunLengthsAlignmentsAndNeighboursOnEveryPath)
{
    constexpr uint32_t w = 200, h = 3;
    constexpr size_t guard = 192;
    struct Case {
        uint32_t bits;
        uint32_t y;
        bool neighboursFirst;
    } cases[] = {
        {8, 1, false}, {8, 2, true}, {16, 1, true}, {16, 2, false},
    };
    kzt::ForEachIsa([&] {
        for (const Case& c : cases) {
            GuardedPicture g(w, h, c.bits, guard);
            for (uint32_t len = 1; len <= 130; ++len) {
                std::vector<uint32_t> starts;
                for (uint32_t x = 0; x < 64; ++x) starts.push_back(x);
                starts.push_back(w - std::min(len, w)); // ends at the row end
                starts.push_back(w - 5);                 // clipped at the row end
                for (uint32_t x : starts) {
                    SCOPED_TRACE(::testing::Message() << "bits " << c.bits << " row " << c.y << " len " << len
                                                      << " x " << x << (c.neighboursFirst ? " after" : " before"));
                    const uint32_t y = c.y;
                    Obj run{5, int32_t(x), int32_t(y), int32_t(x + len - 1), int32_t(y), 0, {{y, {{x, len}}}}};
                    Obj sides{9, 0, int32_t(y), int32_t(w - 1), int32_t(y), 0, {{y, {}}}};
                    if (x >= 3) sides.rows[0].runs.push_back({x - 3, 3});
                    if (x + len < w) sides.rows[0].runs.push_back({x + len, 3});
                    if (sides.rows[0].runs.empty()) sides.rows[0].runs.push_back({0, 0});
                    const std::vector<Obj> objs = c.neighboursFirst ? std::vector<Obj>{sides, run}
                                                                    : std::vector<Obj>{run, sides};
                    g.ExpectPaintsLikeObjects(objs);
                    if (::testing::Test::HasFatalFailure()) return;
                }
            }
        }
    });
}

// Rows holding many runs in one record, as a large object gives: runs at and
// around 64-sample boundaries, touching runs, long runs, runs clipped at or lying
// past the row end, and damaged records (unsorted, overlapping, empty runs), for
// byte, word and double-word samples. An object painted before covers the row so
// a store reaching into a gap shows; one painted after overlaps part of it.
TEST(RlePaint, ManyRunsInOneRowOnEveryPath)
{
    constexpr uint32_t w = 300, h = 3;
    constexpr size_t guard = 320;
    auto spaced = [](uint32_t first, uint32_t len, uint32_t gap, uint32_t n) {
        std::vector<rletest::Run> runs;
        for (uint32_t k = 0; k < n; ++k) runs.push_back({first + k * (len + gap), len});
        return runs;
    };
    struct Layout {
        const char* name;
        std::vector<rletest::Run> runs;
    };
    std::vector<Layout> layouts = {
        {"forty short runs", spaced(1, 3, 2, 40)},
        {"single samples with single gaps to the row end", spaced(0, 1, 1, 150)},
        {"runs ending at 63, 64, 65", {{60, 3}, {62, 2}, {63, 2}, {66, 1}, {70, 58}, {129, 1}, {191, 1}, {193, 1}}},
        {"runs starting at 63, 64, 65",
         {{0, 1}, {63, 1}, {65, 1}, {127, 1}, {128, 1}, {130, 2}, {191, 2}, {256, 1}, {258, 1}}},
        {"touching runs", spaced(10, 7, 0, 12)},
        {"long runs", {{0, 1}, {2, 64}, {67, 65}, {133, 129}, {263, 1}, {265, 1}, {267, 1}, {269, 2}, {272, 28}}},
        {"clipped at the row end", {{0, 2}, {3, 2}, {6, 2}, {9, 2}, {12, 2}, {15, 2}, {18, 2}, {21, 2}, {290, 40}}},
        {"past the row end", {{0, 2}, {3, 2}, {6, 2}, {9, 2}, {12, 2}, {15, 2}, {18, 2}, {300, 5}, {400, 9}, {25, 4}}},
        {"unsorted", {{200, 5}, {150, 5}, {100, 5}, {50, 5}, {0, 5}, {250, 5}, {20, 5}, {70, 5}, {120, 5}}},
        {"overlapping", {{0, 10}, {5, 10}, {3, 1}, {14, 70}, {40, 2}, {80, 60}, {100, 10}, {139, 2}, {141, 1}}},
        {"empty runs among others", {{0, 0}, {2, 3}, {5, 0}, {8, 1}, {64, 0}, {64, 2}, {66, 0}, {70, 1}, {299, 1}}},
    };
    kzt::ForEachIsa([&] {
        for (const uint32_t bits : {8u, 16u, 32u})
            for (const uint32_t y : {1u, 2u})
                for (const Layout& l : layouts) {
                    SCOPED_TRACE(::testing::Message() << l.name << ", bits " << bits << ", row " << y);
                    GuardedPicture g(w, h, bits, guard);
                    const Obj under{7, 0, int32_t(y), int32_t(w - 1), int32_t(y), 0, {{y, {{0, w}}}}};
                    const Obj many{0x1234, 0, int32_t(y), int32_t(w - 1), int32_t(y), 0, {{y, l.runs}}};
                    const Obj over{9, 0, int32_t(y), int32_t(w - 1), int32_t(y), 0, {{y, {{61, 6}, {250, 3}}}}};
                    const std::vector<Obj> objs{under, many, over};
                    g.ExpectPaintsLikeObjects(objs);
                    if (::testing::Test::HasFatalFailure()) return;
                }
    });
}
