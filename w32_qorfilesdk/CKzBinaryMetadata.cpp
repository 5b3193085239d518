// Binary-layer descriptors and byte-array sequences.
#include "w32_qorfilesdk/CKzBinaryMetadata.h"

#include <new>

#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzVariant.h"
#include "vt5file/IKzImageFile.h"

namespace {

const wchar_t kVariantName[] = L"BinaryMetadata_v1";
const wchar_t kItemName[] = L"BinaryItem";

u32 ReadU32(const CKzVariant& node, const wchar_t* name)
{
    const CKzVariant& v = node[name];
    if (v.IsUndefined())
        return 0;
    bool ok = false;
    const u32 x = v.GetKz_uint32(&ok);
    return ok ? x : 0;
}

CKzStringW ReadText(const CKzVariant& node, const wchar_t* name)
{
    const CKzVariant& v = node[name];
    if (v.IsUndefined())
        return CKzStringW();
    bool ok = false;
    CKzStringW s = v.GetCKzStringW(&ok);
    return ok ? s : CKzStringW();
}

}  // namespace

CKzBinaryMetadata::CKzBinaryMetadata() {}

CKzBinaryMetadata::~CKzBinaryMetadata() {}

void CKzBinaryMetadata::Clear() { m_vItems.clear(); }

CKzBinaryMetadata::SKzBinaryItem* CKzBinaryMetadata::GetItem(u32 index)
{
    return index < m_vItems.size() ? &m_vItems[index] : nullptr;
}

const CKzBinaryMetadata::SKzBinaryItem* CKzBinaryMetadata::GetItem(u32 index) const
{
    return index < m_vItems.size() ? &m_vItems[index] : nullptr;
}

void CKzBinaryMetadata::InitItem(SKzBinaryItem& item)
{
    item.uiState = 0;
    item.uiColor = 0;
    item.uiCompOrder = 0;
    item.strName.Empty();
    item.strCompName.Empty();
    item.strFileTag.Empty();
}

CKzStringW CKzBinaryMetadata::DefaultFileTag(u32 position)
{
    CKzStringW tag;
    tag.Format(L"RleZipBinarySequence_%d_v1", (int)position);
    return tag;
}

int CKzBinaryMetadata::AddItem(SKzBinaryItem& item)
{
    if (item.strFileTag.GetLength() == 0)
        item.strFileTag = DefaultFileTag((u32)m_vItems.size() + 1);
    m_vItems.push_back(item);
    return (int)m_vItems.size() - 1;
}

void CKzBinaryMetadata::LoadItemFromVariant(SKzBinaryItem& item, const CKzVariant& node)
{
    item.uiState = ReadU32(node, L"uiState");
    item.uiColor = ReadU32(node, L"uiColor");
    item.uiCompOrder = ReadU32(node, L"uiCompOrder");
    item.strName = ReadText(node, L"strName");
    item.strFileTag = ReadText(node, L"strFileTag");
    item.strCompName = ReadText(node, L"strCompName");
}

void CKzBinaryMetadata::SaveItemToVariant(CKzVariant& node, const SKzBinaryItem& item)
{
    const bool old = node.EnableTypeChange(true);
    node.MakeNull();
    node.SetName(CKzStringW(kItemName));
    node.Append(CKzVariant((unsigned int)item.uiState, CKzStringW(L"uiState")));
    node.Append(CKzVariant((unsigned int)item.uiColor, CKzStringW(L"uiColor")));
    node.Append(CKzVariant((unsigned int)item.uiCompOrder, CKzStringW(L"uiCompOrder")));
    node.Append(CKzVariant(item.strName, CKzStringW(L"strName")));
    node.Append(CKzVariant(item.strFileTag, CKzStringW(L"strFileTag")));
    node.Append(CKzVariant(item.strCompName, CKzStringW(L"strCompName")));
    node.EnableTypeChange(old);
}

void CKzBinaryMetadata::SaveToVariant(CKzVariant& root) const
{
    root.EnableTypeChange(true);
    root.MakeNull();
    root.SetName(CKzStringW(kVariantName));
    for (const SKzBinaryItem& item : m_vItems) {
        CKzVariant node;
        SaveItemToVariant(node, item);
        root.Append(node);
    }
    // An empty list still reads back as a list (an undefined root would not).
    if (m_vItems.empty())
        root = CKzListVariant();
    root.EnableTypeChange(false);
}

int CKzBinaryMetadata::LoadFromInputFile(IKzInputImageFile* reader)
{
    if (!reader)
        return KZ_ERR_INVALID_ARG;
    CKzVariant root;
    const int r = reader->GetCustomDataVar(kVariantName, root);
    if (r != KZ_OK)
        return r;
    const int n = root.GetCount();
    if (n <= 0)
        return r;
    try {
        m_vItems.resize((size_t)n);
    } catch (const std::bad_alloc&) {
        m_vItems.clear();
        return KZ_ERR_OUT_OF_MEMORY;
    }
    for (int i = 0; i < n; ++i) {
        InitItem(m_vItems[(size_t)i]);
        if (const CKzVariant* child = root.IndexPtr(i))
            LoadItemFromVariant(m_vItems[(size_t)i], *child);
    }
    return r;
}

int CKzBinaryMetadata::SaveToOutputFile(IKzOutputImageFile* writer) const
{
    if (!writer)
        return KZ_ERR_INVALID_ARG;
    CKzVariant root;
    SaveToVariant(root);
    return writer->SetCustomDataVar(kVariantName, &root);
}

// ---------------------------------------------------------------------------

CKzBinaryByteArrayMetadata::CKzBinaryByteArrayMetadata() {}

CKzBinaryByteArrayMetadata::~CKzBinaryByteArrayMetadata() { Clear(); }

void CKzBinaryByteArrayMetadata::Clear()
{
    for (CKzByteArray* a : m_vItems)
        delete a;
    m_vItems.clear();
}

CKzByteArray* CKzBinaryByteArrayMetadata::GetItem(u32 index)
{
    return index < m_vItems.size() ? m_vItems[index] : nullptr;
}

int CKzBinaryByteArrayMetadata::AddItem(CKzByteArray* item, bool take)
{
    CKzByteArray* added = nullptr;
    try {
        m_vItems.reserve(m_vItems.size() + 1);
        if (!item)
            added = new CKzByteArray(1024);
        else if (take)
            added = item;
        else
            added = new CKzByteArray(*item);
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    m_vItems.push_back(added);
    return (int)m_vItems.size() - 1;
}

int CKzBinaryByteArrayMetadata::SaveToOutputFile(const wchar_t* name, IKzOutputImageFile* writer) const
{
    if (!name || !writer)
        return KZ_ERR_INVALID_ARG;
    for (size_t i = 0; i < m_vItems.size(); ++i)
        writer->SetCustomDataSeq(name, (u32)i, m_vItems[i]->GetData(), m_vItems[i]->GetSize());
    return KZ_OK;
}

int CKzBinaryByteArrayMetadata::LoadFromInputFile(const wchar_t* name, IKzInputImageFile* reader, u32 count)
{
    if (!name || !reader)
        return KZ_ERR_INVALID_ARG;
    for (u32 i = 0; i < count; ++i) {
        const int at = AddItem(nullptr, false);
        if (at < 0)
            return at;
        reader->GetCustomDataSeq(name, i, *m_vItems[(size_t)at]);
    }
    return KZ_OK;
}
