#include "gnr_system/CKzByteArray.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using BA = CKzByteArray;

std::vector<unsigned char> Pattern(size_t n, unsigned char seed = 1)
{
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(seed + i * 7);
    return v;
}

std::vector<unsigned char> Bytes(const BA& a)
{
    return std::vector<unsigned char>(a.GetData(), a.GetData() + a.GetSize());
}

}  // namespace

TEST(CKzByteArray, NewArrayIsEmpty)
{
    BA a(1024);
    EXPECT_EQ(a.GetData(), nullptr);
    EXPECT_EQ(a.GetSize(), 0u);
    EXPECT_EQ(a.GetAllocated(), 0u);
    EXPECT_EQ(a.GetCurrentOffset(), 0u);
    EXPECT_EQ(a.GetIncrement(), 1024u);
    EXPECT_EQ(BA(0).GetIncrement(), 1u);
}

// Growth in whole increments: the allocation after one append to an array of
// the given size and allocation.
TEST(CKzByteArray, IncrementGrowthLadder)
{
    struct Case {
        unsigned long increment, prefill, append, allocated;
    } cases[] = {
        {1024, 0, 1024, 2048},  // an exact multiple gets one increment more
        {1024, 0, 1000, 1024},
        {1024, 1024, 1, 2048},  // size and allocation 1024, one byte more
        {1024, 0, 1, 1024},
        {1024, 0, 3000, 3072},
        {0, 0, 5, 6},           // increment 0 acts as 1
        {1, 5, 3, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "inc " << c.increment << " prefill " << c.prefill << " append " << c.append);
        BA a(c.increment);
        auto pre = Pattern(c.prefill, 3);
        if (c.prefill) ASSERT_EQ(a.SetData(pre.data(), c.prefill, BA::eModeOpAppend, BA::eModeAllocIncrement), 0);
        auto add = Pattern(c.append, 9);
        ASSERT_EQ(a.SetData(add.data(), c.append, BA::eModeOpAppend, BA::eModeAllocIncrement), 0);
        EXPECT_EQ(a.GetAllocated(), c.allocated);
        ASSERT_EQ(a.GetSize(), c.prefill + c.append);
        pre.insert(pre.end(), add.begin(), add.end());
        EXPECT_EQ(Bytes(a), pre);
    }
}

TEST(CKzByteArray, ZeroIncrementGrowsByOneByte)
{
    BA a(0);
    const unsigned char b[3] = {1, 2, 3};
    // a shortfall of one byte is a multiple of the increment 1, so each growth adds two
    const unsigned long allocated[3] = {2, 2, 4};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(a.SetData(b + i, 1, BA::eModeOpAppend, BA::eModeAllocIncrement), 0);
        EXPECT_EQ(a.GetAllocated(), allocated[i]);
    }
    EXPECT_EQ(Bytes(a), std::vector<unsigned char>(b, b + 3));
}

TEST(CKzByteArray, ExactGrowthAndReplace)
{
    BA a(1024);
    auto twenty = Pattern(20);
    ASSERT_EQ(a.SetData(twenty.data(), 20, BA::eModeOpReplace, BA::eModeAllocExact), 0);
    EXPECT_EQ(a.GetAllocated(), 20u);
    auto ten = Pattern(10, 100);
    ASSERT_EQ(a.SetData(ten.data(), 10, BA::eModeOpReplace, BA::eModeAllocExact), 0);
    EXPECT_EQ(a.GetSize(), 10u);
    EXPECT_EQ(a.GetAllocated(), 20u);
    EXPECT_EQ(Bytes(a), ten);
    // append exactly: allocation is start + n
    ASSERT_EQ(a.SetData(twenty.data(), 20, BA::eModeOpAppend, BA::eModeAllocExact), 0);
    EXPECT_EQ(a.GetAllocated(), 30u);
    EXPECT_EQ(a.GetSize(), 30u);
    EXPECT_EQ(0, std::memcmp(a.GetData() + 10, twenty.data(), 20));
    // an unknown mode value acts as replace / exact
    ASSERT_EQ(a.SetData(ten.data(), 10, static_cast<BA::EKzByteArrayModeOp>(7), static_cast<BA::EKzByteArrayModeAlloc>(9)), 0);
    EXPECT_EQ(Bytes(a), ten);
}

TEST(CKzByteArray, ReserveThenAnnounceSize)
{
    BA a(1024);
    EXPECT_EQ(a.SetData(nullptr, 100, BA::eModeOpReplace, BA::eModeAllocExact), 0);
    EXPECT_EQ(a.GetAllocated(), 100u);
    EXPECT_EQ(a.GetSize(), 0u);
    ASSERT_NE(a.GetData(60), nullptr);
    EXPECT_EQ(a.GetSize(), 60u);
    a.GetData(200);
    EXPECT_EQ(a.GetSize(), 60u);
    a.GetData(0);
    EXPECT_EQ(a.GetSize(), 60u);
    a.SetSize(100);
    EXPECT_EQ(a.GetSize(), 100u);
    a.SetSize(101);
    EXPECT_EQ(a.GetSize(), 100u);
}

TEST(CKzByteArray, NoGrowthModeCutsAndRefuses)
{
    BA a(1024);
    ASSERT_EQ(a.SetData(nullptr, 16, BA::eModeOpReplace, BA::eModeAllocExact), 0);
    auto twenty = Pattern(20);
    EXPECT_EQ(a.SetData(twenty.data(), 20, BA::eModeOpReplace, BA::eModeAllocNone), KZ_ERR_TRUNCATED);
    EXPECT_EQ(a.GetSize(), 16u);
    EXPECT_EQ(a.GetAllocated(), 16u);
    EXPECT_EQ(0, std::memcmp(a.GetData(), twenty.data(), 16));
    EXPECT_EQ(a.SetData(twenty.data(), 1, BA::eModeOpAppend, BA::eModeAllocNone), KZ_ERR_FAILED);
    EXPECT_EQ(a.GetSize(), 16u);
    // an empty array in no-growth mode stores nothing
    BA e(1024);
    EXPECT_EQ(e.SetData(twenty.data(), 1, BA::eModeOpReplace, BA::eModeAllocNone), KZ_ERR_FAILED);
    EXPECT_EQ(e.GetData(), nullptr);
}

TEST(CKzByteArray, ZeroLengthChangesNothing)
{
    BA a(1024);
    auto five = Pattern(5);
    ASSERT_EQ(a.SetData(five.data(), 5, BA::eModeOpReplace, BA::eModeAllocExact), 0);
    for (int op = 0; op < 2; ++op)
        for (int al = 0; al < 3; ++al) {
            EXPECT_EQ(a.SetData(five.data(), 0, static_cast<BA::EKzByteArrayModeOp>(op),
                                static_cast<BA::EKzByteArrayModeAlloc>(al)), 0);
            EXPECT_EQ(Bytes(a), five);
            EXPECT_EQ(a.GetAllocated(), 5u);
        }
}

// A growth that cannot be satisfied reports -3 and leaves size, allocation and
// bytes untouched (no partial store), whatever the mode.
TEST(CKzByteArray, FailedGrowthLeavesArrayAsItWas)
{
    const unsigned long huge[] = {
        ~0ul,               // start + n wraps
        ~0ul - 3,           // start + n wraps by a few bytes
        (1ul << 63) + 10,   // above any possible block
    };
    auto eight = Pattern(8);
    for (unsigned long n : huge)
        for (int al : {0, 2})
            for (int op : {0, 1}) {
                SCOPED_TRACE(testing::Message() << n << " alloc " << al << " op " << op);
                BA a(al == 2 ? 1000 : 1024);
                ASSERT_EQ(a.SetData(eight.data(), 8, BA::eModeOpReplace, BA::eModeAllocExact), 0);
                const unsigned char* before = a.GetData();
                ASSERT_EQ(a.SetData(eight.data(), n, static_cast<BA::EKzByteArrayModeOp>(op),
                                    static_cast<BA::EKzByteArrayModeAlloc>(al)), KZ_ERR_OUT_OF_MEMORY);
                EXPECT_EQ(a.GetData(), before);
                EXPECT_EQ(a.GetSize(), 8u);
                EXPECT_EQ(a.GetAllocated(), 8u);
                EXPECT_EQ(Bytes(a), eight);
                EXPECT_EQ(a.SetData(nullptr, n, BA::eModeOpAppend, static_cast<BA::EKzByteArrayModeAlloc>(al)),
                          KZ_ERR_OUT_OF_MEMORY);
                EXPECT_EQ(Bytes(a), eight);
            }
}

TEST(CKzByteArray, FailedAllocationFromHeapLeavesArrayAsItWas)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer allocator aborts on impossible sizes";
#else
    BA a(1024);
    auto eight = Pattern(8);
    ASSERT_EQ(a.SetData(eight.data(), 8, BA::eModeOpReplace, BA::eModeAllocExact), 0);
    // 2^62 bytes: a legal size no heap can give
    EXPECT_EQ(a.SetData(eight.data(), 1ul << 62, BA::eModeOpAppend, BA::eModeAllocExact), KZ_ERR_OUT_OF_MEMORY);
    EXPECT_EQ(Bytes(a), eight);
    EXPECT_EQ(a.GetAllocated(), 8u);
#endif
}

TEST(CKzByteArray, AppendOwnBytesWhileGrowing)
{
    BA a(1);
    auto v = Pattern(1000);
    ASSERT_EQ(a.SetData(v.data(), 1000, BA::eModeOpReplace, BA::eModeAllocExact), 0);
    ASSERT_EQ(a.SetData(a.GetData(), a.GetSize(), BA::eModeOpAppend, BA::eModeAllocExact), 0);
    auto want = v;
    want.insert(want.end(), v.begin(), v.end());
    EXPECT_EQ(Bytes(a), want);
}

TEST(CKzByteArray, CopyAndAssignment)
{
    auto v = Pattern(50);
    BA a(v.data(), 50, 64);
    EXPECT_EQ(a.GetAllocated(), 50u);
    ASSERT_EQ(a.SetCurrentOffset(10), 0);

    BA b(a);
    EXPECT_EQ(Bytes(b), v);
    EXPECT_EQ(b.GetAllocated(), 50u);
    EXPECT_EQ(b.GetCurrentOffset(), 0u);
    EXPECT_EQ(b.GetIncrement(), 64u);
    EXPECT_NE(b.GetData(), a.GetData());

    BA c(7);
    auto w = Pattern(200, 5);
    ASSERT_EQ(c.SetData(w.data(), 200, BA::eModeOpReplace, BA::eModeAllocExact), 0);
    c = a;
    EXPECT_EQ(Bytes(c), v);
    EXPECT_EQ(c.GetAllocated(), 50u);
    EXPECT_EQ(c.GetIncrement(), 7u);

    BA& self = c;
    c = self;
    EXPECT_EQ(Bytes(c), v);
    EXPECT_EQ(c.GetSize(), 50u);

    BA empty(1024);
    c = empty;
    EXPECT_EQ(c.GetData(), nullptr);
    EXPECT_EQ(c.GetSize(), 0u);
    BA d(empty);
    EXPECT_EQ(d.GetData(), nullptr);
}

TEST(CKzByteArray, FreeDataKeepsIncrement)
{
    auto v = Pattern(10);
    BA a(v.data(), 10, 33);
    a.FreeData();
    EXPECT_EQ(a.GetData(), nullptr);
    EXPECT_EQ(a.GetSize(), 0u);
    EXPECT_EQ(a.GetAllocated(), 0u);
    EXPECT_EQ(a.GetIncrement(), 33u);
    a.SetIncrement(0);
    EXPECT_EQ(a.GetIncrement(), 1u);
}

TEST(CKzByteArray, Cursor)
{
    BA a(1024);
    EXPECT_EQ(a.SetCurrentOffset(0), 0);
    EXPECT_EQ(a.SetCurrentOffset(1), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(a.SetCurrentOffsetPtr(&a), KZ_ERR_INVALID_ARG);  // no data yet

    ASSERT_EQ(a.SetData(nullptr, 100, BA::eModeOpReplace, BA::eModeAllocExact), 0);
    EXPECT_EQ(a.SetCurrentOffset(100), 0);
    EXPECT_EQ(a.GetCurrentOffset(), 100u);
    EXPECT_EQ(a.SetCurrentOffset(101), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(a.GetCurrentOffset(), 100u);

    unsigned char* d = a.GetData(1);
    EXPECT_EQ(a.SetCurrentOffsetPtr(d + 40), 0);
    EXPECT_EQ(a.GetCurrentOffset(), 40u);
    EXPECT_EQ(a.GetCurrentOffsetPtr(), d + 40);
    EXPECT_EQ(a.SetCurrentOffsetPtr(nullptr), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(a.SetCurrentOffsetPtr(reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(d) - 1)), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(a.SetCurrentOffsetPtr(d + 101), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(a.GetCurrentOffset(), 40u);

    // a cursor left beyond the allocation (after FreeData re-initialises, it is 0 again)
    a.FreeData();
    EXPECT_EQ(a.GetCurrentOffset(), 0u);
}

TEST(CKzByteArray, EqualityIgnoresAllocationCursorIncrement)
{
    auto v = Pattern(30);
    BA a(v.data(), 30, 1);
    BA b(1024);
    ASSERT_EQ(b.SetData(v.data(), 30, BA::eModeOpReplace, BA::eModeAllocIncrement), 0);
    ASSERT_EQ(b.SetCurrentOffset(12), 0);
    EXPECT_NE(a.GetAllocated(), b.GetAllocated());
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a != b);
    b.GetData(1024)[29] ^= 1;  // size 1024 now: different sizes
    EXPECT_FALSE(a == b);
    b.SetSize(30);
    EXPECT_FALSE(a == b);  // same size, one byte differs
    b.GetData(30)[29] ^= 1;
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(BA(1) == BA(99));
    BA reserved(1);
    reserved.SetData(nullptr, 10, BA::eModeOpReplace, BA::eModeAllocExact);
    EXPECT_TRUE(reserved == BA(1));
}
