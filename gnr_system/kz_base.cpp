#include "gnr_system/kz_base.h"

#include <cstdio>

void KZ_PrintFailure(const char* file, int line)
{
    std::printf("\nFailure! File: %s, line: %d\n", file ? file : "", line);
    std::fflush(stdout);
}
