// Frame chunks whose header disagrees with the map or with the frame layout:
// both the whole-frame read and the rectangle read refuse them instead of
// serving bytes from the wrong place, and the reader goes on serving the
// intact frames.
#include <gtest/gtest.h>

#include <zlib.h>

#include <functional>
#include <string>

#include "vt5file/vt5io_test_support.h"

namespace {

using ct::Bytes;

const u32 kW = 12, kH = 5;  // 60-byte frames: no block multiple, so every layout rule shows

Bytes deflate(const Bytes& raw)
{
    uLongf n = compressBound((uLong)raw.size());
    Bytes out(n);
    EXPECT_EQ(compress2(out.data(), &n, raw.data(), (uLong)raw.size(), 6), Z_OK);
    out.resize(n);
    return out;
}

class VT5FrameChunkDamage : public ct::TempDirTest {
protected:
    // A file of the version with frames 0 and 1, raw (2) or deflated (0).
    void writeFile(const std::string& name, int version, i32 compression)
    {
        IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
        ASSERT_NE(w, nullptr);
        ASSERT_EQ(w->SetImageAttributes(vt::attrs(kW, kH, 1, 8, compression)), KZ_OK);
        m_f0 = ct::pattern(kW * kH, 7);
        m_f1 = ct::pattern(kW * kH, 8);
        ASSERT_EQ(w->FlushData(0, m_f0.data(), nullptr, nullptr), KZ_OK);
        ASSERT_EQ(w->FlushData(1, m_f1.data(), nullptr, nullptr), KZ_OK);
        w->Release();
    }

    // File offset of a chunk's header, from the map.
    u64 chunkOffset(const std::string& name, const char* chunk)
    {
        CKzFileChunker c;
        CKzStringA version;
        EXPECT_EQ(c.Initialize_File(wpath(name).c_str(), true, false, version), KZ_OK);
        SKzChunkMapMember m{0, 0};
        EXPECT_TRUE(c.GetMapMember(chunk, m));
        c.Finalize();
        return m.uiOffset;
    }

    // Replaces the frame chunk of frame 0 by one of the writer's layout
    // (time, then the given bytes on a block boundary).
    void replaceFrame0(const std::string& name, const Bytes& stored)
    {
        CKzFileChunker c;
        CKzStringA version;
        ASSERT_EQ(c.Initialize_File(wpath(name).c_str(), false, true, version), KZ_OK);
        const double t = 0.0;
        ASSERT_EQ(c.SetChunk(&t, 8, stored.data(), (unsigned)stored.size(), "ImageDataSeq|0!"), KZ_OK);
        ASSERT_EQ(c.Finalize(), KZ_OK);
    }

    Bytes m_f0, m_f1;
};

struct DamageCase {
    const char* what;
    i32 compression;
    // Changes the file bytes; `at` is the offset of frame 0's chunk header.
    std::function<void(Bytes& file, u64 at)> patch;
    // Or replaces frame 0's chunk by these bytes after the time (when patch is empty).
    std::function<Bytes(const Bytes& frame)> stored;
    int whole;  // whole-frame read of frame 0
    int rect;   // rectangle read of frame 0 (deflated frames are no rectangle source)
};

void addTo32(Bytes& f, u64 at, int delta)
{
    const u32 v = ct::le32(f, at) + delta;
    for (int i = 0; i < 4; ++i)
        f[at + i] = (u8)(v >> (8 * i));
}

void addTo64(Bytes& f, u64 at, int delta)
{
    const u64 v = ct::le64(f, at) + delta;
    for (int i = 0; i < 8; ++i)
        f[at + i] = (u8)(v >> (8 * i));
}

const DamageCase kCases[] = {
    {"intact raw", 2, [](Bytes&, u64) {}, nullptr, KZ_OK, KZ_OK},
    {"intact deflated", 0, [](Bytes&, u64) {}, nullptr, KZ_OK, KZ_ERR_NOT_SUPPORTED},
    {"raw, name field one longer", 2, [](Bytes& f, u64 at) { addTo32(f, at + 4, 1); }, nullptr, KZ_ERR_FAILED,
     KZ_ERR_FAILED},
    {"raw, name field one shorter", 2, [](Bytes& f, u64 at) { addTo32(f, at + 4, -1); }, nullptr, KZ_ERR_FAILED,
     KZ_ERR_FAILED},
    {"deflated, name field one longer", 0, [](Bytes& f, u64 at) { addTo32(f, at + 4, 1); }, nullptr, KZ_ERR_FAILED,
     KZ_ERR_NOT_SUPPORTED},
    {"deflated, name field one shorter", 0, [](Bytes& f, u64 at) { addTo32(f, at + 4, -1); }, nullptr,
     KZ_ERR_FAILED, KZ_ERR_NOT_SUPPORTED},
    // "ImageDataSeq|0!": the index names another frame, or the "!" is gone.
    {"raw, name names frame 7", 2, [](Bytes& f, u64 at) { f[at + 16 + 13] = '7'; }, nullptr, KZ_ERR_FAILED,
     KZ_ERR_FAILED},
    {"raw, name without its end mark", 2, [](Bytes& f, u64 at) { f[at + 16 + 14] = '?'; }, nullptr,
     KZ_ERR_FAILED, KZ_ERR_FAILED},
    {"deflated, name names frame 7", 0, [](Bytes& f, u64 at) { f[at + 16 + 13] = '7'; }, nullptr, KZ_ERR_FAILED,
     KZ_ERR_NOT_SUPPORTED},
    {"raw, data length one more", 2, [](Bytes& f, u64 at) { addTo64(f, at + 8, 1); }, nullptr, KZ_ERR_FAILED,
     KZ_ERR_FAILED},
    {"raw, data length one less", 2, [](Bytes& f, u64 at) { addTo64(f, at + 8, -1); }, nullptr, KZ_ERR_FAILED,
     KZ_ERR_FAILED},
    {"deflated, data length one more", 0, [](Bytes& f, u64 at) { addTo64(f, at + 8, 1); }, nullptr, KZ_ERR_FAILED,
     KZ_ERR_NOT_SUPPORTED},
    {"deflated, data length one less", 0, [](Bytes& f, u64 at) { addTo64(f, at + 8, -1); }, nullptr,
     KZ_ERR_FAILED, KZ_ERR_NOT_SUPPORTED},
    // Chunks that agree with the map but do not hold one frame of the
    // attributes' storage.
    {"raw frame holding a zlib stream", 2, nullptr, [](const Bytes& f) { return deflate(f); }, KZ_ERR_FAILED,
     KZ_ERR_FAILED},
    {"raw frame one byte long", 2, nullptr, [](const Bytes& f) { Bytes b = f; b.push_back(1); return b; },
     KZ_ERR_FAILED, KZ_ERR_FAILED},
    {"raw frame one byte short", 2, nullptr, [](const Bytes& f) { return Bytes(f.begin(), f.end() - 1); },
     KZ_ERR_FAILED, KZ_ERR_FAILED},
    {"deflated frame holding raw bytes", 0, nullptr, [](const Bytes& f) { return f; }, KZ_ERR_FAILED,
     KZ_ERR_NOT_SUPPORTED},
    // Bytes after the end of the stream are not damage: the frame reads.
    {"deflated stream followed by a stray byte", 0, nullptr,
     [](const Bytes& f) { Bytes b = deflate(f); b.push_back(0); return b; }, KZ_OK, KZ_ERR_NOT_SUPPORTED},
    {"deflated stream cut by a byte", 0, nullptr,
     [](const Bytes& f) { Bytes b = deflate(f); b.pop_back(); return b; }, KZ_ERR_FAILED, KZ_ERR_NOT_SUPPORTED},
};

TEST_F(VT5FrameChunkDamage, HeaderOrLengthDisagreeingIsAnErrorNotData)
{
    for (int version : {2, 3})
        for (const DamageCase& c : kCases) {
            SCOPED_TRACE(std::string(c.what) + ", version " + std::to_string(version));
            const std::string name = "d" + std::to_string(version) + ".vt5";
            writeFile(name, version, c.compression);
            if (c.patch) {
                const u64 at = chunkOffset(name, "ImageDataSeq|0!");
                Bytes file = ct::readAll(path(name));
                ASSERT_LT(at + 32, file.size());
                c.patch(file, at);
                ct::writeAll(path(name), file);
            } else {
                replaceFrame0(name, c.stored(m_f0));
            }
            IKzInputImageFile* r = vt::openReader(wpath(name));
            ASSERT_NE(r, nullptr);
            Bytes whole(kW * kH + 16, 0xEE);
            EXPECT_EQ(r->GetData(0, whole.data(), nullptr, nullptr), c.whole);
            if (c.whole == KZ_OK)
                EXPECT_EQ(Bytes(whole.begin(), whole.begin() + kW * kH), m_f0);
            // The whole frame at its own size, one row of padding per row.
            const u32 rowBytes = kW + 3;
            Bytes rect(rowBytes * kH, 0xEE);
            EXPECT_EQ(r->GetRectData(0, kW, kH, 0, 0, kW, kH, rect.data(), rowBytes, 0, nullptr, nullptr), c.rect);
            for (u32 y = 0; y < kH && c.rect == KZ_OK; ++y)
                EXPECT_EQ(Bytes(rect.begin() + y * rowBytes, rect.begin() + y * rowBytes + kW),
                          Bytes(m_f0.begin() + y * kW, m_f0.begin() + (y + 1) * kW));
            if (c.rect != KZ_OK)
                EXPECT_EQ(rect, Bytes(rowBytes * kH, 0xEE)) << "nothing served";
            // The next frame is untouched and still read.
            EXPECT_EQ(r->GetData(1, whole.data(), nullptr, nullptr), KZ_OK);
            EXPECT_EQ(Bytes(whole.begin(), whole.begin() + kW * kH), m_f1);
            r->Release();
        }
}

TEST_F(VT5FrameChunkDamage, RebuiltMapStillServesIntactFrames)
{
    // A rebuilt map lists whole chunk lengths instead of data lengths: the
    // header check accepts both forms.
    writeFile("rb.vt5", 3, 2);
    Bytes file = ct::readAll(path("rb.vt5"));
    file.resize(file.size() - 40);  // trailer gone: the map cannot be found
    ct::writeAll(path("rb.vt5"), file);
    {
        CKzFileChunker c;
        CKzStringA version;
        ASSERT_EQ(c.Initialize_File(wpath("rb.vt5").c_str(), true, true, version), KZ_ERR_NOT_FOUND);
        ASSERT_EQ(c.CreateMissingChunkMap(nullptr, nullptr, nullptr), KZ_OK);
        c.Finalize();
    }
    IKzInputImageFile* r = vt::openReader(wpath("rb.vt5"));
    ASSERT_NE(r, nullptr);
    Bytes whole(kW * kH);
    EXPECT_EQ(r->GetData(1, whole.data(), nullptr, nullptr), KZ_OK);
    EXPECT_EQ(whole, m_f1);
    Bytes rect(kW * kH);
    EXPECT_EQ(r->GetRectData(0, kW, kH, 0, 0, kW, kH, rect.data(), kW, 0, nullptr, nullptr), KZ_OK);
    EXPECT_EQ(rect, m_f0);
    r->Release();
}

}  // namespace
