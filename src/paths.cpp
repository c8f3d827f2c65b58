// The path rules, for any ANSI code page: apart from start-up, so that a table of cases tests them.
#include "tessmere.h"

#include <string.h>

char StoreDirectory[PathBufferSize];    // "StoreWallPaper" beside the executable
char CaptureFilePath[PathBufferSize];   // StoreDirectory\Tessmere.bmp
char StorePattern[PathBufferSize];      // StoreDirectory\*: one listing for every picture type

// Steps over one character of the ANSI code page, so that the trail byte of a
// double-byte character (0x5C in many Japanese names) is never taken for "\".
static const char *NextChar(const char *p)
{
    if (IsDBCSLeadByte((BYTE)*p) && p[1] != '\0')
        return p + 2;
    return p + 1;
}

static bool IsSeparator(const char *p, const char *next)
{
    return next - p == 1 && (*p == '\\' || *p == '/');
}

static bool CopyPart(char *target, const char *begin, const char *end)
{
    size_t length = end - begin;
    if (length >= PathBufferSize) {
        target[0] = '\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    memcpy(target, begin, length);
    target[length] = '\0';
    return true;
}

// Where the last part of path begins; extensionDot is the dot before that
// part's extension, or NULL when it has none.
static const char *LastPart(const char *path, const char *&extensionDot)
{
    const char *partBegin = path;
    extensionDot = NULL;
    for (const char *p = path; *p != '\0';) {
        const char *next = NextChar(p);
        if (IsSeparator(p, next)) {
            partBegin = next;
            extensionDot = NULL;
        } else if (next - p == 1 && *p == '.') {
            extensionDot = p;
        }
        p = next;
    }
    return partBegin;
}

// Drive ("C:" or empty), directory (up to and including the last separator) and
// name; the extension is dropped. directory and name hold PathBufferSize bytes;
// a part that would not fit gives false and sets the last error.
bool SplitPath(const char *path, char *drive, char *directory, char *name)
{
    drive[0] = '\0';
    if (path[0] != '\0' && path[1] == ':') {
        drive[0] = path[0];
        drive[1] = ':';
        drive[2] = '\0';
        path += 2;
    }
    const char *lastDot;
    const char *nameBegin = LastPart(path, lastDot);
    const char *nameEnd = lastDot != NULL ? lastDot : nameBegin + strlen(nameBegin);
    bool directoryFits = CopyPart(directory, path, nameBegin);
    bool nameFits = CopyPart(name, nameBegin, nameEnd);
    return directoryFits && nameFits;
}

// The extensions that Windows knows each picture type by, and the first set that holds the type.
static const struct {
    const char *extension;
    PictureTypes firstIn;
} PictureExtensions[] = {
    { "bmp", BitmapPictures }, { "dib", BitmapPictures },
    { "jpg", BitmapAndJpegPictures }, { "jpeg", BitmapAndJpegPictures },
    { "jpe", BitmapAndJpegPictures }, { "jfif", BitmapAndJpegPictures },
    { "png", AllPictureTypes }, { "gif", AllPictureTypes },
    { "tif", AllPictureTypes }, { "tiff", AllPictureTypes },
};

// Extensions are ASCII, and compared as such: the user's locale, which
// lstrcmpi follows, has no say in them.
static bool SameExtension(const char *text, const char *lowerCase)
{
    for (; *lowerCase != '\0'; text++, lowerCase++) {
        char letter = *text >= 'A' && *text <= 'Z' ? (char)(*text - 'A' + 'a') : *text;
        if (letter != *lowerCase)
            return false;
    }
    return *text == '\0';
}

bool IsPictureName(const char *name, PictureTypes types)
{
    const char *dot;
    LastPart(name, dot);
    if (dot == NULL)
        return false;
    for (size_t i = 0; i < sizeof PictureExtensions / sizeof PictureExtensions[0]; i++) {
        if (PictureExtensions[i].firstIn <= types && SameExtension(dot + 1, PictureExtensions[i].extension))
            return true;
    }
    return false;
}

static bool Append(char *result, size_t &length, const char *text, size_t count)
{
    if (length + count >= PathBufferSize)
        return false;
    memcpy(result + length, text, count);
    length += count;
    result[length] = '\0';
    return true;
}

static bool EndsWithSeparator(const char *text)
{
    const char *last = NULL;
    const char *end = text;
    for (const char *p = text; *p != '\0'; p = end) {
        last = p;
        end = NextChar(p);
    }
    return last != NULL && IsSeparator(last, end);
}

// Windows counts a path's length in UTF-16 units, however many bytes the code
// page spells them in, and takes fewer than MAX_PATH.
bool PathFits(const char *path)
{
    int units = MultiByteToWideChar(CP_ACP, 0, path, -1, NULL, 0);
    return units > 0 && units <= MAX_PATH;
}

// The one path-joining rule of the program. result holds PathBufferSize bytes;
// a path that Windows would not take leaves it empty, gives false and sets the
// last error, so that callers can report it as it is.
bool JoinPath(char *result, const char *drive, const char *directory,
              const char *name, const char *extension)
{
    size_t length = 0;
    bool fits = true;
    result[0] = '\0';
    if (drive != NULL && drive[0] != '\0') {
        const char driveLetter[2] = { drive[0], ':' };
        fits = Append(result, length, driveLetter, 2);
    }
    if (fits && directory != NULL && directory[0] != '\0') {
        fits = Append(result, length, directory, strlen(directory));
        if (fits && !EndsWithSeparator(directory))
            fits = Append(result, length, "\\", 1);
    }
    if (fits && name != NULL)
        fits = Append(result, length, name, strlen(name));
    if (fits && extension != NULL && extension[0] != '\0') {
        if (extension[0] != '.')
            fits = Append(result, length, ".", 1);
        if (fits)
            fits = Append(result, length, extension, strlen(extension));
    }
    fits = fits && PathFits(result);
    if (!fits) {
        result[0] = '\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    return fits;
}

// Fills StoreDirectory, CaptureFilePath and StorePattern from the executable's
// path. When Windows would not take one of them, all three are left empty and
// the last error says why.
bool DeriveStorePaths(const char *modulePath)
{
    char drive[3];
    char directory[PathBufferSize];
    char name[PathBufferSize];
    bool fits = SplitPath(modulePath, drive, directory, name)
             && JoinPath(StoreDirectory, drive, directory, STORE_DIRECTORY_NAME, NULL)
             && JoinPath(CaptureFilePath, NULL, StoreDirectory, PROGRAM_NAME, "bmp")
             && JoinPath(StorePattern, NULL, StoreDirectory, "*", NULL);
    if (!fits)
        StoreDirectory[0] = CaptureFilePath[0] = StorePattern[0] = '\0';
    return fits;
}
