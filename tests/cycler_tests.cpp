// Stepping through the pictures of a real store directory.
#include "tessmere.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

class StoreCycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = ChangeSettings;
        CloseStoreSearch();
        CycledFilePath[0] = '\0';
        ASSERT_TRUE(DeriveStorePaths(JoinDir(ScratchDirectory(), "Tessmere.exe").c_str()));
        store = StoreDirectory;
        CreateDirectoryA(store.c_str(), nullptr);
        window = CreateWindowA("STATIC", "cycler test", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    }
    void TearDown() override
    {
        CloseStoreSearch();
        DestroyWindow(window);
        ChangeSettings = saved;
    }
    std::string Add(const std::string &name)
    {
        std::string path = JoinDir(store, name);
        EXPECT_TRUE(WriteBmp24(path, 2, 2, 0x808080));
        return path;
    }
    // The order in which the file system lists the store's BMP files.
    std::vector<std::string> Listing()
    {
        std::vector<std::string> paths;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(JoinDir(store, "*.bmp").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return paths;
        do
            paths.push_back(JoinDir(store, found.cFileName));
        while (FindNextFileA(search, &found));
        FindClose(search);
        return paths;
    }
    std::vector<std::string> Steps(int count)
    {
        std::vector<std::string> paths;
        for (int i = 0; i < count; i++)
            paths.push_back(NextStoredFile(window));
        return paths;
    }

    SettingsRecord saved;
    std::string store;
    HWND window = nullptr;
    BoxWatcher boxes;
};

TEST_F(StoreCycle, TwoFilesAlternateInTheListingOrder)
{
    Add("A.bmp");
    Add("B.bmp");
    std::vector<std::string> order = Listing();
    ASSERT_EQ(2u, order.size());
    EXPECT_EQ((std::vector<std::string>{ order[0], order[1], order[0], order[1], order[0] }), Steps(5));
    EXPECT_STREQ(order[0].c_str(), CycledFilePath);
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(StoreCycle, OneFileComesEveryTime)
{
    std::string only = Add("only.jpg");
    EXPECT_EQ((std::vector<std::string>{ only, only, only }), Steps(3));
    EXPECT_TRUE(boxes.Seen().empty()) << "Windows 7, a new prefix's, takes JPEG";
}

TEST_F(StoreCycle, TheCaptureFileTakesPartButOtherFilesDoNot)
{
    Add("A.bmp");
    ASSERT_TRUE(WriteText(JoinDir(store, "notes.txt"), "not a picture"));
    ASSERT_TRUE(CaptureToFile(ModeCaptureDesktop));
    std::vector<std::string> order = Listing();
    ASSERT_EQ(2u, order.size());
    std::vector<std::string> steps = Steps(4);
    EXPECT_NE(steps.end(), std::find(steps.begin(), steps.end(), std::string(CaptureFilePath)));
    for (const std::string &path : steps)
        EXPECT_EQ(std::string::npos, path.find("notes.txt"));
}

TEST_F(StoreCycle, FoldersNamedLikePicturesAreSkippedSilently)
{
    ASSERT_TRUE(CreateDirectoryA(JoinDir(store, "folder.bmp").c_str(), nullptr));
    std::string only = Add("only.bmp");
    EXPECT_EQ((std::vector<std::string>{ only, only, only }), Steps(3));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(StoreCycle, DoubleByteNamesArriveWhole)
{
    std::string name = Ansi(L"\u58c1\u7d19\u30bd.bmp");        // "壁紙ソ.bmp"
    std::string path = Add(name);
    EXPECT_EQ(path, NextStoredFile(window));
}

TEST_F(StoreCycle, FilesAddedLaterAreFoundWhenTheListingStartsAgain)
{
    std::string first = Add("A.bmp");
    EXPECT_EQ(first, NextStoredFile(window));
    std::string later = Add("B.bmp");
    std::vector<std::string> steps = Steps(3);
    EXPECT_NE(steps.end(), std::find(steps.begin(), steps.end(), later));
}

TEST_F(StoreCycle, EmptyStoreWithSecondsOnlyStopsTheTimer)
{
    ChangeSettings.Minutes = 0;
    ChangeSettings.Seconds = 30;
    ScheduleChangeTimer(window, false);
    EXPECT_STREQ("", NextStoredFile(window));
    EXPECT_EQ(0, ChangeSettings.Seconds);
    EXPECT_EQ(0, ChangeSettings.Minutes);
    EXPECT_FALSE(TimerArmed(window));
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ("FindFirstFile", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), boxes.Seen()[0].text);
}

TEST_F(StoreCycle, EmptyStoreWithMinutesKeepsTheTimerOnTheMinutes)
{
    ChangeSettings.Minutes = 2;
    ChangeSettings.Seconds = 30;
    NextStoredFile(window);
    EXPECT_EQ(0, ChangeSettings.Seconds);
    EXPECT_EQ(2, ChangeSettings.Minutes);
    EXPECT_TRUE(TimerArmed(window));
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), boxes.Seen()[0].text);
}

TEST_F(StoreCycle, MissingStoreIsReportedWithItsReason)
{
    ChangeSettings.Minutes = 0;
    ChangeSettings.Seconds = 5;
    ASSERT_TRUE(DeriveStorePaths(JoinDir(JoinDir(store, "gone"), "Tessmere.exe").c_str()));
    NextStoredFile(window);
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ("FindFirstFile", boxes.Seen()[0].caption);
    // The search's own reason, not the one that disarming the timer, which
    // was not armed, left behind.
    EXPECT_EQ(SystemText(ERROR_PATH_NOT_FOUND), boxes.Seen()[0].text);
    EXPECT_FALSE(TimerArmed(window));
}

TEST_F(StoreCycle, StoreEmptiedLaterGivesNothingToShow)
{
    ChangeSettings.Minutes = 1;
    ChangeSettings.Seconds = 0;
    std::string only = Add("only.bmp");
    EXPECT_EQ(only, NextStoredFile(window));
    ASSERT_TRUE(DeleteFileA(only.c_str()));
    EXPECT_STREQ("", NextStoredFile(window)) << "the file cycled last is gone";
    EXPECT_EQ(1u, boxes.Seen().size());
}

TEST_F(StoreCycle, NamesTooLongForAPathAndFoldersAloneMakeAnEmptyStore)
{
    // Made from the Unix side: such a path is beyond what the ANSI calls take.
    std::string longName = std::string(240, 'n') + ".bmp";
    ASSERT_EQ(0, RunUnixCommand("touch " + ShellQuote(UnixPath(store) + "/" + longName)));
    ASSERT_TRUE(CreateDirectoryA(JoinDir(store, "folder.bmp").c_str(), nullptr));
    ChangeSettings.Minutes = 1;
    ChangeSettings.Seconds = 30;
    lstrcpyA(CycledFilePath, JoinDir(store, "cycled before.bmp").c_str());
    EXPECT_STREQ("", NextStoredFile(window)) << "after a Restore, a stale file would come back";
    EXPECT_EQ(0, ChangeSettings.Seconds);
    ASSERT_EQ(2u, boxes.Seen().size());
    EXPECT_EQ(longName, boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_FILENAME_EXCED_RANGE), boxes.Seen()[0].text);
    EXPECT_EQ("FindFirstFile", boxes.Seen()[1].caption);
    std::string first = Add("A.bmp");
    EXPECT_EQ((std::vector<std::string>{ first, first }), Steps(2));
}
