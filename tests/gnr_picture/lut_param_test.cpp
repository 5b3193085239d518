// LUT parameters: ranges, comparison, the variant form and the spectral
// colour data (groups, colours, offsets and gains per channel).
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/KzLutColour.h"
#include "gnr_picture/SKzLutParam.h"
#include "gnr_system/CKzRangeMask.h"
#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzVariant.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "lut_param_reference.inc"

namespace {

using Spectral = SKzLutParam::SKzLUTDataSpectral;

// SKzLutParam is large; tests keep it on the heap.
std::unique_ptr<SKzLutParam> NewParam() { return std::make_unique<SKzLutParam>(); }

CKzRangeMask Mask(unsigned size, std::vector<unsigned> members)
{
    CKzRangeMask m;
    m.SetSize(size);
    m.Reset();
    for (unsigned i : members) m.Set(i, true);
    return m;
}

const CKzVariant* Child(const CKzVariant& v, const wchar_t* name) { return v.SearchFixedOneLevel(name); }

TEST(LutParam, DefaultsAndRanges)
{
    auto p = NewParam();
    EXPECT_TRUE(p->IsUnit());
    EXPECT_EQ(p->GetMinSrc(8), 0u);
    EXPECT_EQ(p->GetMaxSrc(8), 255u);
    EXPECT_EQ(p->GetMaxSrc(12), 4095u);
    EXPECT_EQ(p->uiOverExpColor, 255u);
    EXPECT_EQ(p->sLutDataSpectral.uiGroupCount, 3u);
    EXPECT_EQ(p->sLutDataSpectral.pOwner, p.get());

    p->uiMinSrc = 16384;
    p->uiMaxSrc = 49151;
    p->sCompLutParam[0].uiMinSrc = 32768;
    EXPECT_DOUBLE_EQ(p->GetMinSrcDbl(0u), (32768 / 65535.0 * 32767 + 16384) / 65535);
    EXPECT_EQ(p->GetMinSrc(0u, 8u), 128u);
    EXPECT_FALSE(p->IsUnit());

    p->SetMinSrcDbl(0.5);
    EXPECT_EQ(p->uiMinSrc, 32767);
    p->SetMaxSrcDbl(7.0);  // beyond full scale: held at 65535
    EXPECT_EQ(p->uiMaxSrc, 65535);
    p->SetMinDstDbl(-1.0);
    EXPECT_EQ(p->uiMinDst, 0);

    auto f = NewParam();
    f->bFloatSrc = true;
    f->fMinSrc = 10;
    f->fMaxSrc = 1000;
    EXPECT_EQ(f->GetMinSrc(16), 10u);
    EXPECT_EQ(f->GetCompMinSrc(0, 16), 0u);
    EXPECT_EQ(f->GetCompMaxSrc(0, 16), 1000u);
    EXPECT_FLOAT_EQ(f->GetMaxSrcFlt(0, 16), 1000.0f);
    f->SetMinSrcDbl(2.5);
    EXPECT_EQ(f->fMinSrc, 2.5f);
    EXPECT_EQ(f->uiMinSrc, 0);

    p->sCompLutParam[3].dGammaSrc = 2.0;
    p->dGammaSrc = 0.5;
    EXPECT_EQ(p->GetGammaSrc(3u), 1.0);

    // Component indexes past the records answer as a default component and
    // are not written.
    EXPECT_EQ(p->GetCompGammaSrc(192), 1.0);
    EXPECT_EQ(p->GetCompMaxSrcDbl(500), 1.0);
    p->SetCompGammaSrc(192, 9.0);
    p->SetCompMinSrcDbl(1000, 0.5);
    EXPECT_EQ(p->uiRepresentation, 0u);  // the member after the records is untouched
    EXPECT_EQ(p->GetCompGammaSrc(192), 1.0);
}

TEST(LutParam, EffectiveRangesMatchReference)
{
    auto p = NewParam();
    for (const RefRange& c : kRefRanges) {
        SCOPED_TRACE(testing::Message() << "global " << c.gMinSrc << ".." << c.gMaxSrc << " comp " << c.cMinSrc << ".."
                                        << c.cMaxSrc << " bits " << c.bits);
        p->uiMinSrc = u16(c.gMinSrc), p->uiMaxSrc = u16(c.gMaxSrc);
        p->uiMinDst = u16(c.gMinDst), p->uiMaxDst = u16(c.gMaxDst);
        SKzCompLutParam& r = p->sCompLutParam[7];
        r.uiMinSrc = u16(c.cMinSrc), r.uiMaxSrc = u16(c.cMaxSrc);
        r.uiMinDst = u16(c.cMinDst), r.uiMaxDst = u16(c.cMaxDst);
        EXPECT_EQ(p->GetMinSrcDbl(7u), c.minSrcDbl);
        EXPECT_EQ(p->GetMaxSrcDbl(7u), c.maxSrcDbl);
        EXPECT_EQ(p->GetMinDstDbl(7u), c.minDstDbl);
        EXPECT_EQ(p->GetMaxDstDbl(7u), c.maxDstDbl);
        EXPECT_EQ(p->GetMinSrc(7u, c.bits), c.minSrc);
        EXPECT_EQ(p->GetMaxSrc(7u, c.bits), c.maxSrc);
        EXPECT_EQ(p->GetMinDst(7u, c.bits), c.minDst);
        EXPECT_EQ(p->GetMaxDst(7u, c.bits), c.maxDst);
    }
}

TEST(LutParam, CopiesCompareAndFold)
{
    auto a = NewParam(), b = NewParam();
    EXPECT_TRUE(a->CompareWith(*b));
    b->SetCompGammaSrc(5, 1.0005);
    EXPECT_TRUE(a->CompareWith(*b));
    b->SetCompGammaSrc(5, 1.01);
    EXPECT_FALSE(a->CompareWith(*b));

    // A copy keeps its own owner and compares equal.
    b->sLutDataSpectral.uiSpectralColorMode = 2;
    b->sLutDataSpectral.uiCompCount = 6;
    b->sLutDataSpectral.SetGain(1, 3.0);
    auto c = std::make_unique<SKzLutParam>(*b);
    EXPECT_EQ(c->sLutDataSpectral.pOwner, c.get());
    EXPECT_TRUE(c->CompareWith(*b));
    EXPECT_EQ(c->sLutDataSpectral.GetGain(1), 3.0);
    c->sLutDataSpectral.SetGain(1, 4.0);
    EXPECT_FALSE(c->CompareWith(*b));

    // Only exposure, gradient and outside settings cross.
    auto d = NewParam();
    b->uiGradient = 4;
    b->bColorOverExp = true;
    b->uiMinSrc = 77;
    d->PartialCopyIndependendOnEnable(*b);
    EXPECT_EQ(d->uiGradient, 4u);
    EXPECT_TRUE(d->bColorOverExp);
    EXPECT_EQ(d->uiMinSrc, 0);
    EXPECT_EQ(d->sLutDataSpectral.uiSpectralColorMode, 0u);

    // CompatibleCopy needs the same shape.
    d->Init(0, 0, 3, 6);
    EXPECT_EQ(d->CompatibleCopy(*b), 0);
    EXPECT_EQ(d->uiMinSrc, 0);
    d->Init(0, 0, 0, 6);
    EXPECT_EQ(d->CompatibleCopy(*b), 0);
    EXPECT_EQ(d->uiMinSrc, 77);

    // Folding the global range into the records keeps the effective values.
    auto e = NewParam();
    e->uiMinSrc = 1000;
    e->uiMaxSrc = 60000;
    e->dGammaSrc = 2.0;
    e->sCompLutParam[2].uiMinSrc = 30000;
    const double mn = e->GetMinSrcDbl(2u), g = e->GetGammaSrc(2u);
    e->GlobalParamToComponent();
    EXPECT_EQ(e->uiMinSrc, 0);
    EXPECT_EQ(e->uiMaxSrc, 65535);
    EXPECT_EQ(e->dGammaSrc, 1.0);
    EXPECT_EQ(e->sCompLutParam[2].uiMinSrc, u16(mn * 65535));
    EXPECT_EQ(e->sCompLutParam[2].dGammaSrc, g);
    e->bFloatSrc = true;
    e->GlobalParamToComponent();
    EXPECT_TRUE(e->IsUnit());

    e->sCompLutParam[9].uiMaxDst = 5;
    e->SetUnit();
    EXPECT_TRUE(e->IsUnit());
}

TEST(LutParam, IsGroupMask)
{
    auto p = NewParam();
    Spectral& s = p->sLutDataSpectral;
    s.uiSpectralColorMode = 2;
    s.uiCompCount = 5;
    const u32 groups[5] = {0, 0, 1, 1, 2};
    for (int i = 0; i < 5; ++i) p->sCompLutParam[i].uiGroup = groups[i];
    struct Case {
        const char* what;
        CKzRangeMask mask;
        bool result;
        u32 first;
    } cases[] = {
        {"empty mask", CKzRangeMask(), true, 0},
        {"2 to 4 over groups 1, 1, 2", Mask(5, {2, 3, 4}), false, 2},
        {"2 and 3, one group", Mask(5, {2, 3}), true, 2},
        {"0 and 1", Mask(5, {0, 1, 4}), true, 0},
        {"run stops at the mask size", Mask(4, {3}), true, 3},
        {"run from 191 stops at the records", Mask(400, {191, 192, 193}), true, 191},
        {"first past the records", Mask(400, {300}), true, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        u32 first = 77;
        EXPECT_EQ(p->IsGroupMask(c.mask, &first), c.result);
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(p->IsGroupMask(c.mask, nullptr), c.result);
    }
    s.uiSpectralColorMode = 1;
    EXPECT_FALSE(p->IsGroupMask(Mask(5, {2, 3}), nullptr));
    s.uiSpectralColorMode = 2;
    s.uiGroupCount = 0;
    EXPECT_FALSE(p->IsGroupMask(Mask(5, {2, 3}), nullptr));
}

// ---- variant form ------------------------------------------------------------------

TEST(LutParamVariant, KeysAndRecordCounts)
{
    auto p = NewParam();
    p->sLutDataSpectral.uiCompCount = 2;
    CKzVariant v;
    ASSERT_EQ(SKzLutParam::SaveToVariant(v, *p), 0);
    const wchar_t* order[] = {L"uiGradient",   L"uiOutside",        L"uiMinSrc",     L"uiMaxSrc",
                              L"dGammaSrc",    L"uiMinDst",         L"uiMaxDst",     L"uiColorSpace",
                              L"uiRepresentation", L"uiLutComponentCount", L"uiGroupCount", L"sCompLutParam",
                              L"sLutDataSpectral", L"bColorOverExp", L"uiOverExpColor", L"bColorUnderExp",
                              L"uiUnderExpColor"};
    ASSERT_EQ(v.GetCount(), int(std::size(order)));
    for (int i = 0; i < v.GetCount(); ++i) {
        CKzStringW name = v[i].GetName();
        EXPECT_STREQ(name.GetString(), order[i]) << i;
    }
    EXPECT_STREQ(v[L"uiMinSrc"].GetRunType().GetNameA(), "kz_uint32");
    EXPECT_STREQ(v[L"dGammaSrc"].GetRunType().GetNameA(), "double");
    EXPECT_STREQ(v[L"bColorOverExp"].GetRunType().GetNameA(), "bool");
    const CKzVariant& comps = v[L"sCompLutParam"];
    ASSERT_EQ(comps.GetCount(), 3);
    EXPECT_STREQ(comps[0].GetName().GetString(), L"a00");
    EXPECT_STREQ(comps[2].GetName().GetString(), L"a02");
    const wchar_t* rec[] = {L"uiMinSrc", L"uiMaxSrc", L"dGammaSrc", L"uiMinDst", L"uiMaxDst", L"uiGroup"};
    ASSERT_EQ(comps[1].GetCount(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_STREQ(comps[1][i].GetName().GetString(), rec[i]);

    // No spectral components: all 192 records, "a100" onwards in three digits.
    p->sLutDataSpectral.uiCompCount = 0;
    ASSERT_EQ(SKzLutParam::SaveToVariant(v, *p), 0);
    ASSERT_EQ(v[L"sCompLutParam"].GetCount(), 192);
    EXPECT_STREQ(v[L"sCompLutParam"][100].GetName().GetString(), L"a100");
    EXPECT_STREQ(v[L"sCompLutParam"][191].GetName().GetString(), L"a191");

    // The spectral node: single values, mode, then one child per group entry.
    p->sLutDataSpectral.Realloc(3);
    ASSERT_EQ(SKzLutParam::SaveToVariant(v, *p), 0);
    const CKzVariant& sp = v[L"sLutDataSpectral"];
    const wchar_t* spOrder[] = {L"dGainTrueColor", L"dOffsetTrueColor", L"dGainGrayScale", L"dOffsetGrayScale",
                                L"uiSpectralColorMode", L"aGroup00", L"aGroup01", L"aGroup02"};
    ASSERT_EQ(sp.GetCount(), 8);
    for (int i = 0; i < 8; ++i) EXPECT_STREQ(sp[i].GetName().GetString(), spOrder[i]);
    const wchar_t* gOrder[] = {L"uiColorGroup", L"uiColorCustom", L"dGainCustom",
                               L"dOffsetCustom", L"dGainGrouped", L"dOffsetGrouped"};
    for (int i = 0; i < 6; ++i) EXPECT_STREQ(sp[5][i].GetName().GetString(), gOrder[i]);
    EXPECT_EQ(sp[6][L"uiColorGroup"].GetKz_uint32(), 0x0000FF00u);
}

TEST(LutParamVariant, RoundTripThroughXml)
{
    auto p = NewParam();
    p->uiGradient = 3;
    p->uiOutside = 2;
    p->uiMinSrc = 100, p->uiMaxSrc = 60000, p->dGammaSrc = 0.7;
    p->uiMinDst = 5, p->uiMaxDst = 65000;
    p->uiColorSpace = 2, p->uiRepresentation = 1, p->uiLutComponentCount = 6;
    p->bColorOverExp = true, p->uiOverExpColor = 0x00123456;
    p->bColorUnderExp = true, p->uiUnderExpColor = 0x00FF00FF;
    p->bFloatSrc = false;
    p->fMinSrc = 3.0f;  // not part of the form
    Spectral& s = p->sLutDataSpectral;
    s.uiCompCount = 6;
    s.uiSpectralColorMode = 2;
    s.uiGroupCount = 4;
    s.Realloc(4);
    for (u32 i = 0; i < 4; ++i) {
        s.puiColorGroup[i] = 0x01000000u * i + 0x1234 * (i + 1);
        s.puiColorCustom[i] = 0x00FF0000u >> i;
        s.pdGain[1][i] = 1.5 + i, s.pdOffset[1][i] = -3.0 * i;
        s.pdGain[2][i] = 0.25 * i, s.pdOffset[2][i] = 10.0 + i;
    }
    *s.pdGain[0] = 2.5, *s.pdOffset[3] = 7.0;
    for (u32 i = 0; i < 7; ++i) {
        SKzCompLutParam& c = p->sCompLutParam[i];
        c.uiMinSrc = u16(100 * i), c.uiMaxSrc = u16(65535 - i), c.dGammaSrc = 1.0 + i / 8.0;
        c.uiMinDst = u16(i), c.uiMaxDst = u16(60000 + i), c.uiGroup = i / 2;
    }
    CKzVariant v;
    ASSERT_EQ(SKzLutParam::SaveToVariant(v, *p), 0);
    v.SetName(CKzStringW(L"lut"));
    CKzStringW text;
    ASSERT_EQ(CKzSerializerXMLString::VariantToDocument(text, v), 0);
    CKzVariant back;
    ASSERT_EQ(CKzSerializerXMLString::VariantFromXML(back, text), 0);

    auto q = NewParam();
    q->bFloatSrc = false;
    q->fMinSrc = 9.0f;
    ASSERT_EQ(SKzLutParam::LoadFromVariant(*q, back), 0);
    q->sLutDataSpectral.uiCompCount = 6;  // not part of the form
    EXPECT_TRUE(q->CompareWith(*p));
    EXPECT_EQ(q->fMinSrc, 9.0f);
    EXPECT_EQ(q->uiColorSpace, 2u);
    EXPECT_EQ(q->uiLutComponentCount, 6u);
    const Spectral& t = q->sLutDataSpectral;
    ASSERT_EQ(t.uiLength, 4u);
    for (u32 i = 0; i < 4; ++i) {
        EXPECT_EQ(t.puiColorGroup[i], s.puiColorGroup[i]);
        EXPECT_EQ(t.puiColorCustom[i], s.puiColorCustom[i]);
        EXPECT_EQ(t.pdGain[1][i], s.pdGain[1][i]);
        EXPECT_EQ(t.pdOffset[2][i], s.pdOffset[2][i]);
    }
    EXPECT_EQ(*t.pdGain[0], 2.5);
    EXPECT_EQ(*t.pdOffset[3], 7.0);
    for (u32 i = 0; i < 7; ++i) EXPECT_EQ(q->sCompLutParam[i].uiGroup, i / 2);

    // An empty variant changes nothing.
    auto r = std::make_unique<SKzLutParam>(*p);
    ASSERT_EQ(SKzLutParam::LoadFromVariant(*r, CKzVariant()), 0);
    EXPECT_TRUE(r->CompareWith(*p));
    EXPECT_EQ(r->uiLutComponentCount, 6u);

    // Stored counts beyond the records are held at 192.
    CKzVariant big;
    big = CKzListVariant();
    big.Append(CKzVariant(100000u, CKzStringW(L"uiGroupCount")));
    big.Append(CKzVariant(100000u, CKzStringW(L"uiLutComponentCount")));
    CKzVariant spNode{CKzListVariant(), CKzStringW(L"sLutDataSpectral")};
    big.Append(spNode);
    ASSERT_EQ(SKzLutParam::LoadFromVariant(*r, big), 0);
    EXPECT_EQ(r->sLutDataSpectral.uiGroupCount, 192u);
    EXPECT_EQ(r->sLutDataSpectral.uiLength, 192u);
    EXPECT_EQ(r->uiLutComponentCount, 192u);
}

TEST(LutParamVariant, RatioDescription)
{
    SKzRatioDesc d;
    d.uiNumer = 3, d.uiDenom = 250, d.uiNumOffset = 7, d.uiDenOffset = 9, d.dMin = 0.5, d.dMax = 4.0;
    CKzVariant v;
    ASSERT_EQ(SKzLutParam::SaveToVariant(v, d), 0);
    const wchar_t* order[] = {L"uiNumer", L"uiDenom", L"uiNumOffset", L"uiDenOffset", L"dMin", L"dMax"};
    ASSERT_EQ(v.GetCount(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_STREQ(v[i].GetName().GetString(), order[i]);
    EXPECT_EQ(v[L"uiNumOffset"].GetKz_uint32(), 7u);
    SKzRatioDesc e;
    e.uiNumOffset = 5;
    ASSERT_EQ(SKzLutParam::LoadFromVariant(e, v), 0);
    EXPECT_EQ(e.uiNumer, 3);
    EXPECT_EQ(e.uiDenom, 250);
    EXPECT_EQ(e.uiNumOffset, 0);  // offsets are not read back
    EXPECT_EQ(e.uiDenOffset, 0);
    EXPECT_EQ(e.dMin, 0.5);
    EXPECT_EQ(e.dMax, 4.0);
    CKzVariant wide = CKzListVariant();
    wide.Append(CKzVariant(0x1FFu, CKzStringW(L"uiNumer")));
    SKzLutParam::LoadFromVariant(e, wide);
    EXPECT_EQ(e.uiNumer, 0xFF);
}

// ---- spectral colour data ----------------------------------------------------------

TEST(LutSpectral, GroupArraysAndCounts)
{
    auto p = NewParam();
    Spectral& s = p->sLutDataSpectral;
    EXPECT_EQ(s.GetMode(), 0u);
    EXPECT_EQ(s.uiLength, 0u);
    EXPECT_EQ(s.GetOffset(0), 0.0);
    ASSERT_EQ(s.uiLength, 3u);
    EXPECT_EQ(s.puiColorCustom[0], 0x00FF0000u);
    EXPECT_EQ(s.puiColorCustom[1], 0x0000FF00u);
    EXPECT_EQ(s.puiColorGroup[2], 0x000000FFu);
    EXPECT_EQ(s.GetGain(0), 1.0);
    EXPECT_EQ(s.GetOffset(3), -1.0);

    s.uiSpectralColorMode = 1;
    s.pdOffset[1][2] = 42.0;
    ASSERT_EQ(s.Realloc(5), 0);
    EXPECT_EQ(s.pdOffset[1][2], 42.0);
    EXPECT_EQ(s.pdOffset[1][4], 0.0);
    EXPECT_EQ(s.pdGain[2][3], 1.0);
    EXPECT_EQ(s.puiColorCustom[3], 0x00FF0000u);
    EXPECT_EQ(s.puiColorGroup[4], 0x00FF0000u);
    EXPECT_EQ(s.puiColorGroup[1], 0x0000FF00u);
    ASSERT_EQ(s.Realloc(1000), 0);
    EXPECT_EQ(s.uiLength, 192u);

    // Runs of equal groups.
    s.uiCompCount = 6;
    s.uiGroupCount = 3;
    const u32 g6[6] = {0, 0, 1, 1, 2, 2};
    for (int i = 0; i < 6; ++i) p->sCompLutParam[i].uiGroup = g6[i];
    u32 last[192];
    EXPECT_EQ(s.GetAllGroupCount(last, false), 3u);
    EXPECT_EQ(last[0], 1u);
    EXPECT_EQ(last[1], 3u);
    EXPECT_EQ(last[2], 5u);

    for (int i = 0; i < 6; ++i) p->sCompLutParam[i].uiGroup = 0;
    EXPECT_EQ(s.GetAllGroupCount(last, false), 3u);
    EXPECT_EQ(last[0], 5u);
    EXPECT_EQ(s.GetAllGroupCount(last, true), 3u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(p->sCompLutParam[i].uiGroup, g6[i]) << i;
    EXPECT_EQ(last[0], 1u);
    EXPECT_EQ(last[1], 3u);
    EXPECT_EQ(last[2], 5u);

    EXPECT_TRUE(s.IsAbleToInsertGroup(3));
    EXPECT_FALSE(s.IsAbleToInsertGroup(4));
    s.uiCompCount = 3;
    EXPECT_FALSE(s.IsAbleToInsertGroup(3));
    EXPECT_TRUE(s.IsAbleToRemoveGroup(2));
    EXPECT_FALSE(s.IsAbleToRemoveGroup(3));

    // A copy has no owner: no channel groups, no regrouping.
    Spectral copy(s);
    EXPECT_EQ(copy.pOwner, nullptr);
    EXPECT_EQ(copy.GetAllGroupCount(last, true), s.uiGroupCount);
}

TEST(LutSpectral, RemoveGroup)
{
    auto p = NewParam();
    Spectral& s = p->sLutDataSpectral;
    s.uiCompCount = 6;
    s.uiGroupCount = 1;
    u32 count = 0;
    EXPECT_EQ(s.RemoveGroup(0, &count), -9);
    s.uiGroupCount = 3;
    s.Realloc(3);
    for (u32 i = 0; i < 3; ++i) {
        s.pdOffset[2][i] = 10.0 * i;
        s.puiColorGroup[i] = 0x100 + i;
    }
    EXPECT_EQ(s.RemoveGroup(3, &count), -9);
    ASSERT_EQ(s.RemoveGroup(1, &count), 0);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(s.uiGroupCount, 2u);
    ASSERT_EQ(s.uiLength, 2u);
    EXPECT_EQ(s.pdOffset[2][0], 0.0);
    EXPECT_EQ(s.pdOffset[2][1], 20.0);
    EXPECT_EQ(s.puiColorGroup[1], 0x102u);
    const u32 expect[6] = {0, 0, 0, 1, 1, 1};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(p->sCompLutParam[i].uiGroup, expect[i]) << i;
}

TEST(LutSpectral, OffsetsAndGainsPerChannel)
{
    auto p = NewParam();
    Spectral& s = p->sLutDataSpectral;
    s.uiCompCount = 5;
    s.uiGroupCount = 2;
    s.uiSpectralColorMode = 1;
    s.SetOffset(0, 0.0);
    s.SetOffset(1, 100.0);
    s.SetGain(1, 3.0);
    double off[5], gain[5];
    s.GetCompOffsetAndGains(off, gain);
    const double expect[5] = {0, 25, 50, 75, 100};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(off[i], expect[i]) << i;
        EXPECT_EQ(gain[i], 1.0 + 0.5 * i) << i;
    }

    // Modes 0 and 3: one value for every channel.
    s.uiSpectralColorMode = 3;
    s.SetOffset(0, -4.0);
    s.GetCompOffsetAndGains(off, nullptr);
    for (double o : off) EXPECT_EQ(o, -4.0);

    // Grouped: each channel takes its group's values; runs beyond the group
    // count fold into the last group used.
    s.uiSpectralColorMode = 2;
    s.uiGroupCount = 2;
    const u32 groups[5] = {0, 1, 1, 2, 3};
    for (int i = 0; i < 5; ++i) p->sCompLutParam[i].uiGroup = groups[i];
    s.SetOffset(0, 5.0);
    s.SetOffset(1, 6.0);
    s.GetCompOffsetAndGains(off, gain);
    const double g2[5] = {5, 6, 6, 6, 6};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(off[i], g2[i]) << i;

    // No groups: neutral values.
    s.uiGroupCount = 0;
    s.GetCompOffsetAndGains(off, gain);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(off[i], 0.0);
        EXPECT_EQ(gain[i], 1.0);
    }
    // An unknown mode reads nothing past the arrays.
    s.uiSpectralColorMode = 9;
    s.uiGroupCount = 2;
    s.SetOffset(0, 1.0);
    EXPECT_EQ(s.GetOffset(0), -1.0);
    s.GetCompOffsetAndGains(off, gain);
    EXPECT_EQ(off[0], 0.0);
}

TEST(LutSpectral, SpreadMatchesReference)
{
    auto p = NewParam();
    Spectral& s = p->sLutDataSpectral;
    s.uiSpectralColorMode = 1;
    for (const RefSpread& c : kRefSpread) {
        SCOPED_TRACE(testing::Message() << "n " << c.n << " g " << c.g);
        s.uiCompCount = c.n;
        s.uiGroupCount = c.g;
        for (u32 k = 0; k < c.g; ++k) s.SetOffset(k, c.nodes[k]);
        std::vector<double> off(c.n + 1, -77.0);
        s.GetCompOffsetAndGains(off.data(), nullptr);
        for (u32 i = 0; i < c.n; ++i) EXPECT_EQ(off[i], kRefSpreadValues[c.first + i]) << i;
        EXPECT_EQ(off[c.n], -77.0);
    }
}

TEST(LutSpectral, ColoursMatchReference)
{
    auto p = NewParam();
    Spectral& s = p->sLutDataSpectral;
    s.uiSpectralColorMode = 1;
    for (const RefSegments& c : kRefSegments) {
        SCOPED_TRACE(testing::Message() << "n " << c.n << " g " << c.g);
        s.uiCompCount = c.n;
        s.uiGroupCount = c.g;
        for (u32 k = 0; k < c.g; ++k) s.SetColor(k, c.colours[k]);
        std::vector<u32> out(c.n + 1, 0xDEADBEEF), kept(c.n + 1, 0xDEADBEEF);
        s.GetCompColors(out.data(), false, false);
        s.GetCompColors(kept.data(), true, false);
        for (u32 i = 0; i < c.n; ++i) {
            const u32 k = kRefSegmentNodes[c.first + i];
            const u32 want = c.g == 1 ? c.colours[0]
                                      : InterpolateColorHSI8(c.colours[k] & 0xFFFFFF, c.colours[k + 1] & 0xFFFFFF,
                                                             kRefSegmentWeights[c.first + i]);
            EXPECT_EQ(out[i], want & 0xFFFFFF) << i;
            EXPECT_EQ(kept[i], want) << i;
            EXPECT_EQ(s.GetCompColor(i, true), want) << i;
        }
        EXPECT_EQ(out[c.n], 0xDEADBEEFu);
    }
    EXPECT_EQ(s.GetCompColor(1000, false), 0x00FFFFFFu);
}

TEST(LutSpectral, StatedColourExamples)
{
    auto p = NewParam();
    Spectral& s = p->sLutDataSpectral;
    s.uiSpectralColorMode = 1;
    s.uiCompCount = 5;
    s.uiGroupCount = 3;
    s.SetColor(0, 0x0000FF);
    s.SetColor(1, 0x00FF00);
    s.SetColor(2, 0xFF0000);
    u32 out[5];
    s.GetCompColors(out, false, false);
    const struct {
        u32 a, b;
        int w;
    } want[5] = {{0x0000FF, 0x00FF00, 0},     {0x0000FF, 0x00FF00, 35000}, {0x0000FF, 0x00FF00, 65536},
                 {0x00FF00, 0xFF0000, 35000}, {0x00FF00, 0xFF0000, 65536}};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], InterpolateColorHSI8(want[i].a, want[i].b, want[i].w)) << i;

    // Grouped: group colours, disabled ones dimmed on request.
    s.uiSpectralColorMode = 2;
    const u32 groups[5] = {0, 0, 1, 1, 2};
    for (int i = 0; i < 5; ++i) p->sCompLutParam[i].uiGroup = groups[i];
    s.SetColor(1, 0x204080);
    s.EnableGroup(1, false);
    EXPECT_FALSE(s.IsGroupEnabled(1));
    EXPECT_TRUE(s.IsGroupEnabled(0));
    EXPECT_EQ(s.GetSpectralGroupCount(), 2u);
    CKzRangeMask enabled;
    s.GetComponentEnabledGroupMask(enabled);
    EXPECT_EQ(enabled.GetSize(), 5u);
    for (u32 i = 0; i < 5; ++i) EXPECT_EQ(enabled.Get(i), groups[i] != 1) << i;

    u32 kept[5], dimmed[5];
    s.GetCompColors(out, false, false);
    s.GetCompColors(kept, true, false);
    s.GetCompColors(dimmed, false, true);
    EXPECT_EQ(out[2], 0x204080u);
    EXPECT_EQ(kept[2], 0xFF204080u);
    EXPECT_EQ(kept[0] >> 24, 0u);
    unsigned char h, sat, in, r, g, b;
    CKzPicMemAPI::ConvertColorRGB8toHSI8(h, sat, in, 0x80, 0x40, 0x20);
    CKzPicMemAPI::ConvertColorHSI8toRGB8(r, g, b, h, u8(2 * sat / 3), u8(2 * in / 3));
    EXPECT_EQ(dimmed[2], u32(r) | u32(g) << 8 | u32(b) << 16);
    EXPECT_EQ(dimmed[3], dimmed[2]);
    EXPECT_EQ(dimmed[0], out[0]);
    s.EnableGroup(1, true);
    EXPECT_TRUE(s.IsGroupEnabled(1));

    // No groups: white.
    s.uiGroupCount = 0;
    s.GetCompColors(out, false, false);
    for (u32 c : out) EXPECT_EQ(c, 0x00FFFFFFu);
}

TEST(LutSpectralThreads, ColoursWithoutHostTables)
{
    // Colour interpolation builds its own tables when the host set none; each
    // thread works on its own record.
    std::vector<u32> expect(40);
    {
        auto p = NewParam();
        p->sLutDataSpectral.uiSpectralColorMode = 1;
        p->sLutDataSpectral.uiCompCount = 40;
        p->sLutDataSpectral.GetCompColors(expect.data(), false, false);
    }
    std::vector<std::thread> threads;
    std::vector<int> mismatches(8, 0);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int rep = 0; rep < 50; ++rep) {
                auto p = NewParam();
                p->sLutDataSpectral.uiSpectralColorMode = 1;
                p->sLutDataSpectral.uiCompCount = 40;
                std::vector<u32> out(40);
                p->sLutDataSpectral.GetCompColors(out.data(), false, false);
                if (out != expect) ++mismatches[size_t(t)];
            }
        });
    for (auto& th : threads) th.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
