// What the running Tessmere costs between changes: its timer armed for an hour,
// it is left alone for a minute and its CPU time and wake-ups are read from the
// Unix side before and after. Prints figures; judges nothing.
#include "bench_support.h"
#include "program.h"
#include "resource.h"
#include "test_support.h"

#include <cstdio>

static const DWORD IdleMilliseconds = 60000;
static const DWORD HourMilliseconds = 3600000;

struct Sample {
    long programTicks;          // user plus system time of all its threads
    long programSwitches;       // context switches of all its threads: its wake-ups
    long serverTicks;
    double at;
};

// One shell reads all three, so that taking a sample costs the server once.
// The process name in /proc/PID/stat may hold spaces: fields are counted after it.
static Sample Take(int program, int server)
{
    std::string programDir = "/proc/" + std::to_string(program);
    std::string serverDir = "/proc/" + std::to_string(server);
    std::string output;
    RunUnixCommand("ticks() { sed 's/^.*) //' \"$1/stat\" | awk '{ print $12 + $13 }'; }\n"
                   "echo $(ticks " + programDir + ")"
                   " $(cat " + programDir + "/task/*/status"
                   " | awk '/ctxt_switches:/ { n += $2 } END { print n }')"
                   " $(ticks " + serverDir + ")", &output);
    Sample sample = { -1, -1, -1, NowMilliseconds() };
    sscanf(output.c_str(), "%ld %ld %ld", &sample.programTicks, &sample.programSwitches,
           &sample.serverTicks);
    return sample;
}

static bool StartIdleProgram(const std::string &directory, Program &program)
{
    std::string wallpaper = JoinDir(directory, "user.bmp");
    WriteBmp24(wallpaper, 8, 8, 0x336699);
    SetRegistryString(DesktopKey, "Wallpaper", wallpaper);
    SetRegistryDword(SettingsKey, "Timer", HourMilliseconds);
    SetRegistryDword(SettingsKey, "Mode", 0);
    if (!LaunchProgram(Wide(JoinDir(directory, "app")), program))
        return false;
    program.window = WaitForMainWindow(program);
    return program.window != nullptr;
}

int main()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    std::string directory = BenchDirectory("idle");
    Program program;
    if (!StartIdleProgram(directory, program)) {
        printf("Tessmere did not start\n");
        EndProgram(program);
        return 1;
    }
    int unixId = UnixProcessId(JoinDir(program.directory, "Tessmere.exe"));
    int server = WineServerProcessId();
    // Start-up work (the tray icon, the first messages) is not idling.
    PumpMessages(3000);

    // Nothing in this process may wake Tessmere meanwhile: no watcher, no messages.
    Sample before = Take(unixId, server);
    Sleep(IdleMilliseconds);
    Sample after = Take(unixId, server);
    if (unixId <= 0 || server <= 0 || before.programTicks < 0 || after.programTicks < 0) {
        printf("Tessmere's or the Wine server's process could not be read\n");
        EndProgram(program);
        return 1;
    }

    bool boxShown = FindProcessWindow(program.process.dwProcessId, "#32770", nullptr) != nullptr;
    double minutes = (after.at - before.at) / 60000.0;
    double tick = 1.0 / (double)NumberFromUnix("getconf CLK_TCK");
    long programTicks = after.programTicks - before.programTicks;
    long serverTicks = after.serverTicks - before.serverTicks;
    printf("Tessmere.exe idle for %.1f s with its timer armed for %lu s:\n", 60 * minutes,
           (unsigned long)(HourMilliseconds / 1000));
    printf("  CPU %.2f s (%ld ticks of %.0f ms) = %.3f CPU seconds per minute\n",
           programTicks * tick, programTicks, 1000 * tick, programTicks * tick / minutes);
    printf("  its threads were woken %ld times (%.1f per minute)\n",
           after.programSwitches - before.programSwitches,
           (after.programSwitches - before.programSwitches) / minutes);
    printf("  the prefix's Wine server, serving all its processes, used %.2f s = %.3f CPU seconds"
           " per minute\n", serverTicks * tick, serverTicks * tick / minutes);
    if (boxShown)
        printf("  a message box of Tessmere was open: the figures are of a waiting dialog\n");

    SendMessageA(program.window, WM_COMMAND, IDM_EXIT, 0);
    EndProgram(program);
    RemoveTree(Wide(directory));
    return boxShown ? 1 : 0;
}
