// Two thousand captures in this process, of the desktop and, in modes 2 and 3,
// of two windows taking turns in front, with the GDI handle slot that a new
// object gets, this process's resident memory and the Wine server's open
// descriptors read between blocks of them. None may keep growing: the GDI
// handles a capture holds can only be seen from inside the process.
#include "tessmere.h"

#include "bench_support.h"
#include "test_support.h"

#include <algorithm>
#include <cstdio>

static const int Blocks = 10;
static const int DesktopPerBlock = 40;
static const int WindowPerBlock = 80;       // for each of modes 2 and 3
static const unsigned SlotTolerance = 8;
static const long ResidentToleranceKiB = 2048;
static const int DescriptorTolerance = 4;

struct Footprint {
    unsigned gdiSlot;
    long residentKiB;
    int serverDescriptors;
};

static Footprint Measure(int self)
{
    // Let Wine finish whatever the last window change queued.
    PumpMessages(50);
    return Footprint{ NextGdiSlot(), StatusKiB(self, "VmRSS"), WineServerDescriptors() };
}

static void PrintFootprint(const std::string &when, int captures, const Footprint &footprint)
{
    printf("%-22s %5d captures  GDI slot %5u  resident %6ld KiB  server descriptors %4d\n",
           when.c_str(), captures, footprint.gdiSlot, footprint.residentKiB,
           footprint.serverDescriptors);
}

// Mode 3 captures only a window other than the one captured last, so each
// capture of a block has the other window in front.
static int CaptureBlock(HWND windows[2], int desktop, int window)
{
    int failed = 0;
    for (int i = 0; i < desktop; i++)
        failed += !CaptureToFile(ModeCaptureDesktop);
    for (int mode : { ModeCaptureWindow, ModeCaptureNewWindow }) {
        for (int i = 0; i < window; i++) {
            BringToFront(windows[i % 2]);
            failed += !CaptureToFile(mode);
        }
    }
    return failed;
}

static bool Within(const char *what, long first, long last, long tolerance)
{
    bool within = last - first <= tolerance;
    printf("%-20s %6ld -> %6ld (%+ld, tolerance %ld)%s\n", what, first, last, last - first,
           tolerance, within ? "" : "  GREW");
    return within;
}

int main()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    BoxWatcher boxes;
    std::string directory = BenchDirectory("capture-soak");
    lstrcpyA(CaptureFilePath, JoinDir(directory, "Tessmere.bmp").c_str());
    PatternWindows shown;
    HWND windows[2] = { shown.Show(300, 200, 160, 120, 51), shown.Show(520, 260, 120, 90, 52) };
    int self = OwnUnixProcessId();
    if (windows[0] == nullptr || windows[1] == nullptr || self <= 0) {
        printf("the soak's windows or its own process could not be found\n");
        return 1;
    }

    int perBlock = DesktopPerBlock + 2 * WindowPerBlock;
    int failed = CaptureBlock(windows, 4, 8);
    Footprint first = Measure(self);
    PrintFootprint("after a first block", 0, first);
    unsigned highestSlot = first.gdiSlot;
    Footprint last = first;
    for (int block = 1; block <= Blocks; block++) {
        failed += CaptureBlock(windows, DesktopPerBlock, WindowPerBlock);
        last = Measure(self);
        highestSlot = std::max(highestSlot, last.gdiSlot);
        PrintFootprint("after block " + std::to_string(block), block * perBlock, last);
    }

    bool flat = Within("GDI slot, highest", first.gdiSlot, highestSlot, SlotTolerance);
    flat = Within("resident KiB", first.residentKiB, last.residentKiB, ResidentToleranceKiB) && flat;
    flat = Within("server descriptors", first.serverDescriptors, last.serverDescriptors,
                  DescriptorTolerance) && flat;
    printf("failed captures: %d\n", failed);
    for (const SeenBox &box : boxes.Seen())
        printf("message box: %s: %s\n", box.caption.c_str(), box.text.c_str());
    bool passed = flat && failed == 0 && boxes.Seen().empty() && first.residentKiB > 0
                  && first.serverDescriptors > 0;
    printf(passed ? "capture soak: PASSED\n" : "capture soak: FAILED\n");

    RemoveTree(Wide(directory));
    return passed ? 0 : 1;
}
