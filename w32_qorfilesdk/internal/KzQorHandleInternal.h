// Internals of the handle layer shared by its source files and its tests.
#pragma once

#include "gnr_system/kz_base.h"

struct SKzQorFileHandle;
struct SKzStageAlignment;

namespace kzqor {

struct HandleGate;

// Holds a handle for the length of one call on it. Calls on one handle run
// one at a time (a host may use a handle from several threads: the record
// and its reader or writer keep state between calls), and a close waits
// until the call running on the handle has ended; a call that starts after
// the close finds the number unknown. A number that names no handle holds
// nothing (the call's own lookup then fails as for any unknown number).
// Taken before the table lock, never while it is held; a call on the same
// thread may take its handle again.
class HandleUse {
public:
    explicit HandleUse(int handle);
    ~HandleUse();
    HandleUse(const HandleUse&) = delete;
    HandleUse& operator=(const HandleUse&) = delete;

private:
    HandleGate* m_pGate;
};

// Exchanges every member of two records.
void SwapRecords(SKzQorFileHandle& a, SKzQorFileHandle& b);
// Deletes a handle's stage alignment and nulls the pointer.
void DeleteStageAlignment(SKzStageAlignment*& alignment);
// The next handle number (tests of the number range only).
u32 GetHandleCounter();
void SetHandleCounter(u32 next);

}  // namespace kzqor
