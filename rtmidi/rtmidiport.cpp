#include "rtmidiport.h"

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

void PortPause(int32_t configuredMs) {
    if (uint32_t ms = PortPauseMs(configuredMs))
        SleepMs(ms);
}

void LogPorts(const char* format, const std::vector<std::string>& names) {
    for (size_t index = 0; index < names.size(); ++index)
        LogText(format, static_cast<int>(index), names[index].c_str());
}

} // namespace

// The RtMidi objects of one connection: made by Connect, destroyed by
// Disconnect, so that a MIDI system that went away and came back is reached
// afresh.
struct RtMidiPort::Connection {
    RtMidiErrors outputErrors{"RtMidiPort output"};
    RtMidiErrors inputErrors{"RtMidiPort input"};
    std::unique_ptr<RtMidiOut> output; // null when no output opened
    std::unique_ptr<RtMidiIn> input;   // null when no input opened
    std::string outputName;            // the port the output is connected to
};

RtMidiPort::RtMidiPort(const PortSettings& settings, MidiSystem midiApi)
    : params(settings), api(midiApi), ownPortNames{OwnPortName("out"), OwnPortName("in")} {}

RtMidiPort::~RtMidiPort() {
    // This class's own version, whatever a derived class would make of it.
    RtMidiPort::Disconnect();
}

int32_t RtMidiPort::GetIdealChunkSize() {
    return params.ideal;
}

int32_t RtMidiPort::GetMaxChunkSize() {
    return params.max;
}

bool RtMidiPort::IsOutputOpen() const {
    return connection && connection->output;
}

bool RtMidiPort::IsOutputStillListed() {
    const std::vector<std::string> outputs = ListPorts(*connection->output);
    if (std::find(outputs.begin(), outputs.end(), connection->outputName) != outputs.end())
        return true;
    LogText("%s: the output '%s' is gone\n", kTag, connection->outputName.c_str());
    return false;
}

bool RtMidiPort::IsConnected() {
    LogText("%s:", "RtMidiPort::IsConnected");
    if (!IsOutputOpen())
        Connect();
    const bool connected =
        IsOutputOpen() && connection->outputErrors.Count() == 0 && IsOutputStillListed();
    LogText(" connected=%s\n", connected ? "yes" : "no");
    return connected;
}

void RtMidiPort::Disconnect() {
    LogText("%s\n", "RtMidiPort::Disconnect");
    if (!connection)
        return;
    // The input first: once it is destroyed RtMidi's thread no longer feeds
    // the collector.
    connection->input.reset();
    connection->output.reset();
    connection.reset();
}

void RtMidiPort::Reconnect() {
    if (!IsOutputOpen())
        return;
    Disconnect();
    Connect();
}

void RtMidiPort::Connect() {
    LogText("%s(%s)\n", "RtMidiPort::Connect", MidiSystemName(api));
    // An input left open by an earlier attempt whose output failed is closed
    // and opened again, so that it always belongs to the same lookup as the
    // output.
    connection.reset();
    auto next = std::make_unique<Connection>();
    try {
        std::string problem; // logged where it arises
        next->output = MakeMidiOut(api, kOwnClientName, next->outputErrors, problem);
        if (next->output) {
            const std::vector<std::string> outputs = ListPorts(*next->output);
            LogPorts("  MIDI OUT port #%d: '%s'\n", outputs);
            const int index = FindMidiPort(outputs, params.names, ownPortNames);
            if (index != kNoDevice) {
                next->output->openPort(static_cast<unsigned>(index), ownPortNames[0]);
                // RtMidi opens by index: a list that changed meanwhile may
                // have put another port there.
                const std::vector<std::string> after = ListPorts(*next->output);
                if (next->outputErrors.Count() == 0 && next->output->isPortOpen() &&
                    static_cast<size_t>(index) < after.size() && after[index] == outputs[index])
                    next->outputName = outputs[index];
            }
        }
        if (next->outputName.empty()) {
            LogText("MIDI OUT Port failed to open.\n");
            next->output.reset();
        } else {
            LogText("MIDI OUT Port opened OK ('%s').\n", next->outputName.c_str());
        }

        next->input = MakeMidiIn(api, kOwnClientName, next->inputErrors, problem);
        std::string inputName;
        if (next->input) {
            // SysEx is what the device answers with; RtMidi drops it unless
            // told otherwise. Clock and active sensing stay ignored.
            next->input->ignoreTypes(false, true, true);
            next->input->setCallback(&RtMidiPort::OnInput, this);
            const std::vector<std::string> inputs = ListPorts(*next->input);
            LogPorts("  MIDI IN  port #%d: '%s'\n", inputs);
            const int index = FindMidiPort(inputs, params.names, ownPortNames);
            if (index != kNoDevice) {
                next->input->openPort(static_cast<unsigned>(index), ownPortNames[1]);
                if (next->inputErrors.Count() == 0 && next->input->isPortOpen())
                    inputName = inputs[index];
            }
        }
        if (inputName.empty()) {
            LogText("MIDI IN Port failed to open.\n");
            next->input.reset();
        } else {
            LogText("MIDI IN Port opened OK ('%s').\n", inputName.c_str());
        }
    } catch (const RtMidiError& e) {
        LogText("%s: %s\n", "RtMidiPort::Connect", e.getMessage().c_str());
        next->input.reset();
        next->output.reset();
    }
    connection = std::move(next);
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
    const std::vector<MessagePiece> pieces = SplitMessage(data, count);
    if (pieces.size() > 1)
        LogText("%s: %u bytes in %u pieces\n", "RtMidiPort::SendVerbatim",
                static_cast<unsigned>(count), static_cast<unsigned>(pieces.size()));
    const unsigned errorsBefore = connection->outputErrors.Count();
    uint64_t sent = 0;
    uint32_t pacedMs = 0;
    for (const MessagePiece& piece : pieces) {
        try {
            connection->output->sendMessage(data + piece.start, piece.end - piece.start);
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
    if (sent < count || connection->outputErrors.Count() != errorsBefore) {
        LogText("%s: Error sending (%s)\n", "RtMidiPort::SendVerbatim",
                connection->outputErrors.LastText().c_str());
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
    const int64_t start = GetTimeMs();
    while (true) {
        std::vector<uint8_t> reply = TakeSysEx();
        if (!reply.empty())
            return reply;
        if (GetTimeMs() - start >= static_cast<int64_t>(timeoutMs))
            break;
        SleepMs(kReplyPollMs);
    }
    LogText("%s: no reply\n", "RtMidiPort::Request");
    return {};
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
