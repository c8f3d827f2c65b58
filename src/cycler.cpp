#include "tessmere.h"

char CycledFilePath[PathBufferSize];                    // the file the last step gave
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

static PictureTypes TypesWindowsShows()
{
    if (WindowsIsAtLeast(6, 2))
        return AllPictureTypes;
    return WindowsIsAtLeast(6, 0) ? BitmapAndJpegPictures : BitmapPictures;
}

// The store is listed whole, folders and files of every type among it, and
// judged by each entry's own name: a pattern would also match the short 8.3
// names ("photo.bmpx" is PHOTO~1.BMP). A name too long to join to the store's
// path cannot be opened. None of those may become the wallpaper.
static bool TakeEntry(const WIN32_FIND_DATAA &found, PictureTypes typesShown)
{
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsPictureName(found.cFileName, typesShown))
        return false;
    char path[PathBufferSize];
    if (!JoinPath(path, NULL, StoreDirectory, found.cFileName, NULL)) {
        ReportLastError(found.cFileName);
        return false;
    }
    lstrcpyA(CycledFilePath, path);
    return true;
}

// Nothing once the user has chosen something while a report of this step was
// open: Exit may have closed the listing, and what the user chose is shown.
const char *NextStoredFile(HWND window)
{
    WIN32_FIND_DATAA found;
    PictureTypes typesShown = TypesWindowsShows();
    // When a listing begun in this call ends too, the store holds nothing to show.
    bool begunHere = false;
    for (;;) {
        if (TimedChangeOverruled())
            return "";
        // Windows fails the step for a name that cFileName cannot hold in the
        // code page (in UTF-8, 86 kanji and ".bmp") rather than cut it. A
        // listing goes on after it; a first step that fails so leaves none.
        if (StoreSearch == INVALID_HANDLE_VALUE) {
            StoreSearch = FindFirstFileA(StorePattern, &found);
            begunHere = true;
            if (StoreSearch == INVALID_HANDLE_VALUE && GetLastError() == ERROR_MORE_DATA)
                SetLastError(ERROR_FILENAME_EXCED_RANGE);
        } else if (!FindNextFileA(StoreSearch, &found)) {
            if (GetLastError() == ERROR_MORE_DATA) {
                SetLastError(ERROR_FILENAME_EXCED_RANGE);
                ReportLastError(StoreDirectory);
                continue;
            }
            CloseStoreSearch();
            if (!begunHere)
                continue;
            SetLastError(ERROR_FILE_NOT_FOUND);     // as a search that finds nothing says
        }
        if (StoreSearch == INVALID_HANDLE_VALUE) {
            // The file cycled last may be gone, and the user's wallpaper put
            // back since: nothing is what an empty store has to show.
            CycledFilePath[0] = '\0';
            OnEmptyStore(window);
            return CycledFilePath;
        }
        if (TakeEntry(found, typesShown))
            return CycledFilePath;
    }
}
