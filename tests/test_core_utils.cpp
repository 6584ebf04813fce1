// Formatting, logging, the millisecond clock and byte-size texts.
#include "testsupport.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ByteSizeTextTest, Table) {
    struct Case {
        uint32_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "0 bytes"},
        {1, "1 byte"},
        {2, "2 bytes"},
        {1023, "1023 bytes"},
        {1024, "1.0KB"},
        {1536, "1.5KB"},
        {1048575, "1024.0KB"},
        {1048576, "1.0MB"},
        {1572864, "1.5MB"},
        {4294967295u, "4096.0MB"},
        // Single precision first: 16829645 becomes 16829644, just below 16.05MB.
        {16829645, "16.0MB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ByteSizeText(c.bytes), c.text) << c.bytes;
}

TEST(FormatTextTest, FormatsAndCutsLongTexts) {
    EXPECT_EQ(FormatText("%u.%02u", 1u, 5u), "1.05");
    EXPECT_EQ(FormatText("%s: %d%%", "Tag", 50), "Tag: 50%");
    EXPECT_EQ(FormatText("%s", ""), "");

    const std::string fits(287, 'a');
    EXPECT_EQ(FormatText("%s", fits.c_str()), fits);
    const std::string longer(1000, 'b');
    EXPECT_EQ(FormatText("%s!", longer.c_str()), std::string(287, 'b'));
}

TEST(LogTextTest, WritesTheTextUnchanged) {
    LogCapture log;
    LogText("%s: %s", "Tag", "100% sure %d");
    LogText(" and more\n");
    EXPECT_EQ(log.Text(), "Tag: 100% sure %d and more\n");

    log.Clear();
    const std::string longer(400, 'c');
    LogText("%s\n", longer.c_str());
    EXPECT_EQ(log.Text(), std::string(287, 'c'));
}

TEST(ClockTest, ReadingsFollowASleep) {
    int64_t before = GetTimeMs();
    SleepMs(500);
    int64_t elapsed = GetTimeMs() - before;
    // A sleep ends no earlier than asked (give or take the system timer's
    // tick); how late it ends depends on the machine's load, so the upper
    // bound is one that no working clock can reach.
    EXPECT_GE(elapsed, 490);
    EXPECT_LT(elapsed, 60000);
}

class SteppedTime : public TimeSource {
public:
    int64_t NowMs() override { return now; }
    void Sleep(uint32_t ms) override { now += ms; }
    int64_t now = 1000;
};

TEST(ClockTest, InstalledTimeSourceReplacesThePlatformClock) {
    SteppedTime time;
    TimeSource* previous = SetTimeSource(&time);
    int64_t start = GetTimeMs();
    SleepMs(250);
    SleepMs(4000000000u);
    int64_t end = GetTimeMs();
    EXPECT_EQ(SetTimeSource(previous), &time);
    EXPECT_EQ(start, 1000);
    EXPECT_EQ(end, 1000 + 250 + 4000000000LL);
}

} // namespace
