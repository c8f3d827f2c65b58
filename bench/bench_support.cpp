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
    RemoveTree(directory);
    CreateDirectoryA(directory.c_str(), nullptr);
    return directory;
}

// --- A Wine process seen from the Unix side -----------------------------------

long NumberFromUnix(const std::string &command)
{
    std::string output;
    if (RunUnixCommand(command, &output) != 0 || output.empty())
        return -1;
    return atol(output.c_str());
}

// Wine opens files in its server, so /proc/self would be the server: the
// process is found by its executable's name, the newest one of that name.
int OwnUnixProcessId()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const char *name = strrchr(path, '\\') != nullptr ? strrchr(path, '\\') + 1 : path;
    std::string quoted;
    for (const char *c = name; *c != '\0'; c++) {
        if (strchr("\\.[]()*+?{}|^$", *c) != nullptr)
            quoted += '\\';
        quoted += *c;
    }
    return (int)NumberFromUnix("pgrep -f -n " + ShellQuote(quoted));
}

long StatusKiB(int unixProcessId, const char *field)
{
    return NumberFromUnix("awk '/^" + std::string(field) + ":/ { print $2 }' /proc/"
                          + std::to_string(unixProcessId) + "/status");
}

bool ResetPeakResident(int unixProcessId)
{
    return RunUnixCommand("echo 5 > /proc/" + std::to_string(unixProcessId) + "/clear_refs") == 0;
}

// The server of a prefix works in a directory named server-DEVICE-INODE
// after the prefix directory.
static const char FindWineServer[] =
    "name=$(printf 'server-%x-%x' \"$(stat -c %d \"$WINEPREFIX\")\" \"$(stat -c %i \"$WINEPREFIX\")\")\n"
    "for p in $(pgrep wineserver); do\n"
    "  case \"$(readlink /proc/$p/cwd)\" in\n"
    "    */\"$name\") server=$p ;;\n"
    "  esac\n"
    "done\n"
    "[ -n \"$server\" ] || exit 1\n";

int WineServerProcessId()
{
    return (int)NumberFromUnix(std::string(FindWineServer) + "echo $server");
}

int WineServerDescriptorsBesidesShells()
{
    return (int)NumberFromUnix(std::string(FindWineServer)
                               + "find /proc/$server/fd -mindepth 1 ! -lname \"$(readlink -f /bin/sh)\""
                                 " | wc -l");
}

// --- GDI ------------------------------------------------------------------------

unsigned NextGdiSlot()
{
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 1, 1);
    unsigned slot = std::max(LOWORD((UINT_PTR)dc), LOWORD((UINT_PTR)bitmap));
    DeleteObject(bitmap);
    DeleteDC(dc);
    return slot;
}
