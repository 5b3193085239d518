// Rectangle reads, component reads and loading a picture straight from a
// file, against the nearest-neighbour formulas computed here.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/ImageFormatManager.h"
#include "vt5file/vt5io_test_support.h"

namespace {

using ct::Bytes;

class VT5Rect : public ct::TempDirTest {
protected:
    // A file of two raw frames; returns frame 1.
    Bytes writeFile(const std::string& name, int version, const SKzImageAttributes& a)
    {
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        EXPECT_EQ(w->SetImageAttributes(a), KZ_OK);
        const SKzImageAttributes& n = static_cast<CKzVT5OutputFile_V02*>(w)->GetAttributes();
        SKzImageAttributes norm = n;
        norm.uiBpcInMemory = (u8)((a.uiBpcInMemory + 7) / 8 * 8);
        Bytes f0 = vt::frame(norm, 3), f1 = vt::frame(norm, 4);
        EXPECT_EQ(w->FlushData(0, f0.data(), nullptr, nullptr), KZ_OK);
        EXPECT_EQ(w->FlushData(1, f1.data(), nullptr, nullptr), KZ_OK);
        w->Release();
        return f1;
    }
};

// The rectangle as the formulas give it: output column i takes source column
// min(floor((x + i + 0.5) * W / vW), W - 1), rows alike.
Bytes expectedRect(const Bytes& frame, u32 W, u32 H, u32 stride, u32 pixel, u32 vW, u32 vH, u32 x, u32 y, u32 w,
                   u32 h, u32 rowBytes, u8 fill)
{
    Bytes out((size_t)rowBytes * h, fill);
    for (u32 j = 0; j < h; ++j) {
        const u32 r = std::min<u32>((u32)std::floor((y + j + 0.5) * H / vH), H - 1);
        for (u32 i = 0; i < w; ++i) {
            const u32 c = std::min<u32>((u32)std::floor((x + i + 0.5) * W / vW), W - 1);
            for (u32 b = 0; b < pixel; ++b)
                out[(size_t)j * rowBytes + i * pixel + b] = frame[(size_t)r * stride + c * pixel + b];
        }
    }
    return out;
}

struct RectCase {
    const char* what;
    u32 vW, vH, x, y, w, h, extraRow;
};

const RectCase kRects[] = {
    {"identity", 12, 7, 0, 0, 12, 7, 0},
    {"identity repacked", 12, 7, 0, 0, 12, 7, 5},
    {"enlarged twice", 24, 14, 0, 0, 24, 14, 0},
    {"enlarged window", 36, 21, 5, 3, 9, 8, 3},
    {"reduced to half", 6, 4, 0, 0, 6, 4, 0},
    {"reduced window", 5, 3, 1, 1, 3, 2, 1},
    {"beyond the virtual size", 12, 7, 10, 5, 6, 5, 0},
    {"far beyond", 4, 4, 100, 100, 3, 2, 0},
    {"odd ratio", 17, 11, 2, 2, 13, 9, 2},
};

TEST_F(VT5Rect, MatchesTheFormulas)
{
    struct Shape { u32 comp; u8 bits; u32 rowBytes; };
    const Shape shapes[] = {{1, 8, 0}, {3, 8, 40}, {2, 16, 0}, {3, 12, 0}};
    int n = 0;
    for (int version : {2, 3})
        for (const Shape& s : shapes) {
            const SKzImageAttributes a = vt::attrs(12, 7, s.comp, s.bits, 2, 1.0, s.rowBytes);
            const std::string name = "r" + std::to_string(n++) + ".vt5";
            const Bytes f1 = writeFile(name, version, a);
            const u32 sample = s.bits <= 8 ? 1 : 2;
            const u32 pixel = s.comp * sample;
            const u32 stride = s.rowBytes ? s.rowBytes : 12 * pixel;
            IKzInputImageFile* r = vt::openReader(wpath(name));
            for (const RectCase& c : kRects) {
                SCOPED_TRACE(testing::Message() << c.what << " version " << version << " comp " << s.comp << " bits "
                                                << (int)s.bits);
                const u32 rowBytes = c.w * pixel + c.extraRow;
                Bytes got((size_t)rowBytes * c.h, 0xAB);
                ASSERT_EQ(r->GetRectData(1, c.vW, c.vH, c.x, c.y, c.w, c.h, got.data(), rowBytes, 0, nullptr, nullptr),
                          KZ_OK);
                EXPECT_EQ(got, expectedRect(f1, 12, 7, stride, pixel, c.vW, c.vH, c.x, c.y, c.w, c.h, rowBytes, 0xAB));
            }
            r->Release();
        }
}

TEST_F(VT5Rect, HalfWidthTakesOddColumns)
{
    const SKzImageAttributes a = vt::attrs(8, 1, 1, 8, 2);
    const Bytes f1 = writeFile("h.vt5", 3, a);
    IKzInputImageFile* r = vt::openReader(wpath("h.vt5"));
    Bytes got(4);
    ASSERT_EQ(r->GetRectData(1, 4, 1, 0, 0, 4, 1, got.data(), 4, 0, nullptr, nullptr), KZ_OK);
    EXPECT_EQ(got, (Bytes{f1[1], f1[3], f1[5], f1[7]}));
    r->Release();
}

bool stopAt(double fraction, void* user)
{
    auto* calls = static_cast<std::vector<double>*>(user);
    calls->push_back(fraction);
    return fraction >= 0.5;
}

bool stopNow(double, void*) { return true; }

TEST_F(VT5Rect, ProgressAndRefusals)
{
    const SKzImageAttributes a = vt::attrs(6, 4, 1, 8, 2);
    const Bytes f1 = writeFile("p.vt5", 3, a);
    IKzInputImageFile* r = vt::openReader(wpath("p.vt5"));
    Bytes got(24, 0xCD);
    EXPECT_EQ(r->GetRectData(1, 6, 4, 0, 0, 6, 4, got.data(), 6, 0, stopNow, nullptr), KZ_ERR_TRUNCATED);
    EXPECT_EQ(got, Bytes(24, 0xCD)) << "nothing copied";
    std::vector<double> calls;
    EXPECT_EQ(r->GetRectData(1, 6, 4, 0, 0, 6, 4, got.data(), 6, 0, stopAt, &calls), KZ_ERR_TRUNCATED);
    EXPECT_EQ(calls, (std::vector<double>{0.0, 0.25, 0.5}));
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 12), Bytes(f1.begin(), f1.begin() + 12));
    EXPECT_EQ(got[12], 0xCD);

    struct Bad { u32 seq, vW, vH, w, h, rowBytes; int result; };
    const Bad bad[] = {{7, 6, 4, 6, 4, 6, KZ_ERR_NOT_FOUND}, {1, 0, 4, 6, 4, 6, KZ_ERR_FAILED},
                       {1, 6, 0, 6, 4, 6, KZ_ERR_FAILED},    {1, 6, 4, 6, 4, 5, KZ_ERR_FAILED}};
    for (const Bad& b : bad)
        EXPECT_EQ(r->GetRectData(b.seq, b.vW, b.vH, 0, 0, b.w, b.h, got.data(), b.rowBytes, 0, nullptr, nullptr),
                  b.result);
    r->Release();

    // Deflated frames: -2 in version 2; in version 3 without thumbnail too.
    for (int version : {2, 3}) {
        const std::string name = "d" + std::to_string(version) + ".vt5";
        writeFile(name, version, vt::attrs(6, 4, 1, 8, 0));
        r = vt::openReader(wpath(name));
        EXPECT_EQ(r->GetRectData(1, 6, 4, 0, 0, 6, 4, got.data(), 6, 0, nullptr, nullptr), KZ_ERR_NOT_SUPPORTED);
        r->Release();
    }
}

TEST_F(VT5Rect, SampleDepths)
{
    struct Depth { u8 bits; i32 type; int result; };
    const Depth depths[] = {{24, 1, KZ_ERR_NOT_SUPPORTED}, {32, 1, KZ_ERR_NOT_SUPPORTED}, {32, 2, KZ_OK}};
    int n = 0;
    for (const Depth& d : depths) {
        const std::string name = "s" + std::to_string(n++) + ".vt5";
        SKzImageAttributes a = vt::attrs(5, 3, 2, d.bits, 2);
        a.ePixelType = d.type;
        const Bytes f1 = writeFile(name, 3, a);
        IKzInputImageFile* r = vt::openReader(wpath(name));
        const u32 pixel = 2 * (d.bits / 8);
        Bytes got(10 * pixel * 6);
        EXPECT_EQ(r->GetRectData(1, 10, 6, 0, 0, 10, 6, got.data(), 10 * pixel, 0, nullptr, nullptr), d.result);
        if (d.result == KZ_OK)
            EXPECT_EQ(got, expectedRect(f1, 5, 3, 5 * pixel, pixel, 10, 6, 0, 0, 10, 6, 10 * pixel, 0));
        r->Release();
    }
}

Bytes thumbnailBlob(u32 w, u32 h, u32 comp, u32 bpc, u32 rowBytes, const Bytes& data)
{
    CKzLiteVariantW lw;
    lw.LevelBegin(L"Thumbnail");
    lw.Set(comp, L"uiComp");
    lw.Set(bpc, L"uiBpc");
    lw.Set(rowBytes, L"uiWidthBytes");
    lw.Set(h, L"uiHeight");
    lw.Set(w, L"uiWidth");
    lw.Set(data.data(), (unsigned long)data.size(), L"pData");
    lw.LevelEnd();
    CKzLiteVariantR blob;
    lw.Finalize(blob);
    return Bytes(blob.GetData(), blob.GetData() + blob.GetSize());
}

TEST_F(VT5Rect, ThumbnailStandsForDeflatedFrames)
{
    const Bytes thumb = ct::pattern(4 * 3 * 3 + 4, 8);  // 4x3 pixels of 3 bytes, rows of 12 bytes + slack
    struct Case { const char* what; u32 comp, bpc, rowBytes; size_t dataSize; u32 w, h; int result; };
    const Case cases[] = {
        {"whole virtual picture", 3, 8, 12, thumb.size(), 9, 5, KZ_OK},
        {"other components", 1, 8, 12, thumb.size(), 9, 5, KZ_ERR_NOT_SUPPORTED},
        {"other sample size", 3, 16, 12, thumb.size(), 9, 5, KZ_ERR_NOT_SUPPORTED},
        {"short data", 3, 8, 12, 30, 9, 5, KZ_ERR_NOT_SUPPORTED},
        {"row too short for its pixels", 3, 8, 11, thumb.size(), 9, 5, KZ_ERR_OUT_OF_MEMORY},
        {"part of the picture", 3, 8, 12, thumb.size(), 8, 5, KZ_ERR_NOT_SUPPORTED},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "t" + std::to_string(n++) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), 3);
        w->SetImageAttributes(vt::attrs(40, 30, 3, 8, 0));
        Bytes f(40 * 30 * 3, 1);
        w->FlushData(0, f.data(), nullptr, nullptr);
        const Bytes data(thumb.begin(), thumb.begin() + c.dataSize);
        const Bytes blob = thumbnailBlob(4, 3, c.comp, c.bpc, c.rowBytes, data);
        ASSERT_EQ(w->SetCustomData(L"Thumbnail_V1_0", blob.data(), blob.size()), KZ_OK);
        w->Release();
        IKzInputImageFile* r = vt::openReader(wpath(name));
        Bytes got(9 * 3 * 5, 0xEE);
        EXPECT_EQ(r->GetRectData(0, 9, 5, 0, 0, c.w, c.h, got.data(), 27, 0, nullptr, nullptr), c.result);
        if (c.result == KZ_OK)
            EXPECT_EQ(got, expectedRect(thumb, 4, 3, 12, 3, 9, 5, 0, 0, 9, 5, 27, 0));
        r->Release();
    }
}

TEST_F(VT5Rect, ComponentData)
{
    SKzImageAttributes a = vt::attrs(5, 3, 3, 12, 2);
    const Bytes f1 = writeFile("c.vt5", 3, a);
    IKzInputImageFile* r = vt::openReader(wpath("c.vt5"));
    for (u32 comp = 0; comp < 3; ++comp) {
        // Into component 0 of a two-component picture with padded rows.
        const u32 rowBytes = 5 * 2 * 2 + 6;
        Bytes got(rowBytes * 3, 0x11);
        ASSERT_EQ(r->GetComponentData(1, comp, got.data(), rowBytes, 2), KZ_OK);
        Bytes want(rowBytes * 3, 0x11);
        for (u32 y = 0; y < 3; ++y)
            for (u32 x = 0; x < 5; ++x)
                for (u32 b = 0; b < 2; ++b)
                    want[y * rowBytes + x * 4 + b] = f1[y * 30 + x * 6 + comp * 2 + b];
        EXPECT_EQ(got, want) << comp;
    }
    Bytes got(100);
    EXPECT_EQ(r->GetComponentData(1, 3, got.data(), 20, 1), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(r->GetComponentData(1, 0, nullptr, 20, 1), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(r->GetComponentData(9, 0, got.data(), 20, 1), KZ_ERR_NOT_FOUND);
    r->Release();
}

TEST_F(VT5Rect, LoadPictureFromFile)
{
    SKzPicBuf pic;
    CKzPicBufAPI::Init(&pic);
    double first = 5, second = 5;
    EXPECT_EQ(KZ_LoadPictureFromFile(wpath("missing.vt5").c_str(), &pic, &first, &second, nullptr, nullptr),
              KZ_ERR_FAILED);
    EXPECT_EQ(first, 5.0);
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        const std::string name = "l" + std::to_string(version) + ".vt5";
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        const SKzImageAttributes a = vt::attrs(7, 3, 3, 16, 0, 6.0, 48);
        w->SetImageAttributes(a);
        const Bytes f0 = vt::frame(a, 1);
        w->FlushData(0, const_cast<u8*>(f0.data()), nullptr, nullptr);
        w->Release();
        ASSERT_EQ(KZ_LoadPictureFromFile(wpath(name).c_str(), &pic, &first, &second, nullptr, nullptr), KZ_OK);
        EXPECT_EQ(first, 0.0);
        EXPECT_EQ(second, 1.0);
        EXPECT_EQ(pic.uiWidth, 7u);
        EXPECT_EQ(pic.uiHeight, 3u);
        EXPECT_EQ(pic.uiWidthBytes, 48u);
        EXPECT_EQ(pic.uiComp, 3u);
        EXPECT_EQ(pic.uiBpc, 16);
        ASSERT_EQ(pic.uiSize, f0.size());
        EXPECT_EQ(Bytes(pic.pData, pic.pData + pic.uiSize), f0);
    }
    CKzPicBufAPI::Free(&pic);
}

}  // namespace

namespace {

TEST_F(VT5Rect, HugeClaimedFramesAllocateNothing)
{
    // Attributes claiming 60000 x 60000 x 4 samples of 16 bits (about 29 GB a
    // frame) over tiny frame chunks: refused before any picture is allocated.
    struct Case { i32 compression; size_t stored; };
    int n = 0;
    for (const Case& c : {Case{2, 100}, Case{0, 100}, Case{0, 20000}}) {
        const std::string name = "huge" + std::to_string(n++) + ".vt5";
        CKzLiteVariantW lw;
        lw.LevelBegin(L"SKzImageAttributes");
        lw.Set(60000u, L"uiWidth");
        lw.Set(480000u, L"uiWidthBytes");
        lw.Set(60000u, L"uiHeight");
        lw.Set(4u, L"uiComp");
        lw.Set(16, L"uiBpcInMemory");
        lw.Set(16, L"uiBpcSignificant");
        lw.Set(1u, L"uiSequenceCount");
        lw.Set((int)c.compression, L"eCompression");
        lw.LevelEnd();
        CKzLiteVariantR blob;
        lw.Finalize(blob);
        CKzFileChunker ch;
        CKzStringA v("Ver3.0");
        ASSERT_EQ(ch.Initialize_File(wpath(name).c_str(), false, false, v), KZ_OK);
        ASSERT_EQ(ch.SetChunk(blob, "ImageAttributesLV!"), KZ_OK);
        const Bytes body = ct::pattern(8 + c.stored, 1);
        ASSERT_EQ(ch.SetChunk(body.data(), (unsigned)body.size(), "ImageDataSeq|0!"), KZ_OK);
        ASSERT_EQ(ch.Finalize(), KZ_OK);

        IKzInputImageFile* r = vt::openReader(wpath(name));
        Bytes out(64);
        EXPECT_EQ(r->GetComponentData(0, 1, out.data(), 8, 1), KZ_ERR_FAILED) << name;
        r->Release();
        SKzPicBuf pic;
        CKzPicBufAPI::Init(&pic);
        EXPECT_EQ(KZ_LoadPictureFromFile(wpath(name).c_str(), &pic, nullptr, nullptr, nullptr, nullptr),
                  KZ_ERR_FAILED);
        EXPECT_EQ(pic.pData, nullptr);
    }
}

}  // namespace
