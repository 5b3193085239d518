// Builds a small acquisition (time points over two alternating XY
// sub-experiments) and prints its frame count and a few frames' positions.
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"

#include <cstdio>

static SKzExperiment* Level(SKzExperiment::EKzExperimentType type, kz_uint32 count, kz_uint32 children)
{
    SKzExperiment* e = nullptr;
    if (SKzExperiment::Alloc(&e) != 0) return nullptr;
    SKzExperiment::Init(*e, type, false, count, 0, children, 1);
    return e;
}

int main()
{
    // Time 4; items alternate between (XY 2 / Z 3) and (Z 5).
    SKzExperiment* root = Level(SKzExperiment::eExpTimeLoop, 4, 2);
    SKzExperiment* xy = Level(SKzExperiment::eExpXYPosLoop, 2, 1);
    if (!root || !xy) return 1;
    xy->ppNextLevelEx[0] = Level(SKzExperiment::eExpZStackLoop, 3, 0);
    root->ppNextLevelEx[0] = xy;
    root->ppNextLevelEx[1] = Level(SKzExperiment::eExpZStackLoop, 5, 0);

    const kz_uint32 frames = CKzExperimentAPI::GetAllImagesCount(root);
    std::printf("frames: %u\n", frames);
    const kz_uint32 picks[] = {0, 6, 10, frames - 1};
    for (kz_uint32 index : picks) {
        kz_uint32 pos[4] = {0, 0, 0, 0}, levels = 0;
        const int rc = CKzExperimentAPI::CalcPosFromIdx(root, index, pos, &levels);
        kz_uint32 back = 0;
        CKzExperimentAPI::CalcIdxFromPos(root, pos, levels, back);
        std::printf("frame %2u -> rc %d, positions", index, rc);
        for (kz_uint32 i = 0; i < levels && i < 4; ++i) std::printf(" %u", pos[i]);
        std::printf(" -> index %u\n", back);
    }
    SKzExperiment::FreeRecursive(root);
    return 0;
}
