#include "portdialog.h"

#include "resource.h"

namespace {

// What SelectMidiPort shares with its dialog procedure (window thread only).
// The list keeps the names of the last selection until the next one.
std::vector<std::string> portList;
int portResult = 0;

void OnInitPortDialog(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
    for (const std::string& name : portList)
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    // The combo box's prefix search starts after item 0, so a later name that
    // begins with the first one is the one selected.
    if (!portList.empty())
        SendMessageA(list, CB_SELECTSTRING, 0, reinterpret_cast<LPARAM>(portList.front().c_str()));
}

} // namespace

int SelectMidiPort(const std::vector<std::string>& names, HWND owner, HINSTANCE instance) {
    portList = names;
    portResult = 0;
    // A dialog that could not be shown chose nothing.
    if (DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SELECT_PORT), owner, SelectPortDlgProc, 0) ==
        -1)
        return -1;
    return portResult;
}

INT_PTR CALLBACK SelectPortDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitPortDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            portResult =
                static_cast<int>(SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_GETCURSEL, 0, 0));
            EndDialog(dialog, static_cast<INT_PTR>(wParam));
            return TRUE;
        case IDCANCEL:
            portResult = -1;
            EndDialog(dialog, static_cast<INT_PTR>(wParam));
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}
