// Rebuilding the chunk map of a file whose writer stopped before finishing it.
#include <algorithm>
#include <climits>
#include <string>

#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"
#include "vt5file/CKzFileChunker.h"
#include "vt5file/CKzFileChunkerInternal.h"

using namespace vt5_chunk_detail;

int CKzFileChunker::CreateMissingChunkMap(ChunkFn chunkFn, void* user, ProgressFn progress)
{
    if (!m_bOpen || m_bFinalized)
        return KZ_ERR_FAILED;
    const bool memory = m_Wrapper.IsMemory();
    const std::wstring path = m_Wrapper.GetFileName();
    CKzByteArray* array = m_Wrapper.GetArray();

    // Bytes a writer handed over are kept before the file is examined.
    if (!m_Wrapper.GetReadOnly())
        closeStream();
    m_bStreaming = false;
    m_sStreamName.clear();
    m_uiPending = 0;

    auto reopen = [&](bool bReadOnly) -> int {
        m_bSizeKnown = false;
        if (memory)
            return array ? m_Wrapper.Initialize(*array, bReadOnly, true) : KZ_ERR_FAILED;
        m_Wrapper.Finalize();
        return m_Wrapper.Initialize(path.c_str(), bReadOnly, true);
    };
    // The scan runs on a read-only stream, so nothing it meets can change the file.
    if (reopen(true) != KZ_OK) {
        m_bOpen = false;
        return KZ_ERR_FAILED;
    }
    // Without its signature the file is not ours to repair.
    CKzStringA version;
    if (checkValidFile(version) != KZ_OK)
        return KZ_ERR_FAILED;
    u64 size = 0;
    if (m_Wrapper.GetSize(&size) != KZ_OK)
        return KZ_ERR_FAILED;

    m_Map.clear();
    CKzByteArray data(kBlock);
    u64 pos = 0;
    u64 resume = 0;
    for (;;) {
        SKzChunkHeader header;
        std::string name;
        u64 at = 0;
        if (findChunk(pos, size, header, name, at) != KZ_OK)
            break;
        const u64 end = at + 16 + header.uiNameLength + header.uiDataLength;
        // A chunk too large to be read whole is filed without being shown.
        if (chunkFn && header.uiDataLength <= kMaxData) {
            const int r = readData(at, header, data);
            if (r != KZ_OK) {
                m_Map.clear();
                return r;
            }
            CKzStringA chunkName(name.c_str(), 0);
            SKzChunkHeader seen = header;
            chunkFn(seen, chunkName, data, user);
        }
        // A name written twice: the later copy is the current one, as in a
        // map the writer would have written.
        m_Map.set(name, SKzChunkMapMember{at, end - at});
        // Chunks start on block boundaries: the next one can be no earlier.
        resume = roundUp(end);
        pos = resume;
        if (progress && progress(std::min(static_cast<double>(end) / static_cast<double>(size), 1.0), nullptr))
            return KZ_ERR_TRUNCATED;
    }

    // What follows the last chunk found is overwritten by the new map.
    if (reopen(false) != KZ_OK) {
        m_bOpen = false;
        return KZ_ERR_FAILED;
    }
    m_uWritePos = resume;
    if (resume > static_cast<u64>(LONG_MAX))
        return KZ_ERR_FAILED;
    int r = truncateAt(resume);
    if (r != KZ_OK)
        return r;

    if (chunkFn) {
        CKzByteArray extra(kBlock);
        for (int n = 0; n < INT_MAX; ++n) {
            SKzChunkHeader scratch{0, 0, 0};
            CKzStringA name;
            name.Format("##ADD_NEW_CHUNKS##%i", n);
            const int answer = chunkFn(scratch, name, extra, user);
            if (answer == KZ_ERR_TRUNCATED)
                break;
            if (answer == KZ_OK) {
                r = SetChunk(extra, name.GetString());
                if (r != KZ_OK)
                    return r;
            }
        }
    }

    m_bMapMissing = false;
    r = writeChunkMap();
    if (r != KZ_OK)
        return r;
    if (reopen(true) != KZ_OK) {
        m_bOpen = false;
        return KZ_ERR_FAILED;
    }
    if (progress)
        progress(1.0, nullptr);
    return KZ_OK;
}
