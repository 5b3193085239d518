#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

struct LabComponent {
    int firstY, firstX, count, left, top, right, bottom;
};
struct LabCase {
    unsigned width, height, stride;
    const unsigned char* mask;
    const LabComponent* comps4;
    size_t n4;
    const LabComponent* comps8;
    size_t n8;
};

#include "labelling_reference.inc"

using API = CKzRLEPicBufAPI;

} // namespace

// Labels match an independent labeller: ids in raster order of the first pixel,
// each object's first pixel, pixel count and box.
TEST(RleLabel, MatchesReferenceComponents)
{
    for (const LabCase& c : kLabCases) {
        SKzPicBuf img;
        CKzPicBufAPI::Init(&img);
        ASSERT_EQ(CKzPicBufAPI::Reinit(&img, c.width, c.height, 0, 8, 1, true), KZ_OK);
        size_t set = 0;
        for (unsigned y = 0; y < c.height; ++y)
            for (unsigned x = 0; x < c.width; ++x)
                if (c.mask[y * c.stride + x / 8] & (0x80 >> (x % 8))) {
                    img.pData[size_t(y) * img.uiWidthBytes + x] = 1;
                    ++set;
                }
        for (unsigned conn : {4u, 8u}) {
            SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " connectivity " << conn);
            const LabComponent* want = conn == 4 ? c.comps4 : c.comps8;
            size_t n = conn == 4 ? c.n4 : c.n8;
            if (set == 0) n = 0; // the generated table keeps one dummy row for an empty mask
            SKzRLEPicBuf rle;
            API::Init(&rle, 0, true);
            ASSERT_EQ(API::ConvertPicBufToPaintedRLE(&rle, &img, conn), KZ_OK);
            ASSERT_EQ(+rle.uiObjectCount, n);
            for (size_t k = 0; k < n; ++k) {
                SKzRLEObject* o = API::FindObjectByIndex(&rle, unsigned(k));
                ASSERT_NE(o, nullptr);
                EXPECT_EQ(+o->uiId, k + 1);
                SKzRowSegment* first = API::GetNextRowSegment(o, nullptr);
                ASSERT_NE(first, nullptr);
                const SKzSegment* run0 = reinterpret_cast<const SKzSegment*>(first + 1);
                EXPECT_EQ(int(first->uiY), want[k].firstY) << k;
                EXPECT_EQ(int(run0->uiX), want[k].firstX) << k;
                int count = 0;
                for (SKzRowSegment* r = first; r; r = API::GetNextRowSegment(o, r)) {
                    const SKzSegment* runs = reinterpret_cast<const SKzSegment*>(r + 1);
                    for (unsigned j = 0; j < r->uiRunCount; ++j) count += int(runs[j].uiLength);
                }
                EXPECT_EQ(count, want[k].count) << k;
                EXPECT_EQ(+o->iLeft, want[k].left) << k;
                EXPECT_EQ(+o->iTop, want[k].top) << k;
                EXPECT_EQ(+o->iRight, want[k].right) << k;
                EXPECT_EQ(+o->iBottom, want[k].bottom) << k;
            }
            API::Free(&rle);
        }
        CKzPicBufAPI::Free(&img);
    }
}
