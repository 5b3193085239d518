// Helpers the variant tests share: run-type names and lists built inline.
#pragma once

#include "gnr_system/CKzVariant.h"
#include "text_test_support.h"

#include <initializer_list>
#include <string>

namespace kztest {

inline std::string RT(const CKzVariant& v) { return v.GetRunType().GetNameA(); }

inline CKzVariant List(const wchar_t* name, std::initializer_list<CKzVariant> children)
{
    CKzVariant l(CKzListVariant(), name);
    for (const CKzVariant& c : children) l.Append(c);
    return l;
}

}  // namespace kztest
