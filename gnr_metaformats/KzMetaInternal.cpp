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

} // namespace kzmeta
