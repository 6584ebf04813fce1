// kestrane-cli send against the emulated device: outcomes, exit statuses and
// the device's record of the wire.
#include "sendupdate.h"
#include "test_cli_helpers.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

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
#ifdef KESTRANE_HAVE_RTMIDI
        {{"ports", "--api", "midi"}, 64, "--api takes alsa"},
        {{"send", path, "--device", "sim", "--sim-name", "Pad", "--api", "jack"},
         64,
         "--api chooses a MIDI system"},
        {{"send", path, "--port", "", "--api", "jack"}, 64, "names no device"},
        {{"sim", path, "--sim-name", "Pad:1"}, 64, "--sim-name takes a name without ':'"},
        {{"sim", path, "--sim", "accept,maybe"}, 64, "maybe"},
        {{"sim", path, "--sim-record", path}, 64, "--sim-record names the update file"},
        {{"sim", folder.File("missing.upd")}, 1, "cannot open"},
#elif !defined(_WIN32)
        {{"send", path}, 1, "no MIDI back end"},
        {{"ports"}, 1, "no MIDI back end"},
#endif
        {{"send", path, "--port", "Pad", "--device", "sim"}, 64, "--port chooses a MIDI port"},
        {{"send", path, "--sim-name", "Pad"}, 64, "--sim-name needs --device sim"},
        {{"send", path, "--device", "sim", "--sim-record", folder.File("wire.bin")},
         1,
         "does not match the update's port names ('Pad')"},
        {{"send", folder.File("missing.upd"), "--device", "sim"}, 1, "cannot open"},
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

#ifdef KESTRANE_HAVE_RTMIDI
// JACK_DEFAULT_SERVER names a server that no one runs while it lives.
class NoJackServer {
public:
    NoJackServer() {
        const char* value = std::getenv("JACK_DEFAULT_SERVER");
        hadPrevious = value != nullptr;
        if (hadPrevious)
            previous = value;
        std::random_device random;
        setenv("JACK_DEFAULT_SERVER", ("kestrane-none-" + std::to_string(random())).c_str(), 1);
    }
    ~NoJackServer() {
        if (hadPrevious)
            setenv("JACK_DEFAULT_SERVER", previous.c_str(), 1);
        else
            unsetenv("JACK_DEFAULT_SERVER");
    }
    NoJackServer(const NoJackServer&) = delete;
    NoJackServer& operator=(const NoJackServer&) = delete;

private:
    bool hadPrevious;
    std::string previous;
};

// Without a MIDI system to reach, send, ports and sim say so in one sentence,
// with nothing from the MIDI system's own libraries (JACK's and ALSA's print
// to standard error by themselves) around it, and end with exit status 1; a
// refused run leaves no record file.
TEST(CliSendTest, NoMidiSystemIsOneSentence) {
    ScratchFolder folder;
    std::string path = folder.File("pad.upd");
    WriteFile(path, TwoPortionUpdate());
    struct Case {
        std::vector<std::string> args;
        std::string sentence;
    };
    const std::string noJack = "kestrane-cli: no MIDI system to reach a device through: no JACK "
                               "server is running (start one, or name yours with "
                               "JACK_DEFAULT_SERVER).\n";
    std::vector<Case> cases = {
        {{"send", path, "--api", "jack", "--yes"}, noJack},
        {{"ports", "--api", "jack"}, noJack},
        {{"sim", path, "--api", "jack", "--sim-record", folder.File("wire.bin")}, noJack},
    };
#ifdef __linux__
    // The default is ALSA, whose sequencer is missing on machines without
    // sound hardware (as CI's).
    if (!clitest::fs::exists("/dev/snd/seq")) {
        const std::string noAlsa = "kestrane-cli: no MIDI system to reach a device through: the "
                                   "ALSA sequencer cannot be opened here (with a JACK server "
                                   "running, use --api jack).\n";
        cases.push_back({{"send", path}, noAlsa});
        cases.push_back({{"ports"}, noAlsa});
    }
#endif
    NoJackServer noServer;
    for (const Case& c : cases) {
        // The built program: what the libraries would print goes to its
        // standard error, which the test reads.
        clitest::ToolResult result = clitest::RunProgram(folder, c.args);
        EXPECT_EQ(result.status, 1) << c.args[0];
        EXPECT_EQ(result.err, c.sentence) << c.args[0];
        EXPECT_EQ(result.out, "") << c.args[0];
    }
    EXPECT_FALSE(clitest::fs::exists(folder.File("wire.bin")));
}
#endif

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

// The exit status comes from the sender's decision, not from its text, which
// the formatting limit cuts short for a long product name.
TEST(CliSendTest, ExitStatusHoldsForALongProductName) {
    const std::string product(260, 'P');
    ScratchFolder folder;
    std::string path = folder.File("long.upd");
    WriteFile(path, UpdateFileBuilder()
                        .Header(product, 1, 5)
                        .Portion({0xF0, 0x01, 0xF7}, 0)
                        .Settings("win:t:name:Pad:delay:0:unprepdelay:0")
                        .Data());
    struct Case {
        std::vector<std::string> options;
        int status;
    };
    const Case cases[] = {
        {{"--sim", "accept"}, 0},
        {{"--sim", "silent", "--sim-version", "1.05"}, 0},
        {{"--sim", "silent", "--sim-version", "1.04"}, 2},
        {{"--sim", "silent", "--sim-no-identity"}, 3},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"send",       path,  "--device",       "sim",
                                         "--sim-name", "Pad", "--virtual-time", "--yes"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        clitest::ToolResult result = RunInProcess(args);
        EXPECT_EQ(result.status, c.status) << c.options.back() << "\n" << result.out;
    }
}

// Only the last portion decides the outcome, but the tool says what went
// wrong with the earlier ones before it.
TEST(CliSendTest, WarnsAboutEarlierPortionsBeforeTheOutcome) {
    ScratchFolder folder;
    std::string path = folder.File("three.upd");
    WriteFile(path, UpdateFileBuilder()
                        .Header("Pad", 1, 5)
                        .Portion({0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7}, 0)
                        .Portion({0xF0, 0x04, 0xF7}, 0)
                        .Portion({0xF0, 0x05, 0xF7}, 0)
                        .Settings("win:t:ideal:2:max:8:delay:5:unprepdelay:5")
                        .Data());
    struct Case {
        std::vector<std::string> options;
        int status;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {{"--sim", "accept"}, 0, {}},
        {{"--sim", "fail,fail,accept"},
         0,
         {"Warning: portion 1 of 3 was reported failed by the device.",
          "Warning: portion 2 of 3 was reported failed by the device."}},
        // The last portion's failure is the outcome, not a warning.
        {{"--sim", "accept,accept,fail"}, 2, {}},
        // Unplugged after three bytes of the first portion: its second message
        // cannot go out.
        {{"--sim-unplug", "1:3:100"},
         0,
         {"Warning: portion 1 of 3 did not reach the device whole."}},
        // Unplugged inside the portion's last message, and inside the only
        // message of a portion: a message cut short did not go out whole.
        {{"--sim-unplug", "1:5:100"},
         0,
         {"Warning: portion 1 of 3 did not reach the device whole."}},
        {{"--sim-unplug", "2:1:100"},
         0,
         {"Warning: portion 2 of 3 did not reach the device whole."}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"send",       path,  "--device",       "sim",
                                         "--sim-name", "Pad", "--virtual-time", "--yes"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        clitest::ToolResult result = RunInProcess(args);
        SCOPED_TRACE(c.options[1]);
        EXPECT_EQ(result.status, c.status) << result.out;
        // The warnings come as lines of their own after the run, right
        // before the outcome.
        size_t runEnd = result.out.find('\n', result.out.find("Simulated time: "));
        ASSERT_NE(runEnd, std::string::npos) << result.out;
        std::string expected;
        for (const std::string& warning : c.warnings)
            expected += warning + "\n";
        std::string after = result.out.substr(runEnd + 1);
        EXPECT_EQ(after.substr(0, expected.size()), expected) << result.out;
        EXPECT_EQ(after.find("Warning: ", expected.size()), std::string::npos) << result.out;
    }
}

} // namespace
