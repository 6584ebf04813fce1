// The main window: the picture, the progress bar and the two text rows below
// it, the menu, and the handling of the messages through which the update
// run reports (appmessages.h). Everything here runs on the window thread.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// The window class "Kestrane": the system's application icon, a white
// background and the main menu. False when it cannot be registered.
bool RegisterMainWindowClass(HINSTANCE instance);

// Creates the main window (WM_CREATE sizes it to its picture, lays out the
// rows, logs the MIDI devices and centres it); null when it cannot.
HWND CreateMainWindow(HINSTANCE instance);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Running: the status row is emptied, the bar reset and the window grown to
// show the three rows (it never shrinks back). Drops are accepted only when
// not running.
void SetRunLayout(HWND window, bool running);

// Moves the window, size unchanged, to the centre of the screen (never left
// of or above it).
void CenterWindowOnScreen(HWND window);

// Resizes the window, in place, so that its client area is width x height.
void SetClientSize(HWND window, int width, int height);

// The indeterminate animation's timer: asks the window for the next step
// while the animation is on, and stops itself once it is off.
void CALLBACK ProgressTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
