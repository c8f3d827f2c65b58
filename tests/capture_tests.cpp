// Screen capture to a BMP file, against the real screen, X's own tools and
// ImageMagick.
#include "tessmere.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <set>

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = ScratchDirectory();
        captureFile = JoinDir(directory, "Tessmere.bmp");
        lstrcpyA(CaptureFilePath, captureFile.c_str());
    }
    // A capture that failed said why in a box, which the watcher has closed.
    void TearDown() override
    {
        if (HasFailure()) {
            for (const SeenBox &box : boxes.Seen())
                printf("message box %s: %s\n", box.caption.c_str(), box.text.c_str());
        }
    }

    std::string directory;
    std::string captureFile;
    PatternWindows windows;
    BoxWatcher boxes;
};

// Every field of both headers, as the published BMP layout places them.
static void ExpectHeaders(const std::vector<uint8_t> &bytes, int width, int height, uint32_t imageSize)
{
    ASSERT_GE(bytes.size(), 54u);
    EXPECT_EQ('B', bytes[0]);
    EXPECT_EQ('M', bytes[1]);
    EXPECT_EQ(54 + imageSize, LittleEndian32(bytes, 2)) << "bfSize";
    EXPECT_EQ(0, LittleEndian16(bytes, 6));
    EXPECT_EQ(0, LittleEndian16(bytes, 8));
    EXPECT_EQ(54u, LittleEndian32(bytes, 10)) << "bfOffBits";
    EXPECT_EQ(40u, LittleEndian32(bytes, 14)) << "biSize";
    EXPECT_EQ((uint32_t)width, LittleEndian32(bytes, 18));
    EXPECT_EQ((uint32_t)height, LittleEndian32(bytes, 22));
    EXPECT_EQ(1, LittleEndian16(bytes, 26)) << "biPlanes";
    EXPECT_EQ(24, LittleEndian16(bytes, 28)) << "biBitCount";
    EXPECT_EQ(0u, LittleEndian32(bytes, 30)) << "biCompression";
    EXPECT_EQ(imageSize, LittleEndian32(bytes, 34)) << "biSizeImage";
    for (size_t at = 38; at < 54; at += 4)
        EXPECT_EQ(0u, LittleEndian32(bytes, at)) << "field at " << at;
    EXPECT_EQ(LittleEndian32(bytes, 2), bytes.size()) << "bfSize is the file's length";
}

struct SizeCase {
    int width, height;
    uint32_t stride, fileSize;
};

class CaptureSize : public CaptureTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(CaptureSize, OfTheForegroundClientAreaHasPaddedRowsAndThePaintedPixels)
{
    const SizeCase &c = GetParam();
    windows.ShowInFront(c.width, c.height, 3);
    ASSERT_TRUE(CaptureToFile(ModeCaptureWindow));
    std::vector<uint8_t> bytes = ReadBytes(captureFile);
    EXPECT_EQ(c.fileSize, bytes.size());
    ExpectHeaders(bytes, c.width, c.height, c.stride * c.height);
    Bitmap bitmap;
    ASSERT_TRUE(ReadBmp24(captureFile, bitmap));
    int wrong = 0;
    for (int y = 0; y < c.height; y++)
        for (int x = 0; x < c.width; x++)
            wrong += bitmap.At(x, y) != PatternColour(x, y, 3);
    EXPECT_EQ(0, wrong) << "pixels that differ from the painted pattern";
    EXPECT_TRUE(boxes.Seen().empty());
}

INSTANTIATE_TEST_SUITE_P(WorkedTable, CaptureSize, ::testing::Values(
    SizeCase{ 1, 1, 4, 58 },
    SizeCase{ 4, 1, 12, 66 },
    SizeCase{ 5, 1, 16, 70 },
    SizeCase{ 1023, 768, 3072, 2359350 },
    SizeCase{ 1024, 768, 3072, 2359350 }));

class CaptureModes : public CaptureTest {};

TEST_F(CaptureModes, EmptyClientAreaIsReportedAsABitmapThatCannotBeMade)
{
    // Wine refuses a DIB section of width or height 0 without a reason; the
    // report then names the invalid parameter rather than an unrelated code.
    for (SIZE size : { SIZE{ 0, 100 }, SIZE{ 100, 0 } }) {
        boxes.Clear();
        windows.ShowInFront(size.cx, size.cy, 4);
        RECT client;
        GetClientRect(GetForegroundWindow(), &client);
        ASSERT_EQ(size.cx, client.right);
        ASSERT_EQ(size.cy, client.bottom);
        SetLastError(ERROR_ALREADY_EXISTS);
        EXPECT_FALSE(CaptureToFile(ModeCaptureWindow));
        ASSERT_EQ(1u, boxes.Seen().size());
        EXPECT_EQ("CreateDIBSection", boxes.Seen()[0].caption);
        EXPECT_EQ(SystemText(ERROR_INVALID_PARAMETER), boxes.Seen()[0].text);
        EXPECT_FALSE(FileExists(captureFile));
    }
}

TEST_F(CaptureModes, NewWindowModeSkipsTheWindowCapturedLast)
{
    HWND window = windows.ShowInFront(40, 30, 5);
    ASSERT_TRUE(CaptureToFile(ModeCaptureWindow));
    std::vector<uint8_t> first = ReadBytes(captureFile);
    FILETIME written = LastWriteTime(captureFile);
    Sleep(20);
    // All modes share the last captured window: mode 3 now finds nothing new.
    EXPECT_FALSE(CaptureToFile(ModeCaptureNewWindow));
    EXPECT_EQ(first, ReadBytes(captureFile));
    FILETIME after = LastWriteTime(captureFile);
    EXPECT_EQ(0, CompareFileTime(&written, &after));
    // Mode 2 takes the same window again and rewrites the file.
    windows.Repaint(window, 6);
    ASSERT_TRUE(CaptureToFile(ModeCaptureWindow));
    Bitmap bitmap;
    ASSERT_TRUE(ReadBmp24(captureFile, bitmap));
    EXPECT_EQ(PatternColour(7, 7, 6), bitmap.At(7, 7));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(CaptureModes, NewWindowModeTakesAWindowAfterADesktopCapture)
{
    windows.ShowInFront(64, 48, 7);
    ASSERT_TRUE(CaptureToFile(ModeCaptureDesktop));
    Bitmap bitmap;
    ASSERT_TRUE(ReadBmp24(captureFile, bitmap));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), bitmap.width);
    ASSERT_TRUE(CaptureToFile(ModeCaptureNewWindow));
    ASSERT_TRUE(ReadBmp24(captureFile, bitmap));
    EXPECT_EQ(64, bitmap.width);
    EXPECT_EQ(48, bitmap.height);
    EXPECT_FALSE(CaptureToFile(ModeCaptureNewWindow));
    // Another window in front is new again.
    windows.ShowInFront(32, 16, 8);
    ASSERT_TRUE(CaptureToFile(ModeCaptureNewWindow));
    ASSERT_TRUE(ReadBmp24(captureFile, bitmap));
    EXPECT_EQ(32, bitmap.width);
}

TEST_F(CaptureModes, WithNothingInFrontTheDesktopIsCaptured)
{
    // Wine names the desktop window, or no window, as the foreground window
    // when none of the test's windows is in front.
    windows.Close(windows.ShowInFront(30, 20, 10));
    PumpMessages(200);
    HWND front = GetForegroundWindow();
    ASSERT_TRUE(front == nullptr || front == GetDesktopWindow()) << "another window is in front";
    ASSERT_TRUE(CaptureToFile(ModeCaptureWindow));
    Bitmap bitmap;
    ASSERT_TRUE(ReadBmp24(captureFile, bitmap));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), bitmap.width);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), bitmap.height);
    // With no foreground window each mode-3 request captures the desktop
    // again; the desktop window named as foreground counts as captured.
    EXPECT_EQ(front == nullptr, CaptureToFile(ModeCaptureNewWindow));
}

class CaptureFailures : public CaptureTest {};

TEST_F(CaptureFailures, LockedFileIsReportedAndKeepsItsContent)
{
    ASSERT_TRUE(WriteText(captureFile, "previous capture"));
    HANDLE lock = LockFileExclusively(captureFile);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    EXPECT_FALSE(CaptureToFile(ModeCaptureDesktop));
    CloseHandle(lock);
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ("CreateFile", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_SHARING_VIOLATION), boxes.Seen()[0].text);
    std::vector<uint8_t> content = ReadBytes(captureFile);
    EXPECT_EQ("previous capture", std::string(content.begin(), content.end()));
}

TEST_F(CaptureFailures, MissingStoreDirectoryIsReported)
{
    lstrcpyA(CaptureFilePath, JoinDir(JoinDir(directory, "gone"), "Tessmere.bmp").c_str());
    EXPECT_FALSE(CaptureToFile(ModeCaptureDesktop));
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ("CreateFile", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_PATH_NOT_FOUND), boxes.Seen()[0].text);
}

TEST_F(CaptureFailures, FullFileSystemLeavesNoBrokenBitmap)
{
    // A store on a 64 KiB file system: the headers fit, the pixels do not.
    std::string store = JoinDir(directory, "small");
    SmallFileSystem small(store, "64k");
    if (!small.Mounted())
        return;
    lstrcpyA(CaptureFilePath, JoinDir(store, "Tessmere.bmp").c_str());
    windows.ShowInFront(200, 200, 9);
    EXPECT_FALSE(CaptureToFile(ModeCaptureWindow));
    EXPECT_FALSE(FileExists(CaptureFilePath)) << "the incomplete file must be removed";
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ("WriteFile BITMAP CONTENT", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_DISK_FULL), boxes.Seen()[0].text);
}

TEST_F(CaptureFailures, EveryFailedWriteIsReportedInTurn)
{
    // The capture file's name leads to /dev/full, where every write fails.
    // Wine cannot delete a link to a device, so the Unix side makes and removes it.
    std::string link = ShellQuote(UnixPath(captureFile));
    ASSERT_EQ(0, RunUnixCommand("ln -sfn /dev/full " + link));
    bool captured = CaptureToFile(ModeCaptureDesktop);
    RunUnixCommand("rm -f " + link);
    EXPECT_FALSE(captured);
    ASSERT_EQ(3u, boxes.Seen().size());
    EXPECT_EQ("WriteFile BITMAPFILEHEADER", boxes.Seen()[0].caption);
    EXPECT_EQ("WriteFile BITMAPINFOHEADER", boxes.Seen()[1].caption);
    EXPECT_EQ("WriteFile BITMAP CONTENT", boxes.Seen()[2].caption);
    for (const SeenBox &box : boxes.Seen())
        EXPECT_EQ(SystemText(ERROR_DISK_FULL), box.text);
}

// Run on screens of several sizes and depths (see tests/CMakeLists.txt).
class ScreenCapture : public CaptureTest {};

TEST_F(ScreenCapture, DesktopEqualsWhatXReadsFromTheSameScreen)
{
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    windows.Show(width / 10, height / 8, width / 2, height / 2, 11);
    windows.Show(width / 2, height / 3, width / 3, height / 2, 12);
    ASSERT_TRUE(CaptureToFile(ModeCaptureDesktop));
    ExpectHeaders(ReadBytes(captureFile), width, height, (3 * width + 3) / 4 * 4 * height);
    Bitmap ours;
    ScreenDump dump;
    std::string why;
    ASSERT_TRUE(ReadBmp24(captureFile, ours, &why)) << why;
    ASSERT_TRUE(DumpScreen(JoinDir(directory, "root.xwd"), dump, &why)) << why;
    ASSERT_EQ(dump.width, ours.width);
    ASSERT_EQ(dump.height, ours.height);
    EXPECT_EQ(0, PixelsNotShown(ours, dump));
    std::set<uint32_t> colours(ours.pixels.begin(), ours.pixels.end());
    EXPECT_GE(colours.size(), 5000u) << "the screen must show varied content";
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(ScreenCapture, FileIsReadByImageMagickAsA24BitBmp)
{
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    windows.Show(width / 4, height / 4, width / 3, height / 3, 13);
    ASSERT_TRUE(CaptureToFile(ModeCaptureDesktop));
    std::string description;
    ASSERT_EQ(0, RunUnixCommand("identify -format '%m %w %h %z %[type]' "
                                + ShellQuote(UnixPath(captureFile)), &description));
    EXPECT_EQ("BMP3 " + std::to_string(width) + " " + std::to_string(height) + " 8 TrueColor",
              Trimmed(description));
    // ImageMagick's own reading of the pixels is ours.
    std::string copy = JoinDir(directory, "copy.bmp");
    ASSERT_TRUE(ConvertWithImageMagick(captureFile, copy));
    Bitmap ours, theirs;
    ASSERT_TRUE(ReadBmp24(captureFile, ours));
    ASSERT_TRUE(ReadBmp24(copy, theirs));
    EXPECT_TRUE(ours.pixels == theirs.pixels);
}

// Captures hold device contexts, a bitmap and a file only while they run. A
// device context, bitmap or file left behind by each capture shows in a few
// dozen of them; thousands are for the soak.
class CaptureResources : public CaptureTest {
protected:
    static unsigned SettledGdiSlot()
    {
        PumpMessages(20);
        return NextGdiSlot();
    }
};

TEST_F(CaptureResources, AreAllReleasedAfterEachCapture)
{
    windows.ShowInFront(64, 48, 21);
    for (int i = 0; i < 10; i++)
        ASSERT_TRUE(CaptureToFile(ModeCaptureWindow));
    unsigned firstSlot = SettledGdiSlot();
    long firstResident = OwnResidentKiB();
    int firstDescriptors = WineServerDescriptors();
    ASSERT_GT(firstResident, 0);
    ASSERT_GT(firstDescriptors, 0);

    for (int i = 0; i < 40; i++)
        ASSERT_TRUE(CaptureToFile(ModeCaptureWindow)) << "capture " << i;
    // Whole-screen captures: a frame buffer left behind would be megabytes.
    for (int i = 0; i < 10; i++)
        ASSERT_TRUE(CaptureToFile(ModeCaptureDesktop)) << "desktop capture " << i;
    unsigned lastSlot = SettledGdiSlot();
    long lastResident = OwnResidentKiB();
    int lastDescriptors = WineServerDescriptors();

    printf("50 captures: GDI slot %u -> %u; resident %ld -> %ld KiB; "
           "server descriptors %d -> %d\n", firstSlot, lastSlot, firstResident, lastResident,
           firstDescriptors, lastDescriptors);
    EXPECT_LE(lastSlot, firstSlot + 8) << "GDI objects left behind";
    EXPECT_LE(lastResident, firstResident + 4096) << "memory left behind";
    EXPECT_LE(lastDescriptors, firstDescriptors + 4) << "handles left open";
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(CaptureResources, AreReleasedOnTheFailurePathsToo)
{
    HWND empty = windows.ShowInFront(0, 10, 22);    // CreateDIBSection fails
    // The first message box keeps a few GDI objects for later boxes.
    EXPECT_FALSE(CaptureToFile(ModeCaptureWindow));
    unsigned firstSlot = SettledGdiSlot();
    for (int i = 0; i < 20; i++) {
        // A closed message box may leave no window in front.
        ASSERT_TRUE(BringToFront(empty));
        EXPECT_FALSE(CaptureToFile(ModeCaptureWindow));
    }
    ASSERT_TRUE(WriteText(captureFile, "locked"));
    HANDLE lock = LockFileExclusively(captureFile);   // CreateFile fails
    int firstDescriptors = WineServerDescriptors();
    for (int i = 0; i < 20; i++)
        EXPECT_FALSE(CaptureToFile(ModeCaptureDesktop));
    int lastDescriptors = WineServerDescriptors();
    CloseHandle(lock);
    unsigned lastSlot = SettledGdiSlot();
    printf("40 failed captures: GDI slot %u -> %u; server descriptors %d -> %d\n", firstSlot,
           lastSlot, firstDescriptors, lastDescriptors);
    EXPECT_EQ(41u, boxes.Seen().size());
    EXPECT_LE(lastSlot, firstSlot + 8) << "GDI objects left behind";
    EXPECT_LE(lastDescriptors, firstDescriptors + 4) << "handles left open";
}

// Run only on a prefix whose LogPixels scales the screen to 144 dots per inch
// (tests/CMakeLists.txt): the desktop capture must still hold every physical
// pixel, which a capture sized in scaled units would miss.
class ScaledScreen : public CaptureTest {};

TEST_F(ScaledScreen, DesktopCaptureHoldsEveryPhysicalPixel)
{
    DWORD dpi = RequestedLogPixels();
    ASSERT_NE(0u, dpi) << "the prefix does not scale the screen";
    ASSERT_NE(96u, dpi);
    HDC screen = GetDC(nullptr);
    int seen = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ((int)dpi, seen) << "Wine did not take up LogPixels";
    ScreenDump dump;
    std::string why;
    ASSERT_TRUE(DumpScreen(JoinDir(directory, "root.xwd"), dump, &why)) << why;
    windows.Show(dump.width / 8, dump.height / 8, dump.width / 2, dump.height / 2, 41);
    ASSERT_TRUE(DumpScreen(JoinDir(directory, "root.xwd"), dump, &why)) << why;
    ASSERT_TRUE(CaptureToFile(ModeCaptureDesktop));
    Bitmap ours;
    ASSERT_TRUE(ReadBmp24(captureFile, ours, &why)) << why;
    ASSERT_EQ(dump.width, ours.width);
    ASSERT_EQ(dump.height, ours.height);
    EXPECT_EQ(0, PixelsNotShown(ours, dump));
    EXPECT_TRUE(boxes.Seen().empty());
}

// The tray icon follows the display's scale: loaded again, as when the tray
// is re-added, it has the small-icon size of the scale, and the icon it
// replaced is gone.
TEST_F(ScaledScreen, TrayIconIsLoadedAgainAtTheSmallIconSizeOfTheScale)
{
    DWORD dpi = RequestedLogPixels();
    ASSERT_NE(0u, dpi) << "the prefix does not scale the screen";
    AppInstance = GetModuleHandleA(nullptr);    // this test program carries the program's icons
    ReloadTrayIcon();
    HICON replaced = TrayIcon.hIcon;
    ReloadTrayIcon();
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(TrayIcon.hIcon, &info));
    BITMAP colour = {};
    GetObjectA(info.hbmColor, sizeof colour, &colour);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_EQ(MulDiv(16, dpi, 96), colour.bmWidth);
    EXPECT_EQ(MulDiv(16, dpi, 96), colour.bmHeight);
    EXPECT_FALSE(GetIconInfo(replaced, &info)) << "the icon replaced is still there";
    DestroyIcon(TrayIcon.hIcon);
    TrayIcon.hIcon = nullptr;
}
