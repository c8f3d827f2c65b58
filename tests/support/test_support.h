// Helpers shared by the unit and end-to-end tests: the bridge to the Unix side
// of Wine, scratch directories, files, registry values, message-box watching,
// bitmap and screen reading, and the windows the tests paint.
#ifndef TESSMERE_TEST_SUPPORT_H
#define TESSMERE_TEST_SUPPORT_H

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// --- Wine's two sides -------------------------------------------------------
std::string UnixPath(const std::string &windowsPath);
std::string WindowsPath(const std::string &unixPath);
// Runs a shell command on the Unix side and waits for it; -1 on timeout.
int RunUnixCommand(const std::string &command, std::string *output = nullptr,
                   DWORD timeoutMs = 60000);
std::string ShellQuote(const std::string &text);
// True when the suite runs in CI, where a skipped test would hide a gap.
bool RunningInCi();

// --- Resources held, seen from the Unix side ----------------------------------
// A number printed by a shell command; -1 when it fails.
long NumberFromUnix(const std::string &command);
// The Unix process id of the Wine process whose command line (its Windows
// path, for a program started by another Wine process) contains the text.
int UnixProcessId(const std::string &commandLinePart);
// The calling process's, found the same way by its executable's name.
int OwnUnixProcessId();
// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"); -1 when unreadable.
long StatusKiB(int unixProcessId, const char *field);
long ResidentKiB(int unixProcessId);
long OwnResidentKiB();
// A shell fragment that finds the Wine server of this prefix and leaves its
// Unix process id in $server.
extern const char FindWineServer[];
// Open descriptors of that server: a leaked file, mapping or event handle of
// any client shows here. Left out are those it keeps for each shell started
// through Wine (RunUnixCommand): it never learns that a Unix program ended
// and holds that program's executable open for good.
int WineServerDescriptors();
// Wine gives a new GDI object the slot of one deleted before taking a fresh
// one: while nothing leaks, new objects keep getting the same few slots; each
// object left behind pushes them up.
unsigned NextGdiSlot();

// --- Files ------------------------------------------------------------------
// A fresh, empty directory for the running test, under the build directory.
std::string ScratchDirectory();
std::string JoinDir(const std::string &directory, const std::string &name);
bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes);
bool WriteText(const std::string &path, const std::string &text);
std::vector<uint8_t> ReadBytes(const std::string &path);
bool FileExists(const std::string &path);
FILETIME LastWriteTime(const std::string &path);
// True when the file is written again within the time given.
bool RewrittenWithin(const std::string &path, DWORD milliseconds);
bool DirectoryExists(const std::string &path);
void RemoveTree(const std::wstring &path);
// A file held open without any sharing, as another program might hold it.
HANDLE LockFileExclusively(const std::string &path);

// A tmpfs of the given size ("64k") mounted on an empty directory for as long
// as this lives. Mounting needs root: without it the test is skipped, and in
// CI it fails instead. A mount that will not go is a failure, and is then
// detached all the same.
class SmallFileSystem {
public:
    SmallFileSystem(const std::string &directory, const char *size);
    ~SmallFileSystem();
    bool Mounted() const { return mounted_; }

private:
    std::string unixDirectory_;
    bool mounted_ = false;
};

// --- Text -------------------------------------------------------------------
std::string SystemText(DWORD code);             // FormatMessageA's text, trimmed
std::string Trimmed(const std::string &text);
std::wstring Wide(const std::string &ansi);      // through the ANSI code page
std::string Ansi(const std::wstring &wide);

// --- Registry -----------------------------------------------------------------
extern const char SettingsKey[];                 // Software\Quillaby\Tessmere
extern const char DesktopKey[];                  // Control Panel\Desktop
void DeleteSettingsKey();
bool SettingsKeyExists();
void SetRegistryValue(const char *key, const char *name, DWORD type, const void *data, DWORD size);
void SetRegistryDword(const char *key, const char *name, DWORD value);
void SetRegistryString(const char *key, const char *name, const std::string &value);
// Whole, through the W function, also where the code page has no spelling.
void SetRegistryString(const char *key, const char *name, const std::wstring &value);
void DeleteRegistryValue(const char *key, const char *name);
bool ReadRegistryDword(const char *key, const char *name, DWORD &value);
std::string ReadRegistryString(const char *key, const char *name);
int CountRegistryValues(const char *key);

// The dots per inch that the prefix's LogPixels asks for; 0 when it asks for none.
DWORD RequestedLogPixels();

// --- Wallpaper and timers -----------------------------------------------------
std::wstring CurrentWallpaperW();           // exactly, also where the code page has no spelling
inline std::string CurrentWallpaper() { return Ansi(CurrentWallpaperW()); }
void SetCurrentWallpaper(const std::string &path);
// Whether the window's change timer (identifier 1) is armed; it is not afterwards.
bool TimerArmed(HWND window);

// --- Message boxes --------------------------------------------------------
struct SeenBox {
    std::string caption;
    std::string text;
    int buttons;        // visible push buttons
    HICON icon;         // the icon shown, if any
};

// Watches for the message boxes of one process, records caption and text, and
// presses OK, as a person at the screen would.
class BoxWatcher {
public:
    explicit BoxWatcher(DWORD processId = GetCurrentProcessId());
    ~BoxWatcher();
    std::vector<SeenBox> Seen();
    bool WaitForCount(size_t count, DWORD timeoutMs = 10000);
    void Clear();
    void SetProcess(DWORD processId);
    // Leaves the boxes open, or presses OK again in those that come next.
    void SetPressing(bool pressing);
    // The boxes of the process that are open now.
    std::vector<HWND> OpenBoxes();

private:
    void Run();
    void Check();
    static BOOL CALLBACK OnWindow(HWND window, LPARAM self);

    std::atomic<DWORD> processId_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> pressing_{true};
    std::mutex mutex_;
    std::vector<SeenBox> seen_;
    std::vector<HWND> handled_;
    std::thread thread_;
};

bool IsMessageBox(HWND window);
void PressOk(HWND box);
std::string MessageBoxText(HWND window);
std::string WindowText(HWND window);
std::string ClassName(HWND window);

// Processes messages of the calling thread for the given time.
void PumpMessages(DWORD milliseconds);
// Polls a condition, pumping messages, until it holds or the time is up.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 10000)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        PumpMessages(20);
    }
}

// --- Bitmaps and the screen ------------------------------------------------------
uint32_t LittleEndian32(const std::vector<uint8_t> &bytes, size_t at);
uint16_t LittleEndian16(const std::vector<uint8_t> &bytes, size_t at);

struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;                // 0xRRGGBB, top row first
    uint32_t At(int x, int y) const { return pixels[(size_t)y * width + x]; }
};

// Reads an uncompressed 24-bit bottom-up BMP file; false if it is not one.
bool ReadBmp24(const std::string &path, Bitmap &bitmap, std::string *why = nullptr);
// Writes one of the same kind, for stored files and wallpapers.
bool WriteBmp24(const std::string &path, int width, int height, uint32_t colour);
// Asks ImageMagick to read a picture file and write it back as a 24-bit BMP.
bool ConvertWithImageMagick(const std::string &source, const std::string &bmpTarget);

// The whole X screen as X itself reads it, with its pixels as the server holds them.
struct ScreenDump {
    int width = 0;
    int height = 0;
    uint32_t masks[3] = {};                      // red, green, blue
    std::vector<uint32_t> pixels;                // raw values, top row first
    // Whether a 0xRRGGBB colour shows as the raw pixel at (x, y): each
    // channel's high bits, as many as the screen keeps, must be the pixel's.
    bool Shows(uint32_t colour, int x, int y) const;
};
// Dumps the screen into the file (through xwd, or ImageMagick on a 16-bit
// screen) and reads it back.
bool DumpScreen(const std::string &path, ScreenDump &dump, std::string *why = nullptr);
// How many pixels of the bitmap the dump does not show where it stands from (left, top) on.
long PixelsNotShown(const Bitmap &bitmap, const ScreenDump &dump, int left = 0, int top = 0);

// --- Windows the tests paint -----------------------------------------------
// The colour the pattern windows give to pixel (x, y).
inline uint32_t PatternColour(int x, int y, int seed)
{
    uint32_t red = (x * 5 + seed * 31) & 0xFF;
    uint32_t green = (y * 3 + seed * 17) & 0xFF;
    uint32_t blue = ((x ^ y) + seed * 7) & 0xFF;
    return red << 16 | green << 8 | blue;
}

// Borderless, topmost windows whose client areas show the pattern, each shown
// by a probe process of its own, as the windows a user works in are. They
// close when this goes.
class PatternWindows {
public:
    ~PatternWindows();
    HWND Show(int x, int y, int width, int height, int seed);
    // Shown and made the foreground window; the test fails when it does not stay there.
    HWND ShowInFront(int width, int height, int seed, int x = 200, int y = 150);
    void Repaint(HWND window, int seed);
    void Close(HWND window);

private:
    struct Shown {
        HWND window;
        PROCESS_INFORMATION process;
    };
    std::vector<Shown> shown_;
};

// Makes the window the foreground window and waits until it stays there.
bool BringToFront(HWND window);

#endif
