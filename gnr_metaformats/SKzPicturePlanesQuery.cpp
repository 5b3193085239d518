// Questions about plane sets (likeness, spectral, QIRA and HDR
// acquisitions, transmitted-light channels, exposure, a layout hash),
// modality conversions and the display colour of every component.
#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_metaformats/KzPlaneSetOps.h"
#include "gnr_picture/SKzLutParam.h"

#include <zlib.h>

#include <cstring>

using namespace kzplanes;

namespace {

const kz_uint64 kDetectorGroup = 0x27E00000ull;
const kz_uint64 kLightGroup = 0x3ull;
const kz_uint32 kWhite = 0xFFFFFF;
// The spectral colours are computed into a scratch of this many components.
const unsigned kMaxSpectralComponents = 192;

} // namespace

bool SKzPicturePlanes::IsCompatible(SKzPicturePlanes& a, SKzPicturePlanes& b)
{
    if (a.uiCount != b.uiCount || PlaneCount(a) != PlaneCount(b)) return false;
    for (unsigned i = 0; i < PlaneCount(a); ++i)
        if (a.pPlanes[i].uiCompCount != b.pPlanes[i].uiCompCount) return false;
    return true;
}

bool SKzPicturePlanes::IsPlaneEqual(SKzPicturePlanes& a, unsigned i, SKzPicturePlanes& b, unsigned j)
{
    if (i >= PlaneCount(a) || j >= PlaneCount(b)) return false;
    if (!SKzPicturePlaneDesc::IsEqual(a.pPlanes[i], b.pPlanes[j])) return false;
    const SKzSampleSetting* sa = a.GetPlaneSettings(i);
    const SKzSampleSetting* sb = b.GetPlaneSettings(j);
    if (!sa || !sb) return !sa && !sb;
    if (sa->sOpticalConfigs.size() != sb->sOpticalConfigs.size()) return false;
    auto x = sa->sOpticalConfigs.begin();
    for (auto y = sb->sOpticalConfigs.begin(); y != sb->sOpticalConfigs.end(); ++x, ++y)
        if (x->first != y->first || !x->second.Equals(y->second)) return false;
    return true;
}

bool SKzPicturePlanes::IsEqual(SKzPicturePlanes& a, SKzPicturePlanes& b)
{
    const unsigned n = PlaneCount(a);
    if (n == 0 || a.uiCount != b.uiCount || n != PlaneCount(b)) return false;
    for (unsigned i = 0; i < n; ++i)
        if (!IsPlaneEqual(a, i, b, i)) return false;
    return true;
}

bool SKzPicturePlanes::IsHDR() const { return eRepresentation == 2; }

bool SKzPicturePlanes::IsQIRA() const
{
    const unsigned n = PlaneCount(*this);
    if (n < 2 || IsHDR()) return false;
    for (unsigned p = 0; p < n; ++p) {
        const SKzPicturePlaneDesc& d = pPlanes[p];
        const bool pass = ((d.uiModalityMask & 0x400000) && p < n / 2) || ((n & 1) && p == n / 2 && d.IsTD()) ||
                          (d.uiModalityMask & 0x800000);
        if (!pass) return false;
    }
    return true;
}

bool SKzPicturePlanes::IsSpectral() const
{
    if (IsHDR()) return false;
    bool spectral = false;
    for (unsigned p = 0; p < PlaneCount(*this); ++p) {
        if (pPlanes[p].IsSpectral())
            spectral = true;
        else if (!pPlanes[p].IsTD())
            return false;
    }
    return spectral;
}

unsigned SKzPicturePlanes::GetNonTransmittedPlanesCount(SKzPicturePlanes& s, const CKzRangeMask* m)
{
    unsigned n = 0;
    for (unsigned p = 0; p < PlaneCount(s); ++p)
        if (!(s.pPlanes[p].uiModalityMask & 0x2) && (!m || m->Get(p))) ++n;
    return n;
}

unsigned SKzPicturePlanes::GetNonTransmittedChannelCount(SKzPicturePlanes& s, const CKzRangeMask* m)
{
    if (PlaneCount(s) == 1 && s.pPlanes[0].uiCompCount == 3) return 3;
    return GetNonTransmittedPlanesCount(s, m);
}

double SKzPicturePlanes::GetExposureTime(const SKzPicturePlanes& s)
{
    double total = 0.0;
    for (unsigned k = 0; k < SampleCount(s); ++k)
        if (s.pSamples[k].dExposureTime > 0) total += s.pSamples[k].dExposureTime;
    return total;
}

int SKzPicturePlanes::GetHash(unsigned& h) const
{
    const unsigned n = PlaneCount(*this);
    if (n == 0) return KZ_OK;
    uLong crc = h;
    for (unsigned p = 0; p < n; ++p) {
        const SKzPicturePlaneDesc& d = pPlanes[p];
        unsigned char head[20];
        // The machine's byte order is little-endian, as the hash defines.
        std::memcpy(head, &d.uiCompCount, 4);
        std::memcpy(head + 4, &d.uiSampleIndex, 4);
        std::memcpy(head + 8, &d.uiModalityMask, 8);
        std::memcpy(head + 16, &d.uiColor, 4);
        crc = crc32(crc, head, sizeof head);
        const wchar_t* name = d.sDescription.GetString();
        const int len = d.sDescription.GetLength();
        unsigned char units[4 * 256];
        for (int k = 0; k < len;) {
            int m = 0;
            for (; m < 256 && k < len; ++m, ++k) {
                const kz_uint32 c = (kz_uint32)name[k];
                std::memcpy(units + 4 * m, &c, 4);
            }
            crc = crc32(crc, units, (uInt)(4 * m));
        }
    }
    h = (unsigned)crc;
    return KZ_OK;
}

int SKzPicturePlanes::GetPlaneColors(SKzPicturePlanes& s, unsigned* colours, CKzRangeMask* m, bool useColors,
                                     SKzLutParam* lut)
{
    if (!colours) return KZ_ERR_FAILED;
    const kz_uint64 entries = s.uiCompCount;  // the caller's array holds this many
    CKzRangeMask all;
    const CKzRangeMask* sel = m;
    if (!sel) {
        FullMask(s, all);
        sel = &all;
    }
    const unsigned selected = sel->GetCount();
    if (selected == s.uiCompCount) useColors = true;
    const bool spectral = s.IsSpectral();

    // A LUT's spectral data colours the components of a spectral set.
    SKzLutParam* view = spectral ? lut : nullptr;
    unsigned lutColours[kMaxSpectralComponents];
    unsigned lutCount = 0;
    int mode = 0;
    bool oneGroup = false;
    if (view) {
        SKzLutParam::SKzLUTDataSpectral& data = view->sLutDataSpectral;
        mode = (int)data.GetMode();
        const unsigned count = data.uiCompCount;
        if (count > 0 && count <= kMaxSpectralComponents) {
            data.GetCompColors(lutColours, false, false);
            lutCount = count;
        }
        if (mode == 1 || mode == 2) oneGroup = view->IsGroupMask(*sel, nullptr);
    }

    const bool fewSelected = !m || selected <= 1;
    kz_uint64 c = 0;
    for (unsigned p = 0; p < PlaneCount(s) && c < entries; ++p) {
        const SKzPicturePlaneDesc& d = s.pPlanes[p];
        const kz_uint64 start = c;
        c += d.uiCompCount;
        if (d.uiCompCount == 1) {
            kz_uint32 colour;
            if (fewSelected && !useColors) {
                colour = kWhite;
            } else if (spectral) {
                if (!view)
                    colour = useColors ? d.uiColor : kWhite;
                else if (mode == 3)
                    colour = kWhite;
                else if (mode == 1 || mode == 2)
                    colour = oneGroup && !useColors ? kWhite : (start < lutCount ? lutColours[start] : d.uiColor);
                else
                    colour = d.uiColor;
            } else {
                const bool on = start <= UINT_MAX && sel->Get((unsigned)start);
                colour = !on ? 0 : useColors ? d.uiColor : kWhite;
            }
            colours[start] = colour;
        } else if (d.uiCompCount == 3) {
            static const kz_uint32 bytes[3] = {0xFF0000, 0x00FF00, 0x0000FF};
            for (unsigned k = 0; k < 3 && start + k < entries; ++k) {
                const bool on = start + k <= UINT_MAX && sel->Get((unsigned)(start + k));
                colours[start + k] = !on ? 0 : useColors ? (d.uiColor & bytes[k]) : kWhite;
            }
        }
    }
    return KZ_OK;
}

int SKzPicturePlanes::ConvertToSpectral()
{
    for (unsigned p = 0; p < PlaneCount(*this); ++p) {
        SKzPicturePlaneDesc& d = pPlanes[p];
        if (d.uiModalityMask & 0x200000) continue;
        if (d.uiModalityMask & 0x2) {
            if (d.uiCompCount == 1) continue;
            return KZ_ERR_FAILED;
        }
        d.uiModalityMask = (d.uiModalityMask & ~kDetectorGroup) | 0x200000;
    }
    eRepresentation = 0;
    return KZ_OK;
}

int SKzPicturePlanes::ConvertToNonSpectral()
{
    if (IsHDR()) return KZ_ERR_FAILED;
    for (unsigned p = 0; p < PlaneCount(*this); ++p) pPlanes[p].uiModalityMask &= ~0x200000ull;
    return KZ_OK;
}

int SKzPicturePlanes::ConvertToQIRA()
{
    const unsigned n = PlaneCount(*this);
    if (n < 2) return KZ_ERR_FAILED;
    for (unsigned p = 0; p < n; ++p) {
        kz_uint64& mask = pPlanes[p].uiModalityMask;
        if (p < n / 2)
            mask = (mask & ~(kDetectorGroup | kLightGroup)) | 0x400000 | 0x1;
        else if ((n & 1) && p == n / 2)
            mask = (mask & ~kLightGroup) | 0x2;
        else
            mask = (mask & ~(kDetectorGroup | kLightGroup)) | 0x800000 | 0x1;
    }
    eRepresentation = 0;
    return KZ_OK;
}

int SKzPicturePlanes::ConvertToNonQIRA()
{
    if (IsHDR()) return KZ_ERR_FAILED;
    for (unsigned p = 0; p < PlaneCount(*this); ++p) pPlanes[p].uiModalityMask &= ~0xC00000ull;
    return KZ_OK;
}

int SKzPicturePlanes::ConvertToHDR()
{
    eRepresentation = 2;
    return KZ_OK;
}
