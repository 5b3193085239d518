// The attribute chunks of both writers, byte for byte, against chunks built
// here from the stored forms: the XML text of a variant (version 2) and the
// lite-variant records with their name-sorted index (version 3).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "vt5file/vt5io_test_support.h"

namespace {

using ct::Bytes;

struct Expected {
    u32 width, rowBytes, height, comp;
    int bpcIn, bpcSig;
    u32 count, tileW, tileH;
    int compression;
    double param;
    const char* paramText;  // "%.15g" of param
    int pixelType;
};

struct Case {
    SKzImageAttributes given;
    Expected stored;
};

SKzImageAttributes given(u32 w, u32 rowBytes, u32 h, u32 comp, u8 in, u8 sig, i32 type, u32 count, u32 tw, u32 th,
                         i32 compression, double param)
{
    SKzImageAttributes a;
    std::memset(&a, 0, sizeof(a));
    a.uiWidth = w;
    a.uiWidthBytes = rowBytes;
    a.uiHeight = h;
    a.uiComp = comp;
    a.uiBpcInMemory = in;
    a.uiBpcSignificant = sig;
    a.ePixelType = type;
    a.uiSequenceCount = count;
    a.uiTileWidth = tw;
    a.uiTileHeight = th;
    a.eCompression = compression;
    a.dCompressionParam = param;
    return a;
}

const Case kCases[] = {
    // plain 8-bit grey, count set by the caller
    {given(640, 0, 480, 1, 8, 8, 1, 3, 0, 0, 2, 1.0), {640, 640, 480, 1, 8, 8, 3, 640, 480, 2, 1.0, "1", 1}},
    // 12 significant bits in 12 bits of memory: rounded to 16, row raised
    {given(10, 7, 4, 3, 12, 12, 1, 2, 5, 0, 0, 3.5), {10, 60, 4, 3, 16, 12, 2, 5, 4, 0, 3.5, "3.5", 1}},
    // a padded row stays; float samples
    {given(5, 64, 2, 1, 32, 32, 2, 1, 0, 7, 0, 0.1), {5, 64, 2, 1, 32, 32, 1, 5, 7, 0, 0.1, "0.1", 2}},
    // no components: no "uiVirtualComponents"
    {given(4, 0, 4, 0, 8, 8, 1, 2, 0, 0, 2, -2.25), {4, 0, 4, 0, 8, 8, 2, 4, 4, 2, -2.25, "-2.25", 1}},
};

// ---- version 2: XML text -------------------------------------------------

std::string u32Element(const char* name, u32 v)
{
    return std::string("<") + name + " runtype=\"kz_uint32\" value=\"" + std::to_string(v) + "\"/>";
}

std::string xmlChunk(const Expected& e)
{
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\">"
                    "<no_name runtype=\"CKzListVariant\">";
    s += u32Element("uiWidth", e.width) + u32Element("uiWidthBytes", e.rowBytes) + u32Element("uiHeight", e.height) +
         u32Element("uiComp", e.comp) + u32Element("uiBpcInMemory", e.bpcIn) +
         u32Element("uiBpcSignificant", e.bpcSig) + u32Element("uiSequenceCount", e.count) +
         u32Element("uiTileWidth", e.tileW) + u32Element("uiTileHeight", e.tileH);
    s += "<eCompression runtype=\"kz_int32\" value=\"" + std::to_string(e.compression) + "\"/>";
    s += std::string("<dCompressionParam runtype=\"double\" value=\"") + e.paramText + "\"/>";
    if (e.comp)
        s += u32Element("uiVirtualComponents", e.comp);
    return s + "</no_name></variant>";
}

// ---- version 3: lite records ----------------------------------------------

void putName(Bytes& b, const std::string& name)
{
    b.push_back((unsigned char)(name.size() + 1));
    for (char c : name) {
        b.push_back((unsigned char)c);
        b.push_back(0);
    }
    b.push_back(0);
    b.push_back(0);
}

struct Record {
    std::string name;
    Bytes bytes;
};

Record scalar(unsigned char code, const std::string& name, const void* v, size_t n)
{
    Record r{name, {code}};
    putName(r.bytes, name);
    const unsigned char* p = static_cast<const unsigned char*>(v);
    r.bytes.insert(r.bytes.end(), p, p + n);
    return r;
}

Record u32Rec(const std::string& name, u32 v) { return scalar(3, name, &v, 4); }
Record i32Rec(const std::string& name, int32_t v) { return scalar(2, name, &v, 4); }
Record dblRec(const std::string& name, double v) { return scalar(6, name, &v, 8); }

Bytes level(const std::string& name, const std::vector<Record>& children)
{
    Bytes b{11};
    putName(b, name);
    const size_t countAt = b.size();
    ct::put32(b, (uint32_t)children.size());
    ct::put64(b, 0);  // index offset, filled below
    std::vector<std::pair<std::string, uint64_t>> index;
    for (const Record& r : children) {
        index.push_back({r.name, b.size()});
        b.insert(b.end(), r.bytes.begin(), r.bytes.end());
    }
    const uint64_t x = b.size();
    for (int i = 0; i < 8; ++i)
        b[countAt + 4 + i] = (unsigned char)(x >> (8 * i));
    // ASCII names: unit order is byte order, a prefix first.
    std::stable_sort(index.begin(), index.end(), [](const auto& a, const auto& c) { return a.first < c.first; });
    for (const auto& e : index)
        ct::put64(b, e.second);
    return b;
}

Bytes liteChunk(const Expected& e)
{
    std::vector<Record> r = {u32Rec("uiWidth", e.width),        u32Rec("uiWidthBytes", e.rowBytes),
                             u32Rec("uiHeight", e.height),      u32Rec("uiComp", e.comp),
                             i32Rec("uiBpcInMemory", e.bpcIn),  i32Rec("uiBpcSignificant", e.bpcSig),
                             u32Rec("uiSequenceCount", e.count), u32Rec("uiTileWidth", e.tileW),
                             u32Rec("uiTileHeight", e.tileH),   i32Rec("eCompression", e.compression),
                             dblRec("dCompressionParam", e.param), i32Rec("ePixelType", e.pixelType)};
    if (e.comp)
        r.push_back(u32Rec("uiVirtualComponents", e.comp));
    return level("SKzImageAttributes", r);
}

class VT5AttributeChunks : public ct::TempDirTest {};

TEST_F(VT5AttributeChunks, EqualTheStoredFormsByteForByte)
{
    int i = 0;
    for (const Case& c : kCases) {
        for (int version : {2, 3}) {
            SCOPED_TRACE(testing::Message() << "case " << i << " version " << version);
            const std::string name = "a" + std::to_string(i) + "_" + std::to_string(version) + ".vt5";
            IKzOutputImageFile* w = vt::openWriter(wpath(name), version);
            ASSERT_NE(w, nullptr);
            // The caller's count is kept: no frame is stored, Finalize stores the attributes.
            ASSERT_EQ(w->SetImageAttributes(c.given), KZ_OK);
            w->Finalize();
            w->Release();
            auto chunks = vt::checkContainer(path(name));
            if (version == 2) {
                const std::string want = xmlChunk(c.stored);
                EXPECT_EQ(ct::text(chunks["ImageAttributes!"], 0, chunks["ImageAttributes!"].size()), want);
                EXPECT_EQ(chunks.count("ImageAttributesLV!"), 0u);
            } else {
                EXPECT_EQ(chunks["ImageAttributesLV!"], liteChunk(c.stored));
                EXPECT_EQ(chunks.count("ImageAttributes!"), 0u);
            }
        }
        ++i;
    }
}

TEST_F(VT5AttributeChunks, StoredAtFirstFrameAndAgainAtFinalize)
{
    IKzOutputImageFile* w = vt::openWriter(wpath("f.vt5"), 3);
    SKzImageAttributes a = given(4, 0, 2, 1, 8, 8, 1, 0, 0, 0, 2, 1.0);
    w->SetImageAttributes(a);
    Bytes f(8, 1);
    w->FlushData(0, f.data(), nullptr, nullptr);
    w->FlushData(1, f.data(), nullptr, nullptr);
    w->Release();
    const Bytes file = ct::readAll(path("f.vt5"));
    // Two attribute chunks in the file: the first with count 0, the map
    // pointing at the second with count 2.
    Expected first{4, 4, 2, 1, 8, 8, 0, 4, 2, 2, 1.0, "1", 1};
    Expected last = first;
    last.count = 2;
    const Bytes one = liteChunk(first), two = liteChunk(last);
    auto find = [&](const Bytes& needle) {
        return std::search(file.begin(), file.end(), needle.begin(), needle.end()) != file.end();
    };
    EXPECT_TRUE(find(one));
    EXPECT_TRUE(find(two));
    EXPECT_EQ(vt::checkContainer(path("f.vt5"))["ImageAttributesLV!"], two);
}

}  // namespace
