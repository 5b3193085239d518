// The experiment tree of an acquisition: each SKzExperiment is one loop level
// (time points, stage positions, a Z stack, the channels of a frame, ...) with
// its parameters, per-item valid flags, settings around the loop, optional
// side records and the levels nested inside it. The first level is the
// outermost loop and varies slowest in the frame sequence.
//
// A level is a plain structure: its arrays and child levels are created and
// released only by the constructor and destructor, Alloc, Init, Uninit, Free,
// FreeRecursive, the copy functions and the loaders. Child pointer arrays are
// CKzAlloc blocks; every other array is allocated with new[]. A level owns its
// arrays, side records, child levels and per-period child levels; a one-level
// copy (Copy) shares its source's child levels and is released with Free.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_metaformats/SKzExperimentNI.h"
#include "gnr_metaformats/SKzParallelExperiment.h"
#include "gnr_metaformats/SKzRecordedData.h"

class CKzVariant;
class CKzLiteVariantW;
class CKzLiteVariantR;
struct SKzPicturePlanes;

struct KZ_EXPORT SKzExperiment {
    enum EKzExperimentType : kz_uint32 {
        eExpNone = 0,
        eExpTimeLoop = 1,
        eExpXYPosLoop = 2,
        eExpXYDiscrLoop = 3,
        eExpZStackLoop = 4,
        eExpPolarLoop = 5,
        eExpSpectLoop = 6,
        eExpCustomLoop = 7,
        eExpNETimeLoop = 8,
        eExpManualTimeLoop = 9,
    };

    // Autofocus settings; a cleared record means no autofocus.
    struct KZ_EXPORT SKzExpAutoFocus {
        struct SKzFocusPlane {
            kz_int32 iDegree;
            kz_uint32 uiValues;   // coefficients used, at most 6
            double pCoeff[6];
        };
        kz_uint32 eType;
        double dStep;
        double dRange;
        double dPrecision;
        double dSpeed;
        SKzFocusPlane aFocusPlane;
        kz_uint32 uiFlags;
        kz_int32 iFocusCriterion;
        wchar_t sZDrive[64];

        static void SetToNull(SKzExpAutoFocus& af);
        // sZDrive counts only when both are non-empty.
        static bool IsEqual(const SKzExpAutoFocus& a, const SKzExpAutoFocus& b);
        static int SaveToLiteVariant(CKzLiteVariantW& writer, const SKzExpAutoFocus& af);
        static int LoadFromLiteVariant(SKzExpAutoFocus& af, CKzLiteVariantR& reader);
        // Node of run type "RKzExperiment.RKzExpAutoFocus": 0, or the code of
        // giving the node its run type (nothing written then).
        static int SaveToVariant(CKzVariant& node, const SKzExpAutoFocus& af);
        // 0; -4, the record untouched, for a node of another run type.
        static int LoadFromVariant(SKzExpAutoFocus& af, const CKzVariant& node);
    };

    // Time loop; also the record of one period of a non-equidistant time loop.
    struct KZ_EXPORT SKzExpTimeLoop {
        kz_uint32 uiCount;   // time points; 0: open-ended
        double dStart;
        double dPeriod;
        double dDuration;
        double dMinPeriodDiff;
        double dMaxPeriodDiff;
        double dAvgPeriodDiff;
        wchar_t wsPhaseName[256];
        SKzExpAutoFocus sAutoFocusBeforePeriod;
        SKzExpAutoFocus sAutoFocusBeforeCapture;
        kz_uint32 uiLoopType;   // bit 0 or 1: acquires no frames
        kz_uint32 uiGroup;
        kz_uint32 uiStimulationCount;
        bool bDurationPref;

        static bool IsEqual(const SKzExpTimeLoop& a, const bool* validA, const SKzExpTimeLoop& b, const bool* validB);
    };

    struct KZ_EXPORT SKzExpNETimeLoop {
        struct SKzSubLoopsDefinition {
            kz_uint32 uiNextLevelCount;
            SKzExperiment** ppNextLevelEx;   // CKzAlloc block of owned levels
            SKzSubLoopsDefinition() : uiNextLevelCount(0), ppNextLevelEx(nullptr) {}
        };
        kz_uint32 uiCount;
        kz_uint32 uiPeriodCount;
        SKzExpTimeLoop* pPeriod;
        SKzSubLoopsDefinition* pSubLoops;   // may be null
        SKzExpAutoFocus sAutoFocusBeforePeriod;
        SKzExpAutoFocus sAutoFocusBeforeCapture;
        CKzStringW* szCommandBeforePeriod;
        CKzStringW* szCommandAfterPeriod;
        bool* pPeriodValid;   // may be null: every period valid

        static bool IsEqual(const SKzExpNETimeLoop& a, const bool* validA, const SKzExpNETimeLoop& b,
                            const bool* validB);
    };

    struct KZ_EXPORT SKzExpManualTimeLoop {
        kz_uint32 uiCount;
        static bool IsEqual(const SKzExpManualTimeLoop& a, const bool* validA, const SKzExpManualTimeLoop& b,
                            const bool* validB);
    };

    struct KZ_EXPORT SKzExpXYPosLoop {
        kz_uint32 uiCount;
        double* dPosX;
        double* dPosY;
        bool bUseZ;
        double* dPosZ;
        double* dHZKOffset;
        bool bRelativeXY;
        double dReferenceX;
        double dReferenceY;
        bool bRedefineAfterHZK;
        bool bRedefineAfterAutoFocus;
        bool bKeepHZKOn;
        bool bSplitMultipoints;
        CKzStringW* pPosName;
        wchar_t sZDevice[128];
        SKzExpAutoFocus sAutoFocusBeforeCapture;

        static bool IsEqual(const SKzExpXYPosLoop& a, const bool* validA, const SKzExpXYPosLoop& b,
                            const bool* validB);
    };

    struct KZ_EXPORT SKzExpXYDiscrLoop {
        kz_uint32 uiCount;
        kz_uint32* uiRow;
        kz_uint32* uiCol;
        bool bUseZ;
        double* dPosZ;

        static bool IsEqual(const SKzExpXYDiscrLoop& a, const bool* validA, const SKzExpXYDiscrLoop& b,
                            const bool* validB);
    };

    struct KZ_EXPORT SKzExpZStackLoop {
        kz_uint32 uiCount;
        double dZLow;
        double dZLowHZKOffset;
        double dZHigh;
        double dZHighHZKOffset;
        double dZHome;
        double dZStep;   // 0 or negative: follows from range and count
        double dReferencePosition;
        double dTIRFPosition;
        double dTIRFHZKOffset;
        kz_int32 iType;   // stack mode 0 to 7
        bool bAbsolute;
        bool bTriggeredPiezo;
        bool bZInverted;
        bool bTIRF;
        wchar_t sZDevice[128];
        wchar_t sCommandBeforeCapture[500];
        wchar_t sCommandAfterCapture[500];

        static bool IsEqual(const SKzExpZStackLoop& a, const bool* validA, const SKzExpZStackLoop& b,
                            const bool* validB);
    };

    struct KZ_EXPORT SKzExpPolarLoop {
        kz_uint32 uiCount;
        double dAngleStart;
        double dAngleFinish;
        bool bSceneRotates;

        static bool IsEqual(const SKzExpPolarLoop& a, const bool* validA, const SKzExpPolarLoop& b,
                            const bool* validB);
    };

    // The channels of one frame.
    struct KZ_EXPORT SKzExpSpectLoop {
        kz_uint32 uiCount;   // the plane count of pPlanes
        SKzPicturePlanes* pPlanes;   // owned, may be null
        SKzExpAutoFocus* pAutoFocus;
        kz_int32* pZStackPos;
        CKzStringW* szCommandBeforeCapture;
        CKzStringW* szCommandAfterCapture;
        bool bMergeCameras;

        static bool IsEqual(const SKzExpSpectLoop& a, const bool* validA, const SKzExpSpectLoop& b,
                            const bool* validB);
    };

    struct KZ_EXPORT SKzExpCustomLoop {
        kz_uint32 uiCount;
        CKzStringW* wsDescription;   // owned

        static bool IsEqual(const SKzExpCustomLoop& a, const bool* validA, const SKzExpCustomLoop& b,
                            const bool* validB);
    };

    // Large-image (stitching) description.
    struct SKzLIDesc {
        kz_int32 iMethod;
        kz_int32 iXFields;
        kz_int32 iYFields;
        double dXmm;
        double dYmm;
        bool bStitch;
        bool bValid;
        bool bControlShutter;
        double dOverlap;
        kz_uint32 uiOrder;
        kz_uint32 uiStitchingChannel;
        wchar_t sPattern[256];
        wchar_t sCamera[256];
    };

    // Every member begins with uiCount.
    union ULoopPars {
        kz_uint32 uiCount;
        SKzExpTimeLoop sTimeLoop;
        SKzExpXYPosLoop sXYPosLoop;
        SKzExpXYDiscrLoop sXYDiscrLoop;
        SKzExpZStackLoop sZStackLoop;
        SKzExpPolarLoop sPolarLoop;
        SKzExpSpectLoop sSpectLoop;
        SKzExpCustomLoop sCustomLoop;
        SKzExpNETimeLoop sNETimeLoop;
        SKzExpManualTimeLoop sManualTimeLoop;
    };

    EKzExperimentType eType;
    CKzStringW wsApplicationDesc;
    CKzStringW wsUserDesc;
    CKzStringW aMeasProbesBase64;
    CKzStringW wsCameraName;
    ULoopPars uLoopPars;
    bool* pItemValid;   // uiCount flags, may be null: every item valid
    SKzExpAutoFocus sAutoFocusBeforeLoop;
    CKzStringW wsCommandBeforeLoop;
    CKzStringW wsCommandBeforeCapture;
    CKzStringW wsCommandAfterCapture;
    CKzStringW wsCommandAfterLoop;
    bool bControlShutter;
    bool bControlLight;
    bool bUseHZK;
    bool bUseHWSequencer;
    bool bUseWqRecipe;
    bool bUseIntenzityCorrection;
    SKzLIDesc* pLargeImage;   // exactly 2 descriptions, may be null
    SKzExperimentNI* pNIExperiment;
    SKzRecordedData* pRecordedData;
    SKzParallelExperiment sParallelExperiment;
    SKzExperiment** ppNextLevelEx;   // CKzAlloc block, may be null
    kz_uint32 uiNextLevelCount;
    kz_uint32 uiRepeatCount;

    // An empty level: type 0, no arrays, repeat count 0, bControlShutter true.
    SKzExperiment();
    // Releases the level's arrays and its whole subtree.
    ~SKzExperiment();
    SKzExperiment(const SKzExperiment&) = delete;
    SKzExperiment& operator=(const SKzExperiment&) = delete;

    // ---- life cycle ----------------------------------------------------------
    // 0; -4 for a null pointer; -3.
    static int Alloc(SKzExperiment** level);
    // Sets a level that holds no arrays up for a loop type: item-valid flags
    // (all set) when asked and items > 0, the item count (channels of a
    // spectral loop), periods of a non-equidistant time loop, empty child
    // slots, sample settings of a spectral loop's channel set. 0; -3.
    static int Init(SKzExperiment& level, EKzExperimentType type, bool itemValid, kz_uint32 items,
                    kz_uint32 periods, kz_uint32 children, kz_uint32 samples);
    // Releases loop arrays, flags, child pointer array (not the children),
    // side records and large-image array; type 0.
    static void Uninit(SKzExperiment& level);
    // Destroys and deletes the level and its subtree; null allowed.
    static void FreeRecursive(SKzExperiment* level);
    // Detaches the children (they stay alive), then destroys and deletes the
    // level; null allowed.
    static void Free(SKzExperiment* level);

    // ---- copies and comparison -------------------------------------------------
    // One-level copy: the copy shares the source's child levels.
    static SKzExperiment& Copy(SKzExperiment& dst, const SKzExperiment& src);
    // Copy into an existing level, without children or with deep copies of
    // all of them. 0; -4 for a null destination; -3.
    static int CopyRecursive(SKzExperiment* dst, const SKzExperiment& src, bool deep);
    // A new level copied from the source (deep or one-level). 0; -4; -3.
    static int Duplicate(SKzExperiment** copy, const SKzExperiment& src, bool deep);
    static bool IsEqual(const SKzExperiment& a, const SKzExperiment& b, bool children, bool repeatCount);
    // The valid channels of a spectral level into an empty channel set (its
    // component count 0 when the level has no channel set). 0; -4 for a null
    // or non-spectral level.
    static int ExtractValidPlanes(SKzPicturePlanes& dst, const SKzExperiment* level);
    // Frames of the tree under the level (as CKzExperimentAPI::GetAllImagesCount).
    static kz_uint32 GetPictureCount(SKzExperiment& level);

    // ---- lite form ------------------------------------------------------------------
    // Writes the level and its subtree into the open level. 0.
    static int WriteToLiteVariant(CKzLiteVariantW& writer, const SKzExperiment& level);
    // The same inside a level "SKzExperiment"; -9 when it cannot be begun.
    static int SaveToLiteVariant(CKzLiteVariantW& writer, const SKzExperiment& level);
    // Reads a level and its subtree from the entered level into a fresh level.
    // Loops keep their stored counts, zeros where elements are missing. 0; -9
    // when a level is damaged (its count would pass the loaders' array
    // bound): the tree is read all the same, that loop without items.
    static int ReadFromLiteVariant(SKzExperiment& level, CKzLiteVariantR& reader);
    // The same from the level "SKzExperiment"; -9 also when there is none.
    static int LoadFromLiteVariant(SKzExperiment& level, CKzLiteVariantR& reader);

    // ---- variant form (run type "RKzExperiment"; XML in version-2 files) -------------------
    // Run types no host registered are written member by member in the order
    // assigned and read back the same way.
    // One level without repeat count and children. 0; the code of a failing
    // side record or autofocus record.
    static int SaveToVariantOld(CKzVariant& node, const SKzExperiment& level);
    // The level, its repeat count and its subtree. The first non-zero code;
    // -9 for a tree deeper than the library walks.
    static int SaveToVariant(CKzVariant& node, const SKzExperiment& level);
    // Reads one level into a fresh level; loops keep their stored counts,
    // zeros where list elements are missing. 0; -4, the level untouched, for
    // a node of another run type; -9 for a damaged level (a count past the
    // loaders' array bound: the loop without items, nothing read after it);
    // the code of a failing "sAutoFocusBeforeLoop" or "sParallelExperiment".
    static int LoadFromVariantOld(SKzExperiment& level, const CKzVariant& node);
    // The level, its repeat count and its subtree; children that fail to
    // load are left out. The code of LoadFromVariantOld; -9 when any level
    // of the tree was damaged.
    static int LoadFromVariant(SKzExperiment& level, const CKzVariant& node);
};
