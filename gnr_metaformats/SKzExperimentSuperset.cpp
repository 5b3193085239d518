// The channel superset of an experiment tree: the union of the channels of
// all its spectral levels, a channel being known by name, optical-
// configuration name and colour.
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/KzExperimentNav.h"
#include "gnr_metaformats/KzExperimentInternal.h"
#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_system/CKzRangeMask.h"

#include <string>
#include <vector>

using namespace kzexp;

namespace {

typedef SpectKey Key;

// Where the next search for a key starts (a repeated key takes the next
// matching superset channel).
struct KeyStart {
    Key key;
    u32 start;
};

Key ChannelKey(const SKzPicturePlanes& s, u32 i) { return SpectChannelKey(s, i); }

bool SameChannel(const SKzPicturePlanes& a, u32 i, const SKzPicturePlanes& b, u32 k)
{
    return a.pPlanes[i].uiColor == b.pPlanes[k].uiColor && a.pPlanes[i].sDescription == b.pPlanes[k].sDescription &&
           SKzPicturePlanes::GetPlaneOCName(a, i, 0) == SKzPicturePlanes::GetPlaneOCName(b, k, 0);
}

u32 Channels(const SKzExperiment* e) { return SpectChannels(e); }

bool Valid(const SKzExperiment& e, u32 c) { return SpectValid(e, c); }

template <class T>
bool Regrow(T*& arr, u32 oldN, u32 newN, const T* from, const std::vector<u32>& pick)
{
    T* a = NewArray<T>(newN);
    if (!a) return false;
    for (u32 i = 0; i < oldN && arr; ++i) a[i] = arr[i];
    for (size_t j = 0; j < pick.size() && from; ++j) a[oldN + j] = from[pick[j]];
    delete[] arr;
    arr = a;
    return true;
}

int Single(const SKzExperiment* tree, SKzExperiment*& out, int guard);

int ListForm(SKzExperiment* const* trees, u32 count, SKzExperiment*& sup, int guard)
{
    if (!trees) return KZ_OK;
    for (u32 t = 0; t < count; ++t) {
        SKzExperiment* sub = nullptr;
        const int rc = Single(trees[t], sub, guard + 1);
        const u32 n = Channels(sub);
        if (rc || !sub || n == 0) {
            SKzExperiment::FreeRecursive(sub);
            continue;
        }
        const u32 m = Channels(sup);
        std::vector<KeyStart> from;
        std::vector<u32> fresh;
        SKzPicturePlanes& sp = *sub->uLoopPars.sSpectLoop.pPlanes;
        for (u32 c = 0; c < n; ++c) {
            const Key key = ChannelKey(sp, c);
            KeyStart* ks = nullptr;
            for (KeyStart& e : from)
                if (e.key == key) ks = &e;
            if (!ks) {
                from.push_back({key, 0});
                ks = &from.back();
            }
            const u32 start = ks->start;
            bool found = false;
            if (start < m) {
                const SKzPicturePlanes& up = *sup->uLoopPars.sSpectLoop.pPlanes;
                for (u32 k = start; k < m; ++k)
                    if (SameChannel(sp, c, up, k)) {
                        ks->start = k + 1;
                        if (Valid(*sub, c) && sup->pItemValid) sup->pItemValid[k] = true;
                        found = true;
                        break;
                    }
            }
            if (!found) {
                fresh.push_back(c);
                ks->start = start < m ? m : start;
            }
        }
        if (fresh.empty()) {
            SKzExperiment::FreeRecursive(sub);
            continue;
        }
        if (!sup) {
            sup = sub;
            continue;
        }
        // Append the new channels' planes and per-channel entries.
        // The mask covers the components the planes describe (a set whose
        // component total was never filled in still merges its planes).
        u64 comps = 0;
        for (u32 c = 0; c < sp.uiCount; ++c) comps += sp.pPlanes[c].uiCompCount;
        if (comps < sp.uiCompCount) comps = sp.uiCompCount;
        comps = SatU32(comps);
        CKzRangeMask mask;
        mask.SetSize((unsigned)comps);
        mask.Reset();
        for (u32 c : fresh) {
            const u64 first = SKzPicturePlanes::PlaneStartingComp(sp, c);
            for (u64 k = 0; k < sp.pPlanes[c].uiCompCount && first + k < comps; ++k)
                mask.Set((unsigned)(first + k), true);
        }
        SpectLoop& ul = sup->uLoopPars.sSpectLoop;
        const SpectLoop& sl = sub->uLoopPars.sSpectLoop;
        const u32 oldN = ul.uiCount;
        SKzPicturePlanes::MergePlanes(*ul.pPlanes, sp, mask, false);
        const u32 newN = ul.pPlanes->uiCount;
        if (newN == oldN + fresh.size()) {
            std::vector<bool> valid;
            bool ok = Regrow(ul.pAutoFocus, oldN, newN, sl.pAutoFocus, fresh) &&
                      Regrow(ul.szCommandBeforeCapture, oldN, newN, sl.szCommandBeforeCapture, fresh) &&
                      Regrow(ul.szCommandAfterCapture, oldN, newN, sl.szCommandAfterCapture, fresh) &&
                      Regrow(ul.pZStackPos, oldN, newN, sl.pZStackPos, fresh);
            bool* flags = NewArray<bool>(newN);
            if (ok && flags) {
                for (u32 i = 0; i < oldN; ++i) flags[i] = !sup->pItemValid || sup->pItemValid[i];
                for (size_t j = 0; j < fresh.size(); ++j) flags[oldN + j] = Valid(*sub, fresh[j]);
                delete[] sup->pItemValid;
                sup->pItemValid = flags;
                ul.uiCount = newN;
            } else {
                delete[] flags;
            }
        }
        SKzExperiment::FreeRecursive(sub);
    }
    return KZ_OK;
}

int Single(const SKzExperiment* tree, SKzExperiment*& out, int guard)
{
    out = nullptr;
    if (!tree) return KZ_ERR_INVALID_ARG;
    if (guard > kMaxTreeDepth) return KZ_OK;
    if (tree->eType == SKzExperiment::eExpSpectLoop) {
        const int rc = SKzExperiment::Duplicate(&out, *tree, true);
        if (rc) return rc;
        if (!out) return KZ_ERR_OUT_OF_MEMORY;
        if (!out->pItemValid && out->uLoopPars.uiCount > 0) {
            out->pItemValid = NewArray<bool>(out->uLoopPars.uiCount);
            if (!out->pItemValid) {
                SKzExperiment::FreeRecursive(out);
                out = nullptr;
                return KZ_ERR_OUT_OF_MEMORY;
            }
            for (u32 i = 0; i < out->uLoopPars.uiCount; ++i) out->pItemValid[i] = true;
        }
        return KZ_OK;
    }
    if (tree->eType == SKzExperiment::eExpNETimeLoop && tree->uLoopPars.sNETimeLoop.pSubLoops) {
        const NETimeLoop& l = tree->uLoopPars.sNETimeLoop;
        for (u32 p = 0; p < l.uiPeriodCount; ++p)
            ListForm(l.pSubLoops[p].ppNextLevelEx, l.pSubLoops[p].uiNextLevelCount, out, guard);
        return KZ_OK;
    }
    if (tree->ppNextLevelEx && tree->uiNextLevelCount) return ListForm(tree->ppNextLevelEx, tree->uiNextLevelCount, out, guard);
    return KZ_OK;
}

bool SameImpl(const SKzExperiment* lv, const SKzExperiment* sup, int guard)
{
    if (!lv || !sup || guard > kMaxTreeDepth) return false;
    const u32 kids = lv->ppNextLevelEx ? lv->uiNextLevelCount : 0;
    if (lv->eType != SKzExperiment::eExpSpectLoop) {
        if (kids == 0) return false;
        for (u32 i = 0; i < kids; ++i)
            if (!SameImpl(lv->ppNextLevelEx[i], sup, guard + 1)) return false;
        return true;
    }
    if (kids > 1) return false;
    const u32 n = lv->uLoopPars.uiCount;
    if (n != sup->uLoopPars.uiCount) return false;
    if (n == 0) return true;
    const u32 a = Channels(lv), b = Channels(sup);
    for (u32 c = 0; c < n; ++c) {
        const bool va = Valid(*lv, c), vb = Valid(*sup, c);
        if (va != vb) return false;
        if (!va) continue;
        if (c >= a || c >= b) return false;
        if (!SameChannel(*lv->uLoopPars.sSpectLoop.pPlanes, c, *sup->uLoopPars.sSpectLoop.pPlanes, c)) return false;
    }
    return true;
}

} // namespace

SpectKey kzexp::SpectChannelKey(const SKzPicturePlanes& s, u32 i)
{
    auto str = [](const CKzStringW& t) { return t.GetString() ? std::wstring(t.GetString()) : std::wstring(); };
    return SpectKey{str(s.pPlanes[i].sDescription), str(SKzPicturePlanes::GetPlaneOCName(s, i, 0)), s.pPlanes[i].uiColor};
}

u32 kzexp::SpectChannels(const SKzExperiment* e)
{
    if (!e || e->eType != SKzExperiment::eExpSpectLoop) return 0;
    const SpectLoop& l = e->uLoopPars.sSpectLoop;
    if (!l.pPlanes || !l.pPlanes->pPlanes) return 0;
    return l.uiCount < l.pPlanes->uiCount ? l.uiCount : l.pPlanes->uiCount;
}

bool kzexp::SpectValid(const SKzExperiment& e, u32 c)
{
    return !e.pItemValid || c >= e.uLoopPars.uiCount || e.pItemValid[c];
}

int CKzExperimentAPI::GetSupersetSpectExp(const SKzExperiment* tree, SKzExperiment*& superset)
{
    return Single(tree, superset, 0);
}

int CKzExperimentAPI::GetSupersetSpectExp(SKzExperiment* const* trees, u32 count, SKzExperiment*& superset)
{
    return ListForm(trees, count, superset, 0);
}

bool CKzExperimentAPI::HasSameLambdaChannels_Impl(const SKzExperiment* level, const SKzExperiment* superset)
{
    return SameImpl(level, superset, 0);
}

bool CKzExperimentAPI::HasSameLambdaChannels(const SKzExperiment* tree)
{
    SKzExperiment* sup = nullptr;
    if (Single(tree, sup, 0) != KZ_OK || !sup) {
        SKzExperiment::FreeRecursive(sup);
        return true;
    }
    const bool same = SameImpl(tree, sup, 0);
    SKzExperiment::FreeRecursive(sup);
    return same;
}

int CKzExperimentAPI::GetSpectPlanes(const SKzExperiment* tree, SKzPicturePlanes& planes)
{
    SKzExperiment* sup = nullptr;
    const int rc = Single(tree, sup, 0);
    if (rc) {
        SKzExperiment::FreeRecursive(sup);
        return rc;
    }
    const int ex = SKzExperiment::ExtractValidPlanes(planes, sup);
    SKzExperiment::FreeRecursive(sup);
    return ex;
}

int CKzExperimentAPI::GetSpectCompCount(const SKzExperiment* tree, u32& count)
{
    SKzPicturePlanes p;
    const int rc = GetSpectPlanes(tree, p);
    if (rc == KZ_OK) count = p.uiCompCount;
    SKzPicturePlanes::Free(p);
    return rc;
}
