// Camera and large-image queries over an experiment tree.
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/KzExperimentNav.h"
#include "gnr_metaformats/KzExperimentInternal.h"
#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_metaformats/SKzSampleSetting.h"

#include <cwchar>

using namespace kzexp;

namespace {
// Texts compared up to their first 255 characters; null counts as empty.
bool Same255(const wchar_t* a, const wchar_t* b)
{
    return std::wcsncmp(a ? a : L"", b ? b : L"", 255) == 0;
}
} // namespace

int EnumerateCameras(const SKzExperiment* level, u32, void* context)
{
    if (!level || !context) return KZ_ERR_FAILED;
    if (level->eType != SKzExperiment::eExpSpectLoop) return KZ_OK;
    CKzStringW* ctx = (CKzStringW*)context;
    const SpectLoop& l = level->uLoopPars.sSpectLoop;
    if (l.pPlanes) {
        const u32 n = l.uiCount;
        for (u32 c = 0; c < n; ++c) {
            if (level->pItemValid && !level->pItemValid[c]) continue;
            const SKzSampleSetting* s = l.pPlanes->GetPlaneSettings(c);
            if (!s) continue;
            // Cameras are told apart by their unique names.
            const CKzStringW name = s->GetCameraUniqueName();
            if (name.IsEmpty()) continue;
            if (ctx[0].IsEmpty()) {
                ctx[0] = name;
            } else if (!(name == ctx[0])) {
                if (ctx[1].IsEmpty())
                    ctx[1] = name;
                else if (!(name == ctx[1]))
                    return KZ_ERR_FAILED;   // a third camera
            }
        }
    }
    if (ctx[2].IsEmpty()) ctx[2] = l.bMergeCameras ? L"Merge" : L"Split";
    return KZ_OK;
}

u32 CKzExperimentAPI::GetCameraDescription(const SKzExperiment* tree, CKzStringW* first, CKzStringW* second,
                                           bool* merged)
{
    CKzStringW ctx[3];
    WalkExperiment(tree, EnumerateCameras, ctx, 0);
    if (first) *first = ctx[0];
    if (second) *second = ctx[1];
    u32 count;
    if (ctx[0].IsEmpty()) {
        if (ctx[1].IsEmpty() && first && tree) *first = tree->wsCameraName;
        count = 1;
    } else {
        count = ctx[1].IsEmpty() ? 1 : 2;
    }
    if (merged) *merged = ctx[2] == L"Merge";
    return count;
}

int CKzExperimentAPI::GetLargeImage(const SKzExperiment* tree, SKzExperiment::SKzLIDesc* desc, const wchar_t* camera)
{
    if (!tree) return KZ_ERR_FAILED;
    const SKzExperiment* found = nullptr;
    int guard = 0;
    for (const SKzExperiment* lv = tree; lv && guard < kMaxPathLength; lv = GetNextLevelExperiment(lv, 0), ++guard)
        if (lv->pLargeImage) found = lv;
    if (!found) return KZ_ERR_FAILED;
    if (!desc) return KZ_OK;
    const wchar_t* cam = (camera && camera[0]) ? camera : tree->wsCameraName.GetString();
    const LIDesc* d = found->pLargeImage;
    *desc = (!Same255(d[0].sCamera, cam) && Same255(d[1].sCamera, cam)) ? d[1] : d[0];
    return KZ_OK;
}
