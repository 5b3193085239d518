#include "gnr_system/CKzAlloc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

TEST(CKzAlloc, ZeroSizeGivesNull)
{
    EXPECT_EQ(CKzAlloc::Alloc(0, 0), nullptr);
    EXPECT_EQ(CKzAlloc::Alloc(1, 0), nullptr);
    EXPECT_EQ(CKzAlloc::ReAlloc(nullptr, 0, 1), nullptr);
}

TEST(CKzAlloc, ZeroFilledOnRequest)
{
    const size_t n = 4096;
    auto* p = static_cast<unsigned char*>(CKzAlloc::Alloc(1, n));
    ASSERT_NE(p, nullptr);
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(p[i], 0) << i;
    CKzAlloc::Free(p);
}

TEST(CKzAlloc, ReAllocKeepsContentsAndFreesOnZero)
{
    auto* p = static_cast<char*>(CKzAlloc::ReAlloc(nullptr, 8, 1));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abcdefg", 8);
    p = static_cast<char*>(CKzAlloc::ReAlloc(p, 1 << 20, 1));
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "abcdefg");
    EXPECT_EQ(CKzAlloc::ReAlloc(p, 0, 1), nullptr);  // freed; ASan would report a leak otherwise
}

TEST(CKzAlloc, FreeAndSetNull)
{
    CKzAlloc::FreeAndSetNull(nullptr);
    void* q = nullptr;
    CKzAlloc::FreeAndSetNull(&q);
    EXPECT_EQ(q, nullptr);
    q = CKzAlloc::Alloc(0, 16);
    ASSERT_NE(q, nullptr);
    CKzAlloc::FreeAndSetNull(&q);
    EXPECT_EQ(q, nullptr);
}

TEST(CKzAlloc, InterchangeableWithHeap)
{
    std::free(CKzAlloc::Alloc(0, 32));
    CKzAlloc::Free(std::malloc(32));
}
