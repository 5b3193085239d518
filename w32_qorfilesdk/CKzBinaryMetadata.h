// Binary-layer descriptors: the kinds of one-bit masks a file carries per
// frame (name, component, colour, state, order and the name of the
// custom-data sequence that holds the layer's pictures), stored together as
// the custom-data variant "BinaryMetadata_v1"; and a numbered sequence of
// byte arrays stored as a custom-data sequence.
#pragma once

#include <vector>

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"

class CKzByteArray;
class CKzVariant;
class IKzInputImageFile;
class IKzOutputImageFile;

class KZ_EXPORT CKzBinaryMetadata {
public:
    struct SKzBinaryItem {
        u32 uiState;            // 0x10000 default descriptor, 0x80000 made with a component name
        u32 uiColor;            // 0x00BBGGRR
        CKzStringW strName;
        CKzStringW strCompName;
        u32 uiCompOrder;
        CKzStringW strFileTag;  // the custom-data sequence of the layer's pictures
        SKzBinaryItem() : uiState(0), uiColor(0), uiCompOrder(0) {}
    };

    enum : u32 {
        eStateDefault = 0x10000,
        eStateComponent = 0x80000,
    };

    CKzBinaryMetadata();
    ~CKzBinaryMetadata();

    void Clear();
    u32 GetItemCount() const { return (u32)m_vItems.size(); }
    // Null for an index at or beyond the count.
    SKzBinaryItem* GetItem(u32 index);
    const SKzBinaryItem* GetItem(u32 index) const;
    // Numbers 0, strings empty.
    static void InitItem(SKzBinaryItem& item);
    // An item without file tag first gets the default tag of the position it
    // takes (written into the given item); then a copy is appended. The new
    // item's index.
    int AddItem(SKzBinaryItem& item);
    // "RleZipBinarySequence_<position>_v1", position counted from 1.
    static CKzStringW DefaultFileTag(u32 position);

    // Fills item from a "BinaryItem" node by name (missing members 0 or empty).
    static void LoadItemFromVariant(SKzBinaryItem& item, const CKzVariant& node);
    // A "BinaryItem" node of the item's six members.
    static void SaveItemToVariant(CKzVariant& node, const SKzBinaryItem& item);
    // The whole list as the variant "BinaryMetadata_v1".
    void SaveToVariant(CKzVariant& root) const;

    // Reads "BinaryMetadata_v1"; the read's result. A list with children
    // replaces the items; one without leaves them.
    int LoadFromInputFile(IKzInputImageFile* reader);
    // The writer's result of storing "BinaryMetadata_v1".
    int SaveToOutputFile(IKzOutputImageFile* writer) const;

private:
    std::vector<SKzBinaryItem> m_vItems;
};

// Byte arrays stored as the items of a numbered custom-data sequence.
class KZ_EXPORT CKzBinaryByteArrayMetadata {
public:
    CKzBinaryByteArrayMetadata();
    ~CKzBinaryByteArrayMetadata();
    CKzBinaryByteArrayMetadata(const CKzBinaryByteArrayMetadata&) = delete;
    CKzBinaryByteArrayMetadata& operator=(const CKzBinaryByteArrayMetadata&) = delete;

    void Clear();
    u32 GetItemCount() const { return (u32)m_vItems.size(); }
    CKzByteArray* GetItem(u32 index);
    // Null: a new empty array; take: the array itself (owned from then on);
    // else a copy. The new item's index, -3 when memory runs out.
    int AddItem(CKzByteArray* item, bool take);
    // Item i as item i of the named sequence, for every i. 0.
    int SaveToOutputFile(const wchar_t* name, IKzOutputImageFile* writer) const;
    // Appends count arrays read from items 0..count-1 of the named sequence
    // (an item that cannot be read stays empty). 0; -3 when memory runs out.
    int LoadFromInputFile(const wchar_t* name, IKzInputImageFile* reader, u32 count);

private:
    std::vector<CKzByteArray*> m_vItems;
};
