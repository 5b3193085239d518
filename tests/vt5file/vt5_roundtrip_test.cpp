// Writers and readers of both versions together: frames (raw, deflated at
// each level rule, streamed), attributes, text information, custom data,
// binary picture, acquisition times, finishing and appending.
#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzVariant.h"
#include "vt5file/KzVT5Names.h"
#include "vt5file/vt5io_test_support.h"

namespace {

using ct::Bytes;

class VT5RoundTrip : public ct::TempDirTest {};

Bytes deflated(const Bytes& frame, int level)
{
    uLongf n = compressBound(frame.size());
    Bytes out(n);
    EXPECT_EQ(compress2(out.data(), &n, frame.data(), frame.size(), level), Z_OK);
    out.resize(n);
    return out;
}

Bytes withTime(double t, const Bytes& body)
{
    Bytes b(8 + body.size());
    std::memcpy(b.data(), &t, 8);
    std::copy(body.begin(), body.end(), b.begin() + 8);
    return b;
}

TEST_F(VT5RoundTrip, FramesRawAndDeflatedInBothVersions)
{
    struct Shape { u32 w, h, comp; u8 bits; u32 rowBytes; };
    const Shape shapes[] = {{7, 5, 1, 8, 0}, {33, 4, 3, 16, 0}, {10, 3, 2, 8, 24}, {1, 1, 1, 12, 0}};
    struct Storage { i32 compression; double param; int level; };
    const Storage storages[] = {{2, 1.0, -1}, {5, 1.0, -1}, {0, 0.5, 6}, {0, -3.0, 6}, {0, 1.0, 1}, {0, 5.9, 5},
                                {0, 9.99, 9}, {0, 12.0, 9}, {0, std::nan(""), 6},
                                {0, std::numeric_limits<double>::infinity(), 9}};
    int file = 0;
    for (int version : {2, 3})
        for (const Shape& s : shapes)
            for (const Storage& st : storages) {
                SCOPED_TRACE(testing::Message() << "version " << version << " shape " << s.w << "x" << s.h << "x"
                                                << s.comp << "/" << (int)s.bits << " compression "
                                                << st.compression << " param " << st.param);
                const std::string name = "f" + std::to_string(file++) + ".vt5";
                IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
                ASSERT_NE(w, nullptr);
                SKzImageAttributes a = vt::attrs(s.w, s.h, s.comp, s.bits, st.compression, st.param, s.rowBytes);
                ASSERT_EQ(w->SetImageAttributes(a), KZ_OK);
                a = static_cast<CKzVT5OutputFile_V02*>(w)->GetAttributes();
                std::vector<Bytes> frames;
                SKzImageAttributes norm = a;
                norm.uiBpcInMemory = (u8)((s.bits + 7) / 8 * 8);
                for (unsigned k = 0; k < 3; ++k) {
                    frames.push_back(vt::frame(norm, 11 * k + file));
                    ASSERT_EQ(w->FlushData(k, frames.back().data(), nullptr, nullptr), KZ_OK);
                }
                ASSERT_EQ(w->Release(), 0);

                auto chunks = vt::checkContainer(path(name));
                for (unsigned k = 0; k < 3; ++k) {
                    const Bytes& stored = chunks[vt5names::Indexed(vt5names::kFrame, k)];
                    if (st.level < 0)
                        EXPECT_EQ(stored, withTime(0.0, frames[k]));
                    else
                        EXPECT_EQ(stored, withTime(0.0, deflated(frames[k], st.level)));
                }
                IKzInputImageFile* r = vt::openReader(wpath(name));
                ASSERT_NE(r, nullptr);
                SKzImageAttributes got = vt::attrs(0, 0, 0, 0, 0);
                ASSERT_EQ(r->GetImageAttributes(got), KZ_OK);
                EXPECT_EQ(got.uiSequenceCount, 3u);
                EXPECT_EQ(got.eCompression, st.compression);
                for (unsigned k = 0; k < 3; ++k) {
                    Bytes back(frames[k].size(), 0xEE);
                    ASSERT_EQ(r->GetData(k, back.data(), nullptr, nullptr), KZ_OK);
                    EXPECT_EQ(back, frames[k]) << "frame " << k;
                }
                Bytes none(frames[0].size());
                EXPECT_EQ(r->GetData(5, none.data(), nullptr, nullptr), KZ_ERR_NOT_FOUND);
                EXPECT_EQ(r->GetData(0, nullptr, nullptr, nullptr), KZ_ERR_INVALID_ARG);
                r->Release();
            }
}

TEST_F(VT5RoundTrip, AttributesNormalisedAndReadBack)
{
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        const std::string name = "a" + std::to_string(version) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        ASSERT_NE(w, nullptr);
        SKzImageAttributes a = vt::attrs(9, 4, 3, 12, 2, 3.25, 5);
        a.uiBpcSignificant = 12;
        a.ePixelType = 2;
        ASSERT_EQ(w->SetImageAttributes(a), KZ_OK);
        Bytes f(9 * 3 * 2 * 4, 1);
        ASSERT_EQ(w->FlushData(1, f.data(), nullptr, nullptr), KZ_OK);
        ASSERT_EQ(w->Release(), 0);
        IKzInputImageFile* r = vt::openReader(wpath(name));
        ASSERT_NE(r, nullptr);
        SKzImageAttributes got = vt::attrs(0, 0, 0, 0, 0);
        got.ePixelType = 7;
        ASSERT_EQ(r->GetImageAttributes(got), KZ_OK);
        EXPECT_EQ(got.uiWidth, 9u);
        EXPECT_EQ(got.uiWidthBytes, 54u) << "raised to the row";
        EXPECT_EQ(got.uiHeight, 4u);
        EXPECT_EQ(got.uiComp, 3u);
        EXPECT_EQ(got.uiBpcInMemory, 16) << "rounded up to a multiple of 8";
        EXPECT_EQ(got.uiBpcSignificant, 12);
        EXPECT_EQ(got.uiSequenceCount, 2u) << "frame 1 first";
        EXPECT_EQ(got.uiTileWidth, 9u);
        EXPECT_EQ(got.uiTileHeight, 4u);
        EXPECT_EQ(got.eCompression, 2);
        EXPECT_EQ(got.dCompressionParam, 3.25);
        // The pixel type travels in version 3 only; version 2 leaves the caller's.
        EXPECT_EQ(got.ePixelType, version == 3 ? 2 : 7);
        Bytes none(f.size());
        EXPECT_EQ(r->GetData(0, none.data(), nullptr, nullptr), KZ_ERR_NOT_FOUND);
        r->Release();
    }
}

TEST_F(VT5RoundTrip, StreamedRowsEqualWholeFrame)
{
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        const std::string name = "s" + std::to_string(version) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        auto* w2 = dynamic_cast<CKzVT5OutputFile_V02*>(w);
        ASSERT_NE(w2, nullptr);
        // Rows of 3000 bytes: the stream crosses block boundaries mid-row.
        SKzImageAttributes a = vt::attrs(1500, 5, 1, 16, 2);
        ASSERT_EQ(w->SetImageAttributes(a), KZ_OK);
        const Bytes f = ct::pattern(3000 * 5, 9);
        for (u32 row = 0; row < 5; ++row)
            ASSERT_EQ(w2->FlushTileData(1, 0, row, const_cast<u8*>(f.data()) + row * 3000, nullptr, nullptr), KZ_OK);
        ASSERT_EQ(w->FlushData(0, const_cast<u8*>(f.data()), nullptr, nullptr), KZ_OK);
        EXPECT_EQ(w2->FlushTileData(1, 0, 5, const_cast<u8*>(f.data()), nullptr, nullptr), KZ_ERR_INVALID_ARG);
        EXPECT_EQ(w2->FlushTileData(1, 0, 0, nullptr, nullptr, nullptr), KZ_ERR_INVALID_ARG);
        ASSERT_EQ(w->Release(), 0);
        auto chunks = vt::checkContainer(path(name));
        // Same frame bytes; frame 0 was skipped over by frame 1, so it carries the time -1.0.
        EXPECT_EQ(Bytes(chunks["ImageDataSeq|1!"].begin() + 8, chunks["ImageDataSeq|1!"].end()),
                  Bytes(chunks["ImageDataSeq|0!"].begin() + 8, chunks["ImageDataSeq|0!"].end()));
        EXPECT_EQ(chunks["ImageDataSeq|1!"], withTime(0.0, f));
        EXPECT_EQ(chunks["ImageDataSeq|0!"], withTime(-1.0, f));
        IKzInputImageFile* r = vt::openReader(wpath(name));
        Bytes back(f.size());
        ASSERT_EQ(r->GetData(1, back.data(), nullptr, nullptr), KZ_OK);
        EXPECT_EQ(back, f);
        r->Release();
    }
    // Streams are raw only.
    IKzOutputImageFile* w = vt::openWriter(wpath("d.vt5"), 3);
    w->SetImageAttributes(vt::attrs(4, 4, 1, 8, 0));
    u8 row[4] = {};
    EXPECT_EQ(static_cast<CKzVT5OutputFile_V02*>(w)->FlushTileData(0, 0, 0, row, nullptr, nullptr),
              KZ_ERR_NOT_SUPPORTED);
    w->Release();
}

TEST_F(VT5RoundTrip, IncompleteGeometryStoresNothing)
{
    struct Case { u32 w, h, comp; u8 bits, sig; };
    const Case cases[] = {{0, 4, 1, 8, 8}, {4, 0, 1, 8, 8}, {4, 4, 0, 8, 8}, {4, 4, 1, 0, 8}, {4, 4, 1, 8, 0}};
    int i = 0;
    for (const Case& c : cases) {
        const std::string name = "i" + std::to_string(i++) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), 3);
        SKzImageAttributes a = vt::attrs(c.w, c.h, c.comp, c.bits, 2);
        a.uiBpcSignificant = c.sig;
        a.uiSequenceCount = 1;  // set first: the attributes are still normalised and checked
        ASSERT_EQ(w->SetImageAttributes(a), KZ_OK);
        Bytes f(64, 1);
        EXPECT_EQ(w->FlushData(0, f.data(), nullptr, nullptr), KZ_ERR_FAILED) << name;
        EXPECT_EQ(w->FlushData(0, nullptr, nullptr, nullptr), KZ_ERR_INVALID_ARG);
        // The file is complete, yet the attributes are reported incomplete.
        EXPECT_EQ(w->Finalize(), KZ_ERR_FAILED) << name;
        EXPECT_EQ(w->Finalize(), KZ_OK);
        w->Release();
        auto chunks = vt::checkContainer(path(name));
        EXPECT_EQ(chunks.count("ImageDataSeq|0!"), 0u) << name;
    }
    IKzOutputImageFile* w = vt::openWriter(wpath("b1.vt5"), 3);
    SKzImageAttributes a = vt::attrs(8, 8, 1, 8, 2);
    a.uiBpcSignificant = 1;
    EXPECT_EQ(w->SetImageAttributes(a), KZ_ERR_FAILED);
    EXPECT_EQ(static_cast<CKzVT5OutputFile_V02*>(w)->GetAttributes().uiWidth, 0u);
    w->Release();
}

SKzImageTextInfo sampleText()
{
    SKzImageTextInfo t;
    for (u32 k = 0; k < 15; ++k)
        t.wsText[k].Format(L"text %u \u00e9\u4e2d <&\">\r\n", k);
    t.wsText[3] = L"";
    return t;
}

TEST_F(VT5RoundTrip, TextInformation)
{
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        const std::string name = "t" + std::to_string(version) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        ASSERT_EQ(w->SetImageTextInfo(sampleText()), KZ_OK);
        w->Release();
        auto chunks = vt::checkContainer(path(name));
        EXPECT_EQ(chunks.count(version == 3 ? "ImageTextInfoLV!" : "ImageTextInfo!"), 1u);
        IKzInputImageFile* r = vt::openReader(wpath(name));
        SKzImageTextInfo got;
        got.wsText[14] = L"kept";
        ASSERT_EQ(r->GetImageTextInfo(got), KZ_OK);
        const SKzImageTextInfo want = sampleText();
        for (u32 k = 0; k < 14; ++k)
            EXPECT_STREQ((const wchar_t*)got.wsText[k], (const wchar_t*)want.wsText[k]) << k;
        EXPECT_STREQ((const wchar_t*)got.wsText[14], L"kept") << "item 14 is not stored";
        r->Release();
    }
}

TEST_F(VT5RoundTrip, MissingTextKeyEmptiesInVersion3AndStaysInVersion2)
{
    // Version 3: a level without item 5.
    {
        CKzFileChunker c;
        CKzStringA v("Ver3.0");
        ASSERT_EQ(c.Initialize_File(wpath("m3.vt5").c_str(), false, false, v), KZ_OK);
        CKzLiteVariantW w;
        w.LevelBegin(L"SKzImageTextInfo");
        w.Set(L"zero", L"TextInfoItem_0");
        w.LevelEnd();
        CKzLiteVariantR blob;
        w.Finalize(blob);
        ASSERT_EQ(c.SetChunk(blob, "ImageTextInfoLV!"), KZ_OK);
        // Version 2 form in another file.
        ASSERT_EQ(c.Finalize(), KZ_OK);
        CKzFileChunker c2;
        CKzStringA v2("Ver2.0");
        ASSERT_EQ(c2.Initialize_File(wpath("m2.vt5").c_str(), false, false, v2), KZ_OK);
        const char* xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\"><no_name "
                          "runtype=\"CKzListVariant\"><TextInfoItem_0 runtype=\"CKzStringW\" value=\"zero\"/>"
                          "</no_name></variant>";
        ASSERT_EQ(c2.SetChunk(xml, (unsigned)strlen(xml), "ImageTextInfo!"), KZ_OK);
        ASSERT_EQ(c2.Finalize(), KZ_OK);
    }
    for (int version : {2, 3}) {
        IKzInputImageFile* r = vt::openReader(wpath(version == 3 ? "m3.vt5" : "m2.vt5"));
        ASSERT_NE(r, nullptr);
        SKzImageTextInfo got;
        for (u32 k = 0; k < 15; ++k)
            got.wsText[k] = L"before";
        ASSERT_EQ(r->GetImageTextInfo(got), KZ_OK);
        EXPECT_STREQ((const wchar_t*)got.wsText[0], L"zero");
        EXPECT_STREQ((const wchar_t*)got.wsText[5], version == 3 ? L"" : L"before") << version;
        r->Release();
    }
}

TEST_F(VT5RoundTrip, CustomDataOfAllFourKinds)
{
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        const std::string name = "c" + std::to_string(version) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        auto* w2 = static_cast<CKzVT5OutputFile_V02*>(w);
        const Bytes blob = ct::pattern(5000, 4);
        const wchar_t* names[] = {L"Plain", L"\u00c4rger \u4e2d", L"a|b"};
        for (const wchar_t* n : names) {
            ASSERT_EQ(w->SetCustomData(n, blob.data(), blob.size()), KZ_OK);
            for (u32 i : {0u, 7u, 0x80000000u})
                ASSERT_EQ(w->SetCustomDataSeq(n, i, blob.data() + i % 100, 100), KZ_OK);
            CKzVariant v;
            v.Append(CKzVariant(42, CKzStringW(L"answer")));
            v.Append(CKzVariant(CKzStringW(n), CKzStringW(L"who")));
            ASSERT_EQ(w->SetCustomDataVar(n, &v), KZ_OK);
            ASSERT_EQ(w2->SetCustomDataVarSeq(n, 3, &v), KZ_OK);
        }
        struct Bad { const wchar_t* name; const void* data; size_t length; };
        const Bad bad[] = {{nullptr, blob.data(), 1}, {L"", blob.data(), 1}, {L"x", nullptr, 1}, {L"x", blob.data(), 0}};
        for (const Bad& b : bad) {
            EXPECT_EQ(w->SetCustomData(b.name, b.data, b.length), KZ_ERR_INVALID_ARG);
            EXPECT_EQ(w->SetCustomDataSeq(b.name, 1, b.data, b.length), KZ_ERR_INVALID_ARG);
        }
        CKzVariant v;
        EXPECT_EQ(w->SetCustomDataVar(L"", &v), KZ_ERR_INVALID_ARG);
        EXPECT_EQ(w->SetCustomDataVar(L"x", nullptr), KZ_ERR_INVALID_ARG);
        w->Release();

        auto chunks = vt::checkContainer(path(name));
        // Names are narrowed to UTF-8; indexes print as signed numbers.
        EXPECT_EQ(chunks.count("CustomData|\xc3\x84rger \xe4\xb8\xad!"), 1u);
        EXPECT_EQ(chunks.count("CustomDataSeq|Plain|-2147483648!"), 1u);
        EXPECT_EQ(chunks.count("CustomDataVarSeq|Plain|3!"), 1u);
        EXPECT_EQ(ct::text(chunks["CustomDataVar|Plain!"], 0, 5), "<?xml") << "variants stay XML in every version";

        IKzInputImageFile* r = vt::openReader(wpath(name));
        for (const wchar_t* n : names) {
            CKzByteArray got;
            ASSERT_EQ(r->GetCustomData(n, got), KZ_OK);
            EXPECT_EQ(Bytes(got.GetData(), got.GetData() + got.GetSize()), blob);
            for (u32 i : {0u, 7u, 0x80000000u}) {
                ASSERT_EQ(r->GetCustomDataSeq(n, i, got), KZ_OK);
                EXPECT_EQ(Bytes(got.GetData(), got.GetData() + got.GetSize()),
                          Bytes(blob.begin() + i % 100, blob.begin() + i % 100 + 100));
            }
            CKzVariant var, seq;
            ASSERT_EQ(r->GetCustomDataVar(n, var), KZ_OK);
            ASSERT_EQ(r->GetCustomDataVarSeq(n, 3, seq), KZ_OK);
            EXPECT_EQ(var[L"answer"].GetKz_int32(), 42);
            EXPECT_STREQ((const wchar_t*)var[L"who"].GetCKzStringW(), n);
            EXPECT_TRUE(var == seq);
            EXPECT_EQ(r->GetCustomDataVarSeq(n, 4, seq), KZ_ERR_NOT_FOUND);
        }
        CKzByteArray got;
        CKzVariant var;
        EXPECT_EQ(r->GetCustomData(nullptr, got), KZ_ERR_INVALID_ARG);
        EXPECT_EQ(r->GetCustomData(L"", got), KZ_ERR_NOT_FOUND) << "an empty name is a name";
        EXPECT_EQ(r->GetCustomDataSeq(nullptr, 0, got), KZ_ERR_INVALID_ARG);
        EXPECT_EQ(r->GetCustomDataVar(L"", var), KZ_ERR_INVALID_ARG);
        EXPECT_EQ(r->GetCustomDataVar(nullptr, var), KZ_ERR_INVALID_ARG);
        EXPECT_EQ(r->GetCustomDataVarSeq(L"", 0, var), KZ_ERR_INVALID_ARG);
        EXPECT_EQ(r->GetCustomData(L"Absent", got), KZ_ERR_NOT_FOUND);
        // Formerly reserved names are ordinary names.
        EXPECT_EQ(r->GetCustomDataSeq(L"HACK_SET_m_uiTotalSeqCount", 3, got), KZ_ERR_NOT_FOUND);
        EXPECT_EQ(r->GetCustomDataSeq(L"HACK_SET_m_fileChunker", 0, got), KZ_ERR_NOT_FOUND);
        r->Release();
    }
}

TEST_F(VT5RoundTrip, AcquisitionTimeVariantAndBinaryPicture)
{
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        const std::string name = "b" + std::to_string(version) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        SKzImageAttributes a = vt::attrs(37, 3, 1, 8, 2);
        w->SetImageAttributes(a);
        // 37 pixels: 5 bytes a row, padded to 8.
        const Bytes bits = ct::pattern(3 * 8, 5);
        EXPECT_EQ(w->SetImageBinary(nullptr), KZ_ERR_INVALID_ARG);
        ASSERT_EQ(w->SetImageBinary(const_cast<u8*>(bits.data())), KZ_OK);
        ASSERT_EQ(w->SetAcqTime(1234.5), KZ_OK);
        Bytes f(37 * 3, 2);
        w->FlushData(0, f.data(), nullptr, nullptr);
        w->Release();
        auto chunks = vt::checkContainer(path(name));
        EXPECT_EQ(chunks["ImageBinary!"], bits);
        IKzInputImageFile* r = vt::openReader(wpath(name));
        Bytes back(bits.size() + 4, 0x77);
        ASSERT_EQ(r->GetImageBinary(back.data()), KZ_OK);
        EXPECT_EQ(Bytes(back.begin(), back.begin() + 24), bits);
        EXPECT_EQ(back[24], 0x77) << "no byte beyond the binary picture";
        EXPECT_EQ(r->GetImageBinary(nullptr), KZ_ERR_INVALID_ARG);
        double t = 0;
        ASSERT_EQ(r->GetAcqTime(t), KZ_OK);
        EXPECT_EQ(t, 1234.5);
        r->Release();
    }
    // Without them: -13, the time untouched; a binary chunk shorter than the picture: -9.
    IKzOutputImageFile* w = vt::openWriter(wpath("nb.vt5"), 3);
    w->SetImageAttributes(vt::attrs(64, 4, 1, 8, 2));
    Bytes f(256, 1);
    w->FlushData(0, f.data(), nullptr, nullptr);
    w->SetCustomData(L"x", f.data(), 1);
    w->Release();
    {
        CKzFileChunker c;
        CKzStringA v;
        // Append a short binary chunk through the container.
        ASSERT_EQ(c.Initialize_File(wpath("nb.vt5").c_str(), false, true, v), KZ_OK);
        ASSERT_EQ(c.SetChunk(f.data(), 31, "ImageBinary!"), KZ_OK);
        ASSERT_EQ(c.Finalize(), KZ_OK);
    }
    IKzInputImageFile* r = vt::openReader(wpath("nb.vt5"));
    double t = 9.0;
    EXPECT_EQ(r->GetAcqTime(t), KZ_ERR_NOT_FOUND);
    EXPECT_EQ(t, 9.0);
    Bytes back(64);
    EXPECT_EQ(r->GetImageBinary(back.data()), KZ_ERR_FAILED);
    r->Release();
}

// Reaches the writer's acquisition-time cache.
struct TimedWriter : CKzVT5OutputFile_V03 {
    using CKzVT5OutputFile_V03::CKzVT5OutputFile_V03;
    using CKzVT5OutputFile_V02::getTimeFromAcqTimesCache;
    using CKzVT5OutputFile_V02::m_States;
    using CKzVT5OutputFile_V02::m_Times;
    using CKzVT5OutputFile_V02::setTimeToAcqTimesCache;
    using CKzVT5OutputFile_V02::validateTimeToAcqTimesCache;
};

TimedWriter* timedWriter(const std::wstring& p)
{
    CKzFileChunker c;
    CKzStringA v("Ver3.0");
    EXPECT_EQ(c.Initialize_File(p.c_str(), false, false, v), KZ_OK);
    auto* w = new TimedWriter(CKzImageFormatVT5::GetProcessFormat(), CKzStringW(p.c_str()), false, c);
    w->AddRef();
    return w;
}

std::vector<double> storedTimes(const std::map<std::string, Bytes>& chunks)
{
    auto it = chunks.find("CustomData|AcqTimesCache!");
    if (it == chunks.end())
        return {};
    std::vector<double> t(it->second.size() / 8);
    std::memcpy(t.data(), it->second.data(), t.size() * 8);
    return t;
}

TEST_F(VT5RoundTrip, AcquisitionTimeCacheRules)
{
    // Frame 5 first: six frames counted, 0..4 absent with -1.0 and state 0.
    {
        TimedWriter* w = timedWriter(wpath("t1.vt5"));
        w->SetImageAttributes(vt::attrs(4, 2, 1, 8, 2));
        Bytes f(8, 3);
        ASSERT_EQ(w->FlushData(5, f.data(), nullptr, nullptr), KZ_OK);
        EXPECT_EQ(w->GetAttributes().uiSequenceCount, 6u);
        ASSERT_EQ(w->m_Times.size(), 6u);
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(w->m_Times[i], -1.0);
            EXPECT_EQ(w->m_States[i], 0);
        }
        w->Release();
        auto chunks = vt::checkContainer(path("t1.vt5"));
        EXPECT_EQ(chunks.count("CustomData|AcqTimesCache!"), 0u) << "no frame has a time";
        EXPECT_EQ(chunks["ImageDataSeq|5!"], withTime(0.0, f));
    }
    // Times given before frames are stored with them; a time given after its
    // frame leaves state 1 and is stored as -1.0.
    {
        TimedWriter* w = timedWriter(wpath("t2.vt5"));
        w->SetImageAttributes(vt::attrs(4, 2, 1, 8, 2));
        Bytes f(8, 3);
        ASSERT_EQ(w->setTimeToAcqTimesCache(0, 10.0, true), KZ_OK);
        ASSERT_EQ(w->setTimeToAcqTimesCache(2, 30.0, true), KZ_OK);
        EXPECT_EQ(w->m_States[1], 0);
        ASSERT_EQ(w->FlushData(0, f.data(), nullptr, nullptr), KZ_OK);
        ASSERT_EQ(w->FlushData(1, f.data(), nullptr, nullptr), KZ_OK);
        ASSERT_EQ(w->FlushData(2, f.data(), nullptr, nullptr), KZ_OK);
        ASSERT_EQ(w->FlushData(3, f.data(), nullptr, nullptr), KZ_OK);
        ASSERT_EQ(w->setTimeToAcqTimesCache(3, 40.0, true), KZ_OK);
        EXPECT_EQ(w->m_States[0], 2);
        EXPECT_EQ(w->m_States[1], 0);
        EXPECT_EQ(w->m_States[3], 1);
        EXPECT_EQ(w->setTimeToAcqTimesCache(10000001, 1.0, true), KZ_ERR_INVALID_ARG);
        double t;
        EXPECT_EQ(w->getTimeFromAcqTimesCache(10000001, t), KZ_ERR_INVALID_ARG);
        EXPECT_EQ(w->getTimeFromAcqTimesCache(9, t), KZ_ERR_NOT_FOUND);
        EXPECT_EQ(w->validateTimeToAcqTimesCache(9), KZ_ERR_NOT_FOUND);
        w->Release();
        auto chunks = vt::checkContainer(path("t2.vt5"));
        EXPECT_EQ(chunks["ImageDataSeq|0!"], withTime(10.0, f));
        EXPECT_EQ(chunks["ImageDataSeq|1!"], withTime(-1.0, f)) << "skipped over by the time of frame 2";
        EXPECT_EQ(chunks["ImageDataSeq|2!"], withTime(30.0, f));
        EXPECT_EQ(chunks["ImageDataSeq|3!"], withTime(0.0, f)) << "no entry: 0.0";
        EXPECT_EQ(storedTimes(chunks), (std::vector<double>{10.0, -1.0, 30.0, -1.0}));
    }
    // A caller's cache chunk stands unless a time is recorded after it.
    for (bool later : {false, true}) {
        const std::string name = later ? "t4.vt5" : "t3.vt5";
        TimedWriter* w = timedWriter(wpath(name));
        w->SetImageAttributes(vt::attrs(4, 2, 1, 8, 2));
        Bytes f(8, 3);
        w->setTimeToAcqTimesCache(0, 5.0, true);
        w->FlushData(0, f.data(), nullptr, nullptr);
        const double mine[2] = {100.0, 200.0};
        ASSERT_EQ(w->SetCustomData(L"AcqTimesCache", mine, sizeof(mine)), KZ_OK);
        if (later)
            w->setTimeToAcqTimesCache(1, 7.0, true);
        w->Release();
        auto chunks = vt::checkContainer(path(name));
        const std::vector<double> want = later ? std::vector<double>({5.0, -1.0}) : std::vector<double>({100.0, 200.0});
        EXPECT_EQ(storedTimes(chunks), want);
    }
}

TEST_F(VT5RoundTrip, FinalizeStoresAttributesWithFinalCount)
{
    for (int version : {2, 3}) {
        const std::string name = "fa" + std::to_string(version) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        w->SetImageAttributes(vt::attrs(4, 2, 1, 8, 2));
        Bytes f(8, 3);
        for (u32 k = 0; k < 4; ++k)
            w->FlushData(k, f.data(), nullptr, nullptr);
        // Before finishing, the file's attribute chunk is the one stored at the
        // first frame, before that frame was counted; a reader counts the
        // frames the file holds instead.
        IKzInputImageFile* early = nullptr;
        ASSERT_EQ(w->CreateInputImageFile(0, early, nullptr), KZ_OK);
        SKzImageAttributes got = vt::attrs(0, 0, 0, 0, 0);
        ASSERT_EQ(early->GetImageAttributes(got), KZ_OK);
        EXPECT_EQ(got.uiSequenceCount, 4u) << version;
        early->Release();
        EXPECT_EQ(w->Finalize(), KZ_OK);
        w->Release();
        IKzInputImageFile* r = vt::openReader(wpath(name));
        ASSERT_EQ(r->GetImageAttributes(got), KZ_OK);
        EXPECT_EQ(got.uiSequenceCount, 4u) << version;
        r->Release();
    }
}

TEST_F(VT5RoundTrip, AppendingKeepsAttributesAndTimes)
{
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        const std::string name = "ap" + std::to_string(version) + ".vt5";
        const SKzImageAttributes a = vt::attrs(6, 3, 2, 16, 0, 4.0);
        std::vector<Bytes> frames;
        {
            TimedWriter* tw = nullptr;
            IKzOutputImageFile* w;
            if (version == 3) {
                tw = timedWriter(wpath(name));
                w = tw;
            } else {
                w = vt::openWriter(wpath(name), 2);
            }
            w->SetImageAttributes(a);
            for (u32 k = 0; k < 2; ++k) {
                frames.push_back(vt::frame(a, k));
                if (tw)
                    tw->setTimeToAcqTimesCache(k, 100.0 + k, true);
                ASSERT_EQ(w->FlushData(k, frames.back().data(), nullptr, nullptr), KZ_OK);
            }
            w->Release();
        }
        IKzOutputImageFile* w = vt::openWriter(wpath(name), 0);  // existing file: its own version
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(dynamic_cast<CKzVT5OutputFile_V03*>(w) != nullptr, version == 3);
        const SKzImageAttributes& loaded = static_cast<CKzVT5OutputFile_V02*>(w)->GetAttributes();
        EXPECT_EQ(loaded.uiWidth, 6u);
        EXPECT_EQ(loaded.uiComp, 2u);
        EXPECT_EQ(loaded.eCompression, 0);
        EXPECT_EQ(loaded.dCompressionParam, 4.0);
        EXPECT_EQ(loaded.uiSequenceCount, 2u);
        frames.push_back(vt::frame(a, 2));
        ASSERT_EQ(w->FlushData(2, frames.back().data(), nullptr, nullptr), KZ_OK);
        w->Release();
        auto chunks = vt::checkContainer(path(name));
        if (version == 3)
            EXPECT_EQ(storedTimes(chunks), (std::vector<double>{100.0, 101.0, -1.0}));
        IKzInputImageFile* r = vt::openReader(wpath(name));
        SKzImageAttributes got = vt::attrs(0, 0, 0, 0, 0);
        ASSERT_EQ(r->GetImageAttributes(got), KZ_OK);
        EXPECT_EQ(got.uiSequenceCount, 3u);
        EXPECT_EQ(got.uiWidth, 6u);
        for (u32 k = 0; k < 3; ++k) {
            Bytes back(frames[k].size());
            ASSERT_EQ(r->GetData(k, back.data(), nullptr, nullptr), KZ_OK);
            EXPECT_EQ(back, frames[k]);
        }
        r->Release();
    }
}

TEST_F(VT5RoundTrip, ReaderOverTheFileBeingWritten)
{
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        const std::string name = "rw" + std::to_string(version) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        const SKzImageAttributes a = vt::attrs(5, 4, 1, 8, 2);
        w->SetImageAttributes(a);
        const Bytes f0 = vt::frame(a, 1), f1 = vt::frame(a, 2);
        ASSERT_EQ(w->FlushData(0, const_cast<u8*>(f0.data()), nullptr, nullptr), KZ_OK);
        IKzInputImageFile* r = nullptr;
        ASSERT_EQ(w->CreateInputImageFile(0, r, nullptr), KZ_OK);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(dynamic_cast<CKzVT5InputFile_V03*>(r) != nullptr, version == 3);
        Bytes back(f0.size());
        ASSERT_EQ(r->GetData(0, back.data(), nullptr, nullptr), KZ_OK);
        EXPECT_EQ(back, f0);
        ASSERT_EQ(w->FlushData(1, const_cast<u8*>(f1.data()), nullptr, nullptr), KZ_OK);
        EXPECT_EQ(r->GetData(1, back.data(), nullptr, nullptr), KZ_ERR_NOT_FOUND) << "not handed over yet";
        ASSERT_EQ(w->CreateInputImageFile(0xFFFFFFFFu, r, nullptr), KZ_OK);
        ASSERT_EQ(r->GetData(1, back.data(), nullptr, nullptr), KZ_OK);
        EXPECT_EQ(back, f1);
        EXPECT_EQ(static_cast<CKzVT5InputFile_V02*>(r)->GetFrameCount(), 2u);
        r->Release();
        w->Release();
    }
}

// A file built chunk by chunk, for hostile contents.
void buildFile(const std::wstring& p, const char* version, const std::vector<std::pair<std::string, Bytes>>& chunks)
{
    CKzFileChunker c;
    CKzStringA v(version);
    ASSERT_EQ(c.Initialize_File(p.c_str(), false, false, v), KZ_OK);
    for (const auto& ch : chunks)
        ASSERT_EQ(c.SetChunk(ch.second.data(), (unsigned)ch.second.size(), ch.first.c_str()), KZ_OK);
    ASSERT_EQ(c.Finalize(), KZ_OK);
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string xmlAttributes(const std::string& members)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\"><no_name runtype=\"CKzListVariant\">" +
           members + "</no_name></variant>";
}

std::string xmlU32(const char* name, unsigned v)
{
    return std::string("<") + name + " runtype=\"kz_uint32\" value=\"" + std::to_string(v) + "\"/>";
}

TEST_F(VT5RoundTrip, HostileFrameChunksAndAttributes)
{
    const std::string attrs = xmlAttributes(xmlU32("uiWidth", 4) + xmlU32("uiWidthBytes", 4) + xmlU32("uiHeight", 2) +
                                            xmlU32("uiComp", 1) + xmlU32("uiBpcInMemory", 8) +
                                            xmlU32("uiBpcSignificant", 8) + xmlU32("uiSequenceCount", 4000000000u) +
                                            "<eCompression runtype=\"kz_int32\" value=\"2\"/>");
    const Bytes good = withTime(0, ct::pattern(8, 1));
    Bytes longer = withTime(0, ct::pattern(9, 1));
    Bytes shorter = withTime(0, ct::pattern(7, 1));
    const Bytes tiny(5, 1);
    buildFile(wpath("h.vt5"), "Ver2.0",
              {{"ImageAttributes!", bytesOf(attrs)},
               {"ImageDataSeq|0!", good},
               {"ImageDataSeq|1!", longer},
               {"ImageDataSeq|2!", shorter},
               {"ImageDataSeq|3!", tiny}});
    IKzInputImageFile* r = vt::openReader(wpath("h.vt5"));
    ASSERT_NE(r, nullptr);
    Bytes back(8 + 16, 0x55);
    EXPECT_EQ(r->GetData(0, back.data(), nullptr, nullptr), KZ_OK);
    EXPECT_EQ(back[8], 0x55);
    struct Case { u32 seq; int result; };
    for (const Case& c : {Case{1, KZ_ERR_FAILED}, Case{2, KZ_ERR_FAILED}, Case{3, KZ_ERR_FAILED},
                          Case{4, KZ_ERR_NOT_FOUND}})
        EXPECT_EQ(r->GetData(c.seq, back.data(), nullptr, nullptr), c.result) << c.seq;
    EXPECT_EQ(back[8], 0x55) << "nothing written past one frame";
    // Four billion frames claimed, no metadata chunk: answered at once.
    const auto start = std::chrono::steady_clock::now();
    SKzPictureMetadata untouched;
    EXPECT_EQ(r->GetImageMetadata(7, untouched, nullptr), KZ_ERR_NOT_FOUND);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    r->Release();

    // Deflated frames that inflate to more or less than one frame.
    const std::string zattrs = xmlAttributes(xmlU32("uiWidth", 4) + xmlU32("uiHeight", 2) + xmlU32("uiWidthBytes", 4) +
                                             xmlU32("uiComp", 1) + xmlU32("uiBpcInMemory", 8) +
                                             xmlU32("uiBpcSignificant", 8) + xmlU32("uiSequenceCount", 3) +
                                             "<eCompression runtype=\"kz_int32\" value=\"0\"/>");
    buildFile(wpath("z.vt5"), "Ver2.0",
              {{"ImageAttributes!", bytesOf(zattrs)},
               {"ImageDataSeq|0!", withTime(0, deflated(ct::pattern(8, 2), 6))},
               {"ImageDataSeq|1!", withTime(0, deflated(ct::pattern(9, 2), 6))},
               {"ImageDataSeq|2!", withTime(0, deflated(ct::pattern(7, 2), 6))},
               {"ImageDataSeq|3!", withTime(0, ct::pattern(30, 2))}});
    r = vt::openReader(wpath("z.vt5"));
    std::fill(back.begin(), back.end(), 0x55);
    EXPECT_EQ(r->GetData(0, back.data(), nullptr, nullptr), KZ_OK);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 8), ct::pattern(8, 2));
    for (u32 seq : {1u, 2u, 3u})
        EXPECT_EQ(r->GetData(seq, back.data(), nullptr, nullptr), KZ_ERR_FAILED) << seq;
    EXPECT_EQ(back[8], 0x55);
    r->Release();
}

TEST_F(VT5RoundTrip, ComponentLimitsDifferByVersion)
{
    const std::string attrs = xmlAttributes(xmlU32("uiWidth", 4) + xmlU32("uiHeight", 2) + xmlU32("uiComp", 257) +
                                            xmlU32("uiBpcInMemory", 8) + xmlU32("uiBpcSignificant", 8));
    buildFile(wpath("c2.vt5"), "Ver2.0", {{"ImageAttributes!", bytesOf(attrs)}});
    IKzInputImageFile* r = vt::openReader(wpath("c2.vt5"));
    SKzImageAttributes got = vt::attrs(0, 0, 0, 0, 0);
    got.uiWidthBytes = 99;
    EXPECT_EQ(r->GetImageAttributes(got), KZ_ERR_FAILED);
    EXPECT_EQ(got.uiComp, 257u) << "the values read are kept";
    EXPECT_EQ(got.uiWidth, 4u);
    EXPECT_EQ(got.uiWidthBytes, 99u) << "a missing key leaves the field";
    r->Release();

    CKzLiteVariantW w;
    w.LevelBegin(L"SKzImageAttributes");
    w.Set(4u, L"uiWidth");
    w.Set(2u, L"uiHeight");
    w.Set(300u, L"uiComp");
    w.Set(8, L"uiBpcInMemory");
    w.Set(8, L"uiBpcSignificant");
    w.LevelEnd();
    CKzLiteVariantR blob;
    w.Finalize(blob);
    buildFile(wpath("c3.vt5"), "Ver3.0",
              {{"ImageAttributesLV!", Bytes(blob.GetData(), blob.GetData() + blob.GetSize())}});
    r = vt::openReader(wpath("c3.vt5"));
    got = vt::attrs(0, 0, 0, 0, 2);
    got.ePixelType = 5;
    EXPECT_EQ(r->GetImageAttributes(got), KZ_OK);
    EXPECT_EQ(got.uiComp, 300u);
    EXPECT_EQ(got.eCompression, 0) << "missing: deflated";
    EXPECT_EQ(got.ePixelType, 1) << "missing: the default type";
    r->Release();

    buildFile(wpath("c4.vt5"), "Ver3.0", {{"ImageAttributesLV!", ct::pattern(40, 1)}});
    r = vt::openReader(wpath("c4.vt5"));
    EXPECT_EQ(r->GetImageAttributes(got), KZ_ERR_FAILED);
    r->Release();
}

}  // namespace

namespace {

TEST_F(VT5RoundTrip, CalibrationChunkIsXmlInBothVersions)
{
    struct Case { bool valid; const char* calibration; const char* aspect; const char* flag; };
    const Case cases[] = {{true, "0.25", "1.5", "true"}, {false, "0", "1", "false"}};
    for (int version : {2, 3})
        for (const Case& c : cases) {
            const std::string name = "cal" + std::to_string(version) + (c.valid ? "v" : "n") + ".vt5";
            IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
            ASSERT_EQ(w->SetImageCalibration(4, 0.25, 1.5, c.valid, CKzStringW(L"Plan 20x <0.5>")), KZ_OK);
            w->Release();
            auto chunks = vt::checkContainer(path(name));
            const std::string want =
                std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\"><no_name "
                            "runtype=\"CKzListVariant\"><dCalibration runtype=\"double\" value=\"") +
                c.calibration + "\"/><dAspect runtype=\"double\" value=\"" + c.aspect +
                "\"/><bValid runtype=\"bool\" value=\"" + c.flag +
                "\"/><sObjective runtype=\"CKzStringW\" value=\"Plan 20x &#x003C;0.5>\"/></no_name></variant>";
            const Bytes& got = chunks["ImageCalibration|4!"];
            EXPECT_EQ(ct::text(got, 0, got.size()), want) << name;
        }
}

TEST_F(VT5RoundTrip, RowsShorterThanTheirPixelsAreRefused)
{
    // uiWidthBytes of 5 for 4 pixels of 2 bytes: no read may take a row as longer than it is.
    const std::string attrs = xmlAttributes(xmlU32("uiWidth", 4) + xmlU32("uiWidthBytes", 5) + xmlU32("uiHeight", 2) +
                                            xmlU32("uiComp", 1) + xmlU32("uiBpcInMemory", 16) +
                                            xmlU32("uiBpcSignificant", 16) + xmlU32("uiSequenceCount", 1) +
                                            "<eCompression runtype=\"kz_int32\" value=\"2\"/>");
    buildFile(wpath("short.vt5"), "Ver2.0",
              {{"ImageAttributes!", bytesOf(attrs)}, {"ImageDataSeq|0!", withTime(0, ct::pattern(10, 1))}});
    IKzInputImageFile* r = vt::openReader(wpath("short.vt5"));
    Bytes out(64, 0x33);
    EXPECT_EQ(r->GetRectData(0, 4, 2, 0, 0, 4, 2, out.data(), 8, 0, nullptr, nullptr), KZ_ERR_FAILED);
    EXPECT_EQ(r->GetComponentData(0, 0, out.data(), 8, 1), KZ_ERR_FAILED);
    EXPECT_EQ(out, Bytes(64, 0x33));
    Bytes frame(10);
    EXPECT_EQ(r->GetData(0, frame.data(), nullptr, nullptr), KZ_OK) << "whole frames are rows of the stride";
    r->Release();

    // A binary frame: 1 significant bit has no component copy.
    const std::string bin = xmlAttributes(xmlU32("uiWidth", 4) + xmlU32("uiWidthBytes", 4) + xmlU32("uiHeight", 2) +
                                          xmlU32("uiComp", 1) + xmlU32("uiBpcInMemory", 8) +
                                          xmlU32("uiBpcSignificant", 1) + xmlU32("uiSequenceCount", 1) +
                                          "<eCompression runtype=\"kz_int32\" value=\"2\"/>");
    buildFile(wpath("bin.vt5"), "Ver2.0",
              {{"ImageAttributes!", bytesOf(bin)}, {"ImageDataSeq|0!", withTime(0, ct::pattern(8, 1))}});
    r = vt::openReader(wpath("bin.vt5"));
    EXPECT_EQ(r->GetComponentData(0, 0, out.data(), 8, 1), KZ_ERR_NOT_SUPPORTED);
    r->Release();
}

}  // namespace

namespace {

TEST_F(VT5RoundTrip, LargeDeflatedFramesReadInPieces)
{
    // Random bytes hardly deflate: the stored stream spans several read pieces.
    const SKzImageAttributes a = vt::attrs(1024, 700, 1, 16, 0, 1.0);
    const Bytes f0 = ct::pattern(1024 * 2 * 700, 21), f1 = ct::pattern(1024 * 2 * 700, 22);
    IKzOutputImageFile* w = vt::openWriter(wpath("big.vt5"), 3);
    w->SetImageAttributes(a);
    ASSERT_EQ(w->FlushData(0, const_cast<u8*>(f0.data()), nullptr, nullptr), KZ_OK);
    ASSERT_EQ(w->FlushData(1, const_cast<u8*>(f1.data()), nullptr, nullptr), KZ_OK);
    w->Release();
    auto chunks = vt::checkContainer(path("big.vt5"));
    const Bytes& stored = chunks["ImageDataSeq|1!"];
    ASSERT_GT(stored.size(), 1024u * 1024u);
    IKzInputImageFile* r = vt::openReader(wpath("big.vt5"));
    Bytes back(f0.size());
    for (int round = 0; round < 2; ++round) {  // the kept zlib stream serves again
        ASSERT_EQ(r->GetData(1, back.data(), nullptr, nullptr), KZ_OK);
        EXPECT_EQ(back, f1);
        ASSERT_EQ(r->GetData(0, back.data(), nullptr, nullptr), KZ_OK);
        EXPECT_EQ(back, f0);
    }
    r->Release();

    // The same stream cut short, or damaged in its last piece: -9, and the
    // reader goes on serving good frames.
    Bytes cut(stored.begin(), stored.end() - 1000);
    Bytes damaged = stored;
    damaged[damaged.size() - 300] ^= 0xFF;
    buildFile(wpath("cut.vt5"), "Ver3.0",
              {{"ImageAttributesLV!", chunks["ImageAttributesLV!"]},
               {"ImageDataSeq|0!", cut},
               {"ImageDataSeq|1!", damaged},
               {"ImageDataSeq|2!", stored}});
    r = vt::openReader(wpath("cut.vt5"));
    EXPECT_EQ(r->GetData(0, back.data(), nullptr, nullptr), KZ_ERR_FAILED);
    EXPECT_EQ(r->GetData(1, back.data(), nullptr, nullptr), KZ_ERR_FAILED);
    ASSERT_EQ(r->GetData(2, back.data(), nullptr, nullptr), KZ_OK);
    EXPECT_EQ(back, f1);
    r->Release();
}

}  // namespace
