// The spectral loop: its channel set, per-channel arrays, comparison, lite
// records and the extraction of its valid channels.
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/KzExperimentInternal.h"
#include "gnr_metaformats/KzExperimentNav.h"

#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_system/CKzRangeMask.h"

using namespace kzexp;

namespace {

void releaseChannelArrays(SpectLoop& l)
{
    delete[] l.pAutoFocus;
    delete[] l.pZStackPos;
    delete[] l.szCommandBeforeCapture;
    delete[] l.szCommandAfterCapture;
    l.pAutoFocus = nullptr;
    l.pZStackPos = nullptr;
    l.szCommandBeforeCapture = l.szCommandAfterCapture = nullptr;
}

// Per-channel arrays for n channels; false when memory ran out (none then).
bool makeChannelArrays(SpectLoop& l, u32 n)
{
    l.pAutoFocus = NewArray<AutoFocus>(n);
    l.pZStackPos = NewArray<kz_int32>(n);
    l.szCommandBeforeCapture = NewArray<CKzStringW>(n);
    l.szCommandAfterCapture = NewArray<CKzStringW>(n);
    if (l.pAutoFocus && l.pZStackPos && l.szCommandBeforeCapture && l.szCommandAfterCapture) return true;
    releaseChannelArrays(l);
    return false;
}

} // namespace

namespace {

void releaseSet(SpectLoop& l)
{
    if (l.pPlanes) {
        SKzPicturePlanes::Free(*l.pPlanes);
        delete l.pPlanes;
        l.pPlanes = nullptr;
    }
}

bool flagAt(const bool* f, u32 n, u32 i) { return !f || i >= n || f[i]; }

} // namespace

int kzexp::SpectInit(SpectLoop& l, u32 count, u32 samples)
{
    l.uiCount = 0;
    l.pAutoFocus = nullptr;
    l.pZStackPos = nullptr;
    l.szCommandBeforeCapture = l.szCommandAfterCapture = nullptr;
    l.bMergeCameras = false;
    l.pPlanes = new (std::nothrow) SKzPicturePlanes();
    if (!l.pPlanes) return KZ_ERR_OUT_OF_MEMORY;
    if (count == 0) return KZ_OK;
    // A channel set that cannot be made leaves the loop with no channels.
    if (SKzPicturePlanes::Alloc(*l.pPlanes, count, samples) != KZ_OK) {
        SKzPicturePlanes::Free(*l.pPlanes);
        return KZ_OK;
    }
    if (!makeChannelArrays(l, count)) return KZ_ERR_OUT_OF_MEMORY;
    l.uiCount = count;
    // A frame holds the components of every plane.
    u64 comps = 0;
    for (u32 i = 0; i < count; ++i) comps = SatAdd(comps, l.pPlanes->pPlanes[i].uiCompCount);
    l.pPlanes->uiCompCount = (u32)comps;
    return KZ_OK;
}

void kzexp::SpectUninit(SpectLoop& l)
{
    l.uiCount = 0;
    l.bMergeCameras = false;
    releaseSet(l);
    releaseChannelArrays(l);
}

int kzexp::SpectCopy(SpectLoop& dst, const SpectLoop& src)
{
    dst.uiCount = 0;
    dst.pPlanes = nullptr;
    dst.pAutoFocus = nullptr;
    dst.pZStackPos = nullptr;
    dst.szCommandBeforeCapture = dst.szCommandAfterCapture = nullptr;
    dst.bMergeCameras = src.bMergeCameras;
    if (!src.pPlanes || src.pPlanes->uiCount == 0) return KZ_OK;
    dst.pPlanes = new (std::nothrow) SKzPicturePlanes();
    if (!dst.pPlanes) return KZ_ERR_OUT_OF_MEMORY;
    SKzPicturePlanes::Copy(*dst.pPlanes, *src.pPlanes);
    // Count and arrays follow the plane count of the copied set.
    const u32 n = dst.pPlanes->uiCount;
    if (n == 0) return KZ_OK;
    if (!makeChannelArrays(dst, n)) return KZ_ERR_OUT_OF_MEMORY;
    dst.uiCount = n;
    for (u32 i = 0; i < n && i < src.uiCount; ++i) {
        if (src.pAutoFocus) dst.pAutoFocus[i] = src.pAutoFocus[i];
        if (src.pZStackPos) dst.pZStackPos[i] = src.pZStackPos[i];
        if (src.szCommandBeforeCapture) dst.szCommandBeforeCapture[i] = src.szCommandBeforeCapture[i];
        if (src.szCommandAfterCapture) dst.szCommandAfterCapture[i] = src.szCommandAfterCapture[i];
    }
    return KZ_OK;
}

bool SKzExperiment::SKzExpSpectLoop::IsEqual(const SKzExpSpectLoop& a, const bool* fa, const SKzExpSpectLoop& b,
                                             const bool* fb)
{
    if (!a.bMergeCameras != !b.bMergeCameras) return false;
    if (!a.pPlanes && !b.pPlanes) return true;
    if (!a.pPlanes || !b.pPlanes || a.pPlanes->uiCount != b.pPlanes->uiCount) return false;
    static const CKzStringW empty;
    AutoFocus cleared;
    AutoFocus::SetToNull(cleared);
    for (u32 i = 0; i < a.pPlanes->uiCount; ++i) {
        const bool ina = i < a.uiCount, inb = i < b.uiCount;
        if (flagAt(fa, a.uiCount, i) != flagAt(fb, b.uiCount, i)) return false;
        if (!SKzPicturePlanes::IsPlaneEqual(*a.pPlanes, i, *b.pPlanes, i)) return false;
        if (!AutoFocus::IsEqual(ina && a.pAutoFocus ? a.pAutoFocus[i] : cleared,
                                inb && b.pAutoFocus ? b.pAutoFocus[i] : cleared))
            return false;
        if ((ina && a.szCommandBeforeCapture ? a.szCommandBeforeCapture[i] : empty) !=
            (inb && b.szCommandBeforeCapture ? b.szCommandBeforeCapture[i] : empty))
            return false;
        if ((ina && a.szCommandAfterCapture ? a.szCommandAfterCapture[i] : empty) !=
            (inb && b.szCommandAfterCapture ? b.szCommandAfterCapture[i] : empty))
            return false;
        if ((ina && a.pZStackPos ? a.pZStackPos[i] : 0) != (inb && b.pZStackPos ? b.pZStackPos[i] : 0)) return false;
    }
    return true;
}

void kzexp::SpectWrite(CKzLiteVariantW& w, const SpectLoop& l)
{
    if (l.pPlanes && w.LevelBegin(L"pPlanes") == KZ_OK) {
        SKzPicturePlanes::SaveToLiteVariant(w, *l.pPlanes);
        w.LevelEnd();
    }
    w.Set(l.bMergeCameras, L"bMergeCameras");
    if (!l.pPlanes || w.LevelBegin(L"Points") != KZ_OK) return;
    AutoFocus cleared;
    AutoFocus::SetToNull(cleared);
    for (u32 i = 0; i < l.pPlanes->uiCount; ++i) {
        if (w.LevelBegin(nullptr) != KZ_OK) continue;
        const bool in = i < l.uiCount;
        if (w.LevelBegin(L"pAutoFocus") == KZ_OK) {
            AutoFocus::SaveToLiteVariant(w, in && l.pAutoFocus ? l.pAutoFocus[i] : cleared);
            w.LevelEnd();
        }
        if (w.LevelBegin(L"pPlaneDesc") == KZ_OK) {
            SKzPicturePlaneDesc::SaveToLiteVariantOld(w, *l.pPlanes, i);
            w.LevelEnd();
        }
        w.Set(in && l.szCommandAfterCapture ? l.szCommandAfterCapture[i].GetString() : L"", L"wsCommandAfterCapture");
        w.Set(in && l.szCommandBeforeCapture ? l.szCommandBeforeCapture[i].GetString() : L"", L"wsCommandBeforeCapture");
        w.Set((int)(in && l.pZStackPos ? l.pZStackPos[i] : 0), L"pZStackPos");
        w.LevelEnd();
    }
    w.LevelEnd();
}

void kzexp::SpectRead(CKzLiteVariantR& r, SpectLoop& l, LoadBudget& budget)
{
    l.uiCount = 0;
    l.pAutoFocus = nullptr;
    l.pZStackPos = nullptr;
    l.szCommandBeforeCapture = l.szCommandAfterCapture = nullptr;
    l.pPlanes = new (std::nothrow) SKzPicturePlanes();
    if (!l.pPlanes) return;
    bool older = false;
    if (r.LevelBegin(L"pPlanes") == KZ_OK) {
        SKzPicturePlanes::LoadFromLiteVariant(*l.pPlanes, r);
        r.LevelEnd();
        // As many planes as records were stored; they count towards the bound
        // of the whole tree all the same.
        if (l.pPlanes->pPlanes && !budget.Take(l.pPlanes->uiCount, kChannelItemBytes))
            SKzPicturePlanes::Free(*l.pPlanes);
    } else {
        // Older files describe each channel inside its "Points" element: the
        // stored count of default planes, each filled from its element where
        // one is stored.
        older = true;
        const u32 stored = (u32)r.Get(L"uiCount", 0);
        if (stored > 0 && budget.Take(stored, kChannelItemBytes) &&
            SKzPicturePlanes::Alloc(*l.pPlanes, stored, 1) != KZ_OK)
            SKzPicturePlanes::Free(*l.pPlanes);
    }
    l.bMergeCameras = r.Get(L"bMergeCameras", false);
    const u32 n = l.pPlanes->pPlanes ? l.pPlanes->uiCount : 0;
    if (n == 0 || !makeChannelArrays(l, n)) {
        releaseSet(l);
        return;
    }
    l.uiCount = n;
    if (r.LevelBegin(L"Points") == KZ_OK) {
        for (u32 f = 0; f < n && r.IsNextValue(); ++f) {
            if (r.CurrentLevelBegin() == KZ_OK) {
                if (older && r.LevelBegin(L"pPlaneDesc") == KZ_OK) {
                    SKzPicturePlaneDesc::LoadFromLiteVariant(l.pPlanes->pPlanes[f], r);
                    r.LevelEnd();
                }
                if (r.LevelBegin(L"pAutoFocus") == KZ_OK) {
                    AutoFocus::LoadFromLiteVariant(l.pAutoFocus[f], r);
                    r.LevelEnd();
                }
                r.GetCKzStringW(l.szCommandAfterCapture[f], L"wsCommandAfterCapture", L"");
                r.GetCKzStringW(l.szCommandBeforeCapture[f], L"wsCommandBeforeCapture", L"");
                l.pZStackPos[f] = r.Get(L"pZStackPos", 0);
                r.LevelEnd();
            }
            if (r.NextValue() != KZ_OK) break;
        }
        r.LevelEnd();
    }
    if (older) {
        // Each older plane stands for its own channel; the frame's
        // components are the sum of the planes'.
        u64 comps = 0;
        for (u32 f = 0; f < n; ++f) {
            l.pPlanes->pPlanes[f].uiSampleIndex = f;
            comps = SatAdd(comps, l.pPlanes->pPlanes[f].uiCompCount);
        }
        l.pPlanes->uiCompCount = (u32)comps;
    }
}

int SKzExperiment::ExtractValidPlanes(SKzPicturePlanes& dst, const SKzExperiment* lv)
{
    if (!lv || lv->eType != eExpSpectLoop) return KZ_ERR_INVALID_ARG;
    const SpectLoop& l = lv->uLoopPars.sSpectLoop;
    SKzPicturePlanes* src = l.pPlanes;
    const u32 planes = src && src->pPlanes ? src->uiCount : 0;
    CKzRangeMask mask;
    mask.SetSize(src ? src->uiCompCount : 0);
    u32 channels = 0;
    if (!lv->pItemValid) {
        mask.Set();
        channels = planes;
    } else {
        u32 comp = 0;
        for (u32 c = 0; c < planes; ++c) {
            const u32 k = src->pPlanes[c].uiCompCount;
            if (c < l.uiCount && lv->pItemValid[c]) {
                for (u32 j = 0; j < k; ++j) mask.Set(comp + j, true);
                ++channels;
            }
            comp += k;
        }
        if (l.uiCount == 0 || channels == 0) {
            KZ_PrintFailure("gnr_metaformats/PictureSequence", 1771);
            channels = 0;
        }
    }
    // The destination counts no component until planes are extracted into it,
    // also when the level has no channel set to extract from.
    dst.uiCompCount = 0;
    if (!src) return KZ_OK;
    SKzPicturePlanes::Alloc(dst, channels, SKzPicturePlanes::MaskedSampleCount(*src, mask));
    SKzPicturePlanes::ExtractPlanes(dst, *src, mask, false);
    return KZ_OK;
}
