#include "numerics/CKzMatrix.h"

#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzVariant.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

const double CKzMatrix::c_dEpsilon = 1e-10;
const unsigned int CKzMatrix::c_uiSvdIter = 30;
// The block holds one pointer per row and the values; it must stay below 4 GiB.
const u64 CKzMatrix::c_ullMaxBlockBytes = 0xFFFFFFFFull;

namespace {

// Size in bytes of the block for rows x columns, 0 when refused.
u64 BlockBytes(unsigned int rows, unsigned int columns)
{
    const u64 bytes = static_cast<u64>(rows) * (static_cast<u64>(columns) + 1) * 8u;
    return bytes > CKzMatrix::c_ullMaxBlockBytes ? 0 : bytes;
}

inline double Sign(double a, double b) { return b >= 0.0 ? std::fabs(a) : -std::fabs(a); }

}  // namespace

CKzMatrix::CKzMatrix() : m_ppData(nullptr), m_uiRows(0), m_uiColumns(0) {}

CKzMatrix::CKzMatrix(unsigned int rows, unsigned int columns) : CKzMatrix()
{
    Allocate(rows, columns);
}

CKzMatrix::CKzMatrix(unsigned int rows, unsigned int columns, double value) : CKzMatrix()
{
    if (Allocate(rows, columns) && columns != 0) {
        const unsigned int n = Minsize();
        for (unsigned int i = 0; i < n; ++i) m_ppData[i][i] = value;
    }
}

CKzMatrix::CKzMatrix(double* values, unsigned int count) : CKzMatrix()
{
    if (values == nullptr || count == 0) return;
    if (Allocate(count, 1)) std::memcpy(m_ppData[0], values, static_cast<size_t>(count) * sizeof(double));
}

CKzMatrix::CKzMatrix(const CKzMatrix& other) : CKzMatrix()
{
    *this = other;
}

CKzMatrix& CKzMatrix::operator=(const CKzMatrix& other)
{
    if (this == &other) return *this;
    Release();
    if (other.m_ppData == nullptr) return *this;
    if (Allocate(other.m_uiRows, other.m_uiColumns) && m_uiColumns != 0)
        std::memcpy(m_ppData[0], other.m_ppData[0],
                    static_cast<size_t>(m_uiRows) * m_uiColumns * sizeof(double));
    return *this;
}

CKzMatrix::~CKzMatrix() { Release(); }

bool CKzMatrix::Allocate(unsigned int rows, unsigned int columns)
{
    Release();
    if (rows == 0) return false;
    const u64 bytes = BlockBytes(rows, columns);
    if (bytes == 0) return false;
    void* block = std::calloc(1, static_cast<size_t>(bytes));
    if (block == nullptr) return false;
    m_ppData = static_cast<double**>(block);
    double* values = reinterpret_cast<double*>(m_ppData + rows);
    for (unsigned int r = 0; r < rows; ++r) m_ppData[r] = values + static_cast<size_t>(r) * columns;
    m_uiRows = rows;
    m_uiColumns = columns;
    return true;
}

void CKzMatrix::Release()
{
    std::free(m_ppData);
    m_ppData = nullptr;
    m_uiRows = 0;
    m_uiColumns = 0;
}

double* CKzMatrix::operator[](unsigned int row)
{
    return (m_ppData != nullptr && row < m_uiRows) ? m_ppData[row] : nullptr;
}

const double* CKzMatrix::operator[](unsigned int row) const
{
    return (m_ppData != nullptr && row < m_uiRows) ? m_ppData[row] : nullptr;
}

void CKzMatrix::SetIdentity()
{
    if (m_ppData == nullptr || m_uiRows != m_uiColumns) return;
    for (unsigned int r = 0; r < m_uiRows; ++r)
        for (unsigned int c = 0; c < m_uiColumns; ++c) m_ppData[r][c] = (r == c) ? 1.0 : 0.0;
}

void CKzMatrix::SetZero()
{
    if (m_ppData == nullptr || m_uiRows != m_uiColumns) return;
    std::memset(m_ppData[0], 0, static_cast<size_t>(m_uiRows) * m_uiColumns * sizeof(double));
}

bool CKzMatrix::IsZero() const
{
    if (m_uiRows == 0 || m_ppData == nullptr) return true;
    const size_t n = static_cast<size_t>(m_uiRows) * m_uiColumns;
    const double* v = m_ppData[0];
    for (size_t i = 0; i < n; ++i)
        if (v[i] != 0.0) return false;
    return true;
}

// Element by element over two matrices of one shape; the empty matrix otherwise.
template <class Op>
CKzMatrix CKzMatrix::elementwise(const CKzMatrix& b, Op op) const
{
    CKzMatrix r;
    if (!IsValid() || !b.IsValid() || m_uiRows != b.m_uiRows || m_uiColumns != b.m_uiColumns) return r;
    if (!r.Allocate(m_uiRows, m_uiColumns)) return r;
    const size_t n = static_cast<size_t>(m_uiRows) * m_uiColumns;
    const double* x = m_ppData[0];
    const double* y = b.m_ppData[0];
    double* z = r.m_ppData[0];
    for (size_t i = 0; i < n; ++i) z[i] = op(x[i], y[i]);
    return r;
}

CKzMatrix CKzMatrix::operator+(const CKzMatrix& b) const
{
    return elementwise(b, [](double x, double y) { return x + y; });
}

CKzMatrix CKzMatrix::operator-(const CKzMatrix& b) const
{
    return elementwise(b, [](double x, double y) { return x - y; });
}

CKzMatrix CKzMatrix::operator*(const CKzMatrix& b) const
{
    CKzMatrix r;
    if (!IsValid() || !b.IsValid() || m_uiColumns != b.m_uiRows) return r;
    if (!r.Allocate(m_uiRows, b.m_uiColumns)) return r;
    for (unsigned int i = 0; i < m_uiRows; ++i) {
        double* out = r.m_ppData[i];
        for (unsigned int k = 0; k < m_uiColumns; ++k) {
            // Accumulating row by row keeps the sum over k in ascending order
            // for every element and the inner loop contiguous.
            const double a = m_ppData[i][k];
            const double* row = b.m_ppData[k];
            for (unsigned int j = 0; j < b.m_uiColumns; ++j) out[j] += a * row[j];
        }
    }
    return r;
}

CKzMatrix CKzMatrix::Trans() const
{
    CKzMatrix r;
    if (!IsValid() || !r.Allocate(m_uiColumns, m_uiRows)) return r;
    for (unsigned int i = 0; i < m_uiRows; ++i)
        for (unsigned int j = 0; j < m_uiColumns; ++j) r.m_ppData[j][i] = m_ppData[i][j];
    return r;
}

CKzMatrix CKzMatrix::ReverseRows() const
{
    CKzMatrix r;
    if (!IsValid() || !r.Allocate(m_uiRows, m_uiColumns)) return r;
    for (unsigned int i = 0; i < m_uiRows; ++i)
        std::memcpy(r.m_ppData[i], m_ppData[m_uiRows - 1 - i], static_cast<size_t>(m_uiColumns) * sizeof(double));
    return r;
}

CKzMatrix CKzMatrix::Diag() const
{
    CKzMatrix r;
    if (!IsValid()) return r;
    if (m_uiColumns == 1) {
        if (r.Allocate(m_uiRows, m_uiRows))
            for (unsigned int i = 0; i < m_uiRows; ++i) r.m_ppData[i][i] = m_ppData[i][0];
    } else if (m_uiRows == 1) {
        if (r.Allocate(m_uiColumns, m_uiColumns))
            for (unsigned int i = 0; i < m_uiColumns; ++i) r.m_ppData[i][i] = m_ppData[0][i];
    }
    return r;
}

double CKzMatrix::Det() const
{
    if (m_uiRows != m_uiColumns) return 0.0;
    if (m_uiRows == 0 || m_ppData == nullptr) return 1.0;
    CKzMatrix a(*this);
    if (!a.IsValid()) return 0.0;
    double d = a.LuDecomposition(nullptr);
    for (unsigned int i = 0; i < m_uiRows; ++i) d *= a.m_ppData[i][i];
    return d;
}

CKzMatrix CKzMatrix::Inv() const
{
    CKzMatrix r;
    if (!IsValid() || m_uiRows != m_uiColumns) return r;
    const unsigned int n = m_uiRows;
    CKzMatrix a(*this);
    if (!a.IsValid()) return r;
    unsigned int* index = static_cast<unsigned int*>(std::malloc(sizeof(unsigned int) * n));
    double* col = static_cast<double*>(std::malloc(sizeof(double) * n));
    if (index != nullptr && col != nullptr && a.LuDecomposition(index) != 0 && r.Allocate(n, n)) {
        for (unsigned int j = 0; j < n; ++j) {
            for (unsigned int i = 0; i < n; ++i) col[i] = 0.0;
            col[j] = 1.0;
            a.LuBackSubstitution(col, index);
            for (unsigned int i = 0; i < n; ++i) r.m_ppData[i][j] = col[i];
        }
    }
    std::free(index);
    std::free(col);
    return r;
}

CKzMatrix CKzMatrix::PseudoInv() const
{
    const CKzMatrix t = Trans();
    const CKzMatrix gram = (t * *this).Inv();
    return gram * t;
}

int CKzMatrix::LuDecomposition(unsigned int* index)
{
    if (m_ppData == nullptr || m_uiRows != m_uiColumns || m_uiRows == 0) return 0;
    const unsigned int n = m_uiRows;
    double* scale = static_cast<double*>(std::malloc(sizeof(double) * n));
    if (scale == nullptr) return 0;
    double** a = m_ppData;
    int parity = 1;

    // The running maximum is deliberately not reset between rows: the scale of
    // row i is the reciprocal of the largest magnitude in rows 0..i.
    double big = 0.0;
    for (unsigned int i = 0; i < n; ++i) {
        for (unsigned int j = 0; j < n; ++j) {
            const double t = std::fabs(a[i][j]);
            if (t > big) big = t;
        }
        if (big == 0.0) {
            std::free(scale);
            return 0;
        }
        scale[i] = 1.0 / big;
    }

    for (unsigned int j = 0; j < n; ++j) {
        for (unsigned int i = 0; i < j; ++i) {
            double sum = a[i][j];
            for (unsigned int k = 0; k < i; ++k) sum -= a[i][k] * a[k][j];
            a[i][j] = sum;
        }
        double best = 0.0;
        unsigned int imax = j;
        for (unsigned int i = j; i < n; ++i) {
            double sum = a[i][j];
            for (unsigned int k = 0; k < j; ++k) sum -= a[i][k] * a[k][j];
            a[i][j] = sum;
            const double dum = scale[i] * std::fabs(sum);
            if (dum >= best) {
                best = dum;
                imax = i;
            }
        }
        if (j != imax) {
            // The values are exchanged, not the row pointers: the block must
            // stay row after row for copies, sums and the stored bytes.
            std::swap_ranges(a[imax], a[imax] + n, a[j]);
            std::swap(scale[imax], scale[j]);
            parity = -parity;
        }
        if (index != nullptr) index[j] = imax;
        if (std::fabs(a[j][j]) < c_dEpsilon) {
            std::free(scale);
            return 0;
        }
        if (j + 1 != n) {
            const double dum = 1.0 / a[j][j];
            for (unsigned int i = j + 1; i < n; ++i) a[i][j] *= dum;
        }
    }
    std::free(scale);
    return parity;
}

void CKzMatrix::LuBackSubstitution(double* b, unsigned int* index) const
{
    if (b == nullptr || index == nullptr || m_ppData == nullptr || m_uiRows != m_uiColumns) return;
    const unsigned int n = m_uiRows;
    double** a = m_ppData;
    bool started = false;
    unsigned int first = 0;
    for (unsigned int i = 0; i < n; ++i) {
        const unsigned int ip = index[i];
        if (ip >= n) return;  // not a record of this matrix's decomposition
        double sum = b[ip];
        b[ip] = b[i];
        if (started) {
            for (unsigned int k = first; k < i; ++k) sum -= a[i][k] * b[k];
        } else if (sum != 0.0) {
            started = true;
            first = i;
        }
        b[i] = sum;
    }
    for (unsigned int i = n; i-- > 0;) {
        double sum = b[i];
        for (unsigned int k = i + 1; k < n; ++k) sum -= a[i][k] * b[k];
        b[i] = sum / a[i][i];
    }
}

CKzMatrix CKzMatrix::Eigen() const
{
    CKzMatrix result;
    if (!IsValid() || m_uiRows != m_uiColumns) return result;
    const unsigned int n = m_uiRows;
    CKzMatrix a(*this);
    if (!a.IsValid() || !result.Allocate(n + 1, n)) return CKzMatrix();
    double* d = result.m_ppData[0];
    double** v = result.m_ppData + 1;
    double* b = static_cast<double*>(std::malloc(sizeof(double) * n));
    double* z = static_cast<double*>(std::calloc(n, sizeof(double)));
    if (b == nullptr || z == nullptr) {
        std::free(b);
        std::free(z);
        return CKzMatrix();
    }
    for (unsigned int i = 0; i < n; ++i) {
        v[i][i] = 1.0;
        b[i] = d[i] = a.m_ppData[i][i];
    }
    double** A = a.m_ppData;
    const unsigned int n2 = n * n;  // 32-bit as the threshold formula expects

    auto rotate = [](double& x, double& y, double s, double tau) {
        const double g = x;
        const double h = y;
        x = g - s * (h + g * tau);
        y = h + s * (g - h * tau);
    };

    bool converged = false;
    for (unsigned int sweep = 0; sweep < 50; ++sweep) {
        double sm = 0.0;
        for (unsigned int p = 0; p + 1 < n; ++p)
            for (unsigned int q = p + 1; q < n; ++q) sm += std::fabs(A[p][q]);
        if (sm == 0.0) {
            converged = true;
            break;
        }
        const double tresh = sweep <= 3 ? 0.2 * sm / n2 : 0.0;
        for (unsigned int p = 0; p + 1 < n; ++p) {
            for (unsigned int q = p + 1; q < n; ++q) {
                const double g = 100.0 * std::fabs(A[p][q]);
                if (sweep > 4 && std::fabs(d[p]) + g == std::fabs(d[p]) && std::fabs(d[q]) + g == std::fabs(d[q])) {
                    A[p][q] = 0.0;
                } else if (std::fabs(A[p][q]) > tresh) {
                    double h = d[q] - d[p];
                    double t;
                    if (std::fabs(h) + g == std::fabs(h)) {
                        t = A[p][q] / h;
                    } else {
                        const double theta = 0.5 * h / A[p][q];
                        t = 1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
                        if (theta < 0.0) t = -t;
                    }
                    const double c = 1.0 / std::sqrt(1.0 + t * t);
                    const double s = t * c;
                    const double tau = s / (1.0 + c);
                    h = t * A[p][q];
                    z[p] -= h;
                    z[q] += h;
                    d[p] -= h;
                    d[q] += h;
                    A[p][q] = 0.0;
                    for (unsigned int j = 0; j < p; ++j) rotate(A[j][p], A[j][q], s, tau);
                    for (unsigned int j = p + 1; j < q; ++j) rotate(A[p][j], A[j][q], s, tau);
                    for (unsigned int j = q + 1; j < n; ++j) rotate(A[p][j], A[q][j], s, tau);
                    for (unsigned int j = 0; j < n; ++j) rotate(v[j][p], v[j][q], s, tau);
                }
            }
        }
        for (unsigned int i = 0; i < n; ++i) {
            b[i] += z[i];
            d[i] = b[i];
            z[i] = 0.0;
        }
    }
    std::free(b);
    std::free(z);
    if (!converged) return CKzMatrix();
    return result;
}

double CKzMatrix::Pythag(double a, double b)
{
    const double absa = std::fabs(a);
    const double absb = std::fabs(b);
    if (absa > absb) {
        const double r = absb / absa;
        return absa * std::sqrt(1.0 + r * r);
    }
    if (absb == 0.0) return 0.0;
    const double r = absa / absb;
    return absb * std::sqrt(1.0 + r * r);
}

void CKzMatrix::SwapColumns(unsigned int x, unsigned int y)
{
    if (m_ppData == nullptr || x >= m_uiColumns || y >= m_uiColumns) return;
    for (unsigned int r = 0; r < m_uiRows; ++r) std::swap(m_ppData[r][x], m_ppData[r][y]);
}

CKzMatrix& CKzMatrix::Svd(CKzMatrix& W, CKzMatrix& V, bool order)
{
    if (!IsValid()) return *this;
    const unsigned int m = m_uiRows;
    const unsigned int n = m_uiColumns;
    CKzMatrix wm(n, 1);
    CKzMatrix vm(n, n);
    double* rv1 = static_cast<double*>(std::calloc(n, sizeof(double)));
    if (!wm.IsValid() || !vm.IsValid() || rv1 == nullptr) {
        std::free(rv1);
        Release();
        W = CKzMatrix();
        V = CKzMatrix();
        return *this;
    }
    double** a = m_ppData;
    double* w = wm.m_ppData[0];  // n x 1: the values are contiguous
    double** v = vm.m_ppData;

    // Householder reduction to bidiagonal form.
    double g = 0.0, scale = 0.0, anorm = 0.0;
    unsigned int l = 0;
    for (unsigned int i = 0; i < n; ++i) {
        l = i + 1;
        rv1[i] = scale * g;
        g = 0.0;
        double s = 0.0;
        scale = 0.0;
        if (i < m) {
            for (unsigned int k = i; k < m; ++k) scale += std::fabs(a[k][i]);
            if (scale != 0.0) {
                for (unsigned int k = i; k < m; ++k) {
                    a[k][i] /= scale;
                    s += a[k][i] * a[k][i];
                }
                double f = a[i][i];
                g = -Sign(std::sqrt(s), f);
                const double h = f * g - s;
                a[i][i] = f - g;
                for (unsigned int j = l; j < n; ++j) {
                    s = 0.0;
                    for (unsigned int k = i; k < m; ++k) s += a[k][i] * a[k][j];
                    f = s / h;
                    for (unsigned int k = i; k < m; ++k) a[k][j] += f * a[k][i];
                }
                for (unsigned int k = i; k < m; ++k) a[k][i] *= scale;
            }
        }
        w[i] = scale * g;
        g = 0.0;
        s = 0.0;
        scale = 0.0;
        if (i < m && i + 1 != n) {
            for (unsigned int k = l; k < n; ++k) scale += std::fabs(a[i][k]);
            if (scale != 0.0) {
                for (unsigned int k = l; k < n; ++k) {
                    a[i][k] /= scale;
                    s += a[i][k] * a[i][k];
                }
                const double f = a[i][l];
                g = -Sign(std::sqrt(s), f);
                const double h = f * g - s;
                a[i][l] = f - g;
                for (unsigned int k = l; k < n; ++k) rv1[k] = a[i][k] / h;
                for (unsigned int j = l; j < m; ++j) {
                    s = 0.0;
                    for (unsigned int k = l; k < n; ++k) s += a[j][k] * a[i][k];
                    for (unsigned int k = l; k < n; ++k) a[j][k] += s * rv1[k];
                }
                for (unsigned int k = l; k < n; ++k) a[i][k] *= scale;
            }
        }
        const double nrm = std::fabs(w[i]) + std::fabs(rv1[i]);
        if (nrm > anorm) anorm = nrm;
    }
    // Accumulation of the right-hand transformations.
    for (unsigned int i = n; i-- > 0;) {
        if (i + 1 < n) {
            if (g != 0.0) {
                for (unsigned int j = l; j < n; ++j) v[j][i] = (a[i][j] / a[i][l]) / g;
                for (unsigned int j = l; j < n; ++j) {
                    double s = 0.0;
                    for (unsigned int k = l; k < n; ++k) s += a[i][k] * v[k][j];
                    for (unsigned int k = l; k < n; ++k) v[k][j] += s * v[k][i];
                }
            }
            for (unsigned int j = l; j < n; ++j) v[i][j] = v[j][i] = 0.0;
        }
        v[i][i] = 1.0;
        g = rv1[i];
        l = i;
    }
    // Accumulation of the left-hand transformations.
    for (unsigned int i = (m < n ? m : n); i-- > 0;) {
        l = i + 1;
        g = w[i];
        for (unsigned int j = l; j < n; ++j) a[i][j] = 0.0;
        if (g != 0.0) {
            g = 1.0 / g;
            for (unsigned int j = l; j < n; ++j) {
                double s = 0.0;
                for (unsigned int k = l; k < m; ++k) s += a[k][i] * a[k][j];
                const double f = (s / a[i][i]) * g;
                for (unsigned int k = i; k < m; ++k) a[k][j] += f * a[k][i];
            }
            for (unsigned int j = i; j < m; ++j) a[j][i] *= g;
        } else {
            for (unsigned int j = i; j < m; ++j) a[j][i] = 0.0;
        }
        ++a[i][i];
    }

    // Diagonalisation of the bidiagonal form.
    const double tol = c_dEpsilon * anorm;
    bool failed = false;
    for (unsigned int k = n; k-- > 0 && !failed;) {
        for (unsigned int its = 0;; ++its) {
            bool flag = true;
            unsigned int nm = 0;
            for (l = k + 1; l-- > 0;) {
                if (l == 0 || std::fabs(rv1[l]) <= tol) {
                    flag = false;
                    break;
                }
                nm = l - 1;
                if (std::fabs(w[nm]) <= tol) break;
            }
            if (flag) {
                double c = 0.0, s = 1.0;
                for (unsigned int i = l; i <= k; ++i) {
                    const double f = s * rv1[i];
                    rv1[i] = c * rv1[i];
                    if (std::fabs(f) <= tol) break;
                    g = w[i];
                    double h = Pythag(f, g);
                    w[i] = h;
                    h = 1.0 / h;
                    c = g * h;
                    s = -f * h;
                    for (unsigned int j = 0; j < m; ++j) {
                        const double y = a[j][nm];
                        const double z = a[j][i];
                        a[j][nm] = y * c + z * s;
                        a[j][i] = z * c - y * s;
                    }
                }
            }
            double z = w[k];
            if (l == k) {
                if (z < 0.0) {
                    w[k] = -z;
                    for (unsigned int j = 0; j < n; ++j) v[j][k] = -v[j][k];
                }
                break;
            }
            if (its >= c_uiSvdIter) {
                failed = true;
                break;
            }
            double x = w[l];
            nm = k - 1;
            double y = w[nm];
            g = rv1[nm];
            double h = rv1[k];
            double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
            g = Pythag(f, 1.0);
            f = ((x - z) * (x + z) + h * ((y / (f + Sign(g, f))) - h)) / x;
            double c = 1.0, s = 1.0;
            for (unsigned int j = l; j <= nm; ++j) {
                const unsigned int i = j + 1;
                g = rv1[i];
                y = w[i];
                h = s * g;
                g = c * g;
                z = Pythag(f, h);
                rv1[j] = z;
                c = f / z;
                s = h / z;
                f = x * c + g * s;
                g = g * c - x * s;
                h = y * s;
                y *= c;
                for (unsigned int jj = 0; jj < n; ++jj) {
                    x = v[jj][j];
                    z = v[jj][i];
                    v[jj][j] = x * c + z * s;
                    v[jj][i] = z * c - x * s;
                }
                z = Pythag(f, h);
                w[j] = z;
                if (z != 0.0) {
                    z = 1.0 / z;
                    c = f * z;
                    s = h * z;
                }
                f = c * g + s * y;
                x = c * y - s * g;
                for (unsigned int jj = 0; jj < m; ++jj) {
                    y = a[jj][j];
                    z = a[jj][i];
                    a[jj][j] = y * c + z * s;
                    a[jj][i] = z * c - y * s;
                }
            }
            rv1[l] = 0.0;
            rv1[k] = f;
            w[k] = x;
        }
    }
    std::free(rv1);
    if (failed) {
        // A decomposition that did not converge is no decomposition: report it
        // the way every matrix operation reports failure.
        Release();
        W = CKzMatrix();
        V = CKzMatrix();
        return *this;
    }
    W = wm;
    V = vm;
    if (order) SvdOrder(W, V, 0, static_cast<int>(n));
    return *this;
}

void CKzMatrix::SvdOrder(CKzMatrix& W, CKzMatrix& V, int first, int end)
{
    if (!W.IsValid() || W.m_uiColumns < 1) return;
    if (first < 0) first = 0;
    if (end > static_cast<int>(W.m_uiRows)) end = static_cast<int>(W.m_uiRows);
    // Iterative over the larger part, recursive over the smaller, so the depth
    // stays logarithmic whatever the values.
    while (first + 1 < end) {
        const double pivot = W.m_ppData[first][0];
        int i = first + 1;
        int j = end;
        while (i < j) {
            if (W.m_ppData[i][0] >= pivot) {
                ++i;
            } else {
                --j;
                std::swap(W.m_ppData[i][0], W.m_ppData[j][0]);
                V.SwapColumns(static_cast<unsigned int>(i), static_cast<unsigned int>(j));
                SwapColumns(static_cast<unsigned int>(i), static_cast<unsigned int>(j));
            }
        }
        --i;
        std::swap(W.m_ppData[first][0], W.m_ppData[i][0]);
        V.SwapColumns(static_cast<unsigned int>(first), static_cast<unsigned int>(i));
        SwapColumns(static_cast<unsigned int>(first), static_cast<unsigned int>(i));
        if (i - first < end - j) {
            SvdOrder(W, V, first, i);
            first = j;
        } else {
            SvdOrder(W, V, j, end);
            end = i;
        }
    }
}

// ---------------------------------------------------------------------------
// Persistence

kz_result CKzMatrix::LoadValues(unsigned int rows, unsigned int columns, const void* bytes, u64 size)
{
    Release();
    if (rows == 0) return KZ_OK;  // nothing stored: the empty matrix
    const u64 count = static_cast<u64>(rows) * columns;
    if (count == 0) return KZ_OK;  // rows without columns hold no values
    // Fewer bytes than the announced size: a damaged record. The allocation is
    // thereby bounded by what the stored data really holds.
    if (count > (1ull << 59) || bytes == nullptr || size < count * 8u) return KZ_ERR_FAILED;
    if (!Allocate(rows, columns)) return KZ_ERR_OUT_OF_MEMORY;
    std::memcpy(m_ppData[0], bytes, static_cast<size_t>(count * 8u));
    return KZ_OK;
}

kz_result CKzMatrix::SaveToLiteVariant(CKzLiteVariantW& writer) const
{
    writer.Set(m_uiColumns, L"Columns");
    writer.Set(m_uiRows, L"Rows");
    const u64 count = static_cast<u64>(m_uiRows) * m_uiColumns;
    if (count != 0 && m_ppData != nullptr) {
        const unsigned long size = static_cast<unsigned long>(count * 8u);
        writer.Set(static_cast<const void*>(m_ppData[0]), size, L"Data");
    }
    return KZ_OK;
}

kz_result CKzMatrix::LoadFromLiteVariant(CKzLiteVariantR& reader)
{
    Release();
    const unsigned int columns = reader.Get(L"Columns", 0u);
    const unsigned int rows = reader.Get(L"Rows", 0u);
    if (rows == 0) return KZ_OK;
    unsigned long size = 0;
    const void* data = reader.Get(L"Data", &size);
    return LoadValues(rows, columns, data, size);
}

kz_result CKzMatrix::SaveToVariant(CKzVariant& variant) const
{
    variant.Append(CKzVariant(m_uiColumns, L"Columns"));
    variant.Append(CKzVariant(m_uiRows, L"Rows"));
    const u64 count = static_cast<u64>(m_uiRows) * m_uiColumns;
    if (count != 0 && m_ppData != nullptr) {
        const CKzByteArray bytes(m_ppData[0], static_cast<unsigned long>(count * 8u), 1024);
        variant.Append(CKzVariant(bytes, L"Data"));
    }
    return KZ_OK;
}

kz_result CKzMatrix::LoadFromVariant(CKzVariant& variant)
{
    Release();
    const CKzVariant& v = variant;
    const unsigned int columns = v[L"Columns"].GetKz_uint32();
    const unsigned int rows = v[L"Rows"].GetKz_uint32();
    if (rows == 0) return KZ_OK;
    const CKzVariant& data = v[L"Data"];
    // Read the bytes in place when the member holds a byte array.
    if (data.GetRunType() == CKzVariantRunType("CKzByteArray")) {
        const CKzByteArray* bytes = static_cast<const CKzByteArray*>(data.GetValueVoidPtr());
        if (bytes != nullptr) return LoadValues(rows, columns, bytes->GetData(), bytes->GetSize());
    }
    const CKzByteArray copy = data.GetCKzByteArray();
    return LoadValues(rows, columns, copy.GetData(), copy.GetSize());
}
