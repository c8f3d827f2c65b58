#include "test_support.h"

#include "program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#ifndef PROBE_EXE
#error "PROBE_EXE must name the built probe.exe (a Unix path)"
#endif
#ifndef TEST_SCRATCH_ROOT
#error "TEST_SCRATCH_ROOT must name a Unix directory for the tests' files"
#endif

// --- Wine's two sides -------------------------------------------------------

typedef char *(CDECL *UnixNameFunction)(const WCHAR *);
typedef WCHAR *(CDECL *DosNameFunction)(const char *);

std::string UnixPath(const std::string &windowsPath)
{
    static UnixNameFunction toUnix = (UnixNameFunction)(void *)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (toUnix == nullptr)
        return std::string();
    char *name = toUnix(Wide(windowsPath).c_str());
    if (name == nullptr)
        return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

std::string WindowsPath(const std::string &unixPath)
{
    static DosNameFunction toDos = (DosNameFunction)(void *)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name");
    if (toDos == nullptr)
        return std::string();
    WCHAR *name = toDos(unixPath.c_str());
    if (name == nullptr)
        return std::string();
    std::string result = Ansi(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

std::string ShellQuote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

bool RunningInCi()
{
    char value[16] = "";
    GetEnvironmentVariableA("CI", value, sizeof value);
    return lstrcmpiA(value, "true") == 0;
}

static std::string ScratchRoot()
{
    static std::string root = WindowsPath(TEST_SCRATCH_ROOT);
    CreateDirectoryA(root.c_str(), nullptr);
    return root;
}

// Wine starts a Unix program from CreateProcess, but what it returns does not
// follow that program: the script marks its end with a file instead. Its
// handles and ids are stale values from Wine's stack, not handles of ours;
// closing them closed whatever of this process had that value, such as the
// key Wine reads the display configuration through.
int RunUnixCommand(const std::string &command, std::string *output, DWORD timeoutMs)
{
    static LONG counter;
    std::string stem = JoinDir(ScratchRoot(), "unix-" + std::to_string(GetCurrentProcessId())
                                              + "-" + std::to_string(InterlockedIncrement(&counter)));
    std::string script = stem + ".sh", out = stem + ".out", done = stem + ".done";
    DeleteFileA(done.c_str());
    std::string unixOut = UnixPath(out), unixDone = UnixPath(done);
    WriteText(script, "#!/bin/sh\n(\n" + command + "\n) > " + ShellQuote(unixOut) + " 2>&1\n"
                      "echo $? > " + ShellQuote(unixDone + ".tmp") + "\n"
                      "mv " + ShellQuote(unixDone + ".tmp") + " " + ShellQuote(unixDone) + "\n");
    std::string commandLine = "/bin/sh " + UnixPath(script);
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    bool finished = WaitUntil([&] { return FileExists(done); }, timeoutMs);
    if (output != nullptr) {
        std::vector<uint8_t> bytes = ReadBytes(out);
        output->assign(bytes.begin(), bytes.end());
    }
    if (!finished)
        return -1;
    std::vector<uint8_t> status = ReadBytes(done);
    DeleteFileA(script.c_str());
    DeleteFileA(out.c_str());
    DeleteFileA(done.c_str());
    return atoi(std::string(status.begin(), status.end()).c_str());
}

// --- Resources held, seen from the Unix side ----------------------------------

long NumberFromUnix(const std::string &command)
{
    std::string output;
    if (RunUnixCommand(command, &output) != 0 || output.empty())
        return -1;
    return atol(output.c_str());
}

static std::string RegexQuote(const std::string &text)
{
    std::string quoted;
    for (char c : text) {
        if (strchr("\\.[]()*+?{}|^$", c) != nullptr)
            quoted += '\\';
        quoted += c;
    }
    return quoted;
}

int UnixProcessId(const std::string &commandLinePart)
{
    return (int)NumberFromUnix("pgrep -f -o " + ShellQuote(RegexQuote(commandLinePart)));
}

// Wine opens files in its server, so /proc/self would be the server: the
// process is found by its executable's name, the newest one of that name.
int OwnUnixProcessId()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const char *name = strrchr(path, '\\') != nullptr ? strrchr(path, '\\') + 1 : path;
    return (int)NumberFromUnix("pgrep -f -n " + ShellQuote(RegexQuote(name)));
}

long StatusKiB(int unixProcessId, const char *field)
{
    return NumberFromUnix("awk '/^" + std::string(field) + ":/ { print $2 }' /proc/"
                          + std::to_string(unixProcessId) + "/status");
}

long ResidentKiB(int unixProcessId)
{
    return StatusKiB(unixProcessId, "VmRSS");
}

long OwnResidentKiB()
{
    int self = OwnUnixProcessId();
    return self > 0 ? ResidentKiB(self) : -1;
}

// The server of a prefix works in a directory named server-DEVICE-INODE
// after the prefix directory.
const char FindWineServer[] =
    "name=$(printf 'server-%x-%x' \"$(stat -c %d \"$WINEPREFIX\")\" \"$(stat -c %i \"$WINEPREFIX\")\")\n"
    "for p in $(pgrep wineserver); do\n"
    "  case \"$(readlink /proc/$p/cwd)\" in\n"
    "    */\"$name\") server=$p ;;\n"
    "  esac\n"
    "done\n"
    "[ -n \"$server\" ] || exit 1\n";

int WineServerDescriptors()
{
    return (int)NumberFromUnix(std::string(FindWineServer)
                               + "find /proc/$server/fd -mindepth 1 ! -lname \"$(readlink -f /bin/sh)\""
                                 " | wc -l");
}

unsigned NextGdiSlot()
{
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 1, 1);
    unsigned slot = std::max(LOWORD((UINT_PTR)dc), LOWORD((UINT_PTR)bitmap));
    DeleteObject(bitmap);
    DeleteDC(dc);
    return slot;
}

// --- Files ------------------------------------------------------------------

std::string JoinDir(const std::string &directory, const std::string &name)
{
    if (!directory.empty() && directory.back() != '\\')
        return directory + "\\" + name;
    return directory + name;
}

std::string ScratchDirectory()
{
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr
        ? std::string(info->test_suite_name()) + "." + info->name() : "outside-test";
    std::replace(name.begin(), name.end(), '/', '_');
    std::string directory = JoinDir(ScratchRoot(), name);
    RemoveTree(Wide(directory));
    CreateDirectoryA(directory.c_str(), nullptr);
    return directory;
}

bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool WriteText(const std::string &path, const std::string &text)
{
    return WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadBytes(const std::string &path)
{
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    DWORD size = GetFileSize(file, nullptr);
    bytes.resize(size);
    DWORD read = 0;
    if (size > 0 && !ReadFile(file, bytes.data(), size, &read, nullptr))
        read = 0;
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

bool FileExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FILETIME LastWriteTime(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

bool RewrittenWithin(const std::string &path, DWORD milliseconds)
{
    FILETIME before = LastWriteTime(path);
    return WaitUntil([&] {
        FILETIME now = LastWriteTime(path);
        return CompareFileTime(&now, &before) != 0;
    }, milliseconds);
}

bool DirectoryExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Wide throughout: a name outside the code page, read through it, names no file.
void RemoveTree(const std::wstring &path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
                RemoveTree(path + L"\\" + found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

HANDLE LockFileExclusively(const std::string &path)
{
    return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

SmallFileSystem::SmallFileSystem(const std::string &directory, const char *size)
{
    CreateDirectoryA(directory.c_str(), nullptr);
    unixDirectory_ = UnixPath(directory);
    std::string output;
    mounted_ = RunUnixCommand("mount -t tmpfs -o size=" + std::string(size) + " tmpfs "
                              + ShellQuote(unixDirectory_), &output) == 0;
    if (mounted_)
        return;
    if (RunningInCi())
        ADD_FAILURE() << "CI must be able to mount a small file system (root is needed): " << output;
    else
        [&] { GTEST_SKIP() << "NOT TESTED: mounting a small file system needs root: " << output; }();
}

SmallFileSystem::~SmallFileSystem()
{
    if (!mounted_)
        return;
    std::string output;
    if (RunUnixCommand("umount " + ShellQuote(unixDirectory_), &output) != 0) {
        ADD_FAILURE() << "the small file system would not unmount: " << output;
        RunUnixCommand("umount -l " + ShellQuote(unixDirectory_));
    }
}

// --- Text -------------------------------------------------------------------

std::string Trimmed(const std::string &text)
{
    size_t end = text.find_last_not_of(" \r\n\t");
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string SystemText(DWORD code)
{
    char *text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                       | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (char *)&text, 0, nullptr);
    std::string result = text != nullptr ? Trimmed(text) : std::string();
    LocalFree(text);
    return result;
}

std::wstring Wide(const std::string &ansi)
{
    int length = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0], length);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

std::string Ansi(const std::wstring &wide)
{
    int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(length > 0 ? length : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &ansi[0], length, nullptr, nullptr);
    ansi.resize(strlen(ansi.c_str()));
    return ansi;
}

// --- Registry -----------------------------------------------------------------

const char SettingsKey[] = "Software\\Quillaby\\Tessmere";
const char DesktopKey[] = "Control Panel\\Desktop";

// With the subkeys a run leaves in it, such as the record of a spanned style.
void DeleteSettingsKey()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, SettingsKey);
}

bool SettingsKeyExists()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void SetRegistryValue(const char *keyName, const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, keyName, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, (const BYTE *)data, size));
    RegCloseKey(key);
}

void SetRegistryDword(const char *key, const char *name, DWORD value)
{
    SetRegistryValue(key, name, REG_DWORD, &value, sizeof value);
}

void SetRegistryString(const char *key, const char *name, const std::string &value)
{
    SetRegistryValue(key, name, REG_SZ, value.c_str(), (DWORD)value.size() + 1);
}

void SetRegistryString(const char *key, const char *name, const std::wstring &value)
{
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, Wide(key).c_str(), Wide(name).c_str(),
                                             REG_SZ, value.c_str(), (DWORD)(value.size() + 1) * 2));
}

void DeleteRegistryValue(const char *keyName, const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyName, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

bool ReadRegistryDword(const char *keyName, const char *name, DWORD &value)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = sizeof value;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, (BYTE *)&value, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value;
}

std::string ReadRegistryString(const char *keyName, const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    char value[MAX_PATH + 1] = "";
    DWORD size = MAX_PATH;
    LONG status = RegQueryValueExA(key, name, nullptr, nullptr, (BYTE *)value, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(value) : "<no value>";
}

int CountRegistryValues(const char *keyName)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    DWORD count = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                     nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return (int)count;
}

DWORD RequestedLogPixels()
{
    DWORD dpi = 0;
    return ReadRegistryDword(DesktopKey, "LogPixels", dpi) ? dpi : 0;
}

// --- Wallpaper --------------------------------------------------------------

// A Wine process keeps the wallpaper it read first, so every look is taken by
// a fresh process.
std::wstring CurrentWallpaperW()
{
    SECURITY_ATTRIBUTES inherit = { sizeof inherit, nullptr, TRUE };
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return L"<no pipe>";
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string commandLine = "\"" + WindowsPath(PROBE_EXE) + "\" wallpaper";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);
    CloseHandle(writeEnd);
    std::string path;
    char buffer[512];
    DWORD read;
    while (started && ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read > 0)
        path.append(buffer, read);
    CloseHandle(readEnd);
    if (!started)
        return L"<probe did not start>";
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::wstring wide(path.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, path.data(), (int)path.size(), &wide[0],
                                    (int)wide.size()));
    return wide;
}

void SetCurrentWallpaper(const std::string &path)
{
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, (void *)path.c_str(), SPIF_SENDWININICHANGE);
}

// KillTimer succeeds only for an armed timer.
bool TimerArmed(HWND window)
{
    return KillTimer(window, 1) != FALSE;
}

// --- Message boxes --------------------------------------------------------

std::string ClassName(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string WindowText(HWND window)
{
    char text[1024] = "";
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000,
                        &result);
    return text;
}

static BOOL CALLBACK FindStaticText(HWND child, LPARAM found)
{
    if (ClassName(child) == "Static") {
        std::string text = WindowText(child);
        if (!text.empty()) {
            *(std::string *)found = text;
            return FALSE;
        }
    }
    return TRUE;
}

struct BoxParts {
    int buttons;
    HICON icon;
};

static BOOL CALLBACK CountBoxParts(HWND child, LPARAM parameter)
{
    BoxParts *parts = (BoxParts *)parameter;
    LONG style = GetWindowLongA(child, GWL_STYLE);
    std::string name = ClassName(child);
    if (name == "Button" && IsWindowVisible(child))
        parts->buttons++;
    if (name == "Static" && (style & SS_TYPEMASK) == SS_ICON) {
        DWORD_PTR icon = 0;
        SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
        parts->icon = (HICON)icon;
    }
    return TRUE;
}

std::string MessageBoxText(HWND window)
{
    std::string text;
    EnumChildWindows(window, FindStaticText, (LPARAM)&text);
    return Trimmed(text);
}

// The settings dialog is a "#32770" window too; it has the minutes field.
bool IsMessageBox(HWND window)
{
    return ClassName(window) == "#32770" && GetDlgItem(window, 1000) == nullptr
        && GetDlgItem(window, IDOK) != nullptr;
}

BoxWatcher::BoxWatcher(DWORD processId) : processId_(processId)
{
    thread_ = std::thread([this] { Run(); });
}

BoxWatcher::~BoxWatcher()
{
    stop_ = true;
    thread_.join();
}

void BoxWatcher::SetProcess(DWORD processId)
{
    processId_ = processId;
}

void BoxWatcher::SetPressing(bool pressing)
{
    pressing_ = pressing;
}

static BOOL CALLBACK CollectOpenBox(HWND window, LPARAM parameter)
{
    auto *query = (std::pair<DWORD, std::vector<HWND>> *)parameter;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == query->first && IsWindowVisible(window) && IsMessageBox(window))
        query->second.push_back(window);
    return TRUE;
}

std::vector<HWND> BoxWatcher::OpenBoxes()
{
    std::pair<DWORD, std::vector<HWND>> query(processId_, {});
    EnumWindows(CollectOpenBox, (LPARAM)&query);
    return query.second;
}

void PressOk(HWND box)
{
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
}

std::vector<SeenBox> BoxWatcher::Seen()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

void BoxWatcher::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.clear();
}

bool BoxWatcher::WaitForCount(size_t count, DWORD timeoutMs)
{
    return WaitUntil([&] { return Seen().size() >= count; }, timeoutMs);
}

void BoxWatcher::Run()
{
    while (!stop_) {
        Check();
        Sleep(25);
    }
}

void BoxWatcher::Check()
{
    handled_.erase(std::remove_if(handled_.begin(), handled_.end(),
                                  [](HWND window) { return !IsWindow(window); }),
                   handled_.end());
    EnumWindows(OnWindow, (LPARAM)this);
}

BOOL CALLBACK BoxWatcher::OnWindow(HWND window, LPARAM self)
{
    BoxWatcher *watcher = (BoxWatcher *)self;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != watcher->processId_ || !IsWindowVisible(window) || !IsMessageBox(window))
        return TRUE;
    if (std::find(watcher->handled_.begin(), watcher->handled_.end(), window)
        != watcher->handled_.end())
        return TRUE;
    BoxParts parts = { 0, nullptr };
    EnumChildWindows(window, CountBoxParts, (LPARAM)&parts);
    SeenBox box = { WindowText(window), MessageBoxText(window), parts.buttons, parts.icon };
    {
        std::lock_guard<std::mutex> lock(watcher->mutex_);
        watcher->seen_.push_back(box);
    }
    watcher->handled_.push_back(window);
    if (watcher->pressing_)
        PressOk(window);
    return TRUE;
}

void PumpMessages(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < milliseconds);
}

// --- Bitmaps and the screen ------------------------------------------------------

uint32_t LittleEndian32(const std::vector<uint8_t> &bytes, size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | (uint32_t)bytes[at + 3] << 24;
}

uint16_t LittleEndian16(const std::vector<uint8_t> &bytes, size_t at)
{
    return (uint16_t)(bytes[at] | bytes[at + 1] << 8);
}

bool ReadBmp24(const std::string &path, Bitmap &bitmap, std::string *why)
{
    auto fail = [&](const std::string &reason) {
        if (why != nullptr)
            *why = reason;
        return false;
    };
    std::vector<uint8_t> bytes = ReadBytes(path);
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M')
        return fail("not a BMP file: " + path);
    uint32_t offset = LittleEndian32(bytes, 10);
    int32_t width = (int32_t)LittleEndian32(bytes, 18);
    int32_t height = (int32_t)LittleEndian32(bytes, 22);
    if (LittleEndian32(bytes, 14) < 40 || LittleEndian16(bytes, 28) != 24
        || LittleEndian32(bytes, 30) != 0)
        return fail("not an uncompressed 24-bit BMP");
    bool bottomUp = height > 0;
    height = height < 0 ? -height : height;
    size_t stride = ((size_t)width * 3 + 3) / 4 * 4;
    if (width <= 0 || offset + stride * height > bytes.size())
        return fail("pixel rows missing");
    bitmap.width = width;
    bitmap.height = height;
    bitmap.pixels.assign((size_t)width * height, 0);
    for (int y = 0; y < height; y++) {
        const uint8_t *row = &bytes[offset + stride * (bottomUp ? height - 1 - y : y)];
        for (int x = 0; x < width; x++)
            bitmap.pixels[(size_t)y * width + x] = row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
    }
    return true;
}

bool WriteBmp24(const std::string &path, int width, int height, uint32_t colour)
{
    size_t stride = ((size_t)width * 3 + 3) / 4 * 4;
    std::vector<uint8_t> bytes(54 + stride * height, 0);
    auto put32 = [&](size_t at, uint32_t value) { memcpy(&bytes[at], &value, 4); };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, (uint32_t)bytes.size());
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    bytes[26] = 1;
    bytes[28] = 24;
    put32(34, (uint32_t)(stride * height));
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            uint8_t *pixel = &bytes[54 + stride * y + 3 * x];
            pixel[0] = colour & 0xFF;
            pixel[1] = (colour >> 8) & 0xFF;
            pixel[2] = (colour >> 16) & 0xFF;
        }
    }
    return WriteBytes(path, bytes);
}

bool ConvertWithImageMagick(const std::string &source, const std::string &bmpTarget)
{
    std::string command = "convert " + ShellQuote(UnixPath(source)) + " -type TrueColor BMP3:"
                        + ShellQuote(UnixPath(bmpTarget));
    return RunUnixCommand(command) == 0 && FileExists(bmpTarget);
}

static uint32_t Big32(const uint8_t *p)
{
    return (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

static bool ReadXwd(const std::string &path, ScreenDump &dump, std::string *why)
{
    auto fail = [&](const std::string &reason) {
        if (why != nullptr)
            *why = reason;
        return false;
    };
    std::vector<uint8_t> bytes = ReadBytes(path);
    if (bytes.size() < 100)
        return fail("no XWD header in " + path);
    uint32_t field[25];
    for (int i = 0; i < 25; i++)
        field[i] = Big32(&bytes[4 * i]);
    uint32_t headerSize = field[0], format = field[2], byteOrder = field[7];
    uint32_t bitsPerPixel = field[11], bytesPerLine = field[12], colours = field[19];
    if (format != 2 || (bitsPerPixel != 24 && bitsPerPixel != 32))
        return fail("not a ZPixmap dump of 24 or 32 bits per pixel");
    dump.width = (int)field[4];
    dump.height = (int)field[5];
    dump.masks[0] = field[14];
    dump.masks[1] = field[15];
    dump.masks[2] = field[16];
    size_t offset = headerSize + 12 * (size_t)colours;
    if (offset + (size_t)bytesPerLine * dump.height > bytes.size())
        return fail("pixel rows missing");
    dump.pixels.resize((size_t)dump.width * dump.height);
    for (int y = 0; y < dump.height; y++) {
        const uint8_t *row = &bytes[offset + (size_t)bytesPerLine * y];
        for (int x = 0; x < dump.width; x++) {
            const uint8_t *p = row + x * bitsPerPixel / 8;
            uint32_t value = 0;
            for (uint32_t b = 0; b < bitsPerPixel / 8; b++) {
                uint32_t byte = byteOrder == 0 ? p[b] : p[bitsPerPixel / 8 - 1 - b];
                value |= byte << (8 * b);
            }
            dump.pixels[(size_t)y * dump.width + x] = value;
        }
    }
    return true;
}

// On a 16-bit screen xwd merges Wine's windows, which use another visual,
// into a broken image: ImageMagick's import reads that screen instead, and its
// colours are cut to the 5, 6 and 5 bits that the screen keeps.
static bool ImportSixteenBitScreen(const std::string &path, ScreenDump &dump, std::string *why)
{
    std::string bmp = path + ".bmp";
    Bitmap imported;
    if (RunUnixCommand("import -window root -type TrueColor BMP3:" + ShellQuote(UnixPath(bmp))) != 0
        || !ReadBmp24(bmp, imported, why)) {
        if (why != nullptr && why->empty())
            *why = "import failed";
        return false;
    }
    dump.width = imported.width;
    dump.height = imported.height;
    dump.masks[0] = 0xF800;
    dump.masks[1] = 0x07E0;
    dump.masks[2] = 0x001F;
    dump.pixels.clear();
    for (uint32_t colour : imported.pixels)
        dump.pixels.push_back((colour >> 19 & 0x1F) << 11 | (colour >> 10 & 0x3F) << 5 | (colour >> 3 & 0x1F));
    return true;
}

bool DumpScreen(const std::string &path, ScreenDump &dump, std::string *why)
{
    HDC screen = GetDC(nullptr);
    int depth = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    if (depth == 16)
        return ImportSixteenBitScreen(path, dump, why);
    if (RunUnixCommand("xwd -root -silent -out " + ShellQuote(UnixPath(path))) != 0) {
        if (why != nullptr)
            *why = "xwd failed";
        return false;
    }
    return ReadXwd(path, dump, why);
}

long PixelsNotShown(const Bitmap &bitmap, const ScreenDump &dump, int left, int top)
{
    long differing = 0;
    for (int y = 0; y < bitmap.height; y++) {
        for (int x = 0; x < bitmap.width; x++)
            differing += !dump.Shows(bitmap.At(x, y), left + x, top + y);
    }
    return differing;
}

bool ScreenDump::Shows(uint32_t colour, int x, int y) const
{
    uint32_t raw = pixels[(size_t)y * width + x];
    for (int channel = 0; channel < 3; channel++) {
        uint32_t mask = masks[channel];
        if (mask == 0)
            return false;
        int shift = 0, bits = 0;
        while (!((mask >> shift) & 1))
            shift++;
        while ((mask >> (shift + bits)) & 1)
            bits++;
        uint32_t screen = (raw & mask) >> shift;
        uint32_t ours = (colour >> (16 - 8 * channel)) & 0xFF;
        if (ours >> (8 - bits) != screen)
            return false;
    }
    return true;
}

// --- Windows the tests paint -----------------------------------------------

PatternWindows::~PatternWindows()
{
    while (!shown_.empty())
        Close(shown_.back().window);
}

HWND PatternWindows::Show(int x, int y, int width, int height, int seed)
{
    char arguments[96];
    snprintf(arguments, sizeof arguments, " pattern %d %d %d %d %d", x, y, width, height, seed);
    std::string commandLine = "\"" + WindowsPath(PROBE_EXE) + "\"" + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    Shown shown = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &shown.process))
        return nullptr;
    WaitForInputIdle(shown.process.hProcess, 5000);
    shown.window = WaitForWindow(shown.process.dwProcessId, "TessmereTestPattern", nullptr);
    shown_.push_back(shown);
    if (shown.window == nullptr) {
        Close(nullptr);
        return nullptr;
    }
    // Let the X server show what was painted before anyone reads the screen.
    PumpMessages(300);
    return shown.window;
}

HWND PatternWindows::ShowInFront(int width, int height, int seed, int x, int y)
{
    HWND window = Show(x, y, width, height, seed);
    EXPECT_TRUE(window != nullptr && BringToFront(window)) << "no pattern window in front";
    return window;
}

void PatternWindows::Repaint(HWND window, int seed)
{
    SetWindowLongPtrA(window, GWLP_USERDATA, seed);
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    PumpMessages(100);
}

void PatternWindows::Close(HWND window)
{
    for (auto shown = shown_.begin(); shown != shown_.end(); ++shown) {
        if (shown->window != window)
            continue;
        if (window == nullptr || !PostMessageA(window, WM_CLOSE, 0, 0)
            || WaitForSingleObject(shown->process.hProcess, 5000) != WAIT_OBJECT_0)
            TerminateProcess(shown->process.hProcess, 1);
        CloseHandle(shown->process.hThread);
        CloseHandle(shown->process.hProcess);
        shown_.erase(shown);
        return;
    }
}

// Focus changes reach Wine from the X server late: a window that has just
// asked to be in front (a dialog with DS_SETFOREGROUND) can take it back after
// another took it. Ask until the window has stayed in front a while.
bool BringToFront(HWND window)
{
    int steady = 0;
    return WaitUntil([&] {
        if (GetForegroundWindow() != window) {
            steady = 0;
            SetForegroundWindow(window);
        }
        return ++steady > 5;
    }, 5000);
}
