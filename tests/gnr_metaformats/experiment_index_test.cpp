// Sequence index <-> loop positions, checked against the brute-force
// expander, and Z-stack geometry.
#include "experiment_nav_support.h"

#include <cmath>
#include <functional>

using namespace navtest;

namespace {
const int kTime = Exp::eExpTimeLoop, kXY = Exp::eExpXYPosLoop, kZ = Exp::eExpZStackLoop, kSp = Exp::eExpSpectLoop,
          kCu = Exp::eExpCustomLoop;

Pos PosOf(const Exp* t, u32 index, int* rc)
{
    Pos p(64, 0xDEADu);
    *rc = API::CalcPosFromIdx_Impl(t, 64, index, p.data());
    return p;
}
} // namespace

TEST(ExperimentIndex, SpecCases)
{
    Tree t(L(kTime, 3, {L(kXY, 2, {L(kZ, 4)})}));
    const u32 pos[] = {2, 1, 3};
    u32 idx = 0;
    EXPECT_EQ(0, API::CalcIdxFromPos(t.get(), pos, 3, idx));
    EXPECT_EQ(23u, idx);
    u32 back[3] = {9, 9, 9}, levels = 0;
    EXPECT_EQ(0, API::CalcPosFromIdx(t.get(), 23, back, &levels));
    EXPECT_EQ(3u, levels);
    EXPECT_EQ(Pos(pos, pos + 3), Pos(back, back + 3));

    const u32 bad[] = {0, 3, 0};
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::CalcIdxFromPos(t.get(), bad, 3, idx));
    Tree open(L(kTime, 0, {L(kZ, 4)}));
    const u32 far[] = {5, 1};
    EXPECT_EQ(0, API::CalcIdxFromPos(open.get(), far, 2, idx));
    EXPECT_EQ(21u, idx);

    // Items alternate between children of 2 and 3 frames: index 7 is the
    // second child's item of the second cycle.
    Tree alt(L(kTime, 4, {R(L(kZ, 2), 1), R(L(kZ, 3), 1)}));
    u32 p2[2];
    EXPECT_EQ(0, API::CalcPosFromIdx(alt.get(), 7, p2, nullptr));
    EXPECT_EQ(3u, p2[0]);
    EXPECT_EQ(0u, p2[1]);
    EXPECT_EQ(0, API::CalcIdxFromPos(alt.get(), p2, 2, idx));
    EXPECT_EQ(7u, idx);

    Tree single(L(kXY, 3));
    u32 p1 = 0;
    EXPECT_EQ(0, API::CalcPosFromIdx(single.get(), 1000, &p1, &levels));
    EXPECT_EQ(1000u, p1);
    EXPECT_EQ(1u, levels);
    levels = 0;
    EXPECT_EQ(0, API::CalcPosFromIdx(t.get(), 5, nullptr, &levels));
    EXPECT_EQ(3u, levels);
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::CalcPosFromIdx(nullptr, 0, back, &levels));
    EXPECT_EQ(0u, levels);
    // Beyond the frames of the periods.
    Tree ne(NE({2}, {{L(kZ, 2)}}));
    EXPECT_EQ(0, API::CalcPosFromIdx(ne.get(), 3, back, nullptr));
    EXPECT_EQ(KZ_ERR_FAILED, API::CalcPosFromIdx(ne.get(), 4, back, nullptr));
}

TEST(ExperimentIndex, SpectralLevelsWithUnequalChildrenRoundTrip)
{
    // Every frame of the tree goes to its positions and back; `pos` and
    // `index` name one frame whose position lies past the first child's items.
    struct Case {
        const char* name;
        std::function<Exp*()> make;
        u32 frames;
        Pos pos;
        u32 index;
    } cases[] = {
        {"time 2 over channels with Z stacks of 3 and 5",
         [] { return L(kTime, 2, {L(kSp, 2, {L(kZ, 3), L(kZ, 5)})}); }, 10, {1, 0, 4}, 9},
        {"the larger stack serves the second and third channel",
         [] { return L(kXY, 2, {L(kSp, 3, {R(L(kZ, 2), 1), R(L(kZ, 6), 2)})}); }, 12, {1, 0, 5}, 11},
        {"the larger stack first", [] { return L(kSp, 2, {L(kZ, 4), L(kZ, 1)}); }, 4, {0, 3}, 3},
        {"a Z stack below a time loop under the channels",
         [] { return L(kTime, 2, {L(kSp, 2, {L(kTime, 3, {L(kZ, 2)})})}); }, 12, {1, 0, 2, 1}, 11},
    };
    for (auto& c : cases) {
        Tree t(c.make());
        ASSERT_EQ(c.frames, API::GetAllImagesCount(t.get())) << c.name;
        const u32 levels = API::GetExperimentCount(t.get());
        ASSERT_EQ(c.pos.size(), levels) << c.name;
        for (u32 i = 0; i < c.frames; ++i) {
            std::vector<u32> p(levels, 0xBEEFu);
            ASSERT_EQ(0, API::CalcPosFromIdx(t.get(), i, p.data(), nullptr)) << c.name << " frame " << i;
            u32 back = 0;
            ASSERT_EQ(0, API::CalcIdxFromPos(t.get(), p.data(), levels, back)) << c.name << " frame " << i;
            EXPECT_EQ(i, back) << c.name;
        }
        u32 idx = 0;
        EXPECT_EQ(0, API::CalcIdxFromPos(t.get(), c.pos.data(), levels, idx)) << c.name;
        EXPECT_EQ(c.index, idx) << c.name;
        std::vector<u32> p(levels, 0);
        EXPECT_EQ(0, API::CalcPosFromIdx(t.get(), c.index, p.data(), nullptr)) << c.name;
        EXPECT_EQ(c.pos, p) << c.name;
    }
}

TEST(ExperimentIndex, PositionsEndingAboveTheLeafGiveTheBareEntry)
{
    // The levels below the positions count one frame per item.
    struct Case {
        const char* name;
        std::function<Exp*()> make;
        Pos pos;
        int rc;
        u32 index;
    } cases[] = {
        {"one level of three", [] { return L(kTime, 3, {L(kXY, 2, {L(kZ, 4)})}); }, {2}, 0, 2},
        {"two levels of three", [] { return L(kTime, 3, {L(kXY, 2, {L(kZ, 4)})}); }, {2, 1}, 0, 5},
        {"every level", [] { return L(kTime, 3, {L(kXY, 2, {L(kZ, 4)})}); }, {2, 1, 3}, 0, 23},
        {"no level", [] { return L(kTime, 3, {L(kZ, 4)}); }, {}, 0, 0},
        {"children in turn", [] { return L(kXY, 4, {R(L(kZ, 2), 1), R(L(kZ, 3), 1)}); }, {3}, 0, 3},
        {"spectral level counts one", [] { return L(kTime, 3, {L(kSp, 2, {L(kZ, 5)})}); }, {2, 0}, 0, 2},
        {"periods with their own lists", [] { return NE({2, 3}, {{L(kZ, 2)}, {L(kZ, 4)}}); }, {3}, 0, 3},
        {"an entry out of range still fails", [] { return L(kTime, 3, {L(kZ, 4)}); }, {3}, KZ_ERR_INVALID_ARG, 0},
    };
    for (auto& c : cases) {
        Tree t(c.make());
        u32 idx = 77;
        const u32 fill = 0;
        EXPECT_EQ(c.rc, API::CalcIdxFromPos(t.get(), c.pos.empty() ? &fill : c.pos.data(), (u32)c.pos.size(), idx))
            << c.name;
        if (c.rc == 0) EXPECT_EQ(c.index, idx) << c.name;
    }
}

TEST(ExperimentIndex, DeeperBranchIsRefusedBeforeWriting)
{
    // Item 0 has one level below, item 1 two: the count follows item 0.
    Tree t(L(kXY, 2, {R(L(kZ, 2), 1), R(L(kCu, 2, {L(kZ, 3)}), 1)}));
    u32 levels = 0;
    u32 buf[3] = {7, 7, 7};
    EXPECT_EQ(0, API::CalcPosFromIdx(t.get(), 0, nullptr, &levels));
    ASSERT_EQ(2u, levels);
    EXPECT_EQ(KZ_ERR_FAILED, API::CalcPosFromIdx(t.get(), 2, buf, nullptr));
    EXPECT_EQ(7u, buf[2]);
    EXPECT_EQ(0, API::CalcPosFromIdx(t.get(), 1, buf, nullptr));
    EXPECT_EQ(0u, buf[0]);
    EXPECT_EQ(1u, buf[1]);
}

TEST(ExperimentIndex, RandomTreesAgreeWithExpander)
{
    RandomTrees gen(4242);
    size_t framesChecked = 0;
    for (int n = 0; n < 400; ++n) {
        Tree t(gen.Tree());
        const auto frames = ExpandAll(t.get());
        ASSERT_EQ(frames.size(), API::GetAllImagesCount(t.get())) << "tree " << n;
        const u32 levels = API::GetExperimentCount(t.get());
        for (size_t i = 0; i < frames.size(); ++i) {
            int rc;
            Pos p = PosOf(t.get(), (u32)i, &rc);
            ASSERT_EQ(0, rc) << "tree " << n << " frame " << i;
            const Pos& want = frames[i];
            ASSERT_EQ(want, Pos(p.begin(), p.begin() + (long)want.size())) << "tree " << n << " frame " << i;
            ASSERT_EQ(0xDEADu, p[want.size()]) << "tree " << n << " frame " << i;
            u32 idx = 99999;
            ASSERT_EQ(0, API::CalcIdxFromPos(t.get(), want.data(), (u32)want.size(), idx)) << "tree " << n;
            ASSERT_EQ(i, idx) << "tree " << n << " frame " << i;
            // The public form: -9 where the frame's branch is deeper.
            std::vector<u32> buf(levels + 1, 0xBEEFu);
            const int r2 = API::CalcPosFromIdx(t.get(), (u32)i, buf.data(), nullptr);
            if (want.size() > levels) {
                ASSERT_EQ(KZ_ERR_FAILED, r2);
            } else {
                ASSERT_EQ(0, r2);
                ASSERT_EQ(want, Pos(buf.begin(), buf.begin() + (long)want.size()));
            }
            ASSERT_EQ(0xBEEFu, buf[levels]);
            ++framesChecked;
        }
        // One past the last frame is refused unless a leaf root takes it.
        if (!frames.empty() && t->uiNextLevelCount > 0 && !t->pItemValid) {
            int rc;
            PosOf(t.get(), (u32)frames.size(), &rc);
            if (t->eType == Exp::eExpNETimeLoop) EXPECT_EQ(KZ_ERR_FAILED, rc) << "tree " << n;
        }
    }
    EXPECT_GT(framesChecked, 2000u);
}

TEST(ExperimentIndex, HostileTreesFinish)
{
    // Huge periods and repeats go by whole cycles.
    Tree ne(NE({4000000000u, 5}, {{R(L(kZ, 3), 2000000000u), R(L(kZ, 1), 1)}, {L(kZ, 2)}}));
    u32 pos[3];
    EXPECT_EQ(0, API::CalcPosFromIdx(ne.get(), 4294967295u, pos, nullptr));
    EXPECT_EQ(1431655765u, pos[0]);
    u32 idx = 0;
    EXPECT_EQ(0, API::CalcIdxFromPos(ne.get(), pos, 2, idx));
    EXPECT_EQ(4294967295u, idx);
    // Null period children, zero repeat sums, null level children.
    Tree z(NE({3, 3}, {{R(L(kZ, 3), 0)}, {L(kZ, 2)}}));
    EXPECT_EQ(0, API::CalcPosFromIdx(z.get(), 1, pos, nullptr));
    EXPECT_EQ(3u, pos[0]);
    EXPECT_EQ(1u, pos[1]);
    Tree nul(L(kXY, 3, {L(kZ, 2), L(kZ, 2)}));
    Exp::FreeRecursive(nul->ppNextLevelEx[1]);
    nul->ppNextLevelEx[1] = nullptr;
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::CalcPosFromIdx(nul.get(), 1, pos, nullptr));
    const u32 p0[] = {0, 0};
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::CalcIdxFromPos(nul.get(), p0, 2, idx));
    Tree zero(L(kXY, 3, {R(L(kZ, 2), 0), R(L(kZ, 2), 0)}));
    EXPECT_EQ(KZ_ERR_FAILED, API::CalcPosFromIdx(zero.get(), 1, pos, nullptr));
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::CalcIdxFromPos(zero.get(), p0, 2, idx));
    // An index past 2^32 frames is refused.
    Tree big(L(kTime, 0, {L(kZ, 4000000000u)}));
    const u32 pb[] = {2, 0};
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::CalcIdxFromPos(big.get(), pb, 2, idx));
}

TEST(ExperimentIndex, ZStackGeometry)
{
    auto Z = [](u32 n, double low, double high, double home, double step, int mode, bool inv, bool abs) {
        Exp* e = L(kZ, n);
        auto& l = e->uLoopPars.sZStackLoop;
        l.dZLow = low, l.dZHigh = high, l.dZHome = home, l.dZStep = step, l.iType = mode, l.bZInverted = inv;
        l.bAbsolute = abs;
        return Tree(e);
    };
    struct {
        const char* name;
        Tree z;
        int rc;
        double step;
    } steps[] = {
        {"positive step", Z(11, 0, 10, 7, 1, 2, false, false), 0, 1},
        {"home based from low", Z(11, 0, 10, 7, 0, 2, false, false), 0, 1},
        {"home based inverted", Z(11, 0, 10, 7, 0, 2, true, false), 0, 1},
        {"mode 0 one plane", Z(1, 0, 2, 0, 0, 0, false, false), KZ_ERR_FAILED, -5},
        {"mode 0 from range", Z(5, 0, 2, 0, 0, 0, false, false), 0, 0.5},
        {"empty range home based", Z(5, 3, 3, 3, 0, 3, false, false), 0, 0},
        {"NaN range home based", Z(5, NAN, 3, 3, 0, 6, false, false), 0, 0},
    };
    for (auto& c : steps) {
        double s = -5;
        EXPECT_EQ(c.rc, API::GetZStackStepSize(c.z.get(), &s)) << c.name;
        EXPECT_EQ(c.step, s) << c.name;
    }
    double s = 0;
    Tree notZ(L(kXY, 2));
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::GetZStackStepSize(notZ.get(), &s));
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::GetZStackStepSize(nullptr, &s));

    struct {
        Tree z;
        double cur, want;
    } moves[] = {
        {Z(11, 0, 10, 7, 1, 2, false, true), 100, 2},
        {Z(11, 0, 10, 7, 1, 2, false, false), 100, 102},
        {Z(11, 0, 10, 7, 1, 3, true, true), 0, 10},
        {Z(5, 0, 10, 7, 0.5, 0, false, true), 0, 8},
        {Z(5, 0, 10, 7, 0.5, 0, true, true), 0, 2},
        {Z(5, 0, 10, 7, 0.5, 5, false, true), 0, 2},
        {Z(5, 0, 10, 7, 0.5, 4, false, true), 0, 10},
        {Z(5, 0, 10, 7, -1, 4, false, true), 3, 3},
        {Z(0, 0, 10, 7, 1, 4, false, true), 3, 3},
    };
    for (auto& m : moves)
        EXPECT_EQ(m.want, API::GetZStackFirstMovePosition(m.z->uLoopPars.sZStackLoop, m.cur));

    Tree disp(Z(11, 0, 10, 7, 0.5, 2, false, true));
    EXPECT_EQ(-2.5, API::GetZStackPositionForDisplay(disp->uLoopPars.sZStackLoop, 0));
    Tree absM0(Z(11, 0, 10, 7, 0.5, 0, false, true));
    EXPECT_EQ(2.0, API::GetZStackPositionForDisplay(absM0->uLoopPars.sZStackLoop, 4));
    Tree relM0(Z(11, 0, 10, 7, 0.5, 0, false, false));
    EXPECT_EQ(-0.5, API::GetZStackPositionForDisplay(relM0->uLoopPars.sZStackLoop, 4));

    // Home 14 lies beyond 11 planes: the middle 5.
    // First frame at the Z home: time 3 / Z 11 (home 7) / spectral.
    Tree t(L(kTime, 3, {L(kZ, 11, {L(kSp, 2)})}));
    auto& zl = t->ppNextLevelEx[0]->uLoopPars.sZStackLoop;
    zl.dZLow = 0, zl.dZHigh = 10, zl.dZHome = 7, zl.dZStep = 1, zl.iType = 2;
    u32 idx = 0;
    EXPECT_EQ(0, API::GetFirstZStackHomePosition(t.get(), &idx));
    EXPECT_EQ(7u, idx);
    Tree noZ(L(kTime, 3));
    EXPECT_EQ(KZ_ERR_FAILED, API::GetFirstZStackHomePosition(noZ.get(), &idx));
    EXPECT_EQ(KZ_ERR_FAILED, API::GetFirstZStackHomePosition(nullptr, &idx));
}
