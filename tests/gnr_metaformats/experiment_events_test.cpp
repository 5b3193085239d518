// Experiment events and the event log.
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "experiment_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace exptest;

namespace {

typedef SKzExperimentEvent Ev;
typedef SKzExperimentRecord Log;

// An event that owns what it holds and frees it on scope exit.
struct Held {
    Ev e;
    Held(double t = 0, kz_uint32 m = 0, const wchar_t* d = nullptr, const wchar_t* a = nullptr, kz_uint32 id = 0)
    {
        Ev::Init(e, t, (Ev::EMeaning)m, d, a, id);
        e.uiReserved[0] = e.uiReserved[1] = 0;
    }
    ~Held() { Ev::Free(e); }
};

std::wstring text(const wchar_t* p) { return p ? std::wstring(p) : std::wstring(L"<null>"); }

std::vector<double> times(const Log& l)
{
    std::vector<double> t;
    for (u32 i = 0; i < l.uiCount; ++i) t.push_back(l.pFirstEvent[i].dTime);
    return t;
}

std::vector<u32> ids(const Log& l)
{
    std::vector<u32> t;
    for (u32 i = 0; i < l.uiCount; ++i) t.push_back(l.pFirstEvent[i].uiID);
    return t;
}

void add(Log& l, std::initializer_list<double> ts)
{
    for (double t : ts) {
        Held h(t);
        Log::AddEvent(l, h.e, nullptr);
    }
}

Bytes eventLite(const Ev& e)
{
    return LiteBlob([&](CKzLiteVariantW& w) { EXPECT_EQ(0, Ev::SaveToLiteVariant(w, e)); });
}

CKzVariant eventVariant(const Ev& e)
{
    CKzVariant v;
    EXPECT_EQ(0, Ev::SaveToVariant(v, e));
    return v;
}

} // namespace

TEST(ExperimentEvent, MeaningTablesAndLookups)
{
    struct Row {
        unsigned m;
        const wchar_t* text;
        unsigned colour;
    };
    const Row rows[] = {
        {0, L"Unknown", 0x888888},
        {1, L"Autofocus", 0xA4D498},
        {2, L"User 1 old", 0xED1C24},
        {3, L"User 2 old", 0xF66512},
        {4, L"User 3 old", 0xF7941D},
        {5, L"User 4 old", 0xFFF200},
        {6, L"Unknown", 0x88FFAA},
        {7, L"Command Executed", 0x66DD88},
        {8, L"Unknown", 0x44BB66},
        {9, L"Experiment Paused", 0x8822FF},
        {10, L"Experiment Resumed", 0x6600DD},
        {11, L"Experiment Stopped by User", 0x4400BB},
        {12, L"Unknown", 0x00DD00},
        {13, L"Next Phase Moved by User", 0x00BB00},
        {14, L"Experiment Paused for Refocusing", 0x008800},
        {15, L"Stimulation", 0xE4D400},
        {16, L"External Stimulation", 0},
        {33, L"User 1", 0xED1C24},
        {34, L"User 2", 0xF66512},
        {35, L"User 3", 0xF7941D},
        {36, L"User 4", 0xFFF200},
        {37, L"User 5", 0x88FFAA},
        {38, L"User 6", 0x66DD88},
        {39, L"User 7", 0x44BB66},
        {40, L"User 8", 0x8822FF},
        {41, L"Before Capture", 0},
        {42, L"After Capture", 0},
        {43, L"", 0},
        {44, L"No Acquisition Phase Start", 0x8822FF},
        {45, L"No Acquisition Phase End", 0x6600DD},
        {46, L"Hardware Error", 0xFF0000},
        {47, L"Q-STORM", 0xDDDD00},
        {48, L"Incubation Info", 0xBD8686},
        {49, L"Incubation Error", 0xFF0000},
        {50, L"Interactive Finish", 0x8822FF},
        {51, L"Pause Experiment", 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(std::wstring(r.text), Ev::_pDescription[r.m]) << r.m;
        EXPECT_EQ(r.colour, Ev::s_rgbBookmark[r.m]) << r.m;
        EXPECT_EQ(std::wstring(r.text), KzExperimentEventMeaningText(r.m));
        EXPECT_EQ(r.colour, KzExperimentEventMeaningColor(r.m));
    }
    for (unsigned m = 17; m <= 32; ++m) {
        EXPECT_EQ(Ev::_pDescription[17], Ev::_pDescription[m]);   // one shared empty text
        EXPECT_EQ(0, Ev::_pDescription[m][0]);
        EXPECT_EQ(0u, Ev::s_rgbBookmark[m]);
    }
    for (unsigned m : {52u, 1000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(std::wstring(), KzExperimentEventMeaningText(m));
        EXPECT_EQ(0u, KzExperimentEventMeaningColor(m));
    }
    const wchar_t* stim[] = {L"Stim. None", L"Stim. Sequential", L"Stim. Parallel",
                             L"Stim. Manual", L"Stim. Begin", L"Stim. End"};
    for (unsigned t = 0; t < 6; ++t) EXPECT_EQ(std::wstring(stim[t]), KzExperimentEventStimulationText(t));
    EXPECT_EQ(nullptr, KzExperimentEventStimulationText(6));

    Held h(0, 15);
    EXPECT_EQ(std::wstring(L"Stimulation"), KzExperimentEventText(h.e));
    Ev::SetStimulation(h.e, Ev::eStimParallel, 1, 2);
    EXPECT_EQ(std::wstring(L"Stim. Parallel"), KzExperimentEventText(h.e));
    h.e.pStimulation->eType = (Ev::EStimulationType)9;
    EXPECT_EQ(std::wstring(L"Stimulation"), KzExperimentEventText(h.e));
    h.e.eMeaning = Ev::eMeaningUser1;
    Ev::SetStimulation(h.e, Ev::eStimBegin, 0, 0);
    EXPECT_EQ(std::wstring(L"User 1"), KzExperimentEventText(h.e));
}

TEST(ExperimentEvent, TextsAbsentAndEmpty)
{
    Held none(1.0, 7);
    EXPECT_EQ(nullptr, none.e.wsDescription);
    EXPECT_EQ(nullptr, none.e.wsData);
    const CKzVariant v = eventVariant(none.e);
    EXPECT_EQ("RKzExperimentEvent", RT(v));
    EXPECT_EQ((std::vector<std::wstring>{L"dTime", L"eMeaning", L"wsDescription", L"wsData", L"uiID"}), ChildNames(v));
    EXPECT_EQ("CKzStringW", RT(v[L"wsDescription"]));
    EXPECT_EQ("kz_uint32", RT(v[L"eMeaning"]));
    Held back;
    EXPECT_EQ(0, Ev::LoadFromVariant(back.e, ThroughXML(v)));
    EXPECT_EQ(nullptr, back.e.wsDescription);
    EXPECT_EQ(nullptr, back.e.wsData);
    EXPECT_EQ(0.0, back.e.dTime2);

    // Init and assignment keep an empty text; the loaders turn it into none.
    Held empty(1.0, 7, L"", L"");
    ASSERT_NE(nullptr, empty.e.wsDescription);
    EXPECT_EQ(0, empty.e.wsDescription[0]);
    Held copy;
    copy.e = empty.e;
    ASSERT_NE(nullptr, copy.e.wsData);
    Held lite;
    CKzLiteVariantR r;
    OpenRoot(r, eventLite(empty.e));
    EXPECT_EQ(0, Ev::LoadFromLiteVariant(lite.e, r));
    EXPECT_EQ(nullptr, lite.e.wsDescription);
    EXPECT_EQ(nullptr, lite.e.wsData);
}

TEST(ExperimentEvent, LiteRecordsInOrder)
{
    Held h(2.5, 33, L"desc", L"data", 12);
    h.e.dTime2 = 3.5;
    Ev::SetStimulation(h.e, Ev::eStimManual, 4, 5);
    CKzLiteVariantR r;
    OpenRoot(r, eventLite(h.e));
    EXPECT_EQ((std::vector<std::wstring>{L"T", L"T2", L"M", L"D", L"A", L"I", L"S"}), RecordNames(r));
    Held plain(2.5, 33);
    OpenRoot(r, eventLite(plain.e));
    EXPECT_EQ((std::vector<std::wstring>{L"T", L"M", L"I"}), RecordNames(r));
}

TEST(ExperimentEvent, BothFormsRoundTrip)
{
    Held h(2.5, 48, L"d\x00e9sc <&>", L"\"data\"", 12);
    h.e.dTime2 = -1.25;
    Ev::SetStimulation(h.e, (Ev::EStimulationType)5, 0xFFFFFFFFu, 7);
    auto check = [&](const Ev& got) {
        EXPECT_EQ(2.5, got.dTime);
        EXPECT_EQ(-1.25, got.dTime2);
        EXPECT_EQ(48u, (unsigned)got.eMeaning);
        EXPECT_EQ(text(h.e.wsDescription), text(got.wsDescription));
        EXPECT_EQ(text(h.e.wsData), text(got.wsData));
        EXPECT_EQ(12u, got.uiID);
        ASSERT_NE(nullptr, got.pStimulation);
        EXPECT_EQ(5u, (unsigned)got.pStimulation->eType);
        EXPECT_EQ(0xFFFFFFFFu, got.pStimulation->uiLoopIdx);
        EXPECT_EQ(7u, got.pStimulation->uiPosition);
    };
    Held lite;
    CKzLiteVariantR r;
    OpenRoot(r, eventLite(h.e));
    EXPECT_EQ(0, Ev::LoadFromLiteVariant(lite.e, r));
    check(lite.e);
    Held var;
    const CKzVariant v = eventVariant(h.e);
    EXPECT_EQ("CKzListVariant", RT(v[L"pStimulation"]));
    EXPECT_EQ(0, Ev::LoadFromVariant(var.e, ThroughXML(v)));
    check(var.e);
}

TEST(ExperimentEvent, OlderUserMeaningsLoadAsCurrentOnes)
{
    // Both forms, and through the log: 2 to 5 are the older user meanings.
    struct {
        unsigned stored, loaded;
    } cases[] = {{2, 33}, {3, 34}, {4, 35}, {5, 36}, {1, 1}, {6, 6}, {33, 33}, {36, 36}, {51, 51}, {77, 77}};
    for (const auto& c : cases) {
        Held h(0, c.stored);
        Held a, b;
        CKzLiteVariantR r;
        OpenRoot(r, eventLite(h.e));
        EXPECT_EQ(0, Ev::LoadFromLiteVariant(a.e, r));
        EXPECT_EQ(0, Ev::LoadFromVariant(b.e, ThroughXML(eventVariant(h.e))));
        EXPECT_EQ(c.loaded, (unsigned)a.e.eMeaning) << "lite " << c.stored;
        EXPECT_EQ(c.loaded, (unsigned)b.e.eMeaning) << "variant " << c.stored;

        Log src, lite, var;
        Log::AddEvent(src, h.e, nullptr);
        const Bytes blob = LiteBlob([&](CKzLiteVariantW& w) { EXPECT_EQ(0, Log::SaveToLiteVariant(w, src)); });
        OpenRoot(r, blob);
        EXPECT_EQ(0, Log::LoadFromLiteVariant(lite, r));
        CKzVariant sv;
        EXPECT_EQ(0, Log::SaveToVariant(sv, src));
        EXPECT_EQ(0, Log::LoadFromVariant(var, ThroughXML(sv)));
        ASSERT_EQ(1u, lite.uiCount);
        ASSERT_EQ(1u, var.uiCount);
        EXPECT_EQ(c.loaded, (unsigned)lite.pFirstEvent[0].eMeaning) << "lite log " << c.stored;
        EXPECT_EQ(c.loaded, (unsigned)var.pFirstEvent[0].eMeaning) << "variant log " << c.stored;
        // Saving writes the meaning as it is held.
        EXPECT_EQ(c.stored, (unsigned)src.pFirstEvent[0].eMeaning);
    }
}

TEST(ExperimentEvent, StimulationDefaultsAndRemoval)
{
    // A level "S" without records and a list without the named children.
    const Bytes b = LiteBlob([](CKzLiteVariantW& w) {
        w.Set(L"x", L"A");
        w.LevelBegin(L"S");
        w.LevelEnd();
    });
    Held lite;
    CKzLiteVariantR r;
    OpenRoot(r, b);
    Ev::LoadFromLiteVariant(lite.e, r);
    ASSERT_NE(nullptr, lite.e.pStimulation);
    EXPECT_EQ(Ev::eStimSequential, lite.e.pStimulation->eType);
    EXPECT_EQ(0u, lite.e.pStimulation->uiLoopIdx);
    EXPECT_EQ(std::wstring(L"x"), text(lite.e.wsData));
    EXPECT_EQ(nullptr, lite.e.wsDescription);

    CKzVariant v;
    v.EnableTypeChange(true);
    v.SetRunType(CKzVariantRunType("RKzExperimentEvent"));
    // Members of a structure node are added by name (Append would make it a plain list).
    CKzVariant& stim = v[L"pStimulation"];
    stim.EnableTypeChange(true);
    stim = CKzListVariant();
    stim.Append(CKzVariant(4u, CKzStringW(L"other")));
    Held var;
    EXPECT_EQ(0, Ev::LoadFromVariant(var.e, v));
    ASSERT_NE(nullptr, var.e.pStimulation);
    EXPECT_EQ(Ev::eStimSequential, var.e.pStimulation->eType);
    EXPECT_EQ(0u, var.e.pStimulation->uiPosition);

    // An empty list means none.
    CKzVariant w2;
    w2.EnableTypeChange(true);
    w2.SetRunType(CKzVariantRunType("RKzExperimentEvent"));
    w2[L"pStimulation"].EnableTypeChange(true);
    w2[L"pStimulation"] = CKzListVariant();
    Held none;
    Ev::LoadFromVariant(none.e, w2);
    EXPECT_EQ(nullptr, none.e.pStimulation);

    Held h;
    EXPECT_EQ(0, Ev::SetStimulation(h.e, Ev::eStimNone, 3, 3));
    EXPECT_EQ(nullptr, h.e.pStimulation);
    Ev::SetStimulation(h.e, Ev::eStimEnd, 3, 4);
    ASSERT_NE(nullptr, h.e.pStimulation);
    Ev::SetStimulation(h.e, Ev::eStimBegin, 5, 6);
    EXPECT_EQ(Ev::eStimBegin, h.e.pStimulation->eType);
    EXPECT_EQ(6u, h.e.pStimulation->uiPosition);
    Ev::SetStimulation(h.e, Ev::eStimNone, 0, 0);
    EXPECT_EQ(nullptr, h.e.pStimulation);

    EXPECT_EQ(-9, Ev::SKzStimulationDescription::LoadFromVariant(nullptr, v));
    EXPECT_EQ(-9, Ev::SKzStimulationDescription::LoadFromLiteVariant(nullptr, r));
}

TEST(ExperimentEvent, WrongRunTypeLeavesTheEventAlone)
{
    Held h(4.0, 9, L"keep", nullptr, 3);
    for (const char* rt : {"RKzExperimentRecord", "CKzListVariant"}) {
        CKzVariant v;
        v.EnableTypeChange(true);
        v.SetRunType(CKzVariantRunType(rt));
        v[L"dTime"] = 1.0;
        ASSERT_EQ(std::string(rt), RT(v));
        EXPECT_EQ(-4, Ev::LoadFromVariant(h.e, v));
        EXPECT_EQ(4.0, h.e.dTime);
        EXPECT_EQ(std::wstring(L"keep"), text(h.e.wsDescription));
    }
}

TEST(ExperimentEvent, AssignmentAndFree)
{
    Held a(1, 46, L"desc", L"data", 8);
    a.e.dTime2 = 2;
    a.e.uiReserved[0] = 11;
    a.e.uiReserved[1] = 12;
    Ev::SetStimulation(a.e, Ev::eStimParallel, 1, 2);
    Held b(9, 1, L"old", L"old", 1);
    b.e = a.e;
    EXPECT_EQ(std::wstring(L"desc"), text(b.e.wsDescription));
    EXPECT_NE(a.e.wsDescription, b.e.wsDescription);
    ASSERT_NE(nullptr, b.e.pStimulation);
    EXPECT_NE(a.e.pStimulation, b.e.pStimulation);
    EXPECT_EQ(12u, b.e.uiReserved[1]);
    EXPECT_EQ(8u, b.e.uiID);
    b.e = b.e;
    EXPECT_EQ(std::wstring(L"data"), text(b.e.wsData));
    Ev::SetDescription(b.e, b.e.wsData, nullptr);   // a text replaced by itself
    EXPECT_EQ(std::wstring(L"data"), text(b.e.wsDescription));
    EXPECT_EQ(nullptr, b.e.wsData);
    Ev::Free(b.e);
    EXPECT_EQ(nullptr, b.e.pStimulation);
    EXPECT_EQ(0.0, b.e.dTime);
    EXPECT_EQ(0u, b.e.uiID);
    EXPECT_EQ(12u, b.e.uiReserved[1]);
}

TEST(ExperimentEvent, CompareOrdersNaNLast)
{
    Held a(1), b(1), c(2), n(std::nan(""));
    EXPECT_EQ(0, ExperimentEventCompare(&a.e, &b.e));
    EXPECT_EQ(-1, ExperimentEventCompare(&a.e, &c.e));
    EXPECT_EQ(1, ExperimentEventCompare(&c.e, &a.e));
    EXPECT_EQ(1, ExperimentEventCompare(&n.e, &a.e));
    EXPECT_EQ(-1, ExperimentEventCompare(&a.e, &n.e));
    EXPECT_EQ(0, ExperimentEventCompare(&n.e, &n.e));
    std::vector<Ev> v(40);
    std::mt19937 g(3);
    for (size_t i = 0; i < v.size(); ++i) {
        v[i] = Ev();
        v[i].dTime = i % 7 == 0 ? std::nan("") : (double)(g() % 10);
    }
    std::qsort(v.data(), v.size(), sizeof(Ev), ExperimentEventCompare);
    size_t firstNan = 0;
    while (firstNan < v.size() && !std::isnan(v[firstNan].dTime)) ++firstNan;
    for (size_t i = firstNan; i < v.size(); ++i) EXPECT_TRUE(std::isnan(v[i].dTime));
    for (size_t i = 1; i < firstNan; ++i) EXPECT_LE(v[i - 1].dTime, v[i].dTime);
}

// ---------------------------------------------------------------------------
// Event log
// ---------------------------------------------------------------------------

TEST(ExperimentLog, AddEventNumbersAndOrders)
{
    Log l;
    Held h5(5), h1(1), h3(3);
    EXPECT_EQ(1u, Log::AddEvent(l, h5.e, nullptr));
    u32 idx = 9;
    EXPECT_EQ(2u, Log::AddEvent(l, h1.e, &idx));
    EXPECT_EQ(0u, idx);
    EXPECT_EQ(3u, Log::AddEvent(l, h3.e, &idx));
    EXPECT_EQ(1u, idx);
    EXPECT_EQ((std::vector<double>{1, 3, 5}), times(l));
    EXPECT_EQ((std::vector<u32>{2, 3, 1}), ids(l));
    EXPECT_EQ(3u, l.uiLastID);

    // Equal times with the caller's ID 0: before earlier equals, after the last.
    Log m;
    add(m, {1, 2, 2, 4});   // IDs 1..4
    Held two(2), four(4);
    Log::AddEvent(m, two.e, &idx);
    EXPECT_EQ(1u, idx);
    Log::AddEvent(m, four.e, &idx);
    EXPECT_EQ(5u, idx);
    EXPECT_EQ((std::vector<u32>{1, 5, 2, 3, 4, 6}), ids(m));
    // A caller's ID above every stored one goes after the equal times.
    Held late(2, 0, nullptr, nullptr, 100);
    Log::AddEvent(m, late.e, &idx);
    EXPECT_EQ(4u, idx);
    EXPECT_EQ(7u, m.pFirstEvent[4].uiID);
    EXPECT_EQ(100u, late.e.uiID);   // the event passed in is not changed
}

TEST(ExperimentLog, GrowsInBlocksOf64)
{
    Log l;
    for (int i = 0; i < 64; ++i) {
        std::wstring d = L"event " + std::to_wstring(i);
        Held h(i, 33, d.c_str());
        Log::AddEvent(l, h.e, nullptr);
    }
    Held h(100);
    EXPECT_EQ(65u, Log::AddEvent(l, h.e, nullptr));
    EXPECT_EQ(65u, l.uiCount);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ((double)i, l.pFirstEvent[i].dTime);
        EXPECT_EQ(L"event " + std::to_wstring(i), text(l.pFirstEvent[i].wsDescription));
    }
}

TEST(ExperimentLog, TimeSearches)
{
    Log l;
    add(l, {1, 2, 2, 4});
    struct Case {
        double t;
        u32 first;
        int prev;   // -1: none
    } cases[] = {{2, 1, 0}, {3, 3, 2}, {9, 3, 3}, {0, 0, -1}, {1, 0, -1}, {4, 3, 2}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.first, Log::FindFirst(l, c.t)) << c.t;
        u32 i = 77;
        const int r = Log::GetPrevious(l, c.t, &i);
        if (c.prev < 0) EXPECT_EQ(-9, r) << c.t;
        else EXPECT_EQ((u32)c.prev, i) << c.t;
    }
    Log n;
    add(n, {1, 2, 2.005, 4});
    struct Next {
        double t;
        int pos;
    } next[] = {{2, 2}, {1.5, 1}, {4, -1}, {0, 0}, {1.995, 2}, {3.5, 3}, {5, -1}};
    for (const Next& c : next) {
        u32 i = 77;
        const int r = Log::GetNext(n, c.t, &i);
        if (c.pos < 0) EXPECT_EQ(-9, r) << c.t;
        else {
            EXPECT_EQ(0, r) << c.t;
            EXPECT_EQ((u32)c.pos, i) << c.t;
        }
    }
    Log empty;
    u32 i;
    EXPECT_EQ(0u, Log::FindFirst(empty, 1));
    EXPECT_EQ(-9, Log::GetPrevious(empty, 1, &i));
    EXPECT_EQ(-9, Log::GetNext(empty, 1, &i));
}

TEST(ExperimentLog, CopyAndMergeByTime)
{
    for (bool merge : {false, true}) {
        SCOPED_TRACE(merge);
        Log dst, src;
        add(dst, {1, 3});
        {
            Held a(2, 0, L"two"), b(3, 0, L"three");
            Log::AddEvent(src, a.e, nullptr);
            Log::AddEvent(src, b.e, nullptr);
        }
        EXPECT_EQ(0, merge ? Log::Merge(dst, src) : Log::Copy(dst, src));
        EXPECT_EQ((std::vector<double>{1, 2, 3, 3}), times(dst));
        EXPECT_EQ((std::vector<u32>{1, 3, 2, 4}), ids(dst));
        EXPECT_EQ(4u, dst.uiLastID);
        EXPECT_EQ(std::wstring(L"three"), text(dst.pFirstEvent[3].wsDescription));
        if (merge) {
            EXPECT_EQ(0u, src.uiCount);
            EXPECT_EQ(0u, src.uiLastID);
            EXPECT_EQ(nullptr, src.pFirstEvent);
        } else {
            EXPECT_EQ(2u, src.uiCount);
            EXPECT_NE(src.pFirstEvent[0].wsDescription, dst.pFirstEvent[1].wsDescription);
        }
        EXPECT_EQ(0, Log::Copy(dst, dst));
        EXPECT_EQ(0, Log::Merge(dst, dst));
        EXPECT_EQ(4u, dst.uiCount);
    }
    // Into an empty log: a copy numbered on from the destination's last ID.
    Log dst, src;
    add(src, {5, 6});
    dst.uiLastID = 10;
    Log::Copy(dst, src);
    EXPECT_EQ((std::vector<u32>{11, 12}), ids(dst));
}

TEST(ExperimentLog, LookupsAndEdits)
{
    Log l;
    add(l, {1, 2, 3});
    Held got;
    EXPECT_EQ(1, Log::GetEvent(l, 2, &got.e));
    EXPECT_EQ(2.0, got.e.dTime);
    EXPECT_EQ(-13, Log::GetEvent(l, 9, &got.e));
    EXPECT_EQ(2, Log::GetEvent(l, 3, nullptr));
    u32 i;
    EXPECT_TRUE(Log::FindEvent(l, 1, &i));
    EXPECT_EQ(0u, i);
    EXPECT_FALSE(Log::FindEvent(l, 4, &i));
    Held repl(10, 7, L"moved", nullptr, 2);
    EXPECT_EQ(0, Log::SetEvent(l, 2, repl.e));
    EXPECT_EQ((std::vector<double>{1, 10, 3}), times(l));   // position kept
    EXPECT_EQ(-13, Log::SetEvent(l, 8, repl.e));
    EXPECT_EQ(-13, Log::RemoveEvent(l, 8));
    EXPECT_EQ(0, Log::RemoveEvent(l, 3));
    EXPECT_EQ(3u, l.uiLastID);   // kept while events remain
    EXPECT_EQ(0, Log::RemoveEvent(l, 1));
    EXPECT_EQ(0, Log::RemoveEvent(l, 2));
    EXPECT_EQ(0u, l.uiLastID);
    Held h(1);
    EXPECT_EQ(1u, Log::AddEvent(l, h.e, nullptr));
}

TEST(ExperimentLog, VariantFormSortsAndRenumbers)
{
    // Stored out of time order, with stored IDs that are ignored.
    CKzVariant v;
    v.EnableTypeChange(true);
    v.SetRunType(CKzVariantRunType("RKzExperimentRecord"));
    CKzVariant& list = v[L"pFirstEvent"];
    list.EnableTypeChange(true);
    list = CKzListVariant();
    for (double t : {3.0, 1.0, 2.0}) {
        Held h(t, 33, nullptr, nullptr, 50);
        CKzVariant e;
        Ev::SaveToVariant(e, h.e);
        list.Append(e);
    }
    list.Append(CKzVariant(1.0, CKzStringW(L"not an event")));
    Log l;
    EXPECT_EQ(0, Log::LoadFromVariant(l, ThroughXML(v)));
    EXPECT_EQ((std::vector<double>{1, 2, 3}), times(l));
    EXPECT_EQ((std::vector<u32>{2, 3, 1}), ids(l));

    // Saved and read back through XML, an empty log included.
    for (int n : {0, 5}) {
        Log src;
        for (int i = 0; i < n; ++i) {
            Held h(i * 0.5, 40 + i, L"d", i % 2 ? L"a" : nullptr);
            if (i == 3) Ev::SetStimulation(h.e, Ev::eStimEnd, 1, 1);
            Log::AddEvent(src, h.e, nullptr);
        }
        CKzVariant sv;
        EXPECT_EQ(0, Log::SaveToVariant(sv, src));
        EXPECT_EQ("RKzExperimentRecord", RT(sv));
        EXPECT_EQ("CKzListVariant", RT(sv[L"pFirstEvent"]));
        Log back;
        EXPECT_EQ(0, Log::LoadFromVariant(back, ThroughXML(sv)));
        ASSERT_EQ((u32)n, back.uiCount);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(src.pFirstEvent[i].dTime, back.pFirstEvent[i].dTime);
            EXPECT_EQ(src.pFirstEvent[i].eMeaning, back.pFirstEvent[i].eMeaning);
            EXPECT_EQ(text(src.pFirstEvent[i].wsData), text(back.pFirstEvent[i].wsData));
            EXPECT_EQ(src.pFirstEvent[i].pStimulation != nullptr, back.pFirstEvent[i].pStimulation != nullptr);
        }
    }

    Log l2;
    CKzVariant wrong;
    wrong.EnableTypeChange(true);
    wrong.SetRunType(CKzVariantRunType("RKzExperimentEvent"));
    EXPECT_EQ(-4, Log::LoadFromVariant(l2, wrong));
    CKzVariant noList;
    noList.EnableTypeChange(true);
    noList.SetRunType(CKzVariantRunType("RKzExperimentRecord"));
    ASSERT_EQ(0, noList.GetCount());
    EXPECT_EQ(-4, Log::LoadFromVariant(l2, noList));
    noList[L"pFirstEvent"] = 1;
    ASSERT_EQ("RKzExperimentRecord", RT(noList));
    EXPECT_EQ(-4, Log::LoadFromVariant(l2, noList));
    EXPECT_EQ(0u, l2.uiCount);
}

TEST(ExperimentLog, LiteFormKeepsStoredOrderAndIDs)
{
    const Bytes b = LiteBlob([](CKzLiteVariantW& w) {
        w.LevelBegin(L"RKzExperimentRecord");
        w.Set(3u, L"uiCount");
        w.LevelBegin(L"pEvents");
        for (auto te : std::initializer_list<std::pair<double, u32>>{{5, 9}, {1, 4}, {3, 12}}) {
            w.LevelBegin(L"");
            w.Set(te.first, L"T");
            w.Set(te.second, L"I");
            w.LevelEnd();
        }
        w.LevelEnd();
        w.LevelEnd();
    });
    Log l;
    CKzLiteVariantR r;
    OpenRoot(r, b);
    EXPECT_EQ(0, Log::LoadFromLiteVariant(l, r));
    EXPECT_EQ((std::vector<double>{5, 1, 3}), times(l));
    EXPECT_EQ((std::vector<u32>{9, 4, 12}), ids(l));
    EXPECT_EQ(12u, l.uiLastID);

    // Round trip of a log written by the saver.
    Log src;
    for (int i = 0; i < 70; ++i) {
        Held h(i % 9, i % 52, i % 3 ? L"d" : nullptr, L"a");
        Log::AddEvent(src, h.e, nullptr);
    }
    const Bytes c = LiteBlob([&](CKzLiteVariantW& w) { EXPECT_EQ(0, Log::SaveToLiteVariant(w, src)); });
    Log back;
    OpenRoot(r, c);
    EXPECT_EQ(0, Log::LoadFromLiteVariant(back, r));
    EXPECT_EQ(times(src), times(back));
    EXPECT_EQ(ids(src), ids(back));
    EXPECT_EQ(70u, back.uiLastID);
    for (u32 i = 0; i < 70; ++i) EXPECT_EQ(text(src.pFirstEvent[i].wsDescription), text(back.pFirstEvent[i].wsDescription));

    OpenRoot(r, LiteBlob([](CKzLiteVariantW& w) { w.Set(1u, L"uiCount"); }));
    EXPECT_EQ(-9, Log::LoadFromLiteVariant(back, r));
    EXPECT_EQ(70u, back.uiCount);
}

TEST(ExperimentLog, StoredCountAboveStoredEvents)
{
    struct Case {
        u32 count;
        int levels;
        bool breakWithValue;
        u32 expect;
    } cases[] = {{100, 2, false, 2}, {0x80000000u, 1, false, 1}, {1, 3, false, 1}, {5, 3, true, 1}, {0, 2, false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        const Bytes b = LiteBlob([&](CKzLiteVariantW& w) {
            w.LevelBegin(L"RKzExperimentRecord");
            w.Set(c.count, L"uiCount");
            w.LevelBegin(L"pEvents");
            for (int i = 0; i < c.levels; ++i) {
                if (c.breakWithValue && i == 1) w.Set(1.0, L"T");
                w.LevelBegin(L"");
                w.Set((double)i, L"T");
                w.Set((u32)i + 1, L"I");
                w.LevelEnd();
            }
            w.LevelEnd();
            w.LevelEnd();
        });
        Log l;
        CKzLiteVariantR r;
        OpenRoot(r, b);
        EXPECT_EQ(0, Log::LoadFromLiteVariant(l, r));
        ASSERT_EQ(c.expect, l.uiCount);
        EXPECT_EQ(c.expect, l.uiLastID);
        // The log goes on growing soundly past its first block.
        for (int i = 0; i < 70; ++i) {
            Held h(1000 + i);
            EXPECT_EQ(c.expect + 1 + i, Log::AddEvent(l, h.e, nullptr));
        }
        EXPECT_EQ(c.expect + 70, l.uiCount);
        EXPECT_EQ(1069.0, l.pFirstEvent[l.uiCount - 1].dTime);
    }
}

TEST(ExperimentLog, RandomLogsAgreeWithLinearScans)
{
    std::mt19937 g(12345);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        Log l;
        std::vector<std::pair<double, u32>> ref;   // (time, id) in order
        const int n = 1 + (int)(g() % 150);
        for (int i = 0; i < n; ++i) {
            const double t = (double)(g() % 12) * 0.5;
            // The caller's ID decides among equal times: 0 (before them) or
            // above every identifier (after them).
            const u32 callerID = g() % 2 ? 0 : 0xFFFFFFF0u;
            size_t pos;
            if (ref.empty() || !(t < ref.back().first)) {
                pos = ref.size();
            } else {
                pos = 0;
                while (pos < ref.size() &&
                       (ref[pos].first < t || (ref[pos].first == t && ref[pos].second < callerID)))
                    ++pos;
            }
            Held h(t, 0, nullptr, nullptr, callerID);
            u32 idx;
            const u32 id = Log::AddEvent(l, h.e, &idx);
            ASSERT_EQ((u32)i + 1, id);
            ASSERT_EQ(pos, idx);
            ref.insert(ref.begin() + (long)pos, {t, id});
        }
        for (size_t i = 0; i < ref.size(); ++i) ASSERT_EQ(ref[i].second, l.pFirstEvent[i].uiID);
        for (int q = 0; q < 40; ++q) {
            const double t = (double)(g() % 30) * 0.25 - 0.5 + (g() % 3) * 0.004;
            size_t first = 0;
            while (first < ref.size() && ref[first].first < t) ++first;
            const u32 expFirst = first < ref.size() ? (u32)first : (u32)ref.size() - 1;
            EXPECT_EQ(expFirst, Log::FindFirst(l, t)) << t;
            u32 i = 0;
            const int prev = Log::GetPrevious(l, t, &i);
            if (first == 0) EXPECT_EQ(-9, prev);
            else {
                EXPECT_EQ(0, prev);
                EXPECT_EQ((u32)first - 1, i);
            }
            size_t next = expFirst;
            if (ref[next].first <= t + 0.01) ++next;
            const int nr = Log::GetNext(l, t, &i);
            if (next >= ref.size()) EXPECT_EQ(-9, nr) << t;
            else {
                EXPECT_EQ(0, nr) << t;
                EXPECT_EQ((u32)next, i) << t;
            }
        }
    }
}
