// Kestrane.exe end to end, as a user runs it: an update handed over on the
// command line, sent to the emulated device behind the virtual MIDI driver,
// with what the windows show on the way and what the device received.
#include "appsession.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <vector>

using namespace guidriver;

namespace {

const char* const kMessage = "Put the test unit into update mode.";
const std::string kSuccess = "The 'Kestrane Test Unit' was updated sucessfully to version 1.05.";
const char* const kSummary = " Product: 'Kestrane Test Unit' \tFirmware version: 1.05";
// No pauses of the port's own: the runs wait for the sender's pacing only.
const char* const kFastPort = "win:test:delay:0:unprepdelay:0";

struct ArgumentCase {
    const char* name;
    const char* fileName;
    bool absolute; // the full path, else the name in the working folder
    bool quoted;
};

void PrintTo(const ArgumentCase& c, std::ostream* out) {
    *out << c.name;
}

class CommandLineTest : public AppSession, public testing::WithParamInterface<ArgumentCase> {};

TEST_P(CommandLineTest, RunsTheUpdateAndShowsItsOutcome) {
    const ArgumentCase& c = GetParam();
    // Six 300-byte messages: two chunks, the first grown to end on a message.
    const std::string update = UpdateFile(kMessage, {{SysExData(6, 300, 1), 0}}, kFastPort);
    const std::string path = WriteFile(c.fileName, update);
    SetEnv("KESTRANE_SIM_UPDATE", path);
    std::string argument = c.absolute ? path : c.fileName;
    if (c.quoted)
        argument = "\"" + argument + "\"";
    ASSERT_NO_FATAL_FAILURE(Start(argument));
    EXPECT_EQ(WindowText(Main()), "Kestrane");
    const int compactHeight = WindowHeight();

    HWND message = WaitForBox("Important message about update");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(BoxText(message), std::string(kMessage) + kClickToStart);
    // Nothing runs before the box is dismissed.
    EXPECT_EQ(StatusRow(), "Waiting for update file.");
    EXPECT_EQ(SummaryRow(), "No update file has been loaded yet.");
    EXPECT_EQ(Record().size(), 0u);
    ASSERT_NO_FATAL_FAILURE(Press(message, IDOK));

    HWND done = WaitForBox("Kestrane", kRunMs);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(BoxText(done), kSuccess);
    EXPECT_TRUE(WaitForStatus(" Completed: " + kSuccess)) << StatusRow();
    EXPECT_EQ(SummaryRow(), kSummary);
    EXPECT_TRUE(WaitUntil([&] { return Progress() == 100; }, kWindowMs)) << Progress();
    EXPECT_EQ(ProgressRange(GetDlgItem(Main(), IDC_PROGRESS_BAR)), std::make_pair(0, 100));
    EXPECT_GT(WindowHeight(), compactHeight) << "the window did not grow to show its rows";
    ASSERT_NO_FATAL_FAILURE(Press(done, IDOK));

    // The run has ended: the window stays, idle, until the user closes it.
    EXPECT_TRUE(app.IsRunning());
    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_EQ(Hex(Record()), Hex(ExpectedWire(update)));
}

const ArgumentCase kArgumentCases[] = {
    {"QuotedPathWithSpace", "a b.upd", true, true},
    {"UnquotedName", "abc.upd", false, false},
    {"UnquotedPath", "abc.upd", true, false},
};

INSTANTIATE_TEST_SUITE_P(Kestrane, CommandLineTest, testing::ValuesIn(kArgumentCases),
                         [](const testing::TestParamInfo<ArgumentCase>& info) {
                             return std::string(info.param.name);
                         });

// Paths the program's ANSI file functions cannot take as they are: a folder
// named in Japanese (更新) and a path of over 260 characters. The command
// line hands the run the short name Wine makes for them.
struct PathCase {
    const char* name;
    std::string file; // UTF-8, below the working folder
};

void PrintTo(const PathCase& c, std::ostream* out) {
    *out << c.name;
}

class UnusualPathTest : public AppSession, public testing::WithParamInterface<PathCase> {};

TEST_P(UnusualPathTest, RunsTheUpdate) {
    const PathCase& c = GetParam();
    const std::string update = UpdateFile("", {{SysExData(3, 200, 5), 0}}, kFastPort);
    const std::string path = WriteFileAnywhere(c.file, update);
    // The device reads its copy under a plain name.
    SetEnv("KESTRANE_SIM_UPDATE", WriteFile("device.upd", update));
    ASSERT_NO_FATAL_FAILURE(Start("\"" + path + "\""));
    ASSERT_NO_FATAL_FAILURE(FinishRun(kSuccess));
    EXPECT_EQ(SummaryRow(), kSummary);
    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_EQ(Hex(Record()), Hex(ExpectedWire(update)));
}

const PathCase kPathCases[] = {
    {"JapaneseFolder", u8"\u66f4\u65b0\\update.upd"},
    {"JapaneseName", u8"files\\\u66f4\u65b0.upd"},
    {"Over260Characters", std::string(100, 'a') + "\\" + std::string(100, 'b') + "\\" +
                              std::string(100, 'c') + "\\update.upd"},
};

INSTANTIATE_TEST_SUITE_P(Kestrane, UnusualPathTest, testing::ValuesIn(kPathCases),
                         [](const testing::TestParamInfo<PathCase>& info) {
                             return std::string(info.param.name);
                         });

// Folders of 8.3 names are their own short names: 30 of them make a path
// that stays over 260 characters. The failure box says that the path cannot
// be used, not that the file is bad, and the window stays ready for another.
using UnusablePathTest = AppSession;

TEST_F(UnusablePathTest, ReportedAsSuchAndNotAsABadFile) {
    std::string deep;
    for (int i = 0; i < 30; ++i)
        deep += "abcdefgh\\";
    const std::string path = WriteFileAnywhere(
        deep + "update.upd", UpdateFile("", {{SysExData(3, 200, 5), 0}}, kFastPort));
    ASSERT_GT(path.size(), 260u);
    ASSERT_NO_FATAL_FAILURE(Start("\"" + path + "\""));
    HWND failed = WaitForBox("Kestrane");
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(BoxText(failed),
              std::string(kFailedPrefix) +
                  "The path of the update file is too long for this program (it takes at most 259 "
                  "characters), and Windows has no short name for it that fits. Move the file to a "
                  "folder with a shorter path, or give it a shorter name, and open it from there.");
    ASSERT_NO_FATAL_FAILURE(Press(failed, IDOK));
    EXPECT_EQ(StatusRow(), "Waiting for update file.");
    EXPECT_TRUE(WaitUntil([&] { return AcceptsFiles(); }, kWindowMs));
    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_EQ(Record().size(), 0u);
}

// A two-portion update against devices that answer in different ways. The
// first portion is always accepted, so the box between the portions comes
// with the first half of the bar and the accepted status.
struct DeviceCase {
    const char* name;
    const char* script;
    const char* variable; // one more driver setting, or null
    const char* value;
    const char* shownOnTheWay; // a status row that must show during the run, or null
    bool animates;             // the bar moves by itself while that row shows
    std::string finalText;
};

void PrintTo(const DeviceCase& c, std::ostream* out) {
    *out << c.name;
}

class DeviceAnswerTest : public AppSession, public testing::WithParamInterface<DeviceCase> {};

TEST_P(DeviceAnswerTest, FinalBoxTellsWhatTheDeviceDid) {
    const DeviceCase& c = GetParam();
    const std::string update =
        UpdateFile("", {{SysExData(4, 128, 2), 0}, {SysExData(4, 128, 3), 0}}, kFastPort);
    const std::string path = WriteFile("two.upd", update);
    SetEnv("KESTRANE_SIM_UPDATE", path);
    SetEnv("KESTRANE_SIM_SCRIPT", c.script);
    if (c.variable)
        SetEnv(c.variable, c.value);
    // No message in the update: the run starts at once.
    ASSERT_NO_FATAL_FAILURE(Start("\"" + path + "\""));

    if (c.shownOnTheWay) {
        EXPECT_TRUE(WaitForStatus(c.shownOnTheWay)) << "last status: " << StatusRow();
        if (c.animates) {
            std::set<int> positions;
            WaitUntil(
                [&] {
                    positions.insert(Progress());
                    return positions.size() >= 3;
                },
                kWindowMs);
            EXPECT_GE(positions.size(), 3u) << "the bar does not move while the program waits";
        }
    }

    HWND preparing = WaitForBox("Important", kRunMs);
    ASSERT_NE(preparing, nullptr);
    EXPECT_EQ(BoxText(preparing), kPreparingText);
    // The box is the worker's own; the window shows the reports posted
    // before it as soon as its thread gets to them.
    EXPECT_TRUE(WaitForStatus(" Updating: Device has accepted update.")) << StatusRow();
    EXPECT_TRUE(WaitUntil([&] { return Progress() == 50; }, kWindowMs)) << Progress();
    ASSERT_NO_FATAL_FAILURE(Press(preparing, IDOK));

    HWND done = WaitForBox("Kestrane", kRunMs);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(BoxText(done), c.finalText);
    EXPECT_TRUE(WaitForStatus(" Completed: " + c.finalText)) << StatusRow();
    EXPECT_EQ(Progress(), 100);
    ASSERT_NO_FATAL_FAILURE(Press(done, IDOK));
    EXPECT_EQ(CloseAndWait(), 0u);
    // Every portion reaches the device whole, whatever it answered.
    EXPECT_EQ(Hex(Record()), Hex(ExpectedWire(update)));
}

const DeviceCase kDeviceCases[] = {
    {"Accepts", "accept", nullptr, nullptr, nullptr, false, kSuccess},
    {"Fails", "accept,fail", nullptr, nullptr, nullptr, false,
     "There was an error sending the update file.\nPlease restart the device and try again."},
    {"StaysSilent", "accept,silent", nullptr, nullptr, nullptr, false,
     "The update has been sent.\nPlease check your device for update status.\nYou may need to "
     "restart the device for the update process to complete."},
    {"InstallsForAFewSeconds", "install3", nullptr, nullptr,
     " Updating: Waiting for device to complete update installation...", false, kSuccess},
    {"AppearsLate", "accept", "KESTRANE_SIM_APPEAR", "4000",
     " Updating: Looking for Kestrane Test Unit to update...", true, kSuccess},
    // 512 bytes take 164 ms on a MIDI wire: the port finds each message
    // still playing when it first tries to release it.
    {"SlowWire", "accept", "KESTRANE_SIM_BAUD", "31250", nullptr, false, kSuccess},
};

INSTANTIATE_TEST_SUITE_P(Kestrane, DeviceAnswerTest, testing::ValuesIn(kDeviceCases),
                         [](const testing::TestParamInfo<DeviceCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
