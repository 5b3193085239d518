#include "gnr_system/CKzAlloc.h"

#include <cstdlib>

void* CKzAlloc::Alloc(unsigned int flags, size_t size)
{
    if (size == 0) return nullptr;
    return (flags & 1u) ? std::calloc(1, size) : std::malloc(size);
}

void* CKzAlloc::ReAlloc(void* block, size_t size, unsigned int /*flags*/)
{
    if (!block) return size ? std::malloc(size) : nullptr;
    if (size == 0) {
        std::free(block);
        return nullptr;
    }
    return std::realloc(block, size);
}

void CKzAlloc::Free(void* block)
{
    std::free(block);
}

void CKzAlloc::FreeAndSetNull(void** pointer)
{
    if (!pointer || !*pointer) return;
    std::free(*pointer);
    *pointer = nullptr;
}
