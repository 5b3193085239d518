// Frames through the exported C interface beside their plain peers, measured
// in the same run on page-cache-resident files of 4 MiB frames:
//   BM_QorGetDataRaw       Qor_FileGetImageData of raw frames vs pread of the
//                          same bytes
//   BM_QorGetDataDeflated  Qor_FileGetImageData of deflated frames vs zlib
//                          uncompress alone on the same stored bytes (in memory)
//   BM_QorAppendRaw        Qor_FileAppendImageData of raw frames (and the
//                          close) vs write of the same bytes (and close)
// Ratio = peer time / our time (1.0: as fast as the peer), from the best and
// the median of several passes, each frame's two operations in turns, timed
// in the thread's CPU time. Files go to /dev/shm when it exists, else /tmp;
// VT5_BENCH_DIR overrides.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "gnr_system/CKzByteArray.h"
#include "vt5file/CKzFileChunker.h"
#include "vt5file/KzVT5Names.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"

namespace {

constexpr u32 kFrames = 16;
constexpr u32 kWidth = 2048, kHeight = 1024;  // 16-bit grey: 4 MiB a frame
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 2;
constexpr int kPasses = 9;

struct Workspace {
    Workspace()
    {
        std::string base = "/tmp";
        if (const char* env = std::getenv("VT5_BENCH_DIR"))
            base = env;
        else if (std::filesystem::is_directory("/dev/shm"))
            base = "/dev/shm";
        std::string tmpl = base + "/vt5_qorfile_bench_XXXXXX";
        if (!mkdtemp(tmpl.data()))
            std::abort();
        dir = tmpl;
        if (!Qor_InitPicture(&frame, kWidth, kHeight, 16, 1) || !Qor_InitPicture(&buffer, kWidth, kHeight, 16, 1))
            std::abort();
        // A smooth picture with some noise: deflates to a fraction, as camera frames do.
        u32 x = 12345;
        for (u32 r = 0; r < kHeight; ++r)
            for (u32 c = 0; c < kWidth; ++c) {
                x = x * 1664525u + 1013904223u;
                const u16 v = (u16)(1000 + r + c / 2 + (x >> 28));
                std::memcpy(static_cast<u8*>(frame.pData) + ((size_t)r * kWidth + c) * 2, &v, 2);
            }
    }
    ~Workspace()
    {
        Qor_DestroyPicture(&frame);
        Qor_DestroyPicture(&buffer);
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
    QORPICTURE frame{};
    QORPICTURE buffer{};
};

Workspace& ws()
{
    static Workspace w;
    return w;
}

double threadSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// One frame's work of the peer and of ours, timed apart, in turns: which one
// goes first alternates, so neither always finds the caches as the other left
// them. Thread CPU time (user and system): the page-cache copies run in the
// system part, and time spent preempted by other load is left out.
template <class Peer, class Ours>
void inTurns(u32 turn, double& peerTime, double& ourTime, Peer peer, Ours ours)
{
    for (int step = 0; step < 2; ++step) {
        const bool doPeer = (step == 0) == (turn % 2 == 0);
        const double t0 = threadSeconds();
        if (doPeer)
            peer();
        else
            ours();
        (doPeer ? peerTime : ourTime) += threadSeconds() - t0;
    }
}

// A write handle for a new file of the bench's geometry and compression.
int openForWrite(const std::wstring& path, u32 compression)
{
    const int w = Qor_FileOpenForWrite(path.c_str());
    if (!w)
        std::abort();
    QORATTRIBUTES a{};
    a.uiWidth = kWidth;
    a.uiWidthBytes = kWidth * 2;
    a.uiHeight = kHeight;
    a.uiComp = 1;
    a.uiBpcInMemory = a.uiBpcSignificant = 16;
    a.uiCompression = compression;
    a.uiQuality = 100;  // zlib level 1
    if (SKzQorFileHandle::FileSetAttributes(w, &a) != 0)
        std::abort();
    return w;
}

void writeFile(const std::wstring& path, u32 compression)
{
    const int w = openForWrite(path, compression);
    for (u32 k = 0; k < kFrames; ++k)
        if (Qor_FileAppendImageData(w, &ws().frame, nullptr) != 0)
            std::abort();
    if (Qor_FileClose(w) != 0)
        std::abort();
}

int openForRead(const std::wstring& path)
{
    const int h = Qor_FileOpenForRead(path.c_str());
    if (!h)
        std::abort();
    return h;
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

void BM_QorGetDataRaw(benchmark::State& state)
{
    const std::wstring path = ws().wfile("raw.vt5");
    writeFile(path, QOR_COMPRESSION_RAW);
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
    const int h = openForRead(path);
    double info[4];
    std::vector<double> peer, ours;
    for (auto _ : state) {
        for (int pass = 0; pass < kPasses; ++pass) {
            double p = 0, o = 0;
            for (u32 f = 0; f < kFrames; ++f)
                inTurns(f + pass, p, o, [&] {
                    if (pread(fd, ws().buffer.pData, kFrameBytes, (off_t)at[f]) != (ssize_t)kFrameBytes)
                        std::abort();
                }, [&] {
                    if (Qor_FileGetImageData(h, f, &ws().buffer, info) != 0)
                        std::abort();
                });
            peer.push_back(p);
            ours.push_back(o);
        }
        benchmark::DoNotOptimize(ws().buffer.pData);
    }
    Qor_FileClose(h);
    close(fd);
    report(state, peer, ours, double(kFrames) * kFrameBytes);
}
BENCHMARK(BM_QorGetDataRaw)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QorGetDataDeflated(benchmark::State& state)
{
    const std::wstring path = ws().wfile("deflated.vt5");
    writeFile(path, QOR_COMPRESSION_DEFLATE);
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
    const int h = openForRead(path);
    double info[4];
    std::vector<double> peer, ours;
    for (auto _ : state) {
        for (int pass = 0; pass < kPasses; ++pass) {
            double p = 0, o = 0;
            for (u32 f = 0; f < kFrames; ++f)
                inTurns(f + pass, p, o, [&] {
                    uLongf n = kFrameBytes;
                    if (uncompress(static_cast<Bytef*>(ws().buffer.pData), &n, stored[f].data(), stored[f].size()) !=
                        Z_OK)
                        std::abort();
                }, [&] {
                    if (Qor_FileGetImageData(h, f, &ws().buffer, info) != 0)
                        std::abort();
                });
            peer.push_back(p);
            ours.push_back(o);
        }
        benchmark::DoNotOptimize(ws().buffer.pData);
    }
    Qor_FileClose(h);
    state.counters["Stored_fraction"] = double(stored[0].size()) / kFrameBytes;
    report(state, peer, ours, double(kFrames) * kFrameBytes);
}
BENCHMARK(BM_QorGetDataDeflated)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QorAppendRaw(benchmark::State& state)
{
    std::vector<double> peer, ours;
    const double t = 0.0;
    for (auto _ : state) {
        for (int pass = 0; pass < kPasses; ++pass) {
            std::filesystem::remove(ws().file("plain.bin"));
            std::filesystem::remove(ws().file("w.vt5"));
            double p = 0, o = 0;
            const double t0 = threadSeconds();
            const int fd = open(ws().file("plain.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const double t1 = threadSeconds();
            const int w = openForWrite(ws().wfile("w.vt5"), QOR_COMPRESSION_RAW);
            const double t2 = threadSeconds();
            p += t1 - t0;
            o += t2 - t1;
            for (u32 f = 0; f < kFrames; ++f)
                inTurns(f + pass, p, o, [&] {
                    if (write(fd, &t, 8) != 8 ||
                        write(fd, ws().frame.pData, kFrameBytes) != (ssize_t)kFrameBytes)
                        std::abort();
                }, [&] {
                    if (Qor_FileAppendImageData(w, &ws().frame, nullptr) != 0)
                        std::abort();
                });
            const double v0 = threadSeconds();
            close(fd);
            const double v1 = threadSeconds();
            if (Qor_FileClose(w) != 0)
                std::abort();
            const double v2 = threadSeconds();
            peer.push_back(p + (v1 - v0));
            ours.push_back(o + (v2 - v1));
        }
    }
    report(state, peer, ours, double(kFrames) * kFrameBytes);
}
BENCHMARK(BM_QorAppendRaw)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
