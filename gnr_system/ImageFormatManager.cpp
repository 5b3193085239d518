// Image-format registry, the class factory's process-wide objects and loading
// a picture straight from a VT5 file.
#include "gnr_system/ImageFormatManager.h"

#include <cstring>
#include <cwctype>
#include <mutex>

#include "gnr_system/CKzSerializerXMLString.h"
#include "vt5file/CKzImageFormatVT5.h"

namespace {

// Loading and registering are serialised; lookups are not locked.
std::recursive_mutex& RegistryMutex()
{
    static std::recursive_mutex m;
    return m;
}

bool g_bFormatsLoaded = false;

// Formats cleared out of the registry stay reachable: other code may still
// hold them, and formats are never deleted.
std::vector<IKzImageFormat*>& RetiredFormats()
{
    static std::vector<IKzImageFormat*>* retired = new std::vector<IKzImageFormat*>();
    return *retired;
}

bool EqualNoCase(const wchar_t* a, const wchar_t* b, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (std::towlower((wint_t)a[i]) != std::towlower((wint_t)b[i]))
            return false;
    return true;
}

// The first case-insensitive occurrence of ext in list counts when it is a
// whole entry of the ";"-separated list.
bool ListHoldsExtension(const CKzStringW& list, const CKzStringW& ext)
{
    const size_t n = (size_t)ext.GetLength();
    const size_t len = (size_t)list.GetLength();
    const wchar_t* l = list;
    if (n > len)
        return false;
    for (size_t i = 0; i + n <= len; ++i) {
        if (!EqualNoCase(l + i, (const wchar_t*)ext, n))
            continue;
        const bool starts = i == 0 || l[i - 1] == L';';
        const bool ends = i + n == len || l[i + n] == L';';
        return starts && ends;
    }
    return false;
}

}  // namespace

IKzImageFormatManager::~IKzImageFormatManager() {}

CKzImageFormatManagerImpl::CKzImageFormatManagerImpl() {}

CKzImageFormatManagerImpl::~CKzImageFormatManagerImpl() { Clear(); }

void CKzImageFormatManagerImpl::Clear()
{
    m_IDs.clear();
    for (IKzImageFormat* f : m_Formats) {
        CKzRTTI::Release(f);
        RetiredFormats().push_back(f);
    }
    m_Formats.clear();
}

int CKzImageFormatManagerImpl::RegisterImageFormat(IKzImageFormat* format, u32* index)
{
    if (!format)
        return KZ_ERR_INVALID_ARG;
    std::lock_guard<std::recursive_mutex> lock(RegistryMutex());
    CKzStringA id;
    if (const int r = format->GetID(id); r != KZ_OK)
        return r;
    const std::string key((const char*)id);
    if (m_IDs.count(key))
        return KZ_ERR_FORMAT_EXISTS;
    const u32 at = (u32)m_Formats.size();
    m_Formats.push_back(format);
    m_IDs[key] = SKzFormatIndex{at};
    if (index)
        *index = at;
    return KZ_OK;
}

int CKzImageFormatManagerImpl::LoadAllImageFormats(bool bReload)
{
    std::lock_guard<std::recursive_mutex> lock(RegistryMutex());
    if (g_bFormatsLoaded && !bReload)
        return KZ_OK;
    Clear();
    RegisterImageFormat(new CKzImageFormatVT5(), nullptr);
    g_bFormatsLoaded = true;
    return KZ_OK;
}

u32 CKzImageFormatManagerImpl::GetImageFormatCount() { return (u32)m_Formats.size(); }

int CKzImageFormatManagerImpl::GetImageFormat(u32 index, IKzImageFormat*& format)
{
    format = nullptr;
    if (index >= m_Formats.size())
        return KZ_ERR_INVALID_ARG;
    IKzInterface* q = CKzRTTI::QueryInterface(m_Formats[index], "IKzImageFormat");
    if (!q)
        return KZ_ERR_INVALID_ARG;
    format = static_cast<IKzImageFormat*>(q);
    return KZ_OK;
}

int CKzImageFormatManagerImpl::GetImageFormatByID(CKzStringA id, IKzImageFormat*& format)
{
    format = nullptr;
    auto it = m_IDs.find(std::string((const char*)id));
    if (it == m_IDs.end())
        return KZ_ERR_INVALID_ARG;
    return GetImageFormat(it->second.uiIndex, format);
}

int CKzImageFormatManagerImpl::GetImageFormatByFilename(CKzStringW path, IKzImageFormat*& format)
{
    format = nullptr;
    const wchar_t* p = path;
    const wchar_t* dot = std::wcsrchr(p, L'.');
    const CKzStringW ext(dot ? dot : L"");
    for (u32 i = 0; i < m_Formats.size(); ++i) {
        CKzStringW list;
        if (m_Formats[i]->GetExtensions(list) != KZ_OK)
            continue;
        if (ListHoldsExtension(list, ext))
            return GetImageFormat(i, format);
    }
    return KZ_ERR_NO_FORMAT;
}

int CKzImageFormatManagerImpl::CopyImageFile(const wchar_t* from, const wchar_t*, int, int*, KzCopyProgressFn, void*)
{
    IKzImageFormat* f = nullptr;
    GetImageFormatByFilename(CKzStringW(from), f);
    return KZ_ERR_NO_FORMAT;
}

int CKzImageFormatManagerImpl::MoveImageFile(const wchar_t* from, const wchar_t*, int, int*, KzCopyProgressFn, void*)
{
    IKzImageFormat* f = nullptr;
    GetImageFormatByFilename(CKzStringW(from), f);
    return KZ_ERR_NO_FORMAT;
}

int CKzImageFormatManagerImpl::RemoveImageFile(const wchar_t* path, int)
{
    IKzImageFormat* f = nullptr;
    GetImageFormatByFilename(CKzStringW(path), f);
    return KZ_ERR_NO_FORMAT;
}

int CKzImageFormatManagerImpl::GetImageFileSize(const wchar_t* path, size_t*)
{
    IKzImageFormat* f = nullptr;
    GetImageFormatByFilename(CKzStringW(path), f);
    return KZ_ERR_NO_FORMAT;
}

// ---------------------------------------------------------------------------
// class factory

namespace {

IKzImageFormatManager* ProcessRegistry()
{
    static IKzImageFormatManager* const s_registry = new CKzImageFormatManagerImpl();
    return s_registry;
}

IKzSerializer* ProcessSerializer()
{
    static IKzSerializer* const s_serializer = new CKzSerializerXMLString();
    return s_serializer;
}

}  // namespace

CKzRTTI& CKzRTTI::getInstance()
{
    static CKzRTTI s_instance;
    return s_instance;
}

IKzInterface* CKzRTTI::CreateAndQuery(const char* className, const char* interfaceName, SKzFileLine)
{
    IKzInterface* registry = ProcessRegistry();
    if (className && std::strcmp(className, "CKzImageFormatManagerImpl") == 0)
        return registry;
    IKzInterface* serializer = ProcessSerializer();
    if (className && std::strcmp(className, "CKzSerializerXMLString") == 0)
        return serializer;
    IKzInterface* made = Create(className, SKzFileLine{"no file", -1});
    if (!made)
        return nullptr;
    IKzInterface* q = QueryInterface(made, interfaceName);
    Release(made);
    return q;
}

IKzInterface* CKzRTTI::Create(const char* className, SKzFileLine)
{
    CKzVariant entry;
    if (FindClassImpl(entry, CKzStringA(className ? className : ""), CKzStringA(), CKzStringA()) != KZ_OK)
        return nullptr;
    return nullptr;  // the catalogue registers no creators
}

IKzInterface* CKzRTTI::Create_Fx(const char*, SKzFileLine) { return nullptr; }

IKzInterface* CKzRTTI::CreateAndQuery_Fx(const char*, const char*, SKzFileLine) { return nullptr; }

IKzInterface* CKzRTTI::QueryInterface(IKzInterface* object, const char* name)
{
    if (!object)
        return nullptr;
    CKzClass* c = object->GetClass();
    return c ? c->QueryInterface(name) : nullptr;
}

int CKzRTTI::AddRef(IKzInterface* object)
{
    CKzClass* c = object ? object->GetClass() : nullptr;
    return c ? c->AddRef() : 0;
}

int CKzRTTI::Release(IKzInterface* object)
{
    CKzClass* c = object ? object->GetClass() : nullptr;
    return c ? c->Release() : 0;
}

const CKzVariant* CKzRTTI::GetCKzClassInfo(IKzInterface* object)
{
    CKzClass* c = object ? object->GetClass() : nullptr;
    return c ? c->GetCKzClassInfo() : nullptr;
}

int CKzRTTI::FindClassImpl(CKzVariant&, const CKzStringA&, const CKzStringA&, const CKzStringA&)
{
    getInstance();
    return KZ_ERR_FAILED;
}

void CKzRTTI::UpdateCatalog() {}

void CKzRTTI::ForEachObject(int (*)(IKzInterface*, void*), void*) {}

int CKzRTTI::AppendCatalogInRuntime(CKzVariant*) { return KZ_ERR_FAILED; }

// ---------------------------------------------------------------------------

int CKzImageFormatAPI::CreateInputImageFile(IKzImageFormatManager* registry, const wchar_t* path,
                                            IKzInputImageFile*& reader)
{
    reader = nullptr;
    if (!registry) {
        KZ_PrintFailure("gnr_system/ImageFormatManager", 248);
        return KZ_ERR_INVALID_ARG;
    }
    IKzImageFormat* format = nullptr;
    if (const int r = registry->GetImageFormatByFilename(CKzStringW(path ? path : L""), format); r != KZ_OK)
        return r;
    const int r = format->CreateInputImageFile(CKzStringW(path), reader);
    CKzRTTI::Release(format);
    return r;
}
