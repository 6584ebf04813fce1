#include "mainwindow.h"

#include "appmessages.h"
#include "appstate.h"
#include "apptexts.h"
#include "background.h"
#include "messagebox.h"
#include "mididevices.h"
#include "openfile.h"
#include "resource.h"
#include "updaterun.h"

#include <string>

#include <commctrl.h>
#include <shellapi.h>

namespace {

const char kClassName[] = "Kestrane";
const int kDefaultPictureWidth = 500;
const int kDefaultPictureHeight = 200;
const UINT kProgressTimerMs = 40;

// Outer window sizes: as first laid out, and grown by the three rows.
SIZE compactSize = {0, 0};
SIZE expandedSize = {0, 0};

HWND CreateRow(HWND window, const char* className, DWORD style, int id, const RECT& client, int row,
               int index, const char* text) {
    return CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, client.left,
                           client.bottom + index * row, client.right, row, window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), appInstance, nullptr);
}

void LoadBackground(HWND window) {
    backgroundBitmap = LoadPngResourceBitmap(IDB_BACKGROUND);
    if (!backgroundBitmap)
        MessageBoxA(window, "Failed to load background image", "Error", MB_OK);
}

SIZE PictureSize() {
    BITMAP bm = {};
    HBITMAP bitmap = backgroundBitmap;
    if (bitmap && GetObjectA(bitmap, sizeof bm, &bm))
        return {bm.bmWidth, bm.bmHeight};
    return {kDefaultPictureWidth, kDefaultPictureHeight};
}

// The rows lie below the picture, outside the client area until the window
// grows.
void CreateRows(HWND window, int row) {
    RECT client = {};
    GetClientRect(window, &client);
    progressBar =
        CreateRow(window, PROGRESS_CLASSA, PBS_SMOOTH, IDC_PROGRESS_BAR, client, row, 0, nullptr);
    SendMessageA(progressBar, PBM_SETPOS, 0, 0);
    statusLine =
        CreateRow(window, "STATIC", 0, IDC_STATUS_LINE, client, row, 1, "Waiting for update file.");
    summaryLine = CreateRow(window, "STATIC", 0, IDC_SUMMARY_LINE, client, row, 2,
                            "No update file has been loaded yet.");
    if (HGDIOBJ font = GetStockObject(ANSI_VAR_FONT)) {
        SendMessageA(statusLine, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        SendMessageA(summaryLine, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
}

void OnCreate(HWND window) {
    mainWindow = window;
    LoadStringA(appInstance, IDS_COPYRIGHT, copyrightNotice, sizeof copyrightNotice);
    LoadStringA(appInstance, IDS_CAPTION, caption, sizeof caption);
    SetWindowTextA(window, caption);

    LoadBackground(window);
    const int row = GetSystemMetrics(SM_CYVSCROLL);
    const SIZE picture = PictureSize();
    SetClientSize(window, picture.cx, picture.cy);

    RECT frame = {};
    GetWindowRect(window, &frame);
    compactSize = {frame.right - frame.left, frame.bottom - frame.top};
    expandedSize = {compactSize.cx, compactSize.cy + 3 * row};

    CreateRows(window, row);
    ListInterfaces();
    CenterWindowOnScreen(window);
    SetRunLayout(window, false);
}

void OnPaint(HWND window) {
    PAINTSTRUCT paint;
    if (HDC dc = BeginPaint(window, &paint))
        DrawBitmap(dc, backgroundBitmap, 0, 0);
    EndPaint(window, &paint);
}

// The window moves but keeps its height.
void OnMoving(RECT* proposed) {
    proposed->bottom = proposed->top + (bExpanded ? expandedSize.cy : compactSize.cy);
}

void OnAbout(HWND window) {
    CenteredMessageBox(window, AboutText(caption, copyrightNotice).c_str(), "About",
                       MB_ICONINFORMATION);
}

void OnCommand(HWND window, int id, LPARAM lParam) {
    switch (id) {
    case ID_FILE_OPEN:
        OnFileOpen(window, lParam);
        break;
    case IDCANCEL:
    case IDCLOSE:
        if (!bRunThread)
            SendMessageA(window, WM_CLOSE, 0, 0);
        break;
    case ID_HELP_ABOUT:
        OnAbout(window);
        break;
    default:
        break;
    }
}

void OnUpdateProgress(WPARAM wParam, LPARAM lParam) {
    const int percent = static_cast<int>(static_cast<INT_PTR>(wParam));
    if (percent >= 0)
        SendMessageA(progressBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    if (lParam)
        SetWindowTextA(statusLine, UpdatingText(TakeText(lParam)).c_str());
}

void OnUpdateFailed(HWND window, LPARAM lParam) {
    CenteredMessageBox(window, FailureText(TakeText(lParam)).c_str(), caption, MB_ICONERROR);
}

void OnUpdateEnded(HWND window) {
    bRunThread = false;
    SetRunLayout(window, false);
}

void OnUpdateSummary(LPARAM lParam) {
    SetWindowTextA(summaryLine, TakeText(lParam).c_str());
}

void OnProgressTick(HWND window) {
    if (!bProgressIndeterminate)
        return;
    indeterminatePos = NextIndeterminatePos(indeterminatePos);
    SendMessageA(progressBar, PBM_SETPOS, static_cast<WPARAM>(indeterminatePos), 0);
    SetTimer(window, PROGRESS_TIMER_ID, kProgressTimerMs, ProgressTimerProc);
}

void OnUpdateCompleted(HWND window, LPARAM lParam) {
    const std::string text = TakeText(lParam);
    SetWindowTextA(statusLine, CompletedText(text).c_str());
    MessageBoxA(window, text.c_str(), caption, MB_ICONINFORMATION);
}

} // namespace

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXA wndclassex = {};
    wndclassex.cbSize = sizeof wndclassex;
    wndclassex.style = CS_HREDRAW | CS_VREDRAW;
    wndclassex.lpfnWndProc = MainWindowProc;
    wndclassex.hInstance = instance;
    wndclassex.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wndclassex.hIconSm = wndclassex.hIcon;
    wndclassex.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wndclassex.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wndclassex.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
    wndclassex.lpszClassName = kClassName;
    return RegisterClassExA(&wndclassex) != 0;
}

HWND CreateMainWindow(HINSTANCE instance) {
    return CreateWindowExA(0, kClassName, "", WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                           nullptr, instance, nullptr);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        break;
    case WM_PAINT:
        OnPaint(window);
        break;
    case WM_ERASEBKGND:
        return 1; // the picture covers the client area
    case WM_MOVING:
        OnMoving(reinterpret_cast<RECT*>(lParam));
        return TRUE;
    case WM_DROPFILES:
        OnDropFiles(window, reinterpret_cast<HDROP>(wParam));
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam), lParam);
        return 0;
    case WM_UPDATE_PROGRESS:
        OnUpdateProgress(wParam, lParam);
        break;
    case WM_UPDATE_FAILED:
        OnUpdateFailed(window, lParam);
        break;
    case WM_UPDATE_ENDED:
        OnUpdateEnded(window);
        break;
    case WM_UPDATE_SUMMARY:
        OnUpdateSummary(lParam);
        break;
    case WM_PROGRESS_TICK:
        OnProgressTick(window);
        break;
    case WM_UPDATE_COMPLETED:
        OnUpdateCompleted(window, lParam);
        break;
    case WM_LOAD_UPDATE_FILE:
        LoadAndConfirmUpdate(updateFileName);
        break;
    case WM_PICTURE_REPLACED:
        OnPictureReplaced(lParam);
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void SetRunLayout(HWND window, bool running) {
    if (running) {
        SetWindowTextA(statusLine, "");
        SendMessageA(progressBar, PBM_SETPOS, 0, 0);
        SetWindowPos(window, nullptr, 0, 0, expandedSize.cx, expandedSize.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        bExpanded = true;
    }
    DragAcceptFiles(window, running ? FALSE : TRUE);
}

void CenterWindowOnScreen(HWND window) {
    RECT frame = {};
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    if (x < 0)
        x = 0;
    if (y < 0)
        y = 0;
    MoveWindow(window, x, y, width, height, FALSE);
}

void SetClientSize(HWND window, int width, int height) {
    RECT frame = {};
    RECT client = {};
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    const int frameWidth = (frame.right - frame.left) - (client.right - client.left);
    const int frameHeight = (frame.bottom - frame.top) - (client.bottom - client.top);
    MoveWindow(window, frame.left, frame.top, width + frameWidth, height + frameHeight, TRUE);
}

void CALLBACK ProgressTimerProc(HWND window, UINT /*message*/, UINT_PTR id, DWORD /*time*/) {
    if (bProgressIndeterminate) {
        PostMessageA(mainWindow, WM_PROGRESS_TICK, 0, 0);
        return;
    }
    // The animation has ended: stop ticking until the next indeterminate
    // phase, whose first step arms the timer again. A timer left running
    // would wake the idle window 25 times a second for nothing.
    KillTimer(window, id);
}
