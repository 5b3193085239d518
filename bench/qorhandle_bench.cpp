// Opening a file through the handle layer does no per-frame work beyond the
// container's own map and the acquisition-time cache. Two files of the same
// description, 10 and 100,000 frames, are opened (and closed) through the
// handle layer; beside that, in the same run and in turns, the bare
// container open (and close) and the acquisition-time cache load (its chunk
// read and checked on an open container) are timed:
//   rest = handle open - bare container open - cache load
// BM_HandleOpenRest reports each time (medians) and Ratio_rest = rest(100,000)
// / rest(10), the rest taken per pass and its median over many passes; the
// target is at most 1.2.
// Times are the process's CPU time (the container walks a large map on
// several threads); large blocks are kept in the heap (mallopt) so that page
// faults of fresh mappings do not blur them. Files go to /dev/shm when it
// exists, else /tmp; VT5_BENCH_DIR overrides.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzVariant.h"
#include "vt5file/CKzFileChunker.h"
#include "vt5file/CKzImageFormatVT5.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"

namespace {

constexpr u32 kSmall = 10, kLarge = 100000;
constexpr int kPasses = 301;

struct Workspace {
    Workspace()
    {
        std::string base = "/tmp";
        if (const char* env = std::getenv("VT5_BENCH_DIR"))
            base = env;
        else if (std::filesystem::is_directory("/dev/shm"))
            base = "/dev/shm";
        std::string tmpl = base + "/vt5_qorhandle_bench_XXXXXX";
        if (!mkdtemp(tmpl.data()))
            std::abort();
        dir = tmpl;
    }
    ~Workspace()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::wstring wfile(const char* name) const
    {
        const std::string s = dir + "/" + name;
        return std::wstring(s.begin(), s.end());
    }
    std::string dir;
};

Workspace& ws()
{
    static Workspace w;
    return w;
}

double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// A file of `frames` 4 x 4 frames with the same description whatever the
// count: a time loop of the frames, frame metadata, texts, two tags, two
// binary-layer descriptors; the writer stores the time cache at the close.
void writeFile(const std::wstring& path, u32 frames)
{
    CKzImageFormatVT5 format;
    IKzOutputImageFile* w = nullptr;
    if (format.CreateOutputImageFile(CKzStringW(path.c_str()), w) != 0)
        std::abort();
    SKzImageAttributes a{};
    a.uiWidth = 4;
    a.uiHeight = 4;
    a.uiComp = 1;
    a.uiBpcInMemory = a.uiBpcSignificant = 8;
    a.ePixelType = 1;
    a.eCompression = 2;
    a.uiSequenceCount = frames;
    w->SetImageAttributes(a);
    SKzPictureMetadata md;
    md.wsObjectiveName = L"Plan 20x";
    SKzPicturePlanes::Alloc(md.sPicturePlanes, 1, 1);
    md.sPicturePlanes.uiCompCount = 1;
    md.dTimeMSec = 0;
    w->SetImageMetadata(0, md, nullptr);
    SKzExperiment* e = nullptr;
    SKzExperiment::Alloc(&e);
    SKzExperiment::Init(*e, SKzExperiment::eExpTimeLoop, false, frames, 0, 0, 1);
    e->uLoopPars.sTimeLoop.dPeriod = 100.0;
    w->SetImageMetadata(*e, nullptr);
    SKzExperiment::FreeRecursive(e);
    SKzImageTextInfo info;
    info.wsText[0] = L"%OBJECTIVE%";
    w->SetImageTextInfo(info);
    const u32 list[] = {'a', 0, 'b', 0, 0};
    w->SetCustomData(L"QorApi_CustomData", list, sizeof(list));
    w->SetCustomData(L"a", "tag a", 5);
    w->SetCustomData(L"b", "tag b", 5);
    CKzVariant root;
    root.EnableTypeChange(true);
    root.SetName(CKzStringW(L"BinaryMetadata_v1"));
    for (int i = 0; i < 2; ++i) {
        CKzVariant item;
        item.SetName(CKzStringW(L"BinaryItem"));
        item.Append(CKzVariant(CKzStringW(i ? L"Nuclei" : L"Cells"), CKzStringW(L"strName")));
        root.Append(item);
    }
    w->SetCustomDataVar(L"BinaryMetadata_v1", &root);
    unsigned char frame[16] = {};
    for (u32 f = 0; f < frames; ++f) {
        if (f) {
            md.dTimeMSec = f * 100.0;
            w->SetImageMetadata(f, md, nullptr);
        }
        if (w->FlushData(f, frame, nullptr, nullptr) != 0)
            std::abort();
    }
    if (w->Release() != 0)
        std::abort();
}

struct Times {
    std::vector<double> handle, bare, cache;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One pass over a file: the three measurements, in an order that turns.
void pass(const std::wstring& path, int turn, Times& t)
{
    for (int step = 0; step < 3; ++step) {
        switch ((step + turn) % 3) {
        case 0: {
            const double t0 = cpuSeconds();
            const int h = SKzQorFileHandle::OpenInputFile(path.c_str());
            if (!h || SKzQorFileHandle::Close(h) != 0)
                std::abort();
            t.handle.push_back(cpuSeconds() - t0);
            break;
        }
        case 1: {
            const double t0 = cpuSeconds();
            CKzFileChunker c;
            CKzStringA v;
            if (c.Initialize_File(path.c_str(), true, false, v) != 0)
                std::abort();
            c.Finalize();
            t.bare.push_back(cpuSeconds() - t0);
            break;
        }
        default: {
            CKzFileChunker c;
            CKzStringA v;
            if (c.Initialize_File(path.c_str(), true, false, v) != 0)
                std::abort();
            const double t0 = cpuSeconds();
            CKzByteArray cache(1024);
            if (c.GetChunk(cache, "CustomData|AcqTimesCache!") != 0)
                std::abort();
            SKzQorFileHandle::CheckAcqTimes(cache);
            t.cache.push_back(cpuSeconds() - t0);
            c.Finalize();
            break;
        }
        }
    }
}

void BM_HandleOpenRest(benchmark::State& state)
{
    const std::wstring small = ws().wfile("small.vt5");
    const std::wstring large = ws().wfile("large.vt5");
    // Large blocks stay in the heap between opens: otherwise every open of
    // the large file maps and faults in fresh pages for its chunk map and
    // time cache, and that noise drowns the difference measured here.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    writeFile(small, kSmall);
    writeFile(large, kLarge);
    SKzQorFileHandle::InitFormatManager();
    Times ts, tl;
    for (auto _ : state) {
        for (int p = 0; p < kPasses; ++p) {
            pass(small, p, ts);
            pass(large, p, tl);
        }
    }
    const double us = 1e6;
    // The rest of each pass (its three measurements were taken next to each
    // other), then the median over the passes.
    auto rest = [](const Times& t) {
        std::vector<double> r;
        for (size_t i = 0; i < t.handle.size(); ++i)
            r.push_back(t.handle[i] - t.bare[i] - t.cache[i]);
        return median(r);
    };
    const double restSmall = rest(ts), restLarge = rest(tl);
    state.counters["Small_handle_us"] = median(ts.handle) * us;
    state.counters["Small_bare_us"] = median(ts.bare) * us;
    state.counters["Small_cache_us"] = median(ts.cache) * us;
    state.counters["Small_rest_us"] = restSmall * us;
    state.counters["Large_handle_us"] = median(tl.handle) * us;
    state.counters["Large_bare_us"] = median(tl.bare) * us;
    state.counters["Large_cache_us"] = median(tl.cache) * us;
    state.counters["Large_rest_us"] = restLarge * us;
    state.counters["Ratio_rest"] = restLarge / restSmall;
}
BENCHMARK(BM_HandleOpenRest)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
