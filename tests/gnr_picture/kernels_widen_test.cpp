// Widening 8-bit samples into 16-bit containers over a gapless block: the
// vector path starts at a cache-line boundary of the destination, so every
// start offset and length around it must give the plain result, and write
// nothing outside the block, on every instruction set.
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/KzKernelsC.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct IsaRestore {
    ~IsaRestore() { KzIsaLimit().store(int(KzIsa::Avx512)); }
};

TEST(KzWiden, GaplessBlocksAtEveryDestinationOffset)
{
    IsaRestore restore;
    std::mt19937 rng(99);
    std::vector<uint8_t> src(700);
    for (auto& v : src)
        v = uint8_t(rng());
    // Room for 64 bytes of offset and a guard on both sides.
    alignas(64) static uint16_t buf[1024];
    const uint32_t widths[] = {1, 3, 17, 31, 32, 33, 40, 63, 64, 65, 100, 255, 333};
    for (KzIsa isa : {KzIsa::Base, KzIsa::Avx2, KzIsa::Avx512}) {
        KzIsaLimit().store(int(isa));
        for (uint32_t off = 0; off < 40; ++off)
            for (uint32_t w : widths)
                for (uint32_t rows : {1u, 2u}) {
                    SCOPED_TRACE("isa " + std::to_string(int(isa)) + " offset " + std::to_string(off) + " width " +
                                 std::to_string(w) + " rows " + std::to_string(rows));
                    std::fill(std::begin(buf), std::end(buf), uint16_t(0xBEEF));
                    uint16_t* d = buf + 8 + off;
                    ASSERT_EQ(changebitdepth_1xN_to_1x16(d, w * 2, src.data(), w, 8, w, w * rows), 0);
                    for (uint32_t i = 0; i < w * rows; ++i)
                        ASSERT_EQ(d[i], src[i]) << "sample " << i;
                    for (uint16_t* p = buf; p < d; ++p)
                        ASSERT_EQ(*p, 0xBEEF) << "before the block";
                    for (uint16_t* p = d + w * rows; p < std::end(buf); ++p)
                        ASSERT_EQ(*p, 0xBEEF) << "after the block";
                }
    }
}

} // namespace
