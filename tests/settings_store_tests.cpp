// The settings record on the real registry, and the user's own wallpaper.
#include "tessmere.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override { DeleteSettingsKey(); }
    void TearDown() override { DeleteSettingsKey(); }
    SettingsRecord Loaded()
    {
        SettingsRecord settings = { 99, 99, 99 };
        LoadSettings(settings);
        return settings;
    }
    BoxWatcher boxes;
};

TEST_F(SettingsStore, FirstLoadCreatesAnEmptyKeyAndUsesTheDefaults)
{
    SettingsRecord settings = Loaded();
    EXPECT_EQ(5, settings.Minutes);
    EXPECT_EQ(0, settings.Seconds);
    EXPECT_EQ(ModeCaptureDesktop, settings.Mode);
    EXPECT_TRUE(SettingsKeyExists());
    EXPECT_EQ(0, CountRegistryValues(SettingsKey)) << "defaults are never written back";
    // Only a key kept on disk can hold one that is; a volatile key would
    // forget the settings when the session ends.
    HKEY key = nullptr;
    std::string child = std::string(SettingsKey) + "\\lasting";
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, child.c_str(), 0, nullptr,
                                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, child.c_str());
    EXPECT_TRUE(boxes.Seen().empty());
}

struct TimerCase {
    DWORD stored;
    LONG minutes, seconds;
};

class StoredTimer : public SettingsStore, public ::testing::WithParamInterface<TimerCase> {};

TEST_P(StoredTimer, SplitsIntoSignedMinutesAndSeconds)
{
    SetRegistryDword(SettingsKey, "Timer", GetParam().stored);
    SettingsRecord settings = Loaded();
    EXPECT_EQ(GetParam().minutes, settings.Minutes);
    EXPECT_EQ(GetParam().seconds, settings.Seconds);
    EXPECT_EQ(ModeCaptureDesktop, settings.Mode) << "no Mode stored";
}

INSTANTIATE_TEST_SUITE_P(Table, StoredTimer, ::testing::Values(
    TimerCase{ 90061, 1, 30 },
    TimerCase{ 0, 0, 0 },
    TimerCase{ 999, 0, 0 },
    TimerCase{ 86400000, 1440, 0 },
    TimerCase{ 135000, 2, 15 },
    TimerCase{ 0x80000000u, -35791, -23 },
    TimerCase{ 0xFFFFFC18u, 0, -1 }));

TEST_F(SettingsStore, UnknownModeSurvivesALoadAndASave)
{
    SetRegistryDword(SettingsKey, "Mode", 7);
    SettingsRecord settings = Loaded();
    EXPECT_EQ(7, settings.Mode);
    SaveSettings(settings);
    DWORD mode = 0;
    ASSERT_TRUE(ReadRegistryDword(SettingsKey, "Mode", mode));
    EXPECT_EQ(7u, mode);
}

TEST_F(SettingsStore, FourBytesOfAnyTypeAreReadAsANumber)
{
    DWORD timer = 90061, mode = ModeCaptureWindow;
    SetRegistryValue(SettingsKey, "Timer", REG_BINARY, &timer, 4);
    SetRegistryValue(SettingsKey, "Mode", REG_BINARY, &mode, 4);
    SettingsRecord settings = Loaded();
    EXPECT_EQ(1, settings.Minutes);
    EXPECT_EQ(30, settings.Seconds);
    EXPECT_EQ(ModeCaptureWindow, settings.Mode);
    // "abc" with its NUL is four bytes too: 0x00636261 milliseconds.
    SetRegistryValue(SettingsKey, "Timer", REG_SZ, "abc", 4);
    settings = Loaded();
    EXPECT_EQ(0x00636261 / 60000, settings.Minutes);
}

TEST_F(SettingsStore, LongerValuesFallBackToTheDefaults)
{
    unsigned char eight[8] = { 0x8D, 0x5F, 0x01, 0, 0, 0, 0, 0 };
    SetRegistryValue(SettingsKey, "Timer", REG_BINARY, eight, 8);
    SetRegistryValue(SettingsKey, "Mode", REG_BINARY, eight, 6);
    SettingsRecord settings = Loaded();
    EXPECT_EQ(5, settings.Minutes);
    EXPECT_EQ(0, settings.Seconds);
    EXPECT_EQ(ModeCaptureDesktop, settings.Mode);
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(SettingsStore, ShorterValuesAreWidenedWithZeros)
{
    unsigned char two[2] = { 0x10, 0x27 };     // 10000 ms
    unsigned char one[1] = { 3 };
    SetRegistryValue(SettingsKey, "Timer", REG_BINARY, two, 2);
    SetRegistryValue(SettingsKey, "Mode", REG_BINARY, one, 1);
    SettingsRecord settings = Loaded();
    EXPECT_EQ(0, settings.Minutes);
    EXPECT_EQ(10, settings.Seconds);
    EXPECT_EQ(ModeCaptureNewWindow, settings.Mode);
}

struct SaveCase {
    LONG minutes, seconds, mode;
    DWORD timer;
};

class SavedSettings : public SettingsStore, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SavedSettings, StoreTheIntervalInMillisecondsAndTheMode)
{
    const SaveCase &c = GetParam();
    SettingsRecord settings = { c.seconds, c.minutes, c.mode };
    SaveSettings(settings);
    EXPECT_EQ(c.seconds, settings.Seconds) << "a save leaves the record alone";
    EXPECT_EQ(c.minutes, settings.Minutes);
    DWORD timer = 1, mode = 1;
    ASSERT_TRUE(ReadRegistryDword(SettingsKey, "Timer", timer)) << "a REG_DWORD";
    ASSERT_TRUE(ReadRegistryDword(SettingsKey, "Mode", mode)) << "a REG_DWORD";
    EXPECT_EQ(c.timer, timer);
    EXPECT_EQ((DWORD)c.mode, mode);
    EXPECT_EQ(2, CountRegistryValues(SettingsKey));
    EXPECT_TRUE(boxes.Seen().empty());
}

INSTANTIATE_TEST_SUITE_P(Table, SavedSettings, ::testing::Values(
    SaveCase{ 1440, 0, ModeCycleFiles, 86400000 },
    SaveCase{ 1, 75, ModeCaptureWindow, 135000 },
    SaveCase{ 0, 30, ModeCaptureDesktop, 30000 },
    SaveCase{ 2000, 0, ModeCaptureNewWindow, 120000000 },
    SaveCase{ 0, 0, 5, 0 },
    // Beyond the longest timer: the longest whole number of seconds it takes.
    SaveCase{ 71583, 0, 0, 2147483000 },
    SaveCase{ -35791, -23, 0, 2147483000 }));

class SystemWallpaper : public ::testing::Test {
protected:
    void SetUp() override { DeleteRegistryValue(DesktopKey, "Wallpaper"); }
    void TearDown() override { SetRegistryString(DesktopKey, "Wallpaper", ""); }
    std::string Read()
    {
        char buffer[PathBufferSize + 16];
        memset(buffer, 'x', sizeof buffer);
        ReadSystemWallpaper(buffer);
        EXPECT_EQ('x', buffer[PathBufferSize]) << "written past the buffer";
        return std::string(buffer, strnlen(buffer, PathBufferSize));
    }
    BoxWatcher boxes;
};

TEST_F(SystemWallpaper, IsReadAsStored)
{
    SetRegistryString(DesktopKey, "Wallpaper", "C:\\Pictures\\beach.bmp");
    EXPECT_EQ("C:\\Pictures\\beach.bmp", Read());
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(SystemWallpaper, MissingValueIsReportedWithItsRealReason)
{
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ("", Read());
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ("RegQueryValueEx", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), boxes.Seen()[0].text);
}

TEST_F(SystemWallpaper, Of259BytesFitsAndLongerIsRefused)
{
    std::string fits = "C:\\" + std::string(252, 'w') + ".bmp";
    ASSERT_EQ(259u, fits.size());
    SetRegistryString(DesktopKey, "Wallpaper", fits);
    EXPECT_EQ(fits, Read());
    EXPECT_TRUE(boxes.Seen().empty());

    SetRegistryString(DesktopKey, "Wallpaper", fits + "p");
    EXPECT_EQ("", Read());
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ("RegQueryValueEx", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_MORE_DATA), boxes.Seen()[0].text);
}

TEST_F(SystemWallpaper, DoubleBytePathsKeepTheirBytes)
{
    ASSERT_EQ(932u, GetACP());
    // "C:\壁紙\ソフト.bmp" ...
    std::string path = Ansi(L"C:\\\u58c1\u7d19\\\u30bd\u30d5\u30c8.bmp");
    SetRegistryString(DesktopKey, "Wallpaper", path);
    EXPECT_EQ(path, Read());
    // ... and one of 259 characters, nearly all double-byte: 511 bytes.
    std::string longPath = "C:\\";
    for (int i = 0; i < 252; i++)
        longPath += "\x95\x5C";
    SetRegistryString(DesktopKey, "Wallpaper", longPath + ".bmp");
    EXPECT_EQ(longPath + ".bmp", Read());
    EXPECT_TRUE(boxes.Seen().empty());
    SetRegistryString(DesktopKey, "Wallpaper", longPath + "\x95\x5C.bmp");
    EXPECT_EQ("", Read()) << "260 characters";
}

TEST_F(SystemWallpaper, ExpandableValueIsTakenUnexpanded)
{
    const char text[] = "%SystemRoot%\\web.bmp";
    SetRegistryValue(DesktopKey, "Wallpaper", REG_EXPAND_SZ, text, sizeof text);
    EXPECT_EQ(text, Read());
}

TEST_F(SystemWallpaper, ValueWithoutItsNulIsStillTerminated)
{
    SetRegistryValue(DesktopKey, "Wallpaper", REG_BINARY, "C:\\x.bmp", 8);
    EXPECT_EQ("C:\\x.bmp", Read());
    std::string full(MAX_PATH, 'y');
    SetRegistryValue(DesktopKey, "Wallpaper", REG_BINARY, full.data(), MAX_PATH);
    EXPECT_EQ("", Read()) << "a path that fills the whole buffer would be cut";
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ("RegQueryValueEx", boxes.Seen()[0].caption);
}
