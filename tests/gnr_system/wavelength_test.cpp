// Colour from wavelength: ramps, rainbow table, sRGB of monochromatic light,
// spectrum chromaticity and chromaticity to RGB.
#include "gnr_system/KzWavelengthColor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

TEST(KzWavelengthColor, RampColours)
{
    struct Case { double l; unsigned int c; };
    const Case ramp1[] = {
        {0.0, 0xFFFFFF}, {300, 0xFF00FF}, {380, 0xFF00FF}, {440, 0xFF0000},
        {500, (127u << 16) | (255u << 8)}, {555, 0x00FFFF}, {700, 0x0000FF},
        {620, 0x0000FF}, {410, (255u << 16) | 127u},
    };
    for (const auto& c : ramp1) {
        unsigned int col = 0xDEADBEEF;
        EXPECT_EQ(KZ_RGBFromWavelength(&col, c.l), 0);
        EXPECT_EQ(col, c.c) << c.l;
    }
    const Case ramp2[] = {
        {0.2, 0xFFFFFF}, {349, 0xFF00FF}, {360, (255u << 16) | 226u}, {600, (170u << 8) | 255u}, {640, 0x0000FF},
    };
    for (const auto& c : ramp2) {
        unsigned int col = 0xDEADBEEF;
        EXPECT_EQ(KZ_RGBFromWavelength2(&col, c.l), 0);
        EXPECT_EQ(col, c.c) << c.l;
    }
    EXPECT_EQ(KZ_RGBFromWavelength(nullptr, 500), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(KZ_RGBFromWavelength2(nullptr, 500), KZ_ERR_INVALID_ARG);
    unsigned int col = 0x123456;
    EXPECT_EQ(KZ_RGBFromWavelength(&col, NAN), 0);
    EXPECT_EQ(col, 0x123456u);
    EXPECT_EQ(KZ_RGBFromWavelength2(&col, NAN), 0);
    EXPECT_EQ(col, 0x123456u);
}

TEST(KzWavelengthColor, RainbowTable)
{
    unsigned int t[13];
    for (auto& v : t) v = 0xAAAAAAAA;
    ASSERT_EQ(KZ_RGBRainbowColorTable(t, 11), 0);
    EXPECT_EQ(t[0], 0xFF00FFu);
    EXPECT_EQ(t[2], 0x0000FFu);
    EXPECT_EQ(t[4], 0x00FFFFu);
    EXPECT_EQ(t[6], 0x00FF00u);
    EXPECT_EQ(t[8], 0xFFFF00u);
    EXPECT_EQ(t[10], 0xFF0000u);
    EXPECT_EQ(t[11], 0xAAAAAAAAu);

    // Fewer than 6 entries cannot hold five ramps: refused, nothing written.
    for (unsigned int n : {0u, 1u, 5u}) {
        t[0] = 0xAAAAAAAA;
        EXPECT_EQ(KZ_RGBRainbowColorTable(t, n), KZ_ERR_INVALID_ARG) << n;
        EXPECT_EQ(t[0], 0xAAAAAAAAu);
    }
    EXPECT_EQ(KZ_RGBRainbowColorTable(nullptr, 10), KZ_ERR_INVALID_ARG);

    // Any size: starts magenta, ends blue, and every entry has a full channel.
    for (unsigned int n = 6; n < 40; ++n) {
        std::vector<unsigned int> v(n + 1, 0xAAAAAAAA);
        ASSERT_EQ(KZ_RGBRainbowColorTable(v.data(), n), 0);
        EXPECT_EQ(v[0], 0xFF00FFu) << n;
        EXPECT_EQ(v[n - 1], 0xFF0000u) << n;
        EXPECT_EQ(v[n], 0xAAAAAAAAu) << n;
        for (unsigned int i = 0; i < n; ++i) {
            const unsigned int c = v[i];
            EXPECT_TRUE((c & 0xFF) == 0xFF || ((c >> 8) & 0xFF) == 0xFF || ((c >> 16) & 0xFF) == 0xFF) << n << " " << i;
            EXPECT_EQ(c >> 24, 0u);
        }
    }
}

TEST(KzWavelengthColor, sRGBFromWavelength)
{
    // Expected colours computed independently in Python from the CSV table
    // with the same matrix, companding and scaling.
    struct Case { double l; unsigned int c; };
    const Case cases[] = {
        {450, 0xFF0051}, {520.5, 0x00FF00}, {580, 0x00B5FF}, {650, 0x0000FF}, {360, 0xFF002C},
        {359.5, 0}, {830, 0}, {1000, 0}, {-5, 0}, {NAN, 0},
    };
    for (const auto& c : cases) {
        unsigned int col = 0xDEADBEEF;
        EXPECT_EQ(KZ_sRGBFromWavelength(&col, c.l), 0);
        EXPECT_EQ(col, c.c) << c.l;
    }
    for (double l = 360; l < 830; l += 3.7) {
        unsigned int col = 0;
        KZ_sRGBFromWavelength(&col, l);
        const unsigned int mx = std::max({col & 0xFF, (col >> 8) & 0xFF, (col >> 16) & 0xFF});
        EXPECT_EQ(mx, 255u) << l;
    }
    EXPECT_EQ(KZ_sRGBFromWavelength(nullptr, 500), KZ_ERR_INVALID_ARG);
}

TEST(KzWavelengthColor, SpectrumToXyzAndXyzToRgb)
{
    g_dWavelength = 520;
    double x, y, z;
    spectrum_to_xyz(simple_spectrum, &x, &y, &z);
    // 520 nm row of the 5 nm table: 0.0633, 0.7100, 0.0782.
    const double s = 0.0633 + 0.7100 + 0.0782;
    EXPECT_DOUBLE_EQ(x, 0.0633 / s);
    EXPECT_DOUBLE_EQ(y, 0.7100 / s);
    EXPECT_DOUBLE_EQ(z, 0.0782 / s);
    g_dWavelength = 521;  // between samples: nothing, so not-a-number
    spectrum_to_xyz(simple_spectrum, &x, &y, &z);
    EXPECT_TRUE(std::isnan(x));

    colourSystem srgb = {"sRGB", 0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290, 0};
    double r, g, b;
    const double xw = srgb.xWhite, yw = srgb.yWhite;
    xyz_to_rgb(&srgb, xw / yw, 1.0, (1 - xw - yw) / yw, &r, &g, &b);
    EXPECT_NEAR(r, 1.0, 1e-12);
    EXPECT_NEAR(g, 1.0, 1e-12);
    EXPECT_NEAR(b, 1.0, 1e-12);
    // The red primary has no green or blue.
    xyz_to_rgb(&srgb, 0.64, 0.33, 0.03, &r, &g, &b);
    EXPECT_GT(r, 0.0);
    EXPECT_NEAR(g, 0.0, 1e-12);
    EXPECT_NEAR(b, 0.0, 1e-12);
}

namespace {
std::vector<std::vector<double>> ReadCsv(const std::string& path)
{
    std::vector<std::vector<double>> rows;
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line)) return rows;  // header
    while (std::getline(in, line)) {
        std::vector<double> r;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, ',')) r.push_back(std::stod(cell));
        rows.push_back(r);
    }
    return rows;
}
}  // namespace

TEST(KzWavelengthColor, GeneratedTablesMatchTheData)
{
    ASSERT_EQ(g_ColorMatchingFunction_CIE2deg.uiCount, 471u);
    const auto* e = g_ColorMatchingFunction_CIE2deg.pEntries;
    ASSERT_NE(e, nullptr);
    for (unsigned int i = 0; i < 471; ++i) ASSERT_EQ(e[i][0], 360.0 + i);
    EXPECT_EQ(e[195][2], 1.0);  // ybar peaks at 555 nm
    for (int k = 0; k < 3; ++k) EXPECT_EQ(g_adCIE1931_2deg_5nm[80][k], 0.0);  // 780 nm row

    // The data lie beside the repository; VT5_SHARED_DATA_DIR in the
    // environment points elsewhere when they do not.
    const char* env = std::getenv("VT5_SHARED_DATA_DIR");
    const std::string dir = env != nullptr ? env : VT5_SHARED_DATA_DIR;
    const auto one = ReadCsv(dir + "/cie1931_2deg_1nm.csv");
    const auto five = ReadCsv(dir + "/cie1931_2deg_5nm_4dp.csv");
    if (one.empty() || five.empty()) GTEST_SKIP() << "colour-matching CSV files not found beside the repository";
    ASSERT_EQ(one.size(), 471u);
    ASSERT_EQ(five.size(), 81u);
    for (unsigned int i = 0; i < 471; ++i)
        for (int k = 0; k < 4; ++k) ASSERT_EQ(e[i][k], one[i][k]) << i << "," << k;
    for (unsigned int i = 0; i < 81; ++i)
        for (int k = 0; k < 3; ++k) ASSERT_EQ(g_adCIE1931_2deg_5nm[i][k], five[i][k + 1]) << i << "," << k;
}
