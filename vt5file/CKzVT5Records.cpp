// The experiment, picture-metadata and event chunks of readers and writers.
//
// The picture metadata, the event log and the experiment travel in both
// versions: as XML text of variant trees in version 2, as lite variants in
// version 3. A writer reserves the file for the frames its experiment
// describes; a reader over a version-2 file being written keeps the
// experiment repaired to the frames stored so far.
#include <cmath>
#include <cstring>
#include <new>

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzDateTime.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzVariant.h"
#include "vt5file/CKzVT5InputFile.h"
#include "vt5file/CKzVT5OutputFile.h"
#include "vt5file/KzVT5Names.h"

namespace {

int StoreLite(CKzFileChunker& chunker, CKzLiteVariantW& writer, const char* chunk)
{
    if (writer.HasFailed())
        return KZ_ERR_OUT_OF_MEMORY;
    CKzLiteVariantR blob;
    if (!writer.Finalize(blob))
        return KZ_ERR_OUT_OF_MEMORY;
    if ((u64)blob.GetSize() > 0xFFFFFFFFull)
        return KZ_ERR_FAILED;
    return chunker.SetChunk(blob, chunk);
}

}  // namespace

// ---------------------------------------------------------------------------
// readers

void CKzVT5InputFile_V02::freeRecords()
{
    delete m_pMetadata;
    m_pMetadata = nullptr;
    SKzExperiment::FreeRecursive(m_pExperiment);
    m_pExperiment = nullptr;
    SKzExperiment::FreeRecursive(m_pExperimentStored);
    m_pExperimentStored = nullptr;
}

void CKzVT5InputFile_V02::loadWriterExperiment()
{
    // The version-2 chunk only: a version-3 reader does not consult a cached
    // experiment.
    SKzExperiment* loaded = nullptr;
    if (SKzExperiment::Alloc(&loaded) != KZ_OK)
        return;
    if (CKzVT5InputFile_V02::GetImageMetadata(*loaded, nullptr) != KZ_OK) {
        SKzExperiment::FreeRecursive(loaded);
        return;
    }
    m_pExperimentStored = loaded;
    repairWriterExperiment(m_uiFrameCount);
}

void CKzVT5InputFile_V02::repairWriterExperiment(u32 frameCount)
{
    // The cached experiment follows the frames the writer has stored so far.
    // A repair only ever lowers counts, so each one starts again from the
    // experiment as stored.
    if (!m_pExperimentStored)
        return;
    SKzExperiment* fresh = nullptr;
    if (SKzExperiment::Duplicate(&fresh, *m_pExperimentStored, true) != KZ_OK)
        return;
    CKzExperimentAPI::RepairExperiment(fresh, frameCount);
    SKzExperiment::FreeRecursive(m_pExperiment);
    m_pExperiment = fresh;
}

int CKzVT5InputFile_V02::applyFrameTime(u32 seq, SKzPictureMetadata& metadata)
{
    double t, t0;
    if (!m_AcqTimes.empty()) {
        if (seq >= m_AcqTimes.size())
            return KZ_OK;
        t = m_AcqTimes[seq];
        t0 = m_AcqTimes[0];
    } else {
        // Only the two entries needed are read: the cache holds one entry
        // per frame.
        SKzChunkMapMember member;
        if (!m_Chunker.GetMapMember(vt5names::kAcqTimesCache, member) || (u64)seq >= member.uiSize / 8)
            return KZ_OK;  // no time for the frame: the stored ones stand
        SKzChunkHeader header{};
        if (m_Chunker.GetChunkPartTo(header, &t0, 0, 8, vt5names::kAcqTimesCache) != KZ_OK ||
            m_Chunker.GetChunkPartTo(header, &t, (u64)seq * 8, 8, vt5names::kAcqTimesCache) != KZ_OK)
            return KZ_OK;
    }
    if (!std::isfinite(t) || !std::isfinite(t0))
        return KZ_OK;
    metadata.dTimeMSec = t;
    // An unknown absolute time (-1) stays unknown.
    const double shift = std::trunc(t - t0);
    if (metadata.dTimeAbsolute != -1.0 && std::fabs(shift) < 1e15) {
        CKzDateTime at;
        at.Set(metadata.dTimeAbsolute);
        if (at.IsValid()) {
            at.SetValue(at.GetValue() + (kz_int64)shift);
            metadata.dTimeAbsolute = at.GetJulianDayNumber();
        }
    }
    return KZ_OK;
}

int CKzVT5InputFile_V02::GetImageMetadata(SKzExperiment& experiment, CKzVariant*)
{
    Lock lock(m_Lock);
    if (m_pExperiment)
        return SKzExperiment::CopyRecursive(&experiment, *m_pExperiment, true);
    CKzByteArray bytes;
    if (const int r = m_Chunker.GetChunk(bytes, vt5names::kExperiment); r != KZ_OK)
        return r;
    CKzVariant v;
    if (const int r = decodeDescription(bytes, v); r != KZ_OK)
        return r;
    return SKzExperiment::LoadFromVariant(experiment, v);
}

int CKzVT5InputFile_V02::GetImageMetadata(u32 seq, SKzPictureMetadata& metadata, CKzVariant*)
{
    Lock lock(m_Lock);
    if (!m_pMetadata) {
        CKzByteArray bytes;
        if (const int r = findFirstFrameChunk(vt5names::kFrameMeta, bytes); r != KZ_OK)
            return r;
        CKzVariant v;
        if (const int r = decodeDescription(bytes, v); r != KZ_OK)
            return r;
        SKzPictureMetadata* loaded = new (std::nothrow) SKzPictureMetadata();
        if (!loaded)
            return KZ_ERR_OUT_OF_MEMORY;
        if (const int r = SKzPictureMetadata::LoadFromVariant(*loaded, v); r != KZ_OK) {
            delete loaded;
            return r;
        }
        m_pMetadata = loaded;
    }
    // A record without channels copies with -4 from the channel set; every
    // field has been copied all the same.
    SKzPictureMetadata::Copy(metadata, *m_pMetadata);
    return applyFrameTime(seq, metadata);
}

int CKzVT5InputFile_V02::GetImageEvents(SKzExperimentRecord& record, CKzVariant*)
{
    Lock lock(m_Lock);
    CKzByteArray bytes;
    if (const int r = m_Chunker.GetChunk(bytes, vt5names::kEvents); r != KZ_OK)
        return r;
    CKzVariant v;
    if (const int r = decodeDescription(bytes, v); r != KZ_OK)
        return r;
    return SKzExperimentRecord::LoadFromVariant(record, v);
}

int CKzVT5InputFile_V03::GetImageMetadata(SKzExperiment& experiment, CKzVariant*)
{
    Lock lock(m_Lock);
    CKzLiteVariantR r;
    if (const int g = m_Chunker.GetChunk(r, vt5names::kExperimentLV); g != KZ_OK)
        return g;
    r.Reset();
    if (r.LevelBegin(L"SKzExperiment") != KZ_OK)
        return KZ_ERR_FAILED;
    const int result = SKzExperiment::ReadFromLiteVariant(experiment, r);
    r.LevelEnd();
    return result;
}

int CKzVT5InputFile_V03::GetImageMetadata(u32 seq, SKzPictureMetadata& metadata, CKzVariant*)
{
    Lock lock(m_Lock);
    if (!m_pMetadata) {
        CKzLiteVariantR r;
        if (const int g = findFirstFrameChunk(vt5names::kFrameMetaLV, r); g != KZ_OK)
            return g;
        r.Reset();
        SKzPictureMetadata* loaded = new (std::nothrow) SKzPictureMetadata();
        if (!loaded)
            return KZ_ERR_OUT_OF_MEMORY;
        if (const int g = SKzPictureMetadata::LoadFromLiteVariant(*loaded, r); g != KZ_OK) {
            delete loaded;
            return g;
        }
        m_pMetadata = loaded;
    }
    // A record without channels copies with -4 from the channel set; every
    // field has been copied all the same.
    SKzPictureMetadata::Copy(metadata, *m_pMetadata);
    return applyFrameTime(seq, metadata);
}

int CKzVT5InputFile_V03::GetImageEvents(SKzExperimentRecord& record, CKzVariant* unused)
{
    Lock lock(m_Lock);
    // Version-3 files of other writers keep their events as XML only.
    CKzLiteVariantR r;
    const int g = m_Chunker.GetChunk(r, vt5names::kEventsLV);
    if (g == KZ_ERR_NOT_FOUND)
        return CKzVT5InputFile_V02::GetImageEvents(record, unused);
    if (g != KZ_OK)
        return g;
    r.Reset();
    return SKzExperimentRecord::LoadFromLiteVariant(record, r);
}

// ---------------------------------------------------------------------------
// writers

int CKzVT5OutputFile_V02::SetImageMetadata(const SKzExperiment& experiment, const CKzVariant*)
{
    Lock lock(m_Lock);
    CKzVariant v;
    v.EnableTypeChange(true);
    if (const int r = SKzExperiment::SaveToVariant(v, experiment); r != KZ_OK)
        return r;
    // The file is reserved for the frames the experiment describes.
    m_uiExpectedCount = CKzExperimentAPI::GetAllImagesCount(&experiment);
    const int reserved = reserveForFrames(m_uiExpectedCount);
    const int stored = storeVariant(v, vt5names::kExperiment);
    return stored != KZ_OK ? stored : reserved;
}

int CKzVT5OutputFile_V02::SetImageMetadata(u32 seq, const SKzPictureMetadata& metadata,
                                           const CKzVariant* description)
{
    Lock lock(m_Lock);
    if (m_bMetadataStored && !description)
        return setTimeToAcqTimesCache(seq, metadata.dTimeMSec, true);
    SetImageCalibration(seq, metadata.dCalibration, metadata.dAspect, metadata.bCalibrated, metadata.wsObjectiveName);
    CKzVariant v;
    v.EnableTypeChange(true);
    if (const int r = SKzPictureMetadata::SaveToVariant(v, metadata); r != KZ_OK)
        return r;
    const int w = storeVariant(v, vt5names::Indexed(vt5names::kFrameMeta, seq).c_str());
    m_bMetadataStored = true;
    if (w != KZ_OK)
        return w;
    return setTimeToAcqTimesCache(seq, metadata.dTimeMSec, true);
}

int CKzVT5OutputFile_V02::SetImageEvents(const SKzExperimentRecord& record, const CKzVariant*)
{
    Lock lock(m_Lock);
    CKzVariant v;
    v.EnableTypeChange(true);
    if (const int r = SKzExperimentRecord::SaveToVariant(v, record); r != KZ_OK)
        return r;
    return storeVariant(v, vt5names::kEvents);
}

int CKzVT5OutputFile_V03::SetImageMetadata(const SKzExperiment& experiment, const CKzVariant*)
{
    Lock lock(m_Lock);
    CKzLiteVariantW w;
    if (const int r = w.LevelBegin(L"SKzExperiment"); r != KZ_OK)
        return r;
    if (const int r = SKzExperiment::WriteToLiteVariant(w, experiment); r != KZ_OK)
        return r;
    w.LevelEnd();
    // The file is reserved for the frames the experiment describes.
    m_uiExpectedCount = CKzExperimentAPI::GetAllImagesCount(&experiment);
    const int reserved = reserveForFrames(m_uiExpectedCount);
    const int stored = StoreLite(m_Chunker, w, vt5names::kExperimentLV);
    return stored != KZ_OK ? stored : reserved;
}

int CKzVT5OutputFile_V03::SetImageMetadata(u32 seq, const SKzPictureMetadata& metadata,
                                           const CKzVariant* description)
{
    Lock lock(m_Lock);
    if (m_bMetadataStored && !description)
        return setTimeToAcqTimesCache(seq, metadata.dTimeMSec, true);
    SetImageCalibration(seq, metadata.dCalibration, metadata.dAspect, metadata.bCalibrated, metadata.wsObjectiveName);
    CKzLiteVariantW w;
    if (const int r = SKzPictureMetadata::SaveToLiteVariant(w, metadata); r != KZ_OK)
        return r;
    const int stored = StoreLite(m_Chunker, w, vt5names::Indexed(vt5names::kFrameMetaLV, seq).c_str());
    m_bMetadataStored = true;
    if (stored != KZ_OK)
        return stored;
    return setTimeToAcqTimesCache(seq, metadata.dTimeMSec, true);
}

int CKzVT5OutputFile_V03::SetImageEvents(const SKzExperimentRecord& record, const CKzVariant* unused)
{
    Lock lock(m_Lock);
    // The lite form for this version's readers, the XML form for others.
    CKzLiteVariantW w;
    int first = SKzExperimentRecord::SaveToLiteVariant(w, record);
    if (first == KZ_OK)
        first = StoreLite(m_Chunker, w, vt5names::kEventsLV);
    const int xml = CKzVT5OutputFile_V02::SetImageEvents(record, unused);
    return first != KZ_OK ? first : xml;
}
