// Helpers shared by the reading functions of the exported C interface.
#pragma once

#include <cstddef>
#include <new>

struct SKzQorFileHandle;

namespace kzqorread {

// Runs f and returns its result; an exception (which must never reach a
// host) becomes `onThrow`.
template <class R, class F>
R Guard(R onThrow, F&& f) noexcept
{
    try {
        return f();
    } catch (...) {
        return onThrow;
    }
}

// The filed record of a read handle, null for an unknown number or a handle
// without reader.
SKzQorFileHandle* ReadHandle(int handle);

// At most capacity - 1 characters of src (null: none) and a terminator.
void CopyBounded(wchar_t* dst, const wchar_t* src, size_t capacity);

} // namespace kzqorread
