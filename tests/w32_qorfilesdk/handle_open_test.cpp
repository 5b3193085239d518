// The handle table and the open and close sequences of read handles.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <climits>
#include <cstdlib>
#include <thread>

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "w32_qorfilesdk/CKzBinaryMetadata.h"
#include "w32_qorfilesdk/internal/KzQorHandleInternal.h"
#include "w32_qorfilesdk/handle_test_support.h"

using namespace ht;

namespace {

typedef SKzQorFileHandle H;

SKzQorFileHandle* Record(int handle)
{
    SKzQorFileHandle* r = nullptr;
    H::GetInputFile(handle, &r);
    return r;
}

std::vector<double> Times(const CKzByteArray& a)
{
    std::vector<double> t(a.GetSize() / 8);
    if (!t.empty())
        std::memcpy(t.data(), a.GetData(), t.size() * 8);
    return t;
}

// Runs this test program again with only the named test and the variable
// set, so that the test sees a process in which no handle was made yet.
int RunInFreshProcess(const char* test)
{
    const std::string cmd = "VT5_QORHANDLE_CHILD=1 /proc/" + std::to_string(getpid()) +
                            "/exe --gtest_filter=" + test + " > /dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The exit code of a child whose checks all passed (a filter that matched
// no test would exit with 0).
constexpr int kChildPassed = 42;

bool InChild() { return std::getenv("VT5_QORHANDLE_CHILD") != nullptr; }

}  // namespace

// ---------------------------------------------------------------------------
// Both versions open with everything loaded

class HandleOpen : public testing::TestWithParam<int> {};

TEST_P(HandleOpen, LoadsEverythingTheWritersStored)
{
    FileSpec spec;
    spec.version = GetParam();
    const std::string path = TempName("all");
    WriteFile(path, spec);
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_GE(g.h, 1024);
    SKzQorFileHandle* rec = Record(g.h);
    ASSERT_NE(rec, nullptr);
    ASSERT_NE(rec->m_pInputFile, nullptr);
    EXPECT_EQ(rec->m_pOutputFile, nullptr);
    EXPECT_STREQ(rec->m_strFormatID.GetString(), "VTIMX");
    EXPECT_EQ(std::wstring(rec->m_wsFileName.GetString()), W(path));

    EXPECT_EQ(rec->m_Attributes.uiWidth, 8u);
    EXPECT_EQ(rec->m_Attributes.uiHeight, 6u);
    EXPECT_EQ(rec->m_Attributes.uiComp, 1u);
    EXPECT_EQ(rec->m_Attributes.uiSequenceCount, 6u);

    // Both versions store the experiment (version 2 as XML).
    ASSERT_NE(rec->m_pExperiment, nullptr);
    EXPECT_EQ(CKzExperimentAPI::GetExperimentCount(rec->m_pExperiment), 2u);
    EXPECT_EQ(rec->m_pExperiment->eType, SKzExperiment::eExpTimeLoop);
    EXPECT_EQ(CKzExperimentAPI::GetAllImagesCount(rec->m_pExperiment), 6u);

    ASSERT_NE(rec->m_pMetadata, nullptr);
    EXPECT_EQ(rec->m_pMetadata->dXPos, 11.0);
    EXPECT_EQ(rec->m_pMetadata->dObjectiveMag, 40.0);
    EXPECT_EQ(std::wstring(rec->m_pMetadata->wsObjectiveName.GetString()), L"Plan 40x");
    ASSERT_EQ(rec->m_pMetadata->sPicturePlanes.uiCount, 1u);
    EXPECT_EQ(std::wstring(rec->m_pMetadata->sPicturePlanes.pPlanes[0].sDescription.GetString()), L"Green");

    EXPECT_EQ(std::wstring(rec->m_TextInfo.wsText[0].GetString()), L"first text");
    EXPECT_EQ(std::wstring(rec->m_TextInfo.wsText[1].GetString()), L"Obj: Plan 40x");  // translated
    EXPECT_EQ(std::wstring(rec->m_TextInfo.wsText[13].GetString()), L"objective text");
    EXPECT_EQ(std::wstring(rec->m_TextInfo.wsText[14].GetString()), L"9.8.7");

    ASSERT_NE(rec->m_pBinaryMetadata, nullptr);
    ASSERT_EQ(rec->m_pBinaryMetadata->GetItemCount(), 2u);
    const CKzBinaryMetadata::SKzBinaryItem* b = rec->m_pBinaryMetadata->GetItem(1);
    EXPECT_EQ(b->uiState, 0x80000u);
    EXPECT_EQ(b->uiColor, 0x00FF01u);
    EXPECT_EQ(b->uiCompOrder, 1u);
    EXPECT_EQ(std::wstring(b->strName.GetString()), L"Nuclei");
    EXPECT_EQ(std::wstring(b->strFileTag.GetString()), L"Seq_B");
    EXPECT_EQ(std::wstring(b->strCompName.GetString()), L"DAPI");

    ASSERT_EQ(rec->m_aCustomDataMap.size(), 2u);
    auto it = rec->m_aCustomDataMap.begin();
    EXPECT_EQ(std::wstring(it->first.GetString()), L"alpha");
    EXPECT_EQ(Bytes(it->second.GetData(), it->second.GetData() + it->second.GetSize()), Bytes({'x', 'y', 'z'}));
    ++it;
    EXPECT_EQ(std::wstring(it->first.GetString()), L"beta");
    EXPECT_EQ(Bytes(it->second.GetData(), it->second.GetData() + it->second.GetSize()), Bytes({1, 2, 3}));
    EXPECT_TRUE(rec->m_aChangedTags.empty());

    EXPECT_EQ(Times(rec->m_aAcqTimes), std::vector<double>({0, 50, 100, 150, 200, 250}));

    ASSERT_EQ(rec->m_CustomDescription.size(), 2u);
    EXPECT_EQ(std::wstring(rec->m_CustomDescription[0].GetName()), L"Gain");
    EXPECT_EQ(rec->m_CustomDescription[0].GetNumber(), 2.75);

    double t = -1;
    EXPECT_EQ(rec->GetLocalAcqTime(4, &t), 0);
    EXPECT_EQ(t, 200.0);
    EXPECT_EQ(H::Close(g.release()), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, HandleOpen, testing::Values(2, 3));

TEST(HandleOpenMinimal, FileWithNothingButFramesOpensWithEmptyMembers)
{
    FileSpec spec;
    spec.experiment = spec.tags = spec.descriptors = spec.appInfo = spec.form = spec.events = false;
    spec.frames = 1;
    const std::string path = TempName("bare");
    WriteFile(path, spec);
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    SKzQorFileHandle* rec = Record(g.h);
    EXPECT_EQ(rec->m_pExperiment, nullptr);
    EXPECT_EQ(rec->m_pBinaryMetadata, nullptr);
    EXPECT_TRUE(rec->m_aCustomDataMap.empty());
    EXPECT_EQ(rec->m_CustomDescription.size(), 0u);
    EXPECT_EQ(rec->m_TextInfo.wsText[14].GetLength(), 0);
    EXPECT_EQ(Times(rec->m_aAcqTimes), std::vector<double>({0}));
}

// ---------------------------------------------------------------------------
// Handle numbers

TEST(HandleNumbers, FirstHandleOfAProcessIs1024AndTheNext1025)
{
    if (!InChild()) {
        EXPECT_EQ(RunInFreshProcess("HandleNumbers.FirstHandleOfAProcessIs1024AndTheNext1025"), kChildPassed);
        return;
    }
    FileSpec spec;
    spec.frames = 1;
    const std::string path = TempName("first");
    WriteFile(path, spec);
    // A failed open before the first success uses no number.
    EXPECT_EQ(H::OpenInputFile(W(TempName("missing")).c_str()), 0);
    const int a = H::OpenInputFile(W(path).c_str());
    const int b = H::OpenInputFile(W(path).c_str());
    EXPECT_EQ(a, 1024);
    EXPECT_EQ(b, 1025);
    H::Close(a);
    H::Close(b);
    std::exit(testing::Test::HasFailure() ? 1 : kChildPassed);
}

TEST(HandleNumbers, FailedOpensUseNoNumberAndClosedNumbersAreNeverReused)
{
    FileSpec spec;
    spec.frames = 1;
    const std::string path = TempName("numbers");
    WriteFile(path, spec);
    const std::string notVt5 = TempName("text", ".vt5");
    WriteAll(notVt5, Bytes(9000, 'a'));
    const std::string otherExt = TempName("other", ".tif");
    WriteAll(otherExt, ReadAll(path));

    const int a = H::OpenInputFile(W(path).c_str());
    ASSERT_NE(a, 0);
    const struct {
        const char* what;
        std::string path;
    } failing[] = {
        {"missing file", TempName("missing")},
        {"not a VT5 file", notVt5},
        {"no format for the extension", otherExt},
        {"empty path", ""},
    };
    for (const auto& f : failing)
        EXPECT_EQ(H::OpenInputFile(W(f.path).c_str()), 0) << f.what;
    EXPECT_EQ(H::OpenInputFile(nullptr), 0);
    const int b = H::OpenInputFile(W(path).c_str());
    EXPECT_EQ(b, a + 1);

    EXPECT_EQ(H::Close(a), 0);
    EXPECT_EQ(H::Close(a), KZ_ERR_NOT_FOUND);
    EXPECT_EQ(H::Remove(a), KZ_ERR_NOT_FOUND);
    EXPECT_EQ(H::GetInputFile(a, nullptr), nullptr);
    const int c = H::OpenInputFile(W(path).c_str());
    EXPECT_EQ(c, b + 1);
    EXPECT_EQ(H::Close(b), 0);
    EXPECT_EQ(H::Close(c), 0);
}

TEST(HandleNumbers, OpensFailOnceTheNumbersPassIntMax)
{
    if (!InChild()) {
        EXPECT_EQ(RunInFreshProcess("HandleNumbers.OpensFailOnceTheNumbersPassIntMax"), kChildPassed);
        return;
    }
    FileSpec spec;
    spec.frames = 1;
    const std::string path = TempName("intmax");
    WriteFile(path, spec);
    kzqor::SetHandleCounter((u32)INT_MAX - 1);
    const int a = H::OpenInputFile(W(path).c_str());
    const int b = H::OpenInputFile(W(path).c_str());
    EXPECT_EQ(a, INT_MAX - 1);
    EXPECT_EQ(b, INT_MAX);
    EXPECT_EQ(H::OpenInputFile(W(path).c_str()), 0);
    EXPECT_EQ(H::Append(SKzQorFileHandle()), 0);
    EXPECT_EQ(H::Close(a), 0);
    EXPECT_EQ(H::Close(b), 0);
    EXPECT_EQ(H::OpenInputFile(W(path).c_str()), 0);  // closing gives no number back
    std::exit(testing::Test::HasFailure() ? 1 : kChildPassed);
}

TEST(HandleTable, LookupsHandOutTheFiledRecordAndRemoveUnlinksIt)
{
    SKzQorFileHandle rec;
    rec.m_uiFrameCount = 7;
    rec.m_aAcqTimes.SetData("12345678", 8, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    const int h = H::Append(rec);
    ASSERT_NE(h, 0);
    SKzQorFileHandle* filed = nullptr;
    EXPECT_EQ(H::GetInputFile(h, &filed), nullptr);  // no reader
    ASSERT_NE(filed, nullptr);
    EXPECT_NE(filed, &rec);
    EXPECT_EQ(filed->m_uiFrameCount, 7u);
    EXPECT_EQ(filed->m_aAcqTimes.GetSize(), 8u);
    SKzQorFileHandle* other = nullptr;
    EXPECT_EQ(H::GetOutputFile(h, &other), nullptr);
    EXPECT_EQ(other, filed);
    EXPECT_EQ(H::GetHandle(h), filed);
    // An unknown number leaves the out pointer alone.
    SKzQorFileHandle* untouched = &rec;
    EXPECT_EQ(H::GetInputFile(0, &untouched), nullptr);
    EXPECT_EQ(untouched, &rec);
    EXPECT_EQ(H::Remove(h), 0);
    EXPECT_EQ(H::GetHandle(h), nullptr);
    EXPECT_EQ(H::Remove(h), KZ_ERR_NOT_FOUND);

    // Filing by move takes the members over.
    SKzQorFileHandle moved;
    moved.m_aAcqTimes.SetData("abcdefgh", 8, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    moved.m_aCustomDataMap[CKzStringW(L"t")];
    const int m = H::Append(std::move(moved));
    ASSERT_NE(m, 0);
    EXPECT_EQ(moved.m_aAcqTimes.GetSize(), 0u);
    EXPECT_TRUE(moved.m_aCustomDataMap.empty());
    EXPECT_EQ(H::GetHandle(m)->m_aAcqTimes.GetSize(), 8u);
    EXPECT_EQ(H::GetHandle(m)->m_aCustomDataMap.size(), 1u);
    EXPECT_EQ(H::Close(m), 0);
}

// ---------------------------------------------------------------------------
// Open steps with special files

TEST(HandleOpenSpecial, OneBitSingleFrameFileHasNoPlanesAndTheDefaultBinaryDescriptor)
{
    const std::string path = TempName("onebit");
    WriteRawV3(path, 16, 4, 1, 8, 1, 1);
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    SKzQorFileHandle* rec = Record(g.h);
    EXPECT_EQ(rec->m_Attributes.uiBpcSignificant, 1);
    // No frame metadata stored and none made for a one-bit single frame.
    EXPECT_EQ(rec->m_pMetadata, nullptr);
    ASSERT_NE(rec->m_pBinaryMetadata, nullptr);
    ASSERT_EQ(rec->m_pBinaryMetadata->GetItemCount(), 1u);
    const CKzBinaryMetadata::SKzBinaryItem* b = rec->m_pBinaryMetadata->GetItem(0);
    EXPECT_EQ(b->uiState, 0x10000u);
    EXPECT_EQ(std::wstring(b->strName.GetString()), L"Binary");
    EXPECT_EQ(std::wstring(b->strFileTag.GetString()), L"RleZipBinarySequence_1_v1");
    EXPECT_EQ(b->uiColor, 0u);
    EXPECT_EQ(b->uiCompOrder, 0u);
}

TEST(HandleOpenSpecial, OneBitFileWithMetadataLosesItsPlanes)
{
    // Several frames: the plane set is fitted, then dropped for one bit.
    const std::string path = TempName("onebitmeta");
    WriteRawV3(path, 16, 4, 1, 8, 1, 3);
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    SKzQorFileHandle* rec = Record(g.h);
    ASSERT_NE(rec->m_pMetadata, nullptr);
    EXPECT_EQ(rec->m_pMetadata->sPicturePlanes.uiCount, 0u);
    EXPECT_EQ(rec->m_pMetadata->sPicturePlanes.pPlanes, nullptr);
    EXPECT_EQ(rec->m_pMetadata->sPicturePlanes.eRepresentation, 0u);
}

TEST(HandleOpenSpecial, PlaneSetIsFittedToTheFilesComponents)
{
    // Three frames of three components without frame metadata: a default
    // record with one colour plane is made.
    const std::string path = TempName("fit");
    WriteRawV3(path, 4, 4, 3, 8, 8, 3);
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    SKzQorFileHandle* rec = Record(g.h);
    ASSERT_NE(rec->m_pMetadata, nullptr);
    ASSERT_EQ(rec->m_pMetadata->sPicturePlanes.uiCount, 1u);
    EXPECT_EQ(rec->m_pMetadata->sPicturePlanes.pPlanes[0].uiCompCount, 3u);
    EXPECT_EQ(rec->m_pBinaryMetadata, nullptr);
    // No stored texts: the default templates, translated with that record.
    EXPECT_EQ(rec->m_TextInfo.wsText[0].GetLength(), 0);
    // The acquisition description of a file without experiment and cameras.
    EXPECT_EQ(std::wstring(rec->m_TextInfo.wsText[5].GetString()).rfind(L"Camera Name: \r\n", 0), 0u);
    EXPECT_GT(rec->m_TextInfo.wsText[9].GetLength(), 0);
    EXPECT_EQ(std::wstring(rec->m_TextInfo.wsText[5].GetString()).find(L'%'), std::wstring::npos);
}

TEST(HandleOpenSpecial, BinarySequenceOfAnOlderWriterGivesTheDefaultDescriptor)
{
    const std::string path = TempName("binseq");
    WriteRawV3(path, 4, 4, 1, 8, 8, 2, {{"CustomDataSeq|BinarySeqV1_0|0!", Bytes(16, 1)}});
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    SKzQorFileHandle* rec = Record(g.h);
    ASSERT_NE(rec->m_pBinaryMetadata, nullptr);
    ASSERT_EQ(rec->m_pBinaryMetadata->GetItemCount(), 1u);
    EXPECT_EQ(std::wstring(rec->m_pBinaryMetadata->GetItem(0)->strName.GetString()), L"Binary");
}

TEST(HandleOpenSpecial, FileOfTooManyComponentsIsNotOpened)
{
    const std::string ok = TempName("comp_ok");
    WriteRawV3(ok, 1, 1, 65536, 8, 8, 1);
    const int h = H::OpenInputFile(W(ok).c_str());
    EXPECT_NE(h, 0);
    H::Close(h);
    const std::string path = TempName("comp");
    WriteRawV3(path, 1, 1, 65537, 8, 8, 1);
    EXPECT_EQ(H::OpenInputFile(W(path).c_str()), 0);
}

TEST(HandleOpenSpecial, DecreasingTimeCacheIsReplacedByEvenSpacing)
{
    const double cache[] = {0, 10, 10, 5};
    Bytes bytes(sizeof(cache));
    std::memcpy(bytes.data(), cache, sizeof(cache));
    const std::string path = TempName("cache");
    WriteRawV3(path, 4, 4, 1, 8, 8, 4, {{"CustomData|AcqTimesCache!", bytes}});
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    EXPECT_EQ(Times(Record(g.h)->m_aAcqTimes), std::vector<double>({0, 100, 200, 300}));
}

// ---------------------------------------------------------------------------
// Acquisition times

TEST(HandleTimes, CheckAcqTimesRule)
{
    const struct {
        std::vector<double> in;
        std::vector<double> out;
        int result;
    } cases[] = {
        {{0, 10, 10, 5}, {0, 100, 200, 300}, 0},
        {{0, 10, 10}, {0, 10, 10}, 0},
        {{5}, {5}, 0},
        {{3, 2}, {0, 100}, 0},
        {{-5, -4, 7e9}, {-5, -4, 7e9}, 0},
        {{}, {}, KZ_ERR_FAILED},
    };
    for (const auto& c : cases) {
        CKzByteArray a(1024);
        if (!c.in.empty())
            a.SetData(c.in.data(), c.in.size() * 8, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
        EXPECT_EQ(H::CheckAcqTimes(a), c.result);
        EXPECT_EQ(Times(a), c.out);
    }
    // Seven bytes are left as they are; trailing bytes past whole entries too.
    CKzByteArray seven(1024);
    seven.SetData("abcdefg", 7, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    EXPECT_EQ(H::CheckAcqTimes(seven), KZ_ERR_FAILED);
    EXPECT_EQ(std::string((const char*)seven.GetData(), 7), "abcdefg");
    const double two[] = {9, 1};
    Bytes odd(19, 0xEE);
    std::memcpy(odd.data(), two, 16);
    CKzByteArray tail(1024);
    tail.SetData(odd.data(), 19, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    EXPECT_EQ(H::CheckAcqTimes(tail), 0);
    EXPECT_EQ(Times(tail), std::vector<double>({0, 100}));
    EXPECT_EQ(tail.GetData()[16], 0xEE);
}

TEST(HandleTimes, FrameBeyondTheCacheTakesItsTimeFromItsMetadata)
{
    FileSpec spec;
    spec.frames = 4;
    const std::string path = TempName("beyond");
    WriteFile(path, spec);
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    SKzQorFileHandle* rec = Record(g.h);
    rec->m_aAcqTimes.SetSize(16);  // the cache now holds frames 0 and 1 only
    double t = -1;
    EXPECT_EQ(rec->GetLocalAcqTime(1, &t), 0);
    EXPECT_EQ(t, 50.0);
    EXPECT_EQ(rec->GetLocalAcqTime(3, &t), 0);
    EXPECT_EQ(t, 150.0);
    EXPECT_EQ(rec->GetLocalAcqTime(0xFFFFFFFFu, nullptr), rec->m_pInputFile->GetImageMetadata(0xFFFFFFFFu,
                                                                                               *rec->m_pMetadata,
                                                                                               nullptr));
}

// ---------------------------------------------------------------------------
// Stage positions

namespace {

struct TreeGuard {
    SKzExperiment* e;
    ~TreeGuard() { SKzExperiment::FreeRecursive(e); }
};

SKzExperiment* ZLevel(u32 count, double step, double reference, int type, bool absolute, bool inverted,
                      double low, double high, double home)
{
    SKzExperiment* z = nullptr;
    SKzExperiment::Alloc(&z);
    SKzExperiment::Init(*z, SKzExperiment::eExpZStackLoop, false, count, 0, 0, 1);
    auto& l = z->uLoopPars.sZStackLoop;
    l.dZStep = step;
    l.dReferencePosition = reference;
    l.iType = type;
    l.bAbsolute = absolute;
    l.bZInverted = inverted;
    l.dZLow = low;
    l.dZHigh = high;
    l.dZHome = home;
    return z;
}

SKzExperiment* XYLevel(std::vector<double> xs, std::vector<double> ys, SKzExperiment* child)
{
    SKzExperiment* e = nullptr;
    SKzExperiment::Alloc(&e);
    SKzExperiment::Init(*e, SKzExperiment::eExpXYPosLoop, false, (u32)xs.size(), 0, child ? 1 : 0, 1);
    for (size_t i = 0; i < xs.size(); ++i) {
        e->uLoopPars.sXYPosLoop.dPosX[i] = xs[i];
        e->uLoopPars.sXYPosLoop.dPosY[i] = ys[i];
    }
    if (child)
        e->ppNextLevelEx[0] = child;
    return e;
}

}  // namespace

TEST(HandlePositions, ZStackOfFiveStepsOfTwoFromTenGives16AtPosition3)
{
    SKzQorFileHandle rec;
    TreeGuard t{ZLevel(5, 2.0, 10.0, 0, true, false, 0.0, 8.0, 0.0)};
    ASSERT_EQ(CKzExperimentAPI::GetZStackFirstMovePosition(t.e->uLoopPars.sZStackLoop, 0.0), 0.0);
    rec.m_pExperiment = t.e;
    double x, y, z;
    ASSERT_EQ(rec.GetLocalPos(3, &x, &y, &z), 0);
    EXPECT_EQ(z, 16.0);
    rec.m_pExperiment = nullptr;
}

TEST(HandlePositions, ZStackPositionByMode)
{
    // Each case: the stack, the frame, the expected z. The first-move
    // position of mode 0 is dZHigh - (n - 1) step, relative to 0 unless
    // absolute; dZHome is subtracted unless absolute.
    const struct {
        int type;
        bool absolute, inverted;
        double high, home;
        u32 frame;
    } cases[] = {
        {0, true, false, 8.0, 0.0, 3},  // first move 0
        {0, true, false, 9.0, 0.0, 3},  // first move 1, added
        {0, true, true, 9.0, 0.0, 3},   // inverted: subtracted
        {0, false, false, 9.0, 0.5, 3}, // relative: less the home
        {4, true, false, 8.0, 0.0, 3},  // modes above 3 go down
        {7, false, true, 8.0, 2.0, 2},
        {0, true, false, 8.0, 0.0, 0},
    };
    for (const auto& c : cases) {
        SKzQorFileHandle rec;
        TreeGuard t{ZLevel(5, 2.0, 10.0, c.type, c.absolute, c.inverted, c.inverted ? 1.0 : 0.0, c.high, c.home)};
        rec.m_pExperiment = t.e;
        const double first = CKzExperimentAPI::GetZStackFirstMovePosition(t.e->uLoopPars.sZStackLoop, 0.0) -
                             (c.absolute ? 0.0 : c.home);
        const double base = c.type <= 3 ? c.frame * 2.0 + 10.0 : 10.0 - c.frame * 2.0;
        double x = -1, y = -1, z = -1;
        EXPECT_EQ(rec.GetLocalPos(c.frame, &x, &y, &z), 0);
        EXPECT_DOUBLE_EQ(z, c.inverted ? base - first : base + first) << c.type << " " << c.frame;
        EXPECT_EQ(x, 0.0);  // no metadata: start values 0
        EXPECT_EQ(y, 0.0);
        rec.m_pExperiment = nullptr;
    }
}

TEST(HandlePositions, XYPointsByIndexByValidItemAndOutsideTheLevel)
{
    SKzQorFileHandle rec;
    SKzPictureMetadata md;
    md.dXPos = -7;
    md.dYPos = -8;
    md.dZPos = 3;
    rec.m_pMetadata = &md;

    TreeGuard t{XYLevel({1, 2, 3}, {10, 20, 30}, nullptr)};
    rec.m_pExperiment = t.e;
    double x, y, z;
    ASSERT_EQ(rec.GetLocalPos(1, &x, &y, &z), 0);
    EXPECT_EQ(x, 2);
    EXPECT_EQ(y, 20);
    EXPECT_EQ(z, 3);
    // The leaf position is not bounded by the navigation: a frame past the
    // points keeps the metadata position.
    ASSERT_EQ(rec.GetLocalPos(5, &x, &y, &z), 0);
    EXPECT_EQ(x, -7);
    EXPECT_EQ(y, -8);

    // With flags the position counts valid points only.
    t.e->pItemValid = new bool[3]{false, true, true};
    ASSERT_EQ(rec.GetLocalPos(1, &x, &y, &z), 0);
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, 30);
    ASSERT_EQ(rec.GetLocalPos(0, &x, &y, &z), 0);
    EXPECT_EQ(x, 2);

    // A missing Y array leaves y alone.
    delete[] t.e->pItemValid;
    t.e->pItemValid = nullptr;
    delete[] t.e->uLoopPars.sXYPosLoop.dPosY;
    t.e->uLoopPars.sXYPosLoop.dPosY = nullptr;
    ASSERT_EQ(rec.GetLocalPos(2, &x, &y, &z), 0);
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, -8);

    EXPECT_EQ(rec.GetLocalPos(0, nullptr, &y, &z), KZ_ERR_INVALID_ARG);
    rec.m_pExperiment = nullptr;
    rec.m_pMetadata = nullptr;
}

TEST(HandlePositions, PointsOverAZStackAndNoExperiment)
{
    SKzQorFileHandle rec;
    TreeGuard t{XYLevel({5, 6}, {50, 60}, ZLevel(3, 1.0, 100.0, 0, true, false, 0.0, 2.0, 0.0))};
    rec.m_pExperiment = t.e;
    double x, y, z;
    ASSERT_EQ(rec.GetLocalPos(4, &x, &y, &z), 0);  // point 1, slice 1
    EXPECT_EQ(x, 6);
    EXPECT_EQ(y, 60);
    EXPECT_EQ(z, 101);
    rec.m_pExperiment = nullptr;
    ASSERT_EQ(rec.GetLocalPos(4, &x, &y, &z), 0);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(z, 0);
}

// ---------------------------------------------------------------------------
// Threads

TEST(HandleThreads, ConcurrentOpensAndClosesGiveDistinctNumbers)
{
    FileSpec spec;
    spec.frames = 2;
    const std::string path = TempName("threads");
    WriteFile(path, spec);
    const std::wstring wpath = W(path);
    const int kThreads = 6, kRounds = 15;
    std::vector<std::vector<int>> got(kThreads);
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t)
        pool.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const int h = H::OpenInputFile(wpath.c_str());
                got[t].push_back(h);
                SKzQorFileHandle* rec = nullptr;
                if (H::GetInputFile(h, &rec) && rec) {
                    double time = -1;
                    rec->GetLocalAcqTime(1, &time);
                    if (time != 50.0)
                        got[t].push_back(-1);
                }
                if (H::Close(h) != 0)
                    got[t].push_back(-2);
            }
        });
    for (auto& th : pool)
        th.join();
    std::set<int> all;
    for (const auto& v : got)
        for (int h : v) {
            EXPECT_GT(h, 0);
            EXPECT_TRUE(all.insert(h).second) << h;
        }
    EXPECT_EQ(all.size(), (size_t)kThreads * kRounds);
}
