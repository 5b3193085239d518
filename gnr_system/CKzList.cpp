#include "gnr_system/CKzList.h"

#include <cstdarg>
#include <cstring>
#include <new>

CKzList g_EmptyList(eKzKeyTypeNone);

// ---- CKzKey ----

CKzList::CKzKey::CKzKey() : m_eKeyType(eKzKeyTypeNone), m_iValue(0)
{
}

CKzList::CKzKey::CKzKey(int value) : m_eKeyType(eKzKeyTypeInt), m_iValue(value)
{
}

CKzList::CKzKey::CKzKey(const wchar_t* text) : m_eKeyType(eKzKeyTypeText), m_iValue(0), m_wsText(text ? text : L"")
{
}

void CKzList::CKzKey::SetKey(const CKzKey& other)
{
    if (m_eKeyType == eKzKeyTypeInt)
        m_iValue = other.m_iValue;
    else if (m_eKeyType == eKzKeyTypeText)
        m_wsText = other.m_wsText;
}

bool CKzList::CKzKey::operator==(const CKzKey& other) const
{
    if (m_eKeyType == eKzKeyTypeInt) return m_iValue == other.m_iValue;
    return m_wsText == other.m_wsText;
}

// ---- CKzNode ----

CKzList::CKzNode::CKzNode(CKzList* list, CKzNode* previous, CKzNode* next, void* data, const CKzKey& key)
    : m_Key(key), m_pData(data), m_ppData(&m_pData), m_pNext(next), m_pPrevious(previous), m_pList(list)
{
    if (previous) previous->m_pNext = this;
    if (next) next->m_pPrevious = this;
}

CKzList::CKzNode::~CKzNode()
{
    if (m_pList) m_pList->DetachNode(this);
}

unsigned CKzList::CKzNode::IndexOf() const
{
    unsigned n = 0;
    for (const CKzNode* p = m_pPrevious; p; p = p->m_pPrevious) ++n;
    return n;
}

// ---- CKzList ----

CKzList::CKzList(EKzKeyType keyType)
{
    Init(keyType);
}

CKzList::CKzList(void* first, ...)
{
    Init(eKzKeyTypeNone);
    if (!first) return;
    Append(first);
    va_list args;
    va_start(args, first);
    for (void* p = va_arg(args, void*); p; p = va_arg(args, void*)) Append(p);
    va_end(args);
}

CKzList::CKzList(unsigned n, void** items)
{
    Init(eKzKeyTypeNone);
    if (!items) return;
    for (unsigned i = 0; i < n; ++i) Append(items[i]);
}

CKzList::CKzList(const CKzList& other)
{
    Init(eKzKeyTypeNone);
    Set(other);
}

CKzList::~CKzList()
{
    Clear();
}

CKzList& CKzList::operator=(const CKzList& other)
{
    // Clearing first would empty both sides when they are the same list.
    if (this == &other) return *this;
    Clear();
    Set(other);
    return *this;
}

void CKzList::Init(EKzKeyType keyType)
{
    m_uiCount = 0;
    m_pFirst = nullptr;
    m_pLast = nullptr;
    m_eKeyType = keyType;
}

void CKzList::Set(const CKzList& other)
{
    // Appending a list to itself while walking it would never end.
    if (this == &other) return;
    m_eKeyType = other.m_eKeyType;
    for (CKzNode* n = other.m_pFirst; n; n = n->m_pNext) {
        CKzNode* node = new (std::nothrow) CKzNode(this, m_pLast, nullptr, n->m_pData, n->m_Key);
        if (!node) return;
        Link(node);
    }
}

void CKzList::Clear()
{
    while (m_pFirst) delete DetachNode(m_pFirst);
}

void CKzList::SetKeyType(EKzKeyType keyType)
{
    if (m_uiCount != 0) KZ_PrintFailure("gnr_system/CKzList", 348);
    m_eKeyType = keyType;
}

CKzList::CKzNode* CKzList::GetNth(unsigned n) const
{
    if (n >= m_uiCount) return nullptr;
    CKzNode* p = m_pFirst;
    while (p && n--) p = p->m_pNext;
    return p;
}

void* CKzList::operator[](unsigned n) const
{
    CKzNode* p = GetNth(n);
    return p ? p->m_pData : nullptr;
}

void* CKzList::GetData(CKzNode* node) const
{
    return (node && node->m_pList == this) ? node->m_pData : nullptr;
}

void CKzList::Link(CKzNode* node)
{
    if (!node->m_pPrevious) m_pFirst = node;
    if (!node->m_pNext) m_pLast = node;
    ++m_uiCount;
}

CKzList::CKzNode* CKzList::Append(void* data)
{
    CKzKey none;
    return Append(none, data);
}

CKzList::CKzNode* CKzList::Append(CKzKey& key, void* data)
{
    CKzNode* node = new (std::nothrow) CKzNode(this, m_pLast, nullptr, data, key);
    if (node) Link(node);
    return node;
}

CKzList::CKzNode* CKzList::Insert(CKzNode* before, void* data)
{
    if (before && before->m_pList != this) return nullptr;
    CKzNode* previous = before ? before->m_pPrevious : nullptr;
    CKzNode* next = before ? before : m_pFirst;
    CKzNode* node = new (std::nothrow) CKzNode(this, previous, next, data, CKzKey());
    if (node) Link(node);
    return node;
}

CKzList::CKzNode* CKzList::Insert(void* data)
{
    return Insert(static_cast<CKzNode*>(nullptr), data);
}

CKzList::CKzNode* CKzList::Insert(unsigned n, void* data)
{
    if (n == m_uiCount) return Append(data);
    return Insert(GetNth(n), data);  // beyond the count: null, so at the front
}

CKzList::CKzNode* CKzList::DetachNode(CKzNode* node)
{
    if (!node || node->m_pList != this) return nullptr;
    if (node->m_pPrevious)
        node->m_pPrevious->m_pNext = node->m_pNext;
    else
        m_pFirst = node->m_pNext;
    if (node->m_pNext)
        node->m_pNext->m_pPrevious = node->m_pPrevious;
    else
        m_pLast = node->m_pPrevious;
    node->m_pPrevious = nullptr;
    node->m_pNext = nullptr;
    node->m_pList = nullptr;
    --m_uiCount;
    return node;
}

bool CKzList::DeleteNode(CKzNode* node)
{
    if (!DetachNode(node)) return false;
    delete node;
    return true;
}

CKzList::CKzNode* CKzList::Find(const CKzKey& key) const
{
    for (CKzNode* p = m_pFirst; p; p = p->m_pNext)
        if (key == p->m_Key) return p;
    return nullptr;
}

CKzList::CKzNode* CKzList::Find(void* data) const
{
    for (CKzNode* p = m_pFirst; p; p = p->m_pNext)
        if (p->m_pData == data) return p;
    return nullptr;
}

int CKzList::IndexOf(void* data) const
{
    int i = 0;
    for (CKzNode* p = m_pFirst; p; p = p->m_pNext, ++i)
        if (p->m_pData == data) return i;
    return KZ_ERR_FAILED;
}

void CKzList::Sort(int (*compare)(void*, void*))
{
    if (!compare || m_uiCount < 2) return;
    const size_t n = m_uiCount;
    void** a = new (std::nothrow) void*[2 * n];
    if (!a) return;
    void** b = a + n;
    size_t i = 0;
    for (CKzNode* p = m_pFirst; p; p = p->m_pNext) a[i++] = p->m_pData;

    // Bottom-up merge sort: its index arithmetic stays within the array
    // whatever the comparison answers, even an inconsistent one.
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            const size_t mid = lo + width < n ? lo + width : n;
            const size_t hi = lo + 2 * width < n ? lo + 2 * width : n;
            size_t l = lo, r = mid, o = lo;
            while (l < mid && r < hi) b[o++] = (compare(&a[r], &a[l]) < 0) ? a[r++] : a[l++];
            while (l < mid) b[o++] = a[l++];
            while (r < hi) b[o++] = a[r++];
        }
        void** t = a;
        a = b;
        b = t;
    }

    i = 0;
    for (CKzNode* p = m_pFirst; p; p = p->m_pNext) p->m_pData = a[i++];
    delete[] (a < b ? a : b);
}

void CKzList::ForEach(int (*fn)(void*)) const
{
    if (!fn) return;
    for (CKzNode* p = m_pFirst; p;) {
        CKzNode* next = p->m_pNext;
        fn(p->m_pData);
        p = next;
    }
}

void* CKzList::FirstThat(int (*fn)(void*)) const
{
    if (!fn) return nullptr;
    for (CKzNode* p = m_pFirst; p; p = p->m_pNext)
        if (fn(p->m_pData)) return p->m_pData;
    return nullptr;
}

void* CKzList::LastThat(int (*fn)(void*)) const
{
    if (!fn) return nullptr;
    for (CKzNode* p = m_pLast; p; p = p->m_pPrevious)
        if (fn(p->m_pData)) return p->m_pData;
    return nullptr;
}
