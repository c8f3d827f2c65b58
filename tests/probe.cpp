// A helper process for the tests.
//   probe wallpaper   prints the desktop wallpaper as a fresh process sees it
//                     (a Wine process keeps the value it read first);
//   probe warmup      creates a window once, so that Wine's desktop and
//                     services are started before the tests run.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "wallpaper") == 0) {
        char path[MAX_PATH] = "";
        if (!SystemParametersInfoA(SPI_GETDESKWALLPAPER, MAX_PATH, path, 0))
            return 1;
        fputs(path, stdout);
        return 0;
    }
    if (argc > 1 && strcmp(argv[1], "warmup") == 0) {
        HWND window = CreateWindowA("STATIC", "warmup", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
        DestroyWindow(window);
        return window != NULL ? 0 : 1;
    }
    fputs("usage: probe wallpaper | warmup\n", stderr);
    return 2;
}
