#include "tessmere.h"

#include <commctrl.h>
#include <string.h>

// The instance mutex is named after this file's revision line: no other program uses it.
static const char InstanceMutexName[] = "$Id: main.cpp,v 1.1.1 1999/07/07 V.ELLORAN Exp $";

HINSTANCE AppInstance;                  // for the menu, icons and dialog resources
char StoreDirectory[PathBufferSize];    // "StoreWallPaper" beside the executable
char CaptureFilePath[PathBufferSize];   // StoreDirectory\Tessmere.bmp
char StorePattern[PathBufferSize];      // StoreDirectory\*.bmp
NOTIFYICONDATAA TrayIcon;
UINT TaskbarCreatedMessage;

// Steps over one character of the ANSI code page, so that the trail byte of a
// double-byte character (0x5C in many Japanese names) is never taken for "\".
static const char *NextChar(const char *p)
{
    if (IsDBCSLeadByte((BYTE)*p) && p[1] != '\0')
        return p + 2;
    return p + 1;
}

static bool IsSeparator(const char *p, const char *next)
{
    return next - p == 1 && (*p == '\\' || *p == '/');
}

static bool CopyPart(char *target, const char *begin, const char *end)
{
    size_t length = end - begin;
    if (length >= PathBufferSize) {
        target[0] = '\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    memcpy(target, begin, length);
    target[length] = '\0';
    return true;
}

// Drive ("C:" or empty), directory (up to and including the last separator) and
// name; the extension is dropped. directory and name hold PathBufferSize bytes;
// a part that would not fit gives false and sets the last error.
bool SplitPath(const char *path, char *drive, char *directory, char *name)
{
    drive[0] = '\0';
    if (path[0] != '\0' && path[1] == ':') {
        drive[0] = path[0];
        drive[1] = ':';
        drive[2] = '\0';
        path += 2;
    }
    const char *nameBegin = path;
    const char *lastDot = NULL;
    for (const char *p = path; *p != '\0';) {
        const char *next = NextChar(p);
        if (IsSeparator(p, next)) {
            nameBegin = next;
            lastDot = NULL;
        } else if (next - p == 1 && *p == '.') {
            lastDot = p;
        }
        p = next;
    }
    const char *nameEnd = lastDot != NULL ? lastDot : nameBegin + strlen(nameBegin);
    bool directoryFits = CopyPart(directory, path, nameBegin);
    bool nameFits = CopyPart(name, nameBegin, nameEnd);
    return directoryFits && nameFits;
}

static bool Append(char *result, size_t &length, const char *text, size_t count)
{
    if (length + count >= PathBufferSize)
        return false;
    memcpy(result + length, text, count);
    length += count;
    result[length] = '\0';
    return true;
}

static bool EndsWithSeparator(const char *text)
{
    const char *last = NULL;
    const char *end = text;
    for (const char *p = text; *p != '\0'; p = end) {
        last = p;
        end = NextChar(p);
    }
    return last != NULL && IsSeparator(last, end);
}

// Windows counts a path's length in UTF-16 units, however many bytes the code
// page spells them in, and takes fewer than MAX_PATH.
bool PathFits(const char *path)
{
    int units = MultiByteToWideChar(CP_ACP, 0, path, -1, NULL, 0);
    return units > 0 && units <= MAX_PATH;
}

// The one path-joining rule of the program. result holds PathBufferSize bytes;
// a path that Windows would not take leaves it empty, gives false and sets the
// last error, so that callers can report it as it is.
bool JoinPath(char *result, const char *drive, const char *directory,
              const char *name, const char *extension)
{
    size_t length = 0;
    bool fits = true;
    result[0] = '\0';
    if (drive != NULL && drive[0] != '\0') {
        const char driveLetter[2] = { drive[0], ':' };
        fits = Append(result, length, driveLetter, 2);
    }
    if (fits && directory != NULL && directory[0] != '\0') {
        fits = Append(result, length, directory, strlen(directory));
        if (fits && !EndsWithSeparator(directory))
            fits = Append(result, length, "\\", 1);
    }
    if (fits && name != NULL)
        fits = Append(result, length, name, strlen(name));
    if (fits && extension != NULL && extension[0] != '\0') {
        if (extension[0] != '.')
            fits = Append(result, length, ".", 1);
        if (fits)
            fits = Append(result, length, extension, strlen(extension));
    }
    fits = fits && PathFits(result);
    if (!fits) {
        result[0] = '\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    return fits;
}

// Fills StoreDirectory, CaptureFilePath and StorePattern from the executable's
// path. When Windows would not take one of them, all three are left empty and
// the last error says why.
bool DeriveStorePaths(const char *modulePath)
{
    char drive[3];
    char directory[PathBufferSize];
    char name[PathBufferSize];
    bool fits = SplitPath(modulePath, drive, directory, name)
             && JoinPath(StoreDirectory, drive, directory, STORE_DIRECTORY_NAME, NULL)
             && JoinPath(CaptureFilePath, NULL, StoreDirectory, PROGRAM_NAME, "bmp")
             && JoinPath(StorePattern, NULL, StoreDirectory, "*", "bmp");
    if (!fits)
        StoreDirectory[0] = CaptureFilePath[0] = StorePattern[0] = '\0';
    return fits;
}

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
