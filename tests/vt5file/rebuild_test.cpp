// Chunk map rebuild, and the round trip of a container of many chunks, read
// whole and in ranges, before and after a rebuild of a map that was cut off.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

class RebuildTest : public TempDirTest {
protected:
    void create(CKzFileChunker& c, const std::string& name)
    {
        CKzStringA v("Ver3.0", 0);
        ASSERT_EQ(c.Initialize_File(wpath(name).c_str(), false, false, v), 0);
    }
    int open(CKzFileChunker& c, const std::string& name)
    {
        CKzStringA v;
        return c.Initialize_File(wpath(name).c_str(), true, true, v);
    }
    static Bytes get(CKzFileChunker& c, const std::string& name, int* result = nullptr)
    {
        CKzByteArray a(1024);
        const int r = c.GetChunk(a, name.c_str());
        if (result)
            *result = r;
        return Bytes(a.GetData(), a.GetData() + a.GetSize());
    }
    // Cuts the file just before its map chunk and a little into it.
    void cutMap(const std::string& name, size_t into)
    {
        Bytes f = readAll(path(name));
        const size_t mapAt = le64(f, f.size() - 8);
        f.resize(mapAt + into);
        writeAll(path(name), f);
    }
};

// Content written to one container, by name.
struct Expected {
    std::map<std::string, Bytes> chunks;
};

void writeMany(CKzFileChunker& c, Expected& e, unsigned seed)
{
    const size_t onePart[] = {1, 100, 3980, 4059, 4060, 4061, 5000, 70000};
    const size_t secondParts[] = {1, 4095, 4096, 4097, 10000, 3 * 4096, 65536 + 17};
    int n = 0;
    for (size_t len : onePart) {
        const std::string name = "One|" + std::to_string(n++) + "!";
        const Bytes d = pattern(len, seed + n);
        ASSERT_EQ(c.SetChunk(d.data(), static_cast<unsigned>(len), name.c_str()), 0);
        e.chunks[name] = d;
    }
    for (size_t len : secondParts) {
        const std::string name = "ImageDataSeq|" + std::to_string(n++) + "!";
        const Bytes t = pattern(8, seed + 100 + n), d = pattern(len, seed + n);
        ASSERT_EQ(c.SetChunk(t.data(), 8, d.data(), static_cast<unsigned>(len), name.c_str()), 0);
        Bytes all = t;
        all.insert(all.end(), d.begin(), d.end());
        e.chunks[name] = all;
    }
    for (size_t len : secondParts) {
        const std::string name = "Stream|" + std::to_string(n++);
        const Bytes t = pattern(8, seed + 200 + n), d = pattern(len, seed + n);
        size_t at = 0, step = 1 + len / 5;
        while (at < len) {
            const size_t piece = std::min(step, len - at);
            ASSERT_EQ(c.SetChunkPart(t.data(), 8, d.data() + at, static_cast<unsigned>(piece), len,
                                     at + piece == len, name.c_str()),
                      0);
            at += piece;
            step = step * 3 / 2 + 1;
        }
        Bytes all = t;
        all.insert(all.end(), d.begin(), d.end());
        e.chunks[name + "!"] = all;
    }
    // An empty chunk, and a rewritten name.
    ASSERT_EQ(c.SetChunk(nullptr, 0, "Empty"), 0);
    e.chunks["Empty!"] = Bytes();
    const Bytes old = pattern(300, seed + 999), fresh = pattern(200, seed + 998);
    ASSERT_EQ(c.SetChunk(old.data(), 300, "Again"), 0);
    ASSERT_EQ(c.SetChunk(fresh.data(), 200, "Again"), 0);
    e.chunks["Again!"] = fresh;
}

void readEverything(CKzFileChunker& c, const Expected& e)
{
    for (const auto& kv : e.chunks) {
        CKzByteArray a(1024);
        ASSERT_EQ(c.GetChunk(a, kv.first.c_str()), 0) << kv.first;
        ASSERT_EQ(Bytes(a.GetData(), a.GetData() + a.GetSize()), kv.second) << kv.first;
        // Ranges: start, middle, end, whole, and one past the end.
        const size_t n = kv.second.size();
        SKzChunkHeader h{0, 0, 0};
        const std::pair<size_t, size_t> ranges[] = {{0, std::min<size_t>(n, 7)}, {n / 3, n / 2}, {n - n / 4, n / 4},
                                                    {0, n}};
        for (const auto& r : ranges) {
            CKzByteArray part(16);
            ASSERT_EQ(c.GetChunkPart(h, part, r.first, static_cast<unsigned>(r.second), kv.first.c_str()), 0)
                << kv.first;
            ASSERT_EQ(part.GetSize(), r.second);
            if (r.second)
                ASSERT_EQ(std::memcmp(part.GetData(), kv.second.data() + r.first, r.second), 0) << kv.first;
        }
        CKzByteArray part(16);
        EXPECT_EQ(c.GetChunkPart(h, part, n, 1, kv.first.c_str()), KZ_ERR_FAILED);
    }
}

TEST_F(RebuildTest, ManyChunksRoundTripAndAfterRebuildOfACutMap)
{
    Expected e;
    {
        CKzFileChunker c;
        create(c, "many.vt5");
        writeMany(c, e, 1);
        ASSERT_EQ(c.Finalize(), 0);
    }
    {
        CKzFileChunker r;
        ASSERT_EQ(open(r, "many.vt5"), 0);
        EXPECT_EQ(r.GetChunkCount(), e.chunks.size());
        readEverything(r, e);
        EXPECT_EQ(r.Finalize(), 0);
    }
    for (size_t into : {0u, 17u, 4000u}) {
        const Bytes whole = readAll(path("many.vt5"));
        writeAll(path("cut.vt5"), whole);
        cutMap("cut.vt5", into);
        CKzFileChunker r;
        ASSERT_EQ(open(r, "cut.vt5"), KZ_ERR_NOT_FOUND);
        ASSERT_TRUE(r.IsMapMissing());
        ASSERT_EQ(r.CreateMissingChunkMap(nullptr, nullptr, nullptr), 0) << into;
        EXPECT_FALSE(r.IsMapMissing());
        readEverything(r, e);
        EXPECT_EQ(r.Finalize(), 0);
        // The repaired file opens like any other.
        CKzFileChunker again;
        ASSERT_EQ(open(again, "cut.vt5"), 0);
        readEverything(again, e);
        EXPECT_EQ(again.ExistChunk(kSig), 1);
        EXPECT_EQ(again.Finalize(), 0);
    }
}

TEST_F(RebuildTest, RebuiltMapListsEveryChunkWithWholeSizes)
{
    CKzFileChunker c;
    create(c, "r.vt5");
    ASSERT_EQ(c.SetChunk(pattern(100, 1).data(), 100, "A"), 0);
    ASSERT_EQ(c.SetChunk("T1234567", 8, pattern(10000, 2).data(), 10000, "B"), 0);
    ASSERT_EQ(c.SetChunk(nullptr, 0, "C"), 0); // an empty chunk does not end the scan
    ASSERT_EQ(c.SetChunk("T1234567", 8, pattern(4097, 3).data(), 4097, "D"), 0);
    ASSERT_EQ(c.SetChunk(pattern(5, 4).data(), 5, "E"), 0);
    ASSERT_EQ(c.Finalize(), 0);
    cutMap("r.vt5", 100);
    const Bytes before = readAll(path("r.vt5"));
    const size_t end = (before.size() - 100);

    CKzFileChunker r;
    ASSERT_EQ(open(r, "r.vt5"), KZ_ERR_NOT_FOUND);
    ASSERT_EQ(r.CreateMissingChunkMap(nullptr, nullptr, nullptr), 0);
    const Bytes f = readAll(path("r.vt5"));
    // Everything up to the last chunk is untouched; the map follows it.
    ASSERT_GT(f.size(), end);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + end), Bytes(before.begin(), before.begin() + end));
    const struct {
        const char* name;
        uint64_t offset, size;
    } expected[] = {
        {kSig, 0, 16 + 32 + 64},
        {"A!", 4096, 4096},
        {"B!", 8192, 4096 + 10000},
        {"C!", 8192 + 4 * 4096, 16 + 2},
        {"D!", 8192 + 5 * 4096, 4096 + 4097},
        {"E!", 8192 + 8 * 4096, 4096},
    };
    for (const auto& x : expected) {
        SKzChunkMapMember m;
        ASSERT_TRUE(r.GetMapMember(x.name, m)) << x.name;
        EXPECT_EQ(m.uiOffset, x.offset) << x.name;
        EXPECT_EQ(m.uiSize, x.size) << x.name;
    }
    EXPECT_EQ(text(f, end + 16, 32), kMapName);
    EXPECT_EQ(text(f, f.size() - 40, 32), kMapSig);
    EXPECT_EQ(le64(f, f.size() - 8), end);
    EXPECT_EQ(get(r, "D").size(), 8u + 4097);
    int res = -1;
    EXPECT_TRUE(get(r, "C", &res).empty());
    EXPECT_EQ(res, 0);
    EXPECT_EQ(r.Finalize(), 0);
}

TEST_F(RebuildTest, LaterCopyOfARewrittenNameWins)
{
    CKzFileChunker c;
    create(c, "d.vt5");
    ASSERT_EQ(c.SetChunk("old", 3, "Name"), 0);
    ASSERT_EQ(c.SetChunk("new", 3, "Name"), 0);
    // The writer stops before finishing: repair the open container itself.
    ASSERT_EQ(c.CreateMissingChunkMap(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(get(c, "Name"), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(c.SetChunk("x", 1, "X"), KZ_ERR_FAILED); // read-only now
    EXPECT_EQ(c.Finalize(), 0);
    CKzFileChunker r;
    ASSERT_EQ(open(r, "d.vt5"), 0);
    EXPECT_EQ(get(r, "Name"), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(r.Finalize(), 0);
}

TEST_F(RebuildTest, BadCandidatesInsidePixelDataAreSkipped)
{
    // Frame data holding the magic followed by headers that do not check out.
    Bytes frame = pattern(3 * 4096, 5);
    auto plant = [&](size_t at, uint32_t nameField, uint64_t dataLength, const char* name) {
        Bytes h;
        put32(h, 0x0ABECEDA);
        put32(h, nameField);
        put64(h, dataLength);
        h.insert(h.end(), name, name + std::strlen(name));
        std::copy(h.begin(), h.end(), frame.begin() + at);
    };
    plant(10, 0, 5, "Zero!");               // empty name field
    plant(500, 6, 5, "NoMark");             // name without the final mark
    plant(1000, 8, uint64_t(1) << 40, "Huge!"); // data beyond the file
    plant(4094, 5, 5, "\0\0\0\0\0");        // straddling a read boundary, empty name
    CKzFileChunker c;
    create(c, "p.vt5");
    ASSERT_EQ(c.SetChunk("A", 1, "A"), 0);
    ASSERT_EQ(c.SetChunk("T1234567", 8, frame.data(), static_cast<unsigned>(frame.size()), "B"), 0);
    ASSERT_EQ(c.SetChunk("C", 1, "C"), 0);
    ASSERT_EQ(c.Finalize(), 0);
    cutMap("p.vt5", 0);
    // Destroy B's header, so the scan resynchronises into its pixel data.
    Bytes f = readAll(path("p.vt5"));
    f[8192] = 0;
    writeAll(path("p.vt5"), f);
    const size_t cAt = 8192 + 4 * 4096;

    CKzFileChunker r;
    ASSERT_EQ(open(r, "p.vt5"), KZ_ERR_NOT_FOUND);
    ASSERT_EQ(r.CreateMissingChunkMap(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(r.ExistChunk("B!"), 0);
    SKzChunkMapMember m;
    ASSERT_TRUE(r.GetMapMember("C!", m));
    EXPECT_EQ(m.uiOffset, cAt);
    EXPECT_EQ(get(r, "C"), Bytes{'C'});
    EXPECT_EQ(get(r, "A"), Bytes{'A'});
    const Bytes after = readAll(path("p.vt5"));
    EXPECT_EQ(Bytes(after.begin(), after.begin() + cAt + 4096), Bytes(f.begin(), f.begin() + cAt + 4096));
    EXPECT_EQ(r.Finalize(), 0);
}

TEST_F(RebuildTest, ChunkInTheLastPartialBlockIsFound)
{
    // Signature block, 100 bytes of garbage, then an empty chunk ending the file.
    for (bool memory : {false, true}) {
        Bytes f(4096, 0);
        Bytes h;
        put32(h, 0x0ABECEDA);
        put32(h, 32);
        put64(h, 64);
        std::copy(h.begin(), h.end(), f.begin());
        std::memcpy(f.data() + 16, kSig, 32);
        f.insert(f.end(), 100, 0x22);
        put32(f, 0x0ABECEDA);
        put32(f, 5);
        put64(f, 0);
        f.insert(f.end(), {'T', 'a', 'i', 'l', '!'});
        CKzByteArray mem(4096);
        CKzFileChunker r;
        CKzStringA v;
        if (memory) {
            mem.SetData(f.data(), f.size(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
            ASSERT_EQ(r.Initialize_Memory(mem, true, true, v), KZ_ERR_NOT_FOUND);
        } else {
            writeAll(path("t.vt5"), f);
            ASSERT_EQ(open(r, "t.vt5"), KZ_ERR_NOT_FOUND);
        }
        ASSERT_EQ(r.CreateMissingChunkMap(nullptr, nullptr, nullptr), 0);
        SKzChunkMapMember m;
        ASSERT_TRUE(r.GetMapMember("Tail!", m)) << memory;
        EXPECT_EQ(m.uiOffset, 4196u);
        EXPECT_EQ(m.uiSize, 21u);
        int res = -1;
        EXPECT_TRUE(get(r, "Tail", &res).empty());
        EXPECT_EQ(res, 0);
        const Bytes out = memory ? Bytes(mem.GetData(), mem.GetData() + mem.GetSize()) : readAll(path("t.vt5"));
        EXPECT_EQ(out.size(), 3u * 4096);
        EXPECT_EQ(le64(out, out.size() - 8), 8192u);
        EXPECT_EQ(r.Finalize(), 0);
    }
}

struct Recorder {
    std::vector<std::string> seen;
    std::vector<size_t> sizes;
    int rounds = 0;
    int stopAt = 0;
};

int record(SKzChunkHeader& h, CKzStringA& name, CKzByteArray& data, void* user)
{
    auto* rec = static_cast<Recorder*>(user);
    const std::string n = name.GetString();
    if (n.rfind("##ADD_NEW_CHUNKS##", 0) == 0) {
        EXPECT_EQ(n, "##ADD_NEW_CHUNKS##" + std::to_string(rec->rounds));
        if (rec->rounds++ >= rec->stopAt)
            return KZ_ERR_TRUNCATED;
        name.Format("Added%i!", rec->rounds);
        data.SetData("added", 5, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
        return 0;
    }
    rec->seen.push_back(n);
    rec->sizes.push_back(data.GetSize());
    EXPECT_EQ(h.uiDataLength, data.GetSize());
    return 0;
}

TEST_F(RebuildTest, CallbackSeesChunksAndAddsNew)
{
    for (int stopAt : {0, 2}) {
        CKzFileChunker c;
        create(c, "cb.vt5");
        ASSERT_EQ(c.SetChunk("abc", 3, "A"), 0);
        ASSERT_EQ(c.SetChunk("T1234567", 8, "xyz", 3, "B"), 0);
        ASSERT_EQ(c.Finalize(), 0);
        cutMap("cb.vt5", 0);
        CKzFileChunker r;
        ASSERT_EQ(open(r, "cb.vt5"), KZ_ERR_NOT_FOUND);
        Recorder rec;
        rec.stopAt = stopAt;
        ASSERT_EQ(r.CreateMissingChunkMap(&record, &rec, nullptr), 0);
        EXPECT_EQ(rec.seen, (std::vector<std::string>{kSig, "A!", "B!"}));
        EXPECT_EQ(rec.sizes, (std::vector<size_t>{64, 3, 11}));
        EXPECT_EQ(rec.rounds, stopAt + 1);
        EXPECT_EQ(r.ExistChunk("Added1!"), stopAt >= 1 ? 1 : 0);
        EXPECT_EQ(r.ExistChunk("Added2!"), stopAt >= 2 ? 1 : 0);
        EXPECT_EQ(r.ExistChunk("Added3!"), 0);
        if (stopAt)
            EXPECT_EQ(get(r, "Added2"), (Bytes{'a', 'd', 'd', 'e', 'd'}));
        EXPECT_EQ(r.Finalize(), 0);
    }
}

struct Progress {
    std::vector<double> fractions;
    size_t stopAfter = 1000;
};
Progress* g_progress = nullptr;
bool watch(double fraction, void* user)
{
    EXPECT_EQ(user, nullptr);
    g_progress->fractions.push_back(fraction);
    return g_progress->fractions.size() >= g_progress->stopAfter;
}

TEST_F(RebuildTest, ProgressReportsAndStops)
{
    CKzFileChunker c;
    create(c, "pg.vt5");
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(c.SetChunk(pattern(5000, i).data(), 5000, ("C" + std::to_string(i)).c_str()), 0);
    ASSERT_EQ(c.Finalize(), 0);
    cutMap("pg.vt5", 0);
    const Bytes before = readAll(path("pg.vt5"));

    Progress p;
    g_progress = &p;
    p.stopAfter = 2; // signature chunk, then the first chunk
    {
        CKzFileChunker r;
        ASSERT_EQ(open(r, "pg.vt5"), KZ_ERR_NOT_FOUND);
        EXPECT_EQ(r.CreateMissingChunkMap(nullptr, nullptr, &watch), KZ_ERR_TRUNCATED);
        EXPECT_EQ(readAll(path("pg.vt5")), before);
        EXPECT_EQ(r.GetChunkCount(), 2u);
        EXPECT_EQ(r.SetChunk("x", 1, "X"), KZ_ERR_FAILED);
        EXPECT_EQ(r.Finalize(), 0);
        EXPECT_EQ(readAll(path("pg.vt5")), before);
    }
    p = Progress();
    {
        CKzFileChunker r;
        ASSERT_EQ(open(r, "pg.vt5"), KZ_ERR_NOT_FOUND);
        ASSERT_EQ(r.CreateMissingChunkMap(nullptr, nullptr, &watch), 0);
        ASSERT_EQ(p.fractions.size(), 6u);
        for (size_t i = 1; i < p.fractions.size(); ++i)
            EXPECT_GE(p.fractions[i], p.fractions[i - 1]);
        EXPECT_DOUBLE_EQ(p.fractions.back(), 1.0);
        EXPECT_EQ(r.Finalize(), 0);
    }
    g_progress = nullptr;
}

TEST_F(RebuildTest, FileWithoutSignatureIsLeftAlone)
{
    CKzFileChunker c;
    create(c, "ns.vt5");
    ASSERT_EQ(c.SetChunk("abc", 3, "A"), 0);
    // Damage the signature while the writer still holds the file.
    {
        Bytes f = readAll(path("ns.vt5"));
        f[20] ^= 1;
        writeAll(path("ns.vt5"), f);
    }
    const Bytes before = readAll(path("ns.vt5"));
    EXPECT_EQ(c.CreateMissingChunkMap(nullptr, nullptr, nullptr), KZ_ERR_FAILED);
    EXPECT_EQ(readAll(path("ns.vt5")), before);
    EXPECT_EQ(c.Finalize(), 0);
    EXPECT_EQ(readAll(path("ns.vt5")), before);
}

int countChunks(SKzChunkHeader& header, CKzStringA&, CKzByteArray& data, void* user)
{
    if (header.uiMagic != 0) {
        ++*static_cast<int*>(user);
        EXPECT_EQ(header.uiDataLength, data.GetSize());
    }
    return KZ_ERR_TRUNCATED;
}

// A chunk of 4 GiB or more (the header's u64 length allows it, and other
// writers may produce it) cannot be read whole, but the rebuild must not
// take it for damage and write the map over it and the chunks after it.
TEST_F(RebuildTest, ChunkOf4GiBOrMoreIsFiledNotOverwritten)
{
    const uint64_t huge = (uint64_t(1) << 32) + 8;
    for (bool withCallback : {false, true}) {
        CKzFileChunker c;
        create(c, "big.vt5");
        ASSERT_EQ(c.SetChunk("abc", 3, "A"), 0);
        ASSERT_EQ(c.Finalize(), 0);
        cutMap("big.vt5", 0);
        // By hand, sparse: "Huge!" with an 8-byte first part, then "Z!".
        const uint64_t hugeAt = 8192;
        Bytes head;
        put32(head, 0x0ABECEDA);
        put32(head, 4096 - 16 - 8);
        put64(head, huge);
        const std::string hn = "Huge!";
        head.insert(head.end(), hn.begin(), hn.end());
        const uint64_t zAt = hugeAt + 4096 + ((huge - 8 + 4095) / 4096) * 4096;
        Bytes z;
        put32(z, 0x0ABECEDA);
        put32(z, 4096 - 16 - 3);
        put64(z, 3);
        z.push_back('Z');
        z.push_back('!');
        z.resize(4096 - 3, 0);
        z.push_back('x');
        z.push_back('y');
        z.push_back('z');
        {
            std::fstream f(path("big.vt5"), std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(static_cast<std::streamoff>(hugeAt));
            f.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
            f.seekp(static_cast<std::streamoff>(zAt));
            f.write(reinterpret_cast<const char*>(z.data()), static_cast<std::streamsize>(z.size()));
        }
        CKzFileChunker r;
        ASSERT_EQ(open(r, "big.vt5"), KZ_ERR_NOT_FOUND);
        int seen = 0;
        ASSERT_EQ(r.CreateMissingChunkMap(withCallback ? &countChunks : nullptr, &seen, nullptr), 0);
        SKzChunkMapMember m;
        ASSERT_TRUE(r.GetMapMember("Huge!", m)) << withCallback;
        EXPECT_EQ(m.uiOffset, hugeAt);
        EXPECT_EQ(m.uiSize, 4096 + huge - 8);
        ASSERT_TRUE(r.GetMapMember("Z!", m)) << withCallback;
        EXPECT_EQ(m.uiOffset, zAt);
        if (withCallback)
            EXPECT_EQ(seen, 3); // the signature, "A!" and "Z!": "Huge!" cannot be handed over whole
        EXPECT_EQ(get(r, "Z"), (Bytes{'x', 'y', 'z'}));
        EXPECT_EQ(get(r, "A"), (Bytes{'a', 'b', 'c'}));
        int res = 0;
        get(r, "Huge", &res);
        EXPECT_EQ(res, KZ_ERR_FAILED);
        SKzChunkHeader h{0, 0, 0};
        CKzByteArray part(16);
        ASSERT_EQ(r.GetChunkPart(h, part, huge - 4, 4, "Huge"), 0);
        EXPECT_EQ(Bytes(part.GetData(), part.GetData() + 4), Bytes(4, 0));
        EXPECT_EQ(r.Finalize(), 0);
        EXPECT_GT(std::filesystem::file_size(path("big.vt5")), zAt + 4096);
        std::filesystem::remove(path("big.vt5"));
    }
}

} // namespace
