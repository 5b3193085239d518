// Basic types, export macros, result codes and the failure diagnostic shared by the whole library.
#pragma once

#include <cstddef>
#include <cstdint>

// Symbols are hidden by default; what hosts may call is marked with these.
#define KZ_EXPORT __attribute__((visibility("default")))
#define KZ_CAPI extern "C" KZ_EXPORT

typedef int32_t kz_int32;
typedef uint32_t kz_uint32;
typedef int64_t kz_int64;
typedef uint64_t kz_uint64;

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int8_t i8;
typedef int16_t i16;
typedef int32_t i32;
typedef int64_t i64;

// Every operation reports one of these plain int codes.
typedef int kz_result;

#define KZ_OK 0
#define KZ_FAIL (-1)
#define KZ_ERR_NOT_SUPPORTED (-2)
#define KZ_ERR_OUT_OF_MEMORY (-3)
#define KZ_ERR_INVALID_ARG (-4)
#define KZ_ERR_NO_FORMAT (-5)
#define KZ_ERR_INDEX (-6)
#define KZ_ERR_TRUNCATED (-8)
#define KZ_ERR_FAILED (-9)
#define KZ_ERR_NOT_FOUND (-13)
#define KZ_ERR_TOO_MANY (-17)
#define KZ_ERR_AMBIGUOUS (-100)
#define KZ_ERR_FEATURE (-1506)
#define KZ_ERR_FORMAT_EXISTS (-1513)

// Codes of the KZ_ file functions.
#define KZ_ERR_FILE_OPEN (-1000)
#define KZ_ERR_FILE_CLOSE (-1001)
#define KZ_ERR_FILE_READ (-1002)
#define KZ_ERR_FILE_WRITE (-1003)
#define KZ_ERR_FILE_SEEK (-1004)
#define KZ_ERR_FILE_SETEOF (-1009)
#define KZ_ERR_FILE_SIZE (-1012)
#define KZ_ERR_FILE_MKDIR (-1014)
#define KZ_ERR_FILE_TEMPNAME (-1023)

#define KZ_SUCCEEDED(r) ((r) >= 0)
#define KZ_FAILED(r) ((r) < 0)

// Non-fatal internal check: prints "\nFailure! File: <file>, line: <line>\n" to
// standard output and lets execution go on. Callers pass the source path and
// line the diagnostic is documented with, so the text is stable across edits.
void KZ_PrintFailure(const char* file, int line);
