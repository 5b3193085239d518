// Writes 256 frames of 4 MiB as two-part chunks (8-byte time + frame) and
// reads them back by name, beside the same bytes written and read with plain
// stdio in the same run. Compare bytes_per_second of the pairs:
//   BM_Write/Chunker vs BM_Write/Stdio, BM_Read/Chunker vs BM_Read/Stdio.
// BM_ReadOneOfMany shows the cost of reading one chunk as the map grows.
#include <benchmark/benchmark.h>

#include <unistd.h>

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
        char tmpl[] = "/tmp/vt5_chunker_bench_XXXXXX";
        if (!mkdtemp(tmpl))
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

void BM_Write(benchmark::State& state)
{
    const bool chunker = state.range(0) == 1;
    for (auto _ : state) {
        if (chunker)
            writeChunker(ws().wfile("frames.vt5"), kFrames);
        else
            writeStdio(ws().file("frames.raw"));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFrames * (kFrameBytes + 8));
    state.SetLabel(chunker ? "Chunker" : "Stdio");
}

void BM_Read(benchmark::State& state)
{
    const bool chunker = state.range(0) == 1;
    if (chunker)
        writeChunker(ws().wfile("frames.vt5"), kFrames);
    else
        writeStdio(ws().file("frames.raw"));
    CKzByteArray data(4096);
    std::vector<unsigned char> buf(kFrameBytes + 8);
    std::vector<std::string> names;
    for (int i = 0; i < kFrames; ++i)
        names.push_back(frameName(i));
    for (auto _ : state) {
        if (chunker) {
            CKzFileChunker c;
            CKzStringA v;
            if (c.Initialize_File(ws().wfile("frames.vt5").c_str(), true, true, v) != 0)
                std::abort();
            for (int i = 0; i < kFrames; ++i)
                if (c.GetChunk(data, names[i].c_str()) != 0 || data.GetSize() != kFrameBytes + 8)
                    std::abort();
            c.Finalize();
            benchmark::DoNotOptimize(data.GetData());
        } else {
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
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFrames * (kFrameBytes + 8));
    state.SetLabel(chunker ? "Chunker" : "Stdio");
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

// Stdio first, then the chunker, alternating, three times each.
BENCHMARK(BM_Write)->Arg(0)->Arg(1)->Iterations(2)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Read)->Arg(0)->Arg(1)->Iterations(3)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadOneOfMany)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
