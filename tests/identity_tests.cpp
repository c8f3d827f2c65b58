// What Windows reads from Tessmere.exe before and beside running it: the
// version information that Explorer's properties show, and the application
// manifest, read back through the system's own parsers.
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
}

class Manifest : public ::testing::Test {
protected:
    void SetUp() override
    {
        exe = BuiltExecutable();
        ACTCTXA request = {};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpSource = exe.c_str();
        request.lpResourceName = MAKEINTRESOURCEA(1);
        context = CreateActCtxA(&request);
        ASSERT_NE(INVALID_HANDLE_VALUE, context) << "manifest 1 not accepted: " << GetLastError();
    }
    void TearDown() override
    {
        if (context != INVALID_HANDLE_VALUE)
            ReleaseActCtx(context);
    }
    std::wstring Setting(const wchar_t *space, const wchar_t *name)
    {
        wchar_t value[256] = L"";
        SIZE_T written = 0;
        if (!QueryActCtxSettingsW(0, context, space, name, value, 256, &written))
            return L"(missing)";
        return value;
    }
    std::vector<BYTE> Query(ULONG infoClass, void *subInstance = nullptr)
    {
        SIZE_T needed = 0;
        QueryActCtxW(0, context, subInstance, infoClass, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed);
        if (needed == 0 || !QueryActCtxW(0, context, subInstance, infoClass, buffer.data(),
                                         needed, &needed))
            buffer.clear();
        return buffer;
    }

    std::string exe;
    HANDLE context = INVALID_HANDLE_VALUE;
};

TEST_F(Manifest, IsResource1OfType24)
{
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    EXPECT_NE(nullptr, found);
    if (found != nullptr) {
        std::string text((const char *)LockResource(LoadResource(module, found)),
                         SizeofResource(module, found));
        EXPECT_EQ(0u, text.find("<?xml")) << text.substr(0, 40);
    }
    FreeLibrary(module);
}

TEST_F(Manifest, AsksToRunAsTheInvokingUser)
{
    std::vector<BYTE> buffer = Query(RunlevelInformationInActivationContext);
    ASSERT_GE(buffer.size(), sizeof(ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION));
    auto *level = (const ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION *)buffer.data();
    EXPECT_EQ(ACTCTX_RUN_LEVEL_AS_INVOKER, level->RunLevel);
    EXPECT_EQ(0u, level->UiAccess);
}

static std::string GuidText(const GUID &id)
{
    char text[40];
    snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id.Data1,
             id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4],
             id.Data4[5], id.Data4[6], id.Data4[7]);
    return text;
}

TEST_F(Manifest, SupportsEveryWindowsFromVistaTo11)
{
    std::vector<BYTE> buffer = Query(CompatibilityInformationInActivationContext);
    ASSERT_GE(buffer.size(), sizeof(DWORD));
    DWORD count = *(const DWORD *)buffer.data();
    ASSERT_EQ(5u, count);
    // Newer systems (Wine too) add a 64-bit tested version to each element,
    // which also aligns the elements to 8 bytes; older ones do not.
    size_t first = sizeof(DWORD), stride = sizeof(COMPATIBILITY_CONTEXT_ELEMENT);
    if (buffer.size() == 8 + 32 * count) {
        first = 8;
        stride = 32;
    }
    ASSERT_EQ(first + stride * count, buffer.size());
    std::set<std::string> seen;
    for (DWORD i = 0; i < count; i++) {
        auto *element = (const COMPATIBILITY_CONTEXT_ELEMENT *)(buffer.data() + first + i * stride);
        EXPECT_EQ(ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS, element->Type);
        seen.insert(GuidText(element->Id));
    }
    std::set<std::string> expected = {
        "{E2011457-1546-43C5-A5FE-008DEEE3D3F0}",   // Vista
        "{35138B9A-5D96-4FBD-8E2D-A2440225F93A}",   // 7
        "{4A2F28E3-53B9-4441-BA9C-D69D4A4A6E38}",   // 8
        "{1F676C76-80E1-4239-95BB-83D0F6D0DA78}",   // 8.1
        "{8E0F7A12-BFB3-4FE8-B9A5-48FD50A15A9A}",   // 10 and 11
    };
    EXPECT_EQ(expected, seen);
}

TEST_F(Manifest, DeclaresPerMonitorDpiAwarenessAndTheUtf8CodePage)
{
    EXPECT_EQ(L"true/pm", Setting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"));
    EXPECT_EQ(L"PerMonitorV2, PerMonitor",
              Setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"));
    EXPECT_EQ(L"UTF-8", Setting(L"http://schemas.microsoft.com/SMI/2019/WindowsSettings", L"activeCodePage"));
}

TEST_F(Manifest, DependsOnCommonControlsVersion6)
{
    std::vector<BYTE> buffer = Query(ActivationContextDetailedInformation);
    ASSERT_GE(buffer.size(), sizeof(ACTIVATION_CONTEXT_DETAILED_INFORMATION));
    DWORD assemblies = ((const ACTIVATION_CONTEXT_DETAILED_INFORMATION *)buffer.data())->ulAssemblyCount;
    std::vector<std::string> identities;
    // Assembly 1 is the program itself; its dependencies follow.
    for (DWORD index = 1; index <= assemblies; index++) {
        std::vector<BYTE> detail = Query(AssemblyDetailedInformationInActivationContext, &index);
        ASSERT_FALSE(detail.empty()) << "assembly " << index;
        auto *assembly = (const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION *)detail.data();
        identities.push_back(Ansi(assembly->lpAssemblyEncodedAssemblyIdentity));
    }
    ASSERT_EQ(2u, identities.size());
    EXPECT_EQ(0u, identities[0].find("Quillaby.Tessmere")) << identities[0];
    const char *machine = sizeof(void *) == 8 ? "amd64" : "x86";
    EXPECT_NE(std::string::npos, identities[0].find("processorArchitecture=\"" + std::string(machine)))
        << identities[0];
    EXPECT_EQ(0u, identities[1].find("Microsoft.Windows.Common-Controls")) << identities[1];
    EXPECT_NE(std::string::npos, identities[1].find("version=\"6.0.")) << identities[1];
}
