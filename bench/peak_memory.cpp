#include "bench/peak_memory.h"

#include <sys/resource.h>

long peakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
