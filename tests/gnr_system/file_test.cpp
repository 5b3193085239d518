#include "gnr_system/KzFile.h"

#include <gtest/gtest.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Runs a test under the plain C locale, where a locale-driven conversion of a
// non-ASCII path would fail or produce other bytes.
class CLocale {
public:
    CLocale() : m_old(std::setlocale(LC_ALL, nullptr)) { std::setlocale(LC_ALL, "C"); }
    ~CLocale() { std::setlocale(LC_ALL, m_old.c_str()); }

private:
    std::string m_old;
};

std::wstring Wide(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// "été-文件" in wide form and as the UTF-8 bytes the system must see.
const wchar_t kNonAsciiW[] = L"\u00e9t\u00e9-\u6587\u4ef6";
const char kNonAsciiU8[] = "\xc3\xa9t\xc3\xa9-\xe6\x96\x87\xe4\xbb\xb6";

class KzFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "kzfile-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // Narrow (system) path and wide (caller) path of a name in the directory;
    // `u8name` are the UTF-8 bytes of `wname`.
    std::string N(const std::string& u8name) const { return m_dir + "/" + u8name; }
    std::wstring W(const std::wstring& wname) const { return Wide(m_dir) + L"/" + wname; }

    static void Put(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string Get(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string m_dir;
};

}  // namespace

// The open mode follows the flags; an existing file opened for update keeps its bytes.
TEST_F(KzFileTest, OpenModesByFlags)
{
    struct Case {
        unsigned flags;
        bool exists;       // file present before the open
        int result;
        const char* after; // contents after open (and close); null: no file
        bool readable;     // a read on the stream works
    } cases[] = {
        {15, false, 0, "", true},              // created
        {15, true, 0, "keep", true},           // kept
        {11, false, KZ_ERR_FILE_OPEN, nullptr, false},
        {11, true, 0, "keep", true},
        {4, true, 0, "keep", true},
        {0, true, 0, "keep", true},
        {0, false, KZ_ERR_FILE_OPEN, nullptr, false},
        {0x11, true, 0, "", true},             // truncated, "w+b"
        {0x10, true, 0, "", false},            // truncated, write only
        {0x1F, false, 0, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags << " exists " << c.exists);
        const std::string n = N("f.bin");
        ::unlink(n.c_str());
        if (c.exists) Put(n, "keep");
        FILE* f = reinterpret_cast<FILE*>(1);
        ASSERT_EQ(KZ_OpenFile(W(L"f.bin").c_str(), c.flags, 3, static_cast<unsigned>(-1), &f), c.result);
        if (c.result != 0) {
            EXPECT_EQ(f, nullptr);
            EXPECT_FALSE(fs::exists(n));
            continue;
        }
        ASSERT_NE(f, nullptr);
        char buf[4];
        uint64_t got = 99;
        const int r = KZ_ReadFile(f, buf, 1, &got);
        if (c.readable && *c.after) EXPECT_EQ(r, 0);
        if (!c.readable) {
            EXPECT_EQ(r, KZ_ERR_FILE_READ);
            EXPECT_EQ(got, 0u);
        }
        EXPECT_EQ(KZ_CloseFile(f), 0);
        EXPECT_EQ(Get(n), c.after);
    }
}

// A non-ASCII name reaches the system as UTF-8 even under the C locale, and
// flags 15 on such an existing file keeps its contents.
TEST_F(KzFileTest, NonAsciiPathUnderCLocaleKeepsContents)
{
    CLocale c;
    const std::string n = N(kNonAsciiU8);
    Put(n, "precious bytes");
    FILE* f = nullptr;
    ASSERT_EQ(KZ_OpenFile(W(kNonAsciiW).c_str(), 15, 3, static_cast<unsigned>(-1), &f), 0);
    ASSERT_NE(f, nullptr);
    char buf[8] = {};
    uint64_t got = 0;
    EXPECT_EQ(KZ_ReadFile(f, buf, 8, &got), 0);
    EXPECT_EQ(std::string(buf, 8), "precious");
    EXPECT_EQ(KZ_SeekFile(f, 0, 2), 0);
    EXPECT_EQ(KZ_WriteFile(f, "!", 1, &got, nullptr), 0);
    EXPECT_EQ(KZ_CloseFile(f), 0);
    EXPECT_EQ(Get(n), "precious bytes!");
    // only the one file, under its UTF-8 name
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

// Every path-taking function sees the same file under the C locale.
TEST_F(KzFileTest, EveryFunctionUsesUtf8Paths)
{
    CLocale c;
    const std::wstring name = W(kNonAsciiW);
    const std::string n = N(kNonAsciiU8);
    Put(n, "12345");

    EXPECT_EQ(KZ_AccessFile(name.c_str(), 0), 0);
    uint64_t size = 0;
    EXPECT_EQ(KZ_GetFileSizeFromName(name.c_str(), &size), 0);
    EXPECT_EQ(size, 5u);

    const std::wstring copy = W(std::wstring(kNonAsciiW) + L"-copy");
    EXPECT_EQ(KZ_CopyFile(name.c_str(), copy.c_str()), 0);
    EXPECT_EQ(Get(N(std::string(kNonAsciiU8) + "-copy")), "12345");

    EXPECT_EQ(KZ_RemoveFile(name.c_str(), 1), 0);
    EXPECT_FALSE(fs::exists(n));

    const std::wstring dir = W(std::wstring(kNonAsciiW) + L"-dir");
    EXPECT_EQ(KZ_CreateDirectory(dir.c_str(), 0, 0755), 0);
    EXPECT_TRUE(fs::is_directory(N(std::string(kNonAsciiU8) + "-dir")));
    const std::wstring deep = dir + L"/\u00fc/\u00f6";
    EXPECT_EQ(KZ_CreateDirectory(deep.c_str(), 1, 0755), 0);
    EXPECT_TRUE(fs::is_directory(N(std::string(kNonAsciiU8) + "-dir/\xc3\xbc/\xc3\xb6")));

    wchar_t buf[512];
    ASSERT_EQ(KZ_GetTempFileName(dir.c_str(), L"\u00df", 1, buf, 512), 0);
    const std::wstring tmp = buf;
    EXPECT_EQ(tmp.rfind(dir + L"/\u00df", 0), 0u) << "name not in the directory with the prefix";
    uint64_t tsize = 1;
    EXPECT_EQ(KZ_GetFileSizeFromName(buf, &tsize), 0);
    EXPECT_EQ(tsize, 0u);
    EXPECT_EQ(KZ_RemoveFile(buf, 1), 0);
}

TEST_F(KzFileTest, PathWithoutUtf8FormIsRefused)
{
    const std::wstring bad = W(std::wstring(L"x") + static_cast<wchar_t>(0x110000));
    FILE* f = reinterpret_cast<FILE*>(1);
    EXPECT_EQ(KZ_OpenFile(bad.c_str(), 15, 0, 0, &f), KZ_ERR_FILE_OPEN);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(KZ_CreateDirectory(bad.c_str(), 1, 0755), KZ_ERR_FILE_MKDIR);
    EXPECT_EQ(KZ_AccessFile(bad.c_str(), 0), KZ_ERR_FILE_READ);
    EXPECT_EQ(fs::directory_iterator(m_dir), fs::directory_iterator());  // nothing made under a stand-in name
}

TEST_F(KzFileTest, ReadReportsShortCount)
{
    Put(N("r.bin"), "0123456789");
    FILE* f = nullptr;
    ASSERT_EQ(KZ_OpenFile(W(L"r.bin").c_str(), 11, 3, 0, &f), 0);
    char buf[16];
    uint64_t got = 0;
    EXPECT_EQ(KZ_ReadFile(f, buf, 4, &got), 0);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(KZ_ReadFile(f, buf, 16, &got), KZ_ERR_FILE_READ);
    EXPECT_EQ(got, 6u);
    EXPECT_EQ(std::string(buf, 6), "456789");
    EXPECT_EQ(KZ_ReadFile(f, buf, 1, &got), KZ_ERR_FILE_READ);  // at the end
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(KZ_ReadFile(f, buf, 0, nullptr), 0);
    EXPECT_EQ(KZ_CloseFile(f), 0);
}

TEST_F(KzFileTest, WriteStoresCountAndFailsWhenNothingWritten)
{
    FILE* f = nullptr;
    ASSERT_EQ(KZ_OpenFile(W(L"w.bin").c_str(), 15, 3, 0, &f), 0);
    uint64_t put = 0;
    EXPECT_EQ(KZ_WriteFile(f, "abcdef", 6, &put, nullptr), 0);
    EXPECT_EQ(put, 6u);
    // flushed: visible to another reader at once
    EXPECT_EQ(Get(N("w.bin")), "abcdef");
    EXPECT_EQ(KZ_CloseFile(f), 0);

    FILE* ro = std::fopen(N("w.bin").c_str(), "rb");
    ASSERT_NE(ro, nullptr);
    put = 7;
    EXPECT_EQ(KZ_WriteFile(ro, "xyz", 3, &put, nullptr), KZ_ERR_FILE_WRITE);
    EXPECT_EQ(put, 0u);
    std::fclose(ro);
    EXPECT_EQ(Get(N("w.bin")), "abcdef");
}

// Bytes that cannot all reach the file are an error, not a success with a
// smaller count.
TEST_F(KzFileTest, ShortWriteIsAnError)
{
    // a device that takes nothing: the stream accepts the bytes, the flush fails
    FILE* full = std::fopen("/dev/full", "wb");
    if (full) {
        uint64_t put = 0;
        EXPECT_EQ(KZ_WriteFile(full, "abc", 3, &put, nullptr), KZ_ERR_FILE_WRITE);
        std::fclose(full);
    }

    // a file size limit that lets only part of a large block through
    FILE* f = nullptr;
    ASSERT_EQ(KZ_OpenFile(W(L"limited.bin").c_str(), 0x11, 3, 0, &f), 0);
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit lim = old;
    lim.rlim_cur = 10000;
    auto oldSig = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lim), 0);
    std::vector<char> block(100000, 'x');
    uint64_t put = 0;
    const int r = KZ_WriteFile(f, block.data(), block.size(), &put, nullptr);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSig);
    EXPECT_EQ(r, KZ_ERR_FILE_WRITE);
    EXPECT_LT(put, block.size());
    std::fclose(f);
}

TEST_F(KzFileTest, SeekPositionAndTruncate)
{
    FILE* f = nullptr;
    ASSERT_EQ(KZ_OpenFile(W(L"s.bin").c_str(), 15, 3, 0, &f), 0);
    ASSERT_EQ(KZ_WriteFile(f, "0123456789", 10, nullptr, nullptr), 0);

    struct Case {
        int64_t offset;
        int origin;
        int result;
        uint64_t pos;  // position afterwards
    } cases[] = {
        {2, 0, 0, 2},
        {3, 1, 0, 5},
        {0, 7, 0, 5},   // unknown origin: from the current position
        {-1, 2, 0, 9},
        {-4, 99, 0, 5},
        {-6, 1, KZ_ERR_FILE_SEEK, 5},  // before the start
        {-20, 0, KZ_ERR_FILE_SEEK, 5},
        {(int64_t)5 << 32, 0, 0, (uint64_t)5 << 32},  // beyond 4 GiB
        {4, 0, 0, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << " from " << c.origin);
        EXPECT_EQ(KZ_SeekFile(f, c.offset, c.origin), c.result);
        uint64_t pos = 77;
        EXPECT_EQ(KZ_FilePosition(f, &pos), 0);
        EXPECT_EQ(pos, c.pos);
    }

    // bytes still in the stream's buffer are counted before the cut
    ASSERT_EQ(std::fwrite("ab", 1, 2, f), 2u);
    EXPECT_EQ(KZ_SetEOF(f), 0);
    uint64_t size = 0;
    EXPECT_EQ(KZ_GetFileSize(f, &size), 0);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(KZ_CloseFile(f), 0);
    EXPECT_EQ(Get(N("s.bin")), "0123ab");
}

TEST_F(KzFileTest, SizesBeyondFourGiB)
{
    const std::string n = N("big.bin");
    const uint64_t big = (uint64_t(5) << 30) + 3;
    {
        std::ofstream(n, std::ios::binary).put('x');
    }
    ASSERT_EQ(::truncate(n.c_str(), static_cast<off_t>(big)), 0);  // sparse
    uint64_t size = 0;
    EXPECT_EQ(KZ_GetFileSizeFromName(W(L"big.bin").c_str(), &size), 0);
    EXPECT_EQ(size, big);
    FILE* f = nullptr;
    ASSERT_EQ(KZ_OpenFile(W(L"big.bin").c_str(), 11, 3, 0, &f), 0);
    size = 0;
    EXPECT_EQ(KZ_GetFileSize(f, &size), 0);
    EXPECT_EQ(size, big);
    EXPECT_EQ(KZ_SeekFile(f, -1, 2), 0);
    uint64_t pos = 0;
    EXPECT_EQ(KZ_FilePosition(f, &pos), 0);
    EXPECT_EQ(pos, big - 1);
    EXPECT_EQ(KZ_CloseFile(f), 0);

    size = 42;
    EXPECT_EQ(KZ_GetFileSizeFromName(W(L"missing").c_str(), &size), KZ_ERR_FILE_SIZE);
    EXPECT_EQ(size, 42u);
}

TEST_F(KzFileTest, AccessAndRemove)
{
    Put(N("a.txt"), "a");
    EXPECT_EQ(KZ_AccessFile(W(L"a.txt").c_str(), 0), 0);
    EXPECT_EQ(KZ_AccessFile(W(L"a.txt").c_str(), 3), 0);
    EXPECT_EQ(KZ_AccessFile(W(L"a.txt").c_str(), 4), KZ_ERR_FILE_READ);  // not executable
    EXPECT_EQ(KZ_AccessFile(W(L"none").c_str(), 0), KZ_ERR_FILE_READ);
    if (::geteuid() != 0) {
        ::chmod(N("a.txt").c_str(), 0400);
        EXPECT_EQ(KZ_AccessFile(W(L"a.txt").c_str(), 2), KZ_ERR_FILE_READ);
        EXPECT_EQ(KZ_AccessFile(W(L"a.txt").c_str(), 1), 0);
    }

    EXPECT_EQ(KZ_RemoveFile(W(L"none").c_str(), 0), 0);
    EXPECT_EQ(KZ_RemoveFile(W(L"none").c_str(), 1), KZ_ERR_FILE_READ);
    EXPECT_EQ(KZ_RemoveFile(W(L"a.txt").c_str(), 1), 0);
    EXPECT_FALSE(fs::exists(N("a.txt")));
}

TEST_F(KzFileTest, CreateDirectory)
{
    EXPECT_EQ(KZ_CreateDirectory(W(L"d").c_str(), 0, 0755), 0);
    EXPECT_TRUE(fs::is_directory(N("d")));
    EXPECT_EQ(KZ_CreateDirectory(W(L"d").c_str(), 0, 0755), KZ_ERR_FILE_MKDIR);  // exists
    EXPECT_EQ(KZ_CreateDirectory(W(L"x/y").c_str(), 0, 0755), KZ_ERR_FILE_MKDIR);  // no parent

    // recursive: missing parents made, existing ones (the temp dir itself) accepted
    EXPECT_EQ(KZ_CreateDirectory(W(L"x/y/z/").c_str(), 1, 0755), 0);
    EXPECT_TRUE(fs::is_directory(N("x/y/z")));
    EXPECT_EQ(KZ_CreateDirectory(W(L"x/y/z").c_str(), 1, 0755), 0);
    EXPECT_EQ(KZ_CreateDirectory(W(L"d//e").c_str(), 1, 0755), 0);
    EXPECT_TRUE(fs::is_directory(N("d/e")));

    // a path longer than 255 bytes is created whole, never cut short
    std::wstring longRel;
    std::string longNarrow;
    for (int i = 0; i < 30; ++i) {
        longRel += L"segment" + std::to_wstring(i) + L"/";
        longNarrow += "segment" + std::to_string(i) + "/";
    }
    ASSERT_GT(N(longNarrow).size(), 300u);
    EXPECT_EQ(KZ_CreateDirectory(W(longRel).c_str(), 1, 0755), 0);
    EXPECT_TRUE(fs::is_directory(N(longNarrow)));

    // a file in the way fails
    Put(N("file"), "f");
    EXPECT_EQ(KZ_CreateDirectory(W(L"file/sub").c_str(), 1, 0755), KZ_ERR_FILE_MKDIR);
    EXPECT_EQ(KZ_CreateDirectory(W(L"file").c_str(), 1, 0755), KZ_ERR_FILE_MKDIR);
}

TEST(KzFile, TempPathIsABoundedCopy)
{
    wchar_t buf[8];
    std::wmemset(buf, L'#', 8);
    EXPECT_EQ(KZ_GetTempPath(buf, 3), 0);
    EXPECT_EQ(std::wstring(buf, 4), L"/tm#");  // no terminator
    EXPECT_EQ(KZ_GetTempPath(buf, 8), 0);
    EXPECT_STREQ(buf, L"/tmp/");
    EXPECT_EQ(KZ_GetTempPath(buf, 0), 0);
    EXPECT_STREQ(buf, L"/tmp/");
}

TEST_F(KzFileTest, TempFileNames)
{
    wchar_t a[256], b[256];
    const std::wstring dir = Wide(m_dir);
    // without create: a fresh name in the directory, no file left
    ASSERT_EQ(KZ_GetTempFileName(dir.c_str(), L"vt", 0, a, 256), 0);
    EXPECT_EQ(std::wstring(a).rfind(dir + L"/vt", 0), 0u);
    EXPECT_EQ(std::wcslen(a), dir.size() + 3 + 6);
    EXPECT_NE(KZ_AccessFile(a, 0), 0);
    // with create: the file exists, empty, and two names differ
    ASSERT_EQ(KZ_GetTempFileName(dir.c_str(), L"vt", 1, a, 256), 0);
    ASSERT_EQ(KZ_GetTempFileName((dir + L"/").c_str(), L"vt", 1, b, 256), 0);
    EXPECT_STRNE(a, b);
    EXPECT_EQ(std::wstring(b).rfind(dir + L"/vt", 0), 0u);
    EXPECT_EQ(KZ_AccessFile(a, 0), 0);
    EXPECT_EQ(KZ_AccessFile(b, 0), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 2);

    // a name that does not fit (with its terminator) is refused and leaves no file
    const unsigned exact = static_cast<unsigned>(std::wcslen(a));
    EXPECT_EQ(KZ_GetTempFileName(dir.c_str(), L"vt", 1, b, exact), KZ_ERR_FILE_TEMPNAME);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 2);
    EXPECT_EQ(KZ_GetTempFileName(dir.c_str(), L"vt", 1, nullptr, 256), KZ_ERR_FILE_TEMPNAME);
    EXPECT_EQ(KZ_GetTempFileName(dir.c_str(), L"../vt", 1, b, 256), KZ_ERR_FILE_TEMPNAME);

    // an unusable directory falls back to the system's temporary directory
    ASSERT_EQ(KZ_GetTempFileName(W(L"no-such-dir").c_str(), L"kzfile-test", 1, b, 256), 0);
    EXPECT_EQ(std::wstring(b).rfind(L"/tmp/kzfile-test", 0), 0u);
    EXPECT_EQ(KZ_RemoveFile(b, 1), 0);
    ASSERT_EQ(KZ_GetTempFileName(nullptr, nullptr, 0, b, 256), 0);
    EXPECT_EQ(std::wstring(b).rfind(L"/tmp/", 0), 0u);
}

TEST_F(KzFileTest, CopyFile)
{
    std::string data(200000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31 + (i >> 9));
    Put(N("src"), data);
    EXPECT_EQ(KZ_CopyFile(W(L"src").c_str(), W(L"dst").c_str()), 0);
    EXPECT_EQ(Get(N("dst")), data);

    Put(N("other"), "other");
    EXPECT_EQ(KZ_CopyFile(W(L"src").c_str(), W(L"other").c_str()), KZ_FAIL);
    EXPECT_EQ(Get(N("other")), "other");

    EXPECT_EQ(KZ_CopyFile(W(L"missing").c_str(), W(L"dst2").c_str()), KZ_FAIL);
    EXPECT_FALSE(fs::exists(N("dst2")));

    Put(N("empty"), "");
    EXPECT_EQ(KZ_CopyFile(W(L"empty").c_str(), W(L"empty2").c_str()), 0);
    EXPECT_TRUE(fs::exists(N("empty2")));
    EXPECT_EQ(fs::file_size(N("empty2")), 0u);
}

TEST_F(KzFileTest, MoveFileMovesNothing)
{
    Put(N("m"), "m");
    EXPECT_EQ(KZ_MoveFile(W(L"m").c_str(), W(L"n").c_str()), KZ_ERR_FAILED);
    EXPECT_TRUE(fs::exists(N("m")));
    EXPECT_FALSE(fs::exists(N("n")));
}

// Null arguments give each function's error code, never a crash.
TEST(KzFile, NullArguments)
{
    FILE* f = reinterpret_cast<FILE*>(1);
    EXPECT_EQ(KZ_OpenFile(nullptr, 15, 0, 0, &f), KZ_ERR_FILE_OPEN);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(KZ_OpenFile(L"", 15, 0, 0, &f), KZ_ERR_FILE_OPEN);
    EXPECT_EQ(KZ_OpenFile(L"/tmp/x", 15, 0, 0, nullptr), KZ_ERR_FILE_OPEN);
    EXPECT_EQ(KZ_CloseFile(nullptr), KZ_ERR_FILE_CLOSE);
    uint64_t n = 5;
    char buf[1];
    EXPECT_EQ(KZ_ReadFile(nullptr, buf, 1, &n), KZ_ERR_FILE_READ);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(KZ_WriteFile(nullptr, "a", 1, &n, nullptr), KZ_ERR_FILE_WRITE);
    EXPECT_EQ(KZ_SeekFile(nullptr, 0, 0), KZ_ERR_FILE_SEEK);
    EXPECT_EQ(KZ_FilePosition(nullptr, &n), KZ_ERR_FILE_SEEK);
    EXPECT_EQ(KZ_SetEOF(nullptr), KZ_ERR_FILE_SETEOF);
    EXPECT_EQ(KZ_GetFileSize(nullptr, &n), KZ_ERR_FILE_SIZE);
    EXPECT_EQ(KZ_GetFileSizeFromName(nullptr, &n), KZ_ERR_FILE_SIZE);
    EXPECT_EQ(KZ_GetFileSizeFromName(L"/", nullptr), KZ_ERR_FILE_SIZE);
    EXPECT_EQ(KZ_AccessFile(nullptr, 0), KZ_ERR_FILE_READ);
    EXPECT_EQ(KZ_RemoveFile(nullptr, 1), KZ_ERR_FILE_READ);
    EXPECT_EQ(KZ_RemoveFile(nullptr, 0), 0);
    EXPECT_EQ(KZ_CreateDirectory(nullptr, 1, 0755), KZ_ERR_FILE_MKDIR);
    EXPECT_EQ(KZ_GetTempPath(nullptr, 4), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(KZ_CopyFile(nullptr, L"/tmp/x"), KZ_FAIL);

    FILE* tmp = std::tmpfile();
    ASSERT_NE(tmp, nullptr);
    EXPECT_EQ(KZ_ReadFile(tmp, nullptr, 1, &n), KZ_ERR_FILE_READ);
    EXPECT_EQ(KZ_WriteFile(tmp, nullptr, 1, &n, nullptr), KZ_ERR_FILE_WRITE);
    EXPECT_EQ(KZ_WriteFile(tmp, nullptr, 0, &n, nullptr), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(KZ_FilePosition(tmp, nullptr), KZ_ERR_FILE_SEEK);
    EXPECT_EQ(KZ_GetFileSize(tmp, nullptr), KZ_ERR_FILE_SIZE);
    std::fclose(tmp);
}
