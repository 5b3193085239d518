// The reading functions of the C interface on files written by the
// library's VT5 writer: handle codes, null arguments and success paths of
// every function, frames in the file's and in other strides, record checks,
// rectangles, pictures, experiment queries, recorded data, events and the
// custom description form.
#include "capi_read_support.h"

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/experiment_nav_support.h"
#include "w32_qorfilesdk/KzQorConversions.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace capitest;

namespace {

using Exp = SKzExperiment;

Exp* Level(Exp::EKzExperimentType type, u32 count)
{
    Exp* e = nullptr;
    EXPECT_EQ(0, Exp::Alloc(&e));
    EXPECT_EQ(0, Exp::Init(*e, type, false, count, 0, 0, 1));
    return e;
}

// parent -> child as the only child.
Exp* Chain(Exp* parent, Exp* child)
{
    Exp* root = parent;
    EXPECT_EQ(0, CKzExperimentAPI::AddExperimentLevel(&root, child, 1));
    return root;
}

struct TreeDel {
    void operator()(Exp* e) const { Exp::FreeRecursive(e); }
};
using Tree = std::unique_ptr<Exp, TreeDel>;

// Metadata of frame 0: a stage position, calibration and a camera matrix.
SKzPictureMetadata Metadata()
{
    SKzPictureMetadata md;
    md.dXPos = 100, md.dYPos = 200, md.dZPos = 7;
    md.dCalibration = 0.5, md.dAspect = 1.0, md.bCalibrated = true;
    md.dStgLgCT11 = 1, md.dStgLgCT12 = 0, md.dStgLgCT21 = 0, md.dStgLgCT22 = 1;
    md.wsObjectiveName = L"Plan 20x";
    md.dTimeMSec = 0;
    return md;
}

// A file of six frames: an XY loop of 2 named points over a Z stack of 3
// steps of 2.0 (mode 0, home in the middle).
struct RichFile {
    TempPath path{"rich.vt5"};
    SKzPictureMetadata md = Metadata();
    Tree exp;
    SKzExperimentRecord events;
    CKzCustomDescription form;
    FileSpec spec;

    explicit RichFile(SKzImageAttributes attrs = Attrs(8, 4, 1, 16, 6, 2))
    {
        Exp* xy = Level(Exp::eExpXYPosLoop, 2);
        auto& l = xy->uLoopPars.sXYPosLoop;
        l.dPosX[0] = 1000, l.dPosY[0] = 2000, l.dPosX[1] = 1100, l.dPosY[1] = 2100;
        EXPECT_NE(nullptr, l.pPosName);   // Init made the name array
        l.pPosName[0] = L"first";
        l.pPosName[1] = std::wstring(300, L'n').c_str();
        Exp* z = Level(Exp::eExpZStackLoop, 3);
        z->uLoopPars.sZStackLoop.dZStep = 2.0;
        z->uLoopPars.sZStackLoop.dZHigh = 4.0;
        z->uLoopPars.sZStackLoop.iType = 0;
        exp.reset(Chain(xy, z));
        exp->pLargeImage = new Exp::SKzLIDesc[2]();
        exp->pLargeImage[0].iXFields = 4;
        exp->pLargeImage[0].iYFields = 3;
        exp->pLargeImage[0].dOverlap = 0.15;

        SKzExperimentEvent e;
        std::memset(&e, 0, sizeof e);
        SKzExperimentEvent::Init(e, 10.0, SKzExperimentEvent::eMeaningAutofocus, L"focus", nullptr, 0);
        SKzExperimentRecord::AddEvent(events, e, nullptr);
        SKzExperimentEvent::Free(e);
        SKzExperimentEvent::Init(e, 20.0, SKzExperimentEvent::eMeaningStimulation, std::wstring(300, L'd').c_str(),
                                 nullptr, 0);
        SKzExperimentEvent::SetStimulation(e, SKzExperimentEvent::eStimParallel, 0, 0);
        SKzExperimentRecord::AddEvent(events, e, nullptr);
        SKzExperimentEvent::Free(e);
        SKzExperimentEvent::Init(e, 30.0, (SKzExperimentEvent::EMeaning)60, nullptr, nullptr, 0);
        SKzExperimentRecord::AddEvent(events, e, nullptr);
        SKzExperimentEvent::Free(e);

        CKzCustomDescription::CKzNumber up(L"up", 2.75, L"");
        up.SetDescription(std::wstring(300, L'q').c_str());
        up.SetMandatory(true);
        CKzCustomDescription::CKzNumber down(L"down", -2.75, L"");
        down.SetEnabled(false);
        form << up << down << CKzCustomDescription::CKzText(L"word", L"abcdef");

        spec.attrs = attrs;
        spec.times = {0, 100, 250, 400, 600, 900};
        spec.metadata = &md;
        spec.experiment = exp.get();
        spec.events = &events;
        spec.form = &form;
        spec.custom[L"I"] = Slots(std::vector<i32>{7, -8, 9});
        spec.custom[L"D"] = Slots(std::vector<double>{0.5, 1.5});
        std::vector<wchar_t> s(512, 0);
        for (int i = 0; i < 300 && i < 256; ++i) s[i] = L'a' + i % 26;  // slot 0 holds no terminator
        s[256] = L'x';
        s[257] = L'y';
        spec.custom[L"S"] = Slots(s);
        WriteFile(path, spec);
    }
};

// A handle whose record has a writer and no reader, built directly.
struct WriteHandle {
    TempPath path{"write.vt5"};
    int h = 0;
    WriteHandle()
    {
        CKzImageFormatVT5 format;
        SKzQorFileHandle rec;
        EXPECT_EQ(0, format.CreateOutputImageFile(CKzStringW(path.w()), rec.m_pOutputFile));
        h = SKzQorFileHandle::Append(rec);
        EXPECT_NE(0, h);
    }
    ~WriteHandle() { SKzQorFileHandle::Close(h); }
};

// ---- handle codes ---------------------------------------------------------------

TEST(CapiRead, EveryFunctionAnswersUnknownAndWriteHandlesWithItsCode)
{
    RichFile file;
    WriteHandle writer;
    const int gone = Qor_FileOpenForRead(file.path.w());
    ASSERT_NE(0, gone);
    ASSERT_EQ(0, Qor_FileClose(gone));
    EXPECT_EQ(-13, Qor_FileClose(gone));
    EXPECT_EQ(-13, Qor_FileClose(0));

    QORATTRIBUTES attrs;
    static QORMETADATA_DESC md;
    static QORTEXTINFO text;
    static QOREXPERIMENT exp;
    QORPICTURE pic;
    std::vector<unsigned char> buf(4096);
    pic.uiWidth = 8, pic.uiHeight = 4, pic.uiComp = 1, pic.uiBpc = 16, pic.uiWidthBytes = 16, pic.uiSize = 64;
    pic.pData = buf.data();
    double info[4];
    wchar_t name[256];
    int i = 0, fx = 0, fy = 0, id = 1, type = 0;
    double d = 0, ov = 0;
    uint32_t flags = 0;
    QORUSEREVENT ev;
    int frames[1] = {0};
    uint32_t px[1] = {0}, py[1] = {0};
    double sx[1], sy[1], sz[1];
    int count = 0;
    const double pairs[1] = {0};

    struct Case {
        const char* what;
        std::function<int(int)> call;
        int unknown;   // unknown handle number
        int write;     // a write handle
    } cases[] = {
        {"GetAttributes", [&](int h) { return Qor_FileGetAttributes(h, &attrs); }, -13, -13},
        {"GetMetadata", [&](int h) { return Qor_FileGetMetadata(h, &md); }, -13, -13},
        {"GetTextinfo", [&](int h) { return Qor_FileGetTextinfo(h, &text); }, -13, 0},
        {"GetImageData", [&](int h) { return Qor_FileGetImageData(h, 0, &pic, info); }, -9, -9},
        {"GetImageRectData",
         [&](int h) { return Qor_FileGetImageRectData(h, 0, 8, 4, 0, 0, 8, 4, buf.data(), 16, 0, info); }, -9, -9},
        {"GetExperiment", [&](int h) { return Qor_FileGetExperiment(h, &exp); }, -13, -13},
        {"GetMultipointName", [&](int h) { return Qor_GetMultipointName(h, 0, name); }, -13, -13},
        {"GetZStackHome", [&](int h) { return Qor_GetZStackHome(h); }, -13, -13},
        {"GetLargeImageDimensions", [&](int h) { return Qor_GetLargeImageDimensions(h, &fx, &fy, &ov); }, -13, -13},
        {"GetRecordedDataInt", [&](int h) { return Qor_GetRecordedDataInt(h, L"I", 0, &i); }, -13, -13},
        {"GetRecordedDataDouble", [&](int h) { return Qor_GetRecordedDataDouble(h, L"D", 0, &d); }, -13, -13},
        {"GetRecordedDataString", [&](int h) { return Qor_GetRecordedDataString(h, L"S", 0, name); }, -13, -13},
        {"GetNextUserEvent", [&](int h) { id = 1; return Qor_GetNextUserEvent(h, &id, &ev); }, -13, -13},
        {"GetCustomDataCount", [&](int h) { return Qor_GetCustomDataCount(h); }, 0, 0},
        {"GetCustomDataInfo", [&](int h) { return Qor_GetCustomDataInfo(h, 0, name, name, &type, &flags); }, -13, -13},
        {"GetCustomDataDouble", [&](int h) { return Qor_GetCustomDataDouble(h, 0, &d); }, -13, -13},
        {"GetCustomDataString", [&](int h) { return Qor_GetCustomDataString(h, 0, name, nullptr); }, -13, -13},
        {"GetStageCoordinates", [&](int h) { return Qor_GetStageCoordinates(h, 1, frames, px, py, sx, sy, sz); }, -13,
         -13},
        {"GetAlignmentPoints", [&](int h) { return Qor_GetAlignmentPoints(h, &count, nullptr, nullptr, nullptr, nullptr, nullptr); }, -13, -13},
        {"SetStageAlignment", [&](int h) { return Qor_SetStageAlignment(h, 1, pairs, pairs, pairs, pairs); }, -9, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.unknown, c.call(0)) << c.what << " on 0";
        EXPECT_EQ(c.unknown, c.call(gone)) << c.what << " on a closed handle";
        EXPECT_EQ(c.unknown, c.call(-1)) << c.what << " on -1";
        EXPECT_EQ(c.write, c.call(writer.h)) << c.what << " on a write handle";
    }
    EXPECT_EQ(0, Qor_FileOpenForRead(nullptr));
}

// ---- success paths and null arguments ------------------------------------------------

TEST(CapiRead, DescriptionsOfAnOpenFile)
{
    RichFile file;
    Handle h(file.path);
    ASSERT_NE(0, h.get());

    QORATTRIBUTES a;
    std::memset(&a, 0xAB, sizeof a);
    ASSERT_EQ(0, Qor_FileGetAttributes(h, &a));
    EXPECT_EQ(8u, a.uiWidth);
    EXPECT_EQ(16u, a.uiWidthBytes);
    EXPECT_EQ(4u, a.uiHeight);
    EXPECT_EQ(1u, a.uiComp);
    EXPECT_EQ(16u, a.uiBpcInMemory);
    EXPECT_EQ(6u, a.uiSequenceCount);
    EXPECT_EQ(2u, a.uiCompression);
    EXPECT_EQ(0, Qor_FileGetAttributes(h, nullptr));

    static QORMETADATA_DESC md;
    ASSERT_EQ(0, Qor_FileGetMetadata(h, &md));
    EXPECT_EQ(0.5, md.dCalibration);
    EXPECT_STREQ(L"Plan 20x", md.wsObjectiveName);
    EXPECT_EQ(0, Qor_FileGetMetadata(h, nullptr));

    static QORTEXTINFO text;
    std::memset(&text, 0xFF, sizeof text);
    ASSERT_EQ(0, Qor_FileGetTextinfo(h, &text));
    EXPECT_LT(wcsnlen(text.wsItem14, 256), 256u);
    EXPECT_EQ(0, Qor_FileGetTextinfo(h, nullptr));

    static QOREXPERIMENT exp;
    ASSERT_EQ(0, Qor_FileGetExperiment(h, &exp));
    ASSERT_EQ(2u, exp.uiLevelCount);
    EXPECT_EQ((uint32_t)QOR_LOOP_XY, exp.sLevels[0].uiType);
    EXPECT_EQ(2u, exp.sLevels[0].uiSize);
    EXPECT_EQ((uint32_t)QOR_LOOP_Z, exp.sLevels[1].uiType);
    EXPECT_EQ(3u, exp.sLevels[1].uiSize);
    EXPECT_EQ(2.0, exp.sLevels[1].dValue);
    EXPECT_EQ(-4, Qor_FileGetExperiment(h, nullptr));

    // A file without experiment, and a handle without frame metadata.
    TempPath bare("bare.vt5");
    FileSpec s;
    WriteFile(bare, s);
    Handle b(bare);
    ASSERT_NE(0, b.get());
    DropMetadata(b);
    EXPECT_EQ(-13, Qor_FileGetMetadata(b, &md));
    EXPECT_EQ(-13, Qor_FileGetMetadata(b, nullptr));
    exp.uiLevelCount = 9;
    ASSERT_EQ(0, Qor_FileGetExperiment(b, &exp));
    EXPECT_EQ(0u, exp.uiLevelCount);
    EXPECT_EQ(-13, Qor_GetMultipointName(b, 0, nullptr));
    EXPECT_EQ(-1, Qor_GetZStackHome(b));
    EXPECT_EQ(-9, Qor_GetLargeImageDimensions(b, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, Qor_GetCustomDataCount(b));
}

TEST(CapiRead, FramesInTheFileStrideAndInOthers)
{
    struct Case {
        const char* what;
        SKzImageAttributes attrs;
    } cases[] = {
        {"raw, rows of 16 bytes", Attrs(8, 4, 1, 16, 6, 2)},
        {"deflated, rows of 16 bytes", Attrs(8, 4, 1, 16, 6, 0)},
        {"raw, rows of 21 bytes", Attrs(7, 5, 3, 8, 6, 2)},
        {"deflated, rows of 21 bytes", Attrs(7, 5, 3, 8, 6, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RichFile file(c.attrs);
        Handle h(file.path);
        ASSERT_NE(0, h.get());
        const u64 row = FileRow(c.attrs);
        for (u32 frame = 0; frame < 6; ++frame) {
            const Bytes want = FrameBytes(c.attrs, frame);
            // Through Qor_InitPicture (rows aligned to 4 bytes) ...
            QORPICTURE pic;
            ASSERT_GT(Qor_InitPicture(&pic, c.attrs.uiWidth, c.attrs.uiHeight, c.attrs.uiBpcInMemory, c.attrs.uiComp),
                      0u);
            double info[4] = {-1, -1, -1, -1};
            ASSERT_EQ(0, Qor_FileGetImageData(h, frame, &pic, info));
            const unsigned char* p = static_cast<unsigned char*>(pic.pData);
            for (u32 y = 0; y < c.attrs.uiHeight; ++y)
                ASSERT_EQ(0, std::memcmp(p + (u64)y * pic.uiWidthBytes, want.data() + y * row, row)) << frame;
            // Time from the cache; stage position from the loops: point
            // frame / 3, Z step frame % 3 around the home step 1.
            EXPECT_EQ(file.spec.times[frame], info[0]);
            EXPECT_EQ(frame < 3 ? 1000.0 : 1100.0, info[1]);
            EXPECT_EQ(frame < 3 ? 2000.0 : 2100.0, info[2]);
            Qor_DestroyPicture(&pic);
            EXPECT_EQ(nullptr, pic.pData);
            Qor_DestroyPicture(&pic);  // harmless a second time

            // ... and into a host buffer with wide rows: padding untouched.
            const u32 stride = (u32)row + 9;
            std::vector<unsigned char> wide((size_t)stride * c.attrs.uiHeight, 0xEE);
            QORPICTURE host{c.attrs.uiWidth, c.attrs.uiHeight, c.attrs.uiBpcInMemory, c.attrs.uiComp, stride, 0,
                            wide.size(), wide.data()};
            ASSERT_EQ(0, Qor_FileGetImageData(h, frame, &host, info));
            for (u32 y = 0; y < c.attrs.uiHeight; ++y) {
                ASSERT_EQ(0, std::memcmp(wide.data() + (u64)y * stride, want.data() + y * row, row));
                for (u32 k = (u32)row; k < stride; ++k) ASSERT_EQ(0xEE, wide[(size_t)y * stride + k]);
            }
        }
        // A frame that is not stored.
        QORPICTURE pic;
        Qor_InitPicture(&pic, c.attrs.uiWidth, c.attrs.uiHeight, c.attrs.uiBpcInMemory, c.attrs.uiComp);
        double info[4];
        EXPECT_EQ(-13, Qor_FileGetImageData(h, 6, &pic, info));
        Qor_DestroyPicture(&pic);
    }
}

TEST(CapiRead, PictureRecordsThatDoNotFitTheFrameAreRefused)
{
    RichFile file(Attrs(7, 5, 3, 8, 6, 2));   // rows of 21 bytes
    Handle h(file.path);
    ASSERT_NE(0, h.get());
    std::vector<unsigned char> mem(4096, 0x5A);
    const QORPICTURE good{7, 5, 8, 3, 24, 0, 120, mem.data()};
    struct Case {
        const char* what;
        std::function<void(QORPICTURE&)> change;
    } cases[] = {
        {"null data", [](QORPICTURE& p) { p.pData = nullptr; }},
        {"width", [](QORPICTURE& p) { p.uiWidth = 8; }},
        {"height", [](QORPICTURE& p) { p.uiHeight = 6; }},
        {"components", [](QORPICTURE& p) { p.uiComp = 1; }},
        {"sample size", [](QORPICTURE& p) { p.uiBpc = 16; }},
        {"no sample size", [](QORPICTURE& p) { p.uiBpc = 0; }},
        {"stride below the row", [](QORPICTURE& p) { p.uiWidthBytes = 20; }},
        {"size below stride x height", [](QORPICTURE& p) { p.uiSize = 119; }},
        {"huge stride, small size", [](QORPICTURE& p) { p.uiWidthBytes = 0xFFFFFFFFu; }},
    };
    for (const Case& c : cases) {
        QORPICTURE p = good;
        c.change(p);
        double info[4] = {-1, -1, -1, -1};
        EXPECT_EQ(-9, Qor_FileGetImageData(h, 4, &p, info)) << c.what;
        EXPECT_EQ(600.0, info[0]) << c.what;   // filled first, whatever happens next
        EXPECT_EQ(1100.0, info[1]) << c.what;
    }
    for (unsigned char b : mem) ASSERT_EQ(0x5A, b);
    double info[4] = {-1, -1, -1, -1};
    EXPECT_EQ(-9, Qor_FileGetImageData(h, 4, nullptr, info));
    EXPECT_EQ(600.0, info[0]);
    QORPICTURE p = good;
    EXPECT_EQ(-4, Qor_FileGetImageData(h, 4, &p, nullptr));
    // 12 significant bits in 16-bit samples: the sample size counts.
    RichFile deep(Attrs(4, 2, 1, 16, 6, 2));
    Handle d(deep.path);
    QORPICTURE q;
    Qor_InitPicture(&q, 4, 2, 12, 1);
    EXPECT_EQ(0, Qor_FileGetImageData(d, 0, &q, info));
    Qor_DestroyPicture(&q);
}

TEST(CapiRead, RectanglesOfRawFrames)
{
    RichFile file(Attrs(7, 5, 3, 8, 6, 2));
    Handle h(file.path);
    ASSERT_NE(0, h.get());
    const Bytes f = FrameBytes(file.spec.attrs, 2);
    // The whole frame at its own size, rows repacked to 32 bytes.
    std::vector<unsigned char> buf(32 * 5, 0);
    double info[4] = {-1, -1, -1, -1};
    ASSERT_EQ(0, Qor_FileGetImageRectData(h, 2, 7, 5, 0, 0, 7, 5, buf.data(), 32, 0, info));
    EXPECT_EQ(250.0, info[0]);
    for (int y = 0; y < 5; ++y) EXPECT_EQ(0, std::memcmp(buf.data() + 32 * y, f.data() + 21 * y, 21));
    // Twice the width: every source column twice.
    ASSERT_EQ(0, Qor_FileGetImageRectData(h, 2, 14, 5, 0, 1, 4, 1, buf.data(), 32, 0, info));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(0, std::memcmp(buf.data() + 3 * i, f.data() + 21 + 3 * (i / 2), 3));
    EXPECT_EQ(-9, Qor_FileGetImageRectData(h, 2, 7, 5, 0, 0, 7, 5, nullptr, 32, 0, info));
    EXPECT_EQ(250.0, info[0]);
    EXPECT_EQ(-4, Qor_FileGetImageRectData(h, 2, 7, 5, 0, 0, 7, 5, buf.data(), 32, 0, nullptr));
}

TEST(CapiRead, PicturesAllocateAlignedRowsOrNothing)
{
    QORPICTURE p;
    std::memset(&p, 0, sizeof p);
    struct Case {
        u32 w, h, bits, comp;
        u32 stride;
        u64 size, block;
    } cases[] = {
        {7, 3, 8, 3, 24, 72, 80},
        {512, 512, 16, 3, 3072, 3072ull * 512, 3072ull * 512},
        {5, 1, 12, 1, 12, 12, 16},
        {1, 1, 32, 1, 4, 4, 16},
        {3, 2, 1, 1, 4, 8, 16},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.block, Qor_InitPicture(&p, c.w, c.h, c.bits, c.comp)) << c.w;
        EXPECT_EQ(c.w, p.uiWidth);
        EXPECT_EQ(c.h, p.uiHeight);
        EXPECT_EQ(c.bits, p.uiBpc);
        EXPECT_EQ(c.comp, p.uiComp);
        EXPECT_EQ(c.stride, p.uiWidthBytes);
        EXPECT_EQ(c.size, p.uiSize);
        ASSERT_NE(nullptr, p.pData);
        const unsigned char* b = static_cast<unsigned char*>(p.pData);
        for (u64 k = 0; k < c.block; ++k) ASSERT_EQ(0, b[k]);
        Qor_DestroyPicture(&p);
    }
    // Sizes that overflow or cannot be had: 0 and no samples.
    p.pData = &p;
    EXPECT_EQ(0u, Qor_InitPicture(&p, 0x40000000u, 2, 32, 4));   // row beyond 32 bits
    EXPECT_EQ(nullptr, p.pData);
    EXPECT_EQ(0u, Qor_InitPicture(&p, 0x3FFFFFFFu, 0xFFFFFFFFu, 8, 4));   // far beyond memory
    EXPECT_EQ(nullptr, p.pData);
    EXPECT_EQ(0u, Qor_InitPicture(&p, 1u << 20, 1u << 20, 16, 4));   // 8 TiB: above the picture limit
    EXPECT_EQ(nullptr, p.pData);
    EXPECT_EQ(0u, Qor_InitPicture(&p, 1u << 18, (1u << 21) + 1, 16, 1));   // just above 1 TiB
    EXPECT_EQ(nullptr, p.pData);
    EXPECT_EQ(0u, Qor_InitPicture(&p, 0, 5, 8, 1));
    EXPECT_EQ(nullptr, p.pData);
    EXPECT_EQ(0u, Qor_InitPicture(nullptr, 4, 4, 8, 1));
    Qor_DestroyPicture(nullptr);
}

// ---- loop coordinates -------------------------------------------------------------------

QOREXPERIMENT Record(std::vector<std::pair<uint32_t, uint32_t>> levels)
{
    QOREXPERIMENT r;
    std::memset(&r, 0, sizeof r);
    r.uiLevelCount = (uint32_t)levels.size();
    for (size_t i = 0; i < levels.size(); ++i) r.sLevels[i] = {levels[i].first, levels[i].second, 0.0};
    return r;
}

TEST(CapiRead, SequenceIndexAndCoordinatesOfARecord)
{
    const QOREXPERIMENT tz = Record({{QOR_LOOP_TIME, 3}, {QOR_LOOP_Z, 5}});
    uint32_t c[8] = {2, 0, 4, 0, 0, 0, 0, 0};
    EXPECT_EQ(14u, Qor_GetSeqIndexFromCoords(&tz, c));
    uint32_t back[8];
    std::memset(back, 0xCC, sizeof back);
    Qor_GetCoordsFromSeqIndex(&tz, 14, back);
    const uint32_t want[8] = {2, 0, 4, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(want, back, sizeof want));

    // Null arguments, no levels, shared types, sizes of 0, types past 7 and
    // level counts past the record's capacity.
    EXPECT_EQ(0u, Qor_GetSeqIndexFromCoords(nullptr, c));
    EXPECT_EQ(0u, Qor_GetSeqIndexFromCoords(&tz, nullptr));
    Qor_GetCoordsFromSeqIndex(&tz, 3, nullptr);
    Qor_GetCoordsFromSeqIndex(nullptr, 3, back);
    for (uint32_t v : back) EXPECT_EQ(0u, v);
    const QOREXPERIMENT none = Record({});
    EXPECT_EQ(0u, Qor_GetSeqIndexFromCoords(&none, c));
    const QOREXPERIMENT shared = Record({{QOR_LOOP_TIME, 3}, {QOR_LOOP_TIME, 4}});
    Qor_GetCoordsFromSeqIndex(&shared, 7, back);
    EXPECT_EQ(1u, back[0]);   // the outer level's value is left
    const QOREXPERIMENT odd = Record({{QOR_LOOP_XY, 0}, {9, 4}, {QOR_LOOP_Z, 3}});
    Qor_GetCoordsFromSeqIndex(&odd, 11, back);
    EXPECT_EQ(2u, back[2]);
    EXPECT_EQ(0u, back[1]);
    uint32_t cc[8] = {0, 5, 1, 0, 0, 0, 0, 0};
    EXPECT_EQ(((0u * 0 + 5) * 4 + 0) * 3 + 1, Qor_GetSeqIndexFromCoords(&odd, cc));   // type 9 reads 0
    QOREXPERIMENT big = Record({{QOR_LOOP_Z, 2}});
    big.uiLevelCount = 1000;   // more than the record holds: its 256 levels count
    for (int i = 0; i < 256; ++i) big.sLevels[i] = {QOR_LOOP_OTHER, 1, 0};
    big.sLevels[255] = {QOR_LOOP_Z, 2, 0};
    Qor_GetCoordsFromSeqIndex(&big, 1, back);
    EXPECT_EQ(1u, back[2]);
    uint32_t zc[8] = {0, 0, 1, 0, 0, 0, 0, 0};
    EXPECT_EQ(1u, Qor_GetSeqIndexFromCoords(&big, zc));
}

// Random records against an odometer over the nested loops.
TEST(CapiRead, SequenceIndexAgreesWithNestedLoopsOnRandomRecords)
{
    std::mt19937 rng(1210);
    for (int t = 0; t < 200; ++t) {
        const int n = std::uniform_int_distribution<int>(1, 4)(rng);
        std::vector<uint32_t> types = {0, 1, 2, 3};
        std::shuffle(types.begin(), types.end(), rng);
        std::vector<std::pair<uint32_t, uint32_t>> lv;
        for (int i = 0; i < n; ++i) lv.push_back({types[i], (uint32_t)std::uniform_int_distribution<int>(1, 6)(rng)});
        const QOREXPERIMENT r = Record(lv);
        std::vector<uint32_t> pos(n, 0);
        uint32_t frames = 1;
        for (auto& l : lv) frames *= l.second;
        for (uint32_t k = 0; k < frames; ++k) {
            uint32_t c[8] = {};
            for (int i = 0; i < n; ++i) c[lv[i].first] = pos[i];
            ASSERT_EQ(k, Qor_GetSeqIndexFromCoords(&r, c)) << t;
            uint32_t back[8];
            Qor_GetCoordsFromSeqIndex(&r, k, back);
            ASSERT_EQ(0, std::memcmp(c, back, sizeof c)) << t << " frame " << k;
            for (int i = n - 1; i >= 0; --i) {   // the innermost loop turns fastest
                if (++pos[i] < lv[i].second) break;
                pos[i] = 0;
            }
        }
    }
}

// Random chains of loops (spectral levels among them) converted to the
// host record: the coordinates of every frame agree with the loop positions
// a brute-force walk of the tree gives, by loop type, the outer level
// winning where two share a type.
TEST(CapiRead, CoordinatesAgreeWithTheLoopsOfRandomTrees)
{
    std::mt19937 rng(20261210);
    auto uni = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    const Exp::EKzExperimentType kinds[] = {Exp::eExpTimeLoop, Exp::eExpXYPosLoop, Exp::eExpZStackLoop,
                                            Exp::eExpCustomLoop, Exp::eExpPolarLoop, Exp::eExpSpectLoop,
                                            Exp::eExpXYDiscrLoop};
    for (int t = 0; t < 150; ++t) {
        const int depth = uni(1, 5);
        std::vector<Exp*> levels(depth);   // outermost first
        levels[depth - 1] = navtest::L(kinds[uni(0, 6)], (u32)uni(1, 4));
        for (int i = depth - 2; i >= 0; --i) levels[i] = navtest::L(kinds[uni(0, 6)], (u32)uni(1, 4), {levels[i + 1]});
        Tree tree(levels[0]);
        const std::vector<navtest::Pos> frames = navtest::ExpandAll(tree.get());

        static QOREXPERIMENT rec;
        ASSERT_EQ(0, QorApiSupport_Experiment_QorToApi(*tree, rec));
        // The record's type of each tree level (spectral levels have none).
        std::vector<int> typeOf;
        bool unique = true;
        uint32_t seen = 0;
        for (const Exp* lv : levels) {
            int ty = -1;
            switch (lv->eType) {
            case Exp::eExpTimeLoop: ty = QOR_LOOP_TIME; break;
            case Exp::eExpXYPosLoop:
            case Exp::eExpXYDiscrLoop: ty = QOR_LOOP_XY; break;
            case Exp::eExpZStackLoop: ty = QOR_LOOP_Z; break;
            case Exp::eExpSpectLoop: ty = -1; break;
            default: ty = QOR_LOOP_OTHER; break;
            }
            if (ty >= 0) {
                unique = unique && !(seen & (1u << ty));
                seen |= 1u << ty;
            }
            typeOf.push_back(ty);
        }
        ASSERT_FALSE(frames.empty());
        ASSERT_EQ((uint32_t)std::count_if(typeOf.begin(), typeOf.end(), [](int ty) { return ty >= 0; }),
                  rec.uiLevelCount);
        for (size_t k = 0; k < frames.size(); ++k) {
            uint32_t want[8] = {};
            for (size_t i = frames[k].size(); i-- > 0;)
                if (typeOf[i] >= 0) want[typeOf[i]] = frames[k][i];
            uint32_t got[8];
            Qor_GetCoordsFromSeqIndex(&rec, (uint32_t)k, got);
            ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "tree " << t << " frame " << k;
            if (unique) ASSERT_EQ(k, Qor_GetSeqIndexFromCoords(&rec, got)) << "tree " << t;
        }
    }
}

// ---- experiment queries --------------------------------------------------------------------

TEST(CapiRead, MultipointNamesZHomeAndLargeImage)
{
    RichFile file;
    Handle h(file.path);
    ASSERT_NE(0, h.get());
    wchar_t name[256];
    ASSERT_EQ(0, Qor_GetMultipointName(h, 0, name));
    EXPECT_STREQ(L"first", name);
    std::fill(std::begin(name), std::end(name), L'#');
    ASSERT_EQ(0, Qor_GetMultipointName(h, 1, name));
    EXPECT_EQ(std::wstring(255, L'n'), std::wstring(name));   // 255 characters and a terminator
    EXPECT_EQ(0, Qor_GetMultipointName(h, 1, nullptr));
    EXPECT_EQ(-9, Qor_GetMultipointName(h, 2, name));

    EXPECT_EQ(1, Qor_GetZStackHome(h));

    int fx = 0, fy = 0;
    double ov = 0;
    ASSERT_EQ(0, Qor_GetLargeImageDimensions(h, &fx, &fy, &ov));
    EXPECT_EQ(4, fx);
    EXPECT_EQ(3, fy);
    EXPECT_EQ(0.15, ov);
    EXPECT_EQ(0, Qor_GetLargeImageDimensions(h, nullptr, nullptr, nullptr));
}

// ---- recorded data -------------------------------------------------------------------------

TEST(CapiRead, RecordedDataSlotsByFrame)
{
    RichFile file;
    Handle h(file.path);
    ASSERT_NE(0, h.get());
    int i = 0;
    ASSERT_EQ(0, Qor_GetRecordedDataInt(h, L"I", 1, &i));
    EXPECT_EQ(-8, i);
    ASSERT_EQ(0, Qor_GetRecordedDataInt(h, L"I", -5, &i));
    EXPECT_EQ(7, i);
    i = 42;
    EXPECT_EQ(-13, Qor_GetRecordedDataInt(h, L"I", 3, &i));
    EXPECT_EQ(-13, Qor_GetRecordedDataInt(h, L"I", INT_MAX, &i));
    EXPECT_EQ(-13, Qor_GetRecordedDataInt(h, L"missing", 0, &i));
    EXPECT_EQ(42, i);
    EXPECT_EQ(-13, Qor_GetRecordedDataInt(h, L"I", 0, nullptr));
    EXPECT_EQ(-4, Qor_GetRecordedDataInt(h, nullptr, 0, &i));

    double d = 0;
    ASSERT_EQ(0, Qor_GetRecordedDataDouble(h, L"D", 1, &d));
    EXPECT_EQ(1.5, d);
    ASSERT_EQ(0, Qor_GetRecordedDataDouble(h, L"D", -5, &d));
    EXPECT_EQ(0.5, d);
    d = 3;
    EXPECT_EQ(-13, Qor_GetRecordedDataDouble(h, L"D", 2, &d));
    EXPECT_EQ(3.0, d);
    EXPECT_EQ(-13, Qor_GetRecordedDataDouble(h, L"D", 0, nullptr));

    wchar_t s[256];
    ASSERT_EQ(0, Qor_GetRecordedDataString(h, L"S", 0, s));
    EXPECT_EQ(255u, wcslen(s));   // the slot holds no terminator: 255 and one
    EXPECT_EQ(L'a', s[0]);
    ASSERT_EQ(0, Qor_GetRecordedDataString(h, L"S", 1, s));
    EXPECT_STREQ(L"xy", s);
    EXPECT_EQ(-13, Qor_GetRecordedDataString(h, L"S", 2, s));
    EXPECT_EQ(-13, Qor_GetRecordedDataString(h, L"S", 0, nullptr));
}

// ---- events ---------------------------------------------------------------------------------

TEST(CapiRead, EventsInTurnWithBoundedTexts)
{
    RichFile file;
    Handle h(file.path);
    ASSERT_NE(0, h.get());
    int id = -3;
    QORUSEREVENT ev;
    EXPECT_EQ(-13, Qor_GetNextUserEvent(h, &id, &ev));   // -3 looks up ID 0
    EXPECT_EQ(0, id);
    id = 1;
    ASSERT_EQ(0, Qor_GetNextUserEvent(h, &id, &ev));
    EXPECT_EQ(2, id);
    EXPECT_EQ(1u, ev.uiEventID);
    EXPECT_EQ(10.0, ev.dTime);
    EXPECT_STREQ(L"focus", ev.wsDescription);
    EXPECT_STREQ(SKzExperimentEvent::_pDescription[1], ev.wsMeaning);

    ASSERT_EQ(0, Qor_GetNextUserEvent(h, &id, &ev));
    EXPECT_STREQ(L"Stim. Parallel", ev.wsMeaning);
    EXPECT_EQ(std::wstring(255, L'd'), std::wstring(ev.wsDescription));

    std::fill(std::begin(ev.wsDescription), std::end(ev.wsDescription), L'#');
    std::fill(std::begin(ev.wsMeaning), std::end(ev.wsMeaning), L'#');
    ASSERT_EQ(0, Qor_GetNextUserEvent(h, &id, &ev));
    EXPECT_STREQ(L"", ev.wsMeaning);        // meaning past the table
    EXPECT_STREQ(L"", ev.wsDescription);    // no description
    EXPECT_EQ(4, id);
    EXPECT_EQ(-13, Qor_GetNextUserEvent(h, &id, &ev));
    EXPECT_EQ(4, id);

    id = 2;
    EXPECT_EQ(0, Qor_GetNextUserEvent(h, &id, nullptr));
    EXPECT_EQ(3, id);
    EXPECT_EQ(-4, Qor_GetNextUserEvent(h, nullptr, &ev));
}

// ---- custom description form ------------------------------------------------------------

TEST(CapiRead, CustomDescriptionItems)
{
    RichFile file;
    Handle h(file.path);
    ASSERT_NE(0, h.get());
    ASSERT_EQ(3, Qor_GetCustomDataCount(h));

    wchar_t name[256], desc[256];
    int type = -1;
    uint32_t flags = 99;
    ASSERT_EQ(0, Qor_GetCustomDataInfo(h, 0, name, desc, &type, &flags));
    EXPECT_STREQ(L"up", name);
    EXPECT_EQ(std::wstring(255, L'q'), std::wstring(desc));
    EXPECT_EQ((int)CKzCustomDescription::eKzTypeNumber, type);
    EXPECT_EQ(3u, flags);
    ASSERT_EQ(0, Qor_GetCustomDataInfo(h, 1, name, desc, &type, &flags));
    EXPECT_EQ(0u, flags);
    EXPECT_EQ(0, Qor_GetCustomDataInfo(h, 1, nullptr, nullptr, nullptr, nullptr));

    double d = 0;
    ASSERT_EQ(0, Qor_GetCustomDataDouble(h, 0, &d));
    EXPECT_EQ(2.0, d);
    ASSERT_EQ(0, Qor_GetCustomDataDouble(h, 1, &d));
    EXPECT_EQ(-2.0, d);
    EXPECT_EQ(0, Qor_GetCustomDataDouble(h, 1, nullptr));

    wchar_t text[256];
    std::fill(std::begin(text), std::end(text), L'#');
    int len = 4;
    ASSERT_EQ(0, Qor_GetCustomDataString(h, 2, text, &len));
    EXPECT_STREQ(L"abc", text);
    EXPECT_EQ(L'#', text[4]);
    EXPECT_EQ(6, len);
    for (int given : {0, -7}) {
        len = given;   // 0 and negative lengths count as 256
        ASSERT_EQ(0, Qor_GetCustomDataString(h, 2, text, &len));
        EXPECT_STREQ(L"abcdef", text);
        EXPECT_EQ(6, len);
    }
    ASSERT_EQ(0, Qor_GetCustomDataString(h, 2, text, nullptr));
    EXPECT_STREQ(L"abcdef", text);
    len = 1;
    ASSERT_EQ(0, Qor_GetCustomDataString(h, 2, nullptr, &len));
    EXPECT_EQ(6, len);

    for (int item : {-1, INT_MIN, 3, 100}) {
        EXPECT_EQ(-13, Qor_GetCustomDataInfo(h, item, name, desc, &type, &flags)) << item;
        EXPECT_EQ(-13, Qor_GetCustomDataDouble(h, item, &d)) << item;
        EXPECT_EQ(-13, Qor_GetCustomDataString(h, item, text, &len)) << item;
    }
}

} // namespace
