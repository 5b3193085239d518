// A failing allocator for the allocation-failure sweeps (test_alloc_failure).
//
// The sweep executable is linked with the malloc family and pthread_create
// wrapped (ld --wrap) and with operator new replaced, so every allocation and
// every thread start made by the library objects linked into it passes
// through here: std::vector growth, std::thread state, nothrow new, malloc,
// calloc, aligned_alloc, CKzAlloc. Allocations reach the real allocator in
// the end, so AddressSanitizer still checks and leak-checks them.
#pragma once

#include <cstddef>

namespace failalloc {

// Counts events (allocations and thread starts) from now on and makes event
// n (1 = the next one) fail: a null block, std::bad_alloc from operator new,
// EAGAIN from pthread_create. n = 0 counts without failing.
void Arm(long n);

struct Tally {
    long events = 0;     // events seen since Arm
    bool failed = false; // whether event n happened (and failed)
    long live = 0;       // blocks allocated minus blocks freed since Arm
};
// Stops counting and failing; returns what happened since Arm.
Tally Disarm();

// Runs call() once for every n = 1, 2, ... with event n failing, until a run
// in which no event failed (the call's own events ran out), and hands each
// run's result, tally and n to check(). Returns the number of failing runs.
template <class Call, class Check>
long Sweep(Call&& call, Check&& check, long limit = 100000)
{
    long n = 1;
    for (; n <= limit; ++n) {
        Arm(n);
        auto result = call();
        const Tally t = Disarm();
        check(result, t, n);
        if (!t.failed)
            break;
    }
    return n - 1;
}

}  // namespace failalloc
