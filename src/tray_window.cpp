#include "tessmere.h"

#include <shellapi.h>
#include <wtsapi32.h>

static HMENU TrayMenu;              // menu 102, from WM_CREATE to WM_DESTROY
static HMODULE SessionLibrary;      // wtsapi32.dll while the window hears of session changes
static bool SessionLocked;          // from WTS_SESSION_LOCK to WTS_SESSION_UNLOCK
static bool SessionDisconnected;    // from a console or remote disconnect to a connect
static bool TimedChangeUnderWay;    // perhaps waiting in its report's message box
static bool TrayMenuOpen;           // while the tray menu is tracked
static DWORD TrayMenuClosedAt;      // GetTickCount when it last closed

// The tray's Capture waits until the menu, the chosen item's fade-out and the
// icon's tip are gone and the windows under them have painted themselves
// again: the desktop of a shell repaints later than the closing menu's command.
static const UINT TrayCaptureDelay = 750;

// Enter on the icon can be reported twice, the second time just after the
// menu that the first opened has closed. One press opens one menu.
static const DWORD KeySelectEchoTime = 500;

typedef BOOL(WINAPI *RegisterSessionFunction)(HWND, DWORD);
typedef BOOL(WINAPI *UnregisterSessionFunction)(HWND);
typedef HRESULT(WINAPI *IconRectFunction)(const NOTIFYICONIDENTIFIER *, RECT *);
typedef HRESULT(WINAPI *NotificationStateFunction)(QUERY_USER_NOTIFICATION_STATE *);

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
    char directory[PathBufferSize];
    char path[PathBufferSize];
    UINT length = GetSystemDirectoryA(directory, sizeof directory);
    if (length == 0 || length >= sizeof directory
        || !JoinPath(path, NULL, directory, "wtsapi32.dll", NULL))
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

// However the window goes (Exit, a WM_CLOSE from elsewhere, the end of the
// session), a change waiting in its report must set nothing after it.
static void OnDestroy(HWND window)
{
    ProgramEnding = true;
    NoteUserChoice();
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

// Windows' own word, from Vista on, for an exclusive Direct3D full screen or a
// presentation. Busy, which overlays report over an empty desktop, is none.
static bool ShellReportsFullScreen()
{
    NotificationStateFunction query = (NotificationStateFunction)(void *)GetProcAddress(
        GetModuleHandleA("shell32.dll"), "SHQueryUserNotificationState");
    QUERY_USER_NOTIFICATION_STATE state;
    return query != NULL && SUCCEEDED(query(&state))
        && (state == QUNS_RUNNING_D3D_FULL_SCREEN || state == QUNS_PRESENTATION_MODE);
}

static bool IsTaskbar(HWND window)
{
    char name[32] = "";
    GetClassNameA(window, name, sizeof name);
    return lstrcmpiA(name, "Shell_TrayWnd") == 0 || lstrcmpiA(name, "Shell_SecondaryTrayWnd") == 0;
}

// A game, a video or a slide show whose client area covers its whole monitor.
// A maximized window does not count: browsers and programs that draw their own
// title bar cover a monitor without a taskbar all day that way.
static bool FullScreenWindowInFront()
{
    HWND front = GetForegroundWindow();
    DWORD process = 0;
    if (front == NULL || !IsWindowVisible(front) || IsIconic(front) || IsZoomed(front)
        || IsDesktop(front) || IsTaskbar(front))
        return false;
    GetWindowThreadProcessId(front, &process);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    RECT client;
    if (process == GetCurrentProcessId()
        || !GetMonitorInfoA(MonitorFromWindow(front, MONITOR_DEFAULTTONEAREST), &monitor)
        || !GetClientRect(front, &client))
        return false;
    MapWindowPoints(front, HWND_DESKTOP, (POINT *)&client, 2);
    const RECT &covered = monitor.rcMonitor;
    return client.left <= covered.left && client.top <= covered.top
        && client.right >= covered.right && client.bottom >= covered.bottom;
}

static bool FullScreenProgramInFront()
{
    return FullScreenWindowInFront() || ShellReportsFullScreen();
}

// No one sees the desktop of a locked or disconnected session, and its screen
// cannot be read then; nor the desktop behind a full-screen program, which a
// change would interrupt with a whole-screen copy and a redraw. A change whose
// report still waits for the user would be joined by one more box at every tick.
static bool TimedChangeMayStart()
{
    return !SessionLocked && !SessionDisconnected && !TimedChangeUnderWay
        && !FullScreenProgramInFront();
}

static void RunTimedCapture()
{
    if (!TimedChangeMayStart())
        return;
    TimedChangeUnderWay = true;
    BeginTimedChange();
    if (CaptureToFile(ChangeSettings.Mode) && !TimedChangeOverruled())
        ApplyWallpaper(NULL);
    TimedChangeUnderWay = false;
}

// False when the user chose something while one of its reports was open:
// that choice then decides what is shown and whether the timer runs.
static bool RunTimedCycle(HWND window)
{
    TimedChangeUnderWay = true;
    BeginTimedChange();
    // An empty store gives an empty path, which would remove the user's wallpaper.
    const char *path = NextStoredFile(window);
    bool overruled = TimedChangeOverruled();
    if (!overruled && path[0] != '\0')
        ShowStoredFile(path);
    TimedChangeUnderWay = false;
    return !overruled;
}

// Windows 7 and later say where the icon is; before them the shell keeps it to itself.
static bool GetTrayIconRect(RECT &rect)
{
    IconRectFunction getRect = (IconRectFunction)(void *)GetProcAddress(
        GetModuleHandleA("shell32.dll"), "Shell_NotifyIconGetRect");
    NOTIFYICONIDENTIFIER icon = {};
    icon.cbSize = sizeof icon;
    icon.hWnd = TrayIcon.hWnd;
    icon.uID = TrayIcon.uID;
    return getRect != NULL && SUCCEEDED(getRect(&icon, &rect));
}

// A click opens the menu with its bottom at the pointer. From the keyboard the
// pointer may be anywhere: the menu stands at the icon with its first item
// selected, and the focus goes back to the notification area if it closes
// without a choice.
static void ShowTrayMenu(HWND window, bool fromKeyboard)
{
    // No second menu opens, and the key posted for it would move this one's selection.
    if (TrayMenuOpen)
        return;
    HMENU popup = GetSubMenu(TrayMenu, 0);
    if (popup == NULL) {
        ReportLastError("GetSubMenu");
        return;
    }
    // The choice comes back rather than as a message, so that a menu closed without one is known.
    UINT flags = TPM_BOTTOMALIGN | TPM_RETURNCMD;
    TPMPARAMS around = {};
    around.cbSize = sizeof around;
    POINT at;
    bool atIcon = fromKeyboard && GetTrayIconRect(around.rcExclude);
    if (atIcon) {
        at.x = around.rcExclude.left;
        at.y = around.rcExclude.top;
        flags |= TPM_VERTICAL;      // above the icon, or below it on a taskbar at the top
    } else {
        GetCursorPos(&at);
    }
    // The menu reads a key already queued as the user's: Down selects its first item.
    if (fromKeyboard)
        PostMessageA(window, WM_KEYDOWN, VK_DOWN, 0);
    TrayMenuOpen = true;
    UINT command = (UINT)TrackPopupMenuEx(popup, flags, at.x, at.y, window, atIcon ? &around : NULL);
    TrayMenuOpen = false;
    TrayMenuClosedAt = GetTickCount();
    // Without a message after the menu, a tray menu may not close when the user clicks elsewhere.
    PostMessageA(window, WM_NULL, 0, 0);
    // Escape leaves the focus with this window; a click elsewhere, Alt+Tab or
    // the Windows key have given it to what the user turned to, which keeps it.
    if (command != 0)
        PostMessageA(window, WM_COMMAND, command, 0);
    else if (fromKeyboard && GetForegroundWindow() == window)
        Shell_NotifyIconA(NIM_SETFOCUS, &TrayIcon);     // a shell that refuses keeps the focus where it was
}

static void OnTrayNotify(HWND window, LPARAM lParam)
{
    // The popup menu of a window that is not in front would stay open after a click elsewhere.
    SetForegroundWindow(window);
    switch (lParam) {
    case WM_LBUTTONDOWN:
        ShowTrayMenu(window, false);
        break;
    case NIN_KEYSELECT:
        if (GetTickCount() - TrayMenuClosedAt >= KeySelectEchoTime)
            ShowTrayMenu(window, true);
        break;
    }
}

// What Exit puts back comes before anything else it does, and for good.
static void PutBackForTheEnd(HWND window)
{
    ProgramEnding = true;
    SendMessageA(window, WM_COMMAND, IDM_RESTORE, 0);
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
        if (HIWORD(wParam) != 0) {
            RunTimedCapture();
            return 0;
        }
        NoteUserChoice();
        if (SetTimer(window, TRAY_CAPTURE_TIMER_ID, TrayCaptureDelay, NULL) == 0)
            ReportLastError("SetTimer");
        return 0;
    case IDM_RESTORE:
        NoteUserChoice();
        // A capture still waiting would undo the Restore chosen after it.
        KillTimer(window, TRAY_CAPTURE_TIMER_ID);
        RestoreUserWallpaper(ProgramEnding);
        return 0;
    case IDM_EXIT:
        PutBackForTheEnd(window);
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    case IDM_STOP:
        NoteUserChoice();
        ScheduleChangeTimer(window, true);
        return 0;
    case IDM_OPEN:
        ShellExecuteA(window, NULL, StoreDirectory, NULL, NULL, SW_SHOWNORMAL);
        return 0;
    }
    return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

// A skipped tick leaves the timer as it is, so that it keeps its rhythm; so
// does a tick whose change waits in a report, during which the next ones are
// skipped. Re-armed after the change, the countdown starts afresh.
static void OnChangeTimer(HWND window)
{
    if (!TimedChangeMayStart())
        return;
    switch (ChangeSettings.Mode) {
    case ModeCaptureDesktop:
    case ModeCaptureWindow:
    case ModeCaptureNewWindow:
        // Posted, so that the timer is re-armed before a capture's message box can hold things up.
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_CAPTURE, 1), 0);
        break;
    case ModeCycleFiles:
        if (!RunTimedCycle(window))
            return;
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

// A sign-out, a shutdown or the Restart Manager may end the process as soon
// as this returns: everything Exit puts back is put back here, and no icon
// is left behind in a session that goes on.
static void OnEndSession(HWND window, WPARAM ending)
{
    if (!ending)
        return;
    PutBackForTheEnd(window);
    Shell_NotifyIconA(NIM_DELETE, &TrayIcon);
    DestroyWindow(window);
}

// Any program may send the message while the shell still holds the icon,
// which then only needs bringing up to date.
static void OnTaskbarCreated()
{
    ReloadTrayIcon();   // the display may have been scaled since the icon was added
    if (!AddTrayIconToShell() && !Shell_NotifyIconA(NIM_MODIFY, &TrayIcon))
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
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        OnEndSession(window, wParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
