// The exported screen-blend table. Its bytes are computed at compile time and
// placed in read-only data, so hosts may read it (and call the kernels) from
// their own static constructors. This file defines the object under its C name
// with a structure type; every other file sees it as the byte array that the
// public header declares (same symbol, same 65,536 bytes).
#include "gnr_system/kz_base.h"

namespace {

struct alignas(64) KzScreenMapBytes {
    unsigned char v[65536];
    constexpr KzScreenMapBytes() : v{}
    {
        for (unsigned a = 0; a < 256; ++a)
            for (unsigned b = 0; b < 256; ++b)
                v[a * 256 + b] = static_cast<unsigned char>(a + b - a * b / 255);
    }
};

}  // namespace

extern "C" KZ_EXPORT constinit const KzScreenMapBytes g_pMap{};
