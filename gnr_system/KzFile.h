// File functions: the library's only road to the file system for its own
// files, exported with C linkage for hosts too. Paths are zero-terminated wide
// strings and reach the system as UTF-8, whatever the current locale. Every
// function returns 0 on success or a negative KZ_ERR_FILE_* (or other) code;
// none prints or throws.
#pragma once

#include "gnr_system/kz_base.h"

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <sys/types.h>

// Asynchronous I/O descriptor of the write interface; accepted and not used.
typedef struct _KzIOASYNCINFO _KzIOASYNCINFO;

// Opens `path` and stores the stream (null on failure) in *file. Mode by flags:
// bit 4 (0x10): create or truncate ("w+b" with bit 0, else "wb");
// else bit 2 (4): read/write, a missing file is created, an existing one keeps
// its contents; else: read/write of an existing file. Other bits are ignored, and
// so are the third and fourth arguments. KZ_ERR_FILE_OPEN on failure.
KZ_CAPI int KZ_OpenFile(const wchar_t* path, unsigned int flags, unsigned int, unsigned int, FILE** file);
// Closes the stream (gone either way); KZ_ERR_FILE_CLOSE when closing reports an error.
KZ_CAPI int KZ_CloseFile(FILE* file);
// Reads up to `length` bytes; *count (when not null) receives the number read.
// KZ_ERR_FILE_READ unless exactly `length` bytes were read.
KZ_CAPI int KZ_ReadFile(FILE* file, void* buffer, size_t length, uint64_t* count);
// Writes `length` bytes and flushes; *count (when not null) receives the number
// written. KZ_ERR_FILE_WRITE unless all bytes were written and flushed.
KZ_CAPI int KZ_WriteFile(FILE* file, const void* data, size_t length, uint64_t* count, _KzIOASYNCINFO* async);
// Origin 0 from the start, 2 from the end, anything else from the current
// position; flushes after a successful seek. KZ_ERR_FILE_SEEK on failure.
KZ_CAPI int KZ_SeekFile(FILE* file, int64_t offset, int origin);
// The current 64-bit position; KZ_ERR_FILE_SEEK when it cannot be told.
KZ_CAPI int KZ_FilePosition(FILE* file, uint64_t* position);
// Truncates the file at the stream's current position; KZ_ERR_FILE_SETEOF on failure.
KZ_CAPI int KZ_SetEOF(FILE* file);
// Size of the open file (*size unchanged on failure, KZ_ERR_FILE_SIZE).
KZ_CAPI int KZ_GetFileSize(FILE* file, uint64_t* size);
// Size of the named file (*size unchanged on failure, KZ_ERR_FILE_SIZE).
KZ_CAPI int KZ_GetFileSizeFromName(const wchar_t* path, uint64_t* size);
// Mode bit 0 read, bit 1 write, bit 2 execute permission; 0 tests existence.
// KZ_ERR_FILE_READ when the test fails.
KZ_CAPI int KZ_AccessFile(const wchar_t* path, unsigned int mode);
// Unlinks the file; a failure gives KZ_ERR_FILE_READ when `report` is non-zero, else 0.
KZ_CAPI int KZ_RemoveFile(const wchar_t* path, int report);
// Creates the directory with `mode`; with `recursive` non-zero its missing
// parents too (existing ones are fine). KZ_ERR_FILE_MKDIR on failure.
KZ_CAPI int KZ_CreateDirectory(const wchar_t* path, int recursive, mode_t mode);
// Copies "/tmp/" into buffer, at most `length` characters (a shorter buffer is
// not terminated, as with a bounded wide copy).
KZ_CAPI int KZ_GetTempPath(wchar_t* buffer, unsigned int length);
// A fresh temporary file name in `directory` (or the system's temporary
// directory when that is unusable) beginning with `prefix`, stored terminated
// in buffer. With `create` non-zero the file is created atomically (a name no
// other process can take over). KZ_ERR_FILE_TEMPNAME when no name can be made
// or it does not fit `length` characters with its terminator.
KZ_CAPI int KZ_GetTempFileName(const wchar_t* directory, const wchar_t* prefix, int create, wchar_t* buffer,
                               unsigned int length);
// Copies a file byte for byte onto a destination that must not exist; KZ_FAIL on failure.
KZ_CAPI int KZ_CopyFile(const wchar_t* source, const wchar_t* destination);
// Not supported: moves nothing and returns KZ_ERR_FAILED.
KZ_CAPI int KZ_MoveFile(const wchar_t* source, const wchar_t* destination);
