// Helpers the metadata tests share: both stored forms driven through their
// real text or byte form, and field-by-field comparisons of the records.
#pragma once

#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzVariant.h"
#include "gnr_metaformats/CKzFluorescentProbe.h"
#include "gnr_metaformats/CKzOpticalFilter.h"
#include "gnr_metaformats/SKzCameraSetting.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

namespace kzmt {

// Numbers and texts in the C locale whatever the host set.
inline void PinLocale()
{
    setlocale(LC_NUMERIC, "C");
    setlocale(LC_CTYPE, "C");
}

inline std::wstring W(const CKzStringW& s) { return std::wstring(s.GetString(), (size_t)s.GetLength()); }

using LiteSave = std::function<void(CKzLiteVariantW&)>;

// A blob whose root is one level `name` filled by save.
inline void LiteBlob(CKzLiteVariantR& r, const wchar_t* name, const LiteSave& save)
{
    CKzLiteVariantW w;
    w.LevelBegin(name);
    save(w);
    w.LevelEnd();
    w.Finalize(r);
}

// The tag text of such a blob.
inline std::wstring LiteTag(const wchar_t* name, const LiteSave& save)
{
    CKzLiteVariantR r;
    LiteBlob(r, name, save);
    CKzStringW t;
    r.LiteVariantToXML(t);
    return W(t);
}

// Saves into a root level, then enters it again for load.
template <class Load>
void LiteRoundTrip(const LiteSave& save, Load load)
{
    CKzLiteVariantR r;
    LiteBlob(r, L"R", save);
    ASSERT_EQ(0, r.LevelBegin(L"R"));
    load(r);
    r.LevelEnd();
}

// The UTF-8 XML element of a node.
inline std::string Xml(const CKzVariant& v)
{
    CKzStringA s;
    CKzSerializerXMLString::VariantToXML_UTF8(s, v);
    return std::string(s.GetString(), (size_t)s.GetLength());
}

// A node through its whole XML document and back.
inline CKzVariant ThroughXml(const CKzVariant& v)
{
    CKzStringA doc;
    CKzSerializerXMLString::VariantToDocument_UTF8(doc, v);
    CKzVariant back;
    EXPECT_EQ(0, CKzSerializerXMLString::VariantFromXML_UTF8(back, doc));
    return back;
}

inline bool SameDouble(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

inline ::testing::AssertionResult SameSpectrum(const CKzOpticalFilterSpectrum& a, const CKzOpticalFilterSpectrum& b)
{
    if (a.GetCount() != b.GetCount())
        return ::testing::AssertionFailure() << "count " << a.GetCount() << " vs " << b.GetCount();
    if (a.bPoints != b.bPoints) return ::testing::AssertionFailure() << "bPoints differ";
    for (unsigned i = 0; i < a.GetCount(); ++i) {
        const SKzOFSpectrumPoint &p = *a.GetPoint(i), &q = *b.GetPoint(i);
        if (p.eType != q.eType || !SameDouble(p.dWavelength, q.dWavelength) || !SameDouble(p.dTValue, q.dTValue))
            return ::testing::AssertionFailure() << "point " << i << ": " << p.eType << "/" << p.dWavelength << "/"
                                                 << p.dTValue << " vs " << q.eType << "/" << q.dWavelength << "/"
                                                 << q.dTValue;
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult SameFilter(const CKzOpticalFilter& a, const CKzOpticalFilter& b)
{
    if (W(a.m_sName) != W(b.m_sName) || W(a.m_sUserName) != W(b.m_sUserName))
        return ::testing::AssertionFailure() << "names differ";
    if (a.m_ePlacement != b.m_ePlacement || a.m_eNature != b.m_eNature || a.m_eSpctType != b.m_eSpctType ||
        a.m_uiColor != b.m_uiColor)
        return ::testing::AssertionFailure() << "numbers differ";
    if (auto r = SameSpectrum(a.m_ExcitationSpectrum, b.m_ExcitationSpectrum); !r) return r << " (excitation)";
    if (auto r = SameSpectrum(a.m_EmissionSpectrum, b.m_EmissionSpectrum); !r) return r << " (emission)";
    if (auto r = SameSpectrum(a.m_MirrorSpectrum, b.m_MirrorSpectrum); !r) return r << " (mirror)";
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult SamePath(const CKzOpticalFilterPath& a, const CKzOpticalFilterPath& b)
{
    if (W(a.m_sDescr) != W(b.m_sDescr)) return ::testing::AssertionFailure() << "descriptions differ";
    if (a.GetCount() != b.GetCount())
        return ::testing::AssertionFailure() << "count " << a.GetCount() << " vs " << b.GetCount();
    for (unsigned i = 0; i < a.GetCount(); ++i)
        if (auto r = SameFilter(*a[i], *b[i]); !r) return r << " (filter " << i << ")";
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult SameProbe(const CKzFluorescentProbe& a, const CKzFluorescentProbe& b)
{
    if (W(a.m_sName) != W(b.m_sName) || a.m_uiColor != b.m_uiColor)
        return ::testing::AssertionFailure() << "name or colour differ";
    if (auto r = SameSpectrum(a.m_ExcitationSpectrum, b.m_ExcitationSpectrum); !r) return r << " (excitation)";
    if (auto r = SameSpectrum(a.m_EmissionSpectrum, b.m_EmissionSpectrum); !r) return r << " (emission)";
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult SameCamera(const SKzCameraSetting& a, const SKzCameraSetting& b)
{
#define KZMT_F(f)                                                                                                      \
    if (!(a.f == b.f)) return ::testing::AssertionFailure() << #f " differs";
    if (W(a.sCameraName) != W(b.sCameraName) || W(a.sCameraFormatName) != W(b.sCameraFormatName) ||
        W(a.sSpecSettings) != W(b.sSpecSettings))
        return ::testing::AssertionFailure() << "texts differ";
    KZMT_F(dExposure) KZMT_F(iOffset) KZMT_F(dGain) KZMT_F(dGamma)
    KZMT_F(dExposureRed) KZMT_F(iOffsetRed) KZMT_F(dGainRed) KZMT_F(dGammaRed)
    KZMT_F(dExposureGreen) KZMT_F(iOffsetGreen) KZMT_F(dGainGreen) KZMT_F(dGammaGreen)
    KZMT_F(dExposureBlue) KZMT_F(iOffsetBlue) KZMT_F(dGainBlue) KZMT_F(dGammaBlue)
    KZMT_F(dCamChipSizeX) KZMT_F(dCamChipSizeY) KZMT_F(uiCamPxlCountX) KZMT_F(uiCamPxlCountY)
    KZMT_F(dCamBinningX) KZMT_F(dCamBinningY) KZMT_F(rcCamChipSrc.left) KZMT_F(rcCamChipSrc.top)
    KZMT_F(rcCamChipSrc.right) KZMT_F(rcCamChipSrc.bottom) KZMT_F(bFlippedUpDown) KZMT_F(bFlippedLeftRight)
#undef KZMT_F
    return ::testing::AssertionSuccess();
}

// Spectra built inline: {type, wavelength, value} triples.
struct P {
    unsigned t;
    double w, v;
};

inline CKzOpticalFilterSpectrum Spec(std::initializer_list<P> pts)
{
    CKzOpticalFilterSpectrum s;
    for (const P& p : pts) {
        SKzOFSpectrumPoint q;
        q.eType = (SKzOFSpectrumPoint::EKzOFSpectrumPointType)p.t;
        q.dWavelength = p.w;
        q.dTValue = p.v;
        EXPECT_EQ(0, s.AddPoint(q));
    }
    return s;
}

inline CKzOpticalFilterSpectrum Band(double s, double e) { return Spec({{2, s, 1}, {3, e, 1}}); }
inline CKzOpticalFilterSpectrum Line(double w) { return Spec({{4, w, 1}}); }

inline CKzOpticalFilter Filter(unsigned placement, const CKzOpticalFilterSpectrum& exc,
                               const CKzOpticalFilterSpectrum& em, const wchar_t* name = L"F")
{
    CKzOpticalFilter f;
    f.m_sName = name;
    f.m_sUserName = name;
    f.m_ePlacement = (CKzOpticalFilter::EKzOpticalFilterPlacement)placement;
    f.m_ExcitationSpectrum = exc;
    f.m_EmissionSpectrum = em;
    return f;
}

} // namespace kzmt
