// Frame reads and writes of the VT5 readers and writers beside their plain
// peers, measured in the same run on page-cache-resident files of 4 MiB
// frames:
//   BM_RawGetData       reader GetData of raw frames vs pread of the same bytes
//   BM_DeflatedGetData  reader GetData of deflated frames vs zlib uncompress
//                       alone on the same stored bytes (already in memory)
//   BM_RawFlushData     writer FlushData of raw frames vs write of the same bytes
// Ratio = peer time / our time (1.0: as fast as the peer), from the best and
// the median of several interleaved passes. Files go to /dev/shm when it
// exists, else /tmp; VT5_BENCH_DIR overrides.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gnr_system/CKzByteArray.h"
#include "vt5file/CKzFileChunker.h"
#include "vt5file/CKzImageFormatVT5.h"
#include "vt5file/CKzVT5OutputFile.h"
#include "vt5file/KzVT5Names.h"

namespace {

constexpr u32 kFrames = 16;
constexpr u32 kWidth = 2048, kHeight = 1024;  // 16-bit grey: 4 MiB a frame
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 2;
constexpr int kPasses = 7;

struct Workspace {
    Workspace()
    {
        std::string base = "/tmp";
        if (const char* env = std::getenv("VT5_BENCH_DIR"))
            base = env;
        else if (std::filesystem::is_directory("/dev/shm"))
            base = "/dev/shm";
        std::string tmpl = base + "/vt5_file_bench_XXXXXX";
        if (!mkdtemp(tmpl.data()))
            std::abort();
        dir = tmpl;
        // A smooth picture with some noise: deflates to a fraction, as camera frames do.
        frame.resize(kFrameBytes);
        u32 x = 12345;
        for (u32 r = 0; r < kHeight; ++r)
            for (u32 c = 0; c < kWidth; ++c) {
                x = x * 1664525u + 1013904223u;
                const u16 v = (u16)(1000 + r + c / 2 + (x >> 28));
                std::memcpy(&frame[((size_t)r * kWidth + c) * 2], &v, 2);
            }
        buffer.resize(kFrameBytes);
    }
    ~Workspace()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string file(const char* name) const { return dir + "/" + name; }
    std::wstring wfile(const char* name) const
    {
        const std::string s = file(name);
        return std::wstring(s.begin(), s.end());
    }
    std::string dir;
    std::vector<u8> frame;
    std::vector<u8> buffer;
};

Workspace& ws()
{
    static Workspace w;
    return w;
}

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

void writeFile(const std::wstring& path, i32 compression)
{
    CKzImageFormatVT5 format;
    IKzOutputImageFile* w = nullptr;
    if (format.CreateOutputImageFile(CKzStringW(path.c_str()), w) != 0)
        std::abort();
    SKzImageAttributes a{};
    a.uiWidth = kWidth;
    a.uiHeight = kHeight;
    a.uiComp = 1;
    a.uiBpcInMemory = a.uiBpcSignificant = 16;
    a.ePixelType = 1;
    a.eCompression = compression;
    a.dCompressionParam = 1;
    w->SetImageAttributes(a);
    for (u32 k = 0; k < kFrames; ++k)
        if (w->FlushData(k, ws().frame.data(), nullptr, nullptr) != 0)
            std::abort();
    if (w->Release() != 0)
        std::abort();
}

IKzInputImageFile* openReader(const std::wstring& path)
{
    CKzImageFormatVT5 format;
    IKzInputImageFile* r = nullptr;
    if (format.CreateInputImageFile(CKzStringW(path.c_str()), r) != 0)
        std::abort();
    return r;
}

void report(benchmark::State& state, std::vector<double> peer, std::vector<double> ours, double bytes)
{
    std::sort(peer.begin(), peer.end());
    std::sort(ours.begin(), ours.end());
    const double gib = double(1 << 30);
    state.counters["Peer_GiBps_best"] = bytes / peer.front() / gib;
    state.counters["Ours_GiBps_best"] = bytes / ours.front() / gib;
    state.counters["Ratio_best"] = peer.front() / ours.front();
    state.counters["Ratio_median"] = peer[peer.size() / 2] / ours[ours.size() / 2];
}

void BM_RawGetData(benchmark::State& state)
{
    const std::wstring path = ws().wfile("raw.vt5");
    writeFile(path, 2);
    // Where each frame's bytes lie, for the plain reads of the same bytes.
    std::vector<u64> at(kFrames);
    {
        CKzFileChunker c;
        CKzStringA v;
        c.Initialize_File(path.c_str(), true, false, v);
        for (u32 k = 0; k < kFrames; ++k) {
            SKzChunkMapMember m;
            if (!c.GetMapMember(vt5names::Indexed(vt5names::kFrame, k).c_str(), m))
                std::abort();
            at[k] = m.uiOffset + 4096;  // the frame starts on the block after the time
        }
        c.Finalize();
    }
    const int fd = open(ws().file("raw.vt5").c_str(), O_RDONLY);
    IKzInputImageFile* r = openReader(path);
    std::vector<double> peer, ours;
    for (auto _ : state) {
        for (int pass = 0; pass < kPasses; ++pass) {
            auto t0 = std::chrono::steady_clock::now();
            for (u32 k = 0; k < kFrames; ++k)
                if (pread(fd, ws().buffer.data(), kFrameBytes, (off_t)at[k]) != (ssize_t)kFrameBytes)
                    std::abort();
            auto t1 = std::chrono::steady_clock::now();
            for (u32 k = 0; k < kFrames; ++k)
                if (r->GetData(k, ws().buffer.data(), nullptr, nullptr) != 0)
                    std::abort();
            auto t2 = std::chrono::steady_clock::now();
            peer.push_back(seconds(t0, t1));
            ours.push_back(seconds(t1, t2));
        }
        benchmark::DoNotOptimize(ws().buffer.data());
    }
    r->Release();
    close(fd);
    report(state, peer, ours, double(kFrames) * kFrameBytes);
}
BENCHMARK(BM_RawGetData)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DeflatedGetData(benchmark::State& state)
{
    const std::wstring path = ws().wfile("deflated.vt5");
    writeFile(path, 0);
    // The stored zlib streams, in memory, for uncompress alone.
    std::vector<std::vector<u8>> stored(kFrames);
    {
        CKzFileChunker c;
        CKzStringA v;
        c.Initialize_File(path.c_str(), true, false, v);
        CKzByteArray b;
        for (u32 k = 0; k < kFrames; ++k) {
            if (c.GetChunk(b, vt5names::Indexed(vt5names::kFrame, k).c_str()) != 0)
                std::abort();
            stored[k].assign(b.GetData() + 8, b.GetData() + b.GetSize());
        }
        c.Finalize();
    }
    IKzInputImageFile* r = openReader(path);
    std::vector<double> peer, ours;
    for (auto _ : state) {
        for (int pass = 0; pass < kPasses; ++pass) {
            auto t0 = std::chrono::steady_clock::now();
            for (u32 k = 0; k < kFrames; ++k) {
                uLongf n = kFrameBytes;
                if (uncompress(ws().buffer.data(), &n, stored[k].data(), stored[k].size()) != Z_OK)
                    std::abort();
            }
            auto t1 = std::chrono::steady_clock::now();
            for (u32 k = 0; k < kFrames; ++k)
                if (r->GetData(k, ws().buffer.data(), nullptr, nullptr) != 0)
                    std::abort();
            auto t2 = std::chrono::steady_clock::now();
            peer.push_back(seconds(t0, t1));
            ours.push_back(seconds(t1, t2));
        }
        benchmark::DoNotOptimize(ws().buffer.data());
    }
    r->Release();
    state.counters["Stored_fraction"] = double(stored[0].size()) / kFrameBytes;
    report(state, peer, ours, double(kFrames) * kFrameBytes);
}
BENCHMARK(BM_DeflatedGetData)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RawFlushData(benchmark::State& state)
{
    std::vector<double> peer, ours;
    const double t = 0.0;
    for (auto _ : state) {
        for (int pass = 0; pass < kPasses; ++pass) {
            std::filesystem::remove(ws().file("plain.bin"));
            std::filesystem::remove(ws().file("w.vt5"));
            auto t0 = std::chrono::steady_clock::now();
            const int fd = open(ws().file("plain.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            for (u32 k = 0; k < kFrames; ++k)
                if (write(fd, &t, 8) != 8 ||
                    write(fd, ws().frame.data(), kFrameBytes) != (ssize_t)kFrameBytes)
                    std::abort();
            close(fd);
            auto t1 = std::chrono::steady_clock::now();
            writeFile(ws().wfile("w.vt5"), 2);
            auto t2 = std::chrono::steady_clock::now();
            peer.push_back(seconds(t0, t1));
            ours.push_back(seconds(t1, t2));
        }
    }
    report(state, peer, ours, double(kFrames) * kFrameBytes);
}
BENCHMARK(BM_RawFlushData)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
