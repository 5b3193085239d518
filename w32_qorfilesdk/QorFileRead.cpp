// The reading half of the exported C interface: open and close, attributes,
// frames whole and by rectangle, frame-0 metadata, experiment, texts,
// pictures, loop coordinates, multipoint names, Z home, large-image
// dimensions, recorded per-frame data, events and the custom description
// form.
//
// Every function holds its handle for the call (kzqor::HandleUse: calls on
// one handle run one at a time and a close waits for them), looks the handle
// up (the table lock is held only inside the lookup), works on the filed
// record and returns a code; no exception leaves this file. Host buffers are written no further than the lengths documented
// in QorFile.h.
#include "w32_qorfilesdk/QorFile.h"

#include "gnr_metaformats/CKzCustomDescription.h"
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzVariantText.h"
#include "w32_qorfilesdk/KzQorConversions.h"
#include "w32_qorfilesdk/internal/KzQorReadInternal.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"
#include "w32_qorfilesdk/internal/KzQorHandleInternal.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>

using namespace kzqorread;

namespace kzqorread {

SKzQorFileHandle* ReadHandle(int handle)
{
    SKzQorFileHandle* h = nullptr;
    if (!SKzQorFileHandle::GetInputFile(handle, &h)) return nullptr;
    return h;
}

void CopyBounded(wchar_t* dst, const wchar_t* src, size_t capacity)
{
    if (!dst || capacity == 0) return;
    size_t i = 0;
    if (src)
        for (; i + 1 < capacity && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
}

} // namespace kzqorread

namespace {

// Bytes one sample takes in memory for a depth, by the picture rule (1 and 2
// bytes, 3 and 4 bytes -> 4, 5 to 7 -> 8).
u32 SampleBytes(u32 bits) { return CKzPicBufAPI::CalcWidthBytes(1, bits, 1, 1); }

// Largest picture block worth asking the allocator for: the limit of the
// picture buffers (1 TiB). Larger requests are refused before they reach an
// allocator that may end the process instead of returning null.
constexpr u64 kMaxPictureBytes = 1ull << 40;

// Largest scratch frame a stride conversion may ask for, relative to the
// host's own picture: a damaged file must not make us allocate without end.
constexpr u64 kScratchSlack = 1ull << 20;

// Frame time and stage position into info (zeros where they are unknown).
void FillFrameInfo(SKzQorFileHandle& h, u32 frame, double* info)
{
    info[0] = info[1] = info[2] = info[3] = 0.0;
    double t = 0.0, x = 0.0, y = 0.0, z = 0.0;
    if (h.GetLocalAcqTime(frame, &t) == KZ_OK) info[0] = t;
    if (h.GetLocalPos(frame, &x, &y, &z) == KZ_OK) info[1] = x, info[2] = y, info[3] = z;
}

// Reads the frame into a host picture checked against the file's geometry:
// straight into it when the strides agree, else through one scratch frame
// whose rows are copied to the host's stride.
int ReadFrame(SKzQorFileHandle& h, u32 frame, const QORPICTURE& pic)
{
    const SKzImageAttributes& a = h.m_Attributes;
    const u32 bytes = SampleBytes(a.uiBpcInMemory);
    if (pic.uiWidth != a.uiWidth || pic.uiHeight != a.uiHeight || pic.uiComp != a.uiComp || bytes == 0 ||
        SampleBytes(pic.uiBpc) != bytes)
        return KZ_ERR_FAILED;
    const u64 row = (u64)a.uiWidth * a.uiComp * bytes;
    const u64 height = a.uiHeight;
    unsigned __int128 need = (unsigned __int128)pic.uiWidthBytes * height;
    if (row == 0 || pic.uiWidthBytes < row || need > pic.uiSize) return KZ_ERR_FAILED;
    const u64 fileStride = a.uiWidthBytes ? a.uiWidthBytes : row;
    if (fileStride < row) return KZ_ERR_FAILED;
    if (fileStride == pic.uiWidthBytes) return h.m_pInputFile->GetData(frame, pic.pData, nullptr, nullptr);

    const unsigned __int128 scratch = (unsigned __int128)fileStride * height;
    if (scratch > (unsigned __int128)pic.uiSize * 2 + kScratchSlack) return KZ_ERR_FAILED;
    std::unique_ptr<u8[]> tmp(new (std::nothrow) u8[(size_t)scratch]);
    if (!tmp) return KZ_ERR_OUT_OF_MEMORY;
    const int r = h.m_pInputFile->GetData(frame, tmp.get(), nullptr, nullptr);
    if (r != KZ_OK) return r;
    u8* dst = static_cast<u8*>(pic.pData);
    for (u64 y = 0; y < height; ++y)
        std::memcpy(dst + y * pic.uiWidthBytes, tmp.get() + y * fileStride, (size_t)row);
    return r;
}

// The level of a type on the item-0 path of the handle's experiment; null
// when absent or on more than one level.
SKzExperiment* FindLevel(SKzQorFileHandle& h, SKzExperiment::EKzExperimentType type)
{
    if (!h.m_pExperiment) return nullptr;
    u32 depth = 0;
    SKzExperiment* level = nullptr;
    if (CKzExperimentAPI::FindExperiment(h.m_pExperiment, type, nullptr, 0, &depth, &level) != KZ_OK) return nullptr;
    if (!level || level->eType != type) return nullptr;
    return level;
}

// Slot `frame` (negative: 0) of the recorded data of a name into out.
int ReadRecordedSlot(int handle, const wchar_t* name, int frame, void* out, size_t slot)
{
    kzqor::HandleUse use(handle);
    SKzQorFileHandle* h = ReadHandle(handle);
    if (!h) return KZ_ERR_NOT_FOUND;
    if (!name) return KZ_ERR_INVALID_ARG;
    const u64 f = frame < 0 ? 0 : (u64)frame;
    CKzByteArray data;
    if (h->m_pInputFile->GetCustomData(name, data) != KZ_OK) return KZ_ERR_NOT_FOUND;
    if ((f + 1) * slot > data.GetSize() || !data.GetData()) return KZ_ERR_NOT_FOUND;
    std::memcpy(out, data.GetData() + f * slot, slot);
    return KZ_OK;
}

// The custom description item behind a host's index; null (after -13) for
// an index outside the form.
const CKzCustomDescription::CKzItem* FormItem(int handle, int item, int& result)
{
    SKzQorFileHandle* h = ReadHandle(handle);
    result = KZ_ERR_NOT_FOUND;
    if (!h || item < 0 || (size_t)item >= h->m_CustomDescription.size()) return nullptr;
    result = KZ_OK;
    return &h->m_CustomDescription[(size_t)item];
}

} // namespace

// ---- open, close, attributes, descriptions ----------------------------------

QORFILEHANDLE Qor_FileOpenForRead(const wchar_t* path)
{
    if (!path) return 0;
    return Guard(0, [&] { return SKzQorFileHandle::OpenInputFile(path); });
}

QORRESULT Qor_FileClose(QORFILEHANDLE handle)
{
    return GuardCode([&] { return SKzQorFileHandle::Close(handle); });
}

QORRESULT Qor_FileGetAttributes(QORFILEHANDLE handle, QORATTRIBUTES* attributes)
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* h = ReadHandle(handle);
        if (!h) return KZ_ERR_NOT_FOUND;
        if (!attributes) return KZ_OK;
        return ConvertGetAttributes(*attributes, h->m_Attributes);
    });
}

QORRESULT Qor_FileGetMetadata(QORFILEHANDLE handle, QORMETADATA_DESC* metadata)
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* h = ReadHandle(handle);
        if (!h || !h->m_pMetadata) return KZ_ERR_NOT_FOUND;
        if (!metadata) return KZ_OK;
        return QorApiSupport_MetadataDesc_QorToApi(*h->m_pMetadata, *metadata);
    });
}

QORRESULT Qor_FileGetTextinfo(QORFILEHANDLE handle, QORTEXTINFO* textinfo)
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* h = SKzQorFileHandle::GetHandle(handle);
        if (!h) return KZ_ERR_NOT_FOUND;
        if (!textinfo) return KZ_OK;
        return ConvertGetTextinfo(*textinfo, h->m_TextInfo);
    });
}

QORRESULT Qor_FileGetExperiment(QORFILEHANDLE handle, QOREXPERIMENT* experiment)
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* h = ReadHandle(handle);
        if (!h) return KZ_ERR_NOT_FOUND;
        if (!experiment) return KZ_ERR_INVALID_ARG;
        return QorApiSupport_Experiment_QorToApi(h->m_pExperiment, *experiment);
    });
}

// ---- frames -------------------------------------------------------------------

QORRESULT Qor_FileGetImageData(QORFILEHANDLE handle, uint32_t frame, QORPICTURE* picture, double info[4])
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* h = ReadHandle(handle);
        if (!h) return KZ_ERR_FAILED;
        if (!info) return KZ_ERR_INVALID_ARG;
        FillFrameInfo(*h, frame, info);
        if (!picture || !picture->pData) return KZ_ERR_FAILED;
        return ReadFrame(*h, frame, *picture);
    });
}

QORRESULT Qor_FileGetImageRectData(QORFILEHANDLE handle, uint32_t frame, uint32_t virtualWidth,
                                   uint32_t virtualHeight, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                                   void* buffer, uint32_t rowBytes, int reserved, double info[4])
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* h = ReadHandle(handle);
        if (!h) return KZ_ERR_FAILED;
        if (!info) return KZ_ERR_INVALID_ARG;
        FillFrameInfo(*h, frame, info);
        if (!buffer) return KZ_ERR_FAILED;
        return h->m_pInputFile->GetRectData(frame, virtualWidth, virtualHeight, x, y, width, height, buffer, rowBytes,
                                            reserved, nullptr, nullptr);
    });
}

// ---- pictures -----------------------------------------------------------------

uint64_t Qor_InitPicture(QORPICTURE* picture, uint32_t width, uint32_t height, uint32_t bits, uint32_t components)
{
    if (!picture) return 0;
    picture->uiWidth = width;
    picture->uiHeight = height;
    picture->uiBpc = bits;
    picture->uiComp = components;
    picture->pData = nullptr;
    // 0 when the row does not fit 32 bits; the size then stays 0 as well.
    const u32 stride = CKzPicBufAPI::CalcWidthBytes(width, bits, components, 4);
    const u64 size = (u64)stride * height;
    picture->uiWidthBytes = stride;
    picture->uiSize = size;
    if (size == 0) return 0;
    const u64 block = (size + 15) & ~(u64)15;
    if (block > kMaxPictureBytes) return 0;
    picture->pData = CKzAlloc::Alloc(1, (size_t)block);
    return picture->pData ? block : 0;
}

void Qor_DestroyPicture(QORPICTURE* picture)
{
    if (!picture) return;
    CKzAlloc::Free(picture->pData);
    // A second destroy of the same record then releases nothing.
    picture->pData = nullptr;
}

// ---- loop coordinates ------------------------------------------------------------

uint32_t Qor_GetSeqIndexFromCoords(const QOREXPERIMENT* experiment, const uint32_t* coordinates)
{
    if (!experiment || !coordinates) return 0;
    const u32 levels = experiment->uiLevelCount < QOR_MAX_EXPERIMENT_LEVELS ? experiment->uiLevelCount
                                                                             : QOR_MAX_EXPERIMENT_LEVELS;
    u32 index = 0;
    for (u32 i = 0; i < levels; ++i) {
        const QOREXPERIMENTLEVEL& l = experiment->sLevels[i];
        index = index * l.uiSize + (l.uiType < 8 ? coordinates[l.uiType] : 0);
    }
    return index;
}

void Qor_GetCoordsFromSeqIndex(const QOREXPERIMENT* experiment, uint32_t index, uint32_t coordinates[8])
{
    if (!coordinates) return;
    for (int i = 0; i < 8; ++i) coordinates[i] = 0;
    if (!experiment) return;
    const u32 levels = experiment->uiLevelCount < QOR_MAX_EXPERIMENT_LEVELS ? experiment->uiLevelCount
                                                                             : QOR_MAX_EXPERIMENT_LEVELS;
    for (u32 i = levels; i-- > 0;) {
        const QOREXPERIMENTLEVEL& l = experiment->sLevels[i];
        if (l.uiType < 8) coordinates[l.uiType] = l.uiSize ? index % l.uiSize : 0;
        if (l.uiSize) index /= l.uiSize;
    }
}

// ---- experiment queries -------------------------------------------------------------

QORRESULT Qor_GetMultipointName(QORFILEHANDLE handle, uint32_t point, wchar_t name[256])
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* h = ReadHandle(handle);
        if (!h) return KZ_ERR_NOT_FOUND;
        SKzExperiment* level = FindLevel(*h, SKzExperiment::eExpXYPosLoop);
        if (!level) return KZ_ERR_NOT_FOUND;
        const SKzExperiment::SKzExpXYPosLoop& l = level->uLoopPars.sXYPosLoop;
        if (!l.pPosName || point >= l.uiCount) return KZ_ERR_FAILED;
        CopyBounded(name, l.pPosName[point].GetString(), QOR_TEXT_LENGTH);
        return KZ_OK;
    });
}

int Qor_GetZStackHome(QORFILEHANDLE handle)
{
    return Guard(-1, [&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* h = ReadHandle(handle);
        if (!h) return KZ_ERR_NOT_FOUND;
        SKzExperiment* level = FindLevel(*h, SKzExperiment::eExpZStackLoop);
        if (!level) return -1;
        u32 home = 0;
        if (CKzExperimentAPI::GetZStackHomePosition(level->uLoopPars.sZStackLoop, &home, 0.05) != KZ_OK) return -1;
        return home > (u32)INT_MAX ? -1 : (int)home;
    });
}

QORRESULT Qor_GetLargeImageDimensions(QORFILEHANDLE handle, int* fieldsX, int* fieldsY, double* overlap)
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* h = ReadHandle(handle);
        if (!h) return KZ_ERR_NOT_FOUND;
        SKzExperiment::SKzLIDesc desc;
        std::memset(&desc, 0, sizeof desc);
        const int r = CKzExperimentAPI::GetLargeImage(h->m_pExperiment, &desc, nullptr);
        if (r != KZ_OK) return r;
        if (fieldsX) *fieldsX = desc.iXFields;
        if (fieldsY) *fieldsY = desc.iYFields;
        if (overlap) *overlap = desc.dOverlap;
        return KZ_OK;
    });
}

// ---- recorded data -------------------------------------------------------------------

QORRESULT Qor_GetRecordedDataInt(QORFILEHANDLE handle, const wchar_t* name, int frame, int* value)
{
    if (!value) return KZ_ERR_NOT_FOUND;
    return GuardCode([&]() -> int {
        i32 v;
        const int r = ReadRecordedSlot(handle, name, frame, &v, sizeof v);
        if (r == KZ_OK) *value = v;
        return r;
    });
}

QORRESULT Qor_GetRecordedDataDouble(QORFILEHANDLE handle, const wchar_t* name, int frame, double* value)
{
    if (!value) return KZ_ERR_NOT_FOUND;
    return GuardCode([&]() -> int {
        double v;
        const int r = ReadRecordedSlot(handle, name, frame, &v, sizeof v);
        if (r == KZ_OK) *value = v;
        return r;
    });
}

QORRESULT Qor_GetRecordedDataString(QORFILEHANDLE handle, const wchar_t* name, int frame, wchar_t text[256])
{
    if (!text) return KZ_ERR_NOT_FOUND;
    return GuardCode([&]() -> int {
        static_assert(sizeof(wchar_t) == 4, "a slot holds 256 four-byte characters");
        wchar_t slot[256];
        const int r = ReadRecordedSlot(handle, name, frame, slot, sizeof slot);
        if (r != KZ_OK) return r;
        slot[255] = 0;
        CopyBounded(text, slot, 256);
        text[255] = 0;
        return KZ_OK;
    });
}

// ---- events ----------------------------------------------------------------------------

QORRESULT Qor_GetNextUserEvent(QORFILEHANDLE handle, int* eventID, QORUSEREVENT* event)
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* h = ReadHandle(handle);
        if (!h) return KZ_ERR_NOT_FOUND;
        if (!eventID) return KZ_ERR_INVALID_ARG;
        if (*eventID < 0) *eventID = 0;
        SKzExperimentRecord log;
        if (h->m_pInputFile->GetImageEvents(log, nullptr) != KZ_OK) return KZ_ERR_NOT_FOUND;
        const int pos = SKzExperimentRecord::GetEvent(log, (u32)*eventID, nullptr);
        if (pos < 0 || (u32)pos >= log.uiCount || !log.pFirstEvent) return KZ_ERR_NOT_FOUND;
        const SKzExperimentEvent& e = log.pFirstEvent[pos];
        if (event) {
            event->uiEventID = e.uiID;
            event->dTime = e.dTime;
            CopyBounded(event->wsMeaning, KzExperimentEventText(e), QOR_EVENT_MEANING_LENGTH);
            CopyBounded(event->wsDescription, e.wsDescription, QOR_EVENT_DESCRIPTION_LENGTH);
        }
        if (*eventID < INT_MAX) ++*eventID;
        return KZ_OK;
    });
}

// ---- custom description form ---------------------------------------------------------

int Qor_GetCustomDataCount(QORFILEHANDLE handle)
{
    return Guard(0, [&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* h = ReadHandle(handle);
        if (!h) return 0;
        const size_t n = h->m_CustomDescription.size();
        return n > (size_t)INT_MAX ? INT_MAX : (int)n;
    });
}

QORRESULT Qor_GetCustomDataInfo(QORFILEHANDLE handle, int item, wchar_t name[256], wchar_t description[256],
                                int* type, uint32_t* flags)
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        int r;
        const CKzCustomDescription::CKzItem* it = FormItem(handle, item, r);
        if (!it) return r;
        CopyBounded(name, it->GetName(), QOR_TEXT_LENGTH);
        CopyBounded(description, it->GetDescription(), QOR_TEXT_LENGTH);
        if (type) *type = (int)it->GetType();
        if (flags) *flags = (it->IsEnabled() ? 1u : 0u) | (it->IsMandatory() ? 2u : 0u);
        return KZ_OK;
    });
}

QORRESULT Qor_GetCustomDataDouble(QORFILEHANDLE handle, int item, double* value)
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        int r;
        const CKzCustomDescription::CKzItem* it = FormItem(handle, item, r);
        if (!it) return r;
        if (value) *value = (double)kzvariant::DoubleToI32(it->GetNumber());
        return KZ_OK;
    });
}

QORRESULT Qor_GetCustomDataString(QORFILEHANDLE handle, int item, wchar_t* text, int* length)
{
    return GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        int r;
        const CKzCustomDescription::CKzItem* it = FormItem(handle, item, r);
        if (!it) return r;
        const int capacity = (length && *length > 0) ? *length : 256;
        const CKzStringW value = it->GetText();
        if (text) CopyBounded(text, value.GetString(), (size_t)capacity);
        if (length) *length = value.GetLength();
        return KZ_OK;
    });
}
