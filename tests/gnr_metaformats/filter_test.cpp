// Optical filters, filter paths and fluorescent probes: placements, derived
// wavelengths and both stored forms, with golden texts of one path.
#include "meta_test_support.h"

#include "gnr_system/KzWavelengthColor.h"

#include <limits>
#include <vector>

using namespace kzmt;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

class Optics : public ::testing::Test {
protected:
    void SetUp() override { PinLocale(); }
};

// ---- filters ------------------------------------------------------------------

TEST_F(Optics, NewFilterDefaults)
{
    CKzOpticalFilter f;
    EXPECT_EQ(L"", W(f.m_sName));
    EXPECT_EQ(L"", W(f.m_sUserName));
    EXPECT_EQ(1u, (unsigned)f.GetPlacement());
    EXPECT_EQ(0u, (unsigned)f.m_eNature);
    EXPECT_EQ(7u, (unsigned)f.m_eSpctType);
    EXPECT_EQ(0u, f.m_uiColor);
    EXPECT_EQ(0u, f.m_ExcitationSpectrum.GetCount() + f.m_EmissionSpectrum.GetCount() + f.m_MirrorSpectrum.GetCount());

    CKzStringW name(L"FF01");
    CKzOpticalFilterSpectrum a = Band(450, 490), b = Line(520), c = Band(495, 800);
    CKzOpticalFilter g(name, CKzOpticalFilter::eOFPlacementCombined, (CKzOpticalFilter::EKzOpticalFilterNature)2,
                       (CKzOpticalFilter::EKzOpticalFilterSpctType)1, 0x123456, a, b, c);
    EXPECT_EQ(L"FF01", W(g.m_sName));
    EXPECT_EQ(L"FF01", W(g.m_sUserName));
    EXPECT_EQ(2u, (unsigned)g.m_eNature);
    EXPECT_EQ(1u, (unsigned)g.m_eSpctType);
    EXPECT_EQ(0x123456u, g.m_uiColor);
    EXPECT_TRUE(SameSpectrum(c, g.m_MirrorSpectrum));
    EXPECT_EQ(0, g.SetName(L"other"));
    EXPECT_EQ(L"other", W(g.m_sName));
    EXPECT_EQ(L"FF01", W(g.m_sUserName));
}

TEST_F(Optics, SpectraCountByPlacement)
{
    struct Case {
        unsigned placement;
        bool exc, em, mirror;
    } cases[] = {{1, true, false, false}, {2, false, true, false}, {3, true, true, true}, {4, true, false, false},
                 {6, true, true, false},  {0, false, false, false}, {5, false, false, false}, {7, false, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.placement);
        CKzOpticalFilter f = Filter(c.placement, Band(1, 2), Band(3, 4));
        const CKzOpticalFilter& cf = f;
        EXPECT_EQ(c.exc ? &f.m_ExcitationSpectrum : nullptr, f.GetExcitationSpectrum());
        EXPECT_EQ(c.em ? &f.m_EmissionSpectrum : nullptr, f.GetEmissionSpectrum());
        EXPECT_EQ(c.mirror ? &f.m_MirrorSpectrum : nullptr, f.GetMirrorSpectrum());
        EXPECT_EQ(c.exc ? &f.m_ExcitationSpectrum : nullptr, cf.GetExcitationSpectrum());
        EXPECT_EQ(c.em ? &f.m_EmissionSpectrum : nullptr, cf.GetEmissionSpectrum());
        EXPECT_EQ(c.mirror ? &f.m_MirrorSpectrum : nullptr, cf.GetMirrorSpectrum());
    }
}

TEST_F(Optics, SetPlacementMovesOnlyBetweenExcitationAndEmission)
{
    CKzOpticalFilter f;
    f.m_ExcitationSpectrum = Band(450, 490);
    EXPECT_EQ(0, f.SetPlacement(CKzOpticalFilter::eOFPlacementEmission));
    EXPECT_EQ(2u, (unsigned)f.GetPlacement());
    EXPECT_TRUE(SameSpectrum(Band(450, 490), f.m_EmissionSpectrum));
    f.m_EmissionSpectrum = Line(520);
    EXPECT_EQ(0, f.SetPlacement(CKzOpticalFilter::eOFPlacementExcitation));
    EXPECT_TRUE(SameSpectrum(Line(520), f.m_ExcitationSpectrum));
    for (unsigned p : {1u, 3u, 4u, 6u, 0u, 99u}) {
        SCOPED_TRACE(p);
        EXPECT_EQ(-4, f.SetPlacement((CKzOpticalFilter::EKzOpticalFilterPlacement)p));
        EXPECT_EQ(1u, (unsigned)f.GetPlacement());
    }
    f.m_ePlacement = CKzOpticalFilter::eOFPlacementCombined;
    EXPECT_EQ(-4, f.SetPlacement(CKzOpticalFilter::eOFPlacementEmission));
    EXPECT_EQ(3u, (unsigned)f.GetPlacement());
}

TEST_F(Optics, FilterCopiesAndSelfAssignment)
{
    CKzOpticalFilter f = Filter(3, Band(450, 490), Line(520), L"Cube");
    f.m_MirrorSpectrum = Band(495, 900);
    CKzOpticalFilter g(f);
    EXPECT_TRUE(SameFilter(f, g));
    CKzOpticalFilter& self = f;
    f = self;
    EXPECT_TRUE(SameFilter(g, f));
    CKzOpticalFilter h;
    h = f;
    EXPECT_TRUE(SameFilter(g, h));
}

// ---- paths: derived wavelengths ------------------------------------------------------

struct WlCase {
    const char* name;
    std::vector<CKzOpticalFilter> filters;
    double lowEm, highEm, meanEm;
    const wchar_t* text;   // null: the caller's text stays
    double lowEx, highEx, meanEx;
};

TEST_F(Optics, PathDerivedWavelengths)
{
    CKzOpticalFilterSpectrum none;
    CKzOpticalFilterSpectrum measured = Spec({{1, 500, 0.1}, {1, 520, 0.9}, {1, 560, 0.2}});
    WlCase cases[] = {
        {"excitation and emission bands", {Filter(1, Band(450, 490), none), Filter(2, none, Band(500, 550))},
         500, 550, 525, L"500.0 - 550.0", 450, 490, 470},
        {"placement 6 line outranks an emission band", {Filter(2, none, Band(500, 550)), Filter(6, Line(405), Line(405))},
         405, 405, 405, L"405.0", 405, 405, 405},
        {"emission band written backwards", {Filter(2, none, Spec({{2, 550, 1}, {3, 500, 1}}))},
         500, 550, 525, L"550.0 - 500.0", 0, 0, 0},
        {"emission point before emission band", {Filter(2, none, Band(500, 550)), Filter(2, none, Line(610))},
         610, 610, 610, L"610.0", 0, 0, 0},
        {"combined element", {Filter(3, Band(540, 580), Band(600, 650))}, 600, 650, 625, L"600.0 - 650.0", 540, 580, 560},
        {"combined point needs a positive range for text and mean", {Filter(3, none, Spec({{4, -10, 1}}))},
         -10, -10, 0, nullptr, 0, 0, 0},
        {"measured emission, no excitation", {Filter(2, none, measured)}, 0, 0, 0, nullptr, 0, 0, 0},
        {"measured emission with symbolic excitation falls to the sums",
         {Filter(1, Band(450, 490), none), Filter(2, none, measured), Filter(3, none, Band(400, 600))},
         400, 600, 500, L"400.0 - 600.0", 450, 490, 470},
        {"sums: emission above the excitation cut-off",
         {Filter(1, Band(450, 490), none), Filter(3, Spec({{9, 1, 1}, {9, 2, 1}, {9, 3, 1}}),
                                                   Spec({{2, 420, 1}, {3, 440, 1}, {2, 500, 1}, {3, 540, 1}, {4, 600, 1}}))},
         500, 540, 520, L"500.0 - 540.0", 450, 490, 470},
        {"sums: a line above the cut-off",
         {Filter(1, Band(450, 490), none), Filter(3, none, Spec({{2, 420, 1}, {3, 440, 1}, {4, 600, 1}}))},
         600, 600, 600, L"600.0", 450, 490, 470},
        {"sums: a final band start", {Filter(1, Line(488), none), Filter(3, none, Spec({{3, 400, 1}, {4, 410, 1}, {2, 500, 1}}))},
         500, 500, 500, L"500.0", 488, 488, 488},
        {"empty path", {}, 0, 0, 0, nullptr, 0, 0, 0},
        {"excitation point, placement 4 only in the mean", {Filter(4, Spec({{4, 561, 1}}), none)},
         0, 0, 0, nullptr, 0, 0, 561},
    };
    for (WlCase& c : cases) {
        SCOPED_TRACE(c.name);
        CKzOpticalFilterPath p(c.filters.data(), (unsigned)c.filters.size());
        EXPECT_EQ(c.lowEm, p.GetLowEmissionWavelength());
        EXPECT_EQ(c.highEm, p.GetHightEmissionWavelength());
        EXPECT_EQ(c.meanEm, p.GetMeanEmissionWavelength());
        CKzStringW text(L"unchanged");
        p.GetEmissionWavelengthDescription(text);
        EXPECT_EQ(c.text ? c.text : L"unchanged", W(text));
        EXPECT_EQ(c.lowEx, p.GetLowExcitationWavelength());
        EXPECT_EQ(c.highEx, p.GetHightExcitationWavelength());
        EXPECT_EQ(c.meanEx, p.GetMeanExcitationWavelength());
    }
}

TEST_F(Optics, MeanExcitationWeighsTheFilters)
{
    CKzOpticalFilterSpectrum none;
    struct Case {
        const char* name;
        std::vector<CKzOpticalFilter> filters;
        double mean;
    } cases[] = {
        {"weighted by the first point's value",
         {Filter(1, Spec({{4, 400, 1}}), none), Filter(4, Spec({{4, 500, 3}}), none)}, (400 * 1 + 500 * 3) / 4.0},
        {"band middle", {Filter(3, Spec({{2, 440, 2}, {3, 460, 2}}), none), Filter(1, Spec({{4, 550, 2}}), none)}, 500},
        {"two points not a band: the first", {Filter(1, Spec({{4, 405, 1}, {4, 488, 1}}), none)}, 405},
        {"placement 6 single point first", {Filter(1, Line(405), none), Filter(6, Line(640), none)}, 640},
        {"zero weights: first filter's w", {Filter(1, Spec({{4, 405, 0}}), none), Filter(1, Spec({{4, 488, 0}}), none)}, 405},
        {"zero weights, first filter emission only", {Filter(2, none, Line(600)), Filter(1, Spec({{4, 488, 0}}), none)}, 0},
        {"three lines: first if it is a line", {Filter(1, Spec({{4, 405, 0}, {4, 488, 0}, {4, 561, 0}}), none)}, 405},
        {"three points, first not a line", {Filter(1, Spec({{2, 405, 0}, {3, 488, 0}, {4, 561, 0}}), none)}, 0},
        {"NaN weight", {Filter(1, Spec({{4, 405, kNaN}}), none)}, 405},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        CKzOpticalFilterPath p(c.filters.data(), (unsigned)c.filters.size());
        EXPECT_EQ(c.mean, p.GetMeanExcitationWavelength());
    }
}

TEST_F(Optics, PathSearchesStayWithinHostileSpectra)
{
    // NaN and descending wavelengths through every search: bounded, no throw.
    CKzOpticalFilterSpectrum nan = Spec({{2, kNaN, 1}, {3, kNaN, 1}}), desc = Spec({{3, 600, 1}, {2, 500, 1}, {4, 400, 1}});
    CKzOpticalFilterSpectrum lone = Spec({{2, 500, 1}});
    std::vector<CKzOpticalFilter> f = {Filter(1, nan, desc), Filter(3, desc, nan), Filter(6, lone, lone),
                                       Filter(2, desc, lone), Filter(4, nan, nan)};
    CKzOpticalFilterPath p(f.data(), (unsigned)f.size());
    CKzStringW t;
    p.GetEmissionWavelengthDescription(t);
    (void)p.GetMeanEmissionWavelength();
    (void)p.GetLowEmissionWavelength();
    (void)p.GetHightEmissionWavelength();
    (void)p.GetMeanExcitationWavelength();
    (void)p.GetLowExcitationWavelength();
    (void)p.GetHightExcitationWavelength();
    EXPECT_EQ(5u, p.GetCount());
}

TEST_F(Optics, PathConstructionAndAssignment)
{
    CKzOpticalFilterSpectrum none;
    CKzOpticalFilter a = Filter(1, Band(450, 490), none, L"A"), b = Filter(2, none, Line(520), L"B"),
                     c = Filter(3, Line(1), Line(2), L"C");
    CKzOpticalFilterPath p1(a), p2(a, b), p3(a, b, c), p0(nullptr, 5);
    EXPECT_EQ(1u, p1.GetCount());
    EXPECT_EQ(2u, p2.GetCount());
    ASSERT_EQ(3u, p3.GetCount());
    EXPECT_EQ(0u, p0.GetCount());
    EXPECT_EQ(nullptr, p0.GetFilterPointer());
    EXPECT_EQ(nullptr, p3[3]);
    EXPECT_EQ(L"C", W(p3[2]->m_sName));
    EXPECT_EQ(p3.GetFilterPointer() + 1, p3[1]);

    p3.m_sDescr = L"three";
    CKzOpticalFilter* before = p3.GetFilterPointer();
    CKzOpticalFilterPath q(p3);
    EXPECT_TRUE(SamePath(p3, q));
    q[0]->m_sName = L"changed";
    p3 = q;   // same count: filters assigned in place
    EXPECT_EQ(before, p3.GetFilterPointer());
    EXPECT_EQ(L"changed", W(p3[0]->m_sName));
    p3 = p1;   // other count: rebuilt
    EXPECT_TRUE(SamePath(p1, p3));
    CKzOpticalFilterPath& self = q;
    q = self;
    EXPECT_EQ(3u, q.GetCount());
    EXPECT_EQ(L"three", W(q.m_sDescr));
    p3 = CKzOpticalFilterPath();
    EXPECT_EQ(0u, p3.GetCount());
}

// ---- persistence ----------------------------------------------------------------

CKzOpticalFilterPath ThreeFilterPath()
{
    CKzOpticalFilter ex = Filter(1, Band(450, 490), CKzOpticalFilterSpectrum(), L"Ex 470/40");
    ex.m_sUserName = L"Excitation";
    ex.m_uiColor = 0xFF8000;
    CKzOpticalFilter cube = Filter(3, Band(460, 480), Spec({{1, 500, 0.1}, {1, 525, 0.95}, {1, 560, 0.05}}), L"Cube");
    cube.m_MirrorSpectrum = Spec({{3, 495, 1}});
    cube.m_eNature = (CKzOpticalFilter::EKzOpticalFilterNature)5;
    CKzOpticalFilter em = Filter(2, CKzOpticalFilterSpectrum(), Band(500, 550), L"Em 525/50");
    em.m_eSpctType = (CKzOpticalFilter::EKzOpticalFilterSpctType)1;
    CKzOpticalFilterPath p(ex, cube, em);
    p.m_sDescr = L"GFP path \u00e9";
    return p;
}

TEST_F(Optics, RecordsSurviveBothFormsFieldByField)
{
    CKzOpticalFilterPath path = ThreeFilterPath();
    {
        SCOPED_TRACE("filter with three spectra");
        const CKzOpticalFilter& f = *path[1];
        CKzVariant node(CKzListVariant(), L"f");
        EXPECT_EQ(0, CKzOpticalFilter::SaveToVariant(node, f));
        CKzOpticalFilter x, l;
        EXPECT_EQ(0, CKzOpticalFilter::LoadFromVariant(x, ThroughXml(node)));
        EXPECT_TRUE(SameFilter(f, x));
        LiteRoundTrip([&](CKzLiteVariantW& w) { EXPECT_EQ(0, CKzOpticalFilter::SaveToLiteVariant(w, f)); },
                      [&](CKzLiteVariantR& r) { EXPECT_EQ(0, CKzOpticalFilter::LoadFromLiteVariant(l, r)); });
        EXPECT_TRUE(SameFilter(f, l));
    }
    for (const CKzOpticalFilterPath* p : {&path, new CKzOpticalFilterPath()}) {
        SCOPED_TRACE(p->GetCount());
        CKzVariant node(CKzListVariant(), L"p");
        EXPECT_EQ(0, CKzOpticalFilterPath::SaveToVariant(node, *p));
        CKzOpticalFilterPath x(*path[0]), l(*path[0]);
        EXPECT_EQ(0, CKzOpticalFilterPath::LoadFromVariant(x, ThroughXml(node)));
        EXPECT_TRUE(SamePath(*p, x));
        LiteRoundTrip([&](CKzLiteVariantW& w) { EXPECT_EQ(0, CKzOpticalFilterPath::SaveToLiteVariant(w, *p)); },
                      [&](CKzLiteVariantR& r) { EXPECT_EQ(0, CKzOpticalFilterPath::LoadFromLiteVariant(l, r)); });
        EXPECT_TRUE(SamePath(*p, l));
        if (p != &path) delete p;
    }
    {
        SCOPED_TRACE("names only");
        CKzOpticalFilter n;
        LiteRoundTrip([&](CKzLiteVariantW& w) { EXPECT_EQ(0, CKzOpticalFilter::SaveUserNameToLiteVariant(w, *path[0])); },
                      [&](CKzLiteVariantR& r) {
                          EXPECT_FALSE(r.IsValueSet(L"m_ePlacement"));
                          EXPECT_EQ(0, CKzOpticalFilter::LoadUserNameFromLiteVariant(n, r));
                      });
        EXPECT_EQ(L"Ex 470/40", W(n.m_sName));
        EXPECT_EQ(L"Excitation", W(n.m_sUserName));
    }
}

// Golden fragments, written from the record tables.
std::string XU(const char* n, const char* v) { return std::string("<") + n + " runtype=\"kz_uint32\" value=\"" + v + "\"/>"; }
std::string XD(const char* n, const char* v) { return std::string("<") + n + " runtype=\"double\" value=\"" + v + "\"/>"; }
std::string XS(const char* n, const char* v) { return std::string("<") + n + " runtype=\"CKzStringW\" value=\"" + v + "\"/>"; }
std::string XB(const char* n, const char* v) { return std::string("<") + n + " runtype=\"bool\" value=\"" + v + "\"/>"; }
std::string XL(const char* n, const char* rt) { return std::string("<") + n + " runtype=\"" + rt + "\">"; }
std::string XE(const char* n) { return std::string("</") + n + ">"; }

std::wstring LU(const wchar_t* n, const wchar_t* v) { return std::wstring(L"<") + n + L" runtype=\"kz_uint32\" value=\"" + v + L"\"/>"; }
std::wstring LD(const wchar_t* n, const wchar_t* v) { return std::wstring(L"<") + n + L" runtype=\"double\" value=\"" + v + L"\"/>"; }
std::wstring LS(const wchar_t* n, const wchar_t* v) { return std::wstring(L"<") + n + L" runtype=\"CKzStringW\" value=\"" + v + L"\"/>"; }
std::wstring LB(const wchar_t* n, const wchar_t* v) { return std::wstring(L"<") + n + L" runtype=\"bool\" value=\"" + v + L"\"/>"; }
std::wstring LL(const wchar_t* n) { return std::wstring(L"<") + n + L" runtype=\"CKzListVariant\">"; }
std::wstring LE(const wchar_t* n) { return std::wstring(L"</") + n + L">"; }

TEST_F(Optics, PathGoldenTexts)
{
    CKzOpticalFilter ex = Filter(1, Band(450, 490), CKzOpticalFilterSpectrum(), L"Ex");
    ex.m_sUserName = L"Excite";
    ex.m_uiColor = 255;
    CKzOpticalFilter em = Filter(2, CKzOpticalFilterSpectrum(), Line(520), L"Em");
    em.m_sUserName = L"Emit";
    em.m_eNature = (CKzOpticalFilter::EKzOpticalFilterNature)3;
    em.m_eSpctType = (CKzOpticalFilter::EKzOpticalFilterSpctType)1;
    CKzOpticalFilterPath path(ex, em);
    path.m_sDescr = L"Cy5 path";

    const std::string emptyX = XU("uiCount", "0") + XL("pPoint", "CKzListVariant") + XL("Point0", "RKzOFSpectrumPoint") +
                               XU("eType", "0") + XD("dWavelength", "0") + XD("dTValue", "0") + XE("Point0") +
                               XE("pPoint") + XB("bPoints", "false");
    const std::string xml =
        XL("path", "RKzOpticalFilterPath") + XS("m_sDescr", "Cy5 path") + XU("m_uiCount", "2") +
        XL("m_pFilter", "CKzListVariant") +
        /* filter 0, unnamed */ XL("no_name", "RKzOpticalFilter") + XS("m_sUserName", "Excite") + XS("m_sName", "Ex") +
        XU("m_ePlacement", "1") + XU("m_eNature", "0") + XU("m_eSpctType", "7") + XU("m_uiColor", "255") +
        XL("m_ExcitationSpectrum", "RKzOpticalFilterSpectrum") + XU("uiCount", "2") + XL("pPoint", "CKzListVariant") +
        XL("Point0", "RKzOFSpectrumPoint") + XU("eType", "2") + XD("dWavelength", "450") + XD("dTValue", "1") +
        XE("Point0") + XL("Point1", "RKzOFSpectrumPoint") + XU("eType", "3") + XD("dWavelength", "490") +
        XD("dTValue", "1") + XE("Point1") + XE("pPoint") + XB("bPoints", "false") + XE("m_ExcitationSpectrum") +
        XL("m_EmissionSpectrum", "RKzOpticalFilterSpectrum") + emptyX + XE("m_EmissionSpectrum") +
        XL("m_MirrorSpectrum", "RKzOpticalFilterSpectrum") + emptyX + XE("m_MirrorSpectrum") + XE("no_name") +
        /* filter 1, unnamed */ XL("no_name", "RKzOpticalFilter") + XS("m_sUserName", "Emit") + XS("m_sName", "Em") +
        XU("m_ePlacement", "2") + XU("m_eNature", "3") + XU("m_eSpctType", "1") + XU("m_uiColor", "0") +
        XL("m_ExcitationSpectrum", "RKzOpticalFilterSpectrum") + emptyX + XE("m_ExcitationSpectrum") +
        XL("m_EmissionSpectrum", "RKzOpticalFilterSpectrum") + XU("uiCount", "1") + XL("pPoint", "CKzListVariant") +
        XL("Point0", "RKzOFSpectrumPoint") + XU("eType", "4") + XD("dWavelength", "520") + XD("dTValue", "1") +
        XE("Point0") + XE("pPoint") + XB("bPoints", "false") + XE("m_EmissionSpectrum") +
        XL("m_MirrorSpectrum", "RKzOpticalFilterSpectrum") + emptyX + XE("m_MirrorSpectrum") + XE("no_name") +
        XE("m_pFilter") + XE("path");
    CKzVariant node(CKzListVariant(), L"path");
    CKzOpticalFilterPath::SaveToVariant(node, path);
    EXPECT_EQ(xml, Xml(node));

    const std::wstring emptyL = LU(L"uiCount", L"0") + LL(L"pPoint") + LE(L"pPoint") + LB(L"bPoints", L"false");
    const std::wstring one = L"1.000000000000000";
    const std::wstring lite =
        LL(L"path") + LS(L"m_sDescr", L"Cy5 path") + LU(L"m_uiCount", L"2") + LL(L"m_pFilter") +
        LL(L"no_name") + LS(L"m_sUserName", L"Excite") + LS(L"m_sName", L"Ex") + LU(L"m_ePlacement", L"1") +
        LU(L"m_eNature", L"0") + LU(L"m_eSpctType", L"7") + LU(L"m_uiColor", L"255") + LL(L"m_ExcitationSpectrum") +
        LU(L"uiCount", L"2") + LL(L"pPoint") + LL(L"Point0") + LU(L"eType", L"2") +
        LD(L"dWavelength", L"450.000000000000000") + LD(L"dTValue", one.c_str()) + LE(L"Point0") + LL(L"Point1") +
        LU(L"eType", L"3") + LD(L"dWavelength", L"490.000000000000000") + LD(L"dTValue", one.c_str()) + LE(L"Point1") +
        LE(L"pPoint") + LB(L"bPoints", L"false") + LE(L"m_ExcitationSpectrum") + LL(L"m_EmissionSpectrum") + emptyL +
        LE(L"m_EmissionSpectrum") + LL(L"m_MirrorSpectrum") + emptyL + LE(L"m_MirrorSpectrum") + LE(L"no_name") +
        LL(L"no_name") + LS(L"m_sUserName", L"Emit") + LS(L"m_sName", L"Em") + LU(L"m_ePlacement", L"2") +
        LU(L"m_eNature", L"3") + LU(L"m_eSpctType", L"1") + LU(L"m_uiColor", L"0") + LL(L"m_ExcitationSpectrum") +
        emptyL + LE(L"m_ExcitationSpectrum") + LL(L"m_EmissionSpectrum") + LU(L"uiCount", L"1") + LL(L"pPoint") +
        LL(L"Point0") + LU(L"eType", L"4") + LD(L"dWavelength", L"520.000000000000000") + LD(L"dTValue", one.c_str()) +
        LE(L"Point0") + LE(L"pPoint") + LB(L"bPoints", L"false") + LE(L"m_EmissionSpectrum") +
        LL(L"m_MirrorSpectrum") + emptyL + LE(L"m_MirrorSpectrum") + LE(L"no_name") + LE(L"m_pFilter") + LE(L"path");
    EXPECT_EQ(lite, LiteTag(L"path", [&](CKzLiteVariantW& w) { CKzOpticalFilterPath::SaveToLiteVariant(w, path); }));

    // An empty path writes no filter level.
    EXPECT_EQ(LL(L"p") + LS(L"m_sDescr", L"") + LU(L"m_uiCount", L"0") + LE(L"p"),
              LiteTag(L"p", [](CKzLiteVariantW& w) { CKzOpticalFilterPath::SaveToLiteVariant(w, CKzOpticalFilterPath()); }));
}

TEST_F(Optics, PathLoadersFollowThePresentFilters)
{
    CKzOpticalFilterPath path = ThreeFilterPath();
    // Variant: the children decide, "m_uiCount" does not.
    CKzVariant node(CKzListVariant(), L"p");
    CKzOpticalFilterPath::SaveToVariant(node, CKzOpticalFilterPath());
    node[L"m_uiCount"] = 3u;
    CKzOpticalFilterPath got(path);
    EXPECT_EQ(0, CKzOpticalFilterPath::LoadFromVariant(got, node));
    EXPECT_EQ(0u, got.GetCount());
    CKzOpticalFilterPath::SaveToVariant(node, path);
    node[L"m_uiCount"] = 0xFFFFFFFFu;
    node[L"m_pFilter"][1] = CKzVariant(7);   // a child that is no filter stays a default filter
    EXPECT_EQ(0, CKzOpticalFilterPath::LoadFromVariant(got, node));
    ASSERT_EQ(3u, got.GetCount());
    EXPECT_TRUE(SameFilter(CKzOpticalFilter(), *got[1]));
    EXPECT_TRUE(SameFilter(*path[2], *got[2]));
    CKzVariant wrong(CKzListVariant(), L"x");
    EXPECT_EQ(-4, CKzOpticalFilterPath::LoadFromVariant(got, wrong));
    EXPECT_EQ(-4, CKzOpticalFilter::LoadFromVariant(*got[0], wrong));
    EXPECT_EQ(3u, got.GetCount());

    // Lite: the smaller of "m_uiCount" and the filter levels present.
    struct Case {
        const char* name;
        unsigned stored;
        int levels;   // -1: no "m_pFilter" level
        unsigned expected;
    } cases[] = {{"huge count", 0xFFFFFFFFu, 2, 2}, {"count below levels", 1, 3, 1}, {"no level", 5, -1, 0},
                 {"zero count", 0, 2, 0}, {"empty level", 3, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CKzOpticalFilterPath l(path);
        LiteRoundTrip(
            [&](CKzLiteVariantW& w) {
                w.Set(L"d", L"m_sDescr");
                w.Set(c.stored, L"m_uiCount");
                if (c.levels < 0) return;
                w.LevelBegin(L"m_pFilter");
                for (int i = 0; i < c.levels; ++i) {
                    w.LevelBegin(L"");
                    CKzOpticalFilter::SaveToLiteVariant(w, *path[(unsigned)i]);
                    w.LevelEnd();
                }
                w.LevelEnd();
            },
            [&](CKzLiteVariantR& r) { EXPECT_EQ(0, CKzOpticalFilterPath::LoadFromLiteVariant(l, r)); });
        ASSERT_EQ(c.expected, l.GetCount());
        for (unsigned i = 0; i < c.expected; ++i) EXPECT_TRUE(SameFilter(*path[i], *l[i]));
        EXPECT_EQ(L"d", W(l.m_sDescr));
    }

    // A filter level without spectra keeps the spectra it had.
    CKzOpticalFilter f = *path[1];
    LiteRoundTrip([](CKzLiteVariantW& w) { w.Set(L"N", L"m_sName"); },
                  [&](CKzLiteVariantR& r) { EXPECT_EQ(0, CKzOpticalFilter::LoadFromLiteVariant(f, r)); });
    EXPECT_EQ(L"N", W(f.m_sName));
    EXPECT_EQ(L"", W(f.m_sUserName));
    EXPECT_EQ(0u, (unsigned)f.m_ePlacement);
    EXPECT_TRUE(SameSpectrum(path[1]->m_MirrorSpectrum, f.m_MirrorSpectrum));
}

// ---- probes -------------------------------------------------------------------

TEST_F(Optics, ProbeConstructors)
{
    CKzFluorescentProbe d;
    EXPECT_EQ(0xFFFFFFu, d.m_uiColor);
    EXPECT_FALSE(d.IsValid());

    CKzStringW name(L"GFP");
    CKzFluorescentProbe p(name, 488, 520);
    unsigned c520 = 0;
    KZ_RGBFromWavelength(&c520, 520);
    EXPECT_EQ(c520, p.m_uiColor);
    EXPECT_TRUE(SameSpectrum(Line(488), *p.GetExcitationSpectrum()));
    EXPECT_TRUE(SameSpectrum(Line(520), *p.GetEmissionSpectrum()));
    EXPECT_EQ(488, p.GetExcitationWavelength());
    EXPECT_EQ(520, p.GetEmissionWavelength());
    EXPECT_TRUE(p.IsValid());
    double peak = 0, lo = 0, hi = 0;
    EXPECT_EQ(0, p.GetEmissionPeakAndFwhm(peak, lo, hi));
    EXPECT_EQ(520, peak);
    EXPECT_EQ(0, p.GetExcitationPeakAndFwhm(peak, lo, hi));
    EXPECT_EQ(488, lo);

    CKzFluorescentProbe q(name, 0x00FF00, 561, 600);
    EXPECT_EQ(0x00FF00u, q.m_uiColor);
    CKzOpticalFilterSpectrum ex = Band(470, 490), em = Band(500, 550);
    CKzFluorescentProbe r(name, 7, ex, em);
    EXPECT_TRUE(SameSpectrum(em, r.m_EmissionSpectrum));
    EXPECT_EQ(525, r.GetEmissionWavelength());

    CKzFluorescentProbe s(r);
    EXPECT_TRUE(SameProbe(r, s));
    CKzFluorescentProbe& self = s;
    s = self;
    EXPECT_TRUE(SameProbe(r, s));
    EXPECT_EQ(0, s.DeleteEmissionSpectrum());
    EXPECT_FALSE(s.IsValid());
    EXPECT_FALSE(s.m_EmissionSpectrum.bPoints);
    EXPECT_TRUE(r.IsValid());
}

TEST_F(Optics, ProbeWavelengthOfASpectrum)
{
    struct Case {
        const char* name;
        CKzOpticalFilterSpectrum s;
        double w;
    } cases[] = {
        {"peak found", Spec({{1, 500, 1}, {1, 510, 5}, {1, 520, 5}, {1, 530, 2}}), 515},
        {"no half point: weighted mean rounded", Spec({{1, 500, 3}, {1, 510, 5}, {1, 521, 1}}), 508},
        {"weighted mean half rounds up", Spec({{1, 500, 1}, {1, 501, 1}}), 501},
        {"one measured point", Spec({{1, 512.5, 1}}), 512.5},
        {"band", Band(500, 550), 525},
        {"symbolic without peak: weighted", Spec({{9, 400, 1}, {9, 600, 3}}), 550},
        {"values sum to 0", Spec({{9, 400, 1}, {9, 600, -1}}), 0},
        {"huge weighted mean stays exact", Spec({{9, 1e300, 1}, {9, 1e300, 1}}), 1e300},
        {"empty", CKzOpticalFilterSpectrum(), 0},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        CKzStringW n;
        CKzOpticalFilterSpectrum none;
        CKzFluorescentProbe p(n, 0, c.s, c.s);
        EXPECT_EQ(c.w, p.GetEmissionWavelength());
        EXPECT_EQ(c.w, p.GetExcitationWavelength());
    }
}

TEST_F(Optics, SelectExcitation)
{
    CKzStringW n;
    CKzOpticalFilterSpectrum ex = Spec({{1, 450, 0.2}, {1, 488, 0.9}, {1, 561, 0.4}, {1, 600, 0.1}}), em;
    CKzOpticalFilterSpectrum flat = Spec({{1, 450, 0.5}, {1, 600, 0.5}});
    CKzFluorescentProbe p(n, 0, ex, em), f(n, 0, flat, em);
    struct Case {
        CKzFluorescentProbe* p;
        std::vector<double> w;
        int count;
        int expected;
    } cases[] = {
        {&p, {405, 488, 561}, 3, 1}, {&p, {405, 561, 488}, 3, 2}, {&f, {405, 488, 561}, 3, 1}, {&p, {405, 640}, 2, -1},
        {&p, {561, 488}, 1, 0},      {&p, {488}, 0, -1},          {&p, {488}, -5, -1},       {&p, {kNaN, 600}, 2, 1},
    };
    for (Case& c : cases) EXPECT_EQ(c.expected, c.p->SelectExcitation(c.w.data(), c.count));
    EXPECT_EQ(-1, p.SelectExcitation(nullptr, 3));
}

TEST_F(Optics, ProbeSurvivesBothForms)
{
    CKzStringW n(L"Alexa <488> & \"co\"");
    CKzOpticalFilterSpectrum ex = Spec({{1, 450, 0.2}, {1, 488, 0.9}}), em = Band(500, 550);
    CKzFluorescentProbe p(n, 0x102030, ex, em);
    CKzVariant node(CKzListVariant(), L"probe");
    EXPECT_EQ(0, CKzFluorescentProbe::SaveToVariant(node, p));
    CKzFluorescentProbe x, l;
    EXPECT_EQ(0, CKzFluorescentProbe::LoadFromVariant(x, ThroughXml(node)));
    EXPECT_TRUE(SameProbe(p, x));
    LiteRoundTrip([&](CKzLiteVariantW& w) { EXPECT_EQ(0, CKzFluorescentProbe::SaveToVariantNew(w, p)); },
                  [&](CKzLiteVariantR& r) { EXPECT_EQ(0, CKzFluorescentProbe::LoadFromVariantNew(l, r)); });
    EXPECT_TRUE(SameProbe(p, l));

    // A level without the emission spectrum keeps the one the probe had.
    CKzFluorescentProbe keep(p);
    LiteRoundTrip([](CKzLiteVariantW& w) {
                      w.Set(L"X", L"m_sName");
                      w.LevelBegin(L"m_ExcitationSpectrum");
                      CKzOpticalFilterSpectrum::SaveToVariantNew(w, Line(405));
                      w.LevelEnd();
                  },
                  [&](CKzLiteVariantR& r) { EXPECT_EQ(0, CKzFluorescentProbe::LoadFromVariantNew(keep, r)); });
    EXPECT_EQ(L"X", W(keep.m_sName));
    EXPECT_EQ(0u, keep.m_uiColor);
    EXPECT_TRUE(SameSpectrum(Line(405), keep.m_ExcitationSpectrum));
    EXPECT_TRUE(SameSpectrum(em, keep.m_EmissionSpectrum));

    CKzVariant wrong(CKzListVariant(), L"x");
    EXPECT_EQ(-4, CKzFluorescentProbe::LoadFromVariant(keep, wrong));
    EXPECT_EQ(L"X", W(keep.m_sName));
}

} // namespace
