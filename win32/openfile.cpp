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

// A run is going or being started, or one is offered: a file that arrives
// now is ignored.
bool IsBusy() {
    return bRunThread || theUpdate != nullptr;
}

// Shows the confirmation dialog for `update`; theUpdate points at it meanwhile.
// The window takes no files while the offer is open; once "Update Now" has
// started the run, the run's end gives them back.
void ConfirmUpdate(const Update& update) {
    theUpdate = &update;
    DragAcceptFiles(mainWindow, FALSE);
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_CONFIRM_UPDATE), mainWindow,
                    ConfirmUpdateDlgProc, 0);
    theUpdate = nullptr;
    if (!bRunThread)
        DragAcceptFiles(mainWindow, TRUE);
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
    if (IsBusy())
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
    // A drop made before the window stopped taking files still arrives.
    const UINT count = IsBusy() ? 0 : DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
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
    // "Close" ends the program: never offered during a run.
    if (IsBusy())
        return;
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
