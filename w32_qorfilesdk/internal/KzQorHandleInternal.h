// Internals of the handle layer shared by its source files and its tests.
#pragma once

#include "gnr_system/kz_base.h"

struct SKzQorFileHandle;
struct SKzStageAlignment;

namespace kzqor {

// Exchanges every member of two records.
void SwapRecords(SKzQorFileHandle& a, SKzQorFileHandle& b);
// Deletes a handle's stage alignment and nulls the pointer.
void DeleteStageAlignment(SKzStageAlignment*& alignment);
// The next handle number (tests of the number range only).
u32 GetHandleCounter();
void SetHandleCounter(u32 next);

}  // namespace kzqor
