// Stage-alignment fits against numpy references, the projective transform,
// the camera-matrix rotation, the lite form and the local frame metadata.
#include "w32_qorfilesdk/SKzStageAlignment.h"

#include "gnr_metaformats/experiment_nav_support.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzDateTime.h"
#include "gnr_system/CKzLiteVariant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

#include "stage_reference.inc"

using Pair = SKzStageAlignment::SKzCoordinates;

void Normalise(double m[9])
{
    int k = 0;
    for (int i = 1; i < 9; ++i)
        if (std::fabs(m[i]) > std::fabs(m[k])) k = i;
    if (m[k] < 0)
        for (int i = 0; i < 9; ++i) m[i] = -m[i];
}

void ExpectTransform(const SKzStageAlignment& a, const double want[9], double tol, const char* what)
{
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(a.m_dTransform[i / 3][i % 3], want[i], tol) << what << " entry " << i;
}

SKzStageAlignment WithPairs(std::initializer_list<Pair> pairs)
{
    SKzStageAlignment a;
    a.m_aCoordinates.assign(pairs.begin(), pairs.end());
    return a;
}

CKzPointBase<double> Map(const SKzStageAlignment& a, double x, double y)
{
    CKzPointBase<double> r(NAN, NAN);
    EXPECT_EQ(0, ProjectiveTransform(CKzPointBase<double>(x, y), a.m_dTransform, r));
    return r;
}

TEST(StageAlignment, FitsAgreeWithReferenceForOneToSixPairs)
{
    for (const StageFitCase& c : kStageFitCases) {
        SCOPED_TRACE(testing::Message() << c.n << " pairs");
        SKzStageAlignment a;
        for (unsigned i = 0; i < c.n; ++i) a.m_aCoordinates.push_back({c.pairs[i][0], c.pairs[i][1], c.pairs[i][2], c.pairs[i][3]});
        double residual = 99.0;
        ASSERT_EQ(0, a.CalculateMatrixFromSettings(&residual));
        EXPECT_EQ(0.0, residual);
        double m[9];
        for (int i = 0; i < 9; ++i) m[i] = a.m_dTransform[i / 3][i % 3];
        if (c.n >= 5) Normalise(m);  // a singular vector's sign is arbitrary
        // Least squares goes through an iterative decomposition of a system with
        // entries up to 1e4: agreement to 1e-7 relative; the exact fits to 1e-10.
        const double tol = c.n >= 5 ? 1e-7 : 1e-10;
        for (int i = 0; i < 9; ++i) EXPECT_NEAR(m[i], c.m[i], tol * std::max(1.0, std::fabs(c.m[i]))) << i;
        for (int p = 0; p < 4; ++p) {
            const CKzPointBase<double> r = Map(a, kStageProbes[p][0], kStageProbes[p][1]);
            EXPECT_NEAR(r.x, c.mapped[p][0], 1e-7 * std::max(1.0, std::fabs(c.mapped[p][0])));
            EXPECT_NEAR(r.y, c.mapped[p][1], 1e-7 * std::max(1.0, std::fabs(c.mapped[p][1])));
        }
    }
}

TEST(StageAlignment, SmallFitsMoveRotateAndScaleAsMeasured)
{
    // One pair: a translation.
    SKzStageAlignment one = WithPairs({{0, 0, 10, 5}});
    ASSERT_EQ(0, one.CalculateMatrixFromSettings(nullptr));
    for (auto [x, y] : {std::pair{0.0, 0.0}, {3.5, -7.0}, {-100.0, 42.0}}) {
        const auto r = Map(one, x, y);
        EXPECT_DOUBLE_EQ(r.x, x + 10);
        EXPECT_DOUBLE_EQ(r.y, y + 5);
    }
    // Two pairs: scale 2, rotation +90 degrees, no translation.
    SKzStageAlignment two = WithPairs({{0, 0, 0, 0}, {1, 0, 0, 2}});
    ASSERT_EQ(0, two.CalculateMatrixFromSettings(nullptr));
    const double want[9] = {0, -2, 0, 2, 0, 0, 0, 0, 1};
    ExpectTransform(two, want, 1e-15, "two pairs");
    // Three pairs onto their negatives: the sources enter negated, so the
    // fitted transform is the identity.
    SKzStageAlignment three = WithPairs({{1, 2, -1, -2}, {5, -3, -5, 3}, {-4, 7, 4, -7}});
    ASSERT_EQ(0, three.CalculateMatrixFromSettings(nullptr));
    const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    ExpectTransform(three, id, 1e-12, "three pairs");
}

TEST(StageAlignment, FailedFitsKeepThePreviousTransform)
{
    SKzStageAlignment a = WithPairs({{0, 0, 10, 5}});
    ASSERT_EQ(0, a.CalculateMatrixFromSettings(nullptr));
    double before[3][3];
    std::memcpy(before, a.m_dTransform, sizeof before);
    struct Case {
        const char* what;
        std::vector<Pair> pairs;
    } cases[] = {
        {"no pair", {}},
        {"same source point twice", {{1, 1, 0, 0}, {1, 1, 5, 5}}},
        {"same destination point twice", {{0, 0, 3, 3}, {1, 1, 3, 3}}},
        {"three collinear sources", {{0, 0, 1, 1}, {1, 1, 2, 5}, {2, 2, 7, 3}}},
        {"four points, three collinear", {{0, 0, 1, 1}, {1, 0, 2, 5}, {2, 0, 7, 3}, {0, 1, 4, 4}}},
        {"destination of four collinear", {{0, 0, 1, 1}, {1, 0, 2, 2}, {0, 1, 3, 3}, {1, 1, 5, 7}}},
        {"not a number", {{NAN, 0, 1, 1}, {1, 0, 2, 5}, {0, 1, 7, 3}}},
    };
    for (const Case& c : cases) {
        a.m_aCoordinates = c.pairs;
        double residual = 7.0;
        EXPECT_EQ(-9, a.CalculateMatrixFromSettings(&residual)) << c.what;
        EXPECT_EQ(7.0, residual) << c.what;
        EXPECT_EQ(0, std::memcmp(before, a.m_dTransform, sizeof before)) << c.what;
    }
    // A new alignment holds the identity.
    SKzStageAlignment fresh;
    const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    ExpectTransform(fresh, id, 0, "new");
}

TEST(StageAlignment, ProjectiveTransformDividesByTheThirdRow)
{
    const double m[3][3] = {{2, 0, 1}, {0, 3, -1}, {0.5, 0, 1}};
    CKzPointBase<double> r;
    ASSERT_EQ(0, ProjectiveTransform(CKzPointBase<double>(2, 1), m, r));
    EXPECT_DOUBLE_EQ(r.x, 5.0 / 2.0);
    EXPECT_DOUBLE_EQ(r.y, 2.0 / 2.0);

    const double flat[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 0}};
    CKzPointBase<double> untouched(11, 12);
    EXPECT_EQ(-4, ProjectiveTransform(CKzPointBase<double>(3, 4), flat, untouched));
    EXPECT_EQ(11, untouched.x);
    EXPECT_EQ(12, untouched.y);
    EXPECT_EQ(-4, ProjectiveTransform(CKzPointBase<double>(3, 4), nullptr, untouched));
    EXPECT_EQ(11, untouched.x);
}

TEST(StageAlignment, CameraMatrixRotation)
{
    double a = 1, b = 0, c = 0, d = 1;
    ASSERT_EQ(0, AdjustCameraMatrixForScanAreaRotation(a, b, c, d, M_PI / 2));
    EXPECT_NEAR(a, 0, 1e-15);
    EXPECT_NEAR(b, -1, 1e-15);
    EXPECT_NEAR(c, 1, 1e-15);
    EXPECT_NEAR(d, 0, 1e-15);
    double e = 1.5, f = -2, g = 0.25, h = 3;
    ASSERT_EQ(0, AdjustCameraMatrixForScanAreaRotation(e, f, g, h, 0.0));
    EXPECT_EQ(1.5, e);
    EXPECT_EQ(-2, f);
    EXPECT_EQ(0.25, g);
    EXPECT_EQ(3, h);
    // A general angle: each row is rotated.
    const double t = 0.3, s = std::sin(t), co = std::cos(t);
    ASSERT_EQ(0, AdjustCameraMatrixForScanAreaRotation(e, f, g, h, t));
    EXPECT_DOUBLE_EQ(e, co * 1.5 + s * -2);
    EXPECT_DOUBLE_EQ(f, co * -2 - s * 1.5);
    EXPECT_DOUBLE_EQ(g, co * 0.25 + s * 3);
    EXPECT_DOUBLE_EQ(h, co * 3 - s * 0.25);
}

TEST(StageAlignment, LiteFormKeepsThePairsNotTheTransform)
{
    SKzStageAlignment a = WithPairs({{1, 2, 3, 4}, {-5.5, 6.25, 7, 8e10}, {0, 0, -1, -2}});
    ASSERT_EQ(0, a.CalculateMatrixFromSettings(nullptr));
    CKzLiteVariantW w;
    ASSERT_EQ(0, a.SaveToLiteVariant(w));
    CKzLiteVariantR r;
    w.Finalize(r);

    SKzStageAlignment b = WithPairs({{9, 9, 9, 9}});
    r.Reset();
    ASSERT_EQ(0, b.LoadFromLiteVariant(r));
    ASSERT_EQ(3u, b.m_aCoordinates.size());
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(a.m_aCoordinates[i].SrcX, b.m_aCoordinates[i].SrcX);
        EXPECT_EQ(a.m_aCoordinates[i].SrcY, b.m_aCoordinates[i].SrcY);
        EXPECT_EQ(a.m_aCoordinates[i].DstX, b.m_aCoordinates[i].DstX);
        EXPECT_EQ(a.m_aCoordinates[i].DstY, b.m_aCoordinates[i].DstY);
    }
    const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    ExpectTransform(b, id, 0, "not refitted");

    // No pairs: no coordinate level; loading it empties the pairs.
    SKzStageAlignment empty;
    CKzLiteVariantW w2;
    ASSERT_EQ(0, empty.SaveToLiteVariant(w2));
    CKzLiteVariantR r2;
    w2.Finalize(r2);
    r2.Reset();
    ASSERT_EQ(0, r2.LevelBegin(L"SKzStageAlignment"));
    EXPECT_FALSE(r2.IsValueSet(L"SKzCoordinates"));
    r2.LevelEnd();
    ASSERT_EQ(0, b.LoadFromLiteVariant(r2));
    EXPECT_TRUE(b.m_aCoordinates.empty());

    // Missing values read 0; records that are no level are skipped; an
    // absent alignment level changes nothing.
    CKzLiteVariantW w3;
    w3.LevelBegin(L"SKzStageAlignment");
    w3.LevelBegin(L"SKzCoordinates");
    w3.LevelBegin(L"");
    w3.Set(2.5, L"DstY");
    w3.LevelEnd();
    w3.Set(17, L"stray");
    w3.LevelBegin(L"");
    w3.Set(1.0, L"SrcX");
    w3.LevelEnd();
    w3.LevelEnd();
    w3.LevelEnd();
    CKzLiteVariantR r3;
    w3.Finalize(r3);
    r3.Reset();
    ASSERT_EQ(0, b.LoadFromLiteVariant(r3));
    ASSERT_EQ(2u, b.m_aCoordinates.size());
    EXPECT_EQ(0.0, b.m_aCoordinates[0].SrcX);
    EXPECT_EQ(2.5, b.m_aCoordinates[0].DstY);
    EXPECT_EQ(1.0, b.m_aCoordinates[1].SrcX);
    EXPECT_EQ(0.0, b.m_aCoordinates[1].DstY);

    CKzLiteVariantW w4;
    w4.LevelBegin(L"Other");
    w4.Set(1.0, L"x");
    w4.LevelEnd();
    CKzLiteVariantR r4;
    w4.Finalize(r4);
    r4.Reset();
    ASSERT_EQ(0, b.LoadFromLiteVariant(r4));
    EXPECT_EQ(2u, b.m_aCoordinates.size());
}

// ---- local metadata --------------------------------------------------------

using navtest::Exp;
using navtest::L;
using navtest::Tree;

Exp* XYLevel(std::vector<double> x, std::vector<double> y, std::vector<double> z, std::vector<Exp*> kids = {})
{
    Exp* e = L(Exp::eExpXYPosLoop, (u32)x.size(), kids);
    auto& l = e->uLoopPars.sXYPosLoop;
    for (size_t i = 0; i < x.size(); ++i) {
        if (l.dPosX) l.dPosX[i] = x[i];
        if (l.dPosY) l.dPosY[i] = y[i];
        if (l.dPosZ) l.dPosZ[i] = z[i];
    }
    return e;
}

Exp* ZLevel(u32 count, double step, int type, std::vector<Exp*> kids = {})
{
    Exp* e = L(Exp::eExpZStackLoop, count, kids);
    auto& z = e->uLoopPars.sZStackLoop;
    z.dZStep = step;
    z.iType = type;
    z.dZLow = 0;
    z.dZHigh = step * (count - 1);
    return e;
}

struct Md {
    SKzPictureMetadata md;
    Md()
    {
        md.dXPos = 1, md.dYPos = 2, md.dZPos = 3;
        md.dTimeMSec = 1000;
        md.dTimeAbsolute = CKzDateTime(1700000000000LL).GetJulianDayNumber();
    }
};

TEST(StageLocalMetadata, TimeMovesTheAbsoluteTimeByWholeMilliseconds)
{
    Md m;
    ASSERT_EQ(0, FillLocalMetadata(nullptr, m.md, nullptr, 3500.75, 0, 0, 0, false, false, false));
    EXPECT_EQ(3500.75, m.md.dTimeMSec);
    CKzDateTime t;
    t.Set(m.md.dTimeAbsolute);
    EXPECT_EQ(1700000000000LL + 2500, t.GetValue());
    // Backwards: truncated toward zero.
    ASSERT_EQ(0, FillLocalMetadata(nullptr, m.md, nullptr, 0.0, 0, 0, 0, false, false, false));
    t.Set(m.md.dTimeAbsolute);
    EXPECT_EQ(1700000000000LL + 2500 - 3500, t.GetValue());
    // Position untouched without experiment and overrides.
    EXPECT_EQ(1, m.md.dXPos);
    EXPECT_EQ(2, m.md.dYPos);
    EXPECT_EQ(3, m.md.dZPos);
    // A time that is no number leaves the absolute time a valid date.
    ASSERT_EQ(0, FillLocalMetadata(nullptr, m.md, nullptr, NAN, 0, 0, 0, false, false, false));
    t.Set(m.md.dTimeAbsolute);
    EXPECT_TRUE(t.IsValid());
}

TEST(StageLocalMetadata, LoopsPlaceTheFrame)
{
    // XY points (relative to a reference, with Z) over a Z stack of 5 steps
    // of 2.0; item 1 of the XY loop is not valid.
    Tree tree(XYLevel({10, 20, 30}, {-1, -2, -3}, {100, 200, 300}, {ZLevel(5, 2.0, 0)}));
    auto& xy = tree->uLoopPars.sXYPosLoop;
    xy.bRelativeXY = true, xy.dReferenceX = 1, xy.dReferenceY = 0.5, xy.bUseZ = true;
    navtest::Flags(tree.get(), {1, 0, 1});
    const u32 home = 2;  // mode 0: the middle of five steps

    struct Case {
        u32 pos[2];
        bool useX, useY, useZ;
        double x, y, z;
    } cases[] = {
        {{0, 0}, false, false, false, 10 - 1, -1 - 0.5, 100 - home * 2.0},
        {{1, 3}, false, false, false, 30 - 1, -3 - 0.5, 300 - home * 2.0 + 3 * 2.0},
        // A valid-item position beyond the valid items: XY unchanged, but
        // the stack is still placed around "the point".
        {{2, 1}, false, false, false, 1, 2, 3 - home * 2.0 + 2.0},
        // X given: the XY loop is skipped, the stack starts from the record.
        {{1, 4}, true, false, false, 77, 2, 3 + 4 * 2.0},
        // Z given: the XY loop still sets Z, then the override wins.
        {{1, 4}, false, false, true, 29, -3.5, -8},
    };
    for (const Case& c : cases) {
        Md m;
        ASSERT_EQ(0, FillLocalMetadata(c.pos, m.md, tree.get(), 1000, 77, 88, -8, c.useX, c.useY, c.useZ));
        EXPECT_DOUBLE_EQ(c.x, m.md.dXPos) << c.pos[0] << "," << c.pos[1];
        EXPECT_DOUBLE_EQ(c.y, m.md.dYPos) << c.pos[0] << "," << c.pos[1];
        EXPECT_DOUBLE_EQ(c.z, m.md.dZPos) << c.pos[0] << "," << c.pos[1];
    }
}

TEST(StageLocalMetadata, DownwardStacksAndStepsFromTheRange)
{
    // A stack alone, mode 5 (downwards), step derived from the range.
    Tree down(ZLevel(4, 0.0, 5));
    down->uLoopPars.sZStackLoop.dZLow = 0;
    down->uLoopPars.sZStackLoop.dZHigh = 9;
    Md m;
    const u32 pos[] = {2};
    ASSERT_EQ(0, FillLocalMetadata(pos, m.md, down.get(), 1000, 0, 0, 0, false, false, false));
    EXPECT_DOUBLE_EQ(3 - 2 * 3.0, m.md.dZPos);

    // Under an XY level the downward stack is raised by the home steps.
    Tree xy(XYLevel({5}, {6}, {7}, {ZLevel(5, 1.0, 4)}));
    Md n;
    const u32 p2[] = {0, 1};
    ASSERT_EQ(0, FillLocalMetadata(p2, n.md, xy.get(), 1000, 0, 0, 0, false, false, false));
    EXPECT_DOUBLE_EQ(3 + 2 * 1.0 - 1 * 1.0, n.md.dZPos);  // bUseZ off: Z from the record
    EXPECT_DOUBLE_EQ(5, n.md.dXPos);
    EXPECT_DOUBLE_EQ(6, n.md.dYPos);

    // Positions beyond the XY loop without flags change nothing.
    Md o;
    const u32 p3[] = {9, 0};
    ASSERT_EQ(0, FillLocalMetadata(p3, o.md, xy.get(), 1000, 0, 0, 0, false, false, false));
    EXPECT_DOUBLE_EQ(1, o.md.dXPos);
    EXPECT_DOUBLE_EQ(2, o.md.dYPos);
}

} // namespace
