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

class CKzRangeMask;
struct SKzLutParam;

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

    // ---- selection and extraction ---------------------------------------
    // Low min(uiCompCount, 64) bits set.
    static kz_uint64 FullMask(SKzPicturePlanes& s);
    // m sized to uiCompCount with every component set.
    static CKzRangeMask& FullMask(SKzPicturePlanes& s, CKzRangeMask& m);
    // m sized to uiCompCount holding plane i's components (empty past the planes).
    static CKzRangeMask& PlaneMask(SKzPicturePlanes& s, unsigned i, CKzRangeMask& m);
    // The first 64 bits of that mask.
    static kz_uint64 PlaneMask(SKzPicturePlanes& s, unsigned i);
    // First component of plane i: the components of the planes before it.
    static kz_uint64 PlaneStartingComp(SKzPicturePlanes& s, unsigned i);
    static unsigned MaskedPlaneCount(SKzPicturePlanes& s, CKzRangeMask& m);
    static unsigned MaskedCompCount(SKzPicturePlanes& s, CKzRangeMask& m);
    static unsigned MaskedSampleCount(SKzPicturePlanes& s, CKzRangeMask& m);
    // Fills a set prepared with Alloc; never writes past its arrays.
    static unsigned ExtractPlanes(SKzPicturePlanes& dst, SKzPicturePlanes& src, CKzRangeMask& m, bool redFirst);
    static unsigned ExtractPlanesEx(SKzPicturePlanes& dst, SKzPicturePlanes& src, CKzRangeMask& m, bool redFirst);
    static int ExtractReorderedPlanes(SKzPicturePlanes& dst, SKzPicturePlanes& src, const unsigned* order, bool split);
    static unsigned ExpandRGBPlanes(SKzPicturePlanes& dst, SKzPicturePlanes& src, CKzRangeMask& m);

    // ---- building and merging -------------------------------------------
    // 1 one mono plane, 2 one colour plane, 4 anything else; -3 when memory runs out.
    static int MakeCompatible(SKzPicturePlanes& s, unsigned n);
    static int MakeMono(SKzPicturePlanes& s);
    static int MakeRGB(SKzPicturePlanes& s);
    static int Copy(SKzPicturePlanes& dst, const SKzPicturePlanes& src, unsigned n);
    static int CopyPlane(SKzPicturePlanes& dst, unsigned i, const SKzPicturePlanes& src, unsigned j);
    static int AddPlane(SKzPicturePlanes& dst, const SKzPicturePlanes& src, unsigned j);
    static unsigned MergePlanes(SKzPicturePlanes& dst, SKzPicturePlanes& src, bool uniqueNames);
    static unsigned MergePlanes(SKzPicturePlanes& dst, SKzPicturePlanes& src, CKzRangeMask& m, bool uniqueNames);
    static bool CheckForSameNames(SKzPicturePlanes& s);
    static void Swap(SKzPicturePlanes& a, SKzPicturePlanes& b);

    // ---- queries, modality conversions and colours ----------------------
    static bool IsCompatible(SKzPicturePlanes& a, SKzPicturePlanes& b);
    static bool IsPlaneEqual(SKzPicturePlanes& a, unsigned i, SKzPicturePlanes& b, unsigned j);
    static bool IsEqual(SKzPicturePlanes& a, SKzPicturePlanes& b);
    bool IsHDR() const;
    bool IsQIRA() const;
    bool IsSpectral() const;
    static unsigned GetNonTransmittedPlanesCount(SKzPicturePlanes& s, const CKzRangeMask* m);
    static unsigned GetNonTransmittedChannelCount(SKzPicturePlanes& s, const CKzRangeMask* m);
    static double GetExposureTime(const SKzPicturePlanes& s);
    // zlib crc32 continued from h over each plane's layout.
    int GetHash(unsigned& h) const;
    // One colour per component into colours, never more than uiCompCount entries.
    static int GetPlaneColors(SKzPicturePlanes& s, unsigned* colours, CKzRangeMask* m, bool useColors,
                              SKzLutParam* lut);
    int ConvertToSpectral();
    int ConvertToNonSpectral();
    int ConvertToQIRA();
    int ConvertToNonQIRA();
    int ConvertToHDR();
};
