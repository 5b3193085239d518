// Dense row-major matrix of doubles: the algebra of stage alignment, the
// camera-to-stage matrix of sample settings and the roots of polynomials.
// Every operation that yields a matrix gives the empty matrix (no rows, no
// columns, no storage) when it cannot produce a result.
#pragma once

#include "gnr_system/kz_base.h"

class CKzVariant;
class CKzLiteVariantW;
class CKzLiteVariantR;

class KZ_EXPORT CKzMatrix {
public:
    // Pivot threshold of the LU decomposition and relative tolerance of Svd.
    static const double c_dEpsilon;
    // QR iterations allowed per singular value.
    static const unsigned int c_uiSvdIter;
    // Largest storage block (row pointers plus values) a matrix may have.
    static const u64 c_ullMaxBlockBytes;

    CKzMatrix();
    // rows x columns zeros; 0 rows gives the empty matrix, 0 columns with rows
    // gives row pointers without values (not valid). Sizes whose block would
    // reach c_ullMaxBlockBytes are refused (empty matrix).
    CKzMatrix(unsigned int rows, unsigned int columns);
    // Zeros with `value` on the first min(rows, columns) diagonal places.
    CKzMatrix(unsigned int rows, unsigned int columns, double value);
    // count x 1 column holding a copy of the values; null or 0 gives empty.
    CKzMatrix(double* values, unsigned int count);
    CKzMatrix(const CKzMatrix& other);
    CKzMatrix& operator=(const CKzMatrix& other);
    virtual ~CKzMatrix();

    // Row values, null when the row is out of range.
    double* operator[](unsigned int row);
    const double* operator[](unsigned int row) const;

    unsigned int Rows() const { return m_uiRows; }
    unsigned int Columns() const { return m_uiColumns; }
    unsigned int Minsize() const { return m_uiRows < m_uiColumns ? m_uiRows : m_uiColumns; }
    bool IsValid() const { return m_ppData != nullptr && m_uiRows != 0 && m_uiColumns != 0; }

    void SetIdentity();
    void SetZero();
    bool IsZero() const;

    CKzMatrix operator+(const CKzMatrix& b) const;
    CKzMatrix operator-(const CKzMatrix& b) const;
    CKzMatrix operator*(const CKzMatrix& b) const;
    CKzMatrix Trans() const;
    CKzMatrix ReverseRows() const;
    CKzMatrix Diag() const;
    double Det() const;
    CKzMatrix Inv() const;
    CKzMatrix PseudoInv() const;
    // Jacobi eigen decomposition of a symmetric matrix: row 0 the eigenvalues
    // (unsorted), rows 1..n the eigenvectors as columns.
    CKzMatrix Eigen() const;

    // In place LU decomposition with implicit scaled partial pivoting; returns
    // the parity (+1/-1) or 0 on failure. `index` (n entries) may be null.
    int LuDecomposition(unsigned int* index);
    // Solves A x = b in place over the decomposed matrix (b and index: n entries).
    void LuBackSubstitution(double* b, unsigned int* index) const;

    static double Pythag(double a, double b);

    // Singular value decomposition in place: this (m x n) becomes U, w the
    // n x 1 singular values, v the n x n matrix V, input = U diag(w) V^T.
    // When the iteration does not converge, this matrix, w and v all become
    // the empty matrix, which is how the failure is reported.
    CKzMatrix& Svd(CKzMatrix& w, CKzMatrix& v, bool order);
    // Sorts rows first..end-1 of the column w in descending order, exchanging
    // the same columns of v and of this matrix.
    void SvdOrder(CKzMatrix& w, CKzMatrix& v, int first, int end);

    // Persistence: keys "Columns", "Rows", "Data" (values row after row as
    // little-endian doubles). Loading refuses absurd sizes and short data,
    // leaving the empty matrix and returning an error code.
    kz_result SaveToLiteVariant(CKzLiteVariantW& writer) const;
    kz_result LoadFromLiteVariant(CKzLiteVariantR& reader);
    kz_result SaveToVariant(CKzVariant& variant) const;
    kz_result LoadFromVariant(CKzVariant& variant);

private:
    // Allocates the block for rows x columns (zero-filled); false when refused.
    __attribute__((visibility("hidden"))) bool Allocate(unsigned int rows, unsigned int columns);
    template <class Op>
    __attribute__((visibility("hidden"))) CKzMatrix elementwise(const CKzMatrix& b, Op op) const;
    __attribute__((visibility("hidden"))) void Release();
    // Adopts the zero-filled storage for rows x columns after checking that
    // `bytes` hold exactly the values; used by both loaders.
    __attribute__((visibility("hidden"))) kz_result LoadValues(unsigned int rows, unsigned int columns,
                                                               const void* bytes, u64 size);
    __attribute__((visibility("hidden"))) void SwapColumns(unsigned int a, unsigned int b);

    double** m_ppData;
    unsigned int m_uiRows;
    unsigned int m_uiColumns;
};
