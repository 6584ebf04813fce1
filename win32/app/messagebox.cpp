#include "messagebox.h"

namespace {

// The hook of the one box being shown, and the window it is centred over.
HHOOK centringHook = nullptr;
HWND centringOwner = nullptr;

// Moves the box as it is activated, then removes itself.
LRESULT CALLBACK CentringHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HCBT_ACTIVATE) {
        CallNextHookEx(centringHook, code, wParam, lParam);
        return 0;
    }
    HWND box = reinterpret_cast<HWND>(wParam);
    RECT desktop;
    RECT owner;
    RECT boxRect;
    if (centringOwner && box && GetWindowRect(GetDesktopWindow(), &desktop) &&
        GetWindowRect(centringOwner, &owner) && GetWindowRect(box, &boxRect)) {
        const POINT position = CenteredBoxPosition(desktop, owner, boxRect);
        MoveWindow(box, position.x, position.y, boxRect.right - boxRect.left,
                   boxRect.bottom - boxRect.top, FALSE);
    }
    UnhookWindowsHookEx(centringHook);
    centringHook = nullptr;
    return 0;
}

} // namespace

POINT CenteredBoxPosition(const RECT& desktop, const RECT& owner, const RECT& box) {
    const LONG boxWidth = box.right - box.left;
    const LONG boxHeight = box.bottom - box.top;
    const LONG centreX = owner.left + (owner.right - owner.left) / 2;
    const LONG centreY = owner.top + (owner.bottom - owner.top) / 2;
    POINT position = {centreX - boxWidth / 2, centreY - boxHeight / 2};
    if (position.x < 0)
        position.x = 0;
    if (position.y < 0)
        position.y = 0;
    if (position.x + boxWidth > desktop.right)
        position.x = desktop.right - boxWidth;
    if (position.y + boxHeight > desktop.bottom)
        position.y = desktop.bottom - boxHeight;
    return position;
}

int CenteredMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    centringOwner = owner;
    centringHook = SetWindowsHookExA(WH_CBT, CentringHookProc, nullptr, GetCurrentThreadId());
    const int result = MessageBoxA(owner, text, caption, type);
    centringOwner = nullptr;
    // A box that never became active (MessageBoxA failed) left the hook in place.
    if (centringHook) {
        UnhookWindowsHookEx(centringHook);
        centringHook = nullptr;
    }
    return result;
}
