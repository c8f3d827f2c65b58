// Files dropped on the settings dialog, with a drop handle built in the
// dialog's own process the way the shell builds it.
#include "tessmere.h"

#include "test_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstring>
#include <functional>
#include <thread>

class DropImport : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls = { sizeof controls, ICC_UPDOWN_CLASS };
        InitCommonControlsEx(&controls);
        AppInstance = GetModuleHandleA(nullptr);
        saved = ChangeSettings;
        ChangeSettings = { 15, 3, ModeCaptureWindow };
        DeleteSettingsKey();
        directory = ScratchDirectory();
        sources = JoinDir(directory, "sources");
        CreateDirectoryA(sources.c_str(), nullptr);
        ASSERT_TRUE(DeriveStorePaths(JoinDir(directory, "Tessmere.exe").c_str()));
        store = StoreDirectory;
        CreateDirectoryA(store.c_str(), nullptr);
    }
    void TearDown() override
    {
        CloseStoreSearch();
        ChangeSettings = saved;
        DeleteSettingsKey();
    }
    std::wstring Source(const std::wstring &name, const std::string &content)
    {
        std::wstring path = Wide(sources) + L"\\" + name;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written;
        WriteFile(file, content.data(), (DWORD)content.size(), &written, nullptr);
        CloseHandle(file);
        return path;
    }
    std::string InStore(const std::wstring &name)
    {
        std::vector<uint8_t> bytes = ReadBytes(JoinDir(store, Ansi(name)));
        return std::string(bytes.begin(), bytes.end());
    }
    // Runs the dialog as the program does while another thread acts on it
    // like the shell and the user; returns what DialogBoxParamA returned.
    INT_PTR RunDialog(const std::function<void(HWND)> &act)
    {
        DWORD dialogThread = GetCurrentThreadId();
        std::thread user([&] {
            HWND dialog = nullptr;
            bool found = WaitUntil([&] {
                dialog = FindWindowA("#32770", "Tessmere");
                return dialog != nullptr && GetDlgItem(dialog, IDC_MINUTES) != nullptr;
            });
            if (!found) {
                // A quit message ends any modal loop, the dialog's included.
                ADD_FAILURE() << "the settings dialog did not appear";
                PostThreadMessageA(dialogThread, WM_QUIT, 0, 0);
                return;
            }
            act(dialog);
            SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        });
        INT_PTR result = DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_SETTINGS), nullptr,
                                         SettingsDialogProc, 0);
        user.join();
        return result;
    }
    // A drop handle as the shell makes it: DROPFILES followed by wide names.
    static HDROP MakeDrop(const std::vector<std::wstring> &paths)
    {
        size_t characters = 1;
        for (const std::wstring &path : paths)
            characters += path.size() + 1;
        HGLOBAL memory = GlobalAlloc(GHND | GMEM_SHARE, sizeof(DROPFILES) + characters * sizeof(WCHAR));
        DROPFILES *drop = (DROPFILES *)GlobalLock(memory);
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        WCHAR *names = (WCHAR *)(drop + 1);
        for (const std::wstring &path : paths) {
            memcpy(names, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
            names += path.size() + 1;
        }
        *names = L'\0';
        GlobalUnlock(memory);
        return (HDROP)memory;
    }
    void Drop(const std::vector<std::wstring> &paths)
    {
        RunDialog([&](HWND dialog) {
            SendMessageA(dialog, WM_DROPFILES, (WPARAM)MakeDrop(paths), 0);
        });
    }

    SettingsRecord saved;
    std::string directory, sources, store;
    BoxWatcher boxes;
};

TEST_F(DropImport, CopiesTheFilesThatExistAndReportsTheOneThatDoesNot)
{
    std::wstring first = Source(L"first.bmp", "one");
    std::wstring missing = Wide(sources) + L"\\missing.bmp";
    std::wstring third = Source(L"third.bmp", "three");
    Drop({ first, missing, third });
    EXPECT_EQ("one", InStore(L"first.bmp"));
    EXPECT_EQ("three", InStore(L"third.bmp"));
    EXPECT_FALSE(FileExists(JoinDir(store, "missing.bmp")));
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ(Ansi(missing), boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), boxes.Seen()[0].text);
}

TEST_F(DropImport, JapaneseNamesRoundTripThroughTheCodePage)
{
    ASSERT_EQ(932u, GetACP());
    std::wstring name = L"\u58c1\u7d19\u30bd\u30d5\u30c8.bmp";       // "壁紙ソフト.bmp"
    Drop({ Source(name, "japanese") });
    EXPECT_EQ("japanese", InStore(name));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(DropImport, NameAlreadyInTheStoreIsReplaced)
{
    ASSERT_TRUE(WriteText(JoinDir(store, "same.bmp"), "old"));
    ASSERT_TRUE(WriteText(JoinDir(store, "Tessmere.bmp"), "old capture"));
    Drop({ Source(L"same.bmp", "new"), Source(L"Tessmere.bmp", "dropped capture") });
    EXPECT_EQ("new", InStore(L"same.bmp"));
    EXPECT_EQ("dropped capture", InStore(L"Tessmere.bmp"));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(DropImport, FolderIsReportedWithItsPathAndNotCopied)
{
    std::string folder = JoinDir(sources, "album.bmp");
    CreateDirectoryA(folder.c_str(), nullptr);
    Drop({ Wide(folder), Source(L"after.bmp", "after") });
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ(folder, boxes.Seen()[0].caption);
    EXPECT_FALSE(boxes.Seen()[0].text.empty());
    EXPECT_FALSE(DirectoryExists(JoinDir(store, "album.bmp")));
    EXPECT_EQ("after", InStore(L"after.bmp"));
}

TEST_F(DropImport, AFileOfAnyTypeIsCopied)
{
    Drop({ Source(L"notes.txt", "words") });
    EXPECT_EQ("words", InStore(L"notes.txt"));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(DropImport, CancelKeepsTheCopiedFilesAndTheSettings)
{
    SettingsRecord before = ChangeSettings;
    INT_PTR result = RunDialog([&](HWND dialog) {
        SendMessageA(dialog, WM_DROPFILES, (WPARAM)MakeDrop({ Source(L"kept.bmp", "kept") }), 0);
        SetDlgItemTextA(dialog, IDC_MINUTES, "44");
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ("kept", InStore(L"kept.bmp"));
    EXPECT_EQ(before.Minutes, ChangeSettings.Minutes);
    EXPECT_EQ(before.Seconds, ChangeSettings.Seconds);
    EXPECT_EQ(before.Mode, ChangeSettings.Mode);
    EXPECT_FALSE(SettingsKeyExists());
}

TEST_F(DropImport, PathOf260CharactersOrMoreIsSkippedWithTheReason)
{
    // Mostly double-byte characters, so far more bytes than characters.
    std::wstring folder = Wide(sources) + L"\\";
    std::wstring longPath = folder + std::wstring(256 - folder.size(), L'\u8868') + L".bmp";
    Drop({ longPath, Source(L"short.bmp", "short") });
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ("Tessmere", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_FILENAME_EXCED_RANGE), boxes.Seen()[0].text);
    EXPECT_EQ("short", InStore(L"short.bmp"));
}

TEST_F(DropImport, DestinationThatWouldNotFitIsSkippedWithTheReason)
{
    // The store's paths fit; the dropped file's path in it would not.
    ASSERT_TRUE(DeriveStorePaths(("C:\\" + std::string(220, 's') + "\\Tessmere.exe").c_str()));
    std::wstring source = Source(L"a-rather-long-name.bmp", "x");
    Drop({ source });
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ(Ansi(source), boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_FILENAME_EXCED_RANGE), boxes.Seen()[0].text);
}

TEST_F(DropImport, MissingStoreDirectoryIsReportedAndNotCreated)
{
    std::string gone = JoinDir(directory, "gone");
    ASSERT_TRUE(DeriveStorePaths(JoinDir(gone, "Tessmere.exe").c_str()));
    std::wstring source = Source(L"orphan.bmp", "x");
    Drop({ source });
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ(Ansi(source), boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_PATH_NOT_FOUND), boxes.Seen()[0].text);
    EXPECT_FALSE(DirectoryExists(gone));
}
