// What the running Tessmere does at a tick that has nothing new to show,
// counted from outside over 100 ticks: the bytes its process writes (its
// write_bytes in /proc) and the sets of the picture (inotifywait on the file).
// Beside them, 100 ticks that each follow a Restore, which must write and set
// as every tick did before. First for desktop captures, then for a store of
// one file in the stored-file mode. Prints figures; judges nothing.
#include "bench_support.h"
#include "program.h"
#include "resource.h"
#include "test_support.h"

#include <cstdio>

static const int Ticks = 100;
static const DWORD HourMilliseconds = 3600000;
static const UINT_PTR ChangeTimerId = 1;

// Wine maps the picture of each wallpaper set, so a set shows as an open and
// a close with no read between them; the capture's comparison reads the
// file, and its write closes the file written.
struct FileWatch {
    std::string log;
    long unixId = -1;
};

struct Opens {
    long sets = -1;
    long compares = -1;
    long writes = -1;
};

static bool StartWatch(const std::string &file, FileWatch &watch)
{
    watch.log = file + ".opens";
    watch.unixId = NumberFromUnix("inotifywait -m -e open,access,close_write,close_nowrite"
                                  " --format %e " + ShellQuote(UnixPath(file)) + " >"
                                  + ShellQuote(UnixPath(watch.log)) + " 2>&1 & echo $!");
    return watch.unixId > 0 && WaitUntil([&] {
        std::vector<uint8_t> log = ReadBytes(watch.log);
        return std::string(log.begin(), log.end()).find("established") != std::string::npos;
    });
}

static Opens StopWatch(const FileWatch &watch)
{
    PumpMessages(500);          // the last events reach the log
    RunUnixCommand("kill " + std::to_string(watch.unixId));
    std::string output;
    RunUnixCommand("awk '/^OPEN/ { read = 0 } /^ACCESS/ { read = 1 }"
                   " /^CLOSE_NOWRITE/ { if (read) compares++; else sets++ }"
                   " /^CLOSE_WRITE/ { writes++ }"
                   " END { print sets + 0, compares + 0, writes + 0 }' "
                   + ShellQuote(UnixPath(watch.log)), &output);
    Opens opens;
    sscanf(output.c_str(), "%ld %ld %ld", &opens.sets, &opens.compares, &opens.writes);
    return opens;
}

struct Run {
    Program program;
    int unixId = -1;
    std::string picture;        // the file each tick would show
};

static bool StartProgram(const std::string &directory, DWORD mode, Run &run)
{
    std::string wallpaper = JoinDir(directory, "user.bmp");
    WriteBmp24(wallpaper, 8, 8, 0x336699);
    SetRegistryString(DesktopKey, "Wallpaper", wallpaper);
    SetRegistryDword(SettingsKey, "Timer", HourMilliseconds);
    SetRegistryDword(SettingsKey, "Mode", mode);
    if (!LaunchProgram(Wide(JoinDir(directory, "app")), run.program))
        return false;
    run.program.window = WaitForMainWindow(run.program);
    run.unixId = UnixProcessId(JoinDir(run.program.directory, "Tessmere.exe"));
    return run.program.window != nullptr && run.unixId > 0;
}

static long long WrittenBytes(int unixId)
{
    return NumberFromUnix("awk '/^write_bytes:/ { print $2 }' /proc/" + std::to_string(unixId)
                          + "/io");
}

// The handler that the change timer runs, sent rather than waited for: a
// capture mode's tick posts the capture command, which is sent here instead.
static void Tick(const Run &run, DWORD mode)
{
    if (mode == 1)
        SendMessageA(run.program.window, WM_TIMER, ChangeTimerId, 0);
    else
        SendMessageA(run.program.window, WM_COMMAND, MAKEWPARAM(IDM_CAPTURE, 1), 0);
}

static void CountTicks(const Run &run, DWORD mode, bool restoreFirst, const char *what)
{
    FileWatch watch;
    if (!StartWatch(run.picture, watch)) {
        printf("  %s: inotifywait did not start\n", what);
        return;
    }
    long long before = WrittenBytes(run.unixId);
    double start = NowMilliseconds();
    for (int i = 0; i < Ticks; i++) {
        if (restoreFirst)
            SendMessageA(run.program.window, WM_COMMAND, IDM_RESTORE, 0);
        Tick(run, mode);
    }
    double milliseconds = (NowMilliseconds() - start) / Ticks;
    long long written = WrittenBytes(run.unixId) - before;
    Opens opens = StopWatch(watch);
    printf("  %-28s %11lld bytes written; the picture set %ld times, written %ld times,"
           " read to compare %ld times; %.1f ms a tick\n", what, written, opens.sets,
           opens.writes, opens.compares, milliseconds);
}

static void MeasureMode(const std::string &directory, DWORD mode, BoxWatcher &boxes)
{
    Run run;
    if (mode == 1) {
        std::string store = JoinDir(JoinDir(directory, "app"), "StoreWallPaper");
        CreateDirectoryA(JoinDir(directory, "app").c_str(), nullptr);
        CreateDirectoryA(store.c_str(), nullptr);
        run.picture = JoinDir(store, "Only.bmp");
        WriteBmp24(run.picture, 640, 480, 0x996633);
    }
    if (!StartProgram(directory, mode, run)) {
        printf("Tessmere did not start\n");
        EndProgram(run.program);
        return;
    }
    boxes.SetProcess(run.program.process.dwProcessId);
    if (mode != 1)
        run.picture = run.program.CaptureFile();
    // The first tick shows the picture; from then on nothing changes.
    Tick(run, mode);
    if (mode == 1)
        printf("%d timer ticks of Tessmere.exe in mode 1, one file of 640x480 in the store:\n",
               Ticks);
    else
        printf("%d timer ticks of Tessmere.exe in mode 0, desktop %dx%d:\n", Ticks,
               GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    CountTicks(run, mode, false, "nothing changed:");
    CountTicks(run, mode, true, "each after a Restore:");
    SendMessageA(run.program.window, WM_COMMAND, IDM_EXIT, 0);
    EndProgram(run.program);
}

int main()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    BoxWatcher boxes{ 0 };
    MeasureMode(BenchDirectory("ticks-capture"), 0, boxes);
    MeasureMode(BenchDirectory("ticks-store"), 1, boxes);
    for (const SeenBox &box : boxes.Seen())
        printf("message box: %s: %s\n", box.caption.c_str(), box.text.c_str());
    RemoveTree(Wide(BenchDirectory("ticks-capture")));
    RemoveTree(Wide(BenchDirectory("ticks-store")));
    return boxes.Seen().empty() ? 0 : 1;
}
