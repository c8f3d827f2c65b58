#include "tessmere.h"

#include <commctrl.h>
#include <shellapi.h>

static const struct {
    int button;
    LONG mode;
} ModeButtons[] = {
    { IDC_MODE_DESKTOP, ModeCaptureDesktop },
    { IDC_MODE_FILES, ModeCycleFiles },
    { IDC_MODE_WINDOW, ModeCaptureWindow },
    { IDC_MODE_NEWWINDOW, ModeCaptureNewWindow },
};

// Windows checks an automatic radio button that gets the focus, where Wine
// only reports a click. A mode the dialog does not know must stay unchecked,
// so that OK keeps it; unchecking also takes the tab stop away, and the
// first mode needs one for Tab to reach the modes.
static void FocusMode(HWND dialog, int checked)
{
    HWND button = GetDlgItem(dialog, checked != 0 ? checked : IDC_MODE_DESKTOP);
    SetFocus(button);
    if (checked != 0)
        return;
    CheckDlgButton(dialog, IDC_MODE_DESKTOP, BST_UNCHECKED);
    SetWindowLongPtrA(button, GWL_STYLE, GetWindowLongPtrA(button, GWL_STYLE) | WS_TABSTOP);
}

static void OnInitDialog(HWND dialog)
{
    int checked = 0;
    for (const auto &entry : ModeButtons) {
        if (ChangeSettings.Mode == entry.mode) {
            CheckDlgButton(dialog, entry.button, BST_CHECKED);
            checked = entry.button;
        }
    }
    SetWindowTextA(dialog, PROGRAM_NAME);
    SetDlgItemInt(dialog, IDC_MINUTES, (UINT)ChangeSettings.Minutes, FALSE);
    SetDlgItemInt(dialog, IDC_SECONDS, (UINT)ChangeSettings.Seconds, FALSE);
    SendDlgItemMessageA(dialog, IDC_MINUTES_SPIN, UDM_SETRANGE, 0, MAKELONG(1440, 0));
    SendDlgItemMessageA(dialog, IDC_SECONDS_SPIN, UDM_SETRANGE, 0, MAKELONG(59, 0));
    FocusMode(dialog, checked);
}

// Without a checked button (a mode the dialog does not know) the mode is kept.
static void OnOk(HWND dialog)
{
    for (const auto &entry : ModeButtons) {
        if (IsDlgButtonChecked(dialog, entry.button) == BST_CHECKED) {
            ChangeSettings.Mode = entry.mode;
            break;
        }
    }
    ChangeSettings.Minutes = (LONG)GetDlgItemInt(dialog, IDC_MINUTES, NULL, FALSE);
    ChangeSettings.Seconds = (LONG)GetDlgItemInt(dialog, IDC_SECONDS, NULL, FALSE);
    SaveSettings(ChangeSettings);
    EndDialog(dialog, IDOK);
}

static void ImportDroppedFile(HDROP drop, UINT index)
{
    UINT length = DragQueryFileA(drop, index, NULL, 0);
    char source[PathBufferSize];
    // No name at all: there is nothing to copy, and the buffer would be read unwritten.
    if (length < PathBufferSize
        && (length == 0 || DragQueryFileA(drop, index, source, PathBufferSize) == 0))
        return;
    // A longer path would arrive cut short, or could not be opened.
    if (length >= PathBufferSize || !PathFits(source)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        ReportLastError(NULL);
        return;
    }

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(source, &found);
    if (search == INVALID_HANDLE_VALUE) {
        // Windows refuses a name that cFileName cannot hold in the code page
        // rather than cut it: the name is what is wrong, not the data.
        if (GetLastError() == ERROR_MORE_DATA)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        ReportLastError(source);
        return;
    }
    FindClose(search);

    char destination[PathBufferSize];
    if (!JoinPath(destination, NULL, StoreDirectory, found.cFileName, NULL)) {
        ReportLastError(source);
        return;
    }
    if (!CopyFileA(source, destination, FALSE))
        ReportLastError(source);
}

// Files are copied as they are dropped: cancelling the dialog undoes nothing.
static void ImportDroppedFiles(HDROP drop)
{
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, NULL, 0);
    for (UINT index = 0; index < count; index++)
        ImportDroppedFile(drop, index);
    DragFinish(drop);
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);       // sets the focus itself
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            OnOk(dialog);
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, IDCANCEL);
        break;
    case WM_DROPFILES:
        ImportDroppedFiles((HDROP)wParam);
        break;
    }
    return FALSE;
}
