// Byte stream under the chunk container: a stdio file or a caller's byte array.
#pragma once

#include <cstddef>
#include <cstdio>

#include "gnr_system/KzFile.h"
#include "gnr_system/kz_base.h"

class CKzByteArray;

// Private helpers of exported classes stay out of the library's symbol table.
#ifndef KZ_HIDDEN
#define KZ_HIDDEN __attribute__((visibility("hidden")))
#endif

// Opens, reads, writes, seeks and truncates one file (file backing) or one
// caller-owned byte array (memory backing). A copy shares the stream of the
// wrapper it was made from: exactly one of the copies may be finalized.
class KZ_EXPORT CKzFileMemoWrapper {
public:
    enum { ePathCapacity = 4096 };

    CKzFileMemoWrapper();
    CKzFileMemoWrapper(const CKzFileMemoWrapper& other);
    CKzFileMemoWrapper& operator=(const CKzFileMemoWrapper& other);
    ~CKzFileMemoWrapper();

    // File backing. Read-only opens an existing file; writable opens an
    // existing file (bExisting) or opens/creates one. -4 for a null path or
    // one that does not fit the path member, -9 when opening fails.
    int Initialize(const wchar_t* path, bool bReadOnly, bool bExisting);
    // Memory backing over data (not owned); the position starts at 0.
    int Initialize(CKzByteArray& data, bool bReadOnly, bool bExisting);
    // Closes the stream (-9 when closing reports an error) or forgets the array.
    int Finalize();

    const wchar_t* GetFileName() const { return m_wsPath; }
    bool GetReadOnly() const { return m_bReadOnly; }

    int ReadFile(void* buffer, size_t length, size_t* count, _KzIOASYNCINFO* async);
    int WriteFile(const void* data, size_t length, size_t* count, _KzIOASYNCINFO* async);
    int SeekFile(long offset, unsigned int origin);
    int FilePosition(size_t* position);
    int SetEOF();

    // True while a stream (file backing) or an array (memory backing) is attached.
    bool IsOpen() const;
    bool IsMemory() const { return !m_bFile; }
    // The array of the memory backing, or null.
    CKzByteArray* GetArray() const { return m_pData; }
    // Current size of the file or array.
    int GetSize(u64* size);
    // Positioned read of headLength bytes into head followed by bodyLength bytes
    // into body, starting at offset, in one system call where possible; the
    // position of the stream is not changed. *count receives the bytes read;
    // 0 when all arrived, -9 when fewer did, -4 for bad arguments.
    int ReadAt(u64 offset, void* head, size_t headLength, void* body, size_t bodyLength, size_t* count);

private:
    KZ_HIDDEN int openRead(const wchar_t* path);
    KZ_HIDDEN int openWrite(const wchar_t* path, bool bExisting);

    bool m_bFile;
    wchar_t m_wsPath[ePathCapacity];
    FILE* m_pFile;
    CKzByteArray* m_pData;
    bool m_bReadOnly;
};

namespace vt5_wrapper_detail {
// The write primitive of the file backing; tests replace it to simulate a
// system that writes nothing of a large block at the first attempt.
typedef int (*WriteFn)(FILE* file, const void* data, size_t length, uint64_t* count, _KzIOASYNCINFO* async);
extern WriteFn g_pfnWrite;
// Largest piece a large write falls back to when nothing of it could be written at once.
constexpr size_t kWritePiece = 0x2000000;
// Largest piece of one stdio read.
constexpr size_t kReadPiece = 0xFFFFFFFFu;
} // namespace vt5_wrapper_detail
