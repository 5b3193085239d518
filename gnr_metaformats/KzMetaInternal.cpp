#include "gnr_metaformats/KzMetaInternal.h"

#include <cstring>

namespace kzmeta {

void BeginStruct(CKzVariant& node, const char* runType)
{
    const bool previous = node.IsEnabledTypeChange();
    node.EnableTypeChange(true);
    node.MakeNull();
    node.SetRunType(CKzVariantRunType(runType));
    node.EnableTypeChange(previous);
}

bool IsRunType(const CKzVariant& node, const char* runType)
{
    return std::strcmp(node.GetRunType().GetNameA(), runType) == 0;
}

CKzVariant& ListMember(CKzVariant& node, const wchar_t* name)
{
    CKzVariant& m = node[name];
    m = CKzListVariant();
    return m;
}

CKzVariant& AppendChild(CKzVariant& list, const wchar_t* name)
{
    CKzVariant& c = list.Append(CKzVariant());
    if (name) c.SetName(CKzStringW(name));
    return c;
}

unsigned CountRecords(CKzLiteVariantR& r)
{
    unsigned n = 0;
    r.FirstValue();
    while (r.IsNextValue()) {
        if (r.NextValue() != KZ_OK) break;
        ++n;
    }
    r.FirstValue();
    return n;
}

void Failure(int line)
{
    KZ_PrintFailure("gnr_metaformats/OpticalFilters", line);
}

void MetaFailure(int line)
{
    KZ_PrintFailure("gnr_metaformats/PictureMetadata", line);
}

bool EnterChild(CKzLiteVariantR& r, const wchar_t* name, unsigned index)
{
    if (r.LevelBegin(name) == KZ_OK) return true;
    r.FirstValue();
    for (unsigned k = 0; k < index; ++k) {
        if (!r.IsNextValue() || r.NextValue() != KZ_OK) return false;
    }
    if (!r.IsNextValue()) return false;
    return r.CurrentLevelBegin() == KZ_OK;
}

const CKzVariant* ChildOf(const CKzVariant& list, const wchar_t* name, unsigned index)
{
    if (const CKzVariant* c = list.SearchFixedOneLevel(name)) return c;
    if (index > 0x7FFFFFFFu) return nullptr;
    return list.IndexPtr(static_cast<int>(index));
}

} // namespace kzmeta
