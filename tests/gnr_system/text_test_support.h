// Small helpers the base-library tests share: library strings as std strings,
// so expectations compare (and print) whole texts.
#pragma once

#include "gnr_system/CKzString.h"

#include <string>

namespace kztest {

inline std::wstring W(const CKzStringW& s) { return std::wstring(s.GetString(), static_cast<size_t>(s.GetLength())); }
inline std::string A(const CKzStringA& s) { return std::string(s.GetString(), static_cast<size_t>(s.GetLength())); }

}  // namespace kztest
