// Chunk container: named blocks of bytes in one file, found again by name.
//
// File layout (little-endian, blocks of 4096 bytes):
//   chunk      = u32 magic 0x0ABECEDA, u32 name field length, u64 data length,
//                name field (name with final "!", zero padding), data,
//                zeros up to the next block boundary; chunks start on block boundaries.
//   offset 0   = signature chunk "VT5 FILE SIGNATURE CHUNK NAME01!" with 64 bytes
//                holding the version text.
//   end        = map chunk "VT5 FILEMAP SIGNATURE NAME 0001!" listing every chunk
//                (name, u64 offset, u64 size) in descending name order, then the
//                map signature and its offset, zero padding, and the 40-byte trailer
//                (signature + offset again) as the last bytes of the file.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "gnr_system/kz_base.h"
#include "vt5file/CKzFileChunkerMap.h"
#include "vt5file/CKzFileMemoWrapper.h"

class CKzByteArray;
class CKzStringA;

struct SKzChunkHeader {
    u32 uiMagic;
    u32 uiNameLength;
    u64 uiDataLength;
};
static_assert(sizeof(SKzChunkHeader) == 16, "chunk header is 16 bytes on disk");

class KZ_EXPORT CKzFileChunker {
public:
    enum : u32 { eMagic = 0x0ABECEDAu, eBlock = 4096 };

    typedef int (*ChunkFn)(SKzChunkHeader& header, CKzStringA& name, CKzByteArray& data, void* user);
    typedef bool (*ProgressFn)(double fraction, void* user);

    CKzFileChunker();
    CKzFileChunker(const CKzFileChunker& other);
    CKzFileChunker& operator=(const CKzFileChunker&) = delete;
    virtual ~CKzFileChunker();

    int Initialize_File(const wchar_t* path, bool bReadOnly, bool bExisting, CKzStringA& version);
    int Initialize_Memory(CKzByteArray& data, bool bReadOnly, bool bExisting, CKzStringA& version);
    int Finalize();

    int ExistChunk(const char* name);
    int GetNextChunkID(CKzStringA& next, const char* name);
    int GetChunk(CKzByteArray& data, const char* name);
    int GetChunkPart(SKzChunkHeader& header, CKzByteArray& data, size_t offset, unsigned int length,
                     const char* name);

    // As GetChunkPart, but reads the range straight into the caller's memory
    // (length bytes at buffer), so large frames need no intermediate copy.
    int GetChunkPartTo(SKzChunkHeader& header, void* buffer, u64 offset, u64 length, const char* name);
    // The names of the map that begin with prefix, in map order; their count.
    size_t GetChunkNamesByPrefix(const char* prefix, std::vector<std::string>& names) const;

    int SetChunk(const CKzByteArray& data, const char* name);
    int SetChunk(const void* data, unsigned int length, const char* name);
    int SetChunk(const void* part1, unsigned int length1, const void* part2, unsigned int length2,
                 const char* name);
    int SetChunkPart(const void* part1, unsigned int length1, const void* piece, unsigned int pieceLength,
                     size_t length2, bool bLast, const char* name);
    int SetMapChunk(const CKzFileChunker* other);
    int Reserve(size_t size);

    // Rebuilds the map of a file by scanning its chunks (see CKzFileChunkerRebuild.cpp).
    int CreateMissingChunkMap(ChunkFn chunkFn, void* user, ProgressFn progress);

    // Exchanges the chunk maps of two containers (nothing else): hands a
    // large map to another container without copying it.
    KZ_HIDDEN void SwapMap(CKzFileChunker& other) noexcept { m_Map.swap(other.m_Map); }

    // Set when a file opened read-only has a valid signature but no readable map.
    bool IsMapMissing() const { return m_bMapMissing; }
    bool IsFinalized() const { return m_bFinalized; }
    // Number of chunks in the map.
    size_t GetChunkCount() const { return m_Map.size(); }
    // The map entry of name (exactly as given); false when absent.
    bool GetMapMember(const char* name, SKzChunkMapMember& member) const;

private:
    typedef CKzFileChunkerMap ChunkMap;

    KZ_HIDDEN int initialize_low(bool bReadOnly, bool bExisting, CKzStringA& version);
    KZ_HIDDEN int checkValidFile(CKzStringA& version);
    KZ_HIDDEN int makeValidFile(const CKzStringA& version);
    KZ_HIDDEN int readChunkMap();
    KZ_HIDDEN int writeChunkMap();
    KZ_HIDDEN int setChunk(const void* part1, u64 length1, const void* part2, u64 length2, const std::string& name);
    KZ_HIDDEN int closeStream();
    // Forgets a stream whose bytes could not be written; KZ_ERR_FAILED.
    KZ_HIDDEN int dropStream();
    KZ_HIDDEN int readSize(u64& size);
    // Common start of the chunk reads: the name with its "!", its map entry
    // and the file's size; 0, -4, -13 or -9.
    KZ_HIDDEN int prepareRead(const char* name, std::string& n, SKzChunkMapMember& entry, u64& fileSize);
    // File position of `length` bytes at `offset` of a chunk's data, checked
    // against the chunk and the file; reads the header when header.uiMagic is 0.
    KZ_HIDDEN int locatePart(SKzChunkHeader& header, u64 offset, u64 length, const char* name, u64& pos);
    KZ_HIDDEN int writeAt(u64 offset, const void* data, size_t length);
    KZ_HIDDEN int writeZeros(u64 offset, u64 length);
    // Makes the file end at end (extending it with zeros when shorter).
    KZ_HIDDEN int truncateAt(u64 end);

    // Validates the header at offset (magic, name field, name ending with "!",
    // lengths within the file) and reads the name; false when it does not check out.
    KZ_HIDDEN bool validHeaderAt(u64 offset, u64 fileSize, SKzChunkHeader& header, std::string& name);
    // The first valid chunk whose header starts at or after from; -9 when none.
    // What a scan finds is remembered, so that every byte of a file is
    // examined at most once however many lookups land in damaged places.
    KZ_HIDDEN int findChunk(u64 from, u64 fileSize, SKzChunkHeader& header, std::string& name, u64& at);
    // Scans [from, limit) for the first valid header; 0 with at set, 1 when
    // there is none before limit, -9 on a failed read.
    KZ_HIDDEN int scanForChunk(u64 from, u64 limit, u64 fileSize, SKzChunkHeader& header, std::string& name, u64& at);
    KZ_HIDDEN void forgetScans();
    // The chunk at offset, or, when no valid header is there, the next valid one.
    KZ_HIDDEN int locateChunk(u64 offset, u64 fileSize, SKzChunkHeader& header, std::string& name, u64& at);
    KZ_HIDDEN int readData(u64 at, const SKzChunkHeader& header, CKzByteArray& data);

    KZ_HIDDEN static bool normalizeName(const char* name, std::string& out);
    KZ_HIDDEN static bool writableName(const std::string& name);

    ChunkMap m_Map;
    CKzFileMemoWrapper m_Wrapper;
    bool m_bFinalized;
    bool m_bOpen;
    std::vector<unsigned char> m_Staging;
    bool m_bMapMissing;

    // Streamed chunk: its name, its header offset, where its next whole block
    // goes, the second-part bytes declared and received, and the pending count.
    std::string m_sStreamName;
    u64 m_uStreamOffset;
    u64 m_uStreamWritePos;
    u64 m_uStreamDeclared;
    u64 m_uStreamReceived;
    u32 m_uiPending;
    bool m_bStreaming;
    // The entry the streamed chunk replaced, restored when the stream fails.
    bool m_bStreamReplaces;
    SKzChunkMapMember m_StreamReplaced;

    // Where the next chunk starts: chunks are written here whatever the
    // stream position is, so a read between two writes cannot misplace them.
    u64 m_uWritePos;

    // Size of a read-only file, asked once.
    u64 m_uSize;
    bool m_bSizeKnown;
    // The map came from another container (a writer's copy or SetMapChunk):
    // a read-only open keeps it instead of reading the file's map.
    bool m_bMapHandedOver;

    // Scanned stretches of the file: each key starts a stretch in which no
    // valid chunk header starts; its value is the first valid header after
    // it (kNoChunk: none up to the end). Valid for a file of m_uScannedSize
    // bytes, and forgotten whenever this container writes.
    struct KZ_HIDDEN ScanOrder {
        bool operator()(u64 a, u64 b) const { return a < b; }
    };
    std::map<u64, u64, ScanOrder> m_Scanned;
    u64 m_uScannedSize;
};
