// Splitting the executable's path, joining the store paths and telling pictures, in code page 932.
#include "tessmere.h"

#include <gtest/gtest.h>

#include <string>

// Double-byte characters whose trail byte is 0x5C, the code of "\".
#define SO "\x83\x5C"          // katakana so
#define HYOU "\x95\x5C"        // kanji hyou, "table"

class CodePage932 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(932u, GetACP()) << "the tests run in code page 932"; }
};

const int NoPicture = AllPictureTypes + 1;

struct SplitCase {
    const char *path, *drive, *directory, *name;
    int firstShownIn;       // the first set of picture types that holds it
};

class PathSplit : public CodePage932, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(PathSplit, GivesDriveDirectoryAndNameWithoutExtensionAndTellsPictures)
{
    const SplitCase &c = GetParam();
    char drive[3] = "?", directory[PathBufferSize] = "?", name[PathBufferSize] = "?";
    ASSERT_TRUE(SplitPath(c.path, drive, directory, name));
    EXPECT_STREQ(c.drive, drive);
    EXPECT_STREQ(c.directory, directory);
    EXPECT_STREQ(c.name, name);
    for (PictureTypes types : { BitmapPictures, BitmapAndJpegPictures, AllPictureTypes })
        EXPECT_EQ(types >= c.firstShownIn, IsPictureName(c.path, types)) << c.path << " in set " << types;
}

INSTANTIATE_TEST_SUITE_P(Table, PathSplit, ::testing::Values(
    SplitCase{ "C:\\Tools\\Tessmere.exe", "C:", "\\Tools\\", "Tessmere", NoPicture },
    SplitCase{ "C:/Tools/Tessmere.exe", "C:", "/Tools/", "Tessmere", NoPicture },
    SplitCase{ "C:\\Tools/bin\\Tessmere.exe", "C:", "\\Tools/bin\\", "Tessmere", NoPicture },
    SplitCase{ "Tessmere.exe", "", "", "Tessmere", NoPicture },
    SplitCase{ "C:Tessmere.exe", "C:", "", "Tessmere", NoPicture },
    SplitCase{ "\\\\server\\share\\Tessmere.exe", "", "\\\\server\\share\\", "Tessmere", NoPicture },
    SplitCase{ "C:\\Tools\\", "C:", "\\Tools\\", "", NoPicture },
    SplitCase{ "C:\\old.bmp\\Tessmere", "C:", "\\old.bmp\\", "Tessmere", NoPicture },
    SplitCase{ "C:\\Tools\\archive.tar.gz", "C:", "\\Tools\\", "archive.tar", NoPicture },
    SplitCase{ "", "", "", "", NoPicture },
    SplitCase{ "C:\\" SO "\\Tessmere.exe", "C:", "\\" SO "\\", "Tessmere", NoPicture },
    SplitCase{ "C:\\" HYOU SO "\\" SO ".exe", "C:", "\\" HYOU SO "\\", SO, NoPicture },
    SplitCase{ "C:\\Tools\\" SO, "C:", "\\Tools\\", SO, NoPicture },
    SplitCase{ "C:\\Store\\Tessmere.bmp", "C:", "\\Store\\", "Tessmere", BitmapPictures },
    SplitCase{ "scan.DIB", "", "", "scan", BitmapPictures },
    SplitCase{ "E:\\DCIM\\IMG_0001.JPG", "E:", "\\DCIM\\", "IMG_0001", BitmapAndJpegPictures },
    SplitCase{ "\\" SO "\\" HYOU ".jpeg", "", "\\" SO "\\", HYOU, BitmapAndJpegPictures },
    SplitCase{ "photo.Jpe", "", "", "photo", BitmapAndJpegPictures },
    SplitCase{ "photo.jfif", "", "", "photo", BitmapAndJpegPictures },
    SplitCase{ "screen.png", "", "", "screen", AllPictureTypes },
    SplitCase{ "anim.GIF", "", "", "anim", AllPictureTypes },
    SplitCase{ "fax.tif", "", "", "fax", AllPictureTypes },
    SplitCase{ "fax.TIFF", "", "", "fax", AllPictureTypes },
    SplitCase{ "phone.heic", "", "", "phone", NoPicture },
    SplitCase{ "photo.jpg.txt", "", "", "photo.jpg", NoPicture },
    SplitCase{ "photo.bmpx", "", "", "photo", NoPicture }));

struct JoinCase {
    const char *drive, *directory, *name, *extension, *expected;
};

class PathJoin : public CodePage932, public ::testing::WithParamInterface<JoinCase> {};

TEST_P(PathJoin, FollowsTheJoiningRule)
{
    const JoinCase &c = GetParam();
    char result[PathBufferSize] = "?";
    ASSERT_TRUE(JoinPath(result, c.drive, c.directory, c.name, c.extension));
    EXPECT_STREQ(c.expected, result);
}

INSTANTIATE_TEST_SUITE_P(Table, PathJoin, ::testing::Values(
    JoinCase{ "C:", "\\Tools\\", "StoreWallPaper", nullptr, "C:\\Tools\\StoreWallPaper" },
    JoinCase{ "C:", "\\Tools", "StoreWallPaper", "", "C:\\Tools\\StoreWallPaper" },
    JoinCase{ nullptr, "C:\\Tools\\StoreWallPaper", "Tessmere", "bmp",
              "C:\\Tools\\StoreWallPaper\\Tessmere.bmp" },
    JoinCase{ nullptr, "C:\\Store", "*", ".bmp", "C:\\Store\\*.bmp" },
    JoinCase{ "", "C:/Tools/", "x", "bmp", "C:/Tools/x.bmp" },
    JoinCase{ "D", "\\", "x", nullptr, "D:\\x" },
    JoinCase{ "", "", "name", "txt", "name.txt" },
    JoinCase{ "C:", "", "name", nullptr, "C:name" },
    JoinCase{ nullptr, "C:\\" SO, "x", nullptr, "C:\\" SO "\\x" },
    JoinCase{ nullptr, "C:\\" SO "\\", "x", nullptr, "C:\\" SO "\\x" }));

class PathLength : public CodePage932 {};

TEST_F(PathLength, JoinFitsExactly259CharactersAndRefusesMore)
{
    char result[PathBufferSize];
    std::string directory(250, 'd');
    ASSERT_TRUE(JoinPath(result, nullptr, directory.c_str(), "12345678", nullptr));
    EXPECT_EQ(259u, strlen(result));
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(JoinPath(result, nullptr, directory.c_str(), "123456789", nullptr));
    EXPECT_STREQ("", result);
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, GetLastError()) << "the reason, for the report";
    EXPECT_TRUE(JoinPath(result, nullptr, directory.c_str(), "1234", "bmp"));
    EXPECT_FALSE(JoinPath(result, nullptr, directory.c_str(), "12345", "bmp"));
    EXPECT_FALSE(JoinPath(result, "C:", directory.c_str(), "1234567", nullptr));
}

class StorePaths : public CodePage932 {};

TEST_F(StorePaths, LieBesideTheExecutable)
{
    ASSERT_TRUE(DeriveStorePaths("C:\\Tools\\Tessmere.exe"));
    EXPECT_STREQ("C:\\Tools\\StoreWallPaper", StoreDirectory);
    EXPECT_STREQ("C:\\Tools\\StoreWallPaper\\Tessmere.bmp", CaptureFilePath);
    EXPECT_STREQ("C:\\Tools\\StoreWallPaper\\*", StorePattern);
}

TEST_F(StorePaths, KeepADoubleByteDirectoryWhole)
{
    ASSERT_TRUE(DeriveStorePaths("C:\\" HYOU "\\" SO "\\Tessmere.exe"));
    EXPECT_STREQ("C:\\" HYOU "\\" SO "\\StoreWallPaper", StoreDirectory);
    EXPECT_STREQ("C:\\" HYOU "\\" SO "\\StoreWallPaper\\Tessmere.bmp", CaptureFilePath);
}

TEST_F(StorePaths, ThatWouldNotFitAreRefusedWithTheReason)
{
    // The executable's path fits; the capture file's path beside it would not.
    std::string module = "C:\\" + std::string(235, 'd') + "\\Tessmere.exe";
    SetLastError(0);
    EXPECT_FALSE(DeriveStorePaths(module.c_str()));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, GetLastError());
    EXPECT_STREQ("", StoreDirectory);
    EXPECT_STREQ("", CaptureFilePath);
    EXPECT_STREQ("", StorePattern);
}
