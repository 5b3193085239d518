// Byte layout of the lite-variant form, the writer and the reader's navigation.
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytesOf(const CKzLiteVariantR& r)
{
    const unsigned char* p = r.GetData();
    return Bytes(p, p + r.GetSize());
}

void load(CKzLiteVariantR& r, const Bytes& b)
{
    r.Clear();
    if (!b.empty()) r.SetData(b.data(), b.size(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    r.Reset();
}

const Bytes kBlob36 = {0x0B, 0x02, 0x41, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x1C, 0x00,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x02, 0x78, 0x00, 0x00, 0x00,
                       0x05, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

Bytes blob36()
{
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    EXPECT_EQ(0, w.LevelBegin(L"A"));
    EXPECT_EQ(0, w.Set(5, L"x"));
    EXPECT_EQ(0, w.LevelEnd());
    w.Finalize(r);
    return bytesOf(r);
}

// Names of the children of the level at the start of a blob, in index order.
std::vector<std::wstring> indexOrder(const Bytes& b)
{
    std::vector<std::wstring> names;
    unsigned n = b[1];
    uint32_t k;
    uint64_t x;
    std::memcpy(&k, &b[2 + 2 * n], 4);
    std::memcpy(&x, &b[6 + 2 * n], 8);
    for (uint32_t i = 0; i < k; ++i) {
        uint64_t e;
        std::memcpy(&e, &b[x + 8 * i], 8);
        std::wstring s;
        for (unsigned u = 0; u + 1 < b[e + 1]; ++u) s += (wchar_t)(b[e + 2 + 2 * u] | (b[e + 3 + 2 * u] << 8));
        names.push_back(s);
    }
    return names;
}

} // namespace

TEST(LiteVariantWriter, LevelWithOneIntIsTheDocumented36Bytes)
{
    EXPECT_EQ(kBlob36, blob36());
}

TEST(LiteVariantWriter, EmptyLevelAndRootValue)
{
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    w.LevelBegin(L"E");
    w.Finalize(r); // closes the open level
    EXPECT_EQ(Bytes({0x0B, 0x02, 0x45, 0, 0, 0, 0, 0, 0, 0, 0x12, 0, 0, 0, 0, 0, 0, 0}), bytesOf(r));

    EXPECT_EQ(0, w.Set(true, nullptr));
    EXPECT_EQ(-9, w.LevelBegin(L"A")); // root of a non-empty buffer
    EXPECT_EQ(-9, w.LevelEnd());
    EXPECT_EQ(-9, w.Set((const wchar_t*)nullptr, L"t"));
    w.Finalize(r);
    EXPECT_EQ(Bytes({0x01, 0x00, 0x01}), bytesOf(r));
    // The writer starts over after Finalize.
    EXPECT_EQ(0, w.LevelBegin(L"A"));
    EXPECT_EQ(0, w.Set(5, L"x"));
    w.Finalize(r);
    EXPECT_EQ(kBlob36, bytesOf(r));
}

TEST(LiteVariantWriter, IndexIsInUtf16NameOrder)
{
    struct Case {
        std::vector<std::wstring> written, indexed;
    };
    const Case cases[] = {
        {{L"b", L"a", L"B"}, {L"B", L"a", L"b"}},
        {{L"ab", L"a"}, {L"a", L"ab"}},
        {{L"z", L"", L"a"}, {L"", L"a", L"z"}},
        // U+FF01 sorts after U+1F600 in UTF-16 (D83D < FF01).
        {{L"\xFF01", L"\x1F600"}, {L"\xD83D\xDE00", L"\xFF01"}},
    };
    for (const Case& c : cases) {
        CKzLiteVariantW w;
        CKzLiteVariantR r;
        w.LevelBegin(L"L");
        for (const std::wstring& n : c.written) w.Set(1, n.c_str());
        w.Finalize(r);
        EXPECT_EQ(c.indexed, indexOrder(bytesOf(r)));
    }
}

TEST(LiteVariantWriter, NamesAreCutTo254UnitsWithoutSplittingPairs)
{
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    std::wstring longName(300, L'n');
    w.Set(1, longName.c_str());
    w.Finalize(r);
    Bytes b = bytesOf(r);
    ASSERT_EQ(2u + 2 * 255 + 4, b.size());
    EXPECT_EQ(255, b[1]);
    EXPECT_EQ('n', b[2 + 2 * 253]);
    EXPECT_EQ(0, b[2 + 2 * 254]);
    EXPECT_EQ(0, b[3 + 2 * 254]);

    // 253 units, then a pair that would end at unit 255: the pair is dropped.
    std::wstring edge(253, L'e');
    edge += L'\x1F600';
    w.Set(1, edge.c_str());
    w.Finalize(r);
    b = bytesOf(r);
    EXPECT_EQ(254, b[1]);
    EXPECT_EQ('e', b[2 + 2 * 252]);
    EXPECT_EQ(0, b[2 + 2 * 253]);
}

TEST(LiteVariantWriter, TextsAndNamesAreUtf16)
{
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    w.Set(L"\x1F600", L"\x1F600");
    w.Finalize(r);
    Bytes b = bytesOf(r);
    // n counts the pair and the zero unit.
    EXPECT_EQ(Bytes({0x08, 0x03, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0x00, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0x00}), b);

    // A lone surrogate or a value beyond U+10FFFF is no character: U+FFFD.
    w.Set(L"\xD800|\x110000", nullptr);
    w.Finalize(r);
    EXPECT_EQ(Bytes({0x08, 0x00, 0xFD, 0xFF, 0x7C, 0x00, 0xFD, 0xFF, 0x00, 0x00}), bytesOf(r));
}

TEST(LiteVariantWriter, PayloadsOfEveryType)
{
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    unsigned char raw[3] = {7, 8, 9};
    w.Set(false, nullptr);
    w.Set(-2, nullptr);
    w.Set(3u, nullptr);
    w.Set(-4L, nullptr);
    w.Set(5UL, nullptr);
    w.Set(1.5, nullptr);
    w.Set((void*)0x1234, nullptr);
    w.Set((const void*)raw, 3UL, nullptr);
    w.Finalize(r);
    const Bytes expect = {1, 0, 0,                                      // bool
                          2, 0, 0xFE, 0xFF, 0xFF, 0xFF,                 // int32
                          3, 0, 3, 0, 0, 0,                             // uint32
                          4, 0, 0xFC, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                          5, 0, 5, 0, 0, 0, 0, 0, 0, 0,
                          6, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F,           // 1.5
                          7, 0, 0x34, 0x12, 0, 0, 0, 0, 0, 0,
                          9, 0, 3, 0, 0, 0, 0, 0, 0, 0, 7, 8, 9};
    EXPECT_EQ(expect, bytesOf(r));
}

TEST(LiteVariantWriter, BufferStartsAt4096AndDoubles)
{
    CKzLiteVariantW w;
    EXPECT_EQ(0u, w.GetCapacity());
    w.Set(true, nullptr);
    EXPECT_EQ(4096u, w.GetCapacity());
    std::vector<unsigned char> big(5000 - 3 - 10, 1);
    w.Set((const void*)big.data(), (unsigned long)big.size(), nullptr);
    EXPECT_EQ(5000u, w.GetUsed());
    EXPECT_EQ(8192u, w.GetCapacity());
}

TEST(LiteVariantWriter, FailedGrowthWritesNothingFurther)
{
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    load(r, kBlob36);
    w.LevelBegin(L"A");
    w.Set(1, L"a");
    unsigned char b = 0;
    // A length no blob can have: refused without touching memory.
    EXPECT_EQ(-3, w.Set((const void*)&b, 1UL << 40, L"big"));
    EXPECT_TRUE(w.HasFailed());
    EXPECT_EQ(-3, w.Set(2, L"b"));
    EXPECT_EQ(-3, w.LevelBegin(L"C"));
    EXPECT_EQ(-3, w.Append(r));
    // No incomplete blob is handed out; the writer is usable again afterwards.
    EXPECT_EQ(nullptr, w.Finalize(r));
    EXPECT_EQ(0u, r.GetSize());
    EXPECT_FALSE(w.HasFailed());
    w.LevelBegin(L"A");
    w.Set(5, L"x");
    EXPECT_NE(nullptr, w.Finalize(r));
    EXPECT_EQ(kBlob36, bytesOf(r));
}

TEST(LiteVariantWriter, AppendCopiesTheRecordAtTheCursor)
{
    CKzLiteVariantR src, out;
    load(src, kBlob36);
    CKzLiteVariantW w;
    w.LevelBegin(L"R");
    EXPECT_EQ(0, w.Append(src)); // the whole level A
    ASSERT_EQ(0, src.LevelBegin(L"A"));
    EXPECT_EQ(0, w.Append(src)); // x
    EXPECT_EQ(18u, src.GetCurrentOffset()); // the source cursor stays
    w.Finalize(out);
    ASSERT_EQ(0, out.LevelBegin(L"R"));
    EXPECT_EQ(5, out.Get(L"x", 0));
    ASSERT_EQ(0, out.LevelBegin(L"A"));
    EXPECT_EQ(5, out.Get(L"x", 0));

    // A byte record whose stored length runs past the blob is not copied.
    Bytes bad = {9, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 1, 2};
    load(src, bad);
    CKzLiteVariantW w2;
    EXPECT_EQ(-9, w2.Append(src));
    EXPECT_EQ(0u, w2.GetUsed());
    CKzLiteVariantR empty;
    EXPECT_EQ(-9, w2.Append(empty));
}

TEST(LiteVariantReader, ReadsTheDocumentedBlob)
{
    CKzLiteVariantR r;
    load(r, kBlob36);
    unsigned k = 99;
    ASSERT_EQ(0, r.LevelBegin(L"A", &k));
    EXPECT_EQ(1u, k);
    EXPECT_EQ(5, r.Get(L"x", 0));
    EXPECT_EQ(28u, r.GetCurrentOffset());
    EXPECT_EQ(5, r.Get(L"x", 7)); // through the index
    EXPECT_EQ(7, r.Get(L"y", 7));
    EXPECT_EQ(5u, r.Get(L"x", 0u));
    EXPECT_EQ(0L, r.Get(L"x", 0L)); // no widening: the default, cursor on x
    EXPECT_EQ(18u, r.GetCurrentOffset());
    EXPECT_EQ(2, r.GetCurrentType());
    EXPECT_EQ(0, r.LevelEnd());
    EXPECT_EQ(0u, r.GetCurrentOffset());
    EXPECT_EQ(0, r.NextValue());
    EXPECT_EQ(36u, r.GetCurrentOffset());
    EXPECT_EQ(0, r.GetCurrentType());
    EXPECT_FALSE(r.IsNextValue());
    EXPECT_EQ(-9, r.NextValue());
    EXPECT_EQ(0, r.LevelEnd()); // at the root: nothing
    EXPECT_EQ(36u, r.GetCurrentOffset());
}

TEST(LiteVariantReader, RootRecordsAreFoundOnlyInSequence)
{
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    w.Set(1, L"a");
    w.Set(2, L"b");
    w.Finalize(r);
    EXPECT_EQ(0, r.Get(L"b", 0));
    EXPECT_EQ(1, r.Get(L"a", 0));
    EXPECT_EQ(2, r.Get(L"b", 0));

    Bytes three = {1, 0, 1};
    load(r, three);
    EXPECT_EQ(1, r.GetCurrentType());
    EXPECT_FALSE(r.IsNextValue());
}

// An empty search name is compared with its zero unit: an unnamed record is
// found at the cursor only, never through the level's index. Named lookups
// through the index are unaffected.
TEST(LiteVariantReader, EmptyNameIsFoundOnlyAtTheCursor)
{
    struct Case {
        std::vector<std::pair<std::wstring, int>> members;   // written in this order
        std::vector<std::wstring> readFirst;                 // Gets that move the cursor
        const wchar_t* name;
        int expect;                                          // default is -1
    };
    const Case cases[] = {
        {{{L"a", 1}, {L"", 7}}, {}, L"", -1},           // cursor on a
        {{{L"a", 1}, {L"", 7}}, {L"a"}, L"", 7},        // cursor on the unnamed record
        {{{L"", 7}, {L"a", 1}}, {}, L"", 7},            // unnamed record first
        {{{L"", 7}, {L"a", 1}}, {L"a"}, L"", -1},       // cursor at the index
        {{{L"a", 1}, {L"", 7}, {L"b", 2}}, {}, L"b", 2},  // named: through the index
        {{{L"a", 1}, {L"", 7}, {L"b", 2}}, {L"b"}, L"a", 1},
        {{{L"a", 1}, {L"", 7}, {L"b", 2}}, {}, L"c", -1},
        {{{L"a", 1}, {L"", 7}, {L"b", 2}}, {}, L"", -1},
    };
    for (const Case& c : cases) {
        CKzLiteVariantW w;
        CKzLiteVariantR r;
        w.LevelBegin(L"L");
        for (const auto& m : c.members) w.Set(m.second, m.first.c_str());
        w.LevelEnd();
        w.Finalize(r);
        ASSERT_EQ(0, r.LevelBegin(L"L", nullptr));
        for (const std::wstring& n : c.readFirst) EXPECT_NE(-1, r.Get(n.c_str(), -1));
        EXPECT_EQ(c.expect, r.Get(c.name, -1)) << c.members.size() << " " << c.readFirst.size();
    }
}

TEST(LiteVariantReader, TypedGetsAcceptOnlyTheirCodes)
{
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    unsigned char ten[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    w.LevelBegin(L"T");
    w.Set(true, L"b");
    w.Set(-1, L"i");
    w.Set(4000000000u, L"u");
    w.Set(-5L, L"l");
    w.Set(6UL, L"ul");
    w.Set(2.5, L"d");
    w.Set((void*)0xABC, L"p");
    w.Set(L"h\x1F600", L"s");
    w.Set((const void*)ten, 10UL, L"ten");
    w.Set((const void*)ten, 0UL, L"zero");
    w.Finalize(r);
    ASSERT_EQ(0, r.LevelBegin(L"T"));
    EXPECT_TRUE(r.Get(L"b", false));
    EXPECT_EQ(-1, r.Get(L"i", 0));
    EXPECT_EQ(0xFFFFFFFFu, r.Get(L"i", 0u));       // 2 and 3 stand for each other
    EXPECT_EQ((int)4000000000u, r.Get(L"u", 0));
    EXPECT_EQ(7, r.Get(L"l", 7));                  // no narrowing
    EXPECT_EQ(-5L, r.Get(L"l", 0L));
    EXPECT_EQ(6L, r.Get(L"ul", 0L));               // 4 and 5 stand for each other
    EXPECT_EQ(2.5, r.Get(L"d", 0.0));
    EXPECT_EQ(9.0, r.Get(L"i", 9.0));
    EXPECT_EQ((void*)0xABC, r.Get(L"p", (void*)nullptr));
    EXPECT_STREQ(L"h\x1F600", r.Get(L"s", L""));
    EXPECT_STREQ(L"dflt", r.Get(L"b", L"dflt"));
    const unsigned short* units = r.Get(L"s", (const unsigned short*)nullptr);
    ASSERT_NE(nullptr, units);
    unsigned short u[4];
    std::memcpy(u, units, 8);
    EXPECT_EQ(Bytes({'h', 0x3D, 0x00, 0}), Bytes({(unsigned char)u[0], (unsigned char)(u[1] & 0xFF), (unsigned char)(u[2] & 0xFF), (unsigned char)u[3]}));
    CKzStringW s;
    EXPECT_STREQ(L"h\x1F600", r.GetCKzStringW(s, L"s", L"x").GetString());
    EXPECT_STREQ(L"\x1F600", r.GetCKzStringW(s, L"none", L"\x1F600").GetString());

    unsigned char buf[12] = {};
    EXPECT_EQ(0, r.Get(L"ten", buf, 4));
    EXPECT_EQ(3, buf[3]);
    EXPECT_EQ(0, buf[4]);
    CKzByteArray ba(16);
    unsigned char keep[2] = {42, 43};
    ba.SetData(keep, 2, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    EXPECT_EQ(0, r.Get(L"zero", ba)); // an empty copy changes nothing
    EXPECT_EQ(2u, ba.GetSize());
    EXPECT_EQ(0, r.Get(L"ten", ba));
    EXPECT_EQ(10u, ba.GetSize());
    unsigned long len = 0;
    const unsigned char* p = (const unsigned char*)r.Get(L"ten", &len);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(10u, len);
    EXPECT_EQ(9, p[9]);
    EXPECT_EQ(-9, r.Get(L"i", buf, 4));
    EXPECT_EQ(nullptr, r.Get(L"i", &len));
}

TEST(LiteVariantReader, NamesAtTheCursor)
{
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    w.Set(1, L"abc");
    w.Finalize(r);
    wchar_t out[8];
    EXPECT_EQ(0, r.GetCurrentName(out, 1));
    EXPECT_STREQ(L"a", out);
    EXPECT_EQ(0, r.GetCurrentName(out, 7));
    EXPECT_STREQ(L"abc", out);
    EXPECT_EQ(-9, r.GetCurrentName(nullptr, 7));
    EXPECT_EQ(-9, r.GetCurrentName(out, 0));
}

TEST(LiteVariantReader, CompressedBlobReadsLikeThePlainOne)
{
    Bytes z(compressBound(36));
    uLongf zl = z.size();
    ASSERT_EQ(Z_OK, compress2(z.data(), &zl, kBlob36.data(), 36, 9));
    Bytes blob = {'L', 'V', '0', 'Z', 36, 0, 0, 0, 0, 0, 0, 0};
    blob.insert(blob.end(), z.begin(), z.begin() + zl);
    CKzLiteVariantR r;
    load(r, blob);
    EXPECT_EQ(11, r.GetCurrentType());
    EXPECT_EQ(kBlob36, bytesOf(r));
    load(r, blob);
    unsigned k = 0;
    ASSERT_EQ(0, r.LevelBegin(L"A", &k));
    EXPECT_EQ(5, r.Get(L"x", 0));

    // A stream that inflates to less than announced keeps what zlib produced.
    Bytes longer = blob;
    longer[4] = 100;
    load(r, longer);
    EXPECT_EQ(0, r.Decompress());
    EXPECT_EQ(kBlob36, bytesOf(r));
}

TEST(LiteVariantReader, DamagedCompressedBlobBecomesEmpty)
{
    Bytes z(compressBound(36));
    uLongf zl = z.size();
    compress2(z.data(), &zl, kBlob36.data(), 36, 9);
    struct Case {
        const char* what;
        Bytes blob;
    };
    Bytes head = {'L', 'V', '0', 'Z', 36, 0, 0, 0, 0, 0, 0, 0};
    Bytes corrupt = head;
    corrupt.insert(corrupt.end(), z.begin(), z.begin() + zl);
    corrupt[14] ^= 0x55;
    Bytes truncated = head;
    truncated.insert(truncated.end(), z.begin(), z.begin() + zl / 2);
    Bytes absurd = head;
    absurd[9] = 0x10; // 2^52 bytes announced
    absurd.insert(absurd.end(), z.begin(), z.begin() + zl);
    Bytes ratio = head;
    ratio[4] = 0;
    ratio[7] = 0x01; // 16 MiB from a 30-byte stream: beyond what deflate can produce
    ratio.insert(ratio.end(), z.begin(), z.begin() + zl);
    const Case cases[] = {{"corrupt", corrupt}, {"truncated", truncated}, {"absurd", absurd}, {"ratio", ratio}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CKzLiteVariantR r;
        load(r, c.blob);
        EXPECT_EQ(-9, r.Decompress());
        EXPECT_EQ(0u, r.GetSize());
        load(r, c.blob);
        EXPECT_FALSE(r.IsNextValue());
        EXPECT_EQ(0, r.GetCurrentType());
        EXPECT_EQ(-9, r.LevelBegin(L"A"));
    }
}

// Inflation gives zlib's uncompress results for every kind of stream: the
// bytes for complete streams whose check value matches (any length, any
// window, stored or compressed, with bytes after the stream), and an empty
// blob with -9 otherwise. The reference is zlib's own uncompress.
TEST(LiteVariantReader, InflationAgreesWithZlib)
{
    auto zlibStream = [](const Bytes& plain, int level, int windowBits) {
        z_stream z;
        std::memset(&z, 0, sizeof z);
        EXPECT_EQ(Z_OK, deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY));
        Bytes out(deflateBound(&z, plain.size()) + 16);
        z.next_in = const_cast<unsigned char*>(plain.data());
        z.avail_in = plain.size();
        z.next_out = out.data();
        z.avail_out = out.size();
        EXPECT_EQ(Z_STREAM_END, deflate(&z, Z_FINISH));
        out.resize(z.total_out);
        deflateEnd(&z);
        return out;
    };
    std::mt19937 rng(5);
    struct Case {
        const char* what;
        size_t size;
        int level, window;
        int change;          // 0 none, 1 flip a check byte, 2 cut the check value, 3 bytes after the stream,
                             // 4 preset-dictionary flag, 5 announce more, 6 announce less, 7 bad method,
                             // 8 a stored block's length check broken
    };
    const Case cases[] = {
        {"stored 1", 1, 0, 15, 0},        {"stored 31", 31, 0, 15, 0},       {"stored 32", 32, 0, 15, 0},
        {"stored 33", 33, 0, 15, 0},      {"stored 5535", 5535, 0, 15, 0},   {"stored 5536", 5536, 0, 15, 0},
        {"stored 5537", 5537, 0, 15, 0},  {"stored 1M", 1u << 20, 1, 15, 0}, {"fast 70000", 70000, 1, 15, 0},
        {"best 70000", 70000, 9, 15, 0},  {"window 9", 70000, 6, 9, 0},      {"check flipped", 5000, 0, 15, 1},
        {"check cut", 5000, 0, 15, 2},    {"bytes after", 5000, 6, 15, 3},   {"dictionary flag", 5000, 6, 15, 4},
        {"announce more", 5000, 6, 15, 5}, {"announce less", 5000, 6, 15, 6}, {"bad method", 5000, 6, 15, 7},
        {"stored blocks", 200000, 0, 15, 0}, {"stored, bytes after", 5000, 0, 15, 3},
        {"stored, announce more", 5000, 0, 15, 5}, {"stored, announce less", 5000, 0, 15, 6},
        {"stored, length check", 5000, 0, 15, 8}, {"stored, dictionary flag", 5000, 0, 15, 4},
        {"stored, bad method", 5000, 0, 15, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes plain(c.size);
        // Half random bytes, half runs, so that levels above 0 find matches.
        for (size_t i = 0; i < plain.size(); ++i)
            plain[i] = (i / 64) % 2 ? uint8_t(rng()) : uint8_t(i / 300);
        Bytes z = zlibStream(plain, c.level, c.window);
        uint64_t announced = plain.size();
        switch (c.change) {
        case 1: z[z.size() - 1] ^= 1; break;
        case 2: z.resize(z.size() - 2); break;
        case 3: z.insert(z.end(), {1, 2, 3, 4, 5}); break;
        case 4: z[1] |= 0x20; z[1] = uint8_t(z[1] - ((unsigned(z[0]) << 8 | z[1]) % 31)); break;
        case 5: announced += 100; break;
        case 6: announced -= 1; break;
        case 7: z[0] = uint8_t((z[0] & 0xF0) | 7); break;
        case 8: z[5] ^= 1; break;
        default: break;
        }
        // What zlib's uncompress makes of the same stream.
        Bytes expect(announced + 1);
        uLongf expectLen = uLongf(announced);
        const int zr = uncompress(expect.data(), &expectLen, z.data(), uLong(z.size()));
        expect.resize(zr == Z_OK ? expectLen : 0);

        Bytes blob = {'L', 'V', '0', 'Z'};
        for (int i = 0; i < 8; ++i)
            blob.push_back(uint8_t(announced >> (8 * i)));
        blob.insert(blob.end(), z.begin(), z.end());
        CKzLiteVariantR r;
        load(r, blob);
        EXPECT_EQ(zr == Z_OK ? 0 : -9, r.Decompress());
        EXPECT_EQ(expect, bytesOf(r));
        if (c.change == 0 || c.change == 3 || c.change == 5) {
            EXPECT_EQ(zr, Z_OK);
            EXPECT_EQ(plain, bytesOf(r));
        }
    }
}

TEST(LiteVariantReader, AbsoluteOffsetBlobIsConvertedInPlace)
{
    // R { s = 1, A { x = 5 } } written relative, then rewritten absolute.
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    w.LevelBegin(L"R");
    w.Set(1, L"s");
    w.LevelBegin(L"A");
    w.Set(5, L"x");
    w.Finalize(r);
    Bytes rel = bytesOf(r);
    Bytes abs = rel;
    // R at 0: X and the entries are already absolute; A at 18 + 10 = 28.
    const uint64_t a = 28;
    ASSERT_EQ(11, abs[a]);
    uint64_t x;
    std::memcpy(&x, &abs[a + 10], 8);
    uint64_t e;
    std::memcpy(&e, &abs[a + x], 8);
    e += a;
    std::memcpy(&abs[a + x], &e, 8);
    x += a;
    std::memcpy(&abs[a + 10], &x, 8);
    abs[a] = 10;
    abs[0] = 10;

    load(r, abs);
    ASSERT_EQ(0, r.LevelBegin(L"R"));
    EXPECT_EQ(1, r.Get(L"s", 0));
    ASSERT_EQ(0, r.LevelBegin(L"A"));
    EXPECT_EQ(5, r.Get(L"x", 0));
    EXPECT_EQ(rel, bytesOf(r));

    // Stepping over the first level converts too.
    load(r, abs);
    EXPECT_EQ(0, r.NextValue());
    EXPECT_EQ(rel.size(), r.GetCurrentOffset());
    EXPECT_EQ(rel, bytesOf(r));
}

TEST(LiteVariantReader, BadAbsoluteLevelsAreNotConverted)
{
    // An absolute level whose index lies beyond the blob: nothing is written.
    Bytes b = {10, 0, 1, 0, 0, 0, 0xF0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1};
    Bytes before = b;
    EXPECT_EQ(-9, OffsetIndicesToRelative(b.data(), b.size(), 0));
    EXPECT_EQ(before, b);
    CKzLiteVariantR r;
    load(r, b);
    EXPECT_EQ(-9, r.CurrentLevelBegin());
    EXPECT_EQ(-9, r.NextValue());

    // A level whose only entry points at itself: the entry is left alone and
    // nothing recurses.
    Bytes self = {10, 0, 1, 0, 0, 0, 17, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, OffsetIndicesToRelative(self.data(), self.size(), 0));
    EXPECT_EQ(11, self[0]);
    EXPECT_EQ(0, self[17]);
    load(r, self);
    ASSERT_EQ(0, r.CurrentLevelBegin());
    EXPECT_FALSE(r.IsValueSet(L"q")); // the bad entry is refused, not followed
    EXPECT_EQ(-9, OffsetIndicesToRelative(nullptr, 0, 0));
    EXPECT_EQ(-9, OffsetIndicesToRelative(self.data(), self.size(), self.size()));
}

TEST(LiteVariantReader, SharedIndexTablesDoNotMultiplyTheConversion)
{
    // m nested absolute levels (no names), each claiming all m entries of one
    // shared index table that names every level. A sound blob has one table
    // per level; the conversion stops once more entries than the blob can
    // hold were visited, instead of doing m * m work.
    const uint64_t m = 2000;
    const uint64_t table = 14 * m;
    Bytes b(table + 8 * m, 0);
    for (uint64_t i = 0; i < m; ++i) {
        uint64_t o = 14 * i;
        b[o] = 10;
        uint32_t k = (uint32_t)m;
        std::memcpy(&b[o + 2], &k, 4);
        std::memcpy(&b[o + 6], &table, 8);
        std::memcpy(&b[table + 8 * i], &o, 8);
    }
    EXPECT_EQ(0, OffsetIndicesToRelative(b.data(), b.size(), 0));
    EXPECT_EQ(11, b[0]);
    uint64_t converted = 0;
    for (uint64_t i = 0; i < m; ++i) converted += b[14 * i] == 11;
    EXPECT_LT(converted, 10u);
}

TEST(LiteVariantText, Utf16ConversionFunctions)
{
    base::string16 u;
    GetQORWideStringFromSysString(u, L"a\x1F600" L"b", 0);
    ASSERT_EQ(4u, u.size());
    EXPECT_EQ(0xD83D, u[1]);
    EXPECT_EQ(0xDE00, u[2]);
    GetQORWideStringFromSysString(u, L"abc", 2);
    EXPECT_EQ(2u, u.size());
    std::wstring w;
    const unsigned short units[] = {'h', 0xD83D, 0xDE00, 0, 'x'};
    EXPECT_EQ(L"h\x1F600", GetSysWideStringFromQORString(w, units, 0));
    EXPECT_EQ(L"h\xFFFD", GetSysWideStringFromQORString(w, units, 2)); // a cut pair
}

TEST(LiteVariantReader, LevelsThatDoNotFitAreRefused)
{
    struct Case {
        const char* what;
        Bytes blob;
    };
    const Case cases[] = {
        // X wraps: X + 8k is 0 modulo 2^64.
        {"wrapping index", {11, 0, 1, 0, 0, 0, 0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 1}},
        // X inside the header: the level would not advance.
        {"index in header", {11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1}},
        // The child count needs more index bytes than remain.
        {"count too large", {11, 0, 0xFF, 0xFF, 0xFF, 0xFF, 14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1}},
        {"name past end", {11, 0xFF, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CKzLiteVariantR r;
        load(r, c.blob);
        EXPECT_EQ(-9, r.CurrentLevelBegin());
        EXPECT_EQ(-9, r.NextValue());
        EXPECT_EQ(0u, r.GetCurrentOffset());
        CKzLiteVariantR t;
        EXPECT_EQ(-9, r.ExtractCurrent(t));
    }
    // An index entry outside the level's children is refused.
    Bytes b = kBlob36;
    b[28] = 0xF0;
    CKzLiteVariantR r;
    load(r, b);
    ASSERT_EQ(0, r.LevelBegin(L"A"));
    EXPECT_EQ(5, r.Get(L"x", 0)); // at the cursor: no index needed
    EXPECT_EQ(7, r.Get(L"x", 7)); // through the damaged index: the default
    // A child whose extent crosses the index table ends the walk.
    Bytes c = kBlob36;
    c[19] = 0x08; // name of x now 8 units long, running into the index
    load(r, c);
    ASSERT_EQ(0, r.LevelBegin(L"A"));
    EXPECT_EQ(-9, r.NextValue());
    EXPECT_EQ(7, r.Get(L"x", 7));
}

TEST(LiteVariantExtract, ExtractCurrentCopiesOneRecord)
{
    CKzLiteVariantR r, t;
    load(r, kBlob36);
    ASSERT_EQ(0, r.LevelBegin(L"A"));
    ASSERT_EQ(0, r.ExtractCurrent(t));
    EXPECT_EQ(Bytes({0x02, 0x02, 0x78, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00}), bytesOf(t));
    EXPECT_EQ(18u, r.GetCurrentOffset());
    EXPECT_EQ(5, t.Get(L"x", 0));

    CKzLiteVariantR keep;
    load(keep, kBlob36);
    EXPECT_EQ(-9, r.Extract(L"missing", keep));
    EXPECT_EQ(kBlob36, bytesOf(keep));
    EXPECT_EQ(0, r.Extract(L"x", keep));
    EXPECT_EQ(28u, r.GetCurrentOffset());
    EXPECT_EQ(10u, keep.GetSize());
    r.LevelEnd();
    EXPECT_EQ(0, r.Extract(L"A", keep));
    EXPECT_EQ(kBlob36, bytesOf(keep));
}

TEST(LiteVariantMerge, MergesLevelsRecursivelyAWins)
{
    CKzLiteVariantW w;
    CKzLiteVariantR a, b, expect;
    w.LevelBegin(L"R");
    w.Set(1, L"x");
    w.LevelBegin(L"L");
    w.Set(1, L"p");
    w.LevelEnd();
    w.LevelBegin(L"V"); // a level in a, a value in b: copied whole from a
    w.Set(3, L"in");
    w.LevelEnd();
    w.Finalize(a);
    w.LevelBegin(L"R");
    w.Set(2, L"y");
    w.Set(9, L"x");
    w.LevelBegin(L"L");
    w.Set(2, L"q");
    w.LevelEnd();
    w.Set(4, L"V");
    w.Set(L"t", L"z");
    w.Finalize(b);
    ASSERT_EQ(0, a.Merge(b));
    w.LevelBegin(L"R");
    w.Set(1, L"x");
    w.LevelBegin(L"L");
    w.Set(1, L"p");
    w.Set(2, L"q");
    w.LevelEnd();
    w.LevelBegin(L"V");
    w.Set(3, L"in");
    w.LevelEnd();
    w.Set(2, L"y");
    w.Set(L"t", L"z");
    w.Finalize(expect);
    EXPECT_EQ(bytesOf(expect), bytesOf(a));
    EXPECT_EQ(0u, a.GetCurrentOffset());

    // A blob merged with itself keeps its records.
    Bytes merged = bytesOf(a);
    EXPECT_EQ(0, a.Merge(a));
    EXPECT_EQ(merged, bytesOf(a));

    CKzLiteVariantR other;
    w.LevelBegin(L"Other");
    w.Finalize(other);
    Bytes before = bytesOf(a);
    EXPECT_EQ(-9, a.Merge(other)); // no level of that name
    EXPECT_EQ(before, bytesOf(a));
}

TEST(LiteVariantText, TagTextOfTheDocumentedBlob)
{
    CKzLiteVariantR r;
    load(r, kBlob36);
    CKzStringW s;
    EXPECT_EQ(0, r.LiteVariantToXML(s));
    EXPECT_STREQ(L"<A runtype=\"CKzListVariant\"><x runtype=\"kz_int32\" value=\"5\"/></A>", s.GetString());
    CKzLiteVariantR back;
    EXPECT_EQ(0, back.LiteVariantFromXML(s));
    EXPECT_EQ(kBlob36, bytesOf(back));
}

TEST(LiteVariantText, EveryTypeRoundTrips)
{
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    unsigned char raw[4] = {0, 0xFF, 'M', 'a'};
    w.LevelBegin(L"T");
    w.Set(L"RKzThing", L"__m_runType");
    w.Set(true, L"b");
    w.Set(-7, L"i");
    w.Set(7u, L"u");
    w.Set(-8L, L"l");
    w.Set(8UL, L"ul");
    w.Set(0.25, L"d");
    w.Set((void*)0x10, L"p");
    w.Set(L"h\x1F600", L"s");
    w.Set((const void*)raw, 4UL, L"by");
    w.Set((const void*)raw, 0UL, L"none");
    w.LevelBegin(L"in");
    w.Set(false, L"f");
    w.Finalize(r);
    Bytes orig = bytesOf(r);
    CKzStringW s;
    r.LiteVariantToXML(s);
    EXPECT_NE(-1, s.Find(L"<T runtype=\"RKzThing\">", 0));
    EXPECT_NE(-1, s.Find(L"<d runtype=\"double\" value=\"0.250000000000000\"/>", 0));
    EXPECT_NE(-1, s.Find(L"<by runtype=\"CKzByteArray\" value=\"AP9NYQ==\"/>", 0));
    EXPECT_NE(-1, s.Find(L"<none runtype=\"CKzByteArray\" value=\"\"/>", 0));
    EXPECT_EQ(-1, s.Find(L"__m_runType", 0));
    CKzLiteVariantR back;
    back.LiteVariantFromXML(s);
    EXPECT_EQ(orig, bytesOf(back));

    CKzStringW pending(L"<D runtype=\"RKzDateTime\"><time runtype=\"kz_int64\" value=\"12\"/></D>", 0);
    back.LiteVariantFromXML(pending);
    ASSERT_EQ(0, back.LevelBegin(L"D"));
    EXPECT_EQ(8, back.GetCurrentType());
    EXPECT_STREQ(L"RKzDateTime", back.Get(L"__m_runType", L""));
    EXPECT_EQ(12L, back.Get(L"time", 0L));

    // A quote inside a value ends it; a malformed value tag ends the scan.
    CKzStringW quote(L"<A runtype=\"CKzListVariant\"><s runtype=\"CKzStringW\" value=\"a\"b\"/><k runtype=\"kz_int32\" value=\"1\"/></A>", 0);
    back.LiteVariantFromXML(quote);
    ASSERT_EQ(0, back.LevelBegin(L"A"));
    EXPECT_FALSE(back.IsValueSet(L"s"));
    EXPECT_FALSE(back.IsValueSet(L"k"));
}

TEST(LiteVariantReader, PayloadAddressesOnlyForWholeRecords)
{
    // The address handed out for a text or byte record must be followed by
    // the whole payload inside the blob: the caller reads up to the zero unit
    // or L bytes from it.
    struct Case {
        const char* what;
        Bytes blob;
        int result;
        size_t payload; // offset of the address on success
    };
    const Case cases[] = {
        {"text", {8, 0, 'h', 0, 'i', 0, 0, 0}, 0, 2},
        {"text without zero unit", {8, 0, 'h', 0, 'i', 0, 'j', 0}, -9, 0},
        {"text cut in a unit", {8, 0, 'h', 0, 'i', 0, 0}, -9, 0},
        {"bytes", {9, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xBB}, 0, 10},
        {"bytes longer than the blob", {9, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xBB}, -9, 0},
        {"bytes length cut", {9, 0, 2, 0, 0, 0, 0, 0}, -9, 0},
        {"an int has no address", {2, 0, 5, 0, 0, 0}, -9, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CKzLiteVariantR r;
        load(r, c.blob);
        const void* p = nullptr;
        EXPECT_EQ(c.result, r.ReadCurrentValue(&p, 0));
        if (c.result == 0) EXPECT_EQ((const void*)(r.GetData() + c.payload), p);
    }
}
