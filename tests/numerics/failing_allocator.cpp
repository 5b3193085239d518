// Wrapped malloc family and pthread_create and replaced operator new of the
// allocation-failure sweeps (see failing_allocator.h).
#include "failing_allocator.h"
#include "replaced_operator_new.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

extern "C" {
void* __real_malloc(size_t);
void* __real_calloc(size_t, size_t);
void* __real_realloc(void*, size_t);
void* __real_aligned_alloc(size_t, size_t);
int __real_posix_memalign(void**, size_t, size_t);
void __real_free(void*);
int __real_pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
}

namespace {
std::atomic<bool> g_armed{false};
std::atomic<long> g_failAt{0};
std::atomic<long> g_events{0};
std::atomic<long> g_live{0};
std::atomic<bool> g_failed{false};

// true when this event is the one to fail.
bool Event()
{
    if (!g_armed.load(std::memory_order_acquire))
        return false;
    const long e = g_events.fetch_add(1, std::memory_order_relaxed) + 1;
    if (e == g_failAt.load(std::memory_order_relaxed)) {
        g_failed.store(true, std::memory_order_relaxed);
        return true;
    }
    return false;
}

void* Counted(void* p)
{
    if (p != nullptr && g_armed.load(std::memory_order_acquire))
        g_live.fetch_add(1, std::memory_order_relaxed);
    return p;
}
}  // namespace

namespace failalloc {
void Arm(long n)
{
    g_events.store(0);
    g_live.store(0);
    g_failed.store(false);
    g_failAt.store(n);
    g_armed.store(true, std::memory_order_release);
}
Tally Disarm()
{
    g_armed.store(false, std::memory_order_release);
    Tally t;
    t.events = g_events.load();
    t.failed = g_failed.load();
    t.live = g_live.load();
    return t;
}
}  // namespace failalloc

extern "C" {
void* __wrap_malloc(size_t n)
{
    return Event() ? nullptr : Counted(__real_malloc(n));
}
void* __wrap_calloc(size_t n, size_t size)
{
    return Event() ? nullptr : Counted(__real_calloc(n, size));
}
void* __wrap_realloc(void* p, size_t n)
{
    if (Event())
        return nullptr;
    void* q = __real_realloc(p, n);
    return p == nullptr ? Counted(q) : q;
}
void* __wrap_aligned_alloc(size_t alignment, size_t n)
{
    return Event() ? nullptr : Counted(__real_aligned_alloc(alignment, n));
}
int __wrap_posix_memalign(void** out, size_t alignment, size_t n)
{
    if (Event())
        return ENOMEM;
    const int r = __real_posix_memalign(out, alignment, n);
    if (r == 0)
        Counted(*out);
    return r;
}
void __wrap_free(void* p)
{
    if (p != nullptr && g_armed.load(std::memory_order_acquire))
        g_live.fetch_sub(1, std::memory_order_relaxed);
    __real_free(p);
}
int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*entry)(void*), void* arg)
{
    return Event() ? EAGAIN : __real_pthread_create(thread, attr, entry, arg);
}
}

// operator new (replaced_operator_new.h) and its aligned forms below go
// through the wrapped malloc family, so they fail and count with it.
void* TestNewBlock(size_t n)
{
    return std::malloc(n == 0 ? 1 : n);
}
void* operator new(size_t n, std::align_val_t a)
{
    const size_t al = size_t(a);
    void* p = std::aligned_alloc(al, (n + al - 1) / al * al);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}
void* operator new[](size_t n, std::align_val_t a)
{
    return operator new(n, a);
}
void* operator new(size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    const size_t al = size_t(a);
    return std::aligned_alloc(al, (n + al - 1) / al * al);
}
void* operator new[](size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return operator new(n, a, std::nothrow);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept
{
    std::free(p);
}
