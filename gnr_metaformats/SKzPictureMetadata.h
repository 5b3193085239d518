// Picture metadata of a frame: times, stage position, calibration, objective,
// the channel set, physical variables and the stage-to-image matrix, with both
// stored forms. Doubles of -1.0 mean unknown.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_metaformats/SKzPicturePlanes.h"

// One free physical variable.
struct KZ_EXPORT SKzPhysicalVar {
    CKzStringW wsName;
    kz_uint32 uiIntepretation;
    double dValue;
    SKzPhysicalVar() : uiIntepretation(0), dValue(0.0) {}
};

struct KZ_EXPORT SKzPictureMetadata {
    double dTimeAbsolute;   // Julian day number
    double dTimeMSec;       // ms from the start of the acquisition
    double dXPos;
    double dYPos;
    kz_uint32 uiRow;
    kz_uint32 uiCol;
    double dZPos;
    bool bZPosAbsolute;
    double dAngle;
    SKzPicturePlanes sPicturePlanes;   // owned: released by the destructor
    double dTemperK;
    double dCalibration;
    double dAspect;
    bool bCalibrated;
    CKzStringW wsObjectiveName;
    double dObjectiveMag;
    double dObjectiveNA;
    double dRefractIndex1;
    double dRefractIndex2;
    double dZoom;
    double dProjectiveMag;
    SKzPhysicalVar* pPhysicalVar;   // uiPhysicalVarCount elements, null when 0
    kz_uint32 uiPhysicalVarCount;
    CKzStringW wsCustomData;
    kz_int32 ePictureXAxis;
    kz_int32 ePictureYAxis;
    double dTimeAxisCalibration;
    double dZAxisCalibration;
    double dStgLgCT11;   // stage matrix, held column by column
    double dStgLgCT21;
    double dStgLgCT12;
    double dStgLgCT22;

    SKzPictureMetadata();
    SKzPictureMetadata(const SKzPictureMetadata& src);
    ~SKzPictureMetadata();
    // Owned arrays and host objects: copies go through Copy.
    SKzPictureMetadata& operator=(const SKzPictureMetadata&) = delete;

    // Zero position, 293 K, unknown calibration, the current time, no planes.
    void SetToDefault();

    static int Copy(SKzPictureMetadata& dst, const SKzPictureMetadata& src);
    static int SetCalibration(SKzPictureMetadata& md, double calibration, double aspect, const wchar_t* objectiveName,
                              double factorX, double factorY, double projectiveMag, double zoom);

    static int SaveToVariant(CKzVariant& node, const SKzPictureMetadata& md);
    // -4 (record unchanged) for another run type than "RKzPictureMetadata".
    static int LoadFromVariant(SKzPictureMetadata& md, const CKzVariant& node);
    // Lite form: a level "SKzPictureMetadata" in the caller's current level.
    static int SaveToLiteVariant(CKzLiteVariantW& w, const SKzPictureMetadata& md);
    static int LoadFromLiteVariant(SKzPictureMetadata& md, CKzLiteVariantR& r);

private:
    __attribute__((visibility("hidden"))) void ReleaseVars();
};
