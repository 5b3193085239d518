// Library-internal helpers of the LUT parameter classes: full values of a
// depth, rescaling between depths and the walk over the unnamed levels of a
// lite-variant level.
#pragma once

#include "gnr_picture/KzKernelCommon.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/kz_base.h"

#include <algorithm>

namespace kzlutparam {

// 2^bits - 1 in 64 bits, saturated to the 32-bit range.
inline u32 FullValue(unsigned bits) { return bits >= 32 ? 0xFFFFFFFFu : u32((u64(1) << bits) - 1); }

// trunc(x + 0.5), clamped to the unsigned 32-bit range.
inline u32 RoundU32(double x) { return u32(std::clamp<i64>(KzTruncToInt64(x + 0.5), 0, i64(UINT32_MAX))); }

// v of depth `from` in depth `to`: trunc(v * (2^to - 1) / (2^from - 1) + 0.5).
inline u32 Rescale(u32 v, unsigned from, unsigned to)
{
    const u32 a = FullValue(from);
    if (a == 0) return FullValue(to);
    return RoundU32(double(v) * double(FullValue(to)) / double(a));
}

// Calls f(index) for every unnamed level among the children of the entered
// level, in stored order, with that level entered; index counts the unnamed
// levels from 0. Stops when f returns false.
template <class F>
void ForEachUnnamedLevel(CKzLiteVariantR& r, F f)
{
    r.FirstValue();
    unsigned index = 0;
    while (r.IsNextValue()) {
        const int type = r.GetCurrentType();
        if (type == eKzLVLevel || type == eKzLVLevelAbsolute) {
            wchar_t name[2] = {1, 0};
            if (r.GetCurrentName(name, 1) == KZ_OK && name[0] == 0) {
                bool go = true;
                if (r.CurrentLevelBegin() == KZ_OK) {
                    go = f(index);
                    r.LevelEnd();
                }
                ++index;
                if (!go) return;
            }
        }
        if (r.NextValue() != KZ_OK) return;
    }
}

} // namespace kzlutparam
