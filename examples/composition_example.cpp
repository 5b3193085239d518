// A small host of libvt5's display road: two fluorescence channels of 12 bits
// are composed into a true-colour picture through a green and a red colour
// table, clipped samples painted as markers; then a 1-bit mask is unpacked.
#include <cstdio>
#include <vector>

#include "gnr_picture/KzKernelsCompose.h"

int main()
{
    const unsigned bits = 12, rows = 1u << bits, width = 4;
    // One row-pointer LUT per channel: 4096 rows of blue, green, red.
    std::vector<u8> green(3 * rows), red(3 * rows);
    std::vector<const u8*> greenRows(rows), redRows(rows);
    for (unsigned v = 0; v < rows; ++v) {
        green[3 * v + 1] = u8(v >> 4);
        red[3 * v + 2] = u8(v >> 4);
        greenRows[v] = &green[3 * v];
        redRows[v] = &red[3 * v];
    }
    const u8* const* table[2] = {greenRows.data(), redRows.data()};
    const unsigned long visible = 0b11;
    const SKzLutExpColor over{255, 0, 255, 0}, under{255, 0, 0, 0};  // magenta, blue

    const u16 src[2 * width] = {2048, 1024, 4095, 100, 0, 3000, 800, 800};
    u8 rgb[3 * width];
    mapcomp_2x16_3x8_overexp_underexp(rgb, sizeof rgb, src, bits, sizeof src, table, &visible, &over, &under, width,
                                      width);
    for (unsigned x = 0; x < width; ++x)
        std::printf("pixel %u: samples %4u %4u -> blue %3u green %3u red %3u\n", x, src[2 * x], src[2 * x + 1],
                    rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]);

    // A 1-bit mask row 0b10110000 unpacked into bytes of 255.
    const u8 mask = 0xB0, on = 255;
    u8 bytes[8];
    unpack_bin_to_1x8(bytes, &on, 8, &mask, 0, 1, 8, 8, 0);
    std::printf("mask 0xB0 ->");
    for (u8 b : bytes)
        std::printf(" %u", b);
    std::printf("\n");
    return 0;
}
