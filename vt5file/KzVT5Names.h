// Chunk names of VT5 files and the small helpers that build and parse them.
#pragma once

#include <string>

#include "gnr_system/kz_base.h"

namespace vt5names {

inline constexpr const char* kFrame = "ImageDataSeq|";
inline constexpr const char* kAttributes = "ImageAttributes!";
inline constexpr const char* kAttributesLV = "ImageAttributesLV!";
inline constexpr const char* kExperiment = "ImageMetadata!";
inline constexpr const char* kExperimentLV = "ImageMetadataLV!";
inline constexpr const char* kFrameMeta = "ImageMetadataSeq|";
inline constexpr const char* kFrameMetaLV = "ImageMetadataSeqLV|";
inline constexpr const char* kCalibration = "ImageCalibration|";
inline constexpr const char* kTextInfo = "ImageTextInfo!";
inline constexpr const char* kTextInfoLV = "ImageTextInfoLV!";
inline constexpr const char* kEvents = "ImageEvents!";
inline constexpr const char* kEventsLV = "ImageEventsLV!";
inline constexpr const char* kBinary = "ImageBinary!";
inline constexpr const char* kCustomData = "CustomData|";
inline constexpr const char* kCustomDataSeq = "CustomDataSeq|";
inline constexpr const char* kCustomDataVar = "CustomDataVar|";
inline constexpr const char* kCustomDataVarSeq = "CustomDataVarSeq|";
inline constexpr const char* kAcqTimesCache = "CustomData|AcqTimesCache!";

// prefix, the index as a signed decimal ("%i"), "!".
std::string Indexed(const char* prefix, u32 index);
// True when name is exactly Indexed(prefix, index) for some index.
bool ParseIndexed(const std::string& name, const char* prefix, u32& index);
// prefix, the UTF-8 form of the wide name, "!".
std::string Custom(const char* prefix, const wchar_t* name);
// prefix, the UTF-8 form of the wide name, "|", the index ("%i"), "!".
std::string CustomIndexed(const char* prefix, const wchar_t* name, u32 index);
// UTF-8 form of a wide name (characters that have none become U+FFFD).
std::string Utf8(const wchar_t* name);
// Bytes of a binary picture: rows of one bit per pixel padded to 4 bytes.
inline u64 BinaryBytes(u32 width, u32 height)
{
    return (u64)height * 4 * ((((u64)width + 7) / 8 + 3) / 4);
}

}  // namespace vt5names
