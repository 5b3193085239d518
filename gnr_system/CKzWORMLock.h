// Reader/writer lock for hosts to embed in their own objects: any number of
// readers, or one writer who may lock again recursively and may also read
// while writing. All instances wait on one process-wide mutex and condition
// variable, so an instance is only three counters.
#pragma once

#include "gnr_system/kz_base.h"

#include <pthread.h>

class KZ_EXPORT CKzWORMLock {
public:
    CKzWORMLock();
    virtual ~CKzWORMLock();

    // Waits while another thread writes; the writer itself reads at once. Returns 0.
    int rLock() const;
    // Returns 0; an unlock without a matching lock is reported and ignored.
    int rUnLock() const;
    // Waits until no reader and no other writer hold the lock; recursive for the owner. Returns 0.
    int wLock();
    // Returns 0; an unlock without a matching lock is reported and ignored.
    int wUnLock();

    class KZ_EXPORT CKzMonitor {
    public:
        static pthread_mutex_t ms_Mutex;
        static pthread_cond_t ms_Cond;
    };

    // An object holding a lock may be copied: the copy gets a lock of its
    // own, free, and assignment leaves the target's lock state alone.
    CKzWORMLock(const CKzWORMLock&) : m_iReaders(0), m_iWriters(0), m_Owner(0) {}
    CKzWORMLock& operator=(const CKzWORMLock&) { return *this; }

private:
    mutable int m_iReaders;
    int m_iWriters;
    pthread_t m_Owner;
};
