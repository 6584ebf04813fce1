#include "updaterun.h"

#include "appmessages.h"
#include "appstate.h"
#include "apptexts.h"
#include "background.h"
#include "mainwindow.h"
#include "mididevices.h"
#include "portdialog.h"
#include "updatethread.h"
#include "utils.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <shellapi.h>

namespace {

// The output port for a plain SysEx file, chosen by the user.
std::string AskForOutputPort(HWND window) {
    const std::vector<std::string> ports = ListMidiOutputNames();
    const int index = SelectMidiPort(ports, window, appInstance);
    if (index < 0 || static_cast<size_t>(index) >= ports.size())
        throw ParseError("Update canceled");
    return ports[static_cast<size_t>(index)];
}

// Hands the run StartUpdate has claimed to its thread; without a thread the
// run is given up.
void StartWorker(HWND window, std::unique_ptr<UpdateRequest> request) {
    // Still set, unless the end of an earlier start that failed was handled
    // while StartUpdate's port dialog or message was open: the run goes
    // ahead all the same.
    bRunThread = true;
    printf("Creating worker thread!\n");
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, UpdateThreadProc, request.get(), 0, &threadId);
    if (!thread) {
        printf("CreateThread failed!\n");
        bRunThread = false;
        SetRunLayout(mainWindow, false);
        return;
    }
    // The worker owns the request now; nobody waits for the thread.
    request.release();
    CloseHandle(thread);
    if (window == mainWindow)
        SetRunLayout(window, true);
}

} // namespace

void StartUpdate(HWND window, const char* filename) {
    if (bRunThread)
        return;
    // The run counts from here, not only once its thread is going: the port
    // dialog and the update's message below leave the window's messages
    // flowing, and a file dropped or opened meanwhile must not start a run
    // of its own. A start that fails gives the run up at once.
    bRunThread = true;
    DragAcceptFiles(mainWindow, FALSE);
    try {
        std::string specificPort;
        std::ifstream file(filename, std::ios::binary);
        const Update update(file);
        if (update.IsSysEx())
            specificPort = AskForOutputPort(window);
        const std::string message = StartMessageText(update);
        if (!message.empty())
            MessageBoxA(mainWindow, message.c_str(), "Important message about update",
                        MB_ICONINFORMATION);
        StartWorker(window, std::make_unique<UpdateRequest>(UpdateRequest{specificPort, filename}));
    } catch (...) {
        bRunThread = false;
        SetRunLayout(mainWindow, false);
        ReportRunFailure();
    }
}

void ReportRunFailure() {
    try {
        throw;
    } catch (const ParseError& error) {
        LogText("Thread caught exception: %s\n", error.what());
        PostRunFailure(error.what());
    } catch (const std::exception& error) {
        LogText("Thread caught exception: %s\n", error.what());
        PostRunFailure(error.what());
    } catch (...) {
        LogText("Thread caught unknown exception\n");
        PostRunFailure("Unknown reason");
    }
}

void ShowUpdateSummary(const Update& update) {
    PostText(WM_UPDATE_SUMMARY, 0, SummaryText(update));
    if (update.GetImage().empty())
        return;
    if (HBITMAP bitmap = BitmapFromPngBytes(update.GetImage())) {
        // The window thread may be drawing the replaced picture just now: it
        // deletes it itself when the message comes (kept, should the message
        // not go out).
        HBITMAP replaced = backgroundBitmap.exchange(bitmap);
        if (replaced)
            PostMessageA(mainWindow, WM_PICTURE_REPLACED, 0, reinterpret_cast<LPARAM>(replaced));
        RedrawWindow(mainWindow, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }
}

void OnPictureReplaced(LPARAM lParam) {
    DeleteObject(reinterpret_cast<HBITMAP>(lParam));
}
