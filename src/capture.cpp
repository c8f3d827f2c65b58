#include "tessmere.h"

#include <string.h>

static HWND LastCapturedWindow;     // the window whose picture was last taken or attempted

// Each pixel row fills whole 32-bit words.
static DWORD RowStride(LONG width)
{
    DWORD bits = 24u * (DWORD)width;
    return 4u * ((bits >> 5) + ((bits & 31u) != 0 ? 1u : 0u));
}

// The foreground window, or null when it has nothing to show: a window of
// this program (a tray click leaves the hidden main window in front), a
// hidden one, or a minimized one, whose client area is empty.
static HWND WorkingWindow()
{
    HWND foreground = GetForegroundWindow();
    DWORD process = 0;
    if (foreground != NULL)
        GetWindowThreadProcessId(foreground, &process);
    if (foreground == NULL || process == GetCurrentProcessId() || !IsWindowVisible(foreground)
        || IsIconic(foreground))
        return NULL;
    return foreground;
}

// What a capture copies, and from where.
enum CaptureSourceKind {
    SourceScreen,               // the desktop window's DC: the primary monitor
    SourceVirtualScreen,        // the screen's DC, every monitor of the virtual screen
    SourceWindow,               // the window's own DC: its client area alone
    SourceScreenBehindWindow    // the screen's DC, where a window whose own DC gave black stands
};

struct CaptureSource {
    CaptureSourceKind kind;
    RECT area;                  // in the coordinates of the DC read
};

// The desktop in front, as Wine names it when nothing is, or the shell's own
// desktop windows, which cover every monitor.
bool IsDesktop(HWND window)
{
    static const char *const desktopClasses[] = { "Progman", "WorkerW" };
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    for (const char *desktopClass : desktopClasses) {
        if (lstrcmpiA(name, desktopClass) == 0)
            return true;
    }
    return window == GetDesktopWindow() || window == GetShellWindow();
}

// Picks what to capture, recording its window as LastCapturedWindow before
// anything is acquired. False when there is nothing to do. Asked again for a
// window whose own DC gave black, it maps the same client area to the screen.
static bool ChooseCaptureSource(int mode, bool windowGaveBlack, CaptureSource &source)
{
    if (windowGaveBlack) {
        source.kind = SourceScreenBehindWindow;
        SetLastError(ERROR_SUCCESS);
        return MapWindowPoints(LastCapturedWindow, HWND_DESKTOP, (POINT *)&source.area, 2) != 0
            || GetLastError() == ERROR_SUCCESS;
    }
    if (mode == ModeCaptureWindow || mode == ModeCaptureNewWindow) {
        HWND foreground = WorkingWindow();
        if (foreground != NULL && mode == ModeCaptureNewWindow && foreground == LastCapturedWindow)
            return false;
        if (foreground != NULL && !IsDesktop(foreground)) {
            LastCapturedWindow = foreground;
            // The window may have gone away since GetForegroundWindow.
            if (!GetClientRect(foreground, &source.area)) {
                ReportLastError("GetClientRect");
                return false;
            }
            source.kind = SourceWindow;
            return true;
        }
    }
    LastCapturedWindow = GetDesktopWindow();
    if (LastCapturedWindow == NULL) {
        ReportLastError("GetDesktopWindow");
        return false;
    }
    // Only Windows 8 and later span one picture over several monitors: before,
    // each monitor would show the whole of it.
    if (GetSystemMetrics(SM_CMONITORS) > 1 && WindowsIsAtLeast(6, 2)) {
        source.kind = SourceVirtualScreen;
        source.area.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
        source.area.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
        source.area.right = source.area.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
        source.area.bottom = source.area.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
        return true;
    }
    source.kind = SourceScreen;
    SetRect(&source.area, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    return true;
}

// GDI calls may fail without setting the last error (Wine's CreateDIBSection
// for an empty bitmap, and its BitBlt and CreateDIBSection when memory runs
// out): the report would then show an unrelated text, or "success". Clear
// the last error before such a call.
static void ReportGdiFailure(const char *caption, DWORD likelyCause)
{
    if (GetLastError() == ERROR_SUCCESS)
        SetLastError(likelyCause);
    ReportLastError(caption);
}

static bool WritePart(HANDLE file, const void *data, DWORD length, const char *caption)
{
    DWORD written = 0;
    BOOL succeeded = WriteFile(file, data, length, &written, NULL);
    if (succeeded && written == length)
        return true;
    // A file system that fills up may take part of a write and still call it a success.
    if (succeeded)
        SetLastError(ERROR_DISK_FULL);
    ReportLastError(caption);
    return false;
}

static BITMAPFILEHEADER FileHeader(const BITMAPINFOHEADER &info)
{
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4d42;
    header.bfSize = info.biSizeImage + sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    return header;
}

static bool ReadsAs(HANDLE file, const void *data, DWORD length)
{
    char piece[65536];
    const char *expected = (const char *)data;
    while (length > 0) {
        DWORD wanted = length < sizeof piece ? length : sizeof piece, read = 0;
        if (!ReadFile(file, piece, wanted, &read, NULL) || read != wanted
            || memcmp(piece, expected, wanted) != 0)
            return false;
        expected += wanted;
        length -= wanted;
    }
    return true;
}

// Read a piece at a time, so that no second frame is ever held. A file that
// cannot be read is simply written anew.
static bool FileHolds(const BITMAPFILEHEADER &header, const BITMAPINFOHEADER &info,
                      const void *pixels)
{
    HANDLE file = CreateFileA(CaptureFilePath, GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD high = 0;
    bool same = GetFileSize(file, &high) == header.bfSize && high == 0
        && ReadsAs(file, &header, sizeof header) && ReadsAs(file, &info, sizeof info)
        && ReadsAs(file, pixels, info.biSizeImage);
    CloseHandle(file);
    return same;
}

// The DIB section already has the file's pixel layout, so its memory goes to
// the file as it is. A file that could not be written completely is removed:
// a broken bitmap must never become the wallpaper or be cycled.
static bool WriteCaptureFile(const BITMAPFILEHEADER &header, const BITMAPINFOHEADER &info,
                             const void *pixels)
{
    HANDLE file = CreateFileA(CaptureFilePath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        ReportLastError("CreateFile");
        return false;
    }
    bool complete = WritePart(file, &header, sizeof header, "WriteFile BITMAPFILEHEADER");
    complete = WritePart(file, &info, sizeof info, "WriteFile BITMAPINFOHEADER") && complete;
    complete = WritePart(file, pixels, info.biSizeImage, "WriteFile BITMAP CONTENT") && complete;
    CloseHandle(file);
    if (!complete)
        DeleteFileA(CaptureFilePath);
    return complete;
}

struct MonitorCopy {
    HDC memory;
    HDC screen;
    RECT area;
    bool copied;
};

static BOOL CALLBACK CopyMonitor(HMONITOR, HDC, LPRECT monitor, LPARAM parameter)
{
    MonitorCopy &copy = *(MonitorCopy *)parameter;
    RECT part;
    if (IntersectRect(&part, monitor, &copy.area)
        && !BitBlt(copy.memory, part.left - copy.area.left, part.top - copy.area.top,
                   part.right - part.left, part.bottom - part.top, copy.screen, part.left, part.top,
                   SRCCOPY))
        copy.copied = false;
    return copy.copied;
}

// What no monitor shows stays as the new bitmap has it, all zero: black, as
// Windows shows it, whatever the screen's DC holds there.
static bool CopyEachMonitor(HDC memory, HDC screen, const RECT &area)
{
    MonitorCopy copy = { memory, screen, area, true };
    return EnumDisplayMonitors(NULL, NULL, CopyMonitor, (LPARAM)&copy) && copy.copied;
}

// The desktop window's DC and a window's own DC are read in one piece, the
// screen's monitor by monitor.
static bool ReadsOwnDC(const CaptureSource &source)
{
    return source.kind == SourceScreen || source.kind == SourceWindow;
}

static bool CopySource(HDC memory, HDC screen, const CaptureSource &source)
{
    const RECT &area = source.area;
    SetLastError(ERROR_SUCCESS);
    bool copied = ReadsOwnDC(source)
        ? BitBlt(memory, 0, 0, area.right - area.left, area.bottom - area.top, screen, area.left,
                 area.top, SRCCOPY) != FALSE
        : CopyEachMonitor(memory, screen, area);
    if (!copied)
        ReportGdiFailure("BitBlt", ERROR_NOT_ENOUGH_MEMORY);
    return copied;
}

// Copied again from the screen, into the bitmap that is all zero still.
static bool CopyScreenBehindWindow(HDC memory, const CaptureSource &source)
{
    SetLastError(ERROR_SUCCESS);
    HDC screen = GetDC(NULL);
    if (screen == NULL) {
        ReportGdiFailure("GetDC", ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    bool copied = CopySource(memory, screen, source);
    ReleaseDC(NULL, screen);
    return copied;
}

// A window that presents through DirectX or DirectComposition leaves its own
// DC all zero; the screen holds its pixels as they are composed.
static bool AllZero(const void *pixels, DWORD size)
{
    const BYTE *byte = (const BYTE *)pixels;
    for (DWORD i = 0; i < size; i++) {
        if (byte[i] != 0)
            return false;
    }
    return true;
}

bool CaptureToFile(int mode)
{
    CaptureSource source;
    if (!ChooseCaptureSource(mode, false, source))
        return false;

    HWND window = ReadsOwnDC(source) ? LastCapturedWindow : NULL;
    HDC memory = NULL;
    HBITMAP bitmap = NULL;
    HGDIOBJ previous;
    void *pixels = NULL;
    BITMAPINFOHEADER info = {};
    BITMAPFILEHEADER header;
    bool copied, written = false;

    SetLastError(ERROR_SUCCESS);
    HDC screen = GetDC(window);
    if (screen == NULL) {
        ReportGdiFailure("GetDC", ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    SetLastError(ERROR_SUCCESS);
    memory = CreateCompatibleDC(screen);
    if (memory == NULL) {
        ReportGdiFailure("CreateCompatibleDC", ERROR_NOT_ENOUGH_MEMORY);
        goto cleanup;
    }
    info.biSize = sizeof info;
    info.biWidth = source.area.right - source.area.left;
    info.biHeight = source.area.bottom - source.area.top;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = (DWORD)info.biHeight * RowStride(info.biWidth);
    // With 24 bits per pixel there is no colour table, so DIB_PAL_COLORS changes nothing.
    SetLastError(ERROR_SUCCESS);
    bitmap = CreateDIBSection(memory, (const BITMAPINFO *)&info, DIB_PAL_COLORS, &pixels, NULL, 0);
    if (bitmap == NULL) {
        bool empty = info.biWidth <= 0 || info.biHeight <= 0;
        ReportGdiFailure("CreateDIBSection", empty ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
        goto cleanup;
    }
    SetLastError(ERROR_SUCCESS);
    previous = SelectObject(memory, bitmap);
    if (previous == NULL) {
        ReportGdiFailure("SelectObject", ERROR_NOT_ENOUGH_MEMORY);
        goto cleanup;
    }
    copied = CopySource(memory, screen, source);
    if (copied && source.kind == SourceWindow && AllZero(pixels, info.biSizeImage)
        && ChooseCaptureSource(mode, true, source))
        copied = CopyScreenBehindWindow(memory, source);
    SelectObject(memory, previous);
    header = FileHeader(info);
    // Written and set again, a still screen would cost a full write and a
    // broadcast that wakes every program, at every tick.
    if (copied && (!StillShown(CaptureFilePath) || !FileHolds(header, info, pixels)))
        written = WriteCaptureFile(header, info, pixels);

cleanup:
    if (bitmap != NULL)
        DeleteObject(bitmap);
    if (memory != NULL)
        DeleteDC(memory);
    ReleaseDC(window, screen);
    return written;
}
