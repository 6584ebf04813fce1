// The engine's entry points for the page (app.js): read an update file, run
// it, and take the MIDI input the page receives. The run is the Windows
// program's worker run, on the browser's main thread: its waits give the page
// its turn, so the page stays responsive and the call returns a promise.
#include "runtexts.h"
#include "sendupdate.h"
#include "update.h"
#include "utils.h"
#include "webjs.h"
#include "webmidiport.h"
#include "webprogress.h"

#include <emscripten/em_js.h>
#include <emscripten/emscripten.h>

#include <exception>
#include <memory>
#include <sstream>
#include <string>

namespace {

// The update the page has opened; replaced by the next file.
std::shared_ptr<const Update> openedUpdate;

// clang-format off
EM_JS(void, JsShowUpdate, (const char* summary, const char* title, const char* question,
                           const char* startMessage, int isSysEx, const uint8_t* image,
                           uint32_t imageSize), {
    kestranePage.showUpdate({
        summary: kestraneEngineString(summary),
        title: kestraneEngineString(title),
        question: kestraneEngineString(question),
        startMessage: kestraneEngineString(startMessage),
        isSysEx: isSysEx !== 0,
        image: HEAPU8.slice(image, image + imageSize),
    });
});
// clang-format on

// The reason for the failure box, from the exception being handled.
std::string RunFailureReason() {
    try {
        throw;
    } catch (const std::exception& error) {
        LogText("Thread caught exception: %s\n", error.what());
        return error.what();
    } catch (...) {
        LogText("Thread caught unknown exception\n");
        return "Unknown reason";
    }
}

} // namespace

extern "C" {

// Reads an update file's bytes and shows what it holds; 1 when it could be
// read, else 0 after the failure box has been shown.
EMSCRIPTEN_KEEPALIVE int KestraneOpen(const uint8_t* data, uint32_t size) {
    try {
        std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size),
                                  std::ios::binary);
        auto update = std::make_shared<const Update>(stream);
        const std::vector<uint8_t>& image = update->GetImage();
        JsShowUpdate(SummaryText(*update).c_str(), ConfirmTitle(*update).c_str(),
                     ConfirmQuestion(*update).c_str(), StartMessageText(*update).c_str(),
                     update->IsSysEx() ? 1 : 0, image.data(), static_cast<uint32_t>(image.size()));
        openedUpdate = std::move(update);
        return 1;
    } catch (...) {
        openedUpdate.reset();
        JsShowFailure(FailureText(RunFailureReason()).c_str());
        return 0;
    }
}

// Sends the opened update; `port` is the output the user chose for a plain
// SysEx file, else empty. The outcome reaches the page through the progress
// sink; returns once the run has ended.
EMSCRIPTEN_KEEPALIVE void KestraneRun(const char* port) {
    try {
        if (!openedUpdate)
            throw ParseError("No update file has been loaded yet.");
        // Held by the run itself: a file opened meanwhile replaces only the page's.
        const std::shared_ptr<const Update> held = openedUpdate;
        const Update& update = *held;
        LogUpdateDetails(update);
        WebUpdateProgress progress;
        PortSettings params = update.GetPortSettings();
        if (port && *port) {
            // The device is looked for under the chosen name alone.
            params.names.clear();
            params.names.insert(port);
        }
        WebMidiPort midiPort(params);
        SimpleSysExSender sender(midiPort);
        // The outcome has been reported through the sink's Completed.
        sender.Send(update, progress);
    } catch (...) {
        JsShowFailure(FailureText(RunFailureReason()).c_str());
    }
}

// Shows the failure box for a run that ended before it started (the user
// cancelled the port choice).
EMSCRIPTEN_KEEPALIVE void KestraneFail(const char* reason) {
    LogText("Thread caught exception: %s\n", reason);
    JsShowFailure(FailureText(reason).c_str());
}

// The bytes of one MIDI message event from the device.
EMSCRIPTEN_KEEPALIVE void KestraneMidiInput(const uint8_t* data, uint32_t size) {
    WebMidiPort::ReceiveInput(data, size);
}
}
