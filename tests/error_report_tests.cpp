// The one way failures are shown: the system's text for the last error, in a
// box captioned with the failing step.
#include "tessmere.h"

#include "test_support.h"

#include <gtest/gtest.h>

class ErrorReport : public ::testing::Test {
protected:
    BoxWatcher boxes;
};

TEST_F(ErrorReport, NullCaptionGivesTheProgramName)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    ReportLastError(NULL);
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ("Tessmere", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), boxes.Seen()[0].text);
    EXPECT_FALSE(boxes.Seen()[0].text.empty());
}

TEST_F(ErrorReport, ShowsTheSystemTextOfTheLastErrorUnderTheStepsName)
{
    SetLastError(ERROR_ACCESS_DENIED);
    ReportLastError("SetTimer");
    // A text with an insert ("%1 ...") is shown with its placeholder.
    SetLastError(ERROR_BAD_EXE_FORMAT);
    ReportLastError("CreateProcess");
    ASSERT_EQ(2u, boxes.Seen().size());
    EXPECT_EQ("SetTimer", boxes.Seen()[0].caption);
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED), boxes.Seen()[0].text);
    EXPECT_NE(std::string::npos, boxes.Seen()[1].text.find("%1")) << boxes.Seen()[1].text;
}

TEST_F(ErrorReport, CodeWithoutSystemTextShowsNothingAndReturns)
{
    SetLastError(0x20001234);   // a customer code: the system has no text for it
    ReportLastError("Anything");
    PumpMessages(300);
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(ErrorReport, ClearedShowFlagOnlyConsumesTheText)
{
    SetLastError(ERROR_ACCESS_DENIED);
    ReportLastError("Quiet", 0, 0);
    PumpMessages(300);
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(ErrorReport, BoxHasTheExclamationIconAndOneButton)
{
    SetLastError(ERROR_ACCESS_DENIED);
    ReportLastError("Icon");
    ASSERT_EQ(1u, boxes.Seen().size());
    EXPECT_EQ(1, boxes.Seen()[0].buttons);
    EXPECT_EQ(LoadIconA(NULL, (LPCSTR)IDI_EXCLAMATION), boxes.Seen()[0].icon);
}
