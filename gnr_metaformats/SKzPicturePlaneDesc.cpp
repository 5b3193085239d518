#include "gnr_metaformats/SKzPicturePlaneDesc.h"
#include "gnr_metaformats/KzMetaInternal.h"
#include "gnr_metaformats/SKzCameraSetting.h"
#include "gnr_metaformats/SKzPicturePlanes.h"

#include <new>

SKzPicturePlaneDesc::SKzPicturePlaneDesc()
    : uiCompCount(1), uiSampleIndex(0), dObjCalibration1to1(0.0), sizeObjFullChip{0, 0},
      uiModalityMask(MODALITY_FLUORESCENCE), dLampVoltage(0.0), dFadingCorr(0.0), uiColor(0xFFFFFF),
      dAcqTime(0.0), dPinholeDiameter(-1.0), iChannelSeriesIndex(-1)
{
}

SKzPicturePlaneDesc::~SKzPicturePlaneDesc() {}

int SKzPicturePlaneDesc::AllocArray(SKzPicturePlaneDesc*& p, unsigned n)
{
    if (n == 0) {
        p = nullptr;
        return KZ_OK;
    }
    try {
        SKzPicturePlaneDesc* a = new (std::nothrow) SKzPicturePlaneDesc[n];
        if (!a) return KZ_ERR_OUT_OF_MEMORY;
        p = a;
        return KZ_OK;
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

void SKzPicturePlaneDesc::FreeArray(SKzPicturePlaneDesc*& p) { delete[] p; }

int SKzPicturePlaneDesc::Copy(SKzPicturePlaneDesc& dst, SKzPicturePlaneDesc& src)
{
    if (&dst == &src) return KZ_OK;
    dst.uiCompCount = src.uiCompCount;
    dst.uiSampleIndex = src.uiSampleIndex;
    dst.dObjCalibration1to1 = src.dObjCalibration1to1;
    dst.sizeObjFullChip = src.sizeObjFullChip;
    dst.uiModalityMask = src.uiModalityMask;
    dst.pFluorescentProbe = src.pFluorescentProbe;
    dst.pFilterPath = src.pFilterPath;
    dst.dLampVoltage = src.dLampVoltage;
    dst.dFadingCorr = src.dFadingCorr;
    dst.uiColor = src.uiColor;
    dst.sDescription = src.sDescription;
    dst.dAcqTime = src.dAcqTime;
    dst.dPinholeDiameter = src.dPinholeDiameter;
    dst.iChannelSeriesIndex = src.iChannelSeriesIndex;
    return KZ_OK;
}

int SKzPicturePlaneDesc::CopyArray(SKzPicturePlaneDesc* dst, SKzPicturePlaneDesc* src, unsigned n)
{
    if (!dst || !src) return n ? KZ_ERR_INVALID_ARG : KZ_OK;
    for (unsigned i = 0; i < n; ++i) Copy(dst[i], src[i]);
    return KZ_OK;
}

bool SKzPicturePlaneDesc::IsEqual(const SKzPicturePlaneDesc& a, const SKzPicturePlaneDesc& b)
{
    return a.uiCompCount == b.uiCompCount && a.uiModalityMask == b.uiModalityMask && a.uiColor == b.uiColor &&
           a.sDescription.Equals(b.sDescription);
}

bool SKzPicturePlaneDesc::IsModalityMonochrome(unsigned long mask) { return (mask & MODALITY_FLUORESCENCE) != 0; }
bool SKzPicturePlaneDesc::IsFlorescence() const { return (uiModalityMask & MODALITY_FLUORESCENCE) != 0; }
bool SKzPicturePlaneDesc::IsBrightfield() const { return (uiModalityMask & MODALITY_BRIGHTFIELD) != 0; }
bool SKzPicturePlaneDesc::IsFromCamera() const { return (uiModalityMask & MODALITY_CAMERA) != 0; }
bool SKzPicturePlaneDesc::IsFromConfocal() const { return (uiModalityMask & 0x3E00ull) != 0; }
bool SKzPicturePlaneDesc::IsSpectral() const { return (uiModalityMask & MODALITY_SPECTRAL) != 0; }
bool SKzPicturePlaneDesc::IsTD() const
{
    return (uiModalityMask & MODALITY_TD) != 0 || ((uiModalityMask & MODALITY_BRIGHTFIELD) != 0 && uiCompCount == 1);
}
bool SKzPicturePlaneDesc::IsVirtualFilter() const { return (uiModalityMask & MODALITY_VIRTUAL_FILTER) != 0; }
bool SKzPicturePlaneDesc::IsAUX() const { return (uiModalityMask & MODALITY_AUX) != 0; }
bool SKzPicturePlaneDesc::IsModalityChangeAllowed() const
{
    return uiModalityMask == 0x1 || uiModalityMask == 0x2 || uiModalityMask == 0x101 || uiModalityMask == 0x102;
}

namespace {

bool SingleBitOrZero(kz_uint64 v) { return (v & (v - 1)) == 0; }

} // namespace

bool SKzPicturePlaneDesc::IsModalityMaskValid(unsigned long mask)
{
    const kz_uint64 m = mask;
    const kz_uint64 light = m & 0x3, contrast = m & 0x30, source = m & 0x3F00, detector = m & 0x27E00000ull;
    if (light != 0x1 && light != 0x2) return false;
    if (contrast == 0x30) return false;
    if (!SingleBitOrZero(source)) return false;
    if (!SingleBitOrZero(detector)) return false;
    if ((m & 0x8100000ull) == 0x8100000ull) return false;
    return true;
}

kz_uint64 SKzPicturePlaneDesc::TranslateModalityToMask(EModality e)
{
    switch (static_cast<unsigned>(e)) {
    case 1: return 0x102;
    case 2: return 0x201;
    case 3: return 0x401;
    case 4: return 0x801;
    case 5: return 0x10201;
    case 6: return 0x11;
    case 7: return 0x21;
    case 8: return 0x200201;
    case 9: return 0x800201;
    case 10: return 0x400201;
    case 11: return 0x800201;
    case 12: return 0x2000;
    default: return 0x101;
    }
}

SKzPicturePlaneDesc::EModality SKzPicturePlaneDesc::TranslateMaskToModality(unsigned long mask)
{
    const kz_uint64 m = mask;
    if (m & 0x10000) return eModalityMultiPhoton;
    if (m & 0x200000) return eModalitySpectral;
    if (m & 0x400000) return eModalityQiraIF;
    if (m & 0x800000) return eModalityQiraNF;
    if (m & 0x400) return eModalitySpinningDiskConfocal;
    if (m & 0x1800) return eModalitySweptFieldConfocal;
    if ((m & 0x3F00) && !(m & 0x100)) return eModalityLaserScanConfocal;
    if (m & 0x10) return eModalityPhaseContrast;
    if (m & 0x20) return eModalityDIC;
    if (m & 0x2) return eModalityBrightfieldCamera;
    if (m & 0x2000) return eModalityDSDConfocal;
    return eModalityNone;
}

CKzStringW SKzPicturePlaneDesc::PlaneModalityHumanReadableShort(unsigned long suppress) const
{
    const kz_uint64 m = uiModalityMask;
    CKzStringW t;
    if (m & 0x3E00) {
        switch (m & 0x3F00) {
        case 0x200: t = L"Laser Scan Confocal"; break;
        case 0x400: t = L"Spin Disk Confocal"; break;
        case 0x800: t = L"Swept Field Confocal (Slit)"; break;
        case 0x1000: t = L"Swept Field Confocal (Pinholes)"; break;
        case 0x2000: t = L"DSD Confocal"; break;
        default: break;
        }
    } else if ((m & static_cast<kz_uint64>(suppress)) == 0) {
        if ((m & 0x3) == 0x1) t = L"Widefield Fluorescence";
        else if ((m & 0x3) == 0x2) t = L"Brightfield";
    }
    auto add = [&t](const wchar_t* item) {
        if (!t.IsEmpty()) t += L", ";
        t += item;
    };
    if ((m & 0x30) == 0x10) add(L"Phase Contrast");
    else if ((m & 0x30) == 0x20) add(L"DI Contrast");
    static const struct {
        kz_uint64 bit;
        const wchar_t* text;
    } items[] = {{MODALITY_MULTIPHOTON, L"Multi Photon"}, {MODALITY_SPECTRAL, L"SD"}, {MODALITY_QIRA_IF, L"QIRA IF"},
                 {MODALITY_QIRA_NF, L"QIRA NF"}, {MODALITY_TD, L"TD"}, {MODALITY_NDD, L"NDD"},
                 {MODALITY_VIRTUAL_FILTER, L"VF"}, {MODALITY_PMT, L"PMT"}, {MODALITY_GAASP, L"GaAsP"},
                 {MODALITY_REMAINDER, L"Remainder"}, {MODALITY_AUX, L"AUX"}, {MODALITY_TIRF, L"TIRF"},
                 {MODALITY_STRUCTURED_ILLUMINATION, L"Structured Illumination"}};
    for (const auto& it : items)
        if (m & it.bit) add(it.text);
    return t;
}

namespace {

void Validate(SKzPicturePlaneDesc& d)
{
    if (!SKzPicturePlaneDesc::IsModalityMaskValid(static_cast<unsigned long>(d.uiModalityMask)))
        d.uiModalityMask = d.uiCompCount == 3 ? 0x2 : 0x1;
}

void LoadProbeAndPath(SKzPicturePlaneDesc& d, const CKzVariant& node)
{
    if (CKzFluorescentProbe::LoadFromVariant(d.pFluorescentProbe, node[L"pFluorescentProbe"]) != KZ_OK)
        kzmeta::MetaFailure(__LINE__);
    if (CKzOpticalFilterPath::LoadFromVariant(d.pFilterPath, node[L"pFilterPath"]) != KZ_OK)
        kzmeta::MetaFailure(__LINE__);
}

} // namespace

int SKzPicturePlaneDesc::SaveToVariant(CKzVariant& node, const SKzPicturePlaneDesc& d)
{
    kzmeta::BeginStruct(node, "RKzPicturePlaneDescV1_2");
    node[L"uiCompCount"] = static_cast<unsigned int>(d.uiCompCount);
    node[L"uiSampleIndex"] = static_cast<unsigned int>(d.uiSampleIndex);
    node[L"uiModalityMask"] = static_cast<unsigned long>(d.uiModalityMask);
    if (CKzFluorescentProbe::SaveToVariant(node[L"pFluorescentProbe"], d.pFluorescentProbe) != KZ_OK)
        kzmeta::MetaFailure(__LINE__);
    if (CKzOpticalFilterPath::SaveToVariant(node[L"pFilterPath"], d.pFilterPath) != KZ_OK)
        kzmeta::MetaFailure(__LINE__);
    node[L"dLampVoltage"] = d.dLampVoltage;
    node[L"dFadingCorr"] = d.dFadingCorr;
    node[L"uiColor"] = static_cast<unsigned int>(d.uiColor);
    node[L"sDescription"] = d.sDescription;
    node[L"dAcqTime"] = d.dAcqTime;
    node[L"dPinholeDiameter"] = d.dPinholeDiameter;
    node[L"iChannelSeriesIndex"] = static_cast<int>(d.iChannelSeriesIndex);
    node[L"dObjCalibration1to1"] = d.dObjCalibration1to1;
    node[L"sizeObjFullChip.cx"] = static_cast<int>(d.sizeObjFullChip.cx);
    node[L"sizeObjFullChip.cy"] = static_cast<int>(d.sizeObjFullChip.cy);
    return KZ_OK;
}

int SKzPicturePlaneDesc::LoadFromVariant(SKzPicturePlaneDesc& d, const CKzVariant& node)
{
    const bool v0 = kzmeta::IsRunType(node, "RKzPicturePlaneDesc");
    const bool v1 = kzmeta::IsRunType(node, "RKzPicturePlaneDescV1_1");
    const bool v2 = kzmeta::IsRunType(node, "RKzPicturePlaneDescV1_2");
    if (!v0 && !v1 && !v2) return KZ_ERR_INVALID_ARG;
    d.uiCompCount = node[L"uiCompCount"].GetKz_uint32();
    if (v2) {
        d.uiSampleIndex = node[L"uiSampleIndex"].GetKz_uint32();
        d.uiModalityMask = node[L"uiModalityMask"].GetKz_uint64();
    } else {
        d.uiModalityMask = TranslateModalityToMask(static_cast<EModality>(node[L"eModality"].GetKz_uint32()));
    }
    LoadProbeAndPath(d, node);
    d.dLampVoltage = node[L"dLampVoltage"].GetDouble();
    d.dFadingCorr = node[L"dFadingCorr"].GetDouble();
    d.uiColor = node[L"uiColor"].GetKz_uint32();
    d.sDescription = node[L"sDescription"].GetCKzStringW();
    if (v0) {
        d.iChannelSeriesIndex = -1;
        d.uiSampleIndex = 0;
        d.dAcqTime = -1.0;
        d.dPinholeDiameter = -1.0;
        return KZ_OK;   // the oldest version keeps its mask unvalidated
    }
    d.dAcqTime = node[L"dAcqTime"].GetDouble();
    if (v1) {
        d.dPinholeDiameter = -1.0;
        d.iChannelSeriesIndex = -1;
        d.uiSampleIndex = 0;
    } else {
        d.dPinholeDiameter = node[L"dPinholeDiameter"].GetDouble();
        d.iChannelSeriesIndex = node[L"iChannelSeriesIndex"].GetKz_int32();
    }
    d.dObjCalibration1to1 = node[L"dObjCalibration1to1"].GetDouble();
    d.sizeObjFullChip.cx = node[L"sizeObjFullChip.cx"].GetKz_int32();
    d.sizeObjFullChip.cy = node[L"sizeObjFullChip.cy"].GetKz_int32();
    Validate(d);
    return KZ_OK;
}

int SKzPicturePlaneDesc::SaveToLiteVariant(CKzLiteVariantW& w, const SKzPicturePlaneDesc& d)
{
    int result = KZ_OK;
    w.Set(static_cast<unsigned int>(d.uiCompCount), L"uiCompCount");
    w.Set(static_cast<unsigned int>(d.uiSampleIndex), L"uiSampleIndex");
    w.Set(static_cast<unsigned long>(d.uiModalityMask), L"uiModalityMask");
    if (w.LevelBegin(L"pFluorescentProbe") == KZ_OK) {
        result = CKzFluorescentProbe::SaveToVariantNew(w, d.pFluorescentProbe);
        w.LevelEnd();
    }
    if (w.LevelBegin(L"pFilterPath") == KZ_OK) {
        result = CKzOpticalFilterPath::SaveToLiteVariant(w, d.pFilterPath);
        w.LevelEnd();
    }
    w.Set(d.dLampVoltage, L"dLampVoltage");
    w.Set(d.dFadingCorr, L"dFadingCorr");
    w.Set(static_cast<unsigned int>(d.uiColor), L"uiColor");
    w.Set(d.sDescription.GetString(), L"sDescription");
    w.Set(d.dAcqTime, L"dAcqTime");
    w.Set(d.dPinholeDiameter, L"dPinholeDiameter");
    w.Set(static_cast<int>(d.iChannelSeriesIndex), L"iChannelSeriesIndex");
    w.Set(d.dObjCalibration1to1, L"dObjCalibration1to1");
    w.Set(static_cast<int>(d.sizeObjFullChip.cx), L"sizeObjFullChip.cx");
    w.Set(static_cast<int>(d.sizeObjFullChip.cy), L"sizeObjFullChip.cy");
    return result;
}

int SKzPicturePlaneDesc::LoadFromLiteVariant(SKzPicturePlaneDesc& d, CKzLiteVariantR& r)
{
    d.uiCompCount = r.Get(L"uiCompCount", 0u);
    d.uiSampleIndex = r.Get(L"uiSampleIndex", 0u);
    if (r.IsValueSet(L"eModality"))
        d.uiModalityMask = TranslateModalityToMask(static_cast<EModality>(r.Get(L"eModality", 0u)));
    else
        d.uiModalityMask = r.Get(L"uiModalityMask", 1ul);
    if (r.LevelBegin(L"pFluorescentProbe") == KZ_OK) {
        if (CKzFluorescentProbe::LoadFromVariantNew(d.pFluorescentProbe, r) != KZ_OK) kzmeta::MetaFailure(__LINE__);
        r.LevelEnd();
    }
    if (r.LevelBegin(L"pFilterPath") == KZ_OK) {
        if (CKzOpticalFilterPath::LoadFromLiteVariant(d.pFilterPath, r) != KZ_OK) kzmeta::MetaFailure(__LINE__);
        r.LevelEnd();
    }
    d.dLampVoltage = r.Get(L"dLampVoltage", 0.0);
    d.dFadingCorr = r.Get(L"dFadingCorr", 0.0);
    d.uiColor = r.Get(L"uiColor", 0u);
    r.GetCKzStringW(d.sDescription, L"sDescription", L"");
    d.dAcqTime = r.Get(L"dAcqTime", 0.0);
    d.dPinholeDiameter = r.Get(L"dPinholeDiameter", -1.0);
    d.iChannelSeriesIndex = r.Get(L"iChannelSeriesIndex", -1);
    d.dObjCalibration1to1 = r.Get(L"dObjCalibration1to1", 0.0);
    d.sizeObjFullChip.cx = r.Get(L"sizeObjFullChip.cx", 0);
    d.sizeObjFullChip.cy = r.Get(L"sizeObjFullChip.cy", 0);
    Validate(d);
    return KZ_OK;
}

int SKzPicturePlaneDesc::SaveToLiteVariantOld(CKzLiteVariantW& w, const SKzPicturePlanes& s, unsigned i)
{
    if (i >= s.uiCount || !s.pPlanes) return KZ_ERR_FAILED;
    const SKzPicturePlaneDesc& d = s.pPlanes[i];
    const SKzSampleSetting* ss = s.GetPlaneSettings(i);
    int result = KZ_OK;
    w.Set(static_cast<unsigned int>(d.uiCompCount), L"uiCompCount");
    w.Set(SKzPicturePlanes::GetPlaneOCName(s, i, 0).GetString(), L"sOpticalConfigName");
    if (i == 0 && ss && ss->pDeviceSetting && SKzSampleSetting::sDeviceHandlers.pfnSaveToLiteVariant) {
        if (w.LevelBegin(L"sOpticalConfigFull") == KZ_OK) {
            auto save = SKzSampleSetting::sDeviceHandlers.DeviceSaveToLiteVariant();
            save(w, ss->pDeviceSetting, 0);
            w.LevelEnd();
        }
    }
    w.Set(static_cast<unsigned int>(TranslateMaskToModality(static_cast<unsigned long>(d.uiModalityMask))), L"eModality");
    if (w.LevelBegin(L"pFluorescentProbe") == KZ_OK) {
        result = CKzFluorescentProbe::SaveToVariantNew(w, d.pFluorescentProbe);
        w.LevelEnd();
    }
    if (w.LevelBegin(L"pFilterPath") == KZ_OK) {
        result = CKzOpticalFilterPath::SaveToLiteVariant(w, d.pFilterPath);
        w.LevelEnd();
    }
    if (i == 0 && ss) {
        if (w.LevelBegin(L"sCameraSetting") == KZ_OK) {
            SKzCameraSetting cam;
            if (SKzSampleSetting::TranslateSettings(*ss, cam) == KZ_OK) SKzCameraSetting::SaveToLiteVariant(w, cam);
            w.LevelEnd();
        }
    }
    w.Set(d.dLampVoltage, L"dLampVoltage");
    w.Set(d.dFadingCorr, L"dFadingCorr");
    w.Set(static_cast<unsigned int>(d.uiColor), L"uiColor");
    w.Set(d.sDescription.GetString(), L"sDescription");
    w.Set(d.dAcqTime, L"dAcqTime");
    w.Set(d.dObjCalibration1to1, L"dObjCalibration1to1");
    w.Set(static_cast<int>(d.sizeObjFullChip.cx), L"sizeObjFullChip.cx");
    w.Set(static_cast<int>(d.sizeObjFullChip.cy), L"sizeObjFullChip.cy");
    return result;
}

int SKzPicturePlaneDesc::SaveToVariantOld(CKzVariant& node, const SKzPicturePlanes& s, unsigned i)
{
    if (i >= s.uiCount || !s.pPlanes) return KZ_ERR_FAILED;
    const SKzPicturePlaneDesc& d = s.pPlanes[i];
    const SKzSampleSetting* ss = s.GetPlaneSettings(i);
    kzmeta::BeginStruct(node, "RKzPicturePlaneDescV1_1");
    node[L"uiCompCount"] = static_cast<unsigned int>(d.uiCompCount);
    node[L"eModality"] = static_cast<unsigned int>(TranslateMaskToModality(static_cast<unsigned long>(d.uiModalityMask)));
    node[L"sOpticalConfigName"] = SKzPicturePlanes::GetPlaneOCName(s, i, 0);
    if (i == 0 && ss && ss->pDeviceSetting && SKzSampleSetting::sDeviceHandlers.pfnSaveToVariant)
        SKzSampleSetting::sDeviceHandlers.pfnSaveToVariant(node[L"sOpticalConfigFull"], ss->pDeviceSetting);
    if (i == 0 && ss) {
        SKzCameraSetting cam;
        if (SKzSampleSetting::TranslateSettings(*ss, cam) == KZ_OK)
            SKzCameraSetting::SaveToVariant(node[L"sCameraSetting"], cam);
    }
    if (CKzFluorescentProbe::SaveToVariant(node[L"pFluorescentProbe"], d.pFluorescentProbe) != KZ_OK)
        kzmeta::MetaFailure(__LINE__);
    if (CKzOpticalFilterPath::SaveToVariant(node[L"pFilterPath"], d.pFilterPath) != KZ_OK)
        kzmeta::MetaFailure(__LINE__);
    node[L"dLampVoltage"] = d.dLampVoltage;
    node[L"dFadingCorr"] = d.dFadingCorr;
    node[L"uiColor"] = static_cast<unsigned int>(d.uiColor);
    node[L"sDescription"] = d.sDescription;
    node[L"dAcqTime"] = d.dAcqTime;
    return KZ_OK;
}
