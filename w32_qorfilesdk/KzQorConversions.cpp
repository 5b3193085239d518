// Conversions between the host interface's C records and the library's records.
#include "w32_qorfilesdk/KzQorConversions.h"

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzVariantText.h"
#include "vt5file/IKzImageFile.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// Where each text-information item lives in the host record and how many
// characters (terminator included) its field holds.
struct STextField {
    size_t offset;
    int length;
};
const STextField kTextFields[QOR_TEXTINFO_COUNT] = {
    {offsetof(_QORTEXTINFO, wsItem0), QOR_TEXT_LENGTH},       {offsetof(_QORTEXTINFO, wsItem1), QOR_TEXT_LENGTH},
    {offsetof(_QORTEXTINFO, wsItem2), QOR_TEXT_LENGTH},       {offsetof(_QORTEXTINFO, wsItem3), QOR_TEXT_LENGTH},
    {offsetof(_QORTEXTINFO, wsItem4), QOR_TEXT_LENGTH},       {offsetof(_QORTEXTINFO, wsItem5), QOR_LONG_TEXT_LENGTH},
    {offsetof(_QORTEXTINFO, wsItem6), QOR_LONG_TEXT_LENGTH},  {offsetof(_QORTEXTINFO, wsItem7), QOR_TEXT_LENGTH},
    {offsetof(_QORTEXTINFO, wsItem8), QOR_TEXT_LENGTH},       {offsetof(_QORTEXTINFO, wsItem9), QOR_TEXT_LENGTH},
    {offsetof(_QORTEXTINFO, wsItem10), QOR_TEXT_LENGTH},      {offsetof(_QORTEXTINFO, wsItem11), QOR_TEXT_LENGTH},
    {offsetof(_QORTEXTINFO, wsItem12), QOR_TEXT_LENGTH},      {offsetof(_QORTEXTINFO, wsItem13), QOR_TEXT_LENGTH},
    {offsetof(_QORTEXTINFO, wsItem14), QOR_TEXT_LENGTH},
};
static_assert(SKzImageTextInfo::eCount == QOR_TEXTINFO_COUNT, "one host field per text-information item");

// A host text field: read no further than the field, terminated or not.
CKzStringW FieldText(const wchar_t* field, int length)
{
    CKzStringW s;
    s.AddChars(field, length);
    return s;
}

u8 NarrowDepth(u32 bits) { return bits > 255u ? (u8)255 : (u8)bits; }

// The metadata members both host records share, library -> host.
template <class R>
void CommonToApi(const SKzPictureMetadata& md, R& r)
{
    r.dTimeAbsolute = md.dTimeAbsolute;
    r.dAngle = md.dAngle;
    r.dAspect = md.dAspect;
    md.wsObjectiveName.CopyToBufferW(r.wsObjectiveName, QOR_TEXT_LENGTH);
    r.dObjectiveMag = md.dObjectiveMag;
    r.dObjectiveNA = md.dObjectiveNA;
    r.dRefractIndex1 = md.dRefractIndex1;
    r.dRefractIndex2 = md.dRefractIndex2;
    r.dZoom = md.dZoom;
    r.dProjectiveMag = md.dProjectiveMag;
    const SKzPicturePlanes& ps = md.sPicturePlanes;
    r.uiRepresentation = ps.eRepresentation;
    r.uiPlaneCount = ps.uiCount > QOR_MAX_PLANES ? (u32)QOR_MAX_PLANES : ps.uiCount;
    r.uiCompCount = ps.uiCompCount;
}

// Planes of the metadata towards the host: at most the record's capacity, and
// never past a plane array that is missing.
template <class R, class F>
void PlanesToApi(const SKzPictureMetadata& md, R& r, F convert)
{
    const SKzPicturePlanes& ps = md.sPicturePlanes;
    const u32 n = ps.pPlanes ? (ps.uiCount > QOR_MAX_PLANES ? (u32)QOR_MAX_PLANES : ps.uiCount) : 0u;
    for (u32 i = 0; i < n; ++i) {
        convert(r.sPlanes[i], ps.pPlanes[i]);
        SKzPicturePlanes::GetPlaneOCName(ps, i, 0).CopyToBufferW(r.sPlanes[i].wsOCName, QOR_TEXT_LENGTH);
    }
}

// The members both host records share, host -> library, with the planes
// rebuilt from the record. A count above what the record holds keeps its
// planes: the record's ones are converted, the others stay default. Nothing
// changes unless everything can be had.
template <class R, class F>
int CommonToQor(const R& r, SKzPictureMetadata& md, bool calibrated, F convert)
{
    const u32 count = r.uiPlaneCount;
    if (count > kQorMaxHostPlanes) return KZ_ERR_FAILED;
    SKzPicturePlanes fresh;
    if (SKzPicturePlanes::Alloc(fresh, count, 1) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
    const u32 converted = count > QOR_MAX_PLANES ? (u32)QOR_MAX_PLANES : count;
    for (u32 i = 0; i < converted; ++i) {
        const int rc = convert(fresh.pPlanes[i], r.sPlanes[i]);
        if (rc != KZ_OK) {
            SKzPicturePlanes::Free(fresh);
            return rc;
        }
    }
    // Texts are taken before anything is assigned.
    const CKzStringW objective = FieldText(r.wsObjectiveName, QOR_TEXT_LENGTH);
    md.dTimeAbsolute = r.dTimeAbsolute;
    md.dAngle = r.dAngle;
    md.dCalibration = r.dCalibration;
    md.bCalibrated = calibrated;
    md.dAspect = r.dAspect;
    md.wsObjectiveName = objective;
    md.dObjectiveMag = r.dObjectiveMag;
    md.dObjectiveNA = r.dObjectiveNA;
    md.dRefractIndex1 = r.dRefractIndex1;
    md.dRefractIndex2 = r.dRefractIndex2;
    md.dZoom = r.dZoom;
    md.dProjectiveMag = r.dProjectiveMag;
    SKzPicturePlanes& ps = md.sPicturePlanes;
    SKzPicturePlanes::Free(ps);
    ps.pPlanes = fresh.pPlanes;
    ps.uiCount = fresh.uiCount;
    ps.pSamples = fresh.pSamples;
    ps.uiSampleCount = fresh.uiSampleCount;
    ps.eRepresentation = r.uiRepresentation;
    ps.uiCompCount = r.uiCompCount;
    return KZ_OK;
}

// A spectrum of one band {start, end}, or empty unless both edges are above 0.
bool MakeBand(CKzOpticalFilterSpectrum& s, double start, double end)
{
    if (!(start > 0.0 && end > 0.0)) return false;
    SKzOFSpectrumPoint a{SKzOFSpectrumPoint::eOFPointBandStart, start, 0.0};
    SKzOFSpectrumPoint b{SKzOFSpectrumPoint::eOFPointBandEnd, end, 0.0};
    s = CKzOpticalFilterSpectrum();
    return s.AddPoint(a) == KZ_OK && s.AddPoint(b) == KZ_OK;
}

CKzOpticalFilter MakeFilter(const wchar_t* name, CKzOpticalFilter::EKzOpticalFilterPlacement placement, u32 colour,
                            CKzOpticalFilterSpectrum& excitation, CKzOpticalFilterSpectrum& emission)
{
    CKzStringW n(name);
    CKzOpticalFilterSpectrum mirror;
    return CKzOpticalFilter(n, placement, CKzOpticalFilter::eOFNatureUnknown,
                            (CKzOpticalFilter::EKzOpticalFilterSpctType)1, colour, excitation, emission, mirror);
}

// Positions of an XY loop are arrays of that many items; a host count beyond
// this is refused rather than allocated.
constexpr u32 kMaxXYPositions = 1u << 20;

} // namespace

// ---- attributes and text information --------------------------------------------

kz_result SKzQorFileHandle::ConvertGetAttributes(_QORATTRIBUTES& r, const SKzImageAttributes& a)
{
    r.uiWidth = a.uiWidth;
    r.uiWidthBytes = a.uiWidthBytes;
    r.uiHeight = a.uiHeight;
    r.uiComp = a.uiComp;
    r.uiBpcInMemory = a.uiBpcInMemory;
    r.uiBpcSignificant = a.uiBpcSignificant;
    r.uiSequenceCount = a.uiSequenceCount;
    r.uiTileWidth = a.uiTileWidth;
    r.uiTileHeight = a.uiTileHeight;
    r.uiCompression = (u32)a.eCompression;
    // The field is unsigned: a negative parameter reports quality 0.
    const i32 quality = kzvariant::DoubleToI32(a.dCompressionParam * 100.0 + 0.5);
    r.uiQuality = quality > 0 ? (u32)quality : 0u;
    return KZ_OK;
}

kz_result SKzQorFileHandle::ConvertSetAttributes(SKzImageAttributes& a, const _QORATTRIBUTES& r)
{
    a.uiWidth = r.uiWidth;
    a.uiWidthBytes = r.uiWidthBytes;
    a.uiHeight = r.uiHeight;
    a.uiComp = r.uiComp;
    a.uiBpcInMemory = NarrowDepth(r.uiBpcInMemory);
    a.uiBpcSignificant = NarrowDepth(r.uiBpcSignificant);
    a.ePixelType = 1;
    a.uiSequenceCount = r.uiSequenceCount;
    a.uiTileWidth = 0;
    a.uiTileHeight = 0;
    a.eCompression = (i32)r.uiCompression;
    a.dCompressionParam = (double)r.uiQuality * 0.01;
    return KZ_OK;
}

kz_result SKzQorFileHandle::ConvertGetTextinfo(_QORTEXTINFO& r, const SKzImageTextInfo& info)
{
    char* base = reinterpret_cast<char*>(&r);
    for (u32 k = 0; k < QOR_TEXTINFO_COUNT; ++k)
        info.wsText[k].CopyToBufferW(reinterpret_cast<wchar_t*>(base + kTextFields[k].offset), kTextFields[k].length);
    return KZ_OK;
}

kz_result SKzQorFileHandle::ConvertSetTextinfo(SKzImageTextInfo&, const _QORTEXTINFO&) { return KZ_OK; }

// ---- picture metadata ---------------------------------------------------------------

int QorApiSupport_PicturePlaneDesc_QorToApi(_QORPICTUREPLANE_DESC& r, const SKzPicturePlaneDesc& p)
{
    r.uiCompCount = p.uiCompCount;
    r.uiColor = p.uiColor;
    p.sDescription.CopyToBufferW(r.wsName, QOR_TEXT_LENGTH);
    const CKzOpticalFilterPath& path = p.pFilterPath;
    r.dEmissionWavelength =
        path.GetCount() > 0 ? (path.GetLowEmissionWavelength() + path.GetHightEmissionWavelength()) * 0.5 : -1.0;
    return KZ_OK;
}

int QorApiSupport_MetadataDesc_QorToApi(const SKzPictureMetadata& md, _QORMETADATA_DESC& r)
{
    CommonToApi(md, r);
    r.dCalibration = md.bCalibrated ? md.dCalibration : 0.0;
    PlanesToApi(md, r, QorApiSupport_PicturePlaneDesc_QorToApi);
    return KZ_OK;
}

int QorApiSupport_PicturePlane_QorToApi(_QORPICTUREPLANE& r, const SKzPicturePlaneDesc& p)
{
    r.uiCompCount = p.uiCompCount;
    r.uiColor = p.uiColor;
    r.uiModalityMask = p.uiModalityMask;
    p.sDescription.CopyToBufferW(r.wsName, QOR_TEXT_LENGTH);
    // What the probe cannot tell stays unknown.
    double exc[3] = {-1.0, -1.0, -1.0}, em[3] = {-1.0, -1.0, -1.0};
    const CKzFluorescentProbe& probe = p.pFluorescentProbe;
    if (probe.IsValid()) {
        probe.GetExcitationPeakAndFwhm(exc[0], exc[1], exc[2]);
        probe.GetEmissionPeakAndFwhm(em[0], em[1], em[2]);
    }
    r.dProbeExcitationPeak = exc[0];
    r.dProbeExcitationStart = exc[1];
    r.dProbeExcitationEnd = exc[2];
    r.dProbeEmissionPeak = em[0];
    r.dProbeEmissionStart = em[1];
    r.dProbeEmissionEnd = em[2];
    const CKzOpticalFilterPath& path = p.pFilterPath;
    const bool filters = path.GetCount() > 0;
    r.dFilterExcitationLow = filters ? path.GetLowExcitationWavelength() : -1.0;
    r.dFilterExcitationHigh = filters ? path.GetHightExcitationWavelength() : -1.0;
    r.dFilterEmissionLow = filters ? path.GetLowEmissionWavelength() : -1.0;
    r.dFilterEmissionHigh = filters ? path.GetHightEmissionWavelength() : -1.0;
    return KZ_OK;
}

int QorApiSupport_Metadata_QorToApi(const SKzPictureMetadata& md, _QORMETADATA& r)
{
    CommonToApi(md, r);
    r.dTemperK = md.dTemperK;
    r.dCalibration = md.bCalibrated ? md.dCalibration : 0.0;
    PlanesToApi(md, r, QorApiSupport_PicturePlane_QorToApi);
    return KZ_OK;
}

int QorApiSupport_PicturePlaneDesc_ApiToQor(SKzPicturePlaneDesc& p, const _QORPICTUREPLANE_DESC& r)
{
    const CKzStringW name = FieldText(r.wsName, QOR_TEXT_LENGTH);
    p.uiCompCount = r.uiCompCount;
    p.uiColor = r.uiColor;
    p.sDescription = name;
    // An unknown emission (-1.0, or anything not above 0) gives no filter: a
    // measured point at a negative wavelength would be stored as if it were real.
    if (r.dEmissionWavelength > 0.0) {
        double w = r.dEmissionWavelength, v = 0.0;
        CKzOpticalFilterSpectrum excitation, emission(&w, &v, 1);
        if (emission.GetCount() != 1) return KZ_ERR_OUT_OF_MEMORY;
        p.pFilterPath = CKzOpticalFilterPath(
            MakeFilter(L"Emission", CKzOpticalFilter::eOFPlacementEmission, r.uiColor, excitation, emission));
    } else {
        p.pFilterPath = CKzOpticalFilterPath();
    }
    return KZ_OK;
}

int QorApiSupport_PicturePlane_ApiToQor(SKzPicturePlaneDesc& p, const _QORPICTUREPLANE& r)
{
    const CKzStringW name = FieldText(r.wsName, QOR_TEXT_LENGTH);
    p.uiCompCount = r.uiCompCount;
    p.uiColor = r.uiColor;
    p.uiModalityMask = r.uiModalityMask;
    p.sDescription = name;

    // Filters: excitation first, each only when both its edges are known.
    CKzOpticalFilter filters[2];
    unsigned n = 0;
    CKzOpticalFilterSpectrum band;
    if (MakeBand(band, r.dFilterExcitationLow, r.dFilterExcitationHigh)) {
        CKzOpticalFilterSpectrum empty;
        filters[n++] = MakeFilter(L"Excitation", CKzOpticalFilter::eOFPlacementExcitation, r.uiColor, band, empty);
    }
    if (MakeBand(band, r.dFilterEmissionLow, r.dFilterEmissionHigh)) {
        CKzOpticalFilterSpectrum empty;
        filters[n++] = MakeFilter(L"Emission", CKzOpticalFilter::eOFPlacementEmission, r.uiColor, empty, band);
    }
    p.pFilterPath = n ? CKzOpticalFilterPath(filters, n) : CKzOpticalFilterPath();

    // Probe: replaced only when the record knows one of its bands.
    CKzOpticalFilterSpectrum excitation, emission;
    const bool haveExcitation = MakeBand(excitation, r.dProbeExcitationStart, r.dProbeExcitationEnd);
    const bool haveEmission = MakeBand(emission, r.dProbeEmissionStart, r.dProbeEmissionEnd);
    if (!haveExcitation) excitation = CKzOpticalFilterSpectrum();
    if (!haveEmission) emission = CKzOpticalFilterSpectrum();
    if (haveExcitation || haveEmission) {
        CKzStringW dye(L"Dye");
        p.pFluorescentProbe = CKzFluorescentProbe(dye, r.uiColor, excitation, emission);
    }
    return KZ_OK;
}

int QorApiSupport_MetadataDesc_ApiToQor(const _QORMETADATA_DESC& r, SKzPictureMetadata& md)
{
    return CommonToQor(r, md, r.dCalibration > 0.0, QorApiSupport_PicturePlaneDesc_ApiToQor);
}

int QorApiSupport_Metadata_ApiToQor(const _QORMETADATA& r, SKzPictureMetadata& md)
{
    const int rc = CommonToQor(r, md, r.dCalibration != 0.0, QorApiSupport_PicturePlane_ApiToQor);
    if (rc == KZ_OK) md.dTemperK = r.dTemperK;
    return rc;
}

// ---- experiment -----------------------------------------------------------------------

_QOREXPERIMENTLEVEL* QorApiSupport_ExperimentLevel_QorToApi(const SKzExperiment* level)
{
    _QOREXPERIMENTLEVEL* e = new (std::nothrow) _QOREXPERIMENTLEVEL();
    if (!e || !level) return e;
    u32 type = QOR_LOOP_OTHER;
    double value = 0.0;
    switch ((u32)level->eType) {
    case SKzExperiment::eExpTimeLoop:
        type = QOR_LOOP_TIME;
        value = level->uLoopPars.sTimeLoop.dPeriod;
        break;
    case SKzExperiment::eExpXYPosLoop:
    case SKzExperiment::eExpXYDiscrLoop: type = QOR_LOOP_XY; break;
    case SKzExperiment::eExpZStackLoop:
    case 10:
        type = QOR_LOOP_Z;
        value = level->uLoopPars.sZStackLoop.dZStep;
        break;
    case SKzExperiment::eExpNETimeLoop:
    case SKzExperiment::eExpManualTimeLoop: type = QOR_LOOP_TIME; break;
    default: break;
    }
    e->uiType = type;
    e->uiSize = CKzExperimentAPI::GetLoopSizeForDisplay(level);
    e->dValue = value;
    return e;
}

int QorApiSupport_Experiment_QorToApi(const SKzExperiment& tree, _QOREXPERIMENT& r)
{
    r.uiLevelCount = 0;
    const u32 levels = CKzExperimentAPI::GetExperimentCount(&tree);
    u32 n = 0;
    const SKzExperiment* level = &tree;
    for (u32 d = 0; d < levels && level; ++d, level = CKzExperimentAPI::GetNextLevelExperiment(level, 0)) {
        if (level->eType == SKzExperiment::eExpSpectLoop) continue;
        if (n == QOR_MAX_EXPERIMENT_LEVELS) return KZ_ERR_FAILED;   // count stays 0
        std::unique_ptr<_QOREXPERIMENTLEVEL> e(QorApiSupport_ExperimentLevel_QorToApi(level));
        if (!e) return KZ_ERR_OUT_OF_MEMORY;
        r.sLevels[n++] = *e;
    }
    r.uiLevelCount = n;
    return KZ_OK;
}

int QorApiSupport_ExperimentLevel_ApiToQor(const _QOREXPERIMENTLEVEL& entry, SKzExperiment*& level)
{
    const u32 size = entry.uiSize;
    const double value = entry.dValue;
    SKzExperiment::EKzExperimentType type;
    switch (entry.uiType) {
    case QOR_LOOP_TIME: type = SKzExperiment::eExpTimeLoop; break;
    case QOR_LOOP_XY:
        if (size > kMaxXYPositions) return KZ_ERR_INVALID_ARG;
        type = SKzExperiment::eExpXYPosLoop;
        break;
    case QOR_LOOP_Z: type = SKzExperiment::eExpZStackLoop; break;
    default: return KZ_ERR_INVALID_ARG;
    }
    if (!level) {
        if (SKzExperiment::Alloc(&level) != KZ_OK || !level) return KZ_ERR_OUT_OF_MEMORY;
    } else {
        // Start from an empty level: its arrays and subtree are released.
        level->~SKzExperiment();
        new (level) SKzExperiment();
    }
    // No item-valid flags: every item is valid.
    const int rc = SKzExperiment::Init(*level, type, false, size, 0, 0, 1);
    if (rc != KZ_OK) return rc;
    // Durations and ranges in doubles: a loop of 0 items spans 0.
    const double span = size > 0 ? (double)size - 1.0 : 0.0;
    switch (type) {
    case SKzExperiment::eExpTimeLoop: {
        SKzExperiment::SKzExpTimeLoop& t = level->uLoopPars.sTimeLoop;
        t.dPeriod = value;
        t.dStart = 0.0;
        t.dDuration = span * value;
        break;
    }
    case SKzExperiment::eExpZStackLoop: {
        SKzExperiment::SKzExpZStackLoop& z = level->uLoopPars.sZStackLoop;
        z.iType = 2;
        z.dZStep = value;
        z.dZLow = -span * value * 0.5;
        z.dZHigh = span * value * 0.5;
        z.dZHome = 0.0;
        break;
    }
    default: break;
    }
    return KZ_OK;
}

int QorApiSupport_Experiment_ApiToQor(const _QOREXPERIMENT& r, SKzExperiment*& root)
{
    const u32 count = r.uiLevelCount;
    if (count == 0) return KZ_OK;
    if (count > QOR_MAX_EXPERIMENT_LEVELS) return KZ_ERR_FAILED;
    int rc = QorApiSupport_ExperimentLevel_ApiToQor(r.sLevels[0], root);
    for (u32 i = 1; rc == KZ_OK && i < count; ++i) {
        SKzExperiment* level = nullptr;
        rc = QorApiSupport_ExperimentLevel_ApiToQor(r.sLevels[i], level);
        if (rc == KZ_OK) {
            rc = CKzExperimentAPI::AddExperimentLevel(root, level, i);
            if (rc != KZ_OK) SKzExperiment::FreeRecursive(level);
        } else {
            SKzExperiment::FreeRecursive(level);
        }
    }
    if (rc != KZ_OK) {
        SKzExperiment::FreeRecursive(root);
        root = nullptr;
    }
    return rc;
}
