// Tree navigation, loop sizes, frame counts, walks, insertion and repair.
#include "experiment_nav_support.h"

#include "gnr_system/CKzByteArray.h"

#include <chrono>
#include <cmath>
#include <functional>
#include <string>

using namespace navtest;

namespace {

const int kTime = Exp::eExpTimeLoop, kXY = Exp::eExpXYPosLoop, kZ = Exp::eExpZStackLoop, kSp = Exp::eExpSpectLoop,
          kCu = Exp::eExpCustomLoop, kPol = Exp::eExpPolarLoop, kMan = Exp::eExpManualTimeLoop;

Exp* TimeBits(u32 count, u32 bits, std::vector<Exp*> kids = {})
{
    Exp* e = L(kTime, count, kids);
    e->uLoopPars.sTimeLoop.uiLoopType = bits;
    return e;
}

} // namespace

TEST(ExperimentNav, FrameCounts)
{
    struct Case {
        const char* name;
        std::function<Exp*()> make;
        u32 frames;
    } cases[] = {
        {"time 10 / Z 5 / spectral leaf", [] { return L(kTime, 10, {L(kZ, 5, {L(kSp, 3)})}); }, 50},
        {"repeats 2 and 1, frames 3 and 4", [] { return L(kTime, 5, {R(L(kZ, 3), 2), R(L(kZ, 4), 1)}); }, 16},
        {"same with flags 1 0 1 1 1",
         [] { return Flags(L(kTime, 5, {R(L(kZ, 3), 2), R(L(kZ, 4), 1)}), {1, 0, 1, 1, 1}); }, 10},
        {"time loop bit 1 set", [] { return TimeBits(4, 2, {L(kZ, 3)}); }, 0},
        {"time loop bit 0 set below", [] { return L(kXY, 3, {TimeBits(4, 1)}); }, 0},
        {"spectral root over Z 7", [] { return L(kSp, 2, {L(kZ, 7)}); }, 7},
        {"spectral root over time 3", [] { return L(kSp, 2, {L(kTime, 3)}); }, 3},
        {"spectral takes the largest Z below", [] { return L(kSp, 2, {L(kZ, 3, {L(kCu, 2, {L(kZ, 9)})})}); }, 9},
        {"flags on a leaf", [] { return L(kXY, 2, {Flags(L(kZ, 4), {1, 0, 0, 1})}); }, 4},
        {"manual time and polar chain", [] { return L(kMan, 3, {L(kPol, 2)}); }, 6},
        {"null first child", [] {
             Exp* e = L(kTime, 3, {L(kZ, 2)});
             Exp::FreeRecursive(e->ppNextLevelEx[0]);
             e->ppNextLevelEx[0] = nullptr;
             return e;
         }, 0},
        {"null second child", [] {
             Exp* e = L(kTime, 3, {L(kZ, 2), L(kZ, 2)});
             Exp::FreeRecursive(e->ppNextLevelEx[1]);
             e->ppNextLevelEx[1] = nullptr;
             return e;
         }, 0},
        {"all repeats 0 over two children", [] { return L(kXY, 6, {R(L(kZ, 2), 0), R(L(kZ, 3), 0)}); }, 0},
        {"more repeats than items", [] { return L(kXY, 2, {R(L(kZ, 2), 3), R(L(kZ, 5), 1)}); }, 4},
        // Periods: {3: children Z2, Z3 in turn}, {2: Z4} -> 2*2 + 3*1 + 2*4.
        {"periods with sub-loops", [] { return NE({3, 2}, {{L(kZ, 2), L(kZ, 3)}, {L(kZ, 4)}}); }, 15},
        {"period without list counts nothing", [] { return NE({3, 2}, {{}, {L(kZ, 4)}}); }, 8},
        {"period with zero repeat sum", [] { return NE({3, 2}, {{R(L(kZ, 2), 0)}, {L(kZ, 4)}}); }, 8},
        {"periods without sub-loops, one acquiring nothing", [] {
             Exp* e = NE({3, 4}, {}, {L(kZ, 2)});
             e->uLoopPars.sNETimeLoop.pPeriod[1].uiLoopType = 1;
             return e;
         }, 6},
        {"periods over own children in turn", [] { return NE({3, 2}, {}, {L(kZ, 2), L(kZ, 3)}); }, 4 + 3 + 2 + 3},
        {"2^32 frames saturate", [] { return L(kTime, 65536, {L(kZ, 65536)}); }, 4294967295u},
        {"10^15 frames saturate", [] { return L(kTime, 100000, {L(kXY, 100000, {L(kZ, 100000)})}); }, 4294967295u},
        {"saturated children in turn", [] {
             return L(kTime, 4000000000u, {R(L(kZ, 4000000000u), 4000000000u), R(L(kZ, 3), 4000000000u)});
         }, 4294967295u},
    };
    for (auto& c : cases) {
        Tree t(c.make());
        EXPECT_EQ(c.frames, API::GetAllImagesCount(t.get())) << c.name;
        EXPECT_EQ(c.frames, Exp::GetPictureCount(*t)) << c.name;
    }
    EXPECT_EQ(0u, API::GetAllImagesCount(nullptr));
}

TEST(ExperimentNav, FrameCountsAgreeWithExpander)
{
    RandomTrees gen(1234);
    for (int n = 0; n < 400; ++n) {
        Tree t(gen.Tree());
        const auto frames = ExpandAll(t.get());
        ASSERT_EQ(frames.size(), API::GetAllImagesCount(t.get())) << "tree " << n;
    }
}

TEST(ExperimentNav, Periodicity)
{
    Tree none(L(kTime, 3));
    EXPECT_EQ(0u, API::GetNextLevelPeriodicity(none.get()));
    EXPECT_EQ(0u, API::GetNextLevelPeriodicity(nullptr));
    Tree emptyArray(L(kTime, 3));
    emptyArray->ppNextLevelEx = (Exp**)CKzAlloc::Alloc(1, sizeof(Exp*));
    EXPECT_EQ(1u, API::GetNextLevelPeriodicity(emptyArray.get()));
    Tree zeros(L(kTime, 3, {R(L(kZ, 1), 0), R(L(kZ, 1), 0)}));
    EXPECT_EQ(1u, API::GetNextLevelPeriodicity(zeros.get()));
    Tree sum(L(kTime, 3, {R(L(kZ, 1), 2), R(L(kZ, 1), 3)}));
    EXPECT_EQ(5u, API::GetNextLevelPeriodicity(sum.get()));
    Tree big(L(kTime, 3, {R(L(kZ, 1), 4000000000u), R(L(kZ, 1), 4000000000u)}));
    EXPECT_EQ(8000000000ull, API::GetNextLevelPeriodicity(big.get()));
    Exp::FreeRecursive(sum->ppNextLevelEx[1]);
    sum->ppNextLevelEx[1] = nullptr;
    EXPECT_EQ(0u, API::GetNextLevelPeriodicity(sum.get()));

    Tree ne(NE({2, 2, 2}, {{R(L(kZ, 1), 2), R(L(kZ, 1), 1)}, {R(L(kZ, 1), 0)}, {}}));
    const auto* s = ne->uLoopPars.sNETimeLoop.pSubLoops;
    EXPECT_EQ(3u, API::GetPeriodicity(&s[0]));
    EXPECT_EQ(0u, API::GetPeriodicity(&s[1]));
    EXPECT_EQ(0u, API::GetPeriodicity(&s[2]));
    EXPECT_EQ(0u, API::GetPeriodicity(nullptr));
}

TEST(ExperimentNav, ChildSelection)
{
    Tree xy(L(kXY, 6, {R(L(kZ, 1), 2), R(L(kZ, 2), 1)}));
    Exp* a = xy->ppNextLevelEx[0];
    Exp* b = xy->ppNextLevelEx[1];
    const Exp* want[] = {a, a, b, a, a, b};
    for (u32 i = 0; i < 6; ++i) EXPECT_EQ(want[i], API::GetNextLevelExperiment(xy.get(), i)) << i;

    // Repeat 0 first: the time rule takes it only for index 0, the general
    // rule always.
    Tree time(L(kTime, 4, {R(L(kZ, 1), 0), R(L(kZ, 2), 2)}));
    Tree other(L(kXY, 4, {R(L(kZ, 1), 0), R(L(kZ, 2), 2)}));
    for (u32 i = 0; i < 4; ++i) {
        EXPECT_EQ(i == 0 ? time->ppNextLevelEx[0] : time->ppNextLevelEx[1],
                  API::GetNextLevelExperiment(time.get(), i)) << i;
        EXPECT_EQ(other->ppNextLevelEx[0], API::GetNextLevelExperiment(other.get(), i)) << i;
    }
    Tree only(L(kXY, 4, {R(L(kZ, 1), 0)}));
    EXPECT_EQ(only->ppNextLevelEx[0], API::GetNextLevelExperiment(only.get(), 77));
    EXPECT_EQ(nullptr, API::GetNextLevelExperiment((const Exp*)nullptr, 0));
    Tree leaf(L(kXY, 4));
    EXPECT_EQ(nullptr, API::GetNextLevelExperiment(leaf.get(), 0));

    // Periods {2: P, Q in turn}, flag clear on {3}, {0: open-ended, R}.
    Tree ne(NE({2, 3, 0}, {{L(kZ, 1), L(kZ, 2)}, {L(kZ, 3)}, {L(kZ, 4)}}));
    auto& l = ne->uLoopPars.sNETimeLoop;
    l.pPeriodValid[1] = false;
    Exp* P = l.pSubLoops[0].ppNextLevelEx[0];
    Exp* Q = l.pSubLoops[0].ppNextLevelEx[1];
    Exp* Rr = l.pSubLoops[2].ppNextLevelEx[0];
    EXPECT_EQ(P, API::GetNextLevelExperiment(ne.get(), 0));
    EXPECT_EQ(Q, API::GetNextLevelExperiment(ne.get(), 1));
    EXPECT_EQ(Rr, API::GetNextLevelExperiment(ne.get(), 2));
    EXPECT_EQ(Rr, API::GetNextLevelExperiment(ne.get(), 4000000000u));
    const Exp* cne = ne.get();
    EXPECT_EQ(Q, API::GetNextLevelExperiment(cne, 1));
}

TEST(ExperimentNav, PathsAndLoopSizes)
{
    // time 3 / (XY 4 with flags 1 0 1 1) / Z 5 / Z 6 ; second time child custom 2
    Tree t(L(kTime, 4, {R(Flags(L(kXY, 4, {L(kZ, 5, {L(kZ, 6)})}), {1, 0, 1, 1}), 1), R(L(kCu, 2), 1)}));
    EXPECT_EQ(4u, API::GetExperimentCount(t.get()));
    EXPECT_EQ(0u, API::GetExperimentCount(nullptr));

    u32 depth = 99;
    SKzExperiment* found = nullptr;
    EXPECT_EQ(KZ_ERR_AMBIGUOUS, API::FindExperiment(t.get(), T(kZ), nullptr, 0, &depth, &found));
    EXPECT_EQ(2u, depth);
    EXPECT_EQ(t->ppNextLevelEx[0]->ppNextLevelEx[0], found);
    EXPECT_EQ(KZ_ERR_NOT_FOUND, API::FindExperiment(t.get(), T(kCu), nullptr, 0, &depth, &found));
    const u32 pos1[] = {1};
    EXPECT_EQ(0, API::FindExperiment(t.get(), T(kCu), pos1, 1, &depth, &found));
    EXPECT_EQ(1u, depth);
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::FindExperiment(nullptr, T(kCu), nullptr, 0, nullptr, nullptr));

    u32 size = 99;
    EXPECT_EQ(0, API::GetLoopSize(t.get(), T(kXY), nullptr, 0, &size));
    EXPECT_EQ(3u, size);
    EXPECT_EQ(KZ_ERR_AMBIGUOUS, API::GetLoopSize(t.get(), T(kZ), nullptr, 0, &size));
    struct {
        u32 depth;
        int rc;
        u32 size;
    } byDepth[] = {{0, 0, 4}, {1, 0, 3}, {2, 0, 5}, {3, 0, 6}, {4, KZ_ERR_NOT_FOUND, 0}, {9, KZ_ERR_NOT_FOUND, 0}};
    for (auto& c : byDepth) {
        size = 99;
        EXPECT_EQ(c.rc, API::GetLoopSize(t.get(), c.depth, nullptr, 0, &size)) << c.depth;
        EXPECT_EQ(c.size, size) << c.depth;
    }
    EXPECT_EQ(0, API::GetLoopSize(t.get(), 1u, pos1, 1, &size));
    EXPECT_EQ(2u, size);

    EXPECT_EQ(0u, API::GetAllZStackLoopsSize(t.get(), nullptr, 0));   // ambiguous
    EXPECT_EQ(3u, API::GetAllXYPosLoopsSize(t.get(), nullptr, 0));
    EXPECT_EQ(0u, API::GetAllCustLoopsSize(t.get(), nullptr, 0));
    EXPECT_EQ(2u, API::GetAllCustLoopsSize(t.get(), pos1, 1));
    EXPECT_EQ(4u, API::GetAllTimeLoopsSize(t.get(), nullptr, 0));
    Tree man(L(kXY, 2, {L(kMan, 7)}));
    EXPECT_EQ(7u, API::GetAllTimeLoopsSize(man.get(), nullptr, 0));

    // A spectral level continues with the child of the largest count among
    // those serving its channels, without using a position.
    Tree sp(L(kSp, 2, {R(L(kZ, 3), 1), R(L(kZ, 8), 1), R(L(kZ, 20), 1)}));
    EXPECT_EQ(0, API::GetLoopSize(sp.get(), 1u, nullptr, 0, &size));
    EXPECT_EQ(8u, size);
}

TEST(ExperimentNav, LoopSizeForDisplay)
{
    Tree timeFlags(Flags(L(kTime, 5), {1, 0, 0, 1, 1}));
    Tree xyFlags(Flags(L(kXY, 5), {1, 0, 0, 1, 1}));
    Tree ne(NE({3, 0, 4}));
    Tree ne2(NE({3, 0, 4}));
    ne2->uLoopPars.sNETimeLoop.pPeriodValid[1] = false;
    struct {
        const Exp* e;
        u32 display, size;
    } cases[] = {{timeFlags.get(), 5, 3}, {xyFlags.get(), 3, 3}, {ne.get(), 0, 7}, {ne2.get(), 7, 7},
                 {nullptr, 0, 0}};
    for (auto& c : cases) {
        EXPECT_EQ(c.display, API::GetLoopSizeForDisplay(c.e));
        EXPECT_EQ(c.size, API::GetLoopSize(c.e));
    }
}

namespace {
struct WalkLog {
    std::vector<std::pair<const Exp*, u32>> seen;
    const Exp* stopAt = nullptr;
};
int LogWalk(const SKzExperiment* lv, kz_uint32 depth, void* ctx)
{
    auto* w = (WalkLog*)ctx;
    w->seen.push_back({lv, depth});
    return lv == w->stopAt ? 7 : 0;
}
} // namespace

TEST(ExperimentNav, WalkAndSimple)
{
    Tree t(L(kTime, 2, {L(kXY, 2, {L(kZ, 3)}), L(kCu, 2)}));
    WalkLog w;
    EXPECT_EQ(0, API::WalkExperiment(t.get(), LogWalk, &w, 5));
    ASSERT_EQ(4u, w.seen.size());
    EXPECT_EQ(t->ppNextLevelEx[0]->ppNextLevelEx[0], w.seen[2].first);
    EXPECT_EQ(7u, w.seen[2].second);
    EXPECT_EQ(t->ppNextLevelEx[1], w.seen[3].first);
    WalkLog stop;
    stop.stopAt = t->ppNextLevelEx[0];
    EXPECT_EQ(7, API::WalkExperiment(t.get(), LogWalk, &stop, 0));
    EXPECT_EQ(2u, stop.seen.size());
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::WalkExperiment(t.get(), nullptr, nullptr, 0));
    EXPECT_EQ(0, API::WalkExperiment(nullptr, LogWalk, &w, 0));

    // Period lists of valid periods only; the own children are not walked.
    Tree ne(NE({1, 1, 1}, {{L(kZ, 1)}, {L(kZ, 2)}, {L(kZ, 3), L(kZ, 4)}}, {L(kCu, 9)}));
    ne->uLoopPars.sNETimeLoop.pPeriodValid[1] = false;
    WalkLog wn;
    EXPECT_EQ(0, API::WalkExperiment(ne.get(), LogWalk, &wn, 0));
    ASSERT_EQ(4u, wn.seen.size());
    u32 counts[] = {1, 3, 4};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(counts[i], wn.seen[i + 1].first->uLoopPars.uiCount);
        EXPECT_EQ(1u, wn.seen[i + 1].second);
    }

    EXPECT_FALSE(API::IsSimpleExperiment(t.get()));
    Tree chain(L(kTime, 2, {L(kXY, 2, {L(kZ, 3)})}));
    EXPECT_TRUE(API::IsSimpleExperiment(chain.get()));
    Tree deep(L(kTime, 2, {L(kXY, 2, {L(kZ, 3, {L(kCu, 1), L(kCu, 1)})})}));
    EXPECT_FALSE(API::IsSimpleExperiment(deep.get()));
    EXPECT_TRUE(API::IsSimpleExperiment(nullptr));
}

TEST(ExperimentNav, ZStackSizeMaxAndHome)
{
    Tree t(L(kTime, 2, {L(kZ, 5), L(kXY, 2, {L(kZ, 11), L(kZ, 11)})}));
    Exp* z11 = t->ppNextLevelEx[1]->ppNextLevelEx[0];
    auto& zl = z11->uLoopPars.sZStackLoop;
    zl.dZLow = 0, zl.dZHigh = 10, zl.dZHome = 7, zl.dZStep = 1, zl.iType = 2;
    u32 home = 99;
    EXPECT_EQ(11u, API::GetZStackSizeMax(t.get(), &home));
    EXPECT_EQ(7u, home);   // the first of the largest stacks wins
    EXPECT_EQ(0u, API::GetZStackSizeMax(nullptr, &home));
    EXPECT_EQ(0u, home);

    u32 ctx[5] = {0, 0, 0, 0, 0};
    EXPECT_EQ(0, API::WalkExperiment(t.get(), getSizeMaxCallback, ctx, 0));
    EXPECT_EQ(7u, ctx[0]);
    EXPECT_EQ(2u, ctx[1]);
    EXPECT_EQ(5u, ctx[2]);
    EXPECT_EQ(11u, ctx[3]);
    EXPECT_EQ(KZ_ERR_FAILED, getSizeMaxCallback(nullptr, 0, ctx));
    EXPECT_EQ(KZ_ERR_FAILED, getZStackSizeMaxCallback(t.get(), 0, nullptr));
}

TEST(ExperimentNav, ZStackHomeIndex)
{
    struct Case {
        const char* name;
        u32 n;
        double low, high, home, step;
        int mode;
        bool inverted;
        u32 want;
    } cases[] = {
        {"mode 2 from low", 11, 0, 10, 7, 1, 2, false, 7},
        {"mode 2 inverted from high", 11, 0, 10, 7, 1, 2, true, 3},
        {"mode 6 from high", 11, 0, 10, 7, 1, 6, false, 3},
        {"mode 7 inverted from low", 11, 0, 10, 7, 1, 7, true, 7},
        {"tolerance rounds up", 11, 0, 10, 6.96, 1, 3, false, 7},
        {"step 0 from range", 11, 0, 10, 7, 0, 2, false, 7},
        {"mode 0 middle", 11, 0, 10, 7, 1, 0, false, 5},
        {"empty stack", 0, 0, 10, 7, 1, 0, false, 2147483647u},
        {"empty home-based stack", 0, 0, 10, 7, 1, 2, false, 2147483647u},
        {"home beyond the stack", 5, 0, 10, 70, 1, 2, false, 2},
        {"NaN home", 5, 0, 10, NAN, 1, 2, false, 2},
        {"NaN home, step 0", 5, 0, 10, NAN, 0, 2, false, 2},
        {"empty range, step 0", 5, 3, 3, 3, 0, 2, false, 2},
        {"NaN range", 5, NAN, 3, 3, 0, 2, false, 2},
        {"huge distance", 5, 0, 10, 1e30, 1e-30, 2, false, 2},
    };
    for (auto& c : cases) {
        Tree z(L(kZ, c.n));
        auto& l = z->uLoopPars.sZStackLoop;
        l.dZLow = c.low, l.dZHigh = c.high, l.dZHome = c.home, l.dZStep = c.step, l.iType = c.mode;
        l.bZInverted = c.inverted;
        u32 home = 12345;
        EXPECT_EQ(0, API::GetZStackHomePosition(l, &home, 0.05)) << c.name;
        EXPECT_EQ(c.want, home) << c.name;
    }
}

TEST(ExperimentNav, AddLevel)
{
    // Depth 0 on one level: the old root becomes the only child.
    Exp* root = L(kZ, 4);
    Exp* top = L(kTime, 3);
    EXPECT_EQ(0, API::AddExperimentLevel(root, top, 0));
    EXPECT_EQ(top, root);
    ASSERT_EQ(1u, root->uiNextLevelCount);
    EXPECT_EQ(4u, root->ppNextLevelEx[0]->uLoopPars.uiCount);
    EXPECT_EQ(1u, root->ppNextLevelEx[0]->uiRepeatCount);
    EXPECT_EQ(12u, API::GetAllImagesCount(root));
    // Building from flat records: each new level above the previous root.
    EXPECT_EQ(0, API::AddExperimentLevel(&root, L(kXY, 2), 0));
    EXPECT_EQ(24u, API::GetAllImagesCount(root));
    EXPECT_EQ(3u, API::GetExperimentCount(root));
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::AddExperimentLevel(&root, nullptr, 0));
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::AddExperimentLevel(root, nullptr, 0));
    Exp* stray = L(kCu, 1);
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::AddExperimentLevel((Exp**)nullptr, stray, 0));
    Exp::FreeRecursive(stray);
    Exp::FreeRecursive(root);

    // Empty tree: the level becomes the root without children.
    Exp* none = nullptr;
    Exp* lone = L(kZ, 2);
    EXPECT_EQ(0, API::AddExperimentLevel(none, lone, 3));
    EXPECT_EQ(lone, none);
    Exp::FreeRecursive(none);

    // Depth 1 under two children: the level and an independent childless
    // copy replace them, each taking the old child as its only child.
    Exp* t = L(kTime, 3, {R(L(kZ, 2), 1), R(L(kZ, 5), 1)});
    Exp* ins = L(kCu, 4);
    EXPECT_EQ(0, API::AddExperimentLevel(t, ins, 1));
    ASSERT_EQ(2u, t->uiNextLevelCount);
    Exp* a = t->ppNextLevelEx[0];
    Exp* b = t->ppNextLevelEx[1];
    EXPECT_EQ(ins, a);
    EXPECT_NE(a, b);
    EXPECT_EQ(Exp::eExpCustomLoop, b->eType);
    ASSERT_EQ(1u, a->uiNextLevelCount);
    ASSERT_EQ(1u, b->uiNextLevelCount);
    EXPECT_NE(a->ppNextLevelEx[0], b->ppNextLevelEx[0]);
    EXPECT_EQ(2u, a->ppNextLevelEx[0]->uLoopPars.uiCount);
    EXPECT_EQ(5u, b->ppNextLevelEx[0]->uLoopPars.uiCount);
    EXPECT_EQ(4u * 2 * 2 + 4u * 5 * 1, API::GetAllImagesCount(t));
    Exp::FreeRecursive(t);   // nothing shared: no double release

    // Deeper than the tree: attached below the deepest level.
    Exp* c = L(kTime, 2, {L(kZ, 3)});
    EXPECT_EQ(0, API::AddExperimentLevel(c, L(kCu, 5), 9));
    EXPECT_EQ(3u, API::GetExperimentCount(c));
    EXPECT_EQ(30u, API::GetAllImagesCount(c));
    Exp::FreeRecursive(c);
}

namespace {
// The largest item count m <= limit of the root whose frames (by the
// expander, items 0..m-1) stay within `written`; a leaf root without per-item
// arrays takes one item per frame written.
u32 BruteRepair(const Exp* root, u32 written)
{
    if (root->uiNextLevelCount == 0 && !root->pItemValid && root->eType != Exp::eExpXYPosLoop &&
        root->eType != Exp::eExpXYDiscrLoop)
        return written;
    const auto frames = ExpandAll(root);
    u32 m = 0;
    size_t used = 0;
    while (m < root->uLoopPars.uiCount) {
        size_t k = used;
        while (k < frames.size() && frames[k][0] == m) ++k;
        if (k > written) break;
        used = k;
        ++m;
    }
    return m;
}
} // namespace

TEST(ExperimentNav, Repair)
{
    {
        Tree t(L(kTime, 10, {L(kZ, 5)}));
        auto& tl = t->uLoopPars.sTimeLoop;
        tl.dStart = 1, tl.dPeriod = 2, tl.dDuration = 3, tl.dMinPeriodDiff = 4, tl.dMaxPeriodDiff = 5;
        tl.dAvgPeriodDiff = 6;
        EXPECT_EQ(0, API::RepairExperiment(t.get(), 23));
        EXPECT_EQ(4u, tl.uiCount);
        EXPECT_EQ(0.0, tl.dStart + tl.dPeriod + tl.dDuration + tl.dMinPeriodDiff + tl.dMaxPeriodDiff + tl.dAvgPeriodDiff);
        EXPECT_EQ(20u, API::GetAllImagesCount(t.get()));
    }
    struct Case {
        const char* name;
        std::function<Exp*()> make;
        u32 written, count;
    } cases[] = {
        {"open-ended time leaf takes the frames", [] { return L(kTime, 0); }, 17, 17},
        {"open-ended time over Z", [] { return L(kTime, 0, {L(kZ, 4)}); }, 17, 4},
        {"time leaf takes the frames written", [] { return L(kTime, 10); }, 23, 23},
        {"time leaf cut to the frames written", [] { return L(kTime, 10); }, 4, 4},
        {"Z leaf takes the frames written", [] { return L(kZ, 3); }, 7, 7},
        {"polar leaf takes the frames written", [] { return L(Exp::eExpPolarLoop, 4); }, 9, 9},
        {"custom leaf of nothing written", [] { return L(kCu, 5); }, 0, 0},
        {"XY positions keep their bound", [] { return L(kXY, 10); }, 23, 10},
        {"XY positions cut to the frames written", [] { return L(kXY, 10); }, 4, 4},
        {"grid keeps its bound", [] { return L(Exp::eExpXYDiscrLoop, 4); }, 9, 4},
        {"XY count 0 stays", [] { return L(kXY, 0); }, 20, 0},
        {"time leaf with flags keeps its bound", [] { return Flags(L(kTime, 4), {1, 1, 0, 1}); }, 9, 4},
        {"leaf with flags counts valid items", [] { return Flags(L(kXY, 6), {1, 0, 0, 1, 1, 1}); }, 2, 4},
        {"children in turn", [] { return L(kXY, 9, {R(L(kZ, 2), 2), R(L(kZ, 3), 1)}); }, 17, 7},
        {"children in turn, room ends in a block", [] { return L(kXY, 9, {R(L(kZ, 2), 2), R(L(kZ, 3), 1)}); }, 9, 4},
        {"null child gives no items", [] {
             Exp* e = L(kXY, 9, {L(kZ, 2), L(kZ, 2)});
             Exp::FreeRecursive(e->ppNextLevelEx[1]);
             e->ppNextLevelEx[1] = nullptr;
             return e;
         }, 9, 0},
        {"zero repeat sum gives no items", [] { return L(kXY, 9, {R(L(kZ, 2), 0), R(L(kZ, 3), 0)}); }, 9, 0},
        {"spectral keeps its channels", [] { return L(kSp, 3); }, 1, 3},
        {"acquiring nothing keeps its items", [] { return TimeBits(5, 1, {L(kZ, 3)}); }, 2, 5},
        {"4*10^9 items over children in turn",
         [] { return L(kTime, 4000000000u, {R(L(kZ, 3), 2000000000u), R(L(kZ, 1), 2000000000u)}); }, 4000000000u,
         1333333333u},
        {"a cycle above 2^32 frames does not fit",
         [] { return L(kTime, 4000000000u, {R(L(kZ, 2), 2000000000u), R(L(kZ, 1), 2000000000u)}); }, 4294967295u,
         2294967295u},
        {"4*10^9 open-ended", [] { return L(kTime, 0, {L(kZ, 1)}); }, 4000000000u, 4000000000u},
    };
    for (auto& c : cases) {
        Tree t(c.make());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(0, API::RepairExperiment(t.get(), c.written)) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.name;
        EXPECT_EQ(c.count, t->uLoopPars.uiCount) << c.name;
    }
    EXPECT_EQ(KZ_ERR_FAILED, API::RepairExperiment(nullptr, 3));

    // Periods: {3 over Z2, Z3 in turn = 2+3+2}, {2 over Z4}, {2 with zero
    // repeat sum}, {4 with an empty list}: the last two count no frames and
    // get no items; a period cut short ends the acquisition.
    struct NECase {
        u32 written;
        u32 periods[4];
        u32 total;
    } neCases[] = {{100, {3, 2, 0, 0}, 5}, {6, {2, 0, 0, 0}, 2}, {7, {3, 0, 0, 0}, 3},
                   {12, {3, 1, 0, 0}, 4}, {15, {3, 2, 0, 0}, 5}, {0, {0, 0, 0, 0}, 0}};
    for (auto& c : neCases) {
        Tree t(NE({3, 2, 2, 4}, {{L(kZ, 2), L(kZ, 3)}, {L(kZ, 4)}, {R(L(kZ, 1), 0)}, {}}));
        EXPECT_EQ(15u, API::GetAllImagesCount(t.get()));
        EXPECT_EQ(0, API::RepairExperiment(t.get(), c.written));
        auto& l = t->uLoopPars.sNETimeLoop;
        for (int p = 0; p < 4; ++p) EXPECT_EQ(c.periods[p], l.pPeriod[p].uiCount) << c.written << " " << p;
        EXPECT_EQ(c.total, l.uiCount) << c.written;
    }
    {
        // No list and no children: one frame per time point.
        Tree t(NE({3, 4, 2}));
        EXPECT_EQ(9u, API::GetAllImagesCount(t.get()));
        EXPECT_EQ(0, API::RepairExperiment(t.get(), 5));
        auto& l = t->uLoopPars.sNETimeLoop;
        EXPECT_EQ(3u, l.pPeriod[0].uiCount);
        EXPECT_EQ(2u, l.pPeriod[1].uiCount);
        EXPECT_EQ(0u, l.pPeriod[2].uiCount);
        EXPECT_EQ(5u, l.uiCount);
        EXPECT_EQ(5u, API::GetAllImagesCount(t.get()));
    }

    // Random trees against the expander: the repaired root keeps the most
    // items whose frames fit.
    RandomTrees gen(77);
    int checked = 0;
    for (int n = 0; n < 300; ++n) {
        Tree t(gen.Level(0));
        if (t->pItemValid || t->eType == Exp::eExpSpectLoop) continue;
        const u32 total = API::GetAllImagesCount(t.get());
        const u32 w = (u32)gen.Uni(0, (int)total);
        const u32 want = BruteRepair(t.get(), w);
        ASSERT_EQ(0, API::RepairExperiment(t.get(), w));
        ASSERT_EQ(want, t->uLoopPars.uiCount) << "tree " << n << " written " << w;
        ASSERT_LE(API::GetAllImagesCount(t.get()), w);
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

TEST(ExperimentNav, RepairWithFrameTimes)
{
    struct Case {
        const char* name;
        u32 written;
        std::vector<double> times;
        u32 count;
        double mn, mx, avg;
    } cases[] = {
        {"all time points", 8, {0, 0.1, 10, 10.1, 25, 25.1, 31, 31.1}, 4, 6, 15, 31.0 / 3},
        {"repaired to two", 5, {0, 0.1, 10, 10.1, 25, 25.1, 31, 31.1}, 2, 10, 10, 10},
        {"times end early", 8, {0, 0.1, 10}, 4, 10, 10, 10},
        {"one time point", 8, {3}, 4, 0, 0, 0},
        {"no times", 8, {}, 4, 0, 0, 0},
    };
    for (auto& c : cases) {
        Tree t(L(kTime, 4, {L(kZ, 2)}));
        t->uLoopPars.sTimeLoop.dAvgPeriodDiff = 99;
        CKzByteArray b;
        if (!c.times.empty())
            b.SetData((const unsigned char*)c.times.data(), c.times.size() * sizeof(double),
                      CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
        EXPECT_EQ(0, API::RepairExperimentEx(t.get(), c.written, b)) << c.name;
        const auto& tl = t->uLoopPars.sTimeLoop;
        EXPECT_EQ(c.count, tl.uiCount) << c.name;
        EXPECT_DOUBLE_EQ(c.mn, tl.dMinPeriodDiff) << c.name;
        EXPECT_DOUBLE_EQ(c.mx, tl.dMaxPeriodDiff) << c.name;
        EXPECT_DOUBLE_EQ(c.avg, tl.dAvgPeriodDiff) << c.name;
    }
    CKzByteArray none;
    EXPECT_EQ(KZ_ERR_FAILED, API::RepairExperimentEx(nullptr, 3, none));
}
