// Legacy camera settings: values of a new and a default record, both stored
// forms and their golden texts.
#include "meta_test_support.h"

using namespace kzmt;

namespace {

class Camera : public ::testing::Test {
protected:
    void SetUp() override { PinLocale(); }
};

SKzCameraSetting Sample()
{
    SKzCameraSetting c;
    c.SetToDefault();
    c.sCameraName = L"Cam A";
    c.dExposure = 100;
    c.iOffset = -2;
    c.dGainRed = 2.5;
    c.iOffsetBlue = 7;
    c.sCameraFormatName = L"1x1";
    c.dCamChipSizeX = 1392;
    c.dCamChipSizeY = 1040;
    c.uiCamPxlCountX = 1392;
    c.uiCamPxlCountY = 0xFFFFFFFFu;
    c.dCamBinningY = 2;
    c.rcCamChipSrc = {1, 2, 3, 4};   // left, top, right, bottom
    c.bFlippedUpDown = true;
    c.sSpecSettings = L"spec";
    return c;
}

TEST_F(Camera, NewAndDefaultValues)
{
    SKzCameraSetting c;
    struct Row {
        const char* name;
        double fresh, def;
        double SKzCameraSetting::*field;
    } rows[] = {
        {"dExposure", -1, 0, &SKzCameraSetting::dExposure},       {"dGain", -1, 1, &SKzCameraSetting::dGain},
        {"dGamma", -1, 1, &SKzCameraSetting::dGamma},             {"dExposureRed", -1, 0, &SKzCameraSetting::dExposureRed},
        {"dGainRed", -1, 1, &SKzCameraSetting::dGainRed},         {"dGammaRed", -1, 1, &SKzCameraSetting::dGammaRed},
        {"dExposureGreen", -1, 0, &SKzCameraSetting::dExposureGreen}, {"dGainGreen", -1, 1, &SKzCameraSetting::dGainGreen},
        {"dGammaGreen", -1, 1, &SKzCameraSetting::dGammaGreen},   {"dExposureBlue", -1, 0, &SKzCameraSetting::dExposureBlue},
        {"dGainBlue", -1, 1, &SKzCameraSetting::dGainBlue},       {"dGammaBlue", -1, 1, &SKzCameraSetting::dGammaBlue},
        {"dCamChipSizeX", -1, 0, &SKzCameraSetting::dCamChipSizeX}, {"dCamChipSizeY", -1, 0, &SKzCameraSetting::dCamChipSizeY},
        {"dCamBinningX", 1, 1, &SKzCameraSetting::dCamBinningX},  {"dCamBinningY", 1, 1, &SKzCameraSetting::dCamBinningY},
    };
    SKzCameraSetting d = Sample();
    d.SetToDefault();
    for (const Row& r : rows) {
        EXPECT_EQ(r.fresh, c.*r.field) << r.name;
        EXPECT_EQ(r.def, d.*r.field) << r.name;
    }
    for (kz_int32 SKzCameraSetting::*f : {&SKzCameraSetting::iOffset, &SKzCameraSetting::iOffsetRed,
                                          &SKzCameraSetting::iOffsetGreen, &SKzCameraSetting::iOffsetBlue}) {
        EXPECT_EQ(-1, c.*f);
        EXPECT_EQ(0, d.*f);
    }
    EXPECT_EQ(0xFFFFFFFFu, c.uiCamPxlCountX);
    EXPECT_EQ(0xFFFFFFFFu, c.uiCamPxlCountY);
    EXPECT_EQ(0u, d.uiCamPxlCountX + d.uiCamPxlCountY);
    for (const SKzCameraSetting* s : {&c, &d}) {
        EXPECT_EQ(0, s->rcCamChipSrc.left | s->rcCamChipSrc.top | s->rcCamChipSrc.right | s->rcCamChipSrc.bottom);
        EXPECT_FALSE(s->bFlippedUpDown || s->bFlippedLeftRight);
        EXPECT_TRUE(s->sCameraName.IsEmpty() && s->sCameraFormatName.IsEmpty() && s->sSpecSettings.IsEmpty());
    }
}

TEST_F(Camera, SurvivesBothFormsFieldByField)
{
    for (const SKzCameraSetting& c : {Sample(), SKzCameraSetting()}) {
        CKzVariant node(CKzListVariant(), L"cam");
        EXPECT_EQ(0, SKzCameraSetting::SaveToVariant(node, c));
        SKzCameraSetting x, l;
        EXPECT_EQ(0, SKzCameraSetting::LoadFromVariant(x, ThroughXml(node)));
        EXPECT_TRUE(SameCamera(c, x));
        LiteRoundTrip([&](CKzLiteVariantW& w) { EXPECT_EQ(0, SKzCameraSetting::SaveToLiteVariant(w, c)); },
                      [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzCameraSetting::LoadFromLiteVariant(l, r)); });
        EXPECT_TRUE(SameCamera(c, l));
    }
}

TEST_F(Camera, GoldenTextsStoreTheRectangleLeftRightTopBottom)
{
    auto u = [](const char* n, const char* t, const char* v) {
        return std::string("<") + n + " runtype=\"" + t + "\" value=\"" + v + "\"/>";
    };
    const std::string xml =
        "<cam runtype=\"RKzCameraSetting\">" + u("sCameraName", "CKzStringW", "Cam A") + u("dExposure", "double", "100") +
        u("iOffset", "kz_int32", "-2") + u("dGain", "double", "1") + u("dGamma", "double", "1") +
        u("dExposureRed", "double", "0") + u("iOffsetRed", "kz_int32", "0") + u("dGainRed", "double", "2.5") +
        u("dGammaRed", "double", "1") + u("dExposureGreen", "double", "0") + u("iOffsetGreen", "kz_int32", "0") +
        u("dGainGreen", "double", "1") + u("dGammaGreen", "double", "1") + u("dExposureBlue", "double", "0") +
        u("iOffsetBlue", "kz_int32", "7") + u("dGainBlue", "double", "1") + u("dGammaBlue", "double", "1") +
        u("sCameraFormatName", "CKzStringW", "1x1") + u("dCamChipSizeX", "double", "1392") +
        u("dCamChipSizeY", "double", "1040") + u("uiCamPxlCountX", "kz_uint32", "1392") +
        u("uiCamPxlCountY", "kz_uint32", "4294967295") + u("dCamBinningX", "double", "1") +
        u("dCamBinningY", "double", "2") + "<rcCamChipSrc runtype=\"CKzListVariant\">" + u("left", "kz_int32", "1") +
        u("right", "kz_int32", "3") + u("top", "kz_int32", "2") + u("bottom", "kz_int32", "4") + "</rcCamChipSrc>" +
        u("bFlippedUpDown", "bool", "true") + u("bFlippedLeftRight", "bool", "false") +
        u("sSpecSettings", "CKzStringW", "spec") + "</cam>";
    CKzVariant node(CKzListVariant(), L"cam");
    SKzCameraSetting::SaveToVariant(node, Sample());
    EXPECT_EQ(xml, Xml(node));

    auto l = [](const wchar_t* n, const wchar_t* t, const wchar_t* v) {
        return std::wstring(L"<") + n + L" runtype=\"" + t + L"\" value=\"" + v + L"\"/>";
    };
    const wchar_t* D = L"double";
    const std::wstring lite =
        L"<cam runtype=\"CKzListVariant\">" + l(L"sCameraName", L"CKzStringW", L"Cam A") +
        l(L"dExposure", D, L"100.000000000000000") + l(L"iOffset", L"kz_int32", L"-2") +
        l(L"dGain", D, L"1.000000000000000") + l(L"dGamma", D, L"1.000000000000000") +
        l(L"dExposureRed", D, L"0.000000000000000") + l(L"iOffsetRed", L"kz_int32", L"0") +
        l(L"dGainRed", D, L"2.500000000000000") + l(L"dGammaRed", D, L"1.000000000000000") +
        l(L"dExposureGreen", D, L"0.000000000000000") + l(L"iOffsetGreen", L"kz_int32", L"0") +
        l(L"dGainGreen", D, L"1.000000000000000") + l(L"dGammaGreen", D, L"1.000000000000000") +
        l(L"dExposureBlue", D, L"0.000000000000000") + l(L"iOffsetBlue", L"kz_int32", L"7") +
        l(L"dGainBlue", D, L"1.000000000000000") + l(L"dGammaBlue", D, L"1.000000000000000") +
        l(L"sCameraFormatName", L"CKzStringW", L"1x1") + l(L"dCamChipSizeX", D, L"1392.000000000000000") +
        l(L"dCamChipSizeY", D, L"1040.000000000000000") + l(L"uiCamPxlCountX", L"kz_uint32", L"1392") +
        l(L"uiCamPxlCountY", L"kz_uint32", L"4294967295") + l(L"dCamBinningX", D, L"1.000000000000000") +
        l(L"dCamBinningY", D, L"2.000000000000000") + L"<rcCamChipSrc runtype=\"CKzListVariant\">" +
        l(L"left", L"kz_int32", L"1") + l(L"right", L"kz_int32", L"3") + l(L"top", L"kz_int32", L"2") +
        l(L"bottom", L"kz_int32", L"4") + L"</rcCamChipSrc>" + l(L"bFlippedUpDown", L"bool", L"true") +
        l(L"bFlippedLeftRight", L"bool", L"false") + l(L"sSpecSettings", L"CKzStringW", L"spec") + L"</cam>";
    EXPECT_EQ(lite, LiteTag(L"cam", [](CKzLiteVariantW& w) { SKzCameraSetting::SaveToLiteVariant(w, Sample()); }));
}

TEST_F(Camera, LoadDefaultsAndRefusals)
{
    // A lite level without camera keys: zeros and empty texts, not the constructor values.
    SKzCameraSetting c = Sample();
    LiteRoundTrip([](CKzLiteVariantW& w) { w.Set(1, L"unrelated"); },
                  [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzCameraSetting::LoadFromLiteVariant(c, r)); });
    SKzCameraSetting zero;
    zero.SetToDefault();
    zero.dGain = zero.dGamma = zero.dGainRed = zero.dGammaRed = zero.dGainGreen = zero.dGammaGreen = zero.dGainBlue =
        zero.dGammaBlue = 0;
    zero.dCamBinningX = zero.dCamBinningY = 0;
    zero.rcCamChipSrc = {1, 2, 3, 4};   // no rectangle level: kept
    EXPECT_TRUE(SameCamera(zero, c));

    // Another run type is refused and changes nothing.
    CKzVariant node(CKzListVariant(), L"s");
    CKzVariant& n = node;
    {
        const bool prev = n.IsEnabledTypeChange();
        n.EnableTypeChange(true);
        n.SetRunType(CKzVariantRunType("RKzSampleSettings"));
        n.EnableTypeChange(prev);
    }
    SKzCameraSetting s = Sample();
    EXPECT_EQ(-4, SKzCameraSetting::LoadFromVariant(s, node));
    EXPECT_TRUE(SameCamera(Sample(), s));

    // Missing variant members read as undefined: 0, false, empty.
    CKzVariant part(CKzVariantRunType("RKzCameraSetting"), L"cam");
    part[L"iOffset"] = 5;
    s = Sample();
    EXPECT_EQ(0, SKzCameraSetting::LoadFromVariant(s, part));
    EXPECT_EQ(L"", W(s.sCameraName));
    EXPECT_EQ(0, s.dExposure);
    EXPECT_EQ(5, s.iOffset);
    EXPECT_EQ(-1, s.iOffsetRed);   // the undefined variant's integer
    EXPECT_EQ(0u, s.uiCamPxlCountX);
    EXPECT_EQ(-1, s.rcCamChipSrc.top);
}

} // namespace
