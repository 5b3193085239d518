// Test hook of KZ_GetProcessorCount (internal, not installed API).
#pragma once

namespace kzthreads {
// Makes KZ_GetProcessorCount report n (n <= 0: the real count again), so
// tests can run the threaded kernels with any number of workers.
void SetProcessorCountOverride(int n);
}  // namespace kzthreads
