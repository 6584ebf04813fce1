#include "midiport.h"

#include "sysexframing.h"
#include "utils.h"

#include <cassert>
#include <string>

void SysExCollector::SetCallback(Callback function, void* callbackContext) {
    callback = function;
    context = callbackContext;
}

void SysExCollector::AddByte(uint8_t byte) {
    // Real-time bytes (clock, active sensing, ...) may come anywhere, inside a
    // SysEx message too, and belong to no message: taken out here, a reply
    // split by the device's clock still arrives whole.
    if (byte >= 0xF8)
        return;
    if (!collecting) {
        if (byte != 0xF0)
            return; // bytes outside a message are dropped
        LogText("SOX");
        bytes.clear();
        bytes.push_back(byte);
        collecting = true;
        return;
    }
    // Inside a message every byte is kept, a second 0xF0 included.
    bytes.push_back(byte);
    if (byte == 0xF7) {
        LogText("EOX size=%d", static_cast<int>(bytes.size()));
        collecting = false;
        if (callback)
            callback(context);
    }
}

bool SysExCollector::HasSysEx() const {
    return !collecting && !bytes.empty() && bytes.back() == 0xF7;
}

MidiPort::MidiPort() : MidiPort(defaultPortSettings) {}

MidiPort::MidiPort(const PortSettings& settings) : params(settings) {
    sysExCollector.SetCallback(&MidiPort::OnSysExComplete, this);
}

MidiPort::~MidiPort() = default;

void MidiPort::AskForPort() {}

void MidiPort::Reconnect() {}

std::vector<uint8_t> MidiPort::Request(uint32_t, const uint8_t*, uint32_t) {
    return {};
}

std::vector<uint8_t> MidiPort::GetSysEx() {
    std::lock_guard<std::mutex> lock(receivedMutex);
    return receivedSysEx;
}

void MidiPort::ClearSysEx() {
    std::lock_guard<std::mutex> lock(receivedMutex);
    receivedSysEx.clear();
}

std::vector<uint8_t> MidiPort::TakeSysEx() {
    std::vector<uint8_t> taken;
    std::lock_guard<std::mutex> lock(receivedMutex);
    taken.swap(receivedSysEx);
    return taken;
}

std::vector<uint8_t> MidiPort::WaitForSysEx(uint32_t timeoutMs, uint32_t pollMs) {
    const int64_t start = GetTimeMs();
    while (true) {
        std::vector<uint8_t> message = TakeSysEx();
        if (!message.empty() || GetTimeMs() - start >= static_cast<int64_t>(timeoutMs))
            return message;
        SleepMs(pollMs);
    }
}

void MidiPort::SendBlock(const uint8_t* data, uint32_t count, const BlockSender& sendVerbatim) {
    if (count == 0)
        return;
    const std::vector<uint8_t> block = WireMessage(data, count, params.chunks);
    sendVerbatim(block.data(), static_cast<uint32_t>(block.size()));
}

void MidiPort::PauseAfterMessage() const {
    if (uint32_t ms = PortPauseMs(params.delay))
        SleepMs(ms);
}

void MidiPort::PauseAfterRelease() const {
    if (uint32_t ms = PortPauseMs(params.unprepdelay))
        SleepMs(ms);
}

void MidiPort::NoteNotConnected() {
    LogText("Can't send MIDI, not connected\n");
    NoteSendFailure();
}

std::vector<uint8_t>
MidiPort::RequestAndWait(const char* tag, const char* noun, uint32_t timeoutMs,
                         const uint8_t* request, uint32_t count, const BlockSender& sendVerbatim,
                         const std::function<std::vector<uint8_t>(uint32_t)>& waitForAnswer) {
    LogText("%s(%u ms, %u bytes)\n", tag, static_cast<unsigned>(timeoutMs),
            static_cast<unsigned>(count));
    TakeSysEx();
    if (!IsConnected()) {
        LogText("%s: not connected, no %s\n", tag, noun);
        return {};
    }
    sendVerbatim(request, count);
    std::vector<uint8_t> answer =
        waitForAnswer ? waitForAnswer(timeoutMs) : WaitForSysEx(timeoutMs, kAnswerPollMs);
    if (answer.empty())
        LogText("%s: no %s\n", tag, noun);
    return answer;
}

namespace {

// A MIDI Identity Request (F0 7E <device> 06 01 F7), and the reply it asks
// for: an Identity Reply (F0 7E <device> 06 02 ... F7).
bool IsIdentityRequest(const uint8_t* data, uint32_t count) {
    return count == 6 && data[0] == 0xF0 && data[1] == 0x7E && data[3] == 0x06 && data[4] == 0x01 &&
           data[5] == 0xF7;
}

bool IsIdentityReply(const std::vector<uint8_t>& message) {
    return message.size() > 5 && message[0] == 0xF0 && message[1] == 0x7E && message[3] == 0x06 &&
           message[4] == 0x02 && message.back() == 0xF7;
}

} // namespace

std::vector<uint8_t> MidiPort::WaitForReply(const char* tag, const uint8_t* request, uint32_t count,
                                            uint32_t timeoutMs) {
    const bool identity = IsIdentityRequest(request, count);
    const int64_t start = GetTimeMs();
    std::vector<uint8_t> reply;
    while (true) {
        const int64_t waited = GetTimeMs() - start;
        const uint32_t left = waited >= static_cast<int64_t>(timeoutMs)
                                  ? 0
                                  : timeoutMs - static_cast<uint32_t>(waited);
        reply = WaitForSysEx(left, kAnswerPollMs);
        if (reply.empty() || !identity || IsIdentityReply(reply))
            break;
        LogText("%s: %u bytes that are not an Identity Reply, passed over\n", tag,
                static_cast<unsigned>(reply.size()));
        reply.clear();
        if (left == 0)
            break;
    }
    return reply;
}

uint32_t MidiPort::TakeSendFailures() {
    return sendFailures.exchange(0);
}

void MidiPort::NoteSendFailure() {
    ++sendFailures;
}

void MidiPort::OnSysExComplete(void* context) {
    static_cast<MidiPort*>(context)->GotSysEx();
}

void MidiPort::GotSysEx() {
    assert(sysExCollector.HasSysEx());
    const std::vector<uint8_t>& bytes = sysExCollector.GetBytes();
    {
        // A message not yet read is overwritten: only the latest one counts.
        std::lock_guard<std::mutex> lock(receivedMutex);
        receivedSysEx = bytes;
    }
    std::string hex = "{";
    for (size_t i = 0; i < bytes.size() && i < 20; ++i)
        hex += FormatText(" 0x%02x", bytes[i]);
    hex += " }";
    LogText("%s: %u bytes %s\n", "MidiPort::GotSysEx", static_cast<unsigned>(bytes.size()),
            hex.c_str());
}
