// Spectra of optical elements: measured transmission points (linear between
// points) or symbolic pass bands and lines, with the peak and half-height
// band, tabbed curves for plotting, wavelength ranges, the intersection of two
// spectra, display colours and both stored forms.
#pragma once

#include "gnr_system/kz_base.h"

class CKzVariant;
class CKzLiteVariantW;
class CKzLiteVariantR;

struct KZ_EXPORT SKzOFSpectrumPoint {
    enum EKzOFSpectrumPointType : unsigned int {
        eOFPointUnset = 0,
        eOFPointMeasured = 1,
        eOFPointBandStart = 2,
        eOFPointBandEnd = 3,
        eOFPointLine = 4,
    };

    EKzOFSpectrumPointType eType = eOFPointUnset;  // unknown values are carried and skipped
    double dWavelength = 0.0;                      // nm
    double dTValue = 0.0;                          // transmission at that wavelength

    // Variant form: a node "RKzOFSpectrumPoint" with "eType", "dWavelength", "dTValue".
    static kz_result SaveToVariant(CKzVariant& node, const SKzOFSpectrumPoint& p);
    // -4 for another run type; "uiWavelength" stands in for a zero "dWavelength".
    static kz_result LoadFromVariant(SKzOFSpectrumPoint& p, const CKzVariant& node);
    // Lite form, in the level the caller opened.
    static kz_result SaveToVariantNew(CKzLiteVariantW& w, const SKzOFSpectrumPoint& p);
    static kz_result LoadFromVariantNew(SKzOFSpectrumPoint& p, CKzLiteVariantR& r);
};

class KZ_EXPORT CKzOpticalFilterSpectrum {
public:
    // The zeroed point handed out for an index past the count (read-only).
    static const SKzOFSpectrumPoint m_sInvalid;
    // Tolerance that widens band edges and lines, in nm.
    static const double dWlEps;

    CKzOpticalFilterSpectrum();
    // n zeroed points (none when memory runs out).
    explicit CKzOpticalFilterSpectrum(unsigned int n);
    // n measured points from the two arrays.
    CKzOpticalFilterSpectrum(double* wavelengths, double* values, unsigned int n);
    // One point of that type at that wavelength with value 1.0.
    CKzOpticalFilterSpectrum(double wavelength, SKzOFSpectrumPoint::EKzOFSpectrumPointType type);
    CKzOpticalFilterSpectrum(const CKzOpticalFilterSpectrum& other);
    CKzOpticalFilterSpectrum& operator=(const CKzOpticalFilterSpectrum& other);
    virtual ~CKzOpticalFilterSpectrum();

    unsigned int GetCount() const { return m_uiCount; }
    // Point i, or the shared zeroed point when i is not below the count.
    const SKzOFSpectrumPoint* GetPoint(unsigned int i) const;
    const SKzOFSpectrumPoint* operator[](unsigned int i) const { return GetPoint(i); }

    // Editing: -4 for a kind that does not fit the spectrum or an index out of range.
    kz_result AddPoint(SKzOFSpectrumPoint& p);
    kz_result InsertPoint(SKzOFSpectrumPoint& p, unsigned int index);
    kz_result RemovePoint(unsigned int index);
    // -13 when empty or the wavelength lies outside the points.
    kz_result FindNearestPoint(double wavelength, unsigned int& index);

    // Evaluation.
    kz_result GetPeakAndFwhm(double& peak, double& low, double& high) const;
    unsigned int GetTabbedPointCount();
    kz_result GetTabbedCurve(double* wavelengths, double* values, unsigned int capacity);
    unsigned int GetTabbedPointCountEx();
    kz_result GetTabbedCurveEx(double* wavelengths, double* values, unsigned int capacity);
    kz_result GetWavelenghtRange(double& low, double& high);
    kz_result GetWavelenghtRangeExact(double& low, double& high);
    // Intersection with other; maxGap > 0 first closes gaps up to that size.
    CKzOpticalFilterSpectrum& Combine(CKzOpticalFilterSpectrum other, double maxGap, double* gap);
    CKzOpticalFilterSpectrum& Combine(CKzOpticalFilterSpectrum& other, bool bridge);
    // Display colours 0x00BBGGRR of a measured-point spectrum; -2 for a symbolic one.
    kz_result GetRGBColor(unsigned int& colour);
    kz_result GetsRGBColor(unsigned int& colour);

    // Variant form: a node "RKzOpticalFilterSpectrum" with "uiCount", "pPoint", "bPoints".
    static kz_result SaveToVariant(CKzVariant& node, const CKzOpticalFilterSpectrum& s);
    static kz_result LoadFromVariant(CKzOpticalFilterSpectrum& s, const CKzVariant& node);
    // Lite form, in the level the caller opened.
    static kz_result SaveToVariantNew(CKzLiteVariantW& w, const CKzOpticalFilterSpectrum& s);
    static kz_result LoadFromVariantNew(CKzOpticalFilterSpectrum& s, CKzLiteVariantR& r);

private:
    // Replaces the points by n zeroed ones; false (and empty) when memory runs out.
    __attribute__((visibility("hidden"))) bool Reset(unsigned int n);
    __attribute__((visibility("hidden"))) bool KindFits(const SKzOFSpectrumPoint& p) const;
    __attribute__((visibility("hidden"))) unsigned int TabbedCount(bool ex) const;
    __attribute__((visibility("hidden"))) kz_result TabbedCurve(double* w, double* v, unsigned int capacity, bool ex) const;

    // The layout is a binary interface (spectra are embedded in filters and
    // probes that hosts compile against): after the virtual table pointer the
    // count, the points and the measured-points flag, in this order.
    unsigned int m_uiCount;
    SKzOFSpectrumPoint* m_pPoints;

public:
    // All points are measured points.
    bool bPoints;
};
