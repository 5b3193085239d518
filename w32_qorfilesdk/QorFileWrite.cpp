// Writing through the C interface: write handles made from nothing or from an
// open file's description, frames appended one by one with their binary
// layers, the description written with the first frame.
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_system/ImageFormatManager.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/CKzBinaryMetadata.h"
#include "w32_qorfilesdk/KzQorConversions.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"
#include "w32_qorfilesdk/internal/KzQorHandleInternal.h"
#include "w32_qorfilesdk/internal/QorFileWriteTarget.h"

namespace {

// Bytes of one stored sample: the writer keeps whole bytes per sample.
u32 StoredSampleBytes(u32 bits) { return (bits + 7) / 8; }

// The frame layout the writer stores: its attributes as it normalises them
// before writing a frame (depth to whole bytes, stride at least the row).
struct FrameLayout {
    u32 width = 0, height = 0, comp = 0, sample = 0;
    u64 row = 0;
    u64 stride = 0;
};

FrameLayout LayoutOf(const SKzImageAttributes& a)
{
    FrameLayout l;
    l.width = a.uiWidth;
    l.height = a.uiHeight;
    l.comp = a.uiComp;
    l.sample = StoredSampleBytes(a.uiBpcInMemory);
    // A row beyond 32 bits fits no frame: such a layout takes no picture.
    const unsigned __int128 row = (unsigned __int128)a.uiWidth * a.uiComp * l.sample;
    if (row > UINT_MAX) {
        l.stride = 0;
        return l;
    }
    l.row = (u64)row;
    l.stride = a.uiWidthBytes < l.row ? l.row : a.uiWidthBytes;
    return l;
}

// The layout frames of this handle are written with: what its writer
// accepted last, else the handle's own attributes.
FrameLayout HandleLayout(const SKzQorFileHandle& rec, CKzQorOutputTarget* target)
{
    SKzImageAttributes a;
    if (target && target->GetFrameGeometry(a))
        return LayoutOf(a);
    return LayoutOf(rec.m_Attributes);
}

// Checks a host picture against the stored layout before a byte of it is
// read; on success `data` points to the frame in the stored row layout
// (the picture itself, or its rows repacked into the writer's scratch block).
int PrepareFrame(const QORPICTURE& pic, const FrameLayout& l, CKzQorOutputTarget* target, void*& data)
{
    data = nullptr;
    if (!pic.pData || !l.width || !l.height || !l.comp || !l.sample || l.stride == 0)
        return KZ_ERR_FAILED;
    if (pic.uiWidth != l.width || pic.uiHeight != l.height || pic.uiComp != l.comp ||
        CKzPicBufAPI::CalcCompSize(pic.uiBpc) != l.sample)
        return KZ_ERR_FAILED;
    if (pic.uiWidthBytes < l.row || pic.uiSize / l.height < pic.uiWidthBytes)
        return KZ_ERR_FAILED;
    if (l.stride > UINT_MAX || l.stride * l.height > UINT_MAX)
        return KZ_ERR_FAILED;
    if (pic.uiWidthBytes == l.stride) {
        data = pic.pData;
        return KZ_OK;
    }
    if (!target)
        return KZ_ERR_FAILED;
    const size_t total = (size_t)(l.stride * l.height);
    unsigned char* const base = static_cast<unsigned char*>(target->RepackBuffer(total));
    if (!base)
        return KZ_ERR_OUT_OF_MEMORY;
    unsigned char* out = base;
    const unsigned char* in = static_cast<const unsigned char*>(pic.pData);
    const size_t row = (size_t)l.row, pad = (size_t)(l.stride - l.row);
    for (u32 y = 0; y < l.height; ++y) {
        std::memcpy(out, in, row);
        if (pad)
            std::memset(out + row, 0, pad);
        out += l.stride;
        in += pic.uiWidthBytes;
    }
    data = base;
    return KZ_OK;
}

// A handle whose geometry is incomplete takes the missing parts from its
// first picture. True when something was taken.
bool CompleteGeometry(SKzImageAttributes& a, const QORPICTURE& pic)
{
    bool taken = false;
    if (a.uiComp == 0 && pic.uiComp != 0) {
        a.uiComp = pic.uiComp;
        taken = true;
    }
    if (a.uiWidth == 0 && pic.uiWidth != 0) {
        a.uiWidth = pic.uiWidth;
        taken = true;
    }
    if (a.uiHeight == 0 && pic.uiHeight != 0) {
        a.uiHeight = pic.uiHeight;
        taken = true;
    }
    if (pic.uiBpc != 0 && pic.uiBpc <= 255) {
        if (a.uiBpcInMemory == 0) {
            a.uiBpcInMemory = (u8)pic.uiBpc;
            taken = true;
        }
        if (a.uiBpcSignificant == 0) {
            a.uiBpcSignificant = (u8)pic.uiBpc;
            taken = true;
        }
    }
    if (taken) {
        a.uiWidthBytes = CKzPicBufAPI::CalcWidthBytes(a.uiWidth, a.uiBpcInMemory, a.uiComp, 4);
        a.uiTileWidth = 0;
        a.uiTileHeight = 0;
    }
    return taken;
}

// Everything the first frame stores besides its samples.
void WriteDescription(SKzQorFileHandle& rec, IKzOutputImageFile& w)
{
    w.SetImageAttributes(rec.m_Attributes);
    if (rec.m_pMetadata)
        w.SetImageMetadata(0, *rec.m_pMetadata, nullptr);
    if (rec.m_pExperiment)
        w.SetImageMetadata(*rec.m_pExperiment, nullptr);
    w.SetImageTextInfo(rec.m_TextInfo);
    if (rec.m_pBinaryMetadata)
        rec.m_pBinaryMetadata->SaveToOutputFile(&w);
}

// The writer of a new write handle for `path`; 0 when it cannot be made.
int OpenWriter(const wchar_t* path, IKzOutputImageFile*& writer)
{
    writer = nullptr;
    if (!path || !*path)
        return KZ_ERR_INVALID_ARG;
    IKzImageFormatManager* manager = SKzQorFileHandle::InitFormatManager();
    if (!manager)
        return KZ_ERR_FAILED;
    IKzImageFormat* format = nullptr;
    int r = manager->GetImageFormatByFilename(CKzStringW(path), format);
    if (r != KZ_OK || !format)
        return r != KZ_OK ? r : KZ_ERR_NO_FORMAT;
    r = CKzQorOutputTarget::Open(*format, path, writer);
    format->Release();
    return r;
}

// Files a write handle; on failure the new file is dropped and the old one
// (if any) left as it was.
int FileWriteHandle(SKzQorFileHandle& rec)
{
    int handle = 0;
    try {
        handle = SKzQorFileHandle::Append(rec);
    } catch (...) {
        handle = 0;
    }
    if (handle == 0 && rec.m_pOutputFile) {
        if (CKzQorOutputTarget* target = CKzQorOutputTarget::From(rec.m_pOutputFile))
            target->Abandon();
        rec.m_pOutputFile->Release();
        rec.m_pOutputFile = nullptr;
    }
    return handle;
}

void ReleaseUnfiled(SKzQorFileHandle& rec)
{
    if (rec.m_pOutputFile) {
        if (CKzQorOutputTarget* target = CKzQorOutputTarget::From(rec.m_pOutputFile))
            target->Abandon();
        rec.m_pOutputFile->Release();
        rec.m_pOutputFile = nullptr;
    }
    delete rec.m_pMetadata;
    rec.m_pMetadata = nullptr;
    SKzExperiment::FreeRecursive(rec.m_pExperiment);
    rec.m_pExperiment = nullptr;
}

// The caller's description as the frame metadata of a file of `components`
// components: its planes replace the old ones, however many there were. A
// description whose planes do not add up to the file's components cannot be
// taken (a reader would replace its planes by default ones); `md` is then
// left as it was.
int TakeDescription(const QORMETADATA_DESC& d, u32 components, SKzPictureMetadata& md)
{
    if (d.uiPlaneCount == 0 || d.uiPlaneCount > QOR_MAX_PLANES)
        return KZ_ERR_FAILED;
    if (d.uiCompCount != 0 && d.uiCompCount != components)
        return KZ_ERR_FAILED;
    u64 sum = 0;
    for (u32 i = 0; i < d.uiPlaneCount; ++i) {
        if (d.sPlanes[i].uiCompCount == 0)
            return KZ_ERR_FAILED;
        sum += d.sPlanes[i].uiCompCount;
    }
    if (sum != components)
        return KZ_ERR_FAILED;
    if (const int r = QorApiSupport_MetadataDesc_ApiToQor(d, md); r != KZ_OK)
        return r;
    md.sPicturePlanes.uiCompCount = components;
    return KZ_OK;
}

}  // namespace

int Qor_FileOpenForWrite(const wchar_t* path)
{
    try {
        SKzQorFileHandle rec;
        IKzOutputImageFile* writer = nullptr;
        if (OpenWriter(path, writer) != KZ_OK)
            return 0;
        rec.m_pOutputFile = writer;
        return FileWriteHandle(rec);
    } catch (...) {
        return 0;
    }
}

QORFILEHANDLE Qor_FileCreateModifiedFile(const wchar_t* path, QORFILEHANDLE source, const QORATTRIBUTES* attributes,
                                         const QORMETADATA_DESC* description, const QORBINARIES* binaries,
                                         const QORFILECUSTOMDATASET* customData)
{
    try {
        // The source is held while its description is copied, and let go
        // before the new handle is used.
        std::optional<kzqor::HandleUse> useSource(std::in_place, source);
        SKzQorFileHandle* src = nullptr;
        if (!SKzQorFileHandle::GetInputFile(source, &src) || !src)
            return 0;
        if (attributes) {
            if (attributes->uiComp != src->m_Attributes.uiComp ||
                attributes->uiSequenceCount != src->m_Attributes.uiSequenceCount)
                return 0;
            // Depths are held in 8 bits.
            if (attributes->uiBpcInMemory > 255 || attributes->uiBpcSignificant > 255)
                return 0;
        }
        // The frame metadata of the new file: the source's, replaced by the
        // caller's description taken whole, before anything is created.
        std::unique_ptr<SKzPictureMetadata> metadata;
        if (src->m_pMetadata || description) {
            metadata.reset(new (std::nothrow) SKzPictureMetadata());
            if (!metadata)
                return 0;
            if (src->m_pMetadata)
                SKzPictureMetadata::Copy(*metadata, *src->m_pMetadata);
        }
        if (description && TakeDescription(*description, src->m_Attributes.uiComp, *metadata) != KZ_OK)
            return 0;
        SKzQorFileHandle rec;
        if (OpenWriter(path, rec.m_pOutputFile) != KZ_OK)
            return 0;
        rec.m_pMetadata = metadata.release();
        if (src->m_pExperiment) {
            if (SKzExperiment::Alloc(&rec.m_pExperiment) != KZ_OK ||
                SKzExperiment::CopyRecursive(rec.m_pExperiment, *src->m_pExperiment, true) != KZ_OK) {
                ReleaseUnfiled(rec);
                return 0;
            }
        }
        rec.m_Attributes = src->m_Attributes;
        rec.m_TextInfo = src->m_TextInfo;
        if (attributes) {
            SKzImageAttributes& a = rec.m_Attributes;
            a.uiWidth = attributes->uiWidth;
            a.uiHeight = attributes->uiHeight;
            a.uiBpcInMemory = (u8)attributes->uiBpcInMemory;
            a.uiBpcSignificant = (u8)attributes->uiBpcSignificant;
            a.uiTileWidth = 0;
            a.uiTileHeight = 0;
            a.uiWidthBytes = CKzPicBufAPI::CalcWidthBytes(a.uiWidth, a.uiBpcInMemory, a.uiComp, 4);
        }
        if (!customData)
            rec.m_aCustomDataMap = src->m_aCustomDataMap;
        src = nullptr;
        useSource.reset();
        const int handle = FileWriteHandle(rec);
        if (handle == 0) {
            ReleaseUnfiled(rec);
            return 0;
        }
        if (binaries)
            SKzQorFileHandle::FileSetBinaryDescriptors(handle, binaries);
        if (customData)
            SKzQorFileHandle::FileSetCustomData(handle, customData);
        return handle;
    } catch (...) {
        return 0;
    }
}

QORRESULT Qor_FileModifyAttributes(QORFILEHANDLE handle, uint32_t width, uint32_t height, uint32_t bits,
                                   uint32_t significant)
{
    kzqor::HandleUse use(handle);
    SKzQorFileHandle* rec = nullptr;
    if (!SKzQorFileHandle::GetOutputFile(handle, &rec) || !rec)
        return KZ_ERR_FAILED;
    if (bits > 255 || significant > 255)
        return KZ_ERR_INVALID_ARG;
    SKzImageAttributes& a = rec->m_Attributes;
    a.uiWidth = width;
    a.uiHeight = height;
    a.uiBpcInMemory = (u8)bits;
    a.uiBpcSignificant = (u8)significant;
    a.uiTileWidth = 0;
    a.uiTileHeight = 0;
    a.uiWidthBytes = CKzPicBufAPI::CalcWidthBytes(width, bits, a.uiComp, 4);
    return KZ_OK;
}

kz_result SKzQorFileHandle::FileSetAttributes(int handle, _QORATTRIBUTES* attributes)
{
    try {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* rec = nullptr;
        IKzOutputImageFile* writer = GetOutputFile(handle, &rec);
        if (!writer || !rec)
            return KZ_ERR_NOT_FOUND;
        if (!attributes)
            return KZ_OK;
        if (attributes->uiBpcInMemory > 255 || attributes->uiBpcSignificant > 255)
            return KZ_ERR_INVALID_ARG;
        SKzImageAttributes a;
        std::memset(&a, 0, sizeof(a));
        ::ConvertSetAttributes(a, *attributes);
        // Frames already stored stay counted.
        if (a.uiSequenceCount < rec->m_uiFrameCount)
            a.uiSequenceCount = rec->m_uiFrameCount;
        const int r = writer->SetImageAttributes(a);
        if (r == KZ_OK)
            rec->m_Attributes = a;
        return r;
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

namespace {

// Rewrites a write handle's frame metadata from a host record through
// `convert`; a handle without metadata gets a default record that takes the
// description whole.
template <class Record, class Convert>
int SetMetadataFrom(int handle, const Record* record, Convert convert)
{
    try {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* rec = nullptr;
        if (!SKzQorFileHandle::GetOutputFile(handle, &rec) || !rec)
            return KZ_ERR_NOT_FOUND;
        if (!record)
            return KZ_ERR_INVALID_ARG;
        if (record->uiPlaneCount > QOR_MAX_PLANES)
            return KZ_ERR_FAILED;
        if (rec->m_pMetadata) {
            if (record->uiPlaneCount != rec->m_pMetadata->sPicturePlanes.uiCount)
                return KZ_ERR_FAILED;
            return convert(*record, *rec->m_pMetadata);
        }
        SKzPictureMetadata* md = new (std::nothrow) SKzPictureMetadata();
        if (!md)
            return KZ_ERR_OUT_OF_MEMORY;
        const int r = convert(*record, *md);
        if (r != KZ_OK) {
            delete md;
            return r;
        }
        rec->m_pMetadata = md;
        return KZ_OK;
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

}  // namespace

int FileSetMetadataDesc(int handle, const _QORMETADATA_DESC* description)
{
    return SetMetadataFrom(handle, description, [](const _QORMETADATA_DESC& d, SKzPictureMetadata& md) {
        return QorApiSupport_MetadataDesc_ApiToQor(d, md);
    });
}

kz_result SKzQorFileHandle::FileSetMetadata(int handle, _QORMETADATA* metadata)
{
    return SetMetadataFrom(handle, metadata, [](const _QORMETADATA& d, SKzPictureMetadata& md) {
        return QorApiSupport_Metadata_ApiToQor(d, md);
    });
}

QORRESULT Qor_FileAppendImageData(QORFILEHANDLE handle, const QORPICTURE* picture, const QORPICTURE* layers)
{
    try {
        kzqor::HandleUse use(handle);
        SKzQorFileHandle* rec = nullptr;
        IKzOutputImageFile* writer = SKzQorFileHandle::GetOutputFile(handle, &rec);
        if (!writer || !rec)
            return KZ_ERR_NOT_FOUND;
        // The last index a frame can have is one below the largest count.
        if (rec->m_uiFrameCount == UINT_MAX)
            return KZ_ERR_FAILED;
        const u32 frame = rec->m_uiFrameCount;
        CKzQorOutputTarget* target = CKzQorOutputTarget::From(writer);
        if (picture && CompleteGeometry(rec->m_Attributes, *picture) && frame != 0)
            writer->SetImageAttributes(rec->m_Attributes);

        if (frame == 0)
            WriteDescription(*rec, *writer);

        void* data = nullptr;
        int check = KZ_OK;
        if (picture)
            check = PrepareFrame(*picture, HandleLayout(*rec, target), target, data);
        // A refused frame stores no layers.
        if (check == KZ_OK && layers && rec->m_pBinaryMetadata) {
            const u32 count = rec->m_pBinaryMetadata->GetItemCount();
            for (u32 i = 0; i < count; ++i)
                if (layers[i].pData)
                    SKzQorFileHandle::FileSetBinary(handle, frame, i, &layers[i]);
        }
        ++rec->m_uiFrameCount;
        if (!picture)
            return KZ_OK;
        if (check != KZ_OK)
            return check;
        return writer->FlushData(frame, data, nullptr, nullptr);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}
