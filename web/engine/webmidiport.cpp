#include "webmidiport.h"

#include "portnames.h"
#include "utils.h"
#include "webjs.h"

#include <cstdlib>
#include <string>

namespace {

const char* const kTag = "WebMidiPort";

// How long taking the ports waits for the browser to open them, and how often
// it looks.
constexpr int64_t kOpenLimitMs = 5000;
constexpr uint32_t kOpenPollMs = 1;

// The port whose ports are in use; input goes to it.
WebMidiPort* portInUse = nullptr;

// A malloc'ed text from the page, taken over and freed.
std::string TakeText(char* text) {
    std::string taken = text ? text : "";
    std::free(text);
    return taken;
}

// The place of the first name in the list that the settings ask for, or
// kNoDevice.
int FindPort(const std::vector<std::string>& names, const std::set<std::string>& wanted) {
    for (size_t index = 0; index < names.size(); ++index)
        if (MatchesPortName(wanted, names[index]))
            return static_cast<int>(index);
    return kNoDevice;
}

void LogPorts(const char* kind, const std::vector<std::string>& names) {
    for (size_t index = 0; index < names.size(); ++index)
        LogText("%s: %s %d: %s\n", kTag, kind, static_cast<int>(index), names[index].c_str());
}

} // namespace

WebMidiPort::WebMidiPort(const PortSettings& settings) : MidiPort(settings) {}

WebMidiPort::~WebMidiPort() {
    WebMidiPort::Disconnect();
}

bool WebMidiPort::IsConnected() {
    if (!inUse && !Connect())
        return false;
    return JsMidiIsConnected() != 0;
}

bool WebMidiPort::Connect() {
    const std::vector<std::string> outputs = Split(TakeText(JsMidiOutputNames()), '\n');
    const std::vector<std::string> inputs = Split(TakeText(JsMidiInputNames()), '\n');
    const int output = FindPort(outputs, params.names);
    const int input = FindPort(inputs, params.names);
    if (output == kNoDevice || input == kNoDevice) {
        LogText("%s: no %s found for the update's port names\n", kTag,
                output == kNoDevice ? "output" : "input");
        LogPorts("output", outputs);
        LogPorts("input", inputs);
        JsMidiDeviceNotice(output == kNoDevice ? kDeviceMissing : kDeviceNoInput);
        return false;
    }
    LogText("%s: using output %d (%s) and input %d (%s)\n", kTag, output,
            outputs[static_cast<size_t>(output)].c_str(), input,
            inputs[static_cast<size_t>(input)].c_str());
    if (portInUse && portInUse != this)
        portInUse->Disconnect();
    JsMidiUse(output, input);
    portInUse = this;
    inUse = true;
    // The browser opens the ports in the background; the answer comes within
    // a few turns of its event loop.
    const int64_t start = GetTimeMs();
    while (!JsMidiOpenSettled() && GetTimeMs() - start < kOpenLimitMs)
        SleepMs(kOpenPollMs);
    if (JsMidiOpenRefused()) {
        // Given back, so that the next look tries again: the other program
        // may let go of the device.
        LogText("%s: the browser could not open the device's ports; another program may be "
                "using them\n",
                kTag);
        JsMidiDeviceNotice(kDeviceBusy);
        Disconnect();
        return false;
    }
    JsMidiDeviceNotice(0);
    return true;
}

void WebMidiPort::Disconnect() {
    if (!inUse)
        return;
    if (wholeMessages.HeldCount() > 0) {
        const std::vector<uint8_t> held = wholeMessages.TakeHeld();
        LogText("%s: %u bytes of a message that was never completed\n", kTag,
                static_cast<unsigned>(held.size()));
        if (SendMessages({held}) > 0)
            NoteSendFailure();
    }
    JsMidiRelease();
    if (portInUse == this)
        portInUse = nullptr;
    inUse = false;
}

void WebMidiPort::Reconnect() {
    if (!inUse)
        return;
    Disconnect();
    IsConnected();
}

void WebMidiPort::Send(const uint8_t* data, uint32_t count) {
    SendBlock(data, count,
              [this](const uint8_t* block, uint32_t size) { SendVerbatim(block, size); });
}

void WebMidiPort::SendVerbatim(const uint8_t* data, uint32_t count) {
    if (!IsConnected())
        return NoteNotConnected();
    const uint64_t refused = SendMessages(wholeMessages.Add(data, count));
    if (refused > 0) {
        LogText("%s: %s of %u bytes were not sent\n", "WebMidiPort::SendVerbatim",
                std::to_string(refused).c_str(), static_cast<unsigned>(count));
        NoteSendFailure();
    } else {
        PauseAfterMessage();
    }
    PauseAfterRelease();
}

uint64_t WebMidiPort::SendMessages(const std::vector<std::vector<uint8_t>>& messages) {
    uint64_t sent = 0;
    uint64_t refused = 0;
    uint32_t pacedMs = 0;
    for (const std::vector<uint8_t>& message : messages) {
        char* reason = nullptr;
        if (JsMidiSend(message.data(), static_cast<uint32_t>(message.size()), &reason) != 0) {
            // The rest may still go out: a message the browser cannot take
            // says nothing about the ones after it.
            LogText("%s: the browser refused %u bytes: %s\n", kTag,
                    static_cast<unsigned>(message.size()), TakeText(reason).c_str());
            refused += message.size();
            continue;
        }
        // Each message leaves only once the one before it has passed the cable.
        // A wait of nothing is not made: in the browser every wait takes a
        // turn of the event loop, which is never shorter than a few ms.
        sent += message.size();
        const uint32_t dueMs = WireTimeMs(sent);
        if (dueMs > pacedMs)
            SleepMs(dueMs - pacedMs);
        pacedMs = dueMs;
    }
    return refused;
}

std::vector<uint8_t> WebMidiPort::Request(uint32_t timeoutMs, const uint8_t* request,
                                          uint32_t count) {
    return RequestAndWait(
        "WebMidiPort::Request", "reply", timeoutMs, request, count,
        [this](const uint8_t* block, uint32_t size) { SendVerbatim(block, size); },
        [this, request, count](uint32_t limitMs) {
            return WaitForReply("WebMidiPort::Request", request, count, limitMs);
        });
}

void WebMidiPort::ReceiveInput(const uint8_t* data, uint32_t count) {
    if (!portInUse)
        return;
    for (uint32_t at = 0; at < count; ++at)
        portInUse->sysExCollector.AddByte(data[at]);
}
