// What the benchmarks and soaks share: timing and its summary, their scratch
// directory, the Unix side's view of a Wine process, and GDI handle slots.
#ifndef TESSMERE_BENCH_SUPPORT_H
#define TESSMERE_BENCH_SUPPORT_H

#include <windows.h>

#include <string>
#include <vector>

// --- Timing -------------------------------------------------------------------
double NowMilliseconds();

struct Summary {
    double median = 0;
    double lowQuartile = 0;
    double highQuartile = 0;
    double least = 0;
    double most = 0;
    size_t count = 0;
};
Summary Summarise(std::vector<double> values);
// "median 41.2 ms (quartiles 40.1-43.0, range 38.9-51.7, n=30)"
std::string Describe(const Summary &summary, const char *unit);

// --- Files ------------------------------------------------------------------
// A fresh, empty directory under the build directory's bench-scratch.
std::string BenchDirectory(const std::string &name);

// --- A Wine process seen from the Unix side -----------------------------------
// (the rest is in tests/support/test_support.h)
// Lets VmHWM measure from now on instead of from the process's start.
bool ResetPeakResident(int unixProcessId);
// The Unix process id of the Wine server of this prefix.
int WineServerProcessId();

#endif
