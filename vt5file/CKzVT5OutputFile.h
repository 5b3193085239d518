// Writers of VT5 files: version 2 (descriptions as XML text of variants) and
// version 3 (attributes, experiment, picture metadata and text information as
// lite variants). Frames are stored raw, deflated, or streamed row by row.
//
// A writer may be fed from several threads at once: its reference count is
// atomic and every operation runs whole under the writer's own lock, so
// frames, descriptions and custom data stored from different threads each
// land complete (a frame streamed row by row is still one stream: its rows
// come in order, with no other chunk in between).
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "gnr_system/CKzByteArray.h"
#include "vt5file/CKzFileChunker.h"
#include "vt5file/IKzImageFile.h"

class IKzSerializer;
class CKzSerializerXMLString;
class CKzVT5InputFile_V02;

class KZ_EXPORT CKzVT5OutputFile_V02 : public IKzOutputImageFile {
public:
    CKzVT5OutputFile_V02(IKzImageFormat* format, CKzStringW path, bool bExisting, CKzFileChunker& container);
    // A writer over the container only (no path, nothing loaded): its bytes go
    // wherever the container was opened.
    CKzVT5OutputFile_V02(IKzImageFormat* format, CKzByteArray& bytes, bool bExisting, CKzFileChunker& container);

    int AddRef() override;
    int Release() override;
    int Finalize() override;
    IKzImageFormat* GetImageFormat() override;
    int SetImageBinary(void* bits) override;
    int SetImageCalibration(u32 seq, double calibration, double aspect, bool bValid,
                            const CKzStringW& objective) override;
    int SetImageAttributes(const SKzImageAttributes& attributes) override;
    int SetImageMetadata(const SKzExperiment& experiment, const CKzVariant* unused) override;
    int SetImageMetadata(u32 seq, const SKzPictureMetadata& metadata, const CKzVariant* description) override;
    int SetCustomData(const wchar_t* name, const void* data, size_t length) override;
    int FlushData(u32 seq, void* frame, KzImageProgressFn progress, void* user) override;
    int SetCustomDataSeq(const wchar_t* name, u32 index, const void* data, size_t length) override;
    int CreateInputImageFile(u32 seq, IKzInputImageFile*& reader, const SKzExperiment* experiment) override;
    int SetCustomDataVar(const wchar_t* name, const CKzVariant* value) override;
    int SetImageTextInfo(const SKzImageTextInfo& info) override;
    int SetAcqTime(double time) override;
    int SetImageEvents(const SKzExperimentRecord& record, const CKzVariant* unused) override;
    virtual ~CKzVT5OutputFile_V02();
    // Stores the attributes (normalised first) in this version's form.
    virtual int saveImageAttributes();
    // Reads this version's attribute chunk of the file.
    virtual int _GetImageAttributes(SKzImageAttributes& attributes);

    int FlushData(void* frame, KzImageProgressFn progress, void* user);
    // Frame seq streamed one row per call, rows 0 to uiHeight - 1 in order,
    // no other chunk in between; raw frames only (-2 otherwise).
    int FlushTileData(u32 seq, u32 tile, u32 row, void* rowData, KzImageProgressFn progress, void* user);
    int FlushTileData(u32 tile, u32 row, void* rowData, KzImageProgressFn progress, void* user);
    // Item index of a custom-data variant sequence ("CustomDataVarSeq|name|index!").
    int SetCustomDataVarSeq(const wchar_t* name, u32 index, const CKzVariant* value);
    // -9 unless width, height, components and both depths are non-zero.
    int validateImageAttributes();
    int AbortAndDelete();
    int DeleteLastTiles(u32 count);
    int SetImageAnnotation(void* annotation);
    int SetImageOperationHistory(CKzStringW& history);

    // XML text (UTF-8, no terminator) of value; -9 without a serializer.
    static int low_VariantToByteArray(CKzByteArray& bytes, const CKzVariant& value, IKzSerializer* serializer);
    // UTF-8 bytes of a wide string (-9 when it cannot be converted), or the
    // characters of a narrow one.
    static int low_StringToByteArray(CKzByteArray& bytes, const CKzStringW& text);
    static int low_StringToByteArray(CKzByteArray& bytes, const CKzStringA& text);

    // zlib level for a compression parameter: its whole part, below 1 (and
    // NaN) 6, 10 and above 9.
    static int CompressionLevel(double parameter);
    // Current attributes (as normalised so far), copied under the lock.
    SKzImageAttributes GetAttributes() const
    {
        std::lock_guard<std::recursive_mutex> lock(m_Lock);
        return m_Attributes;
    }

protected:
    friend class CKzVT5InputFile_V02;
    typedef std::lock_guard<std::recursive_mutex> Lock;

    // The helpers below run with m_Lock held by the public operation.
    KZ_HIDDEN void initImageAttributes();
    // Depth in memory to a multiple of 8, tiles to the frame, stride to the row.
    KZ_HIDDEN void normalizeImageAttributes();
    KZ_HIDDEN int setTimeToAcqTimesCache(u32 seq, double time, bool bSet);
    KZ_HIDDEN int getTimeFromAcqTimesCache(u32 seq, double& time);
    KZ_HIDDEN int validateTimeToAcqTimesCache(u32 seq);
    // Attributes stored at the first frame, count raised, time of the frame.
    KZ_HIDDEN int prepareFrame(u32 seq, double& time);
    // Reserves the expected size of frames (a hint, capped at 4 GiB).
    KZ_HIDDEN int reserveForFrames(u64 frames);
    KZ_HIDDEN int storeVariant(const CKzVariant& value, const char* chunk);
    // Keeps the stored times of an existing file's frames.
    KZ_HIDDEN void loadExistingTimes();
    // A reader of this writer's version over the file being written.
    KZ_HIDDEN virtual CKzVT5InputFile_V02* newReader();

    std::atomic<int> m_iRef;
    IKzImageFormat* m_pFormat;
    CKzStringW m_wsPath;
    CKzFileChunker m_Chunker;
    CKzSerializerXMLString* m_pSerializer;
    bool m_bFinalized;
    std::vector<double> m_Times;   // acquisition time (ms) of frame i
    std::vector<u8> m_States;      // 0 no time, 1 time known, 2 time known and frame stored
    SKzImageAttributes m_Attributes;
    bool m_bMetadataStored;
    u64 m_uiExpectedCount;
    bool m_bAppending;
    bool m_bCacheStored;
    bool m_bGeometryStored;        // the first frame stored the attributes
    // The close stores no attributes: set when this version's form could not
    // be stored, so that the base class does not store the other version's.
    bool m_bKeepGeometry;
    std::vector<u8> m_Deflate;     // deflated frame, reused
    // Serialises the operations of this writer (recursive: operations call
    // one another). Taken before the lock of a reader over this file.
    mutable std::recursive_mutex m_Lock;
};

class KZ_EXPORT CKzVT5OutputFile_V03 : public CKzVT5OutputFile_V02 {
public:
    CKzVT5OutputFile_V03(IKzImageFormat* format, CKzStringW path, bool bExisting, CKzFileChunker& container);
    CKzVT5OutputFile_V03(IKzImageFormat* format, CKzByteArray& bytes, bool bExisting, CKzFileChunker& container);

    int SetImageMetadata(const SKzExperiment& experiment, const CKzVariant* unused) override;
    int SetImageMetadata(u32 seq, const SKzPictureMetadata& metadata, const CKzVariant* description) override;
    int CreateInputImageFile(u32 seq, IKzInputImageFile*& reader, const SKzExperiment* experiment) override;
    int SetImageTextInfo(const SKzImageTextInfo& info) override;
    int SetImageEvents(const SKzExperimentRecord& record, const CKzVariant* unused) override;
    ~CKzVT5OutputFile_V03() override;
    int saveImageAttributes() override;
    int _GetImageAttributes(SKzImageAttributes& attributes) override;

protected:
    KZ_HIDDEN CKzVT5InputFile_V02* newReader() override;
};
