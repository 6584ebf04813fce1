// The JavaScript behind webjs.h: thin calls into the page's objects
// kestraneMidi (webmidi.js) and kestranePage (app.js).
#include "webjs.h"

#include <emscripten/em_js.h>
#include <emscripten/emscripten.h>

// clang-format off
EM_JS(char*, JsMidiOutputNames, (), {
    return kestraneEngineText(kestraneMidi.listOutputs().join("\n"));
});

EM_JS(char*, JsMidiInputNames, (), {
    return kestraneEngineText(kestraneMidi.listInputs().join("\n"));
});

EM_JS(void, JsMidiUse, (int outputIndex, int inputIndex), {
    kestraneMidi.use(outputIndex, inputIndex);
});

EM_JS(int, JsMidiIsConnected, (), {
    return kestraneMidi.isConnected() ? 1 : 0;
});

EM_JS(int, JsMidiSend, (const uint8_t* data, uint32_t count, char** reason), {
    const failure = kestraneMidi.send(HEAPU8.slice(data, data + count));
    if (failure === "")
        return 0;
    HEAPU32[reason >> 2] = kestraneEngineText(failure);
    return 1;
});

EM_JS(void, JsMidiRelease, (), {
    kestraneMidi.release();
});

EM_JS(void, JsMidiDeviceNotice, (int kind), {
    kestranePage.deviceNotice(kind);
});

EM_JS(int, JsMidiOpenSettled, (), {
    return kestraneMidi.openSettled() ? 1 : 0;
});

EM_JS(int, JsMidiOpenRefused, (), {
    return kestraneMidi.openRefused ? 1 : 0;
});

EM_JS(void, JsShowProgress, (int percent), {
    kestranePage.progress(percent);
});

EM_JS(void, JsShowIndeterminate, (), {
    kestranePage.indeterminate();
});

EM_JS(void, JsShowStatus, (const char* text), {
    kestranePage.status(kestraneEngineString(text));
});

EM_JS(void, JsShowFailure, (const char* text), {
    kestranePage.failure(kestraneEngineString(text));
});

EM_JS(void, JsShowCompleted, (const char* statusRow, const char* text), {
    kestranePage.completed(kestraneEngineString(statusRow), kestraneEngineString(text));
});

EM_JS(void, JsShowBlockingMessage, (const char* text), {
    kestranePage.blockingMessage(kestraneEngineString(text));
});

EM_JS(int, JsMessageAcknowledged, (), {
    return kestranePage.messageAcknowledged() ? 1 : 0;
});
// clang-format on
