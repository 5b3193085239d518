// Custom description forms: the item list, form-wide defaults and presets,
// comparison, the item class registry and the form's lite-variant level.
#include "gnr_metaformats/CKzCustomDescription.h"
#include "gnr_metaformats/KzCustomDescriptionImpl.h"
#include "gnr_system/CKzLiteVariant.h"

#include <cwchar>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

using Desc = CKzCustomDescription;
using namespace kzdesc;

const Desc::CKzItem Desc::c_aNULL;

namespace {

// Class name -> creator. The built-in classes enter once, before any other
// use, so a host's early registration replaces its built-in namesake rather
// than being overwritten later. Files may be opened on several threads.
// Held in types of this unit only, so no container instantiation is exported.
struct Creator {
    Desc::ItemCreator fn;
};

struct Registry {
    std::shared_mutex mutex;
    std::map<std::wstring, Creator> creators;
    std::once_flag builtins;
};

Registry& TheRegistry()
{
    static Registry* r = new Registry();  // outlives every static form
    std::call_once(r->builtins, [] {
        std::unique_lock<std::shared_mutex> lock(r->mutex);
        r->creators[L"CKzItem"] = Creator{&Desc::CKzItem::Create};
        r->creators[L"CKzLabel"] = Creator{&Desc::CKzLabel::Create};
        r->creators[L"CKzNumber"] = Creator{&Desc::CKzNumber::Create};
        r->creators[L"CKzText"] = Creator{&Desc::CKzText::Create};
        r->creators[L"CKzSelection"] = Creator{&Desc::CKzSelection::Create};
        r->creators[L"CKzLongText"] = Creator{&Desc::CKzLongText::Create};
        r->creators[L"CKzDate"] = Creator{&Desc::CKzDate::Create};
    });
    return *r;
}

Desc::ItemCreator FindCreator(const wchar_t* name)
{
    Registry& r = TheRegistry();
    std::shared_lock<std::shared_mutex> lock(r.mutex);
    auto it = r.creators.find(std::wstring(name));
    return it == r.creators.end() ? nullptr : it->second.fn;
}

void DestroyAll(std::vector<Desc::CKzItem*>& items)
{
    for (Desc::CKzItem* i : items) delete i;
    items.clear();
}

} // namespace

Desc::CKzCustomDescription() : m_wsName() { TheRegistry(); }

Desc::CKzCustomDescription(const CKzCustomDescription& other) : m_wsName()
{
    TheRegistry();
    *this = other;
}

Desc& Desc::operator=(const CKzCustomDescription& other)
{
    if (this == &other) return *this;
    // The copies are made before anything of this form is released.
    std::vector<CKzItem*> copies;
    try {
        copies.reserve(other.m_vItems.size());
        for (const CKzItem* i : other.m_vItems) {
            CKzItem* d = i->Duplicate();
            if (!d) throw std::bad_alloc();
            copies.push_back(d);
        }
    } catch (...) {
        DestroyAll(copies);
        return *this;
    }
    m_wsName = other.m_wsName;
    DestroyAll(m_vItems);
    m_vItems.swap(copies);
    return *this;
}

Desc::~CKzCustomDescription() { DestroyAll(m_vItems); }

const Desc::CKzItem& Desc::operator[](size_t index) const
{
    return index < m_vItems.size() ? *m_vItems[index] : c_aNULL;
}

const wchar_t* Desc::GetName() const { return m_wsName.GetString(); }

int Desc::SetName(const wchar_t* name)
{
    if (!name) return KZ_ERR_FAILED;
    m_wsName = name;
    return KZ_OK;
}

int Desc::clear()
{
    DestroyAll(m_vItems);
    return KZ_OK;
}

Desc::iterator Desc::erase(iterator position)
{
    if (position == m_vItems.end()) return position;
    delete *position;
    return m_vItems.erase(position);
}

Desc::iterator Desc::replace(iterator position, const CKzItem& item)
{
    if (position == m_vItems.end()) return position;
    // The item may be the one replaced: copy it first.
    CKzItem* d = item.Duplicate();
    if (!d) return position;
    delete *position;
    *position = d;
    return position;
}

Desc::iterator Desc::insert(iterator position, const CKzItem& item)
{
    CKzItem* d = item.Duplicate();
    if (!d) return m_vItems.end();
    try {
        return m_vItems.insert(position, d);
    } catch (...) {
        delete d;
        return m_vItems.end();
    }
}

Desc& Desc::operator<<(const CKzItem& item)
{
    CKzItem* d = item.Duplicate();
    if (!d) return *this;
    try {
        m_vItems.push_back(d);
    } catch (...) {
        delete d;
    }
    return *this;
}

size_t Desc::findIndex(long id) const
{
    for (size_t i = 0; i < m_vItems.size(); ++i)
        if (m_vItems[i]->GetID() == id) return i;
    return m_vItems.size();
}

size_t Desc::findIndex(const CKzItem* probe, bool structureOnly) const
{
    if (!probe) return m_vItems.size();
    for (size_t i = 0; i < m_vItems.size(); ++i) {
        const CKzItem* it = m_vItems[i];
        if (wcscmp(probe->GetName(), it->GetName()) != 0) continue;
        if (probe->GetType() == eKzTypeItem || it->GetType() == eKzTypeItem) return i;
        if (probe->Compare(it, structureOnly) == 0) return i;
    }
    return m_vItems.size();
}

Desc::iterator Desc::find(long id) { return m_vItems.begin() + findIndex(id); }
Desc::const_iterator Desc::find(long id) const { return m_vItems.begin() + findIndex(id); }
Desc::iterator Desc::find(CKzItem* probe, bool structureOnly)
{
    return m_vItems.begin() + findIndex(probe, structureOnly);
}
Desc::const_iterator Desc::find(CKzItem* probe, bool structureOnly) const
{
    return m_vItems.begin() + findIndex(probe, structureOnly);
}

int Desc::RemoveDisabled()
{
    std::vector<CKzItem*> kept;
    kept.reserve(m_vItems.size());
    for (CKzItem* i : m_vItems) {
        if (i->IsEnabled())
            kept.push_back(i);
        else
            delete i;
    }
    m_vItems.swap(kept);
    return KZ_OK;
}

int Desc::SwitchDefaults()
{
    for (CKzItem* i : m_vItems) i->SwitchDefaultValue(false);
    return KZ_OK;
}

int Desc::FillDefaults()
{
    for (CKzItem* i : m_vItems) i->SwitchDefaultValue(true);
    return KZ_OK;
}

int Desc::StorePreset(int index, const wchar_t* name)
{
    for (CKzItem* i : m_vItems) i->StorePreset(index, name);
    return KZ_OK;
}

int Desc::UsePreset(int index)
{
    for (CKzItem* i : m_vItems) i->UsePreset(index);
    return KZ_OK;
}

int Desc::RemovePreset(int index)
{
    for (CKzItem* i : m_vItems) i->RemovePreset(index);
    return KZ_OK;
}

int Desc::GetPresetCount() const { return m_vItems.empty() ? 0 : m_vItems[0]->GetPresetCount(); }

const wchar_t* Desc::GetPresetName(int index) const
{
    return m_vItems.empty() ? nullptr : m_vItems[0]->GetPresetName(index);
}

namespace {

CKzStringW PresetName(const Desc::CKzItem* item, int index)
{
    const wchar_t* n = item->GetPresetName(index);
    return CKzStringW(n ? n : L"");
}

} // namespace

// Each item swaps with its own preset count: forms whose items hold different
// numbers of presets never exchange a preset with a scratch one.
int Desc::SwapPreset(int a, int b)
{
    for (CKzItem* i : m_vItems) {
        int n = i->GetPresetCount();
        if (a < 0 || b < 0 || a >= n || b >= n) continue;
        i->StorePreset(n, L"");
        i->UsePreset(a);
        i->StorePreset(n + 1, PresetName(i, a));
        i->UsePreset(b);
        i->StorePreset(a, PresetName(i, b));
        i->UsePreset(n + 1);
        i->StorePreset(b, PresetName(i, n + 1));
        i->UsePreset(n);
        i->RemovePreset(n + 1);
        i->RemovePreset(n);
    }
    return KZ_OK;
}

int Desc::RenamePreset(int index, const wchar_t* name)
{
    CKzStringW newName(name ? name : L"");
    for (CKzItem* i : m_vItems) {
        int n = i->GetPresetCount();
        if (index < 0 || index >= n) continue;
        i->StorePreset(n, L"");
        i->UsePreset(index);
        i->StorePreset(index, newName);
        i->UsePreset(n);
        i->RemovePreset(n);
    }
    return KZ_OK;
}

int Desc::FillValues(const CKzCustomDescription& source, bool resetMissing, bool byID)
{
    for (CKzItem* i : m_vItems) {
        const CKzItem* match = nullptr;
        if (byID) {
            for (const CKzItem* j : source.m_vItems)
                if (j->GetID() == i->GetID()) {
                    match = j;
                    break;
                }
        }
        if (!match) {
            for (const CKzItem* j : source.m_vItems)
                if (i->Compare(j, true) == 0) {
                    match = j;
                    break;
                }
        }
        if (match)
            i->SetValue(match);
        else if (resetMissing)
            i->SwitchDefaultValue(true);
    }
    return KZ_OK;
}

int Desc::Compare(const CKzCustomDescription& other, bool structureOnly, bool byName) const
{
    int c = Sign(wcscmp(m_wsName.GetString(), other.m_wsName.GetString()));
    if (c) return c;
    c = CompareValue(m_vItems.size(), other.m_vItems.size());
    if (c) return c;
    for (size_t k = 0; k < m_vItems.size(); ++k) {
        const CKzItem* mine = m_vItems[k];
        const CKzItem* theirs;
        if (byName) {
            CKzItem probe(mine->GetName());
            size_t j = other.findIndex(&probe, structureOnly);
            if (j >= other.m_vItems.size()) return 1;
            theirs = other.m_vItems[j];
        } else {
            theirs = other.m_vItems[k];
        }
        c = mine->Compare(theirs, structureOnly);
        if (c) return c;
    }
    return 0;
}

int Desc::RegisterItem(const wchar_t* className, ItemCreator creator)
{
    if (!className || !creator) return KZ_ERR_FAILED;
    Registry& r = TheRegistry();
    try {
        std::unique_lock<std::shared_mutex> lock(r.mutex);
        r.creators[std::wstring(className)] = Creator{creator};
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

int Desc::SaveToLiteVariant(CKzLiteVariantW& w) const
{
    if (w.LevelBegin(L"CKzCustomDescription") != KZ_OK) return KZ_OK;
    w.Set(m_wsName.GetString(), L"sName");
    if (w.LevelBegin(L"vData") == KZ_OK) {
        for (const CKzItem* i : m_vItems) {
            if (const CKzLiteVariantR* raw = i->GetUnknownData())
                w.Append(*raw);
            else
                i->SaveToLiteVariant(w);
        }
        w.LevelEnd();
    }
    w.LevelEnd();
    return KZ_OK;
}

int Desc::LoadFromLiteVariant(CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"CKzCustomDescription") != KZ_OK) return KZ_OK;
    r.GetCKzStringW(m_wsName, L"sName", L"");
    unsigned n = 0;
    if (r.LevelBegin(L"vData", &n) == KZ_OK) {
        clear();
        for (unsigned k = 0; k < n; ++k) {
            if (!r.IsNextValue()) break;
            CKzItem* item = CreateItemFromLiteVariant(r);
            if (item) {
                try {
                    m_vItems.push_back(item);
                } catch (...) {
                    delete item;
                }
            }
            if (r.NextValue() != KZ_OK) break;
        }
        r.LevelEnd();
    }
    r.LevelEnd();
    return KZ_OK;
}

Desc::CKzItem* Desc::CreateItemFromLiteVariant(CKzLiteVariantR& r)
{
    wchar_t name[256];
    if (r.GetCurrentName(name, 255) != KZ_OK) return nullptr;
    ItemCreator creator = FindCreator(name);
    if (creator) {
        CKzItem* item = nullptr;
        try {
            item = creator();
        } catch (...) {
            return nullptr;
        }
        if (item) item->LoadFromLiteVariant(r);
        return item;
    }
    // An entry of a class this library does not know: keep its bytes and
    // descend to the nearest known base level inside it. The descent reads
    // a copy of the entry alone, so what the item becomes depends only on the
    // bytes that are written back, and the reader's cursor stays on the entry.
    CKzLiteVariantR copy;
    if (r.ExtractCurrent(copy) != KZ_OK) return nullptr;
    CKzLiteVariantR walk(copy);
    walk.Reset();
    for (int depth = 0; !creator; ++depth) {
        if (depth >= CKzLiteVariantR::MAX_DEPTH || walk.GetCurrentType() != eKzLVLevel ||
            walk.CurrentLevelBegin() != KZ_OK)
            return nullptr;
        // A level without records names no base.
        if (!walk.IsNextValue() || walk.GetCurrentName(name, 255) != KZ_OK) return nullptr;
        creator = FindCreator(name);
    }
    CKzItem* item = nullptr;
    try {
        item = creator();
    } catch (...) {
        return nullptr;
    }
    if (item && item->LoadFromLiteVariant(walk) == KZ_OK) item->SetUnknownData(copy);
    return item;
}
