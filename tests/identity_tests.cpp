// What Windows reads from Tessmere.exe beside running it: the version
// information that Explorer's properties show, read back through the system's
// own parser.
#include "program.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>

class VersionInfo : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string exe = BuiltExecutable();
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version information";
        data.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, data.data()));
    }
    std::string Text(const std::string &block, const char *name)
    {
        std::string path = "\\StringFileInfo\\" + block + "\\" + name;
        char *value = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(data.data(), path.c_str(), (void **)&value, &length) || value == nullptr)
            return "(missing " + path + ")";
        return value;
    }
    std::wstring WideText(const wchar_t *block, const wchar_t *name)
    {
        std::wstring path = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + name;
        wchar_t *value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data.data(), path.c_str(), (void **)&value, &length) || value == nullptr)
            return L"(missing)";
        return value;
    }

    std::vector<BYTE> data;
};

TEST_F(VersionInfo, FixedPartNamesVersion1_1_1_0OfAWindowsApplication)
{
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", (void **)&fixed, &length));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(MAKELONG(1, 1), (LONG)fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(0, 1), (LONG)fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(1, 1), (LONG)fixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(0, 1), (LONG)fixed->dwProductVersionLS);
    EXPECT_EQ((DWORD)VFT_APP, fixed->dwFileType);
    EXPECT_EQ((DWORD)VOS_NT_WINDOWS32, fixed->dwFileOS);
    EXPECT_EQ(0u, fixed->dwFileFlags & fixed->dwFileFlagsMask) << "no debug or pre-release flag";
}

TEST_F(VersionInfo, TranslationListsExactlyTheEnglishAndTheJapaneseBlock)
{
    WORD *pairs = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", (void **)&pairs, &length));
    ASSERT_EQ(8u, length);
    EXPECT_EQ(0x0409, pairs[0]);
    EXPECT_EQ(1200, pairs[1]);
    EXPECT_EQ(0x0411, pairs[2]);
    EXPECT_EQ(932, pairs[3]);
}

TEST_F(VersionInfo, EveryTranslatedBlockNamesTheProgramItsMakerAndItsAuthor)
{
    for (const char *block : { "040904B0", "041103A4" }) {
        SCOPED_TRACE(block);
        EXPECT_EQ("Tessmere", Text(block, "ProductName"));
        EXPECT_EQ("Quillaby", Text(block, "CompanyName"));
        EXPECT_EQ("Tessmere.exe", Text(block, "OriginalFilename"));
        EXPECT_EQ("1.1.1.0", Text(block, "FileVersion"));
        EXPECT_EQ("1.1.1.0", Text(block, "ProductVersion"));
        EXPECT_NE(std::string::npos, Text(block, "LegalCopyright").find("V.ELLORAN"))
            << Text(block, "LegalCopyright");
    }
}

TEST_F(VersionInfo, DescriptionIsEnglishInTheEnglishBlockAndJapaneseInTheJapaneseOne)
{
    EXPECT_EQ("Tessmere wallpaper changer", Text("040904B0", "FileDescription"));
    EXPECT_EQ(L"Tessmere wallpaper changer", WideText(L"040904B0", L"FileDescription"));
    // The resource script is UTF-8: the stored text must be the four
    // characters themselves, and the ANSI reading their code page 932 bytes.
    EXPECT_EQ(L"\u58c1\u7d19\u5909\u66f4", WideText(L"041103A4", L"FileDescription"));
    EXPECT_EQ(Ansi(L"\u58c1\u7d19\u5909\u66f4"), Text("041103A4", "FileDescription"));
    EXPECT_EQ("\x95\xc7\x8e\x86\x95\xcf\x8d\x58", Text("041103A4", "FileDescription"))
        << "these tests run in code page 932";
}
