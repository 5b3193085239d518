// Input and output hardware setup: copies, comparison and both persisted forms.
#include "gnr_metaformats/SKzExperimentNI.h"
#include "gnr_metaformats/KzExperimentCommon.h"

#include <new>
#include <utility>

using kzexp::DblEq;
using kzexp::FixedEqual;
using kzexp::ReadFixed;
using kzexp::SetFixed;

namespace {

template <size_t N>
void copyText(wchar_t (&dst)[N], const wchar_t (&src)[N]) { kzexp::CopyFixed(dst, src); }

bool inputsEqual(const SKzND_NISetupInputs& a, const SKzND_NISetupInputs& b)
{
    return a.bUseEvent == b.bUseEvent && a.eEvents == b.eEvents && a.eType == b.eType &&
           FixedEqual(a.wsTTLName, b.wsTTLName) && FixedEqual(a.wsAnalogName, b.wsAnalogName) &&
           FixedEqual(a.wsCalibName, b.wsCalibName) && FixedEqual(a.wsTempName, b.wsTempName) &&
           FixedEqual(a.wsTempKey, b.wsTempKey) && FixedEqual(a.wsGasConcName, b.wsGasConcName) &&
           FixedEqual(a.wsGasConcKey, b.wsGasConcKey) && FixedEqual(a.wsCustomName, b.wsCustomName) &&
           FixedEqual(a.wsCustomKey, b.wsCustomKey) && FixedEqual(a.wsCameraTempName, b.wsCameraTempName) &&
           FixedEqual(a.wsCameraTempKey, b.wsCameraTempKey) && a.eConditionAng == b.eConditionAng &&
           a.eConditionTTL == b.eConditionTTL && DblEq(a.dValue1, b.dValue1) && DblEq(a.dValue2, b.dValue2) &&
           DblEq(a.dValue3, b.dValue3) && DblEq(a.dValue4, b.dValue4) && a.iIndex == b.iIndex &&
           DblEq(a.dHysteresis, b.dHysteresis) && FixedEqual(a.wsUnit, b.wsUnit) &&
           a.sKeepObjInViewName == b.sKeepObjInViewName && a.sKeepObjInViewCondition == b.sKeepObjInViewCondition;
}

bool outputsEqual(const SKzND_NISetupOutputs& a, const SKzND_NISetupOutputs& b)
{
    return a.bUseEvent == b.bUseEvent && a.eEvents == b.eEvents && a.eType == b.eType &&
           FixedEqual(a.wsTTLName, b.wsTTLName) && FixedEqual(a.wsAnalogName, b.wsAnalogName) &&
           FixedEqual(a.wsCalibName, b.wsCalibName) && FixedEqual(a.wsIncubationName, b.wsIncubationName) &&
           a.eConditionAng == b.eConditionAng && a.eConditionTTL == b.eConditionTTL && DblEq(a.dValue, b.dValue) &&
           DblEq(a.dPulse, b.dPulse) && DblEq(a.dTime2, b.dTime2) && a.uiNumPeriods == b.uiNumPeriods &&
           a.bInfiniti == b.bInfiniti && a.iIndex == b.iIndex && a.ePulseType == b.ePulseType &&
           FixedEqual(a.wsUnit, b.wsUnit) && a.sDescIncub == b.sDescIncub &&
           !(a.BASettingsIncub != b.BASettingsIncub) && a.bWait == b.bWait &&
           a.sInterfaceIncub == b.sInterfaceIncub && a.sLiquidControlName == b.sLiquidControlName &&
           a.iLiquidTreatment == b.iLiquidTreatment && !(a.BALiquidDefinition != b.BALiquidDefinition);
}

// ---- variant form ----------------------------------------------------------

void fixedToVariant(CKzVariant& el, const wchar_t* text, const wchar_t* name)
{
    el.Append(CKzVariant(CKzStringW(text), CKzStringW(name)));
}

CKzVariant inputToVariant(const SKzND_NISetupInputs& e)
{
    CKzVariant el;
    el.EnableTypeChange(true);
    el.Append(CKzVariant(e.bUseEvent, CKzStringW(L"bUseEvent")));
    el.Append(CKzVariant((int)e.eEvents, CKzStringW(L"eEvents")));
    el.Append(CKzVariant((int)e.eType, CKzStringW(L"eType")));
    fixedToVariant(el, e.wsTTLName, L"wsTTLName");
    fixedToVariant(el, e.wsAnalogName, L"wsAnalogName");
    fixedToVariant(el, e.wsCalibName, L"wsCalibName");
    fixedToVariant(el, e.wsTempName, L"wsTempName");
    fixedToVariant(el, e.wsTempKey, L"wsTempKey");
    fixedToVariant(el, e.wsGasConcName, L"wsGasConcName");
    fixedToVariant(el, e.wsGasConcKey, L"wsGasConcKey");
    fixedToVariant(el, e.wsCustomName, L"wsCustomName");
    fixedToVariant(el, e.wsCustomKey, L"wsCustomKey");
    fixedToVariant(el, e.wsCameraTempName, L"wsCameraTempName");
    fixedToVariant(el, e.wsCameraTempKey, L"wsCameraTempKey");
    el.Append(CKzVariant((int)e.eConditionAng, CKzStringW(L"eConditionAng")));
    el.Append(CKzVariant((int)e.eConditionTTL, CKzStringW(L"eConditionTTL")));
    el.Append(CKzVariant(e.dValue1, CKzStringW(L"dValue1")));
    el.Append(CKzVariant(e.dValue2, CKzStringW(L"dValue2")));
    el.Append(CKzVariant(e.dValue3, CKzStringW(L"dValue3")));
    el.Append(CKzVariant(e.dValue4, CKzStringW(L"dValue4")));
    el.Append(CKzVariant((int)e.iIndex, CKzStringW(L"iIndex")));
    el.Append(CKzVariant(e.dHysteresis, CKzStringW(L"dHysteresis")));
    fixedToVariant(el, e.wsUnit, L"wsUnit");
    el.Append(CKzVariant(e.sKeepObjInViewName, CKzStringW(L"sKeepObjInViewName")));
    el.Append(CKzVariant(e.sKeepObjInViewCondition, CKzStringW(L"sKeepObjInViewCondition")));
    return el;
}

CKzVariant outputToVariant(const SKzND_NISetupOutputs& e)
{
    CKzVariant el;
    el.EnableTypeChange(true);
    el.Append(CKzVariant(e.bUseEvent, CKzStringW(L"bUseEvent")));
    el.Append(CKzVariant((int)e.eEvents, CKzStringW(L"eEvents")));
    el.Append(CKzVariant((int)e.eType, CKzStringW(L"eType")));
    fixedToVariant(el, e.wsTTLName, L"wsTTLName");
    fixedToVariant(el, e.wsAnalogName, L"wsAnalogName");
    fixedToVariant(el, e.wsCalibName, L"wsCalibName");
    fixedToVariant(el, e.wsIncubationName, L"wsIncubationName");
    el.Append(CKzVariant((int)e.eConditionAng, CKzStringW(L"eConditionAng")));
    el.Append(CKzVariant((int)e.eConditionTTL, CKzStringW(L"eConditionTTL")));
    el.Append(CKzVariant(e.dValue, CKzStringW(L"dValue")));
    el.Append(CKzVariant(e.dPulse, CKzStringW(L"dPulse")));
    el.Append(CKzVariant(e.dTime2, CKzStringW(L"dTime2")));
    el.Append(CKzVariant(e.bInfiniti, CKzStringW(L"bInfiniti")));
    el.Append(CKzVariant((unsigned)e.uiNumPeriods, CKzStringW(L"uiNumPeriods")));
    el.Append(CKzVariant((int)e.iIndex, CKzStringW(L"iIndex")));
    el.Append(CKzVariant((int)e.ePulseType, CKzStringW(L"ePulseType")));
    fixedToVariant(el, e.wsUnit, L"wsUnit");
    el.Append(CKzVariant(e.sDescIncub, CKzStringW(L"sDescIncub")));
    el.Append(CKzVariant(e.BASettingsIncub, CKzStringW(L"BASettingsIncub")));
    el.Append(CKzVariant(e.bWait, CKzStringW(L"bWait")));
    el.Append(CKzVariant(e.sInterfaceIncub, CKzStringW(L"sInterfaceIncub")));
    el.Append(CKzVariant(e.sLiquidControlName, CKzStringW(L"sLiquidControlName")));
    el.Append(CKzVariant((int)e.iLiquidTreatment, CKzStringW(L"iLiquidTreatment")));
    el.Append(CKzVariant(e.BALiquidDefinition, CKzStringW(L"BALiquidDefinition")));
    return el;
}

void fixedFromVariant(const CKzVariant& el, const wchar_t* name, wchar_t* dst, size_t cap)
{
    CKzStringW s = el[name].GetCKzStringW();
    SetFixed(dst, cap, s.GetString());
}

void inputFromVariant(SKzND_NISetupInputs& e, const CKzVariant& el)
{
    e.bUseEvent = el[L"bUseEvent"].GetBool();
    e.eEvents = (EKzNIEvents)kzexp::VarI32(el[L"eEvents"]);
    e.eType = (EKzNIType)kzexp::VarI32(el[L"eType"]);
    fixedFromVariant(el, L"wsTTLName", e.wsTTLName, 256);
    fixedFromVariant(el, L"wsAnalogName", e.wsAnalogName, 256);
    fixedFromVariant(el, L"wsCalibName", e.wsCalibName, 256);
    fixedFromVariant(el, L"wsTempName", e.wsTempName, 256);
    fixedFromVariant(el, L"wsTempKey", e.wsTempKey, 256);
    fixedFromVariant(el, L"wsGasConcName", e.wsGasConcName, 256);
    fixedFromVariant(el, L"wsGasConcKey", e.wsGasConcKey, 256);
    fixedFromVariant(el, L"wsCustomName", e.wsCustomName, 256);
    fixedFromVariant(el, L"wsCustomKey", e.wsCustomKey, 256);
    fixedFromVariant(el, L"wsCameraTempName", e.wsCameraTempName, 256);
    fixedFromVariant(el, L"wsCameraTempKey", e.wsCameraTempKey, 256);
    e.eConditionAng = (EKzNICondition)kzexp::VarI32(el[L"eConditionAng"]);
    e.eConditionTTL = (EKzNICondition)kzexp::VarI32(el[L"eConditionTTL"]);
    e.dValue1 = el[L"dValue1"].GetDouble();
    e.dValue2 = el[L"dValue2"].GetDouble();
    e.dValue3 = el[L"dValue3"].GetDouble();
    e.dValue4 = el[L"dValue4"].GetDouble();
    e.iIndex = kzexp::VarI32(el[L"iIndex"]);
    e.dHysteresis = el[L"dHysteresis"].GetDouble();
    fixedFromVariant(el, L"wsUnit", e.wsUnit, 256);
    e.sKeepObjInViewName = el[L"sKeepObjInViewName"].GetCKzStringW();
    e.sKeepObjInViewCondition = el[L"sKeepObjInViewCondition"].GetCKzStringW();
}

void outputFromVariant(SKzND_NISetupOutputs& e, const CKzVariant& el)
{
    e.bUseEvent = el[L"bUseEvent"].GetBool();
    e.eEvents = (EKzNIEvents)kzexp::VarI32(el[L"eEvents"]);
    e.eType = (EKzNIType)kzexp::VarI32(el[L"eType"]);
    fixedFromVariant(el, L"wsTTLName", e.wsTTLName, 256);
    fixedFromVariant(el, L"wsAnalogName", e.wsAnalogName, 256);
    fixedFromVariant(el, L"wsCalibName", e.wsCalibName, 256);
    fixedFromVariant(el, L"wsIncubationName", e.wsIncubationName, 256);
    e.eConditionAng = (EKzNICondition)kzexp::VarI32(el[L"eConditionAng"]);
    e.eConditionTTL = (EKzNICondition)kzexp::VarI32(el[L"eConditionTTL"]);
    e.dValue = el[L"dValue"].GetDouble();
    e.dPulse = el[L"dPulse"].GetDouble();
    e.dTime2 = el[L"dTime2"].GetDouble();
    e.bInfiniti = el[L"bInfiniti"].GetBool();
    e.uiNumPeriods = el[L"uiNumPeriods"].GetKz_uint32();
    e.iIndex = kzexp::VarI32(el[L"iIndex"]);
    e.ePulseType = (EKzNIPulseType)kzexp::VarI32(el[L"ePulseType"]);
    fixedFromVariant(el, L"wsUnit", e.wsUnit, 256);
    e.sDescIncub = el[L"sDescIncub"].GetCKzStringW();
    e.BASettingsIncub = el[L"BASettingsIncub"].GetCKzByteArray();
    e.bWait = el[L"bWait"].GetBool();
    e.sInterfaceIncub = el[L"sInterfaceIncub"].GetCKzStringW();
    e.sLiquidControlName = el[L"sLiquidControlName"].GetCKzStringW();
    e.iLiquidTreatment = kzexp::VarI32(el[L"iLiquidTreatment"]);
    e.BALiquidDefinition = el[L"BALiquidDefinition"].GetCKzByteArray();
}

// A vector member that is a list: one element per child, children without a
// value leaving their element as it was.
template <class T, class F>
void vectorFromVariant(std::vector<T>& vec, const CKzVariant& node, F readOne)
{
    const int n = node.GetCount();
    if (n < 0) return;
    vec.resize((size_t)n);
    for (int i = 0; i < n; ++i) {
        const CKzVariant* c = node.IndexPtr(i);
        if (c && !c->IsUndefined()) readOne(vec[(size_t)i], *c);
    }
}

// ---- lite form ----------------------------------------------------------------

void inputToLite(CKzLiteVariantW& w, const SKzND_NISetupInputs& e)
{
    w.Set(e.bUseEvent, L"bUseEvent");
    w.Set((int)e.eEvents, L"eEvents");
    w.Set((int)e.eType, L"eType");
    w.Set(e.wsTTLName, L"wsTTLName");
    w.Set(e.wsAnalogName, L"wsAnalogName");
    w.Set(e.wsCalibName, L"wsCalibName");
    w.Set(e.wsTempName, L"wsTempName");
    w.Set(e.wsTempKey, L"wsTempKey");
    w.Set(e.wsGasConcName, L"wsGasConcName");
    w.Set(e.wsGasConcKey, L"wsGasConcKey");
    w.Set(e.wsCustomName, L"wsCustomName");
    w.Set(e.wsCustomKey, L"wsCustomKey");
    w.Set(e.wsCameraTempName, L"wsCameraTempName");
    w.Set(e.wsCameraTempKey, L"wsCameraTempKey");
    w.Set((int)e.eConditionAng, L"eConditionAng");
    w.Set((int)e.eConditionTTL, L"eConditionTTL");
    w.Set(e.dValue1, L"dValue1");
    w.Set(e.dValue2, L"dValue2");
    w.Set(e.dValue3, L"dValue3");
    w.Set(e.dValue4, L"dValue4");
    w.Set((int)e.iIndex, L"iIndex");
    w.Set(e.dHysteresis, L"dHysteresis");
    w.Set(e.wsUnit, L"wsUnit");
    w.Set(e.sKeepObjInViewName.GetString(), L"sKeepObjInViewName");
    w.Set(e.sKeepObjInViewCondition.GetString(), L"sKeepObjInViewCondition");
}

void outputToLite(CKzLiteVariantW& w, const SKzND_NISetupOutputs& e)
{
    w.Set(e.bUseEvent, L"bUseEvent");
    w.Set((int)e.eEvents, L"eEvents");
    w.Set((int)e.eType, L"eType");
    w.Set(e.wsTTLName, L"wsTTLName");
    w.Set(e.wsAnalogName, L"wsAnalogName");
    w.Set(e.wsCalibName, L"wsCalibName");
    w.Set(e.wsIncubationName, L"wsIncubationName");
    w.Set((int)e.eConditionAng, L"eConditionAng");
    w.Set((int)e.eConditionTTL, L"eConditionTTL");
    w.Set(e.dValue, L"dValue");
    w.Set(e.dPulse, L"dPulse");
    w.Set(e.dTime2, L"dTime2");
    w.Set(e.bInfiniti, L"bInfiniti");
    w.Set((unsigned)e.uiNumPeriods, L"uiNumPeriods");
    w.Set((int)e.iIndex, L"iIndex");
    w.Set((int)e.ePulseType, L"ePulseType");
    w.Set(e.wsUnit, L"wsUnit");
    w.Set(e.sDescIncub.GetString(), L"sDescIncub");
    w.Set(e.BASettingsIncub, L"BASettingsIncub");
    w.Set(e.bWait, L"bWait");
    w.Set(e.sInterfaceIncub.GetString(), L"sInterfaceIncub");
    w.Set(e.sLiquidControlName.GetString(), L"sLiquidControlName");
    w.Set((int)e.iLiquidTreatment, L"iLiquidTreatment");
    w.Set(e.BALiquidDefinition, L"BALiquidDefinition");
}

void inputFromLite(SKzND_NISetupInputs& e, CKzLiteVariantR& r)
{
    CKzStringW s;
    e.bUseEvent = r.Get(L"bUseEvent", true);
    e.eEvents = (EKzNIEvents)r.Get(L"eEvents", 0);
    e.eType = (EKzNIType)r.Get(L"eType", 0);
    ReadFixed(r, L"wsTTLName", e.wsTTLName);
    ReadFixed(r, L"wsAnalogName", e.wsAnalogName);
    ReadFixed(r, L"wsCalibName", e.wsCalibName);
    ReadFixed(r, L"wsTempName", e.wsTempName);
    ReadFixed(r, L"wsTempKey", e.wsTempKey);
    ReadFixed(r, L"wsGasConcName", e.wsGasConcName);
    ReadFixed(r, L"wsGasConcKey", e.wsGasConcKey);
    ReadFixed(r, L"wsCustomName", e.wsCustomName);
    ReadFixed(r, L"wsCustomKey", e.wsCustomKey);
    ReadFixed(r, L"wsCameraTempName", e.wsCameraTempName);
    ReadFixed(r, L"wsCameraTempKey", e.wsCameraTempKey);
    e.eConditionAng = (EKzNICondition)r.Get(L"eConditionAng", 0);
    e.eConditionTTL = (EKzNICondition)r.Get(L"eConditionTTL", 0);
    e.dValue1 = r.Get(L"dValue1", 0.0);
    e.dValue2 = r.Get(L"dValue2", 0.0);
    e.dValue3 = r.Get(L"dValue3", 0.0);
    e.dValue4 = r.Get(L"dValue4", 0.0);
    e.iIndex = r.Get(L"iIndex", 1);
    e.dHysteresis = r.Get(L"dHysteresis", 0.0);
    ReadFixed(r, L"wsUnit", e.wsUnit);
    r.GetCKzStringW(e.sKeepObjInViewName, L"sKeepObjInViewName", L"");
    r.GetCKzStringW(e.sKeepObjInViewCondition, L"sKeepObjInViewCondition", L"");
}

void outputFromLite(SKzND_NISetupOutputs& e, CKzLiteVariantR& r)
{
    e.bUseEvent = r.Get(L"bUseEvent", true);
    e.eEvents = (EKzNIEvents)r.Get(L"eEvents", 0);
    e.eType = (EKzNIType)r.Get(L"eType", 0);
    ReadFixed(r, L"wsTTLName", e.wsTTLName);
    ReadFixed(r, L"wsAnalogName", e.wsAnalogName);
    ReadFixed(r, L"wsCalibName", e.wsCalibName);
    ReadFixed(r, L"wsIncubationName", e.wsIncubationName);
    e.eConditionAng = (EKzNICondition)r.Get(L"eConditionAng", 0);
    e.eConditionTTL = (EKzNICondition)r.Get(L"eConditionTTL", 0);
    e.dValue = r.Get(L"dValue", 0.0);
    e.dPulse = r.Get(L"dPulse", 0.0);
    e.dTime2 = r.Get(L"dTime2", 1.0);
    e.bInfiniti = r.Get(L"bInfiniti", false);
    e.uiNumPeriods = r.Get(L"uiNumPeriods", 1u);
    e.iIndex = r.Get(L"iIndex", 1);
    e.ePulseType = (EKzNIPulseType)r.Get(L"ePulseType", 1);
    ReadFixed(r, L"wsUnit", e.wsUnit);
    r.GetCKzStringW(e.sDescIncub, L"sDescIncub", L"");
    r.Get(L"BASettingsIncub", e.BASettingsIncub);
    e.bWait = r.Get(L"bWait", true);
    r.GetCKzStringW(e.sInterfaceIncub, L"sInterfaceIncub", L"");
    r.GetCKzStringW(e.sLiquidControlName, L"sLiquidControlName", L"");
    e.iLiquidTreatment = r.Get(L"iLiquidTreatment", 0);
    r.Get(L"BALiquidDefinition", e.BALiquidDefinition);
}

template <class T, class F>
void vectorToLite(CKzLiteVariantW& w, const wchar_t* name, const std::vector<T>& vec, F writeOne)
{
    if (w.LevelBegin(name) != KZ_OK) return;
    w.Set((int)vec.size(), L"size");
    if (w.LevelBegin(L"values") == KZ_OK) {
        for (const T& e : vec) {
            if (w.LevelBegin(L"") != KZ_OK) continue;
            writeOne(w, e);
            w.LevelEnd();
        }
        w.LevelEnd();
    }
    w.LevelEnd();
}

} // namespace


// ---- elements ------------------------------------------------------------------

SKzND_NISetupInputs::SKzND_NISetupInputs()
    : bUseEvent(false), eEvents(), eType(), eConditionAng(), eConditionTTL(), dValue1(0), dValue2(0), dValue3(0),
      dValue4(0), iIndex(0), dHysteresis(0)
{
    wsTTLName[0] = wsAnalogName[0] = wsCalibName[0] = wsTempName[0] = wsTempKey[0] = 0;
    wsGasConcName[0] = wsGasConcKey[0] = wsCustomName[0] = wsCustomKey[0] = 0;
    wsCameraTempName[0] = wsCameraTempKey[0] = wsUnit[0] = 0;
}

SKzND_NISetupInputs::~SKzND_NISetupInputs() {}

SKzND_NISetupInputs& SKzND_NISetupInputs::operator=(const SKzND_NISetupInputs& o)
{
    if (this == &o) return *this;
    bUseEvent = o.bUseEvent;
    eEvents = o.eEvents;
    eType = o.eType;
    copyText(wsTTLName, o.wsTTLName);
    copyText(wsAnalogName, o.wsAnalogName);
    copyText(wsCalibName, o.wsCalibName);
    copyText(wsTempName, o.wsTempName);
    copyText(wsTempKey, o.wsTempKey);
    copyText(wsGasConcName, o.wsGasConcName);
    copyText(wsGasConcKey, o.wsGasConcKey);
    copyText(wsCustomName, o.wsCustomName);
    copyText(wsCustomKey, o.wsCustomKey);
    copyText(wsCameraTempName, o.wsCameraTempName);
    copyText(wsCameraTempKey, o.wsCameraTempKey);
    eConditionAng = o.eConditionAng;
    eConditionTTL = o.eConditionTTL;
    dValue1 = o.dValue1;
    dValue2 = o.dValue2;
    dValue3 = o.dValue3;
    dValue4 = o.dValue4;
    iIndex = o.iIndex;
    dHysteresis = o.dHysteresis;
    copyText(wsUnit, o.wsUnit);
    sKeepObjInViewName = o.sKeepObjInViewName;
    sKeepObjInViewCondition = o.sKeepObjInViewCondition;
    return *this;
}

SKzND_NISetupOutputs::SKzND_NISetupOutputs()
    : bUseEvent(true), eEvents(), eType(), eConditionAng(), eConditionTTL(), dValue(0), dPulse(0), dTime2(1.0),
      uiNumPeriods(1), bInfiniti(false), iIndex(1), ePulseType((EKzNIPulseType)1), BASettingsIncub(0), bWait(true),
      iLiquidTreatment(0), BALiquidDefinition(0)
{
    wsTTLName[0] = wsAnalogName[0] = wsCalibName[0] = wsIncubationName[0] = wsUnit[0] = 0;
}

SKzND_NISetupOutputs::~SKzND_NISetupOutputs() {}

SKzND_NISetupOutputs& SKzND_NISetupOutputs::operator=(const SKzND_NISetupOutputs& o)
{
    if (this == &o) return *this;
    bUseEvent = o.bUseEvent;
    eEvents = o.eEvents;
    eType = o.eType;
    copyText(wsTTLName, o.wsTTLName);
    copyText(wsAnalogName, o.wsAnalogName);
    copyText(wsCalibName, o.wsCalibName);
    copyText(wsIncubationName, o.wsIncubationName);
    eConditionAng = o.eConditionAng;
    eConditionTTL = o.eConditionTTL;
    dValue = o.dValue;
    dPulse = o.dPulse;
    dTime2 = o.dTime2;
    uiNumPeriods = o.uiNumPeriods;
    bInfiniti = o.bInfiniti;
    iIndex = o.iIndex;
    ePulseType = o.ePulseType;
    copyText(wsUnit, o.wsUnit);
    sDescIncub = o.sDescIncub;
    BASettingsIncub = o.BASettingsIncub;
    bWait = o.bWait;
    sInterfaceIncub = o.sInterfaceIncub;
    sLiquidControlName = o.sLiquidControlName;
    iLiquidTreatment = o.iLiquidTreatment;
    BALiquidDefinition = o.BALiquidDefinition;
    return *this;
}

// ---- setup -----------------------------------------------------------------------

SKzExperimentNI::SKzExperimentNI() : bIgnoreSetup(false) {}

SKzExperimentNI::~SKzExperimentNI() {}

SKzExperimentNI& SKzExperimentNI::operator=(const SKzExperimentNI& o)
{
    if (this == &o) return *this;
    try {
        std::vector<SKzND_NISetupInputs> in(o.VectorNISetupInputs);
        std::vector<SKzND_NISetupOutputs> out(o.VectorNISetupOutputs);
        VectorNISetupInputs.swap(in);
        VectorNISetupOutputs.swap(out);
        bIgnoreSetup = o.bIgnoreSetup;
    } catch (...) {
    }
    return *this;
}

bool SKzExperimentNI::operator==(const SKzExperimentNI& o) const
{
    if (bIgnoreSetup != o.bIgnoreSetup) return false;
    if (VectorNISetupInputs.size() != o.VectorNISetupInputs.size()) return false;
    if (VectorNISetupOutputs.size() != o.VectorNISetupOutputs.size()) return false;
    for (size_t i = 0; i < VectorNISetupInputs.size(); ++i)
        if (!inputsEqual(VectorNISetupInputs[i], o.VectorNISetupInputs[i])) return false;
    for (size_t i = 0; i < VectorNISetupOutputs.size(); ++i)
        if (!outputsEqual(VectorNISetupOutputs[i], o.VectorNISetupOutputs[i])) return false;
    return true;
}

int SKzExperimentNI::Free(SKzExperimentNI& s)
{
    std::vector<SKzND_NISetupInputs>().swap(s.VectorNISetupInputs);
    std::vector<SKzND_NISetupOutputs>().swap(s.VectorNISetupOutputs);
    return KZ_OK;
}

int SKzExperimentNI::SaveToVariant(CKzVariant& v, const SKzExperimentNI& s)
{
    const bool old = v.EnableTypeChange(true);
    int r = KZ_OK;
    try {
        v.Append(CKzVariant(s.bIgnoreSetup, CKzStringW(L"bIgnoreSetup")));
        CKzVariant in;
        in.SetName(CKzStringW(L"VectorNISetupInputs"));
        for (const auto& e : s.VectorNISetupInputs) in.Append(inputToVariant(e));
        v.Append(in);
        CKzVariant out;
        out.SetName(CKzStringW(L"VectorNISetupOutputs"));
        for (const auto& e : s.VectorNISetupOutputs) out.Append(outputToVariant(e));
        v.Append(out);
    } catch (...) {
        r = KZ_ERR_OUT_OF_MEMORY;
    }
    v.EnableTypeChange(old);
    return r;
}

int SKzExperimentNI::LoadFromVariant(SKzExperimentNI& s, const CKzVariant& v)
{
    try {
        s.bIgnoreSetup = v[L"bIgnoreSetup"].GetBool();
        vectorFromVariant(s.VectorNISetupInputs, v[L"VectorNISetupInputs"], inputFromVariant);
        vectorFromVariant(s.VectorNISetupOutputs, v[L"VectorNISetupOutputs"], outputFromVariant);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

int SKzExperimentNI::SaveToLiteVariant(CKzLiteVariantW& w, const SKzExperimentNI& s)
{
    w.Set(s.bIgnoreSetup, L"bIgnoreSetup");
    vectorToLite(w, L"VectorNISetupInputs", s.VectorNISetupInputs, inputToLite);
    vectorToLite(w, L"VectorNISetupOutputs", s.VectorNISetupOutputs, outputToLite);
    return KZ_OK;
}

int SKzExperimentNI::LoadFromLiteVariant(SKzExperimentNI& s, CKzLiteVariantR& r)
{
    try {
        s.bIgnoreSetup = r.Get(L"bIgnoreSetup", false);
        if (r.LevelBegin(L"VectorNISetupInputs") == KZ_OK) {
            const u32 n = r.Get(L"size", 0u);
            kzexp::VectorFromLite(r, s.VectorNISetupInputs, n, L"values", inputFromLite);
            r.LevelEnd();
        }
        if (r.LevelBegin(L"VectorNISetupOutputs") == KZ_OK) {
            const u32 n = r.Get(L"size", 0u);
            kzexp::VectorFromLite(r, s.VectorNISetupOutputs, n, L"values", outputFromLite);
            r.LevelEnd();
        }
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}
