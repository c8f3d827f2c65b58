// What the desktop shows: the picture set last, the user's own picture that
// Restore and Exit put back, and the user's choices, which win over a timed
// change still waiting in one of its reports.
#include "tessmere.h"

#include <shlobj.h>
#include <string.h>

static char ShownPath[PathBufferSize];      // the picture set last, empty if it could not be looked at
static WIN32_FILE_ATTRIBUTE_DATA ShownFile; // its size and last-write time then
static bool ShownBytesKnown;                // whether ShownFingerprint holds its bytes
static ULONGLONG ShownFingerprint;
static unsigned UserChoices;                // Exit, Stop, Restore, OK in Settings, the tray's Capture, the window's end
static unsigned ChoicesBeforeTimedChange;   // UserChoices when the timed change under way began

// The copy of the user's picture, in the store under a name without a
// picture's extension, which the cycle passes over.
static const char UserWallpaperCopyName[] = "UserWallpaper";

// A program whose manifest names the running Windows is told its true
// version; VerifyVersionInfo then answers for any version asked about.
bool WindowsIsAtLeast(DWORD major, DWORD minor)
{
    OSVERSIONINFOEXA wanted = {};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwMajorVersion = major;
    wanted.dwMinorVersion = minor;
    DWORDLONG condition = VerSetConditionMask(
        VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL), VER_MINORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoA(&wanted, VER_MAJORVERSION | VER_MINORVERSION, condition) != FALSE;
}

bool ApplyWallpaper(const char *path)
{
    if (path == NULL)
        path = CaptureFilePath;
    if (GetFileAttributesExA(path, GetFileExInfoStandard, &ShownFile))
        lstrcpynA(ShownPath, path, sizeof ShownPath);
    else
        ShownPath[0] = '\0';
    ShownBytesKnown = false;
    // Broadcast only: the user's stored wallpaper setting must keep naming their own picture.
    BOOL set = SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, (void *)path, SPIF_SENDWININICHANGE);
    // A picture refused, one that Windows cannot read say, is not the one shown.
    if (!set)
        ShownPath[0] = '\0';
    return set != FALSE;
}

// Setting the picture already shown makes the system read it again and wakes
// every program with the broadcast. The system says which file it shows; the
// size and time say that no capture or dropped file has replaced it since.
// The system gives the name back byte for byte; lstrcmpi would read it through
// the locale's code page, which need not be its own, and could take two names for one.
bool StillShown(const char *path)
{
    char shown[PathBufferSize];
    WIN32_FILE_ATTRIBUTE_DATA now;
    return ShownPath[0] != '\0' && strcmp(path, ShownPath) == 0
        && SystemParametersInfoA(SPI_GETDESKWALLPAPER, sizeof shown, shown, 0)
        && strcmp(shown, path) == 0
        && GetFileAttributesExA(path, GetFileExInfoStandard, &now)
        && now.nFileSizeHigh == ShownFile.nFileSizeHigh
        && now.nFileSizeLow == ShownFile.nFileSizeLow
        && CompareFileTime(&now.ftLastWriteTime, &ShownFile.ftLastWriteTime) == 0;
}

// A picture copied over another of the same size brings the time of its own
// source, and FAT keeps times to two seconds: only the bytes tell them apart.
// Read a piece at a time, sharing the file with whoever renames or deletes it.
static bool ReadFingerprint(const char *path, ULONGLONG &fingerprint)
{
    HANDLE file = CreateFileA(path, GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ULONGLONG piece[8192];
    ULONGLONG sum = 0;
    DWORD read = 0;
    BOOL succeeded;
    while ((succeeded = ReadFile(file, piece, sizeof piece, &read, NULL)) && read > 0) {
        ZeroMemory((char *)piece + read, (8 - read % 8) % 8);
        for (DWORD i = 0; i < (read + 7) / 8; i++) {
            sum = (sum ^ piece[i]) * 0x9E3779B97F4A7C15ull;
            sum ^= sum >> 29;
        }
    }
    CloseHandle(file);
    fingerprint = sum;
    return succeeded != FALSE;
}

// The bytes are read only when everything cheaper says the file is the one
// shown, and only they can say so: a picture copied over it may bring the
// same size and time. A file that cannot be read now (another program holds
// it without sharing it) is vouched for by its size and time. A file set
// before its bytes were known is set once more, with them known.
void ShowStoredFile(const char *path)
{
    ULONGLONG fingerprint = 0;
    bool known;
    if (StillShown(path)) {
        if (!ReadFingerprint(path, fingerprint)
            || (ShownBytesKnown && fingerprint == ShownFingerprint))
            return;
        known = true;
    } else {
        // A file set again over itself, as in a store of one, is read at
        // once, since the next tick may well bring it once more.
        known = strcmp(path, ShownPath) == 0 && ReadFingerprint(path, fingerprint);
    }
    ApplyWallpaper(path);
    ShownBytesKnown = known;
    ShownFingerprint = fingerprint;
}

static bool ToWide(const char *path, WCHAR (&wide)[MAX_PATH], int &length)
{
    length = MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) - 1;
    return length > 0;
}

// Windows compares names without regard to case.
static bool SameNames(const WCHAR *a, const WCHAR *b, int length)
{
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a, length, b, length) == CSTR_EQUAL;
}

// True when path lies in folder or below it.
static bool InFolder(const char *path, const char *folder)
{
    WCHAR widePath[MAX_PATH], wideFolder[MAX_PATH];
    int pathLength, folderLength;
    return ToWide(path, widePath, pathLength) && ToWide(folder, wideFolder, folderLength)
        && pathLength > folderLength && widePath[folderLength] == L'\\'
        && SameNames(widePath, wideFolder, folderLength);
}

static bool SamePath(const char *a, const char *b)
{
    WCHAR wideA[MAX_PATH], wideB[MAX_PATH];
    int lengthA, lengthB;
    return ToWide(a, wideA, lengthA) && ToWide(b, wideB, lengthB) && lengthA == lengthB
        && SameNames(wideA, wideB, lengthA);
}

static bool NamesWindowsCache(const char *path)
{
    char appData[PathBufferSize];
    char themes[PathBufferSize];
    return path[0] != '\0'
        && SUCCEEDED(SHGetFolderPathA(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, appData))
        && JoinPath(themes, NULL, appData, "Microsoft\\Windows\\Themes", NULL)
        && InFolder(path, themes);
}

// For a slideshow, a picture per monitor and more, Windows 8 and later name in
// "Wallpaper" only their own cached copy of the picture shown, which they
// rewrite at every change, this program's too: by Restore it would hold the
// last capture. So a copy of the user's picture is kept before the first
// change. A run that ended without putting it back (a crash, a kill) left the
// cache holding a picture of this program's, and the copy as the user's: the
// record of it says so. A new copy replaces the old only once it is whole.
void KeepUserWallpaper()
{
    char copy[PathBufferSize];
    char fresh[PathBufferSize];
    char recorded[PathBufferSize];
    if (!NamesWindowsCache(UserWallpaper))
        return;
    if (!JoinPath(copy, NULL, StoreDirectory, UserWallpaperCopyName, NULL)
        || !JoinPath(fresh, NULL, StoreDirectory, UserWallpaperCopyName, "new")) {
        ReportLastError(UserWallpaper);
        return;
    }
    ReadKeptWallpaper(recorded);
    if (SamePath(recorded, copy)) {
        if (GetFileAttributesA(copy) != INVALID_FILE_ATTRIBUTES) {
            lstrcpyA(UserWallpaper, copy);
            return;
        }
        ReportLastError(copy);
    }
    if (!CopyFileA(UserWallpaper, fresh, FALSE)
        || !MoveFileExA(fresh, copy, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ReportLastError(UserWallpaper);
        DeleteFileA(fresh);
        return;
    }
    RecordKeptWallpaper(copy);
    lstrcpyA(UserWallpaper, copy);
}

void RestoreUserWallpaper(bool forGood)
{
    if (ApplyWallpaper(UserWallpaper) && forGood)
        RecordKeptWallpaper("");
}

void NoteUserChoice()
{
    UserChoices++;
}

void BeginTimedChange()
{
    ChoicesBeforeTimedChange = UserChoices;
}

// A report's message box runs a message loop of its own, in which any command
// may be carried out before the change goes on.
bool TimedChangeOverruled()
{
    return UserChoices != ChoicesBeforeTimedChange;
}
