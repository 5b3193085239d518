// Writes 256 frames of 4 MiB as two-part chunks (8-byte time + frame) and
// reads them back by name, beside the same bytes written and read with plain
// stdio in the same run: the counters give both throughputs and their ratio
// (plain time / chunker time; 1.0 means as fast as plain stdio).
// BM_ReadOneOfMany shows the cost of reading one chunk as the map grows.
// The files go to /dev/shm when it exists (so the disk's write-back does
// not drown the comparison), else /tmp; VT5_BENCH_DIR overrides.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"
#include "vt5file/CKzFileChunker.h"

namespace {

constexpr int kFrames = 256;
constexpr size_t kFrameBytes = size_t(4) << 20;

struct Workspace {
    Workspace()
    {
        std::string base = "/tmp";
        if (const char* env = std::getenv("VT5_BENCH_DIR"))
            base = env;
        else if (std::filesystem::is_directory("/dev/shm"))
            base = "/dev/shm";
        std::string tmpl = base + "/vt5_chunker_bench_XXXXXX";
        if (!mkdtemp(tmpl.data()))
            std::abort();
        dir = tmpl;
        frame.resize(kFrameBytes);
        for (size_t i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
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
    std::vector<unsigned char> frame;
};

Workspace& ws()
{
    static Workspace w;
    return w;
}

std::string frameName(int i)
{
    CKzStringA n;
    n.Format("ImageDataSeq|%i!", i);
    return n.GetString();
}

void writeChunker(const std::wstring& path, int frames)
{
    CKzFileChunker c;
    CKzStringA v("Ver3.0", 0);
    if (c.Initialize_File(path.c_str(), false, false, v) != 0)
        std::abort();
    for (int i = 0; i < frames; ++i) {
        const u64 t = 1000u + i;
        if (c.SetChunk(&t, 8, ws().frame.data(), static_cast<unsigned>(kFrameBytes), frameName(i).c_str()) != 0)
            std::abort();
    }
    if (c.Finalize() != 0)
        std::abort();
}

void writeStdio(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    for (int i = 0; i < kFrames; ++i) {
        const u64 t = 1000u + i;
        if (std::fwrite(&t, 1, 8, f) != 8 || std::fwrite(ws().frame.data(), 1, kFrameBytes, f) != kFrameBytes)
            std::abort();
    }
    std::fclose(f);
}

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Throughputs and ratio (plain time / chunker time) from the best and the
// median pass of each method: the best pass is the one least disturbed by
// other load on the machine.
void report(benchmark::State& state, std::vector<double> plain, std::vector<double> ours)
{
    std::sort(plain.begin(), plain.end());
    std::sort(ours.begin(), ours.end());
    const double bytes = double(kFrames) * (kFrameBytes + 8);
    const double gib = double(1 << 30);
    state.counters["Stdio_GiBps_best"] = bytes / plain.front() / gib;
    state.counters["Chunker_GiBps_best"] = bytes / ours.front() / gib;
    state.counters["Ratio_best"] = plain.front() / ours.front();
    state.counters["Ratio_median"] = plain[plain.size() / 2] / ours[ours.size() / 2];
}

// Each iteration writes the frames once with stdio and once as chunks, in
// alternating order, each into a file removed beforehand.
void BM_WriteFrames(benchmark::State& state)
{
    std::vector<double> plain, ours;
    bool stdioFirst = true;
    for (auto _ : state) {
        double pair = 0;
        for (int k = 0; k < 2; ++k) {
            const bool doStdio = (k == 0) == stdioFirst;
            std::remove(ws().file(doStdio ? "frames.raw" : "frames.vt5").c_str());
            const auto t0 = std::chrono::steady_clock::now();
            if (doStdio)
                writeStdio(ws().file("frames.raw"));
            else
                writeChunker(ws().wfile("frames.vt5"), kFrames);
            const double t = seconds(t0, std::chrono::steady_clock::now());
            (doStdio ? plain : ours).push_back(t);
            pair += t;
        }
        stdioFirst = !stdioFirst;
        state.SetIterationTime(pair);
    }
    report(state, plain, ours);
}

// Each iteration reads every frame back once from each file: by name from
// the container, by offset from the plain file.
void BM_ReadFrames(benchmark::State& state)
{
    writeStdio(ws().file("frames.raw"));
    writeChunker(ws().wfile("frames.vt5"), kFrames);
    CKzByteArray data(4096);
    std::vector<unsigned char> buf(kFrameBytes + 8);
    std::vector<std::string> names;
    for (int i = 0; i < kFrames; ++i)
        names.push_back(frameName(i));
    std::vector<double> plain, ours;
    bool stdioFirst = true;
    for (auto _ : state) {
        double pair = 0;
        for (int k = 0; k < 2; ++k) {
            const bool doStdio = (k == 0) == stdioFirst;
            const auto t0 = std::chrono::steady_clock::now();
            if (doStdio) {
                FILE* f = std::fopen(ws().file("frames.raw").c_str(), "rb");
                if (!f)
                    std::abort();
                for (int i = 0; i < kFrames; ++i) {
                    if (fseeko(f, static_cast<off_t>(i) * (kFrameBytes + 8), SEEK_SET) != 0 ||
                        std::fread(buf.data(), 1, buf.size(), f) != buf.size())
                        std::abort();
                }
                std::fclose(f);
                benchmark::DoNotOptimize(buf.data());
            } else {
                CKzFileChunker c;
                CKzStringA v;
                if (c.Initialize_File(ws().wfile("frames.vt5").c_str(), true, true, v) != 0)
                    std::abort();
                for (int i = 0; i < kFrames; ++i)
                    if (c.GetChunk(data, names[i].c_str()) != 0 || data.GetSize() != kFrameBytes + 8)
                        std::abort();
                c.Finalize();
                benchmark::DoNotOptimize(data.GetData());
            }
            const double t = seconds(t0, std::chrono::steady_clock::now());
            (doStdio ? plain : ours).push_back(t);
            pair += t;
        }
        stdioFirst = !stdioFirst;
        state.SetIterationTime(pair);
    }
    report(state, plain, ours);
}

// Reading one small chunk by name while the container holds more and more chunks.
void BM_ReadOneOfMany(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const std::wstring path = ws().wfile("many.vt5");
    {
        CKzFileChunker c;
        CKzStringA v("Ver3.0", 0);
        if (c.Initialize_File(path.c_str(), false, false, v) != 0)
            std::abort();
        for (int i = 0; i < count; ++i) {
            const u64 t = i;
            if (c.SetChunk(&t, 8, frameName(i).c_str()) != 0)
                std::abort();
        }
        c.Finalize();
    }
    CKzFileChunker c;
    CKzStringA v;
    if (c.Initialize_File(path.c_str(), true, true, v) != 0)
        std::abort();
    CKzByteArray data(4096);
    const std::string name = frameName(count / 2);
    for (auto _ : state) {
        if (c.GetChunk(data, name.c_str()) != 0)
            std::abort();
        benchmark::DoNotOptimize(data.GetData());
    }
    c.Finalize();
}

} // namespace

BENCHMARK(BM_WriteFrames)->Iterations(10)->UseManualTime();
BENCHMARK(BM_ReadFrames)->Iterations(12)->UseManualTime();
BENCHMARK(BM_ReadOneOfMany)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
