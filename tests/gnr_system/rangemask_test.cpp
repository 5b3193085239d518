// Range masks: the documented transitions between range and mask form, and a
// randomized differential test against a std::set model.
#include "gnr_system/CKzRangeMask.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<unsigned> members(const CKzRangeMask& m)
{
    std::vector<unsigned> v;
    for (unsigned i = 0; i < m.GetSize(); ++i)
        if (m.Get(i)) v.push_back(i);
    return v;
}

void expectRange(const CKzRangeMask& m, unsigned first, unsigned last, unsigned step)
{
    unsigned f = 0, l = 0, s = 0;
    ASSERT_EQ(0, m.GetRange(&f, &l, &s));
    EXPECT_FALSE(m.IsMaskForm());
    EXPECT_EQ(first, f);
    EXPECT_EQ(last, l);
    EXPECT_EQ(step, s);
}

CKzRangeMask roundTrip(const CKzRangeMask& m)
{
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    w.LevelBegin(L"M");
    m.SaveToLiteVariant(w);
    w.Finalize(r);
    EXPECT_EQ(0, r.LevelBegin(L"M"));
    CKzRangeMask back;
    back.LoadFromLiteVariant(r);
    return back;
}

} // namespace

TEST(RangeMask, RangeFormArithmetic)
{
    CKzRangeMask m(10, 2, 9, 3);
    EXPECT_EQ(std::vector<unsigned>({2, 5, 8}), members(m));
    expectRange(m, 2, 8, 3);
    EXPECT_EQ(2u, m.GetCount(6));
    EXPECT_EQ(3u, m.GetCount(0));
    EXPECT_EQ(2u, m.Sum(3, 6));
    CKzRangeMask r(10, 9, 2, 3);
    EXPECT_TRUE(m == r);

    // A step of 0 counts as 1 rather than dividing by zero.
    CKzRangeMask z(10, 1, 3, 0);
    EXPECT_EQ(std::vector<unsigned>({1, 2, 3}), members(z));
    EXPECT_EQ(3u, z.GetCount(0));
}

TEST(RangeMask, SingleChangesKeepTheRangeWhileTheyCan)
{
    CKzRangeMask m;
    m.SetSize(10);
    m.Set(4, true);
    m.Set(7, true);
    expectRange(m, 4, 7, 3);
    m.Set(1, true);
    expectRange(m, 1, 7, 3);
    m.Set(5, true);
    EXPECT_TRUE(m.IsMaskForm());
    EXPECT_EQ(std::vector<unsigned>({1, 4, 5, 7}), members(m));

    CKzRangeMask s(9, 0, 8, 4); // 0, 4, 8
    s.Set(4, false);
    expectRange(s, 0, 8, 8);
    s.Set(4, true);
    expectRange(s, 0, 8, 4);

    CKzRangeMask g(10, 0, 0, 1);
    EXPECT_FALSE(g.Set(20, true));
    EXPECT_EQ(21u, g.GetSize());
    EXPECT_EQ(std::vector<unsigned>({0, 20}), members(g));

    CKzRangeMask k;
    k.SetSize(128);
    k.Set(5, true);
    k.Set(70, true);
    k.Set(6, true); // not a range: mask form
    k.Set(6, false);
    ASSERT_TRUE(k.IsMaskForm());
    k.Set(70, false);
    unsigned f, l;
    k.GetFirst(&f);
    k.GetLast(&l);
    EXPECT_EQ(5u, f);
    EXPECT_EQ(5u, l);
}

TEST(RangeMask, SetAlgebraAndShifts)
{
    CKzRangeMask a(10, 5, 6, 1), b(10, 0, 9, 1);
    a |= b;
    expectRange(a, 0, 9, 1);

    CKzRangeMask s;
    s.SetSize(4);
    s.Set(0, true);
    s.Set(3, true);
    EXPECT_EQ(std::vector<unsigned>({2}), members(s << 1));
    EXPECT_EQ(std::vector<unsigned>({1}), members(s >> 1));

    CKzRangeMask full = CKzRangeMask::FULL_MASK;
    EXPECT_TRUE(full.IsSet());
    EXPECT_EQ(129u, full.GetCount(0));
    full.Reset();
    EXPECT_TRUE(full.IsReset());
    unsigned long w = 0;
    EXPECT_TRUE(CKzRangeMask::IsMaskFull(&w, 0));
    EXPECT_TRUE(CKzRangeMask::IsMaskNull(&w, 0));
    w = 0x7;
    EXPECT_TRUE(CKzRangeMask::IsMaskFull(&w, 3));
    EXPECT_FALSE(CKzRangeMask::IsMaskFull(&w, 4));
    EXPECT_FALSE(CKzRangeMask::IsMaskNull(&w, 1));

    CKzRangeMask odd;
    odd.SetSize(8);
    for (unsigned i : {1u, 3u, 6u}) odd.Set(i, true);
    ASSERT_TRUE(odd.IsMaskForm());
    EXPECT_EQ(-9, odd.ConvertMaskToRange());
    EXPECT_TRUE(odd.IsMaskForm());
    EXPECT_EQ(std::vector<unsigned>({1, 3, 6}), members(odd));
    EXPECT_EQ(-9, CKzRangeMask(8, 0, 7, 1).FindFirst(0));
    EXPECT_EQ(3, odd.FindFirst(2));
    EXPECT_EQ(3, odd.FindLast(5));
    EXPECT_EQ(6, odd.FindLast(0)); // a start below 1 means the last index
    EXPECT_EQ(6, odd.FindLast(-5));
    CKzRangeMask none;
    none.SetSize(70);
    none.GetMask();
    EXPECT_EQ(-1, none.FindLast(69));
    EXPECT_EQ(0, none.FindFirst(0));
}

TEST(RangeMask, TextBytesAndLiteForms)
{
    CKzRangeMask m;
    EXPECT_EQ(-9, m.SetMask((const wchar_t*)nullptr));
    EXPECT_EQ(0, m.SetMask(L"0110100"));
    EXPECT_EQ(7u, m.GetSize());
    EXPECT_STREQ(L"0110100", m.GetComponentsMask().GetString());
    CKzByteArray bytes(16);
    EXPECT_EQ(0, m.GetMask(bytes));
    ASSERT_EQ(7u, bytes.GetSize());
    EXPECT_EQ(1, bytes.GetData()[4]);
    CKzRangeMask fromBytes(bytes);
    EXPECT_EQ(members(m), members(fromBytes));

    // Range form: Si, St, Co, Sp; mask form: one byte per index under Ma.
    CKzRangeMask r(12, 2, 11, 3);
    CKzLiteVariantW w;
    CKzLiteVariantR rd;
    w.LevelBegin(L"M");
    r.SaveToLiteVariant(w);
    w.Finalize(rd);
    ASSERT_EQ(0, rd.LevelBegin(L"M"));
    EXPECT_EQ(12u, rd.Get(L"Si", 0u));
    EXPECT_EQ(2u, rd.Get(L"St", 0u));
    EXPECT_EQ(10u, rd.Get(L"Co", 0u));
    EXPECT_EQ(3u, rd.Get(L"Sp", 0u));
    EXPECT_TRUE(r == roundTrip(r));
    EXPECT_TRUE(m == roundTrip(m));
    EXPECT_TRUE(roundTrip(m).IsMaskForm());

    struct Stored {
        const char* what;
        int si, st, co, sp; // -1: key absent
        std::vector<unsigned> expect;
    };
    const Stored cases[] = {
        {"missing step", 10, 2, 3, -1, {2, 3, 4}},
        {"zero step", 10, 2, 3, 0, {2, 3, 4}},
        {"zero count", 10, 2, 0, 1, {}},
        {"beyond the size", 6, 4, 100, 1, {4, 5}},
        {"start beyond the size", 6, 9, 2, 1, {}},
        {"wrapping end", 8, 7, 0x7FFFFFFF, 1, {7}},
    };
    for (const Stored& c : cases) {
        SCOPED_TRACE(c.what);
        w.LevelBegin(L"M");
        if (c.si >= 0) w.Set((unsigned)c.si, L"Si");
        if (c.st >= 0) w.Set((unsigned)c.st, L"St");
        if (c.co >= 0) w.Set((unsigned)c.co, L"Co");
        if (c.sp >= 0) w.Set((unsigned)c.sp, L"Sp");
        w.Finalize(rd);
        ASSERT_EQ(0, rd.LevelBegin(L"M"));
        CKzRangeMask back;
        back.LoadFromLiteVariant(rd);
        EXPECT_EQ((unsigned)c.si, back.GetSize());
        EXPECT_EQ(c.expect, members(back));
        EXPECT_EQ(c.expect.size(), back.GetCount(0));
        // The span never reaches beyond the size.
        unsigned last = 0;
        if (back.GetLast(&last) == 0) EXPECT_LT(last, back.GetSize());
    }
}

TEST(RangeMask, RangeSetBeforeTheSizeAppearsWhenItGrows)
{
    CKzRangeMask m;
    m.SetRange(2, 5, 1);
    EXPECT_EQ(0u, m.GetCount(0));
    m.SetSize(10);
    EXPECT_EQ(std::vector<unsigned>({2, 3, 4, 5}), members(m));
    m.SetSize(4);
    EXPECT_EQ(std::vector<unsigned>({2, 3}), members(m));
    m.SetSize(10); // a shrink clipped the range for good
    EXPECT_EQ(std::vector<unsigned>({2, 3}), members(m));
}

namespace {

struct Model {
    unsigned size = 0;
    std::set<unsigned> m;
    void clip()
    {
        m.erase(m.lower_bound(size), m.end());
    }
};

CKzRangeMask randomMask(std::mt19937& rng, unsigned size, Model& model)
{
    model.size = size;
    model.m.clear();
    CKzRangeMask r;
    r.SetSize(size);
    if (size == 0) return r;
    switch (rng() % 3) {
    case 0: {
        unsigned a = rng() % size, b = rng() % size, st = rng() % 5;
        r.SetRange(a, b, st);
        unsigned lo = std::min(a, b), hi = std::max(a, b), s = st ? st : 1;
        for (unsigned i = lo; i <= hi; i += s) model.m.insert(i);
        break;
    }
    case 1:
        for (unsigned i = 0; i < size; ++i)
            if (rng() % 3 == 0) {
                r.Set(i, true);
                model.m.insert(i);
            }
        break;
    default: break;
    }
    return r;
}

void check(const CKzRangeMask& r, const Model& md, std::mt19937& rng)
{
    ASSERT_EQ(md.size, r.GetSize());
    for (unsigned i = 0; i < md.size + 3; ++i) ASSERT_EQ(md.m.count(i) == 1, r.Get(i)) << "index " << i;
    ASSERT_EQ(md.m.size(), r.GetCount(0));
    if (md.size) {
        unsigned i = rng() % md.size;
        size_t c = std::distance(md.m.begin(), md.m.upper_bound(i));
        if (i > 0) ASSERT_EQ(c, r.GetCount((int)i));
        unsigned a = rng() % (md.size + 2), n = rng() % (md.size + 70);
        size_t s = std::distance(md.m.lower_bound(a), md.m.lower_bound(a + n));
        ASSERT_EQ(s, r.Sum(a, n)) << a << " " << n;
    }
    ASSERT_EQ(md.m.size() == md.size, r.IsSet());
    ASSERT_EQ(md.m.empty(), r.IsReset());
    unsigned f = 0, l = 0;
    if (md.m.empty()) {
        ASSERT_EQ(-9, r.GetFirst(&f));
    } else {
        ASSERT_EQ(0, r.GetFirst(&f));
        ASSERT_EQ(*md.m.begin(), f);
        ASSERT_EQ(0, r.GetLast(&l));
        ASSERT_GE(l, *md.m.rbegin());
        ASSERT_LT(l, md.size);
        if (r.IsMaskForm()) {
            ASSERT_EQ(*md.m.rbegin(), l);
            unsigned start = rng() % md.size;
            auto it = md.m.lower_bound(start);
            ASSERT_EQ(it == md.m.end() ? 0 : (int)*it, r.FindFirst((int)start));
        }
    }
}

} // namespace

TEST(RangeMask, RandomizedAgainstSetModel)
{
    std::mt19937 rng(12345);
    int maskForms = 0, rangeForms = 0, toRange = 0, toMask = 0;
    for (int round = 0; round < 300; ++round) {
        Model md;
        CKzRangeMask r = randomMask(rng, rng() % 200, md);
        for (int step = 0; step < 60; ++step) {
            bool wasMask = r.IsMaskForm();
            unsigned op = rng() % 16;
            unsigned lim = md.size + 5;
            switch (op) {
            case 0:
            case 1: {
                unsigned i = rng() % lim;
                bool v = rng() % 3 != 0;
                bool prev = r.Set(i, v);
                ASSERT_EQ(md.m.count(i) == 1, prev);
                if (i >= md.size) md.size = i + 1; // clearing grows the size too
                if (v) md.m.insert(i);
                else md.m.erase(i);
                break;
            }
            case 2: {
                unsigned i = rng() % (md.size + 1);
                bool prev = r.Toggle(i);
                if (i >= md.size && !prev) md.size = i + 1;
                if (prev) md.m.erase(i);
                else md.m.insert(i);
                break;
            }
            case 3: {
                unsigned n = rng() % 260;
                ASSERT_EQ(0, r.SetSize(n));
                md.size = n;
                md.clip();
                break;
            }
            case 4: {
                Model o;
                CKzRangeMask other = randomMask(rng, rng() % 220, o);
                r &= other;
                md.size = std::min(md.size, o.size);
                std::set<unsigned> res;
                for (unsigned i : md.m)
                    if (o.m.count(i) && i < md.size) res.insert(i);
                md.m = res;
                break;
            }
            case 5:
            case 6: {
                Model o;
                CKzRangeMask other = randomMask(rng, rng() % 220, o);
                bool x = op == 6;
                if (x) r ^= other;
                else r |= other;
                md.size = std::max(md.size, o.size);
                for (unsigned i : o.m) {
                    if (x && md.m.count(i)) md.m.erase(i);
                    else md.m.insert(i);
                }
                break;
            }
            case 7: {
                r.Invert();
                std::set<unsigned> res;
                for (unsigned i = 0; i < md.size; ++i)
                    if (!md.m.count(i)) res.insert(i);
                md.m = res;
                break;
            }
            case 8: {
                unsigned n = rng() % 150;
                r <<= n;
                std::set<unsigned> res;
                for (unsigned i : md.m)
                    if (i >= n) res.insert(i - n);
                md.m = res;
                break;
            }
            case 9: {
                unsigned n = rng() % 150;
                r >>= n;
                std::set<unsigned> res;
                for (unsigned i : md.m)
                    if ((unsigned long)i + n < md.size) res.insert(i + n);
                md.m = res;
                break;
            }
            case 10:
                r.GetMask(); // to mask form
                ASSERT_TRUE(md.size == 0 || r.IsMaskForm());
                break;
            case 11:
                r.ConvertMaskToRange();
                break;
            case 12: {
                CKzRangeMask back = roundTrip(r);
                ASSERT_EQ(r.IsMaskForm(), back.IsMaskForm());
                ASSERT_TRUE(back == r);
                r = back;
                break;
            }
            case 13: {
                CKzByteArray b(64);
                r.GetMask(b);
                if (md.size) {
                    r.SetMask(b);
                    ASSERT_TRUE(r.IsMaskForm());
                }
                break;
            }
            case 14: {
                CKzStringW s = r.GetComponentsMask();
                r.SetMask(s.GetString());
                break;
            }
            default: {
                CKzRangeMask copy(r);
                ASSERT_TRUE(copy == r);
                r = copy;
                break;
            }
            }
            check(r, md, rng);
            if (HasFatalFailure()) {
                ADD_FAILURE() << "round " << round << " step " << step << " op " << op;
                return;
            }
            bool isMask = r.IsMaskForm();
            (isMask ? maskForms : rangeForms)++;
            if (wasMask && !isMask) ++toRange;
            if (!wasMask && isMask) ++toMask;
        }
    }
    // The walk exercised both forms and both transitions.
    EXPECT_GT(maskForms, 1000);
    EXPECT_GT(rangeForms, 1000);
    EXPECT_GT(toRange, 100);
    EXPECT_GT(toMask, 100);
}
