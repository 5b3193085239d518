// Picture metadata, event log and experiment through the writers and readers:
// one stored record stands for every frame with that frame's times; events
// read back in both versions (version 3 falling back to the XML form of other
// writers); the version-3 experiment.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"

#include <filesystem>
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_system/CKzVariant.h"
#include "gnr_system/ImageFormatManager.h"
#include "vt5file/vt5io_test_support.h"

namespace {

using ct::Bytes;

class VT5Records : public ct::TempDirTest {};

const double kJdn = 2460000.25;  // a Julian day number with a fraction

SKzPictureMetadata metadataAt(double ms)
{
    SKzPictureMetadata md;
    md.dTimeAbsolute = kJdn;
    md.dTimeMSec = ms;
    md.dXPos = 12.5;
    md.dCalibration = 0.325;
    md.dAspect = 1.0;
    md.bCalibrated = true;
    md.wsObjectiveName = L"Plan Apo 20x";
    return md;
}

// The absolute time moved by whole milliseconds, computed on day fractions.
double shifted(double jdn, double ms) { return jdn + std::trunc(ms) / 86400000.0; }

TEST_F(VT5Records, OneRecordForEveryFrameWithItsTimes)
{
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        const std::string name = "m" + std::to_string(version) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        const SKzImageAttributes a = vt::attrs(4, 2, 1, 8, 2);
        w->SetImageAttributes(a);
        Bytes f(8, 1);
        // Frame 0 and 1 get times through their metadata; frame 2 has none.
        ASSERT_EQ(w->SetImageMetadata(0, metadataAt(100.0), nullptr), KZ_OK);
        ASSERT_EQ(w->FlushData(0, f.data(), nullptr, nullptr), KZ_OK);
        SKzPictureMetadata second = metadataAt(350.7);
        second.dXPos = 99.0;  // not stored: only the time is recorded
        ASSERT_EQ(w->SetImageMetadata(1, second, nullptr), KZ_OK);
        ASSERT_EQ(w->FlushData(1, f.data(), nullptr, nullptr), KZ_OK);
        ASSERT_EQ(w->FlushData(2, f.data(), nullptr, nullptr), KZ_OK);
        w->Release();

        auto chunks = vt::checkContainer(path(name));
        const char* meta = version == 3 ? "ImageMetadataSeqLV|" : "ImageMetadataSeq|";
        EXPECT_EQ(chunks.count(std::string(meta) + "0!"), 1u);
        EXPECT_EQ(chunks.count(std::string(meta) + "1!"), 0u);
        EXPECT_EQ(chunks.count("ImageCalibration|0!"), 1u);

        IKzInputImageFile* r = vt::openReader(wpath(name));
        struct Case { u32 seq; double ms, absolute; };
        const Case cases[] = {
            {0, 100.0, kJdn},
            {1, 350.7, shifted(kJdn, 250.7)},
            {2, -1.0, shifted(kJdn, -101.0)},  // stored without a time: -1.0 in the cache
            {9, 100.0, kJdn},                  // beyond the cache: the stored times
        };
        for (const Case& c : cases) {
            SKzPictureMetadata got;
            ASSERT_EQ(r->GetImageMetadata(c.seq, got, nullptr), KZ_OK) << c.seq;
            EXPECT_EQ(got.dTimeMSec, c.ms) << c.seq;
            EXPECT_NEAR(got.dTimeAbsolute, c.absolute, 1e-9) << c.seq;
            EXPECT_EQ(got.dXPos, 12.5);
            EXPECT_STREQ((const wchar_t*)got.wsObjectiveName, L"Plan Apo 20x");
            EXPECT_DOUBLE_EQ(got.dCalibration, 0.325);
        }
        r->Release();
    }
}

TEST_F(VT5Records, FirstStoredRecordServesAndOddTimesLeaveItAlone)
{
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        const std::string name = "o" + std::to_string(version) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        w->SetImageAttributes(vt::attrs(4, 2, 1, 8, 2));
        Bytes f(8, 1);
        for (u32 k = 0; k < 4; ++k)
            w->FlushData(k, f.data(), nullptr, nullptr);
        // The record is stored for frame 3 only; the caller's own cache holds
        // a time that is not a number for frame 1.
        SKzPictureMetadata md = metadataAt(40.0);
        md.dTimeAbsolute = -1.0;  // unknown
        ASSERT_EQ(w->SetImageMetadata(3, md, nullptr), KZ_OK);
        const double times[4] = {10.0, std::numeric_limits<double>::quiet_NaN(), 30.0, 40.0};
        ASSERT_EQ(w->SetCustomData(L"AcqTimesCache", times, sizeof(times)), KZ_OK);
        w->Release();
        IKzInputImageFile* r = vt::openReader(wpath(name));
        SKzPictureMetadata got;
        ASSERT_EQ(r->GetImageMetadata(0, got, nullptr), KZ_OK);
        EXPECT_EQ(got.dTimeMSec, 10.0);
        EXPECT_EQ(got.dTimeAbsolute, -1.0) << "an unknown absolute time stays unknown";
        ASSERT_EQ(r->GetImageMetadata(1, got, nullptr), KZ_OK);
        EXPECT_EQ(got.dTimeMSec, 40.0) << "a time that is not a number changes nothing";
        ASSERT_EQ(r->GetImageMetadata(2, got, nullptr), KZ_OK);
        EXPECT_EQ(got.dTimeMSec, 30.0);
        r->Release();
    }
    // No record at all: -13.
    IKzOutputImageFile* w = vt::openWriter(wpath("none.vt5"), 3);
    w->SetImageAttributes(vt::attrs(4, 2, 1, 8, 2));
    Bytes f(8, 1);
    w->FlushData(0, f.data(), nullptr, nullptr);
    w->Release();
    IKzInputImageFile* r = vt::openReader(wpath("none.vt5"));
    SKzPictureMetadata got;
    EXPECT_EQ(r->GetImageMetadata(0, got, nullptr), KZ_ERR_NOT_FOUND);
    r->Release();
}

TEST_F(VT5Records, DescriptionStoresTheRecordAgain)
{
    IKzOutputImageFile* w = vt::openWriter(wpath("d.vt5"), 3);
    w->SetImageAttributes(vt::attrs(4, 2, 1, 8, 2));
    CKzVariant description;
    ASSERT_EQ(w->SetImageMetadata(0, metadataAt(1.0), nullptr), KZ_OK);
    ASSERT_EQ(w->SetImageMetadata(2, metadataAt(3.0), &description), KZ_OK);
    w->Release();
    auto chunks = vt::checkContainer(path("d.vt5"));
    EXPECT_EQ(chunks.count("ImageMetadataSeqLV|0!"), 1u);
    EXPECT_EQ(chunks.count("ImageMetadataSeqLV|2!"), 1u);
    EXPECT_EQ(chunks.count("ImageCalibration|2!"), 1u);
}

void addEvents(SKzExperimentRecord& log)
{
    SKzExperimentEvent e;
    SKzExperimentEvent::Init(e, 12.5, SKzExperimentEvent::eMeaningAutofocus, L"focus \u00e9", nullptr, 0);
    SKzExperimentRecord::AddEvent(log, e, nullptr);
    SKzExperimentEvent::Free(e);
    SKzExperimentEvent::Init(e, 3.0, SKzExperimentEvent::eMeaningUnknown, nullptr, L"data", 0);
    SKzExperimentRecord::AddEvent(log, e, nullptr);
    SKzExperimentEvent::Free(e);
}

void expectEvents(SKzExperimentRecord& log)
{
    ASSERT_EQ(log.uiCount, 2u);
    EXPECT_EQ(log.pFirstEvent[0].dTime, 3.0);
    EXPECT_STREQ(log.pFirstEvent[0].wsData, L"data");
    EXPECT_EQ(log.pFirstEvent[1].dTime, 12.5);
    EXPECT_EQ(log.pFirstEvent[1].eMeaning, SKzExperimentEvent::eMeaningAutofocus);
    EXPECT_STREQ(log.pFirstEvent[1].wsDescription, L"focus \u00e9");
}

TEST_F(VT5Records, EventsInBothVersionsWithTheFallback)
{
    SKzExperimentRecord log;
    addEvents(log);
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        const std::string name = "e" + std::to_string(version) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        ASSERT_EQ(w->SetImageEvents(log, nullptr), KZ_OK);
        w->Release();
        auto chunks = vt::checkContainer(path(name));
        EXPECT_EQ(chunks.count("ImageEvents!"), 1u) << "the XML form for every reader";
        EXPECT_EQ(chunks.count("ImageEventsLV!"), version == 3 ? 1u : 0u);
        IKzInputImageFile* r = vt::openReader(wpath(name));
        SKzExperimentRecord got;
        ASSERT_EQ(r->GetImageEvents(got, nullptr), KZ_OK);
        expectEvents(got);
        r->Release();
    }
    // A version-3 file of another writer: XML events only.
    {
        CKzFileChunker c;
        CKzStringA v("Ver3.0");
        ASSERT_EQ(c.Initialize_File(wpath("other.vt5").c_str(), false, false, v), KZ_OK);
        auto chunks = vt::checkContainer(path("e2.vt5"));
        const Bytes& xml = chunks["ImageEvents!"];
        ASSERT_EQ(c.SetChunk(xml.data(), (unsigned)xml.size(), "ImageEvents!"), KZ_OK);
        ASSERT_EQ(c.Finalize(), KZ_OK);
    }
    IKzInputImageFile* r = vt::openReader(wpath("other.vt5"));
    SKzExperimentRecord got;
    ASSERT_EQ(r->GetImageEvents(got, nullptr), KZ_OK);
    expectEvents(got);
    r->Release();
    // Neither form: -13.
    vt::makeEmpty(wpath("empty.vt5"), "Ver3.0");
    r = vt::openReader(wpath("empty.vt5"));
    SKzExperimentRecord none;
    EXPECT_EQ(r->GetImageEvents(none, nullptr), KZ_ERR_NOT_FOUND);
    r->Release();
}

TEST_F(VT5Records, ExperimentInVersion3)
{
    SKzExperiment* root = nullptr;
    ASSERT_EQ(SKzExperiment::Alloc(&root), KZ_OK);
    ASSERT_EQ(SKzExperiment::Init(*root, SKzExperiment::eExpTimeLoop, false, 5, 0, 0, 0), KZ_OK);
    root->uLoopPars.sTimeLoop.dPeriod = 250.0;
    root->uLoopPars.sTimeLoop.dDuration = 1000.0;
    IKzOutputImageFile* w = vt::openWriter(wpath("x.vt5"), 3);
    ASSERT_EQ(w->SetImageMetadata(*root, nullptr), KZ_OK);
    w->Release();
    auto chunks = vt::checkContainer(path("x.vt5"));
    EXPECT_EQ(chunks.count("ImageMetadataLV!"), 1u);
    IKzInputImageFile* r = vt::openReader(wpath("x.vt5"));
    SKzExperiment got;
    ASSERT_EQ(r->GetImageMetadata(got, nullptr), KZ_OK);
    EXPECT_TRUE(SKzExperiment::IsEqual(got, *root, true, true));
    EXPECT_EQ(got.uLoopPars.sTimeLoop.uiCount, 5u);
    EXPECT_EQ(got.uLoopPars.sTimeLoop.dPeriod, 250.0);
    r->Release();
    SKzExperiment::FreeRecursive(root);
}

TEST_F(VT5Records, WriterReservesForTheFramesTheExperimentDescribes)
{
    // 60 time points of 1,000 x 1,000 bytes: 60 MB, above the 40,960,000-byte
    // minimum a writer reserves without an experiment.
    SKzExperiment* root = nullptr;
    ASSERT_EQ(SKzExperiment::Alloc(&root), KZ_OK);
    ASSERT_EQ(SKzExperiment::Init(*root, SKzExperiment::eExpTimeLoop, false, 60, 0, 0, 0), KZ_OK);
    ASSERT_EQ(CKzExperimentAPI::GetAllImagesCount(root), 60u);
    IKzOutputImageFile* w = vt::openWriter(wpath("reserve.vt5"), 3);
    w->SetImageAttributes(vt::attrs(1000, 1000, 1, 8, 0));
    ASSERT_EQ(w->SetImageMetadata(*root, nullptr), KZ_OK);
    EXPECT_GE(std::filesystem::file_size(path("reserve.vt5")), 60000000u);
    w->Release();
    // Closing trims the reservation away.
    EXPECT_LT(std::filesystem::file_size(path("reserve.vt5")), 1000000u);
    SKzExperiment::FreeRecursive(root);
}

TEST_F(VT5Records, LoadPictureWithItsMetadata)
{
    IKzOutputImageFile* w = vt::openWriter(wpath("l.vt5"), 3);
    const SKzImageAttributes a = vt::attrs(6, 2, 1, 8, 2);
    w->SetImageAttributes(a);
    w->SetImageMetadata(0, metadataAt(77.0), nullptr);
    const Bytes f = vt::frame(a, 2);
    w->FlushData(0, const_cast<u8*>(f.data()), nullptr, nullptr);
    w->Release();
    SKzPicBuf pic;
    CKzPicBufAPI::Init(&pic);
    SKzPictureMetadata md;
    ASSERT_EQ(KZ_LoadPictureFromFile(wpath("l.vt5").c_str(), &pic, nullptr, nullptr, &md, nullptr), KZ_OK);
    EXPECT_EQ(Bytes(pic.pData, pic.pData + pic.uiSize), f);
    EXPECT_EQ(md.dTimeMSec, 77.0);
    EXPECT_EQ(md.dXPos, 12.5);
    CKzPicBufAPI::Free(&pic);
}

}  // namespace
