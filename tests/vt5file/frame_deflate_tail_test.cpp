// A deflated frame whose chunk holds a few bytes after the end of its zlib
// stream (header and map entry agreeing on that length) still reads: the
// frame is what the stream inflates to, as zlib's uncompress gives it.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <vector>

#include "gnr_system/CKzLiteVariant.h"
#include "vt5file/KzVT5Names.h"
#include "vt5io_test_support.h"

namespace {

using ct::Bytes;

const u32 kW = 4, kH = 2;

void MakeDeflatedFile(const std::wstring& path, const Bytes& pixels, size_t tail)
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
        w.Set(1u, L"uiSequenceCount");
        w.Set(0, L"eCompression");
        w.LevelEnd();
        CKzLiteVariantR r;
        ASSERT_TRUE(w.Finalize(r));
        ASSERT_EQ(c.SetChunk(r.GetData(), (unsigned)r.GetSize(), vt5names::kAttributesLV), KZ_OK);
    }
    uLongf n = compressBound(uLong(pixels.size()));
    Bytes z(n);
    ASSERT_EQ(compress2(z.data(), &n, pixels.data(), uLong(pixels.size()), 6), Z_OK);
    z.resize(n + tail, 0);
    const double time = 5.0;
    ASSERT_EQ(c.SetChunk(&time, 8, z.data(), (unsigned)z.size(), vt5names::Indexed(vt5names::kFrame, 0).c_str()),
              KZ_OK);
    ASSERT_EQ(c.Finalize(), KZ_OK);
}

class FrameDeflateTail : public ct::TempDirTest {};

TEST_F(FrameDeflateTail, BytesAfterTheStreamDoNotMakeTheFrameUnreadable)
{
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8};
    int n = 0;
    for (size_t tail : {size_t(0), size_t(1), size_t(4)}) {
        SCOPED_TRACE(tail);
        const std::wstring path = wpath("t" + std::to_string(n++) + ".vt5");
        MakeDeflatedFile(path, pixels, tail);
        IKzInputImageFile* r = vt::openReader(path);
        ASSERT_NE(r, nullptr);
        SKzImageAttributes a = vt::attrs(0, 0, 0, 0, 0);
        EXPECT_EQ(r->GetImageAttributes(a), KZ_OK);
        Bytes got(kW * kH, 0xEE);
        EXPECT_EQ(r->GetData(0, got.data(), nullptr, nullptr), KZ_OK);
        EXPECT_EQ(got, pixels);
        r->Release();
    }
}

} // namespace
