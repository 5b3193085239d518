// Component sequence indexes: the walk over one cycle of items per level,
// checked against a literal walk that visits every item of the cycle, on the
// random trees of the navigation tests, plus hostile trees.
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzPicturePlanes.h"
#include "experiment_nav_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace navtest;

namespace {

const u32 kNone = 0xFFFFFFFFu;

struct Id {
    std::wstring name, oc;
    u32 colour;
    bool operator==(const Id& o) const { return name == o.name && oc == o.oc && colour == o.colour; }
};

Id idOf(const SKzPicturePlanes& s, u32 i)
{
    return Id{s.pPlanes[i].sDescription.GetString(), SKzPicturePlanes::GetPlaneOCName(s, i, 0).GetString(),
              s.pPlanes[i].uiColor};
}

u32 channels(const Exp* e)
{
    const auto& l = e->uLoopPars.sSpectLoop;
    if (!l.pPlanes || !l.pPlanes->pPlanes) return 0;
    return std::min(l.uiCount, l.pPlanes->uiCount);
}

bool flag(const Exp* e, u32 c) { return !e->pItemValid || c >= e->uLoopPars.uiCount || e->pItemValid[c]; }

// Every item of the cycle, as the walk is described, one visit each.
struct Literal {
    const Exp* tree;
    const Exp* sup;
    u32 levels;
    std::vector<u32> out;

    int spectral(const Exp* lv, std::vector<u32>& pos)
    {
        u32 zHome = 0;
        const u32 zMax = lv->uiNextLevelCount ? API::GetZStackSizeMax(tree, &zHome) : 0;
        const SKzPicturePlanes& set = *lv->uLoopPars.sSpectLoop.pPlanes;
        const SKzPicturePlanes& up = *sup->uLoopPars.sSpectLoop.pPlanes;
        for (u32 c = 0; c < channels(lv); ++c) {
            u32 nth = 0;
            for (u32 e = 0; e < c; ++e) nth += idOf(set, e) == idOf(set, c);
            if (!flag(lv, c)) continue;
            u32 slot = 0, k = 0;
            bool found = false;
            for (; k < channels(sup); ++k) {
                if (idOf(up, k) == idOf(set, c) && nth-- == 0) {
                    found = flag(sup, k);
                    break;
                }
                if (flag(sup, k)) slot += up.pPlanes[k].uiCompCount;
            }
            if (!found) continue;
            std::vector<u32> p = pos;
            const Exp* child = API::GetNextLevelExperiment(lv, c);
            if (child && child->uLoopPars.uiCount < zMax) p[levels - 1] = zHome;
            u32 index = 0;
            if (API::CalcIdxFromPos(tree, p.data(), levels, index) != 0) index = kNone;
            for (u32 j = 0; j < up.pPlanes[k].uiCompCount && slot + j < out.size(); ++j) out[slot + j] = index;
        }
        return 0;
    }

    int walk(const Exp* lv, std::vector<u32>& pos, u32 d)
    {
        if (!lv) return -4;
        if (lv->eType == Exp::eExpSpectLoop) return spectral(lv, pos);
        if (d >= levels) return -9;
        Exp* const* kids = lv->ppNextLevelEx;
        u32 nk = kids ? lv->uiNextLevelCount : 0;
        u64 p = API::GetNextLevelPeriodicity(lv), s = 0, end = ~0ull;
        const u32 x = pos[d];
        if (lv->eType == Exp::eExpNETimeLoop) {
            const auto& l = lv->uLoopPars.sNETimeLoop;
            u64 start = 0;
            u32 f = l.uiPeriodCount;
            for (u32 k = 0; k < l.uiPeriodCount; ++k) {
                if (l.pPeriodValid && !l.pPeriodValid[k]) continue;
                if (x < start + l.pPeriod[k].uiCount) {
                    f = k;
                    break;
                }
                start += l.pPeriod[k].uiCount;
            }
            if (f == l.uiPeriodCount) return -9;
            s = start;
            end = start + l.pPeriod[f].uiCount;   // the cycle stays in its period
            if (l.pSubLoops) {
                kids = l.pSubLoops[f].ppNextLevelEx;
                nk = kids ? l.pSubLoops[f].uiNextLevelCount : 0;
                p = API::GetPeriodicity(&l.pSubLoops[f]);
            }
        } else if (lv->eType == Exp::eExpZStackLoop) {
            p = lv->uLoopPars.uiCount;
        }
        if (!kids || nk == 0) return -9;
        auto go = [&](u64 item) {
            pos[d] = (u32)item;
            return walk(API::GetNextLevelExperiment(lv, (u32)item), pos, d + 1);
        };
        int r = 0;
        if (p == 0) {
            r = go(x);
        } else {
            const u64 q = (x - s) / p, rr = (x - s) % p, b = q ? (q - 1) * p + s : s;
            for (u64 i = rr + 1; i < p && r == 0; ++i) {
                if (b + i >= end || !API::GetNextLevelExperiment(lv, (u32)(b + i))) break;
                r = go(b + i);
            }
            for (u64 j = 0; j <= rr && r == 0; ++j) r = go(q * p + s + j);
        }
        pos[d] = x;
        return r;
    }
};

// The literal walk's answer, sized by the component count.
std::vector<u32> literal(const Exp* tree, std::vector<u32> pos, int* result)
{
    SKzExperiment* sup = nullptr;
    EXPECT_EQ(0, API::GetSupersetSpectExp(tree, sup));
    u32 comps = 0;
    if (API::GetSpectCompCount(tree, comps) != 0) comps = 0;
    Literal l{tree, sup, (u32)pos.size(), std::vector<u32>(comps, kNone)};
    *result = sup ? l.walk(tree, pos, 0) : -4;
    Exp::FreeRecursive(sup);
    return l.out;
}

std::vector<u32> fast(const Exp* tree, const std::vector<u32>& pos, int* result)
{
    u32 comps = 0;
    API::GetSpectCompCount(tree, comps);
    std::vector<u32> out(comps + 4, 0xABCDu);
    *result = API::GetCompSeqIndexes(tree, pos.data(), (u32)pos.size(), out.data());
    for (u32 i = comps; i < comps + 4; ++i) EXPECT_EQ(0xABCDu, out[i]) << "written past the components";
    out.resize(comps);
    return out;
}

// Names the channels of every spectral level: channel c of a level with
// `shift` gets name (c + shift) % 4, so levels share some channels.
void nameChannels(Exp* e, u32& shift)
{
    if (!e) return;
    if (e->eType == Exp::eExpSpectLoop && e->uLoopPars.sSpectLoop.pPlanes) {
        auto* set = e->uLoopPars.sSpectLoop.pPlanes;
        for (u32 c = 0; c < set->uiCount; ++c) {
            set->pPlanes[c].sDescription = (L"ch" + std::to_wstring((c + shift) % 4)).c_str();
            set->pPlanes[c].uiCompCount = 1 + (c + shift) % 2;
        }
        ++shift;
    }
    for (u32 i = 0; e->ppNextLevelEx && i < e->uiNextLevelCount; ++i) nameChannels(e->ppNextLevelEx[i], shift);
    if (e->eType == Exp::eExpNETimeLoop && e->uLoopPars.sNETimeLoop.pSubLoops)
        for (u32 p = 0; p < e->uLoopPars.sNETimeLoop.uiPeriodCount; ++p) {
            auto& s = e->uLoopPars.sNETimeLoop.pSubLoops[p];
            for (u32 i = 0; s.ppNextLevelEx && i < s.uiNextLevelCount; ++i) nameChannels(s.ppNextLevelEx[i], shift);
        }
}

} // namespace

TEST(ExperimentCompIndex, AgreesWithTheLiteralWalkOnRandomTrees)
{
    RandomTrees gen(2024);
    int compared = 0;
    for (int t = 0; t < 300; ++t) {
        Tree tree(gen.Tree());
        u32 shift = (u32)t % 3;
        nameChannels(tree.get(), shift);
        const u32 frames = API::GetAllImagesCount(tree.get());
        u32 levels = 0;
        ASSERT_EQ(0, API::CalcPosFromIdx(tree.get(), 0, nullptr, &levels));
        for (u32 f = 0; f < frames; f += 1 + frames / 7) {
            std::vector<u32> pos(levels + 1, 0);
            u32 n = 0;
            if (API::CalcPosFromIdx(tree.get(), f, pos.data(), &n) != 0) continue;
            pos.resize(levels);
            int want = 0, got = 0;
            const std::vector<u32> a = literal(tree.get(), pos, &want);
            const std::vector<u32> b = fast(tree.get(), pos, &got);
            SCOPED_TRACE("tree " + std::to_string(t) + " frame " + std::to_string(f));
            EXPECT_EQ(want, got);
            if (want == 0) EXPECT_EQ(a, b);
            compared += want == 0;
        }
    }
    EXPECT_GT(compared, 300);
}

TEST(ExperimentCompIndex, TimeOverSpectral)
{
    // Time (2) over a spectral level of two one-component channels:
    // positions (1, 0) give frame 1 for both components.
    Tree t(L(Exp::eExpTimeLoop, 2, {L(Exp::eExpSpectLoop, 2)}));
    auto* set = t->ppNextLevelEx[0]->uLoopPars.sSpectLoop.pPlanes;
    set->pPlanes[0].sDescription = L"a";
    set->pPlanes[1].sDescription = L"b";
    std::vector<u32> out(2, 7);
    const u32 pos[] = {1, 0};
    ASSERT_EQ(0, API::GetCompSeqIndexes(t.get(), pos, 2, out.data()));
    EXPECT_EQ(std::vector<u32>({1, 1}), out);
    // XY positions with their own channel sets: the other position's channels
    // come from its latest frame, channels matched by identity.
    Tree xy(L(Exp::eExpXYPosLoop, 3, {R(L(Exp::eExpSpectLoop, 2), 1), R(L(Exp::eExpSpectLoop, 2), 2)}));
    const wchar_t* names[2][2] = {{L"red", L"green"}, {L"green", L"blue"}};
    for (int k = 0; k < 2; ++k)
        for (int c = 0; c < 2; ++c) xy->ppNextLevelEx[k]->uLoopPars.sSpectLoop.pPlanes->pPlanes[c].sDescription = names[k][c];
    u32 comps = 0;
    ASSERT_EQ(0, API::GetSpectCompCount(xy.get(), comps));
    ASSERT_EQ(3u, comps);   // red, green, blue
    // Item 0 is served by the first channel set, items 1 and 2 by the second.
    std::vector<u32> o(3, 0);
    const u32 at2[] = {2, 0};
    ASSERT_EQ(0, API::GetCompSeqIndexes(xy.get(), at2, 2, o.data()));
    EXPECT_EQ(std::vector<u32>({0, 2, 2}), o);   // red from item 0, green and blue from item 2
    const u32 at0[] = {0, 0};
    ASSERT_EQ(0, API::GetCompSeqIndexes(xy.get(), at0, 2, o.data()));
    // Within the first cycle the items after the position stand in.
    EXPECT_EQ(std::vector<u32>({0, 0, 2}), o);
}

TEST(ExperimentCompIndex, ChannelsWithUnequalZStacksAreAllPresent)
{
    // Time (2) over two one-component channels with Z stacks of 3 and 5
    // planes: the first channel's frames stand at the larger stack's home
    // (plane 2), the second channel's at the given plane.
    Tree t(L(Exp::eExpTimeLoop, 2, {L(Exp::eExpSpectLoop, 2, {L(Exp::eExpZStackLoop, 3), L(Exp::eExpZStackLoop, 5)})}));
    auto* set = t->ppNextLevelEx[0]->uLoopPars.sSpectLoop.pPlanes;
    set->pPlanes[0].sDescription = L"a";
    set->pPlanes[1].sDescription = L"b";
    struct {
        u32 pos[3];
        std::vector<u32> want;
    } cases[] = {
        {{0, 0, 0}, {2, 0}}, {{0, 0, 3}, {2, 3}}, {{0, 0, 4}, {2, 4}}, {{1, 0, 1}, {7, 6}}, {{1, 0, 4}, {7, 9}},
    };
    for (const auto& c : cases) {
        std::vector<u32> out(2, 5);
        ASSERT_EQ(0, API::GetCompSeqIndexes(t.get(), c.pos, 3, out.data()));
        EXPECT_EQ(c.want, out) << c.pos[0] << " " << c.pos[2];
    }
}

TEST(ExperimentCompIndex, HostileTrees)
{
    std::vector<u32> out(16, 5);
    const u32 pos[] = {0, 0, 0};
    // No spectral level: -4, nothing written.
    Tree plain(L(Exp::eExpTimeLoop, 3, {L(Exp::eExpZStackLoop, 2)}));
    EXPECT_EQ(-4, API::GetCompSeqIndexes(plain.get(), pos, 3, out.data()));
    EXPECT_EQ(5u, out[0]);
    EXPECT_EQ(-4, API::GetCompSeqIndexes(nullptr, pos, 3, out.data()));
    // A Z stack of count 0 with children above a spectral level.
    Tree z0(L(Exp::eExpZStackLoop, 0, {L(Exp::eExpSpectLoop, 2), L(Exp::eExpSpectLoop, 1)}));
    EXPECT_EQ(0, API::GetCompSeqIndexes(z0.get(), pos, 2, out.data()));
    // A Z stack of 4e9 planes over two channel sets: one visit per child.
    Tree big(L(Exp::eExpZStackLoop, 4000000000u, {R(L(Exp::eExpSpectLoop, 2), 3), R(L(Exp::eExpSpectLoop, 2), 1)}));
    const u32 deep[] = {3999999999u, 0};
    big->ppNextLevelEx[1]->uLoopPars.sSpectLoop.pPlanes->pPlanes[0].sDescription = L"other";
    u32 comps = 0;
    ASSERT_EQ(0, API::GetSpectCompCount(big.get(), comps));
    std::vector<u32> o(comps, 0);
    EXPECT_EQ(0, API::GetCompSeqIndexes(big.get(), deep, 2, o.data()));
    // Positions shorter than the path: -9 before anything past them is read.
    Tree chain(L(Exp::eExpTimeLoop, 2, {L(Exp::eExpXYPosLoop, 2, {L(Exp::eExpSpectLoop, 1)})}));
    std::vector<u32> one(1, 9);
    EXPECT_EQ(-9, API::GetCompSeqIndexes(chain.get(), pos, 1, one.data()));
    // A null child slot.
    Tree holes(L(Exp::eExpTimeLoop, 2, {L(Exp::eExpSpectLoop, 1), L(Exp::eExpSpectLoop, 1)}));
    Exp::FreeRecursive(holes->ppNextLevelEx[1]);
    holes->ppNextLevelEx[1] = nullptr;
    const u32 second[] = {1, 0};
    EXPECT_EQ(0, API::GetCompSeqIndexes(holes.get(), pos, 2, one.data()));
    EXPECT_EQ(-4, API::GetCompSeqIndexes(holes.get(), second, 2, one.data()));
}
