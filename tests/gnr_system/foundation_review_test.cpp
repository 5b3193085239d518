// Faults found in a review of the strings, text conversions, keyed list and
// reader/writer lock: each case failed before its fix.
#include "gnr_system/Base64Coder.h"
#include "gnr_system/CKzList.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzWORMLock.h"
#include "gnr_system/KzTextConv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

using namespace std::chrono_literals;

// Trim removes from both ends with the same set, even when the set is a
// piece of the string's own text (which the left trim moves).
TEST(FoundationReview, TrimWithOwnTextAsSet)
{
    struct Case {
        const wchar_t* text;
        int setAt;  // the set is the string's own text from this index
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"abcab", 3, L"c"},
        {L"xyzxy", 3, L"z"},
        {L"aaaa", 2, L""},
        {L"ab-ba", 3, L"-"},
    };
    for (const Case& c : cases) {
        CKzStringW w(c.text);
        w.Trim(w.GetString() + c.setAt);
        EXPECT_STREQ(w.GetString(), c.expected) << "wide " << c.text;

        CKzStringA n(c.text);
        n.Trim(n.GetString() + c.setAt);
        EXPECT_EQ(CKzStringW(n.GetString()), CKzStringW(c.expected)) << "narrow " << c.text;
    }
    // A shared buffer: the copy keeps its text.
    CKzStringW a(L"abcab");
    CKzStringW copy(a);
    a.Trim(a.GetString() + 3);
    EXPECT_STREQ(a.GetString(), L"c");
    EXPECT_STREQ(copy.GetString(), L"abcab");
}

// A code point without a UTF-8 or UTF-16 form is written as U+FFFD, never as
// bytes or units that decode to some other character.
TEST(FoundationReview, WriteUnicodeCharacterBeyondRange)
{
    struct Case {
        uint32_t cp;
        std::string utf8;
        base::string16 utf16;
    };
    const Case cases[] = {
        {0x10FFFF, "\xF4\x8F\xBF\xBF", base::string16{0xDBFF, 0xDFFF}},
        {0x110000, "\xEF\xBF\xBD", base::string16{0xFFFD}},
        {0x200000, "\xEF\xBF\xBD", base::string16{0xFFFD}},
        {0xFFFFFFFFu, "\xEF\xBF\xBD", base::string16{0xFFFD}},
    };
    for (const Case& c : cases) {
        std::string s;
        EXPECT_EQ(base::WriteUnicodeCharacter(c.cp, &s), c.utf8.size()) << std::hex << c.cp;
        EXPECT_EQ(s, c.utf8) << std::hex << c.cp;
        base::string16 u;
        EXPECT_EQ(base::WriteUnicodeCharacter(c.cp, &u), c.utf16.size()) << std::hex << c.cp;
        EXPECT_TRUE(u == c.utf16) << std::hex << c.cp;
    }
}

// The writer may read while writing and lock again recursively: both at once
// must not wait for itself (any reader at that moment is the writer).
TEST(FoundationReview, WriterThatAlsoReadsMayLockAgain)
{
    // On failure the writer thread stays blocked: it gets a lock that outlives the test.
    CKzWORMLock* lock = new CKzWORMLock;
    std::promise<void> done;
    auto finished = done.get_future();
    std::thread([lock, &done] {
        lock->wLock();
        lock->rLock();
        lock->wLock();
        lock->wUnLock();
        lock->rUnLock();
        lock->wUnLock();
        done.set_value();
    }).detach();
    ASSERT_EQ(finished.wait_for(5s), std::future_status::ready) << "the writer waited for itself";
    // Free again: another thread writes at once.
    auto other = std::async(std::launch::async, [lock] {
        lock->wLock();
        lock->wUnLock();
    });
    EXPECT_EQ(other.wait_for(5s), std::future_status::ready);
    other.wait();
    delete lock;
}

// Only the writer releases the write lock: an unlock from another thread is
// reported as unbalanced and leaves the writer's exclusion in place.
TEST(FoundationReview, WriteUnlockFromAnotherThreadKeepsTheWriterIn)
{
    CKzWORMLock* lock = new CKzWORMLock;
    lock->wLock();
    testing::internal::CaptureStdout();
    std::thread([lock] { EXPECT_EQ(lock->wUnLock(), 0); }).join();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFailure! File: gnr_system/CKzWORMLock, line: 72\n");

    std::promise<void> readDone;
    auto reading = readDone.get_future();
    std::thread([lock, &readDone] {
        lock->rLock();
        lock->rUnLock();
        readDone.set_value();
    }).detach();
    EXPECT_NE(reading.wait_for(100ms), std::future_status::ready) << "a reader got in while the writer wrote";
    lock->wUnLock();
    ASSERT_EQ(reading.wait_for(5s), std::future_status::ready);
    delete lock;
}

// A coder derived by a host: the public operations reach the overridden
// steps through the virtual table.
namespace {
class DashSkippingCoder : public Base64Coder {
public:
    int encodeSteps = 0, decodeSteps = 0;

protected:
    bool _IsBadMimeChar(unsigned char c) override { return c == '-' || Base64Coder::_IsBadMimeChar(c); }
    unsigned _EncodeToBuffer(const TempBucket& bucket, unsigned char* out) override
    {
        ++encodeSteps;
        return Base64Coder::_EncodeToBuffer(bucket, out);
    }
    unsigned _DecodeToBuffer(const TempBucket& bucket, unsigned char* out) override
    {
        ++decodeSteps;
        return Base64Coder::_DecodeToBuffer(bucket, out);
    }
};
}  // namespace

TEST(FoundationReview, DerivedCoderStepsAreCalled)
{
    struct Case {
        const char* text;
        std::string bytes;
    };
    const Case cases[] = {
        {"TW-Fu", "Man"},
        {"TWE=", "Ma"},
        {"T-Q==", "M"},
        {"TWFu-TWE", "ManMa"},
        {"TQ", "M"},
        {"", ""},
    };
    for (const Case& c : cases) {
        DashSkippingCoder coder;
        const std::string text(c.text);
        EXPECT_TRUE(coder.DecodeA(reinterpret_cast<const unsigned char*>(text.data()), (unsigned)text.size()));
        unsigned len = 0;
        const unsigned char* out = coder.DecodedBuffer(&len);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), len), c.bytes) << c.text;
        EXPECT_EQ(coder.decodeSteps, (int)(c.bytes.size() + 2) / 3) << c.text;

        std::wstring wide(text.begin(), text.end());
        EXPECT_TRUE(coder.DecodeW(wide.c_str()));
        out = coder.DecodedBuffer(&len);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), len), c.bytes) << c.text;

        EXPECT_TRUE(coder.Encode(reinterpret_cast<const unsigned char*>(c.bytes.data()), (unsigned)c.bytes.size()));
        EXPECT_EQ(coder.encodeSteps, (int)(c.bytes.size() + 2) / 3) << c.text;
        Base64Coder plain;
        plain.Encode(reinterpret_cast<const unsigned char*>(c.bytes.data()), (unsigned)c.bytes.size());
        unsigned n1 = 0, n2 = 0;
        const char* t1 = coder.EncodedBuffer(&n1);
        const char* t2 = plain.EncodedBuffer(&n2);
        EXPECT_EQ(std::string(t1 ? t1 : "", n1), std::string(t2 ? t2 : "", n2)) << c.text;
    }
}
