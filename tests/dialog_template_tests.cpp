// The settings dialog as the resource in Tessmere.exe describes it.
#include "resource.h"

#include "program.h"
#include "test_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

// Reads a DLGTEMPLATEEX field by field.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE *data) : p(data) {}
    WORD Word() { WORD value = *(const WORD *)p; p += 2; return value; }
    DWORD Dword() { DWORD value = *(const DWORD *)p; p += 4; return value; }
    short Short() { return (short)Word(); }
    BYTE Byte() { return *p++; }
    std::wstring Text()
    {
        std::wstring text;
        for (WORD c = Word(); c != 0; c = Word())
            text += (wchar_t)c;
        return text;
    }
    // A name or an ordinal; ordinals come back as "#n".
    std::wstring NameOrOrdinal()
    {
        WORD first = *(const WORD *)p;
        if (first == 0xFFFF) {
            Word();
            return L"#" + std::to_wstring(Word());
        }
        return Text();
    }
    void AlignToDword() { p = (const BYTE *)(((UINT_PTR)p + 3) & ~(UINT_PTR)3); }

private:
    const BYTE *p;
};

struct ControlCase {
    DWORD id;
    const wchar_t *windowClass;
    const wchar_t *text;
    DWORD style;
    short x, y, cx, cy;
};

static const DWORD Child = WS_CHILD | WS_VISIBLE;
static const DWORD Spin = Child | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS
                        | UDS_NOTHOUSANDS;
static const DWORD Field = Child | ES_RIGHT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;

// In template order, with the identifiers as numbers: outside programs find
// the controls by them.
static const ControlCase Controls[15] = {
    { 1009, L"#128", L"デスクトップを撮影", Child | BS_AUTORADIOBUTTON | WS_GROUP, 8, 16, 70, 10 },
    { 1011, L"#128", L"ウインドウを撮影", Child | BS_AUTORADIOBUTTON, 8, 28, 64, 10 },
    { 1012, L"#128", L"ウインドウを撮影 Part2", Child | BS_AUTORADIOBUTTON, 8, 40, 82, 10 },
    { 1010, L"#128", L"既存ファイルを切り替え", Child | BS_AUTORADIOBUTTON, 8, 52, 84, 10 },
    { 1000, L"#129", L"", Field | WS_GROUP, 8, 80, 32, 14 },
    { 1002, L"msctls_updown32", L"Spin1", Spin, 32, 64, 9, 14 },
    { 1001, L"#129", L"", Field, 48, 80, 32, 14 },
    { 1003, L"msctls_updown32", L"Spin1", Spin, 68, 64, 9, 14 },
    { 1, L"#128", L"OK", Child | BS_DEFPUSHBUTTON | WS_TABSTOP, 4, 104, 44, 16 },
    { 2, L"#128", L"CANCEL", Child | BS_PUSHBUTTON | WS_TABSTOP, 52, 104, 44, 16 },
    { 0xFFFFFFFF, L"#130", L"分", Child | SS_LEFT | WS_GROUP, 40, 84, 8, 8 },
    { 0xFFFFFFFF, L"#130", L"秒毎", Child | SS_LEFT | WS_GROUP, 80, 84, 15, 8 },
    { 0xFFFFFFFF, L"#128", L"壁紙変更", Child | BS_GROUPBOX, 4, 4, 92, 96 },
    { 0xFFFFFFFF, L"#130", L"更新間隔", Child | SS_LEFT | WS_GROUP, 8, 68, 28, 8 },
    { 0xFFFFFFFF, L"#130", L"1999/07/07 Ver 1.1.1 V.ELLORAN",
      Child | SS_CENTER | SS_CENTERIMAGE | WS_GROUP, 4, 124, 92, 8 },
};

class DialogTemplate : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExA(BuiltExecutable().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module);
        HRSRC found = FindResourceExA(module, (LPCSTR)RT_DIALOG, MAKEINTRESOURCEA(IDD_SETTINGS),
                                      MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
        ASSERT_NE(nullptr, found) << "dialog 103 in language 1041";
        data = (const BYTE *)LockResource(LoadResource(module, found));
    }
    void TearDown() override
    {
        if (module != nullptr)
            FreeLibrary(module);
    }
    HMODULE module = nullptr;
    const BYTE *data = nullptr;
};

TEST_F(DialogTemplate, HasTheDesignedFrameFontAndFifteenControls)
{
    TemplateReader reader(data);
    EXPECT_EQ(1, reader.Word()) << "an extended template";
    EXPECT_EQ(0xFFFF, reader.Word());
    EXPECT_EQ(0u, reader.Dword()) << "help identifier";
    EXPECT_EQ((DWORD)WS_EX_ACCEPTFILES, reader.Dword());
    EXPECT_EQ((DWORD)(WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT
                      | DS_SETFOREGROUND | DS_CENTER), reader.Dword())
        << "no WS_SYSMENU: no system menu and no close box";
    EXPECT_EQ(15, reader.Word());
    EXPECT_EQ(0, reader.Short());
    EXPECT_EQ(0, reader.Short());
    EXPECT_EQ(103, reader.Short());
    EXPECT_EQ(133, reader.Short());
    EXPECT_EQ(L"", reader.NameOrOrdinal()) << "menu";
    EXPECT_EQ(L"", reader.NameOrOrdinal()) << "window class";
    EXPECT_EQ(L"", reader.Text()) << "caption";
    EXPECT_EQ(9, reader.Word()) << "points";
    EXPECT_EQ(0, reader.Word()) << "weight";
    EXPECT_EQ(0, reader.Byte()) << "italic";
    EXPECT_EQ(DEFAULT_CHARSET, reader.Byte());
    EXPECT_EQ(L"ＭＳ Ｐゴシック", reader.Text());

    for (const ControlCase &expected : Controls) {
        SCOPED_TRACE(::testing::Message() << "control " << (int)expected.id << " "
                                          << Ansi(expected.text));
        reader.AlignToDword();
        EXPECT_EQ(0u, reader.Dword()) << "help identifier";
        EXPECT_EQ(0u, reader.Dword()) << "extended style";
        EXPECT_EQ(expected.style, reader.Dword());
        EXPECT_EQ(expected.x, reader.Short());
        EXPECT_EQ(expected.y, reader.Short());
        EXPECT_EQ(expected.cx, reader.Short());
        EXPECT_EQ(expected.cy, reader.Short());
        EXPECT_EQ(expected.id, reader.Dword());
        // windres stores a class name in capitals; the dialog manager ignores case.
        std::wstring windowClass = reader.NameOrOrdinal();
        EXPECT_EQ(0, _wcsicmp(expected.windowClass, windowClass.c_str()))
            << Ansi(expected.windowClass) << " / " << Ansi(windowClass);
        EXPECT_EQ(std::wstring(expected.text), reader.NameOrOrdinal());
        EXPECT_EQ(0, reader.Word()) << "creation data";
    }
}
