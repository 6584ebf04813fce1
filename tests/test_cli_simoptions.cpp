// kestrane-cli send: the emulated device's options are range-checked and
// refused with a message that names the option and its allowed values, and
// the record file can never be the update being sent.
#include "test_cli_helpers.h"
#include "testsupport.h"

#include <gtest/gtest.h>

namespace {

using clitest::ReadFile;
using clitest::RunInProcess;
using clitest::ScratchFolder;
using clitest::WriteFile;
namespace fs = clitest::fs;

// Portion 1 goes out as F0 01 02 F7 | F0 03 F7 (7 wire bytes), portion 2 as
// F0 04 F7.
std::string TwoPortionUpdate() {
    return UpdateFileBuilder()
        .Header("Pad", 1, 5)
        .Portion({0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7}, 0)
        .Portion({0xF0, 0x04, 0xF7}, 0)
        .Settings("win:t:ideal:2:max:8:delay:5:unprepdelay:5")
        .Data();
}

clitest::ToolResult Send(const std::string& path, const std::vector<std::string>& options) {
    std::vector<std::string> args = {"send",       path,  "--device",       "sim",
                                     "--sim-name", "Pad", "--virtual-time", "--yes"};
    args.insert(args.end(), options.begin(), options.end());
    return RunInProcess(args);
}

TEST(CliSimOptionsTest, NumbersOutsideTheirRangeAreRefused) {
    struct Case {
        std::vector<std::string> options;
        const char* message;
    };
    const std::string appear =
        "--sim-appear takes a number of milliseconds from 0 to 86400000 (24 hours), not '";
    const std::string unplug = "--sim-unplug takes PORTION:BYTES:MS with ";
    const Case cases[] = {
        // Once read as a time so far off that it overflowed to "now".
        {{"--sim-appear", "9223372036854775807"}, "not '9223372036854775807'"},
        {{"--sim-appear", "99999999999999999999999"}, "from 0 to 86400000 (24 hours)"},
        {{"--sim-appear", "86400001"}, "from 0 to 86400000 (24 hours)"},
        {{"--sim-appear", "-5"}, "not '-5'"},
        {{"--sim-appear", "+5"}, "not '+5'"},
        {{"--sim-appear", " 5"}, "not ' 5'"},
        {{"--sim-appear", ""}, "not ''"},
        {{"--sim-unplug", "3:0:100"}, "PORTION from 1 to 2 (the update's portions), not '3:0:100'"},
        {{"--sim-unplug", "0:0:100"}, "PORTION from 1 to 2"},
        {{"--sim-unplug", "18446744073709551617:0:100"}, "PORTION from 1 to 2"},
        {{"--sim-unplug", "1:8:100"},
         "BYTES from 0 to 7 (portion 1 on the wire, framing included), not '1:8:100'"},
        {{"--sim-unplug", "2:4:100"}, "BYTES from 0 to 3 (portion 2"},
        {{"--sim-unplug", "1:99999999999999999999:100"}, "BYTES from 0 to 7"},
        {{"--sim-unplug", "1:3:86400001"}, "MS from 0 to 86400000 (24 hours)"},
        {{"--sim-unplug", "1:3:9223372036854775808"}, "MS from 0 to 86400000"},
        {{"--sim-unplug", "1:3"}, "--sim-unplug takes PORTION:BYTES:MS, not '1:3'"},
        {{"--sim", "install10001"}, "--sim: \"install10001\": the install count must be from 0"},
    };
    ScratchFolder folder;
    const std::string path = folder.File("pad.upd");
    WriteFile(path, TwoPortionUpdate());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options[0] + " " + c.options[1]);
        clitest::ToolResult result = Send(path, c.options);
        EXPECT_EQ(result.status, kExitUsage) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        if (c.options[0] == "--sim-appear") {
            EXPECT_NE(result.err.find(appear), std::string::npos) << result.err;
        }
        if (c.options[0] == "--sim-unplug" && c.options[1] != "1:3") {
            EXPECT_NE(result.err.find(unplug), std::string::npos) << result.err;
        }
    }
}

TEST(CliSimOptionsTest, ValuesAtTheEdgesOfTheirRangeAreTaken) {
    ScratchFolder folder;
    const std::string path = folder.File("pad.upd");
    WriteFile(path, TwoPortionUpdate());
    struct Case {
        std::vector<std::string> options;
        const char* shown; // in the output, "" for nothing in particular
    };
    const Case cases[] = {
        // Leading zeros are only zeros.
        {{"--sim", "install000001"}, ""},
        {{"--sim-appear", "0000"}, ""},
        // The longest wait is honoured: the device appears a day later, not at once.
        {{"--sim-appear", "86400000"}, "Simulated time: 864"},
        // Unplugged after the last byte of the first portion: its answer is
        // lost, but the portion arrived whole.
        {{"--sim-unplug", "1:7:86400000"}, ""},
        {{"--sim-unplug", "2:0:0"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options[0] + " " + c.options[1]);
        clitest::ToolResult result = Send(path, c.options);
        EXPECT_NE(result.status, kExitUsage) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_NE(result.out.find(c.shown), std::string::npos) << result.out;
    }
}

TEST(CliSimOptionsTest, UnplugInAPortionWithoutBytesIsRefused) {
    ScratchFolder folder;
    const std::string path = folder.File("empty.upd");
    WriteFile(path, UpdateFileBuilder()
                        .Header("Pad", 1, 5)
                        .Portion({0xF0, 0x01, 0xF7}, 0)
                        .Portion({}, 0)
                        .Settings("win:t:delay:0:unprepdelay:0")
                        .Data());
    clitest::ToolResult result = Send(path, {"--sim-unplug", "2:0:100"});
    EXPECT_EQ(result.status, kExitUsage);
    EXPECT_NE(result.err.find("--sim-unplug names portion 2, which holds no bytes"),
              std::string::npos)
        << result.err;
}

// The record file is emptied before the first byte arrives; naming the
// update being sent, by whatever path, would destroy it.
TEST(CliSimOptionsTest, RecordNamingTheUpdateIsRefusedAndTouchesNothing) {
    ScratchFolder folder;
    const std::string path = folder.File("pad.upd");
    const std::string update = TwoPortionUpdate();
    WriteFile(path, update);
    fs::create_directory(folder.path / "sub");
    fs::create_hard_link(path, folder.path / "hard.upd");
    std::vector<std::string> records = {
        path,
        (folder.path / "sub" / ".." / "." / "pad.upd").string(),
        folder.File("hard.upd"),
    };
#ifndef _WIN32
    // Windows programs cannot make symbolic links (mingw's library has none).
    fs::create_symlink(path, folder.path / "link.upd");
    records.push_back(folder.File("link.upd"));
#endif
    for (const std::string& record : records) {
        SCOPED_TRACE(record);
        clitest::ToolResult result = Send(path, {"--sim-record", record});
        EXPECT_EQ(result.status, kExitUsage);
        EXPECT_NE(result.err.find("--sim-record names the update file ('" + record +
                                  "'); record to another file"),
                  std::string::npos)
            << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(ReadFile(path), update);
    }
#ifndef _WIN32
    // Sending through a link to the update, the update itself is refused too.
    clitest::ToolResult throughLink = Send(folder.File("link.upd"), {"--sim-record", path});
    EXPECT_EQ(throughLink.status, kExitUsage);
    EXPECT_EQ(ReadFile(path), update);
#endif

    // Another file is fine.
    clitest::ToolResult result = Send(path, {"--sim-record", folder.File("wire.bin")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadFile(folder.File("wire.bin")).size(), 10u);
}

} // namespace
