#include "vt5file/CKzFileChunker.h"

#include <climits>
#include <memory>
#include <new>
#include <string_view>
#include <cstring>

#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"
#include "vt5file/CKzFileChunkerInternal.h"

using namespace vt5_chunk_detail;

namespace {

const unsigned char kZeros[kBlock] = {};

// Bytes of the header block(s) of a chunk: header, name field, first part.
struct ChunkLayout {
    u64 nameField; // name + padding zeros
    u64 head;      // 16 + name field + first part, the first part ending on a block boundary when present
};

ChunkLayout layoutFor(u64 nameLength, u64 length1, u64 length2)
{
    ChunkLayout l;
    // The padding puts the end of the first part (and so the start of the
    // second) on a block boundary. A chunk without any data gets none. A
    // second part without a first part is padded too, so it still starts
    // exactly where a reader looks for the data.
    u64 z = 0;
    if (length1 + length2 > 0)
        z = (kBlock - (16 + nameLength + length1) % kBlock) % kBlock;
    l.nameField = nameLength + z;
    l.head = 16 + l.nameField + length1;
    return l;
}

} // namespace

CKzFileChunker::CKzFileChunker()
    : m_bFinalized(false), m_bOpen(false), m_bMapMissing(false), m_uStreamOffset(0), m_uStreamWritePos(0),
      m_uStreamDeclared(0), m_uStreamReceived(0), m_uiPending(0), m_bStreaming(false), m_bStreamReplaces(false),
      m_StreamReplaced{0, 0}, m_uWritePos(0), m_uSize(0), m_bSizeKnown(false), m_bMapHandedOver(false),
      m_uScannedSize(0)
{
}

CKzFileChunker::CKzFileChunker(const CKzFileChunker& other)
    : m_Map(other.m_Map), m_Wrapper(other.m_Wrapper), m_bFinalized(other.m_bFinalized), m_bOpen(other.m_bOpen),
      m_bMapMissing(other.m_bMapMissing), m_uStreamOffset(0), m_uStreamWritePos(0), m_uStreamDeclared(0),
      m_uStreamReceived(0), m_uiPending(0), m_bStreaming(false), m_bStreamReplaces(false), m_StreamReplaced{0, 0},
      m_uWritePos(other.m_uWritePos),
      m_uSize(other.m_uSize), m_bSizeKnown(other.m_bSizeKnown),
      m_bMapHandedOver(other.m_bMapHandedOver || (other.m_bOpen && !other.m_Wrapper.GetReadOnly())),
      m_uScannedSize(0)
{
}

// Memory only: the stream belongs to whichever copy is finalized.
CKzFileChunker::~CKzFileChunker() = default;

bool CKzFileChunker::normalizeName(const char* name, std::string& out)
{
    if (!name)
        return false;
    out.assign(name);
    if (out.empty() || out.back() != '!')
        out.push_back('!');
    return true;
}

bool CKzFileChunker::writableName(const std::string& name)
{
    // A name must come back unchanged from a written map: one "!" at the end,
    // short enough for the map reader, and not mistaken for the map's end.
    if (name.size() > kMaxName)
        return false;
    if (name.find('!') != name.size() - 1)
        return false;
    if (name.compare(0, 31, kMapSignature, 31) == 0)
        return false;
    return true;
}

bool CKzFileChunker::GetMapMember(const char* name, SKzChunkMapMember& member) const
{
    if (!name)
        return false;
    return m_Map.get(name, member);
}

// ---------------------------------------------------------------------------
// Opening and closing

int CKzFileChunker::Initialize_File(const wchar_t* path, bool bReadOnly, bool bExisting, CKzStringA& version)
{
    // A stream recorded by this container is replaced, not closed: a copy
    // handed over from a writer may still be using it.
    const int r = m_Wrapper.Initialize(path, bReadOnly, bExisting);
    if (r != KZ_OK) {
        m_bOpen = false;
        return r == KZ_ERR_INVALID_ARG ? r : KZ_ERR_FAILED;
    }
    return initialize_low(bReadOnly, bExisting, version);
}

int CKzFileChunker::Initialize_Memory(CKzByteArray& data, bool bReadOnly, bool bExisting, CKzStringA& version)
{
    m_Wrapper.Initialize(data, bReadOnly, bExisting);
    return initialize_low(bReadOnly, bExisting, version);
}

int CKzFileChunker::readSize(u64& size)
{
    // A read-only stream's size is asked once: reading a chunk then costs
    // one positioned read and nothing else.
    if (m_bSizeKnown) {
        size = m_uSize;
        return KZ_OK;
    }
    const int r = m_Wrapper.GetSize(&size);
    // A map handed over by a writer describes a file that is still growing:
    // its size is asked anew at every read.
    if (r == KZ_OK && m_Wrapper.GetReadOnly() && !m_Wrapper.IsMemory() && !m_bMapHandedOver) {
        m_uSize = size;
        m_bSizeKnown = true;
    }
    return r;
}

int CKzFileChunker::initialize_low(bool bReadOnly, bool bExisting, CKzStringA& version)
{
    m_bOpen = true;
    m_bSizeKnown = false;
    m_bFinalized = false;
    m_bMapMissing = false;
    m_bStreaming = false;
    m_sStreamName.clear();
    m_uiPending = 0;
    if (bReadOnly) {
        if (checkValidFile(version) != KZ_OK) {
            m_Wrapper.Finalize();
            m_bOpen = false;
            return KZ_ERR_FAILED;
        }
        // A map handed over (from a writer's container, or by SetMapChunk)
        // describes chunks the file's own map may not list yet.
        if (m_bMapHandedOver && !m_Map.empty())
            return KZ_OK;
        if (readChunkMap() != KZ_OK) {
            m_Map.clear();
            m_bMapMissing = true;
            return KZ_ERR_NOT_FOUND;
        }
        return KZ_OK;
    }
    u64 existing = 0;
    if (bExisting && m_Wrapper.GetSize(&existing) == KZ_OK && existing == 0)
        bExisting = false; // nothing to lose: an empty file becomes a new container
    if (bExisting) {
        // Appending to a file we cannot vouch for would bury its chunks:
        // refuse it and write nothing.
        u64 size = 0;
        if (checkValidFile(version) != KZ_OK || readChunkMap() != KZ_OK || m_Wrapper.GetSize(&size) != KZ_OK) {
            m_Map.clear();
            m_Wrapper.Finalize();
            m_bOpen = false;
            return KZ_ERR_FAILED;
        }
        // New chunks follow the old map, which ends the file.
        m_uWritePos = roundUp(size);
        return KZ_OK;
    }
    // A new container starts from an empty file. A file that is empty
    // already is not truncated: file systems take truncation to zero as the
    // sign of a rewrite and flush the whole file when it is closed.
    m_Map.clear();
    u64 size = 0;
    int r = m_Wrapper.GetSize(&size);
    if (r == KZ_OK && size > 0)
        r = truncateAt(0);
    if (r == KZ_OK)
        r = makeValidFile(version);
    if (r != KZ_OK) {
        m_Wrapper.Finalize();
        m_bOpen = false;
        return KZ_ERR_FAILED;
    }
    m_uWritePos = kBlock;
    return KZ_OK;
}

int CKzFileChunker::checkValidFile(CKzStringA& version)
{
    unsigned char buf[kSignatureChunkRead];
    size_t got = 0;
    if (m_Wrapper.ReadAt(0, buf, sizeof buf, nullptr, 0, &got) != KZ_OK || got != sizeof buf)
        return KZ_ERR_FAILED;
    if (get32(buf) != kMagic || get32(buf + 4) != kNameFieldSig || get64(buf + 8) != kVersionBytes ||
        std::memcmp(buf + 16, kSignatureName, kNameFieldSig) != 0)
        return KZ_ERR_FAILED;
    char text[kVersionBytes + 1];
    std::memcpy(text, buf + 48, kVersionBytes);
    text[kVersionBytes] = 0;
    version = text;
    return KZ_OK;
}

int CKzFileChunker::makeValidFile(const CKzStringA& version)
{
    unsigned char block[kBlock] = {};
    put32(block, kMagic);
    put32(block + 4, kNameFieldSig);
    put64(block + 8, kVersionBytes);
    std::memcpy(block + 16, kSignatureName, kNameFieldSig);
    const char* text = version.GetString();
    size_t n = text ? std::strlen(text) : 0;
    if (n > kVersionBytes - 1)
        n = kVersionBytes - 1;
    if (n)
        std::memcpy(block + 48, text, n);
    return writeAt(0, block, sizeof block);
}

int CKzFileChunker::closeStream()
{
    if (!m_bStreaming)
        return KZ_OK;
    int r = KZ_OK;
    if (m_uiPending) {
        // What never arrived reads as zeros: the chunk keeps its declared size.
        r = writeAt(m_uStreamWritePos, m_Staging.data(), kBlock);
        m_uiPending = 0;
    }
    if (m_uWritePos > m_uStreamWritePos && m_Wrapper.IsMemory()) {
        u64 size = 0;
        if (r == KZ_OK && m_Wrapper.GetSize(&size) == KZ_OK && size < m_uWritePos)
            r = writeZeros(size, m_uWritePos - size);
    }
    if (r != KZ_OK)
        return dropStream();
    m_bStreaming = false;
    m_sStreamName.clear();
    return KZ_OK;
}

int CKzFileChunker::dropStream()
{
    // A broken stream is not filed (an earlier copy of its name is current
    // again); the next chunk takes its place.
    if (m_bStreamReplaces)
        m_Map.set(m_sStreamName, m_StreamReplaced);
    else
        m_Map.erase(m_sStreamName);
    m_uWritePos = m_uStreamOffset;
    m_bStreaming = false;
    m_sStreamName.clear();
    m_uiPending = 0;
    return KZ_ERR_FAILED;
}

int CKzFileChunker::Finalize()
{
    if (m_bFinalized || !m_bOpen)
        return KZ_OK;
    int result = KZ_OK;
    if (!m_Wrapper.GetReadOnly()) {
        result = closeStream();
        const int r = writeChunkMap();
        if (result == KZ_OK)
            result = r;
    }
    const int r = m_Wrapper.Finalize();
    if (result == KZ_OK)
        result = r;
    m_bFinalized = true;
    m_bOpen = false;
    m_bMapHandedOver = false;
    return result;
}

// ---------------------------------------------------------------------------
// Low-level writing

int CKzFileChunker::writeZeros(u64 offset, u64 length)
{
    while (length) {
        const size_t piece = length < kBlock ? static_cast<size_t>(length) : kBlock;
        const int r = writeAt(offset, kZeros, piece);
        if (r != KZ_OK)
            return r;
        offset += piece;
        length -= piece;
    }
    return KZ_OK;
}

int CKzFileChunker::writeAt(u64 offset, const void* data, size_t length)
{
    if (m_Wrapper.GetReadOnly())
        return KZ_ERR_FAILED;
    forgetScans();
    if (offset > static_cast<u64>(LONG_MAX))
        return KZ_ERR_FAILED;
    if (m_Wrapper.IsMemory()) {
        // An array cannot be positioned past its end: fill the gap.
        u64 size = 0;
        if (m_Wrapper.GetSize(&size) != KZ_OK)
            return KZ_ERR_FAILED;
        if (offset > size) {
            const int r = writeZeros(size, offset - size);
            if (r != KZ_OK)
                return r;
        }
    }
    if (m_Wrapper.SeekFile(static_cast<long>(offset), 0) != KZ_OK)
        return KZ_ERR_FAILED;
    size_t count = 0;
    const int r = m_Wrapper.WriteFile(data, length, &count, nullptr);
    if (r != KZ_OK)
        return r == KZ_ERR_OUT_OF_MEMORY ? r : KZ_ERR_FAILED;
    return count == length ? KZ_OK : KZ_ERR_FAILED;
}

int CKzFileChunker::setChunk(const void* part1, u64 length1, const void* part2, u64 length2,
                             const std::string& name)
{
    if (!m_bOpen || m_bFinalized || m_Wrapper.GetReadOnly())
        return KZ_ERR_FAILED;
    const u64 l1 = part1 ? length1 : 0;
    const u64 l2 = part2 ? length2 : 0;
    if (l1 > kMaxData || l2 > kMaxData || l1 + l2 > kMaxData)
        return KZ_ERR_FAILED;
    int r = closeStream();
    if (r != KZ_OK)
        return r;

    const u64 start = m_uWritePos;
    const ChunkLayout lay = layoutFor(name.size(), l1, l2);
    // Header, name and padding pass through the staging block; a small first
    // part joins them, a large one goes out straight from the caller.
    const bool stageFirst = l1 <= 16 * kBlock;
    const u64 staged = 16 + lay.nameField + (stageFirst ? l1 : 0);
    const u64 stagedRounded = stageFirst ? roundUp(staged) : staged;
    m_Staging.assign(stagedRounded, 0);
    put32(m_Staging.data(), kMagic);
    put32(m_Staging.data() + 4, static_cast<u32>(lay.nameField));
    put64(m_Staging.data() + 8, l1 + l2);
    std::memcpy(m_Staging.data() + 16, name.data(), name.size());
    if (stageFirst && l1)
        std::memcpy(m_Staging.data() + 16 + lay.nameField, part1, l1);
    u64 pos = start;
    r = writeAt(pos, m_Staging.data(), m_Staging.size());
    pos += m_Staging.size();
    if (r == KZ_OK && !stageFirst) {
        r = writeAt(pos, part1, l1);
        pos += l1;
    }
    if (r == KZ_OK && l2) {
        const u64 whole = l2 / kBlock * kBlock;
        if (whole) {
            r = writeAt(pos, part2, whole);
            pos += whole;
        }
        const u64 tail = l2 - whole;
        if (r == KZ_OK && tail) {
            m_Staging.assign(kBlock, 0);
            std::memcpy(m_Staging.data(), static_cast<const unsigned char*>(part2) + whole, tail);
            r = writeAt(pos, m_Staging.data(), kBlock);
            pos += kBlock;
        }
    }
    if (r != KZ_OK)
        return r == KZ_ERR_OUT_OF_MEMORY ? r : KZ_ERR_FAILED;
    m_Map.set(name, SKzChunkMapMember{start, l1 + l2});
    m_uWritePos = pos;
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Writing chunks

int CKzFileChunker::SetChunk(const CKzByteArray& data, const char* name)
{
    std::string n;
    if (!normalizeName(name, n) || !writableName(n))
        return KZ_ERR_INVALID_ARG;
    return setChunk(data.GetData(), data.GetSize(), nullptr, 0, n);
}

int CKzFileChunker::SetChunk(const void* data, unsigned int length, const char* name)
{
    std::string n;
    if (!normalizeName(name, n) || !writableName(n))
        return KZ_ERR_INVALID_ARG;
    return setChunk(data, length, nullptr, 0, n);
}

int CKzFileChunker::SetChunk(const void* part1, unsigned int length1, const void* part2, unsigned int length2,
                             const char* name)
{
    std::string n;
    if (!normalizeName(name, n) || !writableName(n))
        return KZ_ERR_INVALID_ARG;
    return setChunk(part1, length1, part2, length2, n);
}

int CKzFileChunker::SetChunkPart(const void* part1, unsigned int length1, const void* piece,
                                 unsigned int pieceLength, size_t length2, bool bLast, const char* name)
{
    std::string n;
    if (!normalizeName(name, n) || !writableName(n))
        return KZ_ERR_INVALID_ARG;
    if (!m_bOpen || m_bFinalized || m_Wrapper.GetReadOnly())
        return KZ_ERR_FAILED;

    if (!m_bStreaming || n != m_sStreamName) {
        const u64 l1 = part1 ? length1 : 0;
        if (static_cast<u64>(length2) > kMaxData || l1 + length2 > kMaxData)
            return KZ_ERR_FAILED;
        int r = closeStream();
        if (r != KZ_OK)
            return r;
        const u64 start = m_uWritePos;
        const ChunkLayout lay = layoutFor(n.size(), l1, length2);
        m_Staging.assign(roundUp(lay.head), 0);
        put32(m_Staging.data(), kMagic);
        put32(m_Staging.data() + 4, static_cast<u32>(lay.nameField));
        put64(m_Staging.data() + 8, l1 + length2);
        std::memcpy(m_Staging.data() + 16, n.data(), n.size());
        if (l1)
            std::memcpy(m_Staging.data() + 16 + lay.nameField, part1, l1);
        r = writeAt(start, m_Staging.data(), m_Staging.size());
        if (r != KZ_OK)
            return r == KZ_ERR_OUT_OF_MEMORY ? r : KZ_ERR_FAILED;
        m_bStreamReplaces = m_Map.get(n, m_StreamReplaced);
        m_Map.set(n, SKzChunkMapMember{start, l1 + length2});
        m_bStreaming = true;
        m_sStreamName = n;
        m_uStreamOffset = start;
        m_uStreamWritePos = start + m_Staging.size();
        m_uStreamDeclared = length2;
        m_uStreamReceived = 0;
        m_uiPending = 0;
        m_uWritePos = m_uStreamWritePos + roundUp(length2);
        m_Staging.assign(kBlock, 0);
    }

    auto fail = [this]() { return dropStream(); };

    if (piece && pieceLength) {
        if (pieceLength > m_uStreamDeclared - m_uStreamReceived)
            return KZ_ERR_INVALID_ARG; // more than the chunk was declared with
        const unsigned char* src = static_cast<const unsigned char*>(piece);
        u64 left = pieceLength;
        if (m_uiPending + left >= kBlock) {
            if (m_uiPending) {
                const u64 fill = kBlock - m_uiPending;
                std::memcpy(m_Staging.data() + m_uiPending, src, fill);
                if (writeAt(m_uStreamWritePos, m_Staging.data(), kBlock) != KZ_OK)
                    return fail();
                m_uStreamWritePos += kBlock;
                src += fill;
                left -= fill;
                m_uiPending = 0;
            }
            const u64 whole = left / kBlock * kBlock;
            if (whole) {
                if (writeAt(m_uStreamWritePos, src, whole) != KZ_OK)
                    return fail();
                m_uStreamWritePos += whole;
                src += whole;
                left -= whole;
            }
            std::memset(m_Staging.data(), 0, kBlock);
            if (left)
                std::memcpy(m_Staging.data(), src, left);
            m_uiPending = static_cast<u32>(left);
        } else {
            if (m_uiPending == 0)
                std::memset(m_Staging.data(), 0, kBlock);
            std::memcpy(m_Staging.data() + m_uiPending, src, left);
            m_uiPending += static_cast<u32>(left);
        }
        m_uStreamReceived += pieceLength;
    }
    if (bLast) {
        const bool complete = m_uStreamReceived == m_uStreamDeclared;
        if (closeStream() != KZ_OK)
            return KZ_ERR_FAILED; // dropped
        if (!complete)
            return KZ_ERR_TRUNCATED; // kept, the missing bytes read as zeros
    }
    return KZ_OK;
}

int CKzFileChunker::SetMapChunk(const CKzFileChunker* other)
{
    if (!other)
        return KZ_ERR_INVALID_ARG;
    if (other != this)
        m_Map = other->m_Map;
    m_bMapHandedOver = true;
    m_bSizeKnown = false;
    return KZ_OK;
}

int CKzFileChunker::Reserve(size_t size)
{
    forgetScans();
    if (!m_bOpen || m_bFinalized || m_Wrapper.GetReadOnly())
        return KZ_ERR_FAILED;
    if (size > static_cast<size_t>(LONG_MAX))
        return KZ_ERR_INVALID_ARG;
    size_t pos = 0;
    int r = m_Wrapper.FilePosition(&pos);
    if (r != KZ_OK)
        return r;
    u64 cur = 0;
    r = m_Wrapper.GetSize(&cur);
    if (r != KZ_OK)
        return r;
    if (cur < size) {
        if (m_Wrapper.IsMemory()) {
            r = writeZeros(cur, size - cur);
        } else {
            r = m_Wrapper.SeekFile(static_cast<long>(size), 0);
            if (r == KZ_OK)
                r = m_Wrapper.SetEOF();
        }
        if (r != KZ_OK)
            return r;
    }
    return m_Wrapper.SeekFile(static_cast<long>(pos), 0);
}

int CKzFileChunker::writeChunkMap()
{
    std::vector<unsigned char> data;
    const u64 entries = m_Map.nameBytes() + 16 * static_cast<u64>(m_Map.size());
    const u64 start = m_uWritePos;
    const u64 fixed = 16 + kNameFieldSig + entries + kTrailer + kTrailer;
    const u64 padding = (kBlock - fixed % kBlock) % kBlock;
    data.reserve(entries + 2 * kTrailer + padding);
    unsigned char num[8];
    m_Map.forEachDescending([&](std::string_view name, const SKzChunkMapMember& m) {
        data.insert(data.end(), name.begin(), name.end());
        put64(num, m.uiOffset);
        data.insert(data.end(), num, num + 8);
        put64(num, m.uiSize);
        data.insert(data.end(), num, num + 8);
    });
    put64(num, start);
    data.insert(data.end(), kMapSignature, kMapSignature + 32);
    data.insert(data.end(), num, num + 8);
    data.insert(data.end(), padding, 0);
    data.insert(data.end(), kMapSignature, kMapSignature + 32);
    data.insert(data.end(), num, num + 8);
    int r = setChunk(data.data(), data.size(), nullptr, 0, kMapName);
    if (r != KZ_OK)
        return r;
    // The trailer is the end of the file.
    return truncateAt(m_uWritePos);
}

int CKzFileChunker::truncateAt(u64 end)
{
    forgetScans();
    if (end > static_cast<u64>(LONG_MAX))
        return KZ_ERR_FAILED;
    u64 size = 0;
    if (m_Wrapper.GetSize(&size) != KZ_OK)
        return KZ_ERR_FAILED;
    if (size == end)
        return KZ_OK;
    if (m_Wrapper.IsMemory() && end > size)
        return writeZeros(size, end - size);
    int r = m_Wrapper.SeekFile(static_cast<long>(end), 0);
    if (r == KZ_OK)
        r = m_Wrapper.SetEOF();
    return r;
}

// ---------------------------------------------------------------------------
// Reading

bool CKzFileChunker::validHeaderAt(u64 offset, u64 fileSize, SKzChunkHeader& header, std::string& name)
{
    if (offset > fileSize || fileSize - offset < 16)
        return false;
    unsigned char buf[16];
    size_t got = 0;
    if (m_Wrapper.ReadAt(offset, buf, 16, nullptr, 0, &got) != KZ_OK)
        return false;
    SKzChunkHeader h{get32(buf), get32(buf + 4), get64(buf + 8)};
    // Data of 4 GiB or more is a chunk all the same (the length field is
    // 64-bit): it cannot be read whole, but a scan must step over it.
    if (h.uiMagic != kMagic || h.uiNameLength == 0 || h.uiNameLength > kMaxNameField)
        return false;
    const u64 rest = fileSize - offset - 16;
    if (h.uiNameLength > rest || h.uiDataLength > rest - h.uiNameLength)
        return false;
    char field[kNameProbe];
    const size_t probe = h.uiNameLength < kNameProbe ? h.uiNameLength : kNameProbe;
    if (m_Wrapper.ReadAt(offset + 16, field, probe, nullptr, 0, &got) != KZ_OK)
        return false;
    const void* zero = std::memchr(field, 0, probe);
    const size_t len = zero ? static_cast<size_t>(static_cast<const char*>(zero) - field) : probe;
    if (!zero && h.uiNameLength > probe)
        return false; // no name of ours is that long
    if (len == 0 || field[len - 1] != '!')
        return false;
    name.assign(field, len);
    header = h;
    return true;
}

namespace {
constexpr u64 kNoChunk = ~u64(0);
}

void CKzFileChunker::forgetScans()
{
    m_Scanned.clear();
    m_uScannedSize = 0;
}

int CKzFileChunker::findChunk(u64 from, u64 fileSize, SKzChunkHeader& header, std::string& name, u64& at)
{
    if (m_uScannedSize != fileSize) {
        m_Scanned.clear();
        m_uScannedSize = fileSize;
    }
    // A stretch scanned before that holds from gives the answer at once.
    auto next = m_Scanned.upper_bound(from);
    if (next != m_Scanned.begin()) {
        const auto held = std::prev(next);
        if (held->second == kNoChunk || from < held->second) {
            if (held->second == kNoChunk || !validHeaderAt(held->second, fileSize, header, name))
                return KZ_ERR_FAILED;
            at = held->second;
            return KZ_OK;
        }
    }
    // Otherwise scan up to the next known stretch, whose answer then holds.
    const u64 limit = next != m_Scanned.end() ? next->first : fileSize;
    const int r = scanForChunk(from, limit, fileSize, header, name, at);
    if (r < 0)
        return KZ_ERR_FAILED;
    if (r == 0) {
        if (at > from)
            m_Scanned.insert_or_assign(from, at);
        return KZ_OK;
    }
    u64 found = kNoChunk;
    if (next != m_Scanned.end()) {
        found = next->second;
        m_Scanned.erase(next);
    }
    m_Scanned.insert_or_assign(from, found);
    if (found == kNoChunk || !validHeaderAt(found, fileSize, header, name))
        return KZ_ERR_FAILED;
    at = found;
    return KZ_OK;
}

int CKzFileChunker::scanForChunk(u64 from, u64 limit, u64 fileSize, SKzChunkHeader& header, std::string& name,
                                 u64& at)
{
    // Reads grow from one block, so that a chunk found close by costs little.
    static constexpr size_t kScan = 65536;
    std::unique_ptr<unsigned char[]> scan(new unsigned char[kScan]);
    unsigned char* const buf = scan.get();
    size_t window = kBlock;
    u64 pos = from;
    if (limit > fileSize)
        limit = fileSize;
    while (pos < limit && fileSize - pos >= 16) {
        // Candidates start before limit; their four magic bytes may reach
        // three bytes past it.
        u64 avail = fileSize - pos;
        if (avail > limit - pos + 3)
            avail = limit - pos + 3;
        const size_t want = avail < window ? static_cast<size_t>(avail) : window;
        if (window < kScan)
            window *= 2;
        size_t got = 0;
        if (m_Wrapper.ReadAt(pos, buf, want, nullptr, 0, &got) != KZ_OK || got != want)
            return KZ_ERR_FAILED;
        // Every byte position counts, also where the four magic bytes
        // straddle two reads (the next read starts three bytes back).
        const unsigned char* p = buf;
        const unsigned char* end = p + got;
        while (end - p >= 4) {
            const void* hit = std::memchr(p, 0xDA, static_cast<size_t>(end - p - 3));
            if (!hit)
                break;
            const unsigned char* h = static_cast<const unsigned char*>(hit);
            if (h[1] == 0xCE && h[2] == 0xBE && h[3] == 0x0A) {
                const u64 cand = pos + static_cast<u64>(h - buf);
                // Most false candidates fail on their lengths, seen right here.
                bool plausible = true;
                if (end - h >= 16) {
                    const u64 nf = get32(h + 4), dl = get64(h + 8);
                    const u64 rest = fileSize - cand - 16;
                    plausible = nf != 0 && nf <= kMaxNameField && nf <= rest && dl <= rest - nf;
                }
                if (plausible && validHeaderAt(cand, fileSize, header, name)) {
                    at = cand;
                    return KZ_OK;
                }
            }
            p = h + 1;
        }
        if (pos + got >= fileSize || got < 4)
            break;
        pos += got - 3;
    }
    return 1;
}

int CKzFileChunker::locateChunk(u64 offset, u64 fileSize, SKzChunkHeader& header, std::string& name, u64& at)
{
    if (validHeaderAt(offset, fileSize, header, name)) {
        at = offset;
        return KZ_OK;
    }
    return findChunk(offset, fileSize, header, name, at);
}

int CKzFileChunker::readData(u64 at, const SKzChunkHeader& header, CKzByteArray& data)
{
    const u64 n = header.uiDataLength;
    if (n > kMaxData) {
        data.SetSize(0);
        return KZ_ERR_FAILED; // reads take 32-bit lengths
    }
    if (n == 0) {
        data.SetSize(0);
        return KZ_OK;
    }
    if (data.GetAllocated() < n &&
        data.SetData(nullptr, n, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    unsigned char* dst = data.GetData(n);
    size_t got = 0;
    if (m_Wrapper.ReadAt(at + 16 + header.uiNameLength, nullptr, 0, dst, n, &got) != KZ_OK || got != n) {
        data.SetSize(0);
        return KZ_ERR_FAILED;
    }
    return KZ_OK;
}

int CKzFileChunker::readChunkMap()
{
    u64 size = 0;
    if (m_Wrapper.GetSize(&size) != KZ_OK || size < kTrailer)
        return KZ_ERR_FAILED;
    unsigned char trailer[kTrailer];
    size_t got = 0;
    if (m_Wrapper.ReadAt(size - kTrailer, trailer, kTrailer, nullptr, 0, &got) != KZ_OK)
        return KZ_ERR_FAILED;
    if (std::memcmp(trailer, kMapSignature, 32) != 0)
        return KZ_ERR_FAILED;
    const u64 mapOffset = get64(trailer + 32);
    if (mapOffset >= size)
        return KZ_ERR_FAILED;
    // Usually the map chunk starts where the trailer says, with a name field
    // of just its name: its header, name and data then come in with one
    // read, the data into room for everything up to the end of the file. A
    // larger tail is not read on speculation: the header comes first, then
    // exactly the data. Anything else takes the general road below.
    constexpr u64 kHead = 16 + kNameFieldSig;
    constexpr u64 kSpeculative = u64(1) << 20;
    if (size - mapOffset >= kHead) {
        const u64 room = size - mapOffset - kHead;
        const bool whole = room <= kSpeculative;
        std::unique_ptr<char[]> data;
        if (whole) {
            data.reset(new (std::nothrow) char[room ? room : 1]);
            if (!data)
                return KZ_ERR_OUT_OF_MEMORY;
        }
        unsigned char head[kHead];
        const size_t bodyLength = whole ? static_cast<size_t>(room) : 0;
        size_t got = 0;
        if (m_Wrapper.ReadAt(mapOffset, head, kHead, whole ? data.get() : nullptr, bodyLength, &got) == KZ_OK &&
            got == kHead + bodyLength && get32(head) == kMagic && get32(head + 4) == kNameFieldSig &&
            get64(head + 8) <= room && std::memcmp(head + 16, kMapName, kNameFieldSig) == 0) {
            const u64 n = get64(head + 8);
            if (n > kMaxData)
                return KZ_ERR_FAILED;
            if (whole)
                return m_Map.parse(std::move(data), n);
            data.reset(new (std::nothrow) char[n ? n : 1]);
            if (!data)
                return KZ_ERR_OUT_OF_MEMORY;
            size_t read = 0;
            if (n && (m_Wrapper.ReadAt(mapOffset + kHead, nullptr, 0, data.get(), static_cast<size_t>(n), &read) !=
                          KZ_OK ||
                      read != n))
                return KZ_ERR_FAILED;
            return m_Map.parse(std::move(data), n);
        }
    }
    SKzChunkHeader header;
    std::string name;
    u64 at = 0;
    if (locateChunk(mapOffset, size, header, name, at) != KZ_OK || name != kMapName)
        return KZ_ERR_FAILED;
    // The map's bytes become the arena of its names: one read, no copy.
    const u64 n = header.uiDataLength;
    if (n > kMaxData)
        return KZ_ERR_FAILED;
    std::unique_ptr<char[]> data(new (std::nothrow) char[n ? n : 1]);
    if (!data)
        return KZ_ERR_OUT_OF_MEMORY;
    if (n) {
        size_t got = 0;
        if (m_Wrapper.ReadAt(at + 16 + header.uiNameLength, nullptr, 0, data.get(), n, &got) != KZ_OK || got != n)
            return KZ_ERR_FAILED;
    }
    return m_Map.parse(std::move(data), n);
}

int CKzFileChunker::ExistChunk(const char* name)
{
    if (!name)
        return 0;
    return m_Map.contains(name) ? 1 : 0;
}

int CKzFileChunker::GetNextChunkID(CKzStringA& next, const char* name)
{
    std::string_view found;
    if (!name || !*name) {
        if (!m_Map.first(found))
            return KZ_ERR_NOT_FOUND;
    } else if (!m_Map.next(name, found)) {
        return KZ_ERR_NOT_FOUND;
    }
    next = std::string(found).c_str();
    return KZ_OK;
}

int CKzFileChunker::prepareRead(const char* name, std::string& n, SKzChunkMapMember& entry, u64& fileSize)
{
    if (!normalizeName(name, n))
        return KZ_ERR_INVALID_ARG;
    if (!m_Map.get(n, entry))
        return KZ_ERR_NOT_FOUND;
    if (!m_bOpen || !m_Wrapper.IsOpen())
        return KZ_ERR_FAILED;
    if (readSize(fileSize) != KZ_OK)
        return KZ_ERR_FAILED;
    return KZ_OK;
}

int CKzFileChunker::GetChunk(CKzByteArray& data, const char* name)
{
    std::string n;
    SKzChunkMapMember entry{0, 0};
    u64 fileSize = 0;
    if (const int r = prepareRead(name, n, entry, fileSize); r != KZ_OK)
        return r;
    const u64 off = entry.uiOffset;

    // One read for the usual layout: the map's size is the data length and
    // the name field pads header, name and data to whole blocks (true for
    // one-part chunks and for two-part chunks with block-sized second parts).
    const u64 d = entry.uiSize;
    if (d <= kMaxData && off <= fileSize) {
        const u64 head = d == 0 ? 16 + n.size() : roundUp(16 + n.size() + d) - d;
        if (head <= 2 * kBlock && head <= fileSize - off && d <= fileSize - off - head) {
            unsigned char hb[2 * kBlock];
            unsigned char* body = nullptr;
            if (d) {
                if (data.GetAllocated() < d &&
                    data.SetData(nullptr, d, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact) != KZ_OK)
                    return KZ_ERR_OUT_OF_MEMORY;
                body = data.GetData(d);
            }
            size_t got = 0;
            if (m_Wrapper.ReadAt(off, hb, head, body, d, &got) == KZ_OK) {
                const u64 nf = get32(hb + 4);
                if (get32(hb) == kMagic && nf == head - 16 && get64(hb + 8) == d &&
                    std::memcmp(hb + 16, n.data(), n.size()) == 0 && (nf == n.size() || hb[16 + n.size()] == 0)) {
                    if (!d)
                        data.SetSize(0);
                    return KZ_OK;
                }
            }
        }
    }

    SKzChunkHeader header;
    std::string found;
    u64 at = 0;
    if (locateChunk(off, fileSize, header, found, at) != KZ_OK || found != n) {
        data.SetSize(0);
        return KZ_ERR_FAILED;
    }
    if (at != off)
        m_Map.set(n, SKzChunkMapMember{at, entry.uiSize}); // the scan corrects the entry
    return readData(at, header, data);
}

int CKzFileChunker::locatePart(SKzChunkHeader& header, u64 offset, u64 length, const char* name, u64& pos)
{
    std::string n;
    SKzChunkMapMember entry{0, 0};
    u64 fileSize = 0;
    if (const int r = prepareRead(name, n, entry, fileSize); r != KZ_OK)
        return r;
    if (header.uiMagic == 0) {
        SKzChunkHeader h;
        std::string found;
        u64 at = 0;
        if (locateChunk(entry.uiOffset, fileSize, h, found, at) != KZ_OK || found != n)
            return KZ_ERR_FAILED;
        if (at != entry.uiOffset) {
            m_Map.set(n, SKzChunkMapMember{at, entry.uiSize}); // the scan corrects the entry
            entry.uiOffset = at;
        }
        header = h;
    }
    const u64 dl = header.uiDataLength;
    if (offset > dl || length > dl - offset)
        return KZ_ERR_FAILED;
    const u64 base = entry.uiOffset;
    if (base > fileSize || 16 + static_cast<u64>(header.uiNameLength) > fileSize - base)
        return KZ_ERR_FAILED;
    const u64 start = base + 16 + header.uiNameLength;
    if (offset > fileSize - start || length > fileSize - start - offset)
        return KZ_ERR_FAILED;
    pos = start + offset;
    return KZ_OK;
}

int CKzFileChunker::GetChunkPart(SKzChunkHeader& header, CKzByteArray& data, size_t offset, unsigned int length,
                                 const char* name)
{
    u64 pos = 0;
    if (const int r = locatePart(header, offset, length, name, pos); r != KZ_OK)
        return r;
    if (length == 0) {
        data.SetSize(0);
        return KZ_OK;
    }
    if (data.GetAllocated() < length &&
        data.SetData(nullptr, length, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    unsigned char* dst = data.GetData(length);
    size_t got = 0;
    if (m_Wrapper.ReadAt(pos, nullptr, 0, dst, length, &got) != KZ_OK || got != length) {
        data.SetSize(0);
        return KZ_ERR_FAILED;
    }
    return KZ_OK;
}

int CKzFileChunker::GetChunkPartTo(SKzChunkHeader& header, void* buffer, u64 offset, u64 length, const char* name)
{
    if (!buffer && length)
        return KZ_ERR_INVALID_ARG;
    u64 pos = 0;
    if (const int r = locatePart(header, offset, length, name, pos); r != KZ_OK)
        return r;
    if (length == 0)
        return KZ_OK;
    size_t got = 0;
    if (m_Wrapper.ReadAt(pos, nullptr, 0, buffer, length, &got) != KZ_OK || got != length)
        return KZ_ERR_FAILED;
    return KZ_OK;
}

size_t CKzFileChunker::GetChunkNamesByPrefix(const char* prefix, std::vector<std::string>& names) const
{
    names.clear();
    const std::string p = prefix ? prefix : "";
    m_Map.forEachAscendingFrom(p, [&](std::string_view name) {
        if (name.compare(0, p.size(), p) != 0)
            return false;
        names.emplace_back(name);
        return true;
    });
    return names.size();
}
