// Writer of version-2 VT5 files; frames, custom data, calibration, binary
// picture, acquisition times and finishing serve version 3 as well.
#include "vt5file/CKzVT5OutputFile.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <new>
#include <stdexcept>

#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzVariant.h"
#include "gnr_system/KzTextConv.h"
#include "vt5file/CKzVT5InputFile.h"
#include "vt5file/KzVT5Names.h"

namespace {
// Frame indexes beyond this have no place in the acquisition-time cache.
const u32 kMaxCachedFrame = 10000000;
// The reservation for frames is a hint for the file system, never more.
const u64 kMaxReservation = 4ull << 30;
}  // namespace

CKzVT5OutputFile_V02::CKzVT5OutputFile_V02(IKzImageFormat* format, CKzStringW path, bool bExisting,
                                           CKzFileChunker& container)
    : m_iRef(0),
      m_pFormat(format),
      m_wsPath(path),
      m_Chunker(container),
      m_pSerializer(new CKzSerializerXMLString()),
      m_bFinalized(false),
      m_bMetadataStored(false),
      m_uiExpectedCount(0),
      m_bAppending(bExisting),
      m_bCacheStored(false),
      m_bGeometryStored(false),
      m_bKeepGeometry(false)
{
    initImageAttributes();
    if (bExisting) {
        SKzImageAttributes a = m_Attributes;
        if (CKzVT5OutputFile_V02::_GetImageAttributes(a) == KZ_OK)
            m_Attributes = a;
        loadExistingTimes();
    }
}

CKzVT5OutputFile_V02::CKzVT5OutputFile_V02(IKzImageFormat* format, CKzByteArray&, bool bExisting,
                                           CKzFileChunker& container)
    : m_iRef(0),
      m_pFormat(format),
      m_Chunker(container),
      m_pSerializer(new CKzSerializerXMLString()),
      m_bFinalized(false),
      m_bMetadataStored(false),
      m_uiExpectedCount(0),
      m_bAppending(bExisting),
      m_bCacheStored(false),
      m_bGeometryStored(false),
      m_bKeepGeometry(false)
{
    initImageAttributes();
}

CKzVT5OutputFile_V02::~CKzVT5OutputFile_V02()
{
    // Last chance: when the final attributes cannot be stored, the file is
    // still closed with its times and map. The attributes stored with the
    // first frame then stand, and readers count the frames present.
    if (Finalize() != KZ_OK) {
        bool unfinished;
        {
            Lock lock(m_Lock);
            unfinished = !m_bFinalized;
            if (unfinished)
                m_bKeepGeometry = true;
        }
        if (unfinished)
            Finalize();
    }
    delete m_pSerializer;
}

void CKzVT5OutputFile_V02::initImageAttributes()
{
    std::memset(&m_Attributes, 0, sizeof(m_Attributes));
    m_Attributes.ePixelType = 1;
    m_Attributes.dCompressionParam = 1.0;
}

void CKzVT5OutputFile_V02::loadExistingTimes()
{
    // Appending keeps the times the file holds for its frames: the cache
    // chunk is rewritten whole at the end.
    CKzByteArray bytes;
    if (m_Chunker.GetChunk(bytes, vt5names::kAcqTimesCache) != KZ_OK)
        return;
    const u64 n = std::min<u64>(bytes.GetSize() / 8, (u64)kMaxCachedFrame + 1);
    m_Times.resize(n);
    m_States.assign(n, 2);
    if (n)
        std::memcpy(m_Times.data(), bytes.GetData(), n * 8);
    m_bCacheStored = true;
}

int CKzVT5OutputFile_V02::AddRef() { return m_iRef.fetch_add(1, std::memory_order_relaxed) + 1; }

int CKzVT5OutputFile_V02::Release()
{
    // The last reference finishes the file with everything the other
    // threads wrote before they dropped theirs.
    const int r = m_iRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (r == 0)
        delete this;
    return r;
}

IKzImageFormat* CKzVT5OutputFile_V02::GetImageFormat() { return m_pFormat; }

int CKzVT5OutputFile_V02::CompressionLevel(double parameter)
{
    if (!(parameter >= 1.0))  // below 1, and NaN
        return 6;
    if (parameter >= 10.0)
        return 9;
    return (int)parameter;
}

// ---------------------------------------------------------------------------
// attributes

void CKzVT5OutputFile_V02::normalizeImageAttributes()
{
    SKzImageAttributes& a = m_Attributes;
    const u32 depth = ((u32)a.uiBpcInMemory + 7) / 8 * 8;
    a.uiBpcInMemory = depth > 255 ? 0 : (u8)depth;  // no depth above 248 fits
    if (a.uiTileWidth == 0)
        a.uiTileWidth = a.uiWidth;
    if (a.uiTileHeight == 0)
        a.uiTileHeight = a.uiHeight;
    const u64 row = (u64)a.uiWidth * a.uiComp * (a.uiBpcInMemory / 8);
    if (a.uiWidthBytes < row && row <= UINT_MAX)
        a.uiWidthBytes = (u32)row;
}

int CKzVT5OutputFile_V02::validateImageAttributes()
{
    Lock lock(m_Lock);
    const SKzImageAttributes& a = m_Attributes;
    if (!a.uiWidth || !a.uiHeight || !a.uiComp || !a.uiBpcInMemory || !a.uiBpcSignificant)
        return KZ_ERR_FAILED;
    return KZ_OK;
}

int CKzVT5OutputFile_V02::SetImageAttributes(const SKzImageAttributes& attributes)
{
    Lock lock(m_Lock);
    if (attributes.uiBpcSignificant == 1)
        return KZ_ERR_FAILED;
    m_Attributes = attributes;
    return KZ_OK;
}

int CKzVT5OutputFile_V02::saveImageAttributes()
{
    Lock lock(m_Lock);
    normalizeImageAttributes();
    const SKzImageAttributes& a = m_Attributes;
    CKzVariant v;
    v.Append(CKzVariant((unsigned int)a.uiWidth, CKzStringW(L"uiWidth")));
    v.Append(CKzVariant((unsigned int)a.uiWidthBytes, CKzStringW(L"uiWidthBytes")));
    v.Append(CKzVariant((unsigned int)a.uiHeight, CKzStringW(L"uiHeight")));
    v.Append(CKzVariant((unsigned int)a.uiComp, CKzStringW(L"uiComp")));
    v.Append(CKzVariant((unsigned int)a.uiBpcInMemory, CKzStringW(L"uiBpcInMemory")));
    v.Append(CKzVariant((unsigned int)a.uiBpcSignificant, CKzStringW(L"uiBpcSignificant")));
    v.Append(CKzVariant((unsigned int)a.uiSequenceCount, CKzStringW(L"uiSequenceCount")));
    v.Append(CKzVariant((unsigned int)a.uiTileWidth, CKzStringW(L"uiTileWidth")));
    v.Append(CKzVariant((unsigned int)a.uiTileHeight, CKzStringW(L"uiTileHeight")));
    v.Append(CKzVariant((int)a.eCompression, CKzStringW(L"eCompression")));
    v.Append(CKzVariant(a.dCompressionParam, CKzStringW(L"dCompressionParam")));
    if (a.uiComp != 0)
        v.Append(CKzVariant((unsigned int)a.uiComp, CKzStringW(L"uiVirtualComponents")));
    return storeVariant(v, vt5names::kAttributes);
}

int CKzVT5OutputFile_V02::_GetImageAttributes(SKzImageAttributes& attributes)
{
    Lock lock(m_Lock);
    return CKzVT5InputFile_V02::ReadXmlAttributes(m_Chunker, attributes);
}

// ---------------------------------------------------------------------------
// descriptions as XML text

int CKzVT5OutputFile_V02::low_VariantToByteArray(CKzByteArray& bytes, const CKzVariant& value,
                                                 IKzSerializer* serializer)
{
    if (!serializer)
        return KZ_ERR_FAILED;
    CKzStringA text;
    CKzVariant params;
    params.Append(CKzVariant((void*)&text, CKzStringW(L"stringUTF8")));
    if (const int r = serializer->Save(params, value); r != KZ_OK)
        return r;
    return low_StringToByteArray(bytes, text);
}

int CKzVT5OutputFile_V02::low_StringToByteArray(CKzByteArray& bytes, const CKzStringW& text)
{
    CKzStringA utf8;
    if (!CKzStringUtils::WtoUTF8(text, utf8))
        return KZ_ERR_FAILED;
    return low_StringToByteArray(bytes, utf8);
}

int CKzVT5OutputFile_V02::low_StringToByteArray(CKzByteArray& bytes, const CKzStringA& text)
{
    return bytes.SetData((const char*)text, (unsigned long)text.GetLength(), CKzByteArray::eModeOpReplace,
                         CKzByteArray::eModeAllocExact);
}

int CKzVT5OutputFile_V02::storeVariant(const CKzVariant& value, const char* chunk)
{
    CKzByteArray bytes;
    if (const int r = low_VariantToByteArray(bytes, value, m_pSerializer); r != KZ_OK)
        return r;
    if ((u64)bytes.GetSize() > UINT_MAX)
        return KZ_ERR_FAILED;
    return m_Chunker.SetChunk(bytes, chunk);
}

int CKzVT5OutputFile_V02::SetImageCalibration(u32 seq, double calibration, double aspect, bool bValid,
                                              const CKzStringW& objective)
{
    Lock lock(m_Lock);
    CKzVariant v;
    v.Append(CKzVariant(bValid ? calibration : 0.0, CKzStringW(L"dCalibration")));
    v.Append(CKzVariant(bValid ? aspect : 1.0, CKzStringW(L"dAspect")));
    v.Append(CKzVariant(bValid, CKzStringW(L"bValid")));
    v.Append(CKzVariant(objective, CKzStringW(L"sObjective")));
    return storeVariant(v, vt5names::Indexed(vt5names::kCalibration, seq).c_str());
}

int CKzVT5OutputFile_V02::SetImageTextInfo(const SKzImageTextInfo& info)
{
    Lock lock(m_Lock);
    CKzVariant v;
    for (u32 k = 0; k < SKzImageTextInfo::eStored; ++k) {
        wchar_t key[32];
        std::swprintf(key, 32, L"TextInfoItem_%u", k);
        v.Append(CKzVariant(info.wsText[k], CKzStringW(key)));
    }
    return storeVariant(v, vt5names::kTextInfo);
}

int CKzVT5OutputFile_V02::SetImageBinary(void* bits)
{
    Lock lock(m_Lock);
    if (!bits)
        return KZ_ERR_INVALID_ARG;
    const u64 size = vt5names::BinaryBytes(m_Attributes.uiWidth, m_Attributes.uiHeight);
    if (size == 0 || size > UINT_MAX)
        return KZ_ERR_FAILED;
    return m_Chunker.SetChunk(bits, (unsigned int)size, vt5names::kBinary);
}

// ---------------------------------------------------------------------------
// custom data

int CKzVT5OutputFile_V02::SetCustomData(const wchar_t* name, const void* data, size_t length)
{
    Lock lock(m_Lock);
    if (!name || !*name || !data || length == 0 || length > UINT_MAX)
        return KZ_ERR_INVALID_ARG;
    const std::string chunk = vt5names::Custom(vt5names::kCustomData, name);
    if (chunk == vt5names::kAcqTimesCache)
        m_bCacheStored = true;  // the caller's cache stands
    return m_Chunker.SetChunk(data, (unsigned int)length, chunk.c_str());
}

int CKzVT5OutputFile_V02::SetCustomDataSeq(const wchar_t* name, u32 index, const void* data, size_t length)
{
    Lock lock(m_Lock);
    if (!name || !*name || !data || length == 0 || length > UINT_MAX)
        return KZ_ERR_INVALID_ARG;
    return m_Chunker.SetChunk(data, (unsigned int)length,
                              vt5names::CustomIndexed(vt5names::kCustomDataSeq, name, index).c_str());
}

int CKzVT5OutputFile_V02::SetCustomDataVar(const wchar_t* name, const CKzVariant* value)
{
    Lock lock(m_Lock);
    if (!name || !*name || !value)
        return KZ_ERR_INVALID_ARG;
    return storeVariant(*value, vt5names::Custom(vt5names::kCustomDataVar, name).c_str());
}

int CKzVT5OutputFile_V02::SetCustomDataVarSeq(const wchar_t* name, u32 index, const CKzVariant* value)
{
    Lock lock(m_Lock);
    if (!name || !*name || !value)
        return KZ_ERR_INVALID_ARG;
    return storeVariant(*value, vt5names::CustomIndexed(vt5names::kCustomDataVarSeq, name, index).c_str());
}

int CKzVT5OutputFile_V02::SetAcqTime(double time)
{
    Lock lock(m_Lock);
    const CKzVariant v(time, CKzStringW(L"AcqTimeV1_0"));
    SetCustomDataVar(L"AcqTimeV1_0", &v);
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// acquisition times

int CKzVT5OutputFile_V02::setTimeToAcqTimesCache(u32 seq, double time, bool bSet)
{
    if (seq > kMaxCachedFrame)
        return KZ_ERR_INVALID_ARG;
    if (seq < m_Times.size() && seq < m_States.size()) {
        m_Times[seq] = time;
        m_States[seq] = 1;
    } else {
        try {
            m_Times.resize((size_t)seq + 1, -1.0);
            m_States.resize((size_t)seq + 1, 0);
        } catch (const std::bad_alloc&) {
            return KZ_ERR_OUT_OF_MEMORY;
        }
        m_Times[seq] = time;
        m_States[seq] = bSet ? 1 : 0;
    }
    m_bCacheStored = false;
    return KZ_OK;
}

int CKzVT5OutputFile_V02::getTimeFromAcqTimesCache(u32 seq, double& time)
{
    if (seq > kMaxCachedFrame)
        return KZ_ERR_INVALID_ARG;
    if (seq >= m_Times.size())
        return KZ_ERR_NOT_FOUND;
    time = m_Times[seq];
    return KZ_OK;
}

int CKzVT5OutputFile_V02::validateTimeToAcqTimesCache(u32 seq)
{
    if (seq > kMaxCachedFrame)
        return KZ_ERR_INVALID_ARG;
    if (seq >= m_States.size())
        return KZ_ERR_NOT_FOUND;
    if (m_States[seq] == 1)
        m_States[seq] = 2;
    return KZ_OK;
}

int CKzVT5OutputFile_V02::reserveForFrames(u64 frames)
{
    if (m_bAppending)
        return KZ_OK;
    const SKzImageAttributes& a = m_Attributes;
    const u64 sample = ((u64)a.uiBpcInMemory + 7) / 8;
    // Saturating 64-bit product, capped: the reservation is only a hint.
    unsigned __int128 want = (unsigned __int128)frames * a.uiComp * a.uiWidth;
    want = want > kMaxReservation ? kMaxReservation : want * a.uiHeight;
    want = want > kMaxReservation ? kMaxReservation : want * sample;
    u64 bytes = want > kMaxReservation ? kMaxReservation : (u64)want;
    bytes = (bytes + 4095) / 4096 * 4096;
    return m_Chunker.Reserve((size_t)std::max<u64>(bytes, 40960000ull));
}

// ---------------------------------------------------------------------------
// frames

int CKzVT5OutputFile_V02::prepareFrame(u32 seq, double& time)
{
    // The first frame stores the geometry whatever count the caller set, so
    // that a file whose writer never finishes still opens once its map is
    // rebuilt. The count stored now is 0: until the close stores the final
    // one, readers count the frames the file holds.
    if (!m_bGeometryStored) {
        const u32 count = m_Attributes.uiSequenceCount;
        m_Attributes.uiSequenceCount = 0;
        if (saveImageAttributes() == KZ_OK)
            m_bGeometryStored = true;
        m_Attributes.uiSequenceCount = count;
    }
    const u64 count = std::max<u64>(m_Attributes.uiSequenceCount, (u64)seq + 1);
    m_Attributes.uiSequenceCount = (u32)std::min<u64>(count, UINT_MAX);
    if (getTimeFromAcqTimesCache(seq, time) != KZ_OK) {
        setTimeToAcqTimesCache(seq, -1.0, false);
        time = 0.0;
    }
    return KZ_OK;
}

int CKzVT5OutputFile_V02::FlushData(u32 seq, void* frame, KzImageProgressFn, void*)
{
    Lock lock(m_Lock);
    if (!frame)
        return KZ_ERR_INVALID_ARG;
    // Frames are sized from normalised attributes, whatever order the
    // caller set them in; an incomplete frame geometry stores nothing.
    normalizeImageAttributes();
    if (validateImageAttributes() != KZ_OK)
        return KZ_ERR_FAILED;
    const u64 size = (u64)m_Attributes.uiHeight * m_Attributes.uiWidthBytes;
    if (size == 0 || size > UINT_MAX)
        return KZ_ERR_FAILED;
    double time = 0.0;
    prepareFrame(seq, time);
    const std::string name = vt5names::Indexed(vt5names::kFrame, seq);
    int r;
    if (m_Attributes.eCompression != 0) {
        r = m_Chunker.SetChunk(&time, 8, frame, (unsigned int)size, name.c_str());
    } else {
        const u64 bound = std::max<u64>((u64)compressBound((uLong)size), (u64)((double)size * 1.2) + 12);
        try {
            if (m_Deflate.size() < bound)
                m_Deflate.resize(bound);
        } catch (const std::bad_alloc&) {
            return KZ_ERR_OUT_OF_MEMORY;
        }
        uLongf out = (uLongf)bound;
        if (compress2(m_Deflate.data(), &out, static_cast<const Bytef*>(frame), (uLong)size,
                      CompressionLevel(m_Attributes.dCompressionParam)) != Z_OK)
            return KZ_ERR_OUT_OF_MEMORY;
        if (out > UINT_MAX)
            return KZ_ERR_FAILED;
        r = m_Chunker.SetChunk(&time, 8, m_Deflate.data(), (unsigned int)out, name.c_str());
    }
    if (r == KZ_OK)
        validateTimeToAcqTimesCache(seq);
    return r;
}

int CKzVT5OutputFile_V02::FlushData(void* frame, KzImageProgressFn progress, void* user)
{
    return FlushData(0, frame, progress, user);
}

int CKzVT5OutputFile_V02::FlushTileData(u32 seq, u32, u32 row, void* rowData, KzImageProgressFn, void*)
{
    Lock lock(m_Lock);
    if (!rowData)
        return KZ_ERR_INVALID_ARG;
    if (m_Attributes.eCompression != 2)
        return KZ_ERR_NOT_SUPPORTED;
    normalizeImageAttributes();
    if (validateImageAttributes() != KZ_OK)
        return KZ_ERR_FAILED;
    const SKzImageAttributes& a = m_Attributes;
    const u64 size = (u64)a.uiHeight * a.uiWidthBytes;
    if (size == 0 || size > UINT_MAX || row >= a.uiHeight)
        return row >= a.uiHeight ? KZ_ERR_INVALID_ARG : KZ_ERR_FAILED;
    const std::string name = vt5names::Indexed(vt5names::kFrame, seq);
    if (row == 0) {
        double time = 0.0;
        prepareFrame(seq, time);
        const int r = m_Chunker.SetChunkPart(&time, 8, rowData, a.uiWidthBytes, (size_t)size, a.uiHeight == 1,
                                             name.c_str());
        if (r == KZ_OK)
            validateTimeToAcqTimesCache(seq);
        return r;
    }
    return m_Chunker.SetChunkPart(nullptr, 0, rowData, a.uiWidthBytes, (size_t)size, row + 1 == a.uiHeight,
                                  name.c_str());
}

int CKzVT5OutputFile_V02::FlushTileData(u32 tile, u32 row, void* rowData, KzImageProgressFn progress, void* user)
{
    return FlushTileData(0, tile, row, rowData, progress, user);
}

int CKzVT5OutputFile_V02::AbortAndDelete() { return KZ_OK; }

int CKzVT5OutputFile_V02::DeleteLastTiles(u32) { return KZ_OK; }

int CKzVT5OutputFile_V02::SetImageAnnotation(void*) { return KZ_ERR_FEATURE; }

int CKzVT5OutputFile_V02::SetImageOperationHistory(CKzStringW&) { return KZ_ERR_NOT_SUPPORTED; }

// ---------------------------------------------------------------------------
// readers over the file being written, finishing

CKzVT5InputFile_V02* CKzVT5OutputFile_V02::newReader() { return new CKzVT5InputFile_V02(*this, nullptr); }

int CKzVT5OutputFile_V02::CreateInputImageFile(u32 seq, IKzInputImageFile*& reader, const SKzExperiment*)
{
    Lock lock(m_Lock);
    if (seq == 0xFFFFFFFFu && reader) {
        CKzVT5InputFile_V02* mine = dynamic_cast<CKzVT5InputFile_V02*>(reader);
        if (!mine)
            return KZ_ERR_INVALID_ARG;
        return mine->updateFromWriter(m_Attributes.uiSequenceCount, m_Times, m_Chunker);
    }
    CKzVT5InputFile_V02* made = nullptr;
    try {
        made = newReader();
    } catch (...) {
        return KZ_ERR_FAILED;
    }
    made->AddRef();
    reader = made;
    return KZ_OK;
}

int CKzVT5OutputFile_V02::Finalize()
{
    Lock lock(m_Lock);
    if (m_bFinalized)
        return KZ_OK;
    const int valid = validateImageAttributes();
    // A failure stops here and leaves the writer unfinished, so that the
    // destructor tries again instead of closing a file without its count.
    if (m_Attributes.uiSequenceCount != 0 && !m_bKeepGeometry) {
        if (const int r = saveImageAttributes(); r != KZ_OK)
            return r;
    }
    const size_t n = std::min(m_States.size(), m_Times.size());
    if (!m_bCacheStored && n != 0) {
        bool any = false;
        for (size_t i = 0; i < n; ++i) {
            if (m_States[i] != 2)
                m_Times[i] = -1.0;
            else
                any = true;
        }
        if (any && m_Times.size() * 8 <= UINT_MAX &&
            m_Chunker.SetChunk(m_Times.data(), (unsigned int)(m_Times.size() * 8), vt5names::kAcqTimesCache) ==
                KZ_OK)
            m_bCacheStored = true;
    }
    if (const int r = m_Chunker.Finalize(); r != KZ_OK)
        return r;
    m_bFinalized = true;
    return valid;
}
