#include "gnr_metaformats/SKzCameraSetting.h"
#include "gnr_metaformats/KzMetaInternal.h"

SKzCameraSetting::SKzCameraSetting()
    : dExposure(-1.0), iOffset(-1), dGain(-1.0), dGamma(-1.0), dExposureRed(-1.0), iOffsetRed(-1), dGainRed(-1.0),
      dGammaRed(-1.0), dExposureGreen(-1.0), iOffsetGreen(-1), dGainGreen(-1.0), dGammaGreen(-1.0),
      dExposureBlue(-1.0), iOffsetBlue(-1), dGainBlue(-1.0), dGammaBlue(-1.0), dCamChipSizeX(-1.0),
      dCamChipSizeY(-1.0), uiCamPxlCountX(0xFFFFFFFFu), uiCamPxlCountY(0xFFFFFFFFu), dCamBinningX(1.0),
      dCamBinningY(1.0), rcCamChipSrc{0, 0, 0, 0}, bFlippedUpDown(false), bFlippedLeftRight(false)
{
}

SKzCameraSetting::~SKzCameraSetting() {}

void SKzCameraSetting::SetToDefault()
{
    sCameraName.Empty();
    sCameraFormatName.Empty();
    sSpecSettings.Empty();
    dExposure = dExposureRed = dExposureGreen = dExposureBlue = 0.0;
    iOffset = iOffsetRed = iOffsetGreen = iOffsetBlue = 0;
    dGain = dGainRed = dGainGreen = dGainBlue = 1.0;
    dGamma = dGammaRed = dGammaGreen = dGammaBlue = 1.0;
    dCamChipSizeX = dCamChipSizeY = 0.0;
    uiCamPxlCountX = uiCamPxlCountY = 0;
    dCamBinningX = dCamBinningY = 1.0;
    rcCamChipSrc = SKzCameraRect{0, 0, 0, 0};
    bFlippedUpDown = bFlippedLeftRight = false;
}

kz_result SKzCameraSetting::SaveToVariant(CKzVariant& node, const SKzCameraSetting& s)
{
    kzmeta::BeginStruct(node, "RKzCameraSetting");
    node[L"sCameraName"] = s.sCameraName;
    node[L"dExposure"] = s.dExposure;
    node[L"iOffset"] = static_cast<int>(s.iOffset);
    node[L"dGain"] = s.dGain;
    node[L"dGamma"] = s.dGamma;
    node[L"dExposureRed"] = s.dExposureRed;
    node[L"iOffsetRed"] = static_cast<int>(s.iOffsetRed);
    node[L"dGainRed"] = s.dGainRed;
    node[L"dGammaRed"] = s.dGammaRed;
    node[L"dExposureGreen"] = s.dExposureGreen;
    node[L"iOffsetGreen"] = static_cast<int>(s.iOffsetGreen);
    node[L"dGainGreen"] = s.dGainGreen;
    node[L"dGammaGreen"] = s.dGammaGreen;
    node[L"dExposureBlue"] = s.dExposureBlue;
    node[L"iOffsetBlue"] = static_cast<int>(s.iOffsetBlue);
    node[L"dGainBlue"] = s.dGainBlue;
    node[L"dGammaBlue"] = s.dGammaBlue;
    node[L"sCameraFormatName"] = s.sCameraFormatName;
    node[L"dCamChipSizeX"] = s.dCamChipSizeX;
    node[L"dCamChipSizeY"] = s.dCamChipSizeY;
    node[L"uiCamPxlCountX"] = static_cast<unsigned int>(s.uiCamPxlCountX);
    node[L"uiCamPxlCountY"] = static_cast<unsigned int>(s.uiCamPxlCountY);
    node[L"dCamBinningX"] = s.dCamBinningX;
    node[L"dCamBinningY"] = s.dCamBinningY;
    CKzVariant& rc = kzmeta::ListMember(node, L"rcCamChipSrc");
    rc.Append(CKzVariant(static_cast<int>(s.rcCamChipSrc.left), CKzStringW(L"left")));
    rc.Append(CKzVariant(static_cast<int>(s.rcCamChipSrc.right), CKzStringW(L"right")));
    rc.Append(CKzVariant(static_cast<int>(s.rcCamChipSrc.top), CKzStringW(L"top")));
    rc.Append(CKzVariant(static_cast<int>(s.rcCamChipSrc.bottom), CKzStringW(L"bottom")));
    node[L"bFlippedUpDown"] = s.bFlippedUpDown;
    node[L"bFlippedLeftRight"] = s.bFlippedLeftRight;
    node[L"sSpecSettings"] = s.sSpecSettings;
    return KZ_OK;
}

kz_result SKzCameraSetting::LoadFromVariant(SKzCameraSetting& s, const CKzVariant& node)
{
    if (!kzmeta::IsRunType(node, "RKzCameraSetting")) return KZ_ERR_INVALID_ARG;
    s.sCameraName = node[L"sCameraName"].GetCKzStringW();
    s.dExposure = node[L"dExposure"].GetDouble();
    s.iOffset = node[L"iOffset"].GetKz_int32();
    s.dGain = node[L"dGain"].GetDouble();
    s.dGamma = node[L"dGamma"].GetDouble();
    s.dExposureRed = node[L"dExposureRed"].GetDouble();
    s.iOffsetRed = node[L"iOffsetRed"].GetKz_int32();
    s.dGainRed = node[L"dGainRed"].GetDouble();
    s.dGammaRed = node[L"dGammaRed"].GetDouble();
    s.dExposureGreen = node[L"dExposureGreen"].GetDouble();
    s.iOffsetGreen = node[L"iOffsetGreen"].GetKz_int32();
    s.dGainGreen = node[L"dGainGreen"].GetDouble();
    s.dGammaGreen = node[L"dGammaGreen"].GetDouble();
    s.dExposureBlue = node[L"dExposureBlue"].GetDouble();
    s.iOffsetBlue = node[L"iOffsetBlue"].GetKz_int32();
    s.dGainBlue = node[L"dGainBlue"].GetDouble();
    s.dGammaBlue = node[L"dGammaBlue"].GetDouble();
    s.sCameraFormatName = node[L"sCameraFormatName"].GetCKzStringW();
    s.dCamChipSizeX = node[L"dCamChipSizeX"].GetDouble();
    s.dCamChipSizeY = node[L"dCamChipSizeY"].GetDouble();
    s.uiCamPxlCountX = node[L"uiCamPxlCountX"].GetKz_uint32();
    s.uiCamPxlCountY = node[L"uiCamPxlCountY"].GetKz_uint32();
    s.dCamBinningX = node[L"dCamBinningX"].GetDouble();
    s.dCamBinningY = node[L"dCamBinningY"].GetDouble();
    const CKzVariant& rc = node[L"rcCamChipSrc"];
    s.rcCamChipSrc.left = rc[L"left"].GetKz_int32();
    s.rcCamChipSrc.right = rc[L"right"].GetKz_int32();
    s.rcCamChipSrc.top = rc[L"top"].GetKz_int32();
    s.rcCamChipSrc.bottom = rc[L"bottom"].GetKz_int32();
    s.bFlippedUpDown = node[L"bFlippedUpDown"].GetBool();
    s.bFlippedLeftRight = node[L"bFlippedLeftRight"].GetBool();
    s.sSpecSettings = node[L"sSpecSettings"].GetCKzStringW();
    return KZ_OK;
}

kz_result SKzCameraSetting::SaveToLiteVariant(CKzLiteVariantW& w, const SKzCameraSetting& s)
{
    w.Set(s.sCameraName.GetString(), L"sCameraName");
    w.Set(s.dExposure, L"dExposure");
    w.Set(static_cast<int>(s.iOffset), L"iOffset");
    w.Set(s.dGain, L"dGain");
    w.Set(s.dGamma, L"dGamma");
    w.Set(s.dExposureRed, L"dExposureRed");
    w.Set(static_cast<int>(s.iOffsetRed), L"iOffsetRed");
    w.Set(s.dGainRed, L"dGainRed");
    w.Set(s.dGammaRed, L"dGammaRed");
    w.Set(s.dExposureGreen, L"dExposureGreen");
    w.Set(static_cast<int>(s.iOffsetGreen), L"iOffsetGreen");
    w.Set(s.dGainGreen, L"dGainGreen");
    w.Set(s.dGammaGreen, L"dGammaGreen");
    w.Set(s.dExposureBlue, L"dExposureBlue");
    w.Set(static_cast<int>(s.iOffsetBlue), L"iOffsetBlue");
    w.Set(s.dGainBlue, L"dGainBlue");
    w.Set(s.dGammaBlue, L"dGammaBlue");
    w.Set(s.sCameraFormatName.GetString(), L"sCameraFormatName");
    w.Set(s.dCamChipSizeX, L"dCamChipSizeX");
    w.Set(s.dCamChipSizeY, L"dCamChipSizeY");
    w.Set(static_cast<unsigned int>(s.uiCamPxlCountX), L"uiCamPxlCountX");
    w.Set(static_cast<unsigned int>(s.uiCamPxlCountY), L"uiCamPxlCountY");
    w.Set(s.dCamBinningX, L"dCamBinningX");
    w.Set(s.dCamBinningY, L"dCamBinningY");
    if (w.LevelBegin(L"rcCamChipSrc") == KZ_OK) {
        w.Set(static_cast<int>(s.rcCamChipSrc.left), L"left");
        w.Set(static_cast<int>(s.rcCamChipSrc.right), L"right");
        w.Set(static_cast<int>(s.rcCamChipSrc.top), L"top");
        w.Set(static_cast<int>(s.rcCamChipSrc.bottom), L"bottom");
        w.LevelEnd();
    }
    w.Set(s.bFlippedUpDown, L"bFlippedUpDown");
    w.Set(s.bFlippedLeftRight, L"bFlippedLeftRight");
    w.Set(s.sSpecSettings.GetString(), L"sSpecSettings");
    return KZ_OK;
}

kz_result SKzCameraSetting::LoadFromLiteVariant(SKzCameraSetting& s, CKzLiteVariantR& r)
{
    r.GetCKzStringW(s.sCameraName, L"sCameraName", L"");
    s.dExposure = r.Get(L"dExposure", 0.0);
    s.iOffset = r.Get(L"iOffset", 0);
    s.dGain = r.Get(L"dGain", 0.0);
    s.dGamma = r.Get(L"dGamma", 0.0);
    s.dExposureRed = r.Get(L"dExposureRed", 0.0);
    s.iOffsetRed = r.Get(L"iOffsetRed", 0);
    s.dGainRed = r.Get(L"dGainRed", 0.0);
    s.dGammaRed = r.Get(L"dGammaRed", 0.0);
    s.dExposureGreen = r.Get(L"dExposureGreen", 0.0);
    s.iOffsetGreen = r.Get(L"iOffsetGreen", 0);
    s.dGainGreen = r.Get(L"dGainGreen", 0.0);
    s.dGammaGreen = r.Get(L"dGammaGreen", 0.0);
    s.dExposureBlue = r.Get(L"dExposureBlue", 0.0);
    s.iOffsetBlue = r.Get(L"iOffsetBlue", 0);
    s.dGainBlue = r.Get(L"dGainBlue", 0.0);
    s.dGammaBlue = r.Get(L"dGammaBlue", 0.0);
    r.GetCKzStringW(s.sCameraFormatName, L"sCameraFormatName", L"");
    s.dCamChipSizeX = r.Get(L"dCamChipSizeX", 0.0);
    s.dCamChipSizeY = r.Get(L"dCamChipSizeY", 0.0);
    s.uiCamPxlCountX = r.Get(L"uiCamPxlCountX", 0u);
    s.uiCamPxlCountY = r.Get(L"uiCamPxlCountY", 0u);
    s.dCamBinningX = r.Get(L"dCamBinningX", 0.0);
    s.dCamBinningY = r.Get(L"dCamBinningY", 0.0);
    if (r.LevelBegin(L"rcCamChipSrc") == KZ_OK) {
        s.rcCamChipSrc.left = r.Get(L"left", 0);
        s.rcCamChipSrc.right = r.Get(L"right", 0);
        s.rcCamChipSrc.top = r.Get(L"top", 0);
        s.rcCamChipSrc.bottom = r.Get(L"bottom", 0);
        r.LevelEnd();
    }
    s.bFlippedUpDown = r.Get(L"bFlippedUpDown", false);
    s.bFlippedLeftRight = r.Get(L"bFlippedLeftRight", false);
    r.GetCKzStringW(s.sSpecSettings, L"sSpecSettings", L"");
    return KZ_OK;
}
