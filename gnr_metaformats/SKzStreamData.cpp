// The catalogue of streamed signals, its variant form and its load from a file.
#include "gnr_metaformats/SKzStreamData.h"
#include "gnr_metaformats/KzExperimentCommon.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzVariant.h"
#include "vt5file/IKzImageFile.h"

namespace {

typedef std::vector<SKzStreamDataItem> Items;

const kz_int32 kMaxBlock = 0x7FFFFFFF;

CKzStringW text(const wchar_t* t) { return CKzStringW(t ? t : L""); }

// Kind numbers of the sequences in files, and the variant's list names.
struct Kind {
    ERecordedDataType type;
    const wchar_t* name;
};
const Kind kPersisted[] = {{eRecordedStreamAnalog, L"Vector_StreamAnalog"},
                           {eRecordedStreamDigital, L"Vector_StreamDigital"},
                           {eRecordedAnalog, L"Vector_Analog"},
                           {eRecordedDigital, L"Vector_Digital"},
                           {eRecordedOther, L"Vector_Other"}};

CKzStringW textOf(const CKzVariant& v)
{
    if (v.IsUndefined() || v.GetCount() >= 0) return CKzStringW();
    bool ok = false;
    CKzStringW s = v.GetCKzStringW(&ok);
    return ok ? s : CKzStringW();
}

} // namespace

SKzStreamDataItem::SKzStreamDataItem() : iSeqMaxIndex(-1), uiReserved(8), uiDataSize(0) {}

SKzStreamDataItem::SKzStreamDataItem(const wchar_t* key, const wchar_t* description, const wchar_t* caption,
                                     const wchar_t* unit)
    : wsKey(text(key)), wsDescription(text(description)), wsCaption(text(caption)), wsUnit(text(unit)),
      iSeqMaxIndex(-1), uiReserved(8), uiDataSize(0)
{
}

SKzStreamDataItem::SKzStreamDataItem(const SKzStreamDataItem& o)
    : wsKey(o.wsKey), wsDescription(o.wsDescription), wsCaption(o.wsCaption), wsUnit(o.wsUnit),
      iSeqMaxIndex(o.iSeqMaxIndex), uiReserved(o.uiReserved), uiDataSize(o.uiDataSize)
{
}

SKzStreamDataItem& SKzStreamDataItem::operator=(const SKzStreamDataItem& o)
{
    if (this == &o) return *this;
    wsKey = o.wsKey;
    wsDescription = o.wsDescription;
    wsCaption = o.wsCaption;
    wsUnit = o.wsUnit;
    iSeqMaxIndex = o.iSeqMaxIndex;
    uiReserved = o.uiReserved;
    uiDataSize = o.uiDataSize;
    return *this;
}

SKzStreamDataItem::~SKzStreamDataItem() {}

Items& SKzStreamData::GetStreamDataVector(ERecordedDataType type)
{
    switch (type) {
    case eRecordedStreamDigital: return Vector_StreamDigital;
    case eRecordedAnalog: return Vector_Analog;
    case eRecordedDigital: return Vector_Digital;
    case eRecordedOther: return Vector_Other;
    default: return Vector_StreamAnalog;
    }
}

int SKzStreamData::AddDataItem(ERecordedDataType type, const wchar_t* key, const wchar_t* description,
                               const wchar_t* caption, const wchar_t* unit, SKzStreamDataItem* item,
                               kz_uint32* index)
{
    try {
        Items& v = GetStreamDataVector(type);
        v.emplace_back(key, description, caption, unit);
        if (item) *item = v.back();
        if (index) *index = (kz_uint32)(v.size() - 1);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

int SKzStreamData::UpdateDataItem(ERecordedDataType type, const wchar_t* key, const wchar_t* description,
                                  const wchar_t* caption, const wchar_t* unit, SKzStreamDataItem* item,
                                  kz_uint32* index)
{
    Items& v = GetStreamDataVector(type);
    const CKzStringW k = text(key);
    for (size_t i = 0; i < v.size(); ++i) {
        SKzStreamDataItem& e = v[i];
        if (e.wsKey != k) continue;
        if (description) e.wsDescription = description;
        if (caption) e.wsCaption = caption;
        if (unit) e.wsUnit = unit;
        if (item) *item = e;
        if (index) *index = (kz_uint32)i;
        return KZ_OK;
    }
    return KZ_ERR_NOT_FOUND;
}

int SKzStreamData::UpdateDataItemCount(ERecordedDataType type, kz_uint32 index, kz_uint64 offset, kz_uint32 length)
{
    Items& v = GetStreamDataVector(type);
    if (index >= v.size()) return KZ_ERR_INDEX;
    SKzStreamDataItem& e = v[index];
    const kz_uint64 end = offset > ~(kz_uint64)0 - length ? ~(kz_uint64)0 : offset + length;
    if (end > e.uiDataSize) e.uiDataSize = end;
    const kz_uint64 block = e.uiDataSize / BLOCK_UNITS;
    e.iSeqMaxIndex = block > (kz_uint64)kMaxBlock ? kMaxBlock : (kz_int32)block;
    return KZ_OK;
}

int SKzStreamData::SaveToVariant(CKzVariant& v) const
{
    const bool old = v.EnableTypeChange(true);
    int r = KZ_OK;
    try {
        for (const Kind& k : kPersisted) {
            const Items& items = const_cast<SKzStreamData*>(this)->GetStreamDataVector(k.type);
            CKzVariant list;
            list.SetName(CKzStringW(k.name));
            for (const SKzStreamDataItem& e : items) {
                CKzVariant node;
                node.EnableTypeChange(true);
                node.Append(CKzVariant(e.wsKey, CKzStringW(L"wsKey")));
                node.Append(CKzVariant(e.wsDescription, CKzStringW(L"wsDescription")));
                node.Append(CKzVariant(e.wsCaption, CKzStringW(L"wsCaption")));
                node.Append(CKzVariant(e.wsUnit, CKzStringW(L"wsUnit")));
                node.Append(CKzVariant((int)e.iSeqMaxIndex, CKzStringW(L"iSeqMaxIndex")));
                list.Append(node);
            }
            v.Append(list);
        }
    } catch (...) {
        r = KZ_ERR_OUT_OF_MEMORY;
    }
    v.EnableTypeChange(old);
    return r;
}

int SKzStreamData::LoadFromVariant(const CKzVariant& v)
{
    try {
        for (const Kind& k : kPersisted) {
            const CKzVariant& list = v[k.name];
            // A missing list, or a single value, leaves the catalogue's.
            const int n = list.GetCount();
            if (n < 0) continue;
            Items& items = GetStreamDataVector(k.type);
            items.resize((size_t)n);
            for (int i = 0; i < n; ++i) {
                const CKzVariant& node = list[i];
                if (node.IsUndefined()) continue;
                SKzStreamDataItem& e = items[(size_t)i];
                e.wsKey = textOf(node[L"wsKey"]);
                e.wsDescription = textOf(node[L"wsDescription"]);
                e.wsCaption = textOf(node[L"wsCaption"]);
                e.wsUnit = textOf(node[L"wsUnit"]);
                e.iSeqMaxIndex = kzexp::VarI32(node[L"iSeqMaxIndex"]);
            }
        }
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

int SKzStreamData::LoadFromInputFile(IKzInputImageFile* file)
{
    if (!file) return KZ_ERR_NOT_FOUND;
    try {
        CKzVariant v;
        v.EnableTypeChange(true);
        if (file->GetCustomDataVar(L"StreamDataV1_0", v) != KZ_OK) return KZ_ERR_NOT_FOUND;
        if (LoadFromVariant(v) != KZ_OK) return KZ_ERR_NOT_FOUND;
        const struct {
            Items* items;
            unsigned kind;
        } examined[] = {{&Vector_StreamAnalog, 6}, {&Vector_StreamDigital, 7}, {&Vector_Other, 10}, {&Vector_Analog, 8}};
        size_t remaining = 0;
        for (const auto& x : examined) {
            Items& items = *x.items;
            size_t at = 0;
            // j is the item's position in the loaded list, removed or not.
            for (unsigned j = 0; at < items.size(); ++j) {
                SKzStreamDataItem& e = items[at];
                CKzStringW name;
                name.Format(L"STREAM_%u_%u", x.kind, j);
                CKzByteArray block(1024);
                // A block number below 0, or a block too short to hold its
                // size, is a stream the file does not hold.
                const bool found = e.iSeqMaxIndex >= 0 &&
                                   file->GetCustomDataSeq(name.GetString(), (kz_uint32)e.iSeqMaxIndex, block) == KZ_OK &&
                                   block.GetSize() >= 4 && block.GetData();
                if (found) {
                    const unsigned char* p = block.GetData();
                    const kz_uint64 tail = (kz_uint64)p[0] | (kz_uint64)p[1] << 8 | (kz_uint64)p[2] << 16 |
                                           (kz_uint64)p[3] << 24;
                    e.uiDataSize = (kz_uint64)e.iSeqMaxIndex * BLOCK_UNITS + tail;
                    ++at;
                } else if (j == 0) {
                    items.clear();
                } else {
                    items.erase(items.begin() + (std::ptrdiff_t)at);
                }
            }
            remaining += items.size();
        }
        return remaining ? KZ_OK : KZ_ERR_NOT_FOUND;
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}
