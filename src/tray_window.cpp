#include "tessmere.h"

#include <shellapi.h>

static HMENU TrayMenu;  // menu 102, from WM_CREATE to WM_DESTROY

void ApplyWallpaper(const char *path)
{
    if (path == NULL)
        path = CaptureFilePath;
    // Broadcast only: the user's stored wallpaper setting must keep naming their own picture.
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, (void *)path, SPIF_SENDWININICHANGE);
}

void ScheduleChangeTimer(HWND window, bool stop)
{
    // Modulo 2^32, as the stored "Timer" value is computed.
    UINT seconds = (UINT)ChangeSettings.Seconds + 60u * (UINT)ChangeSettings.Minutes;
    UINT interval = 1000u * seconds;
    // An interval that wraps to 0 would make SetTimer fire as fast as it can.
    if (stop || interval == 0) {
        KillTimer(window, CHANGE_TIMER_ID);
        return;
    }
    if (SetTimer(window, CHANGE_TIMER_ID, interval, NULL) == 0)
        ReportLastError("SetTimer");
}

static void OnCreate(HWND window)
{
    TrayMenu = LoadMenuA(AppInstance, MAKEINTRESOURCEA(IDR_TRAYMENU));
    ScheduleChangeTimer(window, false);
}

static void OnDestroy(HWND window)
{
    if (TrayMenu != NULL) {
        DestroyMenu(TrayMenu);
        TrayMenu = NULL;
    }
    ScheduleChangeTimer(window, true);
    CloseStoreSearch();
    PostQuitMessage(0);
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
    case IDM_CAPTURE: {
        // The tray menu sends a high word of 0; the change timer posts 1.
        LONG mode = ModeCaptureDesktop;
        if (HIWORD(wParam) != 0)
            mode = ChangeSettings.Mode;
        if (CaptureToFile(mode))
            ApplyWallpaper(NULL);
        return 0;
    }
    case IDM_RESTORE:
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

static void OnTimer(HWND window)
{
    ScheduleChangeTimer(window, true);
    switch (ChangeSettings.Mode) {
    case ModeCaptureDesktop:
    case ModeCaptureWindow:
    case ModeCaptureNewWindow:
        // Posted, so that the timer is re-armed before a capture's message box can hold things up.
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_CAPTURE, 1), 0);
        break;
    case ModeCycleFiles: {
        // An empty store before any file was found gives an empty path, which
        // would remove the user's wallpaper.
        const char *path = NextStoredFile(window);
        if (path[0] != '\0')
            ApplyWallpaper(path);
        break;
    }
    }
    ScheduleChangeTimer(window, false);
}

static void OnTaskbarCreated()
{
    ReloadTrayIcon();   // the display may have been scaled since the icon was added
    if (!Shell_NotifyIconA(NIM_ADD, &TrayIcon))
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
        OnTimer(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
