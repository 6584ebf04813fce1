#include "runprogram.h"

#include <algorithm>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cstdlib>
#include <sys/wait.h>
#endif

namespace {

std::string QuoteWindowsArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
        return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count as text unless a quote follows them.
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    // The closing quote follows: the backslashes before it are doubled too.
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

} // namespace

std::string WindowsCommandLine(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty())
            line += ' ';
        line += QuoteWindowsArgument(arg);
    }
    return line;
}

#ifdef _WIN32

namespace {

// A handle the child process inherits; closed when it goes out of scope.
class InheritedFile {
public:
    InheritedFile(const std::string& path, DWORD access, DWORD disposition) {
        SECURITY_ATTRIBUTES inherit{};
        inherit.nLength = sizeof(inherit);
        inherit.bInheritHandle = TRUE;
        handle = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~InheritedFile() {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    InheritedFile(const InheritedFile&) = delete;
    InheritedFile& operator=(const InheritedFile&) = delete;

    HANDLE handle;
};

} // namespace

// CreateProcess directly: a command line handed to cmd loses its outer quotes.
int RunProgramToFiles(const std::string& program, const std::vector<std::string>& args,
                      const std::string& outPath, const std::string& errPath) {
    std::string path = program;
    std::replace(path.begin(), path.end(), '/', '\\');
    std::vector<std::string> words = {path};
    words.insert(words.end(), args.begin(), args.end());
    std::string commandLine = WindowsCommandLine(words);

    InheritedFile in("NUL", GENERIC_READ, OPEN_EXISTING);
    InheritedFile out(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    InheritedFile err(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    if (in.handle == INVALID_HANDLE_VALUE || out.handle == INVALID_HANDLE_VALUE ||
        err.handle == INVALID_HANDLE_VALUE)
        return -1;

    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.handle;
    startup.hStdOutput = out.handle;
    startup.hStdError = err.handle;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    DWORD status = 0;
    const bool exited = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                        GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    return exited ? static_cast<int>(status) : -1;
}

#else

int RunProgramToFiles(const std::string& program, const std::vector<std::string>& args,
                      const std::string& outPath, const std::string& errPath) {
    auto quote = [](const std::string& text) {
        std::string quoted = "'";
        for (char c : text)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    };
    std::string command = quote(program);
    for (const std::string& arg : args)
        command += " " + quote(arg);
    command += " </dev/null >" + quote(outPath) + " 2>" + quote(errPath);
    const int result = std::system(command.c_str());
    return WIFEXITED(result) ? WEXITSTATUS(result) : -1;
}

#endif
