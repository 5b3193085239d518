// Contrast stretching of a picture through a tone LUT built for the call.
#include "gnr_picture/CKzPicBufAPI.h"

#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/SKzLut.h"

#include <algorithm>

int CKzPicBufAPI::Contrast(SKzPicBuf* dst, SKzPicBuf* src, int type, int x0, int x1, double gamma)
{
    if (!dst || !src || !Check(dst, src, eCheckSizeBpcComp)) return KZ_ERR_FAILED;
    const unsigned bits = src->uiBpc, comps = src->uiComp;
    // Depths past 16 bits have no tables; types past 5, and the logarithmic
    // and exponential curves (flat tables only) with several components,
    // have no curve: the destination stays as it is.
    if (bits == 0 || bits > 16) return KZ_ERR_NOT_SUPPORTED;
    if (type < 0 || type > 5 || ((type == 2 || type == 3) && comps != 1)) return KZ_ERR_NOT_SUPPORTED;
    if (comps == 0 || comps > 255) return KZ_ERR_FAILED;
    // Both pictures have pixels, and their blocks every row their shapes
    // describe.
    auto fits = [](const SKzPicBuf* p) {
        if (p->uiWidth == 0 || p->uiHeight == 0) return false;
        const u64 row = u64(p->uiWidth) * p->uiComp * CalcCompSize(p->uiBpc);
        return p->pData && row <= p->uiWidthBytes && u64(p->uiHeight - 1) * p->uiWidthBytes + row <= p->uiSize;
    };
    if (!fits(src) || !fits(dst)) return KZ_ERR_FAILED;
    SKzLut lut;
    if (int r = SKzLut::Alloc(lut, u8(bits), 1, u8(bits), u8(comps))) return r;
    const i32 M = i32((1u << bits) - 1);
    SKzHisto histo;
    CKzHistoAPI::Init(&histo);
    if (type == 1) {
        if (CKzHistoAPI::Reinit32(&histo, src) != KZ_OK || !histo.pHistData) {
            SKzLut::Free(lut);
            CKzHistoAPI::Free(&histo);
            return KZ_ERR_OUT_OF_MEMORY;
        }
        CKzHistoAPI::ResetToZero(&histo);
        CKzHistoAPI::Calculate(&histo, src, true);
    }
    for (unsigned i = 0; i < comps; ++i) {
        switch (type) {
        case 0: SKzLut::CreateLinearTable(lut, u8(i), x0, 0, x1, M); break;
        case 1: SKzLut::CreateEqualizingTable_1_1(lut, u8(i), &histo); break;
        case 2: SKzLut::CreateLogaritmicTable_1_1(lut, 0, x0, 0, x1, M); break;
        case 3: SKzLut::CreateExpTable_1_1(lut, 0, x0, 0, x1, M); break;
        case 4: SKzLut::CreateGammaTable(lut, u8(i), x0, 0, x1, M, gamma); break;
        default: SKzLut::CreateGammaTable2(lut, u8(i), x0, 0, x1, M, gamma); break;
        }
    }
    CKzHistoAPI::Free(&histo);
    // Row bands whose pixel count fits the dispatch's 32-bit count.
    int r = KZ_OK;
    const u64 width = src->uiWidth, height = src->uiHeight;
    const u64 band = width ? std::max<u64>(1, 0xFFFFFFFFull / width) : 1;
    for (u64 y = 0; y < height && width && r == KZ_OK; y += band) {
        const u64 rows = std::min(band, height - y);
        r = CKzPicMemAPI::ApplyLuts(dst->pData + y * dst->uiWidthBytes, dst->uiWidthBytes,
                                    src->pData + y * src->uiWidthBytes, src->uiWidthBytes, &lut, comps, bits,
                                    src->uiWidth, unsigned(rows * width));
    }
    SKzLut::Free(lut);
    return r;
}
