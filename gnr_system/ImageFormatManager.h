// Image-format registry: the formats of the library by index, identifier and
// file-name extension, and opening a file through the format its name calls
// for. The registry is the process-wide object the class factory hands out
// as "CKzImageFormatManagerImpl".
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/IKzInterface.h"

class IKzImageFormat;
class IKzInputImageFile;
struct SKzPicBuf;
struct SKzPictureMetadata;
struct SKzImageTextInfo;

typedef void (*KzCopyProgressFn)(int, size_t, size_t, void*);

class KZ_EXPORT IKzImageFormatManager : public IKzInterface {
public:
    virtual int RegisterImageFormat(IKzImageFormat* format, u32* index) = 0;
    virtual int LoadAllImageFormats(bool bReload) = 0;
    virtual u32 GetImageFormatCount() = 0;
    virtual int GetImageFormat(u32 index, IKzImageFormat*& format) = 0;
    virtual int GetImageFormatByID(CKzStringA id, IKzImageFormat*& format) = 0;
    virtual int GetImageFormatByFilename(CKzStringW path, IKzImageFormat*& format) = 0;
    virtual int CopyImageFile(const wchar_t* from, const wchar_t* to, int flags, int* cancel,
                              KzCopyProgressFn progress, void* user) = 0;
    virtual int MoveImageFile(const wchar_t* from, const wchar_t* to, int flags, int* cancel,
                              KzCopyProgressFn progress, void* user) = 0;
    virtual int RemoveImageFile(const wchar_t* path, int flags) = 0;
    virtual int GetImageFileSize(const wchar_t* path, size_t* size) = 0;
    // After the operations: the last slot.
    virtual ~IKzImageFormatManager();
};

// Index of a format (a library-private type keeps the identifier map's code
// out of the exported symbols).
struct SKzFormatIndex {
    u32 uiIndex;
};

// Not locked for reading: the first load completes before files are opened on
// other threads. Loading and registering are serialised.
class KZ_EXPORT CKzImageFormatManagerImpl : public IKzImageFormatManager {
public:
    CKzImageFormatManagerImpl();
    ~CKzImageFormatManagerImpl() override;

    // 0; -4 for null; -1513 when the identifier is registered already.
    int RegisterImageFormat(IKzImageFormat* format, u32* index) override;
    // Registers the VT5 format once (again after a clear when bReload).
    int LoadAllImageFormats(bool bReload) override;
    u32 GetImageFormatCount() override;
    int GetImageFormat(u32 index, IKzImageFormat*& format) override;
    int GetImageFormatByID(CKzStringA id, IKzImageFormat*& format) override;
    // By the path's extension (from its last dot, compared without case): -5 when none.
    int GetImageFormatByFilename(CKzStringW path, IKzImageFormat*& format) override;
    // File operations are not offered through the registry: -5.
    int CopyImageFile(const wchar_t* from, const wchar_t* to, int flags, int* cancel, KzCopyProgressFn progress,
                      void* user) override;
    int MoveImageFile(const wchar_t* from, const wchar_t* to, int flags, int* cancel, KzCopyProgressFn progress,
                      void* user) override;
    int RemoveImageFile(const wchar_t* path, int flags) override;
    int GetImageFileSize(const wchar_t* path, size_t* size) override;

    void Clear();

private:
    std::vector<IKzImageFormat*> m_Formats;
    std::map<std::string, SKzFormatIndex> m_IDs;
};

class KZ_EXPORT CKzImageFormatAPI {
public:
    // A reader for path through the registry's format for the path.
    static int CreateInputImageFile(IKzImageFormatManager* registry, const wchar_t* path, IKzInputImageFile*& reader);
};

// Frame 0 of a VT5 file into picture (reshaped to the file's frame), and,
// when metadata is given, the frame's picture metadata. first and second
// receive 0.0 and 1.0. 0 or -9.
KZ_EXPORT int KZ_LoadPictureFromFile(const wchar_t* path, SKzPicBuf* picture, double* first, double* second,
                                     SKzPictureMetadata* metadata, SKzImageTextInfo* textInfo);
