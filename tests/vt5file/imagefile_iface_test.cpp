// The image-file interfaces: record layout and the interfaces' own answers.
#include <gtest/gtest.h>

#include <cstddef>

#include "vt5file/IKzImageFile.h"

namespace {

TEST(ImageAttributesLayout, FieldsInRecordOrder)
{
    struct Case { size_t offset, expected; const char* field; };
    const Case cases[] = {
        {offsetof(SKzImageAttributes, uiWidth), 0, "uiWidth"},
        {offsetof(SKzImageAttributes, uiWidthBytes), 4, "uiWidthBytes"},
        {offsetof(SKzImageAttributes, uiHeight), 8, "uiHeight"},
        {offsetof(SKzImageAttributes, uiComp), 12, "uiComp"},
        {offsetof(SKzImageAttributes, uiBpcInMemory), 16, "uiBpcInMemory"},
        {offsetof(SKzImageAttributes, uiBpcSignificant), 17, "uiBpcSignificant"},
        {offsetof(SKzImageAttributes, ePixelType), 20, "ePixelType"},
        {offsetof(SKzImageAttributes, uiSequenceCount), 24, "uiSequenceCount"},
        {offsetof(SKzImageAttributes, uiTileWidth), 28, "uiTileWidth"},
        {offsetof(SKzImageAttributes, uiTileHeight), 32, "uiTileHeight"},
        {offsetof(SKzImageAttributes, eCompression), 36, "eCompression"},
        {offsetof(SKzImageAttributes, dCompressionParam), 40, "dCompressionParam"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.offset, c.expected) << c.field;
    EXPECT_EQ(sizeof(SKzImageAttributes), 48u);
    EXPECT_EQ(sizeof(SKzImageTextInfo) / sizeof(CKzStringW), 15u);
}

// The smallest reader and writer: every abstract slot answers -1, so only the
// interfaces' own answers are under test.
struct StubReader : IKzInputImageFile {
    int AddRef() override { return -1; }
    int Release() override { return -1; }
    IKzImageFormat* GetImageFormat() override { return nullptr; }
    int GetData(u32, void*, KzImageProgressFn, void*) override { return -1; }
    int GetImageAttributes(SKzImageAttributes&) override { return -1; }
    int GetImageMetadata(SKzExperiment&, CKzVariant*) override { return -1; }
    int GetImageMetadata(u32, SKzPictureMetadata&, CKzVariant*) override { return -1; }
    int GetCustomData(const wchar_t*, CKzByteArray&) override { return -1; }
    int GetCustomDataSeq(const wchar_t*, u32, CKzByteArray&) override { return -1; }
    int GetComponentData(u32, u32, void*, u32, u32) override { return -1; }
    int GetCustomDataVar(const wchar_t*, CKzVariant&) override { return -1; }
    int GetCustomDataVarSeq(const wchar_t*, u32, CKzVariant&) override { return -1; }
    int GetImageTextInfo(SKzImageTextInfo&) override { return -1; }
    int GetImageBinary(void*) override { return -1; }
    int GetRectData(u32, u32, u32, u32, u32, u32, u32, void*, u32, int, KzImageProgressFn, void*) override
    {
        return -1;
    }
    int GetImageEvents(SKzExperimentRecord&, CKzVariant*) override { return -1; }
};

struct StubWriter : IKzOutputImageFile {
    int AddRef() override { return -1; }
    int Release() override { return -1; }
    int Finalize() override { return -1; }
    IKzImageFormat* GetImageFormat() override { return nullptr; }
    int SetImageAttributes(const SKzImageAttributes&) override { return -1; }
    int SetImageMetadata(const SKzExperiment&, const CKzVariant*) override { return -1; }
    int SetImageMetadata(u32, const SKzPictureMetadata&, const CKzVariant*) override { return -1; }
    int SetCustomData(const wchar_t*, const void*, size_t) override { return -1; }
    int FlushData(u32, void*, KzImageProgressFn, void*) override { return -1; }
    int SetCustomDataSeq(const wchar_t*, u32, const void*, size_t) override { return -1; }
    int CreateInputImageFile(u32, IKzInputImageFile*&, const SKzExperiment*) override { return -1; }
    int SetCustomDataVar(const wchar_t*, const CKzVariant*) override { return -1; }
    int SetImageTextInfo(const SKzImageTextInfo&) override { return -1; }
    int SetAcqTime(double) override { return -1; }
    int SetImageEvents(const SKzExperimentRecord&, const CKzVariant*) override { return -1; }
};

TEST(ImageFileInterfaces, OwnAnswersAreNotSupported)
{
    StubReader r;
    IKzInputImageFile& in = r;
    EXPECT_EQ(in.SetConversionParameters(7), KZ_ERR_NOT_SUPPORTED);
    double t = 42.0;
    EXPECT_EQ(in.GetAcqTime(t), KZ_ERR_NOT_SUPPORTED);
    EXPECT_EQ(t, 0.0);

    StubWriter w;
    IKzOutputImageFile& out = w;
    unsigned char bits[4] = {};
    EXPECT_EQ(out.SetImageBinary(bits), KZ_ERR_NOT_SUPPORTED);
    EXPECT_EQ(out.SetImageCalibration(0, 1.0, 1.0, true, CKzStringW(L"x")), KZ_ERR_NOT_SUPPORTED);
}

}  // namespace
