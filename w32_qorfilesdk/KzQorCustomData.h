// Hosts' own named blocks of bytes in VT5 files, for C++ hosts: the list of
// block names ("QorApi_CustomData"), foreign blocks by name, and two fixed
// acquisition records of the maker's instruments with their older versions.
#pragma once

#include <map>
#include <vector>

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"

class CKzByteArray;
class IKzInputImageFile;
class IKzOutputImageFile;

// One foreign block: a name and owned bytes.
struct KZ_EXPORT SKz3rdPartyCustomData {
    CKzStringW m_strName;
    u32 m_uiSize;
    void* m_pData;  // CKzAlloc block of m_uiSize bytes, null when empty

    SKz3rdPartyCustomData();
    explicit SKz3rdPartyCustomData(const CKzStringW& name);
    // Copies size bytes (none when bytes is null).
    SKz3rdPartyCustomData(const CKzStringW& name, u32 size, const void* bytes);
    SKz3rdPartyCustomData(const SKz3rdPartyCustomData& other);
    ~SKz3rdPartyCustomData();
    SKz3rdPartyCustomData& operator=(const SKz3rdPartyCustomData& other);

    // Replaces name and bytes. 0; -3 when memory runs out (the block is
    // then empty); -4 for null bytes with a size.
    kz_result Set(const CKzStringW& name, u32 size, const void* bytes);
};

// Name order of the foreign-block maps: character codes one by one.
struct __attribute__((visibility("hidden"))) SKz3rdPartyNameLess {
    bool operator()(const CKzStringW& a, const CKzStringW& b) const
    {
        const wchar_t* p = a.GetString();
        const wchar_t* q = b.GetString();
        for (;; ++p, ++q) {
            const u32 x = (u32)*p, y = (u32)*q;
            if (x != y)
                return x < y;
            if (!x)
                return false;
        }
    }
};
typedef std::map<CKzStringW, SKz3rdPartyCustomData, SKz3rdPartyNameLess> KzQor3rdPartyMap;
typedef std::vector<CKzStringW> KzQorNameVector;

// Acquisition record of structured-illumination instruments (2056 bytes).
struct KZ_EXPORT SKzQuarnSimAcqData {
    unsigned char aBytes[2056];
};
static_assert(sizeof(SKzQuarnSimAcqData) == 2056, "fixed stored size");

// Acquisition record of localisation-microscopy instruments, version 3
// (28600 bytes; the first u32 is the version).
struct KZ_EXPORT SKzQuarnStormAcqData_v3 {
    u32 uiVersion;
    unsigned char aBytes[28596];
};
static_assert(sizeof(SKzQuarnStormAcqData_v3) == 28600, "fixed stored size");

// The tag-name list form: each name as 32-bit characters and a 0, then one
// more 0.
void KzQorEncodeNameList(const CKzStringW* names, size_t count, std::vector<u32>& out);
// Names of a stored list, up to the empty name or the end of the data
// (trailing bytes that make no whole character are ignored).
void KzQorDecodeNameList(const unsigned char* data, u64 size, KzQorNameVector& names);

// The names as "QorApi_CustomData" (in vector order); the writer's result.
KZ_EXPORT kz_result QorApiSupport_FileSave3rdPartyCustomDataHeader(IKzOutputImageFile* writer,
                                                                   const KzQorNameVector& names);
// Every block under its name in map order; stops at the first failure.
KZ_EXPORT kz_result QorApiSupport_FileSave3rdPartyCustomData(IKzOutputImageFile* writer,
                                                             const KzQor3rdPartyMap& blocks);
// Reads custom data <name> into block; the read's result.
KZ_EXPORT kz_result QorApiSupport_FileLoad3rdPartyCustomData(SKz3rdPartyCustomData& block, const wchar_t* name,
                                                             IKzInputImageFile* reader);
// Appends the names listed in "QorApi_CustomData"; -13 when the list yields none.
KZ_EXPORT kz_result QorApiSupport_FileLoad3rdPartyCustomDataGetAllTags(KzQorNameVector& names,
                                                                       IKzInputImageFile* reader);
// Appends the map's names in map order. 0.
KZ_EXPORT kz_result QorApiSupport_File3rdPartyCustomDataGetAllTagsFromMap(KzQorNameVector& names,
                                                                         const KzQor3rdPartyMap& blocks);
// Loads each named block into the map (an existing entry is kept; blocks
// that fail are skipped). 0.
KZ_EXPORT kz_result QorApiSupport_FileLoad3rdPartyCustomDataMap(KzQor3rdPartyMap& blocks,
                                                                const KzQorNameVector& names,
                                                                IKzInputImageFile* reader);
KZ_EXPORT kz_result QorApiSupport_FileSaveQuarnSimAcqData(IKzOutputImageFile* writer,
                                                          const SKzQuarnSimAcqData& record);
KZ_EXPORT kz_result QorApiSupport_FileSaveQuarnStormAcqData(IKzOutputImageFile* writer,
                                                            const SKzQuarnStormAcqData_v3& record);
// A read failure's code; -1 for a block of another size; 0.
KZ_EXPORT kz_result QorApiSupport_FileLoadQuarnSimAcqData(SKzQuarnSimAcqData& record, IKzInputImageFile* reader);
// The version-3 block, else a version-2 or version-1 block converted to
// version 3. A read failure's code; -1 for a block of the wrong size; 0.
KZ_EXPORT kz_result QorApiSupport_FileLoadQuarnStormAcqData(SKzQuarnStormAcqData_v3& record,
                                                            IKzInputImageFile* reader);
