// Helpers of the float picture tests.
#pragma once

#include "gnr_picture/SKzFloatPicBuf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace floatpic_test {

inline constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
inline constexpr float kInf = std::numeric_limits<float>::infinity();
inline constexpr float kMarker = -3.4028235e38f;

// A float picture that frees itself.
struct FPic {
    SKzFloatPicBuf p;
    FPic() { CKzFloatPicBufAPI::Init(&p); }
    FPic(unsigned w, unsigned h, unsigned comps, unsigned stride = 0) : FPic()
    {
        EXPECT_EQ(CKzFloatPicBufAPI::Reinit(&p, w, h, stride, comps, true), 0);
    }
    ~FPic() { CKzFloatPicBufAPI::Free(&p); }
    FPic(const FPic&) = delete;
    FPic& operator=(const FPic&) = delete;
    SKzFloatPicBuf* operator->() { return &p; }
    SKzFloatPicBuf* get() { return &p; }
    float& at(unsigned x, unsigned y, unsigned k = 0)
    {
        return reinterpret_cast<float*>(reinterpret_cast<unsigned char*>(p.pData) + size_t(y) * p.uiWidthBytes)
            [size_t(x) * p.uiComp + k];
    }
    void fill(const float* v)
    {
        for (unsigned y = 0; y < p.uiHeight; ++y)
            for (unsigned x = 0; x < p.uiWidth; ++x)
                for (unsigned k = 0; k < p.uiComp; ++k)
                    at(x, y, k) = v[(size_t(y) * p.uiWidth + x) * p.uiComp + k];
    }
};

// An integer picture that frees itself.
struct IPic {
    SKzPicBuf p;
    IPic() { CKzPicBufAPI::Init(&p); }
    IPic(unsigned w, unsigned h, unsigned bits, unsigned comps) : IPic()
    {
        EXPECT_EQ(CKzPicBufAPI::Reinit(&p, w, h, 0, bits, comps, true), 0);
    }
    ~IPic() { CKzPicBufAPI::Free(&p); }
    IPic(const IPic&) = delete;
    IPic& operator=(const IPic&) = delete;
    SKzPicBuf* get() { return &p; }
    template <class T>
    T& at(unsigned x, unsigned y, unsigned k = 0)
    {
        return reinterpret_cast<T*>(p.pData + size_t(y) * p.uiWidthBytes)[size_t(x) * p.uiComp + k];
    }
};

// Same float, NaN equal to NaN.
inline bool SameFloat(float a, float b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

} // namespace floatpic_test
