#include "openfile.h"

#include "ansipath.h"
#include "appmessages.h"
#include "appstate.h"
#include "apptexts.h"
#include "filenames.h"
#include "resource.h"
#include "update.h"
#include "updaterun.h"
#include "utils.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <commdlg.h>

namespace {

// The update the confirmation dialog describes; set only while it is open.
const Update* theUpdate = nullptr;

const wchar_t kOpenFilter[] = L"All supported files\0*.syx;*.upd\0"
                              L"Update file (*.upd)\0*.upd\0"
                              L"SysEx file (*.syx)\0*.syx\0"
                              L"All files\0*\0";

// Room for the longest path the wide functions take.
constexpr DWORD kWidePathSize = 32768;

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

// The name under which the file at `path` is opened, or false after the
// failure box has been posted with the reason the path cannot be used.
bool UsableFileName(const std::wstring& path, std::string& name) {
    const AnsiFileName chosen = AnsiFileNameOf(path);
    if (!chosen.Usable()) {
        const std::string reason = UnusablePathText(chosen.tooLong, chosen.strange);
        LogText("Cannot use the update file's path: %s\n", reason.c_str());
        PostRunFailure(reason);
        return false;
    }
    name = chosen.name;
    return true;
}

} // namespace

void HandOverStartupFile(const wchar_t* arguments, bool debugConsole) {
    if (arguments && arguments[0] != L'\0') {
        std::string name;
        if (UsableFileName(UnquoteCommandLine(arguments), name)) {
            CopyFileName(updateFileName, name);
            PostMessageA(mainWindow, WM_COMMAND, ID_FILE_OPEN, 1);
        }
        return;
    }
    if (debugConsole)
        return;
    const std::wstring found = FindFirstFileName(L"*.upd");
    std::string name;
    if (!found.empty() && UsableFileName(found, name)) {
        CopyFileName(updateFileName, name);
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
    // The wide dialog: the ANSI one gives '?' for characters the code page
    // lacks and nothing at all for a path longer than its buffer.
    std::vector<wchar_t> chosen(kWidePathSize, L'\0');
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window;
    ofn.hInstance = appInstance;
    ofn.lpstrFilter = kOpenFilter;
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = chosen.data();
    ofn.nMaxFile = kWidePathSize;
    ofn.Flags = 0;
    if (!GetOpenFileNameW(&ofn))
        return;
    std::string name;
    if (UsableFileName(chosen.data(), name)) {
        CopyFileName(updateFileName, name);
        StartUpdate(window, updateFileName);
    }
}

void OnDropFiles(HWND window, HDROP drop) {
    // A drop made before the window stopped taking files still arrives.
    const UINT count = IsBusy() ? 0 : DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        if (length == 0)
            continue;
        std::vector<wchar_t> path(length + 1, L'\0');
        if (DragQueryFileW(drop, i, path.data(), length + 1) > 0) {
            std::string name;
            if (UsableFileName(path.data(), name))
                StartUpdate(window, name.c_str());
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
