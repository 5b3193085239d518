// Navigation over the experiment tree: child selection by repeat counts,
// loop sizes, frame counts, walks, level insertion and repair.
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/KzExperimentNav.h"
#include "gnr_metaformats/KzExperimentInternal.h"
#include "gnr_system/CKzAlloc.h"

#include <cmath>
#include <cstdio>

using namespace kzexp;

namespace {

typedef CKzExperimentAPI API;

void PrintFailure(int line) { std::printf("\nFailure! File: %s, line: %d\n", "gnr_metaformats/ExperimentAPI", line); }

bool PeriodValid(const NETimeLoop& l, u32 p) { return !l.pPeriodValid || l.pPeriodValid[p]; }

// Selection among a child list with cycle divisor d: by the general rule a
// child with repeat 0 or above the cycle position is chosen; by the time rule
// a child with a non-zero repeat above it, or with repeat and index both 0.
SKzExperiment* Select(SKzExperiment* const* kids, u32 n, u32 index, u64 d, bool timeRule)
{
    if (n == 0 || !kids) return nullptr;
    if (n == 1) return kids[0];
    u64 r = d ? index % d : index;
    for (u32 i = 0; i < n; ++i) {
        SKzExperiment* c = kids[i];
        if (!c) return nullptr;
        const u64 k = c->uiRepeatCount;
        if (timeRule ? ((k != 0 && k > r) || (k == 0 && index == 0)) : (k == 0 || k > r)) return c;
        if (k > r) return nullptr;   // not reached: chosen above
        r -= k;
    }
    return nullptr;
}

u64 RepeatSum(SKzExperiment* const* kids, u32 n, bool& nullChild)
{
    u64 s = 0;
    nullChild = false;
    for (u32 i = 0; i < n; ++i) {
        if (!kids[i]) {
            nullChild = true;
            return 0;
        }
        s += kids[i]->uiRepeatCount;
    }
    return s;
}

// Clear item flags among positions [a, b) below the item count.
u64 ClearFlags(const SKzExperiment& lv, u64 a, u64 b)
{
    if (!lv.pItemValid) return 0;
    const u64 n = lv.uLoopPars.uiCount;
    if (b > n) b = n;
    u64 clear = 0;
    for (u64 i = a; i < b; ++i)
        if (!lv.pItemValid[i]) ++clear;
    return clear;
}

// Frames of a tree counting at most `left` levels: the levels below them
// count one frame each (kAllLevels: the whole tree).
const u64 kAllLevels = ~0ull;
u64 Frames(const SKzExperiment* lv, int depth, u64 left = kAllLevels);

// Frames of a child list dealt e items with divisor d (period rule); the
// children count `left` levels.
u64 PeriodFrames(SKzExperiment* const* kids, u32 n, u64 d, u64 e, bool flags, int depth, u64 left)
{
    if (n == 0 || !kids || d == 0) return 0;
    const u64 q = e / d, r = e % d;
    u64 total = 0, j = 0;
    for (u32 i = 0; i < n; ++i) {
        if (flags) PrintFailure(1589);
        const SKzExperiment* c = kids[i];
        if (!c) return 0;
        const u64 k = c->uiRepeatCount;
        const u64 s = Frames(c, depth + 1, left);
        u64 items = SatMul(k, q);
        if (r > j) items = SatAdd(items, k < r - j ? k : r - j);
        total = SatAdd(total, SatMul(s, items));
        j += k;
    }
    return total;
}

u64 PeriodRule(const SKzExperiment& lv, int depth, u64 left)
{
    const NETimeLoop& l = lv.uLoopPars.sNETimeLoop;
    if (!l.pPeriod) return 0;
    const u64 c = API::GetNextLevelPeriodicity(&lv);
    u64 total = 0;
    for (u32 p = 0; p < l.uiPeriodCount; ++p) {
        if (!PeriodValid(l, p)) continue;
        SKzExperiment* const* kids;
        u32 n;
        u64 d;
        if (l.pSubLoops) {
            kids = l.pSubLoops[p].ppNextLevelEx;
            n = kids ? l.pSubLoops[p].uiNextLevelCount : 0;
            d = API::GetPeriodicity(&l.pSubLoops[p]);
        } else {
            kids = lv.ppNextLevelEx;
            n = kids ? lv.uiNextLevelCount : 0;
            d = c;
        }
        total = SatAdd(total, PeriodFrames(kids, n, d, l.pPeriod[p].uiCount, lv.pItemValid != nullptr, depth, left));
    }
    return total;
}

u64 MultiChildRule(const SKzExperiment& lv, int depth, u64 left)
{
    const u64 c = API::GetNextLevelPeriodicity(&lv);
    if (c == 0) return 0;
    const u64 cnt = lv.uLoopPars.uiCount;
    const u64 q = cnt / c, r = cnt % c;
    u64 total = 0, j = 0;
    for (u32 i = 0; i < lv.uiNextLevelCount; ++i) {
        const SKzExperiment* ch = lv.ppNextLevelEx[i];
        if (!ch) return 0;
        const u64 k = ch->uiRepeatCount;
        const u64 s = Frames(ch, depth + 1, left);
        // The flags of the first cycle stand for every cycle.
        const u64 v = k - ClearFlags(lv, j, j + k);
        u64 items;
        if (r <= j)
            items = SatMul(v, q);
        else if (r >= j + k)
            items = SatMul(v, q + 1);
        else
            items = SatAdd(SatMul(v, q), (r - j) - ClearFlags(lv, j, r));
        total = SatAdd(total, SatMul(s, items));
        j += k;
    }
    return total;
}

// Frame factor of a single-child (or leaf) level.
u64 OwnFactor(const SKzExperiment& lv)
{
    if (lv.eType == SKzExperiment::eExpNETimeLoop) {
        const NETimeLoop& l = lv.uLoopPars.sNETimeLoop;
        if (!l.pPeriod) return 0;
        u64 s = 0;
        for (u32 p = 0; p < l.uiPeriodCount; ++p)
            if (PeriodValid(l, p) && !(l.pPeriod[p].uiLoopType & 3)) s += l.pPeriod[p].uiCount;
        return s;
    }
    if (lv.eType == SKzExperiment::eExpTimeLoop && (lv.uLoopPars.sTimeLoop.uiLoopType & 3)) return 0;
    return API::GetLoopSize(&lv);
}

u64 Frames(const SKzExperiment* lv, int depth, u64 left)
{
    u64 m = 1;
    for (; lv; ++depth, --left) {
        if (depth > kMaxTreeDepth) return 0;
        if (left == 0) return m;
        const bool kids = lv->ppNextLevelEx && lv->uiNextLevelCount > 0;
        if (lv->eType == SKzExperiment::eExpSpectLoop) {
            if (!kids) return m;
            const SKzExperiment* f = lv->ppNextLevelEx[0];
            if (!f) return 0;
            if (f->eType == SKzExperiment::eExpZStackLoop)
                return left < 2 ? m : SatMul(m, API::GetZStackSizeMax(lv, nullptr));
            lv = f;
            continue;
        }
        if (kids && lv->uiNextLevelCount > 1)
            return SatMul(m, lv->eType == SKzExperiment::eExpNETimeLoop ? PeriodRule(*lv, depth, left - 1)
                                                                       : MultiChildRule(*lv, depth, left - 1));
        if (lv->eType == SKzExperiment::eExpNETimeLoop && lv->uLoopPars.sNETimeLoop.pSubLoops)
            return SatMul(m, PeriodRule(*lv, depth, left - 1));
        m = SatMul(m, OwnFactor(*lv));
        if (!kids) return m;
        lv = lv->ppNextLevelEx[0];
        if (!lv) return 0;
    }
    return 0;
}

int Walk(const SKzExperiment* lv, KzExperimentWalkCallback cb, void* ctx, u32 depth, int guard)
{
    if (!lv) return 0;
    if (guard > kMaxTreeDepth) return KZ_ERR_FAILED;
    int r = cb(lv, depth, ctx);
    if (r) return r;
    if (lv->eType == SKzExperiment::eExpNETimeLoop && lv->uLoopPars.sNETimeLoop.pSubLoops) {
        const NETimeLoop& l = lv->uLoopPars.sNETimeLoop;
        for (u32 p = 0; p < l.uiPeriodCount; ++p) {
            if (!PeriodValid(l, p) || !l.pSubLoops[p].ppNextLevelEx) continue;
            for (u32 i = 0; i < l.pSubLoops[p].uiNextLevelCount; ++i)
                if ((r = Walk(l.pSubLoops[p].ppNextLevelEx[i], cb, ctx, depth + 1, guard + 1))) return r;
        }
        return 0;
    }
    if (lv->ppNextLevelEx)
        for (u32 i = 0; i < lv->uiNextLevelCount; ++i)
            if ((r = Walk(lv->ppNextLevelEx[i], cb, ctx, depth + 1, guard + 1))) return r;
    return 0;
}

bool Simple(const SKzExperiment* lv, int guard)
{
    if (!lv || !lv->ppNextLevelEx || lv->uiNextLevelCount == 0) return true;
    if (lv->uiNextLevelCount > 1) return false;
    if (guard > kMaxTreeDepth) return true;
    return Simple(lv->ppNextLevelEx[0], guard + 1);
}

// Replaces a level's child array by a one-slot array holding `child`; the
// old array is released, never its levels.
int SetOnlyChild(SKzExperiment& lv, SKzExperiment* child)
{
    SKzExperiment** a = NewChildArray(1);
    if (!a) return KZ_ERR_OUT_OF_MEMORY;
    a[0] = child;
    CKzAlloc::Free(lv.ppNextLevelEx);
    lv.ppNextLevelEx = a;
    lv.uiNextLevelCount = 1;
    return KZ_OK;
}

int Insert(SKzExperiment*& root, SKzExperiment* level, u32 depth, int guard)
{
    if (!root) {
        CKzAlloc::Free(level->ppNextLevelEx);
        level->ppNextLevelEx = nullptr;
        level->uiNextLevelCount = 0;
        root = level;
        return KZ_OK;
    }
    if (depth == 0) {
        const int rc = SetOnlyChild(*level, root);
        if (rc) return rc;
        root->uiRepeatCount = 1;
        root = level;
        return KZ_OK;
    }
    if (!root->ppNextLevelEx || root->uiNextLevelCount == 0 || guard > kMaxTreeDepth) {
        const int rc = SetOnlyChild(*root, level);
        if (rc) return rc;
        level->uiRepeatCount = 1;
        return KZ_OK;
    }
    // Every further child gets its own childless copy, made before anything
    // is inserted so that no copy shares the levels the first insertion adds.
    const u32 n = root->uiNextLevelCount;
    SKzExperiment** copies = n > 1 ? NewChildArray(n - 1) : nullptr;
    if (n > 1 && !copies) return KZ_ERR_OUT_OF_MEMORY;
    for (u32 i = 1; i < n; ++i) {
        if (SKzExperiment::Duplicate(&copies[i - 1], *level, false) != KZ_OK || !copies[i - 1]) {
            for (u32 k = 0; k + 1 < i; ++k) SKzExperiment::FreeRecursive(copies[k]);
            CKzAlloc::Free(copies);
            return KZ_ERR_OUT_OF_MEMORY;
        }
    }
    Insert(root->ppNextLevelEx[0], level, depth - 1, guard + 1);
    for (u32 i = 1; i < n; ++i) Insert(root->ppNextLevelEx[i], copies[i - 1], depth - 1, guard + 1);
    CKzAlloc::Free(copies);
    return KZ_OK;
}

bool HasItemArrays(const SKzExperiment& lv)
{
    switch (lv.eType) {
    case SKzExperiment::eExpXYPosLoop:
    case SKzExperiment::eExpXYDiscrLoop:
    case SKzExperiment::eExpSpectLoop:
    case SKzExperiment::eExpNETimeLoop:
        return true;
    default:
        return lv.pItemValid != nullptr;
    }
}

// Deals at most `limit` items in turn over a child list in blocks of each
// child's repeat count (a repeat of 0 takes no items), each item consuming
// its child's frames, while the frames f stay within `written`. Whole cycles
// go at once. Returns the complete items.
u64 DealBlocks(SKzExperiment* const* kids, u32 n, u64 limit, u64 written, u64& f)
{
    if (n == 0 || !kids) return 0;
    u64 d = 0, cycle = 0;
    for (u32 i = 0; i < n; ++i) {
        if (!kids[i]) return 0;
        d += kids[i]->uiRepeatCount;
        // Exact up to 2^63 (a saturated cycle would let a whole cycle pass
        // that does not fit).
        const u64 add = (u64)kids[i]->uiRepeatCount * Frames(kids[i], 1);
        cycle = (cycle > ((u64)1 << 63) - add) ? ((u64)1 << 63) : cycle + add;
    }
    if (d == 0) return 0;
    const u64 room = written - f;
    u64 cycles = limit / d;
    if (cycle > 0 && room / cycle < cycles) cycles = room / cycle;
    f += cycles * cycle;   // within room: cycle > 0 limits cycles, else adds 0
    u64 done = cycles * d;
    if (cycles < limit / d) {
        // The room ran out inside the next cycle.
        for (u32 i = 0; i < n; ++i) {
            const u64 k = kids[i]->uiRepeatCount, s = Frames(kids[i], 1);
            u64 fit = s == 0 ? k : (written - f) / s;
            if (fit > k) fit = k;
            f += fit * s;
            done += fit;
            if (fit < k) break;
        }
        return done;
    }
    u64 rest = limit - done;
    for (u32 i = 0; i < n && rest > 0; ++i) {
        const u64 k = kids[i]->uiRepeatCount < rest ? kids[i]->uiRepeatCount : rest;
        const u64 s = Frames(kids[i], 1);
        u64 fit = s == 0 ? k : (written - f) / s;
        if (fit > k) fit = k;
        f += fit * s;
        done += fit;
        rest -= fit;
        if (fit < k) break;
    }
    return done;
}

u64 DealItemsNoFlags(u64 limit, u64 perItem, u64 written, u64& f)
{
    u64 fit = perItem == 0 ? limit : (written - f) / perItem;
    if (fit > limit) fit = limit;
    f += fit * perItem;
    return fit;
}

// Deals at most `limit` items of one level, each valid item consuming
// `perItem` frames (items with a clear flag none), while the frames stay
// within `written`. Flags are read only below the item count.
u64 DealItems(const SKzExperiment& lv, u64 limit, u64 perItem, u64 written, u64& f)
{
    if (!lv.pItemValid) {
        u64 fit = perItem == 0 ? limit : (written - f) / perItem;
        if (fit > limit) fit = limit;
        f += fit * perItem;
        return fit;
    }
    const u64 n = lv.uLoopPars.uiCount;
    u64 done = 0;
    for (; done < limit; ++done) {
        const u64 cost = (done < n && !lv.pItemValid[done]) ? 0 : perItem;
        if (f + cost > written) break;
        f += cost;
    }
    return done;
}

} // namespace

// ---- Z stack home --------------------------------------------------------------

int CKzExperimentAPI::GetZStackHomePosition(const SKzExperiment::SKzExpZStackLoop& loop, u32* home, double tolerance)
{
    const u32 n = loop.uiCount;
    const u32 middle = (n - 1u) / 2u;
    if (!home) return KZ_OK;
    double end;
    if (!ZHomeEnd(loop, end)) {
        *home = middle;
        return KZ_OK;
    }
    double h;
    if (loop.dZStep > 0) {
        const double x = (std::fabs(end - loop.dZHome) - tolerance * loop.dZStep) / loop.dZStep;
        h = std::fabs(std::ceil(x));
    } else {
        const double range = std::fabs(loop.dZHigh - loop.dZLow);
        h = (range > 0) ? std::trunc((double)(n - 1u) * std::fabs(loop.dZHome - end) / range) : NAN;
        if (n == 0) h = NAN;
    }
    *home = (std::isnan(h) || h < 0 || h >= (double)n || h > 4294967295.0) ? middle : (u32)h;
    return KZ_OK;
}

// ---- child selection ----------------------------------------------------------------

u64 CKzExperimentAPI::GetNextLevelPeriodicity(const SKzExperiment* level)
{
    if (!level || !level->ppNextLevelEx) return 0;
    if (level->uiNextLevelCount == 0) return 1;
    bool nul;
    const u64 s = RepeatSum(level->ppNextLevelEx, level->uiNextLevelCount, nul);
    if (nul) return 0;
    return s ? s : 1;
}

u64 CKzExperimentAPI::GetPeriodicity(const SubLoops* list)
{
    if (!list || !list->ppNextLevelEx || list->uiNextLevelCount == 0) return 0;
    bool nul;
    const u64 s = RepeatSum(list->ppNextLevelEx, list->uiNextLevelCount, nul);
    return nul ? 0 : s;
}

SKzExperiment* CKzExperimentAPI::GetNextLevelExperiment(SKzExperiment* level, u32 index)
{
    return const_cast<SKzExperiment*>(GetNextLevelExperiment((const SKzExperiment*)level, index));
}

const SKzExperiment* CKzExperimentAPI::GetNextLevelExperiment(const SKzExperiment* level, u32 index)
{
    if (!level) return nullptr;
    const u64 c = GetNextLevelPeriodicity(level);
    const u32 n = level->ppNextLevelEx ? level->uiNextLevelCount : 0;
    if (level->eType != SKzExperiment::eExpNETimeLoop)
        return Select(level->ppNextLevelEx, n, index, c, level->eType == SKzExperiment::eExpTimeLoop);
    const NETimeLoop& l = level->uLoopPars.sNETimeLoop;
    if (!l.pPeriod) return nullptr;
    for (u32 p = 0; p < l.uiPeriodCount; ++p) {
        if (!PeriodValid(l, p)) continue;
        const u32 e = l.pPeriod[p].uiCount;
        if (e != 0 && index >= e) {
            index -= e;
            continue;
        }
        SKzExperiment* const* kids;
        u32 k;
        u64 d;
        if (l.pSubLoops) {
            kids = l.pSubLoops[p].ppNextLevelEx;
            k = kids ? l.pSubLoops[p].uiNextLevelCount : 0;
            d = GetPeriodicity(&l.pSubLoops[p]);
        } else {
            kids = level->ppNextLevelEx;
            k = n;
            d = c;
        }
        if (k == 0 || !kids[0]) return nullptr;
        if (const SKzExperiment* s = Select(kids, k, index, d, true)) return s;
    }
    return nullptr;
}

const SKzExperiment* kzexp::SpectralChild(const SKzExperiment& lv)
{
    const u32 n = lv.ppNextLevelEx ? lv.uiNextLevelCount : 0;
    if (n == 0) return nullptr;
    if (n == 1) return lv.ppNextLevelEx[0];
    const u32 valid = API::GetLoopSize(&lv);
    if (valid == 0) return API::GetNextLevelExperiment(&lv, 0);
    // Channels 0 .. valid-1 reach the children whose block starts below
    // min(valid, cycle); a repeat of 0 takes every channel that reaches it.
    const u64 c = API::GetNextLevelPeriodicity(&lv);
    const u64 lim = (c && c < valid) ? c : valid;
    const SKzExperiment* best = nullptr;
    u64 j = 0;
    for (u32 i = 0; i < n && j < lim; ++i) {
        const SKzExperiment* ch = lv.ppNextLevelEx[i];
        if (!ch) break;
        if (!best || ch->uLoopPars.uiCount > best->uLoopPars.uiCount) best = ch;
        if (ch->uiRepeatCount == 0) break;
        j += ch->uiRepeatCount;
    }
    return best;
}

// ---- paths -------------------------------------------------------------------------

u32 CKzExperimentAPI::GetExperimentCount(const SKzExperiment* tree)
{
    u32 n = 0;
    for (; tree && n < (u32)kMaxPathLength; ++n) tree = GetNextLevelExperiment(tree, 0);
    return n;
}

int CKzExperimentAPI::FindExperiment(const SKzExperiment* tree, EType type, const u32* positions, u32 count,
                                     u32* depth, SKzExperiment** level)
{
    if (!tree) return KZ_ERR_INVALID_ARG;
    int result = KZ_ERR_NOT_FOUND;
    for (u32 d = 0; tree && d < (u32)kMaxPathLength; ++d) {
        if (tree->eType == type) {
            if (result == KZ_OK) return KZ_ERR_AMBIGUOUS;
            result = KZ_OK;
            if (depth) *depth = d;
            if (level) *level = const_cast<SKzExperiment*>(tree);
        }
        tree = GetNextLevelExperiment(tree, (positions && d < count) ? positions[d] : 0u);
    }
    return result;
}

u32 CKzExperimentAPI::GetLoopSize(const SKzExperiment* level)
{
    if (!level) return 0;
    if (level->eType == SKzExperiment::eExpNETimeLoop) {
        const NETimeLoop& l = level->uLoopPars.sNETimeLoop;
        if (!l.pPeriod) return 0;
        u64 s = 0;
        for (u32 p = 0; p < l.uiPeriodCount; ++p)
            if (PeriodValid(l, p)) s += l.pPeriod[p].uiCount;
        return (u32)SatU32(s);
    }
    const u32 n = level->uLoopPars.uiCount;
    if (!level->pItemValid) return n;
    u32 v = 0;
    for (u32 i = 0; i < n; ++i)
        if (level->pItemValid[i]) ++v;
    return v;
}

int CKzExperimentAPI::GetLoopSize(const SKzExperiment* tree, EType type, const u32* positions, u32 count, u32* size)
{
    SKzExperiment* found = nullptr;
    const int r = FindExperiment(tree, type, positions, count, nullptr, &found);
    if (r == KZ_OK && size) *size = GetLoopSize(found);
    return r;
}

int CKzExperimentAPI::GetLoopSize(const SKzExperiment* tree, u32 depth, const u32* positions, u32 count, u32* size)
{
    const SKzExperiment* lv = tree;
    for (u32 d = 0; lv && d < depth; ++d) {
        if (d >= (u32)kMaxPathLength) {
            lv = nullptr;
            break;
        }
        if (lv->eType == SKzExperiment::eExpSpectLoop)
            lv = SpectralChild(*lv);
        else
            lv = GetNextLevelExperiment(lv, (positions && d < count) ? positions[d] : 0u);
    }
    if (!lv) {
        if (size) *size = 0;
        return KZ_ERR_NOT_FOUND;
    }
    if (size) *size = GetLoopSize(lv);
    return KZ_OK;
}

u32 CKzExperimentAPI::GetLoopSizeForDisplay(const SKzExperiment* level)
{
    if (!level) return 0;
    if (level->eType == SKzExperiment::eExpTimeLoop) return level->uLoopPars.uiCount;
    if (level->eType == SKzExperiment::eExpNETimeLoop) {
        const NETimeLoop& l = level->uLoopPars.sNETimeLoop;
        if (!l.pPeriod) return 0;
        u64 s = 0;
        for (u32 p = 0; p < l.uiPeriodCount; ++p) {
            if (!PeriodValid(l, p)) continue;
            if (l.pPeriod[p].uiCount == 0) return 0;
            s += l.pPeriod[p].uiCount;
        }
        return (u32)SatU32(s);
    }
    return GetLoopSize(level);
}

namespace {
u32 SizeOfType(const SKzExperiment* tree, SKzExperiment::EKzExperimentType t, const u32* pos, u32 count, int* rc)
{
    SKzExperiment* found = nullptr;
    *rc = API::FindExperiment(tree, t, pos, count, nullptr, &found);
    return *rc == KZ_OK ? API::GetLoopSize(found) : 0;
}
} // namespace

u32 CKzExperimentAPI::GetAllCustLoopsSize(const SKzExperiment* tree, const u32* positions, u32 count)
{
    int rc;
    return SizeOfType(tree, SKzExperiment::eExpCustomLoop, positions, count, &rc);
}

u32 CKzExperimentAPI::GetAllZStackLoopsSize(const SKzExperiment* tree, const u32* positions, u32 count)
{
    int rc;
    return SizeOfType(tree, SKzExperiment::eExpZStackLoop, positions, count, &rc);
}

u32 CKzExperimentAPI::GetAllXYPosLoopsSize(const SKzExperiment* tree, const u32* positions, u32 count)
{
    int rc;
    return SizeOfType(tree, SKzExperiment::eExpXYPosLoop, positions, count, &rc);
}

u32 CKzExperimentAPI::GetAllTimeLoopsSize(const SKzExperiment* tree, const u32* positions, u32 count)
{
    static const SKzExperiment::EKzExperimentType kTypes[] = {
        SKzExperiment::eExpTimeLoop, SKzExperiment::eExpNETimeLoop, SKzExperiment::eExpManualTimeLoop};
    for (SKzExperiment::EKzExperimentType t : kTypes) {
        int rc;
        const u32 s = SizeOfType(tree, t, positions, count, &rc);
        if (rc != KZ_ERR_NOT_FOUND) return s;
    }
    return 0;
}

// ---- frame counts --------------------------------------------------------------------

u32 CKzExperimentAPI::GetAllImagesCount(const SKzExperiment* tree) { return (u32)SatU32(Frames(tree, 0)); }

u64 kzexp::FrameCount(const SKzExperiment* tree) { return SatU32(Frames(tree, 0)); }

u64 kzexp::FrameCount(const SKzExperiment* tree, u64 levels) { return SatU32(Frames(tree, 0, levels)); }

kz_uint32 SKzExperiment::GetPictureCount(SKzExperiment& level) { return CKzExperimentAPI::GetAllImagesCount(&level); }

bool CKzExperimentAPI::IsSimpleExperiment(const SKzExperiment* tree) { return Simple(tree, 0); }

int CKzExperimentAPI::WalkExperiment(const SKzExperiment* level, KzExperimentWalkCallback callback, void* context,
                                     u32 depth)
{
    if (!callback) return KZ_ERR_INVALID_ARG;
    return Walk(level, callback, context, depth, 0);
}

int getZStackSizeMaxCallback(const SKzExperiment* level, u32, void* context)
{
    if (!level || !context) return KZ_ERR_FAILED;
    u32* ctx = (u32*)context;
    if ((level->eType == SKzExperiment::eExpZStackLoop || (u32)level->eType == 10) &&
        level->uLoopPars.uiCount > ctx[0]) {
        ctx[0] = level->uLoopPars.uiCount;
        CKzExperimentAPI::GetZStackHomePosition(level->uLoopPars.sZStackLoop, &ctx[1], 0.05);
    }
    return KZ_OK;
}

int getSizeMaxCallback(const SKzExperiment* level, u32 depth, void* context)
{
    if (!level || !context) return KZ_ERR_FAILED;
    u32* ctx = (u32*)context;
    const u32 s = CKzExperimentAPI::GetLoopSize(level);
    if (s > ctx[1 + (size_t)depth]) {
        ctx[1 + (size_t)depth] = s;
        if (level->eType == SKzExperiment::eExpZStackLoop || (u32)level->eType == 10)
            CKzExperimentAPI::GetZStackHomePosition(level->uLoopPars.sZStackLoop, &ctx[0], 0.05);
    }
    return KZ_OK;
}

u32 CKzExperimentAPI::GetZStackSizeMax(const SKzExperiment* tree, u32* home)
{
    u32 ctx[2] = {0, 0};
    WalkExperiment(tree, getZStackSizeMaxCallback, ctx, 0);
    if (home) *home = ctx[1];
    return ctx[0];
}

// ---- insertion ---------------------------------------------------------------------------

int CKzExperimentAPI::AddExperimentLevel(SKzExperiment*& root, SKzExperiment* level, u32 depth)
{
    if (!level) return KZ_ERR_INVALID_ARG;
    return Insert(root, level, depth, 0);
}

int CKzExperimentAPI::AddExperimentLevel(SKzExperiment** root, SKzExperiment* level, u32 depth)
{
    if (!root || !level) return KZ_ERR_INVALID_ARG;
    return Insert(*root, level, depth, 0);
}

// ---- repair ----------------------------------------------------------------------------------

int CKzExperimentAPI::RepairExperiment(SKzExperiment* level, u32 written)
{
    if (!level) return KZ_ERR_FAILED;
    SKzExperiment& lv = *level;
    if (lv.eType == SKzExperiment::eExpSpectLoop) return KZ_OK;   // one frame, channels kept
    if (lv.eType == SKzExperiment::eExpNETimeLoop) {
        NETimeLoop& l = lv.uLoopPars.sNETimeLoop;
        u64 f = 0, total = 0;
        bool cut = false;   // a period ended early: later ones were not acquired
        if (l.pPeriod) {
            for (u32 p = 0; p < l.uiPeriodCount; ++p) {
                if (!PeriodValid(l, p)) continue;
                TimeLoop& per = l.pPeriod[p];
                if (cut || f > written) {
                    per.uiCount = 0;
                    continue;
                }
                SKzExperiment* const* kids;
                u32 n;
                if (l.pSubLoops) {
                    kids = l.pSubLoops[p].ppNextLevelEx;
                    n = kids ? l.pSubLoops[p].uiNextLevelCount : 0;
                } else {
                    kids = lv.ppNextLevelEx;
                    n = kids ? lv.uiNextLevelCount : 0;
                }
                u64 done;
                // A period whose list is empty or whose repeats sum to 0 counts
                // no frames and gets no items; one without any list or child
                // takes one frame per time point.
                bool dealt = true;
                const u64 perPoint = (per.uiLoopType & 3) ? 0 : 1;
                if (l.pSubLoops || n > 1) {
                    bool nul = false;
                    const u64 d = n ? RepeatSum(kids, n, nul) : 0;
                    dealt = n > 0 && !nul && d > 0;
                    done = dealt ? DealBlocks(kids, n, per.uiCount, written, f) : 0;
                } else if (n == 1) {
                    dealt = kids[0] != nullptr;
                    done = dealt ? DealItemsNoFlags(per.uiCount, perPoint * Frames(kids[0], 1), written, f) : 0;
                } else {
                    done = DealItemsNoFlags(per.uiCount, perPoint, written, f);   // one frame per time point
                }
                if (dealt && done < per.uiCount) cut = true;
                per.uiCount = (u32)done;
                total += done;
            }
        }
        l.uiCount = (u32)SatU32(total);
        return KZ_OK;
    }
    const u32 n = lv.ppNextLevelEx ? lv.uiNextLevelCount : 0;
    const bool open = lv.uLoopPars.uiCount == 0 && !HasItemArrays(lv);
    const u64 limit = open ? written : lv.uLoopPars.uiCount;
    const u64 perItem =
        (lv.eType == SKzExperiment::eExpTimeLoop && (lv.uLoopPars.sTimeLoop.uiLoopType & 3)) ? 0 : 1;
    u64 f = 0, done;
    if (n == 0 && !HasItemArrays(lv))
        done = written;   // nothing ties the count to stored items: one per frame written
    else if (n == 0)
        done = DealItems(lv, limit, perItem, written, f);
    else if (n == 1)
        done = lv.ppNextLevelEx[0] ? DealItems(lv, limit, perItem * Frames(lv.ppNextLevelEx[0], 1), written, f) : 0;
    else
        done = DealBlocks(lv.ppNextLevelEx, n, limit, written, f);
    lv.uLoopPars.uiCount = (u32)done;
    if (lv.eType == SKzExperiment::eExpTimeLoop) {
        TimeLoop& t = lv.uLoopPars.sTimeLoop;
        t.dStart = t.dPeriod = t.dDuration = 0;
        t.dMinPeriodDiff = t.dMaxPeriodDiff = t.dAvgPeriodDiff = 0;
    }
    return KZ_OK;
}
