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

// Picks the window to capture and its size, recording it as LastCapturedWindow
// before anything is acquired. False when there is nothing to do.
static bool ChooseCaptureSource(int mode, LONG &width, LONG &height)
{
    if (mode == ModeCaptureWindow || mode == ModeCaptureNewWindow) {
        HWND foreground = WorkingWindow();
        if (foreground != NULL) {
            if (mode == ModeCaptureNewWindow && foreground == LastCapturedWindow)
                return false;
            LastCapturedWindow = foreground;
            RECT client;
            // The window may have gone away since GetForegroundWindow.
            if (!GetClientRect(foreground, &client)) {
                ReportLastError("GetClientRect");
                return false;
            }
            width = client.right - client.left;
            height = client.bottom - client.top;
            return true;
        }
    }
    LastCapturedWindow = GetDesktopWindow();
    if (LastCapturedWindow == NULL) {
        ReportLastError("GetDesktopWindow");
        return false;
    }
    width = GetSystemMetrics(SM_CXSCREEN);
    height = GetSystemMetrics(SM_CYSCREEN);
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

bool CaptureToFile(int mode)
{
    LONG width, height;
    if (!ChooseCaptureSource(mode, width, height))
        return false;

    HWND source = LastCapturedWindow;
    HDC memory = NULL;
    HBITMAP bitmap = NULL;
    HGDIOBJ previous;
    void *pixels = NULL;
    BITMAPINFOHEADER info = {};
    BITMAPFILEHEADER header;
    bool written = false;

    SetLastError(ERROR_SUCCESS);
    HDC screen = GetDC(source);
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
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = (DWORD)height * RowStride(width);
    // With 24 bits per pixel there is no colour table, so DIB_PAL_COLORS changes nothing.
    SetLastError(ERROR_SUCCESS);
    bitmap = CreateDIBSection(memory, (const BITMAPINFO *)&info, DIB_PAL_COLORS, &pixels, NULL, 0);
    if (bitmap == NULL) {
        ReportGdiFailure("CreateDIBSection", width <= 0 || height <= 0 ? ERROR_INVALID_PARAMETER
                                                                     : ERROR_NOT_ENOUGH_MEMORY);
        goto cleanup;
    }
    SetLastError(ERROR_SUCCESS);
    previous = SelectObject(memory, bitmap);
    if (previous == NULL) {
        ReportGdiFailure("SelectObject", ERROR_NOT_ENOUGH_MEMORY);
        goto cleanup;
    }
    SetLastError(ERROR_SUCCESS);
    if (!BitBlt(memory, 0, 0, info.biWidth, info.biHeight, screen, 0, 0, SRCCOPY)) {
        ReportGdiFailure("BitBlt", ERROR_NOT_ENOUGH_MEMORY);
        SelectObject(memory, previous);
        goto cleanup;
    }
    SelectObject(memory, previous);
    header = FileHeader(info);
    // Written and set again, a still screen would cost a full write and a
    // broadcast that wakes every program, at every tick.
    if (!StillShown(CaptureFilePath) || !FileHolds(header, info, pixels))
        written = WriteCaptureFile(header, info, pixels);

cleanup:
    if (bitmap != NULL)
        DeleteObject(bitmap);
    if (memory != NULL)
        DeleteDC(memory);
    ReleaseDC(source, screen);
    return written;
}
