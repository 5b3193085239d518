// Custom description forms: a named, ordered list of items (check boxes,
// numbers with a unit, texts, long texts, choices among labels, dates), each
// with a current value, a default value, named presets and flags, saved in the
// lite-variant form.
//
// Every item class saves itself as one level named after the class that holds
// the level of its base class first, so a reader that does not know a class
// loads the item as the nearest known base and keeps the raw bytes of the
// entry to write them back unchanged.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzDateTime.h"

#include <set>
#include <vector>

class CKzLiteVariantR;
class CKzLiteVariantW;

class KZ_EXPORT CKzCustomDescription {
public:
    // Item kinds; 3, 4 and 5 are quality items, 2 and 6 quantity items.
    enum EKzType : int {
        eKzTypeItem = 0,
        eKzTypeLabel = 1,
        eKzTypeNumber = 2,
        eKzTypeText = 3,
        eKzTypeSelection = 4,
        eKzTypeLongText = 5,
        eKzTypeDate = 6,
    };

    // A named stored value of an item. A preset made only to fill a gap has
    // an empty name, the zero value and the empty flag cleared.
    template <class T>
    struct TKzPreset {
        CKzStringW wsName;
        T value;
        bool bEmpty;
        TKzPreset() : wsName(), value(), bEmpty(false) {}
        // Name first (character codes), then empty before non-empty, then value.
        bool operator<(const TKzPreset& o) const
        {
            int c = wcscmp(wsName.GetString(), o.wsName.GetString());
            if (c != 0) return c < 0;
            if (bEmpty != o.bEmpty) return bEmpty;
            return value < o.value;
        }
    };

    struct SKzDatePreset {
        CKzStringW wsName;
        CKzDateTime value;
        bool bEmpty;
        SKzDatePreset() : wsName(), value(-1), bEmpty(false) {}
        bool operator<(const SKzDatePreset& o) const
        {
            int c = wcscmp(wsName.GetString(), o.wsName.GetString());
            if (c != 0) return c < 0;
            if (bEmpty != o.bEmpty) return bEmpty;
            return value.GetJulianDayNumber() < o.value.GetJulianDayNumber();
        }
    };

    class KZ_EXPORT CKzItem {
    public:
        // 1 exponent form, any other value fixed-point.
        enum EKzNumberFormat : int { eKzFixed = 0, eKzExponent = 1 };

        CKzItem();
        explicit CKzItem(EKzType type);
        explicit CKzItem(const wchar_t* name);
        CKzItem(const wchar_t* name, EKzType type);
        CKzItem(const CKzItem& other);
        CKzItem& operator=(const CKzItem&) = delete;

        virtual ~CKzItem();
        virtual const wchar_t* GetName() const;
        virtual const wchar_t* GetDescription() const;
        virtual EKzType GetType() const;
        virtual CKzStringW GetText() const;
        virtual double GetNumber() const;
        virtual int GetCheck() const;
        virtual int GetSelection() const;
        virtual CKzStringW GetSelectionLabel(int index) const;
        virtual int GetSelectionLabelCount() const;
        virtual int GetNumberFormat(EKzNumberFormat* format, unsigned* places) const;
        virtual bool IsNULL() const;
        virtual bool IsEmpty() const;
        virtual bool IsEmptyDefault() const;
        virtual bool IsMandatory() const;
        virtual bool IsEnabled() const;
        virtual bool IsUsed() const;
        virtual bool IsQuality() const;
        virtual bool IsQuantity() const;
        virtual bool IsDefault() const;
        virtual long GetID() const;
        virtual long SetID(long id);
        virtual int Compare(const CKzItem* other, bool structureOnly) const;
        virtual int Trace(CKzStringW* out) const;
        virtual CKzItem* Duplicate() const;
        virtual int LoadFromLiteVariant(CKzLiteVariantR& reader);
        virtual int SaveToLiteVariant(CKzLiteVariantW& writer) const;
        virtual int SetUnknownData(CKzLiteVariantR& reader);
        virtual const CKzLiteVariantR* GetUnknownData() const;
        virtual int SwitchDefaultValue(bool keep);
        virtual int UsePreset(int index);
        virtual int StorePreset(int index, const wchar_t* name);
        virtual int RemovePreset(int index);
        virtual int GetPresetCount() const;
        virtual const wchar_t* GetPresetName(int index) const;
        virtual bool SetMandatory(bool mandatory);
        virtual bool SetEnabled(bool enabled);
        virtual bool SetUsed(bool used);
        virtual int SetName(const wchar_t* name);
        virtual int SetDescription(const wchar_t* description);
        virtual int SetEmpty();
        virtual int SetValue(const CKzItem* other);
        virtual void Release();
        virtual int SetText(const wchar_t* text);
        virtual int SetNumber(double x);

        bool operator==(const CKzItem& other) const;
        bool operator!=(const CKzItem& other) const { return !(*this == other); }

        static CKzItem* Create();

    protected:
        // The base steps the classes chain to by qualified name.
        int CompareBase(const CKzItem* other, bool structureOnly) const;

        long m_lID;
        EKzType m_eType;
        CKzStringW m_wsName;
        CKzStringW m_wsDescription;
        bool m_bEmpty;
        bool m_bEmptyDefault;
        bool m_bMandatory;
        bool m_bEnabled;
        bool m_bUsed;
        CKzLiteVariantR* m_pUnknown;
    };

    class KZ_EXPORT CKzLabel : public CKzItem {
    public:
        CKzLabel();
        explicit CKzLabel(const wchar_t* name);
        CKzLabel(const wchar_t* name, int check);
        CKzLabel(const CKzLabel& other);
        ~CKzLabel() override;

        CKzStringW GetText() const override;
        double GetNumber() const override;
        int GetCheck() const override;
        bool IsDefault() const override;
        int Compare(const CKzItem* other, bool structureOnly) const override;
        CKzItem* Duplicate() const override;
        int LoadFromLiteVariant(CKzLiteVariantR& reader) override;
        int SaveToLiteVariant(CKzLiteVariantW& writer) const override;
        int SwitchDefaultValue(bool keep) override;
        int UsePreset(int index) override;
        int StorePreset(int index, const wchar_t* name) override;
        int RemovePreset(int index) override;
        int GetPresetCount() const override;
        const wchar_t* GetPresetName(int index) const override;
        int SetValue(const CKzItem* other) override;
        int SetNumber(double x) override;
        virtual int SetCheck(int check);

        static CKzItem* Create();

    protected:
        int m_iCheck;
        int m_iDefault;
        std::vector<TKzPreset<int>> m_vPresets;
    };

    class KZ_EXPORT CKzNumber : public CKzItem {
    public:
        CKzNumber();
        explicit CKzNumber(const wchar_t* name);
        CKzNumber(const wchar_t* name, double value, const wchar_t* unit);
        CKzNumber(const CKzNumber& other);
        ~CKzNumber() override;

        CKzStringW GetText() const override;
        double GetNumber() const override;
        int GetCheck() const override;
        int GetNumberFormat(EKzNumberFormat* format, unsigned* places) const override;
        bool IsDefault() const override;
        int Compare(const CKzItem* other, bool structureOnly) const override;
        CKzItem* Duplicate() const override;
        int LoadFromLiteVariant(CKzLiteVariantR& reader) override;
        int SaveToLiteVariant(CKzLiteVariantW& writer) const override;
        int SwitchDefaultValue(bool keep) override;
        int UsePreset(int index) override;
        int StorePreset(int index, const wchar_t* name) override;
        int RemovePreset(int index) override;
        int GetPresetCount() const override;
        const wchar_t* GetPresetName(int index) const override;
        int SetValue(const CKzItem* other) override;
        int SetText(const wchar_t* text) override;
        int SetNumber(double x) override;
        virtual int SetNumberFormat(EKzNumberFormat format, unsigned places);
        virtual CKzStringW GetUnit() const;
        virtual int SetUnit(const wchar_t* unit);

        static CKzItem* Create();

    protected:
        double m_dValue;
        double m_dDefault;
        CKzStringW m_wsUnit;
        EKzNumberFormat m_eFormat;
        unsigned m_uiPlaces;
        std::vector<TKzPreset<double>> m_vPresets;
    };

    class KZ_EXPORT CKzText : public CKzItem {
    public:
        CKzText();
        explicit CKzText(const wchar_t* name);
        CKzText(const wchar_t* name, const wchar_t* text);
        CKzText(const CKzText& other);
        ~CKzText() override;

        CKzStringW GetText() const override;
        double GetNumber() const override;
        int GetCheck() const override;
        bool IsDefault() const override;
        int Compare(const CKzItem* other, bool structureOnly) const override;
        CKzItem* Duplicate() const override;
        int LoadFromLiteVariant(CKzLiteVariantR& reader) override;
        int SaveToLiteVariant(CKzLiteVariantW& writer) const override;
        int SwitchDefaultValue(bool keep) override;
        int UsePreset(int index) override;
        int StorePreset(int index, const wchar_t* name) override;
        int RemovePreset(int index) override;
        int GetPresetCount() const override;
        const wchar_t* GetPresetName(int index) const override;
        int SetValue(const CKzItem* other) override;
        int SetText(const wchar_t* text) override;
        int SetNumber(double x) override;

        static CKzItem* Create();

    protected:
        CKzStringW m_wsText;
        CKzStringW m_wsDefault;
        std::vector<TKzPreset<CKzStringW>> m_vPresets;
    };

    class KZ_EXPORT CKzLongText : public CKzText {
    public:
        CKzLongText();
        explicit CKzLongText(const wchar_t* name);
        CKzLongText(const wchar_t* name, const wchar_t* text);
        CKzLongText(const CKzLongText& other);
        ~CKzLongText() override;

        CKzItem* Duplicate() const override;
        int LoadFromLiteVariant(CKzLiteVariantR& reader) override;
        int SaveToLiteVariant(CKzLiteVariantW& writer) const override;

        static CKzItem* Create();
    };

    class KZ_EXPORT CKzSelection : public CKzItem {
    public:
        CKzSelection();
        explicit CKzSelection(const wchar_t* name);
        CKzSelection(const wchar_t* name, int selection, int count, CKzStringW* labels);
        CKzSelection(const wchar_t* name, int selection, const std::set<CKzStringW>& labels);
        CKzSelection(const CKzSelection& other);
        ~CKzSelection() override;

        CKzStringW GetText() const override;
        double GetNumber() const override;
        int GetCheck() const override;
        int GetSelection() const override;
        CKzStringW GetSelectionLabel(int index) const override;
        int GetSelectionLabelCount() const override;
        bool IsDefault() const override;
        int Compare(const CKzItem* other, bool structureOnly) const override;
        CKzItem* Duplicate() const override;
        int LoadFromLiteVariant(CKzLiteVariantR& reader) override;
        int SaveToLiteVariant(CKzLiteVariantW& writer) const override;
        int SwitchDefaultValue(bool keep) override;
        int UsePreset(int index) override;
        int StorePreset(int index, const wchar_t* name) override;
        int RemovePreset(int index) override;
        int GetPresetCount() const override;
        const wchar_t* GetPresetName(int index) const override;
        int SetValue(const CKzItem* other) override;
        int SetText(const wchar_t* text) override;
        int SetNumber(double x) override;
        virtual int SetSelection(int selection);
        virtual int SetSelectionLabel(int index, const wchar_t* text);
        virtual int Clear();
        virtual int RemoveLabel(int index);

        static CKzItem* Create();

    protected:
        bool labelValid(int index) const { return index >= 0 && (size_t)index < m_vLabels.size(); }

        int m_iSelection;
        int m_iDefault;
        std::vector<CKzStringW> m_vLabels;
        std::vector<TKzPreset<int>> m_vPresets;
    };

    class KZ_EXPORT CKzDate : public CKzItem {
    public:
        // 2 date only, 1 time of day, any other value date and time.
        enum EKzDateFormat : int { eKzDateTime = 0, eKzTimeOfDay = 1, eKzDateOnly = 2 };

        CKzDate();
        explicit CKzDate(const wchar_t* name);
        CKzDate(const wchar_t* name, CKzDateTime value);
        CKzDate(const CKzDate& other);
        ~CKzDate() override;

        CKzStringW GetText() const override;
        double GetNumber() const override;
        bool IsDefault() const override;
        int Compare(const CKzItem* other, bool structureOnly) const override;
        CKzItem* Duplicate() const override;
        int LoadFromLiteVariant(CKzLiteVariantR& reader) override;
        int SaveToLiteVariant(CKzLiteVariantW& writer) const override;
        int SwitchDefaultValue(bool keep) override;
        int UsePreset(int index) override;
        int StorePreset(int index, const wchar_t* name) override;
        int RemovePreset(int index) override;
        int GetPresetCount() const override;
        const wchar_t* GetPresetName(int index) const override;
        int SetValue(const CKzItem* other) override;
        int SetText(const wchar_t* text) override;
        int SetNumber(double x) override;
        virtual CKzDateTime GetDateTime() const;
        virtual int SetDateTime(CKzDateTime value);
        virtual int GetDateFormat(EKzDateFormat* format) const;
        virtual int SetDateFormat(EKzDateFormat format);

        static CKzItem* Create();

    protected:
        CKzDateTime m_aValue;
        CKzDateTime m_aDefault;
        EKzDateFormat m_eDateFormat;
        std::vector<SKzDatePreset> m_vPresets;
    };

    typedef CKzItem* (*ItemCreator)();
    typedef std::vector<CKzItem*>::iterator iterator;
    typedef std::vector<CKzItem*>::const_iterator const_iterator;

    CKzCustomDescription();
    CKzCustomDescription(const CKzCustomDescription& other);
    CKzCustomDescription& operator=(const CKzCustomDescription& other);
    virtual ~CKzCustomDescription();

    size_t size() const { return m_vItems.size(); }
    iterator begin() { return m_vItems.begin(); }
    iterator end() { return m_vItems.end(); }
    const_iterator begin() const { return m_vItems.begin(); }
    const_iterator end() const { return m_vItems.end(); }
    // The item at index, or the null item past the end. Items are edited
    // through the iterators, so the shared null item is never written.
    const CKzItem& operator[](size_t index) const;

    const wchar_t* GetName() const;
    int SetName(const wchar_t* name);

    int clear();
    iterator erase(iterator position);
    iterator replace(iterator position, const CKzItem& item);
    iterator insert(iterator position, const CKzItem& item);
    CKzCustomDescription& operator<<(const CKzItem& item);
    iterator find(long id);
    const_iterator find(long id) const;
    iterator find(CKzItem* probe, bool structureOnly);
    const_iterator find(CKzItem* probe, bool structureOnly) const;

    int RemoveDisabled();
    int SwitchDefaults();
    int FillDefaults();
    int StorePreset(int index, const wchar_t* name);
    int UsePreset(int index);
    int RemovePreset(int index);
    int GetPresetCount() const;
    const wchar_t* GetPresetName(int index) const;
    int SwapPreset(int a, int b);
    int RenamePreset(int index, const wchar_t* name);
    int FillValues(const CKzCustomDescription& source, bool resetMissing, bool byID);
    int Compare(const CKzCustomDescription& other, bool structureOnly, bool byName) const;

    // Files a creator under a class name (replacing a namesake); -9 for a null
    // name or creator.
    static int RegisterItem(const wchar_t* className, ItemCreator creator);
    int SaveToLiteVariant(CKzLiteVariantW& writer) const;
    int LoadFromLiteVariant(CKzLiteVariantR& reader);
    static CKzItem* CreateItemFromLiteVariant(CKzLiteVariantR& reader);

    // The null item answered past the end of a form.
    static const CKzItem c_aNULL;

private:
    size_t findIndex(long id) const;
    size_t findIndex(const CKzItem* probe, bool structureOnly) const;

    CKzStringW m_wsName;
    std::vector<CKzItem*> m_vItems;
};
