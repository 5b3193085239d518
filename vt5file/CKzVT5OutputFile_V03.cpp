// Writer of version-3 VT5 files: attributes, experiment, picture metadata and
// text information as lite variants.
#include <climits>
#include <cstring>
#include <cwchar>
#include <new>

#include "gnr_system/CKzLiteVariant.h"
#include "vt5file/CKzVT5InputFile.h"
#include "vt5file/CKzVT5OutputFile.h"
#include "vt5file/KzVT5Names.h"

namespace {

// Hands a finished lite blob to a reader and stores its bytes as the chunk.
int StoreLite(CKzFileChunker& chunker, CKzLiteVariantW& writer, const char* chunk)
{
    if (writer.HasFailed())
        return KZ_ERR_OUT_OF_MEMORY;
    CKzLiteVariantR blob;
    if (!writer.Finalize(blob))
        return KZ_ERR_OUT_OF_MEMORY;
    if ((u64)blob.GetSize() > UINT_MAX)
        return KZ_ERR_FAILED;
    return chunker.SetChunk(blob, chunk);
}

}  // namespace

CKzVT5OutputFile_V03::CKzVT5OutputFile_V03(IKzImageFormat* format, CKzStringW path, bool bExisting,
                                           CKzFileChunker& container)
    : CKzVT5OutputFile_V02(format, path, bExisting, container)
{
    if (bExisting) {
        // An existing version-3 file keeps its own attributes.
        initImageAttributes();
        SKzImageAttributes a = m_Attributes;
        if (CKzVT5OutputFile_V03::_GetImageAttributes(a) == KZ_OK)
            m_Attributes = a;
    }
}

CKzVT5OutputFile_V03::CKzVT5OutputFile_V03(IKzImageFormat* format, CKzByteArray& bytes, bool bExisting,
                                           CKzFileChunker& container)
    : CKzVT5OutputFile_V02(format, bytes, bExisting, container)
{
}

CKzVT5OutputFile_V03::~CKzVT5OutputFile_V03()
{
    // The attributes are stored in this version's form before the base
    // class takes over. When that fails, the base class still closes the
    // file (with its times and map), but stores no version-2 attributes.
    Finalize();
    Lock lock(m_Lock);
    if (!m_bFinalized)
        m_bKeepGeometry = true;
}

int CKzVT5OutputFile_V03::saveImageAttributes()
{
    Lock lock(m_Lock);
    normalizeImageAttributes();
    const SKzImageAttributes& a = m_Attributes;
    CKzLiteVariantW w;
    w.LevelBegin(L"SKzImageAttributes");
    w.Set((unsigned int)a.uiWidth, L"uiWidth");
    w.Set((unsigned int)a.uiWidthBytes, L"uiWidthBytes");
    w.Set((unsigned int)a.uiHeight, L"uiHeight");
    w.Set((unsigned int)a.uiComp, L"uiComp");
    w.Set((int)a.uiBpcInMemory, L"uiBpcInMemory");
    w.Set((int)a.uiBpcSignificant, L"uiBpcSignificant");
    w.Set((unsigned int)a.uiSequenceCount, L"uiSequenceCount");
    w.Set((unsigned int)a.uiTileWidth, L"uiTileWidth");
    w.Set((unsigned int)a.uiTileHeight, L"uiTileHeight");
    w.Set((int)a.eCompression, L"eCompression");
    w.Set(a.dCompressionParam, L"dCompressionParam");
    w.Set((int)a.ePixelType, L"ePixelType");
    if (a.uiComp != 0)
        w.Set((unsigned int)a.uiComp, L"uiVirtualComponents");
    w.LevelEnd();
    return StoreLite(m_Chunker, w, vt5names::kAttributesLV);
}

int CKzVT5OutputFile_V03::_GetImageAttributes(SKzImageAttributes& attributes)
{
    Lock lock(m_Lock);
    if (const int r = CKzVT5InputFile_V03::ReadLiteAttributes(m_Chunker, attributes); r != KZ_OK)
        return r;
    if (attributes.uiComp > 256 || !attributes.uiWidth || !attributes.uiHeight || !attributes.uiComp ||
        !attributes.uiBpcInMemory || !attributes.uiBpcSignificant)
        return KZ_ERR_FAILED;
    return KZ_OK;
}

int CKzVT5OutputFile_V03::SetImageTextInfo(const SKzImageTextInfo& info)
{
    Lock lock(m_Lock);
    CKzLiteVariantW w;
    w.LevelBegin(L"SKzImageTextInfo");
    for (u32 k = 0; k < SKzImageTextInfo::eStored; ++k) {
        wchar_t key[32];
        std::swprintf(key, 32, L"TextInfoItem_%u", k);
        w.Set((const wchar_t*)info.wsText[k], key);
    }
    w.LevelEnd();
    return StoreLite(m_Chunker, w, vt5names::kTextInfoLV);
}

CKzVT5InputFile_V02* CKzVT5OutputFile_V03::newReader() { return new CKzVT5InputFile_V03(*this, nullptr); }

int CKzVT5OutputFile_V03::CreateInputImageFile(u32 seq, IKzInputImageFile*& reader, const SKzExperiment* experiment)
{
    return CKzVT5OutputFile_V02::CreateInputImageFile(seq, reader, experiment);
}
