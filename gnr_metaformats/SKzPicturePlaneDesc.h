// One channel of a frame (one or three interleaved components) with what
// produced it: the modality mask, probe, filter path, display colour and name;
// the modality mask's rules and text, and the legacy modality enumeration.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_metaformats/CKzFluorescentProbe.h"
#include "gnr_metaformats/CKzOpticalFilter.h"

struct SKzPicturePlanes;

// Modality mask bits.
#define MODALITY_FLUORESCENCE 0x1ull
#define MODALITY_BRIGHTFIELD 0x2ull
#define MODALITY_PHASE_CONTRAST 0x10ull
#define MODALITY_DIC 0x20ull
#define MODALITY_CAMERA 0x100ull
#define MODALITY_LASER_SCAN_CONFOCAL 0x200ull
#define MODALITY_SPINNING_DISK_CONFOCAL 0x400ull
#define MODALITY_SWEPT_FIELD_SLIT 0x800ull
#define MODALITY_SWEPT_FIELD_PINHOLES 0x1000ull
#define MODALITY_DSD_CONFOCAL 0x2000ull
#define MODALITY_STRUCTURED_ILLUMINATION 0x4000ull
#define MODALITY_MULTIPHOTON 0x10000ull
#define MODALITY_TIRF 0x20000ull
#define MODALITY_PMT 0x100000ull
#define MODALITY_SPECTRAL 0x200000ull
#define MODALITY_QIRA_IF 0x400000ull
#define MODALITY_QIRA_NF 0x800000ull
#define MODALITY_TD 0x1000000ull
#define MODALITY_NDD 0x2000000ull
#define MODALITY_VIRTUAL_FILTER 0x4000000ull
#define MODALITY_GAASP 0x8000000ull
#define MODALITY_REMAINDER 0x10000000ull
#define MODALITY_AUX 0x20000000ull

// Full-chip size in pixels.
struct SKzSizeInt {
    kz_int32 cx;
    kz_int32 cy;
};

struct KZ_EXPORT SKzPicturePlaneDesc {
    // Legacy modality of older files; each value stands for the mask
    // TranslateModalityToMask gives.
    enum EModality : unsigned int {
        eModalityNone = 0,
        eModalityBrightfieldCamera = 1,
        eModalityLaserScanConfocal = 2,
        eModalitySpinningDiskConfocal = 3,
        eModalitySweptFieldConfocal = 4,
        eModalityMultiPhoton = 5,
        eModalityPhaseContrast = 6,
        eModalityDIC = 7,
        eModalitySpectral = 8,
        eModalityQiraNFOld = 9,
        eModalityQiraIF = 10,
        eModalityQiraNF = 11,
        eModalityDSDConfocal = 12,
    };

    kz_uint32 uiCompCount;
    kz_uint32 uiSampleIndex;
    double dObjCalibration1to1;
    SKzSizeInt sizeObjFullChip;
    kz_uint64 uiModalityMask;
    CKzFluorescentProbe pFluorescentProbe;
    CKzOpticalFilterPath pFilterPath;
    double dLampVoltage;
    double dFadingCorr;
    kz_uint32 uiColor;
    CKzStringW sDescription;
    double dAcqTime;
    double dPinholeDiameter;
    kz_int32 iChannelSeriesIndex;

    SKzPicturePlaneDesc();
    virtual ~SKzPicturePlaneDesc();
    // Copied only through Copy.
    SKzPicturePlaneDesc(const SKzPicturePlaneDesc&) = delete;
    SKzPicturePlaneDesc& operator=(const SKzPicturePlaneDesc&) = delete;

    // Arrays of n default descriptions; -3 (p unchanged) when memory runs out.
    static int AllocArray(SKzPicturePlaneDesc*& p, unsigned n);
    // Destroys and releases an array (null allowed); p is left to the caller.
    static void FreeArray(SKzPicturePlaneDesc*& p);
    static int Copy(SKzPicturePlaneDesc& dst, SKzPicturePlaneDesc& src);
    static int CopyArray(SKzPicturePlaneDesc* dst, SKzPicturePlaneDesc* src, unsigned n);
    // Same component count, modality mask, colour and name.
    static bool IsEqual(const SKzPicturePlaneDesc& a, const SKzPicturePlaneDesc& b);

    static bool IsModalityMonochrome(unsigned long mask);
    bool IsFlorescence() const;
    bool IsBrightfield() const;
    bool IsFromCamera() const;
    bool IsFromConfocal() const;
    bool IsSpectral() const;
    bool IsTD() const;
    bool IsVirtualFilter() const;
    bool IsAUX() const;
    bool IsModalityChangeAllowed() const;
    // Short text of the plane's modality; the light text is left out when the
    // mask shares a bit with suppress.
    CKzStringW PlaneModalityHumanReadableShort(unsigned long suppress) const;

    static bool IsModalityMaskValid(unsigned long mask);
    static kz_uint64 TranslateModalityToMask(EModality e);
    static EModality TranslateMaskToModality(unsigned long mask);

    // Variant form "RKzPicturePlaneDescV1_2"; the loader also reads the two
    // older versions.
    static int SaveToVariant(CKzVariant& node, const SKzPicturePlaneDesc& d);
    static int LoadFromVariant(SKzPicturePlaneDesc& d, const CKzVariant& node);
    // Lite form, in the level the caller opened.
    static int SaveToLiteVariant(CKzLiteVariantW& w, const SKzPicturePlaneDesc& d);
    static int LoadFromLiteVariant(SKzPicturePlaneDesc& d, CKzLiteVariantR& r);
    // Plane i of a set in the legacy per-channel form; -9 when i is out of range.
    static int SaveToLiteVariantOld(CKzLiteVariantW& w, const SKzPicturePlanes& s, unsigned i);
    static int SaveToVariantOld(CKzVariant& node, const SKzPicturePlanes& s, unsigned i);
};
