// Base-64 coder over untrusted input: arbitrary bytes as narrow and wide
// text to decode, and the encode/decode round trip, which must give the
// bytes back (also when the coder decodes its own buffers).
#include "gnr_system/Base64Coder.h"
#include "gnr_system/CKzString.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Every byte a decode reports is read, so a length beyond the buffer shows.
unsigned Touch(const unsigned char* p, unsigned n)
{
    unsigned sum = 0;
    for (unsigned i = 0; i < n; ++i) sum += p[i];
    return sum;
}

void Check(bool condition)
{
    if (!condition) std::abort();
}

bool IsAlphabet(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    const unsigned n = static_cast<unsigned>(size);
    volatile unsigned sink = 0;

    // Arbitrary bytes as narrow text: never more than 3 bytes per 4 characters
    // (plus one partial group).
    {
        Base64Coder coder;
        Check(coder.DecodeA(data, n));
        unsigned len = 0;
        const unsigned char* out = coder.DecodedBuffer(&len);
        Check(len <= (n / 4) * 3 + 2);
        if (len) sink = sink + Touch(out, len);

        // The same text through a string (which stops at a 0 byte) and again
        // on the same coder: each decode starts from an empty buffer.
        std::string text(reinterpret_cast<const char*>(data), size);
        CKzStringA s(text.c_str());
        Check(coder.DecodeA(s));
        out = coder.DecodedBuffer(&len);
        Check(len <= (static_cast<unsigned>(s.GetLength()) / 4) * 3 + 2);
        if (len) sink = sink + Touch(out, len);
    }

    // Arbitrary 32-bit characters as wide text (any value, also beyond
    // U+10FFFF or negative), up to the first 0.
    {
        std::vector<wchar_t> wide(size / sizeof(wchar_t) + 1, 0);
        if (size >= sizeof(wchar_t)) std::memcpy(wide.data(), data, (size / sizeof(wchar_t)) * sizeof(wchar_t));
        Base64Coder coder;
        Check(coder.DecodeW(wide.data()));
        unsigned len = 0;
        const unsigned char* out = coder.DecodedBuffer(&len);
        if (len) sink = sink + Touch(out, len);

        // A wide text decodes like the narrow text of the low bytes of its characters.
        std::vector<unsigned char> low;
        for (const wchar_t* p = wide.data(); *p; ++p) low.push_back(static_cast<unsigned char>(*p));
        Base64Coder narrow;
        Check(narrow.DecodeA(low.data(), static_cast<unsigned>(low.size())));
        unsigned len2 = 0;
        const unsigned char* out2 = narrow.DecodedBuffer(&len2);
        Check(len == len2 && (len == 0 || std::memcmp(out, out2, len) == 0));
    }

    // Round trip.
    {
        Base64Coder coder;
        Check(coder.Encode(data, n));
        unsigned tlen = 0;
        const char* text = coder.EncodedBuffer(&tlen);
        Check(tlen == 4 * ((static_cast<uint64_t>(n) + 2) / 3));
        if (tlen) {
            Check(text[tlen] == 0);
            for (unsigned i = 0; i < tlen; ++i) Check(IsAlphabet(text[i]) || (text[i] == '=' && i + 2 >= tlen));
        }
        const std::string encoded(text ? text : "", tlen);

        // Decoding the coder's own encoded buffer.
        Check(coder.DecodeA(reinterpret_cast<const unsigned char*>(coder.EncodedBuffer(nullptr)), tlen));
        unsigned len = 0;
        const unsigned char* out = coder.DecodedBuffer(&len);
        Check(len == n && (n == 0 || std::memcmp(out, data, n) == 0));

        // The same text as a wide string, with line breaks every 76 characters.
        std::wstring wide;
        for (unsigned i = 0; i < tlen; ++i) {
            if (i && i % 76 == 0) wide += L"\r\n";
            wide += static_cast<wchar_t>(encoded[i]);
        }
        Base64Coder other;
        Check(other.DecodeW(wide.c_str()));
        out = other.DecodedBuffer(&len);
        Check(len == n && (n == 0 || std::memcmp(out, data, n) == 0));

        // Encoding the coder's own decoded buffer gives the same text again.
        Check(other.Encode(other.DecodedBuffer(nullptr), len));
        unsigned tlen2 = 0;
        const char* text2 = other.EncodedBuffer(&tlen2);
        Check(tlen2 == tlen && (tlen == 0 || std::memcmp(text2, encoded.data(), tlen) == 0));
    }
    (void)sink;
    return 0;
}
