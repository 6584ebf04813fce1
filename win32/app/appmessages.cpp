#include "appmessages.h"

#include "appstate.h"

#include <cstdlib>
#include <cstring>

void PostText(UINT message, WPARAM wParam, const std::string& text) {
    char* copy = _strdup(text.c_str());
    if (copy && !PostMessageA(mainWindow, message, wParam, reinterpret_cast<LPARAM>(copy)))
        free(copy);
}

std::string TakeText(LPARAM lParam) {
    char* text = reinterpret_cast<char*>(lParam);
    if (!text)
        return std::string();
    std::string copy(text);
    free(text);
    return copy;
}

void PostRunFailure(const std::string& reason) {
    PostText(WM_UPDATE_FAILED, kNoPercent, reason);
    PostMessageA(mainWindow, WM_UPDATE_ENDED, 0, 0);
}
