// A helper process for the tests.
//   probe wallpaper   prints the desktop wallpaper, in UTF-8, as a fresh process
//                     sees it (a Wine process keeps the value it read first);
//   probe warmup      creates a window once, so that Wine's desktop and
//                     services are started before the tests run;
//   probe pattern X Y WIDTH HEIGHT SEED
//                     shows a borderless, topmost window whose client area is
//                     painted with PatternColour until it is closed; the seed
//                     is kept in GWLP_USERDATA, where a test may change it (below 0: never painted).
#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static LRESULT CALLBACK PatternWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message != WM_PAINT)
        return DefWindowProcA(window, message, wParam, lParam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    int width = client.right, height = client.bottom;
    int seed = (int)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (width > 0 && height > 0 && seed >= 0) {
        std::vector<uint32_t> pixels((size_t)width * height);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                pixels[(size_t)y * width + x] = PatternColour(x, y, seed);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, pixels.data(), &info,
                          DIB_RGB_COLORS);
    }
    EndPaint(window, &paint);
    return 0;
}

static int ShowPattern(char **argument)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = PatternWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    windowClass.lpszClassName = "TessmereTestPattern";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "TessmereTestPattern", "pattern", WS_POPUP,
                                  atoi(argument[0]), atoi(argument[1]), atoi(argument[2]),
                                  atoi(argument[3]), nullptr, nullptr, GetModuleHandleA(nullptr),
                                  nullptr);
    if (window == nullptr)
        return 1;
    SetWindowLongPtrA(window, GWLP_USERDATA, atoi(argument[4]));
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "wallpaper") == 0) {
        wchar_t path[MAX_PATH] = L"";
        char utf8[4 * MAX_PATH] = "";
        if (!SystemParametersInfoW(SPI_GETDESKWALLPAPER, MAX_PATH, path, 0)
            || !WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, sizeof utf8, nullptr, nullptr))
            return 1;
        fputs(utf8, stdout);
        return 0;
    }
    if (argc > 1 && strcmp(argv[1], "warmup") == 0) {
        HWND window = CreateWindowA("STATIC", "warmup", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
        DestroyWindow(window);
        return window != NULL ? 0 : 1;
    }
    if (argc == 7 && strcmp(argv[1], "pattern") == 0)
        return ShowPattern(argv + 2);
    fputs("usage: probe wallpaper | warmup | pattern X Y WIDTH HEIGHT SEED\n", stderr);
    return 2;
}
