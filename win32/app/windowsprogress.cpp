#include "windowsprogress.h"

#include "appmessages.h"
#include "appstate.h"
#include "apptexts.h"
#include "utils.h"

void WindowsUpdateProgress::Progress(float fraction) {
    LogText("Progress: %f\n", fraction);
    bProgressIndeterminate = false;
    PostMessageA(mainWindow, WM_UPDATE_PROGRESS, static_cast<WPARAM>(ProgressPercent(fraction)), 0);
}

void WindowsUpdateProgress::ProgressIndeterminate() {
    LogText("ProgressIndeterminate\n");
    bProgressIndeterminate = true;
    PostMessageA(mainWindow, WM_PROGRESS_TICK, 0, 0);
}

void WindowsUpdateProgress::Status(const std::string& text) {
    LogText("Status: %s\n", text.c_str());
    PostText(WM_UPDATE_PROGRESS, kNoPercent, text);
}

void WindowsUpdateProgress::Error(const std::string& text) {
    LogText("Error: %s\n", text.c_str());
    PostText(WM_UPDATE_FAILED, kNoPercent, text);
}

void WindowsUpdateProgress::Completed(const std::string& text) {
    LogText("Completed: %s\n", text.c_str());
    PostText(WM_UPDATE_COMPLETED, kNoPercent, text);
}

void WindowsUpdateProgress::BlockingMessage(const std::string& text) {
    LogText("BlockingMessage: %s\n", text.c_str());
    MessageBoxA(mainWindow, text.c_str(), "Important", MB_OK);
}
