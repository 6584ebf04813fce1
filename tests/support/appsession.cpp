#include "appsession.h"

#include "resource.h"
#include "sendupdate.h"
#include "sysexframing.h"
#include "testsupport.h"
#include "update.h"
#include "utils.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

using namespace guidriver;

const char* const kProduct = "Kestrane Test Unit";
const char* const kFailedPrefix = "The update failed for the following reason:\n\n";
const char* const kClickToStart = "\n\nClick OK to start.";
const char* const kPreparingText =
    "Preparing your update...\n\n1. Please release the SHIFT key.\n2. Switch off your Dravo "
    "hardware.\n3. Wait five seconds.\n4. Switch your Dravo hardware back on.\n5. Press OK.";
const char* const kSysExInstructions =
    "To apply this update file, please detach all MIDI devices from your computer, and shut down "
    "all other MIDI applications.\n\nThen plug in your device and put it into update mode. Refer "
    "to the User's Manual for details on how to do this.\n\nWhen the device is ready to accept an "
    "update, you can start the update process.\n";

namespace {

// Every variable through which the virtual MIDI driver is configured: each
// test starts from none of them, whatever the test run's environment holds.
const char* const kDriverVariables[] = {
    "KESTRANE_SIM_NAME",      "KESTRANE_SIM_OUT_NAME",    "KESTRANE_SIM_IN_NAME",
    "KESTRANE_SIM_NUMBER",    "KESTRANE_SIM_DECOYS",      "KESTRANE_SIM_OUT_DECOYS",
    "KESTRANE_SIM_IN_DECOYS", "KESTRANE_SIM_UPDATE",      "KESTRANE_SIM_SCRIPT",
    "KESTRANE_SIM_VERSION",   "KESTRANE_SIM_NO_IDENTITY", "KESTRANE_SIM_APPEAR",
    "KESTRANE_SIM_UNPLUG",    "KESTRANE_SIM_RECORD",      "KESTRANE_SIM_BAUD",
    "KESTRANE_SIM_SESSION",   "KESTRANE_SIM_SEND",        "KESTRANE_SIM_LOG"};

// A folder no earlier run has used: Wine reuses process ids quickly.
std::string FreshFolder() {
    static int counter = 0;
    static const unsigned runId = std::random_device()();
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder =
        std::string(temp) +
        FormatText("kestrane-gui-%lu-%08x-%d\\", GetCurrentProcessId(), runId, ++counter);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

std::wstring Widen(UINT codePage, const std::string& text) {
    const int length = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), -1, wide.data(), length);
    return wide.data();
}

// Removes a folder with everything in it; `folder` ends in a backslash. In
// "\\?\" form, as the tests' folders may hold paths longer than MAX_PATH.
void RemoveFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((L"\\\\?\\" + folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolder(folder + name + L"\\");
            else
                DeleteFileW((L"\\\\?\\" + folder + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW((L"\\\\?\\" + folder).c_str());
}

} // namespace

std::vector<uint8_t> SysExData(size_t count, size_t size, uint8_t seed) {
    std::vector<uint8_t> data;
    for (size_t message = 0; message < count; ++message) {
        data.push_back(0xF0);
        data.push_back(0x7D);
        for (size_t i = 2; i + 1 < size; ++i)
            data.push_back(static_cast<uint8_t>((seed + message * 13 + i * 7) & 0x7F));
        data.push_back(0xF7);
    }
    return data;
}

std::string UpdateFile(const std::string& message,
                       const std::vector<std::pair<std::vector<uint8_t>, uint32_t>>& portions,
                       const std::string& settings) {
    UpdateFileBuilder builder;
    builder.Header(kProduct, 1, 5, message);
    for (const auto& portion : portions)
        builder.Portion(portion.first, portion.second);
    if (!settings.empty())
        builder.Settings(settings);
    return builder.Data();
}

std::vector<uint8_t> ExpectedWire(const std::string& fileBytes) {
    std::istringstream stream(fileBytes);
    const Update update(stream);
    const PortSettings& settings = update.GetPortSettings();
    std::vector<uint8_t> wire;
    for (size_t i = 0; i < update.GetPortionCount(); ++i) {
        const std::vector<uint8_t>& data = update.GetPortion(i).GetData();
        ByteRange remaining{data.data(), data.data() + data.size()};
        while (!remaining.IsEmpty()) {
            const ByteRange chunk = NextChunk(remaining, settings.ideal, settings.max);
            const std::vector<uint8_t> message =
                WireMessage(chunk.start, chunk.Size(), settings.chunks);
            wire.insert(wire.end(), message.begin(), message.end());
            remaining.AdvanceStart(chunk.Size());
        }
    }
    return wire;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t byte : bytes)
        text += FormatText("%02X", byte);
    return text;
}

void AppSession::SetUp() {
    char display[256] = {};
    if (!GetEnvironmentVariableA("DISPLAY", display, sizeof display))
        FAIL() << "no X display: the program's windows need one (the xvfb fixture, "
                  "tools/env/xvfb-env.sh, provides it)";
    folder = FreshFolder();
    recordPath = folder + "device.rec";
    for (const char* name : kDriverVariables)
        SetEnv(name, "");
    SetEnv("KESTRANE_SIM_NAME", kProduct);
    SetEnv("KESTRANE_SIM_RECORD", recordPath);
    SetEnv("KESTRANE_SIM_SCRIPT", "accept");
}

void AppSession::TearDown() {
    if (app.IsRunning())
        ADD_FAILURE() << "Kestrane.exe still ran at the end of the test; windows:\n" << Windows();
    app.Kill();
    if (!folder.empty())
        RemoveFolder(Widen(CP_ACP, folder));
}

std::string AppSession::WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = folder + name;
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(file.good()) << path;
    return path;
}

std::string AppSession::WriteFileAnywhere(const std::string& name, const std::string& bytes) {
    const std::wstring path = Widen(CP_ACP, folder) + Widen(CP_UTF8, name);
    // The folders on the way, each in "\\?\" form.
    for (size_t end = path.find(L'\\', 3); end != std::wstring::npos;
         end = path.find(L'\\', end + 1))
        CreateDirectoryW((L"\\\\?\\" + path.substr(0, end)).c_str(), nullptr);
    HANDLE file = CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << name << ": error " << GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
        EXPECT_TRUE(
            ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        CloseHandle(file);
    }
    return folder + name;
}

void AppSession::SetEnv(const std::string& name, const std::string& value) {
    auto it = std::find_if(environment.begin(), environment.end(),
                           [&](const std::pair<std::string, std::string>& variable) {
                               return variable.first == name;
                           });
    if (it != environment.end())
        it->second = value;
    else
        environment.emplace_back(name, value);
}

void AppSession::Start(const std::string& arguments) {
    Launch(KESTRANE_APP_PATH, arguments);
}

void AppSession::StartCommand(const std::string& commandLine) {
    Launch("", commandLine);
}

AppProcess::Options AppSession::ProcessOptions(const std::string& program,
                                               const std::string& arguments) const {
    AppProcess::Options options;
    options.program = program;
    options.arguments = arguments;
    options.workingFolder = folder;
    options.environment = environment;
    return options;
}

void AppSession::Launch(const std::string& program, const std::string& arguments) {
    std::string error;
    ASSERT_TRUE(app.Start(ProcessOptions(program, arguments), error))
        << program << " " << arguments << ": " << error;
    mainWindow = WaitForTopWindowOfClass(app.Id(), "Kestrane", kWindowMs);
    ASSERT_NE(mainWindow, nullptr) << "no main window; windows:\n" << Windows();
}

namespace {

// The full path of the program a process runs, "" when it cannot be read.
std::string ProgramOf(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return "";
    char path[MAX_PATH * 2] = {};
    DWORD size = sizeof path;
    const BOOL known = QueryFullProcessImageNameA(process, 0, path, &size);
    CloseHandle(process);
    return known ? path : "";
}

struct ProgramWindowSearch {
    std::string program;
    HWND found = nullptr;
};

BOOL CALLBACK FindProgramWindow(HWND window, LPARAM searchAddress) {
    auto* search = reinterpret_cast<ProgramWindowSearch*>(searchAddress);
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (std::string(className) == "Kestrane" &&
        lstrcmpiA(ProgramOf(processId).c_str(), search->program.c_str()) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

void AppSession::OpenThroughShell(const std::string& path, const std::string& appPath) {
    const std::string hostPath = HostPath(path);
    ASSERT_FALSE(hostPath.empty()) << path;
    // Other tests' copies of the program may be running at the same time:
    // the window wanted is the one of the program at appPath.
    ProgramWindowSearch search;
    search.program = appPath;
    AppProcess shell;
    const AppProcess::Options options = ProcessOptions("", "start.exe /unix \"" + hostPath + "\"");
    std::string error;
    ASSERT_TRUE(shell.Start(options, error)) << options.arguments << ": " << error;
    DWORD code = 0;
    ASSERT_TRUE(shell.WaitForExit(kWindowMs, code)) << options.arguments << " did not end";
    ASSERT_EQ(code, 0u) << options.arguments;
    WaitUntil(
        [&] {
            EnumWindows(FindProgramWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        kWindowMs);
    ASSERT_NE(search.found, nullptr)
        << "no main window of " << appPath << " after opening " << path;
    DWORD processId = 0;
    GetWindowThreadProcessId(search.found, &processId);
    ASSERT_TRUE(app.Adopt(processId)) << "cannot open process " << processId;
    mainWindow = search.found;
}

std::string AppSession::StatusRow() const {
    return ControlText(mainWindow, IDC_STATUS_LINE);
}

std::string AppSession::SummaryRow() const {
    return ControlText(mainWindow, IDC_SUMMARY_LINE);
}

int AppSession::Progress() const {
    return ProgressPosition(GetDlgItem(mainWindow, IDC_PROGRESS_BAR));
}

int AppSession::WindowHeight() const {
    RECT rect = {};
    GetWindowRect(mainWindow, &rect);
    return rect.bottom - rect.top;
}

HWND AppSession::WaitForBox(const std::string& title, DWORD timeoutMs) {
    HWND box = WaitForTopWindow(app.Id(), title, timeoutMs, kDialogClass);
    if (!box)
        ADD_FAILURE() << "no box '" << title << "' within " << timeoutMs << " ms; windows:\n"
                      << Windows();
    return box;
}

std::string AppSession::BoxText(HWND box, int id) {
    return ControlText(box, id);
}

void AppSession::Press(HWND box, int id) {
    ASSERT_TRUE(PressButton(box, id));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, kWindowMs))
        << "the box stayed after button " << id;
}

void AppSession::FinishRun(const std::string& outcome) {
    HWND done = WaitForBox("Kestrane", kRunMs);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(BoxText(done), outcome);
    ASSERT_NO_FATAL_FAILURE(Press(done, IDOK));
    EXPECT_TRUE(WaitUntil([&] { return AcceptsFiles(); }, kWindowMs));
}

void AppSession::WaitUntilHandled() {
    ASSERT_TRUE(SendCommand(mainWindow, ID_HELP_ABOUT));
    HWND about = WaitForBox("About");
    ASSERT_NE(about, nullptr);
    ASSERT_NO_FATAL_FAILURE(Press(about, IDOK));
}

bool AppSession::WaitForStatus(const std::string& text, DWORD timeoutMs) const {
    return WaitUntil([&] { return StatusRow() == text; }, timeoutMs);
}

DWORD AppSession::CloseAndWait() {
    EXPECT_TRUE(AskToClose(mainWindow));
    return WaitForExit();
}

DWORD AppSession::WaitForExit() {
    DWORD code = 0;
    if (!app.WaitForExit(kExitMs, code)) {
        ADD_FAILURE() << "Kestrane.exe did not end; windows:\n" << Windows();
        app.Kill();
        return 0xFFFFFFFF;
    }
    return code;
}

std::string HostPath(const std::string& windowsPath) {
    // cppcheck-suppress cstyleCast ; a function pointer type, not a cast
    using Convert = char*(CDECL*)(const WCHAR*);
    const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert)
        return "";
    const int length = MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, nullptr, 0);
    std::vector<WCHAR> wide(static_cast<size_t>(length));
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(), length);
    char* converted = convert(wide.data());
    if (!converted)
        return "";
    std::string path = converted;
    HeapFree(GetProcessHeap(), 0, converted);
    return path;
}

bool AppSession::CanDrop() {
#ifdef KESTRANE_XDROP_PATH
    return true;
#else
    return false;
#endif
}

// A point of the main window's client area that no other window of the
// program covers: the picture, below the menu bar, else a corner of the client
// area (a box centred over the window may hide the picture).
bool AppSession::DropPoint(POINT& point) const {
    RECT window = {};
    RECT client = {};
    GetWindowRect(mainWindow, &window);
    GetClientRect(mainWindow, &client);
    MapWindowPoints(mainWindow, nullptr, reinterpret_cast<POINT*>(&client), 2);
    const POINT candidates[] = {{(window.left + window.right) / 2, window.top + 60},
                                {client.left + 10, client.bottom - 10},
                                {client.right - 10, client.bottom - 10},
                                {client.left + 10, client.top + 10},
                                {client.right - 10, client.top + 10}};
    std::vector<RECT> others;
    for (HWND other : TopWindows(app.Id())) {
        RECT rect = {};
        if (other != mainWindow && IsWindowVisible(other) && GetWindowRect(other, &rect))
            others.push_back(rect);
    }
    for (const POINT& candidate : candidates) {
        const bool covered = std::any_of(others.begin(), others.end(), [&](const RECT& rect) {
            return PtInRect(&rect, candidate);
        });
        if (!covered && PtInRect(&client, candidate)) {
            point = candidate;
            return true;
        }
    }
    return false;
}

bool AppSession::DropFiles(const std::vector<std::string>& paths, DropAs as) {
#ifndef KESTRANE_XDROP_PATH
    (void)paths;
    (void)as;
    ADD_FAILURE() << "kestrane-xdrop was not built (it needs the X11 headers: libx11-dev)";
    return false;
#else
    static int drops = 0;
    char display[256] = {};
    GetEnvironmentVariableA("DISPLAY", display, sizeof display);
    const std::string done = folder + FormatText("drop-%d.done", ++drops);
    // Wine looks for the window under a drop only when the pointer's screen
    // position lies within the window's size, as if the window sat in the
    // screen's corner: move this program's window into the corner,
    // away from the windows of the other tests' programs, which sit in the
    // screen's middle.
    SetWindowPos(mainWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    RECT rect = {};
    if (!WaitUntil(
            [&] {
                GetWindowRect(mainWindow, &rect);
                return rect.left == 0 && rect.top == 0;
            },
            kWindowMs)) {
        ADD_FAILURE() << "the window did not move into the corner";
        return false;
    }
    // Wine names the window's X window in a property of it; the drop goes
    // to that window alone.
    const HANDLE xWindow = GetPropA(mainWindow, "__wine_x11_whole_window");
    if (!xWindow) {
        ADD_FAILURE() << "the window has no X window";
        return false;
    }
    POINT point = {};
    if (!DropPoint(point)) {
        ADD_FAILURE() << "every point of the window lies under another of its program's "
                         "windows; windows:\n"
                      << Windows();
        return false;
    }
    std::string commandLine =
        FormatText("kestrane-xdrop %s%s 0x%llx %ld %ld ", as == DropAs::Urls ? "--urls " : "",
                   display, static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(xWindow)),
                   point.x, point.y) +
        HostPath(done);
    for (const std::string& path : paths)
        commandLine += " " + HostPath(path);
    EXPECT_EQ(commandLine.find("  "), std::string::npos) << "a path Wine cannot convert";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(KESTRANE_XDROP_PATH, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        ADD_FAILURE() << "cannot start " << KESTRANE_XDROP_PATH << ": error " << GetLastError();
        return false;
    }
    // Under Wine a host program's handles cannot be waited on.
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    std::string status;
    WaitUntil(
        [&] {
            std::ifstream file(done);
            std::getline(file, status);
            return !status.empty();
        },
        kWindowMs);
    EXPECT_EQ(status, "0") << commandLine;
    return status == "0";
#endif
}

bool AppSession::AcceptsFiles() const {
    return (GetWindowLongA(mainWindow, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
}

std::vector<uint8_t> AppSession::Record() const {
    std::ifstream file(recordPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>());
}

std::string AppSession::Windows() const {
    return DescribeWindows(app.Id());
}
