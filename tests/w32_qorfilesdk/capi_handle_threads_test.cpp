// One handle used from several threads at once through the exported
// functions: every thread reading one read handle gets what a single thread
// gets (frames whole and by rectangle, metadata, texts, experiment, events,
// tags) while others set tags on it; frames appended to one write handle
// from several threads all land, each once; a close racing with calls on
// its handle ends them with the codes of an unknown handle, never a crash.
#include "capi_read_support.h"

#include <gtest/gtest.h>

#include "thread_start_line.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace capitest;

namespace {

constexpr u32 kW = 48, kH = 32, kFrames = 8;
constexpr int kThreads = 8;

struct ExpDel {
    void operator()(SKzExperiment* e) const { SKzExperiment::FreeRecursive(e); }
};

// A raw file of kFrames frames with times, metadata, a time loop, three
// events, one recorded double per frame and a tag.
struct SharedFile {
    TempPath path{"shared.vt5"};
    SKzPictureMetadata md;
    std::unique_ptr<SKzExperiment, ExpDel> exp;
    SKzExperimentRecord events;
    FileSpec spec;

    // compression: 2 raw, 0 deflated.
    explicit SharedFile(i32 compression = 2)
    {
        md.dXPos = 10, md.dYPos = 20, md.dZPos = 3;
        md.dCalibration = 0.25, md.dAspect = 1.0, md.bCalibrated = true;
        md.wsObjectiveName = L"Plan 63x";
        SKzExperiment* e = nullptr;
        EXPECT_EQ(0, SKzExperiment::Alloc(&e));
        EXPECT_EQ(0, SKzExperiment::Init(*e, SKzExperiment::eExpTimeLoop, false, kFrames, 0, 0, 0));
        e->uLoopPars.sTimeLoop.dPeriod = 125.0;
        exp.reset(e);
        for (int i = 0; i < 3; ++i) {
            SKzExperimentEvent ev;
            std::memset(&ev, 0, sizeof ev);
            SKzExperimentEvent::Init(ev, 5.0 + i, SKzExperimentEvent::eMeaningAutofocus, L"focus", nullptr, 0);
            SKzExperimentRecord::AddEvent(events, ev, nullptr);
            SKzExperimentEvent::Free(ev);
        }
        spec.attrs = Attrs(kW, kH, 1, 16, kFrames, compression);
        for (u32 f = 0; f < kFrames; ++f) spec.times.push_back(40.0 * f + (f % 3));
        spec.metadata = &md;
        spec.experiment = exp.get();
        spec.events = &events;
        std::vector<double> d;
        for (u32 f = 0; f < kFrames; ++f) d.push_back(0.5 + f);
        spec.custom[L"D"] = Slots(d);
        spec.tags[L"Tag1"] = Bytes{1, 2, 3, 4, 5};
        WriteFile(path, spec);
    }
};

struct Picture {
    QORPICTURE p{};
    Picture(u32 w, u32 h) { Qor_InitPicture(&p, w, h, 16, 1); }
    ~Picture() { Qor_DestroyPicture(&p); }
    Bytes bytes() const
    {
        const unsigned char* b = static_cast<const unsigned char*>(p.pData);
        return Bytes(b, b + p.uiSize);
    }
};

// What the reading functions give for a frame and for the file.
struct FrameView {
    int data = 1, rect = 1, recorded = 1;
    Bytes image, rectBytes;
    double info[4] = {}, rectInfo[4] = {}, value = 0;
    bool operator==(const FrameView& o) const
    {
        return data == o.data && rect == o.rect && recorded == o.recorded && image == o.image &&
               rectBytes == o.rectBytes && std::memcmp(info, o.info, sizeof info) == 0 &&
               std::memcmp(rectInfo, o.rectInfo, sizeof rectInfo) == 0 && value == o.value;
    }
};

template <class T>
Bytes RecordBytes(const T& t)
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&t);
    return Bytes(b, b + sizeof(T));
}

struct FileView {
    int attrs = 1, meta = 1, text = 1, exp = 1;
    Bytes attrsBytes, metaBytes, textBytes, expBytes, tag;
    std::vector<std::pair<int, double>> events;  // id and time
    bool operator==(const FileView&) const = default;
};

FrameView ReadFrame(int h, u32 f)
{
    FrameView v;
    Picture pic(kW, kH);
    v.data = Qor_FileGetImageData(h, f, &pic.p, v.info);
    v.image = pic.bytes();
    const u32 w = 17 + f, hh = 9, vw = kW * 2, vh = kH + 5;
    v.rectBytes.assign((size_t)w * 2 * hh, 0);
    v.rect = Qor_FileGetImageRectData(h, f, vw, vh, f * 3, f, w, hh, v.rectBytes.data(), w * 2, 0, v.rectInfo);
    v.recorded = Qor_GetRecordedDataDouble(h, L"D", (int)f, &v.value);
    return v;
}

FileView ReadFile(int h)
{
    FileView v;
    QORATTRIBUTES a;
    std::memset(&a, 0, sizeof a);
    v.attrs = Qor_FileGetAttributes(h, &a);
    v.attrsBytes = RecordBytes(a);
    auto md = std::make_unique<QORMETADATA_DESC>();
    std::memset(md.get(), 0, sizeof *md);
    v.meta = Qor_FileGetMetadata(h, md.get());
    v.metaBytes = RecordBytes(*md);
    auto text = std::make_unique<QORTEXTINFO>();
    std::memset(text.get(), 0, sizeof *text);
    v.text = Qor_FileGetTextinfo(h, text.get());
    v.textBytes = RecordBytes(*text);
    auto exp = std::make_unique<QOREXPERIMENT>();
    std::memset(exp.get(), 0, sizeof *exp);
    v.exp = Qor_FileGetExperiment(h, exp.get());
    v.expBytes = RecordBytes(*exp);
    int id = 1;  // event numbers start at 1
    QORUSEREVENT e;
    for (int guard = 0; guard < 10; ++guard) {
        std::memset(&e, 0, sizeof e);
        const int at = id;
        if (Qor_GetNextUserEvent(h, &id, &e) != 0) break;
        v.events.emplace_back(at, e.dTime);
    }
    v.tag.assign(Qor_FileGetCustomDataTag(h, L"Tag1", nullptr), 0);
    Qor_FileGetCustomDataTag(h, L"Tag1", v.tag.data());
    return v;
}

Bytes TagBytes(int t, int k) { return Bytes(3 + k, (unsigned char)(t * 16 + k)); }
std::wstring TagName(int t, int k) { return L"T" + std::to_wstring(t) + L"_" + std::to_wstring(k); }

class CapiHandleThreads : public ::testing::Test {};

// Raw frames are read straight into the host's picture; deflated ones go
// through the reader's zlib stream and scratch piece, and give no rectangles.
class CapiHandleStorageThreads : public ::testing::TestWithParam<i32> {};

TEST_P(CapiHandleStorageThreads, OneReadHandleServesManyThreads)
{
    const i32 compression = GetParam();
    SharedFile file(compression);
    if (HasFatalFailure()) return;

    // One thread alone, on a handle of its own.
    std::vector<FrameView> want(kFrames);
    FileView wantFile;
    {
        Handle h0(file.path);
        ASSERT_NE(h0.get(), 0);
        wantFile = ReadFile(h0);
        for (u32 f = 0; f < kFrames; ++f) want[f] = ReadFrame(h0, f);
    }
    ASSERT_EQ(wantFile.attrs, 0);
    ASSERT_EQ(wantFile.meta, 0);
    ASSERT_EQ(wantFile.exp, 0);
    ASSERT_EQ(wantFile.events.size(), 3u);
    ASSERT_EQ(wantFile.tag, (Bytes{1, 2, 3, 4, 5}));
    for (u32 f = 0; f < kFrames; ++f) {
        ASSERT_EQ(want[f].data, 0);
        const Bytes frame = FrameBytes(file.spec.attrs, f);
        ASSERT_TRUE(std::equal(frame.begin(), frame.end(), want[f].image.begin())) << f;
        ASSERT_EQ(want[f].rect, compression == 2 ? 0 : -2);
        ASSERT_EQ(want[f].info[0], file.spec.times[f]);
        ASSERT_EQ(want[f].value, 0.5 + f);
    }

    // Eight threads on one fresh handle; the even ones also set tags of
    // their own on it and read them back.
    const int h = Qor_FileOpenForRead(file.path.w());
    ASSERT_NE(h, 0);
    // The texts are made at the open, one of them from the clock: the
    // handle's own ones are the reference.
    {
        auto text = std::make_unique<QORTEXTINFO>();
        std::memset(text.get(), 0, sizeof *text);
        ASSERT_EQ(Qor_FileGetTextinfo(h, text.get()), 0);
        wantFile.textBytes = RecordBytes(*text);
    }
    StartLine start(kThreads);
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            start.arrive();
            for (int round = 0; round < 3; ++round)
                for (u32 k = 0; k < kFrames; ++k) {
                    const u32 f = (k + (u32)t) % kFrames;
                    if (!(ReadFrame(h, f) == want[f])) bad.fetch_add(1);
                    if (k % 3 == 0 && !(ReadFile(h) == wantFile)) bad.fetch_add(1);
                    if (t % 2 == 0 && k == 0) {
                        const Bytes b = TagBytes(t, round);
                        const std::wstring name = TagName(t, round);
                        if (Qor_FileSetCustomDataTag(h, name.c_str(), b.data(), (int)b.size()) != 0) bad.fetch_add(1);
                        Bytes got(b.size() + 4, 0);
                        if (Qor_FileGetCustomDataTag(h, name.c_str(), got.data()) != b.size() ||
                            !std::equal(b.begin(), b.end(), got.begin()))
                            bad.fetch_add(1);
                        QORFILECUSTOMDATASET set;
                        std::memset(&set, 0, sizeof set);
                        if (Qor_FileGetCustomData(h, &set) != 0 || set.uiCount < 2) bad.fetch_add(1);
                    }
                }
        });
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(Qor_FileClose(h), 0);

    // Every tag set from the threads was written back at the close.
    Handle again(file.path);
    ASSERT_NE(again.get(), 0);
    for (int t = 0; t < kThreads; t += 2)
        for (int round = 0; round < 3; ++round) {
            const Bytes b = TagBytes(t, round);
            Bytes got(b.size(), 0);
            EXPECT_EQ(Qor_FileGetCustomDataTag(again, TagName(t, round).c_str(), got.data()), b.size());
            EXPECT_EQ(got, b);
        }
}

INSTANTIATE_TEST_SUITE_P(Storage, CapiHandleStorageThreads, ::testing::Values(2, 0),
                         [](const ::testing::TestParamInfo<i32>& i) { return i.param == 0 ? "Deflated" : "Raw"; });

// Frame `id` of the write tests: its number in the first four bytes, a
// pattern of it after them.
void FillFrame(QORPICTURE& p, u32 id)
{
    unsigned char* b = static_cast<unsigned char*>(p.pData);
    std::memcpy(b, &id, 4);
    for (u64 i = 4; i < p.uiSize; ++i) b[i] = (unsigned char)(i * 13 + id * 7);
}

// Reads every frame of a finished file back; the ids found (a frame that
// is not exactly its pattern counts as id ~0).
std::vector<u32> FrameIds(const TempPath& path, u32 w, u32 h)
{
    std::vector<u32> ids;
    Handle r(path);
    EXPECT_NE(r.get(), 0);
    QORATTRIBUTES a;
    std::memset(&a, 0, sizeof a);
    EXPECT_EQ(Qor_FileGetAttributes(r, &a), 0);
    Picture pic(w, h), want(w, h);
    double info[4];
    for (u32 f = 0; f < a.uiSequenceCount; ++f) {
        u32 id = ~0u;
        if (Qor_FileGetImageData(r, f, &pic.p, info) == 0) {
            std::memcpy(&id, pic.p.pData, 4);
            FillFrame(want.p, id);
            if (pic.bytes() != want.bytes()) id = ~0u;
        }
        ids.push_back(id);
    }
    return ids;
}

TEST_F(CapiHandleThreads, OneWriteHandleTakesFramesFromManyThreads)
{
    constexpr u32 kPerThread = 8, kPw = 32, kPh = 16;
    TempPath path("written.vt5");
    const int h = Qor_FileOpenForWrite(path.w());
    ASSERT_NE(h, 0);
    StartLine start(kThreads);
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            Picture pic(kPw, kPh);
            start.arrive();
            for (u32 k = 0; k < kPerThread; ++k) {
                FillFrame(pic.p, (u32)t * 100 + k);
                if (Qor_FileAppendImageData(h, &pic.p, nullptr) != 0) failed.fetch_add(1);
                if (k % 4 == 0) {
                    const Bytes b = TagBytes(t, (int)k);
                    if (Qor_FileSetCustomDataTag(h, TagName(t, (int)k).c_str(), b.data(), (int)b.size()) != 0)
                        failed.fetch_add(1);
                }
            }
        });
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(failed.load(), 0);
    ASSERT_EQ(Qor_FileClose(h), 0);

    // Exactly the frames sent, each once, in some order.
    std::vector<u32> ids = FrameIds(path, kPw, kPh);
    ASSERT_EQ(ids.size(), (size_t)kThreads * kPerThread);
    std::sort(ids.begin(), ids.end());
    std::vector<u32> sent;
    for (int t = 0; t < kThreads; ++t)
        for (u32 k = 0; k < kPerThread; ++k) sent.push_back((u32)t * 100 + k);
    EXPECT_EQ(ids, sent);
    Handle r(path);
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < (int)kPerThread; k += 4) {
            const Bytes b = TagBytes(t, k);
            Bytes got(b.size(), 0);
            EXPECT_EQ(Qor_FileGetCustomDataTag(r, TagName(t, k).c_str(), got.data()), b.size());
            EXPECT_EQ(got, b);
        }
}

TEST_F(CapiHandleThreads, CloseRacingReadsGivesUnknownHandleCodes)
{
    SharedFile file;
    if (HasFatalFailure()) return;
    constexpr int kReaders = 6, kRounds = 12;
    for (int round = 0; round < kRounds; ++round) {
        const int h = Qor_FileOpenForRead(file.path.w());
        ASSERT_NE(h, 0);
        std::atomic<int> successes{0}, unexpected{0}, reopened{0}, running{kReaders};
        std::vector<std::thread> threads;
        for (int t = 0; t < kReaders; ++t)
            threads.emplace_back([&, t] {
                struct Leave {
                    std::atomic<int>& n;
                    ~Leave() { n.fetch_sub(1); }
                } leave{running};
                Picture pic(kW, kH);
                bool gone = false;
                // Until the handle has been seen closed a few times, each call
                // gives its success code or its code for an unknown handle;
                // once closed, the handle stays unknown.
                for (int closedSeen = 0; closedSeen < 3;) {
                    int r = 0, ok = 0, unknown = 0;
                    double info[4];
                    QORATTRIBUTES a;
                    int id = 1;
                    QORUSEREVENT e;
                    switch ((t + successes.load()) % 4) {
                    case 0: r = Qor_FileGetImageData(h, (u32)t % kFrames, &pic.p, info), unknown = -9; break;
                    case 1: r = Qor_FileGetAttributes(h, &a), unknown = -13; break;
                    case 2: r = Qor_GetNextUserEvent(h, &id, &e), unknown = -13; break;
                    default:
                        r = (int)Qor_FileGetCustomDataTag(h, L"Tag1", nullptr), ok = 5, unknown = 0;
                        break;
                    }
                    if (r == ok && !(ok == unknown)) {
                        successes.fetch_add(1);
                        if (gone) reopened.fetch_add(1);
                    } else if (r == unknown) {
                        gone = true;
                        ++closedSeen;
                    } else {
                        unexpected.fetch_add(1);
                    }
                }
            });
        // The close comes while the calls run, from two threads at once:
        // one of them closes, the other finds the number unknown.
        while (successes.load() < 4 * kReaders && running.load() > 0) std::this_thread::yield();
        std::atomic<int> results[2] = {{1}, {1}};
        std::thread c1([&] { results[0] = Qor_FileClose(h); });
        std::thread c2([&] { results[1] = Qor_FileClose(h); });
        c1.join();
        c2.join();
        for (std::thread& th : threads) th.join();
        std::vector<int> closes{results[0].load(), results[1].load()};
        std::sort(closes.begin(), closes.end());
        EXPECT_EQ(closes, (std::vector<int>{-13, 0})) << round;
        EXPECT_EQ(unexpected.load(), 0) << round;
        EXPECT_EQ(reopened.load(), 0) << round;
    }
}

TEST_F(CapiHandleThreads, CloseRacingAppendsKeepsEveryFrameReportedStored)
{
    constexpr int kWriters = 4;
    constexpr u32 kPw = 16, kPh = 8;
    for (int round = 0; round < 4; ++round) {
        TempPath path("appended.vt5");
        const int h = Qor_FileOpenForWrite(path.w());
        ASSERT_NE(h, 0);
        std::atomic<int> stored{0}, unexpected{0};
        std::vector<std::vector<u32>> landed(kWriters);
        std::vector<std::thread> threads;
        for (int t = 0; t < kWriters; ++t)
            threads.emplace_back([&, t] {
                Picture pic(kPw, kPh);
                for (u32 k = 0;; ++k) {
                    const u32 id = (u32)t * 100000 + k;
                    FillFrame(pic.p, id);
                    const int r = Qor_FileAppendImageData(h, &pic.p, nullptr);
                    if (r == -13) break;
                    if (r != 0) {
                        unexpected.fetch_add(1);
                        break;
                    }
                    landed[t].push_back(id);
                    stored.fetch_add(1);
                }
            });
        while (stored.load() < 40 && unexpected.load() == 0) std::this_thread::yield();
        EXPECT_EQ(Qor_FileClose(h), 0);
        for (std::thread& th : threads) th.join();
        EXPECT_EQ(unexpected.load(), 0);

        // Every append that reported success is in the file, and nothing else.
        std::vector<u32> want;
        for (const auto& l : landed) want.insert(want.end(), l.begin(), l.end());
        std::sort(want.begin(), want.end());
        std::vector<u32> ids = FrameIds(path, kPw, kPh);
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(ids, want) << round;
    }
}

}  // namespace
