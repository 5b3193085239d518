// The integer box mean bit for bit against the exact truncated mean of the
// in-picture window (from summed-area tables): window sizes that take every
// way of summing (16-bit, 32-bit and double sums; few and many horizontal
// terms; single- and double-precision quotients), both depths, every
// instruction set, apart and in place, odd strides.
#include "floatpic_support.h"

#include "gnr_picture/KzIntFilters.h"
#include "gnr_picture/KzKernelCommon.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace floatpic_test;

namespace {

struct IsaRestore {
    ~IsaRestore() { KzIsaLimit().store(int(KzIsa::Avx512)); }
};

template <class T>
std::vector<T> Expected(IPic& src, unsigned w, unsigned h, int size)
{
    std::vector<uint64_t> sat(size_t(w + 1) * (h + 1), 0);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            sat[size_t(y + 1) * (w + 1) + x + 1] = src.at<T>(x, y) + sat[size_t(y) * (w + 1) + x + 1] +
                                                   sat[size_t(y + 1) * (w + 1) + x] - sat[size_t(y) * (w + 1) + x];
    std::vector<T> out(size_t(w) * h);
    const int back = size / 2;
    for (int y = 0; y < int(h); ++y)
        for (int x = 0; x < int(w); ++x) {
            const int y0 = std::max(0, y - back), y1 = std::min(int(h), y - back + size);
            const int x0 = std::max(0, x - back), x1 = std::min(int(w), x - back + size);
            const uint64_t sum = sat[size_t(y1) * (w + 1) + x1] - sat[size_t(y0) * (w + 1) + x1] -
                                 sat[size_t(y1) * (w + 1) + x0] + sat[size_t(y0) * (w + 1) + x0];
            out[size_t(y) * w + x] = T(sum / uint64_t((y1 - y0) * (x1 - x0)));
        }
    return out;
}

template <class T>
void Check(unsigned w, unsigned h, int size, unsigned bits, uint32_t seed)
{
    IsaRestore restore;
    IPic src(w, h, bits, 1);
    const uint32_t top = (1u << bits) - 1;
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            // Runs of the largest value next to random samples: the largest
            // sums each width can reach.
            src.at<T>(x, y) = T((y % 5 == 1 || (seed >> 29) == 0) ? top : (seed >> 8) % (top + 1));
        }
    const std::vector<T> expect = Expected<T>(src, w, h, size);
    auto run = [&](SKzPicBuf* d, SKzPicBuf* s) {
        return sizeof(T) == 1 ? SmoothSquare_1x8(d, s, size) : SmoothSquare_1x16(d, s, size);
    };
    for (KzIsa isa : {KzIsa::Base, KzIsa::Avx2, KzIsa::Avx512}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h << " size " << size << " bits " << bits << " isa "
                                        << int(isa));
        KzIsaLimit().store(int(isa));
        IPic out(w, h, bits, 1), same(w, h, bits, 1);
        std::memcpy(same.p.pData, src.p.pData, src.p.uiSize);
        ASSERT_EQ(run(out.get(), src.get()), 0);
        ASSERT_EQ(run(same.get(), same.get()), 0);
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x) {
                ASSERT_EQ(out.at<T>(x, y), expect[size_t(y) * w + x]) << "at " << x << "," << y;
                ASSERT_EQ(same.at<T>(x, y), expect[size_t(y) * w + x]) << "in place at " << x << "," << y;
            }
    }
}

TEST(BoxMean, EveryWayOfSummingMatchesTheExactMean)
{
    const struct {
        unsigned w, h;
        int size;
        unsigned bits;
    } cases[] = {
        {37, 29, 2, 8},     // two taps
        {37, 29, 3, 8},     // one term a tap
        {40, 33, 15, 8},    // 16-bit sums, pairs and quads of neighbours
        {16, 16, 16, 8},    // window as large as the picture
        {45, 30, 17, 8},    // 32-bit sums (289 x 255 > 65535), float quotient
        {70, 50, 31, 8},    // 961 samples
        {130, 90, 65, 8},   // 4225 samples: double quotient
        {300, 7, 255, 8},   // eight terms of 128 and below
        {1100, 4, 1023, 8}, // more terms than one pass adds
        {9, 5, 40, 8},      // window wider than the picture
        {37, 29, 3, 12},
        {50, 40, 15, 16},
        {200, 190, 183, 16}, // double sums (33489 x 65535 > 2^31)
    };
    uint32_t seed = 17;
    for (const auto& c : cases) {
        if (c.bits <= 8)
            Check<uint8_t>(c.w, c.h, c.size, c.bits, seed++);
        else
            Check<uint16_t>(c.w, c.h, c.size, c.bits, seed++);
    }
}

// Rows with a stride beyond their samples: the padding stays untouched.
TEST(BoxMean, StridedRowsKeepTheirPadding)
{
    const unsigned w = 45, h = 20, stride = 64;
    SKzPicBuf s, d;
    CKzPicBufAPI::Init(&s);
    CKzPicBufAPI::Init(&d);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&s, w, h, stride, 8, 1, true), 0);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&d, w, h, stride, 8, 1, true), 0);
    std::memset(d.pData, 0xA5, d.uiSize);
    IPic tight(w, h, 8, 1);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            tight.at<uint8_t>(x, y) = s.pData[size_t(y) * stride + x] = uint8_t(x * 7 + y * 13);
    const std::vector<uint8_t> expect = Expected<uint8_t>(tight, w, h, 15);
    ASSERT_EQ(SmoothSquare_1x8(&d, &s, 15), 0);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x)
            ASSERT_EQ(d.pData[size_t(y) * stride + x], expect[size_t(y) * w + x]) << x << "," << y;
        for (unsigned x = w; x < stride; ++x)
            ASSERT_EQ(d.pData[size_t(y) * stride + x], 0xA5) << "padding " << x << "," << y;
    }
    CKzPicBufAPI::Free(&s);
    CKzPicBufAPI::Free(&d);
}

} // namespace
