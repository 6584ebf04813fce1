// Fixtures of the application's tests: a stand-in for the main window that
// keeps what is posted to it, and a folder of files that goes away again.
#pragma once

#include "appmessages.h"
#include "appstate.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
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
