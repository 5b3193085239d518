// Readers of VT5 files: version 2 (descriptions as XML text of variants) and
// version 3 (descriptions as lite variants). Files are hostile input: every
// length and count read from them is checked before use.
//
// A reader may be used from several threads at once: its reference count is
// atomic, and every operation that touches what the reader keeps between
// calls (the container and its scan state, the frame layout learnt once, the
// frame metadata loaded once, the zlib stream and its scratch piece, the
// times of a file being written) runs under the reader's own lock. Calls on
// one reader are serialised; different readers are independent.
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
class CKzVT5OutputFile_V02;

class KZ_EXPORT IKzVT5InputFile : public IKzInputImageFile {
protected:
    ~IKzVT5InputFile() = default;
};

class KZ_EXPORT CKzVT5InputFile_V02 : public IKzVT5InputFile {
public:
    // A reader over an opened container (the reader keeps a copy of it, which
    // shares the open stream).
    CKzVT5InputFile_V02(IKzImageFormat* format, const CKzFileChunker& container);
    // A reader over the file a writer is writing; it sees the chunks the
    // writer had written. Throws std::runtime_error when the file cannot be
    // opened.
    CKzVT5InputFile_V02(CKzVT5OutputFile_V02& writer, const SKzExperiment* unused);

    int AddRef() override;
    int Release() override;
    IKzImageFormat* GetImageFormat() override;
    int GetData(u32 seq, void* buffer, KzImageProgressFn progress, void* user) override;
    int GetImageAttributes(SKzImageAttributes& attributes) override;
    int GetImageMetadata(SKzExperiment& experiment, CKzVariant* unused) override;
    int GetImageMetadata(u32 seq, SKzPictureMetadata& metadata, CKzVariant* unused) override;
    int GetCustomData(const wchar_t* name, CKzByteArray& data) override;
    int GetCustomDataSeq(const wchar_t* name, u32 index, CKzByteArray& data) override;
    int GetComponentData(u32 seq, u32 component, void* buffer, u32 rowBytes, u32 components) override;
    int GetCustomDataVar(const wchar_t* name, CKzVariant& value) override;
    int GetCustomDataVarSeq(const wchar_t* name, u32 index, CKzVariant& value) override;
    int GetImageTextInfo(SKzImageTextInfo& info) override;
    int GetImageBinary(void* buffer) override;
    int GetRectData(u32 seq, u32 virtualWidth, u32 virtualHeight, u32 x, u32 y, u32 width, u32 height, void* buffer,
                    u32 rowBytes, int unused, KzImageProgressFn progress, void* user) override;
    int GetImageEvents(SKzExperimentRecord& record, CKzVariant* unused) override;
    int GetAcqTime(double& time) override;
    virtual ~CKzVT5InputFile_V02();

    // XML text of a chunk decoded into result by the serializer; -9 without one.
    static int low_ByteArrayToVariant(CKzVariant& result, const CKzByteArray& text, IKzSerializer* serializer);
    // Reads "ImageAttributes!" into attributes (keys missing keep the
    // caller's values); -9 for more than 256 components or a zero size or
    // depth (the values read stay), -13 without the chunk.
    static int ReadXmlAttributes(CKzFileChunker& container, SKzImageAttributes& attributes, bool* decoded = nullptr);
    // UTF-8 bytes as a wide string; -9 when they do not decode.
    static int low_ByteArrayToString(CKzStringW& out, const CKzByteArray& text);

    // 0 when the chunk of frame seq can hold one frame of the attributes
    // (raw: exactly; deflated: no more than zlib's largest ratio from its
    // stored bytes), so a picture sized from the attributes is worth
    // allocating; -13 without the frame, -9 otherwise.
    int CheckFrameChunk(u32 seq);

    // Frame count learnt from the attributes (0 before).
    u32 GetFrameCount() const
    {
        std::lock_guard<std::recursive_mutex> lock(m_Lock);
        return m_uiFrameCount;
    }

    // Takes the chunk map of the container the reader was made from, which
    // gets the reader's (empty) map: the format opens a file's container and
    // hands its map over instead of copying it.
    KZ_HIDDEN void AdoptMap(CKzFileChunker& container) noexcept
    {
        std::lock_guard<std::recursive_mutex> lock(m_Lock);
        m_Chunker.SwapMap(container);
    }

protected:
    friend class CKzVT5OutputFile_V02;

    typedef std::lock_guard<std::recursive_mutex> Lock;

    // Learns the frame layout (and compression) from the attributes once.
    // Every helper below runs with m_Lock held by the public operation.
    KZ_HIDDEN int ensureLayout();
    // Frame chunk name of seq.
    KZ_HIDDEN static std::string frameName(u32 seq);
    // The deflated frame of the chunk name into buffer (exactly frameBytes).
    KZ_HIDDEN int inflateFrame(const std::string& name, void* buffer, u64 frameBytes);
    // The header of the frame chunk name, checked against the chunk layout
    // and against the chunk's map entry: the name field holds the name padded
    // so that the 8-byte time (or the whole data of a chunk written in one
    // part) ends on a block boundary, and the data length is the map's (or,
    // in a rebuilt map, the whole chunk's length). A header that disagrees
    // would place the frame elsewhere in the file: -9. -13 without the chunk.
    KZ_HIDDEN int frameHeader(const std::string& name, SKzChunkHeader& header);
    // Bytes of one stored frame (uiWidthBytes x uiHeight).
    u64 frameBytes() const { return (u64)m_Layout.uiWidthBytes * m_Layout.uiHeight; }
    // The chunk among prefix + n + "!" with the smallest n below the frame
    // count that can be read; the last failure, -13 when there is none.
    KZ_HIDDEN int findFirstFrameChunk(const char* prefix, CKzByteArray& bytes);
    // Decodes XML chunk bytes into a fresh variant with type changes enabled.
    KZ_HIDDEN int decodeDescription(const CKzByteArray& bytes, CKzVariant& out);
    // Moves the picture metadata's times to those of frame seq.
    KZ_HIDDEN int applyFrameTime(u32 seq, SKzPictureMetadata& metadata);
    // Rows served from memory instead of the file (thumbnail).
    struct SRectSource {
        u32 uiWidth, uiHeight, uiWidthBytes, uiComp, uiSampleBytes;
        const u8* pRows;  // null: rows come from the frame chunk
    };
    KZ_HIDDEN int rectCopy(u32 seq, const SRectSource& src, u32 virtualWidth, u32 virtualHeight, u32 x, u32 y, u32 width,
                 u32 height, void* buffer, u32 rowBytes, KzImageProgressFn progress, void* user);
    // Sample bytes for the rectangle reads: 1, 2, 4 or 0 when not readable so.
    KZ_HIDDEN static u32 rectSampleBytes(u32 bpcInMemory, i32 pixelType);
    // Record hooks (experiment, picture metadata, events).
    KZ_HIDDEN void freeRecords();
    // The frame count of a file whose attributes claim `stored` frames: the
    // claim when the frame chunks confirm it, else the frames present (the
    // last frame chunk's index + 1). Remembered as the frame count; a file
    // whose writer never finished also gets its frames' stored times.
    KZ_HIDDEN u32 noteFrameCount(u32 stored);
    KZ_HIDDEN u32 framesPresent(u32 stored);
    KZ_HIDDEN void loadUnfinishedTimes(u32 frames);
    // Reader over a file being written: its experiment, repaired to the frames.
    KZ_HIDDEN void loadWriterExperiment();
    KZ_HIDDEN void repairWriterExperiment(u32 frameCount);
    // The writer brings its reader up to date: frame count, times and map.
    KZ_HIDDEN int updateFromWriter(u32 frameCount, const std::vector<double>& times, const CKzFileChunker& container);

    std::vector<double> m_AcqTimes;          // reader over a file being written only
    SKzPictureMetadata* m_pMetadata;         // null until frame metadata is loaded
    CKzFileChunker m_Chunker;
    u32 m_uiFrameCount;
    i32 m_iCompression;                      // -1 until the attributes are read
    std::atomic<int> m_iRef;
    CKzSerializerXMLString* m_pSerializer;
    IKzImageFormat* m_pFormat;
    CKzStringW m_wsPath;
    SKzExperiment* m_pExperiment;            // reader over a file being written only
    SKzExperiment* m_pExperimentStored;      // its experiment as stored, repaired anew at each update
    SKzImageAttributes m_Layout;             // geometry of the frames
    bool m_bLayout;
    CKzByteArray m_Scratch;                  // compressed frame bytes, reused
    void* m_pInflate;                        // zlib stream, kept between frames
    bool m_bTimesScanned;                    // frame times of an unfinished file looked for
    // Serialises the operations of this reader (recursive: operations call
    // one another, and the writer of the file brings its reader up to date
    // while holding its own lock, never the other way round).
    mutable std::recursive_mutex m_Lock;
};

class KZ_EXPORT CKzVT5InputFile_V03 : public CKzVT5InputFile_V02 {
public:
    CKzVT5InputFile_V03(IKzImageFormat* format, const CKzFileChunker& container);
    CKzVT5InputFile_V03(CKzVT5OutputFile_V02& writer, const SKzExperiment* unused);

    int GetImageAttributes(SKzImageAttributes& attributes) override;
    int GetImageMetadata(SKzExperiment& experiment, CKzVariant* unused) override;
    int GetImageMetadata(u32 seq, SKzPictureMetadata& metadata, CKzVariant* unused) override;
    int GetImageTextInfo(SKzImageTextInfo& info) override;
    int GetRectData(u32 seq, u32 virtualWidth, u32 virtualHeight, u32 x, u32 y, u32 width, u32 height, void* buffer,
                    u32 rowBytes, int unused, KzImageProgressFn progress, void* user) override;
    int GetImageEvents(SKzExperimentRecord& record, CKzVariant* unused) override;
    ~CKzVT5InputFile_V03() override;

    // Reads "ImageAttributesLV!" into attributes (keys missing keep the
    // defaults of the version-3 rules); remembers nothing. 0, -9 or -13.
    static int ReadLiteAttributes(CKzFileChunker& container, SKzImageAttributes& attributes);
};
