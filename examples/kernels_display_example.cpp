// A 12-bit camera frame on its way to the screen: auto-contrast limits from
// its histogram, a display table built from them, the frame mapped to 8 bits
// with over-exposed pixels marked, and a float copy tone-mapped for
// comparison.
#include "gnr_picture/KzKernelsC.h"

#include <cstdio>
#include <vector>

int main()
{
    const unsigned w = 64, h = 48, bits = 12;
    std::vector<uint16_t> frame(size_t(w) * h * 3);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = uint16_t((i * 37) % 3000 + 500);
    frame[0] = frame[1] = frame[2] = 4095;  // one saturated pixel

    // Histograms of the three components at 12 bits; limits from the first, then the 1 % / 99 % limits.
    std::vector<uint32_t> hist(4096, 0), green(4096, 0), red(4096, 0);
    void* set[3] = {hist.data(), green.data(), red.data()};
    gethistogram_3x16(set, 4, frame.data(), w * 6, 1, 1, bits, w, w * h);
    size_t seen = 0, lo = 0, hi = 4095;
    const size_t total = size_t(w) * h;
    for (size_t v = 0; v < 4096; ++v) {
        seen += hist[v];
        if (seen * 100 < total)
            lo = v + 1;
        if (seen * 100 <= total * 99)
            hi = v + 1;
    }
    std::printf("component 0: contrast limits %zu .. %zu\n", lo, hi);

    // Display table: linear stretch between the limits, one row per value.
    std::vector<uint8_t> block(4096 * 3);
    std::vector<const uint8_t*> rows(4096);
    for (size_t v = 0; v < 4096; ++v) {
        const double t = v <= lo ? 0.0 : v >= hi ? 1.0 : double(v - lo) / double(hi - lo);
        for (int k = 0; k < 3; ++k)
            block[v * 3 + k] = uint8_t(t * 255.0 + 0.5);
        rows[v] = &block[v * 3];
    }
    const SKzLutExpColor marker{0, 0, 255, 0};
    std::vector<uint8_t> screen(size_t(w) * h * 3);
    convertbitdepthvialuts_3x16_to_3x8_overexp(screen.data(), w * 3, frame.data(), bits, w * 6, rows.data(), &marker, w,
                                               w * h);
    std::printf("pixel 0 (saturated): %u %u %u, pixel 1: %u %u %u\n", screen[0], screen[1], screen[2], screen[3],
                screen[4], screen[5]);

    // The same frame as floats, tone-mapped to 8 bits.
    std::vector<float> f(frame.size()), unused(1);
    extract_Nx16_to_3xFloat2(f.data(), unused.data(), 0, w * 12, frame.data(), w * 6, bits, 3, w, w * h);
    std::vector<uint8_t> tone(frame.size());
    map_float_to_Nx8_Drago(tone.data(), nullptr, w * 3, f.data(), w, h, 3);
    std::printf("tone-mapped pixel 0: %u %u %u, pixel 1: %u %u %u\n", tone[0], tone[1], tone[2], tone[3], tone[4],
                tone[5]);
    return 0;
}
