// Stage coordinates through handles: the handle's alignment (set, applied),
// the stage position of pixels in frames, and the alignment points a host
// stored in the file's tag "AlignmentPoints_v1.0".
//
// Setting and applying the alignment run entirely under the table lock,
// taken once per operation, and not under the handle's gate (a host may set
// the pairs on one thread while a conversion runs on another); the
// conversion of many pixels holds the gate for the call and takes the table
// lock once per pixel, never while it is held.
#include "w32_qorfilesdk/QorFile.h"

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzLiteVariant.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"
#include "w32_qorfilesdk/internal/KzQorHandleInternal.h"
#include "w32_qorfilesdk/SKzStageAlignment.h"
#include "w32_qorfilesdk/internal/KzQorReadInternal.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <vector>

using namespace kzqorread;

kz_result SKzQorFileHandle::SetStageAlignment(int handle, u32 count, const double* srcX, const double* srcY,
                                              const double* dstX, const double* dstY)
{
    try {
        // Built before the lock is taken: an allocation failure then changes
        // nothing and the lock is never held across the allocator.
        std::vector<SKzStageAlignment::SKzCoordinates> pairs;
        if (count && srcX && srcY && dstX && dstY) {
            pairs.resize(count);
            for (u32 i = 0; i < count; ++i) pairs[i] = {srcX[i], srcY[i], dstX[i], dstY[i]};
        }
        std::unique_ptr<SKzStageAlignment> fresh(count ? new SKzStageAlignment : nullptr);

        SKzCriticalSectionLock lock(g_sMapLock);
        auto it = g_mapFileHandles.find(handle);
        if (it == g_mapFileHandles.end()) return KZ_ERR_FAILED;
        SKzStageAlignment*& a = it->second.m_pStageAlignment;
        if (count == 0) {
            delete a;
            a = nullptr;
            return KZ_OK;
        }
        if (!a) a = fresh.release();
        if (!srcX || !srcY || !dstX || !dstY) return KZ_ERR_INVALID_ARG;
        a->m_aCoordinates.swap(pairs);
        a->CalculateMatrixFromSettings(nullptr);
        return KZ_OK;
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

kz_result SKzQorFileHandle::ConvertCoordinates(int handle, double x, double y, double z, double* outX,
                                               double* outY, double* outZ)
{
    SKzCriticalSectionLock lock(g_sMapLock);
    auto it = g_mapFileHandles.find(handle);
    if (it == g_mapFileHandles.end()) return KZ_OK;
    if (const SKzStageAlignment* a = it->second.m_pStageAlignment) {
        CKzPointBase<double> r;
        if (ProjectiveTransform(CKzPointBase<double>(x, y), a->m_dTransform, r) != KZ_OK) r = CKzPointBase<double>(0, 0);
        x = r.x;
        y = r.y;
    }
    if (outX) *outX = x;
    if (outY) *outY = y;
    if (outZ) *outZ = z;
    return KZ_OK;
}

QORRESULT Qor_SetStageAlignment(QORFILEHANDLE handle, int count, const double* srcX, const double* srcY,
                                const double* dstX, const double* dstY)
{
    if (count < 0) return KZ_ERR_INVALID_ARG;
    return GuardCode([&] { return SKzQorFileHandle::SetStageAlignment(handle, (u32)count, srcX, srcY, dstX, dstY); });
}

namespace {

// A value is known when it differs from the "unknown" marker -1.
bool Known(double v) { return std::fabs(v - -1.0) > 1e-5; }

} // namespace

QORRESULT Qor_GetStageCoordinates(QORFILEHANDLE handle, uint32_t count, const int* frames, const uint32_t* pixelX,
                                  const uint32_t* pixelY, double* stageX, double* stageY, double* stageZ)
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        if (!frames || !pixelX || !pixelY || !stageX || !stageY) return KZ_ERR_INVALID_ARG;
        SKzQorFileHandle* h = ReadHandle(handle);
        if (!h || !h->m_pMetadata) return KZ_ERR_NOT_FOUND;
        const u32 W = h->m_Attributes.uiWidth, H = h->m_Attributes.uiHeight;
        const SKzExperiment* exp = h->m_pExperiment;
        u32 levels = 0;
        if (exp) CKzExperimentAPI::CalcPosFromIdx(exp, 0, nullptr, &levels);
        const u32 described = exp ? CKzExperimentAPI::GetAllImagesCount(exp) : 0;
        std::vector<u32> positions(levels ? levels : 1);

        for (u32 i = 0; i < count; ++i) {
            SKzPictureMetadata md;
            if (SKzPictureMetadata::Copy(md, *h->m_pMetadata) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
            // A negative frame counts as frame 0, as for the recorded data; a
            // frame the experiment does not describe takes no loop positions.
            const u32 frame = frames[i] < 0 ? 0u : (u32)frames[i];
            const SKzExperiment* walk = nullptr;
            if (exp && frame < described) {
                std::fill(positions.begin(), positions.end(), 0u);
                if (CKzExperimentAPI::CalcPosFromIdx(exp, frame, positions.data(), &levels) == KZ_OK) walk = exp;
            }
            double rx = 0, ry = 0, rz = 0;
            const bool hx = Qor_GetRecordedDataDouble(handle, L"X", frames[i], &rx) == KZ_OK;
            const bool hy = Qor_GetRecordedDataDouble(handle, L"Y", frames[i], &ry) == KZ_OK;
            const bool hz = Qor_GetRecordedDataDouble(handle, L"Z", frames[i], &rz) == KZ_OK;
            FillLocalMetadata(positions.data(), md, walk, 0.0, rx, ry, rz, hx, hy, hz);

            double cx = 1.0, cy = 1.0;
            if (md.bCalibrated) {
                cx = md.dCalibration;
                cy = md.dAspect * md.dCalibration;
            }
            const double dx = ((double)std::min(W, pixelX[i]) - W * 0.5) * cx;
            const double dy = ((double)std::min(H, pixelY[i]) - H * 0.5) * cy;
            double sx = 0.0, sy = 0.0;
            if (Known(md.dXPos) || Known(md.dYPos)) {
                sx = md.dStgLgCT11 * dx + md.dStgLgCT12 * dy + md.dXPos;
                sy = md.dStgLgCT21 * dx + md.dStgLgCT22 * dy + md.dYPos;
            }
            SKzQorFileHandle::ConvertCoordinates(handle, sx, sy, md.dZPos, &stageX[i], &stageY[i],
                                                 stageZ ? &stageZ[i] : nullptr);
        }
        return KZ_OK;
    });
}

QORRESULT Qor_GetAlignmentPoints(QORFILEHANDLE handle, int* count, int* frame, int* x, int* y, double* dx,
                                 double* dy)
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* h = ReadHandle(handle);
        if (!h) return KZ_ERR_NOT_FOUND;
        auto tag = h->m_aCustomDataMap.find(CKzStringW(L"AlignmentPoints_v1.0"));
        if (tag == h->m_aCustomDataMap.end()) return KZ_ERR_NOT_FOUND;
        const CKzByteArray& bytes = tag->second;
        if (!bytes.GetData() || bytes.GetSize() == 0) return KZ_OK;

        CKzLiteVariantR r;
        if (r.SetData(bytes.GetData(), bytes.GetSize(), CKzByteArray::eModeOpReplace,
                      CKzByteArray::eModeAllocExact) != KZ_OK)
            return KZ_ERR_OUT_OF_MEMORY;
        r.Reset();
        if (r.LevelBegin(L"AlignmentPoints") != KZ_OK) return KZ_OK;
        if (r.Get(L"Version", 1) != 1) return KZ_OK;

        // The points present, counted from the records themselves.
        int n = 0;
        const bool havePositions = r.LevelBegin(L"Positions") == KZ_OK;
        if (havePositions) {
            r.FirstValue();
            while (r.IsNextValue() && n < INT_MAX) {
                ++n;
                if (r.NextValue() != KZ_OK) break;
            }
        }
        // Filled only with all five arrays, and no further than the host's count.
        const int capacity = (count && *count > 0) ? *count : 0;
        if (havePositions && frame && x && y && dx && dy && capacity > 0) {
            r.FirstValue();
            for (int i = 0; i < n && i < capacity && r.IsNextValue(); ++i) {
                if (r.CurrentLevelBegin() == KZ_OK) {
                    frame[i] = r.Get(L"SeqIdx", 0);
                    x[i] = r.Get(L"XPos", 0);
                    y[i] = r.Get(L"YPos", 0);
                    dx[i] = r.Get(L"dXPos", 0.0);
                    dy[i] = r.Get(L"dYPos", 0.0);
                    r.LevelEnd();
                }
                if (r.NextValue() != KZ_OK) break;
            }
        }
        if (count) *count = n;
        return KZ_OK;
    });
}
