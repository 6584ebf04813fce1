// kestrane-cli send against the emulated device: outcomes, exit statuses and
// the device's record of the wire.
#include "sendupdate.h"
#include "test_cli_helpers.h"
#include "testsupport.h"

#include <gtest/gtest.h>

namespace {

using clitest::ReadFile;
using clitest::RunInProcess;
using clitest::ScratchFolder;
using clitest::WriteFile;

// Two portions of whole SysEx messages, product "Pad", version 1.05.
std::string TwoPortionUpdate() {
    return UpdateFileBuilder()
        .Header("Pad", 1, 5)
        .Portion({0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7}, 100)
        .Portion({0xF0, 0x04, 0xF7}, 0)
        .Settings("win:t:ideal:2:max:8:delay:5:unprepdelay:5")
        .Data();
}

TEST(CliSendTest, ExitStatusFollowsTheOutcome) {
    struct Case {
        std::vector<std::string> options;
        int status;
        const char* outcomeStart;
    };
    const Case cases[] = {
        {{"--sim", "accept"}, 0, "The 'Pad' was updated sucessfully to version 1.05."},
        {{"--sim", "install2"}, 0, "The 'Pad' was updated sucessfully to version 1.05."},
        {{"--sim", "silent", "--sim-version", "1.05"}, 0, "The 'Pad' was updated sucessfully"},
        {{"--sim", "fail"}, 2, "There was an error sending the update file."},
        {{"--sim", "silent", "--sim-version", "1.04"},
         2,
         "The 'Pad' firmware version is now 1.04."},
        {{"--sim", "silent", "--sim-no-identity"}, 3, "The update has been sent.\n"},
    };
    ScratchFolder folder;
    std::string path = folder.File("pad.upd");
    WriteFile(path, TwoPortionUpdate());
    for (const Case& c : cases) {
        std::vector<std::string> args = {"send",       path,  "--device",       "sim",
                                         "--sim-name", "Pad", "--virtual-time", "--yes"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        clitest::ToolResult result = RunInProcess(args);
        SCOPED_TRACE(c.options[1]);
        EXPECT_EQ(result.status, c.status) << result.out << result.err;
        // The outcome is the last thing printed.
        size_t at = result.out.rfind(c.outcomeStart);
        ASSERT_NE(at, std::string::npos) << result.out;
        EXPECT_EQ(result.out.find("\n\n", at), std::string::npos);
        EXPECT_NE(result.out.find("Simulated time: "), std::string::npos);
    }
}

TEST(CliSendTest, RecordHoldsExactlyTheWireBytes) {
    ScratchFolder folder;
    std::string path = folder.File("pad.upd");
    std::string record = folder.File("wire.bin");
    WriteFile(path, UpdateFileBuilder()
                        .Header("Pad", 1, 5)
                        .Portion({0x01, 0x02, 0x03, 0xF7, 0x05}, 0)
                        .Settings("win:t:ideal:2:max:3")
                        .Data());
    clitest::ToolResult result =
        RunInProcess({"send", path, "--device", "sim", "--sim-name", "Pad", "--sim", "silent",
                      "--sim-version", "1.05", "--sim-record", record, "--virtual-time", "--yes"});
    EXPECT_EQ(result.status, 0) << result.err;
    // Two chunks, each framed as one message (the second begins with the
    // data's own F7), then the identity request sent when no status came.
    const std::string expected = {'\xF0', '\x01', '\x02', '\x03', '\xF7', '\xF0', '\xF7', '\x05',
                                  '\xF7', '\xF0', '\x7E', '\x7F', '\x06', '\x01', '\xF7'};
    EXPECT_EQ(ReadFile(record), expected);
}

TEST(CliSendTest, VerboseShowsTheDiagnosticLogOnlyWhenAsked) {
    ScratchFolder folder;
    std::string path = folder.File("pad.upd");
    WriteFile(path, TwoPortionUpdate());
    std::vector<std::string> args = {"send",       path,  "--device", "sim",
                                     "--sim-name", "Pad", "--yes",    "--virtual-time"};
    clitest::ToolResult quiet = RunInProcess(args);
    args.push_back("--verbose");
    clitest::ToolResult verbose = RunInProcess(args);
    const std::string entry = "SysExSender::Send(update,sender,progress)\n";
    EXPECT_EQ(quiet.err.find(entry), std::string::npos);
    EXPECT_EQ(quiet.out.find(entry), std::string::npos);
    EXPECT_NE(verbose.err.find(entry), std::string::npos);
    EXPECT_EQ(verbose.status, 0);
}

TEST(CliSendTest, RefusesWhatCannotRun) {
    ScratchFolder folder;
    std::string path = folder.File("pad.upd");
    WriteFile(path, TwoPortionUpdate());
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{"send", path}, 1, "use --device sim"},
        {{"send", path, "--device", "sim", "--sim-record", folder.File("wire.bin")},
         1,
         "does not match the update's port names ('Pad')"},
        {{"send", folder.File("missing.upd"), "--device", "sim"},
         1,
         "Update file was invalid (bad header).\n"},
        {{"send", path, "--device", "usb"}, 64, "unknown device 'usb'"},
        {{"send", path, "--device", "sim", "--sim-name", "Pad", "--sim", "accept,maybe"},
         64,
         "maybe"},
        {{"send", path, "--device", "sim", "--sim-name", "Pad", "--sim-version", "1.234"}, 64, ""},
        {{"send", path, "--device", "sim", "--sim-name", "Pad", "--sim-appear", "soon"},
         64,
         "--sim-appear takes a number of milliseconds"},
    };
    for (const Case& c : cases) {
        clitest::ToolResult result = RunInProcess(c.args);
        EXPECT_EQ(result.status, c.status) << c.args.back() << "\n" << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    // A refused run leaves no record file behind.
    EXPECT_FALSE(clitest::fs::exists(folder.File("wire.bin")));
}

#ifdef __linux__
TEST(CliSendTest, RecordThatCannotBeWrittenIsAnError) {
    ScratchFolder folder;
    std::string path = folder.File("pad.upd");
    WriteFile(path, TwoPortionUpdate());
    // Every write to /dev/full fails for want of space.
    clitest::ToolResult result =
        RunInProcess({"send", path, "--device", "sim", "--sim-name", "Pad", "--sim-record",
                      "/dev/full", "--virtual-time", "--yes"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("could not write all received bytes to the record file"),
              std::string::npos)
        << result.err;
}
#endif

TEST(CliSendTest, OutcomeTextsMapToExitStatuses) {
    struct Case {
        std::string text;
        int status;
    };
    const Case cases[] = {
        {FormatText(kUpdatedFormat, "Pad", "1.05"), 0},
        // A product name that looks like another outcome does not confuse it.
        {FormatText(kUpdatedFormat, "x' firmware version is now 1.0", "1.05"), 0},
        {FormatText(kSentNowAtVersionFormat, "2.10"), 0},
        {kSendErrorText, 2},
        {FormatText(kVersionMismatchFormat, "Pad", "1.04", "1.05"), 2},
        {kSentUncheckedText, 3},
        {kSentUnconfirmedText, 3},
        {"", 1},
        {"The update has been sent.", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OutcomeExitStatus(c.text), c.status) << c.text;
}

} // namespace
