// Writing through the C interface: write handles from nothing and from an
// open file, frames appended with their layers and checked against the file's
// geometry, the description written with the first frame, and an existing
// file replaced only by a complete new one.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "file_size_limit.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "vt5file/chunker_test_support.h"
#include "w32_qorfilesdk/CKzBinaryMetadata.h"
#include "w32_qorfilesdk/KzQorConversions.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A picture allocated by the interface, freed with the test.
struct Picture {
    QORPICTURE p{};
    Picture(u32 w, u32 h, u32 bits, u32 comp) { Qor_InitPicture(&p, w, h, bits, comp); }
    ~Picture() { CKzAlloc::Free(p.pData); }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
    unsigned char* bytes() { return static_cast<unsigned char*>(p.pData); }
    // Pattern samples in every row's used bytes.
    void fill(unsigned seed)
    {
        const size_t row = (size_t)p.uiWidth * p.uiComp * CKzPicBufAPI::CalcCompSize(p.uiBpc);
        const Bytes b = ct::pattern(row * p.uiHeight, seed);
        for (u32 y = 0; y < p.uiHeight; ++y)
            std::memcpy(bytes() + (size_t)y * p.uiWidthBytes, b.data() + y * row, row);
    }
    Bytes rows() const
    {
        const size_t row = (size_t)p.uiWidth * p.uiComp * CKzPicBufAPI::CalcCompSize(p.uiBpc);
        Bytes out;
        for (u32 y = 0; y < p.uiHeight; ++y) {
            const unsigned char* r = static_cast<const unsigned char*>(p.pData) + (size_t)y * p.uiWidthBytes;
            out.insert(out.end(), r, r + row);
        }
        return out;
    }
};

// Read handles and closing go through the handle layer.
int OpenRead(const std::wstring& path) { return SKzQorFileHandle::OpenInputFile(path.c_str()); }
int Close(int h) { return SKzQorFileHandle::Close(h); }

SKzQorFileHandle* Record(int h) { return SKzQorFileHandle::GetHandle(h); }

// The used bytes of each row of frame `seq` of a read handle; empty when the
// frame cannot be read.
Bytes ReadRows(int h, u32 seq)
{
    SKzQorFileHandle* rec = nullptr;
    IKzInputImageFile* r = SKzQorFileHandle::GetInputFile(h, &rec);
    if (!r)
        return {};
    const SKzImageAttributes& a = rec->m_Attributes;
    Bytes frame((size_t)a.uiWidthBytes * a.uiHeight);
    if (r->GetData(seq, frame.data(), nullptr, nullptr) != KZ_OK)
        return {};
    const size_t row = (size_t)a.uiWidth * a.uiComp * ((a.uiBpcInMemory + 7) / 8);
    Bytes out;
    for (u32 y = 0; y < a.uiHeight; ++y)
        out.insert(out.end(), frame.begin() + (size_t)y * a.uiWidthBytes,
                   frame.begin() + (size_t)y * a.uiWidthBytes + row);
    return out;
}

std::vector<std::string> DirEntries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void SetText(wchar_t* field, size_t capacity, const wchar_t* text)
{
    std::wmemset(field, 0, capacity);
    std::wcsncpy(field, text, capacity - 1);
}

// A metadata description of `planes` single-component planes.
std::unique_ptr<QORMETADATA_DESC> Description(u32 planes, double calibration)
{
    auto d = std::make_unique<QORMETADATA_DESC>();
    std::memset(d.get(), 0, sizeof(QORMETADATA_DESC));
    d->dCalibration = calibration;
    d->dAspect = 1.0;
    SetText(d->wsObjectiveName, QOR_TEXT_LENGTH, L"Plan 20x");
    d->dObjectiveMag = 20.0;
    d->dObjectiveNA = 0.75;
    d->uiPlaneCount = planes;
    d->uiCompCount = planes;
    for (u32 i = 0; i < planes; ++i) {
        d->sPlanes[i].uiCompCount = 1;
        d->sPlanes[i].uiColor = 0x0000FFu << (8 * (i % 3));
        SetText(d->sPlanes[i].wsName, QOR_TEXT_LENGTH, (L"Channel " + std::to_wstring(i)).c_str());
        d->sPlanes[i].dEmissionWavelength = 500.0 + 50.0 * i;
    }
    return d;
}

class CapiWrite : public ct::TempDirTest {
protected:
    // A source file of `frames` frames of 6 x 4 pixels, 2 components of 16
    // bits, with metadata of two planes, a time loop, a text and a tag.
    void MakeSource(const std::wstring& path, u32 frames)
    {
        const int w = Qor_FileOpenForWrite(path.c_str());
        ASSERT_NE(w, 0);
        ASSERT_EQ(FileSetMetadataDesc(w, Description(2, 0.25).get()), 0);
        SKzQorFileHandle* rec = Record(w);
        ASSERT_NE(rec, nullptr);
        ASSERT_EQ(SKzExperiment::Alloc(&rec->m_pExperiment), KZ_OK);
        ASSERT_EQ(SKzExperiment::Init(*rec->m_pExperiment, SKzExperiment::eExpTimeLoop, false, frames, 0, 0, 0),
                  KZ_OK);
        rec->m_pExperiment->uLoopPars.sTimeLoop.dPeriod = 500.0;
        rec->m_TextInfo.wsText[0] = L"Source sample";
        const char tag[] = "source tag bytes";
        ASSERT_EQ(SKzQorFileHandle::FileSetCustomDataTag(w, L"SourceTag", tag, sizeof tag), 0);
        for (u32 f = 0; f < frames; ++f) {
            Picture p(6, 4, 16, 2);
            p.fill(100 + f);
            ASSERT_EQ(Qor_FileAppendImageData(w, &p.p, nullptr), 0) << f;
        }
        ASSERT_EQ(Close(w), 0);
    }

    // A plain file of `frames` 8-bit frames of 5 x 3 pixels, pattern `seed`.
    void MakePlain(const std::wstring& path, u32 frames, unsigned seed)
    {
        const int w = Qor_FileOpenForWrite(path.c_str());
        ASSERT_NE(w, 0);
        for (u32 f = 0; f < frames; ++f) {
            Picture p(5, 3, 8, 1);
            p.fill(seed + f);
            ASSERT_EQ(Qor_FileAppendImageData(w, &p.p, nullptr), 0);
        }
        ASSERT_EQ(Close(w), 0);
    }
};

TEST_F(CapiWrite, UnknownAndReadHandlesGetTheirCodes)
{
    MakePlain(wpath("r.vt5"), 1, 1);
    const int reader = OpenRead(wpath("r.vt5"));
    ASSERT_NE(reader, 0);
    Picture pic(5, 3, 8, 1);
    QORATTRIBUTES attrs{};
    auto desc = Description(1, 0.5);
    auto old = std::make_unique<QORMETADATA>();
    std::memset(old.get(), 0, sizeof(QORMETADATA));
    struct Case {
        const char* name;
        std::function<int(int)> call;
        int expected;
    };
    const Case cases[] = {
        {"Qor_FileAppendImageData", [&](int h) { return Qor_FileAppendImageData(h, &pic.p, nullptr); }, -13},
        {"Qor_FileAppendImageData without picture", [&](int h) { return Qor_FileAppendImageData(h, nullptr, nullptr); },
         -13},
        {"Qor_FileModifyAttributes", [&](int h) { return Qor_FileModifyAttributes(h, 5, 3, 8, 8); }, -9},
        {"FileSetMetadataDesc", [&](int h) { return FileSetMetadataDesc(h, desc.get()); }, -13},
        {"FileSetMetadata", [&](int h) { return SKzQorFileHandle::FileSetMetadata(h, old.get()); }, -13},
        {"FileSetAttributes", [&](int h) { return SKzQorFileHandle::FileSetAttributes(h, &attrs); }, -13},
        {"Qor_FileCreateModifiedFile from it",
         [&](int h) {
             const int made = Qor_FileCreateModifiedFile(wpath("made.vt5").c_str(), h, nullptr, nullptr, nullptr,
                                                          nullptr);
             if (made)
                 Close(made);
             return made;
         },
         0},
    };
    for (const Case& c : cases) {
        for (int h : {0, -1, 1023, 999999}) {
            EXPECT_EQ(c.call(h), c.expected) << c.name << " on " << h;
        }
    }
    // A read handle is no write handle.
    for (size_t i = 0; i + 1 < std::size(cases); ++i)
        EXPECT_EQ(cases[i].call(reader), cases[i].expected) << cases[i].name << " on a read handle";
    EXPECT_FALSE(std::filesystem::exists(path("made.vt5")));

    // A write handle is no source.
    const int writer = Qor_FileOpenForWrite(wpath("w.vt5").c_str());
    ASSERT_NE(writer, 0);
    EXPECT_EQ(cases[std::size(cases) - 1].call(writer), 0);
    EXPECT_FALSE(std::filesystem::exists(path("made.vt5")));
    // Closed before any frame: no geometry reached the writer, which says so.
    EXPECT_EQ(Close(writer), -9);
    EXPECT_EQ(Close(reader), 0);
}

TEST_F(CapiWrite, NullArgumentsAndPathsNoFormatClaims)
{
    EXPECT_EQ(Qor_FileOpenForWrite(nullptr), 0);
    EXPECT_EQ(Qor_FileOpenForWrite(L""), 0);
    EXPECT_EQ(Qor_FileOpenForWrite(wpath("picture.unknownext").c_str()), 0);
    EXPECT_EQ(Qor_FileOpenForWrite(wpath("missing/dir/x.vt5").c_str()), 0);
    // A directory is not replaced by a file.
    std::filesystem::create_directory(path("folder.vt5"));
    EXPECT_EQ(Qor_FileOpenForWrite(wpath("folder.vt5").c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(path("folder.vt5")));
    EXPECT_EQ(Qor_InitPicture(nullptr, 4, 4, 8, 1), 0u);

    MakePlain(wpath("src.vt5"), 1, 3);
    const int src = OpenRead(wpath("src.vt5"));
    ASSERT_NE(src, 0);
    EXPECT_EQ(Qor_FileCreateModifiedFile(nullptr, src, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(Qor_FileCreateModifiedFile(L"", src, nullptr, nullptr, nullptr, nullptr), 0);

    const int w = Qor_FileOpenForWrite(wpath("n.vt5").c_str());
    ASSERT_NE(w, 0);
    EXPECT_EQ(SKzQorFileHandle::FileSetAttributes(w, nullptr), 0);
    EXPECT_EQ(FileSetMetadataDesc(w, nullptr), -4);
    EXPECT_EQ(SKzQorFileHandle::FileSetMetadata(w, nullptr), -4);
    EXPECT_EQ(Record(w)->m_pMetadata, nullptr);
    // Depths are held in 8 bits: larger ones are refused, nothing changed.
    EXPECT_EQ(Qor_FileModifyAttributes(w, 5, 3, 256, 8), -4);
    EXPECT_EQ(Record(w)->m_Attributes.uiWidth, 0u);
    Close(w);
    EXPECT_EQ(Close(src), 0);
}

TEST_F(CapiWrite, InitPictureSizesInSixtyFourBits)
{
    struct Case {
        u32 w, h, bits, comp;
        u32 stride;
        u64 size, block;
    };
    const Case cases[] = {
        {5, 3, 8, 1, 8, 24, 32},
        {512, 512, 16, 3, 3072, 3072ull * 512, 3072ull * 512},
        {3, 2, 1, 1, 4, 8, 16},
        {7, 5, 16, 3, 44, 220, 224},
        {1, 1, 32, 4, 16, 16, 16},
    };
    for (const Case& c : cases) {
        QORPICTURE p;
        std::memset(&p, 0xA5, sizeof p);
        const u64 got = Qor_InitPicture(&p, c.w, c.h, c.bits, c.comp);
        EXPECT_EQ(got, c.block) << c.w << "x" << c.h;
        EXPECT_EQ(p.uiWidth, c.w);
        EXPECT_EQ(p.uiHeight, c.h);
        EXPECT_EQ(p.uiBpc, c.bits);
        EXPECT_EQ(p.uiComp, c.comp);
        EXPECT_EQ(p.uiWidthBytes, c.stride);
        EXPECT_EQ(p.uiSize, c.size);
        ASSERT_NE(p.pData, nullptr);
        const unsigned char* b = static_cast<const unsigned char*>(p.pData);
        EXPECT_EQ(b[0], 0);
        EXPECT_EQ(b[c.size - 1], 0);
        CKzAlloc::Free(p.pData);
    }
    // Sizes that overflow or exceed what is handed out: 0 and no block.
    const Case refused[] = {
        {0, 10, 8, 1, 0, 0, 0},
        {10, 0, 8, 1, 12, 0, 0},
        {0x40000000u, 2, 32, 4, 0, 0, 0},          // row beyond 32 bits
        {4, 4, 65, 1, 0, 0, 0},                    // no sample size
    };
    for (const Case& c : refused) {
        QORPICTURE p;
        std::memset(&p, 0xA5, sizeof p);
        EXPECT_EQ(Qor_InitPicture(&p, c.w, c.h, c.bits, c.comp), 0u) << c.w << "x" << c.h;
        EXPECT_EQ(p.pData, nullptr);
        EXPECT_EQ(p.uiWidthBytes, c.stride);
        EXPECT_EQ(p.uiSize, c.size);
    }
}

TEST_F(CapiWrite, FirstPictureGivesAnEmptyHandleItsGeometry)
{
    const int w = Qor_FileOpenForWrite(wpath("g.vt5").c_str());
    ASSERT_NE(w, 0);
    std::vector<Bytes> written;
    for (unsigned f = 0; f < 3; ++f) {
        Picture p(7, 5, 16, 3);
        p.fill(f);
        written.push_back(p.rows());
        ASSERT_EQ(Qor_FileAppendImageData(w, &p.p, nullptr), 0);
    }
    const SKzImageAttributes& a = Record(w)->m_Attributes;
    EXPECT_EQ(a.uiWidth, 7u);
    EXPECT_EQ(a.uiHeight, 5u);
    EXPECT_EQ(a.uiComp, 3u);
    EXPECT_EQ(a.uiBpcInMemory, 16);
    EXPECT_EQ(a.uiBpcSignificant, 16);
    EXPECT_EQ(a.uiWidthBytes, 44u);
    ASSERT_EQ(Close(w), 0);

    const int r = OpenRead(wpath("g.vt5"));
    ASSERT_NE(r, 0);
    const SKzImageAttributes& b = Record(r)->m_Attributes;
    EXPECT_EQ(b.uiWidth, 7u);
    EXPECT_EQ(b.uiHeight, 5u);
    EXPECT_EQ(b.uiComp, 3u);
    EXPECT_EQ(b.uiWidthBytes, 44u);
    EXPECT_EQ(b.uiSequenceCount, 3u);
    for (u32 f = 0; f < 3; ++f)
        EXPECT_EQ(ReadRows(r, f), written[f]) << f;
    EXPECT_EQ(Close(r), 0);

    // Width, height and depths set beforehand are kept; the picture fills in
    // only the component count.
    const int m = Qor_FileOpenForWrite(wpath("m.vt5").c_str());
    ASSERT_EQ(Qor_FileModifyAttributes(m, 9, 2, 16, 12), 0);
    EXPECT_EQ(Record(m)->m_Attributes.uiWidthBytes, 0u);  // no components yet
    Picture p(9, 2, 16, 1);
    p.fill(9);
    ASSERT_EQ(Qor_FileAppendImageData(m, &p.p, nullptr), 0);
    EXPECT_EQ(Record(m)->m_Attributes.uiComp, 1u);
    EXPECT_EQ(Record(m)->m_Attributes.uiBpcSignificant, 12);
    EXPECT_EQ(Record(m)->m_Attributes.uiWidthBytes, 20u);
    ASSERT_EQ(Close(m), 0);
    const int mr = OpenRead(wpath("m.vt5"));
    ASSERT_NE(mr, 0);
    EXPECT_EQ(Record(mr)->m_Attributes.uiBpcSignificant, 12);
    EXPECT_EQ(ReadRows(mr, 0), p.rows());
    EXPECT_EQ(Close(mr), 0);
}

TEST_F(CapiWrite, PicturesAreCheckedAndOtherStridesRepacked)
{
    const int w = Qor_FileOpenForWrite(wpath("s.vt5").c_str());
    ASSERT_NE(w, 0);
    Picture first(6, 3, 8, 2);  // rows of 12 bytes: the file's stride
    first.fill(1);
    ASSERT_EQ(Qor_FileAppendImageData(w, &first.p, nullptr), 0);

    // Host memory with 40-byte rows, the padding full of 0xEE.
    std::vector<unsigned char> host(40 * 3, 0xEE);
    const Bytes rows = ct::pattern(12 * 3, 2);
    for (int y = 0; y < 3; ++y)
        std::memcpy(host.data() + 40 * y, rows.data() + 12 * y, 12);
    QORPICTURE wide{6, 3, 8, 2, 40, 0, 120, host.data()};
    ASSERT_EQ(Qor_FileAppendImageData(w, &wide, nullptr), 0);

    // Pictures that do not fit the file: refused before a byte is read, and
    // each consumes its frame index.
    struct Bad {
        const char* what;
        QORPICTURE pic;
    };
    const Bad bad[] = {
        {"width", {5, 3, 8, 2, 12, 0, 36, host.data()}},
        {"height", {6, 4, 8, 2, 12, 0, 48, host.data()}},
        {"components", {6, 3, 8, 1, 12, 0, 36, host.data()}},
        {"sample size", {6, 3, 16, 2, 24, 0, 72, host.data()}},
        {"stride below the row", {6, 3, 8, 2, 11, 0, 36, host.data()}},
        {"size below stride x height", {6, 3, 8, 2, 40, 0, 119, host.data()}},
        {"no samples", {6, 3, 8, 2, 12, 0, 36, nullptr}},
    };
    for (const Bad& b : bad)
        EXPECT_EQ(Qor_FileAppendImageData(w, &b.pic, nullptr), -9) << b.what;
    EXPECT_EQ(Record(w)->m_uiFrameCount, 2u + std::size(bad));
    // Bits that round to the same sample size are accepted.
    QORPICTURE seven{6, 3, 7, 2, 12, 0, 36, first.p.pData};
    ASSERT_EQ(Qor_FileAppendImageData(w, &seven, nullptr), 0);
    ASSERT_EQ(Close(w), 0);

    const int r = OpenRead(wpath("s.vt5"));
    ASSERT_NE(r, 0);
    EXPECT_EQ(ReadRows(r, 0), first.rows());
    EXPECT_EQ(ReadRows(r, 1), rows);
    for (u32 f = 2; f < 2 + std::size(bad); ++f)
        EXPECT_TRUE(ReadRows(r, f).empty()) << f;
    EXPECT_EQ(ReadRows(r, 2 + std::size(bad)), first.rows());
    EXPECT_EQ(Close(r), 0);
}

TEST_F(CapiWrite, GeometryChangedAfterTheFirstFrame)
{
    const int w = Qor_FileOpenForWrite(wpath("c.vt5").c_str());
    ASSERT_NE(w, 0);
    Picture p(6, 3, 8, 1), q(6, 3, 8, 1), other(9, 3, 8, 1);
    p.fill(1);
    q.fill(2);
    ASSERT_EQ(Qor_FileAppendImageData(w, &p.p, nullptr), 0);
    ASSERT_EQ(Qor_FileAppendImageData(w, &q.p, nullptr), 0);
    // The frames already have their geometry: a later change of the handle's
    // attributes does not make the writer read pictures of another size.
    EXPECT_EQ(Qor_FileModifyAttributes(w, 9, 3, 8, 8), 0);
    EXPECT_EQ(Qor_FileAppendImageData(w, &other.p, nullptr), -9);
    ASSERT_EQ(Qor_FileAppendImageData(w, &p.p, nullptr), 0);
    // Attributes handed over later keep the frames stored so far counted.
    QORATTRIBUTES a{};
    a.uiWidth = 6;
    a.uiWidthBytes = 8;
    a.uiHeight = 3;
    a.uiComp = 1;
    a.uiBpcInMemory = a.uiBpcSignificant = 8;
    a.uiSequenceCount = 0;
    a.uiCompression = QOR_COMPRESSION_RAW;
    ASSERT_EQ(SKzQorFileHandle::FileSetAttributes(w, &a), 0);
    EXPECT_EQ(Record(w)->m_Attributes.uiSequenceCount, 4u);
    ASSERT_EQ(Close(w), 0);
    const int r = OpenRead(wpath("c.vt5"));
    ASSERT_NE(r, 0);
    EXPECT_EQ(Record(r)->m_Attributes.uiSequenceCount, 4u);
    EXPECT_EQ(ReadRows(r, 0), p.rows());
    EXPECT_EQ(ReadRows(r, 1), q.rows());
    EXPECT_TRUE(ReadRows(r, 2).empty());
    EXPECT_EQ(ReadRows(r, 3), p.rows());
    EXPECT_EQ(Close(r), 0);
}

TEST_F(CapiWrite, RowsBeyondThirtyTwoBitsTakeNoPicture)
{
    // 2^31 pixels of 2^31 components of 4 bytes: a row of 2^64 bytes, which
    // wraps to 0 in 64-bit arithmetic.
    const int w = Qor_FileOpenForWrite(wpath("huge.vt5").c_str());
    ASSERT_NE(w, 0);
    QORATTRIBUTES a{};
    a.uiWidth = 1u << 31;
    a.uiComp = 1u << 31;
    a.uiHeight = 1;
    a.uiBpcInMemory = a.uiBpcSignificant = 32;
    a.uiWidthBytes = 16;
    a.uiCompression = QOR_COMPRESSION_RAW;
    ASSERT_EQ(SKzQorFileHandle::FileSetAttributes(w, &a), 0);
    unsigned char bytes[16] = {};
    QORPICTURE p{1u << 31, 1, 32, 1u << 31, 16, 0, 16, bytes};
    EXPECT_EQ(Qor_FileAppendImageData(w, &p, nullptr), -9);
    Close(w);
}

TEST_F(CapiWrite, NullPictureSkipsAFrameButWritesTheDescription)
{
    MakeSource(wpath("src.vt5"), 2);
    const int src = OpenRead(wpath("src.vt5"));
    ASSERT_NE(src, 0);
    const int w = Qor_FileCreateModifiedFile(wpath("skip.vt5").c_str(), src, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, 0);
    EXPECT_EQ(Qor_FileAppendImageData(w, nullptr, nullptr), 0);
    EXPECT_EQ(Record(w)->m_uiFrameCount, 1u);
    Picture p(6, 4, 16, 2);
    p.fill(7);
    EXPECT_EQ(Qor_FileAppendImageData(w, &p.p, nullptr), 0);
    ASSERT_EQ(Close(w), 0);

    const int r = OpenRead(wpath("skip.vt5"));
    ASSERT_NE(r, 0);
    EXPECT_TRUE(ReadRows(r, 0).empty());
    EXPECT_EQ(ReadRows(r, 1), p.rows());
    ASSERT_NE(Record(r)->m_pMetadata, nullptr);
    EXPECT_EQ(Record(r)->m_pMetadata->sPicturePlanes.uiCount, 2u);
    EXPECT_EQ(Close(r), 0);

    // A handle from nothing whose first call has no picture still takes its
    // geometry from the next one.
    const int e = Qor_FileOpenForWrite(wpath("empty-first.vt5").c_str());
    ASSERT_NE(e, 0);
    EXPECT_EQ(Qor_FileAppendImageData(e, nullptr, nullptr), 0);
    EXPECT_EQ(Qor_FileAppendImageData(e, &p.p, nullptr), 0);
    ASSERT_EQ(Close(e), 0);
    const int er = OpenRead(wpath("empty-first.vt5"));
    ASSERT_NE(er, 0);
    EXPECT_TRUE(ReadRows(er, 0).empty());
    EXPECT_EQ(ReadRows(er, 1), p.rows());
    EXPECT_EQ(Close(er), 0);
    EXPECT_EQ(Close(src), 0);
}

TEST_F(CapiWrite, ModifiedFileAttributes)
{
    MakeSource(wpath("src.vt5"), 2);
    const int src = OpenRead(wpath("src.vt5"));
    ASSERT_NE(src, 0);
    QORATTRIBUTES a{};
    ConvertGetAttributes(a, Record(src)->m_Attributes);
    // The component and frame counts must stay: nothing is created.
    for (int which = 0; which < 2; ++which) {
        QORATTRIBUTES b = a;
        (which == 0 ? b.uiComp : b.uiSequenceCount) += 1;
        EXPECT_EQ(Qor_FileCreateModifiedFile(wpath("no.vt5").c_str(), src, &b, nullptr, nullptr, nullptr), 0);
        EXPECT_FALSE(std::filesystem::exists(path("no.vt5")));
    }
    // Width, height and depths are taken, the stride follows; stride, tiles
    // and compression of the record are not used.
    QORATTRIBUTES c = a;
    c.uiWidth = 512;
    c.uiHeight = 512;
    c.uiBpcInMemory = 16;
    c.uiBpcSignificant = 14;
    c.uiWidthBytes = 7;
    c.uiTileWidth = 64;
    c.uiCompression = 0;
    const int w = Qor_FileCreateModifiedFile(wpath("big.vt5").c_str(), src, &c, nullptr, nullptr, nullptr);
    ASSERT_NE(w, 0);
    const SKzImageAttributes& got = Record(w)->m_Attributes;
    EXPECT_EQ(got.uiWidth, 512u);
    EXPECT_EQ(got.uiHeight, 512u);
    EXPECT_EQ(got.uiWidthBytes, 2048u);  // 512 x 2 components x 2 bytes
    EXPECT_EQ(got.uiBpcSignificant, 14);
    EXPECT_EQ(got.uiTileWidth, 0u);
    EXPECT_EQ(got.eCompression, Record(src)->m_Attributes.eCompression);
    Close(w);
    EXPECT_EQ(Close(src), 0);
}

TEST_F(CapiWrite, AttributesSetOnAWriteHandleHoldForTheFirstFrame)
{
    const int w = Qor_FileOpenForWrite(wpath("a.vt5").c_str());
    ASSERT_NE(w, 0);
    QORATTRIBUTES a{};
    a.uiWidth = 8;
    a.uiHeight = 4;
    a.uiComp = 1;
    a.uiBpcInMemory = 8;
    a.uiBpcSignificant = 8;
    a.uiWidthBytes = 8;
    a.uiCompression = 0;  // deflated
    a.uiQuality = 900;
    ASSERT_EQ(SKzQorFileHandle::FileSetAttributes(w, &a), 0);
    EXPECT_EQ(Record(w)->m_Attributes.eCompression, 0);
    // One significant bit is refused by the writer: the handle keeps what it had.
    QORATTRIBUTES one = a;
    one.uiBpcSignificant = 1;
    EXPECT_EQ(SKzQorFileHandle::FileSetAttributes(w, &one), -9);
    EXPECT_EQ(Record(w)->m_Attributes.uiBpcSignificant, 8);
    Picture p(8, 4, 8, 1);
    p.fill(4);
    ASSERT_EQ(Qor_FileAppendImageData(w, &p.p, nullptr), 0);
    ASSERT_EQ(Close(w), 0);
    const int r = OpenRead(wpath("a.vt5"));
    ASSERT_NE(r, 0);
    EXPECT_EQ(Record(r)->m_Attributes.eCompression, 0);
    EXPECT_DOUBLE_EQ(Record(r)->m_Attributes.dCompressionParam, 9.0);
    EXPECT_EQ(ReadRows(r, 0), p.rows());
    EXPECT_EQ(Close(r), 0);
}

TEST_F(CapiWrite, MetadataDescriptions)
{
    MakeSource(wpath("src.vt5"), 1);
    const int src = OpenRead(wpath("src.vt5"));
    ASSERT_NE(src, 0);
    const int w = Qor_FileCreateModifiedFile(wpath("d.vt5").c_str(), src, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, 0);
    SKzPictureMetadata* md = Record(w)->m_pMetadata;
    ASSERT_NE(md, nullptr);
    // Another plane count: refused, the metadata unchanged.
    EXPECT_EQ(FileSetMetadataDesc(w, Description(3, 2.0).get()), -9);
    EXPECT_EQ(md->sPicturePlanes.uiCount, 2u);
    EXPECT_DOUBLE_EQ(md->dCalibration, 0.25);
    auto tooMany = Description(1, 2.0);
    tooMany->uiPlaneCount = 257;
    EXPECT_EQ(FileSetMetadataDesc(w, tooMany.get()), -9);
    // The same count: rewritten.
    EXPECT_EQ(FileSetMetadataDesc(w, Description(2, 2.0).get()), 0);
    EXPECT_DOUBLE_EQ(md->dCalibration, 2.0);
    Close(w);

    // A handle without metadata takes the description whole, also through
    // the older record.
    const int e = Qor_FileOpenForWrite(wpath("e.vt5").c_str());
    ASSERT_NE(e, 0);
    ASSERT_EQ(Record(e)->m_pMetadata, nullptr);
    EXPECT_EQ(FileSetMetadataDesc(e, Description(3, 0.5).get()), 0);
    ASSERT_NE(Record(e)->m_pMetadata, nullptr);
    EXPECT_EQ(Record(e)->m_pMetadata->sPicturePlanes.uiCount, 3u);
    EXPECT_TRUE(Record(e)->m_pMetadata->bCalibrated);
    Close(e);
    const int o = Qor_FileOpenForWrite(wpath("o.vt5").c_str());
    auto old = std::make_unique<QORMETADATA>();
    std::memset(old.get(), 0, sizeof(QORMETADATA));
    old->dTemperK = 310.0;
    old->uiPlaneCount = 1;
    old->uiCompCount = 1;
    old->sPlanes[0].uiCompCount = 1;
    EXPECT_EQ(SKzQorFileHandle::FileSetMetadata(o, old.get()), 0);
    ASSERT_NE(Record(o)->m_pMetadata, nullptr);
    EXPECT_DOUBLE_EQ(Record(o)->m_pMetadata->dTemperK, 310.0);
    old->uiPlaneCount = 2;
    EXPECT_EQ(SKzQorFileHandle::FileSetMetadata(o, old.get()), -9);
    Close(o);
    EXPECT_EQ(Close(src), 0);
}

// Layer masks of 6 x 4 pixels, one byte per pixel, 0 or 1.
Bytes Mask(unsigned seed)
{
    Bytes m = ct::pattern(24, seed);
    for (auto& v : m)
        v = v & 1;
    return m;
}

TEST_F(CapiWrite, ModifiedFileRoundTripWithLayersAndTags)
{
    const u32 frames = 3;
    MakeSource(wpath("src.vt5"), frames);
    const int src = OpenRead(wpath("src.vt5"));
    ASSERT_NE(src, 0);
    SKzQorFileHandle* s = Record(src);
    ASSERT_NE(s->m_pExperiment, nullptr);
    ASSERT_NE(s->m_pMetadata, nullptr);

    auto binaries = std::make_unique<QORBINARIES>();
    std::memset(binaries.get(), 0, sizeof(QORBINARIES));
    binaries->uiCount = 2;
    SetText(binaries->sBinaries[0].wsName, QOR_TEXT_LENGTH, L"Nuclei");
    SetText(binaries->sBinaries[0].wsComponentName, QOR_TEXT_LENGTH, L"Channel 0");
    binaries->sBinaries[0].uiColor = 0x00FF00;
    SetText(binaries->sBinaries[1].wsName, QOR_TEXT_LENGTH, L"Cells");
    binaries->sBinaries[1].uiColor = 0xFF0000;
    auto tags = std::make_unique<QORFILECUSTOMDATASET>();
    std::memset(tags.get(), 0, sizeof(QORFILECUSTOMDATASET));
    const char one[] = "first";
    const unsigned char two[] = {0, 1, 2, 3, 255};
    SetText(tags->sData[0].wsTag, QOR_CUSTOMDATA_TAG_LENGTH, L"HostOne");
    tags->sData[0].pData = const_cast<char*>(one);
    tags->sData[0].uiSize = sizeof one;
    SetText(tags->sData[1].wsTag, QOR_CUSTOMDATA_TAG_LENGTH, L"HostTwo");
    tags->sData[1].pData = const_cast<unsigned char*>(two);
    tags->sData[1].uiSize = sizeof two;
    tags->uiCount = 2;
    auto desc = Description(2, 0.125);
    SetText(desc->sPlanes[1].wsName, QOR_TEXT_LENGTH, L"Renamed");

    const int w = Qor_FileCreateModifiedFile(wpath("out.vt5").c_str(), src, nullptr, desc.get(), binaries.get(),
                                             tags.get());
    ASSERT_NE(w, 0);
    std::vector<Bytes> written, masks[2];
    for (u32 f = 0; f < frames; ++f) {
        Picture p(6, 4, 16, 2);
        p.fill(40 + f);
        written.push_back(p.rows());
        Picture layer[2] = {{6, 4, 8, 1}, {6, 4, 8, 1}};
        QORPICTURE layers[2];
        for (int l = 0; l < 2; ++l) {
            masks[l].push_back(Mask(10 * f + l));
            for (u32 y = 0; y < 4; ++y)
                std::memcpy(layer[l].bytes() + y * layer[l].p.uiWidthBytes, masks[l].back().data() + 6 * y, 6);
            layers[l] = layer[l].p;
        }
        ASSERT_EQ(Qor_FileAppendImageData(w, &p.p, layers), 0) << f;
    }
    ASSERT_EQ(Close(w), 0);

    const int r = OpenRead(wpath("out.vt5"));
    ASSERT_NE(r, 0);
    SKzQorFileHandle* got = Record(r);
    EXPECT_EQ(got->m_Attributes.uiSequenceCount, frames);
    for (u32 f = 0; f < frames; ++f)
        EXPECT_EQ(ReadRows(r, f), written[f]) << f;
    // Description: experiment and texts of the source, metadata from the record.
    ASSERT_NE(got->m_pExperiment, nullptr);
    EXPECT_TRUE(SKzExperiment::IsEqual(*got->m_pExperiment, *s->m_pExperiment, true, true));
    EXPECT_EQ(std::wstring(got->m_TextInfo.wsText[0].GetString()), L"Source sample");
    ASSERT_NE(got->m_pMetadata, nullptr);
    EXPECT_DOUBLE_EQ(got->m_pMetadata->dCalibration, 0.125);
    EXPECT_EQ(std::wstring(got->m_pMetadata->wsObjectiveName.GetString()), L"Plan 20x");
    ASSERT_EQ(got->m_pMetadata->sPicturePlanes.uiCount, 2u);
    EXPECT_EQ(std::wstring(got->m_pMetadata->sPicturePlanes.pPlanes[1].sDescription.GetString()), L"Renamed");
    // Tags: those of the record, not the source's.
    EXPECT_EQ(got->m_aCustomDataMap.size(), 2u);
    char buf[16] = {};
    EXPECT_EQ(got->GetCustomDataTag(L"HostOne", buf), sizeof one);
    EXPECT_STREQ(buf, one);
    unsigned char buf2[8] = {};
    ASSERT_EQ(got->GetCustomDataTag(L"HostTwo", buf2), sizeof two);
    EXPECT_EQ(0, std::memcmp(buf2, two, sizeof two));
    EXPECT_EQ(got->GetCustomDataTag(L"SourceTag", nullptr), 0u);
    // Layers: descriptors and every frame's masks.
    auto back = std::make_unique<QORBINARIES>();
    ASSERT_EQ(Qor_FileGetBinaryDescriptors(r, back.get()), 0);
    ASSERT_EQ(back->uiCount, 2u);
    EXPECT_EQ(std::wstring(back->sBinaries[0].wsName), L"Nuclei");
    EXPECT_EQ(std::wstring(back->sBinaries[0].wsComponentName), L"Channel 0");
    EXPECT_EQ(back->sBinaries[0].uiColor, 0x00FF00u);
    EXPECT_EQ(std::wstring(back->sBinaries[1].wsName), L"Cells");
    for (u32 f = 0; f < frames; ++f)
        for (int l = 0; l < 2; ++l) {
            Picture out(6, 4, 8, 1);
            ASSERT_EQ(Qor_FileGetBinary(r, f, l, &out.p), 0) << f << "/" << l;
            Bytes set = out.rows();
            for (auto& v : set)
                v = v != 0;
            EXPECT_EQ(set, masks[l][f]) << f << "/" << l;
        }
    EXPECT_EQ(Close(r), 0);

    // Without a tag record the new file takes the source's tags.
    const int w2 = Qor_FileCreateModifiedFile(wpath("out2.vt5").c_str(), src, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w2, 0);
    Picture p(6, 4, 16, 2);
    ASSERT_EQ(Qor_FileAppendImageData(w2, &p.p, nullptr), 0);
    ASSERT_EQ(Close(w2), 0);
    const int r2 = OpenRead(wpath("out2.vt5"));
    ASSERT_NE(r2, 0);
    char sbuf[32] = {};
    EXPECT_EQ(Record(r2)->GetCustomDataTag(L"SourceTag", sbuf), sizeof("source tag bytes"));
    EXPECT_STREQ(sbuf, "source tag bytes");
    EXPECT_EQ(Close(r2), 0);
    EXPECT_EQ(Close(src), 0);
}

TEST_F(CapiWrite, LayersWithoutDescriptorsAreIgnored)
{
    const int w = Qor_FileOpenForWrite(wpath("l.vt5").c_str());
    ASSERT_NE(w, 0);
    Picture p(6, 4, 8, 1), layer(6, 4, 8, 1);
    std::memset(layer.bytes(), 1, (size_t)layer.p.uiSize);
    ASSERT_EQ(Qor_FileAppendImageData(w, &p.p, &layer.p), 0);
    ASSERT_EQ(Close(w), 0);
    const int r = OpenRead(wpath("l.vt5"));
    ASSERT_NE(r, 0);
    QORBINARIES b;
    ASSERT_EQ(Qor_FileGetBinaryDescriptors(r, &b), 0);
    EXPECT_EQ(b.uiCount, 0u);
    EXPECT_EQ(Close(r), 0);
}

TEST_F(CapiWrite, ExistingFileIsReplacedOnlyAtTheClose)
{
    MakePlain(wpath("x.vt5"), 2, 1);
    const Bytes before = ct::readAll(path("x.vt5"));
    const int oldReader = OpenRead(wpath("x.vt5"));
    ASSERT_NE(oldReader, 0);
    const Bytes oldFrame = ReadRows(oldReader, 0);
    ASSERT_FALSE(oldFrame.empty());

    const int w = Qor_FileOpenForWrite(wpath("x.vt5").c_str());
    ASSERT_NE(w, 0);
    std::vector<Bytes> written;
    for (unsigned f = 0; f < 3; ++f) {
        Picture p(4, 4, 16, 1);
        p.fill(50 + f);
        written.push_back(p.rows());
        ASSERT_EQ(Qor_FileAppendImageData(w, &p.p, nullptr), 0);
    }
    // Until the close the old file is whole and a second file is written beside it.
    EXPECT_EQ(ct::readAll(path("x.vt5")), before);
    EXPECT_EQ(DirEntries(m_dir).size(), 2u);
    EXPECT_EQ(ReadRows(oldReader, 0), oldFrame);
    ASSERT_EQ(Close(w), 0);

    EXPECT_EQ(DirEntries(m_dir), std::vector<std::string>{"x.vt5"});
    const int r = OpenRead(wpath("x.vt5"));
    ASSERT_NE(r, 0);
    EXPECT_EQ(Record(r)->m_Attributes.uiSequenceCount, 3u);
    EXPECT_EQ(Record(r)->m_Attributes.uiWidth, 4u);
    for (u32 f = 0; f < 3; ++f)
        EXPECT_EQ(ReadRows(r, f), written[f]);
    EXPECT_EQ(Close(r), 0);
    // A reader opened before keeps reading the old data.
    EXPECT_EQ(ReadRows(oldReader, 0), oldFrame);
    EXPECT_EQ(Close(oldReader), 0);

    // A file derived onto its own source's path.
    const int src = OpenRead(wpath("x.vt5"));
    ASSERT_NE(src, 0);
    const int d = Qor_FileCreateModifiedFile(wpath("x.vt5").c_str(), src, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(d, 0);
    Picture q(4, 4, 16, 1);
    q.fill(99);
    ASSERT_EQ(Qor_FileAppendImageData(d, &q.p, nullptr), 0);
    EXPECT_EQ(ReadRows(src, 0), written[0]);
    ASSERT_EQ(Close(d), 0);
    EXPECT_EQ(ReadRows(src, 0), written[0]);
    EXPECT_EQ(Close(src), 0);
    const int again = OpenRead(wpath("x.vt5"));
    ASSERT_NE(again, 0);
    EXPECT_EQ(ReadRows(again, 0), q.rows());
    EXPECT_EQ(Close(again), 0);
    EXPECT_EQ(DirEntries(m_dir), std::vector<std::string>{"x.vt5"});
}

TEST_F(CapiWrite, ReplacementThroughALinkKeepsTheLinkAndTheMode)
{
    MakePlain(wpath("real.vt5"), 1, 1);
    std::filesystem::permissions(path("real.vt5"), std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write |
                                                        std::filesystem::perms::group_read);
    std::filesystem::create_symlink("real.vt5", path("link.vt5"));
    const int w = Qor_FileOpenForWrite(wpath("link.vt5").c_str());
    ASSERT_NE(w, 0);
    Picture p(3, 3, 8, 1);
    p.fill(5);
    ASSERT_EQ(Qor_FileAppendImageData(w, &p.p, nullptr), 0);
    ASSERT_EQ(Close(w), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.vt5")));
    EXPECT_EQ(std::filesystem::status(path("real.vt5")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
    const int r = OpenRead(wpath("real.vt5"));
    ASSERT_NE(r, 0);
    EXPECT_EQ(ReadRows(r, 0), p.rows());
    EXPECT_EQ(Close(r), 0);
    EXPECT_EQ(DirEntries(m_dir), (std::vector<std::string>{"link.vt5", "real.vt5"}));
}

TEST_F(CapiWrite, FailedCloseKeepsTheOldFile)
{
    MakePlain(wpath("x.vt5"), 2, 1);
    const Bytes before = ct::readAll(path("x.vt5"));
    const int w = Qor_FileOpenForWrite(wpath("x.vt5").c_str());
    ASSERT_NE(w, 0);
    Picture p(64, 64, 8, 1);
    p.fill(3);
    ASSERT_EQ(Qor_FileAppendImageData(w, &p.p, nullptr), 0);
    int closed;
    {
        // The chunk map and the final attributes cannot be written.
        FileSizeLimit limit(4096);
        closed = Close(w);
    }
    EXPECT_NE(closed, 0);
    EXPECT_EQ(ct::readAll(path("x.vt5")), before);
    EXPECT_EQ(DirEntries(m_dir), std::vector<std::string>{"x.vt5"});
    const int r = OpenRead(wpath("x.vt5"));
    ASSERT_NE(r, 0);
    EXPECT_EQ(Record(r)->m_Attributes.uiSequenceCount, 2u);
    EXPECT_EQ(Close(r), 0);
}

}  // namespace
