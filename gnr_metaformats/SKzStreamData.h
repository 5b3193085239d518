// The catalogue of the signals an acquisition streamed into its file: five
// lists of streams, one per kind of signal, each stream named by key,
// description, caption and unit, with the index of its last data block and
// the size of its data. Hosts build it, store it as the custom-data variant
// "StreamDataV1_0" and load it back from an open file, a load that keeps only
// the streams whose blocks the file holds.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"

#include <vector>

class CKzVariant;
class IKzInputImageFile;

// The kind of a signal; any other value means a stream analog signal.
enum ERecordedDataType : kz_int32 {
    eRecordedStreamAnalog = 0,
    eRecordedStreamDigital = 1,
    eRecordedAnalog = 2,
    eRecordedDigital = 3,
    eRecordedOther = 4,
};

struct KZ_EXPORT SKzStreamDataItem {
    CKzStringW wsKey;
    CKzStringW wsDescription;
    CKzStringW wsCaption;
    CKzStringW wsUnit;
    kz_int32 iSeqMaxIndex;   // last block of the stream's sequence; -1: none yet
    kz_uint32 uiReserved;
    kz_uint64 uiDataSize;    // in the units of the blocks (500 a block)

    SKzStreamDataItem();
    // Null texts count as empty.
    SKzStreamDataItem(const wchar_t* key, const wchar_t* description, const wchar_t* caption, const wchar_t* unit);
    SKzStreamDataItem(const SKzStreamDataItem& other);
    SKzStreamDataItem& operator=(const SKzStreamDataItem& other);
    ~SKzStreamDataItem();
};

struct KZ_EXPORT SKzStreamData {
    // Units of one block of a stream's sequence.
    static const kz_uint32 BLOCK_UNITS = 500;

    std::vector<SKzStreamDataItem> Vector_StreamAnalog;
    std::vector<SKzStreamDataItem> Vector_StreamDigital;
    std::vector<SKzStreamDataItem> Vector_Analog;
    std::vector<SKzStreamDataItem> Vector_Other;
    std::vector<SKzStreamDataItem> Vector_Digital;

    std::vector<SKzStreamDataItem>& GetStreamDataVector(ERecordedDataType type);
    // Appends an item (no test for an existing key); its copy to item and
    // its position to index where given. 0.
    int AddDataItem(ERecordedDataType type, const wchar_t* key, const wchar_t* description, const wchar_t* caption,
                    const wchar_t* unit, SKzStreamDataItem* item, kz_uint32* index);
    // The first item with the key gets the texts that are not null. 0; -13
    // without such an item (nothing written).
    int UpdateDataItem(ERecordedDataType type, const wchar_t* key, const wchar_t* description,
                       const wchar_t* caption, const wchar_t* unit, SKzStreamDataItem* item, kz_uint32* index);
    // The data size grows to offset + length (saturating); the last block
    // follows it, at most 2^31 - 1. 0; -6 for a position past the list.
    int UpdateDataItemCount(ERecordedDataType type, kz_uint32 index, kz_uint64 offset, kz_uint32 length);
    // The five lists as the variant stored in files. 0.
    int SaveToVariant(CKzVariant& variant) const;
    // Lists present in the variant replace the catalogue's; the data sizes
    // of items kept stay. 0.
    int LoadFromVariant(const CKzVariant& variant);
    // The catalogue from "StreamDataV1_0", keeping only streams whose last
    // block the file holds (their data sizes from it). 0; -13 without the
    // catalogue or when no stream, digital ones aside, remains.
    int LoadFromInputFile(IKzInputImageFile* file);
};
