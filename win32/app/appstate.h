// Process-wide state of the application. Everything here belongs to the
// window thread, except the two values the worker thread writes (marked).
#pragma once

#include <atomic>
#include <cstddef>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

constexpr size_t kFileNameSize = MAX_PATH; // 260, terminator included

extern HINSTANCE appInstance;
// Set by WM_CREATE; target of every posted message and owner of the
// application's message boxes and dialogs.
extern HWND mainWindow;
extern HWND progressBar;
extern HWND statusLine;
extern HWND summaryLine;

// The file name handed from the command line, the automatic pick-up and the
// open-file dialog to the run. Always terminated.
extern char updateFileName[kFileNameSize];
// An update run is in progress: set by StartUpdate, cleared by
// WM_UPDATE_ENDED (or by StartUpdate when the thread cannot be created).
extern bool bRunThread;
// Position of the indeterminate animation, 0..100; never reset between runs.
extern int indeterminatePos;
// The window has grown to its running height (set on the first run).
extern bool bExpanded;

// Written by the worker thread, read by the window thread.
extern std::atomic<bool> bProgressIndeterminate;
extern std::atomic<HBITMAP> backgroundBitmap;

// String-table entries 5 and 4.
extern char caption[128];
extern char copyrightNotice[128];
