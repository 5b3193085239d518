// The 3 x 3 float median bit for bit against a plain selection over the
// in-picture window in the order of compareh with -0 below +0 and every NaN
// on top (a NaN median is the quiet NaN 0x7FFFFFFF): every instruction set,
// widths around the vector width, one and two components, apart and in place.
#include "floatpic_support.h"

#include "gnr_picture/KzKernelCommon.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace floatpic_test;
using F = CKzFloatPicBufAPI;

namespace {

struct IsaRestore {
    ~IsaRestore() { KzIsaLimit().store(int(KzIsa::Avx512)); }
};

uint32_t Bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

float FromBits(uint32_t b)
{
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

// Ascending key of the total order the median works in.
uint32_t Key(float f)
{
    if (f != f)
        return 0xFFFFFFFFu;
    const uint32_t b = Bits(f);
    return (b & 0x80000000u) ? ~b : (b | 0x80000000u);
}

uint32_t Expected(FPic& src, unsigned x, unsigned y, unsigned k)
{
    std::vector<std::pair<uint32_t, float>> win;
    for (int m = std::max(0, int(y) - 1); m <= std::min(int(src->uiHeight) - 1, int(y) + 1); ++m)
        for (int j = std::max(0, int(x) - 1); j <= std::min(int(src->uiWidth) - 1, int(x) + 1); ++j) {
            const float v = src.at(unsigned(j), unsigned(m), k);
            win.push_back({Key(v), v});
        }
    std::sort(win.begin(), win.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const float med = win[win.size() / 2].second;
    return med != med ? 0x7FFFFFFFu : Bits(med);
}

TEST(FloatPicMedian, ThreeByThreeMatchesTheSelectionBitForBit)
{
    IsaRestore restore;
    // Special values weighted in: both zeros, infinities, NaNs of either sign
    // and other payloads, the invalid marker, denormals, ties.
    const uint32_t specials[] = {0x00000000u, 0x80000000u, 0x7F800000u, 0xFF800000u, 0x7FC00000u, 0xFFC00001u,
                                 0x7F800001u, 0xFF7FFFFFu, 0x00000001u, 0x80000001u, 0x3F800000u, 0xBF800000u};
    const struct {
        unsigned w, h, comps;
    } shapes[] = {{3, 3, 1},  {4, 3, 1},  {3, 7, 1},  {15, 4, 1}, {16, 5, 1},  {17, 6, 1},
                  {31, 9, 1}, {32, 8, 1}, {33, 3, 1}, {47, 10, 1}, {64, 4, 1}, {50, 7, 2}};
    uint32_t seed = 99;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (const auto& s : shapes)
        for (int mix = 0; mix < 2; ++mix) {
            FPic src(s.w, s.h, s.comps);
            for (unsigned y = 0; y < s.h; ++y)
                for (unsigned x = 0; x < s.w; ++x)
                    for (unsigned k = 0; k < s.comps; ++k) {
                        const uint32_t r = next();
                        // mix 0: small integers (many ties); mix 1: a third specials.
                        src.at(x, y, k) = mix == 0 ? float(int(r >> 28) - 8)
                                          : (r >> 8) % 3 == 0 ? FromBits(specials[(r >> 12) % 12])
                                                              : FromBits(next());
                    }
            for (KzIsa isa : {KzIsa::Base, KzIsa::Avx2, KzIsa::Avx512}) {
                SCOPED_TRACE(testing::Message() << s.w << " x " << s.h << " x " << s.comps << " mix " << mix
                                                << " isa " << int(isa));
                KzIsaLimit().store(int(isa));
                FPic out(s.w, s.h, s.comps), same(s.w, s.h, s.comps);
                std::memcpy(same->pData, src->pData, size_t(s.w) * s.h * s.comps * 4);
                ASSERT_EQ(F::MedianFilter(out.get(), src.get(), 3), 0);
                ASSERT_EQ(F::MedianFilter(same.get(), same.get(), 3), 0);
                for (unsigned y = 0; y < s.h; ++y)
                    for (unsigned x = 0; x < s.w; ++x)
                        for (unsigned k = 0; k < s.comps; ++k) {
                            const uint32_t e = Expected(src, x, y, k);
                            ASSERT_EQ(Bits(out.at(x, y, k)), e) << "at " << x << "," << y << "," << k;
                            ASSERT_EQ(Bits(same.at(x, y, k)), e) << "in place at " << x << "," << y << "," << k;
                        }
            }
        }
}

// A frame large enough for streaming stores (8 MiB and more) gives the same
// samples as the selection, in place as well.
TEST(FloatPicMedian, LargeFrameMatchesTheSelection)
{
    const unsigned w = 1037, h = 2050;
    FPic src(w, h, 1), out(w, h, 1), same(w, h, 1);
    uint32_t seed = 5;
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            src.at(x, y) = (seed >> 24) == 7 ? -0.0f : float(int(seed >> 20) - 2048) * 0.25f;
        }
    std::memcpy(same->pData, src->pData, size_t(w) * h * 4);
    ASSERT_EQ(F::MedianFilter(out.get(), src.get(), 3), 0);
    ASSERT_EQ(F::MedianFilter(same.get(), same.get(), 3), 0);
    for (unsigned y = 0; y < h; y += (y < 3 || y + 4 > h) ? 1 : 7)
        for (unsigned x = 0; x < w; ++x) {
            const uint32_t e = Expected(src, x, y, 0);
            ASSERT_EQ(Bits(out.at(x, y)), e) << "at " << x << "," << y;
            ASSERT_EQ(Bits(same.at(x, y)), e) << "in place at " << x << "," << y;
        }
}

} // namespace
