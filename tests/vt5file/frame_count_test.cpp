// The frame count a reader reports: the stored count when the frame chunks
// confirm it, else the frames present (never a frame that is not there);
// and the frame times of a file whose writer never finished (stored count
// 0, no time cache), taken from the frame chunks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzLiteVariant.h"
#include "vt5file/KzVT5Names.h"
#include "vt5io_test_support.h"

namespace {

using ct::Bytes;

const u32 kW = 4, kH = 2;

struct Frame {
    u32 index;
    double time;
};

// A version-3 file of 4 x 2 8-bit raw frames whose attributes claim
// `stored` frames, holding the frames given, frame metadata (frame-0 time
// `metaTime`) and, when given, a time cache; the map is written.
void MakeFile(const std::wstring& path, u32 stored, const std::vector<Frame>& frames, double metaTime,
              const std::vector<double>& cache = {})
{
    CKzFileChunker c;
    CKzStringA v("Ver3.0");
    ASSERT_EQ(c.Initialize_File(path.c_str(), false, false, v), KZ_OK);
    {
        CKzLiteVariantW w;
        w.LevelBegin(L"SKzImageAttributes");
        w.Set(kW, L"uiWidth");
        w.Set(kW, L"uiWidthBytes");
        w.Set(kH, L"uiHeight");
        w.Set(1u, L"uiComp");
        w.Set(8, L"uiBpcInMemory");
        w.Set(8, L"uiBpcSignificant");
        w.Set(stored, L"uiSequenceCount");
        w.Set(2, L"eCompression");
        w.LevelEnd();
        CKzLiteVariantR r;
        ASSERT_TRUE(w.Finalize(r));
        ASSERT_EQ(c.SetChunk(r.GetData(), (unsigned)r.GetSize(), vt5names::kAttributesLV), KZ_OK);
    }
    {
        SKzPictureMetadata md;
        md.dTimeMSec = metaTime;
        CKzLiteVariantW w;
        ASSERT_EQ(SKzPictureMetadata::SaveToLiteVariant(w, md), KZ_OK);
        CKzLiteVariantR r;
        ASSERT_TRUE(w.Finalize(r));
        ASSERT_EQ(c.SetChunk(r.GetData(), (unsigned)r.GetSize(), vt5names::Indexed(vt5names::kFrameMetaLV, 0).c_str()),
                  KZ_OK);
    }
    for (const Frame& f : frames) {
        const Bytes pixels(kW * kH, (unsigned char)(f.index + 1));
        ASSERT_EQ(c.SetChunk(&f.time, 8, pixels.data(), (unsigned)pixels.size(),
                             vt5names::Indexed(vt5names::kFrame, f.index).c_str()),
                  KZ_OK);
    }
    if (!cache.empty())
        ASSERT_EQ(c.SetChunk(cache.data(), (unsigned)(cache.size() * 8), vt5names::kAcqTimesCache), KZ_OK);
    ASSERT_EQ(c.Finalize(), KZ_OK);
}

class FrameCount : public ct::TempDirTest {};

TEST_F(FrameCount, FramesPresentDecideWhenTheStoredCountDisagrees)
{
    struct Case {
        const char* name;
        u32 stored;
        std::vector<u32> frames;
        u32 reported;
    };
    const Case cases[] = {
        {"count confirmed", 3, {0, 1, 2}, 3},
        {"a gap inside is kept", 3, {0, 2}, 3},
        {"count above the frames (a derived file cut short)", 40, {0, 1, 2}, 3},
        {"count 0 of an unfinished writer", 0, {0, 1, 2, 3, 4}, 5},
        {"frames right after the count", 2, {0, 1, 2, 3, 4}, 5},
        // A count whose last frame is there and the next one not is taken as
        // it is: the whole map is not searched at every open.
        {"a frame beyond the count after a gap", 2, {0, 1, 4}, 2},
        {"last frame missing", 3, {0, 1}, 2},
        {"no frame at all", 3, {}, 0},
        {"count 0 and no frame", 0, {}, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = wpath("c" + std::to_string(n++) + ".vt5");
        std::vector<Frame> frames;
        for (u32 i : c.frames)
            frames.push_back({i, 0.0});
        MakeFile(path, c.stored, frames, 0.0);
        IKzInputImageFile* r = vt::openReader(path);
        ASSERT_NE(r, nullptr);
        SKzImageAttributes a = vt::attrs(0, 0, 0, 0, 0);
        EXPECT_EQ(r->GetImageAttributes(a), KZ_OK);
        EXPECT_EQ(a.uiSequenceCount, c.reported);
        // The last frame reported is there to be read.
        if (c.reported != 0) {
            Bytes pixels(kW * kH);
            EXPECT_EQ(r->GetData(c.reported - 1, pixels.data(), nullptr, nullptr), KZ_OK);
            EXPECT_EQ(pixels, Bytes(kW * kH, (unsigned char)c.reported));
        }
        r->Release();
    }
}

TEST_F(FrameCount, UnfinishedFileTakesItsTimesFromTheFrames)
{
    // The writer stores each frame with the time it knew, 0.0 when it knew
    // none; a finished file's cache holds -1 for those.
    const double t0 = 1500.0;
    struct Case {
        const char* name;
        u32 stored;
        std::vector<Frame> frames;
        double metaTime;
        std::vector<double> cache;
        std::vector<double> want;  // dTimeMSec of frames 0..
    };
    const Case cases[] = {
        {"unfinished, every time known", 0, {{0, t0}, {1, 2500.0}, {2, 3500.0}}, t0, {}, {t0, 2500.0, 3500.0}},
        {"unfinished, frame 0 known only", 0, {{0, t0}, {1, 0.0}, {2, 0.0}}, t0, {}, {t0, -1.0, -1.0}},
        {"unfinished, frame 0 at 0.0", 0, {{0, 0.0}, {1, 0.0}}, 0.0, {}, {0.0, -1.0}},
        {"unfinished, a frame missing", 0, {{0, t0}, {2, 3500.0}}, t0, {}, {t0, -1.0, 3500.0}},
        {"unfinished, nothing known keeps the metadata's", 0, {{1, 0.0}, {2, 0.0}}, 700.0, {}, {700.0, 700.0, 700.0}},
        {"finished file: its cache", 3, {{0, t0}, {1, 2500.0}, {2, 3500.0}}, t0, {7.0, 8.0, 9.0}, {7.0, 8.0, 9.0}},
        {"finished file without cache: the metadata's", 3, {{0, t0}, {1, 2500.0}, {2, 3500.0}}, t0, {}, {t0, t0, t0}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = wpath("t" + std::to_string(n++) + ".vt5");
        MakeFile(path, c.stored, c.frames, c.metaTime, c.cache);
        IKzInputImageFile* r = vt::openReader(path);
        ASSERT_NE(r, nullptr);
        SKzImageAttributes a = vt::attrs(0, 0, 0, 0, 0);
        EXPECT_EQ(r->GetImageAttributes(a), KZ_OK);
        ASSERT_EQ(a.uiSequenceCount, c.want.size());
        for (u32 f = 0; f < c.want.size(); ++f) {
            SKzPictureMetadata md;
            ASSERT_EQ(r->GetImageMetadata(f, md, nullptr), KZ_OK);
            EXPECT_EQ(md.dTimeMSec, c.want[f]) << f;
        }
        r->Release();
    }
}

}  // namespace
