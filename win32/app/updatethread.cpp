#include "updatethread.h"

#include "appmessages.h"
#include "appstate.h"
#include "apptexts.h"
#include "portsettings.h"
#include "sendupdate.h"
#include "update.h"
#include "updaterun.h"
#include "utils.h"
#include "windowsprogress.h"
#include "winmidiport.h"

#include <cstdio>
#include <fstream>
#include <memory>

namespace {

// The whole run; the outcome reaches the window through the sink.
void RunUpdate(std::unique_ptr<UpdateRequest> request) {
    LogText("Loading update file %s...\n", request->filename.c_str());
    std::ifstream file(request->filename, std::ios::binary);
    Update update(file);
    LogUpdateDetails(update);
    ShowUpdateSummary(update);

    WindowsUpdateProgress progress;
    PortSettings params = update.GetPortSettings();
    if (!request->specificPort.empty()) {
        // The device is looked for under the chosen name alone.
        params.names.clear();
        params.names.insert(request->specificPort);
    }
    printf("Using Window MM library ********************************************\n");
    WindowsMidiPort midiPort(params);
    SimpleSysExSender sender(midiPort);
    // The outcome has been reported through the sink's Completed.
    sender.Send(update, progress);
    request.reset();
}

} // namespace

DWORD WINAPI UpdateThreadProc(LPVOID parameter) {
    std::unique_ptr<UpdateRequest> request(static_cast<UpdateRequest*>(parameter));
    if (!request) {
        printf("Invalid request\n");
        PostMessageA(mainWindow, WM_UPDATE_ENDED, 0, 1);
        return 1;
    }
    try {
        RunUpdate(std::move(request));
        PostMessageA(mainWindow, WM_UPDATE_ENDED, 0, 1);
    } catch (...) {
        ReportRunFailure();
    }
    return 1;
}
