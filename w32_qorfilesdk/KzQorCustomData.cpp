// Custom-data tags of a handle (loaded at the open, written at the close),
// foreign blocks for C++ hosts and the acquisition records of the maker's
// instruments.
#include "w32_qorfilesdk/KzQorCustomData.h"

#include <climits>
#include <cstring>
#include <string>
#include <new>

#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/ImageFormatManager.h"
#include "vt5file/CKzFileChunkerInternal.h"
#include "vt5file/IKzImageFile.h"
#include "vt5file/KzVT5Names.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"
#include "w32_qorfilesdk/internal/KzQorHandleInternal.h"
#include "w32_qorfilesdk/internal/KzQorReadInternal.h"

namespace {

const wchar_t kNameList[] = L"QorApi_CustomData";

// Writes one tag; a tag without bytes has no chunk (its name is listed).
kz_result WriteTag(IKzOutputImageFile* writer, const CKzStringW& name, const CKzByteArray& bytes)
{
    if (bytes.GetSize() == 0)
        return KZ_OK;
    return writer->SetCustomData(name.GetString(), bytes.GetData(), bytes.GetSize());
}

kz_result WriteNameList(IKzOutputImageFile* writer, const std::vector<CKzStringW>& names)
{
    std::vector<u32> list;
    KzQorEncodeNameList(names.data(), names.size(), list);
    return writer->SetCustomData(kNameList, list.data(), list.size() * sizeof(u32));
}

std::vector<CKzStringW> MapNames(const SKzQorFileHandle::TagMap& map)
{
    std::vector<CKzStringW> names;
    names.reserve(map.size());
    for (const auto& e : map)
        names.push_back(e.first);
    return names;
}

}  // namespace

// ---------------------------------------------------------------------------
// The name list

void KzQorEncodeNameList(const CKzStringW* names, size_t count, std::vector<u32>& out)
{
    out.clear();
    for (size_t i = 0; i < count; ++i) {
        const wchar_t* p = names[i].GetString();
        for (; *p; ++p)
            out.push_back((u32)*p);
        out.push_back(0);
    }
    out.push_back(0);
}

void KzQorDecodeNameList(const unsigned char* data, u64 size, KzQorNameVector& names)
{
    if (!data)
        return;
    const u64 count = size / 4;
    u64 i = 0;
    std::vector<wchar_t> name;
    while (i < count) {
        name.clear();
        for (; i < count; ++i) {
            u32 c;
            std::memcpy(&c, data + i * 4, 4);
            if (c == 0)
                break;
            name.push_back((wchar_t)c);
        }
        ++i;  // the terminator
        if (name.empty())
            return;
        name.push_back(0);
        names.push_back(CKzStringW(name.data(), (int)name.size()));
    }
}

// ---------------------------------------------------------------------------
// Tags of a handle

bool SKzQorFileHandle::IsStorableTagName(const wchar_t* name)
{
    if (!name || !*name)
        return false;
    if (std::wcschr(name, L'!'))
        return false;
    // The name list and the frames' acquisition times have chunks of their
    // own under the same prefix: a tag of either name would replace them.
    if (std::wcscmp(name, kNameList) == 0 || std::wcscmp(name, L"AcqTimesCache") == 0)
        return false;
    return vt5names::Custom(vt5names::kCustomData, name).size() <= vt5_chunk_detail::kMaxName;
}

kz_result SKzQorFileHandle::LoadCustomData()
{
    m_aCustomDataMap.clear();
    if (!m_pInputFile)
        return KZ_OK;
    CKzByteArray list;
    if (m_pInputFile->GetCustomData(kNameList, list) != KZ_OK)
        return KZ_OK;
    KzQorNameVector names;
    KzQorDecodeNameList(list.GetData(), list.GetSize(), names);
    for (const CKzStringW& name : names) {
        CKzByteArray& bytes = m_aCustomDataMap[name];
        CKzByteArray read(1024);
        if (m_pInputFile->GetCustomData(name.GetString(), read) == KZ_OK)
            bytes.SwapData(read);
    }
    return KZ_OK;
}

kz_result SKzQorFileHandle::SaveCustomData()
{
    if (!m_pOutputFile)
        return KZ_ERR_FAILED;
    kz_result first = WriteNameList(m_pOutputFile, MapNames(m_aCustomDataMap));
    for (const auto& e : m_aCustomDataMap) {
        const kz_result r = WriteTag(m_pOutputFile, e.first, e.second);
        if (first == KZ_OK)
            first = r;
    }
    return first;
}

kz_result SKzQorFileHandle::UpdateCustomData()
{
    if (m_aChangedTags.empty())
        return KZ_OK;
    IKzImageFormatManager* registry = InitFormatManager();
    if (!registry)
        return KZ_ERR_FAILED;
    IKzImageFormat* format = nullptr;
    if (const int r = registry->GetImageFormatByFilename(m_wsFileName, format); r != KZ_OK)
        return r;
    if (!format)
        return KZ_ERR_FAILED;
    CKzStringA id;
    if (format->GetID(id) != KZ_OK || std::strcmp(id.GetString(), "VTIMX") != 0) {
        format->Release();
        return KZ_ERR_NOT_SUPPORTED;
    }
    IKzOutputImageFile* writer = nullptr;
    const int opened = format->CreateOutputImageFile(m_wsFileName, writer);
    format->Release();
    if (opened != KZ_OK)
        return opened;
    if (!writer)
        return KZ_ERR_FAILED;

    kz_result first = WriteNameList(writer, MapNames(m_aCustomDataMap));
    for (const CKzStringW& name : m_aChangedTags) {
        auto it = m_aCustomDataMap.find(name);
        if (it == m_aCustomDataMap.end())
            continue;
        const kz_result r = WriteTag(writer, it->first, it->second);
        if (first == KZ_OK)
            first = r;
    }
    const kz_result finished = writer->Finalize();
    writer->Release();
    if (first == KZ_OK)
        first = finished;
    if (first == KZ_OK)
        m_aChangedTags.clear();
    return first;
}

u32 SKzQorFileHandle::GetCustomDataTag(const wchar_t* name, void* buffer)
{
    if (!name)
        return 0;
    auto it = m_aCustomDataMap.find(CKzStringW(name));
    if (it == m_aCustomDataMap.end())
        return 0;
    const u32 size = (u32)it->second.GetSize();
    if (buffer && size)
        std::memcpy(buffer, it->second.GetData(), size);
    return size;
}

kz_result SKzQorFileHandle::FileSetCustomDataTag(int handle, const wchar_t* name, const void* bytes, u32 size)
{
    kzqor::HandleUse use(handle);
    SKzQorFileHandle* record = GetHandle(handle);
    if (!record)
        return KZ_ERR_NOT_FOUND;
    if (!IsStorableTagName(name) || (!bytes && size))
        return KZ_ERR_INVALID_ARG;
    try {
        const CKzStringW key(name);
        CKzByteArray value(1024);
        if (size && value.SetData(bytes, size, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact) != KZ_OK)
            return KZ_ERR_OUT_OF_MEMORY;
        if (record->m_pInputFile)
            record->m_aChangedTags.insert(key);
        record->m_aCustomDataMap[key].SwapData(value);
        return KZ_OK;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

// ---------------------------------------------------------------------------
// Tags through the C records

namespace {

// A name of a record entry: up to its terminator or the field's end.
CKzStringW EntryName(const QORFILECUSTOMDATA& e)
{
    size_t n = 0;
    while (n < QOR_CUSTOMDATA_TAG_LENGTH && e.wsTag[n])
        ++n;
    std::wstring name(e.wsTag, n);
    return CKzStringW(name.c_str());
}

// The name into the entry's field: at most the field's length, terminated
// only when shorter.
void PutEntryName(QORFILECUSTOMDATA& e, const CKzStringW& name)
{
    const wchar_t* p = name.GetString();
    size_t i = 0;
    for (; i < QOR_CUSTOMDATA_TAG_LENGTH && p[i]; ++i)
        e.wsTag[i] = p[i];
    if (i < QOR_CUSTOMDATA_TAG_LENGTH)
        e.wsTag[i] = 0;
}

// At most the entry's byte count of the tag into the entry's memory.
void PutEntryBytes(QORFILECUSTOMDATA& e, const CKzByteArray& bytes)
{
    if (!e.pData)
        return;
    const u64 n = bytes.GetSize() < e.uiSize ? bytes.GetSize() : e.uiSize;
    if (n)
        std::memcpy(e.pData, bytes.GetData(), (size_t)n);
}

}  // namespace

kz_result SKzQorFileHandle::GetCustomData(_QORFILECUSTOMDATASET* record)
{
    if (!record)
        return KZ_ERR_INVALID_ARG;
    if (m_aCustomDataMap.size() > QOR_MAX_CUSTOMDATA)
        return KZ_ERR_TOO_MANY;
    record->uiCount = (uint32_t)m_aCustomDataMap.size();
    u32 i = 0;
    for (const auto& e : m_aCustomDataMap) {
        QORFILECUSTOMDATA& entry = record->sData[i++];
        PutEntryName(entry, e.first);
        PutEntryBytes(entry, e.second);
        entry.uiSize = (uint32_t)e.second.GetSize();
    }
    return KZ_OK;
}

kz_result SKzQorFileHandle::FileSetCustomData(int handle, const _QORFILECUSTOMDATASET* record)
{
    kzqor::HandleUse use(handle);
    SKzQorFileHandle* rec = nullptr;
    if (!GetOutputFile(handle, &rec) || !rec)
        return KZ_ERR_NOT_FOUND;
    if (!record)
        return KZ_ERR_INVALID_ARG;
    if (record->uiCount > QOR_MAX_CUSTOMDATA)
        return KZ_ERR_FAILED;
    try {
        // Everything is checked and copied before the map changes.
        std::vector<std::pair<CKzStringW, CKzByteArray>> set;
        set.reserve(record->uiCount);
        for (u32 i = 0; i < record->uiCount; ++i) {
            const QORFILECUSTOMDATA& e = record->sData[i];
            CKzStringW name = EntryName(e);
            if (!IsStorableTagName(name.GetString()) || (!e.pData && e.uiSize))
                return KZ_ERR_INVALID_ARG;
            set.emplace_back(name, CKzByteArray(1024));
            if (e.uiSize && set.back().second.SetData(e.pData, e.uiSize, CKzByteArray::eModeOpReplace,
                                                      CKzByteArray::eModeAllocExact) != KZ_OK)
                return KZ_ERR_OUT_OF_MEMORY;
        }
        for (auto& e : set)
            rec->m_aCustomDataMap[e.first].SwapData(e.second);
        return KZ_OK;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

QORRESULT Qor_FileSetCustomDataTag(QORFILEHANDLE handle, const wchar_t* name, const void* data, int size)
{
    return kzqorread::GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        if (!SKzQorFileHandle::GetHandle(handle))
            return KZ_ERR_NOT_FOUND;
        if (size < 0 || (!data && size))
            return KZ_ERR_INVALID_ARG;
        return SKzQorFileHandle::FileSetCustomDataTag(handle, name, data, (u32)size);
    });
}

QORRESULT Qor_FileGetCustomData(QORFILEHANDLE handle, QORFILECUSTOMDATASET* set)
{
    return kzqorread::GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* rec = nullptr;
        if (!SKzQorFileHandle::GetInputFile(handle, &rec) || !rec)
            return KZ_ERR_NOT_FOUND;
        if (!set)
            return KZ_ERR_INVALID_ARG;
        if (rec->m_aCustomDataMap.size() > QOR_MAX_CUSTOMDATA)
            return KZ_ERR_FAILED;
        u32 i = 0;
        for (const auto& e : rec->m_aCustomDataMap) {
            QORFILECUSTOMDATA& entry = set->sData[i++];
            PutEntryBytes(entry, e.second);
            entry.uiSize = (uint32_t)e.second.GetSize();
            PutEntryName(entry, e.first);
        }
        set->uiCount = i;
        return KZ_OK;
    });
}

int Qor_FileGetCustomData(QORFILEHANDLE handle, void* buffer)
{
    return kzqorread::GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        IKzInputImageFile* reader = SKzQorFileHandle::GetInputFile(handle, nullptr);
        if (!reader)
            return KZ_ERR_NOT_FOUND;
        CKzByteArray list(1024);
        if (reader->GetCustomData(kNameList, list) != KZ_OK)
            return 0;
        if ((u64)list.GetSize() > (u64)INT_MAX)
            return KZ_ERR_FAILED;
        if (buffer && list.GetSize())
            std::memcpy(buffer, list.GetData(), list.GetSize());
        return (int)list.GetSize();
    });
}

unsigned int Qor_FileGetCustomDataTag(QORFILEHANDLE handle, const wchar_t* name, void* buffer)
{
    return kzqorread::Guard(0u, [&]() -> unsigned int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* rec = nullptr;
        if (!SKzQorFileHandle::GetInputFile(handle, &rec) || !rec)
            return 0;
        return rec->GetCustomDataTag(name, buffer);
    });
}

// ---------------------------------------------------------------------------
// Foreign blocks

SKz3rdPartyCustomData::SKz3rdPartyCustomData() : m_uiSize(0), m_pData(nullptr) {}

SKz3rdPartyCustomData::SKz3rdPartyCustomData(const CKzStringW& name) : m_strName(name), m_uiSize(0), m_pData(nullptr)
{
}

SKz3rdPartyCustomData::SKz3rdPartyCustomData(const CKzStringW& name, u32 size, const void* bytes)
    : m_strName(name), m_uiSize(0), m_pData(nullptr)
{
    if (size && bytes) {
        m_pData = CKzAlloc::Alloc(0, size);
        if (m_pData) {
            std::memcpy(m_pData, bytes, size);
            m_uiSize = size;
        }
    }
}

SKz3rdPartyCustomData::SKz3rdPartyCustomData(const SKz3rdPartyCustomData& o)
    : SKz3rdPartyCustomData(o.m_strName, o.m_uiSize, o.m_pData)
{
}

SKz3rdPartyCustomData::~SKz3rdPartyCustomData() { CKzAlloc::Free(m_pData); }

SKz3rdPartyCustomData& SKz3rdPartyCustomData::operator=(const SKz3rdPartyCustomData& o)
{
    if (this == &o)
        return *this;
    Set(o.m_strName, o.m_uiSize, o.m_pData);
    return *this;
}

kz_result SKz3rdPartyCustomData::Set(const CKzStringW& name, u32 size, const void* bytes)
{
    if (size && !bytes)
        return KZ_ERR_INVALID_ARG;
    m_strName = name;
    if (!size) {
        CKzAlloc::Free(m_pData);
        m_pData = nullptr;
        m_uiSize = 0;
        return KZ_OK;
    }
    // A new block first: the source may be this block's own bytes.
    void* block = CKzAlloc::Alloc(0, size);
    if (!block) {
        CKzAlloc::Free(m_pData);
        m_pData = nullptr;
        m_uiSize = 0;
        return KZ_ERR_OUT_OF_MEMORY;
    }
    std::memcpy(block, bytes, size);
    CKzAlloc::Free(m_pData);
    m_pData = block;
    m_uiSize = size;
    return KZ_OK;
}

kz_result QorApiSupport_FileSave3rdPartyCustomDataHeader(IKzOutputImageFile* writer, const KzQorNameVector& names)
{
    if (!writer)
        return KZ_ERR_INVALID_ARG;
    try {
        return WriteNameList(writer, names);
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

kz_result QorApiSupport_FileSave3rdPartyCustomData(IKzOutputImageFile* writer, const KzQor3rdPartyMap& blocks)
{
    if (!writer)
        return KZ_ERR_INVALID_ARG;
    for (const auto& e : blocks) {
        if (!e.second.m_uiSize)
            continue;
        const kz_result r = writer->SetCustomData(e.first.GetString(), e.second.m_pData, e.second.m_uiSize);
        if (r != KZ_OK)
            return r;
    }
    return KZ_OK;
}

kz_result QorApiSupport_FileLoad3rdPartyCustomData(SKz3rdPartyCustomData& block, const wchar_t* name,
                                                   IKzInputImageFile* reader)
{
    if (!reader || !name)
        return KZ_ERR_INVALID_ARG;
    try {
        CKzByteArray bytes(1024);
        const int r = reader->GetCustomData(name, bytes);
        if (r != KZ_OK)
            return r;
        if ((u64)bytes.GetSize() > 0xFFFFFFFFull)
            return KZ_ERR_FAILED;
        return block.Set(CKzStringW(name), (u32)bytes.GetSize(), bytes.GetData());
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

kz_result QorApiSupport_FileLoad3rdPartyCustomDataGetAllTags(KzQorNameVector& names, IKzInputImageFile* reader)
{
    if (!reader)
        return KZ_ERR_INVALID_ARG;
    try {
        CKzByteArray list(1024);
        if (reader->GetCustomData(kNameList, list) != KZ_OK || list.GetSize() == 0)
            return KZ_ERR_NOT_FOUND;
        KzQorDecodeNameList(list.GetData(), list.GetSize(), names);
        return KZ_OK;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

kz_result QorApiSupport_File3rdPartyCustomDataGetAllTagsFromMap(KzQorNameVector& names,
                                                               const KzQor3rdPartyMap& blocks)
{
    try {
        names.reserve(names.size() + blocks.size());
        for (const auto& e : blocks)
            names.push_back(e.first);
        return KZ_OK;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

kz_result QorApiSupport_FileLoad3rdPartyCustomDataMap(KzQor3rdPartyMap& blocks, const KzQorNameVector& names,
                                                      IKzInputImageFile* reader)
{
    if (!reader)
        return KZ_ERR_INVALID_ARG;
    try {
        for (const CKzStringW& name : names) {
            SKz3rdPartyCustomData block;
            if (QorApiSupport_FileLoad3rdPartyCustomData(block, name.GetString(), reader) != KZ_OK)
                continue;
            blocks.emplace(name, block);
        }
        return KZ_OK;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

// ---------------------------------------------------------------------------
// Acquisition records

kz_result QorApiSupport_FileSaveQuarnSimAcqData(IKzOutputImageFile* writer, const SKzQuarnSimAcqData& record)
{
    if (!writer)
        return KZ_ERR_INVALID_ARG;
    return writer->SetCustomData(L"QuarnSimAcqDataV1_0", &record, sizeof(record));
}

kz_result QorApiSupport_FileSaveQuarnStormAcqData(IKzOutputImageFile* writer, const SKzQuarnStormAcqData_v3& record)
{
    if (!writer)
        return KZ_ERR_INVALID_ARG;
    return writer->SetCustomData(L"QuarnStormAcqDataV3_0", &record, sizeof(record));
}

kz_result QorApiSupport_FileLoadQuarnSimAcqData(SKzQuarnSimAcqData& record, IKzInputImageFile* reader)
{
    if (!reader)
        return KZ_ERR_INVALID_ARG;
    try {
        CKzByteArray bytes(1024);
        if (const int r = reader->GetCustomData(L"QuarnSimAcqDataV1_0", bytes); r != KZ_OK)
            return r;
        if (bytes.GetSize() != sizeof(record))
            return KZ_FAIL;
        std::memcpy(&record, bytes.GetData(), sizeof(record));
        return KZ_OK;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

namespace {

constexpr size_t kStormV2Size = 7192;
constexpr size_t kStormV1Size = 2944;

// One row of the version-2 to version-3 moves: `count` entries of `width`
// bytes, entry i from v2 + i * width to v3 + i * stride3.
struct SStormMove {
    u32 v3;
    u32 v2;
    u32 width;
    u32 count;
    u32 stride3;
};

// The version-3 layout gives the eight-entry arrays room for 32 entries; the
// tail from version-2 offset 0x0B78 on keeps its shape.
const SStormMove kStormMoves[] = {
    {0x0008, 0x0008, 8, 1, 8},      {0x0010, 0x0010, 4, 1, 4},      {0x0014, 0x0014, 4, 8, 4},
    {0x0098, 0x0038, 32, 8, 32},    {0x0498, 0x0138, 32, 8, 32},    {0x0898, 0x0238, 4, 8, 4},
    {0x0918, 0x0258, 8, 8, 8},      {0x0A18, 0x0298, 8, 8, 8},      {0x0B18, 0x02D8, 8, 8, 8},
    {0x0C18, 0x0318, 8, 8, 8},      {0x0D18, 0x0358, 4, 8, 4},      {0x0D98, 0x0378, 256, 8, 256},
    {0x2D98, 0x0B78, 4, 1, 4},      {0x2DA0, 0x0B80, 8, 1, 8},      {0x2DA8, 0x0B88, 8, 1, 8},
    {0x2DB0, 0x0B90, 4, 1, 4},      {0x2DB4, 0x0B94, 4, 16, 4},     {0x2EB4, 0x0BD4, 4, 16, 4},
    {0x2FB4, 0x0C14, 256, 16, 256},
};

}  // namespace

kz_result QorApiSupport_FileLoadQuarnStormAcqData(SKzQuarnStormAcqData_v3& record, IKzInputImageFile* reader)
{
    if (!reader)
        return KZ_ERR_INVALID_ARG;
    try {
        std::memset(&record, 0, sizeof(record));
        CKzByteArray bytes(1024);
        if (reader->GetCustomData(L"QuarnStormAcqDataV3_0", bytes) == KZ_OK) {
            if (bytes.GetSize() != sizeof(record))
                return KZ_FAIL;
            std::memcpy(&record, bytes.GetData(), sizeof(record));
            return KZ_OK;
        }
        std::vector<unsigned char> v2(kStormV2Size, 0);
        CKzByteArray older(1024);
        if (reader->GetCustomData(L"QuarnStormAcqDataV2_0", older) == KZ_OK) {
            if (older.GetSize() != kStormV2Size)
                return KZ_FAIL;
            std::memcpy(v2.data(), older.GetData(), kStormV2Size);
        } else {
            if (const int r = reader->GetCustomData(L"QuarnStormAcqDataV1_0", older); r != KZ_OK)
                return r;
            if (older.GetSize() != kStormV1Size)
                return KZ_FAIL;
            std::memcpy(v2.data(), older.GetData(), kStormV1Size);
        }
        unsigned char* out = reinterpret_cast<unsigned char*>(&record);
        for (const SStormMove& m : kStormMoves)
            for (u32 i = 0; i < m.count; ++i)
                std::memcpy(out + m.v3 + (size_t)i * m.stride3, v2.data() + m.v2 + (size_t)i * m.width, m.width);
        record.uiVersion = 3;
        return KZ_OK;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}
