// Binary layers through handles: descriptors from and to the C record, and
// each layer of a frame stored as a compressed run-length picture in the
// custom-data sequence its descriptor names.
#include <cstring>
#include <new>
#include <string>

#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzByteArray.h"
#include "vt5file/IKzImageFile.h"
#include "w32_qorfilesdk/CKzBinaryMetadata.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"
#include "w32_qorfilesdk/internal/KzQorHandleInternal.h"
#include "w32_qorfilesdk/internal/KzQorReadInternal.h"

namespace {

// A text field of a record: up to its terminator or the field's end.
CKzStringW FieldText(const wchar_t* field)
{
    size_t n = 0;
    while (n < QOR_TEXT_LENGTH && field[n])
        ++n;
    const std::wstring text(field, n);
    return CKzStringW(text.c_str());
}

// At most the field's length of the text; terminated only when shorter.
void PutFieldText(wchar_t* field, const CKzStringW& text)
{
    const wchar_t* p = text.GetString();
    size_t i = 0;
    for (; i < QOR_TEXT_LENGTH && p[i]; ++i)
        field[i] = p[i];
    if (i < QOR_TEXT_LENGTH)
        field[i] = 0;
}

// A picture structure over the host's picture; false when its fields cannot
// describe one (the depth would not fit).
bool DescribePicture(const QORPICTURE& q, SKzPicBuf& pic)
{
    if (q.uiBpc == 0 || q.uiBpc > 32)
        return false;
    CKzPicBufAPI::Init(&pic);
    pic.uiWidth = q.uiWidth;
    pic.uiHeight = q.uiHeight;
    pic.uiWidthBytes = q.uiWidthBytes;
    pic.uiBpc = (u8)q.uiBpc;
    pic.uiComp = q.uiComp;
    pic.uiSize = q.uiSize;
    pic.pData = static_cast<u8*>(q.pData);
    return true;
}

// The run-length picture a scope owns.
struct RleGuard {
    SKzRLEPicBuf rle;
    RleGuard() { std::memset(&rle, 0, sizeof(rle)); }
    ~RleGuard() { CKzRLEPicBufAPI::Free(&rle); }
};

}  // namespace

kz_result SKzQorFileHandle::FileSetBinaryDescriptors(int handle, const _QORBINARIES* record)
{
    kzqor::HandleUse use(handle);
    SKzQorFileHandle* rec = nullptr;
    if (!GetOutputFile(handle, &rec) || !rec)
        return KZ_ERR_NOT_FOUND;
    if (!record)
        return KZ_ERR_INVALID_ARG;
    if (record->uiCount > QOR_MAX_BINARIES)
        return KZ_ERR_FAILED;
    try {
        CKzBinaryMetadata descriptors;
        for (u32 i = 0; i < record->uiCount; ++i) {
            const QORBINARYDESC& e = record->sBinaries[i];
            CKzBinaryMetadata::SKzBinaryItem item;
            CKzBinaryMetadata::InitItem(item);
            item.strName = FieldText(e.wsName);
            item.strCompName = FieldText(e.wsComponentName);
            item.uiColor = e.uiColor;
            item.uiCompOrder = i;
            item.uiState = item.strCompName.GetLength() ? (u32)CKzBinaryMetadata::eStateComponent : 0u;
            descriptors.AddItem(item);
        }
        if (!rec->m_pBinaryMetadata)
            rec->m_pBinaryMetadata = new CKzBinaryMetadata();
        rec->m_pBinaryMetadata->Clear();
        for (u32 i = 0; i < descriptors.GetItemCount(); ++i)
            rec->m_pBinaryMetadata->AddItem(*descriptors.GetItem(i));
        return KZ_OK;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

kz_result SKzQorFileHandle::FileSetBinary(int handle, u32 frame, u32 layer, const _QORPICTURE* picture)
{
    kzqor::HandleUse use(handle);
    SKzQorFileHandle* rec = nullptr;
    IKzOutputImageFile* writer = GetOutputFile(handle, &rec);
    if (!writer || !rec)
        return KZ_ERR_NOT_FOUND;
    const CKzBinaryMetadata::SKzBinaryItem* item =
        rec->m_pBinaryMetadata ? rec->m_pBinaryMetadata->GetItem(layer) : nullptr;
    if (!item || !picture)
        return KZ_ERR_FAILED;
    SKzPicBuf pic;
    if (!DescribePicture(*picture, pic))
        return KZ_ERR_FAILED;
    try {
        RleGuard g;
        CKzRLEPicBufAPI::Init(&g.rle, 0, true);
        CKzRLEPicBufAPI::Reinit(&g.rle, picture->uiWidth, picture->uiHeight);
        if (CKzRLEPicBufAPI::ConvertPicBufToPaintedRLE(&g.rle, &pic, 8) != KZ_OK)
            return KZ_ERR_FAILED;
        unsigned long size = 0;
        void* block = CKzRLEPicBufAPI::SaveToMemoryCompress(&g.rle, 6, 1, &size);
        if (!block)
            return KZ_ERR_FAILED;
        const kz_result r = writer->SetCustomDataSeq(item->strFileTag.GetString(), frame, block, size);
        CKzAlloc::Free(block);
        return r;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

QORRESULT Qor_FileGetBinaryDescriptors(QORFILEHANDLE handle, QORBINARIES* binaries)
{
    return kzqorread::GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        if (!binaries)
            return KZ_ERR_INVALID_ARG;
        binaries->uiCount = 0;
        SKzQorFileHandle* rec = nullptr;
        if (!SKzQorFileHandle::GetInputFile(handle, &rec) || !rec)
            return KZ_ERR_NOT_FOUND;
        const CKzBinaryMetadata* d = rec->m_pBinaryMetadata;
        if (!d)
            return KZ_OK;
        if (d->GetItemCount() > QOR_MAX_BINARIES)
            return KZ_ERR_FAILED;
        for (u32 i = 0; i < d->GetItemCount(); ++i) {
            const CKzBinaryMetadata::SKzBinaryItem* item = d->GetItem(i);
            QORBINARYDESC& e = binaries->sBinaries[i];
            e.uiColor = item->uiColor;
            PutFieldText(e.wsName, item->strName);
            PutFieldText(e.wsComponentName, item->strCompName);
        }
        binaries->uiCount = d->GetItemCount();
        return KZ_OK;
    });
}

QORRESULT Qor_FileGetBinary(QORFILEHANDLE handle, uint32_t frame, int layer, QORPICTURE* picture)
{
    return kzqorread::GuardCode([&]() -> int {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* rec = nullptr;
        IKzInputImageFile* reader = SKzQorFileHandle::GetInputFile(handle, &rec);
        if (!reader || !rec)
            return KZ_ERR_NOT_FOUND;
        const CKzBinaryMetadata* d = rec->m_pBinaryMetadata;
        if (!d || layer < 0 || (u32)layer >= d->GetItemCount())
            return KZ_ERR_FAILED;
        CKzByteArray block(1024);
        if (const int r = reader->GetCustomDataSeq(d->GetItem((u32)layer)->strFileTag.GetString(), frame, block);
            r != KZ_OK)
            return r;
        if (!picture)
            return KZ_ERR_FAILED;
        SKzPicBuf pic;
        if (!DescribePicture(*picture, pic))
            return KZ_ERR_FAILED;
        // A layer of the frame's size holds at most one object per pixel, each of one
        // row and one run (36 + 8 + 8 bytes, no custom bytes in layers), after the
        // 28-byte header: a length word beyond that is refused before inflating.
        const u64 w = rec->m_Attributes.uiWidth, h = rec->m_Attributes.uiHeight;
        if (w && h && block.GetSize() >= 4) {
            u32 claimed = 0;
            std::memcpy(&claimed, block.GetData(), 4);
            const u64 pixels = w * h; // below 2^64; a length word is below 2^32
            if (pixels < (u64(1) << 32) && claimed > 28 + pixels * 52)
                return KZ_ERR_FAILED;
        }
        RleGuard g;
        CKzRLEPicBufAPI::Init(&g.rle, 0, true);
        CKzRLEPicBufAPI::Reinit(&g.rle, rec->m_Attributes.uiWidth, rec->m_Attributes.uiHeight);
        if (const kz_result r = CKzRLEPicBufAPI::LoadFromMemoryUncompress(
                &g.rle, 1, const_cast<unsigned char*>(block.GetData()), block.GetSize());
            r != KZ_OK)
            return r;
        return CKzRLEPicBufAPI::ConvertRLEToPicBuf(&pic, &g.rle, 0);
    });
}
