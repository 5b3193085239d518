// Picture-level calls hand the dispatch a 32-bit pixel count; a picture of
// more than 2^32 - 1 pixels is passed as bands of whole rows that fit.
#pragma once

#include "gnr_system/kz_base.h"

// Calls f(firstRow, rows) for bands of rows whose pixel count fits 32 bits;
// stops at the first non-zero result and returns it. A width or height of 0
// makes one call with 0 rows.
template <class F>
inline kz_result KzForRowBands(u32 width, u32 height, F&& f)
{
    if (width == 0 || height == 0)
        return f(u32(0), u32(0));
    const u32 per = u32(0xFFFFFFFFu / width);
    for (u32 r = 0; r < height;) {
        const u32 n = height - r < per ? height - r : per;
        const kz_result res = f(r, n);
        if (res != KZ_OK)
            return res;
        r += n;
    }
    return KZ_OK;
}
