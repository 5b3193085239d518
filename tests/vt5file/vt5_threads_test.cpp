// One reader and one writer used from several threads at once. A reader's
// operations keep state between calls (the frame layout learnt once, the
// frame metadata loaded once, the zlib stream and its scratch piece, the
// container's scan state); threads that share a fresh reader must each get
// exactly what a single thread gets. Frames fed to one writer from several
// threads must each land whole.
#include <gtest/gtest.h>

#include "thread_start_line.h"

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzVariant.h"
#include "vt5file/vt5io_test_support.h"

namespace {

using ct::Bytes;

constexpr u32 kWidth = 40, kHeight = 24, kComp = 2, kFrames = 10;
constexpr int kThreads = 8;

SKzPictureMetadata metadataAt(double ms)
{
    SKzPictureMetadata md;
    md.dTimeAbsolute = 2460000.25;
    md.dTimeMSec = ms;
    md.dXPos = 7.5;
    md.dCalibration = 0.5;
    md.dAspect = 1.0;
    md.bCalibrated = true;
    md.wsObjectiveName = L"Fluar 10x";
    return md;
}

Bytes perFrame(u32 seq) { return ct::pattern(24, 900 + seq); }

// A file with frames, per-frame metadata and custom data, an experiment,
// texts, events, custom data and an acquisition time.
void writeFile(const std::wstring& path, int version, i32 compression)
{
    IKzOutputImageFile* w = vt::openWriter(path, version);
    ASSERT_NE(w, nullptr);
    const SKzImageAttributes a = vt::attrs(kWidth, kHeight, kComp, 16, compression, 6.0);
    ASSERT_EQ(w->SetImageAttributes(a), KZ_OK);
    SKzExperiment exp;
    ASSERT_EQ(SKzExperiment::Init(exp, SKzExperiment::eExpTimeLoop, false, kFrames, 0, 0, 0), KZ_OK);
    exp.uLoopPars.sTimeLoop.dPeriod = 250.0;
    ASSERT_EQ(w->SetImageMetadata(exp, nullptr), KZ_OK);
    SKzImageTextInfo info;
    for (u32 k = 0; k < SKzImageTextInfo::eStored; ++k)
        info.wsText[k] = (L"text " + std::to_wstring(k)).c_str();
    ASSERT_EQ(w->SetImageTextInfo(info), KZ_OK);
    SKzExperimentRecord log;
    for (int e = 0; e < 3; ++e) {
        SKzExperimentEvent ev;
        SKzExperimentEvent::Init(ev, 10.0 * e + 1.0, SKzExperimentEvent::eMeaningUnknown, L"event", nullptr, 0);
        SKzExperimentRecord::AddEvent(log, ev, nullptr);
        SKzExperimentEvent::Free(ev);
    }
    ASSERT_EQ(w->SetImageEvents(log, nullptr), KZ_OK);
    const Bytes notes = ct::pattern(300, 5);
    ASSERT_EQ(w->SetCustomData(L"Notes", notes.data(), notes.size()), KZ_OK);
    const CKzVariant var(42.25, CKzStringW(L"Value"));
    ASSERT_EQ(w->SetCustomDataVar(L"Value", &var), KZ_OK);
    ASSERT_EQ(w->SetAcqTime(1234.5), KZ_OK);
    for (u32 f = 0; f < kFrames; ++f) {
        ASSERT_EQ(w->SetImageMetadata(f, metadataAt(100.0 + 37.5 * f), nullptr), KZ_OK);
        const Bytes b = perFrame(f);
        ASSERT_EQ(w->SetCustomDataSeq(L"PerFrame", f, b.data(), b.size()), KZ_OK);
        const Bytes fr = vt::frame(a, 77 + f);
        ASSERT_EQ(w->FlushData(f, const_cast<unsigned char*>(fr.data()), nullptr, nullptr), KZ_OK);
    }
    ASSERT_EQ(w->Release(), 0);
}

// What every operation of the reader gives for one frame, and for the file.
struct FrameResults {
    int data = 1, rect = 1, comp = 1, meta = 1, seq = 1;
    Bytes dataBytes, rectBytes, compBytes, seqBytes;
    double time = 0, absolute = 0, x = 0;
    std::wstring objective;
    bool operator==(const FrameResults&) const = default;
};

struct FileResults {
    int attrs = 1, exp = 1, text = 1, events = 1, notes = 1, var = 1, acq = 1;
    u32 frames = 0, eventCount = 0;
    double period = 0, value = 0, acqTime = 0;
    std::vector<double> eventTimes;
    std::vector<std::wstring> texts;
    Bytes notesBytes;
    bool operator==(const FileResults&) const = default;
};

// The rectangle of frame f: a part of the frame seen at another size.
struct Rect { u32 vw, vh, x, y, w, h; };
Rect rectOf(u32 f) { return {kWidth * 3 / 2, kHeight / 2, f % 7, f % 3, 20, 9}; }

FrameResults readFrame(IKzInputImageFile& r, u32 f)
{
    FrameResults out;
    const u64 frameBytes = (u64)kWidth * kComp * 2 * kHeight;
    out.dataBytes.assign(frameBytes, 0);
    out.data = r.GetData(f, out.dataBytes.data(), nullptr, nullptr);
    const Rect q = rectOf(f);
    out.rectBytes.assign((size_t)q.w * kComp * 2 * q.h, 0);
    out.rect = r.GetRectData(f, q.vw, q.vh, q.x, q.y, q.w, q.h, out.rectBytes.data(), q.w * kComp * 2, 0, nullptr,
                             nullptr);
    out.compBytes.assign((size_t)kWidth * 2 * kHeight, 0);
    out.comp = r.GetComponentData(f, 1, out.compBytes.data(), kWidth * 2, 1);
    SKzPictureMetadata md;
    out.meta = r.GetImageMetadata(f, md, nullptr);
    out.time = md.dTimeMSec;
    out.absolute = md.dTimeAbsolute;
    out.x = md.dXPos;
    out.objective = md.wsObjectiveName.GetString();
    CKzByteArray seq;
    out.seq = r.GetCustomDataSeq(L"PerFrame", f, seq);
    out.seqBytes.assign(seq.GetData(), seq.GetData() + seq.GetSize());
    return out;
}

FileResults readFile(IKzInputImageFile& r)
{
    FileResults out;
    SKzImageAttributes a;
    std::memset(&a, 0, sizeof(a));
    out.attrs = r.GetImageAttributes(a);
    out.frames = a.uiSequenceCount;
    SKzExperiment exp;
    out.exp = r.GetImageMetadata(exp, nullptr);
    out.period = exp.uLoopPars.sTimeLoop.dPeriod;
    SKzImageTextInfo info;
    out.text = r.GetImageTextInfo(info);
    for (const CKzStringW& t : info.wsText)
        out.texts.emplace_back(t.GetString());
    SKzExperimentRecord log;
    out.events = r.GetImageEvents(log, nullptr);
    out.eventCount = log.uiCount;
    for (u32 e = 0; e < log.uiCount && log.pFirstEvent; ++e)
        out.eventTimes.push_back(log.pFirstEvent[e].dTime);
    CKzByteArray notes;
    out.notes = r.GetCustomData(L"Notes", notes);
    out.notesBytes.assign(notes.GetData(), notes.GetData() + notes.GetSize());
    CKzVariant v;
    out.var = r.GetCustomDataVar(L"Value", v);
    out.value = v.GetDouble();
    out.acq = r.GetAcqTime(out.acqTime);
    return out;
}

struct Case {
    int version;
    i32 compression;
};

class VT5ReaderThreads : public ct::TempDirTest, public ::testing::WithParamInterface<Case> {};

TEST_P(VT5ReaderThreads, OneFreshReaderGivesEveryThreadWhatOneThreadGets)
{
    const Case c = GetParam();
    writeFile(wpath("t.vt5"), c.version, c.compression);
    if (HasFatalFailure())
        return;

    // What one thread gets, from a reader of its own.
    std::vector<FrameResults> want(kFrames);
    FileResults wantFile;
    {
        IKzInputImageFile* r = vt::openReader(wpath("t.vt5"));
        ASSERT_NE(r, nullptr);
        wantFile = readFile(*r);
        for (u32 f = 0; f < kFrames; ++f)
            want[f] = readFrame(*r, f);
        r->Release();
    }
    // The baseline itself is right: frames read back, the rest as written.
    ASSERT_EQ(wantFile.frames, kFrames);
    EXPECT_EQ(wantFile.exp, KZ_OK);
    EXPECT_EQ(wantFile.period, 250.0);
    EXPECT_EQ(wantFile.eventCount, 3u);
    EXPECT_EQ(wantFile.texts[3], L"text 3");
    EXPECT_EQ(wantFile.value, 42.25);
    EXPECT_EQ(wantFile.acqTime, 1234.5);
    const SKzImageAttributes a = vt::attrs(kWidth, kHeight, kComp, 16, c.compression);
    for (u32 f = 0; f < kFrames; ++f) {
        EXPECT_EQ(want[f].data, KZ_OK);
        EXPECT_EQ(want[f].dataBytes, vt::frame(a, 77 + f)) << f;
        EXPECT_EQ(want[f].comp, KZ_OK);
        EXPECT_EQ(want[f].rect, c.compression == 2 ? KZ_OK : KZ_ERR_NOT_SUPPORTED);
        EXPECT_EQ(want[f].time, 100.0 + 37.5 * f);
        EXPECT_EQ(want[f].seqBytes, perFrame(f));
    }

    // Every thread visits every frame, each from its own starting frame, on
    // one fresh reader; the threads hold references of their own, and the
    // last one to let go deletes the reader.
    IKzInputImageFile* shared = vt::openReader(wpath("t.vt5"));
    ASSERT_NE(shared, nullptr);
    StartLine start(kThreads + 1);
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            shared->AddRef();
            start.arrive();
            for (int round = 0; round < 3; ++round) {
                for (u32 k = 0; k < kFrames; ++k) {
                    const u32 f = (k + (u32)t * 3) % kFrames;
                    if (!(readFrame(*shared, f) == want[f]))
                        bad.fetch_add(1);
                    if ((k + t) % 4 == 0 && !(readFile(*shared) == wantFile))
                        bad.fetch_add(1);
                }
            }
            shared->Release();
        });
    start.arrive();
    shared->Release();  // the threads hold the reader from here on
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(bad.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(VersionsAndStorage, VT5ReaderThreads,
                         ::testing::Values(Case{2, 2}, Case{2, 0}, Case{3, 2}, Case{3, 0}),
                         [](const ::testing::TestParamInfo<Case>& i) {
                             return "V" + std::to_string(i.param.version) +
                                    (i.param.compression == 0 ? "Deflated" : "Raw");
                         });

class VT5WriterThreads : public ct::TempDirTest, public ::testing::WithParamInterface<Case> {};

TEST_P(VT5WriterThreads, FramesFedFromManyThreadsAllLand)
{
    const Case c = GetParam();
    constexpr u32 kPerThread = 6, kTotal = kPerThread * kThreads;
    const SKzImageAttributes a = vt::attrs(kWidth, kHeight, kComp, 16, c.compression, 6.0);
    IKzOutputImageFile* w = vt::openWriter(wpath("w.vt5"), c.version);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->SetImageAttributes(a), KZ_OK);

    // Thread t stores frames t, t + kThreads, ... with their metadata and
    // per-frame custom data; the frames arrive in no particular order.
    StartLine start(kThreads);
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            w->AddRef();
            start.arrive();
            for (u32 k = 0; k < kPerThread; ++k) {
                const u32 f = (u32)t + k * kThreads;
                const Bytes fr = vt::frame(a, 500 + f);
                const Bytes extra = perFrame(f);
                if (w->SetImageMetadata(f, metadataAt(10.0 * f), nullptr) != KZ_OK ||
                    w->SetCustomDataSeq(L"PerFrame", f, extra.data(), extra.size()) != KZ_OK ||
                    w->FlushData(f, const_cast<unsigned char*>(fr.data()), nullptr, nullptr) != KZ_OK)
                    failed.fetch_add(1);
            }
            w->Release();
        });
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(failed.load(), 0);
    ASSERT_EQ(w->Release(), 0);  // finishes the file

    // The container is whole and holds every frame exactly once.
    const auto chunks = vt::checkContainer(path("w.vt5"));
    u32 frameChunks = 0;
    for (const auto& [name, bytes] : chunks)
        frameChunks += name.rfind("ImageDataSeq|", 0) == 0 ? 1 : 0;
    EXPECT_EQ(frameChunks, kTotal);
    IKzInputImageFile* r = vt::openReader(wpath("w.vt5"));
    ASSERT_NE(r, nullptr);
    SKzImageAttributes got;
    std::memset(&got, 0, sizeof(got));
    ASSERT_EQ(r->GetImageAttributes(got), KZ_OK);
    EXPECT_EQ(got.uiSequenceCount, kTotal);
    Bytes buffer((size_t)kWidth * kComp * 2 * kHeight);
    for (u32 f = 0; f < kTotal; ++f) {
        ASSERT_EQ(r->GetData(f, buffer.data(), nullptr, nullptr), KZ_OK) << f;
        EXPECT_EQ(buffer, vt::frame(a, 500 + f)) << f;
        SKzPictureMetadata md;
        ASSERT_EQ(r->GetImageMetadata(f, md, nullptr), KZ_OK) << f;
        EXPECT_EQ(md.dTimeMSec, 10.0 * f) << f;
        CKzByteArray extra;
        ASSERT_EQ(r->GetCustomDataSeq(L"PerFrame", f, extra), KZ_OK) << f;
        EXPECT_EQ(Bytes(extra.GetData(), extra.GetData() + extra.GetSize()), perFrame(f)) << f;
    }
    r->Release();
}

INSTANTIATE_TEST_SUITE_P(VersionsAndStorage, VT5WriterThreads,
                         ::testing::Values(Case{2, 2}, Case{3, 0}),
                         [](const ::testing::TestParamInfo<Case>& i) {
                             return "V" + std::to_string(i.param.version) +
                                    (i.param.compression == 0 ? "Deflated" : "Raw");
                         });

}  // namespace
