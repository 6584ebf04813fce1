// kestrane-guidriver: works the windows of a running Windows program from a
// script, under Wine without a window manager as on Windows. Run it in the
// same Wine prefix as the program.
//
//   kestrane-guidriver [-d DESKTOP] [-p PID] [-c CLASS] [-t MS] [-i MS] COMMAND ...
//
// Every command that names a window by its exact TITLE waits up to MS
// milliseconds (default 30000) for a visible top-level window with that
// title, of process PID and of class CLASS when given ("#32770" for dialogs
// and message boxes). With -d it works on the windows of that desktop (a
// Wine virtual desktop: wine explorer /desktop=NAME,WxH). Waiting looks
// every 50 ms, or every -i milliseconds (to load a measured program's Wine
// server less). Exit status 0 when it did what was asked, 1 when the window
// did not come or the command failed, 64 for a bad command line.
#include "guidriver.h"
#include "resource.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace guidriver;

namespace {

const char* const kUsage =
    "usage: kestrane-guidriver [-d DESKTOP] [-p PID] [-c CLASS] [-t MS] [-i MS] COMMAND ...\n"
    "  wait TITLE               wait for the window\n"
    "  gone TITLE               wait until no such window is left\n"
    "  text TITLE [ID]          print its title, or the text of control ID\n"
    "  press TITLE ID           press button ID (1 OK, 2 Cancel)\n"
    "  type TITLE ID TEXT       set the text of control ID\n"
    "  command TITLE ID         send menu command ID\n"
    "  close TITLE              close it, as its close box does\n"
    "  progress TITLE ID        print position, low and high of progress bar ID\n"
    "  windows                  list the visible top-level windows\n"
    "  answer FINAL [PORT]      play the user through a run: print each dialog or\n"
    "                           message box as it comes and answer it with OK (in\n"
    "                           the port dialog after picking PORT), up to one\n"
    "                           titled FINAL, which is printed and left open\n"
    "  probe-window             make a window and close it: 0 when windows can be made\n"
    "  startup RUNS PROGRAM [FOLDER]   (PROGRAM as a Windows path)\n"
    "                           start PROGRAM (in FOLDER) RUNS times and print the\n"
    "                           milliseconds until its first window of class -c\n"
    "                           is shown, then close it\n";

struct Target {
    DWORD processId = 0;
    std::string className;
    DWORD timeoutMs = 30000;
};

int Usage() {
    std::fputs(kUsage, stderr);
    return 64;
}

HWND Find(const Target& target, const std::string& title) {
    HWND window = WaitForTopWindow(target.processId, title, target.timeoutMs, target.className);
    if (!window) {
        std::fprintf(stderr, "kestrane-guidriver: no window '%s' within %lu ms; visible:\n%s",
                     title.c_str(), target.timeoutMs, DescribeWindows(target.processId).c_str());
    }
    return window;
}

int Startup(const Target& target, int runs, const std::string& program, const std::string& folder) {
    if (target.className.empty()) {
        std::fputs("kestrane-guidriver: startup needs -c CLASS, the main window's class\n", stderr);
        return 64;
    }
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        AppProcess app;
        AppProcess::Options options;
        options.program = program;
        options.workingFolder = folder;
        std::string error;
        LARGE_INTEGER frequency;
        LARGE_INTEGER start;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        if (!app.Start(options, error)) {
            std::fprintf(stderr, "kestrane-guidriver: %s\n", error.c_str());
            return 1;
        }
        HWND window = nullptr;
        // Polled often: the figure is the point of this command.
        const ULONGLONG end = GetTickCount64() + target.timeoutMs;
        while (!(window = FindTopWindowOfClass(app.Id(), target.className)) &&
               GetTickCount64() < end && app.IsRunning())
            Sleep(1);
        LARGE_INTEGER shown;
        QueryPerformanceCounter(&shown);
        if (!window) {
            std::fprintf(stderr, "kestrane-guidriver: no window of class '%s' within %lu ms\n",
                         target.className.c_str(), target.timeoutMs);
            return 1;
        }
        const double ms = 1000.0 * static_cast<double>(shown.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
        times.push_back(ms);
        std::printf("run %d: %.0f ms\n", run + 1, ms);
        std::fflush(stdout);
        AskToClose(window);
        DWORD code = 0;
        if (!app.WaitForExit(target.timeoutMs, code)) {
            std::fputs("kestrane-guidriver: the program did not end when closed\n", stderr);
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    if (!times.empty()) {
        std::printf("start-up to window shown: median %.0f ms, min %.0f ms, max %.0f ms\n",
                    times[times.size() / 2], times.front(), times.back());
    }
    return 0;
}

// Makes a window and closes it: 0 when it could.
int ProbeWindow() {
    HWND window = CreateWindowExA(0, "STATIC", "kestrane-guidriver probe", WS_POPUP, 0, 0, 8, 8,
                                  nullptr, nullptr, nullptr, nullptr);
    if (!window)
        return 1;
    DestroyWindow(window);
    return 0;
}

// Answers the program's boxes one after another, as a user who reads each
// and presses OK; a port dialog gets PORT picked first (its first entry
// stays picked when PORT is not among them), up to the box titled FINAL,
// which is left for the caller. -t limits the wait for each box.
int Answer(const Target& target, const std::string& final, const std::string& port) {
    for (;;) {
        HWND box = WaitForTopWindowOfClass(target.processId, kDialogClass, target.timeoutMs);
        if (!box) {
            std::fprintf(stderr, "kestrane-guidriver: no box within %lu ms; visible:\n%s",
                         target.timeoutMs, DescribeWindows(target.processId).c_str());
            return 1;
        }
        const std::string title = WindowText(box);
        std::printf("[%s]\n", title.c_str());
        if (HasControl(box, kMessageBoxTextId))
            std::printf("%s\n", ControlText(box, kMessageBoxTextId).c_str());
        if (HasControl(box, IDC_CONFIRM_TEXT))
            std::printf("%s\n", ControlText(box, IDC_CONFIRM_TEXT).c_str());
        if (HasControl(box, IDC_PORT_LIST)) {
            HWND list = GetDlgItem(box, IDC_PORT_LIST);
            const std::vector<std::string> items = ComboItems(list);
            for (size_t i = 0; i < items.size(); ++i) {
                if (items[i] == port)
                    SelectComboItem(list, static_cast<int>(i));
                std::printf("  port: %s\n", items[i].c_str());
            }
            const int picked = ComboSelection(list);
            std::printf("  picked: %s\n", picked >= 0 && static_cast<size_t>(picked) < items.size()
                                              ? items[static_cast<size_t>(picked)].c_str()
                                              : "(none)");
        }
        std::printf("\n");
        std::fflush(stdout);
        if (title == final)
            return 0;
        if (!PressButton(box, IDOK) ||
            !WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, target.timeoutMs)) {
            std::fprintf(stderr, "kestrane-guidriver: '%s' did not take the OK\n", title.c_str());
            return 1;
        }
    }
}

int Run(const Target& target, const std::vector<std::string>& args) {
    const std::string& command = args[0];
    if (command == "probe-window" && args.size() == 1)
        return ProbeWindow();
    if (command == "windows" && args.size() == 1) {
        std::fputs(DescribeWindows(target.processId).c_str(), stdout);
        return 0;
    }
    if (command == "startup" && (args.size() == 3 || args.size() == 4))
        return Startup(target, std::atoi(args[1].c_str()), args[2],
                       args.size() == 4 ? args[3] : "");
    if (args.size() < 2)
        return Usage();
    if (command == "answer" && args.size() <= 3)
        return Answer(target, args[1], args.size() == 3 ? args[2] : "");
    const std::string& title = args[1];
    const int id = args.size() > 2 ? std::atoi(args[2].c_str()) : 0;
    if (command == "gone" && args.size() == 2) {
        if (WaitUntil([&] { return !FindTopWindow(target.processId, title, target.className); },
                      target.timeoutMs))
            return 0;
        std::fprintf(stderr, "kestrane-guidriver: window '%s' still there\n", title.c_str());
        return 1;
    }
    const bool known =
        (command == "wait" && args.size() == 2) || (command == "text" && args.size() <= 3) ||
        ((command == "press" || command == "command" || command == "progress") &&
         args.size() == 3) ||
        (command == "type" && args.size() == 4) || (command == "close" && args.size() == 2);
    if (!known)
        return Usage();
    HWND window = Find(target, title);
    if (!window)
        return 1;
    if (command == "text") {
        if (args.size() == 3 && !HasControl(window, id)) {
            std::fprintf(stderr, "kestrane-guidriver: '%s' has no control %d\n", title.c_str(), id);
            return 1;
        }
        std::printf("%s\n", args.size() == 3 ? ControlText(window, id).c_str()
                                             : WindowText(window).c_str());
        return 0;
    }
    if (command == "press")
        return PressButton(window, id) ? 0 : 1;
    if (command == "type")
        return SetControlText(window, id, args[3]) ? 0 : 1;
    if (command == "command")
        return SendCommand(window, id) ? 0 : 1;
    if (command == "close")
        return AskToClose(window) ? 0 : 1;
    if (command == "progress") {
        HWND bar = GetDlgItem(window, id);
        const std::pair<int, int> range = ProgressRange(bar);
        std::printf("%d %d %d\n", ProgressPosition(bar), range.first, range.second);
        return bar ? 0 : 1;
    }
    return 0; // wait
}

} // namespace

int main(int argc, char** argv) {
    Target target;
    const char* desktopName = nullptr;
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == '-' && argv[i][1] && !argv[i][2]; i += 2) {
        switch (argv[i][1]) {
        case 'p':
            target.processId = static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10));
            break;
        case 'c':
            target.className = argv[i + 1];
            break;
        case 't':
            target.timeoutMs = static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10));
            break;
        case 'd':
            desktopName = argv[i + 1];
            break;
        case 'i':
            SetPollInterval(static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10)));
            break;
        default:
            return Usage();
        }
    }
    if (i >= argc)
        return Usage();
    if (desktopName) {
        // Window searches cover the calling thread's desktop, which may still
        // be on its way.
        HDESK desktop = nullptr;
        WaitUntil(
            [&] {
                desktop = OpenDesktopA(desktopName, 0, FALSE, GENERIC_ALL);
                return desktop != nullptr;
            },
            target.timeoutMs);
        if (!desktop || !SetThreadDesktop(desktop)) {
            std::fprintf(stderr, "kestrane-guidriver: cannot use desktop %s\n", desktopName);
            return 1;
        }
    }
    return Run(target, std::vector<std::string>(argv + i, argv + argc));
}
