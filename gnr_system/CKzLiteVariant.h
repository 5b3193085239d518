// Lite variants: the compact binary form of a named tree of typed values.
//
// A blob is a sequence of records laid end to end. Each record is
//   type code (1 byte) | n (1 byte) | n UTF-16LE name units, the last one 0 | payload
// with little-endian payloads: 1 bool, 2 int32, 3 uint32, 4 int64, 5 uint64,
// 6 double, 7 pointer, 8 UTF-16 text with its zero unit, 9 uint64 length + bytes,
// 11 level (uint32 child count k, uint64 index offset X, the children, then at X
// an index of k uint64 child offsets in name order, all counted from the level's
// first byte). Code 10 is the older level form whose offsets count from the
// start of the blob; it is converted in place when met. A blob may also be
// stored deflated: "LV0Z", uint64 inflated length, zlib stream.
//
// CKzLiteVariantW writes blobs; CKzLiteVariantR reads them by level and by
// exact name. The reader treats every blob as untrusted: each length, count,
// offset and index entry is checked against the bytes that remain before it
// is used.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/KzTextConv.h"

#include <string>

// Internal members of the exported classes stay out of the dynamic symbol table.
#define KZ_LV_HIDDEN __attribute__((visibility("hidden")))

class CKzStringW;
class CKzVariant;
class CKzLiteVariantR;

// Type codes of lite-variant records.
enum EKzLiteVariantType : unsigned char {
    eKzLVInvalid = 0,
    eKzLVBool = 1,
    eKzLVInt32 = 2,
    eKzLVUInt32 = 3,
    eKzLVInt64 = 4,
    eKzLVUInt64 = 5,
    eKzLVDouble = 6,
    eKzLVPointer = 7,
    eKzLVText = 8,
    eKzLVBytes = 9,
    eKzLVLevelAbsolute = 10,
    eKzLVLevel = 11,
};

// Wide text (UTF-32) to UTF-16: the first len characters, or all of them up to
// the terminator when len is 0. Returns out.
KZ_EXPORT base::string16& GetQORWideStringFromSysString(base::string16& out, const wchar_t* text, int len);
// UTF-16 to wide text: len units, or all units up to the first zero unit when
// len is 0. Returns out.
KZ_EXPORT std::wstring& GetSysWideStringFromQORString(std::wstring& out, const unsigned short* text, int len);

// Converts the absolute-offset level at `offset` of a blob of `size` bytes (and
// every absolute-offset level reachable from it) to the relative form, in
// place. Levels whose offsets do not fit the blob are left unconverted.
// Returns 0, or -9 when the level at offset could not be converted.
KZ_EXPORT int OffsetIndicesToRelative(void* blob, unsigned long size, unsigned long offset);

namespace kzlv {
// UTF-16 units of a wide text, as the form stores them: characters above
// U+FFFF become surrogate pairs, a character that is no Unicode scalar value
// (a lone surrogate, anything above U+10FFFF) becomes U+FFFD.
void WideToUnits(const wchar_t* text, size_t len, std::u16string& out);
// Name units: at most 254 units (never ending inside a surrogate pair), no
// terminator. Returns the unit count.
unsigned NameUnits(const wchar_t* name, unsigned short* out);
// Wide text from `count` little-endian UTF-16 units at p; pairs combine,
// a surrogate without its partner becomes U+FFFD.
void UnitsToWide(const u8* p, size_t count, std::wstring& out);

// Extent of the record at off, which must end by end (exclusive). False when
// it does not fit or its code is invalid; code 10 counts as invalid here (that
// level must be converted first). code receives the record's code.
bool Extent(const u8* p, u64 off, u64 end, u64& extent, u8& code);

inline u16 ld16(const u8* p) { return (u16)(p[0] | (p[1] << 8)); }
inline u32 ld32(const u8* p) { u32 v; __builtin_memcpy(&v, p, 4); return v; }
inline u64 ld64(const u8* p) { u64 v; __builtin_memcpy(&v, p, 8); return v; }
inline void st32(u8* p, u32 v) { __builtin_memcpy(p, &v, 4); }
inline void st64(u8* p, u64 v) { __builtin_memcpy(p, &v, 8); }
} // namespace kzlv

class KZ_EXPORT CKzLiteVariantW {
public:
    CKzLiteVariantW();
    virtual ~CKzLiteVariantW();
    CKzLiteVariantW(const CKzLiteVariantW&) = delete;
    CKzLiteVariantW& operator=(const CKzLiteVariantW&) = delete;

    // Makes room for n more bytes. -3 when the buffer cannot grow; the writer
    // then refuses every further write (its blob would be incomplete).
    int Reserve(unsigned long n);
    // Opens a level record; -9 at the root of a non-empty buffer.
    int LevelBegin(const wchar_t* name);
    // Closes the open level and writes its name-sorted index; -9 when none is open.
    int LevelEnd();
    // Writes one value record of the given code with size payload bytes.
    int Write(unsigned char type, const wchar_t* name, const void* data, unsigned long size);

    int Set(bool v, const wchar_t* name);
    int Set(int v, const wchar_t* name);
    int Set(unsigned int v, const wchar_t* name);
    int Set(long v, const wchar_t* name);
    int Set(unsigned long v, const wchar_t* name);
    int Set(double v, const wchar_t* name);
    int Set(void* v, const wchar_t* name);
    // Text record; -9 and nothing written for a null text.
    int Set(const wchar_t* text, const wchar_t* name);
    int Set(const void* data, const unsigned long& size, const wchar_t* name);
    int Set(const CKzByteArray& bytes, const wchar_t* name);
    // Writes a whole variant tree; a null name stands for the variant's own name.
    int Set(const CKzVariant& v, const wchar_t* name);

    // Copies the record at r's cursor unchanged; -9 for a missing or invalid record.
    int Append(const CKzLiteVariantR& r);
    // Closes the open levels and hands the blob to r; the writer is empty again.
    // Returns the address of r's bytes (null when the writer failed to grow:
    // r is then left empty rather than given an incomplete blob).
    const void* Finalize(CKzLiteVariantR& r);

    // Name order of two records (pointers to their first bytes).
    static int CompareItems(const void* a, const void* b);

    // Bytes written so far and the current capacity.
    unsigned long GetUsed() const { return m_uiUsed; }
    unsigned long GetCapacity() const { return m_uiCapacity; }
    // True once a growth failed.
    bool HasFailed() const { return m_bFailed; }

private:
    struct SLevel {
        u64* pChildOffsets;
        u64 uiOffset;
        u32 uiCount;
        u32 uiCapacity;
    };

    KZ_LV_HIDDEN int addChild(u64 recordOffset);
    KZ_LV_HIDDEN int writeHeader(unsigned char type, const unsigned short* name, unsigned n);
    KZ_LV_HIDDEN int setVariant(const CKzVariant& v, const wchar_t* name, int depth);
    KZ_LV_HIDDEN void releaseStack();

    u8* m_pBuffer;
    u64 m_uiCapacity;
    u64 m_uiUsed;
    i32 m_iLevel;
    u32 m_uiStackCapacity;
    SLevel* m_pStack;
    bool m_bFailed;
};

class KZ_EXPORT CKzLiteVariantR : public virtual CKzByteArray {
public:
    CKzLiteVariantR();
    CKzLiteVariantR(const CKzLiteVariantR& other);
    virtual ~CKzLiteVariantR();
    CKzLiteVariantR& operator=(const CKzLiteVariantR& other);

    // Life and position.
    int Clear();
    int Reset();
    // Takes ownership of data (a CKzAlloc block) as the blob.
    int SetPointer(void* data, unsigned long size, unsigned long allocated);
    int FirstValue();
    bool IsNextValue();
    int NextValue();
    int GetCurrentType();
    // out must hold size + 1 wide characters.
    int GetCurrentName(wchar_t* out, unsigned int size);
    int CurrentLevelBegin(unsigned int* count = nullptr);
    int LevelBegin(const wchar_t* name, unsigned int* count = nullptr);
    int LevelEnd();
    int Find(const wchar_t* name, unsigned long& offset);
    bool IsValueSet(const wchar_t* name);
    // Inflates a "LV0Z" blob. -9 (and an empty blob) when the stream is damaged
    // or announces an absurd size.
    int Decompress();
    int ConvertLV31toLV32();
    // Depth of entered levels (0 at the root).
    int GetLevelDepth() const { return m_iLevel + 1; }

    // Reading by name.
    int Read(unsigned char code, const wchar_t* name, void* out, unsigned long size);
    bool Get(const wchar_t* name, bool def);
    int Get(const wchar_t* name, int def);
    unsigned int Get(const wchar_t* name, unsigned int def);
    long Get(const wchar_t* name, long def);
    unsigned long Get(const wchar_t* name, unsigned long def);
    double Get(const wchar_t* name, double def);
    void* Get(const wchar_t* name, void* def);
    const unsigned short* Get(const wchar_t* name, const unsigned short* def);
    const wchar_t* Get(const wchar_t* name, const wchar_t* def);
    CKzStringW& GetCKzStringW(CKzStringW& out, const wchar_t* name, const wchar_t* def);
    int Get(const wchar_t* name, void* out, unsigned long size);
    int Get(const wchar_t* name, CKzByteArray& out);
    const void* Get(const wchar_t* name, unsigned long* size);
    int Get(const wchar_t* name, CKzVariant& v);

    // Reading at the cursor (the cursor does not move).
    bool GetCurrentValue(bool def);
    int GetCurrentValue(int def);
    unsigned int GetCurrentValue(unsigned int def);
    long GetCurrentValue(long def);
    unsigned long GetCurrentValue(unsigned long def);
    double GetCurrentValue(double def);
    void* GetCurrentValue(void* def);
    const unsigned short* GetCurrentValue(const unsigned short* def);
    const wchar_t* GetCurrentValue(const wchar_t* def);
    CKzStringW& GetCurrentValueCKzStringW(CKzStringW& out, const wchar_t* def);
    int GetCurrentValue(CKzByteArray& out);
    int GetCurrentValue(void* out, unsigned long size);
    const void* GetCurrentValue(unsigned long* size);
    int ReadCurrentValue(void* out, unsigned long size);
    // Rebuilds a variant tree from the record at the cursor.
    int GetCurrentValue(CKzVariant& v);

    // Whole records.
    int ExtractCurrent(CKzLiteVariantR& target);
    int Extract(const wchar_t* name, CKzLiteVariantR& target);
    int Merge(CKzLiteVariantR& other);
    static int MergeLevel(CKzLiteVariantW& writer, CKzLiteVariantR& a, CKzLiteVariantR& b);
    int LiteVariantToXML(CKzStringW& out);
    int LiteVariantFromXML(CKzStringW& text);
    int Trace();

    // Deepest nesting the tree rebuild, the merge and the tag text follow.
    static constexpr int MAX_DEPTH = 256;

private:
    friend class CKzLiteVariantW;

    struct SLevel {
        u64 uiOffset;   // the level's first byte
        u64 uiFirst;    // its first child (absolute)
        u64 uiIndex;    // its index table (absolute); children end here
        u32 uiCount;    // child count
    };

    KZ_LV_HIDDEN const u8* blob() const { return GetData(); }
    KZ_LV_HIDDEN u64 blobSize() const { return GetSize(); }
    KZ_LV_HIDDEN u64 cursor() const { return GetCurrentOffset(); }
    KZ_LV_HIDDEN void setCursor(u64 off) { SetCurrentOffset(off); }
    KZ_LV_HIDDEN u64 levelEnd() const;
    KZ_LV_HIDDEN void releaseStack();
    KZ_LV_HIDDEN void maybeDecompress();
    // Converts an absolute-offset level at off to the relative form.
    KZ_LV_HIDDEN void convertAt(u64 off);
    // Extent of the record at off that must end by end; false when invalid.
    // Converts an absolute-offset level first.
    KZ_LV_HIDDEN bool extentAt(u64 off, u64 end, u64& extent);
    KZ_LV_HIDDEN bool headerAt(u64 off, u64 end, u8& code, u32& n) const;
    // Payload of the record at the cursor: offset and available bytes; false when invalid.
    // The record at the cursor, when valid and of one of the two codes: its
    // payload offset and its extent.
    KZ_LV_HIDDEN bool currentPayload(u8 wantCode1, u8 wantCode2, u64& payload, u64& extent);
    KZ_LV_HIDDEN bool currentText(std::wstring& out);
    KZ_LV_HIDDEN int rebuild(CKzVariant& v, int depth);
    KZ_LV_HIDDEN int toXML(CKzStringW& out, int depth);
    KZ_LV_HIDDEN static int mergeLevel(CKzLiteVariantW& writer, CKzLiteVariantR& a, CKzLiteVariantR& b, int depth);
    // Writes the value record at the cursor under name; -9 for an invalid record.
    KZ_LV_HIDDEN int copyValue(CKzLiteVariantW& writer, const wchar_t* name);

    i32 m_iLevel;
    u32 m_uiStackCapacity;
    SLevel* m_pStack;
    std::wstring m_text;
};
