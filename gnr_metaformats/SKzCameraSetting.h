// The flat camera-settings record of older files: exposure, offset, gain and
// gamma overall and per colour, camera format, chip geometry and flips.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"

class CKzVariant;
class CKzLiteVariantW;
class CKzLiteVariantR;

// Chip source rectangle, held left, top, right, bottom.
struct SKzCameraRect {
    kz_int32 left;
    kz_int32 top;
    kz_int32 right;
    kz_int32 bottom;
};

struct KZ_EXPORT SKzCameraSetting {
    CKzStringW sCameraName;
    double dExposure;
    kz_int32 iOffset;
    double dGain;
    double dGamma;
    double dExposureRed;
    kz_int32 iOffsetRed;
    double dGainRed;
    double dGammaRed;
    double dExposureGreen;
    kz_int32 iOffsetGreen;
    double dGainGreen;
    double dGammaGreen;
    double dExposureBlue;
    kz_int32 iOffsetBlue;
    double dGainBlue;
    double dGammaBlue;
    CKzStringW sCameraFormatName;
    double dCamChipSizeX, dCamChipSizeY;
    kz_uint32 uiCamPxlCountX, uiCamPxlCountY;
    double dCamBinningX, dCamBinningY;
    SKzCameraRect rcCamChipSrc;
    bool bFlippedUpDown;
    bool bFlippedLeftRight;
    CKzStringW sSpecSettings;

    // Unknown values: -1 (pixel counts 0xFFFFFFFF), binning 1, rectangle 0.
    SKzCameraSetting();
    ~SKzCameraSetting();
    // Zero exposures and offsets, unit gains and gammas, zero chip data.
    void SetToDefault();

    static kz_result SaveToVariant(CKzVariant& node, const SKzCameraSetting& s);
    // -4 (record unchanged) for another run type than "RKzCameraSetting".
    static kz_result LoadFromVariant(SKzCameraSetting& s, const CKzVariant& node);
    static kz_result SaveToLiteVariant(CKzLiteVariantW& w, const SKzCameraSetting& s);
    static kz_result LoadFromLiteVariant(SKzCameraSetting& s, CKzLiteVariantR& r);
};
