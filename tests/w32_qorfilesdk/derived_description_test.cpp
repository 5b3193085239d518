// A derived file takes the caller's metadata description whole, whatever
// plane count the source had, or is not made at all; and the frame times a
// handle reports: unknown ones stay unknown, only a cache whose known times
// go backwards is replaced by evenly spaced times.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzByteArray.h"
#include "vt5file/chunker_test_support.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"

namespace {

using Bytes = std::vector<unsigned char>;

void SetText(wchar_t* field, size_t capacity, const wchar_t* text)
{
    std::wmemset(field, 0, capacity);
    std::wcsncpy(field, text, capacity - 1);
}

// Writes `frames` frames of w x h pixels of `comp` 8-bit components;
// `prepare` may set up the handle first.
template <class Prepare>
void MakeFile(const std::wstring& path, u32 comp, u32 frames, Prepare prepare)
{
    const int w = Qor_FileOpenForWrite(path.c_str());
    ASSERT_NE(w, 0);
    prepare(w);
    for (u32 f = 0; f < frames; ++f) {
        QORPICTURE p{};
        Qor_InitPicture(&p, 4, 3, 8, comp);
        std::memset(p.pData, (int)(10 + f), p.uiSize);
        ASSERT_EQ(Qor_FileAppendImageData(w, &p, nullptr), 0);
        CKzAlloc::Free(p.pData);
    }
    ASSERT_EQ(Qor_FileClose(w), 0);
}

// A description of planes with the given component counts.
std::unique_ptr<QORMETADATA_DESC> Description(const std::vector<u32>& planes, u32 compCount)
{
    auto d = std::make_unique<QORMETADATA_DESC>();
    std::memset(d.get(), 0, sizeof(QORMETADATA_DESC));
    d->dCalibration = 0.32;
    d->dAspect = 1.0;
    SetText(d->wsObjectiveName, QOR_TEXT_LENGTH, L"Apo 60x");
    d->dObjectiveMag = 60.0;
    d->dObjectiveNA = 1.4;
    d->uiPlaneCount = (u32)planes.size();
    d->uiCompCount = compCount;
    for (size_t i = 0; i < planes.size(); ++i) {
        d->sPlanes[i].uiCompCount = planes[i];
        d->sPlanes[i].uiColor = 0xFFu << (8 * (i % 3));
        SetText(d->sPlanes[i].wsName, QOR_TEXT_LENGTH, (L"Stain " + std::to_wstring(i)).c_str());
        d->sPlanes[i].dEmissionWavelength = 450.0 + 100.0 * i;
    }
    return d;
}

class DerivedDescription : public ct::TempDirTest {};

TEST_F(DerivedDescription, IsTakenWholeOrNothingIsMade)
{
    // Sources: three components without metadata (they open with one
    // default colour plane), and two components with two named planes.
    MakeFile(wpath("rgb.vt5"), 3, 2, [](int) {});
    MakeFile(wpath("two.vt5"), 2, 2, [](int w) {
        auto d = Description({1, 1}, 2);
        ASSERT_EQ(FileSetMetadataDesc(w, d.get()), 0);
    });
    struct Case {
        const char* name;
        const char* source;
        std::vector<u32> planes;
        u32 compCount;
        bool made;
    };
    const Case cases[] = {
        {"three channels over one default plane", "rgb.vt5", {1, 1, 1}, 3, true},
        {"record component count left 0", "rgb.vt5", {1, 1, 1}, 0, true},
        {"one colour plane over the default one", "rgb.vt5", {3}, 3, true},
        {"one plane of two over two named planes", "two.vt5", {2}, 2, true},
        {"planes short of the components", "rgb.vt5", {1, 1}, 3, false},
        {"planes beyond the components", "rgb.vt5", {1, 1, 1, 1}, 4, false},
        {"no plane", "rgb.vt5", {}, 3, false},
        {"a plane of no component", "rgb.vt5", {1, 1, 0, 1}, 3, false},
        {"record component count not the file's", "two.vt5", {1, 1}, 5, false},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int src = Qor_FileOpenForRead(wpath(c.source).c_str());
        ASSERT_NE(src, 0);
        QORATTRIBUTES a{};
        ASSERT_EQ(Qor_FileGetAttributes(src, &a), 0);
        auto d = Description(c.planes, c.compCount);
        // A new path, and an existing file that must stay as it was.
        for (bool existing : {false, true}) {
            const std::string name = "out" + std::to_string(index++) + ".vt5";
            Bytes before;
            if (existing) {
                std::filesystem::copy_file(path(c.source), path(name));
                before = ct::readAll(path(name));
            }
            const auto entries = std::distance(std::filesystem::directory_iterator(m_dir),
                                               std::filesystem::directory_iterator());
            const int w = Qor_FileCreateModifiedFile(wpath(name).c_str(), src, nullptr, d.get(), nullptr, nullptr);
            if (!c.made) {
                EXPECT_EQ(w, 0);
                EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir),
                                        std::filesystem::directory_iterator()),
                          entries)
                    << "nothing is left beside the path";
                if (existing)
                    EXPECT_EQ(ct::readAll(path(name)), before);
                else
                    EXPECT_FALSE(std::filesystem::exists(path(name)));
                continue;
            }
            ASSERT_NE(w, 0);
            QORPICTURE p{};
            Qor_InitPicture(&p, a.uiWidth, a.uiHeight, 8, a.uiComp);
            ASSERT_EQ(Qor_FileAppendImageData(w, &p, nullptr), 0);
            CKzAlloc::Free(p.pData);
            ASSERT_EQ(Qor_FileClose(w), 0);

            const int r = Qor_FileOpenForRead(wpath(name).c_str());
            ASSERT_NE(r, 0);
            auto got = std::make_unique<QORMETADATA_DESC>();
            std::memset(got.get(), 0, sizeof(QORMETADATA_DESC));
            ASSERT_EQ(Qor_FileGetMetadata(r, got.get()), 0);
            EXPECT_EQ(got->uiPlaneCount, c.planes.size());
            for (size_t i = 0; i < c.planes.size() && i < got->uiPlaneCount; ++i) {
                EXPECT_EQ(got->sPlanes[i].uiCompCount, c.planes[i]) << i;
                EXPECT_EQ(std::wstring(got->sPlanes[i].wsName), L"Stain " + std::to_wstring(i)) << i;
                EXPECT_EQ(got->sPlanes[i].uiColor, d->sPlanes[i].uiColor) << i;
            }
            EXPECT_DOUBLE_EQ(got->dCalibration, 0.32);
            EXPECT_EQ(std::wstring(got->wsObjectiveName), L"Apo 60x");
            EXPECT_DOUBLE_EQ(got->dObjectiveMag, 60.0);
            EXPECT_DOUBLE_EQ(got->dObjectiveNA, 1.4);
            EXPECT_EQ(Qor_FileClose(r), 0);
        }
        Qor_FileClose(src);
    }
}

TEST_F(DerivedDescription, SetMetadataDescStillRefusesAnotherPlaneCount)
{
    // The call on a write handle keeps its contract: the description must
    // fit the handle's planes.
    MakeFile(wpath("two.vt5"), 2, 1, [](int w) {
        auto d = Description({1, 1}, 2);
        ASSERT_EQ(FileSetMetadataDesc(w, d.get()), 0);
    });
    const int src = Qor_FileOpenForRead(wpath("two.vt5").c_str());
    ASSERT_NE(src, 0);
    const int w = Qor_FileCreateModifiedFile(wpath("out.vt5").c_str(), src, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, 0);
    EXPECT_EQ(FileSetMetadataDesc(w, Description({2}, 2).get()), KZ_ERR_FAILED);
    EXPECT_EQ(SKzQorFileHandle::GetHandle(w)->m_pMetadata->sPicturePlanes.uiCount, 2u);
    Qor_FileClose(w);  // no frame: the file is incomplete
    Qor_FileClose(src);
}

// ---------------------------------------------------------------------------
// Frame times

std::vector<double> Checked(const std::vector<double>& times)
{
    CKzByteArray bytes(1024);
    if (!times.empty())
        bytes.SetData(times.data(), times.size() * 8, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    SKzQorFileHandle::CheckAcqTimes(bytes);
    std::vector<double> out(bytes.GetSize() / 8);
    if (!out.empty())
        std::memcpy(out.data(), bytes.GetData(), out.size() * 8);
    return out;
}

TEST(FrameTimes, UnknownTimesStayUnknown)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> even = {0.0, 100.0, 200.0, 300.0, 400.0};
    struct Case {
        const char* name;
        std::vector<double> times;
        bool replaced;
    };
    const Case cases[] = {
        {"known after frame 0 only", {0.0, -1.0, -1.0, -1.0, -1.0}, false},
        {"a minute apart with gaps", {0.0, 60000.0, -1.0, 180000.0, -1.0}, false},
        {"none known", {-1.0, -1.0, -1.0, -1.0, -1.0}, false},
        {"unknown first", {-1.0, 5.0, 5.0, -1.0, 9.0}, false},
        {"not a number among them", {10.0, nan, 30.0, 40.0, 50.0}, false},
        {"known times going backwards", {500.0, 400.0, -1.0, 600.0, 700.0}, true},
        {"backwards across unknown ones", {0.0, -1.0, 50.0, -1.0, 20.0}, true},
        {"a negative known time below the one before", {0.0, -2.0, -1.0, -1.0, -1.0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<double> got = Checked(c.times);
        ASSERT_EQ(got.size(), c.times.size());
        if (c.replaced) {
            EXPECT_EQ(got, even);
            continue;
        }
        for (size_t i = 0; i < got.size(); ++i) {
            if (std::isnan(c.times[i]))
                EXPECT_TRUE(std::isnan(got[i])) << i;
            else
                EXPECT_EQ(got[i], c.times[i]) << i;
        }
    }
    EXPECT_EQ(Checked({}).size(), 0u);
}

class FrameTimesFile : public ct::TempDirTest {};

TEST_F(FrameTimesFile, DerivedTimeLapseReportsFrameZeroAndUnknown)
{
    // A file derived from a template that knows frame 0's time: the frames
    // after it have no time, and are reported as unknown (-1), not as
    // invented steps of 100 ms.
    MakeFile(wpath("template.vt5"), 1, 1, [](int w) {
        auto d = Description({1}, 1);
        ASSERT_EQ(FileSetMetadataDesc(w, d.get()), 0);
        SKzQorFileHandle::GetHandle(w)->m_pMetadata->dTimeMSec = 2500.0;
    });
    const int src = Qor_FileOpenForRead(wpath("template.vt5").c_str());
    ASSERT_NE(src, 0);
    const int w = Qor_FileCreateModifiedFile(wpath("lapse.vt5").c_str(), src, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, 0);
    for (u32 f = 0; f < 4; ++f) {
        QORPICTURE p{};
        Qor_InitPicture(&p, 4, 3, 8, 1);
        ASSERT_EQ(Qor_FileAppendImageData(w, &p, nullptr), 0);
        CKzAlloc::Free(p.pData);
    }
    ASSERT_EQ(Qor_FileClose(w), 0);
    Qor_FileClose(src);

    const int r = Qor_FileOpenForRead(wpath("lapse.vt5").c_str());
    ASSERT_NE(r, 0);
    const double want[4] = {2500.0, -1.0, -1.0, -1.0};
    for (u32 f = 0; f < 4; ++f) {
        QORPICTURE p{};
        Qor_InitPicture(&p, 4, 3, 8, 1);
        double info[4] = {};
        EXPECT_EQ(Qor_FileGetImageData(r, f, &p, info), 0);
        EXPECT_EQ(info[0], want[f]) << f;
        CKzAlloc::Free(p.pData);
    }
    EXPECT_EQ(Qor_FileClose(r), 0);
}

}  // namespace
