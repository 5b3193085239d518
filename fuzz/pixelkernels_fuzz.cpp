// Depth conversion, extraction, histogram and repair kernels over frames and
// arguments taken from the input: samples may exceed their stated depth, and
// depths, steps, indexes, shifts and factors are arbitrary. Every buffer and
// table has exactly the size its caller contract names (tables of 2^depth
// entries for the depth-taking entries, counter arrays of 2^bits counters),
// so a read or write past one shows under the sanitizers.
#include "gnr_picture/KzKernelsC.h"
#include "gnr_picture/internal/KzKernelsInternalK1.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Reader {
    const uint8_t* p;
    size_t n, i = 0;
    uint32_t u8v() { return i < n ? p[i++] : 0; }
    uint32_t u32v()
    {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k)
            v |= u8v() << (8 * k);
        return v;
    }
};

template <class T>
std::vector<T> Fill(size_t count, const uint8_t* data, size_t size, uint32_t seed)
{
    std::vector<T> v(count);
    for (size_t i = 0; i < count; ++i) {
        uint64_t x = size ? data[(i * 7 + seed) % size] : 0;
        x = x * 0x9E3779B97F4A7C15ull + i + seed;
        v[i] = T(x >> 17);
    }
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader rd{data, size};
    const uint32_t member = rd.u8v();
    const uint32_t width = 1 + rd.u8v() % 40, height = rd.u8v() % 6, comps = 1 + rd.u8v() % 6;
    const uint32_t extra = rd.u8v() % width;  // a partial row, never a whole one
    const uint32_t count = width * height + extra;
    const uint32_t bits = rd.u8v() % 40, histBits = rd.u8v() % 20;
    const uint32_t idx = rd.u8v() % 8, idx2 = rd.u8v() % 8;
    const uint32_t ps = rd.u8v() % 5, rs = rd.u8v() % 5;
    const int32_t shift = int32_t(rd.u32v());
    float factorF;
    const uint32_t fb = rd.u32v();
    std::memcpy(&factorF, &fb, 4);
    const double factor = factorF;
    const uint32_t cw = (rd.u8v() % 3 == 0) ? 5 : (rd.u8v() % 2 ? 4 : 8);
    const uint8_t* rest = data + rd.i;
    const size_t restSize = size - rd.i;

    // Pictures: height rows plus one partial row; rows padded by one sample.
    const size_t rows = height + 1;
    const uint32_t rb8 = (width * comps + 1), rb16 = rb8 * 2, rb32 = rb8 * 4;
    auto s8 = Fill<uint8_t>(size_t(rb8) * rows, rest, restSize, 1);
    auto s16 = Fill<uint16_t>(size_t(rb8) * rows, rest, restSize, 2);
    auto s32 = Fill<uint32_t>(size_t(rb8) * rows, rest, restSize, 3);
    const uint32_t rb3 = (width * 3 + 1) * 2;  // three-component word picture
    auto s16c3 = Fill<uint16_t>(size_t(width * 3 + 1) * rows, rest, restSize, 8);
    std::vector<uint8_t> d8(size_t(rb8) * rows * 3);
    std::vector<uint16_t> d16(size_t(rb8) * rows * 3);
    const uint32_t d8rb = rb8 * 3, d16rb = rb16 * 3;

    // depth16 >= depth8, so the row tables below serve both.
    const uint32_t depth8 = 1 + bits % 8, depth16 = 1 + bits % 16;
    const size_t e8 = size_t(1) << depth8, e16 = size_t(1) << depth16;
    auto flat8 = Fill<uint8_t>(e16, rest, restSize, 4);
    auto flat8small = Fill<uint8_t>(e8, rest, restSize, 5);
    auto block8 = Fill<uint8_t>(e16 * 8, rest, restSize, 6);
    auto block16 = Fill<uint16_t>(e16 * 8, rest, restSize, 7);
    std::vector<const uint8_t*> rows8(e16);
    std::vector<const uint16_t*> rows16(e16);
    for (size_t v = 0; v < e16; ++v) {
        rows8[v] = block8.data() + v * 8;
        rows16[v] = block16.data() + v * 8;
    }
    const SKzLutExpColor over{1, 2, 3, uint8_t(shift & 1)}, under{4, 5, 6, uint8_t(shift & 2)};
    const uint64_t mask[1] = {uint64_t(fb) | (uint64_t(shift) << 32)};

    switch (member % 16) {
    case 0:
        convert_Nx16_to_Nx8(d8.data(), d8rb, s16.data(), bits, rb16, comps, width, count);
        convert_Nx8_to_Nx16(d16.data(), bits, d16rb, s8.data(), rb8, comps, width, count);
        convert_Nx16_to_Nx16(d16.data(), bits, d16rb, s16.data(), histBits, rb16, comps, width, count);
        _shift_Nx16_to_Nx16(s16.data(), comps, rb16, shift, width, count);
        break;
    case 1:
        // Source container follows bits: give each its own picture.
        if (bits <= 8)
            changebitdepth_NxM_to_Nx32(d16.data(), d16rb, s8.data(), rb8, bits, comps, width, count);
        else if (bits <= 16)
            changebitdepth_NxM_to_Nx08(d8.data(), d8rb, s16.data(), rb16, bits, comps, width, count);
        else
            changebitdepth_NxM_to_Nx16(d16.data(), d16rb, s32.data(), rb32, bits, comps, width, count);
        break;
    case 2:
        convertbitdepthvialuts_Nx16_to_Nx8_depth(d8.data(), d8rb, s16.data(), rb16, rows8.data(), comps, width, count,
                                                 depth16);
        convertbitdepthvialuts_Nx16_to_Nx8_lut1_depth(d8.data(), d8rb, s16.data(), rb16, flat8.data(), comps, width,
                                                      count, depth16);
        convertbitdepthvialuts_Nx8_to_Nx16_depth(d16.data(), d16rb, s8.data(), rb8, rows16.data(), comps, width, count,
                                                 depth8 <= depth16 ? depth8 : depth16);
        break;
    case 3:
        convertbitdepthvialuts_3x16_to_3x8_overexp_underexp(d8.data(), d8rb, s16c3.data(), depth16, rb3, rows8.data(),
                                                            (shift & 4) ? &over : nullptr,
                                                            (shift & 8) ? &under : nullptr, width, count);
        convertbitdepthvialuts_3x16_to_3x8_lut1_overexp(d8.data(), d8rb, s16c3.data(), depth16, rb3, flat8.data(),
                                                        (shift & 16) ? &over : nullptr, width, count);
        convertbitdepthvialuts_3x16_to_3x8_underexp_depth(d8.data(), d8rb, s16c3.data(), 0, rb3, rows8.data(), &under,
                                                          width, count, depth16);
        break;
    case 4:
        component_lutN_Mx16_to_Nx8_depth(d8.data(), 3, d8rb, s16.data(), comps, rb16, idx, rows8.data(), width, count,
                                         depth16);
        component_lut1_Nx8_to_Nx8_depth(d8.data(), 3, d8rb, s8.data(), comps, rb8, idx, flat8small.data(), width,
                                        count, depth8);
        mapvialuts_val16_to_Nx16_depth(d16.data(), 3, d16rb, s16.data(), rb16, rows16.data(), width, count, depth16);
        break;
    case 5:
        component_lut3_Mx16_to_3x8_overexp_underexp(d8.data(), d8rb, s16.data(), comps, depth16, rb16, idx,
                                                    rows8.data(), &over, &under, width, count);
        component_lut1_Nx8_to_3x8_overexp_underexp_depth(d8.data(), d8rb, s8.data(), comps, rb8, idx,
                                                         flat8small.data(), &over, &under, width, count, depth8);
        break;
    case 6: {
        // Valid depths match the tables; bit 5 of bits asks for refused ones.
        const uint32_t sb16 = (bits & 32) ? ((bits & 1) ? 0 : 17) : depth16;
        const uint32_t sb8 = (bits & 32) ? ((bits & 1) ? 0 : 9) : depth8;
        component_lut3_Mx16_to_3x8_add_overexp(d8.data(), d8rb, s16.data(), comps, sb16, rb16, idx, rows8.data(),
                                               (shift & 1) ? &over : nullptr, mask, width, count, factor);
        component_lut3_Mx8_to_3x8_add(d8.data(), d8rb, s8.data(), comps, sb8, rb8, idx, rows8.data(), mask, width,
                                      count, factor);
        break;
    }
    case 7: {
        std::vector<uint8_t> hist(((size_t(1) << depth16) + 1) * 8 * 8);
        std::vector<void*> set(8);
        for (size_t k = 0; k < 8; ++k)
            set[k] = hist.data() + k * (size_t(1) << depth16) * 8;
        void* inten = hist.data() + 7 * (size_t(1) << depth16) * 8;
        gethistogramint_Nx16(set.data(), inten, cw, s16.data(), comps, rb16, ps, rs, depth16, width, count);
        gethistogrambin16_Nx16(set.data(), inten, cw, s16.data(), comps, rb16, s16.data(), rb16, ps, rs, depth16,
                               width, count);
        const uint32_t hb = histBits % (depth16 + 1);  // arrays hold 2^depth16 counters
        gethistogramdiv_Nx16(set.data(), cw, hb, s16.data(), comps, rb16, ps, rs, bits, width, count);
        gethistogramdiv_Nx32(set.data(), cw, hb, s32.data(), comps, rb32, ps, rs, bits, width, count);
        break;
    }
    case 8: {
        std::vector<uint8_t> hist(256 * 8 * 8);
        std::vector<void*> set(8);
        for (size_t k = 0; k < 8; ++k)
            set[k] = hist.data() + k * 256 * 8;
        gethistogram_Nx8(set.data(), cw, s8.data(), comps, rb8, ps, rs, width, count);
        gethistogram_1x8(set[0], cw, s8.data(), rb8, ps, rs, width, count);
        if (comps >= 3)
            gethistogramint_3x8(set.data(), set[7], cw, s8.data(), rb8, ps, rs, width, count);
        break;
    }
    case 9: {
        std::vector<uint8_t> h8((255 * (size_t(1) << (bits % 17)) + 256) * 8);
        std::vector<uint8_t> h16(65536 * 8);
        gethistogram2d_8(h8.data(), cw, s8.data(), rb8, comps, bits % 17, idx, idx2, nullptr, nullptr, width, count);
        gethistogram2d_16_under_mask(h16.data(), cw, s16.data(), rb16, comps, bits, idx, idx2, s8.data(), rb8, nullptr,
                                     nullptr, width, count);
        break;
    }
    case 10: {
        const uint32_t hb = bits % 18;
        std::vector<uint8_t> a((size_t(1) << hb) * 8), b((size_t(1) << hb) * 8);
        for (size_t i = 0; i < a.size(); ++i)
            a[i] = restSize && i % 3 == 0 ? rest[i % restSize] : 0;
        const int w = int(cw);
        uint8_t flags[2];
        const void* cset[2] = {a.data(), b.data()};
        void* set[2] = {a.data(), b.data()};
        needtorepairhistogramint_N(flags, cset, nullptr, w, 2, hb);
        repairhistocomp_N(set, nullptr, idx % 2, w, hb);
        histo_add(a.data(), cset, b.data(), set, hb, int32_t(idx % 3) - 1, cw);
        break;
    }
    case 11: {
        std::vector<float> f(size_t(width) * rows * comps);
        for (size_t i = 0; i < f.size(); ++i) {
            uint32_t x = s32[i % s32.size()];
            std::memcpy(&f[i], &x, 4);
        }
        map_float_to_Nx8_Tumblin(d8.data(), nullptr, d8rb, f.data(), width, height, comps);
        map_float_to_Nx16_Drago(d16.data(), nullptr, d16rb, f.data(), width, height, comps);
        map_float_to_Nx8_param_Tumblin(d8.data(), nullptr, d8rb, f.data(), width, height, comps, bits);
        extract_Float2_to_Nx16(d16.data(), nullptr, d16rb, bits, f.data(), nullptr, comps, width * comps * 4, width,
                               uint64_t(width) * height);
        break;
    }
    default:
        break;
    }
    return 0;
}
