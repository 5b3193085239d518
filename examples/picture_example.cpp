// Picture buffers: allocates a 12-bit picture with two populations of pixel
// values, counts its histogram, takes the cut points that hold 1 % of the
// pixels at either end and the Otsu threshold, then converts an 8-bit colour
// picture to intensity-saturation-hue and Y-Cr-Cb.
#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/CKzPicBufAPI.h"

#include <cstdio>
#include <cstdint>

int main()
{
    SKzPicBuf pic;
    CKzPicBufAPI::Init(&pic);
    if (CKzPicBufAPI::Reinit(&pic, 640, 480, 0, 12, 1, true) != 0) {
        std::printf("no memory for the picture\n");
        return 1;
    }
    // A dark background around 600 and a bright square around 3000.
    uint32_t seed = 12345;
    for (unsigned y = 0; y < pic.uiHeight; ++y) {
        uint16_t* row = reinterpret_cast<uint16_t*>(pic.pData + size_t(y) * pic.uiWidthBytes);
        for (unsigned x = 0; x < pic.uiWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const bool inside = x >= 200 && x < 440 && y >= 120 && y < 360;
            row[x] = uint16_t((inside ? 3000 : 600) + int(seed >> 24) - 128);
        }
    }
    std::printf("picture: %u x %u, %u bits, stride %u bytes, %llu bytes\n", pic.uiWidth, pic.uiHeight,
                unsigned(pic.uiBpc), pic.uiWidthBytes, (unsigned long long)pic.uiSize);

    SKzHisto histo;
    CKzHistoAPI::Init(&histo);
    CKzHistoAPI::Reinit32(&histo, &pic);
    CKzHistoAPI::Calculate(&histo, &pic, true);
    unsigned low = 0, high = 0, otsu = 0;
    CKzHistoAPI::GetLowHigh(&histo, &low, &high, 0.01, 0.01);
    const int otsuResult = CKzHistoAPI::GetOtsuThreshold(&otsu, 1, &histo);
    std::printf("cuts at 1 %%: low %u, high %u; mean bin %lld\n", low, high,
                (long long)CKzHistoAPI::GetMeanIndex(&histo, 0));
    if (otsuResult == 0)
        std::printf("Otsu threshold: %u\n", otsu);
    CKzHistoAPI::Free(&histo);
    CKzPicBufAPI::Free(&pic);

    // Colours: one pixel each of red, green, blue and grey (stored blue, green, red).
    SKzPicBuf rgb, ihs, ycc;
    CKzPicBufAPI::Init(&rgb);
    CKzPicBufAPI::Init(&ihs);
    CKzPicBufAPI::Init(&ycc);
    CKzPicBufAPI::Reinit(&rgb, 4, 1, 0, 8, 3, true);
    CKzPicBufAPI::Reinit(&ihs, 4, 1, 0, 8, 3, true);
    CKzPicBufAPI::Reinit(&ycc, 4, 1, 0, 8, 3, true);
    const uint8_t bgr[12] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 100, 100, 100};
    for (int i = 0; i < 12; ++i)
        rgb.pData[i] = bgr[i];
    const int r1 = CKzPicBufAPI::ConvertRGBtoIHS(&ihs, &rgb);
    const int r2 = CKzPicBufAPI::ConvertRGBtoYCrCb(&ycc, &rgb);
    const char* names[4] = {"red", "green", "blue", "grey"};
    for (int p = 0; p < 4 && r1 == 0 && r2 == 0; ++p)
        std::printf("%-5s -> I %3u S %3u H %3u | Y %3u Cr %3u Cb %3u\n", names[p], ihs.pData[p * 3],
                    ihs.pData[p * 3 + 1], ihs.pData[p * 3 + 2], ycc.pData[p * 3], ycc.pData[p * 3 + 1],
                    ycc.pData[p * 3 + 2]);
    CKzPicBufAPI::Free(&rgb);
    CKzPicBufAPI::Free(&ihs);
    CKzPicBufAPI::Free(&ycc);
    return r1 == 0 && r2 == 0 ? 0 : 1;
}
