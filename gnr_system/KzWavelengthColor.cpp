#include "gnr_system/KzWavelengthColor.h"

#include <cmath>

const SKzColorMatchingFunction g_ColorMatchingFunction_CIE2deg = {471, g_adCIE1931_2deg_1nm};
double g_dWavelength = 0.0;

namespace {

// A ramp value becomes a channel by truncation, keeping the low byte.
inline unsigned int Channel(double v)
{
    return static_cast<unsigned int>(static_cast<long long>(v)) & 0xFFu;
}

inline unsigned int Pack(double r, double g, double b)
{
    return Channel(r) | (Channel(g) << 8) | (Channel(b) << 16);
}

}  // namespace

int KZ_RGBFromWavelength(unsigned int* colour, double l)
{
    if (colour == nullptr) return KZ_ERR_INVALID_ARG;
    if (l < 0.5) *colour = Pack(255, 255, 255);
    else if (l < 380) *colour = Pack(255, 0, 255);
    else if (l < 440) *colour = Pack((l - 440) * -4.25, 0, 255);
    else if (l < 490) *colour = Pack(0, (l - 440) * 5.1000000000000005, 255);
    else if (l < 510) *colour = Pack(0, 255, (l - 510) * -12.75);
    else if (l < 555) *colour = Pack((l - 510) * 5.666666666666667, 255, 0);
    else if (l < 620) *colour = Pack(255, (l - 620) * -3.9230769230769234, 0);
    else if (l >= 620) *colour = Pack(255, 0, 0);
    return KZ_OK;
}

int KZ_RGBFromWavelength2(unsigned int* colour, double l)
{
    if (colour == nullptr) return KZ_ERR_INVALID_ARG;
    if (l < 0.5) *colour = Pack(255, 255, 255);
    else if (l < 350) *colour = Pack(255, 0, 255);
    else if (l < 440) *colour = Pack((l - 440) * -2.8333333333333335, 0, 255);
    else if (l < 490) *colour = Pack(0, (l - 440) * 5.1000000000000005, 255);
    else if (l < 510) *colour = Pack(0, 255, (l - 510) * -12.75);
    else if (l < 580) *colour = Pack((l - 510) * 3.642857142857143, 255, 0);
    else if (l < 640) *colour = Pack(255, (l - 640) * -4.25, 0);
    else if (l >= 640) *colour = Pack(255, 0, 0);
    return KZ_OK;
}

int KZ_RGBRainbowColorTable(unsigned int* table, unsigned int n)
{
    // Fewer than 6 entries leave a ramp without steps (a division by zero).
    if (table == nullptr || n < 6) return KZ_ERR_INVALID_ARG;
    const unsigned int steps = n - 1;
    const unsigned int q = steps / 5;
    const unsigned int extra = steps % 5;
    // Ramp k (1..4) gets one extra step when it is among the last `extra` ramps.
    unsigned int b[5];
    b[0] = q;
    for (unsigned int k = 1; k < 5; ++k) b[k] = b[k - 1] + q + (k >= 5 - extra ? 1u : 0u);
    for (unsigned int i = 0; i < n; ++i) {
        unsigned int r = 0, g = 0, bl = 0;
        if (i <= b[0]) {
            r = 255;
            bl = 255 * (b[0] - i) / b[0];
        } else if (i <= b[1]) {
            r = 255;
            g = 255 * (i - b[0]) / (b[1] - b[0]);
        } else if (i <= b[2]) {
            g = 255;
            r = 255 * (b[2] - i) / (b[2] - b[1]);
        } else if (i <= b[3]) {
            g = 255;
            bl = 255 * (i - b[2]) / (b[3] - b[2]);
        } else {
            bl = 255;
            g = 255 * (b[4] - i) / (b[4] - b[3]);
        }
        table[i] = (r & 0xFF) | ((g & 0xFF) << 8) | ((bl & 0xFF) << 16);
    }
    return KZ_OK;
}

int KZ_sRGBFromWavelength(unsigned int* colour, double l)
{
    if (colour == nullptr) return KZ_ERR_INVALID_ARG;
    const SKzColorMatchingFunction& t = g_ColorMatchingFunction_CIE2deg;
    double X = NAN, Y = NAN, Z = NAN;
    if (t.uiCount >= 2 && t.pEntries != nullptr && l >= t.pEntries[0][0] && l < t.pEntries[t.uiCount - 1][0]) {
        // Largest entry not above l (binary search over ascending wavelengths).
        unsigned int lo = 0, hi = t.uiCount - 1;
        while (hi - lo > 1) {
            const unsigned int mid = lo + (hi - lo) / 2;
            if (t.pEntries[mid][0] <= l) lo = mid;
            else hi = mid;
        }
        const double* a = t.pEntries[lo];
        const double* b = t.pEntries[lo + 1];
        const double f = (l - a[0]) / (b[0] - a[0]);
        X = a[1] + (b[1] - a[1]) * f;
        Y = a[2] + (b[2] - a[2]) * f;
        Z = a[3] + (b[3] - a[3]) * f;
    }
    double c[3] = {3.24071 * X - 1.53726 * Y - 0.498571 * Z,
                   -0.969258 * X + 1.87599 * Y + 0.0415557 * Z,
                   0.0556352 * X - 0.203996 * Y + 1.05707 * Z};
    for (double& v : c) v = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 0.4166666666666667) - 0.055;
    double m = c[0];
    if (c[1] > m) m = c[1];
    if (c[2] > m) m = c[2];
    unsigned int out = 0;
    if (m > 0.0) {  // false for 0 and for not-a-number
        for (int i = 0; i < 3; ++i) {
            double v = c[i] / m;
            if (!(v > 0.0)) v = 0.0;
            out |= Channel(v * 255.0 + 0.5) << (8 * i);
        }
    }
    *colour = out;
    return KZ_OK;
}

void spectrum_to_xyz(double (*spectrum)(double), double* x, double* y, double* z)
{
    double X = 0, Y = 0, Z = 0;
    if (spectrum != nullptr) {
        double lambda = 380.0;
        for (int i = 0; i < 81; ++i, lambda += 5.0) {
            const double me = spectrum(lambda);
            X += me * g_adCIE1931_2deg_5nm[i][0];
            Y += me * g_adCIE1931_2deg_5nm[i][1];
            Z += me * g_adCIE1931_2deg_5nm[i][2];
        }
    }
    const double xyz = X + Y + Z;
    if (x != nullptr) *x = X / xyz;
    if (y != nullptr) *y = Y / xyz;
    if (z != nullptr) *z = Z / xyz;
}

void xyz_to_rgb(colourSystem* cs, double xc, double yc, double zc, double* r, double* g, double* b)
{
    if (cs == nullptr) return;
    const double xr = cs->xRed, yr = cs->yRed, zr = 1 - (xr + yr);
    const double xg = cs->xGreen, yg = cs->yGreen, zg = 1 - (xg + yg);
    const double xb = cs->xBlue, yb = cs->yBlue, zb = 1 - (xb + yb);
    const double xw = cs->xWhite, yw = cs->yWhite, zw = 1 - (xw + yw);

    double rx = yg * zb - yb * zg, ry = xb * zg - xg * zb, rz = xg * yb - xb * yg;
    double gx = yb * zr - yr * zb, gy = xr * zb - xb * zr, gz = xb * yr - xr * yb;
    double bx = yr * zg - yg * zr, by = xg * zr - xr * zg, bz = xr * yg - xg * yr;

    const double rw = (rx * xw + ry * yw + rz * zw) / yw;
    const double gw = (gx * xw + gy * yw + gz * zw) / yw;
    const double bw = (bx * xw + by * yw + bz * zw) / yw;
    rx /= rw; ry /= rw; rz /= rw;
    gx /= gw; gy /= gw; gz /= gw;
    bx /= bw; by /= bw; bz /= bw;

    if (r != nullptr) *r = rx * xc + ry * yc + rz * zc;
    if (g != nullptr) *g = gx * xc + gy * yc + gz * zc;
    if (b != nullptr) *b = bx * xc + by * yc + bz * zc;
}

double simple_spectrum(double wavelength)
{
    return wavelength == g_dWavelength ? 1.0 : 0.0;
}
