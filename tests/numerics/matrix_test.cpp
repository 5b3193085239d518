// Matrix algebra against reference values computed once with numpy (see
// scripts/gen_numerics_reference.py), plus the documented edge cases.
#include "numerics/CKzMatrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
#include "numerics_reference.inc"

// Relative tolerance against the numpy values: the matrices are well
// conditioned enough that 1e-9 relative to the largest magnitude holds.
constexpr double kTol = 1e-9;

CKzMatrix FromRows(unsigned int rows, unsigned int cols, const double* v)
{
    CKzMatrix m(rows, cols);
    for (unsigned int r = 0; r < rows; ++r)
        for (unsigned int c = 0; c < cols; ++c) m[r][c] = v[r * cols + c];
    return m;
}

double MaxAbs(const CKzMatrix& m)
{
    double x = 0;
    for (unsigned int r = 0; r < m.Rows(); ++r)
        for (unsigned int c = 0; c < m.Columns(); ++c) x = std::max(x, std::fabs(m[r][c]));
    return x;
}

void ExpectNear(const CKzMatrix& a, const CKzMatrix& b, double tol)
{
    ASSERT_EQ(a.Rows(), b.Rows());
    ASSERT_EQ(a.Columns(), b.Columns());
    for (unsigned int r = 0; r < a.Rows(); ++r)
        for (unsigned int c = 0; c < a.Columns(); ++c) EXPECT_NEAR(a[r][c], b[r][c], tol) << r << "," << c;
}

bool IsEmpty(const CKzMatrix& m) { return m.Rows() == 0 && m.Columns() == 0 && !m.IsValid(); }

}  // namespace

TEST(CKzMatrix, ConstructionAndAccess)
{
    EXPECT_TRUE(IsEmpty(CKzMatrix()));
    EXPECT_TRUE(IsEmpty(CKzMatrix(0u, 5u)));
    EXPECT_TRUE(IsEmpty(CKzMatrix(nullptr, 0)));
    double v[3] = {1, 2, 3};
    EXPECT_TRUE(IsEmpty(CKzMatrix(v, 0)));
    CKzMatrix col(v, 3);
    ASSERT_EQ(col.Rows(), 3u);
    ASSERT_EQ(col.Columns(), 1u);
    EXPECT_EQ(col[2][0], 3.0);
    EXPECT_EQ(col[3], nullptr);

    CKzMatrix noCols(3, 0);
    EXPECT_EQ(noCols.Rows(), 3u);
    EXPECT_FALSE(noCols.IsValid());

    CKzMatrix d(2, 3, 7.0);
    EXPECT_EQ(d[0][0], 7.0);
    EXPECT_EQ(d[1][1], 7.0);
    EXPECT_EQ(d[1][2], 0.0);
    EXPECT_EQ(d.Minsize(), 2u);

    CKzMatrix copy(d);
    copy[0][0] = 1.0;
    EXPECT_EQ(d[0][0], 7.0);  // deep copy
    copy = copy;
    EXPECT_EQ(copy[0][0], 1.0);
    d.SetZero();  // not square: unchanged
    EXPECT_EQ(d[0][0], 7.0);
    d.SetIdentity();
    EXPECT_EQ(d[0][0], 7.0);
    EXPECT_FALSE(d.IsZero());
    CKzMatrix sq(2, 2, 3.0);
    sq.SetZero();
    EXPECT_TRUE(sq.IsZero());
    sq.SetIdentity();
    EXPECT_EQ(sq[1][1], 1.0);
    EXPECT_EQ(sq[0][1], 0.0);
    EXPECT_TRUE(CKzMatrix().IsZero());
}

TEST(CKzMatrix, AbsurdSizesAreRefusedNotWrapped)
{
    // 70000 x 70000 needs ~39 GB; in 32 bits its size would wrap to a small block.
    CKzMatrix big(70000, 70000);
    EXPECT_TRUE(IsEmpty(big));
    CKzMatrix wide(1, 0xFFFFFFFFu);
    EXPECT_TRUE(IsEmpty(wide));
    CKzMatrix tall(0x20000000u, 1);  // 4 GiB exactly: refused
    EXPECT_TRUE(IsEmpty(tall));
}

TEST(CKzMatrix, Arithmetic)
{
    const double a23[] = {1, 2, 3, 4, 5, 6};
    const double b32[] = {7, 8, 9, 10, 11, 12};
    CKzMatrix a = FromRows(2, 3, a23), b = FromRows(3, 2, b32);
    EXPECT_TRUE(IsEmpty(a + b));
    EXPECT_TRUE(IsEmpty(a - b));
    CKzMatrix p = a * b;
    const double expect[] = {58, 64, 139, 154};
    ExpectNear(p, FromRows(2, 2, expect), 0);
    EXPECT_TRUE(IsEmpty(a * a));
    CKzMatrix s = a + a;
    EXPECT_EQ(s[1][2], 12.0);
    EXPECT_TRUE((a - a).IsZero());
    ExpectNear(a.Trans(), FromRows(3, 2, std::vector<double>{1, 4, 2, 5, 3, 6}.data()), 0);
    CKzMatrix rr = b.ReverseRows();
    EXPECT_EQ(rr[0][0], 11.0);
    EXPECT_EQ(rr[2][1], 8.0);
    EXPECT_EQ(b[0][0], 7.0);
    EXPECT_TRUE(IsEmpty(CKzMatrix().ReverseRows()));

    double v[3] = {1, 2, 3};
    CKzMatrix dc = CKzMatrix(v, 3).Diag();
    ASSERT_EQ(dc.Rows(), 3u);
    EXPECT_EQ(dc[2][2], 3.0);
    EXPECT_EQ(dc[0][1], 0.0);
    CKzMatrix dr = CKzMatrix(v, 3).Trans().Diag();
    ASSERT_EQ(dr.Columns(), 3u);
    EXPECT_EQ(dr[1][1], 2.0);
    EXPECT_TRUE(IsEmpty(a.Diag()));
}

TEST(CKzMatrix, DetAndInvEdgeCases)
{
    const double m1[] = {1, 2, 3, 4};
    EXPECT_NEAR(FromRows(2, 2, m1).Det(), -2.0, 1e-12);
    const double eq[] = {1, 2, 3, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(FromRows(3, 3, eq).Det(), 0.0);
    EXPECT_EQ(CKzMatrix(2, 3).Det(), 0.0);
    EXPECT_EQ(CKzMatrix().Det(), 1.0);  // no rows: the empty product
    const double m2[] = {4, 7, 2, 6};
    const double inv[] = {0.6, -0.7, -0.2, 0.4};
    ExpectNear(FromRows(2, 2, m2).Inv(), FromRows(2, 2, inv), 1e-14);
    const double sing[] = {1, 2, 2, 4};
    EXPECT_TRUE(IsEmpty(FromRows(2, 2, sing).Inv()));
    EXPECT_TRUE(IsEmpty(CKzMatrix(2, 3).Inv()));

    const double tiny[] = {1, 1, 1, 1 + 1e-12};
    CKzMatrix t = FromRows(2, 2, tiny);
    unsigned int idx[2];
    EXPECT_EQ(t.LuDecomposition(idx), 0);
    CKzMatrix zero(2, 2);
    EXPECT_EQ(zero.LuDecomposition(idx), 0);
    CKzMatrix rect(2, 3);
    EXPECT_EQ(rect.LuDecomposition(idx), 0);

    // Pseudo-inverse of a full-column-rank 3x2: P A = I.
    const double a32[] = {1, 2, 3, 4, 5, 7};
    CKzMatrix a = FromRows(3, 2, a32);
    ExpectNear(a.PseudoInv() * a, CKzMatrix(2, 2, 1.0), 1e-12);
    const double rank1[] = {1, 2, 2, 4, 3, 6};
    EXPECT_TRUE(IsEmpty(FromRows(3, 2, rank1).PseudoInv()));
}

TEST(CKzMatrix, DetAndInvAgreeWithNumpy)
{
    for (const auto& c : kSquareCases) {
        SCOPED_TRACE(c.n);
        CKzMatrix a = FromRows(c.n, c.n, c.a);
        EXPECT_NEAR(a.Det(), c.det, kTol * std::max(1.0, std::fabs(c.det)));
        CKzMatrix inv = a.Inv();
        CKzMatrix ref = FromRows(c.n, c.n, c.inv);
        ExpectNear(inv, ref, kTol * std::max(1.0, MaxAbs(ref)));
    }
}

TEST(CKzMatrix, LuReproducesThePermutedMatrix)
{
    for (const auto& c : kSquareCases) {
        SCOPED_TRACE(c.n);
        const unsigned int n = c.n;
        CKzMatrix a = FromRows(n, n, c.a);
        CKzMatrix lu(a);
        std::vector<unsigned int> idx(n);
        int parity = lu.LuDecomposition(idx.data());
        ASSERT_NE(parity, 0);
        // Apply the recorded interchanges to A and compare with L U.
        CKzMatrix pa(a);
        int swaps = 0;
        for (unsigned int j = 0; j < n; ++j) {
            ASSERT_LT(idx[j], n);
            ASSERT_GE(idx[j], j);
            if (idx[j] != j) {
                ++swaps;
                for (unsigned int k = 0; k < n; ++k) std::swap(pa[j][k], pa[idx[j]][k]);
            }
        }
        EXPECT_EQ(parity, swaps % 2 ? -1 : 1);
        CKzMatrix l(n, n, 1.0), u(n, n);
        for (unsigned int i = 0; i < n; ++i)
            for (unsigned int k = 0; k < n; ++k) (k < i ? l[i] : u[i])[k] = lu[i][k];
        ExpectNear(l * u, pa, 1e-12 * std::max(1.0, MaxAbs(a)));

        // And back substitution solves A x = b.
        std::vector<double> b(n), x(n);
        for (unsigned int i = 0; i < n; ++i) b[i] = x[i] = i + 1.0;
        lu.LuBackSubstitution(x.data(), idx.data());
        for (unsigned int i = 0; i < n; ++i) {
            double s = 0;
            for (unsigned int k = 0; k < n; ++k) s += a[i][k] * x[k];
            EXPECT_NEAR(s, b[i], 1e-9);
        }
    }
}

TEST(CKzMatrix, EigenAgreesWithNumpy)
{
    const double m[] = {2, 1, 1, 2};
    CKzMatrix e = FromRows(2, 2, m).Eigen();
    ASSERT_EQ(e.Rows(), 3u);
    std::vector<double> ev = {e[0][0], e[0][1]};
    std::sort(ev.begin(), ev.end());
    EXPECT_NEAR(ev[0], 1.0, 1e-14);
    EXPECT_NEAR(ev[1], 3.0, 1e-14);
    EXPECT_TRUE(IsEmpty(CKzMatrix(2, 3).Eigen()));

    for (const auto& c : kSymmetricCases) {
        SCOPED_TRACE(c.n);
        const unsigned int n = c.n;
        CKzMatrix a = FromRows(n, n, c.a);
        CKzMatrix r = a.Eigen();
        ASSERT_EQ(r.Rows(), n + 1);
        ASSERT_EQ(r.Columns(), n);
        std::vector<double> vals(r[0], r[0] + n);
        std::sort(vals.begin(), vals.end());
        for (unsigned int i = 0; i < n; ++i) EXPECT_NEAR(vals[i], c.eigenvalues[i], kTol * 10);
        // Columns are unit eigenvectors: A v = lambda v, V^T V = I.
        for (unsigned int k = 0; k < n; ++k) {
            double norm = 0;
            for (unsigned int i = 0; i < n; ++i) {
                double av = 0;
                for (unsigned int j = 0; j < n; ++j) av += a[i][j] * r[j + 1][k];
                EXPECT_NEAR(av, r[0][k] * r[i + 1][k], 1e-9);
                norm += r[i + 1][k] * r[i + 1][k];
            }
            EXPECT_NEAR(norm, 1.0, 1e-12);
        }
    }
}

TEST(CKzMatrix, SvdAgreesWithNumpyAndReconstructs)
{
    for (const auto& c : kSvdCases) {
        SCOPED_TRACE(testing::Message() << c.m << "x" << c.n);
        CKzMatrix a = FromRows(c.m, c.n, c.a);
        CKzMatrix u(a), w(5, 5), v;
        u.Svd(w, v, true);
        ASSERT_EQ(w.Rows(), c.n);
        ASSERT_EQ(w.Columns(), 1u);
        ASSERT_EQ(v.Rows(), c.n);
        ASSERT_EQ(v.Columns(), c.n);
        ASSERT_EQ(u.Rows(), c.m);
        const unsigned int k = std::min(c.m, c.n);
        for (unsigned int i = 0; i < c.n; ++i) {
            EXPECT_GE(w[i][0], 0.0);
            if (i + 1 < c.n) EXPECT_GE(w[i][0], w[i + 1][0]);
            // m < n: the extra values are zero.
            const double ref = i < k ? c.w[i] : 0.0;
            EXPECT_NEAR(w[i][0], ref, kTol * c.w[0]);
        }
        // The iteration drops superdiagonal elements below 1e-10 of the norm,
        // so the product is exact to about that relative size.
        ExpectNear(u * w.Diag() * v.Trans(), a, 10 * CKzMatrix::c_dEpsilon * c.w[0]);
        ExpectNear(v.Trans() * v, CKzMatrix(c.n, c.n, 1.0), 1e-12);
    }
    // Unordered decomposition still reconstructs.
    const double m32[] = {1, 2, 3, 4, 5, 6};
    CKzMatrix a = FromRows(3, 2, m32), u(a), w, v;
    u.Svd(w, v, false);
    ExpectNear(u * w.Diag() * v.Trans(), a, 1e-12);
    // Nothing to decompose: the outputs are not touched.
    CKzMatrix empty, w2(1, 1, 9.0), v2(1, 1, 9.0);
    empty.Svd(w2, v2, true);
    EXPECT_EQ(w2[0][0], 9.0);
    EXPECT_EQ(v2[0][0], 9.0);
}

TEST(CKzMatrix, SvdThatDoesNotConvergeReportsFailure)
{
    // NaN never passes the convergence test: the result is the empty matrix
    // everywhere instead of a half-done decomposition that looks valid.
    const double m[] = {1, 2, NAN, 4, 5, 6};
    CKzMatrix u = FromRows(3, 2, m), w, v(2, 2, 1.0);
    u.Svd(w, v, true);
    EXPECT_TRUE(IsEmpty(u));
    EXPECT_TRUE(IsEmpty(w));
    EXPECT_TRUE(IsEmpty(v));
}

TEST(CKzMatrix, SvdOrderMovesColumnsWithValues)
{
    double wv[] = {1, 5, 3, 5, 2};
    CKzMatrix w(wv, 5), v(2, 5), u(3, 5);
    for (unsigned int c = 0; c < 5; ++c) {
        v[0][c] = v[1][c] = wv[c];
        u[2][c] = wv[c] * 10;
    }
    u.SvdOrder(w, v, 0, 5);
    const double expect[] = {5, 5, 3, 2, 1};
    for (unsigned int i = 0; i < 5; ++i) {
        EXPECT_EQ(w[i][0], expect[i]);
        EXPECT_EQ(v[1][i], expect[i]);
        EXPECT_EQ(u[2][i], expect[i] * 10);
    }
    // Out-of-range bounds are clamped, not followed.
    u.SvdOrder(w, v, -3, 99);
    EXPECT_EQ(w[0][0], 5.0);
}

TEST(CKzMatrix, Pythag)
{
    EXPECT_EQ(CKzMatrix::Pythag(3, 4), 5.0);
    EXPECT_EQ(CKzMatrix::Pythag(0, 0), 0.0);
    EXPECT_NEAR(CKzMatrix::Pythag(1e300, 1e300), std::sqrt(2.0) * 1e300, 1e286);
}

TEST(CKzMatrix, DecomposedMatrixCopiesAndSavesItsOwnValues)
{
    // Pivoting exchanges rows; the decomposed matrix must still be one block of
    // values row after row, so copies, sums and the stored bytes see the same
    // values as operator[] does.
    const double v[] = {1, 2, 0, 3, 4, 5, 6, 7, 9};
    CKzMatrix lu = FromRows(3, 3, v);
    unsigned int idx[3];
    ASSERT_NE(lu.LuDecomposition(idx), 0);
    ASSERT_NE(idx[0], 0u);  // the case needs an interchange
    const CKzMatrix copy(lu);
    ExpectNear(copy, lu, 0.0);
    const CKzMatrix zero(3, 3);
    ExpectNear(lu + zero, lu, 0.0);
    EXPECT_FALSE(lu.IsZero());
    lu.SetZero();
    for (unsigned int r = 0; r < 3; ++r)
        for (unsigned int c = 0; c < 3; ++c) EXPECT_EQ(lu[r][c], 0.0) << r << "," << c;
}
