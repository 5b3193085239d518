// Chunk container: the file layout byte for byte, names, reading whole chunks
// and ranges, streaming, opening damaged or foreign files, and a round trip
// of many chunks.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "chunker_test_support.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"
#include "vt5file/CKzFileChunker.h"

using namespace ct;

namespace {

class ChunkerTest : public TempDirTest {
protected:
    // A new writable container on name.
    void create(CKzFileChunker& c, const std::string& name, const char* version = "Ver3.0")
    {
        CKzStringA v(version, 0);
        ASSERT_EQ(c.Initialize_File(wpath(name).c_str(), false, false, v), 0);
    }
    int open(CKzFileChunker& c, const std::string& name, bool readOnly = true)
    {
        CKzStringA v;
        return c.Initialize_File(wpath(name).c_str(), readOnly, true, v);
    }
    static Bytes get(CKzFileChunker& c, const char* name, int* result = nullptr)
    {
        CKzByteArray a(1024);
        const int r = c.GetChunk(a, name);
        if (result)
            *result = r;
        return Bytes(a.GetData(), a.GetData() + a.GetSize());
    }
};

// Checks the map chunk at offset and returns its entries in file order.
std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>> parseMap(const Bytes& f, size_t at)
{
    std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>> out;
    EXPECT_EQ(le32(f, at), 0x0ABECEDAu);
    EXPECT_EQ(le32(f, at + 4), 32u);
    EXPECT_EQ(text(f, at + 16, 32), kMapName);
    const size_t dataLength = le64(f, at + 8);
    const size_t data = at + 48;
    EXPECT_EQ(data + dataLength, f.size());
    EXPECT_EQ(f.size() % 4096, 0u);
    size_t pos = data;
    while (text(f, pos, 32) != kMapSig) {
        size_t bang = pos;
        while (f.at(bang) != '!')
            ++bang;
        out.push_back({text(f, pos, bang + 1 - pos), {le64(f, bang + 1), le64(f, bang + 9)}});
        pos = bang + 17;
    }
    EXPECT_EQ(le64(f, pos + 32), at);
    EXPECT_TRUE(allZero(f, pos + 40, f.size() - 40));
    EXPECT_EQ(text(f, f.size() - 40, 32), kMapSig);
    EXPECT_EQ(le64(f, f.size() - 8), at);
    return out;
}

TEST_F(ChunkerTest, EmptyContainerIsSignatureAndOneBlockMap)
{
    CKzFileChunker c;
    create(c, "empty.vt5");
    EXPECT_EQ(c.Finalize(), 0);
    EXPECT_EQ(c.Finalize(), 0);
    const Bytes f = readAll(path("empty.vt5"));
    ASSERT_EQ(f.size(), 8192u);
    // Signature chunk.
    EXPECT_EQ(le32(f, 0), 0x0ABECEDAu);
    EXPECT_EQ(le32(f, 4), 32u);
    EXPECT_EQ(le64(f, 8), 64u);
    EXPECT_EQ(text(f, 16, 32), kSig);
    EXPECT_EQ(text(f, 48, 7), std::string("Ver3.0\0", 7));
    EXPECT_TRUE(allZero(f, 54, 4096));
    // Map chunk: header, name, signature, offset, 3968 zeros, trailer.
    EXPECT_EQ(le32(f, 4096), 0x0ABECEDAu);
    EXPECT_EQ(le32(f, 4100), 32u);
    EXPECT_EQ(le64(f, 4104), 4096u - 48u);
    EXPECT_EQ(text(f, 4112, 32), kMapName);
    EXPECT_EQ(text(f, 4144, 32), kMapSig);
    EXPECT_EQ(le64(f, 4176), 4096u);
    EXPECT_TRUE(allZero(f, 4184, 4184 + 3968));
    EXPECT_EQ(text(f, 8152, 32), kMapSig);
    EXPECT_EQ(le64(f, 8184), 4096u);

    CKzFileChunker r;
    CKzStringA version;
    ASSERT_EQ(r.Initialize_File(wpath("empty.vt5").c_str(), true, true, version), 0);
    EXPECT_STREQ(version.GetString(), "Ver3.0");
    EXPECT_EQ(r.GetChunkCount(), 0u);
    CKzStringA next;
    EXPECT_EQ(r.GetNextChunkID(next, ""), KZ_ERR_NOT_FOUND);
    EXPECT_EQ(r.Finalize(), 0);
}

TEST_F(ChunkerTest, OnePartChunkFillsOneBlock)
{
    CKzFileChunker c;
    create(c, "a.vt5");
    const Bytes data = pattern(100, 1);
    ASSERT_EQ(c.SetChunk(data.data(), 100, "ImageAttributesLV!"), 0);
    SKzChunkMapMember m;
    ASSERT_TRUE(c.GetMapMember("ImageAttributesLV!", m));
    EXPECT_EQ(m.uiOffset, 4096u);
    EXPECT_EQ(m.uiSize, 100u);
    ASSERT_EQ(c.Finalize(), 0);
    const Bytes f = readAll(path("a.vt5"));
    ASSERT_EQ(f.size(), 3u * 4096);
    EXPECT_EQ(le32(f, 4096), 0x0ABECEDAu);
    EXPECT_EQ(le32(f, 4100), 3980u);
    EXPECT_EQ(le64(f, 4104), 100u);
    EXPECT_EQ(text(f, 4112, 18), "ImageAttributesLV!");
    EXPECT_TRUE(allZero(f, 4112 + 18, 4112 + 18 + 3962));
    EXPECT_EQ(Bytes(f.begin() + 8192 - 100, f.begin() + 8192), data);
    const auto entries = parseMap(f, 8192);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].first, "ImageAttributesLV!");
    EXPECT_EQ(entries[0].second.first, 4096u);
    EXPECT_EQ(entries[0].second.second, 100u);
}

TEST_F(ChunkerTest, TwoPartFrameChunkOverFourBlocks)
{
    CKzFileChunker c;
    create(c, "f.vt5");
    const Bytes time = pattern(8, 2), frame = pattern(10000, 3);
    CKzStringA name;
    name.Format("ImageDataSeq|%i!", 0);
    ASSERT_EQ(c.SetChunk(time.data(), 8, frame.data(), 10000, name.GetString()), 0);
    ASSERT_EQ(c.SetChunk("x", 1, "after"), 0);
    ASSERT_EQ(c.Finalize(), 0);
    const Bytes f = readAll(path("f.vt5"));
    EXPECT_EQ(le32(f, 4096 + 4), 4072u);
    EXPECT_EQ(le64(f, 4096 + 8), 10008u);
    EXPECT_EQ(text(f, 4112, 15), "ImageDataSeq|0!");
    EXPECT_TRUE(allZero(f, 4112 + 15, 4112 + 4072));
    EXPECT_EQ(Bytes(f.begin() + 8184, f.begin() + 8192), time);
    EXPECT_EQ(Bytes(f.begin() + 8192, f.begin() + 8192 + 10000), frame);
    EXPECT_EQ(10000 - 2 * 4096, 1808);
    EXPECT_TRUE(allZero(f, 8192 + 10000, 4096 * 5));
    // The next chunk starts after the fourth block.
    EXPECT_EQ(text(f, 5 * 4096 + 16, 6), "after!");
    const auto entries = parseMap(f, 6 * 4096);
    ASSERT_EQ(entries.size(), 2u);
    // Descending name order.
    EXPECT_EQ(entries[0].first, "after!");
    EXPECT_EQ(entries[1].first, "ImageDataSeq|0!");
    EXPECT_EQ(entries[1].second.second, 10008u);

    CKzFileChunker r;
    ASSERT_EQ(open(r, "f.vt5"), 0);
    Bytes whole = time;
    whole.insert(whole.end(), frame.begin(), frame.end());
    EXPECT_EQ(get(r, "ImageDataSeq|0!"), whole);
    EXPECT_EQ(r.Finalize(), 0);
}

TEST_F(ChunkerTest, NamesWithAndWithoutFinalMark)
{
    CKzFileChunker c;
    create(c, "n.vt5");
    ASSERT_EQ(c.SetChunk("abc", 3, "Plain"), 0);
    EXPECT_EQ(c.ExistChunk("Plain!"), 1);
    EXPECT_EQ(c.ExistChunk("Plain"), 0);
    EXPECT_EQ(get(c, "Plain"), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(get(c, "Plain!"), (Bytes{'a', 'b', 'c'}));
    int r = 0;
    get(c, "Other", &r);
    EXPECT_EQ(r, KZ_ERR_NOT_FOUND);

    // Names a map could not give back are refused before anything is written.
    const std::string longest(510, 'n');
    const std::string tooLong(511, 'n');
    const std::string mapLike = std::string(kMapSig, 31) + "X";
    const struct {
        const char* name;
        int expected;
    } cases[] = {
        {"a!b", KZ_ERR_INVALID_ARG},       {"a!b!", KZ_ERR_INVALID_ARG}, {nullptr, KZ_ERR_INVALID_ARG},
        {tooLong.c_str(), KZ_ERR_INVALID_ARG}, {mapLike.c_str(), KZ_ERR_INVALID_ARG},
        {longest.c_str(), 0},              {"", 0},
    };
    for (const auto& tc : cases) {
        EXPECT_EQ(c.SetChunk("z", 1, tc.name), tc.expected) << (tc.name ? tc.name : "null");
        EXPECT_EQ(c.SetChunk("z", 1, "zz", 2, tc.name), tc.expected);
        EXPECT_EQ(c.SetChunkPart("t", 1, "zz", 2, 2, true, tc.name), tc.expected);
    }
    ASSERT_EQ(c.Finalize(), 0);
    CKzFileChunker rd;
    ASSERT_EQ(open(rd, "n.vt5"), 0);
    EXPECT_EQ(rd.GetChunkCount(), 3u);
    EXPECT_EQ(get(rd, (longest + "!").c_str()), (Bytes{'t', 'z', 'z'}));
    EXPECT_EQ(get(rd, "!"), (Bytes{'t', 'z', 'z'}));
    EXPECT_EQ(rd.Finalize(), 0);
}

TEST_F(ChunkerTest, RewrittenNameReadsSecondCopyAfterReopening)
{
    CKzFileChunker c;
    create(c, "r.vt5");
    ASSERT_EQ(c.SetChunk("first", 5, "Twice"), 0);
    ASSERT_EQ(c.SetChunk("second", 6, "Twice"), 0);
    EXPECT_EQ(get(c, "Twice"), (Bytes{'s', 'e', 'c', 'o', 'n', 'd'}));
    ASSERT_EQ(c.Finalize(), 0);
    CKzFileChunker r;
    ASSERT_EQ(open(r, "r.vt5"), 0);
    EXPECT_EQ(r.GetChunkCount(), 1u);
    EXPECT_EQ(get(r, "Twice"), (Bytes{'s', 'e', 'c', 'o', 'n', 'd'}));
    SKzChunkMapMember m;
    ASSERT_TRUE(r.GetMapMember("Twice!", m));
    EXPECT_EQ(m.uiOffset, 8192u);
    EXPECT_EQ(r.Finalize(), 0);
}

TEST_F(ChunkerTest, EmptyChunkReadsBackEmpty)
{
    CKzFileChunker c;
    create(c, "e.vt5");
    ASSERT_EQ(c.SetChunk(nullptr, 0, "Empty"), 0);
    ASSERT_EQ(c.SetChunk("x", 1, "After"), 0);
    ASSERT_EQ(c.Finalize(), 0);
    const Bytes f = readAll(path("e.vt5"));
    // No padding in the name field of a chunk without data.
    EXPECT_EQ(le32(f, 4096 + 4), 6u);
    EXPECT_EQ(le64(f, 4096 + 8), 0u);
    EXPECT_TRUE(allZero(f, 4096 + 22, 8192));
    CKzFileChunker r;
    ASSERT_EQ(open(r, "e.vt5"), 0);
    int res = -1;
    CKzByteArray a(16);
    a.SetData("junk", 4, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    res = r.GetChunk(a, "Empty");
    EXPECT_EQ(res, 0);
    EXPECT_EQ(a.GetSize(), 0u);
    EXPECT_EQ(get(r, "After"), Bytes{'x'});
    EXPECT_EQ(r.Finalize(), 0);
}

TEST_F(ChunkerTest, ChunkRangesAndHeaderCache)
{
    CKzByteArray mem(4096);
    CKzFileChunker c;
    CKzStringA v("Ver3.0", 0);
    ASSERT_EQ(c.Initialize_Memory(mem, false, false, v), 0);
    const Bytes time = pattern(8, 4), frame = pattern(9000, 5);
    ASSERT_EQ(c.SetChunk(time.data(), 8, frame.data(), 9000, "Frame"), 0);
    SKzChunkHeader h{0, 0, 0};
    CKzByteArray part(16);
    ASSERT_EQ(c.GetChunkPart(h, part, 8 + 100, 50, "Frame"), 0);
    EXPECT_EQ(h.uiMagic, 0x0ABECEDAu);
    EXPECT_EQ(h.uiNameLength, 4096u - 16 - 8);
    EXPECT_EQ(h.uiDataLength, 9008u);
    EXPECT_EQ(Bytes(part.GetData(), part.GetData() + 50), Bytes(frame.begin() + 100, frame.begin() + 150));
    // With the header cached the header block is not read again.
    mem.GetData(mem.GetSize())[4096] = 0;
    ASSERT_EQ(c.GetChunkPart(h, part, 8 + 8990, 10, "Frame"), 0);
    EXPECT_EQ(Bytes(part.GetData(), part.GetData() + 10), Bytes(frame.end() - 10, frame.end()));
    // Ranges reaching past the data.
    EXPECT_EQ(c.GetChunkPart(h, part, 9000, 9, "Frame"), KZ_ERR_FAILED);
    EXPECT_EQ(c.GetChunkPart(h, part, 9009, 0, "Frame"), KZ_ERR_FAILED);
    EXPECT_EQ(c.GetChunkPart(h, part, ~size_t(0), 2, "Frame"), KZ_ERR_FAILED);
    EXPECT_EQ(c.GetChunkPart(h, part, 0, 1, "Nope"), KZ_ERR_NOT_FOUND);
    // A fresh cache now meets the damaged header.
    SKzChunkHeader fresh{0, 0, 0};
    EXPECT_EQ(c.GetChunkPart(fresh, part, 0, 1, "Frame"), KZ_ERR_FAILED);
}

TEST_F(ChunkerTest, StreamedChunkMatchesTheOneShotLayout)
{
    const Bytes time = pattern(8, 6), frame = pattern(3 * 4096 + 123, 7);
    // Piece sizes crossing the staging block in every way.
    const std::vector<std::vector<size_t>> splits = {
        {frame.size()}, {1, 4095, 4096, 4096, 123}, {100, 5000, 7000, frame.size() - 12100},
        {4096, 4096, 4096, 123}, {3000, 3000, 3000, 3000, frame.size() - 12000}};
    CKzFileChunker ref;
    create(ref, "ref.vt5");
    ASSERT_EQ(ref.SetChunk(time.data(), 8, frame.data(), static_cast<unsigned>(frame.size()), "S"), 0);
    ASSERT_EQ(ref.Finalize(), 0);
    const Bytes expected = readAll(path("ref.vt5"));
    for (size_t k = 0; k < splits.size(); ++k) {
        CKzFileChunker c;
        const std::string file = "s" + std::to_string(k) + ".vt5";
        create(c, file);
        size_t at = 0;
        for (size_t i = 0; i < splits[k].size(); ++i) {
            const bool last = i + 1 == splits[k].size();
            ASSERT_EQ(c.SetChunkPart(time.data(), 8, frame.data() + at, static_cast<unsigned>(splits[k][i]),
                                     frame.size(), last, "S"),
                      0);
            at += splits[k][i];
        }
        ASSERT_EQ(c.Finalize(), 0);
        EXPECT_EQ(readAll(path(file)), expected) << "split " << k;
    }
}

TEST_F(ChunkerTest, StreamingTheSameNameAgainStartsANewChunk)
{
    CKzFileChunker c;
    create(c, "s.vt5");
    const Bytes a = pattern(5000, 8), b = pattern(5000, 9);
    ASSERT_EQ(c.SetChunkPart("T1234567", 8, a.data(), 2500, 5000, false, "Row"), 0);
    ASSERT_EQ(c.SetChunkPart("T1234567", 8, a.data() + 2500, 2500, 5000, true, "Row"), 0);
    ASSERT_EQ(c.SetChunkPart("U1234567", 8, b.data(), 5000, 5000, true, "Row"), 0);
    ASSERT_EQ(c.Finalize(), 0);
    CKzFileChunker r;
    ASSERT_EQ(open(r, "s.vt5"), 0);
    Bytes expected = {'U', '1', '2', '3', '4', '5', '6', '7'};
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(get(r, "Row"), expected);
    SKzChunkMapMember m;
    ASSERT_TRUE(r.GetMapMember("Row!", m));
    EXPECT_EQ(m.uiOffset, 4096u + 3 * 4096);
    // The first stream is still whole in the file.
    const Bytes f = readAll(path("s.vt5"));
    EXPECT_EQ(Bytes(f.begin() + 8192, f.begin() + 8192 + 5000), a);
    EXPECT_EQ(r.Finalize(), 0);
}

TEST_F(ChunkerTest, ShortOrOverlongStreamKeepsTheLayout)
{
    CKzFileChunker c;
    create(c, "s.vt5");
    const Bytes a = pattern(6000, 10);
    ASSERT_EQ(c.SetChunkPart("T1234567", 8, a.data(), 3000, 6000, false, "Short"), 0);
    EXPECT_EQ(c.SetChunkPart("T1234567", 8, a.data(), 3001, 6000, false, "Short"), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(c.SetChunkPart("T1234567", 8, nullptr, 0, 6000, true, "Short"), KZ_ERR_TRUNCATED);
    ASSERT_EQ(c.SetChunk("next", 4, "Next"), 0);
    // A stream left open is closed by the next chunk.
    ASSERT_EQ(c.SetChunkPart("T1234567", 8, a.data(), 100, 6000, false, "Open"), 0);
    ASSERT_EQ(c.SetChunk("last", 4, "Last"), 0);
    ASSERT_EQ(c.Finalize(), 0);
    CKzFileChunker r;
    ASSERT_EQ(open(r, "s.vt5"), 0);
    Bytes shortData = {'T', '1', '2', '3', '4', '5', '6', '7'};
    shortData.insert(shortData.end(), a.begin(), a.begin() + 3000);
    shortData.resize(6008, 0);
    EXPECT_EQ(get(r, "Short"), shortData);
    EXPECT_EQ(get(r, "Next"), (Bytes{'n', 'e', 'x', 't'}));
    EXPECT_EQ(get(r, "Open").size(), 6008u);
    EXPECT_EQ(get(r, "Last"), (Bytes{'l', 'a', 's', 't'}));
    EXPECT_EQ(r.Finalize(), 0);
}

TEST_F(ChunkerTest, ChunksOf4GiBAreRefused)
{
    CKzFileChunker c;
    create(c, "big.vt5");
    const char tiny[8] = {};
    // Refused before any byte of the (absent) data is touched.
    EXPECT_EQ(c.SetChunk(tiny, 8, tiny, 0xFFFFFFF8u, "Big"), KZ_ERR_FAILED);
    EXPECT_EQ(c.SetChunkPart(tiny, 8, nullptr, 0, size_t(1) << 32, false, "Big"), KZ_ERR_FAILED);
    EXPECT_EQ(c.ExistChunk("Big!"), 0);
    ASSERT_EQ(c.Finalize(), 0);
    EXPECT_EQ(readAll(path("big.vt5")).size(), 8192u);
}

TEST_F(ChunkerTest, CutTrailerGivesNotFoundWithMapMissing)
{
    CKzFileChunker c;
    create(c, "cut.vt5");
    ASSERT_EQ(c.SetChunk("abc", 3, "A"), 0);
    ASSERT_EQ(c.Finalize(), 0);
    Bytes f = readAll(path("cut.vt5"));
    for (size_t cut : {1u, 8u, 40u, 4096u}) {
        writeAll(path("cut2.vt5"), Bytes(f.begin(), f.end() - cut));
        CKzFileChunker r;
        CKzStringA v;
        EXPECT_EQ(r.Initialize_File(wpath("cut2.vt5").c_str(), true, true, v), KZ_ERR_NOT_FOUND) << cut;
        EXPECT_TRUE(r.IsMapMissing());
        EXPECT_STREQ(v.GetString(), "Ver3.0");
        EXPECT_EQ(r.GetChunkCount(), 0u);
        EXPECT_EQ(r.Finalize(), 0);
    }
    // A bad signature chunk is refused outright.
    Bytes bad = f;
    bad[20] ^= 1;
    writeAll(path("bad.vt5"), bad);
    CKzFileChunker r;
    CKzStringA v;
    EXPECT_EQ(r.Initialize_File(wpath("bad.vt5").c_str(), true, true, v), KZ_ERR_FAILED);
    EXPECT_FALSE(r.IsMapMissing());
}

TEST_F(ChunkerTest, DamagedExistingFileIsNotWrittenTo)
{
    CKzFileChunker c;
    create(c, "d.vt5");
    ASSERT_EQ(c.SetChunk("abc", 3, "A"), 0);
    ASSERT_EQ(c.Finalize(), 0);
    const Bytes good = readAll(path("d.vt5"));
    struct Case {
        const char* what;
        size_t at;
    } cases[] = {{"signature", 17}, {"trailer", good.size() - 30}, {"map header", 8192}};
    for (const auto& tc : cases) {
        Bytes bad = good;
        bad[tc.at] ^= 0x55;
        writeAll(path("d2.vt5"), bad);
        CKzFileChunker w;
        EXPECT_EQ(open(w, "d2.vt5", false), KZ_ERR_FAILED) << tc.what;
        EXPECT_EQ(w.SetChunk("x", 1, "X"), KZ_ERR_FAILED);
        EXPECT_EQ(w.Finalize(), 0);
        EXPECT_EQ(readAll(path("d2.vt5")), bad) << tc.what;
    }
    // A missing file cannot be appended to.
    CKzFileChunker w;
    EXPECT_EQ(open(w, "none.vt5", false), KZ_ERR_FAILED);
}

TEST_F(ChunkerTest, AppendingToAnExistingFile)
{
    CKzFileChunker c;
    create(c, "ap.vt5", "Ver2.0");
    ASSERT_EQ(c.SetChunk("one", 3, "A"), 0);
    ASSERT_EQ(c.Finalize(), 0);
    CKzFileChunker w;
    CKzStringA v;
    ASSERT_EQ(w.Initialize_File(wpath("ap.vt5").c_str(), false, true, v), 0);
    EXPECT_STREQ(v.GetString(), "Ver2.0");
    ASSERT_EQ(w.SetChunk("two", 3, "B"), 0);
    // A read between two writes does not move where chunks go.
    EXPECT_EQ(get(w, "A"), (Bytes{'o', 'n', 'e'}));
    ASSERT_EQ(w.SetChunk("three", 5, "C"), 0);
    SKzChunkMapMember b, cc;
    ASSERT_TRUE(w.GetMapMember("B!", b));
    ASSERT_TRUE(w.GetMapMember("C!", cc));
    EXPECT_EQ(b.uiOffset, 3u * 4096);
    EXPECT_EQ(cc.uiOffset, 4u * 4096);
    ASSERT_EQ(w.Finalize(), 0);
    CKzFileChunker r;
    ASSERT_EQ(open(r, "ap.vt5"), 0);
    EXPECT_EQ(get(r, "A"), (Bytes{'o', 'n', 'e'}));
    EXPECT_EQ(get(r, "B"), (Bytes{'t', 'w', 'o'}));
    EXPECT_EQ(get(r, "C"), (Bytes{'t', 'h', 'r', 'e', 'e'}));
    EXPECT_EQ(r.GetChunkCount(), 3u);
    EXPECT_EQ(r.Finalize(), 0);
}

TEST_F(ChunkerTest, NewContainerOverAnExistingFileStartsAnew)
{
    writeAll(path("old.vt5"), pattern(50000, 11));
    CKzFileChunker c;
    create(c, "old.vt5");
    ASSERT_EQ(c.SetChunk("abc", 3, "A"), 0);
    ASSERT_EQ(c.Finalize(), 0);
    EXPECT_EQ(readAll(path("old.vt5")).size(), 3u * 4096);
}

// The signature block every hand-built container starts with.
Bytes signatureBlock()
{
    Bytes f(4096, 0);
    Bytes head;
    put32(head, 0x0ABECEDA);
    put32(head, 32);
    put64(head, 64);
    std::copy(head.begin(), head.end(), f.begin());
    std::memcpy(f.data() + 16, kSig, 32);
    std::memcpy(f.data() + 48, "Ver3.0", 6);
    return f;
}

// Builds a container by hand: signature block, garbage, the chunk's bytes at
// an unaligned offset, and a map whose entry points at the garbage.
Bytes handBuilt(size_t garbage, const Bytes& chunkBytes, const std::string& name)
{
    Bytes f = signatureBlock();
    f.insert(f.end(), garbage, 0x11);
    f.insert(f.end(), chunkBytes.begin(), chunkBytes.end());
    f.resize((f.size() + 4095) / 4096 * 4096, 0);
    const uint64_t mapAt = f.size();
    Bytes data(name.begin(), name.end());
    put64(data, 4096);
    put64(data, 100);
    data.insert(data.end(), kMapSig, kMapSig + 32);
    put64(data, mapAt);
    const size_t fixed = 48 + data.size() + 40;
    data.resize(data.size() + (4096 - fixed % 4096) % 4096, 0);
    data.insert(data.end(), kMapSig, kMapSig + 32);
    put64(data, mapAt);
    put32(f, 0x0ABECEDA);
    put32(f, 32);
    put64(f, data.size());
    f.insert(f.end(), kMapName, kMapName + 32);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

TEST_F(ChunkerTest, ReadingSkipsGarbageUpToTheNamedChunk)
{
    // The chunk's bytes, from a container written normally.
    CKzByteArray mem(4096);
    {
        CKzFileChunker c;
        CKzStringA v("Ver3.0", 0);
        ASSERT_EQ(c.Initialize_Memory(mem, false, false, v), 0);
        ASSERT_EQ(c.SetChunk(pattern(100, 12).data(), 100, "Moved"), 0);
        ASSERT_EQ(c.Finalize(), 0);
    }
    const Bytes chunkBytes(mem.GetData() + 4096, mem.GetData() + 8192);
    // The magic straddles the 4096-byte and 65536-byte read boundaries and more.
    for (size_t garbage : {1u, 4093u, 4094u, 4095u, 4096u, 4097u, 65533u, 65534u, 65535u}) {
        Bytes f = handBuilt(garbage, chunkBytes, "Moved!");
        f[4096 + garbage / 2] = 0xDA; // a lone first magic byte on the way
        CKzByteArray file(4096);
        file.SetData(f.data(), f.size(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
        CKzFileChunker r;
        CKzStringA v;
        ASSERT_EQ(r.Initialize_Memory(file, true, true, v), 0) << garbage;
        EXPECT_EQ(get(r, "Moved"), pattern(100, 12)) << garbage;
        SKzChunkMapMember m;
        ASSERT_TRUE(r.GetMapMember("Moved!", m));
        EXPECT_EQ(m.uiOffset, 4096u + garbage);
        SKzChunkHeader h{0, 0, 0};
        CKzByteArray part(16);
        EXPECT_EQ(r.GetChunkPart(h, part, 99, 1, "Moved"), 0);
        EXPECT_EQ(part.GetData()[0], pattern(100, 12)[99]);
    }
    // A map entry leading to another chunk's bytes does not hand those out.
    Bytes f = handBuilt(10, chunkBytes, "Other!");
    CKzByteArray file(4096);
    file.SetData(f.data(), f.size(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    CKzFileChunker r;
    CKzStringA v;
    ASSERT_EQ(r.Initialize_Memory(file, true, true, v), 0);
    int res = 0;
    get(r, "Other", &res);
    EXPECT_EQ(res, KZ_ERR_FAILED);

    // An entry whose name holds a zero byte could alias the empty name that
    // starts an iteration: it is dropped.
    f = handBuilt(0, chunkBytes, std::string("\0Moved!", 7));
    CKzByteArray file2(4096);
    file2.SetData(f.data(), f.size(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    CKzFileChunker r2;
    ASSERT_EQ(r2.Initialize_Memory(file2, true, true, v), 0);
    EXPECT_EQ(r2.GetChunkCount(), 0u);
    CKzStringA next;
    EXPECT_EQ(r2.GetNextChunkID(next, ""), KZ_ERR_NOT_FOUND);
}

namespace {

// A container of hand-made bytes: chunks at unaligned offsets between runs of
// garbage (with lone and false magic bytes), and a map whose entries point
// into that garbage: "C<i>!" before the chunk of that name, "X<i>!" before
// some chunk of another name.
struct DamagedFile {
    Bytes bytes;
    std::map<std::string, uint64_t> realOffset;  // of the C chunks
    std::map<std::string, Bytes> data;
    std::map<std::string, uint64_t> entries;      // what the map lists
};

DamagedFile damagedFile(int chunks, unsigned seed)
{
    DamagedFile d;
    Bytes& f = d.bytes;
    f.assign(4096, 0);
    Bytes head;
    put32(head, 0x0ABECEDA);
    put32(head, 32);
    put64(head, 64);
    std::copy(head.begin(), head.end(), f.begin());
    std::memcpy(f.data() + 16, kSig, 32);
    std::memcpy(f.data() + 48, "Ver3.0", 6);
    uint32_t x = seed;
    auto rnd = [&x](uint32_t n) {
        x = x * 1664525u + 1013904223u;
        return (x >> 8) % n;
    };
    for (int i = 0; i < chunks; ++i) {
        const size_t garbageStart = f.size();
        const size_t garbage = 1 + rnd(9000);
        for (size_t k = 0; k < garbage; ++k) {
            const uint32_t r = rnd(64);
            f.push_back(r == 0 ? 0xDA : static_cast<unsigned char>(0x20 + r));
        }
        if (garbage > 40) {
            // A false magic whose lengths do not fit the file.
            const size_t at = garbageStart + rnd(static_cast<uint32_t>(garbage - 20));
            const unsigned char fake[16] = {0xDA, 0xCE, 0xBE, 0x0A, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 0, 0, 0, 1};
            std::memcpy(f.data() + at, fake, 16);
        }
        const std::string name = "C" + std::to_string(i) + "!";
        const Bytes payload = pattern(1 + rnd(300), seed + i);
        d.realOffset[name] = f.size();
        d.data[name] = payload;
        put32(f, 0x0ABECEDA);
        put32(f, static_cast<uint32_t>(name.size()));
        put64(f, payload.size());
        f.insert(f.end(), name.begin(), name.end());
        f.insert(f.end(), payload.begin(), payload.end());
        d.entries[name] = garbageStart + rnd(static_cast<uint32_t>(garbage));
        d.entries["X" + std::to_string(i) + "!"] = garbageStart + rnd(static_cast<uint32_t>(garbage));
    }
    f.resize((f.size() + 4095) / 4096 * 4096, 0x33);
    const uint64_t mapAt = f.size();
    Bytes data;
    for (auto it = d.entries.rbegin(); it != d.entries.rend(); ++it) {
        data.insert(data.end(), it->first.begin(), it->first.end());
        put64(data, it->second);
        put64(data, 0);
    }
    data.insert(data.end(), kMapSig, kMapSig + 32);
    put64(data, mapAt);
    const size_t fixed = 48 + data.size() + 40;
    data.resize(data.size() + (4096 - fixed % 4096) % 4096, 0);
    data.insert(data.end(), kMapSig, kMapSig + 32);
    put64(data, mapAt);
    put32(f, 0x0ABECEDA);
    put32(f, 32);
    put64(f, data.size());
    f.insert(f.end(), kMapName, kMapName + 32);
    f.insert(f.end(), data.begin(), data.end());
    return d;
}

} // namespace

// Every entry of a map that points into garbage reads as the scan finds it:
// the chunk of its own name comes back (and its entry is corrected), another
// name fails. Lookups in any order, whole and in parts, repeated.
TEST_F(ChunkerTest, DamagedMapEntriesReadInAnyOrder)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        const DamagedFile d = damagedFile(300, seed);
        const std::string file = "damaged" + std::to_string(seed) + ".vt5";
        writeAll(path(file), d.bytes);
        CKzFileChunker r;
        ASSERT_EQ(open(r, file), 0);
        ASSERT_EQ(r.GetChunkCount(), d.entries.size());
        std::vector<std::string> names;
        for (const auto& e : d.entries)
            names.push_back(e.first);
        uint32_t x = seed * 7 + 1;
        for (int pass = 0; pass < 2; ++pass) {
            // A different order each pass: forward, then shuffled.
            if (pass == 1)
                for (size_t i = names.size(); i > 1; --i) {
                    x = x * 1664525u + 1013904223u;
                    std::swap(names[i - 1], names[(x >> 8) % i]);
                }
            for (const std::string& n : names) {
                int res = 0;
                const Bytes got = get(r, n.c_str(), &res);
                SKzChunkHeader h{0, 0, 0};
                CKzByteArray part(16);
                const int partRes = r.GetChunkPart(h, part, 0, 1, n.c_str());
                SKzChunkMapMember m;
                ASSERT_TRUE(r.GetMapMember(n.c_str(), m));
                if (n[0] == 'C') {
                    EXPECT_EQ(res, 0) << n;
                    EXPECT_EQ(got, d.data.at(n)) << n;
                    EXPECT_EQ(partRes, 0) << n;
                    EXPECT_EQ(m.uiOffset, d.realOffset.at(n)) << n;
                } else {
                    EXPECT_EQ(res, KZ_ERR_FAILED) << n;
                    EXPECT_EQ(partRes, KZ_ERR_FAILED) << n;
                    EXPECT_EQ(m.uiOffset, d.entries.at(n)) << n;
                }
            }
        }
        // The same file through memory, entries read backwards.
        CKzByteArray mem(4096);
        mem.SetData(d.bytes.data(), d.bytes.size(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
        CKzFileChunker m;
        CKzStringA v;
        ASSERT_EQ(m.Initialize_Memory(mem, true, true, v), 0);
        for (auto it = d.entries.rbegin(); it != d.entries.rend(); ++it) {
            int res = 0;
            const Bytes got = get(m, it->first.c_str(), &res);
            EXPECT_EQ(res, it->first[0] == 'C' ? 0 : KZ_ERR_FAILED) << it->first;
            if (it->first[0] == 'C')
                EXPECT_EQ(got, d.data.at(it->first)) << it->first;
        }
    }
}

namespace {

// A container of a signature block, `gap` bytes of zeros and a map chunk
// (name field of nameField bytes) listing entries in descending order; the
// trailer points at mapAt + pointerShift.
Bytes mapOnlyFile(const std::map<std::string, uint64_t>& entries, size_t gap, uint32_t nameField,
                  int64_t pointerShift = 0)
{
    Bytes f = signatureBlock();
    f.resize(f.size() + gap, 0);
    const uint64_t mapAt = f.size();
    const uint64_t pointer = mapAt + pointerShift;
    Bytes data;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        data.insert(data.end(), it->first.begin(), it->first.end());
        put64(data, it->second);
        put64(data, 7);
    }
    data.insert(data.end(), kMapSig, kMapSig + 32);
    put64(data, pointer);
    const size_t fixed = 16 + nameField + data.size() + 40;
    data.resize(data.size() + (4096 - fixed % 4096) % 4096, 0);
    data.insert(data.end(), kMapSig, kMapSig + 32);
    put64(data, pointer);
    put32(f, 0x0ABECEDA);
    put32(f, nameField);
    put64(f, data.size());
    f.insert(f.end(), kMapName, kMapName + 32);
    f.resize(f.size() + (nameField - 32), 0);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

} // namespace

// Maps of over 1 MB are read in parts on the threads that walk them, small
// ones in one read with the map's header, anything unusual (a longer name
// field, a trailer pointing before the map) by the general road: every road
// gives the same map, from a file and from memory; a map whose data runs
// past the end of the file is missing.
TEST_F(ChunkerTest, MapReadOnThreadsOpensAlikeOnEveryRoad)
{
    for (const int count : {40, 40000}) {
        std::map<std::string, uint64_t> entries;
        char name[40];
        for (int i = 0; i < count; ++i) {
            std::snprintf(name, sizeof name, "ImageDataSeq|%i!", i);
            entries[name] = 4096u * (i + 1);
        }
        struct Road {
            const char* what;
            Bytes bytes;
        };
        std::vector<Road> roads;
        roads.push_back({"usual", mapOnlyFile(entries, 0, 32)});
        roads.push_back({"long name field", mapOnlyFile(entries, 4096, 64)});
        roads.push_back({"trailer points before the map", mapOnlyFile(entries, 8192, 32, -4096)});
        if (count == 40000)
            EXPECT_GT(roads[0].bytes.size(), size_t(1) << 20);
        for (const Road& road : roads) {
            SCOPED_TRACE(std::string(road.what) + " " + std::to_string(count));
            writeAll(path("big.vt5"), road.bytes);
            CKzByteArray mem(4096);
            mem.SetData(road.bytes.data(), road.bytes.size(), CKzByteArray::eModeOpReplace,
                        CKzByteArray::eModeAllocExact);
            for (int memory = 0; memory < 2; ++memory) {
                CKzFileChunker r;
                CKzStringA v;
                ASSERT_EQ(memory ? r.Initialize_Memory(mem, true, true, v) : open(r, "big.vt5"), 0);
                ASSERT_EQ(r.GetChunkCount(), size_t(count));
                for (int i : {0, 1, count / 3, count / 2, count - 1}) {
                    std::snprintf(name, sizeof name, "ImageDataSeq|%i!", i);
                    SKzChunkMapMember m{0, 0};
                    ASSERT_TRUE(r.GetMapMember(name, m)) << name;
                    EXPECT_EQ(m.uiOffset, 4096u * (i + 1)) << name;
                    EXPECT_EQ(m.uiSize, 7u) << name;
                }
                CKzStringA next;
                ASSERT_EQ(r.GetNextChunkID(next, ""), 0);
                EXPECT_STREQ(next.GetString(), entries.begin()->first.c_str());
                EXPECT_EQ(r.Finalize(), 0);
            }
        }
        // The map's data length reaching past the end of the file, and the
        // file cut inside the map's data.
        Bytes longer = roads[0].bytes;
        const size_t mapAt = 4096;
        longer[mapAt + 8] = 0xFF;
        longer[mapAt + 9] = 0xFF;
        longer[mapAt + 10] = 0xFF;
        const Bytes full = roads[0].bytes;
        const Bytes cut(full.begin(), full.begin() + full.size() / 2);
        for (const Bytes* damaged : {static_cast<const Bytes*>(&longer), &cut}) {
            writeAll(path("bad.vt5"), *damaged);
            CKzFileChunker r;
            EXPECT_EQ(open(r, "bad.vt5"), KZ_ERR_NOT_FOUND);
            EXPECT_TRUE(r.IsMapMissing());
            EXPECT_EQ(r.GetChunkCount(), 0u);
            r.Finalize();
        }
    }
}

TEST_F(ChunkerTest, IterationCopiesAndReserve)
{
    CKzFileChunker c;
    create(c, "it.vt5");
    for (const char* n : {"b", "a", "c"})
        ASSERT_EQ(c.SetChunk(n, 1, n), 0);
    CKzStringA next;
    std::vector<std::string> names;
    for (int r = c.GetNextChunkID(next, ""); r == 0; r = c.GetNextChunkID(next, names.back().c_str()))
        names.push_back(next.GetString());
    EXPECT_EQ(names, (std::vector<std::string>{"a!", "b!", "c!"}));
    EXPECT_EQ(c.GetNextChunkID(next, "zz!"), KZ_ERR_NOT_FOUND);

    CKzFileChunker other;
    EXPECT_EQ(other.SetMapChunk(nullptr), KZ_ERR_INVALID_ARG);
    ASSERT_EQ(other.SetMapChunk(&c), 0);
    EXPECT_EQ(other.ExistChunk("b!"), 1);

    // A copy shares the stream and reads what the original wrote.
    CKzFileChunker copy(c);
    EXPECT_EQ(get(copy, "c"), Bytes{'c'});

    // A reader made from the writer keeps the writer's map when it opens
    // the file, whose own map does not exist yet.
    {
        CKzFileChunker reader(c);
        CKzStringA v;
        ASSERT_EQ(reader.Initialize_File(wpath("it.vt5").c_str(), true, true, v), 0);
        EXPECT_EQ(get(reader, "a"), Bytes{'a'});
        EXPECT_EQ(reader.Finalize(), 0);
    }

    ASSERT_EQ(c.Reserve(1u << 20), 0);
    EXPECT_EQ(readAll(path("it.vt5")).size(), 1u << 20);
    ASSERT_EQ(c.SetChunk("d", 1, "d"), 0);
    SKzChunkMapMember m;
    ASSERT_TRUE(c.GetMapMember("d!", m));
    EXPECT_EQ(m.uiOffset, 4u * 4096);
    ASSERT_EQ(c.Finalize(), 0);
    EXPECT_EQ(readAll(path("it.vt5")).size(), 6u * 4096);
}

int refuseWrites(FILE*, const void*, size_t, uint64_t* count, _KzIOASYNCINFO*)
{
    *count = 0;
    return KZ_ERR_FILE_WRITE;
}

TEST_F(ChunkerTest, FailedWriteIsNotFiled)
{
    CKzFileChunker c;
    create(c, "fw.vt5");
    ASSERT_EQ(c.SetChunk("abc", 3, "A"), 0);
    const auto saved = vt5_wrapper_detail::g_pfnWrite;
    vt5_wrapper_detail::g_pfnWrite = &refuseWrites;
    EXPECT_EQ(c.SetChunk("T1234567", 8, "frame", 5, "B"), KZ_ERR_FAILED);
    EXPECT_EQ(c.SetChunkPart("T1234567", 8, "frame", 5, 5, true, "S"), KZ_ERR_FAILED);
    vt5_wrapper_detail::g_pfnWrite = saved;
    EXPECT_EQ(c.ExistChunk("B!"), 0);
    EXPECT_EQ(c.ExistChunk("S!"), 0);
    // The next chunk takes the failed one's place.
    ASSERT_EQ(c.SetChunk("def", 3, "C"), 0);
    SKzChunkMapMember m;
    ASSERT_TRUE(c.GetMapMember("C!", m));
    EXPECT_EQ(m.uiOffset, 8192u);
    ASSERT_EQ(c.Finalize(), 0);
    CKzFileChunker r;
    ASSERT_EQ(open(r, "fw.vt5"), 0);
    EXPECT_EQ(r.GetChunkCount(), 2u);
    EXPECT_EQ(get(r, "A"), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(get(r, "C"), (Bytes{'d', 'e', 'f'}));
    EXPECT_EQ(r.Finalize(), 0);
}

TEST_F(ChunkerTest, ReadOnlyContainerRefusesWrites)
{
    CKzFileChunker c;
    create(c, "ro.vt5");
    ASSERT_EQ(c.Finalize(), 0);
    const Bytes before = readAll(path("ro.vt5"));
    CKzFileChunker r;
    ASSERT_EQ(open(r, "ro.vt5"), 0);
    EXPECT_EQ(r.SetChunk("x", 1, "X"), KZ_ERR_FAILED);
    EXPECT_EQ(r.SetChunkPart("t", 1, "x", 1, 1, true, "X"), KZ_ERR_FAILED);
    EXPECT_EQ(r.Reserve(100000), KZ_ERR_FAILED);
    EXPECT_EQ(r.Finalize(), 0);
    EXPECT_EQ(readAll(path("ro.vt5")), before);
    // A container opened again on another file reads that file's map.
    CKzFileChunker other;
    create(other, "other.vt5");
    ASSERT_EQ(other.SetChunk("o", 1, "O"), 0);
    ASSERT_EQ(other.Finalize(), 0);
    CKzFileChunker reused;
    ASSERT_EQ(open(reused, "other.vt5"), 0);
    ASSERT_EQ(reused.Finalize(), 0);
    ASSERT_EQ(open(reused, "ro.vt5"), 0);
    EXPECT_EQ(reused.GetChunkCount(), 0u);
    EXPECT_EQ(reused.Finalize(), 0);
    // After Finalize nothing is read or written.
    int res = 0;
    get(c, "X", &res);
    EXPECT_EQ(res, KZ_ERR_NOT_FOUND);
    EXPECT_EQ(c.SetChunk("x", 1, "X"), KZ_ERR_FAILED);
}

} // namespace
