// Class factory, image-format registry and the VT5 format: versions,
// extensions, features and opening files of every version text.
#include <gtest/gtest.h>

#include <climits>
#include <thread>
#include <vector>

#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/ImageFormatManager.h"
#include "vt5file/vt5io_test_support.h"

namespace {

IKzImageFormatManager* registry()
{
    return static_cast<IKzImageFormatManager*>(
        CKzRTTI::CreateAndQuery("CKzImageFormatManagerImpl", "IKzImageFormatManager", SKzFileLine{"no file", -1}));
}

TEST(VT5Factory, SingletonsByClassNameOnly)
{
    IKzInterface* r1 = CKzRTTI::CreateAndQuery("CKzImageFormatManagerImpl", "anything", SKzFileLine{"x", 1});
    IKzInterface* r2 = CKzRTTI::CreateAndQuery("CKzImageFormatManagerImpl", "IKzImageFormatManager",
                                               SKzFileLine{"no file", -1});
    IKzInterface* s1 = CKzRTTI::CreateAndQuery("CKzSerializerXMLString", "IKzSerializer", SKzFileLine{"no file", -1});
    IKzInterface* s2 = CKzRTTI::CreateAndQuery("CKzSerializerXMLString", nullptr, SKzFileLine{"no file", -1});
    ASSERT_NE(r1, nullptr);
    ASSERT_NE(s1, nullptr);
    EXPECT_EQ(r1, r2);
    EXPECT_EQ(s1, s2);
    EXPECT_NE((void*)r1, (void*)s1);
    EXPECT_NE(dynamic_cast<CKzImageFormatManagerImpl*>(r1), nullptr);
    EXPECT_NE(dynamic_cast<CKzSerializerXMLString*>(s1), nullptr);
    for (const char* other : {"CKzImageFormatVT5", "ckzimageformatmanagerimpl", "", "CKzImageFormatManagerImpl "})
        EXPECT_EQ(CKzRTTI::CreateAndQuery(other, "IKzImageFormat", SKzFileLine{"no file", -1}), nullptr) << other;
    EXPECT_EQ(CKzRTTI::Create("CKzImageFormatManagerImpl", SKzFileLine{"no file", -1}), nullptr);
    EXPECT_EQ(CKzRTTI::Create_Fx("CKzImageFormatManagerImpl", SKzFileLine{"no file", -1}), nullptr);
    EXPECT_EQ(CKzRTTI::AppendCatalogInRuntime(nullptr), KZ_ERR_FAILED);
}

TEST(VT5Factory, QueriesAndCounts)
{
    // The registry has no class object; a format answers any interface name.
    EXPECT_EQ(CKzRTTI::QueryInterface(registry(), "IKzImageFormatManager"), nullptr);
    CKzImageFormatVT5 f;
    EXPECT_EQ(CKzRTTI::QueryInterface(&f, "IKzImageFormat"), &f);
    EXPECT_EQ(CKzRTTI::QueryInterface(&f, "whatever"), &f);
    EXPECT_EQ(CKzRTTI::QueryInterface(nullptr, "IKzImageFormat"), nullptr);
    EXPECT_EQ(CKzRTTI::Release(nullptr), 0);
    EXPECT_EQ(CKzRTTI::AddRef(nullptr), 0);
    EXPECT_EQ(CKzRTTI::AddRef(&f), 0);
    EXPECT_EQ(CKzRTTI::Release(&f), 0);
    EXPECT_EQ(CKzRTTI::Release(registry()), 0);
    EXPECT_EQ(CKzRTTI::GetCKzClassInfo(&f), nullptr);
    EXPECT_EQ(f.GetClass(), &f);
}

TEST(VT5FactoryConcurrent, FirstRequestsFromManyThreadsShareOneObject)
{
    std::vector<IKzInterface*> got(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < got.size(); ++i)
        threads.emplace_back([&got, i] {
            got[i] = CKzRTTI::CreateAndQuery("CKzImageFormatManagerImpl", "", SKzFileLine{"no file", -1});
            static_cast<IKzImageFormatManager*>(got[i])->LoadAllImageFormats(false);
        });
    for (auto& t : threads)
        t.join();
    for (IKzInterface* p : got)
        EXPECT_EQ(p, got[0]);
    EXPECT_EQ(static_cast<IKzImageFormatManager*>(got[0])->GetImageFormatCount(), 1u);
}

TEST(VT5Format, VersionTexts)
{
    struct Case { const char* text; int number; };
    const Case cases[] = {
        {"Ver3.0", 3}, {"Ver2.0", 2}, {"Ver2", 2}, {"Ver2xyz", 2}, {"Ver1.0", 1}, {"Ver", -1}, {"ver3.0", -1},
        {"Version", 0}, {"Ver.3", 0}, {"Ver12.1", 12}, {"", -1}, {"V3", -1}, {"Ver99999999999999999999", INT_MAX},
        {"Ver2147483647", INT_MAX}, {"Ver2147483648", INT_MAX}, {"Ver0", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CKzImageFormatVT5::ParseVersion(c.text), c.number) << c.text;
    EXPECT_EQ(CKzImageFormatVT5::ParseVersion(nullptr), -1);
}

TEST(VT5Format, NamesFeaturesAndDepths)
{
    CKzImageFormatVT5 f;
    CKzStringA id;
    CKzStringW text, ext;
    EXPECT_EQ(f.GetID(id), KZ_OK);
    EXPECT_STREQ((const char*)id, "VTIMX");
    f.GetTextDescription(text);
    EXPECT_STREQ((const wchar_t*)text, L"VT5 Image File Format");
    f.GetExtensions(ext);
    EXPECT_STREQ((const wchar_t*)ext, L".vt5");
    const int supported[] = {0, 2, 4, 5, 8, 9, 10, 11, 12, 13, 14, 15, 20, 21, 23, 24};
    for (int feature = -2; feature < 30; ++feature) {
        bool yes = false;
        for (int s : supported)
            yes = yes || s == feature;
        EXPECT_EQ(f.IsFeatureSupported((_EKzImageFormatFeature)feature), yes ? KZ_OK : KZ_ERR_FEATURE) << feature;
    }
    struct Depth { u8 bits; int supported; u8 adjusted; };
    const Depth depths[] = {{0, KZ_ERR_FEATURE, 8}, {7, KZ_ERR_FEATURE, 8}, {8, KZ_OK, 8}, {12, KZ_OK, 12},
                            {16, KZ_OK, 16}, {17, KZ_ERR_FEATURE, 16}, {20, KZ_ERR_FEATURE, 16},
                            {32, KZ_ERR_FEATURE, 16}};
    for (const Depth& d : depths) {
        u32 w = 5, h = 6, c = 3;
        u8 b = d.bits;
        EXPECT_EQ(f.IsDataFormatSupported(w, h, b, c), d.supported) << (int)d.bits;
        EXPECT_EQ(f.AdjustDataFormat(w, h, b, c), KZ_OK);
        EXPECT_EQ(b, d.adjusted) << (int)d.bits;
        EXPECT_EQ(w + h + c, 14u);
        SKzImageAttributes a = vt::attrs(5, 6, 3, d.bits, 2);
        EXPECT_EQ(f.IsFormatSupported(a), d.supported);
        EXPECT_EQ(f.AdjustFormat(a), KZ_OK);
        EXPECT_EQ(a.uiBpcInMemory, d.adjusted);
        EXPECT_EQ(f.GetStoredAttributes().uiBpcInMemory, d.bits) << "the copy keeps the depth as given";
    }
}

TEST(VT5Registry, ExtensionsIdentifiersAndReload)
{
    IKzImageFormatManager* reg = registry();
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg->LoadAllImageFormats(true), KZ_OK);
    ASSERT_EQ(reg->GetImageFormatCount(), 1u);
    IKzImageFormat* first = nullptr;
    ASSERT_EQ(reg->GetImageFormat(0, first), KZ_OK);
    ASSERT_NE(first, nullptr);

    struct Case { const wchar_t* path; int result; };
    const Case cases[] = {
        {L"/data/a.vt5", KZ_OK},          {L"/data/A.VT5", KZ_OK},       {L"x.Vt5", KZ_OK},
        {L"/d.ir/file.vt5", KZ_OK},       {L".vt5", KZ_OK},              {L"/data/a.vt", KZ_ERR_NO_FORMAT},
        {L"/data/a.vt55", KZ_ERR_NO_FORMAT}, {L"/data/a.vvt5", KZ_ERR_NO_FORMAT}, {L"/data/a", KZ_ERR_NO_FORMAT},
        {L"/d.vt5/file", KZ_ERR_NO_FORMAT}, {L"", KZ_ERR_NO_FORMAT},    {L"a.vt5;", KZ_ERR_NO_FORMAT},
        {L"a.tif", KZ_ERR_NO_FORMAT},
    };
    for (const Case& c : cases) {
        IKzImageFormat* f = reinterpret_cast<IKzImageFormat*>(1);
        EXPECT_EQ(reg->GetImageFormatByFilename(CKzStringW(c.path), f), c.result) << (const char*)CKzStringA(c.path);
        EXPECT_EQ(f, c.result == KZ_OK ? first : nullptr);
    }

    IKzImageFormat* f = reinterpret_cast<IKzImageFormat*>(1);
    EXPECT_EQ(reg->GetImageFormat(1, f), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(reg->GetImageFormatByID(CKzStringA("VTIMX"), f), KZ_OK);
    EXPECT_EQ(f, first);
    EXPECT_EQ(reg->GetImageFormatByID(CKzStringA("VTIM"), f), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(f, nullptr);

    CKzImageFormatVT5 twin;
    u32 index = 77;
    EXPECT_EQ(reg->RegisterImageFormat(&twin, &index), KZ_ERR_FORMAT_EXISTS);
    EXPECT_EQ(index, 77u);
    EXPECT_EQ(reg->RegisterImageFormat(nullptr, &index), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(reg->GetImageFormatCount(), 1u);

    // A second load changes nothing; a reload registers a new format at index 0.
    EXPECT_EQ(reg->LoadAllImageFormats(false), KZ_OK);
    IKzImageFormat* same = nullptr;
    reg->GetImageFormat(0, same);
    EXPECT_EQ(same, first);
    EXPECT_EQ(reg->LoadAllImageFormats(true), KZ_OK);
    IKzImageFormat* fresh = nullptr;
    reg->GetImageFormat(0, fresh);
    EXPECT_NE(fresh, nullptr);
    EXPECT_NE(fresh, first);
    EXPECT_EQ(reg->GetImageFormatCount(), 1u);

    size_t size = 0;
    EXPECT_EQ(reg->CopyImageFile(L"a.vt5", L"b.vt5", 0, nullptr, nullptr, nullptr), KZ_ERR_NO_FORMAT);
    EXPECT_EQ(reg->MoveImageFile(L"a.vt5", L"b.vt5", 0, nullptr, nullptr, nullptr), KZ_ERR_NO_FORMAT);
    EXPECT_EQ(reg->RemoveImageFile(L"a.vt5", 0), KZ_ERR_NO_FORMAT);
    EXPECT_EQ(reg->GetImageFileSize(L"a.vt5", &size), KZ_ERR_NO_FORMAT);
}

class VT5Open : public ct::TempDirTest {};

TEST_F(VT5Open, ReaderClassByVersionText)
{
    struct Case { const char* version; int result; bool v3; };
    const Case cases[] = {
        {"Ver3.0", KZ_OK, true}, {"Ver2.0", KZ_OK, false}, {"Ver2", KZ_OK, false}, {"Ver2.9b", KZ_OK, false},
        {"Ver4", KZ_OK, true},   {"Ver0", KZ_OK, true},    {"Verx", KZ_OK, true},  {"Ver20", KZ_OK, true},
        {"Ver1.0", KZ_FAIL, false}, {"Ver", KZ_FAIL, false}, {"VER3.0", KZ_FAIL, false}, {"3.0", KZ_FAIL, false},
    };
    for (const Case& c : cases) {
        const std::wstring p = wpath("v.vt5");
        vt::makeEmpty(p, c.version);
        int r = 0;
        IKzInputImageFile* reader = vt::openReader(p, &r);
        EXPECT_EQ(r, c.result) << c.version;
        if (c.result == KZ_OK) {
            ASSERT_NE(reader, nullptr);
            EXPECT_EQ(dynamic_cast<CKzVT5InputFile_V03*>(reader) != nullptr, c.v3) << c.version;
            EXPECT_NE(dynamic_cast<CKzVT5InputFile_V02*>(reader), nullptr);
            EXPECT_EQ(reader->GetImageFormat(), CKzImageFormatVT5::GetProcessFormat());
            EXPECT_EQ(reader->AddRef(), 2);
            EXPECT_EQ(reader->Release(), 1);
            EXPECT_EQ(reader->Release(), 0);
        } else {
            EXPECT_EQ(reader, nullptr);
        }
    }
}

TEST_F(VT5Open, DamagedOrForeignFilesAreRefused)
{
    const std::wstring p = wpath("a.vt5");
    vt::makeEmpty(p, "Ver3.0");
    ct::Bytes f = ct::readAll(path("a.vt5"));
    ct::Bytes cut(f.begin(), f.end() - 40);
    ct::writeAll(path("a.vt5"), cut);
    int r = 0;
    EXPECT_EQ(vt::openReader(p, &r), nullptr);
    EXPECT_EQ(r, KZ_FAIL) << "a valid signature without map";

    ct::writeAll(path("b.vt5"), ct::pattern(9000, 3));
    EXPECT_EQ(vt::openReader(wpath("b.vt5"), &r), nullptr);
    EXPECT_EQ(r, KZ_ERR_FAILED);
    EXPECT_EQ(vt::openReader(wpath("missing.vt5"), &r), nullptr);
    EXPECT_EQ(r, KZ_ERR_FAILED);

    // An existing file that is no container gets no writer and is not touched.
    CKzImageFormatVT5 format;
    IKzOutputImageFile* w = reinterpret_cast<IKzOutputImageFile*>(1);
    EXPECT_EQ(format.CreateOutputImageFile(CKzStringW(wpath("b.vt5").c_str()), w), KZ_ERR_FAILED);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(ct::readAll(path("b.vt5")), ct::pattern(9000, 3));
    // Nor does a version-1 file.
    vt::makeEmpty(wpath("c.vt5"), "Ver1.0");
    const ct::Bytes before = ct::readAll(path("c.vt5"));
    EXPECT_EQ(format.CreateOutputImageFile(CKzStringW(wpath("c.vt5").c_str()), w), KZ_ERR_FAILED);
    EXPECT_EQ(ct::readAll(path("c.vt5")), before);
}

TEST_F(VT5Open, NewFileGetsVersion3Writer)
{
    IKzOutputImageFile* w = vt::openWriter(wpath("n.vt5"), 3);
    ASSERT_NE(w, nullptr);
    EXPECT_NE(dynamic_cast<CKzVT5OutputFile_V03*>(w), nullptr);
    EXPECT_EQ(w->Release(), 0);
    std::string version;
    vt::checkContainer(path("n.vt5"), &version);
    EXPECT_EQ(version, "Ver3.0");

    IKzOutputImageFile* w2 = vt::openWriter(wpath("o.vt5"), 2);
    ASSERT_NE(w2, nullptr);
    EXPECT_EQ(dynamic_cast<CKzVT5OutputFile_V03*>(w2), nullptr);
    EXPECT_NE(dynamic_cast<CKzVT5OutputFile_V02*>(w2), nullptr);
    w2->Release();
    vt::checkContainer(path("o.vt5"), &version);
    EXPECT_EQ(version, "Ver2.0");
}

TEST_F(VT5Open, ThroughTheRegistry)
{
    IKzImageFormatManager* reg = registry();
    reg->LoadAllImageFormats(false);
    IKzOutputImageFile* w = vt::openWriter(wpath("r.vt5"), 3);
    ASSERT_NE(w, nullptr);
    w->Release();
    IKzInputImageFile* r = nullptr;
    EXPECT_EQ(CKzImageFormatAPI::CreateInputImageFile(reg, wpath("r.vt5").c_str(), r), KZ_OK);
    ASSERT_NE(r, nullptr);
    r->Release();
    EXPECT_EQ(CKzImageFormatAPI::CreateInputImageFile(reg, wpath("r.tif").c_str(), r), KZ_ERR_NO_FORMAT);
    EXPECT_EQ(r, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(CKzImageFormatAPI::CreateInputImageFile(nullptr, wpath("r.vt5").c_str(), r), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nFailure! File: gnr_system/ImageFormatManager, line: 248\n");
    EXPECT_EQ(r, nullptr);
}

}  // namespace
