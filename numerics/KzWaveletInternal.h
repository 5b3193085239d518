// Internals of the wavelet transforms shared with their tests (not installed
// API): an allocation-failure injector.
#pragma once

#include <cstddef>

namespace kzwavelet {
// Makes the n-th wavelet allocation from now fail (1 = the next one); 0 turns
// injection off. Tests only.
void FailAllocationAfter(int n);
// malloc / CKzAlloc::Alloc behind the injector.
void* Malloc(size_t bytes);
void* AllocNoZero(size_t bytes);
}  // namespace kzwavelet
