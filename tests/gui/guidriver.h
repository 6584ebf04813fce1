// Drives the windows of another process the way a user would see and use
// them: finds its top-level windows by title, reads their texts, presses
// buttons and menu commands, reads the progress bar. Everything goes through
// plain user32 calls and posted or sent messages, so it works on Windows and
// under Wine without a window manager (where nothing can be activated).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace guidriver {

// One program run: started with a command line, a working folder and
// environment variables of its own; killed when the object goes while it
// still runs, so a failed test leaves nothing behind.
class AppProcess {
public:
    struct Options {
        std::string program;   // path of the .exe; empty when `arguments` is the whole
                               // command line and names the program first
        std::string arguments; // the command line after the program, as it is, in UTF-8
        std::string workingFolder;
        // Set (or, with an empty value, removed) in the program's environment,
        // on top of this process's own.
        std::vector<std::pair<std::string, std::string>> environment;
    };

    AppProcess() = default;
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // False with the reason in `error` when the program could not be started.
    bool Start(const Options& options, std::string& error);
    // Takes on a process that another one started (the shell, say), to wait
    // for it and end it like one started here; false when it cannot be opened.
    bool Adopt(DWORD processId);
    DWORD Id() const { return info.dwProcessId; }
    HANDLE Handle() const { return info.hProcess; }
    bool IsRunning() const;
    // True when the program ended within `timeoutMs`; its exit code in `code`.
    bool WaitForExit(DWORD timeoutMs, DWORD& code);
    void Kill();

private:
    PROCESS_INFORMATION info = {};
};

// Polls `condition` every poll interval (50 ms unless set) until it holds or
// `timeoutMs` has passed; returns its last answer.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
void SetPollInterval(DWORD ms);

// The visible top-level windows of a process (0: of every process), in
// z-order, top first.
std::vector<HWND> TopWindows(DWORD processId);

// The first visible top-level window of the process with exactly this title
// (and this class, when one is given), or null.
HWND FindTopWindow(DWORD processId, const std::string& title, const std::string& className = "");
// The same, polling until it appears or `timeoutMs` has passed.
HWND WaitForTopWindow(DWORD processId, const std::string& title, DWORD timeoutMs,
                      const std::string& className = "");
// The first visible top-level window of the process of this class, whatever
// its title, or null; and the same, polling.
HWND FindTopWindowOfClass(DWORD processId, const std::string& className);
HWND WaitForTopWindowOfClass(DWORD processId, const std::string& className, DWORD timeoutMs);

// The class name dialogs and message boxes have.
extern const char* const kDialogClass;
// The control id of a message box's text.
constexpr int kMessageBoxTextId = 0xFFFF;

std::string WindowText(HWND window);
std::string WindowClass(HWND window);
// The text of the child control with this id ("" when there is none).
std::string ControlText(HWND parent, int id);
bool HasControl(HWND parent, int id);
// Types a UTF-8 text into a control (an edit field, or a combo box's), as
// WM_SETTEXT.
bool SetControlText(HWND parent, int id, const std::string& text);

// Presses a button of a dialog or message box, as a click does.
bool PressButton(HWND dialog, int id);
// A menu command (or any WM_COMMAND without a control) to a window.
bool SendCommand(HWND window, int id);
// Asks a window to close, as its close box does.
bool AskToClose(HWND window);

// A progress bar's position and range; -1 when the control does not answer.
int ProgressPosition(HWND bar);
std::pair<int, int> ProgressRange(HWND bar);

// A drop-down list's items and its selection (-1 for none).
std::vector<std::string> ComboItems(HWND combo);
int ComboSelection(HWND combo);
bool SelectComboItem(HWND combo, int index);

// Every visible top-level window of the process, one line each with its
// class, title and (for dialogs) its controls' texts: for failure messages.
std::string DescribeWindows(DWORD processId);

} // namespace guidriver
