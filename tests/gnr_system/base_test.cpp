#include "gnr_system/kz_base.h"

#include <gtest/gtest.h>

#include <cstdio>

TEST(FailureDiagnostic, PrintsFileAndLineToStandardOutput)
{
    testing::internal::CaptureStdout();
    KZ_PrintFailure("gnr_system/CKzWORMLock", 38);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFailure! File: gnr_system/CKzWORMLock, line: 38\n");
}
