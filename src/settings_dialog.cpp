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

// A screen reader names a field after the static text right before it, and
// Windows looks no further back than a tab or group stop. The visible labels
// come after the fields and stay there, since each up-down takes the control
// before it as its buddy: an invisible label goes in right before each field
// instead, once the up-downs have their buddies. An up-down's name is its text.
static void NameField(HWND dialog, int field, int spin, UINT text)
{
    char name[64];
    if (LoadStringA(AppInstance, text, name, sizeof name) == 0)
        return;
    HWND label = CreateWindowExA(0, "STATIC", name, WS_CHILD | SS_LEFT, 0, 0, 0, 0, dialog,
                                 (HMENU)(INT_PTR)IDC_STATIC, AppInstance, NULL);
    HWND control = GetDlgItem(dialog, field);
    SetWindowPos(label, GetWindow(control, GW_HWNDPREV), 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetDlgItemTextA(dialog, spin, name);
}

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
    NameField(dialog, IDC_MINUTES, IDC_MINUTES_SPIN, IDS_MINUTES_NAME);
    NameField(dialog, IDC_SECONDS, IDC_SECONDS_SPIN, IDS_SECONDS_NAME);
    FocusMode(dialog, checked);
}

// Without a checked button (a mode the dialog does not know) the mode is kept.
// Counted at once: a report under the dialog may let a timed change go on
// before the dialog itself returns.
static void OnOk(HWND dialog)
{
    NoteUserChoice();
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
