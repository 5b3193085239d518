// Faults found in a review of the strings, text conversions, keyed list and
// reader/writer lock: each case failed before its fix.
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
