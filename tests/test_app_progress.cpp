// The application's progress sink: each report is logged and reaches the main
// window as one posted message, texts as heap copies the window releases.
#include "mainwindow.h"
#include "test_app_helpers.h"
#include "testsupport.h"
#include "windowsprogress.h"

#include <gtest/gtest.h>

#include <vector>

#include <windows.h>

namespace {

using WindowsUpdateProgressTest = MainWindowStandIn;

TEST_F(WindowsUpdateProgressTest, EachReportIsOnePostedMessage) {
    LogCapture log;
    WindowsUpdateProgress progress;
    progress.Status("Sending chunk #1 of 3");
    progress.Progress(0.999f);
    progress.Error("Device is not responding.");
    progress.Progress(1.0f);
    progress.Completed("The update is done.");
    progress.Progress(0.0f);

    const std::vector<PostedMessage> posted = Take();
    ASSERT_EQ(posted.size(), 6u);

    // Status: the row's text, the bar left where it is.
    EXPECT_EQ(posted[0].message, WM_UPDATE_PROGRESS);
    EXPECT_EQ(posted[0].Percent(), -1);
    EXPECT_TRUE(posted[0].hasText);
    EXPECT_EQ(posted[0].text, "Sending chunk #1 of 3");

    // Progress: the bar's position, no text.
    EXPECT_EQ(posted[1].message, WM_UPDATE_PROGRESS);
    EXPECT_EQ(posted[1].Percent(), 99);
    EXPECT_EQ(posted[1].lParam, 0);

    EXPECT_EQ(posted[2].message, WM_UPDATE_FAILED);
    EXPECT_EQ(posted[2].Percent(), -1);
    EXPECT_EQ(posted[2].text, "Device is not responding.");

    EXPECT_EQ(posted[3].message, WM_UPDATE_PROGRESS);
    EXPECT_EQ(posted[3].Percent(), 100);
    EXPECT_EQ(posted[3].lParam, 0);

    EXPECT_EQ(posted[4].message, WM_UPDATE_COMPLETED);
    EXPECT_EQ(posted[4].Percent(), -1);
    EXPECT_EQ(posted[4].text, "The update is done.");

    EXPECT_EQ(posted[5].message, WM_UPDATE_PROGRESS);
    EXPECT_EQ(posted[5].Percent(), 0);
    EXPECT_EQ(posted[5].lParam, 0);

    EXPECT_EQ(log.Text(), "Status: Sending chunk #1 of 3\n"
                          "Progress: 0.999000\n"
                          "Error: Device is not responding.\n"
                          "Progress: 1.000000\n"
                          "Completed: The update is done.\n"
                          "Progress: 0.000000\n");
}

TEST_F(WindowsUpdateProgressTest, IndeterminateUntilTheNextProgress) {
    LogCapture log;
    WindowsUpdateProgress progress;
    progress.ProgressIndeterminate();
    EXPECT_TRUE(bProgressIndeterminate);
    std::vector<PostedMessage> posted = Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, WM_PROGRESS_TICK);
    EXPECT_EQ(posted[0].wParam, 0u);
    EXPECT_EQ(posted[0].lParam, 0);

    // A status text leaves the animation running; a real value ends it.
    progress.Status("Waiting for device to become active...");
    EXPECT_TRUE(bProgressIndeterminate);
    progress.Progress(0.5f);
    EXPECT_FALSE(bProgressIndeterminate);
    posted = Take();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[1].message, WM_UPDATE_PROGRESS);
    EXPECT_EQ(posted[1].Percent(), 50);
    EXPECT_TRUE(log.Contains("ProgressIndeterminate\n"));
}

// Texts keep their bytes as read, with no code-page conversion, and an empty
// text is still a text (the window shows " Updating: ").
TEST_F(WindowsUpdateProgressTest, TextsArriveByteForByte) {
    LogCapture log;
    WindowsUpdateProgress progress;
    const std::string latin1 = "Ger\xE4t bereit \xB0";
    progress.Status(latin1);
    progress.Status("");
    const std::vector<PostedMessage> posted = Take();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].text, latin1);
    EXPECT_TRUE(posted[1].hasText);
    EXPECT_EQ(posted[1].text, "");
}

// Runs the thread's messages for up to `limitMs`, as the message loop would,
// and counts the animation steps posted to the window; stops early once
// `enough` steps have arrived.
int PumpAnimationSteps(HWND window, DWORD limitMs, int enough) {
    int steps = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < limitMs && steps < enough) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == window && msg.message == WM_PROGRESS_TICK)
                ++steps;
            else
                DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return steps;
}

// The animation's timer asks for steps while the animation is on and stops
// itself once it is off, so a window left idle after a run is not woken 25
// times a second for nothing; the next indeterminate phase arms it again.
TEST_F(WindowsUpdateProgressTest, AnimationTimerStopsItselfOnceTheAnimationEnds) {
    bProgressIndeterminate = true;
    ASSERT_NE(SetTimer(window, PROGRESS_TIMER_ID, 10, ProgressTimerProc), 0u);
    EXPECT_EQ(PumpAnimationSteps(window, 5000, 2), 2);

    bProgressIndeterminate = false;
    EXPECT_EQ(PumpAnimationSteps(window, 500, 1000), 0);
    EXPECT_FALSE(KillTimer(window, PROGRESS_TIMER_ID)) << "the timer still runs";
}

} // namespace
