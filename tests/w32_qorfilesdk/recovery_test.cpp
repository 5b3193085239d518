// A writer process that dies (SIGKILL after it has appended k frames) leaves
// a file without its chunk map. After the map is rebuilt, the file opens and
// reports every frame the writer completed, with the same pixels, times and
// description as the file would have had after a clean close.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "vt5file/CKzFileChunker.h"
#include "vt5file/chunker_test_support.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"

namespace {

using Bytes = std::vector<unsigned char>;

const u32 kWidth = 6, kHeight = 4, kBits = 16, kComp = 2;

struct Picture {
    QORPICTURE p{};
    Picture() { Qor_InitPicture(&p, kWidth, kHeight, kBits, kComp); }
    ~Picture() { CKzAlloc::Free(p.pData); }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
    size_t row() const { return (size_t)kWidth * kComp * 2; }
    void fill(unsigned seed)
    {
        const Bytes b = ct::pattern(row() * kHeight, seed);
        for (u32 y = 0; y < kHeight; ++y)
            std::memcpy(static_cast<unsigned char*>(p.pData) + (size_t)y * p.uiWidthBytes, b.data() + y * row(),
                        row());
    }
    Bytes rows() const
    {
        Bytes out;
        for (u32 y = 0; y < kHeight; ++y) {
            const unsigned char* r = static_cast<const unsigned char*>(p.pData) + (size_t)y * p.uiWidthBytes;
            out.insert(out.end(), r, r + row());
        }
        return out;
    }
};

void SetText(wchar_t* field, size_t capacity, const wchar_t* text)
{
    std::wmemset(field, 0, capacity);
    std::wcsncpy(field, text, capacity - 1);
}

std::unique_ptr<QORMETADATA_DESC> Description(double calibration, const wchar_t* objective)
{
    auto d = std::make_unique<QORMETADATA_DESC>();
    std::memset(d.get(), 0, sizeof(QORMETADATA_DESC));
    d->dCalibration = calibration;
    d->dAspect = 1.0;
    SetText(d->wsObjectiveName, QOR_TEXT_LENGTH, objective);
    d->dObjectiveMag = 40.0;
    d->uiPlaneCount = kComp;
    d->uiCompCount = kComp;
    for (u32 i = 0; i < kComp; ++i) {
        d->sPlanes[i].uiCompCount = 1;
        d->sPlanes[i].uiColor = 0x00FF00u >> (8 * i);
        SetText(d->sPlanes[i].wsName, QOR_TEXT_LENGTH, (L"Dye " + std::to_wstring(i)).c_str());
        d->sPlanes[i].dEmissionWavelength = 520.0 + 80.0 * i;
    }
    return d;
}

// Frame-0 time of the files written here; a time-lapse of one frame a minute.
const double kStart = 1500.0, kPeriod = 60000.0;

// The three ways a host writes a file. Each appends `frames` frames of
// pattern seed + n and calls `after(n + 1)` after each; 0 when the handle
// could not be made.
enum class Route { OpenForWrite, Derived, ReplaceExisting };

// A source of 40 frames with metadata (frame-0 time kStart), a time loop of
// one frame a minute and a text.
void MakeSource(const std::wstring& path)
{
    const int w = Qor_FileOpenForWrite(path.c_str());
    ASSERT_NE(w, 0);
    ASSERT_EQ(FileSetMetadataDesc(w, Description(0.25, L"Source objective").get()), 0);
    SKzQorFileHandle* rec = SKzQorFileHandle::GetHandle(w);
    rec->m_pMetadata->dTimeMSec = kStart;
    ASSERT_EQ(SKzExperiment::Alloc(&rec->m_pExperiment), KZ_OK);
    ASSERT_EQ(SKzExperiment::Init(*rec->m_pExperiment, SKzExperiment::eExpTimeLoop, false, 40, 0, 0, 0), KZ_OK);
    rec->m_pExperiment->uLoopPars.sTimeLoop.dPeriod = kPeriod;
    rec->m_TextInfo.wsText[0] = L"Source text";
    for (u32 n = 0; n < 40; ++n) {
        Picture p;
        p.fill(900 + n);
        ASSERT_EQ(Qor_FileAppendImageData(w, &p.p, nullptr), 0);
    }
    ASSERT_EQ(Qor_FileClose(w), 0);
}

// Writes by `route` to `path`; `source` is the source file of the derived
// routes. Runs in the child too: no test assertions, a result instead.
bool WriteFrames(Route route, const std::wstring& path, const std::wstring& source, u32 frames,
                 const std::function<void(u32)>& after)
{
    int w = 0;
    if (route == Route::OpenForWrite) {
        w = Qor_FileOpenForWrite(path.c_str());
        if (!w || FileSetMetadataDesc(w, Description(0.5, L"Plan 40x").get()) != 0)
            return false;
        SKzQorFileHandle* rec = SKzQorFileHandle::GetHandle(w);
        rec->m_pMetadata->dTimeMSec = kStart;
        rec->m_TextInfo.wsText[0] = L"Written from nothing";
    } else {
        const int src = Qor_FileOpenForRead(source.c_str());
        if (!src)
            return false;
        // The channels named anew, with another calibration and objective.
        w = Qor_FileCreateModifiedFile(path.c_str(), src, nullptr, Description(0.125, L"Plan 63x").get(), nullptr,
                                       nullptr);
        Qor_FileClose(src);
        if (!w)
            return false;
    }
    SKzQorFileHandle* rec = SKzQorFileHandle::GetHandle(w);
    for (u32 n = 0; n < frames; ++n) {
        // A host of the object model gives each frame of a file written from
        // nothing its own time; a derived file knows only frame 0's.
        if (route == Route::OpenForWrite && n > 0) {
            SKzPictureMetadata md;
            md.dTimeMSec = kStart + kPeriod * n;
            if (rec->m_pOutputFile->SetImageMetadata(n, md, nullptr) != KZ_OK)
                return false;
        }
        Picture p;
        p.fill(100 + n);
        if (Qor_FileAppendImageData(w, &p.p, nullptr) != 0)
            return false;
        after(n + 1);
    }
    return Qor_FileClose(w) == 0;
}

// Rebuilds the chunk map of a file whose writer died; what a host does.
int Repair(const std::wstring& path)
{
    CKzFileChunker c;
    CKzStringA version;
    const int opened = c.Initialize_File(path.c_str(), true, false, version);
    if (opened != KZ_ERR_NOT_FOUND || !c.IsMapMissing())
        return opened == KZ_OK ? KZ_ERR_FAILED : opened;
    const int r = c.CreateMissingChunkMap(nullptr, nullptr, nullptr);
    c.Finalize();
    return r;
}

// What a host sees of an open file.
struct Seen {
    u32 frames = 0;
    std::vector<Bytes> pixels;
    std::vector<double> times;
    std::unique_ptr<QORMETADATA_DESC> metadata = std::make_unique<QORMETADATA_DESC>();
    std::unique_ptr<QORTEXTINFO> text = std::make_unique<QORTEXTINFO>();
    std::unique_ptr<QOREXPERIMENT> experiment = std::make_unique<QOREXPERIMENT>();
};

void Look(const std::wstring& path, Seen& s)
{
    const int h = Qor_FileOpenForRead(path.c_str());
    ASSERT_NE(h, 0);
    QORATTRIBUTES a{};
    ASSERT_EQ(Qor_FileGetAttributes(h, &a), 0);
    s.frames = a.uiSequenceCount;
    for (u32 n = 0; n < s.frames; ++n) {
        Picture p;
        double info[4] = {};
        EXPECT_EQ(Qor_FileGetImageData(h, n, &p.p, info), 0) << n;
        s.pixels.push_back(p.rows());
        s.times.push_back(info[0]);
    }
    std::memset(s.metadata.get(), 0, sizeof(QORMETADATA_DESC));
    std::memset(s.text.get(), 0, sizeof(QORTEXTINFO));
    std::memset(s.experiment.get(), 0, sizeof(QOREXPERIMENT));
    EXPECT_EQ(Qor_FileGetMetadata(h, s.metadata.get()), 0);
    EXPECT_EQ(Qor_FileGetTextinfo(h, s.text.get()), 0);
    Qor_FileGetExperiment(h, s.experiment.get());
    EXPECT_EQ(Qor_FileClose(h), 0);
}

class Recovery : public ct::TempDirTest {
protected:
    // The temporary a replacing writer left beside `name`.
    std::string leftTemporary(const std::string& name) const
    {
        std::string found;
        for (const auto& e : std::filesystem::directory_iterator(m_dir)) {
            const std::string f = e.path().filename().string();
            if (f.rfind("." + name + ".", 0) == 0 && f.size() > 4 && f.compare(f.size() - 4, 4, ".tmp") == 0)
                found = f;
        }
        return found;
    }
};

TEST_F(Recovery, KilledWriterLosesNoCompletedFrame)
{
    const u32 k = 24;
    MakeSource(wpath("source.vt5"));
    struct Case {
        const char* name;
        Route route;
    };
    const Case cases[] = {
        {"open for write", Route::OpenForWrite},
        {"derived file", Route::Derived},
        {"derived file replacing an existing one", Route::ReplaceExisting},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = std::string("killed_") + std::to_string((int)c.route) + ".vt5";
        const std::string reference = std::string("clean_") + std::to_string((int)c.route) + ".vt5";
        Bytes old;
        if (c.route == Route::ReplaceExisting) {
            std::filesystem::copy_file(path("source.vt5"), path(target));
            std::filesystem::copy_file(path("source.vt5"), path(reference));
            old = ct::readAll(path(target));
        }
        // The same frames closed cleanly: what the recovered file must show.
        ASSERT_TRUE(WriteFrames(c.route, wpath(reference), wpath("source.vt5"), k, [](u32) {}));

        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            WriteFrames(c.route, wpath(target), wpath("source.vt5"), k + 10, [&](u32 written) {
                if (written == k) {
                    const char one = 1;
                    if (write(ready[1], &one, 1) == 1)
                        for (;;)
                            pause();  // killed here, in the middle of the file
                }
            });
            _exit(3);  // never signalled: the parent sees the pipe close
        }
        close(ready[1]);
        char got = 0;
        const ssize_t n = read(ready[0], &got, 1);
        close(ready[0]);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_EQ(n, 1) << "the writer did not get to frame " << k;
        ASSERT_TRUE(WIFSIGNALED(status));

        std::string killed = target;
        if (c.route == Route::ReplaceExisting) {
            // The old file is whole; the new frames are in the temporary.
            EXPECT_EQ(ct::readAll(path(target)), old);
            const std::string temp = leftTemporary(target);
            ASSERT_FALSE(temp.empty());
            killed = "recovered.vt5";
            std::filesystem::rename(path(temp), path(killed));
        }
        EXPECT_EQ(Qor_FileOpenForRead(wpath(killed).c_str()), 0) << "a file without its map does not open";
        ASSERT_EQ(Repair(wpath(killed)), 0);

        Seen want, seen;
        Look(wpath(reference), want);
        Look(wpath(killed), seen);
        ASSERT_EQ(want.frames, k);
        ASSERT_TRUE(seen.frames == k || seen.frames == k - 1) << seen.frames;
        for (u32 f = 0; f < seen.frames; ++f) {
            EXPECT_EQ(seen.pixels[f], want.pixels[f]) << f;
            EXPECT_EQ(seen.times[f], want.times[f]) << f;
        }
        EXPECT_EQ(seen.times[0], kStart);
        if (c.route == Route::OpenForWrite)
            EXPECT_EQ(seen.times[k - 2], kStart + kPeriod * (k - 2));
        else
            EXPECT_EQ(seen.times[1], -1.0) << "a time the writer never knew stays unknown";
        EXPECT_EQ(std::memcmp(seen.metadata.get(), want.metadata.get(), sizeof(QORMETADATA_DESC)), 0);
        EXPECT_EQ(seen.metadata->uiPlaneCount, kComp);
        EXPECT_EQ(std::wstring(seen.metadata->sPlanes[1].wsName), L"Dye 1");
        EXPECT_EQ(std::wstring(seen.text->wsItem0), std::wstring(want.text->wsItem0));
        EXPECT_EQ(std::wstring(seen.text->wsItem13), std::wstring(want.text->wsItem13));
        EXPECT_EQ(std::memcmp(seen.experiment.get(), want.experiment.get(), sizeof(QOREXPERIMENT)), 0);
    }
}

}  // namespace
