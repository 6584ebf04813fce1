// Shared by the command-line tool's tests: a scratch folder, file helpers and
// two ways to run the tool (in-process, and the built program).
#pragma once

#include "commands.h"
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

#ifndef _WIN32
#include <sys/wait.h>
#endif

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

// Runs the built kestrane-cli with its output streams caught in files.
inline ToolResult RunProgram(const ScratchFolder& folder, const std::vector<std::string>& args) {
    auto quote = [](const std::string& text) {
#ifdef _WIN32
        return "\"" + text + "\"";
#else
        std::string quoted = "'";
        for (char c : text)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
#endif
    };
    std::string command = quote(KESTRANE_CLI_PATH);
    for (const std::string& arg : args)
        command += " " + quote(arg);
    const std::string outPath = folder.File("program.out");
    const std::string errPath = folder.File("program.err");
    command += " >" + quote(outPath) + " 2>" + quote(errPath);
    int result = std::system(command.c_str());
#ifdef _WIN32
    int status = result;
#else
    int status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
#endif
    ToolResult tool{status, ReadFile(outPath), ReadFile(errPath)};
    fs::remove(outPath);
    fs::remove(errPath);
    return tool;
}

} // namespace clitest
