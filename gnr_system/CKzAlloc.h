// Thin allocation layer over the process heap. Blocks are ordinary heap
// blocks: memory from here may be released with free() and the other way round.
#pragma once

#include "gnr_system/kz_base.h"

class KZ_EXPORT CKzAlloc {
public:
    // New block of `size` bytes (bit 0 of flags: zero-filled); null for size 0 or when the heap is exhausted.
    static void* Alloc(unsigned int flags, size_t size);
    // Resize keeping the contents; growth is never zero-filled. Null block allocates,
    // size 0 frees. On failure returns null and the old block stays valid.
    static void* ReAlloc(void* block, size_t size, unsigned int flags);
    static void Free(void* block);
    static void FreeAndSetNull(void** pointer);
};
