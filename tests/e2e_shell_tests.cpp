// The tray shell as a user meets it: start-up, a second copy, the tray menu,
// Open and Exit.
#include "e2e_fixture.h"

#include <shellapi.h>
#include <shlobj.h>

class StartUp : public ProgramTest {};

TEST_F(StartUp, CreatesAHiddenWindowTheTrayIconAndTheStoreDirectory)
{
    Start();
    EXPECT_FALSE(IsWindowVisible(program.window));
    EXPECT_EQ("Tessmere", WindowText(program.window));
    EXPECT_TRUE(DirectoryExists(program.StoreDirectory()));
    EXPECT_TRUE(TrayIconPresent());
    PumpMessages(500);
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(StartUp, KeepsAnExistingStoreDirectoryAndItsFiles)
{
    std::string app = JoinDir(directory, "app");
    CreateDirectoryA(app.c_str(), nullptr);
    CreateDirectoryA(JoinDir(app, "StoreWallPaper").c_str(), nullptr);
    std::string kept = JoinDir(JoinDir(app, "StoreWallPaper"), "kept.bmp");
    ASSERT_TRUE(WriteBmp24(kept, 4, 4, 0x123456));
    std::vector<uint8_t> before = ReadBytes(kept);
    Start();
    PumpMessages(500);
    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_EQ(before, ReadBytes(kept));
}

TEST_F(StartUp, InADoubleByteDirectoryCreatesTheStoreThere)
{
    // "K:\表表...\ソフト": characters whose trail byte is 0x5C in code page 932,
    // as many as fit a capture file's path in the 255 characters that Wine's
    // SystemParametersInfoA keeps, 701 bytes in UTF-8. A drive letter of its
    // own keeps the scratch folder out of the count.
    std::string drive = "\"$WINEPREFIX/dosdevices/k:\"";
    ASSERT_EQ(0, RunUnixCommand("ln -sfn " + ShellQuote(UnixPath(directory)) + " " + drive));
    std::wstring app = L"K:\\" + std::wstring(220, L'\u8868') + L"\\\u30bd\u30d5\u30c8";
    CreateDirectoryW(app.substr(0, app.rfind(L'\\')).c_str(), nullptr);
    StoreSettings(1000, 0);
    Start(program, app, boxes);
    EXPECT_TRUE(WaitUntil([&] { return CurrentWallpaperW() == app + L"\\StoreWallPaper\\Tessmere.bmp"; }));
    EXPECT_TRUE(boxes.Seen().empty());
    EndProgram(program);
    RunUnixCommand("rm -f " + drive);
}

TEST_F(StartUp, InAFolderNamedOutsideTheCodePageCapturesThere)
{
    // "Łódź 한국 😀": code page 932 spells none of Ł, ź, the Hangul or the emoji.
    std::wstring app = Wide(directory) + L"\\\u0141\u00f3d\u017a \ud55c\uad6d \U0001f600";
    std::wstring capture = app + L"\\StoreWallPaper\\Tessmere.bmp";
    StoreSettings(1000, 0);
    Start(program, app, boxes);
    EXPECT_TRUE(WaitUntil([&] { return CurrentWallpaperW() == capture; }));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(capture.c_str()));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(StartUp, PathsTooLongForTheStoreAreReportedAndEndTheRun)
{
    // The executable's path fits in 260 bytes; its capture file's path would not.
    std::string deep = directory;
    while (deep.size() < 240) {
        deep = JoinDir(deep, std::string(std::min<size_t>(60, 240 - deep.size()), 'd'));
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << deep;
    }
    ASSERT_TRUE(LaunchProgram(Wide(deep), program));
    boxes.SetProcess(program.process.dwProcessId);
    ASSERT_TRUE(boxes.WaitForCount(1));
    EXPECT_EQ(0u, ExitCode());
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ("Tessmere", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_FILENAME_EXCED_RANGE), boxes.Seen()[0].text);
    EXPECT_FALSE(DirectoryExists(JoinDir(deep, "StoreWallPaper")));
}

class SingleInstance : public ProgramTest {};

TEST_F(SingleInstance, SecondCopySaysAlreadyExistAndLeavesTheFirstAlone)
{
    Start();
    DeleteSettingsKey();        // the second copy reads its settings before giving up
    Program second;
    BoxWatcher secondBoxes{ 0 };
    std::string elsewhere = JoinDir(directory, "second");
    ASSERT_TRUE(LaunchProgram(Wide(elsewhere), second));
    secondBoxes.SetProcess(second.process.dwProcessId);
    ASSERT_TRUE(secondBoxes.WaitForCount(1));
    DWORD code = STILL_ACTIVE;
    EXPECT_TRUE(WaitForExit(second, 15000, code));
    EXPECT_EQ(0u, code);
    ASSERT_EQ(1u, secondBoxes.Seen().size());
    EXPECT_EQ("Tessmere", secondBoxes.Seen()[0].caption);
    EXPECT_EQ("Already exist", secondBoxes.Seen()[0].text);
    EXPECT_EQ(nullptr, secondBoxes.Seen()[0].icon);
    EXPECT_FALSE(DirectoryExists(JoinDir(elsewhere, "StoreWallPaper")));
    EXPECT_TRUE(SettingsKeyExists());
    EXPECT_TRUE(IsRunning(program));
    EXPECT_TRUE(IsWindow(program.window));
    EXPECT_TRUE(TrayIconPresent());
    EndProgram(second);
}

class TrayMenu : public ProgramTest {};

TEST_F(TrayMenu, LeftButtonOpensTheMenuWithItsBottomAtTheCursor)
{
    Start();
    // A real click on the icon, in the tray the shell draws.
    ASSERT_TRUE(ClickTrayIcon());
    HWND clicked = WaitForTrayMenu(program);
    ASSERT_NE(nullptr, clicked) << "a click on the tray icon opens no menu";
    PressKey(clicked, VK_ESCAPE);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(clicked); }));
    // Wine may read the pointer back from X, where the click left it: move it there too.
    ASSERT_EQ(0, RunUnixCommand("xdotool mousemove 600 500"));
    SetCursorPos(600, 500);
    SendTrayNotification(program, WM_LBUTTONDOWN);
    HWND menu = WaitForTrayMenu(program);
    ASSERT_NE(nullptr, menu);
    RECT rect;
    GetWindowRect(menu, &rect);
    EXPECT_EQ(600, rect.left);
    EXPECT_EQ(500, rect.bottom);
    PressKey(menu, VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(menu); }));
    EXPECT_TRUE(IsRunning(program));
}

TEST_F(TrayMenu, EnterOnTheIconOpensOneMenuWithItsFirstItemSelected)
{
    Start();
    // The shell may report one press of Enter twice: while its menu is open, or as it closes.
    for (UINT key : { VK_ESCAPE, VK_RETURN }) {
        SendTrayNotification(program, NIN_KEYSELECT);
        SendTrayNotification(program, NIN_KEYSELECT);
        HWND menu = WaitForTrayMenu(program);
        ASSERT_NE(nullptr, menu) << "Enter on the icon opens no menu";
        PressKey(menu, key);
        SendTrayNotification(program, NIN_KEYSELECT);
        PumpMessages(1000);
        EXPECT_EQ(nullptr, FindProcessWindow(program.process.dwProcessId, "#32768", nullptr));
    }
    HWND dialog = WaitForWindow(program.process.dwProcessId, "#32770", "Tessmere");
    ASSERT_NE(nullptr, dialog) << "Enter in the menu chose no Settings, its first item";
    SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(TrayMenu, OtherNotificationsOpenNothing)
{
    Start();
    for (UINT notification : { WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU, WM_LBUTTONDBLCLK,
                               WM_MOUSEMOVE, NIN_SELECT })
        SendTrayNotification(program, notification);
    PumpMessages(1500);
    EXPECT_EQ(nullptr, FindProcessWindow(program.process.dwProcessId, "#32768", nullptr));
    EXPECT_TRUE(boxes.Seen().empty());
}

static BOOL CALLBACK FindTitled(HWND window, LPARAM parameter)
{
    auto *query = (std::pair<std::string, HWND> *)parameter;
    char title[512] = "";
    GetWindowTextA(window, title, sizeof title);
    if (IsWindowVisible(window) && std::string(title).find(query->first) != std::string::npos) {
        query->second = window;
        return FALSE;
    }
    return TRUE;
}

TEST_F(TrayMenu, OpenShowsTheStoreFolder)
{
    Start();
    ASSERT_TRUE(ChooseTrayMenuItem(program, MenuOpen));
    std::pair<std::string, HWND> query("StoreWallPaper", nullptr);
    EXPECT_TRUE(WaitUntil([&] { EnumWindows(FindTitled, (LPARAM)&query); return query.second != nullptr; },
                          20000));
    if (query.second != nullptr)
        PostMessageA(query.second, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsRunning(program));
    EXPECT_TRUE(boxes.Seen().empty());
}

// A shell that restarts has lost every tray icon; it then sends the
// registered message "TaskbarCreated" to every top-level window.
class ShellRestart : public ProgramTest {
protected:
    bool RemoveTrayIcon()
    {
        NOTIFYICONDATAA icon = {};
        icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
        icon.hWnd = program.window;
        icon.uID = 101;
        return Shell_NotifyIconA(NIM_DELETE, &icon) != FALSE;
    }
    UINT TaskbarCreated()
    {
        return RegisterWindowMessageA("TaskbarCreated");
    }
};

TEST_F(ShellRestart, TaskbarCreatedBringsBackTheLostIcon)
{
    Start();
    ASSERT_TRUE(RemoveTrayIcon());
    PumpMessages(500);
    ASSERT_FALSE(TrayIconPresent()) << "a lost icon stays lost without the message";
    ASSERT_NE(0u, TaskbarCreated());
    SendMessageA(program.window, TaskbarCreated(), 0, 0);
    EXPECT_TRUE(TrayIconPresent());
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(ShellRestart, TaskbarCreatedWhileTheIconIsThereKeepsItQuietly)
{
    Start();
    // Any program may send the message while the shell still holds the icon.
    PostMessageA(program.window, TaskbarCreated(), 0, 0);
    PumpMessages(1000);
    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_TRUE(TrayIconPresent());
    ASSERT_TRUE(ChooseTrayMenuItem(program, MenuExit));
    EXPECT_EQ(0u, ExitCode());
}

class Exit : public ProgramTest {};

TEST_F(Exit, RestoresTheUsersWallpaperAndEndsWithZero)
{
    // Read through code page 932, "Zoë" would be "Zoe": another file, or none.
    std::wstring zoe = Wide(directory) + L"\\Zo\u00eb \U0001f600.bmp";
    ASSERT_TRUE(CopyFileW(Wide(userWallpaper).c_str(), zoe.c_str(), FALSE));
    SetRegistryString(DesktopKey, "Wallpaper", zoe);
    Start();
    SetCurrentWallpaper(otherWallpaper);
    ASSERT_EQ(otherWallpaper, CurrentWallpaper());
    ASSERT_TRUE(ChooseTrayMenuItem(program, MenuExit));
    EXPECT_EQ(0u, ExitCode());
    EXPECT_EQ(zoe, CurrentWallpaperW());
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(Exit, CloseFromElsewhereLeavesTheWallpaperInPlace)
{
    Start();
    SetCurrentWallpaper(otherWallpaper);
    PostMessageA(program.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, ExitCode());
    EXPECT_EQ(otherWallpaper, CurrentWallpaper());
    EXPECT_TRUE(boxes.Seen().empty());
}

// Run in a prefix of its own (tests/CMakeLists.txt): as a sign-out or a
// shutdown does, "wineboot -e" ends every process with a window as soon as
// it has handled WM_ENDSESSION. After the Restart Manager's "close now" the
// session goes on.
class SessionEnd : public ProgramTest {};

TEST_F(SessionEnd, IsAnExitThatLeavesNoIcon)
{
    StoreSettings(1000, 0);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return CurrentWallpaper() == program.CaptureFile(); }));
    EXPECT_EQ(TRUE, SendMessageA(program.window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP));
    SendMessageA(program.window, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    EXPECT_FALSE(TrayIconPresent());
    EXPECT_EQ(userWallpaper, CurrentWallpaper());
    EXPECT_EQ(0u, ExitCode());
    Start();
    ASSERT_TRUE(WaitUntil([&] { return CurrentWallpaper() == program.CaptureFile(); }));
    DWORD code;
    ASSERT_TRUE(RunToEnd("wineboot.exe -e", code));
    EXPECT_EQ(userWallpaper, CurrentWallpaper());
    EXPECT_TRUE(boxes.Seen().empty());
}

// The release installer as a user meets it: a silent install, Tessmere started
// as a sign-in would start it, updates, and a silent uninstall while it runs.
class Installer : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        installed = JoinDir(JoinDir(ShellFolder(CSIDL_LOCAL_APPDATA), "Programs"), "Tessmere");
        menuShortcut = JoinDir(ShellFolder(CSIDL_PROGRAMS), "Tessmere.lnk");
        signInShortcut = JoinDir(ShellFolder(CSIDL_STARTUP), "Tessmere.lnk");
    }
    // Wine starts what the Startup folder holds with every new session of the
    // prefix: nothing may stay behind for the next run of the suite.
    void TearDown() override
    {
        ProgramTest::TearDown();
        DeleteFileA(menuShortcut.c_str());
        DeleteFileA(signInShortcut.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, UninstallKey);
        RemoveTree(Wide(installed));
    }
    static constexpr const char *UninstallKey =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessmere";
    std::string installed;
    std::string menuShortcut;
    std::string signInShortcut;
};

TEST_F(Installer, InstallsForTheUserAndUninstallsWhileItRunsKeepingPicturesAndSettings)
{
    std::string setup = WindowsPath(SETUP_EXE);
    ASSERT_TRUE(FileExists(setup)) << setup << " was not built: makensis (Debian's nsis) is missing";
    DWORD code = STILL_ACTIVE;
    ASSERT_TRUE(RunToEnd("\"" + setup + "\" /S", code));
    ASSERT_EQ(0u, code);
    EXPECT_EQ(nullptr, WaitForWindow(0, "Tessmere", "Tessmere", 2000)) << "a fresh silent install starts it";
    std::string exe = JoinDir(installed, "Tessmere.exe");
    std::string uninstaller = JoinDir(installed, "Uninstall.exe");
    EXPECT_TRUE(FileExists(exe));
    EXPECT_TRUE(FileExists(menuShortcut));
    EXPECT_TRUE(FileExists(signInShortcut));
    EXPECT_EQ("Tessmere", ReadRegistryString(UninstallKey, "DisplayName"));
    EXPECT_EQ("1.1.1", ReadRegistryString(UninstallKey, "DisplayVersion"));
    EXPECT_EQ("Quillaby", ReadRegistryString(UninstallKey, "Publisher"));
    EXPECT_EQ(exe, ReadRegistryString(UninstallKey, "DisplayIcon"));
    EXPECT_EQ(installed, ReadRegistryString(UninstallKey, "InstallLocation"));
    EXPECT_EQ("\"" + uninstaller + "\"", ReadRegistryString(UninstallKey, "UninstallString"));
    std::string quietUninstall = ReadRegistryString(UninstallKey, "QuietUninstallString");
    EXPECT_EQ("\"" + uninstaller + "\" /S", quietUninstall);
    DWORD kilobytes = 0;
    EXPECT_TRUE(ReadRegistryDword(UninstallKey, "EstimatedSize", kilobytes) && kilobytes > 0);

    // Started as at sign-in, through the Startup shortcut, it runs from where it was installed.
    ShellExecuteA(nullptr, nullptr, signInShortcut.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    program.directory = installed;
    auto attach = [&] {
        program.window = WaitForWindow(0, "Tessmere", "Tessmere");
        GetWindowThreadProcessId(program.window, &program.process.dwProcessId);
        program.process.hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION
                                               | PROCESS_TERMINATE, FALSE, program.process.dwProcessId);
        boxes.SetProcess(program.process.dwProcessId);
        return program.window != nullptr && WaitUntil([&] { return TrayIconPresent(); });
    };
    ASSERT_TRUE(attach()) << "no window or no tray icon";
    EXPECT_TRUE(DirectoryExists(program.StoreDirectory()));
    EXPECT_TRUE(SettingsKeyExists());
    std::string picture = JoinDir(program.StoreDirectory(), "mine.bmp");
    ASSERT_TRUE(WriteBmp24(picture, 8, 8, 0x123456));
    SetCurrentWallpaper(otherWallpaper);

    // An update ends the running copy through its Exit, and starts it again.
    ASSERT_TRUE(RunToEnd("\"" + setup + "\" /S", code));
    EXPECT_EQ(0u, code);
    EXPECT_EQ(0u, ExitCode());
    EXPECT_EQ(userWallpaper, CurrentWallpaper());
    EndProgram(program);
    ASSERT_TRUE(attach()) << "not started again";
    // Held by a scanner, the exe still starts, but the update fails after it has ended Tessmere.
    HANDLE held = CreateFileA(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    bool ran = RunToEnd("\"" + setup + "\" /S", code);
    CloseHandle(held);
    ASSERT_TRUE(ran && code == 2 && ExitCode() == 0) << code;
    EndProgram(program);
    ASSERT_TRUE(attach()) << "the copy that a failed update ended is not running again";
    SetCurrentWallpaper(otherWallpaper);

    // The uninstaller goes on from a copy of itself and returns at once.
    ASSERT_TRUE(RunToEnd(quietUninstall, code));
    EXPECT_EQ(0u, ExitCode(20000));
    EXPECT_EQ(userWallpaper, CurrentWallpaper());
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(uninstaller); }, 20000));
    EXPECT_FALSE(FileExists(exe));
    EXPECT_FALSE(FileExists(menuShortcut));
    EXPECT_FALSE(FileExists(signInShortcut));
    EXPECT_EQ("<no key>", ReadRegistryString(UninstallKey, "DisplayName"));
    EXPECT_TRUE(FileExists(picture));
    EXPECT_TRUE(SettingsKeyExists());
    EXPECT_TRUE(boxes.Seen().empty());
}
