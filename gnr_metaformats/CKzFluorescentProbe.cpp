#include "gnr_metaformats/CKzFluorescentProbe.h"
#include "gnr_metaformats/KzMetaInternal.h"
#include "gnr_system/KzWavelengthColor.h"

#include <cmath>

CKzFluorescentProbe::CKzFluorescentProbe() : m_uiColor(0xFFFFFF) {}

CKzFluorescentProbe::CKzFluorescentProbe(CKzStringW& name, unsigned int colour, CKzOpticalFilterSpectrum& excitation,
                                         CKzOpticalFilterSpectrum& emission)
    : m_sName(name), m_uiColor(colour), m_ExcitationSpectrum(excitation), m_EmissionSpectrum(emission)
{
}

CKzFluorescentProbe::CKzFluorescentProbe(CKzStringW& name, unsigned int colour, unsigned int excitationWavelength,
                                         unsigned int emissionWavelength)
    : m_sName(name), m_uiColor(colour),
      m_ExcitationSpectrum(static_cast<double>(excitationWavelength), SKzOFSpectrumPoint::eOFPointLine),
      m_EmissionSpectrum(static_cast<double>(emissionWavelength), SKzOFSpectrumPoint::eOFPointLine)
{
}

CKzFluorescentProbe::CKzFluorescentProbe(CKzStringW& name, unsigned int excitationWavelength,
                                         unsigned int emissionWavelength)
    : CKzFluorescentProbe(name, 0xFFFFFFu, excitationWavelength, emissionWavelength)
{
    unsigned int c = 0;
    if (KZ_RGBFromWavelength(&c, static_cast<double>(emissionWavelength)) == KZ_OK) m_uiColor = c;
}

CKzFluorescentProbe::CKzFluorescentProbe(const CKzFluorescentProbe& o)
    : m_sName(o.m_sName), m_uiColor(o.m_uiColor), m_ExcitationSpectrum(o.m_ExcitationSpectrum),
      m_EmissionSpectrum(o.m_EmissionSpectrum)
{
}

CKzFluorescentProbe& CKzFluorescentProbe::operator=(const CKzFluorescentProbe& o)
{
    if (this == &o) return *this;
    m_sName = o.m_sName;
    m_uiColor = o.m_uiColor;
    m_ExcitationSpectrum = o.m_ExcitationSpectrum;
    m_EmissionSpectrum = o.m_EmissionSpectrum;
    return *this;
}

CKzFluorescentProbe::~CKzFluorescentProbe() {}

kz_result CKzFluorescentProbe::GetExcitationPeakAndFwhm(double& peak, double& low, double& high) const
{
    return m_ExcitationSpectrum.GetPeakAndFwhm(peak, low, high);
}

kz_result CKzFluorescentProbe::GetEmissionPeakAndFwhm(double& peak, double& low, double& high) const
{
    return m_EmissionSpectrum.GetPeakAndFwhm(peak, low, high);
}

namespace {

double SpectrumWavelength(const CKzOpticalFilterSpectrum& s)
{
    double peak = 0, low = 0, high = 0;
    if (s.GetPeakAndFwhm(peak, low, high) == KZ_OK) return peak;
    const unsigned n = s.GetCount();
    if (n == 0) return 0.0;
    if (n == 1) return s.GetPoint(0)->dWavelength;
    double sumWV = 0, sumV = 0;
    for (unsigned i = 0; i < n; ++i) {
        sumWV += s.GetPoint(i)->dWavelength * s.GetPoint(i)->dTValue;
        sumV += s.GetPoint(i)->dTValue;
    }
    if (!(sumV > 0)) return 0.0;
    // Rounded in floating point: a value from a file may be far outside any integer.
    return std::trunc(sumWV / sumV + 0.5);
}

} // namespace

double CKzFluorescentProbe::GetExcitationWavelength() { return SpectrumWavelength(m_ExcitationSpectrum); }
double CKzFluorescentProbe::GetEmissionWavelength() { return SpectrumWavelength(m_EmissionSpectrum); }

int CKzFluorescentProbe::SelectExcitation(double* wavelengths, int count)
{
    if (!wavelengths || count < 1) return -1;
    int best = -1;
    double bestValue = 0;
    for (int k = 0; k < count; ++k) {
        unsigned int index = 0;
        if (m_ExcitationSpectrum.FindNearestPoint(wavelengths[k], index) != KZ_OK) continue;
        const double v = m_ExcitationSpectrum.GetPoint(index)->dTValue;
        if (best < 0 || v > bestValue) {
            best = k;
            bestValue = v;
        }
    }
    return best;
}

kz_result CKzFluorescentProbe::DeleteEmissionSpectrum()
{
    while (m_EmissionSpectrum.GetCount()) m_EmissionSpectrum.RemovePoint(m_EmissionSpectrum.GetCount() - 1);
    return KZ_OK;
}

kz_result CKzFluorescentProbe::SaveToVariant(CKzVariant& node, const CKzFluorescentProbe& p)
{
    kzmeta::BeginStruct(node, "RKzFluorescentProbe");
    node[L"m_sName"] = p.m_sName;
    node[L"m_uiColor"] = p.m_uiColor;
    if (CKzOpticalFilterSpectrum::SaveToVariant(node[L"m_ExcitationSpectrum"], p.m_ExcitationSpectrum) != KZ_OK)
        kzmeta::Failure(__LINE__);
    if (CKzOpticalFilterSpectrum::SaveToVariant(node[L"m_EmissionSpectrum"], p.m_EmissionSpectrum) != KZ_OK)
        kzmeta::Failure(__LINE__);
    return KZ_OK;
}

kz_result CKzFluorescentProbe::LoadFromVariant(CKzFluorescentProbe& p, const CKzVariant& node)
{
    if (!kzmeta::IsRunType(node, "RKzFluorescentProbe")) return KZ_ERR_INVALID_ARG;
    p.m_sName = node[L"m_sName"].GetCKzStringW();
    p.m_uiColor = node[L"m_uiColor"].GetKz_uint32();
    if (CKzOpticalFilterSpectrum::LoadFromVariant(p.m_ExcitationSpectrum, node[L"m_ExcitationSpectrum"]) != KZ_OK)
        kzmeta::Failure(__LINE__);
    if (CKzOpticalFilterSpectrum::LoadFromVariant(p.m_EmissionSpectrum, node[L"m_EmissionSpectrum"]) != KZ_OK)
        kzmeta::Failure(__LINE__);
    return KZ_OK;
}

kz_result CKzFluorescentProbe::SaveToVariantNew(CKzLiteVariantW& w, const CKzFluorescentProbe& p)
{
    w.Set(p.m_sName.GetString(), L"m_sName");
    w.Set(p.m_uiColor, L"m_uiColor");
    if (w.LevelBegin(L"m_ExcitationSpectrum") == KZ_OK) {
        if (CKzOpticalFilterSpectrum::SaveToVariantNew(w, p.m_ExcitationSpectrum) != KZ_OK) kzmeta::Failure(__LINE__);
        w.LevelEnd();
    }
    if (w.LevelBegin(L"m_EmissionSpectrum") == KZ_OK) {
        if (CKzOpticalFilterSpectrum::SaveToVariantNew(w, p.m_EmissionSpectrum) != KZ_OK) kzmeta::Failure(__LINE__);
        w.LevelEnd();
    }
    return KZ_OK;
}

kz_result CKzFluorescentProbe::LoadFromVariantNew(CKzFluorescentProbe& p, CKzLiteVariantR& r)
{
    r.GetCKzStringW(p.m_sName, L"m_sName", L"");
    p.m_uiColor = r.Get(L"m_uiColor", 0u);
    if (r.LevelBegin(L"m_ExcitationSpectrum") == KZ_OK) {
        if (CKzOpticalFilterSpectrum::LoadFromVariantNew(p.m_ExcitationSpectrum, r) != KZ_OK) kzmeta::Failure(__LINE__);
        r.LevelEnd();
    }
    if (r.LevelBegin(L"m_EmissionSpectrum") == KZ_OK) {
        if (CKzOpticalFilterSpectrum::LoadFromVariantNew(p.m_EmissionSpectrum, r) != KZ_OK) kzmeta::Failure(__LINE__);
        r.LevelEnd();
    }
    return KZ_OK;
}
