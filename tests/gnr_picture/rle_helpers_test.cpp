#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "rle_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iterator>

#include <vector>

using namespace rletest;
using API = CKzRLEPicBufAPI;

TEST(RleHelpers, WholeBitPictureAsOneObject)
{
    struct Case {
        const char* name;
        std::vector<std::pair<unsigned, unsigned>> pixels; // (x, y)
        std::vector<uint8_t> want;
    };
    const Obj empty{0, 2147483647, 2147483647, -2147483647 - 1, -2147483647 - 1, 0, {}};
    const Case cases[] = {
        {"rows 2 and 5 only", {{3, 2}, {4, 2}, {7, 2}, {1, 5}},
         Record({0, 1, 2, 7, 5, 0, {{2, {{3, 2}, {7, 1}}}, {5, {{1, 1}}}}})},
        {"no pixels", {}, Record(empty)},
        {"last column", {{9, 0}}, Record({0, 9, 0, 9, 0, 0, {{0, {{9, 1}}}}})},
    };
    SKzRLEObject* obj = nullptr;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes(2 * 7, 0);
        SKzBinPicBuf bin{10, 7, 2, unsigned(bytes.size()), bytes.data()};
        for (auto [x, y] : c.pixels) bytes[y * 2 + x / 8] |= uint8_t(0x80 >> (x % 8));
        ASSERT_EQ(API::ConvertBinPicBufToRLEObject(&obj, &bin), KZ_OK); // reuses the block
        const uint8_t* p = reinterpret_cast<const uint8_t*>(obj);
        EXPECT_EQ(std::vector<uint8_t>(p, p + c.want.size()), c.want);
        EXPECT_EQ(+obj->uiSize, c.want.size());
    }
    CKzAlloc::Free(obj);
    SKzBinPicBuf bad{64, 4, 2, 8, nullptr};
    std::vector<uint8_t> few(8);
    bad.pData = few.data();
    EXPECT_EQ(API::ConvertBinPicBufToRLEObject(&obj, &bad), KZ_ERR_FAILED); // stride too small
    EXPECT_EQ(API::ConvertBinPicBufToRLEObject(nullptr, &bad), KZ_ERR_FAILED);
}

TEST(RleHelpers, RunByRunObjects)
{
    SKzPicBuf img;
    CKzPicBufAPI::Init(&img);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&img, 3, 2, 0, 8, 1, true), KZ_OK);
    const uint8_t r0[] = {5, 5, 5}, r1[] = {5, 5, 7};
    std::memcpy(img.pData, r0, 3);
    std::memcpy(img.pData + img.uiWidthBytes, r1, 3);
    EXPECT_EQ(find_RLE_FromPainted(&img, 0, 0), 3);
    EXPECT_EQ(find_RLE_FromPainted(&img, 0, 2), 1);
    EXPECT_EQ(find_RLE_FromPainted(&img, 1, 0), 2);
    EXPECT_EQ(find_RLE_FromPainted(&img, 2, 0), 0);
    EXPECT_EQ(find_RLE_FromPainted(&img, 0, 3), 0);
    CKzPicBufAPI::Free(&img);

    for (unsigned custom : {0u, 6u}) {
        SCOPED_TRACE(custom);
        SKzRLEObject* objects[4] = {};
        unsigned caps[4] = {};
        ASSERT_EQ(add_RLE_item_FromPainted(objects, caps, 3, 0, 1, 2, custom), KZ_OK);
        ASSERT_EQ(add_RLE_item_FromPainted(objects, caps, 3, 0, 5, 1, custom), KZ_OK);
        ASSERT_EQ(add_RLE_item_FromPainted(objects, caps, 3, 1, 0, 4, custom), KZ_OK);
        ASSERT_NE(objects[3], nullptr);
        EXPECT_EQ(objects[0], nullptr);
        const auto want = Record({3, 0, 0, 0, 0, 0, {{0, {{1, 2}, {5, 1}}}, {1, {{0, 4}}}}}, custom);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(objects[3]);
        EXPECT_EQ(std::vector<uint8_t>(p, p + want.size()), want);
        EXPECT_EQ(+objects[3]->uiSize, 36u + 16 + 8 + 16 + custom);
        // Many runs grow the block past its first 4096 bytes.
        for (unsigned i = 0; i < 1000; ++i)
            ASSERT_EQ(add_RLE_item_FromPainted(objects, caps, 3, 2 + i, 0, 1, custom), KZ_OK);
        EXPECT_EQ(+objects[3]->uiRowCount, 1002u);
        EXPECT_GE(caps[3], objects[3]->uiSize);
        CKzAlloc::Free(objects[3]);
    }
}

TEST(RleHelpers, RunOrderingsForQsort)
{
    const SKzRLERun runs[] = {{2, 1, 5, 1}, {1, 3, 0, 1}, {1, 1, 7, 1}, {2, 0x80000000u, 1, 1}, {1, 1, 2, 1}};
    struct Case {
        const char* name;
        int (*cmp)(const void*, const void*);
        std::vector<uint32_t> order; // indexes into runs
    } cases[] = {
        {"label, y, x", compfunc_Object_YX, {4, 2, 1, 0, 3}},
        {"y, x", compfunc_YX, {4, 0, 2, 1, 3}},
        {"rectangle cut: y, x", compfunc_RLE_YX, {4, 0, 2, 1, 3}},
        {"y, x signed", compfunc_YX_signed, {3, 4, 0, 2, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SKzRLERun> v(std::begin(runs), std::end(runs));
        std::qsort(v.data(), v.size(), sizeof(SKzRLERun), c.cmp);
        for (size_t i = 0; i < v.size(); ++i) {
            const SKzRLERun& want = runs[c.order[i]];
            EXPECT_EQ(std::memcmp(&v[i], &want, sizeof want), 0) << i;
        }
        EXPECT_NE(c.cmp(&runs[0], &runs[0]), 0); // never "equal"
    }
    unsigned rel[][2] = {{3, 9}, {4, 2}, {7, 1}};
    std::qsort(rel, 3, sizeof rel[0], compare_relations);
    EXPECT_EQ(rel[0][0], 4u);
    EXPECT_EQ(rel[1][0], 7u);
    EXPECT_EQ(rel[2][1], 9u);
}
