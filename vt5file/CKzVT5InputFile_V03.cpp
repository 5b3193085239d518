// Reader of version-3 VT5 files: descriptions as lite variants.
#include <cstring>
#include <cwchar>

#include "gnr_system/CKzLiteVariant.h"
#include "vt5file/CKzVT5InputFile.h"
#include "vt5file/KzVT5Names.h"

CKzVT5InputFile_V03::CKzVT5InputFile_V03(IKzImageFormat* format, const CKzFileChunker& container)
    : CKzVT5InputFile_V02(format, container)
{
}

CKzVT5InputFile_V03::CKzVT5InputFile_V03(CKzVT5OutputFile_V02& writer, const SKzExperiment* unused)
    : CKzVT5InputFile_V02(writer, unused)
{
}

CKzVT5InputFile_V03::~CKzVT5InputFile_V03() {}

int CKzVT5InputFile_V03::ReadLiteAttributes(CKzFileChunker& container, SKzImageAttributes& attributes)
{
    CKzLiteVariantR r;
    if (const int g = container.GetChunk(r, vt5names::kAttributesLV); g != KZ_OK)
        return g;
    r.Reset();
    if (r.LevelBegin(L"SKzImageAttributes") != KZ_OK)
        return KZ_ERR_FAILED;
    attributes.uiWidth = r.Get(L"uiWidth", (unsigned int)attributes.uiWidth);
    attributes.uiWidthBytes = r.Get(L"uiWidthBytes", (unsigned int)attributes.uiWidthBytes);
    attributes.uiHeight = r.Get(L"uiHeight", (unsigned int)attributes.uiHeight);
    attributes.uiComp = r.Get(L"uiComp", (unsigned int)attributes.uiComp);
    attributes.uiBpcInMemory = (u8)r.Get(L"uiBpcInMemory", (int)attributes.uiBpcInMemory);
    attributes.uiBpcSignificant = (u8)r.Get(L"uiBpcSignificant", (int)attributes.uiBpcSignificant);
    attributes.uiSequenceCount = r.Get(L"uiSequenceCount", (unsigned int)attributes.uiSequenceCount);
    attributes.uiTileWidth = r.Get(L"uiTileWidth", (unsigned int)attributes.uiTileWidth);
    attributes.uiTileHeight = r.Get(L"uiTileHeight", (unsigned int)attributes.uiTileHeight);
    attributes.eCompression = r.Get(L"eCompression", (int)0);
    attributes.dCompressionParam = r.Get(L"dCompressionParam", attributes.dCompressionParam);
    attributes.ePixelType = r.Get(L"ePixelType", (int)1);
    r.LevelEnd();
    return KZ_OK;
}

int CKzVT5InputFile_V03::GetImageAttributes(SKzImageAttributes& attributes)
{
    Lock lock(m_Lock);
    if (const int r = ReadLiteAttributes(m_Chunker, attributes); r != KZ_OK)
        return r;
    m_iCompression = attributes.eCompression;
    attributes.uiSequenceCount = noteFrameCount(attributes.uiSequenceCount);
    if (!attributes.uiWidth || !attributes.uiHeight || !attributes.uiComp || !attributes.uiBpcInMemory ||
        !attributes.uiBpcSignificant)
        return KZ_ERR_FAILED;
    return KZ_OK;
}

int CKzVT5InputFile_V03::GetImageTextInfo(SKzImageTextInfo& info)
{
    Lock lock(m_Lock);
    CKzLiteVariantR r;
    if (const int g = m_Chunker.GetChunk(r, vt5names::kTextInfoLV); g != KZ_OK)
        return g;
    r.Reset();
    if (r.LevelBegin(L"SKzImageTextInfo") != KZ_OK)
        return KZ_ERR_FAILED;
    for (u32 k = 0; k < SKzImageTextInfo::eStored; ++k) {
        wchar_t key[32];
        std::swprintf(key, 32, L"TextInfoItem_%u", k);
        r.GetCKzStringW(info.wsText[k], key, L"");
    }
    r.LevelEnd();
    return KZ_OK;
}
