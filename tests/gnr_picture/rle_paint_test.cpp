#include "gnr_picture/CKzPicBufAPI.h"
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
