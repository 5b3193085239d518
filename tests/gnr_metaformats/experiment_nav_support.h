// Tree builders and a brute-force frame expander for the experiment tree
// query tests.
#pragma once

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_system/CKzAlloc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

namespace navtest {

using Exp = SKzExperiment;
using API = CKzExperimentAPI;
using u32 = kz_uint32;
using Pos = std::vector<u32>;

struct Del {
    void operator()(Exp* e) const { Exp::FreeRecursive(e); }
};
using Tree = std::unique_ptr<Exp, Del>;

inline Exp::EKzExperimentType T(int t) { return (Exp::EKzExperimentType)t; }

// A level of type t with `count` items and the given children (owned).
inline Exp* L(int t, u32 count, std::vector<Exp*> kids = {}, u32 repeat = 1)
{
    Exp* e = nullptr;
    EXPECT_EQ(0, Exp::Alloc(&e));
    EXPECT_EQ(0, Exp::Init(*e, T(t), false, count, 0, (u32)kids.size(), 1));
    for (size_t i = 0; i < kids.size(); ++i) e->ppNextLevelEx[i] = kids[i];
    e->uiRepeatCount = repeat;
    return e;
}

inline Exp* R(Exp* e, u32 repeat)
{
    e->uiRepeatCount = repeat;
    return e;
}

inline Exp* Flags(Exp* e, std::vector<int> f)
{
    delete[] e->pItemValid;
    e->pItemValid = new bool[e->uLoopPars.uiCount]();
    for (size_t i = 0; i < f.size() && i < e->uLoopPars.uiCount; ++i) e->pItemValid[i] = f[i] != 0;
    return e;
}

// A non-equidistant time loop; with `sub` non-empty each period gets its
// own child list (an empty list stays without array).
inline Exp* NE(std::vector<u32> counts, std::vector<std::vector<Exp*>> sub = {}, std::vector<Exp*> kids = {})
{
    u32 total = 0;
    for (u32 c : counts) total += c;
    Exp* e = nullptr;
    EXPECT_EQ(0, Exp::Alloc(&e));
    EXPECT_EQ(0, Exp::Init(*e, Exp::eExpNETimeLoop, false, total, (u32)counts.size(), (u32)kids.size(), 1));
    for (size_t i = 0; i < kids.size(); ++i) e->ppNextLevelEx[i] = kids[i];
    auto& l = e->uLoopPars.sNETimeLoop;
    for (size_t p = 0; p < counts.size(); ++p) l.pPeriod[p].uiCount = counts[p];
    if (!sub.empty()) {
        l.pSubLoops = new Exp::SKzExpNETimeLoop::SKzSubLoopsDefinition[counts.size()];
        for (size_t p = 0; p < counts.size() && p < sub.size(); ++p) {
            if (sub[p].empty()) continue;
            l.pSubLoops[p].uiNextLevelCount = (u32)sub[p].size();
            l.pSubLoops[p].ppNextLevelEx = (Exp**)CKzAlloc::Alloc(1, sub[p].size() * sizeof(Exp*));
            for (size_t i = 0; i < sub[p].size(); ++i) l.pSubLoops[p].ppNextLevelEx[i] = sub[p][i];
        }
    }
    return e;
}

// The child serving cycle position i of a list by repeat counts (>= 1).
inline const Exp* Dealt(Exp* const* kids, u32 n, u32 i)
{
    if (n == 1) return kids[0];
    u32 c = 0;
    for (u32 k = 0; k < n; ++k) c += kids[k]->uiRepeatCount;
    u32 r = i % c;
    for (u32 k = 0; k < n; ++k) {
        if (r < kids[k]->uiRepeatCount) return kids[k];
        r -= kids[k]->uiRepeatCount;
    }
    return nullptr;
}

// The largest Z stack at or below a level.
inline u32 MaxZ(const Exp* e)
{
    if (!e) return 0;
    u32 m = e->eType == Exp::eExpZStackLoop ? e->uLoopPars.uiCount : 0;
    for (u32 i = 0; e->ppNextLevelEx && i < e->uiNextLevelCount; ++i) m = std::max(m, MaxZ(e->ppNextLevelEx[i]));
    return m;
}

// True when every child of a level is a Z stack without children.
inline bool LeafZStacks(const Exp* e)
{
    for (u32 i = 0; i < e->uiNextLevelCount; ++i) {
        const Exp* c = e->ppNextLevelEx[i];
        if (!c || c->eType != Exp::eExpZStackLoop || c->uiNextLevelCount > 0) return false;
    }
    return e->uiNextLevelCount > 0;
}

// Lists every frame's loop positions, dealing items to the children in turn
// (entries count valid items). A spectral level is one frame; over Z stacks
// (one per group of channels, of unequal sizes) the largest Z stack's planes,
// otherwise the frames of its first child.
inline void Expand(const Exp* e, Pos& cur, std::vector<Pos>& out)
{
    if (!e) return;
    const u32 n = e->ppNextLevelEx ? e->uiNextLevelCount : 0;
    if (e->eType == Exp::eExpSpectLoop) {
        cur.push_back(0);
        if (n == 0) {
            out.push_back(cur);
        } else if (LeafZStacks(e)) {
            for (u32 z = 0; z < MaxZ(e); ++z) {
                cur.push_back(z);
                out.push_back(cur);
                cur.pop_back();
            }
        } else {
            Expand(e->ppNextLevelEx[0], cur, out);
        }
        cur.pop_back();
        return;
    }
    if (e->eType == Exp::eExpNETimeLoop && e->uLoopPars.sNETimeLoop.pSubLoops) {
        const auto& l = e->uLoopPars.sNETimeLoop;
        u32 t = 0;
        for (u32 p = 0; p < l.uiPeriodCount; ++p) {
            if (l.pPeriodValid && !l.pPeriodValid[p]) continue;
            const auto& s = l.pSubLoops[p];
            for (u32 i = 0; i < l.pPeriod[p].uiCount; ++i, ++t) {
                // An empty list counts no frames.
                cur.push_back(t);
                if (s.uiNextLevelCount > 0) Expand(Dealt(s.ppNextLevelEx, s.uiNextLevelCount, i), cur, out);
                cur.pop_back();
            }
        }
        return;
    }
    u32 entry = 0;
    for (u32 i = 0; i < e->uLoopPars.uiCount; ++i) {
        if (e->pItemValid && !e->pItemValid[i]) continue;
        cur.push_back(entry++);
        if (n == 0)
            out.push_back(cur);
        else
            Expand(Dealt(e->ppNextLevelEx, n, i), cur, out);
        cur.pop_back();
    }
}

inline std::vector<Pos> ExpandAll(const Exp* e)
{
    std::vector<Pos> out;
    Pos cur;
    Expand(e, cur, out);
    return out;
}

// Random trees: chains; 1-3 children of repeat >= 1 with unequal frame
// counts; flags only on levels with at most one child; spectral leaves,
// spectral levels over a Z stack, over Z stacks of unequal sizes serving
// their channels in turn, and over a chain with a Z stack further down; a
// non-equidistant root with sub-loops.
class RandomTrees {
public:
    explicit RandomTrees(unsigned seed) : rng_(seed) {}
    int Uni(int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng_); }

    Exp* Level(int depth)
    {
        const int kind = depth >= 3 ? Uni(0, 1) : Uni(0, 7);
        if (kind == 0) return L(Exp::eExpSpectLoop, (u32)Uni(1, 3));
        if (kind == 1) return L(Exp::eExpZStackLoop, (u32)Uni(1, 4));
        if (kind == 2) return L(Exp::eExpSpectLoop, (u32)Uni(1, 3), {L(Exp::eExpZStackLoop, (u32)Uni(1, 5))});
        if (kind == 6) {
            // Every Z stack serves at least one channel.
            std::vector<Exp*> zs;
            u32 channels = 0;
            for (int i = Uni(2, 3); i > 0; --i) {
                const u32 rep = (u32)Uni(1, 2);
                zs.push_back(R(L(Exp::eExpZStackLoop, (u32)Uni(1, 6)), rep));
                channels += rep;
            }
            return L(Exp::eExpSpectLoop, channels + (u32)Uni(0, 2), zs);
        }
        if (kind == 7) {
            const int t = Uni(0, 1) ? Exp::eExpTimeLoop : Exp::eExpXYPosLoop;
            return L(Exp::eExpSpectLoop, (u32)Uni(1, 3),
                     {L(t, (u32)Uni(1, 3), {L(Exp::eExpZStackLoop, (u32)Uni(1, 4))})});
        }
        static const int types[] = {Exp::eExpTimeLoop, Exp::eExpXYPosLoop, Exp::eExpZStackLoop,
                                    Exp::eExpPolarLoop, Exp::eExpCustomLoop, Exp::eExpXYDiscrLoop};
        const int t = types[Uni(0, 5)];
        const u32 count = (u32)Uni(1, 6);
        const int nk = kind == 3 ? 1 : Uni(1, 3);
        std::vector<Exp*> kids;
        for (int i = 0; i < nk; ++i) kids.push_back(R(Level(depth + 1), nk == 1 ? 1 : (u32)Uni(1, 3)));
        Exp* e = L(t, count, kids);
        if (nk == 1 && Uni(0, 2) == 0) {
            std::vector<int> f;
            for (u32 i = 0; i < count; ++i) f.push_back(Uni(0, 3) != 0);
            Flags(e, f);
        }
        return e;
    }

    Exp* Tree()
    {
        if (Uni(0, 3) != 0) return Level(0);
        const int periods = Uni(1, 3);
        std::vector<u32> counts;
        std::vector<std::vector<Exp*>> sub;
        for (int p = 0; p < periods; ++p) {
            counts.push_back((u32)Uni(1, 5));
            std::vector<Exp*> list;
            const int nk = Uni(0, 3);
            for (int i = 0; i < nk; ++i) list.push_back(R(Level(1), (u32)Uni(1, 3)));
            sub.push_back(list);
        }
        return NE(counts, sub);
    }

private:
    std::mt19937 rng_;
};

} // namespace navtest
