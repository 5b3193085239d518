// Spectra are embedded in filters and probes that hosts compile against, so
// their layout is a binary interface: a point is {type, wavelength, value};
// a spectrum is its table pointer, then the count, the points and the
// measured-points flag. The spectrum has a virtual destructor and so no
// offsetof; its bytes are read where each member must lie.
#include "gnr_metaformats/CKzOpticalFilterSpectrum.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace {

static_assert(std::is_standard_layout_v<SKzOFSpectrumPoint>);
static_assert(offsetof(SKzOFSpectrumPoint, eType) == 0);
static_assert(offsetof(SKzOFSpectrumPoint, dWavelength) == 8);
static_assert(offsetof(SKzOFSpectrumPoint, dTValue) == 16);
static_assert(sizeof(SKzOFSpectrumPoint) == 24);
static_assert(sizeof(CKzOpticalFilterSpectrum) == 32);

template <class T>
T At(const CKzOpticalFilterSpectrum& s, size_t offset)
{
    T v;
    std::memcpy(&v, reinterpret_cast<const unsigned char*>(&s) + offset, sizeof v);
    return v;
}

TEST(SpectrumLayout, CountPointsThenFlag)
{
    struct Case {
        const char* name;
        CKzOpticalFilterSpectrum spectrum;
        unsigned count;
        bool measured;
    };
    double w[3] = {500, 510, 520}, v[3] = {1, 2, 3};
    Case cases[] = {
        {"empty", CKzOpticalFilterSpectrum(), 0, false},
        {"three measured points", CKzOpticalFilterSpectrum(w, v, 3), 3, true},
        {"one band start", CKzOpticalFilterSpectrum(488.0, SKzOFSpectrumPoint::eOFPointBandStart), 1, false},
        {"five zeroed points", CKzOpticalFilterSpectrum(5u), 5, false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CKzOpticalFilterSpectrum& s = c.spectrum;
        ASSERT_EQ(c.count, s.GetCount());
        ASSERT_EQ(c.measured, s.bPoints);
        EXPECT_NE(nullptr, At<void*>(s, 0));   // the table pointer
        EXPECT_EQ(c.count, At<unsigned>(s, 8));
        const auto* points = At<const SKzOFSpectrumPoint*>(s, 16);
        if (c.count == 0) {
            EXPECT_EQ(nullptr, points);
        } else {
            EXPECT_EQ(s.GetPoint(0), points);
            EXPECT_EQ(s.GetPoint(c.count - 1), points + (c.count - 1));
        }
        EXPECT_EQ(c.measured, At<bool>(s, 24));
        // The flag written through the member shows at its place.
        c.spectrum.bPoints = !c.measured;
        EXPECT_EQ(!c.measured, At<bool>(s, 24));
        EXPECT_EQ(c.count, At<unsigned>(s, 8));
    }
}

// A point's three members where the stored points lie.
TEST(SpectrumLayout, PointMembersInTheArray)
{
    CKzOpticalFilterSpectrum s;
    SKzOFSpectrumPoint p{SKzOFSpectrumPoint::eOFPointBandEnd, 532.5, 7.25};
    ASSERT_EQ(0, s.AddPoint(p));
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(At<const SKzOFSpectrumPoint*>(s, 16));
    ASSERT_NE(nullptr, raw);
    unsigned type;
    double wavelength, value;
    std::memcpy(&type, raw, 4);
    std::memcpy(&wavelength, raw + 8, 8);
    std::memcpy(&value, raw + 16, 8);
    EXPECT_EQ(3u, type);
    EXPECT_EQ(532.5, wavelength);
    EXPECT_EQ(7.25, value);
}

} // namespace
