// Helpers shared by the reading functions of the exported C interface.
#pragma once

#include <cstddef>
#include <new>

#include "gnr_system/kz_base.h"

struct SKzQorFileHandle;

namespace kzqorread {

// Runs f and returns its result; an exception (which must never reach a
// host) becomes `onThrow`. For functions whose only failure value is one
// number: handle-creating (0), counting and indexing ones.
template <class R, class F>
R Guard(R onThrow, F&& f) noexcept
{
    try {
        return f();
    } catch (...) {
        return onThrow;
    }
}

// Runs f, a function returning a result code: memory that could not be had
// (std::bad_alloc from `new` or a standard container) becomes -3, any other
// exception -1.
template <class F>
int GuardCode(F&& f) noexcept
{
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    } catch (...) {
        return KZ_FAIL;
    }
}

// The filed record of a read handle, null for an unknown number or a handle
// without reader.
SKzQorFileHandle* ReadHandle(int handle);

// At most capacity - 1 characters of src (null: none) and a terminator.
void CopyBounded(wchar_t* dst, const wchar_t* src, size_t capacity);

} // namespace kzqorread
