// A counted array of picture metadata records, one per picture of a sequence.
#pragma once

#include "gnr_system/kz_base.h"

struct SKzPictureMetadata;

struct KZ_EXPORT SKzPictureSequence {
    kz_uint32 uiCount;
    SKzPictureMetadata* pMetadata;   // uiCount records, owned; null when none

    // count records with their defaults (none and a null array for 0).
    // 0; -4 for a null sequence; -3 when the array cannot be made.
    static int Alloc(SKzPictureSequence* seq, kz_uint32 count);
    // Destroys the records and releases the array (count 0, null array
    // afterwards); nothing for a null sequence, a null array or a count of 0.
    static void Free(SKzPictureSequence* seq);
};
