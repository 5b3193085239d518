// Writes 256 frames of 4 MiB as two-part chunks (8-byte time + frame) and
// reads them back by name, beside the same bytes written and read with plain
// stdio in the same run: the counters give both throughputs and their ratio
// (plain time / chunker time; 1.0 means as fast as plain stdio).
// BM_ReadOneOfMany shows the cost of reading one chunk as the map grows.
// BM_OpenVsMapRead opens a container read-only beside a plain read of its map
// chunk's bytes (open, pread into a fresh buffer, close) in the same run, and
// times closing and destroying it. BM_DamagedMapReadAll reads every entry of
// a map whose entries all point into garbage: the cost per entry stays flat
// as the number of entries grows.
// The files go to /dev/shm when it exists (so the disk's write-back does
// not drown the comparison), else /tmp; VT5_BENCH_DIR overrides.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"
#include "vt5file/CKzFileChunker.h"
#include "vt5file/CKzFileChunkerMap.h"

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


void le32(std::vector<unsigned char>& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void le64(std::vector<unsigned char>& b, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

const char kSigName[] = "VT5 FILE SIGNATURE CHUNK NAME01!";
const char kMapName[] = "VT5 FILEMAP SIGNATURE NAME 0001!";
const char kMapSig[] = "VT5 CHUNK MAP SIGNATURE 0000001!";

// Appends the map chunk (entries listed in descending name order) and the
// trailer to the file bytes f; returns the offset and length of its data.
std::pair<uint64_t, uint64_t> appendMap(std::vector<unsigned char>& f, const std::map<std::string, uint64_t>& entries)
{
    f.resize((f.size() + 4095) / 4096 * 4096, 0);
    const uint64_t mapAt = f.size();
    std::vector<unsigned char> data;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        data.insert(data.end(), it->first.begin(), it->first.end());
        le64(data, it->second);
        le64(data, 8);
    }
    data.insert(data.end(), kMapSig, kMapSig + 32);
    le64(data, mapAt);
    const size_t fixed = 48 + data.size() + 40;
    data.resize(data.size() + (4096 - fixed % 4096) % 4096, 0);
    data.insert(data.end(), kMapSig, kMapSig + 32);
    le64(data, mapAt);
    le32(f, 0x0ABECEDA);
    le32(f, 32);
    le64(f, data.size());
    f.insert(f.end(), kMapName, kMapName + 32);
    f.insert(f.end(), data.begin(), data.end());
    return {mapAt + 48, data.size()};
}

std::vector<unsigned char> signatureBlock()
{
    std::vector<unsigned char> f;
    le32(f, 0x0ABECEDA);
    le32(f, 32);
    le64(f, 64);
    f.insert(f.end(), kSigName, kSigName + 32);
    const char version[] = "Ver3.0";
    f.insert(f.end(), version, version + 6);
    f.resize(4096, 0);
    return f;
}

void writeBytes(const std::string& path, const std::vector<unsigned char>& f)
{
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out || std::fwrite(f.data(), 1, f.size(), out) != f.size())
        std::abort();
    std::fclose(out);
}

// Opening read-only against a plain read of the map's bytes; the counters
// give open / plain read (best and median pass) and the cost of closing and
// destroying the container per chunk.
void BM_OpenVsMapRead(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    // A map as a writer of frames leaves it: names sharing their first 13
    // characters; the entries' chunks are not read by opening.
    std::vector<unsigned char> f = signatureBlock();
    std::map<std::string, uint64_t> entries;
    for (int i = 0; i < count; ++i)
        entries[frameName(i)] = 4096u * (i + 1);
    const auto [dataAt, dataLength] = appendMap(f, entries);
    const std::string path = ws().file("open.vt5");
    writeBytes(path, f);
    const std::wstring wpath(path.begin(), path.end());

    std::vector<double> plain, open, close, walk;
    bool plainFirst = true;
    for (auto _ : state) {
        {
            // The map's own work alone: its bytes already read (in cache, as
            // after the read), walked and checked into a map.
            const int fd = ::open(path.c_str(), O_RDONLY);
            std::unique_ptr<char[]> buf(new char[dataLength]);
            if (fd < 0 || pread(fd, buf.get(), dataLength, static_cast<off_t>(dataAt)) != ssize_t(dataLength))
                std::abort();
            ::close(fd);
            CKzFileChunkerMap m;
            const auto t0 = std::chrono::steady_clock::now();
            if (m.parse(std::move(buf), dataLength) != 0 || m.size() != size_t(count))
                std::abort();
            walk.push_back(seconds(t0, std::chrono::steady_clock::now()));
        }
        double pair = 0;
        for (int k = 0; k < 2; ++k) {
            const bool doPlain = (k == 0) == plainFirst;
            if (doPlain) {
                const auto t0 = std::chrono::steady_clock::now();
                const int fd = ::open(path.c_str(), O_RDONLY);
                std::unique_ptr<char[]> buf(new char[dataLength]);
                if (fd < 0 || pread(fd, buf.get(), dataLength, static_cast<off_t>(dataAt)) != ssize_t(dataLength))
                    std::abort();
                ::close(fd);
                benchmark::DoNotOptimize(buf.get());
                buf.reset();
                const double t = seconds(t0, std::chrono::steady_clock::now());
                plain.push_back(t);
                pair += t;
            } else {
                const auto t0 = std::chrono::steady_clock::now();
                auto* c = new CKzFileChunker;
                CKzStringA v;
                if (c->Initialize_File(wpath.c_str(), true, true, v) != 0 || c->GetChunkCount() != size_t(count))
                    std::abort();
                const auto t1 = std::chrono::steady_clock::now();
                c->Finalize();
                delete c;
                const auto t2 = std::chrono::steady_clock::now();
                open.push_back(seconds(t0, t1));
                close.push_back(seconds(t1, t2));
                pair += seconds(t0, t2);
            }
        }
        plainFirst = !plainFirst;
        state.SetIterationTime(pair);
    }
    std::sort(plain.begin(), plain.end());
    std::sort(open.begin(), open.end());
    std::sort(close.begin(), close.end());
    std::sort(walk.begin(), walk.end());
    state.counters["MapWalk_us_best"] = walk.front() * 1e6;
    state.counters["MapBytes"] = double(dataLength);
    state.counters["Open_us_best"] = open.front() * 1e6;
    state.counters["MapRead_us_best"] = plain.front() * 1e6;
    state.counters["OpenPerMapRead_best"] = open.front() / plain.front();
    state.counters["OpenPerMapRead_median"] = open[open.size() / 2] / plain[plain.size() / 2];
    state.counters["Open_ns_per_chunk"] = open.front() * 1e9 / count;
    state.counters["Close_ns_per_chunk"] = close.front() * 1e9 / count;
}

// A file whose map lists `count` entries that all point into garbage: half
// of them lie before the chunk of their own name (found by scanning), half
// before a chunk of another name (-9). Each iteration opens the file and
// reads every entry once, in name order.
void BM_DamagedMapReadAll(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    std::vector<unsigned char> f = signatureBlock();
    std::map<std::string, uint64_t> entries;
    uint32_t x = 12345;
    for (int i = 0; i < count / 2; ++i) {
        const size_t garbageAt = f.size();
        x = x * 1664525u + 1013904223u;
        const size_t garbage = 8 + (x >> 8) % 32;
        for (size_t k = 0; k < garbage; ++k)
            f.push_back(static_cast<unsigned char>(0x41 + k % 26));
        const std::string name = "C" + std::to_string(i) + "!";
        le32(f, 0x0ABECEDA);
        le32(f, static_cast<uint32_t>(name.size()));
        le64(f, 4);
        f.insert(f.end(), name.begin(), name.end());
        le32(f, static_cast<uint32_t>(i));
        entries[name] = garbageAt + 1;
        entries["X" + std::to_string(i) + "!"] = garbageAt + 2;
    }
    appendMap(f, entries);
    const std::string path = ws().file("damaged.vt5");
    writeBytes(path, f);
    const std::wstring wpath(path.begin(), path.end());
    std::vector<std::string> names;
    for (const auto& e : entries)
        names.push_back(e.first);
    CKzByteArray data(64);
    int found = 0;
    for (auto _ : state) {
        CKzFileChunker c;
        CKzStringA v;
        if (c.Initialize_File(wpath.c_str(), true, true, v) != 0)
            std::abort();
        found = 0;
        for (const std::string& n : names)
            found += c.GetChunk(data, n.c_str()) == 0;
        if (found != count / 2)
            std::abort();
        c.Finalize();
    }
    state.counters["FileBytes"] = double(f.size());
    state.counters["ns_per_entry"] =
        benchmark::Counter(double(count), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_WriteFrames)->Iterations(10)->UseManualTime();
BENCHMARK(BM_ReadFrames)->Iterations(12)->UseManualTime();
BENCHMARK(BM_ReadOneOfMany)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenVsMapRead)->Arg(10)->Arg(1000)->Arg(100000)->Iterations(40)->UseManualTime();
BENCHMARK(BM_DamagedMapReadAll)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
