// Chunk container across its states: readers kept up to date by a writer,
// existing files that are empty, failed writes under a name already filed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "chunker_test_support.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"
#include "vt5file/CKzFileChunker.h"

using namespace ct;

namespace {

class ChunkerStateTest : public TempDirTest {
protected:
    static Bytes get(CKzFileChunker& c, const char* name, int* result = nullptr)
    {
        CKzByteArray a(1024);
        const int r = c.GetChunk(a, name);
        if (result)
            *result = r;
        return Bytes(a.GetData(), a.GetData() + a.GetSize());
    }
};

int refuseWrites(FILE*, const void*, size_t, uint64_t* count, _KzIOASYNCINFO*)
{
    *count = 0;
    return KZ_ERR_FILE_WRITE;
}

// A reader made from a writer's container reads the chunks the writer adds
// later once it is handed the writer's map, whole and in ranges.
TEST_F(ChunkerStateTest, ReaderOverAFileBeingWrittenSeesLaterChunks)
{
    CKzFileChunker w;
    CKzStringA v("Ver3.0", 0);
    ASSERT_EQ(w.Initialize_File(wpath("grow.vt5").c_str(), false, false, v), 0);
    const Bytes first = pattern(5000, 1);
    ASSERT_EQ(w.SetChunk(first.data(), 8, first.data() + 8, 4992, "ImageDataSeq|0"), 0);

    CKzFileChunker r(w);
    CKzStringA rv;
    ASSERT_EQ(r.Initialize_File(wpath("grow.vt5").c_str(), true, false, rv), 0);
    EXPECT_EQ(get(r, "ImageDataSeq|0"), first);

    const Bytes second = pattern(9000, 2);
    ASSERT_EQ(w.SetChunk(second.data(), 8, second.data() + 8, 8992, "ImageDataSeq|1"), 0);
    const Bytes third = pattern(300, 3);
    ASSERT_EQ(w.SetChunkPart(third.data(), 8, third.data() + 8, 292, 292, true, "ImageDataSeq|2"), 0);
    ASSERT_EQ(r.SetMapChunk(&w), 0);
    int res = 1;
    EXPECT_EQ(get(r, "ImageDataSeq|1", &res), second);
    EXPECT_EQ(res, 0);
    EXPECT_EQ(get(r, "ImageDataSeq|2", &res), third);
    EXPECT_EQ(res, 0);
    SKzChunkHeader h{0, 0, 0};
    CKzByteArray part(16);
    ASSERT_EQ(r.GetChunkPart(h, part, 8990, 10, "ImageDataSeq|1"), 0);
    EXPECT_EQ(Bytes(part.GetData(), part.GetData() + 10), Bytes(second.begin() + 8990, second.end()));

    EXPECT_EQ(r.Finalize(), 0);
    EXPECT_EQ(w.Finalize(), 0);
}

// An existing file without a byte in it has nothing to lose: opening it for
// writing as an existing file makes it a new container, as a missing file
// would be. A file with bytes that do not check out is still refused.
TEST_F(ChunkerStateTest, EmptyExistingFileOpensAsANewContainer)
{
    struct Case {
        const char* what;
        bool memory;
    } cases[] = {{"file", false}, {"memory", true}};
    for (const auto& tc : cases) {
        CKzByteArray mem(4096);
        writeAll(path("empty.vt5"), Bytes());
        CKzFileChunker w;
        CKzStringA v("Ver3.0", 0);
        const int r = tc.memory ? w.Initialize_Memory(mem, false, true, v)
                                : w.Initialize_File(wpath("empty.vt5").c_str(), false, true, v);
        ASSERT_EQ(r, 0) << tc.what;
        EXPECT_STREQ(v.GetString(), "Ver3.0");
        ASSERT_EQ(w.SetChunk("abc", 3, "A"), 0) << tc.what;
        ASSERT_EQ(w.Finalize(), 0) << tc.what;

        CKzFileChunker rd;
        CKzStringA rv;
        ASSERT_EQ(tc.memory ? rd.Initialize_Memory(mem, true, true, rv)
                            : rd.Initialize_File(wpath("empty.vt5").c_str(), true, true, rv),
                  0)
            << tc.what;
        EXPECT_STREQ(rv.GetString(), "Ver3.0");
        EXPECT_EQ(get(rd, "A"), (Bytes{'a', 'b', 'c'})) << tc.what;
        EXPECT_EQ(rd.Finalize(), 0);
    }
    // One byte is not a container, and is not overwritten.
    writeAll(path("one.vt5"), Bytes{0x42});
    CKzFileChunker w;
    CKzStringA v("Ver3.0", 0);
    EXPECT_EQ(w.Initialize_File(wpath("one.vt5").c_str(), false, true, v), KZ_ERR_FAILED);
    EXPECT_EQ(w.Finalize(), 0);
    EXPECT_EQ(readAll(path("one.vt5")), Bytes{0x42});
}

// A failed write of a chunk whose name is filed already leaves the earlier
// copy readable, in memory and after Finalize, wherever the write fails:
// the one-call write, the header of a stream, a piece, the last block of a
// stream flushed by its last call or by the next chunk. The next chunk then
// takes the failed one's place.
TEST_F(ChunkerStateTest, FailedRewriteKeepsTheEarlierCopy)
{
    enum Where { eOneCall, eStreamHeader, eStreamPiece, eLastBlock, eNextChunk };
    struct Case {
        const char* what;
        Where where;
    } cases[] = {{"one call", eOneCall},
                 {"stream header", eStreamHeader},
                 {"stream piece", eStreamPiece},
                 {"last block", eLastBlock},
                 {"next chunk", eNextChunk}};
    for (const auto& tc : cases) {
        CKzFileChunker c;
        CKzStringA v("Ver3.0", 0);
        ASSERT_EQ(c.Initialize_File(wpath("rw.vt5").c_str(), false, false, v), 0);
        const Bytes old = pattern(5000, 4);
        ASSERT_EQ(c.SetChunk(old.data(), 8, old.data() + 8, 4992, "F"), 0);
        const Bytes neu = pattern(9000, 5);
        const auto saved = vt5_wrapper_detail::g_pfnWrite;
        switch (tc.where) {
        case eOneCall:
            vt5_wrapper_detail::g_pfnWrite = &refuseWrites;
            EXPECT_EQ(c.SetChunk(neu.data(), 8, neu.data() + 8, 8992, "F"), KZ_ERR_FAILED);
            break;
        case eStreamHeader:
            vt5_wrapper_detail::g_pfnWrite = &refuseWrites;
            EXPECT_EQ(c.SetChunkPart(neu.data(), 8, neu.data() + 8, 8992, 8992, true, "F"), KZ_ERR_FAILED);
            break;
        case eStreamPiece:
            ASSERT_EQ(c.SetChunkPart(neu.data(), 8, nullptr, 0, 8992, false, "F"), 0);
            vt5_wrapper_detail::g_pfnWrite = &refuseWrites;
            EXPECT_EQ(c.SetChunkPart(neu.data(), 8, neu.data() + 8, 8992, 8992, true, "F"), KZ_ERR_FAILED);
            break;
        case eLastBlock:
            // 100 bytes wait in the staging block until the last call.
            ASSERT_EQ(c.SetChunkPart(neu.data(), 8, neu.data() + 8, 100, 8992, false, "F"), 0);
            vt5_wrapper_detail::g_pfnWrite = &refuseWrites;
            EXPECT_EQ(c.SetChunkPart(neu.data(), 8, nullptr, 0, 8992, true, "F"), KZ_ERR_FAILED);
            break;
        case eNextChunk:
            ASSERT_EQ(c.SetChunkPart(neu.data(), 8, neu.data() + 8, 100, 8992, false, "F"), 0);
            vt5_wrapper_detail::g_pfnWrite = &refuseWrites;
            EXPECT_EQ(c.SetChunk("ghi", 3, "G"), KZ_ERR_FAILED);
            break;
        }
        vt5_wrapper_detail::g_pfnWrite = saved;
        int res = 1;
        EXPECT_EQ(get(c, "F", &res), old) << tc.what;
        EXPECT_EQ(res, 0) << tc.what;
        ASSERT_EQ(c.SetChunk("def", 3, "D"), 0) << tc.what;
        ASSERT_EQ(c.Finalize(), 0);
        CKzFileChunker r;
        CKzStringA rv;
        ASSERT_EQ(r.Initialize_File(wpath("rw.vt5").c_str(), true, true, rv), 0);
        EXPECT_EQ(r.GetChunkCount(), 2u) << tc.what;
        EXPECT_EQ(get(r, "F", &res), old) << tc.what;
        EXPECT_EQ(res, 0) << tc.what;
        EXPECT_EQ(get(r, "D", &res), (Bytes{'d', 'e', 'f'})) << tc.what;
        EXPECT_EQ(res, 0) << tc.what;
        EXPECT_EQ(r.Finalize(), 0);
    }
}

} // namespace
