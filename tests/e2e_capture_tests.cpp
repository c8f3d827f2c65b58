// Captures, timed changes, Stop and Restore in the running program, and its
// settings as it reads them at start.
#include "e2e_fixture.h"

#include "resource.h"

#include <algorithm>

class CaptureProgramTest : public ProgramTest {
protected:
    bool CaptureFileIs(int width, int height)
    {
        Bitmap bitmap;
        return ReadBmp24(program.CaptureFile(), bitmap) && bitmap.width == width
            && bitmap.height == height;
    }
    bool WallpaperBecomes(const std::string &path, DWORD timeoutMs = 10000)
    {
        return WaitUntil([&] { return CurrentWallpaper() == path; }, timeoutMs);
    }
};

class TrayCapture : public CaptureProgramTest {};

TEST_F(TrayCapture, CapturesTheWholeDesktopWhateverTheModeAndMakesItTheWallpaper)
{
    StoreSettings(0, 2);
    Start();
    windows.ShowInFront(120, 90, 31);
    ASSERT_TRUE(ChooseTrayMenuItem(program, MenuCapture));
    EXPECT_TRUE(WallpaperBecomes(program.CaptureFile()));
    EXPECT_TRUE(CaptureFileIs(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)));
    windows.Show(0, 0, 200, 100, 38);
    EXPECT_FALSE(CaptureRewrittenWithin(2000)) << "with no timer, one Capture is one capture";
    EXPECT_EQ(userWallpaper, ReadRegistryString(DesktopKey, "Wallpaper"))
        << "the user's own setting, which the next session shows, is left alone";
    EXPECT_TRUE(boxes.Seen().empty());
}

// run.sh's Wine desktop, where, as on Windows, the windows under the menu
// repaint only after the command that the closing menu sends.
TEST_F(TrayCapture, InAWineDesktopHoldsNeitherTheMenuNorTheTip)
{
    program.directory = JoinDir(directory, "app");
    std::string exe = JoinDir(program.directory, "Tessmere.exe");
    CreateDirectoryA(program.directory.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(BuiltExecutable().c_str(), exe.c_str(), FALSE));
    ShellExecuteA(nullptr, nullptr, "explorer", ("/desktop=TrayCapture,1024x768 " + exe).c_str(),
                  nullptr, SW_SHOWNORMAL);
    // This thread looks at that desktop's windows until the end of the test.
    struct Back { HDESK to = GetThreadDesktop(GetCurrentThreadId()), from = nullptr;
                  ~Back() { SetThreadDesktop(to); CloseDesktop(from); } } back;
    RECT tray, stood;
    ASSERT_TRUE(WaitUntil([&] {
        back.from = back.from ? back.from : OpenDesktopA("TrayCapture", 0, FALSE, GENERIC_ALL);
        program.window = SetThreadDesktop(back.from) ? FindWindowA("Tessmere", "Tessmere") : nullptr;
        return program.window != nullptr
            && GetWindowRect(FindWindowA("Shell_TrayWnd", nullptr), &tray) && tray.bottom > 0;
    }));
    GetWindowThreadProcessId(program.window, &program.process.dwProcessId);
    program.process.hProcess = OpenProcess(PROCESS_ALL_ACCESS, FALSE, program.process.dwProcessId);
    auto click = [&](LONG x, LONG y) {
        RunUnixCommand("xdotool search --name '^TrayCapture - Wine desktop$' mousemove --window %1 "
                       + std::to_string(x) + " " + std::to_string(y) + " click 1");
    };
    // The icon, which comes soon after the window, is the square at the right end of the taskbar.
    HWND menu = nullptr;
    for (int attempt = 0; attempt < 5 && menu == nullptr; attempt++) {
        click(tray.right - (tray.bottom - tray.top) / 2, (tray.top + tray.bottom) / 2);
        menu = WaitForTrayMenu(program, 2000);
    }
    ASSERT_TRUE(menu != nullptr && GetWindowRect(menu, &stood));
    click((stood.left + stood.right) / 2, stood.top + (stood.bottom - stood.top) * 3 / 12);    // 撮影
    Bitmap capture;
    ASSERT_TRUE(WaitUntil([&] { return ReadBmp24(program.CaptureFile(), capture); }));
    long differing = 0;
    for (int y = stood.top; y < tray.top; y++)
        for (int x = stood.left; x < stood.right; x++)
            differing += capture.At(x, y) != capture.At(stood.left - 8, stood.top - 8);
    EXPECT_EQ(0, differing) << "pixels of the menu or its tip, where the background should be";
    EndProgram(program);
}

TEST_F(TrayCapture, LockedCaptureFileIsReportedAndTheWallpaperKept)
{
    Start();
    ASSERT_TRUE(WriteText(program.CaptureFile(), "earlier capture"));
    HANDLE lock = LockFileExclusively(program.CaptureFile());
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    SetCurrentWallpaper(otherWallpaper);
    ASSERT_TRUE(ChooseTrayMenuItem(program, MenuCapture));
    EXPECT_TRUE(boxes.WaitForCount(1));
    CloseHandle(lock);
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ("CreateFile", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_SHARING_VIOLATION), boxes.Seen()[0].text);
    PumpMessages(500);
    EXPECT_EQ(otherWallpaper, CurrentWallpaper());
    std::vector<uint8_t> content = ReadBytes(program.CaptureFile());
    EXPECT_EQ("earlier capture", std::string(content.begin(), content.end()));
    EXPECT_TRUE(IsRunning(program));
}

TEST_F(TrayCapture, FullStoreLeavesNoBrokenBitmapAsWallpaper)
{
    // The program lives on a 1 MiB file system: a desktop capture cannot fit.
    std::string small = JoinDir(directory, "small");
    SmallFileSystem smallFileSystem(small, "1m");
    if (!smallFileSystem.Mounted())
        return;
    Start(program, Wide(JoinDir(small, "app")), boxes);
    SetCurrentWallpaper(otherWallpaper);
    bool chosen = ChooseTrayMenuItem(program, MenuCapture);
    bool reported = boxes.WaitForCount(1);
    PumpMessages(500);
    std::string wallpaper = CurrentWallpaper();
    bool left = FileExists(program.CaptureFile());
    // The file system cannot be unmounted while the program runs from it.
    EndProgram(program);
    ASSERT_TRUE(chosen);
    ASSERT_TRUE(reported);
    EXPECT_EQ("WriteFile BITMAP CONTENT", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_DISK_FULL), boxes.Seen()[0].text);
    EXPECT_EQ(otherWallpaper, wallpaper);
    EXPECT_FALSE(left);
}

// Run only on a prefix whose LogPixels scales the screen to 144 dots per inch
// (tests/CMakeLists.txt). Windows tells a program that is not DPI aware of a
// screen two thirds as wide and high, and its capture would miss the rest.
// Wine 8 runs every process per-monitor aware whatever its manifest says, so
// here this holds the capture itself to physical pixels.
class ScaledScreen : public CaptureProgramTest {};

TEST_F(ScaledScreen, TrayCaptureHoldsEveryPixelOfTheScreen)
{
    DWORD dpi = RequestedLogPixels();
    ASSERT_NE(0u, dpi) << "the prefix does not scale the screen";
    ASSERT_NE(96u, dpi);
    std::string xwdFile = JoinDir(directory, "root.xwd"), why;
    ScreenDump dump;
    ASSERT_TRUE(DumpScreen(xwdFile, dump, &why)) << why;
    Start();
    windows.Show(dump.width / 3, dump.height / 4, dump.width / 2, dump.height / 2, 43);
    // The menu opens at the bottom left, over the bare screen, which X itself
    // repaints when the menu closes.
    SetCursorPos(8, dump.height - 8);
    ASSERT_TRUE(ChooseTrayMenuItem(program, MenuCapture));
    ASSERT_TRUE(WallpaperBecomes(program.CaptureFile()));
    ASSERT_TRUE(DumpScreen(xwdFile, dump, &why)) << why;
    Bitmap capture;
    ASSERT_TRUE(ReadBmp24(program.CaptureFile(), capture, &why)) << why;
    ASSERT_EQ(dump.width, capture.width);
    ASSERT_EQ(dump.height, capture.height);
    EXPECT_EQ(0, PixelsNotShown(capture, dump));
    EXPECT_TRUE(boxes.Seen().empty());
}

// Run only on two monitors side by side, the primary left or right, with Wine
// reporting Windows 10 (tests/CMakeLists.txt).
class SeveralMonitors : public CaptureProgramTest {};

TEST_F(SeveralMonitors, CapturesShowEveryMonitorAndTheUsersStyleComesBackAfterAKillAndAtExit)
{
    auto value = [](const char *name) { return ReadRegistryString(DesktopKey, name); };
    auto style = [&] { return value("WallpaperStyle") + " " + value("TileWallpaper"); };
    Bitmap shot;
    ScreenDump dump;
    auto capture = [&] {
        SendMessageA(program.window, WM_COMMAND, MAKEWPARAM(IDM_CAPTURE, 1), 0);
        return ReadBmp24(program.CaptureFile(), shot) && DumpScreen(JoinDir(directory, "root.xwd"), dump);
    };
    SetRegistryString(DesktopKey, "WallpaperStyle", "10");
    DeleteRegistryValue(DesktopKey, "TileWallpaper");
    StoreSettings(0, 2);
    // The second monitor stands at negative coordinates when the primary is on the right.
    int left = GetSystemMetrics(SM_XVIRTUALSCREEN), second = left < 0 ? left : GetSystemMetrics(SM_CXSCREEN);
    HWND black = windows.Show(second + 100, 100, 400, 300, -1);     // as a window the GPU draws
    HWND above = windows.Show(second + 300, 250, 300, 200, 51);
    Start();
    ASSERT_TRUE(BringToFront(black));
    SetWindowPos(above, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_TRUE(capture());
    ASSERT_TRUE(shot.width == 400 && shot.height == 300) << "not the window in front";
    ASSERT_TRUE(dump.Shows(PatternColour(0, 0, 51), second + 300 - left, 250)) << "nothing over the window";
    EXPECT_EQ(0, PixelsNotShown(shot, dump, second + 100 - left, 100)) << "not the screen where it stands";
    EXPECT_EQ("10 <no value>", style());
    ASSERT_TRUE(BringToFront(GetDesktopWindow()) && capture());      // nothing in front
    ASSERT_TRUE(shot.width == dump.width && shot.height == dump.height) << "not every monitor";
    EXPECT_EQ(0, PixelsNotShown(shot, dump)) << "each monitor as the screen shows it";
    EXPECT_EQ("22 0", style());
    ASSERT_TRUE(TerminateProcess(program.process.hProcess, 1) && ExitCode() == 1);
    Start();
    EXPECT_EQ("10 <no value>", style()) << "the next start puts the user's style back";
    windows.Show(left + 3000, 1040, 200, 40, 72);
    ASSERT_TRUE(BringToFront(GetDesktopWindow()) && capture());
    EXPECT_EQ(0u, shot.At(shot.width - 1, shot.height - 1)) << "a window where no monitor is";
    EXPECT_EQ("22 0", style());
    ASSERT_TRUE(ChooseTrayMenuItem(program, MenuExit) && ExitCode() == 0);
    EXPECT_EQ("10 <no value>", style());
    EXPECT_TRUE(boxes.Seen().empty());
}

class TimedChange : public CaptureProgramTest {};

TEST_F(TimedChange, InModeZeroCapturesTheDesktopWhenItChanged)
{
    StoreSettings(1000, 0);
    Start();
    ASSERT_TRUE(WallpaperBecomes(program.CaptureFile()));
    EXPECT_TRUE(CaptureFileIs(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)));
    WatchSets(program.CaptureFile());
    EXPECT_FALSE(CaptureRewrittenWithin(2500)) << "ticks of an unchanged screen write nothing";
    EXPECT_EQ(0, Sets()) << "and set nothing";
    windows.Show(0, 0, 200, 100, 36);
    // Only then is the file read here: a read of ours during the set would hide it from Sets.
    EXPECT_TRUE(WaitUntil([&] { return Sets() > 0; }, 3000)) << "a changed screen is set";
    Bitmap bitmap;
    EXPECT_TRUE(WaitUntil([&] {
        return ReadBmp24(program.CaptureFile(), bitmap)
            && bitmap.At(50, 40) == PatternColour(50, 40, 36);
    }, 3000)) << "and written";
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(TimedChange, InModeTwoCapturesTheWindowInFrontEachTime)
{
    StoreSettings(1000, 2);
    Start();
    HWND window = windows.ShowInFront(120, 90, 32);
    ASSERT_TRUE(WaitUntil([&] { return CaptureFileIs(120, 90); }));
    EXPECT_TRUE(WallpaperBecomes(program.CaptureFile()));
    Bitmap bitmap;
    ASSERT_TRUE(ReadBmp24(program.CaptureFile(), bitmap));
    EXPECT_EQ(PatternColour(50, 40, 32), bitmap.At(50, 40));
    // The same window again, painted anew: mode 2 captures it anew.
    EXPECT_EQ(window, GetForegroundWindow());
    windows.Repaint(window, 36);
    EXPECT_TRUE(CaptureRewrittenWithin(5000));
}

// A minimized window's client area is empty: there is nothing of it to capture.
TEST_F(TimedChange, InModeTwoAMinimizedWindowInFrontGivesTheDesktop)
{
    StoreSettings(1000, 2);
    Start();
    HWND window = windows.ShowInFront(120, 90, 36);
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(BringToFront(window) && IsIconic(window));
    // Two ticks or more with the window in front; a still desktop is not written again.
    PumpMessages(2500);
    EXPECT_TRUE(WaitUntil(
        [&] { return CaptureFileIs(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)); }));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(TimedChange, InModeThreeCapturesAWindowOnlyWhenItIsNew)
{
    StoreSettings(1000, 3);
    Start();
    windows.ShowInFront(120, 90, 33);
    ASSERT_TRUE(WaitUntil([&] { return CaptureFileIs(120, 90); }));
    EXPECT_FALSE(CaptureRewrittenWithin(3500)) << "the same window is not captured twice";
    windows.ShowInFront(60, 40, 34);
    EXPECT_TRUE(WaitUntil([&] { return CaptureFileIs(60, 40); }));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(TimedChange, AChangeThatFailsAtEveryTickKeepsOneReportOpen)
{
    StoreSettings(1000, 0);
    boxes.SetPressing(false);
    Start();
    // A file where the store folder should be: every capture fails.
    RemoveTree(Wide(program.StoreDirectory()));
    ASSERT_TRUE(WriteText(program.StoreDirectory(), "not a folder"));
    size_t most = 0;
    auto countOpen = [&] { most = std::max(most, boxes.OpenBoxes().size()); return false; };
    WaitUntil(countOpen, 5000);
    std::vector<HWND> open = boxes.OpenBoxes();
    EXPECT_EQ(1u, most);
    ASSERT_EQ(1u, open.size());
    EXPECT_EQ("CreateFile", WindowText(open[0]));
    PressOk(open[0]);
    most = 0;
    WaitUntil(countOpen, 3000);
    EXPECT_LE(most, 1u) << "after OK the next tick may report again, once";
    EXPECT_TRUE(IsRunning(program));
}

TEST_F(TimedChange, NoneWhileTheSessionIsLockedOrAway)
{
    StoreSettings(1000, 0);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return FileExists(program.CaptureFile()); }));
    auto session = [&](WPARAM change) {
        PostMessageA(program.window, WM_WTSSESSION_CHANGE, change, 0);
    };
    session(WTS_SESSION_LOCK);
    PumpMessages(1500);         // a capture already asked for may still run
    windows.Show(0, 0, 200, 100, 37);
    EXPECT_FALSE(CaptureRewrittenWithin(2500)) << "locked";
    // Back at the console, but still locked.
    session(WTS_CONSOLE_DISCONNECT);
    session(WTS_CONSOLE_CONNECT);
    EXPECT_FALSE(CaptureRewrittenWithin(2500)) << "reconnected while locked";
    session(WTS_SESSION_UNLOCK);
    EXPECT_TRUE(CaptureRewrittenWithin(5000));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(TimedChange, NoneBehindAFullScreenProgram)
{
    std::string store = JoinDir(directory, "app\\StoreWallPaper");
    SHCreateDirectoryExA(nullptr, store.c_str(), nullptr);
    ASSERT_TRUE(WriteBmp24(JoinDir(store, "A.bmp"), 4, 4, 1) && WriteBmp24(JoinDir(store, "B.bmp"), 4, 4, 2));
    StoreSettings(1000, 1);
    Start();
    HWND front = windows.ShowInFront(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), 61, 0, 0);
    std::string shown = CurrentWallpaper();
    EXPECT_FALSE(WaitUntil([&] { return CurrentWallpaper() != shown; }, 3500)) << "three ticks";
    SetWindowLongPtrA(front, GWL_STYLE, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    SetWindowPos(front, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    EXPECT_TRUE(WaitUntil([&] { return CurrentWallpaper() != shown; }, 3000)) << "title bar";
}

class Restore : public CaptureProgramTest {};

TEST_F(Restore, PutsBackTheWallpaperThatWasSetWhenTheProgramStarted)
{
    Start();
    // What the registry says later does not matter: the start-up value counts.
    SetRegistryString(DesktopKey, "Wallpaper", otherWallpaper);
    ASSERT_TRUE(ChooseTrayMenuItem(program, MenuCapture));
    ASSERT_TRUE(WallpaperBecomes(program.CaptureFile()));
    ASSERT_TRUE(ChooseTrayMenuItem(program, MenuRestore));
    EXPECT_TRUE(WallpaperBecomes(userWallpaper));
    EXPECT_TRUE(IsRunning(program));
}

// Restore is sent as the menu sends it: the popup menu itself would change the screen.
TEST_F(Restore, BetweenTicksOfAnUnchangedScreenMakesTheNextTickSetTheCaptureAgain)
{
    StoreSettings(1000, 0);
    Start();
    ASSERT_TRUE(WallpaperBecomes(program.CaptureFile()));
    WatchSets(program.CaptureFile());
    PumpMessages(1500);
    ASSERT_EQ(0, Sets()) << "an unchanged tick sets nothing";
    PostMessageA(program.window, WM_COMMAND, IDM_RESTORE, 0);
    EXPECT_TRUE(WaitUntil([&] { return Sets() > 0; }, 3000));
    EXPECT_TRUE(WallpaperBecomes(program.CaptureFile()));
}

// Windows may name only its cached copy of the user's picture, which it
// rewrites at every change, also of a run that was killed before its Exit.
TEST_F(Restore, ExitAfterCapturesPutsBackTheUsersPictureWhereWindowsNamesItsCache)
{
    std::string themes = JoinDir(ShellFolder(CSIDL_APPDATA), "Microsoft\\Windows\\Themes");
    SHCreateDirectoryExA(nullptr, themes.c_str(), nullptr);
    std::string cache = JoinDir(themes, "TranscodedWallpaper");
    ASSERT_TRUE(CopyFileA(userWallpaper.c_str(), cache.c_str(), FALSE));
    SetRegistryString(DesktopKey, "Wallpaper", cache);
    StoreSettings(1000, 0);
    Start();
    ASSERT_TRUE(WallpaperBecomes(program.CaptureFile()));
    TerminateProcess(program.process.hProcess, 1);
    EndProgram(program);
    ASSERT_TRUE(CopyFileA(program.CaptureFile().c_str(), cache.c_str(), FALSE));
    Start();
    ASSERT_TRUE(ChooseTrayMenuItem(program, MenuExit));
    EXPECT_EQ(0u, ExitCode());
    EXPECT_EQ(ReadBytes(userWallpaper), ReadBytes(CurrentWallpaper()));
    EXPECT_TRUE(boxes.Seen().empty());
    ASSERT_TRUE(DeleteFileA(cache.c_str()));
    Start();
    ASSERT_TRUE(boxes.WaitForCount(1));
    EXPECT_EQ(cache, boxes.Seen()[0].caption) << "a cache that cannot be copied is reported";
}

class StartUpSettings : public CaptureProgramTest {};

TEST_F(StartUpSettings, FirstStartCreatesTheEmptyKeyAndWritesNothing)
{
    Start();
    EXPECT_TRUE(SettingsKeyExists());
    EXPECT_EQ(0, CountRegistryValues(SettingsKey));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(StartUpSettings, MissingUserWallpaperIsReportedWithItsReason)
{
    DeleteRegistryValue(DesktopKey, "Wallpaper");
    Start();
    ASSERT_TRUE(boxes.WaitForCount(1));
    EXPECT_EQ("RegQueryValueEx", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), boxes.Seen()[0].text);
    EXPECT_TRUE(IsRunning(program));
    // With no wallpaper of the user's known, Exit removes the wallpaper.
    SetCurrentWallpaper(otherWallpaper);
    ASSERT_TRUE(ChooseTrayMenuItem(program, MenuExit));
    EXPECT_EQ(0u, ExitCode());
    EXPECT_EQ("", CurrentWallpaper());
}

TEST_F(StartUpSettings, ZeroIntervalMeansNoTimedChange)
{
    StoreSettings(0, 0);
    Start();
    PumpMessages(3000);
    EXPECT_FALSE(FileExists(program.CaptureFile()));
}

TEST_F(StartUpSettings, UnknownModeMakesTimedChangesDoNothing)
{
    StoreSettings(1000, 7);
    Start();
    SetCurrentWallpaper(otherWallpaper);
    PumpMessages(3000);
    EXPECT_FALSE(FileExists(program.CaptureFile()));
    EXPECT_EQ(otherWallpaper, CurrentWallpaper());
    EXPECT_TRUE(boxes.Seen().empty());
}

// The running program measured from outside over captures that it is asked
// for through its own capture command. A window of 640x480 makes a bitmap
// left behind by each capture show as megabytes within a few dozen.
class ProgramResources : public CaptureProgramTest {};

TEST_F(ProgramResources, StayFlatOverRepeatedCaptures)
{
    StoreSettings(0, 2);
    Start();
    HWND window = windows.ShowInFront(640, 480, 35);
    int unixId = UnixProcessId(JoinDir(program.directory, "Tessmere.exe"));
    ASSERT_GT(unixId, 0);
    // Every other capture finds the window changed: both ways of a capture run alike.
    int count = 0;
    auto capture = [&] {
        if (++count % 2 == 0)
            windows.Repaint(window, count);
        SendMessageA(program.window, WM_COMMAND, MAKEWPARAM(IDM_CAPTURE, 1), 0);
    };
    for (int i = 0; i < 10; i++)
        capture();
    long firstResident = ResidentKiB(unixId);
    int firstDescriptors = WineServerDescriptors();
    for (int i = 0; i < 30; i++)
        capture();
    ASSERT_TRUE(CaptureFileIs(640, 480));
    long lastResident = ResidentKiB(unixId);
    int lastDescriptors = WineServerDescriptors();
    printf("30 captures in Tessmere.exe: resident %ld -> %ld KiB; server descriptors %d -> %d\n",
           firstResident, lastResident, firstDescriptors, lastDescriptors);
    EXPECT_GT(firstResident, 0);
    EXPECT_LE(lastResident, firstResident + 2048) << "memory left behind";
    EXPECT_LE(lastDescriptors, firstDescriptors + 4) << "handles left open";
    EXPECT_TRUE(boxes.Seen().empty());
}
