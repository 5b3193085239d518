// Opening a file with a large chunk map does all its work on the calling
// thread: no thread of the library is running once the open has returned,
// and the map read is the same whatever number of processors the library
// believes it has.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gnr_picture/KzProcessorCountInternal.h"
#include "gnr_system/CKzString.h"
#include "vt5file/CKzFileChunker.h"
#include "chunker_test_support.h"

namespace {

using ct::Bytes;

// Threads of this process, from /proc/self/task.
int threadCount()
{
    DIR* d = opendir("/proc/self/task");
    if (!d)
        return -1;
    int n = 0;
    while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    closedir(d);
    return n;
}

struct ProcessorCount {
    explicit ProcessorCount(int n) { kzthreads::SetProcessorCountOverride(n); }
    ~ProcessorCount() { kzthreads::SetProcessorCountOverride(0); }
};

using Listed = std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>>;

// A file of the signature block and a map chunk listing `listed` in the
// given order (the chunks themselves are never read by opening).
Bytes fileWithMap(const Listed& listed)
{
    Bytes f;
    ct::put32(f, 0x0ABECEDA);
    ct::put32(f, 32);
    ct::put64(f, 64);
    f.insert(f.end(), ct::kSig, ct::kSig + 32);
    const char version[] = "Ver3.0";
    f.insert(f.end(), version, version + 6);
    f.resize(4096, 0);
    const uint64_t mapAt = f.size();
    Bytes data;
    for (const auto& e : listed) {
        data.insert(data.end(), e.first.begin(), e.first.end());
        ct::put64(data, e.second.first);
        ct::put64(data, e.second.second);
    }
    data.insert(data.end(), ct::kMapSig, ct::kMapSig + 32);
    ct::put64(data, mapAt);
    const size_t fixed = 48 + data.size() + 40;
    data.resize(data.size() + (4096 - fixed % 4096) % 4096, 0);
    data.insert(data.end(), ct::kMapSig, ct::kMapSig + 32);
    ct::put64(data, mapAt);
    ct::put32(f, 0x0ABECEDA);
    ct::put32(f, 32);
    ct::put64(f, data.size());
    f.insert(f.end(), ct::kMapName, ct::kMapName + 32);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

// Everything a reader can learn of a container's map, in map order.
Listed readBack(CKzFileChunker& c)
{
    Listed out;
    CKzStringA name;
    for (int r = c.GetNextChunkID(name, ""); r == 0; r = c.GetNextChunkID(name, name.GetString())) {
        SKzChunkMapMember m{};
        EXPECT_TRUE(c.GetMapMember(name.GetString(), m));
        out.push_back({name.GetString(), {m.uiOffset, m.uiSize}});
    }
    return out;
}

class ChunkerOpenThreads : public ct::TempDirTest {};

// Maps of more than a megabyte: frame names in the order a writer leaves them,
// the same with long names among them, and one listed out of order with
// repeats (the first listed entry of a name wins).
TEST_F(ChunkerOpenThreads, LargeMapOpensOnTheCallingThreadAlone)
{
    std::mt19937 rng(5);
    std::map<std::string, std::pair<uint64_t, uint64_t>> frames;
    for (uint64_t i = 0; i < 40000; ++i)
        frames["ImageDataSeq|" + std::to_string(i) + "!"] = {4096 * (i + 1), 8 + i};
    Listed descending(frames.rbegin(), frames.rend());
    Listed longNames = descending;
    for (size_t i = 0; i < longNames.size(); i += 7)
        longNames[i].first.insert(0, std::string(40, 'L')); // past the 31 characters of a usual name
    std::sort(longNames.begin(), longNames.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    longNames.erase(std::unique(longNames.begin(), longNames.end(),
                                [](const auto& a, const auto& b) { return a.first == b.first; }),
                    longNames.end());
    Listed shuffled = descending;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    for (size_t i = 0; i < 500; ++i)
        shuffled.push_back({shuffled[rng() % shuffled.size()].first, {1, 1}}); // later repeats lose

    const std::pair<const char*, const Listed*> shapes[] = {
        {"descending", &descending}, {"long names", &longNames}, {"shuffled", &shuffled}};
    int shape = 0;
    for (const auto& [label, listed] : shapes) {
        SCOPED_TRACE(label);
        ++shape;
        // What the map must hold: each name once, its first entry, in strcmp order.
        std::map<std::string, std::pair<uint64_t, uint64_t>> model;
        for (const auto& e : *listed)
            model.emplace(e.first, e.second);
        const Listed expected(model.begin(), model.end());
        const std::string file = path("map" + std::to_string(shape) + ".vt5");
        const Bytes bytes = fileWithMap(*listed);
        ASSERT_GT(bytes.size(), size_t(1) << 20);
        ct::writeAll(file, bytes);

        for (const int processors : {0, 1, 8}) {
            SCOPED_TRACE(processors);
            const ProcessorCount forced(processors);
            const int before = threadCount();
            ASSERT_GT(before, 0);
            for (int round = 0; round < 3; ++round) {
                CKzFileChunker c;
                CKzStringA version;
                ASSERT_EQ(c.Initialize_File(ct::widen(file).c_str(), true, false, version), 0);
                // Nothing the open started may still be running now.
                EXPECT_EQ(threadCount(), before) << "round " << round;
                EXPECT_STREQ(version.GetString(), "Ver3.0");
                ASSERT_EQ(c.GetChunkCount(), expected.size());
                if (round == 0)
                    EXPECT_EQ(readBack(c), expected);
                EXPECT_EQ(c.Finalize(), 0);
            }
            EXPECT_EQ(threadCount(), before);
        }
    }
}

} // namespace
