// Finishing a file: a Finalize that fails leaves the writer unfinished, so a
// later call (or the destructor) completes the file; and the attributes a
// writer stores with its first frame, whatever count it was given.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "file_size_limit.h"
#include "vt5file/KzVT5Names.h"
#include "vt5io_test_support.h"

namespace {

using ct::Bytes;

class WriterFinalize : public ct::TempDirTest {};

TEST_F(WriterFinalize, FailureLeavesTheWriterUnfinishedUntilACallSucceeds)
{
    struct Case {
        const char* name;
        int version;
        bool explicitRetry;  // else the last Release retries
    };
    const Case cases[] = {
        {"version 2, Finalize again", 2, true},
        {"version 3, Finalize again", 3, true},
        {"version 2, destructor", 2, false},
        {"version 3, destructor", 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = std::string("f") + std::to_string(c.version) + (c.explicitRetry ? "a" : "b") + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), c.version);
        ASSERT_NE(w, nullptr);
        const SKzImageAttributes a = vt::attrs(4, 2, 1, 8, 2);
        ASSERT_EQ(w->SetImageAttributes(a), KZ_OK);
        for (u32 k = 0; k < 3; ++k) {
            const Bytes f = vt::frame(a, k);
            ASSERT_EQ(w->FlushData(k, const_cast<unsigned char*>(f.data()), nullptr, nullptr), KZ_OK);
        }
        {
            // Nothing more fits: the final attributes cannot be stored.
            FileSizeLimit limit(std::filesystem::file_size(path(name)));
            EXPECT_NE(w->Finalize(), KZ_OK);
        }
        int opened = 0;
        IKzInputImageFile* early = vt::openReader(wpath(name), &opened);
        EXPECT_NE(opened, KZ_OK) << "no map yet";
        if (early)
            early->Release();
        if (c.explicitRetry) {
            EXPECT_EQ(w->Finalize(), KZ_OK);
            EXPECT_EQ(w->Finalize(), KZ_OK) << "once finished, nothing more is done";
        }
        w->Release();

        IKzInputImageFile* r = vt::openReader(wpath(name));
        ASSERT_NE(r, nullptr);
        SKzImageAttributes got = vt::attrs(0, 0, 0, 0, 0);
        EXPECT_EQ(r->GetImageAttributes(got), KZ_OK);
        EXPECT_EQ(got.uiSequenceCount, 3u);
        for (u32 k = 0; k < 3; ++k) {
            Bytes back(8);
            EXPECT_EQ(r->GetData(k, back.data(), nullptr, nullptr), KZ_OK);
            EXPECT_EQ(back, vt::frame(a, k)) << k;
        }
        r->Release();
        // The attributes of the file's own version only.
        const auto chunks = vt::checkContainer(path(name));
        EXPECT_EQ(chunks.count(vt5names::kAttributes), c.version == 2 ? 1u : 0u);
        EXPECT_EQ(chunks.count(vt5names::kAttributesLV), c.version == 3 ? 1u : 0u);
    }
}

TEST_F(WriterFinalize, FirstFrameStoresTheGeometryWhateverTheCount)
{
    // A count given before the first frame (a file derived from another)
    // no longer keeps the geometry out of the file until the close: the
    // first frame stores it, with the count 0 of an unfinished file.
    for (int version : {2, 3}) {
        for (u32 given : {0u, 1u, 50u}) {
            SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(given));
            const std::string name = "g" + std::to_string(version) + "_" + std::to_string(given) + ".vt5";
            IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
            ASSERT_NE(w, nullptr);
            SKzImageAttributes a = vt::attrs(4, 2, 1, 8, 2);
            a.uiSequenceCount = given;
            ASSERT_EQ(w->SetImageAttributes(a), KZ_OK);
            const Bytes f = vt::frame(a, 7);
            ASSERT_EQ(w->FlushData(0, const_cast<unsigned char*>(f.data()), nullptr, nullptr), KZ_OK);
            IKzInputImageFile* during = nullptr;
            ASSERT_EQ(w->CreateInputImageFile(0, during, nullptr), KZ_OK);
            SKzImageAttributes got = vt::attrs(0, 0, 0, 0, 0);
            EXPECT_EQ(during->GetImageAttributes(got), KZ_OK);
            EXPECT_EQ(got.uiWidth, 4u);
            EXPECT_EQ(got.uiHeight, 2u);
            EXPECT_EQ(got.uiSequenceCount, 1u) << "the frame present, not the count given";
            during->Release();
            w->Release();
            // Closed, the count is the larger of the given one and the frames
            // stored, and a reader reports no frame that is not there.
            IKzInputImageFile* r = vt::openReader(wpath(name));
            ASSERT_NE(r, nullptr);
            EXPECT_EQ(r->GetImageAttributes(got), KZ_OK);
            EXPECT_EQ(got.uiSequenceCount, 1u);
            r->Release();
        }
    }
}

}  // namespace
