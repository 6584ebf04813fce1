#include "openfile.h"

#include "appmessages.h"
#include "appstate.h"
#include "apptexts.h"
#include "filenames.h"
#include "resource.h"
#include "update.h"
#include "updaterun.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <commdlg.h>

namespace {

// The update the confirmation dialog describes; set only while it is open.
const Update* theUpdate = nullptr;

const char kOpenFilter[] = "All supported files\0*.syx;*.upd\0"
                           "Update file (*.upd)\0*.upd\0"
                           "SysEx file (*.syx)\0*.syx\0"
                           "All files\0*\0";

void OnInitConfirmDialog(HWND dialog) {
    SetWindowTextA(dialog, ConfirmTitle(*theUpdate).c_str());
    SetDlgItemTextA(dialog, IDC_CONFIRM_TEXT, ConfirmQuestion(*theUpdate).c_str());
}

// Shows the confirmation dialog for `update`; theUpdate points at it meanwhile.
void ConfirmUpdate(const Update& update) {
    theUpdate = &update;
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_CONFIRM_UPDATE), mainWindow,
                    ConfirmUpdateDlgProc, 0);
    theUpdate = nullptr;
}

} // namespace

void HandOverStartupFile(const char* commandLine, bool debugConsole) {
    if (commandLine && commandLine[0] != '\0') {
        CopyFileName(updateFileName, UnquoteCommandLine(commandLine));
        PostMessageA(mainWindow, WM_COMMAND, ID_FILE_OPEN, 1);
        return;
    }
    if (debugConsole)
        return;
    const std::string found = FindFirstFileName("*.upd");
    if (!found.empty()) {
        CopyFileName(updateFileName, found);
        PostMessageA(mainWindow, WM_LOAD_UPDATE_FILE, 0, 1);
    }
}

void OnFileOpen(HWND window, LPARAM lParam) {
    if (bRunThread)
        return;
    if (lParam == 1)
        StartUpdate(mainWindow, updateFileName);
    else
        BrowseForUpdateFile(window);
}

void BrowseForUpdateFile(HWND window) {
    updateFileName[0] = '\0';
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window;
    ofn.hInstance = appInstance;
    ofn.lpstrFilter = kOpenFilter;
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = updateFileName;
    ofn.nMaxFile = sizeof updateFileName;
    ofn.Flags = 0;
    if (GetOpenFileNameA(&ofn))
        StartUpdate(window, updateFileName);
}

void OnDropFiles(HWND window, HDROP drop) {
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    char szNextFile[kFileNameSize];
    for (UINT i = 0; i < count; ++i) {
        if (DragQueryFileA(drop, i, szNextFile, sizeof szNextFile) > 0) {
            StartUpdate(window, szNextFile);
            break;
        }
    }
    DragFinish(drop);
}

void LoadAndConfirmUpdate(const char* filename) {
    assert(filename);
    assert(strlen(filename));
    try {
        std::ifstream file(filename, std::ios::binary);
        const Update update(file);
        SetWindowTextA(mainWindow, ConfirmTitle(update).c_str());
        ShowUpdateSummary(update);
        ConfirmUpdate(update);
    } catch (...) {
        theUpdate = nullptr;
        // Reported like a file that cannot be read on the other routes.
        ReportRunFailure();
    }
}

INT_PTR CALLBACK ConfirmUpdateDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    assert(theUpdate);
    switch (message) {
    case WM_INITDIALOG:
        OnInitConfirmDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(dialog, static_cast<INT_PTR>(wParam));
            StartUpdate(mainWindow, updateFileName);
            return TRUE;
        case IDCANCEL:
            // Declining the offered update quits the program.
            EndDialog(dialog, static_cast<INT_PTR>(wParam));
            exit(0);
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}
