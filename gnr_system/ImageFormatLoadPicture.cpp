// Frame 0 of a VT5 file into a picture, without registry or handle.
#include <cstring>
#include <new>

#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_system/ImageFormatManager.h"
#include "vt5file/CKzImageFormatVT5.h"
#include "vt5file/CKzVT5InputFile.h"

int KZ_LoadPictureFromFile(const wchar_t* path, SKzPicBuf* picture, double* first, double* second,
                           SKzPictureMetadata* metadata, SKzImageTextInfo*)
{
    if (!path || !picture)
        return KZ_ERR_FAILED;
    CKzImageFormatVT5* format = new (std::nothrow) CKzImageFormatVT5();
    if (!format)
        return KZ_ERR_FAILED;
    IKzInputImageFile* reader = nullptr;
    int result = KZ_ERR_FAILED;
    if (format->CreateInputImageFile(CKzStringW(path), reader) == KZ_OK && reader) {
        SKzImageAttributes a;
        std::memset(&a, 0, sizeof(a));
        a.ePixelType = 1;
        // Frame 0 must be there, and plausible, before a picture of the
        // attributes' size is allocated.
        CKzVT5InputFile_V02* vt5 = dynamic_cast<CKzVT5InputFile_V02*>(reader);
        if (reader->GetImageAttributes(a) == KZ_OK && vt5 && vt5->CheckFrameChunk(0) == KZ_OK &&
            CKzPicBufAPI::Reinit(picture, a.uiWidth, a.uiHeight, a.uiWidthBytes, a.uiBpcSignificant, a.uiComp,
                                 false) == KZ_OK &&
            picture->pData && picture->uiSize >= (u64)a.uiWidthBytes * a.uiHeight &&
            reader->GetData(0, picture->pData, nullptr, nullptr) == KZ_OK) {
            if (first)
                *first = 0.0;
            if (second)
                *second = 1.0;
            if (metadata)
                reader->GetImageMetadata(0, *metadata, nullptr);
            result = KZ_OK;
        }
    }
    if (reader)
        reader->Release();
    delete format;
    return result;
}
