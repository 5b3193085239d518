#include "gnr_system/Base64Coder.h"

#include "gnr_system/CKzString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Encoded(Base64Coder& c)
{
    unsigned n = 99;
    const char* p = c.EncodedBuffer(&n);
    return p ? std::string(p, n) : std::string();
}

std::string Decoded(Base64Coder& c)
{
    unsigned n = 99;
    const unsigned char* p = c.DecodedBuffer(&n);
    return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
}

std::string EncodeText(const std::string& bytes)
{
    Base64Coder c;
    EXPECT_TRUE(c.Encode(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned>(bytes.size())));
    return Encoded(c);
}

std::string DecodeText(const std::string& text)
{
    Base64Coder c;
    EXPECT_TRUE(c.DecodeA(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size())));
    return Decoded(c);
}

std::string DecodeWide(const std::wstring& text)
{
    Base64Coder c;
    EXPECT_TRUE(c.DecodeW(text.c_str()));
    return Decoded(c);
}

// Exposes the coding steps.
class OpenCoder : public Base64Coder {
public:
    using Base64Coder::_DecodeRaw;
    using Base64Coder::_DecodeToBuffer;
    using Base64Coder::_EncodeRaw;
    using Base64Coder::_EncodeToBuffer;
    using Base64Coder::_IsBadMimeChar;
};

}  // namespace

// RFC 4648 test vectors and the classic "Man" examples, both ways, in narrow
// and wide form.
TEST(Base64Coder, Vectors)
{
    const struct {
        const char* bytes;
        const char* text;
    } vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"Man", "TWFu"},
        {"Ma", "TWE="},
        {"M", "TQ=="},
        {"\xff\xfe\xfd", "//79"},
        {"\xfb\xff", "+/8="},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.text);
        EXPECT_EQ(EncodeText(v.bytes), v.text);
        EXPECT_EQ(DecodeText(v.text), v.bytes);
        const std::string t = v.text;
        EXPECT_EQ(DecodeWide(std::wstring(t.begin(), t.end())), v.bytes);
    }
}

TEST(Base64Coder, EncodedTextIsTerminatedAndSized)
{
    for (unsigned n : {1u, 2u, 3u, 1000u, 3071u, 3072u, 3073u, 4096u, 100000u}) {
        SCOPED_TRACE(n);
        std::vector<unsigned char> bytes(n);
        for (unsigned i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(i * 151 + (i >> 8));
        Base64Coder c;
        ASSERT_TRUE(c.Encode(bytes.data(), n));
        unsigned len = 0;
        const char* text = c.EncodedBuffer(&len);
        EXPECT_EQ(len, 4 * ((n + 2) / 3));
        EXPECT_EQ(std::strlen(text), len);
        // and back, through the same coder
        ASSERT_TRUE(c.DecodeA(reinterpret_cast<const unsigned char*>(text), len));
        unsigned dn = 0;
        const unsigned char* back = c.DecodedBuffer(&dn);
        ASSERT_EQ(dn, n);
        EXPECT_EQ(0, std::memcmp(back, bytes.data(), n));
    }
}

TEST(Base64Coder, EmptyInputOnNewCoder)
{
    Base64Coder c;
    unsigned n = 5;
    EXPECT_EQ(c.EncodedBuffer(&n), nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(c.Encode(nullptr, 0));
    n = 5;
    EXPECT_EQ(c.EncodedBuffer(&n), nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(c.EncodedBuffer(nullptr), nullptr);
    EXPECT_TRUE(c.DecodeW(nullptr));
    EXPECT_EQ(Decoded(c), "");
    EXPECT_FALSE(c.DecodeA(nullptr, 4));
    EXPECT_FALSE(c.Encode(nullptr, 4));
}

TEST(Base64Coder, DecodeNarrowString)
{
    Base64Coder c;
    ASSERT_TRUE(c.DecodeA(CKzStringA("Zm9v\nYmE=")));
    EXPECT_EQ(Decoded(c), "fooba");
    ASSERT_TRUE(c.DecodeA(CKzStringA()));
    EXPECT_EQ(Decoded(c), "");
}

TEST(Base64Coder, DecodeSkipsBlanksAndLineControl)
{
    EXPECT_EQ(DecodeText("Zm9v\r\nYmFy"), "foobar");
    EXPECT_EQ(DecodeText(" Z m9vY\tmE =\n"), "fooba");
    EXPECT_EQ(DecodeText("\a\b\t\n\v\f\r TWFu"), "Man");
    EXPECT_EQ(DecodeWide(L"T W\nF\tu"), "Man");
}

TEST(Base64Coder, DecodeUnpaddedTail)
{
    const struct {
        const char* text;
        const char* bytes;
    } cases[] = {
        {"TWE", "Ma"}, {"TQ", "M"}, {"T", ""}, {"Zm9vYg", "foob"}, {"Zm9vYmE", "fooba"}, {"Zm9vY", "foo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DecodeText(c.text), c.bytes);
    }
}

TEST(Base64Coder, HighBitAndWideCharactersCountByTheirLowSevenOrEightBits)
{
    EXPECT_EQ(DecodeText("\xd4\xd7\xc6\xf5"), "Man");  // "TWFu" with the high bit set
    std::wstring w;
    for (char ch : std::string("TWFu")) w += static_cast<wchar_t>(0x4500 | static_cast<unsigned char>(ch));
    EXPECT_EQ(DecodeWide(w), "Man");
}

TEST(Base64Coder, ConsecutiveDecodesStartEmpty)
{
    Base64Coder c;
    const std::string a = "Zm9vYmFy", b = "TQ==";
    ASSERT_TRUE(c.DecodeA(reinterpret_cast<const unsigned char*>(a.data()), 8));
    EXPECT_EQ(Decoded(c), "foobar");
    ASSERT_TRUE(c.DecodeA(reinterpret_cast<const unsigned char*>(b.data()), 4));
    EXPECT_EQ(Decoded(c), "M");
    EXPECT_EQ(c.DecodedBuffer(nullptr)[1], 0);  // nothing left from the first decode
}

// Text that is not base 64 decodes to something without failing or reading
// outside the text.
TEST(Base64Coder, DamagedTextNeverFails)
{
    const struct {
        std::string text;
        unsigned length;
    } cases[] = {
        {"!!!!", 3}, {"====", 1}, {"=Q==", 1}, {"TQ==TWFu", 4}, {"T===", 1}, {"@", 0}, {"ab=", 2},
        {std::string("\0\0\0\0", 4), 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Base64Coder coder;
        EXPECT_TRUE(coder.DecodeA(reinterpret_cast<const unsigned char*>(c.text.data()),
                                  static_cast<unsigned>(c.text.size())));
        unsigned n = 0;
        coder.DecodedBuffer(&n);
        EXPECT_EQ(n, c.length);
    }
    // the padding count of the last padded group is what is dropped
    EXPECT_EQ(DecodeText("TQ==TWFu"), std::string("M\0\0M", 4));
}

// Random texts of every length class, including lengths around the 4096-byte
// buffer steps: decoding stays inside the buffers (checked under ASan) and
// never yields more than three bytes per four kept characters.
TEST(Base64Coder, RandomTextStaysInBounds)
{
    const char pool[] = "ABCxyz09+/=== \n\t!\x80\xbd\xff";
    unsigned seed = 12345;
    auto next = [&seed]() { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
    Base64Coder c;
    for (int round = 0; round < 400; ++round) {
        const unsigned n = (round % 4 == 0) ? 4090 + next() % 12 : next() % 9000;
        std::string text(n, 'A');
        for (char& ch : text) ch = pool[next() % (sizeof(pool) - 1)];
        ASSERT_TRUE(c.DecodeA(reinterpret_cast<const unsigned char*>(text.data()), n));
        unsigned kept = 0, len = 0;
        c.EncodedBuffer(&kept);
        c.DecodedBuffer(&len);
        ASSERT_LE(kept, n);
        ASSERT_LE(len, 3 * ((kept + 3) / 4));
    }
}

TEST(Base64Coder, BuffersOfTheCoderItselfAsInput)
{
    Base64Coder c;
    const std::string bytes = "self referencing input";
    ASSERT_TRUE(c.Encode(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned>(bytes.size())));
    const std::string text = Encoded(c);
    // decoding the coder's own encoded buffer
    unsigned n = 0;
    char* own = c.EncodedBuffer(&n);
    ASSERT_TRUE(c.DecodeA(reinterpret_cast<const unsigned char*>(own), n));
    EXPECT_EQ(Decoded(c), bytes);
    // encoding the coder's own decoded buffer
    unsigned char* raw = c.DecodedBuffer(&n);
    ASSERT_TRUE(c.Encode(raw, n));
    EXPECT_EQ(Encoded(c), text);
    // decoding part of the decoded buffer into it
    ASSERT_TRUE(c.SetDecodeBuffer(reinterpret_cast<const unsigned char*>("TWFu"), 4));
    raw = c.DecodedBuffer(&n);
    ASSERT_TRUE(c.SetDecodeBuffer(raw + 1, 3));
    EXPECT_EQ(Decoded(c), "WFu");
}

// Sizes are computed in 64 bits: a text longer than 32-bit lengths allow is
// refused instead of wrapping into a small buffer.
TEST(Base64Coder, SizesBeyondThirtyTwoBitsAreRefused)
{
    Base64Coder c;
    const unsigned char few[4] = {'a', 'b', 'c', 'd'};
    ASSERT_TRUE(c.Encode(few, 4));
    // 3.3e9 bytes would need 4.4e9 characters; the input is never read
    EXPECT_FALSE(c.Encode(few, 3300000000u));
    EXPECT_EQ(Encoded(c), "");
    EXPECT_EQ(Decoded(c), "");
    EXPECT_FALSE(c.Encode(few, 0xFFFFFFFFu));
    EXPECT_FALSE(c.AllocEncode(0xFFFFFFFFu));
    EXPECT_FALSE(c.AllocDecode(0xFFFFF000u));
    // still usable
    ASSERT_TRUE(c.Encode(few, 3));
    EXPECT_EQ(Encoded(c), "YWJj");
}

TEST(Base64Coder, BufferSetters)
{
    Base64Coder c;
    ASSERT_TRUE(c.SetEncodeBufferA(reinterpret_cast<const unsigned char*>("a b\r\nc"), 6));
    EXPECT_EQ(Encoded(c), "abc");
    ASSERT_TRUE(c.SetEncodeBufferW(L"x\u0120y\u4509", 4));  // low bytes x, blank (skipped), y, tab (skipped)
    EXPECT_EQ(Encoded(c), "xy");
    ASSERT_TRUE(c.SetDecodeBuffer(reinterpret_cast<const unsigned char*>("\0\1\2"), 3));
    EXPECT_EQ(Decoded(c), std::string("\0\1\2", 3));
    ASSERT_TRUE(c.AllocDecode(10));
    EXPECT_EQ(Decoded(c), "");
}

TEST(Base64Coder, CodingSteps)
{
    OpenCoder c;
    for (int ch = 0; ch < 256; ++ch) {
        const bool skipped = (ch >= 7 && ch <= 13) || ch == 32;
        EXPECT_EQ(c._IsBadMimeChar(static_cast<unsigned char>(ch)), skipped) << ch;
    }

    Base64Coder::TempBucket in = {{'M', 'a', 'n', 0}, 3}, raw{};
    c._EncodeRaw(raw, in);
    EXPECT_EQ(raw.nData[0], 19);
    EXPECT_EQ(raw.nData[1], 22);
    EXPECT_EQ(raw.nData[2], 5);
    EXPECT_EQ(raw.nData[3], 46);
    unsigned char out[4];
    EXPECT_EQ(c._EncodeToBuffer(in, out), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "TWFu");
    in = {{'M', 'a', 0, 0}, 2};  // the encoder pads a short group with zeros
    EXPECT_EQ(c._EncodeToBuffer(in, out), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "TWE=");
    in = {{'M', 0, 0, 0}, 1};
    EXPECT_EQ(c._EncodeToBuffer(in, out), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "TQ==");

    Base64Coder::TempBucket values = {{19, 22, 5, 46}, 4}, bytes{};
    c._DecodeRaw(bytes, values);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.nData), 3), "Man");
    unsigned char three[3];
    EXPECT_EQ(c._DecodeToBuffer(values, three), 3u);
    Base64Coder::TempBucket ones = {{63, 63, 63, 63}, 4};
    EXPECT_EQ(c._DecodeToBuffer(ones, three), 0u);  // three bytes of 255
    EXPECT_EQ(three[0], 255);

    // the table: alphabet with and without the high bit, padding, the rest
    EXPECT_EQ(Base64Coder::m_DecodeTable['A'], 0);
    EXPECT_EQ(Base64Coder::m_DecodeTable['/'], 63);
    EXPECT_EQ(Base64Coder::m_DecodeTable['+' | 0x80], 62);
    EXPECT_EQ(Base64Coder::m_DecodeTable['='], 255);
    EXPECT_EQ(Base64Coder::m_DecodeTable['=' | 0x80], 255);
    EXPECT_EQ(Base64Coder::m_DecodeTable['!'], 254);
    EXPECT_EQ(Base64Coder::m_DecodeTable[0], 254);
}
