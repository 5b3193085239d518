#include "numerics/CKzPolynom.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

CKzPolynom::CKzPolynom() : m_pdCoef(nullptr), m_uiCount(0) {}

CKzPolynom::CKzPolynom(unsigned int count) : CKzPolynom()
{
    Assign(nullptr, count);
}

CKzPolynom::CKzPolynom(double* coefficients, unsigned int count) : CKzPolynom()
{
    Assign(coefficients, count);
}

CKzPolynom::CKzPolynom(const CKzPolynom& other) : CKzPolynom()
{
    Assign(other.m_pdCoef, other.m_uiCount);
}

CKzPolynom& CKzPolynom::operator=(const CKzPolynom& other)
{
    if (this != &other) Assign(other.m_pdCoef, other.m_uiCount);
    return *this;
}

CKzPolynom::~CKzPolynom() { std::free(m_pdCoef); }

void CKzPolynom::Assign(const double* coefficients, unsigned int count)
{
    std::free(m_pdCoef);
    m_pdCoef = nullptr;
    m_uiCount = 0;
    if (count == 0) return;
    m_pdCoef = static_cast<double*>(std::calloc(count, sizeof(double)));
    if (m_pdCoef == nullptr) return;
    m_uiCount = count;
    if (coefficients != nullptr) std::memcpy(m_pdCoef, coefficients, sizeof(double) * count);
}

CKzPolynom CKzPolynom::Derive() const
{
    CKzPolynom d;
    if (m_uiCount < 2) return d;
    d.Assign(nullptr, m_uiCount - 1);
    for (unsigned int j = 0; j < d.m_uiCount; ++j) d.m_pdCoef[j] = (j + 1) * m_pdCoef[j + 1];
    return d;
}

double CKzPolynom::FunctionValue(double x) const
{
    if (m_uiCount == 0) return 0.0;
    double v = m_pdCoef[0];
    for (unsigned int i = 1; i < m_uiCount; ++i) v += m_pdCoef[i] * std::pow(x, static_cast<double>(i));
    return v;
}

CKzMatrix CKzPolynom::Solve() const
{
    if (m_uiCount == 2) {
        if (m_pdCoef[1] == 0.0) return CKzMatrix();
        CKzMatrix r(1, 1);
        if (r.IsValid()) r[0][0] = -m_pdCoef[0] / m_pdCoef[1];
        return r;
    }
    if (m_uiCount == 3) {
        const double c0 = m_pdCoef[0], c1 = m_pdCoef[1], c2 = m_pdCoef[2];
        const double disc = c1 * c1 - 4.0 * c2 * c0;
        if (!(disc >= 0.0)) return CKzMatrix();  // negative or not a number
        CKzMatrix r(2, 2);
        if (r.IsValid()) {
            const double sq = std::sqrt(disc);
            r[0][0] = (sq - c1) / (2.0 * c2);
            r[1][0] = -(sq + c1) / (2.0 * c2);
        }
        return r;
    }
    return CKzMatrix();
}

int CKzRandomGenerator::s_iIdum = 1;
unsigned int CKzRandomGenerator::s_uiSeed = 161803398u;
bool CKzRandomGenerator::s_bIff = false;
int CKzRandomGenerator::s_pMa[56] = {};
int CKzRandomGenerator::s_iNext = 0;
int CKzRandomGenerator::s_iNextP = 0;
bool CKzRandomGenerator::s_bFl = false;
double CKzRandomGenerator::s_dQ = 0.0;
double CKzRandomGenerator::s_dA2 = 0.0;

namespace {

const int MBIG = 1000000000;

// Draws from several threads are serialised, so they never interleave inside
// the state update. A host that writes the state members directly does so
// between draws.
std::mutex& GeneratorLock()
{
    static std::mutex lock;
    return lock;
}

double UniformLocked()
{
    typedef CKzRandomGenerator G;
    int* ma = G::s_pMa;
    if (G::s_iIdum < 0 || !G::s_bIff) {
        G::s_bIff = true;
        // |seed - |idum|| computed in 64 bits: neither the seed a host writes
        // nor the most negative idum can overflow here.
        const long long idum = G::s_iIdum < 0 ? -static_cast<long long>(G::s_iIdum) : G::s_iIdum;
        long long diff = static_cast<long long>(G::s_uiSeed) - idum;
        if (diff < 0) diff = -diff;
        int mj = static_cast<int>(diff % MBIG);
        ma[55] = mj;
        int mk = 1;
        for (int i = 1; i <= 54; ++i) {
            const int ii = (21 * i) % 55;
            ma[ii] = mk;
            mk = mj - mk;
            if (mk < 0) mk += MBIG;
            mj = ma[ii];
        }
        for (int k = 1; k <= 4; ++k)
            for (int i = 1; i <= 55; ++i) {
                ma[i] -= ma[1 + (i + 30) % 55];
                if (ma[i] < 0) ma[i] += MBIG;
            }
        G::s_iNext = 0;
        G::s_iNextP = 31;
        G::s_iIdum = 1;
    }
    // Indexes a host may have written are brought back into 1..55 first.
    if (G::s_iNext < 0 || G::s_iNext > 55) G::s_iNext = 0;
    if (G::s_iNextP < 0 || G::s_iNextP > 55) G::s_iNextP = 0;
    if (++G::s_iNext == 56) G::s_iNext = 1;
    if (++G::s_iNextP == 56) G::s_iNextP = 1;
    long long mj = static_cast<long long>(ma[G::s_iNext]) - ma[G::s_iNextP];
    if (mj < 0) mj += MBIG;
    // State values a host wrote outside 0..1e9 are folded back into range.
    if (mj < 0 || mj >= MBIG) mj = ((mj % MBIG) + MBIG) % MBIG;
    ma[G::s_iNext] = static_cast<int>(mj);
    return static_cast<double>(mj) * 1e-9;
}

}  // namespace

double CKzRandomGenerator::UniformDist()
{
    std::lock_guard<std::mutex> guard(GeneratorLock());
    return UniformLocked();
}

double CKzRandomGenerator::RndInRange(double a, double b)
{
    return a + UniformDist() * (b - a);
}

double CKzRandomGenerator::NormalDist(double mean, double sigma)
{
    std::lock_guard<std::mutex> guard(GeneratorLock());
    double n;
    if (s_bFl) {
        n = s_dQ * s_dA2;
        s_bFl = false;
    } else {
        double w1, w2, s;
        // A pair falls inside the unit circle with probability pi/4, so
        // thousands of rejections in a row only come from a degenerate state a
        // host wrote (every entry equal gives deviates of 0 for ever): the
        // generator is then seeded afresh, and should even that not help, the
        // fixed pair (sqrt(1/2), 0) ends the loop instead of hanging.
        int rejected = 0;
        do {
            if (rejected == 1000) s_bIff = false;
            if (rejected == 2000) {
                w1 = std::sqrt(0.5);
                w2 = 0.0;
                s = 0.5;
                break;
            }
            w1 = 2.0 * UniformLocked() - 1.0;
            w2 = 2.0 * UniformLocked() - 1.0;
            s = w1 * w1 + w2 * w2;
            ++rejected;
        } while (s >= 1.0 || s == 0.0);
        const double f = std::sqrt(-2.0 * std::log(s) / s);
        n = f * w1;
        s_dQ = f;
        s_dA2 = w2;
        s_bFl = true;
    }
    return mean + sigma * n;
}
