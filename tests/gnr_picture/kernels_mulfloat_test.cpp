// mulconstandclip_1x16 on pictures large enough for its single-precision
// form: every factor and depth gives the double-precision half-up result
// (computed here independently), whichever form the kernel picks, on every
// instruction set; factors where single precision differs fall back.
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/KzKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

struct IsaRestore {
    ~IsaRestore() { KzIsaLimit().store(int(KzIsa::Avx512)); }
};

// Half up in double precision, limited to the depth (negative, NaN and
// products at or above 2^31 give 0).
uint16_t Want(uint16_t raw, double c, unsigned bits)
{
    const uint32_t limit = (1u << bits) - 1;
    const double x = double(raw & limit) * c + 0.5;
    if (!(x >= 1.0) || !(x < 2147483648.0))
        return 0;
    const double f = std::floor(x);
    return uint16_t(f > limit ? limit : f);
}

TEST(KzMulConstFloat, LargePicturesMatchDoubleRounding)
{
    IsaRestore restore;
    // Exact halves (1.5, 2.5, 0.5), decimal factors (1.37, 0.1), thirds,
    // factors a hair off a simple value (single precision cannot tell), the
    // identity, large gains that clip, and out-of-range ones.
    const double factors[] = {1.5, 2.5, 0.5, 1.37, 0.1, 1.0 / 3, 2.0 / 3, 1.0 + 1e-9, 1.5 - 1e-12, 1.0,
                              16.0, 255.0 / 4095, 65535.0 / 4095, 3.999999, 0.0, -1.0, 1e12};
    std::mt19937 rng(31);
    const uint32_t w = 2049, h = 40;  // 81960 samples: over 16 x 4096, under 16 x 65536
    std::vector<uint16_t> src(size_t(w) * h), dst(src.size() + 8);
    for (auto& v : src)
        v = uint16_t(rng());
    for (size_t i = 0; i < 4096 && i < src.size(); ++i)
        src[i] = uint16_t(i);  // every 12-bit value once
    for (KzIsa isa : {KzIsa::Base, KzIsa::Avx2, KzIsa::Avx512}) {
        KzIsaLimit().store(int(isa));
        for (unsigned bits : {8u, 10u, 12u, 16u})
            for (double c : factors) {
                SCOPED_TRACE("isa " + std::to_string(int(isa)) + " bits " + std::to_string(bits) + " factor " +
                             std::to_string(c));
                std::fill(dst.begin(), dst.end(), uint16_t(0xBEEF));
                ASSERT_EQ(mulconstandclip_1x16(dst.data(), w * 2, src.data(), w * 2, &c, 1, bits, w, w * h), 0);
                size_t bad = 0;
                for (size_t i = 0; i < src.size() && bad < 5; ++i)
                    if (dst[i] != Want(src[i], c, bits)) {
                        ++bad;
                        ADD_FAILURE() << "sample " << src[i] << ": got " << dst[i] << ", want "
                                      << Want(src[i], c, bits);
                    }
                for (size_t i = src.size(); i < dst.size(); ++i)
                    ASSERT_EQ(dst[i], 0xBEEF);
            }
    }
}

} // namespace
