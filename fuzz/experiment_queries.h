// Every tree query of the experiment model run on one (hostile) tree, for the
// experiment fuzz targets: counts, loop sizes, index round trips at the first,
// last and a chosen frame, a repair of a copy, Z-stack, camera and
// large-image queries, the channel superset and the component indexes sized
// by the component count.
#pragma once

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"

#include <cstdint>
#include <vector>

namespace expfuzz {

inline void require(bool ok)
{
    if (!ok) __builtin_trap();
}

// Per-item entries the loops of a tree hold (positions, grid items,
// channels, periods), the period children included. Loaders keep stored
// counts up to a bound of about 10^8 bytes of arrays, so a small input can
// describe a tree whose copies and writings would take gigabytes: the
// targets copy and write only trees below kHeavyItems and run the queries on
// every tree.
const kz_uint64 kHeavyItems = 1u << 16;

inline kz_uint64 itemEntries(const SKzExperiment* level, int depth = 0)
{
    if (!level || depth > 2000) return 0;
    kz_uint64 n = 0;
    switch (level->eType) {
    case SKzExperiment::eExpXYPosLoop:
    case SKzExperiment::eExpXYDiscrLoop:
    case SKzExperiment::eExpSpectLoop: n = level->uLoopPars.uiCount; break;
    case SKzExperiment::eExpNETimeLoop: {
        const SKzExperiment::SKzExpNETimeLoop& l = level->uLoopPars.sNETimeLoop;
        n = l.uiPeriodCount;
        for (kz_uint32 p = 0; l.pSubLoops && p < l.uiPeriodCount; ++p)
            for (kz_uint32 i = 0; l.pSubLoops[p].ppNextLevelEx && i < l.pSubLoops[p].uiNextLevelCount; ++i)
                n += itemEntries(l.pSubLoops[p].ppNextLevelEx[i], depth + 1);
        break;
    }
    default: break;
    }
    for (kz_uint32 i = 0; level->ppNextLevelEx && i < level->uiNextLevelCount; ++i)
        n += itemEntries(level->ppNextLevelEx[i], depth + 1);
    return n;
}

inline bool heavy(const SKzExperiment* tree) { return itemEntries(tree) > kHeavyItems; }

// Z-stack geometry of every Z stack met on the walk.
inline int zCallback(const SKzExperiment* level, kz_uint32, void*)
{
    if (level && level->eType == SKzExperiment::eExpZStackLoop) {
        double step = 0;
        CKzExperimentAPI::GetZStackStepSize(level, &step);
        const SKzExperiment::SKzExpZStackLoop& z = level->uLoopPars.sZStackLoop;
        CKzExperimentAPI::GetZStackPositionForDisplay(z, 0);
        CKzExperimentAPI::GetZStackPositionForDisplay(z, z.uiCount ? z.uiCount - 1 : 0);
        CKzExperimentAPI::GetZStackFirstMovePosition(z, 1.5);
        kz_uint32 home = 0;
        CKzExperimentAPI::GetZStackHomePosition(z, &home, 0.5);
    }
    return 0;
}

// Positions of a frame and back to its index; the positions for the other queries.
// Past the last frame the leaf entry is unbounded, so only frames of the
// tree must come back.
inline void roundTrip(const SKzExperiment* tree, kz_uint32 index, kz_uint32 levels, std::vector<kz_uint32>& pos,
                      bool inside = true)
{
    pos.assign(levels + 1, 0);
    kz_uint32 count = 0;
    if (CKzExperimentAPI::CalcPosFromIdx(tree, index, pos.data(), &count) != KZ_OK) return;
    require(count == levels);
    kz_uint32 back = 0;
    if (CKzExperimentAPI::CalcIdxFromPos(tree, pos.data(), levels, back) == KZ_OK && inside) require(back == index);
    std::vector<kz_uint32> sizes(levels + 1, 0);
    for (kz_uint32 d = 0; d < levels; ++d) CKzExperimentAPI::GetLoopSize(tree, d, pos.data(), levels, &sizes[d]);
    CKzExperimentAPI::GetAllCustLoopsSize(tree, pos.data(), levels);
    CKzExperimentAPI::GetAllZStackLoopsSize(tree, pos.data(), levels);
    CKzExperimentAPI::GetAllXYPosLoopsSize(tree, pos.data(), levels);
    CKzExperimentAPI::GetAllTimeLoopsSize(tree, pos.data(), levels);
    for (int t = 0; t <= 9; ++t) {
        kz_uint32 depth = 0, size = 0;
        SKzExperiment* found = nullptr;
        CKzExperimentAPI::FindExperiment(tree, (SKzExperiment::EKzExperimentType)t, pos.data(), levels, &depth,
                                         &found);
        CKzExperimentAPI::GetLoopSize(tree, (SKzExperiment::EKzExperimentType)t, pos.data(), levels, &size);
    }
}

// The component indexes, into an array of exactly the component count.
inline void components(const SKzExperiment* tree, const std::vector<kz_uint32>& pos, kz_uint32 levels)
{
    kz_uint32 comps = 0;
    if (CKzExperimentAPI::GetSpectCompCount(tree, comps) != KZ_OK || comps > (1u << 20)) return;
    std::vector<kz_uint32> out(comps ? comps : 1);
    CKzExperimentAPI::GetCompSeqIndexes(tree, pos.data(), levels, out.data());
}

inline void runQueries(const SKzExperiment* tree, uint32_t seed)
{
    const kz_uint32 frames = CKzExperimentAPI::GetAllImagesCount(tree);
    CKzExperimentAPI::GetExperimentCount(tree);
    CKzExperimentAPI::IsSimpleExperiment(tree);
    CKzExperimentAPI::GetLoopSize(tree);
    CKzExperimentAPI::GetLoopSizeForDisplay(tree);
    CKzExperimentAPI::GetNextLevelPeriodicity(tree);
    CKzExperimentAPI::GetNextLevelExperiment(tree, seed);
    kz_uint32 levels = 0;
    CKzExperimentAPI::CalcPosFromIdx(tree, 0, nullptr, &levels);
    if (levels > 4096) levels = 4096;
    std::vector<kz_uint32> pos;
    if (frames) {
        const kz_uint32 picks[] = {0, frames - 1, seed % frames};
        for (kz_uint32 f : picks) {
            roundTrip(tree, f, levels, pos);
            components(tree, pos, levels);
        }
    }
    roundTrip(tree, frames, levels, pos, false);   // one past the last frame
    pos.assign(levels + 1, seed);
    components(tree, pos, levels);

    // A repair of a copy, plain and with frame times.
    SKzExperiment* copy = nullptr;
    if (SKzExperiment::Duplicate(&copy, *tree, true) == KZ_OK) {
        CKzExperimentAPI::RepairExperiment(copy, frames / 2 + seed % 3);
        CKzExperimentAPI::GetAllImagesCount(copy);
        std::vector<double> times(16);
        for (size_t i = 0; i < times.size(); ++i) times[i] = 100.0 * (double)i + (double)(seed % 7) * (double)(i % 3);
        CKzByteArray bytes(times.data(), (unsigned long)(times.size() * sizeof(double)), 0);
        CKzExperimentAPI::RepairExperimentEx(copy, seed % 20, bytes);
        CKzExperimentAPI::GetAllImagesCount(copy);
        SKzExperiment::FreeRecursive(copy);
    }

    // Z stack, cameras, large image.
    kz_uint32 home = 0, first = 0;
    CKzExperimentAPI::GetZStackSizeMax(tree, &home);
    CKzExperimentAPI::GetFirstZStackHomePosition(tree, &first);
    CKzExperimentAPI::WalkExperiment(tree, zCallback, nullptr, 0);
    CKzStringW a, b;
    bool merged = false;
    const kz_uint32 cameras = CKzExperimentAPI::GetCameraDescription(tree, &a, &b, &merged);
    require(cameras == 1 || cameras == 2);
    SKzExperiment::SKzLIDesc desc;
    CKzExperimentAPI::GetLargeImage(tree, &desc, nullptr);
    CKzExperimentAPI::GetLargeImage(tree, &desc, L"A");

    // The channel superset and its queries.
    SKzExperiment* superset = nullptr;
    CKzExperimentAPI::GetSupersetSpectExp(tree, superset);
    SKzExperiment::FreeRecursive(superset);
    CKzExperimentAPI::HasSameLambdaChannels(tree);
    SKzPicturePlanes planes;
    CKzExperimentAPI::GetSpectPlanes(tree, planes);
    SKzPicturePlanes::Free(planes);
}

} // namespace expfuzz
