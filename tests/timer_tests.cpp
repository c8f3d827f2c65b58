// Arming and disarming the change timer on a window the test owns.
#include "tessmere.h"

#include "test_support.h"

#include <gtest/gtest.h>

class ChangeTimer : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = ChangeSettings;
        window = CreateWindowA("STATIC", "timer test", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
        ASSERT_NE(nullptr, window);
    }
    void TearDown() override
    {
        DestroyWindow(window);
        ChangeSettings = saved;
    }
    void Interval(LONG minutes, LONG seconds)
    {
        ChangeSettings.Minutes = minutes;
        ChangeSettings.Seconds = seconds;
    }
    // Waits without dispatching messages: a tick dispatched to the window
    // would be gone before it was looked for.
    bool TickArrivesWithin(DWORD milliseconds)
    {
        DWORD start = GetTickCount();
        do {
            MSG message;
            if (PeekMessageA(&message, window, WM_TIMER, WM_TIMER, PM_REMOVE)
                && message.wParam == CHANGE_TIMER_ID)
                return true;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_TIMER);
        } while (GetTickCount() - start < milliseconds);
        return false;
    }

    SettingsRecord saved;
    HWND window = nullptr;
    BoxWatcher boxes;
};

TEST_F(ChangeTimer, IsArmedForANonZeroInterval)
{
    struct { LONG minutes, seconds; } intervals[] = { { 0, 1 }, { 5, 0 }, { 1440, 59 }, { 2000, 0 } };
    for (auto interval : intervals) {
        Interval(interval.minutes, interval.seconds);
        ScheduleChangeTimer(window, false);
        EXPECT_TRUE(TimerArmed(window))
            << interval.minutes << " min " << interval.seconds << " s";
    }
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(ChangeTimer, IsNotArmedForZeroMinutesAndZeroSeconds)
{
    Interval(0, 0);
    ScheduleChangeTimer(window, false);
    EXPECT_FALSE(TimerArmed(window));
}

TEST_F(ChangeTimer, ZeroIntervalDisarmsAnArmedTimer)
{
    Interval(0, 30);
    ScheduleChangeTimer(window, false);
    Interval(0, 0);
    ScheduleChangeTimer(window, false);
    EXPECT_FALSE(TimerArmed(window));
}

TEST_F(ChangeTimer, IntervalBeyondTheLongestTimerGetsTheLongest)
{
    // Cut to 32 bits, 214748 min 22 s would be a 112 ms timer, and
    // 8947848 min 32 s (1000 x 2^32 ms) none at all.
    Interval(214748, 22);
    ScheduleChangeTimer(window, false);
    EXPECT_FALSE(TickArrivesWithin(1000));
    EXPECT_TRUE(TimerArmed(window));
    Interval(8947848, 32);
    ScheduleChangeTimer(window, false);
    EXPECT_TRUE(TimerArmed(window));
}

TEST_F(ChangeTimer, StopDisarmsWhateverTheInterval)
{
    Interval(5, 0);
    ScheduleChangeTimer(window, false);
    ScheduleChangeTimer(window, true);
    EXPECT_FALSE(TimerArmed(window));
    ScheduleChangeTimer(window, true);
    EXPECT_FALSE(TimerArmed(window));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(ChangeTimer, CountsSecondsAndMinutesInMilliseconds)
{
    Interval(0, 1);
    DWORD armed = GetTickCount();
    ScheduleChangeTimer(window, false);
    EXPECT_TRUE(TickArrivesWithin(10000));
    EXPECT_GE(GetTickCount() - armed, 900u) << "a tick before the second is over";
    Interval(1, 0);
    ScheduleChangeTimer(window, false);
    EXPECT_FALSE(TickArrivesWithin(2500));
    EXPECT_TRUE(TimerArmed(window));
}
