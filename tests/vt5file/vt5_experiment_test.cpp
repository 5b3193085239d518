// The experiment through the writers and readers of both versions: the
// stored chunk, the reservation for the frames it describes, and the cached
// experiment of a reader over a version-2 file being written.
#include <gtest/gtest.h>

#include <filesystem>

#include "../gnr_metaformats/experiment_nav_support.h"
#include "../gnr_metaformats/experiment_variant_support.h"
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "vt5file/CKzImageFormatVT5.h"
#include "vt5file/CKzVT5InputFile.h"
#include "vt5file/CKzVT5OutputFile.h"
#include "vt5file/vt5io_test_support.h"

namespace {

using ct::Bytes;
using varianttest::Tree;

class VT5Experiment : public ct::TempDirTest {};

Tree timeLoop(u32 points)
{
    return Tree(varianttest::level(SKzExperiment::eExpTimeLoop, points));
}

// Writes the experiment (and nothing else) into a new file of a version.
void writeExperiment(const std::wstring& path, int version, const SKzExperiment& e)
{
    IKzOutputImageFile* w = vt::openWriter(path, version);
    ASSERT_NE(w, nullptr);
    w->SetImageAttributes(vt::attrs(4, 2, 1, 8, 2));
    EXPECT_EQ(w->SetImageMetadata(e, nullptr), KZ_OK);
    w->Release();
}

Tree readExperiment(const std::wstring& path, int expect = KZ_OK)
{
    IKzInputImageFile* r = vt::openReader(path);
    Tree t(new SKzExperiment());
    if (r) {
        EXPECT_EQ(r->GetImageMetadata(*t, nullptr), expect);
        r->Release();
    }
    return t;
}

TEST_F(VT5Experiment, RoundTripInBothVersions)
{
    // Version 2 keeps the XML text of the variant form, byte for byte.
    Tree full = varianttest::fullTree();
    writeExperiment(wpath("full2.vt5"), 2, *full);
    auto chunks = vt::checkContainer(path("full2.vt5"));
    ASSERT_EQ(chunks.count("ImageMetadata!"), 1u);
    EXPECT_EQ(chunks.count("ImageMetadataLV!"), 0u);
    const std::string doc = varianttest::VariantXML(*full);
    EXPECT_EQ(std::string(chunks["ImageMetadata!"].begin(), chunks["ImageMetadata!"].end()), doc);
    Tree back = readExperiment(wpath("full2.vt5"));
    EXPECT_TRUE(SKzExperiment::IsEqual(*full, *back, true, true));
    EXPECT_EQ(varianttest::VariantXML(*back), doc);

    // Random trees in both versions.
    navtest::RandomTrees gen(5);
    for (int i = 0; i < 20; ++i) {
        Tree t(gen.Tree());
        for (int version : {2, 3}) {
            SCOPED_TRACE(std::to_string(i) + " version " + std::to_string(version));
            const std::string name = "r" + std::to_string(i) + "_" + std::to_string(version) + ".vt5";
            writeExperiment(wpath(name), version, *t);
            Tree got = readExperiment(wpath(name));
            EXPECT_TRUE(SKzExperiment::IsEqual(*t, *got, true, true));
        }
    }
}

TEST_F(VT5Experiment, HostileChunkGivesAnErrorOrASoundTree)
{
    // A version-2 experiment chunk that is no level, and one that is cut short.
    Tree t = timeLoop(5);
    const std::string doc = varianttest::VariantXML(*t);
    struct Case {
        const char* what;
        std::string text;
        int expect;
    };
    const Case cases[] = {
        {"plain list", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\"><no_name "
                       "runtype=\"CKzListVariant\"></no_name></variant>",
         KZ_ERR_INVALID_ARG},
        {"cut short", doc.substr(0, doc.size() / 2), KZ_ERR_FAILED},
        {"whole", doc, KZ_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = std::string(c.what).substr(0, 3) + ".vt5";
        CKzFileChunker ch;
        CKzStringA v("Ver2.0");
        ASSERT_EQ(ch.Initialize_File(wpath(name).c_str(), false, false, v), KZ_OK);
        ASSERT_EQ(ch.SetChunk(c.text.data(), (unsigned)c.text.size(), "ImageMetadata!"), KZ_OK);
        ASSERT_EQ(ch.Finalize(), KZ_OK);
        Tree got = readExperiment(wpath(name), c.expect);
        if (c.expect == KZ_OK)
            EXPECT_TRUE(SKzExperiment::IsEqual(*t, *got, true, true));
    }
}

TEST_F(VT5Experiment, Version2WriterReservesForTheExperimentFrames)
{
    // 60 time points of 1,000 x 1,000 bytes: 60 MB, above the 40,960,000-byte
    // minimum; closing trims the reservation away. (New files get version 3
    // from the format, so the version-2 writer is made directly.)
    Tree t = timeLoop(60);
    ASSERT_EQ(CKzExperimentAPI::GetAllImagesCount(t.get()), 60u);
    CKzImageFormatVT5 format;
    CKzFileChunker c;
    CKzStringA version("Ver2.0");
    ASSERT_EQ(c.Initialize_File(wpath("reserve2.vt5").c_str(), false, false, version), KZ_OK);
    IKzOutputImageFile* w = new CKzVT5OutputFile_V02(&format, CKzStringW(wpath("reserve2.vt5").c_str()), false, c);
    w->AddRef();
    w->SetImageAttributes(vt::attrs(1000, 1000, 1, 8, 0));
    ASSERT_EQ(w->SetImageMetadata(*t, nullptr), KZ_OK);
    EXPECT_GE(std::filesystem::file_size(path("reserve2.vt5")), 60000000u);
    w->Release();
    EXPECT_LT(std::filesystem::file_size(path("reserve2.vt5")), 1000000u);
    EXPECT_EQ(vt::checkContainer(path("reserve2.vt5")).count("ImageMetadata!"), 1u);
}

// A reader over the file being written that has taken up the experiment the
// writer stored (as one made before the file had a chunk map does).
struct LiveReader : CKzVT5InputFile_V02 {
    explicit LiveReader(CKzVT5OutputFile_V02& w) : CKzVT5InputFile_V02(w, nullptr) {}
    void TakeExperiment(u32 frames)
    {
        m_uiFrameCount = frames;
        loadWriterExperiment();
    }
};

TEST_F(VT5Experiment, ReaderOverAVersion2FileBeingWrittenRepairsItsExperiment)
{
    Tree t = timeLoop(10);
    const SKzImageAttributes a = vt::attrs(4, 2, 1, 8, 2);
    IKzOutputImageFile* w = vt::openWriter(wpath("live.vt5"), 2);
    w->SetImageAttributes(a);
    ASSERT_EQ(w->SetImageMetadata(*t, nullptr), KZ_OK);
    const Bytes f = vt::frame(a, 1);
    u32 written = 0;
    auto writeUpTo = [&](u32 n) {
        for (; written < n; ++written)
            ASSERT_EQ(w->FlushData(written, const_cast<u8*>(f.data()), nullptr, nullptr), KZ_OK);
    };
    writeUpTo(3);
    LiveReader* r = new LiveReader(*static_cast<CKzVT5OutputFile_V02*>(w));
    r->AddRef();
    r->TakeExperiment(3);
    SKzExperiment got;
    ASSERT_EQ(r->GetImageMetadata(got, nullptr), KZ_OK);
    EXPECT_EQ(got.uLoopPars.sTimeLoop.uiCount, 3u);
    SKzImageAttributes seen = vt::attrs(0, 0, 0, 0, 0);
    r->GetImageAttributes(seen);
    EXPECT_EQ(seen.uiSequenceCount, 3u);
    // Each update repairs the experiment as stored: more frames raise the
    // count again, past the 10 time points described (a time loop without
    // children counts the frames written).
    for (u32 n : {7u, 12u}) {
        writeUpTo(n);
        IKzInputImageFile* same = r;
        ASSERT_EQ(w->CreateInputImageFile(0xFFFFFFFFu, same, nullptr), KZ_OK);
        SKzExperiment again;
        ASSERT_EQ(r->GetImageMetadata(again, nullptr), KZ_OK);
        EXPECT_EQ(again.uLoopPars.sTimeLoop.uiCount, n) << n;
        r->GetImageAttributes(seen);
        EXPECT_EQ(seen.uiSequenceCount, n) << n;
    }
    r->Release();
    w->Release();
    // A version-3 file keeps no experiment chunk of version 2: nothing is cached.
    IKzOutputImageFile* w3 = vt::openWriter(wpath("live3.vt5"), 3);
    w3->SetImageAttributes(a);
    ASSERT_EQ(w3->SetImageMetadata(*t, nullptr), KZ_OK);
    ASSERT_EQ(w3->FlushData(0, const_cast<u8*>(f.data()), nullptr, nullptr), KZ_OK);
    LiveReader* r3 = new LiveReader(*static_cast<CKzVT5OutputFile_V02*>(w3));
    r3->AddRef();
    r3->TakeExperiment(1);
    SKzExperiment got3;
    EXPECT_EQ(r3->CKzVT5InputFile_V02::GetImageMetadata(got3, nullptr), KZ_ERR_NOT_FOUND);
    r3->Release();
    w3->Release();
}

}  // namespace
