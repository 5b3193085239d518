// Display of a 12-bit three-channel frame: the host fills the palette
// registry once, picks the channel ranges automatically from the frame's
// histogram, builds the display LUT from the channel parameters and renders
// the frame to 8-bit blue, green, red.
#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/CKzLutParam.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/SKzLut.h"

#include <cstdio>
#include <vector>

int main()
{
    SKzLut::InitPredefLuts();  // once per process, before palettes are used

    // A 256 x 256 frame: three channels with different brightness ranges.
    const unsigned w = 256, h = 256;
    SKzPicBuf pic;
    CKzPicBufAPI::Init(&pic);
    if (CKzPicBufAPI::Reinit(&pic, w, h, 0, 12, 3, true) != 0) return 1;
    for (unsigned y = 0; y < h; ++y) {
        u16* row = reinterpret_cast<u16*>(pic.pData + size_t(y) * pic.uiWidthBytes);
        for (unsigned x = 0; x < w; ++x) {
            row[3 * x + 0] = u16(200 + (x * 3 + y) % 600);      // dim
            row[3 * x + 1] = u16(1000 + (x * y) % 2000);        // middle
            row[3 * x + 2] = u16(3000 + (x + 7 * y) % 1000);    // bright
        }
    }

    // Channel parameters: three channels of one component each.
    unsigned sizes[3] = {1, 1, 1};
    CKzLutParamMCH param(3, 3, sizes, 12);

    // Auto-contrast: 0.5 % of the pixels below the low and above the high cut.
    SKzHisto histo;
    CKzHistoAPI::Init(&histo);
    CKzHistoAPI::Reinit32(&histo, &pic);
    CKzHistoAPI::Calculate(&histo, &pic, true);
    int r = CKzPicBufAPI::GetAutoContrastMCH(&param, &histo, true, true, 0.5, 0.5);
    CKzHistoAPI::Free(&histo);
    if (r != 0) return 1;
    for (unsigned k = 0; k < 3; ++k)
        std::printf("channel %u: %u .. %u\n", k, param.GetMin(k), param.GetMax(k));

    // Display LUT: channel colours blue, green, red (0x00BBGGRR).
    unsigned colours[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    SKzLut lut;
    if (CKzPicBufAPI::CreateLutsMCH(&lut, &param, colours) != 0) return 1;

    std::vector<u8> screen(size_t(w) * h * 3);
    r = CKzPicMemAPI::ConvertToTrueColor(screen.data(), w * 3, pic.pData, 3, 12, pic.uiWidthBytes, w, w * h, &lut);
    const u8* p = &screen[(size_t(128) * w + 128) * 3];
    std::printf("rendered %ux%u: %d, pixel (128, 128) = blue %u green %u red %u\n", w, h, r, p[0], p[1], p[2]);

    SKzLut::Free(lut);
    CKzPicBufAPI::Free(&pic);
    return r == 0 ? 0 : 1;
}
