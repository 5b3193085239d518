// Binary images: labels a small mask into numbered objects (8-connectivity),
// stores it as a compressed blob, loads the blob and paints the objects back.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"

#include <cstdio>

int main()
{
    const char* rows[] = {
        "##....#...",
        "##...##...",
        "......#..#",
        "..#......#",
        ".#....####",
    };
    SKzPicBuf mask;
    CKzPicBufAPI::Init(&mask);
    if (CKzPicBufAPI::Reinit(&mask, 10, 5, 0, 8, 1, true) != 0) return 1;
    for (unsigned y = 0; y < 5; ++y)
        for (unsigned x = 0; x < 10; ++x) mask.pData[y * mask.uiWidthBytes + x] = rows[y][x] == '#' ? 255 : 0;

    SKzRLEPicBuf rle;
    CKzRLEPicBufAPI::Init(&rle, 0, true);
    CKzRLEPicBufAPI::Reinit(&rle, 10, 5);
    CKzRLEPicBufAPI::ConvertPicBufToPaintedRLE(&rle, &mask, 8);
    std::printf("objects: %u, record bytes: %u\n", rle.uiObjectCount, rle.uiDataBytes);

    unsigned long length = 0;
    void* blob = CKzRLEPicBufAPI::SaveToMemoryCompress(&rle, 6, 1, &length);
    CKzRLEPicBufAPI::Free(&rle);
    std::printf("compressed blob: %lu bytes\n", length);

    SKzRLEPicBuf loaded;
    CKzRLEPicBufAPI::Init(&loaded, 0, true);
    CKzRLEPicBufAPI::Reinit(&loaded, 10, 5);
    const int rc = CKzRLEPicBufAPI::LoadFromMemoryUncompress(&loaded, 1, blob, length);
    CKzAlloc::Free(blob);
    std::printf("load: %d, objects: %u\n", rc, loaded.uiObjectCount);

    CKzRLEPicBufAPI::ConvertRLEToPicBuf(&mask, &loaded, 0);
    for (unsigned y = 0; y < 5; ++y) {
        for (unsigned x = 0; x < 10; ++x) {
            const unsigned v = mask.pData[y * mask.uiWidthBytes + x];
            std::putchar(v ? char('0' + v) : '.');
        }
        std::putchar('\n');
    }
    CKzRLEPicBufAPI::Free(&loaded);
    CKzPicBufAPI::Free(&mask);
    return 0;
}
