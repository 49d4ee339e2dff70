#pragma once

#include <ctime>

// CPU time of the whole process (all its threads) in seconds: set against wall time, it shows
// whether anything spins while the program waits.
inline double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}
