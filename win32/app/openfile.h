// The routes by which an update file reaches the run: the command line and
// the automatic pick-up at start-up, the File menu's Open, and dropping files
// on the main window. Only the automatic pick-up asks first, in the
// confirmation dialog. Every route takes the file's path wide and hands the
// run a name the ANSI functions can open (ansipath.h); a path without one is
// reported in the failure box. Everything here runs on the window thread.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <shellapi.h>

// The start-up routes, once the main window is shown: a path on the command
// line starts a run (WM_COMMAND ID_FILE_OPEN with lParam 1); else, unless in
// debug-console mode, the first *.upd file of the working directory is
// offered (WM_LOAD_UPDATE_FILE). The name goes through updateFileName.
// `arguments` is the wide command line after the program's name
// (CommandLineArguments).
void HandOverStartupFile(const wchar_t* arguments, bool debugConsole);

// WM_COMMAND ID_FILE_OPEN: nothing during a run; lParam 1 starts a run of
// updateFileName (the command-line route), anything else opens the
// open-file dialog.
void OnFileOpen(HWND window, LPARAM lParam);

// The open-file dialog; a chosen file starts a run at once.
void BrowseForUpdateFile(HWND window);

// WM_DROPFILES: the first dropped file with a name starts a run; the others
// are ignored. Releases the drop.
void OnDropFiles(HWND window, HDROP drop);

// WM_LOAD_UPDATE_FILE: reads the file, shows its summary and asks in the
// confirmation dialog. "Update Now" starts the run; "Close" ends the program.
// A file that cannot be read is reported like on every other route.
void LoadAndConfirmUpdate(const char* filename);

// The dialog procedure of IDD_CONFIRM_UPDATE.
INT_PTR CALLBACK ConfirmUpdateDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
