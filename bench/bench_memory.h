// Resident memory of this process, shared by the benchmarks and the whole-process programs.
#pragma once

#include <unistd.h>

#include <fstream>

// Resident set size in KiB, from /proc/self/statm.
inline long resident_kib() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
