#include "tessmere.h"

bool ProgramEnding;

void ReportLastError(const char *caption, int flags, UINT extraStyle)
{
    if (ProgramEnding)
        return;
    if (caption == NULL)
        caption = PROGRAM_NAME;
    DWORD code = GetLastError();
    char *text = NULL;
    // Without IGNORE_INSERTS a text with "%1" would read arguments that were
    // never given; the text is shown with its placeholders instead.
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                      | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  (char *)&text, 0, NULL);
    // A code without system text passes silently: there is nothing useful to show.
    if (length != 0 && (flags & 1))
        MessageBoxA(NULL, text, caption,
                    MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND | extraStyle);
    LocalFree(text);
}
