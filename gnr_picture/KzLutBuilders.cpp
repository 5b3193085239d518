// Tone-curve builders: fill an allocated LUT with a curve over a window of
// the input axis. They never allocate; the layout decides where the values go.
#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/SKzLut.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kMaxTargets = 256;

// Where one curve goes: up to kMaxTargets columns, each a base and a stride.
struct Targets {
    u8* base[kMaxTargets];
    size_t count = 0;
    size_t stride = 0;
    bool wide = false;  // 16-bit words instead of bytes
    i64 n = 0;          // entries per column

    void Store(i64 v, i64 value) const
    {
        for (size_t t = 0; t < count; ++t) {
            u8* p = base[t] + size_t(v) * stride;
            if (wide) {
                const u16 w = u16(value);
                std::memcpy(p, &w, 2);
            } else {
                *p = u8(value);
            }
        }
    }
};

enum class Layouts { FlatOnly, FlatRows, FlatRowsPerComp };

kz_result Resolve(const SKzLut& lut, u8 comp, Layouts allowed, Targets& t)
{
    if (!lut.pLut || lut.uiInBpc == 0 || lut.uiInBpc > 16 || lut.uiOutBpc == 0 || lut.uiOutBpc > 16 ||
        lut.uiInComp == 0 || lut.uiOutComp == 0)
        return KZ_ERR_INVALID_ARG;
    t.wide = lut.uiOutBpc > 8;
    const size_t b = t.wide ? 2 : 1;
    t.n = i64(1) << lut.uiInBpc;
    if (lut.uiInComp == 1 && lut.uiOutComp == 1) {
        t.base[0] = static_cast<u8*>(lut.pLut);
        t.count = 1;
        t.stride = b;
        return KZ_OK;
    }
    if (allowed == Layouts::FlatOnly)
        return KZ_ERR_INVALID_ARG;
    if (lut.uiInComp == 1) {
        u8* block = static_cast<u8**>(lut.pLut)[0];
        if (!block)
            return KZ_ERR_INVALID_ARG;
        t.stride = b * lut.uiOutComp;
        if (comp < lut.uiOutComp) {
            t.base[0] = block + comp * b;
            t.count = 1;
        } else {
            for (size_t c = 0; c < lut.uiOutComp; ++c)
                t.base[c] = block + c * b;
            t.count = lut.uiOutComp;
        }
        return KZ_OK;
    }
    // Several inputs: only one output per input component, and only where the
    // builder fills per-component tables.
    if (allowed != Layouts::FlatRowsPerComp || lut.uiOutComp != 1)
        return KZ_ERR_INVALID_ARG;
    u8*** comps = static_cast<u8***>(lut.pLut);
    t.stride = b;
    if (comp == 255) {
        for (size_t k = 0; k < lut.uiInComp; ++k)
            t.base[k] = comps[k][0];
        t.count = lut.uiInComp;
    } else if (comp < lut.uiInComp) {
        t.base[0] = comps[comp][0];
        t.count = 1;
    } else {
        return KZ_ERR_INVALID_ARG;
    }
    for (size_t k = 0; k < t.count; ++k)
        if (!t.base[k])
            return KZ_ERR_INVALID_ARG;
    return KZ_OK;
}

// The linear ramp y0 + (v - x0)(y1 - y0) / (x1 - x0), truncated toward zero,
// without overflow for any 32-bit window.
i64 Ramp(i64 v, i32 x0, i32 y0, i32 x1, i32 y1)
{
    const __int128 num = __int128(v - x0) * (i64(y1) - y0);
    return i64(y0 + num / (i64(x1) - x0));
}

i64 Clamp(i64 v, i64 lo, i64 hi) { return std::min(std::max(v, lo), hi); }

// Calls f(v) for the entries of each region of the window [x0, x1) (end
// exclusive) that lie inside the table.
template <typename Below, typename In, typename Above>
void Regions(i64 n, i64 x0, i64 x1end, Below below, In in, Above above)
{
    for (i64 v = 0; v < std::min(x0, n); ++v)
        below(v);
    for (i64 v = std::max<i64>(x0, 0); v < std::min(x1end, n); ++v)
        in(v);
    for (i64 v = std::max<i64>(x1end, 0); v < n; ++v)
        above(v);
}

kz_result Linear(SKzLut& lut, u8 comp, i32 x0, i32 y0, i32 x1, i32 y1, bool aboveIsY0)
{
    if (x0 >= x1)
        return KZ_ERR_INVALID_ARG;
    Targets t;
    if (kz_result r = Resolve(lut, comp, Layouts::FlatRows, t))
        return r;
    const i64 top = t.wide ? std::min<i64>(t.n, (i64(1) << lut.uiOutBpc) - 1) : 0;
    const i64 above = aboveIsY0 ? y0 : y1;
    Regions(
        t.n, x0, x1, [&](i64 v) { t.Store(v, y0); },
        [&](i64 v) {
            const i64 r = Ramp(v, x0, y0, x1, y1);
            t.Store(v, t.wide ? Clamp(r, 0, top) : r);
        },
        [&](i64 v) { t.Store(v, above); });
    return KZ_OK;
}

// 8-bit gamma level: 255 (1/255 y)^g, truncated and clamped.
i64 Gamma8(i64 y, double g)
{
    return Clamp(KzTruncToInt32(255.0 * std::pow(double(y) * 0.00392156862745098, g)), 0, 255);
}

}  // namespace

kz_result SKzLut::CreateLinearTable(SKzLut& lut, u8 comp, i32 x0, i32 y0, i32 x1, i32 y1)
{
    return Linear(lut, comp, x0, y0, x1, y1, false);
}

kz_result SKzLut::CreateLinearTable2(SKzLut& lut, u8 comp, i32 x0, i32 y0, i32 x1, i32 y1)
{
    return Linear(lut, comp, x0, y0, x1, y1, true);
}

kz_result SKzLut::CreateGammaTable(SKzLut& lut, u8 comp, i32 x0, i32 y0, i32 x1, i32 y1, double gamma)
{
    if (x0 >= x1)
        return KZ_ERR_INVALID_ARG;
    Targets t;
    if (kz_result r = Resolve(lut, comp, Layouts::FlatRowsPerComp, t))
        return r;
    if (!t.wide) {
        const i64 lo = Gamma8(y0, gamma), hi = Gamma8(y1, gamma);
        Regions(
            t.n, x0, x1, [&](i64 v) { t.Store(v, lo); },
            [&](i64 v) { t.Store(v, Gamma8(Ramp(v, x0, y0, x1, y1), gamma)); }, [&](i64 v) { t.Store(v, hi); });
        return KZ_OK;
    }
    const double m = double(t.n - 1);
    const i64 u = (i64(1) << lut.uiOutBpc) - 1;
    const i64 top = std::min(u, t.n);
    auto end = [&](i64 y) { return Clamp(KzTruncToInt32(m * std::pow(double(y) / m, gamma)), 0, u); };
    const i64 lo = end(y0), hi = end(y1);
    Regions(
        t.n, x0, x1, [&](i64 v) { t.Store(v, lo); },
        [&](i64 v) {
            const double r = double(Ramp(v, x0, y0, x1, y1));
            t.Store(v, std::min(Clamp(KzTruncToInt32(m * std::pow((1.0 / m) * r, gamma)), 0, u), top));
        },
        [&](i64 v) { t.Store(v, hi); });
    return KZ_OK;
}

kz_result SKzLut::CreateGammaTable2(SKzLut& lut, u8 comp, i32 x0, i32 y0, i32 x1, i32 y1, double gamma)
{
    if (x0 >= x1)
        return KZ_ERR_INVALID_ARG;
    Targets t;
    if (kz_result r = Resolve(lut, comp, Layouts::FlatRows, t))
        return r;
    const double m = double(t.n - 1);
    const i64 u = (i64(1) << lut.uiOutBpc) - 1;
    auto curve = [&](i64 v) {
        const i64 r = Ramp(v, x0, y0, x1, y1);
        if (!t.wide)
            return Gamma8(r, gamma);
        return Clamp(KzTruncToInt32(m * std::pow((1.0 / m) * double(r), gamma)), 0, u);
    };
    // The window includes x1 here.
    Regions(
        t.n, x0, i64(x1) + 1, [&](i64 v) { t.Store(v, y0); }, [&](i64 v) { t.Store(v, curve(v)); },
        [&](i64 v) { t.Store(v, y0); });
    return KZ_OK;
}

kz_result SKzLut::CreateLogaritmicTable_1_1(SKzLut& lut, u8, i32 x0, i32 y0, i32 x1, i32 y1)
{
    if (x0 >= x1)
        return KZ_ERR_INVALID_ARG;
    Targets t;
    if (kz_result r = Resolve(lut, 0, Layouts::FlatOnly, t))
        return r;
    const double m = double(t.n - 1);
    const i64 u = t.wide ? (i64(1) << lut.uiOutBpc) - 1 : 255;
    const double dy = double(i64(y1) - y0), span = double(i64(x1) - x0 + 1);
    auto level = [&](i64 y) {
        const double l = std::log10(double(y + 1));
        return Clamp(KzTruncToInt32(t.wide ? l / std::log10(m + 1) * m : l * 105.88645802453468), 0, u);
    };
    const i64 lo = level(y0), hi = level(y1);
    Regions(
        t.n, x0, x1, [&](i64 v) { t.Store(v, lo); },
        [&](i64 v) {
            const double lv = std::log10(double(v - x0 + 1));
            const double r = t.wide ? (1 / std::log10(span)) * dy * lv : dy / std::log10(span) * lv;
            t.Store(v, Clamp(KzTruncToInt32(r), 0, u));
        },
        [&](i64 v) { t.Store(v, hi); });
    return KZ_OK;
}

kz_result SKzLut::CreateExpTable_1_1(SKzLut& lut, u8, i32 x0, i32 y0, i32 x1, i32 y1)
{
    if (x0 >= x1)
        return KZ_ERR_INVALID_ARG;
    Targets t;
    if (kz_result r = Resolve(lut, 0, Layouts::FlatOnly, t))
        return r;
    const double m = double(t.n - 1);
    const i64 u = t.wide ? (i64(1) << lut.uiOutBpc) - 1 : 255;
    auto level = [&](i64 y) {
        const double e = t.wide ? double(y) * std::log10(m + 1) / m : double(y) * 0.009444078295340587;
        return Clamp(KzTruncToInt32(std::pow(10, e) - 1), 0, u);
    };
    const i64 lo = level(y0), hi = level(y1);
    // With y1 = y0 the rate is infinite: the ramp is NaN or infinite and its
    // truncation clamps to 0.
    const double rate = (1.0 / double(i64(y1) - y0)) * std::log10(double(i64(x1) - x0 + 1));
    Regions(
        t.n, x0, x1, [&](i64 v) { t.Store(v, lo); },
        [&](i64 v) { t.Store(v, Clamp(KzTruncToInt32(std::pow(10, rate * double(v - x0)) - 1), 0, u)); },
        [&](i64 v) { t.Store(v, hi); });
    return KZ_OK;
}

kz_result SKzLut::CreateEqualizingTable_1_1(SKzLut& lut, u8 comp, const SKzHisto* h)
{
    if (!h || !h->pHistData || !h->ppHistRows || lut.uiInComp != 1 || lut.uiInBpc != lut.uiOutBpc ||
        lut.uiInBpc != h->uiHistBpc || (h->uiCounterSize != 4 && h->uiCounterSize != 8))
        return KZ_ERR_INVALID_ARG;
    Targets t;
    if (kz_result r = Resolve(lut, comp, Layouts::FlatRows, t))
        return r;
    // One output equalises by the block's first row: the only row of a
    // one-component histogram, the combined row (mean of each pixel's
    // samples) of a histogram of several components. Several outputs take
    // the row of component comp.
    const void* counters = h->pHistData;
    if (lut.uiOutComp > 1) {
        if (comp >= lut.uiOutComp || comp >= h->uiHistComp || !h->ppHistRows[comp])
            return KZ_ERR_INVALID_ARG;
        counters = h->ppHistRows[comp];
    }
    auto count = [&](i64 v) -> u64 {
        if (h->uiCounterSize == 8)
            return static_cast<const u64*>(counters)[v];
        return static_cast<const u32*>(counters)[v];
    };
    const i64 n = t.n;
    unsigned __int128 total = 0;
    for (i64 v = 0; v < n; ++v)
        total += count(v);
    if (total == 0) {
        for (i64 v = 0; v < n; ++v)
            t.Store(v, v);
        return KZ_OK;
    }
    t.Store(0, 0);
    unsigned __int128 below = 0;
    for (i64 v = 1; v < n; ++v) {
        below += count(v - 1);
        const unsigned __int128 value = below * unsigned(n) / total;
        if (value >= unsigned(n))
            break;
        t.Store(v, i64(value));
    }
    t.Store(n - 1, n - 1);
    return KZ_OK;
}
