#include "rtmidiport.h"

#include "jackwatch.h"
#include "midiwire.h"
#include "ownports.h"
#include "portnames.h"
#include "rtmidiaccess.h"
#include "utils.h"

#include <algorithm>

namespace {

const char* const kTag = "RtMidiPort";

// How long a new connection may take to come in force (JACK, under load).
constexpr uint32_t kInForceLimitMs = 10000;

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

    bool ServerGone() const { return watch && watch->ServerGone(); }
    bool Healthy() const {
        return outputErrors.Count() == 0 && inputErrors.Count() == 0 && !ServerGone();
    }
};

RtMidiPort::RtMidiPort(const PortSettings& settings, MidiSystem midiApi)
    : MidiPort(settings), api(midiApi), ownPortNames{OwnPortName("out"), OwnPortName("in")} {}

RtMidiPort::~RtMidiPort() {
    // This class's own version, whatever a derived class would make of it.
    RtMidiPort::Disconnect();
    DropClients();
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
    // A JACK server that went away leaves RtMidi's clients taking messages
    // and listing the ports they knew: only the watch can tell.
    // Its clients are closed at once, before a server of the same name can
    // start again (JACK's library cannot close them once one has), and the
    // port stays unconnected until a Disconnect.
    if (IsOutputOpen() && clients && clients->ServerGone()) {
        LogText("%s: the JACK server has gone away\n", kTag);
        DropClients();
    }
    const bool connected =
        IsOutputOpen() && clients && clients->outputErrors.Count() == 0 && IsOutputStillListed();
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

// Lookups of the device's output in one Connect, for a list that changes
// while the port opens.
constexpr int kOpenAttempts = 3;

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
            // RtMidi opens by index: a list that changed meanwhile (another
            // program's port came or went) may have put another port there,
            // or none. Then the port is closed and looked up again.
            for (int attempt = 0; attempt < kOpenAttempts && outputName.empty(); ++attempt) {
                const std::vector<std::string> outputs = ListPorts(*clients->output);
                LogPorts("  MIDI OUT port #%d: '%s'\n", outputs);
                const int index = FindMidiPort(outputs, params.names, ownPortNames);
                if (index != kNoDevice && IsBusy(outputs[index]))
                    return RefuseBusyDevice();
                if (index == kNoDevice)
                    break;
                const unsigned errorsBefore = clients->outputErrors.Count();
                clients->output->openPort(static_cast<unsigned>(index), ownPortNames[0]);
                const std::vector<std::string> after = ListPorts(*clients->output);
                // openPort reports its failures through the error callback,
                // which counts them: cppcheck takes the count as unchanged.
                // cppcheck-suppress knownConditionTrueFalse
                if (clients->outputErrors.Count() == errorsBefore &&
                    clients->output->isPortOpen() && static_cast<size_t>(index) < after.size() &&
                    after[index] == outputs[index]) {
                    outputName = outputs[index];
                    // cppcheck-suppress knownConditionTrueFalse ; as above
                } else if (clients->outputErrors.Count() != errorsBefore) {
                    // Clients that reported an error count as broken: new ones.
                    DropClients();
                    if (!MakeClients())
                        break;
                } else if (clients->output->isPortOpen()) {
                    clients->output->closePort();
                }
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
    // A connection that never comes in force carries nothing: the port is
    // not connected, and the next Connect tries again. The clients stay:
    // closing a JACK client waits for the graph that has not moved on.
    if (clients->watch) {
        const bool inForce =
            clients->watch->WaitUntilInForce(ownPortNames[0], outputName, kInForceLimitMs) &&
            (inputName.empty() ||
             clients->watch->WaitUntilInForce(ownPortNames[1], inputName, kInForceLimitMs));
        if (!inForce) {
            LogText("%s: the connections to '%s' did not come in force; not connected\n", kTag,
                    outputName.c_str());
            ClosePorts();
            return;
        }
        // Another Kestrane that connected at the same moment passed the
        // check above as this one did; now that both connections are in
        // force, this one sees it and gives way.
        if (IsBusy(outputName))
            RefuseBusyDevice();
    }
}

bool RtMidiPort::IsBusy(const std::string& devicePort) const {
    if (!clients->watch)
        return false;
    const std::string other = clients->watch->OtherSender(devicePort, ownPortNames[0]);
    if (other.empty())
        return false;
    LogText("%s: '%s' is busy: another Kestrane ('%s') is sending to it\n", kTag,
            devicePort.c_str(), other.c_str());
    return true;
}

void RtMidiPort::RefuseBusyDevice() {
    LogText("MIDI OUT Port failed to open: the device is being updated by another Kestrane.\n");
    ClosePorts();
}

void RtMidiPort::Send(const uint8_t* data, uint32_t count) {
    LogText("%s(%p,%u)\n", "RtMidiPort::Send", static_cast<const void*>(data),
            static_cast<unsigned>(count));
    SendBlock(data, count,
              [this](const uint8_t* block, uint32_t size) { SendVerbatim(block, size); });
}

void RtMidiPort::SendVerbatim(const uint8_t* data, uint32_t count) {
    if (!IsConnected())
        return NoteNotConnected();
    const std::vector<MessagePiece> pieces = SplitIntoEvents(data, count);
    if (pieces.size() > 1)
        LogText("%s: %u bytes in %u pieces\n", "RtMidiPort::SendVerbatim",
                static_cast<unsigned>(count), static_cast<unsigned>(pieces.size()));
    const unsigned errorsBefore = clients->outputErrors.Count();
    uint64_t sent = 0;
    uint32_t pacedMs = 0;
    for (const MessagePiece& piece : pieces) {
        // RtMidi takes messages for a JACK server that is gone as if they
        // went out.
        if (clients->ServerGone())
            break;
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
    if (clients->ServerGone()) {
        LogText("%s: the JACK server has gone away; %s of %u bytes were handed to it\n",
                "RtMidiPort::SendVerbatim", std::to_string(sent).c_str(),
                static_cast<unsigned>(count));
        NoteSendFailure();
    } else if (sent < count || clients->outputErrors.Count() != errorsBefore) {
        LogText("%s: Error sending (%s)\n", "RtMidiPort::SendVerbatim",
                clients->outputErrors.LastText().c_str());
        NoteSendFailure();
    } else {
        PauseAfterMessage();
    }
    PauseAfterRelease();
}

std::vector<uint8_t> RtMidiPort::Request(uint32_t timeoutMs, const uint8_t* request,
                                         uint32_t count) {
    return RequestAndWait(
        "RtMidiPort::Request", "reply", timeoutMs, request, count,
        [this](const uint8_t* block, uint32_t size) { SendVerbatim(block, size); },
        [this, request, count](uint32_t limitMs) {
            return WaitForReply("RtMidiPort::Request", request, count, limitMs);
        });
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
