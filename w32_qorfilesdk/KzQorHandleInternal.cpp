// Internals of the handle layer: the stage alignment a handle owns and the
// handle counter seen by tests.
#include "w32_qorfilesdk/internal/KzQorHandleInternal.h"

#include "w32_qorfilesdk/SKzQorFileHandle.h"
#include "w32_qorfilesdk/SKzStageAlignment.h"

void kzqor::DeleteStageAlignment(SKzStageAlignment*& alignment)
{
    delete alignment;
    alignment = nullptr;
}

u32 kzqor::GetHandleCounter()
{
    SKzCriticalSectionLock lock(g_sMapLock);
    return g_uiHandleCounter;
}

void kzqor::SetHandleCounter(u32 next)
{
    SKzCriticalSectionLock lock(g_sMapLock);
    g_uiHandleCounter = next;
}
