#include "tessmere.h"

#include <shellapi.h>
#include <wtsapi32.h>

static HMENU TrayMenu;              // menu 102, from WM_CREATE to WM_DESTROY
static HMODULE SessionLibrary;      // wtsapi32.dll while the window hears of session changes
static bool SessionLocked;          // from WTS_SESSION_LOCK to WTS_SESSION_UNLOCK
static bool SessionDisconnected;    // from a console or remote disconnect to a connect
static bool TimedChangeUnderWay;    // perhaps waiting in its report's message box
static char ShownPath[MAX_PATH];    // the picture set last, empty if it could not be looked at
static WIN32_FILE_ATTRIBUTE_DATA ShownFile;     // its size and last-write time then

// The tray's Capture waits until the menu, the chosen item's fade-out and the
// icon's tip are gone and the windows under them have painted themselves
// again: the desktop of a shell repaints later than the closing menu's command.
static const UINT TrayCaptureDelay = 750;

typedef BOOL(WINAPI *RegisterSessionFunction)(HWND, DWORD);
typedef BOOL(WINAPI *UnregisterSessionFunction)(HWND);

void ApplyWallpaper(const char *path)
{
    if (path == NULL)
        path = CaptureFilePath;
    if (GetFileAttributesExA(path, GetFileExInfoStandard, &ShownFile))
        lstrcpynA(ShownPath, path, MAX_PATH);
    else
        ShownPath[0] = '\0';
    // Broadcast only: the user's stored wallpaper setting must keep naming their own picture.
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, (void *)path, SPIF_SENDWININICHANGE);
}

// Setting the picture already shown makes the system read it again and wakes
// every program with the broadcast. The system says which file it shows; the
// size and time say that no capture or dropped file has replaced it since.
bool StillShown(const char *path)
{
    char shown[MAX_PATH];
    WIN32_FILE_ATTRIBUTE_DATA now;
    return ShownPath[0] != '\0' && lstrcmpiA(path, ShownPath) == 0
        && SystemParametersInfoA(SPI_GETDESKWALLPAPER, MAX_PATH, shown, 0)
        && lstrcmpiA(shown, path) == 0
        && GetFileAttributesExA(path, GetFileExInfoStandard, &now)
        && now.nFileSizeHigh == ShownFile.nFileSizeHigh
        && now.nFileSizeLow == ShownFile.nFileSizeLow
        && CompareFileTime(&now.ftLastWriteTime, &ShownFile.ftLastWriteTime) == 0;
}

void ScheduleChangeTimer(HWND window, bool stop)
{
    UINT interval = ChangeInterval(ChangeSettings);
    if (stop || interval == 0) {
        KillTimer(window, CHANGE_TIMER_ID);
        return;
    }
    if (SetTimer(window, CHANGE_TIMER_ID, interval, NULL) == 0)
        ReportLastError("SetTimer");
}

// wtsapi32.dll is not among the DLLs that Windows always takes from the
// system folder: asked for by name, a copy beside the executable (say, in
// Downloads) would be loaded instead.
static void WatchSession(HWND window)
{
    char directory[MAX_PATH];
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !JoinPath(path, NULL, directory, "wtsapi32.dll", NULL))
        return;
    SessionLibrary = LoadLibraryA(path);
    if (SessionLibrary == NULL)
        return;
    RegisterSessionFunction watch = (RegisterSessionFunction)(void *)GetProcAddress(
        SessionLibrary, "WTSRegisterSessionNotification");
    // Windows may refuse early in sign-in, when a Startup shortcut starts the
    // program; it then runs on without pausing, as it did before.
    if (watch == NULL || !watch(window, NOTIFY_FOR_THIS_SESSION)) {
        FreeLibrary(SessionLibrary);
        SessionLibrary = NULL;
    }
}

static void UnwatchSession(HWND window)
{
    if (SessionLibrary == NULL)
        return;
    UnregisterSessionFunction unwatch = (UnregisterSessionFunction)(void *)GetProcAddress(
        SessionLibrary, "WTSUnRegisterSessionNotification");
    if (unwatch != NULL)
        unwatch(window);
    FreeLibrary(SessionLibrary);
    SessionLibrary = NULL;
}

static void OnCreate(HWND window)
{
    TrayMenu = LoadMenuA(AppInstance, MAKEINTRESOURCEA(IDR_TRAYMENU));
    ScheduleChangeTimer(window, false);
    WatchSession(window);
}

static void OnDestroy(HWND window)
{
    if (TrayMenu != NULL) {
        DestroyMenu(TrayMenu);
        TrayMenu = NULL;
    }
    ScheduleChangeTimer(window, true);
    KillTimer(window, TRAY_CAPTURE_TIMER_ID);
    UnwatchSession(window);
    CloseStoreSearch();
    PostQuitMessage(0);
}

static void OnSessionChange(WPARAM change)
{
    switch (change) {
    case WTS_SESSION_LOCK:
        SessionLocked = true;
        break;
    case WTS_SESSION_UNLOCK:
        SessionLocked = false;
        break;
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
        SessionDisconnected = true;
        break;
    case WTS_CONSOLE_CONNECT:
    case WTS_REMOTE_CONNECT:
        SessionDisconnected = false;
        break;
    }
}

// No one sees the desktop of a locked or disconnected session, and its screen
// cannot be read then. A change whose report still waits for the user would
// be joined by one more box at every tick.
static bool TimedChangeMayStart()
{
    return !SessionLocked && !SessionDisconnected && !TimedChangeUnderWay;
}

static void RunTimedCapture()
{
    if (!TimedChangeMayStart())
        return;
    TimedChangeUnderWay = true;
    if (CaptureToFile(ChangeSettings.Mode))
        ApplyWallpaper(NULL);
    TimedChangeUnderWay = false;
}

static ULONGLONG CycledFingerprint;     // of the stored file set last, read just before

// A picture copied over another of the same size brings the time of its own
// source, and FAT keeps times to two seconds: only the bytes tell them apart.
// Read a piece at a time; a file that cannot be read is simply set again.
static bool ReadFingerprint(const char *path, ULONGLONG &fingerprint)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ULONGLONG piece[8192];
    ULONGLONG sum = 0;
    DWORD read = 0;
    BOOL succeeded;
    while ((succeeded = ReadFile(file, piece, sizeof piece, &read, NULL)) && read > 0) {
        ZeroMemory((char *)piece + read, (8 - read % 8) % 8);
        for (DWORD i = 0; i < (read + 7) / 8; i++) {
            sum = (sum ^ piece[i]) * 0x9E3779B97F4A7C15ull;
            sum ^= sum >> 29;
        }
    }
    CloseHandle(file);
    fingerprint = sum;
    return succeeded != FALSE;
}

static void RunTimedCycle(HWND window)
{
    TimedChangeUnderWay = true;
    // An empty store gives an empty path, which would remove the user's
    // wallpaper; a store of one file gives the picture already shown.
    const char *path = NextStoredFile(window);
    ULONGLONG fingerprint = 0;
    bool readable = path[0] != '\0' && ReadFingerprint(path, fingerprint);
    if (path[0] != '\0' && !(readable && fingerprint == CycledFingerprint && StillShown(path))) {
        ApplyWallpaper(path);
        CycledFingerprint = fingerprint;
    }
    TimedChangeUnderWay = false;
}

static void ShowTrayMenu(HWND window)
{
    POINT cursor;
    GetCursorPos(&cursor);
    HMENU popup = GetSubMenu(TrayMenu, 0);
    if (popup == NULL) {
        ReportLastError("GetSubMenu");
        return;
    }
    TrackPopupMenu(popup, TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, window, NULL);
    // Without a message after the menu, a tray menu may not close when the user clicks elsewhere.
    PostMessageA(window, WM_NULL, 0, 0);
}

static void OnTrayNotify(HWND window, LPARAM lParam)
{
    // The popup menu of a window that is not in front would stay open after a click elsewhere.
    SetForegroundWindow(window);
    if (lParam == WM_LBUTTONDOWN)
        ShowTrayMenu(window);
}

static LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDM_SETTINGS:
        if (DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_SETTINGS), window,
                            SettingsDialogProc, 0) == IDOK)
            ScheduleChangeTimer(window, false);
        return 0;
    case IDM_CAPTURE:
        // The tray menu sends a high word of 0; the change timer posts 1.
        if (HIWORD(wParam) != 0)
            RunTimedCapture();
        else if (SetTimer(window, TRAY_CAPTURE_TIMER_ID, TrayCaptureDelay, NULL) == 0)
            ReportLastError("SetTimer");
        return 0;
    case IDM_RESTORE:
        // A capture still waiting would undo the Restore chosen after it.
        KillTimer(window, TRAY_CAPTURE_TIMER_ID);
        ApplyWallpaper(UserWallpaper);
        return 0;
    case IDM_EXIT:
        SendMessageA(window, WM_COMMAND, IDM_RESTORE, 0);
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    case IDM_STOP:
        ScheduleChangeTimer(window, true);
        return 0;
    case IDM_OPEN:
        ShellExecuteA(window, NULL, StoreDirectory, NULL, NULL, SW_SHOWNORMAL);
        return 0;
    }
    return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

// A skipped tick leaves the timer as it is, so that it keeps its rhythm.
static void OnChangeTimer(HWND window)
{
    if (!TimedChangeMayStart())
        return;
    ScheduleChangeTimer(window, true);
    switch (ChangeSettings.Mode) {
    case ModeCaptureDesktop:
    case ModeCaptureWindow:
    case ModeCaptureNewWindow:
        // Posted, so that the timer is re-armed before a capture's message box can hold things up.
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_CAPTURE, 1), 0);
        break;
    case ModeCycleFiles:
        RunTimedCycle(window);
        break;
    }
    ScheduleChangeTimer(window, false);
}

static void OnTrayCaptureTimer(HWND window)
{
    KillTimer(window, TRAY_CAPTURE_TIMER_ID);
    if (CaptureToFile(ModeCaptureDesktop))
        ApplyWallpaper(NULL);
}

static void OnTimer(HWND window, WPARAM timer)
{
    switch (timer) {
    case CHANGE_TIMER_ID:
        OnChangeTimer(window);
        break;
    case TRAY_CAPTURE_TIMER_ID:
        OnTrayCaptureTimer(window);
        break;
    }
}

// Any program may send the message while the shell still holds the icon,
// which then only needs bringing up to date.
static void OnTaskbarCreated()
{
    ReloadTrayIcon();   // the display may have been scaled since the icon was added
    if (!Shell_NotifyIconA(NIM_ADD, &TrayIcon) && !Shell_NotifyIconA(NIM_MODIFY, &TrayIcon))
        ReportLastError("Shell_NotifyIcon");
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Registered at run time, so it cannot be a case label.
    if (message == TaskbarCreatedMessage && message != 0) {
        OnTaskbarCreated();
        return 0;
    }
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    case WM_TRAYNOTIFY:
        OnTrayNotify(window, lParam);
        return 0;
    case WM_COMMAND:
        return OnCommand(window, wParam, lParam);
    case WM_TIMER:
        OnTimer(window, wParam);
        return 0;
    case WM_WTSSESSION_CHANGE:
        OnSessionChange(wParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
