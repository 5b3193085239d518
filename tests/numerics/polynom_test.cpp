// Polynomials and the random generator; the generator's sequence is checked
// against an independent implementation (scripts/gen_numerics_reference.py).
#include "numerics/CKzPolynom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace {
#include "numerics_reference.inc"

void FreshGenerator()
{
    CKzRandomGenerator::s_iIdum = 1;
    CKzRandomGenerator::s_uiSeed = 161803398u;
    CKzRandomGenerator::s_bIff = false;
    CKzRandomGenerator::s_bFl = false;
}
}  // namespace

TEST(CKzPolynom, DeriveEvaluateSolve)
{
    double c[] = {1, 2, 3};
    CKzPolynom p(c, 3);
    CKzPolynom d = p.Derive();
    ASSERT_EQ(d.Count(), 2u);
    EXPECT_EQ(d.Coefficient(0), 2.0);
    EXPECT_EQ(d.Coefficient(1), 6.0);
    EXPECT_EQ(p.FunctionValue(2), 17.0);
    EXPECT_EQ(CKzPolynom().FunctionValue(2), 0.0);
    EXPECT_EQ(CKzPolynom().Derive().Count(), 0u);
    double k[] = {5};
    EXPECT_EQ(CKzPolynom(k, 1).Derive().Count(), 0u);
    CKzPolynom copy(p);
    c[0] = 100;  // the polynomial owns a copy
    EXPECT_EQ(copy.Coefficient(0), 1.0);
    EXPECT_EQ(CKzPolynom(4).Count(), 4u);

    struct Case { std::vector<double> c; unsigned int rows; double r0, r1; };
    const Case cases[] = {
        {{1, -3, 2}, 2, 1.0, 0.5},
        {{1, 0, 1}, 0, 0, 0},
        {{4, 2}, 1, -2.0, 0},
        {{4, 0}, 0, 0, 0},
        {{1, 2, 3, 4}, 0, 0, 0},
        {{NAN, 1, 1}, 0, 0, 0},
    };
    for (const auto& cs : cases) {
        std::vector<double> v = cs.c;
        CKzMatrix r = CKzPolynom(v.data(), static_cast<unsigned int>(v.size())).Solve();
        ASSERT_EQ(r.Rows(), cs.rows) << v.size();
        if (cs.rows >= 1) EXPECT_DOUBLE_EQ(r[0][0], cs.r0);
        if (cs.rows == 2) {
            EXPECT_EQ(r.Columns(), 2u);
            EXPECT_DOUBLE_EQ(r[1][0], cs.r1);
            EXPECT_EQ(r[0][1], 0.0);
            EXPECT_EQ(r[1][1], 0.0);
        }
    }
}

TEST(CKzRandomGenerator, SequenceMatchesIndependentImplementation)
{
    FreshGenerator();
    for (int expected : kKnuthFirst) {
        const double u = CKzRandomGenerator::UniformDist();
        EXPECT_DOUBLE_EQ(u, expected * 1e-9);
        EXPECT_GE(u, 0.0);
        EXPECT_LT(u, 1.0);
    }
    for (int i = 20; i < 1000; ++i) {
        const double u = CKzRandomGenerator::UniformDist();
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
        ASSERT_NEAR(u * 1e9, std::round(u * 1e9), 1e-6);  // a multiple of 1e-9
    }
    for (int expected : kKnuthAfter1000) EXPECT_DOUBLE_EQ(CKzRandomGenerator::UniformDist(), expected * 1e-9);

    // A negative idum reseeds with |seed - |idum||.
    CKzRandomGenerator::s_iIdum = -7;
    for (int expected : kKnuthIdumMinus7) EXPECT_DOUBLE_EQ(CKzRandomGenerator::UniformDist(), expected * 1e-9);
    EXPECT_EQ(CKzRandomGenerator::s_iIdum, 1);

    // Restart gives the same sequence again.
    CKzRandomGenerator::s_iIdum = -1;
    const double first = CKzRandomGenerator::UniformDist();
    FreshGenerator();
    EXPECT_EQ(first, CKzRandomGenerator::UniformDist());
}

TEST(CKzRandomGenerator, HostWrittenStateStaysInRange)
{
    FreshGenerator();
    CKzRandomGenerator::UniformDist();
    CKzRandomGenerator::s_iNext = 1000;
    CKzRandomGenerator::s_iNextP = -5;
    CKzRandomGenerator::s_pMa[1] = -2000000000;
    CKzRandomGenerator::s_uiSeed = 0xFFFFFFFFu;
    CKzRandomGenerator::s_iIdum = -2147483647 - 1;
    for (int i = 0; i < 200; ++i) {
        const double u = CKzRandomGenerator::UniformDist();
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
    }
    FreshGenerator();
}

TEST(CKzRandomGenerator, RangedAndNormalDeviates)
{
    FreshGenerator();
    EXPECT_EQ(CKzRandomGenerator::RndInRange(5, 5), 5.0);
    const double r = CKzRandomGenerator::RndInRange(-2, 3);
    EXPECT_EQ(r, -2 + kKnuthFirst[1] * 1e-9 * 5);

    FreshGenerator();
    for (double expected : kNormalFirst) EXPECT_NEAR(CKzRandomGenerator::NormalDist(0, 1), expected, 1e-12);
    FreshGenerator();
    EXPECT_NEAR(CKzRandomGenerator::NormalDist(10, 2), 10 + 2 * kNormalFirst[0], 1e-12);
    EXPECT_TRUE(CKzRandomGenerator::s_bFl);
    EXPECT_NEAR(CKzRandomGenerator::NormalDist(0, 1), kNormalFirst[1], 1e-12);
    EXPECT_FALSE(CKzRandomGenerator::s_bFl);

    double sum = 0, sq = 0;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        const double x = CKzRandomGenerator::NormalDist(0, 1);
        sum += x;
        sq += x * x;
    }
    EXPECT_NEAR(sum / n, 0.0, 0.05);
    EXPECT_NEAR(sq / n, 1.0, 0.05);
    FreshGenerator();
}

TEST(CKzRandomGenerator, ConcurrentDrawsShareOneSequence)
{
    // Draws on several threads take values of the one sequence, each exactly
    // once, instead of corrupting the state.
    FreshGenerator();
    std::vector<double> single(2000);
    for (double& v : single) v = CKzRandomGenerator::UniformDist();
    FreshGenerator();
    std::vector<std::vector<double>> parts(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&parts, t] {
            for (int i = 0; i < 500; ++i) parts[t].push_back(CKzRandomGenerator::UniformDist());
        });
    for (auto& th : threads) th.join();
    std::vector<double> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    std::sort(all.begin(), all.end());
    std::sort(single.begin(), single.end());
    EXPECT_EQ(all, single);
    FreshGenerator();
}

TEST(CKzRandomGenerator, DegenerateHostWrittenStateDoesNotHangNormalDeviates)
{
    // A state a host cleared (every entry equal) makes every uniform deviate
    // 0, so no pair ever falls inside the unit circle. The normal deviate must
    // still come back, finite, instead of rejecting pairs for ever.
    const int fills[] = {0, 7, 999999999};
    for (int fill : fills) {
        FreshGenerator();
        CKzRandomGenerator::UniformDist();
        std::fill(std::begin(CKzRandomGenerator::s_pMa), std::end(CKzRandomGenerator::s_pMa), fill);
        CKzRandomGenerator::s_bFl = false;
        for (int i = 0; i < 4; ++i) {
            const double x = CKzRandomGenerator::NormalDist(1, 2);
            EXPECT_TRUE(std::isfinite(x)) << fill;
        }
    }
    FreshGenerator();
}
