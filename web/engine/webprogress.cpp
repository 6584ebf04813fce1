#include "webprogress.h"

#include "runtexts.h"
#include "utils.h"
#include "webjs.h"

void WebUpdateProgress::Progress(float fraction) {
    LogText("Progress: %f\n", fraction);
    JsShowProgress(ProgressPercent(fraction));
}

void WebUpdateProgress::ProgressIndeterminate() {
    LogText("ProgressIndeterminate\n");
    JsShowIndeterminate();
}

void WebUpdateProgress::Status(const std::string& text) {
    LogText("Status: %s\n", text.c_str());
    JsShowStatus(UpdatingText(text).c_str());
}

void WebUpdateProgress::Error(const std::string& text) {
    LogText("Error: %s\n", text.c_str());
    JsShowFailure(FailureText(text).c_str());
}

void WebUpdateProgress::Completed(const std::string& text) {
    LogText("Completed: %s\n", text.c_str());
    JsShowCompleted(CompletedText(text).c_str(), text.c_str());
}

void WebUpdateProgress::BlockingMessage(const std::string& text) {
    LogText("BlockingMessage: %s\n", text.c_str());
    JsShowBlockingMessage(text.c_str());
    while (!JsMessageAcknowledged())
        SleepMs(kAcknowledgePollMs);
}
