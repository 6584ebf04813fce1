// Shared by the command-line tool's tests: a scratch folder, file helpers and
// two ways to run the tool (in-process, and the built program).
#pragma once

#include "cli.h"
#include "commands.h"
#include "runprogram.h"
#include "update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace clitest {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with its content.
class ScratchFolder {
public:
    ScratchFolder() : path(FreshPath()) { fs::create_directories(path); }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string File(const std::string& name) const { return (path / name).string(); }

    // Names of everything in the folder, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        std::transform(
            fs::directory_iterator(path), fs::directory_iterator(), std::back_inserter(names),
            [](const fs::directory_entry& entry) { return entry.path().filename().string(); });
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path path;

private:
    static fs::path FreshPath() {
        std::random_device random;
        return fs::temp_directory_path() /
               ("kestrane-cli-test-" + std::to_string(random()) + std::to_string(random()));
    }
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline Update LoadUpdate(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Update(in);
}

struct ToolResult {
    int status;
    std::string out;
    std::string err;
};

// Runs the tool's logic in this process.
inline ToolResult RunInProcess(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    int status = RunCli(args, out, err);
    return {status, out.str(), err.str()};
}

#ifdef _WIN32
// kestrane-cli writes text as Windows programs do, each line ended with CR LF
// (its standard streams are in text mode). Gives the text with plain line
// feeds, as the tests expect it, and fails the test on a line ended by a bare
// line feed.
inline std::string PlainLineEnds(const std::string& text, const char* stream) {
    std::string plain;
    bool bare = false;
    for (size_t index = 0; index < text.size(); ++index) {
        if (text[index] == '\r' && index + 1 < text.size() && text[index + 1] == '\n')
            continue;
        bare = bare || (text[index] == '\n' && (index == 0 || text[index - 1] != '\r'));
        plain += text[index];
    }
    EXPECT_FALSE(bare) << stream << " has a line not ended by CR LF:\n" << text;
    return plain;
}
#endif

// Runs the built kestrane-cli with its output streams caught in files and its
// standard input empty.
inline ToolResult RunProgram(const ScratchFolder& folder, const std::vector<std::string>& args) {
    const std::string outPath = folder.File("program.out");
    const std::string errPath = folder.File("program.err");
    const int status = RunProgramToFiles(KESTRANE_CLI_PATH, args, outPath, errPath);
    ToolResult tool{status, ReadFile(outPath), ReadFile(errPath)};
#ifdef _WIN32
    tool.out = PlainLineEnds(tool.out, "standard output");
    tool.err = PlainLineEnds(tool.err, "standard error");
#endif
    // A process the tool started may still hold the files (under Wine, the
    // desktop process); they go with the scratch folder, or are left there.
    std::error_code ignored;
    fs::remove(outPath, ignored);
    fs::remove(errPath, ignored);
    return tool;
}

} // namespace clitest
