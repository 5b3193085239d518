#include "gnr_system/CKzList.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Key = CKzList::CKzKey;
using Node = CKzList::CKzNode;

int g_items[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
void* P(int i) { return &g_items[i]; }
int V(void* p) { return *static_cast<int*>(p); }

// Data in order, checked forwards and backwards, with the count and the links.
std::vector<int> Values(const CKzList& l)
{
    std::vector<int> fwd, back;
    for (Node* n = l.GetFirst(); n; n = n->GetNext()) fwd.push_back(V(n->GetData()));
    for (Node* n = l.GetLast(); n; n = n->GetPrevious()) back.insert(back.begin(), V(n->GetData()));
    EXPECT_EQ(fwd, back) << "links disagree";
    EXPECT_EQ(fwd.size(), l.GetCount());
    if (l.GetFirst()) EXPECT_EQ(l.GetFirst()->GetPrevious(), nullptr);
    if (l.GetLast()) EXPECT_EQ(l.GetLast()->GetNext(), nullptr);
    return fwd;
}

using VI = std::vector<int>;

int g_visits = 0;
std::vector<int> g_seen;
int Record(void* p)
{
    g_seen.push_back(V(p));
    return 0;
}
int IsOdd(void* p) { return V(p) % 2; }
int ByValue(void* a, void* b) { return V(*static_cast<void**>(a)) - V(*static_cast<void**>(b)); }
int ByValueDesc(void* a, void* b) { return ByValue(b, a); }
int Liar(void*, void*) { return (g_visits++ % 3) - 1; }

}  // namespace

TEST(CKzList, BuiltFromPointers)
{
    CKzList l(P(1), P(2), P(3), nullptr);
    EXPECT_EQ(l.GetKeyType(), eKzKeyTypeNone);
    EXPECT_EQ(Values(l), (VI{1, 2, 3}));
    EXPECT_EQ(l[0], P(1));
    EXPECT_EQ(l[2], P(3));
    EXPECT_EQ(l[3], nullptr);
    EXPECT_EQ(l.GetNth(3), nullptr);
    EXPECT_EQ(l.GetNth(1)->IndexOf(), 1u);

    CKzList none(static_cast<void*>(nullptr), P(1), nullptr);
    EXPECT_EQ(none.GetCount(), 0u);

    void* items[] = {P(4), P(5)};
    CKzList fromArray(2u, items);
    EXPECT_EQ(Values(fromArray), (VI{4, 5}));
    CKzList fromNull(3u, nullptr);
    EXPECT_EQ(fromNull.GetCount(), 0u);
}

TEST(CKzList, InsertPositions)
{
    struct Case {
        VI start;
        unsigned at;
        VI want;
    } cases[] = {
        {{1, 2}, 5, {9, 1, 2}},  // beyond the count: at the front
        {{1, 2}, 2, {1, 2, 9}},  // the count: appended
        {{1, 2}, 1, {1, 9, 2}},
        {{1, 2}, 0, {9, 1, 2}},
        {{}, 0, {9}},
        {{}, 3, {9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at);
        CKzList l;
        for (int v : c.start) l.Append(P(v));
        ASSERT_NE(l.Insert(c.at, P(9)), nullptr);
        EXPECT_EQ(Values(l), c.want);
    }

    CKzList l;
    l.Insert(P(2));
    l.Insert(P(1));
    Node* three = l.Append(P(3));
    l.Insert(three, P(7));
    l.Insert(static_cast<Node*>(nullptr), P(0));
    EXPECT_EQ(Values(l), (VI{0, 1, 2, 7, 3}));
    EXPECT_EQ(l.IndexOf(P(7)), 3);
    EXPECT_EQ(l.IndexOf(P(8)), KZ_ERR_FAILED);
}

TEST(CKzList, KeysAndFind)
{
    CKzList ints(eKzKeyTypeInt);
    Key seven(7), eight(8);
    ints.Append(seven, P(7));
    Node* n8 = ints.Append(eight, P(8));
    EXPECT_EQ(ints.Find(Key(7))->GetData(), P(7));
    EXPECT_EQ(ints.Find(Key(8)), n8);
    EXPECT_EQ(ints.Find(Key(9)), nullptr);
    EXPECT_EQ(ints.Find(P(8)), n8);
    EXPECT_EQ(ints.Find(P(1)), nullptr);

    CKzList texts(eKzKeyTypeText);
    Key a(L"alpha"), b(L"beta");
    texts.Append(a, P(1));
    texts.Append(b, P(2));
    const std::wstring wanted = L"beta";  // an equal text at another address
    EXPECT_EQ(texts.Find(Key(wanted.c_str()))->GetData(), P(2));
    EXPECT_EQ(texts.Find(Key(L"Beta")), nullptr);
    EXPECT_EQ(Key(static_cast<const wchar_t*>(nullptr)).GetText().GetLength(), 0);

    // SetKey copies the value of the key's own type; the type stays
    Key k(1);
    k.SetKey(Key(5));
    EXPECT_EQ(k.GetInt(), 5);
    k.SetKey(Key(L"x"));
    EXPECT_EQ(k.GetKeyType(), eKzKeyTypeInt);
    EXPECT_EQ(k.GetInt(), 0);  // the text key's integer
    Key t(L"old");
    t.SetKey(Key(L"new"));
    EXPECT_TRUE(t == Key(L"new"));
    t.SetKey(Key(3));
    EXPECT_EQ(t.GetKeyType(), eKzKeyTypeText);
    EXPECT_EQ(t.GetText().GetLength(), 0);
    Key none;
    none.SetKey(Key(4));
    EXPECT_EQ(none.GetInt(), 0);

    n8->SetNodeKey(Key(80));
    EXPECT_EQ(ints.Find(Key(80)), n8);
    EXPECT_EQ(ints.Find(Key(8)), nullptr);
}

TEST(CKzList, DetachDeleteAndNodeDestruction)
{
    CKzList l(P(1), P(2), P(3), P(4), nullptr);
    Node* two = l.GetNth(1);
    EXPECT_EQ(l.DetachNode(two), two);
    EXPECT_EQ(Values(l), (VI{1, 3, 4}));
    EXPECT_EQ(two->GetList(), nullptr);
    EXPECT_EQ(l.GetData(two), nullptr);
    delete two;  // leaves the list as the detach left it
    EXPECT_EQ(Values(l), (VI{1, 3, 4}));

    EXPECT_TRUE(l.DeleteNode(l.GetFirst()));
    EXPECT_TRUE(l.DeleteNode(l.GetLast()));
    EXPECT_EQ(Values(l), (VI{3}));
    delete l.GetFirst();  // a node still in its list detaches itself
    EXPECT_EQ(Values(l), VI{});
    EXPECT_EQ(l.GetFirst(), nullptr);
    EXPECT_EQ(l.GetLast(), nullptr);
    EXPECT_EQ(l.DetachNode(nullptr), nullptr);
    EXPECT_FALSE(l.DeleteNode(nullptr));
}

// A node of another list is refused by every operation that takes a node.
TEST(CKzList, ForeignNodeIsRefused)
{
    CKzList a(P(1), P(2), nullptr), b(P(3), nullptr);
    Node* foreign = b.GetFirst();
    EXPECT_EQ(a.DetachNode(foreign), nullptr);
    EXPECT_FALSE(a.DeleteNode(foreign));
    EXPECT_EQ(a.Insert(foreign, P(9)), nullptr);
    EXPECT_EQ(a.GetData(foreign), nullptr);
    EXPECT_EQ(b.GetData(foreign), P(3));
    EXPECT_EQ(Values(a), (VI{1, 2}));
    EXPECT_EQ(Values(b), (VI{3}));
    EXPECT_EQ(foreign->GetList(), &b);

    Node* loose = b.DetachNode(foreign);
    EXPECT_EQ(a.DetachNode(loose), nullptr);
    EXPECT_EQ(b.DetachNode(loose), nullptr);  // no longer in any list
    delete loose;
}

TEST(CKzList, SortKeepsKeysWithNodes)
{
    CKzList l(eKzKeyTypeInt);
    const int order[] = {5, 3, 9, 1, 7, 3};
    for (int i = 0; i < 6; ++i) {
        Key k(100 + i);
        l.Append(k, P(order[i]));
    }
    l.Sort(ByValue);
    EXPECT_EQ(Values(l), (VI{1, 3, 3, 5, 7, 9}));
    int i = 0;
    for (Node* n = l.GetFirst(); n; n = n->GetNext(), ++i) EXPECT_EQ(n->GetNodeKey().GetInt(), 100 + i);
    g_seen.clear();
    l.ForEach(Record);
    EXPECT_EQ(g_seen, (VI{1, 3, 3, 5, 7, 9}));
    l.Sort(ByValueDesc);
    EXPECT_EQ(Values(l), (VI{9, 7, 5, 3, 3, 1}));

    // an inconsistent comparison only scrambles the order
    CKzList big;
    for (int k = 0; k < 200; ++k) big.Append(P(k % 10));
    big.Sort(Liar);
    EXPECT_EQ(big.GetCount(), 200u);
    int sum = 0;
    for (Node* n = big.GetFirst(); n; n = n->GetNext()) sum += V(n->GetData());
    EXPECT_EQ(sum, 20 * 45);

    CKzList one(P(4), nullptr);
    one.Sort(ByValue);
    one.Sort(nullptr);
    EXPECT_EQ(Values(one), (VI{4}));
}

TEST(CKzList, FirstThatLastThat)
{
    CKzList l(P(2), P(3), P(4), P(5), P(6), nullptr);
    EXPECT_EQ(l.FirstThat(IsOdd), P(3));
    EXPECT_EQ(l.LastThat(IsOdd), P(5));
    CKzList even(P(2), P(4), nullptr);
    EXPECT_EQ(even.FirstThat(IsOdd), nullptr);
    EXPECT_EQ(even.LastThat(IsOdd), nullptr);
    EXPECT_EQ(l.FirstThat(nullptr), nullptr);
    l.ForEach(nullptr);
}

TEST(CKzList, CopyAssignAndSelfAssign)
{
    CKzList a(eKzKeyTypeText);
    Key x(L"x"), y(L"y");
    a.Append(x, P(1));
    a.Append(y, P(2));

    CKzList b(a);  // copies keys and data pointers, not the data
    EXPECT_EQ(b.GetKeyType(), eKzKeyTypeText);
    EXPECT_EQ(Values(b), (VI{1, 2}));
    EXPECT_EQ(b.Find(Key(L"y"))->GetData(), P(2));
    EXPECT_NE(b.GetFirst(), a.GetFirst());
    EXPECT_EQ(b[0], a[0]);

    CKzList c(P(7), P(8), P(9), nullptr);
    c = a;
    EXPECT_EQ(Values(c), (VI{1, 2}));
    EXPECT_EQ(c.GetKeyType(), eKzKeyTypeText);

    CKzList& self = c;
    c = self;
    EXPECT_EQ(Values(c), (VI{1, 2}));
    c.Set(c);
    EXPECT_EQ(Values(c), (VI{1, 2}));
    EXPECT_EQ(c.Find(Key(L"x"))->GetData(), P(1));

    c.Clear();
    EXPECT_EQ(c.GetCount(), 0u);
    EXPECT_EQ(c.GetKeyType(), eKzKeyTypeText);
}

TEST(CKzList, SetKeyTypeWarnsOnNonEmptyList)
{
    CKzList l;
    testing::internal::CaptureStdout();
    l.SetKeyType(eKzKeyTypeInt);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    l.Append(P(1));
    testing::internal::CaptureStdout();
    l.SetKeyType(eKzKeyTypeText);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFailure! File: gnr_system/CKzList, line: 348\n");
    EXPECT_EQ(l.GetKeyType(), eKzKeyTypeText);
}

TEST(CKzList, EmptyListExists)
{
    EXPECT_EQ(g_EmptyList.GetCount(), 0u);
    EXPECT_EQ(g_EmptyList.GetKeyType(), eKzKeyTypeNone);
    EXPECT_EQ(g_EmptyList.GetFirst(), nullptr);
}
