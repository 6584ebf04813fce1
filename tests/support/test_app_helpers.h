// Fixtures of the application's tests: a stand-in for the main window that
// keeps what is posted to it, and a folder of files that goes away again.
#pragma once

#include "appmessages.h"
#include "appstate.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// One message taken from the stand-in window's queue; the heap text of the
// messages that carry one is taken over (and released) into `text`.
struct PostedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool hasText;
    std::string text;

    int Percent() const { return static_cast<int>(static_cast<INT_PTR>(wParam)); }
};

inline bool CarriesText(UINT message) {
    return message == WM_UPDATE_PROGRESS || message == WM_UPDATE_FAILED ||
           message == WM_UPDATE_SUMMARY || message == WM_UPDATE_COMPLETED;
}

// A message-only window takes the main window's place, so that whatever the
// code under test posts to the main window can be read back in order. The
// process-wide run state is reset around each test.
class MainWindowStandIn : public ::testing::Test {
protected:
    void SetUp() override {
        window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        ASSERT_NE(window, nullptr) << "no message-only window: " << GetLastError();
        savedWindow = mainWindow;
        mainWindow = window;
        bRunThread = false;
        bProgressIndeterminate = false;
    }

    void TearDown() override {
        Take();
        mainWindow = savedWindow;
        bRunThread = false;
        bProgressIndeterminate = false;
        if (window)
            DestroyWindow(window);
    }

    // Everything posted to the window so far, oldest first.
    std::vector<PostedMessage> Take() {
        std::vector<PostedMessage> taken;
        MSG msg;
        while (window && PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
            PostedMessage posted = {msg.message, msg.wParam, msg.lParam, false, ""};
            if (CarriesText(msg.message) && msg.lParam) {
                posted.hasText = true;
                posted.text = TakeText(msg.lParam);
            }
            taken.push_back(posted);
        }
        return taken;
    }

    HWND window = nullptr;
    HWND savedWindow = nullptr;
};

// A folder of its own under the temporary folder, removed with what it holds.
class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, base);
        static const unsigned runId = std::random_device()();
        static int counter = 0;
        path = std::string(base) +
               FormatText("kestrane-app-%lu-%08x-%d", GetCurrentProcessId(), runId, ++counter);
        CreateDirectoryA(path.c_str(), nullptr);
    }
    ~TempFolder() {
        for (const std::string& name : files)
            DeleteFileA((path + "\\" + name).c_str());
        RemoveDirectoryA(path.c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Writes a file into the folder; returns its full path.
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string full = path + "\\" + name;
        std::ofstream(full, std::ios::binary) << bytes;
        files.push_back(name);
        return full;
    }

    const std::string& Path() const { return path; }

private:
    std::string path;
    std::vector<std::string> files;
};

// Runs the code of one test with the working folder set to `folder`.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::string& folder) {
        GetCurrentDirectoryA(MAX_PATH, saved);
        SetCurrentDirectoryA(folder.c_str());
    }
    ~WorkingFolder() { SetCurrentDirectoryA(saved); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

private:
    char saved[MAX_PATH] = {};
};

// A folder of its own under the temporary folder, made, filled and removed
// through the wide functions in "\\?\" form: its paths may be longer than
// MAX_PATH and hold characters the ANSI code page lacks.
class WideTempFolder {
public:
    WideTempFolder() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        static const unsigned runId = std::random_device()();
        static int counter = 0;
        root = std::wstring(temp) + L"kestrane-wide-" + std::to_wstring(GetCurrentProcessId()) +
               L"-" + std::to_wstring(runId) + L"-" + std::to_wstring(++counter);
        CreateDirectoryW(Extended(root).c_str(), nullptr);
    }
    ~WideTempFolder() { Remove(root); }
    WideTempFolder(const WideTempFolder&) = delete;
    WideTempFolder& operator=(const WideTempFolder&) = delete;

    // Makes the folders root\names[0]\names[1]...; returns the last one.
    std::wstring MakeFolders(const std::vector<std::wstring>& names) const {
        std::wstring path = root;
        for (const std::wstring& name : names) {
            path += L"\\" + name;
            CreateDirectoryW(Extended(path).c_str(), nullptr);
        }
        return path;
    }

    // Writes a file at a full path; false when it could not be written.
    static bool Write(const std::wstring& path, const std::string& bytes) {
        HANDLE file = CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        const bool ok =
            WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
        CloseHandle(file);
        return ok;
    }

    const std::wstring& Path() const { return root; }

private:
    static std::wstring Extended(const std::wstring& path) { return L"\\\\?\\" + path; }

    static void Remove(const std::wstring& folder) {
        WIN32_FIND_DATAW found = {};
        HANDLE search = FindFirstFileW(Extended(folder + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Remove(folder + L"\\" + name);
                else
                    DeleteFileW(Extended(folder + L"\\" + name).c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(Extended(folder).c_str());
    }

    std::wstring root;
};

// What the program reads through an ANSI file name.
inline std::string ReadAnsiFile(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
