#include "tessmere.h"

char CycledFilePath[MAX_PATH];                          // the file the last step gave
static HANDLE StoreSearch = INVALID_HANDLE_VALUE;       // open across ticks: the place in the cycle

void CloseStoreSearch()
{
    if (StoreSearch != INVALID_HANDLE_VALUE) {
        FindClose(StoreSearch);
        StoreSearch = INVALID_HANDLE_VALUE;
    }
}

static void OnEmptyStore(HWND window)
{
    // Re-arming the timer may change the last error; the search's code is the one to show.
    DWORD error = GetLastError();
    ChangeSettings.Seconds = 0;
    ScheduleChangeTimer(window, false);
    SetLastError(error);
    ReportLastError("FindFirstFile");
}

const char *NextStoredFile(HWND window)
{
    WIN32_FIND_DATAA found;
    if (StoreSearch == INVALID_HANDLE_VALUE) {
        StoreSearch = FindFirstFileA(StorePattern, &found);
        if (StoreSearch == INVALID_HANDLE_VALUE) {
            // The file cycled last may be gone, and the user's wallpaper put
            // back since: nothing is what an empty store has to show.
            CycledFilePath[0] = '\0';
            OnEmptyStore(window);
            return CycledFilePath;
        }
    } else if (!FindNextFileA(StoreSearch, &found)) {
        CloseStoreSearch();
        return NextStoredFile(window);
    }
    char path[MAX_PATH];
    if (!JoinPath(path, NULL, StoreDirectory, found.cFileName, NULL)) {
        ReportLastError(found.cFileName);
        return CycledFilePath;
    }
    lstrcpyA(CycledFilePath, path);
    return CycledFilePath;
}
