#include "bench_support.h"

#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#ifndef BENCH_SCRATCH_ROOT
#error "BENCH_SCRATCH_ROOT must name a Unix directory for the benchmarks' files"
#endif

// --- Timing -------------------------------------------------------------------

double NowMilliseconds()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * (double)now.QuadPart / (double)frequency.QuadPart;
}

// Linear interpolation between the two nearest ranks.
static double Quantile(const std::vector<double> &sorted, double fraction)
{
    double position = fraction * (double)(sorted.size() - 1);
    size_t below = (size_t)position;
    if (below + 1 >= sorted.size())
        return sorted.back();
    double weight = position - (double)below;
    return sorted[below] * (1 - weight) + sorted[below + 1] * weight;
}

Summary Summarise(std::vector<double> values)
{
    Summary summary;
    if (values.empty())
        return summary;
    std::sort(values.begin(), values.end());
    summary.median = Quantile(values, 0.5);
    summary.lowQuartile = Quantile(values, 0.25);
    summary.highQuartile = Quantile(values, 0.75);
    summary.least = values.front();
    summary.most = values.back();
    summary.count = values.size();
    return summary;
}

std::string Describe(const Summary &summary, const char *unit)
{
    char text[200];
    snprintf(text, sizeof text, "median %7.1f %s (quartiles %.1f-%.1f, range %.1f-%.1f, n=%u)",
             summary.median, unit, summary.lowQuartile, summary.highQuartile, summary.least,
             summary.most, (unsigned)summary.count);
    return text;
}

// --- Files ------------------------------------------------------------------

std::string BenchDirectory(const std::string &name)
{
    std::string root = WindowsPath(BENCH_SCRATCH_ROOT);
    CreateDirectoryA(root.c_str(), nullptr);
    std::string directory = JoinDir(root, name);
    RemoveTree(Wide(directory));
    CreateDirectoryA(directory.c_str(), nullptr);
    return directory;
}

// --- A Wine process seen from the Unix side -----------------------------------

bool ResetPeakResident(int unixProcessId)
{
    return RunUnixCommand("echo 5 > /proc/" + std::to_string(unixProcessId) + "/clear_refs") == 0;
}

int WineServerProcessId()
{
    return (int)NumberFromUnix(std::string(FindWineServer) + "echo $server");
}
