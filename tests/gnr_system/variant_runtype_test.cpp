// Run types: the registry, type changes, structure builders, and structures
// that no host registered.
#include "gnr_system/CKzVariant.h"
#include "variant_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using kztest::W;
using kztest::List;
std::string RT(const CKzVariant& v) { return v.GetRunType().GetNameA(); }


// The host registers RKzPoint = {x: 0.0, y: 0.0} once for the whole binary.
class RunTypes : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CKzVariant::RegisterRunType(List(L"RKzPoint", {CKzVariant(0.0, L"x"), CKzVariant(0.0, L"y")}));
    }
    static CKzVariantRunType Point() { return CKzVariantRunType("RKzPoint"); }
};

TEST_F(RunTypes, BuiltInRegistry)
{
    const char* names[] = {"unknown", "kz_int32", "kz_uint32", "kz_int64", "kz_uint64", "double",
                           "bool", "voidPtr", "CKzStringW", "CKzByteArray", "CKzListVariant"};
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(CKzVariant::GetRunTypeIndex(CKzVariantRunType(names[i])), i) << names[i];
        const CKzVariant& s = CKzVariant::GetRunTypeSample(CKzVariantRunType(names[i]));
        EXPECT_EQ(RT(s), names[i]);
        EXPECT_EQ(W(s.GetName()), std::wstring(names[i], names[i] + strlen(names[i])));
    }
    EXPECT_EQ(CKzVariant::GetRunTypeIndex(CKzVariantRunType("RKzDateTime")), -1);
    EXPECT_EQ(CKzVariant::GetRunTypeIndex(CKzVariantRunType("RKzDateTime"), true), 0);
    EXPECT_TRUE(CKzVariant::GetRunTypeSample(CKzVariantRunType("RKzDateTime")).IsUndefined());
    EXPECT_GE(CKzVariant::GetRunTypeIndex(Point()), 11);
    EXPECT_EQ(CKzVariant::RegisterKnownTypes(), 0);
    EXPECT_EQ(CKzVariant::GetRunTypeIndex(CKzVariantRunType("kz_int32")), 1);
}

TEST_F(RunTypes, ConstructionFromRunType)
{
    CKzVariant u(CKzVariantRunType("kz_uint64"), L"n");
    EXPECT_EQ(RT(u), "kz_uint64");
    EXPECT_EQ(u.GetKz_uint64(), 0u);
    EXPECT_EQ(W(u.GetName()), L"n");
    EXPECT_TRUE(CKzVariant(CKzVariantRunType("unknown"), L"n").IsUndefined());
    EXPECT_TRUE(CKzVariant(CKzVariantRunType("NoSuchType"), L"n").IsUndefined());
    EXPECT_EQ(CKzVariant(CKzVariantRunType("CKzByteArray")).GetCKzByteArray().GetIncrement(), 1024u);

    CKzVariant p(Point(), L"p");
    EXPECT_EQ(RT(p), "RKzPoint");
    ASSERT_EQ(p.GetCount(), 2);
    EXPECT_EQ(W(p[0].GetName()), L"x");

    // A structure no host registered is an empty list keeping its name.
    CKzVariant d(CKzVariantRunType("RKzDateTime"), L"t");
    EXPECT_EQ(RT(d), "RKzDateTime");
    EXPECT_EQ(d.GetCount(), 0);
}

TEST_F(RunTypes, SetRunTypeNeedsTheFlag)
{
    CKzVariant v((int)5);
    EXPECT_EQ(v.SetRunType(CKzVariantRunType("double")), -9);
    EXPECT_EQ(RT(v), "kz_int32");
    EXPECT_EQ(v.SetRunType(CKzVariantRunType("kz_int32")), 0);
    v.EnableTypeChange(true);
    EXPECT_EQ(v.SetRunType(CKzVariantRunType("double")), 0);
    EXPECT_EQ(RT(v), "double");
    EXPECT_EQ(v.GetDouble(), 0.0);
    EXPECT_EQ(v.SetRunType(CKzVariantRunType("unknown")), -4);
    EXPECT_EQ(v.SetRunType(CKzVariantRunType("NoSuchType")), -4);
    EXPECT_EQ(RT(v), "double");

    CKzVariant u;
    u.EnableTypeChange(true);
    EXPECT_EQ(u.SetRunType(CKzVariantRunType("kz_int32")), 0);
    EXPECT_EQ(RT(u), "kz_int32");
    EXPECT_EQ(u.GetKz_int32(), 0);
}

TEST_F(RunTypes, RegisteredStructure)
{
    CKzVariant a = List(L"a", {CKzVariant(1.5, L"x"), CKzVariant(2.5, L"y")});
    a.EnableTypeChange(true);
    EXPECT_EQ(a.SetRunType(Point()), 0);
    EXPECT_EQ(RT(a), "RKzPoint");
    EXPECT_EQ(a[L"x"].GetDouble(), 1.5);
    EXPECT_EQ(a[L"y"].GetDouble(), 2.5);
    EXPECT_EQ(W(a.GetName()), L"a");

    CKzVariant b = List(L"b", {CKzVariant(1, L"a")});
    b.EnableTypeChange(true);
    EXPECT_EQ(b.SetRunType(Point()), 0);
    ASSERT_EQ(b.GetCount(), 2);
    EXPECT_EQ(b[L"x"].GetDouble(), 0.0);
    EXPECT_EQ(b[L"y"].GetDouble(), 0.0);

    CKzVariant c = List(L"c", {CKzVariant(7.0, L"y"), CKzVariant(1, L"z")});
    c.EnableTypeChange(true);
    EXPECT_EQ(c.SetRunTypeCompatible(Point()), 0);
    ASSERT_EQ(c.GetCount(), 2);
    EXPECT_EQ(c[L"x"].GetDouble(), 0.0);
    EXPECT_EQ(c[L"y"].GetDouble(), 7.0);

    CKzVariant d = List(L"d", {CKzVariant(1.5, L"p"), CKzVariant(2.5, L"q")});
    d.EnableTypeChange(true);
    EXPECT_EQ(d.SetRunType(Point()), 0);
    EXPECT_EQ(W(d[0].GetName()), L"x");
    EXPECT_EQ(W(d[1].GetName()), L"y");
    EXPECT_EQ(d[L"x"].GetDouble(), 1.5);
    EXPECT_EQ(d[L"y"].GetDouble(), 2.5);

    // Members a registered structure lacks are not created.
    d[L"z"] = 3.0;
    EXPECT_EQ(d.GetCount(), 2);
    EXPECT_TRUE(g_UndefVariant.IsUndefined());

    // Copies keep the structure; a structure list differs from a plain one.
    CKzVariant copy(d);
    EXPECT_EQ(RT(copy), "RKzPoint");
    EXPECT_EQ(copy, d);
    CKzVariant plain = List(L"d", {CKzVariant(1.5, L"x"), CKzVariant(2.5, L"y")});
    EXPECT_NE(plain, d);
    EXPECT_FALSE(d == plain.GetCKzListVariant());
}

TEST_F(RunTypes, RegistrationIndexes)
{
    const int before = CKzVariant::GetRunTypeIndex(Point());
    EXPECT_EQ(CKzVariant::RegisterRunType(List(L"RKzPoint", {CKzVariant(1, L"other")})), 0);
    EXPECT_EQ(CKzVariant::GetRunTypeIndex(Point()), before);
    EXPECT_EQ(CKzVariant::GetRunTypeSample(Point()).GetCount(), 2);

    CKzVariant::RegisterRunType(List(L"RKzIndexA", {CKzVariant(1, L"a")}));
    const int a = CKzVariant::GetRunTypeIndex(CKzVariantRunType("RKzIndexA"));
    CKzVariant::RegisterRunType(List(L"RKzIndexB", {CKzVariant(1, L"b")}));
    EXPECT_EQ(CKzVariant::GetRunTypeIndex(CKzVariantRunType("RKzIndexB")), a + 1);
    EXPECT_EQ(RT(CKzVariant::GetRunTypeSample(CKzVariantRunType("RKzIndexB"))), "RKzIndexB");
}

TEST_F(RunTypes, ConcurrentRegistrationAndLookup)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                std::wstring name = L"RKzConc" + std::to_wstring(i % 50);
                CKzVariant::RegisterRunType(List(name.c_str(), {CKzVariant(t, L"m")}));
                std::string n(name.begin(), name.end());
                CKzVariant v(CKzVariantRunType(n.c_str()), L"v");
                EXPECT_EQ(v.GetCount(), 1);
                EXPECT_EQ(RT(v), n);
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int i = 0; i < 50; ++i) {
        std::string n = "RKzConc" + std::to_string(i);
        EXPECT_GE(CKzVariant::GetRunTypeIndex(CKzVariantRunType(n.c_str())), 11);
    }
}

TEST_F(RunTypes, ClearList)
{
    CKzVariant l = List(L"l", {CKzVariant(1), CKzVariant(2), CKzVariant(3)});
    l.ClearList();
    EXPECT_EQ(l.GetCount(), 0);
    CKzVariant i((int)1);
    i.ClearList();
    EXPECT_EQ(RT(i), "kz_int32");
    i.EnableTypeChange(true);
    i.ClearList();
    EXPECT_EQ(RT(i), "CKzListVariant");
    EXPECT_EQ(i.GetCount(), 0);
    CKzVariant p(Point(), L"p");
    p.EnableTypeChange(true);
    p.ClearList();
    EXPECT_EQ(RT(p), "CKzListVariant");
    EXPECT_EQ(p.GetCount(), 0);
}

TEST_F(RunTypes, StructureBuilders)
{
    CKzVariant a(1, L"a"), b(2.0, L"b");
    CKzVariant s = CKzVariant::CreateStruct(L"P", &a, &b, &g_UndefVariant);
    EXPECT_EQ(W(s.GetName()), L"P");
    EXPECT_EQ(RT(s), "CKzListVariant");
    ASSERT_EQ(s.GetCount(), 2);
    EXPECT_EQ(s[L"b"].GetDouble(), 2.0);
    CKzVariant e = CKzVariant::CreateStruct(L"E", &g_UndefVariant);
    EXPECT_EQ(e.GetCount(), 0);

    CKzVariant y(4.0, L"y");
    CKzVariant n = CKzVariant::CreateStructNamed(Point(), L"pt", &y, &g_UndefVariant);
    EXPECT_EQ(RT(n), "RKzPoint");
    EXPECT_EQ(n[L"x"].GetDouble(), 0.0);
    EXPECT_EQ(n[L"y"].GetDouble(), 4.0);
}

// What a saver of a structure does, with no host registration of its type:
// enable type changes, set the run type, assign members by name.
TEST_F(RunTypes, UnregisteredStructureKeepsNameAndMemberOrder)
{
    CKzVariant v;
    v.EnableTypeChange(true);
    EXPECT_EQ(v.SetRunType(CKzVariantRunType("RKzSaverTest")), 0);
    v[L"zeta"] = 2.5;
    v[L"alpha"] = (int)1;
    v[L"zeta"] = 3.5;   // an existing member is assigned, not repeated
    CKzVariant inner;
    inner.EnableTypeChange(true);
    inner.SetRunType(CKzVariantRunType("RKzSaverTest.RKzInner"));
    inner[L"n"] = CKzStringW(L"t");
    v[L"inner"] = inner;

    EXPECT_EQ(RT(v), "RKzSaverTest");
    ASSERT_EQ(v.GetCount(), 3);
    EXPECT_EQ(W(v[0].GetName()), L"zeta");
    EXPECT_EQ(v[0].GetDouble(), 3.5);
    EXPECT_EQ(W(v[1].GetName()), L"alpha");
    EXPECT_EQ(RT(v[2]), "RKzSaverTest.RKzInner");
    EXPECT_EQ(W(v[2][L"n"].GetCKzStringW()), L"t");
    EXPECT_EQ(CKzVariant::GetRunTypeIndex(CKzVariantRunType("RKzSaverTest")), -1);

    // A loader reads it back through const lookups without changing it.
    const CKzVariant& cv = v;
    EXPECT_TRUE(cv[L"missing"].IsUndefined());
    EXPECT_EQ(v.GetCount(), 3);

    // Copies and assignments keep the structure's name and members.
    CKzVariant copy(v);
    EXPECT_EQ(RT(copy), "RKzSaverTest");
    EXPECT_EQ(copy, v);
    CKzVariant assigned;
    assigned = v;
    EXPECT_EQ(assigned, v);
    EXPECT_EQ(W(assigned[0].GetName()), L"zeta");

    // Setting the type again on a filled node starts a fresh, empty structure.
    CKzVariant again(v);
    again.EnableTypeChange(true);
    EXPECT_EQ(again.SetRunType(CKzVariantRunType("RKzOther")), 0);
    EXPECT_EQ(again.GetCount(), 0);
    EXPECT_EQ(again.SetRunType(CKzVariantRunType("RKzOther")), 0);
}

} // namespace
