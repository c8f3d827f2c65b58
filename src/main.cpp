#include "tessmere.h"

#include <commctrl.h>

// The instance mutex is named after this file's revision line: no other program uses it.
static const char InstanceMutexName[] = "$Id: main.cpp,v 1.1.1 1999/07/07 V.ELLORAN Exp $";

HINSTANCE AppInstance;                  // for the menu, icons and dialog resources
NOTIFYICONDATAA TrayIcon;
UINT TaskbarCreatedMessage;

static void GreetOtherCopy(HANDLE mutex)
{
    HWND other = FindWindowA(NULL, PROGRAM_NAME);
    if (IsWindow(other))
        SetForegroundWindow(other);
    MessageBoxA(NULL, "Already exist", PROGRAM_NAME, MB_OK | MB_SETFOREGROUND);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

static bool PrepareStore()
{
    char modulePath[PathBufferSize];
    DWORD length = GetModuleFileNameA(NULL, modulePath, PathBufferSize);
    if (length == 0) {
        ReportLastError("GetModuleFileName");
        return false;
    }
    // A path that filled the buffer was cut short, and older systems leave it unterminated.
    if (length >= PathBufferSize)
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    if (length >= PathBufferSize || !DeriveStorePaths(modulePath)) {
        ReportLastError(NULL);
        return false;
    }
    CreateDirectoryA(StoreDirectory, NULL);
    return true;
}

// The icon at the small size the display asks for now, which grows with its
// scale. Not shared: the system keeps handing out a shared icon at the size it
// was first loaded at.
static HICON LoadSmallIcon(HINSTANCE instance)
{
    return (HICON)LoadImageA(instance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON,
                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0);
}

void ReloadTrayIcon()
{
    HICON previous = TrayIcon.hIcon;
    TrayIcon.hIcon = LoadSmallIcon(AppInstance);
    if (previous != NULL)
        DestroyIcon(previous);
}

static bool RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    windowClass.lpszClassName = PROGRAM_NAME;
    windowClass.hIconSm = LoadSmallIcon(instance);
    if (RegisterClassExA(&windowClass) == 0) {
        ReportLastError("RegisterClassEx");
        return false;
    }
    return true;
}

// An icon of version 3 hears of Enter or Space on it as NIN_KEYSELECT; one
// without a version hears of it as a right click, which opens nothing. A
// shell that knows no versions keeps the icon as it was.
bool AddTrayIconToShell()
{
    if (!Shell_NotifyIconA(NIM_ADD, &TrayIcon))
        return false;
    Shell_NotifyIconA(NIM_SETVERSION, &TrayIcon);
    return true;
}

static bool AddTrayIcon(HWND window)
{
    // The smallest record that carries uVersion.
    TrayIcon.cbSize = NOTIFYICONDATAA_V2_SIZE;
    TrayIcon.hWnd = window;
    TrayIcon.uID = TRAY_ICON_ID;
    TrayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    TrayIcon.uCallbackMessage = WM_TRAYNOTIFY;
    TrayIcon.uVersion = NOTIFYICON_VERSION;
    lstrcpynA(TrayIcon.szTip, PROGRAM_NAME, sizeof TrayIcon.szTip);
    ReloadTrayIcon();
    if (!AddTrayIconToShell()) {
        ReportLastError("Shell_NotifyIcon");
        return false;
    }
    return true;
}

// A DLL planted beside the executable, in a downloads folder say, must never be
// loaded in place of a system one. The call came with Windows 8 and update
// KB2533623; where it is missing the program starts all the same.
static void LoadDllsOnlyFromSystemFolder()
{
    typedef BOOL(WINAPI *SetDirectoriesFunction)(DWORD);
    SetDirectoriesFunction setDirectories = (SetDirectoriesFunction)(void *)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (setDirectories != NULL)
        setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    LoadDllsOnlyFromSystemFolder();
    AppInstance = instance;
    LoadSettings(ChangeSettings);

    HANDLE mutex = CreateMutexA(NULL, TRUE, InstanceMutexName);
    if (mutex == NULL) {
        ReportLastError("CreateMutex");
        return 0;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        GreetOtherCopy(mutex);
        return 0;
    }

    ReadSystemWallpaper(UserWallpaper);
    PutBackStyleLeftBehind();
    if (!PrepareStore())
        return 0;
    KeepUserWallpaper();
    // The settings dialog's up-down controls need their class registered first.
    INITCOMMONCONTROLSEX controls = { sizeof controls, ICC_UPDOWN_CLASS };
    InitCommonControlsEx(&controls);
    if (!RegisterMainWindowClass(instance))
        return 0;
    // A shell that restarts has forgotten every tray icon and says so with this message.
    TaskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    if (TaskbarCreatedMessage == 0)
        ReportLastError("RegisterWindowMessage");

    HWND window = CreateWindowExA(0, PROGRAM_NAME, PROGRAM_NAME, WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  NULL, NULL, instance, NULL);
    if (window == NULL) {
        ReportLastError("CreateWindow");
        return 0;
    }
    if (!AddTrayIcon(window))
        return 0;

    // GetMessage gives -1 on failure; ending the loop then beats spinning on
    // it, and the message then holds nothing that could be an exit code.
    MSG message = {};
    BOOL got;
    while ((got = GetMessageA(&message, NULL, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    Shell_NotifyIconA(NIM_DELETE, &TrayIcon);
    return got == 0 ? (int)message.wParam : 0;
}
