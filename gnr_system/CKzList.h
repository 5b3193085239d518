// Doubly linked list of untyped data pointers whose nodes may carry a key (an
// integer or a wide text) for lookup. The list owns its nodes, never the data.
#pragma once

#include "gnr_system/CKzString.h"
#include "gnr_system/kz_base.h"

enum EKzKeyType {
    eKzKeyTypeNone = 0,
    eKzKeyTypeInt = 1,
    eKzKeyTypeText = 2,
};

class KZ_EXPORT CKzList {
public:
    class KZ_EXPORT CKzKey {
    public:
        CKzKey();
        CKzKey(int value);
        // A null text is taken as an empty one.
        CKzKey(const wchar_t* text);

        EKzKeyType GetKeyType() const { return static_cast<EKzKeyType>(m_eKeyType); }
        int GetInt() const { return m_iValue; }
        const CKzStringW& GetText() const { return m_wsText; }
        // Copies the other's value of this key's own type; the type stays.
        void SetKey(const CKzKey& other);
        // Integer keys compare their integers, all others their texts.
        bool operator==(const CKzKey& other) const;
        bool operator!=(const CKzKey& other) const { return !(*this == other); }

    private:
        kz_int32 m_eKeyType;
        kz_int32 m_iValue;
        CKzStringW m_wsText;
    };

    class KZ_EXPORT CKzNode {
    public:
        // Links itself between previous and next (either may be null) and belongs to list.
        CKzNode(CKzList* list, CKzNode* previous, CKzNode* next, void* data, const CKzKey& key);
        // A node still in a list is detached from it first.
        ~CKzNode();
        CKzNode(const CKzNode&) = delete;
        CKzNode& operator=(const CKzNode&) = delete;

        const CKzKey& GetNodeKey() const { return m_Key; }
        void SetNodeKey(const CKzKey& key) { m_Key.SetKey(key); }
        void* GetData() const { return m_pData; }
        CKzNode* GetNext() const { return m_pNext; }
        CKzNode* GetPrevious() const { return m_pPrevious; }
        CKzList* GetList() const { return m_pList; }
        // The number of nodes before this one.
        unsigned IndexOf() const;

    private:
        friend class CKzList;
        CKzKey m_Key;
        void* m_pData;
        [[maybe_unused]] void** m_ppData;   // kept for the layout
        CKzNode* m_pNext;
        CKzNode* m_pPrevious;
        CKzList* m_pList;
    };

    explicit CKzList(EKzKeyType keyType = eKzKeyTypeNone);
    // Key type none; the arguments up to the first null pointer.
    CKzList(void* first, ...);
    // Key type none; the n items.
    CKzList(unsigned n, void** items);
    CKzList(const CKzList& other);
    ~CKzList();
    // Assigning a list to itself keeps it.
    CKzList& operator=(const CKzList& other);

    // Empty list of that key type; frees nothing (for raw, not yet constructed state).
    void Init(EKzKeyType keyType);
    // Appends a node for each of the other's nodes (key and data) and takes its key type.
    void Set(const CKzList& other);
    void Clear();

    unsigned GetCount() const { return m_uiCount; }
    EKzKeyType GetKeyType() const { return m_eKeyType; }
    CKzNode* GetFirst() const { return m_pFirst; }
    CKzNode* GetLast() const { return m_pLast; }
    // Prints the failure line when the list is not empty, and sets the type anyway.
    void SetKeyType(EKzKeyType keyType);

    CKzNode* GetNth(unsigned n) const;
    void* operator[](unsigned n) const;
    // The node's data when the node belongs to this list, else null.
    void* GetData(CKzNode* node) const;

    CKzNode* Append(void* data);
    CKzNode* Append(CKzKey& key, void* data);
    // In front of `before` (null: at the front); null when `before` is a node of another list.
    CKzNode* Insert(CKzNode* before, void* data);
    CKzNode* Insert(void* data);
    // n equal to the count appends; else in front of the n-th node, at the front beyond the count.
    CKzNode* Insert(unsigned n, void* data);
    // Unlinks the node without deleting it; null for a node of another list.
    CKzNode* DetachNode(CKzNode* node);
    // Detaches and deletes the node; false for a node of another list.
    bool DeleteNode(CKzNode* node);

    CKzNode* Find(const CKzKey& key) const;
    CKzNode* Find(void* data) const;
    // Index of the first node holding data; KZ_ERR_FAILED when none.
    int IndexOf(void* data) const;

    // Sorts the data pointers (compare gets pointers to two array elements,
    // each a data pointer); keys stay with their nodes.
    void Sort(int (*compare)(void*, void*));
    void ForEach(int (*fn)(void*)) const;
    void* FirstThat(int (*fn)(void*)) const;
    void* LastThat(int (*fn)(void*)) const;

private:
    __attribute__((visibility("hidden"))) void Link(CKzNode* node);

    kz_uint32 m_uiCount;
    CKzNode* m_pFirst;
    CKzNode* m_pLast;
    EKzKeyType m_eKeyType;
};

// The library's empty list (key type none), built at load.
KZ_EXPORT extern CKzList g_EmptyList;
