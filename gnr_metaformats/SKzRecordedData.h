// Which values an acquisition records beside its frames: other values (stage
// coordinates "X", "Y", ...), analog inputs and TTL inputs, with the record
// interval, frequency and modes.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"

#include <vector>

class CKzVariant;
class CKzLiteVariantW;
class CKzLiteVariantR;

// Record modes; files carry any 32-bit value.
enum EKzRecordMode : kz_int32 {};

// One recorded value: a key, its description, flags (bit 0: temporary item,
// never persisted) and whether it is selected.
struct KZ_EXPORT SKzND_RecordedData {
    CKzStringW wsRDKey;
    CKzStringW wsRDDescription;
    kz_uint32 uiFlags;
    bool bRDCheck;

    // Empty texts, flags 0, not selected.
    SKzND_RecordedData();
    SKzND_RecordedData(const SKzND_RecordedData& other) = default;
    ~SKzND_RecordedData();
    SKzND_RecordedData& operator=(const SKzND_RecordedData& other);
};

// Predicate finding an item by its exact, case-sensitive key.
struct KZ_EXPORT SKzND_FindRecordedData_Key {
    CKzStringW m_key;
    explicit SKzND_FindRecordedData_Key(const CKzStringW& key);
    bool operator()(const SKzND_RecordedData& item) const;
};

struct KZ_EXPORT SKzRecordedData {
    std::vector<SKzND_RecordedData> VectorRD_Other;
    std::vector<SKzND_RecordedData> VectorRD_AngIn;
    std::vector<SKzND_RecordedData> VectorRD_TTLIn;
    double dValTime;
    double dValFrequnce;
    EKzRecordMode eRecordOther;
    EKzRecordMode eRecordAngIn;
    bool bReserved;
    kz_int32 iVersion;

    // dValTime 100, dValFrequnce 1, both modes 1, version 0, empty lists.
    SKzRecordedData();
    SKzRecordedData(const SKzRecordedData& other) = default;
    // Copies every field but bReserved; on exhausted memory the destination
    // keeps what it held.
    SKzRecordedData& operator=(const SKzRecordedData& other);
    // Equal scalars (doubles differ only when one is less or greater than
    // the other), equal list lengths, and items equal in key, description
    // and selection (flags are not compared).
    bool operator==(const SKzRecordedData& other) const;

    // Removes the temporary items of VectorRD_Other. 0.
    int RemoveTemporaryData();

    static int SaveToVariant(CKzVariant& variant, const SKzRecordedData& data);
    static int LoadFromVariant(SKzRecordedData& data, const CKzVariant& variant);
    static int SaveToLiteVariant(CKzLiteVariantW& writer, const SKzRecordedData& data);
    // A list holds at most the items stored in its item level (never more
    // than its "size").
    static int LoadFromLiteVariant(SKzRecordedData& data, CKzLiteVariantR& reader);
};
