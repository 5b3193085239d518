// Contrast stretching of a picture through a tone LUT built for the call.
#include "gnr_picture/CKzPicBufAPI.h"

#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/SKzLut.h"

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
    const int r = CKzPicMemAPI::ApplyLuts(dst->pData, dst->uiWidthBytes, src->pData, src->uiWidthBytes, &lut, comps,
                                          bits, src->uiWidth, src->uiWidth * src->uiHeight);
    SKzLut::Free(lut);
    return r;
}
