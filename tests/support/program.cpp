#include "program.h"

#include "test_support.h"

#ifndef TESSMERE_EXE
#error "TESSMERE_EXE must name the built Tessmere.exe (a Unix path)"
#endif

std::string Program::StoreDirectory() const
{
    return JoinDir(directory, "StoreWallPaper");
}

std::string Program::CaptureFile() const
{
    return JoinDir(StoreDirectory(), "Tessmere.bmp");
}

std::string BuiltExecutable()
{
    return WindowsPath(TESSMERE_EXE);
}

bool LaunchProgram(const std::wstring &directory, Program &program)
{
    program = Program();
    program.directory = Ansi(directory);
    CreateDirectoryW(directory.c_str(), nullptr);
    std::wstring exe = directory + L"\\Tessmere.exe";
    if (!CopyFileW(Wide(BuiltExecutable()).c_str(), exe.c_str(), FALSE))
        return false;
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &program.process))
        return false;
    WaitForInputIdle(program.process.hProcess, 5000);
    return true;
}

struct WindowQuery {
    DWORD processId;
    const char *className;
    const char *title;
    HWND found;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
{
    WindowQuery *query = (WindowQuery *)parameter;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (query->processId != 0 && owner != query->processId)
        return TRUE;
    if (query->className != nullptr && ClassName(window) != query->className)
        return TRUE;
    if (query->title != nullptr) {
        char title[512] = "";
        GetWindowTextA(window, title, sizeof title);
        if (std::string(title) != query->title)
            return TRUE;
    }
    if (query->className != nullptr && std::string(query->className) == "#32768"
        && !IsWindowVisible(window))
        return TRUE;
    query->found = window;
    return FALSE;
}

HWND FindProcessWindow(DWORD processId, const char *className, const char *title)
{
    WindowQuery query = { processId, className, title, nullptr };
    EnumWindows(MatchWindow, (LPARAM)&query);
    return query.found;
}

HWND WaitForWindow(DWORD processId, const char *className, const char *title, DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindProcessWindow(processId, className, title)) != nullptr; },
              timeoutMs);
    return found;
}

HWND WaitForMainWindow(const Program &program, DWORD timeoutMs)
{
    return WaitForWindow(program.process.dwProcessId, "Tessmere", "Tessmere", timeoutMs);
}

bool WaitForExit(const Program &program, DWORD timeoutMs, DWORD &exitCode)
{
    bool ended = WaitUntil([&] {
        return WaitForSingleObject(program.process.hProcess, 0) == WAIT_OBJECT_0;
    }, timeoutMs);
    exitCode = STILL_ACTIVE;
    if (ended)
        GetExitCodeProcess(program.process.hProcess, &exitCode);
    return ended;
}

bool IsRunning(const Program &program)
{
    return program.process.hProcess != nullptr
        && WaitForSingleObject(program.process.hProcess, 0) == WAIT_TIMEOUT;
}

void EndProgram(Program &program)
{
    if (program.process.hProcess == nullptr)
        return;
    if (IsRunning(program)) {
        HWND window = FindProcessWindow(program.process.dwProcessId, "Tessmere", "Tessmere");
        if (window != nullptr)
            PostMessageA(window, WM_CLOSE, 0, 0);
        DWORD exitCode;
        if (!WaitForExit(program, 5000, exitCode)) {
            TerminateProcess(program.process.hProcess, 1);
            WaitForSingleObject(program.process.hProcess, 5000);
        }
    }
    CloseHandle(program.process.hThread);
    CloseHandle(program.process.hProcess);
    program.process = PROCESS_INFORMATION();
}

void SendTrayNotification(const Program &program, UINT mouseMessage)
{
    PostMessageA(program.window, WM_APP + 1, 101, mouseMessage);
}

HWND WaitForTrayMenu(const Program &program, DWORD timeoutMs)
{
    return WaitForWindow(program.process.dwProcessId, "#32768", nullptr, timeoutMs);
}

bool ClickTrayIcon()
{
    HWND tray = FindWindowA(nullptr, "Wine System Tray");
    RECT client;
    if (tray == nullptr || !GetClientRect(tray, &client))
        return false;
    // The icons stand in a row of squares as high as the tray's client area.
    POINT centre = { client.bottom / 2, client.bottom / 2 };
    ClientToScreen(tray, &centre);
    return RunUnixCommand("xdotool mousemove " + std::to_string(centre.x) + " "
                          + std::to_string(centre.y) + " click 1") == 0;
}

void PressKey(HWND window, UINT key)
{
    PostMessageA(window, WM_KEYDOWN, key, 1);
    PostMessageA(window, WM_KEYUP, key, 0xC0000001);
}

bool ChooseTrayMenuItem(const Program &program, int position)
{
    SendTrayNotification(program, WM_LBUTTONDOWN);
    HWND menu = WaitForTrayMenu(program);
    if (menu == nullptr)
        return false;
    for (int step = 0; step <= position; step++)
        PressKey(menu, VK_DOWN);
    PressKey(menu, VK_RETURN);
    return WaitUntil([&] { return !IsWindowVisible(menu); }, 5000);
}
