// Helpers the experiment-model tests share: lite blobs written into a level
// and read back, XML round trips of variant nodes.
#pragma once

#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzVariant.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace exptest {

using Bytes = std::vector<unsigned char>;

// Bytes of a blob whose root level "root" holds what write() stores.
template <class F>
Bytes LiteBlob(F write)
{
    CKzLiteVariantW w;
    EXPECT_EQ(0, w.LevelBegin(L"root"));
    write(w);
    EXPECT_EQ(0, w.LevelEnd());
    CKzLiteVariantR r;
    w.Finalize(r);
    return Bytes(r.GetData(), r.GetData() + r.GetSize());
}

// A reader over the bytes with the root level "root" entered.
inline void OpenRoot(CKzLiteVariantR& r, const Bytes& b)
{
    r.Clear();
    if (!b.empty()) r.SetData(b.data(), b.size(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    r.Reset();
    ASSERT_EQ(0, r.LevelBegin(L"root"));
}

// The node written to an XML document and parsed back.
inline CKzVariant ThroughXML(const CKzVariant& v)
{
    CKzStringW text;
    EXPECT_EQ(0, CKzSerializerXMLString::VariantToDocument(text, v));
    CKzVariant out;
    out.EnableTypeChange(true);
    EXPECT_EQ(0, CKzSerializerXMLString::VariantFromXML(out, text));
    return out;
}

// Names of the direct children of a node, in order.
inline std::vector<std::wstring> ChildNames(const CKzVariant& v)
{
    std::vector<std::wstring> names;
    for (int i = 0; i < v.GetCount(); ++i) names.push_back(v[i].GetName().GetString());
    return names;
}

inline std::string RT(const CKzVariant& v) { return v.GetRunType().GetNameA(); }

// Names of the records of the entered level, in stored order; the cursor
// returns to the level's first record.
inline std::vector<std::wstring> RecordNames(CKzLiteVariantR& r)
{
    std::vector<std::wstring> names;
    r.FirstValue();
    while (r.IsNextValue()) {
        wchar_t name[300];
        r.GetCurrentName(name, 255);
        names.push_back(name);
        if (r.NextValue() != 0) break;
    }
    r.FirstValue();
    return names;
}

} // namespace exptest
