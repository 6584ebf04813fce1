// The harness that runs the built tools in their own process: every argument
// must reach the program exactly as the test wrote it, on Windows too, where
// the command line is one string that the program's C runtime splits again.
#include "runprogram.h"
#include "test_cli_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace clitest;

TEST(RunProgram, ArgumentsArriveUnchanged) {
    ScratchFolder folder;
    const std::vector<std::string> args = {
        "plain",        "two words",       "",
        "say \"hi\"",   "\"quoted\"",      "trailing backslash\\",
        "C:\\folder\\", "C:\\two words\\", "backslashes\\\\\"then a quote",
        "tab\there",    "'single quotes'", "%PATH% $HOME ^ & | < > ( ) ;",
    };
    const std::string outPath = folder.File("echo.out");
    const std::string errPath = folder.File("echo.err");
    const int status = RunProgramToFiles(KESTRANE_ECHO_ARGS_PATH, args, outPath, errPath);

    EXPECT_EQ(status, static_cast<int>(args.size()));
    std::vector<std::string> received;
    const std::string out = ReadFile(outPath);
    for (size_t start = 0, end; (end = out.find('\0', start)) != std::string::npos; start = end + 1)
        received.push_back(out.substr(start, end - start));
    EXPECT_EQ(received, args);
    EXPECT_EQ(ReadFile(errPath), "err");
}

// What the C runtime's rules ask for, case by case; the run above checks the
// same rules against the real runtime.
TEST(RunProgram, WindowsCommandLineQuoting) {
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const Case cases[] = {
        {{"a", "b"}, "a b"},
        {{"two words"}, "\"two words\""},
        {{""}, "\"\""},
        {{"C:\\folder\\"}, "C:\\folder\\"},
        {{"C:\\two words\\"}, "\"C:\\two words\\\\\""},
        {{"a\\\"b"}, "\"a\\\\\\\"b\""},
        {{"a\\\\b c"}, "\"a\\\\b c\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WindowsCommandLine(c.args), c.line) << c.line;
}

} // namespace
