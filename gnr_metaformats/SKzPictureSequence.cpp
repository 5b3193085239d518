// Picture sequences: allocation and release of their metadata records.
#include "gnr_metaformats/SKzPictureSequence.h"
#include "gnr_metaformats/SKzPictureMetadata.h"

#include <new>

int SKzPictureSequence::Alloc(SKzPictureSequence* seq, kz_uint32 count)
{
    if (!seq) return KZ_ERR_INVALID_ARG;
    seq->uiCount = count;
    seq->pMetadata = nullptr;
    if (count == 0) return KZ_OK;
    try {
        seq->pMetadata = new (std::nothrow) SKzPictureMetadata[count];
    } catch (...) {
        seq->pMetadata = nullptr;
    }
    if (!seq->pMetadata) {
        seq->uiCount = 0;
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

void SKzPictureSequence::Free(SKzPictureSequence* seq)
{
    if (!seq || !seq->pMetadata || seq->uiCount == 0) return;
    delete[] seq->pMetadata;
    // Left dangling, the array could be released twice.
    seq->pMetadata = nullptr;
    seq->uiCount = 0;
}
