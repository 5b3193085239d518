// Polynomial with double coefficients (derive, evaluate, solve degrees 1 and 2)
// and the process-wide pseudo-random source.
#pragma once

#include "gnr_system/kz_base.h"
#include "numerics/CKzMatrix.h"

class KZ_EXPORT CKzPolynom {
public:
    CKzPolynom();
    explicit CKzPolynom(unsigned int count);
    // Copy of `count` coefficients in ascending powers; null gives zeros.
    CKzPolynom(double* coefficients, unsigned int count);
    CKzPolynom(const CKzPolynom& other);
    CKzPolynom& operator=(const CKzPolynom& other);
    ~CKzPolynom();

    unsigned int Count() const { return m_uiCount; }
    // Coefficient of x^i, 0.0 for an index past the end.
    double Coefficient(unsigned int i) const { return i < m_uiCount ? m_pdCoef[i] : 0.0; }

    CKzPolynom Derive() const;
    double FunctionValue(double x) const;
    // Roots of degree 1 (1 x 1) and degree 2 (2 x 2, roots in column 0);
    // the empty matrix when there is no real root or another degree.
    CKzMatrix Solve() const;

private:
    __attribute__((visibility("hidden"))) void Assign(const double* coefficients, unsigned int count);

    double* m_pdCoef;
    unsigned int m_uiCount;
};

// Knuth's subtractive generator (modulus 1e9) with normal deviates by the
// polar method. The state is process-wide and unguarded: callers serialise draws.
class KZ_EXPORT CKzRandomGenerator {
public:
    static double UniformDist();
    static double RndInRange(double a, double b);
    static double NormalDist(double mean, double sigma);

    static int s_iIdum;
    static unsigned int s_uiSeed;
    static bool s_bIff;
    static int s_pMa[56];
    static int s_iNext;
    static int s_iNextP;
    static bool s_bFl;
    static double s_dQ;
    static double s_dA2;
};
