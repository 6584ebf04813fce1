// Starting an update run on the window thread: the file is read to decide
// what to ask the user (the port for a plain SysEx file, the update's own
// message), then the worker thread takes over (updatethread.h).
#pragma once

#include "update.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// Starts a run of `filename` unless one is in progress (then nothing
// happens). Every failure (a bad file, a cancelled port choice) is reported
// through the failure box and the run's end; only a thread that cannot be
// created is merely logged. For the window thread.
void StartUpdate(HWND window, const char* filename);

// Reports the exception being handled as the end of a run: logs it, and
// posts the failure box with its message ("Unknown reason" for one that is
// not a standard exception) and the run's end. Call it from a catch handler
// only: it rethrows the exception to tell its kind.
void ReportRunFailure();

// Shows the update's product and version in the summary row, and its picture,
// if it has one that can be converted, as the window's picture. Either thread.
void ShowUpdateSummary(const Update& update);
// Deletes a picture that ShowUpdateSummary replaced (WM_PICTURE_REPLACED).
void OnPictureReplaced(LPARAM lParam);
