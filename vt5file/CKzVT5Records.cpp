// The experiment, picture-metadata and event chunks of readers and writers.
//
// The chunks are found and decoded here; turning them into SKzExperiment,
// SKzPictureMetadata and SKzExperimentRecord values (and back) needs those
// record classes, which the library does not hold yet: until then these
// operations answer -2 after the chunk has been found and checked.
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzVariant.h"
#include "vt5file/CKzVT5InputFile.h"
#include "vt5file/CKzVT5OutputFile.h"
#include "vt5file/KzVT5Names.h"

void CKzVT5InputFile_V02::freeRecords() {}

void CKzVT5InputFile_V02::loadWriterExperiment() {}

void CKzVT5InputFile_V02::repairWriterExperiment(u32) {}

int CKzVT5InputFile_V02::applyFrameTime(u32, SKzPictureMetadata&) { return KZ_ERR_NOT_SUPPORTED; }

int CKzVT5InputFile_V02::GetImageMetadata(SKzExperiment&, CKzVariant*)
{
    CKzByteArray bytes;
    if (const int r = m_Chunker.GetChunk(bytes, vt5names::kExperiment); r != KZ_OK)
        return r;
    CKzVariant v;
    if (const int r = decodeDescription(bytes, v); r != KZ_OK)
        return r;
    return KZ_ERR_NOT_SUPPORTED;
}

int CKzVT5InputFile_V02::GetImageMetadata(u32, SKzPictureMetadata&, CKzVariant*)
{
    CKzByteArray bytes;
    if (const int r = findFirstFrameChunk(vt5names::kFrameMeta, bytes); r != KZ_OK)
        return r;
    CKzVariant v;
    if (const int r = decodeDescription(bytes, v); r != KZ_OK)
        return r;
    return KZ_ERR_NOT_SUPPORTED;
}

int CKzVT5InputFile_V02::GetImageEvents(SKzExperimentRecord&, CKzVariant*)
{
    CKzByteArray bytes;
    if (const int r = m_Chunker.GetChunk(bytes, vt5names::kEvents); r != KZ_OK)
        return r;
    CKzVariant v;
    if (const int r = decodeDescription(bytes, v); r != KZ_OK)
        return r;
    return KZ_ERR_NOT_SUPPORTED;
}

int CKzVT5InputFile_V03::GetImageMetadata(SKzExperiment&, CKzVariant*)
{
    CKzLiteVariantR r;
    if (const int g = m_Chunker.GetChunk(r, vt5names::kExperimentLV); g != KZ_OK)
        return g;
    r.Reset();
    if (r.LevelBegin(L"SKzExperiment") != KZ_OK)
        return KZ_ERR_FAILED;
    r.LevelEnd();
    return KZ_ERR_NOT_SUPPORTED;
}

int CKzVT5InputFile_V03::GetImageMetadata(u32, SKzPictureMetadata&, CKzVariant*)
{
    CKzLiteVariantR r;
    if (const int g = findFirstFrameChunk(vt5names::kFrameMetaLV, r); g != KZ_OK)
        return g;
    return KZ_ERR_NOT_SUPPORTED;
}

int CKzVT5InputFile_V03::GetImageEvents(SKzExperimentRecord& record, CKzVariant* unused)
{
    // Version-3 files of other writers keep their events as XML only.
    CKzLiteVariantR r;
    const int g = m_Chunker.GetChunk(r, vt5names::kEventsLV);
    if (g == KZ_ERR_NOT_FOUND)
        return CKzVT5InputFile_V02::GetImageEvents(record, unused);
    if (g != KZ_OK)
        return g;
    return KZ_ERR_NOT_SUPPORTED;
}

int CKzVT5OutputFile_V02::SetImageMetadata(const SKzExperiment&, const CKzVariant*) { return KZ_ERR_NOT_SUPPORTED; }

int CKzVT5OutputFile_V02::SetImageMetadata(u32, const SKzPictureMetadata&, const CKzVariant*)
{
    return KZ_ERR_NOT_SUPPORTED;
}

int CKzVT5OutputFile_V02::SetImageEvents(const SKzExperimentRecord&, const CKzVariant*) { return KZ_ERR_NOT_SUPPORTED; }

int CKzVT5OutputFile_V03::SetImageMetadata(const SKzExperiment&, const CKzVariant*) { return KZ_ERR_NOT_SUPPORTED; }

int CKzVT5OutputFile_V03::SetImageMetadata(u32, const SKzPictureMetadata&, const CKzVariant*)
{
    return KZ_ERR_NOT_SUPPORTED;
}

int CKzVT5OutputFile_V03::SetImageEvents(const SKzExperimentRecord&, const CKzVariant*) { return KZ_ERR_NOT_SUPPORTED; }
