// Layers of frames stored by other writers: blobs the reader must take as stored,
// and blobs whose length word claims far more than the frame's layer can hold.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "gnr_system/CKzAlloc.h"
#include "w32_qorfilesdk/CKzBinaryMetadata.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/handle_test_support.h"
#include "../gnr_picture/rle_test_support.h"

using namespace ht;

namespace {

typedef SKzQorFileHandle H;
constexpr u32 kW = 40, kH = 30;

// A file of kW x kH frames whose layer 0 of frame 0 holds `blob` as stored.
std::string FileWithLayer(const char* name, const std::vector<u8>& blob)
{
    CKzBinaryMetadata desc;
    CKzBinaryMetadata::SKzBinaryItem item;
    CKzBinaryMetadata::InitItem(item);
    item.strName = L"Layer";
    desc.AddItem(item);
    CKzVariant root;
    desc.SaveToVariant(root);
    const std::string path = TempName(name);
    FileSpec spec;
    spec.width = kW;
    spec.height = kH;
    spec.frames = 1;
    spec.descriptors = false;
    WriteFile(path, spec);
    CKzImageFormatVT5 format;
    IKzOutputImageFile* wr = nullptr;
    EXPECT_EQ(format.CreateOutputImageFile(CKzStringW(W(path).c_str()), wr), 0);
    EXPECT_EQ(wr->SetCustomDataVar(L"BinaryMetadata_v1", &root), 0);
    EXPECT_EQ(wr->SetCustomDataSeq(L"RleZipBinarySequence_1_v1", 0, blob.data(), blob.size()), 0);
    wr->Finalize();
    wr->Release();
    return path;
}

std::vector<u8> Compressed(const std::vector<u8>& raw, u32 lengthWord)
{
    uLongf len = compressBound(raw.size());
    std::vector<u8> out(4 + len);
    EXPECT_EQ(compress2(out.data() + 4, &len, raw.data(), raw.size(), 6), Z_OK);
    out.resize(4 + len);
    std::memcpy(out.data(), &lengthWord, 4);
    return out;
}

// A zlib stream of about `bytes` bytes that inflates to zeros at about 1000:1: one
// block of zeros after a full flush repeats byte for byte. It is cut before its
// end, which only a reader that inflated it all would notice.
std::vector<u8> StreamOfZeros(size_t bytes)
{
    z_stream zs{};
    EXPECT_EQ(deflateInit(&zs, 9), Z_OK);
    std::vector<u8> zeros(size_t(16) << 20, 0), out;
    auto chunk = [&]() {
        std::vector<u8> buf(deflateBound(&zs, zeros.size()) + 64);
        zs.next_in = zeros.data();
        zs.avail_in = uInt(zeros.size());
        zs.next_out = buf.data();
        zs.avail_out = uInt(buf.size());
        EXPECT_EQ(deflate(&zs, Z_FULL_FLUSH), Z_OK);
        buf.resize(buf.size() - zs.avail_out);
        return buf;
    };
    out = chunk();
    const std::vector<u8> again = chunk();
    deflateEnd(&zs);
    while (out.size() < bytes) out.insert(out.end(), again.begin(), again.end());
    return out;
}

// An 8-bit kW x kH host picture over `bytes`, every byte 0x5C so that writes show.
QORPICTURE Frame(std::vector<u8>& bytes)
{
    bytes.assign(kW * kH, 0x5C);
    QORPICTURE out;
    std::memset(&out, 0, sizeof out);
    out.uiWidth = kW;
    out.uiHeight = kH;
    out.uiBpc = 8;
    out.uiComp = 1;
    out.uiWidthBytes = kW;
    out.uiSize = kW * kH;
    out.pData = bytes.data();
    return out;
}

long PeakKilobytes()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

} // namespace

TEST(RleLayers, LengthWordBeyondTheLayerIsRefusedBeforeInflating)
{
    const std::vector<u8> stream = StreamOfZeros(size_t(4) << 20);
    struct Case {
        const char* name;
        u32 lengthWord;
    } cases[] = {
        {"4 GiB", 0xFFFFFFFFu},
        {"one byte more than a layer can hold", 28 + kW * kH * 52 + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<u8> blob(4);
        std::memcpy(blob.data(), &c.lengthWord, 4);
        blob.insert(blob.end(), stream.begin(), stream.end());
        const std::string path = FileWithLayer("bomb", blob);
        HandleGuard g(H::OpenInputFile(W(path).c_str()));
        ASSERT_NE(g.h, 0);
        std::vector<u8> bytes;
        QORPICTURE out = Frame(bytes);
        const long before = PeakKilobytes();
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(Qor_FileGetBinary(g.h, 0, 0, &out), KZ_ERR_FAILED);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        // Inflating it would take gigabytes and a minute; refusing it takes neither.
        EXPECT_LT(seconds, 5.0);
        EXPECT_LT(PeakKilobytes() - before, 256 * 1024);
        EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](u8 v) { return v == 0x5C; }));
    }
}

TEST(RleLayers, LayersOtherWritersStoreAreRead)
{
    using rletest::Obj;
    // Object 1 as a host builds it run by run (its box left to the caller, here
    // never filled), object 2 with rows descending and runs overlapping.
    Obj one{1, 0, 0, 0, 0, 0, {{3, {{5, 4}}}, {4, {{6, 2}}}}};
    Obj two{2, 10, 20, 14, 22, 0, {{22, {{12, 3}}}, {20, {{10, 3}, {11, 4}}}, {21, {{10, 1}}}}};
    const std::vector<u8> raw = rletest::Blob(3, kW, kH, {one, two});
    struct Case {
        const char* name;
        u32 lengthWord;
    } cases[] = {
        {"length word exact", u32(raw.size())},
        // The stream holds fewer bytes than its length word: they are the blob.
        {"length word larger than the stream", u32(raw.size()) + 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = FileWithLayer("foreign", Compressed(raw, c.lengthWord));
        HandleGuard g(H::OpenInputFile(W(path).c_str()));
        ASSERT_NE(g.h, 0);
        std::vector<u8> bytes;
        QORPICTURE out = Frame(bytes);
        ASSERT_EQ(Qor_FileGetBinary(g.h, 0, 0, &out), KZ_OK);
        for (u32 y = 0; y < kH; ++y)
            for (u32 x = 0; x < kW; ++x) {
                u8 want = 0;
                if ((y == 3 && x >= 5 && x <= 8) || (y == 4 && x >= 6 && x <= 7)) want = 1;
                if ((y == 22 && x >= 12 && x <= 14) || (y == 20 && x >= 10 && x <= 14) || (y == 21 && x == 10))
                    want = 2;
                EXPECT_EQ(bytes[y * kW + x], want) << x << "," << y;
            }
    }
}
