// Variant tree: names, assignment, children, lookups, equality, structure,
// trace text and the shared undefined variant.
#include "gnr_system/CKzVariant.h"
#include "variant_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace {

using kztest::W;
using kztest::List;
std::string RT(const CKzVariant& v) { return v.GetRunType().GetNameA(); }


TEST(VariantTree, DefaultVariant)
{
    CKzVariant v;
    EXPECT_TRUE(v.IsUndefined());
    EXPECT_EQ(W(v.GetName()), L"no_name");
    EXPECT_EQ(RT(v), "unknown");
    EXPECT_EQ(v.GetCount(), -1);
    EXPECT_FALSE(v.IsEnabledTypeChange());
}

TEST(VariantTree, ValidateName)
{
    struct Case { const wchar_t* in; const wchar_t* out; bool changed; };
    const Case cases[] = {
        {L"", L"no_name", true},
        {L"1a b", L"_a_b", true},
        {L"a-b.c_d", L"a-b.c_d", false},
        {L"caf\u00e9", L"caf_", true},
        {L"_x9", L"_x9", false},
        {L"-x", L"_x", true},
        {L".x", L"_x", true},
        {L"a:b<c", L"a_b_c", true},
        {L"\U0001F600z", L"_z", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.in);
        CKzStringW n(c.in);
        EXPECT_EQ(CKzVariant::ValidateName(n), c.changed);
        EXPECT_EQ(W(n), c.out);
        CKzVariant v;
        EXPECT_EQ(v.SetName(CKzStringW(c.in)), c.changed);
        EXPECT_EQ(W(v.GetName()), c.out);
    }
}

TEST(VariantTree, TypedAssignmentReplacesTheType)
{
    CKzVariant v(1.5, L"v");
    v = (int)5;
    EXPECT_EQ(RT(v), "kz_int32");
    EXPECT_EQ(v.GetKz_int32(), 5);
    v = 2.5;
    EXPECT_EQ(RT(v), "double");
    EXPECT_EQ(W(v.GetName()), L"v");

    CKzVariant i((int)3);
    i = std::nan("");
    EXPECT_EQ(RT(i), "double");
    EXPECT_EQ(i.GetDouble(), 1.0);
    CKzVariant d(0.0);
    d = std::nan("");
    EXPECT_TRUE(std::isnan(d.GetDouble()));

    CKzVariant fresh;
    fresh = CKzVariant((int)9, L"src");
    EXPECT_EQ(fresh.GetKz_int32(), 9);
    EXPECT_EQ(W(fresh.GetName()), L"no_name");

    CKzVariant l = List(L"l", {CKzVariant(1, L"a")});
    l = CKzStringW(L"t");
    EXPECT_EQ(RT(l), "CKzStringW");
    EXPECT_EQ(l.GetCount(), -1);
}

TEST(VariantTree, AssignmentFromOwnDescendantOrSelfKeepsData)
{
    CKzVariant p = List(L"p", {List(L"c", {CKzVariant(1, L"x"), CKzVariant(2, L"y")}), CKzVariant(3, L"z")});
    p = p[0];
    EXPECT_EQ(W(p.GetName()), L"p");
    ASSERT_EQ(p.GetCount(), 2);
    EXPECT_EQ(p[L"x"].GetKz_int32(), 1);
    EXPECT_EQ(p[L"y"].GetKz_int32(), 2);

    // A scalar grandchild replaces the list holding it.
    CKzVariant q = List(L"q", {List(L"c", {CKzVariant(L"deep", L"s")})});
    q = q[0][0];
    EXPECT_EQ(W(q.GetCKzStringW()), L"deep");

    CKzVariant s = List(L"s", {CKzVariant(1, L"a")});
    const CKzVariant before(s);
    s = s;
    EXPECT_EQ(s, before);
    CKzVariant& alias = s;
    s = alias;
    EXPECT_EQ(s, before);

    // A list given its own children keeps them.
    CKzVariant t = List(L"t", {CKzVariant(1, L"a"), CKzVariant(2, L"b")});
    t = t.GetCKzListVariant();
    EXPECT_EQ(t.GetCount(), 2);
    EXPECT_EQ(t[L"b"].GetKz_int32(), 2);

    // A byte array assigned its own value.
    unsigned char raw[3] = {1, 2, 3};
    CKzVariant b(CKzByteArray(raw, 3, 1024));
    b = *static_cast<const CKzByteArray*>(b.GetValueVoidPtr());
    EXPECT_EQ(b.GetCKzByteArray().GetSize(), 3u);

    // Appending a variant to itself appends what it held.
    CKzVariant n((int)4, L"n");
    n.Append(n);
    ASSERT_EQ(n.GetCount(), 1);
    EXPECT_EQ(n[0].GetKz_int32(), 4);
    CKzVariant m = List(L"m", {CKzVariant(1, L"a")});
    m.Append(m);
    ASSERT_EQ(m.GetCount(), 2);
    EXPECT_EQ(m[1].GetCount(), 1);
}

TEST(VariantTree, InsertAppendDelete)
{
    CKzVariant s((int)5, L"s");
    CKzVariant& c = s.Append(CKzVariant(1.0, L"a"));
    EXPECT_EQ(RT(s), "CKzListVariant");
    EXPECT_EQ(s.GetCount(), 1);
    EXPECT_EQ(&c, s.IndexPtr(0));

    CKzVariant l = List(L"l", {CKzVariant(1, L"a"), CKzVariant(2, L"b")});
    EXPECT_TRUE(&l.Insert(CKzVariant(3, L"c"), 3) == &g_UndefVariant);
    EXPECT_TRUE(&l.Insert(CKzVariant(3, L"c"), -1) == &g_UndefVariant);
    EXPECT_EQ(l.GetCount(), 2);
    l.Insert(CKzVariant(3, L"c"), 2);
    EXPECT_EQ(W(l[2].GetName()), L"c");
    l.Insert(CKzVariant(0, L"z"), 0);
    EXPECT_EQ(W(l[0].GetName()), L"z");
    EXPECT_EQ(l.GetCount(), 4);

    EXPECT_TRUE(l.Delete(1));
    EXPECT_EQ(W(l[1].GetName()), L"b");
    EXPECT_FALSE(l.Delete(3));
    EXPECT_FALSE(l.Delete((unsigned)-1));

    CKzVariant empty(CKzListVariant(), L"e");
    CKzVariant scalar((int)1);
    CKzVariant undef;
    EXPECT_FALSE(empty.Delete(0));
    EXPECT_FALSE(scalar.Delete(0));
    EXPECT_FALSE(undef.Delete(0));
    EXPECT_EQ(scalar.GetKz_int32(), 1);

    EXPECT_EQ(l.IndexPtr(-1), nullptr);
    EXPECT_EQ(l.IndexPtr(3), nullptr);
    EXPECT_EQ(scalar.IndexPtr(0), nullptr);
    EXPECT_EQ(l.IndexOf(L"b"), 1);
    EXPECT_EQ(l.IndexOf(L"q"), -9);
    EXPECT_EQ(scalar.IndexOf(L"b"), -1);
    EXPECT_TRUE(l.Member(CKzVariant(3, L"c")));
    EXPECT_FALSE(l.Member(CKzVariant(4, L"c")));
}

TEST(VariantTree, SetOrAppend)
{
    CKzVariant l = List(L"l", {CKzVariant(1, L"a")});
    CKzVariant v(7, L"orig");
    EXPECT_EQ(l.SetOrAppend(L"x", v), -9);
    EXPECT_EQ(W(v.GetName()), L"x");
    EXPECT_EQ(l[L"x"].GetKz_int32(), 7);
    CKzVariant w(8, L"other");
    EXPECT_EQ(l.SetOrAppend(L"a", w), 0);
    EXPECT_EQ(l[L"a"].GetKz_int32(), 8);
    EXPECT_EQ(W(l[0].GetName()), L"a");

    CKzVariant u;
    CKzVariant x(1, L"q");
    EXPECT_EQ(u.SetOrAppend(L"x", x), -1);
    EXPECT_EQ(u.GetCount(), 1);
}

TEST(VariantTree, ListEquality)
{
    EXPECT_EQ(List(L"l", {CKzVariant(1, L"a"), CKzVariant(2, L"b")}),
              List(L"m", {CKzVariant(2, L"b"), CKzVariant(1, L"a")}));
    EXPECT_NE(List(L"l", {CKzVariant(1), CKzVariant(2)}), List(L"l", {CKzVariant(2), CKzVariant(1)}));
    EXPECT_EQ(List(L"l", {CKzVariant(1), CKzVariant(2)}), List(L"l", {CKzVariant(1), CKzVariant(2)}));
    EXPECT_NE(List(L"l", {CKzVariant(1, L"a")}), List(L"l", {CKzVariant(1, L"b")}));
    EXPECT_NE(List(L"l", {CKzVariant(1, L"a")}), List(L"l", {}));
    EXPECT_EQ(List(L"l", {}), List(L"k", {}));
    EXPECT_NE(CKzVariant(), CKzVariant(1));
    EXPECT_EQ(CKzVariant(), CKzVariant());

    // Repeated names pair in order, so such a list equals its copy.
    CKzVariant dup = List(L"d", {CKzVariant(1, L"a"), CKzVariant(2, L"a"), CKzVariant(3, L"b")});
    EXPECT_EQ(dup, CKzVariant(dup));
    EXPECT_NE(dup, List(L"d", {CKzVariant(2, L"a"), CKzVariant(1, L"a"), CKzVariant(3, L"b")}));
    EXPECT_EQ(dup, List(L"d", {CKzVariant(1, L"a"), CKzVariant(3, L"b"), CKzVariant(2, L"a")}));
}

TEST(VariantTree, CompareStructure)
{
    EXPECT_EQ(CKzVariant::CompareStructure(List(L"p", {CKzVariant(1, L"a")}), List(L"q", {CKzVariant(5, L"z")}), true), 0);
    EXPECT_EQ(CKzVariant::CompareStructure(List(L"p", {CKzVariant(1, L"a")}), List(L"p", {CKzVariant(1.0, L"a")}), true), -1);
    EXPECT_EQ(CKzVariant::CompareStructure(List(L"p", {CKzVariant(1, L"a")}), List(L"p", {}), true), -1);
    EXPECT_EQ(CKzVariant::CompareStructure(List(L"p", {}), List(L"p", {}), true), 0);
    // Without recursion two lists compare by run type only.
    EXPECT_EQ(CKzVariant::CompareStructure(List(L"p", {CKzVariant(1)}), List(L"p", {CKzVariant(1.0)}), false), 0);
    EXPECT_EQ(compareStructure_Special(List(L"p", {CKzVariant(1)}), List(L"p", {CKzVariant(1.0)})), -1);
    EXPECT_EQ(compareStructure_Special(List(L"p", {List(L"x", {CKzVariant(1)})}), List(L"p", {List(L"x", {CKzVariant(1.0)})})), 0);
    EXPECT_EQ(compareStructure_Special(CKzVariant(1), CKzVariant(2)), 0);
}

TEST(VariantTree, Searches)
{
    CKzVariant t = List(L"t", {List(L"x", {CKzVariant(1, L"b")}), CKzVariant(2, L"b")});
    const CKzVariant* bfs = t.Search(L"b", nullptr);
    ASSERT_NE(bfs, nullptr);
    EXPECT_EQ(bfs->GetKz_int32(), 2);
    const CKzVariant* fixed = t.SearchFixed(L"x", L"b", nullptr);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->GetKz_int32(), 1);
    EXPECT_EQ(t.SearchFixed(L"b", L"x", nullptr), nullptr);
    EXPECT_EQ(t.Search((const wchar_t*)nullptr), nullptr);
    EXPECT_EQ(t.Search(L"t", nullptr), &t);   // the node itself is tested first
    EXPECT_EQ(t.Search(L"x", L"b", nullptr)->GetKz_int32(), 1);
    EXPECT_EQ(t.Search(L"nope", nullptr), nullptr);
    EXPECT_EQ(t.SearchFixedOneLevel(L"B"), nullptr);   // exact names
}

TEST(VariantTree, TraceText)
{
    CKzVariant l = List(L"L", {CKzVariant(1, L"a")});
    CKzStringW out;
    CKzVariant::Trace(out, l);
    EXPECT_EQ(W(out),
              L"<variant version=\"1.0\">\r\n"
              L"<L runtype=\"CKzListVariant\">\r\n"
              L" <a runtype=\"kz_int32\" value=\"1\"/>\r\n"
              L"</L>\r\n"
              L"</variant>\r\n");
    CKzVariant::Trace(out, CKzVariant());
    EXPECT_EQ(W(out), L"<variant version=\"1.0\">\r\n<no_name runtype=\"unknown\" value=\"\"/>\r\n</variant>\r\n");
}

// Every way of writing through a failed lookup.
TEST(VariantTree, SharedUndefinedStaysUndefined)
{
    CKzVariant l = List(L"l", {CKzVariant(1, L"a")});
    l[L"missing"] = 5;
    l[L"missing"] = CKzVariant(2.0);
    l[7] = CKzStringW(L"x");
    l[L"a"][L"deeper"] = true;
    l[L"missing"].Append(CKzVariant(1));
    l[L"missing"].SetName(L"renamed");
    l[L"missing"].EnableTypeChange(true);
    l[L"missing"].SetRunType(CKzVariantRunType("double"));
    l[L"missing"].Read(L"3");
    CKzVariant other(1);
    l[L"missing"].SwapValue(other);
    l.Insert(CKzVariant(1), 99) = 4;
    CKzVariant(3)[L"x"] = 1;

    EXPECT_TRUE(g_UndefVariant.IsUndefined());
    EXPECT_EQ(W(g_UndefVariant.GetName()), L"no_name");
    EXPECT_FALSE(g_UndefVariant.IsEnabledTypeChange());
    EXPECT_TRUE(l[L"missing"].IsUndefined());
    EXPECT_EQ(other.GetKz_int32(), 1);
    EXPECT_EQ(l.GetCount(), 1);

    // Writers on many threads at once; every lookup still finds nothing.
    std::atomic<int> defined{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&defined, t] {
            CKzVariant mine = List(L"m", {CKzVariant(t, L"a")});
            for (int i = 0; i < 2000; ++i) {
                mine[L"nothing"] = i;
                if (!mine[L"nothing"].IsUndefined() || !g_UndefVariant.IsUndefined()) ++defined;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(defined.load(), 0);
}

// Trees far deeper than any reader builds: copied, compared, written and
// released without exhausting the stack.
TEST(VariantTree, DeepTreesWithoutRecursion)
{
    const int depth = 200000;
    CKzVariant root(CKzListVariant(), L"r");
    CKzVariant* cur = &root;
    for (int i = 0; i < depth; ++i) cur = &cur->Append(CKzVariant(CKzListVariant(), L"n"));
    cur->Append(CKzVariant(1, L"leaf"));

    CKzVariant copy(root);
    EXPECT_TRUE(copy == root);
    EXPECT_EQ(CKzVariant::CompareStructure(copy, root, true), 0);
    CKzStringW text;
    EXPECT_TRUE(root.Write(text));
    EXPECT_EQ(W(text), L"1");

    CKzVariant* leaf = &copy;
    for (int i = 0; i <= depth; ++i) leaf = leaf->IndexPtr(0);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(W(leaf->GetName()), L"leaf");
    *leaf = 2.0;
    EXPECT_FALSE(copy == root);
    EXPECT_EQ(CKzVariant::CompareStructure(copy, root, true), -1);

    CKzVariant assigned;
    assigned = root;
    EXPECT_TRUE(assigned == root);
    root.MakeNull();
    EXPECT_TRUE(root.IsUndefined());
}

TEST(VariantTree, CopyKeepsNameAndFlag)
{
    CKzVariant v(1, L"n");
    v.EnableTypeChange(true);
    CKzVariant c(v);
    EXPECT_EQ(W(c.GetName()), L"n");
    EXPECT_TRUE(c.IsEnabledTypeChange());
    CKzVariant d;
    d = v;
    EXPECT_FALSE(d.IsEnabledTypeChange());
    EXPECT_TRUE(v.EnableTypeChange(false));
    v.MakeNull();
    EXPECT_TRUE(v.IsUndefined());
    EXPECT_EQ(W(v.GetName()), L"n");
}

} // namespace
