// Tagged custom data: a store of named, typed values (32-bit integers,
// doubles and wide texts, each a single value or a vector) with a free
// description and unit per tag, saved into an image file as one description
// variant plus one value chunk per tag.
//
// Stored form: the variant "CustomDataV2_0" holds the node
// "CustomTagDescription_v1.0" with one child "Tag<i>" per tag in name order
// (keys "ID", "Type", "Size", "Desc", "Unit"); the chunk of a tag holds its
// values little-endian: int32, double, 32-bit characters with a terminating
// 0, or for a text vector one 1024-byte field of 256 characters per element.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"

#include <cwchar>
#include <map>
#include <vector>

class CKzVariant;
class CKzRangeMask;
class IKzInputImageFile;
class IKzOutputImageFile;

class KZ_EXPORT CKzCustomData {
public:
    enum EKzCustomDataType : int {
        eKzCustomDataString = 1,
        eKzCustomDataInt = 2,
        eKzCustomDataDouble = 3,
    };

    // Base of every tag: a description and a unit. The value operations of
    // the base refuse (-9) or answer zero; each class overrides its own.
    class KZ_EXPORT CKzCustomTag {
    public:
        CKzCustomTag();
        CKzCustomTag(const CKzCustomTag& other);
        CKzCustomTag& operator=(const CKzCustomTag&) = delete;

        virtual ~CKzCustomTag();
        virtual EKzCustomDataType GetType() const;
        // Element count of a vector; 0 for every scalar.
        virtual unsigned GetSize() const;
        virtual int SetSize(unsigned n);
        virtual int GetDescription(CKzStringW& out) const;
        virtual int GetUnit(CKzStringW& out) const;
        virtual int SetDescription(const wchar_t* text);
        virtual int SetUnit(const wchar_t* text);
        virtual int GetString(unsigned index, CKzStringW& out) const;
        virtual int GetInt(unsigned index) const;
        virtual double GetDouble(unsigned index) const;
        virtual int GetString(CKzStringW& out) const;
        virtual int GetInt() const;
        virtual double GetDouble() const;
        virtual int SetString(unsigned index, const wchar_t* text);
        virtual int SetInt(unsigned index, int value);
        virtual int SetDouble(unsigned index, double value);
        virtual int SetString(const wchar_t* text);
        virtual int SetInt(int value);
        virtual int SetDouble(double value);
        virtual CKzCustomTag* Duplicate() const;

    protected:
        CKzStringW m_wsDescription;
        CKzStringW m_wsUnit;
    };

#define KZ_CUSTOM_TAG_USING                   \
    using CKzCustomTag::GetString;            \
    using CKzCustomTag::GetInt;               \
    using CKzCustomTag::GetDouble;            \
    using CKzCustomTag::SetString;            \
    using CKzCustomTag::SetInt;               \
    using CKzCustomTag::SetDouble

    class KZ_EXPORT CKzStringTag : public CKzCustomTag {
    public:
        KZ_CUSTOM_TAG_USING;
        EKzCustomDataType GetType() const override;
        unsigned GetSize() const override;
        int GetString(CKzStringW& out) const override;
        int SetString(const wchar_t* text) override;
        CKzCustomTag* Duplicate() const override;

    protected:
        CKzStringW m_value;
    };

    class KZ_EXPORT CKzIntTag : public CKzCustomTag {
    public:
        KZ_CUSTOM_TAG_USING;
        CKzIntTag() : m_value(0) {}
        EKzCustomDataType GetType() const override;
        unsigned GetSize() const override;
        int GetInt() const override;
        double GetDouble() const override;
        int SetInt(int value) override;
        CKzCustomTag* Duplicate() const override;

    protected:
        int m_value;
    };

    class KZ_EXPORT CKzDoubleTag : public CKzCustomTag {
    public:
        KZ_CUSTOM_TAG_USING;
        CKzDoubleTag() : m_value(0.0) {}
        EKzCustomDataType GetType() const override;
        unsigned GetSize() const override;
        double GetDouble() const override;
        int SetDouble(double value) override;
        CKzCustomTag* Duplicate() const override;

    protected:
        double m_value;
    };

    // Vector tags: an indexed getter past the end answers 0, 0.0 or -9; an
    // indexed setter past the end first grows the vector to index + 1
    // elements (-3 and no change when that fails, -9 for index 4294967295).
    class KZ_EXPORT CKzStringVectorTag : public CKzCustomTag {
    public:
        KZ_CUSTOM_TAG_USING;
        CKzStringVectorTag();
        EKzCustomDataType GetType() const override;
        unsigned GetSize() const override;
        int SetSize(unsigned n) override;
        int GetString(unsigned index, CKzStringW& out) const override;
        int SetString(unsigned index, const wchar_t* text) override;
        CKzCustomTag* Duplicate() const override;

    protected:
        std::vector<CKzStringW> m_values;
    };

    class KZ_EXPORT CKzIntVectorTag : public CKzCustomTag {
    public:
        KZ_CUSTOM_TAG_USING;
        CKzIntVectorTag();
        EKzCustomDataType GetType() const override;
        unsigned GetSize() const override;
        int SetSize(unsigned n) override;
        int GetInt(unsigned index) const override;
        double GetDouble(unsigned index) const override;
        int SetInt(unsigned index, int value) override;
        CKzCustomTag* Duplicate() const override;

    protected:
        std::vector<int> m_values;
    };

    class KZ_EXPORT CKzDoubleVectorTag : public CKzCustomTag {
    public:
        KZ_CUSTOM_TAG_USING;
        CKzDoubleVectorTag();
        EKzCustomDataType GetType() const override;
        unsigned GetSize() const override;
        int SetSize(unsigned n) override;
        double GetDouble(unsigned index) const override;
        int SetDouble(unsigned index, double value) override;
        CKzCustomTag* Duplicate() const override;

    protected:
        std::vector<double> m_values;
    };
#undef KZ_CUSTOM_TAG_USING

    CKzCustomData();
    CKzCustomData(const CKzCustomData& other);
    CKzCustomData& operator=(const CKzCustomData&) = delete;
    ~CKzCustomData();

    unsigned GetCustomDataCount() const;
    bool ContainsDataFromCamera() const;
    // Bytes one element of the type takes in a stored chunk: 1024, 4, 8; 0 otherwise.
    static unsigned SizeOf(EKzCustomDataType type);

    int GetCustomDataDescription(unsigned index, EKzCustomDataType* type, CKzStringW* name, CKzStringW* description,
                                 CKzStringW* unit, bool* vector) const;
    int GetCustomDataDescription(const wchar_t* name, EKzCustomDataType* type, CKzStringW* description,
                                 CKzStringW* unit, bool* vector) const;
    int GetCustomDataDescriptionLang(unsigned index, EKzCustomDataType* type, CKzStringW* name,
                                     CKzStringW* description, CKzStringW* unit, bool* vector) const;
    int GetCustomDataDescriptionLang(const wchar_t* name, EKzCustomDataType* type, CKzStringW* description,
                                     CKzStringW* unit, bool* vector) const;
    unsigned GetCount(const wchar_t* name) const;
    int Find(const wchar_t* name) const;

    int Get(const wchar_t* name, int* value) const;
    int Get(const wchar_t* name, unsigned index, int* value) const;
    int Get(const wchar_t* name, double* value) const;
    int Get(const wchar_t* name, unsigned index, double* value) const;
    int Get(const wchar_t* name, CKzStringW* value) const;
    int Get(const wchar_t* name, unsigned index, CKzStringW* value) const;
    int Get(const wchar_t* name, unsigned index, EKzCustomDataType type, CKzStringW* text, int* i, double* d) const;

    int Set(const wchar_t* name, int value);
    int Set(const wchar_t* name, unsigned value);
    int Set(const wchar_t* name, unsigned index, int value);
    int Set(const wchar_t* name, unsigned index, unsigned value);
    int Set(const wchar_t* name, double value);
    int Set(const wchar_t* name, unsigned index, double value);
    int Set(const wchar_t* name, const wchar_t* value);
    int Set(const wchar_t* name, unsigned index, const wchar_t* value);
    int Set(const wchar_t* name, unsigned index, EKzCustomDataType type, const wchar_t* text, int i, double d);

    int AddInt(const wchar_t* name, const wchar_t* description, const wchar_t* unit, bool vector);
    int AddDouble(const wchar_t* name, const wchar_t* description, const wchar_t* unit, bool vector);
    int AddString(const wchar_t* name, const wchar_t* description, const wchar_t* unit, bool vector);
    int SetCustomDataDescription(EKzCustomDataType type, const CKzStringW& name, const wchar_t* description,
                                 const wchar_t* unit, bool vector);
    int Remove(const wchar_t* name);
    int RemoveVariable(const wchar_t* name);
    int Clear();
    int Crop(unsigned n);
    static int MakeDifferenceFrom(const CKzCustomData* a, CKzCustomData* b);

    int SaveToVariant(CKzVariant& variant) const;
    int LoadFromVariant(const CKzVariant& variant);
    int SaveCustomData(IKzOutputImageFile* file, unsigned maxCount) const;
    int LoadCustomData(IKzInputImageFile* file, bool loadValues);

    int AddCustomData(const CKzCustomData* other);
    int GetSlice(CKzCustomData& target, CKzRangeMask& mask) const;

    // Name order: character codes compared one by one.
    struct __attribute__((visibility("hidden"))) SNameLess {
        bool operator()(const CKzStringW& a, const CKzStringW& b) const
        {
            return wcscmp(a.GetString(), b.GetString()) < 0;
        }
    };
    typedef std::map<CKzStringW, CKzCustomTag*, SNameLess> TagMap;

private:
    int add(EKzCustomDataType type, const wchar_t* name, const wchar_t* description, const wchar_t* unit,
            bool vector);
    const CKzCustomTag* tag(const wchar_t* name) const;
    CKzCustomTag* tag(const wchar_t* name);
    int appendFrom(const CKzCustomData& source);
    int sliceInto(CKzCustomData& target, unsigned first, unsigned last, unsigned step) const;

    TagMap m_mapTags;
    int m_iCameraCount;
};
