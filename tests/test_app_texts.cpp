// The texts the application shows, the progress bar's numbers and where a
// centred message box goes: pure functions, no window involved.
#include "apptexts.h"
#include "messagebox.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

Update ReadUpdate(const std::string& bytes) {
    std::istringstream stream(bytes, std::ios::binary);
    return Update(stream);
}

TEST(BoundedTextTest, CutsToTheBufferWithItsTerminator) {
    EXPECT_EQ(BoundedText(8, "%s", "1234567"), "1234567");
    EXPECT_EQ(BoundedText(8, "%s", "12345678"), "1234567");
    EXPECT_EQ(BoundedText(1, "%s", "x"), "");
    EXPECT_EQ(BoundedText(0, "%s", "x"), "");
}

TEST(WindowTextsTest, EachTextInItsOwnBuffer) {
    const std::string reason = "Device is not responding.";
    EXPECT_EQ(UpdatingText("Sending chunk #1 of 3"), " Updating: Sending chunk #1 of 3");
    EXPECT_EQ(CompletedText("Done."), " Completed: Done.");
    EXPECT_EQ(FailureText(reason),
              "The update failed for the following reason:\n\nDevice is not responding.");
    EXPECT_EQ(AboutText("Kestrane", "Copyright"), "Kestrane\nVersion 1.13 (beta)\n\nCopyright");

    // A text longer than its buffer is cut: 256, 512, 1024 and 128 bytes.
    const std::string longText(2000, 'x');
    EXPECT_EQ(UpdatingText(longText).size(), 255u);
    EXPECT_EQ(CompletedText(longText).size(), 511u);
    EXPECT_EQ(FailureText(longText).size(), 1023u);
    EXPECT_EQ(AboutText("Kestrane", longText.c_str()).size(), 127u);
    EXPECT_EQ(UpdatingText(longText).substr(0, 12), " Updating: x");
}

TEST(UpdateTextsTest, SummaryAndConfirmationShowTheMinorVersionInTwoDigits) {
    const Update update = ReadUpdate(UpdateFileBuilder().Header("P", 2, 5).Data());
    EXPECT_EQ(SummaryText(update), " Product: 'P' \tFirmware version: 2.05");
    EXPECT_EQ(ConfirmTitle(update), "Update P");
    EXPECT_EQ(ConfirmQuestion(update), "Do you want to update your P to version 2.05 now?");

    const Update unknown = ReadUpdate(UpdateFileBuilder().Header("Pad Two", 0, 0).Data());
    EXPECT_EQ(SummaryText(unknown), " Product: 'Pad Two' \tFirmware version: 0.00");
    EXPECT_EQ(ConfirmQuestion(unknown), "Do you want to update your Pad Two to version 0.00 now?");
}

TEST(UpdateTextsTest, StartMessageOnlyForAnUpdateWithAMessage) {
    const Update withMessage =
        ReadUpdate(UpdateFileBuilder().Header("P", 1, 0, "Plug it in.").Data());
    EXPECT_EQ(StartMessageText(withMessage), "Plug it in.\n\nClick OK to start.");

    const Update without = ReadUpdate(UpdateFileBuilder().Header("P").Data());
    EXPECT_EQ(StartMessageText(without), "");

    // A plain SysEx file always carries the standard instructions.
    const Update sysEx = ReadUpdate(std::string("\xF0\x7D\x01\xF7", 4));
    ASSERT_TRUE(sysEx.IsSysEx());
    EXPECT_EQ(StartMessageText(sysEx), sysExInstructions + "\n\nClick OK to start.");
}

TEST(UpdateTextsTest, DetailsLogOneLineEach) {
    const Update update = ReadUpdate(UpdateFileBuilder()
                                         .Header("Pad", 1, 2, "Hello")
                                         .Image({1, 2, 3})
                                         .Portion({0xF0, 0x01, 0xF7}, 10)
                                         .Portion({0xF0, 0x02, 0x03, 0xF7}, 20)
                                         .Data());
    LogCapture log;
    LogUpdateDetails(update);
    EXPECT_EQ(log.Text(), "Product name:   Pad\n"
                          "Message:        Hello\n"
                          "Image:          3 bytes\n"
                          "Port names:     1\n" // the product's name
                          "SysEx portions: 2\n"
                          "Total SysEx:    7 bytes\n");
}

TEST(ProgressPercentTest, SinglePrecisionTruncatedTowardZero) {
    const struct {
        float fraction;
        int percent;
    } cases[] = {
        {0.0f, 0}, {0.5f, 50}, {0.999f, 99}, {1.0f, 100}, {0.666667f, 66}, {-0.5f, 0}, {1.5f, 100},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgressPercent(c.fraction), c.percent) << c.fraction;
}

TEST(IndeterminateAnimationTest, StepsByThreeAndWrapsPastAHundred) {
    int position = 0;
    for (int step = 1; step <= 33; ++step) {
        position = NextIndeterminatePos(position);
        ASSERT_EQ(position, 3 * step);
    }
    EXPECT_EQ(position, 99);
    EXPECT_EQ(NextIndeterminatePos(position), 0);
    EXPECT_EQ(NextIndeterminatePos(0), 3);
    // Anything at 98 or above steps past 100 and starts again.
    EXPECT_EQ(NextIndeterminatePos(97), 100);
    EXPECT_EQ(NextIndeterminatePos(98), 0);
}

TEST(CenteredBoxPositionTest, CentredOverTheOwnerAndKeptOnTheDesktop) {
    const RECT desktop = {0, 0, 1024, 768};
    const RECT box = {0, 0, 300, 120}; // only its size counts
    const struct {
        const char* what;
        RECT owner;
        POINT expected;
    } cases[] = {
        {"centre of the owner", {262, 284, 762, 504}, {362, 334}},
        {"odd sizes halve toward zero", {100, 100, 401, 301}, {100, 140}},
        {"left of the screen: x = 0", {-400, 300, -100, 400}, {0, 290}},
        {"above the screen: y = 0", {300, -200, 600, -100}, {300, 0}},
        {"past the right edge", {900, 300, 1200, 400}, {724, 290}},
        {"past the bottom edge", {300, 700, 600, 900}, {300, 648}},
    };
    for (const auto& c : cases) {
        const POINT position = CenteredBoxPosition(desktop, c.owner, box);
        EXPECT_EQ(position.x, c.expected.x) << c.what;
        EXPECT_EQ(position.y, c.expected.y) << c.what;
    }
}

} // namespace
