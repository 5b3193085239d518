// The catalogue of streamed signals: items, the stored variant, and the load
// from a file that keeps only the streams the file holds.
#include "gnr_metaformats/SKzStreamData.h"
#include "customdata_mocks.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Items = std::vector<SKzStreamDataItem>;

// A reader serving "StreamDataV1_0" and the blocks of stream sequences, and
// remembering which sequence blocks were asked for.
class StreamReader : public kztest::MockReader {
public:
    explicit StreamReader(const kztest::StoredCustomData& s) : kztest::MockReader(s) {}
    std::map<std::wstring, std::vector<unsigned char>> blocks;   // "name|index"
    std::vector<std::wstring> asked;
    int GetCustomDataSeq(const wchar_t* name, u32 index, CKzByteArray& data) override
    {
        const std::wstring key = std::wstring(name) + L"|" + std::to_wstring((int)index);
        asked.push_back(key);
        auto it = blocks.find(key);
        if (it == blocks.end()) return -13;
        data.SetData(it->second.data(), (unsigned long)it->second.size(), CKzByteArray::eModeOpReplace,
                     CKzByteArray::eModeAllocExact);
        return 0;
    }
};

std::vector<unsigned char> le32(u32 v) { return {(unsigned char)v, (unsigned char)(v >> 8), (unsigned char)(v >> 16), (unsigned char)(v >> 24), 0xEE}; }

// The catalogue stored the way a writer stores custom-data variants.
void store(kztest::StoredCustomData& file, const SKzStreamData& d)
{
    kztest::MockWriter w(file);
    CKzVariant v;
    ASSERT_EQ(0, d.SaveToVariant(v));
    ASSERT_EQ(0, w.SetCustomDataVar(L"StreamDataV1_0", &v));
}

std::vector<std::wstring> keys(const Items& v)
{
    std::vector<std::wstring> k;
    for (const auto& e : v) k.push_back(e.wsKey.GetString());
    return k;
}

} // namespace

TEST(ExperimentStream, ItemsAndCounts)
{
    SKzStreamData d;
    SKzStreamDataItem got;
    u32 index = 99;
    ASSERT_EQ(0, d.AddDataItem(eRecordedAnalog, L"k", L"d", L"c", L"u", &got, &index));
    EXPECT_EQ(0u, index);
    EXPECT_EQ(-1, got.iSeqMaxIndex);
    EXPECT_EQ(8u, got.uiReserved);
    EXPECT_EQ(0u, got.uiDataSize);
    ASSERT_EQ(0, d.AddDataItem(eRecordedAnalog, L"k", L"second", nullptr, nullptr, nullptr, &index));
    EXPECT_EQ(1u, index);
    EXPECT_EQ(2u, d.Vector_Analog.size());
    // Updating finds the first item; null texts keep theirs.
    ASSERT_EQ(0, d.UpdateDataItem(eRecordedAnalog, L"k", nullptr, L"cap", nullptr, &got, &index));
    EXPECT_EQ(0u, index);
    EXPECT_EQ(CKzStringW(L"d"), d.Vector_Analog[0].wsDescription);
    EXPECT_EQ(CKzStringW(L"cap"), got.wsCaption);
    index = 77;
    EXPECT_EQ(-13, d.UpdateDataItem(eRecordedAnalog, L"none", L"x", L"x", L"x", &got, &index));
    EXPECT_EQ(77u, index);
    // Other kinds fall to the stream analog list.
    EXPECT_EQ(&d.Vector_StreamAnalog, &d.GetStreamDataVector((ERecordedDataType)17));
    EXPECT_EQ(&d.Vector_Other, &d.GetStreamDataVector(eRecordedOther));

    struct Step {
        u64 offset;
        u32 length;
        u64 size;
        kz_int32 block;
    };
    const Step steps[] = {{1000, 200, 1200, 2}, {0, 100, 1200, 2}, {~0ull - 10, 100, ~0ull, 0x7FFFFFFF}};
    for (const Step& s : steps) {
        ASSERT_EQ(0, d.UpdateDataItemCount(eRecordedAnalog, 0, s.offset, s.length));
        EXPECT_EQ(s.size, d.Vector_Analog[0].uiDataSize);
        EXPECT_EQ(s.block, d.Vector_Analog[0].iSeqMaxIndex);
    }
    for (u32 size : {499u, 500u}) {
        ASSERT_EQ(0, d.UpdateDataItemCount(eRecordedAnalog, 1, size, 0));
        EXPECT_EQ(size / 500, (u32)d.Vector_Analog[1].iSeqMaxIndex);
    }
    EXPECT_EQ(-6, d.UpdateDataItemCount(eRecordedAnalog, 2, 0, 1));
    EXPECT_EQ(-6, d.UpdateDataItemCount(eRecordedDigital, 0, 0, 1));
}

TEST(ExperimentStream, VariantText)
{
    SKzStreamData d;
    d.AddDataItem(eRecordedStreamDigital, L"key", L"desc", L"cap", L"mV", nullptr, nullptr);
    d.UpdateDataItemCount(eRecordedStreamDigital, 0, 0, 1500);
    CKzVariant v;
    ASSERT_EQ(0, d.SaveToVariant(v));
    CKzStringA text;
    ASSERT_EQ(0, CKzSerializerXMLString::VariantToDocument_UTF8(text, v));
    auto none = [](const char* n) { return std::string("<") + n + " runtype=\"unknown\" value=\"\"/>"; };
    const std::string expected =
        std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\">") +
        "<no_name runtype=\"CKzListVariant\">" + none("Vector_StreamAnalog") +
        "<Vector_StreamDigital runtype=\"CKzListVariant\"><no_name runtype=\"CKzListVariant\">"
        "<wsKey runtype=\"CKzStringW\" value=\"key\"/><wsDescription runtype=\"CKzStringW\" value=\"desc\"/>"
        "<wsCaption runtype=\"CKzStringW\" value=\"cap\"/><wsUnit runtype=\"CKzStringW\" value=\"mV\"/>"
        "<iSeqMaxIndex runtype=\"kz_int32\" value=\"3\"/></no_name></Vector_StreamDigital>" +
        none("Vector_Analog") + none("Vector_Digital") + none("Vector_Other") + "</no_name></variant>";
    EXPECT_EQ(expected, std::string(text.GetString()));

    // Every list round-trips its texts and blocks; data sizes stay as they were.
    SKzStreamData all;
    for (int k = 0; k < 5; ++k)
        for (int i = 0; i <= k; ++i) {
            const std::wstring key = L"k" + std::to_wstring(k) + L"_" + std::to_wstring(i);
            all.AddDataItem((ERecordedDataType)k, key.c_str(), L"d", L"c", L"u", nullptr, nullptr);
            all.UpdateDataItemCount((ERecordedDataType)k, (u32)i, 500u * (u32)(k + i), 7);
        }
    CKzVariant sv;
    ASSERT_EQ(0, all.SaveToVariant(sv));
    CKzStringA doc;
    CKzSerializerXMLString::VariantToDocument_UTF8(doc, sv);
    CKzVariant parsed;
    parsed.EnableTypeChange(true);
    ASSERT_EQ(0, CKzSerializerXMLString::VariantFromXML_UTF8(parsed, doc));
    SKzStreamData back;
    back.AddDataItem(eRecordedOther, L"old", nullptr, nullptr, nullptr, nullptr, nullptr);
    back.Vector_Other[0].uiDataSize = 42;
    ASSERT_EQ(0, back.LoadFromVariant(parsed));
    for (int k = 0; k < 5; ++k) {
        Items& a = all.GetStreamDataVector((ERecordedDataType)k);
        Items& b = back.GetStreamDataVector((ERecordedDataType)k);
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].wsKey, b[i].wsKey);
            EXPECT_EQ(a[i].wsUnit, b[i].wsUnit);
            EXPECT_EQ(a[i].iSeqMaxIndex, b[i].iSeqMaxIndex);
        }
    }
    EXPECT_EQ(42u, back.Vector_Other[0].uiDataSize);
    EXPECT_EQ(0u, back.Vector_Other[1].uiDataSize);
    // A single value where a list belongs changes nothing.
    CKzVariant odd = CKzListVariant();
    odd.Append(CKzVariant(3, CKzStringW(L"Vector_Analog")));
    ASSERT_EQ(0, back.LoadFromVariant(odd));
    EXPECT_EQ(3u, back.Vector_Analog.size());
}

TEST(ExperimentStream, LoadFromFile)
{
    struct Case {
        const char* what;
        std::vector<std::pair<ERecordedDataType, int>> items;   // kind, block index
        std::vector<std::pair<std::wstring, std::vector<unsigned char>>> blocks;
        int result;
        std::vector<std::wstring> analog;   // stream analog keys kept
        u64 firstSize;
    };
    const Case cases[] = {
        {"second stream missing", {{eRecordedStreamAnalog, 2}, {eRecordedStreamAnalog, 1}}, {{L"STREAM_6_0|2", le32(7)}},
         0, {L"i0"}, 1007},
        {"first stream missing", {{eRecordedStreamAnalog, 2}, {eRecordedStreamAnalog, 1}}, {{L"STREAM_6_1|1", le32(7)}},
         -13, {}, 0},
        {"only digital", {{eRecordedDigital, 0}}, {}, -13, {}, 0},
        {"never advanced", {{eRecordedStreamAnalog, -1}}, {{L"STREAM_6_0|-1", le32(1)}}, -13, {}, 0},
        {"block too short", {{eRecordedStreamAnalog, 0}}, {{L"STREAM_6_0|0", {1, 2, 3}}}, -13, {}, 0},
        {"other kinds count", {{eRecordedOther, 0}, {eRecordedAnalog, 4}}, {{L"STREAM_10_0|0", le32(2)}}, 0, {}, 0},
        {"last block of the largest index", {{eRecordedStreamAnalog, 0x7FFFFFFF}},
         {{L"STREAM_6_0|2147483647", le32(0xFFFFFFFFu)}}, 0, {L"i0"}, 0x7FFFFFFFull * 500 + 0xFFFFFFFFull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SKzStreamData written;
        int n = 0;
        for (const auto& it : c.items) {
            const std::wstring key = L"i" + std::to_wstring(n++);
            u32 index = 0;
            written.AddDataItem(it.first, key.c_str(), nullptr, nullptr, nullptr, nullptr, &index);
            written.GetStreamDataVector(it.first)[index].iSeqMaxIndex = it.second;
        }
        kztest::StoredCustomData file;
        store(file, written);
        StreamReader r(file);
        for (const auto& b : c.blocks) r.blocks[b.first] = b.second;
        SKzStreamData d;
        EXPECT_EQ(c.result, d.LoadFromInputFile(&r));
        EXPECT_EQ(c.analog, keys(d.Vector_StreamAnalog));
        if (!c.analog.empty()) EXPECT_EQ(c.firstSize, d.Vector_StreamAnalog[0].uiDataSize);
        // Digital items are loaded but never looked up; a missing analog
        // item does not stop the other kind.
        for (const std::wstring& a : r.asked) EXPECT_EQ(std::wstring::npos, a.find(L"STREAM_9")) << a;
    }
    // The sequences asked for: stream analog, stream digital, other, analog.
    SKzStreamData order;
    for (ERecordedDataType t : {eRecordedAnalog, eRecordedOther, eRecordedStreamDigital, eRecordedStreamAnalog})
        order.AddDataItem(t, L"x", nullptr, nullptr, nullptr, nullptr, nullptr);
    for (ERecordedDataType t : {eRecordedAnalog, eRecordedOther, eRecordedStreamDigital, eRecordedStreamAnalog})
        order.GetStreamDataVector(t)[0].iSeqMaxIndex = 0;
    kztest::StoredCustomData file;
    store(file, order);
    StreamReader r(file);
    EXPECT_EQ(-13, SKzStreamData().LoadFromInputFile(&r));
    EXPECT_EQ(std::vector<std::wstring>({L"STREAM_6_0|0", L"STREAM_7_0|0", L"STREAM_10_0|0", L"STREAM_8_0|0"}),
              r.asked);
    // Without the catalogue: -13 and nothing changes.
    kztest::StoredCustomData empty;
    StreamReader none(empty);
    SKzStreamData kept;
    kept.AddDataItem(eRecordedAnalog, L"mine", nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(-13, kept.LoadFromInputFile(&none));
    EXPECT_EQ(1u, kept.Vector_Analog.size());
    EXPECT_EQ(-13, kept.LoadFromInputFile(nullptr));
}
