// More dispatch cells: depth changes between every pair of {8, 12, 16, 20,
// 24} bits, histogram counting, and value mapping / extraction through LUTs,
// each against a scalar computation or the code the cell must give.
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/internal/KzPicKernelFamilies.h"
#include "picmem_test_support.h"

#include <string>
#include <vector>

namespace {

using pict::Pic;

constexpr unsigned kBits[] = {8, 12, 16, 20, 24};
constexpr unsigned kComps[] = {1, 3, 4, 5};
constexpr unsigned kW = 23, kH = 4;

bool Int16(unsigned b) { return b == 8 || (b >= 9 && b <= 16); }

TEST(PicMemCells, DepthByShiftsAndContainerChange)
{
    if (!kKzPicHaveDepth)
        GTEST_SKIP() << "depth kernels not built yet";
    for (unsigned sb : kBits)
        for (unsigned db : kBits)
            for (unsigned comps : kComps) {
                SCOPED_TRACE(std::to_string(sb) + "->" + std::to_string(db) + " bits, " + std::to_string(comps));
                Pic src(kW, kH, comps, sb, sb + comps), dst(kW, kH, comps, db, 50 + db), want = dst;
                // Shifts: equal depths copy; 8 and 9..16 in either direction.
                int code = 0;
                if (sb != db && !(Int16(sb) && Int16(db)))
                    code = -2;
                if (code == 0)
                    for (unsigned r = 0; r < kH; ++r)
                        for (unsigned i = 0; i < kW * comps; ++i) {
                            const uint64_t v = src.get(r, i);
                            want.put(r, i, db >= sb ? v << (db - sb) : v >> (sb - db));
                        }
                EXPECT_EQ(CKzPicMemAPI::ConvertBitDepthViaShifts(dst.data(), db, dst.stride, src.data(), sb, src.stride,
                                                                 comps, kW, kW * kH),
                          code);
                EXPECT_TRUE(pict::SameBytes(dst, want));
                // Container change: the value moves unscaled, cut to the
                // destination container.
                Pic dst2(kW, kH, comps, db, 90 + db), want2 = dst2;
                for (unsigned r = 0; r < kH; ++r)
                    for (unsigned i = 0; i < kW * comps; ++i)
                        want2.put(r, i, src.get(r, i));  // put keeps the container's low bytes
                EXPECT_EQ(CKzPicMemAPI::ChangeBitDepth(dst2.data(), db, dst2.stride, src.data(), sb, src.stride, comps,
                                                       kW, kW * kH),
                          0);
                EXPECT_TRUE(pict::SameBytes(dst2, want2));
            }
}

TEST(PicMemCells, HistogramCounting)
{
    if (!kKzPicHaveHisto)
        GTEST_SKIP() << "histogram kernels not built yet";
    for (unsigned bits : kBits)
        for (unsigned comps : kComps) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(comps) + " comps");
            Pic src(kW, kH, comps, bits, bits * 3 + comps);
            const size_t bins = size_t(1) << (bits > 16 ? 16 : bits);
            std::vector<std::vector<uint32_t>> h(comps, std::vector<uint32_t>(bins, 0)), want = h;
            std::vector<void*> rows(comps);
            for (unsigned k = 0; k < comps; ++k)
                rows[k] = h[k].data();
            const int code = Int16(bits) ? 0 : -2;
            if (code == 0)
                for (unsigned r = 0; r < kH; ++r)
                    for (unsigned i = 0; i < kW * comps; ++i)
                        ++want[i % comps][src.get(r, i)];
            EXPECT_EQ(CKzPicMemAPI::GetHistogram(rows.data(), 4, src.data(), src.stride, comps, bits, kW, kW * kH), code);
            EXPECT_EQ(h, want);
            // With the intensity: one component counts there; several count
            // the integer mean of the pixel there too.
            std::vector<uint32_t> inten(bins, 0), wantInten(bins, 0);
            for (auto& v : h)
                std::fill(v.begin(), v.end(), 0);
            if (code == 0)
                for (unsigned r = 0; r < kH; ++r)
                    for (unsigned x = 0; x < kW; ++x) {
                        uint64_t s = 0;
                        for (unsigned k = 0; k < comps; ++k)
                            s += src.get(r, x * comps + k);
                        ++wantInten[s / comps];
                    }
            EXPECT_EQ(CKzPicMemAPI::GetHistogramEx(rows.data(), inten.data(), 4, src.data(), src.stride, comps, bits, 1,
                                                   1, kW, kW * kH),
                      code);
            EXPECT_EQ(inten, wantInten);
            if (code == 0 && comps > 1)
                EXPECT_EQ(h, want);
        }
}

// One-component values through a LUT into 1, 3, 4 or 5 components, and one
// component of a picture through a LUT into 8-bit pictures.
TEST(PicMemCells, MappingAndExtractionThroughLuts)
{
    if (!kKzPicHaveLutMap)
        GTEST_SKIP() << "LUT mapping kernels not built yet";
    for (unsigned bits : kBits)
        for (unsigned comps : kComps) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(comps) + " comps");
            const u8 lb = u8(bits > 16 ? 16 : bits);
            Pic src(kW, kH, 1, bits, bits + comps * 5);
            // Map: destination of the same depth, entry k of row v.
            SKzLut lut;
            ASSERT_EQ(SKzLut::Alloc(lut, lb, 1, lb, u8(comps)), 0);
            const size_t sb = (lb + 7) / 8, e = comps * sb, n = size_t(1) << lb;
            uint8_t* block = comps == 1 ? static_cast<uint8_t*>(lut.pLut) : static_cast<uint8_t**>(lut.pLut)[0];
            for (size_t i = 0; i < n * e; ++i)
                block[i] = uint8_t(i * 37 + 11);
            lut.uiInBpc = lut.uiOutBpc = u8(bits);
            Pic dst(kW, kH, comps, bits, 7), want = dst;
            const int code = Int16(bits) ? 0 : -2;
            if (code == 0)
                for (unsigned r = 0; r < kH; ++r)
                    for (unsigned x = 0; x < kW; ++x)
                        for (unsigned k = 0; k < comps; ++k) {
                            uint64_t v = 0;
                            std::memcpy(&v, block + src.get(r, x) * e + k * sb, sb);
                            want.put(r, x * comps + k, v);
                        }
            EXPECT_EQ(CKzPicMemAPI::MapValueToComponents(dst.data(), comps, bits, dst.stride, src.data(), bits,
                                                         src.stride, &lut, kW, kW * kH),
                      code);
            EXPECT_TRUE(pict::SameBytes(dst, want));
            lut.uiInBpc = lut.uiOutBpc = lb;
            SKzLut::Free(lut);

            // Extract: the last component of a `comps`-component picture
            // through a flat table into a one-component 8-bit picture.
            Pic multi(kW, kH, comps, bits, 3 * bits + comps), one(kW, kH, 1, 8, 5), wantOne = one;
            SKzLut flat;
            ASSERT_EQ(SKzLut::AllocSingle(flat, lb, 8), 0);
            for (size_t v = 0; v < n; ++v)
                static_cast<uint8_t*>(flat.pLut)[v] = uint8_t(v * 13 + 1);
            flat.uiInBpc = u8(bits);
            if (code == 0)
                for (unsigned r = 0; r < kH; ++r)
                    for (unsigned x = 0; x < kW; ++x)
                        wantOne.put(r, x, uint8_t(multi.get(r, x * comps + comps - 1) * 13 + 1));
            EXPECT_EQ(CKzPicMemAPI::ExtractComponentViaLuts(one.data(), 1, 8, one.stride, multi.data(), comps, bits,
                                                            multi.stride, comps - 1, &flat, kW, kW * kH),
                      code);
            EXPECT_TRUE(pict::SameBytes(one, wantOne));
            flat.uiInBpc = lb;
            SKzLut::Free(flat);
        }
}

// Composition of 12-bit samples holding 0xFFFF never reads past the tables.
TEST(PicMemCells, HostileSamplesThroughComposition)
{
    for (unsigned comps : {1u, 3u, 7u}) {
        Pic src(17, 3, comps, 12, 1), dst(17, 3, 3, 8, 2);
        for (auto& b : src.bytes)
            b = 0xFF;
        SKzLut lut;
        ASSERT_EQ(SKzLut::Alloc(lut, 12, u8(comps), 8, 3), 0);
        EXPECT_EQ(CKzPicMemAPI::MapComponentsMToN(dst.data(), 3, 8, dst.stride, src.data(), comps, 12, src.stride, &lut,
                                                  17, 51),
                  kKzPicHaveCompose ? 0 : -2);
        lut.pUnderExpColor = static_cast<SKzLutExpColor*>(std::calloc(1, SKzLut::kExpColorBytes));
        EXPECT_EQ(CKzPicMemAPI::MapComponentsMToN(dst.data(), 3, 8, dst.stride, src.data(), comps, 12, src.stride, &lut,
                                                  17, 51),
                  kKzPicHaveCompose ? 0 : -2);
        SKzLut::Free(lut);
    }
}

} // namespace
