// Optical filter spectra: editing, evaluation, colours and both stored forms.
#include "meta_test_support.h"

#include "gnr_system/KzWavelengthColor.h"

#include <limits>
#include <vector>

using namespace kzmt;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

class Spectrum : public ::testing::Test {
protected:
    void SetUp() override { PinLocale(); }
};

SKzOFSpectrumPoint Pt(unsigned t, double w, double v = 1)
{
    SKzOFSpectrumPoint p;
    p.eType = (SKzOFSpectrumPoint::EKzOFSpectrumPointType)t;
    p.dWavelength = w;
    p.dTValue = v;
    return p;
}

TEST_F(Spectrum, ConstructorsSetCountKindAndPoints)
{
    double w[3] = {400, 500, 600}, v[3] = {0.1, 0.9, 0.3};
    CKzOpticalFilterSpectrum zeros(3), measured(w, v, 3), none(w, v, 0), line(488, SKzOFSpectrumPoint::eOFPointLine),
        point(520, SKzOFSpectrumPoint::eOFPointMeasured);
    struct Case {
        const char* name;
        const CKzOpticalFilterSpectrum& s;
        unsigned count;
        bool bPoints;
        unsigned type0;
        double w0, v0;
    } cases[] = {
        {"default", CKzOpticalFilterSpectrum(), 0, false, 0, 0, 0},
        {"zeros", zeros, 3, false, 0, 0, 0},
        {"measured", measured, 3, true, 1, 400, 0.1},
        {"measured n=0", none, 0, false, 0, 0, 0},
        {"line", line, 1, false, 4, 488, 1.0},
        {"one measured", point, 1, true, 1, 520, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.count, c.s.GetCount());
        EXPECT_EQ(c.bPoints, c.s.bPoints);
        EXPECT_EQ(c.type0, (unsigned)c.s.GetPoint(0)->eType);
        EXPECT_EQ(c.w0, c.s.GetPoint(0)->dWavelength);
        EXPECT_EQ(c.v0, c.s.GetPoint(0)->dTValue);
    }
    EXPECT_EQ(0.9, measured.GetPoint(1)->dTValue);
    EXPECT_EQ(600, (*measured[2]).dWavelength);
}

TEST_F(Spectrum, IndexPastTheCountGivesTheSharedZeroedPoint)
{
    CKzOpticalFilterSpectrum s = Band(500, 550);
    for (unsigned i : {2u, 3u, 0xFFFFFFFFu}) {
        EXPECT_EQ(&CKzOpticalFilterSpectrum::m_sInvalid, s.GetPoint(i));
        EXPECT_EQ(&CKzOpticalFilterSpectrum::m_sInvalid, s[i]);
    }
    EXPECT_EQ(0u, (unsigned)CKzOpticalFilterSpectrum::m_sInvalid.eType);
    EXPECT_EQ(0.0, CKzOpticalFilterSpectrum::m_sInvalid.dWavelength);
    EXPECT_EQ(0.0, CKzOpticalFilterSpectrum::m_sInvalid.dTValue);
    EXPECT_EQ(1.0, CKzOpticalFilterSpectrum::dWlEps);
    // The pointer is to const: a caller cannot change every later answer.
    static_assert(std::is_same_v<decltype(s.GetPoint(9)), const SKzOFSpectrumPoint*>);
    static_assert(std::is_same_v<decltype(s[9]), const SKzOFSpectrumPoint*>);
}

TEST_F(Spectrum, EditingKeepsOneKindAndLeavesFailuresUnchanged)
{
    enum Op { Add, Insert, Remove };
    struct Step {
        Op op;
        unsigned type;
        double w;
        unsigned index;
        int result;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<double> wavelengths;
        bool bPoints;
    } cases[] = {
        {"first measured decides", {{Add, 1, 500, 0, 0}, {Add, 2, 510, 0, -4}}, {500}, true},
        {"first symbolic decides", {{Add, 2, 500, 0, 0}, {Add, 1, 510, 0, -4}, {Add, 3, 550, 0, 0}}, {500, 550}, false},
        {"unknown kind is symbolic", {{Add, 9, 500, 0, 0}, {Add, 4, 510, 0, 0}, {Add, 1, 520, 0, -4}}, {500, 510}, false},
        {"insert front, middle, end", {{Add, 1, 500, 0, 0}, {Insert, 1, 400, 0, 0}, {Insert, 1, 450, 1, 0},
                                        {Insert, 1, 600, 3, 0}}, {400, 450, 500, 600}, true},
        {"insert past end", {{Add, 1, 500, 0, 0}, {Insert, 1, 600, 2, -4}}, {500}, true},
        {"insert on empty sets kind", {{Insert, 4, 488, 0, 0}, {Insert, 1, 400, 0, -4}}, {488}, false},
        {"insert on empty past end", {{Insert, 1, 488, 1, -4}}, {}, false},
        {"remove", {{Add, 1, 500, 0, 0}, {Add, 1, 600, 0, 0}, {Remove, 0, 0, 0, 0}}, {600}, true},
        {"remove out of range", {{Add, 1, 500, 0, 0}, {Remove, 0, 0, 1, -4}}, {500}, true},
        {"remove last keeps bPoints", {{Add, 1, 500, 0, 0}, {Remove, 0, 0, 0, 0}}, {}, true},
        {"remove on empty", {{Remove, 0, 0, 0, -4}}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CKzOpticalFilterSpectrum s;
        for (const Step& st : c.steps) {
            SKzOFSpectrumPoint p = Pt(st.type, st.w);
            const int r = st.op == Add ? s.AddPoint(p) : st.op == Insert ? s.InsertPoint(p, st.index) : s.RemovePoint(st.index);
            EXPECT_EQ(st.result, r);
        }
        ASSERT_EQ(c.wavelengths.size(), s.GetCount());
        for (unsigned i = 0; i < s.GetCount(); ++i) EXPECT_EQ(c.wavelengths[i], s.GetPoint(i)->dWavelength);
        EXPECT_EQ(c.bPoints, s.bPoints);
    }
}

TEST_F(Spectrum, AddingAPointOfItselfCopiesItFirst)
{
    CKzOpticalFilterSpectrum s = Spec({{1, 500, 0.5}});
    for (int i = 0; i < 20; ++i) {
        SKzOFSpectrumPoint& self = const_cast<SKzOFSpectrumPoint&>(*s.GetPoint(0));
        ASSERT_EQ(0, s.AddPoint(self));
    }
    EXPECT_EQ(21u, s.GetCount());
    EXPECT_EQ(500, s.GetPoint(20)->dWavelength);
    EXPECT_EQ(0.5, s.GetPoint(20)->dTValue);
}

TEST_F(Spectrum, FindNearestPoint)
{
    CKzOpticalFilterSpectrum s = Spec({{1, 400, 1}, {1, 500, 1}, {1, 600, 1}});
    struct Case {
        double w;
        int result;
        unsigned index;
    } cases[] = {{410, 0, 0}, {390, -13, 99}, {610, -13, 99}, {600, 0, 2}, {400, 0, 0},
                 {450, 0, 0}, {551, 0, 2}, {549, 0, 1}, {kNaN, -13, 99}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.w);
        unsigned idx = 99;
        EXPECT_EQ(c.result, s.FindNearestPoint(c.w, idx));
        EXPECT_EQ(c.index, idx);
    }
    unsigned idx = 7;
    EXPECT_EQ(-13, CKzOpticalFilterSpectrum().FindNearestPoint(500, idx));
    EXPECT_EQ(7u, idx);
}

TEST_F(Spectrum, PeakAndHalfHeightBand)
{
    const double U = -777;   // an output the call must leave alone
    struct Case {
        const char* name;
        CKzOpticalFilterSpectrum s;
        int result;
        double peak, low, high;
    } cases[] = {
        {"no point left of peak below half", Spec({{1, 500, 3}, {1, 510, 5}, {1, 520, 5}, {1, 530, 2}}), -13, 515, U, U},
        {"both sides found", Spec({{1, 500, 1}, {1, 510, 5}, {1, 520, 5}, {1, 530, 2}}), 0, 515, 500, 530},
        {"half is not below half", Spec({{1, 500, 2.5}, {1, 510, 5}, {1, 520, 2.4}}), -13, 510, U, U},
        {"first maximum, run of equals", Spec({{1, 400, 0}, {1, 410, 4}, {1, 420, 4}, {1, 430, 4}, {1, 440, 1},
                                              {1, 450, 4}, {1, 460, 0}}), 0, 420, 400, 440},
        {"single measured point", Spec({{1, 500, 1}}), -13, 500, U, U},
        {"empty measured", [] { auto s = Spec({{1, 500, 1}}); s.RemovePoint(0); return s; }(), -4, U, U, U},
        {"band", Band(500, 550), 0, 525, 500, 550},
        {"line", Line(488), 0, 488, 488, 488},
        {"start skipped with the point after it", Spec({{2, 500, 1}, {4, 520, 1}, {4, 600, 1}}), 0, 600, 600, 600},
        {"unknown points skipped", Spec({{9, 450, 1}, {3, 460, 1}, {2, 500, 1}, {3, 540, 1}}), 0, 520, 500, 540},
        {"last start without end", Spec({{3, 450, 1}, {2, 500, 1}}), -13, U, U, U},
        {"empty symbolic", CKzOpticalFilterSpectrum(), -13, U, U, U},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        double peak = U, low = U, high = U;
        EXPECT_EQ(c.result, c.s.GetPeakAndFwhm(peak, low, high));
        EXPECT_EQ(c.peak, peak);
        EXPECT_EQ(c.low, low);
        EXPECT_EQ(c.high, high);
    }
}

TEST_F(Spectrum, TabbedCurves)
{
    struct Case {
        const char* name;
        CKzOpticalFilterSpectrum s;
        bool ex;
        unsigned capacity;
        unsigned count;
        std::vector<double> w, v;
    } cases[] = {
        {"band", Band(500, 550), false, 8, 4, {499, 500, 550, 551}, {0, 100, 100, 0}},
        {"band ex", Spec({{2, 500, 0.7}, {3, 550, 0.6}}), true, 8, 2, {500, 550}, {0.7, 0.6}},
        {"line", Line(488), false, 8, 3, {487, 488, 489}, {0, 100, 0}},
        {"line ex", Line(488), true, 8, 3, {487, 488, 489}, {0, 100, 0}},
        {"unknown kinds add nothing", Spec({{9, 300, 1}, {4, 488, 1}, {0, 900, 1}}), false, 8, 3, {487, 488, 489}, {0, 100, 0}},
        {"capacity cuts the last group", Spec({{4, 405, 1}, {4, 488, 1}}), false, 4, 6, {404, 405, 406, 487}, {0, 100, 0, 0}},
        {"capacity 0", Band(500, 550), false, 0, 4, {}, {}},
        {"measured copies points", Spec({{1, 400, 0.2}, {1, 450, 0.9}, {1, 500, 0.4}}), false, 8, 3, {400, 450, 500}, {0.2, 0.9, 0.4}},
        {"measured up to capacity", Spec({{1, 400, 0.2}, {1, 450, 0.9}, {1, 500, 0.4}}), true, 2, 3, {400, 450}, {0.2, 0.9}},
        {"empty", CKzOpticalFilterSpectrum(), false, 8, 0, {}, {}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.count, c.ex ? c.s.GetTabbedPointCountEx() : c.s.GetTabbedPointCount());
        std::vector<double> w(10, -5), v(10, -5);
        EXPECT_EQ(0, c.ex ? c.s.GetTabbedCurveEx(w.data(), v.data(), c.capacity)
                          : c.s.GetTabbedCurve(w.data(), v.data(), c.capacity));
        for (size_t i = 0; i < c.w.size(); ++i) {
            EXPECT_EQ(c.w[i], w[i]) << i;
            EXPECT_EQ(c.v[i], v[i]) << i;
        }
        for (size_t i = c.w.size(); i < w.size(); ++i) EXPECT_EQ(-5, w[i]) << "written past the entries at " << i;
    }
    double buf[4];
    CKzOpticalFilterSpectrum b = Band(500, 550);
    EXPECT_EQ(-4, b.GetTabbedCurve(nullptr, buf, 4));
    EXPECT_EQ(-4, b.GetTabbedCurve(buf, nullptr, 4));
    EXPECT_EQ(-4, b.GetTabbedCurveEx(nullptr, buf, 4));
    EXPECT_EQ(-4, b.GetTabbedCurveEx(buf, nullptr, 4));
}

TEST_F(Spectrum, WavelengthRanges)
{
    struct Case {
        const char* name;
        CKzOpticalFilterSpectrum s;
        int result;
        double low, high, exactLow, exactHigh;
    } cases[] = {
        {"band", Band(500, 550), 0, 499, 551, 500, 550},
        {"line", Line(488), 0, 487, 489, 488, 488},
        {"end first, start last", Spec({{3, 450, 1}, {2, 600, 1}}), 0, 450, 600, 450, 600},
        {"measured not widened", Spec({{1, 400, 0}, {1, 700, 1}}), 0, 400, 700, 400, 700},
        {"empty", CKzOpticalFilterSpectrum(), -9, -1, -1, -1, -1},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        double lo = -1, hi = -1, elo = -1, ehi = -1;
        EXPECT_EQ(c.result, c.s.GetWavelenghtRange(lo, hi));
        EXPECT_EQ(c.result, c.s.GetWavelenghtRangeExact(elo, ehi));
        EXPECT_EQ(c.low, lo);
        EXPECT_EQ(c.high, hi);
        EXPECT_EQ(c.exactLow, elo);
        EXPECT_EQ(c.exactHigh, ehi);
    }
}

std::vector<std::pair<unsigned, double>> Points(const CKzOpticalFilterSpectrum& s)
{
    std::vector<std::pair<unsigned, double>> out;
    for (unsigned i = 0; i < s.GetCount(); ++i) out.emplace_back((unsigned)s.GetPoint(i)->eType, s.GetPoint(i)->dWavelength);
    return out;
}

TEST_F(Spectrum, CombineIntersectsAndBridges)
{
    using V = std::vector<std::pair<unsigned, double>>;
    struct Case {
        const char* name;
        CKzOpticalFilterSpectrum a, b;
        bool bridge;
        V expected;
    } cases[] = {
        {"overlap", Band(400, 450), Band(430, 500), false, {{2, 430}, {3, 450}}},
        {"overlap, other order", Band(430, 500), Band(400, 450), false, {{2, 430}, {3, 450}}},
        {"inside", Band(400, 600), Band(450, 500), false, {{2, 450}, {3, 500}}},
        {"apart, no bridge", Band(400, 450), Band(460, 500), false, {{2, 400}, {3, 450}}},
        {"apart, bridged", Band(400, 450), Band(460, 500), true, {{2, 459}, {3, 460}}},
        {"empty takes other", CKzOpticalFilterSpectrum(), Band(460, 500), true, {{2, 460}, {3, 500}}},
        {"other empty", Band(400, 450), CKzOpticalFilterSpectrum(), true, {{2, 400}, {3, 450}}},
        {"two bands, one window", Spec({{2, 400, 1}, {3, 450, 1}, {2, 500, 1}, {3, 550, 1}}), Band(420, 520), false,
         {{2, 420}, {3, 450}, {2, 500}, {3, 520}}},
        {"line inside band", Line(488), Band(450, 500), false, {{4, 488}}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        CKzOpticalFilterSpectrum& r = c.a.Combine(c.b, c.bridge);
        EXPECT_EQ(&r, &c.a);
        EXPECT_EQ(c.expected, Points(c.a));
        EXPECT_FALSE(c.a.bPoints);
    }
}

TEST_F(Spectrum, CombineReportsTheSmallestGap)
{
    CKzOpticalFilterSpectrum a = Spec({{2, 400, 1}, {3, 450, 1}, {2, 600, 1}, {3, 650, 1}});
    double gap = -1;
    a.Combine(Spec({{2, 470, 1}, {3, 500, 1}, {2, 655, 1}, {3, 700, 1}}), 0.0, &gap);
    EXPECT_EQ(5, gap);
    EXPECT_EQ(4u, a.GetCount());   // nothing in common: unchanged
    gap = 3;                        // a smaller gap already held stays
    CKzOpticalFilterSpectrum b = Band(400, 450);
    b.Combine(Band(460, 500), 0.0, &gap);
    EXPECT_EQ(3, gap);
    gap = 99;
    CKzOpticalFilterSpectrum c = Band(400, 450);
    c.Combine(Band(420, 500), 0.0, &gap);
    EXPECT_EQ(0, gap);
    EXPECT_EQ((std::vector<std::pair<unsigned, double>>{{2, 420}, {3, 450}}), Points(c));
    gap = 42;
    CKzOpticalFilterSpectrum e;
    e.Combine(Band(1, 2), 0.0, &gap);
    EXPECT_EQ(0, gap);
    gap = 42;
    CKzOpticalFilterSpectrum f = Band(1, 2);
    f.Combine(CKzOpticalFilterSpectrum(), 0.0, &gap);
    EXPECT_EQ(42, gap);
}

TEST_F(Spectrum, CombineNeverMixesKinds)
{
    // A measured spectrum's points in a band window: the first point decides.
    CKzOpticalFilterSpectrum band = Band(450, 550);
    CKzOpticalFilterSpectrum measured = Spec({{1, 400, 1}, {1, 500, 1}, {1, 600, 1}}), window = Band(450, 550);
    band.Combine(measured, false);
    for (unsigned i = 0; i < band.GetCount(); ++i)
        EXPECT_EQ(band.bPoints, band.GetPoint(i)->eType == SKzOFSpectrumPoint::eOFPointMeasured) << i;
    CKzOpticalFilterSpectrum meas = Spec({{1, 400, 1}, {1, 500, 1}, {1, 600, 1}});
    meas.Combine(window, false);
    for (unsigned i = 0; i < meas.GetCount(); ++i)
        EXPECT_EQ(meas.bPoints, meas.GetPoint(i)->eType == SKzOFSpectrumPoint::eOFPointMeasured) << i;
}

TEST_F(Spectrum, RGBColorIsTheWeightedMeanOfTheRamp)
{
    auto ramp = [](double w) {
        unsigned c = 0;
        KZ_RGBFromWavelength(&c, w);
        return c;
    };
    struct Case {
        const char* name;
        std::vector<double> w, v;
    } cases[] = {{"one", {520}, {1}}, {"two", {450, 600}, {1, 3}}, {"three", {480, 530, 650}, {0.2, 0.5, 0.9}},
                 {"negative weight", {450, 600}, {-1, 3}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        double r = 0, g = 0, b = 0, sum = 0;
        for (size_t i = 0; i < c.w.size(); ++i) {
            const unsigned k = ramp(c.w[i]);
            r += (k & 0xFF) * c.v[i];
            g += (k >> 8 & 0xFF) * c.v[i];
            b += (k >> 16 & 0xFF) * c.v[i];
            sum += c.v[i];
        }
        auto ch = [&](double x) { double q = std::trunc(x / sum); return q < 0 ? 0u : q > 255 ? 255u : (unsigned)q; };
        const unsigned expected = ch(r) | ch(g) << 8 | ch(b) << 16;
        CKzOpticalFilterSpectrum s(const_cast<double*>(c.w.data()), const_cast<double*>(c.v.data()), (unsigned)c.w.size());
        unsigned colour = 0xDEAD;
        EXPECT_EQ(0, s.GetRGBColor(colour));
        EXPECT_EQ(expected, colour);
    }
    // Worked by hand from the ramps: 450 nm is (0, 51, 255), 600 nm (255, 78, 0),
    // 520 nm (56, 255, 0); weighted 1 : 3 that is (191.25, 71.25, 63.75).
    struct Hand {
        std::vector<double> w, v;
        unsigned colour;
    } hand[] = {{{450, 600}, {1, 3}, 0x3F47BFu}, {{520}, {2}, 0x00FF38u}, {{450, 520}, {1, 1}, 0x7F991Cu}};
    for (const Hand& h : hand) {
        CKzOpticalFilterSpectrum s(const_cast<double*>(h.w.data()), const_cast<double*>(h.v.data()), (unsigned)h.w.size());
        unsigned colour = 0;
        EXPECT_EQ(0, s.GetRGBColor(colour));
        EXPECT_EQ(h.colour, colour) << std::hex << colour;
    }
}

TEST_F(Spectrum, EveryEvaluationStaysBoundedOnHostilePoints)
{
    std::vector<CKzOpticalFilterSpectrum> hostile = {
        Spec({{1, kNaN, kNaN}, {1, kNaN, 1}, {1, 500, kNaN}}),
        Spec({{1, 700, 1}, {1, 600, 5}, {1, 400, 2}, {1, 300, 0}}),
        Spec({{2, kNaN, 1}, {3, kNaN, 1}, {4, kNaN, 1}}),
        Spec({{3, 600, 1}, {2, 550, 1}, {4, 500, 1}, {2, 400, 1}}),
        Spec({{2, kInf, 1}, {3, -kInf, 1}}),
        Spec({{2, 500, 1}}),
        Spec({{9, 1, 1}, {0, 2, 2}, {7, kNaN, 3}}),
    };
    for (size_t k = 0; k < hostile.size(); ++k) {
        SCOPED_TRACE(k);
        CKzOpticalFilterSpectrum& s = hostile[k];
        double a = 0, b = 0, c = 0;
        std::vector<double> w(64, 0), v(64, 0);
        unsigned idx = 0, colour = 0;
        s.GetPeakAndFwhm(a, b, c);
        ASSERT_LE(s.GetTabbedPointCount(), 64u);
        EXPECT_EQ(0, s.GetTabbedCurve(w.data(), v.data(), s.GetTabbedPointCount()));
        EXPECT_EQ(0, s.GetTabbedCurveEx(w.data(), v.data(), s.GetTabbedPointCountEx()));
        EXPECT_EQ(0, s.GetWavelenghtRange(a, b));
        EXPECT_EQ(0, s.GetWavelenghtRangeExact(a, b));
        s.FindNearestPoint(500, idx);
        EXPECT_LT(idx, s.GetCount());
        s.GetRGBColor(colour);
        EXPECT_LE(colour, 0xFFFFFFu);
        s.GetsRGBColor(colour);
        EXPECT_LE(colour, 0xFFFFFFu);
        for (const CKzOpticalFilterSpectrum& o : hostile) {
            CKzOpticalFilterSpectrum x(s), y(o);
            x.Combine(y, true);
            double gap = -1;
            x.Combine(o, 3.0, &gap);
            EXPECT_LE(x.GetCount(), s.GetCount() + o.GetCount());
        }
        CKzStringW name(L"p");
        CKzFluorescentProbe p(name, 0, s, s);
        std::vector<double> offered = {kNaN, 500, -1};
        const int sel = p.SelectExcitation(offered.data(), 3);
        EXPECT_TRUE(sel >= -1 && sel < 3);
        (void)p.GetEmissionWavelength();
        (void)p.GetExcitationWavelength();
    }
}

TEST_F(Spectrum, ColourFunctionsOnDegenerateSpectra)
{
    const long kAny = -1;   // the colour is not pinned (but must be a colour)
    struct Case {
        const char* name;
        CKzOpticalFilterSpectrum s;
        int rgb;
        long rgbColour;
        int srgb;
        long srgbColour;
    } cases[] = {
        {"empty", CKzOpticalFilterSpectrum(), 0, 0, 0, 0},
        {"empty after measured", [] { auto s = Spec({{1, 500, 1}}); s.RemovePoint(0); return s; }(), 0, 0, 0, 0},
        {"symbolic", Band(500, 550), -2, 0xDEAD, -2, 0xDEAD},
        {"values sum to 0", Spec({{1, 450, 1}, {1, 600, -1}}), 0, 0, 0, kAny},
        {"all zero", Spec({{1, 450, 0}, {1, 600, 0}}), 0, 0, 0, 0},
        {"single point", Spec({{1, 520, 1}}), 0, kAny, 0, 0},
        {"below the table", Spec({{1, 100, 1}, {1, 300, 1}}), 0, kAny, 0, 0},
        {"above the table", Spec({{1, 900, 1}, {1, 1000, 1}}), 0, kAny, 0, 0},
        {"NaN value", Spec({{1, 450, kNaN}, {1, 600, 1}}), 0, 0, 0, 0},
        {"infinite value", Spec({{1, 450, kInf}, {1, 600, 1}}), 0, 0, 0, 0},
        {"NaN wavelengths", Spec({{1, kNaN, 1}, {1, kNaN, 1}}), 0, 0, 0, 0},
        {"infinite wavelengths", Spec({{1, -kInf, 1}, {1, kInf, 1}}), 0, kAny, 0, 0},
        {"descending", Spec({{1, 600, 1}, {1, 500, 1}}), 0, kAny, 0, 0},
        {"equal wavelengths", Spec({{1, 500, 1}, {1, 500, 1}}), 0, kAny, 0, 0},
        {"huge values", Spec({{1, 450, 1e308}, {1, 600, 1e308}}), 0, 0, 0, kAny},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned colour = 0xDEAD;
        EXPECT_EQ(c.rgb, c.s.GetRGBColor(colour));
        if (c.rgbColour != kAny) EXPECT_EQ((unsigned)c.rgbColour, colour);
        EXPECT_LE(colour, 0xFFFFFFu);
        colour = 0xDEAD;
        EXPECT_EQ(c.srgb, c.s.GetsRGBColor(colour));
        if (c.srgbColour != kAny) EXPECT_EQ((unsigned)c.srgbColour, colour);
        EXPECT_LE(colour, 0xFFFFFFu);
    }
}

struct SRGBRef {
    const char* name;
    unsigned n;
    double w[8], v[8];
    unsigned colour;
};
const SRGBRef kSRGB[] = {
#include "optics_reference.inc"
};

TEST_F(Spectrum, SRGBColorAgreesWithAnIndependentIntegration)
{
    for (const SRGBRef& c : kSRGB) {
        SCOPED_TRACE(c.name);
        CKzOpticalFilterSpectrum s(const_cast<double*>(c.w), const_cast<double*>(c.v), c.n);
        unsigned colour = 0xDEAD;
        ASSERT_EQ(0, s.GetsRGBColor(colour));
        for (int k = 0; k < 3; ++k) {
            const int got = (colour >> (8 * k)) & 0xFF, want = (c.colour >> (8 * k)) & 0xFF;
            EXPECT_LE(std::abs(got - want), 1) << "channel " << k << std::hex << " got 0x" << colour << " want 0x" << c.colour;
        }
        EXPECT_EQ(0u, colour >> 24);
    }
}

TEST_F(Spectrum, CopiesAreDeepAndSelfAssignmentKeepsThePoints)
{
    CKzOpticalFilterSpectrum a = Spec({{1, 400, 0.1}, {1, 500, 0.9}});
    CKzOpticalFilterSpectrum b(a);
    SKzOFSpectrumPoint p = Pt(1, 600, 0.2);
    b.AddPoint(p);
    EXPECT_EQ(2u, a.GetCount());
    CKzOpticalFilterSpectrum& self = a;
    a = self;
    ASSERT_EQ(2u, a.GetCount());
    EXPECT_EQ(500, a.GetPoint(1)->dWavelength);
    EXPECT_TRUE(a.bPoints);
    a = b;
    EXPECT_TRUE(SameSpectrum(a, b));
    a = CKzOpticalFilterSpectrum();
    EXPECT_EQ(0u, a.GetCount());
    EXPECT_FALSE(a.bPoints);
}

// Spectra of every kind for the stored forms.
std::vector<std::pair<const char*, CKzOpticalFilterSpectrum>> StoredSpectra()
{
    std::vector<std::pair<const char*, CKzOpticalFilterSpectrum>> v;
    v.emplace_back("measured", Spec({{1, 400.25, 0.1}, {1, 500, 0.9}, {1, 650.5, 1e-9}}));
    v.emplace_back("band", Spec({{2, 450, 0.8}, {3, 490, 0.7}}));
    v.emplace_back("line and unknown kind", Spec({{4, 488, 1}, {9, 500, 2}, {0, 0, 0}}));
    v.emplace_back("empty", CKzOpticalFilterSpectrum());
    v.emplace_back("empty, bPoints kept", [] { auto s = Spec({{1, 500, 1}}); s.RemovePoint(0); return s; }());
    v.emplace_back("special values", Spec({{1, -0.0, kNaN}, {1, kInf, -kInf}}));
    return v;
}

TEST_F(Spectrum, SurvivesBothFormsFieldByField)
{
    for (auto& [name, s] : StoredSpectra()) {
        SCOPED_TRACE(name);
        CKzVariant node(CKzListVariant(), L"s");
        EXPECT_EQ(0, CKzOpticalFilterSpectrum::SaveToVariant(node, s));
        CKzOpticalFilterSpectrum fromXml = Band(1, 2);
        EXPECT_EQ(0, CKzOpticalFilterSpectrum::LoadFromVariant(fromXml, ThroughXml(node)));
        if (std::string(name) == "special values") {
            EXPECT_EQ(2u, fromXml.GetCount());   // the XML form writes NaN and infinities as text
        } else {
            EXPECT_TRUE(SameSpectrum(s, fromXml));
        }
        CKzOpticalFilterSpectrum fromLite = Band(1, 2);
        LiteRoundTrip([&](CKzLiteVariantW& w) { EXPECT_EQ(0, CKzOpticalFilterSpectrum::SaveToVariantNew(w, s)); },
                      [&](CKzLiteVariantR& r) { EXPECT_EQ(0, CKzOpticalFilterSpectrum::LoadFromVariantNew(fromLite, r)); });
        EXPECT_TRUE(SameSpectrum(s, fromLite));
    }
}

TEST_F(Spectrum, EmptySpectrumStoresAZeroedFirstPoint)
{
    CKzVariant node(CKzListVariant(), L"s");
    CKzOpticalFilterSpectrum::SaveToVariant(node, CKzOpticalFilterSpectrum());
    EXPECT_EQ("<s runtype=\"RKzOpticalFilterSpectrum\">"
              "<uiCount runtype=\"kz_uint32\" value=\"0\"/>"
              "<pPoint runtype=\"CKzListVariant\">"
              "<Point0 runtype=\"RKzOFSpectrumPoint\">"
              "<eType runtype=\"kz_uint32\" value=\"0\"/>"
              "<dWavelength runtype=\"double\" value=\"0\"/>"
              "<dTValue runtype=\"double\" value=\"0\"/>"
              "</Point0>"
              "</pPoint>"
              "<bPoints runtype=\"bool\" value=\"false\"/>"
              "</s>",
              Xml(node));
    EXPECT_EQ(L"<s runtype=\"CKzListVariant\">"
              L"<uiCount runtype=\"kz_uint32\" value=\"0\"/>"
              L"<pPoint runtype=\"CKzListVariant\"></pPoint>"
              L"<bPoints runtype=\"bool\" value=\"false\"/>"
              L"</s>",
              LiteTag(L"s", [](CKzLiteVariantW& w) { CKzOpticalFilterSpectrum::SaveToVariantNew(w, CKzOpticalFilterSpectrum()); }));
}

TEST_F(Spectrum, SavingIntoANodeThatHeldAnEarlierSaveGivesTheSameNode)
{
    CKzVariant fresh(CKzListVariant(), L"s"), reused(CKzListVariant(), L"s");
    CKzOpticalFilterSpectrum big = Spec({{1, 400, 1}, {1, 500, 1}, {1, 600, 1}}), small = Line(488);
    CKzOpticalFilterSpectrum::SaveToVariant(reused, big);
    CKzOpticalFilterSpectrum::SaveToVariant(reused, small);
    CKzOpticalFilterSpectrum::SaveToVariant(fresh, small);
    EXPECT_EQ(Xml(fresh), Xml(reused));
    reused.EnableTypeChange(false);
    CKzOpticalFilterSpectrum::SaveToVariant(reused, big);
    EXPECT_FALSE(reused.IsEnabledTypeChange());   // the flag is restored
}

TEST_F(Spectrum, LoadersReadOlderAndHostileRecords)
{
    // The integer wavelength of older files, both forms.
    CKzVariant pt(CKzListVariant(), L"p");
    SKzOFSpectrumPoint::SaveToVariant(pt, Pt(4, 0));
    pt[L"uiWavelength"] = 488u;
    SKzOFSpectrumPoint q;
    EXPECT_EQ(0, SKzOFSpectrumPoint::LoadFromVariant(q, pt));
    EXPECT_EQ(488, q.dWavelength);
    EXPECT_EQ(4u, (unsigned)q.eType);
    LiteRoundTrip([](CKzLiteVariantW& w) { w.Set(4u, L"eType"); w.Set((int)561, L"uiWavelength"); },
                  [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzOFSpectrumPoint::LoadFromVariantNew(q, r)); });
    EXPECT_EQ(561, q.dWavelength);
    EXPECT_EQ(0, q.dTValue);

    // Wrong run types.
    CKzOpticalFilterSpectrum s = Band(500, 550);
    CKzVariant other(CKzListVariant(), L"x");
    EXPECT_EQ(-4, CKzOpticalFilterSpectrum::LoadFromVariant(s, other));
    EXPECT_EQ(-4, SKzOFSpectrumPoint::LoadFromVariant(q, other));
    EXPECT_EQ(2u, s.GetCount());

    // A stored count far above the children: the children decide (variant),
    // the smaller of the two decides (lite).
    CKzVariant node(CKzListVariant(), L"s");
    CKzOpticalFilterSpectrum::SaveToVariant(node, Spec({{1, 400, 1}, {1, 500, 2}}));
    node[L"uiCount"] = 0xFFFFFFFFu;
    EXPECT_EQ(0, CKzOpticalFilterSpectrum::LoadFromVariant(s, node));
    EXPECT_EQ(2u, s.GetCount());
    EXPECT_EQ(500, s.GetPoint(1)->dWavelength);

    CKzOpticalFilterSpectrum two = Spec({{1, 400, 1}, {1, 500, 2}});
    struct LiteCase {
        const char* name;
        unsigned stored;
        bool level;
        unsigned expected;
    } lite[] = {{"huge count", 0xFFFFFFFFu, true, 2}, {"smaller count", 1, true, 1},
                {"zero count", 0, true, 0}, {"no level", 2, false, 0}};
    for (const LiteCase& c : lite) {
        SCOPED_TRACE(c.name);
        CKzOpticalFilterSpectrum got = Band(1, 2);
        LiteRoundTrip(
            [&](CKzLiteVariantW& w) {
                w.Set(c.stored, L"uiCount");
                if (c.level) {
                    w.LevelBegin(L"pPoint");
                    for (unsigned i = 0; i < 2; ++i) {
                        w.LevelBegin(i ? L"Point1" : L"Point0");
                        SKzOFSpectrumPoint::SaveToVariantNew(w, *two.GetPoint(i));
                        w.LevelEnd();
                    }
                    w.LevelEnd();
                }
                w.Set(true, L"bPoints");
            },
            [&](CKzLiteVariantR& r) { EXPECT_EQ(0, CKzOpticalFilterSpectrum::LoadFromVariantNew(got, r)); });
        ASSERT_EQ(c.expected, got.GetCount());
        if (c.expected) EXPECT_EQ(400, got.GetPoint(0)->dWavelength);
    }

    // A child that is no point stays a zeroed point.
    CKzVariant bad(CKzListVariant(), L"s");
    CKzOpticalFilterSpectrum::SaveToVariant(bad, two);
    bad[L"pPoint"][0] = CKzVariant(5);
    EXPECT_EQ(0, CKzOpticalFilterSpectrum::LoadFromVariant(s, bad));
    ASSERT_EQ(2u, s.GetCount());
    EXPECT_EQ(0u, (unsigned)s.GetPoint(0)->eType);
    EXPECT_EQ(500, s.GetPoint(1)->dWavelength);
}

} // namespace
