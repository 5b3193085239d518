// Reader of version-2 VT5 files; the frame, custom-data, binary-picture and
// rectangle operations serve version 3 as well.
#include "vt5file/CKzVT5InputFile.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <stdexcept>

#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzVariant.h"
#include "gnr_system/KzTextConv.h"
#include "vt5file/CKzVT5OutputFile.h"
#include "vt5file/KzVT5Names.h"

CKzVT5InputFile_V02::CKzVT5InputFile_V02(IKzImageFormat* format, const CKzFileChunker& container)
    : m_pMetadata(nullptr),
      m_Chunker(container),
      m_uiFrameCount(0),
      m_iCompression(-1),
      m_iRef(0),
      m_pSerializer(new CKzSerializerXMLString()),
      m_pFormat(format),
      m_pExperiment(nullptr),
      m_pExperimentStored(nullptr),
      m_bLayout(false),
      m_Scratch(4096),
      m_pInflate(nullptr),
      m_bTimesScanned(false)
{
    std::memset(&m_Layout, 0, sizeof(m_Layout));
}

CKzVT5InputFile_V02::CKzVT5InputFile_V02(CKzVT5OutputFile_V02& writer, const SKzExperiment*)
    : m_AcqTimes(writer.m_Times),
      m_pMetadata(nullptr),
      m_Chunker(writer.m_Chunker),
      m_uiFrameCount(0),
      m_iCompression(-1),
      m_iRef(0),
      m_pSerializer(new CKzSerializerXMLString()),
      m_pFormat(writer.m_pFormat),
      m_wsPath(writer.m_wsPath),
      m_pExperiment(nullptr),
      m_pExperimentStored(nullptr),
      m_bLayout(false),
      m_Scratch(4096),
      m_pInflate(nullptr),
      m_bTimesScanned(false)
{
    std::memset(&m_Layout, 0, sizeof(m_Layout));
    CKzStringA version;
    const bool handedMap = m_Chunker.GetChunkCount() > 0;
    const int r = m_Chunker.Initialize_File(m_wsPath, true, false, version);
    if (r == KZ_OK && handedMap)
        return;
    if (r == KZ_ERR_NOT_FOUND && m_Chunker.IsMapMissing()) {
        // Nothing handed over and no map in the file yet: count the frames
        // among the names known.
        std::vector<std::string> names;
        m_Chunker.GetChunkNamesByPrefix(vt5names::kFrame, names);
        u32 largest = 0;
        bool any = false;
        for (const std::string& n : names) {
            u32 seq = 0;
            if (vt5names::ParseIndexed(n, vt5names::kFrame, seq) && (!any || seq > largest)) {
                largest = seq;
                any = true;
            }
        }
        m_uiFrameCount = any && largest < 0xFFFFFFFFu ? largest + 1 : 1;
        loadWriterExperiment();
        return;
    }
    if (r == KZ_OK)
        return;
    delete m_pSerializer;
    m_pSerializer = nullptr;
    throw std::runtime_error("the file being written cannot be opened for reading");
}

CKzVT5InputFile_V02::~CKzVT5InputFile_V02()
{
    if (m_pInflate) {
        inflateEnd(static_cast<z_stream*>(m_pInflate));
        delete static_cast<z_stream*>(m_pInflate);
    }
    delete m_pSerializer;
    freeRecords();
    m_Chunker.Finalize();
}

int CKzVT5InputFile_V02::AddRef() { return m_iRef.fetch_add(1, std::memory_order_relaxed) + 1; }

int CKzVT5InputFile_V02::Release()
{
    // The thread that drops the last reference sees everything the others
    // did before they dropped theirs.
    const int r = m_iRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (r == 0)
        delete this;
    return r;
}

IKzImageFormat* CKzVT5InputFile_V02::GetImageFormat() { return m_pFormat; }

std::string CKzVT5InputFile_V02::frameName(u32 seq) { return vt5names::Indexed(vt5names::kFrame, seq); }

int CKzVT5InputFile_V02::ensureLayout()
{
    if (m_bLayout)
        return KZ_OK;
    SKzImageAttributes a;
    std::memset(&a, 0, sizeof(a));
    a.ePixelType = 1;
    const int r = GetImageAttributes(a);
    if (r != KZ_OK)
        return r;
    m_Layout = a;
    m_bLayout = true;
    return KZ_OK;
}

int CKzVT5InputFile_V02::GetData(u32 seq, void* buffer, KzImageProgressFn, void*)
{
    Lock lock(m_Lock);
    if (!buffer)
        return KZ_ERR_INVALID_ARG;
    const std::string name = frameName(seq);
    if (!m_Chunker.ExistChunk(name.c_str()))
        return KZ_ERR_NOT_FOUND;
    if (const int r = ensureLayout(); r != KZ_OK)
        return r;
    const u64 fb = frameBytes();
    if (fb == 0)
        return KZ_ERR_FAILED;
    if (m_iCompression != 0) {
        // Raw frame: straight from the file into the caller's buffer; the
        // chunk must hold exactly the time and one frame.
        SKzChunkHeader h;
        if (const int r = frameHeader(name, h); r != KZ_OK)
            return r;
        if (h.uiDataLength != 8 + fb)
            return KZ_ERR_FAILED;
        return m_Chunker.GetChunkPartTo(h, buffer, 8, fb, name.c_str());
    }
    return inflateFrame(name, buffer, fb);
}

int CKzVT5InputFile_V02::inflateFrame(const std::string& name, void* buffer, u64 frameBytes)
{
    // The stored stream is read in pieces that stay in the processor's
    // cache while they are inflated, through one zlib stream kept from
    // frame to frame.
    const u64 kPiece = 256 * 1024;
    SKzChunkHeader h;
    if (const int r = frameHeader(name, h); r != KZ_OK)
        return r;
    z_stream* z = static_cast<z_stream*>(m_pInflate);
    if (!z) {
        z = new (std::nothrow) z_stream();
        if (!z)
            return KZ_ERR_OUT_OF_MEMORY;
        if (inflateInit(z) != Z_OK) {
            delete z;
            return KZ_ERR_OUT_OF_MEMORY;
        }
        m_pInflate = z;
    } else if (inflateReset(z) != Z_OK) {
        return KZ_ERR_FAILED;
    }
    if (m_Scratch.GetAllocated() < kPiece &&
        m_Scratch.SetData(nullptr, kPiece, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    unsigned char* piece = m_Scratch.GetData(kPiece);
    u8* out = static_cast<u8*>(buffer);
    u64 written = 0;  // output handed to zlib so far
    u64 pos = 8;
    z->avail_in = 0;
    z->avail_out = 0;
    for (;;) {
        if (z->avail_in == 0 && pos < h.uiDataLength) {
            const u64 n = std::min<u64>(kPiece, h.uiDataLength - pos);
            if (const int r = m_Chunker.GetChunkPartTo(h, piece, pos, n, name.c_str()); r != KZ_OK)
                return r;
            z->next_in = piece;
            z->avail_in = (uInt)n;
            pos += n;
        }
        if (z->avail_out == 0 && written < frameBytes) {
            const u64 n = std::min<u64>(frameBytes - written, 0x40000000u);
            z->next_out = out + written;
            z->avail_out = (uInt)n;
            written += n;
        }
        // Each Z_OK made progress; out of room or out of input ends with
        // Z_BUF_ERROR, a damaged stream with another error: not one frame.
        const int zr = inflate(z, Z_NO_FLUSH);
        if (zr == Z_STREAM_END)
            break;
        if (zr != Z_OK)
            return KZ_ERR_FAILED;
    }
    // Bytes after the end of the stream are ignored, as zlib's one-call
    // inflate ignores them: the header and map already agree on the chunk's
    // length, and files whose writers padded the stream stay readable.
    return written - z->avail_out == frameBytes ? KZ_OK : KZ_ERR_FAILED;
}

int CKzVT5InputFile_V02::frameHeader(const std::string& name, SKzChunkHeader& header)
{
    std::memset(&header, 0, sizeof(header));
    if (const int r = m_Chunker.GetChunkPartTo(header, nullptr, 0, 0, name.c_str()); r != KZ_OK)
        return r;
    // The zeros after the name make the header, the name field and the
    // chunk's first part end on a block boundary. The writer's first part is
    // the time (the frame starts on a boundary); a chunk written in one part
    // has all its data as the first part. Any other name field length puts
    // the frame's first byte where the writer did not.
    const u64 block = CKzFileChunker::eBlock;
    const u64 nameField = header.uiNameLength, data = header.uiDataLength;
    const auto endsBlock = [&](u64 firstPart) { return (16 + nameField + firstPart) % block == 0; };
    if (data < 8 || nameField < name.size() || nameField - name.size() >= block ||
        !(endsBlock(8) || endsBlock(data)))
        return KZ_ERR_FAILED;
    SKzChunkMapMember entry{0, 0};
    if (!m_Chunker.GetMapMember(name.c_str(), entry))
        return KZ_ERR_NOT_FOUND;
    // Written maps hold the data length, rebuilt ones the whole chunk's.
    if (entry.uiSize != data && entry.uiSize != 16 + nameField + data)
        return KZ_ERR_FAILED;
    return KZ_OK;
}

int CKzVT5InputFile_V02::CheckFrameChunk(u32 seq)
{
    Lock lock(m_Lock);
    const std::string name = frameName(seq);
    if (!m_Chunker.ExistChunk(name.c_str()))
        return KZ_ERR_NOT_FOUND;
    if (const int r = ensureLayout(); r != KZ_OK)
        return r;
    SKzChunkHeader h;
    if (const int r = frameHeader(name, h); r != KZ_OK)
        return r;
    const u64 fb = frameBytes();
    if (fb == 0)
        return KZ_ERR_FAILED;
    if (m_iCompression != 0)
        return h.uiDataLength == 8 + fb ? KZ_OK : KZ_ERR_FAILED;
    // Deflate cannot shrink data by more than about 1032 to 1.
    const u64 stored = h.uiDataLength - 8;
    return stored >= (u64)1 << 53 || stored * 1032 + 1024 >= fb ? KZ_OK : KZ_ERR_FAILED;
}

int CKzVT5InputFile_V02::low_ByteArrayToVariant(CKzVariant& result, const CKzByteArray& text, IKzSerializer* serializer)
{
    if (!serializer)
        return KZ_ERR_FAILED;
    if ((u64)text.GetSize() > 0xFFFFFFFFull)
        return KZ_ERR_FAILED;
    static const char kEmpty[1] = {0};
    const void* p = text.GetSize() ? (const void*)text.GetData() : (const void*)kEmpty;
    CKzVariant params;
    params.Append(CKzVariant(const_cast<void*>(p), CKzStringW(L"rawStringUTF8")));
    params.Append(CKzVariant((unsigned int)text.GetSize(), CKzStringW(L"rawStringLen")));
    return serializer->Load(result, params);
}

int CKzVT5InputFile_V02::low_ByteArrayToString(CKzStringW& out, const CKzByteArray& text)
{
    if ((u64)text.GetSize() > 0x7FFFFFFFull)
        return KZ_ERR_FAILED;
    const char* p = reinterpret_cast<const char*>(text.GetData());
    return CKzStringUtils::UTF8toWn(p ? p : "", out, (unsigned)text.GetSize()) ? KZ_OK : KZ_ERR_FAILED;
}

int CKzVT5InputFile_V02::decodeDescription(const CKzByteArray& bytes, CKzVariant& out)
{
    out.EnableTypeChange(true);
    return low_ByteArrayToVariant(out, bytes, m_pSerializer);
}

int CKzVT5InputFile_V02::ReadXmlAttributes(CKzFileChunker& container, SKzImageAttributes& attributes, bool* decoded)
{
    if (decoded)
        *decoded = false;
    CKzByteArray bytes;
    if (const int r = container.GetChunk(bytes, vt5names::kAttributes); r != KZ_OK)
        return r;
    CKzSerializerXMLString serializer;
    CKzVariant v;
    v.EnableTypeChange(true);
    int result = low_ByteArrayToVariant(v, bytes, &serializer);
    if (result != KZ_OK)
        return result;
    if (decoded)
        *decoded = true;
    struct U32Key { const wchar_t* name; u32* field; };
    const U32Key keys[] = {
        {L"uiWidth", &attributes.uiWidth},     {L"uiWidthBytes", &attributes.uiWidthBytes},
        {L"uiHeight", &attributes.uiHeight},   {L"uiComp", &attributes.uiComp},
        {L"uiSequenceCount", &attributes.uiSequenceCount}, {L"uiTileWidth", &attributes.uiTileWidth},
        {L"uiTileHeight", &attributes.uiTileHeight},
    };
    for (const U32Key& k : keys)
        if (const CKzVariant* n = v.Search(k.name, nullptr))
            *k.field = n->GetKz_uint32();
    if (const CKzVariant* n = v.Search(L"uiBpcInMemory", nullptr))
        attributes.uiBpcInMemory = (u8)n->GetKz_uint32();
    if (const CKzVariant* n = v.Search(L"uiBpcSignificant", nullptr))
        attributes.uiBpcSignificant = (u8)n->GetKz_uint32();
    if (const CKzVariant* n = v.Search(L"eCompression", nullptr))
        attributes.eCompression = n->GetKz_int32();
    if (const CKzVariant* n = v.Search(L"dCompressionParam", nullptr))
        attributes.dCompressionParam = n->GetDouble();
    if (attributes.uiComp > 256)
        result = KZ_ERR_FAILED;
    if (!attributes.uiWidth || !attributes.uiHeight || !attributes.uiComp || !attributes.uiBpcInMemory ||
        !attributes.uiBpcSignificant)
        return KZ_ERR_FAILED;
    return result;
}

int CKzVT5InputFile_V02::GetImageAttributes(SKzImageAttributes& attributes)
{
    Lock lock(m_Lock);
    bool decoded = false;
    const int r = ReadXmlAttributes(m_Chunker, attributes, &decoded);
    if (!decoded)
        return r;
    // The values read count even when they are refused.
    m_iCompression = attributes.eCompression;
    if (m_pExperiment)
        attributes.uiSequenceCount = m_uiFrameCount;
    else
        attributes.uiSequenceCount = noteFrameCount(attributes.uiSequenceCount);
    return r;
}

u32 CKzVT5InputFile_V02::framesPresent(u32 stored)
{
    // The usual file: its last frame is there and nothing follows it.
    if (stored != 0 && m_Chunker.ExistChunk(frameName(stored - 1).c_str()) &&
        (stored == 0xFFFFFFFFu || !m_Chunker.ExistChunk(frameName(stored).c_str())))
        return stored;
    std::vector<std::string> names;
    m_Chunker.GetChunkNamesByPrefix(vt5names::kFrame, names);
    u32 count = 0;
    for (const std::string& n : names) {
        u32 seq = 0;
        if (vt5names::ParseIndexed(n, vt5names::kFrame, seq) && seq != 0xFFFFFFFFu && seq + 1 > count)
            count = seq + 1;
    }
    return count;
}

u32 CKzVT5InputFile_V02::noteFrameCount(u32 stored)
{
    // A writer that dies leaves the count it stored with its first frame (0)
    // or the count it was given, not the frames it wrote: the frames present
    // decide, and no frame is reported that is not there to be read.
    m_uiFrameCount = framesPresent(stored);
    if (stored == 0 && m_uiFrameCount != 0)
        loadUnfinishedTimes(m_uiFrameCount);
    return m_uiFrameCount;
}

void CKzVT5InputFile_V02::loadUnfinishedTimes(u32 frames)
{
    // A finished file keeps its frames' times in its cache chunk; a file
    // whose writer never finished has them only in its frame chunks, where
    // the writer put 0.0 for a frame whose time it did not know. Those stay
    // unknown (-1), and so does a frame that is not there; a file with no
    // known time at all keeps the times of its metadata.
    if (m_bTimesScanned || !m_AcqTimes.empty() || m_Chunker.ExistChunk(vt5names::kAcqTimesCache))
        return;
    m_bTimesScanned = true;
    std::vector<std::string> names;
    m_Chunker.GetChunkNamesByPrefix(vt5names::kFrame, names);
    // The times take no more room than the frame chunks allow: a file that
    // names a frame far beyond the others gets no times from its frames.
    const u64 kMaxTimes = 10000000;  // the writers keep no more
    if (frames > kMaxTimes || frames > (u64)names.size() * 4 + 4096)
        return;
    std::vector<double> times;
    try {
        times.assign(frames, -1.0);
    } catch (const std::bad_alloc&) {
        return;
    }
    bool any = false;
    for (const std::string& name : names) {
        u32 seq = 0;
        if (!vt5names::ParseIndexed(name, vt5names::kFrame, seq) || seq >= frames)
            continue;
        SKzChunkHeader h;
        std::memset(&h, 0, sizeof(h));
        double t = 0.0;
        if (m_Chunker.GetChunkPartTo(h, &t, 0, 8, name.c_str()) != KZ_OK)
            continue;
        if (!std::isfinite(t) || (seq != 0 && t == 0.0))
            continue;
        times[seq] = t;
        any = true;
    }
    if (any)
        m_AcqTimes.swap(times);
}

int CKzVT5InputFile_V02::findFirstFrameChunk(const char* prefix, CKzByteArray& bytes)
{
    if (m_uiFrameCount == 0) {
        SKzImageAttributes a;
        std::memset(&a, 0, sizeof(a));
        GetImageAttributes(a);
    }
    bytes.SetSize(0);
    if (m_uiFrameCount == 0)
        return KZ_OK;  // nothing to try: the empty text is decoded
    // Only the names the file holds are tried, smallest index first, so a
    // file claiming billions of frames answers at once.
    std::vector<std::string> names;
    m_Chunker.GetChunkNamesByPrefix(prefix, names);
    std::vector<u32> indexes;
    for (const std::string& n : names) {
        u32 seq = 0;
        if (vt5names::ParseIndexed(n, prefix, seq) && seq < m_uiFrameCount)
            indexes.push_back(seq);
    }
    std::sort(indexes.begin(), indexes.end());
    int last = KZ_ERR_NOT_FOUND;
    for (u32 seq : indexes) {
        last = m_Chunker.GetChunk(bytes, vt5names::Indexed(prefix, seq).c_str());
        if (last == KZ_OK)
            return KZ_OK;
    }
    return last;
}

int CKzVT5InputFile_V02::GetCustomData(const wchar_t* name, CKzByteArray& data)
{
    Lock lock(m_Lock);
    if (!name)
        return KZ_ERR_INVALID_ARG;
    return m_Chunker.GetChunk(data, vt5names::Custom(vt5names::kCustomData, name).c_str());
}

int CKzVT5InputFile_V02::GetCustomDataSeq(const wchar_t* name, u32 index, CKzByteArray& data)
{
    Lock lock(m_Lock);
    if (!name)
        return KZ_ERR_INVALID_ARG;
    return m_Chunker.GetChunk(data, vt5names::CustomIndexed(vt5names::kCustomDataSeq, name, index).c_str());
}

int CKzVT5InputFile_V02::GetCustomDataVar(const wchar_t* name, CKzVariant& value)
{
    Lock lock(m_Lock);
    if (!name || !*name)
        return KZ_ERR_INVALID_ARG;
    CKzByteArray bytes;
    if (const int r = m_Chunker.GetChunk(bytes, vt5names::Custom(vt5names::kCustomDataVar, name).c_str()); r != KZ_OK)
        return r;
    return low_ByteArrayToVariant(value, bytes, m_pSerializer);
}

int CKzVT5InputFile_V02::GetCustomDataVarSeq(const wchar_t* name, u32 index, CKzVariant& value)
{
    Lock lock(m_Lock);
    if (!name || !*name)
        return KZ_ERR_INVALID_ARG;
    CKzByteArray bytes;
    const std::string chunk = vt5names::CustomIndexed(vt5names::kCustomDataVarSeq, name, index);
    if (const int r = m_Chunker.GetChunk(bytes, chunk.c_str()); r != KZ_OK)
        return r;
    return low_ByteArrayToVariant(value, bytes, m_pSerializer);
}

int CKzVT5InputFile_V02::GetAcqTime(double& time)
{
    Lock lock(m_Lock);
    CKzVariant v;
    const int r = GetCustomDataVar(L"AcqTimeV1_0", v);
    if (r == KZ_OK)
        time = v.GetDouble();
    return r;
}

int CKzVT5InputFile_V02::GetImageTextInfo(SKzImageTextInfo& info)
{
    Lock lock(m_Lock);
    CKzByteArray bytes;
    if (const int r = m_Chunker.GetChunk(bytes, vt5names::kTextInfo); r != KZ_OK)
        return r;
    CKzVariant v;
    if (const int r = decodeDescription(bytes, v); r != KZ_OK)
        return r;
    for (u32 k = 0; k < SKzImageTextInfo::eStored; ++k) {
        wchar_t key[32];
        std::swprintf(key, 32, L"TextInfoItem_%u", k);
        if (const CKzVariant* n = v.Search(key, nullptr))
            info.wsText[k] = n->GetCKzStringW();
    }
    return KZ_OK;
}

int CKzVT5InputFile_V02::GetImageBinary(void* buffer)
{
    Lock lock(m_Lock);
    if (!buffer)
        return KZ_ERR_INVALID_ARG;
    CKzByteArray bytes;
    if (const int r = m_Chunker.GetChunk(bytes, vt5names::kBinary); r != KZ_OK)
        return r;
    if (const int r = ensureLayout(); r != KZ_OK)
        return r;
    const u64 size = vt5names::BinaryBytes(m_Layout.uiWidth, m_Layout.uiHeight);
    if ((u64)bytes.GetSize() < size)
        return KZ_ERR_FAILED;
    std::memcpy(buffer, bytes.GetData(), (size_t)size);
    return KZ_OK;
}

int CKzVT5InputFile_V02::updateFromWriter(u32 frameCount, const std::vector<double>& times,
                                          const CKzFileChunker& container)
{
    Lock lock(m_Lock);
    m_AcqTimes = times;
    m_uiFrameCount = frameCount;
    repairWriterExperiment(frameCount);
    return m_Chunker.SetMapChunk(&container);
}
