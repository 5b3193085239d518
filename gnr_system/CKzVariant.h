// Variants: named trees of typed values, their run types and the text form of
// single values.
//
// A CKzVariant is undefined, holds one typed value (integers, double, bool,
// pointer, wide string, byte array) or an ordered list of owned, named
// children. Every node has a run type: the name of its value type, or for a
// list either "CKzListVariant" or the name of a structure ("RKz...").
//
// Shared state: the run-type registry is guarded by a reader/writer lock.
// The process-wide undefined variant g_UndefVariant, which every failed lookup
// returns, is a sink: writes through it are discarded, so it stays undefined
// for every later lookup on every thread.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzByteArray.h"

#include <string>
#include <vector>

class CKzVariant;
class CKzVariantData;

// Deepest nesting a reader of untrusted text builds (the XML reader, the lite
// reader). Copies, comparisons, text forms and destruction walk trees without
// recursion, so deeper trees built by a host are handled as well.
#define KZ_VARIANT_MAX_DEPTH 256

// Name of the type of a variant value ("kz_int32", ..., "CKzListVariant",
// "unknown" or a structure name beginning with "RKz").
class KZ_EXPORT CKzVariantRunType {
public:
    CKzVariantRunType();
    CKzVariantRunType(const char* name);
    CKzVariantRunType(const CKzStringA& name);

    // The name as narrow text.
    CKzStringA GetName() const;
    // The same name without building a string; valid while the object lives.
    const char* GetNameA() const { return m_name.c_str(); }

    bool operator==(const CKzVariantRunType& o) const { return m_name == o.m_name; }
    bool operator!=(const CKzVariantRunType& o) const { return m_name != o.m_name; }
    bool operator<(const CKzVariantRunType& o) const { return m_name < o.m_name; }

    // True for a structure run type: a name beginning with "RKz".
    bool IsStructure() const;

    static const CKzVariantRunType m_unknown;

private:
    std::string m_name;
};

// Ordered list of owned children. Copies are deep; destruction deletes the
// children.
class KZ_EXPORT CKzListVariant {
public:
    CKzListVariant();
    CKzListVariant(const CKzListVariant& other);
    CKzListVariant& operator=(const CKzListVariant& other);
    ~CKzListVariant();

    int GetSize() const { return (int)m_items.size(); }
    // Child i, or null when i is outside the list.
    CKzVariant* GetAt(int i) const;
    CKzVariant* operator[](int i) const { return GetAt(i); }
    // Appends a deep copy of v and returns it.
    CKzVariant& Add(const CKzVariant& v);
    // Deletes every child.
    void Clear();

    // The owned child pointers (used by the variant classes).
    std::vector<CKzVariant*>& Items() { return m_items; }
    const std::vector<CKzVariant*>& Items() const { return m_items; }

private:
    // Deep copies of src appended to dst, without recursion.
    static void CopyItems(const std::vector<CKzVariant*>& src, std::vector<CKzVariant*>& dst);

    std::vector<CKzVariant*> m_items;
};

// Value object behind a defined variant.
class KZ_EXPORT CKzVariantData {
public:
    virtual ~CKzVariantData();
    virtual bool Write(CKzStringW& out) const = 0;
    virtual bool Read(const CKzStringW& text);
    virtual bool Read(const wchar_t* text) = 0;
    virtual bool Eq(const CKzVariantData& other) const = 0;
    virtual void* GetValueVoidPtr() = 0;
    virtual void GetValueCopy(CKzVariantData& target) const = 0;
    // New value object of the same type in its default state (null only when
    // memory runs out).
    virtual CKzVariantData* Clone() const = 0;
    virtual const CKzVariantRunType& GetRunType() const = 0;
    // Only a list takes a run type (0); the others return -9.
    virtual int SetRunType(const CKzVariantRunType& type);
    virtual bool IsArray() const;
};

#define KZ_VARIANT_DATA_SCALAR(CLASS, TYPE)                                   \
    class KZ_EXPORT CLASS : public CKzVariantData {                           \
    public:                                                                   \
        CLASS() : m_value() {}                                                \
        explicit CLASS(const TYPE& v) : m_value(v) {}                         \
        bool Write(CKzStringW& out) const override;                           \
        using CKzVariantData::Read;                                           \
        bool Read(const wchar_t* text) override;                              \
        bool Eq(const CKzVariantData& other) const override;                  \
        void* GetValueVoidPtr() override { return &m_value; }                 \
        void GetValueCopy(CKzVariantData& target) const override;             \
        CKzVariantData* Clone() const override;                               \
        const CKzVariantRunType& GetRunType() const override { return m_runType; } \
        TYPE m_value;                                                         \
        static const CKzVariantRunType m_runType;                             \
    };

KZ_VARIANT_DATA_SCALAR(CKzVariantDataKz_int32, kz_int32)
KZ_VARIANT_DATA_SCALAR(CKzVariantDataKz_uint32, kz_uint32)
KZ_VARIANT_DATA_SCALAR(CKzVariantDataKz_int64, kz_int64)
KZ_VARIANT_DATA_SCALAR(CKzVariantDataKz_uint64, kz_uint64)
KZ_VARIANT_DATA_SCALAR(CKzVariantDataDouble, double)
KZ_VARIANT_DATA_SCALAR(CKzVariantDataBool, bool)
typedef void* KzVariantVoidPtr;
KZ_VARIANT_DATA_SCALAR(CKzVariantDataVoidPtr, KzVariantVoidPtr)
KZ_VARIANT_DATA_SCALAR(CKzVariantDataCKzStringW, CKzStringW)

#undef KZ_VARIANT_DATA_SCALAR

class KZ_EXPORT CKzVariantDataCKzByteArray : public CKzVariantData {
public:
    CKzVariantDataCKzByteArray();
    explicit CKzVariantDataCKzByteArray(const CKzByteArray& v);
    bool Write(CKzStringW& out) const override;
    using CKzVariantData::Read;
    bool Read(const wchar_t* text) override;
    bool Eq(const CKzVariantData& other) const override;
    void* GetValueVoidPtr() override { return &m_value; }
    void GetValueCopy(CKzVariantData& target) const override;
    CKzVariantData* Clone() const override;
    const CKzVariantRunType& GetRunType() const override { return m_runType; }
    CKzByteArray m_value;
    static const CKzVariantRunType m_runType;
};

class KZ_EXPORT CKzVariantDataCKzListVariant : public CKzVariantData {
public:
    CKzVariantDataCKzListVariant();
    // Deep copies of the given children, plain run type.
    explicit CKzVariantDataCKzListVariant(const CKzListVariant& v);
    ~CKzVariantDataCKzListVariant() override;
    bool Write(CKzStringW& out) const override;
    using CKzVariantData::Read;
    bool Read(const wchar_t* text) override;
    bool Eq(const CKzVariantData& other) const override;
    void* GetValueVoidPtr() override { return &m_value; }
    void GetValueCopy(CKzVariantData& target) const override;
    // Plain list: an empty plain list. Registered structure: its sample's
    // members. Structure that no host registered: an empty list keeping the
    // structure's run type.
    CKzVariantData* Clone() const override;
    const CKzVariantRunType& GetRunType() const override { return m_runType; }
    int SetRunType(const CKzVariantRunType& type) override;
    bool IsArray() const override;

    CKzListVariant m_value;
    CKzVariantRunType m_runType;
    static const CKzVariantRunType m_runTypeOrig;
};

class KZ_EXPORT CKzVariant {
public:
    // ---- construction ------------------------------------------------------
    CKzVariant();
    CKzVariant(const CKzVariant& other);
    CKzVariant(const int& v, const CKzStringW& name = CKzStringW());
    CKzVariant(const unsigned int& v, const CKzStringW& name = CKzStringW());
    CKzVariant(const long& v, const CKzStringW& name = CKzStringW());
    CKzVariant(const unsigned long& v, const CKzStringW& name = CKzStringW());
    CKzVariant(const double& v, const CKzStringW& name = CKzStringW());
    CKzVariant(const bool& v, const CKzStringW& name = CKzStringW());
    CKzVariant(void* const& v, const CKzStringW& name = CKzStringW());
    CKzVariant(const CKzStringW& v, const CKzStringW& name = CKzStringW());
    CKzVariant(wchar_t* const& v, const CKzStringW& name = CKzStringW());
    CKzVariant(const wchar_t* v, const CKzStringW& name = CKzStringW());
    // Narrow text converted with the current locale.
    CKzVariant(char* const& v, const CKzStringW& name = CKzStringW());
    CKzVariant(const char* v, const CKzStringW& name = CKzStringW());
    CKzVariant(const CKzByteArray& v, const CKzStringW& name = CKzStringW());
    CKzVariant(const CKzListVariant& v, const CKzStringW& name = CKzStringW());
    // Default value of a registered run type; an unregistered structure run
    // type ("RKz...") gives an empty list carrying that run type; anything
    // else unregistered (and "unknown") gives an undefined variant.
    CKzVariant(const CKzVariantRunType& type, const CKzStringW& name = CKzStringW());
    ~CKzVariant();

    // ---- name and flags ----------------------------------------------------
    // Makes a name XML-safe in place; true when anything changed.
    static bool ValidateName(CKzStringW& name);
    bool SetName(const CKzStringW& name);
    const CKzStringW& GetName() const { return m_name; }
    bool EnableTypeChange(bool enable);
    bool IsEnabledTypeChange() const { return m_bTypeChange; }
    void MakeNull();
    const CKzVariantRunType& GetRunType() const;
    CKzVariantData* GetData() { return m_pData; }
    const CKzVariantData* GetData() const { return m_pData; }
    bool IsUndefined() const { return m_pData == nullptr; }
    // True for the shared undefined variant (the result of failed lookups).
    bool IsSharedUndef() const;

    // ---- assignment (the name and the type-change flag never change) -------
    CKzVariant& operator=(const int& v);
    CKzVariant& operator=(const unsigned int& v);
    CKzVariant& operator=(const long& v);
    CKzVariant& operator=(const unsigned long& v);
    CKzVariant& operator=(const double& v);
    CKzVariant& operator=(const bool& v);
    CKzVariant& operator=(void* const& v);
    CKzVariant& operator=(const CKzStringW& v);
    CKzVariant& operator=(const wchar_t* v);
    CKzVariant& operator=(const CKzByteArray& v);
    CKzVariant& operator=(const CKzListVariant& v);
    CKzVariant& operator=(const CKzVariant& other);
    // Exchanges value objects (not names or flags) with another variant.
    void SwapValue(CKzVariant& other);

    // ---- children ----------------------------------------------------------
    int GetCount() const;
    CKzVariant* IndexPtr(int i);
    const CKzVariant* IndexPtr(int i) const;
    CKzVariant& operator[](int i);
    const CKzVariant& operator[](int i) const;
    CKzVariant* SearchFixedOneLevel(const wchar_t* name);
    const CKzVariant* SearchFixedOneLevel(const wchar_t* name) const;
    // The first child of that name, or g_UndefVariant. The writable lookup on
    // a structure list whose run type no host registered appends the missing
    // member (undefined, named name) and returns it, so that savers of such
    // structures build their members in the order they assign them.
    CKzVariant& operator[](const wchar_t* name);
    const CKzVariant& operator[](const wchar_t* name) const;
    int IndexOf(const CKzStringW& name) const;
    // Paths of names ending with a null pointer.
    CKzVariant* SearchFixed(const wchar_t* name, ...);
    const CKzVariant* SearchFixed(const wchar_t* name, ...) const;
    CKzVariant* Search(const wchar_t* name, ...);
    const CKzVariant* Search(const wchar_t* name, ...) const;
    CKzVariant& Insert(const CKzVariant& v, int index);
    CKzVariant& Append(const CKzVariant& v);
    int SetOrAppend(const CKzStringW& name, CKzVariant& v);
    bool Delete(unsigned int index);
    bool Member(const CKzVariant& v) const;

    // ---- equality and structure --------------------------------------------
    bool operator==(const CKzVariant& other) const;
    bool operator!=(const CKzVariant& other) const { return !(*this == other); }
    static int CompareStructure(const CKzVariant& a, const CKzVariant& b, bool recursive);

    // ---- debugging text ----------------------------------------------------
    static void Trace(const CKzVariant& v);
    static CKzStringW& Trace(CKzStringW& out, const CKzVariant& v);
    static void TraceLow(CKzStringW* out, const CKzVariant& v, bool flag, int depth);

    // ---- text form of single values ----------------------------------------
    bool Write(CKzStringW& out) const;
    bool Read(const CKzStringW& text);
    bool Read(const wchar_t* text);

    // ---- typed getters -----------------------------------------------------
    bool GetBool(bool* ok = nullptr) const;
    double GetDouble(bool* ok = nullptr) const;
    kz_int32 GetKz_int32(bool* ok = nullptr) const;
    kz_uint32 GetKz_uint32(bool* ok = nullptr) const;
    kz_int64 GetKz_int64(bool* ok = nullptr) const;
    kz_uint64 GetKz_uint64(bool* ok = nullptr) const;
    CKzStringW GetCKzStringW(bool* ok = nullptr) const;
    CKzByteArray GetCKzByteArray(bool* ok = nullptr) const;
    void* GetVoidPtr(bool* ok = nullptr) const;
    const CKzListVariant& GetCKzListVariant(bool* ok = nullptr) const;
    void* GetValueVoidPtr() const;

    // ---- typed comparisons -------------------------------------------------
    bool operator==(const bool& v) const;
    bool operator==(const int& v) const;
    bool operator==(const unsigned int& v) const;
    bool operator==(const long& v) const;
    bool operator==(const unsigned long& v) const;
    bool operator==(const double& v) const;
    bool operator==(const CKzStringW& v) const;
    bool operator==(const CKzByteArray& v) const;
    bool operator==(void* const& v) const;
    bool operator==(const CKzListVariant& v) const;
    template <class T> bool operator!=(const T& v) const { return !(*this == v); }

    // ---- run types ---------------------------------------------------------
    static int RegisterRunType(const CKzVariant& sample);
    static int RegisterKnownTypes();
    static int GetRunTypeIndex(const CKzVariantRunType& type, bool report = false);
    static const CKzVariant& GetRunTypeSample(const CKzVariantRunType& type);
    // Arguments after first: further const CKzVariant*, ending with a pointer
    // to an undefined variant (for instance &g_UndefVariant).
    static CKzVariant CreateStruct(const CKzStringW& name, const CKzVariant* first, ...);
    static CKzVariant CreateStructNamed(const CKzVariantRunType& type, const CKzStringW& name,
                                       const CKzVariant* first, ...);
    static int SetRunTypeCompatible_helper(CKzVariant& target, const CKzVariant& source);
    static int SetRunType_helper(CKzVariant& target, const CKzVariant& sample, bool rename);
    // 0; -9 when the type-change flag is false; -4 when type is unknown.
    int SetRunType(const CKzVariantRunType& type);
    int SetRunTypeCompatible(const CKzVariantRunType& type);
    void ClearList();

private:
    friend class CKzListVariant;
    // A copy of v's name, flag and value; a list gets an empty list of the
    // same run type (its children are copied by the caller).
    static CKzVariant* NewShallowCopy(const CKzVariant& v);

    void ReplaceData(CKzVariantData* data);
    CKzVariantDataCKzListVariant* ListData() const;
    void EnsurePlainList();

    CKzVariantData** m_ppData;   // points at m_pData
    CKzVariantData* m_pData;     // null: undefined
    CKzStringW m_name;
    bool m_bTypeChange;
};

// The shared undefined variant that every failed lookup returns. It cannot be
// changed: writes through it are discarded.
extern KZ_EXPORT CKzVariant g_UndefVariant;

// Structural comparison of one level (children compared without recursion).
KZ_EXPORT int compareStructure_Special(const CKzVariant& a, const CKzVariant& b);

// True when a and b lie at most maxUlps representable doubles apart.
KZ_EXPORT bool AlmostEqual(double a, double b, int maxUlps);
