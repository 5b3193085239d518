// The picture metadata record: defaults, calibration, copies, both stored
// forms with golden texts, older keys and hostile counts; and the interface
// the experiment model builds on.
#include "host_test_support.h"

#include <cstddef>
#include <type_traits>

using namespace kzmt;

namespace {

class Metadata : public NoHost {};
class MetadataHost : public HostTables {};

TEST_F(Metadata, ConstructorAndDefaultValues)
{
    SKzPictureMetadata md;
    struct Row {
        const char* name;
        double SKzPictureMetadata::*f;
        double fresh, def;
    } rows[] = {
        {"dTimeMSec", &SKzPictureMetadata::dTimeMSec, -1, 0},     {"dXPos", &SKzPictureMetadata::dXPos, -1, 0},
        {"dYPos", &SKzPictureMetadata::dYPos, -1, 0},             {"dZPos", &SKzPictureMetadata::dZPos, -1, 0},
        {"dAngle", &SKzPictureMetadata::dAngle, -1, 0},           {"dTemperK", &SKzPictureMetadata::dTemperK, -1, 293},
        {"dCalibration", &SKzPictureMetadata::dCalibration, -1, -1}, {"dAspect", &SKzPictureMetadata::dAspect, -1, -1},
        {"dObjectiveMag", &SKzPictureMetadata::dObjectiveMag, -1, -1}, {"dObjectiveNA", &SKzPictureMetadata::dObjectiveNA, -1, -1},
        {"dRefractIndex1", &SKzPictureMetadata::dRefractIndex1, -1, -1}, {"dRefractIndex2", &SKzPictureMetadata::dRefractIndex2, -1, -1},
        {"dZoom", &SKzPictureMetadata::dZoom, -1, -1},             {"dProjectiveMag", &SKzPictureMetadata::dProjectiveMag, -1, -1},
        {"dTimeAxisCalibration", &SKzPictureMetadata::dTimeAxisCalibration, -1, -1},
        {"dZAxisCalibration", &SKzPictureMetadata::dZAxisCalibration, -1, -1},
        {"dStgLgCT11", &SKzPictureMetadata::dStgLgCT11, 1, 1},     {"dStgLgCT21", &SKzPictureMetadata::dStgLgCT21, 0, 0},
        {"dStgLgCT12", &SKzPictureMetadata::dStgLgCT12, 0, 0},     {"dStgLgCT22", &SKzPictureMetadata::dStgLgCT22, 1, 1},
    };
    for (const Row& r : rows) EXPECT_EQ(r.fresh, md.*r.f) << r.name;
    EXPECT_EQ(-1.0, md.dTimeAbsolute);
    EXPECT_EQ(0xFFFFFFFFu, md.uiRow);
    EXPECT_EQ(0xFFFFFFFFu, md.uiCol);
    EXPECT_EQ(0, md.ePictureXAxis);
    EXPECT_EQ(1, md.ePictureYAxis);
    EXPECT_EQ(nullptr, md.pPhysicalVar);
    EXPECT_EQ(0u, md.uiPhysicalVarCount + md.sPicturePlanes.uiCount + md.sPicturePlanes.uiSampleCount);

    for (const Row& r : rows) md.*r.f = 55;
    md.wsObjectiveName = L"x";
    ASSERT_EQ(0, SKzPicturePlanes::Alloc(md.sPicturePlanes, 1, 1));
    md.SetToDefault();
    for (const Row& r : rows) EXPECT_EQ(r.def, md.*r.f) << r.name;
    EXPECT_EQ(0u, md.uiRow + md.uiCol);
    EXPECT_EQ(L"", W(md.wsObjectiveName));
    EXPECT_EQ(nullptr, md.sPicturePlanes.pPlanes);
    // The current time as a Julian day (this century), not milliseconds.
    EXPECT_GT(md.dTimeAbsolute, 2460000.0);
    EXPECT_LT(md.dTimeAbsolute, 2500000.0);
}

TEST_F(Metadata, SetCalibration)
{
    struct Case {
        double cal, aspect;
        const wchar_t* obj;
        double fx, fy, proj, zoom;
        double eCal, eAspect, eProj, eZoom;
        bool calibrated;
        const wchar_t* eObj;
    } cases[] = {
        {0.5, 1.0, nullptr, 2.0, 2.0, 0.0, 4.0, 0.25, 1.0, 1.0, 4.0, true, L""},
        {0.5, 2.0, L"Plan 40x", -1, 3, 2, std::nan(""), 0.25, 6.0, 2.0, 1.0, true, L"Plan 40x"},
        {1.0, 1.0, L"o", 2.0, 1.0, 1.0, 1.0, 2.0, 0.5, 1.0, 1.0, true, L"o"},
        {0.0, 1.0, L"o", 1.0, 1.0, 1.0, 1.0, 0.0, 1.0, 1.0, 1.0, false, L"o"},
    };
    for (const Case& c : cases) {
        SKzPictureMetadata md;
        md.ePictureXAxis = 5;
        md.ePictureYAxis = 6;
        md.dTimeAxisCalibration = md.dZAxisCalibration = 3;
        EXPECT_EQ(0, SKzPictureMetadata::SetCalibration(md, c.cal, c.aspect, c.obj, c.fx, c.fy, c.proj, c.zoom));
        EXPECT_EQ(c.eCal, md.dCalibration);
        EXPECT_EQ(c.eAspect, md.dAspect);
        EXPECT_EQ(c.eProj, md.dProjectiveMag);
        EXPECT_EQ(c.eZoom, md.dZoom);
        EXPECT_EQ(c.calibrated, md.bCalibrated);
        EXPECT_EQ(c.eObj, W(md.wsObjectiveName));
        EXPECT_EQ(c.calibrated ? 5 : 0, md.ePictureXAxis);
        EXPECT_EQ(c.calibrated ? 6 : 1, md.ePictureYAxis);
        EXPECT_EQ(c.calibrated ? 3.0 : -1.0, md.dTimeAxisCalibration);
        EXPECT_EQ(c.calibrated ? 3.0 : -1.0, md.dZAxisCalibration);
    }
}

void SetVars(SKzPictureMetadata& md, std::initializer_list<const wchar_t*> names)
{
    delete[] md.pPhysicalVar;
    md.pPhysicalVar = names.size() ? new SKzPhysicalVar[names.size()] : nullptr;
    md.uiPhysicalVarCount = (unsigned)names.size();
    unsigned i = 0;
    for (const wchar_t* n : names) {
        md.pPhysicalVar[i].wsName = n;
        md.pPhysicalVar[i].uiIntepretation = i + 1;
        md.pPhysicalVar[i].dValue = 0.5 * i;
        ++i;
    }
}

// The record of the golden texts: two planes with probes and (empty) paths,
// two sample settings, one physical variable, a non-identity stage matrix.
void Fill(SKzPictureMetadata& md)
{
    md.dTimeAbsolute = 2460000.5;
    md.dTimeMSec = 12.5;
    md.dXPos = 100;
    md.dYPos = -200;
    md.uiRow = 3;
    md.uiCol = 4;
    md.dZPos = 1.5;
    md.bZPosAbsolute = true;
    md.dAngle = 90;
    md.dTemperK = 300;
    md.dCalibration = 0.5;
    md.dAspect = 1;
    md.bCalibrated = true;
    md.wsObjectiveName = L"Plan 20x";
    md.dObjectiveMag = 20;
    md.dObjectiveNA = 0.75;
    md.dRefractIndex1 = 1;
    md.dRefractIndex2 = 1.5;
    md.dZoom = 2;
    md.dProjectiveMag = 1;
    SetVars(md, {L"Temp"});
    md.pPhysicalVar[0].dValue = 37.5;
    md.wsCustomData = L"note";
    md.ePictureXAxis = 2;
    md.ePictureYAxis = 3;
    md.dTimeAxisCalibration = 10;
    md.dZAxisCalibration = 0.25;
    md.dStgLgCT11 = 1;
    md.dStgLgCT21 = 2;
    md.dStgLgCT12 = 3;
    md.dStgLgCT22 = 4;
    SKzPicturePlanes& s = md.sPicturePlanes;
    SKzPicturePlanes::Free(s);
    ASSERT_EQ(0, SKzPicturePlanes::Alloc(s, 2, 2));
    s.uiCompCount = 2;
    s.sDescription = L"set";
    s.pPlanes[0].sDescription = L"A";
    s.pPlanes[0].uiColor = 255;
    s.pPlanes[0].pFluorescentProbe.m_sName = L"PA";
    s.pPlanes[0].pFluorescentProbe.m_uiColor = 1;
    s.pPlanes[1].uiSampleIndex = 1;
    s.pPlanes[1].uiModalityMask = 0x102;
    s.pPlanes[1].sDescription = L"B";
    s.pPlanes[1].uiColor = 65280;
    s.pPlanes[1].pFluorescentProbe.m_sName = L"PB";
    s.pPlanes[1].pFluorescentProbe.m_uiColor = 2;
    SKzSampleSetting::SetOCName(s.pSamples[0], 1, CKzStringW(L"FITC"));
    s.pSamples[0].dExposureTime = 100;
    SKzSampleSetting::SetOCName(s.pSamples[1], 2, CKzStringW(L"TL"));
    s.pSamples[1].dExposureTime = 10;
    if (s.pSamples[0].pCameraSetting) {
        CamSetTail(s.pSamples[0].pCameraSetting, 5);
        CamSetTail(s.pSamples[1].pCameraSetting, 6);
        static_cast<HostDevice*>(s.pSamples[0].pDeviceSetting)->value = 7;
        static_cast<HostDevice*>(s.pSamples[1].pDeviceSetting)->value = 8;
    }
}

::testing::AssertionResult SameMetadata(const SKzPictureMetadata& a, const SKzPictureMetadata& b)
{
#define KZMT_F(f)                                                                                                      \
    if (!SameDouble(a.f, b.f)) return ::testing::AssertionFailure() << #f " differs";
    KZMT_F(dTimeAbsolute) KZMT_F(dTimeMSec) KZMT_F(dXPos) KZMT_F(dYPos) KZMT_F(uiRow) KZMT_F(uiCol) KZMT_F(dZPos)
    KZMT_F(bZPosAbsolute) KZMT_F(dAngle) KZMT_F(dTemperK) KZMT_F(dCalibration) KZMT_F(dAspect) KZMT_F(bCalibrated)
    KZMT_F(dObjectiveMag) KZMT_F(dObjectiveNA) KZMT_F(dRefractIndex1) KZMT_F(dRefractIndex2) KZMT_F(dZoom)
    KZMT_F(dProjectiveMag) KZMT_F(uiPhysicalVarCount) KZMT_F(ePictureXAxis) KZMT_F(ePictureYAxis)
    KZMT_F(dTimeAxisCalibration) KZMT_F(dZAxisCalibration) KZMT_F(dStgLgCT11) KZMT_F(dStgLgCT21) KZMT_F(dStgLgCT12)
    KZMT_F(dStgLgCT22)
#undef KZMT_F
    if (W(a.wsObjectiveName) != W(b.wsObjectiveName) || W(a.wsCustomData) != W(b.wsCustomData))
        return ::testing::AssertionFailure() << "texts differ";
    for (unsigned i = 0; i < a.uiPhysicalVarCount; ++i) {
        const SKzPhysicalVar &p = a.pPhysicalVar[i], &q = b.pPhysicalVar[i];
        if (W(p.wsName) != W(q.wsName) || p.uiIntepretation != q.uiIntepretation || p.dValue != q.dValue)
            return ::testing::AssertionFailure() << "physical variable " << i;
    }
    return SameSet(a.sPicturePlanes, b.sPicturePlanes);
}

TEST_F(Metadata, CopyIsDeepOrRefusesAsThePlaneSetDoes)
{
    SKzPictureMetadata a;
    Fill(a);
    SKzPictureMetadata b;
    EXPECT_EQ(0, SKzPictureMetadata::Copy(b, a));
    EXPECT_TRUE(SameMetadata(a, b));
    EXPECT_NE(a.pPhysicalVar, b.pPhysicalVar);
    SKzPictureMetadata c(a);
    EXPECT_TRUE(SameMetadata(a, c));
    EXPECT_EQ(0, SKzPictureMetadata::Copy(a, a));
    EXPECT_TRUE(SameMetadata(b, a));

    // A source without planes: -4; scalars, description and representation
    // copied, the destination keeps its planes and sample settings and holds
    // no physical variables.
    SKzPictureMetadata none;
    none.dXPos = 42;
    SetVars(none, {L"v1", L"v2"});
    none.sPicturePlanes.sDescription = L"empty";
    none.sPicturePlanes.eRepresentation = 2;
    SKzPicturePlaneDesc* planes = b.sPicturePlanes.pPlanes;
    EXPECT_EQ(-4, SKzPictureMetadata::Copy(b, none));
    EXPECT_EQ(42, b.dXPos);
    EXPECT_EQ(L"empty", W(b.sPicturePlanes.sDescription));
    EXPECT_EQ(2u, b.sPicturePlanes.eRepresentation);
    EXPECT_EQ(planes, b.sPicturePlanes.pPlanes);
    EXPECT_EQ(2u, b.sPicturePlanes.uiSampleCount);
    EXPECT_EQ(0u, b.uiPhysicalVarCount);
    EXPECT_EQ(nullptr, b.pPhysicalVar);
    SKzPictureMetadata d(none);   // the constructor reports nothing
    EXPECT_EQ(42, d.dXPos);
}

TEST_F(MetadataHost, FullRecordSurvivesBothFormsFieldByField)
{
    SKzPictureMetadata a;
    Fill(a);
    for (int form = 0; form < 2; ++form) {
        SCOPED_TRACE(form ? "lite" : "variant");
        SKzPictureMetadata back;
        if (form) {
            CKzLiteVariantW w;
            EXPECT_EQ(0, SKzPictureMetadata::SaveToLiteVariant(w, a));
            CKzLiteVariantR r;
            w.Finalize(r);
            EXPECT_EQ(0, SKzPictureMetadata::LoadFromLiteVariant(back, r));
        } else {
            CKzVariant node(CKzListVariant(), L"md");
            EXPECT_EQ(0, SKzPictureMetadata::SaveToVariant(node, a));
            EXPECT_EQ(0, SKzPictureMetadata::LoadFromVariant(back, ThroughXml(node)));
        }
        EXPECT_TRUE(SameMetadata(a, back));
        EXPECT_EQ(7, static_cast<HostDevice*>(back.sPicturePlanes.pSamples[0].pDeviceSetting)->value);
        EXPECT_EQ(6, CamTail(back.sPicturePlanes.pSamples[1].pCameraSetting));
    }
}

// ---- golden texts --------------------------------------------------------------------

std::string X(const char* n, const char* t, const char* v) { return std::string("<") + n + " runtype=\"" + t + "\" value=\"" + v + "\"/>"; }
std::string O(const char* n, const char* rt) { return std::string("<") + n + " runtype=\"" + rt + "\">"; }
std::string C(const char* n) { return std::string("</") + n + ">"; }
std::string D(const char* n, const char* v) { return X(n, "double", v); }
std::string U(const char* n, const char* v) { return X(n, "kz_uint32", v); }
std::string I(const char* n, const char* v) { return X(n, "kz_int32", v); }
std::string S(const char* n, const char* v) { return X(n, "CKzStringW", v); }
std::string B(const char* n, const char* v) { return X(n, "bool", v); }
const char* kZeros = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";   // 32 zero bytes

std::string XmlEmptySpectrum(const char* n)
{
    return O(n, "RKzOpticalFilterSpectrum") + U("uiCount", "0") + O("pPoint", "CKzListVariant") +
           O("Point0", "RKzOFSpectrumPoint") + U("eType", "0") + D("dWavelength", "0") + D("dTValue", "0") +
           C("Point0") + C("pPoint") + B("bPoints", "false") + C(n);
}

std::string XmlProbeAndPath(const char* probe, const char* colour)
{
    return O("pFluorescentProbe", "RKzFluorescentProbe") + S("m_sName", probe) + U("m_uiColor", colour) +
           XmlEmptySpectrum("m_ExcitationSpectrum") + XmlEmptySpectrum("m_EmissionSpectrum") + C("pFluorescentProbe") +
           O("pFilterPath", "RKzOpticalFilterPath") + S("m_sDescr", "") + U("m_uiCount", "0") +
           O("m_pFilter", "CKzListVariant") + C("m_pFilter") + C("pFilterPath");
}

std::string XmlLegacyCamera()
{
    std::string t = O("sCameraSetting", "RKzCameraSetting") + S("sCameraName", "") + D("dExposure", "100") +
                    I("iOffset", "-1") + D("dGain", "-1") + D("dGamma", "-1");
    for (const char* c : {"Red", "Green", "Blue"}) {
        t += D((std::string("dExposure") + c).c_str(), "-1") + I((std::string("iOffset") + c).c_str(), "-1") +
             D((std::string("dGain") + c).c_str(), "-1") + D((std::string("dGamma") + c).c_str(), "-1");
    }
    return t + S("sCameraFormatName", "") + D("dCamChipSizeX", "0") + D("dCamChipSizeY", "0") +
           U("uiCamPxlCountX", "0") + U("uiCamPxlCountY", "0") + D("dCamBinningX", "0") + D("dCamBinningY", "0") +
           O("rcCamChipSrc", "CKzListVariant") + I("left", "0") + I("right", "0") + I("top", "0") + I("bottom", "0") +
           C("rcCamChipSrc") + B("bFlippedUpDown", "false") + B("bFlippedLeftRight", "false") + S("sSpecSettings", "") +
           C("sCameraSetting");
}

std::string XmlPlane(const char* n, const char* sample, const char* mask, const char* probe, const char* pcolour,
                     const char* colour, const char* desc)
{
    return O(n, "RKzPicturePlaneDescV1_2") + U("uiCompCount", "1") + U("uiSampleIndex", sample) +
           X("uiModalityMask", "kz_uint64", mask) + XmlProbeAndPath(probe, pcolour) + D("dLampVoltage", "0") +
           D("dFadingCorr", "0") + U("uiColor", colour) + S("sDescription", desc) + D("dAcqTime", "0") +
           D("dPinholeDiameter", "-1") + I("iChannelSeriesIndex", "-1") + D("dObjCalibration1to1", "0") +
           I("sizeObjFullChip.cx", "0") + I("sizeObjFullChip.cy", "0") + C(n);
}

std::string XmlSample(const char* n, const char* tail, const char* dev, const char* key, const char* name, const char* exposure)
{
    return O(n, "RKzSampleSettings") + O("pCameraSetting", "CKzListVariant") + I("tail", tail) + C("pCameraSetting") +
           O("pDeviceSetting", "CKzListVariant") + I("devValue", dev) + C("pDeviceSetting") +
           O("sOpticalConfigs", "CKzListVariant") + S(key, name) + C("sOpticalConfigs") + S("sSpecSettings", "") +
           D("dExposureTime", exposure) + U("uiModeFQ", "1") + X("baScanArea", "CKzByteArray", "") +
           O("matCameraToStage", "CKzListVariant") + U("Columns", "2") + U("Rows", "2") +
           X("Data", "CKzByteArray", kZeros) + C("matCameraToStage") + D("dRelayLensZoom", "1") + C(n);
}

// The lite tag text: levels are lists, doubles "%.15f", the 64-bit mask kz_uint64.
std::string L_(const char* n, const char* t, const char* v) { return X(n, t, v); }
std::string LO(const char* n) { return O(n, "CKzListVariant"); }
std::string LD(const char* n, const char* v) { return X(n, "double", v); }
const char* F0 = "0.000000000000000";
const char* F1 = "1.000000000000000";
const char* FM1 = "-1.000000000000000";

std::string LiteEmptySpectrum(const char* n)
{
    return LO(n) + U("uiCount", "0") + LO("pPoint") + C("pPoint") + B("bPoints", "false") + C(n);
}

std::string LitePlane(const char* n, const char* sample, const char* mask, const char* probe, const char* pcolour,
                      const char* colour, const char* desc)
{
    return LO(n) + U("uiCompCount", "1") + U("uiSampleIndex", sample) + X("uiModalityMask", "kz_uint64", mask) +
           LO("pFluorescentProbe") + S("m_sName", probe) + U("m_uiColor", pcolour) +
           LiteEmptySpectrum("m_ExcitationSpectrum") + LiteEmptySpectrum("m_EmissionSpectrum") + C("pFluorescentProbe") +
           LO("pFilterPath") + S("m_sDescr", "") + U("m_uiCount", "0") + C("pFilterPath") + LD("dLampVoltage", F0) +
           LD("dFadingCorr", F0) + U("uiColor", colour) + S("sDescription", desc) + LD("dAcqTime", F0) +
           LD("dPinholeDiameter", FM1) + I("iChannelSeriesIndex", "-1") + LD("dObjCalibration1to1", F0) +
           I("sizeObjFullChip.cx", "0") + I("sizeObjFullChip.cy", "0") + C(n);
}

std::string LiteSample(const char* n, const char* tail, const char* dev, const char* key, const char* name,
                       const char* exposure)
{
    return LO(n) + LO("pCameraSetting") + I("tail", tail) + C("pCameraSetting") + LO("pDeviceSetting") +
           I("devValue", dev) + C("pDeviceSetting") + U("uiOpticalConfigs", "1") + LO("sOpticalConfigs") +
           LO("no_name") + U("uiOCTypeKey", key) + S("sOpticalConfigName", name) + C("no_name") +
           C("sOpticalConfigs") + S("sSpecSettings", "") + LD("dExposureTime", exposure) + U("uiModeFQ", "1") +
           X("baScanArea", "CKzByteArray", "") + LO("matCameraToStage") + U("Columns", "2") + U("Rows", "2") +
           X("Data", "CKzByteArray", kZeros) + C("matCameraToStage") + LD("dRelayLensZoom", F1) + C(n);
}

TEST_F(MetadataHost, GoldenTexts)
{
    SKzPictureMetadata md;
    Fill(md);
    const std::string xml =
        O("md", "RKzPictureMetadata") + D("dTimeMSec", "12.5") + D("dTimeAbsolute", "2460000.5") + D("dXPos", "100") +
        D("dYPos", "-200") + U("uiRow", "3") + U("uiCol", "4") + D("dZPos", "1.5") + B("bZPosAbsolute", "true") +
        D("dAngle", "90") + O("sPicturePlanes", "RKzPicturePlanes") + U("uiCount", "2") + U("uiCompCount", "2") +
        O("sPlane", "CKzListVariant") +
        /* legacy plane 0 */ O("a0", "RKzPicturePlaneDescV1_1") + U("uiCompCount", "1") + U("eModality", "0") +
        S("sOpticalConfigName", "FITC") + O("sOpticalConfigFull", "CKzListVariant") + I("devValue", "7") +
        C("sOpticalConfigFull") + XmlLegacyCamera() + XmlProbeAndPath("PA", "1") + D("dLampVoltage", "0") +
        D("dFadingCorr", "0") + U("uiColor", "255") + S("sDescription", "A") + D("dAcqTime", "0") + C("a0") +
        /* legacy plane 1 */ O("a1", "RKzPicturePlaneDescV1_1") + U("uiCompCount", "1") + U("eModality", "1") +
        S("sOpticalConfigName", "TL") + XmlProbeAndPath("PB", "2") + D("dLampVoltage", "0") + D("dFadingCorr", "0") +
        U("uiColor", "65280") + S("sDescription", "B") + D("dAcqTime", "0") + C("a1") + C("sPlane") +
        O("sPlaneNew", "CKzListVariant") + XmlPlane("a0", "0", "1", "PA", "1", "255", "A") +
        XmlPlane("a1", "1", "258", "PB", "2", "65280", "B") + C("sPlaneNew") + U("uiSampleCount", "2") +
        O("sSampleSetting", "CKzListVariant") + XmlSample("a0", "5", "7", "_1", "FITC", "100") +
        XmlSample("a1", "6", "8", "_2", "TL", "10") + C("sSampleSetting") + S("sDescription", "set") +
        U("eRepresentation", "0") + C("sPicturePlanes") + D("dTemperK", "300") + D("dCalibration", "0.5") +
        D("dAspect", "1") + B("bCalibrated", "true") + S("wsObjectiveName", "Plan 20x") + D("dObjectiveMag", "20") +
        D("dObjectiveNA", "0.75") + D("dRefractIndex1", "1") + D("dRefractIndex2", "1.5") + D("dZoom", "2") +
        D("dProjectiveMag", "1") + U("uiPhysicalVarCount", "1") + O("pPhysicalVar", "CKzListVariant") +
        O("no_name", "RKzPictureMetadata.RKzPictureMetadata") + S("wsName", "Temp") + U("uiIntepretation", "1") +
        D("dValue", "37.5") + C("no_name") + C("pPhysicalVar") + S("wsCustomData", "note") + I("ePictureXAxis", "2") +
        I("ePictureYAxis", "3") + D("dTimeAxisCalibration", "10") + D("dZAxisCalibration", "0.25") +
        D("dStgLgCT11", "1") + D("dStgLgCT12", "3") + D("dStgLgCT21", "2") + D("dStgLgCT22", "4") + C("md");
    CKzVariant node(CKzListVariant(), L"md");
    SKzPictureMetadata::SaveToVariant(node, md);
    EXPECT_EQ(xml, Xml(node));

    const std::string lite =
        LO("SKzPictureMetadata") + LD("dTimeMSec", "12.500000000000000") +
        LD("dTimeAbsolute", "2460000.500000000000000") + LD("dXPos", "100.000000000000000") +
        LD("dYPos", "-200.000000000000000") + U("uiRow", "3") + U("uiCon20(L", "4") + LD("dZPos", "1.500000000000000") +
        B("bZPosAbsolute", "true") + LD("dAngle", "90.000000000000000") + LO("sPicturePlanes") + U("uiCount", "2") +
        U("uiCompCount", "2") + LO("sPlaneNew") + LitePlane("a0", "0", "1", "PA", "1", "255", "A") +
        LitePlane("a1", "1", "258", "PB", "2", "65280", "B") + C("sPlaneNew") + U("uiSampleCount", "2") +
        LO("sSampleSetting") + LiteSample("a0", "5", "7", "1", "FITC", "100.000000000000000") +
        LiteSample("a1", "6", "8", "2", "TL", "10.000000000000000") + C("sSampleSetting") + S("sDescription", "set") +
        U("eRepresentation", "0") + C("sPicturePlanes") + LD("dTemperK", "300.000000000000000") +
        LD("dCalibration", "0.500000000000000") + LD("dAspect", F1) + B("bCalibrated", "true") +
        S("wsObjectiveName", "Plan 20x") + LD("dObjectiveMag", "20.000000000000000") +
        LD("dObjectiveNA", "0.750000000000000") + LD("dRefractIndex1", F1) + LD("dRefractIndex2", "1.500000000000000") +
        LD("dZoom", "2.000000000000000") + LD("dProjectiveMag", F1) + U("uiPhysicalVarCount", "1") +
        LO("pPhysicalVar") + LO("no_name") + S("wsName", "Temp") + U("uiIntepretation", "1") +
        LD("dValue", "37.500000000000000") + C("no_name") + C("pPhysicalVar") + S("wsCustomData", "note") +
        I("ePictureXAxis", "2") + I("ePictureYAxis", "3") + LD("dTimeAxisCalibration", "10.000000000000000") +
        LD("dZAxisCalibration", "0.250000000000000") + LD("dStgLgCT11", F1) + LD("dStgLgCT12", "3.000000000000000") +
        LD("dStgLgCT21", "2.000000000000000") + LD("dStgLgCT22", "4.000000000000000") + C("SKzPictureMetadata");
    CKzLiteVariantW w;
    SKzPictureMetadata::SaveToLiteVariant(w, md);
    CKzLiteVariantR r;
    w.Finalize(r);
    CKzStringW tag;
    r.LiteVariantToXML(tag);
    EXPECT_EQ(std::wstring(lite.begin(), lite.end()), W(tag));
}

// ---- older keys and hostile counts ----------------------------------------------------

TEST_F(Metadata, LiteKeepsMissingKeysAndReadsOlderOnes)
{
    SKzPictureMetadata saved;
    Fill(saved);
    // A default record saved and loaded into another default record.
    {
        SKzPictureMetadata a, b;
        CKzLiteVariantW w;
        SKzPictureMetadata::SaveToLiteVariant(w, a);
        CKzLiteVariantR r;
        w.Finalize(r);
        EXPECT_EQ(0, SKzPictureMetadata::LoadFromLiteVariant(b, r));
        EXPECT_TRUE(SameMetadata(a, b));
    }
    struct Case {
        const char* name;
        LiteSave inner;
        void (*check)(const SKzPictureMetadata&);
    } cases[] = {
        {"no keys at all keeps everything", [](CKzLiteVariantW&) {},
         [](const SKzPictureMetadata& md) {
             EXPECT_EQ(2460000.5, md.dTimeAbsolute);
             EXPECT_EQ(4u, md.uiCol);
             EXPECT_EQ(2u, md.sPicturePlanes.uiCount);
             EXPECT_EQ(0u, md.uiPhysicalVarCount);   // no variable level: none
             EXPECT_EQ(nullptr, md.pPhysicalVar);
         }},
        {"pinhole radius doubles into every plane",
         [](CKzLiteVariantW& w) { w.Set(5.0, L"dPinholeRadius"); },
         [](const SKzPictureMetadata& md) {
             EXPECT_EQ(10.0, md.sPicturePlanes.pPlanes[0].dPinholeDiameter);
             EXPECT_EQ(10.0, md.sPicturePlanes.pPlanes[1].dPinholeDiameter);
         }},
        {"physical-variable count above the children",
         [](CKzLiteVariantW& w) {
             w.Set(3u, L"uiPhysicalVarCount");
             w.LevelBegin(L"pPhysicalVar");
             for (const wchar_t* n : {L"x", L"y"}) {
                 w.LevelBegin(L"");
                 w.Set(n, L"wsName");
                 w.LevelEnd();
             }
             w.LevelEnd();
         },
         [](const SKzPictureMetadata& md) {
             ASSERT_EQ(2u, md.uiPhysicalVarCount);
             EXPECT_EQ(L"y", W(md.pPhysicalVar[1].wsName));
         }},
        {"huge physical-variable count",
         [](CKzLiteVariantW& w) {
             w.Set(0xFFFFFFFFu, L"uiPhysicalVarCount");
             w.LevelBegin(L"pPhysicalVar");
             w.LevelEnd();
         },
         [](const SKzPictureMetadata& md) {
             EXPECT_EQ(0u, md.uiPhysicalVarCount);
             EXPECT_EQ(nullptr, md.pPhysicalVar);
         }},
        {"a child that is no level keeps an empty variable",
         [](CKzLiteVariantW& w) {
             w.Set(2u, L"uiPhysicalVarCount");
             w.LevelBegin(L"pPhysicalVar");
             w.Set(1, L"notALevel");
             w.LevelBegin(L"");
             w.Set(L"z", L"wsName");
             w.LevelEnd();
             w.LevelEnd();
         },
         [](const SKzPictureMetadata& md) {
             ASSERT_EQ(2u, md.uiPhysicalVarCount);
             EXPECT_EQ(L"", W(md.pPhysicalVar[0].wsName));
             EXPECT_EQ(L"z", W(md.pPhysicalVar[1].wsName));
         }},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        SKzPictureMetadata md;
        Fill(md);
        CKzLiteVariantW w;
        w.LevelBegin(L"SKzPictureMetadata");
        c.inner(w);
        w.LevelEnd();
        CKzLiteVariantR r;
        w.Finalize(r);
        EXPECT_EQ(0, SKzPictureMetadata::LoadFromLiteVariant(md, r));
        c.check(md);
    }
    // No level at all: unchanged.
    SKzPictureMetadata md;
    Fill(md);
    CKzLiteVariantR empty;
    EXPECT_EQ(0, SKzPictureMetadata::LoadFromLiteVariant(md, empty));
    EXPECT_TRUE(SameMetadata(saved, md));
}

// The structure node without one member, members in their order.
CKzVariant Without(const CKzVariant& n, const wchar_t* name)
{
    CKzVariant out(CKzVariantRunType(n.GetRunType().GetNameA()), n.GetName());
    for (int i = 0; i < n.GetCount(); ++i)
        if (n[i].GetName() != CKzStringW(name)) out[n[i].GetName().GetString()] = n[i];
    return out;
}

TEST_F(Metadata, VariantOlderKeysAndHostileCounts)
{
    SKzPictureMetadata a;
    Fill(a);
    CKzVariant node(CKzListVariant(), L"md");
    SKzPictureMetadata::SaveToVariant(node, a);
    struct Case {
        const char* name;
        void (*change)(CKzVariant&);
        double absolute, pinhole;
        unsigned vars;
    } cases[] = {
        {"as saved", [](CKzVariant&) {}, 2460000.5, -1, 1},
        {"no absolute time: kept", [](CKzVariant& n) { n = Without(n, L"dTimeAbsolute"); }, 77, -1, 1},
        {"pinhole radius 2", [](CKzVariant& n) { n[L"dPinholeRadius"] = 2.0; }, 2460000.5, 4, 1},
        {"pinhole radius 0", [](CKzVariant& n) { n[L"dPinholeRadius"] = 0.0; }, 2460000.5, -1, 1},
        {"pinhole radius below 0", [](CKzVariant& n) { n[L"dPinholeRadius"] = -3.0; }, 2460000.5, -1, 1},
        {"huge count, one child", [](CKzVariant& n) { n[L"uiPhysicalVarCount"] = 0xFFFFFFFFu; }, 2460000.5, -1, 1},
        {"count without a list",
         [](CKzVariant& n) {
             n[L"uiPhysicalVarCount"] = 0xFFFFFFFFu;
             n[L"pPhysicalVar"] = 5;
         },
         2460000.5, -1, 0},
        {"no list at all",
         [](CKzVariant& n) {
             n[L"uiPhysicalVarCount"] = 3u;
             n = Without(n, L"pPhysicalVar");
         },
         2460000.5, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CKzVariant n(node);
        c.change(n);
        SKzPictureMetadata md;
        md.dTimeAbsolute = 77;
        ASSERT_EQ("RKzPictureMetadata", std::string(n.GetRunType().GetNameA()));
        EXPECT_EQ(0, SKzPictureMetadata::LoadFromVariant(md, n));
        EXPECT_EQ(c.absolute, md.dTimeAbsolute);
        EXPECT_EQ(c.pinhole, md.sPicturePlanes.pPlanes[0].dPinholeDiameter);
        EXPECT_EQ(c.vars, md.uiPhysicalVarCount);
        EXPECT_EQ(c.vars == 0, md.pPhysicalVar == nullptr);
    }
    SKzPictureMetadata md;
    md.dXPos = 3;
    CKzVariant wrong(CKzListVariant(), L"x");
    EXPECT_EQ(-4, SKzPictureMetadata::LoadFromVariant(md, wrong));
    EXPECT_EQ(3, md.dXPos);
}

TEST_F(Metadata, SetWithTooFewSampleSettingsHasNoneAndNoPlaneFindsOne)
{
    SKzPictureMetadata a;
    Fill(a);
    CKzLiteVariantW w;
    SKzPictureMetadata::SaveToLiteVariant(w, a);
    CKzLiteVariantR r;
    w.Finalize(r);
    // Rewrite the blob's set: two sample settings announced, one child.
    SKzPictureMetadata b;
    CKzLiteVariantW w2;
    w2.LevelBegin(L"SKzPictureMetadata");
    w2.LevelBegin(L"sPicturePlanes");
    w2.Set(2u, L"uiCount");
    w2.Set(2u, L"uiCompCount");
    w2.LevelBegin(L"sPlaneNew");
    for (unsigned j = 0; j < 2; ++j) {
        w2.LevelBegin(j ? L"a1" : L"a0");
        SKzPicturePlaneDesc::SaveToLiteVariant(w2, a.sPicturePlanes.pPlanes[j]);
        w2.LevelEnd();
    }
    w2.LevelEnd();
    w2.Set(2u, L"uiSampleCount");
    w2.LevelBegin(L"sSampleSetting");
    w2.LevelBegin(L"a0");
    SKzSampleSetting::SaveToLiteVariant(w2, a.sPicturePlanes.pSamples[0]);
    w2.LevelEnd();
    w2.LevelEnd();
    w2.LevelEnd();
    w2.LevelEnd();
    CKzLiteVariantR r2;
    w2.Finalize(r2);
    EXPECT_EQ(0, SKzPictureMetadata::LoadFromLiteVariant(b, r2));
    EXPECT_EQ(2u, b.sPicturePlanes.uiCount);
    EXPECT_EQ(0u, b.sPicturePlanes.uiSampleCount);
    for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(nullptr, b.sPicturePlanes.GetPlaneSettings(i));
    EXPECT_EQ(L"", W(SKzPicturePlanes::GetPlaneOCName(b.sPicturePlanes, 0, 0)));
    EXPECT_EQ(L"", W(SKzPicturePlanes::GetPlaneCameraUniqueName(b.sPicturePlanes, 1)));
}

// ---- what the experiment model calls, with the argument types it uses ----------------------

TEST_F(Metadata, InterfaceTheExperimentModelUses)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"   // not standard-layout, yet laid out in order
    static_assert(offsetof(SKzPicturePlanes, uiCount) == 0, "the plane count is the first field");
#pragma GCC diagnostic pop
    static_assert(std::is_same_v<decltype(SKzPicturePlanes::uiCompCount), kz_uint32>);
    static_assert(std::is_same_v<decltype(SKzPicturePlanes::pPlanes), SKzPicturePlaneDesc*>);
    static_assert(std::is_same_v<decltype(SKzPicturePlaneDesc::uiCompCount), kz_uint32>);
    static_assert(std::is_same_v<decltype(SKzPicturePlaneDesc::uiSampleIndex), kz_uint32>);
    static_assert(std::is_same_v<decltype(SKzPicturePlaneDesc::uiColor), kz_uint32>);
    static_assert(std::is_same_v<decltype(SKzPicturePlaneDesc::sDescription), CKzStringW>);

    int (*alloc)(SKzPicturePlanes&, unsigned, unsigned) = &SKzPicturePlanes::Alloc;
    void (*freeSet)(SKzPicturePlanes&) = &SKzPicturePlanes::Free;
    int (*copy)(SKzPicturePlanes&, const SKzPicturePlanes&) = &SKzPicturePlanes::Copy;
    CKzStringW (*ocName)(const SKzPicturePlanes&, unsigned, unsigned) = &SKzPicturePlanes::GetPlaneOCName;
    int (*saveLite)(CKzLiteVariantW&, const SKzPicturePlanes&) = &SKzPicturePlanes::SaveToLiteVariant;
    int (*loadLite)(SKzPicturePlanes&, CKzLiteVariantR&) = &SKzPicturePlanes::LoadFromLiteVariant;
    int (*save)(CKzVariant&, const SKzPicturePlanes&) = &SKzPicturePlanes::SaveToVariant;
    int (*load)(SKzPicturePlanes&, const CKzVariant&) = &SKzPicturePlanes::LoadFromVariant;
    int (*saveLiteOld)(CKzLiteVariantW&, const SKzPicturePlanes&, unsigned) = &SKzPicturePlaneDesc::SaveToLiteVariantOld;
    int (*loadPlaneLite)(SKzPicturePlaneDesc&, CKzLiteVariantR&) = &SKzPicturePlaneDesc::LoadFromLiteVariant;
    int (*saveOld)(CKzVariant&, const SKzPicturePlanes&, unsigned) = &SKzPicturePlaneDesc::SaveToVariantOld;
    int (*loadPlane)(SKzPicturePlaneDesc&, const CKzVariant&) = &SKzPicturePlaneDesc::LoadFromVariant;
    SKzSampleSetting* (SKzPicturePlanes::*settings)(unsigned) = &SKzPicturePlanes::GetPlaneSettings;

    SKzPicturePlanes* set = new SKzPicturePlanes();
    EXPECT_EQ(0, alloc(*set, 2, 1));
    set->uiCompCount = 2;
    set->pPlanes[1].sDescription = L"two";
    SKzSampleSetting::SetOCName(set->pSamples[0], 1, CKzStringW(L"oc"));
    EXPECT_EQ(&set->pSamples[0], (set->*settings)(1));
    EXPECT_EQ(L"oc", W(ocName(*set, 1, 0)));
    SKzPicturePlanes other;
    EXPECT_EQ(0, copy(other, *set));
    EXPECT_EQ(2u, other.uiCount);

    CKzLiteVariantW w;
    w.LevelBegin(L"root");
    w.LevelBegin(L"set");
    EXPECT_EQ(0, saveLite(w, *set));
    w.LevelEnd();
    w.LevelBegin(L"old");
    EXPECT_EQ(0, saveLiteOld(w, *set, 1));
    w.LevelEnd();
    w.LevelEnd();
    CKzLiteVariantR r;
    w.Finalize(r);
    ASSERT_EQ(0, r.LevelBegin(L"root"));
    SKzPicturePlanes fromLite;
    ASSERT_EQ(0, r.LevelBegin(L"set"));
    EXPECT_EQ(0, loadLite(fromLite, r));
    r.LevelEnd();
    EXPECT_EQ(L"two", W(fromLite.pPlanes[1].sDescription));
    SKzPicturePlaneDesc plane;
    ASSERT_EQ(0, r.LevelBegin(L"old"));
    EXPECT_EQ(0, loadPlaneLite(plane, r));
    r.LevelEnd();
    EXPECT_EQ(L"two", W(plane.sDescription));

    CKzVariant node(CKzListVariant(), L"set"), old(CKzListVariant(), L"old");
    EXPECT_EQ(0, save(node, *set));
    EXPECT_EQ(0, saveOld(old, *set, 0));
    SKzPicturePlanes fromVariant;
    EXPECT_EQ(0, load(fromVariant, node));
    EXPECT_EQ(2u, fromVariant.uiCount);
    SKzPicturePlaneDesc plane2;
    EXPECT_EQ(0, loadPlane(plane2, old));
    EXPECT_EQ(-4, load(fromVariant, old));

    freeSet(other);
    freeSet(fromLite);
    freeSet(fromVariant);
    freeSet(*set);
    EXPECT_EQ(0u, set->uiCount + set->uiSampleCount);
    delete set;   // the destructor releases only the description

    SKzPictureMetadata* seq = new SKzPictureMetadata[3];
    ASSERT_EQ(0, alloc(seq[1].sPicturePlanes, 1, 1));
    delete[] seq;   // releases the planes
}

} // namespace
