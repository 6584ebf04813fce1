#include "guidriver.h"

#include <commctrl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace guidriver {

const char* const kDialogClass = "#32770";

namespace {

// Cross-process messages wait at most this long for the window's thread. A
// reading that gives up comes back empty and fails the test that asked, so the
// limit is generous and a busy thread is waited for, not taken for hung: a
// loaded machine must make the tests slower, never red.
constexpr UINT kSendTimeoutMs = 30000;
constexpr UINT kSendFlags = SMTO_NORMAL;

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// This process's environment with the overrides applied, as the block that
// CreateProcess takes (without CREATE_UNICODE_ENVIRONMENT): "NAME=value" texts, each terminated,
// and one more terminator at the end.
std::string EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& overrides) {
    std::vector<std::string> entries;
    if (char* block = GetEnvironmentStringsA()) {
        for (const char* entry = block; *entry; entry += std::string(entry).size() + 1)
            entries.emplace_back(entry);
        FreeEnvironmentStringsA(block);
    }
    for (const auto& variable : overrides) {
        for (auto it = entries.begin(); it != entries.end();) {
            const size_t equals = it->find('=', 1);
            if (equals != std::string::npos && SameName(it->substr(0, equals), variable.first))
                it = entries.erase(it);
            else
                ++it;
        }
        if (!variable.second.empty())
            entries.push_back(variable.first + "=" + variable.second);
    }
    std::string block;
    for (const std::string& entry : entries) {
        block += entry;
        block += '\0';
    }
    block += '\0';
    return block;
}

std::wstring WideText(UINT codePage, const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int length =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                            length);
    return wide;
}

LRESULT SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool& ok) {
    DWORD_PTR result = 0;
    ok = SendMessageTimeoutA(window, message, wParam, lParam, kSendFlags, kSendTimeoutMs,
                             &result) != 0;
    return static_cast<LRESULT>(result);
}

struct EnumState {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopWindow(HWND window, LPARAM parameter) {
    EnumState& state = *reinterpret_cast<EnumState*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((state.processId == 0 || owner == state.processId) && IsWindowVisible(window))
        state.windows.push_back(window);
    return TRUE;
}

BOOL CALLBACK DescribeChild(HWND child, LPARAM parameter) {
    std::string& text = *reinterpret_cast<std::string*>(parameter);
    char line[64];
    std::snprintf(line, sizeof line, "\n    control %d %s: ", GetDlgCtrlID(child),
                  WindowClass(child).c_str());
    text += line;
    text += "'" + WindowText(child) + "'";
    return TRUE;
}

} // namespace

AppProcess::~AppProcess() {
    Kill();
}

bool AppProcess::Start(const Options& options, std::string& error) {
    Kill();
    std::string environment = EnvironmentBlock(options.environment);
    // The wide call: the arguments may name paths the ANSI code page lacks.
    const std::wstring program = WideText(CP_ACP, options.program);
    std::wstring wideCommandLine = WideText(CP_UTF8, options.arguments);
    if (!options.program.empty())
        wideCommandLine = WideText(CP_ACP, "\"" + options.program + "\"") +
                          (options.arguments.empty() ? L"" : L" " + wideCommandLine);
    const std::wstring workingFolder = WideText(CP_ACP, options.workingFolder);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    const BOOL started =
        CreateProcessW(program.empty() ? nullptr : program.c_str(), &wideCommandLine[0], nullptr,
                       nullptr, FALSE, 0, &environment[0],
                       workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info);
    const DWORD failure = GetLastError();
    if (!started) {
        char text[128];
        std::snprintf(text, sizeof text, "CreateProcess failed with error %lu", failure);
        error = text;
        info = {};
        return false;
    }
    return true;
}

bool AppProcess::Adopt(DWORD processId) {
    Kill();
    info.hProcess =
        OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!info.hProcess)
        return false;
    info.dwProcessId = processId;
    return true;
}

bool AppProcess::IsRunning() const {
    return info.hProcess && WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT;
}

bool AppProcess::WaitForExit(DWORD timeoutMs, DWORD& code) {
    if (!info.hProcess || WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return false;
    return GetExitCodeProcess(info.hProcess, &code) != 0;
}

void AppProcess::Kill() {
    if (!info.hProcess)
        return;
    if (IsRunning()) {
        TerminateProcess(info.hProcess, 255);
        WaitForSingleObject(info.hProcess, 10000);
    }
    if (info.hThread)
        CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    info = {};
}

namespace {
DWORD pollIntervalMs = 50;
} // namespace

void SetPollInterval(DWORD ms) {
    pollIntervalMs = ms;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(pollIntervalMs);
    }
}

std::vector<HWND> TopWindows(DWORD processId) {
    EnumState state{processId, {}};
    EnumWindows(CollectTopWindow, reinterpret_cast<LPARAM>(&state));
    return state.windows;
}

HWND FindTopWindow(DWORD processId, const std::string& title, const std::string& className) {
    const std::vector<HWND> windows = TopWindows(processId);
    auto it = std::find_if(windows.begin(), windows.end(), [&](HWND window) {
        return WindowText(window) == title &&
               (className.empty() || WindowClass(window) == className);
    });
    return it != windows.end() ? *it : nullptr;
}

HWND WaitForTopWindow(DWORD processId, const std::string& title, DWORD timeoutMs,
                      const std::string& className) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = FindTopWindow(processId, title, className);
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

HWND FindTopWindowOfClass(DWORD processId, const std::string& className) {
    const std::vector<HWND> windows = TopWindows(processId);
    auto it = std::find_if(windows.begin(), windows.end(),
                           [&](HWND window) { return WindowClass(window) == className; });
    return it != windows.end() ? *it : nullptr;
}

HWND WaitForTopWindowOfClass(DWORD processId, const std::string& className, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = FindTopWindowOfClass(processId, className);
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

std::string WindowText(HWND window) {
    // GetWindowTextA reads another process's window text without sending it
    // a message, so a busy window thread cannot hold it up.
    char text[4096] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string WindowClass(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string ControlText(HWND parent, int id) {
    HWND control = GetDlgItem(parent, id);
    return control ? WindowText(control) : std::string();
}

bool HasControl(HWND parent, int id) {
    return GetDlgItem(parent, id) != nullptr;
}

bool SetControlText(HWND parent, int id, const std::string& text) {
    HWND control = GetDlgItem(parent, id);
    // Sent wide, so that any character of the UTF-8 text arrives.
    const std::wstring wide = WideText(CP_UTF8, text);
    DWORD_PTR result = 0;
    const bool ok =
        SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
                            kSendFlags, kSendTimeoutMs, &result) != 0;
    return control && ok && result == TRUE;
}

bool PressButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != 0;
}

bool SendCommand(HWND window, int id) {
    return PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) != 0;
}

bool AskToClose(HWND window) {
    return PostMessageA(window, WM_CLOSE, 0, 0) != 0;
}

int ProgressPosition(HWND bar) {
    bool ok = false;
    const LRESULT position = SendWithTimeout(bar, PBM_GETPOS, 0, 0, ok);
    return ok ? static_cast<int>(position) : -1;
}

std::pair<int, int> ProgressRange(HWND bar) {
    bool lowOk = false;
    bool highOk = false;
    const LRESULT low = SendWithTimeout(bar, PBM_GETRANGE, TRUE, 0, lowOk);
    const LRESULT high = SendWithTimeout(bar, PBM_GETRANGE, FALSE, 0, highOk);
    if (!lowOk || !highOk)
        return {-1, -1};
    return {static_cast<int>(low), static_cast<int>(high)};
}

std::vector<std::string> ComboItems(HWND combo) {
    // Across processes Wine hands item texts back in UTF-16 whatever the
    // caller asked for: ask for that, into a buffer far larger than any item.
    std::vector<std::string> items;
    bool ok = false;
    const LRESULT count = SendWithTimeout(combo, CB_GETCOUNT, 0, 0, ok);
    if (!ok || count == CB_ERR)
        return items;
    for (LRESULT i = 0; i < count; ++i) {
        std::vector<WCHAR> buffer(4096, 0);
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer.data()),
                                 kSendFlags, kSendTimeoutMs, &length) ||
            static_cast<LRESULT>(length) == CB_ERR)
            break;
        char text[4096] = {};
        WideCharToMultiByte(CP_ACP, 0, buffer.data(), -1, text, sizeof text - 1, nullptr, nullptr);
        items.emplace_back(text);
    }
    return items;
}

int ComboSelection(HWND combo) {
    bool ok = false;
    const LRESULT selection = SendWithTimeout(combo, CB_GETCURSEL, 0, 0, ok);
    return ok ? static_cast<int>(selection) : -1;
}

bool SelectComboItem(HWND combo, int index) {
    bool ok = false;
    const LRESULT result = SendWithTimeout(combo, CB_SETCURSEL, index, 0, ok);
    return ok && result == index;
}

std::string DescribeWindows(DWORD processId) {
    std::string text;
    for (HWND window : TopWindows(processId)) {
        text += "  window " + WindowClass(window) + ": '" + WindowText(window) + "'";
        if (WindowClass(window) == kDialogClass)
            EnumChildWindows(window, DescribeChild, reinterpret_cast<LPARAM>(&text));
        text += "\n";
    }
    return text.empty() ? "  (no visible window)\n" : text;
}

} // namespace guidriver
