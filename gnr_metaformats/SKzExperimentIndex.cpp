// Sequence index <-> loop positions, and Z-stack geometry.
//
// Both conversions share one model: a level's items are dealt to its
// children in turn (repeat counts), each item taking its child's frames, so
// an entry's index is the frames of every earlier item plus the index within
// its child. Cycles and periods go at once, never item by item.
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/KzExperimentNav.h"
#include "gnr_metaformats/KzExperimentInternal.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include "gnr_system/CKzByteArray.h"
#include <vector>

using namespace kzexp;

namespace {

typedef CKzExperimentAPI API;

const u64 kBig = (u64)1 << 63;

void PrintFailure(int line) { std::printf("\nFailure! File: %s, line: %d\n", "gnr_metaformats/ExperimentAPI", line); }

inline u64 AddBig(u64 a, u64 b) { return a > kBig - (b > kBig ? kBig : b) ? kBig : a + b; }
inline u64 MulBig(u64 a, u64 b) { return (a && b > kBig / a) ? kBig : a * b; }

bool PeriodValid(const NETimeLoop& l, u32 p) { return !l.pPeriodValid || l.pPeriodValid[p]; }

bool HasKids(const SKzExperiment& lv) { return lv.ppNextLevelEx && lv.uiNextLevelCount > 0; }

bool PeriodLists(const SKzExperiment& lv)
{
    return lv.eType == SKzExperiment::eExpNETimeLoop && lv.uLoopPars.sNETimeLoop.pSubLoops &&
           lv.uLoopPars.sNETimeLoop.pPeriod;
}

// Children of a level as the conversions see them: frames per item and
// repeat count (0 counting as 1 for an only child). The frames count the
// child's first `left` levels. Below a spectral level whose first child is a
// Z stack every child stands for the largest Z stack, as in the frame count.
// False with a null child.
struct Kid {
    const SKzExperiment* lv;
    u64 k, s;
};

const u64 kAll = ~0ull;

bool LevelKids(const SKzExperiment& lv, std::vector<Kid>& kids, u64& T, u64& R, u64 left = kAll)
{
    kids.clear();
    T = R = 0;
    const u32 n = lv.uiNextLevelCount;
    const bool zFirst = lv.eType == SKzExperiment::eExpSpectLoop && n > 0 && lv.ppNextLevelEx[0] &&
                        lv.ppNextLevelEx[0]->eType == SKzExperiment::eExpZStackLoop;
    const u64 zmax = !zFirst ? 0 : left ? API::GetZStackSizeMax(&lv, nullptr) : 1;
    for (u32 i = 0; i < n; ++i) {
        const SKzExperiment* c = lv.ppNextLevelEx[i];
        if (!c) return false;
        u64 k = c->uiRepeatCount;
        if (k == 0 && n == 1) k = 1;
        const u64 s = zFirst ? zmax : FrameCount(c, left);
        kids.push_back({c, k, s});
        T = AddBig(T, MulBig(k, s));
        R += k;
    }
    return true;
}

// A period's candidates; false (the period passes) for an empty list, a
// null child or a repeat sum of 0.
bool PeriodKids(const NETimeLoop& l, u32 p, std::vector<Kid>& kids, u64& C, u64& r, u64 left = kAll)
{
    kids.clear();
    C = r = 0;
    const SubLoops& s = l.pSubLoops[p];
    if (!s.ppNextLevelEx || s.uiNextLevelCount == 0) return false;
    for (u32 i = 0; i < s.uiNextLevelCount; ++i) {
        const SKzExperiment* c = s.ppNextLevelEx[i];
        if (!c) return false;
        const u64 fr = FrameCount(c, left);
        kids.push_back({c, c->uiRepeatCount, fr});
        C = AddBig(C, MulBig(c->uiRepeatCount, fr));
        r += c->uiRepeatCount;
    }
    return r > 0;
}

// Finds the item of a dealt list holding `index` among `items` items: full
// cycles first, then one cycle block by block. On success `entry` is the item,
// `index` the index within the child, `which` the child. False when the items
// hold fewer frames than index + 1 (index then reduced by all their frames).
bool FindItem(const std::vector<Kid>& kids, u64 cycleFrames, u64 cycleItems, u64 items, u64& index, u64& entry,
              size_t& which)
{
    entry = 0;
    if (cycleItems == 0) return false;
    const u64 q = items / cycleItems;
    u64 full = q;
    if (cycleFrames > 0 && index / cycleFrames < full) full = index / cycleFrames;
    index -= full * cycleFrames;   // full * cycleFrames <= index, or cycleFrames == 0
    entry = full * cycleItems;
    u64 rest = full < q ? cycleItems : items - q * cycleItems;
    for (size_t i = 0; i < kids.size() && rest > 0; ++i) {
        const u64 k = kids[i].k < rest ? kids[i].k : rest;
        const u64 span = MulBig(k, kids[i].s);
        if (index < span) {
            entry += index / kids[i].s;
            index %= kids[i].s;
            which = i;
            return true;
        }
        index -= span;
        entry += k;
        rest -= k;
    }
    return false;
}

int PosImpl(const SKzExperiment* lv, u32 levels, u64 index, u32* pos, int guard)
{
    if (!lv) return KZ_ERR_INVALID_ARG;
    if (levels == 0 || guard > kMaxTreeDepth) return KZ_ERR_FAILED;   // deeper than the level count: nothing written
    const bool lists = PeriodLists(*lv);
    if (!lists && !HasKids(*lv)) {
        pos[0] = (u32)(index > kFrameCap ? kFrameCap : index);   // unbounded leaf entry
        return KZ_OK;
    }
    if (levels < 2) return KZ_ERR_FAILED;
    std::vector<Kid> kids;
    if (lists) {
        const NETimeLoop& l = lv->uLoopPars.sNETimeLoop;
        u64 entry = 0;
        for (u32 p = 0; p < l.uiPeriodCount; ++p) {
            if (!PeriodValid(l, p)) continue;
            const u64 e = l.pPeriod[p].uiCount;
            u64 C, r;
            if (!PeriodKids(l, p, kids, C, r)) {
                PrintFailure(4076);
                entry += e;   // counts no frames: passed
                continue;
            }
            u64 local;
            size_t which = 0;
            if (FindItem(kids, C, r, e, index, local, which)) {
                pos[0] = (u32)SatU32(entry + local);
                return PosImpl(kids[which].lv, levels - 1, index, pos + 1, guard + 1);
            }
            entry += e;
        }
        return KZ_ERR_FAILED;
    }
    u64 T, R;
    if (!LevelKids(*lv, kids, T, R)) return KZ_ERR_INVALID_ARG;
    if (T == 0) PrintFailure(4127);
    if (R == 0) PrintFailure(4128);
    if (T == 0 || R == 0) return KZ_ERR_FAILED;
    u64 entry = R * (index / T);
    index %= T;
    for (const Kid& c : kids) {
        const u64 span = MulBig(c.k, c.s);
        if (index < span) {
            entry += index / c.s;
            pos[0] = (u32)SatU32(entry);
            return PosImpl(c.lv, levels - 1, index % c.s, pos + 1, guard + 1);
        }
        entry += c.k;
        index -= span;
    }
    return KZ_ERR_FAILED;
}

bool OpenEnded(const SKzExperiment& lv)
{
    return (lv.eType == SKzExperiment::eExpTimeLoop || lv.eType == SKzExperiment::eExpNETimeLoop) &&
           lv.uLoopPars.uiCount == 0;
}

// Positions that end at a level with children leave the levels below out:
// the walk is then made again with `cut`, every level below the positions
// counting one frame per item, so that the last level given adds its bare
// entry. Otherwise every frame below an item counts.
struct IdxWalk {
    bool cut = false;
    bool endsAbove = false;
};

int IdxImpl(const SKzExperiment* lv, u32 levels, const u32* pos, u64& index, int guard, IdxWalk& w)
{
    index = 0;
    if (!lv || levels == 0) return KZ_OK;
    if (guard > kMaxTreeDepth) return KZ_ERR_FAILED;
    const bool spect = lv->eType == SKzExperiment::eExpSpectLoop;
    const bool lists = PeriodLists(*lv);
    const u64 entry = pos[0];
    if (levels <= 1 && (lists || HasKids(*lv))) w.endsAbove = true;
    if (spect && (!HasKids(*lv) || levels <= 1)) return KZ_OK;   // the entry is not used
    if (!lists) {
        const u64 s = API::GetLoopSize(lv);
        if (spect ? entry != 0 : (!OpenEnded(*lv) && entry >= (s ? s : 1))) return KZ_ERR_INVALID_ARG;
        if (!HasKids(*lv)) {
            index = entry;
            return KZ_OK;
        }
    }
    const u64 left = w.cut ? (u64)levels - 1 : kAll;
    std::vector<Kid> kids;
    u64 base = 0, rem = 0;
    const SKzExperiment* child = nullptr;
    if (spect) {
        // One frame holds every channel: the walk follows the child with the
        // most items among those serving the channels, so every position of
        // the level's frames has its index.
        child = SpectralChild(*lv);
        if (!child) return KZ_ERR_INVALID_ARG;
    } else if (lists) {
        const NETimeLoop& l = lv->uLoopPars.sNETimeLoop;
        u64 start = 0;
        bool found = false;
        for (u32 p = 0; p < l.uiPeriodCount && !found; ++p) {
            if (!PeriodValid(l, p)) continue;
            const u64 e = l.pPeriod[p].uiCount;
            u64 C, r;
            const bool ok = PeriodKids(l, p, kids, C, r, left);
            if (entry >= start + e) {
                if (ok) {
                    // Every time point of the period: whole cycles, then one.
                    const u64 q = e / r;
                    base = AddBig(base, MulBig(q, C));
                    u64 rest = e - q * r;
                    for (const Kid& c : kids) {
                        const u64 k = c.k < rest ? c.k : rest;
                        base = AddBig(base, MulBig(k, c.s));
                        rest -= k;
                    }
                }
                start += e;
                continue;
            }
            if (!ok) return KZ_ERR_INVALID_ARG;   // the point has no frames
            const u64 t = entry - start;
            base = AddBig(base, MulBig(t / r, C));
            rem = t % r;
            for (const Kid& c : kids) {
                if (rem < c.k) {
                    base = AddBig(base, MulBig(rem, c.s));
                    child = c.lv;
                    break;
                }
                base = AddBig(base, MulBig(c.k, c.s));
                rem -= c.k;
            }
            found = true;
        }
        if (!found || !child) return KZ_ERR_INVALID_ARG;
    } else {
        u64 T, R;
        if (!LevelKids(*lv, kids, T, R, left)) return KZ_ERR_INVALID_ARG;
        if (R == 0) return KZ_ERR_INVALID_ARG;
        base = MulBig(entry / R, T);
        rem = entry % R;
        for (const Kid& c : kids) {
            if (rem < c.k) {
                base = AddBig(base, MulBig(rem, c.s));
                child = c.lv;
                break;
            }
            base = AddBig(base, MulBig(c.k, c.s));
            rem -= c.k;
        }
        if (!child) return KZ_ERR_INVALID_ARG;
    }
    if (levels <= 1) {
        index = base;   // positions end here: the bare entry
        return KZ_OK;
    }
    u64 sub = 0;
    const int rc = IdxImpl(child, levels - 1, pos + 1, sub, guard + 1, w);
    if (rc) return rc;
    index = AddBig(base, sub);
    return KZ_OK;
}

} // namespace

int CKzExperimentAPI::CalcPosFromIdx_Impl(const SKzExperiment* level, u32 levels, u32 index, u32* positions)
{
    if (!positions) return KZ_ERR_INVALID_ARG;
    return PosImpl(level, levels, index, positions, 0);
}

int CKzExperimentAPI::CalcPosFromIdx(const SKzExperiment* tree, u32 index, u32* positions, u32* count)
{
    const u32 levels = GetExperimentCount(tree);
    if (count) *count = levels;
    if (!tree) return KZ_ERR_INVALID_ARG;
    if (!positions) return KZ_OK;
    return PosImpl(tree, levels, index, positions, 0);
}

int CKzExperimentAPI::CalcIdxFromPos_Impl(const SKzExperiment* level, u32 levels, u32& size, const u32* positions,
                                          u32& index)
{
    size = (u32)FrameCount(level);
    u64 idx = 0;
    IdxWalk w;
    int rc = positions ? IdxImpl(level, levels, positions, idx, 0, w) : (levels ? KZ_ERR_INVALID_ARG : KZ_OK);
    if (rc == KZ_OK && w.endsAbove) {
        w.cut = true;
        rc = IdxImpl(level, levels, positions, idx, 0, w);
    }
    index = (u32)SatU32(idx);
    if (rc == KZ_OK && idx > kFrameCap) return KZ_ERR_INVALID_ARG;
    return rc;
}

int CKzExperimentAPI::CalcIdxFromPos(const SKzExperiment* tree, const u32* positions, u32 levels, u32& index)
{
    index = 0;
    u32 size = 0;
    return CalcIdxFromPos_Impl(tree, levels, size, positions, index);
}

// ---- Z stack geometry ------------------------------------------------------------

int CKzExperimentAPI::GetZStackStepSize(const SKzExperiment* level, double* step)
{
    if (!level || !step || level->eType != SKzExperiment::eExpZStackLoop) return KZ_ERR_INVALID_ARG;
    const ZStackLoop& l = level->uLoopPars.sZStackLoop;
    if (l.dZStep > 0) {
        *step = l.dZStep;
        return KZ_OK;
    }
    const u32 n = l.uiCount;
    const double m = n > 2 ? (double)n : 2.0;
    const double range = std::fabs(l.dZHigh - l.dZLow);
    double end;
    if (ZHomeEnd(l, end)) {
        const double dist = std::fabs(l.dZHome - end);
        // An empty or NaN range (or NaN home) gives k = 0.
        double k = (range > 0) ? std::trunc((m - 1) * dist / range) : 0;
        if (std::isnan(k) || std::isinf(k)) k = 0;
        *step = k > 0 ? dist / k : 0;
        return KZ_OK;
    }
    if (range > 0.0001 && n < 2) return KZ_ERR_FAILED;
    *step = range / (m - 1);
    return KZ_OK;
}

double CKzExperimentAPI::GetZStackFirstMovePosition(const SKzExperiment::SKzExpZStackLoop& l, double currentZ)
{
    const u32 n = l.uiCount;
    if (l.dZStep < 0 || n == 0) return currentZ;
    const double step = l.dZStep, h = (double)(n / 2), span = (double)(n - 1) * step;
    u32 home = 0;
    GetZStackHomePosition(l, &home, 0.05);
    const double hm = (double)home;
    const bool inv = l.bZInverted;
    double z;
    switch (l.iType) {
    case 1: z = inv ? l.dZHigh : l.dZLow; break;
    case 2: z = inv ? l.dZHome + h * step : l.dZHome - h * step; break;
    case 3: z = inv ? l.dZHome + hm * step : l.dZHome - hm * step; break;
    case 4: z = inv ? l.dZLow : l.dZHigh; break;
    case 5: z = inv ? l.dZHigh - span : l.dZLow + span; break;
    case 6: z = inv ? l.dZHome - h * step : l.dZHome + h * step; break;
    case 7: z = inv ? l.dZHome - hm * step : l.dZHome + hm * step; break;
    default: z = inv ? l.dZLow + span : l.dZHigh - span; break;
    }
    return l.bAbsolute ? z : z + currentZ;
}

double CKzExperimentAPI::GetZStackPositionForDisplay(const SKzExperiment::SKzExpZStackLoop& l, u32 index)
{
    const bool homeBased = l.iType == 2 || l.iType == 3 || l.iType == 6 || l.iType == 7;
    if (!l.bAbsolute || homeBased) {
        u32 home = 0;
        GetZStackHomePosition(l, &home, 0.05);
        return (double)(kz_int32)(index - home) * l.dZStep;
    }
    return (double)index * l.dZStep;
}

int CKzExperimentAPI::GetFirstZStackHomePosition(const SKzExperiment* tree, u32* index)
{
    const u32 levels = GetExperimentCount(tree);
    std::vector<u32> pos(levels ? levels : 1, 0);
    u32 depth = 0;
    SKzExperiment* z = nullptr;
    const int f = FindExperiment(tree, SKzExperiment::eExpZStackLoop, pos.data(), levels, &depth, &z);
    if ((f != KZ_OK && f != KZ_ERR_AMBIGUOUS) || !z || depth >= levels) return KZ_ERR_FAILED;
    GetZStackHomePosition(z->uLoopPars.sZStackLoop, &pos[depth], 0.05);
    u32 idx = 0;
    const int rc = CalcIdxFromPos(tree, pos.data(), levels, idx);
    if (rc) return rc;
    if (index) *index = idx;
    return KZ_OK;
}

// ---- repair with frame times ----------------------------------------------------

int CKzExperimentAPI::RepairExperimentEx(SKzExperiment* level, u32 written, const CKzByteArray& times)
{
    if (!level) return KZ_ERR_FAILED;
    const int rc = RepairExperiment(level, written);
    if (rc || level->eType != SKzExperiment::eExpTimeLoop) return rc;
    TimeLoop& t = level->uLoopPars.sTimeLoop;
    const u64 nTimes = (u64)times.GetSize() / sizeof(double);
    const unsigned char* data = (const unsigned char*)times.GetData();
    const u32 levels = GetExperimentCount(level);
    std::vector<u32> pos(levels ? levels : 1, 0);
    u64 count = GetLoopSize(level);
    // Time point k's frame index is at least k when points have frames, so
    // no point past the array's length can lie within it.
    if (count > nTimes) count = nTimes;
    double prev = 0, mn = 0, mx = 0, sum = 0;
    u64 used = 0;
    for (u64 k = 0; k < count && data; ++k) {
        pos[0] = (u32)k;
        u32 idx = 0;
        if (CalcIdxFromPos(level, pos.data(), levels, idx) != KZ_OK) continue;
        if (idx >= nTimes) break;   // beyond the times recorded
        double v;
        std::memcpy(&v, data + (size_t)idx * sizeof(double), sizeof v);
        if (used > 0) {
            const double d = v - prev;
            if (used == 1 || d < mn) mn = d;
            if (used == 1 || d > mx) mx = d;
            sum += d;
        }
        prev = v;
        ++used;
    }
    // Only measured differences: fewer than two time points give 0.
    t.dMinPeriodDiff = used > 1 ? mn : 0;
    t.dMaxPeriodDiff = used > 1 ? mx : 0;
    t.dAvgPeriodDiff = used > 1 ? sum / (double)(used - 1) : 0;
    return KZ_OK;
}
