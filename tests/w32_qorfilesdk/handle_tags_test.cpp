// Custom-data tags through handles: loading, setting, writing back at the
// close, the C records, foreign blocks and the acquisition records.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>

#include "vt5file/CKzVT5InputFile.h"
#include "w32_qorfilesdk/KzQorCustomData.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/handle_test_support.h"

using namespace ht;

namespace {

typedef SKzQorFileHandle H;

SKzQorFileHandle* Record(int handle) { return H::GetHandle(handle); }

std::vector<std::wstring> Names(const SKzQorFileHandle* rec)
{
    std::vector<std::wstring> n;
    for (const auto& e : rec->m_aCustomDataMap)
        n.push_back(e.first.GetString());
    return n;
}

Bytes TagBytes(const SKzQorFileHandle* rec, const wchar_t* name)
{
    auto it = rec->m_aCustomDataMap.find(CKzStringW(name));
    if (it == rec->m_aCustomDataMap.end())
        return Bytes({0xDE, 0xAD});
    return Bytes(it->second.GetData(), it->second.GetData() + it->second.GetSize());
}

// Chunks of a file read with the container (not through the handle layer).
Bytes Chunk(const std::string& path, const char* name)
{
    CKzFileChunker c;
    CKzStringA v;
    if (c.Initialize_File(W(path).c_str(), true, true, v) != KZ_OK)
        return {};
    CKzByteArray data(1024);
    const int r = c.GetChunk(data, name);
    c.Finalize();
    if (r != KZ_OK)
        return {0xDE, 0xAD};
    return Bytes(data.GetData(), data.GetData() + data.GetSize());
}

Bytes ListBytes(const std::vector<std::wstring>& names)
{
    const std::vector<u32> l = NameList(names);
    Bytes b(l.size() * 4);
    std::memcpy(b.data(), l.data(), b.size());
    return b;
}

std::string TagFile(const char* stem)
{
    FileSpec spec;
    spec.frames = 2;
    const std::string path = TempName(stem);
    WriteFile(path, spec);
    return path;
}

}  // namespace

TEST(HandleTags, SetOnAReadHandleIsWrittenBackAtTheCloseAndReopened)
{
    const std::string path = TagFile("writeback");
    const int h = H::OpenInputFile(W(path).c_str());
    ASSERT_NE(h, 0);
    const unsigned char gamma[] = {9, 8, 7, 6};
    EXPECT_EQ(Qor_FileSetCustomDataTag(h, L"gamma", gamma, 4), 0);
    EXPECT_EQ(Qor_FileSetCustomDataTag(h, L"alpha", "ABCDE", 5), 0);  // replaces a stored tag
    EXPECT_EQ(Record(h)->m_aChangedTags.size(), 2u);
    EXPECT_EQ(H::Close(h), 0);

    // The file holds the new list (every tag) and the changed tags.
    EXPECT_EQ(Chunk(path, "CustomData|QorApi_CustomData!"), ListBytes({L"alpha", L"beta", L"gamma"}));
    EXPECT_EQ(Chunk(path, "CustomData|gamma!"), Bytes({9, 8, 7, 6}));
    EXPECT_EQ(Chunk(path, "CustomData|alpha!"), Bytes({'A', 'B', 'C', 'D', 'E'}));
    EXPECT_EQ(Chunk(path, "CustomData|beta!"), Bytes({1, 2, 3}));

    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    SKzQorFileHandle* rec = Record(g.h);
    EXPECT_EQ(Names(rec), std::vector<std::wstring>({L"alpha", L"beta", L"gamma"}));
    EXPECT_EQ(TagBytes(rec, L"gamma"), Bytes({9, 8, 7, 6}));
    EXPECT_EQ(TagBytes(rec, L"alpha"), Bytes({'A', 'B', 'C', 'D', 'E'}));
    // The frames and the rest of the file survived the append.
    EXPECT_EQ(rec->m_Attributes.uiSequenceCount, 2u);
    Bytes frame(rec->m_Attributes.uiWidthBytes * rec->m_Attributes.uiHeight);
    EXPECT_EQ(rec->m_pInputFile->GetData(1, frame.data(), nullptr, nullptr), 0);
    EXPECT_EQ(frame[0], 2);
}

TEST(HandleTags, CloseWithoutAChangeLeavesTheFileByteForByte)
{
    const std::string path = TagFile("unchanged");
    const Bytes before = ReadAll(path);
    const int h = H::OpenInputFile(W(path).c_str());
    ASSERT_NE(h, 0);
    char buffer[8];
    EXPECT_EQ(H::GetHandle(h)->GetCustomDataTag(L"alpha", buffer), 3u);
    EXPECT_EQ(H::Close(h), 0);
    EXPECT_EQ(ReadAll(path), before);
}

TEST(HandleTags, FailedWriteBackIsReportedByTheClose)
{
    const std::string path = TagFile("replaced");
    const int h = H::OpenInputFile(W(path).c_str());
    ASSERT_NE(h, 0);
    EXPECT_EQ(Qor_FileSetCustomDataTag(h, L"late", "x", 1), 0);
    // Another program replaces the file before the close.
    const Bytes foreign(10000, 'q');
    WriteAll(path, foreign);
    EXPECT_NE(H::Close(h), 0);
    EXPECT_EQ(ReadAll(path), foreign);  // not touched

}

TEST(HandleTags, NamesAreListedInCharacterCodeOrder)
{
    const std::string path = TempName("order");
    const int w = OpenWriteHandle(path);
    ASSERT_NE(w, 0);
    WriteFrames(w, 4, 4, 1);
    for (const wchar_t* n : {L"b", L"a", L"ab", L"B", L"\u00e9t\u00e9"})
        EXPECT_EQ(H::FileSetCustomDataTag(w, n, n, 4), 0);
    EXPECT_EQ(H::Close(w), 0);
    EXPECT_EQ(Chunk(path, "CustomData|QorApi_CustomData!"),
              ListBytes({L"B", L"a", L"ab", L"b", L"\u00e9t\u00e9"}));
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    EXPECT_EQ(Names(Record(g.h)), std::vector<std::wstring>({L"B", L"a", L"ab", L"b", L"\u00e9t\u00e9"}));
    EXPECT_EQ(TagBytes(Record(g.h), L"ab"), Bytes({'a', 0, 0, 0}));
}

TEST(HandleTags, TagWithoutBytesIsListedWithoutAChunk)
{
    const std::string path = TagFile("empty");
    const int h = H::OpenInputFile(W(path).c_str());
    ASSERT_NE(h, 0);
    EXPECT_EQ(Qor_FileSetCustomDataTag(h, L"nothing", nullptr, 0), 0);
    EXPECT_EQ(H::Close(h), 0);
    EXPECT_EQ(Chunk(path, "CustomData|nothing!"), Bytes({0xDE, 0xAD}));
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    EXPECT_EQ(Names(Record(g.h)), std::vector<std::wstring>({L"alpha", L"beta", L"nothing"}));
    EXPECT_EQ(TagBytes(Record(g.h), L"nothing"), Bytes());
}

TEST(HandleTags, RefusedSettingsChangeNothing)
{
    const std::string path = TagFile("refused");
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    const std::wstring longName(600, L'n');
    const struct {
        const wchar_t* name;
        const void* bytes;
        int size;
        int result;
    } cases[] = {
        {L"", "x", 1, KZ_ERR_INVALID_ARG},
        {nullptr, "x", 1, KZ_ERR_INVALID_ARG},
        {L"bang!", "x", 1, KZ_ERR_INVALID_ARG},
        {longName.c_str(), "x", 1, KZ_ERR_INVALID_ARG},
        {L"QorApi_CustomData", "x", 1, KZ_ERR_INVALID_ARG},
        {L"AcqTimesCache", "12345678", 8, KZ_ERR_INVALID_ARG}, // the frames' times
        {L"ok", nullptr, 3, KZ_ERR_INVALID_ARG},
        {L"ok", "x", -1, KZ_ERR_INVALID_ARG},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Qor_FileSetCustomDataTag(g.h, c.name, c.bytes, c.size), c.result);
    EXPECT_EQ(Names(Record(g.h)), std::vector<std::wstring>({L"alpha", L"beta"}));
    EXPECT_TRUE(Record(g.h)->m_aChangedTags.empty());
    EXPECT_EQ(Qor_FileSetCustomDataTag(0, L"ok", "x", 1), KZ_ERR_NOT_FOUND);
    EXPECT_EQ(Qor_FileSetCustomDataTag(g.h + 100000, L"ok", "x", 1), KZ_ERR_NOT_FOUND);
    // The longest storable name: "CustomData|" + name + "!" of 511 bytes.
    const std::wstring longest(511 - 12, L'k');
    EXPECT_EQ(Qor_FileSetCustomDataTag(g.h, longest.c_str(), "x", 1), 0);
}

TEST(HandleTags, CRecordsCountsOrderAndBoundedCopies)
{
    const std::string path = TagFile("records");
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    const std::wstring name32(32, L'z');
    EXPECT_EQ(Qor_FileSetCustomDataTag(g.h, name32.c_str(), "0123456789", 10), 0);

    QORFILECUSTOMDATASET set;
    std::memset(&set, 0xAB, sizeof(set));
    for (auto& e : set.sData)
        e.pData = nullptr;
    EXPECT_EQ(Qor_FileGetCustomData(g.h, &set), 0);
    ASSERT_EQ(set.uiCount, 3u);
    EXPECT_EQ(std::wstring(set.sData[0].wsTag), L"alpha");
    EXPECT_EQ(set.sData[0].uiSize, 3u);
    EXPECT_EQ(std::wstring(set.sData[1].wsTag), L"beta");
    EXPECT_EQ(std::wmemcmp(set.sData[2].wsTag, name32.c_str(), 32), 0);  // not terminated
    EXPECT_EQ(set.sData[2].uiSize, 10u);
    // Bytes 140..143 of an entry are not touched.
    EXPECT_EQ(reinterpret_cast<unsigned char*>(&set.sData[0])[140], 0xAB);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(&set.sData[3])[0], 0xAB);  // beyond the count

    // Second call: at most the entry's byte count is copied, then the full size.
    unsigned char small[4];
    std::memset(small, 0xEE, sizeof(small));
    unsigned char big[16];
    std::memset(big, 0xEE, sizeof(big));
    set.sData[2].pData = small;
    set.sData[2].uiSize = 3;
    set.sData[1].pData = big;
    set.sData[1].uiSize = 16;
    EXPECT_EQ(Qor_FileGetCustomData(g.h, &set), 0);
    EXPECT_EQ(Bytes(small, small + 4), Bytes({'0', '1', '2', 0xEE}));
    EXPECT_EQ(set.sData[2].uiSize, 10u);
    EXPECT_EQ(Bytes(big, big + 4), Bytes({1, 2, 3, 0xEE}));
    EXPECT_EQ(set.sData[1].uiSize, 3u);

    QORFILECUSTOMDATASET member;
    std::memset(&member, 0, sizeof(member));
    EXPECT_EQ(Record(g.h)->GetCustomData(&member), 0);
    EXPECT_EQ(member.uiCount, 3u);

    // Tag by name and the stored list.
    EXPECT_EQ(Qor_FileGetCustomDataTag(g.h, L"beta", nullptr), 3u);
    unsigned char b[3] = {};
    EXPECT_EQ(Qor_FileGetCustomDataTag(g.h, L"beta", b), 3u);
    EXPECT_EQ(Bytes(b, b + 3), Bytes({1, 2, 3}));
    EXPECT_EQ(Qor_FileGetCustomDataTag(g.h, L"absent", b), 0u);
    const Bytes stored = ListBytes({L"beta", L"alpha"});  // from the file, not the map
    EXPECT_EQ(Qor_FileGetCustomData(g.h, (void*)nullptr), (int)stored.size());
    Bytes got(stored.size());
    EXPECT_EQ(Qor_FileGetCustomData(g.h, (void*)got.data()), (int)stored.size());
    EXPECT_EQ(got, stored);

    // Unknown handles.
    EXPECT_EQ(Qor_FileGetCustomData(0, &set), KZ_ERR_NOT_FOUND);
    EXPECT_EQ(Qor_FileGetCustomData(0, (void*)nullptr), KZ_ERR_NOT_FOUND);
    EXPECT_EQ(Qor_FileGetCustomDataTag(0, L"beta", nullptr), 0u);
}

TEST(HandleTags, ThirtyThirdTagIsRefusedByBothRecordReaders)
{
    const std::string path = TagFile("many");
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    for (int i = 0; i < 30; ++i) {
        const std::wstring n = L"t" + std::to_wstring(i);
        ASSERT_EQ(Qor_FileSetCustomDataTag(g.h, n.c_str(), "v", 1), 0);
    }
    QORFILECUSTOMDATASET set;
    std::memset(&set, 0, sizeof(set));
    EXPECT_EQ(Qor_FileGetCustomData(g.h, &set), 0);  // 32 tags fit
    EXPECT_EQ(set.uiCount, 32u);
    ASSERT_EQ(Qor_FileSetCustomDataTag(g.h, L"t30", "v", 1), 0);
    std::memset(&set, 0x5A, sizeof(set));
    const QORFILECUSTOMDATASET before = set;
    EXPECT_EQ(Qor_FileGetCustomData(g.h, &set), KZ_ERR_FAILED);
    EXPECT_EQ(Record(g.h)->GetCustomData(&set), KZ_ERR_TOO_MANY);
    EXPECT_EQ(std::memcmp(&set, &before, sizeof(set)), 0);
}

TEST(HandleTags, WriteHandleTakesARecordOfTagsOrRefusesItWhole)
{
    const std::string path = TempName("setrecord");
    const int w = OpenWriteHandle(path);
    ASSERT_NE(w, 0);
    WriteFrames(w, 4, 4, 1);
    QORFILECUSTOMDATASET set;
    std::memset(&set, 0, sizeof(set));
    set.uiCount = 2;
    std::wcscpy(set.sData[0].wsTag, L"one");
    set.sData[0].pData = (void*)"111";
    set.sData[0].uiSize = 3;
    std::wmemset(set.sData[1].wsTag, L'w', 32);  // 32 characters, no terminator
    set.sData[1].pData = (void*)"22";
    set.sData[1].uiSize = 2;

    QORFILECUSTOMDATASET bad = set;
    bad.uiCount = 33;
    EXPECT_EQ(H::FileSetCustomData(w, &bad), KZ_ERR_FAILED);
    bad = set;
    bad.sData[1].pData = nullptr;
    EXPECT_EQ(H::FileSetCustomData(w, &bad), KZ_ERR_INVALID_ARG);
    bad = set;
    bad.sData[0].wsTag[0] = 0;
    EXPECT_EQ(H::FileSetCustomData(w, &bad), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(H::FileSetCustomData(w, nullptr), KZ_ERR_INVALID_ARG);
    EXPECT_TRUE(Record(w)->m_aCustomDataMap.empty());

    EXPECT_EQ(H::FileSetCustomData(w, &set), 0);
    EXPECT_EQ(Record(w)->m_aCustomDataMap.size(), 2u);
    EXPECT_EQ(H::Close(w), 0);

    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    EXPECT_EQ(Names(Record(g.h)), std::vector<std::wstring>({L"one", std::wstring(32, L'w')}));
    EXPECT_EQ(TagBytes(Record(g.h), std::wstring(32, L'w').c_str()), Bytes({'2', '2'}));
    // A read handle does not take a record.
    EXPECT_EQ(H::FileSetCustomData(g.h, &set), KZ_ERR_NOT_FOUND);
}

TEST(HandleTags, StoredListsAreParsedWithinTheirData)
{
    const struct {
        const char* what;
        Bytes list;
        std::vector<std::wstring> names;
    } cases[] = {
        {"normal", ListBytes({L"p", L"q"}), {L"p", L"q"}},
        {"trailing bytes", [] { Bytes b = ListBytes({L"p"}); b.push_back(7); b.push_back(7); return b; }(), {L"p"}},
        {"no final empty name", Bytes({'p', 0, 0, 0, 0, 0, 0, 0, 'q', 0, 0, 0}), {L"p", L"q"}},
        {"empty first name", ListBytes({L"", L"p"}), {}},
        {"three bytes", Bytes({'p', 0, 0}), {}},
        {"names after the end mark", [] {
             Bytes b = ListBytes({L"p"});
             const Bytes more = ListBytes({L"q"});
             b.insert(b.end(), more.begin(), more.end());
             return b;
         }(), {L"p"}},
    };
    for (const auto& c : cases) {
        const std::string path = TempName("list");
        WriteRawV3(path, 4, 4, 1, 8, 8, 1,
                   {{"CustomData|QorApi_CustomData!", c.list}, {"CustomData|p!", Bytes({1})},
                    {"CustomData|q!", Bytes({2})}});
        HandleGuard g(H::OpenInputFile(W(path).c_str()));
        ASSERT_NE(g.h, 0) << c.what;
        EXPECT_EQ(Names(Record(g.h)), c.names) << c.what;
    }
    // A listed tag without its chunk is kept, empty.
    const std::string path = TempName("missingchunk");
    WriteRawV3(path, 4, 4, 1, 8, 8, 1, {{"CustomData|QorApi_CustomData!", ListBytes({L"ghost"})}});
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    EXPECT_EQ(Names(Record(g.h)), std::vector<std::wstring>({L"ghost"}));
    EXPECT_EQ(TagBytes(Record(g.h), L"ghost"), Bytes());
}

TEST(HandleTags, TagsOfAWriteHandleAreStoredAtTheClose)
{
    const std::string path = TempName("writetags");
    const int w = OpenWriteHandle(path);
    ASSERT_NE(w, 0);
    WriteFrames(w, 4, 4, 2);
    EXPECT_EQ(Qor_FileSetCustomDataTag(w, L"zeta", "Z", 1), 0);
    EXPECT_TRUE(Record(w)->m_aChangedTags.empty());  // only read handles remember
    EXPECT_EQ(H::Close(w), 0);
    EXPECT_EQ(Chunk(path, "CustomData|QorApi_CustomData!"), ListBytes({L"zeta"}));
    EXPECT_EQ(Chunk(path, "CustomData|zeta!"), Bytes({'Z'}));
}

// ---------------------------------------------------------------------------
// Foreign blocks

TEST(HandleTags, ForeignBlocksRoundTripThroughTheSupportFunctions)
{
    // A host's own writer (a write handle would store its own tag list at
    // the close).
    FileSpec spec;
    spec.frames = 1;
    spec.tags = false;
    const std::string path = TempName("foreign");
    WriteFile(path, spec);
    CKzImageFormatVT5 format;
    IKzOutputImageFile* writer = nullptr;
    ASSERT_EQ(format.CreateOutputImageFile(CKzStringW(W(path).c_str()), writer), 0);
    KzQor3rdPartyMap blocks;
    blocks.emplace(CKzStringW(L"m2"), SKz3rdPartyCustomData(CKzStringW(L"m2"), 2, "hi"));
    blocks.emplace(CKzStringW(L"m1"), SKz3rdPartyCustomData(CKzStringW(L"m1"), 3, "abc"));
    KzQorNameVector names;
    EXPECT_EQ(QorApiSupport_File3rdPartyCustomDataGetAllTagsFromMap(names, blocks), 0);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(std::wstring(names[0].GetString()), L"m1");
    EXPECT_EQ(QorApiSupport_FileSave3rdPartyCustomDataHeader(writer, names), 0);
    EXPECT_EQ(QorApiSupport_FileSave3rdPartyCustomData(writer, blocks), 0);
    EXPECT_EQ(writer->Finalize(), 0);
    writer->Release();
    EXPECT_EQ(Chunk(path, "CustomData|QorApi_CustomData!"), ListBytes({L"m1", L"m2"}));

    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    IKzInputImageFile* reader = H::GetInputFile(g.h, nullptr);
    KzQorNameVector listed;
    EXPECT_EQ(QorApiSupport_FileLoad3rdPartyCustomDataGetAllTags(listed, reader), 0);
    ASSERT_EQ(listed.size(), 2u);
    listed.push_back(CKzStringW(L"absent"));
    KzQor3rdPartyMap loaded;
    loaded.emplace(CKzStringW(L"m2"), SKz3rdPartyCustomData(CKzStringW(L"m2"), 1, "K"));  // kept
    EXPECT_EQ(QorApiSupport_FileLoad3rdPartyCustomDataMap(loaded, listed, reader), 0);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[CKzStringW(L"m1")].m_uiSize, 3u);
    EXPECT_EQ(std::memcmp(loaded[CKzStringW(L"m1")].m_pData, "abc", 3), 0);
    EXPECT_EQ(loaded[CKzStringW(L"m2")].m_uiSize, 1u);
    SKz3rdPartyCustomData one;
    EXPECT_EQ(QorApiSupport_FileLoad3rdPartyCustomData(one, L"absent", reader), KZ_ERR_NOT_FOUND);

    // Copies are deep; self-assignment and setting from the own bytes keep them.
    SKz3rdPartyCustomData a(CKzStringW(L"a"), 3, "xyz");
    SKz3rdPartyCustomData b(a);
    EXPECT_NE(a.m_pData, b.m_pData);
    a = a;
    EXPECT_EQ(std::memcmp(a.m_pData, "xyz", 3), 0);
    EXPECT_EQ(a.Set(CKzStringW(L"a"), 2, static_cast<char*>(a.m_pData) + 1), 0);
    EXPECT_EQ(std::memcmp(a.m_pData, "yz", 2), 0);
    EXPECT_EQ(a.Set(CKzStringW(L"a"), 2, nullptr), KZ_ERR_INVALID_ARG);

    // A file without a list.
    const std::string bare = TempName("nolist");
    WriteRawV3(bare, 4, 4, 1, 8, 8, 1);
    HandleGuard g2(H::OpenInputFile(W(bare).c_str()));
    KzQorNameVector none;
    EXPECT_EQ(QorApiSupport_FileLoad3rdPartyCustomDataGetAllTags(none, H::GetInputFile(g2.h, nullptr)),
              KZ_ERR_NOT_FOUND);
    QORFILECUSTOMDATASET set;
    std::memset(&set, 0x11, sizeof(set));
    EXPECT_EQ(Qor_FileGetCustomData(g2.h, &set), 0);
    EXPECT_EQ(set.uiCount, 0u);
    EXPECT_EQ(Qor_FileGetCustomData(g2.h, (void*)nullptr), 0);
}

// ---------------------------------------------------------------------------
// Acquisition records

namespace {

Bytes Pattern(size_t n, unsigned seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = (unsigned char)((i * 131 + seed * 7 + (i >> 8)) | 1);
    return b;
}

// Opens a file holding the given custom-data chunks.
int OpenWith(const std::vector<std::pair<std::string, Bytes>>& chunks)
{
    const std::string path = TempName("storm");
    WriteRawV3(path, 4, 4, 1, 8, 8, 1, chunks);
    return H::OpenInputFile(W(path).c_str());
}

}  // namespace

TEST(HandleAcqRecords, OlderLocalisationRecordsMoveToTheirVersion3Places)
{
    // Each row: version-3 offset, version-2 offset, bytes per entry, entries;
    // written out here from the record layouts of both versions.
    const struct {
        size_t v3, v2, width, count;
    } fields[] = {
        {0x0008, 0x0008, 8, 1},   {0x0010, 0x0010, 4, 1},   {0x0014, 0x0014, 4, 8},   {0x0098, 0x0038, 32, 8},
        {0x0498, 0x0138, 32, 8},  {0x0898, 0x0238, 4, 8},   {0x0918, 0x0258, 8, 8},   {0x0A18, 0x0298, 8, 8},
        {0x0B18, 0x02D8, 8, 8},   {0x0C18, 0x0318, 8, 8},   {0x0D18, 0x0358, 4, 8},   {0x0D98, 0x0378, 256, 8},
        {0x2D98, 0x0B78, 4, 1},   {0x2DA0, 0x0B80, 8, 1},   {0x2DA8, 0x0B88, 8, 1},   {0x2DB0, 0x0B90, 4, 1},
        {0x2DB4, 0x0B94, 4, 16},  {0x2EB4, 0x0BD4, 4, 16},  {0x2FB4, 0x0C14, 256, 16},
    };
    for (int version : {1, 2}) {
        const size_t size = version == 1 ? 2944 : 7192;
        const Bytes old = Pattern(size, version);
        Bytes v2(7192, 0);
        std::memcpy(v2.data(), old.data(), size);
        const std::string name = version == 1 ? "CustomData|QuarnStormAcqDataV1_0!" : "CustomData|QuarnStormAcqDataV2_0!";
        HandleGuard g(OpenWith({{name, old}}));
        ASSERT_NE(g.h, 0);
        SKzQuarnStormAcqData_v3 rec;
        std::memset(&rec, 0x77, sizeof(rec));
        ASSERT_EQ(QorApiSupport_FileLoadQuarnStormAcqData(rec, H::GetInputFile(g.h, nullptr)), 0);
        const unsigned char* r = reinterpret_cast<const unsigned char*>(&rec);
        Bytes expected(28600, 0);
        for (const auto& f : fields)
            std::memcpy(expected.data() + f.v3, v2.data() + f.v2, f.width * f.count);
        const u32 three = 3;
        std::memcpy(expected.data(), &three, 4);
        EXPECT_EQ(Bytes(r, r + 28600), expected) << version;
        EXPECT_EQ(rec.uiVersion, 3u);
        if (version == 1) {
            // The tail from 0x2DA0 on lies beyond a version-1 block: zero.
            EXPECT_TRUE(std::all_of(r + 0x2DA0, r + 28600, [](unsigned char c) { return c == 0; }));
            // The eight-entry arrays hold the version-1 values.
            EXPECT_EQ(std::memcmp(r + 0x0498 + 7 * 32, old.data() + 0x0138 + 7 * 32, 32), 0);
        }
    }
}

TEST(HandleAcqRecords, SizesAndPreferenceOfTheRecords)
{
    const Bytes v3 = Pattern(28600, 3);
    const Bytes v1 = Pattern(2944, 1);
    const struct {
        const char* what;
        std::vector<std::pair<std::string, Bytes>> chunks;
        int result;
    } cases[] = {
        {"version 3 one byte short", {{"CustomData|QuarnStormAcqDataV3_0!", Bytes(28599, 1)}}, KZ_FAIL},
        {"version 2 of the wrong size", {{"CustomData|QuarnStormAcqDataV2_0!", Bytes(7191, 1)}}, KZ_FAIL},
        {"version 1 of the wrong size", {{"CustomData|QuarnStormAcqDataV1_0!", Bytes(2945, 1)}}, KZ_FAIL},
        {"none", {}, KZ_ERR_NOT_FOUND},
        {"version 3 preferred", {{"CustomData|QuarnStormAcqDataV3_0!", v3}, {"CustomData|QuarnStormAcqDataV1_0!", v1}},
         0},
    };
    for (const auto& c : cases) {
        HandleGuard g(OpenWith(c.chunks));
        ASSERT_NE(g.h, 0);
        SKzQuarnStormAcqData_v3 rec;
        EXPECT_EQ(QorApiSupport_FileLoadQuarnStormAcqData(rec, H::GetInputFile(g.h, nullptr)), c.result) << c.what;
        if (c.result == 0)
            EXPECT_EQ(std::memcmp(&rec, v3.data(), 28600), 0);
    }

    // The structured-illumination record.
    const Bytes sim = Pattern(2056, 9);
    HandleGuard g(OpenWith({{"CustomData|QuarnSimAcqDataV1_0!", sim}}));
    SKzQuarnSimAcqData s;
    EXPECT_EQ(QorApiSupport_FileLoadQuarnSimAcqData(s, H::GetInputFile(g.h, nullptr)), 0);
    EXPECT_EQ(std::memcmp(&s, sim.data(), sim.size()), 0);
    HandleGuard g2(OpenWith({{"CustomData|QuarnSimAcqDataV1_0!", Bytes(2055, 1)}}));
    EXPECT_EQ(QorApiSupport_FileLoadQuarnSimAcqData(s, H::GetInputFile(g2.h, nullptr)), KZ_FAIL);

    // Saving writes the whole records under their names.
    const std::string path = TempName("acqsave");
    const int w = OpenWriteHandle(path);
    WriteFrames(w, 4, 4, 1);
    SKzQuarnStormAcqData_v3 storm;
    std::memcpy(&storm, v3.data(), sizeof(storm));
    EXPECT_EQ(QorApiSupport_FileSaveQuarnStormAcqData(H::GetOutputFile(w, nullptr), storm), 0);
    EXPECT_EQ(QorApiSupport_FileSaveQuarnSimAcqData(H::GetOutputFile(w, nullptr), s), 0);
    EXPECT_EQ(H::Close(w), 0);
    EXPECT_EQ(Chunk(path, "CustomData|QuarnStormAcqDataV3_0!"), v3);
    EXPECT_EQ(Chunk(path, "CustomData|QuarnSimAcqDataV1_0!"), sim);
}
