// Binary layers through handles: descriptors from the C record and back,
// layers stored with the frames and read again as labelled pictures.
#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "gnr_system/CKzAlloc.h"
#include "w32_qorfilesdk/CKzBinaryMetadata.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/handle_test_support.h"

using namespace ht;

namespace {

typedef SKzQorFileHandle H;

// Labels of the set pixels, 8-connected, numbered 1, 2, ... in raster order
// of each object's first pixel: an independent flood fill.
std::vector<u32> Label8(const std::vector<u8>& mask, u32 w, u32 h)
{
    std::vector<u32> label(mask.size(), 0);
    u32 next = 0;
    for (u32 y = 0; y < h; ++y)
        for (u32 x = 0; x < w; ++x) {
            if (!mask[y * w + x] || label[y * w + x])
                continue;
            ++next;
            std::deque<std::pair<u32, u32>> todo{{x, y}};
            label[y * w + x] = next;
            while (!todo.empty()) {
                const auto [cx, cy] = todo.front();
                todo.pop_front();
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const long nx = (long)cx + dx, ny = (long)cy + dy;
                        if (nx < 0 || ny < 0 || nx >= (long)w || ny >= (long)h)
                            continue;
                        const size_t at = (size_t)ny * w + (size_t)nx;
                        if (mask[at] && !label[at]) {
                            label[at] = next;
                            todo.push_back({(u32)nx, (u32)ny});
                        }
                    }
            }
        }
    return label;
}

// A host picture over memory of the test.
QORPICTURE Picture(std::vector<u8>& bytes, u32 w, u32 h, u32 bits, u32 comp, u32 stride)
{
    QORPICTURE p;
    std::memset(&p, 0, sizeof(p));
    p.uiWidth = w;
    p.uiHeight = h;
    p.uiBpc = bits;
    p.uiComp = comp;
    p.uiWidthBytes = stride;
    p.uiSize = (u64)stride * h;
    bytes.assign((size_t)p.uiSize, 0);
    p.pData = bytes.data();
    return p;
}

QORBINARIES Descriptors(std::vector<std::pair<std::wstring, std::wstring>> entries)
{
    QORBINARIES b;
    std::memset(&b, 0, sizeof(b));
    b.uiCount = (uint32_t)entries.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        std::wcscpy(b.sBinaries[i].wsName, entries[i].first.c_str());
        std::wcscpy(b.sBinaries[i].wsComponentName, entries[i].second.c_str());
        b.sBinaries[i].uiColor = 0x10 + (u32)i;
    }
    return b;
}

}  // namespace

TEST(HandleLayers, DescriptorsFromTheRecordGetDefaultTagsOrdersAndStates)
{
    const std::string path = TempName("desc");
    const int w = OpenWriteHandle(path);
    ASSERT_NE(w, 0);
    QORBINARIES b = Descriptors({{L"Cells", L""}, {L"Nuclei", L"DAPI"}, {L"Spots", L""}});
    EXPECT_EQ(H::FileSetBinaryDescriptors(w, &b), 0);
    const CKzBinaryMetadata* d = H::GetHandle(w)->m_pBinaryMetadata;
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->GetItemCount(), 3u);
    for (u32 i = 0; i < 3; ++i) {
        const CKzBinaryMetadata::SKzBinaryItem* it = d->GetItem(i);
        EXPECT_EQ(std::wstring(it->strFileTag.GetString()), L"RleZipBinarySequence_" + std::to_wstring(i + 1) + L"_v1");
        EXPECT_EQ(it->uiCompOrder, i);
        EXPECT_EQ(it->uiState, i == 1 ? 0x80000u : 0u);
        EXPECT_EQ(it->uiColor, 0x10u + i);
    }
    EXPECT_EQ(d->GetItem(3), nullptr);

    // Too many entries, a null record, a read handle: nothing changes.
    QORBINARIES many = b;
    many.uiCount = 33;
    EXPECT_EQ(H::FileSetBinaryDescriptors(w, &many), KZ_ERR_FAILED);
    EXPECT_EQ(H::FileSetBinaryDescriptors(w, nullptr), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(H::GetHandle(w)->m_pBinaryMetadata->GetItemCount(), 3u);
    EXPECT_EQ(H::FileSetBinaryDescriptors(0, &b), KZ_ERR_NOT_FOUND);

    // A name filling its whole field is read up to the field's end.
    QORBINARIES full = Descriptors({{L"", L""}});
    std::wmemset(full.sBinaries[0].wsName, L'N', QOR_TEXT_LENGTH);
    EXPECT_EQ(H::FileSetBinaryDescriptors(w, &full), 0);
    EXPECT_EQ(H::GetHandle(w)->m_pBinaryMetadata->GetItem(0)->strName.GetLength(), QOR_TEXT_LENGTH);
    H::Close(w);
}

TEST(HandleLayers, AddItemKeepsAGivenFileTag)
{
    CKzBinaryMetadata d;
    CKzBinaryMetadata::SKzBinaryItem a, b;
    CKzBinaryMetadata::InitItem(a);
    CKzBinaryMetadata::InitItem(b);
    b.strFileTag = L"Mine";
    EXPECT_EQ(d.AddItem(a), 0);
    EXPECT_EQ(std::wstring(a.strFileTag.GetString()), L"RleZipBinarySequence_1_v1");  // written into the item
    EXPECT_EQ(d.AddItem(b), 1);
    EXPECT_EQ(std::wstring(d.GetItem(1)->strFileTag.GetString()), L"Mine");
}

TEST(HandleLayers, ObjectsComeBackNumberedInRasterOrderOfTheirFirstPixel)
{
    const u32 W_ = 37, H_ = 23;
    const std::string path = TempName("layers");
    const int w = OpenWriteHandle(path);
    ASSERT_NE(w, 0);
    QORBINARIES b = Descriptors({{L"Blobs", L""}, {L"Other", L"C1"}});
    ASSERT_EQ(H::FileSetBinaryDescriptors(w, &b), 0);
    SKzQorFileHandle* rec = H::GetHandle(w);
    ASSERT_EQ(rec->m_pBinaryMetadata->SaveToOutputFile(rec->m_pOutputFile), 0);

    // Frame 0: hand-made shapes (diagonal touching, a ring, a U whose arms
    // meet below, single pixels); frames 1..5: random masks; layer 1 of
    // frame 5 only.
    std::vector<std::vector<u8>> masks;
    {
        std::vector<u8> m(W_ * H_, 0);
        auto set = [&](u32 x, u32 y) { m[y * W_ + x] = 1; };
        set(0, 0);
        set(1, 1);
        set(2, 2);  // one object by diagonals
        for (u32 x = 10; x < 16; ++x) {
            set(x, 3);
            set(x, 8);
        }
        for (u32 y = 3; y < 9; ++y) {
            set(10, y);
            set(15, y);
        }
        set(12, 5);  // inside the ring: its own object
        for (u32 y = 12; y < 20; ++y) {
            set(20, y);
            set(26, y);
        }
        for (u32 x = 20; x <= 26; ++x)
            set(x, 20);  // a U: first pixels of both arms on row 12, one object
        set(36, 22);
        set(30, 0);
        masks.push_back(m);
    }
    std::mt19937 rng(5);
    for (int f = 1; f < 6; ++f) {
        std::vector<u8> m(W_ * H_);
        for (auto& v : m)
            v = (rng() % 4) == 0;
        masks.push_back(m);
    }
    WriteFrames(w, W_, H_, (u32)masks.size());
    for (u32 f = 0; f < masks.size(); ++f) {
        std::vector<u8> bytes;
        // 8-bit picture with a padded stride; any non-zero value is set.
        QORPICTURE p = Picture(bytes, W_, H_, 8, 1, 40);
        for (u32 y = 0; y < H_; ++y)
            for (u32 x = 0; x < W_; ++x)
                bytes[y * 40 + x] = masks[f][y * W_ + x] ? (u8)(1 + (x * 7 + y) % 200) : 0;
        EXPECT_EQ(H::FileSetBinary(w, f, 0, &p), 0) << f;
        if (f == 5)
            EXPECT_EQ(H::FileSetBinary(w, f, 1, &p), 0);
    }
    std::vector<u8> dummy;
    QORPICTURE p = Picture(dummy, W_, H_, 8, 1, 40);
    EXPECT_EQ(H::FileSetBinary(w, 0, 2, &p), KZ_ERR_FAILED);  // no such descriptor
    EXPECT_EQ(H::FileSetBinary(w, 0, 0, nullptr), KZ_ERR_FAILED);
    QORPICTURE three = Picture(dummy, W_, H_, 8, 3, 120);
    EXPECT_EQ(H::FileSetBinary(w, 0, 0, &three), KZ_ERR_FAILED);
    EXPECT_EQ(H::FileSetBinary(0, 0, 0, &p), KZ_ERR_NOT_FOUND);
    EXPECT_EQ(H::Close(w), 0);

    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    QORBINARIES back;
    std::memset(&back, 0x33, sizeof(back));
    EXPECT_EQ(Qor_FileGetBinaryDescriptors(g.h, &back), 0);
    ASSERT_EQ(back.uiCount, 2u);
    EXPECT_EQ(std::wstring(back.sBinaries[1].wsName), L"Other");
    EXPECT_EQ(std::wstring(back.sBinaries[1].wsComponentName), L"C1");
    EXPECT_EQ(back.sBinaries[1].uiColor, 0x11u);

    for (u32 f = 0; f < masks.size(); ++f) {
        const std::vector<u32> expected = Label8(masks[f], W_, H_);
        for (u32 bits : {8u, 16u}) {
            std::vector<u8> bytes;
            const u32 stride = bits == 8 ? 40 : 80;
            QORPICTURE out = Picture(bytes, W_, H_, bits, 1, stride);
            std::memset(bytes.data(), 0xCD, bytes.size());
            ASSERT_EQ(Qor_FileGetBinary(g.h, f, 0, &out), 0) << f;
            for (u32 y = 0; y < H_; ++y)
                for (u32 x = 0; x < W_; ++x) {
                    const u32 got = bits == 8 ? bytes[y * stride + x]
                                              : (u32)(bytes[y * stride + 2 * x] | bytes[y * stride + 2 * x + 1] << 8);
                    ASSERT_EQ(got, expected[y * W_ + x]) << "frame " << f << " at " << x << "," << y;
                }
        }
    }
    // Frame 0's hand-made shapes make six objects.
    const std::vector<u32> first = Label8(masks[0], W_, H_);
    EXPECT_EQ(*std::max_element(first.begin(), first.end()), 6u);

    // Layer 1 exists for frame 5 only.
    std::vector<u8> bytes;
    QORPICTURE out = Picture(bytes, W_, H_, 8, 1, 40);
    EXPECT_EQ(Qor_FileGetBinary(g.h, 5, 1, &out), 0);
    std::memset(bytes.data(), 0xCD, bytes.size());
    EXPECT_EQ(Qor_FileGetBinary(g.h, 4, 1, &out), KZ_ERR_NOT_FOUND);
    EXPECT_EQ(bytes[0], 0xCD);  // untouched
}

TEST(HandleLayers, ReadingRefusesUnusablePicturesAndLayerIndexes)
{
    const std::string path = TempName("layerargs");
    const int w = OpenWriteHandle(path);
    ASSERT_NE(w, 0);
    QORBINARIES b = Descriptors({{L"Mask", L""}});
    ASSERT_EQ(H::FileSetBinaryDescriptors(w, &b), 0);
    SKzQorFileHandle* rec = H::GetHandle(w);
    rec->m_pBinaryMetadata->SaveToOutputFile(rec->m_pOutputFile);
    WriteFrames(w, 8, 8, 1);
    std::vector<u8> src;
    QORPICTURE p = Picture(src, 8, 8, 8, 1, 8);
    src[9] = 1;
    ASSERT_EQ(H::FileSetBinary(w, 0, 0, &p), 0);
    ASSERT_EQ(H::Close(w), 0);

    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    std::vector<u8> bytes;
    QORPICTURE ok = Picture(bytes, 8, 8, 8, 1, 8);
    EXPECT_EQ(Qor_FileGetBinary(g.h, 0, 0, &ok), 0);
    EXPECT_EQ(bytes[9], 1);
    const struct {
        const char* what;
        int layer;
        QORPICTURE pic;
        bool null;
        int result;
    } cases[] = {
        {"negative layer", -1, ok, false, KZ_ERR_FAILED},
        {"layer past the descriptors", 1, ok, false, KZ_ERR_FAILED},
        {"null picture", 0, ok, true, KZ_ERR_FAILED},
        {"no samples", 0, [&] { QORPICTURE q = ok; q.pData = nullptr; return q; }(), false, KZ_ERR_FAILED},
        {"three components", 0, [&] { QORPICTURE q = ok; q.uiComp = 3; return q; }(), false, KZ_ERR_FAILED},
        {"smaller than the layer", 0, [&] { QORPICTURE q = ok; q.uiHeight = 7; return q; }(), false, KZ_ERR_FAILED},
        {"size short of the rows", 0, [&] { QORPICTURE q = ok; q.uiSize = 63; return q; }(), false, KZ_ERR_FAILED},
        {"depth 0", 0, [&] { QORPICTURE q = ok; q.uiBpc = 0; return q; }(), false, KZ_ERR_FAILED},
        {"depth 264", 0, [&] { QORPICTURE q = ok; q.uiBpc = 264; return q; }(), false, KZ_ERR_FAILED},
    };
    for (const auto& c : cases) {
        QORPICTURE q = c.pic;
        EXPECT_EQ(Qor_FileGetBinary(g.h, 0, c.layer, c.null ? nullptr : &q), c.result) << c.what;
    }
    EXPECT_EQ(Qor_FileGetBinary(0, 0, 0, &ok), KZ_ERR_NOT_FOUND);
    EXPECT_EQ(Qor_FileGetBinaryDescriptors(0, nullptr), KZ_ERR_INVALID_ARG);
    QORBINARIES d;
    d.uiCount = 9;
    EXPECT_EQ(Qor_FileGetBinaryDescriptors(0, &d), KZ_ERR_NOT_FOUND);
    EXPECT_EQ(d.uiCount, 0u);
}

TEST(HandleLayers, DamagedLayerBlockGivesTheLoadFailureAndLeavesThePicture)
{
    // A descriptor whose layer item holds bytes that do not inflate.
    CKzBinaryMetadata desc;
    CKzBinaryMetadata::SKzBinaryItem item;
    CKzBinaryMetadata::InitItem(item);
    item.strName = L"Broken";
    desc.AddItem(item);
    CKzVariant root;
    desc.SaveToVariant(root);
    const std::string path = TempName("damaged");
    FileSpec spec;
    spec.frames = 1;
    spec.descriptors = false;
    WriteFile(path, spec);
    {
        CKzImageFormatVT5 format;
        IKzOutputImageFile* wr = nullptr;
        ASSERT_EQ(format.CreateOutputImageFile(CKzStringW(W(path).c_str()), wr), 0);
        ASSERT_EQ(wr->SetCustomDataVar(L"BinaryMetadata_v1", &root), 0);
        const unsigned char junk[] = {200, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7};
        ASSERT_EQ(wr->SetCustomDataSeq(L"RleZipBinarySequence_1_v1", 0, junk, sizeof(junk)), 0);
        wr->Finalize();
        wr->Release();
    }
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    std::vector<u8> bytes;
    QORPICTURE out = Picture(bytes, 8, 6, 8, 1, 8);
    std::memset(bytes.data(), 0x5C, bytes.size());
    const int r = Qor_FileGetBinary(g.h, 0, 0, &out);
    EXPECT_LT(r, 0);
    EXPECT_NE(r, KZ_ERR_NOT_FOUND);
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](u8 v) { return v == 0x5C; }));
}

TEST(HandleLayers, FileWithoutDescriptorsReportsNone)
{
    FileSpec spec;
    spec.frames = 2;
    spec.descriptors = false;
    const std::string path = TempName("nodesc");
    WriteFile(path, spec);
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    QORBINARIES d;
    d.uiCount = 5;
    EXPECT_EQ(Qor_FileGetBinaryDescriptors(g.h, &d), 0);
    EXPECT_EQ(d.uiCount, 0u);
    std::vector<u8> bytes;
    QORPICTURE out = Picture(bytes, 8, 6, 8, 1, 8);
    EXPECT_EQ(Qor_FileGetBinary(g.h, 0, 0, &out), KZ_ERR_FAILED);
}

TEST(HandleLayers, MoreDescriptorsThanTheRecordHoldsGiveNone)
{
    CKzBinaryMetadata desc;
    for (int i = 0; i < 33; ++i) {
        CKzBinaryMetadata::SKzBinaryItem item;
        CKzBinaryMetadata::InitItem(item);
        desc.AddItem(item);
    }
    CKzVariant root;
    desc.SaveToVariant(root);
    FileSpec spec;
    spec.frames = 1;
    spec.descriptors = false;
    const std::string path = TempName("manydesc");
    WriteFile(path, spec);
    {
        CKzImageFormatVT5 format;
        IKzOutputImageFile* wr = nullptr;
        ASSERT_EQ(format.CreateOutputImageFile(CKzStringW(W(path).c_str()), wr), 0);
        ASSERT_EQ(wr->SetCustomDataVar(L"BinaryMetadata_v1", &root), 0);
        wr->Finalize();
        wr->Release();
    }
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    EXPECT_EQ(H::GetHandle(g.h)->m_pBinaryMetadata->GetItemCount(), 33u);
    QORBINARIES d;
    std::memset(&d, 0x44, sizeof(d));
    EXPECT_EQ(Qor_FileGetBinaryDescriptors(g.h, &d), KZ_ERR_FAILED);
    EXPECT_EQ(d.uiCount, 0u);
    EXPECT_EQ(d.sBinaries[0].uiColor, 0x44444444u);
}

TEST(HandleLayers, DescriptorListSurvivesItsVariantForm)
{
    CKzBinaryMetadata d;
    for (int i = 0; i < 3; ++i) {
        CKzBinaryMetadata::SKzBinaryItem item;
        CKzBinaryMetadata::InitItem(item);
        item.uiState = 0x10000u * (u32)i;
        item.uiColor = 0xABCDEFu - (u32)i;
        item.uiCompOrder = 7u + (u32)i;
        item.strName = i == 1 ? L"\u00c5ngstr\u00f6m <&>" : L"n";
        item.strCompName = i == 2 ? L"comp" : L"";
        d.AddItem(item);
    }
    CKzVariant root;
    d.SaveToVariant(root);
    ASSERT_EQ(root.GetCount(), 3);
    EXPECT_EQ(std::wstring(root.GetName().GetString()), L"BinaryMetadata_v1");
    const wchar_t* order[] = {L"uiState", L"uiColor", L"uiCompOrder", L"strName", L"strFileTag", L"strCompName"};
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(std::wstring(root[1][k].GetName().GetString()), order[k]);
    CKzBinaryMetadata back;
    for (int i = 0; i < root.GetCount(); ++i) {
        CKzBinaryMetadata::SKzBinaryItem item;
        CKzBinaryMetadata::LoadItemFromVariant(item, root[i]);
        back.AddItem(item);
    }
    for (u32 i = 0; i < 3; ++i) {
        const auto* a = d.GetItem(i);
        const auto* b = back.GetItem(i);
        EXPECT_EQ(a->uiState, b->uiState);
        EXPECT_EQ(a->uiColor, b->uiColor);
        EXPECT_EQ(a->uiCompOrder, b->uiCompOrder);
        EXPECT_TRUE(a->strName.Equals(b->strName));
        EXPECT_TRUE(a->strCompName.Equals(b->strCompName));
        EXPECT_TRUE(a->strFileTag.Equals(b->strFileTag));
    }
}

TEST(HandleLayers, ByteArraySequenceRoundTrip)
{
    FileSpec spec;
    spec.frames = 1;
    const std::string path = TempName("seq");
    WriteFile(path, spec);
    {
        CKzImageFormatVT5 format;
        IKzOutputImageFile* wr = nullptr;
        ASSERT_EQ(format.CreateOutputImageFile(CKzStringW(W(path).c_str()), wr), 0);
        CKzBinaryByteArrayMetadata seq;
        CKzByteArray a(16);
        a.SetData("one", 3, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
        EXPECT_EQ(seq.AddItem(&a, false), 0);
        CKzByteArray* owned = new CKzByteArray(16);
        owned->SetData("three", 5, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
        EXPECT_EQ(seq.AddItem(nullptr, false), 1);
        seq.GetItem(1)->SetData("two", 3, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
        EXPECT_EQ(seq.AddItem(owned, true), 2);
        EXPECT_EQ(seq.GetItem(2), owned);
        EXPECT_EQ(seq.GetItem(3), nullptr);
        EXPECT_EQ(seq.SaveToOutputFile(L"Pieces", wr), 0);
        wr->Finalize();
        wr->Release();
    }
    HandleGuard g(H::OpenInputFile(W(path).c_str()));
    ASSERT_NE(g.h, 0);
    CKzBinaryByteArrayMetadata back;
    EXPECT_EQ(back.LoadFromInputFile(L"Pieces", H::GetInputFile(g.h, nullptr), 4), 0);
    ASSERT_EQ(back.GetItemCount(), 4u);
    EXPECT_EQ(std::string((const char*)back.GetItem(2)->GetData(), back.GetItem(2)->GetSize()), "three");
    EXPECT_EQ(back.GetItem(3)->GetSize(), 0u);  // not stored: empty
}
