// Fluorescent probe (dye) of a channel: name, display colour, excitation and
// emission spectra, the wavelengths derived from them and both stored forms.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_metaformats/CKzOpticalFilterSpectrum.h"

class KZ_EXPORT CKzFluorescentProbe {
public:
    CKzFluorescentProbe();
    CKzFluorescentProbe(CKzStringW& name, unsigned int colour, CKzOpticalFilterSpectrum& excitation,
                        CKzOpticalFilterSpectrum& emission);
    // Each spectrum one line at the given wavelength (nm).
    CKzFluorescentProbe(CKzStringW& name, unsigned int colour, unsigned int excitationWavelength,
                        unsigned int emissionWavelength);
    // As above, the colour that of the emission wavelength.
    CKzFluorescentProbe(CKzStringW& name, unsigned int excitationWavelength, unsigned int emissionWavelength);
    CKzFluorescentProbe(const CKzFluorescentProbe& other);
    CKzFluorescentProbe& operator=(const CKzFluorescentProbe& other);
    virtual ~CKzFluorescentProbe();

    CKzOpticalFilterSpectrum* GetExcitationSpectrum() { return &m_ExcitationSpectrum; }
    CKzOpticalFilterSpectrum* GetEmissionSpectrum() { return &m_EmissionSpectrum; }
    kz_result GetExcitationPeakAndFwhm(double& peak, double& low, double& high) const;
    kz_result GetEmissionPeakAndFwhm(double& peak, double& low, double& high) const;
    double GetExcitationWavelength();
    double GetEmissionWavelength();
    // Index of the offered excitation wavelength meeting the highest
    // transmission; -1 when none lies within the excitation spectrum.
    int SelectExcitation(double* wavelengths, int count);
    bool IsValid() const { return m_EmissionSpectrum.GetCount() > 0; }
    kz_result DeleteEmissionSpectrum();

    static kz_result SaveToVariant(CKzVariant& node, const CKzFluorescentProbe& p);
    static kz_result LoadFromVariant(CKzFluorescentProbe& p, const CKzVariant& node);
    static kz_result SaveToVariantNew(CKzLiteVariantW& w, const CKzFluorescentProbe& p);
    static kz_result LoadFromVariantNew(CKzFluorescentProbe& p, CKzLiteVariantR& r);

    CKzStringW m_sName;
    unsigned int m_uiColor;
    CKzOpticalFilterSpectrum m_ExcitationSpectrum;
    CKzOpticalFilterSpectrum m_EmissionSpectrum;
};
