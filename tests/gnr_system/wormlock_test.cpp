#include "gnr_system/CKzWORMLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Starts `f` on a thread; the future tells whether it has returned.
template <class F>
std::future<void> Start(F f)
{
    return std::async(std::launch::async, f);
}

bool Done(std::future<void>& f, std::chrono::milliseconds wait = 0ms)
{
    return f.wait_for(wait) == std::future_status::ready;
}

}  // namespace

TEST(CKzWORMLock, ReadersShareAndAWriterWaitsForAll)
{
    CKzWORMLock lock;
    std::promise<void> release1, release2;
    std::atomic<int> reading{0};
    auto reader = [&](std::promise<void>& release) {
        EXPECT_EQ(lock.rLock(), 0);
        ++reading;
        release.get_future().wait();
        EXPECT_EQ(lock.rUnLock(), 0);
    };
    auto r1 = Start([&] { reader(release1); });
    auto r2 = Start([&] { reader(release2); });
    while (reading.load() < 2) std::this_thread::yield();  // both read at once

    std::atomic<bool> wrote{false};
    auto w = Start([&] {
        lock.wLock();
        wrote = true;
        lock.wUnLock();
    });
    EXPECT_FALSE(Done(w, 50ms));
    release1.set_value();
    r1.get();
    EXPECT_FALSE(Done(w, 50ms));  // one reader is still inside
    EXPECT_FALSE(wrote.load());
    release2.set_value();
    r2.get();
    EXPECT_TRUE(Done(w, 5000ms));
    EXPECT_TRUE(wrote.load());
}

TEST(CKzWORMLock, RecursiveWriterNeedsEveryUnlock)
{
    CKzWORMLock lock;
    lock.wLock();
    lock.wLock();
    auto r = Start([&] {
        lock.rLock();
        lock.rUnLock();
    });
    EXPECT_FALSE(Done(r, 50ms));
    lock.wUnLock();
    EXPECT_FALSE(Done(r, 50ms));
    lock.wUnLock();
    EXPECT_TRUE(Done(r, 5000ms));
}

TEST(CKzWORMLock, WriterMayReadWithoutReleasingTheWrite)
{
    CKzWORMLock lock;
    lock.wLock();
    EXPECT_EQ(lock.rLock(), 0);  // returns at once
    EXPECT_EQ(lock.rUnLock(), 0);
    auto r = Start([&] {
        lock.rLock();
        lock.rUnLock();
    });
    EXPECT_FALSE(Done(r, 50ms));  // still written
    lock.wUnLock();
    EXPECT_TRUE(Done(r, 5000ms));
}

TEST(CKzWORMLock, UnbalancedUnlocksAreReportedAndDoNotBreakTheLock)
{
    CKzWORMLock lock;
    testing::internal::CaptureStdout();
    EXPECT_EQ(lock.rUnLock(), 0);
    EXPECT_EQ(lock.wUnLock(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nFailure! File: gnr_system/CKzWORMLock, line: 38\n"
              "\nFailure! File: gnr_system/CKzWORMLock, line: 72\n");
    // Counts stayed at 0: a writer gets in, and readers after it.
    auto w = Start([&] {
        lock.wLock();
        lock.wUnLock();
    });
    EXPECT_TRUE(Done(w, 5000ms));
    lock.rLock();
    auto w2 = Start([&] {
        lock.wLock();
        lock.wUnLock();
    });
    EXPECT_FALSE(Done(w2, 50ms));  // one real reader holds it
    lock.rUnLock();
    EXPECT_TRUE(Done(w2, 5000ms));
}

TEST(CKzWORMLock, WritersExcludeEachOther)
{
    CKzWORMLock lock;
    int counter = 0;  // guarded by the write lock only
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                lock.wLock();
                if (inside.fetch_add(1) != 0) overlap = true;
                ++counter;
                inside.fetch_sub(1);
                lock.wUnLock();
                lock.rLock();
                if (inside.load() != 0) overlap = true;
                lock.rUnLock();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_FALSE(overlap.load());
    EXPECT_EQ(counter, 8000);
}

TEST(CKzWORMLock, ACopyIsAFreeLockOfItsOwn)
{
    CKzWORMLock lock;
    lock.wLock();
    CKzWORMLock copy(lock);
    auto w = Start([&] {
        copy.wLock();  // would wait forever if the copy had taken the writer state
        copy.wUnLock();
    });
    EXPECT_TRUE(Done(w, 5000ms));
    copy = lock;
    auto r = Start([&] {
        copy.rLock();
        copy.rUnLock();
    });
    EXPECT_TRUE(Done(r, 5000ms));
    lock.wUnLock();
}
