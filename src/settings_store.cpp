#include "tessmere.h"

SettingsRecord ChangeSettings;      // all zero until LoadSettings
char UserWallpaper[PathBufferSize];

static const char SettingsKeyName[] = "Software\\Quillaby\\Tessmere";
// Where Windows names only its cache, the copy of the user's picture that
// Restore and Exit put back, until they have put it back for good.
static const char KeptWallpaperValue[] = "KeptWallpaper";
static const LONG DefaultMinutes = 5;

// The registry functions return their error instead of setting the thread's
// last error, which the report shows.
static void ReportRegistryError(const char *caption, LONG status)
{
    SetLastError((DWORD)status);
    ReportLastError(caption);
}

// A key that cannot be opened is reported and gives null: every access through
// it then fails and the callers fall back to their defaults.
static HKEY OpenUserKey(const char *name)
{
    HKEY key = NULL;
    DWORD disposition;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, name, 0, NULL, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, NULL, &key, &disposition);
    if (status != ERROR_SUCCESS) {
        key = NULL;
        ReportRegistryError("RegCreateKeyEx", status);
    }
    return key;
}

// Four bytes whatever the registry type; a longer value fails and a shorter
// one leaves the high bytes zero.
static bool QueryLong(HKEY key, const char *name, LONG &value)
{
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, NULL, NULL, (BYTE *)&data, &size) != ERROR_SUCCESS)
        return false;
    value = (LONG)data;
    return true;
}

static void SetDword(HKEY key, const char *name, DWORD value)
{
    LONG status = RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value);
    if (status != ERROR_SUCCESS)
        ReportRegistryError("RegSetValueEx", status);
}

// The interval in milliseconds of the minutes and seconds as the dialog shows
// them, unsigned. One beyond the longest a timer takes becomes the longest
// whole number of seconds it does take: cut to 32 bits, it could come out as
// a few milliseconds.
DWORD ChangeInterval(const SettingsRecord &settings)
{
    ULONGLONG milliseconds = 1000ull * ((DWORD)settings.Seconds + 60ull * (DWORD)settings.Minutes);
    if (milliseconds > USER_TIMER_MAXIMUM)
        milliseconds = USER_TIMER_MAXIMUM / 1000 * 1000;
    return (DWORD)milliseconds;
}

static void TransferSettings(SettingsRecord &settings, bool load)
{
    HKEY key = OpenUserKey(SettingsKeyName);
    if (load) {
        LONG milliseconds;
        if (QueryLong(key, "Timer", milliseconds)) {
            settings.Minutes = milliseconds / 60000;
            settings.Seconds = milliseconds % 60000 / 1000;
        } else {
            settings.Minutes = DefaultMinutes;
            settings.Seconds = 0;
        }
        if (!QueryLong(key, "Mode", settings.Mode))
            settings.Mode = ModeCaptureDesktop;
    } else {
        SetDword(key, "Timer", ChangeInterval(settings));
        SetDword(key, "Mode", (DWORD)settings.Mode);
    }
    if (key != NULL)
        RegCloseKey(key);
}

void LoadSettings(SettingsRecord &settings)
{
    TransferSettings(settings, true);
}

void SaveSettings(SettingsRecord &settings)
{
    TransferSettings(settings, false);
}

void ReadSystemWallpaper(char *buffer)
{
    HKEY key = OpenUserKey("Control Panel\\Desktop");
    DWORD size = PathBufferSize;
    LONG status = RegQueryValueExA(key, "Wallpaper", NULL, NULL, (BYTE *)buffer, &size);
    if (status == ERROR_SUCCESS) {
        // A value stored without its NUL may fill the buffer: cut there, it is
        // far longer than any path Windows takes, and refused below.
        buffer[size < PathBufferSize ? size : PathBufferSize - 1] = '\0';
        // Windows could not set a longer one as the wallpaper.
        if (!PathFits(buffer))
            status = ERROR_MORE_DATA;
    }
    if (status != ERROR_SUCCESS) {
        buffer[0] = '\0';
        ReportRegistryError("RegQueryValueEx", status);
    }
    if (key != NULL)
        RegCloseKey(key);
}

void ReadKeptWallpaper(char *buffer)
{
    HKEY key = OpenUserKey(SettingsKeyName);
    DWORD size = PathBufferSize, type = REG_NONE;
    if (RegQueryValueExA(key, KeptWallpaperValue, NULL, &type, (BYTE *)buffer, &size) != ERROR_SUCCESS
        || type != REG_SZ)
        size = 0;
    buffer[size < PathBufferSize ? size : PathBufferSize - 1] = '\0';
    if (key != NULL)
        RegCloseKey(key);
}

// An empty path removes the record.
void RecordKeptWallpaper(const char *path)
{
    HKEY key = OpenUserKey(SettingsKeyName);
    LONG status = path[0] == '\0' ? RegDeleteValueA(key, KeptWallpaperValue)
        : RegSetValueExA(key, KeptWallpaperValue, 0, REG_SZ, (const BYTE *)path, lstrlenA(path) + 1);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        ReportRegistryError(path[0] == '\0' ? "RegDeleteValue" : "RegSetValueEx", status);
    if (key != NULL)
        RegCloseKey(key);
}

// The user's own picture style, kept while a capture is spanned over every
// monitor. That the key exists says that a record was made; a value missing
// from it was missing from the user's settings too.
static const char StyleRecordKeyName[] = "Software\\Quillaby\\Tessmere\\UserStyle";
static const char *const StyleValueNames[] = { "WallpaperStyle", "TileWallpaper" };

// From "Control Panel\Desktop", or from the record. No record is no failure,
// and no report.
bool ReadDesktopStyle(DesktopStyle &style, bool recorded)
{
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER,
                                recorded ? StyleRecordKeyName : "Control Panel\\Desktop", 0,
                                KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) {
        if (!recorded || status != ERROR_FILE_NOT_FOUND)
            ReportRegistryError("RegOpenKeyEx", status);
        return false;
    }
    bool read = true;
    for (int i = 0; i < StyleValueCount && read; i++) {
        StyleValue &value = style.Values[i];
        value.Size = sizeof value.Data - 1;
        status = RegQueryValueExA(key, StyleValueNames[i], NULL, &value.Type, value.Data,
                                  &value.Size);
        value.Present = status == ERROR_SUCCESS;
        if (value.Present)
            value.Data[value.Size] = '\0';      // a text stored without its NUL ends all the same
        else if (status != ERROR_FILE_NOT_FOUND)
            read = false;
    }
    if (!read)
        ReportRegistryError("RegQueryValueEx", status);
    RegCloseKey(key);
    return read;
}

// Each value as the style has it, a missing one deleted; the record's key is
// created first.
bool WriteDesktopStyle(const DesktopStyle &style, bool recorded)
{
    HKEY key = OpenUserKey(recorded ? StyleRecordKeyName : "Control Panel\\Desktop");
    if (key == NULL)
        return false;
    bool written = true;
    for (int i = 0; i < StyleValueCount; i++) {
        const StyleValue &value = style.Values[i];
        LONG status = value.Present
            ? RegSetValueExA(key, StyleValueNames[i], 0, value.Type, value.Data, value.Size)
            : RegDeleteValueA(key, StyleValueNames[i]);
        if (status != ERROR_SUCCESS && (value.Present || status != ERROR_FILE_NOT_FOUND)) {
            ReportRegistryError(value.Present ? "RegSetValueEx" : "RegDeleteValue", status);
            written = false;
        }
    }
    RegCloseKey(key);
    return written;
}

void DeleteStyleRecord()
{
    LONG status = RegDeleteKeyA(HKEY_CURRENT_USER, StyleRecordKeyName);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        ReportRegistryError("RegDeleteKey", status);
}
