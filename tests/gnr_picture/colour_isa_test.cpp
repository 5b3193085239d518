// The Y-Cr-Cb conversion gives the same pixels on every instruction set:
// every 8-bit colour, and random 16-bit pictures of many widths (vector
// tails), converted apart and in place.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/KzKernelCommon.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Pic {
    SKzPicBuf p;
    Pic(unsigned w, unsigned h, unsigned bits)
    {
        CKzPicBufAPI::Init(&p);
        EXPECT_EQ(CKzPicBufAPI::Reinit(&p, w, h, 0, bits, 3, false), 0);
    }
    ~Pic() { CKzPicBufAPI::Free(&p); }
    std::vector<uint8_t> Bytes() const { return std::vector<uint8_t>(p.pData, p.pData + p.uiSize); }
};

struct IsaRestore {
    ~IsaRestore() { KzIsaLimit().store(int(KzIsa::Avx512)); }
};

using ConvFn = kz_result (*)(SKzPicBuf*, SKzPicBuf*);

// Converts `src` at the given instruction set, apart and in place; both
// results must be equal, and are returned.
std::vector<uint8_t> Convert(ConvFn fn, const Pic& src, KzIsa isa)
{
    KzIsaLimit().store(int(isa));
    Pic a(src.p.uiWidth, src.p.uiHeight, src.p.uiBpc), b(src.p.uiWidth, src.p.uiHeight, src.p.uiBpc);
    std::memcpy(b.p.pData, src.p.pData, src.p.uiSize);
    // Padding bytes of the destination hold a mark that must survive.
    std::memset(a.p.pData, 0xA5, a.p.uiSize);
    EXPECT_EQ(fn(&a.p, const_cast<SKzPicBuf*>(&src.p)), 0);
    EXPECT_EQ(fn(&b.p, &b.p), 0);
    const size_t used = size_t(src.p.uiWidth) * 3 * (src.p.uiBpc <= 8 ? 1 : 2);
    for (unsigned r = 0; r < src.p.uiHeight; ++r) {
        const uint8_t* ra = a.p.pData + size_t(r) * a.p.uiWidthBytes;
        const uint8_t* rb = b.p.pData + size_t(r) * b.p.uiWidthBytes;
        EXPECT_EQ(std::memcmp(ra, rb, used), 0) << "row " << r << ": in place differs";
        for (size_t k = used; k < a.p.uiWidthBytes; ++k)
            EXPECT_EQ(ra[k], 0xA5) << "padding of row " << r;
    }
    std::vector<uint8_t> out;
    for (unsigned r = 0; r < src.p.uiHeight; ++r)
        out.insert(out.end(), a.p.pData + size_t(r) * a.p.uiWidthBytes, a.p.pData + size_t(r) * a.p.uiWidthBytes + used);
    return out;
}

// Every 8-bit blue-green-red triple, as 4096 rows of 4096 pixels.
TEST(ColourIsa, YCrCbEveryEightBitColourMatchesTheScalarPath)
{
    IsaRestore restore;
    Pic src(4096, 4096, 8);
    for (unsigned r = 0; r < 4096; ++r) {
        uint8_t* row = src.p.pData + size_t(r) * src.p.uiWidthBytes;
        for (unsigned x = 0; x < 4096; ++x) {
            const unsigned v = r * 4096 + x;
            row[3 * x] = uint8_t(v);
            row[3 * x + 1] = uint8_t(v >> 8);
            row[3 * x + 2] = uint8_t(v >> 16);
        }
    }
    const std::vector<uint8_t> base = Convert(CKzPicBufAPI::ConvertRGBtoYCrCb, src, KzIsa::Base);
    for (KzIsa isa : {KzIsa::Avx2, KzIsa::Avx512}) {
        const std::vector<uint8_t> got = Convert(CKzPicBufAPI::ConvertRGBtoYCrCb, src, isa);
        ASSERT_EQ(got.size(), base.size());
        size_t bad = 0;
        for (size_t i = 0; i < got.size() && bad < 10; ++i)
            if (got[i] != base[i]) {
                ++bad;
                ADD_FAILURE() << "instruction set " << int(isa) << ", pixel " << i / 3 << " component " << i % 3
                              << ": got " << int(got[i]) << ", want " << int(base[i]);
            }
    }
}

// Random pictures of widths around the vector steps, 8 to 16 bits (the
// source's depth; 12 bits goes through the 16-bit working depth), with
// extreme samples mixed in.
TEST(ColourIsa, YCrCbRandomPicturesMatchTheScalarPath)
{
    IsaRestore restore;
    std::mt19937 rng(2718);
    const unsigned widths[] = {1, 2, 5, 7, 8, 9, 15, 16, 17, 23, 31, 33, 47, 64, 100, 257};
    for (unsigned bits : {8u, 12u, 16u})
        for (unsigned w : widths) {
            SCOPED_TRACE(std::to_string(bits) + " bits, width " + std::to_string(w));
            Pic src(w, 5, bits);
            const unsigned top = (1u << bits) - 1;
            for (unsigned r = 0; r < 5; ++r)
                for (unsigned k = 0; k < w * 3; ++k) {
                    const unsigned pick = rng() % 8;
                    const unsigned v = pick == 0 ? 0 : pick == 1 ? top : rng() & top;
                    if (bits <= 8)
                        src.p.pData[size_t(r) * src.p.uiWidthBytes + k] = uint8_t(v);
                    else
                        reinterpret_cast<uint16_t*>(src.p.pData + size_t(r) * src.p.uiWidthBytes)[k] = uint16_t(v);
                }
            const std::vector<uint8_t> base = Convert(CKzPicBufAPI::ConvertRGBtoYCrCb, src, KzIsa::Base);
            for (KzIsa isa : {KzIsa::Avx2, KzIsa::Avx512})
                EXPECT_EQ(Convert(CKzPicBufAPI::ConvertRGBtoYCrCb, src, isa), base) << "instruction set " << int(isa);
        }
}

// Every 16-bit value in every channel, next to partners that sweep the range
// in other orders, so the AVX-512 row path (exact conversions through 2^52,
// truncation by a rounding-toward-zero add) meets every sample it can see.
TEST(ColourIsa, YCrCb16EverySampleValueMatchesTheScalarPath)
{
    IsaRestore restore;
    const unsigned w = 65536 + 5;  // a partial step at the end of each row
    Pic src(w, 3, 16);
    for (unsigned row = 0; row < 3; ++row) {
        uint16_t* p = reinterpret_cast<uint16_t*>(src.p.pData + size_t(row) * src.p.uiWidthBytes);
        for (unsigned i = 0; i < w; ++i) {
            p[3 * i + row] = uint16_t(i);
            p[3 * i + (row + 1) % 3] = uint16_t(i * 40503u);
            p[3 * i + (row + 2) % 3] = uint16_t(~i);
        }
    }
    const std::vector<uint8_t> base = Convert(CKzPicBufAPI::ConvertRGBtoYCrCb, src, KzIsa::Base);
    EXPECT_EQ(Convert(CKzPicBufAPI::ConvertRGBtoYCrCb, src, KzIsa::Avx512), base);
}

} // namespace
