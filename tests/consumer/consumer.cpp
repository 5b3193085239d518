#include "gnr_system/CKzAlloc.h"

#include <cstdio>

int main()
{
    void* p = CKzAlloc::Alloc(1, 16);
    const bool ok = p && static_cast<unsigned char*>(p)[15] == 0;
    CKzAlloc::Free(p);
    std::puts(ok ? "consumer ok" : "consumer failed");
    return ok ? 0 : 1;
}
