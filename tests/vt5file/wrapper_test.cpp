// File access wrapper: argument checks, short reads, large-write retry,
// open modes, UTF-8 paths and the memory backing.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "chunker_test_support.h"
#include "gnr_system/CKzByteArray.h"
#include "vt5file/CKzFileMemoWrapper.h"

using namespace ct;

namespace {

class WrapperTest : public TempDirTest {};

TEST_F(WrapperTest, ArgumentChecksOfReadAndWrite)
{
    CKzFileMemoWrapper w;
    ASSERT_EQ(w.Initialize(wpath("a.bin").c_str(), false, false), 0);
    EXPECT_FALSE(w.GetReadOnly());
    char buf[8];
    size_t count = 77;
    EXPECT_EQ(w.ReadFile(buf, 0, &count, nullptr), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(w.ReadFile(nullptr, 4, &count, nullptr), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(w.ReadFile(buf, 4, nullptr, nullptr), KZ_ERR_INVALID_ARG);
    // Writing nothing succeeds and leaves the count alone.
    EXPECT_EQ(w.WriteFile(buf, 0, &count, nullptr), 0);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(w.WriteFile(nullptr, 4, &count, nullptr), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(w.FilePosition(nullptr), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(w.Finalize(), 0);
}

TEST_F(WrapperTest, ShortReadReportsBytesRead)
{
    CKzFileMemoWrapper w;
    ASSERT_EQ(w.Initialize(wpath("a.bin").c_str(), false, false), 0);
    size_t count = 0;
    ASSERT_EQ(w.WriteFile("0123456789", 10, &count, nullptr), 0);
    EXPECT_EQ(count, 10u);
    size_t pos = 0;
    ASSERT_EQ(w.FilePosition(&pos), 0);
    EXPECT_EQ(pos, 10u);
    ASSERT_EQ(w.SeekFile(6, 0), 0);
    char buf[16] = {};
    EXPECT_EQ(w.ReadFile(buf, 16, &count, nullptr), KZ_ERR_FAILED);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(std::string(buf, 4), "6789");
    // Truncation at the position.
    ASSERT_EQ(w.SeekFile(3, 0), 0);
    ASSERT_EQ(w.SetEOF(), 0);
    u64 size = 0;
    ASSERT_EQ(w.GetSize(&size), 0);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(w.Finalize(), 0);
    EXPECT_EQ(readAll(path("a.bin")), (Bytes{'0', '1', '2'}));
}

// The system writes nothing of the block at the first attempt.
std::vector<size_t> g_attempts;
int refuseFirstWrite(FILE*, const void*, size_t length, uint64_t* count, _KzIOASYNCINFO*)
{
    g_attempts.push_back(length);
    if (g_attempts.size() == 1) {
        *count = 0;
        return KZ_ERR_FILE_WRITE;
    }
    *count = length;
    return 0;
}

int writeHalf(FILE*, const void*, size_t length, uint64_t* count, _KzIOASYNCINFO*)
{
    g_attempts.push_back(length);
    *count = length / 2;
    return KZ_ERR_FILE_WRITE;
}

int refuseAll(FILE*, const void*, size_t length, uint64_t* count, _KzIOASYNCINFO*)
{
    g_attempts.push_back(length);
    *count = 0;
    return KZ_ERR_FILE_WRITE;
}

struct WriteHook {
    explicit WriteHook(vt5_wrapper_detail::WriteFn fn) : saved(vt5_wrapper_detail::g_pfnWrite)
    {
        g_attempts.clear();
        vt5_wrapper_detail::g_pfnWrite = fn;
    }
    ~WriteHook() { vt5_wrapper_detail::g_pfnWrite = saved; }
    vt5_wrapper_detail::WriteFn saved;
};

TEST_F(WrapperTest, LargeBlockIsRetriedIn32MiBPieces)
{
    CKzFileMemoWrapper w;
    ASSERT_EQ(w.Initialize(wpath("a.bin").c_str(), false, false), 0);
    std::vector<unsigned char> block(100u << 20);
    size_t count = 0;
    {
        WriteHook hook(&refuseFirstWrite);
        EXPECT_EQ(w.WriteFile(block.data(), block.size(), &count, nullptr), 0);
    }
    EXPECT_EQ(g_attempts, (std::vector<size_t>{100u << 20, 32u << 20, 32u << 20, 32u << 20, 4u << 20}));
    EXPECT_EQ(count, block.size());
    {
        // A short write is no failure here: the count tells it.
        WriteHook hook(&writeHalf);
        EXPECT_EQ(w.WriteFile(block.data(), block.size(), &count, nullptr), 0);
        EXPECT_EQ(count, block.size() / 2);
        EXPECT_EQ(g_attempts.size(), 1u);
    }
    {
        // A block of at most 32 MiB is not retried.
        WriteHook hook(&refuseAll);
        EXPECT_EQ(w.WriteFile(block.data(), 32u << 20, &count, nullptr), KZ_ERR_FAILED);
        EXPECT_EQ(g_attempts.size(), 1u);
    }
    {
        // A piece of which nothing is written fails the whole write.
        WriteHook hook(&refuseAll);
        EXPECT_EQ(w.WriteFile(block.data(), block.size(), &count, nullptr), KZ_ERR_FAILED);
        EXPECT_EQ(g_attempts.size(), 2u);
    }
    EXPECT_EQ(w.Finalize(), 0);
}

TEST_F(WrapperTest, OpenModes)
{
    CKzFileMemoWrapper w;
    // Writable, existing file required.
    EXPECT_EQ(w.Initialize(wpath("missing.bin").c_str(), false, true), KZ_ERR_FAILED);
    EXPECT_FALSE(w.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(path("missing.bin")));
    // Read-only on a missing file.
    EXPECT_EQ(w.Initialize(wpath("missing.bin").c_str(), true, true), KZ_ERR_FAILED);
    // Writable, created when missing; an existing file keeps its contents.
    writeAll(path("keep.bin"), Bytes{1, 2, 3});
    ASSERT_EQ(w.Initialize(wpath("keep.bin").c_str(), false, false), 0);
    EXPECT_EQ(w.Finalize(), 0);
    EXPECT_EQ(readAll(path("keep.bin")), (Bytes{1, 2, 3}));
    ASSERT_EQ(w.Initialize(wpath("new.bin").c_str(), false, false), 0);
    EXPECT_TRUE(std::filesystem::exists(path("new.bin")));
    EXPECT_EQ(w.Finalize(), 0);
    // Finalize twice: the second finds no stream.
    EXPECT_EQ(w.Finalize(), 0);
    // A read-only stream refuses writes.
    ASSERT_EQ(w.Initialize(wpath("keep.bin").c_str(), true, true), 0);
    EXPECT_TRUE(w.GetReadOnly());
    size_t count = 0;
    EXPECT_NE(w.WriteFile("x", 1, &count, nullptr), 0);
    EXPECT_EQ(w.Finalize(), 0);
    EXPECT_EQ(readAll(path("keep.bin")), (Bytes{1, 2, 3}));
    // Null and oversized paths are refused.
    EXPECT_EQ(w.Initialize(static_cast<const wchar_t*>(nullptr), true, true), KZ_ERR_INVALID_ARG);
    std::wstring longPath(CKzFileMemoWrapper::ePathCapacity, L'a');
    EXPECT_EQ(w.Initialize(longPath.c_str(), true, true), KZ_ERR_INVALID_ARG);
}

TEST_F(WrapperTest, PathsReachTheSystemAsUtf8)
{
    // U+00E9 and U+1F600 in the name; both directions use the same bytes.
    std::wstring name = widen(m_dir) + L"/caf\u00e9\U0001F600.bin";
    CKzFileMemoWrapper w;
    ASSERT_EQ(w.Initialize(name.c_str(), false, false), 0);
    size_t count = 0;
    ASSERT_EQ(w.WriteFile("abc", 3, &count, nullptr), 0);
    ASSERT_EQ(w.Finalize(), 0);
    EXPECT_TRUE(std::filesystem::exists(m_dir + "/caf\xC3\xA9\xF0\x9F\x98\x80.bin"));
    ASSERT_EQ(w.Initialize(name.c_str(), true, true), 0);
    EXPECT_EQ(std::wstring(w.GetFileName()), name);
    char buf[3];
    ASSERT_EQ(w.ReadFile(buf, 3, &count, nullptr), 0);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(w.Finalize(), 0);
}

TEST_F(WrapperTest, PositionedScatterReadLeavesThePosition)
{
    CKzFileMemoWrapper w;
    ASSERT_EQ(w.Initialize(wpath("a.bin").c_str(), false, false), 0);
    size_t count = 0;
    ASSERT_EQ(w.WriteFile("0123456789", 10, &count, nullptr), 0);
    ASSERT_EQ(w.SeekFile(2, 0), 0);
    char head[3], body[4];
    ASSERT_EQ(w.ReadAt(1, head, 3, body, 4, &count), 0);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(std::string(head, 3), "123");
    EXPECT_EQ(std::string(body, 4), "4567");
    size_t pos = 0;
    ASSERT_EQ(w.FilePosition(&pos), 0);
    EXPECT_EQ(pos, 2u);
    EXPECT_EQ(w.ReadAt(8, head, 3, nullptr, 0, &count), KZ_ERR_FAILED);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(w.Finalize(), 0);
}

TEST(WrapperMemoryTest, ReadsWritesAndSeeksWithinTheArray)
{
    CKzByteArray data(16);
    CKzFileMemoWrapper w;
    ASSERT_EQ(w.Initialize(data, false, false), 0);
    EXPECT_TRUE(w.IsMemory());
    EXPECT_STREQ(w.GetFileName(), L"");
    size_t count = 0;
    ASSERT_EQ(w.WriteFile("hello world", 11, &count, nullptr), 0);
    EXPECT_EQ(count, 11u);
    EXPECT_EQ(data.GetSize(), 11u);
    // Writing at a position overwrites and extends.
    ASSERT_EQ(w.SeekFile(6, 0), 0);
    ASSERT_EQ(w.WriteFile("there!", 6, &count, nullptr), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.GetData()), data.GetSize()), "hello there!");
    // A read is cut at the end without failing.
    ASSERT_EQ(w.SeekFile(-3, 2), 0);
    char buf[8] = {};
    ASSERT_EQ(w.ReadFile(buf, 8, &count, nullptr), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::string(buf, 3), "re!");
    EXPECT_EQ(w.SeekFile(13, 0), KZ_ERR_FAILED);
    EXPECT_EQ(w.SeekFile(-1, 0), KZ_ERR_FAILED);
    ASSERT_EQ(w.SeekFile(5, 0), 0);
    ASSERT_EQ(w.SeekFile(1, 7), 0); // an unknown origin counts from the position
    size_t pos = 0;
    ASSERT_EQ(w.FilePosition(&pos), 0);
    EXPECT_EQ(pos, 6u);
    ASSERT_EQ(w.SetEOF(), 0);
    EXPECT_EQ(data.GetSize(), 6u);
    EXPECT_EQ(w.Finalize(), 0);
    EXPECT_EQ(w.FilePosition(&pos), KZ_ERR_FAILED);
    EXPECT_EQ(w.ReadFile(buf, 1, &count, nullptr), KZ_ERR_FAILED);
    EXPECT_EQ(data.GetSize(), 6u);
}

} // namespace
