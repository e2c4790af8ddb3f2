#pragma once

#include <sys/resource.h>

// CPU seconds the whole process has used so far, every thread (the in-process test server
// included), user and system time together. On a shared host the wall time of a run varies
// with the neighbours' load; the CPU a run takes varies far less.
inline double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
