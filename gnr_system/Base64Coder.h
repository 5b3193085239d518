// Base-64 coder (RFC 4648 alphabet, '=' padding, no line breaks). The coder
// keeps two buffers between calls: after Encode the text is in the encoded
// buffer, after a decode the bytes are in the decoded buffer; EncodedBuffer and
// DecodedBuffer hand out pointers valid until the coder's next call.
#pragma once

#include "gnr_system/kz_base.h"

#include <array>
#include <cwchar>

class CKzStringA;

class KZ_EXPORT Base64Coder {
public:
    // The unit of one coding step: up to four values and how many are meaningful.
    struct TempBucket {
        unsigned char nData[4];
        unsigned char nSize;
    };

    Base64Coder();
    virtual ~Base64Coder();
    Base64Coder(const Base64Coder&) = delete;
    Base64Coder& operator=(const Base64Coder&) = delete;

    // n bytes become 4 * ceil(n / 3) characters, followed by a terminating zero
    // in the buffer. False (and both buffers empty) when the text would not fit
    // 32-bit lengths or memory runs out.
    virtual bool Encode(const unsigned char* data, unsigned n);
    // Blanks and line-control characters are skipped; text without padding is
    // accepted. Characters outside the alphabet are not reported. False only
    // when memory runs out (or a null text is given a length).
    virtual bool DecodeA(const CKzStringA& text);
    virtual bool DecodeA(const unsigned char* text, unsigned n);
    // Up to the terminator; each character counts by its low byte.
    virtual bool DecodeW(const wchar_t* text);
    // The buffer (null while nothing was ever allocated) and its length through a non-null pointer.
    virtual unsigned char* DecodedBuffer(unsigned* length);
    virtual char* EncodedBuffer(unsigned* length);

    // Buffer management: a buffer below n bytes is replaced by one of
    // (n rounded down to 4096) + 4096 bytes; then it is zeroed and emptied.
    virtual bool AllocEncode(unsigned n);
    virtual bool AllocDecode(unsigned n);
    // The text without its blanks and line-control characters.
    virtual bool SetEncodeBufferA(const unsigned char* text, unsigned n);
    virtual bool SetEncodeBufferW(const wchar_t* text, unsigned n);
    virtual bool SetDecodeBuffer(const unsigned char* data, unsigned n);

protected:
    virtual bool _DecodeA(const unsigned char* text, unsigned n);
    virtual bool _DecodeW(const wchar_t* text, unsigned n);
    // Four alphabet characters, "=" or "==" for a bucket of 2 or 1 bytes; returns the bucket's count.
    virtual unsigned _EncodeToBuffer(const TempBucket& bucket, unsigned char* out);
    // Three bytes; returns how many of them are not 255.
    virtual unsigned _DecodeToBuffer(const TempBucket& bucket, unsigned char* out);
    virtual void _EncodeRaw(TempBucket& out, const TempBucket& in);
    virtual void _DecodeRaw(TempBucket& out, const TempBucket& in);
    // Bell, backspace, tab, line feed, vertical tab, form feed, carriage return and blank.
    virtual bool _IsBadMimeChar(unsigned char c);

public:
    // Value of each byte: 0..63 for the alphabet (also with the high bit set),
    // 255 for '=', 254 for anything else. Built at compile time, so concurrent
    // first decodes on several threads need no initialisation.
    static const std::array<unsigned char, 256> m_DecodeTable;

private:
    // Decodes the kept characters of the encoded buffer into the decoded buffer.
    __attribute__((visibility("hidden"))) bool DecodeKept();

    unsigned char* m_pDBuffer;
    unsigned char* m_pEBuffer;
    unsigned m_nDBufLen;
    unsigned m_nEBufLen;
    unsigned m_nDDataLen;
    unsigned m_nEDataLen;
};
