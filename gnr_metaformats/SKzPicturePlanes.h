// The channel set of a frame: plane descriptions, the sample settings they
// were acquired with, a description and the representation.
//
// Copying a set by construction or assignment copies the members as they are:
// both sets then refer to the same arrays and exactly one of them may release
// or replace them (with Free). A deep copy is Copy.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_metaformats/SKzPicturePlaneDesc.h"
#include "gnr_metaformats/SKzSampleSetting.h"

struct KZ_EXPORT SKzPicturePlanes {
    kz_uint32 uiCount;              // planes
    kz_uint32 uiCompCount;          // components of the frame
    SKzPicturePlaneDesc* pPlanes;   // uiCount planes, null when 0
    kz_uint32 uiSampleCount;        // sample settings
    SKzSampleSetting* pSamples;     // uiSampleCount settings, null when 0
    CKzStringW sDescription;
    kz_uint32 eRepresentation;      // 2: HDR

    SKzPicturePlanes();
    SKzPicturePlanes(const SKzPicturePlanes& other);
    SKzPicturePlanes& operator=(const SKzPicturePlanes& other);
    // Destroys the description only: the arrays belong to whoever holds the set.
    ~SKzPicturePlanes();

    // Default planes and sample settings; the previous arrays are not touched
    // (Free first). -3 when memory runs out (the set unchanged).
    static int Alloc(SKzPicturePlanes& s, unsigned planes, unsigned samples);
    static void Free(SKzPicturePlanes& s);
    // Deep copy; -4 when src has no planes or no sample settings.
    static int Copy(SKzPicturePlanes& dst, const SKzPicturePlanes& src);

    // Sample setting of plane i, null when either index is out of range.
    SKzSampleSetting* GetPlaneSettings(unsigned i);
    const SKzSampleSetting* GetPlaneSettings(unsigned i) const;
    static CKzStringW GetPlaneOCName(const SKzPicturePlanes& s, unsigned i, unsigned key);
    static CKzStringW GetPlaneOCNameAll(const SKzPicturePlanes& s, unsigned i);
    // -9 when plane i has no sample setting.
    static int SetPlaneOCName(SKzPicturePlanes& s, unsigned i, unsigned key, const CKzStringW& name);
    static CKzStringW GetPlaneCameraUniqueName(const SKzPicturePlanes& s, unsigned i);
    static CKzStringW GetPlaneCameraUserName(const SKzPicturePlanes& s, unsigned i);

    static int SaveToLiteVariant(CKzLiteVariantW& w, const SKzPicturePlanes& s);
    static int LoadFromLiteVariant(SKzPicturePlanes& s, CKzLiteVariantR& r);
    static int SaveToVariant(CKzVariant& node, const SKzPicturePlanes& s);
    // -4 (set unchanged) for another run type than "RKzPicturePlanes".
    static int LoadFromVariant(SKzPicturePlanes& s, const CKzVariant& node);
};
