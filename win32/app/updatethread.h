// The worker thread of an update run: it reads the update file, builds the
// progress sink, the WinMM port and the sender, and sends the update.
#pragma once

#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// What StartUpdate hands to the worker. Owned by the worker from the moment
// the thread is created; the worker releases it on every path.
struct UpdateRequest {
    // The MIDI output chosen in the port dialog, or empty to use the
    // update's own port names.
    std::string specificPort;
    std::string filename;
};

// The thread procedure; `parameter` is the UpdateRequest. Reports everything
// to the main window by posted messages, the last of them always
// WM_UPDATE_ENDED. Returns 1 on every path.
DWORD WINAPI UpdateThreadProc(LPVOID parameter);
