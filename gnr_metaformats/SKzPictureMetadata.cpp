#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_metaformats/KzMetaInternal.h"
#include "gnr_system/CKzDateTime.h"

#include <cmath>
#include <new>

namespace {

SKzPhysicalVar* NewVars(unsigned n)
{
    if (n == 0) return nullptr;
    try {
        return new (std::nothrow) SKzPhysicalVar[n];
    } catch (...) {
        return nullptr;
    }
}

} // namespace

SKzPictureMetadata::SKzPictureMetadata()
    : dTimeAbsolute(-1.0), dTimeMSec(-1.0), dXPos(-1.0), dYPos(-1.0), uiRow(0xFFFFFFFFu), uiCol(0xFFFFFFFFu),
      dZPos(-1.0), bZPosAbsolute(false), dAngle(-1.0), dTemperK(-1.0), dCalibration(-1.0), dAspect(-1.0),
      bCalibrated(false), dObjectiveMag(-1.0), dObjectiveNA(-1.0), dRefractIndex1(-1.0), dRefractIndex2(-1.0),
      dZoom(-1.0), dProjectiveMag(-1.0), pPhysicalVar(nullptr), uiPhysicalVarCount(0), ePictureXAxis(0),
      ePictureYAxis(1), dTimeAxisCalibration(-1.0), dZAxisCalibration(-1.0), dStgLgCT11(1.0), dStgLgCT21(0.0),
      dStgLgCT12(0.0), dStgLgCT22(1.0)
{
}

SKzPictureMetadata::SKzPictureMetadata(const SKzPictureMetadata& src) : SKzPictureMetadata()
{
    Copy(*this, src);
}

SKzPictureMetadata::~SKzPictureMetadata()
{
    ReleaseVars();
    SKzPicturePlanes::Free(sPicturePlanes);
}

void SKzPictureMetadata::ReleaseVars()
{
    delete[] pPhysicalVar;
    pPhysicalVar = nullptr;
    uiPhysicalVarCount = 0;
}

void SKzPictureMetadata::SetToDefault()
{
    dTimeMSec = 0.0;
    // A Julian day, as every reader of the field expects.
    dTimeAbsolute = CKzDateTime::UNow().GetJulianDayNumber();
    dXPos = dYPos = dZPos = dAngle = 0.0;
    uiRow = uiCol = 0;
    bZPosAbsolute = bCalibrated = false;
    dTemperK = 293.0;
    dCalibration = dAspect = dObjectiveMag = dObjectiveNA = dRefractIndex1 = dRefractIndex2 = dZoom = dProjectiveMag =
        dTimeAxisCalibration = dZAxisCalibration = -1.0;
    wsObjectiveName.Empty();
    wsCustomData.Empty();
    ePictureXAxis = 0;
    ePictureYAxis = 1;
    dStgLgCT11 = dStgLgCT22 = 1.0;
    dStgLgCT21 = dStgLgCT12 = 0.0;
    ReleaseVars();
    SKzPicturePlanes::Free(sPicturePlanes);
}

int SKzPictureMetadata::Copy(SKzPictureMetadata& dst, const SKzPictureMetadata& src)
{
    if (&dst == &src) return src.sPicturePlanes.uiCount && src.sPicturePlanes.pPlanes && src.sPicturePlanes.uiSampleCount &&
                                      src.sPicturePlanes.pSamples ? KZ_OK : KZ_ERR_INVALID_ARG;
    dst.ReleaseVars();
    dst.dTimeAbsolute = src.dTimeAbsolute;
    dst.dTimeMSec = src.dTimeMSec;
    dst.dXPos = src.dXPos;
    dst.dYPos = src.dYPos;
    dst.uiRow = src.uiRow;
    dst.uiCol = src.uiCol;
    dst.dZPos = src.dZPos;
    dst.bZPosAbsolute = src.bZPosAbsolute;
    dst.dAngle = src.dAngle;
    dst.dTemperK = src.dTemperK;
    dst.dCalibration = src.dCalibration;
    dst.dAspect = src.dAspect;
    dst.bCalibrated = src.bCalibrated;
    dst.wsObjectiveName = src.wsObjectiveName;
    dst.dObjectiveMag = src.dObjectiveMag;
    dst.dObjectiveNA = src.dObjectiveNA;
    dst.dRefractIndex1 = src.dRefractIndex1;
    dst.dRefractIndex2 = src.dRefractIndex2;
    dst.dZoom = src.dZoom;
    dst.dProjectiveMag = src.dProjectiveMag;
    dst.wsCustomData = src.wsCustomData;
    dst.ePictureXAxis = src.ePictureXAxis;
    dst.ePictureYAxis = src.ePictureYAxis;
    dst.dTimeAxisCalibration = src.dTimeAxisCalibration;
    dst.dZAxisCalibration = src.dZAxisCalibration;
    dst.dStgLgCT11 = src.dStgLgCT11;
    dst.dStgLgCT21 = src.dStgLgCT21;
    dst.dStgLgCT12 = src.dStgLgCT12;
    dst.dStgLgCT22 = src.dStgLgCT22;
    dst.sPicturePlanes.sDescription = src.sPicturePlanes.sDescription;
    dst.sPicturePlanes.eRepresentation = src.sPicturePlanes.eRepresentation;
    const int r = SKzPicturePlanes::Copy(dst.sPicturePlanes, src.sPicturePlanes);
    if (r != KZ_OK || src.uiPhysicalVarCount == 0 || !src.pPhysicalVar) return r;
    SKzPhysicalVar* v = NewVars(src.uiPhysicalVarCount);
    if (!v) return KZ_ERR_OUT_OF_MEMORY;
    for (unsigned i = 0; i < src.uiPhysicalVarCount; ++i) {
        v[i].wsName = src.pPhysicalVar[i].wsName;
        v[i].uiIntepretation = src.pPhysicalVar[i].uiIntepretation;
        v[i].dValue = src.pPhysicalVar[i].dValue;
    }
    dst.pPhysicalVar = v;
    dst.uiPhysicalVarCount = src.uiPhysicalVarCount;
    return KZ_OK;
}

int SKzPictureMetadata::SetCalibration(SKzPictureMetadata& md, double calibration, double aspect,
                                       const wchar_t* objectiveName, double factorX, double factorY,
                                       double projectiveMag, double zoom)
{
    if (projectiveMag == 0.0 || std::isnan(projectiveMag)) projectiveMag = 1.0;
    if (zoom == 0.0 || std::isnan(zoom)) zoom = 1.0;
    if (!(factorX > 0)) factorX = 1.0;
    if (!(factorY > 0)) factorY = 1.0;
    md.bCalibrated = calibration != 0.0 && !std::isnan(calibration);
    md.dCalibration = calibration * factorX / (zoom * projectiveMag);
    md.dAspect = (factorY / factorX) * aspect;
    md.wsObjectiveName = objectiveName ? objectiveName : L"";
    md.dProjectiveMag = projectiveMag;
    md.dZoom = zoom;
    if (!md.bCalibrated) {
        md.ePictureXAxis = 0;
        md.ePictureYAxis = 1;
        md.dTimeAxisCalibration = -1.0;
        md.dZAxisCalibration = -1.0;
    }
    return KZ_OK;
}

// ---- variant form -----------------------------------------------------------------

int SKzPictureMetadata::SaveToVariant(CKzVariant& node, const SKzPictureMetadata& md)
{
    kzmeta::BeginStruct(node, "RKzPictureMetadata");
    node[L"dTimeMSec"] = md.dTimeMSec;
    node[L"dTimeAbsolute"] = md.dTimeAbsolute;
    node[L"dXPos"] = md.dXPos;
    node[L"dYPos"] = md.dYPos;
    node[L"uiRow"] = static_cast<unsigned int>(md.uiRow);
    node[L"uiCol"] = static_cast<unsigned int>(md.uiCol);
    node[L"dZPos"] = md.dZPos;
    node[L"bZPosAbsolute"] = md.bZPosAbsolute;
    node[L"dAngle"] = md.dAngle;
    if (SKzPicturePlanes::SaveToVariant(node[L"sPicturePlanes"], md.sPicturePlanes) != KZ_OK)
        kzmeta::MetaFailure(__LINE__);
    node[L"dTemperK"] = md.dTemperK;
    node[L"dCalibration"] = md.dCalibration;
    node[L"dAspect"] = md.dAspect;
    node[L"bCalibrated"] = md.bCalibrated;
    node[L"wsObjectiveName"] = md.wsObjectiveName;
    node[L"dObjectiveMag"] = md.dObjectiveMag;
    node[L"dObjectiveNA"] = md.dObjectiveNA;
    node[L"dRefractIndex1"] = md.dRefractIndex1;
    node[L"dRefractIndex2"] = md.dRefractIndex2;
    node[L"dZoom"] = md.dZoom;
    node[L"dProjectiveMag"] = md.dProjectiveMag;
    const unsigned n = md.pPhysicalVar ? md.uiPhysicalVarCount : 0;
    node[L"uiPhysicalVarCount"] = static_cast<unsigned int>(n);
    CKzVariant& list = kzmeta::ListMember(node, L"pPhysicalVar");
    for (unsigned i = 0; i < n; ++i) {
        CKzVariant& v = kzmeta::AppendChild(list);
        kzmeta::BeginStruct(v, "RKzPictureMetadata.RKzPictureMetadata");
        v[L"wsName"] = md.pPhysicalVar[i].wsName;
        v[L"uiIntepretation"] = static_cast<unsigned int>(md.pPhysicalVar[i].uiIntepretation);
        v[L"dValue"] = md.pPhysicalVar[i].dValue;
    }
    node[L"wsCustomData"] = md.wsCustomData;
    node[L"ePictureXAxis"] = static_cast<int>(md.ePictureXAxis);
    node[L"ePictureYAxis"] = static_cast<int>(md.ePictureYAxis);
    node[L"dTimeAxisCalibration"] = md.dTimeAxisCalibration;
    node[L"dZAxisCalibration"] = md.dZAxisCalibration;
    node[L"dStgLgCT11"] = md.dStgLgCT11;
    node[L"dStgLgCT12"] = md.dStgLgCT12;
    node[L"dStgLgCT21"] = md.dStgLgCT21;
    node[L"dStgLgCT22"] = md.dStgLgCT22;
    return KZ_OK;
}

namespace {

void ScalePinholes(SKzPicturePlanes& s, double radius)
{
    if (!s.pPlanes) return;
    for (unsigned i = 0; i < s.uiCount; ++i) s.pPlanes[i].dPinholeDiameter = 2 * radius;
}

} // namespace

int SKzPictureMetadata::LoadFromVariant(SKzPictureMetadata& md, const CKzVariant& node)
{
    if (!kzmeta::IsRunType(node, "RKzPictureMetadata")) return KZ_ERR_INVALID_ARG;
    md.dTimeMSec = node[L"dTimeMSec"].GetDouble();
    const CKzVariant& abs = node[L"dTimeAbsolute"];
    if (!abs.IsUndefined()) md.dTimeAbsolute = abs.GetDouble();
    md.dXPos = node[L"dXPos"].GetDouble();
    md.dYPos = node[L"dYPos"].GetDouble();
    md.uiRow = node[L"uiRow"].GetKz_uint32();
    md.uiCol = node[L"uiCol"].GetKz_uint32();
    md.dZPos = node[L"dZPos"].GetDouble();
    md.bZPosAbsolute = node[L"bZPosAbsolute"].GetBool();
    md.dAngle = node[L"dAngle"].GetDouble();
    if (SKzPicturePlanes::LoadFromVariant(md.sPicturePlanes, node[L"sPicturePlanes"]) != KZ_OK)
        kzmeta::MetaFailure(__LINE__);
    md.dTemperK = node[L"dTemperK"].GetDouble();
    md.dCalibration = node[L"dCalibration"].GetDouble();
    md.dAspect = node[L"dAspect"].GetDouble();
    md.bCalibrated = node[L"bCalibrated"].GetBool();
    md.wsObjectiveName = node[L"wsObjectiveName"].GetCKzStringW();
    md.dObjectiveMag = node[L"dObjectiveMag"].GetDouble();
    md.dObjectiveNA = node[L"dObjectiveNA"].GetDouble();
    md.dRefractIndex1 = node[L"dRefractIndex1"].GetDouble();
    md.dRefractIndex2 = node[L"dRefractIndex2"].GetDouble();
    const CKzVariant& pinhole = node[L"dPinholeRadius"];
    if (!pinhole.IsUndefined()) {
        const double r = pinhole.GetDouble();
        if (r > 0) ScalePinholes(md.sPicturePlanes, r);
    }
    md.dZoom = node[L"dZoom"].GetDouble();
    md.dProjectiveMag = node[L"dProjectiveMag"].GetDouble();

    md.ReleaseVars();
    const unsigned stored = node[L"uiPhysicalVarCount"].GetKz_uint32();
    const CKzVariant& list = node[L"pPhysicalVar"];
    const int children = list.GetCount();   // -1 when not a list
    if (static_cast<int>(stored) != children) kzmeta::MetaFailure(__LINE__);
    // Only variables actually present are made: a stored count never sizes the array.
    const unsigned n = children > 0 ? static_cast<unsigned>(children) : 0;
    if (n) {
        SKzPhysicalVar* v = NewVars(n);
        if (v) {
            for (unsigned j = 0; j < n; ++j) {
                const CKzVariant* c = list.IndexPtr(static_cast<int>(j));
                if (!c) continue;
                v[j].wsName = (*c)[L"wsName"].GetCKzStringW();
                v[j].uiIntepretation = (*c)[L"uiIntepretation"].GetKz_uint32();
                v[j].dValue = (*c)[L"dValue"].GetDouble();
            }
            md.pPhysicalVar = v;
            md.uiPhysicalVarCount = n;
        }
    }
    md.wsCustomData = node[L"wsCustomData"].GetCKzStringW();
    md.ePictureXAxis = node[L"ePictureXAxis"].GetKz_int32();
    md.ePictureYAxis = node[L"ePictureYAxis"].GetKz_int32();
    md.dTimeAxisCalibration = node[L"dTimeAxisCalibration"].GetDouble();
    md.dZAxisCalibration = node[L"dZAxisCalibration"].GetDouble();
    md.dStgLgCT11 = node[L"dStgLgCT11"].GetDouble();
    md.dStgLgCT12 = node[L"dStgLgCT12"].GetDouble();
    md.dStgLgCT21 = node[L"dStgLgCT21"].GetDouble();
    md.dStgLgCT22 = node[L"dStgLgCT22"].GetDouble();
    return KZ_OK;
}

// ---- lite form -------------------------------------------------------------------

int SKzPictureMetadata::SaveToLiteVariant(CKzLiteVariantW& w, const SKzPictureMetadata& md)
{
    if (w.LevelBegin(L"SKzPictureMetadata") != KZ_OK) return KZ_OK;
    w.Set(md.dTimeMSec, L"dTimeMSec");
    w.Set(md.dTimeAbsolute, L"dTimeAbsolute");
    w.Set(md.dXPos, L"dXPos");
    w.Set(md.dYPos, L"dYPos");
    w.Set(static_cast<unsigned int>(md.uiRow), L"uiRow");
    w.Set(static_cast<unsigned int>(md.uiCol), L"uiCon20(L");
    w.Set(md.dZPos, L"dZPos");
    w.Set(md.bZPosAbsolute, L"bZPosAbsolute");
    w.Set(md.dAngle, L"dAngle");
    if (w.LevelBegin(L"sPicturePlanes") == KZ_OK) {
        if (SKzPicturePlanes::SaveToLiteVariant(w, md.sPicturePlanes) != KZ_OK) kzmeta::MetaFailure(__LINE__);
        w.LevelEnd();
    }
    w.Set(md.dTemperK, L"dTemperK");
    w.Set(md.dCalibration, L"dCalibration");
    w.Set(md.dAspect, L"dAspect");
    w.Set(md.bCalibrated, L"bCalibrated");
    w.Set(md.wsObjectiveName.GetString(), L"wsObjectiveName");
    w.Set(md.dObjectiveMag, L"dObjectiveMag");
    w.Set(md.dObjectiveNA, L"dObjectiveNA");
    w.Set(md.dRefractIndex1, L"dRefractIndex1");
    w.Set(md.dRefractIndex2, L"dRefractIndex2");
    w.Set(md.dZoom, L"dZoom");
    w.Set(md.dProjectiveMag, L"dProjectiveMag");
    const unsigned n = md.pPhysicalVar ? md.uiPhysicalVarCount : 0;
    w.Set(static_cast<unsigned int>(n), L"uiPhysicalVarCount");
    if (w.LevelBegin(L"pPhysicalVar") == KZ_OK) {
        for (unsigned i = 0; i < n; ++i) {
            if (w.LevelBegin(L"") != KZ_OK) continue;
            w.Set(md.pPhysicalVar[i].wsName.GetString(), L"wsName");
            w.Set(static_cast<unsigned int>(md.pPhysicalVar[i].uiIntepretation), L"uiIntepretation");
            w.Set(md.pPhysicalVar[i].dValue, L"dValue");
            w.LevelEnd();
        }
        w.LevelEnd();
    }
    w.Set(md.wsCustomData.GetString(), L"wsCustomData");
    w.Set(static_cast<int>(md.ePictureXAxis), L"ePictureXAxis");
    w.Set(static_cast<int>(md.ePictureYAxis), L"ePictureYAxis");
    w.Set(md.dTimeAxisCalibration, L"dTimeAxisCalibration");
    w.Set(md.dZAxisCalibration, L"dZAxisCalibration");
    w.Set(md.dStgLgCT11, L"dStgLgCT11");
    w.Set(md.dStgLgCT12, L"dStgLgCT12");
    w.Set(md.dStgLgCT21, L"dStgLgCT21");
    w.Set(md.dStgLgCT22, L"dStgLgCT22");
    w.LevelEnd();
    return KZ_OK;
}

int SKzPictureMetadata::LoadFromLiteVariant(SKzPictureMetadata& md, CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"SKzPictureMetadata") != KZ_OK) return KZ_OK;
    md.dTimeMSec = r.Get(L"dTimeMSec", md.dTimeMSec);
    md.dTimeAbsolute = r.Get(L"dTimeAbsolute", md.dTimeAbsolute);
    md.dXPos = r.Get(L"dXPos", md.dXPos);
    md.dYPos = r.Get(L"dYPos", md.dYPos);
    md.uiRow = r.Get(L"uiRow", static_cast<unsigned int>(md.uiRow));
    md.uiCol = r.Get(L"uiCon20(L", static_cast<unsigned int>(md.uiCol));
    md.dZPos = r.Get(L"dZPos", md.dZPos);
    md.bZPosAbsolute = r.Get(L"bZPosAbsolute", md.bZPosAbsolute);
    md.dAngle = r.Get(L"dAngle", md.dAngle);
    if (r.LevelBegin(L"sPicturePlanes") == KZ_OK) {
        if (SKzPicturePlanes::LoadFromLiteVariant(md.sPicturePlanes, r) != KZ_OK) kzmeta::MetaFailure(__LINE__);
        r.LevelEnd();
    }
    md.dTemperK = r.Get(L"dTemperK", md.dTemperK);
    md.dCalibration = r.Get(L"dCalibration", md.dCalibration);
    md.dAspect = r.Get(L"dAspect", md.dAspect);
    md.bCalibrated = r.Get(L"bCalibrated", md.bCalibrated);
    r.GetCKzStringW(md.wsObjectiveName, L"wsObjectiveName", CKzStringW(md.wsObjectiveName).GetString());
    md.dObjectiveMag = r.Get(L"dObjectiveMag", md.dObjectiveMag);
    md.dObjectiveNA = r.Get(L"dObjectiveNA", md.dObjectiveNA);
    md.dRefractIndex1 = r.Get(L"dRefractIndex1", md.dRefractIndex1);
    md.dRefractIndex2 = r.Get(L"dRefractIndex2", md.dRefractIndex2);
    if (r.IsValueSet(L"dPinholeRadius")) ScalePinholes(md.sPicturePlanes, r.Get(L"dPinholeRadius", -1.0));
    md.dZoom = r.Get(L"dZoom", md.dZoom);
    md.dProjectiveMag = r.Get(L"dProjectiveMag", md.dProjectiveMag);

    const unsigned oldCount = md.uiPhysicalVarCount;
    md.ReleaseVars();
    const unsigned stored = r.Get(L"uiPhysicalVarCount", oldCount);
    if (r.LevelBegin(L"pPhysicalVar") == KZ_OK) {
        const unsigned present = kzmeta::CountRecords(r);
        if (present != stored) kzmeta::MetaFailure(__LINE__);
        SKzPhysicalVar* v = NewVars(present);
        if (v) {
            r.FirstValue();
            for (unsigned j = 0; j < present && r.IsNextValue(); ++j) {
                if (r.CurrentLevelBegin() == KZ_OK) {
                    r.GetCKzStringW(v[j].wsName, L"wsName", L"");
                    v[j].uiIntepretation = r.Get(L"uiIntepretation", 0u);
                    v[j].dValue = r.Get(L"dValue", 0.0);
                    r.LevelEnd();
                }
                if (r.NextValue() != KZ_OK) break;
            }
            md.pPhysicalVar = v;
            md.uiPhysicalVarCount = present;
        }
        r.LevelEnd();
    }
    r.GetCKzStringW(md.wsCustomData, L"wsCustomData", CKzStringW(md.wsCustomData).GetString());
    md.ePictureXAxis = r.Get(L"ePictureXAxis", static_cast<int>(md.ePictureXAxis));
    md.ePictureYAxis = r.Get(L"ePictureYAxis", static_cast<int>(md.ePictureYAxis));
    md.dTimeAxisCalibration = r.Get(L"dTimeAxisCalibration", md.dTimeAxisCalibration);
    md.dZAxisCalibration = r.Get(L"dZAxisCalibration", md.dZAxisCalibration);
    md.dStgLgCT11 = r.Get(L"dStgLgCT11", md.dStgLgCT11);
    md.dStgLgCT12 = r.Get(L"dStgLgCT12", md.dStgLgCT12);
    md.dStgLgCT21 = r.Get(L"dStgLgCT21", md.dStgLgCT21);
    md.dStgLgCT22 = r.Get(L"dStgLgCT22", md.dStgLgCT22);
    r.LevelEnd();
    return KZ_OK;
}
