// How long a desktop capture takes and how much memory it needs, beside what
// the platform allows: the screen copy alone, the file write alone, and X's
// own xwd reading the same screen. And what a tick of the change timer costs
// when the screen is unchanged (the capture is compared with the file shown,
// and neither written nor set), or changed at its top, where the comparison
// reaches last. Prints figures; judges nothing.
#include "tessmere.h"

#include "bench_support.h"
#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

static const int Warmups = 3;
static const int Rounds = 40;

struct Screen {
    int left;                   // of what the capture takes: the virtual screen where it is spanned
    int top;
    int width;
    int height;
    int bitsPerPixel;
    DWORD stride;               // of the capture's 24-bit rows
    DWORD frameBytes;           // height x stride
    bool spanned;               // several monitors, from Windows 8 on
};

static Screen MeasureScreen()
{
    Screen screen = {};
    screen.spanned = GetSystemMetrics(SM_CMONITORS) > 1 && WindowsIsAtLeast(6, 2);
    screen.left = screen.spanned ? GetSystemMetrics(SM_XVIRTUALSCREEN) : 0;
    screen.top = screen.spanned ? GetSystemMetrics(SM_YVIRTUALSCREEN) : 0;
    screen.width = GetSystemMetrics(screen.spanned ? SM_CXVIRTUALSCREEN : SM_CXSCREEN);
    screen.height = GetSystemMetrics(screen.spanned ? SM_CYVIRTUALSCREEN : SM_CYSCREEN);
    HDC dc = GetDC(nullptr);
    screen.bitsPerPixel = GetDeviceCaps(dc, BITSPIXEL);
    ReleaseDC(nullptr, dc);
    screen.stride = (DWORD)(3 * screen.width + 3) / 4 * 4;
    screen.frameBytes = screen.stride * (DWORD)screen.height;
    return screen;
}

// --- The screen copy alone, as the capture makes it ---------------------------------

struct ScreenCopier {
    HWND desktop = nullptr;
    HDC source = nullptr;
    HDC memory = nullptr;
    HBITMAP kept = nullptr;         // one DIB section for every round
    BITMAPINFOHEADER info = {};
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<RECT> parts;        // each monitor's, or the whole screen's
};

static BOOL CALLBACK AddMonitor(HMONITOR, HDC, LPRECT monitor, LPARAM parts)
{
    ((std::vector<RECT> *)parts)->push_back(*monitor);
    return TRUE;
}

static bool OpenScreenCopier(ScreenCopier &copier, const Screen &screen)
{
    copier.left = screen.left;
    copier.top = screen.top;
    copier.width = screen.width;
    copier.height = screen.height;
    copier.info.biSize = sizeof copier.info;
    copier.info.biWidth = screen.width;
    copier.info.biHeight = screen.height;
    copier.info.biPlanes = 1;
    copier.info.biBitCount = 24;
    copier.info.biCompression = BI_RGB;
    copier.info.biSizeImage = screen.frameBytes;
    if (screen.spanned)
        EnumDisplayMonitors(nullptr, nullptr, AddMonitor, (LPARAM)&copier.parts);
    else
        copier.parts.push_back(RECT{ 0, 0, screen.width, screen.height });
    copier.desktop = GetDesktopWindow();
    copier.source = GetDC(copier.desktop);
    if (copier.source == nullptr)
        return false;
    copier.memory = CreateCompatibleDC(copier.source);
    if (copier.memory == nullptr)
        return false;
    void *pixels = nullptr;
    copier.kept = CreateDIBSection(copier.memory, (const BITMAPINFO *)&copier.info,
                                   DIB_RGB_COLORS, &pixels, nullptr, 0);
    return copier.kept != nullptr;
}

static void CloseScreenCopier(ScreenCopier &copier)
{
    if (copier.kept != nullptr)
        DeleteObject(copier.kept);
    if (copier.memory != nullptr)
        DeleteDC(copier.memory);
    if (copier.source != nullptr)
        ReleaseDC(copier.desktop, copier.source);
    copier = ScreenCopier();
}

// Into the kept DIB section, or into a new one each time as the capture has it;
// monitor by monitor where the capture spans them.
static double CopyScreen(ScreenCopier &copier, bool freshBitmap)
{
    double start = NowMilliseconds();
    HBITMAP bitmap = copier.kept;
    void *pixels = nullptr;
    if (freshBitmap)
        bitmap = CreateDIBSection(copier.memory, (const BITMAPINFO *)&copier.info,
                                  DIB_RGB_COLORS, &pixels, nullptr, 0);
    HGDIOBJ previous = SelectObject(copier.memory, bitmap);
    BOOL copied = TRUE;
    for (const RECT &part : copier.parts)
        copied &= BitBlt(copier.memory, part.left - copier.left, part.top - copier.top,
                         part.right - part.left, part.bottom - part.top, copier.source, part.left,
                         part.top, SRCCOPY);
    SelectObject(copier.memory, previous);
    if (freshBitmap)
        DeleteObject(bitmap);
    if (!copied)
        printf("a screen copy failed\n");
    return NowMilliseconds() - start;
}

// --- The other steps, one round each -------------------------------------------------

// Into the file given, which is written unless it is the wallpaper and holds
// the same picture already.
static double Capture(const std::string &file, bool toBeWritten)
{
    lstrcpyA(CaptureFilePath, file.c_str());
    double start = NowMilliseconds();
    bool written = CaptureToFile(ModeCaptureDesktop);
    double time = NowMilliseconds() - start;
    if (written != toBeWritten)
        printf("a capture into %s was %s\n", file.c_str(), written ? "written" : "not written");
    return time;
}

// A tick comes after its interval, and the first screen copy after a pause
// takes longer than one right after another: each figure starts alike.
static void Pause()
{
    Sleep(100);
}

// The set that follows a written tick, as the timer's tick makes it.
static double SetWallpaper()
{
    double start = NowMilliseconds();
    ApplyWallpaper(NULL);
    return NowMilliseconds() - start;
}

// A file of the frame's size, opened, written in one piece and closed, as the
// capture writes its file.
static double WriteFrame(const std::vector<char> &frame, const std::string &path)
{
    double start = NowMilliseconds();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        printf("%s cannot be created\n", path.c_str());
        return 0;
    }
    DWORD written = 0;
    WriteFile(file, frame.data(), (DWORD)frame.size(), &written, nullptr);
    CloseHandle(file);
    return NowMilliseconds() - start;
}

// xwd is timed inside the shell that runs it: Wine's process handle does not
// follow a Unix program, and waiting for the shell would add its start-up.
static double RunXwd(const std::string &path)
{
    std::string output;
    std::string command = "start=$(date +%s%N)\n"
                          "xwd -root -silent -out " + ShellQuote(UnixPath(path)) + " || exit 1\n"
                          "end=$(date +%s%N)\n"
                          "echo $((end - start))";
    if (RunUnixCommand(command, &output) != 0) {
        printf("xwd failed: %s\n", output.c_str());
        return 0;
    }
    return atof(output.c_str()) / 1e6;
}

struct Files {
    std::string capture;        // never the wallpaper
    std::string shown;          // the wallpaper of the ticks
    std::string frame;
    std::string xwd;
};

struct Timings {
    std::vector<double> captures;
    std::vector<double> unchanged;
    std::vector<double> changed;
    std::vector<double> sets;
    std::vector<double> copies;
    std::vector<double> freshCopies;
    std::vector<double> writes;
    std::vector<double> xwd;
};

// Round by round, so that whatever else the machine does falls on every
// measurement alike. The capture file is never the wallpaper, so it is
// written at once, as every capture was before ticks compared. The shown
// file is: each round paints a window at the top of the screen anew, where
// the comparison of a tick reaches last, and then ticks once more unchanged.
static Timings TimeRounds(ScreenCopier &copier, const Screen &screen, const Files &files)
{
    Timings timings;
    std::vector<char> frame(screen.frameBytes, '\x5a');
    PatternWindows windows;
    HWND window = windows.Show(0, 0, screen.width / 4, screen.height / 8, 0);
    for (int round = 0; round < Warmups + Rounds; round++) {
        Pause();
        double capture = Capture(files.capture, true);
        windows.Repaint(window, round + 1);
        double changed = Capture(files.shown, true);
        double set = SetWallpaper();
        Pause();
        double unchanged = Capture(files.shown, false);
        Pause();
        double copy = CopyScreen(copier, false);
        Pause();
        double freshCopy = CopyScreen(copier, true);
        double write = WriteFrame(frame, files.frame);
        double xwd = RunXwd(files.xwd);
        if (round < Warmups)
            continue;
        timings.captures.push_back(capture);
        timings.unchanged.push_back(unchanged);
        timings.changed.push_back(changed);
        timings.sets.push_back(set);
        timings.copies.push_back(copy);
        timings.freshCopies.push_back(freshCopy);
        timings.writes.push_back(write);
        timings.xwd.push_back(xwd);
    }
    return timings;
}

// --- Memory ---------------------------------------------------------------------------

struct MemoryFigures {
    long idleKiB = -1;              // before the first capture
    long captureGrowthKiB = -1;     // of the peak over that, while capturing
    long afterKiB = -1;
    long copyGrowthKiB = -1;        // of the peak while copying into the kept DIB section
    long freshCopyGrowthKiB = -1;   // of the peak while copying into a new DIB section
    long unchangedGrowthKiB = -1;   // of the peak over ticks of an unchanged screen
};

static long PeakGrowthKiB(int self, long fromKiB)
{
    long peak = StatusKiB(self, "VmHWM");
    return peak < 0 || fromKiB < 0 ? -1 : peak - fromKiB;
}

static MemoryFigures MeasureMemory(int self, ScreenCopier &copier, const Files &files)
{
    MemoryFigures memory;
    memory.idleKiB = StatusKiB(self, "VmRSS");
    ResetPeakResident(self);
    for (int i = 0; i < Warmups; i++)
        Capture(files.capture, true);
    memory.captureGrowthKiB = PeakGrowthKiB(self, memory.idleKiB);
    memory.afterKiB = StatusKiB(self, "VmRSS");

    // The kept DIB section is in memory after its first copy: what the next
    // copies add is the screen copy's own.
    CopyScreen(copier, false);
    long before = StatusKiB(self, "VmRSS");
    ResetPeakResident(self);
    for (int i = 0; i < Warmups; i++)
        CopyScreen(copier, false);
    memory.copyGrowthKiB = PeakGrowthKiB(self, before);

    // A new DIB section each time, as the capture has it: its pages come in
    // during the copy.
    before = StatusKiB(self, "VmRSS");
    ResetPeakResident(self);
    for (int i = 0; i < Warmups; i++)
        CopyScreen(copier, true);
    memory.freshCopyGrowthKiB = PeakGrowthKiB(self, before);

    Capture(files.shown, true);
    SetWallpaper();
    before = StatusKiB(self, "VmRSS");
    ResetPeakResident(self);
    for (int i = 0; i < Warmups; i++)
        Capture(files.shown, false);
    memory.unchangedGrowthKiB = PeakGrowthKiB(self, before);
    return memory;
}

// --- Report -------------------------------------------------------------------------------

static long long FileBytes(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

static void PrintTimes(const char *what, const std::vector<double> &times)
{
    printf("  %-46s %s\n", what, Describe(Summarise(times), "ms").c_str());
}

static void PrintTimings(const Timings &timings, const Files &files)
{
    PrintTimes("CaptureToFile(ModeCaptureDesktop)", timings.captures);
    PrintTimes("reference: BitBlt of the screen into a DIB", timings.copies);
    PrintTimes("reference: the same, into a new DIB each time", timings.freshCopies);
    PrintTimes("reference: write the frame's bytes to a file", timings.writes);
    PrintTimes("xwd -root -out FILE, whole process", timings.xwd);
    double capture = Summarise(timings.captures).median;
    double floor = Summarise(timings.copies).median + Summarise(timings.writes).median;
    printf("  medians: capture / (BitBlt + write) = %.2f, capture / xwd = %.2f\n",
           capture / floor, capture / Summarise(timings.xwd).median);
    printf("  files: capture %lld bytes, xwd dump %lld bytes\n", FileBytes(files.capture),
           FileBytes(files.xwd));
    PrintTimes("timer tick, unchanged screen: CaptureToFile", timings.unchanged);
    PrintTimes("timer tick, screen changed at the top: the same", timings.changed);
    PrintTimes("  and then ApplyWallpaper (the set)", timings.sets);
    double unchanged = Summarise(timings.unchanged).median;
    printf("  medians: unchanged tick / BitBlt into the kept DIB = %.2f, / into a new DIB = %.2f\n",
           unchanged / Summarise(timings.copies).median,
           unchanged / Summarise(timings.freshCopies).median);
    printf("  medians: changed-screen capture (compared, then written) / capture written at once"
           " = %.2f\n", Summarise(timings.changed).median / capture);
}

static void PrintMemory(const Screen &screen, const MemoryFigures &memory)
{
    double frameKiB = screen.frameBytes / 1024.0;
    printf("Memory of this process, resident KiB; one frame buffer = height x stride = %d x %lu"
           " bytes = %.0f KiB:\n", screen.height, (unsigned long)screen.stride, frameKiB);
    printf("  before the first capture %ld, after the captures %ld\n", memory.idleKiB,
           memory.afterKiB);
    printf("  peak while capturing:           +%6ld KiB = %.2f frame buffers\n",
           memory.captureGrowthKiB, memory.captureGrowthKiB / frameKiB);
    printf("  peak of BitBlt alone into a DIB already in memory: +%6ld KiB = %.2f frame buffers\n",
           memory.copyGrowthKiB, memory.copyGrowthKiB / frameKiB);
    printf("  peak of BitBlt alone into a new DIB each time:     +%6ld KiB = %.2f frame buffers\n",
           memory.freshCopyGrowthKiB, memory.freshCopyGrowthKiB / frameKiB);
    printf("  peak over timer ticks of an unchanged screen: +%6ld KiB = %.2f frame buffers\n",
           memory.unchangedGrowthKiB, memory.unchangedGrowthKiB / frameKiB);
}

int main()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    BoxWatcher boxes;
    Screen screen = MeasureScreen();
    std::string name = std::to_string(screen.width) + "x" + std::to_string(screen.height);
    std::string directory = BenchDirectory("capture-" + name);
    Files files = { JoinDir(directory, "Tessmere.bmp"), JoinDir(directory, "Shown.bmp"),
                    JoinDir(directory, "frame.bin"), JoinDir(directory, "root.xwd") };
    int self = OwnUnixProcessId();
    ScreenCopier copier;
    if (self <= 0 || !OpenScreenCopier(copier, screen)) {
        printf("the screen or this process could not be found\n");
        CloseScreenCopier(copier);
        return 1;
    }

    printf("Desktop capture at %s%s, %d bits per pixel on the screen; frame buffer %lu bytes\n",
           name.c_str(), screen.spanned ? " (every monitor, spanned)" : "", screen.bitsPerPixel,
           (unsigned long)screen.frameBytes);
    MemoryFigures memory = MeasureMemory(self, copier, files);
    Timings timings = TimeRounds(copier, screen, files);
    CloseScreenCopier(copier);
    PrintTimings(timings, files);
    PrintMemory(screen, memory);
    for (const SeenBox &box : boxes.Seen())
        printf("message box: %s: %s\n", box.caption.c_str(), box.text.c_str());
    RemoveTree(Wide(directory));
    return boxes.Seen().empty() ? 0 : 1;
}
