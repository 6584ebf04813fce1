// Programs run by the JACK tests in the background: output in files, no
// input, a time limit on every wait, and killed when the test's object goes
// or the test process dies.
#pragma once

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// Generous limit for a program to stop; no test depends on it being tight.
constexpr int64_t kStopLimitMs = 30000;

// A whole file, empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A program run in the background with its output in files and no input. It
// is killed when the object goes, and with this process if that dies first.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& args, const std::string& outPath,
                 const std::string& errPath) {
        std::vector<char*> argv(args.size() + 1, nullptr);
        std::transform(args.begin(), args.end(), argv.begin(),
                       [](const std::string& arg) { return const_cast<char*>(arg.c_str()); });
        const pid_t parent = getpid();
        pid = fork();
        if (pid == 0) {
            // Only calls that are safe between fork and exec.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
                dup2(err, 2) < 0)
                _exit(127);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~ChildProcess() {
        if (Running()) {
            kill(pid, SIGKILL);
            Wait(kStopLimitMs);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid > 0; }
    bool Running() { return Started() && !exited && Wait(0) == kStillRunning; }

    // The exit status once the process has ended within `ms`; kStillRunning
    // when it has not, -1 when it ended by a signal.
    int Wait(int64_t ms) {
        const int64_t end = NowMs() + ms;
        while (Started() && !exited) {
            int raw = 0;
            const pid_t done = waitpid(pid, &raw, WNOHANG);
            if (done == pid) {
                exited = true;
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
                break;
            }
            if (done < 0 || NowMs() >= end)
                return done < 0 ? -1 : kStillRunning;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return status;
    }

    // Asks the process to stop (SIGTERM) and waits for it; kills it when it
    // does not stop in time.
    int Stop() {
        if (!Running())
            return Wait(0);
        kill(pid, SIGTERM);
        const int result = Wait(kStopLimitMs);
        if (result == kStillRunning) {
            kill(pid, SIGKILL);
            Wait(kStopLimitMs);
        }
        return result;
    }

    static constexpr int kStillRunning = -1000;

private:
    pid_t pid = -1;
    bool exited = false;
    int status = -1;
};
