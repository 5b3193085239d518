// The channel superset of experiment trees.
#include "experiment_nav_support.h"

#include "gnr_metaformats/SKzPicturePlanes.h"

#include <string>

using namespace navtest;

namespace {

struct Ch {
    const wchar_t* name;
    const wchar_t* oc;
    u32 colour;
};
const Ch kRed{L"Red", L"TRITC", 0xFF}, kGreen{L"Green", L"FITC", 0xFF00}, kBlue{L"Blue", L"DAPI", 0xFF0000};

Exp* Spect(std::vector<Ch> chans)
{
    Exp* e = nullptr;
    EXPECT_EQ(0, Exp::Alloc(&e));
    EXPECT_EQ(0, Exp::Init(*e, Exp::eExpSpectLoop, false, (u32)chans.size(), 0, 0, (u32)chans.size()));
    SKzPicturePlanes& p = *e->uLoopPars.sSpectLoop.pPlanes;
    for (u32 i = 0; i < chans.size(); ++i) {
        p.pPlanes[i].sDescription = chans[i].name;
        p.pPlanes[i].uiColor = chans[i].colour;
        p.pPlanes[i].uiSampleIndex = i;   // each channel its own optical configuration
        EXPECT_EQ(0, SKzPicturePlanes::SetPlaneOCName(p, i, 1, chans[i].oc));
    }
    p.uiCompCount = (u32)chans.size();
    e->uiRepeatCount = 1;
    return e;
}

std::vector<std::wstring> Names(const Exp* s)
{
    std::vector<std::wstring> v;
    const SKzPicturePlanes* p = s->uLoopPars.sSpectLoop.pPlanes;
    for (u32 i = 0; p && i < s->uLoopPars.uiCount; ++i) v.push_back(p->pPlanes[i].sDescription.GetString());
    return v;
}

std::vector<int> FlagsOf(const Exp* s)
{
    std::vector<int> v;
    for (u32 i = 0; i < s->uLoopPars.uiCount; ++i) v.push_back(s->pItemValid ? s->pItemValid[i] : -1);
    return v;
}

} // namespace

TEST(ExperimentSuperset, UnionOfChannels)
{
    using VS = std::vector<std::wstring>;
    struct Case {
        const char* name;
        std::vector<std::vector<Ch>> levels;
        std::vector<int> firstFlags;
        VS channels;
        std::vector<int> flags;
        bool same;
        u32 comps;
    } cases[] = {
        {"one level", {{kRed, kGreen, kBlue}}, {}, {L"Red", L"Green", L"Blue"}, {1, 1, 1}, true, 3},
        {"two levels", {{kRed, kGreen}, {kGreen, kBlue}}, {}, {L"Red", L"Green", L"Blue"}, {1, 1, 1}, false, 3},
        {"green valid in the second", {{kRed, kGreen}, {kGreen, kBlue}}, {1, 0}, {L"Red", L"Green", L"Blue"},
         {1, 1, 1}, false, 3},
        {"green only invalid", {{kRed, kGreen}, {kBlue}}, {1, 0}, {L"Red", L"Green", L"Blue"}, {1, 0, 1}, false, 2},
        {"other colour is new", {{kRed}, {{L"Red", L"TRITC", 0xFE}}}, {}, {L"Red", L"Red"}, {1, 1}, false, 2},
        {"other configuration is new", {{kRed}, {{L"Red", L"Cy3", 0xFF}}}, {}, {L"Red", L"Red"}, {1, 1}, false, 2},
        {"repeated key takes the next", {{kRed, kRed}, {kRed, kRed, kRed}}, {}, {L"Red", L"Red", L"Red"},
         {1, 1, 1}, false, 3},
        {"same sets agree", {{kRed, kGreen}, {kRed, kGreen}}, {}, {L"Red", L"Green"}, {1, 1}, true, 2},
    };
    for (auto& c : cases) {
        std::vector<Exp*> kids;
        for (auto& l : c.levels) kids.push_back(Spect(l));
        if (!c.firstFlags.empty()) Flags(kids[0], c.firstFlags);
        Tree t(kids.size() == 1 ? kids[0] : L(Exp::eExpXYPosLoop, (u32)kids.size(), kids));
        Exp* sup = (Exp*)1;
        ASSERT_EQ(0, API::GetSupersetSpectExp(t.get(), sup)) << c.name;
        ASSERT_NE(nullptr, sup) << c.name;
        EXPECT_EQ(c.channels, Names(sup)) << c.name;
        EXPECT_EQ(c.flags, FlagsOf(sup)) << c.name;
        EXPECT_EQ(c.channels.size(), sup->uLoopPars.sSpectLoop.pPlanes->uiCount) << c.name;
        Exp::FreeRecursive(sup);
        EXPECT_EQ(c.same, API::HasSameLambdaChannels(t.get())) << c.name;
        u32 comps = 0;
        EXPECT_EQ(0, API::GetSpectCompCount(t.get(), comps)) << c.name;
        EXPECT_EQ(c.comps, comps) << c.name;
    }
}

TEST(ExperimentSuperset, WithoutSpectralLevels)
{
    Tree t(L(Exp::eExpTimeLoop, 3, {L(Exp::eExpZStackLoop, 2)}));
    Exp* sup = (Exp*)1;
    EXPECT_EQ(0, API::GetSupersetSpectExp(t.get(), sup));
    EXPECT_EQ(nullptr, sup);
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::GetSupersetSpectExp(nullptr, sup));
    EXPECT_TRUE(API::HasSameLambdaChannels(t.get()));
    u32 comps = 77;
    EXPECT_EQ(KZ_ERR_INVALID_ARG, API::GetSpectCompCount(t.get(), comps));
    EXPECT_EQ(77u, comps);
    // Periods merge their lists in turn.
    Tree ne(NE({1, 1}, {{Spect({kRed})}, {Spect({kBlue}), Spect({kRed, kGreen})}}));
    ASSERT_EQ(0, API::GetSupersetSpectExp(ne.get(), sup));
    ASSERT_NE(nullptr, sup);
    EXPECT_EQ((std::vector<std::wstring>{L"Red", L"Blue", L"Green"}), Names(sup));
    Exp::FreeRecursive(sup);
}
