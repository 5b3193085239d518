// Helpers the metadata records share for their two stored forms. Internal to
// the library: nothing here is exported.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzVariant.h"
#include "gnr_system/CKzLiteVariant.h"

namespace kzmeta {

// Turns node into a fresh structure of the given run type, whatever it held
// before, so that a saver assigning its members by name produces the same
// children in the same order on every call. The node's type-change flag is
// enabled only for the call.
void BeginStruct(CKzVariant& node, const char* runType);

// True when node carries exactly that run type.
bool IsRunType(const CKzVariant& node, const char* runType);

// The member `name` of a structure node, made an empty plain list.
CKzVariant& ListMember(CKzVariant& node, const wchar_t* name);

// Appends an unnamed (or named) child to a plain list and returns it.
CKzVariant& AppendChild(CKzVariant& list, const wchar_t* name = nullptr);

// Number of records actually present in the reader's current level (not the
// count its header claims). The cursor ends at the level's first record.
unsigned CountRecords(CKzLiteVariantR& r);

// Prints the failure line of an optical record that could not be saved or loaded.
void Failure(int line);
// The same for the picture metadata records.
void MetaFailure(int line);

// Enters the child level named `name` of the current level, else the child
// at position `index`; false when neither can be entered.
bool EnterChild(CKzLiteVariantR& r, const wchar_t* name, unsigned index);

// The child of a list node named `name`, else child `index`; null when none.
const CKzVariant* ChildOf(const CKzVariant& list, const wchar_t* name, unsigned index);

} // namespace kzmeta
