// Plane descriptions: modality rules and texts, copies and the stored forms
// of all three versions.
#include "host_test_support.h"

using namespace kzmt;

namespace {

class PlaneDesc : public NoHost {};

TEST_F(PlaneDesc, DefaultsArraysAndCopies)
{
    SKzPicturePlaneDesc d;
    EXPECT_EQ(1u, d.uiCompCount);
    EXPECT_EQ(0u, d.uiSampleIndex);
    EXPECT_EQ(1u, d.uiModalityMask);
    EXPECT_EQ(0xFFFFFFu, d.uiColor);
    EXPECT_EQ(-1.0, d.dPinholeDiameter);
    EXPECT_EQ(-1, d.iChannelSeriesIndex);
    EXPECT_EQ(0, d.sizeObjFullChip.cx | d.sizeObjFullChip.cy);
    EXPECT_EQ(0xFFFFFFu, d.pFluorescentProbe.m_uiColor);

    SKzPicturePlaneDesc* a = nullptr;
    ASSERT_EQ(0, SKzPicturePlaneDesc::AllocArray(a, 3));
    a[1].uiCompCount = 3;
    a[1].uiModalityMask = 0x102;
    a[1].sDescription = L"DIC";
    a[1].pFilterPath = CKzOpticalFilterPath(Filter(2, CKzOpticalFilterSpectrum(), Band(500, 550)));
    a[1].pFluorescentProbe.m_sName = L"GFP";
    a[1].dPinholeDiameter = 3.5;
    ASSERT_EQ(0, SKzPicturePlaneDesc::CopyArray(a, a + 1, 1));
    EXPECT_TRUE(SamePlane(a[0], a[1]));
    ASSERT_EQ(0, SKzPicturePlaneDesc::Copy(a[2], a[2]));   // onto itself: unchanged
    EXPECT_EQ(1u, a[2].uiCompCount);
    SKzPicturePlaneDesc::FreeArray(a);
    SKzPicturePlaneDesc* none = nullptr;
    ASSERT_EQ(0, SKzPicturePlaneDesc::AllocArray(none, 0));
    EXPECT_EQ(nullptr, none);
    SKzPicturePlaneDesc::FreeArray(none);
}

TEST_F(PlaneDesc, IsEqualComparesCountMaskColourAndName)
{
    struct Case {
        const char* name;
        void (*change)(SKzPicturePlaneDesc&);
        bool equal;
    } cases[] = {
        {"same", [](SKzPicturePlaneDesc&) {}, true},
        {"count", [](SKzPicturePlaneDesc& d) { d.uiCompCount = 3; }, false},
        {"mask", [](SKzPicturePlaneDesc& d) { d.uiModalityMask = 0x201; }, false},
        {"colour", [](SKzPicturePlaneDesc& d) { d.uiColor = 0xFF; }, false},
        {"name", [](SKzPicturePlaneDesc& d) { d.sDescription = L"x"; }, false},
        {"sample index ignored", [](SKzPicturePlaneDesc& d) { d.uiSampleIndex = 4; }, true},
        {"probe ignored", [](SKzPicturePlaneDesc& d) { d.pFluorescentProbe.m_sName = L"p"; }, true},
    };
    for (const Case& c : cases) {
        SKzPicturePlaneDesc a, b;
        c.change(b);
        EXPECT_EQ(c.equal, SKzPicturePlaneDesc::IsEqual(a, b)) << c.name;
    }
}

TEST_F(PlaneDesc, ModalityMaskValidity)
{
    struct Case {
        unsigned long mask;
        bool valid;
    } cases[] = {
        {0x1, true},       {0x102, true},   {0x10201, true}, {0x200201, true}, {0x4001, true},
        {0x0, false},      {0x3, false},    {0x301, false},  {0x400000 | 0x200000 | 0x1, false},
        {0x8000000 | 0x100000 | 0x1, false}, {0x31, false},  {0x11, true},    {0x21, true},
        {0x2, true},       {0x20000000 | 0x2001, true},     {0x10000000 | 0x20000 | 0x1, true},
        {0x8000000 | 0x1, true}, {0xFFFFFFFF00000001ul, true}, {0x3F01, false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.valid, SKzPicturePlaneDesc::IsModalityMaskValid(c.mask)) << std::hex << c.mask;
}

TEST_F(PlaneDesc, ModalityTranslations)
{
    const unsigned long toMask[][2] = {{0, 0x101},  {1, 0x102},   {2, 0x201},      {3, 0x401},      {4, 0x801},
                                       {5, 0x10201}, {6, 0x11},    {7, 0x21},       {8, 0x200201},   {9, 0x800201},
                                       {10, 0x400201}, {11, 0x800201}, {12, 0x2000}, {13, 0x101},   {0xFFFFFFFF, 0x101}};
    for (const auto& c : toMask)
        EXPECT_EQ(c[1], SKzPicturePlaneDesc::TranslateModalityToMask((SKzPicturePlaneDesc::EModality)c[0])) << c[0];
    const unsigned long toModality[][2] = {
        {0x800201, 11}, {0x2001, 2}, {0x2000 | 0x100 | 0x1, 12}, {0x101, 0}, {0x10201, 5}, {0x200201, 8},
        {0x400201, 10}, {0x401, 3}, {0x801, 4}, {0x1001, 4}, {0x201, 2}, {0x11, 6}, {0x21, 7}, {0x102, 1}, {0x0, 0},
        {0x10000 | 0x200000, 5},
    };
    for (const auto& c : toModality)
        EXPECT_EQ(c[1], (unsigned long)SKzPicturePlaneDesc::TranslateMaskToModality(c[0])) << std::hex << c[0];
}

TEST_F(PlaneDesc, ModalityTestsAndShortText)
{
    struct Case {
        kz_uint64 mask;
        unsigned comps;
        unsigned long suppress;
        const wchar_t* text;
    } texts[] = {
        {0x10201, 1, 0, L"Laser Scan Confocal, Multi Photon"},
        {0x101, 1, 0, L"Widefield Fluorescence"},
        {0x21, 1, 0, L"Widefield Fluorescence, DI Contrast"},
        {0x2000 | 0x200 | 0x100 | 0x1, 1, 0, L""},
        {0x101, 1, 0x100, L""},
        {0x102, 3, 0, L"Brightfield"},
        {0x2011, 1, 0, L"DSD Confocal, Phase Contrast"},
        {0x1001, 1, 0, L"Swept Field Confocal (Pinholes)"},
        {0x801, 1, 0, L"Swept Field Confocal (Slit)"},
        {0x401, 1, 0, L"Spin Disk Confocal"},
        {0x1 | 0x10 | 0x10000 | 0x200000 | 0x400000 | 0x800000 | 0x1000000 | 0x2000000 | 0x4000000 | 0x8000000 |
             0x100000 | 0x10000000 | 0x20000000 | 0x20000 | 0x4000,
         1, 0,
         L"Widefield Fluorescence, Phase Contrast, Multi Photon, SD, QIRA IF, QIRA NF, TD, NDD, VF, PMT, GaAsP, Remainder, AUX, TIRF, Structured Illumination"},
        {0x31, 1, 0, L"Widefield Fluorescence"},
    };
    for (const Case& c : texts) {
        SKzPicturePlaneDesc d;
        d.uiModalityMask = c.mask;
        d.uiCompCount = c.comps;
        EXPECT_EQ(c.text, W(d.PlaneModalityHumanReadableShort(c.suppress))) << std::hex << c.mask;
    }
    struct Member {
        kz_uint64 mask;
        unsigned comps;
        bool fl, bf, cam, conf, spec, td, vf, aux, change;
    } members[] = {
        {0x1, 1, true, false, false, false, false, false, false, false, true},
        {0x2, 1, false, true, false, false, false, true, false, false, true},
        {0x2, 3, false, true, false, false, false, false, false, false, true},
        {0x101, 1, true, false, true, false, false, false, false, false, true},
        {0x102, 3, false, true, true, false, false, false, false, false, true},
        {0x200201, 1, true, false, false, true, true, false, false, false, false},
        {0x1000001, 3, true, false, false, false, false, true, false, false, false},
        {0x4000001, 1, true, false, false, false, false, false, true, false, false},
        {0x20002001, 1, true, false, false, true, false, false, false, true, false},
        {0x103, 1, true, true, true, false, false, true, false, false, false},
    };
    for (const Member& m : members) {
        SCOPED_TRACE(m.mask);
        SKzPicturePlaneDesc d;
        d.uiModalityMask = m.mask;
        d.uiCompCount = m.comps;
        EXPECT_EQ(m.fl, d.IsFlorescence());
        EXPECT_EQ(m.fl, SKzPicturePlaneDesc::IsModalityMonochrome((unsigned long)m.mask));
        EXPECT_EQ(m.bf, d.IsBrightfield());
        EXPECT_EQ(m.cam, d.IsFromCamera());
        EXPECT_EQ(m.conf, d.IsFromConfocal());
        EXPECT_EQ(m.spec, d.IsSpectral());
        EXPECT_EQ(m.td, d.IsTD());
        EXPECT_EQ(m.vf, d.IsVirtualFilter());
        EXPECT_EQ(m.aux, d.IsAUX());
        EXPECT_EQ(m.change, d.IsModalityChangeAllowed());
    }
}

void FillPlane(SKzPicturePlaneDesc& d)
{
    d.uiCompCount = 3;
    d.uiSampleIndex = 1;
    d.dObjCalibration1to1 = 0.645;
    d.sizeObjFullChip = {1392, -1040};
    d.uiModalityMask = 0x200201;
    CKzStringW n(L"mCherry");
    CKzOpticalFilterSpectrum ex = Band(540, 580), em = Spec({{1, 600, 0.2}, {1, 610, 0.9}, {1, 650, 0.1}});
    d.pFluorescentProbe = CKzFluorescentProbe(n, 0x0000FF, ex, em);
    d.pFilterPath = CKzOpticalFilterPath(Filter(1, Band(540, 580), CKzOpticalFilterSpectrum()),
                                         Filter(2, CKzOpticalFilterSpectrum(), Band(600, 660)));
    d.pFilterPath.m_sDescr = L"red";
    d.dLampVoltage = 12.5;
    d.dFadingCorr = 0.25;
    d.uiColor = 0x1234FF;
    d.sDescription = L"Channel 1";
    d.dAcqTime = 1234.5;
    d.dPinholeDiameter = 1.2;
    d.iChannelSeriesIndex = 4;
}

TEST_F(PlaneDesc, SurvivesBothFormsFieldByField)
{
    SKzPicturePlaneDesc d;
    FillPlane(d);
    CKzVariant node(CKzListVariant(), L"plane");
    EXPECT_EQ(0, SKzPicturePlaneDesc::SaveToVariant(node, d));
    EXPECT_EQ("RKzPicturePlaneDescV1_2", std::string(node.GetRunType().GetNameA()));
    SKzPicturePlaneDesc x, l;
    EXPECT_EQ(0, SKzPicturePlaneDesc::LoadFromVariant(x, ThroughXml(node)));
    EXPECT_TRUE(SamePlane(d, x));
    LiteRoundTrip([&](CKzLiteVariantW& w) { EXPECT_EQ(0, SKzPicturePlaneDesc::SaveToLiteVariant(w, d)); },
                  [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzPicturePlaneDesc::LoadFromLiteVariant(l, r)); });
    EXPECT_TRUE(SamePlane(d, l));
}

// A node of the given run type with the given members.
CKzVariant Node(const char* runType, std::initializer_list<CKzVariant> members)
{
    CKzVariant n(CKzVariantRunType(runType), CKzStringW(L"plane"));
    for (const CKzVariant& m : members) n[m.GetName().GetString()] = m;
    return n;
}

TEST_F(PlaneDesc, OlderVariantVersionsAndValidation)
{
    struct Case {
        const char* name;
        CKzVariant node;
        int result;
        kz_uint64 mask;
        double acq, pinhole;
        int series;
        unsigned sample;
        double objCal;
    } cases[] = {
        {"oldest keeps an invalid mask", Node("RKzPicturePlaneDesc", {CKzVariant(12u, L"eModality"), CKzVariant(3u, L"uiCompCount"),
                                                                      CKzVariant(5.0, L"dAcqTime")}),
         0, 0x2000, -1.0, -1.0, -1, 0, 7.5},
        {"V1_1 validates", Node("RKzPicturePlaneDescV1_1", {CKzVariant(12u, L"eModality"), CKzVariant(3u, L"uiCompCount"),
                                                            CKzVariant(5.0, L"dAcqTime"), CKzVariant(2.0, L"dObjCalibration1to1")}),
         0, 0x2, 5.0, -1.0, -1, 0, 2.0},
        {"V1_1 valid legacy value", Node("RKzPicturePlaneDescV1_1", {CKzVariant(5u, L"eModality"), CKzVariant(1u, L"uiCompCount")}),
         0, 0x10201, 0.0, -1.0, -1, 0, 0.0},
        {"V1_2 validates one component", Node("RKzPicturePlaneDescV1_2", {CKzVariant(1u, L"uiCompCount"), CKzVariant(0x301ul, L"uiModalityMask"),
                                                                         CKzVariant(6u, L"uiSampleIndex"), CKzVariant(2, L"iChannelSeriesIndex")}),
         0, 0x1, 0.0, 0.0, 2, 6, 0.0},
        {"V1_2 missing members read as 0", Node("RKzPicturePlaneDescV1_2", {CKzVariant(0x102ul, L"uiModalityMask")}),
         0, 0x102, 0.0, 0.0, -1, 0, 0.0},
        {"wrong run type", Node("RKzPicturePlaneDescV2", {CKzVariant(0x102ul, L"uiModalityMask")}), -4, 0x7, 9, 9, 9, 9, 7.5},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        SKzPicturePlaneDesc d;
        d.uiModalityMask = 0x7;
        d.dAcqTime = d.dPinholeDiameter = 9;
        d.iChannelSeriesIndex = 9;
        d.uiSampleIndex = 9;
        d.dObjCalibration1to1 = 7.5;
        EXPECT_EQ(c.result, SKzPicturePlaneDesc::LoadFromVariant(d, c.node));
        EXPECT_EQ(c.mask, d.uiModalityMask);
        EXPECT_EQ(c.acq, d.dAcqTime);
        EXPECT_EQ(c.pinhole, d.dPinholeDiameter);
        EXPECT_EQ(c.series, d.iChannelSeriesIndex);
        EXPECT_EQ(c.sample, d.uiSampleIndex);
        EXPECT_EQ(c.objCal, d.dObjCalibration1to1);
    }
}

TEST_F(PlaneDesc, LiteDefaultsAndTheLegacyModality)
{
    struct Case {
        const char* name;
        LiteSave save;
        kz_uint64 mask;
        unsigned colour, comps;
        double pinhole;
        int series;
    } cases[] = {
        {"legacy modality, three components", [](CKzLiteVariantW& w) { w.Set(12u, L"eModality"); w.Set(3u, L"uiCompCount"); }, 0x2, 0, 3, -1, -1},
        {"legacy modality wins over the mask", [](CKzLiteVariantW& w) { w.Set(0x102ul, L"uiModalityMask"); w.Set(2u, L"eModality"); }, 0x201, 0, 0, -1, -1},
        {"no keys", [](CKzLiteVariantW& w) { w.Set(1, L"x"); }, 0x1, 0, 0, -1, -1},
        {"invalid mask", [](CKzLiteVariantW& w) { w.Set(0x0ul, L"uiModalityMask"); w.Set(3u, L"uiCompCount"); }, 0x2, 0, 3, -1, -1},
        {"a 32-bit mask record is of another type", [](CKzLiteVariantW& w) { w.Set(0x102u, L"uiModalityMask"); w.Set(7u, L"uiColor"); }, 0x1, 7, 0, -1, -1},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        SKzPicturePlaneDesc d;
        FillPlane(d);
        LiteRoundTrip(c.save, [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzPicturePlaneDesc::LoadFromLiteVariant(d, r)); });
        EXPECT_EQ(c.mask, d.uiModalityMask);
        EXPECT_EQ(c.colour, d.uiColor);
        EXPECT_EQ(c.comps, d.uiCompCount);
        EXPECT_EQ(c.pinhole, d.dPinholeDiameter);
        EXPECT_EQ(c.series, d.iChannelSeriesIndex);
        EXPECT_EQ(L"mCherry", W(d.pFluorescentProbe.m_sName));   // no probe level: unchanged
        EXPECT_EQ(2u, d.pFilterPath.GetCount());
    }
}

} // namespace
