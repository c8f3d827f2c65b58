// Starting the real Tessmere.exe and driving it from outside, as a user would.
#ifndef TESSMERE_TEST_PROGRAM_H
#define TESSMERE_TEST_PROGRAM_H

#include <windows.h>

#include <string>

struct Program {
    std::string directory;                  // holds its own copy of Tessmere.exe
    PROCESS_INFORMATION process = {};
    HWND window = nullptr;                  // the hidden main window
    std::string StoreDirectory() const;
    std::string CaptureFile() const;
};

std::string BuiltExecutable();
// Copies the built Tessmere.exe into directory (wide: a name outside the code
// page stays whole) and starts it; the main window is looked for but may not appear.
bool LaunchProgram(const std::wstring &directory, Program &program);
HWND WaitForMainWindow(const Program &program, DWORD timeoutMs = 15000);
bool WaitForExit(const Program &program, DWORD timeoutMs, DWORD &exitCode);
bool IsRunning(const Program &program);
// Asks the program to close (WM_CLOSE) and waits; kills it if it will not go.
void EndProgram(Program &program);

HWND FindProcessWindow(DWORD processId, const char *className, const char *title);
HWND WaitForWindow(DWORD processId, const char *className, const char *title,
                   DWORD timeoutMs = 10000);
// The shell's notification for the tray icon, as a mouse action on it.
void SendTrayNotification(const Program &program, UINT mouseMessage);
HWND WaitForTrayMenu(const Program &program, DWORD timeoutMs = 5000);
// Clicks the first icon of the tray that Wine's shell shows on a bare X
// display, through the X server as a user's mouse would.
bool ClickTrayIcon();
// Opens the tray menu with the left button and picks the item at the given
// position (0 is the top) with the arrow keys and Enter.
bool ChooseTrayMenuItem(const Program &program, int position);
void PressKey(HWND window, UINT key);

enum TrayMenuPosition { MenuSettings, MenuCapture, MenuRestore, MenuStop, MenuOpen, MenuExit };

#endif
