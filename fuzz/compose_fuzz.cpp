// Composition and unpacking over frames as a file delivers them: samples of
// any value (also above the depth) with colour tables of exactly 2^bits rows,
// any mask words, marker records, gains, bit offsets and modes. Checks that
// nothing reads or writes outside the tables and pictures (sanitizers), and
// that forms which must agree do: the depth-taking entry and the marking
// member with null records; the fixed-count and any-count members under a
// full mask.
#include "gnr_picture/KzKernelsCompose.h"
#include "gnr_picture/internal/KzKernelsComposeInternal.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Reader {
    const uint8_t* p;
    size_t n;
    uint32_t Byte() { return n ? (--n, *p++) : 0; }
    uint32_t Word() { return Byte() | Byte() << 8; }
    uint64_t U64()
    {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= uint64_t(Byte()) << (8 * i);
        return v;
    }
};

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// Exact-size component LUT array: n components, rows rows of 3 entries.
template <class T>
struct Lut {
    std::unique_ptr<T[]> e;
    std::unique_ptr<const T*[]> rows;
    std::unique_ptr<const T* const*[]> comps;
    Lut(size_t n, size_t nRows, bool shared, uint32_t seed, uint32_t mask)
    {
        const size_t tabs = shared ? 1 : n;
        e.reset(new T[tabs * nRows * 3]);
        rows.reset(new const T*[tabs * nRows]);
        comps.reset(new const T* const*[n]);
        for (size_t i = 0; i < tabs * nRows * 3; ++i)
            e[i] = T((i * 2654435761u + seed) & mask);
        for (size_t i = 0; i < tabs * nRows; ++i)
            rows[i] = &e[3 * i];
        for (size_t k = 0; k < n; ++k)
            comps[k] = &rows[(shared ? 0 : k) * nRows];
    }
};

void Unpack(Reader& r)
{
    const uint32_t which = r.Byte() % 8, nComps = 1 + r.Byte() % 9, off = r.Byte() % 12, mode = r.Byte() % 4;
    const uint32_t width = 1 + r.Byte() % 70, rows = r.Byte() % 4;
    static const uint32_t pbOf[8] = {1, 3, 4, 0, 2, 6, 8, 0};
    const uint32_t pb = pbOf[which] ? pbOf[which] : nComps * (which == 3 ? 1 : 2);
    const uint32_t bs = (off % 8 + width + 7) / 8;
    std::unique_ptr<uint8_t[]> bits(new uint8_t[size_t(bs) * rows + 1]);
    for (size_t i = 0; i < size_t(bs) * rows; ++i)
        bits[i] = uint8_t(r.Byte());
    std::vector<uint8_t> value(pb);
    for (auto& v : value)
        v = uint8_t(r.Byte());
    std::unique_ptr<uint8_t[]> d(new uint8_t[size_t(width) * pb * rows + 1]);
    const uint64_t count = uint64_t(width) * rows + r.Byte() % width;
    const uint32_t stride = width * pb;
    int res;
    switch (which) {
    case 0: res = unpack_bin_to_1x8(d.get(), value.data(), stride, bits.get(), off, bs, width, count, mode); break;
    case 1: res = unpack_bin_to_3x8(d.get(), value.data(), stride, bits.get(), off, bs, width, count, mode); break;
    case 2: res = unpack_bin_to_4x8(d.get(), value.data(), stride, bits.get(), off, bs, width, count, mode); break;
    case 3: res = unpack_bin_to_Nx8(d.get(), nComps, value.data(), stride, bits.get(), off, bs, width, count, mode); break;
    case 4: res = unpack_bin_to_1x16(d.get(), value.data(), stride, bits.get(), off, bs, width, count, mode); break;
    case 5: res = unpack_bin_to_3x16(d.get(), value.data(), stride, bits.get(), off, bs, width, count, mode); break;
    case 6: res = unpack_bin_to_4x16(d.get(), value.data(), stride, bits.get(), off, bs, width, count, mode); break;
    default: res = unpack_bin_to_Nx16(d.get(), nComps, value.data(), stride, bits.get(), off, bs, width, count, mode); break;
    }
    Check(res == (mode > 2 ? KZ_ERR_NOT_SUPPORTED : off > 7 ? KZ_ERR_INVALID_ARG : 0));
}

void Compose16(Reader& r)
{
    const uint32_t bits = 9 + r.Byte() % 8;  // 9..16
    const uint32_t n = 1 + r.Byte() % 8, width = 1 + r.Byte() % 300, rows = 1 + r.Byte() % 3;
    const bool shared = r.Byte() & 1;
    const uint64_t maskWord = r.U64();
    const uint32_t flags = r.Byte();
    const size_t nRows = size_t(1) << bits;
    Lut<uint8_t> lut(n, nRows, shared, r.Byte(), 0xFF);
    Lut<uint16_t> lut16(n, nRows, shared, r.Byte(), uint32_t(nRows - 1));
    std::unique_ptr<uint16_t[]> src(new uint16_t[size_t(n) * width * rows]);
    for (size_t i = 0; i < size_t(n) * width * rows; ++i)
        src[i] = uint16_t(r.Word());
    const size_t out = size_t(3) * width * rows;
    std::unique_ptr<uint8_t[]> a(new uint8_t[out]), b(new uint8_t[out]);
    std::unique_ptr<uint16_t[]> w(new uint16_t[out]);
    const unsigned long mask[1] = {maskWord};
    const SKzLutExpColor over{uint8_t(flags), 2, 3, uint8_t(flags & 2)}, under{4, 5, uint8_t(flags >> 4), uint8_t(flags & 4)};
    const uint32_t ss = 2 * n * width, ds = 3 * width, count = width * rows;
    Check(KzMapCompDepth_Nx16_3x8(a.get(), ds, src.get(), bits, ss, n, lut.comps.get(), mask, width, count) == 0);
    Check(mapcomp_Nx16_3x8_overexp_underexp(b.get(), ds, src.get(), bits, n, ss, lut.comps.get(), mask, nullptr,
                                            nullptr, width, count) == 0);
    Check(std::memcmp(a.get(), b.get(), out) == 0);
    Check(mapcomp_Nx16_3x8_overexp_underexp(b.get(), ds, src.get(), bits, n, ss, lut.comps.get(), mask,
                                            flags & 8 ? &over : nullptr, flags & 16 ? &under : nullptr, width,
                                            count) == 0);
    Check(KzMapCompDepth_Nx16_3x8_add(a.get(), ds, src.get(), bits, ss, n, lut.comps.get(), double(int8_t(flags)) / 16,
                                      mask, mask + 0, width, count) >= KZ_ERR_OUT_OF_MEMORY);
    Check(mapcomp_Nx16_3x8_add_overexp(a.get(), ds, src.get(), bits, ss, n, lut.comps.get(), 1e300, mask,
                                       &over.blue, mask, width, count) >= KZ_ERR_OUT_OF_MEMORY);
    Check(KzMapCompDepth_Nx16_3x16(w.get(), 6 * width, src.get(), n, ss, bits, lut16.comps.get(), mask, width,
                                   count) == 0);
    Check(KzMapCompDepth_1x16_3x8(a.get(), ds, src.get(), bits, ss, lut.comps[0], width, count) == 0);
    Check(KzMapCompDepth_1x16_3x16(w.get(), 6 * width, src.get(), ss, bits, lut16.comps[0], width, count) == 0);
    if (n >= 2 && n <= 6) {
        int rb = 0, rp = 0;
        switch (n) {
        case 2:
            rb = mapcomp_2x16_3x16(w.get(), 6 * width, src.get(), ss, bits, lut16.comps.get(), mask, width, count);
            rp = mapcomp_2x16_3x8_overexp_underexp(a.get(), ds, src.get(), bits, ss, lut.comps.get(), mask, &over,
                                                   &under, width, count);
            break;
        case 3:
            rb = mapcomp_3x16_3x16(w.get(), 6 * width, src.get(), ss, bits, lut16.comps.get(), mask, width, count);
            rp = mapcomp_3x16_3x8_overexp(a.get(), ds, src.get(), bits, ss, lut.comps.get(), mask, &over, width, count);
            break;
        case 4:
            rb = mapcomp_4x16_3x16(w.get(), 6 * width, src.get(), ss, bits, lut16.comps.get(), mask, width, count);
            rp = mapcomp_4x16_3x8_underexp(a.get(), ds, src.get(), bits, ss, lut.comps.get(), mask, &under, width,
                                           count);
            break;
        case 5:
            rb = mapcomp_5x16_3x16(w.get(), 6 * width, src.get(), ss, bits, lut16.comps.get(), mask, width, count);
            rp = KzMapCompDepth_5x16_3x8(a.get(), ds, src.get(), bits, ss, lut.comps.get(), mask, width, count);
            break;
        default:
            rb = mapcomp_6x16_3x16(w.get(), 6 * width, src.get(), ss, bits, lut16.comps.get(), mask, width, count);
            rp = mapcomp_6x16_3x8_overexp_underexp(a.get(), ds, src.get(), bits, ss, lut.comps.get(), mask, &over,
                                                   &under, width, count);
            break;
        }
        Check(rb == 0 && rp == 0);
    }
}

void Compose8(Reader& r)
{
    const uint32_t n = 1 + r.Byte() % 6, width = 1 + r.Byte() % 600, rows = 1 + r.Byte() % 3;
    const bool shared = r.Byte() & 1;
    Lut<uint8_t> lut(n, 256, shared, r.Byte(), 0xFF);
    std::unique_ptr<uint8_t[]> src(new uint8_t[size_t(n) * width * rows]);
    for (size_t i = 0; i < size_t(n) * width * rows; ++i)
        src[i] = uint8_t(r.Byte());
    const size_t out = size_t(3) * width * rows;
    std::unique_ptr<uint8_t[]> a(new uint8_t[out]), b(new uint8_t[out]);
    const unsigned long full = ~0ul;
    const uint32_t ss = n * width, ds = 3 * width, count = width * rows;
    Check(mapcomp_Nx8_3x8(a.get(), ds, src.get(), n, ss, lut.comps.get(), &full, width, count) == 0);
    int res = 0;
    switch (n) {
    case 1: res = mapcomp_1x8_3x8(b.get(), ds, src.get(), ss, lut.comps[0], width, count); break;
    case 2: res = mapcomp_2x8_3x8(b.get(), ds, src.get(), ss, lut.comps.get(), &full, width, count); break;
    case 3: res = mapcomp_3x8_3x8(b.get(), ds, src.get(), ss, lut.comps.get(), &full, width, count); break;
    case 4: res = mapcomp_4x8_3x8(b.get(), ds, src.get(), ss, lut.comps.get(), &full, width, count); break;
    case 5: res = mapcomp_5x8_3x8(b.get(), ds, src.get(), ss, lut.comps.get(), &full, width, count); break;
    default: res = mapcomp_6x8_3x8(b.get(), ds, src.get(), ss, lut.comps.get(), &full, width, count); break;
    }
    Check(res == 0 && std::memcmp(a.get(), b.get(), out) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 16))
        return 0;
    Reader r{data, size};
    switch (r.Byte() % 3) {
    case 0:
        Unpack(r);
        break;
    case 1:
        Compose16(r);
        break;
    default:
        Compose8(r);
        break;
    }
    return 0;
}
