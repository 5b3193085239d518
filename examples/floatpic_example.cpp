// Float pictures: converts a noisy 12-bit picture into a float picture,
// estimates its noise, smooths it with a Gaussian, measures the noise again
// and converts the result back into an 8-bit picture over its value range.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/SKzFloatPicBuf.h"

#include <cstdint>
#include <cstdio>

int main()
{
    SKzPicBuf pic;
    CKzPicBufAPI::Init(&pic);
    if (CKzPicBufAPI::Reinit(&pic, 320, 240, 0, 12, 1, true) != 0) {
        std::printf("no memory for the picture\n");
        return 1;
    }
    // A bright disc on a dark background, with noise.
    uint32_t seed = 2026;
    for (unsigned y = 0; y < pic.uiHeight; ++y) {
        uint16_t* row = reinterpret_cast<uint16_t*>(pic.pData + size_t(y) * pic.uiWidthBytes);
        for (unsigned x = 0; x < pic.uiWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int dx = int(x) - 160, dy = int(y) - 120;
            const int base = dx * dx + dy * dy < 60 * 60 ? 3000 : 500;
            row[x] = uint16_t(base + int(seed >> 25) - 64);
        }
    }

    SKzFloatPicBuf f, smooth;
    CKzFloatPicBufAPI::Init(&f);
    CKzFloatPicBufAPI::Init(&smooth);
    int rc = CKzFloatPicBufAPI::ConvertFromPicBuf(&f, &pic);
    std::printf("float picture: %u x %u, range %.0f .. %.0f (%d)\n", f.uiWidth, f.uiHeight, f.fMin, f.fMax, rc);
    std::printf("noise before: %.2f\n", GetImmerkaerNoiseEstimation1xFloat(&f));

    rc = CKzFloatPicBufAPI::Reinit(&smooth, f.uiWidth, f.uiHeight, 0, 1, false);
    if (rc == 0)
        rc = CKzFloatPicBufAPI::Smooth(&smooth, &f, 1, 5);
    std::printf("Gaussian smooth, size 5: %d; noise after: %.2f\n", rc, GetImmerkaerNoiseEstimation1xFloat(&smooth));

    float lo = 0, hi = 0;
    CKzFloatPicBufAPI::GetFloatMinMax(&smooth, lo, hi);
    SKzPicBuf out;
    CKzPicBufAPI::Init(&out);
    CKzPicBufAPI::Reinit(&out, smooth.uiWidth, smooth.uiHeight, 0, 8, 1, true);
    rc = CKzFloatPicBufAPI::FillPicByFloat(&out, &smooth, &lo, &hi, false);
    std::printf("back to 8 bits over %.1f .. %.1f: %d; centre %u, corner %u\n", lo, hi, rc,
                unsigned(out.pData[120 * out.uiWidthBytes + 160]), unsigned(out.pData[0]));

    CKzPicBufAPI::Free(&out);
    CKzFloatPicBufAPI::Free(&smooth);
    CKzFloatPicBufAPI::Free(&f);
    CKzPicBufAPI::Free(&pic);
    return 0;
}
