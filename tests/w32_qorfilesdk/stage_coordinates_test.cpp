// Stage coordinates of pixels through handles against a numpy reference,
// the handle's alignment, and the alignment points of a file's tag.
#include "capi_read_support.h"

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"
#include "w32_qorfilesdk/SKzStageAlignment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

using namespace capitest;

namespace {

#include "stage_reference.inc"

using Exp = SKzExperiment;

struct TreeDel {
    void operator()(Exp* e) const { Exp::FreeRecursive(e); }
};

// The scenario of the reference: XY points over a Z stack, frame-0
// metadata, recorded "X" and "Z" data.
struct StageFile {
    TempPath path{"stage.vt5"};
    SKzPictureMetadata md;
    std::unique_ptr<Exp, TreeDel> exp;

    explicit StageFile(bool withMetadata = true, std::map<std::wstring, Bytes> tags = {})
    {
        Exp* xy = nullptr;
        Exp::Alloc(&xy);
        Exp::Init(*xy, Exp::eExpXYPosLoop, true, 4, 0, 0, 1);
        auto& l = xy->uLoopPars.sXYPosLoop;
        for (int i = 0; i < 4; ++i) {
            l.dPosX[i] = kStageXYX[i];
            l.dPosY[i] = kStageXYY[i];
            l.dPosZ[i] = kStageXYZ[i];
            xy->pItemValid[i] = kStageXYValid[i];
        }
        l.bRelativeXY = true;
        l.dReferenceX = kStageRefX;
        l.dReferenceY = kStageRefY;
        l.bUseZ = true;
        Exp* z = nullptr;
        Exp::Alloc(&z);
        Exp::Init(*z, Exp::eExpZStackLoop, false, kStageZCount, 0, 0, 1);
        z->uLoopPars.sZStackLoop.dZStep = kStageZStep;
        z->uLoopPars.sZStackLoop.iType = 0;
        Exp* root = xy;
        CKzExperimentAPI::AddExperimentLevel(&root, z, 1);
        exp.reset(root);
        EXPECT_EQ(kStageFrames, CKzExperimentAPI::GetAllImagesCount(root));

        md.dXPos = kStageMdX, md.dYPos = kStageMdY, md.dZPos = kStageMdZ;
        md.dCalibration = kStageCal, md.dAspect = kStageAspect, md.bCalibrated = true;
        md.dStgLgCT11 = kStageCT[0], md.dStgLgCT12 = kStageCT[1];
        md.dStgLgCT21 = kStageCT[2], md.dStgLgCT22 = kStageCT[3];

        FileSpec s;
        s.attrs = Attrs(kStageW, kStageH, 1, 8, kStageFrames, 0);
        s.metadata = withMetadata ? &md : nullptr;
        s.experiment = exp.get();
        s.custom[L"X"] = Slots(std::vector<double>(std::begin(kStageRecX), std::end(kStageRecX)));
        s.custom[L"Z"] = Slots(std::vector<double>(std::begin(kStageRecZ), std::end(kStageRecZ)));
        s.tags = std::move(tags);
        WriteFile(path, s);
    }
};

void SetReferenceAlignment(int h)
{
    double sx[5], sy[5], dx[5], dy[5];
    for (int i = 0; i < 5; ++i) sx[i] = kStageAlign[i][0], sy[i] = kStageAlign[i][1], dx[i] = kStageAlign[i][2], dy[i] = kStageAlign[i][3];
    ASSERT_EQ(0, Qor_SetStageAlignment(h, 5, sx, sy, dx, dy));
}

void ExpectQueries(int h, const StageQuery* q, size_t n, double tol, bool withZ)
{
    std::vector<int> frames;
    std::vector<uint32_t> px, py;
    for (size_t i = 0; i < n; ++i) frames.push_back(q[i].frame), px.push_back(q[i].px), py.push_back(q[i].py);
    std::vector<double> x(n, NAN), y(n, NAN), z(n, NAN);
    ASSERT_EQ(0, Qor_GetStageCoordinates(h, (uint32_t)n, frames.data(), px.data(), py.data(), x.data(), y.data(),
                                         withZ ? z.data() : nullptr));
    for (size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(testing::Message() << "frame " << q[i].frame << " pixel " << q[i].px << "," << q[i].py);
        EXPECT_NEAR(q[i].x, x[i], tol * std::max(1.0, std::fabs(q[i].x)));
        EXPECT_NEAR(q[i].y, y[i], tol * std::max(1.0, std::fabs(q[i].y)));
        if (withZ) EXPECT_NEAR(q[i].z, z[i], 1e-12);
    }
}

TEST(StageCoordinates, AgreeWithTheReferenceWithAndWithoutAlignment)
{
    StageFile file;
    Handle h(file.path);
    ASSERT_NE(0, h.get());
    const size_t n = sizeof kStageQueries / sizeof kStageQueries[0];
    ExpectQueries(h, kStageQueriesUnaligned, n, 1e-12, true);
    SetReferenceAlignment(h);
    // Five pairs: a least-squares fit through an iterative decomposition of
    // a system with entries up to 1e6, so agreement to 1e-7 relative.
    ExpectQueries(h, kStageQueries, n, 1e-7, true);
    ExpectQueries(h, kStageQueries, n, 1e-7, false);   // stage Z may be omitted
    // Removing the alignment gives the plain coordinates again; removing it
    // twice is no failure.
    EXPECT_EQ(0, Qor_SetStageAlignment(h, 0, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, Qor_SetStageAlignment(h, 0, nullptr, nullptr, nullptr, nullptr));
    ExpectQueries(h, kStageQueriesUnaligned, n, 1e-12, true);
}

TEST(StageCoordinates, FramesOutsideTheExperimentAndUnknownPositions)
{
    StageFile file;
    Handle h(file.path);
    ASSERT_NE(0, h.get());
    // A frame the experiment does not hold keeps the frame-0 position.
    const int frames[] = {99, (int)kStageFrames};
    const uint32_t px[] = {kStageW / 2 + 2, kStageW / 2 + 2}, py[] = {kStageH / 2, kStageH / 2};
    double x[2] = {0, 0}, y[2] = {0, 0}, z[2] = {0, 0};
    ASSERT_EQ(0, Qor_GetStageCoordinates(h, 2, frames, px, py, x, y, z));
    for (int i = 0; i < 2; ++i) {
        EXPECT_DOUBLE_EQ(kStageCT[0] * 2 * kStageCal + kStageMdX, x[i]);
        EXPECT_DOUBLE_EQ(kStageCT[2] * 2 * kStageCal + kStageMdY, y[i]);
        EXPECT_DOUBLE_EQ(kStageMdZ, z[i]);
    }
    // A negative frame counts as frame 0, for the loops as for the recorded data.
    const int neg[] = {-4, 0};
    double nx[2], ny[2], nz[2];
    ASSERT_EQ(0, Qor_GetStageCoordinates(h, 2, neg, px, py, nx, ny, nz));
    EXPECT_EQ(nx[0], nx[1]);
    EXPECT_EQ(ny[0], ny[1]);
    EXPECT_EQ(nz[0], nz[1]);
    // Count 0 writes nothing.
    x[0] = 5;
    ASSERT_EQ(0, Qor_GetStageCoordinates(h, 0, frames, px, py, x, y, z));
    EXPECT_EQ(5, x[0]);
}

TEST(StageCoordinates, ArgumentsAndHandles)
{
    StageFile file;
    Handle h(file.path), b(file.path);
    ASSERT_NE(0, h.get());
    ASSERT_NE(0, b.get());
    DropMetadata(b);
    const int frames[] = {0};
    const uint32_t p[] = {0};
    double x, y, z;
    EXPECT_EQ(-4, Qor_GetStageCoordinates(h, 1, nullptr, p, p, &x, &y, &z));
    EXPECT_EQ(-4, Qor_GetStageCoordinates(h, 1, frames, nullptr, p, &x, &y, &z));
    EXPECT_EQ(-4, Qor_GetStageCoordinates(h, 1, frames, p, nullptr, &x, &y, &z));
    EXPECT_EQ(-4, Qor_GetStageCoordinates(h, 1, frames, p, p, nullptr, &y, &z));
    EXPECT_EQ(-4, Qor_GetStageCoordinates(h, 1, frames, p, p, &x, nullptr, &z));
    EXPECT_EQ(-13, Qor_GetStageCoordinates(b, 1, frames, p, p, &x, &y, &z));   // no frame-0 metadata

    const double one[] = {1.0};
    EXPECT_EQ(-4, Qor_SetStageAlignment(h, -1, one, one, one, one));
    EXPECT_EQ(-4, Qor_SetStageAlignment(h, 1, one, nullptr, one, one));
    EXPECT_EQ(-4, Qor_SetStageAlignment(h, 1, one, one, one, nullptr));
    EXPECT_EQ(-9, Qor_SetStageAlignment(0, 1, one, one, one, one));
    EXPECT_EQ(-9, Qor_SetStageAlignment(0, 0, nullptr, nullptr, nullptr, nullptr));

    // The conversion of an unknown handle writes nothing.
    x = y = z = 3;
    EXPECT_EQ(0, SKzQorFileHandle::ConvertCoordinates(0, 1, 2, 4, &x, &y, &z));
    EXPECT_EQ(3, x);
    EXPECT_EQ(3, z);
}

TEST(StageCoordinates, AlignmentOfOneAndTwoPairsAndAFailedFit)
{
    StageFile file;
    Handle h(file.path);
    ASSERT_NE(0, h.get());
    double x = 0, y = 0, z = 0;
    const double s0[] = {0}, d0x[] = {10}, d0y[] = {5};
    ASSERT_EQ(0, Qor_SetStageAlignment(h, 1, s0, s0, d0x, d0y));
    ASSERT_EQ(0, SKzQorFileHandle::ConvertCoordinates(h, 1, 2, 3, &x, &y, &z));
    EXPECT_DOUBLE_EQ(11, x);
    EXPECT_DOUBLE_EQ(7, y);
    EXPECT_DOUBLE_EQ(3, z);
    // Two pairs with the same source point: the fit fails, the translation stays.
    const double sx[] = {1, 1}, sy[] = {1, 1}, dx[] = {0, 4}, dy[] = {0, 4};
    ASSERT_EQ(0, Qor_SetStageAlignment(h, 2, sx, sy, dx, dy));
    ASSERT_EQ(0, SKzQorFileHandle::ConvertCoordinates(h, 1, 2, 3, &x, &y, nullptr));
    EXPECT_DOUBLE_EQ(11, x);
    EXPECT_DOUBLE_EQ(7, y);
    // A first setting whose fit fails leaves the identity.
    Handle g(file.path);
    ASSERT_EQ(0, Qor_SetStageAlignment(g, 2, sx, sy, dx, dy));
    ASSERT_EQ(0, SKzQorFileHandle::ConvertCoordinates(g, 1, 2, 3, &x, &y, nullptr));
    EXPECT_DOUBLE_EQ(1, x);
    EXPECT_DOUBLE_EQ(2, y);
}

// ---- alignment points --------------------------------------------------------------

Bytes PointsTag(int version, bool positions, int points)
{
    CKzLiteVariantW w;
    w.LevelBegin(L"AlignmentPoints");
    if (version) w.Set(version, L"Version");
    if (positions) {
        w.LevelBegin(L"Positions");
        for (int i = 0; i < points; ++i) {
            w.LevelBegin(L"");
            w.Set(10 * i, L"SeqIdx");
            w.Set(100 + i, L"XPos");
            w.Set(200 + i, L"YPos");
            w.Set(0.5 * i, L"dXPos");
            if (i != 1) w.Set(-0.25 * i, L"dYPos");   // point 1 lacks it: 0.0
            w.LevelEnd();
        }
        w.LevelEnd();
    }
    w.LevelEnd();
    return LiteBytes(w);
}

TEST(StageAlignmentPoints, ReadFromTheFilesTag)
{
    StageFile file(true, {{L"AlignmentPoints_v1.0", PointsTag(1, true, 3)}});
    Handle h(file.path);
    ASSERT_NE(0, h.get());
    int count = -1;
    ASSERT_EQ(0, Qor_GetAlignmentPoints(h, &count, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(3, count);

    int f[3], x[3], y[3];
    double dx[3], dy[3];
    ASSERT_EQ(0, Qor_GetAlignmentPoints(h, &count, f, x, y, dx, dy));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(10 * i, f[i]);
        EXPECT_EQ(100 + i, x[i]);
        EXPECT_EQ(200 + i, y[i]);
        EXPECT_EQ(0.5 * i, dx[i]);
        EXPECT_EQ(i == 1 ? 0.0 : -0.25 * i, dy[i]);
    }
    // No further than the host's count; the full count comes back.
    int g[3] = {-7, -7, -7};
    count = 2;
    ASSERT_EQ(0, Qor_GetAlignmentPoints(h, &count, g, x, y, dx, dy));
    EXPECT_EQ(10, g[1]);
    EXPECT_EQ(-7, g[2]);
    EXPECT_EQ(3, count);
    // Arrays are filled only when all five are given.
    g[0] = -7;
    count = 3;
    ASSERT_EQ(0, Qor_GetAlignmentPoints(h, &count, g, x, y, dx, nullptr));
    EXPECT_EQ(-7, g[0]);
    EXPECT_EQ(3, count);
    ASSERT_EQ(0, Qor_GetAlignmentPoints(h, nullptr, g, x, y, dx, dy));
    EXPECT_EQ(-7, g[0]);
    count = -5;
    ASSERT_EQ(0, Qor_GetAlignmentPoints(h, &count, g, x, y, dx, dy));
    EXPECT_EQ(-7, g[0]);
    EXPECT_EQ(3, count);
}

TEST(StageAlignmentPoints, OtherVersionsMissingLevelsAndMissingTags)
{
    struct Case {
        const char* what;
        Bytes tag;
        int count;   // -1: left as it was
    } cases[] = {
        {"version 2", PointsTag(2, true, 3), -1},
        {"no version: 1", PointsTag(0, true, 2), 2},
        {"no positions", PointsTag(1, false, 0), 0},
        {"empty positions", PointsTag(1, true, 0), 0},
        {"no level", Bytes{1, 2, 3, 4, 5, 6, 7, 8}, -1},
        {"no bytes", Bytes{}, -1},
    };
    for (const Case& c : cases) {
        StageFile file(true, {{L"AlignmentPoints_v1.0", c.tag}});
        Handle h(file.path);
        ASSERT_NE(0, h.get()) << c.what;
        int count = -1;
        EXPECT_EQ(0, Qor_GetAlignmentPoints(h, &count, nullptr, nullptr, nullptr, nullptr, nullptr)) << c.what;
        EXPECT_EQ(c.count, count) << c.what;
    }
    StageFile none;
    Handle h(none.path);
    int count = -1;
    EXPECT_EQ(-13, Qor_GetAlignmentPoints(h, &count, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(-1, count);
}

// The alignment is set on one thread while others convert through it.
TEST(StageConcurrent, AlignmentSetWhileConverting)
{
    StageFile file;
    Handle h(file.path);
    ASSERT_NE(0, h.get());
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    std::atomic<int> bad{0};
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!stop) {
                double x = 0, y = 0;
                SKzQorFileHandle::ConvertCoordinates(h, 1, 2, 0, &x, &y, nullptr);
                // Either no alignment or the translation by (10, 5).
                if (!((x == 1 && y == 2) || (x == 11 && y == 7))) ++bad;
            }
        });
    const double s0[] = {0}, dx[] = {10}, dy[] = {5};
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(0, Qor_SetStageAlignment(h, 1, s0, s0, dx, dy));
        ASSERT_EQ(0, Qor_SetStageAlignment(h, 0, nullptr, nullptr, nullptr, nullptr));
    }
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(0, bad.load());
}

} // namespace
