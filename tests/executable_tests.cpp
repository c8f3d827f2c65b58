// What the built Tessmere.exe is: a GUI program for the build's own machine
// importing only the system's DLLs, with its Japanese and English menus and
// its icons; and what is shipped, read as files.
#include "resource.h"

#include "program.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

class Executable : public ::testing::Test {
protected:
    void SetUp() override
    {
        image = ReadBytes(BuiltExecutable());
        ASSERT_GT(image.size(), 1024u);
        module = LoadLibraryExA(BuiltExecutable().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module);
    }
    void TearDown() override
    {
        if (module != nullptr)
            FreeLibrary(module);
    }
    template <typename T> const T *At(size_t offset) const
    {
        return offset + sizeof(T) <= image.size() ? (const T *)&image[offset] : nullptr;
    }
    // PE32+ widens fields only after DllCharacteristics: the 32-bit form reads both up to there.
    const IMAGE_NT_HEADERS32 *Headers() const
    {
        return At<IMAGE_NT_HEADERS32>(At<IMAGE_DOS_HEADER>(0)->e_lfanew);
    }
    IMAGE_DATA_DIRECTORY Directory(int entry) const
    {
        const IMAGE_NT_HEADERS32 *headers = Headers();
        if (headers->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
            return ((const IMAGE_NT_HEADERS64 *)headers)->OptionalHeader.DataDirectory[entry];
        return headers->OptionalHeader.DataDirectory[entry];
    }
    // File offset of a relative virtual address, through the section table.
    size_t FileOffset(DWORD rva) const
    {
        const IMAGE_NT_HEADERS32 *headers = Headers();
        const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(headers);
        for (int i = 0; i < headers->FileHeader.NumberOfSections; i++, section++) {
            if (rva >= section->VirtualAddress
                && rva < section->VirtualAddress + section->Misc.VirtualSize)
                return rva - section->VirtualAddress + section->PointerToRawData;
        }
        return 0;
    }
    std::vector<std::string> ImportedDlls() const
    {
        std::vector<std::string> names;
        DWORD rva = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress;
        for (size_t at = FileOffset(rva);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const IMAGE_IMPORT_DESCRIPTOR *import = At<IMAGE_IMPORT_DESCRIPTOR>(at);
            if (import == nullptr || import->Name == 0)
                break;
            std::string name = (const char *)&image[FileOffset(import->Name)];
            std::transform(name.begin(), name.end(), name.begin(), ::tolower);
            names.push_back(name);
        }
        return names;
    }

    // The menu that LoadMenu gives this process, which must be the one of the
    // language given, item by item.
    void ExpectTrayMenu(WORD language, const wchar_t *popupText, const wchar_t *const (&texts)[6])
    {
        ASSERT_NE(nullptr, FindResourceExA(module, (LPCSTR)RT_MENU, MAKEINTRESOURCEA(IDR_TRAYMENU),
                                           language));
        HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(IDR_TRAYMENU));
        ASSERT_NE(nullptr, menu);
        wchar_t text[64];
        ASSERT_EQ(1, GetMenuItemCount(menu));
        GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
        EXPECT_STREQ(popupText, text);
        HMENU popup = GetSubMenu(menu, 0);
        // The command numbers are fixed: other programs and the tests send them.
        const UINT ids[6] = { 40002, 40005, 40004, 40006, 40007, 40003 };
        ASSERT_EQ(6, GetMenuItemCount(popup));
        for (int i = 0; i < 6; i++) {
            EXPECT_EQ(ids[i], GetMenuItemID(popup, i));
            GetMenuStringW(popup, i, text, 64, MF_BYPOSITION);
            EXPECT_STREQ(texts[i], text);
        }
        DestroyMenu(menu);
    }

    // A released exe and its installer, for the machine given, read as files.
    void ExpectRelease(const char *exe, const char *setup, WORD machine, size_t mostKiB)
    {
        SCOPED_TRACE(exe);
        image = ReadBytes(WindowsPath(setup));
        ASSERT_GT(image.size(), 1024u) << setup;
        EXPECT_EQ(machine, Headers()->FileHeader.Machine) << setup;
        EXPECT_NE(std::string::npos, std::string(image.begin(), image.end()).find(">true</dpiAware>"))
            << "the installer's manifest does not declare it DPI aware";
        image = ReadBytes(WindowsPath(exe));
        ASSERT_GT(image.size(), 1024u);
        const IMAGE_NT_HEADERS32 *headers = Headers();
        EXPECT_EQ((DWORD)IMAGE_NT_SIGNATURE, headers->Signature);
        EXPECT_EQ(machine, headers->FileHeader.Machine);
        EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, headers->OptionalHeader.Subsystem);
        std::set<std::string> allowed = { "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll",
                                          "shell32.dll", "comctl32.dll", "msvcrt.dll" };
        std::vector<std::string> imports = ImportedDlls();
        ASSERT_FALSE(imports.empty());
        for (const std::string &name : imports)
            EXPECT_TRUE(allowed.count(name)) << "unexpected import " << name;
        EXPECT_TRUE(std::count(imports.begin(), imports.end(), "msvcrt.dll"));
        WORD flags = headers->OptionalHeader.DllCharacteristics;
        EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);
        EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
        EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
        // Address space layout randomisation can move only an image that kept its relocations.
        EXPECT_FALSE(headers->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
        EXPECT_NE(0u, Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size);

        EXPECT_EQ(0u, headers->FileHeader.TimeDateStamp);
        EXPECT_EQ(0u, headers->FileHeader.PointerToSymbolTable);
        EXPECT_EQ(0u, Directory(IMAGE_DIRECTORY_ENTRY_DEBUG).Size);
        const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(headers);
        for (int i = 0; i < headers->FileHeader.NumberOfSections; i++, section++) {
            std::string name((const char *)section->Name, strnlen((const char *)section->Name, 8));
            // GNU ld writes ".debug_info" and its kin as "/4", "/19", ... names from the string table.
            EXPECT_TRUE(name.rfind(".debug", 0) != 0 && name[0] != '/') << "section " << name;
        }
        // This checkout, this build and the toolchain's own build and include folders.
        std::string imageText(image.begin(), image.end());
        for (const char *path : { SOURCE_ROOT, BUILD_ROOT, "/build", "/usr/" })
            EXPECT_EQ(std::string::npos, imageText.find(path)) << path;

        EXPECT_LE(image.size(), mostKiB * 1024);
    }

    std::vector<uint8_t> image;
    HMODULE module = nullptr;
};

TEST_F(Executable, TrayMenuIsJapaneseInTheDesignedOrder)
{
    ExpectTrayMenu(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), L"ファイル",
                   { L"設定", L"撮影", L"復旧", L"停止", L"開く", L"終了" });
}

// Run under an English locale (tests/CMakeLists.txt), where the system's own
// lookup must find the English menu.
TEST_F(Executable, EnglishTrayMenuOutsideJapan)
{
    ExpectTrayMenu(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), L"File",
                   { L"Settings", L"Capture", L"Restore", L"Stop", L"Open", L"Exit" });
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(Executable, IconGroupHoldsSixSizesOf16Colours)
{
    HRSRC found = FindResourceExA(module, (LPCSTR)RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_APP),
                                  MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    ASSERT_NE(nullptr, found);
    const BYTE *group = (const BYTE *)LockResource(LoadResource(module, found));
    WORD count = *(const WORD *)(group + 4);
    ASSERT_EQ(6, count);
    std::set<int> sizes;
    for (int i = 0; i < count; i++) {
        const IconGroupEntry *entry = (const IconGroupEntry *)(group + 6 + 14 * i);
        EXPECT_EQ(entry->width, entry->height);
        EXPECT_EQ(16, entry->colourCount);
        EXPECT_EQ(4, entry->bitCount);
        // The image itself must say 4 bits per pixel too.
        HRSRC image = FindResourceExA(module, (LPCSTR)RT_ICON, MAKEINTRESOURCEA(entry->id),
                                      MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
        ASSERT_NE(nullptr, image);
        const BITMAPINFOHEADER *header = (const BITMAPINFOHEADER *)LockResource(LoadResource(module, image));
        EXPECT_EQ(4, header->biBitCount);
        EXPECT_EQ(entry->width, header->biWidth);
        sizes.insert(entry->width);
    }
    // 16 and 32 at 100 %, 20 and 40 at 125 %, 24 and 48 at 150 % display scale.
    EXPECT_EQ((std::set<int>{ 16, 20, 24, 32, 40, 48 }), sizes);
    HICON large = (HICON)LoadImageA(module, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, 32, 32, 0);
    EXPECT_NE(nullptr, large);
    DestroyIcon(large);
}

// What is released: GUI programs for their machine, importing only the
// system's DLLs and msvcrt.dll (the development build keeps its debug
// information). A 64-bit build makes the 32-bit release too, which may not
// run on this host; the tests are built for the program's own machine.
TEST_F(Executable, ReleaseBuildsAreHardenedSmallAndHoldNoBuildTimeOrPath)
{
    bool wide = sizeof(void *) == 8;
    ExpectRelease(RELEASE_EXE, SETUP_EXE, wide ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386,
                  wide ? 64 : 52);
#ifdef I686_RELEASE_EXE
    ExpectRelease(I686_RELEASE_EXE, I686_SETUP_EXE, IMAGE_FILE_MACHINE_I386, 52);
#endif
}
