// A C++ host against the installed library: an allocation, and one call of
// each conversion between the C records and the library's records, linked
// from the shared library.
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzAlloc.h"
#include "vt5file/IKzImageFile.h"
#include "w32_qorfilesdk/KzQorConversions.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"

#include <cstdio>
#include <cwchar>
#include <memory>

namespace {

bool Attributes()
{
    SKzImageAttributes a{};
    a.uiWidth = 640;
    a.uiHeight = 480;
    a.dCompressionParam = 0.857;
    QORATTRIBUTES r{};
    if (SKzQorFileHandle::ConvertGetAttributes(r, a) != 0 || r.uiWidth != 640 || r.uiQuality != 86) return false;
    r.uiQuality = 50;
    SKzImageAttributes b{};
    return SKzQorFileHandle::ConvertSetAttributes(b, r) == 0 && b.uiHeight == 480 && b.dCompressionParam == 0.5;
}

bool TextInfo()
{
    SKzImageTextInfo info;
    info.wsText[5] = L"long text";
    std::unique_ptr<QORTEXTINFO> r(new QORTEXTINFO());
    if (SKzQorFileHandle::ConvertGetTextinfo(*r, info) != 0 || std::wcscmp(r->wsItem5, L"long text") != 0)
        return false;
    return SKzQorFileHandle::ConvertSetTextinfo(info, *r) == 0;
}

bool Metadata()
{
    // Host -> library keeps a count above the record's 256 planes; the way
    // back reports 256.
    std::unique_ptr<QORMETADATA_DESC> d(new QORMETADATA_DESC());
    d->uiPlaneCount = 300;
    d->sPlanes[0].uiCompCount = 1;
    d->sPlanes[0].dEmissionWavelength = 520.0;
    std::wcscpy(d->sPlanes[0].wsName, L"GFP");
    SKzPictureMetadata md;
    if (QorApiSupport_MetadataDesc_ApiToQor(*d, md) != 0 || md.sPicturePlanes.uiCount != 300) return false;
    std::unique_ptr<QORMETADATA_DESC> back(new QORMETADATA_DESC());
    if (QorApiSupport_MetadataDesc_QorToApi(md, *back) != 0 || back->uiPlaneCount != 256 ||
        back->sPlanes[0].dEmissionWavelength != 520.0 || std::wcscmp(back->sPlanes[0].wsName, L"GFP") != 0)
        return false;

    std::unique_ptr<QORMETADATA> o(new QORMETADATA());
    o->uiPlaneCount = 1;
    o->dTemperK = 300.0;
    o->sPlanes[0].dFilterExcitationLow = 460.0;
    o->sPlanes[0].dFilterExcitationHigh = 490.0;
    SKzPictureMetadata old;
    if (QorApiSupport_Metadata_ApiToQor(*o, old) != 0 || old.dTemperK != 300.0) return false;
    std::unique_ptr<QORMETADATA> oBack(new QORMETADATA());
    if (QorApiSupport_Metadata_QorToApi(old, *oBack) != 0 || oBack->sPlanes[0].dFilterExcitationHigh != 490.0)
        return false;

    // Single planes, both records.
    SKzPicturePlaneDesc plane;
    std::unique_ptr<QORPICTUREPLANE_DESC> p(new QORPICTUREPLANE_DESC());
    if (QorApiSupport_PicturePlaneDesc_ApiToQor(plane, d->sPlanes[0]) != 0 ||
        QorApiSupport_PicturePlaneDesc_QorToApi(*p, plane) != 0 || p->dEmissionWavelength != 520.0)
        return false;
    std::unique_ptr<QORPICTUREPLANE> q(new QORPICTUREPLANE());
    return QorApiSupport_PicturePlane_ApiToQor(plane, o->sPlanes[0]) == 0 &&
           QorApiSupport_PicturePlane_QorToApi(*q, plane) == 0 && q->dFilterExcitationLow == 460.0;
}

bool Experiment()
{
    std::unique_ptr<QOREXPERIMENT> r(new QOREXPERIMENT());
    r->uiLevelCount = 2;
    r->sLevels[0] = {QOR_LOOP_TIME, 3, 100.0};
    r->sLevels[1] = {QOR_LOOP_Z, 5, 0.5};
    SKzExperiment* root = nullptr;
    if (QorApiSupport_Experiment_ApiToQor(*r, root) != 0 || !root) return false;
    std::unique_ptr<QOREXPERIMENT> back(new QOREXPERIMENT());
    bool ok = QorApiSupport_Experiment_QorToApi(*root, *back) == 0 && back->uiLevelCount == 2 &&
              back->sLevels[1].uiType == QOR_LOOP_Z && back->sLevels[1].uiSize == 5;
    std::unique_ptr<QOREXPERIMENTLEVEL> top(QorApiSupport_ExperimentLevel_QorToApi(root));
    ok = ok && top && top->uiType == QOR_LOOP_TIME && top->dValue == 100.0;
    SKzExperiment* level = nullptr;
    ok = ok && QorApiSupport_ExperimentLevel_ApiToQor(r->sLevels[1], level) == 0 && level;
    SKzExperiment::FreeRecursive(level);
    SKzExperiment::FreeRecursive(root);
    return ok;
}

} // namespace

int main()
{
    void* p = CKzAlloc::Alloc(1, 16);
    bool ok = p && static_cast<unsigned char*>(p)[15] == 0;
    CKzAlloc::Free(p);
    const struct {
        const char* name;
        bool (*check)();
    } checks[] = {{"attributes", Attributes}, {"text information", TextInfo}, {"metadata", Metadata},
                  {"experiment", Experiment}};
    for (const auto& c : checks) {
        if (!c.check()) {
            std::printf("consumer: %s conversions failed\n", c.name);
            ok = false;
        }
    }
    std::puts(ok ? "consumer ok" : "consumer failed");
    return ok ? 0 : 1;
}
