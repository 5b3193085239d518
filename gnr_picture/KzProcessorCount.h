// Number of processors the row-splitting kernels spread their work over.
#pragma once

#include "gnr_system/kz_base.h"

// The processors this thread may run on (its affinity mask), at least 1.
KZ_EXPORT int KZ_GetProcessorCount();
