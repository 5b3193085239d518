// Replaces the global operator new and delete of a test program (the forms
// without an alignment) by ones that take their blocks from TestNewBlock, so
// that the program can make them fail. A program replaces them only once:
// include this in exactly one of its source files, which also defines
// TestNewBlock.
#pragma once

#include <cstdlib>
#include <new>

// The block for an operator new of n bytes (n may be 0), one std::free can
// release; null makes that operator new fail (std::bad_alloc, or null from the
// nothrow forms).
void* TestNewBlock(std::size_t n);

void* operator new(std::size_t n)
{
    if (void* p = TestNewBlock(n))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return TestNewBlock(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return TestNewBlock(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
