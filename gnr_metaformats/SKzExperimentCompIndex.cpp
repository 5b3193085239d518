// Sequence indexes of the frames that hold each channel component at given
// loop positions. Above the spectral level the walk covers one cycle of items
// ending at the given position, so that every child is reached with its
// latest item not after it; a child reached several times in the cycle writes
// the same slots each time, so only its last item is visited, which keeps the
// walk to one visit per level however large a loop is.
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/KzExperimentNav.h"
#include "gnr_metaformats/KzExperimentInternal.h"
#include "gnr_metaformats/SKzPicturePlanes.h"

#include <algorithm>
#include <cstdint>
#include <vector>

using namespace kzexp;

namespace {

typedef CKzExperimentAPI API;

const u32 kNone = 0xFFFFFFFFu;

// What every spectral visit needs: the superset's slots and the Z stack.
struct Walk {
    const SKzExperiment* tree;
    const SKzExperiment* superset;
    u32 levels;
    u32* out;
    u64 limit;                        // slots the caller's array holds
    std::vector<SpectKey> keys;       // superset channel identities
    std::vector<u64> slot;            // first slot of each valid superset channel
    std::vector<char> valid;
    bool zKnown = false;
    u32 zMax = 0, zHome = 0;

    Walk(const SKzExperiment* t, const SKzExperiment* s, u32 n, u32* o) : tree(t), superset(s), levels(n), out(o)
    {
        const u32 m = SpectChannels(s);
        u64 at = 0;
        for (u32 k = 0; k < m; ++k) {
            const SKzPicturePlanes& set = *s->uLoopPars.sSpectLoop.pPlanes;
            keys.push_back(SpectChannelKey(set, k));
            const bool v = SpectValid(*s, k);
            valid.push_back(v);
            slot.push_back(at);
            if (v) at += set.pPlanes[k].uiCompCount;
        }
        limit = at;
    }
};

int visit(Walk& w, const SKzExperiment* level, u32* pos, u32 d, int guard);

// The frames of the components of one spectral level's channels.
int spectral(Walk& w, const SKzExperiment& lv, u32* pos)
{
    const u32 n = SpectChannels(&lv);
    if (n == 0) return KZ_OK;
    if (lv.ppNextLevelEx && lv.uiNextLevelCount && !w.zKnown) {
        w.zMax = API::GetZStackSizeMax(w.tree, &w.zHome);
        w.zKnown = true;
    }
    const SKzPicturePlanes& set = *lv.uLoopPars.sSpectLoop.pPlanes;
    const SKzPicturePlanes* sup = SpectChannels(w.superset) ? w.superset->uLoopPars.sSpectLoop.pPlanes : nullptr;
    std::vector<SpectKey> seen;
    std::vector<u32> copy(pos, pos + w.levels);
    for (u32 c = 0; c < n; ++c) {
        // The n-th channel with a key is the n-th superset channel with it.
        const SpectKey key = SpectChannelKey(set, c);
        u32 nth = (u32)std::count(seen.begin(), seen.end(), key);
        seen.push_back(key);
        if (!SpectValid(lv, c) || !sup) continue;
        u32 k = 0;
        for (; k < w.keys.size(); ++k)
            if (w.keys[k] == key && nth-- == 0) break;
        if (k >= w.keys.size() || !w.valid[k]) continue;
        std::copy(pos, pos + w.levels, copy.begin());
        const SKzExperiment* child = API::GetNextLevelExperiment(&lv, c);
        if (child && w.zKnown && child->uLoopPars.uiCount < w.zMax && w.levels > 0) copy[w.levels - 1] = w.zHome;
        u32 index = 0;
        if (API::CalcIdxFromPos(w.tree, copy.data(), w.levels, index) != KZ_OK) index = kNone;
        const u64 comps = sup->pPlanes[k].uiCompCount;
        for (u64 j = 0; j < comps && w.slot[k] + j < w.limit; ++j) w.out[w.slot[k] + j] = index;
    }
    return KZ_OK;
}

// Items of a level to visit, in order: the latest item of each child that
// one cycle ending at x reaches. Items are offsets from s; the cycle holds
// the offsets r+1 .. p-1 of the previous cycle (from b) and 0 .. r of the
// current one (from base). Children repeat with period per over the offsets.
void cycleItems(SKzExperiment* const* kids, u32 nk, u64 per, u64 p, u64 s, u64 x, u64 end, std::vector<u64>& items)
{
    const u64 q = (x - s) / p, r = (x - s) % p;
    const u64 base = q * p + s, b = q ? (q - 1) * p + s : s;
    // Block ends of the children over one period: the offsets where the
    // child serving an item can change.
    std::vector<u64> ends;
    u64 acc = 0;
    for (u32 i = 0; i < nk && kids[i]; ++i) {
        acc += kids[i]->uiRepeatCount;
        if (acc > 0 && acc <= per) ends.push_back(acc - 1);
    }
    if (per) ends.push_back(per - 1);
    // The latest offset in [lo, hi] ending each block, lo (item 0 of a time
    // loop may serve a child of its own) and hi itself.
    auto latest = [&](u64 lo, u64 hi, u64 from, std::vector<u64>& got) {
        for (u64 e : ends) {
            if (hi < e) continue;
            const u64 t = per ? hi - (hi - e) % per : hi;
            if (t >= lo) got.push_back(from + t);
        }
        got.push_back(from + lo);
        got.push_back(from + hi);
    };
    std::vector<u64> prev, cur;
    // Items of the previous cycle stay before the end of their period.
    const u64 hi = end - b - 1 < p - 1 ? end - b - 1 : p - 1;
    if (r + 1 <= hi) latest(r + 1, hi, b, prev);
    latest(0, r, base, cur);
    for (std::vector<u64>* v : {&prev, &cur}) {
        std::sort(v->begin(), v->end());
        v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    items.insert(items.end(), prev.begin(), prev.end());
    items.insert(items.end(), cur.begin(), cur.end());
}

int visit(Walk& w, const SKzExperiment* level, u32* pos, u32 d, int guard)
{
    if (!level) return KZ_ERR_INVALID_ARG;
    if (guard > kMaxTreeDepth) return KZ_ERR_FAILED;
    if (level->eType == SKzExperiment::eExpSpectLoop) return spectral(w, *level, pos);
    if (d >= w.levels) return KZ_ERR_FAILED;
    const u32 x = pos[d];
    // Candidates, cycle length and first item of the cycle range.
    SKzExperiment* const* kids = level->ppNextLevelEx;
    u32 nk = kids ? level->uiNextLevelCount : 0;
    u64 per = API::GetNextLevelPeriodicity(level), p = per, s = 0, end = ~0ull;
    if (level->eType == SKzExperiment::eExpNETimeLoop) {
        const NETimeLoop& l = level->uLoopPars.sNETimeLoop;
        if (!l.pPeriod) return KZ_ERR_FAILED;
        u64 start = 0;
        u32 found = l.uiPeriodCount;
        for (u32 k = 0; k < l.uiPeriodCount; ++k) {
            if (l.pPeriodValid && !l.pPeriodValid[k]) continue;
            const u64 e = l.pPeriod[k].uiCount;
            if (e == 0 || x < start + e) {
                found = k;
                break;
            }
            start += e;
        }
        if (found == l.uiPeriodCount) return KZ_ERR_FAILED;
        s = start;
        // A cycle does not reach into the next period.
        if (l.pPeriod[found].uiCount) end = start + l.pPeriod[found].uiCount;
        if (l.pSubLoops) {
            kids = l.pSubLoops[found].ppNextLevelEx;
            nk = kids ? l.pSubLoops[found].uiNextLevelCount : 0;
            per = p = API::GetPeriodicity(&l.pSubLoops[found]);
        }
    } else if (level->eType == SKzExperiment::eExpZStackLoop) {
        p = level->uLoopPars.sZStackLoop.uiCount;
    }
    if (!kids || nk == 0) return KZ_ERR_FAILED;

    std::vector<u64> items;
    if (kids[0] && kids[0]->uiRepeatCount == 0) items.push_back(s);
    if (p == 0 || per == 0 || x < s || nk == 1) items.push_back(x);
    else cycleItems(kids, nk, per, p, s, x, end, items);
    // One visit per child, at its last item, in the order of those items.
    std::vector<std::pair<const SKzExperiment*, u64>> plan;
    for (u64 t : items) {
        const SKzExperiment* c = API::GetNextLevelExperiment(level, (u32)t);
        if (!c) return KZ_ERR_INVALID_ARG;
        plan.push_back({c, t});
    }
    // Earlier visits of a child that is visited again are dropped.
    std::vector<std::pair<std::uintptr_t, size_t>> byChild;
    for (size_t i = 0; i < plan.size(); ++i) byChild.push_back({(std::uintptr_t)plan[i].first, i});
    std::sort(byChild.begin(), byChild.end());
    for (size_t i = 0; i + 1 < byChild.size(); ++i)
        if (byChild[i].first == byChild[i + 1].first) plan[byChild[i].second].first = nullptr;
    int result = KZ_OK;
    for (const auto& e : plan) {
        if (!e.first) continue;
        pos[d] = (u32)e.second;
        result = visit(w, e.first, pos, d + 1, guard + 1);
        if (result != KZ_OK) break;
    }
    pos[d] = x;
    return result;
}

} // namespace

int CKzExperimentAPI::GetCompIndexes_Impl(const SKzExperiment* tree, const SKzExperiment* level,
                                          const SKzExperiment* superset, u32* positions, u32 depth, u32 levels,
                                          u32* out)
{
    if (!tree || !superset || !positions || !out) return KZ_ERR_INVALID_ARG;
    try {
        Walk w(tree, superset, levels, out);
        return visit(w, level, positions, depth, 0);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

int CKzExperimentAPI::GetCompSeqIndexes(const SKzExperiment* tree, const u32* positions, u32 levels, u32* out)
{
    if (!tree || !positions || !out) return KZ_ERR_INVALID_ARG;
    SKzExperiment* superset = nullptr;
    const int got = GetSupersetSpectExp(tree, superset);
    if (got != KZ_OK || !superset) {
        SKzExperiment::FreeRecursive(superset);
        return got != KZ_OK ? got : KZ_ERR_INVALID_ARG;
    }
    int result;
    try {
        Walk w(tree, superset, levels, out);
        // Never beyond what the component count tells a caller to hold.
        u32 comps = 0;
        if (GetSpectCompCount(tree, comps) != KZ_OK) comps = 0;
        w.limit = std::min<u64>(w.limit, comps);
        for (u64 i = 0; i < w.limit; ++i) out[i] = kNone;
        std::vector<u32> pos(positions, positions + levels);
        result = visit(w, tree, pos.data(), 0, 0);
    } catch (...) {
        result = KZ_ERR_OUT_OF_MEMORY;
    }
    SKzExperiment::FreeRecursive(superset);
    return result;
}
