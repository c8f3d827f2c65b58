// Asks the running Tessmere to end through its own Exit command, which puts
// the user's wallpaper back, and waits up to 15 seconds for it to end, as the
// installer does. scripts/run.sh uses it on Ctrl-C:
//     AskExit.exe [DESKTOP]
// DESKTOP names the Wine desktop that Tessmere runs on, when not this one.
// Exit code 0 once no Tessmere runs there, 1 while one still does.
#include <windows.h>

#include "resource.h"

static const DWORD ExitTimeout = 15000;

int main(int argc, char **argv)
{
    // Windows are found on the thread's desktop, which may change while it has
    // none; a desktop in use cannot be closed, so the handle lives to the end.
    if (argc > 1) {
        HDESK desktop = OpenDesktopA(argv[1], 0, FALSE, GENERIC_READ);
        if (desktop == NULL)
            return 0;
        if (!SetThreadDesktop(desktop))
            return 1;
    }
    // Found by class: the settings dialog has the same title.
    HWND window = FindWindowA("Tessmere", NULL);
    if (window == NULL)
        return 0;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    if (process != NULL) {
        DWORD result = WaitForSingleObject(process, ExitTimeout);
        CloseHandle(process);
        return result == WAIT_OBJECT_0 ? 0 : 1;
    }
    // Without the process, the end of its window is all there is to wait for.
    for (DWORD waited = 0; IsWindow(window) && waited < ExitTimeout; waited += 100)
        Sleep(100);
    return IsWindow(window) ? 1 : 0;
}
