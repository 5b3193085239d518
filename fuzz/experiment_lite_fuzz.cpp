// Feeds arbitrary bytes to the experiment model's lite readers: an experiment
// tree, an event log, and (inside the first level of the blob) an input/output
// setup, recorded-value definitions and parallel tasks. Each result is deep
// copied, compared with its copy, written, read again and written once more
// (the two writings must agree), then freed. The tree answers every query of
// the experiment model.
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_metaformats/SKzExperimentNI.h"
#include "gnr_metaformats/SKzParallelExperiment.h"
#include "gnr_metaformats/SKzRecordedData.h"
#include "gnr_system/CKzLiteVariant.h"
#include "experiment_queries.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

void load(CKzLiteVariantR& r, const uint8_t* data, size_t size)
{
    r.Clear();
    if (size) r.SetData(data, size, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    r.Reset();
}

void check(bool ok)
{
    if (!ok) __builtin_trap();
}

// Bytes written by write() inside a root level.
template <class F>
Bytes written(F write)
{
    CKzLiteVariantW w;
    w.LevelBegin(L"root");
    write(w);
    w.LevelEnd();
    CKzLiteVariantR r;
    w.Finalize(r);
    return Bytes(r.GetData(), r.GetData() + r.GetSize());
}

// Reads what write() stored back through read() inside the root level.
template <class F>
void reread(const Bytes& b, F read)
{
    CKzLiteVariantR r;
    load(r, b.data(), b.size());
    if (r.LevelBegin(L"root") == KZ_OK) read(r);
}

void experiment(const uint8_t* data, size_t size)
{
    CKzLiteVariantR r;
    load(r, data, size);
    SKzExperiment* tree = nullptr;
    if (SKzExperiment::Alloc(&tree) != KZ_OK) return;
    if (SKzExperiment::LoadFromLiteVariant(*tree, r) != KZ_OK) {
        // Not inside its own level, or a damaged tree read all the same: read
        // from the first level of the blob into a fresh level (the readers
        // fill fresh levels only).
        SKzExperiment::FreeRecursive(tree);
        tree = nullptr;
        if (SKzExperiment::Alloc(&tree) != KZ_OK) return;
        load(r, data, size);
        if (r.CurrentLevelBegin() == KZ_OK) SKzExperiment::ReadFromLiteVariant(*tree, r);
    }
    uint32_t seed = 2166136261u;
    for (size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 16777619u;
    expfuzz::runQueries(tree, seed);
    if (expfuzz::heavy(tree)) {
        SKzExperiment::FreeRecursive(tree);
        return;
    }
    const Bytes first = written([&](CKzLiteVariantW& w) { SKzExperiment::WriteToLiteVariant(w, *tree); });
    SKzExperiment* copy = nullptr;
    if (SKzExperiment::Duplicate(&copy, *tree, true) == KZ_OK) {
        // Levels of a loop type compare equal to their copies only when every
        // level has one. A copy completes what a loaded level may lack (period
        // flags), so a copy of the copy stores exactly what the copy stores.
        SKzExperiment::IsEqual(*tree, *copy, true, true);
        const Bytes once = written([&](CKzLiteVariantW& w) { SKzExperiment::WriteToLiteVariant(w, *copy); });
        SKzExperiment* twice = nullptr;
        if (SKzExperiment::Duplicate(&twice, *copy, true) == KZ_OK) {
            check(once == written([&](CKzLiteVariantW& w) { SKzExperiment::WriteToLiteVariant(w, *twice); }));
            SKzExperiment::FreeRecursive(twice);
        }
        SKzExperiment* flat = nullptr;
        if (SKzExperiment::Duplicate(&flat, *copy, false) == KZ_OK) SKzExperiment::Free(flat);
    }
    SKzExperiment again;
    reread(first, [&](CKzLiteVariantR& rr) { SKzExperiment::ReadFromLiteVariant(again, rr); });
    const Bytes second = written([&](CKzLiteVariantW& w) { SKzExperiment::WriteToLiteVariant(w, again); });
    check(first == second);
    SKzExperiment::FreeRecursive(copy);
    SKzExperiment::FreeRecursive(tree);
}

void eventLog(const uint8_t* data, size_t size)
{
    CKzLiteVariantR r;
    load(r, data, size);
    SKzExperimentRecord log;
    if (SKzExperimentRecord::LoadFromLiteVariant(log, r) != KZ_OK) {
        load(r, data, size);
        if (r.CurrentLevelBegin() == KZ_OK) SKzExperimentRecord::LoadFromLiteVariant(log, r);
    }
    SKzExperimentRecord copy;
    SKzExperimentRecord::Copy(copy, log);
    check(copy.uiCount == log.uiCount);
    if (log.uiCount) {
        kz_uint32 i = 0;
        SKzExperimentRecord::GetNext(log, log.pFirstEvent[0].dTime, &i);
        SKzExperimentRecord::GetPrevious(log, log.pFirstEvent[log.uiCount - 1].dTime, &i);
        check(SKzExperimentRecord::FindFirst(log, log.pFirstEvent[0].dTime) < log.uiCount);
    }
    const Bytes first = written([&](CKzLiteVariantW& w) { SKzExperimentRecord::SaveToLiteVariant(w, log); });
    SKzExperimentRecord again;
    reread(first, [&](CKzLiteVariantR& rr) { SKzExperimentRecord::LoadFromLiteVariant(again, rr); });
    check(again.uiCount == log.uiCount);
    const Bytes second = written([&](CKzLiteVariantW& w) { SKzExperimentRecord::SaveToLiteVariant(w, again); });
    check(first == second);
    SKzExperimentRecord::Merge(copy, again);
    check(again.uiCount == 0);
}

void sideRecords(const uint8_t* data, size_t size)
{
    CKzLiteVariantR r;
    load(r, data, size);
    if (r.CurrentLevelBegin() != KZ_OK) return;

    SKzExperimentNI ni;
    SKzExperimentNI::LoadFromLiteVariant(ni, r);
    SKzExperimentNI niCopy;
    niCopy = ni;
    check(niCopy == ni);
    Bytes first = written([&](CKzLiteVariantW& w) { SKzExperimentNI::SaveToLiteVariant(w, ni); });
    SKzExperimentNI niAgain;
    reread(first, [&](CKzLiteVariantR& rr) { SKzExperimentNI::LoadFromLiteVariant(niAgain, rr); });
    check(niAgain == ni);

    r.FirstValue();
    SKzRecordedData rd;
    SKzRecordedData::LoadFromLiteVariant(rd, r);
    SKzRecordedData rdCopy;
    rdCopy = rd;
    check(rdCopy == rd);
    first = written([&](CKzLiteVariantW& w) { SKzRecordedData::SaveToLiteVariant(w, rd); });
    SKzRecordedData rdAgain;
    reread(first, [&](CKzLiteVariantR& rr) { SKzRecordedData::LoadFromLiteVariant(rdAgain, rr); });
    const Bytes second = written([&](CKzLiteVariantW& w) { SKzRecordedData::SaveToLiteVariant(w, rdAgain); });
    check(first == second);

    r.FirstValue();
    SKzParallelExperiment pe;
    SKzParallelExperiment::LoadFromLiteVariant(pe, r);
    SKzParallelExperiment peCopy;
    SKzParallelExperiment::Copy(peCopy, pe);
    SKzParallelExperiment::IsEqual(peCopy, pe);   // tasks may share an ID: no fixed answer
    first = written([&](CKzLiteVariantW& w) { SKzParallelExperiment::SaveToLiteVariant(w, pe); });
    check(first == written([&](CKzLiteVariantW& w) { SKzParallelExperiment::SaveToLiteVariant(w, peCopy); }));
    SKzParallelExperiment peAgain;
    reread(first, [&](CKzLiteVariantR& rr) { SKzParallelExperiment::LoadFromLiteVariant(peAgain, rr); });
    check(first == written([&](CKzLiteVariantW& w) { SKzParallelExperiment::SaveToLiteVariant(w, peAgain); }));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    experiment(data, size);
    eventLog(data, size);
    sideRecords(data, size);
    return 0;
}
