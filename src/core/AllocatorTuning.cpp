#include "AllocatorTuning.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void AllocatorTuning::apply()
{
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, mmapThreshold);
    mallopt(M_TRIM_THRESHOLD, trimThreshold);
#endif
}
