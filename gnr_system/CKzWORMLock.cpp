#include "gnr_system/CKzWORMLock.h"

pthread_mutex_t CKzWORMLock::CKzMonitor::ms_Mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t CKzWORMLock::CKzMonitor::ms_Cond = PTHREAD_COND_INITIALIZER;

namespace {
struct MonitorGuard {
    MonitorGuard() { pthread_mutex_lock(&CKzWORMLock::CKzMonitor::ms_Mutex); }
    ~MonitorGuard() { pthread_mutex_unlock(&CKzWORMLock::CKzMonitor::ms_Mutex); }
    void Wait() { pthread_cond_wait(&CKzWORMLock::CKzMonitor::ms_Cond, &CKzWORMLock::CKzMonitor::ms_Mutex); }
    static void WakeAll() { pthread_cond_broadcast(&CKzWORMLock::CKzMonitor::ms_Cond); }
};
}  // namespace

CKzWORMLock::CKzWORMLock() : m_iReaders(0), m_iWriters(0), m_Owner(0) {}

CKzWORMLock::~CKzWORMLock() {}

int CKzWORMLock::rLock() const
{
    MonitorGuard g;
    const pthread_t self = pthread_self();
    while (m_iWriters > 0 && !pthread_equal(m_Owner, self)) g.Wait();
    ++m_iReaders;
    return 0;
}

int CKzWORMLock::rUnLock() const
{
    MonitorGuard g;
    if (m_iReaders <= 0) {
        // Unbalanced: the count stays at 0 so that later locks still work.
        KZ_PrintFailure("gnr_system/CKzWORMLock", 38);
    } else {
        --m_iReaders;
    }
    MonitorGuard::WakeAll();
    return 0;
}

int CKzWORMLock::wLock()
{
    MonitorGuard g;
    const pthread_t self = pthread_self();
    if (!(m_iReaders == 0 && m_iWriters == 0)) {
        while (m_iReaders > 0 || (m_iWriters > 0 && !pthread_equal(m_Owner, self))) g.Wait();
    }
    ++m_iWriters;
    m_Owner = self;
    return 0;
}

int CKzWORMLock::wUnLock()
{
    MonitorGuard g;
    if (m_iWriters <= 0) {
        // Unbalanced: the count stays at 0 so that later locks still work.
        KZ_PrintFailure("gnr_system/CKzWORMLock", 72);
        return 0;
    }
    if (--m_iWriters == 0) {
        m_Owner = 0;
        MonitorGuard::WakeAll();
    }
    return 0;
}
