// The VT5 image format.
#include "vt5file/CKzImageFormatVT5.h"

#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>

#include "gnr_system/ImageFormatManager.h"
#include "gnr_system/KzFile.h"
#include "vt5file/CKzFileChunker.h"
#include "vt5file/CKzVT5InputFile.h"
#include "vt5file/CKzVT5OutputFile.h"

namespace {
// Features the format supports, ended by -1.
const int supported_features[] = {0, 2, 4, 5, 8, 9, 10, 11, 12, 13, 14, 15, 20, 21, 23, 24, -1};
}  // namespace

CKzImageFormatVT5::CKzImageFormatVT5() : IKzImageFormat(true)
{
    std::memset(&m_Attributes, 0, sizeof(m_Attributes));
}

CKzImageFormatVT5::~CKzImageFormatVT5() {}

CKzImageFormatVT5* CKzImageFormatVT5::GetProcessFormat()
{
    // Never deleted: readers of every thread point to it until the process ends.
    static CKzImageFormatVT5* const s_format = new CKzImageFormatVT5();
    return s_format;
}

int CKzImageFormatVT5::ParseVersion(const char* text)
{
    if (!text || std::strncmp(text, "Ver", 3) != 0 || std::strlen(text) <= 3)
        return -1;
    long long n = 0;
    for (const char* p = text + 3; *p >= '0' && *p <= '9'; ++p) {
        n = n * 10 + (*p - '0');
        if (n > INT_MAX) {
            n = INT_MAX;  // saturate: further digits cannot lower it
        }
    }
    return (int)n;
}

int CKzImageFormatVT5::GetID(CKzStringA& id)
{
    id = "VTIMX";
    return KZ_OK;
}

int CKzImageFormatVT5::GetTextDescription(CKzStringW& text)
{
    text = L"VT5 Image File Format";
    return KZ_OK;
}

int CKzImageFormatVT5::GetExtensions(CKzStringW& list)
{
    list = L".vt5";
    return KZ_OK;
}

int CKzImageFormatVT5::IsFeatureSupported(_EKzImageFormatFeature feature)
{
    for (const int* f = supported_features; *f != -1; ++f)
        if (*f == (int)feature)
            return KZ_OK;
    return KZ_ERR_FEATURE;
}

int CKzImageFormatVT5::IsDataFormatSupported(u32, u32, u8 bits, u32)
{
    return bits >= 8 && bits <= 16 ? KZ_OK : KZ_ERR_FEATURE;
}

int CKzImageFormatVT5::AdjustDataFormat(u32&, u32&, u8& bits, u32&)
{
    if (bits < 8)
        bits = 8;
    else if (bits > 16)
        bits = 16;
    return KZ_OK;
}

int CKzImageFormatVT5::IsFormatSupported(SKzImageAttributes& attributes)
{
    return attributes.uiBpcInMemory >= 8 && attributes.uiBpcInMemory <= 16 ? KZ_OK : KZ_ERR_FEATURE;
}

int CKzImageFormatVT5::AdjustFormat(SKzImageAttributes& attributes)
{
    m_Attributes = attributes;
    return AdjustDataFormat(attributes.uiWidth, attributes.uiHeight, attributes.uiBpcInMemory, attributes.uiComp);
}

int CKzImageFormatVT5::CreateInputImageFile(CKzStringW path, IKzInputImageFile*& reader)
{
    reader = nullptr;
    CKzFileChunker container;
    CKzStringA version;
    const int r = container.Initialize_File(path, true, false, version);
    if (r != KZ_OK && r != KZ_ERR_NOT_FOUND) {
        // Not a VT5 container: hand the path over to a format for older
        // files ("VTIM"), unless this format was itself asked to do so.
        container.Finalize();
        if (m_Attributes.dCompressionParam < 0)
            return KZ_ERR_FAILED;
        IKzInterface* object = CKzRTTI::CreateAndQuery("CKzImageFormatManagerImpl", "IKzImageFormatManager",
                                                       SKzFileLine{"no file", -1});
        IKzImageFormatManager* registry = static_cast<IKzImageFormatManager*>(object);
        if (registry) {
            IKzImageFormat* other = nullptr;
            if (registry->GetImageFormatByID(CKzStringA("VTIM"), other) == KZ_OK && other) {
                SKzImageAttributes handover;
                std::memset(&handover, 0, sizeof(handover));
                handover.dCompressionParam = -1.5;
                other->AdjustFormat(handover);
                other->CreateInputImageFile(path, reader);
                CKzRTTI::Release(other);
            }
            CKzRTTI::Release(registry);
        }
        return reader ? KZ_OK : KZ_ERR_FAILED;
    }
    const int number = ParseVersion(version);
    if (number < 0 || number == 1 || container.IsMapMissing()) {
        container.Finalize();
        return KZ_FAIL;
    }
    // The map (one entry per chunk: large for files of many frames) moves
    // into the reader; the reader copies the rest of the container.
    CKzFileChunker mapHolder;
    mapHolder.SwapMap(container);
    CKzVT5InputFile_V02* made = nullptr;
    try {
        if (number == 2)
            made = new CKzVT5InputFile_V02(GetProcessFormat(), container);
        else
            made = new CKzVT5InputFile_V03(GetProcessFormat(), container);
    } catch (...) {
        made = nullptr;
    }
    if (made)
        made->AdoptMap(mapHolder);
    if (!made) {
        container.Finalize();
        return KZ_ERR_OUT_OF_MEMORY;
    }
    // The reader's copy of the container owns the stream from here on.
    made->AddRef();
    reader = made;
    return KZ_OK;
}

int CKzImageFormatVT5::CreateOutputImageFile(CKzStringW path, IKzOutputImageFile*& writer)
{
    writer = nullptr;
    const bool exists = KZ_AccessFile(path, 0) == 0;
    if (exists) {
        // A file of a version that gets no writer is not opened for writing
        // at all, so nothing is written to it.
        CKzFileChunker probe;
        CKzStringA found;
        const int p = probe.Initialize_File(path, true, false, found);
        probe.Finalize();
        if (p == KZ_OK) {
            const int n = ParseVersion(found);
            if (n < 0 || n == 1)
                return KZ_ERR_FAILED;
        }
    }
    CKzStringA version("Ver3.0");
    CKzFileChunker container;
    const int r = container.Initialize_File(path, false, exists, version);
    if (r != KZ_OK && r != KZ_ERR_NOT_FOUND) {
        container.Finalize();
        return KZ_ERR_FAILED;
    }
    const int number = ParseVersion(version);
    CKzVT5OutputFile_V02* made = nullptr;
    try {
        if (number == 2)
            made = new CKzVT5OutputFile_V02(this, path, exists, container);
        else if (number >= 0 && number != 1)
            made = new CKzVT5OutputFile_V03(this, path, exists, container);
    } catch (...) {
        made = nullptr;
    }
    if (!made) {
        // Nothing has been written: close the stream opened for the attempt.
        container.Finalize();
        return KZ_ERR_FAILED;
    }
    made->AddRef();
    writer = made;
    return KZ_OK;
}
