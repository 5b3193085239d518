// Frame index to loop positions on a tree of about 10^6 frames: a
// non-equidistant root with 3 periods whose time points alternate between
// sub-experiments (XY over Z over spectral, and Z over spectral). The
// counter "last_over_first" (seconds per call of the last frame over the
// first, measured in the same run) shows that a frame deep in the sequence
// costs about as much as the first: cycles and periods go at once.
#include <benchmark/benchmark.h>

#include <chrono>

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_system/CKzAlloc.h"

namespace {

SKzExperiment* Level(SKzExperiment::EKzExperimentType t, kz_uint32 count, SKzExperiment* child, kz_uint32 repeat)
{
    SKzExperiment* e = nullptr;
    SKzExperiment::Alloc(&e);
    SKzExperiment::Init(*e, t, false, count, 0, child ? 1 : 0, 1);
    if (child) e->ppNextLevelEx[0] = child;
    e->uiRepeatCount = repeat;
    return e;
}

SKzExperiment* BuildTree()
{
    SKzExperiment* root = nullptr;
    SKzExperiment::Alloc(&root);
    const kz_uint32 counts[3] = {120, 200, 80};
    SKzExperiment::Init(*root, SKzExperiment::eExpNETimeLoop, false, 400, 3, 0, 1);
    auto& l = root->uLoopPars.sNETimeLoop;
    l.pSubLoops = new SKzExperiment::SKzExpNETimeLoop::SKzSubLoopsDefinition[3];
    for (int p = 0; p < 3; ++p) {
        l.pPeriod[p].uiCount = counts[p];
        auto& s = l.pSubLoops[p];
        s.uiNextLevelCount = 2;
        s.ppNextLevelEx = (SKzExperiment**)CKzAlloc::Alloc(1, 2 * sizeof(SKzExperiment*));
        s.ppNextLevelEx[0] = Level(SKzExperiment::eExpXYPosLoop, 40,
                                   Level(SKzExperiment::eExpZStackLoop, 100, Level(SKzExperiment::eExpSpectLoop, 3, nullptr, 1), 1), 2);
        s.ppNextLevelEx[1] =
            Level(SKzExperiment::eExpZStackLoop, 1000, Level(SKzExperiment::eExpSpectLoop, 3, nullptr, 1), 1);
    }
    return root;
}

struct Fixture {
    SKzExperiment* tree = BuildTree();
    kz_uint32 frames = CKzExperimentAPI::GetAllImagesCount(tree);
    ~Fixture() { SKzExperiment::FreeRecursive(tree); }
};

Fixture& F()
{
    static Fixture f;
    return f;
}

double SecondsPerCall(kz_uint32 index, int calls)
{
    kz_uint32 pos[8];
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) {
        CKzExperimentAPI::CalcPosFromIdx(F().tree, index, pos, nullptr);
        benchmark::DoNotOptimize(pos[0]);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / calls;
}

void BM_PosFromIdx(benchmark::State& state)
{
    const kz_uint32 n = F().frames;
    const kz_uint32 index = state.range(0) == 0 ? 0 : state.range(0) == 1 ? n / 2 : n - 1;
    kz_uint32 pos[8];
    for (auto _ : state) {
        CKzExperimentAPI::CalcPosFromIdx(F().tree, index, pos, nullptr);
        benchmark::DoNotOptimize(pos[0]);
    }
    state.counters["frames"] = n;
    // Same-run comparison of the last frame against the first.
    state.counters["last_over_first"] = SecondsPerCall(n - 1, 20000) / SecondsPerCall(0, 20000);
}

void BM_IdxFromPos(benchmark::State& state)
{
    const kz_uint32 n = F().frames;
    kz_uint32 pos[8], levels = 0;
    CKzExperimentAPI::CalcPosFromIdx(F().tree, n - 1, pos, &levels);
    kz_uint32 idx = 0;
    for (auto _ : state) {
        CKzExperimentAPI::CalcIdxFromPos(F().tree, pos, levels, idx);
        benchmark::DoNotOptimize(idx);
    }
    state.counters["frames"] = n;
}

} // namespace

BENCHMARK(BM_PosFromIdx)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(BM_IdxFromPos);
