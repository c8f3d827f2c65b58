// The settings dialog and the stored-file cycle in the running program,
// driven from outside like a user: controls found by identifier, their text
// read with WM_GETTEXT, buttons pressed, keys sent.
#include "e2e_fixture.h"

#include "resource.h"

#include <commctrl.h>
#include <oleacc.h>
#include <shlobj.h>

#include <set>

class SettingsDialog : public ProgramTest {
protected:
    HWND OpenSettings()
    {
        EXPECT_TRUE(ChooseTrayMenuItem(program, MenuSettings));
        HWND found = nullptr;
        WaitUntil([&] {
            found = FindProcessWindow(program.process.dwProcessId, "#32770", "Tessmere");
            return found != nullptr && IsWindowVisible(found);      // shown once set up
        });
        dialog = found;
        return found;
    }
    bool Checked(int id)
    {
        return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    std::string Text(int id) { return WindowText(GetDlgItem(dialog, id)); }
    void Type(int id, const std::string &text)
    {
        SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, (LPARAM)text.c_str());
    }
    void Press(int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
    bool Closed() { return WaitUntil([&] { return !IsWindow(dialog); }); }
    // The control with the focus, then the tab stops after it until Tab comes round to it again.
    std::vector<int> TabOrder()
    {
        GUITHREADINFO thread = {};
        thread.cbSize = sizeof thread;
        GetGUIThreadInfo(program.process.dwThreadId, &thread);
        std::vector<int> ids;
        for (HWND at = thread.hwndFocus; ids.empty() || (at != thread.hwndFocus && ids.size() < 20);
             at = GetNextDlgTabItem(dialog, at, FALSE))
            ids.push_back(GetDlgCtrlID(at));
        return ids;
    }
    // What a screen reader reads for the minutes field and its up-down, then the seconds'.
    std::wstring Names()
    {
        std::wstring names;
        for (int id : { IDC_MINUTES, IDC_MINUTES_SPIN, IDC_SECONDS, IDC_SECONDS_SPIN }) {
            IAccessible *control = nullptr;
            BSTR name = nullptr;
            VARIANT self = {};
            self.vt = VT_I4;        // CHILDID_SELF
            if (AccessibleObjectFromWindow(GetDlgItem(dialog, id), OBJID_CLIENT, __uuidof(IAccessible),
                                           (void **)&control) == S_OK) {
                control->get_accName(self, &name);
                control->Release();
            }
            names += (id == IDC_MINUTES ? L"" : L", ") + std::wstring(name != nullptr ? name : L"");
            SysFreeString(name);
        }
        return names;
    }
    DWORD Stored(const char *name)
    {
        DWORD value = 0xDEADBEEF;
        ReadRegistryDword(SettingsKey, name, value);
        return value;
    }

    HWND dialog = nullptr;
};

TEST_F(SettingsDialog, ShowsTheCurrentModeAndIntervalInJapanese)
{
    StoreSettings(90061, 2);
    Start();
    ASSERT_NE(nullptr, OpenSettings());
    EXPECT_EQ("Tessmere", WindowText(dialog));
    EXPECT_TRUE(Checked(IDC_MODE_WINDOW));
    EXPECT_FALSE(Checked(IDC_MODE_DESKTOP));
    EXPECT_FALSE(Checked(IDC_MODE_NEWWINDOW));
    EXPECT_FALSE(Checked(IDC_MODE_FILES));
    EXPECT_EQ("1", Text(IDC_MINUTES));
    EXPECT_EQ("30", Text(IDC_SECONDS));
    EXPECT_EQ(Ansi(L"デスクトップを撮影"), Text(IDC_MODE_DESKTOP));
    EXPECT_EQ(Ansi(L"ウインドウを撮影 Part2"), Text(IDC_MODE_NEWWINDOW));
    EXPECT_EQ(Ansi(L"既存ファイルを切り替え"), Text(IDC_MODE_FILES));
    EXPECT_EQ((std::vector<int>{ IDC_MODE_WINDOW, IDC_MINUTES, IDC_SECONDS, IDOK, IDCANCEL }), TabOrder());
    HWND first = GetDlgItem(dialog, IDC_MODE_DESKTOP), last = GetDlgItem(dialog, IDC_MODE_FILES);
    EXPECT_EQ(first, GetNextDlgGroupItem(dialog, last, FALSE)) << "the arrow keys go round the modes";
    EXPECT_EQ(L"更新間隔 (分), 更新間隔 (分), 更新間隔 (秒毎), 更新間隔 (秒毎)", Names());
    for (int id : { IDC_MINUTES, IDC_SECONDS })     // a label right before: Windows stops at tab or group stops
        EXPECT_EQ("Static", ClassName(GetWindow(GetDlgItem(dialog, id), GW_HWNDPREV))) << id;
    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_FALSE(style & WS_SYSMENU) << "no close box";
    EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    Press(IDCANCEL);
    EXPECT_TRUE(Closed());
}

// Run under an English locale (tests/CMakeLists.txt), as by a user outside
// Japan: every label shown, read in template order, is the English one.
TEST_F(SettingsDialog, EnglishTextsOutsideJapan)
{
    Start();
    ASSERT_NE(nullptr, OpenSettings());
    std::vector<std::string> labels;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if ((ClassName(child) == "Button" || ClassName(child) == "Static") && IsWindowVisible(child))
            labels.push_back(WindowText(child));
    }
    std::vector<std::string> expected = {
        "Capture desktop", "Capture window", "Capture new window", "Stored files", "OK", "Cancel",
        "min", "s", "Change wallpaper", "Interval", "1999/07/07 Ver 1.1.1 V.ELLORAN",
    };
    EXPECT_EQ(expected, labels);
    EXPECT_EQ(L"Interval (min), Interval (min), Interval (s), Interval (s)", Names());
    EXPECT_EQ("Tessmere", WindowText(dialog));
    Press(IDCANCEL);
    EXPECT_TRUE(Closed());
}

TEST_F(SettingsDialog, ShowsNegativeStoredValuesAsUnsignedNumbers)
{
    StoreSettings(0x80000000u, 0);
    Start();
    ASSERT_NE(nullptr, OpenSettings());
    EXPECT_EQ("4294931505", Text(IDC_MINUTES));     // -35791
    EXPECT_EQ("4294967273", Text(IDC_SECONDS));     // -23
    Press(IDCANCEL);
}

struct DialogEntry {
    const char *minutes, *seconds;
    int button;
    DWORD timer, mode;
};

class DialogOk : public SettingsDialog, public ::testing::WithParamInterface<DialogEntry> {};

TEST_P(DialogOk, StoresTheChosenIntervalAndMode)
{
    const DialogEntry &entry = GetParam();
    Start();
    ASSERT_NE(nullptr, OpenSettings());
    Press(entry.button);
    Type(IDC_MINUTES, entry.minutes);
    Type(IDC_SECONDS, entry.seconds);
    Press(IDOK);
    ASSERT_TRUE(Closed());
    EXPECT_EQ(entry.timer, Stored("Timer"));
    EXPECT_EQ(entry.mode, Stored("Mode"));
    EXPECT_TRUE(boxes.Seen().empty());
}

INSTANTIATE_TEST_SUITE_P(Entries, DialogOk, ::testing::Values(
    DialogEntry{ "", "30", IDC_MODE_FILES, 30000, 1 },
    DialogEntry{ "2000", "0", IDC_MODE_WINDOW, 120000000, 2 },
    DialogEntry{ "1440", "59", IDC_MODE_NEWWINDOW, 86459000, 3 },
    DialogEntry{ "1", "75", IDC_MODE_WINDOW, 135000, 2 },
    DialogEntry{ "abc", "5", IDC_MODE_DESKTOP, 5000, 0 }));

TEST_F(SettingsDialog, WindowModeChosenWithOkNeverCapturesTheProgramsOwnWindow)
{
    // The hidden main window stays in front after the menu and the dialog.
    StoreSettings(0, 0);
    Start();
    windows.Show(400, 100, 200, 150, 36);
    ASSERT_NE(nullptr, OpenSettings());
    Press(IDC_MODE_WINDOW);
    Type(IDC_SECONDS, "1");
    Press(IDOK);
    ASSERT_TRUE(Closed());
    Bitmap bitmap;
    ASSERT_TRUE(WaitUntil([&] { return ReadBmp24(program.CaptureFile(), bitmap); }));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), bitmap.width);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), bitmap.height);
    EXPECT_EQ(PatternColour(100, 75, 36), bitmap.At(500, 175)) << "the screen, not a black picture";
}

TEST_F(SettingsDialog, ZeroIntervalStopsTimedChanges)
{
    StoreSettings(1000, 0);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return FileExists(program.CaptureFile()); }));
    ASSERT_NE(nullptr, OpenSettings());
    Type(IDC_MINUTES, "0");
    Type(IDC_SECONDS, "0");
    Press(IDOK);
    ASSERT_TRUE(Closed());
    EXPECT_EQ(0u, Stored("Timer"));
    PumpMessages(1500);     // a capture already asked for may still run
    windows.Show(0, 0, 200, 100, 37);       // what a tick would capture
    EXPECT_FALSE(CaptureRewrittenWithin(3500));
}

TEST_F(SettingsDialog, UnknownModeOpensWithNothingCheckedAndIsKept)
{
    StoreSettings(60000, 5);
    Start();
    ASSERT_NE(nullptr, OpenSettings());
    EXPECT_EQ((std::vector<int>{ IDC_MODE_DESKTOP, IDC_MINUTES, IDC_SECONDS, IDOK, IDCANCEL }), TabOrder());
    for (int id : { IDC_MODE_DESKTOP, IDC_MODE_WINDOW, IDC_MODE_NEWWINDOW, IDC_MODE_FILES })
        EXPECT_FALSE(Checked(id)) << id;
    Press(IDOK);
    ASSERT_TRUE(Closed());
    EXPECT_EQ(5u, Stored("Mode"));
    EXPECT_EQ(60000u, Stored("Timer"));
}

TEST_F(SettingsDialog, CancelChangesNothingButKeepsWhatWasDropped)
{
    StoreSettings(90061, 2);
    Start();
    ASSERT_NE(nullptr, OpenSettings());
    // Dropped as the shell drops it, its name wide in memory of the program's own, and
    // copied at once, under that name, which code page 932 cannot spell.
    std::wstring zoe = L"\\Zo\u00eb.bmp", copied = Wide(program.StoreDirectory()) + zoe;
    ASSERT_TRUE(CopyFileW(Wide(userWallpaper).c_str(), (Wide(directory) + zoe).c_str(), FALSE));
    std::wstring names = std::wstring(sizeof(DROPFILES) / 2, L'\0') + Wide(directory) + zoe + L'\0';
    *(DROPFILES *)&names[0] = { sizeof(DROPFILES), {}, FALSE, TRUE };
    HANDLE process = program.process.hProcess;
    void *drop = VirtualAllocEx(process, nullptr, names.size() * 2 + 2, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_TRUE(WriteProcessMemory(process, drop, names.c_str(), names.size() * 2 + 2, nullptr));
    PostMessageA(dialog, WM_DROPFILES, (WPARAM)drop, 0);
    EXPECT_TRUE(WaitUntil([&] { return GetFileAttributesW(copied.c_str()) != INVALID_FILE_ATTRIBUTES; }));
    Press(IDC_MODE_FILES);
    Type(IDC_MINUTES, "9");
    Press(IDCANCEL);
    ASSERT_TRUE(Closed());
    EXPECT_EQ(90061u, Stored("Timer"));
    EXPECT_EQ(2u, Stored("Mode"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(copied.c_str()));
    // The settings in force are unchanged too.
    ASSERT_NE(nullptr, OpenSettings());
    EXPECT_EQ("1", Text(IDC_MINUTES));
    EXPECT_TRUE(Checked(IDC_MODE_WINDOW));
    Press(IDCANCEL);
}

TEST_F(SettingsDialog, EnterActsAsOkAndEscapeAsCancel)
{
    Start();
    ASSERT_NE(nullptr, OpenSettings());
    Type(IDC_SECONDS, "7");
    PressKey(dialog, VK_ESCAPE);
    ASSERT_TRUE(Closed());
    DWORD unused;
    EXPECT_FALSE(ReadRegistryDword(SettingsKey, "Timer", unused));
    ASSERT_NE(nullptr, OpenSettings());
    Type(IDC_MINUTES, "0");
    Type(IDC_SECONDS, "7");
    PressKey(dialog, VK_RETURN);
    ASSERT_TRUE(Closed());
    EXPECT_EQ(7000u, Stored("Timer"));
}

TEST_F(SettingsDialog, ArrowsStopAt1440And59AndDoNotWrap)
{
    Start();
    ASSERT_NE(nullptr, OpenSettings());
    HWND minutes = GetDlgItem(dialog, IDC_MINUTES), seconds = GetDlgItem(dialog, IDC_SECONDS);
    Type(IDC_MINUTES, "1438");
    Type(IDC_SECONDS, "57");
    for (int i = 0; i < 4; i++) {
        PressKey(minutes, VK_UP);
        PressKey(seconds, VK_UP);
    }
    EXPECT_TRUE(WaitUntil([&] { return Text(IDC_MINUTES) == "1440" && Text(IDC_SECONDS) == "59"; }))
        << Text(IDC_MINUTES) << " " << Text(IDC_SECONDS);
    Type(IDC_MINUTES, "1");
    Type(IDC_SECONDS, "1");
    for (int i = 0; i < 3; i++) {
        PressKey(minutes, VK_DOWN);
        PressKey(seconds, VK_DOWN);
    }
    EXPECT_TRUE(WaitUntil([&] { return Text(IDC_MINUTES) == "0" && Text(IDC_SECONDS) == "0"; }))
        << Text(IDC_MINUTES) << " " << Text(IDC_SECONDS);
    Press(IDCANCEL);
}

TEST_F(SettingsDialog, OkAfterStopStartsTimedChangesAgainAndCancelDoesNot)
{
    StoreSettings(1000, 0);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return FileExists(program.CaptureFile()); }));
    ASSERT_TRUE(ChooseTrayMenuItem(program, MenuStop));
    PumpMessages(1500);
    windows.Show(0, 0, 200, 100, 37);       // what a tick would capture
    ASSERT_FALSE(CaptureRewrittenWithin(2500));
    ASSERT_NE(nullptr, OpenSettings());
    Press(IDCANCEL);
    ASSERT_TRUE(Closed());
    EXPECT_FALSE(CaptureRewrittenWithin(2500)) << "CANCEL leaves the timer off";
    ASSERT_NE(nullptr, OpenSettings());
    Press(IDOK);
    ASSERT_TRUE(Closed());
    EXPECT_TRUE(CaptureRewrittenWithin(5000)) << "OK starts it again";
}

TEST_F(SettingsDialog, SecondCopyWhileItIsOpenBringsItForwardAndLeaves)
{
    Start();
    ASSERT_NE(nullptr, OpenSettings());
    HWND front = windows.ShowInFront(50, 50, 1, 10, 10);
    Program second;
    BoxWatcher secondBoxes{ 0 };
    ASSERT_TRUE(LaunchProgram(Wide(JoinDir(directory, "second")), second));
    secondBoxes.SetProcess(second.process.dwProcessId);
    ASSERT_TRUE(secondBoxes.WaitForCount(1));
    EXPECT_EQ("Already exist", secondBoxes.Seen()[0].text);
    DWORD code = STILL_ACTIVE;
    EXPECT_TRUE(WaitForExit(second, 15000, code));
    EXPECT_EQ(0u, code);
    EndProgram(second);
    // The first "Tessmere" window found is in front now, not the test's window.
    HWND now = GetForegroundWindow();
    DWORD owner = 0;
    GetWindowThreadProcessId(now, &owner);
    EXPECT_NE(front, now);
    EXPECT_EQ(program.process.dwProcessId, owner);
    EXPECT_TRUE(IsWindow(dialog));
    Press(IDCANCEL);
}

class StoredFiles : public SettingsDialog {
protected:
    std::string PrepareStore()
    {
        std::string store = JoinDir(JoinDir(directory, "app"), "StoreWallPaper");
        CreateDirectoryA(JoinDir(directory, "app").c_str(), nullptr);
        CreateDirectoryA(store.c_str(), nullptr);
        return store;
    }
};

TEST_F(StoredFiles, EverySecondTheNextStoredFileBecomesTheWallpaper)
{
    std::string store = PrepareStore();
    // "Zoë" is outside code page 932, "夏" inside: both must be set under their own names.
    std::wstring a = Wide(store) + L"\\Zo\u00eb.png", b = Wide(store) + L"\\\u590f.JPG";
    ASSERT_TRUE(CopyFileW(Wide(userWallpaper).c_str(), a.c_str(), FALSE));
    ASSERT_TRUE(WriteBmp24(Ansi(b), 4, 4, 0x0000FF));
    ASSERT_TRUE(WriteText(JoinDir(store, "d.txt"), "not a picture"));
    // Windows 10 takes a PNG; the suites share the prefix, which must keep its default.
    SetRegistryString("Software\\Wine", "Version", "win10");
    StoreSettings(1000, 1);
    Start();
    std::vector<std::wstring> shown;        // four changes go round a store of three files
    WaitUntil([&] {
        std::wstring now = CurrentWallpaperW();     // a test before may have left any picture
        if (now.rfind(Wide(store), 0) == 0 && (shown.empty() || shown.back() != now))
            shown.push_back(now);
        return shown.size() >= 4;
    }, 15000);
    DeleteRegistryValue("Software\\Wine", "Version");
    EXPECT_EQ((std::set<std::wstring>{ a, b }), std::set<std::wstring>(shown.begin(), shown.end()));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(StoredFiles, OneFileIsSetAgainOnlyOnceReplaced)
{
    std::string a = JoinDir(PrepareStore(), "A.bmp"), b = JoinDir(directory, "B.bmp");
    ASSERT_TRUE(WriteBmp24(a, 4, 4, 0xFF0000));
    ASSERT_TRUE(WriteBmp24(b, 4, 4, 0x0000FF));
    // Copied over it as unzip or Explorer copy, a picture of its size that has its time.
    std::string unixA = ShellQuote(UnixPath(a)), unixB = ShellQuote(UnixPath(b));
    std::string copyOver = "touch -r " + unixA + " " + unixB + " && cp -p " + unixB + " " + unixA;
    StoreSettings(1000, 1);
    WatchSets(a);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Sets() > 0; }));
    ASSERT_EQ(0, RunUnixCommand(copyOver));
    EXPECT_TRUE(WaitUntil([&] { return Sets() > 1; }, 2500)) << "replaced before the next tick, it is set";
    PumpMessages(1200);
    long settled = Sets();
    PumpMessages(2500);
    EXPECT_EQ(settled, Sets()) << "ticks of an unchanged store set nothing";
    ASSERT_TRUE(WriteBmp24(a, 4, 4, 0x00FF00));
    EXPECT_TRUE(WaitUntil([&] { return Sets() > settled; }, 2500)) << "a picture written anew is set";
    ASSERT_EQ(0, RunUnixCommand(copyOver));
    EXPECT_TRUE(WaitUntil([&] { return Sets() > settled + 1; }, 2500)) << "and so is one of the same size and time";
    // Held without read sharing, it is opened by the lock and by a failed read
    // a tick, no more: a set would open it once more a tick.
    std::string countOpens = "grep -c ^OPEN " + ShellQuote(UnixPath(opens));
    long before = NumberFromUnix(countOpens);
    HANDLE lock = LockFileExclusively(a);
    PumpMessages(2500);
    EXPECT_GE(before + 4, NumberFromUnix(countOpens)) << "set again at every tick";
    CloseHandle(lock);
    EXPECT_TRUE(boxes.Seen().empty());
}

// A name too long for a path is reported at every step. A choice made while
// the report is open ends the step; without it, the step would go on to find
// the store empty and say so.
TEST_F(StoredFiles, ChoicesMadeWhileAStepIsReportedWin)
{
    std::string tooLong = std::string(240, 'n') + ".bmp";
    ASSERT_EQ(0, RunUnixCommand("touch " + ShellQuote(UnixPath(PrepareStore()) + "/" + tooLong)));
    StoreSettings(3000, 1);
    boxes.SetPressing(false);
    Start();
    PostMessageA(program.window, WM_COMMAND, IDM_SETTINGS, 0);
    ASSERT_NE(nullptr, dialog = WaitForWindow(program.process.dwProcessId, "#32770", "Tessmere"));
    auto reportedAgain = [&](size_t count) {
        return boxes.WaitForCount(count, 5000) && boxes.Seen().back().caption == tooLong;
    };
    ASSERT_TRUE(reportedAgain(1));
    Type(IDC_SECONDS, "1");
    Press(IDOK);                    // in the dialog that was open before the report
    PressOk(boxes.OpenBoxes().at(0));
    EXPECT_TRUE(reportedAgain(2)) << "OK";
    for (WPARAM choice : { IDM_RESTORE, IDM_CAPTURE }) {
        SendMessageA(program.window, WM_COMMAND, choice, 0);
        PressOk(boxes.OpenBoxes().at(0));
        EXPECT_TRUE(reportedAgain(boxes.Seen().size() + 1)) << choice;
    }
    PostMessageA(program.window, WM_COMMAND, IDM_STOP, 0);
    PostMessageA(program.window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(0u, ExitCode());
    EXPECT_EQ(userWallpaper, CurrentWallpaper());
    EXPECT_EQ(4u, boxes.Seen().size()) << "no box once Exit is chosen, SetTimer's least of all";
}

TEST_F(StoredFiles, EmptyStoreIsReportedOnceAndKeepsTheWallpaper)
{
    PrepareStore();
    StoreSettings(1000, 1);
    SetCurrentWallpaper(otherWallpaper);
    Start();
    ASSERT_TRUE(boxes.WaitForCount(1));
    EXPECT_EQ("FindFirstFile", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), boxes.Seen()[0].text);
    PumpMessages(3000);
    EXPECT_EQ(1u, boxes.Seen().size()) << "with no minutes left the timer stops";
    EXPECT_EQ(otherWallpaper, CurrentWallpaper()) << "nothing to show removes nothing";
}
