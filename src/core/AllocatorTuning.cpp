#include "AllocatorTuning.h"

#include <mutex>
#include <thread>

#if defined(__GLIBC__)
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace {

#if defined(__GLIBC__)
long long residentBytes()
{
    long long pages = 0, resident = 0;
    FILE *statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return -1;
    const bool read = std::fscanf(statm, "%lld %lld", &pages, &resident) == 2;
    std::fclose(statm);
    return read ? resident * sysconf(_SC_PAGESIZE) : -1;
}

// Resident memory that the allocator does not hand out: mostly free pieces
// it keeps, besides code, stacks and the like, which change little.
long long slackBytes()
{
    const long long resident = residentBytes();
    if (resident < 0)
        return -1;
#if __GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33)
    const struct mallinfo2 info = mallinfo2();
    return resident - (long long)(info.uordblks + info.hblkhd);
#else
    return resident;
#endif
}

// Runs for the life of the process; it only ever calls the C library.
void watch()
{
    long long baseline = slackBytes();
    for (;;) {
        std::this_thread::sleep_for(AllocatorTuning::returnCheckInterval);
        const long long slack = slackBytes();
        if (slack < 0)
            continue;
        if (slack < baseline || baseline < 0)
            baseline = slack;
        if (slack - baseline < AllocatorTuning::returnAboveBytes)
            continue;
        AllocatorTuning::returnFreedMemory();
        baseline = slackBytes();
    }
}
#endif

} // namespace

void AllocatorTuning::apply()
{
#if defined(__GLIBC__)
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_MMAP_THRESHOLD, mmapThreshold);
        mallopt(M_TRIM_THRESHOLD, trimThreshold);
        mallopt(M_ARENA_MAX, arenaMax);
        std::thread(watch).detach();
    });
#endif
}

void AllocatorTuning::returnFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
