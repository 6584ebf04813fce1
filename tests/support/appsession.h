// One run of the real Kestrane.exe for an end-to-end test: a fresh working
// folder, the emulated device configured through the virtual MIDI driver's
// environment variables, the program started and watched through its windows,
// and what the device received read back afterwards.
#pragma once

#include "guidriver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Time limits. A correct run takes a small part of each; they only keep a
// broken program from holding the test run.
constexpr DWORD kWindowMs = 60000; // a window that follows from an action
constexpr DWORD kRunMs = 120000;   // a whole transfer, up to its final box
constexpr DWORD kExitMs = 30000;   // the process ending once asked to

// The product that the test updates name; the emulated device carries its
// name, so that the program finds it by the update's port names.
extern const char* const kProduct;

// The texts a user sees, word for word.
extern const char* const kFailedPrefix;  // the failure box, before the reason
extern const char* const kClickToStart;  // after an update's own message
extern const char* const kPreparingText; // the box between two portions
extern const char* const kSysExInstructions;

// SysEx messages F0 7D <seed> ... F7 of `size` bytes each, `count` of them.
std::vector<uint8_t> SysExData(size_t count, size_t size, uint8_t seed);

// An update file's bytes: the product, version 1.05, the message, the
// portions (data, delay in ms) and an optional port settings text.
std::string UpdateFile(const std::string& message,
                       const std::vector<std::pair<std::vector<uint8_t>, uint32_t>>& portions,
                       const std::string& settings = "");

// What the device must receive for this update or SysEx file: each portion
// cut into chunks as the sender cuts it and framed as the port frames it.
std::vector<uint8_t> ExpectedWire(const std::string& fileBytes);

std::string Hex(const std::vector<uint8_t>& bytes);

// The host's path of a Windows path, from Wine's own conversion ("" when
// there is none).
std::string HostPath(const std::string& windowsPath);

class AppSession : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a file into the working folder; returns its full path.
    std::string WriteFile(const std::string& name, const std::string& bytes);
    // The same for any path below the working folder, made with its folders
    // through the wide functions: `name` is UTF-8 and may be longer than
    // MAX_PATH or hold characters the ANSI code page lacks. Returns the full
    // path in UTF-8 (the working folder's own name is plain ASCII).
    std::string WriteFileAnywhere(const std::string& name, const std::string& bytes);
    // Sets (or with "" removes) a variable of the program's environment.
    void SetEnv(const std::string& name, const std::string& value);
    // Starts Kestrane.exe with this command line after the program's name,
    // in the working folder, and waits for its main window.
    void Start(const std::string& arguments);

    // Starts Kestrane.exe through a command line as the shell would run it
    // (the program's path first, as a file type's open command names it).
    void StartCommand(const std::string& commandLine);
    // Opens a file the way a double-click in Explorer does, through the shell
    // and the file type's association (Wine's start /unix, with the file's
    // host path), and waits for the main window of the program at `appPath`
    // that this starts.
    void OpenThroughShell(const std::string& path, const std::string& appPath);

    // The main window (class "Kestrane"), once Start has found it.
    HWND Main() const { return mainWindow; }
    std::string StatusRow() const;
    std::string SummaryRow() const;
    int Progress() const;
    int WindowHeight() const;

    // Waits for a dialog or message box of the program with this title;
    // fails the test (returning null) when none comes in time.
    HWND WaitForBox(const std::string& title, DWORD timeoutMs = kWindowMs);
    // The box's text (a message box's, or the given control's).
    static std::string BoxText(HWND box, int id = guidriver::kMessageBoxTextId);
    // Presses a button and waits until the box has gone.
    void Press(HWND box, int id);
    // Waits for the box that ends a run, checks its text, closes it and waits
    // until the window takes files again.
    void FinishRun(const std::string& outcome);
    // Shows the About box and closes it again. The window handles its
    // messages in order, so once the box has shown, everything sent or
    // dropped to it before has been handled.
    void WaitUntilHandled();
    // Polls until the row shows this text.
    bool WaitForStatus(const std::string& text, DWORD timeoutMs = kWindowMs) const;

    // Closes the main window and returns the exit code (fails the test when
    // the program does not end).
    DWORD CloseAndWait();
    DWORD WaitForExit();

    // How a drop names its files. Wine hands file names only to a window
    // that is enabled; URLs, as a file manager's drag brings them, reach the
    // window also while a modal box of the program has disabled it.
    enum class DropAs { FileNames, Urls };
    // Drops files (Windows paths) onto the main window, as a file manager
    // does through the X server, after moving the window into the screen's
    // top left corner; true once the program has handled the drop (taken or
    // refused it).
    bool DropFiles(const std::vector<std::string>& paths, DropAs as = DropAs::FileNames);
    // Whether the dropping program (kestrane-xdrop) was built.
    static bool CanDrop();
    // Whether the main window takes dropped files now.
    bool AcceptsFiles() const;

    std::vector<uint8_t> Record() const;
    // The program's windows, for failure messages.
    std::string Windows() const;

    std::string folder;     // the working folder, with a trailing backslash
    std::string recordPath; // what the device receives
    guidriver::AppProcess app;
    std::vector<std::pair<std::string, std::string>> environment;

private:
    // What a program started for this session gets: the working folder and
    // the session's environment. An empty `program` means `arguments` is the
    // whole command line.
    guidriver::AppProcess::Options ProcessOptions(const std::string& program,
                                                  const std::string& arguments) const;
    // Starts Kestrane.exe that way and waits for its main window.
    void Launch(const std::string& program, const std::string& arguments);
    // Where a drop lands on the main window (screen coordinates).
    bool DropPoint(POINT& point) const;

    HWND mainWindow = nullptr;
};
