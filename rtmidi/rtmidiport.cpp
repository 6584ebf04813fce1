#include "rtmidiport.h"

#include "jackwatch.h"
#include "midiwire.h"
#include "portnames.h"
#include "rtmidiaccess.h"
#include "sysexframing.h"
#include "utils.h"

#include <algorithm>

namespace {

const char* const kTag = "RtMidiPort";

// How often Request looks for the reply.
constexpr uint32_t kReplyPollMs = 10;

// How long a new connection may take to come in force (JACK, under load).
constexpr uint32_t kInForceLimitMs = 10000;

void PortPause(int32_t configuredMs) {
    if (uint32_t ms = PortPauseMs(configuredMs))
        SleepMs(ms);
}

void LogPorts(const char* format, const std::vector<std::string>& names) {
    for (size_t index = 0; index < names.size(); ++index)
        LogText(format, static_cast<int>(index), names[index].c_str());
}

} // namespace

// The port's RtMidi input and output: clients of the MIDI system (on JACK,
// two JACK clients). Making and closing them takes the MIDI system a while
// (on JACK a few of its periods), so they are made on the first Connect and
// kept while the port's own ports are opened and closed, as long as nothing
// has gone wrong with them: after an error, or when no device could be
// opened through them (the MIDI system may have restarted meanwhile), the
// next Connect makes them anew.
struct RtMidiPort::Clients {
    RtMidiErrors outputErrors{"RtMidiPort output"};
    RtMidiErrors inputErrors{"RtMidiPort input"};
    std::unique_ptr<RtMidiOut> output;
    std::unique_ptr<RtMidiIn> input;
    std::unique_ptr<JackConnectionWatch> watch; // on JACK only

    bool Healthy() const { return outputErrors.Count() == 0 && inputErrors.Count() == 0; }
};

RtMidiPort::RtMidiPort(const PortSettings& settings, MidiSystem midiApi)
    : params(settings), api(midiApi), ownPortNames{OwnPortName("out"), OwnPortName("in")} {}

RtMidiPort::~RtMidiPort() {
    // This class's own version, whatever a derived class would make of it.
    RtMidiPort::Disconnect();
    DropClients();
}

int32_t RtMidiPort::GetIdealChunkSize() {
    return params.ideal;
}

int32_t RtMidiPort::GetMaxChunkSize() {
    return params.max;
}

bool RtMidiPort::IsOutputOpen() const {
    return !outputName.empty();
}

bool RtMidiPort::IsOutputStillListed() {
    const std::vector<std::string> outputs = ListPorts(*clients->output);
    if (std::find(outputs.begin(), outputs.end(), outputName) != outputs.end())
        return true;
    LogText("%s: the output '%s' is gone\n", kTag, outputName.c_str());
    return false;
}

bool RtMidiPort::IsConnected() {
    LogText("%s:", "RtMidiPort::IsConnected");
    if (!IsOutputOpen())
        Connect();
    const bool connected =
        IsOutputOpen() && clients->outputErrors.Count() == 0 && IsOutputStillListed();
    LogText(" connected=%s\n", connected ? "yes" : "no");
    return connected;
}

void RtMidiPort::Disconnect() {
    LogText("%s\n", "RtMidiPort::Disconnect");
    ClosePorts();
    if (clients && !clients->Healthy())
        DropClients();
}

void RtMidiPort::ClosePorts() {
    outputName.clear();
    if (!clients)
        return;
    try {
        // The input first: once it is closed RtMidi's thread no longer
        // feeds the collector.
        clients->input->closePort();
        clients->output->closePort();
    } catch (const RtMidiError& e) {
        LogText("%s: %s\n", "RtMidiPort::Disconnect", e.getMessage().c_str());
        DropClients();
    }
}

void RtMidiPort::DropClients() {
    if (!clients)
        return;
    clients->input.reset();
    clients->output.reset();
    clients->watch.reset();
    clients.reset();
}

void RtMidiPort::Reconnect() {
    if (!IsOutputOpen())
        return;
    Disconnect();
    Connect();
}

bool RtMidiPort::MakeClients() {
    auto made = std::make_unique<Clients>();
    if (api == MidiSystem::Jack) {
        made->watch = std::make_unique<JackConnectionWatch>();
        if (!made->watch->FoundServer()) {
            LogText("%s: no JACK server is running\n", kTag);
            return false;
        }
    }
    std::string problem; // logged where it arises
    made->output = MakeMidiOut(api, kOwnClientName, made->outputErrors, problem);
    if (made->output)
        made->input = MakeMidiIn(api, kOwnClientName, made->inputErrors, problem);
    if (!made->output || !made->input)
        return false;
    // SysEx is what the device answers with; RtMidi drops it unless told
    // otherwise. Clock and active sensing stay ignored.
    made->input->ignoreTypes(false, true, true);
    made->input->setCallback(&RtMidiPort::OnInput, this);
    clients = std::move(made);
    return true;
}

void RtMidiPort::Connect() {
    LogText("%s(%s)\n", "RtMidiPort::Connect", MidiSystemName(api));
    // An input left open by an earlier attempt whose output failed is closed
    // and opened again, so that it always belongs to the same lookup as the
    // output.
    ClosePorts();
    if (clients && !clients->Healthy())
        DropClients();
    std::string inputName;
    try {
        if (clients || MakeClients()) {
            const std::vector<std::string> outputs = ListPorts(*clients->output);
            LogPorts("  MIDI OUT port #%d: '%s'\n", outputs);
            const int index = FindMidiPort(outputs, params.names, ownPortNames);
            if (index != kNoDevice) {
                clients->output->openPort(static_cast<unsigned>(index), ownPortNames[0]);
                // RtMidi opens by index: a list that changed meanwhile may
                // have put another port there.
                const std::vector<std::string> after = ListPorts(*clients->output);
                if (clients->outputErrors.Count() == 0 && clients->output->isPortOpen() &&
                    static_cast<size_t>(index) < after.size() && after[index] == outputs[index])
                    outputName = outputs[index];
            }
        }
        if (!outputName.empty()) {
            const std::vector<std::string> inputs = ListPorts(*clients->input);
            LogPorts("  MIDI IN  port #%d: '%s'\n", inputs);
            const int index = FindMidiPort(inputs, params.names, ownPortNames);
            if (index != kNoDevice) {
                clients->input->openPort(static_cast<unsigned>(index), ownPortNames[1]);
                if (clients->inputErrors.Count() == 0 && clients->input->isPortOpen())
                    inputName = inputs[index];
            }
        }
    } catch (const RtMidiError& e) {
        LogText("%s: %s\n", "RtMidiPort::Connect", e.getMessage().c_str());
        outputName.clear();
    }
    if (outputName.empty()) {
        LogText("MIDI OUT Port failed to open.\n");
        ClosePorts();
        DropClients();
        return;
    }
    LogText("MIDI OUT Port opened OK ('%s').\n", outputName.c_str());
    if (inputName.empty()) {
        LogText("MIDI IN Port failed to open.\n");
        clients->input->closePort();
    } else {
        LogText("MIDI IN Port opened OK ('%s').\n", inputName.c_str());
    }
    // Nothing may go out, and no answer come in, before the connections are
    // in force.
    if (clients->watch) {
        clients->watch->WaitUntilInForce(ownPortNames[0], outputName, kInForceLimitMs);
        if (!inputName.empty())
            clients->watch->WaitUntilInForce(ownPortNames[1], inputName, kInForceLimitMs);
    }
}

void RtMidiPort::Send(const uint8_t* data, uint32_t count) {
    LogText("%s(%p,%u)\n", "RtMidiPort::Send", static_cast<const void*>(data),
            static_cast<unsigned>(count));
    if (count == 0)
        return;
    if (!params.chunks) {
        SendVerbatim(data, count);
        return;
    }
    std::vector<uint8_t> framed = FrameSysExChunk(data, count);
    SendVerbatim(framed.data(), static_cast<uint32_t>(framed.size()));
}

void RtMidiPort::SendVerbatim(const uint8_t* data, uint32_t count) {
    if (!IsConnected()) {
        LogText("Can't send MIDI, not connected\n");
        NoteSendFailure();
        return;
    }
    const std::vector<MessagePiece> pieces = SplitIntoEvents(data, count);
    if (pieces.size() > 1)
        LogText("%s: %u bytes in %u pieces\n", "RtMidiPort::SendVerbatim",
                static_cast<unsigned>(count), static_cast<unsigned>(pieces.size()));
    const unsigned errorsBefore = clients->outputErrors.Count();
    uint64_t sent = 0;
    uint32_t pacedMs = 0;
    for (const MessagePiece& piece : pieces) {
        try {
            clients->output->sendMessage(data + piece.start, piece.end - piece.start);
        } catch (const RtMidiError& e) {
            LogText("%s: %s\n", "RtMidiPort::SendVerbatim", e.getMessage().c_str());
            break;
        }
        // Each piece leaves only once the one before it has passed the cable.
        sent += piece.end - piece.start;
        const uint32_t dueMs = WireTimeMs(sent);
        SleepMs(dueMs - pacedMs);
        pacedMs = dueMs;
    }
    if (sent < count || clients->outputErrors.Count() != errorsBefore) {
        LogText("%s: Error sending (%s)\n", "RtMidiPort::SendVerbatim",
                clients->outputErrors.LastText().c_str());
        NoteSendFailure();
    } else {
        PortPause(params.delay);
    }
    PortPause(params.unprepdelay);
}

std::vector<uint8_t> RtMidiPort::Request(uint32_t timeoutMs, const uint8_t* request,
                                         uint32_t count) {
    LogText("%s(%u ms, %u bytes)\n", "RtMidiPort::Request", static_cast<unsigned>(timeoutMs),
            static_cast<unsigned>(count));
    TakeSysEx(); // a message from before the request is not its reply
    if (!IsConnected()) {
        LogText("%s: not connected, no reply\n", "RtMidiPort::Request");
        return {};
    }
    SendVerbatim(request, count);
    std::vector<uint8_t> reply = WaitForSysEx(timeoutMs, kReplyPollMs);
    if (reply.empty())
        LogText("%s: no reply\n", "RtMidiPort::Request");
    return reply;
}

void RtMidiPort::OnInput(double, std::vector<unsigned char>* message, void* context) {
    if (message != nullptr)
        static_cast<RtMidiPort*>(context)->ReceiveInput(*message);
}

void RtMidiPort::ReceiveInput(const std::vector<unsigned char>& message) {
    if (message.empty())
        return;
    // SysEx, or the rest of one (data bytes, its 0xF7), is collected; other
    // messages (notes, controllers, system messages) are not the device's
    // answers.
    const uint8_t first = message[0];
    if (first >= 0x80 && first != 0xF0 && first != 0xF7) {
        LogText("%s: MIDI message 0x%02x not used\n", "RtMidiPort::Input", first);
        return;
    }
    LogText("%s: %u bytes\n", "RtMidiPort::Input", static_cast<unsigned>(message.size()));
    std::lock_guard<std::mutex> lock(inputMutex);
    for (unsigned char byte : message)
        sysExCollector.AddByte(byte);
}
