#include "gnr_picture/KzProcessorCount.h"

#include "gnr_picture/KzProcessorCountInternal.h"

#include <sched.h>
#include <unistd.h>

#include <atomic>

namespace {
std::atomic<int> g_override{0};
}

void kzthreads::SetProcessorCountOverride(int n)
{
    g_override.store(n > 0 ? n : 0, std::memory_order_relaxed);
}

int KZ_GetProcessorCount()
{
    const int forced = g_override.load(std::memory_order_relaxed);
    if (forced > 0)
        return forced;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0)
            return n;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? int(online) : 1;
}
