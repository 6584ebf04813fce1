// Kestrane.exe: the entry point. Starts GDI+ and the common controls, opens
// the debug console when Ctrl is held, creates the main window, hands it a
// file from the command line or the working directory, and runs the message
// loop until the window is closed.
#include "appstate.h"
#include "filenames.h"
#include "mainwindow.h"
#include "openfile.h"

#include <cstdio>

#include <commctrl.h>
#include <objidl.h>

#include <gdiplus.h>

namespace {

const char kAppName[] = "Kestrane";

// A console for the log: the process's standard output is redirected into it.
// The C stream itself is reopened on the console rather than a descriptor
// copied onto stdout's: what descriptor a window program's stdout has, if any,
// depends on the C runtime.
void OpenDebugConsole() {
    if (!AllocConsole())
        return;
    std::fflush(stdout);
    // Should the console refuse the stream, the log goes where it went before.
    static_cast<void>(std::freopen("CONOUT$", "w", stdout));
}

int FailedToInitialize() {
    MessageBoxA(nullptr, "Failed to initialize!", kAppName, MB_ICONERROR);
    return 0;
}

int RunMessageLoop() {
    MSG message = {};
    BOOL result;
    while ((result = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        if (result == -1)
            return 0;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace

// The command line is read wide (GetCommandLineW): the ANSI one has '?' for
// characters the code page lacks.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int showCommand) {
    appInstance = instance;

    // Version 1, no debug callback, GDI+'s own background thread and codecs.
    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR m_gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&m_gdiplusToken, &gdiplusInput, nullptr);
    InitCommonControls();

    const bool debugConsole = GetAsyncKeyState(VK_CONTROL) != 0;
    if (debugConsole) {
        OpenDebugConsole();
        setvbuf(stdout, nullptr, _IONBF, 0);
    }

    if (!RegisterMainWindowClass(instance))
        return FailedToInitialize();
    HWND window = CreateMainWindow(instance);
    if (!window) {
        Gdiplus::GdiplusShutdown(m_gdiplusToken);
        return FailedToInitialize();
    }
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    HandOverStartupFile(CommandLineArguments(GetCommandLineW()).c_str(), debugConsole);

    const int exitCode = RunMessageLoop();
    Gdiplus::GdiplusShutdown(m_gdiplusToken);
    return exitCode;
}
