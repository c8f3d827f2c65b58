// The running Tessmere driven from outside through more than two thousand
// wallpaper changes of every kind: desktop captures, window captures in modes 2
// and 3 while two windows of other processes take turns in front, and steps of
// the cycler through its store, all asked for through its own commands, its
// settings dialog and its change timer. Its resident memory and the Wine
// server's open descriptors must come back to where they were after a first
// round of every kind; then it is ended through its tray menu, which must put
// back the user's wallpaper and leave every stored file in place.
#include "bench_support.h"
#include "program.h"
#include "resource.h"
#include "test_support.h"

#include <cstdio>
#include <map>

static const int Rounds = 4;
static const int ChangesPerKind = 130;          // 4 rounds of 4 kinds: 2080 changes
static const int WarmupChangesPerKind = 10;
static const DWORD TimerMilliseconds = 1000;
static const long ResidentToleranceKiB = 2048;
static const int DescriptorTolerance = 4;
static const int StoredFiles = 4;
static const DWORD CommandTimeoutMs = 30000;
static const UINT_PTR ChangeTimerId = 1;
static const UINT_PTR TrayCaptureTimerId = 2;

// Wine keeps a wallpaper set without SPIF_UPDATEINIFILE in a volatile key of
// the session, where other processes read it; a process's own
// SPI_GETDESKWALLPAPER keeps the first value it read. The key's last-write time
// moves with every change to another file; setting the same file again leaves
// no trace, so each capture is preceded by the program's own Restore.
static const char SessionDesktopKey[] =
    "Software\\Wine\\Temporary System Parameters\\Control Panel\\Desktop";

struct WallpaperSetting {
    std::string path;
    FILETIME written = {};
};

static WallpaperSetting ReadWallpaperSetting()
{
    WallpaperSetting setting;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SessionDesktopKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return setting;
    char path[MAX_PATH] = "";
    DWORD size = sizeof path;
    if (RegQueryValueExA(key, "Wallpaper", nullptr, nullptr, (BYTE *)path, &size) == ERROR_SUCCESS)
        setting.path = path;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, &setting.written);
    RegCloseKey(key);
    return setting;
}

struct Soak {
    Program program;
    PatternWindows shown;
    HWND windows[2] = {};           // take turns in front for the window modes
    int inFront = 0;
    std::string store;
    long long desktopFileBytes = 0;
    std::string userWallpaper;
    long changes = 0;               // captures and cycler steps seen to set the wallpaper
    long restores = 0;
    long timerSteps = 0;            // made by the one-second timer itself
    int failures = 0;
    std::string lastFailure;
    int repeats = 0;
};

// A failure that repeats itself is told once, with the count of its repeats.
static void TellRepeats(Soak &soak)
{
    if (soak.repeats > 0)
        printf("FAILED: the same, %d more times\n", soak.repeats);
    soak.repeats = 0;
}

static void Fail(Soak &soak, const std::string &what)
{
    soak.failures++;
    if (what == soak.lastFailure) {
        soak.repeats++;
        return;
    }
    TellRepeats(soak);
    printf("FAILED: %s\n", what.c_str());
    soak.lastFailure = what;
}

static long long FileBytes(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

static long long CaptureFileBytes(int width, int height)
{
    return 54 + (long long)((3 * width + 3) / 4 * 4) * height;
}

static long long ClientCaptureBytes(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    return CaptureFileBytes(client.right, client.bottom);
}

// Sent, not posted: the call returns when the program has done what was asked.
static bool Send(Soak &soak, UINT message, WPARAM wParam)
{
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(soak.program.window, message, wParam, 0, SMTO_NORMAL,
                            CommandTimeoutMs, &result) == 0) {
        Fail(soak, "Tessmere did not answer message " + std::to_string(message));
        return false;
    }
    return true;
}

// --- The settings dialog, as a user fills it in ---------------------------------

static HWND WaitForSettingsDialog(const Program &program)
{
    HWND dialog = nullptr;
    WaitUntil([&] {
        dialog = FindProcessWindow(program.process.dwProcessId, "#32770", nullptr);
        return dialog != nullptr && GetDlgItem(dialog, IDC_MINUTES) != nullptr;
    }, 10000);
    return dialog != nullptr && GetDlgItem(dialog, IDC_MINUTES) != nullptr ? dialog : nullptr;
}

static void ChooseMode(Soak &soak, int mode)
{
    PostMessageA(soak.program.window, WM_COMMAND, IDM_SETTINGS, 0);
    HWND dialog = WaitForSettingsDialog(soak.program);
    if (dialog == nullptr) {
        Fail(soak, "the settings dialog did not open");
        return;
    }
    const int buttons[] = { IDC_MODE_DESKTOP, IDC_MODE_FILES, IDC_MODE_WINDOW, IDC_MODE_NEWWINDOW };
    for (int shown = 0; shown < 4; shown++)
        SendDlgItemMessageA(dialog, buttons[shown], BM_SETCHECK,
                            shown == mode ? BST_CHECKED : BST_UNCHECKED, 0);
    // Only the cycler's round waits for the timer. In mode 3 a timed capture
    // of the window just put in front would leave nothing new for the soak's.
    bool cycling = mode == 1;
    SendDlgItemMessageA(dialog, IDC_MINUTES, WM_SETTEXT, 0, (LPARAM)(cycling ? "0" : "10"));
    SendDlgItemMessageA(dialog, IDC_SECONDS, WM_SETTEXT, 0,
                        (LPARAM)(cycling ? std::to_string(TimerMilliseconds / 1000) : "0").c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
    if (!WaitUntil([&] { return !IsWindow(dialog); }, 10000))
        Fail(soak, "the settings dialog did not close");
}

// --- One kind of change, asked for count times ------------------------------------

static bool SameFile(const std::string &one, const std::string &other)
{
    return lstrcmpiA(one.c_str(), other.c_str()) == 0;
}

// Sends the command and checks that it set the wallpaper to the file expected
// (any stored file when expected is empty).
static bool SendChange(Soak &soak, UINT message, WPARAM wParam, const std::string &expected,
                       long &count)
{
    WallpaperSetting before = ReadWallpaperSetting();
    if (!Send(soak, message, wParam))
        return false;
    WallpaperSetting after = ReadWallpaperSetting();
    bool changed = CompareFileTime(&after.written, &before.written) > 0;
    bool right = expected.empty() ? SameFile(after.path.substr(0, soak.store.size()), soak.store)
                                  : SameFile(after.path, expected);
    if (!changed || !right) {
        Fail(soak, "message " + std::to_string(message) + " left the wallpaper at " + after.path
                   + (changed ? "" : ", unchanged"));
        return false;
    }
    count++;
    return true;
}

static bool Rewritten(const std::string &path, const FILETIME &before)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)
        && CompareFileTime(&data.ftLastWriteTime, &before) > 0;
}

static FILETIME WriteTime(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// A capture must rewrite the capture file with a picture of the given size and
// make it the wallpaper.
static void Capture(Soak &soak, UINT message, WPARAM wParam, long long fileBytes, const char *kind)
{
    std::string file = soak.program.CaptureFile();
    FILETIME before = WriteTime(file);
    if (!SendChange(soak, WM_COMMAND, IDM_RESTORE, soak.userWallpaper, soak.restores)
        || !SendChange(soak, message, wParam, file, soak.changes))
        return;
    if (!Rewritten(file, before) || FileBytes(file) != fileBytes)
        Fail(soak, std::string(kind) + ": the capture file was not rewritten at its size");
}

// The tray's Capture runs when a one-shot timer of its own ticks, once the
// menu has gone: the tick is sent rather than waited for.
static void CaptureDesktop(Soak &soak, int count)
{
    for (int i = 0; i < count; i++)
        Capture(soak, WM_TIMER, TrayCaptureTimerId, soak.desktopFileBytes, "desktop capture");
}

static bool BringForward(Soak &soak, HWND window)
{
    // Another process's window in front may lose it again to the one before,
    // when the X server's word on the focus comes late.
    if (!BringToFront(window)) {
        Fail(soak, "a window of the soak did not come to the front");
        return false;
    }
    return true;
}

// The timer's own capture command (high word 1) captures in the stored mode.
static void CaptureWindows(Soak &soak, int count, const char *kind)
{
    for (int i = 0; i < count; i++) {
        soak.inFront = 1 - soak.inFront;
        HWND window = soak.windows[soak.inFront];
        if (BringForward(soak, window))
            Capture(soak, WM_COMMAND, MAKEWPARAM(IDM_CAPTURE, 1), ClientCaptureBytes(window),
                    kind);
    }
}

// A tick of the change timer, sent rather than waited for: the handler that
// the one-second timer runs, many times faster.
static void StepCycler(Soak &soak, int count)
{
    // The cycle may go on with the capture file, which is already the wallpaper.
    SendChange(soak, WM_COMMAND, IDM_RESTORE, soak.userWallpaper, soak.restores);
    for (int i = 0; i < count; i++)
        SendChange(soak, WM_TIMER, ChangeTimerId, std::string(), soak.changes);
}

// Sent ticks re-arm the timer, so it is left alone until it ticks by itself.
static void AwaitTimerStep(Soak &soak)
{
    WallpaperSetting before = ReadWallpaperSetting();
    bool stepped = WaitUntil([&] {
        WallpaperSetting now = ReadWallpaperSetting();
        return CompareFileTime(&now.written, &before.written) > 0;
    }, 3 * TimerMilliseconds);
    if (stepped)
        soak.timerSteps++;
    else
        Fail(soak, "the change timer did not step the cycler by itself");
}

// Every kind in turn, ending in the cycler's mode so that each measurement
// finds the program in the same state.
static void RunRound(Soak &soak, int perKind)
{
    ChooseMode(soak, 0);
    CaptureDesktop(soak, perKind);
    ChooseMode(soak, 2);
    CaptureWindows(soak, perKind, "mode 2 captures");
    ChooseMode(soak, 3);
    CaptureWindows(soak, perKind, "mode 3 captures");
    ChooseMode(soak, 1);
    StepCycler(soak, perKind);
    AwaitTimerStep(soak);
}

// --- Measuring ------------------------------------------------------------------------

struct Footprint {
    long residentKiB;
    int serverDescriptors;
};

static Footprint Measure(int unixId)
{
    // A capture asked for by the timer may still be under way.
    PumpMessages(1500);
    return Footprint{ ResidentKiB(unixId), WineServerDescriptors() };
}

static std::map<std::string, std::vector<uint8_t>> ReadStore(const std::string &store)
{
    std::map<std::string, std::vector<uint8_t>> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(JoinDir(store, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files[found.cFileName] = ReadBytes(JoinDir(store, found.cFileName));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

// Files of the store as they were, the capture file aside: captures rewrite it.
static void ExpectStoreKept(Soak &soak, const std::map<std::string, std::vector<uint8_t>> &before)
{
    std::map<std::string, std::vector<uint8_t>> after = ReadStore(soak.store);
    for (const auto &file : before) {
        auto kept = after.find(file.first);
        if (kept == after.end())
            Fail(soak, "the stored file " + file.first + " was lost");
        else if (file.first != "Tessmere.bmp" && kept->second != file.second)
            Fail(soak, "the stored file " + file.first + " was changed");
    }
    printf("store: %u files before, %u after\n", (unsigned)before.size(), (unsigned)after.size());
}

// --- The soak -----------------------------------------------------------------------

static bool Prepare(Soak &soak, const std::string &directory, const std::string &userWallpaper)
{
    WriteBmp24(userWallpaper, 8, 8, 0x336699);
    SetRegistryString(DesktopKey, "Wallpaper", userWallpaper);
    SetRegistryDword(SettingsKey, "Timer", TimerMilliseconds);
    SetRegistryDword(SettingsKey, "Mode", 0);
    std::string app = JoinDir(directory, "app");
    soak.store = JoinDir(app, "StoreWallPaper");
    CreateDirectoryA(app.c_str(), nullptr);
    CreateDirectoryA(soak.store.c_str(), nullptr);
    for (int i = 0; i < StoredFiles; i++) {
        std::string name = "stored-" + std::to_string(i) + ".bmp";
        WriteBmp24(JoinDir(soak.store, name), 64 + 16 * i, 48, 0x204060u * (i + 1));
    }
    soak.windows[0] = soak.shown.Show(300, 200, 160, 120, 41);
    soak.windows[1] = soak.shown.Show(520, 260, 120, 90, 42);
    soak.desktopFileBytes = CaptureFileBytes(GetSystemMetrics(SM_CXSCREEN),
                                             GetSystemMetrics(SM_CYSCREEN));
    return soak.windows[0] != nullptr && soak.windows[1] != nullptr;
}

static void PrintFootprint(Soak &soak, const char *when, const Footprint &footprint)
{
    TellRepeats(soak);
    printf("%-22s %5ld changes  resident %6ld KiB  server descriptors %4d\n", when, soak.changes,
           footprint.residentKiB, footprint.serverDescriptors);
}

static void ExpectFlat(Soak &soak, const Footprint &first, const Footprint &last)
{
    if (first.residentKiB <= 0 || last.residentKiB <= 0 || first.serverDescriptors <= 0
        || last.serverDescriptors <= 0) {
        Fail(soak, "Tessmere's memory or the server's descriptors could not be read");
        return;
    }
    printf("growth after the first round: resident %+ld KiB (tolerance %ld), server descriptors"
           " %+d (tolerance %d)\n", last.residentKiB - first.residentKiB, ResidentToleranceKiB,
           last.serverDescriptors - first.serverDescriptors, DescriptorTolerance);
    if (last.residentKiB - first.residentKiB > ResidentToleranceKiB)
        Fail(soak, "Tessmere's resident memory grew");
    if (last.serverDescriptors - first.serverDescriptors > DescriptorTolerance)
        Fail(soak, "the Wine server holds more descriptors");
}

static void ExitThroughTrayMenu(Soak &soak, const std::string &userWallpaper)
{
    if (!ChooseTrayMenuItem(soak.program, MenuExit))
        Fail(soak, "the tray menu's Exit could not be chosen");
    DWORD exitCode = STILL_ACTIVE;
    if (!WaitForExit(soak.program, 15000, exitCode) || exitCode != 0)
        Fail(soak, "Tessmere did not end with code 0 after Exit");
    // This process keeps the session alive, and with it the wallpaper of the session.
    std::string wallpaper = CurrentWallpaper();
    printf("wallpaper after Exit: %s\n", wallpaper.c_str());
    if (wallpaper != userWallpaper)
        Fail(soak, "the user's wallpaper was not put back");
}

int main()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    Soak soak;
    std::string directory = BenchDirectory("program-soak");
    soak.userWallpaper = JoinDir(directory, "user.bmp");
    if (!Prepare(soak, directory, soak.userWallpaper)) {
        printf("the soak's windows could not be made\n");
        return 1;
    }
    BoxWatcher boxes{ 0 };
    if (!LaunchProgram(Wide(JoinDir(directory, "app")), soak.program)) {
        printf("Tessmere did not start\n");
        return 1;
    }
    boxes.SetProcess(soak.program.process.dwProcessId);
    soak.program.window = WaitForMainWindow(soak.program);
    int unixId = UnixProcessId(JoinDir(soak.program.directory, "Tessmere.exe"));
    if (soak.program.window == nullptr || unixId <= 0) {
        printf("Tessmere's window or process was not found\n");
        EndProgram(soak.program);
        return 1;
    }

    double start = NowMilliseconds();
    PrintFootprint(soak, "started", Measure(unixId));
    RunRound(soak, WarmupChangesPerKind);
    std::map<std::string, std::vector<uint8_t>> storeBefore = ReadStore(soak.store);
    Footprint first = Measure(unixId);
    PrintFootprint(soak, "after a first round", first);
    long counted = soak.changes;
    Footprint last = first;
    for (int round = 1; round <= Rounds && IsRunning(soak.program); round++) {
        RunRound(soak, ChangesPerKind);
        last = Measure(unixId);
        PrintFootprint(soak, ("after round " + std::to_string(round)).c_str(), last);
    }
    if (!IsRunning(soak.program))
        Fail(soak, "Tessmere ended during the soak");
    long soaked = soak.changes - counted;
    printf("%ld captures and cycler steps asked for and seen to change the wallpaper after the"
           " first round; in all %ld, besides %ld restores and %ld steps of the timer itself;"
           " %.0f s\n", soaked, soak.changes, soak.restores, soak.timerSteps,
           (NowMilliseconds() - start) / 1000);
    if (soaked < 2000)
        Fail(soak, "fewer than 2000 changes");
    ExpectFlat(soak, first, last);
    ExitThroughTrayMenu(soak, soak.userWallpaper);
    ExpectStoreKept(soak, storeBefore);
    for (const SeenBox &box : boxes.Seen())
        Fail(soak, "message box " + box.caption + ": " + box.text);

    TellRepeats(soak);
    EndProgram(soak.program);
    printf(soak.failures == 0 ? "program soak: PASSED\n" : "program soak: FAILED\n");
    return soak.failures == 0 ? 0 : 1;
}
