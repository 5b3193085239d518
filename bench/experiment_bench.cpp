// Loading the experiment model's lite forms: an event log of 100,000 events
// and an XY-position loop of 100,000 points, each against a plain walk over
// every record of the same blob (entering every level, reading no value),
// timed in the same run. The ratio load / walk is the cost of reading the
// values by name.
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_system/CKzLiteVariant.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

const int kCount = 100000;

typedef std::vector<unsigned char> Bytes;

void open(CKzLiteVariantR& r, const Bytes& b)
{
    r.Clear();
    r.SetData(b.data(), b.size(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    r.Reset();
}

Bytes finish(CKzLiteVariantW& w)
{
    CKzLiteVariantR r;
    w.Finalize(r);
    return Bytes(r.GetData(), r.GetData() + r.GetSize());
}

const Bytes& logBlob()
{
    static const Bytes blob = [] {
        SKzExperimentRecord log;
        for (int i = 0; i < kCount; ++i) {
            SKzExperimentEvent e;
            std::wstring d = L"event " + std::to_wstring(i);
            SKzExperimentEvent::Init(e, i * 12.5, (SKzExperimentEvent::EMeaning)(33 + i % 8),
                                     i % 4 ? d.c_str() : nullptr, nullptr, 0);
            e.uiReserved[0] = e.uiReserved[1] = 0;
            if (i % 10 == 0) e.dTime2 = i * 12.5 + 3;
            SKzExperimentRecord::AddEvent(log, e, nullptr);
            SKzExperimentEvent::Free(e);
        }
        CKzLiteVariantW w;
        SKzExperimentRecord::SaveToLiteVariant(w, log);
        return finish(w);
    }();
    return blob;
}

const Bytes& xyBlob()
{
    static const Bytes blob = [] {
        SKzExperiment lv;
        SKzExperiment::Init(lv, SKzExperiment::eExpXYPosLoop, true, kCount, 0, 0, 0);
        SKzExperiment::SKzExpXYPosLoop& p = lv.uLoopPars.sXYPosLoop;
        for (int i = 0; i < kCount; ++i) {
            p.dPosX[i] = i * 0.5;
            p.dPosY[i] = -i * 0.25;
            p.dPosZ[i] = 1000 + i % 17;
            p.dHZKOffset[i] = 0.1;
            p.pPosName[i] = (L"P" + std::to_wstring(i)).c_str();
        }
        CKzLiteVariantW w;
        SKzExperiment::SaveToLiteVariant(w, lv);
        return finish(w);
    }();
    return blob;
}

// Visits every record of the entered level and of the levels inside it.
long walk(CKzLiteVariantR& r)
{
    long n = 0;
    while (r.IsNextValue()) {
        ++n;
        if (r.CurrentLevelBegin() == KZ_OK) {
            n += walk(r);
            r.LevelEnd();
        }
        if (r.NextValue() != KZ_OK) break;
    }
    return n;
}

void BM_LogLoad(benchmark::State& state)
{
    CKzLiteVariantR r;
    open(r, logBlob());
    for (auto _ : state) {
        r.Reset();
        SKzExperimentRecord log;
        SKzExperimentRecord::LoadFromLiteVariant(log, r);
        benchmark::DoNotOptimize(log.uiCount);
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_LogLoad)->Unit(benchmark::kMillisecond);

void BM_LogWalk(benchmark::State& state)
{
    CKzLiteVariantR r;
    open(r, logBlob());
    for (auto _ : state) {
        r.Reset();
        benchmark::DoNotOptimize(walk(r));
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_LogWalk)->Unit(benchmark::kMillisecond);

void BM_XYLoopLoad(benchmark::State& state)
{
    CKzLiteVariantR r;
    open(r, xyBlob());
    for (auto _ : state) {
        r.Reset();
        SKzExperiment lv;
        SKzExperiment::LoadFromLiteVariant(lv, r);
        benchmark::DoNotOptimize(lv.uLoopPars.uiCount);
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_XYLoopLoad)->Unit(benchmark::kMillisecond);

void BM_XYLoopWalk(benchmark::State& state)
{
    CKzLiteVariantR r;
    open(r, xyBlob());
    for (auto _ : state) {
        r.Reset();
        benchmark::DoNotOptimize(walk(r));
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_XYLoopWalk)->Unit(benchmark::kMillisecond);

} // namespace
