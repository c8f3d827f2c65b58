// Program-wide state and the operations the units offer one another.
#ifndef TESSMERE_H
#define TESSMERE_H

#include <windows.h>

#include "resource.h"

#define PROGRAM_NAME            "Tessmere"
#define STORE_DIRECTORY_NAME    "StoreWallPaper"
#define WM_TRAYNOTIFY           (WM_APP + 1)
#define TRAY_ICON_ID            101
#define CHANGE_TIMER_ID         1
#define TRAY_CAPTURE_TIMER_ID   2

enum ChangeMode {
    ModeCaptureDesktop = 0,
    ModeCycleFiles = 1,
    ModeCaptureWindow = 2,
    ModeCaptureNewWindow = 3
};

struct SettingsRecord {
    LONG Seconds;
    LONG Minutes;
    LONG Mode;      // a ChangeMode, or whatever other value the registry held
};

// A value of the desktop's picture style, as the registry holds it.
struct StyleValue {
    bool Present;
    DWORD Type;
    DWORD Size;
    BYTE Data[64];
};

// "WallpaperStyle" and "TileWallpaper", in this order.
const int StyleValueCount = 2;
struct DesktopStyle {
    StyleValue Values[StyleValueCount];
};

// Room for any path that Windows takes, MAX_PATH - 1 characters, in any code
// page: UTF-8 spells each character that Windows counts in up to 3 bytes.
const size_t PathBufferSize = 3 * MAX_PATH;

// main
extern HINSTANCE AppInstance;
extern NOTIFYICONDATAA TrayIcon;         // kept for the whole run: re-adding and removal reuse it
extern UINT TaskbarCreatedMessage;       // sent by a restarted shell; 0 if it could not be registered
void ReloadTrayIcon();                   // TrayIcon's own, at the small-icon size of the moment
bool AddTrayIconToShell();               // NIM_ADD of TrayIcon, with its version

// paths
extern char StoreDirectory[PathBufferSize];
extern char CaptureFilePath[PathBufferSize];
extern char StorePattern[PathBufferSize];
bool PathFits(const char *path);
bool SplitPath(const char *path, char *drive, char *directory, char *name);
bool JoinPath(char *result, const char *drive, const char *directory,
              const char *name, const char *extension);
bool DeriveStorePaths(const char *modulePath);
// The picture types that Windows takes as a wallpaper, each set holding the
// one before: bitmaps alone before Vista, JPEG too on Vista and 7, PNG, GIF
// and TIFF too from 8 on. It turns them into a bitmap of its own.
enum PictureTypes { BitmapPictures, BitmapAndJpegPictures, AllPictureTypes };
// Whether the extension of name's last part, in any case, is one of a type in types.
bool IsPictureName(const char *name, PictureTypes types);

// settings_store
extern SettingsRecord ChangeSettings;
extern char UserWallpaper[PathBufferSize];   // the wallpaper set when this copy started
DWORD ChangeInterval(const SettingsRecord &settings);
void LoadSettings(SettingsRecord &settings);
void SaveSettings(SettingsRecord &settings);
void ReadSystemWallpaper(char *buffer);
void ReadKeptWallpaper(char *buffer);           // empty when no copy is recorded
void RecordKeptWallpaper(const char *path);
// The desktop's own under "Control Panel\Desktop", or the record of the user's.
bool ReadDesktopStyle(DesktopStyle &style, bool recorded);
bool WriteDesktopStyle(const DesktopStyle &style, bool recorded);
void DeleteStyleRecord();

// error_report
extern bool ProgramEnding;      // from Exit or WM_DESTROY on: a report could only hold up the end
void ReportLastError(const char *caption, int flags = 1, UINT extraStyle = 0);

// tray_window
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void ScheduleChangeTimer(HWND window, bool stop);

// wallpaper
// What the desktop can show differs by version: JPEG from Vista (6.0), every
// other picture type and a picture spanned over several monitors from 8 (6.2).
bool WindowsIsAtLeast(DWORD major, DWORD minor);
bool ApplyWallpaper(const char *path);         // false when Windows refused the set
// Whether the wallpaper is the file at path, unchanged since this program set it.
bool StillShown(const char *path);
void ShowStoredFile(const char *path);      // sets it unless it is the picture shown, unchanged
void KeepUserWallpaper();                   // where Windows named only its cached copy of it
// At the end of the run the picture is put back for good, and its copy is no longer guarded.
void RestoreUserWallpaper(bool forGood);
void NoteUserChoice();
void BeginTimedChange();
// Whether the user chose anything since the timed change under way began.
bool TimedChangeOverruled();
void PutBackStyleLeftBehind();              // at start, by a run that ended without putting it back

// capture
bool CaptureToFile(int mode);
bool IsDesktop(HWND window);

// cycler
extern char CycledFilePath[PathBufferSize];
const char *NextStoredFile(HWND window);
void CloseStoreSearch();

// settings_dialog
INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
