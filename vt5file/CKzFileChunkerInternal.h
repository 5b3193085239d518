// Constants and little-endian helpers shared by the chunk container's sources.
#pragma once

#include <cstring>

#include "gnr_system/kz_base.h"

namespace vt5_chunk_detail {

constexpr u64 kBlock = 4096;
constexpr u32 kMagic = 0x0ABECEDAu;
constexpr const char kSignatureName[] = "VT5 FILE SIGNATURE CHUNK NAME01!";
constexpr const char kMapName[] = "VT5 FILEMAP SIGNATURE NAME 0001!";
constexpr const char kMapSignature[] = "VT5 CHUNK MAP SIGNATURE 0000001!";
constexpr size_t kNameFieldSig = 32;
constexpr size_t kSignatureChunkRead = 112; // header, name and version bytes of the signature chunk
constexpr size_t kVersionBytes = 64;
constexpr size_t kTrailer = 40;
// Longest chunk name a map can give back (the map reader stops at 511
// characters before the "!"); longer names are refused when written.
constexpr size_t kMaxName = 511;
// A name field is the name plus less than one block of zeros; anything far
// larger in a header is damage, never a reason to allocate.
constexpr u64 kMaxNameField = 65536;
// How much of a name field is examined for the name.
constexpr size_t kNameProbe = 1024;
// Chunk data must stay below 4 GiB (a u64 field, but every reader of the
// format takes 32-bit lengths).
constexpr u64 kMaxData = 0xFFFFFFFFull;

inline u64 roundUp(u64 v) { return (v + kBlock - 1) / kBlock * kBlock; }

inline void put32(unsigned char* p, u32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void put64(unsigned char* p, u64 v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline u32 get32(const unsigned char* p)
{
    u32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
inline u64 get64(const unsigned char* p)
{
    u64 v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

} // namespace vt5_chunk_detail
