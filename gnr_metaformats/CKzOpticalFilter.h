// Optical filters (one element of a channel's light path, up to three spectra)
// and filter paths (the ordered filters of a channel), with the excitation and
// emission wavelengths a path derives and both stored forms.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_metaformats/CKzOpticalFilterSpectrum.h"

class KZ_EXPORT CKzOpticalFilter {
public:
    enum EKzOpticalFilterPlacement : unsigned int {
        eOFPlacementExcitation = 1,
        eOFPlacementEmission = 2,
        eOFPlacementCombined = 3,
        eOFPlacementExcitationOnly = 4,
        eOFPlacementSingle = 6,
    };
    // Carried and stored; the library interprets no value.
    enum EKzOpticalFilterNature : unsigned int { eOFNatureUnknown = 0 };
    enum EKzOpticalFilterSpctType : unsigned int { eOFSpctTypeUnknown = 0, eOFSpctTypeDefault = 7 };

    CKzOpticalFilter();
    CKzOpticalFilter(CKzStringW& name, EKzOpticalFilterPlacement placement, EKzOpticalFilterNature nature,
                     EKzOpticalFilterSpctType spctType, unsigned int colour, CKzOpticalFilterSpectrum& excitation,
                     CKzOpticalFilterSpectrum& emission, CKzOpticalFilterSpectrum& mirror);
    CKzOpticalFilter(const CKzOpticalFilter& other);
    CKzOpticalFilter& operator=(const CKzOpticalFilter& other);
    virtual ~CKzOpticalFilter();

    EKzOpticalFilterPlacement GetPlacement() const { return m_ePlacement; }
    // The spectrum when it counts for the filter's placement, else null.
    CKzOpticalFilterSpectrum* GetExcitationSpectrum();
    CKzOpticalFilterSpectrum* GetEmissionSpectrum();
    CKzOpticalFilterSpectrum* GetMirrorSpectrum();
    const CKzOpticalFilterSpectrum* GetExcitationSpectrum() const;
    const CKzOpticalFilterSpectrum* GetEmissionSpectrum() const;
    const CKzOpticalFilterSpectrum* GetMirrorSpectrum() const;
    // Only 1 -> 2 and 2 -> 1 (copying the spectrum across); -4 otherwise.
    kz_result SetPlacement(EKzOpticalFilterPlacement placement);
    kz_result SetName(const wchar_t* name);

    static kz_result SaveToVariant(CKzVariant& node, const CKzOpticalFilter& f);
    static kz_result LoadFromVariant(CKzOpticalFilter& f, const CKzVariant& node);
    static kz_result SaveToLiteVariant(CKzLiteVariantW& w, const CKzOpticalFilter& f);
    static kz_result LoadFromLiteVariant(CKzOpticalFilter& f, CKzLiteVariantR& r);
    static kz_result SaveUserNameToLiteVariant(CKzLiteVariantW& w, const CKzOpticalFilter& f);
    static kz_result LoadUserNameFromLiteVariant(CKzOpticalFilter& f, CKzLiteVariantR& r);

    CKzStringW m_sName;
    CKzStringW m_sUserName;
    EKzOpticalFilterPlacement m_ePlacement;
    EKzOpticalFilterNature m_eNature;
    EKzOpticalFilterSpctType m_eSpctType;
    unsigned int m_uiColor;
    CKzOpticalFilterSpectrum m_ExcitationSpectrum;
    CKzOpticalFilterSpectrum m_EmissionSpectrum;
    CKzOpticalFilterSpectrum m_MirrorSpectrum;
};

class KZ_EXPORT CKzOpticalFilterPath {
public:
    CKzOpticalFilterPath();
    explicit CKzOpticalFilterPath(const CKzOpticalFilter& f1);
    CKzOpticalFilterPath(const CKzOpticalFilter& f1, const CKzOpticalFilter& f2);
    CKzOpticalFilterPath(const CKzOpticalFilter& f1, const CKzOpticalFilter& f2, const CKzOpticalFilter& f3);
    CKzOpticalFilterPath(CKzOpticalFilter* filters, unsigned int n);
    CKzOpticalFilterPath(const CKzOpticalFilterPath& other);
    CKzOpticalFilterPath& operator=(const CKzOpticalFilterPath& other);
    virtual ~CKzOpticalFilterPath();

    unsigned int GetCount() const { return m_uiCount; }
    CKzOpticalFilter* GetFilterPointer() { return m_pFilter; }
    const CKzOpticalFilter* GetFilterPointer() const { return m_pFilter; }
    // Filter i (i below the count).
    CKzOpticalFilter* operator[](unsigned int i) { return i < m_uiCount ? &m_pFilter[i] : nullptr; }
    const CKzOpticalFilter* operator[](unsigned int i) const { return i < m_uiCount ? &m_pFilter[i] : nullptr; }

    // Derived wavelengths in nm; 0 (or the caller's string unchanged) when nothing is found.
    void GetEmissionWavelengthDescription(CKzStringW& text);
    double GetMeanEmissionWavelength();
    double GetLowEmissionWavelength() const;
    double GetHightEmissionWavelength() const;
    double GetMeanExcitationWavelength();
    double GetLowExcitationWavelength() const;
    double GetHightExcitationWavelength() const;

    static kz_result SaveToVariant(CKzVariant& node, const CKzOpticalFilterPath& p);
    static kz_result LoadFromVariant(CKzOpticalFilterPath& p, const CKzVariant& node);
    static kz_result SaveToLiteVariant(CKzLiteVariantW& w, const CKzOpticalFilterPath& p);
    static kz_result LoadFromLiteVariant(CKzOpticalFilterPath& p, CKzLiteVariantR& r);

private:
    unsigned int m_uiCount;
    CKzOpticalFilter* m_pFilter;

public:
    CKzStringW m_sDescr;

private:
    // Replaces the filters by n default ones; false (and empty) when memory runs out.
    __attribute__((visibility("hidden"))) bool Reset(unsigned int n);
    __attribute__((visibility("hidden"))) void CopyFrom(const CKzOpticalFilter* filters, unsigned int n);
};
