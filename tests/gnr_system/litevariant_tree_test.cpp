// Variant trees through the lite-variant form: writer, reader by name and by
// tree rebuild, plain, compressed and absolute-offset blobs.
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzVariant.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzSerializerXMLString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <pthread.h>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytesOf(const CKzLiteVariantR& r)
{
    return Bytes(r.GetData(), r.GetData() + r.GetSize());
}

void load(CKzLiteVariantR& r, const Bytes& b)
{
    r.Clear();
    r.SetData(b.data(), b.size(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    r.Reset();
}

Bytes compressed(const Bytes& plain)
{
    Bytes z(compressBound(plain.size()));
    uLongf zl = z.size();
    EXPECT_EQ(Z_OK, compress2(z.data(), &zl, plain.data(), plain.size(), 6));
    Bytes out = {'L', 'V', '0', 'Z'};
    uint64_t n = plain.size();
    for (int i = 0; i < 8; ++i) out.push_back((unsigned char)(n >> (8 * i)));
    out.insert(out.end(), z.begin(), z.begin() + zl);
    return out;
}

// Rewrites the level at off and every level reachable from it into the older
// form whose offsets count from the blob's start.
void toAbsolute(Bytes& b, uint64_t off)
{
    ASSERT_EQ(11, b[off]);
    uint64_t h = 2 + 2 * (uint64_t)b[off + 1];
    uint32_t k;
    uint64_t x;
    std::memcpy(&k, &b[off + h], 4);
    std::memcpy(&x, &b[off + h + 4], 8);
    for (uint32_t i = 0; i < k; ++i) {
        uint64_t e;
        std::memcpy(&e, &b[off + x + 8 * i], 8);
        if (b[off + e] == 11) toAbsolute(b, off + e);
        e += off;
        std::memcpy(&b[off + x + 8 * i], &e, 8);
    }
    x += off;
    std::memcpy(&b[off + h + 4], &x, 8);
    b[off] = 10;
}

CKzStringW randomText(std::mt19937& rng)
{
    static const wchar_t chars[] = L"abcXYZ 09<>\"&\xE9\x4E2D\x1F600\x10FFFF";
    CKzStringW s;
    int n = rng() % 12;
    for (int i = 0; i < n; ++i) s.AddChar(chars[rng() % (sizeof(chars) / sizeof(wchar_t) - 1)]);
    return s;
}

CKzVariant randomTree(std::mt19937& rng, const CKzStringW& name, int depth)
{
    CKzVariant v;
    v.SetName(name);
    int kind = depth >= 4 ? (int)(rng() % 9) : (int)(rng() % 11);
    switch (kind) {
    case 0: v = (int)rng(); break;
    case 1: v = (unsigned int)rng(); break;
    case 2: v = (long)(((uint64_t)rng() << 32) | rng()); break;
    case 3: v = (unsigned long)(((uint64_t)rng() << 32) | rng()); break;
    case 4: v = (double)(int)rng() / 7.0; break;
    case 5: v = (bool)(rng() & 1); break;
    case 6: v = (void*)(uintptr_t)rng(); break;
    case 7: v = randomText(rng); break;
    case 8: {
        CKzByteArray b(16);
        std::vector<unsigned char> raw(rng() % 40);
        for (auto& c : raw) c = (unsigned char)rng();
        if (!raw.empty()) b.SetData(raw.data(), raw.size(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
        v = b;
        break;
    }
    default: {
        v = CKzListVariant();
        int n = rng() % 7;
        for (int i = 0; i < n; ++i) {
            CKzStringW cn;
            cn.Format(L"c%d_%u", i, (unsigned)(rng() % 1000));
            v.Append(randomTree(rng, cn, depth + 1));
        }
        // Some lists are structures no host registered: they must come back
        // with their run-type name and their members in order.
        if (rng() % 3 == 0) {
            static const char* const names[] = {"RKzLiteRandomA", "RKzLiteRandomB.Inner"};
            v.GetData()->SetRunType(CKzVariantRunType(names[rng() % 2]));
        }
        break;
    }
    }
    return v;
}

// Run-type names of a tree in document order.
std::string runTypes(const CKzVariant& v)
{
    std::string s = v.GetRunType().GetNameA();
    for (int i = 0; i < v.GetCount(); ++i) s += " " + runTypes(v[i]);
    return s;
}

// Reads every member of v from the reader's current level by name, in a
// shuffled order (so most lookups go through the index).
void expectByName(CKzLiteVariantR& r, const CKzVariant& v, std::mt19937& rng)
{
    std::vector<int> order(v.GetCount());
    for (int i = 0; i < (int)order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    for (int i : order) {
        const CKzVariant& c = v[i];
        const wchar_t* n = c.GetName().GetString();
        SCOPED_TRACE(n);
        ASSERT_TRUE(r.IsValueSet(n));
        std::string rt = c.GetRunType().GetNameA();
        if (rt == "kz_int32") {
            EXPECT_EQ(c.GetKz_int32(), r.Get(n, (int)~c.GetKz_int32()));
        } else if (rt == "kz_uint32") {
            EXPECT_EQ(c.GetKz_uint32(), r.Get(n, ~c.GetKz_uint32()));
        } else if (rt == "kz_int64") {
            EXPECT_EQ(c.GetKz_int64(), r.Get(n, (long)~c.GetKz_int64()));
        } else if (rt == "kz_uint64") {
            EXPECT_EQ(c.GetKz_uint64(), r.Get(n, (unsigned long)~c.GetKz_uint64()));
        } else if (rt == "double") {
            EXPECT_EQ(c.GetDouble(), r.Get(n, -1e300));
        } else if (rt == "bool") {
            EXPECT_EQ(c.GetBool(), r.Get(n, !c.GetBool()));
        } else if (rt == "voidPtr") {
            EXPECT_EQ(c.GetVoidPtr(), r.Get(n, (void*)1));
        } else if (rt == "CKzStringW") {
            EXPECT_STREQ(c.GetCKzStringW().GetString(), r.Get(n, L"\x1"));
        } else if (rt == "CKzByteArray") {
            CKzByteArray b(16);
            ASSERT_EQ(0, r.Get(n, b));
            EXPECT_TRUE(b == c.GetCKzByteArray());
        } else {
            unsigned k = 99;
            ASSERT_EQ(0, r.LevelBegin(n, &k));
            const bool structure = rt != "CKzListVariant"; // its run type is one more record
            EXPECT_EQ((unsigned)c.GetCount() + (structure ? 1u : 0u), k);
            if (structure) EXPECT_STREQ(CKzStringW(rt.c_str()).GetString(), r.Get(L"__m_runType", L""));
            expectByName(r, c, rng);
            r.LevelEnd();
        }
    }
}

} // namespace

TEST(LiteVariantTree, WritingVariants)
{
    CKzLiteVariantW w;
    CKzLiteVariantR r, expect;
    CKzVariant list = CKzListVariant();
    list.SetName(L"L");
    list.Append(CKzVariant(5, L"x"));
    EXPECT_EQ(0, w.Set(list, nullptr));
    w.Finalize(r);
    w.LevelBegin(L"L");
    w.Set(5, L"x");
    w.Finalize(expect);
    EXPECT_EQ(bytesOf(expect), bytesOf(r)); // no "__m_runType" for a plain list

    CKzVariant undef;
    EXPECT_EQ(0, w.Set(undef, nullptr));
    w.Finalize(r);
    w.LevelBegin(L"no_name");
    w.Finalize(expect);
    EXPECT_EQ(bytesOf(expect), bytesOf(r));
    EXPECT_EQ(0, w.Set(undef, L""));
    w.Finalize(r);
    EXPECT_EQ(0u, r.GetSize());

    // A structure run type travels as the first record of its level, and a
    // registered one is applied again by the rebuild.
    CKzVariant sample = CKzListVariant();
    sample.SetName(L"RKzLiteTestPoint");
    sample.Append(CKzVariant(0.0, L"px"));
    sample.Append(CKzVariant(0.0, L"py"));
    CKzVariant::RegisterRunType(sample);
    CKzVariant s(CKzVariantRunType("RKzLiteTestPoint"), L"P");
    ASSERT_STREQ("RKzLiteTestPoint", s.GetRunType().GetNameA());
    s[L"py"] = 2.5;
    w.Set(s, nullptr);
    w.Finalize(r);
    ASSERT_EQ(0, r.LevelBegin(L"P"));
    wchar_t nm[32];
    ASSERT_EQ(0, r.GetCurrentName(nm, 31));
    EXPECT_STREQ(L"__m_runType", nm);
    EXPECT_STREQ(L"RKzLiteTestPoint", r.Get(L"__m_runType", L""));
    EXPECT_EQ(2.5, r.Get(L"py", 0.0));
    r.LevelEnd();
    CKzVariant back;
    ASSERT_EQ(0, r.GetCurrentValue(back));
    EXPECT_STREQ("RKzLiteTestPoint", back.GetRunType().GetNameA());
    EXPECT_TRUE(back == s);
}

TEST(LiteVariantTree, RebuildKeepsUnregisteredStructures)
{
    // A structure run type no host registered keeps its name and its members;
    // an unknown name that is not a structure leaves a plain list.
    struct Case { const wchar_t* stored; const char* expect; };
    const Case cases[] = {
        {L"RKzDateTime", "RKzDateTime"},
        {L"RKzLiteNever.Registered", "RKzLiteNever.Registered"},
        {L"SomethingElse", "CKzListVariant"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.stored)));
        CKzLiteVariantW w;
        CKzLiteVariantR r;
        w.LevelBegin(L"A");
        w.Set(c.stored, L"__m_runType");
        w.Set(12L, L"time");
        w.Set(1.5, L"a");
        w.Finalize(r);
        CKzVariant v;
        ASSERT_EQ(0, r.Get(L"A", v));
        EXPECT_EQ(0u, r.GetCurrentOffset()); // left on A
        EXPECT_STREQ(L"A", v.GetName().GetString());
        EXPECT_STREQ(c.expect, v.GetRunType().GetNameA());
        ASSERT_EQ(2, v.GetCount());
        EXPECT_STREQ(L"time", v[0].GetName().GetString());
        EXPECT_EQ(12L, v[0].GetKz_int64());
        EXPECT_STREQ(L"a", v[1].GetName().GetString());
        EXPECT_EQ(1.5, v[1].GetDouble());
    }

    // The saver's path: SetRunType of an unregistered structure, members
    // assigned by name (in an order unlike name order), a nested structure
    // and an empty one; writer then rebuild gives the same tree back.
    CKzVariant s;
    s.SetName(L"S");
    s.EnableTypeChange(true);
    s.SetRunType(CKzVariantRunType("RKzLiteUnregOuter"));
    ASSERT_STREQ("RKzLiteUnregOuter", s.GetRunType().GetNameA());
    s[L"zeta"] = 3;
    s[L"alpha"] = CKzStringW(L"t");
    CKzVariant& in = s[L"inner"];
    in.EnableTypeChange(true);
    ASSERT_EQ(0, in.SetRunType(CKzVariantRunType("RKzLiteUnregOuter.Inner")));
    in[L"y"] = 2.5;
    in[L"x"] = 1.5;
    CKzVariant& empty = s[L"none"];
    empty.EnableTypeChange(true);
    ASSERT_EQ(0, empty.SetRunType(CKzVariantRunType("RKzLiteUnregEmpty")));
    ASSERT_EQ(4, s.GetCount());
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    w.Set(s, nullptr);
    w.Finalize(r);
    CKzVariant back;
    ASSERT_EQ(0, r.GetCurrentValue(back));
    EXPECT_STREQ("RKzLiteUnregOuter", back.GetRunType().GetNameA());
    ASSERT_EQ(4, back.GetCount());
    const wchar_t* order[] = {L"zeta", L"alpha", L"inner", L"none"};
    for (int i = 0; i < 4; ++i) EXPECT_STREQ(order[i], back[i].GetName().GetString());
    EXPECT_STREQ("RKzLiteUnregOuter.Inner", back[2].GetRunType().GetNameA());
    EXPECT_STREQ(L"y", back[2][0].GetName().GetString());
    EXPECT_STREQ("RKzLiteUnregEmpty", back[3].GetRunType().GetNameA());
    EXPECT_EQ(0, back[3].GetCount());
    EXPECT_TRUE(back == s);
    EXPECT_EQ(0, CKzVariant::GetRunTypeIndex(CKzVariantRunType("RKzLiteUnregOuter"), true));
}

TEST(LiteVariantTree, RebuildMakesNamesSafe)
{
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    CKzVariant v;

    // Names are made XML-safe; an empty level is an empty list.
    w.LevelBegin(L"1 a");
    w.LevelBegin(L"e");
    w.Finalize(r);
    ASSERT_EQ(0, r.GetCurrentValue(v));
    EXPECT_STREQ(L"__a", v.GetName().GetString());
    ASSERT_EQ(1, v.GetCount());
    EXPECT_EQ(0, v[0].GetCount());
}

TEST(LiteVariantTree, RebuildStopsAtTheDepthCap)
{
    // Levels nested deeper than the cap: the rebuild keeps what lies above it.
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    const int depth = CKzLiteVariantR::MAX_DEPTH + 40;
    for (int i = 0; i < depth; ++i) w.LevelBegin(L"d");
    w.Finalize(r);
    CKzVariant v;
    ASSERT_EQ(0, r.GetCurrentValue(v));
    int levels = 0;
    const CKzVariant* p = &v;
    while (p && p->GetCount() >= 0) {
        ++levels;
        p = p->IndexPtr(0);
    }
    EXPECT_EQ(CKzLiteVariantR::MAX_DEPTH, levels);
    CKzStringW text;
    r.Reset();
    r.LiteVariantToXML(text); // bounded as well
    EXPECT_GT(text.GetLength(), 0);
}

TEST(LiteVariantTree, RandomTreesRoundTrip)
{
    std::mt19937 rng(2024);
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        CKzVariant tree = CKzListVariant();
        tree.SetName(L"Root");
        int n = 1 + rng() % 8;
        for (int i = 0; i < n; ++i) {
            CKzStringW cn;
            cn.Format(L"m%d", i);
            tree.Append(randomTree(rng, cn, 1));
        }
        CKzLiteVariantW w;
        CKzLiteVariantR r;
        ASSERT_EQ(0, w.Set(tree, nullptr));
        w.Finalize(r);
        Bytes plain = bytesOf(r);
        Bytes abs = plain;
        toAbsolute(abs, 0);
        const Bytes forms[] = {plain, compressed(plain), abs, compressed(abs)};
        for (const Bytes& form : forms) {
            load(r, form);
            CKzVariant back;
            ASSERT_EQ(0, r.GetCurrentValue(back));
            EXPECT_TRUE(back == tree);
            EXPECT_EQ(runTypes(tree), runTypes(back));
            EXPECT_STREQ(L"Root", back.GetName().GetString());
            EXPECT_EQ(plain, bytesOf(r)); // inflated and converted in place

            load(r, form);
            unsigned k = 0;
            ASSERT_EQ(0, r.LevelBegin(L"Root", &k));
            EXPECT_EQ((unsigned)n, k);
            expectByName(r, tree, rng);
            // And in written order, every member found at the cursor.
            r.FirstValue();
            for (int i = 0; i < n; ++i) {
                unsigned long off = 0;
                ASSERT_EQ(0, r.Find(tree[i].GetName().GetString(), off));
                EXPECT_EQ(r.GetCurrentOffset(), off);
                ASSERT_EQ(0, r.NextValue());
            }
            EXPECT_FALSE(r.IsNextValue());
        }
        // The tag text reads back into the same blob.
        load(r, plain);
        CKzStringW text;
        r.LiteVariantToXML(text);
        CKzLiteVariantR fromText;
        fromText.LiteVariantFromXML(text);
        CKzVariant back;
        ASSERT_EQ(0, fromText.GetCurrentValue(back));
        // Doubles print with limited precision and texts are not escaped;
        // trees without them come back equal.
        if (text.Find(L"double", 0) < 0 && text.Find(L"CKzStringW", 0) < 0) EXPECT_TRUE(back == tree);
    }
}

TEST(LiteVariantTree, RebuildIntoAFailedLookupChangesNothingShared)
{
    // Readers that fill the result of a failed lookup must leave the shared
    // undefined variant as it is.
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    w.LevelBegin(L"A");
    w.Set(L"RKzDateTime", L"__m_runType");
    w.Set(5, L"x");
    w.LevelBegin(L"B");
    w.Set(1.5, L"y");
    w.Finalize(r);
    CKzVariant list = CKzListVariant();
    EXPECT_EQ(0, r.Get(L"A", list[L"missing"]));
    r.Reset();
    EXPECT_EQ(0, r.GetCurrentValue(list[3]));
    EXPECT_TRUE(g_UndefVariant.IsUndefined());
    EXPECT_STREQ(L"no_name", g_UndefVariant.GetName().GetString());
    EXPECT_FALSE(g_UndefVariant.IsEnabledTypeChange());
    EXPECT_EQ(0, list.GetCount());
}

TEST(LiteVariantTree, UnregisteredStructureIsTheSameInEveryForm)
{
    // A saver's node for a structure no host registered: the copy, the XML
    // document and the lite form all keep its run-type name and members.
    CKzVariant v;
    v.SetName(L"Item");
    v.EnableTypeChange(true);
    ASSERT_EQ(0, v.SetRunType(CKzVariantRunType("RKzLiteFormsItem")));
    v[L"wavelength"] = 488.0;
    v[L"label"] = CKzStringW(L"GFP\t<1>");
    v[L"count"] = 3;
    CKzVariant& part = v[L"part"];
    part.EnableTypeChange(true);
    ASSERT_EQ(0, part.SetRunType(CKzVariantRunType("RKzLiteFormsItem.Part")));
    part[L"on"] = true;

    CKzStringA doc;
    CKzSerializerXMLString::VariantToDocument_UTF8(doc, v);
    const CKzVariant copy(v);
    CKzVariant fromXml;
    ASSERT_EQ(0, CKzSerializerXMLString::VariantFromXML_UTF8(fromXml, doc));
    for (const CKzVariant* x : {&copy, (const CKzVariant*)&fromXml}) {
        CKzLiteVariantW w;
        CKzLiteVariantR r;
        w.Set(*x, nullptr);
        w.Finalize(r);
        CKzVariant back;
        ASSERT_EQ(0, r.GetCurrentValue(back));
        CKzStringA again;
        CKzSerializerXMLString::VariantToDocument_UTF8(again, back);
        EXPECT_STREQ(doc.GetString(), again.GetString());
        EXPECT_EQ(runTypes(v), runTypes(back));
    }
    // Control: the structure name is really in the document.
    EXPECT_NE(nullptr, std::strstr(doc.GetString(), "<part runtype=\"RKzLiteFormsItem.Part\">"));

    // The same through a failed lookup's result: nothing shared changes.
    CKzVariant list = CKzListVariant();
    EXPECT_EQ(0, CKzSerializerXMLString::VariantFromXML_UTF8(list[L"missing"], doc));
    EXPECT_TRUE(g_UndefVariant.IsUndefined());
    EXPECT_STREQ(L"no_name", g_UndefVariant.GetName().GetString());
}

TEST(LiteVariantTree, RebuildKeepsEveryDoubleBitForBit)
{
    // Stored doubles come back unchanged, NaN included (a NaN is how an
    // unset measurement is often stored).
    const double nan = std::numeric_limits<double>::quiet_NaN();
    uint64_t payloadBits = 0x7FF8000000000123ull;
    double payloadNan;
    std::memcpy(&payloadNan, &payloadBits, 8);
    const double cases[] = {nan, -nan, payloadNan, std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(), -0.0, 4.9e-324, 1.0};
    for (double d : cases) {
        SCOPED_TRACE(d);
        CKzLiteVariantW w;
        CKzLiteVariantR r;
        w.LevelBegin(L"A");
        w.Set(d, L"d");
        w.Finalize(r);
        CKzVariant v;
        ASSERT_EQ(0, r.GetCurrentValue(v));
        ASSERT_EQ(1, v.GetCount());
        EXPECT_STREQ("double", v[0].GetRunType().GetNameA());
        const double back = v[0].GetDouble();
        EXPECT_EQ(0, std::memcmp(&back, &d, 8));
        // A value read on its own (at the root) as well.
        w.Set(d, L"d");
        w.Finalize(r);
        CKzVariant single(7);
        ASSERT_EQ(0, r.GetCurrentValue(single));
        const double back2 = single.GetDouble();
        EXPECT_EQ(0, std::memcmp(&back2, &d, 8));
    }
}

namespace {

struct DeepJob {
    int op;
    int result;
};

void* runDeepJob(void* p)
{
    DeepJob* job = static_cast<DeepJob*>(p);
    CKzLiteVariantW w;
    for (int i = 0; i < CKzLiteVariantR::MAX_DEPTH + 40; ++i) w.LevelBegin(L"d");
    CKzLiteVariantR r;
    w.Finalize(r);
    switch (job->op) {
    case 0: {
        CKzLiteVariantR other(r);
        other.Reset();
        r.Reset();
        r.Merge(other);
        break;
    }
    case 1: {
        CKzStringW text;
        r.Reset();
        r.LiteVariantToXML(text);
        break;
    }
    default: {
        CKzVariant v;
        r.Reset();
        r.GetCurrentValue(v);
        break;
    }
    }
    job->result = 1;
    return nullptr;
}

} // namespace

TEST(LiteVariantTree, DeepBlobsFitASmallThreadStack)
{
    // The walks over levels recurse up to the depth cap; a blob nested that
    // deep (a few kilobytes) must not exhaust the stack of a worker thread
    // of a host, which is often far smaller than the main thread's.
    const char* names[] = {"merge", "tag text", "tree rebuild"};
    for (int op = 0; op < 3; ++op) {
        SCOPED_TRACE(names[op]);
        DeepJob job{op, 0};
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        ASSERT_EQ(0, pthread_attr_setstacksize(&attr, 512 * 1024));
        pthread_t t;
        ASSERT_EQ(0, pthread_create(&t, &attr, runDeepJob, &job));
        pthread_join(t, nullptr);
        pthread_attr_destroy(&attr);
        EXPECT_EQ(1, job.result);
    }
}
