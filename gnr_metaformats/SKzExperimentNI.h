// Input and output hardware setup an experiment ran with: input definitions
// (TTL and analog inputs, conditions, readings) and output definitions (TTL,
// analog and incubation outputs, pulses, liquid control). The library stores,
// compares, copies and persists every field and interprets none of them.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzByteArray.h"

#include <vector>

class CKzVariant;
class CKzLiteVariantW;
class CKzLiteVariantR;

// Enumerations of the setup; files carry any 32-bit value, so each has a fixed
// 32-bit underlying type and no named values of its own.
enum EKzNIEvents : kz_int32 {};
enum EKzNIType : kz_int32 {};
enum EKzNICondition : kz_int32 {};
enum EKzNIPulseType : kz_int32 {};

struct KZ_EXPORT SKzND_NISetupInputs {
    bool bUseEvent;
    EKzNIEvents eEvents;
    EKzNIType eType;
    wchar_t wsTTLName[256];
    wchar_t wsAnalogName[256];
    wchar_t wsCalibName[256];
    wchar_t wsTempName[256];
    wchar_t wsTempKey[256];
    wchar_t wsGasConcName[256];
    wchar_t wsGasConcKey[256];
    wchar_t wsCustomName[256];
    wchar_t wsCustomKey[256];
    wchar_t wsCameraTempName[256];
    wchar_t wsCameraTempKey[256];
    EKzNICondition eConditionAng;
    EKzNICondition eConditionTTL;
    double dValue1;
    double dValue2;
    double dValue3;
    double dValue4;
    kz_int32 iIndex;
    double dHysteresis;
    wchar_t wsUnit[256];
    CKzStringW sKeepObjInViewName;
    CKzStringW sKeepObjInViewCondition;

    // Empty texts; every other field 0.
    SKzND_NISetupInputs();
    SKzND_NISetupInputs(const SKzND_NISetupInputs& other) = default;
    ~SKzND_NISetupInputs();
    SKzND_NISetupInputs& operator=(const SKzND_NISetupInputs& other);
};

struct KZ_EXPORT SKzND_NISetupOutputs {
    bool bUseEvent;
    EKzNIEvents eEvents;
    EKzNIType eType;
    wchar_t wsTTLName[256];
    wchar_t wsAnalogName[256];
    wchar_t wsCalibName[256];
    wchar_t wsIncubationName[256];
    EKzNICondition eConditionAng;
    EKzNICondition eConditionTTL;
    double dValue;
    double dPulse;
    double dTime2;
    kz_uint32 uiNumPeriods;
    bool bInfiniti;
    kz_int32 iIndex;
    EKzNIPulseType ePulseType;
    wchar_t wsUnit[256];
    CKzStringW sDescIncub;
    CKzByteArray BASettingsIncub;
    bool bWait;
    CKzStringW sInterfaceIncub;
    CKzStringW sLiquidControlName;
    kz_int32 iLiquidTreatment;
    CKzByteArray BALiquidDefinition;

    // bUseEvent true, dTime2 1.0, uiNumPeriods 1, iIndex 1, ePulseType 1,
    // bWait true; everything else 0 or empty.
    SKzND_NISetupOutputs();
    SKzND_NISetupOutputs(const SKzND_NISetupOutputs& other) = default;
    ~SKzND_NISetupOutputs();
    SKzND_NISetupOutputs& operator=(const SKzND_NISetupOutputs& other);
};

struct KZ_EXPORT SKzExperimentNI {
    std::vector<SKzND_NISetupInputs> VectorNISetupInputs;
    std::vector<SKzND_NISetupOutputs> VectorNISetupOutputs;
    bool bIgnoreSetup;

    SKzExperimentNI();
    SKzExperimentNI(const SKzExperimentNI& other) = default;
    ~SKzExperimentNI();
    // Replaces both vectors by copies of the source's elements and copies the
    // flag. If memory runs out the destination keeps what it held.
    SKzExperimentNI& operator=(const SKzExperimentNI& other);
    // Equal flag, equal lengths and equal elements position by position;
    // doubles differ only when one is less or greater than the other.
    bool operator==(const SKzExperimentNI& other) const;

    // Empties both vectors; the flag stays. 0.
    static int Free(SKzExperimentNI& setup);

    // Members "bIgnoreSetup", "VectorNISetupInputs", "VectorNISetupOutputs"
    // appended to the node. 0 (-3 when memory runs out).
    static int SaveToVariant(CKzVariant& variant, const SKzExperimentNI& setup);
    // Reads the members by name; a vector member that is no list leaves its
    // vector unchanged. 0 (-3 when memory runs out).
    static int LoadFromVariant(SKzExperimentNI& setup, const CKzVariant& variant);
    // Records written into the open level. 0.
    static int SaveToLiteVariant(CKzLiteVariantW& writer, const SKzExperimentNI& setup);
    // Reads from the entered level. A vector holds at most the elements stored
    // under "values" (never more than "size"). 0 (-3 when memory runs out).
    static int LoadFromLiteVariant(SKzExperimentNI& setup, CKzLiteVariantR& reader);
};
