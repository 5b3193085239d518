// Handles used from several threads at once: each thread opens and reads its
// own handle while another thread writes a further file through the table.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "vt5file/chunker_test_support.h"
#include "w32_qorfilesdk/QorFile.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr uint32_t kWidth = 32, kHeight = 16, kFrames = 6;

Bytes FrameBytes(unsigned seed) { return ct::pattern((size_t)kWidth * kHeight * 2, seed); }

// Writes `frames` 16-bit frames of pattern seed + index to path; 0 on success.
int WriteFile(const std::wstring& path, uint32_t frames, unsigned seed)
{
    const int w = Qor_FileOpenForWrite(path.c_str());
    if (!w)
        return -1;
    QORPICTURE p{};
    if (!Qor_InitPicture(&p, kWidth, kHeight, 16, 1)) {
        Qor_FileClose(w);
        return -1;
    }
    int result = 0;
    for (uint32_t f = 0; f < frames && result == 0; ++f) {
        const Bytes b = FrameBytes(seed + f);
        std::memcpy(p.pData, b.data(), b.size());
        result = Qor_FileAppendImageData(w, &p, nullptr);
    }
    Qor_DestroyPicture(&p);
    const int closed = Qor_FileClose(w);
    return result != 0 ? result : closed;
}

// Opens its own handle on path through the exported functions, reads every
// frame `rounds` times and checks each; the number of mismatches and failures.
int ReadAndCheck(const std::wstring& path, int rounds, unsigned seed)
{
    const int h = Qor_FileOpenForRead(path.c_str());
    if (!h)
        return 1000;
    int bad = 0;
    QORATTRIBUTES a{};
    QORPICTURE p{};
    if (Qor_FileGetAttributes(h, &a) != 0 || a.uiWidthBytes != kWidth * 2 || a.uiSequenceCount != kFrames ||
        !Qor_InitPicture(&p, a.uiWidth, a.uiHeight, a.uiBpcInMemory, a.uiComp)) {
        ++bad;
    } else {
        double info[4];
        for (int round = 0; round < rounds; ++round)
            for (uint32_t f = 0; f < kFrames; ++f) {
                std::memset(p.pData, 0, p.uiSize);
                const Bytes want = FrameBytes(seed + f);
                if (Qor_FileGetImageData(h, f, &p, info) != 0 || std::memcmp(p.pData, want.data(), want.size()) != 0)
                    ++bad;
            }
    }
    Qor_DestroyPicture(&p);
    if (Qor_FileClose(h) != 0)
        ++bad;
    return bad;
}

class CapiThreads : public ct::TempDirTest {};

TEST_F(CapiThreads, ReadersOnOwnHandlesWhileAnotherThreadWrites)
{
    ASSERT_EQ(WriteFile(wpath("shared.vt5"), kFrames, 7), 0);
    std::atomic<int> bad{0};
    std::atomic<int> writeResult{-1};
    std::vector<std::thread> threads;
    threads.emplace_back([&] { writeResult = WriteFile(wpath("further.vt5"), kFrames, 70); });
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] { bad += ReadAndCheck(wpath("shared.vt5"), 4, 7); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(bad.load(), 0);
    ASSERT_EQ(writeResult.load(), 0);
    EXPECT_EQ(ReadAndCheck(wpath("further.vt5"), 1, 70), 0);
}

}  // namespace
