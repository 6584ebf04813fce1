// kestrane-cli and the files around it: update files that cannot be opened or
// arrive through a pipe, and output that cannot be written.
#include "loadupdate.h"
#include "test_cli_helpers.h"
#include "testsupport.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <streambuf>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace clitest;
using nlohmann::json;

namespace {

const std::string kExampleUpdate = std::string(KESTRANE_SOURCE_DIR) + "/examples/example.upd";

// A stream buffer that takes nothing, as a full disk does.
class RefusingBuffer : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

} // namespace

#ifndef _WIN32

namespace {

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command line whose last command is the built program with
// `args`, its standard output going to `outTarget` (caught in a file when
// empty) and its standard error caught.
ToolResult RunProgramLine(const ScratchFolder& folder, const std::string& before,
                          const std::vector<std::string>& args, std::string outTarget = "") {
    const std::string outPath = folder.File("line.out");
    const std::string errPath = folder.File("line.err");
    if (outTarget.empty())
        outTarget = outPath;
    std::string command = before + Quote(KESTRANE_CLI_PATH);
    for (const std::string& arg : args)
        command += " " + Quote(arg);
    command += " >" + Quote(outTarget) + " 2>" + Quote(errPath);
    const int result = std::system(command.c_str());
    ToolResult tool{WIFEXITED(result) ? WEXITSTATUS(result) : -1, ReadFile(outPath),
                    ReadFile(errPath)};
    fs::remove(outPath);
    fs::remove(errPath);
    return tool;
}

} // namespace

// A file that cannot be opened is named with the system's reason, by info
// (text and JSON) and by send alike; the reader's own messages are for files
// it can read.
TEST(CliFiles, UpdatesThatCannotBeOpenedAreNamedWithTheReason) {
    ScratchFolder folder;
    fs::create_directories(folder.path / "folder.upd");
    WriteFile(folder.File("locked.upd"), ReadFile(kExampleUpdate));
    fs::permissions(folder.File("locked.upd"), fs::perms::none);
    struct Case {
        std::string file;
        std::string reason;
    };
    std::vector<Case> cases = {
        {folder.File("missing.upd"), "No such file or directory"},
        {folder.File("folder.upd"), "it is a folder, not a file"},
    };
    // root reads a file whatever its mode, so there the case cannot arise.
    if (geteuid() != 0)
        cases.push_back({folder.File("locked.upd"), "Permission denied"});
    for (const Case& c : cases) {
        const std::string message = "kestrane-cli: cannot open '" + c.file + "': " + c.reason;
        ToolResult text = RunInProcess({"info", c.file});
        EXPECT_EQ(text.status, kExitFailure);
        EXPECT_EQ(text.err, message + "\n");
        EXPECT_EQ(text.out, "");

        ToolResult asJson = RunInProcess({"info", "--json", c.file});
        EXPECT_EQ(asJson.status, kExitFailure);
        EXPECT_EQ(asJson.err, message + "\n");
        EXPECT_EQ(json::parse(asJson.out), json({{"error", message}})) << asJson.out;

        ToolResult send = RunInProcess({"send", c.file, "--device", "sim", "--virtual-time"});
        EXPECT_EQ(send.status, kExitFailure);
        EXPECT_EQ(send.err, message + "\n");
    }
    EXPECT_THROW(LoadUpdateFile(folder.File("missing.upd")), FileAccessError);
}

// The reader seeks; an update through a pipe is read whole first. A plain
// SysEx file is the harder case: the reader scans it and then reads it again.
TEST(CliFiles, UpdatesThroughAPipe) {
    ScratchFolder folder;
    const std::string sysEx("\xF0\x7D\x01\xF7\x00\xF0\x02\xF7", 8);
    WriteFile(folder.File("data.syx"), sysEx);
    for (const std::string& file : {kExampleUpdate, folder.File("data.syx")}) {
        const ToolResult direct = RunProgram(folder, {"info", "--json", file});
        ASSERT_EQ(direct.status, kExitOk) << direct.err;
        const ToolResult piped =
            RunProgramLine(folder, "cat " + Quote(file) + " | ", {"info", "--json", "/dev/stdin"});
        EXPECT_EQ(piped.status, kExitOk) << piped.err;
        EXPECT_EQ(piped.err, "");
        EXPECT_EQ(piped.out, direct.out);
    }

    // A FIFO in-process, through the loader itself.
    ASSERT_EQ(mkfifo(folder.File("pipe").c_str(), 0600), 0);
    std::thread writer([&folder, &sysEx] { WriteFile(folder.File("pipe"), sysEx); });
    const Update update = LoadUpdateFile(folder.File("pipe"));
    writer.join();
    EXPECT_TRUE(update.IsSysEx());
    ASSERT_EQ(update.GetPortionCount(), 1u);
    EXPECT_EQ(update.GetPortion(0).GetData(), Bytes(sysEx));

    // A source without end whose first bytes can begin no update is judged on
    // them, not read until the memory runs out.
    const ToolResult zeros = RunProgram(folder, {"info", "/dev/zero"});
    EXPECT_EQ(zeros.status, kExitFailure);
    EXPECT_EQ(zeros.err, "Update file was invalid (bad header).\n");
}

// Output that is lost fails the command: status 1 and the reason on standard
// error, whatever the command would have ended with.
TEST(CliFiles, OutputThatCannotBeWritten) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "this system has no /dev/full";
    ScratchFolder folder;
    const std::string message = "kestrane-cli: cannot write the output: No space left on device\n";
    const std::vector<std::vector<std::string>> commands = {
        {"help"},
        {"--version"},
        {"info", "--json", kExampleUpdate},
        {"info", kExampleUpdate},
        {"send", kExampleUpdate, "--device", "sim", "--virtual-time", "--yes"},
    };
    for (const std::vector<std::string>& args : commands) {
        ToolResult tool = RunProgramLine(folder, "", args, "/dev/full");
        EXPECT_EQ(tool.status, kExitFailure) << args[0];
        EXPECT_NE(tool.err.find(message), std::string::npos) << tool.err;

        ToolResult written = RunProgram(folder, args);
        EXPECT_EQ(written.status, kExitOk) << written.err;
    }

    // More output than the C library buffers, so that a write fails before
    // the final flush: the reason is still the first failure's.
    UpdateFileBuilder many;
    many.Header("Pad");
    for (int index = 0; index < 2000; ++index)
        many.Portion({0xF0, 0x01, 0xF7}, 0);
    WriteFile(folder.File("many.upd"), many.Data());
    ToolResult big = RunProgramLine(folder, "", {"info", folder.File("many.upd")}, "/dev/full");
    EXPECT_EQ(big.status, kExitFailure);
    EXPECT_EQ(big.err, message);
}

#endif // _WIN32

TEST(CliFiles, OutputStreamThatFailsInProcess) {
    RefusingBuffer refusing;
    std::ostream out(&refusing);
    std::ostringstream err;
    EXPECT_EQ(RunCli({"help"}, out, err), kExitFailure);
    EXPECT_EQ(err.str().rfind("kestrane-cli: cannot write the output", 0), 0u) << err.str();
}
