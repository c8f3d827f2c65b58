// The fixture of the end-to-end tests: a fresh directory for the program's
// copy, the user's own wallpaper in the registry, no stored settings, a
// watcher that reads and dismisses the program's message boxes, a count of
// a picture's wallpaper sets, and windows of other programs to put in front.
#ifndef TESSMERE_E2E_FIXTURE_H
#define TESSMERE_E2E_FIXTURE_H

#include "program.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = ScratchDirectory();
        userWallpaper = JoinDir(directory, "user.bmp");
        otherWallpaper = JoinDir(directory, "other.bmp");
        ASSERT_TRUE(WriteBmp24(userWallpaper, 8, 8, 0x336699));
        ASSERT_TRUE(WriteBmp24(otherWallpaper, 8, 8, 0x996633));
        SetRegistryString(DesktopKey, "Wallpaper", userWallpaper);
        DeleteSettingsKey();
    }
    void TearDown() override
    {
        EndProgram(program);
    }
    // Starts the program in its own directory and waits for its main window.
    void Start(Program &which, const std::wstring &where, BoxWatcher &watcher)
    {
        ASSERT_TRUE(LaunchProgram(where, which));
        watcher.SetProcess(which.process.dwProcessId);
        which.window = WaitForMainWindow(which);
        ASSERT_NE(nullptr, which.window) << "no main window; the program "
            << (IsRunning(which) ? "runs" : "ended") << ", boxes seen: " << watcher.Seen().size();
        // The window comes before the icon: start-up is over once both are there.
        ASSERT_TRUE(WaitUntil([&] { return TrayIconPresent(which.window); })) << "no tray icon";
    }
    void Start()
    {
        Start(program, Wide(JoinDir(directory, "app")), boxes);
    }
    void StoreSettings(DWORD timerMilliseconds, DWORD mode)
    {
        SetRegistryDword(SettingsKey, "Timer", timerMilliseconds);
        SetRegistryDword(SettingsKey, "Mode", mode);
    }
    bool TrayIconPresent() { return TrayIconPresent(program.window); }
    static bool TrayIconPresent(HWND window)
    {
        NOTIFYICONDATAA icon = {};
        icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
        icon.hWnd = window;
        icon.uID = 101;
        icon.uFlags = NIF_TIP;
        lstrcpyA(icon.szTip, "Tessmere");
        return Shell_NotifyIconA(NIM_MODIFY, &icon) != FALSE;
    }
    static std::string ShellFolder(int folder)
    {
        char path[MAX_PATH] = "";
        SHGetFolderPathA(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path);
        return path;
    }
    bool CaptureRewrittenWithin(DWORD milliseconds)
    {
        return RewrittenWithin(program.CaptureFile(), milliseconds);
    }
    // Wine maps the picture of each wallpaper set: a set shows as an open and
    // a close with no read between them, whereas the program's own comparison
    // reads the file. The watch ends by itself.
    void WatchSets(const std::string &picture)
    {
        opens = JoinDir(directory, "opens.log");
        RunUnixCommand("timeout 60 inotifywait -m -e open,access,close_nowrite --format %e "
                       + ShellQuote(UnixPath(picture)) + " >" + ShellQuote(UnixPath(opens)) + " 2>&1 &");
        ASSERT_TRUE(WaitUntil([&] {
            std::vector<uint8_t> log = ReadBytes(opens);
            return std::string(log.begin(), log.end()).find("established") != std::string::npos;
        }));
    }
    long Sets()
    {
        return NumberFromUnix("awk '/^OPEN/ { read = 0 } /^ACCESS/ { read = 1 }"
                              " /^CLOSE_NOWRITE/ { sets += !read } END { print sets + 0 }' "
                              + ShellQuote(UnixPath(opens)));
    }
    static bool RunToEnd(std::string commandLine, DWORD &exitCode)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
            return false;
        bool ended = WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return ended;
    }
    DWORD ExitCode(DWORD timeoutMs = 15000)
    {
        DWORD code = STILL_ACTIVE;
        WaitForExit(program, timeoutMs, code);
        return code;
    }

    std::string directory;
    std::string userWallpaper;
    std::string otherWallpaper;
    std::string opens;          // the log of WatchSets
    Program program;
    BoxWatcher boxes{ 0 };
    PatternWindows windows;
};

#endif
